// The folding model of the property-list editor, apart from any widget: the marks that
// keep folded ranges between passes (they follow the edits of the text), the folded state
// a pass decides for each foldable pair, and the state string that carries the folding
// over a wholesale replacement of the text ("-" folded, "+" unfolded, one per pair).
#pragma once

#include "ui/plist_editor/PMSubstring.h"

#include <optional>
#include <vector>

// What the text keeps between passes, in place of the text attributes
// "com.tolvane.TextAttribute.Folded" over the wrapping range of each folded pair
// (remembering the pair's inside and wrapping lengths) and "com.tolvane.TextAttribute.Hidden"
// over its inside: ranges that move with the edits of the text.
// Where two Folded marks cover one place, the one set last counts.
class PMJSONFoldMarks {
public:
    struct Folded {
        PMRange range;
        qsizetype insideLength = 0;
        qsizetype wrappingLength = 0;
    };

    void addFolded(const PMWrappedSubstring& pair);
    void addHidden(PMRange range);
    // Takes the Folded mark off the range (marks reaching beyond it keep their other parts).
    void removeFolded(PMRange range);
    void removeAll();
    bool isEmpty() const { return m_folded.empty() && m_hidden.empty(); }

    bool isHidden(qsizetype location) const;
    const Folded* foldedAt(qsizetype location) const;
    const std::vector<Folded>& folded() const { return m_folded; }
    const std::vector<PMRange>& hidden() const { return m_hidden; }

    // The text changed: `removed` units at `position` became `added` units.
    void textChanged(qsizetype position, qsizetype removed, qsizetype added);

private:
    std::vector<Folded> m_folded;
    std::vector<PMRange> m_hidden;
};

struct PMJSONFoldingOptions {
    std::optional<QString> cachedFoldingState;
    bool preserveFoldingStateViaAttribute = false;
};

// Decides the folded state of each foldable pair (sorted and nested) and leaves the marks
// that the next pass reads: with a cached state string of one character per pair, its
// "-" pairs; with one of another length, the default folding; without one, the marks of
// the last pass while preserving, else the default folding. Only the outermost folded
// pair counts: the pairs inside it are unfolded and implicitly hidden. Answers the folded
// pairs in order.
std::vector<PMWrappedSubstring*> PMJSONApplyFolding(const std::vector<PMWrappedSubstringPtr>& foldable, PMJSONFoldMarks& marks,
                                                    const PMJSONFoldingOptions& options);

// "-" and "+" per pair, or nothing when every pair is in its default state (or none).
std::optional<QString> PMJSONFoldingState(const std::vector<PMWrappedSubstringPtr>& foldable);

struct PMJSONFoldingAbilities {
    bool canFold = false;
    bool canUnfold = false;
    bool canRestoreDefault = false;
};
PMJSONFoldingAbilities PMJSONFoldingAbilitiesOf(const std::vector<PMWrappedSubstringPtr>& foldable);
