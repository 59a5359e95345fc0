#include "common/MediaFixtures.h"
#include "common/TestSupport.h"
#include "ImagesTestSupport.h"
#include "foundation/NSString+PMHelpManagerFileNames.h"
#include "images/NSImage+PMImageFiles.h"
#include "images/NSImage+PMQuickLook.h"
#include "images/NSImage+PMTransform.h"
#include "images/PMMovieRepresentationImageLoader.h"
#include "library/model/PMCachedSettings.h"
#include "library/model/PMMainController.h"
#include "library/model/PMMovieRepresentation.h"
#include "platform/UserDefaults.h"

#include <gtest/gtest.h>

#include <QtCore/QBuffer>
#include <QtCore/QCoreApplication>
#include <QtCore/QCryptographicHash>
#include <QtCore/QDir>
#include <QtCore/QElapsedTimer>
#include <QtCore/QFileInfo>
#include <QtCore/QMimeDatabase>
#include <QtCore/QStandardPaths>
#include <QtCore/QThread>
#include <QtGui/QImageWriter>
#include <QtWidgets/QWidget>

#include <condition_variable>
#include <mutex>

using platform::ImagePtr;
using Priority = platform::Operation::Priority;
namespace media = testsupport::media;
using namespace imagestest;

namespace {

PMMovieRepresentationImageLoader& loader()
{
    return PMMovieRepresentationImageLoader::defaultLoader();
}

platform::UserDefaults& defaults()
{
    return platform::UserDefaults::standard();
}

// A gate that operations wait at until the test opens it.
struct Latch {
    std::mutex mutex;
    std::condition_variable changed;
    bool open = false;
    bool reached = false;
    void wait()
    {
        std::unique_lock lock(mutex);
        reached = true;
        changed.notify_all();
        changed.wait(lock, [&] { return open; });
    }
    void waitUntilReached()
    {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return reached; });
    }
    void release()
    {
        std::lock_guard lock(mutex);
        open = true;
        changed.notify_all();
    }
};


struct Call {
    ImagePtr cover, poster;
};

// Queues a load and collects what its handler is given.
std::shared_ptr<std::vector<Call>> load(PMMovieRepresentationPrototype& record, QSizeF size, bool checkUnderscore = true,
                                        Priority priority = Priority::Normal, QRectF frame = {})
{
    auto calls = std::make_shared<std::vector<Call>>();
    loader().loadCoverImageAndPosterImageForMovieRepresentation(record, checkUnderscore, size, frame, priority,
                                                                [calls](const ImagePtr& c, const ImagePtr& p) { calls->push_back({c, p}); });
    return calls;
}

QString coverFolder()
{
    return PMMainController::mainController().coverImageDirectoryPath();
}

QString posterFolder()
{
    return PMMainController::mainController().posterImageDirectoryPath();
}

// Stores a cover and/or preview with their reduced copies, and waits for the writes.
void store(PMMovieRepresentationPrototype& record, const ImagePtr& cover, const ImagePtr& poster)
{
    const QString id = record.uniqueLibraryID();
    if (cover) {
        loader().saveCoverImage(cover, record);
        loader().saveUnderscoreCoverImageJPEGRepresentation(underscoreImageJPEGRepresentation(cover), coverFolder() + QStringLiteral("/_/") + id, id,
                                                           loader().imageGeneration(true, id));
    }
    if (poster) {
        loader().savePosterImage(poster, record);
        loader().saveUnderscorePosterImageJPEGRepresentation(underscoreImageJPEGRepresentation(poster), posterFolder() + QStringLiteral("/_/") + id, id,
                                                            loader().imageGeneration(false, id));
    }
    settle();
}

QColor centre(const ImagePtr& image)
{
    const QImage pixels = image->pixels();
    return QColor(pixels.pixel(pixels.width() / 2, pixels.height() / 2));
}

bool near(QColor a, QColor b)
{
    return std::abs(a.red() - b.red()) < 12 && std::abs(a.green() - b.green()) < 12 && std::abs(a.blue() - b.blue()) < 12;
}

class ImageLoader : public ::testing::Test {
protected:
    void SetUp() override
    {
        defaults().setBool(false, QStringLiteral("Cycle Through Index Image On Hover"));
        defaults().setBool(true, QStringLiteral("Load Frame Images"));
        defaults().removeObjectForKey(QStringLiteral("External Cover Directory"));
        defaults().removeObjectForKey(QStringLiteral("External Preview Directory"));
        defaults().removeObjectForKey(QStringLiteral("Load Frame Images: Fraction"));
        settle();
    }
    void TearDown() override
    {
        loader().loadQueue().setSuspended(false);
        loader().crawlQueue().setSuspended(false);
        settle();
    }
};

} // namespace

