// The update status and its sentence, the update menu, relaunching, and the about panel.
#include "platform/Alert.h"
#include "platform/Responder.h"
#include "platform/UserDefaults.h"
#include "services/PMAboutPanelManager.h"
#include "ui/commands/PMSparkleWrapper.h"

#include "common/TestSupport.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QDateTime>
#include <QtGui/QAction>
#include <QtWidgets/QDialog>
#include <QtWidgets/QLabel>
#include <QtWidgets/QMenu>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QTextBrowser>

#include <gtest/gtest.h>

namespace {

class FakeUpdater : public SUUpdater {
public:
    bool automatic = false;
    int checks = 0;
    bool automaticallyChecksForUpdates() const override { return automatic; }
    void setAutomaticallyChecksForUpdates(bool on) override { automatic = on; }
    void checkForUpdates(QObject*) override { ++checks; }
};

class UpdateGlue : public ::testing::Test {
protected:
    void SetUp() override
    {
        QCoreApplication::setApplicationVersion(QStringLiteral("2.0"));
        QCoreApplication::setApplicationName(QStringLiteral("Pellis"));
        fake = std::make_shared<FakeUpdater>();
        SUUpdater::setUpdaterFactoryForTesting([this](const QString&) { return fake; });
        wrapper().resetForTesting();
    }
    void TearDown() override
    {
        SUUpdater::setUpdaterFactoryForTesting({});
        platform::UserDefaults::standard().removeObjectForKey(QStringLiteral("PMSparkleWrapperUpdateStatus"));
        wrapper().resetForTesting();
    }
    static PMSparkleWrapper& wrapper() { return PMSparkleWrapper::sharedSparkleWrapper(); }
    static void store(const QString& status)
    {
        platform::UserDefaults::standard().setObject(platform::Value(status), QStringLiteral("PMSparkleWrapperUpdateStatus"));
        wrapper().resetForTesting();
    }
    static qint64 hoursAgo(int hours) { return QDateTime::currentSecsSinceEpoch() - hours * 3600; }
    std::shared_ptr<FakeUpdater> fake;
};

TEST_F(UpdateGlue, TheStoredStatusGivesTheSentenceAndTheBadge)
{
    struct Case {
        QString stored;
        const char* sentence; // null: no status
        QString version;
        bool recently;
    };
    const qint64 recent = hoursAgo(23);
    const qint64 old = hoursAgo(25);
    const std::vector<Case> cases = {
        {QStringLiteral("2.0:%1:").arg(recent), "Pellis 2.0 is up to date.", {}, true},
        {QStringLiteral("2.0:%1:").arg(old), "Pellis 2.0 is up to date.", {}, false},
        {QStringLiteral("2.0:%1:2.1").arg(old), "Pellis 2.1 is now available! You are currently using Pellis 2.0.", QStringLiteral("2.1"), false},
        // Written by 1.9, which found 2.0: after the update to 2.0 it no longer counts.
        {QStringLiteral("1.9:%1:2.0").arg(recent), nullptr, {}, false},
        // A version holding ":" stays readable.
        {QStringLiteral("2.0:%1:2.1:beta").arg(recent), "Pellis 2.1:beta is now available! You are currently using Pellis 2.0.",
         QStringLiteral("2.1:beta"), true},
        {QStringLiteral("2.0:yesterday:2.1"), nullptr, {}, false},
        {QStringLiteral("2.0"), nullptr, {}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stored.toStdString());
        store(c.stored);
        QString version;
        bool recently = false;
        const QString sentence = wrapper().statusDescriptionWithUpdateVersion(&version, &recently);
        if (!c.sentence) {
            EXPECT_TRUE(sentence.isNull());
            EXPECT_TRUE(wrapper().statusDateDescription().isNull());
            continue;
        }
        EXPECT_EQ(sentence, QString::fromUtf8(c.sentence));
        EXPECT_EQ(version, c.version);
        EXPECT_EQ(recently, c.recently);
        EXPECT_TRUE(wrapper().statusDateDescription().startsWith(QStringLiteral("Last check: ")));
    }

    // The item of the Help menu carries the badge: the new version, a tick after a recent
    // check that found nothing, nothing after an old one.
    QAction item(QStringLiteral("Check for Updates..."));
    platform::setMenuItemAction(&item, QStringLiteral("checkForUpdates"), &wrapper());
    store(QStringLiteral("2.0:%1:2.1").arg(old));
    wrapper().validateMenuItem(&item);
    EXPECT_EQ(item.text(), QStringLiteral("Check for Updates...\t2.1"));
    store(QStringLiteral("2.0:%1:").arg(recent));
    wrapper().validateMenuItem(&item);
    EXPECT_EQ(item.text(), QStringLiteral("Check for Updates...\t✓"));
    store(QStringLiteral("2.0:%1:").arg(old));
    wrapper().validateMenuItem(&item);
    EXPECT_EQ(item.text(), QStringLiteral("Check for Updates..."));
}

TEST_F(UpdateGlue, ACheckResultIsStoredAndTheMenuFollowsIt)
{
    platform::UserDefaults::standard().setObject(platform::Value(QStringLiteral("old")), QStringLiteral("PMSparkleWrapperStatus"));
    wrapper().updaterDidFindValidUpdate({QStringLiteral("3.0"), true});
    const QString stored = platform::UserDefaults::standard().stringForKey(QStringLiteral("PMSparkleWrapperUpdateStatus"));
    EXPECT_TRUE(stored.startsWith(QStringLiteral("2.0:")));
    EXPECT_TRUE(stored.endsWith(QStringLiteral(":3.0")));
    EXPECT_TRUE(platform::UserDefaults::standard().objectForKey(QStringLiteral("PMSparkleWrapperStatus")).isNull());

    // An appcast that loads without either answer counts as "no update" on the next turn.
    wrapper().updaterDidFinishLoadingAppcast();
    ASSERT_TRUE(testsupport::waitUntil([] {
        return platform::UserDefaults::standard().stringForKey(QStringLiteral("PMSparkleWrapperUpdateStatus")).endsWith(u':');
    }));

    QMenu menu;
    QAction* kept = menu.addAction(QStringLiteral("Kept"));
    platform::setMenuItemTag(kept, 5);
    menu.addAction(QStringLiteral("stale"));
    wrapper().menuNeedsUpdate(&menu);
    wrapper().menuNeedsUpdate(&menu); // again: the same items, not twice
    QStringList titles;
    for (QAction* a : menu.actions())
        titles.append(a->isSeparator() ? QStringLiteral("-") : a->text());
    ASSERT_EQ(titles.size(), 6);
    EXPECT_EQ(titles.at(0), QStringLiteral("Kept"));
    EXPECT_TRUE(titles.at(1).startsWith(QStringLiteral("Last check: ")));
    EXPECT_EQ(titles.at(2), QStringLiteral("Pellis 2.0 is up to date."));
    EXPECT_EQ(titles.mid(3), (QStringList{QStringLiteral("-"), QStringLiteral("Check Now..."), QStringLiteral("Check Automatically")}));

    menu.actions().at(4)->trigger();
    EXPECT_EQ(fake->checks, 1);
    menu.actions().at(5)->trigger();
    EXPECT_TRUE(fake->automatic);
}

TEST_F(UpdateGlue, AFailedRelaunchIsShownAndTheProgramStays)
{
    QStringList alerts;
    platform::setAlertHandler([&](const platform::Alert& alert) {
        alerts.append(alert.messageText);
        return platform::AlertResponse{};
    });
    int terminations = 0;
    QString parameter;
    PMSparkleWrapper::setLauncherForTesting(
        [&](const QString&, const QStringList&, const QProcessEnvironment& environment, QString* error) {
            parameter = environment.value(QStringLiteral("com.tolvane.MultipleApplicationInstanceCheck"));
            *error = QStringLiteral("no such program");
            return false;
        },
        [&] { ++terminations; });
    EXPECT_FALSE(PMSparkleWrapper::relaunchWithInstanceCheckParameter(QStringLiteral("skip"), false));
    EXPECT_EQ(parameter, QStringLiteral("skip"));
    EXPECT_EQ(alerts, QStringList{QStringLiteral("Pellis could not be restarted.")});
    EXPECT_EQ(terminations, 0);

    PMSparkleWrapper::setLauncherForTesting([&](const QString&, const QStringList&, const QProcessEnvironment&, QString*) { return true; },
                                            [&] { ++terminations; });
    EXPECT_TRUE(PMSparkleWrapper::relaunchWithInstanceCheckParameter(QStringLiteral("skipagain"), false));
    EXPECT_EQ(terminations, 1);
    PMSparkleWrapper::setLauncherForTesting({}, {});
    platform::setAlertHandler({});
    EXPECT_FALSE(PMSparkleWrapper::relaunchAgainIfAppropriate());
}

TEST(AboutPanel, CreditsAreSortedAndTheArrowLineJoinsTheCopyright)
{
    const PMAboutPanelManager::Credits credits =
        PMAboutPanelManager::readCredits(QStringLiteral("Zoe\n\nadam\r\nBob 10\n=> first\nBob 9\n=> Made with care\n"));
    EXPECT_EQ(credits.lines, (QStringList{QStringLiteral("adam"), QStringLiteral("Bob 9"), QStringLiteral("Bob 10"), QStringLiteral("Zoe")}));
    EXPECT_EQ(credits.copyrightAddition, QStringLiteral("Made with care"));
    EXPECT_EQ(PMAboutPanelManager::creditsText({}), QStringLiteral("\n"));
    EXPECT_EQ(PMAboutPanelManager::creditsText({QStringLiteral("one")}), QStringLiteral("one\n\n\n"));
}

TEST(AboutPanel, ShowsCreditsPictureAndCopyrightOnceWithOneLicenceButton)
{
    const QString folder = testsupport::makeTempDir(QStringLiteral("about"));
    testsupport::writeFile(folder + QStringLiteral("/Credits.txt"), "=> Made with care\n");
    QImage picture(40, 20, QImage::Format_ARGB32);
    picture.fill(Qt::red);
    ASSERT_TRUE(picture.save(folder + QStringLiteral("/PMRetinaRunningBird.png")));
    PMAboutPanelManager::setResourceFolderForTesting(folder);

    PMAboutPanelManager& manager = PMAboutPanelManager::aboutPanelManager();
    manager.orderFrontStandardAboutPanel(nullptr);
    QDialog* panel = manager.panel();
    ASSERT_TRUE(panel);
    const auto* copyright = panel->findChild<QLabel*>(QStringLiteral("copyright"));
    ASSERT_TRUE(copyright);
    EXPECT_TRUE(copyright->text().endsWith(QStringLiteral(" — Made with care")));
    const auto* credits = panel->findChild<QTextBrowser*>(QStringLiteral("credits"));
    ASSERT_TRUE(credits);
    // Only a newline and the picture, which links to the maker's site.
    EXPECT_EQ(credits->toPlainText().trimmed(), QString(QChar::ObjectReplacementCharacter));
    EXPECT_TRUE(credits->toHtml().contains(QStringLiteral("href=\"https://")));

    const auto licenceButtons = [&] {
        int n = 0;
        for (QPushButton* b : panel->findChildren<QPushButton*>())
            n += b->text() == QLatin1String("EULA");
        return n;
    };
    EXPECT_EQ(licenceButtons(), 1);
    manager.orderFrontStandardAboutPanel(nullptr);
    EXPECT_EQ(manager.panel(), panel);
    EXPECT_EQ(licenceButtons(), 1) << "shown again: no second button";
    panel->close();
    PMAboutPanelManager::setResourceFolderForTesting({});
}

} // namespace
