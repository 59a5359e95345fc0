// The log window: the program's own lines shown, folded and searchable; the buttons as
// the entries come and go; Return saves; the Options menu; closing.
#include "services/log_reader/ILRIntegratedLogReader.h"
#include "services/log_reader/ILRLogTextView.h"
#include "services/log_reader/ILRLogWindowController.h"

#include "common/TestSupport.h"
#include "platform/Alert.h"
#include "platform/InterfaceFiles.h"
#include "platform/PropertyList.h"
#include "platform/Responder.h"
#include "platform/SavePanel.h"
#include "platform/UserDefaults.h"

#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtTest/QTest>
#include <QtGui/QClipboard>
#include <QtWidgets/QApplication>
#include <QtWidgets/QCheckBox>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QMenu>
#include <QtWidgets/QScrollBar>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QToolButton>

#include <gtest/gtest.h>

namespace {

class LogWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        platform::registerInterfaceBuilder(QStringLiteral("ILRLogWindow"), &ILRLogWindowController::buildWindow);
        reader = std::make_shared<ILRIntegratedLogReader>(platform::LogTool{});
        reader->setDebugLoggingUserDefaultName(QStringLiteral("PMDebugLog"));
        platform::UserDefaults::standard().removeObjectForKey(QStringLiteral("PMDebugLog"));
        platform::UserDefaults::standard().removeObjectForKey(QStringLiteral("ILRIntegratedLogReaderDisableCoalescing"));
    }
    void TearDown() override
    {
        platform::setSavePanelHandler(nullptr);
        if (QWidget* w = reader->window())
            w->close();
        reader.reset();
    }
    void log(const QString& line) { reader->logFormat(u"%@", {platform::FormatArg(line)}); }
    // Waits until the shown text holds the string (as often as given).
    bool shows(const QString& text, int times = -1)
    {
        return testsupport::waitUntil(
            [&] {
                const int n = int(reader->displayedText().count(text));
                return times < 0 ? n > 0 : n == times;
            },
            10000);
    }
    std::shared_ptr<ILRIntegratedLogReader> reader;
};

} // namespace

TEST_F(LogWindowTest, ShowsWhatWasLoggedBeforeAndAfterItOpened)
{
    log(QStringLiteral("cannot open </m/broken.mov>"));
    ASSERT_TRUE(reader->displayLogAndForceUpdate(false));
    ASSERT_TRUE(reader->window());
    EXPECT_EQ(reader->window()->windowTitle(), QStringLiteral("%1 Log").arg(QCoreApplication::applicationName().isEmpty() ? QStringLiteral("Pellis") : QCoreApplication::applicationName()));
    EXPECT_TRUE(reader->displayedText().startsWith(QStringLiteral("\u21E4 ")));
    EXPECT_TRUE(reader->displayedText().contains(QStringLiteral(": cannot open </m/broken.mov>")));
    for (int i = 0; i < 3; ++i)
        log(QStringLiteral("the file </m/gone.mov> is missing"));
    EXPECT_TRUE(shows(QStringLiteral(": the file </m/gone.mov> is missing (\u00D73)")));
    // No history to go back into without the journal, and no sender to show.
    ILRLogWindowController* c = reader->windowController();
    EXPECT_FALSE(c->findEarlierResultsButton->isVisible());
    EXPECT_FALSE(c->messageSenderItem);
    EXPECT_TRUE(c->saveButton->isVisible());
    EXPECT_TRUE(c->clearButton->isVisible());
    EXPECT_EQ(c->clearButton->toolTip(), QStringLiteral("Clear"));
}

TEST_F(LogWindowTest, ClearingHidesTheClearAndSaveButtons)
{
    log(QStringLiteral("something"));
    reader->displayLogAndForceUpdate(false);
    ILRLogWindowController* c = reader->windowController();
    reader->clear();
    testsupport::waitUntil([&] { return !c->saveButton->isVisible(); });
    EXPECT_FALSE(c->saveButton->isVisible());
    EXPECT_FALSE(c->clearButton->isVisible());
    EXPECT_FALSE(reader->displayedText().contains(QStringLiteral("something")));
    // Saving with nothing to save refuses with a beep.
    const int beeps = platform::beepCount();
    EXPECT_FALSE(reader->save());
    EXPECT_EQ(platform::beepCount(), beeps + 1);
}

