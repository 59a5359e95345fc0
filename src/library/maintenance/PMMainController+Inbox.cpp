// The inbox (the movies of the container named by "Inbox", shown in a popover, from which
// the user gives the movies the tag values of the subdivision shown in the main window) and
// the blacklist (path patterns, "~" and "*" allowed, of files that are never taken into the
// library).
#include "library/model/PMMainController.h"

#include "library/maintenance/PMMaintenanceShared.h"

#include "foundation/NSString+PMHelpManager.h"
#include "foundation/NSString+PMHelpManagerLibraryFiles.h"
#include "foundation/NSString+PMHelpManagerMatching.h"
#include "library/model/PMMovieRepresentation.h"
#include "library/model/PMSortLibraryItems.h"
#include "platform/Paths.h"
#include "foundation/PMSettingsKeys.h"
#include "platform/UserDefaults.h"

#include <QtWidgets/QApplication>
#include <QtWidgets/QDialog>
#include <QtWidgets/QDialogButtonBox>
#include <QtWidgets/QPlainTextEdit>
#include <QtWidgets/QVBoxLayout>
#include <QtWidgets/QWidget>

#include <algorithm>
#include <limits>

using platform::Array;
using platform::ArrayPtr;
using platform::Value;

using pmmaintenance::defaults;
using pmmaintenance::localized;

namespace {

const QString kBlacklist = QStringLiteral("Blacklist");

void storeSortedBlacklist(QStringList entries)
{
    std::sort(entries.begin(), entries.end(), [](const QString& a, const QString& b) { return PMCompareSortStrings(a, b) < 0; });
    ArrayPtr list = Array::make();
    for (const QString& entry : std::as_const(entries))
        list->append(entry);
    defaults().setObject(Value(list), kBlacklist);
}

QStringList blacklistEntries()
{
    QStringList entries;
    if (const ArrayPtr list = defaults().arrayForKey(kBlacklist))
        for (const Value& v : *list)
            if (v.isString() && !v.string().isEmpty())
                entries.append(v.string());
    return entries;
}

} // namespace

ArrayPtr PMMainController::inboxMovieRepresentationsSorted(bool sorted)
{
    const Value inbox = defaults().objectForKey(prefs::keys::Inbox);
    if (!inbox.isString())
        return nullptr;
    if (!inbox.string().isEmpty()) {
        if (const PMLibraryContainerPtr container = _containersByID.value(inbox.string())) {
            const ArrayPtr movies = sorted ? container->sortedMovieChildren() : container->filteredMovieChildren();
            if (movies && !movies->isEmpty())
                return movies;
        }
        if (defaults().boolForKey(prefs::keys::InboxStrict))
            return nullptr;
    }
    if (!sorted)
        return _nonProxyFilteredMovieRepresentations;
    return PMSortedLibraryItems(_nonProxyFilteredMovieRepresentations, QStringLiteral("GroupListDate"), true);
}

void PMMainController::showInbox()
{
    if (_inboxItems) {
        // A second press: the selected movies take the tag values of the subdivision shown.
        const ArrayPtr selected = _maintenanceWindow.selectedInboxItems ? _maintenanceWindow.selectedInboxItems() : nullptr;
        const ArrayPtr branch = _groupItemsParent ? _groupItemsParent->subdivisionBranches() : nullptr;
        if (branch && selected && !selected->isEmpty()) {
            for (const Value& v : *selected)
                if (PMLibraryItem* item = PMItem(v))
                    item->addTagValuesFromSubdivisionBranch(branch);
            destroyInbox();
            updateLibrary();
            return;
        }
        destroyInbox();
        return;
    }
    QWidget* window = mainWindow();
    const ArrayPtr movies = inboxMovieRepresentationsSorted(true);
    if (!window || !window->isVisible() || !movies || movies->isEmpty())
        return;
    ArrayPtr proxies = Array::make();
    for (const Value& v : *movies)
        if (PMMovieRepresentationPrototype* movie = PMMovie(v))
            if (PMMovieRepresentationPrototype* original = PMMovie(movie->nonProxySelf()))
                if (PMMovieRepresentationProxyPtr proxy = original->proxy())
                    proxies->append(Value(proxy));
    if (_maintenanceWindow.showInboxPopover && !_maintenanceWindow.showInboxPopover(proxies))
        return;
    _inboxItems = proxies;
}

