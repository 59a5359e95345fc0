#include "foundation/PMLog.h"

#include "foundation/PMLogReader.h"
#include "platform/ClassRegistry.h"
#include "platform/SystemLog.h"
#include "foundation/PMSettingsKeys.h"
#include "platform/UserDefaults.h"

#include <atomic>
#include <mutex>

PMLogReaderInterface::~PMLogReaderInterface() = default;

namespace {

// The reader is looked up once, on the first call of any of the functions below; after
// that it is only read. The flag is read without the lock on the fast path.
std::mutex g_setUpMutex;
std::atomic<bool> g_isSetUp{false};
std::shared_ptr<PMLogReaderInterface> g_reader;

void setUpOnce()
{
    if (g_isSetUp.load(std::memory_order_acquire))
        return;
    std::lock_guard lock(g_setUpMutex);
    if (g_isSetUp.load(std::memory_order_relaxed))
        return;
    PMLogReaderSetUp();
    g_isSetUp.store(true, std::memory_order_release);
}

} // namespace

void PMLogReaderSetUp()
{
    const auto classObject = std::static_pointer_cast<const PMLogReaderClass>(platform::classNamed(QString::fromLatin1(kPMLogReaderClassName)));
    if (!classObject || !classObject->canDisplayLog || !classObject->create)
        return;
    if (!classObject->canDisplayLog())
        return;
    std::shared_ptr<PMLogReaderInterface> reader = classObject->create();
    if (!reader)
        return;
    reader->setMenuItemActionImageSetter(QStringLiteral("setMacOS26ImageWithSystemSymbolName"));
    reader->setDebugLoggingUserDefaultName(QStringLiteral("PMDebugLog"));
    g_reader = std::move(reader);
}

void PMLogArgs(QStringView format, std::initializer_list<platform::FormatArg> args)
{
    setUpOnce();
    if (g_reader)
        g_reader->logFormat(format, args);
    else
        platform::writeToSystemLog(platform::formatArgs(format, args));
}

bool PMLogReaderExists()
{
    setUpOnce();
    return g_reader != nullptr;
}

bool PMLogReaderDisplay(QObject* sender)
{
    setUpOnce();
    if (!g_reader)
        return false;
    g_reader->displayLog(sender);
    return true;
}

bool PMLogReaderSetDelegate(QObject* delegate)
{
    setUpOnce();
    if (!g_reader)
        return false;
    g_reader->setDelegate(delegate);
    return true;
}

bool PMDebugLogEnabled()
{
    return prefs::get(prefs::keys::PMDebugLog);
}

void PMLogReaderForgetForTesting()
{
    std::lock_guard lock(g_setUpMutex);
    g_reader.reset();
    g_isSetUp.store(false, std::memory_order_release);
}
