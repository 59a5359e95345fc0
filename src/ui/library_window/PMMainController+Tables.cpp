// The controller as the data source and delegate of the tables: the list of the shown
// container (one row per movie, with the user's columns, edits of names, ratings and tags
// in place, sorting by a header click, double clicks) and the panels' tables (the rename
// preview, the info panel's tag and property lists, the smart-group criteria), told apart
// by comparing the table with the outlets.
#include "foundation/NSDate+PMExtensions.h"
#include "foundation/NSDictionary+PMExtensions.h"
#include "foundation/NSString+PMHelpManager.h"
#include "foundation/PMCSVParser.h"
#include "foundation/PMFunctions.h"
#include "foundation/PMLog.h"
#include "foundation/PMRange.h"
#include "library/model/PMCachedSettings.h"
#include "library/model/PMLibraryContainer.h"
#include "library/model/PMLibraryItemArrays.h"
#include "library/model/PMMainController.h"
#include "library/model/PMMovieRepresentation.h"
#include "library/model/PMSortLibraryItems.h"
#include "platform/Alert.h"
#include "foundation/PMSettingsKeys.h"
#include "platform/UserDefaults.h"
#include "ui/kit/NSFont+PMBackwardsCompatibleSystemFont.h"
#include "ui/kit/NSImage+PMDrawing.h"
#include "ui/kit/PMAppearance.h"
#include "ui/library_window/PMAutoCompleteTableView.h"
#include "ui/library_window/PMGroupTableView.h"
#include "ui/library_window/PMLibraryWindowAccess.h"
#include "ui/library_window/PMMovieOutlineView.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QMetaMethod>
#include <QtCore/QTimer>
#include <QtGui/QGuiApplication>
#include <QtGui/QPalette>
#include <QtWidgets/QAbstractButton>
#include <QtWidgets/QApplication>
#include <QtWidgets/QDialog>
#include <QtWidgets/QHBoxLayout>
#include <QtWidgets/QScrollBar>
#include <QtWidgets/QLabel>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QVBoxLayout>

#include <utility>

using platform::Array;
using platform::ArrayPtr;
using platform::Dictionary;
using platform::DictionaryPtr;
using platform::Value;

namespace {

const QString kTagPrefix = QStringLiteral("AccessoryTagListName: ");
constexpr long long kSharedTagCounter = 2147483647;

platform::UserDefaults& defaults()
{
    return platform::UserDefaults::standard();
}

QString localized(const char* text)
{
    return QCoreApplication::translate("PMMainController", text);
}

// Names are derived from tags and never typed by hand.
bool PMDeterminesNamesAutomatically()
{
    return PMCachedSettings::determineNamesAutomatically;
}

QColor disabledTextColor(const QWidget* view)
{
    const bool dark = view ? isInFullyInvertedDarkMode(view) : PMIsDarkMode();
    return dark ? QColor::fromRgbF(1, 1, 1, 0.3f) : QColor::fromRgbF(0, 0, 0, 0.3f);
}

QColor controlTextColor(const QWidget* view)
{
    const bool dark = view ? isInFullyInvertedDarkMode(view) : PMIsDarkMode();
    return dark ? QColor::fromRgbF(1, 1, 1, 0.9f) : QColor::fromRgbF(0, 0, 0, 0.9f);
}

Value arrayOfStrings(const QStringList& strings)
{
    auto array = Array::make();
    for (const QString& s : strings)
        array->append(Value(s));
    return Value(array);
}

QStringList stringsOfArray(const Value& value)
{
    QStringList strings;
    if (const ArrayPtr array = value.array())
        for (const Value& v : *array)
            if (v.isString())
                strings << v.string();
    return strings;
}

QString stringOf(const DictionaryPtr& entry, const QString& key)
{
    if (!entry)
        return {};
    const Value v = entry->value(key);
    return v.isString() ? v.string() : QString();
}

PMTableCellMenuItem menuItem(const QString& title, bool enabled = true, bool checked = false, bool separator = false)
{
    PMTableCellMenuItem item;
    item.title = title;
    item.enabled = enabled;
    item.checked = checked;
    item.separator = separator;
    return item;
}

bool isChecked(QWidget* button)
{
    if (auto* b = qobject_cast<QAbstractButton*>(button))
        return b->isChecked();
    return true;
}

} // namespace

// ---------------------------------------------------------------------------------------
// Dispatch

qsizetype PMMainController::numberOfRowsInTableView(PMAutoCompleteTableView* tableView)
{
    if (!tableView)
        return 0;
    if (tableView == infoBatchRenameList)
        return _infoMovieRepresentations ? _infoMovieRepresentations->count() : 0;
    if (tableView == infoTagTagList)
        return 1;
    if (tableView == infoTagPropertyList)
        return std::max<qsizetype>(0, (_filteredInfoTags ? _filteredInfoTags->count() : 0) - 1);
    if (tableView == smartPlaylistTagList)
        return _currentlyEditedSmartPlaylistTags ? _currentlyEditedSmartPlaylistTags->count() : 0;
    return _groupMovieItems ? _groupMovieItems->count() : 0;
}

namespace {

// The info entry of a row of the tag list (entry 0) or the property list (entry r + 1).
DictionaryPtr infoEntry(PMMainController& c, PMAutoCompleteTableView* table, qsizetype row)
{
    const qsizetype index = table == c.infoTagTagList ? 0 : row + 1;
    if (!c._filteredInfoTags || index < 0 || index >= c._filteredInfoTags->count())
        return nullptr;
    return c._filteredInfoTags->at(index).dictionary();
}

DictionaryPtr smartEntry(PMMainController& c, qsizetype row)
{
    if (!c._currentlyEditedSmartPlaylistTags || row < 0 || row >= c._currentlyEditedSmartPlaylistTags->count())
        return nullptr;
    return c._currentlyEditedSmartPlaylistTags->at(row).dictionary();
}

Value groupListItem(PMMainController& c, qsizetype row)
{
    if (!c._groupMovieItems || row < 0 || row >= c._groupMovieItems->count())
        return {};
    return c._groupMovieItems->at(row);
}

} // namespace

