#include "foundation/NSString+PMHelpManager.h"

#include <QtCore/QHash>
#include <QtCore/QStringDecoder>
#include <QtCore/QTextBoundaryFinder>

#include <mutex>

namespace {

const QString kMetaOpen = QStringLiteral("<?meta:");
const QString kMetaClose = QStringLiteral("?>");

bool isBlankOrTab(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c.category() == QChar::Separator_Space;
}

bool isNewlineChar(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= 0x0A && u <= 0x0D) || u == 0x85 || u == 0x2028 || u == 0x2029;
}

// The first `count` units, never ending inside a surrogate pair.
QString leftWhole(const QString& s, qsizetype count)
{
    if (count <= 0)
        return QString();
    if (count < s.size() && s.at(count - 1).isHighSurrogate())
        ++count;
    return s.left(count);
}

} // namespace

QString ellipsisString() { return QStringLiteral("\u2026"); }
QString checkMarkString() { return QStringLiteral("\u2713"); }
QString rightTriangleArrowString() { return QStringLiteral("\u25B8"); }
QString spacedRightTriangleArrowString() { return QStringLiteral(" \u25B8 "); }
QString spacedDashString() { return QStringLiteral(" \u2014 "); }

QString trimmedString(const QString& string)
{
    return string.trimmed();
}

QString stringByRemovingCharactersInSet(const QString& string, const std::function<bool(QChar)>& inSet)
{
    QString result = string;
    if (inSet)
        result.removeIf([&](QChar c) { return inSet(c); });
    return result;
}

QString stringByRemovingCharactersInSet(const QString& string, const QString& characters)
{
    return stringByRemovingCharactersInSet(string, [&](QChar c) { return characters.contains(c); });
}

QString stringFromNonEmptyTrimmedStringWithMaximumLength(const QString& string, int maximumLength, bool stripWhitespace)
{
    const qsizetype m = std::max(1, maximumLength);
    if (m == 1) {
        const QString first = leftWhole(string, 1);
        return stripWhitespace ? first.toUpper() : first;
    }
    const QStringList words = componentsSeparatedByWhitespaceAndNewlines(string);
    if (stripWhitespace)
        return leftWhole(words.join(QString()), m).toUpper();
    QString result;
    qsizetype count = 0;
    for (const QString& word : words) {
        if (!result.isEmpty())
            result += QLatin1Char(' ');
        result += word;
        count += word.size();
        if (count >= m) {
            result = leftWhole(result, result.size() - (count - m));
            break;
        }
    }
    return result;
}

QString ellipsedStringWithMaximumLength(const QString& string, int maximumLength)
{
    const qsizetype m = std::max(0, maximumLength);
    if (string.size() <= m)
        return string;
    QString taken;
    for (const QString& word : string.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        if (taken.size() + word.size() > m)
            break;
        if (!taken.isEmpty())
            taken += QLatin1Char(' ');
        taken += word;
    }
    if (taken.isEmpty())
        return leftWhole(string, m) + ellipsisString();
    return taken + QLatin1Char(' ') + ellipsisString();
}

QString invertedString(const QString& string)
{
    if (string.size() < 2)
        return string;
    // Reversing UTF-16 units would tear surrogate pairs and separate accents from their
    // letters; reverse whole characters as the user sees them.
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, string);
    QString result;
    result.reserve(string.size());
    qsizetype end = string.size();
    finder.toEnd();
    for (qsizetype start = finder.toPreviousBoundary(); start >= 0; start = finder.toPreviousBoundary()) {
        result += QStringView(string).mid(start, end - start);
        end = start;
    }
    return result;
}

std::optional<QString> substringBeforeSuffix(const QString& string, const QString& suffix, bool searchBackwards, bool returnSelfIfNotFound)
{
    const qsizetype at = suffix.isEmpty() ? -1 : (searchBackwards ? string.lastIndexOf(suffix) : string.indexOf(suffix));
    if (at < 0)
        return returnSelfIfNotFound ? std::optional<QString>(string) : std::nullopt;
    return string.left(at);
}

std::optional<QString> substringBeforeSuffix(const QString& string, const QString& suffix, bool returnSelfIfNotFound)
{
    return substringBeforeSuffix(string, suffix, false, returnSelfIfNotFound);
}

