// Merging the records of duplicates into one, merging movie parts into a sequence bundle
// (a folder with the extension "mseq") and splitting such a bundle again. Files move only
// for sequences; records of the parts go only once the bundle's record exists, and a
// bundle's record only once its parts have records, so no file is left without one.
#include "library/model/PMMainController.h"

#include "foundation/NSArray+PMExtensions.h"
#include "foundation/NSDate+PMExtensions.h"
#include "foundation/NSString+PMHelpManagerFileNames.h"
#include "foundation/NSString+PMHelpManagerLibraryFiles.h"
#include "foundation/NSString+PMHelpManagerPaths.h"
#include "foundation/PMCSVParser.h"
#include "foundation/PMLog.h"
#include "library/maintenance/PMMaintenanceShared.h"
#include "library/maintenance/PMMergeableMovies.h"
#include "library/model/PMMovieRepresentation.h"
#include "library/model/PMSortLibraryItems.h"
#include "platform/Alert.h"
#include "platform/FileOperations.h"
#include "platform/Format.h"
#include "foundation/PMSettingsKeys.h"

#include <QtCore/QDir>
#include <QtCore/QFileInfo>

#include <algorithm>

using namespace pmmaintenance;
using platform::Array;
using platform::ArrayPtr;
using platform::DictionaryPtr;
using platform::Value;

namespace {

QString folderOf(const QString& path)
{
    return QFileInfo(path).absolutePath();
}

void showStatus(PMMainController& c, const QString& text)
{
    if (c._maintenanceWindow.progressUpdate)
        c._maintenanceWindow.progressUpdate(text, -1);
}

// Removes the item from its siblings; false when it is not found there.
bool removeFromSiblings(PMMainController& c, const Value& item)
{
    qsizetype index = -1;
    const ArrayPtr siblings = c.siblingsOfLibraryItem(item, &index);
    if (!siblings || index < 0 || index >= siblings->count() || !PMIsSameItem(siblings->at(index), item))
        return false;
    siblings->removeAt(index);
    return true;
}

} // namespace

ArrayPtr PMMainController::mergeableMovieRepresentations(const ArrayPtr& items)
{
    return PMMergeableMovieRepresentations(items, true);
}

ArrayPtr PMMergeableMovieRepresentations(const ArrayPtr& items, bool sortSequence)
{
    if (!items || items->count() < 2)
        return nullptr;
    for (const Value& v : *items) {
        PMMovieRepresentationPrototype* m = PMMovie(v);
        if (!m || m->isExternalMediaItem())
            return nullptr;
    }
    QSet<QString> metPaths;
    metPaths.reserve(items->count());
    auto revenants = Array::make();
    QHash<QString, Value> duplicatesByID;
    auto candidates = Array::make();
    bool revenantReadingPossible = true;
    for (const Value& v : *items) {
        PMMovieRepresentationPrototype* m = PMMovie(v);
        const Value record = m->nonProxySelf();
        const QString path = m->path();
        const bool present = !m->isMissing();
        const bool pathIsNew = path.isEmpty() || !metPaths.contains(path);
        if (m->duplicateIDs()) {
            if (present && pathIsNew) {
                revenants->append(v);
                if (!path.isEmpty()) {
                    metPaths.insert(path);
                    if (!isPackagePath(path))
                        candidates->append(record);
                }
            } else {
                duplicatesByID.insert(m->uniqueLibraryID(), v);
            }
        } else {
            if (!present || path.isEmpty() || !pathIsNew || isPackagePath(path))
                return nullptr;
            metPaths.insert(path);
            candidates->append(record);
            revenantReadingPossible = false;
        }
    }
    if (revenantReadingPossible && !revenants->isEmpty()) {
        auto sets = Array::make();
        bool allTook = true;
        for (const Value& r : *revenants) {
            PMMovieRepresentationPrototype* m = PMMovie(r);
            const QString ownID = m->uniqueLibraryID();
            QSet<const void*> taken;
            auto duplicates = Array::make();
            for (const Value& idValue : *m->duplicateIDs()) {
                const QString id = idValue.string();
                if (id == ownID)
                    continue;
                const auto found = duplicatesByID.find(id);
                if (found == duplicatesByID.end())
                    continue;
                duplicates->append(found.value());
                duplicatesByID.erase(found);
            }
            if (duplicates->isEmpty()) {
                allTook = false;
                break;
            }
            sets->append(Value(platform::Dictionary::make({{QStringLiteral("Revenant"), r}, {QStringLiteral("Duplicates"), Value(duplicates)}})));
        }
        if (allTook && duplicatesByID.isEmpty())
            return sets;
    }
    if (candidates->count() != items->count())
        return nullptr;
    if (sortSequence && !defaults().boolForKey(prefs::keys::Serialize))
        PMSortLibraryItemsInPlace(candidates, QStringLiteral("GroupListName"), false, nullptr);
    return candidates;
}

