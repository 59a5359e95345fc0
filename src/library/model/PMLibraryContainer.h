// A container of the library tree: a dictionary of fixed keys ("Unique ID", "Name",
// "Children", "Top Level", ...) with behaviour. It stores only its raw children; what
// the window shows is derived from them on first request and cached in the dictionary
// under keys of its own, dropped again by `invalidateChildrenRecursively`.
#pragma once

#include "library/model/PMLibraryItem.h"

#include "platform/Value.h"

#include <QtCore/QSet>
#include <QtCore/QString>
#include <QtCore/QStringList>

#include <initializer_list>
#include <memory>

class PMParsedQuery;

class PMLibraryContainer : public platform::Dictionary, public PMLibraryItem {
public:
    PMLibraryContainer() = default;
    PMLibraryContainer(std::initializer_list<std::pair<QString, platform::Value>> entries);
    static std::shared_ptr<PMLibraryContainer> make() { return std::make_shared<PMLibraryContainer>(); }
    static std::shared_ptr<PMLibraryContainer> make(std::initializer_list<std::pair<QString, platform::Value>> entries);
    // A container holding the entries of a plain dictionary (as read from an index).
    static std::shared_ptr<PMLibraryContainer> withEntries(const platform::Dictionary& dictionary);

    std::shared_ptr<PMLibraryContainer> sharedContainer();

    int objectKind() const override { return kPMLibraryContainerObjectKind; }

    // PMLibraryItem
    platform::Object& itemObject() override { return *this; }
    QString uniqueLibraryID() override;
    void setUniqueLibraryID(const QString& uniqueLibraryID) override;
    bool isContainer() const override { return true; }
    bool isMovieRepresentation() const override { return false; }
    QString topLevelRole() const override;
    bool isSmartGroup() const override;
    bool isSmartGroupSubdivision() const override;
    bool isNonSubdivisionSmartGroup() const override;
    bool isIntermediate() const override;
    bool isOthers() const override;
    bool emancipatesChildrenIfEnabled() const override;
    bool emancipatesChildren() const override;
    bool isExternalMediaItem() const override;
    bool isOnlineItem() const override;
    QString displayName() override;
    QString sortName() override;
    QString seriesSortName() override;
    void invalidateDisplayNameRecursively() override;
    void invalidateSortNameRecursively() override;
    QIcon icon() override;
    // The name of the picture that `icon` shows ("PMFolder", "PMSmartFolder", ...).
    QString iconName();
    platform::Date additionDate() override;
    platform::Date creationDate() override;
    platform::Date oldestDate() override;
    platform::Date newestDate() override;
    platform::Date newestDateInSortingContext() override;
    platform::Date lastPlaybackDate() override;
    long long duration() override;
    std::uint64_t movieFileSize() override;
    std::uint64_t counter() override;
    void addTagValuesFromSubdivisionBranch(const platform::ArrayPtr& branch) override;
    // The tag values a subdivision fixes ("Subdivision Branch": a dictionary keyed by the
    // lower-cased tag), as the list of branch dictionaries that records take; a stored list
    // of them is taken as it is. Null when the container has no branch.
    platform::ArrayPtr subdivisionBranches() const;

    // Roles of containers only
    QString externalMediaRole() const;
    QString onlineRole() const;
    bool isSourceStorageSection() const;
    bool isPellisSourceStorageSection() const;
    QString pseudoParentUniqueLibraryID() const;

    // The engine of the date operations: the container's own date, or the latest of the
    // movies' dates below it, cached under the key.
    enum class DateSelector { Addition, Creation, Oldest, Newest, IndividualNewest, LastPlayback };
    platform::Date dateWithAggregateKey(const QString& key, DateSelector forSelector, bool inferFromMovieChildrenRegardlessOfType);

    platform::ArrayPtr populatorObjects() const;
    void setPopulatorObject(const platform::Value& object, const platform::ArrayPtr& additionalObjects);

    // Children
    // The children; movies held as their records (members of a smart group or bucket that
    // no one has asked for yet) become proxies here, once.
    platform::ArrayPtr rawChildren();
    // The children as they are kept, without making proxies: the smart-group engine and
    // walks that look only for containers use it.
    platform::ArrayPtr storedChildren();
    // Marks the movie records among the stored children as still owing their proxies.
    void setMembersAwaitProxies(bool await) { m_membersAwaitProxies = await; }
    bool membersAwaitProxies() const { return m_membersAwaitProxies; }
    // Set where the smart-group engine left movies only: walks that look for buckets can
    // pass over the members. Forgotten once the children are handed out for change.
    void setHoldsNoContainers(bool none) { m_holdsNoContainers = none; }
    bool holdsNoContainers() const { return m_holdsNoContainers; }
    void populateRawChildrenWithMovieRepresentationProxies(const platform::ArrayPtr& items);
    platform::ArrayPtr filteredChildren();
    platform::ArrayPtr sortedChildren();
    platform::ArrayPtr sortedGroupChildren();
    platform::ArrayPtr filteredMovieChildren();
    platform::ArrayPtr sortedMovieChildren();
    platform::ArrayPtr allNonProxyChildrenFromFilteredChildren(bool fromFilteredChildren, bool includeContainers);
    platform::ArrayPtr allNonProxyMovieChildrenFromFilteredChildren(bool fromFilteredChildren);
    platform::ArrayPtr allNonProxyMovieChildren();
    QSet<QString> allMovieChildrenUniqueLibraryIDs();
    std::uint64_t numberOfChildrenToDisplay();
    bool getIndex(qsizetype* index, qsizetype* andNumberOfMovieSiblings, const platform::Value& forMovieRepresentation);
    platform::Value childWithUniqueLibraryID(const QString& uniqueLibraryID);

