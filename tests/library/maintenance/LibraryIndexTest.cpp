// The library index: loading indexes written by another producer (python3's plistlib),
// saving them back unchanged, falling back to the backup when an index is damaged, and
// taking over only the library's own settings.
#include "foundation/NSString+PMHelpManagerPaths.h"
#include "foundation/PMFunctions.h"
#include "library/model/PMCachedSettings.h"
#include "library/model/PMLibraryContainer.h"
#include "library/model/PMMainController.h"
#include "library/model/PMMovieRepresentation.h"
#include "platform/Alert.h"
#include "platform/Bookmark.h"
#include "platform/Paths.h"
#include "platform/DistributedNotifications.h"
#include "platform/PropertyList.h"
#include "platform/SaveFile.h"
#include "platform/UserDefaults.h"

#include "common/TestSupport.h"

#include <QtCore/QDateTime>
#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QFileInfo>

#include <functional>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>

using platform::Value;

namespace {

// Writes a library index with python3's plistlib. `kind` chooses the fixture:
// "current" (a dictionary index of a few hundred items with every saved key),
// "array" (the older array format with ";"-separated tags and no storages).
const char* kFixtureScript = R"PY(
import plistlib, sys, os
path, kind, library = sys.argv[1], sys.argv[2], sys.argv[3]
home = os.environ["HOME"]
def tilde(p):
    return "~" + p[len(home):] if p.startswith(home + "/") else p
def movie(i, folder):
    return {"Path": tilde(f"{folder}/Movie {i:03d}.mov"), "Relative Path": f"/Movie {i:03d}.mov" if folder == library else None,
            "Bookmark": bytes([1, 2, 3, i % 256]),
            "User Settings": {"Name": f"Movie {i}", "Added Timestamp": 1700000000.0 + i, "Rating": float(i % 6),
                              "Duration": i * 10, "Unique ID": f"00000000-0000-0000-0000-{i:012d}",
                              "Tags": {"genre": {"Value": f"drama,comedy{i}"}, "notes": {"Value": "a;b"}}}}
def clean(d):
    return {k: v for k, v in d.items() if v is not None}
if kind == "current":
    movies = [clean(movie(i, library)) for i in range(200)]
    outside = [clean(movie(i, "/media/other/Films")) for i in range(200, 300)]
    web = [{"URL": "https://example.com/clip.mp4", "User Settings": {"Name": "Clip", "Added Timestamp": 1700000000.0, "Unique ID": "W-1"}}]
    folder = {"Name": "Folder", "Unique ID": "F-1", "Children": outside[:50] + web, "Group Sorting Criterion": "Name",
              "Group Sorting Direction": 1, "Subgroup Settings": {"X::a": {"Group Sorting Criterion": "Rating"}},
              "Index Sequence": 3, "Preview Width": 120.0,
              "Cover Width": 90.0, "Emancipate": True, "Hide Item Count": True, "Group Content Display Mode": 2,
              "Group Sorting Criterion: Previous": "Date Added"}
    nested = {"Name": "Nested", "Unique ID": "F-2", "Children": [{"Name": "Inner", "Unique ID": "F-3", "Children": outside[50:]}]}
    section = {"Name": "Movies", "Unique ID": "S-1", "Library Section": "Movies", "Children": movies + [folder, nested]}
    others = [{"Name": n, "Unique ID": f"S-{n}", "Library Section": n, "Children": []} for n in ("iTunes", "iPhoto", "Aperture", "Online")]
    lib = [
        {"Top Level": "Library", "Name": "Library", "Unique ID": "T-1", "Children": [section] + others},
        {"Top Level": "Temporary", "Name": "Temporary", "Unique ID": "T-2", "Children": []},
        {"Top Level": "Downloads", "Name": "Downloads", "Unique ID": "T-3"},
        {"Top Level": "Conversions", "Name": "Conversions", "Unique ID": "T-4"},
        {"Top Level": "Smart Groups", "Name": "Playlists", "Unique ID": "T-5", "Children": [
            {"Smart": True, "Name": "Recent", "Unique ID": "G-1", "Criteria": {"Query": "rating:>3", "Subdivider Tag": "genre"},
             "Flatten": True, "Continue": 1},
            {"Name": "Lists", "Unique ID": "G-2", "Smart Playlists Folder": True, "Children": [],
             "Static Proxies": ["00000000-0000-0000-0000-000000000001"]}]},
    ]
    prefs = {"Custom Size": "{800, 600}", "Library Selection": "F-1", "Expanded Library Containers": ["T-1", "S-1"],
             "Blacklist": ["~/Private/*"], "Missing Movies Mode": 2, "Persistent Tags": {"genre": "Genre"}}
    plistlib.dump({"Library": lib, "Preferences": prefs, "Version": "2"}, open(path, "wb"), fmt=plistlib.FMT_BINARY)
elif kind == "array":
    items = [{"Path": f"/media/old/Movie {i}.avi", "User Settings": {"Name": f"Old {i}", "Added Timestamp": 1600000000.0,
              "Tags": {"genre": {"Value": "drama; comedy"}, "empty": {"Value": " ; "}, "notes": {"Value": "x;y"}}}} for i in range(3)]
    items.append({"Name": "Old Folder", "Persikey": "P-1", "Children": []})
    items.append({"Smart": True, "Name": "Old Smart", "Persikey": "P-2", "Criteria": {"Subdivider Tag": "genre;year"}})
    items.append({"Name": "Playlist", "Persikey": "P-3", "Children": []})
    plistlib.dump(items, open(path, "wb"), fmt=plistlib.FMT_XML)
)PY";

// Compares the fixture with the index the program saved, item by item, with python.
const char* kCompareScript = R"PY(
import plistlib, sys
a = plistlib.load(open(sys.argv[1], "rb")); b = plistlib.load(open(sys.argv[2], "rb"))
def walk(x, y, where):
    if isinstance(x, dict):
        if not isinstance(y, dict): sys.exit(f"{where}: not a dictionary")
        if x.get("Top Level") in ("Downloads", "Conversions"): x = {k: v for k, v in x.items() if k != "Children"}
        if set(x) != set(y): sys.exit(f"{where}: keys {sorted(set(x) ^ set(y))}")
        for k in x: walk(x[k], y[k], where + "/" + k)
    elif isinstance(x, list):
        if len(x) != len(y): sys.exit(f"{where}: {len(x)} != {len(y)} items")
        for i, (p, q) in enumerate(zip(x, y)): walk(p, q, f"{where}[{i}]")
    elif x != y and not (isinstance(x, (int, float)) and isinstance(y, (int, float)) and float(x) == float(y)):
        sys.exit(f"{where}: {x!r} != {y!r}")
walk(a["Library"], b["Library"], "Library")
for k, v in a["Preferences"].items():
    if b["Preferences"].get(k) != v: sys.exit(f"Preferences/{k}")
print("same")
)PY";

// A classic alias record (version 2) as older libraries stored it: the fixed part, then
// the tagged fields, here the file's path on its volume and the volume's mount point.
QByteArray aliasRecord(const QByteArray& pathOnVolume, const QByteArray& mountPoint)
{
    QByteArray record(150, '\0');
    record[7] = 2; // version
    record[10] = 4;
    record.replace(11, 4, "Disk"); // volume name
    const auto field = [&](int tag, const QByteArray& data) {
        record.append(char(tag >> 8)).append(char(tag & 0xFF)).append(char(data.size() >> 8)).append(char(data.size() & 0xFF)).append(data);
        if (data.size() % 2)
            record.append('\0');
    };
    field(2, "Disk:Films:old.mov");
    field(18, pathOnVolume);
    field(19, mountPoint);
    field(0xFFFF, {});
    record[4] = char(record.size() >> 8);
    record[5] = char(record.size() & 0xFF);
    return record;
}

class LibraryIndexTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        mainController().resetForTesting();
        mainController()._didFinishLaunching = false;
        mainController()._shouldTerminateWithoutQuitSequence = false;
        platform::UserDefaults& defaults = platform::UserDefaults::standard();
        for (const QString& key : defaults.persistentDomain()->keys())
            defaults.removeObjectForKey(key);
        m_library = testsupport::makeTempDir(QStringLiteral("library"));
        platform::UserDefaults::standard().setObject(Value(m_library), QStringLiteral("Library Path"));
        platform::setAlertHandler([this](const platform::Alert& alert) {
            m_alerts.append(alert.messageText);
            m_alertTexts.append(alert.informativeText);
            return platform::AlertResponse{m_alertAnswer, false};
        });
    }
    void TearDown() override
    {
        platform::setAlertHandler(nullptr);
        mainController().resetForTesting();
    }
    QString indexPath() const { return m_library + QStringLiteral("/Pellis.library/Pellis.2.libraryindex"); }
    QString backupPath() const { return m_library + QStringLiteral("/Pellis.library/Pellis.2.backup.libraryindex"); }
    void writeFixture(const QString& path, const QString& kind)
    {
        QDir().mkpath(QFileInfo(path).path());
        const auto result = testsupport::runProcess(QStringLiteral("python3"), {QStringLiteral("-c"), QString::fromUtf8(kFixtureScript), path, kind, m_library});
        ASSERT_EQ(result.exitCode, 0) << result.err.toStdString();
    }
    // An index whose library holds one movie section with these saved items.
    void writeIndexWithMovies(const platform::ArrayPtr& movies)
    {
        auto section = platform::Dictionary::make({{QStringLiteral("Library Section"), QStringLiteral("Movies")}, {QStringLiteral("Children"), Value(movies)}});
        auto library = platform::Array::make({Value(platform::Dictionary::make({{QStringLiteral("Top Level"), QStringLiteral("Library")},
                                                                                {QStringLiteral("Children"), Value(platform::Array::make({Value(section)}))}}))});
        QDir().mkpath(QFileInfo(indexPath()).path());
        ASSERT_TRUE(platform::saveFile(indexPath(), platform::writeBinaryPropertyList(
                                                        Value(platform::Dictionary::make({{QStringLiteral("Library"), Value(library)},
                                                                                          {QStringLiteral("Version"), QStringLiteral("2")}}))))
                        .isEmpty());
    }
    static platform::ArrayPtr savedArray()
    {
        platform::Array saved;
        mainController().populateSaveArray(saved, mainController()._library, nullptr);
        return std::make_shared<platform::Array>(saved.values());
    }
    static QStringList damagedFiles(const QString& folder)
    {
        return QDir(folder).entryList({QStringLiteral("*.damaged-*")}, QDir::Files);
    }

    QString m_library;
    QStringList m_alerts;
    QStringList m_alertTexts;
    int m_alertAnswer = 0;
};

TEST_F(LibraryIndexTest, PlistlibIndexLoadsAndSavesBackItemByItem)
{
    writeFixture(indexPath(), QStringLiteral("current"));
    const QString fixtureCopy = testsupport::makeTempDir() + QStringLiteral("/fixture.plist");
    ASSERT_TRUE(QFile::copy(indexPath(), fixtureCopy));
    PMMainController& controller = mainController();
    controller.loadLibrary();

    ASSERT_EQ(controller._library->count(), 5);
    EXPECT_EQ(controller._nonProxyRawMovieRepresentationsByID.size(), 301);
    ASSERT_TRUE(controller._containersByID.value(QStringLiteral("F-3")));
    EXPECT_EQ(controller.downloadStorage()->rawChildren()->count(), 0);
    EXPECT_EQ(platform::UserDefaults::standard().stringForKey(QStringLiteral("Custom Size")), QStringLiteral("{800, 600}"));
    EXPECT_EQ(platform::UserDefaults::standard().integerForKey(QStringLiteral("Missing Movies Mode")), 2);

    const platform::ArrayPtr first = savedArray();
    // As at start-up, the saved selection is selected again (and saved again).
    controller.setLibrarySelectionFromUserDefaultsOrSelectFirstLibraryItem();
    ASSERT_TRUE(controller.selectedContainer());
    EXPECT_EQ(controller.selectedContainer()->uniqueLibraryID(), QStringLiteral("F-1"));
    ASSERT_TRUE(controller.saveLibrary());
    // The program's own file, read by python, holds what the python file held.
    const auto compared = testsupport::runProcess(QStringLiteral("python3"), {QStringLiteral("-c"), QString::fromUtf8(kCompareScript), fixtureCopy, indexPath()});
    EXPECT_EQ(compared.exitCode, 0) << compared.err.toStdString() << compared.out.toStdString();

    // load(save(x)) == x, item by item.
    controller.resetForTesting();
    controller.loadLibrary();
    const platform::ArrayPtr second = savedArray();
    ASSERT_EQ(first->count(), second->count());
    for (qsizetype i = 0; i < first->count(); ++i)
        EXPECT_EQ(first->at(i), second->at(i)) << "top-level item " << i;
}

TEST_F(LibraryIndexTest, NamesThatAreNotUTF8KeepTheirBytesInAnIndexOtherReadersAccept)
{
    // Latin-1 names, one in the library folder and one outside it, as old file systems
    // and archives leave them.
    const QString outside = testsupport::makeTempDir(QStringLiteral("outside"));
    const QList<QByteArray> files = {QFile::encodeName(m_library) + "/caf\xe9 \xff.mov", QFile::encodeName(outside) + "/\xe9t\xe9.mov"};
    for (const QByteArray& file : files) {
        const int fd = ::open(file.constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
        ASSERT_GE(fd, 0) << file.constData();
        ::close(fd);
    }
    const auto recordsBytes = [] {
        QList<QByteArray> bytes;
        for (const auto& record : std::as_const(mainController()._nonProxyRawMovieRepresentationsByID))
            bytes << platform::encodeFileName(record->path());
        std::sort(bytes.begin(), bytes.end());
        return bytes;
    };
    // The older form: the bytes as lone surrogates in the texts.
    const QString inLibrary = platform::decodeFileName(files[0]);
    const QString elsewhere = platform::decodeFileName(files[1]);
    ASSERT_TRUE(inLibrary.contains(QChar(0xDCE9)));
    writeIndexWithMovies(platform::Array::make(
        {Value(platform::Dictionary::make({{QStringLiteral("Path"), inLibrary}, {QStringLiteral("Relative Path"), inLibrary.mid(m_library.size())}})),
         Value(platform::Dictionary::make({{QStringLiteral("Path"), elsewhere}}))}));
    PMMainController& controller = mainController();
    controller.loadLibrary();
    EXPECT_EQ(recordsBytes(), files);

    // Saved, the index is one that python's strict reader takes whole, with the readable
    // text and the exact bytes of each path.
    ASSERT_TRUE(controller.saveLibrary());
    const char* script = R"PY(
import plistlib, sys
found = []
def walk(x):
    if isinstance(x, dict):
        for key in ("Path", "Relative Path"):
            if key + " Data" in x:
                assert "\ufffd" in x[key], x[key]
                found.append(x[key + " Data"].hex())
        for v in x.values(): walk(v)
    elif isinstance(x, list):
        for v in x: walk(v)
walk(plistlib.load(open(sys.argv[1], "rb")))
print(" ".join(sorted(found)))
)PY";
    const auto read = testsupport::runProcess(QStringLiteral("python3"), {QStringLiteral("-c"), QString::fromUtf8(script), indexPath()});
    ASSERT_EQ(read.exitCode, 0) << read.err.toStdString();
    // ("Path" is written with the home folder as "~".)
    const auto savedHex = [](const QByteArray& file) {
        return QString::fromLatin1(platform::encodeFileName(platform::stringByAbbreviatingWithTildeInPath(platform::decodeFileName(file))).toHex());
    };
    QStringList expected = {savedHex(files[0]), savedHex(files[1]), QString::fromLatin1(files[0].mid(QFile::encodeName(m_library).size()).toHex())};
    expected.sort();
    EXPECT_EQ(QString::fromUtf8(read.out).trimmed(), expected.join(u' '));

    // And it loads back with the same bytes.
    controller.resetForTesting();
    controller.loadLibrary();
    EXPECT_EQ(recordsBytes(), files);
}

