#include "library/model/PMMovieRepresentation.h"

#include "foundation/NSDictionary+PMExtensions.h"
#include "foundation/PMLog.h"
#include "library/model/PMMainController.h"
#include "platform/CallStack.h"
#include "platform/Format.h"
#include "platform/Paths.h"
#include "platform/Queues.h"
#include "library/model/PMMovie.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QSet>
#include "platform/Alert.h"
#include "foundation/PMSettingsKeys.h"

#include <chrono>
#include <condition_variable>
#include <thread>

using platform::Value;

PMMovieRepresentationPrototype::~PMMovieRepresentationPrototype() = default;

std::shared_ptr<PMMovieRepresentationPrototype> PMMovieRepresentationPrototype::sharedRecord()
{
    return std::static_pointer_cast<PMMovieRepresentationPrototype>(shared_from_this());
}

PMMovieRepresentationOriginal& PMMovieRepresentationPrototype::original()
{
    if (isProxy())
        return *static_cast<const PMMovieRepresentationProxy*>(this)->proxiedOriginal();
    return static_cast<PMMovieRepresentationOriginal&>(*this);
}

const PMMovieRepresentationOriginal& PMMovieRepresentationPrototype::original() const
{
    if (isProxy())
        return *static_cast<const PMMovieRepresentationProxy*>(this)->proxiedOriginal();
    return static_cast<const PMMovieRepresentationOriginal&>(*this);
}

Value PMMovieRepresentationPrototype::nonProxySelf()
{
    return Value(original().shared_from_this());
}

Value PMMovieRepresentationPrototype::objectForKey(const QString&)
{
    return {};
}

platform::DictionaryPtr PMMovieRepresentationPrototype::userSettings() const
{
    return original().m_userSettings;
}

namespace {
// The ID in a movie's settings (read under the record's lock); empty when it has none.
QString storedID(const platform::Dictionary& settings)
{
    const Value* id = settings.find(QStringLiteral("Unique ID"));
    return id && id->isString() ? id->string() : QString();
}
} // namespace

QString PMMovieRepresentationPrototype::uniqueLibraryID()
{
    PMMovieRepresentationOriginal& o = original();
    // The settings record of a movie is made with it and never replaced: no copy of the
    // pointer is needed to read it.
    const platform::DictionaryPtr& settings = o.m_userSettings;
    std::lock_guard lock(o.m_mutex);
    if (QString stored = storedID(*settings); !stored.isEmpty())
        return stored;
    const QString created = availableUniqueLibraryID();
    settings->setValue(QStringLiteral("Unique ID"), created);
    return created;
}

QString PMMovieRepresentationPrototype::storedUniqueLibraryID()
{
    PMMovieRepresentationOriginal& o = original();
    std::lock_guard lock(o.m_mutex);
    return storedID(*o.m_userSettings);
}

void PMMovieRepresentationPrototype::setUniqueLibraryID(const QString& uniqueLibraryID)
{
    std::lock_guard lock(original().m_mutex);
    setOrRemoveObject(*userSettings(), uniqueLibraryID.isNull() ? Value() : Value(uniqueLibraryID), prefs::keys::UniqueID);
}

bool PMMovieRepresentationPrototype::isExternalMediaItem() const
{
    return !original().m_associatedMLMediaObject.isNull();
}

QString PMMovieRepresentationPrototype::description() const
{
    auto* self = const_cast<PMMovieRepresentationPrototype*>(this);
    const char* name = isProxy() ? (isFanOutProxy()             ? "PMMovieRepresentationFanOutProxy"
                                        : isSearchResultProxy() ? "PMMovieRepresentationSearchResultProxy"
                                        : isStaticPlaylistProxy() ? "PMMovieRepresentationStaticPlaylistProxy"
                                                                  : "PMMovieRepresentationProxy")
                                 : "PMMovieRepresentationOriginal";
    return platform::format("<%@: %@ %p>", name, self->locationKey(), static_cast<const void*>(this));
}

PMMovieRepresentationValues PMMovieRepresentationPrototype::movieRepresentationValues()
{
    PMMovieRepresentationValues values;
    values.URL = URL();
    values.uniqueLibraryID = uniqueLibraryID();
    values.editingSteps = userSettings()->value(QStringLiteral("Editing Steps")).array();
    values.angle = angle();
    return values;
}

// ---------------------------------------------------------------------------

PMMovieRepresentationOriginal::PMMovieRepresentationOriginal(const QUrl& url, platform::DictionaryPtr settings)
    : m_URL(url)
    , m_userSettings(settings ? std::move(settings) : platform::Dictionary::make())
{
}

