// Regular expressions with the platform's syntax: ICU patterns and "$1" replacement
// templates. A compiled expression is immutable and may be shared between threads.
#pragma once

#include <QtCore/QList>
#include <QtCore/QString>
#include <QtCore/QStringList>

#include <memory>

namespace platform {

class RegularExpression;
using RegularExpressionPtr = std::shared_ptr<const RegularExpression>;

class RegularExpression {
public:
    enum Option {
        CaseInsensitive = 1,
        AllowCommentsAndWhitespace = 2,
        IgnoreMetacharacters = 4,
        DotMatchesLineSeparators = 8,
        AnchorsMatchLines = 16,
    };

    // One match: the range of the whole match and of each capture group (a group that took
    // no part has the start -1).
    struct Range {
        qsizetype start = -1;
        qsizetype length = 0;
        bool found() const { return start >= 0; }
        qsizetype end() const { return start + length; }
    };
    struct Match {
        QList<Range> ranges; // [0] the whole match, then the groups in order
        Range range(int group = 0) const { return group < ranges.size() ? ranges[group] : Range(); }
        QString captured(const QString& subject, int group = 0) const;
    };

    // The compiled expression, or null (and the error's text) when the pattern does not compile.
    static RegularExpressionPtr make(const QString& pattern, int options = 0, QString* error = nullptr);
    ~RegularExpression();

    const QString& pattern() const { return m_pattern; }
    int numberOfCaptureGroups() const;

    // The first match at or after `from`; with `anchored`, only a match that begins at `from`.
    // No match either when the matching failed: then `error` gets ICU's name of the failure
    // ("U_REGEX_TIME_OUT" for a pattern that backtracked past its time limit).
    bool firstMatch(const QString& subject, Match* getMatch, qsizetype from = 0, bool anchored = false, QString* error = nullptr) const;
    // Every match from the start, not overlapping.
    QList<Match> matches(const QString& subject) const;
    qsizetype numberOfMatches(const QString& subject) const;
    // Every match replaced by the template ("$1" for group 1, "\$" for a dollar sign).
    QString stringByReplacingMatches(const QString& subject, const QString& replacementTemplate) const;
    // Every match with the template expanded for it (the text that would replace it). False,
    // with ICU's name of the error, when the template is malformed (a "$" without a group
    // number, a group that does not exist) or the matching failed ("U_REGEX_TIME_OUT",
    // "U_REGEX_STACK_OVERFLOW", "U_INPUT_TOO_LONG_ERROR").
    bool expandedTemplatesOfMatches(const QString& subject, const QString& replacementTemplate, QList<Match>* getMatches,
                                    QStringList* getExpansions, QString* error = nullptr) const;

    // An expression compiled once for the lifetime of the process, by pattern and options;
    // null when it does not compile.
    static RegularExpressionPtr cached(const QString& pattern, int options = 0);
    // Replaces every match of the pattern in the subject; the subject unchanged when the
    // pattern does not compile.
    static QString replace(const QString& subject, const QString& pattern, const QString& replacementTemplate, int options = 0);

private:
    RegularExpression() = default;
    QString m_pattern;
    struct Compiled;
    std::unique_ptr<Compiled> m_compiled;
};

} // namespace platform
