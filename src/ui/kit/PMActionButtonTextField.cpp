#include "ui/kit/PMActionButtonTextField.h"

#include "foundation/PMLog.h"
#include "platform/Alert.h"
#include "platform/FileManager.h"
#include "platform/Responder.h"
#include "foundation/PMSettingsKeys.h"
#include "platform/UserDefaults.h"
#include "ui/kit/PMAppearance.h"

#include <QtCore/QDir>
#include <QtCore/QFileInfo>
#include <QtGui/QHelpEvent>
#include <QtGui/QMouseEvent>
#include <QtGui/QPainter>
#include <QtWidgets/QApplication>
#include <QtWidgets/QToolTip>

#include <cmath>

namespace {

const QString kUpdateStatusFields = QStringLiteral("updateStatusFields");
const QString kPathLinkDisplayMode = prefs::keys::PathLinkDisplayMode;
const QString kPathLinkDisplayModeCanBeToggled = prefs::keys::PathLinkDisplayModeCanBeToggled;
const QString kGoToLinkURL = QStringLiteral("goToLinkURL");

double textWidth(const PMActionButtonTextField* field, const QString& text)
{
    return field->drawnTextWidth(text);
}

// The width the cell needs for its text on one unlimited line.
double naturalWidth(const PMActionButtonTextField* field, const QString& text)
{
    return textWidth(field, text) + 2 * PMActionButtonTextFieldCell::kTextInset;
}

// A path in the image's unflipped coordinates (y up), turned into Qt's.
void addLine(QPainterPath& path, double height, std::initializer_list<QPointF> points)
{
    bool first = true;
    for (const QPointF& point : points) {
        const QPointF flipped(point.x(), height - point.y());
        first ? path.moveTo(flipped) : path.lineTo(flipped);
        first = false;
    }
}

bool isSmallFont(const QWidget* field)
{
    return field->font().pointSizeF() < 11.5;
}

} // namespace

// ---- The cell ------------------------------------------------------------------------

QRectF PMActionButtonTextFieldCell::textFrameForCellFrame(const QRectF& cellFrame, double* getPadding) const
{
    const QString text = m_field->text();
    const double natural = naturalWidth(m_field, text);
    const double padding = std::floor((natural - textWidth(m_field, text)) * 0.5);
    if (getPadding)
        *getPadding = padding;
    const QImage image = m_field->actionButtonImage();
    const double button = image.isNull() ? 0 : image.deviceIndependentSize().width() + 4;
    const double width = std::min(natural, cellFrame.width() - button);
    double x = cellFrame.x();
    const Qt::Alignment alignment = m_field->alignment();
    if (alignment & Qt::AlignRight) {
        x = cellFrame.x() + (cellFrame.width() - width - button);
    } else if (alignment & Qt::AlignHCenter) {
        x = cellFrame.x() + std::floor((cellFrame.width() - (width + button)) * 0.5);
        const QWidget* window = m_field->window();
        if (m_field->centeredInWindow() && window && window != m_field) {
            // The same text centred on the window, when that keeps it 100 points inside.
            const double windowX = std::floor((window->width() - (width + button)) * 0.5);
            const double fieldX = m_field->mapFrom(window, QPointF(windowX, 0)).x();
            const QRectF centred(fieldX, cellFrame.y(), width + button, cellFrame.height());
            if (cellFrame.adjusted(100, -1, -100, 1).contains(centred))
                x = fieldX;
        }
    }
    return {x, cellFrame.y(), width, cellFrame.height()};
}

QRectF PMActionButtonTextFieldCell::actionButtonFrameForCellFrame(const QRectF& cellFrame) const
{
    const QImage image = m_field->actionButtonImage();
    if (image.isNull())
        return {};
    double padding = 0;
    const QRectF text = textFrameForCellFrame(cellFrame, &padding);
    const QSizeF size = image.deviceIndependentSize();
    return {text.x() + PMRoundHalfAwayFromZero(text.width() + 4 - padding),
            cellFrame.y() + std::floor((cellFrame.height() - size.height()) * 0.5), size.width(), size.height()};
}

