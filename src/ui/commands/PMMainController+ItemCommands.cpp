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
#include "library/model/PMMovie.h"
#include "playback/PMPlayback.h"
#include "playback/PMMovieView.h"
#include "images/NSImage+PMTransform.h"
#include "foundation/NSString+PMHelpManagerFileNames.h"
#include "platform/FileOperations.h"

#include <QtCore/QBuffer>
#include <QtCore/QMimeData>
#include <QtGui/QAction>
#include <QtGui/QClipboard>
#include <QtGui/QGuiApplication>
#include <QtGui/QPainter>
#include <QtGui/QScreen>
#include <QtCore/QCoreApplication>
#include <QtCore/QLocale>
#include <QtWidgets/QApplication>
#include <QtWidgets/QInputDialog>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QWidget>

#include <cmath>
#include <functional>
#include <optional>

using platform::ArrayPtr;
using platform::DictionaryPtr;
using platform::ImagePtr;
using platform::Value;

namespace {

// No maximum: the picture at its natural size (an invalid size would be read as a
// maximum area of one point).
const QSizeF kNaturalSize(0, 0);

} // namespace

DictionaryPtr PMMainController::visibleAreaOfArea(const QRectF& area, const QRectF& full)
{
    if (area == full || full.width() <= 0 || full.height() <= 0)
        return nullptr;
    // Both rectangles are in the same points, so the fractions hold on every screen
    // whatever its pixel ratio. Screen coordinates run down; the area's origin is at the
    // lower left, so the vertical fraction is measured up from the bottom edge, once.
    auto visible = platform::Dictionary::make();
    visible->setValue(QStringLiteral("x"), Value((area.x() - full.x()) / full.width()));
    visible->setValue(QStringLiteral("y"), Value((full.bottom() - area.bottom()) / full.height()));
    visible->setValue(QStringLiteral("w"), Value(area.width() / full.width()));
    visible->setValue(QStringLiteral("h"), Value(area.height() / full.height()));
    return visible;
}

ImagePtr PMMainController::imageOfArea(const ImagePtr& image, const QRectF& area, const QRectF& full, std::optional<double> aspectRatio)
{
    const DictionaryPtr visibleArea = visibleAreaOfArea(area, full);
    if (!image || (!visibleArea && !aspectRatio))
        return image;
    return imageWithImage(image, false, 0, visibleArea, aspectRatio, kNaturalSize, false);
}

QString PMMainController::savedFrameFilename(const QString& displayNameWithExtension, double seconds)
{
    // "Name.mov (1'02'03.456)": a colon has no place in a file name on every system.
    QString name = QStringLiteral("%1 (%2)").arg(displayNameWithExtension, PMDurationString(seconds, false, false, true));
    name.replace(u':', u'\'');
    // Room is left for the picture's extension, which the save adds.
    return cleanFilename(platform::cutToUtf8Bytes(name, 250));
}

ImagePtr PMMainController::screenshotWithScreenRect(const QRect& rect)
{
    // Only the program's own window is photographed (rendered in memory): never the
    // screen with other programs' windows on it.
    QWidget* window = nullptr;
    if (!rect.isEmpty())
        window = QApplication::topLevelAt(rect.center());
    if (!window && playerView)
        window = playerView->window();
    if (!window || !window->isVisible())
        return nullptr;
    const QRect local = rect.isEmpty() ? window->rect() : QRect(window->mapFromGlobal(rect.topLeft()), rect.size()) & window->rect();
    if (local.isEmpty())
        return nullptr;
    const QPixmap picture = window->grab(local);
    if (picture.isNull())
        return nullptr;
    QImage pixels = picture.toImage();
    // The point size travels apart from the pixels (a 2x screen gives twice the pixels).
    pixels.setDevicePixelRatio(1.0);
    ImagePtr image = platform::Image::make(pixels);
    if (image)
        image->setSize(QSizeF(local.size()));
    return image;
}

void PMMainController::processCurrentFrameSection(bool section, bool copy, bool save)
{
    auto* view = qobject_cast<PMMovieView*>(playerView.data());
    QWidget* window = view ? view->window() : nullptr;
    PMMovieRepresentationPrototype* current = PMMovie(_currentMovieRepresentation);
    if (!window || !current)
        return;

    // The floating controls would cover the frame: out of the way while the user selects
    // (or the window is photographed), and back afterwards whatever happened.
    bool detached = false;
    const auto detach = [this, &detached] {
        if (detached || !_playbackControlsAreVisible)
            return;
        hidePlaybackControlWindow();
        detached = true;
    };
    struct Restore {
        std::function<void()> run;
        ~Restore() { run(); }
    } restore{[this, &detached] {
        if (!detached)
            return;
        updatePlaybackControlViewFrameWhileMaintainingPlayerFrame(false);
        showPlaybackControlsByFadingIn(false);
    }};
    if (section)
        detach();

    // The picture's rectangle in screen points (the view may letterbox it).
    const QRectF picture = view->currentGeometry().destination.isEmpty() ? QRectF(view->rect())
                                                                          : view->currentGeometry().destination.intersected(QRectF(view->rect()));
    const QRectF full(QPointF(view->mapToGlobal(picture.topLeft().toPoint())), picture.size());
    QRectF area = full;
    if (section) {
        if (!_itemCommands.selectArea)
            return;
        area = _itemCommands.selectArea(full.toRect(), !copy && !save);
        if (area.isEmpty())
            return;
    }
    const DictionaryPtr settings = current->userSettings();
    const Value aspectRatioSetting = settings ? settings->value(QStringLiteral("Aspect Ratio")) : Value();
    const bool locked = _menuValidation.isAspectRatioLocked && _menuValidation.isAspectRatioLocked();
    std::optional<double> aspectRatio;
    if (locked || full.width() < 1) {
        if (aspectRatioSetting.isNumber() && aspectRatioSetting.toDouble() > 0)
            aspectRatio = aspectRatioSetting.toDouble();
    } else {
        aspectRatio = full.height() / full.width();
    }

    PMPlayerViewContent& content = playerViewContent();
    ImagePtr image;
    const bool replacing = content.movieReplacingImage != nullptr;
    if (replacing) {
        image = content.movieReplacingImage;
    } else if (content.moviePlayer) {
        image = frameImageAtCurrentTimeFlippedHorizontally(*content.moviePlayer, content.flipsHorizontally, content.angle,
                                                           settings ? settings->value(QStringLiteral("Visible Area")).dictionary() : nullptr,
                                                           aspectRatio ? Value(*aspectRatio) : Value(), kNaturalSize);
        if (!image || !image->isValid()) {
            detach();
            image = screenshotWithScreenRect(area.toAlignedRect());
            PMLog(QStringLiteral("generated fallback poster image: %@ (frame: %@)"),
                  image ? QStringLiteral("%1 × %2").arg(image->pixels().width()).arg(image->pixels().height()) : QStringLiteral("(null)"),
                  QStringLiteral("{{%1, %2}, {%3, %4}}").arg(area.x()).arg(area.y()).arg(area.width()).arg(area.height()));
            area = full; // the photograph is of the area already
        }
    }
    if (!image || !image->isValid())
        return;
    image = imageOfArea(image, area, full, replacing ? aspectRatio : std::nullopt);
    if (image == content.movieReplacingImage) {
        // Unchanged, the shown picture is still copied, so that the result is one of its own.
        image = platform::Image::make(image->pixels().copy());
    }
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
    if (save && _itemCommands.saveImage)
        _itemCommands.saveImage(image, savedFrameFilename(current->displayNameWithExtension(true), timeSlider.currentTime), window);
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
