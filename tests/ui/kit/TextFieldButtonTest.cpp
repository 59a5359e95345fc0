#include "ControlsSupport.h"

#include "platform/Alert.h"
#include "platform/FileManager.h"
#include "platform/UserDefaults.h"
#include "ui/kit/PMActionButtonTextField.h"

#include <QtCore/QDir>
#include <QtTest/QTest>

namespace {

struct StatusWindow : ActionWindow {
    PMActionButtonTextField* field = new PMActionButtonTextField(this);
    StatusWindow()
    {
        answers = {QStringLiteral("showDownloads"), QStringLiteral("updateStatusFields")};
        field->setGeometry(10, 10, 300, 20);
        QFont font = field->font();
        font.setPointSizeF(13); // the regular button images
        field->setFont(font);
    }
    QPointF buttonCentre() { return field->actionButtonTextFieldCell()->actionButtonFrameForCellFrame(field->rect()).center(); }
};

// Catches the URLs the desktop would be asked to open, and keeps the bus away.
struct OpenedURLs {
    QList<QUrl> urls;
    OpenedURLs()
    {
        platform::setFileManagerBusForTesting(QStringLiteral("pellis-no-such-bus"));
        platform::setURLOpenerForTesting([this](const QUrl& url) {
            urls.append(url);
            return true;
        });
    }
    ~OpenedURLs()
    {
        platform::setURLOpenerForTesting({});
        platform::setFileManagerBusForTesting(QString());
    }
};

} // namespace

TEST(ActionButtonTextField, TheButtonFollowsTheTextAndActsOnlyOnARelease)
{
    StatusWindow window;
    PMActionButtonTextField* field = window.field;
    field->setStringValue(QStringLiteral("3 downloads"), QStringLiteral("showDownloads"), nullptr, QStringLiteral("Show Downloads"),
                          field->rightPointingArrowActionButtonImage(), true);
    window.showActive();
    PMActionButtonTextFieldCell* cell = field->actionButtonTextFieldCell();
    const QRectF shortButton = cell->actionButtonFrameForCellFrame(field->rect());
    EXPECT_EQ(shortButton.size(), QSizeF(14, 15));
    field->setStringValue(QStringLiteral("12 downloads and 3 conversions"), QStringLiteral("showDownloads"), nullptr,
                          QStringLiteral("Show Downloads"), field->rightPointingArrowActionButtonImage(), true);
    const QRectF longButton = cell->actionButtonFrameForCellFrame(field->rect());
    EXPECT_GT(longButton.x(), shortButton.x() + 50); // the button sits after the text
    double padding = 0;
    const QRectF text = cell->textFrameForCellFrame(field->rect(), &padding);
    EXPECT_EQ(longButton.x(), text.x() + std::round(text.width() + 4 - padding));
    EXPECT_EQ(field->trackingArea(), longButton.adjusted(-3, -3, 3, 3));
    EXPECT_TRUE(field->toolTip().isEmpty()); // the tip belongs to the button
    EXPECT_EQ(field->stringForToolTip(), QStringLiteral("Show Downloads"));

    // The pointer over the button lights it up; leaving ends that.
    const QPoint button = window.buttonCentre().toPoint();
    QTest::mouseMove(field, button);
    EXPECT_TRUE(cell->hovered());
    QTest::mouseMove(field, {2, 2});
    EXPECT_FALSE(cell->hovered());

    // Pressed on the button, dragged out and released outside: nothing.
    sendMouse(field, QEvent::MouseButtonPress, button);
    EXPECT_TRUE(cell->clicked());
    sendMouse(field, QEvent::MouseMove, {2, 2});
    EXPECT_FALSE(cell->clicked());
    sendMouse(field, QEvent::MouseButtonRelease, {2, 2});
    EXPECT_EQ(window.count(QStringLiteral("showDownloads")), 0);
    // Dragged back in before the release: the action.
    sendMouse(field, QEvent::MouseButtonPress, button);
    sendMouse(field, QEvent::MouseMove, {2, 2});
    sendMouse(field, QEvent::MouseMove, button);
    sendMouse(field, QEvent::MouseButtonRelease, button);
    EXPECT_EQ(window.count(QStringLiteral("showDownloads")), 1);
    EXPECT_EQ(window.performed.last().second, field);
    EXPECT_FALSE(cell->clicked());
    // A click on the text does nothing, unless the click area is extended.
    QTest::mouseClick(field, Qt::LeftButton, {}, {8, 10});
    EXPECT_EQ(window.count(QStringLiteral("showDownloads")), 1);
    field->setExtendsActionButtonClickArea(true);
    field->updateTrackingAreaForWindow(&window);
    QTest::mouseClick(field, Qt::LeftButton, {}, {8, 10});
    EXPECT_EQ(window.count(QStringLiteral("showDownloads")), 2);
}

