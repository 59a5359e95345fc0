#include "library/model/PMLibraryItemArrays.h"

#include "foundation/NSDictionary+PMExtensions.h"
#include "foundation/NSString+PMHelpManagerLibraryFiles.h"
#include "foundation/NSString+PMHelpManagerNumbers.h"
#include "foundation/PMFunctions.h"
#include "library/model/PMLibraryContainer.h"
#include "library/model/PMLibraryItem.h"
#include "library/model/PMMainController.h"
#include "library/model/PMMovieRepresentation.h"
#include "library/model/PMSortLibraryItems.h"
#include "platform/ConcurrentApply.h"
#include "platform/DelayedPerform.h"
#include "platform/Format.h"
#include "platform/Queues.h"
#include "foundation/PMSettingsKeys.h"
#include "platform/UserDefaults.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QDir>
#include <QtCore/QFileInfo>
#include <QtCore/QSet>

#include <mutex>
#include <utility>

using platform::Value;

Value objectWithUniqueLibraryID(const platform::Array& items, const QString& uniqueLibraryID)
{
    for (const Value& v : items)
        if (PMLibraryItem* item = PMItem(v); item && item->uniqueLibraryID() == uniqueLibraryID)
            return v;
    return {};
}

bool containsMovieRepresentationsOnly(const platform::Array& items)
{
    for (const Value& v : items)
        if (!PMMovie(v))
            return false;
    return true;
}

bool containsOnlineItem(const platform::Array& items)
{
    for (const Value& v : items)
        if (PMLibraryItem* item = PMItem(v); item && item->isOnlineItem())
            return true;
    return false;
}

namespace {

// The answers come in batches, thousands of them for a large library: the status line
// follows them a few times a second, not once per batch (each sum reads every shown
// movie). A refresh already waiting is not put off by the next batch.
void refreshStatus()
{
    static bool waiting = false;
    static const char target = 0; // a target of its own: nobody else cancels the refresh
    if (std::exchange(waiting, true))
        return;
    platform::performAfterDelay(&target, QStringLiteral("updateStatusFields"), Value(), 0.25, [] {
        waiting = false;
        PMMainController::mainController().updateStatusFields();
    });
}

// The sums over `count` items, `movieAt(i)` answering the movie of each (or nothing).
template <class MovieAt>
void aggregateDuration(std::size_t count, const MovieAt& movieAt, long long* getAggregateDuration, std::uint64_t* getAggregateSize,
                       bool returnZeroSizeIfInDoubt)
{
    // Sizes come from memory and the records (never the disk: a sum over a large folder
    // would ask for every file); those not measured this session are measured in the
    // background, and the status line is brought up to date when one differed.
    struct Sum {
        long long duration = 0;
        std::uint64_t size = 0;
        bool doubtful = false;
        std::vector<PMMovieRepresentationPrototype*> unmeasured, undurated;
    };
    // Reads only what the records hold (under their locks), so that the slices of a large
    // content can be summed on every core while the main thread waits for them.
    const auto sumSlice = [&](std::size_t begin, std::size_t end, Sum& sum) {
        for (std::size_t i = begin; i < end; ++i) {
            PMMovieRepresentationPrototype* shown = movieAt(i);
            if (!shown)
                continue;
            // A search result stands for its record: every question below goes to the
            // record, found once here rather than once per question.
            PMMovieRepresentationOriginal* movie = &shown->original();
            if (getAggregateDuration) {
                // Durations not known yet are measured in one batch in the background,
                // never one job per movie from here: the sum runs over whole libraries.
                // One already waiting for its measure (or found unmeasurable) is left out
                // here, on the slice's thread, so the main thread does not ask it again.
                const long long seconds = movie->durationIfCached(true);
                if (seconds < 0) {
                    std::lock_guard lock(movie->m_mutex);
                    if (!movie->m_durationQueued && !movie->m_durationUnmeasurable)
                        sum.undurated.push_back(movie);
                }
                sum.duration += std::max(0LL, seconds);
            }
            if (getAggregateSize) {
                if (movie->isOnlineItem()) {
                    sum.doubtful = true;
                } else {
                    bool known = false;
                    sum.size += movie->movieFileSizeWithoutDisk(&known);
                    if (!known)
                        sum.unmeasured.push_back(movie);
                }
            }
        }
    };
    constexpr std::size_t kSlice = 8192;
    Sum total;
    if (count >= 2 * kSlice && platform::isMainThread()) {
        std::vector<Sum> sums((count + kSlice - 1) / kSlice);
        platform::concurrentApply(sums.size(), [&](std::size_t slice) {
            sumSlice(slice * kSlice, std::min(count, (slice + 1) * kSlice), sums[slice]);
        });
        for (Sum& sum : sums) {
            total.duration += sum.duration;
            total.size += sum.size;
            total.doubtful = total.doubtful || sum.doubtful;
            total.unmeasured.insert(total.unmeasured.end(), sum.unmeasured.begin(), sum.unmeasured.end());
            total.undurated.insert(total.undurated.end(), sum.undurated.begin(), sum.undurated.end());
        }
    } else {
        sumSlice(0, count, total);
    }
    const long long duration = total.duration;
    const std::uint64_t size = total.size;
    const bool doubtful = total.doubtful;
    const std::vector<PMMovieRepresentationPrototype*>& unmeasured = total.unmeasured;
    const std::vector<PMMovieRepresentationPrototype*>& undurated = total.undurated;
    if (!unmeasured.empty() && platform::isMainThread())
        PMRefreshMovieFileSizesInBackground(unmeasured, refreshStatus);
    if (!undurated.empty() && platform::isMainThread())
        PMMeasureMovieDurationsInBackground(undurated, refreshStatus);
    if (getAggregateDuration)
        *getAggregateDuration = duration;
    if (getAggregateSize)
        *getAggregateSize = doubtful && returnZeroSizeIfInDoubt ? 0 : size;
}

template <class MovieAt>
QString describeDurationAndSize(std::size_t count, const MovieAt& movieAt)
{
    long long duration = 0;
    std::uint64_t size = 0;
    aggregateDuration(count, movieAt, &duration, &size, true);
    if (duration < 1)
        return size == 0 ? QString() : fileSizeDescriptionWithBytesCount(size);
    const QString durationText = PMDurationString(double(duration), false, count >= 2, false);
    if (size == 0)
        return durationText;
    return platform::format("%@ · %@", durationText, fileSizeDescriptionWithBytesCount(size));
}

QString spacedParanthesized(const QString& description)
{
    if (description.isEmpty())
        return description;
    return platform::format(QCoreApplication::translate("PMLibraryItemArrays", " (%@)").toUtf8().constData(), description);
}

} // namespace

