// A movie's rating, 0 to 5 stars: the cell that draws and tracks the stars (in the list
// table, on tiles, in the rating view) and the rating view of the info panel, which can
// tick a check box whenever the rating is changed, with the mouse or with Ctrl and a
// digit, so that the panel knows the field was touched. Also the check boxes that such
// controls tick. Main thread only.
#pragma once

#include "platform/Value.h"
#include "ui/kit/PMSizeToFitControls.h"

#include <QtCore/QPointer>
#include <QtGui/QImage>
#include <QtWidgets/QCheckBox>
#include <QtWidgets/QWidget>

class QKeyEvent;

// Draws the stars of a rating and turns pointer positions into ratings.
class PMRatingCell {
public:
    static constexpr int kMaximumRating = 5;
    // The star: 13 × 16 points.
    static constexpr double kStarWidth = 13, kStarHeight = 16;

    // The star image of a tint: 0 white, 1 grey, any other the gold of ratings. Made once
    // per process on first use and shared by every cell.
    static QImage starImage(int tint);
    // Menus and the list track the pointer until the button is released.
    static bool prefersTrackingUntilMouseUp() { return true; }

    void setTint(int tint) { m_tint = tint; }
    int tint() const { return m_tint; }
    double doubleValue() const { return m_value; }
    void setDoubleValue(double value);
    void setHighlighted(bool highlighted) { m_highlighted = highlighted; }

    // The rating at a point of the cell's frame (0 left of the first star).
    double valueAtPoint(QPointF point, const QRectF& frame) const;
    // The press itself sets the value; the answer says whether tracking goes on.
    bool startTrackingAt(QPointF point, const QRectF& frame);
    bool continueTracking(QPointF lastPoint, QPointF point, const QRectF& frame);
    void drawWithFrame(QPainter& painter, const QRectF& frame) const;
    // The size the stars need.
    static QSizeF cellSize() { return {kStarWidth * kMaximumRating, kStarHeight}; }

private:
    double m_value = 0;
    int m_tint = 2;
    bool m_highlighted = false;
};

class PMOnStateViaActionSwitch;

class PMRatingView : public QWidget {
    Q_OBJECT
public:
    explicit PMRatingView(QWidget* parent = nullptr);
    ~PMRatingView() override;

    void awakeFromNib();
    // A number (0 to 5), or null for no rating.
    void setRating(const platform::Value& rating);
    platform::Value rating() const;
    // The cell's action: ticks the on-state switch and redraws.
    void changeRating(QObject* sender);
    bool isFlipped() const { return true; }
    // Ctrl and one of 0 to 5 sets that rating and ticks the switch; answers whether the
    // key was taken.
    bool performKeyEquivalent(QKeyEvent* event);

    QCheckBox* onStateSwitch() const { return _onStateSwitch; }
    void setOnStateSwitch(QCheckBox* onStateSwitch) { _onStateSwitch = onStateSwitch; }
    PMRatingCell* ratingCell() { return _ratingCell.get(); }

    QSize sizeHint() const override;

Q_SIGNALS:
    // While the mouse drags over the stars, for every change.
    void ratingDidChange(double rating);
    // The end of a change, with its final value: the release of the mouse, or a key.
    void ratingDidEndChange(double rating);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void tickOnStateSwitch();
    std::unique_ptr<PMRatingCell> _ratingCell;
    QPointer<QCheckBox> _onStateSwitch; // not owned
    QPointF m_lastPoint;
    bool m_tracking = false;
};

// A check box that other controls tick by sending it "setOnStateViaAction".
class PMOnStateViaActionSwitch : public QCheckBox {
    Q_OBJECT
public:
    using QCheckBox::QCheckBox;
    // Turns the box on, whatever the sender.
    void setOnStateViaAction(QObject* sender);
};

class PMSizeToFitOnStateViaActionSwitch : public QCheckBox, public PMSizeToFitLink {
    Q_OBJECT
public:
    using QCheckBox::QCheckBox;
    void awakeFromNib();
    void setTitle(const QString& title);
    void setOnStateViaAction(QObject* sender);
    void sizeToFit() override { resize(sizeHint()); }
};
