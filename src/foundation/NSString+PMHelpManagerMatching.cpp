#include "foundation/NSString+PMHelpManagerMatching.h"

#include "foundation/PMCaseFolding.h"


#include <QtCore/QSet>

#include <array>
#include <mutex>

namespace {

// Canonical composition changes nothing in a text without combining marks or jamo, which
// all lie at U+0300 and above: such a text is its own precomposed form.
bool isTriviallyPrecomposed(QStringView s)
{
    for (QChar c : s)
        if (c.unicode() >= 0x300)
            return false;
    return true;
}

QString precomposed(const QString& s)
{
    return isTriviallyPrecomposed(s) ? s : s.normalized(QString::NormalizationForm_C);
}

// For each UTF-16 unit the key under which it compares when case, diacritics and widths
// are ignored: its base character (canonical, wide and narrow decompositions followed),
// case-folded.
const std::array<char16_t, 0x10000>& foldTable()
{
    static std::array<char16_t, 0x10000> table;
    static std::once_flag once;
    std::call_once(once, [] {
        for (uint u = 0; u < 0x10000; ++u) {
            char16_t c = char16_t(u);
            if (!QChar::isSurrogate(u)) {
                for (int depth = 0; depth < 4; ++depth) {
                    const QChar::Decomposition tag = QChar(c).decompositionTag();
                    if (tag != QChar::Canonical && tag != QChar::Wide && tag != QChar::Narrow)
                        break;
                    const QString d = QChar::decomposition(c);
                    if (d.isEmpty() || d.at(0).isSurrogate())
                        break;
                    c = d.at(0).unicode();
                }
                c = char16_t(QChar::toCaseFolded(uint(c)) <= 0xFFFF ? QChar::toCaseFolded(uint(c)) : c);
            }
            table[u] = c;
        }
    });
    return table;
}

// The first occurrence of the query ignoring case; -1 when there is none. Texts with
// characters outside the basic plane go through Qt's own search, which folds them whole.
qsizetype indexOfIgnoringCase(const QString& string, const QString& query)
{
    const char16_t* fold = PMCaseFoldTable();
    const char16_t* s = reinterpret_cast<const char16_t*>(string.constData());
    const char16_t* q = reinterpret_cast<const char16_t*>(query.constData());
    const qsizetype n = string.size();
    const qsizetype m = query.size();
    for (qsizetype k = 0; k < m; ++k)
        if (QChar::isSurrogate(q[k]))
            return string.indexOf(query, 0, Qt::CaseInsensitive);
    if (m > n)
        return -1;
    const char16_t first = fold[q[0]];
    for (qsizetype i = 0; i < n; ++i) {
        if (QChar::isSurrogate(s[i]))
            return string.indexOf(query, 0, Qt::CaseInsensitive);
        if (i + m > n || fold[s[i]] != first)
            continue;
        qsizetype k = 1;
        while (k < m && fold[s[i + k]] == fold[q[k]])
            ++k;
        if (k == m)
            return i;
    }
    return -1;
}

bool isCombiningMark(char16_t c)
{
    return c >= 0x300 && QChar::category(uint(c)) == QChar::Mark_NonSpacing;
}

bool isUpperCaseForm(QStringView s)
{
    for (qsizetype i = 0; i < s.size(); ++i) {
        const QChar c = s[i];
        if (c.unicode() < 0x80) {
            if (c.unicode() >= u'a' && c.unicode() <= u'z')
                return false;
            continue;
        }
        if (c.isHighSurrogate() && i + 1 < s.size() && s[i + 1].isLowSurrogate()) {
            const char32_t ucs = QChar::surrogateToUcs4(c, s[i + 1]);
            if (QChar::toUpper(ucs) != ucs)
                return false;
            ++i;
            continue;
        }
        if (c.toUpper() != c)
            return false;
    }
    return true;
}

bool isBlankOrNewline(QChar c)
{
    return c.isSpace();
}

} // namespace

