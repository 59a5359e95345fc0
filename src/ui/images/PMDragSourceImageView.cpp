#include "ui/images/PMDragSourceImageView.h"
#include "platform/FileOperations.h"

#include "foundation/NSString+PMHelpManagerFileAttributes.h"
#include "foundation/NSString+PMHelpManagerFileNames.h"
#include "foundation/PMLog.h"
#include "images/NSImage+PMImageFiles.h"
#include "platform/Alert.h"
#include "platform/FileManager.h"
#include "platform/Paths.h"
#include "platform/SaveFile.h"
#include "platform/SavePanel.h"
#include "foundation/PMSettingsKeys.h"
#include "platform/UserDefaults.h"
#include "ui/kit/NSImage+PMDrawing.h"

#include <QtConcurrent/QtConcurrentRun>
#include <QtCore/QCoreApplication>
#include <QtCore/QDateTime>
#include <QtCore/QDir>
#include <QtCore/QDirIterator>
#include <QtCore/QFile>
#include <QtCore/QFileInfo>
#include <QtCore/QMimeData>
#include <QtCore/QRandomGenerator>
#include <QtCore/QThreadPool>
#include <QtCore/QTemporaryDir>
#include <QtCore/QUrl>
#include <QtGui/QClipboard>
#include <QtGui/QContextMenuEvent>
#include <QtGui/QDrag>
#include <QtGui/QGuiApplication>
#include <QtGui/QMouseEvent>
#include <QtGui/QPainter>
#include <QtWidgets/QApplication>
#include <QtWidgets/QMenu>

#include <cerrno>
#include <cmath>

using platform::Image;
using platform::ImagePtr;

QString PMImageViewLocalized(const char* text)
{
    return QCoreApplication::translate("PMDragSourceImageView", text);
}

namespace {

platform::UserDefaults& defaults()
{
    return platform::UserDefaults::standard();
}

QString sourceFileOf(const ImagePtr& image)
{
    if (!image || image->associatedSourcePath.isEmpty())
        return {};
    const QFileInfo info(image->associatedSourcePath);
    return info.isFile() ? info.absoluteFilePath() : QString();
}

// Writes the image to the path: its source file's bytes, else the picture encoded (the
// given encoding's bytes when there is one).
QString writeImage(const ImagePtr& image, const QString& sourceFile, double factor, const QString& path, const PMImageEncodingPtr& encoding)
{
    QByteArray bytes;
    if (!sourceFile.isEmpty()) {
        QFile source(sourceFile);
        if (!source.open(QIODevice::ReadOnly))
            return PMImageViewLocalized("The file “%1” could not be read: %2").arg(sourceFile, source.errorString());
        bytes = source.readAll();
        if (source.error() != QFileDevice::NoError)
            return PMImageViewLocalized("The file “%1” could not be read: %2").arg(sourceFile, source.errorString());
    } else if (encoding) {
        bytes = encoding->bytes();
        if (bytes.isEmpty())
            return PMImageViewLocalized("The picture could not be encoded.");
    } else {
        bytes = factor < 0 ? PNGRepresentation(image) : JPEGRepresentationWithCompressionFactor(image, factor);
        if (bytes.isEmpty())
            return PMImageViewLocalized("The picture could not be encoded.");
    }
    return platform::saveFile(path, bytes);
}

// The file name (without extension) a picture is saved under.
QString imageFileBaseName(const ImagePtr& image, const QString& suggestedFilename, const QString& type)
{
    QString name = cleanFilename(suggestedFilename);
    if (name.isEmpty())
        name = cleanFilename(QFileInfo(image->associatedSourcePath).completeBaseName());
    if (name.isEmpty())
        name = PMImageViewLocalized("Untitled");
    // The whole name with its extension stays within the file system's 255 bytes.
    return platform::cutToUtf8Bytes(name, 255 - 1 - type.toUtf8().size());
}

void alertSaveFailure(QWidget* window, const QString& path, const QString& reason)
{
    platform::Alert alert;
    alert.messageText = PMImageViewLocalized("The image could not be saved.");
    alert.informativeText = path.isEmpty() ? reason : PMImageViewLocalized("%1\n\n%2").arg(QDir::toNativeSeparators(path), reason);
    alert.window = window;
    platform::runAlert(alert);
}

// Writes the encoded picture on a worker. With `freeName` the path is a suggestion in a
// folder that nobody confirmed replacing in: the bytes go to a hidden name first and take
// the first free name from there, so two saves in a row never write over each other.
// A failure is logged and, when the save had a window, said in an alert on the main thread.
void writeEncodingLater(const PMImageEncodingPtr& encoding, const QString& path, bool freeName, QWidget* referenceWindow)
{
    const bool alerts = referenceWindow != nullptr;
    QPointer<QWidget> window = referenceWindow;
    // (An encoding is shared by drags, copies and saves: each waits for it on a worker of
    // its own rather than chaining onto its future, which takes one continuation only.)
    QThreadPool::globalInstance()->start([encoding, path, freeName, alerts, window] {
        QString failure;
        const QByteArray bytes = encoding->bytes();
        if (bytes.isEmpty()) {
            failure = PMImageViewLocalized("The picture could not be encoded.");
        } else if (!freeName) {
            failure = platform::saveFile(path, bytes);
        } else {
            const QFileInfo info(path);
            const QString random = QString::number(QRandomGenerator::global()->generate64() & 0xffffffffffffULL, 16).rightJustified(12, u'0');
            const QString hidden = info.dir().filePath(QStringLiteral(".%1.pellis-%2").arg(info.fileName(), random));
            failure = platform::saveFile(hidden, bytes);
            // A name taken meanwhile (by another save) makes it take the next free one.
            QString target = path;
            for (int attempt = 0; failure.isEmpty() && attempt < 100; ++attempt) {
                int code = 0;
                if (platform::renameWithoutReplacing(hidden, target, &failure, &code))
                    break;
                if (code != EEXIST)
                    break;
                failure.clear();
                target = availablePath(target);
                if (target.isEmpty())
                    failure = PMImageViewLocalized("No free file name was found.");
            }
            if (!failure.isEmpty())
                QFile::remove(hidden);
        }
        if (failure.isEmpty())
            return;
        PMLog("cannot save image to <%@>: %@", path, failure);
        if (alerts)
            QMetaObject::invokeMethod(QCoreApplication::instance(), [path, window, failure] { alertSaveFailure(window, path, failure); }, Qt::QueuedConnection);
    });
}

} // namespace