void getAggregateDuration(const platform::Array& items, long long* getAggregateDuration, std::uint64_t* getAggregateSize, bool returnZeroSizeIfInDoubt)
{
    const std::vector<Value>& values = items.values();
    aggregateDuration(values.size(), [&](std::size_t i) { return PMMovie(values[i]); }, getAggregateDuration, getAggregateSize, returnZeroSizeIfInDoubt);
}

QString durationAndMovieFileSizeDescription(const platform::Array& items)
{
    const std::vector<Value>& values = items.values();
    return describeDurationAndSize(values.size(), [&](std::size_t i) { return PMMovie(values[i]); });
}

QString spacedParanthesizedDurationAndMovieFileSizeDescription(const platform::Array& items)
{
    return spacedParanthesized(durationAndMovieFileSizeDescription(items));
}

QString spacedParanthesizedDurationAndMovieFileSizeDescription(std::span<PMMovieRepresentationPrototype* const> movies)
{
    return spacedParanthesized(describeDurationAndSize(movies.size(), [&](std::size_t i) { return movies[i]; }));
}

long long commonRatingAmongRatings(const platform::Array& items, std::vector<double>* amongRatings)
{
    if (items.isEmpty())
        return -1;
    bool differ = false;
    long long first = 0;
    bool haveFirst = false;
    for (const Value& v : items) {
        PMLibraryItem* item = PMItem(v);
        const double rating = item ? item->rating() : 0.0;
        if (amongRatings)
            amongRatings->push_back(rating);
        if (!haveFirst) {
            first = (long long)rating;
            haveFirst = true;
        } else if ((long long)rating != first) {
            differ = true;
            if (!amongRatings)
                return -1;
        }
    }
    return differ ? -1 : first;
}

QStringList uniqueTrimmedStrings(const QStringList& strings)
{
    QStringList result;
    QSet<QString> taken;
    for (const QString& s : strings) {
        const QString trimmed = s.trimmed();
        if (trimmed.isEmpty())
            continue;
        const QString lower = trimmed.toLower();
        if (taken.contains(lower))
            continue;
        taken.insert(lower);
        result << trimmed;
    }
    return result;
}

QString uniqueTagName(const platform::Array& elements, const QString& proposedName, const Value& ignore)
{
    QString name = proposedName;
    if (name == QLatin1String("?"))
        name = QCoreApplication::translate("PMLibraryItemArrays", "Question Mark (Pellis uses \"?\" as a placeholder)");
    else if (name.compare(QLatin1String("notes"), Qt::CaseInsensitive) == 0)
        name = QCoreApplication::translate("PMLibraryItemArrays", "Listed Notes");
    QString candidate = name;
    unsigned long counter = 0;
    for (qsizetype i = 0; i < elements.count(); ++i) {
        const Value& element = elements.at(i);
        if (!ignore.isNull() && element.isObject() && ignore.isObject() && element.object() == ignore.object())
            continue;
        const platform::DictionaryPtr d = element.dictionary();
        if (!d)
            continue;
        if (d->value(QStringLiteral("Tag")).string().compare(candidate, Qt::CaseInsensitive) == 0) {
            candidate = platform::format("%@ %lu", name, ++counter);
            i = -1; // scan again from the first element
        }
    }
    return candidate;
}

