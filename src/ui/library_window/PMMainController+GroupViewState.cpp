// The state of the group content views: the list table's sort column, where each
// container was scrolled to in the grid and in the list ("Visible Rects (4703)"), the sort
// criterion of the selected container, its hand-made order, the preview width limits and
// the jump between top and bottom.
#include "foundation/NSArray+PMExtensions.h"
#include "library/model/PMLibraryContainer.h"
#include "library/model/PMMainController.h"
#include "library/model/PMSortLibraryItems.h"
#include "foundation/PMSettingsKeys.h"
#include "platform/UserDefaults.h"
#include "ui/library_window/PMGroupView.h"
#include "ui/library_window/PMLibraryWindowAccess.h"

#include <QtCore/QRegularExpression>
#include <QtCore/QSignalBlocker>
#include <QtGui/QGuiApplication>
#include <QtWidgets/QAbstractSlider>
#include <QtWidgets/QScrollBar>

#include <algorithm>
#include <cmath>

using platform::Array;
using platform::ArrayPtr;
using platform::Dictionary;
using platform::DictionaryPtr;
using platform::Value;

namespace {

platform::UserDefaults& defaults()
{
    return platform::UserDefaults::standard();
}

const QString kVisibleRectsKey = prefs::keys::VisibleRects4703;
const QString kLegacyVisibleRectsKey = prefs::keys::VisibleRects;

QString numberString(double value)
{
    return QString::number(value, 'g', QLocale::FloatingPointShortest);
}

// The rectangle as "{{x, y}, {width, height}}", in the C locale.
QString stringFromRect(const QRectF& rect)
{
    return QStringLiteral("{{%1, %2}, {%3, %4}}")
        .arg(numberString(rect.x()), numberString(rect.y()), numberString(rect.width()), numberString(rect.height()));
}

// Reads the four numbers of such a string in order; missing ones are 0.
QRectF rectFromString(const QString& string)
{
    static const QRegularExpression number(QStringLiteral("[-+]?(?:\\d+\\.?\\d*|\\.\\d+)(?:[eE][-+]?\\d+)?"));
    double values[4] = {0, 0, 0, 0};
    int count = 0;
    for (auto it = number.globalMatch(string); it.hasNext() && count < 4;) {
        bool ok = false;
        const double v = it.next().captured().toDouble(&ok);
        values[count++] = ok && std::isfinite(v) ? v : 0;
    }
    return QRectF(values[0], values[1], values[2], values[3]);
}

// The entries of a stored dictionary of rectangle strings; anything else in it is left out.
QHash<QString, QString> rectStrings(const Value& value)
{
    QHash<QString, QString> strings;
    if (const DictionaryPtr dictionary = value.dictionary())
        for (auto it = dictionary->begin(); it != dictionary->end(); ++it)
            if (it.value().isString())
                strings.insert(it.key(), it.value().string());
    return strings;
}

ArrayPtr shownChildrenOfContainer(PMMainController& c, const PMLibraryContainerPtr& container)
{
    if (!container)
        return nullptr;
    const ArrayPtr children =
        c.outlineViewShowMovieChildrenOfContainer(container) ? container->sortedChildren() : container->sortedGroupChildren();
    return children ? std::make_shared<Array>(children->values()) : nullptr;
}

} // namespace

double& PMMainController::minimumPreviewWidth()
{
    static double width = 50;
    return width;
}

// ---------------------------------------------------------------------------
// The list table's sort column

void PMMainController::setGroupListSortColumn(const QString& columnIdentifier)
{
    if (columnIdentifier == _groupListSortColumn)
        return;
    _groupListSortColumn = columnIdentifier;
    groupListAccess().setSortIndicator(_groupListSortColumn, _groupListSortsDescending);
}

void PMMainController::toggleGroupListColumn(const QString& columnIdentifier)
{
    const QString shown = groupListAccess().toggleColumn(columnIdentifier);
    if (!shown.isEmpty() && shown == _groupListPrimarySortCriterion)
        setGroupListSortColumn(shown);
}

// ---------------------------------------------------------------------------
// Visible rectangles

