#include "ui/images/PMIndexImageView.h"

#include "foundation/NSDictionary+PMExtensions.h"
#include "foundation/NSString+PMHelpManagerFileNames.h"
#include "foundation/PMFunctions.h"
#include "foundation/PMLog.h"
#include "images/NSImage+PMImageFiles.h"
#include "images/PMIndexImage.h"
#include "library/model/PMLibraryContainer.h"
#include "library/model/PMMainController.h"
#include "library/model/PMMovieRepresentation.h"
#include "platform/Alert.h"
#include "platform/InterfaceFiles.h"
#include "platform/SaveFile.h"
#include "platform/SavePanel.h"
#include "platform/UserDefaults.h"
#include "images/NSImage+PMBlurredImages.h"
#include "ui/kit/NSString+PMHelpManagerDrawing.h"
#include "ui/kit/NSWindow+PMExtensions.h"
#include "ui/library_window/PMInterfaceRefresh.h"

#include <QtCore/QDir>
#include <QtCore/QEvent>
#include <QtCore/QFileInfo>
#include <QtCore/QMimeData>
#include <QtCore/QPointer>
#include <QtCore/QRegularExpression>
#include <QtGui/QClipboard>
#include <QtGui/QGuiApplication>
#include <QtGui/QPainter>
#include <QtGui/QPainterPath>
#include <QtGui/QRegularExpressionValidator>
#include <QtGui/QScreen>
#include <QtWidgets/QApplication>
#include <QtWidgets/QCheckBox>
#include <QtWidgets/QColorDialog>
#include <QtWidgets/QHBoxLayout>
#include <QtWidgets/QLabel>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QMenu>
#include <QtWidgets/QStyle>
#include <QtWidgets/QVBoxLayout>

#include <cmath>

using platform::Dictionary;
using platform::DictionaryPtr;
using platform::ImagePtr;
using platform::Value;
using namespace PMIndexImageSettingsKeys;

namespace {

QString localized(const char* text)
{
    return PMImageViewLocalized(text);
}

platform::UserDefaults& defaults()
{
    return platform::UserDefaults::standard();
}

// The frame's time for file names: with milliseconds, colons as apostrophes ("0'05.161").
QString fileNameTime(const PMIndexImageWrapper& frame)
{
    return frame.timestampDescriptionIncludingMilliseconds(true).replace(u':', u'\'');
}

QColor storedBorderColor(const DictionaryPtr& settings)
{
    const Value value = settings->value(borderColor);
    if (value.isString()) {
        const QColor colour = QColor::fromString(value.string());
        if (colour.isValid())
            return colour;
    }
    return QColor(Qt::white);
}

// The time badges of the sheet: the kit's badge over a blurred copy of the frame.
void installTimestampBadge()
{
    static bool installed = false;
    if (installed)
        return;
    installed = true;
    PMIndexImageTimestampBadgeDrawer() = [](QPainter& painter, const QString& text, const QRectF& cell, const ImagePtr& frameImage) {
        ImagePtr blurred;
        if (frameImage)
            blurred = blurredImageWithSize(frameImage, cell.size(), true, nullptr);
        const QImage* background = blurred ? &blurred->pixels() : nullptr;
        drawAsBadgeInRect(painter, text, cell, PMUsesLargeContentFont, std::nullopt, PMBadgeBackground(), background, 0, 0, 0, 8, 8, -1, -1, false, true);
    };
}

} // namespace

// ---- Colour well

PMColorWell::PMColorWell(QWidget* parent) : QPushButton(parent)
{
    setFixedSize(44, 24);
    setToolTip(localized("Border Color"));
    connect(this, &QPushButton::clicked, this, [this] {
        auto* dialog = new QColorDialog(m_color, window());
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        dialog->setOption(QColorDialog::ShowAlphaChannel, false);
        connect(dialog, &QColorDialog::colorSelected, this, [this](const QColor& colour) {
            setColor(colour);
            Q_EMIT colorChosen();
        });
        dialog->open();
    });
}

