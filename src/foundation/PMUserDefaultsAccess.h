// The few user defaults the foundation helpers read, behind one small seam. The settings
// store itself lives in the platform layer; until it is wired in here the values are kept
// in memory for the process, which is also what lets tests set them.
#pragma once

#include "platform/Value.h"

#include <QtCore/QString>

// The value stored under the key (the user's own value or a registered default), or null.
platform::Value PMUserDefaultValue(const QString& key);
bool PMUserDefaultBool(const QString& key);
// Sets (or, with a null value, removes) the user's value for the key.
void PMSetUserDefaultValue(const QString& key, const platform::Value& value);
