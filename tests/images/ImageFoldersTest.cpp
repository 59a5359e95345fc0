#include "common/TestSupport.h"
#include "ImagesTestSupport.h"
#include "images/PMIndexImageWrapper.h"
#include "library/model/PMMainController.h"
#include "images/NSImage+PMImageFiles.h"
#include "images/PMMovieRepresentationImageLoader.h"
#include "library/model/PMMovieRepresentation.h"

#include <gtest/gtest.h>

#include <QtCore/QDir>
#include <QtCore/QFileInfo>
#include <QtCore/QUuid>
#include <QtGui/QImageReader>

#include <csignal>
#include <functional>
#include <sys/resource.h>

using platform::Image;
using platform::ImagePtr;

namespace {

ImagePtr picture(int w, int h, QColor color)
{
    QImage pixels(w, h, QImage::Format_RGB32);
    pixels.fill(color);
    return Image::make(std::move(pixels));
}

QString newID()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

// Saves and waits for the answer on the main thread.
bool save(const ImagePtr& image, const QString& folder, const QString& id)
{
    std::optional<bool> answer;
    PMMovieRepresentationImageLoader::defaultLoader().saveImage(image, true, folder, id, false, nullptr, [&](bool ok) { answer = ok; });
    testsupport::waitUntil([&] { return answer.has_value(); }, 10000);
    return answer.value_or(false);
}

// JPEG is lossy: a colour within a few steps.
bool nearColour(const QColor& a, QColor b)
{
    b = b.toRgb();
    return std::abs(a.red() - b.red()) < 6 && std::abs(a.green() - b.green()) < 6 && std::abs(a.blue() - b.blue()) < 6;
}

QColor centreColour(const QString& path)
{
    const QImage image(path);
    return image.isNull() ? QColor() : QColor(image.pixel(image.width() / 2, image.height() / 2));
}

void underscore(const QString& folder, const QString& id, const QByteArray& data, quint64 generation)
{
    auto& loader = PMMovieRepresentationImageLoader::defaultLoader();
    loader.saveUnderscoreCoverImageJPEGRepresentation(data, folder + QStringLiteral("/_/") + id, id, generation);
    loader.waitForSaveQueue();
}

// A red 800 x 600 cover stored with its reduced copy in a new folder.
struct StoredCover {
    QString folder = testsupport::makeTempDir(QStringLiteral("covers"));
    QString id = newID();
    QString jpg = folder + QLatin1Char('/') + id + QStringLiteral(".jpg");
    QString reduced = folder + QStringLiteral("/_/") + id + QStringLiteral(".jpg");
    bool stored = false;

    StoredCover()
    {
        stored = save(picture(800, 600, Qt::red), folder, id);
        underscore(folder, id, underscoreImageJPEGRepresentation(picture(800, 600, Qt::red)),
                   PMMovieRepresentationImageLoader::defaultLoader().imageGeneration(true, id));
    }
};

} // namespace

TEST(ImageFolders, ReducedCopySizes)
{
    EXPECT_EQ(underscoreImagePixelSize(QSizeF(800, 600), 160000), QSize(462, 346));
    EXPECT_EQ(underscoreImagePixelSize(QSizeF(400, 400), 160000), QSize(400, 400));
    EXPECT_TRUE(underscoreImageJPEGRepresentation(picture(400, 400, Qt::red)).isEmpty());
    const QByteArray data = underscoreImageJPEGRepresentation(picture(800, 600, Qt::red));
    EXPECT_EQ(QImage::fromData(data).size(), QSize(462, 346));
}

TEST(ImageFolders, WellFormedIDs)
{
    for (const char* bad : {"", ".", "..", "a/b", "../x", "/etc/passwd", "ABC", "iTunesTrack-"})
        EXPECT_FALSE(PMIsWellFormedImageID(QString::fromLatin1(bad))) << bad;
    for (const char* good : {"0F8FAD5B-D9CB-469F-A165-70867728950E", "iTunesTrack-1234", "Photos-abc"})
        EXPECT_TRUE(PMIsWellFormedImageID(QString::fromLatin1(good))) << good;
}

