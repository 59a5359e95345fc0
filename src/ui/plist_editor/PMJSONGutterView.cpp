#include "ui/plist_editor/PMJSONGutterView.h"

#include "foundation/PMLog.h"
#include "ui/kit/PMAppearance.h"
#include "ui/plist_editor/PMJSONTextView.h"

#include <QtGui/QMouseEvent>
#include <QtGui/QPainter>
#include <QtGui/QTextBlock>

#include <algorithm>
#include <cmath>

namespace {

// What the pills are drawn with; the gutter decides it for the state of each pill.
struct PillLook {
    QColor fill;
    QColor border;
    QColor indicator;
};

QPainterPath chevron(const QRectF& box, bool pointsRight, bool pointsDown)
{
    QPainterPath path;
    if (pointsRight) {
        path.moveTo(box.left(), box.top());
        path.lineTo(box.right(), box.center().y());
        path.lineTo(box.left(), box.bottom());
    } else if (pointsDown) {
        path.moveTo(box.left(), box.top());
        path.lineTo(box.center().x(), box.bottom());
        path.lineTo(box.right(), box.top());
    } else {
        path.moveTo(box.left(), box.bottom());
        path.lineTo(box.center().x(), box.top());
        path.lineTo(box.right(), box.bottom());
    }
    return path;
}

} // namespace

// ---- pills ----

PMJSONGutterPillLayer PMJSONGutterPillLayer::pillLayerWithRect(const QRectF& rect, PMJSONGutterView* inGutterView,
                                                              PMWrappedSubstring* wrappedSubstring)
{
    PMJSONGutterPillLayer pill;
    pill.gutterView = inGutterView;
    pill.wrappedSubstring = wrappedSubstring;
    const double i = PMJSONTextView::pillInset();
    const double g = PMJSONTextView::gutterWidth();
    // The clip: 2i in from each side, i above and below the pill.
    pill.m_clip = QRectF(2 * i, rect.y() - 2 * i, g - 4 * i, rect.height() + 2 * i);
    pill.setFrame(QRectF(i, rect.y() - i, g - 2 * i, rect.height()));
    return pill;
}

double PMJSONGutterPillLayer::indicatorInset() const
{
    return std::round(0.3 * PMJSONTextView::gutterWidth());
}

void PMJSONGutterPillLayer::setFrame(const QRectF& frame)
{
    m_frame = frame;
    m_path = QPainterPath();
    const bool folded = wrappedSubstring && wrappedSubstring->folded;
    const bool nested = wrappedSubstring && wrappedSubstring->numberOfEnclosingWrappedSubstrings > 0;
    if ((!m_highlighted && folded && nested) || frame.height() < frame.width()) {
        m_path.addRect(frame);
    } else {
        const double radius = (folded ? 0.3 : 0.5) * frame.width();
        m_path.addRoundedRect(frame, radius, radius);
    }
}

void PMJSONGutterPillLayer::setHighlighted(bool highlighted)
{
    if (highlighted == m_highlighted)
        return;
    const double i = PMJSONTextView::pillInset();
    m_highlighted = highlighted;
    setFrame(highlighted ? m_frame.adjusted(-i, 0, i, 0) : m_frame.adjusted(i, 0, -i, 0));
}

