// Choosing and changing library locations: refused while files move, the nesting rule,
// supplementary folders added (and searched), located (missing records recovered, whole
// path components only) and removed; and the inbox and the blacklist.
#include "library/maintenance/FilesFixture.h"

#include "foundation/NSString+PMHelpManagerLibraryFiles.h"

#include "library/model/PMCachedSettings.h"
#include "platform/Paths.h"

#include <QtWidgets/QApplication>
#include <QtWidgets/QPlainTextEdit>
#include <QtWidgets/QWidget>

#include <limits>

using platform::Array;
using platform::Value;

namespace {

class LibraryLocationsTest : public FilesTest {
protected:
    void choose(const QString& folder)
    {
        c()._chooseLibraryPathOverride = [this, folder](const QString& explanation, const QString&) {
            m_explanations << explanation;
            return folder;
        };
    }
    QStringList supplementaryFolders() const
    {
        QStringList folders;
        if (const auto stored = c().supplementaryLibraryPaths())
            for (auto it = stored->begin(); it != stored->end(); ++it)
                folders << platform::stringByExpandingTildeInPath(it.value().string());
        return folders;
    }
    QStringList m_explanations;
};

TEST_F(LibraryLocationsTest, NestedFoldersAreRefusedAndAnAddedFolderIsSearched)
{
    library({});
    const int beeps = platform::beepCount();
    QDir().mkpath(m_library + QStringLiteral("/Inner"));
    for (const QString& nested : {m_library + QStringLiteral("/Inner"), QFileInfo(m_library).path(), m_library}) {
        choose(nested);
        c().addSupplementaryLibraryLocation();
    }
    EXPECT_EQ(platform::beepCount(), beeps + 3);
    EXPECT_FALSE(c().supplementaryLibraryPaths());

    const QString satellite = testsupport::makeTempDir(QStringLiteral("satellite"));
    testsupport::writeFile(satellite + QStringLiteral("/found.mov"), "f");
    choose(satellite);
    m_answers = {0};
    c().addSupplementaryLibraryLocation();
    EXPECT_EQ(supplementaryFolders(), QStringList({satellite}));
    EXPECT_EQ(alertTitles(), QStringList({QStringLiteral("Found New Files in Library Folder")}));
    EXPECT_EQ(names(c().pellisSourceStorageSection()->rawChildren()), QStringList({QStringLiteral("found")}));
    // A folder inside the supplementary one is refused too.
    QDir().mkpath(satellite + QStringLiteral("/deeper"));
    choose(satellite + QStringLiteral("/deeper"));
    c().addSupplementaryLibraryLocation();
    EXPECT_EQ(supplementaryFolders(), QStringList({satellite}));

    // Removing the last one removes the setting.
    c().deleteSupplementaryLibraryLocation(c().supplementaryLibraryPaths()->keys().constFirst());
    EXPECT_TRUE(platform::UserDefaults::standard().objectForKey(QStringLiteral("Secondary Library Paths")).isNull());
}

TEST_F(LibraryLocationsTest, LocatingRecoversMissingRecordsByWholeComponents)
{
    const QString root = testsupport::makeTempDir(QStringLiteral("disks"));
    const QString oldFolder = root + QStringLiteral("/old/Movies");
    const QString newFolder = root + QStringLiteral("/new/Movies");
    auto paths = platform::Dictionary::make();
    paths->setValue(QStringLiteral("Movies"), oldFolder);
    c().saveSupplementaryLibraryPaths(paths);
    const auto moved = PMMovieRepresentationOriginal::movieRepresentationWithPath(oldFolder + QStringLiteral("/a.mov"));
    const auto neighbour = PMMovieRepresentationOriginal::movieRepresentationWithPath(root + QStringLiteral("/old/Movies2/b.mov"));
    const auto present = fileMovie(root + QStringLiteral("/elsewhere/c.mov"));
    library({v(moved), v(neighbour), v(present)});
    moved->setMissing(true, false);
    neighbour->setMissing(true, false);
    // What the new place holds: the moved file, and a file that a plain text replacement
    // of "/old/Movies" in "/old/Movies2/b.mov" would wrongly find.
    testsupport::writeFile(newFolder + QStringLiteral("/a.mov"), "a");
    testsupport::writeFile(root + QStringLiteral("/new/Movies2/b.mov"), "b");

    choose(newFolder);
    c().locateSupplementaryLibraryLocation(oldFolder);
    ASSERT_EQ(m_explanations.size(), 1);
    EXPECT_TRUE(m_explanations[0].startsWith(QStringLiteral("If ")));
    EXPECT_TRUE(m_explanations[0].endsWith(QStringLiteral(" has moved, select it to confirm its new location.")));
    EXPECT_EQ(supplementaryFolders(), QStringList({newFolder}));
    EXPECT_EQ(moved->path(), newFolder + QStringLiteral("/a.mov"));
    EXPECT_FALSE(moved->isMissing());
    EXPECT_EQ(neighbour->path(), root + QStringLiteral("/old/Movies2/b.mov"));
    EXPECT_TRUE(neighbour->isMissing());
    EXPECT_EQ(present->path(), root + QStringLiteral("/elsewhere/c.mov"));

    // A folder that is not stored: logged, a beep, nothing changes.
    const int beeps = platform::beepCount();
    c().locateSupplementaryLibraryLocation(root + QStringLiteral("/unknown"));
    EXPECT_EQ(platform::beepCount(), beeps + 1);
    EXPECT_EQ(supplementaryFolders(), QStringList({newFolder}));
}

TEST_F(LibraryLocationsTest, ChangingTheLibraryIsRefusedWhileFilesMove)
{
    const QString other = testsupport::makeTempDir(QStringLiteral("other"));
    c()._numberOfRemainingItemsMovingToLibraryFolder = 1;
    EXPECT_FALSE(c().setLibraryLocation(other));
    c().changeLibraryLocation(other, false, 0);
    EXPECT_EQ(c().libraryPath(), m_library);
    c()._numberOfRemainingItemsMovingToLibraryFolder = 0;
    // The "Clear" item forgets the known libraries; the current one does nothing.
    setDefault(QStringLiteral("Libraries"), Value(platform::Dictionary::make({{QStringLiteral("x"), QStringLiteral("/x")}})));
    c().changeLibraryLocation({}, false, -1);
    EXPECT_TRUE(platform::UserDefaults::standard().objectForKey(QStringLiteral("Libraries")).isNull());
    c().changeLibraryLocation(other, true, 0);
    EXPECT_EQ(c().libraryPath(), m_library);
}

TEST_F(LibraryLocationsTest, ChangingTheLibraryOrganisesTheOldOneAndSearchesTheNewOne)
{
    PMMainController::installSeriesServices();
    setDefault(QStringLiteral("Determine Names Automatically: Pattern"), QString());
    const auto clip = fileMovie(m_library + QStringLiteral("/loose/x.mov"), "clip");
    clip->setValue(QStringLiteral("Clip"), QStringLiteral("Title"));
    library({v(folder(QStringLiteral("Box"), {v(clip)}))});
    const QString other = testsupport::makeTempDir(QStringLiteral("other"));
    testsupport::writeFile(other + QStringLiteral("/waiting.mov"), "w");
    setDefault(QStringLiteral("Include Non-Library Files Without Prompt"), true);
    c()._didFinishLaunching = true;
    PMCachedSettings::determineNamesAutomatically = true;
    const bool changed = c().setLibraryLocation(other);
    c()._didFinishLaunching = false;
    PMCachedSettings::determineNamesAutomatically = false;
    ASSERT_TRUE(changed);
    EXPECT_EQ(testsupport::readFile(m_library + QStringLiteral("/Box/Clip.mov")), QByteArray("clip"));
    EXPECT_TRUE(testsupport::waitUntil([] { return names(c().pellisSourceStorageSection()->rawChildren()).contains(QStringLiteral("waiting")); }));
}

TEST_F(LibraryLocationsTest, InboxShowsNewestFirstAndASecondPressTagsTheSelection)
{
    const auto older = movie(QStringLiteral("older"));
    const auto newer = movie(QStringLiteral("newer"));
    older->setAdditionDate(platform::Date{1000});
    newer->setAdditionDate(platform::Date{2000});
    const auto empty = folder(QStringLiteral("Inbox"));
    library({v(older), v(newer), v(empty)});
    EXPECT_FALSE(c().inboxMovieRepresentationsSorted(true));
    setDefault(QStringLiteral("Inbox"), QString());
    EXPECT_EQ(names(c().inboxMovieRepresentationsSorted(true)), QStringList({QStringLiteral("newer"), QStringLiteral("older")}));
    // An inbox container without movies: all movies, or nothing when strict.
    setDefault(QStringLiteral("Inbox"), empty->uniqueLibraryID());
    c().invalidateLibraryDependencies();
    EXPECT_EQ(c().inboxMovieRepresentationsSorted(false)->count(), 2);
    setDefault(QStringLiteral("Inbox: Strict"), true);
    EXPECT_FALSE(c().inboxMovieRepresentationsSorted(true));
    setDefault(QStringLiteral("Inbox: Strict"), Value());
    setDefault(QStringLiteral("Inbox"), QString());

    QWidget window;
    window.show();
    c()._mainWindow = &window;
    platform::ArrayPtr shown;
    c()._maintenanceWindow.showInboxPopover = [&](const platform::ArrayPtr& proxies) {
        shown = proxies;
        return true;
    };
    EXPECT_EQ(c().numberOfSelectedInboxItems(), std::numeric_limits<qsizetype>::max());
    c().showInbox();
    ASSERT_TRUE(shown);
    EXPECT_EQ(names(shown), QStringList({QStringLiteral("newer"), QStringLiteral("older")}));
    EXPECT_TRUE(PMMovie(shown->at(0))->isProxy());
    // A second press with a subdivision shown gives the selected movies its tag values.
    c()._maintenanceWindow.selectedInboxItems = [&] { return Array::make({shown->at(1)}); };
    EXPECT_EQ(c().numberOfSelectedInboxItems(), 1);
    auto tag = platform::Dictionary::make({{QStringLiteral("Tag"), QStringLiteral("Genre")},
                                           {QStringLiteral("Values"), Value(Array::make({QStringLiteral("Drama")}))}});
    auto branch = platform::Dictionary::make({{QStringLiteral("genre"), Value(tag)}});
    const auto subdivision = PMLibraryContainer::make({{QStringLiteral("Name"), QStringLiteral("Drama")}});
    subdivision->setValue(QStringLiteral("Subdivision Branch"), Value(branch)); // as subdivisions keep it
    c()._groupItemsParent = subdivision;
    c().showInbox();
    EXPECT_FALSE(c().destroyInbox()); // already closed
    EXPECT_EQ(older->cachedLowercaseValueForLowercaseTag(QStringLiteral("genre")), QStringLiteral("drama"));
    EXPECT_TRUE(newer->cachedLowercaseValueForLowercaseTag(QStringLiteral("genre")).isEmpty());
    c()._groupItemsParent = nullptr;
    c()._mainWindow = nullptr;
}

TEST_F(LibraryLocationsTest, BlacklistStoresEachPathOnceWithTildeAndWildcards)
{
    const QString home = QDir::homePath();
    setDefault(QStringLiteral("Blacklist"), Value(Array::make({QStringLiteral("~/Private/*"), QStringLiteral("/data/Exact.mov")})));
    // Matched by an entry as the user means it ("~" expanded): nothing is added.
    c().addBlacklistPaths({home + QStringLiteral("/Private/a.mov"), QStringLiteral("/data/Exact.mov")});
    EXPECT_EQ(c().blacklistText(), QStringLiteral("~/Private/*\n/data/Exact.mov"));
    // Two new paths, one of which would match the other, are both added, abbreviated, as
    // literal entries: no other spelling in letter case and no "*" reaches other files.
    c().addBlacklistPaths({home + QStringLiteral("/Films/x.mov"), home + QStringLiteral("/Films/x.mov.part")});
    const auto list = platform::UserDefaults::standard().arrayForKey(QStringLiteral("Blacklist"));
    ASSERT_EQ(list->count(), 4);
    EXPECT_TRUE(c().blacklistText().contains(QStringLiteral("=~/Films/x.mov\n=~/Films/x.mov.part")));
    EXPECT_TRUE(isBlacklistedPath(home + QStringLiteral("/Films/x.mov")));
    EXPECT_FALSE(isBlacklistedPath(home + QStringLiteral("/Films/X.MOV")));
    c().addBlacklistPaths({QStringLiteral("/data/a*b.mov"), QStringLiteral("/data/Kept.mov")});
    EXPECT_TRUE(isBlacklistedPath(QStringLiteral("/data/a*b.mov")));
    EXPECT_FALSE(isBlacklistedPath(QStringLiteral("/data/a-other-b.mov")));
    // Another file that differs only in letter case is added on its own.
    c().addBlacklistPaths({QStringLiteral("/data/kept.mov")});
    EXPECT_TRUE(c().blacklistText().contains(QStringLiteral("=/data/kept.mov")));
    // The sheet shows the list in the palette's text colour and follows additions.
    c().showBlacklist();
    auto* field = qobject_cast<QPlainTextEdit*>(c().blacklistField.data());
    ASSERT_TRUE(field);
    EXPECT_EQ(field->toPlainText(), c().blacklistText());
    EXPECT_EQ(field->palette().color(QPalette::Text), QApplication::palette().color(QPalette::Text));
    c().addBlacklistPaths({QStringLiteral("/new/one.mov")});
    EXPECT_TRUE(field->toPlainText().contains(QStringLiteral("/new/one.mov")));
    // The sheet's text: lines trimmed, empty ones dropped, sorted; an empty text stores an empty list.
    c().blacklistOK(QStringLiteral("  /z/b  \n\n/a/c\n"));
    EXPECT_EQ(c().blacklistText(), QStringLiteral("/a/c\n/z/b"));
    EXPECT_FALSE(c().blacklistSheet->isVisible());
    c().blacklistOK(QString());
    EXPECT_EQ(platform::UserDefaults::standard().arrayForKey(QStringLiteral("Blacklist"))->count(), 0);
}

} // namespace
