#include "platform/FileManager.h"

#include "platform/Alert.h"

#include <QtCore/QFileInfo>
#include <QtDBus/QDBusConnection>
#include <QtDBus/QDBusMessage>
#include <QtDBus/QDBusPendingCallWatcher>
#include <QtDBus/QDBusPendingReply>
#include <QtGui/QDesktopServices>

#include <cstdio>

namespace platform {

namespace {

std::function<bool(const QUrl&)> g_opener;
QString g_busName;

const QString kService = QStringLiteral("org.freedesktop.FileManager1");
const QString kObject = QStringLiteral("/org/freedesktop/FileManager1");

QDBusConnection bus()
{
    return g_busName.isEmpty() ? QDBusConnection::sessionBus() : QDBusConnection(g_busName);
}

QStringList fileURLs(const QStringList& paths)
{
    QStringList urls;
    for (const QString& path : paths)
        urls.append(QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()).toString(QUrl::FullyEncoded));
    return urls;
}

// Calls the file manager without waiting; on any error opens the folders instead.
void callFileManager(const QString& method, const QStringList& paths, const QStringList& fallbackFolders)
{
    const auto fallback = [fallbackFolders] {
        QStringList failed;
        for (const QString& folder : fallbackFolders)
            if (!openURLWithDefaultHandler(QUrl::fromLocalFile(folder)))
                failed.append(folder);
        if (failed.isEmpty())
            return;
        // Nothing at all would happen on the screen otherwise.
        for (const QString& folder : std::as_const(failed))
            std::fprintf(stderr, "cannot reveal <%s>\n", qPrintable(folder));
        Alert alert;
        alert.messageText = failed.size() == 1 ? QStringLiteral("The folder \u201c%1\u201d cannot be shown.").arg(QFileInfo(failed.first()).fileName().isEmpty() ? failed.first() : QFileInfo(failed.first()).fileName())
                                               : QStringLiteral("The folders cannot be shown.");
        alert.informativeText = QStringLiteral("No file manager answered, and the desktop has no program that opens folders.");
        alert.accessoryText = failed.size() > 1 ? failed.join(QLatin1Char('\n')) : failed.first();
        alert.style = AlertStyle::Informational;
        runAlert(alert);
    };
    QDBusConnection connection = bus();
    if (!connection.isConnected()) {
        fallback();
        return;
    }
    QDBusMessage message = QDBusMessage::createMethodCall(kService, kObject, kService, method);
    message << fileURLs(paths) << QString();
    auto* watcher = new QDBusPendingCallWatcher(connection.asyncCall(message, 5000));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, [watcher, fallback] {
        if (watcher->isError())
            fallback();
        watcher->deleteLater();
    });
}

} // namespace

void setURLOpenerForTesting(std::function<bool(const QUrl&)> opener)
{
    g_opener = std::move(opener);
}

void setFileManagerBusForTesting(const QString& connectionName)
{
    g_busName = connectionName;
}

bool openURLWithDefaultHandler(const QUrl& url)
{
    if (!url.isValid())
        return false;
    if (g_opener)
        return g_opener(url);
    return QDesktopServices::openUrl(url);
}

bool revealInFileManager(const QStringList& paths)
{
    QStringList clean, folders;
    for (const QString& path : paths) {
        if (path.isEmpty())
            continue;
        const QFileInfo info(path);
        clean.append(info.absoluteFilePath());
        const QString folder = info.absolutePath();
        if (!folders.contains(folder))
            folders.append(folder);
    }
    if (clean.isEmpty())
        return false;
    callFileManager(QStringLiteral("ShowItems"), clean, folders);
    return true;
}

bool openFolderInFileManager(const QString& folderPath)
{
    if (folderPath.isEmpty())
        return false;
    const QString folder = QFileInfo(folderPath).absoluteFilePath();
    callFileManager(QStringLiteral("ShowFolders"), {folder}, {folder});
    return true;
}

} // namespace platform
