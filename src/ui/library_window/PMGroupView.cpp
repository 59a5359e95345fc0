// The grid of the main window: items and their tiles, selection, layout, hover. The
// drawing is in PMGroupView+Drawing.cpp, the drags in PMGroupView+Drag.cpp, the commands,
// keys and presses in PMGroupView+Events.cpp.
#include "ui/library_window/PMGroupView.h"
#include "ui/library_window/PMGroupViewColors.h"
#include "ui/library_window/PMGridSettings.h"
#include "ui/library_window/PMStatusFields.h"
#include "ui/library_window/PMPreviewViewPrototype.h"
#include "ui/library_window/PMPreviewViewToolTipPopover.h"

#include "foundation/PMFunctions.h"
#include "images/PMIndexImageWrapper.h"
#include "images/PMMovieRepresentationImageLoader.h"
#include "library/model/PMLibraryContainer.h"
#include "library/model/PMMainController.h"
#include "library/model/PMMovieRepresentation.h"
#include "platform/ConcurrentApply.h"
#include "platform/Memory.h"
#include "platform/NotificationCenter.h"
#include "platform/Queues.h"
#include "foundation/PMSettingsKeys.h"
#include "platform/UserDefaults.h"
#include "images/NSImage+PMBlurredImages.h"
#include "ui/kit/NSString+PMHelpManagerDrawing.h"
#include "ui/kit/PMAppearance.h"
#include "ui/kit/PMRatingView.h"

#include <QtCore/QMetaMethod>
#include <QtCore/QSet>
#include <QtCore/QVariantAnimation>
#include <QtGui/QGuiApplication>
#include <QtGui/QKeyEvent>
#include <QtGui/QPainter>
#include <QtGui/QPainterPath>
#include <QtWidgets/QApplication>
#include <QtWidgets/QMenu>
#include <QtWidgets/QScrollBar>

#include <algorithm>
#include <cmath>

using platform::Array;
using platform::ArrayPtr;
using platform::Value;

namespace {

using PMGridSettings::defaults;
using PMGridSettings::boolValue;

const QString kLayoutUpdateNotification = QStringLiteral("com.tolvane.PMPreviewViewLayoutUpdateNotification");
constexpr double kAnimationSeconds = 0.25;

QString itemID(const Value& item)
{
    PMLibraryItem* it = PMItem(item);
    return it ? it->uniqueLibraryID() : QString();
}

} // namespace

// ---- Colours -----------------------------------------------------------------------

QColor PMGroupViewBackgroundColor(bool dark, double alpha, double darken)
{
    const QString key = dark ? QStringLiteral("Stage Gray: Dark") : QStringLiteral("Stage Gray: Light");
    double white = dark ? 0.15 : 1.0;
    if (!defaults().objectForKey(key).isNull())
        white = std::clamp(defaults().doubleForKey(key), 0.0, 1.0);
    if (darken > 0)
        white = std::max(0.0, white - darken);
    return QColor::fromRgbF(float(white), float(white), float(white), float(std::clamp(alpha, 0.0, 1.0)));
}

QColor PMGroupViewBorderColor(bool dark)
{
    if (PMShouldIncreaseContrast())
        return dark ? QColor::fromRgbF(1, 1, 1, 0.95f) : QColor::fromRgbF(0, 0, 0, 0.95f);
    return dark ? PMGroupViewBackgroundColor(true, 1.0, 0.07) : QColor::fromRgbF(0, 0, 0, 0.2f);
}

QColor PMGroupView::backgroundColorWithAlpha(double alpha, double darken)
{
    return PMGroupViewBackgroundColor(PMIsDarkMode(), alpha, darken);
}

QColor PMGroupView::backgroundColor()
{
    return PMGroupView::backgroundColorWithAlpha(1.0, -1);
}

QColor PMGroupView::borderColor()
{
    return PMGroupViewBorderColor(PMIsDarkMode());
}

void PMGroupViewSelectionWindow::drawOverlayInBounds(QPainter& painter, const QRectF& bounds, const PMGroupViewSelectionWindow& window)
{
    painter.save();
    QColor fill = QGuiApplication::palette().highlight().color();
    fill.setAlphaF(0.18f);
    QColor stroke = QGuiApplication::palette().highlight().color();
    painter.setPen(QPen(stroke, 1.0));
    painter.setBrush(fill);
    painter.drawRect(bounds.adjusted(0.5, 0.5, -0.5, -0.5));
    const double box = std::min(bounds.height() / 3.0, 100.0);
    const QColor arrow = QColor::fromRgbF(1, 1, 1, 0.4f);
    if (window.drawsDownArrow)
        fitAndDrawInRect(painter, QStringLiteral("⬇"), QRectF(bounds.left(), bounds.bottom() - box, bounds.width(), box), nullptr, arrow, nullptr, 0);
    if (window.drawsUpArrow)
        fitAndDrawInRect(painter, QStringLiteral("⬆"), QRectF(bounds.left(), bounds.top(), bounds.width(), box), nullptr, arrow, nullptr, 0);
    painter.restore();
}

// ---- The grid ----------------------------------------------------------------------

unsigned& PMGroupView::interactionCounter()
{
    static unsigned counter = 0;
    return counter;
}

unsigned& PMGroupView::animationSuppressionCounter()
{
    static unsigned counter = 0;
    return counter;
}

bool& PMGroupView::coverMode()
{
    static bool flag = false;
    return flag;
}

PMGroupView::PMGroupView(QWidget* parent) : QAbstractScrollArea(parent)
{
    PMGroupViewInstallAccessibility();
    setFocusPolicy(Qt::StrongFocus);
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
    viewport()->setMouseTracking(true);
    viewport()->setAutoFillBackground(false);
    // Every pixel of the viewport is painted by the grid (tiles and the colour around them):
    // the window under it is not painted first at every step of a scroll.
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    verticalScrollBar()->setSingleStep(20);

    m_clearProxyDumpTimer.setSingleShot(true);
    connect(&m_clearProxyDumpTimer, &QTimer::timeout, this, [this] { clearProxyDump(); });
    m_dragTimer.setSingleShot(true);
    connect(&m_dragTimer, &QTimer::timeout, this, [this] { startDragFromPress(); });
    m_autoScrollTimer.setInterval(30);
    connect(&m_autoScrollTimer, &QTimer::timeout, this, [this] { autoScroll(); });

    m_liveResizeTimer.setSingleShot(true);
    connect(&m_liveResizeTimer, &QTimer::timeout, this, [this] {
        m_inLiveResize = false;
        if (!_proxies.empty())
            tileWithAdjustedSize(true, false, false);
    });
    // The arrow of an empty online container fades in while it slides up.
    m_hoverTimer.setInterval(15);
    connect(&m_hoverTimer, &QTimer::timeout, this, &PMGroupView::advanceHover);
    m_arrowTimer.setInterval(20);
    connect(&m_arrowTimer, &QTimer::timeout, this, [this] {
        if (_arrowAlpha < 0.96) {
            _arrowAlpha += 0.08;
        } else {
            _arrowAlpha = 1.0;
            m_arrowTimer.stop();
        }
        viewport()->update();
    });

    m_animation = new QVariantAnimation(this);
    m_animation->setStartValue(0.0);
    m_animation->setEndValue(1.0);
    m_animation->setEasingCurve(QEasingCurve::InOutQuad);
    connect(m_animation, &QVariantAnimation::valueChanged, this, [this](const QVariant& v) { animationStep(v.toDouble()); });
    connect(m_animation, &QVariantAnimation::finished, this, [this] {
        animationStep(1.0);
        stopMoving();
        PMMovieRepresentationImageLoader::defaultLoader().throttleLoading(0);
        preparePreviewViewsInRect(visibleRect());
    });

    // A live scroll: one load at a time while the thumb is held.
    connect(verticalScrollBar(), &QScrollBar::sliderPressed, this, [this] { beginLiveScroll(); });
    connect(verticalScrollBar(), &QScrollBar::sliderReleased, this, [this] { endLiveScroll(); });
    connect(verticalScrollBar(), &QScrollBar::rangeChanged, this, [this](int minimum, int maximum) {
        if (minimum == maximum && _isInLiveScroll) {
            verticalScrollBar()->setSliderDown(false);
            endLiveScroll();
        }
    });
    verticalScrollBar()->installEventFilter(this);

    // Pictures whose aspect ratio became known re-lay a waterfall out after a second.
    _waterfallTimer.setSingleShot(true);
    connect(&_waterfallTimer, &QTimer::timeout, this, [this] {
        if (PMIsWaterfallLayout(currentLayout()))
            tileWithAdjustedSize(true, false, true);
    });
    platform::NotificationCenter::defaultCenter().addObserver(this, kLayoutUpdateNotification, nullptr,
                                                              [this](const platform::Notification&) { updateWaterfall(); });
}

