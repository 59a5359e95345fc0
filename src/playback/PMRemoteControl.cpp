#include "playback/PMRemoteControl.h"

#include "foundation/PMLog.h"

#include <algorithm>

#include <QtCore/QDir>
#include <QtCore/QList>
#include <QtCore/QSocketNotifier>

#ifdef PELLIS_HAVE_LIBEVDEV
#include <cstring>
#include <fcntl.h>
#include <libevdev/libevdev.h>
#include <unistd.h>
#endif

namespace {

PMCookieTable makeTable(std::initializer_list<std::pair<const char*, int>> rows)
{
    PMCookieTable table;
    for (const auto& [key, code] : rows)
        table.emplace_back(QString::fromLatin1(key), code);
    return table;
}

} // namespace

const PMCookieTable& PMRemoteCookieTable(int which)
{
    static const PMCookieTable first = makeTable({
        {"14_12_11_6_", 2}, {"14_13_11_6_", 4}, {"14_7_6_14_7_6_", 8}, {"14_8_6_14_8_6_", 16}, {"14_9_6_14_9_6_", 32},
        {"14_10_6_14_10_6_", 64}, {"14_6_14_6_", 512}, {"18_14_6_18_14_6_", 1024}, {"14_6_4_2_", 2048}, {"14_6_3_2_", 4096}, {"19_", 8192},
    });
    static const PMCookieTable second = makeTable({
        {"31_29_28_19_18_", 2}, {"31_30_28_19_18_", 4}, {"31_20_19_18_31_20_19_18_", 8}, {"31_21_19_18_31_21_19_18_", 16},
        {"31_22_19_18_31_22_19_18_", 32}, {"31_23_19_18_31_23_19_18_", 64}, {"31_19_18_31_19_18_", 512},
        {"35_31_19_18_35_31_19_18_", 1024}, {"31_19_18_4_2_", 2048}, {"31_19_18_3_2_", 4096}, {"19_", 8192},
    });
    static const PMCookieTable third = makeTable({
        {"33_31_30_21_20_2_", 2}, {"33_32_30_21_20_2_", 4}, {"33_22_21_20_2_33_22_21_20_2_", 8},
        {"33_23_21_20_2_33_23_21_20_2_", 16}, {"33_21_20_8_2_33_21_20_8_2_", 16}, {"33_21_20_3_2_33_21_20_3_2_", 16},
        {"33_24_21_20_2_33_24_21_20_2_", 32}, {"33_25_21_20_2_33_25_21_20_2_", 64}, {"33_21_20_2_33_21_20_2_", 512},
        {"37_33_21_20_2_37_33_21_20_2_", 1024}, {"33_21_20_11_2_33_21_20_11_2_", 1024}, {"33_21_20_14_12_2_", 2048},
        {"33_21_20_13_12_2_", 4096}, {"19_", 8192},
    });
    return which <= 0 ? first : which == 1 ? second : third;
}

std::unique_ptr<RemoteControl> RemoteControl::initWithDelegate(RemoteControlDelegate* delegate)
{
    return std::make_unique<RemoteControl>(delegate);
}

// ---------------------------------------------------------------------------

HIDRemoteControlDevice::HIDRemoteControlDevice(RemoteControlDelegate* delegate, PMCookieTable mapping)
    : RemoteControl(delegate), m_cookieToButtonMapping(std::move(mapping))
{
    for (const auto& [key, code] : m_cookieToButtonMapping)
        m_supportedButtonEvents |= code;
}

QString HIDRemoteControlDevice::validCookieSubstring(const QString& cookieString) const
{
    for (const auto& [key, code] : m_cookieToButtonMapping)
        if (cookieString.startsWith(key))
            return key;
    return {};
}

void HIDRemoteControlDevice::handleEventWithCookieString(const QString& cookieString, long sumOfValues)
{
    if (cookieString.isEmpty())
        return;
    for (const auto& [key, code] : m_cookieToButtonMapping) {
        if (key == cookieString) {
            sendRemoteButtonEvent(code, sumOfValues > 0);
            return;
        }
    }
    // A report of one button inside other data: one click of it.
    for (const auto& [key, code] : m_cookieToButtonMapping) {
        if (cookieString.indexOf(key, 1) > 0) {
            sendRemoteButtonEvent(code, true);
            sendRemoteButtonEvent(code, false);
            return;
        }
    }
    // A backlog of several reports.
    QString rest = cookieString;
    QString last;
    for (QString key = validCookieSubstring(rest); !key.isEmpty(); key = validCookieSubstring(rest)) {
        rest = rest.mid(key.size());
        last = key;
        if (m_processesBacklog)
            handleEventWithCookieString(key, sumOfValues);
    }
    if (!m_processesBacklog && !last.isEmpty())
        handleEventWithCookieString(last, 0);
    if (!rest.isEmpty())
        PMLog("Unknown button for cookiestring %@ from remote %@ with mapping: %@", rest, QStringLiteral("AppleRemote"),
              QString::number(m_cookieToButtonMapping.size()) + QStringLiteral(" keys"));
}

