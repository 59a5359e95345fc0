// Wrapping text fields that grow and shrink in height with their text, between a minimum
// and a maximum, while the views below them in the same parent move by the same amount,
// so that a stack of fields stays packed. The class operations work on any text widget
// (labels, line edits, plain and rich text edits). Main thread only.
#pragma once

#include <QtCore/QSizeF>
#include <QtWidgets/QLabel>

#include <optional>

// What a field's delegate may decide and be told; every operation is optional (the
// default answers "not implemented").
class PMSizeAdjustingTextFieldDelegate {
public:
    virtual ~PMSizeAdjustingTextFieldDelegate();
    // A negative answer stands for the default.
    virtual std::optional<double> minimumHeightForTextField(QWidget* textField);
    virtual std::optional<double> maximumHeightForTextField(QWidget* textField);
    // Answers false when not implemented.
    virtual bool textFieldDidResizeAndMoveSiblingsByDelta(QWidget* textField, double delta);
};

// The delegate of any text widget (not owned; nothing removes it).
void setTextFieldDelegate(QWidget* textField, PMSizeAdjustingTextFieldDelegate* delegate);
PMSizeAdjustingTextFieldDelegate* textFieldDelegate(const QWidget* textField);

class PMSizeAdjustingTextField : public QLabel {
    Q_OBJECT
public:
    explicit PMSizeAdjustingTextField(QWidget* parent = nullptr);

    // Defaults: 22 to 85 points; 19 to 75 for a small field.
    static double defaultMinimumHeight(const QWidget* textField);
    static double defaultMaximumHeight(const QWidget* textField);

    // Fits the field's height to its text within the limits, moving the siblings below;
    // with minimizeWidth the field also becomes as wide as its text. YES when the frame
    // changed.
    static bool adjustHeightOfTextField(QWidget* textField, bool minimizeWidth, double maximumHeight);
    static bool adjustHeightOfTextField(QWidget* textField, bool minimizeWidth);
    static bool adjustHeightOfTextField(QWidget* textField);
    // The size a text widget needs for its text within the bounds' width (margins
    // included); the height may exceed the bounds.
    static QSizeF cellSizeForBounds(const QWidget* textField, const QRectF& bounds);

    bool adjustTextFieldHeight();
    void setStringValue(const QString& string);

    // The size the text needs within the bounds; subclasses with their own text layout
    // answer it themselves.
    virtual QSizeF textFieldCellSizeForBounds(const QRectF& bounds) const;
};

// Each subview that is a size-adjusting field adjusts itself; other subviews are
// searched recursively. YES when any changed.
bool adjustTextFieldHeightsOfSuitableSubviews(QWidget* view);
// Moves the siblings below the view up by delta (down for a negative delta): those whose
// bottom edge lies below the view's bottom edge, or, for a hidden view, whose top edge
// lies below its top edge.
void moveSiblingsBelowUpByDelta(QWidget* view, double delta);
