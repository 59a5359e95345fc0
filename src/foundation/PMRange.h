// A range of UTF-16 units in a text, and the "not found" value of searches and match
// qualities (the largest signed 64-bit number, as every caller compares against it).
#pragma once

#include <QtCore/QtGlobal>

#include <cstdint>

constexpr std::uint64_t PMNotFound = 9223372036854775807ULL;

struct PMRange {
    qsizetype location = qsizetype(PMNotFound);
    qsizetype length = 0;
    bool found() const { return location != qsizetype(PMNotFound); }
    qsizetype end() const { return location + length; }
    bool operator==(const PMRange& other) const = default;
};