ArrayPtr PMMainController::mergeableMovieRepresentations()
{
    return mergeableMovieRepresentations(cachedInfoMovieRepresentationsSorted(false));
}

bool PMMainController::mergeRevenantDuplicates(const ArrayPtr& revenantSets)
{
    if (!revenantSets || revenantSets->isEmpty())
        return false;
    platform::Alert alert;
    alert.messageText = localized("Merge duplicate references?");
    alert.informativeText = localized("Are you sure you want to merge metadata for the selected duplicate sets and eliminate the redundant references?");
    alert.buttons = {localized("Merge & Eliminate"), localized("Cancel")};
    if (platform::runAlert(alert).button != 0)
        return false;
    freezeSelections();
    auto removed = Array::make();
    for (const Value& setValue : *revenantSets) {
        const DictionaryPtr set = setValue.dictionary();
        PMMovieRepresentationPrototype* revenant = set ? PMMovie(set->value(QStringLiteral("Revenant"))) : nullptr;
        const ArrayPtr duplicates = set ? set->value(QStringLiteral("Duplicates")).array() : nullptr;
        if (!revenant || !duplicates)
            continue;
        platform::Date added = revenant->additionDate();
        platform::Date lastPlayed = revenant->lastPlaybackDate();
        std::uint64_t counter = revenant->counter();
        double rating = revenant->rating();
        auto known = [](const platform::Date& d) { return d.secondsSince1970 != 0 && !isNeverDate(d); };
        for (const Value& d : *duplicates) {
            PMMovieRepresentationPrototype* duplicate = PMMovie(d);
            if (!duplicate)
                continue;
            const Value record = duplicate->nonProxySelf();
            qsizetype index = -1;
            const ArrayPtr siblings = siblingsOfLibraryItem(record, &index);
            if (!siblings || index < 0) {
                PMLog("no siblings");
                continue;
            }
            if (const DictionaryPtr tags = duplicate->cachedTags())
                for (auto it = tags->begin(); it != tags->end(); ++it)
                    if (const DictionaryPtr tag = it.value().dictionary())
                        for (const QString& value : PMCSVFieldsFromString(tag->value(QStringLiteral("Value")).string(), PMCSVDefaultFieldSeparator()))
                            revenant->addValue(value, tag->value(QStringLiteral("Tag")).string());
            const platform::Date otherAdded = duplicate->additionDate();
            if (known(otherAdded) && (!known(added) || otherAdded.secondsSince1970 < added.secondsSince1970))
                added = otherAdded;
            const platform::Date otherPlayed = duplicate->lastPlaybackDate();
            if (known(otherPlayed) && (!known(lastPlayed) || otherPlayed.secondsSince1970 > lastPlayed.secondsSince1970))
                lastPlayed = otherPlayed;
            counter += duplicate->counter();
            rating = std::max(rating, duplicate->rating());
            if (PMIsSameItem(siblings->at(index), record))
                siblings->removeAt(index);
            removed->append(record);
        }
        if (known(added))
            revenant->setAdditionDate(added);
        if (known(lastPlayed) && counter >= 1) {
            revenant->setLastPlaybackDate(lastPlayed);
            revenant->userSettings()->setValue(QStringLiteral("Counter"), Value(std::uint64_t(counter)));
        }
        revenant->setRating(rating);
    }
    chooseNoMovieIfMovieRepresentationsContainCurrent(removed);
    _cleanUpCachedImages = true;
    updateLibraryWithFrozenSelections();
    saveLibrarySoon();
    return true;
}