void PMGroupView::updateWaterfall()
{
    m_ratiosValid = false;
    if (PMIsWaterfallLayout(currentLayout()))
        _waterfallTimer.start(1000);
}

void PMGroupView::beginLiveScroll()
{
    if (_isInLiveScroll)
        return;
    _isInLiveScroll = true;
    PMMovieRepresentationImageLoader::defaultLoader().throttleLoading(1);
    ++interactionCounter();
}

void PMGroupView::endLiveScroll()
{
    if (!_isInLiveScroll)
        return;
    _isInLiveScroll = false;
    // Not tied to the grid: the loader is released even when the grid goes first.
    QTimer::singleShot(1000, QCoreApplication::instance(), [] { PMMovieRepresentationImageLoader::defaultLoader().throttleLoading(0); });
    if (interactionCounter() > 0)
        --interactionCounter();
    if (interactionCounter() == 0) {
        // Tiles drawn simplified during the scroll are drawn in full again, those on
        // screen first, one per turn of the event loop.
        const QRectF visible = visibleRect();
        _simplifiedDisplayViews.clear();
        std::vector<PMGroupViewTilePtr> later;
        for (const PMGroupViewItemProxyPtr& proxy : _proxies)
            if (proxy->view && proxy->view->didSimplifyDisplay())
                (proxy->frame.intersects(visible) ? _simplifiedDisplayViews : later).push_back(proxy->view);
        _simplifiedDisplayViews.insert(_simplifiedDisplayViews.end(), later.begin(), later.end());
        if (!_simplifiedDisplayViews.empty())
            QTimer::singleShot(0, this, [this] { endSimplifiedDisplay(); });
    }
}


void PMGroupView::animateMask()
{
    if (!m_arrowTimer.isActive())
        m_arrowTimer.start();
}

void PMGroupView::endSimplifiedDisplay()
{
    if (_isInLiveScroll)
        return;
    while (!_simplifiedDisplayViews.empty()) {
        const PMGroupViewTilePtr view = _simplifiedDisplayViews.front();
        _simplifiedDisplayViews.erase(_simplifiedDisplayViews.begin());
        if (view->endSimplifiedDisplay()) {
            viewport()->update();
            break;
        }
    }
    if (!_simplifiedDisplayViews.empty())
        QTimer::singleShot(0, this, [this] { endSimplifiedDisplay(); });
}

PMGroupViewTile::~PMGroupViewTile()
{
    PMPreviewViewToolTipPopover::shared().hideForPreviewView(serial);
    PMTileBufferPool::give(std::move(rendered));
    PMTileBufferPool::give(std::move(picture));
}

quint64 PMGroupViewTile::nextSerial()
{
    static quint64 last = 0;
    return ++last;
}

PMGroupView::~PMGroupView()
{
    for (PMGroupViewItemProxy* proxy : m_shown)
        if (proxy->view)
            PMPreviewViewToolTipPopover::shared().hideForPreviewView(proxy->view->serial);
    platform::NotificationCenter::defaultCenter().removeObserver(this);
    m_animation->disconnect(this);
    if (m_animation->state() == QAbstractAnimation::Running) {
        m_animation->stop();
        PMMovieRepresentationImageLoader::defaultLoader().throttleLoading(0);
    }
    if (_isInLiveScroll)
        PMMovieRepresentationImageLoader::defaultLoader().throttleLoading(0);
    if (_isDragTarget && interactionCounter() > 0)
        --interactionCounter();
    if (_isInLiveScroll && interactionCounter() > 0)
        --interactionCounter();
}

// ---- Settings

double PMGroupView::spacing()
{
    return PMGroupViewSpacingFromStoredValue(defaults().doubleForKey(prefs::keys::PreviewSpacing));
}

void PMGroupView::setSpacing(double value)
{
    defaults().setDouble(value, prefs::keys::PreviewSpacing);
}

double PMGroupView::coverAspectRatio()
{
    const double v = defaults().doubleForKey(prefs::keys::CoverAspectRatio);
    return v < 1.0 ? 1.46 : v;
}

double PMGroupView::previewAspectRatio()
{
    const double v = defaults().doubleForKey(prefs::keys::PreviewAspectRatio);
    return v < 1.0 ? 1.48 : v;
}

double PMGroupView::coverOverlayAlpha()
{
    const Value v = defaults().objectForKey(prefs::keys::CoverOverlayAlpha);
    return v.isNull() ? 1.0 : double(float(defaults().doubleForKey(prefs::keys::CoverOverlayAlpha)));
}

void PMGroupView::setCoverOverlayAlpha(double alpha)
{
    defaults().setDouble(double(float(alpha)), prefs::keys::CoverOverlayAlpha);
}

double PMGroupView::coverOverlayPosition()
{
    return defaults().doubleForKey(prefs::keys::CoverOverlayPosition);
}

void PMGroupView::setCoverOverlayPosition(double position)
{
    defaults().setDouble(position, prefs::keys::CoverOverlayPosition);
}

double PMGroupView::previewViewWidthForContainer(const std::shared_ptr<PMLibraryContainer>& container)
{
    const bool individual = defaults().boolForKey(prefs::keys::IndividualPreviewWidths);
    auto widthFor = [&](const QString& key) -> std::optional<double> {
        if (container && individual) {
            const Value v = container->value(key);
            if (v.isNumber())
                return std::max(50.0, v.toDouble());
        }
        const Value d = defaults().objectForKey(key);
        if (!d.isNull())
            return std::max(50.0, defaults().doubleForKey(key));
        return std::nullopt;
    };
    if (coverMode())
        if (auto w = widthFor(QStringLiteral("Cover Width")))
            return *w;
    if (auto w = widthFor(QStringLiteral("Preview Width")))
        return *w;
    return 191.0;
}

void PMGroupView::setPreviewWidth(double width, const std::shared_ptr<PMLibraryContainer>& container)
{
    const QString key = coverMode() ? QStringLiteral("Cover Width") : QStringLiteral("Preview Width");
    defaults().setDouble(width, key);
    if (container && defaults().boolForKey(prefs::keys::IndividualPreviewWidths))
        container->setValue(key, Value(width));
}

