// Frames of a movie: saved hover frames, frame times, grabs through a stand-in generator at
// the platform boundary and through the media layer, the index image's layout and its
// incremental composition, difference hashes and average colours.
#include "common/MediaFixtures.h"
#include "common/TestSupport.h"
#include "ImagesTestSupport.h"
#include "images/NSImage+PMImageHash.h"
#include "images/NSImage+PMImageFiles.h"
#include "images/PMIndexImage.h"
#include "images/PMIndexImageWrapper.h"
#include "images/PMMovieRepresentationImageLoader.h"
#include "library/model/PMMainController.h"
#include "library/model/PMMovieRepresentation.h"
#include "platform/ImageReading.h"
#include "platform/UserDefaults.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>

#include <QtCore/QCoreApplication>
#include <QtCore/QDir>
#include <QtCore/QFileInfo>
#include <QtCore/QThread>
#include <QtWidgets/QWidget>

#include <atomic>
#include <clocale>
#include <condition_variable>
#include <mutex>
#include <thread>

using platform::Dictionary;
using platform::DictionaryPtr;
using platform::ImagePtr;
using platform::Value;
using platform::media::MediaTime;
namespace media = testsupport::media;
using namespace imagestest;

namespace {

PMMovieRepresentationImageLoader& loader()
{
    return PMMovieRepresentationImageLoader::defaultLoader();
}

void writeJPEG(const QString& path, QColor color = Qt::red)
{
    ASSERT_TRUE(picture(16, 9, color)->pixels().save(path, "JPEG"));
}

// A generator at the platform boundary whose answers the test gives (or never gives).
class StandInGenerator final : public PMIndexImageFrameGenerator {
public:
    std::mutex mutex;
    std::vector<MediaTime> times;
    Handler handler;
    MediaTime before, after;
    int cancelled = 0;
    void setRequestedTimeTolerance(MediaTime b, MediaTime a) override
    {
        before = b;
        after = a;
    }
    void generateImagesAsynchronouslyForTimes(const std::vector<MediaTime>& t, Handler h) override
    {
        std::lock_guard lock(mutex);
        times = t;
        handler = std::move(h);
    }
    void cancelAllImageGeneration() override
    {
        std::lock_guard lock(mutex);
        ++cancelled;
    }
    MediaTime assetDuration() const override { return MediaTime::make(30, 10); }
    bool waitForRequests()
    {
        return testsupport::waitUntil([this] {
            std::lock_guard lock(mutex);
            return bool(handler);
        }, 10000);
    }
    void answer(size_t i, bool succeeds)
    {
        Handler h;
        MediaTime t;
        {
            std::lock_guard lock(mutex);
            h = handler;
            t = times.at(i);
        }
        QImage image(64, 32, QImage::Format_RGB32);
        image.fill(QColor(int(i * 20) % 256, 0, 0));
        h(t, succeeds ? image : QImage(), t, succeeds ? Result::Succeeded : Result::Failed);
    }
};

class IndexImages : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_savedFactory = PMIndexImageFrameGenerator::factory();
        m_savedLimit = PMIndexImageFrameGenerator::generationTimeLimitMs();
        platform::UserDefaults::standard().setBool(false, QStringLiteral("Cycle Through Index Image On Hover"));
    }
    void TearDown() override
    {
        settle();
        PMIndexImageFrameGenerator::factory() = m_savedFactory;
        PMIndexImageFrameGenerator::generationTimeLimitMs() = m_savedLimit;
    }
    std::shared_ptr<StandInGenerator> installStandIn()
    {
        auto standIn = std::make_shared<StandInGenerator>();
        PMIndexImageFrameGenerator::factory() = [standIn](const platform::media::AssetPtr&) { return standIn; };
        return standIn;
    }
    PMIndexImageFrameGenerator::Factory m_savedFactory;
    int m_savedLimit = 0;
};

} // namespace

// ---- Saved frames

TEST_F(IndexImages, SavedFramesAreReadInNameOrderWithTheirTimes)
{
    const QString folder = testsupport::makeTempDir(QStringLiteral("frames"));
    for (const char* name : {"10 (30.00).jpg", "2 (4.50).jpg", "1 (2.00).jpg", "3.JPG"})
        writeJPEG(folder + QLatin1Char('/') + QLatin1String(name));
    testsupport::writeFile(folder + QStringLiteral("/notes.txt"), "not a frame");
    testsupport::writeFile(folder + QStringLiteral("/4 (9.00).jpg"), "broken");

    const std::optional<PMIndexImageWrappers> frames = PMSavedIndexImageWrapper::indexImageWrappersAtPath(folder);
    ASSERT_TRUE(frames);
    ASSERT_EQ(frames->size(), 4u); // the broken file is skipped, the text file ignored
    const std::vector<double> times = {2.0, 4.5, -1.0, 30.0};
    for (size_t i = 0; i < times.size(); ++i)
        EXPECT_DOUBLE_EQ((*frames)[i]->timestamp(), times[i]) << i;
    EXPECT_EQ((*frames)[2]->timestampDescription(), QString()); // "3.JPG": no time, no text
    EXPECT_EQ((*frames)[0]->image()->associatedSourcePath, folder + QStringLiteral("/1 (2.00).jpg"));
    EXPECT_TRUE(PMSavedIndexImageWrapper::indexImageWrappers(nullptr, folder));

    const QString empty = testsupport::makeTempDir(QStringLiteral("empty"));
    testsupport::writeFile(empty + QStringLiteral("/a.png"), "x");
    ASSERT_TRUE(PMSavedIndexImageWrapper::indexImageWrappersAtPath(empty));
    EXPECT_TRUE(PMSavedIndexImageWrapper::indexImageWrappersAtPath(empty)->empty());
    PMIndexImageWrappers none;
    EXPECT_FALSE(PMSavedIndexImageWrapper::indexImageWrappers(&none, empty));
    EXPECT_FALSE(PMSavedIndexImageWrapper::indexImageWrappersAtPath(empty + QStringLiteral("/missing")));
    EXPECT_FALSE(PMSavedIndexImageWrapper::indexImageWrappers(nullptr, empty + QStringLiteral("/missing")));
}

