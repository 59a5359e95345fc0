// The info panel: stepping through the pool with wrap-around (every step applies and saves
// soon), cover and preview exchanged without losing either, only the cover removed,
// automatic names locking the name, the rating written only when changed (none as 0),
// names going through the organiser's rules whatever the user types, every other window
// blocked while it is open, its own keys in the tag tables, its location link, and the
// batch rename's fields, prefix and question.
#include "library/maintenance/FilesFixture.h"

#include "images/PMMovieRepresentationImageLoader.h"
#include "library/model/PMCachedSettings.h"
#include "platform/DelayedPerform.h"
#include "platform/Responder.h"
#include "library/maintenance/PMExtendedRegularExpression.h"
#include "library/model/PMInfoTagEditor.h"
#include "platform/FileManager.h"
#include "ui/commands/FocusSupport.h"
#include "ui/commands/PMInfoPanel.h"
#include "ui/commands/PMInfoTagEditorView.h"
#include "ui/commands/PMMetaReferenceTokenField.h"
#include "ui/commands/PMTagEditorTableView.h"
#include "ui/kit/PMRatingView.h"
#include "platform/EventClock.h"

#include <QtCore/QMimeData>
#include <QtGui/QAction>
#include <QtGui/QClipboard>
#include <QtGui/QGuiApplication>
#include <QtTest/QTest>
#include <QtCore/QRegularExpression>
#include <QtWidgets/QApplication>
#include <QtWidgets/QCheckBox>
#include <QtWidgets/QLabel>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QTabBar>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QStackedWidget>

#include <memory>

using platform::Array;
using platform::ArrayPtr;
using platform::Value;

