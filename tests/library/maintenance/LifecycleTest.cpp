// Start-up, the default settings, library locations, user scripts and quit, driven
// through the real controller with alerts answered by the test.
#include "library/model/PMCachedSettings.h"
#include "library/model/PMLibraryContainer.h"
#include "library/model/PMMainController.h"
#include "library/model/PMMovieRepresentation.h"
#include "platform/Alert.h"
#include "platform/InterfaceFiles.h"
#include "platform/PropertyList.h"
#include "platform/UserDefaults.h"
#include "playback/PMRemoteInterfaceWindow.h"

#include "common/TestSupport.h"

#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QFileInfo>
#include <QtCore/QScopeGuard>
#include <QtGui/QGuiApplication>
#include <QtWidgets/QWidget>

#include <gtest/gtest.h>

using platform::Value;

namespace {

class LifecycleTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        PMMainController& c = mainController();
        c.resetForTesting();
        c._didFinishLaunching = false;
        c._shouldTerminateWithoutQuitSequence = false;
        c._numberOfRemainingItemsMovingToLibraryFolder = 0;
        c._startUpStepObserver = nullptr;
        for (const QString& key : defaults().persistentDomain()->keys())
            defaults().removeObjectForKey(key);
        m_library = testsupport::makeTempDir(QStringLiteral("library"));
        defaults().setObject(Value(m_library), QStringLiteral("Library Path"));
        platform::setAlertHandler([this](const platform::Alert& alert) {
            m_alerts.append(alert);
            const int answer = m_answers.isEmpty() ? 0 : m_answers.takeFirst();
            if (m_onAlert)
                m_onAlert();
            return platform::AlertResponse{answer, false};
        });
    }
    void TearDown() override
    {
        platform::setAlertHandler(nullptr);
        platform::registerInterfaceBuilder(QStringLiteral("MainWindow"), nullptr);
        delete mainController()._mainWindow.data();
        mainController()._startUpStepObserver = nullptr;
        mainController().resetForTesting();
    }
    static platform::UserDefaults& defaults() { return platform::UserDefaults::standard(); }
    QString indexPath() const { return m_library + QStringLiteral("/Pellis.library/Pellis.2.libraryindex"); }
    // A shell script that appends its name to the log file.
    static QString script(const QString& name, const QString& log, const QString& body = {})
    {
        const QString path = testsupport::makeTempDir() + QLatin1Char('/') + name;
        testsupport::writeFile(path, QStringLiteral("#!/bin/sh\n%1\necho %2 >> '%3'\n").arg(body, name, log).toUtf8());
        QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        return path;
    }
    static PMMovieRepresentationOriginalPtr movie(const QString& name)
    {
        auto m = PMMovieRepresentationOriginal::movieRepresentationWithPath(QStringLiteral("/media/test/") + name + QStringLiteral(".mov"));
        m->userSettings()->setValue(QStringLiteral("Name"), name);
        return m;
    }

    QString m_library;
    QList<platform::Alert> m_alerts;
    QList<int> m_answers;
    std::function<void()> m_onAlert;
};

TEST_F(LifecycleTest, DefaultSettingsTableAndMigration)
{
    const platform::DictionaryPtr table = PMMainController::defaultSettingsTable();
    EXPECT_EQ(table->count(), 50);
    EXPECT_EQ(table->value(QStringLiteral("Resume: Timestamp Limit")).integer(), 172800);
    EXPECT_EQ(table->value(QStringLiteral("Cycle Through Index Image On Hover: Delay")).real(), 2.0);
    EXPECT_TRUE(table->value(QStringLiteral("Push-Start: com.apple.QuickTimePlayerX")).boolean());
    EXPECT_EQ(table->value(QStringLiteral("Continue: Mode")).integer(), 0);
    defaults().setBool(true, QStringLiteral("Loop Group Movies"));
    EXPECT_EQ(PMMainController::defaultSettingsTable()->value(QStringLiteral("Continue: Mode")).integer(), 1);

    // Registered values never override the user's own, and are not stored.
    defaults().setInteger(2, QStringLiteral("Continue: Mode"));
    mainController().registerDefaultSettings();
    EXPECT_EQ(defaults().integerForKey(QStringLiteral("Continue: Mode")), 2);
    EXPECT_FALSE(defaults().hasPersistentValueForKey(QStringLiteral("Submenu Threshold")));
    EXPECT_EQ(defaults().integerForKey(QStringLiteral("Submenu Threshold")), 5);
    EXPECT_FALSE(defaults().boolForKey(QStringLiteral("Determine Fuzzy Oldest Date")));

    for (const bool scale : {false, true}) {
        defaults().removeObjectForKey(QStringLiteral("Preview Layout"));
        defaults().setBool(scale, QStringLiteral("Scale Previews To Fit"));
        mainController().migrateSettings();
        EXPECT_EQ(defaults().hasPersistentValueForKey(QStringLiteral("Scale Previews To Fit")), !scale);
        EXPECT_EQ(defaults().integerForKey(QStringLiteral("Preview Layout")), scale ? 3 : 0);
    }
}