TEST_F(IndexImages, TimestampTexts)
{
    PMSavedIndexImageWrapper w;
    const struct {
        double seconds;
        bool milliseconds;
        const char* text;
    } cases[] = {{75.4, false, "1:15"}, {3725, false, "1:02:05"}, {75.25, true, "1:15.250"}, {-1, false, ""}};
    for (const auto& c : cases) {
        w.setTimestamp(c.seconds);
        EXPECT_EQ(w.timestampDescriptionIncludingMilliseconds(c.milliseconds), QString::fromUtf8(c.text)) << c.seconds;
    }
}

TEST_F(IndexImages, HoverFramesAreWrittenWithCLocaleNamesAndReadBack)
{
    const char* old = std::setlocale(LC_NUMERIC, nullptr);
    const std::string previous = old ? old : "C";
    std::setlocale(LC_NUMERIC, "de_DE.UTF-8"); // a comma locale, where the machine has one
    QLocale::setDefault(QLocale(QLocale::German));
    auto record = PMMovieRepresentationOriginal::movieRepresentationWithPath(testsupport::makeTempDir() + QStringLiteral("/a.mp4"));
    PMIndexImageWrappers frames;
    frames.push_back(std::make_shared<PMGeneratedIndexImageWrapper>(picture(16, 9, Qt::red), MediaTime::make(45, 10)));
    frames.push_back(std::make_shared<PMGeneratedIndexImageWrapper>(picture(16, 9, Qt::blue), MediaTime::make(300, 10)));
    loader().saveStandardIndexImageWrappers(&frames, *record);
    EXPECT_TRUE(loader().saveQueueStandardIndexImageWrappersForMovieRepresentation(*record));
    settle();
    std::setlocale(LC_NUMERIC, previous.c_str());
    QLocale::setDefault(QLocale::c());
    EXPECT_FALSE(loader().saveQueueStandardIndexImageWrappersForMovieRepresentation(*record));
    const QString folder = record->standardIndexImagesBasePath();
    EXPECT_EQ(QDir(folder).entryList(QDir::Files, QDir::Name), (QStringList{QStringLiteral("1 (4.50).jpg"), QStringLiteral("2 (30.00).jpg")}));
    EXPECT_TRUE(record->hasSavedStandardIndexImages());

    // Removing deletes the folder; an empty result is kept for the session only.
    loader().saveStandardIndexImageWrappers(nullptr, *record);
    settle();
    EXPECT_FALSE(QFileInfo::exists(folder));
    PMIndexImageWrappers empty;
    loader().saveStandardIndexImageWrappers(&empty, *record);
    settle();
    EXPECT_FALSE(QFileInfo::exists(folder));
    EXPECT_TRUE(loader().hasNoStandardIndexImages(record->uniqueLibraryID()));
    EXPECT_TRUE(record->standardIndexImageWrappersWithCompletionHandler(nullptr)->empty());
}

// ---- Frame times and grabs

TEST_F(IndexImages, FrameTimesDivideTheMovieIntoEqualParts)
{
    StandInGenerator g;
    const std::vector<MediaTime> times = PMIndexImageFrameTimes(&g, MediaTime::make(110000, 1000), 10);
    ASSERT_EQ(times.size(), 10u);
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(times[size_t(i)].value, 10000 * (i + 1));
    EXPECT_EQ(g.before.value, 110000 / 30);
    EXPECT_EQ(g.after.value, 110000 / 30);
    const std::vector<MediaTime> one = PMIndexImageFrameTimes(&g, MediaTime::make(100, 10), 0);
    ASSERT_EQ(one.size(), 1u);
    EXPECT_EQ(one[0].value, 50); // half the duration
    EXPECT_EQ(PMIndexImageFrameTolerance(MediaTime::make(5, 1), 1).value, 0); // below 2 units: none
}

TEST_F(IndexImages, AGrabOfTenWithThreeFailuresGivesSevenFramesInTimeOrder)
{
    auto standIn = installStandIn();
    auto record = recordFor(media::Fixtures().numbered());
    std::optional<std::optional<PMIndexImageWrappers>> result;
    indexImageWrappersForMovieRepresentation(*record, 10, QSizeF(-16, -16), [&](std::optional<PMIndexImageWrappers> frames) { result = frames; });
    ASSERT_TRUE(standIn->waitForRequests());
    ASSERT_EQ(standIn->times.size(), 10u);
    for (size_t i : {9, 0, 5, 2, 7, 1, 3, 8, 4, 6}) // out of order, 2, 5 and 8 failing
        standIn->answer(i, i % 3 != 2);
    ASSERT_TRUE(testsupport::waitUntil([&] { return result.has_value(); }, 10000));
    ASSERT_TRUE(*result);
    ASSERT_EQ((*result)->size(), 7u);
    for (size_t i = 1; i < 7; ++i)
        EXPECT_LT((**result)[i - 1]->timestamp(), (**result)[i]->timestamp());
    // Reduced to an area of 16 × 16 with the proportions kept.
    const QSizeF size = (**result)[0]->image()->size();
    EXPECT_NEAR(size.width() * size.height(), 256, 40);
    EXPECT_NEAR(size.width() / size.height(), 2.0, 0.2);
}

