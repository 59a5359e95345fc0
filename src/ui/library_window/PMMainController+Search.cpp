// The search field of the main window and what it filters: the field's text becomes the
// query of the shown (or searched) container after the search delay, a filter command
// fills it, online searches fetch more, and the grid gets a few answers of the window
// (the text of an empty grid, whether a tile is the current movie's, picture refreshes).
#include "foundation/NSString+PMHelpManager.h"
#include "library/model/PMLibraryContainer.h"
#include "library/model/PMMainController.h"
#include <QtCore/QTimer>
#include "library/model/PMParsedQuery.h"
#include "images/NSImage+PMImageHash.h"
#include "library/model/PMMovieRepresentation.h"
#include "platform/EventClock.h"
#include "foundation/PMSettingsKeys.h"
#include "platform/UserDefaults.h"
#include "ui/library_window/PMGroupView.h"

#include <QtCore/QCoreApplication>
#include <QtWidgets/QLineEdit>

#include <memory>

using platform::Array;
using platform::ArrayPtr;
using platform::Value;

namespace {

platform::UserDefaults& defaults()
{
    return platform::UserDefaults::standard();
}

// The pending delayed application of each field's text.
QHash<const QLineEdit*, std::shared_ptr<platform::OneShotTimer>>& pendingSearches()
{
    static QHash<const QLineEdit*, std::shared_ptr<platform::OneShotTimer>> timers;
    return timers;
}

double searchDelay()
{
    const double delay = defaults().doubleForKey(prefs::keys::SearchDelay);
    return delay < 0.1 ? 1.0 : delay;
}

bool filterTogglesSidebar()
{
    return defaults().boolForKey(prefs::keys::AutomaticallyHideAndShowSidebarFilter)
        && !defaults().boolForKey(prefs::keys::AutomaticallyHideAndShowSidebar);
}

} // namespace

void PMMainController::updateResultsForSearchField(QLineEdit* field, bool afterDelay)
{
    if (const auto pending = pendingSearches().value(field))
        pending->stop();
    const QString text = field ? field->text().trimmed() : QString();
    if (!text.isEmpty() && afterDelay) {
        std::shared_ptr<platform::OneShotTimer>& timer = pendingSearches()[field];
        if (!timer)
            timer = std::make_shared<platform::OneShotTimer>();
        QPointer<QLineEdit> guarded(field);
        timer->start(searchDelay(), [this, guarded] {
            if (guarded)
                updateResultsForSearchField(guarded.data());
        });
        return;
    }
    if (text.isEmpty() && field && field == searchField && filterTogglesSidebar() && _hideSidebar)
        _hideSidebar(false, true, false);
    updateResultsForSearchField(field);
}

void PMMainController::updateResultsForSearchField(QLineEdit* field)
{
    if (!field || field != searchField) {
        if (_libraryMenuNeedsUpdate)
            _libraryMenuNeedsUpdate();
        return;
    }
    pendingSearches().remove(field);
    ++_numberOfAppliedSearches;
    if (_groupItemsParentOrSearchReferenceContainer)
        _groupItemsParentOrSearchReferenceContainer->setQuery(field->text());
    updateUserInterface();
}

bool PMMainController::shownContentDependsOnImageHashes()
{
    const PMLibraryContainerPtr reference = _groupItemsParentOrSearchReferenceContainer ? _groupItemsParentOrSearchReferenceContainer : _groupItemsParent;
    if (!reference)
        return false;
    if (_groupListPrimarySortCriterion.contains(QLatin1String("ImageHash")))
        return true;
    const QString query = reference->query().trimmed();
    const PMParsedQueryPtr parsed = query.isEmpty() ? nullptr : PMParsedQuery::parsedQuery(query);
    if (parsed)
        for (const QString& key : parsed->duplicateComponents)
            if (PMParsedQuery::criterionForDuplicateQueryComponent(key) == PMParsedQuery::DuplicateImageHash)
                return true;
    return false;
}

void PMMainController::imageHashDidArrive()
{
    if (!shownContentDependsOnImageHashes())
        return;
    if (PMImageHashPassWaitingCount() > 0)
        Q_EMIT statusFeedback(tr("Computing picture hashes\u2026"));
    if (!_imageHashRerunTimer) {
        _imageHashRerunTimer = new QTimer(this);
        _imageHashRerunTimer->setSingleShot(true);
        QObject::connect(_imageHashRerunTimer, &QTimer::timeout, this, [this] {
            if (!shownContentDependsOnImageHashes())
                return;
            // The shown results are made afresh with the hashes known now; the selection stays.
            if (_groupItemsParentOrSearchReferenceContainer)
                _groupItemsParentOrSearchReferenceContainer->invalidateChildren();
            if (_groupItemsParent)
                _groupItemsParent->invalidateChildren();
            freezeSelections();
            updateUserInterface();
            unfreezeSelections();
            if (PMImageHashPassWaitingCount() > 0)
                Q_EMIT statusFeedback(tr("Computing picture hashes\u2026"));
        });
    }
    // Throttled: the hashes of a large library arrive over minutes, one by one.
    if (!_imageHashRerunTimer->isActive())
        _imageHashRerunTimer->start(2000);
}

