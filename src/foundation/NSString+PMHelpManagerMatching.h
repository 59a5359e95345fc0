// How a text compares with what a user typed: the wildcard match of blacklist and
// whitelist patterns, the match quality that ranks completions (lower is better,
// PMNotFound for no match), and the search words of a text.
#pragma once

#include "foundation/PMRange.h"

#include <QtCore/QList>
#include <QtCore/QString>
#include <QtCore/QStringList>

#include <cstdint>
#include <memory>

// Whether the text matches the pattern. Without "*": equal ignoring case. With "*": both
// lower-cased and precomposed; the first piece must begin the text, the last end it, and
// the pieces between must occur in order (empty pieces are skipped). Pieces are trimmed of
// blanks, except in a path pattern (one holding "/"), whose blanks belong to the names.
bool matchesWildcardQuery(const QString& string, const QString& pattern);
// A pattern prepared once for matching many texts, and a text prepared once for matching
// many patterns; the match answers as matchesWildcardQuery does.
struct PMWildcardPattern {
    QString literal;    // a pattern without "*": the text equals it ignoring case
    QStringList pieces; // a pattern with "*": its pieces, lower-cased and precomposed
    bool hasWildcard = false;
};
PMWildcardPattern PMPreparedWildcardPattern(const QString& pattern);
QString PMPreparedWildcardText(const QString& string);
bool PMMatchesPreparedWildcard(const QString& string, QStringView preparedText, const PMWildcardPattern& pattern);

// The quality with which the text matches the query (0 best), or PMNotFound. Literal
// occurrences (ignoring case) come first: 0 at the start, 2 elsewhere; with fuzzy matching
// the query's characters (blanks removed) must occur in order, ignoring case, accents and
// widths, and every gap costs. Matched ranges are appended to `collectMatchedRanges`.
std::uint64_t matchingQualityOfQuery(const QString& string, const QString& query, bool allowFuzzyMatching,
                                     QList<PMRange>* collectMatchedRanges = nullptr);
std::uint64_t matchingQualityOfLiteralQuery(const QString& string, const QString& query,
                                            QList<PMRange>* collectMatchedRanges = nullptr);
// The query prepared for fuzzy matching: precomposed, white space removed.
QString precomposedFuzzyQueryString(const QString& query);
std::uint64_t matchingQualityOfPrecomposedFuzzyQuery(const QString& string, const QString& precomposedQuery, qsizetype length,
                                                     QList<PMRange>* collectMatchedRanges = nullptr);

// A query prepared once for ranking many texts.
class PMMatchingQualityEvaluator {
public:
    std::uint64_t operator()(const QString& target, QList<PMRange>* collectMatchedRanges = nullptr) const;

private:
    friend std::unique_ptr<PMMatchingQualityEvaluator> newMatchingQualityEvaluatorAllowingFuzzyMatching(const QString&, bool);
    QString m_query;
    QString m_fuzzyQuery; // empty: literal matching only
};
// The evaluator of the query, or null for an empty query.
std::unique_ptr<PMMatchingQualityEvaluator> newMatchingQualityEvaluatorAllowingFuzzyMatching(const QString& query, bool allowFuzzyMatching);

// The search words of a text: split at white space, punctuation (but not "-") and digits,
// pieces of at least two units, lower-cased, without repeats, in order of appearance.
QStringList wordsFromString(const QString& string);
