// Volumes: the mounted file systems the program treats as disks. A volume is present when
// it is mounted, never merely because its mount-point folder exists. The system volume is
// "/"; other volumes are the mounts directly below /media/$USER, /run/media/$USER and /mnt
// (where desktop systems and people mount removable and network disks), each named after
// its mount-point folder. The mount table is read from /proc/self/mountinfo, a path that
// tests replace with a file of their own.
#pragma once

#include <QtCore/QByteArray>
#include <QtCore/QObject>
#include <QtCore/QString>
#include <QtCore/QStringList>

#include <functional>
#include <memory>
#include <vector>

class QSocketNotifier;
class QTimer;

namespace platform {

class NotificationCenter;

// Posted by a watcher given a notification centre, with the mount point under
// kVolumeDevicePathKey in the user info.
inline constexpr char kVolumeDidMountNotification[] = "NSWorkspaceDidMountNotification";
inline constexpr char kVolumeDidUnmountNotification[] = "NSWorkspaceDidUnmountNotification";
inline constexpr char kVolumeDevicePathKey[] = "NSDevicePath";

// One line of the mount table.
struct MountEntry {
    int mountId = 0;
    int parentId = 0;
    unsigned deviceMajor = 0;
    unsigned deviceMinor = 0;
    QString root;         // the folder of the file system that is mounted here
    QString mountPoint;
    QString mountOptions;
    QString fileSystemType;
    QString source;       // "/dev/sdb1", "server:/export", ...
    QString superOptions;
};

// Parses mountinfo text. Malformed lines are skipped (and counted in `error`); the octal
// escapes the kernel writes for blanks, tabs, line feeds and backslashes are decoded.
std::vector<MountEntry> parseMountInfo(const QByteArray& text, QString* error = nullptr);
// Decodes one field: "\040" becomes a blank; anything not a three-digit octal escape stays.
QString unescapeMountInfoField(QByteArrayView field);

struct Volume {
    QString path;         // the mount point ("/" for the system volume)
    QString name;         // the mount point's folder name ("/" for the system volume)
    QString identity;     // stable across mounts: "UUID:<uuid>" where the disk has one
    QString fileSystemType;
    QString source;
    bool isSystemVolume = false;
};

// The folders whose direct subfolders are volumes: /media/<user>, /run/media/<user>, /mnt.
QStringList volumeParentFolders();
// The volume a path belongs to by its text alone: "<parent>/<name>" for a path inside one
// of the volume parent folders, otherwise "/". Nothing is asked of the file system.
QString volumeRootForPath(const QString& path);

// Where the mount table is read from; tests point these at fixtures.
void setMountInfoPath(const QString& path);  // empty restores /proc/self/mountinfo
void setDiskByUUIDPath(const QString& path); // empty restores /dev/disk/by-uuid

// Reads the mount table now; false (with `error`) when it cannot be read.
bool readMountTable(std::vector<MountEntry>* getEntries, QString* error = nullptr);
// The present volumes: the system volume first, then the others in mount-table order.
std::vector<Volume> mountedVolumes();
// Whether a volume is mounted at exactly this path ("/" always is).
bool isVolumeMounted(const QString& volumePath);
// The present volume mounted at the path.
bool getVolume(const QString& volumePath, Volume* getVolume);
// The present volume holding a path: the deepest mounted volume whose path contains it, or
// the system volume.
bool getVolumeForPath(const QString& path, Volume* getVolume);
// Whether the path lies on a volume (by its text) that is not mounted now. Nothing may be
// created there: it would land in the empty mount-point folder on the system volume.
bool isPathOnMissingVolume(const QString& path);
// Total and available bytes of the file system holding the path.
bool getVolumeSizes(const QString& path, qint64* getTotalBytes, qint64* getAvailableBytes);

// Reports volumes that appear and disappear, on the thread that created it (the main
// thread). Watches /proc/self/mountinfo for the kernel's change signal; a replaced mount
// table path (tests) or a kernel without the signal falls back to a poll every two seconds.
class VolumeWatcher : public QObject {
    Q_OBJECT
public:
    explicit VolumeWatcher(QObject* parent = nullptr);
    ~VolumeWatcher() override;
    // Begins watching from the volumes present now.
    void start();
    void stop();
    bool isWatching() const;
    // Reads the table again and reports the differences at once.
    void rescan();
    // Callbacks beside the signals, for code that is no QObject.
    void setCallbacks(std::function<void(const Volume&)> mounted, std::function<void(const Volume&)> unmounted);
    // Also posts kVolumeDidMountNotification and kVolumeDidUnmountNotification there
    // (nullptr stops it). The centre must outlive the watcher or be removed first.
    void setNotificationCenter(NotificationCenter* center);

Q_SIGNALS:
    void volumeMounted(const QString& volumePath);
    void volumeUnmounted(const QString& volumePath);

private:
    void onChange();
    std::vector<Volume> m_volumes;
    QSocketNotifier* m_notifier = nullptr;
    QTimer* m_timer = nullptr;
    int m_fd = -1;
    std::function<void(const Volume&)> m_mounted;
    std::function<void(const Volume&)> m_unmounted;
    NotificationCenter* m_center = nullptr;
};

} // namespace platform
