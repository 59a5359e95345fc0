#include "ui/library_window/PMTableCells.h"

#include "ui/kit/PMAppearance.h"
#include "ui/library_window/PMMovieOutlineView.h"

#include <QtGui/QFontMetricsF>
#include <QtGui/QImage>
#include <QtGui/QLinearGradient>
#include <QtGui/QPainter>
#include <QtGui/QPainterPath>
#include <QtWidgets/QWidget>

#include <cmath>

namespace {

QColor grey(double white, double alpha)
{
    return QColor::fromRgbF(float(white), float(white), float(white), float(alpha));
}

bool isDark(const QWidget* view)
{
    return view ? isInFullyInvertedDarkMode(view) : PMIsDarkMode();
}

// The text colour of a cell: white in a selected row of the focused table, else what the
// data source chose, else the control text colour of the appearance.
QColor textColorFor(const PMTableCellAppearance& a, bool dark)
{
    if (a.highlighted && a.focused)
        return Qt::white;
    if (a.textColor)
        return *a.textColor;
    if (!a.enabled)
        return dark ? grey(1.0, 0.35) : grey(0.0, 0.35);
    return dark ? grey(1.0, 0.9) : grey(0.0, 0.9);
}

} // namespace

// ---- Pills -------------------------------------------------------------------------

QString PMTokenPillPainter::ellipsisText(bool rightToLeft)
{
    return rightToLeft ? QStringLiteral("  \u00B7\u00B7\u00B7 ") : QStringLiteral(" \u00B7\u00B7\u00B7  ");
}

double PMTokenPillPainter::tokenWidth(const QString& title, const QFont& font)
{
    return std::ceil(QFontMetricsF(font).horizontalAdvance(title)) + 2 * kTitleMargin;
}

double PMTokenPillPainter::tokenHeight(const QFont& font)
{
    return std::ceil(QFontMetricsF(font).height()) + 2;
}

double PMTokenPillPainter::naturalWidth(const QStringList& tokens, const QFont& font)
{
    double width = 0;
    for (const QString& token : tokens)
        width += tokenWidth(token, font);
    if (tokens.size() > 1)
        width += kTokenSpacing * double(tokens.size() - 1);
    return width;
}

QColor PMTokenPillPainter::plateColor(bool dark, bool selected)
{
    if (selected)
        return dark ? QColor::fromRgbF(1, 1, 1, 0.28f) : QColor::fromRgbF(1, 1, 1, 0.85f);
    return dark ? QColor::fromRgbF(0.30f, 0.42f, 0.62f, 1) : QColor::fromRgbF(0.87f, 0.91f, 0.98f, 1);
}

QColor PMTokenPillPainter::borderColor(bool dark, bool selected)
{
    if (selected)
        return dark ? QColor::fromRgbF(1, 1, 1, 0.45f) : QColor::fromRgbF(1, 1, 1, 1);
    return dark ? QColor::fromRgbF(0.42f, 0.55f, 0.78f, 1) : QColor::fromRgbF(0.64f, 0.74f, 0.93f, 1);
}

QColor PMTokenPillPainter::titleColor(bool dark, bool selected)
{
    if (selected)
        return dark ? QColor(Qt::white) : QColor::fromRgbF(0.1f, 0.2f, 0.45f, 1);
    return dark ? grey(1.0, 0.92) : grey(0.0, 0.88);
}

void PMTokenPillPainter::drawTokens(QPainter& painter, const QRectF& rect, const QStringList& tokens, const QFont& font, bool dark,
                                    bool selected, bool rightToLeft)
{
    const double height = std::min(rect.height(), tokenHeight(font));
    const double y = rect.y() + std::floor((rect.height() - height) / 2.0);
    const QFontMetricsF metrics(font);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setFont(font);
    double x = rightToLeft ? rect.right() : rect.x();
    for (const QString& token : tokens) {
        const double width = tokenWidth(token, font);
        if (rightToLeft) {
            if (x <= rect.x())
                break;
            x -= width;
        } else if (x >= rect.right()) {
            break;
        }
        const QRectF plate(x + 0.5, y + 0.5, width - 1, height - 1);
        const double radius = plate.height() / 2.0;
        painter.setPen(QPen(borderColor(dark, selected), 1));
        painter.setBrush(plateColor(dark, selected));
        painter.drawRoundedRect(plate, radius, radius);
        painter.setPen(titleColor(dark, selected));
        // The title sits in the plate with the margins on both sides.
        const QRectF title(x + kTitleMargin, y, width - 2 * kTitleMargin, height);
        painter.drawText(title, Qt::AlignCenter | Qt::TextSingleLine, metrics.elidedText(token, Qt::ElideRight, title.width() + 1));
        x = rightToLeft ? x - kTokenSpacing : x + width + kTokenSpacing;
    }
    painter.restore();
}

