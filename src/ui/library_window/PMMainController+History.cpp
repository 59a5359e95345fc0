// The containers selected before: the heap that the back button walks and the history
// that its menu lists, newest first. The interface refresh records every selection of
// containers in both; a selection that lasted half a second or less is dropped from
// both, so that passing through containers on the way to another leaves no trace.
#include "library/model/PMLibraryContainer.h"
#include "library/model/PMMainController.h"
#include "platform/EventClock.h"
#include "foundation/PMSettingsKeys.h"
#include "platform/UserDefaults.h"

#include <QtWidgets/QLineEdit>

using platform::Array;
using platform::ArrayPtr;
using platform::Value;

namespace {

// How long a selection must have lasted to be kept when the next one is recorded.
constexpr double kTransientSelectionSeconds = 0.5;

ArrayPtr arrayOfContainers(const QList<PMLibraryContainerPtr>& containers)
{
    auto items = Array::make();
    for (const PMLibraryContainerPtr& container : containers)
        items->append(Value(container));
    return items;
}

} // namespace

void PMMainController::updateGroupItemsParentAndContainerHistory()
{
    _groupItemsParent = nullptr;
    _groupItemsParentOrSearchReferenceContainer = nullptr;
    platform::UserDefaults& defaults = platform::UserDefaults::standard();
    // A movie that fills the single window hides the group: nothing is shown, nothing recorded.
    if (defaults.boolForKey(prefs::keys::SingleWindowMode) && !_isPresenting && !_currentMovieRepresentation.isNull())
        return;
    const ArrayPtr selected = selectedLibraryItems();
    if (selected)
        for (const Value& item : *selected)
            if (PMContainer(item)) {
                _groupItemsParent = PMContainerPtr(item);
                break;
            }
    if (_groupItemsParent) {
        const QSet<QString> ids = selectedLibraryContainerIDs();
        if (!ids.isEmpty())
            recordSelectedContainerIDs(ids, platform::eventClockNow());
    }

    // Selected movies are searched in the container that holds them all.
    PMLibraryContainerPtr reference = _groupItemsParent;
    if (!reference && selected && !selected->isEmpty()) {
        reference = parentOfLibraryItem(selected->at(0));
        for (qsizetype i = 1; reference && i < selected->count(); ++i) {
            const ArrayPtr ancestors = ancestorsOfLibraryItem(selected->at(i));
            if (!ancestors || ancestors->indexOfIdentical(reference.get()) < 0)
                reference = nullptr;
        }
    }
    // (The default reference is looked for only in a library that has its storages.)
    const bool hasSourceStorage = existingSourceStorage() != nullptr;
    if (!reference && hasSourceStorage)
        reference = defaultSearchReferenceContainer();
    if (reference) {
        const QString query = reference->query();
        if (searchField && searchField->text() != query)
            searchField->setText(query);
        if (!query.isEmpty() && hasSourceStorage && defaults.boolForKey(prefs::keys::GroupSearchScopeAllUseDefaultReference)
            && defaults.stringForKey(prefs::keys::GroupSearchScope) == QLatin1String("[All]"))
            reference = defaultSearchReferenceContainer();
    }
    _groupItemsParentOrSearchReferenceContainer = reference;
}

void PMMainController::recordSelectedContainerIDs(const QSet<QString>& ids, double now)
{
    // A refresh while the same containers stay selected keeps the date their selection
    // began: dated anew, a selection held for minutes would count as a passing one when
    // the next choice follows a refresh within half a second, and drop out of the history.
    const bool continues = !_selectedContainerHeap.isEmpty() && _selectedContainerHeap.first().IDs == ids;
    const PMContainerHistoryEntry entry{ids, continues ? _selectedContainerHeap.first().date : now};
    auto isTransient = [now](const PMContainerHistoryEntry& e) { return now - e.date <= kTransientSelectionSeconds; };

    while (!_selectedContainerHeap.isEmpty()) {
        const PMContainerHistoryEntry& newest = _selectedContainerHeap.first();
        if (newest.IDs != ids && !isTransient(newest))
            break;
        _selectedContainerHeap.removeFirst();
    }
    _selectedContainerHeap.prepend(entry);

    // The history keeps each selection once: its older entry goes, and so do the
    // transient ones above the first lasting entry of another selection.
    bool removedSame = false;
    bool steppedOver = false;
    for (qsizetype i = 0; i < _selectedContainerHistory.size();) {
        const PMContainerHistoryEntry& e = _selectedContainerHistory.at(i);
        const bool same = e.IDs == ids;
        if (steppedOver) {
            if (same) {
                _selectedContainerHistory.removeAt(i);
                break;
            }
            ++i;
        } else if (same) {
            _selectedContainerHistory.removeAt(i);
            removedSame = true;
        } else if (isTransient(e)) {
            _selectedContainerHistory.removeAt(i);
        } else if (removedSame) {
            break;
        } else {
            steppedOver = true;
            ++i;
        }
    }
    _selectedContainerHistory.prepend(entry);
}