void PMColorWell::setColor(const QColor& color)
{
    m_color = color.isValid() ? color : QColor(Qt::white);
    QWidget::update();
}

void PMColorWell::paintEvent(QPaintEvent* event)
{
    QPushButton::paintEvent(event);
    QPainter painter(this);
    const QRect swatch = rect().adjusted(7, 6, -7, -6);
    painter.fillRect(swatch, m_color);
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawRect(swatch.adjusted(0, 0, -1, -1));
}

// ---- Pure rules

long long PMIndexImageValidatedFieldValue(long long typed, long long lowerBound)
{
    long long value = typed;
    if (lowerBound < 0 && typed == 0)
        value = 1;
    if (value > 1000)
        value = 1000;
    if (value < lowerBound)
        value = lowerBound;
    return value;
}

QRect PMIndexImageWindowFrame(QSize chrome, QSizeF imageSize, const QRect& screenArea, int minimumContentWidth)
{
    double imageWidth = imageSize.width(), imageHeight = imageSize.height();
    double width = chrome.width() + imageWidth;
    if (width > screenArea.width() && imageWidth > 0) {
        const double available = screenArea.width() - chrome.width();
        imageHeight = std::ceil(imageHeight * available / imageWidth);
        imageWidth = available;
        width = screenArea.width();
    }
    double height = chrome.height() + imageHeight;
    if (height > screenArea.height() && imageHeight > 0) {
        // The whole picture is scaled, so the width shrinks by the same ratio (the frame
        // around it keeps its size).
        const double available = screenArea.height() - chrome.height();
        imageWidth = std::ceil(imageWidth * available / imageHeight);
        height = screenArea.height();
        width = chrome.width() + imageWidth;
    }
    width = std::max(width, double(minimumContentWidth));
    height = std::max(height, 100.0);
    const int w = int(std::ceil(width)), h = int(std::ceil(height));
    const int x = screenArea.x() + int(std::floor((screenArea.width() - w) * 0.5));
    // Centred when it nearly fills the height, else in the upper part of the screen.
    const int freeHeight = screenArea.height() - h;
    const double fromTop = freeHeight < 10 ? 0.5 : 0.25;
    const int y = screenArea.y() + int(std::floor(freeHeight * fromTop));
    return QRect(x, y, w, h);
}

// ---- The view

PMIndexImageView::PMIndexImageView(QWidget* parent) : PMDragSourceImageView(parent)
{
    load();
    installTimestampBadge();
    m_updateTimer.setSingleShot(true);
    m_updateTimer.setInterval(1000);
    connect(&m_updateTimer, &QTimer::timeout, this, [this] { update(nullptr); });
    setMinimumSize(120, 100);
    setAttribute(Qt::WA_OpaquePaintEvent, false);
}

PMIndexImageView::~PMIndexImageView()
{
    if (_movieRepresentation)
        setIndexImageSettings(*_movieRepresentation, nullptr);
}

void PMIndexImageView::load()
{
    static bool registered = false;
    if (registered)
        return;
    registered = true;
    DictionaryPtr registration = Dictionary::make();
    registration->setValue(JPEGCompressionUserDefaultsKey(QStringLiteral("PMIndexImageView")), Value(0.95));
    defaults().registerDefaults(registration);
}

