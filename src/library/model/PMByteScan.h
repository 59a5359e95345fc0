// Byte scanning for the library search: the library's texts as UTF-8 bytes side by side,
// and needles looked for in them many places at a time (with AVX2 or SSE2 where the
// processor has them), each found place marking the entry whose part of the text holds it.
#pragma once

#include <QtCore/QStringView>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace bytescan {

// The library's texts as bytes: every character (a pair of surrogates as one, a lone
// surrogate as itself) in its UTF-8 form, half the bytes of UTF-16 for most text. No
// character's bytes begin inside another's, so the bytes of a needle occur exactly where
// its characters do.
void appendAsBytes(std::string& into, QStringView text);

using ByteFrequencies = std::array<std::uint32_t, 256>;
// How often each byte occurs in windows spread over the text: enough to tell rare bytes
// from common ones without reading it all.
ByteFrequencies sampledByteFrequencies(const std::string& text);

// A needle as bytes with the two of its places whose bytes are rarest in the text to scan:
// only where both agree is it compared whole.
struct ByteNeedle {
    std::string bytes;
    size_t p = 0, q = 0; // p <= q
};

ByteNeedle byteNeedle(QStringView text, const ByteFrequencies& frequencies);

// Marks the entries whose part of a buffer holds a needle (`ends`: where each part ends).
struct EntryMarker {
    const size_t* ends;
    unsigned char* marks;
    size_t entry = 0;
    // Marks the entry of the place and answers where the next entry's part starts.
    size_t found(size_t at)
    {
        while (ends[entry] <= at)
            ++entry;
        marks[entry] = 1;
        return ends[entry];
    }
};

// A needle on its way through a buffer.
struct NeedleScan {
    ByteNeedle needle;
    EntryMarker marker;
    size_t at = 0;
};

// Marks the entries whose part of the buffer holds each needle; the rest of a marked
// entry's part is skipped. All needles go through the buffer together, a stretch at a
// time, so that it is read from memory once.
void markAll(const std::string& buffer, std::vector<NeedleScan>& scans);

} // namespace bytescan