namespace {

// The load looks for no file that is not where the index says: that is left to a search
// once the window shows. Runs it and waits for its answers.
bool searchForMissingFiles(PMMainController& controller)
{
    controller.searchForMissingFilesInBackground();
    return testsupport::waitUntil([&] { return !controller.isSearchingForMissingFiles(); }, 30000);
}

} // namespace

TEST_F(LibraryIndexTest, LoadFindsFilesThatMovedAndKeepsSavedIdentities)
{
    // The library folder was moved here from elsewhere; one file was renamed after its
    // bookmark was made; one is gone.
    const QString elsewhere = testsupport::makeTempDir(QStringLiteral("elsewhere"));
    testsupport::writeFile(m_library + QStringLiteral("/Films/moved.mov"), "1");
    testsupport::writeFile(m_library + QStringLiteral("/both.mov"), "2");
    testsupport::writeFile(elsewhere + QStringLiteral("/both.mov"), "2");
    testsupport::writeFile(elsewhere + QStringLiteral("/renamed.mov"), "3");
    const QByteArray bookmark = PMBookmarkDataFromPath(elsewhere + QStringLiteral("/renamed.mov"));
    ASSERT_FALSE(bookmark.isEmpty());
    ASSERT_TRUE(QFile::rename(elsewhere + QStringLiteral("/renamed.mov"), elsewhere + QStringLiteral("/new name.mov")));

    struct Case {
        const char* why;
        QString path, relativePath;
        QByteArray bookmark;
        QString expected;
        bool missing;
    };
    const Case cases[] = {
        {"library folder moved", QStringLiteral("/old/Library/Films/moved.mov"), QStringLiteral("/Films/moved.mov"), {},
         m_library + QStringLiteral("/Films/moved.mov"), false},
        {"the library folder's copy wins", elsewhere + QStringLiteral("/both.mov"), QStringLiteral("/both.mov"), {},
         m_library + QStringLiteral("/both.mov"), false},
        {"renamed, found by bookmark", elsewhere + QStringLiteral("/renamed.mov"), QString(), bookmark,
         elsewhere + QStringLiteral("/new name.mov"), false},
        {"gone", elsewhere + QStringLiteral("/gone.mov"), QString(), {}, elsewhere + QStringLiteral("/gone.mov"), true},
        // The older format's alias record, read for the path it holds.
        {"older alias record", elsewhere + QStringLiteral("/before.mov"), QString(),
         aliasRecord(QFile::encodeName(elsewhere + QStringLiteral("/aliased.mov")), "/"),
         elsewhere + QStringLiteral("/aliased.mov"), false},
        {"damaged alias record", elsewhere + QStringLiteral("/kept.mov"), QString(), QByteArray::fromHex("0000000000120002") + "junk",
         elsewhere + QStringLiteral("/kept.mov"), false},
        // A relative path that climbs out of the library folder is no place in it.
        {"relative path out of the library folder", m_library + QStringLiteral("/inside.mov"),
         QStringLiteral("/../") + QFileInfo(elsewhere).fileName() + QStringLiteral("/both.mov"), {}, m_library + QStringLiteral("/inside.mov"), false},
    };
    testsupport::writeFile(elsewhere + QStringLiteral("/aliased.mov"), "4");
    testsupport::writeFile(elsewhere + QStringLiteral("/kept.mov"), "5");
    testsupport::writeFile(m_library + QStringLiteral("/inside.mov"), "6");
    testsupport::LogCapture log;
    auto movies = platform::Array::make();
    for (int i = 0; i < int(std::size(cases)); ++i) {
        auto saved = platform::Dictionary::make({{QStringLiteral("Path"), cases[i].path},
                                                 {QStringLiteral("User Settings"),
                                                  Value(platform::Dictionary::make({{QStringLiteral("Unique ID"), QStringLiteral("ID-%1").arg(i)},
                                                                                    {QStringLiteral("Added Timestamp"), 1700000000.0 + i}}))}});
        if (!cases[i].relativePath.isEmpty())
            saved->setValue(QStringLiteral("Relative Path"), cases[i].relativePath);
        if (!cases[i].bookmark.isEmpty())
            saved->setValue(QString::fromUtf8(QByteArray(cases[i].why).contains("alias") ? "Alias" : "Bookmark"), cases[i].bookmark);
        movies->append(Value(saved));
    }
    ASSERT_NO_FATAL_FAILURE(writeIndexWithMovies(movies));

    PMMainController& controller = mainController();
    controller.loadLibrary();
    // The renamed file is not looked for by the load: shown missing at its stored path.
    const PMMovieRepresentationOriginalPtr renamed = controller._nonProxyRawMovieRepresentationsByID.value(QStringLiteral("ID-2"));
    ASSERT_TRUE(renamed);
    EXPECT_EQ(renamed->path(), elsewhere + QStringLiteral("/renamed.mov"));
    EXPECT_TRUE(renamed->isMissing());
    EXPECT_TRUE(controller.isSearchingForMissingFiles());
    ASSERT_TRUE(searchForMissingFiles(controller));
    for (int i = 0; i < int(std::size(cases)); ++i) {
        SCOPED_TRACE(cases[i].why);
        const PMMovieRepresentationOriginalPtr record = controller._nonProxyRawMovieRepresentationsByID.value(QStringLiteral("ID-%1").arg(i));
        ASSERT_TRUE(record);
        EXPECT_EQ(record->path(), cases[i].expected);
        EXPECT_EQ(record->isMissing(), cases[i].missing);
        EXPECT_EQ(controller._nonProxyRawMovieRepresentationsByPath.value(cases[i].expected), record);
        EXPECT_EQ(record->userSettings()->value(QStringLiteral("Added Timestamp")).toDouble(), 1700000000.0 + i);
    }
    EXPECT_EQ(log.lines().filter(QStringLiteral("cannot read alias of <") + elsewhere + QStringLiteral("/kept.mov>")).size(), 1);
}

