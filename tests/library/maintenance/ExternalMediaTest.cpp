// The desktop's media libraries: a provider that delivers later (as the real sources
// do), the records that keep their settings from one delivery to the next, sections that
// keep their children while their source has nothing, the blacklist, the kinds, and the
// music library's exported file.
#include "library/model/ModelFixture.h"
#include "common/TestSupport.h"

#include "library/maintenance/PMExternalMediaLibrary.h"

#include <QtCore/QFile>
#include <QtCore/QScopeGuard>
#include <QtCore/QThreadPool>
#include <QtCore/QTimer>
#include <QtTest/QTest>

#include <mutex>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using platform::Array;
using platform::ArrayPtr;
using platform::Dictionary;
using platform::DictionaryPtr;
using platform::Value;

namespace {

// Delivers what the test sets, from another thread, after the request.
class FakeProvider : public PMExternalMediaProvider {
public:
    void requestMediaObjects(const QString& source, Delivery deliver) override
    {
        ++requests;
        m_deliver = deliver;
        m_source = source;
    }
    void deliver(const ArrayPtr& objects)
    {
        std::thread([d = m_deliver, s = m_source, objects] { d(s, objects); }).join();
    }
    int requests = 0;

private:
    Delivery m_deliver;
    QString m_source;
};

DictionaryPtr mediaObject(const QString& id, const QString& path, const char* type = "movie", long long kind = 2)
{
    return Dictionary::make({{QStringLiteral("identifier"), id}, {QStringLiteral("URL"), QUrl::fromLocalFile(path).toString()},
                             {QStringLiteral("mediaType"), QString::fromLatin1(type)}, {QStringLiteral("name"), id},
                             {QStringLiteral("mediaKind"), kind}});
}

class ExternalMediaTest : public ModelTest {
protected:
    void SetUp() override
    {
        ModelTest::SetUp();
        PMExternalMediaLibrary::externalMediaLibrary().reset();
        provider = std::make_shared<FakeProvider>();
        PMExternalMediaLibrary::externalMediaLibrary().setProvider(provider);
        updates = 0;
        PMExternalMediaLibrary::externalMediaLibrary().libraryNeedsUpdate = [this] {
            ++updates;
            mainController().invalidateLibraryDependencies();
        };
    }
    void TearDown() override
    {
        PMExternalMediaLibrary::externalMediaLibrary().reset();
        PMExternalMediaLibrary::externalMediaLibrary().libraryNeedsUpdate = nullptr;
        for (const char* key : {"Blacklist", "Ignore iTunes Movies", "Import Non-Movie External Media", "External Media Kind Separation Level"})
            platform::UserDefaults::standard().removeObjectForKey(QString::fromUtf8(key));
        ModelTest::TearDown();
    }
    std::shared_ptr<FakeProvider> provider;
    int updates = 0;
};

TEST_F(ExternalMediaTest, DeliveriesBecomeRecordsThatKeepTheirSettings)
{
    PMMainController& c = mainController();
    // One kind at level 0: the records are the section's children.
    setDefault(QStringLiteral("External Media Kind Separation Level"), 0);
    library({});
    ASSERT_EQ(provider->requests, 1);
    PMLibraryContainerPtr section = c.iTunesSourceStorageSection();
    EXPECT_TRUE(section->value(QStringLiteral("External: Stale")).toBool());

    provider->deliver(Array::make({Value(mediaObject(QStringLiteral("AB12"), QStringLiteral("/media/music/a.m4v"))),
                                   Value(mediaObject(QStringLiteral("CD34"), QStringLiteral("/media/music/song.m4a"), "audio")),
                                   Value(mediaObject(QStringLiteral("EF56"), QStringLiteral("/media/black/b.m4v")))}));
    // The delivery arrives on the main thread and updates the library.
    setDefault(QStringLiteral("Blacklist"), Value(Array::make({Value(QStringLiteral("/media/black/*"))})));
    QTRY_COMPARE_WITH_TIMEOUT(updates, 1, 10000);
    EXPECT_FALSE(section->contains(QStringLiteral("External: Stale")));
    ASSERT_EQ(section->rawChildren()->count(), 1); // no audio, nothing blacklisted
    PMMovieRepresentationPrototype* record = PMMovie(section->rawChildren()->at(0));
    ASSERT_TRUE(record);
    EXPECT_EQ(record->uniqueLibraryID(), QStringLiteral("iTunesTrack-AB12"));
    EXPECT_TRUE(record->isExternalMediaItem());
    EXPECT_TRUE(c._nonProxyFilteredMovieRepresentationsByID.contains(QStringLiteral("iTunesTrack-AB12")));
    record->setRating(4);

    // The next delivery gives the same record, with its settings and its new place.
    provider->deliver(Array::make({Value(mediaObject(QStringLiteral("AB12"), QStringLiteral("/media/music/moved.m4v")))}));
    QTRY_COMPARE_WITH_TIMEOUT(updates, 2, 10000);
    ASSERT_EQ(section->rawChildren()->count(), 1);
    EXPECT_EQ(PMMovie(section->rawChildren()->at(0)), record);
    EXPECT_EQ(record->rating(), 4);
    EXPECT_EQ(record->path(), QStringLiteral("/media/music/moved.m4v"));

    // A delivery with nothing accepted leaves the section's children, marked stale.
    provider->deliver(Array::make({Value(mediaObject(QStringLiteral("CD34"), QStringLiteral("/media/music/song.m4a"), "audio"))}));
    QTRY_COMPARE_WITH_TIMEOUT(updates, 3, 10000);
    EXPECT_TRUE(section->value(QStringLiteral("External: Stale")).toBool());
    EXPECT_EQ(section->rawChildren()->count(), 1);

    // With non-movie media taken, the audio item comes too.
    setDefault(QStringLiteral("Import Non-Movie External Media"), true);
    provider->deliver(Array::make({Value(mediaObject(QStringLiteral("CD34"), QStringLiteral("/media/music/song.m4a"), "audio"))}));
    QTRY_COMPARE_WITH_TIMEOUT(updates, 4, 10000);
    EXPECT_FALSE(section->contains(QStringLiteral("External: Stale")));
    EXPECT_EQ(PMItem(section->rawChildren()->at(0))->uniqueLibraryID(), QStringLiteral("iTunesTrack-CD34"));

    // Ignored: the section empties and nothing is asked for or updated.
    setDefault(QStringLiteral("Ignore iTunes Movies"), true);
    c.invalidateLibraryDependencies();
    EXPECT_TRUE(section->rawChildren()->isEmpty());
    provider->deliver(Array::make({Value(mediaObject(QStringLiteral("AB12"), QStringLiteral("/media/music/a.m4v")))}));
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    EXPECT_EQ(updates, 4);
}

TEST_F(ExternalMediaTest, KindsBecomeCategoryContainers)
{
    PMMainController& c = mainController();
    library({});
    provider->deliver(Array::make({Value(mediaObject(QStringLiteral("A1"), QStringLiteral("/m/a.m4v"))),
                                   Value(mediaObject(QStringLiteral("B2"), QStringLiteral("/m/b.m4v"), "movie", 8))}));
    QTRY_COMPARE_WITH_TIMEOUT(updates, 1, 10000);
    PMLibraryContainerPtr section = c.iTunesSourceStorageSection();
    QStringList ids;
    for (const Value& v : *section->rawChildren())
        ids << PMItem(v)->uniqueLibraryID();
    EXPECT_EQ(ids, (QStringList{QStringLiteral("iTunesCategory-Movies"), QStringLiteral("iTunesCategory-TV Shows")}));
    EXPECT_TRUE(c._containersByID.contains(QStringLiteral("iTunesCategory-TV Shows")));
    // Only movies at level 0: the records themselves.
    setDefault(QStringLiteral("External Media Kind Separation Level"), 0);
    provider->deliver(Array::make({Value(mediaObject(QStringLiteral("A1"), QStringLiteral("/m/a.m4v")))}));
    QTRY_COMPARE_WITH_TIMEOUT(updates, 2, 10000);
    ASSERT_EQ(section->rawChildren()->count(), 1);
    EXPECT_TRUE(PMMovie(section->rawChildren()->at(0)));
}

TEST_F(ExternalMediaTest, TheMusicLibraryFileGivesItsVideoTracks)
{
    const QByteArray xml = R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0"><dict>
<key>Major Version</key><integer>1</integer>
<key>Tracks</key><dict>
  <key>101</key><dict><key>Track ID</key><integer>101</integer><key>Name</key><string>Holiday Film</string>
    <key>Persistent ID</key><string>1a2b3c4d5e6f7a8b</string><key>Has Video</key><true/><key>Movie</key><true/>
    <key>Location</key><string>file:///media/music/Holiday%20Film.m4v</string></dict>
  <key>102</key><dict><key>Track ID</key><integer>102</integer><key>Name</key><string>Episode</string>
    <key>Persistent ID</key><string>00000000000000FF</string><key>Has Video</key><true/><key>TV Show</key><true/>
    <key>Location</key><string>file:///media/music/Episode.m4v</string></dict>
  <key>103</key><dict><key>Name</key><string>Song</string><key>Persistent ID</key><string>ABC</string>
    <key>Location</key><string>file:///media/music/Song.m4a</string></dict>
  <key>104</key><dict><key>Name</key><string>Stream</string><key>Persistent ID</key><string>DEF</string></dict>
</dict></dict></plist>)";
    QString error;
    const ArrayPtr objects = PMMusicLibraryXMLProvider::mediaObjectsFromLibraryData(xml, &error);
    EXPECT_TRUE(error.isEmpty());
    ASSERT_EQ(objects->count(), 3);
    QStringList summary;
    for (const Value& v : *objects) {
        const DictionaryPtr o = v.dictionary();
        summary << o->value(QStringLiteral("identifier")).string() + u' ' + o->value(QStringLiteral("mediaType")).string() + u' '
                       + QString::number(o->value(QStringLiteral("mediaKind")).toLongLong());
    }
    summary.sort();
    EXPECT_EQ(summary, (QStringList{"00000000000000FF movie 8", "1A2B3C4D5E6F7A8B movie 2", "ABC audio 2"}));

