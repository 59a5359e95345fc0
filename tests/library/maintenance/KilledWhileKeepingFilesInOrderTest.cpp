// The program killed (kill -9) at random moments while it organises the library folder
// (also onto another file system), moves files into it, moves them to another library
// folder, merges them into a bundle, deletes them to the Trash, renames them in a batch or
// saves the movie made of an animation:
// every file is afterwards at its old place or its new one, whole, and the library index
// loads with every record pointing at an existing file of its own. After a batch rename
// the library keeps either all new names or all old ones, and offers none of its own
// files as new ones.
//
// This test binary runs itself as the program being killed: the child test below does one
// operation on a library that the parent prepared, and is skipped in an ordinary run.
#include "library/maintenance/FilesFixture.h"

#include "library/model/PMMovie.h"
#include "platform/FileOperations.h"
#include "platform/Responder.h"
#include "platform/SavePanel.h"
#include "platform/Trash.h"
#include "ui/commands/PMInfoPanel.h"
#include "ui/commands/PMMetaReferenceTokenField.h"
#include "ui/commands/PMSaveConvertedMovie.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QElapsedTimer>
#include <QtCore/QProcess>
#include <QtCore/QRandomGenerator>
#include <QtCore/QRegularExpression>
#include <QtCore/QTemporaryDir>
#include <QtCore/QThread>
#include <QtGui/QAction>
#include <QtWidgets/QCheckBox>
#include <QtWidgets/QComboBox>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QPushButton>

#include <cctype>
#include <csignal>
#include <memory>
#include <sys/stat.h>

using platform::Array;
using platform::Value;

