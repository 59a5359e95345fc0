#include "library/model/PMLibraryFileRules.h"

#include "foundation/PMSettingsKeys.h"
#include "platform/UserDefaults.h"
#include "platform/Volumes.h"

#include <QtCore/QDir>

bool volumeExistsForPath(const QString& path)
{
    const QString volume = volumePathOrSlash(path);
    return volume == QStringLiteral("/") || platform::isVolumeMounted(volume);
}

bool fileExistsAtPathWithDefaultCache(const QString& path)
{
    return fileExistsAtPath(path, prefs::get(prefs::keys::UseSimplifiedCacheForExternalVolumeFileChecks));
}