std::optional<QString> substringAfterPrefix(const QString& string, const QString& prefix, bool searchBackwards, bool returnSelfIfNotFound)
{
    const qsizetype at = prefix.isEmpty() ? -1 : (searchBackwards ? string.lastIndexOf(prefix) : string.indexOf(prefix));
    if (at < 0)
        return returnSelfIfNotFound ? std::optional<QString>(string) : std::nullopt;
    return string.mid(at + prefix.size());
}

std::optional<QString> substringAfterPrefix(const QString& string, const QString& prefix, bool returnSelfIfNotFound)
{
    return substringAfterPrefix(string, prefix, false, returnSelfIfNotFound);
}

std::optional<QString> substringBetweenPrefix(const QString& string, const QString& prefix, const QString& andSuffix, bool returnSelfIfNotFound)
{
    const std::optional<QString> rest = substringAfterPrefix(string, prefix, false, false);
    if (!rest)
        return returnSelfIfNotFound ? std::optional<QString>(string) : std::nullopt;
    const std::optional<QString> between = substringBeforeSuffix(*rest, andSuffix, false, false);
    if (!between)
        return returnSelfIfNotFound ? std::optional<QString>(string) : std::nullopt;
    return between;
}

QStringList componentsSeparatedByNewlines(const QString& string)
{
    QStringList lines;
    qsizetype start = 0;
    const qsizetype n = string.size();
    for (qsizetype i = 0; i <= n; ++i) {
        if (i < n && !isNewlineChar(string.at(i)))
            continue;
        qsizetype from = start, to = i;
        while (from < to && isBlankOrTab(string.at(from)))
            ++from;
        while (to > from && isBlankOrTab(string.at(to - 1)))
            --to;
        if (to > from)
            lines.append(string.mid(from, to - from));
        start = i + 1;
    }
    return lines;
}

QStringList componentsSeparatedByWhitespaceAndNewlines(const QString& string)
{
    QStringList words;
    qsizetype i = 0;
    const qsizetype n = string.size();
    while (i < n) {
        while (i < n && string.at(i).isSpace())
            ++i;
        const qsizetype start = i;
        while (i < n && !string.at(i).isSpace())
            ++i;
        if (i > start)
            words.append(string.mid(start, i - start));
    }
    return words;
}

platform::RegularExpressionPtr caseInsensitiveRegularExpression(const QString& string)
{
    return platform::RegularExpression::cached(string, platform::RegularExpression::CaseInsensitive);
}

std::optional<QString> stringByJoiningMatchRangesForCaseInsensitiveRegularExpressionPattern(
    const QString& string, const QString& pattern, const QString& afterEliminatingPatternPrefix)
{
    if (pattern.isEmpty())
        return std::nullopt;
    QString p = pattern;
    if (!afterEliminatingPatternPrefix.isEmpty()) {
        const platform::RegularExpressionPtr prefix = caseInsensitiveRegularExpression(afterEliminatingPatternPrefix);
        if (!prefix)
            return std::nullopt;
        platform::RegularExpression::Match match;
        if (!prefix->firstMatch(p, &match, 0, true) || match.range().length >= p.size())
            return std::nullopt;
        p = p.mid(match.range().end());
    }
    QString joined;
    const platform::RegularExpressionPtr expression = caseInsensitiveRegularExpression(p);
    if (!expression)
        return joined;
    const int groups = expression->numberOfCaptureGroups();
    for (const platform::RegularExpression::Match& match : expression->matches(string)) {
        if (groups == 0) {
            joined += match.captured(string);
            continue;
        }
        for (int g = 1; g <= groups; ++g)
            joined += match.captured(string, g);
    }
    return joined;
}

std::optional<QString> extensionMatchingQuery(const QString& string)
{
    static std::mutex lock;
    static QHash<QString, std::optional<QString>> cache;
    {
        std::lock_guard guard(lock);
        const auto it = cache.constFind(string);
        if (it != cache.cend())
            return *it;
    }
    QStringList pieces;
    qsizetype start = 0;
    const qsizetype n = string.size();
    const auto isSeparator = [](QChar c) { return c.isSpace() || c == QLatin1Char(',') || c == QLatin1Char('|'); };
    for (qsizetype i = 0; i <= n; ++i) {
        if (i < n && !isSeparator(string.at(i)))
            continue;
        QString piece = string.mid(start, i - start);
        if (piece.startsWith(QLatin1Char('.')))
            piece.remove(0, 1);
        if (!piece.isEmpty())
            pieces.append(piece);
        start = i + 1;
    }
    std::optional<QString> result;
    if (!pieces.isEmpty())
        result = QStringLiteral("\\.(%1)$").arg(pieces.join(QLatin1Char('|')));
    std::lock_guard guard(lock);
    if (cache.size() > 1024)
        cache.clear();
    cache.insert(string, result);
    return result;
}