TEST_F(ImageLoader, ThrottleNestsAndNeverGoesBelowZero)
{
    auto& queue = loader().loadQueue();
    ASSERT_EQ(loader().loadQueueThrottleLevel(), 0u);
    loader().throttleLoading(2);
    EXPECT_EQ(queue.maxConcurrentOperationCount(), 2);
    loader().throttleLoading(4); // a nested, looser request keeps the tighter limit
    EXPECT_EQ(queue.maxConcurrentOperationCount(), 2);
    loader().throttleLoading(1);
    EXPECT_EQ(queue.maxConcurrentOperationCount(), 1);
    loader().throttleLoading(0);
    loader().throttleLoading(0);
    EXPECT_EQ(queue.maxConcurrentOperationCount(), 1);
    loader().throttleLoading(0);
    EXPECT_EQ(queue.maxConcurrentOperationCount(), -1);
    testsupport::LogCapture log;
    loader().throttleLoading(0); // unbalanced: ignored
    EXPECT_EQ(loader().loadQueueThrottleLevel(), 0u);
    EXPECT_EQ(queue.maxConcurrentOperationCount(), -1);
    EXPECT_EQ(log.lines().size(), 1);
}

TEST_F(ImageLoader, ThrottledLoadsRunOneAtATime)
{
    loader().throttleLoading(1);
    std::atomic<int> running{0}, most{0};
    for (int i = 0; i < 6; ++i)
        loader().loadQueue().addOperation([&] {
            const int now = ++running;
            most = std::max(most.load(), now);
            QThread::msleep(5);
            --running;
        });
    settle();
    loader().throttleLoading(0);
    EXPECT_EQ(most.load(), 1);
}

TEST_F(ImageLoader, ReRankingMovesWaitingLoadsByVisibility)
{
    for (platform::OperationQueue* queue : {&loader().loadQueue(), &loader().crawlQueue()}) {
        // One running operation holds the queue; it must not be touched.
        queue->setMaxConcurrentOperationCount(1);
        Latch latch;
        auto running = std::make_shared<PMMovieRepresentationImageLoaderOperation>(QStringLiteral("R"), QRectF(0, 0, 10, 10), [&] { latch.wait(); });
        running->setQueuePriority(Priority::Low);
        queue->addOperation(running);
        latch.waitUntilReached();
        queue->setSuspended(true);
        struct Case {
            const char* id;
            QRectF frame;
            Priority before, after;
        };
        const Case cases[] = {
            {"off-screen", QRectF(0, 1000, 100, 100), Priority::Normal, Priority::Low},
            {"on-screen", QRectF(0, 0, 100, 100), Priority::Low, Priority::Normal},
            {"improvement on-screen", QRectF(50, 50, 100, 100), Priority::VeryLow, Priority::Normal},
            {"no frame", QRectF(), Priority::Low, Priority::Low},
            {"high", QRectF(0, 1000, 100, 100), Priority::High, Priority::High},
            {"very high", QRectF(0, 0, 100, 100), Priority::VeryHigh, Priority::VeryHigh},
        };
        std::vector<platform::OperationPtr> ops;
        for (const Case& c : cases) {
            auto op = std::make_shared<PMMovieRepresentationImageLoaderOperation>(QString::fromLatin1(c.id), c.frame, [] {});
            op->setQueuePriority(c.before);
            loader().enqueueLoad(op, queue == &loader().crawlQueue());
            ops.push_back(op);
        }
        auto plain = platform::BlockOperation::make([] {});
        plain->setQueuePriority(Priority::Low);
        queue->addOperation(plain);
        loader().updateLoadingPrioritiesWithVisibleRect(QRectF(0, 0, 500, 500));
        for (size_t i = 0; i < ops.size(); ++i)
            EXPECT_EQ(ops[i]->queuePriority(), cases[i].after) << cases[i].id;
        EXPECT_EQ(plain->queuePriority(), Priority::Low);
        EXPECT_EQ(running->queuePriority(), Priority::Low); // running: left alone
        // The queue starts them in their new order.
        const auto waiting = queue->waitingOperations();
        ASSERT_EQ(waiting.size(), ops.size() + 1);
        EXPECT_EQ(waiting[0], ops[5]);
        EXPECT_EQ(waiting[1], ops[4]);
        EXPECT_EQ(waiting[2], ops[1]);
        EXPECT_EQ(waiting[3], ops[2]);
        queue->setSuspended(false);
        latch.release();
        queue->waitUntilAllOperationsAreFinished();
        queue->setMaxConcurrentOperationCount(queue == &loader().crawlQueue() ? 1 : -1);
    }
}