Value PMMainController::tableViewObjectValue(PMAutoCompleteTableView* tableView, const QString& identifier, qsizetype row)
{
    if (!tableView)
        return {};
    if (tableView == infoBatchRenameList) {
        if (!_infoMovieRepresentations || row < 0 || row >= _infoMovieRepresentations->count())
            return {};
        PMMovieRepresentationPrototype* movie = PMMovie(_infoMovieRepresentations->at(row));
        if (!movie)
            return {};
        const bool extensions = defaults().boolForKey(prefs::keys::ShowFileExtensions);
        if (identifier == QLatin1String("Old"))
            return Value(movie->displayNameWithExtension(extensions));
        if (identifier == QLatin1String("New")) {
            const QString newName = _infoBatchRenameNewNames.value(row);
            if (newName.isEmpty())
                return Value(movie->displayNameWithExtension(extensions));
            const QString extension = movie->filenameExtension();
            return Value(extensions && !extension.isEmpty() ? newName + QLatin1Char('.') + extension : newName);
        }
        if (identifier == QLatin1String("Arrow"))
            return Value(QStringLiteral("→"));
        return Value(QString());
    }
    if (tableView == infoTagTagList || tableView == infoTagPropertyList) {
        const DictionaryPtr entry = infoEntry(*this, tableView, row);
        if (!entry)
            return {};
        if (identifier == QLatin1String("Value")) {
            const QString value = stringOf(entry, QStringLiteral("Value"));
            return arrayOfStrings(value.isEmpty() ? QStringList() : cachedCSVFields(value));
        }
        const Value v = entry->value(identifier);
        if (!v.isNull())
            return v;
        if (identifier == QLatin1String("State"))
            return Value(1LL);
        if (identifier == QLatin1String("ChooseValue"))
            return Value(0LL);
        return Value(QString());
    }
    if (tableView == smartPlaylistTagList) {
        const DictionaryPtr entry = smartEntry(*this, row);
        if (!entry)
            return {};
        const Value v = entry->value(identifier);
        if (!v.isNull())
            return v;
        if (identifier == QLatin1String("Enabled"))
            return Value(false);
        if (identifier == QLatin1String("Action") || identifier == QLatin1String("ChooseTag") || identifier == QLatin1String("ChooseValue"))
            return Value(0LL);
        return Value(QString());
    }

    // The list.
    const Value item = groupListItem(*this, row);
    if (item.isNull())
        return {};
    if (identifier == QLatin1String("GroupListIndex"))
        return Value((long long)row + 1);
    PMMovieRepresentationPrototype* movie = PMMovie(item);
    if (!movie)
        return identifier == QLatin1String("GroupListName") && PMItem(item) ? Value(PMItem(item)->displayName()) : Value();
    Value value = movie->valueForListID(identifier, false);
    if (value.isDate())
        value = Value(fuzzyDescriptionForEndOfYearOnly(value.date(), true));
    if (identifier.startsWith(kTagPrefix) && groupListTable) {
        const int column = groupListTable->columnWithIdentifier(identifier);
        const PMTableColumn* c = groupListTable->tableColumn(column);
        if (c && c->cell == PMTableColumn::Cell::GroupToken) {
            const QString text = value.isString() ? value.string() : QString();
            return arrayOfStrings(text.isEmpty() ? QStringList() : cachedCSVFields(text));
        }
    }
    return value;
}

double PMMainController::tableViewHeightOfRow(PMAutoCompleteTableView* tableView, qsizetype row)
{
    Q_UNUSED(row);
    if (tableView && tableView == groupListTable) {
        // The list's own height, 2 more with the large font.
        return PMUsesLargeListFont() ? 22 : 20;
    }
    return tableView ? tableView->rowHeight() : 0;
}

void PMMainController::tableViewWillDisplayCell(PMAutoCompleteTableView* tableView, PMTableCellAppearance& cell, const QString& identifier,
                                                 qsizetype row)
{
    if (!tableView)
        return;
    if (tableView == infoBatchRenameList) {
        if (identifier != QLatin1String("New"))
            return;
        cell.font = backwardsCompatibleSystemFontOfSize(11, 1);
        if (PMDeterminesNamesAutomatically()) {
            cell.textColor = disabledTextColor(tableView);
            return;
        }
        PMMovieRepresentationPrototype* movie =
            _infoMovieRepresentations && row >= 0 && row < _infoMovieRepresentations->count() ? PMMovie(_infoMovieRepresentations->at(row)) : nullptr;
        const QString newName = _infoBatchRenameNewNames.value(row);
        const bool switchOn = infoBatchRenameSwitch ? isChecked(infoBatchRenameSwitch) : _infoBatchRenameFields.enabled;
        if (newName.isEmpty()) {
            cell.textColor = switchOn ? errorColorWithAlpha(1.0) : disabledTextColor(tableView);
        } else if (movie && newName.normalized(QString::NormalizationForm_C) != movie->displayNameWithExtension(false).normalized(QString::NormalizationForm_C)) {
            cell.bold = true;
            cell.textColor = switchOn ? controlTextColor(tableView) : disabledTextColor(tableView);
        } else {
            cell.textColor = disabledTextColor(tableView);
        }
        return;
    }
    if (tableView == infoTagTagList || tableView == infoTagPropertyList) {
        const DictionaryPtr entry = infoEntry(*this, tableView, row);
        cell.alignment = Qt::AlignLeft;
        if (tableView == infoTagTagList && identifier == QLatin1String("Value") && stringOf(entry, QStringLiteral("Value")).isEmpty()) {
            cell.alignment = Qt::AlignRight;
            cell.placeholder = localized("Click to add ->");
        }
        if (identifier == QLatin1String("State")) {
            const qsizetype movies = _infoMovieRepresentations ? _infoMovieRepresentations->count() : 0;
            cell.enabled = movies >= 2 && entry && !entry->contains(QStringLiteral("State: Immutable"));
        }
        return;
    }
    if (tableView == smartPlaylistTagList)
        return;

    // The list.
    const double size = PMUsesLargeListFont() ? 13 : 11;
    if (identifier != QLatin1String("GroupListRating"))
        cell.font = backwardsCompatibleSystemFontOfSize(size, 1);
    const Value item = groupListItem(*this, row);
    if (identifier == QLatin1String("GroupListIndex")) {
        if (!cell.highlighted)
            cell.textColor = QColor::fromRgbF(0.5, 0.5, 0.5, 1);
        return;
    }
    if (identifier == QLatin1String("GroupListName")) {
        cell.playing = displayAsRelatedToCurrentMovieRepresentation(item);
        PMMovieRepresentationPrototype* movie = PMMovie(item);
        if (movie && movie->isMissing()) {
            if (movie->isMissingVolume())
                cell.textColor = disabledTextColor(tableView);
            else
                cell.textColor = cell.highlighted ? QColor::fromRgbF(1, 0.8f, 0.8f, 1) : QColor::fromRgbF(0.65f, 0, 0, 1);
        }
        return;
    }
    if (identifier == QLatin1String("GroupListRating")) {
        const PMLibraryItem* libraryItem = PMItem(item);
        const long long r = libraryItem ? (long long)const_cast<PMLibraryItem*>(libraryItem)->rating() : 0;
        if (cell.highlighted) {
            cell.ratingHighlighted = true;
            cell.tint = (tableView->window() == _mainWindow.data() || !_mainWindow) && cell.focused ? 0 : 1;
            return;
        }
        if (isInFullyInvertedDarkMode(tableView)) {
            cell.tint = 0;
            if (tableView->window() == _mainWindow.data()) {
                const long long priority = defaults().integerForKey(prefs::keys::GoldStarPriority);
                if (priority > 0 || (priority == 0 && r > 4))
                    cell.tint = 2;
            }
        } else {
            cell.tint = 1;
        }
        cell.ratingHighlighted = r > 0;
        return;
    }
}

