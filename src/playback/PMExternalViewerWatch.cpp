#include "playback/PMExternalViewerWatch.h"

#include "foundation/NSString+PMHelpManager.h"
#include "foundation/PMLSONSerialization.h"
#include "platform/Image.h"
#include "platform/RegularExpression.h"

#include <QtCore/QCollator>
#include <QtCore/QDir>
#include <QtCore/QFileInfo>
#include <QtCore/QRegularExpression>
#include <QtCore/QUrl>
#include <QtDBus/QDBusConnection>
#include <QtDBus/QDBusConnectionInterface>
#include <QtDBus/QDBusMessage>
#include <QtDBus/QDBusMetaType>
#include <QtDBus/QDBusPendingCallWatcher>
#include <QtDBus/QDBusPendingReply>
#include <QtDBus/QDBusReply>
#include <QtDBus/QDBusVariant>

#include <cmath>

using platform::Value;

QString PMBuiltInViewerRules()
{
    return QStringLiteral(
        "[\n"
        "\t{\n"
        "\t\t\"Match\": \"/(iTunes|TV)/.+\\\\.m4v$\"\n"
        "\t\t\"Open\": \"QuickTime Player\"\n"
        "\t}\n"
        "\t{\n"
        "\t\t\"Extensions\": \"htm html\"\n"
        "\t\t\"Open\": \"Safari\"\n"
        "\t}\n"
        "\t{\n"
        "\t\t\"Extensions\": \"txt\"\n"
        "\t\t\"Open\": \"TextEdit\"\n"
        "\t}\n"
        "]\n");
}

platform::ArrayPtr PMParseViewerRules(const QString& text, QString* error)
{
    const Value value = objectValueFromString(text, nullptr);
    const platform::ArrayPtr rules = value.array();
    if (!rules || rules->isEmpty()) {
        *error = QStringLiteral("the rules are not a list of rules");
        return nullptr;
    }
    for (qsizetype i = 0; i < rules->count(); ++i) {
        const platform::DictionaryPtr rule = rules->at(i).dictionary();
        const QString where = QStringLiteral("rule %1: ").arg(i + 1);
        if (!rule || rule->count() != 2) {
            *error = where + QStringLiteral("a rule has two keys, \"Match\" or \"Extensions\", and \"Open\"");
            return nullptr;
        }
        const Value open = rule->value(QStringLiteral("Open"));
        if (!open.isString() || open.string().trimmed().isEmpty()) {
            *error = where + QStringLiteral("\"Open\" names no application");
            return nullptr;
        }
        QString pattern;
        if (rule->value(QStringLiteral("Match")).isString())
            pattern = rule->value(QStringLiteral("Match")).string();
        else if (rule->value(QStringLiteral("Extensions")).isString())
            pattern = extensionMatchingQuery(rule->value(QStringLiteral("Extensions")).string()).value_or(QString());
        if (pattern.isEmpty() || !caseInsensitiveRegularExpression(pattern)) {
            *error = where + QStringLiteral("\"Match\" or \"Extensions\" is not a valid pattern");
            return nullptr;
        }
    }
    return rules;
}

platform::ImagePtr PMPickUpExternalViewerPreview(const QString& directory, const QString& pattern, qint64 sinceMSecs, qint64* madeMSecs)
{
    const platform::RegularExpressionPtr expression = caseInsensitiveRegularExpression(pattern);
    if (!expression)
        return nullptr;
    QFileInfoList entries = QDir(directory).entryInfoList(QDir::Files | QDir::NoDotAndDotDot);
    QCollator collator;
    collator.setNumericMode(true);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::sort(entries.begin(), entries.end(), [&](const QFileInfo& a, const QFileInfo& b) { return collator.compare(a.fileName(), b.fileName()) < 0; });
    for (auto it = entries.crbegin(); it != entries.crend(); ++it) {
        const QDateTime made = it->birthTime().isValid() ? it->birthTime() : it->lastModified();
        if (made.toMSecsSinceEpoch() < sinceMSecs || !expression->firstMatch(it->fileName(), nullptr))
            continue;
        // A copy of the picture is taken; the user's file stays where it is.
        if (platform::ImagePtr image = platform::Image::imageWithContentsOfFile(it->absoluteFilePath())) {
            if (madeMSecs)
                *madeMSecs = made.toMSecsSinceEpoch();
            return image;
        }
    }
    return nullptr;
}

namespace {

double seconds(const QVariant& microseconds)
{
    bool ok = false;
    const double value = microseconds.toDouble(&ok) / 1e6;
    return ok && std::isfinite(value) ? value : 0;
}

// All properties of one interface of a player, without introspection; empty when it does
// not answer within two seconds.
QVariantMap allProperties(QDBusConnection& bus, const QString& name, const QString& interface)
{
    QDBusMessage call = QDBusMessage::createMethodCall(name, QStringLiteral("/org/mpris/MediaPlayer2"), QStringLiteral("org.freedesktop.DBus.Properties"),
                                                       QStringLiteral("GetAll"));
    call << interface;
    const QDBusMessage reply = bus.call(call, QDBus::Block, 2000);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return {};
    return qdbus_cast<QVariantMap>(reply.arguments().first());
}

} // namespace

