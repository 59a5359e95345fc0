// The controller behind the controls that shape how the shown container is searched and
// displayed: the data source and delegate of the scope bars (the grid's and the library
// menu's filter bar), the preview size and spacing sliders, the list / preview / cover
// mode buttons, the list font size and the source list's button bar.
#include "library/model/PMLibraryContainer.h"
#include "library/model/PMMainController.h"
#include "platform/DelayedPerform.h"
#include "foundation/PMSettingsKeys.h"
#include "platform/UserDefaults.h"
#include "ui/kit/NSView+PMExtensions.h"
#include "ui/kit/PMAppearance.h"
#include "ui/kit/PMControlSupport.h"
#include "ui/kit/PMSmallControls.h"
#include "ui/library_window/PMGroupView.h"
#include "ui/library_window/PMGroupViewLayout.h"
#include "ui/library_window/PMInterfaceRefresh.h"
#include "ui/library_window/PMQuibScopeBar.h"

#include <QtWidgets/QLayout>
#include <QtGui/QGuiApplication>
#include <QtGui/QKeyEvent>
#include <QtWidgets/QApplication>
#include <QtGui/QIcon>
#include <QtGui/QPainter>
#include <QtGui/QPixmap>
#include <QtWidgets/QAbstractButton>
#include <QtWidgets/QAbstractSlider>

#include <algorithm>
#include <cmath>
#include <limits>

using platform::Value;

long long PMLiveResizeCount = 0;

namespace {

platform::UserDefaults& defaults()
{
    return platform::UserDefaults::standard();
}

constexpr double kEpsilon = 1.1920928955078125e-07; // the float epsilon the comparisons allow
constexpr double kDefaultSpacing = 8.0;

// The controller's answers, handed to the bars as their delegate.
class PMMainControllerScopeBarDelegate final : public QuibScopeBarDelegate {
public:
    explicit PMMainControllerScopeBarDelegate(PMMainController& controller) : c(controller) {}
    long long numberOfGroupsInScopeBar(PMQuibScopeBar* bar) override { return c.numberOfGroupsInScopeBar(bar); }
    QStringList scopeBarItemIdentifiersForGroup(PMQuibScopeBar* bar, long long group) override
    {
        return c.scopeBarItemIdentifiersForGroup(bar, group);
    }
    QString scopeBarLabelForGroup(PMQuibScopeBar* bar, long long group) override { return c.scopeBarLabelForGroup(bar, group); }
    long long scopeBarSelectionModeForGroup(PMQuibScopeBar* bar, long long group) override { return c.scopeBarSelectionModeForGroup(bar, group); }
    QString scopeBarTitleOfItemInGroup(PMQuibScopeBar* bar, const QString& identifier, long long group) override
    {
        return c.scopeBarTitleOfItemInGroup(bar, identifier, group);
    }
    std::optional<QIcon> scopeBarImageForItemInGroup(PMQuibScopeBar* bar, const QString& identifier, long long group) override
    {
        return c.scopeBarImageForItemInGroup(bar, identifier, group);
    }
    std::optional<bool> isMenuScopeBar(PMQuibScopeBar* bar) override { return c.isMenuScopeBar(bar); }
    std::optional<bool> assumeDarkModeForScopeBar(PMQuibScopeBar* bar) override { return c.assumeDarkModeForScopeBar(bar); }
    bool scopeBarSelectedStateChangedForItemInGroup(PMQuibScopeBar* bar, bool selected, const QString& identifier, long long group) override
    {
        c.scopeBarSelectedStateChangedForItemInGroup(bar, selected, identifier, group);
        return true;
    }

private:
    PMMainController& c;
};

PMGroupView* gridOf(const PMMainController& c)
{
    return c._mainWindow ? c._mainWindow->findChild<PMGroupView*>() : nullptr;
}

// The shown container, or the container a search refers to.
PMLibraryContainerPtr shownContainer(const PMMainController& c)
{
    return c._groupItemsParent;
}

bool showsOnlineContainer(const PMMainController& c)
{
    const PMLibraryContainerPtr shown = shownContainer(c);
    return shown && shown->isOnlineItem();
}

long long numberOfSelectedLibraryFiles(const PMMainController& c)
{
    long long count = 0;
    if (c._selectedLibraryItems)
        for (const Value& v : *c._selectedLibraryItems)
            if (PMLibraryItem* item = PMItem(v); item && item->isMovieRepresentation())
                ++count;
    return count;
}

// The one selected library item, when exactly one is selected.
PMLibraryItem* singleSelectedLibraryItem(const PMMainController& c)
{
    if (!c._selectedLibraryItems || c._selectedLibraryItems->count() != 1)
        return nullptr;
    return PMItem(c._selectedLibraryItems->at(0));
}

long long adjustSetting()
{
    return defaults().integerForKey(PMIsCoverDisplayMode ? prefs::keys::AdjustCoverSize : prefs::keys::AdjustPreviewSize);
}

void setLiveResize(PMGroupView* grid)
{
    if (grid)
        grid->setLiveResize(PMLiveResizeCount > 0);
}

// Tells the controller when the modifier keys held change, from any window.
class PMModifierFlagsWatcher final : public QObject {
public:
    explicit PMModifierFlagsWatcher(PMMainController& controller) : QObject(&controller), c(controller) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease) {
            const auto* key = static_cast<QKeyEvent*>(event);
            if (!key->isAutoRepeat() && key->modifiers() != m_last) {
                m_last = key->modifiers();
                c.modifierFlagsChanged(m_last);
            }
        } else if (event->type() == QEvent::ApplicationDeactivate && m_last != Qt::NoModifier) {
            // Keys released in another program's window are never seen here.
            m_last = Qt::NoModifier;
            c.modifierFlagsChanged(m_last);
        }
        return QObject::eventFilter(watched, event);
    }