namespace {

// Moves across file systems save the index after every file: fewer files keep them quick,
// except onto the memory file system, where a save costs little. A merge puts its parts
// into one bundle. A batch rename renames as many movies as a user's selection may hold.
int filesFor(const QString& op)
{
    if (op == QLatin1String("merge"))
        return 24;
    if (op == QLatin1String("rename") || op.endsWith(QLatin1String("-tmpfs")))
        return 200;
    if (op == QLatin1String("saveasmovie"))
        return 0;
    return op.endsWith(QLatin1String("-across")) ? 20 : 150;
}

// The number in a movie's name ("f012", "renamed f012"); -1 for none.
int numberInName(const QString& name)
{
    static const QRegularExpression number(QStringLiteral("f(\\d+)$"));
    const QRegularExpressionMatch match = number.match(name);
    return match.hasMatch() ? match.captured(1).toInt() : -1;
}

// Whether the two folders lie on different devices.
bool onAnotherDevice(const QString& folder, const QString& other)
{
    struct stat a, b;
    return ::stat(QFile::encodeName(folder).constData(), &a) == 0 && ::stat(QFile::encodeName(other).constData(), &b) == 0 && a.st_dev != b.st_dev;
}

QByteArray content(int i)
{
    return QByteArray("file-") + QByteArray::number(i) + QByteArray(2048, char('a' + i % 26));
}

QString name(int i)
{
    return QStringLiteral("f%1").arg(i, 3, 10, QLatin1Char('0'));
}

// The library folder lies below `libraryRoot` (another file system for some runs).
struct Paths {
    QString root, library, outside, second, trash, ready, elapsed, saved, converted;
    explicit Paths(const QString& r, const QString& libraryRoot = QString())
        : root(r), library((libraryRoot.isEmpty() ? r : libraryRoot) + QStringLiteral("/library")), outside(r + QStringLiteral("/outside")),
          second(r + QStringLiteral("/second")), trash(r + QStringLiteral("/trash")), ready(r + QStringLiteral("/ready")),
          elapsed(r + QStringLiteral("/elapsed")), saved(r + QStringLiteral("/saved")), converted(r + QStringLiteral("/converted"))
    {
    }
};

// The movie saved from the animation, and what the folder it goes to held before.
const QString kSavedMovieName = QStringLiteral("Bouncing.mp4");
const QByteArray kNeighbourContent = "someone else's movie";

// The child: loads the library and does the operation.
TEST(KilledWhileKeepingFilesInOrderChild, Run)
{
    const QString op = qEnvironmentVariable("PELLIS_FAULT_OP");
    if (op.isEmpty())
        GTEST_SKIP() << "run by the fault test";
    const Paths p(qEnvironmentVariable("PELLIS_FAULT_ROOT"), qEnvironmentVariable("PELLIS_FAULT_LIBRARY_ROOT"));
    PMMainController& c = mainController();
    c.resetForTesting();
    platform::UserDefaults::standard().setObject(Value(p.library), QStringLiteral("Library Path"));
    for (const char* key : {"Delete Items Without Confirmation", "Delete Containers Without Confirmation", "Move Files To Trash Without Confirmation"})
        platform::UserDefaults::standard().setBool(true, QString::fromUtf8(key));
    platform::setAlertHandler([](const platform::Alert&) { return platform::AlertResponse{0, false}; });
    // Another file system: every move is a copy, flushed and checked, then the source goes.
    static platform::FileOperationTestHooks crossDevice;
    crossDevice.simulateCrossDevice = true;
    if (op.endsWith(QLatin1String("-across")) || qEnvironmentVariableIsSet("PELLIS_FAULT_SIMULATE_ACROSS"))
        platform::setFileOperationTestHooks(&crossDevice);
    platform::setTrashImplementationForTesting([p](const QString& path, QString* getPathInTrash) {
        return platform::moveItem(path, p.trash + u'/' + QFileInfo(path).fileName(), platform::NameConflict::UseFreeName, getPathInTrash);
    });
    c.loadLibrary();
    c.invalidateLibraryDependencies();
    c._libraryIsLoaded = true;
    // What the user did before the moment that counts: the info panel filled in, the
    // animation converted.
    std::unique_ptr<QAction> infoItem;
    QString converted;
    if (op == QLatin1String("rename")) {
        auto all = Array::make();
        for (const Value& v : *c.pellisSourceStorageSection()->rawChildren())
            all->append(v);
        infoItem = std::make_unique<QAction>();
        platform::setMenuItemTag(infoItem.get(), 1);
        platform::setMenuItemRepresentedObject(infoItem.get(), Value(PMMainController::PMInfoScopeRecord(all, nullptr)));
        c.showMovieInfo(infoItem.get());
        ASSERT_TRUE(c._infoPanel);
        PMInfoPanel& panel = *c._infoPanel;
        ASSERT_TRUE(panel.infoBatchRenameSwitch->isChecked());
        panel.infoBatchRenameActionSelector->setCurrentIndex(panel.infoBatchRenameActionSelector->findData(1));
        c.infoChangeBatchRenameAction(panel.infoBatchRenameActionSelector);
        panel.infoBatchRenameFFindField->setText(QStringLiteral("f"));
        panel.infoBatchRenameFReplaceField->setStringValue(QStringLiteral("renamed f"));
        c.readInfoBatchRenameFields();
        ASSERT_EQ(c._infoBatchRenameStatus, QStringLiteral("200 of 200 names affected"));
    } else if (op == QLatin1String("saveasmovie")) {
        PMSetConvertsAnimatedImagesToMovies(true);
        PMMovieRepresentationPrototype* gif = PMMovie(c.pellisSourceStorageSection()->rawChildren()->at(0));
        ASSERT_TRUE(gif);
        ASSERT_TRUE(PMMovie::assetWithURL(QUrl::fromLocalFile(p.library + QStringLiteral("/Bouncing.gif")), gif->uniqueLibraryID(), platform::ArrayPtr()));
        converted = PMAutoConvertedAssetPath(gif->uniqueLibraryID());
        ASSERT_FALSE(converted.isEmpty());
        testsupport::writeFile(p.converted, testsupport::readFile(converted));
        platform::setSavePanelHandler([p](const platform::SavePanel&) { return p.saved + u'/' + kSavedMovieName; });
    }
    QElapsedTimer timer;
    testsupport::writeFile(p.ready, "ready");
    timer.start();
    if (op == QLatin1String("rename")) {
        c.infoOK(c._infoPanel->okButton);
    } else if (op == QLatin1String("saveasmovie")) {
        PMSaveConvertedMovie(converted, QStringLiteral("Bouncing"));
    } else if (op.startsWith(QLatin1String("organize"))) {
        c.organizeLibraryFilesCommand();
    } else if (op.startsWith(QLatin1String("moveall"))) {
        c.moveAllToLibraryFolder();
    } else if (op.startsWith(QLatin1String("movefolder"))) {
        auto all = Array::make();
        for (const Value& v : *c.pellisSourceStorageSection()->rawChildren())
            all->append(v);
        c.moveToLibraryFolder(p.second, all);
        ASSERT_TRUE(testsupport::waitUntil([&] { return c._nonLibraryFilesCheckSuppressionLevel == 0; }, 60000));
    } else if (op == QLatin1String("delete")) {
        auto half = Array::make();
        const auto children = c.pellisSourceStorageSection()->rawChildren();
        for (qsizetype i = 0; i < children->count(); i += 2)
            half->append(children->at(i));
        ASSERT_TRUE(c.deleteItems(half, nullptr, false, true, false));
        c.saveLibrary();
    } else if (op == QLatin1String("merge")) {
        auto all = Array::make();
        for (const Value& v : *c.pellisSourceStorageSection()->rawChildren())
            all->append(v);
        ASSERT_TRUE(c.mergeSequence(Value(all)));
        // Nothing else saves: the program ends here as if killed before any later save.
    }
    testsupport::writeFile(p.elapsed, QByteArray::number(timer.elapsed()));
}

class KilledWhileKeepingFilesInOrderTest : public FilesTest {
protected:
    // Builds the files and the library of one run and saves its index.
    void prepare(const Paths& p, const QString& op)
    {
        for (const QString& folder : {p.library, p.outside, p.second, p.trash, p.saved})
            QDir().mkpath(folder);
        c().resetForTesting();
        setDefault(QStringLiteral("Library Path"), p.library);
        auto supplementary = platform::Dictionary::make();
        supplementary->setValue(QStringLiteral("Second"), p.second);
        c().saveSupplementaryLibraryPaths(op.startsWith(QLatin1String("movefolder")) ? supplementary : nullptr);
        const auto movies = c().pellisSourceStorageSection();
        QList<PMLibraryContainerPtr> boxes;
        for (int b = 0; b < 10; ++b) {
            boxes << folder(QStringLiteral("Box %1").arg(b));
            if (op.startsWith(QLatin1String("organize")))
                movies->rawChildren()->append(v(boxes.last()));
        }
        if (op == QLatin1String("saveasmovie")) {
            // An animation of some size, so that its movie takes a moment to copy; made once.
            static const QString animation = [] {
                const QString path = testsupport::makeTempDir(QStringLiteral("animation")) + QStringLiteral("/Bouncing.gif");
                QProcess ffmpeg;
                ffmpeg.start(QStringLiteral("ffmpeg"), {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-f"), QStringLiteral("lavfi"),
                                                        QStringLiteral("-i"), QStringLiteral("testsrc2=size=480x270:rate=15"), QStringLiteral("-t"),
                                                        QStringLiteral("3"), path});
                ffmpeg.waitForFinished(120000);
                return path;
            }();
            ASSERT_TRUE(QFileInfo(animation).size() > 0) << "ffmpeg made no animation";
            const QString gif = p.library + QStringLiteral("/Bouncing.gif");
            ASSERT_TRUE(QFile::copy(animation, gif));
            movies->rawChildren()->append(Value(PMMovieRepresentationOriginal::movieRepresentationWithPath(gif)));
            testsupport::writeFile(p.saved + QStringLiteral("/Other.mp4"), kNeighbourContent);
        }
        if (op == QLatin1String("organize-tmpfs")) {
            // The loose files lie in the library folder through a link to a folder of the
            // other file system: organising them into their boxes moves them across.
            QDir().mkpath(p.outside + QStringLiteral("/loose"));
            ASSERT_TRUE(QFile::link(p.outside + QStringLiteral("/loose"), p.library + QStringLiteral("/loose")));
        }
        for (int i = 0; i < filesFor(op); ++i) {
            const QString folderPath = op.startsWith(QLatin1String("moveall")) ? p.outside
                : op.startsWith(QLatin1String("organize"))             ? p.library + QStringLiteral("/loose")
                                                                       : p.library;
            const auto record = fileMovie(folderPath + u'/' + name(i) + QStringLiteral(".mov"), content(i));
            if (op.startsWith(QLatin1String("organize")))
                boxes[i % 10]->rawChildren()->append(v(record));
            else
                movies->rawChildren()->append(v(record));
        }
        c().invalidateLibraryDependencies();
        ASSERT_TRUE(c().saveLibrary());
        c().resetForTesting();
    }