// ---- Text cells ----------------------------------------------------------------------

QRectF PMTableViewTextFieldCell::verticallyOffsetRect(const QRectF& rect) const
{
    const double offset = verticalOffset();
    if (offset <= 0.1)
        return rect;
    return QRectF(rect.x(), rect.y() + offset, rect.width(), rect.height() - offset);
}

QRectF PMTableViewTextFieldCell::drawingRectForBounds(const QRectF& bounds) const
{
    // The toolkit's text inset (2 points on each side), then the offset.
    return verticallyOffsetRect(bounds.adjusted(2, 0, -2, 0));
}

int PMTableViewTextFieldCell::hitTestForEvent(const QPointF& point, const QRectF& frame) const
{
    const QRectF text = drawingRectForBounds(frame);
    if (text.contains(point))
        return m_editable ? HitEditableTextArea | HitContentArea : HitContentArea;
    if (m_editable && frame.contains(point))
        return HitEditableTextArea;
    return HitNone;
}

void PMTableViewTextFieldCell::drawInteriorWithFrame(QPainter& painter, const QRectF& frame, const QWidget* view) const
{
    const bool dark = isDark(view);
    QRectF rect = drawingRectForBounds(frame);
    QFont font = m_appearance.font;
    font.setBold(m_appearance.bold);
    QString text = m_string;
    QColor color = textColorFor(m_appearance, dark);
    if (text.isEmpty() && !m_appearance.placeholder.isEmpty()) {
        text = m_appearance.placeholder;
        color = dark ? grey(1.0, 0.35) : grey(0.0, 0.35);
    }
    if (text.isEmpty())
        return;
    const QFontMetricsF metrics(font);
    painter.save();
    painter.setFont(font);
    painter.setPen(color);
    const Qt::Alignment horizontal = m_appearance.alignment & Qt::AlignHorizontal_Mask;
    // Single lines: the text's line is centred in what is left below the offset.
    painter.drawText(rect, (horizontal ? horizontal : Qt::AlignLeft) | Qt::AlignVCenter | Qt::TextSingleLine,
                     metrics.elidedText(text, Qt::ElideRight, std::max(0.0, rect.width())));
    painter.restore();
}

// ---- Token cells ---------------------------------------------------------------------

QRectF PMTableViewTokenFieldCell::expansionFrameWithFrame(const QRectF& frame) const
{
    if (frame.isEmpty())
        return frame;
    const double offset = verticalOffset();
    if (offset > 0.1)
        return frame.adjusted(0, -offset, 0, offset);
    return frame.adjusted(0, -2, 0, 2);
}

void PMTableViewTokenFieldCell::drawWithExpansionFrame(QPainter& painter, const QRectF& frame, const QWidget* view) const
{
    QRectF rect = frame;
    if (verticalOffset() <= 0.1)
        rect = rect.adjusted(0, 2, 0, -2);
    drawInteriorWithFrame(painter, rect, view);
}

double PMTableViewTokenFieldCell::naturalWidth() const
{
    if (tokenStyle() == 1)
        return QFontMetricsF(m_appearance.font).horizontalAdvance(m_tokens.join(QStringLiteral(", "))) + 4;
    return PMTokenPillPainter::naturalWidth(m_tokens, m_appearance.font);
}

void PMTableViewTokenFieldCell::drawTokensOrText(QPainter& painter, const QRectF& rect, bool dark, bool selected) const
{
    if (tokenStyle() == 1) {
        PMTableViewTextFieldCell plain;
        PMTableCellAppearance a = m_appearance;
        plain.setAppearance(a);
        plain.setStringValue(m_tokens.join(QStringLiteral(", ")));
        // The rectangle is already offset.
        plain.drawInteriorWithFrame(painter, rect, nullptr);
        return;
    }
    PMTokenPillPainter::drawTokens(painter, rect, m_tokens, m_appearance.font, dark, selected, m_appearance.alignment & Qt::AlignRight);
}

