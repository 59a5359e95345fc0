#include "library/model/PMMovieRepresentation.h"

#include "foundation/NSDate+PMExtensions.h"
#include "foundation/NSDictionary+PMExtensions.h"
#include "foundation/PMLog.h"
#include "library/model/PMMainController.h"
#include "platform/CallStack.h"

#include <QtCore/QDir>
#include <QtCore/QFileInfo>

using platform::Value;

PMMovieRepresentationPrototype::~PMMovieRepresentationPrototype() = default;

std::shared_ptr<PMMovieRepresentationPrototype> PMMovieRepresentationPrototype::sharedRecord()
{
    return std::static_pointer_cast<PMMovieRepresentationPrototype>(shared_from_this());
}

PMMovieRepresentationOriginal& PMMovieRepresentationPrototype::original()
{
    if (auto o = proxyOriginal())
        return *o;
    return static_cast<PMMovieRepresentationOriginal&>(*this);
}

const PMMovieRepresentationOriginal& PMMovieRepresentationPrototype::original() const
{
    if (auto o = proxyOriginal())
        return *o;
    return static_cast<const PMMovieRepresentationOriginal&>(*this);
}

Value PMMovieRepresentationPrototype::nonProxySelf()
{
    return Value(original().shared_from_this());
}

platform::DictionaryPtr PMMovieRepresentationPrototype::userSettings()
{
    PMMovieRepresentationOriginal& o = original();
    std::lock_guard lock(o.m_mutex);
    if (!o.m_userSettings)
        o.m_userSettings = platform::Dictionary::make();
    return o.m_userSettings;
}

QString PMMovieRepresentationPrototype::uniqueLibraryID()
{
    platform::DictionaryPtr settings = userSettings();
    const Value* id = settings->find(QStringLiteral("Unique ID"));
    if (id && id->isString() && !id->string().isEmpty())
        return id->string();
    const QString created = availableUniqueLibraryID();
    settings->setValue(QStringLiteral("Unique ID"), created);
    return created;
}

void PMMovieRepresentationPrototype::setUniqueLibraryID(const QString& uniqueLibraryID)
{
    setOrRemoveObject(*userSettings(), uniqueLibraryID.isNull() ? Value() : Value(uniqueLibraryID), QStringLiteral("Unique ID"));
}

bool PMMovieRepresentationPrototype::isExternalMediaItem() const
{
    return !original().m_associatedMLMediaObject.isNull();
}

QUrl PMMovieRepresentationPrototype::URL() const
{
    return original().m_URL;
}

QString PMMovieRepresentationPrototype::path()
{
    PMMovieRepresentationOriginal& o = original();
    std::lock_guard lock(o.m_mutex);
    if (!o.m_path)
        o.m_path = o.m_URL.isLocalFile() ? o.m_URL.toLocalFile() : QString();
    return *o.m_path;
}

QString PMMovieRepresentationPrototype::URLString()
{
    return URL().toString(QUrl::FullyEncoded);
}

QString PMMovieRepresentationPrototype::locationKey()
{
    const QString p = path();
    if (p.isEmpty())
        return URLString();
    const QString home = QDir::homePath();
    if (p == home)
        return QStringLiteral("~");
    if (p.startsWith(home + u'/'))
        return u'~' + p.mid(home.size());
    return p;
}

QString PMMovieRepresentationPrototype::displayName()
{
    const Value name = userSettings()->value(QStringLiteral("Display Name"));
    if (name.isString() && !name.string().isEmpty())
        return name.string();
    const QString p = path();
    if (!p.isEmpty())
        return QFileInfo(p).completeBaseName();
    return URL().fileName().isEmpty() ? URLString() : URL().fileName();
}

QString PMMovieRepresentationPrototype::sortName()
{
    return displayName();
}

platform::Date PMMovieRepresentationPrototype::additionDate()
{
    PMMovieRepresentationOriginal& o = original();
    {
        std::lock_guard lock(o.m_mutex);
        if (o.m_additionDate)
            return *o.m_additionDate;
    }
    platform::DictionaryPtr settings = userSettings();
    std::optional<platform::Date> date = dateForKey(*settings, QStringLiteral("Added Timestamp"), QStringLiteral("Date"));
    if (!date) {
        date = canonicalMainQueueDate();
        setDate(*settings, date, QStringLiteral("Added Timestamp"));
    }
    std::lock_guard lock(o.m_mutex);
    o.m_additionDate = date;
    return *date;
}

void PMMovieRepresentationPrototype::setAdditionDate(const platform::Date& date)
{
    setDate(*userSettings(), date, QStringLiteral("Added Timestamp"));
    PMMovieRepresentationOriginal& o = original();
    std::lock_guard lock(o.m_mutex);
    o.m_additionDate = date;
}

platform::Date PMMovieRepresentationPrototype::creationDate()
{
    std::optional<platform::Date> date = dateForKey(*userSettings(), QStringLiteral("Created Timestamp"));
    return date ? *date : neverDate();
}

platform::Date PMMovieRepresentationPrototype::oldestDate()
{
    const platform::Date created = creationDate();
    const platform::Date added = additionDate();
    return isNeverDate(created) ? added : std::min(created, added);
}

platform::Date PMMovieRepresentationPrototype::newestDate()
{
    return additionDate();
}

platform::Date PMMovieRepresentationPrototype::newestDateInSortingContext()
{
    return m_newestDateInSortingContext ? *m_newestDateInSortingContext : newestDate();
}

void PMMovieRepresentationPrototype::setNewestDateInSortingContext(std::optional<platform::Date> date)
{
    m_newestDateInSortingContext = date;
}

