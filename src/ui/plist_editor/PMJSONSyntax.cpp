#include "ui/plist_editor/PMJSONSyntax.h"

#include "foundation/PMLog.h"
#include "platform/RegularExpression.h"

#include <algorithm>

// The scanners below find what these expressions (case-insensitive) find, in one pass
// each, so that a megabyte of text is coloured within a frame or two:
//   quoted string      (?<!\\)(?:\\\\)*(".*?(?<!\\)(?:\\\\)*")
//   quoted key/string  (?<!\\)(?:\\\\)*(".*?(?<!\\)(?:\\\\)*")(\s*:)?
//   number             \d+(?:\.\d+)?
//   XML tag name       <\s*(?:/|!|\?)?\s*(.+?)(?:\s|>|/)
//   XML key            (?s)<\s*key\s*>(.+?)<\s*/\s*key\s*>
//   XML value          >([^<]+)<\s*/
//   XML true, false    <\s*(true)\s*/\s*>   <\s*(false)\s*/\s*>
//   XML wrappers       (<\s*dict\s*>)|(<\s*/\s*dict\s*>)|(<\s*array\s*>)|(<\s*/\s*array\s*>)|(<\s*data\s*>)|(<\s*/\s*data\s*>)
//   JSON wrappers      (\{)|(\})|(\[)|(\])
// The rarer markup mode uses the expressions themselves.

namespace {

using Role = PMJSONColorRole;

bool isLineTerminator(QChar c)
{
    const char16_t u = c.unicode();
    return u == 0x0A || u == 0x0B || u == 0x0C || u == 0x0D || u == 0x85 || u == 0x2028 || u == 0x2029;
}

// \s of the expressions: [\t\n\f\r\p{Z}].
bool isSpace(QChar c)
{
    const char16_t u = c.unicode();
    if (u == 0x09 || u == 0x0A || u == 0x0C || u == 0x0D || u == 0x20)
        return true;
    if (u < 0x80)
        return false;
    const QChar::Category category = c.category();
    return category == QChar::Separator_Space || category == QChar::Separator_Line || category == QChar::Separator_Paragraph;
}

bool isWordCharacter(QChar c)
{
    return c.isLetterOrNumber() || c == QLatin1Char('_');
}

// Ranges that later matches must not start in: sorted by start, with the greatest end so
// far, so a lookup is one binary search even where ranges overlap.
class Exclusions {
public:
    void add(PMRange range) { m_pending.push_back(range); }
    void addAll(const std::vector<PMSubstring>& substrings)
    {
        for (const PMSubstring& s : substrings)
            m_pending.push_back(s.range);
    }
    bool contains(qsizetype location)
    {
        settle();
        auto it = std::upper_bound(m_starts.begin(), m_starts.end(), location);
        if (it == m_starts.begin())
            return false;
        const size_t index = size_t(it - m_starts.begin()) - 1;
        return m_maxEnds[index] > location;
    }
    bool empty() const { return m_ranges.empty() && m_pending.empty(); }

private:
    void settle()
    {
        if (m_pending.empty())
            return;
        m_ranges.insert(m_ranges.end(), m_pending.begin(), m_pending.end());
        m_pending.clear();
        std::stable_sort(m_ranges.begin(), m_ranges.end(), [](const PMRange& a, const PMRange& b) { return a.location < b.location; });
        m_starts.resize(m_ranges.size());
        m_maxEnds.resize(m_ranges.size());
        qsizetype maxEnd = -1;
        for (size_t i = 0; i < m_ranges.size(); ++i) {
            m_starts[i] = m_ranges[i].location;
            maxEnd = std::max(maxEnd, m_ranges[i].end());
            m_maxEnds[i] = maxEnd;
        }
    }
    std::vector<PMRange> m_ranges, m_pending;
    std::vector<qsizetype> m_starts, m_maxEnds;
};

class Scanner {
public:
    explicit Scanner(const QString& text) : m_text(text), m_data(text.constData()), m_n(text.size()) {}

    QChar at(qsizetype i) const { return m_data[i]; }
    qsizetype size() const { return m_n; }

