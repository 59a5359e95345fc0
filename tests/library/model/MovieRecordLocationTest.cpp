// Where a record's file is: missing state, finding moved files under a second library
// folder or by bookmark, and the organised folder layout with hostile names.
#include "ModelFixture.h"

#include "foundation/PMFunctions.h"
#include "library/model/PMLibraryFileRules.h"
#include "platform/FileManager.h"
#include "platform/Volumes.h"

#include <QtCore/QDir>
#include <QtCore/QFile>

using platform::Value;

namespace {

void makeFile(const QString& path, qsizetype size)
{
    QDir().mkpath(QFileInfo(path).path());
    testsupport::writeFile(path, QByteArray(size, 'm'));
}

} // namespace

class MovieRecordLocationTest : public ModelTest {
protected:
    void SetUp() override
    {
        ModelTest::SetUp();
        root = testsupport::makeTempDir(QStringLiteral("libraries"));
        first = root + QStringLiteral("/First");
        second = root + QStringLiteral("/Second");
        QDir().mkpath(first);
        QDir().mkpath(second);
        // The controller's own wiring: the main library folder and one more.
        setDefault(QStringLiteral("Library Path"), first);
        auto secondary = platform::Dictionary::make();
        secondary->setValue(QStringLiteral("Second"), second);
        setDefault(QStringLiteral("Secondary Library Paths"), Value(secondary));
    }
    void TearDown() override
    {
        platform::UserDefaults::standard().removeObjectForKey(QStringLiteral("Library Path"));
        platform::UserDefaults::standard().removeObjectForKey(QStringLiteral("Secondary Library Paths"));
        ModelTest::TearDown();
    }
    QString root, first, second;
};