void HIDRemoteControlDevice::sendRemoteButtonEvent(int code, bool pressedDown)
{
    if (m_delegate)
        m_delegate->sendRemoteButtonEvent(code, pressedDown, this);
}

// ---------------------------------------------------------------------------

AppleRemote::AppleRemote(RemoteControlDelegate* delegate, int table) : HIDRemoteControlDevice(delegate, PMRemoteCookieTable(table)) {}

void AppleRemote::sendRemoteButtonEvent(int code, bool pressedDown)
{
    // The receiver reports only the release of menu held, and only the press of the
    // buttons that click.
    if (code == PMRemoteButtonMenuHold && !pressedDown)
        HIDRemoteControlDevice::sendRemoteButtonEvent(code, true);
    HIDRemoteControlDevice::sendRemoteButtonEvent(code, pressedDown);
    if (pressedDown
        && (code == PMRemoteButtonMenu || code == PMRemoteButtonPlay || code == PMRemoteButtonRight || code == PMRemoteButtonLeft
            || code == PMRemoteButtonPlayHold))
        HIDRemoteControlDevice::sendRemoteButtonEvent(code, false);
}

// ---------------------------------------------------------------------------

void MultiClickRemoteBehavior::sendRemoteButtonEvent(int code, bool pressedDown, RemoteControl*)
{
    if (m_delegate)
        m_delegate(code, pressedDown, 1);
}

// ---------------------------------------------------------------------------
// Input devices

#ifdef PELLIS_HAVE_LIBEVDEV
namespace {

// Whether every key the device has is one of the remote's buttons.
bool onlyButtonKeys(const libevdev* dev)
{
    for (int key = 0; key <= KEY_MAX; ++key)
        if (libevdev_has_event_code(dev, EV_KEY, unsigned(key)) && PMEvdevRemoteControl::buttonForKey(key) == 0)
            return false;
    return true;
}

} // namespace
#endif

struct PMEvdevRemoteControl::Device {
    int fd = -1;
#ifdef PELLIS_HAVE_LIBEVDEV
    libevdev* dev = nullptr;
#endif
    QSocketNotifier* notifier = nullptr;
    // A button that clicks (menu, play, right, left) waits for its release or its repeat.
    int pendingKey = 0;
    bool sentHold = false;
    // Plus and minus while held down: their release is owed when the device goes.
    QList<int> heldButtons;
};

int PMEvdevRemoteControl::buttonForKey(int key)
{
#ifdef PELLIS_HAVE_LIBEVDEV
    switch (key) {
    case KEY_VOLUMEUP:
    case KEY_UP:
        return PMRemoteButtonPlus;
    case KEY_VOLUMEDOWN:
    case KEY_DOWN:
        return PMRemoteButtonMinus;
    case KEY_MENU:
    case KEY_BACK:
        return PMRemoteButtonMenu;
    case KEY_PLAYPAUSE:
    case KEY_PLAY:
    case KEY_PAUSE:
    case KEY_OK:
    case KEY_SELECT:
        return PMRemoteButtonPlay;
    case KEY_NEXTSONG:
    case KEY_FASTFORWARD:
    case KEY_RIGHT:
        return PMRemoteButtonRight;
    case KEY_PREVIOUSSONG:
    case KEY_REWIND:
    case KEY_LEFT:
        return PMRemoteButtonLeft;
    default:
        return 0;
    }
#else
    Q_UNUSED(key);
    return 0;
#endif
}

PMEvdevRemoteControl::PMEvdevRemoteControl(RemoteControlDelegate* delegate, QStringList devicePaths)
    : RemoteControl(delegate), m_devicePaths(std::move(devicePaths))
{
}

PMEvdevRemoteControl::~PMEvdevRemoteControl()
{
    stopListening(nullptr);
}

bool PMEvdevRemoteControl::isListeningToRemote() const
{
    return !m_devices.empty();
}

