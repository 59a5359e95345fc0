#include "platform/Appearance.h"
#include "platform/UserDefaults.h"
#include "ui/kit/PMAppearance.h"

#include <QtGui/QGuiApplication>

#include <gtest/gtest.h>

#include "common/TestSupport.h"

#include <QtCore/QProcess>
#include <QtCore/QThread>
#include <QtDBus/QDBusConnection>
#include <QtDBus/QDBusMessage>
#include <QtDBus/QDBusVariant>
#include <QtGui/QAction>
#include <QtGui/QPalette>
#include <QtWidgets/QApplication>
#include <QtWidgets/QComboBox>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QWidget>

using platform::AppearanceSource;
using namespace testsupport;

// A desktop's settings portal: answers the appearance keys and announces changes.
class FakePortal : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Settings")
public:
    uint colorScheme = 0;
    uint contrast = 0;
public Q_SLOTS:
    QDBusVariant ReadOne(const QString& nameSpace, const QString& key)
    {
        if (nameSpace == QLatin1String("org.freedesktop.appearance") && key == QLatin1String("color-scheme"))
            return QDBusVariant(colorScheme);
        if (nameSpace == QLatin1String("org.freedesktop.appearance") && key == QLatin1String("contrast"))
            return QDBusVariant(contrast);
        return QDBusVariant(QString());
    }
    void announce(const QString& key, uint value) { Q_EMIT SettingChanged(QStringLiteral("org.freedesktop.appearance"), key, QDBusVariant(value)); }
Q_SIGNALS:
    void SettingChanged(const QString& nameSpace, const QString& key, const QDBusVariant& value);
};

// An older portal that only has Read, which wraps the value in a second variant.
class OldFakePortal : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Settings")
public Q_SLOTS:
    QDBusVariant Read(const QString&, const QString& key)
    {
        return QDBusVariant(QVariant::fromValue(QDBusVariant(key == QLatin1String("color-scheme") ? 1u : 1u)));
    }
};

namespace {

// A private message bus with the portal served from a thread of its own (the program
// asks it with a blocking call from the main thread).
struct PortalBus {
    QProcess daemon;
    QString address;
    QThread serviceThread;
    bool started = false;

    PortalBus()
    {
        address = startPrivateBus(daemon);
        if (address.isEmpty())
            return;
        QDBusConnection::connectToBus(address, QStringLiteral("portal-service"));
        QDBusConnection::connectToBus(address, QStringLiteral("portal-client"));
        serviceThread.start();
        started = true;
    }
    template <class Portal>
    bool serve(Portal* portal)
    {
        QDBusConnection service(QStringLiteral("portal-service"));
        const bool registered = service.registerObject(QStringLiteral("/org/freedesktop/portal/desktop"), portal,
                                                       QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals) &&
                                service.registerService(QStringLiteral("org.freedesktop.portal.Desktop"));
        // Served from its own thread, with what the bus made for it.
        portal->moveToThread(&serviceThread);
        return registered;
    }
    ~PortalBus()
    {
        AppearanceSource::shared().setBusConnectionNameForTesting({});
        QDBusConnection::disconnectFromBus(QStringLiteral("portal-client"));
        QDBusConnection::disconnectFromBus(QStringLiteral("portal-service"));
        serviceThread.quit();
        serviceThread.wait();
        daemon.kill();
        daemon.waitForFinished();
    }
};

} // namespace