namespace {

class InfoPanelTest : public FilesTest {
protected:
    void TearDown() override
    {
        if (c()._infoPanel && c()._infoPanel->isVisible())
            c().infoCancel(nullptr);
        PMCachedSettings::determineNamesAutomatically = false;
        platform::cancelPreviousPerformRequests(&c(), QStringLiteral("saveLibrary"), Value());
        PMMovieRepresentationImageLoader::defaultLoader().waitForSaveQueue();
        FilesTest::TearDown();
    }
    // Opens the panel as a menu item carrying the movies (and pool) does.
    PMInfoPanel& open(const ArrayPtr& movies, const ArrayPtr& pool = nullptr, qint64 tag = 1)
    {
        m_item = std::make_unique<QAction>();
        platform::setMenuItemTag(m_item.get(), tag);
        platform::setMenuItemRepresentedObject(m_item.get(), Value(PMMainController::PMInfoScopeRecord(movies, pool)));
        c().showMovieInfo(m_item.get());
        EXPECT_TRUE(c()._infoPanel && c()._infoPanel->isVisible());
        return *c()._infoPanel;
    }
    static QImage solid(QColor color)
    {
        QImage pixels(64, 48, QImage::Format_RGB32);
        pixels.fill(color);
        return pixels;
    }
    // The colour in the middle of a stored picture.
    static QColor storedColor(const QString& basePath)
    {
        const QImage image(basePath + QStringLiteral(".jpg"));
        return image.isNull() ? QColor() : image.pixelColor(image.width() / 2, image.height() / 2);
    }
    static bool near(QColor a, QColor b)
    {
        return a.isValid() && std::abs(a.red() - b.red()) < 24 && std::abs(a.green() - b.green()) < 24 && std::abs(a.blue() - b.blue()) < 24;
    }
    std::unique_ptr<QAction> m_item;
};

TEST_F(InfoPanelTest, SteppingWrapsAroundAndEveryStepAppliesAndSavesSoon)
{
    const auto a = fileMovie(m_library + QStringLiteral("/A.mov"));
    const auto b = fileMovie(m_library + QStringLiteral("/B.mov"));
    const auto d = fileMovie(m_library + QStringLiteral("/D.mov"));
    library({v(a), v(b), v(d)});
    setDefault(QStringLiteral("Do Not Organize Library Folder"), true);

    // One movie named without a pool: its sorted siblings become the pool.
    PMInfoPanel& panel = open(items({v(d)}));
    ASSERT_TRUE(panel.infoNextButton->isVisibleTo(&panel));
    const auto shown = [&] { return panel.infoNameField->text(); };
    EXPECT_EQ(shown(), QStringLiteral("D"));

    struct Step {
        QPushButton* button;
        const char* expected;
    };
    // Forward from the last reaches the first; back from the first reaches the last.
    for (const Step& step : {Step{panel.infoNextButton, "A"}, Step{panel.infoNextButton, "B"}, Step{panel.infoPreviousButton, "A"},
                             Step{panel.infoPreviousButton, "D"}}) {
        platform::cancelPreviousPerformRequests(&c(), QStringLiteral("saveLibrary"), Value());
        QTest::mouseClick(step.button, Qt::LeftButton);
        EXPECT_EQ(shown(), QString::fromLatin1(step.expected));
        EXPECT_TRUE(platform::hasPendingPerformRequest(&c(), QStringLiteral("saveLibrary"), Value()));
    }

    // An edit is applied by the step away from it, not only by OK.
    panel.infoNameField->setText(QStringLiteral("Delta"));
    QTest::mouseClick(panel.infoNextButton, Qt::LeftButton);
    EXPECT_EQ(d->displayName(), QStringLiteral("Delta"));
    EXPECT_EQ(shown(), QStringLiteral("A"));

    // Cancel forgets the edit in hand.
    panel.infoNameField->setText(QStringLiteral("Alpha"));
    c().infoCancel(nullptr);
    EXPECT_EQ(a->displayName(), QStringLiteral("A"));

    // Several movies: no stepping at all.
    PMInfoPanel& several = open(items({v(a), v(b)}));
    EXPECT_FALSE(several.infoNextButton->isVisibleTo(&several));
    const int beeps = platform::beepCount();
    c().infoStep(several.infoNextButton);
    EXPECT_EQ(platform::beepCount(), beeps + 1);
}

TEST_F(InfoPanelTest, PicturesExchangedOrRemovedKeepWhatTheUserMeant)
{
    const auto movie = fileMovie(m_library + QStringLiteral("/Pictured.mov"));
    library({v(movie)});
    auto& loader = PMMovieRepresentationImageLoader::defaultLoader();
    const QColor red(220, 20, 20), blue(20, 20, 220);

    struct Case {
        const char* name;
        bool exchange; // else the cover is removed
    };
    for (const Case& k : {Case{"exchange", true}, Case{"remove cover", false}}) {
        SCOPED_TRACE(k.name);
        movie->setCoverImage(platform::Image::make(solid(red)));
        movie->setPosterImage(platform::Image::make(solid(blue)));
        loader.waitForSaveQueue();
        movie->uncacheCoverImageAndPosterImage();
        ASSERT_TRUE(near(storedColor(movie->coverImageBasePath()), red));

        PMInfoPanel& panel = open(items({v(movie)}));
        ASSERT_TRUE(testsupport::waitUntil([&] { return panel.infoCoverImageWell->image() && panel.infoPreviewImageWell->image(); }, 30000));
        // The loaded pictures are the movie's own files.
        EXPECT_EQ(panel.infoCoverImageWell->image()->associatedSourcePath, movie->coverImageBasePath() + QStringLiteral(".jpg"));
        EXPECT_EQ(panel.infoPreviewImageWell->image()->associatedSourcePath, movie->posterImageBasePath() + QStringLiteral(".jpg"));
        QCoreApplication::processEvents();
        EXPECT_EQ(panel.infoCoverImageWell->changeMark(), 0);

        if (k.exchange) {
            // Each picture dragged into the other well, as a drag carries it.
            std::unique_ptr<QMimeData> fromCover(panel.infoCoverImageWell->draggingPasteboard());
            std::unique_ptr<QMimeData> fromPreview(panel.infoPreviewImageWell->draggingPasteboard());
            ASSERT_TRUE(fromCover && fromPreview);
            ASSERT_TRUE(panel.infoCoverImageWell->takeImageFromMimeData(*fromPreview));
            c().infoChangeImage(panel.infoCoverImageWell);
            ASSERT_TRUE(panel.infoPreviewImageWell->takeImageFromMimeData(*fromCover));
            c().infoChangeImage(panel.infoPreviewImageWell);
        } else {
            panel.infoCoverImageWell->setFocus();
            QTest::keyClick(panel.infoCoverImageWell, Qt::Key_Delete);
            EXPECT_EQ(panel.infoCoverImageWell->changeMark(), 2);
        }
        QCoreApplication::processEvents(); // the next turn may take a mark back
        c().infoOK(panel.okButton);
        loader.waitForSaveQueue();

        if (k.exchange) {
            EXPECT_TRUE(near(storedColor(movie->coverImageBasePath()), blue)) << storedColor(movie->coverImageBasePath()).name().toStdString();
            EXPECT_TRUE(near(storedColor(movie->posterImageBasePath()), red)) << storedColor(movie->posterImageBasePath()).name().toStdString();
        } else {
            EXPECT_FALSE(QFileInfo::exists(movie->coverImageBasePath() + QStringLiteral(".jpg")));
            EXPECT_TRUE(near(storedColor(movie->posterImageBasePath()), blue));
        }
    }

    // A picture pasted from the clipboard counts as a new cover.
    QGuiApplication::clipboard()->setImage(solid(QColor(20, 200, 20)));
    PMInfoPanel& panel = open(items({v(movie)}));
    panel.infoCoverImageWell->setFocus();
    QTest::keyClick(panel.infoCoverImageWell, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(panel.infoCoverImageWell->changeMark(), 1);
    c().infoOK(panel.okButton);
    loader.waitForSaveQueue();
    EXPECT_TRUE(near(storedColor(movie->coverImageBasePath()), QColor(20, 200, 20)));
}

TEST_F(InfoPanelTest, AutomaticNamesLockTheNameAndTheBatchRename)
{
    const auto a = fileMovie(m_library + QStringLiteral("/First.mov"));
    const auto b = fileMovie(m_library + QStringLiteral("/Second.mov"));
    library({v(a), v(b)});
    setDefault(QStringLiteral("Do Not Organize Library Folder"), true);
    PMCachedSettings::determineNamesAutomatically = true;

    PMInfoPanel& panel = open(items({v(a)}));
    EXPECT_TRUE(panel.infoNameField->isReadOnly());
    panel.infoNameField->setText(QStringLiteral("Typed anyway"));
    c().infoOK(panel.okButton);
    EXPECT_NE(a->userSettings()->value(QStringLiteral("Name")).string(), QStringLiteral("Typed anyway"));

    // Several movies, even asked for with the renaming chapter: the switch is off and stays so.
    PMInfoPanel& several = open(items({v(a), v(b)}), nullptr, 1);
    EXPECT_EQ(several.infoSingleMultipleTabView->currentIndex(), 1);
    EXPECT_FALSE(several.infoBatchRenameSwitch->isEnabled());
    EXPECT_FALSE(several.infoBatchRenameSwitch->isChecked());
    EXPECT_FALSE(several.infoChapterSelector->isEnabled());
    c().infoCancel(nullptr);

    // Without automatic names the same panel edits names.
    PMCachedSettings::determineNamesAutomatically = false;
    PMInfoPanel& editable = open(items({v(a)}));
    EXPECT_FALSE(editable.infoNameField->isReadOnly());
}

TEST_F(InfoPanelTest, TheRatingIsWrittenOnlyWhenTheUserChangedIt)
{
    struct Case {
        const char* name;
        double first, second; // the movies' ratings (second < 0: one movie edited)
        int click;            // stars clicked (-1 none; 0: the rating taken away)
        bool switchOn;        // the switch turned on by hand
        double expectedFirst, expectedSecond;
    };
    const Case cases[] = {
        {"untouched stays", 3, -1, -1, false, 3, -1},
        {"changed to none is written as 0", 4, -1, 0, false, 0, -1},
        {"changed to two", 4, -1, 2, false, 2, -1},
        {"differing, untouched: each keeps its own", 1, 4, -1, false, 1, 4},
        {"differing, switched on: both get the shown rating", 1, 4, -1, true, 5, 5},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        const auto first = fileMovie(m_library + QStringLiteral("/one.mov"));
        const auto second = fileMovie(m_library + QStringLiteral("/two.mov"));
        first->setRating(k.first);
        if (k.second >= 0)
            second->setRating(k.second);
        c().resetForTesting();
        library({v(first), v(second)});
        PMInfoPanel& panel = open(k.second >= 0 ? items({v(first), v(second)}) : items({v(first)}), nullptr, 0);
        if (k.click >= 0) {
            panel.infoRatingSelector->setRating(Value(qint64(k.click)));
            Q_EMIT panel.infoRatingSelector->ratingDidEndChange(k.click);
            panel.infoRatingSelector->changeRating(nullptr);
        }
        if (k.switchOn)
            QTest::mouseClick(panel.infoRatingSwitch, Qt::LeftButton, {}, QPoint(6, panel.infoRatingSwitch->height() / 2));
        c().infoOK(panel.okButton);
        EXPECT_EQ(first->rating(), k.expectedFirst);
        if (k.second >= 0) {
            EXPECT_EQ(second->rating(), k.expectedSecond);
        }
        QFile::remove(first->path());
        QFile::remove(second->path());
    }
}

TEST_F(InfoPanelTest, TypedNamesGoThroughTheOrganisersRules)
{
    // Taken by a file the library does not know: never replaced.
    testsupport::writeFile(m_library + QStringLiteral("/Taken.mov"), "someone else's");
    const QString longName = QString(300, QChar(0x00E9)); // 600 bytes of UTF-8
    struct Case {
        const char* name;
        QString typed;
        QString expectedFile; // empty: only checked to lie in the library folder
    };
    const Case cases[] = {
        {"plain", QStringLiteral("Holiday"), QStringLiteral("Holiday.mov")},
        {"taken by another file", QStringLiteral("Taken"), QStringLiteral("Taken 1.mov")},
        {"climbing out", QStringLiteral("../../escape"), QString()},
        {"slashes", QStringLiteral("a/b"), QString()},
        {"line break", QStringLiteral("two\nlines"), QString()},
        {"too long", longName, QString()},
    };
    int n = 0;
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        const auto movie = fileMovie(m_library + QStringLiteral("/movie%1.mov").arg(n++), "mine");
        c().resetForTesting();
        library({v(movie)});
        PMInfoPanel& panel = open(items({v(movie)}));
        panel.infoNameField->setText(k.typed);
        c().infoOK(panel.okButton);
        const QString path = movie->path();
        EXPECT_EQ(testsupport::readFile(path), QByteArray("mine"));
        EXPECT_EQ(QFileInfo(path).absolutePath(), m_library);
        EXPECT_LE(QFileInfo(path).fileName().toUtf8().size(), 255);
        EXPECT_FALSE(movie->displayName().contains(u'\n'));
        if (!k.expectedFile.isEmpty()) {
            EXPECT_EQ(QFileInfo(path).fileName(), k.expectedFile);
        }
        QFile::remove(path);
    }
    EXPECT_EQ(testsupport::readFile(m_library + QStringLiteral("/Taken.mov")), QByteArray("someone else's"));
}

} // namespace

