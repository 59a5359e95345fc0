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
    const QString line = PMCSVStringWithFields(fields, separator, false);
    // Every field written by the joiner is read back as one field.
    if (!fields.isEmpty() && PMCSVFieldsFromString(line, separator).isEmpty())
        __builtin_trap();
    return 0;
}
