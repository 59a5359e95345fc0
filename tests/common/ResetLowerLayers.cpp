// The state earlier tests left in the lower layers' singletons, put back before each test
// (the platform's and the foundation's test executables, which link only their layers).
#include "common/TestSupport.h"

#ifdef PELLIS_TEST_FOUNDATION
#include "foundation/PMLogReader.h"
#endif
#include "platform/Alert.h"
#include "platform/EventClock.h"
#include "platform/SystemLog.h"
#include "platform/UserDefaults.h"

namespace testsupport {

void resetProcessState()
{
#ifdef PELLIS_TEST_FOUNDATION
    // The log function looks for its reader again.
    PMLogReaderForgetForTesting();
#endif
    // The controls' clock runs on real time again (a test that steered it and stopped early).
    platform::steerEventClockForTesting(false);
    // Lines and alerts go where the test says.
    platform::setSystemLogSink(nullptr);
    platform::setAlertHandler(nullptr);
    // The settings an earlier test stored.
    platform::UserDefaults& defaults = platform::UserDefaults::standard();
    if (const platform::DictionaryPtr stored = defaults.persistentDomain())
        for (const QString& key : stored->keys())
            defaults.removeObjectForKey(key);
}

} // namespace testsupport