void PMMainController::tableViewPopUpItems(PMAutoCompleteTableView* tableView, const QString& identifier, qsizetype row,
                                            std::vector<PMTableCellMenuItem>* items)
{
    if (!tableView || !items)
        return;
    items->clear();
    if (tableView == infoTagTagList || tableView == infoTagPropertyList) {
        if (identifier != QLatin1String("ChooseValue"))
            return;
        // A title item (the add image), "New...", and on the selected row "Clear".
        items->push_back(menuItem(QStringLiteral("+"), false));
        items->push_back(menuItem(localized("New...")));
        const DictionaryPtr entry = infoEntry(*this, tableView, row);
        if (entry) {
            items->push_back({localized("Clear"), true, false, false, [this, entry] { clearInfoTagValueViaMenuItem(Value(entry)); }, Value(entry)});
        }
        return;
    }
    if (tableView == smartPlaylistTagList) {
        const DictionaryPtr entry = smartEntry(*this, row);
        if (identifier == QLatin1String("Action")) {
            // Every action, at its own code.
            static const char* const actions[] = {"is", "is not", "begins with", "does not begin with", "ends with", "does not end with",
                                                  "contains", "does not contain", "is less than", "is greater than"};
            const long long current = entry ? entry->value(QStringLiteral("Action")).toLongLong() : 0;
            for (long long i = 0; i < 10; ++i)
                items->push_back(menuItem(localized(actions[i]), true, i == current));
            return;
        }
        items->push_back(menuItem(QString(), false));
        if (!entry)
            return;
        if (identifier == QLatin1String("ChooseTag")) {
            const QStringList names = tagNamesWithPrefix(QString());
            const QString tag = stringOf(entry, QStringLiteral("Tag"));
            for (const QString& name : names)
                items->push_back(menuItem(name, true, name.compare(tag, Qt::CaseInsensitive) == 0));
            if (names.isEmpty())
                items->push_back(menuItem(localized("no values defined yet"), false));
        } else if (identifier == QLatin1String("ChooseValue")) {
            const QString value = stringOf(entry, QStringLiteral("Value"));
            const QStringList values = valuesForTag(stringOf(entry, QStringLiteral("Tag")), QString(), nullptr, PMNotFound);
            for (const QString& v : values)
                items->push_back(menuItem(v, true, v.compare(value, Qt::CaseInsensitive) == 0));
            if (items->size() >= 2)
                items->push_back(menuItem(QString(), true, false, true));
            items->push_back(menuItem(localized("no value")));
        }
    }
}

QString PMMainController::tableViewToolTip(PMAutoCompleteTableView* tableView, const QString& identifier, qsizetype row)
{
    if (!tableView || tableView != groupListTable || identifier != QLatin1String("GroupListName"))
        return {};
    PMMovieRepresentationPrototype* movie = PMMovie(groupListItem(*this, row));
    return movie ? movie->toolTip() : QString();
}

bool PMMainController::tableViewCanEditColumnWithIdentifier(PMAutoCompleteTableView* tableView, const QString& identifier, qsizetype row,
                                                            bool doubleClick)
{
    if (!tableView)
        return false;
    if (tableView == infoBatchRenameList)
        return false;
    if (tableView == infoTagTagList)
        return identifier == QLatin1String("Value");
    if (tableView == infoTagPropertyList)
        return identifier == QLatin1String("Tag") || identifier == QLatin1String("Value");
    if (tableView == smartPlaylistTagList) {
        const bool value = identifier == QLatin1String("Value");
        if (smartPlaylistTagExplanationField)
            smartPlaylistTagExplanationField->setVisible(value);
        return identifier == QLatin1String("Tag") || value;
    }
    // The list: a double click acts on the row's item instead.
    if (doubleClick) {
        doubleClickItem(groupListItem(*this, row));
        return false;
    }
    if (identifier == QLatin1String("GroupListName"))
        return !PMDeterminesNamesAutomatically();
    return identifier.startsWith(kTagPrefix);
}

bool PMMainController::tableViewShouldEditTableColumn(PMAutoCompleteTableView* tableView, const QString& identifier, qsizetype row, bool doubleClick)
{
    if (!tableView || identifier.isEmpty())
        return false;
    if (tableView == infoBatchRenameList)
        return false;
    if (tableViewCanEditColumnWithIdentifier(tableView, identifier, row, doubleClick))
        return true;
    if (tableView == infoTagTagList || tableView == infoTagPropertyList) {
        if (identifier == QLatin1String("State")) {
            const DictionaryPtr entry = infoEntry(*this, tableView, row);
            return _infoMovieRepresentations && _infoMovieRepresentations->count() >= 2 && entry
                && !entry->contains(QStringLiteral("State: Immutable"));
        }
        return identifier != QLatin1String("Tag");
    }
    if (tableView == smartPlaylistTagList) {
        if (smartPlaylistTagExplanationField)
            smartPlaylistTagExplanationField->setVisible(identifier == QLatin1String("Value"));
        return true;
    }
    return identifier == QLatin1String("GroupListRating");
}

