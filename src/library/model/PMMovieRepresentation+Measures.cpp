// Rating, counter, dates, durations, sizes, series membership and the playback position.
#include "library/model/PMMovieRepresentation.h"

#include "foundation/NSDate+PMExtensions.h"
#include "foundation/NSDictionary+PMExtensions.h"
#include "foundation/NSFileManager+PMHelpManager.h"
#include "foundation/NSString+PMHelpManagerLibraryFiles.h"
#include "foundation/NSString+PMHelpManagerNumbers.h"
#include "foundation/PMLog.h"
#include "library/model/PMCachedSettings.h"
#include "library/model/PMLibraryFileRules.h"
#include "platform/Format.h"
#include "platform/Queues.h"
#include "platform/RegularFile.h"
#include "foundation/PMSettingsKeys.h"
#include "platform/UserDefaults.h"
#include "library/model/PMMovie.h"

#include <QtCore/QFileInfo>
#include <QtCore/QHash>
#include <QtCore/QMimeDatabase>
#include <QtCore/QSet>
#include <QtGui/QImageReader>

#include <cmath>
#include <type_traits>

using platform::Date;
using platform::Value;

namespace {

const QString kRating = QStringLiteral("Rating");
const QString kCounter = QStringLiteral("Counter");
const QString kAdded = QStringLiteral("Added Timestamp");
const QString kCreated = QStringLiteral("Created Timestamp");
const QString kLastPlayback = QStringLiteral("Last Playback Timestamp");
const QString kLegacyLastPlayback = QStringLiteral("Last Playback");
const QString kPosition = QStringLiteral("Last Playback: Position");
const QString kPositionTimestamp = QStringLiteral("Last Playback: Timestamp");
const QString kResumeOnce = QStringLiteral("Last Playback: Resume Regardless Once");
const QString kDuration = QStringLiteral("Duration");

// The unique library IDs whose duration is being computed.
struct InFlight {
    std::mutex mutex;
    QSet<QString> ids;
};
InFlight& durationsInFlight()
{
    static InFlight* set = new InFlight;
    return *set;
}

// Reads a cache slot (a std::optional or a PMCachedDate) under the record's lock; computes
// outside it (the computation may ask other getters) and keeps the first value stored.
template <class Slot, class F>
auto cachedValue(std::mutex& mutex, Slot& slot, F compute) -> std::remove_cvref_t<decltype(*slot)>
{
    {
        std::lock_guard lock(mutex);
        if (slot)
            return *slot;
    }
    const std::remove_cvref_t<decltype(*slot)> value = compute();
    std::lock_guard lock(mutex);
    if (!slot)
        slot = value;
    return *slot;
}

bool fuzzyOldestDates()
{
    return PMCachedSettings::determineFuzzyOldestDate;
}

bool parseSize(const QString& text, QSizeF* size)
{
    // "{w, h}"
    QString t = text.trimmed();
    if (!t.startsWith(u'{') || !t.endsWith(u'}'))
        return false;
    const QStringList parts = t.mid(1, t.size() - 2).split(u',');
    if (parts.size() != 2)
        return false;
    bool ok1 = false, ok2 = false;
    const double w = parts[0].trimmed().toDouble(&ok1);
    const double h = parts[1].trimmed().toDouble(&ok2);
    if (!ok1 || !ok2 || !std::isfinite(w) || !std::isfinite(h))
        return false;
    *size = QSizeF(w, h);
    return true;
}

// Whether files with the (lower-case) extension are pictures: a process-wide table filled
// on first sight of each extension.
bool isImageFilenameExtension(const QString& extension)
{
    static std::mutex mutex;
    static QHash<QString, bool> table;
    {
        std::lock_guard lock(mutex);
        if (auto it = table.constFind(extension); it != table.constEnd())
            return *it;
    }
    bool image = QImageReader::supportedImageFormats().contains(extension.toLatin1());
    QStringList types;
    const QMimeDatabase database;
    for (const QMimeType& type : database.mimeTypesForFileName(QStringLiteral("x.") + extension)) {
        types << type.name();
        if (type.name().startsWith(QStringLiteral("image/")))
            image = true;
    }
    if (PMDebugLogEnabled())
        PMLog("[Debug] %@ %@ considered an image filename extension (types: %@)", extension, image ? QStringLiteral("is") : QStringLiteral("is not"),
              types.join(QStringLiteral(", ")));
    std::lock_guard lock(mutex);
    table.insert(extension, image);
    return image;
}

bool isStillImageURL(const QUrl& url)
{
    if (!url.isLocalFile())
        return false;
    const QString extension = QFileInfo(url.toLocalFile()).suffix().toLower();
    return !extension.isEmpty() && QImageReader::supportedImageFormats().contains(extension.toLatin1());
}

QString sizeText(QSizeF size)
{
    return QStringLiteral("{%1, %2}").arg(QString::number(size.width(), 'g', 17), QString::number(size.height(), 'g', 17));
}

// What measuring one record's duration needs, taken on the main thread.
struct DurationJob {
    // A local file by its path (its URL is made where it is measured: a library's worth
    // of URLs made here would stay with their records); anything else by its URL.
    QString path;
    QUrl url;
    QString uniqueID;
    platform::ArrayPtr editingSteps;
    std::shared_ptr<PMMovieRepresentationPrototype> record;
};

// Opens the file (off the main thread): its duration in seconds, 0 for a still picture,
// -1 when it cannot be measured.
qint64 measureDuration(const DurationJob& job)
{
    const QUrl url = job.path.isEmpty() ? job.url : QUrl::fromLocalFile(job.path);
    const bool animated = PMIsAnimatedImageURL(url);
    if ((animated && !PMCachedSettings::convertAnimatedImagesToMovies) || (!animated && isStillImageURL(url))) {
        // A picture that is not animated measures 0: measured, no duration, and not
        // measured again.
        return PMAnimatedImageDuration(url);
    }
    if (PMAssetPtr asset = PMMovie::assetWithURL(url, job.uniqueID, job.editingSteps)) {
        // A file that cannot be opened stays unknown.
        return asset->error().isEmpty() ? PMAssetDurationSeconds(asset) : -1;
    }
    return -1;
}

// Stores a measured duration (main thread); answers whether the record's duration changed.
bool applyMeasuredDuration(const DurationJob& job, qint64 seconds)
{
    const bool report = seconds > 0;
    const bool had = job.record->userSettings()->contains(kDuration);
    if (report)
        PMUpdateDurationForMovieRepresentation(seconds, QString(), job.uniqueID);
    if (report && !job.record->userSettings()->contains(kDuration))
        job.record->setDuration(seconds);
    if (seconds == 0)
        job.record->setDuration(0);
    {
        PMMovieRepresentationOriginal& o = job.record->original();
        std::lock_guard lock(o.m_mutex);
        o.m_durationUnmeasurable = seconds < 0;
    }
    InFlight& inFlight = durationsInFlight();
    std::lock_guard lock(inFlight.mutex);
    inFlight.ids.remove(job.uniqueID);
    return seconds >= 0 && (report || !had);
}

} // namespace

