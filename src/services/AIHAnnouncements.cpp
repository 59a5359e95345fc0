#include "services/AIHAnnouncements.h"

#include "foundation/PMLog.h"
#include "platform/DistributedNotifications.h"
#include "platform/UserDefaults.h"

#include <QtCore/QBuffer>
#include <QtCore/QCoreApplication>
#include <QtCore/QCryptographicHash>
#include <QtCore/QJsonDocument>
#include <QtGui/QFont>
#include <QtGui/QFontMetricsF>
#include <QtGui/QGuiApplication>
#include <QtGui/QIcon>
#include <QtGui/QImageReader>
#include <QtGui/QPainter>
#include <QtGui/QPainterPath>

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <mutex>
#include <vector>

namespace {

bool defaultIsOn(const char* key)
{
    return platform::UserDefaults::standard().boolForKey(QString::fromLatin1(key));
}

QString mainBundleIdentifier()
{
    const QString name = QGuiApplication::desktopFileName();
    return name.isEmpty() ? QStringLiteral("com.tolvane.Pellis") : name;
}

QString loginName()
{
    if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_name && *pw->pw_name)
        return QString::fromLocal8Bit(pw->pw_name);
    return QString::fromLocal8Bit(qgetenv("USER"));
}

// The picture's bytes travel as PNG: lossless like the original's compressed TIFF, and read
// by every listener's image library.
QByteArray encodedImage(const QImage& image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (image.isNull() || !image.save(&buffer, "PNG"))
        return {};
    return bytes;
}

// The composite a listener shows: the base icon with the badge in its top right corner.
QImage composite(const QImage& base, const QString& badge)
{
    QImage out(base.size(), QImage::Format_ARGB32_Premultiplied);
    out.fill(Qt::transparent);
    QPainter painter(&out);
    painter.drawImage(0, 0, base);
    PMAIHDrawBadgeInRect(painter, badge, {}, {}, {}, true, true, QRectF(QPointF(0, 0), QSizeF(base.size())));
    return out;
}

} // namespace

AIHSerialQueueOwner::AIHSerialQueueOwner()
    : _queue(QString())
{
}

AIHSerialQueueOwner::~AIHSerialQueueOwner() = default;

void AIHSerialQueueOwner::closeWhenTheApplicationEnds()
{
    // The announcer and the listener live for the process: a raw pointer stays good.
    static std::vector<AIHSerialQueueOwner*> owners;
    static std::once_flag routine;
    owners.push_back(this);
    std::call_once(routine, [] {
        qAddPostRoutine([] {
            for (AIHSerialQueueOwner* owner : owners) {
                owner->_closed = true;
                owner->_queue.waitUntilEmpty();
            }
        });
    });
}

// ---- announcing

AIHAnnouncer& AIHAnnouncer::defaultAnnouncer()
{
    static AIHAnnouncer* announcer = new AIHAnnouncer; // lives for the process
    return *announcer;
}

AIHAnnouncer::AIHAnnouncer()
{
    closeWhenTheApplicationEnds();
    _requestObserver = platform::addDistributedNotificationObserver([this](const QString& name, const QString&) {
        if (name == QLatin1String(kAIHRequestNotification))
            reannounce();
    });
}

AIHAnnouncer::~AIHAnnouncer()
{
    platform::removeDistributedNotificationObserver(_requestObserver);
}

void AIHAnnouncer::announce(const std::optional<QVariantMap>& announcement)
{
    if (isClosed() || defaultIsOn(kAIHDisableAnnouncing))
        return;
    queue().async([this, announcement] {
        const std::optional<QVariantMap> transport = PMAIHTransportDictionary(announcement, true);
        if (!transport)
            return;
        const QByteArray json = QJsonDocument(QJsonObject::fromVariantMap(*transport)).toJson(QJsonDocument::Compact);
        if (json.isEmpty()) {
            PMLog("[AIH] cannot serialize: %@", QStringLiteral("empty payload"));
            return;
        }
        if (json.size() > kAIHMaximumPayloadBytes) {
            PMLog("[AIH] cannot serialize: %@", QStringLiteral("payload of %1 bytes is too large").arg(json.size()));
            return;
        }
        _latestTransportString = QString::fromUtf8(json);
        platform::postDistributedNotification(QString::fromLatin1(kAIHAnnouncementNotification), _latestTransportString);
    });
}