TEST_F(IndexImages, AGrabEndsWhenTheGeneratorNeverAnswers)
{
    auto standIn = installStandIn();
    PMIndexImageFrameGenerator::generationTimeLimitMs() = 100;
    auto record = recordFor(media::Fixtures().numbered());
    bool done = false;
    std::optional<PMIndexImageWrappers> frames;
    indexImageWrappersForMovieRepresentation(*record, 4, QSizeF(-16, -16), [&](std::optional<PMIndexImageWrappers> f) {
        frames = std::move(f);
        done = true;
    });
    ASSERT_TRUE(standIn->waitForRequests());
    standIn->answer(1, true);
    ASSERT_TRUE(testsupport::waitUntil([&] { return done; }, 10000));
    ASSERT_TRUE(frames);
    EXPECT_EQ(frames->size(), 1u);
    EXPECT_GE(standIn->cancelled, 0);

    // The synchronous form ends too.
    const PMIndexImageWrappers waited =
        indexImageWrappersForMovieRepresentationValuesSynchronously(PMIndexImageRecordValues::of(*record), 3, QSizeF(-16, -16));
    EXPECT_TRUE(waited.empty());
}

TEST_F(IndexImages, HoverFramesOfAMovieAreGrabbedOnceThenReadFromDisk)
{
    auto record = recordFor(media::Fixtures().numbered());
    std::optional<std::optional<PMIndexImageWrappers>> first;
    record->standardIndexImageWrappersWithCompletionHandler([&](std::optional<PMIndexImageWrappers> f) { first = std::move(f); });
    ASSERT_TRUE(testsupport::waitUntil([&] { return first.has_value(); }, 30000));
    ASSERT_TRUE(*first);
    ASSERT_EQ((*first)->size(), 10u);
    // 10 frames at i/11 of 3 s, within a third of the gap.
    for (size_t i = 0; i < 10; ++i)
        EXPECT_NEAR((**first)[i]->timestamp(), 3.0 * double(i + 1) / 11, 3.0 / 11 / 3 + 0.11) << i;
    settle();
    EXPECT_EQ(QDir(record->standardIndexImagesBasePath()).entryList(QDir::Files).size(), 10);
    EXPECT_TRUE(record->canShowIndexImage());

    // Cached in memory through the record; read back from disk, not grabbed again.
    installStandIn(); // a grab would never answer
    bool cached = false;
    record->cacheStandardIndexImageWrappersWithCompletionHandler([&](const PMIndexImageWrappers* w) {
        cached = true;
        EXPECT_TRUE(w && w->size() == 10u);
    });
    ASSERT_TRUE(testsupport::waitUntil([&] { QCoreApplication::processEvents(); return cached; }, 10000));
    EXPECT_TRUE(record->cachedStandardIndexImageWrappers());
    record->clearStandardIndexImages();
    settle();
    EXPECT_FALSE(record->cachedStandardIndexImageWrappers());
    EXPECT_FALSE(record->hasSavedStandardIndexImages());
}

TEST_F(IndexImages, AMissingMovieWithoutSavedFramesHasNone)
{
    auto record = PMMovieRepresentationOriginal::movieRepresentationWithPath(testsupport::makeTempDir() + QStringLiteral("/gone.mp4"));
    record->setMissing(true, false);
    EXPECT_FALSE(record->standardIndexImageWrappersWithCompletionHandler(nullptr));
    EXPECT_FALSE(record->canShowIndexImage());
    QDir().mkpath(record->standardIndexImagesBasePath());
    writeJPEG(record->standardIndexImagesBasePath() + QStringLiteral("/1 (1.00).jpg"));
    ASSERT_TRUE(record->standardIndexImageWrappersWithCompletionHandler(nullptr));
    EXPECT_EQ(record->standardIndexImageWrappersWithCompletionHandler(nullptr)->size(), 1u);
    EXPECT_TRUE(record->canShowIndexImage());
}

// ---- Layout

namespace {

DictionaryPtr settingsWith(std::initializer_list<std::pair<QString, Value>> entries)
{
    DictionaryPtr settings = PMIndexImageViewSettings::defaultIndexImageSettings();
    for (const auto& [key, value] : entries)
        settings->setValue(key, value);
    return settings;
}

} // namespace