bool PMMainController::tableViewShouldSelectRow(PMAutoCompleteTableView* tableView, qsizetype row)
{
    Q_UNUSED(row);
    if (!tableView || tableView != infoBatchRenameList)
        return true;
    // The preview's rows are never selected: a click shows the next changed name instead.
    const qsizetype count = _infoMovieRepresentations ? _infoMovieRepresentations->count() : 0;
    if (count != tableView->numberOfRows() || count != _infoBatchRenameNewNames.size())
        return false;
    const double height = tableView->rowHeight();
    const double top = tableView->verticalScrollBar()->value();
    const double bottom = top + tableView->viewport()->height();
    bool previousChangedVisible = false;
    qsizetype firstHidden = -1;
    for (qsizetype r = 0; r < count; ++r) {
        PMMovieRepresentationPrototype* movie = PMMovie(_infoMovieRepresentations->at(r));
        const QString newName = _infoBatchRenameNewNames.at(r);
        const bool changed = movie && !newName.isEmpty()
            && newName.normalized(QString::NormalizationForm_C) != movie->displayNameWithExtension(false).normalized(QString::NormalizationForm_C);
        if (!changed)
            continue;
        const double rowTop = double(r) * height;
        const bool visible = rowTop >= top && rowTop + height <= bottom;
        if (!visible && previousChangedVisible) {
            tableView->scrollTo(tableView->tableModel()->index(int(r), 0), QAbstractItemView::PositionAtBottom);
            return false;
        }
        if (!visible && firstHidden < 0)
            firstHidden = r;
        previousChangedVisible = visible;
    }
    if (firstHidden >= 0)
        tableView->scrollTo(tableView->tableModel()->index(int(firstHidden), 0),
                            double(firstHidden) * height > bottom ? QAbstractItemView::PositionAtBottom : QAbstractItemView::PositionAtTop);
    return false;
}

void PMMainController::tableViewSelectionDidChange(PMAutoCompleteTableView* tableView)
{
    if (!tableView)
        return;
    if (tableView == infoBatchRenameList)
        return;
    if (tableView == infoTagTagList || tableView == infoTagPropertyList) {
        updateInfoTagButtonsAvailability();
        return;
    }
    if (tableView == smartPlaylistTagList) {
        if (smartPlaylistTagDeleteButton)
            smartPlaylistTagDeleteButton->setEnabled(tableView->selectionModel() && tableView->selectionModel()->hasSelection());
        return;
    }
    updateStatusFields();
}

void PMMainController::tableViewDidClickTableColumn(PMAutoCompleteTableView* tableView, const QString& identifier)
{
    if (!tableView || tableView != groupListTable || identifier.isEmpty())
        return;
    const PMLibraryContainerPtr shown = _groupItemsParentOrSearchReferenceContainer;
    if (shown) {
        const DictionaryPtr search = shown->value(QStringLiteral("Search")).dictionary();
        if (search && search->value(QStringLiteral("Disable Sorting")).toBool()) {
            // The header keeps showing what the list is sorted by.
            groupListAccess().setSortIndicator(_groupListSortColumn, _groupListSortsDescending);
            return;
        }
    }
    const bool sameColumn = identifier == _groupListSortColumn;
    setGroupListSortColumn(identifier);
    setSortCriterionForSelectedContainer(identifier, sameColumn ? !_groupListSortsDescending : _groupListSortsDescending, true);
    groupListAccess().setSortIndicator(_groupListSortColumn, _groupListSortsDescending);
}

void PMMainController::tableViewDidReceiveDoubleClickInRow(PMAutoCompleteTableView* tableView, qsizetype row)
{
    if (!tableView || tableView != groupListTable)
        return;
    if (row < 0 || !_groupMovieItems || row >= _groupMovieItems->count())
        return;
    doubleClickItem(_groupMovieItems->at(row));
}

void PMMainController::doubleClickItem(const Value& item)
{
    if (item.isNull())
        return;
    PMLibraryItem* libraryItem = PMItem(item);
    if (!libraryItem)
        return;
    if (libraryItem->isContainer()) {
        // With the movie inside the main window, closing it brings the container back.
        if (playerView && _mainWindow && playerView->window() == _mainWindow.data())
            chooseGroup(nullptr);
        return;
    }
    PMMovieRepresentationPrototype* movie = PMMovie(item);
    if (!movie)
        return;
    if (movie->isMissing()) {
        movie->promptForURL();
        return;
    }
    chooseMovieRepresentation(item, false, true, !defaults().boolForKey(prefs::keys::DoNotPlayOnOpen), false);
}

void PMMainController::tableViewEditColumnAfterDelayIfTabInRow(PMAutoCompleteTableView* tableView, int editColumn, qsizetype row, bool selectRowFirst)
{
    // Only after an edit that ended with Tab; the editor closes right after its value is
    // stored, before the timer fires.
    if (!tableView || !tableView->currentEventIsTab())
        return;
    if (selectRowFirst && row >= 0 && row < tableView->numberOfRows()) {
        tableView->selectRow(int(row));
        tableView->scrollTo(tableView->tableModel()->index(int(row), 0));
    }
    // On the next turn of the event loop; the timer also runs inside a modal panel's loop.
    const QPointer<PMAutoCompleteTableView> table(tableView);
    QTimer::singleShot(0, tableView, [this, table, editColumn, row] { delayedEditTableViewCell(table, editColumn, row); });
}

void PMMainController::delayedEditTableViewCell(PMAutoCompleteTableView* tableView, int column, qsizetype row)
{
    if (!tableView || !tableView->selectionModel())
        return;
    const QModelIndexList selected = tableView->selectionModel()->selectedRows();
    if (selected.size() != 1 || selected.first().row() != row)
        return;
    tableView->editColumn(column, int(row), true);
}

QMenu* PMMainController::contextMenuForGroupListRowIndexes(const QList<qsizetype>& rowIndexes)
{
    if (_contextMenuForGroupListRowIndexes)
        return _contextMenuForGroupListRowIndexes(rowIndexes);
    // The grid's context menu serves the list's movies too.
    if (!isSignalConnected(QMetaMethod::fromSignal(&PMMainController::groupViewContextMenuRequested)))
        return nullptr;
    QMenu* menu = nullptr;
    Q_EMIT groupViewContextMenuRequested(groupListItemsForIndexSet(rowIndexes), nullptr, &menu);
    return menu;
}

// ---------------------------------------------------------------------------------------
// Storing edits

