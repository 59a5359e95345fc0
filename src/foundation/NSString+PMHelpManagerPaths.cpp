#include "foundation/NSString+PMHelpManagerPaths.h"

#include "platform/FileOperations.h"
#include "platform/UserDefaults.h"

QString displayFilename(const QString& path)
{
    QString clean = path;
    while (clean.size() > 1 && clean.endsWith(u'/'))
        clean.chop(1);
    QString name = clean.mid(clean.lastIndexOf(u'/') + 1);
    if (platform::UserDefaults::standard().boolForKey(QStringLiteral("Show File Extensions")))
        return name;
    QString base;
    platform::splitPathExtension(name, &base, nullptr);
    return base;
}