    // Broken files give nothing, with the reason.
    EXPECT_TRUE(PMMusicLibraryXMLProvider::mediaObjectsFromLibraryData("<plist><dict><key>Tracks", &error)->isEmpty());
    EXPECT_FALSE(error.isEmpty());

    // Through the real provider, from a file named by the settings.
    const QString path = testsupport::makeTempDir(QStringLiteral("music")) + QStringLiteral("/Library.xml");
    testsupport::writeFile(path, xml);
    PMExternalMediaLibrary::externalMediaLibrary().reset();
    PMExternalMediaLibrary::externalMediaLibrary().setProvider(std::make_shared<PMMusicLibraryXMLProvider>(path));
    library({});
    QTRY_COMPARE_WITH_TIMEOUT(updates, 1, 10000);
    QStringList ids;
    for (const Value& v : *mainController().iTunesSourceStorageSection()->rawChildren())
        ids << PMItem(v)->uniqueLibraryID();
    EXPECT_EQ(ids, (QStringList{QStringLiteral("iTunesCategory-Movies"), QStringLiteral("iTunesCategory-TV Shows")}));
}

TEST_F(ExternalMediaTest, ALateAnswerOfAnOlderReadNeverReplacesANewerOne)
{
    // The library file is first a pipe that the test holds: the read started for it waits
    // until the test writes. Meanwhile an export replaces the file, the change notice starts
    // a second read, which answers first; the first read's late answer is dropped.
    const auto libraryWith = [](const QString& name) {
        return QStringLiteral(R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict><key>Tracks</key><dict>
  <key>1</key><dict><key>Name</key><string>%1</string><key>Persistent ID</key><string>%1</string><key>Has Video</key><true/>
    <key>Location</key><string>file:///media/music/%1.m4v</string></dict>
</dict></dict></plist>)").arg(name).toUtf8();
    };
    const QString dir = testsupport::makeTempDir(QStringLiteral("music-order"));
    const QString path = dir + QStringLiteral("/Library.xml");
    const QString held = dir + QStringLiteral("/held");
    ASSERT_EQ(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    ASSERT_EQ(::link(QFile::encodeName(path).constData(), QFile::encodeName(held).constData()), 0);

    // The waiting read holds a worker: the second one needs another (one processor gives one).
    QThreadPool* pool = QThreadPool::globalInstance();
    const int workers = pool->maxThreadCount();
    pool->setMaxThreadCount(std::max(workers, 2));
    const auto restore = qScopeGuard([&] { pool->setMaxThreadCount(workers); });
    // The answers outlive the test's frame: a read started by a late change notice may still
    // deliver while the test ends.
    struct Answers {
        std::mutex lock;
        QStringList names;
    };
    const auto answered = std::make_shared<Answers>();
    std::mutex& lock = answered->lock;
    QStringList& answers = answered->names;
    auto reader = std::make_shared<PMMusicLibraryXMLProvider>(path);
    reader->requestMediaObjects(kPMMusicLibrarySourceIdentifier, [answered](const QString&, const ArrayPtr& objects) {
        std::lock_guard guard(answered->lock);
        answered->names << (objects->isEmpty() ? QStringLiteral("(none)") : objects->at(0).dictionary()->value(QStringLiteral("name")).string());
    });
    // The first read is waiting at the pipe once a writer can open it.
    int pipe = -1;
    ASSERT_TRUE(testsupport::waitUntil([&] {
        pipe = ::open(QFile::encodeName(held).constData(), O_WRONLY | O_NONBLOCK);
        return pipe >= 0;
    }, 30000));

    testsupport::writeFile(dir + QStringLiteral("/export.xml"), libraryWith(QStringLiteral("NEWER")));
    ASSERT_EQ(::rename(QFile::encodeName(dir + QStringLiteral("/export.xml")).constData(), QFile::encodeName(path).constData()), 0);
    EXPECT_TRUE(testsupport::waitUntil([&] {
        QCoreApplication::processEvents();
        std::lock_guard guard(lock);
        return !answers.isEmpty();
    }, 30000));

    const QByteArray older = libraryWith(QStringLiteral("OLDER"));
    ASSERT_EQ(::write(pipe, older.constData(), size_t(older.size())), ssize_t(older.size()));
    ::close(pipe);
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::processEvents();
    // Writing to the old file, which lives on under another name, starts no read: only the
    // file now under the library's name is watched.
    reader.reset();
    QThreadPool::globalInstance()->waitForDone();
    std::lock_guard guard(lock);
    EXPECT_EQ(answers, QStringList{QStringLiteral("NEWER")});
}

} // namespace