PMMovieRepresentationOriginal::PMMovieRepresentationOriginal(const QString& localPath, platform::DictionaryPtr settings)
    : m_userSettings(settings ? std::move(settings) : platform::Dictionary::make())
{
    if (platform::isCleanAbsolutePath(localPath))
        m_path = localPath;
    else
        m_URL = QUrl::fromLocalFile(localPath);
}

PMMovieRepresentationOriginalPtr PMMovieRepresentationOriginal::movieRepresentationWithURL(const QUrl& url)
{
    if (!url.isValid() || url.isEmpty())
        return nullptr;
    auto record = std::make_shared<PMMovieRepresentationOriginal>(url);
    // A new record is stamped with the date it was added, and given its ID here rather than
    // by a getter that the sort engine may first call from another thread.
    record->additionDate();
    record->uniqueLibraryID();
    return record;
}

PMMovieRepresentationOriginalPtr PMMovieRepresentationOriginal::movieRepresentationWithPath(const QString& path)
{
    return movieRepresentationWithPath(path, QString(), QByteArray());
}

PMMovieRepresentationOriginalPtr PMMovieRepresentationOriginal::movieRepresentationWithPath(const QString& path, const QString& relativePath,
                                                                                            const QByteArray& bookmark)
{
    if (path.isEmpty())
        return nullptr;
    const QString fixed = fixedPath(path, relativePath, bookmark, nullptr);
    PMMovieRepresentationOriginalPtr record = movieRepresentationWithURL(QUrl::fromLocalFile(fixed.isEmpty() ? path : fixed));
    if (record && !bookmark.isEmpty())
        record->setBookmark(bookmark);
    return record;
}

std::shared_ptr<PMMovieRepresentationOriginal> PMMovieRepresentationOriginal::sharedOriginal()
{
    return std::static_pointer_cast<PMMovieRepresentationOriginal>(shared_from_this());
}

PMMovieRepresentationProxyPtr PMMovieRepresentationOriginal::proxy()
{
    return std::make_shared<PMMovieRepresentationProxy>(sharedOriginal());
}

PMMovieRepresentationProxyPtr PMMovieRepresentationOriginal::fanOutProxy()
{
    return std::make_shared<PMMovieRepresentationFanOutProxy>(sharedOriginal());
}

PMMovieRepresentationProxyPtr PMMovieRepresentationOriginal::searchResultProxy()
{
    return std::make_shared<PMMovieRepresentationSearchResultProxy>(sharedOriginal());
}

PMMovieRepresentationProxyPtr PMMovieRepresentationOriginal::staticPlaylistProxy()
{
    return std::make_shared<PMMovieRepresentationStaticPlaylistProxy>(sharedOriginal());
}

void PMMovieRepresentationOriginal::loadUserSettings(const platform::DictionaryPtr& saved)
{
    adoptUserSettings(saved ? deeplyMutableCopy(saved) : saved);
}

void PMMovieRepresentationOriginal::adoptUserSettings(const platform::DictionaryPtr& saved)
{
    if (saved) {
        const bool legacyDate = saved->contains(QStringLiteral("Date")) && !saved->contains(QStringLiteral("Added Timestamp"));
        if (saved == m_userSettings) {
            // Already the record's own.
        } else if (m_userSettings->isEmpty()) {
            std::swap(m_userSettings->map(), saved->map());
        } else {
            for (auto it = saved->begin(); it != saved->end(); ++it)
                m_userSettings->setValue(it.key(), it.value());
            saved->removeAll();
        }
        m_userSettings->remove(QStringLiteral("Auto-Tag XML Items"));
        m_userSettings->remove(QStringLiteral("Moving"));
        // The older flag of image sequences, whatever it says: their duration is measured again.
        if (m_userSettings->contains(QStringLiteral("Plays Frame Images"))) {
            setNumberWithInteger(*m_userSettings, 0, QStringLiteral("Duration"));
            m_userSettings->remove(QStringLiteral("Plays Frame Images"));
        }
        if (legacyDate)
            m_userSettings->remove(QStringLiteral("Added Timestamp"));
    }
    invalidateDates();
    // Legacy dates are converted and a missing addition date stamped here, so that the
    // getters find them in place.
    additionDate();
    dateForKey(*m_userSettings, QStringLiteral("Last Playback Timestamp"), QStringLiteral("Last Playback"));
    invalidateDates();
}

QString PMMovieRepresentationOriginal::duplicateComparisonValue() const
{
    std::lock_guard lock(m_mutex);
    return m_duplicateComparisonValue;
}

