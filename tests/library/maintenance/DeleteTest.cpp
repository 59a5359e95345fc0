// Deleting library items: the questions and their dry mode, the Trash and what is kept,
// the blacklist, the current movie, storages that stay, and Cancel changing nothing.
#include "library/maintenance/FilesFixture.h"

#include "platform/Paths.h"

#include <QtCore/QCoreApplication>

#include <algorithm>

using platform::Array;
using platform::Value;

namespace {

class DeleteTest : public FilesTest {};

TEST_F(DeleteTest, ThreeQuestionsTheirDryModeAndCancel)
{
    const auto m1 = movie(QStringLiteral("m1"));
    const auto m2 = movie(QStringLiteral("m2"));
    const auto empty = folder(QStringLiteral("Empty"));
    const auto full = folder(QStringLiteral("Full"), {v(m1)});
    const auto movies = library({v(empty), v(full), v(m2)});
    struct Case {
        Value item;
        QString key;
        QString text;
    } cases[] = {
        {v(empty), QStringLiteral("Delete Containers Without Confirmation"), QStringLiteral("Are you sure you want to delete the selected items?")},
        {v(full), QStringLiteral("Delete Items Without Confirmation"), QStringLiteral("Are you sure you want to delete the selected files from your library?")},
        {Value(m2->proxy()), QStringLiteral("Delete Smart Group Children Without Confirmation"),
         QStringLiteral("Are you sure you want to delete the selected files from your library?")},
    };
    QString removedKey;
    c()._maintenanceWindow.setConfirmationSwitch = [&](const QString& key, bool on) { removedKey = on ? QString() : key; };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.key.toStdString());
        const qsizetype before = movies->rawChildren()->count();
        bool required = false;
        EXPECT_FALSE(c().deleteItems(items({k.item}), &required, true, true, false));
        EXPECT_TRUE(required);
        EXPECT_TRUE(m_alerts.isEmpty());

        m_answers = {1}; // Cancel
        EXPECT_FALSE(c().deleteItems(items({k.item})));
        ASSERT_EQ(m_alerts.size(), 1);
        EXPECT_EQ(m_alerts[0].messageText, QStringLiteral("Delete Items?"));
        EXPECT_EQ(m_alerts[0].informativeText, k.text);
        EXPECT_EQ(m_alerts[0].buttons,
                  QStringList({QStringLiteral("Delete"), QStringLiteral("Cancel"), QStringLiteral("Delete and Stop Asking for Confirmation")}));
        EXPECT_EQ(movies->rawChildren()->count(), before);

        m_alerts.clear();
        m_answers = {2}; // delete, and stop asking
        EXPECT_TRUE(c().deleteItems(items({k.item})));
        EXPECT_EQ(movies->rawChildren()->count(), before - 1);
        EXPECT_TRUE(platform::UserDefaults::standard().boolForKey(k.key));
        EXPECT_EQ(removedKey, k.key);
        m_alerts.clear();
        c().invalidateLibraryDependencies();
    }
    // Every question off: the dry mode leaves its flag as the caller set it.
    const auto again = folder(QStringLiteral("Again"));
    movies->rawChildren()->append(v(again));
    bool required = false;
    EXPECT_FALSE(c().deleteItems(items({v(again)}), &required, true, true, false));
    EXPECT_FALSE(required);
    EXPECT_EQ(movies->rawChildren()->count(), 1);
}

TEST_F(DeleteTest, TheImagesOfADeletedMovieGoWithItAndNoOthers)
{
    // The controller's own wiring: no hook is set by the test.
    setDefault(QStringLiteral("Delete Items Without Confirmation"), true);
    const auto gone = movie(QStringLiteral("gone"));
    const auto kept = movie(QStringLiteral("kept"));
    library({v(gone), v(kept)});
    QStringList goneFiles, keptFiles;
    for (const auto& [record, files] : {std::pair{gone, &goneFiles}, std::pair{kept, &keptFiles}}) {
        const QString id = record->uniqueLibraryID();
        *files << c().coverImageDirectoryPath() + QLatin1Char('/') + id + QStringLiteral(".jpg")
               << c().coverImageDirectoryPath() + QStringLiteral("/_/") + id + QStringLiteral(".jpg")
               << c().posterImageDirectoryPath() + QLatin1Char('/') + id + QStringLiteral(".jpg")
               << c().standardIndexImagesDirectoryPath() + QLatin1Char('/') + id + QStringLiteral("/1 (0.50).jpg");
        for (const QString& file : std::as_const(*files)) {
            QDir().mkpath(QFileInfo(file).path());
            testsupport::writeFile(file, "jpeg");
        }
    }
    ASSERT_TRUE(c().deleteItems(items({v(gone)}), nullptr, true, true, false));
    EXPECT_TRUE(testsupport::waitUntil([&] {
        QCoreApplication::processEvents();
        return std::none_of(goneFiles.begin(), goneFiles.end(), [](const QString& f) { return exists(f); })
            && !exists(QFileInfo(goneFiles.last()).path());
    }, 10000)) << goneFiles.join(QLatin1Char(' ')).toStdString();
    for (const QString& file : std::as_const(keptFiles))
        EXPECT_TRUE(exists(file)) << file.toStdString();
}

