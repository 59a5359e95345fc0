// The table of registered default settings and the migration of older settings. Only
// keys whose default differs from NO, 0 or nothing are registered.
#include "library/model/PMMainController.h"

#include "foundation/PMSettingsKeys.h"
#include "platform/UserDefaults.h"

using platform::Dictionary;
using platform::DictionaryPtr;
using platform::Value;

DictionaryPtr PMMainController::defaultSettingsTable()
{
    // Read before the table is registered, so that only the user's own value counts.
    const bool loopGroupMovies = platform::UserDefaults::standard().boolForKey(prefs::keys::LoopGroupMovies);
    // Every registered key with its default; "Continue: Mode" follows the older setting.
    DictionaryPtr table = prefs::registeredDefaults();
    table->setValue(prefs::keys::ContinueMode, loopGroupMovies ? 1 : 0);
    return table;
}

void PMMainController::registerDefaultSettings()
{
    platform::UserDefaults::standard().registerDefaults(defaultSettingsTable());
}

void PMMainController::migrateSettings()
{
    platform::UserDefaults& defaults = platform::UserDefaults::standard();
    if (defaults.boolForKey(prefs::keys::ScalePreviewsToFit)) {
        defaults.removeObjectForKey(prefs::keys::ScalePreviewsToFit);
        defaults.setInteger(3, prefs::keys::PreviewLayout);
    }
}
