#include "services/log_reader/ILRLogTextView.h"

#include <QtGui/QClipboard>
#include <QtGui/QContextMenuEvent>
#include <QtGui/QFontMetricsF>
#include <QtGui/QGuiApplication>
#include <QtGui/QKeyEvent>
#include <QtGui/QPainter>
#include <QtGui/QTextLayout>
#include <QtWidgets/QMenu>
#include <QtWidgets/QScrollBar>

#include <algorithm>
#include <cmath>

struct ILRLogTextView::Layout {
    QTextLayout layout;
    int height = 0;
};

namespace {

int lineSeparatorCount(const QString& text)
{
    return int(text.count(QChar(QChar::LineSeparator)));
}

} // namespace

ILRLogTextView::ILRLogTextView(QWidget* parent)
    : QAbstractScrollArea(parent)
{
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setCursor(Qt::IBeamCursor);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    verticalScrollBar()->setSingleStep(20);
    relayoutAll();
}

ILRLogTextView::~ILRLogTextView() = default;

// ---- Geometry -----------------------------------------------------------------------------

namespace {
// Text keeps this much room from the inset on either side, as the text of any text view
// does, so that the first column (the times) does not touch the window's edge.
constexpr int kLineFragmentPadding = 5;
} // namespace

int ILRLogTextView::availableWidth() const
{
    return std::max(40, viewport()->width() - 2 * (m_inset.width() + kLineFragmentPadding));
}

int ILRLogTextView::estimatedHeight(size_t index) const
{
    const ILRLogParagraph& p = m_paragraphs[index];
    const double perLine = std::max(1.0, (availableWidth() - kHeadIndent) / m_averageCharWidth);
    const int forced = lineSeparatorCount(p.text) + 1;
    const int wrapped = int(std::ceil(double(p.text.size()) / perLine));
    return std::max(forced, wrapped) * m_lineSpacing + kParagraphSpacing;
}

void ILRLogTextView::rebuildTree()
{
    const size_t n = m_heights.size();
    m_tree.assign(n + 1, 0);
    for (size_t i = 1; i <= n; ++i) {
        m_tree[i] += m_heights[i - 1];
        const size_t parent = i + (i & (~i + 1));
        if (parent <= n)
            m_tree[parent] += m_tree[i];
    }
}

void ILRLogTextView::treeAdd(size_t index, qint64 delta)
{
    for (size_t i = index + 1; i < m_tree.size(); i += i & (~i + 1))
        m_tree[i] += delta;
}

qint64 ILRLogTextView::treePrefix(size_t count) const
{
    qint64 sum = 0;
    for (size_t i = std::min(count, m_tree.size() - 1); i > 0; i -= i & (~i + 1))
        sum += m_tree[i];
    return sum;
}

qint64 ILRLogTextView::paragraphTop(int paragraph) const
{
    return m_inset.height() + treePrefix(size_t(std::max(0, paragraph)));
}

qint64 ILRLogTextView::contentHeight() const
{
    return 2 * m_inset.height() + treePrefix(m_heights.size());
}

int ILRLogTextView::paragraphAt(qint64 y) const
{
    y -= m_inset.height();
    if (m_heights.empty() || y < 0)
        return 0;
    // The largest count whose prefix sum stays at or below y.
    size_t pos = 0;
    size_t step = 1;
    while (step * 2 < m_tree.size())
        step *= 2;
    qint64 rest = y;
    for (; step > 0; step /= 2) {
        if (pos + step < m_tree.size() && m_tree[pos + step] <= rest) {
            pos += step;
            rest -= m_tree[pos];
        }
    }
    return int(std::min(pos, m_heights.size() - 1));
}

ILRLogTextView::Layout& ILRLogTextView::layoutFor(int index)
{
    auto it = m_layouts.find(index);
    if (it != m_layouts.end())
        return *it->second;
    if (m_layouts.size() > 400)
        m_layouts.clear();
    auto item = std::make_unique<Layout>();
    const ILRLogParagraph& p = m_paragraphs[size_t(index)];
    item->layout.setText(p.text);
    item->layout.setFont(font());
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    item->layout.setTextOption(option);
    QList<QTextLayout::FormatRange> formats;
    QTextCharFormat grey;
    grey.setForeground(palette().color(QPalette::Disabled, QPalette::WindowText));
    if (p.greyPrefix > 0)
        formats.append({0, p.greyPrefix, grey});
    if (p.greySuffix < p.text.size())
        formats.append({p.greySuffix, int(p.text.size()) - p.greySuffix, grey});
    item->layout.setFormats(formats);
    const int width = availableWidth();
    double y = 0;
    item->layout.beginLayout();
    for (bool first = true;; first = false) {
        QTextLine line = item->layout.createLine();
        if (!line.isValid())
            break;
        const int indent = first ? 0 : kHeadIndent;
        line.setLineWidth(std::max(10, width - indent));
        line.setPosition(QPointF(indent, y));
        y += line.height();
    }
    item->layout.endLayout();
    item->height = int(std::ceil(y)) + kParagraphSpacing;
    const size_t i = size_t(index);
    if (!m_exact[i] || m_heights[i] != item->height) {
        treeAdd(i, qint64(item->height) - m_heights[i]);
        m_heights[i] = item->height;
        m_exact[i] = true;
    }
    return *m_layouts.emplace(index, std::move(item)).first->second;
}

