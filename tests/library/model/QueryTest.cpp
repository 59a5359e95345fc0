#include "ModelFixture.h"

#include "library/model/PMParsedQuery.h"

namespace {

// The parsed query in one line: "M:" multiple-selection IDs, "F:" filter identifiers,
// "D:" duplicate keys, "R:" the terms, each in brackets with its alternatives separated by
// "|" and negated ones marked "!"; "nil" for no query.
QString describe(const PMParsedQueryPtr& query)
{
    if (!query)
        return QStringLiteral("nil");
    QStringList parts;
    if (!query->multipleSelectionIdentifierComponents.isEmpty())
        parts << QStringLiteral("M:") + query->multipleSelectionIdentifierComponents.join(u',');
    if (!query->filterIdentifierComponents.isEmpty())
        parts << QStringLiteral("F:") + query->filterIdentifierComponents.join(u',');
    if (!query->duplicateComponents.isEmpty())
        parts << QStringLiteral("D:") + query->duplicateComponents.join(u',');
    if (!query->regularComponentAlternativeCollections.isEmpty()) {
        QString terms = QStringLiteral("R:");
        for (const auto& collection : query->regularComponentAlternativeCollections) {
            QStringList alternatives;
            for (const PMParsedQueryAlternative& a : collection)
                alternatives << (a.negate ? QStringLiteral("!") : QString()) + a.string;
            terms += u'[' + alternatives.join(u'|') + u']';
        }
        parts << terms;
    }
    return parts.join(u' ');
}

} // namespace

TEST_F(ModelTest, QueryTextsParseIntoSelectionFilterDuplicateKeysAndTerms)
{
    const struct {
        const char* query;
        const char* parsed;
    } cases[] = {
        // Terms, alternatives, negation and quotes
        {"a b", "R:[a][b]"},
        {"a||b", "R:[a|b]"},
        {"a||b||-c d", "R:[a|b|!c][d]"},
        {"-a", "R:[!a]"},
        {"-", "R:[-]"},
        {"--x", "R:[!-x]"},
        {"-\"x\"", "R:[!x]"},
        {"\"-x\"", "R:[-x]"},
        {"\"\"", "R:[\"\"]"},
        {"\"x\"", "R:[x]"},
        {"\"a b\"", "R:[\"a][b\"]"}, // quotes do not hold blanks together
        {"a||", "R:[a]"},
        {"||a", "R:[a]"},
        {"\ta\n\nb ", "R:[a][b]"},
        // Nothing to search for
        {"", "nil"},
        {"   ", "nil"},
        {"||", "nil"},
        {"|| ||||", "nil"},
        // Multiple-selection identifiers: percent-decoded, strictly
        {"&=ABC", "M:ABC"},
        {"&=ABC%2D1%3A &=D", "M:ABC-1:,D"},
        {"&=a+b", "M:a+b"},
        {"&=%C3%A9t%C3%A9", "M:\xC3\xA9t\xC3\xA9"},
        {"&=", "nil"},
        {"a &=", "nil"},
        {"&=%", "nil"},
        {"&=%zz", "nil"},
        {"&=%4", "nil"},
        {"&=%E2%82", "nil"}, // an escape that is not UTF-8
        // Filter identifiers: one flat list, not decoded
        {"==A|B ==C", "F:A,B,C"},
        {"==A||B|", "F:A,B"},
        {"==S1: x", "F:S1: R:[x]"},
        {"==%41", "F:%41"},
        {"==", "nil"},
        {"==|", "nil"},
        {"==||| a", "nil"},
        {"a ==", "nil"},
        // Duplicate keys: lower-cased, known keys only, one image hash
        {"?=Name", "D:name"},
        {"?=location ?=size ?=FileSize ?=time ?=duration", "D:location,size,filesize,time,duration"},
        {"?=dhash ?=size", "D:dhash,size"},
        {"?=dHash12", "D:dhash12"},
        {"?=dhash ?=hash", "nil"},
        {"?=raster ?=signature", "nil"},
        {"?=nosuchtag", "nil"},
        {"?=", "nil"},
        {"x ?=", "nil"},
        // Everything at once, in order
        {"x &=ID1 ==S1: ?=time -y||z &=ID2", "M:ID1,ID2 F:S1: D:time R:[x][!y|z]"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.query);
        EXPECT_EQ(describe(PMParsedQuery::parsedQuery(QString::fromUtf8(c.query))), QString::fromUtf8(c.parsed));
    }
}

TEST_F(ModelTest, DuplicateKeysNameTheirCriterionAndImageHashResolution)
{
    using Q = PMParsedQuery;
    const struct {
        const char* key;
        long long criterion;
        long long resolution;
    } cases[] = {
        {"name", Q::DuplicateName, 7},     {"location", Q::DuplicateLocation, 7}, {"dhash", Q::DuplicateImageHash, 7},
        {"dhash0", Q::DuplicateImageHash, 7}, {"dhash3", Q::DuplicateImageHash, 3}, {"dhash-2", Q::DuplicateImageHash, 7},
        {"hash", Q::DuplicateImageHash, 7}, {"raster", Q::DuplicateImageHash, 7}, {"signature", Q::DuplicateImageHash, 7},
        {"size", Q::DuplicateFileSize, 7}, {"filesize", Q::DuplicateFileSize, 7}, {"time", Q::DuplicateDuration, 7},
        {"duration", Q::DuplicateDuration, 7}, {"genre", Q::DuplicateUnknown, 7}, {"", Q::DuplicateUnknown, 7},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key);
        EXPECT_EQ(Q::criterionForDuplicateQueryComponent(QString::fromUtf8(c.key)), c.criterion);
        EXPECT_EQ(Q::imageHashResolutionForDuplicateQueryComponent(QString::fromUtf8(c.key)), c.resolution);
    }
}