    // Runs the child; kills it `killAfterMs` after it is ready (negative: lets it finish).
    void runChild(const Paths& p, const QString& op, int killAfterMs)
    {
        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("PELLIS_FAULT_OP"), op);
        environment.insert(QStringLiteral("PELLIS_FAULT_ROOT"), p.root);
        if (!p.library.startsWith(p.root + u'/')) {
            environment.insert(QStringLiteral("PELLIS_FAULT_LIBRARY_ROOT"), QFileInfo(p.library).path());
            if (!onAnotherDevice(p.library, p.root))
                environment.insert(QStringLiteral("PELLIS_FAULT_SIMULATE_ACROSS"), QStringLiteral("1"));
        }
        child.setProcessEnvironment(environment);
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--gtest_filter=KilledWhileKeepingFilesInOrderChild.Run")});
        ASSERT_TRUE(child.waitForStarted());
        if (killAfterMs >= 0) {
            QElapsedTimer waited;
            waited.start();
            while (!QFileInfo::exists(p.ready) && waited.elapsed() < 30000 && child.state() == QProcess::Running)
                QThread::usleep(200);
            QThread::usleep(qulonglong(killAfterMs) * 1000);
            ::kill(pid_t(child.processId()), SIGKILL);
        }
        ASSERT_TRUE(child.waitForFinished(60000));
        if (killAfterMs < 0) {
            ASSERT_EQ(child.exitCode(), 0) << child.readAllStandardOutput().toStdString();
        }
    }

