#include "library/maintenance/PMExtendedRegularExpression.h"

#include "foundation/PMLog.h"
#include "platform/CallStack.h"
#include "platform/Locale.h"

#include <QtCore/QHash>
#include <QtCore/QLocale>

#include <unicode/dtptngen.h>
#include <unicode/locid.h>

#include <mutex>

using platform::RegularExpression;
using platform::RegularExpressionPtr;

namespace {

// A backslash that is not itself escaped and begins a conversion. The date formats are
// matched without greed, so that a ")" later in the template and a second date escape
// stay outside; inside a format ")" is written "\)".
const QString kDetectorPattern = QStringLiteral(
    "(^|[^\\\\])(\\\\\\\\)*(\\\\([lLuUE]|D\\s*\\(((?:[^)\\\\]|\\\\.)*)\\)\\s*>\\s*\\(((?:[^)\\\\]|\\\\.)*)\\)))");
constexpr int kEscapeGroup = 3;
constexpr int kInputFormatGroup = 5;
constexpr int kOutputFormatGroup = 6;

const RegularExpressionPtr& conversionDetector()
{
    static const RegularExpressionPtr detector = [] {
        QString error;
        RegularExpressionPtr expression = RegularExpression::make(kDetectorPattern, 0, &error);
        if (!expression)
            PMLog("[PMExtendedRegularExpression] cannot set up conversion detector: %@", error);
        return expression;
    }();
    return detector;
}

bool usesDayPeriod(const icu::Locale& locale)
{
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::DateTimePatternGenerator> generator(icu::DateTimePatternGenerator::createInstance(locale, status));
    if (U_FAILURE(status) || !generator)
        return false;
    const icu::UnicodeString pattern = generator->getBestPattern(icu::UnicodeString("j"), status);
    return U_SUCCESS(status) && pattern.indexOf(u'a') >= 0;
}

// Month and day names in the user's language without other local variation: the first
// preferred language with "_POSIX", when ICU knows that language and its clock agrees with
// the current locale's on a day-period marker; else "en_US_POSIX".
QString dateConversionLocaleName()
{
    static const QString name = [] {
        const QStringList languages = QLocale::system().uiLanguages();
        const QString fallback = QStringLiteral("en_US_POSIX");
        if (languages.isEmpty())
            return fallback;
        QString identifier = languages.first();
        identifier.replace(QLatin1Char('-'), QLatin1Char('_'));
        if (!identifier.endsWith(QLatin1String("_POSIX")))
            identifier += QLatin1String("_POSIX");
        const QString current = platform::userLocaleName();
        if (identifier == current)
            return fallback;
        const icu::Locale candidate(identifier.toLatin1().constData());
        if (candidate.isBogus())
            return fallback;
        bool known = false;
        int32_t count = 0;
        const icu::Locale* available = icu::Locale::getAvailableLocales(count);
        for (int32_t i = 0; i < count && !known; ++i)
            known = qstrcmp(available[i].getLanguage(), candidate.getLanguage()) == 0;
        if (!known)
            return fallback;
        if (usesDayPeriod(candidate) != usesDayPeriod(icu::Locale(current.toLatin1().constData())))
            return fallback;
        return identifier;
    }();
    return name;
}

std::mutex& templateCacheLock()
{
    static std::mutex lock;
    return lock;
}

std::unique_ptr<QHash<QString, PMERETemplatePtr>>& templateCache()
{
    static std::unique_ptr<QHash<QString, PMERETemplatePtr>> cache;
    return cache;
}

} // namespace

QList<PMEREConversionPtr> PMEREConversion::conversionsInString(const QString& string)
{
    QList<PMEREConversionPtr> conversions;
    if (string.size() < 2 || !string.contains(QLatin1Char('\\')))
        return conversions;
    const RegularExpressionPtr& detector = conversionDetector();
    if (!detector)
        return conversions;
    for (const RegularExpression::Match& match : detector->matches(string)) {
        const RegularExpression::Range range = match.range(kEscapeGroup);
        auto conversion = std::make_shared<PMEREConversion>();
        conversion->rangeLocation = range.start;
        conversion->rangeLength = range.length;
        const QString escape = string.mid(range.start, range.length);
        if (escape == QLatin1String("\\l"))
            conversion->type = LowercaseNext;
        else if (escape == QLatin1String("\\L"))
            conversion->type = Lowercase;
        else if (escape == QLatin1String("\\u"))
            conversion->type = UppercaseNext;
        else if (escape == QLatin1String("\\U"))
            conversion->type = Uppercase;
        else if (escape == QLatin1String("\\E"))
            conversion->type = End;
        else {
            conversion->type = Date;
            conversion->inputFormat = match.captured(string, kInputFormatGroup).replace(QLatin1String("\\)"), QLatin1String(")"));
            conversion->outputFormat = match.captured(string, kOutputFormatGroup).replace(QLatin1String("\\)"), QLatin1String(")"));
            // One formatter object per conversion; its format is set for each use.
            conversion->dateFormatter = std::make_shared<platform::DateFormatter>(conversion->inputFormat, dateConversionLocaleName());
        }
        conversions.append(conversion);
    }
    return conversions;
}