    qsizetype skipSpaces(qsizetype i, qsizetype to) const
    {
        while (i < to && isSpace(m_data[i]))
            ++i;
        return i;
    }
    // The word (ASCII, any case) at i; answers the index after it or -1.
    qsizetype word(qsizetype i, qsizetype to, QLatin1StringView w) const
    {
        if (i + w.size() > to)
            return -1;
        for (qsizetype k = 0; k < w.size(); ++k) {
            if (m_data[i + k].toLower().unicode() != char16_t(w[k].unicode()))
                return -1;
        }
        return i + w.size();
    }
    qsizetype indexOf(QChar c, qsizetype from, qsizetype to) const
    {
        const qsizetype i = m_text.indexOf(c, from);
        return (i < 0 || i >= to) ? -1 : i;
    }
    qsizetype backslashesBefore(qsizetype i, qsizetype limit) const
    {
        qsizetype k = 0;
        while (i - k - 1 >= limit && m_data[i - k - 1] == QLatin1Char('\\'))
            ++k;
        return k;
    }

    // Quoted strings on one line, a quote after an even run of backslashes opening and
    // closing them; with `withColon`, a colon after the closing quote (blanks between
    // allowed) makes the string a key.
    template <class F>
    void quotedStrings(qsizetype from, qsizetype to, bool withColon, F found) const
    {
        qsizetype i = from;
        while (i < to) {
            const qsizetype q = indexOf(QLatin1Char('"'), i, to);
            if (q < 0)
                return;
            const qsizetype k = backslashesBefore(q, 0);
            if (k % 2 == 1 || q - k < i) {
                i = q + 1;
                continue;
            }
            qsizetype e = q + 1;
            bool closed = false;
            while (e < to) {
                const QChar c = m_data[e];
                if (isLineTerminator(c))
                    break;
                if (c == QLatin1Char('"') && backslashesBefore(e, q + 1) % 2 == 0) {
                    closed = true;
                    break;
                }
                ++e;
            }
            if (!closed) {
                i = q + 1;
                continue;
            }
            qsizetype end = e + 1;
            bool key = false;
            if (withColon) {
                const qsizetype j = skipSpaces(e + 1, to);
                if (j < to && m_data[j] == QLatin1Char(':')) {
                    key = true;
                    end = j + 1;
                }
            }
            found(PMRange{q, e + 1 - q}, key);
            i = end;
        }
    }

    template <class F>
    void numbers(F found) const
    {
        qsizetype i = 0;
        while (i < m_n) {
            if (!m_data[i].isDigit()) {
                ++i;
                continue;
            }
            qsizetype e = i;
            while (e < m_n && m_data[e].isDigit())
                ++e;
            if (e + 1 < m_n && m_data[e] == QLatin1Char('.') && m_data[e + 1].isDigit()) {
                e += 1;
                while (e < m_n && m_data[e].isDigit())
                    ++e;
            }
            found(PMRange{i, e - i});
            i = e;
        }
    }

    template <class F>
    void words(QLatin1StringView w, F found) const
    {
        const QLatin1Char first(w[0]);
        qsizetype i = 0;
        while (i < m_n) {
            const qsizetype hit = m_text.indexOf(first, i, Qt::CaseInsensitive);
            if (hit < 0)
                return;
            const qsizetype end = word(hit, m_n, w);
            if (end > 0 && (hit == 0 || !isWordCharacter(m_data[hit - 1])) && (end == m_n || !isWordCharacter(m_data[end]))) {
                found(PMRange{hit, end - hit});
                i = end;
            } else {
                i = hit + 1;
            }
        }
    }

