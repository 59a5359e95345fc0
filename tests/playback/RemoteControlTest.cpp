// The remote control: the receiver's cookie strings, the dispatch of its buttons through the
// real controller, the on-screen list's layout and walking, and the input-device backend.
#include "library/model/ModelFixture.h"

#include "platform/Alert.h"
#include "platform/Cursor.h"
#include "platform/DelayedPerform.h"
#include "platform/UserDefaults.h"
#include "playback/PMRemoteControl.h"
#include "playback/PMRemoteInterfaceWindow.h"

#include "PlaybackTestSupport.h"
#include "common/MediaFixtures.h"

#include <QtGui/QGuiApplication>
#include <QtTest/QTest>
#include <QtWidgets/QMenu>

#include <functional>
#include <string_view>

#ifdef PELLIS_HAVE_LIBEVDEV
#include <fcntl.h>
#include <libevdev/libevdev-uinput.h>
#include <libevdev/libevdev.h>
#include <unistd.h>
#endif

using platform::Value;
using testsupport::waitUntil;

namespace {

struct Recorder : RemoteControlDelegate {
    std::vector<std::pair<int, bool>> events;
    void sendRemoteButtonEvent(int code, bool pressedDown, RemoteControl*) override { events.emplace_back(code, pressedDown); }
};

using Events = std::vector<std::pair<int, bool>>;

} // namespace

TEST(RemoteDecoderTest, CookieStringsBecomeButtonEvents)
{
    Recorder r;
    AppleRemote remote(&r);
    struct Case {
        const char* cookies;
        long sum;
        Events expected;
    } cases[] = {
        // Plus reports its press and its release.
        {"33_31_30_21_20_2_", 1, {{2, true}}},
        {"33_31_30_21_20_2_", 0, {{2, false}}},
        // Menu, play, right and left report a press only: the release follows at once.
        {"33_22_21_20_2_33_22_21_20_2_", 1, {{8, true}, {8, false}}},
        {"33_21_20_8_2_33_21_20_8_2_", 1, {{16, true}, {16, false}}},
        // Menu held reports its release only: its press comes first.
        {"33_21_20_2_33_21_20_2_", 0, {{512, true}, {512, false}}},
        // A known key later in an unknown string: one click of it.
        {"99_33_32_30_21_20_2_", 1, {{4, true}, {4, false}}},
        // A report inside a backlog is found first: one click of it (for menu held, the
        // press the receiver never sends comes before its release as well).
        {"33_31_30_21_20_2_33_22_21_20_2_33_22_21_20_2_", 1, {{8, true}, {8, false}, {8, false}}},
        {"33_31_30_21_20_2_33_21_20_2_33_21_20_2_", 1, {{512, true}, {512, true}, {512, false}}},
        // A backlog with an unknown tail: only its last known report counts, released.
        {"33_31_30_21_20_2_99_", 1, {{2, false}}},
        {"", 1, {}},
        {"1_2_3_", 1, {}},
    };
    for (const Case& k : cases) {
        r.events.clear();
        remote.handleEventWithCookieString(QString::fromLatin1(k.cookies), k.sum);
        EXPECT_EQ(r.events, k.expected) << k.cookies;
    }
    // Processing the backlog hands on every report with the sum.
    remote.setProcessesBacklog(true);
    r.events.clear();
    remote.handleEventWithCookieString(QStringLiteral("33_31_30_21_20_2_99_"), 1);
    EXPECT_EQ(r.events, (Events{{2, true}}));

    // The tables are searched in a fixed order and each knows every button.
    for (int table : {0, 1, 2}) {
        AppleRemote other(&r, table);
        for (int code : {2, 4, 8, 16, 32, 64, 512, 1024, 2048, 4096, 8192})
            EXPECT_TRUE(other.sendsEventForButtonIdentifier(code)) << table << " " << code;
        EXPECT_FALSE(other.sendsEventForButtonIdentifier(128));
    }
    EXPECT_EQ(remote.validCookieSubstring(QStringLiteral("19_33_")), QStringLiteral("19_"));
}