    // Search. The search text lives in the user defaults under `queryName` ("Filter", shared
    // by all ordinary containers); the last results are kept under "Search" until the text
    // or a search setting changes or the container's caches are dropped.
    QString queryName() const;
    QString query() const;
    void setQuery(const QString& query);
    // `query` with one "&=" token per item of the main controller's multiple selection.
    QString multipleSelectionQuery() const;
    bool hasMultipleSelectionQuery() const;
    // The sorted results for the text: from "Search" when the text and settings are
    // unchanged, else (when asked to) from a new search; null when the text does not parse
    // or nothing is cached and no search was asked for.
    platform::ArrayPtr sortedChildrenForQuery(const QString& query, bool searchIfNotCached, bool getMoreOnlineChildren);
    platform::ArrayPtr cachedSortedChildrenForCurrentQuery();
    platform::ArrayPtr sortedChildrenForCurrentQueryAfterGettingMoreOnlineItems(bool getMore);

    // Sorting
    platform::ArrayPtr sortLibraryItems(const platform::ArrayPtr& items, const PMParsedQuery* applyIndexSequenceForParsedQuery,
                                        QString* getCriterion, bool* didSortAccordingToAncestor, bool returnNewArrayIfNecessary);
    platform::ArrayPtr sortedChildren(const platform::ArrayPtr& children, PMLibraryContainer& inAccordanceWithReference);

    // Settings that survive the rebuilding of volatile containers
    std::shared_ptr<PMLibraryContainer> nonVolatileAncestorOrSelfWithAncestors(platform::ArrayPtr* ancestors);
    platform::DictionaryPtr volatilityResistantSettingsFromNonVolatileAncestor(std::shared_ptr<PMLibraryContainer>* ancestor);
    platform::Value volatilityResistantSettingForKey(const QString& key, const std::shared_ptr<PMLibraryContainer>& nonVolatileAncestor,
                                                     bool checkAncestors, platform::Value* didUseSettingFromAncestor);
    void setVolatilityResistantSetting(const platform::Value& setting, const QString& forKey, const QStringList& storePreviousValueForNewValues,
                                       const QStringList& appendWithExceptions, bool invalidateChildren);
    void setSortCriterion(const QString& criterion, bool asAuxiliaryCriterion, bool invalidateChildren);
    void setSortsDescending(bool descending, bool invalidateChildren);
    bool removeVolatileSortCriterionAndIndexSequence(bool includeIndexSequence);
    void setIndexSequence(const QStringList& uniqueLibraryIDs);
    void setDisplayMode(long long mode);
    QString primarySortCriterionFromCSVString(QString* csvString, platform::Value* accordingToAncestor, bool observeDuplicateSearchOverride);
    bool sortsDescendingAccordingToAncestor(platform::Value* ancestor);
    QStringList indexSequenceFromNonVolatileAncestor(const std::shared_ptr<PMLibraryContainer>& ancestor);
    long long displayModeByCheckingAncestors(bool checkAncestors, bool convertOldSettings);
    long long displayMode() { return displayModeByCheckingAncestors(true, false); }

    // Rearranging and invalidation
    bool rearrangeChildrenAsPreflightCheck(bool preflight, const QString& currentSortCriterion);
    bool rearrangeChildrenAsPreflightCheck(bool preflight);
    void invalidateChildrenRecursively(bool recursively);
    void invalidateChildren() { invalidateChildrenRecursively(false); }
    // Drops only the sorted children and the search results (what a change of the movies'
    // ratings or other sort keys can change); the filtered children and sums stay.
    void invalidateSortsAndSearches();
    // What a change of ratings can change: the search results, and the sorts whose
    // criteria read ratings.
    void invalidateAfterRatingChange();

    // Online containers
    bool canGetMoreOnlineChildren() const;
    // What a page request of an online search asks for: "Query", "Search YouTube" and
    // "Search Vimeo" (NO), "YouTube Start Index" and "Vimeo Page" (texts of numbers: "1"
    // for the first pages; after that the next page of each service, or "0" when it
    // announced no more than it sent).
    platform::DictionaryPtr onlinePageRequest(bool firstPages) const;
    // Fetching is not part of this program: the request goes nowhere.
    void getOnlineMatches(const platform::Value&) {}
    void storeOnlineMatches(const platform::Value&) {}

    QString description() const override;

private:
    // A smart group's members are kept as the records the update matched; a proxy costs an
    // allocation per member and per group, so one is made only when something reads them.
    bool m_membersAwaitProxies = false;
    bool m_holdsNoContainers = false;
    platform::ArrayPtr cachedArray(const QString& key) const;
    // `filteredChildren`, or the stored children where they are the same items but for
    // proxies not made yet: for readers that look only at containers or at records.
    platform::ArrayPtr filteredChildrenOrRecords();
    void setParentIDOfChildContainers(const platform::ArrayPtr& children);
    // An online container's search: a new one asks for the first pages; a received one
    // answers its matches (the library's own movie for a clip already downloaded), or
    // asks for more.
    platform::ArrayPtr startOnlineSearch(const QString& queryText);
    platform::ArrayPtr receivedOnlineMatches(platform::Dictionary& search, bool getMoreOnlineChildren);
};

using PMLibraryContainerPtr = std::shared_ptr<PMLibraryContainer>;

// The sort criterion names the containers know without the sort engine.
inline const QString kGroupListIndex = QStringLiteral("GroupListIndex");
inline const QString kGroupListName = QStringLiteral("GroupListName");
