#include "foundation/PMLog.h"

#include "foundation/PMLogReader.h"
#include "platform/ClassRegistry.h"
#include "platform/SystemLog.h"
#include "platform/UserDefaults.h"

#include <mutex>

PMLogReaderInterface::~PMLogReaderInterface() = default;

namespace {

std::once_flag g_setUpOnce;
// Set once under the once-flag and never changed afterwards, so reading it after
// call_once needs no lock.
std::shared_ptr<PMLogReaderInterface> g_reader;

void setUpOnce()
{
    std::call_once(g_setUpOnce, PMLogReaderSetUp);
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
    return platform::UserDefaults::standard().boolForKey(QStringLiteral("PMDebugLog"));
}