QWidget* PMIndexImageView::buildWindow(QObject* owner)
{
    auto* window = new QWidget(nullptr, Qt::Window);
    window->setObjectName(QStringLiteral("IndexImage"));
    window->setWindowTitle(localized("Index Image"));
    auto* view = new PMIndexImageView(window);
    view->setObjectName(QStringLiteral("indexImageView"));

    const auto field = [window](const QString& tip, const QString& name) {
        auto* edit = new QLineEdit(window);
        edit->setObjectName(name);
        edit->setToolTip(tip);
        edit->setAlignment(Qt::AlignRight);
        edit->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("-?[0-9]{0,6}")), edit));
        edit->setFixedWidth(edit->fontMetrics().horizontalAdvance(QStringLiteral("-00000")) + 14);
        return edit;
    };
    view->_numberOfFramesField = field(localized("Number of frames (1 to 1000)"), QStringLiteral("numberOfFramesField"));
    view->_numberOfColumnsField =
        field(localized("Most columns (1 to 1000); negative: automatic, aiming at the width-to-height ratio of the value ÷ 100"),
              QStringLiteral("numberOfColumnsField"));
    view->_singleImageWidthField = field(localized("Width of one frame in points (70 to 1000)"), QStringLiteral("singleImageWidthField"));
    view->_spacingField = field(localized("Space between frames in points"), QStringLiteral("spacingField"));
    view->_borderField = field(localized("Border around each frame in points"), QStringLiteral("borderField"));
    view->_borderColorWell = new PMColorWell(window);
    view->_dropShadowSwitch = new QCheckBox(localized("Shadows"), window);
    view->_timestampSwitch = new QCheckBox(localized("Times"), window);
    view->_saveButton = new QPushButton(localized("Save..."), window);
    view->_saveButton->setAutoDefault(false);

    auto* controls = new QHBoxLayout;
    controls->setSpacing(6);
    const auto labelled = [&](const QString& title, QWidget* control) {
        auto* label = new QLabel(title, window);
        label->setBuddy(control);
        controls->addWidget(label);
        controls->addWidget(control);
        controls->addSpacing(6);
    };
    labelled(localized("Frames:"), view->_numberOfFramesField);
    labelled(localized("Columns:"), view->_numberOfColumnsField);
    labelled(localized("Width:"), view->_singleImageWidthField);
    labelled(localized("Spacing:"), view->_spacingField);
    labelled(localized("Border:"), view->_borderField);
    controls->addWidget(view->_borderColorWell);
    controls->addSpacing(6);
    controls->addWidget(view->_dropShadowSwitch);
    controls->addWidget(view->_timestampSwitch);
    controls->addStretch(1);
    controls->addWidget(view->_saveButton);

    auto* layout = new QVBoxLayout(window);
    layout->setContentsMargins(10, 10, 10, 10);
    layout->setSpacing(8);
    layout->addLayout(controls);
    layout->addWidget(view, 1);

    for (QLineEdit* edit : {view->_numberOfFramesField, view->_numberOfColumnsField, view->_singleImageWidthField, view->_spacingField,
                            view->_borderField})
        connect(edit, &QLineEdit::textEdited, view, [view, edit] { view->controlTextDidChange(edit); });
    connect(view->_borderColorWell, &PMColorWell::colorChosen, view, [view] { view->changeSetting(view->_borderColorWell); });
    connect(view->_dropShadowSwitch, &QCheckBox::clicked, view, [view] { view->changeSetting(view->_dropShadowSwitch); });
    connect(view->_timestampSwitch, &QCheckBox::clicked, view, [view] { view->changeSetting(view->_timestampSwitch); });
    connect(view->_saveButton, &QPushButton::clicked, view, [view] { view->save(view->_saveButton); });

    // The view hears of the window closing.
    struct CloseWatcher : QObject {
        PMIndexImageView* view;
        CloseWatcher(QObject* parent, PMIndexImageView* v) : QObject(parent), view(v) {}
        bool eventFilter(QObject* watched, QEvent* event) override
        {
            if (event->type() == QEvent::Close)
                view->windowWillClose();
            return QObject::eventFilter(watched, event);
        }
    };
    window->installEventFilter(new CloseWatcher(window, view));

    view->awakeFromNib();
    window->resize(900, 600);
    if (auto* controller = qobject_cast<PMMainController*>(owner))
        controller->indexImageWell = view;
    return window;
}

void PMIndexImageView::awakeFromNib()
{
    const DictionaryPtr settings = indexImageSettings();
    const auto show = [&](QLineEdit* edit, const QString& key) {
        if (edit)
            edit->setText(QString::number(integerValueOfObjectForKey(settings, key)));
    };
    show(_numberOfFramesField, numberOfImages);
    show(_numberOfColumnsField, maximumNumberOfColumns);
    show(_singleImageWidthField, singleImageWidth);
    show(_spacingField, spacing);
    show(_borderField, border);
    if (_borderColorWell)
        _borderColorWell->setColor(storedBorderColor(settings));
    if (_dropShadowSwitch)
        _dropShadowSwitch->setChecked(boolValueOfObjectForKey(settings, dropShadows));
    if (_timestampSwitch)
        _timestampSwitch->setChecked(boolValueOfObjectForKey(settings, timestamps));
    setImage(nullptr);
}