TEST_F(DeleteTest, StaticPlaylistEntriesLeaveOnlyWhenConfirmed)
{
    const auto m1 = movie(QStringLiteral("m1"));
    const auto m2 = movie(QStringLiteral("m2"));
    const auto movies = library({v(m1), v(m2)});
    const auto playlist = folder(QStringLiteral("P"));
    playlist->setValue(QStringLiteral("Static Proxies"), Value(Array::make({m1->uniqueLibraryID(), m2->uniqueLibraryID()})));
    c().smartGroupStorage()->rawChildren()->append(v(playlist));
    c().invalidateLibraryDependencies();
    const auto shown = playlist->filteredChildren();
    ASSERT_EQ(shown->count(), 2);
    const Value entry = shown->at(0);
    ASSERT_TRUE(PMMovie(entry)->isStaticPlaylistProxy());

    // With a movie of the library: Cancel keeps the entry too.
    m_answers = {1};
    EXPECT_FALSE(c().deleteItems(items({entry, v(m2)})));
    EXPECT_EQ(playlist->value(QStringLiteral("Static Proxies")).array()->count(), 2);
    EXPECT_EQ(movies->rawChildren()->count(), 2);

    // Alone: no question, only the playlist changes.
    m_alerts.clear();
    EXPECT_TRUE(c().deleteItems(items({entry})));
    EXPECT_TRUE(m_alerts.isEmpty());
    EXPECT_EQ(playlist->value(QStringLiteral("Static Proxies")).array()->count(), 1);
    EXPECT_EQ(movies->rawChildren()->count(), 2);
}

TEST_F(DeleteTest, QuestionsThatNobodyCanAnswerKeepTheFiles)
{
    // No screen and no handler: nobody answers (a quit at the end of the session).
    platform::setAlertHandler(nullptr);
    const auto first = fileMovie(m_library + QStringLiteral("/first.mov"));
    const auto second = fileMovie(m_library + QStringLiteral("/second.mov"));
    const auto movies = library({v(first), v(second)});

    // The deletion question cancels.
    EXPECT_FALSE(c().deleteItems(items({v(first)})));
    EXPECT_EQ(movies->rawChildren()->count(), 2);
    EXPECT_TRUE(exists(m_library + QStringLiteral("/first.mov")));

    // The Trash question alone, as the quit asks it when it clears the temporary storage:
    // the record goes, the file stays.
    ASSERT_TRUE(c().deleteItems(items({v(second)}), nullptr, false, true, false));
    EXPECT_EQ(names(movies->rawChildren()), QStringList({QStringLiteral("first")}));
    EXPECT_TRUE(exists(m_library + QStringLiteral("/second.mov")));
}