TEST_F(ImageLoader, CancelRules)
{
    auto record = PMMovieRepresentationOriginal::movieRepresentationWithPath(QStringLiteral("/media/none/a.mp4"));
    const QString id = record->uniqueLibraryID();
    loader().loadQueue().setSuspended(true);
    loader().crawlQueue().setSuspended(true);
    const auto add = [&](platform::OperationQueue& queue, const QString& ref, Priority p) {
        auto op = std::make_shared<PMMovieRepresentationImageLoaderOperation>(ref, QRectF(), [] {});
        op->setQueuePriority(p);
        loader().enqueueLoad(op, &queue == &loader().crawlQueue());
        return op;
    };
    auto loadNormal = add(loader().loadQueue(), id, Priority::Normal);
    auto loadHigh = add(loader().loadQueue(), id, Priority::High);
    auto loadOther = add(loader().loadQueue(), QStringLiteral("other"), Priority::Normal);
    auto crawlHigh = add(loader().crawlQueue(), id, Priority::High);
    auto crawlPlain = platform::BlockOperation::make([] {});
    loader().crawlQueue().addOperation(crawlPlain);
    record->uncacheCoverImageAndPosterImage(); // the record's release cancels through the installed hook
    EXPECT_TRUE(loadNormal->isCancelled());
    EXPECT_FALSE(loadHigh->isCancelled());
    EXPECT_FALSE(loadOther->isCancelled());
    EXPECT_TRUE(crawlHigh->isCancelled());
    EXPECT_FALSE(crawlPlain->isCancelled()); // other work of the crawl queue is not the record's
}

TEST_F(ImageLoader, LoadsQueuedInABatchReachTheirQueuesTogetherAtItsEnd)
{
    // The grid asks for a screenful of tiles' loads in one batch: none reaches its queue
    // before the batch ends, then the most urgent start first; one cancelled meanwhile (its
    // tile already gone) only completes.
    loader().loadQueue().setMaxConcurrentOperationCount(1);
    std::vector<QString> ran;
    std::atomic<int> completions{0};
    std::vector<std::shared_ptr<PMMovieRepresentationImageLoaderOperation>> ops;
    {
        const PMMovieRepresentationImageLoader::LoadBatch outer;
        {
            const PMMovieRepresentationImageLoader::LoadBatch nested; // ends inside the outer one: nothing yet
            for (const auto& [id, priority] : {std::pair{"low", Priority::Low}, std::pair{"normal", Priority::Normal},
                                               std::pair{"gone", Priority::Normal}, std::pair{"high", Priority::High}}) {
                const QString name = QString::fromLatin1(id);
                auto op = std::make_shared<PMMovieRepresentationImageLoaderOperation>(name, QRectF(), [&ran, name] { ran.push_back(name); });
                op->setQueuePriority(priority);
                op->setCompletionBlock([&] { ++completions; });
                loader().enqueueLoad(op, false);
                ops.push_back(op);
            }
        }
        EXPECT_EQ(loader().loadQueue().operationCount(), 0);
        EXPECT_EQ(loader().queuedLoadCountForID(QStringLiteral("normal")), 1); // indexed at once: cancellable
        ops[2]->cancel();
    }
    loader().loadQueue().waitUntilAllOperationsAreFinished();
    EXPECT_EQ(ran, (std::vector<QString>{QStringLiteral("high"), QStringLiteral("normal"), QStringLiteral("low")}));
    EXPECT_EQ(completions, 4);
    loader().loadQueue().setMaxConcurrentOperationCount(-1);
}

TEST_F(ImageLoader, ReducedCopiesFirstAndFullPicturesOnlyWhenNeeded)
{
    auto record = PMMovieRepresentationOriginal::movieRepresentationWithPath(QStringLiteral("/media/none/stored.mp4"));
    // Reduced copies of 1600 x 900 pictures are about 533 x 300.
    store(*record, picture(1600, 900, Qt::red), picture(1600, 900, Qt::blue));
    struct Case {
        const char* name;
        QSizeF size;
        size_t calls;
    };
    const Case cases[] = {
        {"small tile: the reduced copies suffice", QSizeF(200, 113), 1},
        {"large tile: reduced copies, then the full pictures", QSizeF(1200, 675), 2},
        {"no maximum: the full pictures only", QSizeF(0, 0), 1},
    };
    for (const Case& c : cases) {
        auto calls = load(*record, c.size);
        settle();
        ASSERT_EQ(calls->size(), c.calls) << c.name;
        const Call& first = calls->front();
        ASSERT_TRUE(first.cover && first.poster) << c.name;
        EXPECT_TRUE(near(centre(first.cover), Qt::red));
        EXPECT_TRUE(near(centre(first.poster), Qt::blue));
        if (c.size.width() > 0) {
            EXPECT_EQ(first.poster->associatedSourceType, PMImageSourceTypeUnderscore) << c.name;
            EXPECT_TRUE(first.poster->cachedBlurredImage()) << c.name;
        } else {
            EXPECT_EQ(first.poster->pixelSize(), QSizeF(1600, 900)) << "untransformed at full size";
        }
        if (c.calls == 2) {
            const Call& second = calls->back();
            ASSERT_TRUE(second.cover && second.poster);
            EXPECT_FALSE(second.poster->associatedSourceType & PMImageSourceTypeUnderscore);
            EXPECT_GE(second.poster->pixelSize().width() + 5, 1200);
        }
    }
}