unsigned PMGroupView::currentLayout()
{
    const std::int64_t v = defaults().integerForKey(coverMode() ? prefs::keys::CoverLayout : prefs::keys::PreviewLayout);
    return unsigned(std::max<std::int64_t>(0, v));
}

// ---- Items

void PMGroupView::setRepresentedGroup(const std::shared_ptr<PMLibraryContainer>& group)
{
    _representedGroup = group;
}

void PMGroupView::addItem(const Value& item)
{
    Value shown = item;
    Value equivalent;
    bool isGroup = false;
    if (PMLibraryContainer* container = PMContainer(item)) {
        isGroup = true;
        if (PMMainController::blendsSubgroupPreviews()) {
            Value first;
            if (const ArrayPtr sorted = container->sortedChildren())
                for (const Value& v : *sorted)
                    if (PMMovie(v)) {
                        first = PMItem(v)->nonProxySelf();
                        break;
                    }
            if (first.isNull())
                if (const ArrayPtr raw = container->rawChildren())
                    for (const Value& v : *raw)
                        if (PMMovie(v) && !PMItem(v)->isProxy()) {
                            first = v;
                            break;
                        }
            if (PMMovieRepresentationPrototype* movie = PMMovie(first))
                if (auto proxy = movie->fanOutProxy()) {
                    shown = Value(proxy);
                    equivalent = item;
                    isGroup = false;
                }
        }
    }
    PMGroupViewItemProxyPtr proxy;
    // Only a few screens of proxies wait in the dump: a record (a lasting object) is looked
    // for there by its address, and only what is found, a container or a stand-in by its
    // ID, so that a refill does not work out the ID of every item it shows.
    if (m_hasProxyDump && !m_dumpedObjects.isEmpty()) {
        PMLibraryItem* shownItem = PMItem(shown);
        // A stand-in (a search result) is looked for by the record it stands for: the dump
        // knows those records' addresses too.
        const auto recordAddress = [&]() -> const void* {
            if (PMMovieRepresentationPrototype* movie = PMMovie(shown))
                return static_cast<const platform::Object*>(&movie->original());
            return shownItem->nonProxySelf().objectPointer();
        };
        const bool byID = m_dumpedObjects.contains(shown.objectPointer())
                          || (shownItem && (shownItem->isContainer() || (shownItem->isProxy() && m_dumpedObjects.contains(recordAddress()))));
        if (byID) {
            if (m_dumpBucketGroup != _representedGroup.get() || !m_dumpBucket) {
                const QString groupKey = _representedGroup ? _representedGroup->uniqueLibraryID() : QString();
                auto bucket = _proxyDump.find(groupKey);
                m_dumpBucket = bucket != _proxyDump.end() ? &bucket.value() : nullptr;
                m_dumpBucketGroup = _representedGroup.get();
            }
            if (m_dumpBucket && !m_dumpBucket->isEmpty())
                proxy = m_dumpBucket->take(itemID(shown));
        }
    }
    if (proxy) {
        proxy->view.reset();
        proxy->selected = false;
        proxy->dragged = false;
    } else {
        // The last content's proxy that nobody else holds (the lists of that content
        // only let go of it later): the memory of a proxy already faulted in.
        while (!m_recyclable.empty() && !proxy) {
            PMGroupViewItemProxyPtr candidate = std::move(m_recyclable.back());
            m_recyclable.pop_back();
            if (candidate.use_count() <= 2) {
                m_recycledItems.push_back(std::move(candidate->representedItem));
                if (!candidate->equivalentContainer.isNull())
                    m_recycledItems.push_back(std::move(candidate->equivalentContainer));
                *candidate = PMGroupViewItemProxy();
                proxy = std::move(candidate);
            }
        }
        if (!proxy)
            proxy = std::make_shared<PMGroupViewItemProxy>();
    }
    proxy->representedItem = shown;
    proxy->equivalentContainer = equivalent;
    proxy->isGroup = isGroup;
    _proxies.push_back(proxy);
    (isGroup ? _groupProxies : _movieProxies).push_back(proxy);
    m_ratiosValid = false;
}

bool PMGroupView::setItems(const std::shared_ptr<PMLibraryContainer>& group, std::span<const Value> items, std::span<const Value> more)
{
    // The items compared are what was added, by identity (the proxies keep them alive, so
    // an address is never that of another item made since).
    const bool blends = PMMainController::blendsSubgroupPreviews();
    const auto same = [&] {
        // A blended subgroup's tile may have to show another of its movies now.
        if (blends || group != _representedGroup || blends != m_itemsBlended || items.size() + more.size() != _proxies.size())
            return false;
        for (std::size_t i = 0; i < _proxies.size(); ++i) {
            const Value& added = _proxies[i]->equivalentContainer.isNull() ? _proxies[i]->representedItem : _proxies[i]->equivalentContainer;
            const Value& item = i < items.size() ? items[i] : more[i - items.size()];
            if (added.objectPointer() != item.objectPointer() || !added.isObject())
                return false;
        }
        return true;
    };
    if (same()) {
        // What a tile shows (name, rating, state) may have changed with the library, and
        // so may its description: that closes (the next hover shows it anew).
        for (PMGroupViewItemProxy* proxy : m_shown)
            if (proxy->view) {
                proxy->view->invalidateDrawing();
                PMPreviewViewToolTipPopover::shared().hideForPreviewView(proxy->view->serial);
            }
        viewport()->update();
        return true;
    }
    clear();
    setRepresentedGroup(group);
    m_itemsBlended = blends;
    _proxies.reserve(items.size() + more.size());
    _movieProxies.reserve(items.size());
    for (const Value& item : items)
        addItem(item);
    for (const Value& item : more)
        addItem(item);
    return false;
}

void PMGroupView::clear()
{
    if (m_hasProxyDump)
        m_clearProxyDumpTimer.stop();
    m_hasProxyDump = true;
    const QString groupKey = _representedGroup ? _representedGroup->uniqueLibraryID() : QString();
    auto& bucket = _proxyDump[groupKey];
    // An item shown again keeps its proxy, so that its tile moves from where it was. Only
    // those within a screen of the visible part are kept: a tile from farther away would
    // come in from the screen's edge all the same, and the cost stays that of a few
    // screens whatever the number of tiles.
    if (!_proxies.empty()) {
        const QRectF visible = visibleRect();
        const double reach = std::max(visible.height(), 1.0);
        std::vector<std::uint32_t> near;
        m_index.tilesInRect(visible.adjusted(-reach, -reach, reach, reach), near);
        for (std::uint32_t i : near)
            if (i < _proxies.size() && _proxies[i].get() == m_indexed[i]) {
                const Value& item = _proxies[i]->representedItem;
                bucket.insert(itemID(item), _proxies[i]);
                m_dumpedObjects.insert(item.objectPointer());
                if (PMLibraryItem* libraryItem = PMItem(item); libraryItem && libraryItem->isProxy())
                    m_dumpedObjects.insert(libraryItem->nonProxySelf().objectPointer());
            }
    }
    m_dumpBucket = nullptr;
    m_dumpBucketGroup = nullptr;
    // Tiles exist only for the proxies shown.
    for (PMGroupViewItemProxy* proxy : m_shown)
        dropTile(*proxy);
    // Letting go of 100,000 proxies (each array holds them all) would hold the window here:
    // they go with the dump, a slice per turn.
    if (!m_recyclable.empty())
        m_retiredProxies.push_back(std::exchange(m_recyclable, {}));
    m_recyclable = std::move(_proxies);
    m_retiredProxies.push_back(std::move(_movieProxies));
    m_retiredProxies.push_back(std::move(_groupProxies));
    _proxies = {};
    _groupProxies = {};
    _movieProxies = {};
    m_indexed.clear();
    m_index.rebuild({});
    m_shown.clear();
    // The tiles a band began with are known by address: the next content's proxies may
    // take those addresses.
    m_tracking.initialSelection.clear();
    m_anyMoving = false;
    _representedGroup.reset();
    _numberOfColumns = 0;
    m_ratiosValid = false;
    ++m_contentGeneration;
    viewport()->update();
    m_clearProxyDumpTimer.start(1000);
}

