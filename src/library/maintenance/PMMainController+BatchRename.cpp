// The batch rename of the info panel: new names for every movie it shows, from find and
// replace, a prefix and suffix, a letter case, a composed name or numbering (with groups
// and sequences of series), the names that clash, the status line and the renaming.
#include "library/model/PMMainController.h"

#include "foundation/NSDate+PMExtensions.h"
#include "foundation/NSString+PMHelpManager.h"
#include "foundation/NSString+PMHelpManagerNumbers.h"
#include "foundation/PMLog.h"
#include "library/maintenance/PMExtendedRegularExpression.h"
#include "library/maintenance/PMMaintenanceShared.h"
#include "library/model/PMCachedSettings.h"
#include "library/model/PMMovieRepresentation.h"
#include "library/model/PMSortLibraryItems.h"
#include "platform/Alert.h"
#include "platform/CallStack.h"
#include "platform/DelayedPerform.h"
#include "platform/Format.h"
#include "foundation/PMSettingsKeys.h"

#include <algorithm>

using namespace pmmaintenance;
using platform::ArrayPtr;
using platform::DictionaryPtr;
using platform::Value;

namespace {

QString precomposed(const QString& text)
{
    return text.normalized(QString::NormalizationForm_C);
}

QString nameWithoutExtension(PMMovieRepresentationPrototype& movie)
{
    return precomposed(movie.displayNameWithExtension(false));
}

// Every word with its first letter in upper case and the rest in lower case.
QString capitalized(const QString& text)
{
    QString result = text.toLower();
    bool atWordStart = true;
    for (qsizetype i = 0; i < result.size(); ++i) {
        const QChar c = result.at(i);
        if (c.isLetterOrNumber()) {
            if (atWordStart)
                result[i] = c.toUpper();
            atWordStart = false;
        } else {
            atWordStart = c.isSpace() || c.isPunct();
        }
    }
    return result;
}

// The leading integer of a text, as the platform's integer reading gives it (blanks
// skipped, an optional sign, then digits; 0 for none).
long long leadingInteger(const QString& text)
{
    qsizetype i = 0;
    while (i < text.size() && text.at(i).isSpace())
        ++i;
    bool negative = false;
    if (i < text.size() && (text.at(i) == QLatin1Char('-') || text.at(i) == QLatin1Char('+')))
        negative = text.at(i++) == QLatin1Char('-');
    long long value = 0;
    for (; i < text.size() && text.at(i).isDigit() && value < (1LL << 53); ++i)
        value = value * 10 + text.at(i).digitValue();
    return negative ? -value : value;
}

} // namespace