TEST_F(LibraryIndexTest, FilesOfAMovedFolderAreLookedForOncePerFolder)
{
    // Thirty bookmarked movies whose folder was renamed before the load, and again before a
    // rebuild: each finds them all while reading every folder once, not once per movie.
    const QString base = testsupport::makeTempDir(QStringLiteral("moved-folder"));
    const auto moviePath = [&](const QString& top, int i) { return base + QStringLiteral("/%1/Folder %2/Movie %3.mov").arg(top).arg(i % 3).arg(i); };
    auto movies = platform::Array::make();
    for (int i = 0; i < 30; ++i) {
        testsupport::writeFile(moviePath(QStringLiteral("Movies"), i), QByteArray::number(i));
        movies->append(Value(platform::Dictionary::make(
            {{QStringLiteral("Path"), moviePath(QStringLiteral("Movies"), i)},
             {QStringLiteral("Bookmark"), PMBookmarkDataFromPath(moviePath(QStringLiteral("Movies"), i))},
             // As if in a library folder that moved: the load looks for them itself.
             {QStringLiteral("Relative Path"), QStringLiteral("/Folder %1/Movie %2.mov").arg(i % 3).arg(i)},
             {QStringLiteral("User Settings"), Value(platform::Dictionary::make({{QStringLiteral("Unique ID"), QStringLiteral("ID-%1").arg(i)}}))}})));
    }
    ASSERT_NO_FATAL_FAILURE(writeIndexWithMovies(movies));
    PMMainController& controller = mainController();
    const auto expectAllIn = [&](const QString& top) {
        for (int i = 0; i < 30; ++i) {
            const PMMovieRepresentationOriginalPtr record = controller._nonProxyRawMovieRepresentationsByID.value(QStringLiteral("ID-%1").arg(i));
            ASSERT_TRUE(record);
            EXPECT_EQ(controller._nonProxyRawMovieRepresentationsByPath.value(moviePath(top, i)), record);
            EXPECT_FALSE(record->isMissing());
        }
    };

    ASSERT_TRUE(QDir().rename(base + QStringLiteral("/Movies"), base + QStringLiteral("/Films")));
    quint64 before = platform::bookmarkSearchFolderReads();
    controller.loadLibrary();
    // The load itself searched no folder: every record is where the index said, missing.
    EXPECT_EQ(platform::bookmarkSearchFolderReads() - before, 0u);
    for (int i = 0; i < 30; ++i) {
        const PMMovieRepresentationOriginalPtr record = controller._nonProxyRawMovieRepresentationsByID.value(QStringLiteral("ID-%1").arg(i));
        ASSERT_TRUE(record);
        EXPECT_EQ(record->path(), moviePath(QStringLiteral("Movies"), i));
        EXPECT_TRUE(record->isMissing());
    }
    // A save meanwhile writes every record where the index had it.
    {
        QStringList savedPaths;
        std::function<void(const platform::ArrayPtr&)> collect = [&](const platform::ArrayPtr& items) {
            for (const Value& v : *items)
                if (v.isDictionary()) {
                    if (const Value path = v.dictionary()->value(QStringLiteral("Path")); path.isString())
                        savedPaths << platform::stringByExpandingTildeInPath(path.string());
                    if (const Value children = v.dictionary()->value(QStringLiteral("Children")); children.isArray())
                        collect(children.array());
                }
        };
        collect(savedArray());
        ASSERT_EQ(savedPaths.size(), 30);
        for (int i = 0; i < 30; ++i)
            EXPECT_TRUE(savedPaths.contains(moviePath(QStringLiteral("Movies"), i))) << i;
    }
    ASSERT_TRUE(searchForMissingFiles(controller));
    // The test's folder, the renamed one and its three folders.
    EXPECT_GT(controller._missingFileSearchFolderReads, 0u);
    EXPECT_LE(controller._missingFileSearchFolderReads, 5u);
    expectAllIn(QStringLiteral("Films"));

    ASSERT_TRUE(QDir().rename(base + QStringLiteral("/Films"), base + QStringLiteral("/Cinema")));
    platform::UserDefaults::standard().setBool(true, QStringLiteral("Always Update Missing Status On Invalidation"));
    before = platform::bookmarkSearchFolderReads();
    controller.invalidateLibraryDependencies();
    EXPECT_GT(platform::bookmarkSearchFolderReads() - before, 0u);
    EXPECT_LE(platform::bookmarkSearchFolderReads() - before, 5u);
    expectAllIn(QStringLiteral("Cinema"));
}

TEST_F(LibraryIndexTest, AtStartUpFilesAreTestedByTheSearchNotByTheLoad)
{
    // Files present, gone, on a volume that is away, and renamed after their bookmark was
    // made. With movies whose files are missing hidden, each shows until the search has
    // tested it: the load itself asks the disk about no file on the main thread.
    const QString dir = testsupport::makeTempDir(QStringLiteral("startup-tests"));
    testsupport::writeFile(dir + QStringLiteral("/here.mov"), "1");
    testsupport::writeFile(dir + QStringLiteral("/renamed.mov"), "2");
    const QByteArray bookmark = PMBookmarkDataFromPath(dir + QStringLiteral("/renamed.mov"));
    ASSERT_FALSE(bookmark.isEmpty());
    ASSERT_TRUE(QFile::rename(dir + QStringLiteral("/renamed.mov"), dir + QStringLiteral("/new name.mov")));
    struct Case {
        const char* why;
        QString path;
        QByteArray bookmark;
        QString expected;
        bool missing, volumeMissing;
    };
    const Case cases[] = {
        {"present", dir + QStringLiteral("/here.mov"), {}, dir + QStringLiteral("/here.mov"), false, false},
        {"gone", dir + QStringLiteral("/gone.mov"), {}, dir + QStringLiteral("/gone.mov"), true, false},
        {"volume away", QStringLiteral("/mnt/pellis-volume-that-is-away/a.mov"), {}, QStringLiteral("/mnt/pellis-volume-that-is-away/a.mov"), true, true},
        {"renamed, found by bookmark", dir + QStringLiteral("/renamed.mov"), bookmark, dir + QStringLiteral("/new name.mov"), false, false},
    };
    auto movies = platform::Array::make();
    for (int i = 0; i < int(std::size(cases)); ++i) {
        auto saved = platform::Dictionary::make(
            {{QStringLiteral("Path"), cases[i].path},
             {QStringLiteral("User Settings"), Value(platform::Dictionary::make({{QStringLiteral("Unique ID"), QStringLiteral("ID-%1").arg(i)}}))}});
        if (!cases[i].bookmark.isEmpty())
            saved->setValue(QStringLiteral("Bookmark"), cases[i].bookmark);
        movies->append(Value(saved));
    }
    ASSERT_NO_FATAL_FAILURE(writeIndexWithMovies(movies));
    platform::UserDefaults::standard().setInteger(-1, QStringLiteral("Missing Movies Mode"));
    // Nor does it start reading any file's metadata.
    platform::UserDefaults::standard().setBool(true, QStringLiteral("Import Metadata: Internal"));
    auto& importTagNames = PMMovieRepresentationServices::shared().importTagNames;
    const auto importTagNamesBefore = importTagNames;
    importTagNames = [] { return QStringList{QStringLiteral("Album")}; };

    PMMainController& controller = mainController();
    const quint64 testsBefore = fileExistenceTestsOnThisThread();
    controller._launchDefersExistenceTests = true;
    controller.loadLibrary();
    controller._launchDefersExistenceTests = false;
    // A rebuild before the window shows does not test them either.
    controller.invalidateLibraryDependencies();
    EXPECT_EQ(fileExistenceTestsOnThisThread(), testsBefore);
    EXPECT_TRUE(controller.isSearchingForMissingFiles());
    for (int i = 0; i < int(std::size(cases)); ++i) {
        SCOPED_TRACE(cases[i].why);
        const PMMovieRepresentationOriginalPtr record = controller._nonProxyRawMovieRepresentationsByID.value(QStringLiteral("ID-%1").arg(i));
        ASSERT_TRUE(record);
        EXPECT_FALSE(record->isMissing());
        EXPECT_TRUE(controller._nonProxyFilteredMovieRepresentationsByID.contains(QStringLiteral("ID-%1").arg(i)));
        EXPECT_FALSE(record->hasAttemptedToCacheRawFileMetadataTagsAtLeastOnce());
    }
    importTagNames = importTagNamesBefore;

    ASSERT_TRUE(searchForMissingFiles(controller));
    for (int i = 0; i < int(std::size(cases)); ++i) {
        SCOPED_TRACE(cases[i].why);
        const PMMovieRepresentationOriginalPtr record = controller._nonProxyRawMovieRepresentationsByID.value(QStringLiteral("ID-%1").arg(i));
        ASSERT_TRUE(record);
        EXPECT_EQ(record->path(), cases[i].expected);
        EXPECT_EQ(record->isMissing(), cases[i].missing);
        EXPECT_EQ(record->isMissingVolume(), cases[i].volumeMissing);
        EXPECT_EQ(controller._nonProxyFilteredMovieRepresentationsByID.contains(QStringLiteral("ID-%1").arg(i)), !cases[i].missing);
    }
    // From now on the rebuilds test the files themselves again.
    testsupport::writeFile(dir + QStringLiteral("/gone.mov"), "3");
    controller._skipMissingStatusUpdate = false;
    controller.invalidateLibraryDependencies();
    EXPECT_FALSE(controller._nonProxyRawMovieRepresentationsByID.value(QStringLiteral("ID-1"))->isMissing());
    EXPECT_FALSE(controller.isSearchingForMissingFiles());
}

