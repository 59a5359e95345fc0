// The ranges that the editor's colouring pass finds in a property-list text: substrings
// (quoted strings, keys), lines with their indentation, the opening and closing parts of
// brackets and tags, and the pairs they make (the ranges that can fold). Plain values;
// every range is a range of UTF-16 units of the text that was scanned.
#pragma once

#include "foundation/PMRange.h"

#include <QtCore/QRectF>
#include <QtCore/QString>

#include <memory>
#include <vector>

class PMSubstring {
public:
    PMSubstring() = default;
    PMSubstring(const QString& source, PMRange range, bool key = false) : sourceStringValue(source), range(range), key(key) {}

    QString sourceStringValue; // the whole text (shared, not copied)
    PMRange range;
    bool key = false; // a dictionary key

    QString stringValue() const { return sourceStringValue.mid(range.location, range.length); }
    // Start included, end excluded.
    bool containsLocation(qsizetype location) const { return location >= range.location && location < range.end(); }
};

class PMLineSubstring : public PMSubstring {
public:
    using PMSubstring::PMSubstring;
    unsigned indentationLevel = 0; // the tabs that begin the line
};

class PMWrappedSubstring;
using PMWrappedSubstringPtr = std::shared_ptr<PMWrappedSubstring>;

// A bracket or tag pair: `range` is its inside, `wrappingRange` the pair with its parts.
class PMWrappedSubstring : public PMSubstring {
public:
    using PMSubstring::PMSubstring;
    PMRange wrappingRange;
    QString tagName; // lower case, only when tag names had to match
    int type = -1;   // the type of its parts; -1 for an indentation region
    bool foldedByDefault = false;
    bool folded = false;
    bool implicitlyHidden = false; // inside a folded pair
    unsigned numberOfEnclosingWrappedSubstrings = 0;
    std::vector<PMWrappedSubstring*> containedWrappedSubstrings; // at any depth, in order
    QRectF foldedEllipsisRect;

    bool containsLocation(qsizetype location) const
    {
        return location >= wrappingRange.location && location < wrappingRange.end();
    }
    PMRange openingWrapperRange() const { return {wrappingRange.location, range.location - wrappingRange.location}; }
    PMRange closingWrapperRange() const { return {range.end(), wrappingRange.end() - range.end()}; }
};

// One opening or closing part found by a wrapper pattern; parts pair only with their type.
struct PMSubstringWrapper {
    PMRange range;
    unsigned type = 0;
    bool opening = true;
    QString tagName; // only when tag names must match
};
