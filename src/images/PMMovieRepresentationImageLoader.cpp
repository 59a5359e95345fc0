#include "images/PMMovieRepresentationImageLoader.h"

#include "foundation/NSString+PMHelpManagerFileAttributes.h"
#include "foundation/NSString+PMHelpManagerPaths.h"
#include "foundation/PMLog.h"
#include "images/NSImage+PMImageFiles.h"
#include "images/NSImage+PMImageHash.h"
#include "images/PMIndexImageWrapper.h"
#include "library/model/PMMainController.h"
#include "library/model/PMMovieRepresentation.h"
#include "platform/SaveFile.h"
#include "foundation/PMSettingsKeys.h"
#include "platform/UserDefaults.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QFileInfo>
#include <QtCore/QRegularExpression>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

using platform::ImagePtr;

namespace {

bool debugLog()
{
    return prefs::get(prefs::keys::PMDebugLog);
}

// The path of a file of the ID in the folder, when it lies inside it; else nothing.
QString pathInFolder(const QString& folder, const QString& name)
{
    const QString base = QDir::cleanPath(QDir(folder).absolutePath());
    const QString path = QDir::cleanPath(base + QLatin1Char('/') + name);
    if (!path.startsWith(base + QLatin1Char('/')) || path.mid(base.size() + 1).contains(QLatin1Char('/')))
        return {};
    return path;
}

// Deletes a file of the image folder; YES when something was there (deleted or not).
bool deleteImageFile(const QString& folder, const QString& name, bool underscore)
{
    const QString path = pathInFolder(folder, name);
    if (path.isEmpty() || !QFileInfo(path).isFile())
        return false;
    if (QFile::remove(path)) {
        if (debugLog())
            PMLog(underscore ? "[Debug] deleted underscore image: %@" : "[Debug] deleted image: %@", path);
    } else {
        PMLog(underscore ? "cannot delete underscore image: %@" : "cannot delete image: %@", path);
    }
    return true;
}

bool hasExtension(const QString& path, std::initializer_list<const char*> extensions)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    for (const char* extension : extensions)
        if (suffix == QLatin1String(extension))
            return true;
    return false;
}

// Removes the folders that writes of the record's hover frames left behind when the
// program ended in the middle of one.
void removePartialHoverFrameFolders(const QString& folder, const QString& id)
{
    const QDir dir(folder);
    const QString prefix = QLatin1Char('.') + id + QStringLiteral(".pellis-");
    for (const QString& name : dir.entryList({prefix + QLatin1Char('*')}, QDir::Dirs | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)) {
        bool partial = false;
        if (PMImageIDOfFileName(name, PMImageFolderKind::HoverFrames, &partial) == id && partial)
            PMRemoveHoverFrameFolder(dir.filePath(name));
    }
}

double hoverFrameCompressionFactor()
{
    const platform::Value stored = prefs::get(prefs::keys::CycleThroughIndexImageOnHoverJPEGCompressionFactor);
    double factor = 0.5;
    if (stored.hasNumericValue()) {
        bool ok = true;
        const double value = stored.isString() ? stored.string().toDouble(&ok) : stored.toDouble();
        if (ok && std::isfinite(value))
            factor = std::clamp(value, 0.0, 1.0);
    }
    return factor;
}

// Writes the frames into a new hidden folder beside the record's and, once every frame is
// in it, puts that folder in the place of the record's (the old one, if any, is removed
// afterwards). A failed write leaves the frames stored before untouched. Answers the
// error's text, or nothing.
QString writeHoverFrameFolder(const PMMovieRepresentationImageLoader::IndexImageWrappers& frames, const QString& folder, const QString& basePath,
                              const QString& id)
{
    if (!checkFolderPathAndCreateIfNecessary(folder))
        return QStringLiteral("cannot create the folder <%1>").arg(folder);
    QByteArray pattern = QFile::encodeName(folder + QStringLiteral("/.") + id + QStringLiteral(".pellis-XXXXXX"));
    if (!::mkdtemp(pattern.data()))
        return QString::fromLocal8Bit(std::strerror(errno));
    const QString partial = QFile::decodeName(pattern);
    const double factor = hoverFrameCompressionFactor();
    int position = 0;
    QString failure;
    for (const std::shared_ptr<PMIndexImageWrapper>& wrapper : frames) {
        ++position;
        if (!wrapper || !wrapper->image())
            continue;
        // The C locale's point, whatever the user's locale ("2 (4.50).jpg").
        if (!writeToJPEGFile(wrapper->image(), partial + QString::asprintf("/%d (%.2f).jpg", position, wrapper->timestamp()), factor, &failure)) {
            PMRemoveHoverFrameFolder(partial);
            return failure.isEmpty() ? QStringLiteral("a frame could not be written") : failure;
        }
    }
    const QByteArray from = QFile::encodeName(partial), to = QFile::encodeName(basePath);
    struct stat info = {};
    const bool taken = ::lstat(to.constData(), &info) == 0;
    if (taken && S_ISDIR(info.st_mode) && ::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_EXCHANGE) == 0) {
        PMRemoveHoverFrameFolder(partial); // now the old frames
        return {};
    }
    // No atomic exchange here (or no folder in the place): the old entry goes first.
    if (taken && !PMRemoveHoverFrameFolder(basePath)) {
        PMRemoveHoverFrameFolder(partial);
        return QStringLiteral("cannot remove the old frames");
    }
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) != 0
        && (errno != EINVAL || ::rename(from.constData(), to.constData()) != 0)) {
        failure = QString::fromLocal8Bit(std::strerror(errno));
        PMRemoveHoverFrameFolder(partial);
        return failure;
    }
    return {};
}

} // namespace

