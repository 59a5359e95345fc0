// The status lines of the library window and the player window, the header's buttons and
// the progress of long operations (the status field's bar and the progress sheet).
#include "library/model/PMMainController.h"

#include "foundation/NSString+PMHelpManager.h"
#include "library/model/PMLibraryContainer.h"
#include "library/model/PMLibraryItemArrays.h"
#include "library/model/PMMovieRepresentation.h"
#include "foundation/PMSettingsKeys.h"
#include "platform/UserDefaults.h"
#include "playback/PMPlayerWindows.h"
#include "ui/library_window/PMGroupView.h"
#include "ui/library_window/PMGroupTableView.h"
#include "ui/library_window/PMInterfaceRefresh.h"
#include "ui/library_window/PMMainWindow.h"
#include "ui/kit/NSMenu+PMExtensions.h"
#include "ui/library_window/PMToolbarButtons.h"

#include <QtCore/QFileInfo>
#include <QtCore/QLocale>
#include <QtGui/QStandardItemModel>
#include <QtWidgets/QComboBox>
#include <QtWidgets/QDialog>
#include <QtWidgets/QMenu>
#include <QtWidgets/QLabel>
#include <QtWidgets/QProgressBar>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QVBoxLayout>

using platform::Array;
using platform::ArrayPtr;
using platform::Value;

namespace {

platform::UserDefaults& defaults()
{
    return platform::UserDefaults::standard();
}

PMMainWindow* libraryWindow()
{
    return qobject_cast<PMMainWindow*>(mainController().mainWindow());
}

// Where a status goes: the header of the library window, or a window's status field.
struct StatusTarget {
    PMMainWindow* header = nullptr; // the header form
    PMLinkTextField* field = nullptr;
    PMLibraryContainerPtr container;
    bool forSelection = false;

    void empty() const
    {
        if (header)
            header->setStatus(QString(), container, forSelection, QVariant(), QString(), false);
        else if (field)
            field->setStringValue(QString(), QVariant(), QString());
    }
};

struct MovieStatus {
    QString text;
    QVariant link;
    QString toolTip;
};

// A movie record as the status line shows it (step 7 of the rules).
void describeMovie(PMMainController& c, const StatusTarget& target, const Value& movie, const ArrayPtr& list, bool canClear)
{
    PMMovieRepresentationPrototype* record = PMMovie(movie);
    if (!record) {
        target.empty();
        return;
    }
    QVariant link;
    const QString path = record->path();
    if (!path.isEmpty())
        link = path;
    else if (!record->URLString().isEmpty())
        link = record->URLString();
    QString location = path.isEmpty() ? record->readableLocationPrefixedByDisplayNameIfDifferent() : record->readableLocation();
    if (record->isMissing())
        link = QVariant();
    if (defaults().boolForKey(prefs::keys::ShowDummyPathLinks))
        location = QStringLiteral("Macintosh HD %1 Movies %1 %2").arg(rightTriangleArrowString(), QFileInfo(path).fileName());
    const QString name = record->displayName();
    if (target.header) {
        ArrayPtr items = list;
        if (!items) {
            items = Array::make();
            items->append(movie);
        }
        target.header->setStatus(name + spacedParanthesizedDurationAndMovieFileSizeDescription(*items), target.container, target.forSelection,
                                 link, location, canClear);
        return;
    }
    if (!target.field)
        return;
    if (defaults().integerForKey(prefs::keys::PathLinkDisplayMode) >= 1)
        target.field->setStringValue(name, link, location);
    else
        target.field->setStringValue(location, link, QObject::tr("Show in Folder"));
    Q_UNUSED(c);
}

// "N files"; for a search that reaches online services, out of their overall count, with
// the online matches beyond the shown files in front.
QString fileCountText(qsizetype files, const platform::DictionaryPtr& search)
{
    QString fileText = files == 1 ? QObject::tr("1 file") : QObject::tr("%1 files").arg(QLocale().toString(qlonglong(files)));
    if (search) {
        const qint64 overall = search->value(QStringLiteral("YouTube Overall Count")).toLongLong()
            + search->value(QStringLiteral("Vimeo Overall Count")).toLongLong();
        if (overall > 0) {
            qint64 matches = 0;
            for (const char* key : {"YouTube Matches", "Vimeo Matches"}) {
                const ArrayPtr m = search->value(QString::fromLatin1(key)).array();
                matches += m ? m->count() : 0;
            }
            const qint64 extra = std::max<qint64>(0, matches - files);
            const qint64 total = overall - extra;
            if (total > files)
                fileText = QObject::tr("%1 of %2 files").arg(QLocale().toString(qlonglong(files)), QLocale().toString(qlonglong(total)));
            if (extra >= 1)
                fileText = QStringLiteral("[%1+] %2").arg(extra).arg(fileText);
        }
    }
    return fileText;
}

// The status of a selection in the shown group: its movie alone, or how many of the
// files are selected and what they hold.
void describeSelection(PMMainController& c, const StatusTarget& target, ArrayPtr selection, qsizetype files, qsizetype subgroups)
{
    const bool header = target.header != nullptr;
    const qsizetype n = selection->count();
    if (n == 1 && PMMovie(selection->at(0)) && !(header && defaults().boolForKey(prefs::keys::AlwaysCancelSelectionViaMainWindowStatus))) {
        describeMovie(c, target, selection->at(0), selection, header);
        return;
    }
    if (subgroups > 0) {
        selection = c.uniqueMovieRepresentationsFromItems(selection, {}, false, false, true);
        if (!selection || selection->isEmpty()) {
            target.empty();
            return;
        }
    }
    QString text;
    PMMovieRepresentationPrototype* only = selection->count() == 1 ? PMMovie(selection->at(0)) : nullptr;
    if (only && header)
        text = only->displayName();
    else
        text = QObject::tr("%1 of %2 files selected").arg(QLocale().toString(qlonglong(n)), QLocale().toString(qlonglong(files)));
    text += spacedParanthesizedDurationAndMovieFileSizeDescription(*selection);
    if (header)
        target.header->setStatus(text, target.container, target.forSelection, QVariant(), QString(), true);
    else
        target.field->setStringValue(text, QVariant(), QString());
}

} // namespace