TEST_F(ImageLoader, NoReducedCopiesAreReadOrWrittenWithoutAMaximum)
{
    auto record = PMMovieRepresentationOriginal::movieRepresentationWithPath(QStringLiteral("/media/none/full.mp4"));
    const QString id = record->uniqueLibraryID();
    loader().saveCoverImage(picture(1600, 900, Qt::green), *record);
    settle();
    auto calls = load(*record, QSizeF(0, 0));
    settle();
    ASSERT_EQ(calls->size(), 1u);
    EXPECT_FALSE(QFileInfo::exists(coverFolder() + QStringLiteral("/_/") + id + QStringLiteral(".jpg")));
    // A load with a maximum writes the missing reduced copy.
    load(*record, QSizeF(300, 200));
    settle();
    EXPECT_TRUE(QFileInfo::exists(coverFolder() + QStringLiteral("/_/") + id + QStringLiteral(".jpg")));
}

TEST_F(ImageLoader, APendingCoverIsShownFromMemory)
{
    auto record = PMMovieRepresentationOriginal::movieRepresentationWithPath(QStringLiteral("/media/none/pending.mp4"));
    store(*record, picture(400, 300, Qt::red), nullptr);
    loader().loadQueue().setSuspended(true);
    // The new cover waits for its write until the main thread hears of it.
    loader().saveCoverImage(picture(400, 300, Qt::yellow), *record);
    ASSERT_TRUE(loader().pendingCoverImage(record->uniqueLibraryID()));
    auto calls = load(*record, QSizeF(0, 0));
    loader().loadQueue().setSuspended(false);
    testsupport::waitUntil([&] { return !calls->empty(); }, 10000);
    ASSERT_EQ(calls->size(), 1u);
    EXPECT_TRUE(near(centre(calls->front().cover), Qt::yellow));
    settle();
}

TEST_F(ImageLoader, NothingStoredAndNothingPlayableMeansNoCall)
{
    auto record = PMMovieRepresentationOriginal::movieRepresentationWithPath(QStringLiteral("/media/none/away.mp4"));
    record->setMissing(true, false);
    auto calls = load(*record, QSizeF(200, 100));
    settle();
    EXPECT_TRUE(calls->empty());
    EXPECT_FALSE(loader().isSearchingForMissingImage(record->uniqueLibraryID()));
}

TEST_F(ImageLoader, ALoadForADeletedRecordEndsQuietly)
{
    auto record = PMMovieRepresentationOriginal::movieRepresentationWithPath(QStringLiteral("/media/none/gone.mp4"));
    store(*record, picture(800, 450, Qt::red), picture(800, 450, Qt::blue));
    loader().loadQueue().setSuspended(true);
    auto calls = load(*record, QSizeF(200, 113));
    record.reset();
    loader().loadQueue().setSuspended(false);
    settle();
    EXPECT_TRUE(calls->empty());
}

TEST_F(ImageLoader, SearchFindsFilesNamedAfterTheMovieInTheExternalFolders)
{
    media::Fixtures fixtures;
    const QString covers = testsupport::makeTempDir(QStringLiteral("covers")), previews = testsupport::makeTempDir(QStringLiteral("previews"));
    defaults().setObject(platform::Value(covers), QStringLiteral("External Cover Directory"));
    defaults().setObject(platform::Value(previews), QStringLiteral("External Preview Directory"));
    auto record = recordFor(fixtures.numbered(), QStringLiteral("Night: Walk.mp4"));
    // Display names are made usable as file names ("Night Walk").
    const QString name = QStringLiteral("Night Walk");
    picture(60, 90, Qt::green)->pixels().save(covers + QLatin1Char('/') + name + QStringLiteral(".png"));
    picture(60, 90, Qt::red)->pixels().save(covers + QLatin1Char('/') + name + QStringLiteral(".jpg")); // "jpg" is tried first
    picture(80, 40, Qt::blue)->pixels().save(previews + QLatin1Char('/') + name + QStringLiteral(".jpeg"));
    ASSERT_EQ(cleanFilename(record->displayNameWithExtension(false)), name);
    auto calls = load(*record, QSizeF(0, 0));
    settle();
    ASSERT_EQ(calls->size(), 1u);
    ASSERT_TRUE(calls->front().cover && calls->front().poster);
    EXPECT_TRUE(near(centre(calls->front().cover), Qt::red));
    EXPECT_TRUE(near(centre(calls->front().poster), Qt::blue));
    // Both were stored: the next load reads them, without a search.
    EXPECT_TRUE(QFileInfo::exists(coverFolder() + QLatin1Char('/') + record->uniqueLibraryID() + QStringLiteral(".jpg")));
    EXPECT_TRUE(QFileInfo::exists(posterFolder() + QLatin1Char('/') + record->uniqueLibraryID() + QStringLiteral(".jpg")));
}