QString PMMainController::decodeMetaReferencesInBatchRenamingPrefix(const QString& pattern, PMMovieRepresentationPrototype* movie,
                                                                   bool usePrettyButBrokenCSV, bool preferSeriesPrefix,
                                                                   bool suppressSingleItemSequences, qsizetype index,
                                                                   QSet<QString>* decodedLowercaseTagNames)
{
    if (!preferSeriesPrefix || !movie)
        return decodeMetaReferencesInString(pattern, movie, QString(), true, usePrettyButBrokenCSV, index, decodedLowercaseTagNames);
    const QString key = platform::format("Decoded Pattern: <%@>", pattern);
    const QString tagsKey = key + QStringLiteral(": Decoded Tags");
    auto groupRecordOf = [&](PMMovieRepresentationPrototype* m) -> DictionaryPtr {
        const QString prefix = m->seriesIDPrefix();
        if (!prefix.isEmpty())
            if (DictionaryPtr series = _nonProxyRawMovieRepresentationSeriesByIDPrefix.value(prefix))
                return series;
        return _infoBatchRenamePseudoSeriesByID.value(m->uniqueLibraryID());
    };
    DictionaryPtr record = groupRecordOf(movie);
    if (!record || !record->contains(key) || !_infoBatchRenamePseudoSeriesValid) {
        // Every series and every movie outside one at once, so that groups sharing a prefix
        // are numbered together.
        _infoBatchRenamePseudoSeriesByID.clear();
        QList<DictionaryPtr> records;
        auto decodeFor = [&](const DictionaryPtr& r, PMMovieRepresentationPrototype* dummy) {
            QSet<QString> used;
            const QString decoded = dummy ? decodeMetaReferencesInString(pattern, dummy, QString(), false, usePrettyButBrokenCSV, 0, &used) : QString();
            r->setValue(key, decoded);
            QStringList usedList(used.begin(), used.end());
            r->setValue(tagsKey, Value(platform::Array::make()));
            for (const QString& u : usedList)
                r->value(tagsKey).array()->append(Value(u));
            records << r;
        };
        for (const DictionaryPtr& series : std::as_const(_nonProxyRawMovieRepresentationSeriesByIDPrefix)) {
            if (!series)
                continue;
            displayNameForSeries(series);
            decodeFor(series, PMMovie(series->value(QStringLiteral("Dummy"))));
        }
        if (_nonProxyFilteredMovieRepresentations)
            for (const Value& v : *_nonProxyFilteredMovieRepresentations) {
                PMMovieRepresentationPrototype* m = PMMovie(v);
                if (!m || !m->seriesIDPrefix().isEmpty())
                    continue;
                auto pseudo = platform::Dictionary::make({{QStringLiteral("Items"), Value(platform::Array::make({v}))}});
                if (PMCachedSettings::determineFuzzyOldestDate) {
                    pseudo->setValue(QStringLiteral("Date"), Value(m->oldestDate()));
                    pseudo->setValue(QStringLiteral("Newest"), Value(m->newestDate()));
                }
                decodeFor(pseudo, m);
                _infoBatchRenamePseudoSeriesByID.insert(m->uniqueLibraryID(), pseudo);
            }
        _infoBatchRenamePseudoSeriesValid = true;
        QHash<QString, QList<DictionaryPtr>> byPrefix;
        for (const DictionaryPtr& r : std::as_const(records))
            if (const QString p = r->value(key).string(); !p.isEmpty())
                byPrefix[p] << r;
        QHash<const void*, qsizetype> infoIndex;
        if (_infoMovieRepresentations)
            for (qsizetype i = 0; i < _infoMovieRepresentations->count(); ++i)
                if (PMMovieRepresentationPrototype* m = PMMovie(_infoMovieRepresentations->at(i)))
                    infoIndex.insert(&m->original(), i);
        const QString separator = defaults().objectForKey(prefs::keys::BatchRenameSequencesPreferSeriesPrefixIndexSeparator).isString()
                                      ? defaults().stringForKey(prefs::keys::BatchRenameSequencesPreferSeriesPrefixIndexSeparator)
                                      : QStringLiteral(".");
        for (auto it = byPrefix.begin(); it != byPrefix.end(); ++it) {
            QList<DictionaryPtr>& group = it.value();
            if (group.size() < 2)
                continue;
            auto firstOf = [](const DictionaryPtr& r) {
                const ArrayPtr items = r->value(QStringLiteral("Items")).array();
                return items && !items->isEmpty() ? PMMovie(items->at(0)) : nullptr;
            };
            bool allInPanel = true;
            for (const DictionaryPtr& r : group) {
                PMMovieRepresentationPrototype* first = firstOf(r);
                const auto found = first ? infoIndex.constFind(&first->original()) : infoIndex.cend();
                if (found == infoIndex.cend())
                    allInPanel = false;
                else
                    r->setValue(QStringLiteral("Info Index"), Value(std::int64_t(*found)));
            }
            std::stable_sort(group.begin(), group.end(), [&](const DictionaryPtr& a, const DictionaryPtr& b) {
                PMMovieRepresentationPrototype* fa = firstOf(a);
                PMMovieRepresentationPrototype* fb = firstOf(b);
                const double da = PMCachedSettings::determineFuzzyOldestDate ? a->value(QStringLiteral("Date")).date().secondsSince1970
                                                                             : (fa ? fa->additionDate().secondsSince1970 : 0);
                const double db = PMCachedSettings::determineFuzzyOldestDate ? b->value(QStringLiteral("Date")).date().secondsSince1970
                                                                             : (fb ? fb->additionDate().secondsSince1970 : 0);
                if (da != db)
                    return da < db;
                if (allInPanel) {
                    const auto ia = a->value(QStringLiteral("Info Index")).toLongLong(), ib = b->value(QStringLiteral("Info Index")).toLongLong();
                    if (ia != ib)
                        return ia < ib;
                }
                return fa && fb && PMCompareNamesBySortString(fa->displayName(), fb->displayName()) < 0;
            });
            for (qsizetype k = 0; k < group.size(); ++k) {
                const ArrayPtr items = group[k]->value(QStringLiteral("Items")).array();
                const bool single = suppressSingleItemSequences && (!items || items->count() < 2);
                group[k]->setValue(key, it.key() + QString::number(k + 1) + (single ? QString() : separator));
            }
        }
        record = groupRecordOf(movie);
    }
    if (!record) {
        PMLog("found neither series nor pseudo-series for file: %@", movie->description());
    } else if (const QString decoded = record->value(key).string(); !decoded.isEmpty()) {
        if (decodedLowercaseTagNames)
            if (const ArrayPtr used = record->value(tagsKey).array())
                for (const Value& u : *used)
                    decodedLowercaseTagNames->insert(u.string());
        return decoded;
    }
    return decodeMetaReferencesInString(pattern, movie, QString(), true, usePrettyButBrokenCSV, index, decodedLowercaseTagNames);
}

