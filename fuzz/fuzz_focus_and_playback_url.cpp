// Reads the input as a focus string and as a playback URL against a small library: texts
// from outside name movies and containers, and whatever they hold, resolving them must not
// crash, and may only position a movie inside its length. Each input starts from the same
// record (no stored position, a known length), so a failure replays from its one input.
#include "LibraryFuzzing.h"
#include "library/model/PMLibraryContainer.h"
#include "library/model/PMMainController.h"
#include "library/model/PMMovieRepresentation.h"
#include "platform/Alert.h"

#include <QtCore/QUrl>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

PMMovieRepresentationOriginalPtr gMovie;

void setUpOnce()
{
    if (!libraryfuzz::useThrowAwayHomeOnce())
        return;
    platform::setAlertHandler([](const platform::Alert&) { return platform::AlertResponse{1, false}; });

    PMMainController& controller = mainController();
    controller.resetForTesting();
    controller._chooseMovieRepresentationHandler = [](const platform::Value&, bool, bool, bool, bool) { return true; };
    gMovie = PMMovieRepresentationOriginal::movieRepresentationWithPath(QStringLiteral("/media/fuzz/movie.mov"));
    gMovie->setUniqueLibraryID(QStringLiteral("6F1D2E3C-0000-4000-8000-000000000001"));
    gMovie->setDuration(100);
    auto folder = PMLibraryContainer::make({{QStringLiteral("Name"), QStringLiteral("F")}});
    folder->setUniqueLibraryID(QStringLiteral("6F1D2E3C-0000-4000-8000-000000000002"));
    folder->rawChildren()->append(platform::Value(gMovie));
    controller.pellisSourceStorageSection()->rawChildren()->append(platform::Value(folder));
    controller.invalidateLibraryDependencies();
}

void resetMovie()
{
    gMovie->userSettings()->remove(QStringLiteral("Last Playback: Position"));
    gMovie->userSettings()->remove(QStringLiteral("Last Playback: Resume Regardless Once"));
    gMovie->setDuration(100);
}

void checkPosition(const char* step)
{
    const platform::Value position = gMovie->userSettings()->value(QStringLiteral("Last Playback: Position"));
    if (!position.isNull() && (position.toDouble() < 0 || position.toDouble() >= 100)) {
        std::fprintf(stderr, "a position outside the movie was stored by %s: %f\n", step, position.toDouble());
        std::abort();
    }
    resetMovie();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    setUpOnce();
    resetMovie();
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    PMMainController& controller = mainController();
    controller.chooseMovieRepresentationFromPlaybackURL(QUrl(text));
    checkPosition("a playback URL");
    controller.chooseMovieRepresentationFromPlaybackURL(QUrl(QStringLiteral("pellis://play/") + text));
    checkPosition("a playback URL");
    controller.restoreFocus(text);
    checkPosition("a focus");
    PMMainController::libraryLocationFromPath(text);
    return 0;
}