namespace {
int gStatusFieldsHolds = 0;
bool gStatusFieldsUpdatePending = false;
} // namespace

PMStatusFieldsHold::PMStatusFieldsHold()
{
    ++gStatusFieldsHolds;
}

PMStatusFieldsHold::~PMStatusFieldsHold()
{
    if (--gStatusFieldsHolds > 0 || !gStatusFieldsUpdatePending)
        return;
    gStatusFieldsUpdatePending = false;
    mainController().updateStatusFields();
}

bool PMStatusFieldsHold::holdsUpdate()
{
    if (gStatusFieldsHolds <= 0)
        return false;
    gStatusFieldsUpdatePending = true;
    return true;
}

void PMMainController::updateStatusFields()
{
    if (PMStatusFieldsHold::holdsUpdate())
        return;
    ++_statusFieldsUpdateCount;
    if (_mainWindow) {
        if (!defaults().boolForKey(prefs::keys::SingleWindowMode)) {
            updateStatusForWindow(_mainWindow, Value());
            if (!_currentMovieRepresentation.isNull() && _dedicatedPlayerWindow)
                updateStatusForWindow(_dedicatedPlayerWindow, _currentMovieRepresentation);
        } else {
            updateStatusForWindow(_mainWindow, _currentMovieRepresentation);
        }
    }
    Q_EMIT statusFieldsUpdated();
    // The preview panel follows the selection.
    updateQuickLook();
}