QSet<QString> PMMainController::relevantContainerIDsFromHistoryItem(const PMContainerHistoryEntry& entry,
                                                                   QList<PMLibraryContainerPtr>* collectContainers)
{
    QSet<QString> ids;
    for (const QString& id : entry.IDs)
        if (const PMLibraryContainerPtr container = _containersByID.value(id)) {
            ids.insert(id);
            if (collectContainers)
                collectContainers->append(container);
        }
    return ids;
}

std::optional<QList<QList<PMLibraryContainerPtr>>> PMMainController::relevantSelectedContainerHistoryAsPreflightCheck(bool preflight)
{
    const qsizetype start = _groupItemsParent ? 1 : 0;
    if (start >= _selectedContainerHistory.size())
        return std::nullopt;
    const QSet<QString> current = selectedLibraryContainerIDs();
    std::optional<QList<QList<PMLibraryContainerPtr>>> result;
    QList<QSet<QString>> taken;
    for (qsizetype i = start; i < _selectedContainerHistory.size(); ++i) {
        QList<PMLibraryContainerPtr> containers;
        const QSet<QString> resolved = relevantContainerIDsFromHistoryItem(_selectedContainerHistory.at(i), preflight ? nullptr : &containers);
        if (resolved.isEmpty() || resolved == current)
            continue;
        if (!result) {
            result.emplace();
            if (preflight)
                return result;
        }
        if (taken.contains(resolved))
            continue;
        taken.append(resolved);
        result->append(containers);
    }
    return result;
}

bool PMMainController::goBackToRelevantPreviouslySelectedContainersAsPreflightCheck(bool preflight)
{
    if (_selectedContainerHeap.size() <= (_groupItemsParent ? 1 : 0))
        return false;
    // Entries passed over are dropped for good; a preflight walks a copy.
    QList<PMContainerHistoryEntry> copy;
    QList<PMContainerHistoryEntry>& heap = preflight ? (copy = _selectedContainerHeap) : _selectedContainerHeap;
    if (_groupItemsParent)
        heap.removeFirst();
    const QSet<QString> current = selectedLibraryContainerIDs();
    while (!heap.isEmpty()) {
        const PMContainerHistoryEntry entry = heap.takeFirst();
        QList<PMLibraryContainerPtr> containers;
        const QSet<QString> resolved = relevantContainerIDsFromHistoryItem(entry, preflight ? nullptr : &containers);
        // An entry none of whose containers exists any more is not one to go back to.
        if (resolved.isEmpty() || resolved == current)
            continue;
        if (preflight)
            return true;
        if (selectLibraryItems(arrayOfContainers(containers)))
            return true;
    }
    if (!preflight)
        updateUserInterface();
    return false;
}

void PMMainController::goBackToPreviouslySelectedContainers(QObject*)
{
    goBackToRelevantPreviouslySelectedContainersAsPreflightCheck(false);
}

void PMMainController::selectHistoryContainers(const QList<PMLibraryContainerPtr>& containers)
{
    if (!prefs::get(prefs::keys::ContainerHistoryNavigationAlwaysAddsToHeap)
        && !_selectedContainerHeap.isEmpty()) {
        QSet<QString> ids;
        for (const PMLibraryContainerPtr& container : containers)
            if (container)
                ids.insert(container->uniqueLibraryID());
        for (qsizetype i = 0; i < _selectedContainerHeap.size(); ++i)
            if (relevantContainerIDsFromHistoryItem(_selectedContainerHeap.at(i), nullptr) == ids) {
                _selectedContainerHeap.remove(0, i + 1);
                break;
            }
    }
    selectLibraryItems(arrayOfContainers(containers));
}