void PMMainController::saveRestoreOrStoreVisibleGroupViewRect(bool save, bool restore, const QRectF& rect)
{
    if (!_groupViewRectStringsByID || !_groupListRectStringsByID) {
        // The older key holds a keyed archive, which this build does not read: it is
        // treated as missing (and removed at the next save).
        const Value stored = defaults().objectForKey(kVisibleRectsKey);
        const DictionaryPtr dictionary = stored.dictionary();
        _groupViewRectStringsByID = dictionary ? rectStrings(dictionary->value(QStringLiteral("View"))) : QHash<QString, QString>();
        _groupListRectStringsByID = dictionary ? rectStrings(dictionary->value(QStringLiteral("List"))) : QHash<QString, QString>();
    }

    if (save) {
        auto existing = [this](const QHash<QString, QString>& strings) {
            auto kept = std::make_shared<Dictionary>();
            for (auto it = strings.begin(); it != strings.end(); ++it)
                if (_containersByID.contains(it.key()))
                    kept->setValue(it.key(), Value(it.value()));
            return kept;
        };
        auto rects = std::make_shared<Dictionary>();
        if (const DictionaryPtr view = existing(*_groupViewRectStringsByID); !view->isEmpty())
            rects->setValue(QStringLiteral("View"), Value(view));
        if (const DictionaryPtr list = existing(*_groupListRectStringsByID); !list->isEmpty())
            rects->setValue(QStringLiteral("List"), Value(list));
        defaults().setObject(Value(rects), kVisibleRectsKey);
        defaults().removeObjectForKey(kLegacyVisibleRectsKey);
        return;
    }

    const QString id = _groupItemsParent ? _groupItemsParent->uniqueLibraryID() : QString();
    if (id.isEmpty())
        return;
    const bool grid = isGroupViewShown();
    QHash<QString, QString>& strings = grid ? *_groupViewRectStringsByID : *_groupListRectStringsByID;

    if (!restore) {
        // The grid's scope bar sits above its scroll area, not over it: no inset there.
        const double inset = grid ? 0.0 : groupListAccess().topContentInset();
        const QRectF widened = rect.adjusted(0, -inset, 0, 0);
        if (widened.isEmpty() || widened.height() < 1)
            strings.remove(id);
        else
            strings.insert(id, stringFromRect(widened));
        return;
    }

    const QRectF wanted = strings.contains(id) ? rectFromString(strings.value(id)) : QRectF(0, 0, 1, 1);
    if (grid) {
        const QRectF bounds(0, 0, _groupView->viewport()->width(), _groupView->verticalScrollBar()->maximum() + _groupView->viewport()->height());
        if (const QRectF visible = wanted.intersected(bounds); !visible.isEmpty())
            _groupView->scrollRectToVisible(visible);
    } else {
        PMGroupListAccess& list = groupListAccess();
        if (const QRectF visible = wanted.intersected(list.bounds()); !visible.isEmpty())
            list.scrollRectToVisible(visible);
    }
}

// ---------------------------------------------------------------------------
// Manual order

void PMMainController::storeSequence(const ArrayPtr& sequence, const PMLibraryContainerPtr& forSmartGroup)
{
    if (!forSmartGroup)
        return;
    qsizetype movies = 0;
    if (sequence)
        for (const Value& v : *sequence)
            if (PMLibraryItem* item = PMItem(v); item && item->isMovieRepresentation())
                ++movies;
    if (!sequence || sequence->count() < 2 || movies < 2) {
        forSmartGroup->setIndexSequence({});
        return;
    }
    const ArrayPtr stored = forSmartGroup->rawChildren();
    auto ordered = std::make_shared<Array>(sequence->values());
    if (ordered->count() < stored->count()) {
        // Children the order leaves out keep their stored order: groups in front, movies last.
        QSet<const platform::Object*> listed;
        for (const Value& v : *ordered)
            if (v.isObject())
                listed.insert(v.objectPointer());
        qsizetype front = 0;
        for (const Value& v : *stored) {
            if (v.isObject() && listed.contains(v.objectPointer()))
                continue;
            if (PMContainer(v))
                ordered->insert(front++, v);
            else
                ordered->append(v);
        }
    }
    if (ordered->count() != stored->count()) {
        forSmartGroup->setIndexSequence({});
        return;
    }
    QStringList ids;
    for (const Value& v : *ordered)
        if (PMLibraryItem* item = PMItem(v); item && item->isMovieRepresentation())
            ids << item->uniqueLibraryID();
    forSmartGroup->setValue(QStringLiteral("Children"), Value(ordered));
    forSmartGroup->setIndexSequence(ids);
}

// ---------------------------------------------------------------------------
// Sorting and rearranging the selected container