namespace {

TEST_F(InfoPanelTest, BatchRenameAsksWhenLeftBehindAndRenamesFilesThroughTheOrganiser)
{
    const auto a = fileMovie(m_library + QStringLiteral("/Clip 1.mov"), "one");
    const auto b = fileMovie(m_library + QStringLiteral("/Clip 2.mov"), "two");
    library({v(a), v(b)});
    // Another file already holds one of the new names.
    testsupport::writeFile(m_library + QStringLiteral("/Shot 1.mov"), "someone else's");

    struct Case {
        const char* name;
        QString replacement;
        bool leaveChapter;
        bool comeBack; // to the renaming chapter before OK
        QList<int> answers;  // of the "Rename?" alert
        bool renamed;
    };
    const Case cases[] = {
        {"left behind, declined", QStringLiteral("Shot"), true, false, {1}, false},
        {"left behind, confirmed", QStringLiteral("Shot"), true, false, {0}, true},
        {"left and come back: nothing to ask", QStringLiteral("Shot"), true, true, {1}, true},
        {"hostile replacement", QStringLiteral("../../Shot"), false, false, {}, true},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        m_alerts.clear();
        m_answers = k.answers;
        a->setDisplayName(QStringLiteral("Clip 1"));
        b->setDisplayName(QStringLiteral("Clip 2"));
        PMInfoPanel& panel = open(items({v(a), v(b)}), nullptr, 1);
        ASSERT_EQ(panel.infoSingleMultipleTabView->currentIndex(), 1);
        EXPECT_TRUE(panel.infoBatchRenameSwitch->isChecked());
        panel.infoBatchRenameActionSelector->setCurrentIndex(panel.infoBatchRenameActionSelector->findData(1));
        c().infoChangeBatchRenameAction(panel.infoBatchRenameActionSelector);
        // The panel keeps its fields from the last time.
        panel.infoBatchRenameFFindField->clear();
        panel.infoBatchRenameFReplaceField->clear();
        QTest::keyClicks(panel.infoBatchRenameFFindField, QStringLiteral("Clip"));
        QTest::keyClicks(panel.infoBatchRenameFReplaceField, k.replacement);
        EXPECT_EQ(c()._infoBatchRenameStatus, QStringLiteral("2 of 2 names affected"));
        if (k.leaveChapter)
            QTest::mouseClick(panel.infoChapterSelector, Qt::LeftButton, {}, panel.infoChapterSelector->tabRect(0).center());
        if (k.comeBack)
            QTest::mouseClick(panel.infoChapterSelector, Qt::LeftButton, {}, panel.infoChapterSelector->tabRect(1).center());
        c().infoOK(panel.okButton);

        EXPECT_EQ(alertTitles(), k.leaveChapter && !k.comeBack ? QStringList{QStringLiteral("Rename?")} : QStringList());
        for (const auto& movie : {a, b}) {
            EXPECT_EQ(movie->displayName().startsWith(QStringLiteral("Clip")), !k.renamed);
            // Every file stays in the library folder, keeps its content and replaces nothing.
            EXPECT_EQ(QFileInfo(movie->path()).absolutePath(), m_library);
            EXPECT_EQ(testsupport::readFile(movie->path()), movie == a ? QByteArray("one") : QByteArray("two"));
        }
        EXPECT_EQ(testsupport::readFile(m_library + QStringLiteral("/Shot 1.mov")), QByteArray("someone else's"));
    }
}

} // namespace