void PMMainController::updateStatusForWindow(QWidget* window, const Value& movie)
{
    PMMainWindow* main = libraryWindow();
    StatusTarget target;
    if (PMMainWindowHidesTitlebar && main && window == main)
        target.header = main;
    else if (auto* player = qobject_cast<PMPlayerWindow*>(window))
        target.field = player->statusField();
    if (!target.header && !target.field)
        return;

    // 1. The status container.
    if (!movie.isNull() || _numberOfSelectedLibraryFiles > 0) {
    } else if (_numberOfSelectedLibraryContainers == 1) {
        target.container = _groupItemsParent;
    } else {
        target.forSelection = true;
    }

    // 2. A given movie.
    if (!movie.isNull()) {
        describeMovie(*this, target, movie, nullptr, false);
        return;
    }
    // 3. The group is not shown.
    PMGroupView* grid = main ? main->groupView() : nullptr;
    const bool listShown = main && main->groupList() && main->groupList()->isVisibleTo(main);
    if (!grid || !(grid->isVisibleTo(main) || listShown) || !_groupItemsParent) {
        if (isSidebarAccessible() && _selectedLibraryItems && _selectedLibraryItems->count() == 1 && PMMovie(_selectedLibraryItems->at(0)))
            describeMovie(*this, target, _selectedLibraryItems->at(0), nullptr, false);
        else
            target.empty();
        return;
    }
    // 4. Counts.
    const PMLibraryContainerPtr& parent = _groupItemsParent;
    const PMLibraryContainerPtr reference = _groupItemsParentOrSearchReferenceContainer ? _groupItemsParentOrSearchReferenceContainer : parent;
    const bool searching = !reference->query().trimmed().isEmpty();
    const platform::DictionaryPtr search = reference->value(QStringLiteral("Search")).dictionary();
    // (Asking for the cached results last: only a search has them.)
    if (searching && (target.container || target.forSelection) && defaults().stringForKey(prefs::keys::GroupSearchScope) == QLatin1String("[All]")
        && reference->cachedSortedChildrenForCurrentQuery()) {
        target.container = nullptr;
        target.forSelection = false;
    }
    const bool listMode = main->groupViewListModeButton()->isChecked() && !main->groupViewListModeButton()->isHidden();
    // Several chosen containers show their union or intersection, not the first one's
    // content: what is shown is what counts.
    const bool combined = multipleSelectionLibraryItems() != nullptr;
    // What counts: an array of the content, or the movies of the tiles (by address: an
    // array of values for tens of thousands of tiles is made and let go on every refresh).
    ArrayPtr shown = Array::make();
    std::vector<PMMovieRepresentationPrototype*> tileMovies;
    bool countsTiles = false;
    qsizetype files = 0, subgroups = 0;
    ArrayPtr selection;
    if (listMode) {
        shown = _groupMovieItems ? _groupMovieItems : Array::make();
        files = shown->count();
        selection = selectedGroupListItems();
    } else {
        // The movies of the tiles, gathered only where they are what counts.
        const auto gatherTileMovies = [&] {
            countsTiles = true;
            tileMovies.reserve(grid->movieProxies().size());
            for (const PMGroupViewItemProxyPtr& proxy : grid->movieProxies())
                tileMovies.push_back(PMMovie(proxy->representedItem));
            files = qsizetype(tileMovies.size());
        };
        const qsizetype subgroupItems = qsizetype(grid->groupProxies().size());
        bool hidden = defaults().boolForKey(prefs::keys::HideSubgroupsInPreviewMode)
            && !defaults().boolForKey(prefs::keys::HideSubgroupsInPreviewModeFlattenedOnly);
        bool flattenedCounts = false;
        if (defaults().boolForKey(prefs::keys::HideSubgroupsInPreviewMode)
            && defaults().boolForKey(prefs::keys::HideSubgroupsInPreviewModeFlattenedOnly) && !searching) {
            if (parent->value(QStringLiteral("Flattened")).toBool())
                flattenedCounts = true;
            else
                hidden = parent->value(QStringLiteral("Flattened Non-Others")).toBool();
        }
        if (flattenedCounts) {
            gatherTileMovies();
            subgroups = 0;
        } else if (!searching && !combined && !hidden && !defaults().boolForKey(prefs::keys::OnlyCountTopLevelChildrenInPreviewMode)) {
            shown = parent->allNonProxyMovieChildren();
            if (!shown)
                shown = Array::make();
            files = shown->count();
            subgroups = subgroupItems;
        } else {
            gatherTileMovies();
            subgroups = hidden ? 0 : subgroupItems;
        }
        selection = grid->selectedItems();
    }
    const bool header = target.header != nullptr;
    // 5. A selection.
    if (selection && !selection->isEmpty()) {
        describeSelection(*this, target, selection, files, subgroups);
        return;
    }
    // 6. Nothing selected.
    QString text;
    if (search && search->value(QStringLiteral("Searching")).toBool()) {
        text = QStringLiteral("•••");
    } else if (parent || files != 1 || subgroups > 0) {
        QString fileText;
        if (files > 0 || subgroups == 0) {
            fileText = fileCountText(files, search);
            fileText += countsTiles ? spacedParanthesizedDurationAndMovieFileSizeDescription(tileMovies)
                                    : spacedParanthesizedDurationAndMovieFileSizeDescription(*shown);
        }
        QString subgroupText;
        if (subgroups > 0 && (!blendsSubgroupPreviews() || fileText.isEmpty())) {
            if (searching)
                subgroupText = subgroups == 1 ? QObject::tr("1 group") : QObject::tr("%1 groups").arg(QLocale().toString(qlonglong(subgroups)));
            else
                subgroupText = subgroups == 1 ? QObject::tr("1 subgroup") : QObject::tr("%1 subgroups").arg(QLocale().toString(qlonglong(subgroups)));
        }
        if (!fileText.isEmpty() && !subgroupText.isEmpty())
            text = defaults().integerForKey(prefs::keys::SubgroupPreviewsPosition) == 1 ? QStringLiteral("%1 · %2").arg(fileText, subgroupText)
                                                                                                : QStringLiteral("%1 · %2").arg(subgroupText, fileText);
        else
            text = fileText.isEmpty() ? subgroupText : fileText;
    } else {
        describeMovie(*this, target, countsTiles ? grid->movieProxies().front()->representedItem : shown->at(0), nullptr, false);
        return;
    }
    if (header)
        target.header->setStatus(text, target.container, target.forSelection, QVariant(), QString(), false);
    else
        target.field->setStringValue(text, QVariant(), QString());
}

