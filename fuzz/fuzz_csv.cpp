// Feeds arbitrary text to the CSV scanner in its flat and record modes with a few
// separators, and joins what it read back into a line.
#include "foundation/PMCSVParser.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 1 << 20)
        return 0;
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    static const QString separators[] = {QStringLiteral(","), QStringLiteral(";"), QStringLiteral("::"), QStringLiteral("\t")};
    const QString& separator = separators[size % 4];
    const QStringList fields = PMCSVFieldsFromString(text, separator);
    const QList<QStringList> records = PMCSVRecordsFromString(text, separator);
    for (const QStringList& record : records)
        if (record.size() != records.first().size())
            __builtin_trap();
    // Joined and split again, the fields come back: those that needed quotes unchanged, the
    // others trimmed of blanks (only quotes protect blanks at the ends of a field).
    const QString line = PMCSVStringWithFields(fields, separator, false);
    QStringList expected;
    for (const QString& field : fields) {
        if (PMCSVQuotedField(field, separator) != field) {
            expected << field;
            continue;
        }
        qsizetype start = 0, end = field.size();
        const auto blank = [](QChar c) { return c == u' ' || c == u'\t' || c.category() == QChar::Separator_Space; };
        while (start < end && blank(field.at(start)))
            ++start;
        while (end > start && blank(field.at(end - 1)))
            --end;
        if (end > start)
            expected << field.mid(start, end - start);
    }
    const QStringList again = PMCSVFieldsFromString(line, separator);
    // (With a separator of several characters a field ending in part of it is ambiguous.)
    if (separator.size() == 1 && !expected.isEmpty() && again != expected)
        __builtin_trap();
    return 0;
}
