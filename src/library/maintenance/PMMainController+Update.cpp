// The update pipeline: every change of the library reaches the screen by this road. It
// rebuilds the state derived from the tree (the lookup tables first), then refreshes
// the interface. The steps that belong to parts of the program not yet present are
// simply absent here.
#include "library/model/PMMainController.h"

#include "foundation/NSDictionary+PMExtensions.h"
#include "library/model/PMMovieRepresentation.h"
#include "platform/DelayedPerform.h"
#include "platform/UserDefaults.h"

using platform::Array;
using platform::ArrayPtr;
using platform::Value;

void PMMainController::updateLibraryAfterDelay(double delay, bool forceUpdateMissingStatus)
{
    if (forceUpdateMissingStatus)
        _skipMissingStatusUpdate = false;
    platform::performAfterDelay(this, QStringLiteral("updateLibrary"), Value(), delay, [this] { updateLibrary(); });
}

void PMMainController::updateLibrary()
{
    platform::cancelPreviousPerformRequests(this, QStringLiteral("updateLibrary"), Value());
    invalidateLibraryDependencies();
    invalidateCurrentOrMonitoredMovieRepresentationAncestors();
}

void PMMainController::saveLibrarySoon()
{
    // The library index is written by the persistence of the lifecycle; until it exists
    // a save request has nothing to write.
    platform::performAfterDelay(this, QStringLiteral("saveLibrary"), Value(), 10.0, [] {});
}

void PMMainController::invalidateLibraryDependencies()
{
    // The tables are rebuilt from scratch, at about the size they had.
    auto renew = [](auto& table) {
        const qsizetype size = table.size();
        table = {};
        table.reserve(size);
    };
    renew(_containersByID);
    renew(_nonProxyRawMovieRepresentationsByPath);
    renew(_nonProxyRawMovieRepresentationsByID);
    renew(_nonProxyRawMovieRepresentationSeriesByIDPrefix);
    renew(_nonProxyFilteredMovieRepresentationsByID);
    const qsizetype filtered = _nonProxyFilteredMovieRepresentations ? _nonProxyFilteredMovieRepresentations->count() : 0;
    _nonProxyFilteredMovieRepresentations = Array::make();
    _nonProxyFilteredMovieRepresentations->reserve(filtered);
    Array smartGroups;
    Array smartGroupFolders;
    invalidateLibraryDependencies(_library, &smartGroupFolders, &smartGroups, false);
    _skipMissingStatusUpdate = true;
}

void PMMainController::invalidateLibraryDependencies(const ArrayPtr& items, Array* collectSmartGroupFolders, Array* collectSmartGroups,
                                                     bool inSmartGroupStorage)
{
    if (!items)
        return;
    const long long mode = platform::UserDefaults::standard().integerForKey(QStringLiteral("Missing Movies Mode"));
    for (const Value& v : *items) {
        if (PMLibraryContainer* container = PMContainer(v)) {
            _containersByID.insert(container->uniqueLibraryID(), PMContainerPtr(v));
            container->invalidateChildren();
            const QString section = container->value(QStringLiteral("Library Section")).string();
            const QString role = container->topLevelRole();
            if (role == QLatin1String("Downloads") || role == QLatin1String("Conversions") || section == QLatin1String("iTunes")
                || section == QLatin1String("iPhoto") || section == QLatin1String("Aperture") || section == QLatin1String("Online"))
                continue;
            if (container->isSmartGroup()) {
                container->rawChildren()->removeAll();
                if (collectSmartGroups)
                    collectSmartGroups->append(v);
            } else if (inSmartGroupStorage) {
                if (collectSmartGroupFolders)
                    collectSmartGroupFolders->append(v);
                container->setValue(QStringLiteral("Smart Playlists Folder"), Value(true));
                invalidateLibraryDependencies(container->rawChildren(), collectSmartGroupFolders, collectSmartGroups, true);
            } else {
                container->remove(QStringLiteral("Smart Playlists Folder"));
                container->remove(QStringLiteral("Static Proxies"));
                invalidateLibraryDependencies(container->rawChildren(), collectSmartGroupFolders, collectSmartGroups,
                                              role == QLatin1String("Smart Groups"));
            }
            continue;
        }
        PMMovieRepresentationPrototype* movie = PMMovie(v);
        if (!movie || movie->isProxy())
            continue;
        PMMovieRepresentationOriginalPtr original = std::static_pointer_cast<PMMovieRepresentationOriginal>(v.object());
        const QString id = original->uniqueLibraryID();
        _nonProxyRawMovieRepresentationsByID.insert(id, original);
        const QString path = original->path();
        bool filteredIn = true;
        if (!path.isEmpty()) {
            _nonProxyRawMovieRepresentationsByPath.insert(precomposedStringWithCanonicalMapping(path), original);
            // The files themselves are tested by the missing-state step; here the state
            // the records hold decides.
            if (mode != 1)
                filteredIn = !original->isMissingVolume() && !(mode == -1 && original->isMissing());
        }
        if (filteredIn) {
            _nonProxyFilteredMovieRepresentationsByID.insert(id, original);
            _nonProxyFilteredMovieRepresentations->append(v);
        }
    }
}

void PMMainController::invalidateCurrentOrMonitoredMovieRepresentationAncestors()
{
    _currentOrMonitoredMovieRepresentationAncestors = nullptr;
    const Value subject = _currentMovieRepresentation.isNull() ? _externalViewerMovieRepresentation : _currentMovieRepresentation;
    if (subject.isNull())
        return;
    _currentOrMonitoredMovieRepresentationAncestors = ancestorsOfLibraryItem(subject);
}
