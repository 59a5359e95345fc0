// Feeds arbitrary text to the search query parser and checks what a parsed query
// promises: something to search for, no empty identifier, key or alternative, filter
// identifiers without their separator, keys in lower case, at most one image-hash key.
#include "library/model/PMParsedQuery.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 1 << 16)
        return 0;
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    const PMParsedQueryPtr query = PMParsedQuery::parsedQuery(text);
    if (!query)
        return 0;
    if (query->multipleSelectionIdentifierComponents.isEmpty() && query->filterIdentifierComponents.isEmpty()
        && query->duplicateComponents.isEmpty() && query->regularComponentAlternativeCollections.isEmpty())
        __builtin_trap();
    for (const QString& id : query->multipleSelectionIdentifierComponents)
        if (id.isEmpty())
            __builtin_trap();
    for (const QString& id : query->filterIdentifierComponents)
        if (id.isEmpty() || id.contains(u'|'))
            __builtin_trap();
    int imageHashKeys = 0;
    for (const QString& key : query->duplicateComponents) {
        if (key.isEmpty() || key != key.toLower())
            __builtin_trap();
        const long long criterion = PMParsedQuery::criterionForDuplicateQueryComponent(key);
        if (criterion == PMParsedQuery::DuplicateUnknown)
            __builtin_trap();
        imageHashKeys += criterion == PMParsedQuery::DuplicateImageHash;
    }
    if (imageHashKeys > 1)
        __builtin_trap();
    for (const auto& alternatives : query->regularComponentAlternativeCollections) {
        if (alternatives.isEmpty())
            __builtin_trap();
        for (const PMParsedQueryAlternative& alternative : alternatives)
            if (alternative.string.isEmpty() || alternative.string.contains(QStringLiteral("||")))
                __builtin_trap();
    }
    return 0;
}
