// The update glue: the one updater of the program, the remembered result of the latest
// check and its sentence, the update menu items, the product page, and relaunching.
//
// Linux distributions update programs through their package manager, so the updater here
// is an interface with a null implementation (it never finds an update; asking it to check
// says where updates come from). The status, sentence and menu logic are kept whole so a
// real updater only has to answer the interface.
#pragma once

#include "platform/Responder.h"

#include <QtCore/QDateTime>
#include <QtCore/QObject>
#include <QtCore/QPointer>
#include <QtCore/QProcessEnvironment>
#include <QtCore/QVariantMap>
#include <QtGui/QColor>
#include <QtGui/QImage>

#include <functional>
#include <memory>
#include <optional>

class PMSparkleWrapper;
class QAbstractButton;
class QAction;
class QLabel;
class QMenu;
class QTimer;

// What the wrapper asks of an updater and relies on.
class SUUpdater {
public:
    virtual ~SUUpdater();
    virtual void setDelegate(PMSparkleWrapper* delegate);
    // Restarts the schedule of automatic checks.
    virtual void resetUpdateCycle();
    virtual bool automaticallyChecksForUpdates() const;
    virtual void setAutomaticallyChecksForUpdates(bool on);
    // Starts a check that shows its result to the user.
    virtual void checkForUpdates(QObject* sender);
    virtual bool updateInProgress() const;
    // 0 for a check the user asked for; the wrapper tells no other kinds apart.
    virtual int currentCheckType() const;

    // The updater of the program; tests put a fake in its place.
    static std::shared_ptr<SUUpdater> updaterForBundle(const QString& bundle);
    static void setUpdaterFactoryForTesting(std::function<std::shared_ptr<SUUpdater>(const QString&)> factory);
};

// An update an updater found.
struct SUAppcastItem {
    QString displayVersionString;
    bool newestSupportedUpdate = true;
};

class PMSparkleWrapper final : public QObject, public platform::Responder {
public:
    static PMSparkleWrapper& sharedSparkleWrapper();
    static QString relevantBundle();
    static QString currentShortVersionString();

    // Relaunching: asks the quit sequence first when notifying; a refusal cancels it, a new
    // copy that cannot be started is reported and the program stays running.
    static bool relaunchWithInstanceCheckParameter(const QString& parameter, bool notifyDelegate);
    static bool relaunchOnceAndAgainIfRequestedAfterNotifyingDelegate(bool notifyDelegate);
    static bool relaunchAgainIfAppropriate();
    // How a new copy is started and how this one ends; tests replace both.
    using Launcher = std::function<bool(const QString& program, const QStringList& arguments, const QProcessEnvironment& environment,
                                        QString* error)>;
    static void setLauncherForTesting(Launcher launcher, std::function<void()> terminate);

    static QImage diskIconNamed(const QString& name, int size, double inset, const QColor& highlightColor = {},
                                const QColor& borderColor = {}, const QColor& backgroundColor = {});
    static QImage updateIconWithSize(int size);

    std::shared_ptr<SUUpdater> updater();
    void becomeSparkleDelegate();
    // With a window update (fromWindowUpdate): postpones the reset, at most one an hour; else
    // resets now.
    void resetUpdateCycle(bool fromWindowUpdate);

    QVariantMap status();
    void setUpdateVersion(const QString& version);
    // Null without a remembered check.
    QString statusDescriptionWithUpdateVersion(QString* updateVersion, bool* didCheckRecently);
    QString statusDateDescription();
    void updateControls();
    void awakeFromNib();
    QAction* controlsSubmenuItem();
    void menuNeedsUpdate(QMenu* menu);
    bool validateMenuItem(QAction* item) override;
    bool canCheck();

    void toggleAutomaticChecking(QObject* sender);
    void checkForUpdates(QObject* sender);
    void visitProductPage(QObject* sender);

    // The updater's delegate.
    bool updaterShouldPerformScheduledChecksSilently();
    void updaterDidFinishLoadingAppcast();
    void updaterDidFindValidUpdate(const SUAppcastItem& item);
    void updaterDidNotFindUpdate();
    void updaterDidNotFindUpdateFallback();

    bool respondsToAction(const QString& action) const override;
    void performAction(const QString& action, QObject* sender) override;

    // The preferences' controls (connected by the preferences window).
    QPointer<QAbstractButton> autoUpdateCheckingSwitch;
    QPointer<QLabel> statusTextField;
    QPointer<QLabel> statusDateTextField;

    // Forgets the loaded status and the updater (tests).
    void resetForTesting();

private:
    PMSparkleWrapper();
    bool eventFilter(QObject* watched, QEvent* event) override;
    QString badgeText();

    std::shared_ptr<SUUpdater> _updater;
    std::optional<QVariantMap> _status;
    double _resetUpdateCycleTimestamp = 0; // seconds since 1970
    bool _fallbackPending = false;
    int _fallbackSerial = 0;
    QTimer* _resetTimer = nullptr;
};