void PMGroupView::clearProxyDump()
{
    _proxyDump.clear();
    m_dumpedObjects.clear();
    m_dumpBucket = nullptr;
    m_dumpBucketGroup = nullptr;
    if (!m_recyclable.empty())
        m_retiredProxies.push_back(std::exchange(m_recyclable, {}));
    platform::releaseValuesInSlices(std::exchange(m_recycledItems, {}), 0);
    if (!m_retiredProxies.empty()) {
        // A slice per turn, the last ones first.
        auto lists = std::make_shared<std::vector<std::vector<PMGroupViewItemProxyPtr>>>(std::move(m_retiredProxies));
        m_retiredProxies = {};
        std::size_t count = 0;
        for (const std::vector<PMGroupViewItemProxyPtr>& list : *lists)
            count += list.size();
        platform::dispatchSlicesOnMain(count, 8192, [lists](std::size_t begin, std::size_t end) {
            for (std::size_t left = end - begin; left > 0 && !lists->empty();) {
                std::vector<PMGroupViewItemProxyPtr>& last = lists->back();
                const std::size_t n = std::min(left, last.size());
                last.erase(last.end() - std::ptrdiff_t(n), last.end());
                left -= n;
                if (last.empty())
                    lists->pop_back();
            }
        });
    }
    m_hasProxyDump = false;
}

PMGroupViewTilePtr PMGroupView::previewViewForMovieRepresentation(const Value& record) const
{
    PMLibraryItem* wanted = PMItem(record);
    if (!wanted)
        return nullptr;
    const Value self = wanted->nonProxySelf();
    for (const PMGroupViewItemProxyPtr& proxy : _movieProxies)
        if (PMLibraryItem* item = PMItem(proxy->representedItem); item && PMIsSameItem(item->nonProxySelf(), self))
            return proxy->view;
    return nullptr;
}

PMGroupViewItemProxyPtr PMGroupView::proxyForPreviewView(const PMGroupViewTilePtr& view) const
{
    if (!view)
        return nullptr;
    for (const PMGroupViewItemProxyPtr& proxy : _proxies)
        if (proxy->view == view)
            return proxy;
    return nullptr;
}

// ---- Selection

void PMGroupView::getSelectedItems(Array& items, std::vector<PMGroupViewItemProxyPtr>* proxies, std::vector<PMGroupViewTilePtr>* views) const
{
    for (const PMGroupViewItemProxyPtr& proxy : _proxies) {
        if (!proxy->selected)
            continue;
        items.append(proxy->selectedItem());
        if (proxies)
            proxies->push_back(proxy);
        if (views && proxy->view)
            views->push_back(proxy->view);
    }
}

ArrayPtr PMGroupView::selectedItems() const
{
    ArrayPtr items = Array::make();
    getSelectedItems(*items, nullptr, nullptr);
    return items;
}

std::vector<PMGroupViewItemProxyPtr> PMGroupView::selectedProxies() const
{
    Array items;
    std::vector<PMGroupViewItemProxyPtr> proxies;
    getSelectedItems(items, &proxies, nullptr);
    return proxies;
}

std::vector<PMGroupViewTilePtr> PMGroupView::selectedPreviewViews() const
{
    Array items;
    std::vector<PMGroupViewTilePtr> views;
    getSelectedItems(items, nullptr, &views);
    return views;
}

void PMGroupView::selectItems(const ArrayPtr& items, const std::vector<PMGroupViewItemProxyPtr>& proxies, const QStringList& ids,
                              bool byDeselectingOthers, bool orSelectAll, bool scrollToVisible, bool spotlight)
{
    // Items by identity, proxies by identity, IDs by value (stored IDs are new strings).
    QSet<const void*> itemSet;
    if (items)
        for (const Value& v : *items)
            if (v.isObject())
                itemSet.insert(v.objectPointer());
    QSet<const PMGroupViewItemProxy*> proxySet;
    for (const PMGroupViewItemProxyPtr& p : proxies)
        proxySet.insert(p.get());
    const QSet<QString> idSet(ids.begin(), ids.end());
    const double S = spacing();
    QRectF united;
    PMGroupViewItemProxyPtr firstSelected;
    for (const PMGroupViewItemProxyPtr& proxy : _proxies) {
        const Value& item = proxy->selectedItem();
        const bool select = orSelectAll || (item.isObject() && itemSet.contains(item.objectPointer())) || proxySet.contains(proxy.get())
                            || (!idSet.isEmpty() && idSet.contains(itemID(item)));
        if (select) {
            proxy->setSelected(true);
            if (scrollToVisible)
                united = united.united(proxy->frame.adjusted(-S, -S, S, S));
            if (spotlight && !firstSelected)
                firstSelected = proxy;
        } else if (byDeselectingOthers) {
            proxy->setSelected(false);
        }
    }
    if (firstSelected)
        QTimer::singleShot(0, this, [this, firstSelected] { spotlightProxy(firstSelected); });
    if (!united.isEmpty()) {
        const QRectF visible = visibleRect();
        united.setSize(QSizeF(std::min(united.width(), visible.width()), std::min(united.height(), visible.height())));
        scrollRectToVisible(united);
    }
    viewport()->update();
    mainController().updateStatusFields();
}

void PMGroupView::selectItems(const ArrayPtr& items, bool byDeselectingOthers, bool scrollToVisible, bool spotlight)
{
    selectItems(items, {}, {}, byDeselectingOthers, false, scrollToVisible, spotlight);
}

void PMGroupView::selectItemsWithIDs(const QStringList& ids)
{
    selectItems(nullptr, {}, ids, true, false, false, false);
}

void PMGroupView::selectAll()
{
    selectItems(nullptr, {}, {}, false, true, false, false);
}

void PMGroupView::setSelectedForPreviewView(bool selected, const PMGroupViewTilePtr& view)
{
    if (PMGroupViewItemProxyPtr proxy = proxyForPreviewView(view))
        proxy->setSelected(selected);
    viewport()->update();
    mainController().updateStatusFields();
}

void PMGroupView::selectToProxy(const PMGroupViewItemProxyPtr& target)
{
    if (!target)
        return;
    auto anchor = std::find_if(_proxies.begin(), _proxies.end(), [](const PMGroupViewItemProxyPtr& p) { return p->selected; });
    if (anchor == _proxies.end()) {
        target->setSelected(true);
    } else {
        bool inRange = false;
        for (const PMGroupViewItemProxyPtr& proxy : _proxies) {
            const bool isEnd = proxy == *anchor || proxy == target;
            if (isEnd && !inRange) {
                inRange = true;
                proxy->setSelected(true);
                if (*anchor == target)
                    break;
                continue;
            }
            if (inRange) {
                proxy->setSelected(true);
                if (isEnd)
                    break;
            }
        }
    }
    viewport()->update();
    mainController().updateStatusFields();
}