TEST_F(LifecycleTest, LibraryFolderFallbacksAndSettingsFolder)
{
    PMMainController& c = mainController();
    const QString movies = QDir::homePath() + QStringLiteral("/Movies");
    defaults().removeObjectForKey(QStringLiteral("Library Path"));
    QDir(movies).removeRecursively();

    // Nothing there: the folder "Pellis" in ~/Movies, made on first use.
    EXPECT_EQ(c.libraryPath(), movies + QStringLiteral("/Pellis"));
    EXPECT_TRUE(QFileInfo(movies + QStringLiteral("/Pellis")).isDir());
    // The older default folder moves into the current default's place.
    ASSERT_TRUE(QDir().mkpath(movies + QStringLiteral("/Quentor Library/Quentor.library")));
    EXPECT_EQ(c.libraryPath(), movies + QStringLiteral("/Pellis Library"));
    EXPECT_FALSE(QFileInfo::exists(movies + QStringLiteral("/Quentor Library")));
    EXPECT_TRUE(defaults().objectForKey(QStringLiteral("Library Path")).isNull()) << "never written by the lookup";

    // The older settings folder moves into place, also when "Do Not Encapsulate Settings"
    // finds no plain "Quentor" folder.
    defaults().setBool(true, QStringLiteral("Do Not Encapsulate Settings"));
    EXPECT_EQ(c.librarySettingsPath(), movies + QStringLiteral("/Pellis Library/Pellis.library"));
    EXPECT_FALSE(QFileInfo::exists(movies + QStringLiteral("/Pellis Library/Quentor.library")));

    const QStringList names = [&] {
        QStringList n;
        for (const QString& p : c.libraryDatabasePaths())
            n << QFileInfo(p).fileName();
        return n;
    }();
    EXPECT_EQ(names, (QStringList{QStringLiteral("Pellis.2.libraryindex"), QStringLiteral("Pellis.2.backup.libraryindex"),
                                  QStringLiteral("Pellis.libraryindex"), QStringLiteral("Pellis.backup.libraryindex"),
                                  QStringLiteral("Quentor.libraryindex"), QStringLiteral("Quentor.backup.libraryindex"),
                                  QStringLiteral("Library.QuentorLibrary"), QStringLiteral("Previous Library.QuentorLibrary"),
                                  QStringLiteral("Quentor Library.database")}));
    EXPECT_TRUE(QFileInfo(c.coverImageDirectoryPath()).isDir());
    EXPECT_EQ(QFileInfo(c.posterImageDirectoryPath()).fileName(), QStringLiteral("Preview Images"));
}

