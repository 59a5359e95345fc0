#include "ui/library_window/PMMovieCell.h"

#include "library/model/PMMainController.h"
#include "foundation/PMSettingsKeys.h"
#include "platform/UserDefaults.h"
#include "ui/kit/NSFont+PMBackwardsCompatibleSystemFont.h"
#include "ui/kit/NSImage+PMDrawing.h"
#include "ui/kit/NSString+PMHelpManagerDrawing.h"
#include "ui/kit/NSView+PMExtensions.h"
#include "ui/kit/PMAppearance.h"
#include "ui/library_window/PMMovieOutlineView.h"

#include <QtGui/QFontMetricsF>
#include <QtGui/QHelpEvent>
#include <QtGui/QPainter>
#include <QtWidgets/QApplication>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QToolTip>

#include <cmath>

namespace {

const QString kCancelMark = QStringLiteral("\u2716");

QColor white(double white, double alpha)
{
    return QColor::fromRgbF(float(white), float(white), float(white), float(alpha));
}

// The playing mark: a small play triangle in the colour, 13 points high.
void drawPlayingSymbol(QPainter& painter, QPointF bottomLeft, const QColor& color)
{
    const double h = 13.0;
    const double w = 11.0;
    QPainterPath path;
    const QRectF box(bottomLeft.x(), bottomLeft.y() - h, w, h);
    const QRectF t = box.adjusted(2.5, 2.5, -1.5, -2.5);
    path.moveTo(t.left(), t.top());
    path.lineTo(t.right(), t.center().y());
    path.lineTo(t.left(), t.bottom());
    path.closeSubpath();
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setPen(Qt::NoPen);
    painter.setBrush(color);
    painter.drawPath(path);
    painter.restore();
}

bool isTemplateIcon(const QIcon& icon)
{
    return icon.name().endsWith(QLatin1String("-symbolic")) || icon.isMask();
}

} // namespace

PMMovieCell::PMMovieCell(PMMainController* dataSource, QObject* parent) : QStyledItemDelegate(parent), m_dataSource(dataSource) {}

void PMMovieCell::setStatus(const QString& status, qint64 percentage, bool canCancel, bool hightlightCancelButton)
{
    m_state.percentage = percentage;
    m_state.canCancel = canCancel;
    m_state.isCancelButtonHighlighted = hightlightCancelButton;
    if (status.isNull())
        m_state.status = QString();
    else if (status.isEmpty())
        // A progress without text still gets its badge: the pie alone.
        m_state.status = canCancel ? kCancelMark : (percentage != 0 ? QStringLiteral("") : QString());
    else
        m_state.status = canCancel ? status + QLatin1Char(' ') + kCancelMark : status;
}

bool PMMovieCell::drawsEmphasizedStatusBadge()
{
    platform::UserDefaults& defaults = platform::UserDefaults::standard();
    const platform::Value emphasize = defaults.objectForKey(prefs::keys::EmphasizeItemCountBadges);
    if (emphasize.isBool())
        return emphasize.boolean();
    return defaults.integerForKey(prefs::keys::ItemCountMode) > 2;
}

bool PMMovieCell::usesLargeListFont()
{
    return PMUsesLargeListFont();
}

double PMMovieCell::badgeWidth() const
{
    return badgeWidthUsingLargeFont(m_state.status, usesLargeListFont(), m_state.percentage != 0);
}

QSizeF PMMovieCell::cellSize(const QSizeF& baseSize) const
{
    QSizeF size = baseSize;
    const double step = iconWidth();
    if (!m_state.status.isNull())
        size.rwidth() += badgeWidth() + 5;
    if (m_state.playing)
        size.rwidth() += step;
    if (!m_state.icon.isNull())
        size.rwidth() += step;
    return size;
}

QRectF PMMovieCell::statusFrameForCellFrame(const QRectF& cellFrame) const
{
    if (m_state.status.isNull())
        return {};
    const double b = badgeWidth();
    const double m = std::floor(cellFrame.width() * 0.4);
    if (b <= m)
        return QRectF(cellFrame.x() + cellFrame.width() - b, cellFrame.y(), b, cellFrame.height());
    if (m >= 26)
        return QRectF(cellFrame.x() + cellFrame.width() - m, cellFrame.y(), m, cellFrame.height());
    return {};
}

