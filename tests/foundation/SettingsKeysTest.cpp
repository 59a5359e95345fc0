#include "foundation/PMSettingsKeys.h"

#include "platform/UserDefaults.h"
#include "platform/Value.h"

#include <gtest/gtest.h>

#include <QtCore/QSet>

#include <variant>

using prefs::Type;
using platform::Value;

namespace {

// The settings the program registers at launch and their values, written out by hand so
// that a changed or retyped default in the registry shows here. "Continue: Mode" is 0
// here; the launch sets 1 instead when the older "Loop Group Movies" is on.
struct RegisteredRow {
    const char* key;
    std::variant<bool, qint64, double> value;
};
const RegisteredRow kRegistered[] = {
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
    {"Present On Separate Space: Toggle Button Priority", qint64(-1)},
    {"Thumbnail Appearance", qint64(1)},
    {"Hover Cover Headers", true},
    {"Load Frame Images", true},
    {"Preload Previews", true},
    {"Draw Color Thumbnail Placeholders", true},
    {"Adjust Cover Size", qint64(1)},
    {"Adjust Preview Size", qint64(1)},
    {"Mosaic: Balance Row Height", true},
    {"Cycle Through Index Image On Hover", true},
    {"Cycle Through Index Image On Hover: Delay", 2.0},
    {"Cycle Through Index Image On Hover: Interval", 1.0},
    {"Slideshow Interval", 1.5},
    {"Optional Ornament Priority", qint64(2)},
    {"Show Thumbnail Popover", true},
    {"Automatically Toggle Manual Sorting", true},
    {"Subdivide By Tag: Fast Track", true},
    {"Subdivide By Boolean Tag: Use Alternates", true},
    {"Subdivide By Boolean Tag: Subdivide By Values", true},
    {"Subdivide By Boolean Tag: Subdivide By Values: Show Combined Names", true},
    {"Subdivide By Library Folder: Indicate Availability", true},
    {"Subdivision Date Sorting Priority", qint64(1)},
    {"Toggle Tag Values Via Context Menu", true},
    {"Submenu Threshold", qint64(5)},
    {"Navigation Area: Play/Pause", true},
    {"Push-Start: com.apple.QuickTimePlayerX", true},
    {"Resume: Timestamp Limit", qint64(172800)},
    {"Continue: Mode", qint64(0)},
    {"Convert Animated Images To Movies", true},
    {"Fall Back To Default Application", true},
    {"Continue: Start Slideshow After Movie", true},
    {"Continue: Monitor External Viewer: Continue On Mismatch: org.videolan.vlc", true},
    {"Continue: Monitor External Viewer: Detect Preview", true},
    {"Tool Tips: Truncation Threshold", qint64(500)},
    {"Select Area: Mode", qint64(1)},
    {"PMHelpManager: List Anchors In Submenus", true},
    {"Determine Fuzzy Oldest Date: Use Creation Date", true},
};

Value valueOf(const std::variant<bool, qint64, double>& v)
{
    return std::visit([](auto x) { return Value(x); }, v);
}

} // namespace

TEST(SettingsKeys, EveryKeyIsUniqueAndNamedByItsStoredText)
{
    QSet<QString> names;
    for (const prefs::Key* key : prefs::allKeys()) {
        const QString name = key->name();
        SCOPED_TRACE(name.toStdString());
        EXPECT_FALSE(name.isEmpty());
        EXPECT_EQ(name, name.trimmed());
        EXPECT_FALSE(names.contains(name)) << "key listed twice";
        names.insert(name);
        // The conversion that call sites use gives the same text.
        EXPECT_EQ(QString(*key), name);
        EXPECT_EQ(name.size(), key->view().size());
    }
    EXPECT_EQ(names.size(), qsizetype(prefs::allKeys().size()));
    EXPECT_TRUE(names.contains(QStringLiteral("Show File Extensions")));
    EXPECT_EQ(prefs::keys::PushStartComAppleQuickTimePlayerX.name(), prefs::prefixes::PushStart + QStringLiteral("com.apple.QuickTimePlayerX"));
    EXPECT_EQ(QStringLiteral("PMDragSourceImageView") + prefs::suffixes::SilentSaveDirectory,
              QStringLiteral("PMDragSourceImageView: Silent Save Directory"));
}

TEST(SettingsKeys, EachDefaultHasTheDeclaredType)
{
    for (const prefs::Key* key : prefs::allKeys()) {
        SCOPED_TRACE(key->name().toStdString());
        const Value value = key->defaultValue();
        if (!key->isRegistered()) {
            EXPECT_TRUE(value.isNull());
            continue;
        }
        switch (key->type()) {
        case Type::Flag:
            EXPECT_EQ(value.type(), Value::Type::Bool);
            EXPECT_EQ(value.boolean(), static_cast<const prefs::FlagKey*>(key)->defaultFlag());
            break;
        case Type::Integer:
            EXPECT_EQ(value.type(), Value::Type::Integer);
            EXPECT_EQ(value.integer(), static_cast<const prefs::IntegerKey*>(key)->defaultInteger());
            break;
        case Type::Real:
            EXPECT_EQ(value.type(), Value::Type::Real);
            EXPECT_EQ(value.real(), static_cast<const prefs::RealKey*>(key)->defaultReal());
            break;
        default:
            ADD_FAILURE() << "only flags and numbers have registered defaults";
        }
    }
}

TEST(SettingsKeys, RegisteredDefaultsAreTheRegistrysAndReadBackTyped)
{
    const platform::DictionaryPtr table = prefs::registeredDefaults();
    ASSERT_EQ(table->count(), qsizetype(std::size(kRegistered)));
    qsizetype registeredKeys = 0;
    for (const prefs::Key* key : prefs::allKeys())
        registeredKeys += key->isRegistered() ? 1 : 0;
    EXPECT_EQ(registeredKeys, table->count());

    // Registered into defaults of their own (the standard ones belong to the other tests),
    // each reads back through the typed getter of its type.
    platform::UserDefaults defaults{QString()};
    defaults.registerDefaults(table);
    for (const RegisteredRow& row : kRegistered) {
        const QString key = QString::fromUtf8(row.key);
        SCOPED_TRACE(row.key);
        const Value expected = valueOf(row.value);
        const Value actual = table->value(key);
        EXPECT_EQ(actual.type(), expected.type());
        EXPECT_EQ(actual, expected);
        if (std::holds_alternative<bool>(row.value))
            EXPECT_EQ(defaults.boolForKey(key), std::get<bool>(row.value));
        else if (std::holds_alternative<qint64>(row.value))
            EXPECT_EQ(defaults.integerForKey(key), std::get<qint64>(row.value));
        else
            EXPECT_EQ(defaults.doubleForKey(key), std::get<double>(row.value));
    }
}