PMMovieRepresentationImageLoader& PMMovieRepresentationImageLoader::defaultLoader()
{
    static PMMovieRepresentationImageLoader* loader = new PMMovieRepresentationImageLoader(); // lives to the end of the process
    return *loader;
}

PMMovieRepresentationImageLoader::PMMovieRepresentationImageLoader()
    : m_saveQueue(QStringLiteral("image saving"), platform::QueuePriority::Utility)
    , m_loadQueue(std::make_unique<platform::OperationQueue>(QStringLiteral("image loading")))
{
    generateStandardIndexImageWrappers = [this](PMMovieRepresentationPrototype& movie) { generateStandardIndexImageWrappersForMovieRepresentation(movie); };
    // Every record's hover frames end in the completion, grabbed or not, so the
    // one-at-a-time generation always moves on.
    standardIndexImageWrappersWithCompletionHandler = [](PMMovieRepresentationPrototype& movie, std::function<void()> completion) {
        movie.standardIndexImageWrappersWithCompletionHandler([completion = std::move(completion)](auto) {
            if (completion)
                completion();
        });
    };
    rgbAverageComponents = [](const ImagePtr& image) { return ::rgbAverageComponents(image); };
}

quint64 PMMovieRepresentationImageLoader::imageGeneration(bool cover, const QString& id) const
{
    std::lock_guard lock(m_generationMutex);
    return (cover ? m_coverGenerations : m_posterGenerations).value(id);
}

void PMMovieRepresentationImageLoader::saveCoverImage(const ImagePtr& image, PMMovieRepresentationPrototype& movie, CompletionHandler completion)
{
    saveImage(image, true, PMMainController::mainController().coverImageDirectoryPath(), movie.uniqueLibraryID(), false, &movie, std::move(completion));
}

void PMMovieRepresentationImageLoader::savePosterImage(const ImagePtr& image, PMMovieRepresentationPrototype& movie, CompletionHandler completion)
{
    saveImage(image, false, PMMainController::mainController().posterImageDirectoryPath(), movie.uniqueLibraryID(), true, &movie,
              std::move(completion));
}