TEST_F(LifecycleTest, LibraryFoldersAndKnownLibraries)
{
    PMMainController& c = mainController();
    const QString second = testsupport::makeTempDir(QStringLiteral("second"));
    c.saveSupplementaryLibraryPaths(platform::Dictionary::make({{QStringLiteral("Second"), second}}));
    EXPECT_EQ(c.libraryPaths(), (QStringList{m_library, second}));
    EXPECT_EQ(c.libraryFolderForPath(second + QStringLiteral("/a/b.mov")), second);
    EXPECT_EQ(c.libraryFolderForPath(m_library + QStringLiteral("/b.mov")), m_library);
    EXPECT_TRUE(c.libraryFolderForPath(QStringLiteral("/elsewhere/b.mov")).isEmpty());
    EXPECT_TRUE(c.libraryFolderForPath(QString()).isEmpty());
    // With nested folders the main one wins, since it comes first.
    c.saveSupplementaryLibraryPaths(platform::Dictionary::make({{QStringLiteral("Inner"), m_library + QStringLiteral("/inner")}}));
    EXPECT_EQ(c.libraryFolderForPath(m_library + QStringLiteral("/inner/x.mov")), m_library);

    defaults().setObject(Value(platform::Dictionary::make({{QStringLiteral("a"), QStringLiteral("/old/one")},
                                                           {QStringLiteral("b"), QStringLiteral("/old/one")},
                                                           {QStringLiteral("c"), m_library}})),
                         QStringLiteral("Libraries"));
    const platform::DictionaryPtr locations = c.libraryLocations();
    QStringList values;
    for (auto it = locations->begin(); it != locations->end(); ++it)
        values << it.value().string();
    values.sort();
    // The current library is always there, stored with "~".
    EXPECT_EQ(values, (QStringList{QStringLiteral("/old/one"), QStringLiteral("~") + m_library.mid(QDir::homePath().size())}));
}

TEST_F(LifecycleTest, StartUpRunsItsStepsInOrder)
{
    PMMainController& c = mainController();
    const QString log = testsupport::makeTempDir() + QStringLiteral("/log");
    defaults().setObject(Value(script(QStringLiteral("pre"), log)), QStringLiteral("Pre-Startup Scripts"));
    defaults().setObject(Value(platform::Array::make({Value(script(QStringLiteral("post1"), log)), Value(42),
                                                      Value(QStringLiteral("/no/such/script")), Value(script(QStringLiteral("post2"), log))})),
                         QStringLiteral("Post-Startup Scripts"));
    defaults().setBool(true, QStringLiteral("Scale Previews To Fit"));
    platform::registerInterfaceBuilder(QStringLiteral("MainWindow"), [](QObject*) { return new QWidget; });

    QStringList steps;
    c._startUpStepObserver = [&](const QString& step) {
        steps << step;
        if (step == QLatin1String("loadLibrary")) {
            EXPECT_EQ(testsupport::readFile(log), QByteArray("pre\n")) << "pre-start-up scripts run before the library loads";
        }
        if (step == QLatin1String("Post-Startup Scripts")) {
            EXPECT_TRUE(c._mainWindow && c._mainWindow->isVisible()) << "post-start-up scripts run after the window is shown";
        }
    };
    c.applicationWillFinishLaunching();
    c.applicationDidFinishLaunching();

    EXPECT_EQ(steps, (QStringList{QStringLiteral("relaunchAgainIfAppropriate"), QStringLiteral("multipleInstanceCheck"),
                                  QStringLiteral("registerDefaults"), QStringLiteral("migrateSettings"), QStringLiteral("cacheSettings"),
                                  QStringLiteral("Pre-Startup Scripts"), QStringLiteral("loadLibrary"), QStringLiteral("MainWindow"),
                                  QStringLiteral("updateLibrary"),
                                  QStringLiteral("setLibrarySelectionFromUserDefaultsOrSelectFirstLibraryItem"), QStringLiteral("showMainWindow"), QStringLiteral("Post-Startup Scripts")}));
    EXPECT_EQ(testsupport::readFile(log), QByteArray("pre\npost1\npost2\n"));
    EXPECT_TRUE(c._didFinishLaunching);
    EXPECT_FALSE(c._shouldTerminateWithoutQuitSequence);
    EXPECT_EQ(defaults().integerForKey(QStringLiteral("Preview Layout")), 3);
    EXPECT_EQ(defaults().integerForKey(QStringLiteral("Submenu Threshold")), 5);
    EXPECT_TRUE(c.existingSourceStorage());
}