// ---- Encoded pictures

PMImageEncoding::PMImageEncoding(const ImagePtr& image, double factor) : m_image(image), m_factor(factor < 0 ? -1.0 : std::min(factor, 1.0))
{
    const double kind = m_factor;
    m_future = QtConcurrent::run([image, kind] {
        if (!image)
            return QByteArray();
        return kind < 0 ? PNGRepresentation(image) : JPEGRepresentationWithCompressionFactor(image, kind);
    });
}

QByteArray PMImageEncoding::bytes() const
{
    QFuture<QByteArray> future = m_future;
    future.waitForFinished();
    return future.result();
}

// ---- Pasteboard data

PMImagePasteboardData::PMImagePasteboardData(const ImagePtr& image, const QString& filePath, double factor, PMImageEncodingPtr encodedPNG)
    : m_hasFile(!filePath.isEmpty())
{
    m_png = encodedPNG && encodedPNG->image() == image && encodedPNG->JPEGCompressionFactor() < 0 ? std::move(encodedPNG)
                                                                                                    : std::make_shared<PMImageEncoding>(image);
    if (!m_hasFile)
        return;
    setUrls({QUrl::fromLocalFile(filePath)});
    const PMImageEncodingPtr fileBytes = factor < 0 ? m_png : std::make_shared<PMImageEncoding>(image, factor);
    m_file = QtConcurrent::run([fileBytes, filePath] {
        const QByteArray bytes = fileBytes->bytes();
        const QString failure = bytes.isEmpty() ? PMImageViewLocalized("The picture could not be encoded.") : platform::saveFile(filePath, bytes);
        if (!failure.isEmpty())
            PMLog("cannot write dragged image to <%@>: %@", filePath, failure);
        return failure;
    });
}

PMImagePasteboardData::~PMImagePasteboardData() = default;

QStringList PMImagePasteboardData::formats() const
{
    QStringList types = QMimeData::formats();
    if (!types.contains(QStringLiteral("image/png")))
        types.prepend(QStringLiteral("image/png"));
    return types;
}

bool PMImagePasteboardData::hasFormat(const QString& mimeType) const
{
    return mimeType == QLatin1String("image/png") || QMimeData::hasFormat(mimeType);
}

