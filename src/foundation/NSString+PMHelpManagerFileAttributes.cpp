#include "foundation/NSString+PMHelpManagerFileAttributes.h"

#include "foundation/NSString+PMHelpManagerLibraryFiles.h"
#include "foundation/NSString+PMHelpManagerPaths.h"
#include "foundation/PMLog.h"
#include "platform/Alert.h"
#include "platform/ExtendedAttributes.h"
#include "platform/FileManager.h"
#include "platform/FileOperations.h"
#include "platform/Paths.h"
#include "platform/PropertyList.h"
#include "platform/Trash.h"
#include "platform/UserDefaults.h"

#include <QtCore/QDir>
#include <QtCore/QFileInfo>
#include <QtCore/QMimeData>
#include <QtCore/QStringDecoder>
#include <QtCore/QUrl>
#include <QtGui/QClipboard>
#include <QtGui/QGuiApplication>

#include <sys/stat.h>

namespace {

const QString kDeleteAlways = QStringLiteral("Delete If Trashing Fails (Always Apply)");
const QString kDeleteAll = QStringLiteral("Delete If Trashing Fails (Apply To All)");
const QString kKeepAll = QStringLiteral("Keep If Trashing Fails (Apply To All)");

bool isComment(const QString& name)
{
    return name == QLatin1String(PMFinderCommentAttributeName);
}

bool isWhereFroms(const QString& name)
{
    return name == QLatin1String(PMWhereFromsAttributeName);
}

bool exists(const QString& path)
{
    struct stat st;
    return !path.isEmpty() && lstat(platform::encodeFileName(path).constData(), &st) == 0;
}

// Text as another program wrote it: UTF-8, possibly NUL-terminated; anything else is not text.
std::optional<QString> strictText(QByteArray bytes)
{
    while (bytes.endsWith('\0'))
        bytes.chop(1);
    if (bytes.contains('\0'))
        return std::nullopt;
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

bool removeItem(const QString& path)
{
    const QFileInfo info(path);
    if (info.isDir() && !info.isSymLink())
        return QDir(path).removeRecursively();
    return QFile::remove(path);
}

} // namespace

QByteArray extendedAttributeNameOnDisk(const QString& name)
{
    if (isComment(name))
        return platform::kCommentAttribute;
    if (isWhereFroms(name))
        return platform::kOriginURLAttribute;
    if (name.startsWith(QLatin1String("user.")))
        return name.toUtf8();
    return "user." + name.toUtf8();
}

bool setData(const QString& path, const QByteArray& data, const QString& forExtendedFileAttribute)
{
    if (data.isNull() || forExtendedFileAttribute.isEmpty() || !exists(path))
        return false;
    return platform::setExtendedAttribute(path, extendedAttributeNameOnDisk(forExtendedFileAttribute), data);
}

std::optional<QByteArray> dataForExtendedFileAttribute(const QString& path, const QString& name)
{
    if (name.isEmpty() || path.isEmpty())
        return std::nullopt;
    QByteArray data;
    if (!platform::getExtendedAttribute(path, extendedAttributeNameOnDisk(name), &data) || data.isEmpty())
        return std::nullopt;
    return data;
}

bool setValue(const QString& path, const platform::Value& value, const QString& forExtendedFileAttribute)
{
    if (value.isNull())
        return false;
    if (isComment(forExtendedFileAttribute)) {
        if (!value.isString())
            return false;
        return setData(path, value.string().toUtf8(), forExtendedFileAttribute);
    }
    if (isWhereFroms(forExtendedFileAttribute)) {
        // Kept as the one URL text that other programs read.
        const platform::ArrayPtr array = value.array();
        const platform::Value first = array ? array->value(0) : value;
        if (!first.isString() || first.string().isEmpty())
            return false;
        return setData(path, first.string().toUtf8(), forExtendedFileAttribute);
    }
    QString error;
    const QByteArray data = platform::writeBinaryPropertyList(value, &error);
    if (data.isEmpty())
        return false;
    return setData(path, data, forExtendedFileAttribute);
}

platform::Value valueForExtendedFileAttribute(const QString& path, const QString& name)
{
    const std::optional<QByteArray> data = dataForExtendedFileAttribute(path, name);
    if (!data)
        return {};
    if (isComment(name)) {
        const std::optional<QString> text = strictText(*data);
        return text ? platform::Value(*text) : platform::Value();
    }
    if (isWhereFroms(name)) {
        const std::optional<QString> text = strictText(*data);
        if (!text || text->trimmed().isEmpty())
            return {};
        return platform::Array::make({platform::Value(text->trimmed())});
    }
    const platform::PropertyListReadResult result = platform::readPropertyList(*data);
    return result.ok() ? result.value : platform::Value();
}

bool setSpotlightCommentAttribute(const QString& path, const QString& comment)
{
    return setValue(path, platform::Value(comment), QString::fromLatin1(PMFinderCommentAttributeName));
}

std::optional<QString> spotlightComment(const QString& path)
{
    const platform::Value value = valueForExtendedFileAttribute(path, QString::fromLatin1(PMFinderCommentAttributeName));
    if (!value.isString())
        return std::nullopt;
    return value.string();
}

bool setSpotlightComment(const QString& path, const QString& comment)
{
    if (comment.isNull())
        return false;
    // File managers here show the attribute itself: there is no separate place to fall back from.
    return setSpotlightCommentAttribute(path, comment);
}

bool setSourceURLString(const QString& path, const QString& urlString, bool alsoSetSpotlightComment)
{
    if (alsoSetSpotlightComment)
        setSpotlightComment(path, urlString);
    if (urlString.isEmpty())
        return false;
    return setValue(path, platform::Array::make({platform::Value(urlString)}), QString::fromLatin1(PMWhereFromsAttributeName));
}

bool setFilename(const QString& path, const QString& newName)
{
    if (newName.isEmpty() || newName == QLatin1String(".") || newName == QLatin1String("..") || newName.contains(u'/')
        || newName.contains(QChar(0)) || !exists(path))
        return false;
    QString clean = path;
    while (clean.size() > 1 && clean.endsWith(u'/'))
        clean.chop(1);
    const QString target = QFileInfo(clean).path() + u'/' + newName;
    if (target == clean)
        return true;
    return platform::renameWithoutReplacing(clean, target);
}

void showInFinder(const QString& path)
{
    platform::revealInFileManager({path});
}

void showContentInFinder(const QString& path)
{
    platform::openFolderInFileManager(path);
}

bool moveFileToTrashOrDeleteWithoutAsking(const QString& path, bool deleteWithoutAsking, bool canApplyToAll)
{
    if (!exists(path))
        return false;
    if (platform::moveToTrash(path))
        return true;

    platform::UserDefaults& defaults = platform::UserDefaults::standard();
    bool shouldDelete = false;
    if (deleteWithoutAsking || defaults.boolForKey(kDeleteAlways) || defaults.boolForKey(kDeleteAll)) {
        shouldDelete = true;
    } else if (defaults.boolForKey(kKeepAll)) {
        shouldDelete = false;
    } else {
        // Deleting for good is never the default answer: "Keep File" comes first.
        platform::Alert alert;
        alert.messageText = QStringLiteral("Cannot Move \"%1\" to Trash").arg(displayFilename(path));
        alert.informativeText = QStringLiteral("You can either keep the file for now or try to delete it for good.");
        alert.buttons = {QStringLiteral("Keep File"), QStringLiteral("Delete File")};
        alert.showsSuppressionButton = canApplyToAll;
        alert.suppressionButtonTitle = QStringLiteral("Apply to all");
        const platform::AlertResponse response = platform::runAlert(alert);
        shouldDelete = response.button == 1;
        if (canApplyToAll && response.suppressed)
            defaults.setBool(true, shouldDelete ? kDeleteAll : kKeepAll);
    }
    if (!shouldDelete) {
        PMLog("keeping <%@>", path);
        return false;
    }
    if (removeItem(path)) {
        PMLog("deleted <%@>", path);
        return true;
    }
    PMLog("cannot delete <%@>", path);
    if (!deleteWithoutAsking)
        platform::beep();
    return false;
}

bool copyToPasteboardAsURL(const QString& path, bool asURL)
{
    QClipboard* clipboard = qobject_cast<QGuiApplication*>(QCoreApplication::instance()) ? QGuiApplication::clipboard() : nullptr;
    if (!clipboard)
        return false;
    auto* mime = new QMimeData;
    if (asURL)
        mime->setUrls({QUrl::fromLocalFile(path)});
    mime->setText(path);
    clipboard->setMimeData(mime);
    return true;
}

bool copyToPasteboard(const QString& path)
{
    return copyToPasteboardAsURL(path, false);
}

QString stringByRemovingHFSTypeDelimiters(const QString& string)
{
    if (string.size() >= 2 && string.startsWith(u'\'') && string.endsWith(u'\''))
        return string.mid(1, string.size() - 2);
    return string;
}

std::optional<platform::DesktopApplication> applicationURL(const QString& filePath)
{
    if (filePath.isEmpty())
        return std::nullopt;
    // A movie sequence opens with whatever opens its first part.
    QString file = filePath;
    if (const std::optional<QStringList> parts = sequencePaths(filePath); parts && !parts->isEmpty())
        file = parts->first();
    platform::DesktopApplication application;
    if (!platform::getDefaultApplicationForFile(file, &application))
        return std::nullopt;
    // Never hand a file to this program itself.
    if (platform::isOwnApplication(application))
        return std::nullopt;
    return application;
}