bool PMIsDurationComputationInFlight(const QString& uniqueLibraryID)
{
    std::lock_guard lock(durationsInFlight().mutex);
    return durationsInFlight().ids.contains(uniqueLibraryID);
}

// ---- Rating and counter

double PMMovieRepresentationPrototype::rating()
{
    return doubleValueOfObjectForKey(userSettings(), kRating);
}

void PMMovieRepresentationPrototype::setRating(double rating)
{
    if ((long long)rating == 0)
        userSettings()->remove(kRating);
    else if (rating == std::floor(rating))
        setNumberWithInteger(*userSettings(), (long long)rating, kRating);
    else
        setNumberWithDouble(*userSettings(), rating, kRating);
}

Value PMMovieRepresentationPrototype::counterNumber()
{
    const Value v = userSettings()->value(kCounter);
    return v.hasNumericValue() ? Value((long long)v.toLongLong()) : Value();
}

std::uint64_t PMMovieRepresentationPrototype::counter()
{
    return std::uint64_t(std::max<long long>(0, longLongValueOfObjectForKey(userSettings(), kCounter)));
}

void PMMovieRepresentationPrototype::incrementCounter()
{
    incrementCounterOnlyIfNecessary(false);
}

void PMMovieRepresentationPrototype::incrementCounterOnlyIfNecessary(bool onlyIfNecessary)
{
    platform::DictionaryPtr settings = userSettings();
    if (!onlyIfNecessary || (!settings->contains(kLastPlayback) && !settings->contains(kLegacyLastPlayback)))
        setLastPlaybackDate(Date::now());
    if (!onlyIfNecessary || counter() < 1)
        setNumberWithInteger(*settings, (long long)(counter() + 1), kCounter);
}