    // The name after "<": the expression's preferences kept, blanks before it taken
    // greedily and given back one by one when no name follows them.
    template <class F>
    void xmlTagNames(F found) const
    {
        auto isNameEnd = [&](qsizetype e) { return isSpace(m_data[e]) || m_data[e] == QLatin1Char('>') || m_data[e] == QLatin1Char('/'); };
        // The end of the shortest name at s, or -1.
        auto nameAt = [&](qsizetype s) -> qsizetype {
            if (s >= m_n || isLineTerminator(m_data[s]))
                return -1;
            for (qsizetype e = s + 1; e < m_n; ++e) {
                if (isNameEnd(e))
                    return e;
                if (isLineTerminator(m_data[e]))
                    return -1;
            }
            return -1;
        };
        auto isMarker = [&](qsizetype j) {
            return j < m_n && (m_data[j] == QLatin1Char('/') || m_data[j] == QLatin1Char('!') || m_data[j] == QLatin1Char('?'));
        };
        qsizetype i = 0;
        while (i < m_n) {
            const qsizetype p = indexOf(QLatin1Char('<'), i, m_n);
            if (p < 0)
                return;
            qsizetype start = -1, end = -1;
            const qsizetype a = p + 1;
            for (qsizetype w1 = skipSpaces(a, m_n); w1 >= a && start < 0; --w1) {
                if (isMarker(w1)) {
                    const qsizetype b = w1 + 1;
                    for (qsizetype w2 = skipSpaces(b, m_n); w2 >= b && start < 0; --w2) {
                        if ((end = nameAt(w2)) >= 0)
                            start = w2;
                    }
                }
                for (qsizetype w2 = skipSpaces(w1, m_n); w2 >= w1 && start < 0; --w2) {
                    if ((end = nameAt(w2)) >= 0)
                        start = w2;
                }
            }
            if (start < 0) {
                i = p + 1;
                continue;
            }
            found(PMRange{start, end - start});
            i = end + 1;
        }
    }

    // `<\s*/?\s*word\s*` answered as the index after it, or -1.
    qsizetype tagStart(qsizetype p, QLatin1StringView name, bool closing) const
    {
        qsizetype j = skipSpaces(p + 1, m_n);
        if (closing) {
            if (j >= m_n || m_data[j] != QLatin1Char('/'))
                return -1;
            j = skipSpaces(j + 1, m_n);
        }
        j = word(j, m_n, name);
        if (j < 0)
            return -1;
        return skipSpaces(j, m_n);
    }

    template <class F>
    void xmlKeys(F found) const
    {
        qsizetype i = 0;
        while (i < m_n) {
            const qsizetype p = indexOf(QLatin1Char('<'), i, m_n);
            if (p < 0)
                return;
            const qsizetype j = tagStart(p, QLatin1StringView("key"), false);
            if (j < 0 || j >= m_n || m_data[j] != QLatin1Char('>')) {
                i = p + 1;
                continue;
            }
            const qsizetype content = j + 1;
            qsizetype t = content + 1;
            qsizetype closeEnd = -1;
            while (t < m_n) {
                t = indexOf(QLatin1Char('<'), t, m_n);
                if (t < 0)
                    break;
                const qsizetype c = tagStart(t, QLatin1StringView("key"), true);
                if (c >= 0 && c < m_n && m_data[c] == QLatin1Char('>')) {
                    closeEnd = c + 1;
                    break;
                }
                ++t;
            }
            if (closeEnd < 0)
                return; // no later key closes either
            found(PMRange{content, t - content});
            i = closeEnd;
        }
    }

    template <class F>
    void xmlValues(F found) const
    {
        qsizetype i = 0;
        while (i < m_n) {
            const qsizetype p = indexOf(QLatin1Char('>'), i, m_n);
            if (p < 0)
                return;
            const qsizetype s = p + 1;
            const qsizetype t = m_text.indexOf(QLatin1Char('<'), s);
            if (t < 0)
                return;
            if (t == s) {
                i = s;
                continue;
            }
            const qsizetype j = skipSpaces(t + 1, m_n);
            if (j < m_n && m_data[j] == QLatin1Char('/')) {
                found(PMRange{s, t - s});
                i = j + 1;
            } else {
                i = t;
            }
        }
    }

    template <class F>
    void xmlBooleans(QLatin1StringView name, F found) const
    {
        qsizetype i = 0;
        while (i < m_n) {
            const qsizetype p = indexOf(QLatin1Char('<'), i, m_n);
            if (p < 0)
                return;
            const qsizetype nameStart = skipSpaces(p + 1, m_n);
            qsizetype j = tagStart(p, name, false);
            if (j >= 0 && j < m_n && m_data[j] == QLatin1Char('/')) {
                j = skipSpaces(j + 1, m_n);
                if (j < m_n && m_data[j] == QLatin1Char('>')) {
                    found(PMRange{nameStart, name.size()});
                    i = j + 1;
                    continue;
                }
            }
            i = p + 1;
        }
    }

