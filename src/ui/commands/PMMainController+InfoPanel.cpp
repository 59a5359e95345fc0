// The movies that commands act on: gathered from a selection of library items (each movie
// once, as its original, containers entered in the order they show), named by the menu
// item that sends the command, or else the selection of the view that has the keys.
#include "library/model/PMMainController.h"

#include "library/model/PMLibraryContainer.h"
#include "library/model/PMMovieRepresentation.h"
#include "platform/Responder.h"
#include "ui/commands/PMApplication.h"
#include "ui/library_window/PMGroupView.h"
#include "ui/library_window/PMLibraryWindowAccess.h"
#include "ui/library_window/PMMovieOutlineView.h"

#include <QtCore/QFileInfo>
#include <QtCore/QSet>
#include <QtCore/QTimer>
#include <QtGui/QAction>

#include <algorithm>
#include <functional>

using platform::Array;
using platform::ArrayPtr;
using platform::Value;

namespace {

// Deeper trees than this are not walked (a damaged or hostile library).
constexpr int kMaximumDepth = 256;

} // namespace

ArrayPtr PMMainController::uniqueMovieRepresentationsFromItems(const ArrayPtr& items, const QStringList& restrictToPaths, bool sort,
                                                               bool orIncludeHiddenMovieRepresentations, bool includeProxies)
{
    auto result = Array::make();
    QSet<const platform::Object*> seen;
    std::function<void(const ArrayPtr&, bool, int)> walk = [&](const ArrayPtr& children, bool enterContainers, int depth) {
        if (!children || depth > kMaximumDepth)
            return;
        for (const Value& v : *children) {
            if (PMMovieRepresentationPrototype* movie = PMMovie(v)) {
                if (movie->isProxy() && !includeProxies)
                    continue;
                if (!restrictToPaths.isEmpty()) {
                    const QString path = movie->path();
                    const bool below = std::any_of(restrictToPaths.begin(), restrictToPaths.end(), [&](const QString& p) {
                        return !path.isEmpty() && (path == p || path.startsWith(p.endsWith(u'/') ? p : p + u'/'));
                    });
                    if (!below || !QFileInfo::exists(path))
                        continue;
                }
                const Value original = movie->nonProxySelf();
                if (!seen.contains(original.objectPointer())) {
                    seen.insert(original.objectPointer());
                    result->append(v);
                }
            } else if (PMLibraryContainer* container = PMContainer(v)) {
                if (!enterContainers || (container->isSmartGroup() && !includeProxies))
                    continue;
                const ArrayPtr inner = sort ? container->sortedChildren()
                                            : (orIncludeHiddenMovieRepresentations ? container->rawChildren() : container->filteredChildren());
                const bool flattened = container->value(QStringLiteral("Flattened")).toBool()
                                       || container->value(QStringLiteral("Flattened Non-Others")).toBool();
                walk(inner, !flattened, depth + 1);
            }
        }
    };
    walk(items, true, 0);
    return result;
}

// ---- The movies a command acts on ------------------------------------------------------

platform::DictionaryPtr PMMainController::PMInfoScopeRecord(const ArrayPtr& movies, const ArrayPtr& pool)
{
    auto record = platform::Dictionary::make();
    record->setValue(QStringLiteral("Movies"), Value(movies ? movies : Array::make()));
    if (pool)
        record->setValue(QStringLiteral("Pool"), Value(pool));
    return record;
}

ArrayPtr PMMainController::cachedInfoMovieRepresentationsSorted(bool sorted)
{
    if (!sorted && _cachedInfoMovieRepresentations)
        return _cachedInfoMovieRepresentations;

    ArrayPtr result;
    if (const Value focus = focusCurrentMovieRepresentationAtTimestamp(nullptr); !focus.isNull()) {
        result = Array::make();
        result->append(focus);
    } else if (_mainWindow && _mainWindow->isVisible()) {
        ArrayPtr items;
        if (groupListAccess().isFirstResponder()) {
            items = selectedGroupListItems();
        } else if (PMApplication::isFirstResponderOfItsWindow(_groupView)) {
            items = _groupView->selectedItems();
        } else if (PMApplication::isFirstResponderOfItsWindow(libraryListView)) {
            items = accessibleSelectedLibraryItems();
        }
        // Nothing chosen is nothing to act on: a rating or a rename never falls on every
        // movie shown because the selection was empty.
        result = uniqueMovieRepresentationsFromItems(items ? items : Array::make(), {}, sorted, false, true);
    } else if (!_mainWindow) {
        // Without a library window (before it is built) the movies the info panel edits
        // are the only ones chosen; nothing to keep for the turn.
        // Every item of a menu asks: the copy is shared while it is still that list, for
        // this turn of the event loop.
        static std::weak_ptr<Array> copiedFrom;
        static ArrayPtr copy;
        if (!_infoMovieRepresentations)
            return Array::make();
        if (!copy || copiedFrom.lock() != _infoMovieRepresentations || copy->count() != _infoMovieRepresentations->count()) {
            copy = std::make_shared<Array>(_infoMovieRepresentations->values());
            copiedFrom = _infoMovieRepresentations;
            QTimer::singleShot(0, this, [] { copy.reset(); });
        }
        return copy;
    } else {
        result = _cachedInfoMovieRepresentations ? _cachedInfoMovieRepresentations : Array::make();
    }

    _cachedInfoMovieRepresentations = result;
    _cachedInfoMovieRepresentationsAreSorted = sorted;
    // The answer holds for this turn of the event loop: menus validated one after another
    // ask once. The next turn asks afresh.
    if (!_cachedInfoMovieRepresentationsDropScheduled) {
        _cachedInfoMovieRepresentationsDropScheduled = true;
        QTimer::singleShot(0, this, [this] {
            _cachedInfoMovieRepresentationsDropScheduled = false;
            _cachedInfoMovieRepresentations = nullptr;
        });
    }
    return result;
}

ArrayPtr PMMainController::cachedInfoMovieRepresentationsSorted(bool sorted, QObject* fromRepresentingObject, ArrayPtr* getPool)
{
    if (getPool)
        *getPool = nullptr;
    const Value object = platform::menuItemRepresentedObject(qobject_cast<QAction*>(fromRepresentingObject));
    if (const platform::DictionaryPtr record = object.dictionary(); record && record->contains(QStringLiteral("Movies"))) {
        if (getPool)
            *getPool = record->value(QStringLiteral("Pool")).array();
        const ArrayPtr movies = record->value(QStringLiteral("Movies")).array();
        return movies ? movies : Array::make();
    }
    if (const ArrayPtr array = object.array())
        return array;
    return cachedInfoMovieRepresentationsSorted(sorted);
}

void PMMainController::didTogglePropertyValue()
{
    updateLibrary();
    saveLibrarySoon();
}
