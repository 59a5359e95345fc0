// The folding gutter at the left edge of the property-list editor: one pill per foldable
// pair, shaded by nesting depth; hovering highlights the innermost pill under the pointer
// and its pair's brackets in the text, a click folds or unfolds that pair.
#pragma once

#include "ui/plist_editor/PMSubstring.h"

#include <QtGui/QColor>
#include <QtGui/QPainterPath>
#include <QtWidgets/QWidget>

#include <vector>

class PMJSONTextView;
class PMJSONGutterView;

// One pill: its rectangle in the gutter and the pair it stands for. Light objects made
// anew at each drawing, never widgets.
class PMJSONGutterPillLayer {
public:
    static PMJSONGutterPillLayer pillLayerWithRect(const QRectF& rect, PMJSONGutterView* inGutterView, PMWrappedSubstring* wrappedSubstring);

    void setFrame(const QRectF& frame);
    void setHighlighted(bool highlighted);
    QRectF frame() const { return m_frame; }
    QRectF clipLayer() const { return m_clip; }
    const QPainterPath& path() const { return m_path; }
    bool highlighted() const { return m_highlighted; }
    double indicatorInset() const;
    PMWrappedSubstring* wrappedSubstring = nullptr;
    PMJSONGutterView* gutterView = nullptr;
    void draw(QPainter& painter, bool dark, bool increasedContrast) const;

private:
    QRectF m_frame;
    QRectF m_clip;
    QPainterPath m_path;
    bool m_highlighted = false;
};

class PMJSONGutterView : public QWidget {
    Q_OBJECT
public:
    explicit PMJSONGutterView(PMJSONTextView* textView);

    PMJSONTextView* textView() const { return m_textView; }
    std::vector<PMWrappedSubstring*> foldableWrappedSubstrings;
    std::vector<PMWrappedSubstring*> foldedWrappedSubstrings;
    unsigned numberOfHierarchyLevels = 1;

    QColor fillColorForWrappedSubstring(const PMWrappedSubstring* pair, bool withStandardContrast, bool inDarkMode) const;
    static QColor borderColorInDarkMode(bool dark);
    void setHovers(bool hovers, PMWrappedSubstring* pillLayer);
    bool hoversHighlightedPillLayer() const;
    void setHighlightedPillLayer(PMWrappedSubstring* pair);
    void unhighlightPillLayer();
    bool highlightPillLayerForWrappedSubstring(PMWrappedSubstring* pair);
    PMWrappedSubstring* highlightedPillLayer() const { return m_highlighted; }
    // The pills as drawn last (tests and the text view's hover).
    std::vector<PMJSONGutterPillLayer> pillLayers();
    void updateLayer() { update(); }
    void updateTrackingAreas();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    void hoverAt(const QPointF& position);
    PMJSONTextView* m_textView;
    std::vector<PMWrappedSubstring*> m_hoveredPillLayers;
    PMWrappedSubstring* m_highlighted = nullptr;
};
