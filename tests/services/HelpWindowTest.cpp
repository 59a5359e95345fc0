// The help window on a small book: opening pages, the link policy, the search bar and the
// quick-access bar, highlights and suggestions, and the help link scheme.
#include "services/help/PMHelpManager.h"

#include "foundation/PMLog.h"
#include "platform/Alert.h"
#include "platform/FileManager.h"
#include "platform/Responder.h"
#include "platform/UserDefaults.h"

#include "common/TestSupport.h"

#include <QtGui/QAction>
#include <QtTest/QSignalSpy>
#include <QtWidgets/QApplication>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QMenu>
#include <QtWidgets/QToolButton>
#include <QtWidgets/QVBoxLayout>

#include <gtest/gtest.h>

#include <QtTest/QTest>
#include <QtWidgets/QListView>

using testsupport::makeTempDir;
using testsupport::waitUntil;
using testsupport::writeFile;

namespace {

QByteArray page(const char* title, const char* index, const char* body, bool quickAccess = true)
{
    QByteArray html = "<html><head><title>";
    html += title;
    html += "</title><!--com.tolvane.help.index[";
    html += index;
    html += "]-->";
    if (quickAccess)
        html += "<!--com.tolvane.help.quickaccess[Basics|library]-->";
    html += "</head><body><div id=\"main\">";
    html += body;
    html += "</div></body></html>";
    return html;
}

class HelpWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        book = makeTempDir(QStringLiteral("book"));
        writeFile(book + "/overview.html",
                  page("Overview", "1",
                       "<h1><a name=\"[Basics]Welcome\"></a>Welcome</h1><p>See <a href=\"second.html#[Library]Smart_Groups\">smart groups</a>, "
                       "<a href=\"sub/third.html\">the third</a>, <a href=\"https://example.org/\">the web</a>, "
                       "<a href=\"notes.pdf\">a document</a> and <a href=\"about:blank\">nothing</a>.</p>"));
        writeFile(book + "/second.html",
                  page("Second", "2",
                       "<p>top</p><p>filler</p><h2><a name=\"[Library]Smart_Groups\"></a>Smart groups</h2>"
                       "<p>A Smart group keeps itself up to date.</p><a name=\"[Library]Playlists\"></a><p>playlists</p>"));
        writeFile(book + "/sub/third.html", page("Third", "3", "<p>Third page, no quick access.</p>", false));
        writeFile(book + "/notes.pdf", "%PDF");
        outside = makeTempDir(QStringLiteral("outside"));
        writeFile(outside + "/elsewhere.html", page("Elsewhere", "1", "<p>not in the book</p>"));
        opened.clear();
        platform::setURLOpenerForTesting([this](const QUrl& url) {
            opened << url;
            return true;
        });
        alerts.clear();
        platform::setAlertHandler([this](const platform::Alert& alert) {
            alerts << alert;
            platform::AlertResponse response;
            response.button = answers.isEmpty() ? 0 : answers.takeFirst();
            return response;
        });
        manager = std::make_unique<PMHelpManager>(book);
    }
    void TearDown() override
    {
        manager.reset();
        platform::setURLOpenerForTesting(nullptr);
        platform::setAlertHandler(nullptr);
    }
    QString shown() const { return manager->currentRelativePath(); }
    void click(const QString& href)
    {
        const QUrl base = manager->webView()->source();
        manager->decidePolicyForNavigation(base.resolved(QUrl(href)));
    }
    bool waitForQuickAccess(const QString& path)
    {
        QSignalSpy spy(manager.get(), &PMHelpManager::quickAccessUpdated);
        return waitUntil([&] {
            for (const QList<QVariant>& args : spy)
                if (args.value(0).toString() == path)
                    return true;
            return false;
        }, 20000);
    }

    QString book, outside;
    QList<QUrl> opened;
    QList<platform::Alert> alerts;
    QList<int> answers;
    std::unique_ptr<PMHelpManager> manager;
};

} // namespace