    void xmlWrappers(std::vector<PMSubstringWrapper>* parts) const
    {
        static const QLatin1StringView names[] = {QLatin1StringView("dict"), QLatin1StringView("array"), QLatin1StringView("data")};
        qsizetype i = 0;
        while (i < m_n) {
            const qsizetype p = indexOf(QLatin1Char('<'), i, m_n);
            if (p < 0)
                return;
            qsizetype j = skipSpaces(p + 1, m_n);
            const bool closing = j < m_n && m_data[j] == QLatin1Char('/');
            bool matched = false;
            for (unsigned type = 0; type < 3 && !matched; ++type) {
                const qsizetype e = tagStart(p, names[type], closing);
                if (e >= 0 && e < m_n && m_data[e] == QLatin1Char('>')) {
                    parts->push_back(PMSubstringWrapper{PMRange{p, e + 1 - p}, type, !closing, QString()});
                    i = e + 1;
                    matched = true;
                }
            }
            if (!matched)
                i = p + 1;
        }
    }

private:
    const QString& m_text;
    const QChar* m_data;
    qsizetype m_n;
};

// The tag name of a part: its text without the first and last character, trimmed of
// blanks and "/", in lower case; an opening's is cut at its first blank or "/".
QString tagNameOfPart(const QString& text, const PMSubstringWrapper& part)
{
    if (part.range.length < 3)
        return QString();
    QStringView inner = QStringView(text).mid(part.range.location + 1, part.range.length - 2);
    while (!inner.isEmpty() && (inner.front().isSpace() || inner.front() == QLatin1Char('/')))
        inner = inner.mid(1);
    while (!inner.isEmpty() && (inner.back().isSpace() || inner.back() == QLatin1Char('/')))
        inner.chop(1);
    if (part.opening) {
        for (qsizetype k = 0; k < inner.size(); ++k) {
            if (inner[k].isSpace() || inner[k] == QLatin1Char('/')) {
                inner = inner.left(k);
                break;
            }
        }
    }
    return inner.toString().toLower();
}

// Colouring with an expression over a range (markup mode): the coloured range is group 1
// when the expression has groups; a match starting in an excluded substring is skipped; a
// match is a key when a key role is given and the second of exactly two groups matched.
void colorWithPattern(const QString& text, PMRange range, const QString& pattern, Role role, std::optional<Role> keyRole,
                      std::vector<PMSubstring>* collector, const std::vector<PMSubstring>* exclusions, bool colored,
                      std::vector<PMJSONColorSpan>* spans)
{
    const platform::RegularExpressionPtr expression = platform::RegularExpression::cached(pattern, platform::RegularExpression::CaseInsensitive);
    if (!expression)
        return;
    const std::vector<PMSubstring> excluded = exclusions ? *exclusions : std::vector<PMSubstring>();
    const QString subject = text.mid(range.location, range.length);
    const int groups = expression->numberOfCaptureGroups();
    for (const platform::RegularExpression::Match& match : expression->matches(subject)) {
        const platform::RegularExpression::Range r = match.range(groups > 0 ? 1 : 0);
        if (!r.found())
            continue;
        const PMRange colored_{range.location + r.start, r.length};
        bool skip = false;
        for (const PMSubstring& s : excluded) {
            if (s.containsLocation(colored_.location)) {
                skip = true;
                break;
            }
        }
        if (skip)
            continue;
        const bool key = keyRole && groups == 2 && match.range(2).found() && match.range(2).length > 0;
        if (collector)
            collector->emplace_back(text, colored_, key);
        if (colored)
            spans->push_back({colored_.location, colored_.length, key ? *keyRole : role});
    }
}

std::vector<PMSubstringWrapper> partsWithPattern(const QString& text, PMRange range, const QString& pattern,
                                                 const std::vector<PMSubstring>& exclusions, bool tagNames)
{
    std::vector<PMSubstringWrapper> parts;
    const platform::RegularExpressionPtr expression = platform::RegularExpression::cached(pattern, platform::RegularExpression::CaseInsensitive);
    if (!expression)
        return parts;
    const QString subject = text.mid(range.location, range.length);
    const int groups = expression->numberOfCaptureGroups();
    for (const platform::RegularExpression::Match& match : expression->matches(subject)) {
        const qsizetype start = range.location + match.range(0).start;
        bool skip = false;
        for (const PMSubstring& s : exclusions) {
            if (s.containsLocation(start)) {
                skip = true;
                break;
            }
        }
        if (skip)
            continue;
        for (int g = 1; g <= groups; ++g) {
            if (!match.range(g).found())
                continue;
            PMSubstringWrapper part{PMRange{start, match.range(0).length}, unsigned((g - 1) / 2), (g % 2) == 1, QString()};
            if (tagNames)
                part.tagName = tagNameOfPart(text, part);
            parts.push_back(part);
            break;
        }
    }
    return parts;
}

} // namespace

