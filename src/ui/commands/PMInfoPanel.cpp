#include "ui/commands/PMInfoPanel.h"

#include "library/model/PMMainController.h"
#include "platform/Responder.h"
#include "platform/FileManager.h"
#include "platform/Image.h"
#include "ui/commands/PMInfoTagEditorView.h"
#include "ui/commands/PMMetaReferenceTokenField.h"
#include "ui/kit/PMRatingView.h"
#include "ui/library_window/PMAutoCompleteTableView.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QMimeData>
#include <QtCore/QUrl>
#include <QtGui/QAction>
#include <QtGui/QClipboard>
#include <QtGui/QDragEnterEvent>
#include <QtGui/QGuiApplication>
#include <QtGui/QKeyEvent>
#include <QtGui/QPainter>
#include <QtWidgets/QCheckBox>
#include <QtWidgets/QComboBox>
#include <QtWidgets/QFormLayout>
#include <QtWidgets/QHBoxLayout>
#include <QtWidgets/QHeaderView>
#include <QtWidgets/QLabel>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QMenu>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QStackedWidget>
#include <QtWidgets/QTabBar>
#include <QtWidgets/QVBoxLayout>

#include <algorithm>

namespace {

// Pictures larger than this (in pixels) are refused: a pasted or dropped picture is held
// in memory until the panel is applied.
constexpr qint64 kMaximumPastedImagePixels = qint64(16384) * 16384;

} // namespace

// ---- Image wells

PMInfoImageWell::PMInfoImageWell(QWidget* parent) : PMDragSourceImageView(parent)
{
    setAcceptsImageDrops(true);
    setFocusPolicy(Qt::StrongFocus);
    setMinimumSize(150, 110);
}

bool PMInfoImageWell::takeImageFromMimeData(const QMimeData& data)
{
    const platform::ImagePtr before = image();
    if (concludeDragOperation(data) && image() != before)
        return true;
    if (data.hasImage()) {
        const QImage pixels = qvariant_cast<QImage>(data.imageData());
        if (pixels.isNull() || qint64(pixels.width()) * pixels.height() > kMaximumPastedImagePixels)
            return false;
        setImage(platform::Image::make(pixels));
        return true;
    }
    return false;
}

void PMInfoImageWell::paste()
{
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    if (data && takeImageFromMimeData(*data))
        Q_EMIT imageChangedByUser();
}

void PMInfoImageWell::clear()
{
    if (!image())
        return;
    setImage(nullptr);
    Q_EMIT imageChangedByUser();
}

void PMInfoImageWell::dragEnterEvent(QDragEnterEvent* event)
{
    PMDragSourceImageView::dragEnterEvent(event);
    if (!event->isAccepted() && event->mimeData()->hasImage()) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    }
}

void PMInfoImageWell::dropEvent(QDropEvent* event)
{
    // A picture dragged out of this very well stays where it is.
    if (event->source() == this) {
        event->ignore();
        return;
    }
    if (takeImageFromMimeData(*event->mimeData())) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
        Q_EMIT imageChangedByUser();
    } else {
        event->ignore();
    }
}

void PMInfoImageWell::keyPressEvent(QKeyEvent* event)
{
    if (event->matches(QKeySequence::Paste)) {
        paste();
        return;
    }
    if (event->matches(QKeySequence::Copy)) {
        if (image())
            copy();
        return;
    }
    if (event->matches(QKeySequence::Cut)) {
        if (image()) {
            copy();
            clear();
        }
        return;
    }
    if (event->key() == Qt::Key_Delete || event->key() == Qt::Key_Backspace) {
        clear();
        return;
    }
    PMDragSourceImageView::keyPressEvent(event);
}

void PMInfoImageWell::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    // The well's sunken frame; focus shows in the highlight colour.
    const QRectF frame = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(hasFocus() ? palette().color(QPalette::Highlight) : palette().color(QPalette::Mid), hasFocus() ? 2 : 1));
    painter.setBrush(palette().color(QPalette::Base));
    painter.drawRoundedRect(frame, 4, 4);
    const QRectF inner = QRectF(rect()).adjusted(6, 6, -6, -6);
    if (!image()) {
        painter.setPen(palette().color(QPalette::PlaceholderText));
        painter.drawText(inner, Qt::AlignCenter | Qt::TextWordWrap, tr("Drop or paste a picture"));
        return;
    }
    // The picture scaled down into the well inside its frame, centred.
    const QSizeF size = image()->size();
    if (size.isEmpty() || inner.isEmpty())
        return;
    const double scale = std::min({1.0, inner.width() / size.width(), inner.height() / size.height()});
    QRectF target(QPointF(), size * scale);
    target.moveCenter(inner.center());
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(target, image()->pixels());
    Q_UNUSED(event);
}