// The receiver never reports some halves of a button's life: each button gets exactly the
// events it lacks, and no other button gets any.
TEST(RemoteDecoderTest, TheHalvesTheReceiverNeverSendsAreMadeUp)
{
    Recorder r;
    AppleRemote remote(&r);
    struct Case {
        int code;
        bool pressedDown;
        Events expected;
    } cases[] = {
        // Buttons that click report their press only: the release follows at once.
        {PMRemoteButtonMenu, true, {{PMRemoteButtonMenu, true}, {PMRemoteButtonMenu, false}}},
        {PMRemoteButtonPlay, true, {{PMRemoteButtonPlay, true}, {PMRemoteButtonPlay, false}}},
        {PMRemoteButtonRight, true, {{PMRemoteButtonRight, true}, {PMRemoteButtonRight, false}}},
        {PMRemoteButtonLeft, true, {{PMRemoteButtonLeft, true}, {PMRemoteButtonLeft, false}}},
        {PMRemoteButtonPlayHold, true, {{PMRemoteButtonPlayHold, true}, {PMRemoteButtonPlayHold, false}}},
        // Menu held reports its release only: its press comes first.
        {PMRemoteButtonMenuHold, false, {{PMRemoteButtonMenuHold, true}, {PMRemoteButtonMenuHold, false}}},
        // The others report both halves themselves: they pass as they are.
        {PMRemoteButtonPlus, true, {{PMRemoteButtonPlus, true}}},
        {PMRemoteButtonMinus, false, {{PMRemoteButtonMinus, false}}},
        {PMRemoteButtonRightHold, true, {{PMRemoteButtonRightHold, true}}},
        {PMRemoteButtonRightHold, false, {{PMRemoteButtonRightHold, false}}},
        {PMRemoteButtonLeftHold, true, {{PMRemoteButtonLeftHold, true}}},
        {PMRemoteButtonLeftHold, false, {{PMRemoteButtonLeftHold, false}}},
    };
    for (const Case& k : cases) {
        r.events.clear();
        remote.sendRemoteButtonEvent(k.code, k.pressedDown);
        EXPECT_EQ(r.events, k.expected) << k.code << (k.pressedDown ? " pressed" : " released");
    }
}

TEST(RemoteInterfaceTest, ListLayout)
{
    const PMRemoteInterfaceMetrics m = PMRemoteInterfaceMetricsForLineHeight(76);
    EXPECT_EQ(m.lineHeight, 76);
    EXPECT_EQ(m.spacing, 20);
    EXPECT_EQ(m.margin, 30);
    EXPECT_EQ(m.textOffset, 5);
    EXPECT_EQ(m.cornerRadius, 20);
    EXPECT_EQ(m.fontSize, 50);
    EXPECT_EQ(PMRemoteInterfaceMetricsForLineHeight(77).lineHeight, 76) << "always even";

    const QRectF area(50, 50, 1500, 900);
    qint64 lines = 0;
    // Three items: 2k lines, height 2k × U + 4p, centred.
    QRectF f = PMRemoteInterfaceWindow::frameForArea(area, {100, 300, 200}, 150, 120, 20, &lines);
    EXPECT_EQ(lines, 6);
    EXPECT_EQ(f.height(), 6 * 76 + 80);
    EXPECT_EQ(f.width(), 20 + 90 + 300);
    EXPECT_EQ(f.x(), 50 + std::floor((1500 - f.width()) / 2));
    // More items than fit: k shrinks until the height fits.
    QList<double> many(40, 100.0);
    f = PMRemoteInterfaceWindow::frameForArea(area, many, 150, 120, 20, &lines);
    EXPECT_EQ(lines, 10);
    EXPECT_LE(f.height(), area.height());
    // No items: one line pair, as wide as "Empty" or the title; a name wider than the area
    // is cut to the area.
    f = PMRemoteInterfaceWindow::frameForArea(area, {}, 150, 120, 20, &lines);
    EXPECT_EQ(lines, 2);
    EXPECT_EQ(f.width(), 210);
    f = PMRemoteInterfaceWindow::frameForArea(area, {5000}, 150, 120, 20, &lines);
    EXPECT_EQ(f.width(), 1500);
}