void PMGroupView::spotlightProxy(const PMGroupViewItemProxyPtr& proxy)
{
    if (!proxy || !window() || std::find(_proxies.begin(), _proxies.end(), proxy) == _proxies.end())
        return;
    window()->raise();
    window()->activateWindow();
    // The overlay: the grid dimmed around the tile until the next event.
    m_spotlightRect = proxy->frame.intersected(visibleRect());
    viewport()->update();
}

void PMGroupView::moveSelection(int key, bool extend)
{
    if (_movieProxies.empty())
        return;
    const auto& movies = _movieProxies;
    const std::ptrdiff_t n = std::ptrdiff_t(movies.size());
    std::ptrdiff_t first = -1, last = -1;
    for (std::ptrdiff_t i = 0; i < n; ++i)
        if (movies[size_t(i)]->selected) {
            if (first < 0)
                first = i;
            last = i;
        }
    std::ptrdiff_t target = 0;
    switch (key) {
    case Qt::Key_Right:
        target = last < 0 ? 0 : std::min(last + 1, n - 1);
        break;
    case Qt::Key_Left:
        target = first < 0 ? 0 : std::max<std::ptrdiff_t>(first - 1, 0);
        break;
    case Qt::Key_Up:
    case Qt::Key_Down: {
        const bool up = key == Qt::Key_Up;
        const std::ptrdiff_t reference = (up ? first : last) < 0 ? 0 : (up ? first : last);
        const QRectF ref = movies[size_t(reference)]->frame;
        std::ptrdiff_t best = -1;
        QRectF firstCandidate;
        double bestDistance = 0;
        for (std::ptrdiff_t i = up ? reference - 1 : reference + 1; i >= 0 && i < n; i += up ? -1 : 1) {
            const QRectF f = movies[size_t(i)]->frame;
            if (f.isEmpty())
                continue;
            const bool overlapsX = f.left() < ref.right() && f.right() > ref.left();
            if (best >= 0 && !(f.top() < firstCandidate.bottom() && f.bottom() > firstCandidate.top()))
                break;
            if (!overlapsX)
                continue;
            const double distance = std::abs(f.center().x() - ref.center().x());
            if (best < 0) {
                firstCandidate = f;
                best = i;
                bestDistance = distance;
            } else if (distance < bestDistance) {
                best = i;
                bestDistance = distance;
            }
        }
        target = best >= 0 ? best : (up ? 0 : n - 1);
        break;
    }
    default:
        return;
    }
    const PMGroupViewItemProxyPtr proxy = movies[size_t(target)];
    if (extend) {
        selectToProxy(proxy);
    } else {
        selectItems(nullptr, {proxy}, {}, true, false, true, false);
    }
}

// ---- Layout

QRectF PMGroupView::usableRectRelativeToEnclosingScrollView() const
{
    return QRectF(viewport()->geometry());
}

QSizeF PMGroupView::canvasSizeWithCurrentWidth(double* currentWidth) const
{
    const QSizeF size = usableRectRelativeToEnclosingScrollView().size();
    if (currentWidth)
        *currentWidth = size.width();
    return size;
}

PMGroupViewLayoutInput PMGroupView::layoutInput(bool adjust) const
{
    const bool cover = coverMode();
    PMGroupViewLayoutInput in;
    in.layout = currentLayout();
    in.coverMode = cover;
    in.coverOverlayAlpha = cover ? coverOverlayAlpha() : 0.0;
    in.subgroupCount = _groupProxies.size();
    in.baseWidth = previewViewWidthForContainer(_representedGroup);
    in.spacing = spacing();
    in.canvas = canvasSize();
    in.adjust = adjust;
    const QString adjustKey = cover ? QStringLiteral("Adjust Cover Size") : QStringLiteral("Adjust Preview Size");
    in.adjustSize = defaults().objectForKey(adjustKey).isNull() ? 1 : defaults().integerForKey(adjustKey);
    in.fullyInteractive = isFullyInteractiveGroupView();
    const QString thresholdKey = cover ? QStringLiteral("Adjust Cover Size: Delta Compensation Threshold")
                                       : QStringLiteral("Adjust Preview Size: Delta Compensation Threshold");
    if (defaults().objectForKey(thresholdKey).isNumber())
        in.deltaCompensationThreshold = defaults().doubleForKey(thresholdKey);
    in.heightFitSingleRowOnly = boolValue(QStringLiteral("Height Fit: Single Row Only"), true);
    in.staticLabels = cover ? !boolValue(QStringLiteral("Hover Cover Headers"), true) : !boolValue(QStringLiteral("Hover Preview Headers"), false);
    const Value below = defaults().objectForKey(prefs::keys::PositionLabelsBelowThumbnails);
    in.labelsOverlay = in.staticLabels ? (below.isNull() ? !(in.layout & PMLayoutScaleToFit) : !below.toBool()) : true;
    if (defaults().objectForKey(prefs::keys::MosaicMinimumAspectRatio).isNumber())
        in.mosaicMinimumAspectRatio = defaults().doubleForKey(prefs::keys::MosaicMinimumAspectRatio);
    const bool mosaic = PMIsMosaicLayout(in.layout);
    in.balanceRowHeight = mosaic && boolValue(QStringLiteral("Mosaic: Balance Row Height"), true);
    const Value expand = defaults().objectForKey(prefs::keys::MosaicExpandLastRow);
    in.expansionPriority = !mosaic ? -1 : expand.isNull() ? 0 : (expand.toBool() ? 1 : -1);
    in.fallBackToSquare = defaults().boolForKey(prefs::keys::AverageMedianAspectRatioFallBackTo11);
    in.coverAspectRatio = coverAspectRatio();
    in.previewAspectRatio = previewAspectRatio();
    in.subgroupPosition = int(defaults().integerForKey(prefs::keys::SubgroupPreviewsPosition));
    const Value centre = defaults().objectForKey(prefs::keys::VariableHeightCenterVertically);
    in.centerVertically = centre.isNull() ? !in.staticLabels : centre.toBool();
    auto threshold = [](const QString& key) -> long {
        if (!defaults().boolForKey(key))
            return -1;
        return long(std::max<std::int64_t>(0, defaults().integerForKey(key + prefs::suffixes::RowsThreshold)));
    };
    in.subgroupColumnThreshold = threshold(QStringLiteral("Arrange Subgroups In Columns"));
    in.movieColumnThreshold = threshold(QStringLiteral("Arrange Thumbnails In Columns"));
    in.backingScale = devicePixelRatioF();
    in.adjustsSpacingForGlass = _adjustsSpacingForGlass;
    in.hasScopeBar = _hasScopeBar;
    return in;
}

unsigned PMGroupView::columnsShownForWidth(double width) const
{
    PMGroupViewLayoutInput in = layoutInput(true);
    in.baseWidth = width;
    // Without the movies' ratios (before the first tiling) only the plain count is known.
    if (!m_ratiosValid || !m_aspectRatioCache.valid || in.adjustSize < 1)
        return numberOfColumnsForWidth(width, in.spacing, in.canvas.width());
    auto& memo = m_columnsShown;
    if (memo.width == width && memo.canvas == in.canvas && memo.movies == _movieProxies.size() && memo.groups == _groupProxies.size()
        && memo.spacing == in.spacing && memo.layout == in.layout && memo.adjustSize == in.adjustSize)
        return memo.columns;
    in.computedAspectRatio.valid = true;
    in.computedAspectRatio.found = m_aspectRatioCache.found;
    in.computedAspectRatio.ratio = m_aspectRatioCache.ratio;
    in.movieRatios = m_ratios;
    in.columnsOnly = true;
    memo = {width, in.canvas, _movieProxies.size(), _groupProxies.size(), in.spacing, in.layout, in.adjustSize,
            std::max(1u, PMGroupViewLayout(in).numberOfColumns)};
    return memo.columns;
}