QString PMImagePasteboardData::fileError() const
{
    if (!m_hasFile)
        return {};
    QFuture<QString> file = m_file;
    file.waitForFinished();
    return file.result();
}

QVariant PMImagePasteboardData::retrieveData(const QString& mimeType, QMetaType type) const
{
    if (mimeType == QLatin1String("image/png")) {
        const QByteArray png = m_png->bytes();
        return png.isEmpty() ? QVariant() : QVariant(png);
    }
    // A file that is not written (yet) is not handed out.
    if (m_hasFile && mimeType == QLatin1String("text/uri-list") && !fileError().isEmpty())
        return QVariant();
    return QMimeData::retrieveData(mimeType, type);
}

// ---- Revealing

void revealAssociatedSource(const ImagePtr& image)
{
    const QString path = image ? image->associatedSourcePath : QString();
    if (path.isEmpty() || !QFileInfo::exists(path) || !platform::revealInFileManager({path}))
        PMLog("cannot reveal source for image %@ at <%@>", image ? QStringLiteral("%1 × %2").arg(image->size().width()).arg(image->size().height()) : QStringLiteral("(none)"), path);
}

PMDragSourceImageView::PMDragSourceImageView(QWidget* parent) : QWidget(parent)
{
    setContextMenuPolicy(Qt::DefaultContextMenu);
}

PMDragSourceImageView::~PMDragSourceImageView() = default;

// ---- Class settings

QString PMDragSourceImageView::JPEGCompressionUserDefaultsKey(const QString& className)
{
    return className + QStringLiteral(": JPEG Compression Factor");
}

double PMDragSourceImageView::JPEGCompressionFactor(const QString& className)
{
    const platform::Value value = defaults().objectForKey(JPEGCompressionUserDefaultsKey(className));
    if (!value.isReal() && !value.isInteger())
        return -1.0;
    return std::clamp(value.toDouble(), 0.0, 1.0);
}

QString PMDragSourceImageView::silentSaveDirectory(const QString& className)
{
    const QString path = defaults().stringForKey(className + prefs::suffixes::SilentSaveDirectory);
    return path.isEmpty() ? QString() : platform::stringByExpandingTildeInPath(path);
}

QString PMDragSourceImageView::canRevealSourceUserDefaultsKey(const QString& className)
{
    return className + QStringLiteral(": Reveal Source");
}

bool PMDragSourceImageView::canRevealSource(const QString& className)
{
    return defaults().boolForKey(canRevealSourceUserDefaultsKey(className));
}

// ---- Saving

bool PMDragSourceImageView::saveImage(const ImagePtr& image, double factor, const QString& toDirectory, const QString& suggestedFilename,
                                      QString* getFilename, QWidget* referenceWindow, const QString& className, QString* error,
                                      const PMImageEncodingPtr& givenEncoding)
{
    if (!image || !image->isValid())
        return false;
    // The source file is copied when it is still there; else the picture is encoded.
    const QString sourceFile = sourceFileOf(image);
    const QString sourceExtension = QFileInfo(sourceFile).suffix();
    const QString source = sourceExtension.isEmpty() ? QString() : sourceFile;
    const QString type = !source.isEmpty() ? sourceExtension : (factor < 0 ? QStringLiteral("png") : QStringLiteral("jpg"));
    const QString name = imageFileBaseName(image, suggestedFilename, type);

    // The picture is encoded once, when a path is known: the given encoding when it is of
    // this kind, else one started then.
    const double kind = factor < 0 ? -1.0 : std::min(factor, 1.0);
    const bool reusable = givenEncoding && givenEncoding->image() == image && givenEncoding->JPEGCompressionFactor() == kind;
    // When nobody waits for the answer, the file is written on a worker and a failure said later.
    const bool later = source.isEmpty() && !getFilename && !error && QCoreApplication::instance();

    const auto write = [=](const QString& path, QString* reason, bool freeName) {
        const PMImageEncodingPtr encoding = !source.isEmpty() ? nullptr : reusable ? givenEncoding : std::make_shared<PMImageEncoding>(image, kind);
        if (later && QFileInfo(QFileInfo(path).absolutePath()).isDir()) {
            writeEncodingLater(encoding, path, freeName, referenceWindow);
            return true;
        }
        const QString failure = writeImage(image, source, factor, path, encoding);
        if (failure.isEmpty())
            return true;
        PMLog("cannot save image to <%@>: %@", path, failure);
        if (reason)
            *reason = failure;
        if (referenceWindow)
            alertSaveFailure(referenceWindow, path, failure);
        return false;
    };

    QString folder = toDirectory.isEmpty() ? silentSaveDirectory(className) : toDirectory;
    if (!folder.isEmpty()) {
        const QString path = availablePath(QDir(folder).filePath(name + u'.' + type));
        if (path.isEmpty()) {
            if (error)
                *error = PMImageViewLocalized("No free file name was found in “%1”.").arg(folder);
            if (referenceWindow)
                alertSaveFailure(referenceWindow, folder, PMImageViewLocalized("No free file name was found."));
            return false;
        }
        if (!write(path, error, true))
            return false;
        if (getFilename)
            *getFilename = QFileInfo(path).fileName();
        return true;
    }

    platform::SavePanel panel;
    panel.title = PMImageViewLocalized("Save File");
    panel.proposedName = name;
    panel.allowedExtension = type;
    panel.window = referenceWindow ? referenceWindow->window() : nullptr;
    // A window of its own (no parent window) takes the panel as a sheet.
    if (!getFilename && panel.window && !panel.window->parentWidget() && !QApplication::activeModalWidget()) {
        platform::beginSavePanelSheet(panel, [write](const QString& path) {
            if (!path.isEmpty())
                write(path, nullptr, false);
        });
        return true;
    }
    const QString path = platform::runSavePanel(panel);
    if (path.isEmpty())
        return false;
    if (!write(path, error, false))
        return false;
    if (getFilename)
        *getFilename = QFileInfo(path).fileName();
    return true;
}