PMMovieRepresentationPrototype* PMIndexImageView::movieRepresentation() const
{
    return _movieRepresentation.get();
}

QString PMIndexImageView::displayName() const
{
    return _movieRepresentation ? _movieRepresentation->displayNameWithExtension(false) : QString();
}

void PMIndexImageView::setImage(ImagePtr image)
{
    if (_saveButton) {
        _saveButton->setProperty("tag", 0);
        _saveButton->setText(localized("Save..."));
        _saveButton->setEnabled(bool(image));
    }
    fitWindowToImage(image);
    PMDragSourceImageView::setImage(std::move(image));
}

void PMIndexImageView::fitWindowToImage(const ImagePtr& image)
{
    QWidget* w = window();
    if (!w || w == this || (!image && w->isVisible()))
        return;
    const QSize frame = w->isVisible() ? w->frameGeometry().size() : w->size();
    const QSize chrome = frame - size();
    const QSizeF wanted = image ? image->size() : QSizeF(size());
    const QRect area = visibleFrameWithExtraDockSpacing(screenForWindow(w));
    const int minimumWidth = w->layout() ? w->layout()->minimumSize().width() + (frame.width() - w->width()) : 0;
    const QRect target = PMIndexImageWindowFrame(chrome, wanted, area, minimumWidth);
    // The frame's own margins (title bar, border) are outside the client geometry.
    const QMargins margins(w->geometry().left() - w->frameGeometry().left(), w->geometry().top() - w->frameGeometry().top(),
                           w->frameGeometry().right() - w->geometry().right(), w->frameGeometry().bottom() - w->geometry().bottom());
    const QRect client = target.marginsRemoved(w->isVisible() ? margins : QMargins());
    if (!w->isVisible()) {
        if (w->geometry() != client)
            w->setGeometry(client);
        return;
    }
    if (client.size() != w->size()) {
        _disableDrawing = true;
        w->setGeometry(client);
        _disableDrawing = false;
    }
}

void PMIndexImageView::setMovieRepresentation(PMMovieRepresentationPrototype* record)
{
    const Value shown = _movieRepresentation ? _movieRepresentation->nonProxySelf() : Value();
    const Value given = record ? record->nonProxySelf() : Value();
    if (shown.object() != given.object()) {
        if (_movieRepresentation)
            setIndexImageSettings(*_movieRepresentation, nullptr);
        _movieRepresentation = record ? std::shared_ptr<PMMovieRepresentationPrototype>(record->original().proxy()) : nullptr;
        PMDragSourceImageView::setImage(nullptr);
    }
    update(nullptr);
}

