#include "platform/UserDefaults.h"

#include "platform/NotificationCenter.h"
#include "platform/PropertyList.h"
#include "platform/Queues.h"
#include "platform/SaveFile.h"
#include "platform/SystemLog.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QDateTime>
#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QFileInfo>
#include <QtCore/QStandardPaths>
#include <QtCore/QTimer>

#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <shared_mutex>
#include <vector>

namespace platform {

namespace {

// The saves running on workers: the program does not end (nor the application object go)
// in the middle of one, which would leave the settings half written and the worker in
// objects already gone. A save still waiting for a worker then is not waited for: it
// never starts (the save at quit has written the settings on the main thread).
class SavesUnderWay {
public:
    static void prepare()
    {
        static const bool waitsAtExit = [] {
            std::atexit(endAll);
            qAddPostRoutine(endAll);
            return true;
        }();
        (void)waitsAtExit;
    }
    static bool begin()
    {
        std::lock_guard lock(state().mutex);
        if (state().ending)
            return false;
        ++state().running;
        return true;
    }
    static void end()
    {
        std::lock_guard lock(state().mutex);
        if (--state().running == 0)
            state().idle.notify_all();
    }
    static void endAll()
    {
        std::unique_lock lock(state().mutex);
        state().ending = true;
        state().idle.wait(lock, [] { return state().running == 0; });
    }

private:
    struct State {
        std::mutex mutex;
        std::condition_variable idle;
        int running = 0;
        bool ending = false;
    };
    // Never destroyed: it is waited for while the program's statics go.
    static State& state()
    {
        static State* s = new State;
        return *s;
    }
};

} // namespace

namespace {

// Changes reach the disk this long after the last one, or at quit.
constexpr int kSaveDelayMs = 1000;

Value copyOf(const Value& v)
{
    if (v.isArray() || v.isDictionary()) {
        Value copy = deepCopyPropertyList(v);
        return copy.isNull() ? v : copy;
    }
    return v;
}

} // namespace

struct UserDefaults::State : std::enable_shared_from_this<UserDefaults::State> {
    QString path;
    // Settings are read far more often than written, from many threads at once (a worker
    // pass over the records reads some per record): readers share the lock.
    mutable std::shared_mutex mutex;
    Dictionary registered;
    Dictionary persistent;
    bool dirty = false;
    bool saveScheduled = false;
    std::uint64_t nextObserver = 1;
    struct ObserverEntry {
        std::uint64_t id;
        QString key;
        Observer observer;
    };
    std::vector<ObserverEntry> observers;
    std::mutex saveMutex; // one writer at a time

    const Value* lookUp(const QString& key) const
    {
        if (const Value* v = persistent.find(key))
            return v;
        return registered.find(key);
    }

    void load()
    {
        if (path.isEmpty() || !QFileInfo::exists(path))
            return;
        PropertyListReadResult r = readPropertyListFile(path);
        if (r.ok() && r.value.isDictionary()) {
            persistent.map() = r.value.dictionary()->map();
            return;
        }
        // Keep the unreadable file aside rather than overwrite it with the next save.
        const QString aside = path + QStringLiteral(".damaged-") + QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd-HHmmss"));
        QFile::rename(path, aside);
        writeToSystemLog(QStringLiteral("cannot read the settings <%1>: %2; kept aside as <%3>")
                             .arg(path, r.ok() ? QStringLiteral("not a dictionary") : r.error, aside));
    }

    QString save()
    {
        std::lock_guard saveLock(saveMutex);
        // A snapshot of the entries under the lock, written out without it: the values are
        // never changed in place (they are copied in and out), only replaced, so readers
        // and writers of the settings do not wait for the encoding or the disk.
        std::shared_ptr<Dictionary> snapshot;
        {
            std::lock_guard lock(mutex);
            if (!dirty || path.isEmpty())
                return {};
            snapshot = std::make_shared<Dictionary>(persistent);
            dirty = false;
        }
        QString error;
        const QByteArray bytes = writeBinaryPropertyList(Value(snapshot), &error);
        if (bytes.isEmpty()) {
            std::lock_guard lock(mutex);
            dirty = true;
            return error;
        }
        QDir().mkpath(QFileInfo(path).absolutePath());
        error = saveFile(path, bytes);
        if (!error.isEmpty()) {
            std::lock_guard lock(mutex);
            dirty = true;
            writeToSystemLog(QStringLiteral("cannot save the settings: %1").arg(error));
        }
        return error;
    }

    void scheduleSave()
    {
        if (path.isEmpty() || !QCoreApplication::instance())
            return;
        {
            std::lock_guard lock(mutex);
            if (saveScheduled)
                return;
            saveScheduled = true;
        }
        std::weak_ptr<State> weak = weak_from_this();
        dispatchAsyncMain([weak] {
            QTimer::singleShot(kSaveDelayMs, QCoreApplication::instance(), [weak] {
                if (std::shared_ptr<State> self = weak.lock()) {
                    {
                        std::lock_guard lock(self->mutex);
                        self->saveScheduled = false;
                    }
                    // Written on a worker: a save waits for the disk to have the file
                    // (tens of milliseconds on a slow disk, for ever on a hung mount), and
                    // the window must not. A save at quit waits for one under way.
                    if (sharedThreadPool()) {
                        SavesUnderWay::prepare();
                        dispatchAsyncGlobal(
                            [self] {
                                if (!SavesUnderWay::begin())
                                    return;
                                self->save();
                                SavesUnderWay::end();
                            },
                            QueuePriority::Utility);
                    } else {
                        self->save();
                    }
                }
            });
        });
    }
};

UserDefaults& UserDefaults::standard()
{
    static UserDefaults* defaults = new UserDefaults(standardFilePath());
    return *defaults;
}

QString UserDefaults::standardFilePath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QStringLiteral("/Pellis/com.tolvane.Pellis.plist");
}