void AIHAnnouncer::reannounce()
{
    if (isClosed() || defaultIsOn(kAIHDisableAnnouncing))
        return;
    queue().async([this] {
        platform::postDistributedNotification(QString::fromLatin1(kAIHAnnouncementNotification), _latestTransportString);
    });
}

void AIHAnnouncer::waitUntilPosted()
{
    queue().waitUntilEmpty();
}

QString AIHAnnouncer::latestTransportString()
{
    QString text;
    queue().sync([&] { text = _latestTransportString; });
    return text;
}

QString PMAIHUserToken()
{
    const QString name = loginName();
    if (name.isEmpty())
        return {};
    return QString::fromLatin1(QCryptographicHash::hash(name.toUtf8(), QCryptographicHash::Sha1).toBase64());
}

std::optional<QVariantMap> PMAIHTransportDictionary(const std::optional<QVariantMap>& given, bool encode)
{
    const QString user = PMAIHUserToken();
    if (user.isEmpty()) {
        PMLog("[AIH] cannot determine user name");
        return std::nullopt;
    }
    QString identifier = given ? given->value(QStringLiteral("Identifier")).toString() : QString();
    if (identifier.isEmpty())
        identifier = mainBundleIdentifier();
    if (identifier.isEmpty()) {
        PMLog("[AIH] cannot determine bundle identifier");
        return std::nullopt;
    }
    QVariantMap transport{{QStringLiteral("Format"), QStringLiteral("1")},
                          {QStringLiteral("User"), user},
                          {QStringLiteral("Identifier"), identifier}};
    if (!given)
        return transport;
    if (const QVariant image = given->value(QStringLiteral("Image")); image.canConvert<QImage>() && !image.value<QImage>().isNull()) {
        if (encode) {
            const QByteArray bytes = encodedImage(image.value<QImage>());
            if (bytes.isEmpty())
                PMLog("[AIH] cannot compress image");
            else
                transport.insert(QStringLiteral("Image"), QString::fromLatin1(bytes.toBase64()));
        } else {
            transport.insert(QStringLiteral("Image"), image);
        }
    }
    const QString badge = given->value(QStringLiteral("Badge")).toString();
    if (!badge.isEmpty() && badge != QLatin1String("0"))
        transport.insert(QStringLiteral("Badge"), badge);
    return transport;
}

void PMAIHAnnounceImage(const QImage& image)
{
    if (image.isNull())
        AIHAnnouncer::defaultAnnouncer().announce(std::nullopt);
    else
        AIHAnnouncer::defaultAnnouncer().announce(QVariantMap{{QStringLiteral("Image"), image}});
}

void PMAIHAnnounceBadgeNumber(std::int64_t number)
{
    if (number == 0)
        AIHAnnouncer::defaultAnnouncer().announce(std::nullopt);
    else
        AIHAnnouncer::defaultAnnouncer().announce(QVariantMap{{QStringLiteral("Badge"), QString::number(number)}});
}

void PMAIHAnnounceBadge(const QString& badge)
{
    if (badge.isNull())
        AIHAnnouncer::defaultAnnouncer().announce(std::nullopt);
    else
        AIHAnnouncer::defaultAnnouncer().announce(QVariantMap{{QStringLiteral("Badge"), badge}});
}

void PMAIHAnnounce(const QVariantMap& announcement)
{
    AIHAnnouncer::defaultAnnouncer().announce(announcement);
}

