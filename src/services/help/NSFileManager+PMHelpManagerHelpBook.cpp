#include "services/help/NSFileManager+PMHelpManagerHelpBook.h"

#include <QtCore/QDir>
#include <QtCore/QFileInfo>
#include <QtCore/QLocale>

QStringList helpManagerLanguageFolderCandidates(const QStringList& uiLanguages)
{
    QStringList candidates;
    const auto add = [&candidates](const QString& name) {
        if (!name.isEmpty() && !name.contains(QLatin1Char('/')) && name != QLatin1String("..") && name != QLatin1String(".") &&
            !candidates.contains(name))
            candidates.append(name);
    };
    for (const QString& tag : uiLanguages) {
        add(tag);
        QString underscored = tag;
        underscored.replace(QLatin1Char('-'), QLatin1Char('_'));
        add(underscored);
        const QLocale locale(tag);
        if (locale.language() != QLocale::C && locale.language() != QLocale::AnyLanguage) {
            add(QLocale::languageToCode(locale.language()));
            add(QLocale::languageToString(locale.language()));
        }
    }
    add(QStringLiteral("en"));
    add(QStringLiteral("English"));
    candidates.append(QString());
    return candidates;
}

QString localizedPathToDirectory(const QString& directory, const QString& insideDirectory, const QStringList& candidates)
{
    if (directory.isEmpty() || insideDirectory.isEmpty())
        return {};
    const QString base = QDir(insideDirectory).filePath(directory);
    for (const QString& candidate : candidates) {
        const QString path = candidate.isEmpty() ? base : QDir(base).filePath(candidate);
        if (QFileInfo(path).isDir())
            return QDir::cleanPath(path);
    }
    return {};
}

QString localizedPathToDirectory(const QString& directory, const QString& insideDirectory)
{
    static const QStringList candidates = helpManagerLanguageFolderCandidates(QLocale().uiLanguages());
    return localizedPathToDirectory(directory, insideDirectory, candidates);
}
