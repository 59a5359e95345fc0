#include "ui/commands/PMSparkleWrapper.h"

#include "foundation/PMLog.h"
#include "library/model/PMMainController.h"
#include "platform/Alert.h"
#include "platform/FileManager.h"
#include "foundation/PMSettingsKeys.h"
#include "platform/UserDefaults.h"
#include "ui/kit/PMAppearance.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QFileInfo>
#include <QtCore/QLocale>
#include <QtCore/QProcess>
#include <QtCore/QTimer>
#include <QtCore/QUrl>
#include <QtGui/QAction>
#include <QtGui/QGuiApplication>
#include <QtGui/QIcon>
#include <QtGui/QLinearGradient>
#include <QtGui/QPainter>
#include <QtGui/QPainterPath>
#include <QtWidgets/QAbstractButton>
#include <QtWidgets/QLabel>
#include <QtWidgets/QMenu>

#include <cmath>

namespace {

const QString kStatusKey = prefs::keys::PMSparkleWrapperUpdateStatus;
const QString kMutedKey = prefs::keys::PMSparkleWrapperMuted;
const QString kCheckDate = QStringLiteral("Check Date");
const QString kCurrentVersion = QStringLiteral("Current Version");
const QString kUpdateVersion = QStringLiteral("Update Version");
const char* const kInstanceCheckVariable = "com.tolvane.MultipleApplicationInstanceCheck";
const QString kMakerSite = QStringLiteral("https://www.tolvane.com/");
// The title an item had before a badge was put behind it.
const char* const kPlainTitle = "PMSparkleWrapperPlainTitle";

std::function<std::shared_ptr<SUUpdater>(const QString&)>& updaterFactory()
{
    static std::function<std::shared_ptr<SUUpdater>(const QString&)> factory;
    return factory;
}

PMSparkleWrapper::Launcher& launcher()
{
    static PMSparkleWrapper::Launcher l;
    return l;
}

std::function<void()>& terminator()
{
    static std::function<void()> t;
    return t;
}

platform::UserDefaults& defaults()
{
    return platform::UserDefaults::standard();
}

double nowSeconds()
{
    return double(QDateTime::currentMSecsSinceEpoch()) / 1000.0;
}

QString localized(const char* text)
{
    return QCoreApplication::translate("PMSparkleWrapper", text);
}

QString bundleName()
{
    return QCoreApplication::applicationName();
}

// The updater of a system whose programs come with its software updates: it never finds
// an update, and a check the user asks for says so.
class NullUpdater final : public SUUpdater {
public:
    void checkForUpdates(QObject*) override
    {
        platform::Alert alert;
        alert.messageText = localized("%1 is updated with your system's software.").arg(bundleName());
        alert.informativeText = localized("New versions of %1 come from your distribution's package manager.").arg(bundleName());
        alert.style = platform::AlertStyle::Informational;
        platform::runAlert(alert);
    }
};

} // namespace

// ---- the updater interface

SUUpdater::~SUUpdater() = default;
void SUUpdater::setDelegate(PMSparkleWrapper*) {}
void SUUpdater::resetUpdateCycle() {}
bool SUUpdater::automaticallyChecksForUpdates() const { return false; }
void SUUpdater::setAutomaticallyChecksForUpdates(bool) {}
void SUUpdater::checkForUpdates(QObject*) {}
bool SUUpdater::updateInProgress() const { return false; }
int SUUpdater::currentCheckType() const { return 0; }

std::shared_ptr<SUUpdater> SUUpdater::updaterForBundle(const QString& bundle)
{
    if (updaterFactory())
        return updaterFactory()(bundle);
    return std::make_shared<NullUpdater>();
}

void SUUpdater::setUpdaterFactoryForTesting(std::function<std::shared_ptr<SUUpdater>(const QString&)> factory)
{
    updaterFactory() = std::move(factory);
}

// ---- the wrapper

PMSparkleWrapper& PMSparkleWrapper::sharedSparkleWrapper()
{
    static PMSparkleWrapper* wrapper = [] {
        auto* w = new PMSparkleWrapper; // lives for the process
        QTimer::singleShot(0, w, [w] { w->becomeSparkleDelegate(); });
        return w;
    }();
    return *wrapper;
}

