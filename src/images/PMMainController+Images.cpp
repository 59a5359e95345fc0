// The image folders' share of the main controller: the records store their pictures
// through the loader's save queue.
#include "images/NSImage+PMTransform.h"
#include "images/PMMovieRepresentationImageLoader.h"
#include "library/model/PMMainController.h"
#include "library/model/PMMovieRepresentation.h"
#include "library/model/PMMovie.h"

void PMMainController::installImageServices()
{
    PMMovieRepresentationServices& services = PMMovieRepresentationServices::shared();
    services.saveCoverImage = [](const platform::ImagePtr& image, PMMovieRepresentationPrototype& movie) {
        PMMovieRepresentationImageLoader::defaultLoader().saveCoverImage(image, movie);
    };
    services.savePosterImage = [](const platform::ImagePtr& image, PMMovieRepresentationPrototype& movie) {
        PMMovieRepresentationImageLoader::defaultLoader().savePosterImage(image, movie);
    };
    services.cancelLoadingForMovieRepresentation = [](PMMovieRepresentationPrototype& movie) {
        PMMovieRepresentationImageLoader::defaultLoader().cancelLoadingForMovieRepresentation(movie);
    };
    services.removeImagesOfMovieRepresentation = [](PMMovieRepresentationPrototype& movie) {
        PMMovieRepresentationImageLoader& loader = PMMovieRepresentationImageLoader::defaultLoader();
        loader.cancelLoadingForMovieRepresentation(movie);
        loader.saveCoverImage(nullptr, movie);
        loader.savePosterImage(nullptr, movie);
        loader.saveStandardIndexImageWrappers(nullptr, movie);
    };
    // Frames grabbed for the player and its panels look like the tiles: flipped, turned, cut
    // to the visible area and stretched to the aspect ratio the record keeps.
    PMSetFrameImageTransform([](const platform::ImagePtr& image, bool flipHorizontally, int angle, const platform::DictionaryPtr& visibleArea,
                                const platform::Value& aspectRatio, QSizeF maximumSize) {
        std::optional<double> ratio;
        if (aspectRatio.hasNumericValue())
            ratio = aspectRatio.toDouble();
        // Playback means no maximum by a size below one pixel (an empty QSizeF is −1 × −1,
        // which the transform would take for a maximum area of one pixel).
        if (!(maximumSize.width() >= 1.0 && maximumSize.height() >= 1.0))
            maximumSize = QSizeF(0, 0);
        return imageWithImage(image, flipHorizontally, angle, visibleArea, ratio, maximumSize, false);
    });
}