TEST_F(ImageLoader, SearchTakesAFrameOrTheFilesOwnPicture)
{
    media::Fixtures fixtures;
    // The numbered clip with attached artwork: of the movie's own shape, and a portrait poster.
    const auto withArtwork = [&](const QString& file, int w, int h) {
        const QString art = fixtures.dir() + QStringLiteral("/art-%1x%2.png").arg(w).arg(h);
        picture(w, h, Qt::magenta)->pixels().save(art);
        const QString path = fixtures.dir() + QLatin1Char('/') + file;
        if (!QFileInfo::exists(path))
            media::runFFmpeg({QStringLiteral("-i"), fixtures.numbered(), QStringLiteral("-i"), art, QStringLiteral("-map"), QStringLiteral("0"),
                              QStringLiteral("-map"), QStringLiteral("1"), QStringLiteral("-c"), QStringLiteral("copy"), QStringLiteral("-disposition:v:1"),
                              QStringLiteral("attached_pic"), path});
        return path;
    };
    struct Case {
        const char* name;
        QString file;
        bool loadFrameImages;
        bool cover;       // the artwork became the cover
        bool posterFrame; // the preview is the frame at 5 % (frame 1 of 30)
    };
    const Case cases[] = {
        {"plain movie: a frame", fixtures.numbered(), true, false, true},
        {"same-shape artwork, frames on: a frame", withArtwork(QStringLiteral("wide-art.mp4"), 64, 32), true, false, true},
        {"same-shape artwork, frames off: the artwork", withArtwork(QStringLiteral("wide-art.mp4"), 64, 32), false, false, false},
        {"portrait poster: poster as cover, frame as preview", withArtwork(QStringLiteral("poster-art.mp4"), 40, 60), true, true, true},
    };
    for (const Case& c : cases) {
        defaults().setBool(c.loadFrameImages, QStringLiteral("Load Frame Images"));
        auto record = recordFor(c.file);
        auto calls = load(*record, QSizeF(0, 0));
        settle();
        ASSERT_EQ(calls->size(), 1u) << c.name;
        const Call& call = calls->front();
        EXPECT_EQ(bool(call.cover), c.cover) << c.name;
        ASSERT_TRUE(call.poster) << c.name;
        if (c.posterFrame) {
            EXPECT_EQ(call.poster->associatedSourceType, PMImageSourceTypeMovieFrame) << c.name;
            EXPECT_EQ(media::decodeFrameNumber(call.poster->pixels()), 1) << c.name;
        } else {
            EXPECT_EQ(call.poster->associatedSourceType, PMImageSourceTypeThumbnail) << c.name;
            EXPECT_TRUE(near(centre(call.poster), Qt::magenta)) << c.name;
        }
        if (call.cover) {
            EXPECT_TRUE(near(centre(call.cover), Qt::magenta)) << c.name;
        }
        EXPECT_TRUE(QFileInfo::exists(posterFolder() + QLatin1Char('/') + record->uniqueLibraryID() + QStringLiteral(".jpg"))) << c.name;
        EXPECT_EQ(record->userSettings()->value(QStringLiteral("Poster Image Size")).string(), QStringLiteral("{%1, %2}")
                      .arg(call.poster->pixelSize().width()).arg(call.poster->pixelSize().height())) << c.name;
    }
}

TEST_F(ImageLoader, AnAudioFileWithArtworkGetsAPreviewAndNoCover)
{
    media::Fixtures fixtures;
    auto record = recordFor(fixtures.coverAudio());
    auto calls = load(*record, QSizeF(0, 0));
    settle();
    ASSERT_EQ(calls->size(), 1u);
    EXPECT_FALSE(calls->front().cover);
    ASSERT_TRUE(calls->front().poster);
    EXPECT_EQ(calls->front().poster->pixelSize(), QSizeF(32, 24));
    EXPECT_TRUE(near(centre(calls->front().poster), Qt::red));
}

TEST_F(ImageLoader, ABrokenFileGetsAnIconThatIsNeverStoredAndIsNotSearchedAgain)
{
    media::Fixtures fixtures;
    auto record = recordFor(fixtures.textFile());
    const QString id = record->uniqueLibraryID();
    QElapsedTimer timer;
    timer.start();
    auto calls = load(*record, QSizeF(0, 0));
    settle();
    EXPECT_LT(timer.elapsed(), 20000);
    ASSERT_EQ(calls->size(), 1u);
    EXPECT_FALSE(calls->front().cover);
    ASSERT_TRUE(calls->front().poster);
    EXPECT_EQ(calls->front().poster->associatedSourceType, PMImageSourceTypeIcon);
    EXPECT_EQ(calls->front().poster->size(), QSizeF(512, 512));
    EXPECT_EQ(record->userSettings()->value(QStringLiteral("Poster Image Size")).string(), QStringLiteral("{512, 512}"));
    EXPECT_FALSE(QFileInfo::exists(posterFolder() + QLatin1Char('/') + id + QStringLiteral(".jpg")));
    EXPECT_TRUE(loader().hasFoundNothingFor(id, record->URL()));
    // The next load shows the icon again without queuing another search...
    loader().crawlQueue().setSuspended(true);
    calls = load(*record, QSizeF(0, 0));
    testsupport::waitUntil([&] { return !calls->empty(); }, 10000);
    EXPECT_EQ(calls->size(), 1u);
    EXPECT_EQ(loader().crawlQueue().operationCount(), 0);
    loader().crawlQueue().setSuspended(false);
    // ...until the file changes.
    testsupport::writeFile(record->URL().toLocalFile(), QByteArray("changed and longer than before\n").repeated(80));
    EXPECT_FALSE(loader().hasFoundNothingFor(id, record->URL()));
    // The next load sees the change (the file is looked at by the load, not by the main
    // thread) and searches again.
    loader().crawlQueue().setSuspended(true);
    calls = load(*record, QSizeF(0, 0));
    EXPECT_TRUE(testsupport::waitUntil([&] { return loader().crawlQueue().operationCount() > 0; }, 10000));
    loader().crawlQueue().setSuspended(false);
    settle();
}