void PMMovieRepresentationPrototype::invalidateCounter()
{
    PMMovieRepresentationOriginal& o = original();
    {
        std::lock_guard lock(o.m_mutex);
        o.m_lastPlaybackDate.reset();
    }
    platform::DictionaryPtr settings = userSettings();
    settings->remove(kLastPlayback);
    settings->remove(kLegacyLastPlayback);
    settings->remove(kCounter);
}

// ---- Dates

Date PMMovieRepresentationPrototype::additionDate()
{
    PMMovieRepresentationOriginal& o = original();
    return cachedValue(o.m_mutex, o.m_additionDate, [&] {
        platform::DictionaryPtr settings = userSettings();
        // Converting a legacy date rewrites the settings: only where records change.
        std::optional<Date> date = dateForKey(*settings, kAdded, PMRecordGettersMayChangeRecords() ? QStringLiteral("Date") : QString());
        if (date)
            return *date;
        const Date now = canonicalMainQueueDate();
        // The stamp is written where records change: on the main thread. A reader on
        // another thread sees the same date through the cache until then.
        if (PMRecordGettersMayChangeRecords())
            setDate(*settings, now, kAdded);
        return now;
    });
}

void PMMovieRepresentationPrototype::setAdditionDate(const Date& date)
{
    setDate(*userSettings(), date, kAdded);
    PMMovieRepresentationOriginal& o = original();
    std::lock_guard lock(o.m_mutex);
    o.m_additionDate = date;
    o.m_oldestDate.reset();
    o.m_newestDate.reset();
    o.m_lastPlaybackDate.reset();
}

Date PMMovieRepresentationPrototype::creationDate()
{
    PMMovieRepresentationOriginal& o = original();
    {
        std::lock_guard lock(o.m_mutex);
        if (o.m_creationDate)
            return *o.m_creationDate;
    }
    if (isMissing()) {
        std::optional<Date> stored = dateForKey(*userSettings(), kCreated);
        return stored ? *stored : neverDate();
    }
    QString filePath = path();
    if (const std::optional<QStringList> parts = sequencePaths(path()); parts && !parts->isEmpty())
        filePath = parts->first();
    const std::optional<Date> date = creationDateFromPath(filePath);
    if (date && PMRecordGettersMayChangeRecords())
        setDate(*userSettings(), *date, kCreated);
    std::lock_guard lock(o.m_mutex);
    o.m_creationDate = date ? *date : neverDate();
    return *o.m_creationDate;
}

Date PMMovieRepresentationPrototype::individualOldestDate()
{
    Date result = additionDate();
    if (!fuzzyOldestDates())
        return result;
    if (PMCachedSettings::determineFuzzyOldestDateUseCreationDate) {
        const Date created = creationDate();
        if (!isNeverDate(created) && created < result && simpleDescription(created) != simpleDescription(result))
            result = created;
    }
    const long year = yearTagValue();
    if (year >= 1) {
        const Date endOfYear = dateWithEndOfYear(year);
        if (endOfYear < result)
            result = endOfYear;
    }
    return result;
}

long PMMovieRepresentationPrototype::yearTagValue()
{
    return long(Value(cachedLowercaseValueForLowercaseTag(QStringLiteral("year"))).toLongLong());
}

Date PMMovieRepresentationPrototype::individualNewestDate()
{
    Date result = additionDate();
    if (fuzzyOldestDates()) {
        const Date created = creationDate();
        if (!isNeverDate(created) && created > result)
            result = created;
    }
    return result;
}