namespace {

class RemoteDispatchTest : public ModelTest {
protected:
    void SetUp() override
    {
        ModelTest::SetUp();
        testsupport::preparePlaybackController();
        const auto playable = [](const QString& name) {
            auto m = PMMovieRepresentationOriginal::movieRepresentationWithPath(testsupport::media::fixtures().numbered());
            m->userSettings()->setValue(QStringLiteral("Name"), name);
            return m;
        };
        m_a = playable(QStringLiteral("A"));
        m_b = playable(QStringLiteral("B"));
        m_c = playable(QStringLiteral("C"));
        m_inner = folder(QStringLiteral("Inner"), {});
        m_group = folder(QStringLiteral("Group"), {Value(m_a), Value(m_b), Value(m_c), Value(m_inner)});
        library({Value(m_group)});
    }
    void TearDown() override
    {
        PMRemoteInterfaceWindow::remoteInterfaceWindow()->close();
        testsupport::releasePlaybackController();
        ModelTest::TearDown();
    }
    PMMovieRepresentationOriginalPtr m_a, m_b, m_c;
    PMLibraryContainerPtr m_group, m_inner;
};

} // namespace

TEST_F(RemoteDispatchTest, TheListIsWalkedWithTheButtons)
{
    PMMainController& c = mainController();
    // Menu shows the list; walked into the group, it lists the group's items.
    c.remoteButton(PMRemoteButtonMenu, true, 1);
    PMRemoteInterfaceWindow* w = PMRemoteInterfaceWindow::remoteInterfaceWindow();
    ASSERT_TRUE(PMRemoteInterfaceWindow::isVisible());
    w->setDisplayedItems(c.remoteInterfaceItems(nullptr, Value(m_group)), Value(m_group), Value());
    EXPECT_EQ(w->parentTitle(), QStringLiteral("Group"));
    ASSERT_EQ(w->displayedItems()->count(), 4);
    EXPECT_EQ(w->selectedItem().objectPointer(), Value(m_a).objectPointer());

    // Plus at the first item does not move; minus moves down and repeats while held.
    c.remoteButton(PMRemoteButtonPlus, true, 1);
    c.remoteButton(PMRemoteButtonPlus, false, 1);
    EXPECT_EQ(w->currentIndex(), 0);
    c.remoteButton(PMRemoteButtonMinus, true, 1);
    EXPECT_EQ(w->currentIndex(), 1);
    EXPECT_TRUE(waitUntil([&] { return w->currentIndex() == 3; }, 3000)) << "held, it repeats every 0.1 s";
    c.remoteButton(PMRemoteButtonMinus, false, 1);
    EXPECT_FALSE(platform::hasPendingPerformRequest(&c, QStringLiteral("remoteInterfaceMinus"), Value()));
    // Inverted, minus moves up.
    platform::UserDefaults::standard().setBool(true, QStringLiteral("Invert Remote Control Interface"));
    c.remoteButton(PMRemoteButtonMinus, true, 1);
    c.remoteButton(PMRemoteButtonMinus, false, 1);
    EXPECT_EQ(w->currentIndex(), 2);
    platform::UserDefaults::standard().setBool(false, QStringLiteral("Invert Remote Control Interface"));

    // Into the empty folder: its title and "Empty"; left goes back with it selected.
    c.remoteButton(PMRemoteButtonMinus, true, 1);
    c.remoteButton(PMRemoteButtonMinus, false, 1);
    c.remoteButton(PMRemoteButtonPlay, true, 1);
    EXPECT_EQ(w->parentTitle(), QStringLiteral("Inner"));
    EXPECT_TRUE(w->displayedItems()->isEmpty());
    EXPECT_TRUE(w->selectedItem().isNull());
    const int beeps = platform::beepCount();
    c.remoteButton(PMRemoteButtonPlay, true, 1);
    EXPECT_EQ(platform::beepCount(), beeps + 1) << "nothing to enter";
    c.remoteButton(PMRemoteButtonLeft, true, 1);
    c.remoteButton(PMRemoteButtonLeft, false, 1);
    EXPECT_EQ(w->parentTitle(), QStringLiteral("Group"));
    EXPECT_EQ(w->selectedItem().objectPointer(), Value(m_inner).objectPointer());
    // Right held and left held do not walk the playlist while the list shows; menu at the
    // top level closes it.
    c.remoteButton(PMRemoteButtonRightHold, true, 1);
    EXPECT_TRUE(c._currentMovieRepresentation.isNull());
    for (int i = 0; i < 5 && PMRemoteInterfaceWindow::isVisible(); ++i)
        c.remoteButton(PMRemoteButtonMenu, true, 1);
    EXPECT_TRUE(waitUntil([] { return !PMRemoteInterfaceWindow::isVisible(); }, 3000));
}