qsizetype PMMainController::updateBatchRenameNamesAndPerformRenaming(bool performRenaming, ArrayPtr getConflictingItems)
{
    _infoBatchRenameNewNames.clear();
    _infoBatchRenameInfoTagCache.emplace();
    const BatchRenameFields& f = _infoBatchRenameFields;
    const int mode = f.mode;
    const bool separately = defaults().boolForKey(prefs::keys::DecodeBatchRenamePrefixAndSuffixSeparately);
    const bool pretty = defaults().boolForKey(prefs::keys::DumbDownDecodedBatchRenameCSV);
    const bool preferSeries = defaults().boolForKey(prefs::keys::BatchRenameSequencesPreferSeriesPrefix)
                              && !_nonProxyRawMovieRepresentationSeriesByIDPrefix.isEmpty();
    const bool suppressSingle = defaults().boolForKey(prefs::keys::BatchRenameSuppressSingleItemSequences);
    const bool resumeWanted = defaults().boolForKey(prefs::keys::BatchRenameResumePrefixGroupSequences);

    QList<PMMovieRepresentationPrototype*> movies;
    if (_infoMovieRepresentations)
        for (const Value& v : *_infoMovieRepresentations)
            movies << PMMovie(v);
    const qsizetype n = movies.size();

    // Mode set-up.
    QString findText;
    platform::RegularExpressionPtr findExpression;
    long long start = 0, increment = 1;
    int digits = 0;
    bool useGroups = false, identifierIsPrefix = false, resume = false;
    QHash<QString, qsizetype> groupSizes;
    QHash<QString, long long> groupCounters;
    QList<QString> numberingPrefixes;
    if (mode == 1) {
        findText = precomposed(f.findText);
        _infoBatchRenameFindFieldStatus = 0;
        if (f.regularExpression) {
            findExpression = platform::RegularExpression::make(findText, f.ignoreCase ? platform::RegularExpression::CaseInsensitive : 0);
            if (findExpression)
                _infoBatchRenameFindFieldStatus = findText.isEmpty() ? 0 : 1;
            else if (!findText.trimmed().isEmpty())
                _infoBatchRenameFindFieldStatus = -1;
        }
    } else if (mode < 1 || mode > 6) {
        start = f.startIndex;
        increment = f.incrementIndex + 1;
        digits = f.digitsIndex;
        QString identifier = f.groupIdentifier;
        if (!identifier.isEmpty())
            useGroups = true;
        else if (f.groupIdentifierShowsPlaceholder && !f.numberingPrefix.isEmpty()) {
            useGroups = true;
            identifierIsPrefix = true;
        }
        resume = identifierIsPrefix && digits > 0 && _nonProxyFilteredMovieRepresentations
                 && n < _nonProxyFilteredMovieRepresentations->count() && resumeWanted;
        // The numbering prefix of every panel movie, worked out once.
        for (qsizetype i = 0; i < n; ++i) {
            QSet<QString> used;
            numberingPrefixes << (movies[i] ? decodeMetaReferencesInBatchRenamingPrefix(f.numberingPrefix, movies[i], pretty, preferSeries,
                                                                                         suppressSingle, i, &used)
                                            : QString());
        }
        if (useGroups && (digits == 0 || suppressSingle))
            for (qsizetype i = 0; i < n; ++i) {
                const QString groupKey = identifierIsPrefix ? numberingPrefixes[i]
                                                            : decodeMetaReferencesInString(identifier, movies[i], QString(), true, pretty, i, nullptr);
                ++groupSizes[groupKey];
            }
        if (!useGroups && digits == 0)
            digits = int(QString::number(start + (n - 1) * increment).size());
    }

    QHash<QString, QList<qsizetype>> byLowercaseName;
    if (getConflictingItems)
        for (qsizetype i = 0; i < n; ++i)
            if (movies[i])
                byLowercaseName[nameWithoutExtension(*movies[i]).toLower()] << i;

    qsizetype changes = 0;
    for (qsizetype i = 0; i < n; ++i) {
        PMMovieRepresentationPrototype* movie = movies[i];
        if (!movie) {
            _infoBatchRenameNewNames << QString();
            continue;
        }
        const QString current = nameWithoutExtension(*movie);
        QString newName;
        switch (mode) {
        case 1:
            if (findText.isEmpty()) {
                newName = current;
            } else {
                const QString replacement = decodeMetaReferencesInString(f.replacementText, movie, QString(), true, pretty, i, nullptr);
                if (!f.regularExpression) {
                    newName = current;
                    newName.replace(findText, replacement, f.ignoreCase ? Qt::CaseInsensitive : Qt::CaseSensitive);
                } else if (findExpression) {
                    QString failure;
                    newName = stringByReplacingMatchesInString(*findExpression, current, replacement, &failure);
                    if (!failure.isEmpty()) {
                        PMLog("ignoring regular expression exception: %@ (reason: %@) <= %@", QStringLiteral("RegularExpressionMatchException"),
                              failure, platform::callStackDescription());
                        newName = current;
                        // A pattern that ran out of time on one name would on the next ones too
                        // (each costs the whole time limit): it counts as failed for them all.
                        findExpression.reset();
                        _infoBatchRenameFindFieldStatus = -1;
                    }
                } else {
                    newName = current;
                }
            }
            break;
        case 2: {
            QSet<QString> used, suffixUsed;
            const QString prefix = decodeMetaReferencesInString(f.prefix, movie, QString(), true, pretty, i, &used);
            const QString suffix = decodeMetaReferencesInString(f.suffix, movie, QString(), true, pretty, i, separately ? &suffixUsed : &used);
            newName = prefix + current + suffix;
            break;
        }
        case 3:
            newName = current.toUpper();
            break;
        case 4:
            newName = current.toLower();
            break;
        case 5:
            newName = capitalized(current);
            break;
        case 6:
            newName = decodeMetaReferencesInString(f.composeText, movie, QString(), true, pretty, i, nullptr);
            break;
        default: {
            QSet<QString> used, suffixUsed;
            const QString g = numberingPrefixes.value(i);
            // The prefix's used names count for the suffix unless decoded separately.
            if (!separately)
                decodeMetaReferencesInBatchRenamingPrefix(f.numberingPrefix, movie, pretty, preferSeries, suppressSingle, i, &used);
            const QString s = decodeMetaReferencesInString(f.numberingSuffix, movie, QString(), true, pretty, i, separately ? &suffixUsed : &used);
            long long c = i;
            qsizetype groupSize = n;
            int width = digits;
            if (useGroups) {
                const QString groupKey = identifierIsPrefix ? g : decodeMetaReferencesInString(f.groupIdentifier, movie, QString(), true, pretty, i, nullptr);
                auto counter = groupCounters.find(groupKey);
                if (counter == groupCounters.end()) {
                    long long first = 0;
                    if (resume) {
                        const QString trimmedPrefix = g.trimmed();
                        long long highest = -1;
                        QSet<const void*> inPanel;
                        for (PMMovieRepresentationPrototype* m : std::as_const(movies))
                            if (m)
                                inPanel.insert(&m->original());
                        for (const Value& v : *_nonProxyFilteredMovieRepresentations) {
                            PMMovieRepresentationPrototype* other = PMMovie(v);
                            if (!other || inPanel.contains(&other->original()))
                                continue;
                            const QString otherName = nameWithoutExtension(*other);
                            if (!otherName.startsWith(trimmedPrefix))
                                continue;
                            if (decodeMetaReferencesInBatchRenamingPrefix(f.numberingPrefix, other, pretty, preferSeries, suppressSingle, 0, nullptr) != g)
                                continue;
                            highest = std::max(highest, leadingInteger(otherName.mid(trimmedPrefix.size())));
                        }
                        if (highest >= 0)
                            first = (highest < start ? highest : highest - start) / increment + 1;
                    }
                    counter = groupCounters.insert(groupKey, first);
                }
                c = counter.value()++;
                groupSize = groupSizes.value(groupKey, 1);
                if (width == 0)
                    width = int(QString::number(start + (groupSize - 1) * increment).size());
            }
            if (c == 0 && suppressSingle && groupSize == 1)
                newName = g.trimmed() + s;
            else
                newName = g + QStringLiteral("%1").arg(start + c * increment, width, 10, QLatin1Char('0')) + s;
            break;
        }
        }
        newName = newName.trimmed();
        if (!newName.isEmpty() && precomposed(newName) != current) {
            ++changes;
            if (getConflictingItems) {
                const QList<qsizetype> holders = byLowercaseName.value(precomposed(newName).toLower());
                for (qsizetype holder : holders)
                    if (holder != i) {
                        getConflictingItems->append(_infoMovieRepresentations->at(i));
                        break;
                    }
            }
            if (performRenaming)
                movie->setDisplayName(newName);
        }
        _infoBatchRenameNewNames << newName;
    }
    _infoBatchRenameInfoTagCache.reset();
    _infoBatchRenameCachedCommonPrefix.reset();
    return changes;
}