TEST_F(IndexImages, LayoutTable)
{
    using namespace PMIndexImageSettingsKeys;
    const QSizeF landscape(1920, 1080), portrait(1080, 1920);
    const struct {
        const char* name;
        long images, columns, width, spacing, border;
        QSizeF display;
        int expectColumns;
        QSizeF expectCell;
    } cases[] = {
        {"M = 0 gives one column", 30, 0, 200, 10, 2, landscape, 1, {200, 113}},
        {"M = 1 gives one column", 30, 1, 200, 10, 2, landscape, 1, {200, 113}},
        {"M above n gives one row", 30, 50, 200, 10, 2, landscape, 30, {200, 113}},
        {"M = 6", 30, 6, 200, 10, 2, landscape, 6, {200, 113}},
        {"width below 70 is 70", 4, 2, 40, 10, 2, landscape, 2, {70, 39}},
        {"portrait in automatic mode: the width is the height", 12, -100, 200, 10, 2, portrait, -1, {113, 200}},
        {"no images: one", 0, 6, 200, 10, 2, landscape, 1, {200, 113}},
    };
    for (const auto& c : cases) {
        const PMIndexImageLayout layout = PMIndexImageLayoutForSettings(
            settingsWith({{numberOfImages, Value(c.images)}, {maximumNumberOfColumns, Value(c.columns)}, {singleImageWidth, Value(c.width)},
                          {spacing, Value(c.spacing)}, {border, Value(c.border)}}),
            int(c.images), c.display);
        if (c.expectColumns > 0) {
            EXPECT_EQ(layout.columns, c.expectColumns) << c.name;
        }
        EXPECT_EQ(layout.cellSize, c.expectCell) << c.name;
        const double P = layout.spacing + 2 * layout.border;
        EXPECT_EQ(layout.sheetSize, QSizeF(layout.spacing + layout.columns * (layout.cellSize.width() + P),
                                           layout.spacing + layout.rows * (layout.cellSize.height() + P))) << c.name;
    }

    // -100 with 30 landscape frames: the sheet closest to square, rows dividing 30.
    const PMIndexImageLayout square =
        PMIndexImageLayoutForSettings(settingsWith({{maximumNumberOfColumns, Value(-100)}}), 30, landscape);
    EXPECT_EQ(square.columns, 5);
    EXPECT_EQ(square.rows, 6);
    // Two candidates: a single row or column gives way to a ragged sheet that is closer.
    EXPECT_EQ(PMIndexImageAutomaticColumns(7, 1.0, QSizeF(100, 100), 0, 0), 3);

    // Spacing 0, border 2: the border colour fills the sheet, 2-point lines and margin, no shadows.
    const PMIndexImageLayout solid =
        PMIndexImageLayoutForSettings(settingsWith({{spacing, Value(0)}, {border, Value(2)}, {maximumNumberOfColumns, Value(2)}}), 4, landscape);
    EXPECT_TRUE(solid.solidBackground);
    EXPECT_FALSE(solid.dropShadows);
    EXPECT_EQ(solid.spacing, 2);
    EXPECT_EQ(solid.border, 0);
    EXPECT_EQ(solid.cellRect(1).left() - solid.cellRect(0).right(), 2);
    EXPECT_EQ(solid.cellRect(0).left(), 2);
    // Spacing 0, border 0: frames touch.
    const PMIndexImageLayout touching =
        PMIndexImageLayoutForSettings(settingsWith({{spacing, Value(0)}, {border, Value(0)}, {maximumNumberOfColumns, Value(2)}}), 4, landscape);
    EXPECT_FALSE(touching.solidBackground);
    EXPECT_EQ(touching.cellRect(0).left(), 0);
    EXPECT_EQ(touching.cellRect(1).left(), touching.cellRect(0).right());
    // Spacing 10, border 2: borders 10 points apart and from the edges.
    const PMIndexImageLayout spaced = PMIndexImageLayoutForSettings(settingsWith({{maximumNumberOfColumns, Value(2)}}), 4, landscape);
    EXPECT_EQ(spaced.backgroundRect(0).left(), 10);
    EXPECT_EQ(spaced.backgroundRect(1).left() - spaced.backgroundRect(0).right(), 10);
    EXPECT_EQ(spaced.cellRect(0).left(), 12);

    // Rotation and visible area change the frame's proportions; any angle takes the bounding box.
    EXPECT_EQ(PMIndexImageDisplaySize(landscape, 90, nullptr, std::nullopt), portrait);
    auto half = Dictionary::make();
    half->setValue(QStringLiteral("w"), Value(0.5));
    half->setValue(QStringLiteral("h"), Value(1.0));
    EXPECT_EQ(PMIndexImageDisplaySize(landscape, 0, half, std::nullopt), QSizeF(960, 1080));
    const QSizeF turned = PMIndexImageDisplaySize(QSizeF(100, 100), 45, nullptr, std::nullopt);
    EXPECT_NEAR(turned.width(), 141.42, 0.01);
}

TEST_F(IndexImages, StoredSettingsAreClampedToTheFieldsRanges)
{
    using namespace PMIndexImageSettingsKeys;
    const DictionaryPtr clamped = PMIndexImageViewSettings::clampedIndexImageSettings(settingsWith({{numberOfImages, Value(100000)}, {maximumNumberOfColumns, Value(0)},
                                                                                          {singleImageWidth, Value(5)}, {spacing, Value(-3)}, {border, Value(QStringLiteral("x"))}}));
    EXPECT_EQ(clamped->value(numberOfImages).toLongLong(), 1000);
    EXPECT_EQ(clamped->value(maximumNumberOfColumns).toLongLong(), 1);
    EXPECT_EQ(clamped->value(singleImageWidth).toLongLong(), 70);
    EXPECT_EQ(clamped->value(spacing).toLongLong(), 0);
    EXPECT_EQ(clamped->value(border).toLongLong(), 2);
    PMIndexImageViewSettings::resetIndexImageSettings();
    platform::UserDefaults::standard().setObject(Value(settingsWith({{numberOfImages, Value(-4)}})), defaultsKey);
    EXPECT_EQ(PMIndexImageViewSettings::indexImageSettings()->value(numberOfImages).toLongLong(), 1);
    PMIndexImageViewSettings::resetIndexImageSettings();
}

// ---- Composition on a record