TEST(ActionButtonTextField, WithoutAnImageThereIsNoClickAreaAndAModalWindowKeepsItDark)
{
    StatusWindow window;
    window.field->setStringValue(QStringLiteral("Nothing"), QStringLiteral("showDownloads"), nullptr, QString(), QImage(), true);
    window.showActive();
    EXPECT_TRUE(window.field->trackingArea().isEmpty());
    QTest::mouseClick(window.field, Qt::LeftButton, {}, {8, 10});
    EXPECT_EQ(window.count(QStringLiteral("showDownloads")), 0);

    window.field->setStringValue(QStringLiteral("Now"), QStringLiteral("showDownloads"), nullptr, QString(),
                                 window.field->addActionButtonImage(), true);
    QWidget sheet(&window, Qt::Dialog);
    sheet.setWindowModality(Qt::WindowModal);
    sheet.show();
    ASSERT_TRUE(testsupport::waitUntil([&] { return QApplication::activeModalWidget() == &sheet; }));
    QTest::mouseMove(window.field, window.buttonCentre().toPoint());
    EXPECT_FALSE(window.field->actionButtonTextFieldCell()->hovered());
}

TEST(ActionButtonTextField, CentredTextSitsOnTheWindowsCentreLineWhenThereIsRoom)
{
    QWidget window;
    window.resize(1000, 100);
    PMActionButtonTextField field(&window);
    field.setAlignment(Qt::AlignHCenter);
    field.setCenteredInWindow(true);
    field.setGeometry(100, 10, 700, 20); // centred on the field: around 450, the window: 500
    field.setStringValue(QStringLiteral("Centre"));
    const QRectF text = field.actionButtonTextFieldCell()->textFrameForCellFrame(field.rect());
    EXPECT_NEAR(text.center().x() + field.x(), 500, 1);
    field.setGeometry(500, 10, 400, 20); // the window's centre would be too near the field's end
    const QRectF inField = field.actionButtonTextFieldCell()->textFrameForCellFrame(field.rect());
    EXPECT_NEAR(inField.center().x(), 200, 1);
}

TEST(LinkTextField, OnlyTheFiveSchemesAndAbsolutePathsAreLinks)
{
    struct Case {
        QVariant link;
        QString expected; // empty: no link
    };
    const Case cases[] = {
        {QStringLiteral("https://example.com/a?b=c"), QStringLiteral("https://example.com/a?b=c")},
        {QStringLiteral("http://example.com/"), QStringLiteral("http://example.com/")},
        {QStringLiteral("ftp://files.example.com/pub"), QStringLiteral("ftp://files.example.com/pub")},
        {QStringLiteral("ftps://files.example.com/pub"), QStringLiteral("ftps://files.example.com/pub")},
        {QStringLiteral("mailto:someone@example.com"), QStringLiteral("mailto:someone@example.com")},
        {QStringLiteral("/Movies/A Film (2001).mkv"), QStringLiteral("file:///Movies/A Film (2001).mkv")},
        {QStringLiteral("Movies"), QString()},            // a bare word is text
        {QStringLiteral("Movies/a.mkv"), QString()},      // so is a relative path
        {QStringLiteral("javascript:alert(1)"), QString()},
        {QVariant(42), QString()},                        // not a string or URL
        {QVariant(), QString()},
        {QUrl(QStringLiteral("https://example.com/x")), QStringLiteral("https://example.com/x")},
        {QUrl(QStringLiteral("smb://server/share")), QString()},
        {QUrl::fromLocalFile(QStringLiteral("/tmp/x.mov")), QStringLiteral("file:///tmp/x.mov")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.link.toString().toStdString());
        PMLinkTextField field;
        field.setStringValue(QStringLiteral("Shown"), c.link);
        EXPECT_EQ(field.linkURL().toString(), c.expected);
        EXPECT_EQ(field.actionButtonImage().isNull(), c.expected.isEmpty());
        EXPECT_EQ(field.action().isEmpty(), c.expected.isEmpty());
        EXPECT_EQ(field.text(), QStringLiteral("Shown"));
    }
}

