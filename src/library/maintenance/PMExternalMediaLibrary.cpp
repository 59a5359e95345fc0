#include "library/maintenance/PMExternalMediaLibrary.h"

#include "foundation/NSString+PMHelpManagerLibraryFiles.h"
#include "foundation/PMLog.h"
#include "library/model/PMSortLibraryItems.h"
#include "platform/Paths.h"
#include "platform/PropertyList.h"
#include "platform/ThreadSanitizer.h"
#include "foundation/PMSettingsKeys.h"
#include "platform/UserDefaults.h"

#include <QtConcurrent/QtConcurrentRun>
#include <QtCore/QCoreApplication>
#include <QtCore/QFile>
#include <QtCore/QFileSystemWatcher>
#include <QtCore/QPointer>
#include <QtCore/QUrl>

#include <mutex>

using platform::Array;
using platform::ArrayPtr;
using platform::Dictionary;
using platform::DictionaryPtr;
using platform::Value;

PMExternalMediaProvider::~PMExternalMediaProvider() = default;

// ---- The music library file ---------------------------------------------------------------

struct PMMusicLibraryXMLProvider::State {
    QString path;
    std::mutex lock;
    std::vector<std::pair<QString, Delivery>> requests;
    QPointer<QFileSystemWatcher> watcher;
    // Reads are numbered as they start; one that ends after a newer one delivered is
    // dropped, so the file's latest contents always have the last word.
    quint64 readsStarted = 0;
    quint64 newestDelivered = 0;
};

PMMusicLibraryXMLProvider::PMMusicLibraryXMLProvider(const QString& path) : m_state(std::make_shared<State>())
{
    m_state->path = path;
}

PMMusicLibraryXMLProvider::~PMMusicLibraryXMLProvider()
{
    delete m_state->watcher.data();
}

ArrayPtr PMMusicLibraryXMLProvider::mediaObjectsFromLibraryData(const QByteArray& data, QString* error)
{
    auto result = Array::make();
    const platform::PropertyListReadResult read = platform::readPropertyList(data);
    if (!read.ok() || !read.value.isDictionary()) {
        if (error)
            *error = read.ok() ? QStringLiteral("not a music library") : read.error;
        return result;
    }
    const DictionaryPtr tracks = read.value.dictionary()->value(QStringLiteral("Tracks")).dictionary();
    if (!tracks)
        return result;
    for (auto it = tracks->begin(); it != tracks->end(); ++it) {
        const DictionaryPtr track = it.value().dictionary();
        if (!track)
            continue;
        // The persistent ID is the identifier that stays with a track across exports.
        QString identifier = track->value(QStringLiteral("Persistent ID")).string().toUpper();
        if (identifier.isEmpty() || identifier.size() > 64)
            continue;
        const QString location = track->value(QStringLiteral("Location")).string();
        if (location.isEmpty())
            continue;
        const bool video = track->value(QStringLiteral("Has Video")).toBool() || track->value(QStringLiteral("Movie")).toBool()
            || track->value(QStringLiteral("TV Show")).toBool() || track->value(QStringLiteral("Music Video")).toBool();
        long long kind = 2;
        if (track->value(QStringLiteral("TV Show")).toBool())
            kind = 8;
        else if (track->value(QStringLiteral("Podcast")).toBool())
            kind = 4;
        else if (track->value(QStringLiteral("Music Video")).toBool())
            kind = 7;
        else if (track->value(QStringLiteral("iTunesU")).toBool())
            kind = 18;
        auto object = Dictionary::make({{QStringLiteral("identifier"), identifier},
                                        {QStringLiteral("URL"), location},
                                        {QStringLiteral("mediaType"), video ? QStringLiteral("movie") : QStringLiteral("audio")},
                                        {QStringLiteral("name"), track->value(QStringLiteral("Name")).string()},
                                        {QStringLiteral("mediaKind"), kind}});
        result->append(Value(object));
    }
    return result;
}

void PMMusicLibraryXMLProvider::requestMediaObjects(const QString& sourceIdentifier, Delivery deliver)
{
    if (sourceIdentifier != kPMMusicLibrarySourceIdentifier) {
        // No other source exists here.
        return;
    }
    std::shared_ptr<State> state = m_state;
    {
        std::lock_guard guard(state->lock);
        state->requests.emplace_back(sourceIdentifier, deliver);
    }
    const auto read = [state, sourceIdentifier] {
        quint64 serial = 0;
        {
            std::lock_guard guard(state->lock);
            serial = ++state->readsStarted;
        }
        (void)QtConcurrent::run(platform::carried([state, sourceIdentifier, serial] {
            QFile file(state->path);
            ArrayPtr objects = Array::make();
            // A library file is text of a few hundred megabytes at most.
            if (file.open(QIODevice::ReadOnly) && file.size() < (qint64(1) << 30)) {
                QString error;
                objects = mediaObjectsFromLibraryData(file.readAll(), &error);
                if (!error.isEmpty())
                    PMLog("cannot read music library <%@>: %@", state->path, error);
            }
            // Under the lock: deliveries leave in the order of their reads.
            std::lock_guard guard(state->lock);
            if (serial < state->newestDelivered)
                return;
            state->newestDelivered = serial;
            for (const auto& [source, deliver] : state->requests)
                if (source == sourceIdentifier)
                    deliver(sourceIdentifier, objects);
        }));
    };
    if (!state->watcher && QCoreApplication::instance()) {
        auto* watcher = new QFileSystemWatcher(QCoreApplication::instance());
        watcher->addPath(state->path);
        QObject::connect(watcher, &QFileSystemWatcher::fileChanged, watcher, [read, watcher, state](const QString&) {
            // An export replaces the file: watch the new one. The watch follows the file the
            // name stood for when it was added, so it is taken again from the name each time
            // (an old file that lives on under another name would otherwise be the one watched,
            // and every later write to it would start a read of the new file).
            watcher->removePath(state->path);
            watcher->addPath(state->path);
            read();
        });
        state->watcher = watcher;
    }
    read();
}