TEST_F(HelpWindowTest, HelpOpensTheFirstPageAndOnlyBringsAnOpenWindowToTheFront)
{
    manager->help(nullptr);
    ASSERT_TRUE(manager->window());
    EXPECT_EQ(manager->window()->windowTitle(), QStringLiteral("Pellis Help"));
    EXPECT_EQ(shown(), QStringLiteral("overview.html"));
    EXPECT_GE(manager->window()->width(), 400);

    ASSERT_TRUE(manager->openPage(QStringLiteral("second"), QString(), true));
    EXPECT_EQ(shown(), QStringLiteral("second.html"));
    // Without force the page stays.
    EXPECT_TRUE(manager->openPage(QStringLiteral("overview"), QString(), false));
    EXPECT_EQ(shown(), QStringLiteral("second.html"));

    // Closing only hides: the same window comes back with its page.
    QWidget* window = manager->window();
    window->close();
    QCoreApplication::processEvents();
    ASSERT_EQ(manager->window(), window);
    EXPECT_FALSE(window->isVisible());
    manager->help(nullptr);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(shown(), QStringLiteral("second.html"));

    // A page that is not in the book: logged, a beep, nothing changes.
    testsupport::LogCapture log;
    const int beeps = platform::beepCount();
    EXPECT_FALSE(manager->openPage(QStringLiteral("nowhere"), QString(), true));
    EXPECT_EQ(platform::beepCount(), beeps + 1);
    EXPECT_TRUE(log.lines().join('\n').contains(QStringLiteral("cannot open help page: nowhere")));
    EXPECT_EQ(shown(), QStringLiteral("second.html"));
}

TEST_F(HelpWindowTest, AMissingBookLogsAndBeeps)
{
    PMHelpManager none(book + "/not-there");
    testsupport::LogCapture log;
    const int beeps = platform::beepCount();
    EXPECT_FALSE(none.openPage(QString(), QString(), false));
    EXPECT_EQ(platform::beepCount(), beeps + 1);
    EXPECT_FALSE(none.window());
    EXPECT_TRUE(log.lines().join('\n').contains(QStringLiteral("cannot open help page")));
}

TEST_F(HelpWindowTest, LinkPolicy)
{
    using Policy = PMBrowserWindowController::NavigationPolicy;
    PMBrowserWindowController viewer;
    const struct {
        const char* url;
        Policy viewerPolicy;
        Policy helpPolicy;
    } cases[] = {
        {"file:///tmp/x/page.html", Policy::Load, Policy::Ignore},
        {"file:///tmp/x/page.htm", Policy::Load, Policy::Ignore},
        {"file:///tmp/x/page.HTML", Policy::Ignore, Policy::Ignore},
        {"file:///tmp/x/page.pdf", Policy::Ignore, Policy::Ignore},
        {"https://example.org/", Policy::OpenExternally, Policy::OpenExternally},
        {"http://example.org/", Policy::OpenExternally, Policy::OpenExternally},
        {"mailto:someone@example.org", Policy::OpenExternally, Policy::OpenExternally},
        {"about:blank", Policy::Ignore, Policy::Ignore},
        {"ftp://example.org/", Policy::Ignore, Policy::Ignore},
        {"javascript:alert(1)", Policy::Ignore, Policy::Ignore},
        {"x-tolvane-help://message/hello", Policy::Ignore, Policy::Ignore},
    };
    manager->bookFolder();
    for (const auto& c : cases) {
        const QUrl url(QString::fromUtf8(c.url));
        EXPECT_EQ(viewer.policyForNavigationToURL(url), c.viewerPolicy) << c.url;
        EXPECT_EQ(manager->policyForNavigationToURL(url), c.helpPolicy) << c.url;
    }
    // Pages of the book load; the same name outside it does not.
    EXPECT_EQ(manager->policyForNavigationToURL(QUrl::fromLocalFile(book + "/second.html")), Policy::Load);
    EXPECT_EQ(manager->policyForNavigationToURL(QUrl::fromLocalFile(outside + "/elsewhere.html")), Policy::Ignore);
    EXPECT_EQ(manager->policyForNavigationToURL(QUrl::fromLocalFile(book + "/../outside/elsewhere.html")), Policy::Ignore);
}