void PMActionButtonTextFieldCell::drawWithFrame(QPainter& painter, const QRectF& cellFrame)
{
    painter.save();
    double padding = 0;
    const QRectF text = textFrameForCellFrame(cellFrame, &padding);
    const QRectF button = actionButtonFrameForCellFrame(cellFrame);
    QRectF content = text;
    if (!button.isEmpty()) {
        content = button.united(text);
        content.setWidth(content.width() + padding);
    }
    m_field->setDrawnContentFrame(content.adjusted(padding, 0, -padding, 0));

    const bool lit = _clicked || _hovered;
    const QColor color = lit ? backwardsCompatibleControlAccentColor() : m_field->palette().color(QPalette::WindowText);
    const double opacity = lit ? 1.0 : 0.8;
    const QRectF textArea = text.adjusted(padding, 0, -padding, 0);
    const QString shown = QFontMetricsF(m_field->font()).elidedText(m_field->text(), Qt::ElideMiddle, textArea.width() + 0.5);
    const QImage tinted = button.isEmpty() ? QImage() : PMTintedImage(m_field->actionButtonImage(), color, opacity);
    painter.setFont(m_field->font());
    if (_clicked) {
        // Pressed: a faint shadow half a point below.
        const double white = isInFullyInvertedDarkMode(m_field) ? 1.0 : 0.0;
        const QColor shadow = QColor::fromRgbF(white, white, white, 0.2);
        painter.setPen(shadow);
        painter.drawText(textArea.translated(0, 0.5), Qt::AlignVCenter | Qt::AlignLeft, shown);
        if (!tinted.isNull())
            painter.drawImage(button.translated(0, 0.5), PMTintedImage(tinted, shadow));
    }
    painter.setPen(color);
    m_field->drawText(painter, textArea, shown, color);
    if (!tinted.isNull())
        painter.drawImage(button, tinted);
    painter.restore();
}

double PMActionButtonTextField::drawnTextWidth(const QString& text) const
{
    return QFontMetricsF(font()).horizontalAdvance(text);
}

void PMActionButtonTextField::drawText(QPainter& painter, const QRectF& textArea, const QString& shown, const QColor&) const
{
    painter.drawText(textArea, Qt::AlignVCenter | Qt::AlignLeft, shown);
}

// ---- The field -----------------------------------------------------------------------

PMActionButtonTextField::PMActionButtonTextField(QWidget* parent)
    : QLabel(parent), m_cell(std::make_unique<PMActionButtonTextFieldCell>(this))
{
    setMouseTracking(true);
}

PMActionButtonTextField::~PMActionButtonTextField()
{
    if (m_press.cursorPushed)
        QApplication::restoreOverrideCursor();
}

void PMActionButtonTextField::awakeFromNib()
{
    // One point more at the bottom, for the button's shadow.
    setGeometry(x(), y(), width(), height() + 1);
    if (const QString tip = QWidget::toolTip(); !tip.isEmpty())
        setToolTip(tip);
}

