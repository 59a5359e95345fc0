// What assistive technology learns about the grid: a list whose children are the tiles on
// screen, each a button named after its item, selected or not, with the tile's action as
// its press (playing a movie, opening a group, asking for a missing file). A movie tile
// without an action (its volume is missing) is disabled; its help is the movie's tool tip.
#include "library/model/PMLibraryContainer.h"
#include "library/model/PMMovieRepresentation.h"
#include "ui/library_window/PMGroupView.h"
#include "ui/library_window/PMPreviewViewPrototype.h"

#include <QtCore/QHash>
#include <QtCore/QPointer>
#include <QtGui/QAccessible>
#include <QtWidgets/QAccessibleWidget>
#include <QtWidgets/QScrollBar>

namespace {

PMGroupViewItemProxy* shownProxyForTile(const PMGroupView* grid, const PMGroupViewTile* tile)
{
    if (!grid || !tile)
        return nullptr;
    for (PMGroupViewItemProxy* proxy : grid->shownProxies())
        if (proxy->view.get() == tile)
            return proxy;
    return nullptr;
}

class TileAccessible : public QAccessibleInterface, public QAccessibleActionInterface {
public:
    TileAccessible(PMGroupView* grid, const PMGroupViewTilePtr& tile) : m_grid(grid), m_tile(tile) {}

    PMGroupViewItemProxy* proxy() const { return shownProxyForTile(m_grid, m_tile.lock().get()); }
    bool isValid() const override { return proxy() != nullptr; }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return m_grid ? m_grid->window()->windowHandle() : nullptr; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QAccessibleInterface* parent() const override { return m_grid ? QAccessible::queryAccessibleInterface(m_grid.data()) : nullptr; }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    void setText(QAccessible::Text, const QString&) override {}
    QAccessible::Role role() const override { return QAccessible::Button; }

    QString text(QAccessible::Text t) const override
    {
        PMGroupViewItemProxy* p = proxy();
        if (!p)
            return {};
        switch (t) {
        case QAccessible::Name:
            if (PMLibraryItem* item = PMItem(p->selectedItem()))
                return item->displayName();
            return {};
        case QAccessible::Help:
            if (PMMovieRepresentationPrototype* movie = PMMovie(p->representedItem); movie && !p->isGroup && p->equivalentContainer.isNull())
                return movie->toolTip().replace(QLatin1Char('\n'), QLatin1Char(' '));
            return {};
        default:
            return {};
        }
    }

    QRect rect() const override
    {
        PMGroupViewItemProxy* p = proxy();
        if (!p || !m_grid)
            return {};
        const QRect frame = p->frame.translated(0, -m_grid->verticalScrollBar()->value()).toAlignedRect();
        return QRect(m_grid->viewport()->mapToGlobal(frame.topLeft()), frame.size());
    }

    QAccessible::State state() const override
    {
        QAccessible::State s;
        PMGroupViewItemProxy* p = proxy();
        if (!p) {
            s.invalid = true;
            return s;
        }
        s.selectable = true;
        s.selected = p->selected;
        if (!p->isGroup && PMMovieTileActionFor(p->representedItem, p->equivalentContainer, p->view && p->view->canHover,
                                                m_grid->isFullyInteractiveGroupView()) == PMMovieTileAction::None)
            s.disabled = true;
        if (m_grid && !p->frame.intersects(m_grid->visibleRect()))
            s.offscreen = true;
        return s;
    }

    void* interface_cast(QAccessible::InterfaceType type) override
    {
        return type == QAccessible::ActionInterface ? static_cast<QAccessibleActionInterface*>(this) : nullptr;
    }

    QStringList actionNames() const override { return {pressAction()}; }
    void doAction(const QString& name) override
    {
        if (name != pressAction() || !m_grid)
            return;
        if (PMGroupViewItemProxy* p = proxy())
            m_grid->triggerActionForProxy(*p);
    }
    QStringList keyBindingsForAction(const QString&) const override { return {}; }

private:
    QPointer<PMGroupView> m_grid;
    std::weak_ptr<PMGroupViewTile> m_tile;
};

class GridAccessible : public QAccessibleWidget {
public:
    explicit GridAccessible(PMGroupView* grid) : QAccessibleWidget(grid, QAccessible::List) {}

    PMGroupView* grid() const { return static_cast<PMGroupView*>(widget()); }

    int childCount() const override { return int(grid()->shownProxies().size()); }

    QAccessibleInterface* child(int index) const override
    {
        const auto& shown = grid()->shownProxies();
        if (index < 0 || std::size_t(index) >= shown.size() || !shown[std::size_t(index)]->view)
            return nullptr;
        return interfaceForTile(shown[std::size_t(index)]->view);
    }

    int indexOfChild(const QAccessibleInterface* child) const override
    {
        const auto* tile = dynamic_cast<const TileAccessible*>(child);
        if (!tile)
            return -1;
        const PMGroupViewItemProxy* proxy = tile->proxy();
        const auto& shown = grid()->shownProxies();
        for (std::size_t i = 0; i < shown.size(); ++i)
            if (shown[i] == proxy)
                return int(i);
        return -1;
    }

    QAccessibleInterface* childAt(int x, int y) const override
    {
        const QPoint local = grid()->viewport()->mapFromGlobal(QPoint(x, y));
        const QPointF point(local.x(), local.y() + grid()->verticalScrollBar()->value());
        for (PMGroupViewItemProxy* proxy : grid()->shownProxies())
            if (proxy->view && proxy->frame.contains(point))
                return interfaceForTile(proxy->view);
        return nullptr;
    }

private:
    // One interface per tile for as long as the tile lives; Qt owns the registered ones.
    QAccessibleInterface* interfaceForTile(const PMGroupViewTilePtr& tile) const
    {
        for (auto it = m_ids.begin(); it != m_ids.end();) {
            QAccessibleInterface* known = QAccessible::accessibleInterface(it.value());
            if (!known || !known->isValid()) {
                if (known)
                    QAccessible::deleteAccessibleInterface(it.value());
                it = m_ids.erase(it);
            } else {
                ++it;
            }
        }
        if (const auto found = m_ids.constFind(tile.get()); found != m_ids.constEnd())
            return QAccessible::accessibleInterface(found.value());
        auto* created = new TileAccessible(grid(), tile);
        m_ids.insert(tile.get(), QAccessible::registerAccessibleInterface(created));
        return created;
    }

    mutable QHash<const void*, QAccessible::Id> m_ids;
};

QAccessibleInterface* gridAccessibleFactory(const QString& className, QObject* object)
{
    if (className == QLatin1String("PMGroupView") && object && object->isWidgetType())
        return new GridAccessible(static_cast<PMGroupView*>(object));
    return nullptr;
}

} // namespace

void PMGroupViewInstallAccessibility()
{
    static const bool installed = [] {
        QAccessible::installFactory(gridAccessibleFactory);
        return true;
    }();
    (void)installed;
}