void PMIndexImageView::update(QObject*)
{
    m_updateTimer.stop();
    ++m_updateCount;
    const quint64 serial = ++m_rebuildSerial;
    std::shared_ptr<PMMovieRepresentationPrototype> record = _movieRepresentation;
    const DictionaryPtr settings = indexImageSettings();
    if (!record || record->canPlay()) {
        if (_numberOfFramesField && !_numberOfFramesField->isEnabled()) {
            _numberOfFramesField->setText(QString::number(integerValueOfObjectForKey(settings, numberOfImages)));
            _numberOfFramesField->setEnabled(true);
        }
        if (!record) {
            setImage(nullptr);
            return;
        }
        // A record that holds its frames composes in the background, so that typing stays
        // smooth; the shown sheet stays until the new one is there, and a later rebuild
        // makes this one's answer void.
        const PMIndexImageWorkingSettingsPtr working = ::indexImageSettings(*record);
        const long long n = std::max<long long>(integerValueOfObjectForKey(settings, numberOfImages), 1);
        QPointer<PMIndexImageView> self = this;
        if (working && working->wrappers && !working->currentIndex && qsizetype(working->wrappers->size()) == n) {
            compositeIndexImageInBackground(*record, settings, [self, serial](ImagePtr sheet) {
                if (self && self->m_rebuildSerial == serial && sheet)
                    self->setImage(sheet);
            });
            return;
        }
        QString error;
        ImagePtr result = compositeIndexImageForMovieRepresentation(
            *record, settings, [self](long long, long long) {
                if (self)
                    self->QWidget::update();
            },
            [self, record](ImagePtr sheet) {
                // The end of a grab: its sheet is shown unless another record is shown now.
                if (self && self->_movieRepresentation == record && sheet)
                    self->setImage(sheet);
                else if (self && self->_movieRepresentation == record)
                    self->QWidget::update();
            },
            &error);
        if (!error.isEmpty())
            PMLog("cannot compose index image: %@", error);
        setImage(result);
        return;
    }
    // A movie that cannot play shows its saved hover frames, as many as there are.
    QPointer<QLineEdit> framesField = _numberOfFramesField;
    ImagePtr result = compositeIndexImageForMovieRepresentation(*record, settings, [framesField](long long, long long total) {
        if (framesField) {
            framesField->setEnabled(false);
            framesField->setText(QString::number(total));
        }
    }, {});
    setImage(result);
}

void PMIndexImageView::scheduleUpdate()
{
    if (_saveButton) {
        _saveButton->setProperty("tag", 1);
        _saveButton->setText(localized("Update"));
        _saveButton->setEnabled(true);
    }
    // A rebuild on its way is void from now on; the new one waits for a quiet second.
    ++m_rebuildSerial;
    m_updateTimer.start();
}

void PMIndexImageView::absorbSettings(const DictionaryPtr& settings, unsigned priority)
{
    defaults().setObject(Value(std::make_shared<Dictionary>(*settings)), defaultsKey);
    PMMovieRepresentationPrototype* record = _movieRepresentation.get();
    if (!record) {
        if (priority == 0)
            update(nullptr);
        else
            scheduleUpdate();
        return;
    }
    if (currentIndexImageGenerationIndex(*record) != kPMNotFound) {
        // Frames are being grabbed: the layout applies when they are composed.
        if (priority < 2)
            return;
        stopIndexImageGeneration(*record);
        QWidget::update();
        scheduleUpdate();
        return;
    }
    if (priority == 0)
        update(nullptr);
    else
        scheduleUpdate();
}

void PMIndexImageView::changeSetting(QObject* sender)
{
    const DictionaryPtr settings = indexImageSettings();
    if (sender && sender == _borderColorWell) {
        const QColor colour = _borderColorWell->color();
        settings->setValue(borderColor, Value(colour.name(colour.alpha() < 255 ? QColor::HexArgb : QColor::HexRgb)));
    } else if (sender && sender == _dropShadowSwitch) {
        settings->setValue(dropShadows, Value(_dropShadowSwitch->isChecked()));
    } else if (sender && sender == _timestampSwitch) {
        settings->setValue(timestamps, Value(_timestampSwitch->isChecked()));
    } else {
        PMLog("unknown sender: %@", sender ? sender->objectName() : QStringLiteral("(none)"));
        platform::beep();
        return;
    }
    absorbSettings(settings, 0);
}