TEST_F(LifecycleTest, StartUpShowsTheRemoteInterfaceWhenAsked)
{
    PMMainController& c = mainController();
    defaults().setBool(true, QStringLiteral("Show Remote Control Interface On Startup"));
    platform::registerInterfaceBuilder(QStringLiteral("MainWindow"), [](QObject*) { return new QWidget; });
    const auto closeRemote = qScopeGuard([] {
        PMRemoteInterfaceWindow::fadeOutAndClose();
        while (QGuiApplication::overrideCursor())
            QGuiApplication::restoreOverrideCursor();
    });
    QStringList steps;
    c._startUpStepObserver = [&](const QString& step) { steps << step; };
    c.applicationWillFinishLaunching();
    c.applicationDidFinishLaunching();
    EXPECT_TRUE(PMRemoteInterfaceWindow::isVisible());
    // After the main window, before the scripts that may rely on what start-up shows.
    EXPECT_EQ(steps.mid(steps.indexOf(QStringLiteral("showMainWindow"))),
              (QStringList{QStringLiteral("showMainWindow"), QStringLiteral("showRemoteInterface"), QStringLiteral("Post-Startup Scripts")}));
}

TEST_F(LifecycleTest, StartUpEndsWithoutMainWindow)
{
    PMMainController& c = mainController();
    const int beeps = platform::beepCount();
    c.applicationWillFinishLaunching();
    c.applicationDidFinishLaunching();
    EXPECT_TRUE(c._shouldTerminateWithoutQuitSequence);
    EXPECT_FALSE(c._didFinishLaunching);
    EXPECT_EQ(platform::beepCount(), beeps + 1);
}

TEST_F(LifecycleTest, QuitIsRefusedWhileFilesMove)
{
    PMMainController& c = mainController();
    c.loadLibrary();
    c.downloadStorage()->rawChildren()->append(Value(movie(QStringLiteral("download"))));
    c._numberOfRemainingItemsMovingToLibraryFolder = 2;
    EXPECT_FALSE(c.applicationShouldTerminate());
    ASSERT_EQ(m_alerts.size(), 1);
    EXPECT_EQ(m_alerts[0].informativeText, QStringLiteral("Pellis is still moving files. Please wait until that's finished before you quit."));
    EXPECT_FALSE(QFileInfo::exists(indexPath()));
}

TEST_F(LifecycleTest, QuitAsksAboutActiveConversions)
{
    PMMainController& c = mainController();
    c.loadLibrary();
    c.conversionStorage()->rawChildren()->append(Value(movie(QStringLiteral("converting"))));
    m_answers = {1}; // Cancel
    EXPECT_FALSE(c.applicationShouldTerminate());
    ASSERT_EQ(m_alerts.size(), 1);
    EXPECT_TRUE(m_alerts[0].informativeText.startsWith(QStringLiteral("The following conversions are still active and will be discarded:\n\n• converting")));
    EXPECT_TRUE(m_alerts[0].informativeText.endsWith(QStringLiteral("\n\nDo you really want to quit now?")));
    EXPECT_EQ(m_alerts[0].buttons, (QStringList{QStringLiteral("Quit"), QStringLiteral("Cancel")}));
    EXPECT_FALSE(QFileInfo::exists(indexPath()));
}

TEST_F(LifecycleTest, QuitClearsOrRetainsTheTemporaryStorage)
{
    struct Case {
        int answer;
        bool kept;
    };
    for (const Case& k : {Case{1, false}, Case{0, true}}) {
        SCOPED_TRACE(k.kept);
        defaults().removeObjectForKey(QStringLiteral("Do Not Forget Playlist On Quit"));
        defaults().removeObjectForKey(QStringLiteral("Do Not Forget Playlist On Quit (Confirmed)"));
        m_alerts.clear();
        PMMainController& c = mainController();
        c.resetForTesting();
        c.loadLibrary();
        c.temporaryStorage()->rawChildren()->append(Value(movie(QStringLiteral("a"))));
        m_answers = {k.answer};
        EXPECT_TRUE(c.applicationShouldTerminate());
        ASSERT_EQ(m_alerts.size(), 1);
        EXPECT_EQ(m_alerts[0].messageText, QStringLiteral("Clear Temporary Storage?"));
        EXPECT_EQ(c.temporaryStorage()->rawChildren()->count(), k.kept ? 1 : 0);
        EXPECT_TRUE(defaults().boolForKey(QStringLiteral("Do Not Forget Playlist On Quit (Confirmed)")));
        EXPECT_EQ(defaults().boolForKey(QStringLiteral("Do Not Forget Playlist On Quit")), k.kept);

        // The next quit does not ask again.
        c.temporaryStorage()->rawChildren()->append(Value(movie(QStringLiteral("b"))));
        EXPECT_TRUE(c.applicationShouldTerminate());
        EXPECT_EQ(m_alerts.size(), 1);
        EXPECT_EQ(c.temporaryStorage()->rawChildren()->count(), k.kept ? 2 : 0);
    }
}