    // Every file whole at one place at least; the index loads with every record present.
    void verify(const Paths& p, const QString& op, bool finished = false)
    {
        if (op == QLatin1String("saveasmovie")) {
            verifySavedMovie(p, finished);
            return;
        }
        if (op == QLatin1String("rename")) {
            verifyRenameAtLaunch(p, finished);
            if (HasFatalFailure())
                return;
        }
        QHash<QByteArray, int> copies;
        for (const QString& folder : {p.library, p.outside, p.second, p.trash})
            for (const QString& file : filesBelow(folder)) {
                if (file.startsWith(u'.') || file.contains(QStringLiteral("/.")) || file.contains(QStringLiteral("Pellis.library")))
                    continue; // hidden temporary copies, the settings folder
                const QByteArray bytes = testsupport::readFile(folder + u'/' + file);
                ASSERT_TRUE(bytes.startsWith("file-")) << file.toStdString();
                qsizetype end = 5;
                while (end < bytes.size() && std::isdigit(static_cast<unsigned char>(bytes.at(end))))
                    ++end;
                ASSERT_EQ(bytes, content(bytes.mid(5, end - 5).toInt())) << "a torn file: " << file.toStdString();
                ++copies[bytes];
            }
        for (int i = 0; i < filesFor(op); ++i)
            ASSERT_GE(copies.value(content(i)), 1) << "lost: " << name(i).toStdString();

        c().resetForTesting();
        setDefault(QStringLiteral("Library Path"), p.library);
        c().loadLibrary();
        c()._skipMissingStatusUpdate = false;
        c().invalidateLibraryDependencies();
        const qsizetype records = c()._nonProxyRawMovieRepresentationsByPath.size();
        if (op == QLatin1String("merge")) {
            verifyMerge(op, finished);
            return;
        }
        if (op == QLatin1String("delete"))
            EXPECT_GE(records, filesFor(op) / 2);
        else
            EXPECT_EQ(records, filesFor(op));
        for (const PMMovieRepresentationOriginalPtr& record : std::as_const(c()._nonProxyRawMovieRepresentationsByPath)) {
            ASSERT_FALSE(record->isMissing()) << record->path().toStdString();
            const QString expectedName = record->userSettings()->value(QStringLiteral("Name")).string();
            EXPECT_EQ(testsupport::readFile(record->path()), content(numberInName(expectedName))) << record->path().toStdString();
        }
    }