QImage PMActionButtonTextField::actionButtonImageWithSymbolPathConfigurator(
    const std::function<void(bool small, QPainterPath& path)>& configurator) const
{
    const bool small = isSmallFont(this);
    const QSizeF size = small ? QSizeF(12, 12) : QSizeF(14, 15);
    const QRectF circle = small ? QRectF(1, 1, 10, 10) : QRectF(1, 1, 12, 12);
    constexpr qreal ratio = 2;
    QImage image((size * ratio).toSize(), QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    // The circle in unflipped coordinates: its top is at height - (y + height).
    const QRectF flippedCircle(circle.x(), size.height() - circle.bottom(), circle.width(), circle.height());
    painter.setPen(QPen(Qt::black, small ? 1.0 : 1.1));
    painter.drawEllipse(flippedCircle);
    QPainterPath symbol;
    if (configurator)
        configurator(small, symbol);
    painter.setPen(QPen(Qt::black, small ? 1.2 : 1.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.drawPath(symbol);
    return image;
}

QImage PMActionButtonTextField::rightPointingArrowActionButtonImage() const
{
    return actionButtonImageWithSymbolPathConfigurator([](bool small, QPainterPath& path) {
        if (small)
            addLine(path, 12, {{4.5, 3.5}, {7.5, 6}, {4.5, 8.5}});
        else
            addLine(path, 15, {{5.5, 4}, {8.5, 7}, {5.5, 10}});
    });
}

QImage PMActionButtonTextField::downPointingArrowActionButtonImage() const
{
    return actionButtonImageWithSymbolPathConfigurator([](bool small, QPainterPath& path) {
        if (small)
            addLine(path, 12, {{4, 7.5}, {6, 4.5}, {8, 7.5}});
        else
            addLine(path, 15, {{4, 8.5}, {7, 5.5}, {10, 8.5}});
    });
}

QImage PMActionButtonTextField::addActionButtonImage() const
{
    return actionButtonImageWithSymbolPathConfigurator([](bool small, QPainterPath& path) {
        const double h = small ? 12 : 15;
        if (small) {
            addLine(path, h, {{6, 3.5}, {6, 8.5}});
            addLine(path, h, {{3.5, 6}, {8.5, 6}});
        } else {
            addLine(path, h, {{7, 4}, {7, 10}});
            addLine(path, h, {{4, 7}, {10, 7}});
        }
    });
}

QImage PMActionButtonTextField::stopActionButtonImage() const
{
    return actionButtonImageWithSymbolPathConfigurator([](bool small, QPainterPath& path) {
        const double h = small ? 12 : 15;
        if (small) {
            addLine(path, h, {{4, 4}, {8, 8}});
            addLine(path, h, {{8, 4}, {4, 8}});
        } else {
            addLine(path, h, {{4.5, 4.5}, {9.5, 9.5}});
            addLine(path, h, {{9.5, 4.5}, {4.5, 9.5}});
        }
    });
}

QRectF PMActionButtonTextField::actionButtonTrackingFrameForCell(const PMActionButtonTextFieldCell* cell) const
{
    if (!cell)
        return {};
    const QRectF bounds = rect();
    QRectF area = cell->actionButtonFrameForCellFrame(bounds);
    if (_extendsActionButtonClickArea)
        area = area.isEmpty() ? cell->textFrameForCellFrame(bounds) : area.united(cell->textFrameForCellFrame(bounds));
    if (area.isEmpty())
        return {};
    return area.adjusted(-3, -3, 3, 3);
}

void PMActionButtonTextField::updateTrackingAreaForWindow(QWidget* window)
{
    m_trackingArea = QRectF();
    m_pointerInTrackingArea = false;
    m_cell->setHovered(false);
    if (window && m_cell)
        m_trackingArea = actionButtonTrackingFrameForCell(m_cell.get());
    update();
}

bool PMActionButtonTextField::canMoveWindow(const QWidget* window) const
{
    if (!window || !window->property("PMMovableByWindowBackground").toBool())
        return false;
    for (const QWidget* view = this; view && view != window; view = view->parentWidget()) {
        const QVariant can = view->property("PMMouseDownCanMoveWindow");
        if (can.isValid() && !can.toBool())
            return false;
    }
    return true;
}

bool PMActionButtonTextField::delegateAnswersUpdateStatusFields() const
{
    auto* responder = dynamic_cast<platform::Responder*>(m_delegate.data());
    return responder && responder->respondsToAction(kUpdateStatusFields);
}

QSize PMActionButtonTextField::sizeHint() const
{
    double width = std::ceil(naturalWidth(this, text()));
    if (!_actionButtonImage.isNull())
        width += _actionButtonImage.deviceIndependentSize().width() + 4;
    const double height = std::max<double>(QFontMetrics(font()).height() + 4, _actionButtonImage.deviceIndependentSize().height() + 2);
    return {int(std::ceil(width)), int(std::ceil(height))};
}

void PMActionButtonTextField::sizeToFit()
{
    resize(sizeHint());
}

void PMActionButtonTextField::setStringValue(const QString& string, const QString& action, QObject* target,
                                             const QString& toolTip, const QImage& image, bool updateTrackingArea)
{
    _actionButtonImage = image;
    m_targetAction.target = target;
    m_targetAction.action = action;
    setToolTip(toolTip);
    update();
    QLabel::setText(string);
    if (updateTrackingArea)
        updateTrackingAreaForWindow(window());
}

void PMActionButtonTextField::setStringValue(const QString& string)
{
    QLabel::setText(string);
    updateTrackingAreaForWindow(window());
}

void PMActionButtonTextField::setToolTip(const QString& toolTip)
{
    _actionButtonToolTip = toolTip;
    QWidget::setToolTip(QString());
}

bool PMActionButtonTextField::event(QEvent* event)
{
    switch (event->type()) {
    case QEvent::ToolTip: {
        const auto* help = static_cast<QHelpEvent*>(event);
        if (!_actionButtonToolTip.isEmpty() && m_trackingArea.contains(help->pos()))
            QToolTip::showText(help->globalPos(), _actionButtonToolTip, this, m_trackingArea.toAlignedRect());
        else
            QToolTip::hideText();
        return true;
    }
    case QEvent::ParentChange:
    case QEvent::Show:
    case QEvent::FontChange:
        updateTrackingAreaForWindow(window());
        break;
    default:
        break;
    }
    return QLabel::event(event);
}

void PMActionButtonTextField::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    m_cell->drawWithFrame(painter, rect());
}

void PMActionButtonTextField::resizeEvent(QResizeEvent* event)
{
    QLabel::resizeEvent(event);
    updateTrackingAreaForWindow(window());
}

void PMActionButtonTextField::mouseEntered()
{
    if (m_targetAction.action.isEmpty() || PMWindowIsBlockedByModalSession(window()))
        return;
    m_cell->setHovered(true);
    repaint();
}

void PMActionButtonTextField::mouseExited()
{
    m_cell->setHovered(false);
    repaint();
}

void PMActionButtonTextField::leaveEvent(QEvent* event)
{
    QLabel::leaveEvent(event);
    if (m_pointerInTrackingArea && !m_press.active) {
        m_pointerInTrackingArea = false;
        mouseExited();
    }
}

void PMActionButtonTextField::trackPointer(QPointF point)
{
    const bool inside = m_trackingArea.contains(point);
    if (inside == m_pointerInTrackingArea)
        return;
    m_pointerInTrackingArea = inside;
    inside ? mouseEntered() : mouseExited();
}

void PMActionButtonTextField::mousePressEvent(QMouseEvent* event)
{
    const bool hasAction = !m_targetAction.action.isEmpty();
    if (event->button() != Qt::LeftButton || (!hasAction && !canChangePathLinkDisplayMode())) {
        event->ignore();
        return;
    }
    m_press = Press();
    m_press.active = true;
    m_press.canMove = canMoveWindow(window());
    m_press.area = actionButtonTrackingFrameForCell(m_cell.get());
    m_press.track = hasAction;
    m_press.mode = canChangePathLinkDisplayMode();
    const bool inside = m_press.track && m_press.area.contains(event->position());
    m_press.mode = m_press.mode && !inside;
    m_press.track = m_press.track && inside;
    m_press.inside = m_press.wasInside = inside;
    if (inside != m_cell->clicked()) {
        m_cell->setClicked(inside);
        repaint();
    }
}

void PMActionButtonTextField::mouseMoveEvent(QMouseEvent* event)
{
    if (!m_press.active) {
        trackPointer(event->position());
        return;
    }
    if (m_press.canMove && m_press.track) {
        // The press moves the window: no button any more.
        m_cell->setHovered(false);
        if (m_press.wasInside && !m_press.cursorPushed) {
            QApplication::setOverrideCursor(Qt::ArrowCursor);
            m_press.cursorPushed = true;
        }
        m_press.track = false;
    }
    m_press.mode = false;
    const bool inside = m_press.track && m_press.area.contains(event->position());
    m_press.wasInside = inside;
    if (inside != m_cell->clicked()) {
        m_cell->setClicked(inside);
        repaint();
    }
}

void PMActionButtonTextField::mouseReleaseEvent(QMouseEvent* event)
{
    if (!m_press.active || event->button() != Qt::LeftButton)
        return;
    const bool inside = m_press.track && m_press.area.contains(event->position());
    const Press press = m_press;
    endPressTracking();
    if (inside) {
        m_cell->setClicked(false);
        m_targetAction.send(this, this);
    } else {
        m_cell->setClicked(false);
        m_cell->setHovered(false);
        if (press.mode) {
            platform::UserDefaults& defaults = platform::UserDefaults::standard();
            const qint64 mode = defaults.integerForKey(kPathLinkDisplayMode);
            defaults.setInteger(mode > 0 ? 0 : mode + 1, kPathLinkDisplayMode);
            if (auto* responder = dynamic_cast<platform::Responder*>(m_delegate.data());
                responder && responder->respondsToAction(kUpdateStatusFields))
                responder->performAction(kUpdateStatusFields, this);
        }
    }
    update();
    if (press.cursorPushed)
        QApplication::restoreOverrideCursor();
    trackPointer(event->position());
}

void PMActionButtonTextField::endPressTracking()
{
    m_press = Press();
}

// ---- Link fields ---------------------------------------------------------------------

QUrl PMLinkTextField::linkURLFromLink(const QVariant& link)
{
    static const QStringList prefixes = {QStringLiteral("ftp://"), QStringLiteral("ftps://"), QStringLiteral("http://"),
                                         QStringLiteral("https://"), QStringLiteral("mailto:")};
    if (link.typeId() == QMetaType::QString) {
        const QString string = link.toString();
        for (const QString& prefix : prefixes) {
            if (string.startsWith(prefix, Qt::CaseInsensitive)) {
                const QUrl url(string, QUrl::StrictMode);
                return url.isValid() ? url : QUrl();
            }
        }
        // Only an absolute path is a file: a bare word or a relative path is plain text.
        if (string.startsWith(QLatin1Char('/')))
            return QUrl::fromLocalFile(QDir::cleanPath(string));
        return {};
    }
    if (link.typeId() == QMetaType::QUrl) {
        const QUrl url = link.toUrl();
        if (!url.isValid())
            return {};
        if (url.isLocalFile())
            return QFileInfo(url.toLocalFile()).isAbsolute() ? url : QUrl();
        const QString scheme = url.scheme().toLower();
        const bool known = std::any_of(prefixes.begin(), prefixes.end(), [&](const QString& prefix) {
            return prefix.startsWith(scheme + QLatin1Char(':'));
        });
        return known ? url : QUrl();
    }
    return {};
}

bool PMLinkTextField::respondsToAction(const QString& action) const
{
    return action == kGoToLinkURL;
}

void PMLinkTextField::performAction(const QString& action, QObject* sender)
{
    if (action == kGoToLinkURL)
        goToLinkURL(sender);
}

void PMLinkTextField::setStringValue(const QString& string, const QVariant& link, const QString& toolTip, bool updateTrackingArea)
{
    _linkURL = linkURLFromLink(link);
    if (_linkURL.isValid())
        PMActionButtonTextField::setStringValue(string, kGoToLinkURL, this, toolTip, rightPointingArrowActionButtonImage(),
                                                updateTrackingArea);
    else
        PMActionButtonTextField::setStringValue(string, QString(), nullptr, toolTip, QImage(), updateTrackingArea);
}

void PMLinkTextField::setStringValue(const QString& string, const QVariant& link, const QString& toolTip)
{
    setStringValue(string, link, toolTip, true);
}

void PMLinkTextField::setStringValue(const QString& string, const QVariant& link)
{
    const QUrl url = linkURLFromLink(link);
    const QString toolTip = !url.isValid() ? QString() : url.isLocalFile() ? url.toLocalFile() : url.toDisplayString();
    setStringValue(string, link, toolTip, true);
}

void PMLinkTextField::setStringValue(const QString& string)
{
    setStringValue(string, QVariant(), QString(), true);
}

void PMLinkTextField::goToLinkURL(QObject*)
{
    if (!_linkURL.isValid()) {
        PMLog("[PMLinkTextField] cannot open <%@>", _linkURL.toString());
        platform::beep();
        return;
    }
    if (_linkURL.isLocalFile()) {
        // A file is only ever shown, never opened: opening could run a script or a
        // desktop entry. A file that is gone shows the nearest folder that is still there.
        const QString path = _linkURL.toLocalFile();
        if (QFileInfo::exists(path)) {
            platform::revealInFileManager({path});
            return;
        }
        PMLog("[PMLinkTextField] cannot reveal <%@> (original URL: <%@>)", path, _linkURL.toString());
        QDir folder = QFileInfo(path).absoluteDir();
        while (!folder.exists() && !folder.isRoot())
            folder.setPath(QFileInfo(folder.absolutePath()).absolutePath());
        if (folder.exists() && platform::openFolderInFileManager(folder.absolutePath()))
            return;
        PMLog("[PMLinkTextField] cannot open <%@>", _linkURL.toString());
        platform::beep();
        return;
    }
    if (!platform::openURLWithDefaultHandler(_linkURL)) {
        PMLog("[PMLinkTextField] cannot open <%@>", _linkURL.toString());
        platform::beep();
    }
}

bool PMLinkTextField::canChangePathLinkDisplayMode() const
{
    return _linkURL.isLocalFile() && delegateAnswersUpdateStatusFields() && !actionButtonImage().isNull()
           && platform::UserDefaults::standard().boolForKey(kPathLinkDisplayModeCanBeToggled);
}

// ---- Click-button labels ---------------------------------------------------------------

void PMClickButtonTextField::mousePressEvent(QMouseEvent*)
{
    if (m_clickButton && m_clickButton->isEnabled())
        m_clickButton->click();
}

void PMClickButtonTextFieldButton::setTextField(QLabel* field)
{
    m_textField = field;
    updateTextFieldColor();
}

void PMClickButtonTextFieldButton::changeEvent(QEvent* event)
{
    QCheckBox::changeEvent(event);
    if (event->type() == QEvent::EnabledChange || event->type() == QEvent::PaletteChange)
        updateTextFieldColor();
}

void PMClickButtonTextFieldButton::updateTextFieldColor()
{
    if (!m_textField)
        return;
    // Enabled, the label takes the colours of the appearance again (and follows its changes).
    QPalette palette;
    if (!isEnabled())
        palette.setColor(QPalette::WindowText, QApplication::palette(m_textField).color(QPalette::Disabled, QPalette::WindowText));
    m_textField->setPalette(palette);
    m_textField->update();
}