TEST_F(ImageLoader, IconPreviewsAreMadeOncePerTypeAndTileSize)
{
    media::Fixtures fixtures;
    // Three unreadable movies of one type: two tiles of one size share the one preview made
    // for them, a tile of another size gets its own.
    auto a = recordFor(fixtures.textFile(), QStringLiteral("a.mp4"));
    auto b = recordFor(fixtures.textFile(), QStringLiteral("b.mp4"));
    auto c = recordFor(fixtures.textFile(), QStringLiteral("c.mp4"));
    auto first = load(*a, QSizeF(120, 90));
    settle();
    auto second = load(*b, QSizeF(120, 90));
    auto third = load(*c, QSizeF(60, 45));
    settle();
    for (const auto& calls : {first, second, third}) {
        ASSERT_EQ(calls->size(), 1u);
        ASSERT_TRUE(calls->front().poster);
        EXPECT_TRUE(calls->front().poster->associatedSourceType & PMImageSourceTypeIcon);
    }
    EXPECT_EQ(first->front().poster, second->front().poster);
    EXPECT_NE(first->front().poster, third->front().poster);
    EXPECT_EQ(third->front().poster->size().width(), 60);
}

TEST_F(ImageLoader, OneSearchPerRecordAtATime)
{
    media::Fixtures fixtures;
    auto record = recordFor(fixtures.numbered());
    loader().crawlQueue().setSuspended(true);
    auto first = load(*record, QSizeF(0, 0));
    auto second = load(*record, QSizeF(0, 0));
    testsupport::waitUntil([&] { return loader().loadQueue().operationCount() == 0 && loader().isSearchingForMissingImage(record->uniqueLibraryID()); });
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
    EXPECT_EQ(loader().crawlQueue().operationCount(), 1);
    loader().crawlQueue().setSuspended(false);
    settle();
    EXPECT_EQ(first->size() + second->size(), 1u);
    EXPECT_FALSE(loader().isSearchingForMissingImage(record->uniqueLibraryID()));
}

TEST_F(ImageLoader, ACoverShownFromItsReducedCopyIsNeverReplacedByASearch)
{
    media::Fixtures fixtures;
    auto record = recordFor(fixtures.numbered());
    const QString id = record->uniqueLibraryID();
    store(*record, picture(1600, 900, Qt::red), nullptr);
    // The full cover file goes; its reduced copy stays (an interrupted write, a copied library).
    QFile::remove(coverFolder() + QLatin1Char('/') + id + QStringLiteral(".jpg"));
    auto calls = load(*record, QSizeF(1200, 675));
    settle();
    ASSERT_GE(calls->size(), 1u);
    EXPECT_TRUE(calls->front().cover);
    EXPECT_FALSE(QFileInfo::exists(coverFolder() + QLatin1Char('/') + id + QStringLiteral(".jpg")));
    EXPECT_FALSE(QFileInfo::exists(posterFolder() + QLatin1Char('/') + id + QStringLiteral(".jpg")));
    EXPECT_FALSE(loader().isSearchingForMissingImage(id));
}

TEST_F(ImageLoader, AStillImageIsItsOwnPreview)
{
    const QString dir = testsupport::makeTempDir(QStringLiteral("stills"));
    const QString path = dir + QStringLiteral("/photo.png");
    picture(300, 200, Qt::cyan)->pixels().save(path);
    auto record = PMMovieRepresentationOriginal::movieRepresentationWithPath(path);
    ASSERT_TRUE(record->isConsideredStillImage());
    auto calls = load(*record, QSizeF(0, 0));
    settle();
    ASSERT_EQ(calls->size(), 1u);
    ASSERT_TRUE(calls->front().poster);
    EXPECT_EQ(calls->front().poster->pixelSize(), QSizeF(300, 200));
    EXPECT_EQ(calls->front().poster->associatedSourcePath, path);
    EXPECT_FALSE(QFileInfo::exists(posterFolder() + QLatin1Char('/') + record->uniqueLibraryID() + QStringLiteral(".jpg")));
}