UserDefaults::UserDefaults(const QString& filePath)
    : m_state(std::make_shared<State>())
{
    m_state->path = filePath;
    m_state->load();
    if (QCoreApplication* app = QCoreApplication::instance()) {
        std::weak_ptr<State> weak = m_state;
        QObject::connect(app, &QCoreApplication::aboutToQuit, app, [weak] {
            if (std::shared_ptr<State> self = weak.lock())
                self->save();
        });
    }
}

UserDefaults::~UserDefaults()
{
    m_state->save();
}

QString UserDefaults::filePath() const
{
    return m_state->path;
}

Value UserDefaults::objectForKey(const QString& key) const
{
    std::shared_lock lock(m_state->mutex);
    const Value* v = m_state->lookUp(key);
    return v ? copyOf(*v) : Value();
}

void UserDefaults::setObject(const Value& value, const QString& key)
{
    if (value.isNull()) {
        removeObjectForKey(key);
        return;
    }
    if (!value.isPropertyList()) {
        writeToSystemLog(QStringLiteral("ignoring attempt to store a value that is not a property list under the default <%1>").arg(key));
        return;
    }
    {
        std::lock_guard lock(m_state->mutex);
        m_state->persistent.setValue(key, copyOf(value));
        m_state->dirty = true;
    }
    changed(key);
}

void UserDefaults::removeObjectForKey(const QString& key)
{
    {
        std::lock_guard lock(m_state->mutex);
        if (!m_state->persistent.contains(key))
            return;
        m_state->persistent.remove(key);
        m_state->dirty = true;
    }
    changed(key);
}

void UserDefaults::registerDefaults(const DictionaryPtr& defaults)
{
    if (!defaults)
        return;
    std::lock_guard lock(m_state->mutex);
    for (auto it = defaults->begin(); it != defaults->end(); ++it)
        m_state->registered.setValue(it.key(), copyOf(it.value()));
}

bool UserDefaults::boolForKey(const QString& key) const
{
    const Value v = objectForKey(key);
    if (v.isString()) {
        const QString s = v.string().trimmed();
        if (s.compare(QLatin1String("YES"), Qt::CaseInsensitive) == 0 || s.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0)
            return true;
        return v.toLongLong() != 0;
    }
    return v.toBool();
}

std::int64_t UserDefaults::integerForKey(const QString& key) const
{
    return objectForKey(key).toLongLong();
}

double UserDefaults::doubleForKey(const QString& key) const
{
    return objectForKey(key).toDouble();
}

QString UserDefaults::stringForKey(const QString& key) const
{
    const Value v = objectForKey(key);
    if (v.isString())
        return v.string();
    if (v.isNumber())
        return v.description();
    return {};
}

ArrayPtr UserDefaults::arrayForKey(const QString& key) const
{
    return objectForKey(key).array();
}

DictionaryPtr UserDefaults::dictionaryForKey(const QString& key) const
{
    return objectForKey(key).dictionary();
}

bool UserDefaults::hasPersistentValueForKey(const QString& key) const
{
    std::shared_lock lock(m_state->mutex);
    return m_state->persistent.contains(key);
}

DictionaryPtr UserDefaults::persistentDomain() const
{
    std::shared_lock lock(m_state->mutex);
    return deepCopyPropertyList(Value(std::make_shared<Dictionary>(m_state->persistent))).dictionary();
}

QString UserDefaults::synchronize()
{
    return m_state->save();
}

std::uint64_t UserDefaults::addObserver(const QString& key, Observer observer)
{
    std::lock_guard lock(m_state->mutex);
    const std::uint64_t id = m_state->nextObserver++;
    m_state->observers.push_back({id, key, std::move(observer)});
    return id;
}

void UserDefaults::removeObserver(std::uint64_t id)
{
    std::lock_guard lock(m_state->mutex);
    auto& list = m_state->observers;
    list.erase(std::remove_if(list.begin(), list.end(), [id](const State::ObserverEntry& e) { return e.id == id; }), list.end());
}

void UserDefaults::changed(const QString& key)
{
    m_state->scheduleSave();
    std::vector<Observer> toCall;
    {
        std::lock_guard lock(m_state->mutex);
        for (const auto& e : m_state->observers)
            if (e.key.isEmpty() || e.key == key)
                toCall.push_back(e.observer);
    }
    for (const Observer& o : toCall)
        o(key);
    NotificationCenter::defaultCenter().postNotificationName(QStringLiteral("NSUserDefaultsDidChangeNotification"), this);
}

} // namespace platform