void PMJSONGutterPillLayer::draw(QPainter& painter, bool dark, bool increasedContrast) const
{
    const PMWrappedSubstring* pair = wrappedSubstring;
    const bool folded = pair->folded;
    const double i = PMJSONTextView::pillInset();
    PillLook look;
    look.border = PMJSONGutterView::borderColorInDarkMode(dark);
    if (m_highlighted) {
        const double level = (!dark || folded) ? 1.0 : 0.25;
        look.fill = QColor::fromRgbF(float(level), float(level), float(level));
        double stroke;
        if (increasedContrast)
            stroke = (dark && !folded) ? 1.0 : 0.0;
        else
            stroke = dark ? (folded ? 0.0 : 0.7) : 0.8;
        look.border = QColor::fromRgbF(float(stroke), float(stroke), float(stroke));
        if (folded)
            look.indicator = backwardsCompatibleControlAccentColor();
        else
            look.indicator = dark ? QColor::fromRgbF(1, 1, 1, increasedContrast ? 1.0f : 0.8f)
                                  : QColor::fromRgbF(0, 0, 0, increasedContrast ? 1.0f : 0.8f);
    } else {
        look.fill = gutterView->fillColorForWrappedSubstring(folded ? pair : nullptr, !increasedContrast, dark);
        look.indicator = dark ? QColor::fromRgbF(0, 0, 0) : QColor::fromRgbF(1, 1, 1);
    }
    painter.save();
    if (!m_highlighted)
        painter.setClipRect(m_clip);
    painter.setPen(QPen(look.border, i));
    painter.setBrush(look.fill);
    painter.drawPath(m_path);
    // The indicator: a chevron pointing right on a folded pill; two chevrons pointing
    // towards each other on a highlighted unfolded one.
    const double k = indicatorInset();
    const QRectF inside = m_frame.adjusted(k, k, -k, -k);
    if (inside.width() > 0 && (folded || m_highlighted)) {
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(look.indicator, 1.2 * i, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        const double w = inside.width();
        if (folded) {
            const double chevronWidth = std::min(w, inside.height() / 1.8);
            const double h = 1.8 * chevronWidth;
            painter.drawPath(chevron(QRectF(inside.center().x() - chevronWidth / 2, inside.center().y() - h / 2, chevronWidth, h), true, false));
        } else {
            const double h = 0.6 * w;
            if (m_frame.height() >= 2 * (2 * k - 0.5 + h) + 2) {
                painter.drawPath(chevron(QRectF(inside.left(), m_frame.top() + 2 * k - 0.5, w, h), false, true));
                painter.drawPath(chevron(QRectF(inside.left(), m_frame.bottom() - 2 * k + 0.5 - h, w, h), false, false));
            } else {
                painter.drawPath(chevron(QRectF(inside.left(), inside.center().y() - h / 2, w, h), false, true));
            }
        }
    }
    painter.restore();
}

// ---- the gutter ----

PMJSONGutterView::PMJSONGutterView(PMJSONTextView* textView) : QWidget(textView), m_textView(textView)
{
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent, false);
    setCursor(Qt::ArrowCursor);
}

QColor PMJSONGutterView::fillColorForWrappedSubstring(const PMWrappedSubstring* pair, bool withStandardContrast, bool inDarkMode) const
{
    const double levels = std::max(1u, numberOfHierarchyLevels);
    const double base = (withStandardContrast ? 0.7 : 1.0) / levels;
    double alpha;
    if (pair && pair->folded) {
        alpha = base * std::max(levels - double(pair->numberOfEnclosingWrappedSubstrings), 1.0);
        if (withStandardContrast)
            alpha = std::min(alpha, 0.5);
    } else {
        alpha = base;
        if (withStandardContrast)
            alpha = std::min(alpha, 0.15);
    }
    if (withStandardContrast && inDarkMode)
        alpha += 0.1;
    return inDarkMode ? QColor::fromRgbF(1, 1, 1, float(alpha)) : QColor::fromRgbF(0, 0, 0, float(alpha));
}

QColor PMJSONGutterView::borderColorInDarkMode(bool dark)
{
    return dark ? QColor::fromRgbF(0.1f, 0.1f, 0.1f) : QColor::fromRgbF(1, 1, 1);
}

std::vector<PMJSONGutterPillLayer> PMJSONGutterView::pillLayers()
{
    std::vector<PMJSONGutterPillLayer> pills;
    if (m_textView->isParsing())
        return pills;
    const double g = PMJSONTextView::gutterWidth();
    const double i = PMJSONTextView::pillInset();
    const QTextCursor top = m_textView->cursorForPosition(QPoint(0, 0));
    const QTextCursor bottom = m_textView->cursorForPosition(QPoint(m_textView->viewport()->width(), m_textView->viewport()->height()));
    const qsizetype firstVisible = top.block().position();
    const qsizetype lastVisible = bottom.block().position() + bottom.block().length();
    for (PMWrappedSubstring* pair : foldableWrappedSubstrings) {
        if (pair->wrappingRange.location > lastVisible)
            break; // sorted by start
        if (pair->wrappingRange.end() < firstVisible || pair->implicitlyHidden || pair->range.length == 0)
            continue;
        const QRectF box = m_textView->glyphBoxOfRange(pair->wrappingRange);
        if (box.isNull())
            continue;
        if (box.height() < g - 4 * i) {
            PMLog("unexpected tiny wrapper with content: <%@>", pair->stringValue());
            continue;
        }
        PMJSONGutterPillLayer pill = PMJSONGutterPillLayer::pillLayerWithRect(QRectF(0, box.y(), g, box.height() + 2 * i), this, pair);
        if (pair == m_highlighted)
            pill.setHighlighted(true);
        pills.push_back(pill);
    }
    return pills;
}

