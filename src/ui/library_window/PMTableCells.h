// The cells of the program's tables: text that sits lower in the row than the toolkit
// places it, and tag values drawn as pills ("tokens") that fade into a dotted ellipsis
// when they overflow their column instead of being cut. The pill painter is shared by
// the list's tag columns, the panels' tag tables and the token fields. A cell is light:
// the table configures it afresh for every row just before the row is drawn, as the
// data source's `willDisplayCell` answers. Main thread only.
#pragma once

#include <QtCore/QRectF>
#include <QtCore/QString>
#include <QtCore/QStringList>
#include <QtGui/QColor>
#include <QtGui/QFont>

#include <optional>
#include <vector>

class QPainter;
class QWidget;

// How a row's cell looks, as the data source sets it before the cell draws.
struct PMTableCellAppearance {
    QFont font;
    std::optional<QColor> textColor;
    Qt::Alignment alignment = Qt::AlignLeft; // the natural alignment
    bool highlighted = false;                // the row is selected
    bool focused = false;                    // ... in the key window's focused table
    bool enabled = true;
    bool bold = false;
    // The rating cell's tint (0 white, 1 grey, 2 gold) and whether its stars are lit.
    int tint = 1;
    bool ratingHighlighted = false;
    // Shown when the cell has no value.
    QString placeholder;
    // Token cells: 0 pills, 1 plain text.
    int tokenStyle = 0;
    // The name cell: its icon and the mark of the movie now playing.
    bool playing = false;
};

// Token pills: a title with 10 points on each side in a rounded plate.
namespace PMTokenPillPainter {
// The horizontal margin beside a token's title.
constexpr double kTitleMargin = 10;
// The room between two tokens.
constexpr double kTokenSpacing = 3;
// The gradient that fades overflowing tokens out next to the ellipsis.
constexpr double kFadeWidth = 50;
// " ··· " for left-to-right text (one blank, three middle dots, two blanks), the mirror
// for right-to-left.
QString ellipsisText(bool rightToLeft);
double tokenWidth(const QString& title, const QFont& font);
double tokenHeight(const QFont& font);
// All tokens side by side with their spacing.
double naturalWidth(const QStringList& tokens, const QFont& font);
// The plate colours: normal, and in a selected row of the focused table.
QColor plateColor(bool dark, bool selected);
QColor borderColor(bool dark, bool selected);
QColor titleColor(bool dark, bool selected);
// Draws the tokens from the rectangle's leading edge, vertically centred; tokens past the
// rectangle are not drawn.
void drawTokens(QPainter& painter, const QRectF& rect, const QStringList& tokens, const QFont& font, bool dark, bool selected,
                bool rightToLeft = false);
} // namespace PMTokenPillPainter

// A text cell; `verticalOffset` moves its text down in the row.
class PMTableViewTextFieldCell {
public:
    virtual ~PMTableViewTextFieldCell() = default;

    virtual double verticalOffset() const { return 0; }
    // Moves the rectangle down by the offset and makes it that much shorter (offsets of
    // 0.1 or less change nothing).
    QRectF verticallyOffsetRect(const QRectF& rect) const;
    QRectF drawingRectForBounds(const QRectF& bounds) const;
    // Where the editor goes: the cell's frame, offset like the text.
    QRectF editWithFrame(const QRectF& frame) const { return verticallyOffsetRect(frame); }
    QRectF selectWithFrame(const QRectF& frame) const { return verticallyOffsetRect(frame); }
    // A click that misses the text (falls into the offset gap) still edits an editable
    // cell when it lies inside the frame.
    enum HitResult { HitNone = 0, HitContentArea = 1, HitEditableTextArea = 2 };
    int hitTestForEvent(const QPointF& point, const QRectF& frame) const;

    void setStringValue(const QString& value) { m_string = value; }
    QString stringValue() const { return m_string; }
    void setEditable(bool editable) { m_editable = editable; }
    bool isEditable() const { return m_editable; }
    void setAppearance(const PMTableCellAppearance& appearance) { m_appearance = appearance; }
    const PMTableCellAppearance& appearance() const { return m_appearance; }

    // Draws the text (or the placeholder) in the drawing rectangle of the frame.
    virtual void drawInteriorWithFrame(QPainter& painter, const QRectF& frame, const QWidget* view) const;

protected:
    QString m_string;
    bool m_editable = false;
    PMTableCellAppearance m_appearance;
};

// A cell of tokens: pills, or (token style 1) plain text of the values joined by commas.
// A cell that clips and overflows draws its first tokens fading into the ellipsis.
class PMTableViewTokenFieldCell : public PMTableViewTextFieldCell {
public:
    void setObjectValue(const QStringList& tokens) { m_tokens = tokens; }
    QStringList objectValue() const { return m_tokens; }
    void setClipsLines(bool clips) { m_clips = clips; }
    bool clipsLines() const { return m_clips; }
    int tokenStyle() const { return m_appearance.tokenStyle; }

    // The expansion (full-value tool tip) frame of a clipped cell: taller by twice the
    // offset, or by 2 points at the top and the bottom without one.
    QRectF expansionFrameWithFrame(const QRectF& frame) const;
    void drawWithExpansionFrame(QPainter& painter, const QRectF& frame, const QWidget* view) const;
    double naturalWidth() const;
    void drawInteriorWithFrame(QPainter& painter, const QRectF& frame, const QWidget* view) const override;

protected:
    QStringList m_tokens;
    bool m_clips = true;

private:
    void drawTokensOrText(QPainter& painter, const QRectF& rect, bool dark, bool selected) const;
};

// The tag columns' token cell of the list: 3 points lower with the large list font, else 4.
class PMGroupTableViewTokenFieldCell : public PMTableViewTokenFieldCell {
public:
    double verticalOffset() const override;
};