qsizetype PMMainController::numberOfSelectedInboxItems()
{
    if (!_inboxItems)
        return std::numeric_limits<qsizetype>::max();
    const ArrayPtr selected = _maintenanceWindow.selectedInboxItems ? _maintenanceWindow.selectedInboxItems() : nullptr;
    return selected ? selected->count() : 0;
}

bool PMMainController::destroyInbox()
{
    if (!_inboxItems)
        return false;
    _inboxItems = nullptr;
    if (_maintenanceWindow.closeInboxPopover)
        _maintenanceWindow.closeInboxPopover();
    return true;
}

QString PMMainController::blacklistText() const
{
    return blacklistEntries().join(u'\n');
}

void PMMainController::blacklistOK(const QString& text)
{
    storeSortedBlacklist(componentsSeparatedByNewlines(text));
    updateLibrary();
    blacklistCancel();
}

void PMMainController::showBlacklist()
{
    if (!blacklistSheet) {
        auto* sheet = new QDialog(mainWindow());
        sheet->setObjectName(QStringLiteral("Blacklist"));
        sheet->setWindowTitle(QCoreApplication::translate("PMMainController", "Blacklist"));
        sheet->resize(480, 320);
        auto* field = new QPlainTextEdit(sheet);
        field->setLineWrapMode(QPlainTextEdit::NoWrap);
        field->document()->setDocumentMargin(2);
        auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, sheet);
        auto* layout = new QVBoxLayout(sheet);
        layout->addWidget(field);
        layout->addWidget(buttons);
        connect(buttons, &QDialogButtonBox::accepted, this, [this, field] { blacklistOK(field->toPlainText()); });
        connect(buttons, &QDialogButtonBox::rejected, this, [this] { blacklistCancel(); });
        blacklistSheet = sheet;
        blacklistField = field;
    }
    if (auto* field = qobject_cast<QPlainTextEdit*>(blacklistField.data()))
        field->setPlainText(blacklistText());
    updateBlacklistAttributes();
    blacklistSheet->show();
    blacklistSheet->raise();
}

void PMMainController::blacklistCancel()
{
    if (blacklistSheet && blacklistSheet->isVisible())
        blacklistSheet->hide();
}

void PMMainController::updateBlacklistAttributes()
{
    auto* field = qobject_cast<QPlainTextEdit*>(blacklistField.data());
    if (!field)
        return;
    // The palette's own text colour, so that the list reads in light and dark appearances.
    QFont font = field->font();
    font.setPointSizeF(12);
    field->setFont(font);
    QPalette palette = field->palette();
    palette.setColor(QPalette::Text, QApplication::palette().color(QPalette::Text));
    field->setPalette(palette);
}

void PMMainController::addBlacklistPaths(const QStringList& paths)
{
    if (paths.isEmpty())
        return;
    const QStringList existing = blacklistEntries();
    QStringList entries = existing;
    // Prepared once: adding thousands of paths to thousands of entries stays linear.
    const PMBlacklistMatcher matcher(existing);
    QSet<QString> stored(entries.begin(), entries.end());
    bool appended = false;
    for (const QString& path : paths) {
        // Entries are matched as the user means them, "~" expanded, so that a path is never
        // stored twice in its two spellings. A path is stored as a literal entry: the file's
        // name may hold "*", and another file may differ from it only in letter case.
        if (matcher.matches(path))
            continue;
        const QString entry = blacklistEntryForPath(path);
        if (stored.contains(entry))
            continue;
        stored.insert(entry);
        entries.append(entry);
        appended = true;
    }
    if (!appended)
        return;
    storeSortedBlacklist(entries);
    if (auto* field = qobject_cast<QPlainTextEdit*>(blacklistField.data())) {
        field->setPlainText(blacklistText());
        updateBlacklistAttributes();
    }
}
