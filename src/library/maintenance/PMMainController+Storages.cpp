// Storages and library sections: the top level of the tree, found by role and created
// in their fixed place when missing.
#include "library/model/PMMainController.h"

#include "foundation/PMSettingsKeys.h"
#include "platform/UserDefaults.h"

#include <QtCore/QCoreApplication>

using platform::Array;
using platform::ArrayPtr;
using platform::Value;

namespace {

QString localizedRole(const QString& role)
{
    return QCoreApplication::translate("PMStorage", role.toUtf8().constData());
}

const QString kLibrarySection = QStringLiteral("Library Section");

} // namespace

PMLibraryContainerPtr PMMainController::storageWithName(const QString& name, const PMLibraryContainerPtr& afterStorage, bool createIfNecessary)
{
    for (const Value& v : *_library)
        if (PMLibraryContainer* c = PMContainer(v); c && c->topLevelRole() == name)
            return PMContainerPtr(v);
    if (!createIfNecessary)
        return nullptr;
    auto storage = PMLibraryContainer::make({{QStringLiteral("Top Level"), name}, {QStringLiteral("Name"), localizedRole(name)}});
    const qsizetype after = afterStorage ? _library->indexOfIdentical(afterStorage.get()) : -1;
    if (after >= 0)
        _library->insert(after + 1, Value(storage));
    else
        _library->append(Value(storage));
    return storage;
}

PMLibraryContainerPtr PMMainController::existingSourceStorage() const
{
    for (const Value& v : *_library)
        if (PMLibraryContainer* c = PMContainer(v); c && c->topLevelRole() == QLatin1String("Library"))
            return PMContainerPtr(v);
    return nullptr;
}

PMLibraryContainerPtr PMMainController::sourceStorage()
{
    return storageWithName(QStringLiteral("Library"), nullptr, true);
}

PMLibraryContainerPtr PMMainController::temporaryStorage()
{
    // Placed after the "Online" section, which is not a top-level item: appended.
    onlineSourceStorageSection();
    return storageWithName(QStringLiteral("Temporary"), nullptr, true);
}

PMLibraryContainerPtr PMMainController::downloadStorage()
{
    return storageWithName(QStringLiteral("Downloads"), temporaryStorage(), true);
}

PMLibraryContainerPtr PMMainController::conversionStorage()
{
    return storageWithName(QStringLiteral("Conversions"), downloadStorage(), true);
}

PMLibraryContainerPtr PMMainController::smartGroupStorage()
{
    return storageWithName(QStringLiteral("Smart Groups"), conversionStorage(), true);
}

PMLibraryContainerPtr PMMainController::sourceStorageSectionWithName(const QString& name, const PMLibraryContainerPtr& afterSection)
{
    PMLibraryContainerPtr library = sourceStorage();
    const ArrayPtr children = library->rawChildren();
    bool allSections = !children->isEmpty();
    PMLibraryContainerPtr found;
    for (const Value& child : *children) {
        PMLibraryContainer* c = PMContainer(child);
        if (!c) {
            allSections = false;
            continue;
        }
        if (c->value(QStringLiteral("Library Movies")).toBool() && !c->contains(kLibrarySection))
            c->setValue(kLibrarySection, QStringLiteral("Movies"));
        if (!c->contains(kLibrarySection)) {
            allSections = false;
            continue;
        }
        if (c->value(kLibrarySection).string() == name)
            found = PMContainerPtr(child);
    }
    if (allSections && found)
        return found;

    auto section = PMLibraryContainer::make({{QStringLiteral("Name"), localizedRole(name)}, {kLibrarySection, name}});
    if (name == QLatin1String("Movies")) {
        // The older layouts: everything the Library storage held moves into the one new
        // section of the library's own movies, former sections becoming plain folders.
        const ArrayPtr moved = section->rawChildren();
        for (const Value& child : *children) {
            if (PMLibraryContainer* c = PMContainer(child))
                c->remove(kLibrarySection);
            moved->append(child);
        }
        library->setValue(QStringLiteral("Children"), Value(Array::make({Value(section)})));
        library->invalidateChildren();
        return section;
    }
    const qsizetype after = afterSection ? children->indexOfIdentical(afterSection.get()) : -1;
    if (after >= 0 && after + 1 < children->count())
        children->insert(after + 1, Value(section));
    else
        children->append(Value(section));
    library->invalidateChildren();
    return section;
}

PMLibraryContainerPtr PMMainController::sourceStorageSectionWithName(const QString& name, PMLibraryContainerPtr (PMMainController::*afterSectionForSelector)())
{
    PMLibraryContainerPtr after = afterSectionForSelector ? (this->*afterSectionForSelector)() : nullptr;
    PMLibraryContainerPtr section = sourceStorageSectionWithName(name, after);
    if (section->rawChildren()->isEmpty()) {
        // An old top-level storage of the same role hands its children over once.
        if (PMLibraryContainerPtr old = storageWithName(name, nullptr, false)) {
            const ArrayPtr oldChildren = old->rawChildren();
            if (!oldChildren->isEmpty()) {
                for (const Value& v : *oldChildren)
                    section->rawChildren()->append(v);
                oldChildren->removeAll();
                old->invalidateChildren();
                section->invalidateChildren();
            }
        }
    }
    return section;
}

PMLibraryContainerPtr PMMainController::pellisSourceStorageSection()
{
    return sourceStorageSectionWithName(QStringLiteral("Movies"), nullptr);
}

PMLibraryContainerPtr PMMainController::iTunesSourceStorageSection()
{
    return sourceStorageSectionWithName(QStringLiteral("iTunes"), &PMMainController::pellisSourceStorageSection);
}

PMLibraryContainerPtr PMMainController::iPhotoSourceStorageSection()
{
    return sourceStorageSectionWithName(QStringLiteral("iPhoto"), &PMMainController::iTunesSourceStorageSection);
}

PMLibraryContainerPtr PMMainController::apertureSourceStorageSection()
{
    return sourceStorageSectionWithName(QStringLiteral("Aperture"), &PMMainController::iPhotoSourceStorageSection);
}

PMLibraryContainerPtr PMMainController::onlineSourceStorageSection()
{
    return sourceStorageSectionWithName(QStringLiteral("Online"), &PMMainController::apertureSourceStorageSection);
}

PMLibraryContainerPtr PMMainController::downloadsContainer()
{
    const QString id = prefs::get(prefs::keys::DownloadsContainer);
    PMLibraryContainerPtr container = id.isEmpty() ? nullptr : _containersByID.value(id);
    if (!container || container->topLevelRole() == QLatin1String("Library"))
        return pellisSourceStorageSection();
    return container;
}

PMLibraryContainerPtr PMMainController::defaultSearchReferenceContainer()
{
    PMLibraryContainerPtr library = sourceStorage();
    const ArrayPtr groups = library->sortedGroupChildren();
    if (groups->count() == 1)
        return PMContainerPtr(groups->at(0));
    return library;
}
