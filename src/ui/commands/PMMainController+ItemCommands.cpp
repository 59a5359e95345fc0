// The item commands on the current frame and the pictures of movies: the frame (or an
// area of it) as the movie's preview, as PNG on the clipboard or saved as a file; and the
// covers, previews and index images of the movies a command acts on.
#include "library/model/PMMainController.h"

#include "foundation/PMFunctions.h"
#include "foundation/PMLog.h"
#include "images/PMMovieRepresentationImageLoader.h"
#include "library/model/PMMovieRepresentation.h"
#include "platform/Alert.h"
#include "platform/Image.h"
#include "platform/Responder.h"
#include "platform/media/Player.h"
#include "playback/PMMovie.h"
#include "playback/PMPlayback.h"

#include <QtCore/QBuffer>
#include <QtCore/QMimeData>
#include <QtGui/QAction>
#include <QtGui/QClipboard>
#include <QtGui/QGuiApplication>
#include <QtGui/QPainter>
#include <QtGui/QScreen>
#include <QtCore/QCoreApplication>
#include <QtCore/QLocale>
#include <QtWidgets/QInputDialog>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QWidget>

#include <cmath>

using platform::ArrayPtr;
using platform::DictionaryPtr;
using platform::ImagePtr;
using platform::Value;

namespace {

// The part of the image that the area covers of the full rectangle (both in the same
// coordinates); the image itself when they are the same.
ImagePtr cutImage(const ImagePtr& image, const QRect& area, const QRect& full)
{
    if (!image || area == full || full.width() < 1 || full.height() < 1)
        return image;
    const QImage& pixels = image->pixels();
    const double sx = pixels.width() / double(full.width());
    const double sy = pixels.height() / double(full.height());
    const QRect cut = QRectF((area.x() - full.x()) * sx, (area.y() - full.y()) * sy, area.width() * sx, area.height() * sy).toAlignedRect() & pixels.rect();
    if (cut.isEmpty())
        return nullptr;
    return platform::Image::make(pixels.copy(cut));
}

} // namespace

ImagePtr PMMainController::screenshotWithScreenRect(const QRect& rect)
{
    QScreen* screen = rect.isEmpty() ? QGuiApplication::primaryScreen() : QGuiApplication::screenAt(rect.center());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return nullptr;
    // The screen's own coordinates: the rectangle is global.
    const QRect local = rect.isEmpty() ? QRect() : rect.translated(-screen->geometry().topLeft());
    const QPixmap picture = local.isEmpty() ? screen->grabWindow(0) : screen->grabWindow(0, local.x(), local.y(), local.width(), local.height());
    if (picture.isNull())
        return nullptr;
    return platform::Image::make(picture.toImage());
}

void PMMainController::processCurrentFrameSection(bool section, bool copy, bool save)
{
    QWidget* view = playerView;
    QWidget* window = view ? view->window() : nullptr;
    PMMovieRepresentationPrototype* current = PMMovie(_currentMovieRepresentation);
    if (!window || !current)
        return;
    const QRect full(view->mapToGlobal(QPoint(0, 0)), view->size());
    QRect area = full;
    if (section) {
        if (!_itemCommands.selectArea)
            return;
        area = _itemCommands.selectArea(full, !copy && !save);
        if (area.isEmpty())
            return;
    }
    const DictionaryPtr settings = current->userSettings();
    const Value aspectRatio = settings ? settings->value(QStringLiteral("Aspect Ratio")) : Value();
    PMPlayerViewContent& content = playerViewContent();
    ImagePtr image;
    if (content.movieReplacingImage) {
        // A still image is cut without asking the player, and always copied first so that
        // the result is a picture of its own.
        image = platform::Image::make(content.movieReplacingImage->pixels().copy());
    } else if (content.moviePlayer) {
        image = frameImageAtCurrentTimeFlippedHorizontally(*content.moviePlayer, content.flipsHorizontally, content.angle,
                                                           settings ? settings->value(QStringLiteral("Visible Area")).dictionary() : nullptr,
                                                           aspectRatio, QSizeF());
        if (!image || !image->isValid()) {
            image = screenshotWithScreenRect(area);
            PMLog(QStringLiteral("generated fallback poster image: %@ (frame: %@)"), image ? QStringLiteral("%1 × %2").arg(image->pixels().width()).arg(image->pixels().height()) : QStringLiteral("(null)"),
                  QStringLiteral("{{%1, %2}, {%3, %4}}").arg(area.x()).arg(area.y()).arg(area.width()).arg(area.height()));
            area = full; // the screenshot is of the area already
        }
    }
    if (!image || !image->isValid())
        return;
    image = cutImage(image, area, full);
    if (!image || !image->isValid())
        return;

    if (!copy && !save) {
        current->setPosterImage(image);
        if (auto& update = PMMovieRepresentationServices::shared().updatePreviewForMovieRepresentation)
            update(*current);
        return;
    }
    if (copy) {
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        if (!image->pixels().save(&buffer, "PNG") || png.isEmpty()) {
            PMLog(QStringLiteral("cannot copy frame as PNG"));
            platform::beep();
        } else {
            auto* data = new QMimeData;
            data->setData(QStringLiteral("image/png"), png);
            QGuiApplication::clipboard()->setMimeData(data);
        }
    }
    if (save && _itemCommands.saveImage) {
        // "Name.mov (1'02'03.456)": a colon has no place in a file name on every system.
        QString time = PMDurationString(timeSlider.currentTime, false, false, true);
        time.replace(u':', u'\'');
        _itemCommands.saveImage(image, QStringLiteral("%1 (%2)").arg(current->displayNameWithExtension(true), time), window);
    }
}