PMSparkleWrapper::PMSparkleWrapper()
{
    _resetTimer = new QTimer(this);
    _resetTimer->setSingleShot(true);
    _resetTimer->setInterval(1000);
    connect(_resetTimer, &QTimer::timeout, this, [this] { resetUpdateCycle(false); });
}

QString PMSparkleWrapper::relevantBundle()
{
    return QCoreApplication::applicationFilePath();
}

QString PMSparkleWrapper::currentShortVersionString()
{
    return QCoreApplication::applicationVersion();
}

std::shared_ptr<SUUpdater> PMSparkleWrapper::updater()
{
    if (!_updater)
        _updater = SUUpdater::updaterForBundle(relevantBundle());
    return _updater;
}

void PMSparkleWrapper::becomeSparkleDelegate()
{
    updater()->setDelegate(this);
    updater()->resetUpdateCycle();
    _resetUpdateCycleTimestamp = nowSeconds();
    // Window activity stands for "the user is here": the cycle is reset once the windows
    // have been quiet for a second, at most once an hour.
    if (QCoreApplication* app = QCoreApplication::instance())
        app->installEventFilter(this);
}

bool PMSparkleWrapper::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::UpdateRequest && watched->isWidgetType())
        resetUpdateCycle(true);
    return QObject::eventFilter(watched, event);
}

void PMSparkleWrapper::resetUpdateCycle(bool fromWindowUpdate)
{
    if (fromWindowUpdate) {
        _resetTimer->stop();
        if (nowSeconds() - _resetUpdateCycleTimestamp > 3600)
            _resetTimer->start();
        return;
    }
    _resetUpdateCycleTimestamp = nowSeconds();
    if (updater()->automaticallyChecksForUpdates())
        updater()->resetUpdateCycle();
}

QVariantMap PMSparkleWrapper::status()
{
    if (_status)
        return *_status;
    QVariantMap status;
    const QString current = currentShortVersionString();
    if (!current.isEmpty()) {
        // At most three parts from the left, so an update version holding ":" stays readable.
        const QString stored = defaults().stringForKey(kStatusKey);
        const qsizetype first = stored.indexOf(u':');
        const qsizetype second = first < 0 ? -1 : stored.indexOf(u':', first + 1);
        bool numeric = false;
        const qint64 seconds = second < 0 ? 0 : stored.mid(first + 1, second - first - 1).toLongLong(&numeric);
        if (second >= 0 && numeric && stored.left(first) == current) {
            status = {{kCheckDate, QDateTime::fromSecsSinceEpoch(seconds)},
                      {kCurrentVersion, current},
                      {kUpdateVersion, stored.mid(second + 1)}};
        }
    }
    _status = status;
    return status;
}

void PMSparkleWrapper::setUpdateVersion(const QString& version)
{
    const QString current = currentShortVersionString();
    if (current.isEmpty())
        return;
    const QDateTime now = QDateTime::fromSecsSinceEpoch(qint64(nowSeconds()));
    _status = QVariantMap{{kCheckDate, now}, {kCurrentVersion, current}, {kUpdateVersion, version}};
    defaults().setObject(platform::Value(QStringLiteral("%1:%2:%3").arg(current).arg(now.toSecsSinceEpoch()).arg(version)), kStatusKey);
    defaults().removeObjectForKey(prefs::keys::PMSparkleWrapperSpacedStatus);
    defaults().removeObjectForKey(prefs::keys::PMSparkleWrapperStatus);
    updateControls();
}

QString PMSparkleWrapper::statusDescriptionWithUpdateVersion(QString* updateVersion, bool* didCheckRecently)
{
    const QVariantMap s = status();
    if (s.isEmpty())
        return QString();
    if (didCheckRecently) {
        const QDateTime date = s.value(kCheckDate).toDateTime();
        *didCheckRecently = date.isValid() && nowSeconds() - double(date.toMSecsSinceEpoch()) / 1000.0 < 86400;
    }
    const QString name = bundleName();
    const QString current = currentShortVersionString();
    const QString update = s.value(kUpdateVersion).toString();
    if (!update.isEmpty()) {
        if (updateVersion)
            *updateVersion = update;
        return localized("%1 %2 is now available! You are currently using %3 %4.").arg(name, update, name, current);
    }
    return localized("%1 %2 is up to date.").arg(name, current);
}