// ---- The image

void PMDragSourceImageView::setImage(ImagePtr image)
{
    _dragImage.reset();
    m_encodedPNG.reset();
    m_image = std::move(image);
    update();
}

ImagePtr PMDragSourceImageView::dragImage()
{
    if (_dragImage || !m_image)
        return _dragImage;
    ImagePtr translucent = imageWithAlpha(m_image, 0.5);
    if (!translucent)
        return nullptr;
    const QSizeF size = m_image->size();
    const double longer = std::max(size.width(), size.height());
    if (longer > 600) {
        const bool wide = size.width() >= size.height();
        const double other = std::floor((wide ? size.height() : size.width()) * 600 / longer);
        translucent->setSize(wide ? QSizeF(600, other) : QSizeF(other, 600));
    }
    _dragImage = translucent;
    return _dragImage;
}

PMImageEncodingPtr PMDragSourceImageView::encodedPNG()
{
    if (!m_encodedPNG && m_image)
        m_encodedPNG = std::make_shared<PMImageEncoding>(m_image);
    return m_encodedPNG;
}

QRectF PMDragSourceImageView::imageRect() const
{
    if (!m_image)
        return {};
    const QSizeF bounds = size();
    QSizeF shown = m_image->size();
    if (shown.width() > bounds.width() || shown.height() > bounds.height()) {
        const double scale = std::max(shown.width() / std::max(bounds.width(), 1.0), shown.height() / std::max(bounds.height(), 1.0));
        shown = QSizeF(shown.width() / scale, shown.height() / scale);
    }
    return QRectF((bounds.width() - shown.width()) / 2, (bounds.height() - shown.height()) / 2, shown.width(), shown.height());
}

double PMDragSourceImageView::JPEGCompressionFactorForImage(const ImagePtr&) const
{
    return JPEGCompressionFactor(className());
}

bool PMDragSourceImageView::saveImage(const ImagePtr& image, const QString& toDirectory, const QString& suggestedFilename, QString* getFilename)
{
    const ImagePtr target = image ? image : m_image;
    if (!target)
        return false;
    return saveImage(target, JPEGCompressionFactorForImage(target), toDirectory, suggestedFilename.isNull() ? _filename : suggestedFilename,
                     getFilename, window(), className(), nullptr, target == m_image ? encodedPNG() : nullptr);
}

bool PMDragSourceImageView::saveImage(const QString& suggestedFilename)
{
    return saveImage(nullptr, QString(), suggestedFilename, nullptr);
}

void PMDragSourceImageView::save(QObject*)
{
    saveImage(_filename);
}