QRectF PMMovieCell::textFrameForCellFrame(const QRectF& cellFrame) const
{
    double x = cellFrame.x(), y = cellFrame.y(), w = cellFrame.width(), h = cellFrame.height();
    const QRectF status = statusFrameForCellFrame(cellFrame);
    if (!status.isEmpty())
        w -= status.width() + 5;
    if (m_state.playing)
        w -= 19;
    if (!m_state.icon.isNull()) {
        const double s = iconWidth();
        x += s;
        w -= s;
    }
    double t = usesLargeListFont() ? 3 : 4;
    if (h < 21)
        t -= 2;
    y += t;
    h -= t;
    return QRectF(x, y, w, h);
}

QFont PMMovieCell::nameFont(bool medium)
{
    const double size = usesLargeListFont() ? 13 : 11;
    return medium ? backwardsCompatibleSystemFontOfSize(size, 2) : PMSystemFontOfSize(size);
}

PMMovieCell::DrawingStates PMMovieCell::drawingStatesInView(const QWidget* view) const
{
    DrawingStates s;
    const auto* outline = qobject_cast<const PMMovieOutlineView*>(view);
    s.inOutlineView = outline != nullptr;
    s.highlighted = view && m_state.highlightedDropTarget ? true : m_state.highlighted;
    s.active = true;
    if (view && !m_state.highlightedDropTarget)
        s.active = drawsActiveWindowContent(view);
    s.emphasized = view && s.highlighted && s.active && view->hasFocus();
    // While a drag aims at another row, the selection's plates are grey: its names keep
    // their own colour so that they stay readable.
    if (outline && outline->draggingDestinationDropOnRow() >= 0 && !m_state.highlightedDropTarget)
        s.emphasized = false;
    s.inverted = isInFullyInvertedDarkMode(view);
    s.mainWindow = view && view->window() && view->window()->isActiveWindow();
    return s;
}

PMMovieCell::BadgeStyle PMMovieCell::badgeStyle(const DrawingStates& s, bool* getNameEmphasis) const
{
    BadgeStyle style;
    const bool E = s.emphasized, I = s.inverted, H = s.highlighted, A = s.active;
    bool EB = drawsEmphasizedStatusBadge();
    if (m_state.playing && !m_state.status.isNull())
        EB = true;
    // The first choice of plate: a pressed cancel mark, or the error colour of a missing movie.
    std::optional<QColor> plate;
    if (m_state.canCancel && m_state.isCancelButtonHighlighted)
        plate = E || I ? white(1.0, 0.25) : white(0.55, 1.0);
    else if (m_state.status == QLatin1String("?"))
        plate = errorColorWithAlpha(1.0);
    // A section header or the emphasised selection may still lighten the plate.
    if ((m_state.pseudoGroupItem || E) && s.inOutlineView && !plate && (E || (I && EB))) {
        plate = white(1.0, 0.2);
        EB = true;
    }
    if (getNameEmphasis)
        *getNameEmphasis = EB;
    if (E && PMSourceListUsesRoundedSelection) {
        style.noPlate = true;
    } else if (plate) {
        style.plate = plate;
    } else if (!EB) {
        style.noPlate = true;
        if (!E)
            style.text = white(I ? 1.0 : 0.0, PMShouldIncreaseContrast() ? 0.95 : (A ? 0.3 : 0.23));
    } else if (I || m_state.playing || PMShouldIncreaseContrast()) {
        style.plate = white(0.0, 0.2);
    } else {
        if (H)
            style.noPlate = true;
        else
            style.plate = white(0.0, 0.07);
        style.text = white(0.0, 0.5);
    }
    return style;
}

void PMMovieCell::drawWithFrame(QPainter& painter, const QRectF& cellFrame, const QWidget* view) const
{
    drawWithFrame(painter, cellFrame, drawingStatesInView(view));
}