namespace {

TEST_F(InfoPanelTest, EveryOtherWindowWaitsUntilOKOrCancel)
{
    const auto movie = fileMovie(m_library + QStringLiteral("/A.mov"));
    library({v(movie)});
    // Another window of the program (the preferences, the player) with a switch in it.
    QCheckBox elsewhere(QStringLiteral("Somewhere else"));
    elsewhere.resize(200, 30);
    elsewhere.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&elsewhere));
    const QPoint box(8, elsewhere.height() / 2);

    for (const bool ok : {true, false}) {
        SCOPED_TRACE(ok ? "OK" : "Cancel");
        elsewhere.setChecked(false);
        PMInfoPanel& panel = open(items({v(movie)}));
        EXPECT_EQ(panel.windowModality(), Qt::ApplicationModal);
        // Through the window system, as a user's click comes.
        QTest::mouseClick(elsewhere.windowHandle(), Qt::LeftButton, {}, box);
        EXPECT_FALSE(elsewhere.isChecked()) << "changed behind the panel's back";
        if (ok)
            c().infoOK(panel.okButton);
        else
            c().infoCancel(panel.cancelButton);
        QTest::mouseClick(elsewhere.windowHandle(), Qt::LeftButton, {}, box);
        EXPECT_TRUE(elsewhere.isChecked());
    }
}