TEST(ImageFolders, ReplacingAndRemovingACover)
{
    const StoredCover cover;
    const QString &folder = cover.folder, &id = cover.id;
    ASSERT_TRUE(cover.stored);
    EXPECT_TRUE(nearColour(centreColour(cover.jpg), Qt::red));
    EXPECT_TRUE(QFileInfo::exists(cover.reduced));

    // A stale TIFF of an older setting must not bring a removed cover back.
    testsupport::writeFile(folder + QLatin1Char('/') + id + QStringLiteral(".tiff"), "old");
    ASSERT_TRUE(save(nullptr, folder, id));
    EXPECT_TRUE(QDir(folder).entryList(QDir::Files).isEmpty());
    EXPECT_FALSE(QFileInfo::exists(cover.reduced));
}

TEST(ImageFolders, AnUpperCaseJPGSourceIsCopiedByteForByte)
{
    const QString folder = testsupport::makeTempDir(QStringLiteral("covers"));
    const QString source = testsupport::makeTempDir(QStringLiteral("source")) + QStringLiteral("/Poster.JPG");
    ASSERT_TRUE(picture(64, 48, Qt::blue)->pixels().save(source, "JPEG", 40));
    const ImagePtr image = PMImageWithContentsOfFile(source);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->associatedSourcePath, source);
    const QString id = newID();
    ASSERT_TRUE(save(image, folder, id));
    EXPECT_EQ(testsupport::readFile(folder + QLatin1Char('/') + id + QStringLiteral(".jpg")), testsupport::readFile(source));
}

TEST(ImageFolders, APictureWaitingForItsWriteIsServed)
{
    const QString folder = testsupport::makeTempDir(QStringLiteral("covers"));
    const QString id = newID();
    auto& loader = PMMovieRepresentationImageLoader::defaultLoader();
    const ImagePtr image = picture(100, 100, Qt::green);
    bool done = false;
    loader.saveImage(image, true, folder, id, false, nullptr, [&](bool) { done = true; });
    EXPECT_EQ(loader.pendingCoverImage(id), image); // before the queue has run
    testsupport::waitUntil([&] { return done; });
    EXPECT_FALSE(loader.pendingCoverImage(id));
}

TEST(ImageFolders, AFailedWriteKeepsTheOldCoverAndItsReducedCopy)
{
    const StoredCover cover;
    const QString &folder = cover.folder, &id = cover.id, &jpg = cover.jpg, &reduced = cover.reduced;
    ASSERT_TRUE(cover.stored);
    const QByteArray before = testsupport::readFile(jpg), reducedBefore = testsupport::readFile(reduced);

    // A full disk: no file may grow beyond a few bytes while the new cover is written.
    testsupport::LogCapture log;
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit tiny = old;
    tiny.rlim_cur = 100;
    setrlimit(RLIMIT_FSIZE, &tiny);
    const bool saved = save(picture(1600, 1200, Qt::blue), folder, id);
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_FALSE(saved);
    EXPECT_EQ(testsupport::readFile(jpg), before);
    EXPECT_EQ(testsupport::readFile(reduced), reducedBefore);
    EXPECT_TRUE(log.lines().join(QLatin1Char('\n')).contains(QStringLiteral("cannot save image")));
}

namespace {

// Runs the call while no file may grow beyond a few bytes (a full disk).
void withFullDisk(const std::function<void()>& call)
{
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit tiny = old;
    tiny.rlim_cur = 100;
    setrlimit(RLIMIT_FSIZE, &tiny);
    call();
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
}

} // namespace

