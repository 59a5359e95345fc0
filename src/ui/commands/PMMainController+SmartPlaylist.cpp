// The smart-group editor: opening it on a group, OK and Cancel, the tag criteria, and the
// commands that add, edit and duplicate smart groups and step their relative dates.
#include "library/model/PMMainController.h"

#include "foundation/NSDictionary+PMExtensions.h"
#include "foundation/PMLog.h"
#include "library/maintenance/PMSmartGroups.h"
#include "library/model/PMCachedSettings.h"
#include "library/model/PMSortLibraryItems.h"
#include "platform/Alert.h"
#include "platform/Responder.h"
#include "foundation/PMSettingsKeys.h"
#include "platform/UserDefaults.h"
#include "ui/commands/PMMetaReferenceTokenField.h"
#include "ui/commands/PMSmartPlaylistPanel.h"
#include "ui/kit/PMRatingView.h"
#include "ui/library_window/PMAutoCompleteTableView.h"
#include "ui/library_window/PMMainWindow.h"
#include "ui/library_window/PMMovieOutlineView.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QTimer>
#include <QtGui/QAction>
#include <QtWidgets/QAbstractButton>
#include <QtWidgets/QCheckBox>
#include <QtWidgets/QComboBox>
#include <QtWidgets/QLabel>
#include <QtWidgets/QHBoxLayout>
#include <QtWidgets/QMenu>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QToolButton>
#include <QtWidgets/QVBoxLayout>

using platform::Array;
using platform::ArrayPtr;
using platform::Dictionary;
using platform::DictionaryPtr;
using platform::Value;