TEST_F(LogWindowTest, ReturnInTheLogSavesAPropertyListOfTheEntries)
{
    log(QStringLiteral("first"));
    log(QStringLiteral("second\nline"));
    // A file name with a character XML cannot hold does not make the log unsavable.
    log(QStringLiteral("cannot open <a") + QChar(1) + QStringLiteral("b.mov>"));
    reader->displayLogAndForceUpdate(false);
    const QString path = testsupport::makeTempDir(QStringLiteral("saved")) + QStringLiteral("/My Log");
    QString proposed;
    platform::setSavePanelHandler([&](const platform::SavePanel& panel) {
        proposed = panel.proposedName + QLatin1Char('.') + panel.allowedExtension;
        return path;
    });
    QTest::keyClick(reader->logView(), Qt::Key_Return);
    EXPECT_EQ(proposed, QStringLiteral("Log.plist"));
    const platform::PropertyListReadResult saved = platform::readPropertyListFile(path + QStringLiteral(".plist"));
    ASSERT_TRUE(saved.ok()) << saved.error.toStdString();
    EXPECT_EQ(saved.format, platform::PropertyListFormat::XML);
    const platform::ArrayPtr list = saved.value.array();
    ASSERT_TRUE(list);
    ASSERT_EQ(list->count(), 3);
    EXPECT_EQ(list->at(2).dictionary()->value(QStringLiteral("eventMessage")).string(), QStringLiteral("cannot open <a\uFFFDb.mov>"));
    const platform::DictionaryPtr second = list->at(1).dictionary();
    ASSERT_TRUE(second);
    EXPECT_EQ(second->value(QStringLiteral("eventMessage")).string(), QStringLiteral("second\nline"));
    // Dates are written as their text.
    EXPECT_TRUE(second->value(QStringLiteral("cachedTimestamp")).isString());
}

TEST_F(LogWindowTest, AFailedSaveKeepsTheEntriesAndSaysSo)
{
    testsupport::LogCapture capture;
    log(QStringLiteral("keep me"));
    reader->displayLogAndForceUpdate(false);
    platform::setSavePanelHandler([](const platform::SavePanel&) { return QStringLiteral("/nonexistent-folder/Log.plist"); });
    const int beeps = platform::beepCount();
    EXPECT_FALSE(reader->save());
    EXPECT_EQ(platform::beepCount(), beeps + 1);
    EXPECT_FALSE(capture.lines().filter(QStringLiteral("[ILR] cannot save log: file:///nonexistent-folder/Log.plist")).isEmpty());
    EXPECT_EQ(reader->cachedLogMessages()->size(), 1u);
}

TEST_F(LogWindowTest, TheOptionsMenuFoldsAndTheFindBarFinds)
{
    for (int i = 0; i < 3; ++i)
        log(QStringLiteral("repeat"));
    log(QStringLiteral("needle in the log"));
    reader->displayLogAndForceUpdate(false);
    ILRLogWindowController* c = reader->windowController();
    ASSERT_TRUE(c->_actionButton);
    c->validateMenuItems();
    EXPECT_TRUE(c->messageCoalescingItem->isChecked());
    EXPECT_EQ(c->findItem->data().toInt(), 1);
    c->messageCoalescingItem->trigger();
    EXPECT_TRUE(platform::UserDefaults::standard().boolForKey(QStringLiteral("ILRIntegratedLogReaderDisableCoalescing")));
    EXPECT_TRUE(shows(QStringLiteral(": repeat"), 3));
    c->messageCoalescingItem->trigger();
    EXPECT_TRUE(shows(QStringLiteral(": repeat (\u00D73)"), 1));

    c->findItem->trigger();
    EXPECT_TRUE(c->findBar->isVisibleTo(c->window));
    QTest::keyClicks(c->findField.data(), QStringLiteral("NEEDLE"));
    EXPECT_EQ(reader->logView()->selectedText(), QStringLiteral("needle"));
    QTest::keyClick(c->findField.data(), Qt::Key_Escape);
    EXPECT_FALSE(c->findBar->isVisibleTo(c->window));
}