Date PMMovieRepresentationPrototype::oldestDate()
{
    PMMovieRepresentationOriginal& o = original();
    return cachedValue(o.m_mutex, o.m_oldestDate, [&] {
        auto& services = PMMovieRepresentationServices::shared();
        if (fuzzyOldestDates() && services.oldestDateForSeriesIDPrefix) {
            const QString prefix = seriesIDPrefix();
            if (!prefix.isEmpty())
                if (std::optional<Date> date = services.oldestDateForSeriesIDPrefix(prefix))
                    return *date;
        }
        return individualOldestDate();
    });
}

Date PMMovieRepresentationPrototype::newestDate()
{
    PMMovieRepresentationOriginal& o = original();
    return cachedValue(o.m_mutex, o.m_newestDate, [&] {
        auto& services = PMMovieRepresentationServices::shared();
        if (fuzzyOldestDates() && services.newestDateForSeriesIDPrefix) {
            const QString prefix = seriesIDPrefix();
            if (!prefix.isEmpty())
                if (std::optional<Date> date = services.newestDateForSeriesIDPrefix(prefix))
                    return *date;
        }
        return individualNewestDate();
    });
}

Date PMMovieRepresentationPrototype::newestDateInSortingContext()
{
    return m_newestDateInSortingContext ? *m_newestDateInSortingContext : newestDate();
}

void PMMovieRepresentationPrototype::setNewestDateInSortingContext(std::optional<Date> date)
{
    m_newestDateInSortingContext = date;
}

bool PMMovieRepresentationPrototype::hasNewestDateInSortingContext() const
{
    return m_newestDateInSortingContext.has_value();
}

Date PMMovieRepresentationPrototype::lastPlaybackDate()
{
    PMMovieRepresentationOriginal& o = original();
    return cachedValue(o.m_mutex, o.m_lastPlaybackDate, [&] {
        std::optional<Date> date = dateForKey(*userSettings(), kLastPlayback, PMRecordGettersMayChangeRecords() ? kLegacyLastPlayback : QString());
        if (!date)
            return neverDate();
        const Date added = additionDate();
        return *date < added ? added : *date;
    });
}

void PMMovieRepresentationPrototype::setLastPlaybackDate(const Date& date)
{
    setDate(*userSettings(), date, kLastPlayback);
    PMMovieRepresentationOriginal& o = original();
    std::lock_guard lock(o.m_mutex);
    o.m_lastPlaybackDate = date;
}

void PMMovieRepresentationPrototype::invalidateFuzzyDates()
{
    m_newestDateInSortingContext.reset();
    PMMovieRepresentationOriginal& o = original();
    std::lock_guard lock(o.m_mutex);
    o.m_oldestDate.reset();
    o.m_newestDate.reset();
}

void PMMovieRepresentationPrototype::invalidateDates()
{
    PMMovieRepresentationOriginal& o = original();
    std::lock_guard lock(o.m_mutex);
    o.m_additionDate.reset();
    o.m_oldestDate.reset();
    o.m_lastPlaybackDate.reset();
}

// ---- Duration

void PMMovieRepresentationPrototype::setDuration(long long seconds)
{
    setNumberWithInteger(*userSettings(), seconds, kDuration);
}

long long PMMovieRepresentationPrototype::duration()
{
    return durationIfCached(false, false);
}

long long PMMovieRepresentationPrototype::durationIfCached(bool onlyIfCached, bool checkAnimatedImageDurationSynchronously)
{
    const Value stored = userSettings()->value(kDuration);
    if (stored.hasNumericValue())
        return stored.toLongLong();
    if (checkAnimatedImageDurationSynchronously) {
        const qint64 seconds = PMAnimatedImageDuration(URL());
        if (seconds >= 0 && PMRecordGettersMayChangeRecords())
            setDuration(seconds);
        return seconds;
    }
    // Measuring starts only from the main thread: getters warmed elsewhere stay pure.
    if (onlyIfCached || !PMRecordGettersMayChangeRecords() || (path().isEmpty() && URL().isEmpty()))
        return -1;
    {
        // A file that could not be measured this session is not opened again for every ask.
        PMMovieRepresentationOriginal& o = original();
        std::lock_guard lock(o.m_mutex);
        if (o.m_durationUnmeasurable)
            return -1;
    }
    const QString uniqueID = uniqueLibraryID();
    {
        InFlight& inFlight = durationsInFlight();
        std::lock_guard lock(inFlight.mutex);
        if (inFlight.ids.contains(uniqueID))
            return -1;
        inFlight.ids.insert(uniqueID);
    }
    const QString filePath = path();
    DurationJob job{filePath, filePath.isEmpty() ? URL() : QUrl(), uniqueID, userSettings()->value(QStringLiteral("Editing Steps")).array(), sharedRecord()};
    PMCrawlQueue::async([job] {
        const qint64 seconds = measureDuration(job);
        platform::dispatchAsyncMain([job, seconds] { applyMeasuredDuration(job, seconds); });
    });
    return -1;
}

