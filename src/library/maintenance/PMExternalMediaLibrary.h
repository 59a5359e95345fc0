// The movies of the desktop's media libraries, as movie records of their own in the
// sections of the "Library" storage. Sources deliver their media objects asynchronously
// through a provider; the library keeps one record per media object across deliveries, so
// that what a user gives such a movie (rating, counter, position, tags) survives.
//
// A media object is a dictionary: "identifier" (stable within its source), "URL" (text),
// "mediaType" ("movie", "audio", "image", ...), "name", and for the music library
// "mediaKind" (4 podcast, 7 music, 8 TV show, 18 course, else movie).
#pragma once

#include "library/model/PMMovieRepresentation.h"
#include "platform/Value.h"

#include <QtCore/QHash>
#include <QtCore/QString>

#include <functional>
#include <memory>
#include <optional>

// The music library's source and its ID prefix.
inline const QString kPMMusicLibrarySourceIdentifier = QStringLiteral("com.apple.iTunes");
inline const QString kPMMusicLibraryIDPrefix = QStringLiteral("iTunesTrack-");

// Where media objects come from. Requests are answered later, on any thread.
class PMExternalMediaProvider {
public:
    using Delivery = std::function<void(const QString& sourceIdentifier, const platform::ArrayPtr& mediaObjects)>;
    virtual ~PMExternalMediaProvider();
    // Starts loading the source's media objects; `deliver` is called with them (an empty
    // array when the source has none or cannot be read), now or later, on any thread, and
    // again whenever the source changes.
    virtual void requestMediaObjects(const QString& sourceIdentifier, Delivery deliver) = 0;
};

// The exported music library in its XML property-list form (the "Tracks" dictionary of
// the library file), read on the thread pool. The file is watched and read again when it
// changes.
class PMMusicLibraryXMLProvider : public PMExternalMediaProvider {
public:
    explicit PMMusicLibraryXMLProvider(const QString& path);
    ~PMMusicLibraryXMLProvider() override;
    void requestMediaObjects(const QString& sourceIdentifier, Delivery deliver) override;
    // The media objects of a library file's contents (tests, the reader).
    static platform::ArrayPtr mediaObjectsFromLibraryData(const QByteArray& data, QString* error);

private:
    struct State;
    std::shared_ptr<State> m_state;
};

class PMExternalMediaLibrary {
public:
    static PMExternalMediaLibrary& externalMediaLibrary();

    // The provider (the music library file of the settings, "Music Library Path", unless
    // one is set).
    void setProvider(std::shared_ptr<PMExternalMediaProvider> provider);
    // Whether any source can deliver at all.
    bool hasProvider();

    // Per source identifier, the movie records of its media objects; nothing while no
    // source has delivered (loading starts with the first call for a source).
    std::optional<QHash<QString, platform::ArrayPtr>> movieRepresentationsWithIDPrefixesByMediaSourceIdentifier(const QHash<QString, QString>& prefixes);

    // The records made so far by unique ID; the first update seeds it with the saved ones.
    QHash<QString, PMMovieRepresentationOriginalPtr>* cachedMovieRepresentationsByID() { return m_cache ? &*m_cache : nullptr; }
    void setCachedMovieRepresentationsByID(std::optional<QHash<QString, PMMovieRepresentationOriginalPtr>> cache) { m_cache = std::move(cache); }

    // Asked on the main thread when a delivery of an enabled source arrived.
    std::function<void()> libraryNeedsUpdate;

    // A delivery, on the main thread.
    void mediaObjectsDidChange(const QString& sourceIdentifier, const platform::ArrayPtr& mediaObjects);

    // Drops everything (tests, another library).
    void reset();

private:
    std::shared_ptr<PMExternalMediaProvider> m_provider;
    QHash<QString, platform::ArrayPtr> m_mediaObjectsBySourceIdentifier;
    QHash<QString, QString> m_IDPrefixesByMediaSourceIdentifier;
    QSet<QString> m_requested;
    std::optional<QHash<QString, PMMovieRepresentationOriginalPtr>> m_cache;
    std::shared_ptr<int> m_alive = std::make_shared<int>(0);
};