void PMMovieCell::drawWithFrame(QPainter& painter, const QRectF& frame, const DrawingStates& s) const
{
    const bool large = usesLargeListFont();
    const bool P = m_state.pseudoGroupItem;
    const bool E = s.emphasized;
    const bool I = s.inverted;
    const QFont font = nameFont(P || E);
    const QRectF textFrame = textFrameForCellFrame(frame);
    const QRectF statusFrame = statusFrameForCellFrame(frame);
    const bool hasBadge = !statusFrame.isEmpty();

    painter.save();
    // The playing mark, unless the badge tells the place (it is then emphasised).
    if (m_state.playing && m_state.status.isNull()) {
        const QColor color = E ? QColor(Qt::white) : (I ? white(1.0, 0.85) : white(0.0, 0.85));
        drawPlayingSymbol(painter, QPointF(frame.x() + frame.width() - 17, frame.y() + frame.height() - (large ? 4 : 3)), color);
    }

    // The name.
    QColor textColor = m_state.textColor ? *m_state.textColor : (I ? white(1.0, 0.95) : white(0.0, 0.95));
    if ((P || E) && s.inOutlineView) {
        if (E || !P)
            textColor = Qt::white;
        else
            textColor = I ? white(1.0, 0.5) : white(0.0, 0.4);
    }
    painter.setFont(font);
    painter.setPen(textColor);
    const QFontMetricsF metrics(font);
    // The name's line sits in the middle of what is left of the row below its top inset.
    QRectF nameRect = textFrame.adjusted(2, 0, -2, 0);
    const double lineHeight = std::ceil(metrics.height());
    const double centred = frame.top() + (frame.height() - lineHeight) / 2.0;
    if (centred > nameRect.top())
        nameRect.setTop(std::round(centred));
    const QString name = metrics.elidedText(m_state.stringValue, Qt::ElideRight, std::max(0.0, nameRect.width()));
    painter.drawText(nameRect, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, name);

    // The badge.
    if (hasBadge) {
        const BadgeStyle style = badgeStyle(s);
        const PMBadgeBackground background = style.noPlate ? PMBadgeBackground::none()
            : style.plate ? PMBadgeBackground(*style.plate) : PMBadgeBackground();
        // Centred on the name's line.
        const double badgeHeight = std::ceil(QFontMetricsF(PMBadgeFont(large)).height()) + (large ? 0.5 : 0.0);
        const double lineCentre = nameRect.top() + lineHeight / 2.0;
        const double top = std::max(0.0, std::round(lineCentre - badgeHeight / 2.0 - statusFrame.y()));
        drawAsBadgeInRect(painter, m_state.status, statusFrame, large, style.text, background, nullptr, int(m_state.percentage), 0, 0, 2,
                          top, -1, -1, false, true);
    }

    // The icon.
    if (!m_state.icon.isNull()) {
        const QSizeF iconSize(16, 16);
        const QRectF target(frame.x() + 2, frame.y() + std::ceil((frame.height() - iconSize.height()) / 2.0), iconSize.width(),
                            iconSize.height());
        const double ratio = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
        QPixmap pixmap = m_state.icon.pixmap(iconSize.toSize(), ratio);
        if (!pixmap.isNull()) {
            QColor tint;
            double fraction = 1.0;
            if (isTemplateIcon(m_state.icon)) {
                if (E)
                    tint = Qt::white;
                else if (I)
                    tint = Qt::white, fraction = 0.4;
                else
                    fraction = s.mainWindow ? 0.6 : 0.4;
            }
            if (tint.isValid()) {
                QPixmap tinted(pixmap.size());
                tinted.setDevicePixelRatio(pixmap.devicePixelRatio());
                tinted.fill(Qt::transparent);
                QPainter p(&tinted);
                p.drawPixmap(0, 0, pixmap);
                p.setCompositionMode(QPainter::CompositionMode_SourceIn);
                p.fillRect(tinted.rect(), tint);
                p.end();
                pixmap = tinted;
            }
            painter.setOpacity(fraction);
            painter.drawPixmap(target, pixmap, QRectF(QPointF(0, 0), QSizeF(pixmap.size())));
            painter.setOpacity(1.0);
        }
    }
    painter.restore();
}

