#include "ui/library_window/PMMainWindow.h"
#include <QtWidgets/QToolButton>
#include "ui/library_window/PMInterfaceRefresh.h"

#include "foundation/PMFunctions.h"
#include "library/model/PMLibraryContainer.h"
#include "library/model/PMMainController.h"
#include "foundation/PMSettingsKeys.h"
#include "platform/UserDefaults.h"
#include "ui/kit/NSFont+PMBackwardsCompatibleSystemFont.h"
#include "ui/kit/PMAppearance.h"
#include "ui/kit/PMControlSupport.h"
#include "ui/kit/PMSmallControls.h"
#include "ui/library_window/PMGroupTableView.h"
#include "ui/library_window/PMGroupView.h"
#include "ui/library_window/PMSliderExtremeView.h"
#include "ui/library_window/PMStatusFields.h"
#include "ui/library_window/PMToolbarButtons.h"
#include "ui/library_window/PMZiruderShiftButton.h"

#include <QtGui/QMouseEvent>
#include <QtGui/QPainter>
#include <QtGui/QPainterPath>
#include <QtWidgets/QApplication>
#include <QtWidgets/QHBoxLayout>
#include <QtWidgets/QMenuBar>
#include <QtWidgets/QStackedWidget>
#include <QtWidgets/QVBoxLayout>

#include <cmath>
#include <limits>

using platform::Value;

bool PMMainWindowHidesTitlebar = true;
bool PMMainWindowUsesConcentricCorners = false;
double PMMainWindowCornerRadius = 15.0;
double PMMainWindowButtonDistance = -1.0;
double PMMainWindowHeaderHeight = 38.0;

namespace {

platform::UserDefaults& defaults()
{
    return platform::UserDefaults::standard();
}

QColor white(double w, double alpha = 1.0)
{
    return QColor::fromRgbF(float(w), float(w), float(w), float(alpha));
}

void fillGradient(QPainter& painter, const QRectF& rect, const QColor& top, const QColor& bottom)
{
    QLinearGradient gradient(rect.topLeft(), rect.bottomLeft());
    gradient.setColorAt(0, top);
    gradient.setColorAt(1, bottom);
    painter.fillRect(rect, gradient);
}

double hairline(const QWidget* view)
{
    if (PMShouldIncreaseContrast())
        return 1.0;
    return isOnRetinaDisplay(view) ? 0.5 : 1.0;
}

bool isMainWindow(const QWidget* view)
{
    const QWidget* window = view->window();
    return window && (window->isActiveWindow() || !QApplication::activeWindow());
}

// Mask images of the header's buttons, drawn at 16 points.
QImage buttonImage(const std::function<void(QPainter&)>& draw)
{
    const double ratio = qApp ? qApp->devicePixelRatio() : 1.0;
    QImage image(QSize(int(16 * ratio), int(16 * ratio)), QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::black, 1.2));
    painter.setBrush(Qt::NoBrush);
    draw(painter);
    return image;
}

QImage sidebarImage()
{
    return buttonImage([](QPainter& p) {
        p.drawRoundedRect(QRectF(1.5, 2.5, 13, 11), 2, 2);
        p.fillRect(QRectF(2, 3, 4, 10), Qt::black);
    });
}

QImage backImage()
{
    return buttonImage([](QPainter& p) {
        p.drawLine(QPointF(10.5, 2.5), QPointF(5, 8));
        p.drawLine(QPointF(5, 8), QPointF(10.5, 13.5));
    });
}

QImage gridImage()
{
    return buttonImage([](QPainter& p) {
        for (int row = 0; row < 2; ++row)
            for (int column = 0; column < 2; ++column)
                p.fillRect(QRectF(2 + column * 6.5, 2 + row * 6.5, 5, 5), Qt::black);
    });
}

// The ends of the tile size slider: one small tile, one large tile.
QImage tileImage(double side)
{
    return buttonImage([side](QPainter& p) {
        const double origin = (16 - side) / 2;
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::black);
        p.drawRoundedRect(QRectF(origin, origin, side, side), 1.5, 1.5);
    });
}

// Covers: two tall tiles side by side.
QImage coverImage()
{
    return buttonImage([](QPainter& p) {
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::black);
        p.drawRoundedRect(QRectF(2, 1.5, 5, 13), 1, 1);
        p.drawRoundedRect(QRectF(9, 1.5, 5, 13), 1, 1);
    });
}

QImage listImage()
{
    return buttonImage([](QPainter& p) {
        for (int row = 0; row < 4; ++row) {
            p.fillRect(QRectF(1.5, 2.5 + row * 3.3, 2, 2), Qt::black);
            p.fillRect(QRectF(5, 3 + row * 3.3, 9.5, 1.2), Qt::black);
        }
    });
}

QImage clearImage()
{
    return buttonImage([](QPainter& p) {
        p.drawEllipse(QRectF(2, 2, 12, 12));
        p.drawLine(QPointF(5.5, 5.5), QPointF(10.5, 10.5));
        p.drawLine(QPointF(10.5, 5.5), QPointF(5.5, 10.5));
    });
}

} // namespace

int PMMainWindowDarkness()
{
    return mainController().mainWindowDarkness();
}

