// The launcher badge as others see it: the icon announcements and the launcher's count and
// progress on a bus of their own, the badge pill's pixels and the icon with its bar.
#include "library/model/PMMainController.h"
#include "platform/DistributedNotifications.h"
#include "platform/LauncherEntry.h"
#include "platform/UserDefaults.h"
#include "services/AIHAnnouncements.h"
#include "services/PMApplicationIcon.h"

#include "common/TestSupport.h"

#include <QtCore/QJsonDocument>
#include <QtCore/QJsonObject>
#include <QtCore/QProcess>
#include <QtDBus/QDBusArgument>
#include <QtDBus/QDBusConnection>
#include <QtDBus/QDBusMessage>
#include <QtGui/QGuiApplication>
#include <QtGui/QPainter>

#include <gtest/gtest.h>

using platform::Array;

namespace {

// Hears the program's signals on the private bus.
class SignalRecorder : public QObject {
    Q_OBJECT
public:
    QList<QPair<QString, QString>> notifications;
    QList<QVariantMap> launcherUpdates;
    QStringList launcherURIs;
public Q_SLOTS:
    void posted(const QString& name, const QString& object) { notifications.append({name, object}); }
    void update(const QDBusMessage& message)
    {
        const QList<QVariant> arguments = message.arguments();
        if (arguments.size() != 2)
            return;
        launcherURIs.append(arguments.at(0).toString());
        QVariantMap properties;
        arguments.at(1).value<QDBusArgument>() >> properties;
        launcherUpdates.append(properties);
    }
};

class LauncherBadgeOnABus : public ::testing::Test {
protected:
    void SetUp() override
    {
        address = testsupport::startPrivateBus(daemon);
        if (address.isEmpty())
            GTEST_SKIP() << "no dbus-daemon";
        QDBusConnection sender = QDBusConnection::connectToBus(address, QStringLiteral("pellis-badge-sender"));
        QDBusConnection listener = QDBusConnection::connectToBus(address, QStringLiteral("pellis-badge-listener"));
        ASSERT_TRUE(sender.isConnected());
        ASSERT_TRUE(listener.isConnected());
        platform::setDistributedNotificationBusForTesting(QStringLiteral("pellis-badge-sender"));
        ASSERT_TRUE(listener.connect(QString(), QString::fromLatin1(platform::kDistributedNotificationPath),
                                     QString::fromLatin1(platform::kDistributedNotificationInterface),
                                     QString::fromLatin1(platform::kDistributedNotificationMember), &recorder,
                                     SLOT(posted(QString, QString))));
        ASSERT_TRUE(listener.connect(QString(), QString::fromLatin1(platform::kLauncherEntryPath),
                                     QString::fromLatin1(platform::kLauncherEntryInterface), QStringLiteral("Update"), &recorder,
                                     SLOT(update(QDBusMessage))));
        platform::UserDefaults::standard().removeObjectForKey(QString::fromLatin1(kAIHDisableAnnouncing));
    }
    void TearDown() override
    {
        platform::UserDefaults::standard().removeObjectForKey(QString::fromLatin1(kAIHDisableAnnouncing));
        platform::setDistributedNotificationBusForTesting({});
        QDBusConnection::disconnectFromBus(QStringLiteral("pellis-badge-sender"));
        QDBusConnection::disconnectFromBus(QStringLiteral("pellis-badge-listener"));
        if (daemon.state() != QProcess::NotRunning) {
            daemon.kill();
            daemon.waitForFinished();
        }
    }
    // The announcements heard, as JSON objects.
    QList<QJsonObject> announcements() const
    {
        QList<QJsonObject> objects;
        for (const auto& [name, object] : recorder.notifications)
            if (name == QLatin1String(kAIHAnnouncementNotification))
                objects.append(QJsonDocument::fromJson(object.toUtf8()).object());
        return objects;
    }