const char16_t* PMCaseFoldTable()
{
    static std::array<char16_t, 0x10000> table;
    static std::once_flag once;
    std::call_once(once, [] {
        for (uint u = 0; u < 0x10000; ++u) {
            const char32_t folded = QChar::isSurrogate(u) ? u : QChar::toCaseFolded(u);
            table[u] = folded <= 0xFFFF ? char16_t(folded) : char16_t(u);
        }
    });
    return table.data();
}

int PMCompareIgnoringCase(QStringView a, QStringView b)
{
    const char16_t* fold = PMCaseFoldTable();
    const qsizetype n = std::min(a.size(), b.size());
    const char16_t* pa = a.utf16();
    const char16_t* pb = b.utf16();
    for (qsizetype i = 0; i < n; ++i) {
        if (pa[i] == pb[i])
            continue;
        const char16_t fa = fold[pa[i]];
        const char16_t fb = fold[pb[i]];
        if (fa != fb)
            return fa < fb ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

PMWildcardPattern PMPreparedWildcardPattern(const QString& pattern)
{
    PMWildcardPattern prepared;
    if (!pattern.contains(QLatin1Char('*'))) {
        prepared.literal = pattern;
        return prepared;
    }
    prepared.hasWildcard = true;
    const QString lowered = precomposed(pattern.toLower());
    // A path pattern names folders exactly: its blanks are part of the names.
    const bool trimPieces = !lowered.contains(QLatin1Char('/'));
    prepared.pieces = lowered.split(QLatin1Char('*'));
    if (trimPieces)
        for (QString& piece : prepared.pieces)
            piece = piece.trimmed();
    return prepared;
}

QString PMPreparedWildcardText(const QString& string)
{
    return precomposed(string.toLower());
}

bool PMMatchesPreparedWildcard(const QString& string, QStringView preparedText, const PMWildcardPattern& pattern)
{
    if (!pattern.hasWildcard)
        return string.compare(pattern.literal, Qt::CaseInsensitive) == 0;
    const QStringList& pieces = pattern.pieces;
    QStringView rest = preparedText;
    const QString& first = pieces.first();
    const QString& last = pieces.last();
    if (!first.isEmpty()) {
        if (!rest.startsWith(first))
            return false;
        rest = rest.mid(first.size());
    }
    if (!last.isEmpty()) {
        if (!rest.endsWith(last))
            return false;
        rest.chop(last.size());
    }
    for (qsizetype i = 1; i + 1 < pieces.size(); ++i) {
        const QString& piece = pieces.at(i);
        if (piece.isEmpty())
            continue; // "a**b" means the same as "a*b"
        const qsizetype at = rest.indexOf(piece);
        if (at < 0)
            return false;
        rest = rest.mid(at + piece.size());
    }
    return true;
}

bool matchesWildcardQuery(const QString& string, const QString& pattern)
{
    if (pattern.isNull())
        return false;
    const PMWildcardPattern prepared = PMPreparedWildcardPattern(pattern);
    if (!prepared.hasWildcard)
        return PMMatchesPreparedWildcard(string, QStringView(), prepared);
    const QString text = PMPreparedWildcardText(string);
    return PMMatchesPreparedWildcard(string, text, prepared);
}

std::uint64_t matchingQualityOfLiteralQuery(const QString& string, const QString& query, QList<PMRange>* collectMatchedRanges)
{
    if (query.isEmpty())
        return PMNotFound;
    const qsizetype at = indexOfIgnoringCase(string, query);
    if (at < 0)
        return PMNotFound;
    if (collectMatchedRanges)
        collectMatchedRanges->append(PMRange{at, query.size()});
    return at == 0 ? 0 : 2;
}

QString precomposedFuzzyQueryString(const QString& query)
{
    QString prepared = precomposed(query);
    prepared.removeIf(isBlankOrNewline);
    return prepared;
}

std::uint64_t matchingQualityOfPrecomposedFuzzyQuery(const QString& string, const QString& precomposedQuery, qsizetype length,
                                                     QList<PMRange>* collectMatchedRanges)
{
    const auto& fold = foldTable();
    const QString target = precomposed(string);
    const char16_t* t = reinterpret_cast<const char16_t*>(target.constData());
    const qsizetype n = target.size();
    const qsizetype queryLength = std::min(length, precomposedQuery.size());
    const auto noMatch = [&] {
        if (collectMatchedRanges)
            collectMatchedRanges->clear();
        return PMNotFound;
    };
    if (queryLength <= 0)
        return noMatch();
    qsizetype p = 0;
    qsizetype gaps = 0;
    qsizetype firstLocation = -1;
    bool matchedAllCapitals = true;
    for (qsizetype qi = 0; qi < queryLength; ++qi) {
        if (p >= n)
            return noMatch();
        const char16_t key = fold[precomposedQuery.at(qi).unicode()];
        qsizetype j = p;
        while (j < n && fold[t[j]] != key)
            ++j;
        if (j >= n)
            return noMatch();
        qsizetype end = j + 1;
        while (end < n && isCombiningMark(t[end]))
            ++end; // a mark on the matched letter belongs to it when accents are ignored
        if (matchedAllCapitals && !isUpperCaseForm(QStringView(t + j, end - j)))
            matchedAllCapitals = false;
        if (collectMatchedRanges)
            collectMatchedRanges->append(PMRange{j, end - j});
        if (firstLocation < 0)
            firstLocation = j;
        if (j > p)
            ++gaps;
        p = end;
    }
    const std::uint64_t base = firstLocation == 0 ? 1 : 3;
    if (isUpperCaseForm(QStringView(target)))
        return base + std::uint64_t(gaps) + 1;
    if (matchedAllCapitals)
        return base;
    return base + std::uint64_t(gaps) + 1;
}

std::uint64_t matchingQualityOfQuery(const QString& string, const QString& query, bool allowFuzzyMatching,
                                     QList<PMRange>* collectMatchedRanges)
{
    if (string.isEmpty() || query.isEmpty())
        return PMNotFound;
    const std::uint64_t literal = matchingQualityOfLiteralQuery(string, query, collectMatchedRanges);
    if (literal != PMNotFound || !allowFuzzyMatching)
        return literal;
    const QString prepared = precomposedFuzzyQueryString(query);
    if (prepared.isEmpty())
        return PMNotFound;
    return matchingQualityOfPrecomposedFuzzyQuery(string, prepared, prepared.size(), collectMatchedRanges);
}

std::uint64_t PMMatchingQualityEvaluator::operator()(const QString& target, QList<PMRange>* collectMatchedRanges) const
{
    if (target.isEmpty())
        return PMNotFound;
    const std::uint64_t literal = matchingQualityOfLiteralQuery(target, m_query, collectMatchedRanges);
    if (literal != PMNotFound || m_fuzzyQuery.isEmpty())
        return literal;
    return matchingQualityOfPrecomposedFuzzyQuery(target, m_fuzzyQuery, m_fuzzyQuery.size(), collectMatchedRanges);
}

std::unique_ptr<PMMatchingQualityEvaluator> newMatchingQualityEvaluatorAllowingFuzzyMatching(const QString& query, bool allowFuzzyMatching)
{
    if (query.isEmpty())
        return nullptr;
    std::unique_ptr<PMMatchingQualityEvaluator> evaluator(new PMMatchingQualityEvaluator());
    evaluator->m_query = query;
    if (allowFuzzyMatching)
        evaluator->m_fuzzyQuery = precomposedFuzzyQueryString(query);
    return evaluator;
}

QStringList wordsFromString(const QString& string)
{
    QStringList words;
    QSet<QString> seen;
    const auto isSeparator = [](QChar c) {
        return c.isSpace() || c.isDigit() || (c.isPunct() && c != QLatin1Char('-'));
    };
    qsizetype i = 0;
    const qsizetype n = string.size();
    while (i < n) {
        while (i < n && isSeparator(string.at(i)))
            ++i;
        const qsizetype start = i;
        while (i < n && !isSeparator(string.at(i)))
            ++i;
        if (i - start >= 2) {
            const QString word = string.mid(start, i - start).toLower();
            if (!seen.contains(word)) {
                seen.insert(word);
                words.append(word);
            }
        }
    }
    return words;
}