void PMMovieRepresentationOriginal::setDuplicateComparisonValue(const QString& value)
{
    std::lock_guard lock(m_mutex);
    m_duplicateComparisonValue = value;
}

bool PMMovieRepresentationOriginal::hasAttemptedToCacheRawFileMetadataTagsAtLeastOnce() const
{
    std::lock_guard lock(m_mutex);
    return m_hasAttemptedToCacheRawFileMetadataTagsAtLeastOnce;
}

PMMovieRepresentationProxy::PMMovieRepresentationProxy(PMMovieRepresentationOriginalPtr original)
    : m_original(std::move(original))
{
}

PMMovieRepresentationProxyPtr PMMovieRepresentationProxy::proxy()
{
    PMLog("requested proxy for proxy: %@ <= %@", description(), platform::callStackDescription());
    return m_original->proxy();
}

Value PMMovieRepresentationProxy::objectForKey(const QString& key)
{
    PMLog("attempted to request [PMMovieRepresentationProxy objectForKey: %@] <= %@", key, platform::callStackDescription());
    platform::beep();
    return {};
}

// ---------------------------------------------------------------------------

PMMovieRepresentationServices& PMMovieRepresentationServices::shared()
{
    static PMMovieRepresentationServices services;
    return services;
}

void PMUpdateDurationForMovieRepresentation(qint64 seconds, const QString& assetSizeDescription, const QString& uniqueLibraryID)
{
    PMMovieRepresentationOriginalPtr record = mainController()._nonProxyRawMovieRepresentationsByID.value(uniqueLibraryID);
    if (!record)
        return;
    if (seconds >= 0)
        record->setDuration(seconds);
    if (!assetSizeDescription.isEmpty())
        record->userSettings()->setValue(QStringLiteral("Asset Size"), assetSizeDescription);
}

namespace {
thread_local int sideEffectFreeGettersDepth = 0;
} // namespace

PMSideEffectFreeGetters::PMSideEffectFreeGetters()
{
    ++sideEffectFreeGettersDepth;
}

PMSideEffectFreeGetters::~PMSideEffectFreeGetters()
{
    --sideEffectFreeGettersDepth;
}

bool PMRecordGettersMayChangeRecords()
{
    return sideEffectFreeGettersDepth == 0 && platform::isMainThread();
}

namespace {

// Background work of records still running when the application object goes away is
// waited for, so that no job outlives what it reads.
struct CrawlQueueState {
    CrawlQueueState()
    {
        queue.setMaxConcurrentOperationCount(1);
        queue.setRunsInBackground(true);
    }
    // One at a time, in priority order (equal priorities in the order added), on a thread
    // of the background pool: its reads and measures of the whole library yield to the window.
    platform::OperationQueue queue{QStringLiteral("com.tolvane.crawl")};
    std::mutex mutex;
    std::condition_variable idle;
    int pending = 0;
};

CrawlQueueState& crawlQueueState()
{
    static CrawlQueueState* state = [] {
        auto* created = new CrawlQueueState; // lives until the process ends
        if (QCoreApplication::instance())
            qAddPostRoutine([] { PMCrawlQueue::waitUntilEmpty(); });
        return created;
    }();
    return *state;
}

} // namespace

void PMCrawlQueue::async(std::function<void()> job)
{
    crawlQueueState().queue.addOperation(std::move(job));
}

platform::OperationQueue& PMCrawlQueue::operationQueue()
{
    return crawlQueueState().queue;
}

void PMCrawlQueue::beginBackgroundWork()
{
    CrawlQueueState& state = crawlQueueState();
    std::lock_guard lock(state.mutex);
    ++state.pending;
}

void PMCrawlQueue::endBackgroundWork()
{
    CrawlQueueState& state = crawlQueueState();
    std::lock_guard lock(state.mutex);
    if (--state.pending == 0)
        state.idle.notify_all();
}

void PMCrawlQueue::waitUntilEmpty()
{
    CrawlQueueState& state = crawlQueueState();
    {
        std::unique_lock lock(state.mutex);
        state.idle.wait(lock, [&] { return state.pending == 0; });
    }
    state.queue.waitUntilAllOperationsAreFinished();
}

bool PMCrawlQueue::waitUntilEmpty(std::chrono::milliseconds bound)
{
    CrawlQueueState& state = crawlQueueState();
    const auto deadline = std::chrono::steady_clock::now() + bound;
    {
        std::unique_lock lock(state.mutex);
        if (!state.idle.wait_until(lock, deadline, [&] { return state.pending == 0; }))
            return false;
    }
    while (state.queue.operationCount() > 0) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}