QString PMSparkleWrapper::statusDateDescription()
{
    const QDateTime date = status().value(kCheckDate).toDateTime();
    if (!date.isValid())
        return QString();
    return localized("Last check: %1").arg(QLocale().toString(date.toLocalTime().date(), QLocale::LongFormat));
}

void PMSparkleWrapper::updateControls()
{
    if (!autoUpdateCheckingSwitch)
        return;
    autoUpdateCheckingSwitch->setChecked(updater()->automaticallyChecksForUpdates());
    const QString sentence = statusDescriptionWithUpdateVersion(nullptr, nullptr);
    if (statusDateTextField)
        statusDateTextField->setText(sentence.isEmpty() ? QString() : statusDateDescription());
    if (statusTextField) {
        statusTextField->setText(sentence);
        statusTextField->setTextInteractionFlags(sentence.isEmpty() ? Qt::NoTextInteraction : Qt::TextSelectableByMouse);
    }
}

void PMSparkleWrapper::awakeFromNib()
{
    updateControls();
}

QAction* PMSparkleWrapper::controlsSubmenuItem()
{
    auto* item = new QAction(localized("Updates"));
    setMacOS26ImageWithSystemSymbolName(item, QStringLiteral("arrow.clockwise"));
    auto* menu = new QMenu(QStringLiteral("Sparkle"));
    QObject::connect(item, &QObject::destroyed, menu, &QObject::deleteLater);
    item->setMenu(menu);
    QObject::connect(menu, &QMenu::aboutToShow, this, [this, menu] { menuNeedsUpdate(menu); });
    return item;
}

QString PMSparkleWrapper::badgeText()
{
    QString version;
    bool recently = false;
    if (statusDescriptionWithUpdateVersion(&version, &recently).isNull())
        return QString();
    if (!version.isEmpty())
        return version;
    return recently ? QStringLiteral("✓") : QString();
}

void PMSparkleWrapper::menuNeedsUpdate(QMenu* menu)
{
    QList<QAction*> items = menu->actions();
    while (!items.isEmpty() && platform::menuItemTag(items.last()) <= 0) {
        QAction* last = items.takeLast();
        menu->removeAction(last);
        last->deleteLater();
    }
    const QString sentence = statusDescriptionWithUpdateVersion(nullptr, nullptr);
    const QString date = statusDateDescription();
    if (!sentence.isEmpty() && !date.isEmpty()) {
        // Menus here carry no badges: the sentence follows the date as an item of its own.
        for (const QString& title : {date, sentence}) {
            QAction* shown = menu->addAction(title);
            platform::setMenuItemTargetsNothing(shown);
            shown->setEnabled(false);
        }
        menu->addSeparator();
    }
    QAction* check = menu->addAction(localized("Check Now..."));
    platform::setMenuItemAction(check, QStringLiteral("checkForUpdates"), this);
    platform::setMenuItemTag(check, -1);
    QAction* automatic = menu->addAction(localized("Check Automatically"));
    platform::setMenuItemAction(automatic, QStringLiteral("toggleAutomaticChecking"), this);
    automatic->setCheckable(true);
    automatic->setChecked(updater()->automaticallyChecksForUpdates());
}

bool PMSparkleWrapper::validateMenuItem(QAction* item)
{
    const QString action = platform::menuItemAction(item);
    if (action == QLatin1String("checkForUpdates")) {
        setMacOS26ImageWithSystemSymbolName(item, QStringLiteral("arrow.clockwise"));
        if (platform::menuItemTag(item) == 0) {
            // The badge stands behind the title.
            QString plain = item->property(kPlainTitle).toString();
            if (plain.isEmpty()) {
                plain = item->text();
                item->setProperty(kPlainTitle, plain);
            }
            const QString badge = badgeText();
            item->setText(badge.isEmpty() ? plain : plain + QStringLiteral("\t") + badge);
        }
    } else if (action == QLatin1String("toggleAutomaticChecking")) {
        setMacOS26ImageWithSystemSymbolName(item, QStringLiteral("binoculars"));
    } else if (action == QLatin1String("visitProductPage")) {
        setMacOS26ImageWithSystemSymbolName(item, platform::menuItemTag(item) == 1 ? QStringLiteral("megaphone") : QStringLiteral("globe"),
                                            false, false);
    }
    return true;
}