std::vector<PMWrappedSubstringPtr> collectWrappedSubstrings(const QString& text, const std::vector<PMSubstringWrapper>& parts,
                                                            std::vector<PMWrappedSubstringPtr>* foldable, bool requireTagNameMatch,
                                                            bool canFoldSingleLineWrappers, int foldByDefaultType)
{
    std::vector<PMWrappedSubstringPtr> pairs;
    // Openings not yet matched, in text order; a closing looks back from the newest.
    std::vector<const PMSubstringWrapper*> open;
    for (const PMSubstringWrapper& part : parts) {
        if (part.opening) {
            open.push_back(&part);
            continue;
        }
        qsizetype match = -1;
        for (qsizetype k = qsizetype(open.size()) - 1; k >= 0; --k) {
            const PMSubstringWrapper* candidate = open[size_t(k)];
            if (candidate->type != part.type || candidate->range.location >= part.range.location)
                continue;
            if (requireTagNameMatch && candidate->tagName != part.tagName)
                continue;
            match = k;
            break;
        }
        if (match < 0)
            continue; // a stray closing: skipped, the pairing goes on
        const PMSubstringWrapper* opening = open[size_t(match)];
        open.erase(open.begin() + match);
        if (opening->range.end() > part.range.location)
            continue; // overlapping parts make no pair
        auto pair = std::make_shared<PMWrappedSubstring>(text, PMRange{opening->range.end(), part.range.location - opening->range.end()});
        pair->wrappingRange = PMRange{opening->range.location, part.range.end() - opening->range.location};
        pair->type = int(part.type);
        if (requireTagNameMatch)
            pair->tagName = part.tagName;
        pairs.push_back(pair);
        const bool multiLine = QStringView(text).mid(pair->range.location, pair->range.length).contains(QLatin1Char('\n'));
        if (foldable && (canFoldSingleLineWrappers || multiLine)) {
            pair->foldedByDefault = pair->type == foldByDefaultType;
            foldable->push_back(pair);
        }
    }
    return pairs;
}

unsigned PMJSONNestWrappedSubstrings(std::vector<PMWrappedSubstringPtr>& foldable)
{
    if (foldable.size() < 2)
        return 1;
    std::stable_sort(foldable.begin(), foldable.end(), [](const PMWrappedSubstringPtr& a, const PMWrappedSubstringPtr& b) {
        if (a->wrappingRange.location != b->wrappingRange.location)
            return a->wrappingRange.location < b->wrappingRange.location;
        return a->wrappingRange.length > b->wrappingRange.length;
    });
    unsigned levels = 1;
    std::vector<PMWrappedSubstring*> stack;
    const PMWrappedSubstring* previous = nullptr;
    for (const PMWrappedSubstringPtr& pair : foldable) {
        if (previous && previous->wrappingRange == pair->wrappingRange)
            PMLog("unexpected wrapped substring twins");
        previous = pair.get();
        // Pairs of different types may cross ("<dict><array></dict></array>"): every open
        // pair that does not hold this one goes, not only those on top.
        const qsizetype start = pair->wrappingRange.location;
        std::erase_if(stack, [start](const PMWrappedSubstring* open) { return !open->containsLocation(start); });
        pair->numberOfEnclosingWrappedSubstrings = unsigned(stack.size());
        pair->containedWrappedSubstrings.clear();
        for (PMWrappedSubstring* outer : stack)
            outer->containedWrappedSubstrings.push_back(pair.get());
        stack.push_back(pair.get());
        levels = std::max(levels, unsigned(stack.size()));
    }
    return levels;
}