TEST_F(IndexImages, CompositionGrabsOnceThenComposesAtOnceAndIgnoresLateAnswers)
{
    using namespace PMIndexImageSettingsKeys;
    auto standIn = installStandIn();
    auto record = recordFor(media::Fixtures().numbered());
    DictionaryPtr settings = settingsWith({{numberOfImages, Value(3)}, {maximumNumberOfColumns, Value(3)}, {singleImageWidth, Value(100)}});
    std::vector<std::pair<long long, long long>> progress;
    ImagePtr finished;
    bool completed = false;
    auto onProgress = [&](long long done, long long total) { progress.emplace_back(done, total); };
    auto onCompletion = [&](ImagePtr sheet) {
        finished = sheet;
        completed = true;
    };
    EXPECT_FALSE(compositeIndexImageForMovieRepresentation(*record, settings, onProgress, onCompletion));
    ASSERT_TRUE(standIn->waitForRequests());
    EXPECT_EQ(currentIndexImageGenerationIndex(*record), 0);
    standIn->answer(2, true);
    standIn->answer(0, false); // a failed frame still counts, drawn as a placeholder
    standIn->answer(1, true);
    ASSERT_TRUE(testsupport::waitUntil([&] { QCoreApplication::processEvents(); return completed; }, 10000));
    ASSERT_TRUE(finished);
    EXPECT_EQ(progress.front(), (std::pair<long long, long long>(0, 3)));
    EXPECT_EQ(progress.back(), (std::pair<long long, long long>(2, 3)));
    EXPECT_EQ(currentIndexImageGenerationIndex(*record), kPMNotFound);
    const PMIndexImageWrappers frames = indexImageWrappers(finished);
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_FALSE(frames[0]->image());
    EXPECT_TRUE(frames[1]->frame().isValid());
    EXPECT_DOUBLE_EQ(frames[0]->timestamp(), 0.7); // a failed frame keeps its requested time (3 s / 4 at 1/10 s)
    // Cells of 100 × 50 (the stand-in answers 64 × 32), three in a row.
    EXPECT_EQ(finished->size(), QSizeF(10 + 3 * 114, 10 + 64));

    // Only the colour changes: composed at once, no new grab, with the new colour in the border.
    settings->setValue(borderColor, Value(QStringLiteral("#00ff00")));
    settings->setValue(dropShadows, Value(false));
    const ImagePtr green = compositeIndexImageForMovieRepresentation(*record, settings, {}, [](ImagePtr) { FAIL() << "no generation"; });
    ASSERT_TRUE(green);
    const QColor corner = green->pixels().pixelColor(int(11 * green->pixels().devicePixelRatio()), int(11 * green->pixels().devicePixelRatio()));
    EXPECT_GT(corner.green(), 200);
    EXPECT_LT(corner.red(), 60);

    // A different number starts over; answers after a stop change nothing.
    settings->setValue(numberOfImages, Value(4));
    EXPECT_FALSE(compositeIndexImageForMovieRepresentation(*record, settings, {}, onCompletion));
    EXPECT_EQ(currentIndexImageGenerationIndex(*record), 0);
    stopIndexImageGeneration(*record);
    completed = false;
    for (size_t i = 0; i < 3; ++i)
        standIn->answer(i, true);
    settle();
    EXPECT_FALSE(completed);
    EXPECT_TRUE(indexImageSettings(*record)->wrappers->empty());
    record->clearMovie(); // drops the working settings
    EXPECT_FALSE(indexImageSettings(*record));
}

TEST_F(IndexImages, TheLaterOfTwoQuickRequestsWinsAndNoGeneratorEndsOnTheMainThread)
{
    using namespace PMIndexImageSettingsKeys;
    // Every request gets a generator of its own; the first one is handed over only after
    // the second request has started its grab.
    std::mutex mutex;
    std::condition_variable changed;
    bool firstMayGo = false;
    int made = 0;
    std::vector<std::weak_ptr<StandInGenerator>> generators;
    auto endedOnMainThread = std::make_shared<std::atomic<int>>(0);
    auto ended = std::make_shared<std::atomic<int>>(0);
    PMIndexImageFrameGenerator::factory() = [&](const platform::media::AssetPtr&) -> std::shared_ptr<PMIndexImageFrameGenerator> {
        auto generator = std::shared_ptr<StandInGenerator>(new StandInGenerator, [endedOnMainThread, ended](StandInGenerator* g) {
            if (platform::isMainThread())
                ++*endedOnMainThread;
            ++*ended;
            delete g;
        });
        std::unique_lock lock(mutex);
        generators.push_back(generator);
        const bool first = ++made == 1;
        changed.notify_all();
        if (first)
            changed.wait(lock, [&] { return firstMayGo; });
        return generator;
    };
    const auto generator = [&](size_t i) {
        std::lock_guard lock(mutex);
        return i < generators.size() ? generators[i].lock() : nullptr;
    };
    auto record = recordFor(media::Fixtures().numbered());
    std::vector<ImagePtr> sheets;
    const auto collect = [&](ImagePtr sheet) { sheets.push_back(sheet); };

    EXPECT_FALSE(compositeIndexImageForMovieRepresentation(*record, settingsWith({{numberOfImages, Value(4)}}), {}, collect));
    ASSERT_TRUE(testsupport::waitUntil([&] {
        std::lock_guard lock(mutex);
        return made == 1;
    }, 30000));
    EXPECT_FALSE(compositeIndexImageForMovieRepresentation(*record, settingsWith({{numberOfImages, Value(6)}}), {}, collect));
    ASSERT_TRUE(testsupport::waitUntil([&] {
        QCoreApplication::processEvents();
        auto second = generator(1);
        return second && second->waitForRequests();
    }, 30000));
    {
        std::lock_guard lock(mutex);
        firstMayGo = true;
        changed.notify_all();
    }
    // The answer to the first request arrives last and is dropped, its generator ended.
    ASSERT_TRUE(testsupport::waitUntil([&] {
        QCoreApplication::processEvents();
        return ended->load() >= 1;
    }, 30000));
    if (auto first = generator(0)) {
        EXPECT_TRUE(first->times.empty());
    }
    auto second = generator(1);
    ASSERT_TRUE(second);
    ASSERT_EQ(second->times.size(), 6u);
    for (size_t i = 0; i < 6; ++i)
        second->answer(i, true);
    second.reset();
    ASSERT_TRUE(testsupport::waitUntil([&] {
        QCoreApplication::processEvents();
        return !sheets.empty();
    }, 10000));
    ASSERT_TRUE(sheets.back());
    EXPECT_EQ(indexImageWrappers(sheets.back()).size(), 6u);

    record->clearMovie(); // drops the working settings and their generator
    EXPECT_TRUE(testsupport::waitUntil([&] {
        QCoreApplication::processEvents();
        return ended->load() == 2;
    }, 10000));
    EXPECT_EQ(endedOnMainThread->load(), 0);
}

