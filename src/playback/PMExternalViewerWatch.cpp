#include "playback/PMExternalViewerWatch.h"

#include "foundation/NSString+PMHelpManager.h"
#include "foundation/PMLSONSerialization.h"
#include "platform/Image.h"
#include "platform/RegularExpression.h"

#include <QtCore/QCollator>
#include <QtCore/QDir>
#include <QtCore/QFileInfo>
#include <QtCore/QUrl>
#include <QtDBus/QDBusConnection>
#include <QtDBus/QDBusConnectionInterface>
#include <QtDBus/QDBusMessage>
#include <QtDBus/QDBusMetaType>
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