bool PMMainController::mergeSequence(const Value& representedObject)
{
    ArrayPtr items = representedObject.array();
    if (!items)
        items = mergeableMovieRepresentations();
    if (!items || items->isEmpty()) {
        PMLog("no mergeable items");
        platform::beep();
        return false;
    }
    if (!PMMovie(items->at(0)))
        return mergeRevenantDuplicates(items);
    // Parts are files: a record without a path would put the bundle nowhere in particular.
    for (const Value& v : *items)
        if (!PMMovie(v) || PMMovie(v)->path().isEmpty()) {
            PMLog("no mergeable items");
            platform::beep();
            return false;
        }
    const bool serialize = defaults().boolForKey(prefs::keys::Serialize);
    QStringList names;
    for (const Value& v : *items)
        names << PMMovie(v)->displayName();
    QString bundleName = commonPrefix(names).trimmed();
    if (bundleName.isEmpty())
        bundleName = PMMovie(items->at(0))->displayNameWithExtension(false);
    const bool numbered = serialize && !PMLibraryItemsAreSorted(items, QStringLiteral("GroupListName"), false);
    platform::Alert alert;
    alert.messageText = serialize ? localized("Bundle files?") : localized("Merge sequence?");
    // clang-format off
    const char* text = "Do you want the following files to be treated as one combined file?\n\n%@\n\nAll listed files will be moved inside one bundle named:\n\n%@";
    // clang-format on
    alert.informativeText = platform::format(localized(text), namesListForItems(items, !serialize), bundleName);
    alert.buttons = {serialize ? localized("Bundle") : localized("Move & Merge"), localized("Cancel")};
    if (platform::runAlert(alert).button != 0)
        return false;

    PMMovieRepresentationPrototype* first = PMMovie(items->at(0));
    const QString safeBundleName = cleanFilename(bundleName);
    const QString bundlePath = availablePath(folderOf(first->path()) + QLatin1Char('/') + safeBundleName + QStringLiteral(".mseq"));
    if (bundlePath.isEmpty()) {
        PMLog("no bundle path");
        platform::beep();
        return false;
    }
    if (!checkFolderPathAndCreateIfNecessary(bundlePath)) {
        PMLog("cannot create bundle at <%@>", bundlePath);
        platform::beep();
        return false;
    }
    qsizetype firstIndex = -1;
    const ArrayPtr firstSiblings = siblingsOfLibraryItem(first->nonProxySelf(), &firstIndex);
    if (!firstSiblings || firstIndex < 0) {
        PMLog("no merge siblings");
        platform::beep();
        deleteFolder(bundlePath, QStringList());
        return false;
    }
    chooseNoMovieIfMovieRepresentationsContainCurrent(items);
    freezeSelections();
    showProgressSheet(false);

    struct MovedPart {
        Value record;
        QString from, to;
    };
    QList<MovedPart> moved;
    long long totalDuration = 0;
    for (const Value& v : *items) {
        PMMovieRepresentationPrototype* part = PMMovie(v);
        showStatus(*this, platform::format(localized("Moving: %@..."), part->displayName()));
        qsizetype index = -1;
        if (!siblingsOfLibraryItem(part->nonProxySelf(), &index) || index < 0) {
            PMLog("freak item <%@>", part->displayName());
            continue;
        }
        const QString from = part->path();
        QString name = cleanFilename(part->displayNameWithExtension(true));
        if (numbered) {
            const QString extension = QFileInfo(from).suffix();
            const unsigned long count = (unsigned long)moved.size() + 1;
            name = extension.isEmpty() ? platform::format("%lu.%@", count, name) : platform::format("%@.%lu.%@", safeBundleName, count, extension);
        }
        const QString target = availablePath(bundlePath + QLatin1Char('/') + name);
        if (target.isEmpty()) {
            PMLog("no bundle path for item <%@>", part->displayName());
            continue;
        }
        QString finalPath, error;
        if (!platform::moveItem(from, target, platform::NameConflict::UseFreeName, &finalPath, &error)) {
            PMLog("cannot move item <%@> to path <%@>", part->displayName(), target);
            continue;
        }
        moved.append({part->nonProxySelf(), from, finalPath.isEmpty() ? target : finalPath});
        totalDuration += std::max(0LL, part->durationIfCached(true));
    }
    bool merged = false;
    if (!moved.isEmpty()) {
        const PMMovieRepresentationOriginalPtr bundle = PMMovieRepresentationOriginal::movieRepresentationWithPath(bundlePath);
        if (!bundle) {
            // Without a record for the bundle its parts go back where they were, with theirs.
            PMLog("cannot create merged item with path <%@>", bundlePath);
            for (const MovedPart& part : std::as_const(moved))
                if (!platform::moveItem(part.to, part.from, platform::NameConflict::Fail))
                    PMLog("cannot move path <%@> back to path <%@>", part.to, part.from);
            deleteFolder(bundlePath, QStringList());
        } else {
            showStatus(*this, platform::format(localized("Moving: %@..."), bundleName));
            std::optional<platform::Date> added;
            double rating = 0;
            for (const Value& v : *items) {
                PMMovieRepresentationPrototype* part = PMMovie(v);
                if (!added && PMMovie(items->at(0)) == part && part->additionDate().secondsSince1970 != 0)
                    added = part->additionDate();
                bundle->addTagValuesFromMovieRepresentation(*part, false);
                rating = std::max(rating, part->rating());
            }
            for (const MovedPart& part : std::as_const(moved))
                removeFromSiblings(*this, part.record);
            const Value bundleValue(std::static_pointer_cast<platform::Object>(bundle));
            qsizetype at = std::min(firstIndex, firstSiblings->count());
            firstSiblings->insert(at, bundleValue);
            if (added)
                bundle->setAdditionDate(*added);
            if (rating > 0)
                bundle->setRating(rating);
            if (totalDuration > 0)
                bundle->setDuration(totalDuration);
            _cleanUpCachedImages = true;
            merged = true;
        }
    } else {
        deleteFolder(bundlePath, QStringList());
    }
    updateLibraryWithFrozenSelections();
    // Files moved: the index says so at once, so that a crash cannot leave it naming the
    // parts where they no longer are.
    saveLibrary();
    hideProgressSheetIfVisible();
    return merged;
}