TEST_F(IndexImages, CompositionOfARealMovieAndOfSavedFramesAndFailures)
{
    using namespace PMIndexImageSettingsKeys;
    auto record = recordFor(media::Fixtures().numbered());
    DictionaryPtr settings = settingsWith({{numberOfImages, Value(4)}, {maximumNumberOfColumns, Value(2)}});
    ImagePtr sheet;
    bool completed = false;
    compositeIndexImageForMovieRepresentation(*record, settings, {}, [&](ImagePtr s) {
        sheet = s;
        completed = true;
    });
    ASSERT_TRUE(testsupport::waitUntil([&] { QCoreApplication::processEvents(); return completed; }, 30000));
    ASSERT_TRUE(sheet);
    const PMIndexImageWrappers frames = indexImageWrappers(sheet);
    ASSERT_EQ(frames.size(), 4u);
    for (const auto& frame : frames)
        EXPECT_TRUE(frame->image());

    // A movie that cannot be opened: the handler gets nothing and the working settings go.
    auto broken = recordFor(media::Fixtures().textFile());
    completed = false;
    sheet = picture(1, 1, Qt::black);
    compositeIndexImageForMovieRepresentation(*broken, settings, {}, [&](ImagePtr s) {
        sheet = s;
        completed = true;
    });
    ASSERT_TRUE(testsupport::waitUntil([&] { QCoreApplication::processEvents(); return completed; }, 30000));
    EXPECT_FALSE(sheet);
    EXPECT_FALSE(indexImageSettings(*broken));

    // Without a handler: the saved hover frames, or nothing.
    EXPECT_FALSE(compositeIndexImageForMovieRepresentation(*broken, settings, {}, {}));
    QDir().mkpath(broken->standardIndexImagesBasePath());
    writeJPEG(broken->standardIndexImagesBasePath() + QStringLiteral("/1 (1.00).jpg"));
    writeJPEG(broken->standardIndexImagesBasePath() + QStringLiteral("/2 (2.00).jpg"));
    const ImagePtr saved = compositeIndexImageForMovieRepresentation(*broken, settings, {}, {});
    ASSERT_TRUE(saved);
    EXPECT_EQ(indexImageWrappers(saved).size(), 2u);

    // Too large a sheet fails with a message.
    PMIndexImageLayout huge = PMIndexImageLayoutForSettings(settingsWith({{numberOfImages, Value(1000)}, {singleImageWidth, Value(1000)},
                                                                           {maximumNumberOfColumns, Value(1000)}}), 1000, QSizeF(100, 100));
    QString error;
    EXPECT_FALSE(PMComposeIndexImage({}, huge, Qt::white, false, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("too large")));
}

// ---- Hashes and colours

TEST_F(IndexImages, DifferenceHashes)
{
    EXPECT_EQ(dHashWithResolution(picture(50, 50, QColor(90, 120, 30)), 7), QStringLiteral("AAAAAAAA"));
    QImage ramp(64, 64, QImage::Format_RGB32);
    for (int x = 0; x < 64; ++x)
        for (int y = 0; y < 64; ++y)
            ramp.setPixel(x, y, qRgb(255 - x * 4, 255 - x * 4, 255 - x * 4));
    const QByteArray bits = QByteArray::fromBase64(dHashWithResolution(platform::Image::make(ramp), 8).toLatin1());
    ASSERT_EQ(bits.size(), 7); // 7 × 8 bits
    for (char b : bits)
        EXPECT_EQ(uchar(b), 0xFF);
    EXPECT_TRUE(dHashWithResolution(picture(10, 10, Qt::red), 1).isEmpty());
    std::vector<double> components;
    QString hash = QStringLiteral("unchanged");
    EXPECT_TRUE(grayScaleImageWithSize(picture(10, 10, Qt::red), QSizeF(1, 1), &hash, &components));
    EXPECT_EQ(hash, QStringLiteral("unchanged")); // 1 × 1: colours, no hash
    EXPECT_EQ(components.size(), 3u);
    EXPECT_FALSE(grayScaleImageWithSize(picture(10, 10, Qt::red), QSizeF(0.5, 3), &hash, nullptr));

    // Transparent parts count as black: a clear left half over white gives a rising edge only.
    QImage half(20, 20, QImage::Format_ARGB32);
    half.fill(Qt::transparent);
    for (int x = 10; x < 20; ++x)
        for (int y = 0; y < 20; ++y)
            half.setPixel(x, y, qRgba(255, 255, 255, 255));
    std::vector<double> grey;
    grayScaleImageWithSize(platform::Image::make(half), QSizeF(2, 1), nullptr, &grey);
    EXPECT_EQ(grey[0], 0);
    EXPECT_EQ(grey[3], 255);
    EXPECT_EQ(dHashWithResolution(platform::Image::make(half), 2), QStringLiteral("AA==")); // no pixel darker than its left
}