TEST_F(InfoPanelTest, TheLocationLinkShowsTheFileInTheFileManager)
{
    const auto movie = fileMovie(m_library + QStringLiteral("/Shown.mov"));
    library({v(movie)});
    PMInfoPanel& panel = open(items({v(movie)}));
    const QRegularExpressionMatch link = QRegularExpression(QStringLiteral("href=\"([^\"]+)\"")).match(panel.infoLocationField->text());
    ASSERT_TRUE(link.hasMatch()) << panel.infoLocationField->text().toStdString();
    // No file manager on the bus: its folder opens instead.
    QList<QUrl> opened;
    platform::setFileManagerBusForTesting(QStringLiteral("pellis-test-no-such-bus"));
    platform::setURLOpenerForTesting([&](const QUrl& url) {
        opened << url;
        return true;
    });
    Q_EMIT panel.infoLocationField->linkActivated(link.captured(1).replace(QStringLiteral("&amp;"), QStringLiteral("&")));
    platform::setURLOpenerForTesting(nullptr);
    platform::setFileManagerBusForTesting(QString());
    EXPECT_EQ(opened, QList<QUrl>{QUrl::fromLocalFile(m_library)});
}

TEST_F(InfoPanelTest, SpaceTabArrowsAndReturnWorkTheTagTables)
{
    const auto a = fileMovie(m_library + QStringLiteral("/A.mov"));
    const auto b = fileMovie(m_library + QStringLiteral("/B.mov"));
    a->setValue(QStringLiteral("Drama"), QStringLiteral("Genre"));
    a->setValue(QStringLiteral("calm"), QStringLiteral("Mood"));
    b->setValue(QStringLiteral("Drama, Thriller"), QStringLiteral("Genre"));
    library({v(a), v(b)});
    c().invalidateTagTypes();
    setDefault(QStringLiteral("Pop Up Property Values After Delay"), true);
    PMInfoPanel& panel = open(items({v(a), v(b)}), nullptr, 0);
    PMTagEditorTableView* tags = panel.infoTagEditor->tagList();
    PMTagEditorTableView* properties = panel.infoTagEditor->propertyList();
    const int rows = int(properties->numberOfRows());
    ASSERT_GE(rows, 2);
    const auto rowOf = [&](const QString& tag) {
        for (qsizetype i = 1; i < c()._filteredInfoTags->count(); ++i)
            if (PMInfoTagRecord::tag(c()._filteredInfoTags->at(i).dictionary()) == tag)
                return int(i - 1);
        return -1;
    };
    const int valueColumn = properties->columnWithIdentifier(QStringLiteral("Value"));
    // The cell being edited, as "tags" or the property row's number.
    const auto edited = [&]() -> QString {
        for (PMTagEditorTableView* table : {tags, properties})
            if (table->isEditing() && table->editedIndex().column() == table->columnWithIdentifier(QStringLiteral("Value")))
                return table == tags ? QStringLiteral("tags") : QString::number(table->editedIndex().row());
        return QStringLiteral("none");
    };
    const auto key = [](int k, Qt::KeyboardModifiers modifiers = {}) { QTest::keyClick(QApplication::focusWidget(), Qt::Key(k), modifiers); };

    // Tab walks the value cells; past either end of the properties it is back at the tags.
    ASSERT_TRUE(testsupport::giveKeysTo(tags));
    struct Step {
        int key;
        Qt::KeyboardModifiers modifiers;
        QString expected;
    };
    const Step steps[] = {
        {Qt::Key_Tab, {}, QStringLiteral("0")},
        {Qt::Key_Tab, {}, QStringLiteral("1")},
        {Qt::Key_Backtab, Qt::ShiftModifier, QStringLiteral("0")},
        {Qt::Key_Backtab, Qt::ShiftModifier, QStringLiteral("tags")},
        {Qt::Key_Backtab, Qt::ShiftModifier, QString::number(rows - 1)},
        {Qt::Key_Tab, {}, QStringLiteral("tags")},
    };
    for (const Step& step : steps) {
        key(step.key, step.modifiers);
        EXPECT_EQ(edited(), step.expected);
    }
    // From a property's name, Tab goes on to its own value.
    ASSERT_TRUE(properties->editColumn(properties->columnWithIdentifier(QStringLiteral("Tag")), 1, true));
    key(Qt::Key_Tab);
    EXPECT_EQ(edited(), QStringLiteral("1"));
    properties->commitEditing();
    tags->commitEditing();
    EXPECT_TRUE(panel.isVisible()) << "Return while a cell is edited only ends the edit";

    // Space: the selected record is set for every movie.
    const int mood = rowOf(QStringLiteral("Mood"));
    ASSERT_GE(mood, 0);
    const platform::DictionaryPtr moodRecord = c()._filteredInfoTags->at(mood + 1).dictionary();
    ASSERT_NE(moodRecord->value(PMInfoTagRecord::kState).toLongLong(), 1) << "the movies differ";
    ASSERT_TRUE(testsupport::giveKeysTo(properties));
    properties->selectRow(mood);
    key(Qt::Key_Space);
    EXPECT_EQ(moodRecord->value(PMInfoTagRecord::kState).toLongLong(), 1);
    EXPECT_EQ(edited(), QStringLiteral("none"));

    // Up in an edited value offers that row's values: the sheet adds to Mood, even with Genre
    // selected meanwhile.
    platform::steerEventClockForTesting(true);
    ASSERT_TRUE(properties->editColumn(valueColumn, mood, true));
    key(Qt::Key_Up);
    EXPECT_TRUE(testsupport::waitUntil([&] { return c().infoNewTagPanel && c().infoNewTagPanel->isVisible(); }));
    platform::steerEventClockForTesting(false);
    ASSERT_TRUE(c().infoNewTagPanel && c().infoNewTagPanel->isVisible());
    EXPECT_TRUE(qobject_cast<QLabel*>(c().infoNewTagTitleField.data())->text().contains(QStringLiteral("Mood")));
    const int genre = rowOf(QStringLiteral("Genre"));
    properties->selectRow(genre);
    qobject_cast<QLineEdit*>(c().infoNewTagTokenField.data())->setText(QStringLiteral("sunny"));
    c().newTagValueOK(nullptr);
    EXPECT_TRUE(PMInfoTagRecord::value(moodRecord).contains(QStringLiteral("sunny")));
    EXPECT_FALSE(PMInfoTagRecord::value(c()._filteredInfoTags->at(genre + 1).dictionary()).contains(QStringLiteral("sunny")));

    // Return with no cell edited is OK.
    ASSERT_TRUE(testsupport::giveKeysTo(properties));
    key(Qt::Key_Return);
    EXPECT_FALSE(panel.isVisible());
    EXPECT_TRUE(a->cachedTags()->value(QStringLiteral("mood")).dictionary()->value(QStringLiteral("Value")).string().contains(QStringLiteral("sunny")));
}