void PMMainController::tableViewSetObjectValue(PMAutoCompleteTableView* tableView, const Value& objectValue, const QString& identifier,
                                                qsizetype row, bool tracking)
{
    if (!tableView || identifier.isEmpty())
        return;
    if (tableView == infoBatchRenameList)
        return;
    if (tableView == infoTagTagList || tableView == infoTagPropertyList)
        setInfoTagTableObjectValue(tableView, objectValue, identifier, row);
    else if (tableView == smartPlaylistTagList)
        setSmartCriterionTableObjectValue(tableView, objectValue, identifier, row);
    else
        setGroupListObjectValue(objectValue, identifier, row, tracking);
}

// ---- The info panel's tables

void PMMainController::setInfoTagTableObjectValue(PMAutoCompleteTableView* tableView, const Value& objectValue, const QString& identifier,
                                                   qsizetype row)
{
    if (!_filteredInfoTags || _filteredInfoTags->isEmpty()) {
        if (PMDebugLogEnabled())
            PMLog("[Debug] cannot set value for undead property");
        return;
    }
    _infoDecodedMetaReferenceCache.clear();
    const DictionaryPtr entry = infoEntry(*this, tableView, row);
    if (!entry)
        return;
    const qsizetype movies = _infoMovieRepresentations ? _infoMovieRepresentations->count() : 0;
    QString text;
    QStringList values;
    if (objectValue.isString()) {
        text = objectValue.string().trimmed();
    } else if (objectValue.isArray()) {
        values = uniqueTrimmedStrings(stringsOfArray(objectValue));
        text = PMCSVStringWithFields(values, QString(), false);
    }
    // The value column: the third of the property list with several records, else the
    // second (the state column is there only for several).
    const int valueColumn = tableView->columnWithIdentifier(QStringLiteral("Value")) >= 0
        ? tableView->columnWithIdentifier(QStringLiteral("Value")) + 1
        : (movies > 1 ? 3 : 2);

    if (identifier == QLatin1String("Tag")) {
        if (!objectValue.isString() || text.isEmpty())
            return;
        renameInfoTag(tableView, entry, text, movies, valueColumn);
        return;
    }
    if (identifier == QLatin1String("ChooseValue")) {
        chooseNewInfoTagValues(entry, objectValue);
        return;
    }
    storeInfoTagValue(tableView, entry, objectValue, identifier, row, text, values, movies, valueColumn);
    updateInfoTagButtonsAvailability();
    tableView->viewport()->update();
}

// A tag row's new name: unique among the rows; for a tag the selected files share, in all
// files or (on a copy of the row) in the selected ones only, as the user answers.
void PMMainController::renameInfoTag(PMAutoCompleteTableView* tableView, const DictionaryPtr& entry, QString text, qsizetype movies, int valueColumn)
{
    const QString oldName = stringOf(entry, QStringLiteral("Tag"));
    DictionaryPtr carrier = entry;
    if (text.compare(oldName, Qt::CaseInsensitive) != 0) {
        text = uniqueTagName(*_infoTags, text, Value(entry));
        const QString original = stringOf(entry, QStringLiteral("Tag: Original (All)"));
        if (!original.isEmpty() && text.compare(original, Qt::CaseInsensitive) == 0) {
            // Back to the name before a pending "Rename All": that rename is dropped.
            if (_infoGloballyRenamedTagNames)
                _infoGloballyRenamedTagNames->remove(original.toLower());
        } else if (entry->value(QStringLiteral("Counter")).toLongLong() == kSharedTagCounter) {
            const long answer = PMRunAlert(localized("Renaming Property"),
                                           localized("Rename this property in all files, or just the currently selected files?"),
                                           localized("Rename in Selected Files"), localized("Cancel"), localized("Rename All"));
            if (answer == PMAlertSecondButtonReturn) {
                tableView->viewport()->update();
                return;
            }
            if (answer == PMAlertThirdButtonReturn) {
                if (original.isEmpty())
                    entry->setValue(QStringLiteral("Tag: Original (All)"), Value(oldName.toLower()));
                if (!_infoGloballyRenamedTagNames)
                    _infoGloballyRenamedTagNames = std::make_shared<Dictionary>();
                const QString former = stringOf(entry, QStringLiteral("Tag: Original (All)"));
                _infoGloballyRenamedTagNames->setValue(former, Value(text));
            } else {
                // Only the selected files: a copy carries the rename, the entry stays
                // as it was for the other files.
                carrier = std::make_shared<Dictionary>(*entry);
                carrier->remove(QStringLiteral("Tag: Original (All)"));
                // The values checked or unchecked so far are the copy's own from now
                // on: a change to either row must not show in the other.
                for (const QString& key : {QStringLiteral("Checked Separate Values"), QStringLiteral("Unchecked Separate Values")})
                    if (const ArrayPtr values = carrier->value(key).array())
                        carrier->setValue(key, Value(deeplyMutableCopy(values)));
                // The copy must still find each movie's own values under the old name.
                if (stringOf(carrier, QStringLiteral("Tag: Original")).isEmpty())
                    carrier->setValue(QStringLiteral("Tag: Original"), Value(oldName.toLower()));
                carrier->setValue(QStringLiteral("Counter"), Value((long long)movies));
                _infoTags->append(Value(carrier));
                entry->setValue(QStringLiteral("Value"), Value(QString()));
                entry->setValue(QStringLiteral("State"), Value(1LL));
                entry->setValue(QStringLiteral("State: Immutable"), Value(true));
            }
        } else {
            if (stringOf(entry, QStringLiteral("Tag: Original")).isEmpty())
                entry->setValue(QStringLiteral("Tag: Original"), Value(oldName.toLower()));
            if (_infoPersistentTagNames)
                _infoPersistentTagNames->remove(oldName.toLower());
        }
    }
    carrier->setValue(QStringLiteral("Tag"), Value(text));
    if (carrier != entry && _filteredInfoTags->indexOfIdentical(carrier.get()) < 0)
        _filteredInfoTags->append(Value(carrier));
    if (defaults().integerForKey(prefs::keys::PropertySortingPriority) >= 1) {
        auto sortEntries = [](const ArrayPtr& array) {
            if (!array || array->count() < 2)
                return;
            // The tag list's entry stays first.
            std::stable_sort(array->values().begin() + 1, array->values().end(),
                             [](const Value& a, const Value& b) { return PMCompareTagEntries(a, b) < 0; });
        };
        sortEntries(_infoTags);
        sortEntries(_filteredInfoTags);
    }
    if (infoTagPropertyList)
        infoTagPropertyList->reloadData();
    updateInfoTagNotesFieldAndFixAttributes(false);
    const qsizetype index = _filteredInfoTags->indexOfIdentical(carrier.get());
    if (infoTagPropertyList && index >= 1) {
        infoTagPropertyList->selectRow(int(index - 1));
        infoTagPropertyList->scrollTo(infoTagPropertyList->tableModel()->index(int(index - 1), 0));
        tableViewEditColumnAfterDelayIfTabInRow(tableView, valueColumn - 1, index - 1, false);
    }
    return;
}