TEST(Appearance, FollowsThePortalLive)
{
    PortalBus bus;
    if (!bus.started)
        GTEST_SKIP() << "no dbus-daemon to run a private bus";
    auto* portal = new FakePortal;
    portal->colorScheme = 1;
    portal->contrast = 1;
    ASSERT_TRUE(bus.serve(portal));
    AppearanceSource& source = AppearanceSource::shared();
    source.setBusConnectionNameForTesting(QStringLiteral("portal-client"));

    EXPECT_TRUE(source.portalAnswered());
    EXPECT_TRUE(PMIsDarkMode());
    EXPECT_TRUE(PMIsDarkInterfaceStyle());
    EXPECT_TRUE(PMShouldIncreaseContrast());
    // Qt's palette here is light: the application puts on a dark one.
    const QPalette light = QApplication::palette();
    PMFollowDesktopAppearance();
    EXPECT_LT(QApplication::palette().color(QPalette::Window).lightness(), 100);

    // The desktop switches to light with normal contrast; the change arrives as a signal.
    int changes = 0;
    QObject counting; // the connection goes with it, before `changes` does
    QObject::connect(&source, &AppearanceSource::appearanceChanged, &counting, [&] { ++changes; });
    QMetaObject::invokeMethod(portal, [portal] {
        portal->announce(QStringLiteral("color-scheme"), 2);
        portal->announce(QStringLiteral("contrast"), 0);
    });
    EXPECT_TRUE(waitUntil([&] { return changes >= 2; }));
    EXPECT_FALSE(PMIsDarkMode());
    EXPECT_FALSE(PMShouldIncreaseContrast());
    EXPECT_EQ(QApplication::palette(), light);

    // "No preference" leaves the decision to the palette (light here).
    QMetaObject::invokeMethod(portal, [portal] { portal->announce(QStringLiteral("color-scheme"), 0); });
    EXPECT_TRUE(waitUntil([&] { return changes >= 3; }));
    EXPECT_FALSE(PMIsDarkMode());
    QMetaObject::invokeMethod(portal, [portal] { portal->deleteLater(); });
}

TEST(Appearance, FollowsAPortalThatComesLater)
{
    PortalBus bus;
    if (!bus.started)
        GTEST_SKIP() << "no dbus-daemon to run a private bus";
    AppearanceSource& source = AppearanceSource::shared();
    source.setBusConnectionNameForTesting(QStringLiteral("portal-client"));
    // The desktop session has not started its portal yet.
    EXPECT_FALSE(source.portalAnswered());
    EXPECT_FALSE(PMIsDarkMode());

    int changes = 0;
    QObject counting; // the connection goes with it
    QObject::connect(&source, &AppearanceSource::appearanceChanged, &counting, [&] { ++changes; });
    auto* portal = new FakePortal;
    portal->colorScheme = 1;
    ASSERT_TRUE(bus.serve(portal));
    EXPECT_TRUE(waitUntil([&] { return changes >= 1; }));
    EXPECT_TRUE(source.portalAnswered());
    EXPECT_TRUE(PMIsDarkMode());
    // Back to light, and the light palette with it, for the tests after this one.
    QMetaObject::invokeMethod(portal, [portal] { portal->announce(QStringLiteral("color-scheme"), 2); });
    EXPECT_TRUE(waitUntil([&] { return changes >= 2; }));
    EXPECT_FALSE(PMIsDarkMode());
    QMetaObject::invokeMethod(portal, [portal] { portal->deleteLater(); });
}

TEST(Appearance, ReadsAnOldPortal)
{
    PortalBus bus;
    if (!bus.started)
        GTEST_SKIP() << "no dbus-daemon to run a private bus";
    auto* portal = new OldFakePortal;
    ASSERT_TRUE(bus.serve(portal));
    AppearanceSource::shared().setBusConnectionNameForTesting(QStringLiteral("portal-client"));
    EXPECT_TRUE(AppearanceSource::shared().portalAnswered());
    EXPECT_TRUE(PMIsDarkMode());
    EXPECT_TRUE(PMShouldIncreaseContrast());
    QMetaObject::invokeMethod(portal, [portal] { portal->deleteLater(); });
}

TEST(Appearance, FallsBackToThePalette)
{
    // A bus connection that does not exist stands for a desktop without portal.
    AppearanceSource& source = AppearanceSource::shared();
    source.setBusConnectionNameForTesting(QStringLiteral("no-such-bus"));
    const QPalette original = QApplication::palette();
    EXPECT_FALSE(source.portalAnswered());
    EXPECT_FALSE(PMShouldIncreaseContrast());

    QPalette dark = original;
    dark.setColor(QPalette::Window, QColor(30, 30, 30));
    dark.setColor(QPalette::WindowText, QColor(230, 230, 230));
    QApplication::setPalette(dark);
    EXPECT_TRUE(PMIsDarkMode());
    QApplication::setPalette(original);
    EXPECT_FALSE(PMIsDarkMode());

    // A view with a dark palette of its own is dark in a light application.
    QWidget window;
    QWidget view(&window);
    EXPECT_FALSE(isInFullyInvertedDarkMode(&view));
    window.setPalette(dark);
    EXPECT_TRUE(isInFullyInvertedDarkMode(&view));

    // What no Linux desktop reports is off unless set; tests can set everything.
    EXPECT_FALSE(PMShouldReduceTransparency());
    EXPECT_FALSE(source.invertsColors());
    source.setReducesTransparencyForTesting(true);
    source.setDarkForTesting(true);
    EXPECT_TRUE(PMShouldReduceTransparency());
    EXPECT_TRUE(PMIsDarkMode());
    EXPECT_FALSE(PMIsMenuBarTransparent());
    source.setReducesTransparencyForTesting(std::nullopt);
    source.setDarkForTesting(std::nullopt);
    source.setBusConnectionNameForTesting({});
}