void PMMainController::setSortCriterionForSelectedContainer(const QString& criterion, bool descending, bool updateIfNil)
{
    const PMLibraryContainerPtr container = selectedContainer();
    const ArrayPtr before = shownChildrenOfContainer(*this, container);
    if (container) {
        if (!criterion.isEmpty()) {
            const bool auxiliary = QGuiApplication::queryKeyboardModifiers() & Qt::ShiftModifier;
            container->setSortCriterion(criterion, auxiliary, false);
        } else if (!updateIfNil && container->removeVolatileSortCriterionAndIndexSequence(true)) {
            container->invalidateChildrenRecursively(true);
        }
        if (!criterion.isEmpty() || updateIfNil)
            container->setSortsDescending(descending, true);
    } else {
        if (!criterion.isEmpty())
            defaults().setObject(Value(criterion), prefs::keys::GroupSortingCriterion);
        defaults().setObject(Value(descending), prefs::keys::GroupSortingDirection);
    }
    _groupListSortsDescending = descending;

    freezeSelections();
    const ArrayPtr after = shownChildrenOfContainer(*this, container);
    if (before && after && isIdenticalToArray(before, after))
        updateUserInterface();
    else
        updateLibraryAndInvalidateDependencies(false, false, true);
    unfreezeSelections();
}

void PMMainController::setSortCriterionForSelectedContainerFromMenuItem(const Value& representedObject, int tag)
{
    if (tag < 0) {
        setSortCriterionForSelectedContainer({}, false, false);
        return;
    }
    const QString criterion = representedObject.isString() ? representedObject.string() : QString();
    const bool descending = criterion.isEmpty() ? tag != 0 : (_groupListSortsDescending != (tag != 0));
    setSortCriterionForSelectedContainer(criterion, descending, true);
}

void PMMainController::toggleAutomaticDuplicateSorting(QObject*)
{
    const QString key = QStringLiteral("Group Search Sorts By Duplicate Query Component");
    defaults().setObject(Value(!defaults().boolForKey(key)), key);
    freezeSelections();
    updateLibraryAndInvalidateDependencies(false, false, true);
    unfreezeSelections();
}

void PMMainController::rearrangeSelectedContainerFromMenuItem(const Value& representedObject, int tag)
{
    const PMLibraryContainerPtr container = selectedContainer();
    if (!container || !container->rearrangeChildrenAsPreflightCheck(false))
        return;
    freezeSelections();
    const ArrayPtr children = std::make_shared<Array>(container->rawChildren()->values());
    const QString how = representedObject.isString() ? representedObject.string() : QString();
    if (how == QLatin1String("GroupListShuffle"))
        shuffle(*children);
    else if (how == QLatin1String("GroupListInvert"))
        invert(*children);
    else if (!how.isEmpty())
        PMSortLibraryItemsInPlace(children, how, tag > 0, container.get());
    storeSequenceForContainer(children, container);
    updateLibraryAndInvalidateDependencies(true, false, true);
    unfreezeSelections();
}

// ---------------------------------------------------------------------------
// Preview width limits and scrolling

void PMMainController::trimPreviewSize()
{
    if (!_groupView)
        return;
    double spacing = PMGroupView::spacing();
    if (_groupView->adjustsSpacingForGlass() && spacing < 8)
        spacing = 8;
    const double largest = _groupView->width() - 2 * spacing;
    if (PMGroupView::previewViewWidthForContainer(_groupItemsParent) > largest)
        PMGroupView::setPreviewWidth(largest, _groupItemsParent);
    _previewSizeSliderMaximum = largest;
    _previewSizeSliderMinimum = minimumPreviewWidth();
    // The slider's ends follow the limits (setting them is no request to resize).
    if (auto* slider = qobject_cast<QAbstractSlider*>(previewSizeSlider.data())) {
        const QSignalBlocker quiet(slider);
        slider->setRange(int(std::floor(_previewSizeSliderMinimum)), int(std::max(std::floor(_previewSizeSliderMinimum), std::floor(largest))));
    }
}

void PMMainController::scrollToGroupTopOrBottom()
{
    const QRectF corner(0, 0, 1, 1);
    if (!isGroupViewShown()) {
        PMGroupListAccess& list = groupListAccess();
        const qsizetype rows = list.numberOfRows();
        if (rows >= 2)
            list.scrollRowToVisible(list.visibleRect().intersects(corner) ? rows - 1 : 0);
        return;
    }
    const double height = _groupView->verticalScrollBar()->maximum() + _groupView->viewport()->height();
    const double y = _groupView->visibleRect().intersects(corner) ? height - 1 : 0;
    _groupView->scrollRectToVisible(QRectF(0, y, 1, 1));
}