void PMMainController::updateMainWindowButtons()
{
    PMMainWindow* main = libraryWindow();
    if (!main)
        return;
    const bool hideLibrary = defaults().boolForKey(prefs::keys::HideLibrary);
    main->libraryListVisibilitySwitch()->setHidden(!hideLibrary);
    const PMLibraryContainerPtr temporary = temporaryStorage();
    const bool hasTemporary = temporary && temporary->rawChildren() && !temporary->rawChildren()->isEmpty();
    main->clearTemporaryStorageButton()->setHidden(!hasTemporary);
    main->clearTemporaryStorageButton()->setEnabled(hasTemporary);
    main->layoutNow();
}

void PMMainController::setStatusProgress(double fraction)
{
    PMMainWindow* main = libraryWindow();
    if (!main)
        return;
    // The footer's bar where the footer is kept; the header's status field otherwise.
    if (QProgressBar* bar = main->statusProgressIndicator()) {
        bar->setValue(int(std::lround(std::max(0.01, std::min(1.0, fraction)) * bar->maximum())));
        bar->setVisible(fraction >= 0);
        return;
    }
    main->groupStatusField()->setProgressFraction(fraction);
}

void PMMainController::showProgressSheetWithStatus(const QString& status, bool isIndeterminate, QWidget* forWindow, bool mayCancel)
{
    if (_progressPanel && _progressPanel->isVisible())
        return;
    if (!_progressPanel) {
        auto* panel = new QDialog(forWindow ? forWindow : mainWindow());
        panel->setWindowTitle(QObject::tr("Progress"));
        panel->setWindowModality(Qt::WindowModal);
        auto* layout = new QVBoxLayout(panel);
        auto* text = new QLabel(panel);
        text->setObjectName(QStringLiteral("progressText"));
        text->setMinimumWidth(360);
        text->setWordWrap(true);
        auto* bar = new QProgressBar(panel);
        bar->setObjectName(QStringLiteral("progressBar"));
        auto* cancel = new QPushButton(QObject::tr("Cancel"), panel);
        cancel->setObjectName(QStringLiteral("progressCancelButton"));
        cancel->setCheckable(true);
        layout->addWidget(text);
        layout->addWidget(bar);
        layout->addWidget(cancel, 0, Qt::AlignRight);
        _progressPanel = panel;
    }
    auto* text = _progressPanel->findChild<QLabel*>(QStringLiteral("progressText"));
    auto* bar = _progressPanel->findChild<QProgressBar*>(QStringLiteral("progressBar"));
    auto* cancel = _progressPanel->findChild<QPushButton*>(QStringLiteral("progressCancelButton"));
    text->setText(status);
    bar->setRange(0, isIndeterminate ? 0 : 100);
    bar->setValue(0);
    cancel->setChecked(false);
    cancel->setHidden(!mayCancel);
    cancel->setEnabled(mayCancel);
    if (!forWindow || forWindow == _mainWindow)
        showMainWindowIfNotVisible();
    else if (!forWindow->isVisible())
        forWindow->show();
    _progressPanel->show();
}