void PMMovieRepresentationImageLoader::saveImage(const ImagePtr& image, bool asCover, const QString& folder, const QString& id, bool trigger,
                                                 PMMovieRepresentationPrototype* movie, CompletionHandler completion)
{
    if (!PMIsWellFormedImageID(id) || folder.isEmpty()) {
        PMLog("cannot save image: <%@> is no image name", id);
        if (completion)
            completion(false);
        return;
    }
    std::shared_ptr<PMMovieRepresentationPrototype> record;
    if (movie) {
        movie->userSettings()->remove(QStringLiteral("RGB"));
        record = movie->sharedRecord();
    }
    auto& services = PMMovieRepresentationServices::shared();
    if (services.updateApplicationIconWithCrawlDelta)
        services.updateApplicationIconWithCrawlDelta(1);
    QHash<QString, ImagePtr>& pending = asCover ? m_saveQueueCoverImagesByID : m_saveQueuePosterImagesByID;
    if (image)
        pending.insert(id, image);
    else
        pending.remove(id);
    {
        std::lock_guard lock(m_generationMutex);
        ++(asCover ? m_coverGenerations : m_posterGenerations)[id];
    }
    // A reduced copy still waiting for its write shows the old picture: no reader gets it.
    (asCover ? m_saveQueueUnderscoreCoverJPEGRepresentationsByID : m_saveQueueUnderscorePosterJPEGRepresentationsByID).remove(id);
    // What the save queue needs, read here on the main thread.
    const bool saveTIFF = PMImageFolderSettings::shared().savesTIFFImages;
    const bool cycles = prefs::get(prefs::keys::CycleThroughIndexImageOnHover);
    m_saveQueue.async([this, image, asCover, folder, id, trigger, cycles, saveTIFF, record, completion = std::move(completion)]() mutable {
        checkFolderPathAndCreateIfNecessary(folder);
        const QString jpgName = id + QStringLiteral(".jpg"), tiffName = id + QStringLiteral(".tiff");
        const QString underscoreFolder = folder + QStringLiteral("/_");
        const bool hadImage = QFileInfo::exists(pathInFolder(folder, jpgName)) || QFileInfo::exists(pathInFolder(folder, tiffName))
                           || QFileInfo::exists(pathInFolder(underscoreFolder, jpgName));
        bool succeeded = true;
        if (image) {
            const QString target = pathInFolder(folder, saveTIFF ? tiffName : jpgName);
            const QString source = image->associatedSourcePath;
            QString error;
            bool written = false;
            if (!source.isEmpty() && hasExtension(source, saveTIFF ? std::initializer_list<const char*>{"tif", "tiff"}
                                                                    : std::initializer_list<const char*>{"jpg", "jpeg"})) {
                QFile file(source);
                if (file.open(QIODevice::ReadOnly)) {
                    const QByteArray bytes = file.readAll();
                    if (file.error() == QFile::NoError) {
                        error = platform::saveFile(target, bytes);
                        written = error.isEmpty();
                        if (written && debugLog())
                            PMLog("[Debug] copied source file: %@", target);
                    }
                }
                if (!written && !saveTIFF && error.isEmpty())
                    written = writeToJPEGFile(image, target, 0.95, &error);
            } else if (saveTIFF) {
                written = writeToTIFFFile(image, target, &error);
            } else {
                written = writeToJPEGFile(image, target, 0.95, &error);
            }
            if (!written && saveTIFF && error.isEmpty())
                written = writeToTIFFFile(image, target, &error);
            if (written) {
                // Only now that the new picture is in place do the old ones go.
                deleteImageFile(folder, saveTIFF ? jpgName : tiffName, false);
                deleteImageFile(underscoreFolder, jpgName, true);
                const int origin = image->associatedSourceType & 3;
                const bool copied = !source.isEmpty() && QFileInfo(source).suffix().compare(QFileInfo(target).suffix(), Qt::CaseInsensitive) == 0;
                if (!copied && origin >= 1)
                    setSpotlightCommentAttribute(target, QString::number(origin));
            } else {
                PMLog("cannot save image: %@ (%@)", target, error);
                succeeded = false;
            }
        } else {
            deleteImageFile(folder, jpgName, false);
            deleteImageFile(folder, tiffName, false);
            deleteImageFile(underscoreFolder, jpgName, true);
        }
        const bool startHoverFrames = trigger && image && succeeded && cycles && !hadImage;
        platform::dispatchAsyncMain([this, image, asCover, id, record, startHoverFrames, succeeded, completion = std::move(completion)] {
            QHash<QString, ImagePtr>& pending = asCover ? m_saveQueueCoverImagesByID : m_saveQueuePosterImagesByID;
            if (image && pending.value(id) == image)
                pending.remove(id);
            if (image && !succeeded && record)
                forgetUnsavedImage(*record, image, asCover);
            if (startHoverFrames && record && generateStandardIndexImageWrappers)
                generateStandardIndexImageWrappers(*record);
            if (auto& update = PMMovieRepresentationServices::shared().updateApplicationIconWithCrawlDelta)
                update(-1);
            if (completion)
                completion(succeeded);
        });
    });
}

void PMMovieRepresentationImageLoader::forgetUnsavedImage(PMMovieRepresentationPrototype& movie, const ImagePtr& image, bool asCover)
{
    // The record must not show a picture that is not stored: the next load shows what the
    // folder holds, and the user learns that the new picture was not kept.
    PMMovieRepresentationOriginal& original = movie.original();
    bool dropped = false;
    if (asCover && original.m_coverImage == image) {
        original.m_coverImage.reset();
        dropped = true;
    } else if (!asCover && original.m_posterImage == image) {
        original.m_posterImage.reset();
        original.m_posterImagePending = false;
        dropped = true;
    }
    if (dropped)
        if (auto& refresh = PMMovieRepresentationServices::shared().updatePreviewForMovieRepresentation)
            refresh(movie);
    const QString text = (asCover ? QCoreApplication::translate("PMMovieRepresentationImageLoader", "The cover of “%1” could not be saved.")
                                  : QCoreApplication::translate("PMMovieRepresentationImageLoader", "The preview of “%1” could not be saved."))
                             .arg(movie.displayName());
    Q_EMIT PMMainController::mainController().statusFeedback(text);
}

void PMMovieRepresentationImageLoader::saveUnderscoreCoverImageJPEGRepresentation(const QByteArray& data, const QString& basePath,
                                                                                 const QString& id, quint64 generation)
{
    if (!data.isEmpty() && !basePath.isEmpty())
        saveUnderscoreImageJPEGRepresentation(data, basePath, id, true, generation);
}

