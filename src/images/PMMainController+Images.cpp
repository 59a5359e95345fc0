// The image folders' share of the main controller: the records store their pictures
// through the loader's save queue.
#include "images/PMMovieRepresentationImageLoader.h"
#include "library/model/PMMainController.h"
#include "library/model/PMMovieRepresentation.h"

void PMMainController::installImageServices()
{
    PMMovieRepresentationServices& services = PMMovieRepresentationServices::shared();
    services.saveCoverImage = [](const platform::ImagePtr& image, PMMovieRepresentationPrototype& movie) {
        PMMovieRepresentationImageLoader::defaultLoader().saveCoverImage(image, movie);
    };
    services.savePosterImage = [](const platform::ImagePtr& image, PMMovieRepresentationPrototype& movie) {
        PMMovieRepresentationImageLoader::defaultLoader().savePosterImage(image, movie);
    };
}