TEST_F(LifecycleTest, QuitThatNobodyCanAnswerTakesTheAnswersThatChangeNothing)
{
    PMMainController& c = mainController();
    c.loadLibrary();
    platform::setAlertHandler(nullptr); // no screen, nobody to answer
    c.conversionStorage()->rawChildren()->append(Value(movie(QStringLiteral("converting"))));
    c.temporaryStorage()->rawChildren()->append(Value(movie(QStringLiteral("a"))));
    // The quit goes on; the temporary storage stays this time, and no answer is recorded
    // for the user.
    EXPECT_TRUE(c.applicationShouldTerminate());
    EXPECT_EQ(c.temporaryStorage()->rawChildren()->count(), 1);
    EXPECT_FALSE(defaults().boolForKey(QStringLiteral("Do Not Forget Playlist On Quit (Confirmed)")));
    EXPECT_FALSE(defaults().boolForKey(QStringLiteral("Do Not Forget Playlist On Quit")));
    EXPECT_TRUE(platform::readPropertyListFile(indexPath()).ok());
}

TEST_F(LifecycleTest, QuitSavesThenRunsTerminationScripts)
{
    PMMainController& c = mainController();
    c.loadLibrary();
    c.pellisSourceStorageSection()->rawChildren()->append(Value(movie(QStringLiteral("kept"))));
    const QString log = testsupport::makeTempDir() + QStringLiteral("/log");
    // The script sees the saved index.
    defaults().setObject(Value(script(QStringLiteral("end"), log, QStringLiteral("test -f '%1' || exit 1").arg(indexPath()))),
                         QStringLiteral("Termination Scripts"));
    EXPECT_TRUE(c.applicationShouldTerminate());
    EXPECT_EQ(testsupport::readFile(log), QByteArray("end\n"));
    EXPECT_TRUE(platform::readPropertyListFile(indexPath()).ok());
}

TEST_F(LifecycleTest, QuitRunsItsStepsInOrderAndRenumbersSeries)
{
    PMMainController& c = mainController();
    c.loadLibrary();
    // Two members numbered with a gap, and a series left with one member.
    auto first = movie(QStringLiteral("first"));
    auto second = movie(QStringLiteral("second"));
    auto lone = movie(QStringLiteral("lone"));
    first->setSeriesID(QStringLiteral("OLD"), 2);
    second->setSeriesID(QStringLiteral("OLD"), 7);
    lone->setSeriesID(QStringLiteral("LONE"), 3);
    for (const auto& m : {second, lone, first})
        c.pellisSourceStorageSection()->rawChildren()->append(Value(m));
    c.invalidateLibraryDependencies();
    c.temporaryStorage()->rawChildren()->append(Value(movie(QStringLiteral("passing"))));
    defaults().setBool(true, QStringLiteral("Do Not Forget Playlist On Quit (Confirmed)"));
    c.setListeningToRemoteControl(true);
    int playbackPositionsSaved = 0;
    {
        const testsupport::ScopedAssignment savingPosition(c._saveCurrentPlaybackPositionHook, [&] { ++playbackPositionsSaved; });
        const testsupport::ScopedAssignment current(c._currentMovieRepresentation, Value(first));
        const testsupport::ScopedAssignment naming(PMCachedSettings::determineNamesAutomatically, false);
        const testsupport::ScopedAssignment observer(c._quitStepObserver, nullptr);
        for (const bool naming : {false, true}) {
            SCOPED_TRACE(naming);
            PMCachedSettings::determineNamesAutomatically = naming;
            QStringList steps;
            c._quitStepObserver = [&](const QString& step) { steps << step; };
            EXPECT_TRUE(c.applicationShouldTerminate());
            c._quitStepObserver = nullptr;
            QStringList expected = {QStringLiteral("stopListeningToRemoteControl"), QStringLiteral("savePlaybackPosition")};
            if (!naming)
                expected << QStringLiteral("clearTemporaryStorage"); // only the first quit finds something to clear
            expected << QStringLiteral("purgeAutoConvertedMovies") << QStringLiteral("saveVisibleGroupViewRects") << QStringLiteral("organizeSeriesIDs");
            if (naming)
                expected << QStringLiteral("organizeLibraryFiles");
            expected << QStringLiteral("saveLibrary") << QStringLiteral("Termination Scripts");
            EXPECT_EQ(steps, expected);
        }
    }

    EXPECT_FALSE(c._isListeningToRemoteControl);
    EXPECT_EQ(playbackPositionsSaved, 2);
    EXPECT_TRUE(c.temporaryStorage()->rawChildren()->isEmpty());
    // The renumbered series reach the saved index.
    const QString id = first->uniqueLibraryID();
    EXPECT_EQ(first->indexedSeriesID(), id + QStringLiteral(":1"));
    EXPECT_EQ(second->indexedSeriesID(), id + QStringLiteral(":2"));
    EXPECT_TRUE(lone->indexedSeriesID().isEmpty());
    EXPECT_TRUE(testsupport::readFile(indexPath()).contains((id + QStringLiteral(":2")).toLatin1()));
}