private:
    PMMainController& c;
    Qt::KeyboardModifiers m_last;
};

} // namespace

void PMMainController::installViewOptions()
{
    _actions.insert(QStringLiteral("changePreviewSize"), [this](QObject* sender) { changePreviewSize(sender); });
    _actions.insert(QStringLiteral("changePreviewSpacing"), [this](QObject* sender) { changePreviewSpacing(sender); });
    _actions.insert(QStringLiteral("changeGroupViewMode"), [this](QObject* sender) { changeGroupViewMode(sender); });
    _actions.insert(QStringLiteral("listFontSizeDidChange"), [this](QObject*) { listFontSizeDidChange(); });
    static PMModifierFlagsWatcher* watcher = nullptr;
    if (!watcher) {
        watcher = new PMModifierFlagsWatcher(*this);
        qApp->installEventFilter(watcher);
    }
    showSidebarButtons(false);
}

QuibScopeBarDelegate* PMMainController::scopeBarDelegate()
{
    static PMMainControllerScopeBarDelegate delegate(*this);
    return &delegate;
}

// ---- Data source -------------------------------------------------------------------

long long PMMainController::numberOfGroupsInScopeBar(PMQuibScopeBar* scopeBar)
{
    if (isMenuScopeBar(scopeBar) || showsOnlineContainer(*this))
        return 1;
    return canIntersectSearch() ? 4 : 3;
}

QStringList PMMainController::scopeBarItemIdentifiersForGroup(PMQuibScopeBar* scopeBar, long long group)
{
    const bool menu = isMenuScopeBar(scopeBar);
    if (!menu && showsOnlineContainer(*this) && (group == 0 || group == 2))
        return {};
    if (menu || group == 2)
        return {QStringLiteral("Name"), QStringLiteral("Metadata"), QStringLiteral("Location")};
    switch (group) {
    case 0:
        if (!canSelectSearchScope())
            return {QStringLiteral("[All]")};
        return {QStringLiteral("[All]"), QStringLiteral("[Selected]")};
    case 1:
        if (numberOfSelectedLibraryFiles(*this) > 0)
            return {QStringLiteral("Files")};
        return {QStringLiteral("Groups"), QStringLiteral("Files")};
    case 3:
        return {QStringLiteral("Union"), QStringLiteral("Intersection")};
    default:
        return {};
    }
}

