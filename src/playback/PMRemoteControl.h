// The remote control: button codes, the device stack that turns an IR receiver's reports
// (cookie strings) into button events, and the filter between the device and the
// controller. On Linux the buttons come from the kernel's input devices (an IR receiver or
// media keys, through libevdev); where none can be opened a null source stands in.
#pragma once

#include <QtCore/QObject>
#include <QtCore/QString>

#include <functional>
#include <memory>
#include <utility>
#include <vector>

enum PMRemoteButton : int {
    PMRemoteButtonPlus = 2,
    PMRemoteButtonMinus = 4,
    PMRemoteButtonMenu = 8,
    PMRemoteButtonPlay = 16,
    PMRemoteButtonRight = 32,
    PMRemoteButtonLeft = 64,
    PMRemoteButtonPlusHold = 128,
    PMRemoteButtonMinusHold = 256,
    PMRemoteButtonMenuHold = 512,
    PMRemoteButtonPlayHold = 1024,
    PMRemoteButtonRightHold = 2048,
    PMRemoteButtonLeftHold = 4096,
    PMRemoteControlSwitched = 8192,
};

class RemoteControl;

// Who receives the device's events (the filter).
class RemoteControlDelegate {
public:
    virtual ~RemoteControlDelegate() = default;
    virtual void sendRemoteButtonEvent(int code, bool pressedDown, RemoteControl* remoteControl) = 0;
};

class RemoteControl {
public:
    explicit RemoteControl(RemoteControlDelegate* delegate) : m_delegate(delegate) {}
    virtual ~RemoteControl() = default;
    static std::unique_ptr<RemoteControl> initWithDelegate(RemoteControlDelegate* delegate);
    void setDelegate(RemoteControlDelegate* delegate) { m_delegate = delegate; }
    RemoteControlDelegate* delegate() const { return m_delegate; }
    virtual void startListening(QObject* sender) {}
    virtual void stopListening(QObject* sender) {}
    virtual bool isListeningToRemote() const { return false; }
    void setListeningToRemote(bool listening)
    {
        if (listening)
            startListening(nullptr);
        else
            stopListening(nullptr);
    }
    virtual bool isOpenInExclusiveMode() const { return true; }
    virtual void setOpenInExclusiveMode(bool) {}
    virtual bool sendsEventForButtonIdentifier(int code) const { return true; }
    static QString remoteControlDeviceName() { return {}; }

protected:
    RemoteControlDelegate* m_delegate = nullptr;
};

// Cookie strings of one report ("33_22_21_20_2_...") → button codes, in a fixed order (the
// first key that matches wins, whatever a dictionary would have answered).
using PMCookieTable = std::vector<std::pair<QString, int>>;
// The three tables of the receiver: 0 the oldest systems, 1 the middle ones (or an
// emulating receiver), 2 every current one.
const PMCookieTable& PMRemoteCookieTable(int which);

class HIDRemoteControlDevice : public RemoteControl {
public:
    explicit HIDRemoteControlDevice(RemoteControlDelegate* delegate, PMCookieTable mapping);
    const PMCookieTable& cookieToButtonMapping() const { return m_cookieToButtonMapping; }
    // The mapping key that starts the string, or nothing.
    QString validCookieSubstring(const QString& cookieString) const;
    // One report: a whole key presses (sum > 0) or releases; a key inside it clicks once;
    // else a backlog of several reports, of which only the last counts (released) unless
    // the backlog is processed.
    void handleEventWithCookieString(const QString& cookieString, long sumOfValues);
    virtual void sendRemoteButtonEvent(int code, bool pressedDown);
    bool sendsEventForButtonIdentifier(int code) const override { return (code & m_supportedButtonEvents) == code; }
    bool isOpenInExclusiveMode() const override { return m_openInExclusiveMode; }
    void setOpenInExclusiveMode(bool exclusive) override { m_openInExclusiveMode = exclusive; }
    bool processesBacklog() const { return m_processesBacklog; }
    void setProcessesBacklog(bool processes) { m_processesBacklog = processes; }

protected:
    PMCookieTable m_cookieToButtonMapping;
    bool m_openInExclusiveMode = true;
    bool m_processesBacklog = false;
    int m_supportedButtonEvents = 0;
};

// The IR receiver: its table, and the press or release that it never reports itself.
class AppleRemote : public HIDRemoteControlDevice {
public:
    explicit AppleRemote(RemoteControlDelegate* delegate, int table = 2);
    void sendRemoteButtonEvent(int code, bool pressedDown) override;
    static QString remoteControlDeviceName() { return QStringLiteral("AppleIRController"); }
};

// Between the device and the controller. Click counting and hold simulation are never
// turned on in this program, so every event passes unchanged with click count 1.
class MultiClickRemoteBehavior : public RemoteControlDelegate {
public:
    using Handler = std::function<void(int code, bool pressedDown, unsigned clickCount)>;
    void setDelegate(Handler handler) { m_delegate = std::move(handler); }
    void sendRemoteButtonEvent(int code, bool pressedDown, RemoteControl* remoteControl) override;
    bool clickCountingEnabled() const { return m_clickCountEnabledButtons != 0; }
    void setClickCountingEnabled(bool enabled) { m_clickCountEnabledButtons = enabled ? 126 : 0; }

private:
    Handler m_delegate;
    int m_clickCountEnabledButtons = 0;
};

// The buttons of the kernel's input devices: media keys and IR receivers whose keys map to
// the remote's buttons; a key held past the keyboard's repeat delay is the button held
// (menu, play, right, left). While listening in exclusive mode a device whose keys are
// all buttons is taken for the program alone (EVIOCGRAB); one with other keys is shared.
// A device that fails (unplugged) is let go until listening starts again. Without a
// device that can be opened it stays closed and says so once in the log.
class PMEvdevRemoteControl : public QObject, public RemoteControl {
    Q_OBJECT
public:
    explicit PMEvdevRemoteControl(RemoteControlDelegate* delegate, QStringList devicePaths = {});
    ~PMEvdevRemoteControl() override;
    void startListening(QObject* sender) override;
    void stopListening(QObject* sender) override;
    bool isListeningToRemote() const override;
    bool isOpenInExclusiveMode() const override { return m_exclusive; }
    void setOpenInExclusiveMode(bool exclusive) override { m_exclusive = exclusive; }
    // The button of a Linux key code (0 for a key that is no button).
    static int buttonForKey(int key);

private:
    struct Device;
    void readEvents(Device* device);
    // Lets go of a device that answers with an error (unplugged), sending the releases
    // of the buttons held on it.
    void dropDevice(Device* device);
    static void closeDevice(Device& device);
    std::vector<std::unique_ptr<Device>> m_devices;
    QStringList m_devicePaths;
    bool m_exclusive = true;
    bool m_loggedNoDevice = false;
};