TEST_F(RemoteDispatchTest, ButtonsDrivePlaybackWithoutTheList)
{
    PMMainController& c = mainController();
    c.volumeSlider.value = 0.5;
    c.remoteButton(PMRemoteButtonPlus, true, 1);
    c.remoteButton(PMRemoteButtonPlus, false, 1);
    EXPECT_GT(c.volumeSlider.value, 0.5) << "plus raises the volume";
    const double raised = c.volumeSlider.value;
    c.remoteButton(PMRemoteButtonMinus, true, 1);
    c.remoteButton(PMRemoteButtonMinus, false, 1);
    EXPECT_LT(c.volumeSlider.value, raised);
    // Play held asks for presentation: without a movie nothing presents.
    c.remoteButton(PMRemoteButtonPlayHold, true, 1);
    EXPECT_FALSE(c._isPresenting);
    // Codes that are not buttons do nothing.
    c.remoteButton(PMRemoteControlSwitched, true, 1);
    c.remoteButton(128, true, 1);
    EXPECT_FALSE(PMRemoteInterfaceWindow::isVisible());
}

TEST_F(RemoteDispatchTest, NothingOutlivesTheListOrTheButtonThatStartedIt)
{
    PMMainController& c = mainController();
    // A held plus repeats until its release; once listening stops no release can come, so
    // the repeat ends there.
    c.setListeningToRemoteControl(true);
    c.remoteButton(PMRemoteButtonPlus, true, 1);
    EXPECT_TRUE(platform::hasPendingPerformRequest(&c, QStringLiteral("remoteInterfacePlus"), Value()));
    c.applicationDidResignActive();
    EXPECT_FALSE(platform::hasPendingPerformRequest(&c, QStringLiteral("remoteInterfacePlus"), Value()));

    // Whatever closes the list, the pointer it hid comes back, and open chapter menus close
    // with it on an update or when the program resigns.
    const struct {
        const char* closer;
        std::function<void()> close;
    } closers[] = {
        {"a library update", [&] { c.updateLibrary(); }},
        {"resigning", [&] { c.applicationDidResignActive(); }},
        {"menu held", [&] { c.remoteButton(PMRemoteButtonMenuHold, true, 1); }},
        {"the toggle", [&] { c.toggleRemoteControlInterface(nullptr); }},
    };
    for (const auto& closer : closers) {
        c.remoteButton(PMRemoteButtonMenu, true, 1);
        ASSERT_TRUE(PMRemoteInterfaceWindow::isVisible()) << closer.closer;
        EXPECT_TRUE(platform::isCursorHiddenUntilMouseMoves()) << closer.closer;
        auto* chapters = new QMenu;
        chapters->setAttribute(Qt::WA_DeleteOnClose);
        chapters->addAction(QStringLiteral("Chapter 1"));
        chapters->popup(QPoint(10, 10));
        ASSERT_TRUE(waitUntil([&] { return chapters->isVisible(); })) << closer.closer;
        c._chaptersButtonMenu = chapters;
        const bool closesMenus = std::string_view(closer.closer) == "a library update" || std::string_view(closer.closer) == "resigning";
        closer.close();
        EXPECT_TRUE(waitUntil([] { return !PMRemoteInterfaceWindow::isVisible(); }, 3000)) << closer.closer;
        EXPECT_FALSE(platform::isCursorHiddenUntilMouseMoves()) << closer.closer;
        EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr) << closer.closer;
        if (closesMenus) {
            EXPECT_TRUE(waitUntil([&] { return !c._chaptersButtonMenu; })) << closer.closer;
        }
        if (c._chaptersButtonMenu)
            c._chaptersButtonMenu->close();
        ASSERT_TRUE(waitUntil([&] { return !c._chaptersButtonMenu; }));
    }
}