namespace {

// Queues the measures of records already marked as queued, in batches on the crawl queue.
void queueDurationJobs(const std::vector<std::shared_ptr<PMMovieRepresentationPrototype>>& records, std::size_t begin, std::size_t end,
                       const std::function<void()>& changed)
{
    constexpr std::size_t kBatch = 32;
    std::vector<DurationJob> jobs;
    {
        InFlight& inFlight = durationsInFlight();
        std::lock_guard lock(inFlight.mutex);
        for (std::size_t i = begin; i < end; ++i) {
            const std::shared_ptr<PMMovieRepresentationPrototype>& movie = records[i];
            const QString path = movie->path();
            const QUrl url = path.isEmpty() ? movie->URL() : QUrl();
            const QString id = movie->uniqueLibraryID();
            if ((path.isEmpty() && url.isEmpty()) || inFlight.ids.contains(id)) {
                PMMovieRepresentationOriginal& o = movie->original();
                std::lock_guard recordLock(o.m_mutex);
                o.m_durationQueued = false;
                continue;
            }
            inFlight.ids.insert(id);
            jobs.push_back(DurationJob{path, url, id, movie->userSettings()->value(QStringLiteral("Editing Steps")).array(), movie});
        }
    }
    for (std::size_t start = 0; start < jobs.size(); start += kBatch) {
        auto batch = std::make_shared<std::vector<DurationJob>>(jobs.begin() + qsizetype(start),
                                                                jobs.begin() + qsizetype(std::min(jobs.size(), start + kBatch)));
        PMCrawlQueue::async([batch, changed] {
            auto seconds = std::make_shared<std::vector<qint64>>();
            seconds->reserve(batch->size());
            for (const DurationJob& job : *batch)
                seconds->push_back(measureDuration(job));
            platform::dispatchAsyncMain([batch, seconds, changed] {
                bool any = false;
                for (std::size_t i = 0; i < batch->size(); ++i) {
                    const DurationJob& job = (*batch)[i];
                    {
                        PMMovieRepresentationOriginal& o = job.record->original();
                        std::lock_guard lock(o.m_mutex);
                        o.m_durationQueued = false;
                    }
                    any = applyMeasuredDuration(job, (*seconds)[i]) || any;
                }
                if (any && changed)
                    changed();
            });
        });
    }
}

// The jobs of a large library are made a slice per turn of the main thread.
constexpr std::size_t kDurationJobsPerTurn = 2048;

} // namespace

void PMMeasureMovieDurationsInBackground(const std::vector<PMMovieRepresentationPrototype*>& movies, std::function<void()> changed)
{
    if (!PMRecordGettersMayChangeRecords())
        return;
    // Measured on the crawl queue in small batches, not one job per movie, so that a sum
    // over a whole library costs the main thread little more than reading the records;
    // the batches are dropped with the rest of the queue when the program ends. Each
    // record is marked queued here, so that a sum made again before its job is made
    // (a library's jobs are made over several turns) asks for nothing more.
    auto records = std::make_shared<std::vector<std::shared_ptr<PMMovieRepresentationPrototype>>>();
    for (PMMovieRepresentationPrototype* movie : movies) {
        if (!movie || movie->isOnlineItem())
            continue;
        PMMovieRepresentationOriginal& o = movie->original();
        {
            std::lock_guard recordLock(o.m_mutex);
            if (o.m_durationUnmeasurable || o.m_durationQueued)
                continue;
            o.m_durationQueued = true;
        }
        records->push_back(movie->sharedRecord());
    }
    platform::dispatchSlicesOnMain(records->size(), kDurationJobsPerTurn, [records, changed = std::move(changed)](std::size_t begin, std::size_t end) {
        queueDurationJobs(*records, begin, end, changed);
    });
}