void PMEvdevRemoteControl::startListening(QObject*)
{
    if (isListeningToRemote())
        return;
#ifdef PELLIS_HAVE_LIBEVDEV
    QStringList paths = m_devicePaths;
    if (paths.isEmpty())
        for (const QString& name : QDir(QStringLiteral("/dev/input")).entryList({QStringLiteral("event*")}, QDir::System))
            paths << QStringLiteral("/dev/input/") + name;
    for (const QString& path : paths) {
        const int fd = ::open(path.toLocal8Bit().constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            continue;
        libevdev* dev = nullptr;
        if (libevdev_new_from_fd(fd, &dev) < 0) {
            ::close(fd);
            continue;
        }
        // A keyboard for typing is never taken: only remotes and media-key devices.
        bool hasButton = false;
        for (int key = 0; key < KEY_MAX && !hasButton; ++key)
            hasButton = buttonForKey(key) != 0 && libevdev_has_event_code(dev, EV_KEY, unsigned(key));
        if (!hasButton || libevdev_has_event_code(dev, EV_KEY, KEY_A)) {
            libevdev_free(dev);
            ::close(fd);
            continue;
        }
        // Taken for the program alone only when every key of it is a button here: the
        // media keys of a keyboard also carry mute, brightness, calculator and more,
        // which the desktop must keep.
        if (m_exclusive && onlyButtonKeys(dev) && libevdev_grab(dev, LIBEVDEV_GRAB) < 0)
            PMLog("the remote control %@ is shared with other programs", path);
        auto device = std::make_unique<Device>();
        device->fd = fd;
        device->dev = dev;
        device->notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
        Device* opened = device.get();
        connect(device->notifier, &QSocketNotifier::activated, this, [this, opened] { readEvents(opened); });
        m_devices.push_back(std::move(device));
    }
#endif
    // Most machines have no remote: nothing to report unless diagnostics are wanted.
    if (m_devices.empty() && !m_loggedNoDevice) {
        m_loggedNoDevice = true;
        if (PMDebugLogEnabled())
            PMLog("[Debug] no remote control: no input device with media keys can be opened");
    }
}

void PMEvdevRemoteControl::closeDevice(Device& device)
{
    delete device.notifier;
    device.notifier = nullptr;
#ifdef PELLIS_HAVE_LIBEVDEV
    if (device.dev) {
        libevdev_grab(device.dev, LIBEVDEV_UNGRAB);
        libevdev_free(device.dev);
        device.dev = nullptr;
    }
    if (device.fd >= 0)
        ::close(device.fd);
#endif
    device.fd = -1;
}

void PMEvdevRemoteControl::stopListening(QObject*)
{
    for (auto& device : m_devices)
        closeDevice(*device);
    m_devices.clear();
}

void PMEvdevRemoteControl::dropDevice(Device* device)
{
    const auto it = std::find_if(m_devices.begin(), m_devices.end(), [device](const auto& d) { return d.get() == device; });
    if (it == m_devices.end())
        return;
    // Taken out first: the releases below may reach code that stops listening.
    std::unique_ptr<Device> gone = std::move(*it);
    m_devices.erase(it);
    const QList<int> held = gone->heldButtons;
    closeDevice(*gone);
    // The releases of buttons held on it never come: they are sent now, so that nothing
    // repeats for ever.
    for (const int code : held)
        if (m_delegate)
            m_delegate->sendRemoteButtonEvent(code, false, this);
}

void PMEvdevRemoteControl::readEvents(Device* device)
{
#ifdef PELLIS_HAVE_LIBEVDEV
    if (std::none_of(m_devices.begin(), m_devices.end(), [device](const auto& d) { return d.get() == device; }))
        return;
    Device& d = *device;
    input_event ev;
    int rc;
    while ((rc = libevdev_next_event(d.dev, LIBEVDEV_READ_FLAG_NORMAL, &ev)) >= 0 || rc == -EAGAIN) {
        if (rc == -EAGAIN)
            break;
        if (rc == LIBEVDEV_READ_STATUS_SYNC)
            continue;
        if (ev.type != EV_KEY)
            continue;
        const int code = buttonForKey(ev.code);
        if (!code || !m_delegate)
            continue;
        const bool clicks = code != PMRemoteButtonPlus && code != PMRemoteButtonMinus;
        if (!clicks) {
            // Plus and minus repeat in the controller while held.
            if (ev.value != 2) {
                d.heldButtons.removeAll(code);
                if (ev.value == 1)
                    d.heldButtons.append(code);
                m_delegate->sendRemoteButtonEvent(code, ev.value == 1, this);
                // The delegate may have stopped listening: the device is gone then.
                if (std::none_of(m_devices.begin(), m_devices.end(), [device](const auto& x) { return x.get() == device; }))
                    return;
            }
            continue;
        }
        if (ev.value == 1) {
            d.pendingKey = ev.code;
            d.sentHold = false;
        } else if (ev.value == 2 && d.pendingKey == ev.code && !d.sentHold) {
            d.sentHold = true;
            m_delegate->sendRemoteButtonEvent(code << 6, true, this);
        } else if (ev.value == 0 && d.pendingKey == ev.code) {
            d.pendingKey = 0;
            if (d.sentHold) {
                m_delegate->sendRemoteButtonEvent(code << 6, false, this);
            } else {
                m_delegate->sendRemoteButtonEvent(code, true, this);
                m_delegate->sendRemoteButtonEvent(code, false, this);
            }
        }
        if (std::none_of(m_devices.begin(), m_devices.end(), [device](const auto& x) { return x.get() == device; }))
            return;
    }
    // Any other error (ENODEV: unplugged) would wake the notifier at once, again and
    // again: the device is let go.
    if (rc != -EAGAIN) {
        PMLog("cannot read the remote control (%@): it is looked for again when Pellis is next activated",
              QString::fromLocal8Bit(std::strerror(-rc)));
        dropDevice(device);
    }
#else
    Q_UNUSED(device);
#endif
}