bool PMMainWindowHasBlackInterface()
{
    return PMMainWindowDarkness() > 2;
}

// ---------------------------------------------------------------------------
// The header status field

PMMainWindowHeaderStatusField::PMMainWindowHeaderStatusField(QWidget* parent) : PMLinkTextField(parent)
{
    setCenteredInWindow(false);
}

void PMMainWindowHeaderStatusField::setProgressFraction(double fraction)
{
    if (fraction == _progressFraction)
        return;
    _progressFraction = fraction;
    update();
}

void PMMainWindowHeaderStatusField::progressBarRects(const QRectF& content, double fraction, bool clipsToBounds, QRectF* track, QRectF* fill)
{
    *track = QRectF();
    *fill = QRectF();
    if (fraction < 0 || content.width() <= 3)
        return;
    // Below the text (Qt's y runs downwards), or just inside when the field clips.
    const double y = clipsToBounds ? content.bottom() - 2 : content.bottom() + 2;
    *track = QRectF(content.x(), y, content.width(), 2);
    const double width = PMRoundHalfAwayFromZero((content.width() - 2) * fraction) + 2;
    *fill = QRectF(content.x(), y, width, 2);
}

void PMMainWindowHeaderStatusField::setStyledTitleLength(qsizetype length, bool withStatus)
{
    m_titleLength = length;
    m_withStatus = withStatus;
    update();
}

QFont PMMainWindowHeaderStatusField::titleFont() const
{
    // The title in the bold system font of the field's size, or medium when toned down.
    const bool toneDown = defaults().boolForKey(prefs::keys::HideMainWindowTitlebarToneDownTitle);
    QFont titleFont = backwardsCompatibleSystemFontOfSize(PMFontSize(font()), toneDown ? 2 : 1);
    if (!toneDown)
        titleFont.setBold(true);
    return titleFont;
}

double PMMainWindowHeaderStatusField::drawnTextWidth(const QString& text) const
{
    if (m_titleLength <= 0 || text != this->text())
        return PMLinkTextField::drawnTextWidth(text);
    // The bold title, then the separator and the status in the field's font.
    return QFontMetricsF(titleFont()).horizontalAdvance(text.left(m_titleLength))
           + QFontMetricsF(font()).horizontalAdvance(text.mid(m_titleLength));
}

void PMMainWindowHeaderStatusField::drawText(QPainter& painter, const QRectF& textArea, const QString& shown, const QColor& color) const
{
    if (m_titleLength <= 0 || shown != text()) {
        // Shortened: the parts are no longer where they were; the title part alone is bold.
        PMLinkTextField::drawText(painter, textArea, shown, color);
        return;
    }
    const QFont titleFont = this->titleFont();
    const QString title = shown.left(m_titleLength);
    const QString separator = m_withStatus ? shown.mid(m_titleLength, 3) : QString();
    const QString rest = shown.mid(m_titleLength + separator.size());
    double x = textArea.left();
    const QFontMetricsF titleMetrics(titleFont), metrics(font());
    painter.save();
    painter.setFont(titleFont);
    painter.setPen(palette().color(QPalette::WindowText));
    // (The title keeps the text colour; the status after it the field's own.)
    painter.drawText(QRectF(x, textArea.top(), textArea.right() - x, textArea.height()), Qt::AlignVCenter | Qt::AlignLeft, title);
    x += titleMetrics.horizontalAdvance(title);
    painter.setFont(font());
    if (!separator.isEmpty()) {
        painter.setPen(white(0.5, 0.8));
        painter.drawText(QRectF(x, textArea.top(), std::max(0.0, double(width()) - x), textArea.height()), Qt::AlignVCenter | Qt::AlignLeft, separator);
        x += metrics.horizontalAdvance(separator);
    }
    // The bold title is wider than the text area measured in the plain font: the rest may
    // use the field's width, shortened at its end when even that is not enough.
    painter.setPen(color);
    const double room = std::max(0.0, double(width()) - x);
    painter.drawText(QRectF(x, textArea.top(), room, textArea.height()), Qt::AlignVCenter | Qt::AlignLeft,
                     metrics.elidedText(rest, Qt::ElideRight, room));
    painter.restore();
}

void PMMainWindowHeaderStatusField::paintEvent(QPaintEvent* event)
{
    PMLinkTextField::paintEvent(event);
    QRectF track, fill;
    // The bar runs under the drawn text, inside the field.
    progressBarRects(drawnContentFrame(), _progressFraction, true, &track, &fill);
    if (track.isEmpty())
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(white(isInFullyInvertedDarkMode(this) ? 1.0 : 0.0, 0.1));
    painter.drawRoundedRect(track, 1, 1);
    painter.setBrush(backwardsCompatibleControlAccentColor());
    painter.drawRoundedRect(fill, 1, 1);
}

void PMMainWindowHeaderStatusField::mousePressEvent(QMouseEvent* event)
{
    PMLinkTextField::mousePressEvent(event);
}

void PMMainWindowHeaderStatusField::mouseDoubleClickEvent(QMouseEvent* event)
{
    // A double click goes to the header (its action block).
    event->ignore();
}

// ---------------------------------------------------------------------------
// The painted surfaces

