// The operations every node of the library tree answers, container and movie record
// alike, so that lists, the grid, menus, search, sorting and the update pipeline ask an
// item for its role, identity, names, dates and measures instead of testing classes.
//
// Items live in the tree as values (a container is a dictionary, a movie record an
// object), so that one children array holds both kinds; `PMItem` finds the item
// operations of such a value.
#pragma once

#include "platform/Value.h"

#include <QtCore/QSize>
#include <QtCore/QString>
#include <QtCore/QSet>

#include <cstdint>
#include <memory>
#include <optional>

class QIcon;
class PMLibraryContainer;
class PMMovieRepresentationPrototype;
class PMMovieRepresentationOriginal;

class PMLibraryItem {
public:
    virtual ~PMLibraryItem();

    // The value (object) that is this item in the tree.
    virtual platform::Object& itemObject() = 0;
    platform::Value itemValue();

    // Identity
    virtual QString uniqueLibraryID() = 0;
    virtual void setUniqueLibraryID(const QString& uniqueLibraryID) = 0;

    // Proxies
    virtual bool isProxy() const { return false; }
    virtual bool isStaticPlaylistProxy() const { return false; }
    virtual std::shared_ptr<PMMovieRepresentationOriginal> proxyOriginal() const { return nullptr; }
    // The item itself, or a proxy's original.
    virtual platform::Value nonProxySelf();

    // Roles
    virtual bool isContainer() const = 0;
    virtual bool isMovieRepresentation() const = 0;
    virtual QString topLevelRole() const { return {}; }
    virtual bool isSmartGroup() const { return false; }
    virtual bool isSmartGroupSubdivision() const { return false; }
    virtual bool isNonSubdivisionSmartGroup() const { return false; }
    virtual bool isIntermediate() const { return false; }
    virtual bool isOthers() const { return false; }
    virtual bool emancipatesChildrenIfEnabled() const { return false; }
    virtual bool emancipatesChildren() const { return false; }
    virtual bool isExternalMediaItem() const { return false; }
    virtual bool isOnlineItem() const { return false; }

    // Names
    virtual QString displayName() = 0;
    virtual QString sortName() = 0;
    virtual QString seriesSortName() { return {}; }
    virtual void invalidateDisplayNameRecursively() {}
    virtual void invalidateSortNameRecursively() {}

    // Location
    virtual QString path() { return {}; }
    virtual QString URLString() { return {}; }
    virtual QString locationKey() { return {}; }

    // Look
    virtual QIcon icon();
    virtual QSizeF assetSizeIfCached(bool) { return {}; }
    // The Base64 difference hash of the picture at the resolution; empty when there is none.
    virtual QString imageHashWithResolution(long long) { return {}; }

    // Dates (the "never" date where a date does not exist)
    virtual platform::Date additionDate() = 0;
    virtual platform::Date creationDate() = 0;
    virtual platform::Date oldestDate() = 0;
    virtual platform::Date newestDate() = 0;
    virtual platform::Date newestDateInSortingContext() = 0;
    virtual platform::Date lastPlaybackDate() = 0;
    // The newest date of the item on its own, apart from its series (originals).
    virtual platform::Date individualNewestDate() { return newestDate(); }

    // Measures
    virtual long long duration() = 0;            // seconds; -1 when unknown
    virtual std::uint64_t movieFileSize() = 0;   // bytes
    virtual std::uint64_t counter() = 0;         // plays
    virtual double rating() { return 0.0; }

    // Search: whether the item's unique library ID (or series ID prefix) is among the
    // identifiers; whether the item matches one search term in its name, its tags and
    // metadata or its location, as the flags allow.
    virtual bool isMatchForIdentifiers(const QSet<QString>& identifiers) { return identifiers.contains(uniqueLibraryID()); }
    virtual bool isMatchForSearchString(const QString&, bool /*searchName*/, bool /*searchMetadata*/, bool /*searchLocation*/) { return false; }

    // Tags
    virtual QString cachedLowercaseValueForLowercaseTag(const QString&) { return {}; }
    virtual void addTagValuesFromSubdivisionBranch(const platform::ArrayPtr&) {}

    // Transfers: -1 when there is no transfer
    virtual double downloadFractionWithLongTermCount(std::uint64_t*) { return -1.0; }
    virtual double conversionFractionWithLongTermCount(std::uint64_t*) { return -1.0; }
};

using PMLibraryItemPtr = std::shared_ptr<PMLibraryItem>;

// The object kinds of the library tree (platform::Object::objectKind).
inline constexpr int kPMLibraryContainerObjectKind = 0x504d4c43; // containers
inline constexpr int kPMMovieRecordObjectKind = 0x504d4d52;      // movie records

// The item operations of a value of the tree; null for anything that is not an item.
PMLibraryItem* PMItem(const platform::Value& value);
// The container of a value of the tree; null for anything else.
PMLibraryContainer* PMContainer(const platform::Value& value);
std::shared_ptr<PMLibraryContainer> PMContainerPtr(const platform::Value& value);
// The movie record of a value of the tree; null for anything else.
PMMovieRepresentationPrototype* PMMovie(const platform::Value& value);
std::shared_ptr<PMMovieRepresentationPrototype> PMMoviePtr(const platform::Value& value);
// Two values are the same item (identity, not equal content).
// A new unique library ID: an upper-case UUID that no item of the library has.
QString availableUniqueLibraryID();

inline bool PMIsSameItem(const platform::Value& a, const platform::Value& b)
{
    return a.isObject() && b.isObject() && a.objectPointer() == b.objectPointer();
}
