// The state of the Dock badge: a count of pending items (or the arrow while an external
// viewer waits to go on) and one progress combining downloads and conversions,
// background item work and the move of files into the library folder. Redraws happen only
// when the count or the whole percent changes; background deltas update at most every
// 0.2 seconds, except the one that ends a busy period.
#include "library/model/PMMainController.h"

#include "library/model/PMMovieRepresentation.h"
#include "platform/LauncherEntry.h"
#include "services/AIHAnnouncements.h"
#include "services/PMApplicationIcon.h"

#include <QtCore/QElapsedTimer>
#include <QtCore/QSet>
#include <QtCore/QTimer>
#include <QtGui/QGuiApplication>
#include <QtGui/QIcon>
#include <QtGui/QPalette>

#include <algorithm>
#include <cmath>

namespace {

// Handing the window system a new window icon sends every size of it to the display server
// (about a megabyte at 256 px) and costs milliseconds of the main thread. Background work
// that starts and ends with every tile scrolled into view would redraw it many times a
// second, so the window takes the newest icon at most every quarter second, and a badge that
// came and went meanwhile never reaches it.
constexpr int kWindowIconInterval = 250;

struct WindowIconUpdate {
    QImage wanted;
    QImage shown;
    QImage plain; // the icon without a badge, as the last busy period ended
    QElapsedTimer sinceShown;
    bool pending = false;
};

WindowIconUpdate& windowIconUpdate()
{
    static WindowIconUpdate update;
    return update;
}

void applyWantedWindowIcon()
{
    WindowIconUpdate& update = windowIconUpdate();
    update.pending = false;
    // Until a badge was shown, the window shows the plain icon already.
    if (update.wanted.isNull() || update.wanted == (update.shown.isNull() ? update.plain : update.shown))
        return;
    update.shown = update.wanted;
    update.sinceShown.start();
    QGuiApplication::setWindowIcon(QIcon(QPixmap::fromImage(update.shown)));
}

void showWindowIconSoon(const QImage& icon)
{
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return;
    WindowIconUpdate& update = windowIconUpdate();
    update.wanted = icon;
    if (update.pending)
        return;
    update.pending = true;
    const qint64 since = update.sinceShown.isValid() ? update.sinceShown.elapsed() : kWindowIconInterval;
    QTimer::singleShot(int(std::max<qint64>(0, kWindowIconInterval - since)), QCoreApplication::instance(), applyWantedWindowIcon);
}

} // namespace

void PMMainController::updateApplicationIcon()
{
    updateApplicationIconWithDownloads(downloadStorage()->rawChildren(), conversionStorage()->rawChildren(),
                                       platform::Date::now().secondsSinceReferenceDate());
}

void PMMainController::updateApplicationIconWithCrawlDelta(std::int64_t delta)
{
    _numberOfRemainingCrawlers += delta;
    if (delta > 0) {
        _numberOfCrawlers += delta;
    } else if (delta < 0 && _numberOfRemainingCrawlers < 1) {
        _numberOfCrawlers = 0;
        _applicationIconUpdateTimestamp = 0;
    }
    if (platform::Date::now().secondsSinceReferenceDate() > _applicationIconUpdateTimestamp + 0.2)
        updateApplicationIcon();
}

void PMMainController::updateApplicationIconWithDownloads(const platform::ArrayPtr& downloads, const platform::ArrayPtr& conversions,
                                                          double timestamp)
{
    std::int64_t count = 0;
    int groups = 0;
    double sum = 0;
    if ((downloads && !downloads->isEmpty()) || (conversions && !conversions->isEmpty())) {
        QSet<const void*> originals;
        for (const platform::ArrayPtr& items : {downloads, conversions})
            if (items)
                for (const platform::Value& item : *items)
                    if (PMMovieRepresentationPrototype* movie = PMMovie(item))
                        originals.insert(&movie->original());
        count = originals.size();
        const std::int64_t total = _longTermNumberOfDownloads + _longTermNumberOfConversions;
        if (total > count) {
            sum += double(total - count) / double(total);
            ++groups;
        } else if (count > 0) {
            ++groups;
        }
    }
    if (_numberOfRemainingCrawlers >= 1) {
        ++groups;
        if (_numberOfCrawlers > _numberOfRemainingCrawlers)
            sum += double(_numberOfCrawlers - _numberOfRemainingCrawlers) / double(_numberOfCrawlers);
    }
    if (_numberOfRemainingItemsMovingToLibraryFolder != 0) {
        count += _numberOfRemainingItemsMovingToLibraryFolder;
        sum += _movingToLibraryFolderFraction;
        ++groups;
    }
    const double progress = groups ? std::min(sum / groups, 1.0) : -1.0;
    if (_isMonitoredExternalViewerReadyToContinue && _externalViewerMovieRepresentation)
        count = -1;

    const auto percent = [](double p) { return p < 0 ? -1.0 : std::floor(p * 100); };
    if (count == _applicationIconBadgeCount && percent(progress) == percent(_applicationIconProgress)) {
        _applicationIconUpdateTimestamp = timestamp;
        return;
    }
    _applicationIconBadgeCount = count;
    _applicationIconProgress = (count != 0 || groups) ? progress : -1.0;
    ++_numberOfApplicationIconRedraws;

    // The icon as it was before the first badge, taken once per busy period.
    static QImage baseIcon;
    QImage icon;
    if (count != 0 || groups) {
        if (baseIcon.isNull()) {
            // The window may still show the last busy period's badge (its plain icon comes a
            // moment later): the plain icon that period ended with is the base then.
            const QIcon plain = QGuiApplication::windowIcon();
            baseIcon = !windowIconUpdate().plain.isNull() ? windowIconUpdate().plain
                       : plain.isNull()                   ? PMApplicationIconImage()
                                                          : plain.pixmap(QSize(256, 256)).toImage();
        }
        const QColor accent = QGuiApplication::palette().color(QPalette::Active, QPalette::Highlight);
        icon = PMApplicationIconWithBadge(baseIcon, count, groups ? progress : -1.0, accent);
    }
    // The window icon carries the badge where no launcher listens; back to the plain icon at
    // the end of a busy period.
    if (!icon.isNull()) {
        showWindowIconSoon(icon);
    } else if (!baseIcon.isNull()) {
        windowIconUpdate().plain = baseIcon;
        showWindowIconSoon(baseIcon);
    }
    if (icon.isNull())
        baseIcon = QImage();
    _applicationIconImage = icon;
    const QString desktopFile = QGuiApplication::desktopFileName();
    platform::updateLauncherEntry(desktopFile.isEmpty() ? QStringLiteral("com.tolvane.Pellis") : desktopFile, count, _applicationIconProgress);
    PMAIHAnnounceImage(icon);
    setStatusProgress(_applicationIconProgress);
    _applicationIconUpdateTimestamp = timestamp;
}