void PMMainController::filter(const Value& representedObject)
{
    QString query;
    bool wholeLibrary = false;
    if (representedObject.isString()) {
        query = representedObject.string();
        wholeLibrary = true;
    } else {
        ArrayPtr items;
        if (PMLibraryContainer* container = PMContainer(representedObject)) {
            items = container->populatorObjects();
            wholeLibrary = true;
        } else if (representedObject.isNull()) {
            items = cachedInfoMovieRepresentationsSorted(false);
        } else if (const ArrayPtr array = representedObject.array()) {
            items = array;
        } else {
            items = Array::make({representedObject});
        }
        QStringList ids;
        if (items)
            for (const Value& v : *items)
                if (PMLibraryItem* item = PMItem(v))
                    ids << item->uniqueLibraryID();
        if (ids.isEmpty())
            return;
        query = QStringLiteral("==") + ids.join(QLatin1Char('|'));
    }
    if (wholeLibrary)
        defaults().setObject(Value(QStringLiteral("[All]")), prefs::keys::GroupSearchScope);

    if (searchField)
        searchField->setText(query);
    selectGroupItemsWithIDs({});
    if (filterTogglesSidebar() && _hideSidebar)
        _hideSidebar(true, true, false);
    if (searchField) {
        updateResultsForSearchField(searchField.data(), false);
    } else {
        // Without the window's field the query goes to the searched container directly.
        if (_groupItemsParentOrSearchReferenceContainer)
            _groupItemsParentOrSearchReferenceContainer->setQuery(query);
        updateUserInterface();
    }
    bringMainWindowToFront();
}

void PMMainController::searchMore(QObject*)
{
    if (const PMLibraryContainerPtr reference = _groupItemsParentOrSearchReferenceContainer; reference && reference->canGetMoreOnlineChildren())
        reference->sortedChildrenForCurrentQueryAfterGettingMoreOnlineItems(true);
    if (searchMoreButton)
        searchMoreButton->setEnabled(false);
}

void PMMainController::chooseContainer(const PMLibraryContainerPtr& container)
{
    if (!container)
        return;
    const PMLibraryContainerPtr proxy = PMContainerPtr(container->value(QStringLiteral("Search Proxy")));
    selectLibraryItem(Value(proxy ? proxy : container));
    if (!proxy)
        return;
    if (searchField) {
        searchField->clear();
        updateResultsForSearchField(searchField.data(), false);
    }
}

QString PMMainController::groupPlaceholderMessage()
{
    const PMLibraryContainerPtr reference = _groupItemsParentOrSearchReferenceContainer;
    if (!reference)
        return {};
    const bool online = reference->isOnlineItem();
    const bool noStoredChildren = reference->rawChildren()->isEmpty();
    if (online && noStoredChildren) {
        const platform::DictionaryPtr search = reference->value(QStringLiteral("Search")).dictionary();
        if (search && search->value(QStringLiteral("Searching")).toBool())
            return {};
    }
    const bool selectedScopeOfEmptyContainer =
        !online && noStoredChildren && defaults().stringForKey(prefs::keys::GroupSearchScope) != QLatin1String("[All]");
    if (!selectedScopeOfEmptyContainer) {
        if (!componentsSeparatedByWhitespaceAndNewlines(reference->multipleSelectionQuery()).isEmpty())
            return tr("No Matches");
        if (online)
            return {};
    }
    if (!_groupItemsParent)
        return {};
    const ArrayPtr subgroups = _groupItemsParent->sortedGroupChildren();
    const qsizetype count = subgroups ? subgroups->count() : 0;
    if (count == 0)
        return {};
    if (count == 1)
        return tr("1 subgroup");
    return tr("%@ subgroups").replace(QStringLiteral("%@"), QString::number(count));
}

bool PMMainController::displayAsRelatedToCurrentMovieRepresentation(const Value& item)
{
    PMLibraryItem* libraryItem = PMItem(item);
    if (!libraryItem)
        return false;
    const Value self = libraryItem->nonProxySelf();
    auto sameAs = [&self](const Value& other) {
        PMLibraryItem* otherItem = PMItem(other);
        return otherItem && PMIsSameItem(otherItem->nonProxySelf(), self);
    };
    return sameAs(_currentMovieRepresentation) || (_isMonitoringExternalViewer && sameAs(_externalViewerMovieRepresentation));
}

bool PMMainController::updatePreviewForMovieRepresentation(const Value& movie)
{
    bool updated = false;
    if (inboxGroupView)
        updated = inboxGroupView->updatePreviewForMovieRepresentation(movie);
    if (_groupView)
        updated = _groupView->updatePreviewForMovieRepresentation(movie) || updated;
    return updated;
}

void PMMainController::updatePreviewByLoadingPosterImageForMovieRepresentation(const Value& movie)
{
    PMMovieRepresentationPrototype* record = PMMovie(movie);
    if (!record || !isGroupViewShown())
        return;
    const PMGroupViewItemProxyPtr proxy = _groupView->proxyForPreviewView(_groupView->previewViewForMovieRepresentation(movie));
    if (!proxy)
        return;
    QPointer<PMGroupView> grid(_groupView);
    record->loadCoverImageAndPosterImageForFrame(proxy->frame, true, 0, [grid] {
        if (grid)
            grid->viewport()->update();
    });
}
