// The property-list editor's colouring and structure pass over any text, pasted or typed,
// in every format and in markup mode: every range it answers lies inside the text, every
// pair's inside lies inside its wrapping, and the nesting is consistent.
#include "ui/plist_editor/PMJSONSyntax.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace {

#define check(condition) \
    do { \
        if (!(condition)) { \
            std::fprintf(stderr, "failed: %s (line %d)\n", #condition, __LINE__); \
            __builtin_trap(); \
        } \
    } while (false)

bool inside(PMRange r, qsizetype size)
{
    return r.location >= 0 && r.length >= 0 && r.end() <= size;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 1 << 16)
        return 0;
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    for (int format = 0; format <= 5; ++format) {
        PMJSONSyntaxInput input;
        input.text = text;
        input.format = PMJSONTextViewFormat(format == 5 ? 0 : format);
        input.markupMode = format == 5;
        input.colored = (size % 2) == 0;
        input.autoFoldsData = true;
        input.recordPrefix = true;
        input.errorDescription = QStringLiteral("line %1, column %2").arg(size % 7).arg(size % 13);
        const PMJSONSyntaxResult result = PMJSONComputeSyntax(input);
        for (const PMJSONColorSpan& span : result.spans)
            check(inside({span.start, span.length}, text.size()));
        for (const PMWrappedSubstringPtr& pair : result.allWrappedSubstrings) {
            check(inside(pair->wrappingRange, text.size()));
            check(pair->range.location >= pair->wrappingRange.location && pair->range.end() <= pair->wrappingRange.end());
        }
        for (const PMWrappedSubstringPtr& pair : result.foldableWrappedSubstrings) {
            check(inside(pair->wrappingRange, text.size()));
            check(pair->numberOfEnclosingWrappedSubstrings < result.numberOfHierarchyLevels || result.foldableWrappedSubstrings.size() < 2);
            for (const PMWrappedSubstring* contained : pair->containedWrappedSubstrings)
                check(pair->containsLocation(contained->wrappingRange.location));
        }
        if (result.errorRange)
            check(inside(*result.errorRange, text.size()));
    }
    return 0;
}