    QProcess daemon;
    QString address;
    SignalRecorder recorder;
};

TEST_F(LauncherBadgeOnABus, AnnouncementsCarryOnlyWhatIsSetAndNothingWhenDisabled)
{
    AIHAnnouncer& announcer = AIHAnnouncer::defaultAnnouncer();

    PMAIHAnnounceImage(QImage()); // the plain icon
    announcer.waitUntilPosted();
    ASSERT_TRUE(testsupport::waitUntil([&] { return announcements().size() == 1; }));
    QJsonObject plain = announcements().at(0);
    EXPECT_EQ(plain.keys(), (QStringList{QStringLiteral("Format"), QStringLiteral("Identifier"), QStringLiteral("User")}));
    EXPECT_EQ(plain.value(QStringLiteral("Format")).toString(), QStringLiteral("1"));
    EXPECT_EQ(plain.value(QStringLiteral("User")).toString().size(), 28);

    PMAIHAnnounce({{QStringLiteral("Badge"), QStringLiteral("0")}});
    QImage icon(32, 32, QImage::Format_ARGB32);
    icon.fill(Qt::blue);
    PMAIHAnnounce({{QStringLiteral("Badge"), QStringLiteral("7")}, {QStringLiteral("Image"), icon}});
    announcer.waitUntilPosted();
    ASSERT_TRUE(testsupport::waitUntil([&] { return announcements().size() == 3; }));
    EXPECT_FALSE(announcements().at(1).contains(QStringLiteral("Badge"))) << "a badge of 0 is not sent";
    const QJsonObject full = announcements().at(2);
    EXPECT_EQ(full.value(QStringLiteral("Badge")).toString(), QStringLiteral("7"));

    // What a listener makes of it: the picture back, with the badge drawn on it.
    const std::optional<AIHAnnouncement> decoded = PMAIHDecodeAnnouncement(QString::fromUtf8(QJsonDocument(full).toJson()));
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->image.size(), QSize(32, 32));
    EXPECT_EQ(decoded->badge, QStringLiteral("7"));
    EXPECT_NE(decoded->composite.pixel(26, 6), decoded->image.pixel(26, 6)) << "the badge sits top right";
    // Another user's announcement never reaches a listener.
    QJsonObject stranger = full;
    stranger.insert(QStringLiteral("User"), QStringLiteral("c29tZWJvZHkgZWxzZSBlbHNlIGVsc2U="));
    EXPECT_FALSE(PMAIHDecodeAnnouncement(QString::fromUtf8(QJsonDocument(stranger).toJson())));

    // Switched off: neither announcements nor answers to requests go out.
    platform::UserDefaults::standard().setBool(true, QString::fromLatin1(kAIHDisableAnnouncing));
    PMAIHAnnounceBadgeNumber(3);
    platform::postDistributedNotification(QString::fromLatin1(kAIHRequestNotification), QString());
    announcer.waitUntilPosted();
    // The request itself went out; wait for it so anything posted before it has arrived too.
    ASSERT_TRUE(testsupport::waitUntil([&] {
        return std::any_of(recorder.notifications.begin(), recorder.notifications.end(),
                           [](const auto& n) { return n.first == QLatin1String(kAIHRequestNotification); });
    }));
    EXPECT_EQ(announcements().size(), 3);
}

TEST_F(LauncherBadgeOnABus, TheLauncherShowsTheCountAndProgressAndIsClearedAtTheEnd)
{
    PMMainController& c = mainController();
    c.resetForTesting();
    c._longTermNumberOfDownloads = c._longTermNumberOfConversions = 0;
    c._numberOfCrawlers = c._numberOfRemainingCrawlers = 0;
    c._isMonitoredExternalViewerReadyToContinue = false;
    c._applicationIconBadgeCount = 0;
    c._applicationIconProgress = -1;
    c._numberOfRemainingItemsMovingToLibraryFolder = 2;
    c._movingToLibraryFolderFraction = 0.5;
    c.updateApplicationIconWithDownloads(Array::make(), Array::make(), 1.0);
    EXPECT_FALSE(c._applicationIconImage.isNull());
    c._numberOfRemainingItemsMovingToLibraryFolder = 0;
    c.updateApplicationIconWithDownloads(Array::make(), Array::make(), 2.0);
    EXPECT_TRUE(c._applicationIconImage.isNull()) << "back to the plain icon";

    ASSERT_TRUE(testsupport::waitUntil([&] { return recorder.launcherUpdates.size() == 2; }));
    EXPECT_EQ(recorder.launcherURIs.at(0), QStringLiteral("application://%1.desktop").arg(QGuiApplication::desktopFileName().isEmpty()
                                                                                                  ? QStringLiteral("com.tolvane.Pellis")
                                                                                                  : QGuiApplication::desktopFileName()));
    const QVariantMap busy = recorder.launcherUpdates.at(0);
    EXPECT_EQ(busy.value(QStringLiteral("count")).toLongLong(), 2);
    EXPECT_TRUE(busy.value(QStringLiteral("count-visible")).toBool());
    EXPECT_DOUBLE_EQ(busy.value(QStringLiteral("progress")).toDouble(), 0.5);
    EXPECT_TRUE(busy.value(QStringLiteral("progress-visible")).toBool());
    const QVariantMap done = recorder.launcherUpdates.at(1);
    EXPECT_FALSE(done.value(QStringLiteral("count-visible")).toBool());
    EXPECT_FALSE(done.value(QStringLiteral("progress-visible")).toBool());

    // The icon went back to plain with a plain announcement.
    AIHAnnouncer::defaultAnnouncer().waitUntilPosted();
    ASSERT_TRUE(testsupport::waitUntil([&] { return announcements().size() == 2; }));
    EXPECT_TRUE(announcements().at(0).contains(QStringLiteral("Image")));
    EXPECT_FALSE(announcements().at(1).contains(QStringLiteral("Image")));
}

