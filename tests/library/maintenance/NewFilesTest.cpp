// New files in the library folders: found once, packages and sequences whole, folders left
// out by name, the answers of the prompt, a result dropped when the library changed, and
// folders skipped by their timestamps.
#include "library/maintenance/FilesFixture.h"

#include "platform/FileOperations.h"
#include "platform/Paths.h"

#include <QtCore/QCoreApplication>

#include <fcntl.h>
#include <unistd.h>
#include <utime.h>

using platform::Value;

namespace {

class NewFilesTest : public FilesTest {
protected:
    QStringList relative(const QStringList& paths) const
    {
        QStringList result;
        for (const QString& p : paths)
            result << QDir(m_library).relativeFilePath(p);
        return result;
    }
    // Gives the folder a fixed modification time, as if it had not changed since.
    static void age(const QString& path, time_t when = 1700000000)
    {
        const QByteArray native = QFile::encodeName(path);
        struct utimbuf times;
        times.actime = times.modtime = when;
        utime(native.constData(), &times);
    }
};

TEST_F(NewFilesTest, FoundOnceWholeAndOutsideExcludedFolders)
{
    const auto known = fileMovie(m_library + QStringLiteral("/known.mov"));
    const auto containerA = folder(QStringLiteral("A"));
    library({v(known), v(containerA)});
    testsupport::writeFile(m_library + QStringLiteral("/new.mov"), "n");
    QDir().mkpath(m_library + QStringLiteral("/A/B"));
    testsupport::writeFile(m_library + QStringLiteral("/A/B/deep.mp4"), "d");
    QDir().mkpath(m_library + QStringLiteral("/Trip.mseq"));
    testsupport::writeFile(m_library + QStringLiteral("/Trip.mseq/1.mov"), "1");
    testsupport::writeFile(m_library + QStringLiteral("/Trip.mseq/2.mov"), "2");
    QDir().mkpath(m_library + QStringLiteral("/Old (No Auto-Check)"));
    testsupport::writeFile(m_library + QStringLiteral("/Old (No Auto-Check)/old.mov"), "o");
    QDir().mkpath(c().librarySettingsPath());
    testsupport::writeFile(c().librarySettingsPath() + QStringLiteral("/stray.mov"), "s");

    const QStringList found = c().nonLibraryFilesFromAllVolumes(true, nullptr);
    EXPECT_EQ(relative(found), QStringList({QStringLiteral("A/B/deep.mp4"), QStringLiteral("new.mov"), QStringLiteral("Trip.mseq")}));

    // "Add": records in containers that mirror the folders, reusing A.
    m_answers = {0};
    c().includeNonLibraryFiles(found, true);
    ASSERT_EQ(m_alerts.size(), 1);
    EXPECT_EQ(m_alerts[0].messageText, QStringLiteral("Found New Files in Library Folder"));
    EXPECT_EQ(m_alerts[0].buttons, QStringList({QStringLiteral("Add"), QStringLiteral("Stop Auto-Detecting New Files"), QStringLiteral("Ignore")}));
    ASSERT_EQ(containerA->rawChildren()->count(), 1);
    const auto containerB = PMContainerPtr(containerA->rawChildren()->at(0));
    ASSERT_TRUE(containerB);
    EXPECT_EQ(containerB->displayName(), QStringLiteral("B"));
    EXPECT_EQ(names(containerB->rawChildren()), QStringList({QStringLiteral("deep")}));
    EXPECT_TRUE(c().nonLibraryFilesFromAllVolumes(true, nullptr).isEmpty());
}

// A file of the library under another name (renamed while the index still names its old
// place, or linked a second time) is the library's already: only the new file is offered.
TEST_F(NewFilesTest, TheLibrarysOwnFilesUnderOtherNamesAreNotNew)
{
    const auto renamed = fileMovie(m_library + QStringLiteral("/before.mov"), "renamed");
    const auto linked = fileMovie(m_library + QStringLiteral("/linked.mov"), "linked");
    library({v(renamed), v(linked)});
    // Their bookmarks, as the first save of the index makes them.
    renamed->bookmark();
    linked->bookmark();
    ASSERT_TRUE(platform::renameWithoutReplacing(m_library + QStringLiteral("/before.mov"), m_library + QStringLiteral("/after.mov")));
    ASSERT_EQ(::link(QFile::encodeName(m_library + QStringLiteral("/linked.mov")).constData(),
                     QFile::encodeName(m_library + QStringLiteral("/second name.mov")).constData()),
              0);
    testsupport::writeFile(m_library + QStringLiteral("/new.mov"), "new");
    EXPECT_EQ(relative(c().nonLibraryFilesFromAllVolumes(true, nullptr)), QStringList{QStringLiteral("new.mov")});
}

TEST_F(NewFilesTest, PartialCopiesLeftByAKilledCopyAreRemovedAndNothingElse)
{
    library({});
    QDir().mkpath(m_library + QStringLiteral("/A"));
    const QString leftover = m_library + QStringLiteral("/A/.clip.mov.pellis-0123456789ab");
    testsupport::writeFile(leftover, "half a cl");
    const QStringList kept = {
        QStringLiteral("/A/.clip.mov.pellis-0123456789AB"), // not the exact pattern
        QStringLiteral("/A/.clip.mov.pellis-0123456789abc"),
        QStringLiteral("/A/clip.mov.pellis-0123456789ab"), // not hidden
        QStringLiteral("/.notes.pellis-txt"),
    };
    for (const QString& name : kept)
        testsupport::writeFile(m_library + name, "mine");
    QDir().mkpath(m_library + QStringLiteral("/.Box.pellis-0123456789ab")); // a folder: not removed
    ASSERT_TRUE(QFile::link(m_outside, m_library + QStringLiteral("/A/.link.pellis-0123456789ab")));

    // A copy under way in this process keeps its temporary file.
    bool survived = false;
    platform::FileOperationTestHooks hooks;
    hooks.afterCopy = [&](const QString&, const QString& temporary) {
        c().nonLibraryFilesFromAllVolumes(true, nullptr);
        survived = QFileInfo::exists(temporary);
        return true;
    };
    platform::setFileOperationTestHooks(&hooks);
    testsupport::writeFile(m_outside + QStringLiteral("/new.mov"), "new");
    const bool copied = platform::copyItem(m_outside + QStringLiteral("/new.mov"), m_library + QStringLiteral("/A/new.mov"), platform::NameConflict::Fail);
    platform::setFileOperationTestHooks(nullptr);
    EXPECT_TRUE(copied);
    EXPECT_TRUE(survived) << "a copy in progress lost its temporary file";

    EXPECT_FALSE(QFileInfo::exists(leftover));
    for (const QString& name : kept)
        EXPECT_EQ(testsupport::readFile(m_library + name), QByteArray("mine")) << name.toStdString();
    EXPECT_TRUE(QFileInfo(m_library + QStringLiteral("/.Box.pellis-0123456789ab")).isDir());
    EXPECT_TRUE(QFileInfo(m_library + QStringLiteral("/A/.link.pellis-0123456789ab")).isSymLink());
    EXPECT_TRUE(QFileInfo::exists(m_outside + QStringLiteral("/new.mov")));
}

TEST_F(NewFilesTest, AFileWhoseNameIsNotUTF8KeepsItsRecordThroughASaveAndALoad)
{
    library({});
    const QByteArray name("caf\xE9 \xFF.mov"); // Latin-1 and a stray byte
    const QByteArray native = platform::encodeFileName(m_library) + '/' + name;
    {
        const int fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::write(fd, "latin", 5), 5);
        ::close(fd);
    }
    const QStringList found = c().nonLibraryFilesFromAllVolumes(true, nullptr);
    ASSERT_EQ(found.size(), 1);
    EXPECT_EQ(platform::encodeFileName(found[0]), native);
    c().includeNonLibraryFiles(found, false);
    const auto children = c().pellisSourceStorageSection()->rawChildren();
    ASSERT_EQ(children->count(), 1);
    PMMovieRepresentationPrototype* record = PMMovie(children->at(0));
    ASSERT_TRUE(record);
    EXPECT_EQ(platform::encodeFileName(record->path()), native);
    c()._skipMissingStatusUpdate = false;
    c().invalidateLibraryDependencies();
    EXPECT_FALSE(record->isMissing());
    EXPECT_TRUE(c().nonLibraryFilesFromAllVolumes(true, nullptr).isEmpty()) << "offered again";