Value PMMainController::splittableMovieRepresentation(const ArrayPtr& items)
{
    if (!items || items->count() != 1)
        return {};
    PMMovieRepresentationPrototype* m = PMMovie(items->at(0));
    if (!m || m->isMissing() || !isPackagePath(m->path()))
        return {};
    return m->nonProxySelf();
}

Value PMMainController::splittableMovieRepresentation()
{
    return splittableMovieRepresentation(cachedInfoMovieRepresentationsSorted(false));
}

bool PMMainController::splitSequence(const Value& representedObject)
{
    Value recordValue = PMMovie(representedObject) ? PMMovie(representedObject)->nonProxySelf() : splittableMovieRepresentation();
    PMMovieRepresentationPrototype* bundle = PMMovie(recordValue);
    if (!bundle || !isPackagePath(bundle->path())) {
        PMLog("no splittable item");
        platform::beep();
        return false;
    }
    const QString bundlePath = bundle->path();
    QStringList parts;
    QDir folder(bundlePath);
    // A stable order: the names as the sort engine compares them.
    QStringList entries = folder.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    std::stable_sort(entries.begin(), entries.end(), [](const QString& a, const QString& b) { return PMCompareNamesBySortString(a, b) < 0; });
    for (const QString& entry : std::as_const(entries)) {
        if (isTabooFilenameOrSequence(entry))
            continue;
        const QString path = bundlePath + QLatin1Char('/') + entry;
        if (isFolderPath(path) && !isPackagePath(path))
            continue; // a plain subfolder stays
        parts << path;
    }
    if (parts.isEmpty()) {
        PMLog("no sequence movies");
        platform::beep();
        return false;
    }
    const bool serialize = defaults().boolForKey(prefs::keys::Serialize);
    platform::Alert alert;
    alert.messageText = serialize ? localized("Unbundle files?") : localized("Split sequence?");
    alert.informativeText =
        platform::format(localized("Do you want these files to be extracted from their enclosing bundle?\n\n%@"), namesListForItems(nullptr, parts, true, false, {}));
    alert.buttons = {serialize ? localized("Unbundle") : localized("Split"), localized("Cancel")};
    if (platform::runAlert(alert).button != 0)
        return false;
    qsizetype bundleIndex = -1;
    const ArrayPtr siblings = siblingsOfLibraryItem(recordValue, &bundleIndex);
    if (!siblings || bundleIndex < 0) {
        PMLog("no split siblings");
        platform::beep();
        return false;
    }
    chooseNoMovieIfMovieRepresentationsContainCurrent(Array::make({recordValue}));
    freezeSelections();
    showProgressSheet(false);
    const platform::Date added = bundle->additionDate();
    const DictionaryPtr tags = bundle->cachedTags();
    const double rating = bundle->rating();
    const QString outside = folderOf(bundlePath);
    QList<PMMovieRepresentationOriginalPtr> made;
    for (const QString& part : std::as_const(parts)) {
        const QString fileName = QFileInfo(part).fileName();
        showStatus(*this, platform::format(localized("Extracting: %@..."), fileName));
        const QString target = availablePath(outside + QLatin1Char('/') + fileName);
        QString finalPath;
        if (target.isEmpty() || !platform::moveItem(part, target, platform::NameConflict::UseFreeName, &finalPath)) {
            PMLog("cannot move path <%@> to path <%@>", part, target);
            continue;
        }
        if (finalPath.isEmpty())
            finalPath = target;
        const PMMovieRepresentationOriginalPtr record = PMMovieRepresentationOriginal::movieRepresentationWithPath(finalPath);
        if (!record) {
            // A part that gets no record of its own goes back into the bundle.
            PMLog("cannot create item with path <%@>", finalPath);
            if (!platform::moveItem(finalPath, part, platform::NameConflict::Fail))
                PMLog("cannot move path <%@> back to path <%@>", finalPath, part);
            continue;
        }
        if (added.secondsSince1970 != 0)
            record->setAdditionDate(added);
        if (tags && !tags->isEmpty())
            for (auto it = tags->begin(); it != tags->end(); ++it)
                if (const DictionaryPtr tag = it.value().dictionary())
                    for (const QString& value : PMCSVFieldsFromString(tag->value(QStringLiteral("Value")).string(), PMCSVDefaultFieldSeparator()))
                        record->addValue(value, tag->value(QStringLiteral("Tag")).string());
        if (rating > 0)
            record->setRating(rating);
        made << record;
    }
    // The bundle's record goes only when the bundle is gone; one that still holds parts
    // (that could not move, or a plain subfolder) keeps its record, the new ones after it.
    const bool bundleGone = deleteFolder(bundlePath, QStringList()) || !QFileInfo::exists(bundlePath);
    qsizetype at = bundleIndex;
    if (bundleGone) {
        if (PMIsSameItem(siblings->at(bundleIndex), recordValue))
            siblings->removeAt(bundleIndex);
    } else {
        ++at;
    }
    for (const PMMovieRepresentationOriginalPtr& record : std::as_const(made))
        siblings->insert(std::min(at++, siblings->count()), Value(std::static_pointer_cast<platform::Object>(record)));
    _cleanUpCachedImages = true;
    updateLibraryWithFrozenSelections();
    // Files moved: saved at once, as after a merge.
    saveLibrary();
    hideProgressSheetIfVisible();
    return !made.isEmpty();
}