PMMainWindowBackgroundView::PMMainWindowBackgroundView(QWidget* parent) : PMKeyWindowReflectingView(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

double PMMainWindowBackgroundView::sidebarGrey(bool mainWindow)
{
    if (!mainWindow)
        return 0.8;
    return PMMainWindowHidesTitlebar ? 0.75 : 0.65;
}

void PMMainWindowBackgroundView::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    const QRectF r = event->rect();
    if (PMShouldIncreaseContrast()) {
        painter.fillRect(r, white(isInFullyInvertedDarkMode(this) ? 0.95 : 0.05));
        return;
    }
    const int d = PMMainWindowDarkness();
    // The sidebar's grey, pale as the light window's sidebar; dark in the dark interface.
    const double g = sidebarGrey(isMainWindow(this));
    if (d == 4 || isInFullyInvertedDarkMode(this)) {
        painter.fillRect(r, white(0.14));
        return;
    }
    // In the light interface the sidebar is a pale grey (the platform's translucent
    // sidebar material stands behind the grey there).
    const double light = 0.84 + (g - 0.65) * 0.4;
    if (d == 0) {
        painter.fillRect(r, white(light));
        return;
    }
    painter.fillRect(r, white(0.1));
    if (d != 2 && d != 4) {
        const double stripWidth = _leftView ? _leftView->width() : width();
        painter.fillRect(QRectF(0, 0, stripWidth, height()), white(light));
    }
}

PMMainWindowHeaderView::PMMainWindowHeaderView(QWidget* parent) : QWidget(parent) {}

void PMMainWindowHeaderView::setSeparatorPriority(int priority)
{
    if (priority == _separatorPriority)
        return;
    _separatorPriority = priority;
    update();
}

void PMMainWindowHeaderView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QRectF bounds(rect());
    const double t = hairline(this);
    const int d = PMMainWindowDarkness();
    const bool contrast = PMShouldIncreaseContrast();
    const bool inverted = isInFullyInvertedDarkMode(this);
    // The header strip stands in for the title bar: the title bar's gradient, then the
    // separator at its lower edge (Qt's y runs downwards).
    const QRectF body(bounds.x(), bounds.y(), bounds.width(), bounds.height() - t);
    if (inverted)
        fillGradient(painter, body, white(0.16), white(0.14));
    else if (d == 0 || d == 1 || d == 2)
        fillGradient(painter, body, white(0.95), white(0.93));
    else
        fillGradient(painter, body, white(0.18), white(0.13));
    if (!PMMainWindow::usesGlass() || _separatorPriority >= 1) {
        QColor separator = contrast ? white(d == 4 ? 0.95 : 0.05) : (d == 0 || (d < 3 && !inverted)) ? white(0, 0.2) : white(0, 0.9);
        painter.fillRect(QRectF(bounds.x(), bounds.bottom() - t, bounds.width(), t), separator);
    }
    // The left edge against the sidebar.
    QColor edge = contrast ? white(inverted ? 0.95 : 0.05) : d == 1 ? white(0, 0.1) : d == 0 ? white(0.75) : white(0.1);
    painter.fillRect(QRectF(bounds.x(), bounds.y(), 1, bounds.height() - t), edge);
}

void PMMainWindowHeaderView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::RightButton) {
        // A right click anywhere in the header scrolls the grid to its top or bottom.
        mainController().scrollToGroupTopOrBottom();
        event->accept();
        return;
    }
    if (mouseDownActionBlock && mouseDownActionBlock(event)) {
        event->accept();
        return;
    }
    QWidget::mousePressEvent(event);
}

void PMMainWindowHeaderView::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (mouseDownActionBlock && mouseDownActionBlock(event)) {
        event->accept();
        return;
    }
    QWidget::mouseDoubleClickEvent(event);
}

void PMMainWindowFooterView::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    if (isInFullyInvertedDarkMode(this)) {
        fillGradient(painter, event->rect(), white(1.0, 0.15), white(1.0, 0.13));
    } else if (PMMainWindowHidesTitlebar) {
        if (PMMainWindowDarkness() != 0 && isMainWindow(this))
            fillGradient(painter, rect(), white(0.88), white(0.85));
        else
            fillGradient(painter, rect(), white(0.95), white(0.93));
    }
}

void PMStickyNoteView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    fillGradient(painter, rect(), QColor::fromRgbF(1.0f, 0.9f, 0.63f), QColor::fromRgbF(0.9f, 0.8f, 0.55f));
    if (_message.isEmpty())
        return;
    const QRectF area = QRectF(rect()).adjusted(10, 2, -10, -2);
    QFont f = font();
    double size = 14;
    f.setPointSizeF(size);
    while (size > 8 && QFontMetricsF(f).horizontalAdvance(_message) > area.width()) {
        size -= 0.5;
        f.setPointSizeF(size);
    }
    painter.setFont(f);
    painter.setPen(white(0, 0.7));
    painter.drawText(area, Qt::AlignCenter, QFontMetricsF(f).elidedText(_message, Qt::ElideRight, area.width()));
}

void PMFakeTableHeaderView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    if (isInFullyInvertedDarkMode(this))
        fillGradient(painter, rect(), white(0.25), white(0.23));
    else
        fillGradient(painter, rect(), white(1.0), white(0.96));
}

