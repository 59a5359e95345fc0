// Typed access to records and settings. Every record of the program is a dictionary of
// property-list values with English keys; these getters never fail (a missing
// dictionary, key or unconvertible value gives 0, NO or nothing), and the setters never
// store nothing: they remove the key or leave the dictionary alone. Dates are stored as
// seconds since 1970 (a double).
#pragma once

#include "platform/Value.h"

#include <QtCore/QString>

#include <optional>

namespace platform {
class UserDefaults;
}

// Getters (NSDictionary)
double doubleValueOfObjectForKey(const platform::Dictionary* dictionary, const QString& key);
long long longLongValueOfObjectForKey(const platform::Dictionary* dictionary, const QString& key);
long integerValueOfObjectForKey(const platform::Dictionary* dictionary, const QString& key);
bool boolValueOfObjectForKey(const platform::Dictionary* dictionary, const QString& key);
// The value unarchived from old-format archive data under the key; nothing when there is none.
platform::Value unarchivedObjectForKey(const platform::Dictionary* dictionary, const QString& key);
platform::Value objectForKeyPrecomposedWithCanonicalMapping(const platform::Dictionary* dictionary, const QString& key);
// A copy in which every array and dictionary is new; nothing when the dictionary holds
// a value that is not a property-list type.
platform::DictionaryPtr deeplyMutableCopy(const platform::Dictionary* dictionary);
platform::ArrayPtr deeplyMutableCopy(const platform::Array* array);
// Writes every entry into the standard user defaults.
void setUserDefaults(const platform::Dictionary* dictionary);

inline double doubleValueOfObjectForKey(const platform::DictionaryPtr& d, const QString& key) { return doubleValueOfObjectForKey(d.get(), key); }
inline long long longLongValueOfObjectForKey(const platform::DictionaryPtr& d, const QString& key) { return longLongValueOfObjectForKey(d.get(), key); }
inline long integerValueOfObjectForKey(const platform::DictionaryPtr& d, const QString& key) { return integerValueOfObjectForKey(d.get(), key); }
inline bool boolValueOfObjectForKey(const platform::DictionaryPtr& d, const QString& key) { return boolValueOfObjectForKey(d.get(), key); }
inline platform::Value unarchivedObjectForKey(const platform::DictionaryPtr& d, const QString& key) { return unarchivedObjectForKey(d.get(), key); }
inline platform::Value objectForKeyPrecomposedWithCanonicalMapping(const platform::DictionaryPtr& d, const QString& key) { return objectForKeyPrecomposedWithCanonicalMapping(d.get(), key); }
inline platform::DictionaryPtr deeplyMutableCopy(const platform::DictionaryPtr& d) { return deeplyMutableCopy(d.get()); }
inline platform::ArrayPtr deeplyMutableCopy(const platform::ArrayPtr& a) { return deeplyMutableCopy(a.get()); }
inline void setUserDefaults(const platform::DictionaryPtr& d) { setUserDefaults(d.get()); }

// Setters (NSMutableDictionary)
void setNumberWithDouble(platform::Dictionary& dictionary, double value, const QString& key);
void setNumberWithInteger(platform::Dictionary& dictionary, long long value, const QString& key);
void setNumberWithBool(platform::Dictionary& dictionary, bool value, const QString& key);
// Stores the value; nothing removes the key.
void setOrRemoveObject(platform::Dictionary& dictionary, const platform::Value& object, const QString& key);
// Stores the value only when both value and key are given; otherwise the old value stays.
void tryToSetObject(platform::Dictionary& dictionary, const platform::Value& object, const QString& key);
// Stores the date as seconds since 1970; no date stores 0.
void setDate(platform::Dictionary& dictionary, std::optional<platform::Date> date, const QString& key);
// Reads a date stored as seconds since 1970. When there is none and the fallback key holds
// a legacy archived date, that date is converted once: stored under the key, and the
// fallback key removed whatever the outcome.
std::optional<platform::Date> dateForKey(platform::Dictionary& dictionary, const QString& key, const QString& archivedCalendarDateFallbackKey = {});
void archiveObject(platform::Dictionary& dictionary, const platform::Value& object, const QString& key);
void setObjectForKeyPrecomposedWithCanonicalMapping(platform::Dictionary& dictionary, const platform::Value& object, const QString& key);
void removeObjectForKeyPrecomposedWithCanonicalMapping(platform::Dictionary& dictionary, const QString& key);

// Reads a property list of any format; only a dictionary at the top level is answered.
platform::DictionaryPtr deeplyMutableDictionaryWithContentsOfFile(const QString& path);

// User defaults: nothing removes the default, so that the registered one shows through.
void setOrRemoveObject(platform::UserDefaults& defaults, const platform::Value& object, const QString& key);
void tryToSetObject(platform::UserDefaults& defaults, const platform::Value& object, const QString& key);

// The precomposed (canonical composition) form of a key; keys of dictionaries keyed by
// file paths always take this form.
QString precomposedStringWithCanonicalMapping(const QString& string);