TEST_F(IndexImages, AFilesHashReadReducedMatchesTheHashOfTheWholePicture)
{
    // A photo-sized picture with structure at every scale: a file read reduced for the hash
    // must give (nearly) the bits of the whole picture, or stored hashes stop matching.
    QImage photo(1920, 1080, QImage::Format_RGB32);
    for (int y = 0; y < photo.height(); ++y)
        for (int x = 0; x < photo.width(); ++x) {
            const int v = int(127 + 60 * std::sin(x / 97.0) + 60 * std::cos(y / 53.0 + x / 301.0));
            photo.setPixel(x, y, qRgb(v, (v * 3) % 256, 255 - v));
        }
    const QString dir = testsupport::makeTempDir(QStringLiteral("hashes"));
    for (const char* format : {"jpg", "png"}) {
        SCOPED_TRACE(format);
        const QString path = dir + QStringLiteral("/photo.") + QLatin1String(format);
        ASSERT_TRUE(photo.save(path, nullptr, 95));
        const QImage whole(path);
        for (const long long resolution : {8LL, 16LL}) {
            const QByteArray reduced = QByteArray::fromBase64(dHashOfImageFile(path, resolution).toLatin1());
            const QByteArray full = QByteArray::fromBase64(dHashWithResolution(whole, resolution).toLatin1());
            ASSERT_EQ(reduced.size(), full.size());
            int differing = 0;
            for (qsizetype i = 0; i < full.size(); ++i)
                differing += std::popcount(uint(uchar(reduced[i] ^ full[i])));
            EXPECT_LE(differing, int(resolution * (resolution - 1) / 32)) << resolution;
        }
    }
    EXPECT_TRUE(dHashOfImageFile(dir + QStringLiteral("/missing.jpg"), 8).isEmpty());
}

TEST_F(IndexImages, AStillIsReadReducedForItsHashOnlyWhenThatHalvesIt)
{
    // Reading reduced pays only when the decoder can skip pixels (a JPEG at half size or
    // less); a still a little larger than the hash's reading size is read whole, and its
    // hash is then exactly that of the whole picture.
    const QString dir = testsupport::makeTempDir(QStringLiteral("still-sizes"));
    struct Case {
        QSize picture;
        QSize read; // with the hash's reading size of 256 x 256
    };
    const Case cases[] = {
        {{160, 90}, {160, 90}},    // already within
        {{320, 180}, {320, 180}},  // reduced by a fifth: read whole
        {{480, 270}, {480, 270}},  // just under half: read whole
        {{90, 500}, {90, 500}},    // tall, under half
        {{512, 288}, {256, 144}},  // exactly half
        {{1920, 1080}, {256, 144}},
        {{200, 1200}, {42, 256}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.picture.width() << "x" << c.picture.height());
        QImage picture(c.picture, QImage::Format_RGB32);
        for (int y = 0; y < picture.height(); ++y)
            for (int x = 0; x < picture.width(); ++x)
                picture.setPixel(x, y, qRgb((x * 7) % 256, (y * 3 + (x / 16) * 40) % 256, 128));
        const QString path = dir + QStringLiteral("/%1x%2.jpg").arg(c.picture.width()).arg(c.picture.height());
        ASSERT_TRUE(picture.save(path, "JPEG", 90));
        platform::ImageReadOptions options;
        options.fitInto = QSize(256, 256);
        options.fitOnlyWhenHalving = true;
        QSize original;
        EXPECT_EQ(platform::readImageFile(path, options, nullptr, &original).size(), c.read);
        EXPECT_EQ(original, c.picture);
        // Without the rule, anything larger is reduced (as thumbnails want).
        options.fitOnlyWhenHalving = false;
        EXPECT_EQ(platform::readImageFile(path, options).size(), c.picture.scaled(256, 256, Qt::KeepAspectRatio).boundedTo(c.picture));
        if (c.read == c.picture) {
            EXPECT_EQ(dHashOfImageFile(path, 8), dHashWithResolution(QImage(path), 8));
        }
    }
}

TEST_F(IndexImages, AverageColourOfHalfRedHalfBlue)
{
    QImage image(40, 40, QImage::Format_RGB32);
    for (int x = 0; x < 40; ++x)
        for (int y = 0; y < 40; ++y)
            image.setPixel(x, y, x < 20 ? qRgb(255, 0, 0) : qRgb(0, 0, 255));
    const std::vector<double> rgb = rgbAverageComponents(platform::Image::make(image));
    ASSERT_EQ(rgb.size(), 3u);
    EXPECT_NEAR(rgb[0], 0.5, 0.03);
    EXPECT_NEAR(rgb[1], 0.0, 0.01);
    EXPECT_NEAR(rgb[2], 0.5, 0.03);
    ASSERT_TRUE(loader().rgbAverageComponents);
    EXPECT_EQ(loader().rgbAverageComponents(platform::Image::make(image)).size(), 3u);
}

TEST_F(IndexImages, RecordHashesAreComputedInTheBackgroundAndStored)
{
    // A still image: the resolution is clamped (1 → 2, 500 → 100), and the hash is stored.
    const QString dir = testsupport::makeTempDir(QStringLiteral("stills"));
    ASSERT_TRUE(picture(40, 40, Qt::gray)->pixels().save(dir + QStringLiteral("/a.png")));
    auto still = PMMovieRepresentationOriginal::movieRepresentationWithPath(dir + QStringLiteral("/a.png"));
    EXPECT_TRUE(still->imageHashWithResolution(1).isEmpty()); // not yet: computed in the background
    PMWaitForImageHashPass();
    settle();
    EXPECT_EQ(still->userSettings()->value(QStringLiteral("Image Hash 2")).string(), QStringLiteral("AA=="));
    EXPECT_EQ(still->imageHashWithResolution(1), QStringLiteral("AA=="));
    EXPECT_TRUE(still->imageHashWithResolution(500).isEmpty());
    PMWaitForImageHashPass();
    settle();
    EXPECT_TRUE(still->userSettings()->value(QStringLiteral("Image Hash 100")).isString());

    // A movie: its hover frames are grabbed, stored, and hashed together.
    auto movie = recordFor(media::Fixtures().numbered());
    EXPECT_TRUE(movie->imageHashWithResolution(8).isEmpty());
    PMWaitForImageHashPass();
    settle();
    const QString hash = movie->imageHashWithResolution(8);
    EXPECT_EQ(hash.size(), 10 * 12); // ten 7-byte hashes in Base64, joined
    EXPECT_TRUE(movie->userSettings()->value(QStringLiteral("Movie Hash")).dictionary()->value(QStringLiteral("Image Hash 8")).isString());
    EXPECT_TRUE(movie->hasSavedStandardIndexImages());
}