// The panel that adds values to a tag row.
void PMMainController::chooseNewInfoTagValues(const DictionaryPtr& entry, const Value& objectValue)
{
    if (objectValue.toLongLong() != 1 || (infoNewTagPanel && infoNewTagPanel->isVisible()))
        return;
    if (!infoNewTagPanel && !loadNewTagValuePanel()) {
        PMLog("cannot load <NewTagValue.nib>");
        platform::beep();
        return;
    }
    const QString tag = stringOf(entry, QStringLiteral("Tag"));
    const QString title = tag.compare(QLatin1String("tags"), Qt::CaseInsensitive) == 0
        ? localized("New Tags")
        : localized("New \"%1\" Values").arg(tag);
    if (auto* label = qobject_cast<QLabel*>(infoNewTagTitleField.data()))
        label->setText(title);
    if (auto* field = qobject_cast<QLineEdit*>(infoNewTagTokenField.data()))
        field->clear();
    if (infoNewTagOKButton)
        infoNewTagOKButton->setEnabled(false);
    infoNewTagPanel->setProperty("PMInfoTagEntry", QVariant::fromValue(static_cast<void*>(entry.get())));
    _infoNewTagEntry = entry;
    infoNewTagPanel->show();
    return;
}

// A row's state or value; the values chosen and not chosen follow the new value.
void PMMainController::storeInfoTagValue(PMAutoCompleteTableView* tableView, const DictionaryPtr& entry, const Value& objectValue,
                                         const QString& identifier, qsizetype row, const QString& text, QStringList values, qsizetype movies,
                                         int valueColumn)
{
    if (identifier == QLatin1String("State")) {
        if (movies >= 2 && !entry->contains(QStringLiteral("State: Immutable")))
            setState(int(objectValue.toLongLong()), entry);
    } else {
        qsizetype nextRow = -1;
        if (tableView == infoTagPropertyList && identifier == QLatin1String("Value")) {
            const qsizetype rows = tableView->numberOfRows();
            if (rows >= 2)
                nextRow = row + 1 < rows ? row + 1 : 0;
        }
        if (!values.isEmpty())
            storeValues(values, entry);
        else if (objectValue.isString() && !text.isEmpty())
            values = uniqueTrimmedStrings(cachedCSVFields(text));
        if (text.compare(stringOf(entry, QStringLiteral("Value")), Qt::CaseInsensitive) != 0) {
            const QString tag = stringOf(entry, QStringLiteral("Tag"));
            QSet<QString> chosen;
            for (const QString& v : values)
                chosen.insert(v.toLower());
            for (const QString& v : valuesForTag(tag, QString(), nullptr, PMNotFound)) {
                const bool on = chosen.contains(v.toLower());
                const QString add = on ? QStringLiteral("Checked Separate Values") : QStringLiteral("Unchecked Separate Values");
                const QString remove = on ? QStringLiteral("Unchecked Separate Values") : QStringLiteral("Checked Separate Values");
                ArrayPtr addTo = entry->value(add).array();
                if (!addTo) {
                    addTo = Array::make();
                    entry->setValue(add, Value(addTo));
                }
                bool present = false;
                for (const Value& existing : *addTo)
                    present = present || (existing.isString() && existing.string().compare(v, Qt::CaseInsensitive) == 0);
                if (!present)
                    addTo->append(Value(v));
                if (const ArrayPtr removeFrom = entry->value(remove).array()) {
                    std::erase_if(removeFrom->values(), [&](const Value& existing) {
                        return existing.isString() && existing.string().compare(v, Qt::CaseInsensitive) == 0;
                    });
                }
            }
            determineEffectiveValueAndStateForInfoTag(entry, nullptr);
        }
        if (nextRow >= 0)
            tableViewEditColumnAfterDelayIfTabInRow(tableView, valueColumn - 1, nextRow, true);
    }
}

// ---- The smart criteria

void PMMainController::setSmartCriterionTableObjectValue(PMAutoCompleteTableView* tableView, const Value& objectValue, const QString& identifier,
                                                          qsizetype row)
{
    const DictionaryPtr entry = smartEntry(*this, row);
    if (!entry)
        return;
    const QString text = objectValue.isString() ? objectValue.string().trimmed() : QString();
    if (identifier == QLatin1String("Tag")) {
        if (text.isEmpty())
            return;
        entry->setValue(QStringLiteral("Tag"), Value(text));
        if (defaults().integerForKey(prefs::keys::PropertySortingPriority) >= 1) {
            std::stable_sort(_currentlyEditedSmartPlaylistTags->values().begin(), _currentlyEditedSmartPlaylistTags->values().end(),
                             [](const Value& a, const Value& b) { return PMCompareTagEntries(a, b) < 0; });
        }
        tableView->reloadData();
        const qsizetype index = _currentlyEditedSmartPlaylistTags->indexOfIdentical(entry.get());
        if (index >= 0) {
            tableView->selectRow(int(index));
            tableView->scrollTo(tableView->tableModel()->index(int(index), 0));
            tableViewEditColumnAfterDelayIfTabInRow(tableView,
                                                    tableView->columnWithIdentifier(QStringLiteral("Value")) >= 0
                                                        ? tableView->columnWithIdentifier(QStringLiteral("Value"))
                                                        : 5,
                                                    index, false);
        }
        return;
    }
    if (identifier == QLatin1String("Enabled")) {
        entry->setValue(identifier, objectValue);
    } else if (identifier == QLatin1String("ChooseTag")) {
        const long long index = objectValue.toLongLong();
        if (index < 1)
            return;
        const QStringList names = tagNamesWithPrefix(QString());
        entry->setValue(QStringLiteral("State"), Value(1LL));
        entry->setValue(QStringLiteral("Tag"), Value(index - 1 < names.size() ? names.at(index - 1) : QString()));
    } else if (identifier == QLatin1String("ChooseValue")) {
        if (smartPlaylistTagExplanationField)
            smartPlaylistTagExplanationField->setVisible(true);
        const long long index = objectValue.toLongLong();
        if (index < 1)
            return;
        const QStringList values = valuesForTag(stringOf(entry, QStringLiteral("Tag")), QString(), nullptr, PMNotFound);
        entry->setValue(QStringLiteral("State"), Value(1LL));
        entry->setValue(QStringLiteral("Value"), Value(index - 1 < values.size() ? values.at(index - 1) : QString()));
    } else if (identifier == QLatin1String("Value")) {
        if (smartPlaylistTagExplanationField)
            smartPlaylistTagExplanationField->setVisible(true);
        entry->setValue(QStringLiteral("State"), Value(1LL));
        entry->setValue(QStringLiteral("Value"), Value(text));
    } else {
        entry->setValue(QStringLiteral("State"), Value(1LL));
        entry->setValue(identifier, objectValue);
    }
    tableView->viewport()->update();
}