// ---- listening

AIHListener& AIHListener::defaultListener()
{
    static AIHListener* listener = new AIHListener; // lives for the process
    return *listener;
}

AIHListener::AIHListener()
{
    closeWhenTheApplicationEnds();
}

AIHListener::~AIHListener()
{
    if (_observer)
        platform::removeDistributedNotificationObserver(_observer);
}

void AIHListener::setListeningBlock(AIHListeningBlock block)
{
    bool ask = false;
    queue().sync([&] {
        const bool had = bool(_listeningBlock);
        _listeningBlock = std::move(block);
        if (_listeningBlock && !had) {
            _observer = platform::addDistributedNotificationObserver([this](const QString& name, const QString& object) {
                if (name == QLatin1String(kAIHAnnouncementNotification))
                    listen(object);
            });
        } else if (!_listeningBlock && had) {
            platform::removeDistributedNotificationObserver(_observer);
            _observer = 0;
        }
        ask = bool(_listeningBlock);
    });
    if (ask)
        platform::postDistributedNotification(QString::fromLatin1(kAIHRequestNotification), QString());
}

void AIHListener::listen(const QString& object)
{
    if (isClosed() || defaultIsOn(kAIHDisableListening) || object.isEmpty() || object.size() > kAIHMaximumPayloadBytes)
        return;
    queue().async([this, object] {
        if (!_listeningBlock)
            return;
        if (const std::optional<AIHAnnouncement> announcement = PMAIHDecodeAnnouncement(object))
            _listeningBlock(*announcement);
    });
}

void PMAIHSetListeningBlock(AIHListeningBlock block)
{
    AIHListener::defaultListener().setListeningBlock(std::move(block));
}