std::optional<PMRange> PMJSONErrorRange(const QString& text, const QString& errorDescription)
{
    auto number = [&](const char* word) -> qint64 {
        const platform::RegularExpressionPtr e = platform::RegularExpression::cached(
            QStringLiteral("(?<=%1\\s)\\d+").arg(QLatin1String(word)), platform::RegularExpression::CaseInsensitive);
        platform::RegularExpression::Match match;
        if (!e || !e->firstMatch(errorDescription, &match))
            return -1;
        bool ok = false;
        const qint64 n = match.captured(errorDescription).toLongLong(&ok);
        return ok ? n : -1;
    };
    const qint64 line = number("line");
    if (line < 1)
        return std::nullopt;
    qsizetype start = 0;
    for (qint64 k = 1; k < line; ++k) {
        const qsizetype feed = text.indexOf(QLatin1Char('\n'), start);
        if (feed < 0)
            return std::nullopt;
        start = feed + 1;
    }
    // Our readers count columns from 1.
    const qint64 column = number("column");
    if (column >= 1 && column - 1 < text.size() - start)
        start += qsizetype(column - 1);
    const qsizetype feed = text.indexOf(QLatin1Char('\n'), start);
    const qsizetype end = feed < 0 ? text.size() : feed;
    return PMRange{start, end - start};
}