// ---- Sizes

std::uint64_t PMMovieRepresentationPrototype::movieFileSize()
{
    PMMovieRepresentationOriginal& o = original();
    {
        std::lock_guard lock(o.m_mutex);
        if (o.m_movieFileSize)
            return *o.m_movieFileSize;
    }
    if (!isMissing()) {
        if (const std::optional<std::uint64_t> size = totalFileSizeAtPath(path())) {
            if (PMRecordGettersMayChangeRecords())
                setNumberWithInteger(*userSettings(), (long long)*size, QStringLiteral("Size"));
            std::lock_guard lock(o.m_mutex);
            o.m_movieFileSize = *size;
            return *size;
        }
    }
    return std::uint64_t(std::max<long long>(0, longLongValueOfObjectForKey(userSettings(), QStringLiteral("Size"))));
}

std::uint64_t PMMovieRepresentationPrototype::movieFileSizeWithoutDisk(bool* known)
{
    PMMovieRepresentationOriginal& o = original();
    {
        std::lock_guard lock(o.m_mutex);
        if (o.m_movieFileSize) {
            if (known)
                *known = true;
            return *o.m_movieFileSize;
        }
    }
    if (known)
        *known = false;
    return std::uint64_t(std::max<long long>(0, longLongValueOfObjectForKey(userSettings(), QStringLiteral("Size"))));
}

void PMRefreshMovieFileSizesInBackground(const std::vector<PMMovieRepresentationPrototype*>& movies, std::function<void()> changed)
{
    // One measuring queue, in order; a record waits there once however often it is asked
    // for. The records are known by address: the status line asks for every shown movie
    // whose size is not known yet, and working out 100,000 IDs for that costs the window.
    static QSet<const void*>* inFlight = new QSet<const void*>;
    static platform::SerialQueue* queue = new platform::SerialQueue(QStringLiteral("file sizes"), platform::QueuePriority::Background);
    // The answers reach the main thread a slice at a time, each a short turn of its own.
    constexpr std::size_t kAnswersPerTurn = 2048;
    struct Job {
        std::weak_ptr<PMMovieRepresentationOriginal> record;
        const void* address;
        QString path;
    };
    auto jobs = std::make_shared<std::vector<Job>>();
    for (PMMovieRepresentationPrototype* movie : movies) {
        if (!movie || movie->isMissing() || movie->isOnlineItem())
            continue;
        PMMovieRepresentationOriginal& original = movie->original();
        if (inFlight->contains(&original))
            continue;
        inFlight->insert(&original);
        jobs->push_back(Job{original.sharedOriginal(), &original, movie->path()});
    }
    if (jobs->empty())
        return;
    queue->async([jobs, changed = std::move(changed)] {
        for (std::size_t start = 0; start < jobs->size(); start += kAnswersPerTurn) {
            const std::size_t stop = std::min(jobs->size(), start + kAnswersPerTurn);
            auto sizes = std::make_shared<std::vector<std::optional<std::uint64_t>>>();
            sizes->reserve(stop - start);
            for (std::size_t i = start; i < stop; ++i)
                sizes->push_back(totalFileSizeAtPath((*jobs)[i].path));
            platform::dispatchAsyncMain([jobs, sizes, start, stop, changed] {
                bool any = false;
                for (std::size_t i = start; i < stop; ++i) {
                    const Job& job = (*jobs)[i];
                    inFlight->remove(job.address);
                    const std::shared_ptr<PMMovieRepresentationOriginal> record = job.record.lock();
                    const std::optional<std::uint64_t>& measured = (*sizes)[i - start];
                    if (!record || !measured)
                        continue;
                    bool known = false;
                    const std::uint64_t before = record->movieFileSizeWithoutDisk(&known);
                    {
                        std::lock_guard lock(record->m_mutex);
                        record->m_movieFileSize = *measured;
                    }
                    if (before != *measured) {
                        setNumberWithInteger(*record->userSettings(), (long long)*measured, QStringLiteral("Size"));
                        any = true;
                    }
                }
                if (any && changed)
                    changed();
            });
        }
    });
}

