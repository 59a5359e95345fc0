// Quit: refused while files move into the library folder, confirmed while downloads or
// conversions run; then the remote control and the playback position, the temporary
// storage (cleared unless the user keeps it, asked once), the converted movies, the
// window state, series numbers and automatic file names, the save, and the termination
// scripts. A save that fails lets the user try again or stay in the program, so that the
// library in memory is not lost; when nobody can answer, the library goes to an
// emergency copy and the program ends.
#include "library/model/PMMainController.h"

#include "foundation/PMFunctions.h"
#include "foundation/PMLog.h"
#include "library/model/PMCachedSettings.h"
#include "platform/Alert.h"
#include "foundation/PMSettingsKeys.h"
#include "platform/UserDefaults.h"

#include <QtCore/QCoreApplication>

#include <algorithm>
#include <chrono>
#include <thread>

using platform::ArrayPtr;
using platform::Value;

namespace {
// How often a quit that nobody can answer tries to save before it keeps a copy elsewhere.
constexpr int kUnattendedSaveAttempts = 3;

QString localized(const char* text)
{
    return QCoreApplication::translate("PMMainController", text);
}
} // namespace

bool PMMainController::approveTermination()
{
    if (_terminationApproved || _approvingTermination)
        return _terminationApproved;
    _approvingTermination = true;
    _terminationApproved = applicationShouldTerminate();
    _approvingTermination = false;
    return _terminationApproved;
}

bool PMMainController::applicationShouldTerminate()
{
    const QString stove = localized("Wait! You seem to have forgotten something on the stove...");
    if (_numberOfRemainingItemsMovingToLibraryFolder != 0) {
        PMRunAlert(stove, localized("Pellis is still moving files. Please wait until that's finished before you quit."));
        return false;
    }

    platform::UserDefaults& defaults = platform::UserDefaults::standard();
    const ArrayPtr downloads = downloadStorage()->rawChildren();
    const ArrayPtr conversions = conversionStorage()->rawChildren();
    if (!downloads->isEmpty() || !conversions->isEmpty()) {
        QString text;
        if (!downloads->isEmpty()) {
            const bool inTemporary = topLevelAncestorOfItem(Value(downloadsContainer())) == temporaryStorage();
            const bool discarded = inTemporary
                && !(defaults.boolForKey(prefs::keys::DoNotForgetPlaylistOnQuit) && !defaults.boolForKey(prefs::keys::ClearPlaylistOnClose));
            text += discarded ? localized("The following downloads are still active and will be discarded:")
                              : localized("The following downloads are still active and will resume or restart the next time you open Pellis, "
                                   "depending on whether the server in question supports resuming downloads:");
            text += QStringLiteral("\n\n") + namesListForItems(downloads, true);
        }
        if (!conversions->isEmpty()) {
            if (!text.isEmpty())
                text += QStringLiteral("\n\n");
            text += localized("The following conversions are still active and will be discarded:") + QStringLiteral("\n\n")
                + namesListForItems(conversions, true);
        }
        text += QStringLiteral("\n\n") + localized("Do you really want to quit now?");
        // A quit that nobody can answer goes on: the session ends either way.
        if (PMRunAlert(stove, text, localized("Quit"), localized("Cancel"), {}, PMAlertFirstButtonReturn) == PMAlertSecondButtonReturn)
            return false;
    }

    // From here on the quit is certain, apart from a save the user chooses not to lose.
    auto step = [this](const char* name) {
        if (_quitStepObserver)
            _quitStepObserver(QString::fromUtf8(name));
    };
    step("stopListeningToRemoteControl");
    setListeningToRemoteControl(false);
    step("savePlaybackPosition");
    if (_saveCurrentPlaybackPositionHook && !_currentMovieRepresentation.isNull())
        _saveCurrentPlaybackPositionHook();

    if (!defaults.boolForKey(prefs::keys::DoNotForgetPlaylistOnQuit)) {
        PMLibraryContainerPtr temporary = temporaryStorage();
        const ArrayPtr children = temporary->rawChildren();
        if (!children->isEmpty()) {
            bool clear = true;
            if (!defaults.boolForKey(prefs::keys::DoNotForgetPlaylistOnQuitConfirmed)) {
                platform::beep();
                const long answer = PMRunAlert(localized("Clear Temporary Storage?"),
                                               localized("Pellis is currently configured to clear its Temporary Storage when you quit. Would you "
                                                  "rather retain those movies that are currently stored there?"),
                                               localized("Retain movies"), localized("Clear Temporary Storage"), {}, PMAlertNoAnswer);
                if (answer == PMAlertNoAnswer) {
                    clear = false; // nobody answered: the movies stay this time, and the question comes again
                } else {
                    defaults.setBool(true, prefs::keys::DoNotForgetPlaylistOnQuitConfirmed);
                    if (answer == PMAlertFirstButtonReturn) {
                        defaults.setBool(true, prefs::keys::DoNotForgetPlaylistOnQuit);
                        clear = false;
                    }
                }
            }
            if (clear) {
                step("clearTemporaryStorage");
                // Its items leave the library; files that were moved into the library
                // folder for them go to the Trash when the user agrees.
                const ArrayPtr items = platform::Array::make();
                for (const Value& child : *children)
                    items->append(child);
                deleteItems(items, nullptr, false, true, false);
                temporary->invalidateChildrenRecursively(true);
                invalidateLibraryDependencies();
            }
        }
    }

    step("purgeAutoConvertedMovies");
    purgeAutoConvertedMovies();
    step("saveVisibleGroupViewRects");
    saveVisibleGroupViewRects();
    // Series numbers run from 1 again, and lone members leave their series; the save
    // below keeps the result.
    step("organizeSeriesIDs");
    organizeSeriesIDs();
    if (PMCachedSettings::determineNamesAutomatically) {
        step("organizeLibraryFiles");
        organizeLibraryFiles();
    }

    // A failed save must not lose the library: the user may try again or stay. A quit
    // that nobody can answer (asked by the session, or without a screen) tries a few
    // times, then keeps the library in an emergency copy and ends.
    step("saveLibrary");
    _callerReportsSaveFailure = true;
    const bool unattended = _quitRequestedBySession || !platform::alertsCanBeAnswered();
    int attempts = 0;
    while (!saveLibraryAndCleanUpImagesIfAppropriate(true)) {
        if (_lastSaveError.isEmpty())
            break; // nothing was written because the library's volume is away: nothing to save to
        if (unattended) {
            if (++attempts < kUnattendedSaveAttempts) {
                std::this_thread::sleep_for(std::chrono::milliseconds(200));
                continue;
            }
            if (saveLibraryEmergencyCopy().isEmpty())
                PMLog("quitting without saving the library: %@", _lastSaveError);
            break;
        }
        const long answer = PMRunAlert(localized("The library could not be saved."),
                                       localized("Pellis could not write the library index:\n\n%1\n\nIf you quit now, the changes since the last "
                                          "save are lost.")
                                           .arg(_lastSaveError),
                                       localized("Try Again"), localized("Cancel Quit"), localized("Quit Anyway"));
        if (answer == PMAlertSecondButtonReturn) {
            _callerReportsSaveFailure = false;
            return false;
        }
        if (answer == PMAlertThirdButtonReturn)
            break;
    }
    _callerReportsSaveFailure = false;

    step("Termination Scripts");
    runScriptsForTimeKey(QStringLiteral("Termination Scripts"));
    return true;
}
