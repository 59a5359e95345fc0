// The update's share of the desktop's media libraries: the records of each enabled source
// become the children of its section, grouped by kind; a section whose source has not
// delivered keeps its old children, marked stale.
#include "library/model/PMMainController.h"

#include "library/maintenance/PMExternalMediaLibrary.h"
#include "library/maintenance/PMMaintenanceShared.h"
#include "library/model/PMLibraryItemArrays.h"
#include "library/model/PMMovieRepresentation.h"
#include "foundation/PMSettingsKeys.h"
#include "platform/UserDefaults.h"

using platform::Array;
using platform::ArrayPtr;
using platform::Dictionary;
using platform::DictionaryPtr;
using platform::Value;

namespace {

const QString kStale = QStringLiteral("External: Stale");

// The section of the "Library" storage with the name, without making one.
PMLibraryContainerPtr existingSection(PMMainController& c, const QString& name)
{
    const PMLibraryContainerPtr library = c.storageWithName(QStringLiteral("Library"), nullptr, false);
    if (!library)
        return nullptr;
    for (const Value& v : *library->rawChildren())
        if (PMLibraryContainer* section = PMContainer(v); section && section->value(QStringLiteral("Library Section")).string() == name)
            return PMContainerPtr(v);
    return nullptr;
}

QString kindOf(const PMMovieRepresentationPrototype& movie, long long separationLevel)
{
    if (separationLevel < 0)
        return QStringLiteral("Movies");
    const auto& original = const_cast<PMMovieRepresentationPrototype&>(movie).original();
    const DictionaryPtr object = original.m_associatedMLMediaObject.dictionary();
    switch (object ? object->value(QStringLiteral("mediaKind")).toLongLong() : 0) {
    case 4: return QStringLiteral("Podcasts");
    case 7: return QStringLiteral("Music");
    case 8: return QStringLiteral("TV Shows");
    case 18: return QStringLiteral("iTunes U");
    default: return QStringLiteral("Movies");
    }
}

} // namespace

void PMMainController::invalidateExternalMediaSections()
{
    PMExternalMediaLibrary& media = PMExternalMediaLibrary::externalMediaLibrary();
    if (!media.libraryNeedsUpdate)
        media.libraryNeedsUpdate = [this] { updateLibraryAfterDelay(0, true); };
    platform::UserDefaults& d = platform::UserDefaults::standard();
    const bool musicEnabled = !d.boolForKey(prefs::keys::IgnoreITunesMovies);
    // Without a music library there is no section to make (a saved one stays, stale).
    const PMLibraryContainerPtr music =
        musicEnabled && media.hasProvider() ? iTunesSourceStorageSection() : existingSection(*this, QStringLiteral("iTunes"));
    if (!musicEnabled && music) {
        music->rawChildren()->removeAll();
        music->invalidateChildren();
    }
    // The photo libraries have no counterpart here: their sections stay as they are.
    QHash<QString, QString> prefixes;
    if (musicEnabled)
        prefixes.insert(kPMMusicLibrarySourceIdentifier, kPMMusicLibraryIDPrefix);

    // The first rebuild seeds the cache with the saved records, so they keep their settings.
    if (!media.cachedMovieRepresentationsByID()) {
        QHash<QString, PMMovieRepresentationOriginalPtr> seeded;
        const ArrayPtr saved = music ? music->allNonProxyMovieChildrenFromFilteredChildren(false) : nullptr;
        if (saved)
            for (const Value& v : *saved)
                if (PMMovieRepresentationPrototype* movie = PMMovie(v); movie && !movie->isProxy())
                    seeded.insert(movie->uniqueLibraryID(), std::static_pointer_cast<PMMovieRepresentationOriginal>(v.object()));
        media.setCachedMovieRepresentationsByID(std::move(seeded));
    }
    const std::optional<QHash<QString, ArrayPtr>> delivered = media.movieRepresentationsWithIDPrefixesByMediaSourceIdentifier(prefixes);
    if (!music || !musicEnabled)
        return;

    ArrayPtr records = delivered ? delivered->value(kPMMusicLibrarySourceIdentifier) : nullptr;
    if (records && !records->isEmpty()) {
        const long long level = PMExternalMediaKindSeparationLevel();
        QHash<QString, ArrayPtr> byKind;
        for (const Value& v : *records)
            if (PMMovieRepresentationPrototype* movie = PMMovie(v)) {
                ArrayPtr& list = byKind[kindOf(*movie, level)];
                if (!list)
                    list = Array::make();
                list->append(v);
            }
        auto children = Array::make();
        if (level < 1 && byKind.size() == 1) {
            children = records;
        } else {
            for (const char* kind : {"Movies", "TV Shows", "iTunes U", "Podcasts", "Music"}) {
                const ArrayPtr members = byKind.value(QString::fromLatin1(kind));
                if (!members)
                    continue;
                auto category = PMLibraryContainer::make({{QStringLiteral("External"), QString::fromLatin1(kind)},
                                                          {QStringLiteral("Name"), pmmaintenance::localized(kind)},
                                                          {QStringLiteral("Children"), Value(members)},
                                                          {QStringLiteral("Unique ID"), QStringLiteral("iTunesCategory-") + QString::fromLatin1(kind)}});
                _containersByID.insert(category->uniqueLibraryID(), category);
                children->append(Value(category));
            }
        }
        music->setValue(QStringLiteral("Children"), Value(children));
        music->remove(kStale);
    } else {
        // Nothing delivered (yet): the saved children stay, marked stale.
        music->setValue(kStale, true);
        for (const Value& v : *music->rawChildren())
            if (PMLibraryContainer* category = PMContainer(v))
                category->setValue(kStale, true);
    }
    music->invalidateChildren();
    // The section's movies are movies of the library like any other: found by their IDs
    // and shown in smart groups.
    const auto registerMovie = [this](const Value& v) {
        PMMovieRepresentationPrototype* movie = PMMovie(v);
        if (!movie || movie->isProxy())
            return;
        auto original = std::static_pointer_cast<PMMovieRepresentationOriginal>(v.object());
        _nonProxyRawMovieRepresentationsByID.insert(movie->uniqueLibraryID(), original);
        _nonProxyFilteredMovieRepresentationsByID.insert(movie->uniqueLibraryID(), original);
        if (_nonProxyFilteredMovieRepresentations) {
            // The list the rebuilds made may still be read by the work they started: it is
            // added to in a copy of its own.
            if (_nonProxyFilteredMovieRepresentations == _builtFiltered)
                _nonProxyFilteredMovieRepresentations = std::make_shared<platform::Array>(*_builtFiltered);
            _nonProxyFilteredMovieRepresentations->append(v);
        }
    };
    for (const Value& v : *music->rawChildren()) {
        if (PMLibraryContainer* category = PMContainer(v)) {
            _containersByID.insert(category->uniqueLibraryID(), PMContainerPtr(v));
            category->invalidateChildren();
            for (const Value& m : *category->rawChildren())
                registerMovie(m);
        } else {
            registerMovie(v);
        }
    }
}