void PMIndexImageView::controlTextDidChange(QLineEdit* field)
{
    QString key;
    long long lowerBound = 0;
    unsigned priority = 1;
    if (field && field == _numberOfFramesField) {
        key = numberOfImages;
        lowerBound = 1;
        priority = 2;
    } else if (field && field == _numberOfColumnsField) {
        key = maximumNumberOfColumns;
        lowerBound = -10000;
    } else if (field && field == _singleImageWidthField) {
        key = singleImageWidth;
        lowerBound = 70;
    } else if (field && field == _spacingField) {
        key = spacing;
    } else if (field && field == _borderField) {
        key = border;
    } else {
        PMLog("unknown text field: %@", field ? field->objectName() : QStringLiteral("(none)"));
        platform::beep();
        return;
    }
    // A field's integer value: its leading number (nothing typed yet counts as 0).
    const QString text = field->text();
    static const QRegularExpression leading(QStringLiteral("^\\s*(-?\\d+)"));
    const QRegularExpressionMatch match = leading.match(text);
    bool ok = false;
    long long typed = match.hasMatch() ? match.captured(1).toLongLong(&ok) : 0;
    if (!ok)
        typed = 0;
    const long long value = PMIndexImageValidatedFieldValue(typed, lowerBound);
    const DictionaryPtr settings = indexImageSettings();
    if (value != integerValueOfObjectForKey(settings, key)) {
        settings->setValue(key, Value(value));
        absorbSettings(settings, priority);
    }
    if (value != typed) {
        // Shown a second later, unless the user has typed on meanwhile.
        const QString typedText = text;
        QPointer<QLineEdit> edit = field;
        QTimer::singleShot(1000, field, [edit, typedText, value] {
            if (edit && edit->text() == typedText)
                edit->setText(QString::number(value));
        });
    }
}

double PMIndexImageView::JPEGCompressionFactorForImage(const ImagePtr& image) const
{
    if (image && image == this->image() && integerValueOfObjectForKey(indexImageSettings(), spacing) > 0)
        return -1.0;
    return PMDragSourceImageView::JPEGCompressionFactorForImage(image);
}

void PMIndexImageView::save(QObject* sender)
{
    saveWithModifiers(sender, QGuiApplication::queryKeyboardModifiers());
}

void PMIndexImageView::saveWithModifiers(QObject* sender, Qt::KeyboardModifiers modifiers)
{
    if (sender && sender->property("tag").toInt() == 1) {
        update(nullptr);
        return;
    }
    if (modifiers & Qt::AltModifier) {
        PMIndexImageWrappers frames;
        for (const PMIndexImageWrapperPtr& frame : indexImageWrappers(image()))
            if (frame->image())
                frames.push_back(frame);
        if (!frames.empty()) {
            saveFrames(frames);
            return;
        }
    }
    // The sheet is brought up to date with the settings first.
    if (_movieRepresentation) {
        const PMIndexImageWorkingSettingsPtr working = ::indexImageSettings(*_movieRepresentation);
        const DictionaryPtr settings = indexImageSettings();
        bool differs = !working;
        for (auto it = settings->begin(); !differs && it != settings->end(); ++it)
            if (!it.key().startsWith(u'_') && !(working->settings->value(it.key()) == it.value()))
                differs = true;
        if (differs) {
            m_updateTimer.stop();
            ++m_rebuildSerial;
            if (ImagePtr sheet = compositeIndexImageForMovieRepresentation(*_movieRepresentation, settings, {}, {}))
                setImage(sheet);
        }
    }
    PMDragSourceImageView::save(sender);
}

