// Pellis: a library of movies for one person.
#include "library/maintenance/PMScriptCommands.h"
#include "library/model/PMMainController.h"
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
#include <QtWidgets/QWidget>

#include <QtCore/QSocketNotifier>

#include <clocale>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Set once the quit sequence has run and allowed the quit: the windows that close as the
// program ends do not run it again.
bool gQuitApproved = false;

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
        if (!gQuitApproved && window && !mainController().closingWindowEndsProgram(window)) {
            // Hidden, the program goes on; it comes back when the player goes too.
            window->setProperty(kPMLibraryWindowClosedProperty, true);
            return false;
        }
        if (gQuitApproved || mainController().applicationShouldTerminate()) {
            gQuitApproved = true;
            QCoreApplication::quit();
            return false;
        }
        event->ignore();
        return true;
    }
};

// A request to end the process (SIGTERM, SIGINT, the end of the session) runs the quit
// sequence like closing the main window, so that the library is saved. The signal only
// writes a byte; the event loop does the work.
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
        // Nobody may be at the screen to answer: the quit must end on its own.
        mainController()._quitRequestedBySession = true;
        if (gQuitApproved || mainController().applicationShouldTerminate()) {
            gQuitApproved = true;
            QCoreApplication::quit();
        }
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
        if (!gQuitApproved && mainController().applicationShouldTerminate()) {
            gQuitApproved = true;
            QCoreApplication::quit();
        }
    });
    // Light or dark as the desktop is, and changing with it.
    PMFollowDesktopAppearance();
    // The desktop session ending: whoever logs out is not there to answer alerts.
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &app, [](QSessionManager&) { mainController()._quitRequestedBySession = true; });
    PMMainController& controller = mainController();
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
    // The help window exists from start-up (it may reopen the page of the last run).
    PMHelpManager::helpManager();
    return app.exec();
}