TEST_F(LibraryIndexTest, LibraryFromTheSettingsIsLoadedWithoutChangingTheSettings)
{
    // Without an index, start-up falls back to a library kept in the settings; the records
    // get settings of their own, and the stored library stays as it was.
    auto tags = platform::Dictionary::make({{QStringLiteral("genre"), Value(platform::Dictionary::make({{QStringLiteral("Value"), QStringLiteral("a;b")}}))}});
    auto settings = platform::Dictionary::make({{QStringLiteral("Unique ID"), QStringLiteral("KEPT")}, {QStringLiteral("Tags"), Value(tags)}});
    auto stored = platform::Array::make({Value(platform::Dictionary::make({{QStringLiteral("Path"), QStringLiteral("/media/kept/a.mov")},
                                                                           {QStringLiteral("User Settings"), Value(settings)}}))});
    platform::UserDefaults::standard().setObject(Value(stored), QStringLiteral("Library"));
    auto storedSettings = [] {
        const platform::ArrayPtr library = platform::UserDefaults::standard().arrayForKey(QStringLiteral("Library"));
        return library && !library->isEmpty() ? library->at(0).dictionary()->value(QStringLiteral("User Settings")).dictionary() : nullptr;
    };

    PMMainController& controller = mainController();
    controller.loadLibrary();
    const PMMovieRepresentationOriginalPtr record = controller._nonProxyRawMovieRepresentationsByID.value(QStringLiteral("KEPT"));
    ASSERT_TRUE(record);
    // The older format's tags are converted for the record only.
    EXPECT_EQ(record->userSettings()->value(QStringLiteral("Tags")).dictionary()->value(QStringLiteral("genre")).dictionary()->value(QStringLiteral("Value")).string(),
              QStringLiteral("a, b"));
    record->userSettings()->setValue(QStringLiteral("Rating"), 5.0);
    const platform::DictionaryPtr after = storedSettings();
    ASSERT_TRUE(after);
    EXPECT_FALSE(after->contains(QStringLiteral("Rating")));
    EXPECT_EQ(after->value(QStringLiteral("Unique ID")).string(), QStringLiteral("KEPT"));
    EXPECT_EQ(after->value(QStringLiteral("Tags")).dictionary()->value(QStringLiteral("genre")).dictionary()->value(QStringLiteral("Value")).string(),
              QStringLiteral("a;b"));
}

TEST_F(LibraryIndexTest, OlderArrayIndexIsRebuiltWithStoragesAndCSVTags)
{
    writeFixture(m_library + QStringLiteral("/Pellis.library/Quentor.libraryindex"), QStringLiteral("array"));
    PMMainController& controller = mainController();
    controller.loadLibrary();

    QStringList roles;
    for (const Value& v : *controller._library)
        roles << PMContainer(v)->topLevelRole();
    EXPECT_EQ(roles, (QStringList{QStringLiteral("Library"), QStringLiteral("Temporary"), QStringLiteral("iTunes"), QStringLiteral("iPhoto"),
                                  QStringLiteral("Downloads"), QStringLiteral("Smart Groups")}));
    EXPECT_EQ(PMContainer(controller._library->at(1))->value(QStringLiteral("Name")).string(), QStringLiteral("Playlist"));
    // The smart group left the tree for the playlists storage; "Persikey" became the ID.
    const PMLibraryContainerPtr smart = controller._containersByID.value(QStringLiteral("P-2"));
    ASSERT_TRUE(smart);
    EXPECT_EQ(controller.topLevelAncestorOfItem(Value(smart))->topLevelRole(), QStringLiteral("Smart Groups"));
    EXPECT_EQ(smart->value(QStringLiteral("Criteria")).dictionary()->value(QStringLiteral("Subdivider Tag")).string(), QStringLiteral("genre, year"));
    EXPECT_TRUE(controller._containersByID.value(QStringLiteral("P-1")));

    auto record = controller._nonProxyRawMovieRepresentationsByPath.values().value(0);
    ASSERT_TRUE(record);
    const platform::DictionaryPtr tags = record->userSettings()->value(QStringLiteral("Tags")).dictionary();
    ASSERT_TRUE(tags);
    EXPECT_EQ(tags->value(QStringLiteral("genre")).dictionary()->value(QStringLiteral("Value")).string(), QStringLiteral("drama, comedy"));
    EXPECT_FALSE(tags->contains(QStringLiteral("empty")));
    EXPECT_EQ(tags->value(QStringLiteral("notes")).dictionary()->value(QStringLiteral("Value")).string(), QStringLiteral("x;y"));
}