void PMIndexImageView::saveFrames(const PMIndexImageWrappers& frames)
{
    platform::SavePanel panel;
    panel.title = localized("Save Files");
    panel.proposedName = cleanFilename(localized("%1 (Index Images)").arg(displayName()));
    panel.window = window();
    const double factor = PMDragSourceImageView::JPEGCompressionFactorForImage(nullptr);
    QPointer<PMIndexImageView> self = this;
    platform::beginSavePanelSheet(panel, [self, frames, factor](const QString& chosen) {
        if (chosen.isEmpty())
            return;
        // Nothing that is there is removed: an existing name gets a free one beside it.
        const QString folder = QFileInfo::exists(chosen) ? availablePath(chosen) : chosen;
        if (folder.isEmpty() || !QDir().mkpath(folder)) {
            PMLog("cannot free up <%@>", chosen);
            platform::Alert alert;
            alert.messageText = localized("The frames could not be saved.");
            alert.informativeText = localized("The folder “%1” could not be made.").arg(QDir::toNativeSeparators(folder.isEmpty() ? chosen : folder));
            alert.window = self ? self->window() : nullptr;
            platform::runAlert(alert);
            return;
        }
        QStringList failures;
        unsigned long number = 0;
        for (const PMIndexImageWrapperPtr& frame : frames) {
            ++number;
            const QString name = frame->timestamp() >= 0 ? QStringLiteral("%1 — %2").arg(number).arg(fileNameTime(*frame)) : QString::number(number);
            const QString path = QDir(folder).filePath(cleanFilename(name) + (factor < 0 ? QStringLiteral(".png") : QStringLiteral(".jpg")));
            const QByteArray bytes = factor < 0 ? PNGRepresentation(frame->image()) : JPEGRepresentationWithCompressionFactor(frame->image(), factor);
            const QString failure = bytes.isEmpty() ? localized("The picture could not be encoded.") : platform::saveFile(path, bytes);
            if (!failure.isEmpty()) {
                PMLog("cannot save index image frame to <%@>: %@", path, failure);
                failures.append(failure);
            }
        }
        if (!failures.isEmpty()) {
            platform::Alert alert;
            alert.messageText = localized("Some frames could not be saved.");
            alert.informativeText = failures.constFirst();
            alert.accessoryText = failures.join(u'\n');
            alert.window = self ? self->window() : nullptr;
            platform::runAlert(alert);
        }
    });
}

// ---- Frames

PMIndexImageWrapperPtr PMIndexImageView::wrapperAtPoint(QPoint position, int* getPosition, QRectF* getCell) const
{
    const ImagePtr sheet = image();
    if (!sheet)
        return nullptr;
    const PMIndexImageWrappers frames = indexImageWrappers(sheet);
    const QRectF shown = imageRect();
    if (frames.empty() || !shown.contains(position) || shown.width() <= 0)
        return nullptr;
    const double scale = sheet->size().width() / shown.width();
    const double sheetHeight = sheet->size().height();
    int place = 0;
    for (const PMIndexImageWrapperPtr& frame : frames) {
        ++place;
        if (!frame->image())
            continue;
        // Cells are kept with the origin at the lower left of the sheet.
        const QRectF cell = frame->frame();
        const QRectF inView(shown.x() + cell.x() / scale, shown.y() + (sheetHeight - cell.y() - cell.height()) / scale, cell.width() / scale,
                            cell.height() / scale);
        if (inView.contains(position)) {
            if (getPosition)
                *getPosition = place;
            if (getCell)
                *getCell = inView;
            return frame;
        }
    }
    return nullptr;
}

std::unique_ptr<QMenu> PMIndexImageView::individualWrapperMenuForEvent(QPoint position)
{
    int place = 0;
    QRectF cell;
    const PMIndexImageWrapperPtr frame = wrapperAtPoint(position, &place, &cell);
    if (!frame)
        return nullptr;
    // The frame keeps its ring while its menu is open.
    _highlightRect = cell;
    repaint();
    QPointer<PMIndexImageView> self = this;
    auto menu = std::make_unique<QMenu>(localized("Index"), this);
    const auto unmark = [self] {
        QTimer::singleShot(0, self, [self] {
            if (self)
                self->invalidateHighlightRect();
        });
    };
    connect(menu.get(), &QMenu::aboutToHide, this, unmark);
    connect(menu.get(), &QObject::destroyed, this, unmark);
    const ImagePtr frameImage = frame->image();
    std::shared_ptr<PMMovieRepresentationPrototype> record = _movieRepresentation;
    if (record) {
        menu->addAction(localized("Use as Preview"), this, [record, frameImage] {
            record->setPosterImage(frameImage);
            PMMainController::mainController().updatePreviewForMovieRepresentation(record->nonProxySelf());
        });
        menu->addSeparator();
        const QString time = frame->timestamp() >= 0 ? fileNameTime(*frame) : QString::number(place);
        const QString name = localized("%1 (%2)").arg(record->displayNameWithExtension(false), time);
        menu->addAction(localized("Save..."), this, [self, frameImage, name] {
            if (self)
                self->saveImage(frameImage, QString(), name, nullptr);
        });
    }
    menu->addAction(localized("Copy"), this, [frameImage] {
        if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
            return;
        QGuiApplication::clipboard()->setMimeData(new PMImagePasteboardData(frameImage));
    });
    if (!frameImage->associatedSourcePath.isEmpty() && canRevealSource()) {
        menu->addSeparator();
        menu->addAction(localized("Show in File Manager"), this, [frameImage] { revealAssociatedSource(frameImage); });
    }
    if (record && frame->timestamp() >= 0) {
        // The record as its container shows it, so that it plays within that container.
        PMMovieRepresentationPrototype* target = nullptr;
        Value found;
        if (!_containerID.isEmpty() && true) {
            found = PMMainController::mainController().movieRepresentationWithUniqueLibraryID(record->uniqueLibraryID(), _containerID);
            target = PMMovie(found);
        }
        if (!target)
            target = record.get();
        target->addGoToTimestampMenuItemsToMenu(menu.get(), frame->timestamp(), frame->timestampDescriptionIncludingMilliseconds(true), nullptr,
                                                true, true);
    }
    return menu;
}

