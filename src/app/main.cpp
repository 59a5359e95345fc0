// Pellis: a library of movies for one person.
#include <QtCore/QObject>

#include "platform/Queues.h"
#include "foundation/PMLog.h"
#include "images/PMMovieRepresentationImageLoader.h"
#include "library/maintenance/PMScriptCommands.h"
#include "library/model/PMMainController.h"
#include "library/model/PMMovieRepresentation.h"
#include "platform/Alert.h"
#include "platform/AlertBox.h"
#include "playback/PMPlayerWindows.h"
#include "platform/InterfaceFiles.h"
#include "platform/Memory.h"
#include "platform/Responder.h"
#include "services/log_reader/ILRIntegratedLogReader.h"
#include "services/PMApplicationIcon.h"
#include "services/help/PMHelpManager.h"
#include "ui/commands/PMApplication.h"
#include "ui/commands/PMMainMenu.h"
#include "ui/kit/PMAppearance.h"
#include "ui/library_window/PMMainWindow.h"

#include <QtGui/QCloseEvent>
#include <QtGui/QIcon>
#include <QtGui/QPixmap>
#include <QtGui/QSessionManager>
#include <QtWidgets/QApplication>
#include <QtWidgets/QMenuBar>
#include <QtWidgets/QWidget>

#include <QtCore/QElapsedTimer>
#include <QtCore/QSocketNotifier>
#include <QtCore/QThread>
#include <QtCore/QThreadPool>
#include <QtCore/QTimer>

#include <algorithm>
#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Set once start-up is over and the event loop runs: a quit asked for earlier waits for it.
bool gLaunched = false;

// The windows that close as the program ends do not run the quit sequence again.
bool approveQuit()
{
    return mainController().approveTermination();
}

bool quitApproved()
{
    return mainController()._terminationApproved;
}

// Closing the main window hides it while a player window remains (Window > Library Window
// brings it back); as the last window (or with "Quit On Close") it asks the controller
// whether the program may quit, and the quit sequence (save included) runs before the answer.
class QuitOnClose : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::Close)
            return QObject::eventFilter(watched, event);
        auto* window = qobject_cast<QWidget*>(watched);
        if (!quitApproved() && window && !mainController().closingWindowEndsProgram(window)) {
            // Hidden, the program goes on; it comes back when the player goes too.
            window->setProperty(kPMLibraryWindowClosedProperty, true);
            return false;
        }
        if (approveQuit()) {
            QCoreApplication::quit();
            return false;
        }
        event->ignore();
        return true;
    }
};

// A quit that nobody can answer: it runs from the main event loop once start-up is over
// and the alerts and dialogs that were open have gone (their code finishes first, so
// nothing they do comes after the save).
void quitUnattendedWhenIdle()
{
    if (!gLaunched || platform::openAlertCount() > 0 || QApplication::activeModalWidget()) {
        // A dialog opened since (a panel of start-up) is cancelled too.
        platform::answerAlertsUnattended();
        QTimer::singleShot(20, qApp, &quitUnattendedWhenIdle);
        return;
    }
    if (!approveQuit())
        return;
    QCoreApplication::quit();
    // Should a window still refuse to close, the program ends all the same: the session
    // that asked does not wait.
    QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(0); });
}

// Once the library is saved at quit, background work that still waits (picture searches,
// conversions, reads of files) is dropped, and what runs has a few seconds to finish;
// after that the process ends without it. Whether everything finished.
bool endBackgroundWork(std::chrono::milliseconds bound)
{
    QElapsedTimer elapsed;
    elapsed.start();
    const auto remaining = [&] { return std::chrono::milliseconds(std::max<qint64>(0, bound.count() - elapsed.elapsed())); };
    PMCrawlQueue::operationQueue().cancelAllOperations();
    PMMovieRepresentationImageLoader::defaultLoader().loadQueue().cancelAllOperations();
    QThreadPool::globalInstance()->clear();
    if (!QThreadPool::globalInstance()->waitForDone(int(remaining().count())))
        return false;
    if (!PMCrawlQueue::waitUntilEmpty(remaining()))
        return false;
    // Work nobody waits for (whole-library reads, files looked for) ends at its next check.
    if (!platform::backgroundThreadPool()->waitForDone(int(remaining().count())))
        return false;
    platform::OperationQueue& loads = PMMovieRepresentationImageLoader::defaultLoader().loadQueue();
    while (loads.operationCount() > 0) {
        if (remaining().count() == 0)
            return false;
        QThread::msleep(10);
    }
    return true;
}

// A request to end the process (SIGTERM, SIGINT, the end of the session) runs the quit
// sequence like closing the main window, so that the library is saved. Nobody may be at
// the screen to answer: open alerts end with the answer that changes nothing, later ones
// take it at once. The signal only writes a byte; the event loop does the work.
int gSignalSockets[2] = {-1, -1};

void handleTerminationSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(gSignalSockets[0], &byte, 1);
}

void installTerminationHandler(QObject* parent)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, gSignalSockets) != 0)
        return;
    auto* notifier = new QSocketNotifier(gSignalSockets[1], QSocketNotifier::Read, parent);
    QObject::connect(notifier, &QSocketNotifier::activated, parent, [] {
        char byte = 0;
        [[maybe_unused]] const ssize_t got = ::read(gSignalSockets[1], &byte, 1);
        mainController()._quitRequestedBySession = true;
        platform::answerAlertsUnattended();
        // The alerts just ended return first; the quit follows on the next turns.
        QTimer::singleShot(0, qApp, &quitUnattendedWhenIdle);
    });
    struct sigaction action = {};
    action.sa_handler = handleTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}

} // namespace

int main(int argc, char** argv)
{
    platform::prepareAllocator();
    // The log reader is known before the first line is logged, so it sees every line.
    ILRIntegratedLogReader::registerClass();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Pellis"));
    QApplication::setOrganizationDomain(QStringLiteral("tolvane.com"));
    QApplication::setDesktopFileName(QStringLiteral("com.tolvane.Pellis"));
    QApplication::setApplicationVersion(QStringLiteral(PELLIS_VERSION));
    QApplication::setWindowIcon(QIcon(QPixmap::fromImage(PMApplicationIconImage())));
    QApplication::setQuitOnLastWindowClosed(false);
    // Alerts show in message boxes from now on.
    platform::installAlertBoxes();
    // Stored numbers are written in the C locale whatever the user's locale is.
    std::setlocale(LC_NUMERIC, "C");

    // The library window; closing it as the last window quits.
    platform::registerInterfaceBuilder(QStringLiteral("MainWindow"), [](QObject* owner) -> QWidget* {
        QWidget* window = PMMainController::makeMainWindow(owner);
        // The program's menus sit on the library window.
        if (auto* main = qobject_cast<PMMainWindow*>(window))
            main->setMenuBar(PMMainMenu::createMenuBar(mainController(), main));
        window->installEventFilter(new QuitOnClose(window));
        return window;
    });

    platform::registerInterfaceBuilder(QStringLiteral("URL"), &PMMainController::makeOpenURLPanel);

    // The arguments are files and URLs to open ("Exec=Pellis %U"), or one scripting
    // command for the copy that runs.
    QStringList openRequests;
    int exitCode = 0;
    if (PMRunScriptCommandFromCommandLine(QCoreApplication::arguments().mid(1), &openRequests, &exitCode))
        return exitCode;

    installTerminationHandler(&app);
    // The last window closed (a help or log window after the library window was closed):
    // nothing is left to reach the program by, so it ends as the library window's own
    // closing would.
    QObject::connect(&app, &QGuiApplication::lastWindowClosed, &app, [] {
        if (!quitApproved() && approveQuit())
            QCoreApplication::quit();
    });
    // Light or dark as the desktop is, and changing with it.
    PMFollowDesktopAppearance();
    // The desktop session ending: whoever logs out is not there to answer alerts.
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &app, [](QSessionManager&) { mainController()._quitRequestedBySession = true; });
    PMMainController& controller = mainController();
    // Playback's requests reach the library window and the menus.
    controller.connectPlaybackController();
    // Key presses reach the controller before the widgets.
    PMApplication::install();
    // Actions that no window handles end at the controller.
    platform::setApplicationResponder(&controller);
    controller._openRequestsFromCommandLine = openRequests;
    controller.applicationWillFinishLaunching();
    if (controller._shouldTerminateWithoutQuitSequence)
        return 0;
    // Movies play in their own window until the library window can hold the player.
    controller.installPlayerWindows();
    // Executed once start-up has finished.
    controller.openRequests(openRequests, false);
    controller.applicationDidFinishLaunching();
    if (controller._shouldTerminateWithoutQuitSequence)
        return 0;
    // The player's own window has the program's menus too: using them leaves the movie in
    // front instead of raising the library window over it.
    if (QWidget* main = controller.mainWindow())
        PMMainMenu::mirrorMenuBar(main->findChild<QMenuBar*>(QStringLiteral("PMMainMenuBar")), controller._dedicatedPlayerWindow);
    // The help window exists from start-up (it may reopen the page of the last run).
    PMHelpManager::helpManager();
    gLaunched = true;
    const int result = app.exec();
    if (!endBackgroundWork(std::chrono::seconds(3))) {
        PMLog("ending with background work still running");
        std::fflush(nullptr);
        std::_Exit(result);
    }
    // Threads of their own that still finish hand nothing to the pool torn down from here on.
    platform::endSharedThreadPool();
    return result;
}