TEST_F(LifecycleTest, BecomingActiveListensAndLooksForChangedFiles)
{
    PMMainController& c = mainController();
    c.setListeningToRemoteControl(false);
    QList<bool> deviceStates;
    int searchesBefore = c._numberOfNonLibraryFileSearches;
    auto searches = [&] { return c._numberOfNonLibraryFileSearches - searchesBefore; };
    c._remoteControlListeningHook = [&](bool listening) { deviceStates << listening; };
    c.startObservingApplicationState();
    auto* application = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    ASSERT_TRUE(application);
    // Start from a known inactive state whatever the platform reported.
    Q_EMIT application->applicationStateChanged(Qt::ApplicationInactive);
    deviceStates.clear();
    searchesBefore = c._numberOfNonLibraryFileSearches;

    // Only passages into and out of the active state count, each once.
    Q_EMIT application->applicationStateChanged(Qt::ApplicationActive);
    Q_EMIT application->applicationStateChanged(Qt::ApplicationActive);
    EXPECT_TRUE(c._isListeningToRemoteControl);
    EXPECT_EQ(searches(), 1);
    Q_EMIT application->applicationStateChanged(Qt::ApplicationHidden);
    Q_EMIT application->applicationStateChanged(Qt::ApplicationInactive);
    EXPECT_FALSE(c._isListeningToRemoteControl);
    EXPECT_EQ(deviceStates, (QList<bool>{true, false}));

    // The user may keep the remote control for other programs; the search still runs.
    defaults().setBool(true, QStringLiteral("Do Not Listen To Remote Control"));
    Q_EMIT application->applicationStateChanged(Qt::ApplicationActive);
    EXPECT_FALSE(c._isListeningToRemoteControl);
    EXPECT_EQ(searches(), 2);
    Q_EMIT application->applicationStateChanged(Qt::ApplicationInactive);
    c._remoteControlListeningHook = nullptr;
}

TEST_F(LifecycleTest, QuitOffersToRetryAFailedSave)
{
    PMMainController& c = mainController();
    c.loadLibrary();
    ASSERT_TRUE(QDir().mkpath(indexPath() + QStringLiteral("/blocking")));

    // Cancel: the program keeps running with its library.
    m_answers = {1};
    EXPECT_FALSE(c.applicationShouldTerminate());
    ASSERT_EQ(m_alerts.size(), 1);
    EXPECT_EQ(m_alerts[0].buttons, (QStringList{QStringLiteral("Try Again"), QStringLiteral("Cancel Quit"), QStringLiteral("Quit Anyway")}));

    // Try again after the problem went away: the quit goes on.
    m_alerts.clear();
    m_answers = {0};
    m_onAlert = [this] { QDir(indexPath()).removeRecursively(); };
    EXPECT_TRUE(c.applicationShouldTerminate());
    EXPECT_EQ(m_alerts.size(), 1);
    EXPECT_TRUE(platform::readPropertyListFile(indexPath()).ok());
}