void ILRLogTextView::dropLayouts(int from)
{
    for (auto it = m_layouts.begin(); it != m_layouts.end();) {
        if (it->first >= from)
            it = m_layouts.erase(it);
        else
            ++it;
    }
}

void ILRLogTextView::relayoutAll()
{
    const QFontMetricsF metrics(font());
    m_averageCharWidth = std::max(1.0, metrics.averageCharWidth());
    m_lineSpacing = int(std::ceil(metrics.lineSpacing()));
    m_layoutWidth = availableWidth();
    m_layouts.clear();
    for (size_t i = 0; i < m_heights.size(); ++i) {
        m_heights[i] = estimatedHeight(i);
        m_exact[i] = false;
    }
    rebuildTree();
    updateScrollRange();
}

void ILRLogTextView::updateScrollRange()
{
    QScrollBar* bar = verticalScrollBar();
    const qint64 maximum = std::max<qint64>(0, contentHeight() - viewport()->height());
    bar->setRange(0, int(std::min<qint64>(maximum, INT_MAX)));
    bar->setPageStep(viewport()->height());
}

// ---- Content ------------------------------------------------------------------------------

void ILRLogTextView::setParagraphs(ILRLogParagraphs paragraphs)
{
    const bool atEnd = isScrolledToEnd();
    const size_t oldCount = m_paragraphs.size(), newCount = paragraphs.size();
    size_t prefix = 0;
    while (prefix < oldCount && prefix < newCount && m_paragraphs[prefix] == paragraphs[prefix])
        ++prefix;
    size_t suffix = 0;
    while (suffix < oldCount - prefix && suffix < newCount - prefix
           && m_paragraphs[oldCount - 1 - suffix] == paragraphs[newCount - 1 - suffix])
        ++suffix;
    if (prefix == oldCount && prefix == newCount)
        return;
    const size_t removed = oldCount - prefix - suffix, inserted = newCount - prefix - suffix;
    // Layouts after the change point are made again when shown; the ones before stay.
    dropLayouts(int(prefix));
    auto pBegin = m_paragraphs.begin() + qsizetype(prefix);
    m_paragraphs.erase(pBegin, pBegin + qsizetype(removed));
    m_paragraphs.insert(m_paragraphs.begin() + qsizetype(prefix), std::make_move_iterator(paragraphs.begin() + qsizetype(prefix)),
                        std::make_move_iterator(paragraphs.begin() + qsizetype(prefix + inserted)));
    m_heights.erase(m_heights.begin() + qsizetype(prefix), m_heights.begin() + qsizetype(prefix + removed));
    m_heights.insert(m_heights.begin() + qsizetype(prefix), inserted, 0);
    m_exact.erase(m_exact.begin() + qsizetype(prefix), m_exact.begin() + qsizetype(prefix + removed));
    m_exact.insert(m_exact.begin() + qsizetype(prefix), inserted, false);
    // Paragraphs after the change keep their measured heights; their layouts are redone.
    for (size_t i = prefix; i < prefix + inserted; ++i)
        m_heights[i] = estimatedHeight(i);
    rebuildTree();
    if (Position{int(prefix), 0} <= std::max(m_anchor, m_cursor))
        m_anchor = m_cursor = Position{};
    updateScrollRange();
    if (atEnd)
        scrollToEnd();
    viewport()->update();
}

QString ILRLogTextView::text() const
{
    return ILRLogText(m_paragraphs);
}

void ILRLogTextView::setTextContainerInset(const QSize& inset)
{
    m_inset = inset;
    relayoutAll();
    viewport()->update();
}

bool ILRLogTextView::isScrolledToEnd(int tolerance) const
{
    const QScrollBar* bar = verticalScrollBar();
    return bar->value() >= bar->maximum() - tolerance;
}