TEST_F(LibraryIndexTest, DamagedIndexLoadsFromBackupAndIsKeptAside)
{
    struct Case {
        const char* name;
        std::function<void(QByteArray&)> damage;
    };
    const Case cases[] = {
        {"truncated", [](QByteArray& b) { b.truncate(b.size() / 2); }},
        // The trailer's offset of the offset table: a flipped high bit points far outside.
        {"bit-flipped", [](QByteArray& b) { b[b.size() - 8] = char(b[b.size() - 8] ^ 0x40); }},
        {"not a library", [](QByteArray& b) { b = platform::writeBinaryPropertyList(Value(QStringLiteral("hello"))); }},
        // One bit flipped in the trailer's top-object field, so that the top is an inner
        // array: it looks like an index of the older format but is a damaged one.
        {"top object an inner array", [](QByteArray& b) {
             const QByteArray good = b;
             for (int bit = 0; bit < 16; ++bit) {
                 b = good;
                 b[b.size() - 9 - bit / 8] = char(b[b.size() - 9 - bit / 8] ^ (1 << (bit % 8)));
                 const Value top = platform::readBinaryPropertyList(b, nullptr);
                 if (top.isArray() && !top.array()->isEmpty())
                     return;
             }
             FAIL() << "no single-bit flip of the top object gives an array";
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QDir(m_library + QStringLiteral("/Pellis.library")).removeRecursively();
        writeFixture(indexPath(), QStringLiteral("current"));
        ASSERT_TRUE(QFile::copy(indexPath(), backupPath()));
        QByteArray bytes = testsupport::readFile(indexPath());
        const QByteArray good = bytes;
        c.damage(bytes);
        testsupport::writeFile(indexPath(), bytes);

        mainController().resetForTesting();
        mainController().loadLibrary();
        EXPECT_EQ(mainController()._nonProxyRawMovieRepresentationsByID.size(), 301);
        const QStringList damaged = damagedFiles(m_library + QStringLiteral("/Pellis.library"));
        ASSERT_EQ(damaged.size(), 1);
        EXPECT_EQ(testsupport::readFile(m_library + QStringLiteral("/Pellis.library/") + damaged.first()), bytes);
        EXPECT_EQ(testsupport::readFile(backupPath()), good) << "the backup is never taken from a damaged index";
        // The next save writes a whole index again.
        ASSERT_TRUE(mainController().saveLibrary());
        EXPECT_TRUE(platform::readPropertyListFile(indexPath()).ok());
    }
}

TEST_F(LibraryIndexTest, DamagedIndexWithoutBackupIsReportedAndOlderSettingsAreRead)
{
    // The index cannot be read and there is no backup: the library starts empty, the
    // user is told where the damaged file went, and the settings files of older versions
    // are still applied.
    writeFixture(indexPath(), QStringLiteral("current"));
    QByteArray bytes = testsupport::readFile(indexPath());
    bytes.truncate(bytes.size() / 2);
    testsupport::writeFile(indexPath(), bytes);
    testsupport::writeFile(m_library + QStringLiteral("/Pellis.library/Preferences/Window.PLIST"),
                           platform::writeXMLPropertyList(Value(platform::Dictionary::make({{QStringLiteral("Preview Layout"), 3}}))));

    mainController().loadLibrary();
    EXPECT_TRUE(mainController()._nonProxyRawMovieRepresentationsByID.isEmpty());
    EXPECT_TRUE(mainController().existingSourceStorage());
    const QStringList damaged = damagedFiles(m_library + QStringLiteral("/Pellis.library"));
    ASSERT_EQ(damaged.size(), 1);
    ASSERT_EQ(m_alerts.size(), 1);
    EXPECT_TRUE(m_alertTexts.value(0).contains(damaged.first())) << m_alertTexts.value(0).toStdString();
    EXPECT_EQ(platform::UserDefaults::standard().integerForKey(QStringLiteral("Preview Layout")), 3);
}

TEST_F(LibraryIndexTest, LeftoversOfAnInterruptedSaveAreRemoved)
{
    // A save killed while it wrote leaves its temporary file; the next load removes it and
    // only it.
    writeFixture(indexPath(), QStringLiteral("current"));
    const QString folder = m_library + QStringLiteral("/Pellis.library/");
    const QStringList leftovers = {QStringLiteral(".Pellis.2.libraryindex.aZ09xQ"), QStringLiteral(".Pellis.2.backup.libraryindex.Q1w2E3")};
    const QStringList others = {QStringLiteral(".Pellis.2.libraryindex.aZ09xQ7"), QStringLiteral(".Pellis.2.libraryindex.a-09xQ"),
                                QStringLiteral("Pellis.2.libraryindex.aZ09xQ"), QStringLiteral(".Pellis.libraryindex.aZ09xQ"),
                                QStringLiteral("notes.txt")};
    for (const QString& name : leftovers + others)
        testsupport::writeFile(folder + name, QByteArray(4096, 'x'));
    QDir().mkpath(folder + QStringLiteral(".Pellis.2.libraryindex.folder"));

    mainController().loadLibrary();
    EXPECT_EQ(mainController()._nonProxyRawMovieRepresentationsByID.size(), 301);
    for (const QString& name : leftovers)
        EXPECT_FALSE(QFileInfo::exists(folder + name)) << name.toStdString();
    for (const QString& name : others)
        EXPECT_TRUE(QFileInfo::exists(folder + name)) << name.toStdString();
    EXPECT_TRUE(QFileInfo(folder + QStringLiteral(".Pellis.2.libraryindex.folder")).isDir());
}

TEST_F(LibraryIndexTest, BackupIsRefreshedOnlyWhenOlderThanAnHour)
{
    for (int minutes : {59, 61}) {
        SCOPED_TRACE(minutes);
        writeFixture(indexPath(), QStringLiteral("current"));
        testsupport::writeFile(backupPath(), "old backup");
        QFile backup(backupPath());
        ASSERT_TRUE(backup.open(QIODevice::ReadWrite));
        ASSERT_TRUE(backup.setFileTime(QDateTime::currentDateTime().addSecs(-60 * minutes), QFileDevice::FileModificationTime));
        backup.close();
        mainController().loadLibrary();
        if (minutes < 60)
            EXPECT_EQ(testsupport::readFile(backupPath()), QByteArray("old backup"));
        else
            EXPECT_EQ(testsupport::readFile(backupPath()), testsupport::readFile(indexPath()));
    }
}

TEST_F(LibraryIndexTest, LoadingTheBackupItselfNeverRewritesIt)
{
    // No current index, and a backup old enough to be refreshed if it were another file.
    writeFixture(backupPath(), QStringLiteral("current"));
    const QByteArray before = testsupport::readFile(backupPath());
    const QDateTime twoHoursAgo = QDateTime::currentDateTime().addSecs(-7200);
    {
        QFile backup(backupPath());
        ASSERT_TRUE(backup.open(QIODevice::ReadWrite));
        ASSERT_TRUE(backup.setFileTime(twoHoursAgo, QFileDevice::FileModificationTime));
    }
    mainController().loadLibrary();
    EXPECT_EQ(mainController()._nonProxyRawMovieRepresentationsByID.size(), 301);
    EXPECT_EQ(testsupport::readFile(backupPath()), before);
    EXPECT_LE(QFileInfo(backupPath()).lastModified(), twoHoursAgo.addSecs(1));
    EXPECT_FALSE(QFileInfo::exists(indexPath()));
}

TEST_F(LibraryIndexTest, DownloadsAndConversionsLoadEmpty)
{
    // Their contents are made again by the program: children saved for them are dropped.
    auto saved = [](const char* name, const char* id) {
        return Value(platform::Dictionary::make({{QStringLiteral("Path"), QStringLiteral("/media/x/%1.mov").arg(QString::fromUtf8(name))},
            {QStringLiteral("User Settings"), Value(platform::Dictionary::make({{QStringLiteral("Name"), QString::fromUtf8(name)},
                                                   {QStringLiteral("Unique ID"), QString::fromUtf8(id)}}))}}));
    };
    auto storage = [](const char* role, platform::ArrayPtr children) {
        return Value(platform::Dictionary::make({{QStringLiteral("Top Level"), QString::fromUtf8(role)}, {QStringLiteral("Name"), QString::fromUtf8(role)},
            {QStringLiteral("Children"), Value(std::move(children))}}));
    };
    auto section = platform::Dictionary::make({{QStringLiteral("Library Section"), QStringLiteral("Movies")},
        {QStringLiteral("Children"), Value(platform::Array::make({saved("Kept", "K-1")}))}});
    auto library = platform::Array::make({storage("Library", platform::Array::make({Value(section)})),
        storage("Downloads", platform::Array::make({saved("Downloaded", "D-1")})), storage("Conversions", platform::Array::make({saved("Converted", "C-1")}))});
    QDir().mkpath(QFileInfo(indexPath()).path());
    ASSERT_TRUE(platform::saveFile(indexPath(), platform::writeBinaryPropertyList(Value(platform::Dictionary::make(
                                                    {{QStringLiteral("Library"), Value(library)}, {QStringLiteral("Version"), QStringLiteral("2")}}))))
                    .isEmpty());
    mainController().loadLibrary();
    for (const char* role : {"Downloads", "Conversions"}) {
        const PMLibraryContainerPtr loaded = mainController().storageWithName(QString::fromUtf8(role), nullptr, false);
        ASSERT_TRUE(loaded) << role;
        EXPECT_TRUE(loaded->rawChildren()->isEmpty()) << role;
    }
    EXPECT_TRUE(mainController()._nonProxyRawMovieRepresentationsByID.contains(QStringLiteral("K-1")));
    EXPECT_FALSE(mainController()._nonProxyRawMovieRepresentationsByID.contains(QStringLiteral("D-1")));
    EXPECT_FALSE(mainController()._nonProxyRawMovieRepresentationsByID.contains(QStringLiteral("C-1")));
}

TEST_F(LibraryIndexTest, IndexPlantsOnlyTheLibrarysOwnSettings)
{
    const QString marker = testsupport::makeTempDir() + QStringLiteral("/ran");
    const QString script = testsupport::makeTempDir() + QStringLiteral("/script.sh");
    testsupport::writeFile(script, QStringLiteral("#!/bin/sh\ntouch '%1'\n").arg(marker).toUtf8());
    QFile::setPermissions(script, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);

    auto preferences = platform::Dictionary::make({
        {QStringLiteral("Termination Scripts"), script},
        {QStringLiteral("Pre-Startup Scripts"), platform::Array::make({Value(script)})},
        {QStringLiteral("Viewer Rules"), QStringLiteral("[]")},
        {QStringLiteral("Custom Size"), platform::Array::make({Value(1)})}, // wrong type
        {QStringLiteral("Preview Layout"), 2},
        {QStringLiteral("Blacklist"), platform::Array::make({Value(QStringLiteral("~/a")), Value(3)})}, // not all texts
        {QStringLiteral("Whitelist"), platform::Array::make({Value(QStringLiteral("mov"))})},
    });
    auto index = platform::Dictionary::make({{QStringLiteral("Library"), platform::Array::make()},
                                             {QStringLiteral("Preferences"), Value(preferences)},
                                             {QStringLiteral("Version"), QStringLiteral("2")}});
    testsupport::writeFile(indexPath(), platform::writeBinaryPropertyList(Value(index)));
    mainController().loadLibrary();

    platform::UserDefaults& defaults = platform::UserDefaults::standard();
    EXPECT_TRUE(defaults.objectForKey(QStringLiteral("Termination Scripts")).isNull());
    EXPECT_TRUE(defaults.objectForKey(QStringLiteral("Pre-Startup Scripts")).isNull());
    EXPECT_TRUE(defaults.objectForKey(QStringLiteral("Viewer Rules")).isNull());
    EXPECT_TRUE(defaults.objectForKey(QStringLiteral("Custom Size")).isNull());
    EXPECT_EQ(defaults.integerForKey(QStringLiteral("Preview Layout")), 2);
    EXPECT_TRUE(defaults.objectForKey(QStringLiteral("Blacklist")).isNull());
    EXPECT_EQ(defaults.arrayForKey(QStringLiteral("Whitelist"))->count(), 1);
    EXPECT_TRUE(mainController().applicationShouldTerminate());
    EXPECT_FALSE(QFileInfo::exists(marker));
    // An empty library from the index still gets its storages.
    EXPECT_TRUE(mainController().existingSourceStorage());
}

TEST_F(LibraryIndexTest, WrongTypesAndDeepNestingAreReadSafely)
{
    // "Children" that is no array and "Tags" that is no dictionary read as empty; a chain
    // of containers far deeper than any library is loaded whole and saved whole.
    auto deepest = platform::Dictionary::make({{QStringLiteral("Name"), QStringLiteral("deep")}});
    Value chain = Value(deepest);
    for (int i = 0; i < 200; ++i)
        chain = Value(platform::Dictionary::make({{QStringLiteral("Name"), QStringLiteral("level")}, {QStringLiteral("Children"), platform::Array::make({chain})}}));
    auto items = platform::Array::make({
        Value(platform::Dictionary::make({{QStringLiteral("Name"), QStringLiteral("odd")}, {QStringLiteral("Unique ID"), QStringLiteral("ODD")}, {QStringLiteral("Children"), QStringLiteral("text")}})),
        Value(platform::Dictionary::make({{QStringLiteral("Path"), QStringLiteral("/media/x/a.mov")},
                                          {QStringLiteral("User Settings"), platform::Dictionary::make({{QStringLiteral("Tags"), QStringLiteral("bad")}})}})),
        Value(platform::Dictionary::make({{QStringLiteral("Path"), 42}})),
        Value(QStringLiteral("not an item")),
        chain,
    });
    auto library = platform::Array::make({Value(platform::Dictionary::make({{QStringLiteral("Top Level"), QStringLiteral("Library")}, {QStringLiteral("Children"), items}}))});
    testsupport::writeFile(indexPath(), platform::writeBinaryPropertyList(Value(platform::Dictionary::make({{QStringLiteral("Library"), library}, {QStringLiteral("Version"), 2}}))));
    mainController().loadLibrary();
    const PMLibraryContainerPtr odd = mainController()._containersByID.value(QStringLiteral("ODD"));
    ASSERT_TRUE(odd);
    EXPECT_TRUE(odd->rawChildren()->isEmpty());
    ASSERT_EQ(mainController()._nonProxyRawMovieRepresentationsByID.size(), 1);
    EXPECT_FALSE(mainController()._nonProxyRawMovieRepresentationsByID.begin().value()->userSettings()->contains(QStringLiteral("Tags")));
    // How far below the top level the container named "deep" is; -1 when it is gone.
    const std::function<int(const platform::ArrayPtr&)> depthOfDeepest = [&](const platform::ArrayPtr& items) {
        for (const Value& item : *items) {
            PMLibraryContainer* container = PMContainer(item);
            if (!container)
                continue;
            if (container->value(QStringLiteral("Name")).string() == QStringLiteral("deep"))
                return 0;
            if (const int below = depthOfDeepest(container->rawChildren()); below >= 0)
                return below + 1;
        }
        return -1;
    };
    const int depth = depthOfDeepest(mainController()._library);
    EXPECT_GT(depth, 200);
    ASSERT_TRUE(mainController().saveLibrary());
    mainController().resetForTesting();
    mainController().loadLibrary();
    EXPECT_EQ(depthOfDeepest(mainController()._library), depth) << "nothing of the tree is lost by a save";
}

TEST_F(LibraryIndexTest, FailedSaveIsReportedOnceAndKeepsTheOldIndex)
{
    mainController().loadLibrary();
    ASSERT_TRUE(mainController().saveLibrary());
    const QByteArray before = testsupport::readFile(indexPath());
    int notifications = 0;
    const auto observer = platform::addDistributedNotificationObserver([&](const QString& name, const QString&) {
        notifications += name == QLatin1String("com.tolvane.Pellis: Saved Library");
    });
    mainController().pellisSourceStorageSection()->rawChildren()->append(Value(PMLibraryContainer::make({{QStringLiteral("Name"), QStringLiteral("new")}})));
    // The index's place is taken by a folder: the rename into place fails.
    const QString aside = indexPath() + QStringLiteral(".aside");
    ASSERT_TRUE(QFile::rename(indexPath(), aside));
    ASSERT_TRUE(QDir().mkpath(indexPath() + QStringLiteral("/inside")));
    const bool saved = mainController().saveLibrary();
    platform::removeDistributedNotificationObserver(observer);
    EXPECT_FALSE(saved);
    EXPECT_EQ(m_alerts.size(), 1);
    EXPECT_EQ(notifications, 0);
    EXPECT_TRUE(QFileInfo(indexPath() + QStringLiteral("/inside")).isDir());
    EXPECT_EQ(testsupport::readFile(aside), before);
}

TEST_F(LibraryIndexTest, TenSaveRequestsGiveOneSave)
{
    mainController().loadLibrary();
    const int before = mainController()._numberOfLibrarySaves;
    for (int i = 0; i < 10; ++i) {
        mainController().saveLibrarySoon();
        testsupport::waitUntil([] { return false; }, 100);
    }
    EXPECT_EQ(mainController()._numberOfLibrarySaves, before);
    EXPECT_TRUE(testsupport::waitUntil([&] { return mainController()._numberOfLibrarySaves > before; }, 15000));
    testsupport::waitUntil([] { return false; }, 500);
    EXPECT_EQ(mainController()._numberOfLibrarySaves, before + 1);
}

TEST_F(LibraryIndexTest, CleanUpRemovesOnlyStrayImages)
{
    PMMainController& c = mainController();
    c.loadLibrary();
    auto record = PMMovieRepresentationOriginal::movieRepresentationWithPath(QStringLiteral("/media/test/kept.mov"));
    const QString id = record->uniqueLibraryID();
    c.pellisSourceStorageSection()->rawChildren()->append(Value(record));
    auto folder = PMLibraryContainer::make({{QStringLiteral("Name"), QStringLiteral("no ID yet")}});
    c.pellisSourceStorageSection()->rawChildren()->append(Value(folder));

    // Images of a record that is gone carry an ID of the program's form; anything else in
    // the folders is someone's own file and stays.
    const QString gone = QStringLiteral("0A1B2C3D-0000-4000-8000-00000000000A");
    const QString covers = c.coverImageDirectoryPath();
    const QString index = c.standardIndexImagesDirectoryPath();
    for (const QString& name : {id + QStringLiteral(".jpg"), gone + QStringLiteral(".jpg"), gone + QStringLiteral(".tiff"), QStringLiteral("stray.jpg"),
                                QStringLiteral("x"), QStringLiteral("_/") + id + QStringLiteral(".jpg"), QStringLiteral("_/") + gone + QStringLiteral(".jpg"),
                                QStringLiteral("_/old.jpg")})
        testsupport::writeFile(covers + QLatin1Char('/') + name, "jpeg");
    QDir().mkpath(index + QLatin1Char('/') + id);
    testsupport::writeFile(index + QLatin1Char('/') + gone + QStringLiteral("/1 (0.50).jpg"), "jpeg");

    // Without the flag (and without Shift) nothing is removed.
    ASSERT_TRUE(c.saveLibraryAndCleanUpImagesIfAppropriate(true));
    EXPECT_TRUE(QFileInfo::exists(covers + QLatin1Char('/') + gone + QStringLiteral(".jpg")));

    c._cleanUpCachedImages = true;
    ASSERT_TRUE(c.saveLibraryAndCleanUpImagesIfAppropriate(true));
    EXPECT_FALSE(c._cleanUpCachedImages);
    QStringList left = QDir(covers).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    left.sort();
    EXPECT_EQ(left, (QStringList{id + QStringLiteral(".jpg"), QStringLiteral("_"), QStringLiteral("stray.jpg"), QStringLiteral("x")}));
    left = QDir(covers + QStringLiteral("/_")).entryList(QDir::Files);
    left.sort();
    EXPECT_EQ(left, (QStringList{id + QStringLiteral(".jpg"), QStringLiteral("old.jpg")}));
    EXPECT_EQ(QDir(index).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{id});

    // The container without an ID gained one during the save, and the same one was written.
    const QString folderID = folder->value(QStringLiteral("Unique ID")).string();
    ASSERT_FALSE(folderID.isEmpty());
    EXPECT_EQ(c._containersByID.value(folderID), folder);
    EXPECT_TRUE(platform::readPropertyListFile(indexPath()).value.description().contains(folderID));
}

TEST_F(LibraryIndexTest, CleanUpNeverReachesThroughALinkIntoSomeoneElsesFiles)
{
    PMMainController& c = mainController();
    c.loadLibrary();
    auto record = PMMovieRepresentationOriginal::movieRepresentationWithPath(QStringLiteral("/media/test/kept.mov"));
    c.pellisSourceStorageSection()->rawChildren()->append(Value(record));
    const QString a = QStringLiteral("0A1B2C3D-0000-4000-8000-00000000000A"), b = QStringLiteral("0A1B2C3D-0000-4000-8000-00000000000B"),
                  d = QStringLiteral("0A1B2C3D-0000-4000-8000-00000000000D");
    const auto link = [](const QString& target, const QString& at) { ASSERT_EQ(::symlink(QFile::encodeName(target).constData(), QFile::encodeName(at).constData()), 0); };

    // "Cover Images" is a link to the user's own pictures: even a file there that is named
    // like an image of the library is not the library's.
    const QString pictures = testsupport::makeTempDir(QStringLiteral("pictures"));
    const QStringList mine{QStringLiteral("holiday.jpg"), QStringLiteral("notes.txt"), a + QStringLiteral(".jpg"), QStringLiteral("album/photo.jpg")};
    for (const QString& name : mine) {
        QDir().mkpath(QFileInfo(pictures + QLatin1Char('/') + name).path());
        testsupport::writeFile(pictures + QLatin1Char('/') + name, "mine");
    }
    const QString covers = c.coverImageDirectoryPath();
    ASSERT_TRUE(QDir(covers).removeRecursively());
    link(pictures, covers);

    // In the real preview folder: a real stray image, a link named like one, and a "_"
    // that leads out of the library.
    const QString outside = testsupport::makeTempDir(QStringLiteral("outside"));
    for (const QString& name : {QStringLiteral("file.jpg"), QStringLiteral("reduced/") + a + QStringLiteral(".jpg"), QStringLiteral("frames/1 (0.50).jpg")}) {
        QDir().mkpath(QFileInfo(outside + QLatin1Char('/') + name).path());
        testsupport::writeFile(outside + QLatin1Char('/') + name, "mine");
    }
    const QString previews = c.posterImageDirectoryPath();
    testsupport::writeFile(previews + QLatin1Char('/') + d + QStringLiteral(".jpg"), "stray");
    link(outside + QStringLiteral("/file.jpg"), previews + QLatin1Char('/') + b + QStringLiteral(".jpg"));
    link(outside + QStringLiteral("/reduced"), previews + QStringLiteral("/_"));

    // In the index images: a stray frame folder that also holds someone's file, a link named
    // by an ID to a folder of frames, and a folder left by a write that never finished.
    const QString index = c.standardIndexImagesDirectoryPath();
    testsupport::writeFile(index + QLatin1Char('/') + a + QStringLiteral("/1 (0.50).jpg"), "frame");
    testsupport::writeFile(index + QLatin1Char('/') + a + QStringLiteral("/mine.txt"), "mine");
    link(outside + QStringLiteral("/frames"), index + QLatin1Char('/') + b);
    testsupport::writeFile(index + QStringLiteral("/.") + d + QStringLiteral(".pellis-Ab12Cd/2 (1.00).jpg"), "frame");

    c._cleanUpCachedImages = true;
    ASSERT_TRUE(c.saveLibraryAndCleanUpImagesIfAppropriate(true));

    for (const QString& name : mine)
        EXPECT_EQ(testsupport::readFile(pictures + QLatin1Char('/') + name), "mine") << name.toStdString();
    for (const QString& name : {QStringLiteral("file.jpg"), QStringLiteral("reduced/") + a + QStringLiteral(".jpg"), QStringLiteral("frames/1 (0.50).jpg")})
        EXPECT_EQ(testsupport::readFile(outside + QLatin1Char('/') + name), "mine") << name.toStdString();
    EXPECT_FALSE(QFileInfo::exists(previews + QLatin1Char('/') + d + QStringLiteral(".jpg")));
    EXPECT_TRUE(QFileInfo(previews + QLatin1Char('/') + b + QStringLiteral(".jpg")).isSymLink());
    EXPECT_TRUE(QFileInfo(index + QLatin1Char('/') + b).isSymLink());
    EXPECT_FALSE(QFileInfo::exists(index + QLatin1Char('/') + a + QStringLiteral("/1 (0.50).jpg")));
    EXPECT_EQ(testsupport::readFile(index + QLatin1Char('/') + a + QStringLiteral("/mine.txt")), "mine");
    EXPECT_FALSE(QFileInfo::exists(index + QStringLiteral("/.") + d + QStringLiteral(".pellis-Ab12Cd")));
}

} // namespace