std::unique_ptr<QMenu> PMInfoImageWell::menuForEvent(QPoint position)
{
    std::unique_ptr<QMenu> menu = PMDragSourceImageView::menuForEvent(position);
    if (!menu)
        menu = std::make_unique<QMenu>(this);
    menu->addSeparator();
    QPointer<PMInfoImageWell> self = this;
    QAction* paste = menu->addAction(tr("Paste"), this, [self] {
        if (self)
            self->paste();
    });
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    paste->setEnabled(data && (data->hasImage() || data->hasUrls()));
    QAction* remove = menu->addAction(tr("Remove"), this, [self] {
        if (self)
            self->clear();
    });
    remove->setEnabled(bool(image()));
    return menu;
}

// ---- The panel

PMInfoPanel::PMInfoPanel(PMMainController& controller, QWidget* parent) : PMPropertyEditorPanel(parent, Qt::Dialog), m_controller(controller)
{
    setObjectName(QStringLiteral("Meta"));
    setModal(true);
    setSizeGripEnabled(true);
    auto* layout = new QVBoxLayout(this);

    // The chapter selector, centred in its own row.
    infoChapterSelectorContainer = new QWidget(this);
    auto* chapterRow = new QHBoxLayout(infoChapterSelectorContainer);
    chapterRow->setContentsMargins(0, 0, 0, 0);
    infoChapterSelector = new QTabBar(infoChapterSelectorContainer);
    infoChapterSelector->setDrawBase(false);
    infoChapterSelector->setExpanding(false);
    infoChapterSelector->setDocumentMode(true);
    infoChapterSelector->setUsesScrollButtons(false);
    infoChapterSelector->setElideMode(Qt::ElideNone);
    infoChapterSelector->addTab(tr("Tags"));
    infoChapterSelector->addTab(tr("Info"));
    chapterRow->addStretch();
    chapterRow->addWidget(infoChapterSelector);
    chapterRow->addStretch();
    layout->addWidget(infoChapterSelectorContainer);

    // The name, above every chapter of one movie.
    infoNameRow = new QWidget(this);
    auto* nameRow = new QHBoxLayout(infoNameRow);
    nameRow->setContentsMargins(0, 0, 0, 0);
    nameRow->addWidget(new QLabel(tr("Name:"), infoNameRow));
    infoNameField = new QLineEdit(infoNameRow);
    infoNameField->setObjectName(QStringLiteral("infoNameField"));
    nameRow->addWidget(infoNameField, 1);
    layout->addWidget(infoNameRow);

    chapterView = new QStackedWidget(this);
    chapterView->addWidget(buildTagsChapter());
    infoSingleMultipleTabView = new QStackedWidget(chapterView);
    infoSingleMultipleTabView->addWidget(buildSingleMovieTab());
    infoSingleMultipleTabView->addWidget(buildRenamingTab());
    chapterView->addWidget(infoSingleMultipleTabView);
    layout->addWidget(chapterView, 1);

    // Previous and next on the left, Cancel and OK on the right.
    auto* buttons = new QHBoxLayout;
    infoPreviousButton = new QPushButton(QIcon::fromTheme(QStringLiteral("go-previous")), QString(), this);
    infoPreviousButton->setToolTip(tr("Previous"));
    infoPreviousButton->setAutoDefault(false);
    infoNextButton = new QPushButton(QIcon::fromTheme(QStringLiteral("go-next")), QString(), this);
    infoNextButton->setToolTip(tr("Next"));
    infoNextButton->setAutoDefault(false);
    if (infoPreviousButton->icon().isNull())
        infoPreviousButton->setText(QStringLiteral("◀"));
    if (infoNextButton->icon().isNull())
        infoNextButton->setText(QStringLiteral("▶"));
    buttons->addWidget(infoPreviousButton);
    buttons->addWidget(infoNextButton);
    buttons->addStretch();
    cancelButton = new QPushButton(tr("Cancel"), this);
    cancelButton->setAutoDefault(false);
    okButton = new QPushButton(tr("OK"), this);
    okButton->setDefault(true);
    buttons->addWidget(cancelButton);
    buttons->addWidget(okButton);
    layout->addLayout(buttons);

    connect(okButton, &QPushButton::clicked, this, [this] { m_controller.infoOK(okButton); });
    connect(cancelButton, &QPushButton::clicked, this, [this] { m_controller.infoCancel(cancelButton); });
    connect(infoPreviousButton, &QPushButton::clicked, this, [this] { m_controller.infoStep(infoPreviousButton); });
    connect(infoNextButton, &QPushButton::clicked, this, [this] { m_controller.infoStep(infoNextButton); });
    connect(infoChapterSelector, &QTabBar::tabBarClicked, this, [this](int index) {
        if (index >= 0)
            m_controller.infoSelectChapter(index);
    });
    connect(infoNameField, &QLineEdit::textEdited, this, [this] { m_controller.controlTextDidChange(infoNameField); });
    // "Show in File Manager": the movie's file selected in its folder.
    connect(infoLocationField, &QLabel::linkActivated, this, [](const QString& link) {
        const QUrl url(link);
        if (url.isLocalFile())
            platform::revealInFileManager({url.toLocalFile()});
    });
    connect(infoCoverImageWell, &PMInfoImageWell::imageChangedByUser, this, [this] { m_controller.infoChangeImage(infoCoverImageWell); });
    connect(infoPreviewImageWell, &PMInfoImageWell::imageChangedByUser, this, [this] { m_controller.infoChangeImage(infoPreviewImageWell); });
    connect(infoApplicationSelector, qOverload<int>(&QComboBox::activated), this, [this] { m_controller.infoChangeApplication(infoApplicationSelector); });
    connect(infoRatingSelector, &PMRatingView::ratingDidChange, this, [this] { m_controller._infoRatingTouched = true; });
    connect(infoRatingSelector, &PMRatingView::ratingDidEndChange, this, [this] { m_controller._infoRatingTouched = true; });
    connect(infoRatingSwitch, &QCheckBox::clicked, this, [this] { m_controller._infoRatingTouched = true; });

    // While the panel is open the main menu is out of reach: its info commands work here
    // too (the same command again switches between information and renaming).
    for (const auto& [keys, tag] : {std::pair{QKeySequence(Qt::CTRL | Qt::Key_I), 1}, std::pair{QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_I), 11}}) {
        auto* command = new QAction(this);
        command->setShortcut(keys);
        platform::setMenuItemTag(command, tag);
        connect(command, &QAction::triggered, this, [this, command] { m_controller.showMovieInfo(command); });
        addAction(command);
    }

    resize(560, 520);
}