namespace {

// Folders are searched at most this deep, so a tree made of links or a hostile layout
// cannot run away.
constexpr int kMaximumFolderDepth = 64;

void sortPaths(QStringList& paths)
{
    std::stable_sort(paths.begin(), paths.end(), [](const QString& a, const QString& b) { return PMCompareSortStrings(a, b) < 0; });
}

bool addMovieURLsFromPathsAtDepth(QList<QUrl>& urls, const QStringList& givenPaths, const QString& basePath,
                                  const platform::Dictionary* existing, platform::Array* collect, int depth, const PMBlacklistMatcher& blacklist)
{
    if (depth > kMaximumFolderDepth)
        return false;
    QStringList paths = givenPaths;
    sortPaths(paths);
    const bool keepFolders = collect && !prefs::get(prefs::keys::IgnoreExternalFolderStructure);
    const bool belowBase = !basePath.isEmpty();
    bool added = false;
    for (const QString& path : paths) {
        const QString name = belowBase ? QFileInfo(path).fileName() : path;
        const std::optional<QString> itemPath = itemPathWithBasePath(name, belowBase ? basePath : QString(), nullptr, belowBase, belowBase, &blacklist);
        if (!itemPath)
            continue;
        const QFileInfo info(*itemPath);
        // Folders are entered only as themselves, never through a link, so a loop of links
        // is not followed.
        if (info.isDir() && !info.isSymLink() && !isPackagePath(*itemPath)) {
            QStringList contents;
            for (const QString& entry : QDir(*itemPath).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot))
                contents << *itemPath + u'/' + entry;
            if (!keepFolders) {
                added |= addMovieURLsFromPathsAtDepth(urls, contents, *itemPath, existing, collect, depth + 1, blacklist);
                continue;
            }
            auto folder = PMLibraryContainer::make();
            platform::Array* folderChildren = folder->rawChildren().get();
            if (addMovieURLsFromPathsAtDepth(urls, contents, *itemPath, existing, folderChildren, depth + 1, blacklist)) {
                folder->setValue(QStringLiteral("Name"), QFileInfo(*itemPath).fileName());
                collect->append(platform::Value(folder));
                added = true;
            }
            continue;
        }
        if (info.isDir() && info.isSymLink() && !isPackagePath(*itemPath))
            continue;
        const QUrl url = QUrl::fromLocalFile(*itemPath);
        urls.append(url);
        added = true;
        if (collect) {
            const bool known = existing && existing->contains(precomposedStringWithCanonicalMapping(*itemPath));
            if (!known)
                if (PMMovieRepresentationOriginalPtr movie = PMMovieRepresentationOriginal::movieRepresentationWithURL(url))
                    collect->append(platform::Value(movie));
        }
    }
    return added;
}

} // namespace

bool addMovieURLsFromPaths(QList<QUrl>& urls, const QStringList& paths, const QString& basePath,
                           const platform::Dictionary* existingMovieRepresentationsByPath, platform::Array* collectLibraryItems)
{
    // One blacklist for the whole walk, prepared once.
    const PMBlacklistMatcher blacklist = PMBlacklistMatcher::fromUserDefaults();
    return addMovieURLsFromPathsAtDepth(urls, paths, basePath, existingMovieRepresentationsByPath, collectLibraryItems, 0, blacklist);
}

bool addMovieURLs(QList<QUrl>& urls, const QList<QUrl>& movieURLs)
{
    bool added = false;
    for (const QUrl& url : movieURLs) {
        if (url.isLocalFile()) {
            added |= addMovieURLsFromPaths(urls, {url.toLocalFile()}, QString(), nullptr, nullptr);
        } else {
            urls.append(url);
            added = true;
        }
    }
    return added;
}

void addSequence(platform::Array& items, const QStringList& sequence, platform::Dictionary& byConsumingMovieRepresentations)
{
    for (const QString& id : sequence) {
        const Value movie = byConsumingMovieRepresentations.value(id);
        if (movie.isNull())
            continue;
        items.append(movie);
        byConsumingMovieRepresentations.remove(id);
    }
    if (byConsumingMovieRepresentations.isEmpty())
        return;
    auto rest = platform::Array::make();
    for (const Value& v : byConsumingMovieRepresentations)
        rest->append(v);
    if (rest->count() > 1)
        rest = PMSortedLibraryItems(rest, QString(), false);
    for (const Value& v : *rest)
        items.append(v);
    byConsumingMovieRepresentations.removeAll();
}

long long PMExternalMediaKindSeparationLevel()
{
    const Value v = prefs::get(prefs::keys::ExternalMediaKindSeparationLevel);
    return v.isNumber() ? v.toLongLong() : 1;
}

QString PMMovieLocationKey(const QUrl& url)
{
    if (url.isLocalFile())
        return QStringLiteral("f:") + QDir::cleanPath(url.toLocalFile());
    return QStringLiteral("u:") + url.toString(QUrl::FullyEncoded);
}