void PMMainController::hideProgressSheetIfVisible()
{
    if (_progressSheetIsVisible)
        hideProgressSheet();
    else if (_progressPanel && _progressPanel->isVisible())
        _progressPanel->hide();
}

namespace {

void addDownloadsContainers(PMMainController& c, const ArrayPtr& items, QMenu* menu, const QString& prefix, bool topLevel)
{
    if (!items)
        return;
    const PMLibraryContainerPtr library = c.sourceStorage();
    const PMLibraryContainerPtr temporary = c.temporaryStorage();
    for (const Value& v : *items) {
        const PMLibraryContainerPtr container = PMContainerPtr(v);
        if (!container || container->isSmartGroup())
            continue;
        if (container == library) {
            addSeparatorIfNecessary(menu);
            QAction* header = addNonActionItemWithTitle(menu, container->displayName());
            header->setEnabled(false);
            // The library's own section is where downloads go by default: it is offered
            // itself, before its folders, so that the default can show as chosen.
            if (const PMLibraryContainerPtr section = c.pellisSourceStorageSection()) {
                QAction* item = addNonActionItemWithTitle(menu, section->displayName());
                item->setIcon(section->icon());
                item->setData(section->uniqueLibraryID());
                addDownloadsContainers(c, section->sortedGroupChildren(), menu, QString(), false);
            }
            continue;
        }
        if (container == temporary) {
            addSeparatorIfNecessary(menu);
            QAction* item = addNonActionItemWithTitle(menu, container->displayName());
            item->setData(container->uniqueLibraryID());
            addDownloadsContainers(c, container->sortedGroupChildren(), menu, QString(), false);
            continue;
        }
        if (topLevel)
            continue;
        const QString title = prefix.isEmpty() ? container->displayName() : prefix + spacedRightTriangleArrowString() + container->displayName();
        QAction* item = addNonActionItemWithTitle(menu, title);
        item->setIcon(container->icon());
        item->setData(container->uniqueLibraryID());
        addDownloadsContainers(c, container->sortedGroupChildren(), menu, title, false);
    }
}

} // namespace

void PMMainController::addPossibleDownloadsContainers(const ArrayPtr& items, QMenu* toMenu, const QString& readableBasePath)
{
    addDownloadsContainers(*this, items, toMenu, readableBasePath, items == _library);
}

void PMMainController::updateDownloadsContainerSelector()
{
    QComboBox* selector = downloadsContainerSelector;
    if (!selector)
        return;
    QMenu menu;
    addPossibleDownloadsContainers(_library, &menu, QString());
    const QSignalBlocker blocker(selector);
    selector->clear();
    const PMLibraryContainerPtr current = downloadsContainer();
    const QString currentID = current ? current->uniqueLibraryID() : QString();
    for (QAction* action : menu.actions()) {
        if (action->isSeparator()) {
            selector->insertSeparator(selector->count());
            continue;
        }
        selector->addItem(action->icon(), action->text(), action->data());
        if (!action->isEnabled())
            if (auto* model = qobject_cast<QStandardItemModel*>(selector->model()))
                if (QStandardItem* item = model->item(selector->count() - 1))
                    item->setEnabled(false);
        if (!currentID.isEmpty() && action->data().toString() == currentID)
            selector->setCurrentIndex(selector->count() - 1);
    }
}