void PMStickyNoteFakeTableHeaderView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    fillGradient(painter, rect(), QColor::fromRgbF(0.999f, 0.951f, 0.755f), QColor::fromRgbF(0.959f, 0.901f, 0.705f));
}

// ---------------------------------------------------------------------------
// The window

PMMainWindow::PMMainWindow(QWidget* parent) : PMPlayerWindow(parent)
{
    setObjectName(QStringLiteral("MainWindow"));
    setMinimumSize(153 + 100, 100 + int(PMMainWindowHeaderHeight));
    m_layout = new QVBoxLayout(this);
    m_layout->setContentsMargins(0, 0, 0, 0);
    m_layout->setSpacing(0);

    _containerView = new QWidget(this);
    m_layout->addWidget(_containerView, 1);

    _sourceListContainer = new PMMainWindowBackgroundView(_containerView);
    _sourceListContainer->setLeftView(_sourceListContainer);
    auto* sourceLayout = new QVBoxLayout(_sourceListContainer);
    sourceLayout->setContentsMargins(0, 0, 0, 0);
    sourceLayout->setSpacing(0);
    // The button bar below the source list: add (a playlist; a folder with Shift, a smart
    // playlist with Alt) and delete. Hidden (its add button disabled) until asked for.
    _sidebarButtonBar = new QWidget(_sourceListContainer);
    _sidebarButtonBar->setObjectName(QStringLiteral("sidebarButtonBar"));
    _sidebarButtonBar->setFixedHeight(26);
    auto* barLayout = new QHBoxLayout(_sidebarButtonBar);
    barLayout->setContentsMargins(6, 1, 6, 1);
    barLayout->setSpacing(2);
    const auto barButton = [this](const char* icon, const QString& tip) {
        auto* button = new QToolButton(_sidebarButtonBar);
        button->setIcon(QIcon::fromTheme(QString::fromLatin1(icon)));
        if (button->icon().isNull())
            button->setText(QString::fromLatin1(icon) == QLatin1String("list-add") ? QStringLiteral("+") : QStringLiteral("\u2212"));
        button->setToolTip(tip);
        button->setAutoRaise(true);
        button->setFocusPolicy(Qt::NoFocus);
        button->setFixedSize(24, 22);
        return button;
    };
    _libraryAddButton = barButton("list-add", tr("New Playlist (Shift: Folder, Alt: Smart Playlist)"));
    _libraryDeleteButton = barButton("list-remove", tr("Delete"));
    barLayout->addWidget(_libraryAddButton);
    barLayout->addWidget(_libraryDeleteButton);
    barLayout->addStretch(1);
    sourceLayout->addWidget(_sidebarButtonBar);
    _sidebarButtonBar->hide();
    _libraryAddButton->setEnabled(false);

    _contentView = new QWidget(_containerView);
    auto* contentLayout = new QVBoxLayout(_contentView);
    contentLayout->setContentsMargins(0, 0, 0, 0);
    contentLayout->setSpacing(0);
    _groupHeaderView = new PMMainWindowHeaderView(_contentView);
    _groupHeaderView->setProperty(PMPlacesItsOwnControlsProperty, true); // see layoutHeader()
    _groupHeaderView->setFixedHeight(int(PMMainWindowHeaderHeight));
    contentLayout->addWidget(_groupHeaderView);
    _contentStack = new QStackedWidget(_contentView);
    _groupView = new PMGroupView(_contentStack);
    _contentStack->addWidget(_groupView);
    _groupList = new PMGroupTableView(_contentStack);
    _contentStack->addWidget(_groupList);
    _playerContainerView = new PMPlayerContainerView(_contentStack);
    _playerContainerView->setAutoFillBackground(true);
    QPalette black = _playerContainerView->palette();
    black.setColor(QPalette::Window, Qt::black);
    _playerContainerView->setPalette(black);
    _contentStack->addWidget(_playerContainerView);
    setPlayerContainer(_playerContainerView);
    contentLayout->addWidget(_contentStack, 1);

    _ziruderButton = new PMZiruderShiftButton(_containerView);
    _ziruderButton->setContainerView(_containerView);
    _ziruderButton->setLeftView(_sourceListContainer);
    _ziruderButton->setRightView(_contentView);
    _sourceListContainer->setGeometry(0, 0, 185, 600);
    _contentView->setGeometry(185, 0, 800, 600);

    buildHeader();
    buildFooter();
    _ziruderButton->setVisibilityTogglerControl(_libraryListVisibilitySwitch);
    qApp->installEventFilter(this);
}

PMMainWindow::~PMMainWindow()
{
    if (qApp)
        qApp->removeEventFilter(this);
}

bool PMMainWindow::usesCustomFullScreenMode() const
{
    return defaults().boolForKey(prefs::keys::SingleWindowMode);
}

