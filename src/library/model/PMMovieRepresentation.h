// Movie records: the record of one file of the library exists once, as an original;
// wherever the same file is shown elsewhere (another container, a subdivision, a search
// result, a static playlist) a light proxy stands in for it. Everything a user can
// change about a file lives once, in the original's settings dictionary, which proxies
// share.
#pragma once

#include "library/model/PMLibraryItem.h"

#include "platform/Value.h"

#include <QtCore/QUrl>

#include <memory>
#include <mutex>

class PMMovieRepresentationOriginal;
class PMMovieRepresentationProxy;
using PMMovieRepresentationOriginalPtr = std::shared_ptr<PMMovieRepresentationOriginal>;
using PMMovieRepresentationProxyPtr = std::shared_ptr<PMMovieRepresentationProxy>;

class PMMovieRepresentationPrototype : public platform::Object, public PMLibraryItem {
public:
    ~PMMovieRepresentationPrototype() override;

    platform::Object& itemObject() override { return *this; }
    std::shared_ptr<PMMovieRepresentationPrototype> sharedRecord();

    // The original of a proxy; the record itself for an original.
    PMMovieRepresentationOriginal& original();
    const PMMovieRepresentationOriginal& original() const;
    platform::Value nonProxySelf() override;

    // Proxy factories: nothing on the prototype and on proxies (but `proxy`).
    virtual PMMovieRepresentationProxyPtr proxy() { return nullptr; }
    virtual PMMovieRepresentationProxyPtr fanOutProxy() { return nullptr; }
    virtual PMMovieRepresentationProxyPtr searchResultProxy() { return nullptr; }
    virtual PMMovieRepresentationProxyPtr staticPlaylistProxy() { return nullptr; }
    virtual bool isFanOutProxy() const { return false; }
    virtual bool isSearchResultProxy() const { return false; }

    // PMLibraryItem
    QString uniqueLibraryID() override;
    void setUniqueLibraryID(const QString& uniqueLibraryID) override;
    bool isContainer() const override { return false; }
    bool isMovieRepresentation() const override { return true; }
    bool isExternalMediaItem() const override;
    QString displayName() override;
    QString sortName() override;
    QString path() override;
    QString URLString() override;
    QString locationKey() override;
    platform::Date additionDate() override;
    void setAdditionDate(const platform::Date& date);
    platform::Date creationDate() override;
    platform::Date oldestDate() override;
    platform::Date newestDate() override;
    platform::Date newestDateInSortingContext() override;
    void setNewestDateInSortingContext(std::optional<platform::Date> date);
    platform::Date lastPlaybackDate() override;
    long long duration() override;
    std::uint64_t movieFileSize() override;
    std::uint64_t counter() override;
    double rating() override;

    // Per-file settings (shared with every proxy)
    platform::DictionaryPtr userSettings();
    QUrl URL() const;
    bool isMissing() const;
    bool isMissingVolume() const;
    void setMissing(bool missing, bool volumeMissing);
    bool isMoving();
    bool canPlay();
    void setRating(double rating);
    void incrementCounter();
    void setLastPlaybackDate(const platform::Date& date);
    void setDuration(long long seconds);
    QString seriesIDPrefix();

    QString description() const override;

protected:
    PMMovieRepresentationPrototype() = default;

private:
    std::optional<platform::Date> m_newestDateInSortingContext;
};

class PMMovieRepresentationOriginal final : public PMMovieRepresentationPrototype {
public:
    explicit PMMovieRepresentationOriginal(const QUrl& url);
    static PMMovieRepresentationOriginalPtr movieRepresentationWithURL(const QUrl& url);
    static PMMovieRepresentationOriginalPtr movieRepresentationWithPath(const QString& path);
    std::shared_ptr<PMMovieRepresentationOriginal> sharedOriginal();

    PMMovieRepresentationProxyPtr proxy() override;
    PMMovieRepresentationProxyPtr fanOutProxy() override;
    PMMovieRepresentationProxyPtr searchResultProxy() override;
    PMMovieRepresentationProxyPtr staticPlaylistProxy() override;

    // The original's own state.
    QUrl m_URL;
    platform::DictionaryPtr m_userSettings;
    bool m_isMissing = false;
    bool m_isMissingVolume = false;
    // Set by the external media library for its items.
    platform::Value m_associatedMLMediaObject;
    mutable std::mutex m_mutex;
    std::optional<platform::Date> m_additionDate;
    // The path of a file URL, worked out once; empty for other URLs.
    std::optional<QString> m_path;
};

class PMMovieRepresentationProxy : public PMMovieRepresentationPrototype {
public:
    explicit PMMovieRepresentationProxy(PMMovieRepresentationOriginalPtr original);
    bool isProxy() const override { return true; }
    std::shared_ptr<PMMovieRepresentationOriginal> proxyOriginal() const override { return m_original; }
    // A proxy of a proxy is never made: this answers a new proxy of the original.
    PMMovieRepresentationProxyPtr proxy() override;

private:
    PMMovieRepresentationOriginalPtr m_original;
};

class PMMovieRepresentationFanOutProxy final : public PMMovieRepresentationProxy {
public:
    using PMMovieRepresentationProxy::PMMovieRepresentationProxy;
    bool isFanOutProxy() const override { return true; }
};

class PMMovieRepresentationSearchResultProxy final : public PMMovieRepresentationProxy {
public:
    using PMMovieRepresentationProxy::PMMovieRepresentationProxy;
    bool isSearchResultProxy() const override { return true; }
    platform::ArrayPtr duplicateIDs;
    QString duplicateImageHash;
};

class PMMovieRepresentationStaticPlaylistProxy final : public PMMovieRepresentationProxy {
public:
    using PMMovieRepresentationProxy::PMMovieRepresentationProxy;
    bool isStaticPlaylistProxy() const override { return true; }
};