void PMGroupView::tileWithAdjustedSize(bool adjust, bool restoreVisibleRect, bool animate)
{
    _isTiling = true;
    const bool animated = animate && animationSuppressionCounter() == 0 && isVisible() && window()->isVisible();
    if (!animated)
        ++animationSuppressionCounter();

    // An empty online container: the arrow comes in unless a search runs.
    if (_representedGroup && _representedGroup->isOnlineItem() && _movieProxies.empty()) {
        const platform::DictionaryPtr search = _representedGroup->value(QStringLiteral("Search")).dictionary();
        const bool searching = search && search->value(QStringLiteral("Searching")).toBool();
        if (searching) {
            _arrowAlpha = 0;
            m_arrowTimer.stop();
        } else if (_arrowAlpha < 0.1)
            QTimer::singleShot(100, this, [this] { animateMask(); });
    } else {
        _arrowAlpha = 0;
        m_arrowTimer.stop();
    }
    PMGroupViewLayoutInput in = layoutInput(adjust);
    // The ratios of the movies, kept until the content changes.
    const bool contentChanged = !m_ratiosValid;
    if (!m_ratiosValid) {
        m_aspectRatioCache.valid = false;
        m_ratios.resize(_movieProxies.size());
        const auto ratios = [this](std::size_t begin, std::size_t end) {
            for (std::size_t i = begin; i < end; ++i) {
                PMMovieRepresentationPrototype* movie = PMMovie(_movieProxies[i]->representedItem);
                m_ratios[i] = movie ? movie->thumbnailImageAspectRatio() : -1.0;
            }
        };
        constexpr std::size_t kSlice = 4096;
        if (_movieProxies.size() < 4 * kSlice) {
            ratios(0, _movieProxies.size());
        } else {
            // Tens of thousands of records, rarely in the cache: their ratios are read on
            // every core. Only ratios worked out before are read there (the main thread
            // works them out, and it waits here); the others are worked out below.
            constexpr double kNotWorkedOut = -100.0;
            platform::concurrentApply((_movieProxies.size() + kSlice - 1) / kSlice, [&](std::size_t slice) {
                const std::size_t end = std::min(_movieProxies.size(), (slice + 1) * kSlice);
                for (std::size_t i = slice * kSlice; i < end; ++i) {
                    PMMovieRepresentationPrototype* movie = PMMovie(_movieProxies[i]->representedItem);
                    const double known = movie ? movie->original().m_thumbnailImageAspectRatio : -1.0;
                    m_ratios[i] = known < -9.0 ? kNotWorkedOut : known;
                }
            });
            for (std::size_t i = 0; i < m_ratios.size(); ++i)
                if (m_ratios[i] == kNotWorkedOut)
                    ratios(i, i + 1);
        }
        m_ratiosValid = true;
    }
    const bool median = in.layout & PMLayoutMedian;
    if (!m_aspectRatioCache.valid || m_aspectRatioCache.median != median || m_aspectRatioCache.fallBack != in.fallBackToSquare) {
        double ratio = 1.0;
        m_aspectRatioCache.found = calculateAspectRatio(m_ratios.data(), m_ratios.size(), median, in.fallBackToSquare, &ratio);
        m_aspectRatioCache.ratio = ratio;
        m_aspectRatioCache.median = median;
        m_aspectRatioCache.fallBack = in.fallBackToSquare;
        m_aspectRatioCache.valid = true;
    }
    in.computedAspectRatio.valid = true;
    in.computedAspectRatio.found = m_aspectRatioCache.found;
    in.computedAspectRatio.ratio = m_aspectRatioCache.ratio;
    // During a live resize the waterfall family keeps its frames until the column count changes.
    const unsigned columns = numberOfColumnsForWidth(in.baseWidth, in.spacing, in.canvas.width());
    const bool keep = m_inLiveResize && PMIsWaterfallLayout(m_layout.layout) && PMIsWaterfallLayout(in.layout) && columns == m_liveResizeColumns
                      && m_layout.movieFrames.size() == _movieProxies.size() && m_layout.subgroupFrames.size() == _groupProxies.size();
    m_liveResizeColumns = columns;
    // The same tiles (in the same order, with the same ratios) laid out from the same
    // input land where they are: a refresh that changed no content leaves the frames and
    // the index as they are, whatever the number of tiles.
    const bool dragOrder = _isDragTarget && _localDragMovieProxies;
    const bool unchanged = !contentChanged && !keep && !dragOrder && m_lastLayoutInput && *m_lastLayoutInput == in;
    if (!unchanged) {
        m_lastLayoutInput.reset();
        in.movieRatios = m_ratios;
        if (!keep) {
            // The frames of the last layout go first, so that the new ones can take
            // their memory rather than pages the system must clear.
            m_layout = PMGroupViewLayoutResult();
            m_layout = PMGroupViewLayout(in);
        }
        else
            m_layout.viewSize.setWidth(in.canvas.width());
        ++m_layoutCount;
    }
    _numberOfColumns = m_layout.numberOfColumns;
    _separatorY = m_layout.separatorY;
    m_contentSize = m_layout.viewSize;
    PMSetAlwaysShownTileHeaderHeight(in.staticLabels ? PMGroupViewLabelBand : 0.0);

    if (!unchanged) {
        // Frames to proxies; movies in the local drag order while a drag is over the grid.
        for (std::size_t i = 0; i < _groupProxies.size(); ++i)
            _groupProxies[i]->frame = m_layout.subgroupFrames[i];
        const auto& movieOrder = dragOrder ? *_localDragMovieProxies : _movieProxies;
        for (std::size_t i = 0; i < movieOrder.size() && i < m_layout.movieFrames.size(); ++i)
            movieOrder[i]->frame = m_layout.movieFrames[i];
        m_indexFrames.clear();
        m_indexFrames.reserve(_proxies.size());
        m_indexed.clear();
        m_indexed.reserve(_proxies.size());
        for (const PMGroupViewItemProxyPtr& proxy : _proxies) {
            m_indexFrames.push_back(proxy->frame);
            m_indexed.push_back(proxy.get());
        }
        m_index.rebuild(m_indexFrames);
        // Frames in the display order of the layout itself are what a later tiling may keep.
        if (!keep && !dragOrder) {
            in.movieRatios.clear();
            m_lastLayoutInput = std::move(in);
        }
    }
    updateScrollBars();

    if (restoreVisibleRect && mainController()._groupView == this)
        mainController().restoreVisibleGroupViewRect();

    // Tiles on screen move to their new places on the one animation clock.
    stopMoving();
    if (animated && m_animation->state() == QAbstractAnimation::Running) {
        m_animation->stop();
        PMMovieRepresentationImageLoader::defaultLoader().throttleLoading(0);
    }
    preparePreviewViewsInRect(visibleRect());
    if (animated && m_anyMoving) {
        PMMovieRepresentationImageLoader::defaultLoader().throttleLoading(1);
        // Control held slows the animation down to "Slow-Motion Animation Duration" seconds.
        m_animation->setDuration(int(PMAnimationDuration(kAnimationSeconds) * 1000));
        m_animation->start();
    }
    viewport()->update();
    // Frames that stayed are where their tiles were already.
    if (!unchanged)
        QTimer::singleShot(0, this, [this] { updatePreviousFrames(); });
    if (!animated)
        QTimer::singleShot(1, QCoreApplication::instance(), [] {
            if (animationSuppressionCounter() > 0)
                --animationSuppressionCounter();
        });
    _isTiling = false;
}