void PMMainWindow::buildHeader()
{
    _libraryListVisibilitySwitch = new PMAdaptiveToolbarButton(_groupHeaderView);
    _libraryListVisibilitySwitch->setImage(sidebarImage());
    _libraryListVisibilitySwitch->setObjectName(QStringLiteral("libraryListVisibilitySwitch"));
    _libraryListVisibilitySwitch->setToolTip(tr("Show Sidebar"));
    _clearTemporaryStorageButton = new PMAdaptiveToolbarButton(_groupHeaderView);
    _clearTemporaryStorageButton->setImage(clearImage());
    _clearTemporaryStorageButton->setToolTip(tr("Clear Temporary Storage"));
    _backButton = new PMAdaptiveToolbarButton(_groupHeaderView);
    _backButton->setImage(backImage());
    _backButton->setObjectName(QStringLiteral("groupBackButton"));
    _backButton->setToolTip(tr("Back"));
    _backButton->hide(); // until there is somewhere to go back to
    // The tile size slider between the status and the search field, with a small and a
    // large tile at its ends that jump it to either end.
    _previewSizeSliderView = new QWidget(_groupHeaderView);
    _previewSizeSliderView->setObjectName(QStringLiteral("previewSizeSliderView"));
    auto* sliderLayout = new QHBoxLayout(_previewSizeSliderView);
    sliderLayout->setContentsMargins(0, 0, 0, 0);
    sliderLayout->setSpacing(4);
    _previewSizeSlider = new PMPreviewSizeSlider(_previewSizeSliderView);
    _previewSizeSlider->setOrientation(Qt::Horizontal);
    _previewSizeSlider->setAction(QStringLiteral("changePreviewSize"));
    _previewSizeSlider->setObjectName(QStringLiteral("previewSizeSlider"));
    _previewSizeSlider->setToolTip(tr("Tile Size"));
    _previewSizeSlider->setFocusPolicy(Qt::NoFocus);
    for (const int tag : {0, 1}) {
        auto* end = new PMSliderExtremeView(_previewSizeSliderView);
        end->setSlider(_previewSizeSlider);
        end->setTag(tag);
        // Mid grey: seen on the light header and on the dark one alike.
        QPixmap pixmap = QPixmap::fromImage(PMTintedImage(tileImage(tag == 0 ? 5 : 10), QColor::fromRgbF(0.5, 0.5, 0.5)));
        end->setPixmap(pixmap);
        end->setFixedSize(16, 16);
        (tag == 0 ? _previewSizeSliderSmallEnd : _previewSizeSliderLargeEnd) = end;
    }
    _previewSizeSlider->setMaximumExtremeView(_previewSizeSliderLargeEnd);
    sliderLayout->addWidget(_previewSizeSliderSmallEnd);
    sliderLayout->addWidget(_previewSizeSlider, 1);
    sliderLayout->addWidget(_previewSizeSliderLargeEnd);
    _previewSizeSliderView->resize(140, 24);
    _previewSizeSliderView->hide(); // until the grid shows tiles
    _previewModeButton = new PMPreviewModeButton(_groupHeaderView);
    _previewModeButton->setImage(gridImage());
    _previewModeButton->setTag(2);
    _previewModeButton->setToolTip(tr("Grid"));
    _listModeButton = new PMPreviewModeButton(_groupHeaderView);
    _listModeButton->setImage(listImage());
    _listModeButton->setTag(1);
    _listModeButton->setToolTip(tr("List"));
    _coverModeButton = new PMPreviewModeButton(_groupHeaderView);
    _coverModeButton->setImage(coverImage());
    _coverModeButton->setTag(3);
    _coverModeButton->setToolTip(tr("Covers"));
    // Which one is on follows the shown container's display mode (set at each refresh).
    _previewModeButton->setChecked(true);

    _groupStatusField = new PMMainWindowHeaderStatusField(_groupHeaderView);
    _groupStatusField->setProgressFraction(-1.0);
    setStatusField(_groupStatusField);

    _searchField = new PMAdaptiveSearchField(_groupHeaderView);
    _searchField->setPlaceholderText(tr("Search"));
    _searchField->interfaceDelegate = [] { return PMMainWindowHasBlackInterface(); };
    QObject::connect(_searchField, &QLineEdit::textChanged, this, [this] {
        if (searchFieldTextDidChange)
            searchFieldTextDidChange();
    });
}

void PMMainWindow::buildFooter()
{
    _footerView = new PMMainWindowFooterView(this);
    _footerView->setObjectName(QStringLiteral("footerView"));
    _footerView->setFixedHeight(22);
    auto* layout = new QHBoxLayout(_footerView);
    layout->setContentsMargins(10, 1, 10, 1);
    layout->setSpacing(6);
    _footerStatusField = new PMLinkTextField(_footerView);
    _footerStatusField->setObjectName(QStringLiteral("statusField"));
    _footerStatusField->setAlignment(Qt::AlignCenter);
    _statusProgressIndicator = new QProgressBar(_footerView);
    _statusProgressIndicator->setObjectName(QStringLiteral("statusProgressIndicator"));
    _statusProgressIndicator->setRange(0, 1000);
    _statusProgressIndicator->setTextVisible(false);
    _statusProgressIndicator->setFixedSize(80, 10);
    _statusProgressIndicator->hide();
    layout->addWidget(_footerStatusField, 1);
    layout->addWidget(_statusProgressIndicator);
    m_layout->addWidget(_footerView);

    // Without a title bar of the window's own the footer goes: the sidebar and the content
    // reach down to the bottom edge, the header's status field becomes the window's status
    // field and the footer's progress bar is forgotten.
    const bool retain = !PMMainWindowHidesTitlebar || defaults().boolForKey(prefs::keys::HideMainWindowTitlebarRetainFooter);
    if (retain) {
        _groupStatusField->hide();
        setStatusField(_footerStatusField);
    } else {
        _footerView->hide();
        delete _statusProgressIndicator.data();
    }
}

