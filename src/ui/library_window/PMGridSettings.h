// The grid's and its tiles' small setting readers: a setting that may be absent reads as the
// value given for that case (the registered default where the setting has one).
#pragma once

#include "platform/UserDefaults.h"

#include <QtCore/QString>

#include <cstdint>

namespace PMGridSettings {

inline platform::UserDefaults& defaults()
{
    return platform::UserDefaults::standard();
}

inline bool boolValue(const QString& key, bool absent)
{
    return defaults().objectForKey(key).isNull() ? absent : defaults().boolForKey(key);
}

inline double doubleValue(const QString& key, double absent)
{
    return defaults().objectForKey(key).isNull() ? absent : defaults().doubleForKey(key);
}

inline std::int64_t integerValue(const QString& key, std::int64_t absent)
{
    return defaults().objectForKey(key).isNull() ? absent : defaults().integerForKey(key);
}

} // namespace PMGridSettings