TEST_F(ImageLoader, AnAnimationsTileShowsItsFirstFrameWithoutAConversion)
{
    const bool converted = PMCachedSettings::convertAnimatedImagesToMovies;
    PMCachedSettings::convertAnimatedImagesToMovies = true;
    const QString dir = testsupport::makeTempDir(QStringLiteral("animations"));
    const QString path = dir + QStringLiteral("/three.gif");
    ASSERT_TRUE(QFile::copy(media::fixtures().gif(), path));
    auto record = PMMovieRepresentationOriginal::movieRepresentationWithPath(path);
    const QString id = record->uniqueLibraryID();
    // Asked before its duration is known, the file is the picture its name says; the frames
    // are counted in the background, not on the asking thread.
    EXPECT_TRUE(record->isConsideredStillImage());
    EXPECT_FALSE(record->userSettings()->contains(QStringLiteral("Duration")));
    EXPECT_TRUE(PMIsDurationComputationInFlight(id));
    EXPECT_TRUE(testsupport::waitUntil([&] { return record->userSettings()->contains(QStringLiteral("Duration")); }, 30000));
    EXPECT_EQ(record->durationIfCached(true), 2); // three frames of 0.5 s
    // Now it plays as a converted movie, and its tile still gets the file's first frame: no
    // conversion, no frame grab, nothing stored.
    EXPECT_FALSE(record->isConsideredStillImage());
    auto calls = load(*record, QSizeF(0, 0));
    settle();
    ASSERT_FALSE(calls->empty());
    ASSERT_TRUE(calls->back().poster);
    EXPECT_EQ(media::decodeFrameNumber(calls->back().poster->pixels().convertToFormat(QImage::Format_RGB32)), 0);
    EXPECT_EQ(calls->back().poster->associatedSourcePath, path);
    EXPECT_FALSE(loader().isSearchingForMissingImage(id));
    EXPECT_FALSE(QFileInfo::exists(posterFolder() + QLatin1Char('/') + id + QStringLiteral(".jpg")));
    PMCachedSettings::convertAnimatedImagesToMovies = converted;
}

TEST_F(ImageLoader, SharedThumbnailCacheIsCheckedAgainstTheFile)
{
    const QString dir = testsupport::makeTempDir(QStringLiteral("docs"));
    const QString path = dir + QStringLiteral("/paper.pdf");
    testsupport::writeFile(path, "%PDF-1.4 not really\n");
    const QByteArray uri = QUrl::fromLocalFile(path).toEncoded();
    const QString thumbnails = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + QStringLiteral("/thumbnails/large/");
    QDir().mkpath(thumbnails);
    const QString thumbnail = thumbnails + QString::fromLatin1(QCryptographicHash::hash(uri, QCryptographicHash::Md5).toHex()) + QStringLiteral(".png");
    // As thumbnailers write them: tEXt chunks right after the header.
    const auto writeThumbnail = [&](qint64 mtime) {
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        ASSERT_TRUE(picture(128, 96, Qt::darkGreen)->pixels().save(&buffer, "PNG"));
        QByteArray chunks;
        for (const auto& [key, value] : {std::pair<QByteArray, QByteArray>{"Thumb::URI", uri}, {"Thumb::MTime", QByteArray::number(mtime)}}) {
            const QByteArray body = QByteArray("tEXt") + key + '\0' + value;
            quint32 crc = 0xFFFFFFFFu;
            for (const char ch : body) {
                crc ^= quint8(ch);
                for (int k = 0; k < 8; ++k)
                    crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
            }
            crc ^= 0xFFFFFFFFu;
            const auto be = [](quint32 v) { return QByteArray(1, char(v >> 24)) + char(v >> 16) + char(v >> 8) + char(v); };
            chunks += be(quint32(body.size() - 4)) + body + be(crc);
        }
        png.insert(8 + 25, chunks); // signature, then the 25-byte header chunk
        testsupport::writeFile(thumbnail, png);
    };
    const qint64 mtime = QFileInfo(path).lastModified().toSecsSinceEpoch();
    writeThumbnail(mtime);
    ImagePtr image = quickLookImageWithURL(QUrl::fromLocalFile(path), QSize(64, 64));
    ASSERT_TRUE(image);
    EXPECT_EQ(image->pixelSize(), QSizeF(64, 48));
    writeThumbnail(mtime - 100); // stale
    EXPECT_FALSE(quickLookImageWithURL(QUrl::fromLocalFile(path), QSize(64, 64)));
}