QWidget* PMInfoPanel::buildTagsChapter()
{
    auto* page = new QWidget(this);
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);

    auto* ratingRow = new QHBoxLayout;
    infoRatingSwitch = new PMOnStateViaActionSwitch(page);
    infoRatingSwitch->setText(tr("Rating:"));
    infoRatingSwitch->setToolTip(tr("On: every movie gets this rating. Off: every movie keeps its own."));
    infoRatingSelector = new PMRatingView(page);
    infoRatingSelector->setOnStateSwitch(infoRatingSwitch);
    // The label stands in for the switch while the switch is hidden.
    auto* ratingLabel = new QLabel(tr("Rating:"), page);
    ratingLabel->setObjectName(QStringLiteral("infoRatingLabel"));
    ratingRow->addWidget(ratingLabel);
    ratingRow->addWidget(infoRatingSwitch);
    ratingRow->addWidget(infoRatingSelector);
    ratingRow->addStretch();
    layout->addLayout(ratingRow);

    infoTagEditor = new PMInfoTagEditorView(page);
    layout->addWidget(infoTagEditor, 1);
    return page;
}

QWidget* PMInfoPanel::buildSingleMovieTab()
{
    auto* page = new QWidget(this);
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* form = new QFormLayout;
    infoLocationField = new QLabel(page);
    infoLocationField->setObjectName(QStringLiteral("infoLocationField"));
    infoLocationField->setTextFormat(Qt::RichText);
    infoLocationField->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    form->addRow(tr("Location:"), infoLocationField);
    infoSizeField = new QLabel(page);
    infoSizeField->setObjectName(QStringLiteral("infoSizeField"));
    infoSizeField->setWordWrap(true);
    infoSizeField->setTextInteractionFlags(Qt::TextSelectableByMouse);
    form->addRow(tr("Size:"), infoSizeField);
    infoApplicationSelector = new QComboBox(page);
    infoApplicationSelector->setObjectName(QStringLiteral("infoApplicationSelector"));
    infoApplicationSelector->addItem(tr("Default Application"));
    form->addRow(tr("Open with:"), infoApplicationSelector);
    layout->addLayout(form);

    auto* wells = new QHBoxLayout;
    const auto wellColumn = [&](const QString& title, PMInfoImageWell*& well, const char* name) {
        auto* column = new QVBoxLayout;
        auto* label = new QLabel(title, page);
        label->setAlignment(Qt::AlignCenter);
        well = new PMInfoImageWell(page);
        well->setObjectName(QString::fromLatin1(name));
        column->addWidget(label);
        column->addWidget(well, 1);
        wells->addLayout(column, 1);
    };
    wellColumn(tr("Cover"), infoCoverImageWell, "infoCoverImageWell");
    wellColumn(tr("Preview"), infoPreviewImageWell, "infoPreviewImageWell");
    layout->addLayout(wells, 1);
    return page;
}