TEST_F(HelpWindowTest, FollowingLinksGoingBackAndWhatIsIgnored)
{
    manager->help(nullptr);
    click(QStringLiteral("https://example.org/"));
    EXPECT_EQ(opened, QList<QUrl>{QUrl(QStringLiteral("https://example.org/"))});
    EXPECT_EQ(shown(), QStringLiteral("overview.html"));
    click(QStringLiteral("notes.pdf"));
    click(QStringLiteral("about:blank"));
    click(QUrl::fromLocalFile(outside + "/elsewhere.html").toString());
    EXPECT_EQ(opened.size(), 1);
    EXPECT_EQ(shown(), QStringLiteral("overview.html"));

    click(QStringLiteral("sub/third.html"));
    EXPECT_EQ(shown(), QStringLiteral("sub/third.html"));
    click(QStringLiteral("../second.html#[Library]Smart_Groups"));
    EXPECT_EQ(shown(), QStringLiteral("second.html"));
    EXPECT_EQ(manager->webView()->source().fragment(), QStringLiteral("[Library]Smart_Groups"));
    QObject back;
    back.setProperty("segment", 0);
    manager->navigate(&back);
    EXPECT_EQ(shown(), QStringLiteral("sub/third.html"));
    QObject forward;
    forward.setProperty("segment", 1);
    manager->navigate(&forward);
    EXPECT_EQ(shown(), QStringLiteral("second.html"));
}

TEST_F(HelpWindowTest, TheBarsTakeTheirHeightFromThePageAndGiveItBack)
{
    manager->help(nullptr);
    ASSERT_TRUE(waitForQuickAccess(QStringLiteral("overview.html")));
    QWidget* content = manager->contentView();
    const auto settle = [&] {
        QCoreApplication::processEvents();
        manager->window()->layout()->activate();
        content->layout()->activate();
    };
    settle();
    const int total = content->height();
    ASSERT_GT(total, 300);
    ASSERT_TRUE(manager->quickAccessView());
    EXPECT_EQ(manager->quickAccessView()->height(), 35);
    EXPECT_EQ(manager->webView()->height(), total - 35);

    manager->showSearchField(true);
    settle();
    ASSERT_TRUE(manager->searchField());
    EXPECT_EQ(content->height(), total);
    EXPECT_EQ(manager->webView()->height(), total - 35 - 31);
    // From the top: quick access, search bar, page.
    EXPECT_LT(manager->quickAccessView()->y(), manager->searchContainer()->y());
    EXPECT_LT(manager->searchContainer()->y(), manager->webView()->y());
    manager->showSearchField(false);
    settle();
    EXPECT_FALSE(manager->searchField());
    EXPECT_EQ(manager->webView()->height(), total - 35);
    manager->toggleSearchField();
    manager->toggleSearchField();
    settle();
    EXPECT_EQ(manager->webView()->height(), total - 35);

    // A page without categories takes the bar away.
    manager->openPageAtRelativePath(QStringLiteral("sub/third.html"), QString(), {});
    ASSERT_TRUE(waitForQuickAccess(QStringLiteral("sub/third.html")));
    settle();
    EXPECT_FALSE(manager->quickAccessView());
    EXPECT_EQ(manager->webView()->height(), total);
}

