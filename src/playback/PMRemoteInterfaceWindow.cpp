#include "playback/PMRemoteInterfaceWindow.h"

#include "foundation/PMFunctions.h"
#include "library/model/PMLibraryContainer.h"
#include "library/model/PMLibraryItem.h"
#include "foundation/PMSettingsKeys.h"
#include "platform/UserDefaults.h"
#include "ui/kit/NSWindow+PMExtensions.h"

#include <QtCore/QPointer>
#include <QtCore/QPropertyAnimation>
#include <QtGui/QFontMetricsF>
#include <QtGui/QGuiApplication>
#include <QtGui/QPainter>
#include <QtGui/QPainterPath>
#include <QtGui/QScreen>
#include <QtWidgets/QApplication>

#include <cmath>

using platform::Value;

namespace {

QPointer<PMRemoteInterfaceWindow>& sharedWindow()
{
    static QPointer<PMRemoteInterfaceWindow> window;
    return window;
}

QFont listFont()
{
    QFont font = QApplication::font();
    font.setWeight(QFont::Light);
    // Sizes are in points of the screen, as the line heights are.
    font.setPixelSize(int(PMRemoteInterfaceMetricsForLineHeight(PMRemoteInterfaceWindow::lineHeight()).fontSize));
    return font;
}

QString nameOf(const Value& item)
{
    PMLibraryItem* i = PMItem(item);
    return i ? i->displayName() : QString();
}

} // namespace

PMRemoteInterfaceMetrics PMRemoteInterfaceMetricsForLineHeight(double L)
{
    PMRemoteInterfaceMetrics m;
    const double U = 2 * std::floor(L / 2);
    m.lineHeight = U;
    m.spacing = 2 * std::floor(U * 20 / 148);
    m.margin = 2 * std::floor(U * 30 / 148);
    m.textOffset = std::floor(U * 5 / 74);
    m.cornerRadius = std::floor(U * 20 / 74);
    m.fontSize = 2 * std::floor(U * 50 / 148);
    return m;
}

PMRemoteInterfaceWindow::PMRemoteInterfaceWindow() : PMSelfDrawingOverlayWindow(nullptr) {}

PMRemoteInterfaceWindow* PMRemoteInterfaceWindow::remoteInterfaceWindowByCreatingIfNecessary(bool create)
{
    if (!sharedWindow() && create) {
        auto* window = new PMRemoteInterfaceWindow;
        const QRectF frame = frameForScreen(nullptr, nullptr, QString(), nullptr);
        window->setGeometry(frame.toRect());
        configureWindow(window, frame.size(), 26, true);
        window->_remoteInterfaceView = window->contentView();
        window->setWindowTitle(QStringLiteral("Remote Control"));
        sharedWindow() = window;
    }
    return sharedWindow();
}

bool PMRemoteInterfaceWindow::isVisible()
{
    PMRemoteInterfaceWindow* w = remoteInterfaceWindowByCreatingIfNecessary(false);
    return w && w->QWidget::isVisible();
}

void PMRemoteInterfaceWindow::fadeOutAndClose()
{
    if (PMRemoteInterfaceWindow* w = remoteInterfaceWindowByCreatingIfNecessary(false)) {
        ::fadeOutAndClose(w);
        w->_displayedItems.reset();
        w->_displayedItemsParent = Value();
    }
}

void PMRemoteInterfaceWindow::setLineHeight(double lineHeight)
{
    platform::UserDefaults::standard().setDouble(lineHeight, prefs::keys::RemoteControlInterfaceLineHeight);
}

double PMRemoteInterfaceWindow::lineHeight()
{
    const Value v = platform::UserDefaults::standard().objectForKey(prefs::keys::RemoteControlInterfaceLineHeight);
    const double L = v.isNumber() ? v.toDouble() : 76;
    return std::isfinite(L) && L >= 8 && L <= 1000 ? L : 76;
}

