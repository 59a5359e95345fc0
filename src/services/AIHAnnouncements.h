// Icon announcements: the program tells other programs of the same user what its launcher
// icon looks like now (an image, a badge text, or both), so a companion can mirror it; a
// listener decodes such announcements. The payload is compact JSON sent as the object of a
// distributed notification. The program itself only announces.
//
// The file also holds the badge drawing: a rounded pill with a number or glyph drawn into a
// corner of an icon, which the launcher badge uses.
#pragma once

#include "platform/Queues.h"

#include <QtCore/QJsonObject>
#include <QtCore/QString>
#include <QtCore/QVariantMap>
#include <QtGui/QColor>
#include <QtGui/QImage>

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>

class QPainter;
class QRectF;

inline constexpr const char* kAIHAnnouncementNotification = "com.tolvane.AIHAnnouncementNotification";
inline constexpr const char* kAIHRequestNotification = "com.tolvane.AIHRequestNotification";
inline constexpr const char* kAIHDisableAnnouncing = "com.tolvane.AIHDisableAnnouncing";
inline constexpr const char* kAIHDisableListening = "com.tolvane.AIHDisableListening";
// An announcement larger than this is dropped: listeners decode it on every post.
inline constexpr qsizetype kAIHMaximumPayloadBytes = 4 * 1024 * 1024;

// Owns the one serial queue on which a subclass does all of its work.
class AIHSerialQueueOwner {
public:
    AIHSerialQueueOwner();
    virtual ~AIHSerialQueueOwner();
    AIHSerialQueueOwner(const AIHSerialQueueOwner&) = delete;
    AIHSerialQueueOwner& operator=(const AIHSerialQueueOwner&) = delete;
    platform::SerialQueue& queue() { return _queue; }
    // Whether the program is ending: nothing is queued any more.
    bool isClosed() const { return _closed.load(); }

protected:
    // As the application object goes, the queue's last jobs finish first and no new ones start,
    // so no job meets a half-destroyed program.
    void closeWhenTheApplicationEnds();

private:
    platform::SerialQueue _queue;
    std::atomic<bool> _closed{false};
};

class AIHAnnouncer final : public AIHSerialQueueOwner {
public:
    static AIHAnnouncer& defaultAnnouncer();
    // Keys "Identifier" (string), "Image" (QImage) and "Badge" (string); none (nullopt)
    // announces the plain icon.
    void announce(const std::optional<QVariantMap>& announcement);
    // Posts the latest announcement again, for a listener that just started.
    void reannounce();
    // Waits until every announcement made so far has been posted.
    void waitUntilPosted();
    QString latestTransportString();

private:
    AIHAnnouncer();
    ~AIHAnnouncer() override;
    QString _latestTransportString;
    std::uint64_t _requestObserver = 0;
};

struct AIHAnnouncement {
    QString identifier;
    QImage image;     // null when none was sent
    QString badge;    // empty when none was sent
    QImage composite; // the image with the badge drawn on it (the image alone without a badge)
};
using AIHListeningBlock = std::function<void(const AIHAnnouncement&)>;

class AIHListener final : public AIHSerialQueueOwner {
public:
    static AIHListener& defaultListener();
    // Synchronous on the listener's queue. Setting a block asks every announcer to repeat its
    // state; the block is called on the listener's queue, not on the main thread.
    void setListeningBlock(AIHListeningBlock block);
    void listen(const QString& object);
    void waitUntilDecoded() { queue().waitUntilEmpty(); }

private:
    AIHListener();
    ~AIHListener() override;
    AIHListeningBlock _listeningBlock;
    std::uint64_t _observer = 0;
};

// The user token: Base64 of the SHA-1 of the login name (28 characters); empty when there is
// no login name.
QString PMAIHUserToken();
// The payload: "Format", "User", "Identifier", "Image" (Base64 PNG when encoding, else the
// QImage itself under "ImageObject"), "Badge" (never "0"). Nullopt when it cannot be made.
std::optional<QVariantMap> PMAIHTransportDictionary(const std::optional<QVariantMap>& given, bool encode);
std::optional<AIHAnnouncement> PMAIHDecodeAnnouncement(const QString& text);

void PMAIHAnnounceImage(const QImage& image);
void PMAIHAnnounceBadgeNumber(std::int64_t number);
void PMAIHAnnounceBadge(const QString& badge);
void PMAIHAnnounce(const QVariantMap& announcement);
void PMAIHSetListeningBlock(AIHListeningBlock block);
QImage PMAIHCompositeImage(const QVariantMap& announcement);

// The pill: text (40-point system font) on a capsule with a shadow; invalid colours mean the
// defaults (white text, red fill at 90 %, no stroke).
QImage PMAIHDrawBadge(const QString& text, const QColor& textColor = {}, const QColor& fillColor = {},
                      const QColor& strokeColor = {});
void PMAIHDrawBadgeImageInRect(QPainter& painter, const QImage& badge, bool top, bool right, const QRectF& rect);
void PMAIHDrawBadgeInRect(QPainter& painter, const QString& text, const QColor& textColor, const QColor& fillColor,
                          const QColor& strokeColor, bool top, bool right, const QRectF& rect);
