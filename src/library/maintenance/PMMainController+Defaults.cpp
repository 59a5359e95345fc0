// The table of registered default settings and the migration of older settings. Only
// keys whose default differs from NO, 0 or nothing are registered.
#include "library/model/PMMainController.h"

#include "platform/UserDefaults.h"

using platform::Dictionary;
using platform::DictionaryPtr;
using platform::Value;

DictionaryPtr PMMainController::defaultSettingsTable()
{
    // Read before the table is registered, so that only the user's own value counts.
    const bool loopGroupMovies = platform::UserDefaults::standard().boolForKey(QStringLiteral("Loop Group Movies"));
    const std::pair<const char*, Value> rows[] = {
        {"Group Search Criterion: Files", true},
        {"Group Search Criterion: Name", true},
        {"Group Search Criterion: Metadata", true},
        {"Menu Search Criterion: Name", true},
        {"Menu Search Criterion: Metadata", true},
        {"Ignore AVCHD Bundles", true},
        {"Ignore iTunes Movies", false},
        {"Ignore iPhoto Movies", false},
        {"Import Metadata: Internal", true},
        {"Import Metadata: External", true},
        {"Import Metadata: Name", true},
        {"Import Metadata: Positive Numbers Only", true},
        {"Present On Separate Space", true},
        {"Present On Separate Space: Toggle Button Priority", -1},
        {"Thumbnail Appearance", 1},
        {"Hover Cover Headers", true},
        {"Load Frame Images", true},
        {"Preload Previews", true},
        {"Draw Color Thumbnail Placeholders", true},
        {"Adjust Cover Size", 1},
        {"Adjust Preview Size", 1},
        {"Mosaic: Balance Row Height", true},
        {"Cycle Through Index Image On Hover", true},
        {"Cycle Through Index Image On Hover: Delay", 2.0},
        {"Cycle Through Index Image On Hover: Interval", 1.0},
        {"Slideshow Interval", 1.5},
        {"Optional Ornament Priority", 2},
        {"Show Thumbnail Popover", true},
        {"Automatically Toggle Manual Sorting", true},
        {"Subdivide By Tag: Fast Track", true},
        {"Subdivide By Boolean Tag: Use Alternates", true},
        {"Subdivide By Boolean Tag: Subdivide By Values", true},
        {"Subdivide By Boolean Tag: Subdivide By Values: Show Combined Names", true},
        {"Subdivide By Library Folder: Indicate Availability", true},
        {"Subdivision Date Sorting Priority", 1},
        {"Toggle Tag Values Via Context Menu", true},
        {"Submenu Threshold", 5},
        {"Navigation Area: Play/Pause", true},
        {"Push-Start: com.apple.QuickTimePlayerX", true},
        {"Resume: Timestamp Limit", 172800},
        {"Continue: Mode", loopGroupMovies ? 1 : 0},
        {"Convert Animated Images To Movies", true},
        {"Fall Back To Default Application", true},
        {"Continue: Start Slideshow After Movie", true},
        {"Continue: Monitor External Viewer: Continue On Mismatch: org.videolan.vlc", true},
        {"Continue: Monitor External Viewer: Detect Preview", true},
        {"Tool Tips: Truncation Threshold", 500},
        {"Select Area: Mode", 1},
        {"PMHelpManager: List Anchors In Submenus", true},
        {"Determine Fuzzy Oldest Date: Use Creation Date", true},
    };
    DictionaryPtr table = Dictionary::make();
    for (const auto& [key, value] : rows)
        table->setValue(QString::fromUtf8(key), value);
    return table;
}

void PMMainController::registerDefaultSettings()
{
    platform::UserDefaults::standard().registerDefaults(defaultSettingsTable());
}

void PMMainController::migrateSettings()
{
    platform::UserDefaults& defaults = platform::UserDefaults::standard();
    if (defaults.boolForKey(QStringLiteral("Scale Previews To Fit"))) {
        defaults.removeObjectForKey(QStringLiteral("Scale Previews To Fit"));
        defaults.setInteger(3, QStringLiteral("Preview Layout"));
    }
}