TEST_F(InfoPanelTest, TheNameIsAppliedOnlyWhenTypedAndRetitlesThePanelInQuotes)
{
    const auto movie = fileMovie(m_library + QStringLiteral("/Spaced .mov"));
    library({v(movie)});
    ASSERT_EQ(movie->displayName(), QStringLiteral("Spaced "));
    // Left alone, the name stays as it is, OK after OK.
    for (int i = 0; i < 2; ++i) {
        PMInfoPanel& panel = open(items({v(movie)}));
        c().infoOK(panel.okButton);
        EXPECT_EQ(movie->displayName(), QStringLiteral("Spaced "));
        EXPECT_EQ(QFileInfo(movie->path()).fileName(), QStringLiteral("Spaced .mov"));
    }
    PMInfoPanel& panel = open(items({v(movie)}));
    ASSERT_TRUE(testsupport::giveKeysTo(panel.infoNameField));
    panel.infoNameField->selectAll();
    QTest::keyClicks(panel.infoNameField, QStringLiteral("Holiday"));
    EXPECT_EQ(panel.windowTitle(), QStringLiteral("\"Holiday\""));
    panel.infoNameField->selectAll();
    QTest::keyClick(panel.infoNameField, Qt::Key_Backspace);
    EXPECT_EQ(panel.windowTitle(), QStringLiteral("\"Spaced \""));
    c().infoCancel(panel.cancelButton);
}