QString PMMovieRepresentationPrototype::movieFileSizeDescriptionIncludingEditedSize(bool)
{
    const std::uint64_t size = movieFileSize();
    return size >= 1 ? fileSizeDescriptionWithBytesCount(size) : QString();
}

QSizeF PMMovieRepresentationPrototype::assetSizeIfCached(bool onlyIfCached)
{
    platform::DictionaryPtr settings = userSettings();
    QSizeF size;
    const bool still = isConsideredStillImage();
    const Value stored = settings->value(QStringLiteral("Asset Size"));
    if (stored.isString() && parseSize(stored.string(), &size)) {
        if (still)
            return size;
    } else {
        const QString p = path();
        if (onlyIfCached || isMissing() || p.isEmpty())
            return {};
        // The pixel size of a picture or of the first visual track of a movie.
        if (still) {
            if (platform::checkRegularFile(p))
                size = QImageReader(p).size();
        } else if (PMAssetPtr asset = platform::media::Asset::assetWithURL(URL())) {
            size = PMAssetNaturalSize(asset);
        }
        if (size.width() < 1 || size.height() < 1)
            return {};
        if (!still && PMRecordGettersMayChangeRecords())
            settings->setValue(QStringLiteral("Asset Size"), sizeText(size));
    }
    if (std::abs(angle() % 180) == 90)
        size.transpose();
    if (const platform::DictionaryPtr area = settings->value(QStringLiteral("Visible Area")).dictionary()) {
        size.setWidth(size.width() * doubleValueOfObjectForKey(area, QStringLiteral("w")));
        size.setHeight(size.height() * doubleValueOfObjectForKey(area, QStringLiteral("h")));
    }
    if (settings->value(QStringLiteral("Aspect Ratio")).hasNumericValue())
        size.setHeight(size.width() * doubleValueOfObjectForKey(settings, QStringLiteral("Aspect Ratio")));
    if (still && PMRecordGettersMayChangeRecords())
        settings->setValue(QStringLiteral("Asset Size"), sizeText(size));
    return size;
}

QString PMMovieRepresentationPrototype::assetSizeDescription()
{
    const QSizeF size = assetSizeIfCached(false);
    if (size.width() < 1 || size.height() < 1)
        return {};
    return platform::format("%@\u2006×\u2006%@", stringWithDouble(size.width(), 0, false), stringWithDouble(size.height(), 0, false));
}

int PMMovieRepresentationPrototype::angle()
{
    return int(integerValueOfObjectForKey(userSettings(), QStringLiteral("Angle")));
}

bool PMMovieRepresentationPrototype::isConsideredStillImage()
{
    const QString extension = filenameExtension().toLower();
    if (extension.isEmpty())
        return false;
    if (isAnimatedImagePathExtension(extension)) {
        // Converted animations play as movies. Until its duration is known the file counts
        // as the picture its name says: the measuring decodes every frame, so it runs in
        // the background (started here) and never on the asker's thread.
        if (PMCachedSettings::convertAnimatedImagesToMovies && durationIfCached(false) >= 1)
            return false;
    } else if (durationIfCached(true) > 0) {
        return false;
    }
    return isImageFilenameExtension(extension);
}

void PMMovieRepresentationPrototype::rotateByAngle(int degrees)
{
    const int current = angle();
    const bool snap = degrees % 90 == 0 && current % 90 != 0;
    long long t = (long long)current + degrees + (snap && degrees < 0 ? 90 : 0);
    if (t < 0)
        t += ((-t + 359) / 360) * 360;
    if (snap)
        t -= t % 90;
    t %= 360;
    platform::DictionaryPtr settings = userSettings();
    if (t == 0)
        settings->remove(QStringLiteral("Angle"));
    else
        setNumberWithInteger(*settings, t, QStringLiteral("Angle"));
    settings->remove(QStringLiteral("Visible Area"));
    settings->remove(QStringLiteral("Aspect Ratio"));
    if (const std::shared_ptr<class PMMovie>& movie = original().m_movie)
        movie->setRotatesNaturalSize(t % 180 == 90);
    // A still image's pictures show the file turned: they are made again.
    if (isConsideredStillImage()) {
        setPosterImage(nullptr);
        uncacheCoverImageAndPosterImage();
    }
}

