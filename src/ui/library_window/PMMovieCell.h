// The row of the source list: icon, name (edited in place), a mark for the movie now
// playing and, at the right end, a status badge (an item count, the current movie's
// place, "?" for a missing movie, optionally with a progress pie). The data source
// configures the cell afresh for every row just before the row is drawn; the cell itself
// knows nothing of library items. As the list's item delegate it also sizes rows, places
// the name editor over the name only and offers the full name of a truncated row as a
// tool tip. Main thread only.
#pragma once

#include <QtCore/QRectF>
#include <QtCore/QString>
#include <QtGui/QColor>
#include <QtGui/QIcon>
#include <QtWidgets/QStyledItemDelegate>

#include <optional>

class PMMainController;
class QPainter;

class PMMovieCell : public QStyledItemDelegate {
    Q_OBJECT
public:
    explicit PMMovieCell(PMMainController* dataSource = nullptr, QObject* parent = nullptr);

    // What one row shows; a copy carries all of it.
    struct State {
        qint64 percentage = 0;
        bool canCancel = false;
        bool isCancelButtonHighlighted = false;
        bool playing = false;
        bool pseudoGroupItem = false;
        bool highlightedDropTarget = false;
        QIcon icon;
        QString status; // null: no badge
        QString stringValue;
        std::optional<QColor> textColor;
        // The cell's own highlight (the row is selected) and whether the name can be edited.
        bool highlighted = false;
        bool editable = false;
    };
    const State& state() const { return m_state; }
    void setState(const State& state) { m_state = state; }
    // Back to a blank cell (the data source starts every row from it).
    void reset() { m_state = State(); }

    // The status text: an empty text becomes "✖" with the cancel mark, a badge with
    // only the progress pie when there is a percentage, and no badge otherwise; a text
    // gets " ✖" appended with the cancel mark.
    void setStatus(const QString& status, qint64 percentage, bool canCancel, bool hightlightCancelButton);
    void setStatus(const QString& status) { setStatus(status, 0, false, false); }
    QString status() const { return m_state.status; }
    qint64 percentage() const { return m_state.percentage; }
    bool canCancel() const { return m_state.canCancel; }
    bool isCancelButtonHighlighted() const { return m_state.isCancelButtonHighlighted; }
    bool playing() const { return m_state.playing; }
    void setPlaying(bool playing) { m_state.playing = playing; }
    bool pseudoGroupItem() const { return m_state.pseudoGroupItem; }
    void setPseudoGroupItem(bool flag) { m_state.pseudoGroupItem = flag; }
    bool highlightedDropTarget() const { return m_state.highlightedDropTarget; }
    void setHighlightedDropTarget(bool flag) { m_state.highlightedDropTarget = flag; }
    QIcon icon() const { return m_state.icon; }
    void setIcon(const QIcon& icon) { m_state.icon = icon; }
    QIcon image() const { return icon(); }
    void setImage(const QIcon& image) { setIcon(image); }
    QString stringValue() const { return m_state.stringValue; }
    void setStringValue(const QString& value) { m_state.stringValue = value; }
    std::optional<QColor> textColor() const { return m_state.textColor; }
    void setTextColor(const QColor& color) { m_state.textColor = color; }
    void setHighlighted(bool flag) { m_state.highlighted = flag; }
    void setEditable(bool flag) { m_state.editable = flag; }
    bool isEditable() const { return m_state.editable; }

    // "Emphasize Item Count Badges" when set, else an "Item Count Mode" above 2.
    static bool drawsEmphasizedStatusBadge();
    // The list font is the large one (set by every library update).
    static bool usesLargeListFont();
    // The icon's edge, and the room the playing mark takes.
    static double iconWidth() { return usesLargeListFont() ? 20 : 19; }

    double badgeWidth() const;
    // The base size (the name's) widened by the badge, the playing mark and the icon.
    QSizeF cellSize(const QSizeF& baseSize) const;
    QRectF statusFrameForCellFrame(const QRectF& cellFrame) const;
    QRectF textFrameForCellFrame(const QRectF& cellFrame) const;
    // The name's font: 13 (large) or 11 points, medium for section headers and the
    // emphasised selection.
    static QFont nameFont(bool medium);

    // Drawing. The view is the list the cell is drawn in (null: another view, which
    // means neither focus nor window state apply).
    struct DrawingStates {
        bool highlighted = false; // H
        bool active = true;       // A
        bool emphasized = false;  // E
        bool inverted = false;    // I (dark)
        bool mainWindow = true;   // M
        bool inOutlineView = true;
    };
    DrawingStates drawingStatesInView(const QWidget* view) const;
    void drawWithFrame(QPainter& painter, const QRectF& cellFrame, const QWidget* view) const;
    void drawWithFrame(QPainter& painter, const QRectF& cellFrame, const DrawingStates& states) const;

    // The plate and text colour of the badge. `noPlate` leaves the plate out; without a
    // plate colour and with `noPlate` false the badge drawing chooses its own grey.
    struct BadgeStyle {
        std::optional<QColor> plate;
        bool noPlate = false;
        std::optional<QColor> text;
    };
    BadgeStyle badgeStyle(const DrawingStates& states, bool* getNameEmphasis = nullptr) const;

    // The frame of the tool tip that shows a truncated name in full: empty when the
    // name fits, or when a cell with an icon is shown outside an outline view.
    QRectF expansionFrameWithFrame(const QRectF& cellFrame, const QWidget* view, bool inOutlineView) const;
    // Whether a point of the cell (view coordinates) lies on the name of an editable cell.
    bool hitTestsEditableTextArea(const QPointF& point, const QRectF& cellFrame) const;

    // QStyledItemDelegate
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    void updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option, const QModelIndex& index) override;

    // Configures the cell for the row of the index through the data source.
    void configureForIndex(const QModelIndex& index, const QWidget* view);

private:
    PMMainController* m_dataSource = nullptr;
    State m_state;
};