QRectF PMRemoteInterfaceWindow::frameForArea(const QRectF& area, const QList<double>& itemWidths, double titleWidth, double emptyWidth,
                                             double chevronWidth, qint64* getNumberOfLines)
{
    const PMRemoteInterfaceMetrics m = PMRemoteInterfaceMetricsForLineHeight(lineHeight());
    qint64 k = std::max<qint64>(1, itemWidths.size());
    double height = 2 * k * m.lineHeight + 4 * m.spacing;
    while (itemWidths.size() >= 2 && height > area.height() && k > 1) {
        --k;
        height = 2 * k * m.lineHeight + 4 * m.spacing;
    }
    if (getNumberOfLines)
        *getNumberOfLines = 2 * k;
    double width = emptyWidth + 2 * m.margin;
    width = std::max(width, std::min(titleWidth + 2 * m.margin, area.width()));
    for (const double w : itemWidths) {
        width = std::max(width, chevronWidth + 3 * m.margin + w);
        if (width > area.width()) {
            width = area.width();
            break;
        }
    }
    height = std::min(height, area.height());
    // Whole points, never narrower than the text measured.
    width = std::min(std::ceil(width), area.width());
    return QRectF(area.x() + std::floor((area.width() - width) / 2), area.y() + std::floor((area.height() - height) / 2), width, height);
}

QRectF PMRemoteInterfaceWindow::frameForScreen(QScreen* screen, const platform::ArrayPtr& items, const QString& title, qint64* getNumberOfLines)
{
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    const QRectF area = (screen ? QRectF(screen->geometry()) : QRectF(0, 0, 1280, 800)).adjusted(50, 50, -50, -50);
    const QFontMetricsF metrics(listFont());
    QList<double> widths;
    for (const Value& item : items ? *items : platform::Array())
        widths << metrics.horizontalAdvance(nameOf(item));
    return frameForArea(area, widths, metrics.horizontalAdvance(title), metrics.horizontalAdvance(QStringLiteral("Empty")),
                        metrics.horizontalAdvance(QStringLiteral(">")), getNumberOfLines);
}

void PMRemoteInterfaceWindow::setDisplayedItems(const platform::ArrayPtr& items, const Value& parent, const Value& previouslySelectedItem)
{
    _displayedItems = items ? items : platform::Array::make();
    _displayedItemsParent = parent;
    const qsizetype index = previouslySelectedItem.isNull() ? -1 : _displayedItems->indexOfIdentical(previouslySelectedItem.objectPointer());
    _currentIndex = index < 0 ? 0 : index;
    if (QWidget::isVisible())
        sizeToFitForScreen(screen(), !prefs::get(prefs::keys::DoNotAnimateRemoteControlInterface));
    else
        sizeToFitForScreen(screen(), false);
}

Value PMRemoteInterfaceWindow::selectedItem() const
{
    if (!_displayedItems || _currentIndex < 0 || _currentIndex >= _displayedItems->count())
        return Value();
    return _displayedItems->at(_currentIndex);
}

QString PMRemoteInterfaceWindow::parentTitle() const
{
    const QString name = nameOf(_displayedItemsParent);
    return name.isEmpty() ? QStringLiteral("Pellis Library") : name;
}

void PMRemoteInterfaceWindow::showOnScreen(QScreen* screen)
{
    const bool wasVisible = QWidget::isVisible();
    sizeToFitForScreen(screen, false);
    if (wasVisible || prefs::get(prefs::keys::DoNotAnimateRemoteControlInterface)) {
        orderFrontAndFadeIn(this);
        return;
    }
    // It opens from a strip at its middle.
    const QRect final = geometry();
    const int inset = int(std::floor(final.height() * 0.45));
    setGeometry(final.adjusted(0, inset, 0, -inset));
    setWindowOpacity(1);
    show();
    raise();
    auto* animation = new QPropertyAnimation(this, "geometry", this);
    animation->setDuration(100);
    animation->setEndValue(final);
    animation->start(QAbstractAnimation::DeleteWhenStopped);
}

void PMRemoteInterfaceWindow::close()
{
    hide();
    _displayedItems.reset();
    _displayedItemsParent = Value();
}