namespace {

// What the colouring of one format leaves for folding: the opening and closing parts of
// its pairs, and how they pair.
struct Wrappers {
    std::vector<PMSubstringWrapper> parts;
    bool present = false;
    bool tagNames = false;
    bool foldSingleLine = true;
    std::vector<PMSubstring> exclusionsForPairs;
};

void addSpan(PMJSONSyntaxResult& result, PMRange r, Role role)
{
    result.spans.push_back({r.location, r.length, role});
}

void markupSyntax(const PMJSONSyntaxInput& input, PMJSONSyntaxResult& result, Wrappers& wrappers)
{
    const QString& text = input.text;
    const bool colored = input.colored;
    std::vector<PMSubstring> collected;
    colorWithPattern(text, {0, text.size()}, QStringLiteral("<\\s*(?:/|!|\\?)?\\s*([^-]+?)(?:\\s|>|/)"), Role::Tag, std::nullopt, nullptr,
                     nullptr, colored, &result.spans);
    colorWithPattern(text, {0, text.size()}, QStringLiteral(">([^<]+)<"), Role::Key, std::nullopt, &collected, &collected, colored,
                     &result.spans);
    colorWithPattern(text, {0, text.size()}, QStringLiteral("(?<!\\\\)(?:\\\\\\\\)*(\".*?(?<!\\\\)(?:\\\\\\\\)*\")"), Role::Value,
                     std::nullopt, &collected, &collected, colored, &result.spans);
    if (input.showsGutter) {
        wrappers.present = true;
        wrappers.tagNames = true;
        wrappers.foldSingleLine = false;
        wrappers.parts = partsWithPattern(text, {0, text.size()}, QStringLiteral("(<\\s*[^/].*?>)|(<\\s*/[^!/]+?>)"), wrappers.exclusionsForPairs, true);
    }
}

void xmlSyntax(const PMJSONSyntaxInput& input, const Scanner& scan, PMJSONSyntaxResult& result, Wrappers& wrappers)
{
    const QString& text = input.text;
    auto span = [&](PMRange r, Role role) { addSpan(result, r, role); };
    if (input.colored) {
        scan.xmlTagNames([&](PMRange r) { span(r, Role::Tag); });
        Exclusions collection;
        scan.xmlKeys([&](PMRange r) {
            collection.add(r);
            span(r, Role::Key);
        });
        std::vector<PMRange> found;
        scan.xmlValues([&](PMRange r) {
            if (!collection.contains(r.location))
                found.push_back(r);
        });
        for (const PMRange& r : found) {
            collection.add(r);
            span(r, Role::Value);
        }
        found.clear();
        scan.quotedStrings(0, text.size(), false, [&](PMRange r, bool) {
            if (!collection.contains(r.location))
                found.push_back(r);
        });
        for (const PMRange& r : found) {
            collection.add(r);
            span(r, Role::Value);
        }
        scan.xmlBooleans(QLatin1StringView("true"), [&](PMRange r) {
            if (!collection.contains(r.location))
                span(r, Role::True);
        });
        scan.xmlBooleans(QLatin1StringView("false"), [&](PMRange r) {
            if (!collection.contains(r.location))
                span(r, Role::False);
        });
    }
    if (input.showsGutter) {
        wrappers.present = true;
        scan.xmlWrappers(&wrappers.parts);
    }
}

void jsonSyntax(const PMJSONSyntaxInput& input, const Scanner& scan, PMJSONSyntaxResult& result, Wrappers& wrappers)
{
    const QString& text = input.text;
    const bool colored = input.colored;
    auto span = [&](PMRange r, Role role) { addSpan(result, r, role); };
    result.reportsQuotedSubstrings = true;
    scan.quotedStrings(0, text.size(), true, [&](PMRange r, bool key) {
        result.quotedSubstrings.emplace_back(text, r, key);
        if (colored)
            span(r, key ? Role::Key : Role::Value);
    });
    Exclusions quoted;
    quoted.addAll(result.quotedSubstrings);
    if (colored) {
        scan.numbers([&](PMRange r) {
            if (!quoted.contains(r.location))
                span(r, Role::Tag);
        });
        scan.words(QLatin1StringView("true"), [&](PMRange r) {
            if (!quoted.contains(r.location))
                span(r, Role::True);
        });
        scan.words(QLatin1StringView("false"), [&](PMRange r) {
            if (!quoted.contains(r.location))
                span(r, Role::False);
        });
    }
    if (input.showsGutter) {
        wrappers.present = true;
        const QChar* data = text.constData();
        for (qsizetype i = 0; i < text.size(); ++i) {
            const char16_t c = data[i].unicode();
            unsigned type;
            bool opening;
            switch (c) {
            case u'{': type = 0; opening = true; break;
            case u'}': type = 0; opening = false; break;
            case u'[': type = 1; opening = true; break;
            case u']': type = 1; opening = false; break;
            default: continue;
            }
            if (!quoted.contains(i))
                wrappers.parts.push_back(PMSubstringWrapper{PMRange{i, 1}, type, opening, QString()});
        }
    }
}

// Lines and their levels; plain text may fold by indentation. Answers whether the lines
// without indentation stand out.
bool lineSyntax(const PMJSONSyntaxInput& input, PMJSONSyntaxResult& result, std::vector<PMWrappedSubstringPtr>& regions)
{
    const QString& text = input.text;
    auto span = [&](PMRange r, Role role) { addSpan(result, r, role); };
    const bool recordPrefix = input.recordPrefix;
    const bool indentationFolding = input.showsGutter && result.isPlainText;
    bool emphasize = result.isPlainText && input.colored && input.indentationPriority > 2;
    result.scannedLines = true;
    bool prefixRecorded = !recordPrefix;
    bool allowNonIndented = true;
    qsizetype indentedLines = 0;
    unsigned depth = 0;
    std::vector<qsizetype> regionStarts(1, 0);
    PMRange lastClosed;
    auto closeRegions = [&](unsigned downTo, qsizetype end) {
        while (depth > downTo) {
            const qsizetype start = regionStarts[depth];
            const PMRange wrapping{start, end - start};
            const PMRange inside{start + depth, end - (start + depth)};
            if (inside.length > 0 && !(wrapping == lastClosed)) {
                auto region = std::make_shared<PMWrappedSubstring>(text, inside);
                region->wrappingRange = wrapping;
                regions.push_back(region);
            }
            lastClosed = wrapping;
            --depth;
        }
    };
    qsizetype previousEnd = 0;
    const QChar* data = text.constData();
    const qsizetype n = text.size();
    for (qsizetype i = 0; i <= n; ++i) {
        if (i < n && data[i] != QLatin1Char('\n') && data[i] != QLatin1Char('\r'))
            continue;
        PMLineSubstring line(text, PMRange{previousEnd, i - previousEnd});
        const qsizetype first = previousEnd == 0 ? 0 : previousEnd + 1; // after the preceding break
        unsigned level = 0;
        if (line.range.length >= 2) {
            if (!prefixRecorded) {
                result.prefix = text.left(i);
                prefixRecorded = true;
            }
            qsizetype t = first;
            while (t < i && data[t] == QLatin1Char('\t'))
                ++t;
            if (t > first) {
                level = unsigned(t - first);
                ++indentedLines;
                allowNonIndented = true;
            } else {
                if (!allowNonIndented)
                    emphasize = false;
                allowNonIndented = false;
            }
        } else {
            allowNonIndented = true;
        }
        line.indentationLevel = level;
        if (indentationFolding) {
            closeRegions(level, previousEnd);
            if (level > depth) {
                regionStarts.resize(level + 1, 0);
                for (unsigned l = depth + 1; l <= level; ++l)
                    regionStarts[l] = first;
                depth = level;
            }
        }
        result.lineSubstrings.push_back(line);
        previousEnd = i;
        if (i == n)
            break;
    }
    if (indentationFolding)
        closeRegions(0, n);
    const qsizetype lines = qsizetype(result.lineSubstrings.size());
    if (emphasize && indentedLines > lines / 2) {
        for (const PMLineSubstring& line : result.lineSubstrings) {
            if (line.indentationLevel == 0) {
                span(line.range, Role::Value);
                result.emphasizedLines.push_back(line.range);
            }
        }
    } else {
        emphasize = false;
    }
    return emphasize;
}

// Style sheets inside markup: their strings and braces.
void styleSheetSyntax(const PMJSONSyntaxInput& input, PMJSONSyntaxResult& result)
{
    const QString& text = input.text;
    const bool colored = input.colored;
    std::vector<PMWrappedSubstringPtr> styles;
    for (const PMWrappedSubstringPtr& pair : result.allWrappedSubstrings) {
        if (pair->tagName == QLatin1String("style"))
            styles.push_back(pair);
    }
    for (const PMWrappedSubstringPtr& style : styles) {
        std::vector<PMSubstring> strings;
        colorWithPattern(text, style->range, QStringLiteral("(?<!\\\\)(?:\\\\\\\\)*(\".*?(?<!\\\\)(?:\\\\\\\\)*\")"), Role::Value,
                         std::nullopt, &strings, nullptr, colored, &result.spans);
        const std::vector<PMSubstringWrapper> braces = partsWithPattern(text, style->range, QStringLiteral("(\\{)|(\\})"), strings, false);
        const std::vector<PMWrappedSubstringPtr> blocks = collectWrappedSubstrings(text, braces, nullptr, false, false, -1);
        for (const PMWrappedSubstringPtr& block : blocks) {
            result.allWrappedSubstrings.push_back(block);
            colorWithPattern(text, block->range, QStringLiteral("[\\w\\-]+\\s*:"), Role::OtherCode, std::nullopt, nullptr, &strings,
                             colored, &result.spans);
        }
    }
}

} // namespace

