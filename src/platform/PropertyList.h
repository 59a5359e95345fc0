// Property-list files: binary ("bplist00") and XML read and write, the old text form
// read. Every reader treats its input as untrusted: offsets, counts, references, depth
// and sizes are checked, and a bad file gives an error text, never a crash, a hang or
// unbounded memory.
#pragma once

#include "platform/Value.h"

#include <QtCore/QByteArray>
#include <QtCore/QString>

namespace platform {

enum class PropertyListFormat { Binary, XML, OpenStep };

// Deepest nesting of arrays and dictionaries a reader accepts.
constexpr int kPropertyListMaxDepth = 512;

struct PropertyListReadResult {
    Value value;                 // null on failure
    PropertyListFormat format = PropertyListFormat::Binary;
    QString error;               // empty on success
    bool ok() const { return error.isEmpty(); }
};

// Reads a property list in any of the three formats, told apart by their first bytes.
PropertyListReadResult readPropertyList(const QByteArray& bytes);
PropertyListReadResult readPropertyListFile(const QString& path);

// The readers for one format each; `error` receives a clear message on failure.
Value readBinaryPropertyList(const QByteArray& bytes, QString* error);
Value readXMLPropertyList(const QByteArray& bytes, QString* error);
Value readOpenStepPropertyList(const QByteArray& bytes, QString* error);

// Writers answer the empty array and set `error` when the value holds something a
// property list cannot (null, foreign objects) or nests deeper than the readers accept.
QByteArray writeBinaryPropertyList(const Value& value, QString* error = nullptr);
QByteArray writeXMLPropertyList(const Value& value, QString* error = nullptr);
QByteArray writePropertyList(const Value& value, PropertyListFormat format, QString* error = nullptr);

// A copy that shares nothing with the source: every array and dictionary is new. Answers
// the null value (and sets `error`) when the value holds anything that is not a
// property-list type, so a caller can never mistake a partial copy for a whole one.
Value deepCopyPropertyList(const Value& value, QString* error = nullptr);

} // namespace platform