void PMMainController::updateBatchRenameStatus()
{
    platform::cancelPreviousPerformRequests(this, QStringLiteral("updateBatchRenameStatus"), Value());
    _infoBatchRenameStatusIsScheduled = false;
    if (PMCachedSettings::determineNamesAutomatically) {
        _infoBatchRenameStatus = localized("Automatic");
    } else if (!_infoBatchRenameFields.enabled) {
        _infoBatchRenameStatus = localized("Batch renaming not checked");
    } else {
        const qsizetype changes = updateBatchRenameNamesAndPerformRenaming(false, nullptr);
        const qsizetype n = _infoMovieRepresentations ? _infoMovieRepresentations->count() : 0;
        _infoBatchRenameStatus = changes > 0 ? platform::format(localized("%@ of %@ names affected"), stringWithInteger(changes), stringWithInteger(n))
                                             : localized("No effect");
    }
    _infoBatchRenameUpdateDate = platform::Date::now();
    _infoBatchRenameHasUpdated = true;
}

void PMMainController::updateBatchRenameStatusAfterDelay()
{
    platform::cancelPreviousPerformRequests(this, QStringLiteral("updateBatchRenameStatus"), Value());
    _infoBatchRenameStatusIsScheduled = false;
    if (!_infoBatchRenameHasUpdated || platform::Date::now().secondsSince1970 - _infoBatchRenameUpdateDate.secondsSince1970 > 1.0) {
        updateBatchRenameStatus();
        return;
    }
    _infoBatchRenameStatusIsScheduled = true;
    platform::performAfterDelay(this, QStringLiteral("updateBatchRenameStatus"), Value(), 0.1, [this] { updateBatchRenameStatus(); });
}

qsizetype PMMainController::performBatchRename()
{
    auto conflicts = platform::Array::make();
    updateBatchRenameNamesAndPerformRenaming(false, conflicts);
    if (!conflicts->isEmpty()) {
        platform::Alert alert;
        alert.messageText = localized("Rename despite conflicts?");
        alert.informativeText =
            platform::format(localized("Some of the new names are the current names of other movies shown (letter case ignored):\n\n%@"),
                             namesListForItems(conflicts, true));
        alert.buttons = {localized("Rename"), localized("Cancel")};
        if (platform::runAlert(alert).button != 0)
            return -1;
    }
    const qsizetype renamed = updateBatchRenameNamesAndPerformRenaming(true, nullptr);
    _infoDecodedMetaReferenceCache.clear();
    _infoBatchRenamePseudoSeriesValid = false;
    if (renamed > 0) {
        updateLibrary();
        saveLibrarySoon();
    }
    return renamed;
}
