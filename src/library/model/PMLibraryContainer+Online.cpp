// Online containers: the matches that a search of the video services received, and the
// paging through them. Fetching them is not part of this program; what was received
// stands.
#include "library/model/PMLibraryContainer.h"

#include "library/model/PMMainController.h"
#include "library/model/PMMovieRepresentation.h"
#include "foundation/PMSettingsKeys.h"
#include "platform/UserDefaults.h"

#include <QtCore/QHash>

using platform::Array;
using platform::ArrayPtr;
using platform::Dictionary;
using platform::DictionaryPtr;
using platform::Value;

namespace {

const QString kSearch = QStringLiteral("Search");

} // namespace

ArrayPtr PMLibraryContainer::startOnlineSearch(const QString& queryText)
{
    auto matches = Array::make();
    setValue(kSearch, Value(Dictionary::make({{QStringLiteral("Query"), queryText},
                                               {QStringLiteral("YouTube Matches"), Value(matches)},
                                               {QStringLiteral("Vimeo Matches"), Value(Array::make())},
                                               {QStringLiteral("Searching"), true},
                                               {QStringLiteral("Search YouTube"), false},
                                               {QStringLiteral("Search Vimeo"), false}})));
    getOnlineMatches(Value(onlinePageRequest(true)));
    return matches;
}

ArrayPtr PMLibraryContainer::receivedOnlineMatches(Dictionary& search, bool getMoreOnlineChildren)
{
    // Fetching results from the services is not part of this program: whatever
    // was received stands.
    const ArrayPtr youTube = search.value(QStringLiteral("YouTube Matches")).array();
    const ArrayPtr vimeo = search.value(QStringLiteral("Vimeo Matches")).array();
    if ((!youTube || youTube->isEmpty()) && (!vimeo || vimeo->isEmpty()))
        return Array::make();
    if (getMoreOnlineChildren) {
        search.setValue(QStringLiteral("Searching"), true);
        getOnlineMatches(Value(onlinePageRequest(false)));
        return nullptr;
    }
    // A result the library already holds shows as that movie (or not at all, when
    // downloaded clips are hidden).
    const QHash<QString, Value> inLibrary = mainController().availableMovieRepresentationsByOriginalURLString();
    const bool hideDownloaded = prefs::get(prefs::keys::HideDownloadedWebclips);
    auto joined = Array::make();
    for (const ArrayPtr& list : {youTube, vimeo}) {
        if (!list)
            continue;
        for (const Value& v : *list) {
            PMLibraryItem* item = PMItem(v);
            if (!item || item->duration() < 1)
                continue;
            const auto found = inLibrary.constFind(item->URLString());
            if (found == inLibrary.constEnd()) {
                joined->append(v);
            } else if (!hideDownloaded) {
                if (PMMovieRepresentationPrototype* movie = PMMovie(*found))
                    if (PMMovieRepresentationProxyPtr proxy = movie->original().searchResultProxy())
                        joined->append(Value(proxy));
            }
        }
    }
    return sortLibraryItems(joined, nullptr, nullptr, nullptr, false);
}

DictionaryPtr PMLibraryContainer::onlinePageRequest(bool firstPages) const
{
    const DictionaryPtr search = value(kSearch).dictionary();
    auto received = [&](const char* key) -> qsizetype {
        const ArrayPtr a = search ? search->value(QString::fromLatin1(key)).array() : nullptr;
        return a ? a->count() : 0;
    };
    auto announced = [&](const char* key) -> long long { return search ? search->value(QString::fromLatin1(key)).toLongLong() : 0; };
    QString startIndex = QStringLiteral("1");
    QString page = QStringLiteral("1");
    if (!firstPages) {
        const qsizetype firstCount = received("YouTube Matches");
        const qsizetype secondCount = received("Vimeo Matches");
        startIndex = announced("YouTube Overall Count") > firstCount ? QString::number(firstCount + 1) : QStringLiteral("0");
        page = announced("Vimeo Overall Count") > secondCount ? QString::number(secondCount / 50 + 1) : QStringLiteral("0");
    }
    return Dictionary::make({{QStringLiteral("Query"), search ? search->value(QStringLiteral("Query")) : Value(QString())},
                             {QStringLiteral("Search YouTube"), false},
                             {QStringLiteral("YouTube Start Index"), startIndex},
                             {QStringLiteral("Search Vimeo"), false},
                             {QStringLiteral("Vimeo Page"), page}});
}

bool PMLibraryContainer::canGetMoreOnlineChildren() const
{
    if (!isOnlineItem())
        return false;
    const DictionaryPtr search = value(kSearch).dictionary();
    if (!search || search->value(QStringLiteral("Searching")).toBool())
        return false;
    auto count = [&](const char* key) {
        const ArrayPtr a = search->value(QString::fromLatin1(key)).array();
        return a ? a->count() : 0;
    };
    return search->value(QStringLiteral("YouTube Overall Count")).toLongLong() > count("YouTube Matches")
        || search->value(QStringLiteral("Vimeo Overall Count")).toLongLong() > count("Vimeo Matches");
}
