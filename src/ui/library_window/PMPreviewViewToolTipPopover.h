// The description of the tile under the pointer, shown in a small popup after the
// desktop's tooltip delay, at once while the pointer moves from tile to tile (or within
// 0.2 s of the last hide), and hidden when the pointer leaves the tiles.
#pragma once

#include "platform/Value.h"

#include <QtCore/QElapsedTimer>
#include <QtCore/QPointer>
#include <QtCore/QRectF>
#include <QtCore/QTimer>

#include <functional>

class QLabel;
class QFrame;
class QPropertyAnimation;
class QWidget;

// The text that describes an item: a movie's tool tip; a container's full name and its
// number of files. With the label width of a container's tile given (>= 0), nothing
// when the tile shows the whole name already.
QString PMToolTipText(const platform::Value& item, double tileWidth = -1, bool largeFont = false);

class PMPreviewViewToolTipPopover {
public:
    static PMPreviewViewToolTipPopover& shared();

    // A tile (by its serial, never 0, an item and its rectangle in the grid's viewport)
    // asks to be described; fromPointer is false for requests while scrolling.
    void showForPreviewView(QWidget* grid, quint64 tile, const platform::Value& item, const QRectF& rect, double labelWidth,
                            bool fromPointer);
    // Hides the popover for that tile, or for any tile with 0.
    void hideForPreviewView(quint64 tile);
    bool isVisibleOrRecentlyHidden() const;

    quint64 previewView() const { return m_previewView; }
    quint64 delayedPreviewView() const { return m_delayed; }
    QString text() const;
    // The popover's window (null before the first showing).
    QWidget* window() const;
    // The delay before the first showing: the desktop's tooltip delay.
    static int delayMilliseconds();

private:
    PMPreviewViewToolTipPopover();
    void showNow();
    // Fades the window's opacity to the value; at 0 it is hidden unless it describes a tile again.
    void fadeTo(double opacity);

    quint64 m_previewView = 0;
    quint64 m_delayed = 0;
    struct Pending {
        QPointer<QWidget> grid;
        platform::Value item;
        QRectF rect;
        double labelWidth = -1;
    } m_pending;
    QTimer m_delayTimer;
    QElapsedTimer m_sinceHide;
    QFrame* m_frame = nullptr;
    QLabel* m_label = nullptr;
    QPropertyAnimation* m_fade = nullptr;
};
