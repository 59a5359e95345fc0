// The controller's way to the converted movies that playback keeps: the model is the
// part of the library that may reach the movie wrapper, so the controller asks here.
#include "library/model/PMMainController.h"

#include "library/model/PMMovie.h"

void PMMainController::purgeAutoConvertedMovies()
{
    PMAutoConvertedAssetsPurge(std::nullopt);
}
