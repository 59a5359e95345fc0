// User scripts: executables listed under a time key, run one after another and waited
// for. A script that cannot run or fails is logged and the caller goes on. And the three
// scripting commands, on the session bus and the command line.
#include "library/model/PMMainController.h"
#include "library/maintenance/PMScriptCommands.h"

#include "foundation/PMLog.h"
#include "library/model/PMLibraryFileRules.h"
#include "platform/Paths.h"
#include "platform/UserDefaults.h"

#include <QtCore/QDir>
#include <QtCore/QFileInfo>
#include <QtCore/QProcess>
#include <QtCore/QUrl>
#include <QtDBus/QDBusConnection>
#include <QtDBus/QDBusConnectionInterface>
#include <QtDBus/QDBusMessage>
#include <QtDBus/QDBusReply>

#include <cstdio>

namespace {
// A script that runs longer than this is stopped, so that start-up and quit end.
constexpr int kScriptTimeLimitMilliseconds = 60 * 1000;
// How long a copy of the program waits for the running one to take a request.
constexpr int kBusCallTimeoutMilliseconds = 10 * 1000;
}

void PMMainController::runScriptsForTimeKey(const QString& timeKey)
{
    const platform::Value value = platform::UserDefaults::standard().objectForKey(timeKey);
    QStringList entries;
    if (value.isString())
        entries.append(value.string());
    else if (value.isArray())
        for (const platform::Value& entry : *value.array())
            entries.append(entry.isString() ? entry.string() : QString());
    for (const QString& entry : entries) {
        if (PMDebugLogEnabled())
            PMLog("[Debug] [%@] %@", timeKey, entry);
        if (entry.isEmpty())
            continue;
        const QString path = platform::stringByExpandingTildeInPath(entry);
        const QFileInfo info(path);
        if (!info.isFile() || !info.isExecutable())
            continue;
        if (PMDebugLogEnabled())
            PMLog("[Debug] [%@] - running...", timeKey);
        QProcess process;
        process.setProgram(path);
        process.setProcessChannelMode(QProcess::SeparateChannels);
        process.start();
        bool finished = process.waitForStarted(kScriptTimeLimitMilliseconds) && process.waitForFinished(kScriptTimeLimitMilliseconds);
        if (!finished && process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(1000);
            PMLog("[%@] script <%@> ran too long and was stopped", timeKey, path);
        } else if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0 || process.error() == QProcess::FailedToStart) {
            PMLog("[%@] script <%@> failed (exit code %d)", timeKey, path, process.exitCode());
        }
        if (PMDebugLogEnabled()) {
            const QString result = QString::fromUtf8(process.readAllStandardOutput()).trimmed();
            if (finished && process.exitCode() == 0 && !result.isEmpty())
                PMLog("[Debug] [%@] - result: <%@>", timeKey, result);
            else
                PMLog("[Debug] [%@] - no result", timeKey);
        }
    }
}

// ---------------------------------------------------------------------------
// Scripting commands

void PMURLHandlerCommand::performDefaultImplementation(const QString& directParameter)
{
    PMMainController::mainController().handleURLString(directParameter);
}

QString PMCurrentFocusCommand::performDefaultImplementation()
{
    return PMMainController::mainController().currentFocus();
}

void PMRestoreFocusCommand::performDefaultImplementation(const QString& directParameter)
{
    PMMainController::mainController().restoreFocus(directParameter);
}

void PMScriptingInterface::OpenURL(const QString& url)
{
    QMetaObject::invokeMethod(this, [url] { PMURLHandlerCommand::performDefaultImplementation(url); }, Qt::QueuedConnection);
}

QString PMScriptingInterface::CurrentFocus()
{
    return PMCurrentFocusCommand::performDefaultImplementation();
}

void PMScriptingInterface::RestoreFocus(const QString& focus)
{
    QMetaObject::invokeMethod(this, [focus] { PMRestoreFocusCommand::performDefaultImplementation(focus); }, Qt::QueuedConnection);
}

void PMScriptingInterface::Open(const QStringList& filesAndURLs)
{
    QMetaObject::invokeMethod(this, [filesAndURLs] { PMMainController::mainController().openRequests(filesAndURLs, true); },
                              Qt::QueuedConnection);
}

bool PMMainController::registerScriptingInterface()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    if (bus.objectRegisteredAt(QString::fromLatin1(PMScriptingObjectPath)))
        return true;
    auto* object = new PMScriptingInterface(this);
    if (!bus.registerObject(QString::fromLatin1(PMScriptingObjectPath), object, QDBusConnection::ExportScriptableSlots)) {
        PMLog("cannot offer the scripting commands on the session bus: %@", bus.lastError().message());
        delete object;
        return false;
    }
    return true;
}