    // Saved and loaded, the record still reaches the file.
    ASSERT_TRUE(c().saveLibrary());
    c().resetForTesting();
    c().loadLibrary();
    c()._skipMissingStatusUpdate = false;
    c().invalidateLibraryDependencies();
    const auto loaded = c().pellisSourceStorageSection()->rawChildren();
    ASSERT_EQ(loaded->count(), 1);
    PMMovieRepresentationPrototype* again = PMMovie(loaded->at(0));
    ASSERT_TRUE(again);
    EXPECT_EQ(platform::encodeFileName(again->path()), native);
    EXPECT_FALSE(again->isMissing());
    EXPECT_TRUE(c().nonLibraryFilesFromAllVolumes(true, nullptr).isEmpty());
}

TEST_F(NewFilesTest, IgnoreBlacklistsAndTheSecondButtonStopsTheSearch)
{
    library({});
    testsupport::writeFile(m_library + QStringLiteral("/a.mov"), "a");
    const QStringList found = c().nonLibraryFilesFromAllVolumes(true, nullptr);
    ASSERT_EQ(found.size(), 1);
    m_answers = {2}; // Ignore
    c().includeNonLibraryFiles(found, true);
    EXPECT_TRUE(c().pellisSourceStorageSection()->rawChildren()->isEmpty());
    EXPECT_TRUE(c().nonLibraryFilesFromAllVolumes(true, nullptr).isEmpty());

    testsupport::writeFile(m_library + QStringLiteral("/b.mov"), "b");
    m_answers = {1};
    c().includeNonLibraryFiles(c().nonLibraryFilesFromAllVolumes(true, nullptr), true);
    EXPECT_TRUE(platform::UserDefaults::standard().boolForKey(QStringLiteral("Do Not Check For Non-Library Files")));
    const int searches = c()._numberOfNonLibraryFileSearches;
    c().autoDetectAndIncludeNonLibraryFiles();
    EXPECT_EQ(c()._numberOfNonLibraryFileSearches, searches);
    // Offered from the menu, the prompt then offers Cancel.
    m_alerts.clear();
    m_answers = {1};
    c().includeNonLibraryFilesFromMenuItem(c().nonLibraryFilesFromAllVolumes(true, nullptr), 0);
    EXPECT_EQ(m_alerts.value(0).buttons.value(1), QStringLiteral("Cancel"));
}