QString PMMainController::scopeBarLabelForGroup(PMQuibScopeBar* scopeBar, long long group)
{
    if (isMenuScopeBar(scopeBar))
        return {};
    if (group == 0)
        return QStringLiteral("Search:");
    if (group == 3)
        return QStringLiteral("Selection:");
    return {};
}

long long PMMainController::scopeBarSelectionModeForGroup(PMQuibScopeBar* scopeBar, long long group)
{
    if (group == 1 || group == 2 || isMenuScopeBar(scopeBar) || showsOnlineContainer(*this))
        return 1;
    return 0;
}

QString PMMainController::scopeBarTitleOfItemInGroup(PMQuibScopeBar* scopeBar, const QString& identifier, long long group)
{
    if (identifier.isEmpty())
        return QStringLiteral("-");
    const bool menu = isMenuScopeBar(scopeBar);
    if (!menu && showsOnlineContainer(*this))
        return identifier;
    if (!menu && group == 0) {
        if (identifier == QLatin1String("[All]"))
            return QStringLiteral("All Media");
        if (identifier == QLatin1String("[Selected]")) {
            if (PMLibraryItem* item = singleSelectedLibraryItem(*this)) {
                const QString name = item->displayName();
                if (!name.isEmpty())
                    return defaults().boolForKey(prefs::keys::DrawScopeBarIcons) ? name : QStringLiteral("\"%1\"").arg(name);
            }
            return QStringLiteral("Selection");
        }
    }
    return identifier;
}