// ---- The list

void PMMainController::setGroupListObjectValue(const Value& objectValue, const QString& identifier, qsizetype row, bool tracking)
{
    const Value item = groupListItem(*this, row);
    PMMovieRepresentationPrototype* movie = PMMovie(item);
    if (!movie)
        return;
    const auto commonEnding = [this] {
        freezeSelections();
        QTimer::singleShot(0, this, [this] { updateLibraryWithFrozenSelections(); });
        saveLibrarySoon();
    };
    if (identifier == QLatin1String("GroupListName")) {
        if (PMDeterminesNamesAutomatically())
            return;
        const QString name = objectValue.isString() ? objectValue.string() : QString();
        if (name.trimmed().isEmpty() || name == movie->displayName())
            return;
        movie->setDisplayName(name);
        // An organised library renames the file after its new name, by the organiser's
        // rules: never over another file, a free name on a collision.
        FileLocationsRequest request;
        request.items = Array::make({item});
        request.organize = !defaults().boolForKey(prefs::keys::DoNotOrganizeLibraryFolder);
        updateFileLocations(request);
        updateWindowTitles();
        updateStatusFields();
        commonEnding();
        return;
    }
    if (identifier == QLatin1String("GroupListRating")) {
        movie->setRating(std::clamp(objectValue.toDouble(), 0.0, 5.0));
        if (groupListTable)
            groupListTable->viewport()->update();
        // Dragging over the stars stores each step; the end of the gesture (or a key)
        // updates and saves the library.
        if (!tracking)
            updateLibraryAfterRatingChangeSoon();
        return;
    }
    if (identifier.startsWith(kTagPrefix)) {
        const QString lowercaseTag = identifier.mid(kTagPrefix.size());
        QString text;
        if (objectValue.isArray()) {
            QStringList tokens = stringsOfArray(objectValue);
            const PMTableColumn* column = groupListTable ? groupListTable->tableColumn(groupListTable->columnWithIdentifier(identifier)) : nullptr;
            if (tokens.size() == 1 && column && column->tokenStyle == 1)
                tokens = cachedCSVFields(tokens.first());
            text = PMCSVStringWithFields(decodeMetaReferencesInStrings(tokens, movie, lowercaseTag, row), QString(), false);
        } else if (objectValue.isString()) {
            text = decodeMetaReferencesInString(objectValue.string(), movie, lowercaseTag, true, false, row, nullptr);
        } else {
            return;
        }
        QString tag;
        if (const auto type = _tagTypes.constFind(lowercaseTag); type != _tagTypes.constEnd())
            tag = type->tag;
        if (tag.isEmpty() && groupListTable)
            if (const PMTableColumn* column = groupListTable->tableColumn(groupListTable->columnWithIdentifier(identifier)))
                tag = column->header.trimmed();
        if (tag.isEmpty())
            tag = lowercaseTag;
        movie->setValue(text, tag);
        commonEnding();
        return;
    }
}

// ---------------------------------------------------------------------------------------
// Completion

QStringList PMMainController::controlCompletionsForPrefix(QObject* control, const QString& prefix, int* indexOfSelectedItem)
{
    if (prefix.isEmpty() || !control)
        return {};
    QStringList completions;
    const auto values = [&](const QString& tag) { return valuesForTag(tag, prefix, nullptr, PMNotFound); };
    auto* table = qobject_cast<PMAutoCompleteTableView*>(control);
    const int editedColumn = table && table->editedIndex().isValid() ? table->editedIndex().column() : -1;
    const QString editedIdentifier = table ? table->identifierOfColumn(editedColumn) : QString();
    const qsizetype movies = _infoMovieRepresentations ? _infoMovieRepresentations->count() : 0;
    if (control == smartPlaylistDividerTagTokenField.data()) {
        completions = tagNamesWithPrefix(prefix);
    } else if (table && table == infoTagTagList) {
        if (editedColumn == (movies > 1 ? 2 : 1) || editedIdentifier == QLatin1String("Value"))
            if (const DictionaryPtr entry = infoEntry(*this, table, 0))
                completions = values(stringOf(entry, QStringLiteral("Tag")));
    } else if (table && table == infoTagPropertyList) {
        if (editedColumn == (movies > 1 ? 3 : 2) || editedIdentifier == QLatin1String("Value"))
            if (const DictionaryPtr entry = infoEntry(*this, table, table->editedIndex().row()))
                completions = values(stringOf(entry, QStringLiteral("Tag")));
    } else if (table && table == smartPlaylistTagList) {
        if (editedIdentifier == QLatin1String("Tag"))
            completions = tagNamesWithPrefix(prefix);
        else if (editedIdentifier == QLatin1String("Value"))
            if (const DictionaryPtr entry = smartEntry(*this, table->editedIndex().row()))
                completions = values(stringOf(entry, QStringLiteral("Tag")));
    } else if (table && table == groupListTable) {
        if (editedIdentifier.startsWith(kTagPrefix) && editedIdentifier != kTagPrefix + QStringLiteral("notes"))
            completions = values(editedIdentifier.mid(kTagPrefix.size()));
    }
    if (completions.size() == 1 && completions.first() == prefix)
        return {};
    if (indexOfSelectedItem && !defaults().boolForKey(prefs::keys::AutoAutoComplete))
        *indexOfSelectedItem = -1;
    return completions;
}

QStringList PMMainController::controlTextViewCompletions(QObject* control, const QString& text, int partialWordStart, int partialWordLength,
                                                         int* indexOfSelectedItem)
{
    return controlCompletionsForPrefix(control, text.mid(partialWordStart, partialWordLength), indexOfSelectedItem);
}

// ---------------------------------------------------------------------------------------
// The info panel's tag values and the "NewTagValue" sheet