PMJSONSyntaxResult PMJSONComputeSyntax(const PMJSONSyntaxInput& input)
{
    PMJSONSyntaxResult result;
    const QString& text = input.text;
    const Scanner scan(text);
    const bool colored = input.colored;
    const bool markup = input.markupMode;
    const bool dataFolding = input.showsGutter && !markup && input.autoFoldsData;

    if (colored)
        result.baseRole = (input.format == PMJSONTextViewFormatNone && !markup) ? Role::Key : Role::OtherCode;
    else
        result.baseRole = Role::Invalid;

    Wrappers wrappers;
    if (markup)
        markupSyntax(input, result, wrappers);
    else if (input.format == PMJSONTextViewFormatXML || input.format == PMJSONTextViewFormatXMLShorthand)
        xmlSyntax(input, scan, result, wrappers);
    else if (input.format == PMJSONTextViewFormatJSON || input.format == PMJSONTextViewFormatJSONShorthand)
        jsonSyntax(input, scan, result, wrappers);
    else
        result.isPlainText = true;
    result.hasWrapperPattern = wrappers.present;

    std::vector<PMWrappedSubstringPtr> regions;
    const bool scanLines = input.recordPrefix || input.indentationPriority >= 2;
    result.emphasizeNonIndentedLines = scanLines && lineSyntax(input, result, regions);

    std::vector<PMWrappedSubstringPtr> foldable;
    if (wrappers.present) {
        result.allWrappedSubstrings =
            collectWrappedSubstrings(text, wrappers.parts, &foldable, wrappers.tagNames, wrappers.foldSingleLine, dataFolding ? 2 : -1);
        if (markup)
            styleSheetSyntax(input, result);
    }
    foldable.insert(foldable.end(), regions.begin(), regions.end());
    result.numberOfHierarchyLevels = PMJSONNestWrappedSubstrings(foldable);
    result.foldableWrappedSubstrings = std::move(foldable);

    if (!input.errorDescription.isEmpty() && input.markErrorPosition)
        result.errorRange = PMJSONErrorRange(text, input.errorDescription);
    return result;
}