TEST_F(HelpWindowTest, QuickAccessMenusListTheAnchorsOfTheirCategory)
{
    manager->help(nullptr);
    ASSERT_TRUE(waitForQuickAccess(QStringLiteral("overview.html")));
    const QList<QToolButton*> buttons = manager->quickAccessView()->findChildren<QToolButton*>();
    ASSERT_EQ(buttons.size(), 2);
    EXPECT_EQ(buttons[0]->text(), QStringLiteral("Basics"));
    EXPECT_EQ(buttons[1]->text(), QStringLiteral("Library"));
    // The category of the marker is "library", the anchors' is "Library": the marker names it.
    QStringList names;
    for (QAction* item : buttons[0]->menu()->actions())
        names << item->text();
    EXPECT_EQ(names, QStringList{"Welcome"});
    EXPECT_TRUE(buttons[1]->menu()->actions().isEmpty());

    QAction item;
    platform::setMenuItemRepresentedObject(&item, platform::Value(QStringLiteral("second.html#[Library]Playlists")));
    manager->openPageFromMenuItem(&item);
    EXPECT_EQ(shown(), QStringLiteral("second.html"));
    EXPECT_EQ(manager->webView()->source().fragment(), QStringLiteral("[Library]Playlists"));
}

TEST_F(HelpWindowTest, SearchSuggestionsOpenTheirPageWithTheWordHighlighted)
{
    manager->openPage(QStringLiteral("sub/third"), QString(), true);
    manager->showSearchField(true);
    manager->searchField()->setText(QStringLiteral("smart group"));
    EXPECT_EQ(manager->searchSuggestionsForQuery(QStringLiteral("smart group")), (QStringList{"Overview", "Second"}));
    manager->selectSearchSuggestion(QStringLiteral("Second"));
    EXPECT_EQ(shown(), QStringLiteral("second.html"));
    EXPECT_EQ(manager->webView()->textCursor().selectedText(), QStringLiteral("Smart"));
    // On that page, which holds the text, nothing is suggested.
    EXPECT_TRUE(manager->searchSuggestionsForQuery(QStringLiteral("smart group")).isEmpty());
    manager->selectSearchSuggestion(QStringLiteral("No such title"));
    EXPECT_EQ(shown(), QStringLiteral("second.html"));
}

TEST_F(HelpWindowTest, TypedSuggestionsShowBetweenTheSearchBarAndThePageAndAreChosenByKeys)
{
    manager->help(nullptr);
    ASSERT_TRUE(waitForQuickAccess(QStringLiteral("overview.html")));
    manager->openPage(QStringLiteral("sub/third"), QString(), true);
    manager->window()->show();
    manager->showSearchField(true);
    QLineEdit* field = manager->searchField();
    ASSERT_TRUE(field);
    // Layouts settle through posted events: wait for the bar to stand above the page.
    QTRY_VERIFY_WITH_TIMEOUT(manager->searchContainer()->isVisible()
                                 && manager->webView()->y() >= manager->searchContainer()->geometry().bottom(),
                             10000);
    const int barTop = manager->searchContainer()->y();
    const int pageTop = manager->webView()->y();
    field->clear();
    QTest::keyClicks(field, QStringLiteral("smart group"));
    QListView* list = manager->searchFieldEditor()->list();
    ASSERT_TRUE(list);
    QTRY_VERIFY_WITH_TIMEOUT(list->isVisible(), 10000);
    EXPECT_EQ(list->model()->rowCount(), 2);
    // The list lies between the bar and the page, which moves down instead of being covered.
    QTRY_VERIFY_WITH_TIMEOUT(manager->webView()->y() >= pageTop + list->height(), 10000);
    EXPECT_GE(list->y(), manager->searchContainer()->geometry().bottom());
    EXPECT_GE(manager->webView()->y(), list->geometry().bottom());
    EXPECT_GE(list->height(), 2 * list->sizeHintForRow(0));

    // Down goes into the list, Return opens the chosen page and the list goes.
    QTest::keyClick(field, Qt::Key_Down);
    EXPECT_EQ(list->currentIndex().row(), 0);
    QTest::keyClick(list, Qt::Key_Down);
    QTest::keyClick(list, Qt::Key_Return);
    EXPECT_EQ(shown(), QStringLiteral("second.html"));
    EXPECT_FALSE(list->isVisible());
    EXPECT_EQ(field->text(), QStringLiteral("smart group"));

    // Escape in the list hides it; Done takes it away with the bar.
    manager->openPage(QStringLiteral("sub/third"), QString(), true);
    QTest::keyClick(field, Qt::Key_Backspace);
    QTRY_VERIFY_WITH_TIMEOUT(list->isVisible(), 10000);
    QTest::keyClick(field, Qt::Key_Down);
    QTest::keyClick(list, Qt::Key_Escape);
    EXPECT_FALSE(list->isVisible());
    manager->showSearchField(false);
    QTRY_COMPARE_WITH_TIMEOUT(manager->webView()->y(), barTop, 10000);
}

