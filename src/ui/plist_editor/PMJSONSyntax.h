// The editor's colouring and structure pass as a plain function: a text and the facts
// about it (its format, whether it parsed) in; the colour runs, the quoted strings, the
// lines with their levels, every bracket or tag pair, the foldable pairs nested, and the
// place of a syntax error out. It touches no widget, so it runs on any thread.
#pragma once

#include "foundation/PMLSONSerialization.h"
#include "ui/plist_editor/PMSubstring.h"

#include <QtCore/QString>

#include <cstdint>
#include <optional>
#include <vector>

// What a run of text is coloured as; the view turns roles into colours for its appearance.
enum class PMJSONColorRole : std::uint8_t {
    Key = 0, // the control text colour
    Tag,     // tag names, numbers
    Value,   // values, strings
    True,
    False,
    OtherCode, // punctuation and brackets
    Invalid,   // text that does not parse
};

struct PMJSONColorSpan {
    qsizetype start = 0;
    qsizetype length = 0;
    PMJSONColorRole role = PMJSONColorRole::Key;
};

struct PMJSONSyntaxInput {
    QString text;
    PMJSONTextViewFormat format = PMJSONTextViewFormatNone; // after the lenient rule
    bool colored = false;    // the text has a (validated) value
    bool markupMode = false; // lenient markup: no value, but tags
    bool showsGutter = true;
    bool autoFoldsData = false; // `data` elements fold by default
    int indentationPriority = 3;
    bool recordPrefix = false;  // the first long line becomes the remembered prefix
    QString errorDescription;   // the reader's error; empty when there is none
    bool markErrorPosition = true;
};

struct PMJSONSyntaxResult {
    PMJSONColorRole baseRole = PMJSONColorRole::Key;
    // In the order they were applied: a later span wins where two overlap.
    std::vector<PMJSONColorSpan> spans;
    // Lines at level 0 set a little larger (plain text with emphasis).
    std::vector<PMRange> emphasizedLines;
    std::vector<PMSubstring> quotedSubstrings; // JSON only
    bool reportsQuotedSubstrings = false;
    std::vector<PMLineSubstring> lineSubstrings;
    bool scannedLines = false;
    std::optional<QString> prefix;
    bool isPlainText = false;
    bool emphasizeNonIndentedLines = false;
    bool hasWrapperPattern = false;
    std::vector<PMWrappedSubstringPtr> allWrappedSubstrings;      // every pair, as found
    std::vector<PMWrappedSubstringPtr> foldableWrappedSubstrings; // sorted and nested
    unsigned numberOfHierarchyLevels = 1;
    std::optional<PMRange> errorRange; // the error background
};

PMJSONSyntaxResult PMJSONComputeSyntax(const PMJSONSyntaxInput& input);

// Pairs the parts in text order: each closing takes the most recent unmatched opening of
// its type before it (and, with `requireTagNameMatch`, of its tag name). A closing with
// no opening is skipped and the pairing goes on with the next one. Answers every pair in
// the order found; those that may fold (single-line ones only with
// `canFoldSingleLineWrappers`) also go to `foldable`; a foldable pair of `foldByDefaultType`
// is folded by default.
std::vector<PMWrappedSubstringPtr> collectWrappedSubstrings(const QString& text, const std::vector<PMSubstringWrapper>& parts,
                                                            std::vector<PMWrappedSubstringPtr>* foldableWrappedSubstrings,
                                                            bool requireTagNameMatch, bool canFoldSingleLineWrappers,
                                                            int foldByDefaultType);

// Sorts the foldable pairs (by start, the longer first) and works out their nesting;
// answers the number of hierarchy levels.
unsigned PMJSONNestWrappedSubstrings(std::vector<PMWrappedSubstringPtr>& foldable);

// The place a reader's error names ("line N", "column C", columns counted from 1): from
// there to the end of its line; nothing when the error names no line of the text.
std::optional<PMRange> PMJSONErrorRange(const QString& text, const QString& errorDescription);