QIcon PMMainController::scopeBarImageForItemInGroup(PMQuibScopeBar* scopeBar, const QString& identifier, long long group)
{
    if (isMenuScopeBar(scopeBar) || group != 0 || identifier != QLatin1String("[Selected]")
        || !defaults().boolForKey(prefs::keys::DrawScopeBarIcons))
        return {};
    PMLibraryItem* item = singleSelectedLibraryItem(*this);
    if (!item)
        return {};
    const QIcon icon = item->icon();
    if (icon.isNull())
        return {};
    // Drawn into a 14-point square, at the screen's density.
    const double ratio = scopeBar ? scopeBar->devicePixelRatioF() : 1.0;
    QPixmap pixmap(QSize(14, 14) * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    icon.paint(&painter, QRect(0, 0, 14, 14));
    painter.end();
    return QIcon(pixmap);
}

bool PMMainController::isMenuScopeBar(PMQuibScopeBar* scopeBar)
{
    return scopeBar && libraryMenuFilterScopeBar && scopeBar == libraryMenuFilterScopeBar.data();
}

bool PMMainController::assumeDarkModeForScopeBar(PMQuibScopeBar* scopeBar)
{
    if (isMenuScopeBar(scopeBar))
        return isInFullyInvertedDarkMode(scopeBar);
    if (_scopeBarsFollowMainWindowDarkness)
        return mainWindowDarkness() > 0;
    const QWidget* window = _mainWindow ? _mainWindow.data() : scopeBar;
    return window && isInFullyInvertedDarkMode(window);
}

void PMMainController::selectGroupScopeBarItemsFromUserDefaults(PMQuibScopeBar* scopeBar)
{
    if (!scopeBar || isMenuScopeBar(scopeBar) || showsOnlineContainer(*this))
        return;
    const auto select = [scopeBar](bool on, const char* item, long long group) {
        scopeBar->setSelected(on, QString::fromLatin1(item), group, false);
    };
    QString scope = QStringLiteral("[All]");
    if (canSelectSearchScope()) {
        const Value stored = defaults().objectForKey(prefs::keys::GroupSearchScope);
        scope = stored.isString() ? stored.string() : QStringLiteral("[Selected]");
    }
    scopeBar->setSelected(true, scope, 0, false);
    if (canSearchContainers()) {
        select(defaults().boolForKey(prefs::keys::GroupSearchCriterionGroups), "Groups", 1);
        select(defaults().boolForKey(prefs::keys::GroupSearchCriterionFiles), "Files", 1);
    } else {
        select(true, "Files", 1);
    }
    for (const char* item : {"Name", "Metadata", "Location"})
        select(defaults().boolForKey(prefs::prefixes::GroupSearchCriterion + QLatin1String(item)), item, 2);
    if (canIntersectSearch())
        select(true, defaults().stringForKey(prefs::keys::ImplicitMultipleSelectionSearch) == QLatin1String("Intersection") ? "Intersection" : "Union",
               3);
}

// ---- A scope bar's item changed ----------------------------------------------------

void PMMainController::scopeBarSelectedStateChangedForItemInGroup(PMQuibScopeBar* scopeBar, bool selected, const QString& item, long long group)
{
    if (!scopeBar)
        return;
    const bool menu = isMenuScopeBar(scopeBar);
    const bool online = !menu && showsOnlineContainer(*this);
    // The bar keeps its controls while it is being changed from here; it reloads at the end.
    scopeBar->setCanReloadData(false);
    bool changed = false;
    if (menu || group == 1 || group == 2 || online) {
        QString key;
        if (menu)
            key = QStringLiteral("Menu Search Criterion: ") + item;
        else if (online)
            key = QStringLiteral("Web Clip Search: ") + item;
        else
            key = QStringLiteral("Group Search Criterion: ") + item;
        if (defaults().boolForKey(key) != selected) {
            const QStringList items = scopeBar->identifiersOfGroup(group);
            if (items.size() == 1) {
                // The only item of its group stays on.
                if (!selected)
                    scopeBar->setSelected(true, item, group, false);
            } else {
                defaults().setBool(selected, key);
                changed = true;
                const std::vector<QStringList> selection = scopeBar->selectedItems();
                if (group >= 0 && size_t(group) < selection.size() && selection[size_t(group)].isEmpty()) {
                    // At least one criterion stays on: the first other one.
                    for (const QString& other : items)
                        if (other != item) {
                            scopeBar->setSelected(true, other, group, false);
                            const QString otherKey = key.left(key.size() - item.size()) + other;
                            defaults().setBool(true, otherKey);
                            break;
                        }
                }
            }
        }
    } else if (selected) {
        const QString key = group == 3 ? QStringLiteral("Implicit Multiple Selection Search") : QStringLiteral("Group Search Scope");
        const Value stored = defaults().objectForKey(key);
        if (!(stored.isString() && stored.string() == item)) {
            defaults().setObject(Value(item), key);
            changed = true;
        }
    }
    if (changed) {
        if (menu) {
            Q_EMIT libraryMenuFilterResultsNeedUpdate();
        } else {
            updateUserInterface();
        }
    }
    scopeBar->setCanReloadData(true);
}

// ---- Preview size and spacing ------------------------------------------------------

Qt::KeyboardModifiers PMMainController::currentModifierFlags() const
{
    return _currentModifierFlagsOverride ? _currentModifierFlagsOverride() : QGuiApplication::queryKeyboardModifiers();
}

void PMMainController::updateUserInterfaceAfterDelay()
{
    platform::performAfterDelay(this, QStringLiteral("updateUserInterface"), Value(), 0, [this] { updateUserInterface(); });
}

void PMMainController::changePreviewSize(QObject* sender)
{
    PMGroupView* grid = gridOf(*this);
    if (sender == PMNullObject()) {
        ++PMLiveResizeCount;
        setLiveResize(grid);
        if (adjustSetting() >= 1 && grid)
            grid->tileWithAdjustedSize(false, false, false);
        return;
    }
    if (!sender) {
        PMLiveResizeCount = std::max(0LL, PMLiveResizeCount - 1);
        setLiveResize(grid);
        if (adjustSetting() < 1)
            setNeedsDisplayRecursively(grid);
        else if (grid)
            grid->tileWithAdjustedSize(true, false, true);
        return;
    }
    changePreviewSizeWithColumnsDelta(0);
}

void PMMainController::changePreviewSizeWithColumnsDelta(long long delta)
{
    auto* slider = qobject_cast<QAbstractSlider*>(previewSizeSlider.data());
    if (!slider)
        return;
    const double minimum = slider->minimum();
    const double maximum = slider->maximum();
    const double value = slider->value();
    const double range = maximum - minimum;
    if (range < 1)
        return;
    const Qt::KeyboardModifiers flags = delta == 0 ? currentModifierFlags() : Qt::KeyboardModifiers();
    PMGroupView* grid = gridOf(*this);
    const double s = PMGroupView::spacing();

    if (flags & Qt::ShiftModifier) {
        const double spacing = PMRoundHalfAwayFromZero((value - minimum) * 45 / range + 5);
        if (std::abs(spacing - s) <= kEpsilon) {
            updateUserInterfaceAfterDelay();
            return;
        }
        PMGroupView::setSpacing(spacing);
        if (grid)
            grid->tileWithAdjustedSize(true, false, false);
        const QString feedback = spacing == kDefaultSpacing ? QStringLiteral("Spacing: %1 pt (Default)") : QStringLiteral("Spacing: %1 pt");
        Q_EMIT statusFeedback(feedback.arg(qint64(spacing)));
        updateUserInterfaceAfterDelay();
        return;
    }

    const double canvasWidth = PMPreviewSizeSliderCanvasWidth(grid);

    double width = 0;
    unsigned columns = 1;
    if (flags & Qt::ControlModifier) {
        // Fine steps at the small end, coarse ones at the large end.
        width = minimum + maximum * std::tan(std::atan(range * 10 / maximum) * (value - minimum) / range) / 10;
        columns = numberOfColumnsForWidth(width, s, canvasWidth);
    } else {
        const unsigned most = PMPreviewSizeSliderMostColumns(grid, minimum, s, canvasWidth);
        if (most < 2) {
            columns = 1;
            width = canvasWidth - 2 * s;
        } else {
            long long c = (long long)PMRoundHalfAwayFromZero((maximum - value) / range * double(most - 1)) + 1;
            if (delta != 0) {
                c = std::clamp(c + delta, 1LL, (long long)most);
                slider->setValue(int(PMRoundHalfAwayFromZero(maximum - double(c - 1) / double(most - 1) * range)));
            }
            columns = unsigned(c);
            width = (canvasWidth - 0.001 - s) / double(columns) - s;
        }
    }

    if (flags & Qt::AltModifier) {
        if (adjustSetting() >= 1) {
            defaults().setInteger(columns, PMIsCoverDisplayMode ? prefs::keys::AdjustCoverSize : prefs::keys::AdjustPreviewSize);
            Q_EMIT statusFeedback(QStringLiteral("Scale up: Limit to %1 or more columns").arg(columns));
            if (grid)
                grid->tileWithAdjustedSize(true, false, false);
            updateUserInterfaceAfterDelay();
            return;
        }
    }

    const PMLibraryContainerPtr container = shownContainer(*this);
    if (std::abs(width - PMGroupView::previewViewWidthForContainer(container)) > kEpsilon) {
        PMGroupView::setPreviewWidth(width, container);
        if (grid)
            grid->tileWithAdjustedSize(true, false, PMLiveResizeCount == 0);
    }
}

void PMMainController::changePreviewSpacing(QObject* sender)
{
    PMGroupView* grid = gridOf(*this);
    if (sender == PMNullObject()) {
        ++PMLiveResizeCount;
        setLiveResize(grid);
        return;
    }
    if (!sender) {
        PMLiveResizeCount = std::max(0LL, PMLiveResizeCount - 1);
        setLiveResize(grid);
        setNeedsDisplayRecursively(grid);
        updateUserInterface();
        return;
    }
    auto* slider = qobject_cast<QAbstractSlider*>(sender);
    if (!slider)
        return;
    double spacing = slider->value();
    if (std::abs(spacing - kDefaultSpacing) < 2) // the default catches the knob
        spacing = kDefaultSpacing;
    PMGroupView::setSpacing(spacing);
    Q_EMIT previewSizeNeedsTrim();
    if (grid)
        grid->tileWithAdjustedSize(true, false, false);
}

// ---- Display mode, fonts, accessibility --------------------------------------------

long long PMMainController::groupViewModeForSender(QObject* sender, QObject* listModeButton, QObject* coverModeButton)
{
    if (sender && sender == listModeButton)
        return 0;
    if (sender && sender == coverModeButton)
        return 11;
    return 10;
}

void PMMainController::changeGroupViewMode(QObject* sender)
{
    freezeSelections();
    const long long mode = groupViewModeForSender(sender, groupViewListModeButton, groupViewCoverModeButton);
    if (const PMLibraryContainerPtr container = shownContainer(*this))
        container->setDisplayMode(mode);
    defaults().setInteger(mode, prefs::keys::GroupContentDisplayMode);
    updateUserInterface();
    unfreezeSelections();
}

void PMMainController::listFontSizeDidChange()
{
    ++PMGroupView::animationSuppressionCounter();
    freezeSelections();
    updateLibraryAndInvalidateDependencies(false, false, true);
    unfreezeSelections();
    if (PMGroupView::animationSuppressionCounter() > 0)
        --PMGroupView::animationSuppressionCounter();
    if (_updatePlaybackControls)
        _updatePlaybackControls(); // the time slider is drawn again
}

void PMMainController::accessibilityDisplayOptionsDidChange()
{
    updateUserInterface();
}

// ---- The source list's button bar --------------------------------------------------

void PMMainController::showSidebarButtons(bool force)
{
    QWidget* add = libraryAddButton;
    if (!add)
        return;
    const bool shown = add->isEnabled();
    bool show = true;
    if (force) {
        if (shown)
            return;
    } else {
        show = defaults().boolForKey(prefs::keys::AlwaysShowLibraryToolbar);
        if (show == shown)
            return;
    }
    add->setEnabled(show);
    QWidget* parent = add->parentWidget();
    if (!parent)
        return;
    // A bar laid out by its container (the library window's) comes and goes with it; the
    // source list gives up or takes back the room.
    if (parent->parentWidget() && parent->parentWidget()->layout() && parent->parentWidget()->layout()->indexOf(parent) >= 0) {
        parent->setVisible(show);
        return;
    }
    // The buttons slide up into view from under the bottom edge while the source list above
    // them gives up that much of its height (and the other way round).
    const int h = add->height();
    const int d = show ? -h : h;
    for (QWidget* sibling : parent->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (qstrcmp(sibling->metaObject()->className(), "PMMovieOutlineSeparatorView") == 0)
            continue;
        if (sibling->height() > h + 1)
            sibling->resize(sibling->width(), sibling->height() + d);
        else
            sibling->move(sibling->x(), sibling->y() + d);
    }
}

void PMMainController::modifierFlagsChanged(Qt::KeyboardModifiers flags)
{
    Q_EMIT updateRotateButton(flags);
    // The key that the other platform calls Control is the Meta key here: Ctrl stands for
    // its Command key, whose shortcuts would otherwise flash the bar.
    showSidebarButtons(flags.testFlag(Qt::MetaModifier));
    const bool option = flags.testFlag(Qt::AltModifier);
    if (auto* add = qobject_cast<QAbstractButton*>(libraryAddButton.data()))
        add->setIcon(QIcon::fromTheme(option ? QStringLiteral("folder-saved-search") : QStringLiteral("list-add")));
    if (auto* remove = qobject_cast<QAbstractButton*>(infoTagDeleteButton.data()))
        remove->setIcon(QIcon::fromTheme(option ? QStringLiteral("process-stop") : QStringLiteral("list-remove")));
    if (_updatePlaybackControls)
        _updatePlaybackControls();
}
