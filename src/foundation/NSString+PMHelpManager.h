// Small text operations many parts of the program share: trimming and shortening,
// cutting at a prefix or suffix, splitting into lines and words, regular-expression
// helpers, star ratings and fixed symbols, percent escapes, and the meta-reference
// markers ("<?meta:Genre?>") that stand for a tag of a movie in user-written text.
#pragma once

#include "foundation/PMRange.h"
#include "platform/RegularExpression.h"

#include <QtCore/QString>
#include <QtCore/QStringList>

#include <functional>
#include <optional>

// Fixed symbols.
QString ellipsisString();                 // "…"
QString checkMarkString();                // "✓"
QString rightTriangleArrowString();       // "▸"
QString spacedRightTriangleArrowString(); // " ▸ "
QString spacedDashString();               // " — "

// The text without leading and trailing whitespace and newlines.
QString trimmedString(const QString& string);
QString stringByRemovingCharactersInSet(const QString& string, const std::function<bool(QChar)>& inSet);
QString stringByRemovingCharactersInSet(const QString& string, const QString& characters);
// A short form of at most `maximumLength` word characters: the words joined by blanks
// (blanks not counted), or with `stripWhitespace` run together and upper-cased. The text
// must not be empty.
QString stringFromNonEmptyTrimmedStringWithMaximumLength(const QString& string, int maximumLength, bool stripWhitespace);
// The text shortened at a word boundary with "…" when longer than the maximum.
QString ellipsedStringWithMaximumLength(const QString& string, int maximumLength);
// The characters in reverse order (a character made of several units stays whole).
QString invertedString(const QString& string);

// Cutting at the first (or, backwards, the last) literal occurrence of a text anywhere in
// the string. When it is not found: the string itself if asked to, else nothing.
std::optional<QString> substringBeforeSuffix(const QString& string, const QString& suffix, bool searchBackwards, bool returnSelfIfNotFound);
std::optional<QString> substringBeforeSuffix(const QString& string, const QString& suffix, bool returnSelfIfNotFound);
std::optional<QString> substringAfterPrefix(const QString& string, const QString& prefix, bool searchBackwards, bool returnSelfIfNotFound);
std::optional<QString> substringAfterPrefix(const QString& string, const QString& prefix, bool returnSelfIfNotFound);
// The text after the first occurrence of the prefix and before the first occurrence of
// the suffix in the rest.
std::optional<QString> substringBetweenPrefix(const QString& string, const QString& prefix, const QString& andSuffix, bool returnSelfIfNotFound);

// The lines, each trimmed of blanks and tabs, empty ones dropped.
QStringList componentsSeparatedByNewlines(const QString& string);
// The words between whitespace and newlines.
QStringList componentsSeparatedByWhitespaceAndNewlines(const QString& string);

// The text compiled as a case-insensitive expression (kept for reuse); null when it does
// not compile.
platform::RegularExpressionPtr caseInsensitiveRegularExpression(const QString& string);
// The captures of every match of the pattern in the string, joined (the whole match for a
// pattern without groups). With a prefix pattern, a leading match of it is first cut off
// the pattern (nothing when it does not match there or takes the whole pattern). Nothing
// for an empty pattern; the empty text when the pattern does not compile.
std::optional<QString> stringByJoiningMatchRangesForCaseInsensitiveRegularExpressionPattern(
    const QString& string, const QString& pattern, const QString& afterEliminatingPatternPrefix);
// The expression "\.(mov|mp4)$" for a list of extensions such as ".mov, mp4"; nothing
// when the list names none.
std::optional<QString> extensionMatchingQuery(const QString& string);

// `number` on symbols, then off symbols up to `length` (none without an off symbol).
QString stringWithNumber(long long number, const QString& ofOnSymbols, const QString& offSymbol, int length);
QString stringWithNumberOfStars(long long number, const QString& offSymbol);
QString stringWithNumberOfStars(long long number);
// Percent escapes decoded (as UTF-8, else ISO Latin 1) when the text holds "%", "+" read
// as a blank; the text unchanged when it holds no "%" or a malformed escape.
QString stringByReplacingPercentEscapesIfNecessary(const QString& string);

// The content of the first "<?meta:...?>" reference (markers in any case) and the range of
// the whole reference; nothing when there is none.
std::optional<QString> firstMetaReferenceWithRange(const QString& string, PMRange* getRange = nullptr);
// The text cut into the pieces before, of and after each reference, in order.
QStringList metaReferenceComponents(const QString& string);
// Every reference replaced by its trimmed content ("-" when blank), after "→ " when asked.
QString stringByMakingMetaReferencesReadableWithMetaPrefix(const QString& string, bool metaPrefix);