TEST_F(HelpWindowTest, FindInPageWrapsAndBeepsWhenNothingIsThere)
{
    manager->openPage(QStringLiteral("second"), QString(), true);
    manager->showSearchField(true);
    manager->searchField()->setText(QStringLiteral("playlists"));
    const int beeps = platform::beepCount();
    manager->performSearch();
    EXPECT_EQ(manager->webView()->textCursor().selectedText(), QStringLiteral("playlists"));
    // The only one: found again from the top.
    manager->performSearch();
    EXPECT_EQ(manager->webView()->textCursor().selectedText(), QStringLiteral("playlists"));
    EXPECT_EQ(platform::beepCount(), beeps);
    manager->searchField()->setText(QStringLiteral("zebra"));
    manager->performSearch();
    EXPECT_EQ(platform::beepCount(), beeps + 1);

    // The Find commands of the menu: show the bar; next and previous from the shared text.
    PMBrowserWindowController::setFindPasteboardString(QStringLiteral("smart"));
    QAction next;
    platform::setMenuItemAction(&next, QStringLiteral("performTextFinderAction"));
    platform::setMenuItemTag(&next, 2);
    EXPECT_TRUE(manager->validateMenuItem(&next));
    manager->performTextFinderAction(&next);
    EXPECT_EQ(manager->webView()->textCursor().selectedText().toLower(), QStringLiteral("smart"));
    PMBrowserWindowController::setFindPasteboardString(QString());
    EXPECT_FALSE(manager->validateMenuItem(&next));

    // Zooming has limits.
    QAction larger;
    platform::setMenuItemAction(&larger, QStringLiteral("increaseScale"));
    int steps = 0;
    while (manager->validateMenuItem(&larger) && steps < 100) {
        manager->performAction(QStringLiteral("increaseScale"), &larger);
        ++steps;
    }
    EXPECT_GT(steps, 0);
    EXPECT_LT(steps, 100);
}

