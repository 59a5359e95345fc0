// The two item lists of the library window as the controller's selection code sees them:
// the source list of containers (rows of the shown items, children of expanded containers
// below their parent) and the list table of the shown movies. The window gives the
// controller a subclass that asks its real views; until it does, these classes stand in:
// the source list shows every container expanded and keeps its selection in the
// controller's `_selectedLibraryItems`, and the list table keeps selected rows only.
#pragma once

#include "platform/Value.h"

#include <QtCore/QList>
#include <QtCore/QRectF>
#include <QtCore/QString>

class PMLibraryListAccess {
public:
    virtual ~PMLibraryListAccess() = default;

    virtual qsizetype numberOfRows();
    virtual platform::Value itemAtRow(qsizetype row);
    // -1 when the item has no row (not in the list, or below a collapsed container).
    virtual qsizetype rowForItem(const platform::Value& item);
    // 0 for top-level rows.
    virtual qsizetype levelForRow(qsizetype row);
    // Ascending.
    virtual QList<qsizetype> selectedRows();
    // Replaces the selection (empty: clears it); the list announces the change.
    virtual void selectRows(const QList<qsizetype>& rows);
    virtual bool isItemExpanded(const platform::Value& item);
    virtual void expandItem(const platform::Value& item);
    virtual void scrollRowToVisible(qsizetype row);
    virtual QRectF visibleRect();
    virtual QRectF bounds();
    // The height of the scroll area around the list.
    virtual double enclosingScrollViewHeight();
    virtual void scrollRectToVisible(const QRectF& rect);
    // The source list delegate's answer whether the item may be selected.
    virtual bool shouldSelectItem(const platform::Value& item);

    // Stand-in state: the visible rectangle, and the rows as last flattened.
    QRectF standInVisibleRect;

private:
    platform::ArrayPtr standInRows(QList<qsizetype>* levels);
};

class PMGroupListAccess {
public:
    virtual ~PMGroupListAccess() = default;

    virtual qsizetype numberOfRows();
    virtual QList<qsizetype> selectedRows();
    virtual void selectRows(const QList<qsizetype>& rows);
    virtual void scrollRowToVisible(qsizetype row);
    virtual QRectF visibleRect();
    virtual QRectF bounds();
    virtual void scrollRectToVisible(const QRectF& rect);
    // The top content inset of the scroll area around the list (room under a scope bar).
    virtual double topContentInset();
    // The column with the sort indicator (empty: none) and its direction.
    virtual void setSortIndicator(const QString& columnIdentifier, bool descending);
    // Shows or hides the column; answers the column's identifier when it is shown now.
    virtual QString toggleColumn(const QString& columnIdentifier);
    virtual bool isFirstResponder();
    virtual void makeFirstResponder();

    // Stand-in state.
    QList<qsizetype> standInSelectedRows;
    QRectF standInVisibleRect;
    QString standInSortColumn;
    bool standInSortsDescending = false;
    bool standInIsFirstResponder = false;
};
