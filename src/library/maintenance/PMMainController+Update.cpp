// The update pipeline: every change of the library reaches the screen by this road. It
// rebuilds the state derived from the tree (the lookup tables first), then refreshes
// the interface. The steps that belong to parts of the program not yet present are
// simply absent here.
#include "library/model/PMMainController.h"

#include "foundation/NSDictionary+PMExtensions.h"
#include "library/model/PMMovieRepresentation.h"
#include "library/model/PMSortLibraryItems.h"
#include "platform/DelayedPerform.h"
#include "platform/UserDefaults.h"

#include <QtConcurrent/QtConcurrentRun>

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

void PMMainController::invalidateLibraryDependencies()
{
    // The tables are rebuilt from scratch, at about the size they had. The old ones are
    // released here, on the main thread, while the new ones are filled by workers.
    auto oldContainers = std::move(_containersByID);
    auto oldByPath = std::move(_nonProxyRawMovieRepresentationsByPath);
    auto oldByID = std::move(_nonProxyRawMovieRepresentationsByID);
    auto oldFilteredByID = std::move(_nonProxyFilteredMovieRepresentationsByID);
    _containersByID = {};
    _containersByID.reserve(oldContainers.size());
    _nonProxyRawMovieRepresentationSeriesByIDPrefix = {};
    _walkedMovies.clear();
    _walkedMovies.reserve(size_t(oldByID.size()));

    PMUpdateSubgroupsTreatedAsFiles();
    Array smartGroups;
    Array smartGroupFolders;
    invalidateLibraryDependencies(_library, &smartGroupFolders, &smartGroups, false);

    _nonProxyRawMovieRepresentationsByPath = {};
    _nonProxyRawMovieRepresentationsByPath.reserve(oldByPath.size());
    _nonProxyRawMovieRepresentationsByID = {};
    _nonProxyRawMovieRepresentationsByID.reserve(qsizetype(_walkedMovies.size()));
    _nonProxyFilteredMovieRepresentationsByID = {};
    _nonProxyFilteredMovieRepresentationsByID.reserve(qsizetype(_walkedMovies.size()));
    QFuture<void> building = QtConcurrent::run([this] { registerWalkedMovies(); });
    oldContainers = {};
    oldByPath = {};
    oldByID = {};
    oldFilteredByID = {};
    building.waitForFinished();
    _walkedMovies.clear();
    _skipMissingStatusUpdate = true;
}

void PMMainController::registerWalkedMovies()
{
    // Three independent tables: each is filled by its own worker; the walk order of the
    // filtered list is kept.
    auto byID = QtConcurrent::run([this] {
        // Backwards, so that this worker does not touch the same records as the others at
        // the same moment; the first entry met for a key is then the last one walked, the
        // one a forward pass would have kept.
        for (auto it = _walkedMovies.rbegin(); it != _walkedMovies.rend(); ++it)
            if (!_nonProxyRawMovieRepresentationsByID.contains(it->uniqueLibraryID))
                _nonProxyRawMovieRepresentationsByID.insert(it->uniqueLibraryID, it->original);
    });
    auto byPath = QtConcurrent::run([this] {
        for (const WalkedMovie& m : _walkedMovies)
            if (!m.path.isEmpty())
                _nonProxyRawMovieRepresentationsByPath.insert(precomposedStringWithCanonicalMapping(m.path), m.original);
    });
    auto filtered = Array::make();
    filtered->reserve(qsizetype(_walkedMovies.size()));
    for (const WalkedMovie& m : _walkedMovies) {
        if (!m.filteredIn)
            continue;
        _nonProxyFilteredMovieRepresentationsByID.insert(m.uniqueLibraryID, m.original);
        filtered->append(Value(m.original));
    }
    _nonProxyFilteredMovieRepresentations = filtered;
    byID.waitForFinished();
    byPath.waitForFinished();
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
        WalkedMovie walked;
        walked.original = std::static_pointer_cast<PMMovieRepresentationOriginal>(v.object());
        // IDs are made here, on the main thread, before the workers read them.
        walked.uniqueLibraryID = movie->uniqueLibraryID();
        walked.path = movie->path();
        // The files themselves are tested by the missing-state step; here the state the
        // records hold decides.
        if (!walked.path.isEmpty() && mode != 1)
            walked.filteredIn = !movie->isMissingVolume() && !(mode == -1 && movie->isMissing());
        _walkedMovies.push_back(std::move(walked));
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