namespace {

QDBusMessage scriptingCall(const char* method, const QVariantList& arguments)
{
    QDBusMessage call = QDBusMessage::createMethodCall(QString::fromLatin1(PMScriptingServiceName), QString::fromLatin1(PMScriptingObjectPath),
                                                       QString::fromLatin1(PMScriptingInterfaceName), QString::fromLatin1(method));
    call.setArguments(arguments);
    return QDBusConnection::sessionBus().call(call, QDBus::Block, kBusCallTimeoutMilliseconds);
}

bool isRunningInstanceOnBus()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface())
        return false;
    const QDBusReply<bool> registered = bus.interface()->isServiceRegistered(QString::fromLatin1(PMScriptingServiceName));
    return registered.isValid() && registered.value();
}

} // namespace

bool PMMainController::handOpenRequestsToRunningInstance(const QStringList& requests)
{
    if (requests.isEmpty())
        return true;
    // Paths mean what they mean here: relative ones are made absolute with this copy's
    // working folder before they travel.
    QStringList absolute;
    for (const QString& request : requests) {
        const QUrl url(request, QUrl::StrictMode);
        const bool isURL = !request.startsWith(u'/') && url.isValid() && url.scheme().size() > 1;
        absolute.append(isURL || request.startsWith(u'/') ? request : QDir::current().absoluteFilePath(request));
    }
    const QDBusMessage reply = scriptingCall("Open", {absolute});
    if (reply.type() == QDBusMessage::ErrorMessage) {
        PMLog("cannot hand the files to open to the running Pellis: %@", reply.errorMessage());
        return false;
    }
    return true;
}

bool PMRunScriptCommandFromCommandLine(const QStringList& arguments, QStringList* getOpenRequests, int* getExitCode)
{
    QString command;
    QString parameter;
    QStringList openRequests;
    bool optionsEnded = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (!optionsEnded && argument == QLatin1String("--")) {
            optionsEnded = true;
        } else if (!optionsEnded && (argument == QLatin1String("--open-url") || argument == QLatin1String("--restore-focus"))) {
            if (i + 1 >= arguments.size() || !command.isEmpty()) {
                std::fprintf(stderr, "Pellis: %s needs one argument, and only one command is allowed\n", qPrintable(argument));
                *getExitCode = 2;
                return true;
            }
            command = argument;
            parameter = arguments[++i];
        } else if (!optionsEnded && argument == QLatin1String("--current-focus")) {
            if (!command.isEmpty()) {
                std::fprintf(stderr, "Pellis: only one command is allowed\n");
                *getExitCode = 2;
                return true;
            }
            command = argument;
        } else if (!optionsEnded && argument.startsWith(QLatin1String("--"))) {
            std::fprintf(stderr, "Pellis: unknown option %s\n", qPrintable(argument));
            *getExitCode = 2;
            return true;
        } else {
            openRequests.append(argument);
        }
    }
    if (getOpenRequests)
        *getOpenRequests = openRequests;
    if (command.isEmpty())
        return false;

    if (!isRunningInstanceOnBus()) {
        if (command == QLatin1String("--open-url")) {
            if (getOpenRequests)
                getOpenRequests->append(parameter);
            return false;
        }
        std::fprintf(stderr, "Pellis: no running Pellis to ask\n");
        *getExitCode = 1;
        return true;
    }
    QDBusMessage reply;
    if (command == QLatin1String("--open-url"))
        reply = scriptingCall("OpenURL", {parameter});
    else if (command == QLatin1String("--restore-focus"))
        reply = scriptingCall("RestoreFocus", {parameter});
    else
        reply = scriptingCall("CurrentFocus", {});
    if (reply.type() == QDBusMessage::ErrorMessage) {
        std::fprintf(stderr, "Pellis: %s\n", qPrintable(reply.errorMessage()));
        *getExitCode = 1;
        return true;
    }
    if (command == QLatin1String("--current-focus") && !reply.arguments().isEmpty())
        std::printf("%s\n", reply.arguments().first().toString().toUtf8().constData());
    // Files given with a command go to the running copy as well.
    if (!openRequests.isEmpty())
        PMMainController::mainController().handOpenRequestsToRunningInstance(openRequests);
    *getExitCode = 0;
    return true;
}