bool PMMainWindow::respondsToAction(const QString& action) const
{
    return action == QLatin1String("toggleFullScreen") || (action == QLatin1String("performTextFinderAction") && !_searchField->isHidden());
}

void PMMainWindow::performAction(const QString& action, QObject* sender)
{
    if (action == QLatin1String("toggleFullScreen")) {
        toggleFullScreen(sender);
    } else if (action == QLatin1String("performTextFinderAction")) {
        _searchField->setFocus(Qt::ShortcutFocusReason);
        _searchField->selectAll();
    }
}

bool PMMainWindow::validateMenuItem(QAction* item)
{
    if (platform::menuItemAction(item) == QLatin1String("toggleFullScreen")) {
        if (!usesCustomFullScreenMode())
            item->setText(isFullScreen() ? tr("Exit Full Screen") : tr("Enter Full Screen"));
        return validateFullScreenItem(item);
    }
    return true;
}

void PMMainWindow::updateAppearance()
{
    if (!_groupStatusField || statusField() != _groupStatusField) {
        PMPlayerWindow::updateAppearance();
        return;
    }
    // Judged by the window, whose palette follows the desktop (the field has its own).
    const bool dark = isInFullyInvertedDarkMode(this) || PMMainWindowHasBlackInterface();
    QPalette p = QApplication::palette();
    const QColor text = dark ? white(0.85) : white(0.2);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Text, text);
    _groupStatusField->setPalette(p);
    _groupStatusField->update();
}

void PMMainWindow::layoutHeader()
{
    const int h = _groupHeaderView->height();
    const int buttonHeight = 28;
    const int y = (h - buttonHeight) / 2 + 1;
    int x = 8;
    for (PMToolbarButton* button : {(PMToolbarButton*)_libraryListVisibilitySwitch, (PMToolbarButton*)_clearTemporaryStorageButton, (PMToolbarButton*)_backButton}) {
        if (button->isHidden())
            continue;
        button->setGeometry(x, y, 32, buttonHeight);
        x += 32 + 4;
    }
    _listModeButton->setGeometry(x, y, 32, buttonHeight);
    _previewModeButton->setGeometry(x + 32, y, 32, buttonHeight);
    _coverModeButton->setGeometry(x + 64, y, 32, buttonHeight);
    // Hidden mode buttons (a storage section, no movies) leave no gap before the status.
    if (!_previewModeButton->isHidden())
        x += 96 + 12;
    else if (x > 8)
        x += 8;
    const int searchWidth = std::clamp(_groupHeaderView->width() / 4, 120, 240);
    const int searchHeight = 24;
    _searchField->setGeometry(_groupHeaderView->width() - 10 - searchWidth, (h - searchHeight) / 2, searchWidth, searchHeight);
    // The slider stands 30 points left of the search field; the status ends before it.
    const QSize sliderSize = _previewSizeSliderView->size();
    _previewSizeSliderView->move(_searchField->x() - sliderSize.width() - 30, (h - sliderSize.height()) / 2);
    const int statusRight = (_previewSizeSliderView->isHidden() ? _searchField->x() : _previewSizeSliderView->x()) - 12;
    const int statusHeight = 22;
    _groupStatusField->setGeometry(x, (h - statusHeight) / 2, std::max(0, statusRight - x), statusHeight);
}

void PMMainWindow::layoutContent()
{
    _ziruderButton->tileWithDelta(0);
    if (_sourceListContainer->isHidden()) {
        _contentView->setGeometry(0, 0, _containerView->width(), _containerView->height());
        // While it drags, the handle keeps the pointer even where the sidebar went.
        if (!_ziruderButton->isDragging())
            _ziruderButton->hide();
    } else {
        _ziruderButton->show();
        _ziruderButton->raise();
    }
    // The inner layouts follow at once, also while the window is not shown yet.
    _contentView->layout()->setGeometry(_contentView->rect());
    _sourceListContainer->layout()->setGeometry(_sourceListContainer->rect());
    layoutHeader();
}

void PMMainWindow::layoutNow()
{
    // As the layout does it on a resize, also while the window is not shown: the menu bar
    // on top, the rest below it.
    QRect rest = rect();
    if (_menuBar && !_menuBar->isHidden()) {
        const int height = _menuBar->heightForWidth(width()) > 0 ? _menuBar->heightForWidth(width()) : _menuBar->sizeHint().height();
        _menuBar->setGeometry(0, 0, width(), height);
        rest.setTop(height);
    }
    m_layout->setGeometry(rest);
    layoutContent();
}