QString PMEREConversion::processDateString(const QString& string) const
{
    if (inputFormat.isEmpty() || outputFormat.isEmpty())
        return string;
    // A date formatter is not safe for two threads at once: read and write with formatters
    // of this call, in the conversion's locale.
    const QString locale = dateFormatter ? dateFormatter->localeName() : QStringLiteral("en_US_POSIX");
    const platform::DateFormatter input(inputFormat, locale);
    platform::Date date;
    if (!input.dateFromString(string, &date))
        return string;
    const platform::DateFormatter output(outputFormat, locale);
    const QString result = output.stringFromDate(date);
    return result.isEmpty() ? string : result;
}

const QString& PMERETemplate::placeholder()
{
    static const QString text = QStringLiteral("/:com.tolvane.PMEREConversionPlaceholder:/");
    return text;
}

PMERETemplatePtr PMERETemplate::templateWithString(const QString& string)
{
    std::lock_guard guard(templateCacheLock());
    auto& cache = templateCache();
    if (string.isNull()) {
        cache.reset();
        return nullptr;
    }
    if (!cache)
        cache = std::make_unique<QHash<QString, PMERETemplatePtr>>();
    if (const auto it = cache->constFind(string); it != cache->cend())
        return *it;
    auto parsed = std::make_shared<PMERETemplate>();
    parsed->conversions = PMEREConversion::conversionsInString(string);
    QString withPlaceholders = string;
    qsizetype shift = 0;
    for (const PMEREConversionPtr& conversion : std::as_const(parsed->conversions)) {
        withPlaceholders.replace(conversion->rangeLocation + shift, conversion->rangeLength, placeholder());
        shift += placeholder().size() - conversion->rangeLength;
    }
    parsed->stringWithPlaceholders = withPlaceholders;
    cache->insert(string, parsed);
    return parsed;
}

QString PMERETemplate::applyConversionsToString(const QString& string) const
{
    if (string.isEmpty())
        return QStringLiteral("");
    if (conversions.isEmpty())
        return string;
    QStringList fragments = string.split(placeholder());
    if (fragments.size() != conversions.size() + 1) {
        PMLog("[PMExtendedRegularExpression] case conversion inconsistency: %lu fragments expected, %lu found: %@",
              (unsigned long)(conversions.size() + 1), (unsigned long)fragments.size(), fragments.join(QStringLiteral(", ")));
        return string;
    }
    QString result = fragments.first();
    for (qsizetype i = 1; i < fragments.size(); ++i) {
        const QString& fragment = fragments[i];
        if (fragment.isEmpty())
            continue;
        const PMEREConversion& conversion = *conversions[i - 1];
        switch (conversion.type) {
        case PMEREConversion::LowercaseNext:
            result += fragment.left(1).toLower() + fragment.mid(1);
            break;
        case PMEREConversion::Lowercase:
            result += fragment.toLower();
            break;
        case PMEREConversion::UppercaseNext:
            result += fragment.left(1).toUpper() + fragment.mid(1);
            break;
        case PMEREConversion::Uppercase:
            result += fragment.toUpper();
            break;
        case PMEREConversion::Date:
            result += conversion.processDateString(fragment);
            break;
        default:
            result += fragment;
            break;
        }
    }
    return result;
}

void PMERETemplateFlushCache()
{
    PMERETemplate::templateWithString(QString());
}

QString stringByReplacingMatchesInString(const RegularExpression& expression, const QString& subject, const QString& withExtendedTemplate,
                                         QString* getFailure)
{
    if (subject.isNull() || withExtendedTemplate.isNull())
        return subject;
    const PMERETemplatePtr parsed = PMERETemplate::templateWithString(withExtendedTemplate);
    QList<RegularExpression::Match> matches;
    QStringList expansions;
    QString error;
    if (!expression.expandedTemplatesOfMatches(subject, parsed->stringWithPlaceholders, &matches, &expansions, &error)) {
        if (error.isEmpty() || error == QLatin1String("U_REGEX_TIME_OUT") || error == QLatin1String("U_REGEX_STACK_OVERFLOW")
            || error == QLatin1String("U_INPUT_TOO_LONG_ERROR")) {
            if (getFailure)
                *getFailure = error.isEmpty() ? QStringLiteral("matching failed") : error;
            return subject;
        }
        // A malformed template expands to nothing: each match is removed.
        PMLog("[PMExtendedRegularExpression] ignoring regular expression replacement exception: %@ (reason: %@) <= %@",
              QStringLiteral("RegularExpressionTemplateException"), error, platform::callStackDescription());
        matches = expression.matches(subject);
        expansions = QStringList(matches.size(), QString());
    }
    QString result = subject;
    qsizetype offset = 0;
    for (qsizetype i = 0; i < matches.size(); ++i) {
        const QString replacement = parsed->applyConversionsToString(expansions[i]);
        const RegularExpression::Range range = matches[i].range();
        result.replace(range.start + offset, range.length, replacement);
        offset += replacement.size() - range.length;
    }
    return result;
}
