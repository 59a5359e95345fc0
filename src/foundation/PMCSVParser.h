// Comma-separated values: the one text form in which the program keeps lists of short
// texts inside single strings (tag values, manual orders, sort criteria, smart-group
// criteria) and writes the rows of the metadata export. Quoting follows the usual rules:
// a field holding the separator, a double quote or a line break is enclosed in double
// quotes, with inner double quotes doubled.
#pragma once

#include "platform/Value.h"

#include <QtCore/QList>
#include <algorithm>
#include <QtCore/QString>
#include <QtCore/QStringList>

// The process-wide default field separator: "," unless the user default
// "PMCSVParser: Default Field Separator" holds a non-blank text. Read once, on first use
// (the library's sort criteria use it early while loading); it does not change while the
// program runs, so a new value takes effect from the next start.
QString PMCSVDefaultFieldSeparator();
// Reads the default field separator from the user defaults, once; later calls do nothing.
// Only a value the user set counts: the table of registered defaults has none for it.
void PMCSVParserLoad();
// The separator a stored default value stands for: the value trimmed of whitespace and
// newlines when it is a non-blank text, else ",". A text holding a double quote or a line
// break cannot separate fields and gives "," as well.
QString PMCSVFieldSeparatorFromDefaultValue(const platform::Value& value);

// The field as it stands in a line: unchanged unless it holds the separator, a double
// quote or a newline character; then enclosed in double quotes, inner quotes doubled.
QString PMCSVQuotedField(const QString& field, const QString& separator);
// One cell: the empty text for an empty field, else the quoted field with the separator
// (the default separator when it is empty).
QString PMCSVQuotedFieldWithSeparator(const QString& field, const QString& separator);
// One line of the fields joined by the separator (default when empty) and one blank.
// With `trim`, fields are trimmed of whitespace, newlines and the separator's characters
// and dropped when nothing is left. The empty text for no fields.
QString PMCSVStringWithFields(const QStringList& fields, const QString& separator, bool trim);
// The non-empty fields of the text (trimmed), or an empty list for none. A text whose quote
// is never closed gives itself, trimmed, as its one field.
QStringList PMCSVFieldsFromString(const QString& string, const QString& separator);
// The records of a multi-line text, each with the number of fields of the first record;
// records with another count are logged and dropped. Empty for none or an unclosed quote.
QList<QStringList> PMCSVRecordsFromString(const QString& string, const QString& separator);

// A scanner over a text that skips no characters.
class PMCSVScanner {
public:
    static PMCSVScanner CSVScannerWithString(const QString& string);

    // Scans from the scan location to the end. Without `separateRecords` the non-empty
    // fields of every line go into `getFields`; with it, each line becomes one record of
    // `getRecords` (empty fields kept). Answers NO, and leaves both untouched, when a quote is
    // not closed. An empty separator, or one holding a double quote or a line break, means
    // the default separator.
    bool scanCSVWithFieldSeparator(const QString& separator, bool trimFields, bool separateRecords,
                                   QStringList* getFields, QList<QStringList>* getRecords);

    qsizetype scanLocation() const { return m_location; }
    void setScanLocation(qsizetype location) { m_location = std::clamp<qsizetype>(location, 0, m_string.size()); }
    bool isAtEnd() const { return m_location >= m_string.size(); }

private:
    explicit PMCSVScanner(const QString& string) : m_string(string) {}
    QString m_string;
    qsizetype m_location = 0;
};

// `PMCSVFieldsFromString` of the text with the default separator, worked out once per
// text and kept; empty when the text has no fields. Safe from any thread.
QStringList cachedCSVFields(const QString& string);
// The cached fields joined by ", " without quoting, for display only.
QString prettyButBrokenCSVString(const QString& string);