bool PMSparkleWrapper::canCheck()
{
    return !updater()->updateInProgress();
}

void PMSparkleWrapper::toggleAutomaticChecking(QObject* sender)
{
    const bool on = !updater()->automaticallyChecksForUpdates();
    updater()->setAutomaticallyChecksForUpdates(on);
    if (autoUpdateCheckingSwitch && sender != autoUpdateCheckingSwitch)
        autoUpdateCheckingSwitch->setChecked(on);
}

void PMSparkleWrapper::checkForUpdates(QObject* sender)
{
    updater()->checkForUpdates(sender);
}

void PMSparkleWrapper::visitProductPage(QObject* sender)
{
    QString address;
    if (auto* item = qobject_cast<QAction*>(sender))
        address = item->toolTip() == item->text() ? QString() : item->toolTip();
    else if (auto* widget = qobject_cast<QWidget*>(sender))
        address = widget->toolTip();
    if (address.isEmpty()) {
        QString name = bundleName();
        name.remove(u' ');
        if (!name.isEmpty()) {
            address = kMakerSite + name.toLower();
            if (auto* item = qobject_cast<QAction*>(sender); item && platform::menuItemTag(item) == 1)
                address += QStringLiteral("/releasenotes");
        }
    }
    const QUrl url(address, QUrl::StrictMode);
    if (address.isEmpty() || !url.isValid() || url.scheme().isEmpty() || !platform::openURLWithDefaultHandler(url))
        platform::beep();
}

bool PMSparkleWrapper::updaterShouldPerformScheduledChecksSilently()
{
    return defaults().boolForKey(kMutedKey);
}

void PMSparkleWrapper::updaterDidFinishLoadingAppcast()
{
    if (updater()->currentCheckType() != 0)
        return;
    // An appcast that loaded without either answer in the same turn found no update.
    _fallbackPending = true;
    const int serial = ++_fallbackSerial;
    QTimer::singleShot(0, this, [this, serial] {
        if (_fallbackPending && serial == _fallbackSerial)
            updaterDidNotFindUpdateFallback();
    });
}

void PMSparkleWrapper::updaterDidFindValidUpdate(const SUAppcastItem& item)
{
    if (updater()->currentCheckType() == 0)
        _fallbackPending = false;
    if (item.newestSupportedUpdate)
        setUpdateVersion(item.displayVersionString);
}

void PMSparkleWrapper::updaterDidNotFindUpdate()
{
    if (updater()->currentCheckType() != 0)
        return;
    _fallbackPending = false;
    setUpdateVersion(QString());
}

void PMSparkleWrapper::updaterDidNotFindUpdateFallback()
{
    _fallbackPending = false;
    setUpdateVersion(QString());
}

bool PMSparkleWrapper::respondsToAction(const QString& action) const
{
    return action == QLatin1String("checkForUpdates") || action == QLatin1String("toggleAutomaticChecking")
        || action == QLatin1String("visitProductPage");
}

void PMSparkleWrapper::performAction(const QString& action, QObject* sender)
{
    if (action == QLatin1String("checkForUpdates"))
        checkForUpdates(sender);
    else if (action == QLatin1String("toggleAutomaticChecking"))
        toggleAutomaticChecking(sender);
    else if (action == QLatin1String("visitProductPage"))
        visitProductPage(sender);
}

void PMSparkleWrapper::resetForTesting()
{
    _status.reset();
    _updater.reset();
    _fallbackPending = false;
    _resetUpdateCycleTimestamp = 0;
}

// ---- relaunching

void PMSparkleWrapper::setLauncherForTesting(Launcher l, std::function<void()> terminate)
{
    launcher() = std::move(l);
    terminator() = std::move(terminate);
}

