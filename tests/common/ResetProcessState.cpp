// The state earlier tests left in the program's singletons, put back before each test
// (the test executables of the layers above the foundation).
#include "common/TestSupport.h"

#include "foundation/PMLogReader.h"
#include "library/model/PMCachedSettings.h"
#include "library/model/PMMainController.h"
#include "library/model/PMMovieRepresentation.h"
#include "platform/Alert.h"
#include "platform/EventClock.h"
#include "platform/SystemLog.h"
#include "platform/UserDefaults.h"

namespace testsupport {

void resetProcessState()
{
    // The services the records ask of the controller, as a fresh process has them once the
    // controller is made and has built its tables: tests that replace or clear one (and
    // the work on the crawl queue that may still call them) leave no trace in the next.
    PMMainController& controller = PMMainController::mainController();
    // Playback's requests reach the window layer, as main() connects them.
    controller.connectPlaybackController();
    static const PMMovieRepresentationServices services = [&] {
        controller.invalidateLibraryDependencies();
        return PMMovieRepresentationServices::shared();
    }();
    PMCrawlQueue::waitUntilEmpty(std::chrono::seconds(30));
    PMMovieRepresentationServices::shared() = services;
    // The settings a launch or a library load reads into process-wide flags, as a fresh
    // process has them.
    PMCachedSettings::determineFuzzyOldestDate = false;
    PMCachedSettings::convertAnimatedImagesToMovies = false;
    PMCachedSettings::determineFuzzyOldestDateUseCreationDate = false;
    PMCachedSettings::determineFuzzyNewestDateUseSortingContext = false;
    PMCachedSettings::determineNamesAutomatically = false;
    // The controls' clock runs on real time again (a test that steered it and stopped early).
    platform::steerEventClockForTesting(false);
    // The log function looks for its reader again; lines and alerts go where the test says.
    PMLogReaderForgetForTesting();
    platform::setSystemLogSink(nullptr);
    platform::setAlertHandler(nullptr);
    // The settings an earlier test stored.
    platform::UserDefaults& defaults = platform::UserDefaults::standard();
    if (const platform::DictionaryPtr stored = defaults.persistentDomain())
        for (const QString& key : stored->keys())
            defaults.removeObjectForKey(key);
    // The library, the selection, the current movie and the pending searches.
    controller.resetForTesting();
}

} // namespace testsupport