QSizeF PMGroupView::tiledSize() const
{
    const auto& longer = _groupProxies.size() > _movieProxies.size() ? _groupProxies : _movieProxies;
    double right = 0;
    for (std::size_t i = 0; i < longer.size(); ++i) {
        const double r = longer[i]->frame.right();
        if (i > 0 && r <= longer[i - 1]->frame.right())
            break;
        right = r;
    }
    const double x = longer.empty() ? 0.0 : longer.front()->frame.x();
    return QSizeF(std::round(x + right), std::round(m_layout.combinedHeight));
}

void PMGroupView::updatePreviousFrames()
{
    for (const PMGroupViewItemProxyPtr& proxy : _proxies)
        proxy->previousFrame = proxy->frame;
}

void PMGroupView::proxiesInRect(const QRectF& rect, std::vector<PMGroupViewItemProxy*>& out) const
{
    thread_local std::vector<std::uint32_t> found;
    m_index.tilesInRect(rect, found);
    out.clear();
    out.reserve(found.size());
    for (std::uint32_t i : found)
        if (i < m_indexed.size())
            out.push_back(m_indexed[i]);
}

QRectF PMGroupView::visibleRect() const
{
    return QRectF(0, verticalScrollBar()->value(), viewport()->width(), viewport()->height());
}

void PMGroupView::scrollRectToVisible(const QRectF& rect)
{
    const QRectF visible = visibleRect();
    int value = verticalScrollBar()->value();
    if (rect.top() < visible.top())
        value = int(std::floor(rect.top()));
    else if (rect.bottom() > visible.bottom())
        value = int(std::ceil(rect.bottom() - visible.height()));
    verticalScrollBar()->setValue(value);
}

void PMGroupView::updateScrollBars()
{
    const int page = viewport()->height();
    const int total = int(std::ceil(m_contentSize.height()));
    verticalScrollBar()->setPageStep(page);
    verticalScrollBar()->setRange(0, std::max(0, total - page));
}

QPointF PMGroupView::toGrid(QPointF p) const
{
    return p + QPointF(0, verticalScrollBar()->value());
}

PMGroupViewItemProxyPtr PMGroupView::proxyAt(QPointF gridPoint) const
{
    std::vector<std::uint32_t> hits;
    m_index.tilesInRect(QRectF(gridPoint, QSizeF(0.01, 0.01)), hits);
    for (std::uint32_t i : hits)
        if (i < _proxies.size() && _proxies[i].get() == m_indexed[i])
            return _proxies[i];
    return nullptr;
}

void PMGroupView::preparePreviewViewsInRect(const QRectF& rect)
{
    // Only the tiles meeting the rectangle (from the index) and those shown before are
    // visited, never every tile.
    const bool suppressed = animationSuppressionCounter() > 0;
    // The loads of a screenful of new tiles go to their queues together.
    const PMMovieRepresentationImageLoader::LoadBatch batch;
    std::vector<PMGroupViewItemProxy*> visible;
    proxiesInRect(rect, visible);
    std::vector<PMGroupViewItemProxy*> shown;
    shown.reserve(visible.size() + m_shown.size());
    for (PMGroupViewItemProxy* p : visible)
        p->marked = true;
    // Tiles coming from a place on screen stay while they move away.
    for (PMGroupViewItemProxy* p : m_shown) {
        if (!p->marked && !suppressed && p->view && p->previousFrame.intersects(rect)) {
            p->marked = true;
            visible.push_back(p);
        }
    }
    for (PMGroupViewItemProxy* p : m_shown)
        if (!p->marked)
            dropTile(*p);
    for (PMGroupViewItemProxy* pointer : visible) {
        PMGroupViewItemProxy& p = *pointer;
        p.marked = false;
        if (_isDragTarget && p.dragged) {
            p.view.reset();
            continue;
        }
        shown.push_back(&p);
        if (!p.view) {
            auto tile = std::make_shared<PMGroupViewTile>();
            prepareHoverFrames(*tile, p);
            tile->setSelected(p.selected);
            tile->setCanHover(!_isDragTarget);
            if (suppressed) {
                tile->shownFrame = p.frame;
            } else if (!p.previousFrame.isEmpty()) {
                const QPointF origin = PMClampYToBand(p.previousFrame, rect);
                tile->startFrame = QRectF(origin, p.previousFrame.size());
                tile->shownFrame = tile->startFrame;
                if (tile->startFrame != p.frame)
                    tile->moving = true;
            } else {
                tile->startFrame = p.frame;
                tile->shownFrame = p.frame;
                tile->alpha = 0.0;
                tile->startAlpha = 0.0;
                tile->moving = true;
            }
            p.view = tile;
            // Shown again before its pictures were let go: they stay.
            if (PMMovieRepresentationPrototype* movie = PMMovie(p.representedItem))
                movie->cancelUncacheCoverImageAndPosterImageAfterDelay();
            // Without "Preload Previews" a tile asks for its pictures when first drawn.
            if (boolValue(QStringLiteral("Preload Previews"), true))
                loadPictures(p, p.frame.intersects(rect));
        } else if (p.view->shownFrame != p.frame || p.view->alpha < 1.0) {
            // Also a tile whose fade-in an earlier tiling cut short: it fades on from where
            // it stands, or it would stay see-through.
            if (suppressed) {
                p.view->shownFrame = p.frame;
                p.view->alpha = 1.0;
            } else {
                p.view->startFrame = p.view->shownFrame;
                p.view->startAlpha = p.view->alpha;
                p.view->moving = true;
            }
        }
        if (p.view->moving)
            m_anyMoving = true;
    }
    m_shown = std::move(shown);
    // Moving tiles read their target frames from their proxies at every step.
    if (!suppressed && m_anyMoving && m_animation->state() != QAbstractAnimation::Running && !_isTiling) {
        animationStep(1.0);
        stopMoving();
    }
}

void PMGroupView::dropTile(PMGroupViewItemProxy& proxy)
{
    if (!proxy.view)
        return;
    proxy.view.reset();
    // A tile off the screen keeps nothing in memory: its pictures go a while later (a tile
    // made again meanwhile keeps them), its loads still waiting are cancelled with them,
    // and its hover frames go now.
    if (PMMovieRepresentationPrototype* movie = PMMovie(proxy.representedItem)) {
        movie->uncacheCoverImageAndPosterImageAfterDelay();
        movie->uncacheStandardIndexImages();
    }
}

void PMGroupView::stopMoving()
{
    for (PMGroupViewItemProxy* p : m_shown)
        if (p->view)
            p->view->moving = false;
    m_anyMoving = false;
}

void PMGroupView::animationStep(double t)
{
    for (PMGroupViewItemProxy* proxy : m_shown) {
        PMGroupViewTile* tile = proxy->view.get();
        if (!tile || !tile->moving)
            continue;
        const QRectF a = tile->startFrame, b = proxy->frame;
        tile->shownFrame = QRectF(a.x() + (b.x() - a.x()) * t, a.y() + (b.y() - a.y()) * t, a.width() + (b.width() - a.width()) * t,
                                  a.height() + (b.height() - a.height()) * t);
        tile->alpha = tile->startAlpha + (1.0 - tile->startAlpha) * t;
    }
    viewport()->update();
}