bool PMMovieRepresentationPrototype::isFlippedHorizontally()
{
    return boolValueOfObjectForKey(userSettings(), QStringLiteral("Flip Horizontally"));
}

void PMMovieRepresentationPrototype::setFlippedHorizontally(bool flipped)
{
    if (flipped == isFlippedHorizontally())
        return;
    platform::DictionaryPtr settings = userSettings();
    setNumberWithBool(*settings, flipped, QStringLiteral("Flip Horizontally"));
    if (const platform::DictionaryPtr area = settings->value(QStringLiteral("Visible Area")).dictionary()) {
        platform::DictionaryPtr mirrored = deeplyMutableCopy(area);
        setNumberWithDouble(*mirrored, 1.0 - doubleValueOfObjectForKey(area, QStringLiteral("x")) - doubleValueOfObjectForKey(area, QStringLiteral("w")),
                            QStringLiteral("x"));
        settings->setValue(QStringLiteral("Visible Area"), mirrored);
    }
    if (isConsideredStillImage()) {
        setPosterImage(nullptr);
        uncacheCoverImageAndPosterImage();
    }
}

// ---- Series

QString PMMovieRepresentationPrototype::indexedSeriesID()
{
    // Read in place: every library update asks each movie.
    const Value* v = original().m_userSettings->find(QStringLiteral("Series"));
    return v && v->isString() ? v->string() : QString();
}

QString PMMovieRepresentationPrototype::seriesIDPrefix()
{
    const QString series = indexedSeriesID();
    const qsizetype colon = series.indexOf(u':');
    return colon < 0 ? QString() : series.left(colon + 1);
}

void PMMovieRepresentationPrototype::setSeriesID(const QString& seriesID, std::uint64_t index)
{
    if (seriesID.isNull())
        userSettings()->remove(QStringLiteral("Series"));
    else
        userSettings()->setValue(QStringLiteral("Series"), platform::format("%@:%lu", seriesID, (unsigned long)index));
    invalidateSeriesSortName();
    invalidateCachedSubdivisionTags();
    invalidateFuzzyDates();
}

// ---- Playback position

void PMMovieRepresentationPrototype::savePlaybackPosition(double currentTime, qint64 d)
{
    // Without a known duration nothing can be said about the position: keep what is stored.
    if (d <= 0)
        return;
    platform::DictionaryPtr settings = userSettings();
    const qint64 r = PMRoundedSeconds(currentTime);
    if (r >= 1 && r < d - 2) {
        setNumberWithDouble(*settings, currentTime, kPosition);
        setDate(*settings, Date::now(), kPositionTimestamp);
    } else {
        settings->remove(kPosition);
        settings->remove(kPositionTimestamp);
    }
}

double PMMovieRepresentationPrototype::restorePlaybackPosition(qint64 d)
{
    platform::DictionaryPtr settings = userSettings();
    const double p = doubleValueOfObjectForKey(settings, kPosition);
    if (boolValueOfObjectForKey(settings, kResumeOnce)) {
        settings->remove(kResumeOnce);
        return p;
    }
    const qint64 r = PMRoundedSeconds(p);
    if (!(r >= 1 && r < d - 2))
        return 0;
    platform::UserDefaults& defaults = platform::UserDefaults::standard();
    if (double(d) < defaults.doubleForKey(prefs::keys::ResumeDurationThreshold))
        return 0;
    const Value limitValue = defaults.objectForKey(prefs::keys::ResumeTimestampLimit);
    const double limit = limitValue.hasNumericValue() ? limitValue.toDouble() : 172800.0;
    if (limit >= 1) {
        const std::optional<Date> saved = dateForKey(*settings, kPositionTimestamp);
        if (!saved || Date::now().secondsSince1970 - saved->secondsSince1970 >= limit)
            return 0;
    }
    return p;
}

void PMMovieRepresentationPrototype::goToTimestamp(double seconds, bool startPlaying)
{
    platform::DictionaryPtr settings = userSettings();
    setNumberWithDouble(*settings, seconds, kPosition);
    setNumberWithBool(*settings, true, kResumeOnce);
    if (auto& choose = PMMovieRepresentationServices::shared().chooseMovieRepresentation)
        choose(*this, startPlaying);
}