TEST_F(InfoPanelTest, TheBatchRenameFieldsTakeReferencesAndTheCommonPrefixKeepsWholeCharacters)
{
    const auto a = fileMovie(m_library + QString::fromUtf16(u"/Trip \U0001F600 one.mov"));
    const auto b = fileMovie(m_library + QString::fromUtf16(u"/Trip \U0001F601 two.mov"));
    library({v(a), v(b)});
    PMInfoPanel& panel = open(items({v(a), v(b)}), nullptr, 1);
    ASSERT_EQ(panel.infoSingleMultipleTabView->currentIndex(), 1);
    // The emoji differ in their second half only: none of them is shared.
    EXPECT_EQ(panel.infoBatchRenameNPrefixField->text(), QStringLiteral("Trip "));

    for (PMMetaReferenceTokenField* field : {panel.infoBatchRenameAPrefixField, panel.infoBatchRenameASuffixField,
                                             panel.infoBatchRenameFReplaceField, panel.infoBatchRenameNIdentifierField,
                                             panel.infoBatchRenameNPrefixField, panel.infoBatchRenameNSuffixField,
                                             panel.infoBatchRenameCComposeField})
        EXPECT_TRUE(field->inherits("PMMetaReferenceTokenField")) << field->placeholderText().toStdString();
    // A reference put in from the menu turns renaming on and names the movies.
    panel.infoBatchRenameSwitch->setChecked(false);
    panel.infoBatchRenameActionSelector->setCurrentIndex(panel.infoBatchRenameActionSelector->findData(6));
    c().infoChangeBatchRenameAction(panel.infoBatchRenameActionSelector);
    panel.infoBatchRenameSwitch->setChecked(false);
    panel.infoBatchRenameCComposeField->clear();
    panel.infoBatchRenameCComposeField->insertMetaReferenceText(QStringLiteral("<?meta:Index?>"));
    EXPECT_TRUE(panel.infoBatchRenameSwitch->isChecked());
    EXPECT_EQ(c()._infoBatchRenameFields.composeText, QStringLiteral("<?meta:Index?>"));
    c().infoCancel(panel.cancelButton);
}

TEST_F(InfoPanelTest, OKAndCancelLetGoOfTheParsedReplacementTemplates)
{
    const auto movie = fileMovie(m_library + QStringLiteral("/A.mov"));
    library({v(movie)});
    for (const bool ok : {true, false}) {
        SCOPED_TRACE(ok ? "OK" : "Cancel");
        PMInfoPanel& panel = open(items({v(movie)}));
        const PMERETemplatePtr before = PMERETemplate::templateWithString(QStringLiteral("\\U$1"));
        ASSERT_EQ(PMERETemplate::templateWithString(QStringLiteral("\\U$1")), before) << "kept while the panel is open";
        if (ok)
            c().infoOK(panel.okButton);
        else
            c().infoCancel(panel.cancelButton);
        EXPECT_NE(PMERETemplate::templateWithString(QStringLiteral("\\U$1")), before);
    }
}

} // namespace