TEST(EvdevRemoteTest, AMediaKeyDeviceDrivesTheButtons)
{
#ifndef PELLIS_HAVE_LIBEVDEV
    GTEST_SKIP() << "built without libevdev";
#else
    libevdev* dev = libevdev_new();
    libevdev_set_name(dev, "Pellis test remote");
    libevdev_enable_event_type(dev, EV_KEY);
    for (unsigned key : {KEY_VOLUMEUP, KEY_PLAYPAUSE, KEY_MENU, KEY_NEXTSONG})
        libevdev_enable_event_code(dev, EV_KEY, key, nullptr);
    libevdev_uinput* uinput = nullptr;
    const int rc = libevdev_uinput_create_from_device(dev, LIBEVDEV_UINPUT_OPEN_MANAGED, &uinput);
    if (rc < 0) {
        libevdev_free(dev);
        GTEST_SKIP() << "cannot create an input device here (no access to /dev/uinput)";
    }
    const QString node = QString::fromLocal8Bit(libevdev_uinput_get_devnode(uinput));
    Recorder r;
    PMEvdevRemoteControl remote(&r, {node});
    waitUntil([&] { remote.startListening(nullptr); return remote.isListeningToRemote(); }, 3000);
    if (!remote.isListeningToRemote()) {
        libevdev_uinput_destroy(uinput);
        libevdev_free(dev);
        GTEST_SKIP() << "the device cannot be opened (no permission)";
    }
    const auto key = [&](unsigned code, int value) {
        libevdev_uinput_write_event(uinput, EV_KEY, code, value);
        libevdev_uinput_write_event(uinput, EV_SYN, SYN_REPORT, 0);
    };
    key(KEY_VOLUMEUP, 1);
    key(KEY_VOLUMEUP, 0);
    key(KEY_PLAYPAUSE, 1);
    key(KEY_PLAYPAUSE, 0);
    key(KEY_MENU, 1);
    key(KEY_MENU, 2);
    key(KEY_MENU, 2);
    key(KEY_MENU, 0);
    const Events expected{{2, true}, {2, false}, {16, true}, {16, false}, {512, true}, {512, false}};
    EXPECT_TRUE(waitUntil([&] { return r.events.size() >= expected.size(); }, 5000));
    EXPECT_EQ(r.events, expected);
    remote.stopListening(nullptr);
    EXPECT_FALSE(remote.isListeningToRemote());
    libevdev_uinput_destroy(uinput);
    libevdev_free(dev);
#endif
}