TEST_F(MovieRecordLocationTest, FixedPaths)
{
    makeFile(first + QStringLiteral("/Here/a.mov"), 10);
    makeFile(second + QStringLiteral("/Moved/b.mov"), 20);
    makeFile(second + QStringLiteral("/Other/c.mov"), 5);
    makeFile(root + QStringLiteral("/First2/d.mov"), 5);
    makeFile(second + QStringLiteral("2/d.mov"), 5);

    const QString missingVolume = platform::volumeParentFolders().value(0) + QStringLiteral("/NoSuchVolume-Pellis/e.mov");
    struct Case {
        QString path;
        QString relativePath;
        QString expected;
        const char* why;
    };
    const Case cases[] = {
        {QString(), QString(), QString(), "no path"},
        {first + QStringLiteral("/Here/a.mov"), QString(), first + QStringLiteral("/Here/a.mov"), "in place"},
        {first + QStringLiteral("/Moved/b.mov"), QString(), second + QStringLiteral("/Moved/b.mov"), "same relative place in the second folder"},
        {first + QStringLiteral("/Gone/x.mov"), QString(), QString(), "nowhere"},
        {root + QStringLiteral("/Elsewhere/b.mov"), QString(), QString(), "outside every library folder"},
        {root + QStringLiteral("/Elsewhere/b.mov"), QStringLiteral("/Moved/b.mov"), second + QStringLiteral("/Moved/b.mov"), "stored relative path"},
        {root + QStringLiteral("/First2/gone.mov"), QString(), QString(), "a folder that only begins like a library folder"},
        {first + QStringLiteral("/x/../../Second/Moved/b.mov"), QStringLiteral("/../Second/Moved/b.mov"), QString(), "a relative path that climbs out"},
        {missingVolume, QString(), QString(), "missing volume and no relative path"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(PMMovieRepresentationPrototype::fixedPath(c.path, c.relativePath, QByteArray(), nullptr), c.expected) << c.why;

    // The same relative place under another library folder is the file even when its size
    // changed since (its tags were written into it), and the record follows it.
    PMMovieRepresentationOriginalPtr record = PMMovieRepresentationOriginal::movieRepresentationWithURL(QUrl::fromLocalFile(first + QStringLiteral("/Other/c.mov")));
    record->userSettings()->setValue(QStringLiteral("Size"), 6);
    EXPECT_EQ(PMMovieRepresentationPrototype::fixedPath(record->path(), QString(), QByteArray(), record.get()), second + QStringLiteral("/Other/c.mov"));
    EXPECT_EQ(record->path(), second + QStringLiteral("/Other/c.mov")) << "the record follows its file";
    EXPECT_FALSE(record->bookmark().isEmpty());

    // The factory finds the file too.
    PMMovieRepresentationOriginalPtr made = PMMovieRepresentationOriginal::movieRepresentationWithPath(first + QStringLiteral("/Moved/b.mov"));
    EXPECT_EQ(made->path(), second + QStringLiteral("/Moved/b.mov"));
}

TEST_F(MovieRecordLocationTest, MovedWithinItsVolumeIsFoundByBookmarkFirst)
{
    const QString original = first + QStringLiteral("/a.mov");
    makeFile(original, 10);
    const QByteArray bookmark = PMBookmarkDataFromPath(original);
    ASSERT_FALSE(bookmark.isEmpty());
    makeFile(second + QStringLiteral("/a.mov"), 10); // a same-named file in the second folder
    ASSERT_TRUE(QFile::rename(original, first + QStringLiteral("/Renamed.mov")));
    EXPECT_EQ(PMMovieRepresentationPrototype::fixedPath(original, QString(), bookmark, nullptr), first + QStringLiteral("/Renamed.mov"));
    setDefault(QStringLiteral("Ignore Bookmarks When Fixing Paths"), true);
    EXPECT_EQ(PMMovieRepresentationPrototype::fixedPath(original, QString(), bookmark, nullptr), second + QStringLiteral("/a.mov"));
}

TEST_F(MovieRecordLocationTest, MissingStateAndLocationTexts)
{
    PMMovieRepresentationOriginalPtr m = PMMovieRepresentationOriginal::movieRepresentationWithPath(QDir::homePath() + QStringLiteral("/Movies/a b.mov"));
    PMMovieRepresentationProxyPtr proxy = m->proxy();
    EXPECT_TRUE(proxy->canPlay());
    proxy->setMissing(true, true);
    EXPECT_TRUE(m->isMissing() && m->isMissingVolume());
    EXPECT_FALSE(m->canPlay());
    m->setMissing(false, false);
    EXPECT_TRUE(proxy->canPlay());
    EXPECT_EQ(m->locationKey(), QStringLiteral("~/Movies/a b.mov"));
    EXPECT_EQ(m->URLString(), QUrl::fromLocalFile(QDir::homePath() + QStringLiteral("/Movies/a b.mov")).toString(QUrl::FullyEncoded));
    EXPECT_TRUE(m->canMove());

    PMMovieRepresentationOriginalPtr web = PMMovieRepresentationOriginal::movieRepresentationWithURL(QUrl(QStringLiteral("https://example.org/v.mp4")));
    EXPECT_EQ(web->path(), QString());
    EXPECT_EQ(web->locationKey(), QStringLiteral("https://example.org/v.mp4"));
    EXPECT_EQ(web->readableLocation(), QStringLiteral("https://example.org/v.mp4"));
    EXPECT_FALSE(web->canMove());
    EXPECT_EQ(web->displayName(), QStringLiteral("v"));

    // Only web addresses from the library are opened.
    QList<QUrl> opened;
    platform::setURLOpenerForTesting([&](const QUrl& url) {
        opened << url;
        return true;
    });
    m->userSettings()->setValue(QStringLiteral("Original URL"), QStringLiteral("file:///etc/passwd"));
    m->openOriginalURL();
    m->userSettings()->setValue(QStringLiteral("Original URL"), QStringLiteral("https://example.org/page"));
    m->openOriginalURL();
    platform::setURLOpenerForTesting(nullptr);
    ASSERT_EQ(opened.size(), 2);
    EXPECT_EQ(opened.at(0), m->URL()) << "not a web address: the file itself";
    EXPECT_EQ(opened.at(1), QUrl(QStringLiteral("https://example.org/page")));
}

TEST_F(MovieRecordLocationTest, FolderLayoutWithHostileNames)
{
    PMLibraryContainerPtr movies = mainController().pellisSourceStorageSection();
    PMLibraryContainerPtr temporary = mainController().temporaryStorage();
    const QString base = root + QStringLiteral("/Base");
    struct Case {
        QStringList names; // from the top down, below the movies section
        bool underTemporary;
        QString expected; // relative to the base folder
    };
    const QString longName = QString(300, u'n');
    const Case cases[] = {
        {{QStringLiteral("A"), QStringLiteral("B")}, false, QStringLiteral("/A/B")},
        {{QStringLiteral("A")}, true, QStringLiteral("/") + temporary->displayName() + QStringLiteral("/A")},
        {{QStringLiteral("a/b")}, false, QStringLiteral("/a|b")},
        {{QStringLiteral("..")}, false, QStringLiteral("/Untitled")},
        {{QStringLiteral(".")}, false, QStringLiteral("/Untitled")},
        {{QStringLiteral("../../etc")}, false, QStringLiteral("/..|..|etc").replace(QStringLiteral("/..|"), QStringLiteral("/"))},
        {{longName}, false, QStringLiteral("/") + longName.left(255)},
        {{QString()}, false, QStringLiteral("/Untitled")},
    };
    for (const Case& c : cases) {
        auto ancestors = platform::Array::make();
        ancestors->append(Value(c.underTemporary ? temporary : movies));
        if (!c.underTemporary)
            ancestors->insert(0, Value(mainController().existingSourceStorage()));
        for (const QString& name : c.names)
            ancestors->insert(0, Value(folder(name)));
        const QString made = PMMovieRepresentationPrototype::folderPathForLibraryAncestors(ancestors, base, true);
        const QString expected = base + c.expected;
        EXPECT_TRUE(isEqualToOrChildOfPath(made, base)) << made.toStdString();
        EXPECT_TRUE(QFileInfo(made).isDir()) << made.toStdString();
        if (c.names.value(0) != QStringLiteral("../../etc"))
            EXPECT_EQ(made, expected) << c.names.join(u'/').left(40).toStdString();
        else
            EXPECT_FALSE(made.contains(QStringLiteral("/../"))) << made.toStdString();
    }

    // The record's own suggested and available paths.
    PMMovieRepresentationOriginalPtr m = PMMovieRepresentationOriginal::movieRepresentationWithPath(root + QStringLiteral("/Elsewhere/clip.mov"));
    auto ancestors = platform::Array::make({Value(folder(QStringLiteral("Trips"))), Value(movies), Value(mainController().existingSourceStorage())});
    QString chosenBase;
    EXPECT_EQ(m->suggestedPathForLibraryAncestors(ancestors, {first, second}, &chosenBase, false), first + QStringLiteral("/Trips/clip.mov"));
    EXPECT_EQ(chosenBase, first);
    makeFile(first + QStringLiteral("/Trips/clip.mov"), 3);
    bool match = true;
    const QString available = m->availablePathForLibraryAncestors(ancestors, {first, second}, nullptr, &match);
    EXPECT_FALSE(match);
    EXPECT_NE(available, first + QStringLiteral("/Trips/clip.mov"));
    EXPECT_TRUE(available.startsWith(first + QStringLiteral("/Trips/clip")));
    m->setURL(QUrl::fromLocalFile(first + QStringLiteral("/Trips/clip.mov")));
    EXPECT_EQ(m->availablePathForLibraryAncestors(ancestors, {first, second}, nullptr, &match), first + QStringLiteral("/Trips/clip.mov"));
    EXPECT_TRUE(match);
    // A file whose name differs only in letter case is not in place yet: it is renamed.
    ASSERT_TRUE(QFile::rename(first + QStringLiteral("/Trips/clip.mov"), first + QStringLiteral("/Trips/CLIP.mov")));
    m->setURL(QUrl::fromLocalFile(first + QStringLiteral("/Trips/CLIP.mov")));
    m->setDisplayName(QStringLiteral("clip"));
    EXPECT_EQ(m->availablePathForLibraryAncestors(ancestors, {first, second}, nullptr, &match), first + QStringLiteral("/Trips/clip.mov"));
    EXPECT_FALSE(match);
}

TEST_F(MovieRecordLocationTest, LocatingAMissingFile)
{
    makeFile(second + QStringLiteral("/new name.mov"), 4);
    PMMovieRepresentationOriginalPtr m = PMMovieRepresentationOriginal::movieRepresentationWithPath(first + QStringLiteral("/Old Name.mov"));
    m->setMissing(true, false);
    auto& services = PMMovieRepresentationServices::shared();
    double updatedAfter = -1;
    services.updateLibraryAfterDelay = [&](double delay) { updatedAfter = delay; };
    services.chooseFile = [](const QString&, const QString&) { return QUrl(); };
    EXPECT_FALSE(m->promptForURL()) << "cancelled";
    EXPECT_TRUE(m->isMissing());
    services.chooseFile = [this](const QString& title, const QString& prompt) {
        EXPECT_EQ(title, QStringLiteral("Locate File"));
        EXPECT_EQ(prompt, QStringLiteral("Select File"));
        return QUrl::fromLocalFile(second + QStringLiteral("/new name.mov"));
    };
    EXPECT_TRUE(m->promptForURL());
    EXPECT_FALSE(m->isMissing());
    EXPECT_EQ(m->path(), second + QStringLiteral("/new name.mov"));
    EXPECT_EQ(m->displayName(), QStringLiteral("Old Name")) << "the name it had is kept";
    EXPECT_EQ(updatedAfter, 0.0);
    services.chooseFile = nullptr;
    services.updateLibraryAfterDelay = nullptr;
    PMCrawlQueue::waitUntilEmpty();
}

TEST_F(MovieRecordLocationTest, RecordMadeFromItsPathHasTheURLOfThatPath)
{
    // A record made from a clean path (as loading makes them) gets its URL when asked,
    // the one a record made from the URL has; its path follows a later change of URL.
    for (const char* path : {"/a/b.mov", "/Films/100% sure #1?.mov", "/Été/naïve ø.mkv", "/a b/c  d.mov", "/x/%20.mov", "/f"}) {
        const QString text = QString::fromUtf8(path);
        auto fromPath = std::make_shared<PMMovieRepresentationOriginal>(text);
        const auto fromURL = std::make_shared<PMMovieRepresentationOriginal>(QUrl::fromLocalFile(text));
        EXPECT_EQ(fromPath->path(), fromURL->path()) << path;
        EXPECT_EQ(fromPath->URL(), fromURL->URL()) << path;
        EXPECT_EQ(fromPath->URL().toLocalFile(), text) << path;
        fromPath->setURL(QUrl::fromLocalFile(QStringLiteral("/elsewhere/z.mov")));
        EXPECT_EQ(fromPath->path(), QStringLiteral("/elsewhere/z.mov"));
    }
}