TEST_F(ImageLoader, HoverFramesAreMadeOneRecordAtATime)
{
    auto& l = loader();
    std::vector<std::pair<QString, std::function<void()>>> started;
    const auto installed = l.standardIndexImageWrappersWithCompletionHandler;
    l.standardIndexImageWrappersWithCompletionHandler = [&](PMMovieRepresentationPrototype& movie, std::function<void()> done) {
        started.emplace_back(movie.uniqueLibraryID(), std::move(done));
    };
    auto a = PMMovieRepresentationOriginal::movieRepresentationWithPath(QStringLiteral("/media/none/a.mp4"));
    auto b = PMMovieRepresentationOriginal::movieRepresentationWithPath(QStringLiteral("/media/none/b.mp4"));
    auto c = PMMovieRepresentationOriginal::movieRepresentationWithPath(QStringLiteral("/media/none/c.mp4"));
    auto still = PMMovieRepresentationOriginal::movieRepresentationWithPath(QStringLiteral("/media/none/d.png"));
    l.generateStandardIndexImageWrappers(*a);
    l.generateStandardIndexImageWrappers(*a); // already waiting
    l.generateStandardIndexImageWrappers(*b);
    l.generateStandardIndexImageWrappers(*still); // never
    l.generateStandardIndexImageWrappers(*c);
    EXPECT_EQ(l.waitingStandardIndexImageRecordCount(), 3);
    ASSERT_EQ(started.size(), 1u);
    EXPECT_EQ(started[0].first, a->uniqueLibraryID());
    b.reset(); // deleted while it waited: skipped
    started[0].second();
    ASSERT_EQ(started.size(), 2u);
    EXPECT_EQ(started[1].first, c->uniqueLibraryID());
    started[1].second();
    EXPECT_EQ(l.waitingStandardIndexImageRecordCount(), 0);
    l.standardIndexImageWrappersWithCompletionHandler = installed;
}

TEST_F(ImageLoader, RecordsLoadForTheirViewOnceAndImproveOnlyWhenOutgrown)
{
    auto record = PMMovieRepresentationOriginal::movieRepresentationWithPath(QStringLiteral("/media/none/view.mp4"));
    store(*record, picture(1600, 900, Qt::red), picture(1600, 900, Qt::blue));
    QWidget parent;
    parent.resize(800, 800);
    QWidget* tile = new QWidget(&parent);
    tile->setGeometry(0, 0, 200, 113);
    parent.show();
    record->loadCoverImageAndPosterImageForView(tile, 2);
    EXPECT_TRUE(record->isPosterImagePending());
    record->loadCoverImageAndPosterImageForView(tile, 2); // pending: no second load
    EXPECT_EQ(loader().loadQueue().operationCount() <= 1, true);
    settle();
    ASSERT_TRUE(record->cachedPosterImage());
    EXPECT_EQ(record->cachedPosterImage()->associatedSourceType, PMImageSourceTypeUnderscore);
    EXPECT_FALSE(record->isPosterImagePending());
    // The tile grows past the reduced copy: an improvement brings the full picture.
    tile->setGeometry(0, 0, 1200, 675);
    record->loadCoverImageAndPosterImageForView(tile, 1);
    settle();
    ASSERT_TRUE(record->cachedPosterImage());
    EXPECT_FALSE(record->cachedPosterImage()->associatedSourceType & PMImageSourceTypeUnderscore);
    // Growing by less than 5 points asks for nothing.
    tile->setGeometry(0, 0, 1203, 678);
    record->loadCoverImageAndPosterImageForView(tile, 1);
    EXPECT_EQ(loader().loadQueue().operationCount(), 0);
}

TEST_F(ImageLoader, AFileFoundAgainOrDoneMovingIsAskedForAgain)
{
    auto record = PMMovieRepresentationOriginal::movieRepresentationWithPath(QStringLiteral("/media/none/back.mp4"));
    QWidget parent;
    parent.resize(400, 400);
    QWidget* tile = new QWidget(&parent);
    tile->setGeometry(0, 0, 200, 113);
    for (const bool moving : {false, true}) {
        if (moving)
            record->setIsMoving(true);
        else
            record->setMissing(true, false);
        record->loadCoverImageAndPosterImageForView(tile, 2);
        settle();
        EXPECT_TRUE(record->isPosterImagePending()); // nothing came: the marker stays, no new loads
        if (moving)
            record->setIsMoving(false);
        else
            record->setMissing(false, false);
        EXPECT_FALSE(record->isPosterImagePending()) << (moving ? "done moving" : "found again");
    }
}

// The type of a tile's icon is remembered by the name's ending; it stays the type the whole
// name has, whatever was asked before (a ".gz" first, then a ".tar.gz").
TEST(FileIconTypeName, RememberedTypesMatchTheWholeName)
{
    QMimeDatabase database;
    const QStringList names = {QStringLiteral("/m/a.mp4"),      QStringLiteral("/m/b.mp4"),       QStringLiteral("/m/C.MP4"),
                               QStringLiteral("/m/a.gz"),       QStringLiteral("/m/b.tar.gz"),    QStringLiteral("/m/c.gz"),
                               QStringLiteral("/m/Take 1.2.mkv"), QStringLiteral("/m/Take 3.2.mkv"), QStringLiteral("/m/clip.gif"),
                               QStringLiteral("/m/no suffix"),  QStringLiteral("/m/b.tar.gz")};
    for (int pass = 0; pass < 2; ++pass)
        for (const QString& name : names) {
            const QString expected = QFileInfo(name).suffix().isEmpty() ? QString()
                                                                        : database.mimeTypeForFile(name, QMimeDatabase::MatchExtension).name();
            EXPECT_EQ(PMFileIconTypeName(QUrl::fromLocalFile(name)), expected) << qPrintable(name) << " pass " << pass;
        }
}