QRectF PMMovieCell::expansionFrameWithFrame(const QRectF& cellFrame, const QWidget* view, bool inOutlineView) const
{
    Q_UNUSED(view);
    const QFontMetricsF metrics(nameFont(m_state.pseudoGroupItem));
    const QRectF text = textFrameForCellFrame(cellFrame);
    const double needed = metrics.horizontalAdvance(m_state.stringValue) + 4;
    if (needed <= text.width())
        return {};
    if (!m_state.icon.isNull() && !inOutlineView)
        return {};
    return QRectF(cellFrame.x() - 2, cellFrame.y() - 1, needed + (text.x() - cellFrame.x()) + 4, cellFrame.height() + 2);
}

bool PMMovieCell::hitTestsEditableTextArea(const QPointF& point, const QRectF& cellFrame) const
{
    return m_state.editable && textFrameForCellFrame(cellFrame).contains(point);
}

void PMMovieCell::configureForIndex(const QModelIndex& index, const QWidget* view)
{
    reset();
    const auto* outline = qobject_cast<const PMMovieOutlineView*>(view);
    if (!outline) {
        m_state.stringValue = index.data(Qt::DisplayRole).toString();
        return;
    }
    const platform::Value item = outline->itemForIndex(index);
    m_state.stringValue = m_dataSource ? m_dataSource->outlineViewObjectValueByItem(item) : index.data(Qt::DisplayRole).toString();
    m_state.highlighted = outline->selectionModel() && outline->selectionModel()->isSelected(index);
    if (m_dataSource) {
        m_state.editable = m_dataSource->outlineViewCanEditItem(item);
        m_dataSource->outlineViewWillDisplayCell(*this, item);
    }
}

void PMMovieCell::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    // The cell is configured for each row as it is drawn, as the list's one cell.
    auto* self = const_cast<PMMovieCell*>(this);
    self->configureForIndex(index, option.widget);
    QRectF frame = option.rect;
    if (const auto* outline = qobject_cast<const PMMovieOutlineView*>(option.widget))
        frame = outline->correctedFrame(frame, outline->rowForIndex(index), true, true);
    drawWithFrame(*painter, frame, option.widget);
}

QSize PMMovieCell::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    Q_UNUSED(option);
    auto* self = const_cast<PMMovieCell*>(this);
    self->configureForIndex(index, option.widget);
    const QFontMetricsF metrics(nameFont(m_state.pseudoGroupItem));
    const QSizeF base(metrics.horizontalAdvance(m_state.stringValue) + 4, PMMovieOutlineView::rowHeight());
    return cellSize(base).toSize();
}

QWidget* PMMovieCell::createEditor(QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    Q_UNUSED(option);
    Q_UNUSED(index);
    auto* editor = new QLineEdit(parent);
    editor->setFrame(false);
    editor->setFont(nameFont(false));
    return editor;
}

void PMMovieCell::updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    auto* self = const_cast<PMMovieCell*>(this);
    self->configureForIndex(index, option.widget);
    QRectF frame = option.rect;
    if (const auto* outline = qobject_cast<const PMMovieOutlineView*>(option.widget))
        frame = outline->frameOfCellAtColumn(outline->rowForIndex(index));
    // The editor covers the name only, centred on the row.
    QRectF text = textFrameForCellFrame(frame);
    const double height = std::min(frame.height() - 2, std::max(text.height(), editor->sizeHint().height() * 1.0));
    text.setTop(frame.y() + (frame.height() - height) / 2.0);
    text.setHeight(height);
    editor->setGeometry(text.toAlignedRect());
}

bool PMMovieCell::helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option, const QModelIndex& index)
{
    if (!event || event->type() != QEvent::ToolTip || !view)
        return QStyledItemDelegate::helpEvent(event, view, option, index);
    configureForIndex(index, view);
    QRectF frame = option.rect;
    const auto* outline = qobject_cast<const PMMovieOutlineView*>(view);
    if (outline)
        frame = outline->frameOfCellAtColumn(outline->rowForIndex(index));
    if (expansionFrameWithFrame(frame, view, outline != nullptr).isEmpty()) {
        QToolTip::hideText();
        return true;
    }
    QToolTip::showText(event->globalPos(), m_state.stringValue, view);
    return true;
}
