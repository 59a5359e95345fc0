// The program killed (kill -9) at random moments while it organises the library folder,
// moves files into it, moves them to another library folder, merges them into a bundle or
// deletes them to the Trash:
// every file is afterwards at its old place or its new one, whole, and the library index
// loads with every record pointing at an existing file of its own.
//
// This test binary runs itself as the program being killed: the child test below does one
// operation on a library that the parent prepared, and is skipped in an ordinary run.
#include "library/maintenance/FilesFixture.h"

#include "platform/FileOperations.h"
#include "platform/Trash.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QElapsedTimer>
#include <QtCore/QProcess>
#include <QtCore/QRandomGenerator>
#include <QtCore/QThread>

#include <cctype>
#include <csignal>

using platform::Array;
using platform::Value;

namespace {

// Moves across file systems save the index after every file: fewer files keep them quick.
// A merge puts its parts into one bundle.
int filesFor(const QString& op)
{
    if (op == QLatin1String("merge"))
        return 24;
    return op.endsWith(QLatin1String("-across")) ? 20 : 150;
}

QByteArray content(int i)
{
    return QByteArray("file-") + QByteArray::number(i) + QByteArray(2048, char('a' + i % 26));
}

QString name(int i)
{
    return QStringLiteral("f%1").arg(i, 3, 10, QLatin1Char('0'));
}

struct Paths {
    QString root, library, outside, second, trash, ready, elapsed;
    explicit Paths(const QString& r)
        : root(r), library(r + QStringLiteral("/library")), outside(r + QStringLiteral("/outside")), second(r + QStringLiteral("/second")),
          trash(r + QStringLiteral("/trash")), ready(r + QStringLiteral("/ready")), elapsed(r + QStringLiteral("/elapsed"))
    {
    }
};

// The child: loads the library and does the operation.
TEST(KilledWhileKeepingFilesInOrderChild, Run)
{
    const QString op = qEnvironmentVariable("PELLIS_FAULT_OP");
    if (op.isEmpty())
        GTEST_SKIP() << "run by the fault test";
    const Paths p(qEnvironmentVariable("PELLIS_FAULT_ROOT"));
    PMMainController& c = mainController();
    c.resetForTesting();
    platform::UserDefaults::standard().setObject(Value(p.library), QStringLiteral("Library Path"));
    for (const char* key : {"Delete Items Without Confirmation", "Delete Containers Without Confirmation", "Move Files To Trash Without Confirmation"})
        platform::UserDefaults::standard().setBool(true, QString::fromUtf8(key));
    platform::setAlertHandler([](const platform::Alert&) { return platform::AlertResponse{0, false}; });
    // Another file system: every move is a copy, flushed and checked, then the source goes.
    static platform::FileOperationTestHooks crossDevice;
    crossDevice.simulateCrossDevice = true;
    if (op.endsWith(QLatin1String("-across")))
        platform::setFileOperationTestHooks(&crossDevice);
    platform::setTrashImplementationForTesting([p](const QString& path, QString* getPathInTrash) {
        return platform::moveItem(path, p.trash + u'/' + QFileInfo(path).fileName(), platform::NameConflict::UseFreeName, getPathInTrash);
    });
    c.loadLibrary();
    c.invalidateLibraryDependencies();
    QElapsedTimer timer;
    testsupport::writeFile(p.ready, "ready");
    timer.start();
    if (op == QLatin1String("organize")) {
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
        for (const QString& folder : {p.library, p.outside, p.second, p.trash})
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
            if (op == QLatin1String("organize"))
                movies->rawChildren()->append(v(boxes.last()));
        }
        for (int i = 0; i < filesFor(op); ++i) {
            const QString folderPath = op.startsWith(QLatin1String("moveall")) ? p.outside
                : op == QLatin1String("organize")                      ? p.library + QStringLiteral("/loose")
                                                                       : p.library;
            const auto record = fileMovie(folderPath + u'/' + name(i) + QStringLiteral(".mov"), content(i));
            if (op == QLatin1String("organize"))
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
        if (killAfterMs < 0)
            ASSERT_EQ(child.exitCode(), 0) << child.readAllStandardOutput().toStdString();
    }

    // Every file whole at one place at least; the index loads with every record present.
    void verify(const Paths& p, const QString& op, bool finished = false)
    {
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
            EXPECT_EQ(testsupport::readFile(record->path()), content(expectedName.mid(1).toInt())) << record->path().toStdString();
        }
    }

    // After a merge the index names the parts or the bundle that holds them, and every
    // file is reached by a record that is not missing; a merge that ended names the bundle.
    void verifyMerge(const QString& op, bool finished)
    {
        const qsizetype records = c()._nonProxyRawMovieRepresentationsByPath.size();
        if (finished)
            EXPECT_EQ(records, 1) << "the index was not saved after the merge";
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
};

TEST_F(KilledWhileKeepingFilesInOrderTest, EveryFileStaysAtItsOldOrNewPlaceAndTheIndexFindsIt)
{
    for (const QString op : {QStringLiteral("organize"), QStringLiteral("moveall"), QStringLiteral("movefolder"), QStringLiteral("delete"),
                             QStringLiteral("moveall-across"), QStringLiteral("movefolder-across"), QStringLiteral("merge")}) {
        SCOPED_TRACE(op.toStdString());
        // One run to the end tells how long the operation takes.
        const Paths whole(testsupport::makeTempDir(QStringLiteral("whole")));
        prepare(whole, op);
        runChild(whole, op, -1);
        verify(whole, op, true);
        const int duration = std::max(1, testsupport::readFile(whole.elapsed).toInt());
        for (int run = 0; run < 10; ++run) {
            SCOPED_TRACE(run);
            const Paths p(testsupport::makeTempDir(QStringLiteral("killed")));
            prepare(p, op);
            const int killAfter = QRandomGenerator::global()->bounded(duration + 1);
            runChild(p, op, killAfter);
            verify(p, op);
            if (HasFatalFailure())
                return;
        }
    }
}

} // namespace