bool PMSparkleWrapper::relaunchWithInstanceCheckParameter(const QString& parameter, bool notifyDelegate)
{
    const QString program = QCoreApplication::applicationFilePath();
    // A copy that cannot start is found before the quit sequence runs, so the program is
    // still whole when it stays.
    if (!launcher() && !QFileInfo(program).isExecutable()) {
        PMLog("[PMSparkleWrapper] cannot relaunch: %@", program);
        platform::Alert alert;
        alert.messageText = localized("%1 could not be restarted.").arg(bundleName());
        alert.informativeText = localized("The program file %1 cannot be run.").arg(program);
        platform::runAlert(alert);
        return false;
    }
    if (notifyDelegate && !mainController().approveTermination())
        return false;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QString::fromLatin1(kInstanceCheckVariable), parameter);
    QString error;
    bool launched = false;
    if (launcher()) {
        launched = launcher()(program, {}, environment, &error);
    } else {
        QProcess process;
        process.setProgram(program);
        process.setProcessEnvironment(environment);
        launched = process.startDetached();
        if (!launched)
            error = process.errorString();
    }
    if (!launched) {
        PMLog("[PMSparkleWrapper] cannot relaunch: %@", error);
        platform::Alert alert;
        alert.messageText = localized("%1 could not be restarted.").arg(bundleName());
        alert.informativeText = error;
        platform::runAlert(alert);
        return false;
    }
    // The quit sequence has run already: end without running it again.
    mainController()._shouldTerminateWithoutQuitSequence = true;
    if (terminator())
        terminator()();
    else
        QCoreApplication::quit();
    return true;
}

bool PMSparkleWrapper::relaunchOnceAndAgainIfRequestedAfterNotifyingDelegate(bool notifyDelegate)
{
    return relaunchWithInstanceCheckParameter(QStringLiteral("skip"), notifyDelegate);
}

bool PMSparkleWrapper::relaunchAgainIfAppropriate()
{
    // The second relaunch puts a program back into its permanent place in the dock once the
    // old copy has gone; launchers here keep their pinned entries by desktop file, whatever
    // process runs it, so none is ever due.
    return false;
}

// ---- icons

QImage PMSparkleWrapper::diskIconNamed(const QString& name, int size, double inset, const QColor& highlightColor,
                                       const QColor& borderColor, const QColor& backgroundColor)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const double margin = size < 17 ? 1 : std::floor(size * 0.08);
    const QRectF disk = QRectF(0, 0, size, size).adjusted(margin, margin, -margin, -margin);
    p.setBrush(highlightColor.isValid() ? highlightColor : QColor::fromRgbF(0.2f, 0.4f, 1.0f, 1.0f));
    p.setPen(Qt::NoPen);
    p.drawEllipse(disk.adjusted(2, 2, -2, -2));

    // The symbol in the background colour, on a layer of its own.
    QImage layer(size, size, QImage::Format_ARGB32_Premultiplied);
    layer.fill(Qt::transparent);
    {
        QPainter l(&layer);
        l.setRenderHint(QPainter::Antialiasing);
        const QRectF symbolRect = disk.adjusted(inset, inset, -inset, -inset);
        const QIcon symbol = QIcon::fromTheme(name);
        if (!symbol.isNull())
            symbol.paint(&l, symbolRect.toRect());
        l.setCompositionMode(QPainter::CompositionMode_SourceIn);
        l.fillRect(disk, backgroundColor.isValid() ? backgroundColor : QColor(Qt::white));
        if (borderColor.isValid()) {
            l.setPen(QPen(borderColor, size < 17 ? 2 : 4));
            l.setBrush(Qt::NoBrush);
            l.drawEllipse(disk);
        }
        l.setCompositionMode(QPainter::CompositionMode_SourceAtop);
        QLinearGradient shade(disk.topLeft(), disk.bottomLeft());
        shade.setColorAt(0, QColor(0, 0, 0, 0));
        shade.setColorAt(1, QColor(0, 0, 0, 26));
        l.fillRect(disk, shade);
    }
    // The shadow: the layer in translucent black a touch larger, then the layer.
    QImage shadow = layer;
    {
        QPainter s(&shadow);
        s.setCompositionMode(QPainter::CompositionMode_SourceIn);
        s.fillRect(shadow.rect(), QColor(0, 0, 0, 178));
    }
    p.drawImage(QRectF(-0.5, -0.5, size + 1, size + 1), shadow);
    p.drawImage(0, 0, layer);
    return image;
}

QImage PMSparkleWrapper::updateIconWithSize(int size)
{
    return diskIconNamed(QStringLiteral("view-refresh"), size, size <= 16 ? 0 : -1);
}
