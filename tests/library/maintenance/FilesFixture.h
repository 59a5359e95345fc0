// A library on a temporary tree for the tests of deleting, organising, moving and finding
// files: the library folder, alerts answered from a queue (and recorded), and the settings
// these operations read cleared before each test.
#pragma once

#include "library/model/ModelFixture.h"

#include "platform/Alert.h"

#include <QtCore/QDir>
#include <QtCore/QFileInfo>

class FilesTest : public ModelTest {
protected:
    void SetUp() override
    {
        ModelTest::SetUp();
        auto& defaults = platform::UserDefaults::standard();
        for (const QString& key : defaults.persistentDomain()->keys())
            defaults.removeObjectForKey(key);
        m_library = testsupport::makeTempDir(QStringLiteral("library"));
        m_outside = testsupport::makeTempDir(QStringLiteral("outside"));
        setDefault(QStringLiteral("Library Path"), m_library);
        c()._maintenanceWindow = PMMainController::MaintenanceWindowHooks();
        c()._maintenanceWindow.isRunningModal = [] { return false; };
        c()._numberOfRemainingItemsMovingToLibraryFolder = 0;
        c()._nonLibraryFilesCheckSuppressionLevel = 0;
        c()._libraryIsLoaded = true;
        platform::setAlertHandler([this](const platform::Alert& alert) {
            m_alerts.append(alert);
            return platform::AlertResponse{m_answers.isEmpty() ? 0 : m_answers.takeFirst(), false};
        });
    }
    void TearDown() override
    {
        platform::setAlertHandler(nullptr);
        c()._maintenanceWindow = PMMainController::MaintenanceWindowHooks();
        c()._libraryIsLoaded = false;
        ModelTest::TearDown();
    }
    static PMMainController& c() { return mainController(); }
    static platform::Value v(const PMLibraryContainerPtr& x) { return platform::Value(x); }
    static platform::Value v(const PMMovieRepresentationOriginalPtr& x) { return platform::Value(x); }
    static platform::ArrayPtr items(std::initializer_list<platform::Value> values) { return platform::Array::make(values); }

    // A record of a real file (made with the content) named `name`.
    static PMMovieRepresentationOriginalPtr fileMovie(const QString& path, const QByteArray& content = "movie")
    {
        QDir().mkpath(QFileInfo(path).path());
        testsupport::writeFile(path, content);
        auto m = PMMovieRepresentationOriginal::movieRepresentationWithPath(path);
        m->userSettings()->setValue(QStringLiteral("Name"), QFileInfo(path).completeBaseName());
        return m;
    }
    static bool exists(const QString& path) { return QFileInfo::exists(path); }
    QStringList alertTitles() const
    {
        QStringList titles;
        for (const platform::Alert& a : m_alerts)
            titles << a.messageText;
        return titles;
    }
    // All regular files below the folder, relative to it, sorted.
    static QStringList filesBelow(const QString& folder)
    {
        QStringList files;
        const QDir base(folder);
        std::function<void(const QString&)> walk = [&](const QString& dir) {
            for (const QFileInfo& info : QDir(dir).entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden)) {
                if (info.isDir())
                    walk(info.filePath());
                else
                    files << base.relativeFilePath(info.filePath());
            }
        };
        walk(folder);
        files.sort();
        return files;
    }

    QString m_library;
    QString m_outside;
    QList<platform::Alert> m_alerts;
    QList<int> m_answers;
};