void PMMainController::setCustomPosterImage(QObject* sender)
{
    QAction* item = qobject_cast<QAction*>(sender);
    const qint64 tag = platform::menuItemTag(item);
    if (tag > 0) {
        processCurrentFrameSection(tag % 10 == 2, false, tag > 10);
        return;
    }
    ArrayPtr movies;
    if (!_currentMovieRepresentation.isNull()) {
        movies = platform::Array::make();
        movies->append(_currentMovieRepresentation);
    } else {
        movies = cachedInfoMovieRepresentationsSorted(false);
    }
    if (!movies)
        return;
    for (const Value& v : *movies) {
        PMMovieRepresentationPrototype* movie = PMMovie(v);
        if (!movie)
            continue;
        if (tag == 0) {
            movie->setCoverImage(nullptr);
            movie->setPosterImage(nullptr);
            if (auto& update = PMMovieRepresentationServices::shared().updatePreviewForMovieRepresentation)
                update(*movie);
        } else if (tag == -1) {
            PMMovieRepresentationImageLoader::defaultLoader().generateStandardIndexImageWrappersForMovieRepresentation(*movie);
        } else if (tag == -2) {
            movie->clearStandardIndexImages();
        }
    }
}

// ---- Going to a time ----------------------------------------------------------------------

std::optional<double> PMMainController::secondsFromTimeString(const QString& text)
{
    const QStringList parts = text.trimmed().split(u':');
    if (parts.isEmpty() || parts.size() > 3)
        return std::nullopt;
    double seconds = 0;
    for (qsizetype i = 0; i < parts.size(); ++i) {
        QString part = parts[i].trimmed();
        const bool last = i == parts.size() - 1;
        if (last)
            part.replace(u',', u'.');
        if (part.isEmpty() || part.startsWith(u'+') || part.startsWith(u'-'))
            return std::nullopt;
        bool ok = false;
        const double value = last ? QLocale::c().toDouble(part, &ok) : double(part.toULongLong(&ok));
        if (!ok || !std::isfinite(value) || value < 0)
            return std::nullopt;
        // Minutes and seconds after a larger unit stay below 60.
        if (i > 0 && value >= 60)
            return std::nullopt;
        seconds = seconds * 60 + value;
    }
    return seconds;
}

void PMMainController::goToTime()
{
    PMMovieRepresentationPrototype* current = PMMovie(_currentMovieRepresentation);
    if (!current)
        return;
    const QString now = PMDurationString(timeSlider.currentTime, false, false, true);
    QString answer;
    if (_goToTimeOverride) {
        answer = _goToTimeOverride(now);
    } else {
        QWidget* window = playerView ? playerView->window() : mainWindow();
        bool ok = false;
        answer = QInputDialog::getText(window, QCoreApplication::translate("PMMainController", "Go to Time"),
                                       QCoreApplication::translate("PMMainController", "Time (hours:minutes:seconds):"), QLineEdit::Normal, now, &ok);
        if (!ok)
            answer.clear();
    }
    if (answer.trimmed().isEmpty())
        return;
    const std::optional<double> seconds = secondsFromTimeString(answer);
    if (!seconds) {
        platform::Alert alert;
        alert.messageText = QCoreApplication::translate("PMMainController", "The time \u201c%1\u201d cannot be read.").arg(answer.trimmed());
        alert.informativeText = QCoreApplication::translate("PMMainController", "Type a time such as 1:02:03, 62:03 or 3723 (seconds).");
        alert.window = playerView ? playerView->window() : nullptr;
        platform::runAlert(alert);
        return;
    }
    // A time past the end goes to the end.
    setTimeSliderCurrentTimeValue(*seconds);
    updateTimeDisplay(nullptr);
    if (_updatePlaybackControls)
        _updatePlaybackControls();
}