TEST_F(NewFilesTest, AResultArrivingAfterAChangeIsDroppedAndOfferedAgain)
{
    setDefault(QStringLiteral("Check For Non-Library Files Via Top-Level Modification Date"), true);
    setDefault(QStringLiteral("Include Non-Library Files Without Prompt"), true);
    library({});
    testsupport::writeFile(m_library + QStringLiteral("/a.mov"), "a");
    age(m_library);
    // The library changes while the search runs: its result is dropped, and no folder's
    // timestamp is kept, so the next search offers the file again.
    c().autoDetectAndIncludeNonLibraryFiles();
    const auto other = fileMovie(m_outside + QStringLiteral("/other.mov"));
    c().pellisSourceStorageSection()->rawChildren()->append(v(other));
    c().invalidateLibraryDependencies();
    ASSERT_TRUE(testsupport::waitUntil([] { return false; }, 300) || true);
    EXPECT_EQ(c().pellisSourceStorageSection()->rawChildren()->count(), 1);
    EXPECT_FALSE(platform::UserDefaults::standard().dictionaryForKey(QStringLiteral("Library Check Timestamps")));

    const int searches = c()._numberOfNonLibraryFileSearches;
    c().autoDetectAndIncludeNonLibraryFiles();
    EXPECT_EQ(c()._numberOfNonLibraryFileSearches, searches + 1) << c()._nonLibraryFilesCheckSuppressionLevel << " "
        << platform::UserDefaults::standard().boolForKey(QStringLiteral("Do Not Check For Non-Library Files"));
    ASSERT_TRUE(testsupport::waitUntil([] { return c().pellisSourceStorageSection()->rawChildren()->count() == 2; }));
    EXPECT_TRUE(platform::UserDefaults::standard().dictionaryForKey(QStringLiteral("Library Check Timestamps")));
    testsupport::waitUntil([] { return false; }, 100);

    // Unchanged folders are not read again for their own files, but their subfolders are.
    QDir().mkpath(m_library + QStringLiteral("/Sub"));
    age(m_library + QStringLiteral("/Sub"), 1700000500);
    age(m_library);
    EXPECT_TRUE(c().nonLibraryFilesFromAllVolumes(true, nullptr).isEmpty()); // records Sub
    testsupport::writeFile(m_library + QStringLiteral("/stray.mov"), "unseen"); // the root changes...
    age(m_library);                                                            // ...but looks unchanged
    testsupport::writeFile(m_library + QStringLiteral("/Sub/deep.mov"), "d");
    EXPECT_EQ(relative(c().nonLibraryFilesFromAllVolumes(true, nullptr)), QStringList({QStringLiteral("Sub/deep.mov")}));
}

} // namespace