// ---- The library ----------------------------------------------------------------------------

PMExternalMediaLibrary& PMExternalMediaLibrary::externalMediaLibrary()
{
    static PMExternalMediaLibrary library;
    return library;
}

void PMExternalMediaLibrary::setProvider(std::shared_ptr<PMExternalMediaProvider> provider)
{
    m_provider = std::move(provider);
    m_requested.clear();
    m_mediaObjectsBySourceIdentifier.clear();
    m_alive = std::make_shared<int>(0);
}

bool PMExternalMediaLibrary::hasProvider()
{
    if (!m_provider) {
        const QString path = prefs::get(prefs::keys::MusicLibraryPath);
        if (!path.isEmpty())
            m_provider = std::make_shared<PMMusicLibraryXMLProvider>(platform::stringByExpandingTildeInPath(path));
    }
    return m_provider != nullptr;
}

void PMExternalMediaLibrary::reset()
{
    m_provider.reset();
    m_requested.clear();
    m_mediaObjectsBySourceIdentifier.clear();
    m_IDPrefixesByMediaSourceIdentifier.clear();
    m_cache.reset();
    m_alive = std::make_shared<int>(0);
}

std::optional<QHash<QString, ArrayPtr>> PMExternalMediaLibrary::movieRepresentationsWithIDPrefixesByMediaSourceIdentifier(const QHash<QString, QString>& prefixes)
{
    m_IDPrefixesByMediaSourceIdentifier = prefixes;
    if (prefixes.isEmpty())
        return std::nullopt;
    if (!hasProvider())
        return std::nullopt;
    QHash<QString, ArrayPtr> result;
    bool any = false;
    for (auto it = prefixes.constBegin(); it != prefixes.constEnd(); ++it) {
        const QString& source = it.key();
        const auto stored = m_mediaObjectsBySourceIdentifier.constFind(source);
        if (stored == m_mediaObjectsBySourceIdentifier.constEnd()) {
            // Not delivered yet: ask for it once; the delivery updates the library.
            if (!m_requested.contains(source)) {
                m_requested.insert(source);
                std::weak_ptr<int> alive = m_alive;
                m_provider->requestMediaObjects(source, [this, alive](const QString& s, const ArrayPtr& objects) {
                    QMetaObject::invokeMethod(QCoreApplication::instance(), platform::carried([this, alive, s, objects] {
                        if (!alive.expired())
                            mediaObjectsDidChange(s, objects);
                    }), Qt::QueuedConnection);
                });
            }
            continue;
        }
        any = true;
        if (!m_cache)
            m_cache.emplace();
        auto records = Array::make();
        for (const Value& v : **stored) {
            const DictionaryPtr object = v.dictionary();
            const QUrl url(object->value(QStringLiteral("URL")).string());
            if (url.isLocalFile() && isBlacklistedPath(url.toLocalFile()))
                continue;
            const QString id = it.value() + object->value(QStringLiteral("identifier")).string();
            PMMovieRepresentationOriginalPtr record = m_cache->value(id);
            if (record) {
                record->setURL(url);
                record->invalidateCachedTags();
                record->invalidateDisplayNameRecursively();
            } else {
                record = PMMovieRepresentationOriginal::movieRepresentationWithURL(url);
                if (!record)
                    continue;
                record->setUniqueLibraryID(id);
                m_cache->insert(id, record);
            }
            record->m_associatedMLMediaObject = v;
            records->append(Value(record));
        }
        if (records->count() >= 2)
            PMSortLibraryItemsInPlace(records, QString(), false, nullptr);
        result.insert(source, records);
    }
    if (!any)
        return std::nullopt;
    return result;
}

void PMExternalMediaLibrary::mediaObjectsDidChange(const QString& sourceIdentifier, const ArrayPtr& mediaObjects)
{
    const bool hadObjects = m_mediaObjectsBySourceIdentifier.contains(sourceIdentifier);
    m_mediaObjectsBySourceIdentifier.remove(sourceIdentifier);
    if (PMDebugLogEnabled())
        PMLog("[Debug] found %ld media objects for external media source: %@", qlonglong(mediaObjects ? mediaObjects->count() : 0), sourceIdentifier);
    // Only movies, unless the user wants every kind; only files.
    const bool nonMovies = prefs::get(prefs::keys::ImportNonMovieExternalMedia);
    auto accepted = Array::make();
    if (mediaObjects)
        for (const Value& v : *mediaObjects) {
            const DictionaryPtr object = v.dictionary();
            if (!object || object->value(QStringLiteral("identifier")).string().isEmpty())
                continue;
            if (!nonMovies && object->value(QStringLiteral("mediaType")).string() != QLatin1String("movie"))
                continue;
            if (!QUrl(object->value(QStringLiteral("URL")).string()).isLocalFile())
                continue;
            accepted->append(v);
        }
    if (accepted->isEmpty() && !hadObjects)
        return;
    if (!accepted->isEmpty())
        m_mediaObjectsBySourceIdentifier.insert(sourceIdentifier, accepted);
    if (m_IDPrefixesByMediaSourceIdentifier.contains(sourceIdentifier) && libraryNeedsUpdate)
        libraryNeedsUpdate();
}
