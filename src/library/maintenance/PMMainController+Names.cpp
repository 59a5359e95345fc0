// Meta references decoded for a movie: tag values, the position, parts of the name and,
// when allowed, text read from the movie file.
#include "library/model/PMMainController.h"

#include "foundation/NSArray+PMExtensions.h"
#include "foundation/NSString+PMHelpManager.h"
#include "foundation/PMCSVParser.h"
#include "library/maintenance/PMMaintenanceShared.h"
#include "library/model/PMMovieRepresentation.h"
#include "library/model/PMSortLibraryItems.h"
#include "platform/Queues.h"
#include "platform/RegularFile.h"
#include "foundation/PMSettingsKeys.h"

#include <QtCore/QFile>
#include <QtCore/QStringDecoder>

#include <algorithm>

using namespace pmmaintenance;
using platform::DictionaryPtr;
using platform::Value;

namespace {

// Decoding is bounded: a text that keeps producing references (a file named after itself,
// tags that name each other in turn) stops after this many expansions or this length, and
// the references left yield nothing.
constexpr int kMaxMetaReferenceExpansions = 1000;
constexpr qsizetype kMaxDecodedLength = 64 * 1024;
constexpr qint64 kMaxMetaReferenceTextBytes = 1024 * 1024;

// Text that comes from the movie's name or file is never scanned for references again:
// its "<?" is shielded while decoding goes on and restored at the end.
const QString& shield()
{
    static const QString text = QStringLiteral("<\uFDD0?");
    return text;
}

QString shielded(QString text)
{
    return text.replace(QLatin1String("<?"), shield());
}

// Set while a decoding asks for movie names. With automatic names a name is itself made by
// decoding, so a name reference met inside that yields nothing instead of going round.
thread_local int tNameLookupDepth = 0;

struct NameLookup {
    NameLookup() { ++tNameLookupDepth; }
    ~NameLookup() { --tNameLookupDepth; }
    NameLookup(const NameLookup&) = delete;
    NameLookup& operator=(const NameLookup&) = delete;
};

const QString kPipe = QStringLiteral("<?meta:pipe?>");
const QString kPlus = QStringLiteral("<?meta:plus?>");

QString unprotected(QString text)
{
    return text.replace(kPipe, QStringLiteral("|")).replace(kPlus, QStringLiteral("+"));
}

bool isQuotedLiteral(const QString& part)
{
    return part.size() >= 2 && part.startsWith(QLatin1Char('"')) && part.endsWith(QLatin1Char('"'));
}

QString collapsedBlanks(const QString& text)
{
    static const platform::RegularExpressionPtr blanks = platform::RegularExpression::make(QStringLiteral(" {2,}"));
    return blanks ? blanks->stringByReplacingMatches(text, QStringLiteral(" ")) : text;
}

// The file's text when it decodes as UTF-8 (or, failing that, as UTF-16 with a byte-order
// mark); null when it does not.
QString readFileText(const QString& path)
{
    // A named pipe or a device would block this pool thread in open() or read() for good,
    // and with it the program's exit.
    if (!platform::checkRegularFile(path))
        return {};
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QByteArray bytes = file.read(kMaxMetaReferenceTextBytes);
    if (bytes.contains('\0') && !(bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF")))
        return {};
    const auto encoding = QStringConverter::encodingForData(bytes).value_or(QStringConverter::Utf8);
    QStringDecoder decoder(encoding, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError()) {
        // A read that stops inside a character is still text: retry without the tail.
        for (int cut = 1; cut <= 3 && bytes.size() > cut; ++cut) {
            QStringDecoder retry(encoding, QStringDecoder::Flag::Stateless);
            text = retry.decode(bytes.left(bytes.size() - cut));
            if (!retry.hasError())
                return text.isNull() ? QStringLiteral("") : text;
        }
        return {};
    }
    return text.isNull() ? QStringLiteral("") : text;
}

} // namespace

QString PMMainController::decodeMetaReferencesInString(const QString& string, PMMovieRepresentationPrototype* movie, const QString& defaultImport,
                                                       bool useCache, bool usePrettyButBrokenCSV, qsizetype index,
                                                       QSet<QString>* decodedLowercaseTagNames)
{
    if (!movie || string.isEmpty())
        return string;
    const QString uniqueID = movie->uniqueLibraryID();
    useCache = useCache && platform::isMainThread();
    if (useCache) {
        auto& entries = _infoDecodedMetaReferenceCache[string];
        const auto it = entries.constFind(uniqueID);
        if (it != entries.cend()) {
            if (!decodedLowercaseTagNames || it->decodedTags.isEmpty())
                return it->result;
            if (!decodedLowercaseTagNames->intersects(it->decodedTags)) {
                decodedLowercaseTagNames->unite(it->decodedTags);
                return it->result;
            }
        }
    }
    QSet<QString> localNames;
    QSet<QString>& usedNames = decodedLowercaseTagNames ? *decodedLowercaseTagNames : localNames;
    // Display names are also worked out on the sort engine's threads: there only the
    // movie's own values are read, never the panel's state or the file texts.
    const bool onMainThread = platform::isMainThread();
    const bool textAccess = onMainThread && defaults().boolForKey(prefs::keys::EnableMetaReferenceTextAccess);

    QString text = string;
    bool heldReference = false;
    int expansions = 0;
    PMRange range;
    while (std::optional<QString> content = firstMetaReferenceWithRange(text, &range)) {
        heldReference = true;
        const bool atStart = range.location == 0;
        QString yielded;
        if (++expansions <= kMaxMetaReferenceExpansions) {
            QString protectedContent = *content;
            protectedContent.replace(QLatin1String("||"), kPipe).replace(QLatin1String("++"), kPlus);
            const QStringList alternatives = protectedContent.split(QLatin1Char('|'));
            for (qsizetype a = 0; a < alternatives.size(); ++a) {
                const QString alternative = alternatives[a].trimmed();
                if (alternative.isEmpty()) {
                    if (a == 0 && !atStart)
                        break;
                    continue;
                }
                const QStringList parts = alternative.split(QLatin1Char('+'));
                QStringList values;
                QSet<QString> noted;
                bool failed = false;
                for (qsizetype p = 0; p < parts.size() && !failed; ++p) {
                    const QString part = unprotected(parts[p].trimmed());
                    if (part.isEmpty())
                        continue;
                    if (isQuotedLiteral(part)) {
                        const bool leadingSeparator = p == 1 && parts[0].trimmed().isEmpty() && atStart;
                        if (!leadingSeparator)
                            values << part.mid(1, part.size() - 2);
                        continue;
                    }
                    const QString name = part.toLower();
                    if (usedNames.contains(name)) {
                        failed = true;
                        break;
                    }
                    noted.insert(name);
                    QString value;
                    DictionaryPtr tag;
                    if (!defaultImport.isEmpty() && name == defaultImport) {
                        if (const DictionaryPtr imported = movie->importedTags())
                            tag = imported->value(name).dictionary();
                    } else {
                        if (onMainThread && _infoBatchRenameInfoTagCache) {
                            auto& cache = *_infoBatchRenameInfoTagCache;
                            auto found = cache.constFind(name);
                            if (found == cache.cend()) {
                                DictionaryPtr row;
                                if (_infoTags)
                                    for (const Value& v : *_infoTags)
                                        if (const DictionaryPtr r = v.dictionary())
                                            if (r->value(QStringLiteral("State")).toLongLong() == 1
                                                && r->value(QStringLiteral("Tag")).string().toLower() == name) {
                                                row = r;
                                                break;
                                            }
                                found = cache.insert(name, row);
                            }
                            tag = *found;
                        }
                        if (!tag)
                            if (const DictionaryPtr tags = movie->cachedTags())
                                tag = tags->value(name).dictionary();
                    }
                    if (tag) {
                        value = tag->value(QStringLiteral("Value")).string();
                        if (usePrettyButBrokenCSV && !value.isEmpty())
                            value = prettyButBrokenCSVString(value);
                    }
                    if (!value.isEmpty()) {
                        values << value;
                        continue;
                    }
                    // No tag of that name: the special names.
                    static const platform::RegularExpressionPtr commonPrefixName =
                        platform::RegularExpression::make(QStringLiteral("^name\\s*:\\s*common\\s*prefix$"));
                    const bool nameSpecial = name.startsWith(QLatin1String("name"));
                    if (nameSpecial && tNameLookupDepth > 0) {
                        failed = true;
                        break;
                    }
                    if (name == QLatin1String("index")) {
                        value = QString::number(index + 1);
                    } else if (name == QLatin1String("name")) {
                        NameLookup lookup;
                        value = shielded(movie->displayName());
                    } else if (commonPrefixName && commonPrefixName->firstMatch(name, nullptr)) {
                        if (!onMainThread) {
                            failed = true;
                            break;
                        }
                        if (!_infoBatchRenameCachedCommonPrefix) {
                            NameLookup lookup;
                            QStringList names;
                            if (_infoMovieRepresentations)
                                for (const Value& v : *_infoMovieRepresentations)
                                    if (PMMovieRepresentationPrototype* m = PMMovie(v))
                                        names << m->displayName();
                            _infoBatchRenameCachedCommonPrefix = commonPrefix(names);
                        }
                        value = shielded(*_infoBatchRenameCachedCommonPrefix);
                    } else if (nameSpecial) {
                        NameLookup lookup;
                        value = shielded(stringByJoiningMatchRangesForCaseInsensitiveRegularExpressionPattern(
                                             movie->displayName(), part, QStringLiteral("^name\\s*:\\s*"))
                                             .value_or(QString()));
                    } else if (textAccess && name.startsWith(QLatin1String("text")) && name.size() > 4) {
                        const QString path = movie->path();
                        const auto loaded = _metaReferenceFileTexts.constFind(path);
                        if (loaded != _metaReferenceFileTexts.cend()) {
                            if (!loaded->isNull())
                                value = shielded(stringByJoiningMatchRangesForCaseInsensitiveRegularExpressionPattern(
                                                     *loaded, part, QStringLiteral("^text\\s*:\\s*"))
                                                     .value_or(QString()));
                        } else if (!path.isEmpty() && !_metaReferenceFileTextsLoading.contains(path)) {
                            // Files are read in the background; the reference has a value once
                            // the text is there.
                            _metaReferenceFileTextsLoading.insert(path);
                            platform::dispatchAsyncGlobal([path] {
                                const QString fileText = readFileText(path);
                                platform::dispatchAsyncMain([path, fileText] {
                                    PMMainController& controller = mainController();
                                    controller._metaReferenceFileTextsLoading.remove(path);
                                    controller._metaReferenceFileTexts.insert(path, fileText);
                                    controller._infoDecodedMetaReferenceCache.clear();
                                    // The info panel's new names may read the text now.
                                    if (controller._infoMovieRepresentations && controller._infoBatchRenameHasUpdated)
                                        controller.updateBatchRenameStatusAfterDelay();
                                    if (controller._metaReferenceTextDidLoad)
                                        controller._metaReferenceTextDidLoad();
                                });
                            });
                        }
                    } else {
                        failed = true;
                        break;
                    }
                    if (value.isEmpty()) {
                        failed = true;
                        break;
                    }
                    values << value;
                }
                if (!failed && !values.isEmpty()) {
                    yielded = values.join(QString());
                    usedNames.unite(noted);
                    break;
                }
            }
        }
        if (text.size() - range.length + yielded.size() > kMaxDecodedLength)
            yielded.clear();
        text.replace(range.location, range.length, yielded);
    }
    if (heldReference) {
        text.replace(shield(), QStringLiteral("<?"));
        text = collapsedBlanks(text);
    }
    if (useCache)
        _infoDecodedMetaReferenceCache[string].insert(uniqueID, {text, usedNames});
    return text;
}

QStringList PMMainController::decodeMetaReferencesInStrings(const QStringList& strings, PMMovieRepresentationPrototype* movie,
                                                            const QString& defaultImport, qsizetype index)
{
    QHash<QString, QString> byLowercase;
    for (const QString& string : strings) {
        const QString decoded = decodeMetaReferencesInString(string, movie, defaultImport, true, false, index, nullptr);
        const QStringList values = decoded != string ? PMCSVFieldsFromString(decoded, PMCSVDefaultFieldSeparator()) : QStringList{string};
        for (const QString& value : values)
            byLowercase.insert(value.toLower(), value);
    }
    QStringList result = byLowercase.values();
    std::sort(result.begin(), result.end(), [](const QString& a, const QString& b) { return PMCompareNamesBySortString(a, b) < 0; });
    return result;
}