    // At the next start, before the files are looked for, the renamed files are not offered
    // as new ones; once looked for, every record names its file; and the library has either
    // every new name (saved before any file was renamed) or, killed before that, every old one.
    void verifyRenameAtLaunch(const Paths& p, bool finished)
    {
        c().resetForTesting();
        setDefault(QStringLiteral("Library Path"), p.library);
        c()._launchDefersExistenceTests = true;
        c().loadLibrary();
        c()._launchDefersExistenceTests = false;
        const QStringList offered = c().nonLibraryFilesFromAllVolumes(true, nullptr);
        EXPECT_TRUE(offered.isEmpty()) << offered.size() << " files offered as new, the first " << offered.value(0).toStdString();
        c().searchForMissingFilesInBackground();
        ASSERT_TRUE(testsupport::waitUntil([] { return !c()._isSearchingMissingFiles; }, 60000));
        int renamed = 0;
        for (const PMMovieRepresentationOriginalPtr& record : std::as_const(c()._nonProxyRawMovieRepresentationsByPath)) {
            const QString recordName = record->userSettings()->value(QStringLiteral("Name")).string();
            renamed += recordName.startsWith(QStringLiteral("renamed ")) ? 1 : 0;
            EXPECT_FALSE(record->isMissing()) << record->path().toStdString();
            EXPECT_EQ(testsupport::readFile(record->path()), content(numberInName(recordName))) << record->path().toStdString();
            if (finished) {
                EXPECT_EQ(QFileInfo(record->path()).completeBaseName(), recordName);
            }
        }
        EXPECT_TRUE(renamed == 0 || renamed == filesFor(QStringLiteral("rename"))) << renamed << " of the names kept";
        if (finished) {
            EXPECT_EQ(renamed, filesFor(QStringLiteral("rename")));
        }
    }

    // The saved movie is there whole or not at all (a hidden temporary copy may be left);
    // nothing else in its folder changed, and the converted movie is untouched.
    void verifySavedMovie(const Paths& p, bool finished)
    {
        const QByteArray converted = testsupport::readFile(p.converted);
        ASSERT_FALSE(converted.isEmpty());
        QStringList visible;
        for (const QString& file : filesBelow(p.saved))
            if (!file.startsWith(u'.'))
                visible << file;
        const QString saved = p.saved + u'/' + kSavedMovieName;
        EXPECT_EQ(testsupport::readFile(p.saved + QStringLiteral("/Other.mp4")), kNeighbourContent);
        if (finished || QFileInfo::exists(saved)) {
            EXPECT_EQ(visible, (QStringList{kSavedMovieName, QStringLiteral("Other.mp4")}));
            EXPECT_TRUE(testsupport::readFile(saved) == converted) << "a torn movie under the name the user gave";
        } else {
            EXPECT_EQ(visible, QStringList{QStringLiteral("Other.mp4")});
        }
        if (finished) {
            EXPECT_EQ(filesBelow(p.saved), (QStringList{kSavedMovieName, QStringLiteral("Other.mp4")})) << "a temporary copy left behind";
        }
    }