TEST_F(IndexImages, AFirstPreviewStartsTheHoverFramesInTheBackground)
{
    platform::UserDefaults::standard().setBool(true, QStringLiteral("Cycle Through Index Image On Hover"));
    auto record = recordFor(media::Fixtures().numbered());
    loader().savePosterImage(picture(64, 32, Qt::gray), *record);
    const QString folder = record->standardIndexImagesBasePath();
    EXPECT_TRUE(testsupport::waitUntil([&] {
        QCoreApplication::processEvents();
        return QDir(folder).entryList(QDir::Files).size() == 10 && loader().waitingStandardIndexImageRecordCount() == 0;
    }, 30000));
    platform::UserDefaults::standard().setBool(false, QStringLiteral("Cycle Through Index Image On Hover"));
}

TEST_F(IndexImages, ALayoutChangeComposesInTheBackground)
{
    using namespace PMIndexImageSettingsKeys;
    auto standIn = installStandIn();
    auto record = recordFor(media::Fixtures().numbered());
    DictionaryPtr settings = settingsWith({{numberOfImages, Value(2)}, {maximumNumberOfColumns, Value(2)}});
    bool nothing = false;
    compositeIndexImageInBackground(*record, settings, [&](ImagePtr sheet) { nothing = !sheet; });
    ASSERT_TRUE(testsupport::waitUntil([&] { QCoreApplication::processEvents(); return nothing; }, 10000)); // no frames yet
    bool completed = false;
    compositeIndexImageForMovieRepresentation(*record, settings, {}, [&](ImagePtr) { completed = true; });
    ASSERT_TRUE(standIn->waitForRequests());
    standIn->answer(0, true);
    standIn->answer(1, true);
    ASSERT_TRUE(testsupport::waitUntil([&] { QCoreApplication::processEvents(); return completed; }, 10000));
    settings->setValue(maximumNumberOfColumns, Value(1));
    ImagePtr column;
    compositeIndexImageInBackground(*record, settings, [&](ImagePtr sheet) { column = sheet; });
    ASSERT_TRUE(testsupport::waitUntil([&] { QCoreApplication::processEvents(); return bool(column); }, 10000));
    EXPECT_GT(column->size().height(), column->size().width());
    EXPECT_EQ(indexImageWrappers(column).size(), 2u);
}

TEST_F(IndexImages, AnIndexImageWhoseFramesNeverComeEndsWithPlaceholders)
{
    using namespace PMIndexImageSettingsKeys;
    auto standIn = installStandIn();
    PMIndexImageFrameGenerator::generationTimeLimitMs() = 100;
    auto record = recordFor(media::Fixtures().numbered());
    ImagePtr sheet;
    compositeIndexImageForMovieRepresentation(*record, settingsWith({{numberOfImages, Value(3)}}), {}, [&](ImagePtr s) { sheet = s; });
    ASSERT_TRUE(standIn->waitForRequests());
    standIn->answer(1, true);
    ASSERT_TRUE(testsupport::waitUntil([&] { QCoreApplication::processEvents(); return bool(sheet); }, 10000));
    const PMIndexImageWrappers frames = indexImageWrappers(sheet);
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_FALSE(frames[0]->image());
    EXPECT_TRUE(frames[1]->image());
    EXPECT_FALSE(frames[2]->image());
    EXPECT_EQ(currentIndexImageGenerationIndex(*record), kPMNotFound);
}

TEST_F(IndexImages, HashesAskedForOffTheMainThreadAreComputedLater)
{
    const QString dir = testsupport::makeTempDir(QStringLiteral("stills"));
    ASSERT_TRUE(picture(40, 40, Qt::gray)->pixels().save(dir + QStringLiteral("/b.png")));
    auto still = PMMovieRepresentationOriginal::movieRepresentationWithPath(dir + QStringLiteral("/b.png"));
    QString answer = QStringLiteral("unset");
    std::thread([&] { answer = still->imageHashWithResolution(4); }).join(); // as a sort's worker asks
    EXPECT_TRUE(answer.isEmpty());
    EXPECT_FALSE(still->userSettings()->contains(QStringLiteral("Image Hash 4"))); // nothing written off the main thread
    ASSERT_TRUE(testsupport::waitUntil([&] {
        PMWaitForImageHashPass();
        QCoreApplication::processEvents();
        return still->userSettings()->contains(QStringLiteral("Image Hash 4"));
    }, 10000));
}

TEST_F(IndexImages, ARecordKeepsTheAverageColourOfItsPreview)
{
    platform::UserDefaults::standard().setBool(true, QStringLiteral("Draw Color Thumbnail Placeholders"));
    auto record = PMMovieRepresentationOriginal::movieRepresentationWithPath(QStringLiteral("/media/none/colour.mp4"));
    loader().savePosterImage(picture(160, 90, QColor(255, 0, 0)), *record);
    settle();
    QWidget parent;
    parent.resize(400, 400);
    QWidget* tile = new QWidget(&parent);
    tile->setGeometry(0, 0, 160, 90);
    parent.show();
    record->loadCoverImageAndPosterImageForView(tile, 0);
    EXPECT_TRUE(testsupport::waitUntil([&] {
        settle();
        return record->userSettings()->value(QStringLiteral("RGB")).isString();
    }, 10000));
    EXPECT_EQ(record->userSettings()->value(QStringLiteral("RGB")).string(), QStringLiteral("1.00/0.00/0.00"));
    platform::UserDefaults::standard().setBool(false, QStringLiteral("Draw Color Thumbnail Placeholders"));
}