TEST_F(DeleteTest, FilesInTheLibraryFolderGoToTheTrashOrStayBlacklisted)
{
    const auto inside = fileMovie(m_library + QStringLiteral("/A/B/in.mov"));
    const auto kept = fileMovie(m_library + QStringLiteral("/kept.mov"));
    const auto outside = fileMovie(m_outside + QStringLiteral("/out.mov"));
    const auto movies = library({v(inside), v(kept), v(outside)});

    // The deletion question was asked: the Trash question has two buttons.
    m_answers = {0, 0};
    ASSERT_TRUE(c().deleteItems(items({v(inside), v(outside)})));
    ASSERT_EQ(m_alerts.size(), 2);
    EXPECT_EQ(m_alerts[1].messageText, QStringLiteral("Move Files to Trash?"));
    EXPECT_EQ(m_alerts[1].buttons, QStringList({QStringLiteral("Move Files to Trash"), QStringLiteral("Keep Files")}));
    EXPECT_TRUE(m_alerts[1].informativeText.contains(QStringLiteral("• ")));
    EXPECT_FALSE(exists(m_library + QStringLiteral("/A/B/in.mov")));
    EXPECT_FALSE(exists(m_library + QStringLiteral("/A"))); // emptied folders go, up to the library folder
    EXPECT_TRUE(exists(m_library));
    EXPECT_TRUE(exists(m_outside + QStringLiteral("/out.mov"))); // outside: never trashed
    EXPECT_EQ(names(movies->rawChildren()), QStringList({QStringLiteral("kept")}));

    // Without the deletion question: three buttons; Cancel changes nothing, Keep Files
    // keeps the file and blacklists it.
    c().invalidateLibraryDependencies();
    setDefault(QStringLiteral("Delete Items Without Confirmation"), true);
    m_alerts.clear();
    m_answers = {1};
    EXPECT_FALSE(c().deleteItems(items({v(kept)})));
    ASSERT_EQ(m_alerts.size(), 1);
    EXPECT_EQ(m_alerts[0].buttons, QStringList({QStringLiteral("Move Files to Trash"), QStringLiteral("Cancel"), QStringLiteral("Keep Files")}));
    EXPECT_EQ(movies->rawChildren()->count(), 1);
    bool required = false;
    EXPECT_FALSE(c().deleteItems(items({v(kept)}), &required, true, true, false));
    EXPECT_TRUE(required);
    m_answers = {2};
    EXPECT_TRUE(c().deleteItems(items({v(kept)})));
    EXPECT_TRUE(exists(m_library + QStringLiteral("/kept.mov")));
    EXPECT_TRUE(movies->rawChildren()->isEmpty());
    EXPECT_EQ(platform::UserDefaults::standard().arrayForKey(QStringLiteral("Blacklist"))->at(0).string(),
              u'=' + platform::stringByAbbreviatingWithTildeInPath(m_library + QStringLiteral("/kept.mov")));
}

TEST_F(DeleteTest, AFileAnotherRecordStillNamesIsNeverTrashed)
{
    const QString path = m_library + QStringLiteral("/shared.mov");
    const auto first = fileMovie(path);
    const auto second = PMMovieRepresentationOriginal::movieRepresentationWithPath(path);
    const auto movies = library({v(first)});
    c().temporaryStorage()->rawChildren()->append(v(second));
    setDefault(QStringLiteral("Move Files To Trash Without Confirmation"), true);
    setDefault(QStringLiteral("Delete Items Without Confirmation"), true);
    ASSERT_TRUE(c().deleteItems(items({v(first)})));
    EXPECT_TRUE(exists(path));
    // The last record that names it takes it along.
    ASSERT_TRUE(c().deleteItems(items({v(second)})));
    EXPECT_FALSE(exists(path));
    // With "Do Not Organize Library Folder" nothing goes to the Trash.
    const auto third = fileMovie(m_library + QStringLiteral("/third.mov"));
    movies->rawChildren()->append(v(third));
    setDefault(QStringLiteral("Do Not Organize Library Folder"), true);
    ASSERT_TRUE(c().deleteItems(items({v(third)})));
    EXPECT_TRUE(exists(m_library + QStringLiteral("/third.mov")));
}