bool PMRemoteInterfaceWindow::step(qint64 count)
{
    if (!_displayedItems || _displayedItems->isEmpty())
        return false;
    const qint64 delta = prefs::get(prefs::keys::InvertRemoteControlInterface) ? -count : count;
    const qint64 index = std::clamp<qint64>(_currentIndex + delta, 0, _displayedItems->count() - 1);
    if (index == _currentIndex)
        return false;
    _currentIndex = index;
    if (_remoteInterfaceView)
        _remoteInterfaceView->update();
    return true;
}

void PMRemoteInterfaceWindow::sizeToFitForScreen(QScreen* screen, bool animate)
{
    if (_remoteInterfaceView)
        _remoteInterfaceView->update();
    const QRect frame = frameForScreen(screen, _displayedItems, parentTitle(), &_numberOfLines).toRect();
    if (animate && QWidget::isVisible() && windowOpacity() > 0.5) {
        auto* animation = new QPropertyAnimation(this, "geometry", this);
        animation->setDuration(100);
        animation->setEndValue(frame);
        animation->start(QAbstractAnimation::DeleteWhenStopped);
    } else {
        setGeometry(frame);
    }
}

void PMRemoteInterfaceWindow::drawOverlayInBounds(QPainter& painter, const QRectF& bounds, PMSelfDrawingOverlayWindowContentView*)
{
    drawRemoteInterfaceInBounds(painter, bounds);
}

void PMRemoteInterfaceWindow::drawRemoteInterfaceInBounds(QPainter& painter, const QRectF& bounds)
{
    const PMRemoteInterfaceMetrics m = PMRemoteInterfaceMetricsForLineHeight(lineHeight());
    const double W = bounds.width(), H = bounds.height();
    const double U = m.lineHeight, p = m.spacing, h = m.margin, g = m.textOffset;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    // The panel itself: no effect view behind it here.
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(bounds, Qt::transparent);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    const QColor panel = QColor::fromRgbF(0.15f, 0.15f, 0.15f, 0.9f);
    PMFillRoundedRect(painter, bounds, m.cornerRadius, nullptr, &panel);
    const qint64 count = _displayedItems ? _displayedItems->count() : 0;
    if (count > 0)
        painter.fillRect(QRectF(0, std::floor(H / 2 + p), W, U), QApplication::palette().color(QPalette::Active, QPalette::Highlight));

    const QFont font = listFont();
    painter.setFont(font);
    painter.setPen(Qt::white);
    const QFontMetricsF metrics(font);
    const auto drawText = [&](const QRectF& rect, const QString& text, Qt::Alignment alignment) {
        painter.drawText(rect, int(alignment | Qt::AlignTop), metrics.elidedText(text, Qt::ElideMiddle, rect.width()));
    };
    double y = g + p;
    drawText(QRectF(h, y, W - 2 * h, U), parentTitle(), Qt::AlignHCenter);
    y += U + p;
    painter.fillRect(QRectF(h / 2, y - g - 1, W - h, 1), QColor::fromRgbF(1, 1, 1, 0.2f));
    y += p;
    const double chevron = metrics.horizontalAdvance(QStringLiteral(">"));
    const double textWidth = W - 2 * h - (count > 0 ? h + chevron : 0);
    for (qint64 i = 1; i < _numberOfLines; ++i, y += U) {
        if (count == 0) {
            drawText(QRectF(h, y, W - 2 * h, U), QStringLiteral("Empty"), Qt::AlignHCenter);
            break;
        }
        const qint64 index = _currentIndex + i - _numberOfLines / 2;
        if (index >= count)
            break;
        if (index < 0)
            continue;
        const Value item = _displayedItems->at(index);
        drawText(QRectF(h, y, textWidth, U), nameOf(item), Qt::AlignLeft);
        if (PMContainer(item))
            painter.drawText(QPointF(W - chevron - h, y + metrics.ascent()), QStringLiteral(">"));
    }
    painter.restore();
}
