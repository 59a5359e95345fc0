#include "platform/RegularExpression.h"

#include <QtCore/QHash>

#include <unicode/regex.h>

#include <mutex>

namespace platform {

namespace {

// A read-only ICU view of the QString's UTF-16 text: no copy.
icu::UnicodeString alias(const QString& s)
{
    return icu::UnicodeString(false, reinterpret_cast<const UChar*>(s.utf16()), int32_t(s.size()));
}

QString toQString(const icu::UnicodeString& s)
{
    return QString(reinterpret_cast<const QChar*>(s.getBuffer()), s.length());
}

// The texts ICU handles are indexed by 32-bit numbers.
constexpr qsizetype kMaxSubjectLength = 0x7fffffff;

// Patterns come from users too (batch rename, extension lists): a pattern that backtracks
// without end gives up after a while instead of hanging the program. The unit is ICU's
// step counter (ten thousand match steps each); long texts get time in proportion, so an
// ordinary pattern over a large text always finishes.
int32_t matchTimeLimit(qsizetype subjectLength)
{
    return int32_t(std::min<qsizetype>(2000 + subjectLength / 1000, 0x7fffffff));
}

std::unique_ptr<icu::RegexMatcher> newMatcher(const icu::RegexPattern& pattern, const icu::UnicodeString* text, UErrorCode& status)
{
    std::unique_ptr<icu::RegexMatcher> matcher(text ? pattern.matcher(*text, status) : pattern.matcher(status));
    if (U_SUCCESS(status) && matcher)
        matcher->setTimeLimit(matchTimeLimit(text ? text->length() : 0), status);
    return matcher;
}

} // namespace

struct RegularExpression::Compiled {
    std::unique_ptr<icu::RegexPattern> pattern;
};

RegularExpression::~RegularExpression() = default;

QString RegularExpression::Match::captured(const QString& subject, int group) const
{
    const Range r = range(group);
    return r.found() ? subject.mid(r.start, r.length) : QString();
}

RegularExpressionPtr RegularExpression::make(const QString& pattern, int options, QString* error)
{
    uint32_t flags = 0;
    if (options & CaseInsensitive)
        flags |= UREGEX_CASE_INSENSITIVE;
    if (options & AllowCommentsAndWhitespace)
        flags |= UREGEX_COMMENTS;
    if (options & IgnoreMetacharacters)
        flags |= UREGEX_LITERAL;
    if (options & DotMatchesLineSeparators)
        flags |= UREGEX_DOTALL;
    if (options & AnchorsMatchLines)
        flags |= UREGEX_MULTILINE;
    UErrorCode status = U_ZERO_ERROR;
    UParseError parseError{};
    std::unique_ptr<icu::RegexPattern> compiled(icu::RegexPattern::compile(alias(pattern), flags, parseError, status));
    if (U_FAILURE(status) || !compiled) {
        if (error)
            *error = QStringLiteral("the pattern %1 does not compile: %2 (offset %3)")
                         .arg(pattern, QString::fromLatin1(u_errorName(status)))
                         .arg(parseError.offset);
        return nullptr;
    }
    std::shared_ptr<RegularExpression> expression(new RegularExpression());
    expression->m_pattern = pattern;
    expression->m_compiled = std::make_unique<Compiled>();
    expression->m_compiled->pattern = std::move(compiled);
    return expression;
}

int RegularExpression::numberOfCaptureGroups() const
{
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::RegexMatcher> matcher = newMatcher(*m_compiled->pattern, nullptr, status);
    return U_SUCCESS(status) ? matcher->groupCount() : 0;
}

namespace {

RegularExpression::Match matchOf(icu::RegexMatcher& matcher)
{
    RegularExpression::Match match;
    UErrorCode status = U_ZERO_ERROR;
    const int groups = matcher.groupCount();
    match.ranges.reserve(groups + 1);
    for (int g = 0; g <= groups; ++g) {
        status = U_ZERO_ERROR;
        const int32_t start = matcher.start(g, status);
        const int32_t end = matcher.end(g, status);
        RegularExpression::Range r;
        if (U_SUCCESS(status) && start >= 0) {
            r.start = start;
            r.length = end - start;
        }
        match.ranges.append(r);
    }
    return match;
}

} // namespace

bool RegularExpression::firstMatch(const QString& subject, Match* getMatch, qsizetype from, bool anchored, QString* error) const
{
    if (subject.size() > kMaxSubjectLength || from < 0 || from > subject.size())
        return false;
    const icu::UnicodeString text = alias(subject);
    UErrorCode status = U_ZERO_ERROR;
    const auto failed = [&] {
        if (error)
            *error = QString::fromLatin1(u_errorName(status));
        return false;
    };
    std::unique_ptr<icu::RegexMatcher> matcher = newMatcher(*m_compiled->pattern, &text, status);
    if (U_FAILURE(status))
        return failed();
    bool found = false;
    if (anchored) {
        matcher->region(from, subject.size(), status);
        found = U_SUCCESS(status) && matcher->lookingAt(status);
    } else {
        found = matcher->find(from, status);
    }
    if (U_FAILURE(status))
        return failed();
    if (!found)
        return false;
    if (getMatch)
        *getMatch = matchOf(*matcher);
    return true;
}

QList<RegularExpression::Match> RegularExpression::matches(const QString& subject) const
{
    QList<Match> result;
    if (subject.size() > kMaxSubjectLength)
        return result;
    const icu::UnicodeString text = alias(subject);
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::RegexMatcher> matcher = newMatcher(*m_compiled->pattern, &text, status);
    if (U_FAILURE(status))
        return result;
    while (matcher->find(status) && U_SUCCESS(status))
        result.append(matchOf(*matcher));
    return result;
}

qsizetype RegularExpression::numberOfMatches(const QString& subject) const
{
    if (subject.size() > kMaxSubjectLength)
        return 0;
    const icu::UnicodeString text = alias(subject);
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::RegexMatcher> matcher = newMatcher(*m_compiled->pattern, &text, status);
    qsizetype count = 0;
    while (U_SUCCESS(status) && matcher->find(status) && U_SUCCESS(status))
        ++count;
    return count;
}

QString RegularExpression::stringByReplacingMatches(const QString& subject, const QString& replacementTemplate) const
{
    if (subject.size() > kMaxSubjectLength)
        return subject;
    const icu::UnicodeString text = alias(subject);
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::RegexMatcher> matcher = newMatcher(*m_compiled->pattern, &text, status);
    if (U_FAILURE(status))
        return subject;
    const icu::UnicodeString result = matcher->replaceAll(alias(replacementTemplate), status);
    if (U_FAILURE(status))
        return subject;
    return toQString(result);
}

bool RegularExpression::expandedTemplatesOfMatches(const QString& subject, const QString& replacementTemplate, QList<Match>* getMatches,
                                                   QStringList* getExpansions, QString* error) const
{
    if (subject.size() > kMaxSubjectLength) {
        if (error)
            *error = QStringLiteral("U_INPUT_TOO_LONG_ERROR");
        return false;
    }
    const icu::UnicodeString text = alias(subject);
    const icu::UnicodeString replacement = alias(replacementTemplate);
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::RegexMatcher> matcher = newMatcher(*m_compiled->pattern, &text, status);
    if (U_FAILURE(status))
        return false;
    int32_t appendPosition = 0;
    while (matcher->find(status) && U_SUCCESS(status)) {
        const Match match = matchOf(*matcher);
        // appendReplacement writes the text since the last match, then the expansion.
        icu::UnicodeString piece;
        matcher->appendReplacement(piece, replacement, status);
        if (U_FAILURE(status)) {
            if (error)
                *error = QString::fromLatin1(u_errorName(status));
            return false;
        }
        const int32_t skipped = int32_t(match.range().start) - appendPosition;
        appendPosition = int32_t(match.range().end());
        if (getMatches)
            getMatches->append(match);
        if (getExpansions)
            getExpansions->append(toQString(piece.tempSubString(skipped)));
    }
    if (U_FAILURE(status) && error)
        *error = QString::fromLatin1(u_errorName(status));
    return U_SUCCESS(status);
}

RegularExpressionPtr RegularExpression::cached(const QString& pattern, int options)
{
    static std::mutex lock;
    static QHash<QString, RegularExpressionPtr> cache;
    const QString key = QString::number(options) + QLatin1Char(':') + pattern;
    std::lock_guard guard(lock);
    const auto it = cache.constFind(key);
    if (it != cache.cend())
        return *it;
    RegularExpressionPtr expression = make(pattern, options);
    if (cache.size() > 4096)
        cache.clear();
    cache.insert(key, expression);
    return expression;
}

QString RegularExpression::replace(const QString& subject, const QString& pattern, const QString& replacementTemplate, int options)
{
    const RegularExpressionPtr expression = cached(pattern, options);
    return expression ? expression->stringByReplacingMatches(subject, replacementTemplate) : subject;
}

} // namespace platform