void PMMainWindow::setSourceListView(QWidget* view)
{
    if (_sourceListView == view)
        return;
    if (_sourceListView)
        _sourceListView->deleteLater();
    _sourceListView = view;
    if (view) {
        view->setParent(_sourceListContainer);
        // Above the button bar.
        static_cast<QVBoxLayout*>(_sourceListContainer->layout())->insertWidget(0, view, 1);
        view->show();
    }
}

void PMMainWindow::setScopeBar(QWidget* bar)
{
    if (_scopeBar == bar)
        return;
    auto* layout = static_cast<QVBoxLayout*>(_contentView->layout());
    if (_scopeBar) {
        layout->removeWidget(_scopeBar);
        _scopeBar->deleteLater();
    }
    _scopeBar = bar;
    if (bar) {
        bar->setParent(_contentView);
        layout->insertWidget(1, bar);
    }
    _groupView->setHasScopeBar(bar != nullptr);
}

void PMMainWindow::setMenuBar(QMenuBar* menuBar)
{
    if (_menuBar == menuBar)
        return;
    if (_menuBar)
        _menuBar->deleteLater();
    _menuBar = menuBar;
    m_layout->setMenuBar(menuBar);
}

void PMMainWindow::showGroupList(bool list)
{
    _showsGroupList = list;
    if (_contentStack->currentWidget() == _playerContainerView)
        return;
    QWidget* page = list ? static_cast<QWidget*>(_groupList) : static_cast<QWidget*>(_groupView);
    if (_contentStack->currentWidget() == page)
        return;
    _contentStack->setCurrentWidget(page);
    page->setGeometry(_contentStack->contentsRect());
}

void PMMainWindow::showPlayerContainer(bool show)
{
    QWidget* page = show ? static_cast<QWidget*>(_playerContainerView)
                         : (_showsGroupList ? static_cast<QWidget*>(_groupList) : static_cast<QWidget*>(_groupView));
    if (_contentStack->currentWidget() == page)
        return;
    _contentStack->setCurrentWidget(page);
    // The stack sizes only its current page, and not before its next layout pass.
    page->setGeometry(_contentStack->contentsRect());
    // The header darkens behind the player and lightens again over the grid: its status
    // text follows once the player has settled in its place.
    QTimer::singleShot(0, this, [this] {
        updateAppearance();
        _groupHeaderView->update();
    });
}

void PMMainWindow::adjustToHiddenSidebar(bool hidden)
{
    // Only the glass look adjusts its corners and buttons to the sidebar.
    if (hidden == _hasHiddenSidebar || !usesGlass())
        return;
    _hasHiddenSidebar = hidden;
    moveStandardWindowButtons();
}

QString PMMainWindow::titleForSelection(const platform::ArrayPtr& selected, bool* plain)
{
    QString title;
    QStringList names;
    bool sameRoot = true;
    PMLibraryContainerPtr root;
    *plain = true;
    if (selected) {
        for (const Value& v : *selected) {
            PMLibraryItem* item = PMItem(v);
            const QString name = item ? item->displayName() : QString();
            // The last name seen is the title; an empty one ends the walk without names.
            title = name;
            if (name.isEmpty()) {
                names.clear();
                break;
            }
            names.append(name);
            if (sameRoot) {
                const PMLibraryContainerPtr group = PMContainerPtr(v);
                if (!group || !group->isSmartGroup()) {
                    sameRoot = false;
                } else {
                    const PMLibraryContainerPtr r = group->nonVolatileAncestorOrSelfWithAncestors(nullptr);
                    if (names.size() == 1)
                        root = r;
                    else if (r != root)
                        sameRoot = false;
                }
            }
        }
    }
    if (names.size() >= 2) {
        const bool intersection = defaults().stringForKey(prefs::keys::ImplicitMultipleSelectionSearch) == QLatin1String("Intersection");
        title = names.join(intersection ? QStringLiteral(" ∩ ") : QStringLiteral(" ∪ "));
        *plain = !sameRoot;
    }
    return title;
}