// The bounding box of the pixels darker than mid-grey.
QRect darkPixels(const QImage& image)
{
    QRect box;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            if (qAlpha(p) > 200 && qGray(p) < 100)
                box |= QRect(x, y, 1, 1);
        }
    return box;
}

TEST(BadgePill, TheTextFitsInsideThePillAtEveryLength)
{
    int previousWidth = 0;
    for (const QString& text : {QStringLiteral("7"), QStringLiteral("42"), QStringLiteral("512"), QStringLiteral("9999"),
                                QStringLiteral("123456789012")}) {
        SCOPED_TRACE(text.toStdString());
        const QImage badge = PMAIHDrawBadge(text, Qt::black, Qt::white).convertToFormat(QImage::Format_ARGB32);
        const int height = badge.height();
        EXPECT_GE(badge.width(), height) << "never narrower than high";
        EXPECT_LE(badge.width(), int(std::ceil(height * 2.7)) + 1);
        EXPECT_GE(badge.width(), previousWidth);
        previousWidth = badge.width();
        const QRect ink = darkPixels(badge);
        ASSERT_FALSE(ink.isEmpty());
        // The text stays inside the pill's text area (a long one shrinks instead of being cut).
        const QRect inside = badge.rect().adjusted(10, 10, -10, -10);
        EXPECT_TRUE(inside.contains(ink)) << "ink " << ink.x() << "," << ink.width() << " in " << badge.width();
    }
    EXPECT_EQ(PMAIHDrawBadge(QStringLiteral("7")).width(), PMAIHDrawBadge(QStringLiteral("7")).height()) << "one digit: a circle";
}

TEST(ApplicationIconBadge, BarAndBadgeAppearOnlyWhereAsked)
{
    const QImage base = PMApplicationIconImage(128);
    const QColor accent(0, 200, 0);
    const QRect barRow(40, 103, 40, 2); // inside the bar's track (x 28 to 100, y 102 to 106)
    const QRect corner(100, 2, 26, 20);          // the badge's corner
    const auto differs = [&](const QImage& a, const QRect& r) {
        for (int y = r.top(); y <= r.bottom(); ++y)
            for (int x = r.left(); x <= r.right(); ++x)
                if (a.pixel(x, y) != base.pixel(x, y))
                    return true;
        return false;
    };
    const QImage arrowOnly = PMApplicationIconWithBadge(base, -1, -1, accent).convertToFormat(base.format());
    EXPECT_FALSE(differs(arrowOnly, barRow)) << "no bar without a group";
    EXPECT_TRUE(differs(arrowOnly, corner));
    const QImage barOnly = PMApplicationIconWithBadge(base, 0, 0.75, accent).convertToFormat(base.format());
    EXPECT_TRUE(differs(barOnly, barRow));
    EXPECT_FALSE(differs(barOnly, corner)) << "no badge without a count";
    // Three quarters of the track are filled in the accent colour, the rest is not.
    EXPECT_EQ(QColor(barOnly.pixel(70, 104)).green(), 200);
    EXPECT_NE(QColor(barOnly.pixel(95, 104)).green(), 200);
}

} // namespace

#include "LauncherBadgeTest.moc"