void PMTableViewTokenFieldCell::drawInteriorWithFrame(QPainter& painter, const QRectF& frame, const QWidget* view) const
{
    const bool dark = isDark(view);
    const bool selected = m_appearance.highlighted && m_appearance.focused;
    const QRectF rect = verticallyOffsetRect(frame);
    if (m_tokens.isEmpty()) {
        if (!m_appearance.placeholder.isEmpty()) {
            PMTableViewTextFieldCell placeholder;
            placeholder.setAppearance(m_appearance);
            placeholder.drawInteriorWithFrame(painter, frame, view);
        }
        return;
    }
    if (!m_clips || naturalWidth() <= rect.width()) {
        drawTokensOrText(painter, rect, dark, selected);
        return;
    }

    // Overflow: the first tokens fade out into the dotted ellipsis at the trailing end.
    const bool rightToLeft = view ? view->layoutDirection() == Qt::RightToLeft : false;
    const QString ellipsis = PMTokenPillPainter::ellipsisText(rightToLeft);
    const QFontMetricsF metrics(m_appearance.font);
    const double ellipsisWidth = metrics.horizontalAdvance(ellipsis);
    QColor ellipsisColor = selected ? QColor(Qt::white) : (dark ? grey(1.0, 0.5) : grey(0.0, 0.5));
    if (!selected)
        ellipsisColor.setAlphaF(0.5f);
    const double textHeight = metrics.height();
    const double ellipsisY = rect.y() + std::floor((rect.height() - textHeight) / 2.0);

    painter.save();
    painter.setFont(m_appearance.font);
    if (ellipsisWidth >= rect.width()) {
        painter.setPen(ellipsisColor);
        painter.drawText(QRectF(rect.x(), ellipsisY, rect.width(), textHeight), Qt::AlignLeft | Qt::TextSingleLine, ellipsis);
        painter.restore();
        return;
    }
    const QRectF tokenArea = rightToLeft ? QRectF(rect.x() + ellipsisWidth, rect.y(), rect.width() - ellipsisWidth, rect.height())
                                         : QRectF(rect.x(), rect.y(), rect.width() - ellipsisWidth, rect.height());
    const QRectF ellipsisRect = rightToLeft ? QRectF(rect.x(), ellipsisY, ellipsisWidth, textHeight)
                                            : QRectF(tokenArea.right(), ellipsisY, ellipsisWidth, textHeight);

    // The tokens are drawn into a layer of their own, which the mask then fades: opaque
    // away from the ellipsis, a 50-point gradient to clear next to it (the whole area when
    // it is that narrow).
    const qreal ratio = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
    QImage layer((tokenArea.size() * ratio).toSize().expandedTo(QSize(1, 1)), QImage::Format_ARGB32_Premultiplied);
    layer.setDevicePixelRatio(ratio);
    layer.fill(Qt::transparent);
    {
        QPainter p(&layer);
        drawTokensOrText(p, QRectF(QPointF(0, 0), tokenArea.size()), dark, selected);
        p.setCompositionMode(QPainter::CompositionMode_DestinationIn);
        const double width = tokenArea.width();
        const double fade = std::min(PMTokenPillPainter::kFadeWidth, width);
        const double fadeStart = rightToLeft ? fade : width - fade;
        const double fadeEnd = rightToLeft ? 0 : width;
        QLinearGradient gradient(QPointF(fadeStart, 0), QPointF(fadeEnd, 0));
        gradient.setColorAt(0, QColor(0, 0, 0, 255));
        gradient.setColorAt(1, QColor(0, 0, 0, 0));
        p.fillRect(QRectF(QPointF(0, 0), tokenArea.size()), gradient);
    }
    painter.drawImage(tokenArea.topLeft(), layer);
    painter.setPen(ellipsisColor);
    painter.drawText(ellipsisRect, Qt::AlignLeft | Qt::TextSingleLine, ellipsis);
    painter.restore();
}

double PMGroupTableViewTokenFieldCell::verticalOffset() const
{
    // The pills sit low in the row otherwise; text a little lower still.
    return PMUsesLargeListFont() ? 3 : 4;
}