void PMMainController::updateInfoTagButtonsAvailability()
{
    if (_updateInfoTagButtonsAvailability)
        _updateInfoTagButtonsAvailability();
}

void PMMainController::updateInfoTagNotesFieldAndFixAttributes(bool fixAttributes)
{
    if (_updateInfoTagNotesFieldAndFixAttributes)
        _updateInfoTagNotesFieldAndFixAttributes(fixAttributes);
}

bool PMMainController::loadNewTagValuePanel()
{
    auto* panel = new QDialog(infoWindow ? infoWindow->window() : nullptr);
    panel->setObjectName(QStringLiteral("NewTagValue"));
    panel->setWindowModality(Qt::WindowModal);
    auto* layout = new QVBoxLayout(panel);
    auto* title = new QLabel(panel);
    title->setObjectName(QStringLiteral("infoNewTagTitleField"));
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);
    auto* field = new QLineEdit(panel);
    field->setObjectName(QStringLiteral("infoNewTagTokenField"));
    field->setPlaceholderText(localized("Values, separated by commas"));
    auto* buttons = new QHBoxLayout;
    auto* cancel = new QPushButton(localized("Cancel"), panel);
    auto* ok = new QPushButton(localized("OK"), panel);
    ok->setObjectName(QStringLiteral("infoNewTagOKButton"));
    ok->setDefault(true);
    buttons->addStretch(1);
    buttons->addWidget(cancel);
    buttons->addWidget(ok);
    layout->addWidget(title);
    layout->addWidget(field);
    layout->addLayout(buttons);
    panel->resize(360, panel->sizeHint().height());
    QObject::connect(field, &QLineEdit::textChanged, ok, [ok](const QString& text) { ok->setEnabled(!text.trimmed().isEmpty()); });
    QObject::connect(ok, &QPushButton::clicked, panel, [this] { newTagValueOK(nullptr); });
    QObject::connect(cancel, &QPushButton::clicked, panel, [this] { newTagValueCancel(nullptr); });
    infoNewTagPanel = panel;
    infoNewTagTitleField = title;
    infoNewTagTokenField = field;
    infoNewTagOKButton = ok;
    return true;
}

void PMMainController::newTagValueOK(QObject*)
{
    QStringList values;
    if (auto* field = qobject_cast<QLineEdit*>(infoNewTagTokenField.data()))
        values = uniqueTrimmedStrings(PMCSVFieldsFromString(field->text(), QStringLiteral(",")));
    // The values belong to the row the sheet was opened for, whichever row is selected now
    // (a quick click does not select its row).
    const DictionaryPtr entry = std::exchange(_infoNewTagEntry, nullptr);
    if (infoNewTagPanel)
        infoNewTagPanel->hide();
    if (entry)
        addInfoTagValues(values, entry);
}

void PMMainController::newTagValueCancel(QObject*)
{
    _infoNewTagEntry = nullptr;
    if (infoNewTagPanel && infoNewTagPanel->isVisible())
        infoNewTagPanel->hide();
}

void PMMainController::addInfoTagValues(const QStringList& values, const DictionaryPtr& toEntry)
{
    if (values.isEmpty())
        return;
    DictionaryPtr entry = toEntry;
    if (!entry && infoTagTagList && infoTagTagList->selectionModel() && infoTagTagList->selectionModel()->hasSelection())
        entry = infoEntry(*this, infoTagTagList, 0);
    else if (!entry && infoTagPropertyList && infoTagPropertyList->selectionModel()
             && !infoTagPropertyList->selectionModel()->selectedRows().isEmpty())
        entry = infoEntry(*this, infoTagPropertyList, infoTagPropertyList->selectionModel()->selectedRows().first().row());
    if (!entry)
        return;
    storeValues(values, entry);
    for (const QString& value : values) {
        ArrayPtr checked = entry->value(QStringLiteral("Checked Separate Values")).array();
        if (!checked) {
            checked = Array::make();
            entry->setValue(QStringLiteral("Checked Separate Values"), Value(checked));
        }
        bool present = false;
        for (const Value& v : *checked)
            present = present || (v.isString() && v.string().compare(value, Qt::CaseInsensitive) == 0);
        if (!present)
            checked->append(Value(value));
        if (const ArrayPtr unchecked = entry->value(QStringLiteral("Unchecked Separate Values")).array()) {
            std::erase_if(unchecked->values(),
                          [&](const Value& v) { return v.isString() && v.string().compare(value, Qt::CaseInsensitive) == 0; });
            if (unchecked->isEmpty())
                entry->remove(QStringLiteral("Unchecked Separate Values"));
        }
    }
    determineEffectiveValueAndStateForInfoTag(entry, nullptr);
    updateInfoTagButtonsAvailability();
    _infoDecodedMetaReferenceCache.clear();
    for (PMAutoCompleteTableView* table : {infoTagTagList.data(), infoTagPropertyList.data()})
        if (table)
            table->viewport()->update();
}

void PMMainController::addInfoTagValueViaMenuItem(const Value& representedObject)
{
    if (!representedObject.isString())
        return;
    // The value belongs to the row whose pop-up offered it, whichever row of either table is
    // selected; without that row still shown, to the selected one.
    bool shown = false;
    if (_infoNewTagEntry && _infoTags)
        for (const Value& v : *_infoTags)
            shown = shown || v.dictionary() == _infoNewTagEntry;
    addInfoTagValues({representedObject.string()}, shown ? _infoNewTagEntry : nullptr);
}

void PMMainController::clearInfoTagValueViaMenuItem(const Value& representedObject)
{
    const DictionaryPtr entry = representedObject.dictionary();
    if (!entry)
        return;
    // Every value of the tag off for the movies being edited.
    setState(0, entry);
    const QString tag = stringOf(entry, QStringLiteral("Tag"));
    auto unchecked = Array::make();
    for (const QString& v : valuesForTag(tag, QString(), _infoMovieRepresentations, PMNotFound))
        unchecked->append(Value(v));
    if (!unchecked->isEmpty())
        entry->setValue(QStringLiteral("Unchecked Separate Values"), Value(unchecked));
    entry->remove(QStringLiteral("Checked Separate Values"));
    determineEffectiveValueAndStateForInfoTag(entry, nullptr);
    updateInfoTagButtonsAvailability();
    for (PMAutoCompleteTableView* table : {infoTagTagList.data(), infoTagPropertyList.data()})
        if (table)
            table->viewport()->update();
}