std::unique_ptr<QMenu> PMIndexImageView::menuForEvent(QPoint position)
{
    if (std::unique_ptr<QMenu> menu = individualWrapperMenuForEvent(position))
        return menu;
    return PMDragSourceImageView::menuForEvent(position);
}

void PMIndexImageView::pressReleasedWithoutDrag(QPoint position, qint64 heldMs)
{
    if (heldMs > 500)
        return;
    if (std::unique_ptr<QMenu> menu = individualWrapperMenuForEvent(position))
        menu->exec(mapToGlobal(position));
}

void PMIndexImageView::windowWillClose()
{
    setMovieRepresentation(nullptr);
    _containerID.clear();
}

void PMIndexImageView::invalidateHighlightRect()
{
    _highlightRect = QRectF();
    QWidget::update();
}

// ---- Drawing

void PMIndexImageView::paintEvent(QPaintEvent*)
{
    if (_disableDrawing)
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor grey(128, 128, 128, 128);
    if (image()) {
        drawImage(painter);
        if (!_highlightRect.isEmpty()) {
            QPen ring(palette().color(QPalette::Highlight), 3);
            painter.setPen(ring);
            painter.setBrush(Qt::NoBrush);
            painter.drawRoundedRect(_highlightRect.adjusted(-1.5, -1.5, 1.5, 1.5), 3, 3);
        }
        return;
    }
    PMMovieRepresentationPrototype* record = _movieRepresentation.get();
    const long long done = record ? currentIndexImageGenerationIndex(*record) : kPMNotFound;
    if (record && done != kPMNotFound) {
        // The grab's progress: an outlined bar filling from the left.
        const double w = std::round(width() * 0.4), h = std::min(std::round(height() * 0.4), 50.0);
        const QRectF bar(std::round((width() - w) / 2), std::round((height() - h) / 2), w, h);
        const double line = std::clamp(2 * std::round(0.015 * std::min(w, h)), 2.0, 10.0);
        const double radius = std::min(w, h) / 2;
        painter.setPen(QPen(grey, line));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(bar, radius, radius);
        const long long n = std::max<long long>(integerValueOfObjectForKey(indexImageSettings(), numberOfImages), 1);
        if (n > done + 1)
            painter.setClipRect(QRectF(bar.x(), bar.y(), std::round(w * double(done + 1) / double(n)), h));
        const QRectF inner = bar.adjusted(2 * line, 2 * line, -2 * line, -2 * line);
        const double innerRadius = std::min(inner.width(), inner.height()) / 2;
        QPainterPath path;
        path.addRoundedRect(inner, innerRadius, innerRadius);
        painter.fillPath(path, grey);
        return;
    }
    const PMIndexImageWorkingSettingsPtr working = record ? ::indexImageSettings(*record) : nullptr;
    if (!record || !working || !working->generator)
        fitAndDrawInRect(painter, localized("No Image"), QRectF(rect()), nullptr, grey, nullptr, 48);
}