TEST_F(LifecycleTest, LibraryOnAMissingVolumeOffersAnotherOrEndsStartUpWithoutWriting)
{
    PMMainController& c = mainController();
    const QString missing = QStringLiteral("/mnt/pellis-no-such-volume/Library");
    platform::registerInterfaceBuilder(QStringLiteral("MainWindow"), [](QObject*) { return new QWidget; });
    QStringList explanations;
    QString answer;
    c._chooseLibraryPathOverride = [&](const QString& explanation, const QString& suggested) {
        explanations << explanation;
        EXPECT_TRUE(suggested.isEmpty());
        return answer;
    };

    // Cancelled: start-up ends, nothing is written, and nobody beeps.
    defaults().setObject(Value(missing), QStringLiteral("Library Path"));
    int beeps = platform::beepCount();
    c.applicationWillFinishLaunching();
    c.applicationDidFinishLaunching();
    EXPECT_TRUE(c._shouldTerminateWithoutQuitSequence);
    EXPECT_FALSE(c._mainWindow);
    ASSERT_EQ(explanations.size(), 1);
    EXPECT_TRUE(explanations[0].endsWith(QStringLiteral(" is not available. Choose another existing library, create a new library, or cancel to quit.")))
        << explanations[0].toStdString();
    EXPECT_TRUE(m_alerts.isEmpty());
    EXPECT_EQ(platform::beepCount(), beeps);
    EXPECT_FALSE(QFileInfo::exists(QStringLiteral("/mnt/pellis-no-such-volume")));
    QDir(QStringLiteral("/mnt/pellis-no-such-volume")).removeRecursively(); // should a fault have made it

    // Another library chosen: it is loaded and start-up goes on.
    c._shouldTerminateWithoutQuitSequence = false;
    defaults().setObject(Value(missing), QStringLiteral("Library Path"));
    answer = testsupport::makeTempDir(QStringLiteral("chosen"));
    c.applicationDidFinishLaunching();
    EXPECT_EQ(explanations.size(), 2);
    EXPECT_FALSE(c._shouldTerminateWithoutQuitSequence);
    EXPECT_EQ(c.libraryPath(), answer);
    EXPECT_TRUE(c._libraryIsLoaded);
    EXPECT_TRUE(c._mainWindow);
    c._chooseLibraryPathOverride = nullptr;
}

TEST_F(LifecycleTest, QuitThatNobodyCanAnswerKeepsTheLibraryInAnEmergencyCopy)
{
    PMMainController& c = mainController();
    c.loadLibrary();
    c.pellisSourceStorageSection()->rawChildren()->append(Value(movie(QStringLiteral("kept"))));
    ASSERT_TRUE(QDir().mkpath(indexPath() + QStringLiteral("/blocking")));
    const QString folder = QFileInfo(indexPath()).path();
    const auto copies = [&] { return QDir(folder).entryList({QStringLiteral("Pellis.2.libraryindex.unsaved-*")}, QDir::Files); };

    // Asked by the session: an alert that answered would be "Try Again" for ever.
    m_answers = QList<int>(1000, 0);
    c._quitRequestedBySession = true;
    EXPECT_TRUE(c.applicationShouldTerminate());
    c._quitRequestedBySession = false;
    EXPECT_TRUE(m_alerts.isEmpty());
    ASSERT_EQ(copies().size(), 1);
    const platform::PropertyListReadResult copy = platform::readPropertyListFile(folder + u'/' + copies().first());
    ASSERT_TRUE(copy.ok());
    EXPECT_TRUE(copy.value.description().contains(QStringLiteral("kept")));
    QFile::remove(folder + u'/' + copies().first());

    // No screen and nobody to answer: the same.
    platform::setAlertHandler(nullptr);
    EXPECT_TRUE(c.applicationShouldTerminate());
    EXPECT_EQ(copies().size(), 1);
}

TEST_F(LifecycleTest, NothingIsSavedOverAnIndexThatWasNeverLoaded)
{
    // A quit before the library loaded (start-up cut short) must not write the empty
    // tree of the fresh controller over the user's index.
    PMMainController& c = mainController();
    c._libraryIsLoaded = false;
    testsupport::writeFile(indexPath(), "the user's library");
    EXPECT_FALSE(c.saveLibrary());
    EXPECT_TRUE(c.applicationShouldTerminate());
    EXPECT_EQ(testsupport::readFile(indexPath()), QByteArray("the user's library"));
    EXPECT_TRUE(m_alerts.isEmpty());
}

} // namespace