TEST_F(LogWindowTest, TheMainMenusFindAndCopyReachTheLog)
{
    log(QStringLiteral("copy this line"));
    reader->displayLogAndForceUpdate(false);
    ILRLogTextView* view = reader->logView();
    ILRLogWindowController* c = reader->windowController();
    // Sent along the responder chain from the log view, as the main menu's items are.
    ASSERT_TRUE(platform::targetForAction(QStringLiteral("performTextFinderAction"), view));
    platform::targetForAction(QStringLiteral("performTextFinderAction"), view)->performAction(QStringLiteral("performTextFinderAction"), nullptr);
    EXPECT_TRUE(c->findBar->isVisibleTo(c->window));
    platform::targetForAction(QStringLiteral("selectAll"), view)->performAction(QStringLiteral("selectAll"), nullptr);
    platform::Responder* copier = platform::targetForAction(QStringLiteral("copy"), view);
    ASSERT_TRUE(copier);
    copier->performAction(QStringLiteral("copy"), nullptr);
    EXPECT_TRUE(QGuiApplication::clipboard()->text().contains(QStringLiteral(": copy this line")));
}

TEST_F(LogWindowTest, ClosingKeepsTheOwnLinesAndTheDebugSwitchFollowsTheDefault)
{
    log(QStringLiteral("before closing"));
    reader->displayLogAndForceUpdate(false);
    ILRLogWindowController* c = reader->windowController();
    EXPECT_FALSE(c->debugLoggingSwitch->isChecked());
    c->debugLoggingSwitch->click();
    EXPECT_TRUE(platform::UserDefaults::standard().boolForKey(QStringLiteral("PMDebugLog")));
    EXPECT_TRUE(c->debugLoggingSwitch->isChecked());
    reader->window()->close();
    log(QStringLiteral("while closed"));
    reader->displayLogAndForceUpdate(false);
    EXPECT_TRUE(reader->displayedText().contains(QStringLiteral("before closing")));
    EXPECT_TRUE(reader->displayedText().contains(QStringLiteral("while closed")));
}

TEST(LogTextView, KeepsTheEndInViewAsLinesArriveAndSelectsAcrossParagraphs)
{
    ILRLogTextView view;
    view.resize(400, 200);
    view.show();
    ILRLogParagraphs paragraphs;
    for (int i = 0; i < 200; ++i) {
        const QString t = QStringLiteral("12:00:00.000: line %1").arg(i);
        paragraphs.push_back({t, 14, int(t.size())});
    }
    view.setParagraphs(paragraphs);
    view.scrollToEnd();
    EXPECT_TRUE(view.isScrolledToEnd());
    paragraphs.push_back({QStringLiteral("12:00:01.000: the newest"), 14, 24});
    view.setParagraphs(paragraphs);
    QApplication::processEvents();
    EXPECT_TRUE(view.isScrolledToEnd());
    // Scrolled away from the end, new lines leave the view where it is.
    view.verticalScrollBar()->setValue(0);
    paragraphs.push_back({QStringLiteral("12:00:02.000: more"), 14, 18});
    view.setParagraphs(paragraphs);
    EXPECT_EQ(view.verticalScrollBar()->value(), 0);
    view.setSelection({1, 14}, {2, 20});
    EXPECT_EQ(view.selectedText(), QStringLiteral("line 1\n12:00:00.000: line 2"));
    // A long paragraph wraps: it is taller than one line once laid out.
    ILRLogParagraphs wrapped{{QString(400, QLatin1Char('w')) + QStringLiteral(" end"), 0, 404}};
    view.setParagraphs(wrapped);
    view.scrollToParagraph(0);
    EXPECT_GT(view.contentHeight(), 3 * view.fontMetrics().lineSpacing());
}