#ifdef PELLIS_HAVE_LIBEVDEV
namespace {

// An input device made for the test (through /dev/uinput), or none where that cannot be.
struct TestInputDevice {
    libevdev* dev = nullptr;
    libevdev_uinput* uinput = nullptr;
    QString node;
    explicit TestInputDevice(std::initializer_list<unsigned> keys)
    {
        dev = libevdev_new();
        libevdev_set_name(dev, "Pellis test remote");
        libevdev_enable_event_type(dev, EV_KEY);
        for (unsigned key : keys)
            libevdev_enable_event_code(dev, EV_KEY, key, nullptr);
        if (libevdev_uinput_create_from_device(dev, LIBEVDEV_UINPUT_OPEN_MANAGED, &uinput) < 0)
            uinput = nullptr;
        else
            node = QString::fromLocal8Bit(libevdev_uinput_get_devnode(uinput));
    }
    ~TestInputDevice()
    {
        unplug();
        libevdev_free(dev);
    }
    void unplug()
    {
        if (uinput)
            libevdev_uinput_destroy(uinput);
        uinput = nullptr;
    }
    void key(unsigned code, int value)
    {
        libevdev_uinput_write_event(uinput, EV_KEY, code, value);
        libevdev_uinput_write_event(uinput, EV_SYN, SYN_REPORT, 0);
    }
};

} // namespace
#endif

TEST(EvdevRemoteTest, AnUnpluggedDeviceIsLetGoWithItsHeldButtonReleased)
{
#ifndef PELLIS_HAVE_LIBEVDEV
    GTEST_SKIP() << "built without libevdev";
#else
    TestInputDevice device({KEY_VOLUMEUP, KEY_PLAYPAUSE});
    if (!device.uinput)
        GTEST_SKIP() << "cannot create an input device here (no access to /dev/uinput)";
    Recorder r;
    PMEvdevRemoteControl remote(&r, {device.node});
    waitUntil([&] { remote.startListening(nullptr); return remote.isListeningToRemote(); }, 3000);
    if (!remote.isListeningToRemote())
        GTEST_SKIP() << "the device cannot be opened (no permission)";
    device.key(KEY_VOLUMEUP, 1);
    ASSERT_TRUE(waitUntil([&] { return r.events == Events{{2, true}}; }));
    // Pulled out while plus is held: the device is let go (no notifier left to spin) and
    // the release that will never come is sent.
    device.unplug();
    EXPECT_TRUE(waitUntil([&] { return !remote.isListeningToRemote(); }));
    EXPECT_EQ(r.events, (Events{{2, true}, {2, false}}));
#endif
}

TEST(EvdevRemoteTest, OnlyADeviceOfButtonsAloneIsTakenForTheProgram)
{
#ifndef PELLIS_HAVE_LIBEVDEV
    GTEST_SKIP() << "built without libevdev";
#else
    const struct {
        const char* device;
        std::initializer_list<unsigned> keys;
        bool taken;
    } cases[] = {
        {"a remote", {KEY_VOLUMEUP, KEY_VOLUMEDOWN, KEY_PLAYPAUSE, KEY_MENU}, true},
        {"a keyboard's media keys", {KEY_VOLUMEUP, KEY_VOLUMEDOWN, KEY_PLAYPAUSE, KEY_MUTE, KEY_BRIGHTNESSUP, KEY_CALC}, false},
    };
    for (const auto& testCase : cases) {
        TestInputDevice device(testCase.keys);
        if (!device.uinput)
            GTEST_SKIP() << "cannot create an input device here (no access to /dev/uinput)";
        Recorder r;
        PMEvdevRemoteControl remote(&r, {device.node});
        remote.setOpenInExclusiveMode(true);
        waitUntil([&] { remote.startListening(nullptr); return remote.isListeningToRemote(); }, 3000);
        if (!remote.isListeningToRemote())
            GTEST_SKIP() << "the device cannot be opened (no permission)";
        // Another program's grab fails while the device is taken.
        const int fd = ::open(device.node.toLocal8Bit().constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        libevdev* other = nullptr;
        ASSERT_EQ(libevdev_new_from_fd(fd, &other), 0);
        const bool grabbedByOther = libevdev_grab(other, LIBEVDEV_GRAB) == 0;
        EXPECT_EQ(!grabbedByOther, testCase.taken) << testCase.device;
        if (grabbedByOther)
            libevdev_grab(other, LIBEVDEV_UNGRAB);
        libevdev_free(other);
        ::close(fd);
        remote.stopListening(nullptr);
    }
#endif
}