namespace {

QString localized(const char* text)
{
    return QCoreApplication::translate("PMMainController", text);
}

platform::UserDefaults& defaults()
{
    return platform::UserDefaults::standard();
}

Value representedObjectOf(QObject* sender)
{
    if (auto* item = qobject_cast<QAction*>(sender))
        return platform::menuItemRepresentedObject(item);
    return {};
}

// Selects the row alone, whatever keys are held.
void selectOnlyRow(PMAutoCompleteTableView* table, int row)
{
    if (table->selectionModel())
        table->selectionModel()->select(table->model()->index(row, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    table->scrollTo(table->model()->index(row, 0));
}

void sortTagEntries(const ArrayPtr& entries)
{
    std::stable_sort(entries->values().begin(), entries->values().end(), [](const Value& a, const Value& b) { return PMCompareTagEntries(a, b) < 0; });
}

} // namespace

namespace {

// An item of the sidebar's menus that sends the action along the responder chain.
QAction* actionItem(QMenu* menu, const QString& title, const char* action, qint64 tag = 0, const Value& represented = Value())
{
    QAction* item = menu->addAction(title);
    platform::setMenuItemTag(item, tag);
    if (!represented.isNull())
        platform::setMenuItemRepresentedObject(item, represented);
    const QString name = QString::fromLatin1(action);
    QObject::connect(item, &QAction::triggered, item, [item, name] { platform::sendAction(name, item); });
    return item;
}

void addNewItems(QMenu* menu)
{
    actionItem(menu, localized("New Smart Playlist..."), "addSmartPlaylist");
    actionItem(menu, localized("New Playlist"), "addContainer", 1);
    actionItem(menu, localized("New Folder"), "addContainer", 0);
}

} // namespace

void PMMainController::installSmartPlaylistCommands()
{
    // The sidebar's add button: new smart playlists, playlists and folders.
    if (auto* window = qobject_cast<PMMainWindow*>(mainWindow()); window && window->sourceListContainer()
        && !window->sourceListContainer()->findChild<QToolButton*>(QStringLiteral("PMSidebarAddButton"))) {
        QWidget* container = window->sourceListContainer();
        auto* button = new QToolButton(container);
        button->setObjectName(QStringLiteral("PMSidebarAddButton"));
        button->setIcon(QIcon::fromTheme(QStringLiteral("list-add")));
        button->setText(QStringLiteral("+"));
        button->setToolTip(localized("New Smart Playlist, Playlist or Folder"));
        button->setAutoRaise(true);
        button->setPopupMode(QToolButton::InstantPopup);
        auto* menu = new QMenu(button);
        addNewItems(menu);
        button->setMenu(menu);
        if (auto* layout = qobject_cast<QVBoxLayout*>(container->layout())) {
            auto* row = new QHBoxLayout;
            row->setContentsMargins(6, 2, 6, 4);
            row->addWidget(button);
            row->addStretch();
            layout->addLayout(row);
        }
    }
    // The sidebar's context menu, unless a fuller one is installed.
    if (!_contextMenuForLibraryListRowIndexes) {
        _contextMenuForLibraryListRowIndexes = [this](const QList<qsizetype>* rows) -> QMenu* {
            auto* menu = new QMenu;
            PMLibraryContainerPtr clicked;
            if (rows && rows->size() == 1 && libraryListView)
                clicked = PMContainerPtr(libraryListView->itemAtRow(rows->first()));
            if (clicked && clicked->isSmartGroup()) {
                actionItem(menu, localized("Edit Smart Playlist..."), "editSmartPlaylist", 0, Value(clicked));
                if (!clicked->isSmartGroupSubdivision() || nonVolatileAncestorOfLibraryItem(Value(clicked), nullptr))
                    actionItem(menu, localized("Duplicate Smart Playlist"), "duplicateSmartPlaylist", 0, Value(clicked));
                menu->addSeparator();
            }
            addNewItems(menu);
            return menu;
        };
    }

    _actions.insert(QStringLiteral("addSmartPlaylist"), [this](QObject* s) { addSmartPlaylist(s); });
    _actions.insert(QStringLiteral("editSmartPlaylist"), [this](QObject* s) { editSmartPlaylist(s); });
    _actions.insert(QStringLiteral("duplicateSmartPlaylist"), [this](QObject* s) { duplicateSmartPlaylist(s); });
    _actions.insert(QStringLiteral("changeSmartGroupRelativeDateCriteriaUnits"), [this](QObject* s) { changeSmartGroupRelativeDateCriteriaUnits(s); });
    _menuValidation.isSmartPlaylistPanelVisible = [this] { return smartPlaylistPanel && smartPlaylistPanel->isVisible(); };
}

void PMMainController::editSmartGroup(const PMLibraryContainerPtr& group, std::function<void()> successHandler)
{
    // A subdivision is edited through its smart group.
    PMLibraryContainerPtr edited = group;
    if (edited && edited->isSmartGroupSubdivision())
        edited = nonVolatileAncestorOfLibraryItem(Value(edited), nullptr);
    if (!edited || !edited->isSmartGroup() || (smartPlaylistPanel && smartPlaylistPanel->isVisible())) {
        platform::beep();
        return;
    }
    if (!smartPlaylistPanel) {
        smartPlaylistPanel = new PMSmartPlaylistPanel(*this, mainWindow());
        if (!smartPlaylistPanel) {
            PMLog("cannot load <Smart.nib>");
            platform::beep();
            return;
        }
        if (PMCachedSettings::determineFuzzyOldestDate) {
            PMSmartPlaylistPanel& p = *smartPlaylistPanel;
            p.smartPlaylistDateSwitch->setText(localized("Date"));
            p.smartPlaylistDividerModeSelector->setItemText(p.smartPlaylistDividerModeSelector->findData(QVariant::fromValue(2LL)), localized("Date"));
            p.smartPlaylistDateAction->setItemText(p.smartPlaylistDateAction->findData(QVariant::fromValue(4LL)), localized("is within the last"));
            p.smartPlaylistDateAction->setItemText(p.smartPlaylistDateAction->findData(QVariant::fromValue(5LL)), localized("is not within the last"));
        }
    }
    PMSmartPlaylistPanel& panel = *smartPlaylistPanel;
    // The tables' data source tells the criteria table by these outlets.
    smartPlaylistTagList = panel.smartPlaylistTagList;
    smartPlaylistTagDeleteButton = panel.smartPlaylistTagDeleteButton;
    smartPlaylistTagExplanationField = panel.smartPlaylistTagExplanationField;
    smartPlaylistDividerTagTokenField = panel.smartPlaylistDividerTagTokenField;
    _currentlyEditedSmartPlaylist = edited;
    _smartPlaylistSuccessHandler = std::move(successHandler);

    const DictionaryPtr criteria = edited->value(QStringLiteral("Criteria")).dictionary();
    const Value tags = criteria ? criteria->value(QStringLiteral("Tags")) : Value();
    _currentlyEditedSmartPlaylistTags = tags.isArray() ? deeplyMutableCopy(tags.array()) : Array::make();
    panel.smartPlaylistTagList->reloadData();
    panel.smartPlaylistTagList->clearSelection();
    panel.smartPlaylistTagExplanationField->setVisible(false);
    panel.smartPlaylistTagDeleteButton->setEnabled(false);
    panel.setCriteria(criteria);

    // Flattening cannot be seen while the grid blends the previews of subgroups.
    if (blendsSubgroupPreviews()) {
        panel.smartPlaylistFlattenSwitch->setEnabled(false);
        panel.smartPlaylistFlattenSwitch->setChecked(false);
    } else {
        panel.smartPlaylistFlattenSwitch->setEnabled(true);
        const bool fineTuning = defaults().boolForKey(prefs::keys::EnableFanOutFineTuning);
        panel.smartPlaylistFlattenSwitch->setTristate(fineTuning);
        const bool flatten = edited->value(QStringLiteral("Flatten")).toBool();
        const bool subdivisionsOnly = edited->value(QStringLiteral("Flatten: Subdivisions Only")).toBool();
        panel.smartPlaylistFlattenSwitch->setCheckState(!flatten ? Qt::Unchecked : fineTuning && subdivisionsOnly ? Qt::PartiallyChecked : Qt::Checked);
    }
    smartPlaylistUpdateSubdividerSettings(panel.smartPlaylistDividerModeSelector);
    const Value continues = edited->value(QStringLiteral("Continue"));
    panel.smartPlaylistContinueSwitch->setCheckState(continues.isNull() ? Qt::PartiallyChecked : continues.toBool() ? Qt::Checked : Qt::Unchecked);
    smartPlaylistUpdateContinueSwitchExplanation(panel.smartPlaylistContinueSwitch);
    panel.setWindowTitle(edited->displayName());
    updateSmartPlaylistMatchModeSelectorVisibility();

    // A sheet of the main window when it is shown, else a window of its own; either way
    // without a nested event loop.
    QWidget* window = mainWindow();
    if (window && window->isVisible()) {
        if (panel.parentWidget() != window)
            panel.setParent(window, panel.windowFlags());
        panel.setWindowModality(Qt::WindowModal);
    } else {
        panel.setWindowModality(Qt::ApplicationModal);
    }
    panel.open();
    panel.raise();
    panel.activateWindow();
}

void PMMainController::smartPlaylistUpdateSubdividerSettings(QObject*)
{
    if (!smartPlaylistPanel)
        return;
    const int kind = smartPlaylistPanel->subdividerKind();
    smartPlaylistPanel->flattenRow->setVisible(kind >= 1);
    smartPlaylistPanel->dividerTagRow->setVisible(kind == 3);
    for (QWidget* w : {static_cast<QWidget*>(smartPlaylistPanel->smartPlaylistDividerTagOtherBehaviorSelector),
                       static_cast<QWidget*>(smartPlaylistPanel->smartPlaylistDividerTagThresholdSelector),
                       static_cast<QWidget*>(smartPlaylistPanel->smartPlaylistDividerBypassLevelSelector)})
        w->setEnabled(kind >= 1);
}

void PMMainController::smartPlaylistUpdateContinueSwitchExplanation(QObject*)
{
    if (smartPlaylistPanel)
        smartPlaylistPanel->smartPlaylistContinueSwitchExplanationField->setVisible(smartPlaylistPanel->smartPlaylistContinueSwitch->checkState() == Qt::PartiallyChecked);
}

void PMMainController::updateSmartPlaylistMatchModeSelectorVisibility()
{
    if (!smartPlaylistPanel)
        return;
    const PMSmartPlaylistPanel& p = *smartPlaylistPanel;
    int enabled = 0;
    for (const QCheckBox* box : {p.smartPlaylistNameSwitch, p.smartPlaylistTimeSwitch, p.smartPlaylistDateSwitch, p.smartPlaylistPlaybackDateSwitch, p.smartPlaylistRatingSwitch})
        enabled += box->isChecked() ? 1 : 0;
    if (_currentlyEditedSmartPlaylistTags)
        for (const Value& v : *_currentlyEditedSmartPlaylistTags)
            if (const DictionaryPtr entry = v.dictionary(); entry && boolValueOfObjectForKey(entry, QStringLiteral("Enabled")))
                ++enabled;
    smartPlaylistPanel->matchModeRow->setVisible(enabled >= 2);
}

void PMMainController::smartPlaylistTagAdd(QObject*)
{
    if (!smartPlaylistPanel)
        return;
    smartPlaylistPanel->setFocus();
    const QStringList known = tagNamesWithPrefix(QString());
    QSet<QString> used;
    for (const Value& v : *_currentlyEditedSmartPlaylistTags)
        if (const DictionaryPtr entry = v.dictionary())
            used.insert(entry->value(QStringLiteral("Tag")).string().toLower());
    QString name;
    for (const QString& candidate : known)
        if (!used.contains(candidate.toLower())) {
            name = candidate;
            break;
        }
    if (name.isEmpty())
        name = known.isEmpty() ? localized("Property") : known.first();
    const DictionaryPtr entry = Dictionary::make({{QStringLiteral("Enabled"), true}, {QStringLiteral("Tag"), name}});
    _currentlyEditedSmartPlaylistTags->append(Value(entry));
    if (defaults().integerForKey(prefs::keys::PropertySortingPriority) >= 0)
        sortTagEntries(_currentlyEditedSmartPlaylistTags);
    PMAutoCompleteTableView* table = smartPlaylistPanel->smartPlaylistTagList;
    table->reloadData();
    const qsizetype row = _currentlyEditedSmartPlaylistTags->indexOfIdentical(entry.get());
    selectOnlyRow(table, int(row));
    table->setFocus();
    updateSmartPlaylistMatchModeSelectorVisibility();
    // Editing of the value starts once the row is shown.
    QPointer<PMAutoCompleteTableView> guarded = table;
    QTimer::singleShot(0, table, [this, guarded, entry, row] {
        if (!guarded || !guarded->window()->isVisible() || row >= _currentlyEditedSmartPlaylistTags->count()
            || _currentlyEditedSmartPlaylistTags->at(row).dictionary() != entry)
            return;
        guarded->editColumn(guarded->columnWithIdentifier(QStringLiteral("Value")), int(row), true);
    });
}

void PMMainController::smartPlaylistTagDelete(QObject*)
{
    if (!smartPlaylistPanel)
        return;
    PMAutoCompleteTableView* table = smartPlaylistPanel->smartPlaylistTagList;
    const QModelIndexList selected = table->selectionModel() ? table->selectionModel()->selectedRows() : QModelIndexList();
    if (selected.isEmpty())
        return;
    const int row = selected.first().row();
    table->clearSelection();
    if (row < 0 || row >= _currentlyEditedSmartPlaylistTags->count())
        return;
    _currentlyEditedSmartPlaylistTags->removeAt(row);
    table->reloadData();
    if (row > 0)
        selectOnlyRow(table, row - 1);
    smartPlaylistPanel->smartPlaylistTagDeleteButton->setEnabled(row > 0);
    updateSmartPlaylistMatchModeSelectorVisibility();
}

void PMMainController::smartPlaylistOK(QObject*)
{
    if (!smartPlaylistPanel || !_currentlyEditedSmartPlaylist)
        return;
    PMSmartPlaylistPanel& panel = *smartPlaylistPanel;
    panel.smartPlaylistTagList->commitEditing();
    panel.hide();
    panel.setResult(QDialog::Accepted);

    const PMLibraryContainerPtr group = _currentlyEditedSmartPlaylist;
    const ArrayPtr tags = _currentlyEditedSmartPlaylistTags ? _currentlyEditedSmartPlaylistTags : Array::make();
    sortTagEntries(tags);
    group->setValue(QStringLiteral("Criteria"), Value(panel.criteria(tags)));
    if (!blendsSubgroupPreviews()) {
        switch (panel.smartPlaylistFlattenSwitch->checkState()) {
        case Qt::Unchecked:
            group->remove(QStringLiteral("Flatten"));
            group->remove(QStringLiteral("Flatten: Subdivisions Only"));
            break;
        case Qt::Checked:
            group->setValue(QStringLiteral("Flatten"), true);
            group->remove(QStringLiteral("Flatten: Subdivisions Only"));
            break;
        case Qt::PartiallyChecked:
            group->setValue(QStringLiteral("Flatten"), true);
            group->setValue(QStringLiteral("Flatten: Subdivisions Only"), true);
            break;
        }
    }
    switch (panel.smartPlaylistContinueSwitch->checkState()) {
    case Qt::Unchecked: group->setValue(QStringLiteral("Continue"), false); break;
    case Qt::Checked: group->setValue(QStringLiteral("Continue"), true); break;
    case Qt::PartiallyChecked: group->remove(QStringLiteral("Continue")); break;
    }

    std::function<void()> handler = std::move(_smartPlaylistSuccessHandler);
    _currentlyEditedSmartPlaylist = nullptr;
    _currentlyEditedSmartPlaylistTags = Array::make();
    _smartPlaylistSuccessHandler = nullptr;
    // A new group is not in the library yet: adding it updates the library, once.
    if (parentOfLibraryItem(Value(group)))
        updateLibrary();
    // Whether the group continues may decide whether an external viewer is watched.
    if (continueByMonitoringExternalViewerSwitch)
        updateContinueByMonitoringExternalViewerSwitchVisibility();
    if (shouldMonitorExternalViewer())
        startMonitoringExternalViewer(false);
    else
        pauseMonitoringExternalViewer();
    saveLibrarySoon();
    if (handler)
        handler();
}

void PMMainController::smartPlaylistCancel(QObject*)
{
    if (!smartPlaylistPanel)
        return;
    smartPlaylistPanel->smartPlaylistTagList->commitEditing();
    smartPlaylistPanel->hide();
    smartPlaylistPanel->setResult(QDialog::Rejected);
    _currentlyEditedSmartPlaylist = nullptr;
    _currentlyEditedSmartPlaylistTags = Array::make();
    _smartPlaylistSuccessHandler = nullptr;
}

void PMMainController::addSmartPlaylist(QObject*)
{
    const PMLibraryContainerPtr group =
        PMLibraryContainer::make({{QStringLiteral("Name"), localized("Untitled Smart Playlist")}, {QStringLiteral("Smart"), true}});
    editSmartGroup(group, [this, group] {
        const ArrayPtr selected = selectedLibraryItems();
        const Value after = selected && !selected->isEmpty() ? selected->at(selected->count() - 1) : Value();
        addAndSelectLibraryItem(Value(group), smartGroupStorage(), after, false, nullptr);
        editNameOfLibraryItem(Value(group));
    });
}

void PMMainController::editSmartPlaylist(QObject* sender)
{
    const Value represented = representedObjectOf(sender);
    if (!represented.isNull()) {
        if (PMLibraryContainerPtr group = PMContainerPtr(represented); group && group->isSmartGroup())
            editSmartGroup(group, nullptr);
        return;
    }
    if (auto* button = qobject_cast<QAbstractButton*>(smartGroupEditButton.data());
        sender != smartGroupEditButton.data() && button && button->window() && button->isVisible()) {
        button->click();
        return;
    }
    const PMLibraryContainerPtr selected = selectedContainer();
    if (selected && selected->isSmartGroup())
        editSmartGroup(selected, nullptr);
    else
        platform::beep();
}

void PMMainController::duplicateSmartPlaylist(QObject* sender)
{
    const Value represented = representedObjectOf(sender);
    PMLibraryContainerPtr source = represented.isNull() ? selectedContainer() : PMContainerPtr(represented);
    if (source && source->isSmartGroupSubdivision())
        source = nonVolatileAncestorOfLibraryItem(Value(source), nullptr);
    if (!source || !source->isNonSubdivisionSmartGroup()) {
        PMLog("cannot duplicate: %@", source ? source->description() : QStringLiteral("(null)"));
        platform::beep();
        return;
    }
    auto copy = PMLibraryContainer::make();
    for (auto it = source->begin(); it != source->end(); ++it)
        if (it.key() != QLatin1String("Children") && it.key() != QLatin1String("Unique ID"))
            copy->setValue(it.key(), it.value().isDictionary() ? Value(deeplyMutableCopy(it.value().dictionary())) : it.value());
    copy->invalidateChildren();
    const QString oldID = source->uniqueLibraryID();
    const QString newID = copy->uniqueLibraryID(); // a new one
    if (const DictionaryPtr settings = source->value(QStringLiteral("Subgroup Settings")).dictionary())
        copy->setValue(QStringLiteral("Subgroup Settings"), Value(PMRekeyedSubgroupSettings(settings, oldID, newID)));
    addAndSelectLibraryItem(Value(copy), smartGroupStorage(), Value(source), false, nullptr);
    editNameOfLibraryItem(Value(copy));
    saveLibrarySoon();
}

void PMMainController::changeSmartGroupRelativeDateCriteriaUnits(QObject* sender)
{
    const PMLibraryContainerPtr shown = _groupItemsParentOrSearchReferenceContainer;
    if (!shown || !shown->isSmartGroup())
        return;
    const PMLibraryContainerPtr group = shown->nonVolatileAncestorOrSelfWithAncestors(nullptr);
    changeRelativeDateCriteriaForSmartGroup(group, sender && sender == smartGroupIncreaseRelativeDateCriteriaUnitsButton.data(), nullptr);
}