void PMMainWindow::setStatus(const QString& status, const PMLibraryContainerPtr& container, bool forSelection, const QVariant& link,
                             const QString& toolTip, bool canClearSelection)
{
    PMMainController& c = mainController();
    PMLinkTextField* f = statusField();
    if (f != _groupStatusField) {
        if (f)
            f->setStringValue(status, link, toolTip);
        return;
    }
    QString title;
    bool plain = true;
    bool branch = false;
    if (forSelection) {
        title = titleForSelection(c.selectedLibraryItems(), &plain);
    } else if (container) {
        title = container->displayName();
        if (container->isSmartGroup()) {
            plain = false;
            branch = !container->value(QStringLiteral("Subdivision Branch")).isNull();
        }
    }
    if (title.isEmpty() && status.isEmpty()) {
        _groupStatusField->setStyledTitleLength(0, false);
        _groupStatusField->setStringValue(status, link, toolTip);
        return;
    }
    QString text;
    if (title.isEmpty())
        text = status;
    else if (status.isEmpty())
        text = title;
    else
        text = title + QStringLiteral(" — ") + status;

    PMActionButtonTextField* field = _groupStatusField;
    if (!link.isValid() && canClearSelection) {
        field->setStringValue(text, QStringLiteral("clearGroupItemSelection"), &c, tr("Clear Selection"), field->stopActionButtonImage(), false);
    } else if (link.isValid() || plain || !PMAdaptiveToolbarButton::isSimplified()) {
        _groupStatusField->setStringValue(text, link, toolTip, false);
    } else {
        const platform::ArrayPtr inbox = branch ? c.inboxMovieRepresentationsSorted(false) : nullptr;
        if (branch && inbox && !inbox->isEmpty()) {
            const qsizetype selected = c.numberOfSelectedInboxItems();
            QString tip;
            QImage image = field->addActionButtonImage();
            if (selected == 0) {
                tip = tr("Cancel");
                image = field->stopActionButtonImage();
            } else if (selected == 1) {
                tip = tr("Apply to 1 file");
            } else if (selected == std::numeric_limits<qsizetype>::max()) {
                tip = tr("Apply...");
            } else {
                tip = tr("Apply to %1 files").arg(selected);
            }
            field->setStringValue(text, QStringLiteral("showInbox"), &c, tip, image, false);
        } else {
            field->setStringValue(text, QStringLiteral("editSmartPlaylist"), &c, tr("Edit Smart Playlist"), field->downPointingArrowActionButtonImage(),
                                  false);
        }
    }
    _groupStatusField->setStyledTitleLength(title.size(), !title.isEmpty() && !status.isEmpty());
}

bool PMMainWindow::preprocessMouseEvent(QObject* watched, QEvent* event)
{
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget || widget->window() != this)
        return false;
    PMMainController& c = mainController();
    auto* mouse = static_cast<QMouseEvent*>(event);
    if (event->type() == QEvent::MouseButtonPress && mouse->button() == Qt::LeftButton) {
        destroysInboxAfterSendingEvent = true;
        m_inboxWasOpen = c._inboxItems != nullptr;
        // After the press has been handled: a press that did not open the inbox closes it.
        QPointer<PMMainWindow> self(this);
        QMetaObject::invokeMethod(
            this,
            [self] {
                if (!self || !self->destroysInboxAfterSendingEvent)
                    return;
                PMMainController& controller = mainController();
                const bool opened = !self->m_inboxWasOpen && controller._inboxItems != nullptr;
                self->destroysInboxAfterSendingEvent = false;
                if (!opened && controller._inboxItems)
                    controller.destroyInbox();
            },
            Qt::QueuedConnection);
        return false;
    }
    if (event->type() == QEvent::MouseButtonPress && mouse->button() == Qt::RightButton) {
        if (c._inboxItems)
            c.destroyInbox();
        return false;
    }
    if (event->type() == QEvent::MouseMove && isActiveWindow() && defaults().boolForKey(prefs::keys::AutomaticallyHideAndShowSidebar)) {
        const double x = mapFromGlobal(mouse->globalPosition()).x();
        const double s = PMGroupView::spacing();
        const bool hidden = defaults().boolForKey(prefs::keys::HideLibrary);
        if (hidden && x < s)
            c.hideSidebar(false, true, true);
        else if (!hidden && x > _sourceListContainer->width() + s)
            c.hideSidebar(true, true, true);
    }
    return false;
}

bool PMMainWindow::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseMove:
        if (preprocessMouseEvent(watched, event))
            return true;
        break;
    case QEvent::Resize:
        // The header places its controls itself: its width changes when the divider moves
        // as well as when the window is resized.
        if (watched == _groupHeaderView)
            layoutHeader();
        break;
    case QEvent::ShowToParent:
    case QEvent::HideToParent:
        // The header's left buttons close up when one of them comes or goes.
        if (watched == _libraryListVisibilitySwitch || watched == _clearTemporaryStorageButton || watched == _backButton
            || watched == _previewSizeSliderView || watched == _previewModeButton)
            layoutHeader();
        // The player's container and the grid share one place: the stack shows (and
        // sizes) only its current page, so showing the player makes it the current one.
        if (watched == _playerContainerView)
            showPlayerContainer(event->type() == QEvent::ShowToParent);
        break;
    default:
        break;
    }
    return PMPlayerWindow::eventFilter(watched, event);
}

void PMMainWindow::changeEvent(QEvent* event)
{
    PMPlayerWindow::changeEvent(event);
    if (event->type() == QEvent::ActivationChange) {
        update();
        if (!isActiveWindow() && defaults().boolForKey(prefs::keys::AutomaticallyHideAndShowSidebar))
            mainController().hideSidebar(true, true, true);
    } else if (event->type() == QEvent::PaletteChange || event->type() == QEvent::ApplicationPaletteChange || event->type() == QEvent::StyleChange) {
        // The status line's colours follow light and dark.
        updateAppearance();
        update();
    }
}

void PMMainWindow::resizeEvent(QResizeEvent* event)
{
    PMPlayerWindow::resizeEvent(event);
    layoutNow();
    mainController().mainWindowDidResize();
}

void PMMainWindow::moveEvent(QMoveEvent* event)
{
    PMPlayerWindow::moveEvent(event);
    mainController().mainWindowDidResize();
}

void PMMainWindow::closeEvent(QCloseEvent* event)
{
    mainController().saveMainWindowFrame();
    PMPlayerWindow::closeEvent(event);
}
