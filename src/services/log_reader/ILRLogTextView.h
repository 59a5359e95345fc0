// The log window's text view: read-only paragraphs with grey and normal runs, wrapped to
// the width with later lines indented, selectable and searchable. It lays out only the
// paragraphs on screen (the others' heights are estimated until they are shown), so a
// log of a hundred thousand lines opens at once and a new line costs no more than itself.
#pragma once

#include "services/log_reader/ILRLogComposer.h"

#include <QtWidgets/QAbstractScrollArea>

#include <memory>
#include <unordered_map>
#include <vector>

class QTextLayout;

class ILRLogTextView : public QAbstractScrollArea {
    Q_OBJECT
public:
    static constexpr int kHeadIndent = 20;
    static constexpr int kParagraphSpacing = 5;

    explicit ILRLogTextView(QWidget* parent = nullptr);
    ~ILRLogTextView() override;

    // Replaces the text; only the paragraphs that differ from the shown ones are redone.
    void setParagraphs(ILRLogParagraphs paragraphs);
    const ILRLogParagraphs& paragraphs() const { return m_paragraphs; }
    QString text() const;
    void setTextContainerInset(const QSize& inset);

    // The selection, as (paragraph, offset) positions; empty when both are equal.
    struct Position {
        int paragraph = 0;
        int offset = 0;
        auto operator<=>(const Position&) const = default;
    };
    QString selectedText() const;
    Position selectionStart() const { return std::min(m_anchor, m_cursor); }
    void setSelection(Position anchor, Position cursor);
    void selectAll();
    void copy();
    // Selects the next (or previous) occurrence after the selection, wrapping around, and
    // scrolls to it. False when the text does not occur.
    bool find(const QString& string, bool backwards);

    // Whether the view shows its end, within `tolerance` points.
    bool isScrolledToEnd(int tolerance = 5) const;
    void scrollToEnd();
    // Scrolls so that the paragraph is visible.
    void scrollToParagraph(int paragraph);

    // The top of a paragraph in content coordinates (exact once it has been laid out).
    qint64 paragraphTop(int paragraph) const;
    qint64 contentHeight() const;

Q_SIGNALS:
    // Return or Enter was pressed in the view.
    void insertNewline();
    void findRequested();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    struct Layout;
    int availableWidth() const;
    int estimatedHeight(size_t index) const;
    void rebuildTree();
    void treeAdd(size_t index, qint64 delta);
    qint64 treePrefix(size_t count) const;
    // The paragraph whose box holds the content y (clamped to the paragraphs).
    int paragraphAt(qint64 y) const;
    Layout& layoutFor(int index);
    void dropLayouts(int from);
    void relayoutAll();
    void updateScrollRange();
    Position positionAt(const QPoint& viewportPoint);

    ILRLogParagraphs m_paragraphs;
    std::vector<int> m_heights;
    std::vector<bool> m_exact;
    std::vector<qint64> m_tree;
    std::unordered_map<int, std::unique_ptr<Layout>> m_layouts;
    QSize m_inset{2, 5};
    double m_averageCharWidth = 7.0;
    int m_lineSpacing = 16;
    int m_layoutWidth = -1;
    Position m_anchor;
    Position m_cursor;
    bool m_selecting = false;
};