QWidget* PMInfoPanel::buildRenamingTab()
{
    auto* page = new QWidget(this);
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    infoMultipleItemsSizeField = new QLabel(page);
    infoMultipleItemsSizeField->setObjectName(QStringLiteral("infoMultipleItemsSizeField"));
    layout->addWidget(infoMultipleItemsSizeField);

    auto* top = new QHBoxLayout;
    infoBatchRenameSwitch = new QCheckBox(tr("Batch rename:"), page);
    infoBatchRenameActionSelector = new QComboBox(page);
    // The item's data is its tag, which is also the index of its options.
    const std::pair<const char*, int> actions[] = {{"Find and Replace", 1}, {"Add Prefix and Suffix", 2}, {"Number Sequentially", 0},
                                                   {"Compose", 6},          {"Uppercase", 3},             {"Lowercase", 4},
                                                   {"Capitalize", 5}};
    for (const auto& [title, tag] : actions)
        infoBatchRenameActionSelector->addItem(tr(title), tag);
    top->addWidget(infoBatchRenameSwitch);
    top->addWidget(infoBatchRenameActionSelector, 1);
    layout->addLayout(top);

    infoBatchRenameOptionsTabView = new QStackedWidget(page);
    const auto lineEdit = [page](const char* placeholder) {
        auto* field = new QLineEdit(page);
        field->setPlaceholderText(tr(placeholder));
        return field;
    };
    // A field whose text may hold meta references: the "+" at its right edge (and Ctrl++)
    // inserts them, a paste or drop keeps them whole.
    const auto tokenField = [page](const char* placeholder) {
        auto* field = new PMMetaReferenceTokenField(page);
        field->setPlaceholderText(tr(placeholder));
        return field;
    };
    // 0: numbering.
    {
        auto* options = new QWidget(page);
        auto* form = new QFormLayout(options);
        form->setContentsMargins(0, 0, 0, 0);
        infoBatchRenameNPrefixField = tokenField("Prefix");
        infoBatchRenameNSuffixField = tokenField("Suffix");
        infoBatchRenameNIdentifierField = tokenField("");
        infoBatchRenameNStartSelector = new QComboBox(options);
        for (int i = 0; i <= 10; ++i)
            infoBatchRenameNStartSelector->addItem(QString::number(i));
        infoBatchRenameNStartSelector->setCurrentIndex(1);
        infoBatchRenameNIncrementSelector = new QComboBox(options);
        for (int i = 1; i <= 10; ++i)
            infoBatchRenameNIncrementSelector->addItem(QString::number(i));
        infoBatchRenameNDigitsSelector = new QComboBox(options);
        infoBatchRenameNDigitsSelector->addItem(tr("Automatic"));
        for (int i = 1; i <= 6; ++i)
            infoBatchRenameNDigitsSelector->addItem(QString::number(i));
        form->addRow(tr("Prefix:"), infoBatchRenameNPrefixField);
        form->addRow(tr("Suffix:"), infoBatchRenameNSuffixField);
        form->addRow(tr("Group by:"), infoBatchRenameNIdentifierField);
        auto* numbers = new QHBoxLayout;
        numbers->addWidget(new QLabel(tr("Start:"), options));
        numbers->addWidget(infoBatchRenameNStartSelector);
        numbers->addWidget(new QLabel(tr("Step:"), options));
        numbers->addWidget(infoBatchRenameNIncrementSelector);
        numbers->addWidget(new QLabel(tr("Digits:"), options));
        numbers->addWidget(infoBatchRenameNDigitsSelector);
        numbers->addStretch();
        form->addRow(numbers);
        infoBatchRenameOptionsTabView->addWidget(options);
    }
    // 1: find and replace.
    {
        auto* options = new QWidget(page);
        auto* form = new QFormLayout(options);
        form->setContentsMargins(0, 0, 0, 0);
        infoBatchRenameFFindField = lineEdit("Find");
        infoBatchRenameFReplaceField = tokenField("Replace with");
        infoBatchRenameFIgnoreCaseSwitch = new QCheckBox(tr("Ignore case"), options);
        infoBatchRenameFRegExSwitch = new QCheckBox(tr("Regular expression"), options);
        form->addRow(tr("Find:"), infoBatchRenameFFindField);
        form->addRow(tr("Replace:"), infoBatchRenameFReplaceField);
        auto* switches = new QHBoxLayout;
        switches->addWidget(infoBatchRenameFIgnoreCaseSwitch);
        switches->addWidget(infoBatchRenameFRegExSwitch);
        switches->addStretch();
        form->addRow(switches);
        infoBatchRenameOptionsTabView->addWidget(options);
    }
    // 2: prefix and suffix.
    {
        auto* options = new QWidget(page);
        auto* form = new QFormLayout(options);
        form->setContentsMargins(0, 0, 0, 0);
        infoBatchRenameAPrefixField = tokenField("Prefix");
        infoBatchRenameASuffixField = tokenField("Suffix");
        form->addRow(tr("Prefix:"), infoBatchRenameAPrefixField);
        form->addRow(tr("Suffix:"), infoBatchRenameASuffixField);
        infoBatchRenameOptionsTabView->addWidget(options);
    }
    // 3 to 5: letter case, nothing to set.
    for (int i = 3; i <= 5; ++i)
        infoBatchRenameOptionsTabView->addWidget(new QWidget(page));
    // 6: compose.
    {
        auto* options = new QWidget(page);
        auto* form = new QFormLayout(options);
        form->setContentsMargins(0, 0, 0, 0);
        infoBatchRenameCComposeField = tokenField("<?meta:Title?>");
        form->addRow(tr("Name:"), infoBatchRenameCComposeField);
        infoBatchRenameOptionsTabView->addWidget(options);
    }
    layout->addWidget(infoBatchRenameOptionsTabView);

    infoBatchRenameList = new PMAutoCompleteTableView(page);
    infoBatchRenameList->setObjectName(QStringLiteral("infoBatchRenameList"));
    infoBatchRenameList->setTableColumns({PMTableColumn::make(QStringLiteral("Old"), tr("Old"), PMTableColumn::Cell::Text, 240, false),
                                          PMTableColumn::make(QStringLiteral("New"), tr("New"), PMTableColumn::Cell::Text, 240, false)});
    // "Old" and "New" share the width equally, whatever the panel's size.
    infoBatchRenameList->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    layout->addWidget(infoBatchRenameList, 1);
    infoBatchRenameStatusField = new QLabel(page);
    infoBatchRenameStatusField->setObjectName(QStringLiteral("infoBatchRenameStatusField"));
    layout->addWidget(infoBatchRenameStatusField);

    // Any change of a batch-rename control is read at once; typing turns renaming on.
    const auto changed = [this](bool turnOn) {
        if (turnOn && infoBatchRenameSwitch->isEnabled())
            infoBatchRenameSwitch->setChecked(true);
        m_controller.readInfoBatchRenameFields();
    };
    connect(infoBatchRenameFFindField, &QLineEdit::textEdited, this, [changed] { changed(true); });
    for (PMMetaReferenceTokenField* field : {infoBatchRenameAPrefixField, infoBatchRenameASuffixField, infoBatchRenameFReplaceField,
                                             infoBatchRenameNIdentifierField, infoBatchRenameNPrefixField, infoBatchRenameNSuffixField,
                                             infoBatchRenameCComposeField}) {
        connect(field, &QLineEdit::textEdited, this, [changed] { changed(true); });
        // A reference put in from the menu is typing too.
        connect(field, &PMMetaReferenceTokenField::controlTextDidChange, this, [changed] { changed(true); });
    }
    for (QCheckBox* box : {infoBatchRenameFIgnoreCaseSwitch, infoBatchRenameFRegExSwitch})
        connect(box, &QCheckBox::clicked, this, [changed] { changed(true); });
    for (QComboBox* box : {infoBatchRenameNDigitsSelector, infoBatchRenameNIncrementSelector, infoBatchRenameNStartSelector})
        connect(box, qOverload<int>(&QComboBox::activated), this, [changed] { changed(true); });
    connect(infoBatchRenameSwitch, &QCheckBox::clicked, this, [changed] { changed(false); });
    connect(infoBatchRenameActionSelector, qOverload<int>(&QComboBox::activated), this,
            [this] { m_controller.infoChangeBatchRenameAction(infoBatchRenameActionSelector); });
    return page;
}

void PMInfoPanel::reject()
{
    m_controller.infoCancel(cancelButton);
}

void PMInfoPanel::accept()
{
    m_controller.infoOK(okButton);
}