QString stringWithNumber(long long number, const QString& ofOnSymbols, const QString& offSymbol, int length)
{
    const long long total = std::max(0, length);
    const long long on = std::clamp(number, 0LL, total);
    QString result = ofOnSymbols.repeated(qsizetype(on));
    if (!offSymbol.isEmpty())
        result += offSymbol.repeated(qsizetype(total - on));
    return result;
}

QString stringWithNumberOfStars(long long number, const QString& offSymbol)
{
    return stringWithNumber(number, QStringLiteral("\u2605"), offSymbol, 5);
}

QString stringWithNumberOfStars(long long number)
{
    return stringWithNumberOfStars(number, QStringLiteral("\u2606"));
}

namespace {

int hexValue(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    return -1;
}

// Decodes the escapes, reading the bytes they stand for as UTF-8 or as ISO Latin 1.
bool decodePercentEscapes(const QString& text, bool utf8, QString* getDecoded)
{
    QString decoded;
    QByteArray pending;
    const auto flush = [&] {
        if (pending.isEmpty())
            return true;
        if (utf8) {
            QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
            const QString part = decoder.decode(pending);
            if (decoder.hasError())
                return false;
            decoded += part;
        } else {
            decoded += QString::fromLatin1(pending);
        }
        pending.clear();
        return true;
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c != QLatin1Char('%')) {
            if (!flush())
                return false;
            decoded += c;
            continue;
        }
        if (i + 2 >= text.size())
            return false; // a "%" without two hex digits after it
        const int high = hexValue(text.at(i + 1));
        const int low = hexValue(text.at(i + 2));
        if (high < 0 || low < 0)
            return false;
        pending.append(char(high * 16 + low));
        i += 2;
    }
    if (!flush())
        return false;
    *getDecoded = decoded;
    return true;
}

} // namespace

QString stringByReplacingPercentEscapesIfNecessary(const QString& string)
{
    if (!string.contains(QLatin1Char('%')))
        return string;
    QString text = string;
    if (text.contains(QLatin1Char('+'))) {
        QString blanks = text;
        blanks.replace(QLatin1Char('+'), QLatin1Char(' '));
        blanks = blanks.trimmed();
        if (!blanks.isEmpty())
            text = blanks;
    }
    // UTF-8 first, then ISO Latin 1 (which reads any byte, so ASCII never needs a turn);
    // a malformed escape leaves the text unchanged.
    QString decoded;
    if (decodePercentEscapes(text, true, &decoded) || decodePercentEscapes(text, false, &decoded))
        return decoded;
    return string;
}

std::optional<QString> firstMetaReferenceWithRange(const QString& string, PMRange* getRange)
{
    if (getRange)
        *getRange = PMRange();
    const qsizetype open = string.indexOf(kMetaOpen, 0, Qt::CaseInsensitive);
    if (open < 0)
        return std::nullopt;
    const qsizetype close = string.indexOf(kMetaClose, open, Qt::CaseInsensitive);
    if (close < 0)
        return std::nullopt;
    const qsizetype contentStart = open + kMetaOpen.size();
    if (getRange)
        *getRange = PMRange{open, close + kMetaClose.size() - open};
    return string.mid(contentStart, close - contentStart);
}

QStringList metaReferenceComponents(const QString& string)
{
    QStringList pieces;
    QString rest = string;
    PMRange range;
    while (firstMetaReferenceWithRange(rest, &range)) {
        if (range.location > 0)
            pieces.append(rest.left(range.location));
        pieces.append(rest.mid(range.location, range.length));
        rest = rest.mid(range.end());
    }
    if (!rest.isEmpty())
        pieces.append(rest);
    return pieces;
}

QString stringByMakingMetaReferencesReadableWithMetaPrefix(const QString& string, bool metaPrefix)
{
    // Each round replaces a reference of at least nine characters by a shorter text, so
    // the rounds come to an end even when a replacement forms a new reference.
    QString result = string;
    PMRange range;
    while (const std::optional<QString> content = firstMetaReferenceWithRange(result, &range)) {
        QString readable = content->trimmed();
        if (readable.isEmpty())
            readable = QStringLiteral("-");
        if (metaPrefix)
            readable.prepend(QStringLiteral("\u2192 "));
        result.replace(range.location, range.length, readable);
    }
    return result;
}