void PMDragSourceImageView::copy()
{
    if (!m_image || !qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return;
    auto* data = new PMImagePasteboardData(m_image, QString(), -1, encodedPNG());
    data->setImageData(m_image->pixels()); // the picture itself, for a paste in this program
    QGuiApplication::clipboard()->setMimeData(data);
}

// ---- Menus

std::unique_ptr<QMenu> PMDragSourceImageView::menuForEvent(QPoint)
{
    if (!m_image)
        return nullptr;
    auto menu = std::make_unique<QMenu>(PMImageViewLocalized("Image"), this);
    QPointer<PMDragSourceImageView> self = this;
    menu->addAction(PMImageViewLocalized("Save..."), this, [self] {
        if (self)
            self->save(nullptr);
    });
    menu->addAction(PMImageViewLocalized("Copy"), this, [self] {
        if (self)
            self->copy();
    });
    const QString source = m_image->associatedSourcePath;
    if (!source.isEmpty() && canRevealSource()) {
        menu->addSeparator();
        const ImagePtr image = m_image;
        menu->addAction(PMImageViewLocalized("Show in File Manager"), this, [image] { revealAssociatedSource(image); });
    }
    return menu;
}

void PMDragSourceImageView::contextMenuEvent(QContextMenuEvent* event)
{
    if (std::unique_ptr<QMenu> menu = menuForEvent(event->pos()))
        menu->exec(event->globalPos());
}

// ---- Dragging

QRect PMDragSourceImageView::draggingSourceRectForEvent(QPoint position)
{
    const ImagePtr drag = dragImage();
    const QSize bounds = size();
    if (!drag)
        return rect();
    const QSizeF dragSize = drag->size();
    if (std::floor(dragSize.width()) < std::floor(double(bounds.width()))) {
        const int x = int(std::floor(position.x() - dragSize.width() * position.x() / std::max(bounds.width(), 1)));
        const int y = int(std::floor(position.y() - dragSize.height() * position.y() / std::max(bounds.height(), 1)));
        return QRect(x, y, int(dragSize.width()), int(dragSize.height()));
    }
    return rect();
}

QString PMDragSourceImageView::draggedFilesFolder()
{
    return platform::privateCacheFolder(QStringLiteral("com.tolvane.Pellis.DraggedImages"), true);
}

QMimeData* PMDragSourceImageView::draggingPasteboard(QString* error)
{
    if (!m_image)
        return nullptr;
    QString file = sourceFileOf(m_image);
    if (file.isEmpty()) {
        // The receiver reads the file when the drop lands: it is written now, into a fresh
        // folder of its own so that it keeps the offered name. Folders of earlier drags
        // are removed after a day.
        const QString folder = draggedFilesFolder();
        if (folder.isEmpty()) {
            if (error)
                *error = PMImageViewLocalized("The folder for dragged images could not be made.");
            return nullptr;
        }
        const QDateTime dayAgo = QDateTime::currentDateTimeUtc().addDays(-1);
        for (const QFileInfo& old : QDir(folder).entryInfoList({QStringLiteral("drag-*")}, QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks))
            if (old.lastModified().toUTC() < dayAgo)
                QDir(old.absoluteFilePath()).removeRecursively();
        QTemporaryDir fresh(folder + QStringLiteral("/drag-XXXXXX"));
        if (!fresh.isValid()) {
            if (error)
                *error = fresh.errorString();
            return nullptr;
        }
        fresh.setAutoRemove(false);
        // The picture is encoded (once) and written on a worker; the drop waits for it.
        const double factor = JPEGCompressionFactorForImage(m_image);
        const QString type = factor < 0 ? QStringLiteral("png") : QStringLiteral("jpg");
        const QString path = QDir(fresh.path()).filePath(imageFileBaseName(m_image, _filename, type) + u'.' + type);
        auto* data = new PMImagePasteboardData(m_image, path, factor, encodedPNG());
        data->setData(QString::fromLatin1(kPMDragSourceImageViewSourcePasteboardType), QByteArray());
        return data;
    }
    auto* data = new PMImagePasteboardData(m_image, QString(), -1, encodedPNG());
    data->setData(QString::fromLatin1(kPMDragSourceImageViewSourcePasteboardType), m_image->associatedSourcePath.toUtf8());
    data->setUrls({QUrl::fromLocalFile(file)});
    return data;
}

void PMDragSourceImageView::startImageDrag(QPoint position)
{
    QString error;
    QMimeData* data = draggingPasteboard(&error);
    if (!data) {
        PMLog("cannot drag image: %@", error);
        platform::beep();
        return;
    }
    const QRect source = draggingSourceRectForEvent(position);
    auto* drag = new QDrag(this);
    drag->setMimeData(data);
    if (const ImagePtr image = dragImage()) {
        QPixmap pixmap = QPixmap::fromImage(image->pixels());
        if (image->size().width() > 0)
            pixmap = pixmap.scaled((image->size() * devicePixelRatioF()).toSize(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        pixmap.setDevicePixelRatio(devicePixelRatioF());
        drag->setPixmap(pixmap);
        drag->setHotSpot(position - source.topLeft());
    }
    // Always a copy, inside and outside the program: nothing is taken from the view.
    drag->exec(Qt::CopyAction, Qt::CopyAction);
    _dragImage.reset();
}

void PMDragSourceImageView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    m_pressed = true;
    m_dragged = false;
    m_pressPosition = event->position().toPoint();
    m_pressTimer.start();
}

void PMDragSourceImageView::mouseMoveEvent(QMouseEvent* event)
{
    if (!m_pressed || m_dragged || !(event->buttons() & Qt::LeftButton))
        return;
    if ((event->position().toPoint() - m_pressPosition).manhattanLength() < QApplication::startDragDistance())
        return;
    m_dragged = true;
    m_pressed = false;
    if (m_image)
        startImageDrag(m_pressPosition);
}

void PMDragSourceImageView::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !m_pressed) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    m_pressed = false;
    if (!m_dragged)
        pressReleasedWithoutDrag(event->position().toPoint(), m_pressTimer.isValid() ? m_pressTimer.elapsed() : 0);
}