    // One run to the end, then ten runs killed at random moments of the operation.
    void killAtRandomMoments(const QString& op)
    {
        // A library folder on another file system than the files: the memory file system
        // where the machine has it on another device, else a folder of the temporary one
        // with every rename answering as across file systems.
        const auto libraryRoot = [&] {
            if (!op.endsWith(QLatin1String("-tmpfs")))
                return QString();
            if (QFileInfo(QStringLiteral("/dev/shm")).isWritable()) {
                m_otherDevice << std::make_shared<QTemporaryDir>(QStringLiteral("/dev/shm/pellis-test-XXXXXX"));
                if (m_otherDevice.last()->isValid())
                    return m_otherDevice.last()->path();
            }
            return testsupport::makeTempDir(QStringLiteral("other"));
        };
        // The run to the end tells how long the operation takes.
        const Paths whole(testsupport::makeTempDir(QStringLiteral("whole")), libraryRoot());
        prepare(whole, op);
        runChild(whole, op, -1);
        verify(whole, op, true);
        const int duration = std::max(1, testsupport::readFile(whole.elapsed).toInt());
        for (int run = 0; run < 10; ++run) {
            SCOPED_TRACE(run);
            const Paths p(testsupport::makeTempDir(QStringLiteral("killed")), libraryRoot());
            prepare(p, op);
            const int killAfter = QRandomGenerator::global()->bounded(duration + 1);
            runChild(p, op, killAfter);
            verify(p, op);
            if (HasFatalFailure())
                return;
        }
    }

    // After a merge the index names the parts or the bundle that holds them, and every
    // file is reached by a record that is not missing; a merge that ended names the bundle.
    void verifyMerge(const QString& op, bool finished)
    {
        const qsizetype records = c()._nonProxyRawMovieRepresentationsByPath.size();
        if (finished) {
            EXPECT_EQ(records, 1) << "the index was not saved after the merge";
        }
        QSet<QByteArray> reached;
        for (const PMMovieRepresentationOriginalPtr& record : std::as_const(c()._nonProxyRawMovieRepresentationsByPath)) {
            EXPECT_FALSE(record->isMissing()) << record->path().toStdString();
            if (QFileInfo(record->path()).isDir()) {
                for (const QString& file : filesBelow(record->path()))
                    reached.insert(testsupport::readFile(record->path() + u'/' + file));
            } else {
                reached.insert(testsupport::readFile(record->path()));
            }
        }
        int unreached = 0;
        for (int i = 0; i < filesFor(op); ++i)
            unreached += reached.contains(content(i)) ? 0 : 1;
        EXPECT_EQ(unreached, 0) << "files no record reaches, of " << filesFor(op) << " (" << records << " records)";
    }

    QList<std::shared_ptr<QTemporaryDir>> m_otherDevice;
};

// Two halves, so that each keeps within its time limit on a slow machine.
TEST_F(KilledWhileKeepingFilesInOrderTest, EveryFileStaysAtItsOldOrNewPlaceAndTheIndexFindsIt)
{
    for (const QString& op : {QStringLiteral("organize"), QStringLiteral("moveall"), QStringLiteral("movefolder"), QStringLiteral("delete")}) {
        SCOPED_TRACE(op.toStdString());
        killAtRandomMoments(op);
        if (HasFatalFailure())
            return;
    }
}

TEST_F(KilledWhileKeepingFilesInOrderTest, AcrossFileSystemsAndIntoABundleEveryFileStaysWhereTheIndexFindsIt)
{
    for (const QString& op : {QStringLiteral("moveall-across"), QStringLiteral("movefolder-across"), QStringLiteral("merge")}) {
        SCOPED_TRACE(op.toStdString());
        killAtRandomMoments(op);
        if (HasFatalFailure())
            return;
    }
}

// Each of these on its own: a batch rename of 200 movies, organising 200 movies onto
// another file system, and the movie of an animation saved where the user says.
TEST_F(KilledWhileKeepingFilesInOrderTest, ABatchRenameKeepsAllNewNamesOrAllOldOnesAndNoFileIsOfferedAsNew)
{
    killAtRandomMoments(QStringLiteral("rename"));
}

TEST_F(KilledWhileKeepingFilesInOrderTest, OrganisingOntoAnotherFileSystemLeavesEveryFileWhereTheIndexFindsIt)
{
    killAtRandomMoments(QStringLiteral("organize-tmpfs"));
}

TEST_F(KilledWhileKeepingFilesInOrderTest, ASavedMovieIsWholeUnderItsNameOrNotThere)
{
    killAtRandomMoments(QStringLiteral("saveasmovie"));
}

} // namespace