void PMMovieRepresentationImageLoader::saveUnderscorePosterImageJPEGRepresentation(const QByteArray& data, const QString& basePath,
                                                                                  const QString& id, quint64 generation)
{
    if (!data.isEmpty() && !basePath.isEmpty())
        saveUnderscoreImageJPEGRepresentation(data, basePath, id, false, generation);
}

void PMMovieRepresentationImageLoader::saveUnderscoreImageJPEGRepresentation(const QByteArray& data, const QString& basePath, const QString& id,
                                                                            bool cover, quint64 generation)
{
    if (!PMIsWellFormedImageID(id) || QFileInfo(basePath).fileName() != id)
        return;
    if (imageGeneration(cover, id) != generation)
        return; // made from a picture that has been replaced since
    QHash<QString, QByteArray>& pending = cover ? m_saveQueueUnderscoreCoverJPEGRepresentationsByID : m_saveQueueUnderscorePosterJPEGRepresentationsByID;
    pending.insert(id, data);
    m_saveQueue.async([this, data, basePath, id, cover, generation] {
        const QString folder = QFileInfo(basePath).absolutePath();
        checkFolderPathAndCreateIfNecessary(folder);
        // Checked again here: a new picture queued after this copy has deleted the old copy
        // and must not see it come back.
        if (imageGeneration(cover, id) == generation) {
            const QString path = pathInFolder(folder, id + QStringLiteral(".jpg"));
            if (!path.isEmpty())
                platform::saveFile(path, data);
        }
        platform::dispatchAsyncMain([this, data, id, cover] {
            QHash<QString, QByteArray>& pending =
                cover ? m_saveQueueUnderscoreCoverJPEGRepresentationsByID : m_saveQueueUnderscorePosterJPEGRepresentationsByID;
            if (pending.value(id) == data)
                pending.remove(id);
        });
    });
}

// ---- Hover frames

void PMMovieRepresentationImageLoader::saveStandardIndexImageWrappers(const IndexImageWrappers* wrappers, PMMovieRepresentationPrototype& movie)
{
    const QString id = movie.uniqueLibraryID();
    const QString indexImagesFolder = PMMainController::mainController().standardIndexImagesDirectoryPath();
    const QString basePath = movie.standardIndexImagesBasePath();
    // Only a folder of the record's own, directly in the index images folder, is ever replaced.
    if (!PMIsWellFormedImageID(id) || indexImagesFolder.isEmpty()
        || QDir::cleanPath(QFileInfo(basePath).absolutePath()) != QDir::cleanPath(QFileInfo(indexImagesFolder).absoluteFilePath())) {
        PMLog("cannot save hover frames: <%@> is no image name", id);
        return;
    }
    if (wrappers && wrappers->empty()) {
        // Nothing was grabbed: not stored as "no frames" for good (the volume may be back next time).
        m_emptyStandardIndexImageIDs.insert(id);
        m_saveQueueStandardIndexImageWrappersByID.remove(id);
        return;
    }
    m_emptyStandardIndexImageIDs.remove(id);
    std::shared_ptr<const IndexImageWrappers> pending;
    if (wrappers) {
        pending = std::make_shared<const IndexImageWrappers>(*wrappers);
        m_saveQueueStandardIndexImageWrappersByID.insert(id, pending);
    } else {
        m_saveQueueStandardIndexImageWrappersByID.remove(id);
    }
    m_saveQueue.async([this, basePath, id, pending] {
        const QString folder = QFileInfo(basePath).absolutePath();
        removePartialHoverFrameFolders(folder, id);
        if (!pending) {
            if (PMRemoveHoverFrameFolder(basePath) && debugLog())
                PMLog("[Debug] deleted image: %@", basePath);
        } else if (const QString failure = writeHoverFrameFolder(*pending, folder, basePath, id); !failure.isEmpty()) {
            // The frames stored before (if any) stay; the next session grabs them again.
            PMLog("cannot save hover frames: %@ (%@)", basePath, failure);
        }
        platform::dispatchAsyncMain([this, id, pending] {
            auto it = m_saveQueueStandardIndexImageWrappersByID.find(id);
            if (it != m_saveQueueStandardIndexImageWrappersByID.end() && it.value() == pending)
                m_saveQueueStandardIndexImageWrappersByID.erase(it);
        });
    });
}

const PMMovieRepresentationImageLoader::IndexImageWrappers*
PMMovieRepresentationImageLoader::saveQueueStandardIndexImageWrappersForMovieRepresentation(PMMovieRepresentationPrototype& movie) const
{
    auto it = m_saveQueueStandardIndexImageWrappersByID.constFind(movie.uniqueLibraryID());
    return it != m_saveQueueStandardIndexImageWrappersByID.constEnd() ? it.value().get() : nullptr;
}