// ---- Drops

void PMDragSourceImageView::setAcceptsImageDrops(bool accepts)
{
    m_acceptsDrops = accepts;
    setAcceptDrops(accepts);
}

void PMDragSourceImageView::dragEnterEvent(QDragEnterEvent* event)
{
    const QMimeData* data = event->mimeData();
    const bool ownType = data->hasFormat(QString::fromLatin1(kPMDragSourceImageViewSourcePasteboardType)) && data->hasFormat(QStringLiteral("image/png"));
    bool files = data->hasUrls();
    for (const QUrl& url : data->urls())
        files = files && url.isLocalFile();
    if (m_acceptsDrops && (ownType || files)) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    } else {
        event->ignore();
    }
}

void PMDragSourceImageView::dropEvent(QDropEvent* event)
{
    if (m_acceptsDrops && concludeDragOperation(*event->mimeData())) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    } else {
        event->ignore();
    }
}

bool PMDragSourceImageView::concludeDragOperation(const QMimeData& data)
{
    const ImagePtr before = m_image;
    QStringList files;
    for (const QUrl& url : data.urls())
        if (url.isLocalFile())
            files.append(url.toLocalFile());
    QString sourcePath;
    if (files.size() == 1)
        sourcePath = files.constFirst();
    else if (data.hasFormat(QString::fromLatin1(kPMDragSourceImageViewSourcePasteboardType)))
        sourcePath = QString::fromUtf8(data.data(QString::fromLatin1(kPMDragSourceImageViewSourcePasteboardType)));

    // The program's own picture, else the first file that reads as a picture.
    ImagePtr dropped;
    if (data.hasFormat(QStringLiteral("image/png")) && data.hasFormat(QString::fromLatin1(kPMDragSourceImageViewSourcePasteboardType))) {
        const QImage pixels = QImage::fromData(data.data(QStringLiteral("image/png")), "PNG");
        if (!pixels.isNull())
            dropped = Image::make(pixels);
    }
    for (qsizetype i = 0; !dropped && i < files.size(); ++i)
        dropped = PMImageWithContentsOfFile(files.at(i));
    if (!dropped)
        return false;
    dropped->associatedSourcePath.clear();
    setImage(dropped);
    if (!sourcePath.isEmpty() && m_image != before)
        m_image->associatedSourcePath = sourcePath;
    return true;
}

// ---- Drawing

void PMDragSourceImageView::drawImage(QPainter& painter)
{
    if (!m_image)
        return;
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(imageRect(), m_image->pixels());
}

void PMDragSourceImageView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    drawImage(painter);
}