std::optional<AIHAnnouncement> PMAIHDecodeAnnouncement(const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    if (bytes.isEmpty()) {
        PMLog("[AIH] cannot decode");
        return std::nullopt;
    }
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (!document.isObject()) {
        PMLog("[AIH] cannot deserialize: %@", error.errorString());
        return std::nullopt;
    }
    const QJsonObject object = document.object();
    if (object.value(QStringLiteral("User")).toString() != PMAIHUserToken())
        return std::nullopt; // another user's icon
    AIHAnnouncement announcement;
    announcement.identifier = object.value(QStringLiteral("Identifier")).toString();
    if (announcement.identifier.isEmpty()) {
        PMLog("[AIH] missing bundle identifier");
        return std::nullopt;
    }
    if (const QJsonValue image = object.value(QStringLiteral("Image")); image.isString()) {
        const auto decoded = QByteArray::fromBase64Encoding(image.toString().toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
        if (!decoded) {
            PMLog("[AIH] cannot decode image");
            return std::nullopt;
        }
        QBuffer buffer;
        buffer.setData(*decoded);
        QImageReader reader(&buffer);
        // An icon, not a poster: refuse pictures that would take more than 64 MB to hold.
        reader.setAllocationLimit(64);
        if (!reader.read(&announcement.image)) {
            PMLog("[AIH] cannot decompress image");
            return std::nullopt;
        }
    }
    announcement.badge = object.value(QStringLiteral("Badge")).toString();
    if (announcement.badge.isEmpty()) {
        announcement.composite = announcement.image;
        return announcement;
    }
    // Without a picture of its own the announcement is drawn on the program's icon, which is
    // known here only for this program itself.
    QImage base = announcement.image;
    if (base.isNull() && announcement.identifier == mainBundleIdentifier())
        base = QGuiApplication::windowIcon().pixmap(QSize(128, 128)).toImage();
    if (base.isNull()) {
        PMLog("[AIH] cannot identify base icon");
        announcement.composite = announcement.image;
        return announcement;
    }
    announcement.composite = composite(base, announcement.badge);
    return announcement;
}

QImage PMAIHCompositeImage(const QVariantMap& given)
{
    const std::optional<QVariantMap> transport = PMAIHTransportDictionary(given, false);
    if (!transport)
        return {};
    const QImage image = transport->value(QStringLiteral("Image")).value<QImage>();
    const QString badge = transport->value(QStringLiteral("Badge")).toString();
    if (badge.isEmpty() || image.isNull())
        return image;
    return composite(image, badge);
}

// ---- the badge pill

QImage PMAIHDrawBadge(const QString& text, const QColor& textColor, const QColor& fillColor, const QColor& strokeColor)
{
    QFont font = QGuiApplication::font();
    font.setPixelSize(40);
    const QFontMetricsF metrics(font);
    const QSizeF textSize = text.isEmpty() ? QSizeF() : QSizeF(metrics.horizontalAdvance(text), metrics.height());
    const QSizeF total = text.isEmpty() ? QSizeF(30, 30) : textSize + QSizeF(22, 22);
    const double height = std::ceil(total.height());
    // Never narrower than high; a long text grows the pill to 2.7 times its height at most.
    const double width = std::ceil(total.height() <= total.width() ? std::min(total.width() + 16, height * 2.7) : height);

    QImage image(QSize(int(width), int(height)), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);

    const QRectF bounds(0, 0, width, height);
    const QRectF pill = bounds.adjusted(3, 3, -3, -3);
    const double radius = pill.height() / 2;
    QPainterPath capsule;
    capsule.addRoundedRect(pill, radius, radius);

    // The shadow: the capsule in translucent black, a point lower, softened by a few rings.
    for (int ring = 3; ring >= 1; --ring) {
        QPainterPath shadow;
        const QRectF r = pill.translated(0, 1).adjusted(-ring * 0.5, -ring * 0.5, ring * 0.5, ring * 0.5);
        shadow.addRoundedRect(r, r.height() / 2, r.height() / 2);
        painter.fillPath(shadow, QColor(0, 0, 0, int(0.4 * 255 / 3)));
    }
    painter.fillPath(capsule, fillColor.isValid() ? fillColor : QColor::fromRgbF(1, 0, 0, 0.9f));
    if (strokeColor.isValid()) {
        const double line = std::max(1.0, std::floor(height * 0.05));
        QPainterPath inner;
        const QRectF r = pill.adjusted(line / 2, line / 2, -line / 2, -line / 2);
        inner.addRoundedRect(r, r.height() / 2, r.height() / 2);
        painter.strokePath(inner, QPen(strokeColor, line));
    }
    if (!text.isEmpty()) {
        const QRectF textRect = bounds.adjusted(11, 11, -11, -11);
        // A text too long for the widest pill shrinks to fit instead of being clipped.
        if (textSize.width() > textRect.width())
            font.setPixelSize(std::max(1, int(std::floor(40.0 * textRect.width() / textSize.width()))));
        painter.setFont(font);
        painter.setPen(textColor.isValid() ? textColor : QColor(Qt::white));
        painter.drawText(textRect, Qt::AlignCenter, text);
    }
    return image;
}

void PMAIHDrawBadgeImageInRect(QPainter& painter, const QImage& badge, bool top, bool right, const QRectF& rect)
{
    if (badge.isNull() || rect.isEmpty())
        return;
    const double height = rect.height() / 2.7;
    const double width = height * badge.width() / badge.height();
    const QRectF target(right ? rect.right() - width : rect.left(), top ? rect.top() : rect.bottom() - height, width, height);
    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter.setOpacity(1.0);
    painter.drawImage(target, badge);
    painter.restore();
}

void PMAIHDrawBadgeInRect(QPainter& painter, const QString& text, const QColor& textColor, const QColor& fillColor,
                          const QColor& strokeColor, bool top, bool right, const QRectF& rect)
{
    PMAIHDrawBadgeImageInRect(painter, PMAIHDrawBadge(text, textColor, fillColor, strokeColor), top, right, rect);
}
