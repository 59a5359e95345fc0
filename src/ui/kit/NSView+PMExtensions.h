// Small conveniences of views, tables, combo boxes, buttons and controls that the
// windows share. Qt coordinates (top-down). Main thread only.
#pragma once

#include <QtCore/QString>
#include <QtCore/QVariant>
#include <QtGui/QPixmap>

#include <functional>

class QAbstractButton;
class QComboBox;
class QTableView;
class QWidget;

// ---- Views ----
// The lowest bottom edge among the view's visible subviews, in the reference view's
// coordinates (nothing: the view's own), starting from the view's top edge. Qt's y runs
// downwards, so "lowest" is the largest y. Empty read-only text fields do not count; with
// the flag, plain container widgets are measured by their own subviews.
double minimumYCoordinateComparedToHeightOfView(const QWidget* view, const QWidget* comparedToHeightOfView, bool checkSubviews);
// The space below the lowest subview minus the margin: positive when the view is taller
// than its contents need.
double heightDifferenceNecessaryToFitSubviewsWithBottomMargin(const QWidget* view, double bottomMargin,
                                                              const QWidget* comparedToHeightOfView, bool checkSubviews);
void centerHorizontallyRelativeToSuperview(QWidget* view);
// Shows or hides the view and moves the siblings below it by the delta (down when
// showing, up when hiding); answers whether the visibility changed.
bool setVisible(QWidget* view, bool visible, double moveSiblingBelowByDelta);
void setNeedsDisplayRecursively(QWidget* view);
bool isBelowMouseOutsideOfEventStream(const QWidget* view);

// ---- Tables ----
// Selects only that row (0 or more) and scrolls it into view.
void selectAndRevealRow(QTableView* table, int row);
// The application is active and the table's window is the active one.
bool drawsActiveWindowContent(const QWidget* table);

// ---- Combo boxes ----
// The first item whose data is a map holding the string under the key; -1 when none or
// when either is empty.
int indexOfItemWithRepresentedDictionaryWithString(const QComboBox* popUp, const QString& string, const QString& forKey);

// ---- Buttons and controls ----
// The themed icon of that name in the emphasis colour (0 white, 1 the highlight colour,
// 2 and more a darker highlight), at 18 points; else the fallback icon tinted (emphasis
// 1 or more); without either, the button keeps its icon.
void setImageWithSystemSymbolName(QAbstractButton* button, const QString& symbolName, const QString& fallbackName, int emphasis);
void setHiddenAndDisabled(QWidget* control, bool flag);
// The control's integer value (spin box, slider, or the number in a text field) when
// above the minimum (capped at 2147483647), else the minimum.
qint64 numberValueWithIntegerMinimum(const QWidget* control, qint64 minimum);

// ---- Web views ----
// Closes the view: while it still loads (its "loading" property), it is told to stop
// ("stop") and checked again every 5 s, a bounded number of times, then released.
void stopLoadingAndReleaseWhenDone(QWidget* webView);

// ---- Drag pictures ----
// The part of the widget inside `bounds`, faded to 70 %: the picture of dragged rows.
QPixmap fadedDragPixmap(QWidget* widget, const QRect& bounds);
