#include "foundation/NSString+PMHelpManagerFileNames.h"

#include "platform/FileOperations.h"
#include "platform/Paths.h"
#include "platform/RegularExpression.h"

#include <QtCore/QFile>
#include <QtCore/QTextBoundaryFinder>

#include <sys/stat.h>

namespace {

constexpr qsizetype kMaxNameBytes = 255;

// Anything at the path, a dangling symbolic link included.
bool existsAtPath(const QString& path)
{
    struct stat st;
    return ::lstat(platform::encodeFileName(path).constData(), &st) == 0;
}


QString limitNameLength(const QString& name)
{
    if (name.toUtf8().size() <= kMaxNameBytes)
        return name;
    // Keep a short extension; a long "extension" is just part of the name.
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    QString extension;
    QString base = name;
    if (dot > 0 && name.size() - dot <= 16) {
        extension = name.mid(dot);
        base = name.left(dot);
    }
    base = platform::cutToUtf8Bytes(base, kMaxNameBytes - extension.toUtf8().size());
    while (!base.isEmpty() && (base.back().isSpace() || base.back() == QLatin1Char('.')))
        base.chop(1);
    return base + extension;
}

} // namespace

QString cleanFilename(const QString& name)
{
    QString s = name;
    s.remove(QChar(0));
    s.replace(QLatin1Char('\n'), QLatin1Char(' '));
    s.replace(QLatin1Char('\r'), QLatin1Char(' '));
    s.replace(QLatin1Char('\t'), QLatin1Char(' '));
    s.replace(QLatin1Char('/'), QLatin1Char('|'));
    s.replace(QLatin1Char('*'), QLatin1Char(' '));
    s = platform::RegularExpression::replace(s, QStringLiteral("^\\.+|\\.+$|:"), QStringLiteral(" "));
    s = platform::RegularExpression::replace(s, QStringLiteral("^\\s+|\\s+$"), QString());
    s = platform::RegularExpression::replace(s, QStringLiteral("\\s+"), QStringLiteral(" "));
    return limitNameLength(s);
}

QString availablePathWithCurrentPath(const QString& path, const QString& currentPath, bool* getIsMatch)
{
    if (getIsMatch)
        *getIsMatch = false;
    if (!existsAtPath(path))
        return path;
    const QString current = currentPath.normalized(QString::NormalizationForm_C);
    if (!currentPath.isEmpty() && path.normalized(QString::NormalizationForm_C) == current) {
        if (getIsMatch)
            *getIsMatch = true;
        return currentPath;
    }
    for (unsigned long long n = 1; n < ~0ULL; ++n) {
        // Numbered as the file operations number taken names, within the name-length limit.
        const QString candidate = platform::numberedPath(path, n);
        if (!existsAtPath(candidate))
            return candidate;
        if (!currentPath.isEmpty() && candidate.normalized(QString::NormalizationForm_C) == current) {
            if (getIsMatch)
                *getIsMatch = true;
            return currentPath;
        }
    }
    return QString();
}

QString availablePath(const QString& path)
{
    return availablePathWithCurrentPath(path, QString(), nullptr);
}