void PMJSONGutterView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), m_textView->palette().color(QPalette::Base));
    painter.setRenderHint(QPainter::Antialiasing);
    const bool dark = isInFullyInvertedDarkMode(m_textView);
    const bool contrast = PMShouldIncreaseContrast();
    const std::vector<PMJSONGutterPillLayer> pills = pillLayers();
    const PMJSONGutterPillLayer* highlighted = nullptr;
    for (const PMJSONGutterPillLayer& pill : pills) {
        if (pill.highlighted())
            highlighted = &pill;
        else
            pill.draw(painter, dark, contrast);
    }
    if (highlighted)
        highlighted->draw(painter, dark, contrast); // over its neighbours
}

void PMJSONGutterView::setHovers(bool hovers, PMWrappedSubstring* pillLayer)
{
    auto it = std::find(m_hoveredPillLayers.begin(), m_hoveredPillLayers.end(), pillLayer);
    if (hovers && it == m_hoveredPillLayers.end())
        m_hoveredPillLayers.push_back(pillLayer);
    else if (!hovers && it != m_hoveredPillLayers.end())
        m_hoveredPillLayers.erase(it);
}

bool PMJSONGutterView::hoversHighlightedPillLayer() const
{
    return m_highlighted && std::find(m_hoveredPillLayers.begin(), m_hoveredPillLayers.end(), m_highlighted) != m_hoveredPillLayers.end();
}

void PMJSONGutterView::setHighlightedPillLayer(PMWrappedSubstring* pair)
{
    if (pair == m_highlighted)
        return;
    m_highlighted = pair;
    update();
    m_textView->viewport()->update();
}

void PMJSONGutterView::unhighlightPillLayer()
{
    setHighlightedPillLayer(nullptr);
}

bool PMJSONGutterView::highlightPillLayerForWrappedSubstring(PMWrappedSubstring* pair)
{
    if (std::find(foldableWrappedSubstrings.begin(), foldableWrappedSubstrings.end(), pair) == foldableWrappedSubstrings.end())
        return false;
    setHighlightedPillLayer(pair);
    return true;
}

void PMJSONGutterView::updateTrackingAreas()
{
    m_hoveredPillLayers.clear();
    setHighlightedPillLayer(nullptr);
}

void PMJSONGutterView::hoverAt(const QPointF& position)
{
    m_hoveredPillLayers.clear();
    PMWrappedSubstring* innermost = nullptr;
    double innermostHeight = 0;
    for (const PMJSONGutterPillLayer& pill : pillLayers()) {
        if (!pill.clipLayer().united(pill.frame()).contains(position))
            continue;
        setHovers(true, pill.wrappedSubstring);
        if (!innermost || pill.frame().height() < innermostHeight) {
            innermost = pill.wrappedSubstring;
            innermostHeight = pill.frame().height();
        }
    }
    setHighlightedPillLayer(innermost);
}

void PMJSONGutterView::mouseMoveEvent(QMouseEvent* event)
{
    hoverAt(event->position());
}

void PMJSONGutterView::leaveEvent(QEvent*)
{
    updateTrackingAreas();
}

void PMJSONGutterView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    if (m_textView->isParsing()) {
        PMLog("busy parsing");
        return;
    }
    hoverAt(event->position());
    if (m_highlighted)
        m_textView->toggleFoldingOfWrappedSubstring(m_highlighted);
}
