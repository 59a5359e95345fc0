// The remote's on-screen list: a dark rounded panel centred on the player's screen with the
// current container's title and its items, the selected one on a band in the middle.
#pragma once

#include "playback/PMOverlayWindows.h"
#include "platform/Value.h"

#include <QtCore/QRectF>

class QScreen;

// The list's measures for a line height L (floors throughout; L = 76 gives 76, 20, 30, 5,
// 20 and a 50-point font).
struct PMRemoteInterfaceMetrics {
    double lineHeight = 76;      // U
    double spacing = 20;         // p
    double margin = 30;          // h
    double textOffset = 5;       // g
    double cornerRadius = 20;    // r
    double fontSize = 50;
};
PMRemoteInterfaceMetrics PMRemoteInterfaceMetricsForLineHeight(double lineHeight);

class PMRemoteInterfaceWindow : public PMSelfDrawingOverlayWindow {
    Q_OBJECT
public:
    static PMRemoteInterfaceWindow* remoteInterfaceWindowByCreatingIfNecessary(bool create);
    static PMRemoteInterfaceWindow* remoteInterfaceWindow() { return remoteInterfaceWindowByCreatingIfNecessary(true); }
    static bool isVisible();
    static void fadeOutAndClose();
    static void setLineHeight(double lineHeight);
    static double lineHeight();
    // The frame on the screen (the first screen when none) for the items and the title,
    // with the number of lines (title included, always even).
    static QRectF frameForScreen(QScreen* screen, const platform::ArrayPtr& items, const QString& title, qint64* getNumberOfLines);
    // The same over a plain area and the names' widths, for tests without a screen.
    static QRectF frameForArea(const QRectF& area, const QList<double>& itemWidths, double titleWidth, double emptyWidth, double chevronWidth,
                               qint64* getNumberOfLines);

    void setDisplayedItems(const platform::ArrayPtr& items, const platform::Value& parent, const platform::Value& previouslySelectedItem);
    platform::ArrayPtr displayedItems() const { return _displayedItems; }
    platform::Value displayedItemsParent() const { return _displayedItemsParent; }
    platform::Value selectedItem() const;
    QString parentTitle() const;
    qint64 currentIndex() const { return _currentIndex; }
    qint64 numberOfLines() const { return _numberOfLines; }
    void showOnScreen(QScreen* screen);
    void close();
    bool step(qint64 count);
    void sizeToFitForScreen(QScreen* screen, bool animate);
    void drawOverlayInBounds(QPainter& painter, const QRectF& bounds, PMSelfDrawingOverlayWindowContentView* view) override;
    void drawRemoteInterfaceInBounds(QPainter& painter, const QRectF& bounds);
    QWidget* remoteInterfaceView() const { return _remoteInterfaceView; }

private:
    PMRemoteInterfaceWindow();
    platform::ArrayPtr _displayedItems;
    platform::Value _displayedItemsParent;
    qint64 _numberOfLines = 2;
    qint64 _currentIndex = 0;
    QWidget* _remoteInterfaceView = nullptr;
};
