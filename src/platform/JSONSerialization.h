// JSON text to property-list values and back: the stand-in for the platform's JSON
// serialization. The reader is strict JSON (no comments, no trailing commas), takes an
// array or an object at the top level, keeps true and false apart from numbers, reads
// null as the null value and names the line and column of every error. The writer
// pretty-prints with sorted keys, one element per line, two blanks per level.
#pragma once

#include "platform/Value.h"

#include <QtCore/QString>

namespace platform {

// Deepest nesting of arrays and objects the reader and writer accept.
constexpr int kJSONMaxDepth = 512;

// The value of the text, or null with the error's text.
Value readJSON(const QString& text, QString* error);

struct JSONWriteOptions {
    bool prettyPrinted = true;
    bool sortedKeys = true;
    bool escapeSlashes = false; // "/" written as "\/"
};
// The JSON text of the value; false (with the error's text) for anything JSON cannot hold:
// dates, data, foreign objects, numbers that are not finite, text that is not valid UTF-16.
bool writeJSON(const Value& value, const JSONWriteOptions& options, QString* getText, QString* error = nullptr);

} // namespace platform