void ILRLogTextView::scrollToEnd()
{
    // Measure the last screenful exactly, so the end is the true end.
    qint64 filled = 0;
    for (int i = int(m_paragraphs.size()) - 1; i >= 0 && filled < viewport()->height() + m_lineSpacing; --i)
        filled += layoutFor(i).height;
    updateScrollRange();
    verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

void ILRLogTextView::scrollToParagraph(int paragraph)
{
    if (paragraph < 0 || size_t(paragraph) >= m_paragraphs.size())
        return;
    const int height = layoutFor(paragraph).height;
    updateScrollRange();
    const qint64 top = paragraphTop(paragraph);
    QScrollBar* bar = verticalScrollBar();
    if (top < bar->value())
        bar->setValue(int(top));
    else if (top + height > bar->value() + viewport()->height())
        bar->setValue(int(std::min<qint64>(top, top + height - viewport()->height())));
}

// ---- Selection ----------------------------------------------------------------------------

QString ILRLogTextView::selectedText() const
{
    Position from = std::min(m_anchor, m_cursor), to = std::max(m_anchor, m_cursor);
    if (from == to || m_paragraphs.empty())
        return QString();
    QString text;
    for (int i = from.paragraph; i <= to.paragraph && size_t(i) < m_paragraphs.size(); ++i) {
        const QString& t = m_paragraphs[size_t(i)].text;
        const int start = i == from.paragraph ? from.offset : 0;
        const int end = i == to.paragraph ? to.offset : int(t.size());
        if (i != from.paragraph)
            text += QLatin1Char('\n');
        text += t.mid(start, end - start);
    }
    text.replace(QChar(QChar::LineSeparator), QLatin1Char('\n'));
    return text;
}

void ILRLogTextView::setSelection(Position anchor, Position cursor)
{
    m_anchor = anchor;
    m_cursor = cursor;
    viewport()->update();
}

void ILRLogTextView::selectAll()
{
    if (m_paragraphs.empty())
        return;
    setSelection(Position{}, Position{int(m_paragraphs.size()) - 1, int(m_paragraphs.back().text.size())});
}

void ILRLogTextView::copy()
{
    const QString text = selectedText();
    if (!text.isEmpty())
        QGuiApplication::clipboard()->setText(text);
}

bool ILRLogTextView::find(const QString& string, bool backwards)
{
    if (string.isEmpty() || m_paragraphs.empty())
        return false;
    const Position from = std::min(m_anchor, m_cursor), to = std::max(m_anchor, m_cursor);
    const int count = int(m_paragraphs.size());
    for (int step = 0; step <= count; ++step) {
        int index;
        qsizetype at;
        if (!backwards) {
            index = (to.paragraph + step) % count;
            const qsizetype start = step == 0 ? to.offset : 0;
            at = m_paragraphs[size_t(index)].text.indexOf(string, start, Qt::CaseInsensitive);
            // Wrapping back round to the first paragraph looks at its beginning too.
            if (at < 0 && step == count && index == to.paragraph)
                at = m_paragraphs[size_t(index)].text.indexOf(string, 0, Qt::CaseInsensitive);
        } else {
            index = ((from.paragraph - step) % count + count) % count;
            const QString& t = m_paragraphs[size_t(index)].text;
            const qsizetype start = step == 0 ? from.offset - 1 : -1;
            at = start < 0 && step == 0 ? -1 : t.lastIndexOf(string, start, Qt::CaseInsensitive);
        }
        if (at >= 0) {
            setSelection(Position{index, int(at)}, Position{index, int(at + string.size())});
            scrollToParagraph(index);
            return true;
        }
    }
    return false;
}

ILRLogTextView::Position ILRLogTextView::positionAt(const QPoint& point)
{
    if (m_paragraphs.empty())
        return Position{};
    const qint64 y = qint64(point.y()) + verticalScrollBar()->value();
    if (y < m_inset.height())
        return Position{};
    if (y >= contentHeight() - m_inset.height())
        return Position{int(m_paragraphs.size()) - 1, int(m_paragraphs.back().text.size())};
    const int index = paragraphAt(y);
    Layout& item = layoutFor(index);
    const double localY = double(y - paragraphTop(index));
    const double localX = point.x() - m_inset.width() - kLineFragmentPadding;
    QTextLine hit;
    for (int l = 0; l < item.layout.lineCount(); ++l) {
        QTextLine line = item.layout.lineAt(l);
        hit = line;
        if (localY < line.y() + line.height())
            break;
    }
    if (!hit.isValid())
        return Position{index, 0};
    return Position{index, hit.xToCursor(localX)};
}

// ---- Events -------------------------------------------------------------------------------

void ILRLogTextView::paintEvent(QPaintEvent*)
{
    QPainter painter(viewport());
    if (m_layoutWidth != availableWidth())
        relayoutAll();
    if (m_paragraphs.empty())
        return;
    const qint64 scroll = verticalScrollBar()->value();
    const Position from = std::min(m_anchor, m_cursor), to = std::max(m_anchor, m_cursor);
    QTextCharFormat selected;
    selected.setBackground(palette().brush(hasFocus() ? QPalette::Active : QPalette::Inactive, QPalette::Highlight));
    selected.setForeground(palette().brush(hasFocus() ? QPalette::Active : QPalette::Inactive, QPalette::HighlightedText));
    painter.setPen(palette().color(QPalette::Text));
    const qint64 oldTotal = contentHeight();
    int index = paragraphAt(scroll);
    // Laying out may correct the heights of the paragraphs above the first one drawn
    // only when they were drawn before, so positions are read after each layout.
    while (size_t(index) < m_paragraphs.size()) {
        Layout& item = layoutFor(index);
        const qint64 top = paragraphTop(index) - scroll;
        if (top >= viewport()->height())
            break;
        QList<QTextLayout::FormatRange> selections;
        if (from != to && index >= from.paragraph && index <= to.paragraph) {
            const int start = index == from.paragraph ? from.offset : 0;
            const int end = index == to.paragraph ? to.offset : int(m_paragraphs[size_t(index)].text.size()) + 1;
            selections.append({start, end - start, selected});
        }
        item.layout.draw(&painter, QPointF(m_inset.width() + kLineFragmentPadding, double(top)), selections);
        ++index;
    }
    if (contentHeight() != oldTotal)
        updateScrollRange();
}

void ILRLogTextView::resizeEvent(QResizeEvent* event)
{
    const bool atEnd = isScrolledToEnd();
    QAbstractScrollArea::resizeEvent(event);
    if (m_layoutWidth != availableWidth())
        relayoutAll();
    else
        updateScrollRange();
    if (atEnd)
        scrollToEnd();
}

void ILRLogTextView::changeEvent(QEvent* event)
{
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::PaletteChange) {
        relayoutAll();
        viewport()->update();
    }
}

