#include "ui/plist_editor/PMJSONFolding.h"

#include "foundation/PMLog.h"

#include <algorithm>

void PMJSONFoldMarks::addFolded(const PMWrappedSubstring& pair)
{
    m_folded.push_back({pair.wrappingRange, pair.range.length, pair.wrappingRange.length});
}

void PMJSONFoldMarks::addHidden(PMRange range)
{
    if (range.length > 0)
        m_hidden.push_back(range);
}

void PMJSONFoldMarks::removeFolded(PMRange range)
{
    std::vector<Folded> kept;
    kept.reserve(m_folded.size());
    for (const Folded& mark : m_folded) {
        if (mark.range.end() <= range.location || mark.range.location >= range.end()) {
            kept.push_back(mark);
            continue;
        }
        if (mark.range.location < range.location) {
            Folded before = mark;
            before.range.length = range.location - mark.range.location;
            kept.push_back(before);
        }
        if (mark.range.end() > range.end()) {
            Folded after = mark;
            after.range = PMRange{range.end(), mark.range.end() - range.end()};
            kept.push_back(after);
        }
    }
    m_folded = std::move(kept);
}

void PMJSONFoldMarks::removeAll()
{
    m_folded.clear();
    m_hidden.clear();
}

bool PMJSONFoldMarks::isHidden(qsizetype location) const
{
    return std::any_of(m_hidden.begin(), m_hidden.end(), [&](const PMRange& r) { return location >= r.location && location < r.end(); });
}

const PMJSONFoldMarks::Folded* PMJSONFoldMarks::foldedAt(qsizetype location) const
{
    for (auto it = m_folded.rbegin(); it != m_folded.rend(); ++it) {
        if (location >= it->range.location && location < it->range.end())
            return &*it;
    }
    return nullptr;
}

namespace {

void shift(PMRange& r, qsizetype position, qsizetype removed, qsizetype added)
{
    auto move = [&](qsizetype p) {
        if (p <= position)
            return p;
        if (p >= position + removed)
            return p + added - removed;
        return position; // inside the removed text
    };
    const qsizetype start = move(r.location);
    const qsizetype end = std::max(start, move(r.end()));
    r = PMRange{start, end - start};
}

} // namespace

void PMJSONFoldMarks::textChanged(qsizetype position, qsizetype removed, qsizetype added)
{
    for (Folded& mark : m_folded)
        shift(mark.range, position, removed, added);
    for (PMRange& r : m_hidden)
        shift(r, position, removed, added);
    std::erase_if(m_folded, [](const Folded& m) { return m.range.length == 0; });
    std::erase_if(m_hidden, [](const PMRange& r) { return r.length == 0; });
}

std::vector<PMWrappedSubstring*> PMJSONApplyFolding(const std::vector<PMWrappedSubstringPtr>& foldable, PMJSONFoldMarks& marks,
                                                    const PMJSONFoldingOptions& options)
{
    bool foldedInCollection = false;
    for (const PMWrappedSubstringPtr& pair : foldable) {
        pair->implicitlyHidden = false;
        if (options.cachedFoldingState) {
            pair->folded = false;
        } else if (options.preserveFoldingStateViaAttribute) {
            if (pair->type < 0) {
                // An indentation region: its own start carries the mark.
                const PMJSONFoldMarks::Folded* mark = marks.foldedAt(pair->wrappingRange.location);
                pair->folded = !marks.isHidden(pair->range.location) && mark && mark->wrappingLength == pair->wrappingRange.length;
            } else if (!marks.isHidden(pair->wrappingRange.location)) {
                const PMJSONFoldMarks::Folded* mark = marks.foldedAt(pair->range.location);
                pair->folded = mark && mark->insideLength == pair->range.length;
            } else {
                pair->folded = pair->foldedByDefault;
            }
        } else {
            pair->folded = pair->foldedByDefault;
        }
        foldedInCollection = foldedInCollection || pair->folded;
    }
    marks.removeAll();
    if (options.cachedFoldingState) {
        const QString& state = *options.cachedFoldingState;
        if (size_t(state.size()) == foldable.size()) {
            if (!foldedInCollection) {
                for (size_t k = 0; k < foldable.size(); ++k)
                    foldable[k]->folded = state.at(qsizetype(k)) == QLatin1Char('-');
            } else {
                PMLog("unexpected folding state");
            }
        } else {
            for (const PMWrappedSubstringPtr& pair : foldable)
                pair->folded = pair->foldedByDefault;
        }
    }
    std::vector<PMWrappedSubstring*> folded;
    for (const PMWrappedSubstringPtr& pair : foldable) {
        if (!pair->folded || pair->implicitlyHidden)
            continue;
        for (PMWrappedSubstring* inner : pair->containedWrappedSubstrings) {
            inner->folded = false;
            inner->implicitlyHidden = true;
        }
        marks.addFolded(*pair);
        marks.addHidden(pair->range);
        folded.push_back(pair.get());
    }
    return folded;
}

std::optional<QString> PMJSONFoldingState(const std::vector<PMWrappedSubstringPtr>& foldable)
{
    QString state;
    state.reserve(qsizetype(foldable.size()));
    bool differs = false;
    for (const PMWrappedSubstringPtr& pair : foldable) {
        state += pair->folded ? QLatin1Char('-') : QLatin1Char('+');
        differs = differs || pair->folded != pair->foldedByDefault;
    }
    if (!differs)
        return std::nullopt;
    return state;
}

PMJSONFoldingAbilities PMJSONFoldingAbilitiesOf(const std::vector<PMWrappedSubstringPtr>& foldable)
{
    PMJSONFoldingAbilities abilities;
    for (const PMWrappedSubstringPtr& pair : foldable) {
        abilities.canFold = abilities.canFold || !pair->folded;
        abilities.canUnfold = abilities.canUnfold || pair->folded;
        abilities.canRestoreDefault = abilities.canRestoreDefault || pair->folded != pair->foldedByDefault;
    }
    return abilities;
}
