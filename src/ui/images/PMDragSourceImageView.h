// An image view that hands its image out: dragged to a file manager or another program it
// carries the picture (PNG) and a file of it (the image's own source file, or one written
// into a private folder when the drag starts); its context menu saves, copies or reveals
// it; and an image dropped on it (where the view takes drops) remembers where it came
// from. Each subclass keeps its own JPEG factor, silent save folder and reveal setting in
// user defaults whose keys begin with the subclass's name.
#pragma once

#include "platform/Image.h"

#include <QtCore/QElapsedTimer>
#include <QtCore/QFuture>
#include <QtCore/QMimeData>
#include <QtCore/QPoint>
#include <QtCore/QPointer>
#include <QtCore/QRectF>
#include <QtCore/QString>
#include <QtWidgets/QWidget>

#include <memory>

class QMenu;

// The type under which a drag from such a view carries its image's source path (empty
// text when it has none).
inline constexpr char kPMDragSourceImageViewSourcePasteboardType[] = "com.tolvane.PMDragSourceImageViewSourcePasteboardType";

// A picture encoded once, on a worker, as PNG or (with a factor from 0 to 1) as JPEG.
// Encoding a large picture (an index sheet of tens of megapixels) takes seconds: whoever
// needs the bytes (a drop, a paste, a saved file) waits for the worker then, and every
// later receiver gets the same bytes.
class PMImageEncoding {
public:
    explicit PMImageEncoding(const platform::ImagePtr& image, double JPEGCompressionFactor = -1);
    const platform::ImagePtr& image() const { return m_image; }
    double JPEGCompressionFactor() const { return m_factor; }
    // The encoded bytes (empty when the picture cannot be encoded); waits for the worker.
    QByteArray bytes() const;

private:
    platform::ImagePtr m_image;
    double m_factor;
    QFuture<QByteArray> m_future;
};
using PMImageEncodingPtr = std::shared_ptr<PMImageEncoding>;

// A picture on the clipboard or in a drag: its PNG (one given, or one started on a worker
// as soon as the data is made) is handed out when a receiver asks for it. With a file path
// a worker also writes the file, as PNG or, with a factor from 0 to 1, as JPEG, and the
// file's URL is handed out once it is written.
class PMImagePasteboardData : public QMimeData {
public:
    explicit PMImagePasteboardData(const platform::ImagePtr& image, const QString& filePath = QString(), double JPEGCompressionFactor = -1,
                                   PMImageEncodingPtr encodedPNG = nullptr);
    ~PMImagePasteboardData() override;
    QStringList formats() const override;
    bool hasFormat(const QString& mimeType) const override;
    // Waits for the worker: the reason the file could not be written, or nothing.
    QString fileError() const;

protected:
    QVariant retrieveData(const QString& mimeType, QMetaType type) const override;

private:
    PMImageEncodingPtr m_png;
    QFuture<QString> m_file;
    bool m_hasFile = false;
};

class PMDragSourceImageView : public QWidget {
    Q_OBJECT
public:
    explicit PMDragSourceImageView(QWidget* parent = nullptr);
    ~PMDragSourceImageView() override;

    // The name the class's settings begin with.
    virtual QString className() const { return QStringLiteral("PMDragSourceImageView"); }

    // ---- The class's settings
    static QString JPEGCompressionUserDefaultsKey(const QString& className);
    // The JPEG factor of written files; -1 (PNG) when no number is stored.
    static double JPEGCompressionFactor(const QString& className);
    // The folder saving writes into without asking; empty when none is set.
    static QString silentSaveDirectory(const QString& className);
    static QString canRevealSourceUserDefaultsKey(const QString& className);
    static bool canRevealSource(const QString& className);

    // Saves the image: its source file copied when it has one that is still there, else
    // encoded as JPEG with the factor or, below 0, as PNG (the given encoding when it is
    // of this image and kind). Into the folder (or the class's silent folder) under the
    // first free name; else where the user chooses in a save panel. Without `getFilename`
    // and with a window of its own as reference the panel is a sheet: YES at once, and the
    // file is written when the user confirms. A caller that asks for neither the name nor
    // the error gets the picture encoded and written on a worker (the window stays
    // responsive); else it waits for the file. A failed write says so in an alert when
    // there is a reference window; `error` gets its reason.
    static bool saveImage(const platform::ImagePtr& image, double JPEGCompressionFactor, const QString& toDirectory,
                          const QString& suggestedFilename, QString* getFilename, QWidget* referenceWindow, const QString& className,
                          QString* error = nullptr, const PMImageEncodingPtr& encoding = nullptr);

    // ---- The image
    const platform::ImagePtr& image() const { return m_image; }
    virtual void setImage(platform::ImagePtr image);
    // The file name offered when the image is dragged out or saved.
    QString filename() const { return _filename; }
    void setFilename(const QString& filename) { _filename = filename; }
    // The translucent copy shown under the pointer while dragging: half opaque, its longer
    // side at most 600 points.
    platform::ImagePtr dragImage();
    // The shown image as PNG, encoded once on a worker for drags, copies and saves.
    PMImageEncodingPtr encodedPNG();
    // Where the image is drawn: scaled down proportionally when larger than the view,
    // centred.
    QRectF imageRect() const;

    // ---- Saving, copying, revealing
    virtual double JPEGCompressionFactorForImage(const platform::ImagePtr& image) const;
    // The image (nothing: the shown one) saved with the view's window as reference.
    bool saveImage(const platform::ImagePtr& image, const QString& toDirectory, const QString& suggestedFilename, QString* getFilename);
    bool saveImage(const QString& suggestedFilename);
    virtual void save(QObject* sender);
    // Puts the shown image on the clipboard.
    void copy();
    bool canRevealSource() const { return canRevealSource(className()); }

    // ---- Dragging
    // The context menu at the point (nothing without an image).
    virtual std::unique_ptr<QMenu> menuForEvent(QPoint position);
    // The part of the view the drag image covers, the pointer keeping its place in it.
    QRect draggingSourceRectForEvent(QPoint position);
    // What a drag of the shown image carries: PNG, the source path under the view's own
    // type, and the file (the source itself, or one written on a worker into a fresh
    // private folder, handed out once written). Nothing, with the reason, when that folder
    // cannot be made: such a drag does not start.
    QMimeData* draggingPasteboard(QString* error = nullptr);
    // The private folder that dragged files are written into.
    static QString draggedFilesFolder();

    // ---- Drops (off by default)
    void setAcceptsImageDrops(bool accepts);
    bool acceptsImageDrops() const { return m_acceptsDrops; }
    // Takes the image of a drop; answers whether the view now shows a new image.
    bool concludeDragOperation(const QMimeData& data);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    // Draws the image into its rectangle.
    void drawImage(QPainter& painter);
    // A press that ended without a drag, and how long it was held.
    virtual void pressReleasedWithoutDrag(QPoint position, qint64 heldMs) {}
    // Starts the drag of the shown image from the point.
    void startImageDrag(QPoint position);

private:
    platform::ImagePtr m_image;
    platform::ImagePtr _dragImage;
    PMImageEncodingPtr m_encodedPNG;
    QString _filename;
    bool m_acceptsDrops = false;
    bool m_pressed = false;
    bool m_dragged = false;
    QPoint m_pressPosition;
    QElapsedTimer m_pressTimer;
};

// Shows the image's source file in the file manager; without one (or when it cannot be
// shown), a log line.
void revealAssociatedSource(const platform::ImagePtr& image);

// The localized text of the image views.
QString PMImageViewLocalized(const char* text);
