// Organising the library folder: the folder layout, automatic names, free names for taken
// ones, transfers that fail leaving the file where it was, Move All and Copy All with their
// progress and Cancel, emptied folders, and the names list of confirmations.
#include "library/maintenance/FilesFixture.h"

#include "library/maintenance/PMMaintenanceShared.h"
#include "library/model/PMCachedSettings.h"
#include "platform/FileOperations.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QProcess>

#include <sys/stat.h>
#include <unistd.h>

using platform::Array;
using platform::Value;

namespace {

class OrganizeTest : public FilesTest {
protected:
    void TearDown() override
    {
        PMCachedSettings::determineNamesAutomatically = false;
        platform::setFileOperationTestHooks(nullptr);
        FilesTest::TearDown();
    }
};

TEST_F(OrganizeTest, FilesMoveToTheFolderLayoutOnceAndStayThere)
{
    const auto holiday = fileMovie(m_library + QStringLiteral("/loose/Holiday.mov"), "holiday");
    const auto beach = fileMovie(m_library + QStringLiteral("/Trips/Summer/beach.mp4"), "beach");
    const auto summer = folder(QStringLiteral("Summer"), {v(beach)});
    const auto trips = folder(QStringLiteral("Trips"), {v(holiday), v(summer)});
    library({v(trips)});
    // Taken by a file the library does not know: the record gets the next free name.
    testsupport::writeFile(m_library + QStringLiteral("/Trips/Holiday.mov"), "someone else's");

    EXPECT_TRUE(c().organizeLibraryFiles());
    EXPECT_EQ(holiday->path(), m_library + QStringLiteral("/Trips/Holiday 1.mov"));
    EXPECT_EQ(testsupport::readFile(holiday->path()), QByteArray("holiday"));
    EXPECT_EQ(testsupport::readFile(m_library + QStringLiteral("/Trips/Holiday.mov")), QByteArray("someone else's"));
    EXPECT_EQ(beach->path(), m_library + QStringLiteral("/Trips/Summer/beach.mp4"));
    EXPECT_FALSE(exists(m_library + QStringLiteral("/loose"))); // the emptied folder went
    // In place (the free-name search finds the record's own file): nothing moves again.
    EXPECT_FALSE(c().organizeLibraryFiles()) << holiday->path().toStdString() << " " << beach->path().toStdString();
    EXPECT_EQ(filesBelow(m_library), QStringList({QStringLiteral("Trips/Holiday 1.mov"), QStringLiteral("Trips/Holiday.mov"),
                                                  QStringLiteral("Trips/Summer/beach.mp4")}));
}

TEST_F(OrganizeTest, AutomaticNamesNumberEqualNamesAndNeverReachTheIndex)
{
    const auto first = fileMovie(m_library + QStringLiteral("/a.mov"), "a");
    const auto second = fileMovie(m_library + QStringLiteral("/b.mp4"), "b");
    PMMainController::installSeriesServices();
    setDefault(QStringLiteral("Determine Names Automatically: Pattern"), QString());
    first->setValue(QStringLiteral("Holiday"), QStringLiteral("Title"));
    second->setValue(QStringLiteral("Holiday"), QStringLiteral("Title"));
    library({v(first), v(second)});
    PMCachedSettings::determineNamesAutomatically = true;
    EXPECT_TRUE(c().organizeLibraryFiles());
    // Numbered in the order of their oldest dates, each keeping its extension.
    const QString firstName = QFileInfo(first->path()).fileName();
    const QString secondName = QFileInfo(second->path()).fileName();
    EXPECT_TRUE(firstName.endsWith(QStringLiteral(".mov")));
    EXPECT_TRUE(secondName.endsWith(QStringLiteral(".mp4")));
    EXPECT_EQ(QSet<QString>({firstName.section(u'.', 0, 0), secondName.section(u'.', 0, 0)}),
              QSet<QString>({QStringLiteral("Holiday 1"), QStringLiteral("Holiday 2")}));
    EXPECT_EQ(filesBelow(m_library).size(), 2);
    // Saved in the same turn: the transient name stays out of the index.
    Array saved;
    c().populateSaveArray(saved, c()._library, nullptr);
    EXPECT_FALSE(platform::describe(Value(std::make_shared<Array>(saved))).contains(QStringLiteral("Auto-Filename")));
    EXPECT_TRUE(first->userSettings()->contains(QStringLiteral("Auto-Filename")));
    // The next turn of the run loop forgets them.
    QCoreApplication::processEvents();
    EXPECT_FALSE(first->userSettings()->contains(QStringLiteral("Auto-Filename")));
}

TEST_F(OrganizeTest, ATransferThatFailsLeavesTheFileWhereItWas)
{
    const auto record = fileMovie(m_outside + QStringLiteral("/far.mov"), "far away");
    library({v(record)});
    // Across devices the copy is made aside and checked before the source goes: a copy
    // that fails half-way leaves the source and no partial file.
    platform::FileOperationTestHooks hooks;
    hooks.simulateCrossDevice = true;
    hooks.afterCopy = [](const QString&, const QString&) { return false; };
    platform::setFileOperationTestHooks(&hooks);
    m_answers = {0};
    c().moveAllToLibraryFolder();
    EXPECT_EQ(record->path(), m_outside + QStringLiteral("/far.mov"));
    EXPECT_EQ(testsupport::readFile(record->path()), QByteArray("far away"));
    EXPECT_EQ(filesBelow(m_library).filter(QStringLiteral(".mov")), QStringList());
    ASSERT_EQ(m_alerts.size(), 2);
    EXPECT_EQ(m_alerts[1].messageText, QStringLiteral("Some Files Could Not Be Moved"));
    EXPECT_TRUE(m_alerts[1].informativeText.contains(QStringLiteral("far")));

    // A folder that cannot be made (a file holds its name): nothing moves.
    platform::setFileOperationTestHooks(nullptr);
    const auto boxed = fileMovie(m_outside + QStringLiteral("/boxed.mov"), "boxed");
    const auto box = folder(QStringLiteral("Box"), {v(boxed)});
    c().pellisSourceStorageSection()->rawChildren()->append(v(box));
    c().invalidateLibraryDependencies();
    testsupport::writeFile(m_library + QStringLiteral("/Box"), "not a folder");
    PMMainController::FileLocationsRequest request;
    request.items = items({v(box)});
    request.move = true;
    EXPECT_FALSE(c().updateFileLocations(request));
    EXPECT_EQ(testsupport::readFile(m_outside + QStringLiteral("/boxed.mov")), QByteArray("boxed"));
}

TEST_F(OrganizeTest, MoveAllAndCopyAllAskForFilesOutsideOnly)
{
    const auto inside = fileMovie(m_library + QStringLiteral("/in.mov"), "in");
    const auto a = fileMovie(m_outside + QStringLiteral("/a.mov"), "a");
    const auto b = fileMovie(m_outside + QStringLiteral("/b.mov"), "b");
    library({v(inside), v(a)});
    c().temporaryStorage()->rawChildren()->append(v(b));
    c().invalidateLibraryDependencies();

    m_answers = {1}; // Cancel
    c().copyAllToLibraryFolder();
    ASSERT_EQ(m_alerts.size(), 1);
    EXPECT_EQ(m_alerts[0].messageText, QStringLiteral("Copy Files to Library Folder?"));
    EXPECT_EQ(m_alerts[0].buttons, QStringList({QStringLiteral("Copy Files"), QStringLiteral("Cancel")}));
    EXPECT_TRUE(m_alerts[0].informativeText.contains(QStringLiteral("• a\n• b")));
    EXPECT_EQ(a->path(), m_outside + QStringLiteral("/a.mov"));

    m_answers = {0};
    c().copyAllToLibraryFolder();
    EXPECT_EQ(a->path(), m_library + QStringLiteral("/a.mov"));
    EXPECT_EQ(b->path(), m_library + QStringLiteral("/Temporary/b.mov"));
    EXPECT_TRUE(exists(m_outside + QStringLiteral("/a.mov")));

    // Nothing outside: no question.
    m_alerts.clear();
    c().moveAllToLibraryFolder();
    EXPECT_TRUE(m_alerts.isEmpty());
}

TEST_F(OrganizeTest, CancellingTheProgressOnItsFirstUpdateMovesNothing)
{
    QList<PMMovieRepresentationOriginalPtr> records;
    for (int i = 0; i < 3; ++i)
        records << fileMovie(m_outside + QStringLiteral("/%1.mov").arg(i), "x");
    library({v(records[0]), v(records[1]), v(records[2])});
    QList<int> percents;
    QStringList texts;
    c()._maintenanceWindow.progressUpdate = [&](const QString& text, int percent) {
        texts << text;
        percents << percent;
    };
    c()._maintenanceWindow.progressCancelPressed = [] { return true; };
    PMMainController::FileLocationsRequest request;
    request.items = items({v(records[0]), v(records[1]), v(records[2])});
    request.copy = true;
    request.showProgress = QStringLiteral("Copying file %@ of %@: %@");
    request.startDate = platform::Date::now();
    c().showProgressSheet(true);
    EXPECT_FALSE(c().updateFileLocations(request));
    c().hideProgressSheet();
    EXPECT_EQ(texts, QStringList({QStringLiteral("Copying file 1 of 3: 0")}));
    EXPECT_EQ(percents, QList<int>({25}));
    EXPECT_EQ(filesBelow(m_library).filter(QStringLiteral(".mov")), QStringList());
    // With a progress text, runTwice runs once.
    c()._maintenanceWindow.progressCancelPressed = nullptr;
    request.runTwice = true;
    texts.clear();
    c().showProgressSheet(true);
    EXPECT_TRUE(c().updateFileLocations(request));
    c().hideProgressSheet();
    EXPECT_EQ(texts.size(), 4); // three files and the final 100
}

TEST_F(OrganizeTest, EmptiedFoldersGoUpToButNeverIncludingTheLibraryFolder)
{
    QDir().mkpath(m_library + QStringLiteral("/A/B"));
    testsupport::writeFile(m_library + QStringLiteral("/A/B/.directory"), "clutter");
    EXPECT_TRUE(c().deleteFolder(m_library + QStringLiteral("/A/B"), QStringList{m_library}));
    EXPECT_FALSE(exists(m_library + QStringLiteral("/A")));
    EXPECT_TRUE(exists(m_library));
    EXPECT_FALSE(c().deleteFolder(m_library, QStringList{m_library}));
    QDir().mkpath(m_outside + QStringLiteral("/C"));
    EXPECT_FALSE(c().deleteFolder(m_outside + QStringLiteral("/C"), QStringList{m_library}));
    EXPECT_TRUE(exists(m_outside + QStringLiteral("/C")));
}

TEST_F(OrganizeTest, NamesListShowsTenLinesAtMost)
{
    struct Case {
        int count;
        int lines;
        QString last;
    } cases[] = {{10, 10, QStringLiteral("• m09")}, {11, 10, QStringLiteral("• (2 more)")}, {1, 1, QStringLiteral("• m00")}};
    for (const Case& k : cases) {
        auto list = Array::make();
        QStringList files;
        for (int i = k.count - 1; i >= 0; --i) {
            list->append(v(movie(QStringLiteral("m%1").arg(i, 2, 10, QLatin1Char('0')))));
            files << QStringLiteral("/x/m%1.mov").arg(i, 2, 10, QLatin1Char('0'));
        }
        const QStringList lines = c().namesListForItems(list, true).split(u'\n');
        EXPECT_EQ(lines.size(), k.lines);
        EXPECT_EQ(lines.last(), k.last);
        EXPECT_EQ(c().namesListForItems(nullptr, files, true, false, {}).split(u'\n').last(), k.last);
    }
}

TEST_F(OrganizeTest, ACaseOnlyRenameHappens)
{
    const auto record = fileMovie(m_library + QStringLiteral("/holiday.mov"), "holiday");
    record->userSettings()->setValue(QStringLiteral("Name"), QStringLiteral("Holiday"));
    library({v(record)});
    EXPECT_TRUE(c().organizeLibraryFiles());
    EXPECT_EQ(record->path(), m_library + QStringLiteral("/Holiday.mov"));
    EXPECT_EQ(filesBelow(m_library), QStringList{QStringLiteral("Holiday.mov")});
    EXPECT_FALSE(c().organizeLibraryFiles()) << "in place now";
}

TEST_F(OrganizeTest, EveryRecordOfAMovedFileFollowsIt)
{
    const auto first = fileMovie(m_library + QStringLiteral("/loose/Trip.mov"), "trip");
    const auto second = PMMovieRepresentationOriginal::movieRepresentationWithPath(first->path());
    second->userSettings()->setValue(QStringLiteral("Name"), QStringLiteral("Trip"));
    const auto box = folder(QStringLiteral("Box"), {v(first)});
    library({v(box)});
    c().temporaryStorage()->rawChildren()->append(v(second));
    c().invalidateLibraryDependencies();
    EXPECT_TRUE(c().organizeLibraryFiles());
    EXPECT_EQ(first->path(), m_library + QStringLiteral("/Box/Trip.mov"));
    EXPECT_EQ(second->path(), first->path()) << "the second record was left at the old path";
    EXPECT_EQ(testsupport::readFile(second->path()), QByteArray("trip"));
    // Both records name one file: it is placed once, not moved back and forth.
    EXPECT_FALSE(c().organizeLibraryFiles());
    EXPECT_EQ(second->path(), first->path());
}

// A folder record copied to another file system whose original can be removed only in part
// (a read-only subfolder): the complete copy stays, with the record on it, and the error
// says what was left behind. Root removes anything, so the move runs as "nobody" in a child:
// a fresh run of this executable (a forked copy of a process whose threads have started
// could not start threads of its own).
struct PartialMoveOutcome {
    bool done = false;
    QString committed, error;
    bool reverted = false;
};

QString partialMoveSource(const QString& root)
{
    return root + QStringLiteral("/from/Clip.mseq");
}

QString partialMoveDestination(const QString& root)
{
    return root + QStringLiteral("/to/Clip.mseq");
}

PartialMoveOutcome movePartlyRemovable(const QString& root)
{
    platform::FileOperationTestHooks hooks;
    hooks.simulateCrossDevice = true;
    platform::setFileOperationTestHooks(&hooks);
    PartialMoveOutcome outcome;
    outcome.done = pmmaintenance::moveItemCommitting(
        partialMoveSource(root), partialMoveDestination(root), [&](const QString& path, bool) { outcome.committed = path; },
        [&] { outcome.reverted = true; }, &outcome.error);
    platform::setFileOperationTestHooks(nullptr);
    return outcome;
}

const uid_t kNobody = 65534;

// The child: the move as "nobody", its outcome written to the file the parent names.
TEST(OrganizeAsNobodyChild, Run)
{
    const QString root = qEnvironmentVariable("PELLIS_PARTIAL_MOVE_ROOT");
    const QString reportPath = qEnvironmentVariable("PELLIS_PARTIAL_MOVE_REPORT");
    if (root.isEmpty() || reportPath.isEmpty())
        GTEST_SKIP() << "run by the partial move test";
    QFile report(reportPath);
    ASSERT_TRUE(report.open(QIODevice::WriteOnly)); // opened as root, written as nobody
    ASSERT_EQ(::setgid(kNobody), 0);
    ASSERT_EQ(::setuid(kNobody), 0);
    const PartialMoveOutcome o = movePartlyRemovable(root);
    const QByteArray text = QByteArray(o.done ? "1" : "0") + (o.reverted ? "1" : "0") + '\n' + o.committed.toUtf8() + '\n' + o.error.toUtf8();
    ASSERT_EQ(report.write(text), text.size());
    ASSERT_TRUE(report.flush());
}

TEST_F(OrganizeTest, AFolderMovedAcrossFileSystemsKeepsItsCopyWhenTheOriginalStaysInPart)
{
    char pattern[] = "/tmp/pellis-partial-XXXXXX";
    ASSERT_TRUE(mkdtemp(pattern));
    const QString root = QString::fromLocal8Bit(pattern);
    const QString source = partialMoveSource(root);
    const QString destination = partialMoveDestination(root);
    QDir().mkpath(source + QStringLiteral("/locked"));
    QDir().mkpath(root + QStringLiteral("/to"));
    testsupport::writeFile(source + QStringLiteral("/1.mov"), "one");
    testsupport::writeFile(source + QStringLiteral("/locked/2.mov"), "two");
    const bool asRoot = ::geteuid() == 0;
    if (asRoot) {
        for (const QString& path : {root, root + QStringLiteral("/from"), root + QStringLiteral("/to"), source, source + QStringLiteral("/1.mov"),
                                    source + QStringLiteral("/locked"), source + QStringLiteral("/locked/2.mov")})
            ASSERT_EQ(::chown(QFile::encodeName(path).constData(), kNobody, kNobody), 0);
        ::chmod(pattern, 0755);
    }
    ::chmod(QFile::encodeName(source + QStringLiteral("/locked")).constData(), 0555);

    PartialMoveOutcome outcome;
    if (!asRoot) {
        outcome = movePartlyRemovable(root);
    } else {
        const QString reportPath = QDir(m_outside).filePath(QStringLiteral("partial-move-report"));
        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("PELLIS_PARTIAL_MOVE_ROOT"), root);
        environment.insert(QStringLiteral("PELLIS_PARTIAL_MOVE_REPORT"), reportPath);
        child.setProcessEnvironment(environment);
        child.setProcessChannelMode(QProcess::MergedChannels);
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--gtest_filter=OrganizeAsNobodyChild.Run")});
        ASSERT_TRUE(child.waitForStarted());
        ASSERT_TRUE(child.waitForFinished(-1));
        ASSERT_TRUE(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0)
            << "the child as nobody failed: " << child.readAll().toStdString();
        const QList<QByteArray> lines = testsupport::readFile(reportPath).split('\n');
        ASSERT_GE(lines.size(), 3);
        outcome.done = lines[0].startsWith('1');
        outcome.reverted = lines[0].endsWith('1');
        outcome.committed = QString::fromUtf8(lines[1]);
        outcome.error = QString::fromUtf8(lines.mid(2).join('\n'));
    }
    EXPECT_TRUE(outcome.done) << outcome.error.toStdString();
    EXPECT_FALSE(outcome.reverted);
    EXPECT_EQ(outcome.committed, destination);
    EXPECT_EQ(testsupport::readFile(destination + QStringLiteral("/1.mov")), QByteArray("one")) << "the complete copy was deleted";
    EXPECT_EQ(testsupport::readFile(destination + QStringLiteral("/locked/2.mov")), QByteArray("two"));
    EXPECT_TRUE(exists(source + QStringLiteral("/locked/2.mov"))); // what could not be removed
    EXPECT_TRUE(outcome.error.contains(source)) << outcome.error.toStdString();
    ::chmod(QFile::encodeName(source + QStringLiteral("/locked")).constData(), 0755);
    QDir(root).removeRecursively();
}

} // namespace