PMMprisState PMQueryMprisPlayer(const QString& busName, const QString& desktopId, const QString& watchedPath)
{
    PMMprisState state;
    QDBusConnection bus = busName.isEmpty() ? QDBusConnection::sessionBus() : QDBusConnection(busName);
    if (!bus.isConnected() || !bus.interface())
        return state;
    const QDBusReply<QStringList> names = bus.interface()->registeredServiceNames();
    if (!names.isValid())
        return state;
    const QString wantedEntry = QString(desktopId).remove(QStringLiteral(".desktop"));
    std::optional<PMMprisState> byEntry;
    for (const QString& name : names.value()) {
        if (!name.startsWith(QLatin1String("org.mpris.MediaPlayer2.")))
            continue;
        const QVariantMap player = allProperties(bus, name, QStringLiteral("org.mpris.MediaPlayer2.Player"));
        if (player.isEmpty())
            continue;
        PMMprisState s;
        s.answered = true;
        const QVariantMap metadata = qdbus_cast<QVariantMap>(player.value(QStringLiteral("Metadata")));
        const QUrl url(metadata.value(QStringLiteral("xesam:url")).toString());
        if (url.isLocalFile())
            s.path = url.toLocalFile();
        s.duration = seconds(metadata.value(QStringLiteral("mpris:length")));
        if (s.duration < 1)
            s.duration = 0;
        s.position = seconds(player.value(QStringLiteral("Position")));
        s.isPlaying = player.value(QStringLiteral("PlaybackStatus")).toString() == QLatin1String("Playing");
        if (!watchedPath.isEmpty() && !s.path.isEmpty()
            && QFileInfo(s.path).canonicalFilePath().normalized(QString::NormalizationForm_C) == watchedPath)
            return s;
        if (!byEntry && !wantedEntry.isEmpty()
            && allProperties(bus, name, QStringLiteral("org.mpris.MediaPlayer2")).value(QStringLiteral("DesktopEntry")).toString() == wantedEntry)
            byEntry = s;
    }
    return byEntry.value_or(state);
}

// ---- Push-start

namespace {

QDBusConnection busNamed(const QString& busName)
{
    return busName.isEmpty() ? QDBusConnection::sessionBus() : QDBusConnection(busName);
}

const QString kMprisPrefix = QStringLiteral("org.mpris.MediaPlayer2.");
const QString kMprisPath = QStringLiteral("/org/mpris/MediaPlayer2");

} // namespace

PMMprisPushStart::PMMprisPushStart(const QString& busName, const QString& desktopId, QObject* parent)
    : QObject(parent), m_busName(busName), m_entry(QString(desktopId).remove(QRegularExpression(QStringLiteral("\\.desktop$"))))
{
}

PMMprisPushStart* PMMprisPushStart::start(const QString& busName, const QString& desktopId, int timeoutMSecs, QObject* parent)
{
    auto* push = new PMMprisPushStart(busName, desktopId, parent);
    QDBusConnection bus = busNamed(busName);
    if (push->m_entry.isEmpty() || !bus.isConnected() || !bus.interface()) {
        // Reported on the next turn, so that the caller can connect first.
        QTimer::singleShot(0, push, [push] { push->finish(false); });
        return push;
    }
    // Players that appear from now on, then those already there.
    bus.connect(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"), QStringLiteral("org.freedesktop.DBus"),
                QStringLiteral("NameOwnerChanged"), push, SLOT(nameOwnerChanged(QString, QString, QString)));
    push->m_timeout.setSingleShot(true);
    connect(&push->m_timeout, &QTimer::timeout, push, [push] { push->finish(false); });
    push->m_timeout.start(std::max(0, timeoutMSecs));
    QDBusPendingCallWatcher* names = new QDBusPendingCallWatcher(bus.interface()->asyncCall(QStringLiteral("ListNames")), push);
    connect(names, &QDBusPendingCallWatcher::finished, push, [push](QDBusPendingCallWatcher* call) {
        call->deleteLater();
        const QDBusPendingReply<QStringList> reply = *call;
        if (reply.isValid())
            for (const QString& name : reply.value())
                push->consider(name);
    });
    return push;
}

void PMMprisPushStart::nameOwnerChanged(const QString& name, const QString&, const QString& newOwner)
{
    if (!newOwner.isEmpty())
        consider(name);
}

void PMMprisPushStart::consider(const QString& name)
{
    if (m_done || !name.startsWith(kMprisPrefix) || m_asked.contains(name))
        return;
    m_asked.insert(name);
    QDBusConnection bus = busNamed(m_busName);
    QDBusMessage get = QDBusMessage::createMethodCall(name, kMprisPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << QStringLiteral("org.mpris.MediaPlayer2") << QStringLiteral("DesktopEntry");
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(get, 5000), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, name](QDBusPendingCallWatcher* call) {
        call->deleteLater();
        const QDBusPendingReply<QDBusVariant> reply = *call;
        if (m_done || !reply.isValid() || reply.value().variant().toString() != m_entry)
            return;
        QDBusConnection bus = busNamed(m_busName);
        bus.call(QDBusMessage::createMethodCall(name, kMprisPath, QStringLiteral("org.mpris.MediaPlayer2.Player"), QStringLiteral("Play")),
                 QDBus::NoBlock);
        finish(true);
    });
}

void PMMprisPushStart::finish(bool asked)
{
    if (m_done)
        return;
    m_done = true;
    m_timeout.stop();
    QDBusConnection bus = busNamed(m_busName);
    if (bus.isConnected())
        bus.disconnect(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"), QStringLiteral("org.freedesktop.DBus"),
                       QStringLiteral("NameOwnerChanged"), this, SLOT(nameOwnerChanged(QString, QString, QString)));
    Q_EMIT finished(asked);
    deleteLater();
}