TEST(ImageFolders, AFailedWriteOfHoverFramesKeepsTheFramesStoredBefore)
{
    using platform::media::MediaTime;
    auto& loader = PMMovieRepresentationImageLoader::defaultLoader();
    auto record = PMMovieRepresentationOriginal::movieRepresentationWithPath(testsupport::makeTempDir() + QStringLiteral("/a.mp4"));
    const QString folder = record->standardIndexImagesBasePath();
    PMIndexImageWrappers frames;
    for (int i = 0; i < 3; ++i)
        frames.push_back(std::make_shared<PMGeneratedIndexImageWrapper>(picture(64, 36, QColor(80 * i, 0, 0)), MediaTime::make(10 * (i + 1), 10)));
    loader.saveStandardIndexImageWrappers(&frames, *record);
    imagestest::settle();
    const QStringList names = QDir(folder).entryList(QDir::Files, QDir::Name);
    ASSERT_EQ(names.size(), 3);
    QList<QByteArray> before;
    for (const QString& name : names)
        before << testsupport::readFile(folder + QLatin1Char('/') + name);

    testsupport::LogCapture log;
    PMIndexImageWrappers newer;
    for (int i = 0; i < 5; ++i)
        newer.push_back(std::make_shared<PMGeneratedIndexImageWrapper>(picture(640, 360, QColor(0, 50 * i, 200)), MediaTime::make(7 * (i + 1), 10)));
    withFullDisk([&] {
        loader.saveStandardIndexImageWrappers(&newer, *record);
        loader.waitForSaveQueue();
    });
    imagestest::settle();
    EXPECT_EQ(QDir(folder).entryList(QDir::Files, QDir::Name), names);
    for (int i = 0; i < names.size(); ++i)
        EXPECT_EQ(testsupport::readFile(folder + QLatin1Char('/') + names[i]), before[i]) << names[i].toStdString();
    // No half-written folder is left beside it.
    EXPECT_EQ(QDir(QFileInfo(folder).path()).entryList({QLatin1Char('.') + record->uniqueLibraryID() + QLatin1Char('*')},
                                                       QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList());
    EXPECT_TRUE(log.lines().join(QLatin1Char('\n')).contains(QStringLiteral("cannot save hover frames")));

    // The next write that succeeds replaces the folder whole.
    loader.saveStandardIndexImageWrappers(&newer, *record);
    imagestest::settle();
    EXPECT_EQ(QDir(folder).entryList(QDir::Files).size(), 5);
}

TEST(ImageFolders, AFailedWriteDropsThePictureInMemoryAndSaysSo)
{
    auto record = PMMovieRepresentationOriginal::movieRepresentationWithPath(testsupport::makeTempDir() + QStringLiteral("/Holiday.mp4"));
    QStringList shown;
    const QMetaObject::Connection hook =
        QObject::connect(&PMMainController::mainController(), &PMMainController::statusFeedback, [&](const QString& text) { shown << text; });
    withFullDisk([&] {
        record->setCoverImage(picture(1600, 1200, Qt::blue));
        record->setPosterImage(picture(1600, 900, Qt::green));
        PMMovieRepresentationImageLoader::defaultLoader().waitForSaveQueue();
    });
    imagestest::settle();
    QObject::disconnect(hook);
    EXPECT_FALSE(record->cachedCoverImage());
    EXPECT_FALSE(record->cachedPosterImage());
    EXPECT_FALSE(QFileInfo::exists(record->coverImageBasePath() + QStringLiteral(".jpg")));
    ASSERT_EQ(shown.size(), 2);
    EXPECT_TRUE(shown[0].contains(QStringLiteral("cover")) && shown[0].contains(record->displayName())) << shown[0].toStdString();
    EXPECT_TRUE(shown[1].contains(QStringLiteral("preview"))) << shown[1].toStdString();

    // A write that succeeds keeps the picture.
    const ImagePtr kept = picture(160, 120, Qt::red);
    record->setCoverImage(kept);
    imagestest::settle();
    EXPECT_EQ(record->cachedCoverImage(), kept);
}

TEST(ImageFolders, AStaleReducedCopyIsDropped)
{
    const QString folder = testsupport::makeTempDir(QStringLiteral("covers"));
    const QString id = newID();
    auto& loader = PMMovieRepresentationImageLoader::defaultLoader();
    ASSERT_TRUE(save(picture(800, 600, Qt::red), folder, id));
    const quint64 readAt = loader.imageGeneration(true, id);
    const QByteArray fromOld = underscoreImageJPEGRepresentation(picture(800, 600, Qt::red));
    ASSERT_TRUE(save(picture(800, 600, Qt::blue), folder, id)); // replaced meanwhile
    underscore(folder, id, fromOld, readAt);
    EXPECT_FALSE(QFileInfo::exists(folder + QStringLiteral("/_/") + id + QStringLiteral(".jpg")));
    underscore(folder, id, underscoreImageJPEGRepresentation(picture(800, 600, Qt::blue)), loader.imageGeneration(true, id));
    EXPECT_TRUE(nearColour(centreColour(folder + QStringLiteral("/_/") + id + QStringLiteral(".jpg")), Qt::blue));

    // A reduced copy still waiting for its write is no longer served once a new picture comes.
    loader.saveUnderscoreCoverImageJPEGRepresentation(fromOld, folder + QStringLiteral("/_/") + id, id, loader.imageGeneration(true, id));
    EXPECT_FALSE(loader.pendingUnderscoreCoverJPEGRepresentation(id).isEmpty());
    bool done = false;
    loader.saveImage(picture(800, 600, Qt::green), true, folder, id, false, nullptr, [&](bool) { done = true; });
    EXPECT_TRUE(loader.pendingUnderscoreCoverJPEGRepresentation(id).isEmpty());
    testsupport::waitUntil([&] { return done; });
}

TEST(ImageFolders, HostileIDsTouchNothing)
{
    const QString root = testsupport::makeTempDir(QStringLiteral("library"));
    const QString folder = root + QStringLiteral("/Cover Images");
    QDir().mkpath(folder + QStringLiteral("/_"));
    testsupport::writeFile(root + QStringLiteral("/precious.jpg"), "keep");
    testsupport::writeFile(folder + QStringLiteral("/_.jpg"), "keep");
    for (const char* id : {"..", "", "a/b", "../precious", "."}) {
        EXPECT_FALSE(save(nullptr, folder, QString::fromLatin1(id))) << id;
        EXPECT_FALSE(save(picture(10, 10, Qt::red), folder, QString::fromLatin1(id))) << id;
    }
    EXPECT_EQ(testsupport::readFile(root + QStringLiteral("/precious.jpg")), "keep");
    EXPECT_EQ(testsupport::readFile(folder + QStringLiteral("/_.jpg")), "keep");
    EXPECT_EQ(QDir(folder).entryList(QDir::Files).size(), 1);
}

TEST(ImageFolders, OversizedPicturesAreRefused)
{
    // A PNG header announcing 60000 × 60000 pixels is refused before anything is allocated.
    const QString path = testsupport::makeTempDir(QStringLiteral("hostile")) + QStringLiteral("/huge.png");
    QByteArray png = QByteArray::fromHex("89504e470d0a1a0a0000000d49484452");
    png += QByteArray::fromHex("0000ea600000ea600806000000"); // width, height, depth 8, RGBA
    png += QByteArray::fromHex("80d27542");                    // its CRC
    png += QByteArray::fromHex("0000000049444154" "35af061e");  // an empty IDAT
    png += QByteArray::fromHex("0000000049454e44" "ae426082");  // IEND
    testsupport::writeFile(path, png);
    testsupport::LogCapture log;
    EXPECT_FALSE(PMImageWithContentsOfFile(path));
    EXPECT_TRUE(log.lines().join(QLatin1Char('\n')).contains(QStringLiteral("too many")));
}

TEST(ImageFolders, ScaledDecodingOfReducedCopies)
{
    const QString path = testsupport::makeTempDir(QStringLiteral("reduced")) + QStringLiteral("/a.jpg");
    ASSERT_TRUE(picture(462, 346, Qt::red)->pixels().save(path, "JPEG", 85));
    const ImagePtr image = PMImageWithContentsOfFile(path, QSize(120, 120));
    ASSERT_TRUE(image);
    EXPECT_LE(image->pixels().width(), 120);
    EXPECT_EQ(PMImageWithContentsOfFile(path)->pixels().size(), QSize(462, 346));
}

TEST(MovieRecordImages, PosterSizeAndAspectRatio)
{
    auto record = PMMovieRepresentationOriginal::movieRepresentationWithPath(QStringLiteral("/media/test/a.mov"));
    EXPECT_EQ(record->thumbnailImageAspectRatio(), -1.0);
    record->setThumbnailSizeDescription(QStringLiteral("{1920, 1080}"));
    EXPECT_DOUBLE_EQ(record->thumbnailImageAspectRatio(), 1920.0 / 1080.0);
    record->updateThumbnailSizeDescriptionWithImage(picture(300, 200, Qt::red));
    EXPECT_EQ(record->userSettings()->value(QStringLiteral("Poster Image Size")).string(), QStringLiteral("{300, 200}"));
    EXPECT_DOUBLE_EQ(record->thumbnailImageAspectRatio(), 1.5);
    record->setThumbnailSizeDescription(QString());
    EXPECT_FALSE(record->userSettings()->contains(QStringLiteral("Poster Image Size")));
    EXPECT_EQ(record->thumbnailImageAspectRatio(), -1.0);
}