TEST_F(HelpWindowTest, HelpLinksChangeOnlyDisplaySettingsAfterAsking)
{
    platform::UserDefaults& defaults = platform::UserDefaults::standard();
    const QString key = QStringLiteral("Show Zero Item Counts");
    defaults.removeObjectForKey(key);
    manager->help(nullptr);

    const QUrl setFive(QStringLiteral("x-tolvane-help://default/Show%20Zero%20Item%20Counts#integer:5"));
    // Cancelled: nothing written.
    answers = {1};
    manager->decidePolicyForNavigation(setFive);
    ASSERT_EQ(alerts.size(), 1);
    EXPECT_TRUE(defaults.objectForKey(key).isNull());

    alerts.clear();
    answers = {0, 0};
    manager->decidePolicyForNavigation(setFive);
    ASSERT_EQ(alerts.size(), 2);
    EXPECT_EQ(alerts[1].messageText, QStringLiteral("User default updated"));
    EXPECT_EQ(alerts[1].informativeText, QStringLiteral("Show Zero Item Counts is now set to 5."));
    EXPECT_EQ(alerts[1].buttons, (QStringList{"OK", "Revert to (No Value)"}));
    EXPECT_EQ(defaults.objectForKey(key), platform::Value(qint64(5)));
    EXPECT_EQ(shown(), QStringLiteral("overview.html"));

    alerts.clear();
    manager->decidePolicyForNavigation(setFive);
    ASSERT_EQ(alerts.size(), 1);
    EXPECT_EQ(alerts[0].messageText, QStringLiteral("That didn't do anything"));

    // Empty value removes; reverting puts the old value back.
    alerts.clear();
    answers = {0, 1};
    manager->decidePolicyForNavigation(QUrl(QStringLiteral("x-tolvane-help://default/Show%20Zero%20Item%20Counts#")));
    EXPECT_EQ(defaults.objectForKey(key), platform::Value(qint64(5)));
    alerts.clear();
    answers = {0, 0};
    manager->decidePolicyForNavigation(QUrl(QStringLiteral("x-tolvane-help://default/Show%20Zero%20Item%20Counts#")));
    EXPECT_TRUE(defaults.objectForKey(key).isNull());
    alerts.clear();
    manager->decidePolicyForNavigation(QUrl(QStringLiteral("x-tolvane-help://default/Show%20Zero%20Item%20Counts#")));
    ASSERT_EQ(alerts.size(), 1);
    EXPECT_EQ(alerts[0].informativeText, QStringLiteral("Show Zero Item Counts was already set to (No Value)."));

    // Booleans and strings.
    alerts.clear();
    answers = {0, 0};
    manager->decidePolicyForNavigation(QUrl(QStringLiteral("x-tolvane-help://default/Show%20Zero%20Item%20Counts#YES")));
    EXPECT_EQ(defaults.objectForKey(key), platform::Value(true));
    defaults.removeObjectForKey(key);

    // Settings that are not about the look are never touched, nor asked about.
    alerts.clear();
    testsupport::LogCapture log;
    manager->decidePolicyForNavigation(QUrl(QStringLiteral("x-tolvane-help://default/Library%20Path#/tmp/evil")));
    manager->decidePolicyForNavigation(QUrl(QStringLiteral("x-tolvane-help://default/Pre-Startup%20Scripts#/bin/sh")));
    EXPECT_TRUE(alerts.isEmpty());
    EXPECT_TRUE(defaults.objectForKey(QStringLiteral("Library Path")).isNull());
    EXPECT_TRUE(defaults.objectForKey(QStringLiteral("Pre-Startup Scripts")).isNull());
    EXPECT_TRUE(log.lines().join('\n').contains(QStringLiteral("not a display setting")));
}

TEST_F(HelpWindowTest, HelpLinksFromPagesOutsideTheBookAreIgnored)
{
    manager->bookFolder();
    manager->showHTMLContent(QString(), QUrl::fromLocalFile(outside + "/elsewhere.html"), QStringLiteral("Elsewhere"));
    testsupport::LogCapture log;
    manager->decidePolicyForNavigation(QUrl(QStringLiteral("x-tolvane-help://default/Show%20Zero%20Item%20Counts#integer:5")));
    manager->showHTMLContent(QStringLiteral("<p>text</p>"), QUrl(), QStringLiteral("Text"));
    manager->decidePolicyForNavigation(QUrl(QStringLiteral("x-tolvane-help://default/Show%20Zero%20Item%20Counts#integer:5")));
    EXPECT_TRUE(alerts.isEmpty());
    EXPECT_TRUE(platform::UserDefaults::standard().objectForKey(QStringLiteral("Show Zero Item Counts")).isNull());
    EXPECT_EQ(log.lines().filter(QStringLiteral("outside the help book")).size(), 2);
}

TEST_F(HelpWindowTest, MessagesGoToTheDelegate)
{
    struct Delegate : PMHelpManagerDelegate {
        QStringList messages;
        bool helpManagerDidReceiveMessage(PMHelpManager*, const QString& message) override
        {
            messages << message;
            return true;
        }
    } delegate;
    manager->setDelegate(&delegate);
    manager->help(nullptr);
    manager->decidePolicyForNavigation(QUrl(QStringLiteral("x-tolvane-help://message/open%20inbox")));
    EXPECT_EQ(delegate.messages, QStringList{"open%20inbox"});
    manager->setDelegate(nullptr);
}