platform::Date PMMovieRepresentationPrototype::lastPlaybackDate()
{
    std::optional<platform::Date> date = dateForKey(*userSettings(), QStringLiteral("Last Playback Timestamp"), QStringLiteral("Last Playback"));
    if (!date)
        return neverDate();
    const platform::Date added = additionDate();
    return *date < added ? added : *date;
}

void PMMovieRepresentationPrototype::setLastPlaybackDate(const platform::Date& date)
{
    setDate(*userSettings(), date, QStringLiteral("Last Playback Timestamp"));
}

long long PMMovieRepresentationPrototype::duration()
{
    const Value* d = userSettings()->find(QStringLiteral("Duration"));
    return d && d->hasNumericValue() ? d->toLongLong() : -1;
}

void PMMovieRepresentationPrototype::setDuration(long long seconds)
{
    setNumberWithInteger(*userSettings(), seconds, QStringLiteral("Duration"));
}

std::uint64_t PMMovieRepresentationPrototype::movieFileSize()
{
    const QString p = path();
    if (p.isEmpty())
        return 0;
    const QFileInfo info(p);
    return info.isFile() ? std::uint64_t(info.size()) : 0;
}

std::uint64_t PMMovieRepresentationPrototype::counter()
{
    return std::uint64_t(std::max(0LL, longLongValueOfObjectForKey(userSettings(), QStringLiteral("Counter"))));
}

void PMMovieRepresentationPrototype::incrementCounter()
{
    setLastPlaybackDate(platform::Date::now());
    setNumberWithInteger(*userSettings(), (long long)(counter() + 1), QStringLiteral("Counter"));
}

double PMMovieRepresentationPrototype::rating()
{
    return doubleValueOfObjectForKey(userSettings(), QStringLiteral("Rating"));
}

void PMMovieRepresentationPrototype::setRating(double rating)
{
    if ((long long)rating == 0)
        userSettings()->remove(QStringLiteral("Rating"));
    else
        setNumberWithDouble(*userSettings(), rating, QStringLiteral("Rating"));
}

bool PMMovieRepresentationPrototype::isMissing() const
{
    return original().m_isMissing;
}

bool PMMovieRepresentationPrototype::isMissingVolume() const
{
    return original().m_isMissingVolume;
}

void PMMovieRepresentationPrototype::setMissing(bool missing, bool volumeMissing)
{
    original().m_isMissing = missing;
    original().m_isMissingVolume = volumeMissing;
}

bool PMMovieRepresentationPrototype::isMoving()
{
    return boolValueOfObjectForKey(userSettings(), QStringLiteral("Moving"));
}

bool PMMovieRepresentationPrototype::canPlay()
{
    return !isMissing() && !isMoving();
}

QString PMMovieRepresentationPrototype::seriesIDPrefix()
{
    return {};
}

QString PMMovieRepresentationPrototype::description() const
{
    auto* self = const_cast<PMMovieRepresentationPrototype*>(this);
    const char* name = isProxy() ? (isFanOutProxy()             ? "PMMovieRepresentationFanOutProxy"
                                        : isSearchResultProxy() ? "PMMovieRepresentationSearchResultProxy"
                                        : isStaticPlaylistProxy() ? "PMMovieRepresentationStaticPlaylistProxy"
                                                                  : "PMMovieRepresentationProxy")
                                 : "PMMovieRepresentationOriginal";
    return platform::format("<%@: %@ %p>", name, self->locationKey(), static_cast<const void*>(this));
}

// ---------------------------------------------------------------------------

PMMovieRepresentationOriginal::PMMovieRepresentationOriginal(const QUrl& url)
    : m_URL(url)
{
}

PMMovieRepresentationOriginalPtr PMMovieRepresentationOriginal::movieRepresentationWithURL(const QUrl& url)
{
    if (!url.isValid() || url.isEmpty())
        return nullptr;
    auto record = std::make_shared<PMMovieRepresentationOriginal>(url);
    // A new record is stamped with the date it was added.
    record->additionDate();
    return record;
}

PMMovieRepresentationOriginalPtr PMMovieRepresentationOriginal::movieRepresentationWithPath(const QString& path)
{
    if (path.isEmpty())
        return nullptr;
    return movieRepresentationWithURL(QUrl::fromLocalFile(path));
}

std::shared_ptr<PMMovieRepresentationOriginal> PMMovieRepresentationOriginal::sharedOriginal()
{
    return std::static_pointer_cast<PMMovieRepresentationOriginal>(shared_from_this());
}

PMMovieRepresentationProxyPtr PMMovieRepresentationOriginal::proxy()
{
    return std::make_shared<PMMovieRepresentationProxy>(sharedOriginal());
}

PMMovieRepresentationProxyPtr PMMovieRepresentationOriginal::fanOutProxy()
{
    return std::make_shared<PMMovieRepresentationFanOutProxy>(sharedOriginal());
}

PMMovieRepresentationProxyPtr PMMovieRepresentationOriginal::searchResultProxy()
{
    return std::make_shared<PMMovieRepresentationSearchResultProxy>(sharedOriginal());
}

PMMovieRepresentationProxyPtr PMMovieRepresentationOriginal::staticPlaylistProxy()
{
    return std::make_shared<PMMovieRepresentationStaticPlaylistProxy>(sharedOriginal());
}

PMMovieRepresentationProxy::PMMovieRepresentationProxy(PMMovieRepresentationOriginalPtr original)
    : m_original(std::move(original))
{
}

PMMovieRepresentationProxyPtr PMMovieRepresentationProxy::proxy()
{
    PMLog("requested proxy for proxy: %@ <= %@", description(), platform::callStackDescription());
    return m_original->proxy();
}