void PMGroupView::loadPictures(PMGroupViewItemProxy& proxy, bool visible)
{
    PMMovieRepresentationPrototype* movie = PMMovie(proxy.representedItem);
    if (!movie)
        return;
    QPointer<QWidget> port(viewport());
    auto redraw = [port] {
        if (port)
            port->update();
    };
    if (!movie->cachedPosterImage() && !movie->cachedCoverImage()) {
        // The first pictures are reduced copies: once they are in, a tile larger than they
        // are asks for the full pictures.
        std::weak_ptr<PMMovieRepresentationOriginal> weak = movie->original().sharedOriginal();
        const QRectF frame = proxy.frame;
        movie->loadCoverImageAndPosterImageForFrame(frame, visible, 2, [port, weak, frame, redraw] {
            redraw();
            if (auto record = weak.lock(); record && port)
                record->loadCoverImageAndPosterImageForFrame(frame, true, 1, redraw);
        });
    } else {
        movie->loadCoverImageAndPosterImageForFrame(proxy.frame, visible, 1, redraw);
    }
}

// The hover frames of a movie tile come from its record; a container's tile never cycles.
void PMGroupView::prepareHoverFrames(PMGroupViewTile& tile, const PMGroupViewItemProxy& proxy)
{
    const auto movie = PMMoviePtr(proxy.representedItem);
    tile.hover = PMMovieTileHover(!movie || proxy.isGroup || !proxy.equivalentContainer.isNull());
    if (!movie)
        return;
    const std::weak_ptr<PMMovieRepresentationPrototype> weak = movie;
    tile.hover.cachedFrameCount = [weak] {
        const auto record = weak.lock();
        const auto frames = record ? record->cachedStandardIndexImageWrappers() : nullptr;
        return frames ? frames->size() : std::size_t(0);
    };
    tile.hover.fetchFrames = [weak](std::function<void(std::size_t)> done) {
        const auto record = weak.lock();
        if (!record) {
            done(0);
            return;
        }
        record->cacheStandardIndexImageWrappersWithCompletionHandler(
            [done](const PMMovieRepresentationPrototype::IndexImageWrappers* frames) { done(frames ? frames->size() : 0); });
    };
    tile.hover.itemIsMoving = [weak] {
        const auto record = weak.lock();
        return record && record->isMoving();
    };
    QPointer<PMGroupView> grid(this);
    PMGroupViewTile* shown = &tile; // the hover and its callbacks live as long as the tile
    tile.hover.changed = [grid, shown] {
        if (grid)
            grid->viewport()->update(shown->shownFrame.translated(0, -grid->verticalScrollBar()->value()).toAlignedRect().adjusted(-2, -2, 2, 2));
    };
    if (hoverClock)
        tile.hover.clock = hoverClock;
}

void PMGroupView::updateHover(PMGroupViewItemProxy* over, QPointF gridPoint)
{
    bool pending = false;
    for (PMGroupViewItemProxy* proxy : m_shown) {
        PMGroupViewTile* tile = proxy->view.get();
        if (!tile)
            continue;
        const bool hovering = proxy == over && tile->canHover;
        const QRectF& frame = proxy->frame;
        tile->hoveringLabel = hovering && isLabelContainerMouseLocation(*proxy, gridPoint);
        tile->hover.setPointer(tile->canHover, hovering, tile->hoveringLabel);
        // The delay before cycling counts from the pointer's last move.
        if (hovering && !tile->hoveringLabel)
            tile->hover.pointerMoved();
        if (hovering && !tile->hoveringLabel && tile->hover.scrub(gridPoint.x() - frame.left(), frame.width())) {
            // The frame follows the pointer at once.
            ++interactionCounter();
            viewport()->repaint();
            --interactionCounter();
        }
        pending |= tile->hover.hasPendingStep() || tile->hover.state() == PMMovieTileHover::Fetching;
    }
    if (pending && !m_hoverTimer.isActive())
        m_hoverTimer.start();
    // The description of the tile under the pointer.
    auto& popover = PMPreviewViewToolTipPopover::shared();
    if (over && over->view && over->view->canHover) {
        const QRectF rect = over->frame.translated(0, -verticalScrollBar()->value());
        const Value& item = over->equivalentContainer.isNull() ? over->representedItem : over->equivalentContainer;
        popover.showForPreviewView(viewport(), over->view->serial, item, rect, over->isGroup ? over->frame.width() : -1.0, true);
    } else {
        popover.hideForPreviewView(0);
    }
}

void PMGroupView::advanceHover()
{
    bool pending = false;
    for (PMGroupViewItemProxy* proxy : m_shown)
        if (PMGroupViewTile* tile = proxy->view.get()) {
            tile->hover.advance();
            pending |= tile->hover.hasPendingStep() || tile->hover.state() == PMMovieTileHover::Fetching;
        }
    if (!pending)
        m_hoverTimer.stop();
}

void PMGroupView::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    if (_proxies.empty() && !_numberOfColumns) {
        updateScrollBars();
        return;
    }
    if (isVisible()) {
        m_inLiveResize = true;
        m_liveResizeTimer.start(200);
    }
    tileWithAdjustedSize(true, false, false);
}

void PMGroupView::adjustScroll(const QRectF& visible)
{
    if (_isTiling)
        return;
    if (mainController()._groupView == this)
        mainController().storeVisibleGroupViewRect(visible);
    PMMovieRepresentationImageLoader::defaultLoader().updateLoadingPrioritiesWithVisibleRect(visible);
}

void PMGroupView::scrollContentsBy(int, int)
{
    viewport()->update();
    // Keys and the wheel can step faster than a screenful of new tiles is made and drawn:
    // the steps taken before the next paint are settled together, where the grid rests. A
    // scroll while the grid is laid out is settled at once, before the layout's own tiles.
    if (_isTiling) {
        m_scrollToSettle = true;
        settleScroll();
        return;
    }
    if (m_scrollToSettle)
        return;
    m_scrollToSettle = true;
    QMetaObject::invokeMethod(this, &PMGroupView::settleScroll, Qt::QueuedConnection);
}

void PMGroupView::settleScroll()
{
    if (!m_scrollToSettle)
        return;
    m_scrollToSettle = false;
    const QRectF visible = visibleRect();
    ++animationSuppressionCounter();
    preparePreviewViewsInRect(visible);
    --animationSuppressionCounter();
    adjustScroll(visible);
    if (m_tracking.active && !m_tracking.isClick)
        updateRubberBand();
    // A wheel or a key moved the tiles under a resting pointer: the hover look and the
    // popover go to the tile now under it.
    if (!m_tracking.active && interactionCounter() == 0)
        hoverAtPointer();
}

bool PMGroupView::updatePreviewForMovieRepresentation(const Value& record)
{
    if (!window())
        return false;
    PMLibraryItem* wanted = PMItem(record);
    if (!wanted)
        return false;
    if (!PMMainController::blendsSubgroupPreviews()) {
        if (previewViewForMovieRepresentation(record)) {
            viewport()->update();
            return true;
        }
        return false;
    }
    const Value self = wanted->nonProxySelf();
    bool any = false;
    for (const PMGroupViewItemProxyPtr& proxy : _movieProxies)
        if (PMLibraryItem* item = PMItem(proxy->representedItem); item && proxy->view && PMIsSameItem(item->nonProxySelf(), self))
            any = true;
    if (any)
        viewport()->update();
    return any;
}

void PMGroupView::updatePreviewsIncludingOrnaments(bool)
{
    viewport()->update();
}