TEST(LinkTextField, WebLinksOpenAndFilesAreOnlyRevealed)
{
    OpenedURLs opened;
    ActionWindow window;
    auto* field = new PMLinkTextField(&window);
    field->setGeometry(10, 10, 300, 20);
    window.showActive();
    field->setStringValue(QStringLiteral("Home page"), QStringLiteral("https://example.com/"));
    const QPoint button = field->actionButtonTextFieldCell()->actionButtonFrameForCellFrame(field->rect()).center().toPoint();
    QTest::mouseClick(field, Qt::LeftButton, {}, button);
    EXPECT_EQ(opened.urls, QList<QUrl>{QUrl(QStringLiteral("https://example.com/"))});

    // A file that exists is shown in its folder (here, without a file manager, the folder
    // opens); the file itself is never opened.
    const QString folder = testsupport::makeTempDir(QStringLiteral("links"));
    const QString script = folder + QStringLiteral("/run me.desktop");
    testsupport::writeFile(script, "[Desktop Entry]\nExec=false\n");
    opened.urls.clear();
    field->setStringValue(QStringLiteral("run me"), script);
    field->goToLinkURL(nullptr);
    EXPECT_EQ(opened.urls, QList<QUrl>{QUrl::fromLocalFile(folder)});

    // A file that is gone: its nearest folder still there; nothing is opened.
    opened.urls.clear();
    testsupport::LogCapture log;
    const int beeps = platform::beepCount();
    field->setStringValue(QStringLiteral("gone"), folder + QStringLiteral("/gone/deeper/file.mkv"));
    field->goToLinkURL(nullptr);
    EXPECT_EQ(opened.urls, QList<QUrl>{QUrl::fromLocalFile(folder)});
    EXPECT_TRUE(log.lines().join('\n').contains(QStringLiteral("[PMLinkTextField] cannot reveal <")));
    EXPECT_EQ(platform::beepCount(), beeps);

    // No link at all: a log line and a beep.
    field->setStringValue(QStringLiteral("plain"));
    field->goToLinkURL(nullptr);
    EXPECT_EQ(platform::beepCount(), beeps + 1);
    EXPECT_TRUE(log.lines().join('\n').contains(QStringLiteral("[PMLinkTextField] cannot open <")));
}

TEST(LinkTextField, AClickOnThePathTextSwitchesTheDisplayModeWhenAllowed)
{
    OpenedURLs opened;
    platform::UserDefaults& defaults = platform::UserDefaults::standard();
    defaults.setInteger(0, QStringLiteral("Path Link Display Mode"));
    StatusWindow window;
    auto* field = new PMLinkTextField(&window);
    field->setGeometry(10, 40, 300, 20);
    field->setStringValue(QStringLiteral("/Movies/a.mkv"), QStringLiteral("/Movies/a.mkv"));
    window.showActive();
    const auto clickText = [&] { QTest::mouseClick(field, Qt::LeftButton, {}, {6, 10}); };

    clickText(); // no delegate, no setting: nothing
    EXPECT_EQ(defaults.integerForKey(QStringLiteral("Path Link Display Mode")), 0);
    field->setDelegate(&window);
    clickText();
    EXPECT_EQ(defaults.integerForKey(QStringLiteral("Path Link Display Mode")), 0);
    defaults.setBool(true, QStringLiteral("Path Link Display Mode Can Be Toggled"));
    EXPECT_TRUE(field->canChangePathLinkDisplayMode());
    clickText();
    EXPECT_EQ(defaults.integerForKey(QStringLiteral("Path Link Display Mode")), 1);
    EXPECT_EQ(window.count(QStringLiteral("updateStatusFields")), 1);
    clickText();
    EXPECT_EQ(defaults.integerForKey(QStringLiteral("Path Link Display Mode")), 0);
    // Any drag cancels it.
    sendMouse(field, QEvent::MouseButtonPress, {6, 10});
    sendMouse(field, QEvent::MouseMove, {9, 10});
    sendMouse(field, QEvent::MouseButtonRelease, {9, 10});
    EXPECT_EQ(defaults.integerForKey(QStringLiteral("Path Link Display Mode")), 0);
    EXPECT_TRUE(opened.urls.isEmpty());
    defaults.removeObjectForKey(QStringLiteral("Path Link Display Mode Can Be Toggled"));
}

TEST(ClickButtonTextField, ItsLabelGreysOutWithTheButtonAndThenIgnoresClicks)
{
    QWidget window;
    PMClickButtonTextFieldButton box(&window);
    PMClickButtonTextField label(QStringLiteral("Loop"), &window);
    label.setClickButton(&box);
    box.setTextField(&label);
    QTest::mouseClick(&label, Qt::LeftButton);
    EXPECT_TRUE(box.isChecked());
    const QColor active = label.palette().color(QPalette::WindowText);
    box.setEnabled(false);
    EXPECT_EQ(label.palette().color(QPalette::WindowText), QApplication::palette().color(QPalette::Disabled, QPalette::WindowText));
    EXPECT_NE(label.palette().color(QPalette::WindowText), active);
    QTest::mouseClick(&label, Qt::LeftButton);
    EXPECT_TRUE(box.isChecked());
    box.setEnabled(true);
    EXPECT_EQ(label.palette().color(QPalette::WindowText), active);
}