TEST_F(DeleteTest, AFileAnotherRecordReachesThroughALinkOrABundleIsNeverTrashed)
{
    setDefault(QStringLiteral("Move Files To Trash Without Confirmation"), true);
    setDefault(QStringLiteral("Delete Items Without Confirmation"), true);
    // The same file through a linked folder.
    const auto real = fileMovie(m_library + QStringLiteral("/Real/clip.mov"), "clip");
    ASSERT_TRUE(QFile::link(m_library + QStringLiteral("/Real"), m_library + QStringLiteral("/Linked")));
    const auto throughLink = PMMovieRepresentationOriginal::movieRepresentationWithPath(m_library + QStringLiteral("/Linked/clip.mov"));
    // A part of a bundle that has a record of its own.
    QDir().mkpath(m_library + QStringLiteral("/Trip.mseq"));
    testsupport::writeFile(m_library + QStringLiteral("/Trip.mseq/1.mov"), "part");
    const auto bundle = PMMovieRepresentationOriginal::movieRepresentationWithPath(m_library + QStringLiteral("/Trip.mseq"));
    const auto part = PMMovieRepresentationOriginal::movieRepresentationWithPath(m_library + QStringLiteral("/Trip.mseq/1.mov"));
    const auto movies = library({v(real), v(bundle)});
    c().temporaryStorage()->rawChildren()->append(v(throughLink));
    c().temporaryStorage()->rawChildren()->append(v(part));
    c().invalidateLibraryDependencies();

    ASSERT_TRUE(c().deleteItems(items({v(real), v(bundle)})));
    EXPECT_TRUE(movies->rawChildren()->isEmpty());
    EXPECT_EQ(testsupport::readFile(m_library + QStringLiteral("/Real/clip.mov")), QByteArray("clip")) << "trashed through a linked folder";
    EXPECT_EQ(testsupport::readFile(m_library + QStringLiteral("/Trip.mseq/1.mov")), QByteArray("part")) << "trashed inside a bundle";
    EXPECT_FALSE(throughLink->isMissing());
    // A part whose bundle stays in the library stays too.
    c().pellisSourceStorageSection()->rawChildren()->append(v(bundle));
    c().invalidateLibraryDependencies();
    ASSERT_TRUE(c().deleteItems(items({v(part)})));
    EXPECT_TRUE(exists(m_library + QStringLiteral("/Trip.mseq/1.mov")));
}

TEST_F(DeleteTest, ClearingThePlaylistAsksBeforeTrashingItsFiles)
{
    const auto moved = fileMovie(m_library + QStringLiteral("/Temporary/moved.mov"), "moved");
    library({});
    c().temporaryStorage()->rawChildren()->append(v(moved));
    c().invalidateLibraryDependencies();
    m_answers = {1}; // Keep Files
    c().clearPlaylist();
    EXPECT_EQ(alertTitles(), QStringList{QStringLiteral("Move Files to Trash?")});
    EXPECT_TRUE(c().temporaryStorage()->rawChildren()->isEmpty());
    EXPECT_EQ(testsupport::readFile(m_library + QStringLiteral("/Temporary/moved.mov")), QByteArray("moved"));
}

TEST_F(DeleteTest, ExternalMediaItemsAreBlacklistedNotRemoved)
{
    const auto external = fileMovie(m_outside + QStringLiteral("/music video.m4v"));
    external->m_associatedMLMediaObject = Value(QStringLiteral("media object"));
    const auto section = c().iTunesSourceStorageSection();
    section->rawChildren()->append(v(external));
    c().invalidateLibraryDependencies();
    m_answers = {0};
    ASSERT_TRUE(c().deleteItems(items({v(external)})));
    EXPECT_EQ(m_alerts[0].informativeText, QStringLiteral("Are you sure you want to delete the selected items?"));
    EXPECT_EQ(section->rawChildren()->count(), 1);
    EXPECT_TRUE(exists(m_outside + QStringLiteral("/music video.m4v")));
    const auto blacklist = platform::UserDefaults::standard().arrayForKey(QStringLiteral("Blacklist"));
    ASSERT_TRUE(blacklist);
    EXPECT_EQ(blacklist->count(), 1);
}

TEST_F(DeleteTest, TheCurrentMovieIsLetGoAndStoragesStay)
{
    const auto m1 = movie(QStringLiteral("m1"));
    const auto box = folder(QStringLiteral("Box"), {v(m1)});
    const auto movies = library({v(box)});
    c()._currentMovieRepresentation = v(m1);
    // Presenting it: the presentation ends with it.
    c()._isPresenting = true;
    setDefault(QStringLiteral("Delete Items Without Confirmation"), true);
    ASSERT_TRUE(c().deleteItems(items({v(box)})));
    EXPECT_TRUE(c()._currentMovieRepresentation.isNull());
    EXPECT_FALSE(c()._isPresenting);
    EXPECT_TRUE(movies->rawChildren()->isEmpty());

    // Top-level storages are never removed; nothing to delete beeps.
    const auto storages = items({v(c().temporaryStorage()), v(c().existingSourceStorage())});
    const qsizetype top = c()._library->count();
    EXPECT_FALSE(c().deleteItems(storages, nullptr, false, false, true));
    EXPECT_EQ(c()._library->count(), top);
    EXPECT_FALSE(c().canDragOrDeleteItems(items({v(c().temporaryStorage())}), nullptr, nullptr));
    const int beeps = platform::beepCount();
    EXPECT_FALSE(c().deleteItems(Array::make()));
    EXPECT_EQ(platform::beepCount(), beeps + 1);
}

} // namespace