void ILRLogTextView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return QAbstractScrollArea::mousePressEvent(event);
    const Position at = positionAt(event->position().toPoint());
    if (event->modifiers() & Qt::ShiftModifier)
        setSelection(m_anchor, at);
    else
        setSelection(at, at);
    m_selecting = true;
}

void ILRLogTextView::mouseMoveEvent(QMouseEvent* event)
{
    if (!m_selecting || !(event->buttons() & Qt::LeftButton))
        return;
    QPoint point = event->position().toPoint();
    // Dragging past the edges scrolls.
    if (point.y() < 0)
        verticalScrollBar()->setValue(verticalScrollBar()->value() + point.y());
    else if (point.y() > viewport()->height())
        verticalScrollBar()->setValue(verticalScrollBar()->value() + point.y() - viewport()->height());
    setSelection(m_anchor, positionAt(point));
}

void ILRLogTextView::mouseDoubleClickEvent(QMouseEvent* event)
{
    // The whole paragraph: one message with its time.
    const Position at = positionAt(event->position().toPoint());
    if (size_t(at.paragraph) < m_paragraphs.size())
        setSelection(Position{at.paragraph, 0}, Position{at.paragraph, int(m_paragraphs[size_t(at.paragraph)].text.size())});
}

void ILRLogTextView::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        Q_EMIT insertNewline();
        event->accept();
        return;
    }
    if (event->matches(QKeySequence::Copy)) {
        copy();
        return;
    }
    if (event->matches(QKeySequence::SelectAll)) {
        selectAll();
        return;
    }
    if (event->matches(QKeySequence::Find)) {
        Q_EMIT findRequested();
        return;
    }
    QScrollBar* bar = verticalScrollBar();
    switch (event->key()) {
    case Qt::Key_Home:
        bar->setValue(0);
        return;
    case Qt::Key_End:
        scrollToEnd();
        return;
    case Qt::Key_Up:
        bar->setValue(bar->value() - m_lineSpacing);
        return;
    case Qt::Key_Down:
        bar->setValue(bar->value() + m_lineSpacing);
        return;
    default:
        break;
    }
    QAbstractScrollArea::keyPressEvent(event);
}

void ILRLogTextView::contextMenuEvent(QContextMenuEvent* event)
{
    QMenu menu(this);
    QAction* copyItem = menu.addAction(tr("Copy"), this, &ILRLogTextView::copy);
    copyItem->setEnabled(m_anchor != m_cursor);
    menu.addAction(tr("Select All"), this, &ILRLogTextView::selectAll);
    menu.exec(event->globalPos());
}