TEST(Appearance, MenuActionImagesModeTable)
{
    platform::UserDefaults& defaults = platform::UserDefaults::standard();
    const QString chosen = QStringLiteral("PMEnableMenuActionImages");
    const QString system = QStringLiteral("NSMenuEnableActionImages");
    struct Case {
        platform::Value chosen, system;
        int mode;
    } cases[] = {
        {{}, {}, 1},                // the desktop's way: meaningful images only
        {true, {}, 2},              // the user asked for all images
        {false, {}, 0},             // ... or for none
        {{}, false, 0},             // the system-wide switch turns them off
        {true, false, 2},           // the program's own setting wins
        {QStringLiteral("YES"), {}, 1}, // only a boolean counts
    };
    for (const Case& c : cases) {
        defaults.setObject(c.chosen, chosen);
        defaults.setObject(c.system, system);
        PMResetMenuActionImagesModeForTesting();
        EXPECT_EQ(PMMenuActionImagesMode(), c.mode) << c.chosen.description().toStdString() << " " << c.system.description().toStdString();
        EXPECT_EQ(PMShouldSetMenuActionImages(), c.mode == 2);
    }
    // Computed once: a later change of the setting waits for the next process.
    defaults.setObject(true, chosen);
    defaults.setObject({}, system);
    PMResetMenuActionImagesModeForTesting();
    EXPECT_EQ(PMMenuActionImagesMode(), 2);
    defaults.setObject(false, chosen);
    EXPECT_EQ(PMMenuActionImagesMode(), 2);

    // Mode 2 gives ornamental items their icons; none without a name or a themed icon.
    QAction item(QStringLiteral("Play"));
    EXPECT_FALSE(setMacOS26ImageWithSystemSymbolName(&item, QString()));
    EXPECT_FALSE(setMacOS26ImageWithSystemSymbolName(&item, QStringLiteral("pellis-no-such-icon")));
    defaults.setObject({}, chosen);
    PMResetMenuActionImagesModeForTesting();
}

TEST(Appearance, BaselineCorrectionOfRegularButtons)
{
    QWidget view;
    auto* button = new QPushButton(QStringLiteral("OK"), &view);
    button->move(10, 10);
    auto* group = new QWidget(&view); // visited recursively
    auto* combo = new QComboBox(group);
    combo->addItem(QStringLiteral("One"));
    combo->move(10, 50);
    auto* small = new QPushButton(QStringLiteral("Small"), &view);
    setControlSize(small, PMControlSize::Small);
    small->move(10, 90);
    const double buttonY = PMTitleRectY(button);
    const double comboY = PMTitleRectY(combo);

    correctBaselineForLegacyPositionPopUpButtonSubviewsWithReferenceTitleRectY(&view, comboY + 2, buttonY + 3);
    EXPECT_EQ(button->y(), 13);
    EXPECT_EQ(combo->y(), 52);
    EXPECT_EQ(small->y(), 90); // other sizes are left alone
    // Within a tenth of a point nothing moves; without a button reference only combo boxes do.
    correctBaselineForLegacyPositionPopUpButtonSubviewsWithReferenceTitleRectY(&view, comboY + 0.05);
    EXPECT_EQ(button->y(), 13);
    EXPECT_EQ(combo->y(), 52);
    correctBaselineForLegacyPositionPopUpButtonSubviewsWithReferenceTitleRectY(&view, comboY - 1);
    EXPECT_EQ(button->y(), 13);
    EXPECT_EQ(combo->y(), 51);
}

#include "AppearanceTest.moc"
