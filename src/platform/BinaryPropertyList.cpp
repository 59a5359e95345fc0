// Binary property lists ("bplist00"): a header, the objects, a table of their offsets
// and a 32-byte trailer that tells where the table is, how wide its entries and the
// object references are, how many objects there are and which one is the top.
//
// The reader trusts nothing in the file: every offset, count, reference and size is
// checked before it is used, containers are decoded with the set of objects on the
// current path (a reference back into the path is a cycle), nesting is limited, and
// containers that several others share are decoded again for each reference under a
// budget, so a small file cannot expand into an unbounded tree.
#include "platform/PropertyList.h"

#include <QtCore/QHash>
#include <QtCore/QtEndian>

#include <algorithm>
#include <cstring>
#include <deque>
#include <limits>
#include <vector>

namespace platform {

namespace {

constexpr int kTrailerSize = 32;
constexpr int kHeaderSize = 8;

inline quint64 readBigEndian(const uchar* p, int n)
{
    switch (n) {
    case 1:
        return p[0];
    case 2:
        return quint64(p[0]) << 8 | p[1];
    case 4:
        return quint64(p[0]) << 24 | quint64(p[1]) << 16 | quint64(p[2]) << 8 | p[3];
    case 8: {
        quint64 v;
        std::memcpy(&v, p, 8);
        return qFromBigEndian(v);
    }
    default: {
        quint64 v = 0;
        for (int i = 0; i < n; ++i)
            v = (v << 8) | p[i];
        return v;
    }
    }
}

// ---------------------------------------------------------------------------
// Reader

class BinaryReader {
public:
    BinaryReader(const QByteArray& bytes)
        : m_data(reinterpret_cast<const uchar*>(bytes.constData())), m_size(quint64(bytes.size()))
    {
    }

    Value read(QString* error)
    {
        Value result;
        if (readTrailer()) {
            m_onPath.assign(size_t(m_numObjects), 0);
            m_stringSlot.assign(size_t(m_numObjects), 0);
            // Each decoded value stands for a reference read from the file; shared
            // containers are decoded once per reference, within this budget.
            m_budget = m_size * 4 + 65536;
            if (!decode(m_topObject, 0, &result))
                result = Value();
            else if (result.isNull())
                fail(QStringLiteral("the top object is the null object: the file holds no value"));
        }
        if (error)
            *error = m_error;
        return result;
    }

private:
    bool fail(const QString& message)
    {
        if (m_error.isEmpty())
            m_error = QStringLiteral("binary property list: ") + message;
        return false;
    }

    bool readTrailer()
    {
        if (m_size < quint64(kHeaderSize))
            return fail(QStringLiteral("the data is too short (%1 bytes)").arg(m_size));
        if (std::memcmp(m_data, "bplist", 6) != 0)
            return fail(QStringLiteral("the data does not begin with \"bplist\""));
        if (std::memcmp(m_data + 6, "00", 2) != 0)
            return fail(QStringLiteral("unsupported version \"%1\"")
                            .arg(QString::fromLatin1(reinterpret_cast<const char*>(m_data + 6), 2).toHtmlEscaped()));
        if (m_size < quint64(kHeaderSize + 1 + kTrailerSize))
            return fail(QStringLiteral("the data is too short (%1 bytes) to hold an object and the trailer").arg(m_size));
        const uchar* t = m_data + m_size - kTrailerSize;
        m_offsetIntSize = t[6];
        m_refSize = t[7];
        m_numObjects = readBigEndian(t + 8, 8);
        m_topObject = readBigEndian(t + 16, 8);
        const quint64 tableOffset = readBigEndian(t + 24, 8);
        const quint64 trailerStart = m_size - kTrailerSize;
        if (m_offsetIntSize < 1 || m_offsetIntSize > 8)
            return fail(QStringLiteral("offset size %1 in the trailer is not between 1 and 8").arg(m_offsetIntSize));
        if (m_refSize < 1 || m_refSize > 8)
            return fail(QStringLiteral("object reference size %1 in the trailer is not between 1 and 8").arg(m_refSize));
        if (m_numObjects < 1)
            return fail(QStringLiteral("the trailer counts no objects"));
        if (m_refSize < 8 && m_numObjects > (quint64(1) << (8 * m_refSize)))
            return fail(QStringLiteral("%1 objects cannot be told apart by references of %2 bytes").arg(m_numObjects).arg(m_refSize));
        if (m_topObject >= m_numObjects)
            return fail(QStringLiteral("top object %1 is not among the %2 objects").arg(m_topObject).arg(m_numObjects));
        if (tableOffset < quint64(kHeaderSize + 1) || tableOffset >= trailerStart)
            return fail(QStringLiteral("offset table offset %1 lies outside the object area (9 to %2)").arg(tableOffset).arg(trailerStart));
        if (m_numObjects > (trailerStart - tableOffset) / quint64(m_offsetIntSize))
            return fail(QStringLiteral("offset table of %1 entries of %2 bytes at %3 runs past the trailer")
                            .arg(m_numObjects)
                            .arg(m_offsetIntSize)
                            .arg(tableOffset));
        m_objectsEnd = tableOffset;
        m_offsetTable = m_data + tableOffset;
        return true;
    }

    // The two reads of every object: kept small enough to be inlined, their errors
    // worded out of line.
    bool objectOffset(quint64 ref, quint64* offset)
    {
        const quint64 o = readBigEndian(m_offsetTable + ref * quint64(m_offsetIntSize), m_offsetIntSize);
        if (o < quint64(kHeaderSize) || o >= m_objectsEnd) [[unlikely]]
            return failOffset(ref, o);
        *offset = o;
        return true;
    }

    [[gnu::noinline, gnu::cold]] bool failOffset(quint64 ref, quint64 o)
    {
        return fail(QStringLiteral("object %1 has offset %2 outside the object area (8 to %3)").arg(ref).arg(o).arg(m_objectsEnd));
    }

    // The element count of a string, data or container object whose marker is at
    // `offset`; `*start` receives the offset of its first byte after the count.
    bool readCount(quint64 offset, uchar marker, quint64* count, quint64* start)
    {
        const uint low = marker & 0x0F;
        if (low != 0x0F) {
            *count = low;
            *start = offset + 1;
            return true;
        }
        const quint64 p = offset + 1;
        if (p >= m_objectsEnd)
            return fail(QStringLiteral("count of the object at offset %1 runs past the object area").arg(offset));
        const uchar intMarker = m_data[p];
        if ((intMarker & 0xF0) != 0x10 || (intMarker & 0x0F) > 3)
            return fail(QStringLiteral("count of the object at offset %1 is not an integer of 1 to 8 bytes").arg(offset));
        const int n = 1 << (intMarker & 0x0F);
        if (quint64(n) > m_objectsEnd - p - 1)
            return fail(QStringLiteral("count of the object at offset %1 runs past the object area").arg(offset));
        *count = readBigEndian(m_data + p + 1, n);
        *start = p + 1 + quint64(n);
        return true;
    }

    // Checks that `count` items of `itemSize` bytes starting at `start` lie inside the
    // object area, before anything is allocated for them.
    bool checkExtent(quint64 offset, quint64 start, quint64 count, quint64 itemSize)
    {
        const quint64 available = m_objectsEnd - std::min(start, m_objectsEnd);
        if (count > available / itemSize)
            return fail(QStringLiteral("object at offset %1 with %2 elements runs past the end of the object area").arg(offset).arg(count));
        return true;
    }

    bool readRef(quint64 at, quint64* ref)
    {
        const quint64 r = readBigEndian(m_data + at, m_refSize);
        if (r >= m_numObjects) [[unlikely]]
            return failReference(r, at);
        *ref = r;
        return true;
    }

    [[gnu::noinline, gnu::cold]] bool failReference(quint64 r, quint64 at)
    {
        return fail(QStringLiteral("object reference %1 at offset %2 is not among the %3 objects").arg(r).arg(at).arg(m_numObjects));
    }

    bool decodeString(quint64 ref, quint64 offset, uchar marker, Value* out)
    {
        const QString* string = nullptr;
        if (!decodeString(ref, offset, marker, &string))
            return false;
        *out = Value(*string);
        return true;
    }

    // The string, decoded once per object and kept for the references that follow.
    bool decodeString(quint64 ref, quint64 offset, uchar marker, const QString** out)
    {
        quint32& slot = m_stringSlot[size_t(ref)];
        if (slot != 0) {
            *out = &m_strings[slot - 1];
            return true;
        }
        if (m_strings.size() >= std::numeric_limits<quint32>::max() - 1)
            return fail(QStringLiteral("too many strings"));
        m_strings.emplace_back();
        slot = quint32(m_strings.size());
        QString& cached = m_strings.back();
        quint64 count = 0, start = 0;
        if (!readCount(offset, marker, &count, &start))
            return false;
        const uchar* p = m_data + start;
        if ((marker & 0xF0) == 0x50) {
            if (!checkExtent(offset, start, count, 1))
                return false;
            cached = QString::fromLatin1(reinterpret_cast<const char*>(p), qsizetype(count));
        } else {
            if (!checkExtent(offset, start, count, 2))
                return false;
            cached = QString(qsizetype(count), Qt::Uninitialized);
            char16_t* d = reinterpret_cast<char16_t*>(cached.data());
            for (quint64 i = 0; i < count; ++i)
                d[i] = char16_t((p[2 * i] << 8) | p[2 * i + 1]);
        }
        *out = &cached;
        return true;
    }

    bool decode(quint64 ref, int depth, Value* out)
    {
        if (m_budget == 0)
            return fail(QStringLiteral("shared objects expand to too many values"));
        --m_budget;
        if (const quint32 slot = m_stringSlot[size_t(ref)]) {
            *out = Value(m_strings[slot - 1]);
            return true;
        }
        quint64 offset = 0;
        if (!objectOffset(ref, &offset))
            return false;
        const uchar marker = m_data[offset];
        const uint high = marker & 0xF0, low = marker & 0x0F;
        const quint64 avail = m_objectsEnd - offset - 1; // bytes after the marker
        switch (high) {
        case 0x00:
            if (marker == 0x08 || marker == 0x09) {
                *out = Value(marker == 0x09);
                return true;
            }
            // The null object that some writers emit: an absent value. A dictionary drops
            // its entry, an array its element.
            if (marker == 0x00) {
                *out = Value();
                return true;
            }
            break;
        case 0x10: {
            if (low > 4)
                return fail(QStringLiteral("integer at offset %1 has unsupported size %2").arg(offset).arg(quint64(1) << low));
            const quint64 n = quint64(1) << low;
            if (n > avail)
                return fail(QStringLiteral("integer at offset %1 runs past the object area").arg(offset));
            const uchar* p = m_data + offset + 1;
            if (low < 3) {
                *out = Value(qint64(readBigEndian(p, int(n))));
            } else if (low == 3) {
                *out = Value(qint64(readBigEndian(p, 8)));
            } else {
                const quint64 hi = readBigEndian(p, 8), lo = readBigEndian(p + 8, 8);
                if (hi == 0)
                    *out = Value((unsigned long long)lo);
                else if (hi == ~quint64(0) && (lo >> 63))
                    *out = Value(qint64(lo));
                else
                    return fail(QStringLiteral("integer at offset %1 does not fit in 64 bits").arg(offset));
            }
            return true;
        }
        case 0x20: {
            if (low != 2 && low != 3)
                return fail(QStringLiteral("real at offset %1 has unsupported size %2").arg(offset).arg(quint64(1) << std::min(low, 15u)));
            const quint64 n = quint64(1) << low;
            if (n > avail)
                return fail(QStringLiteral("real at offset %1 runs past the object area").arg(offset));
            const quint64 bits = readBigEndian(m_data + offset + 1, int(n));
            if (low == 2) {
                float f;
                const quint32 b32 = quint32(bits);
                std::memcpy(&f, &b32, 4);
                *out = Value(double(f));
            } else {
                double d;
                std::memcpy(&d, &bits, 8);
                *out = Value(d);
            }
            return true;
        }
        case 0x30: {
            if (marker != 0x33)
                return fail(QStringLiteral("date at offset %1 has unsupported marker 0x%2").arg(offset).arg(marker, 2, 16, QLatin1Char('0')));
            if (avail < 8)
                return fail(QStringLiteral("date at offset %1 runs past the object area").arg(offset));
            const quint64 bits = readBigEndian(m_data + offset + 1, 8);
            double d;
            std::memcpy(&d, &bits, 8);
            *out = Value(Date::fromReferenceDate(d));
            return true;
        }
        case 0x40: {
            quint64 count = 0, start = 0;
            if (!readCount(offset, marker, &count, &start) || !checkExtent(offset, start, count, 1))
                return false;
            *out = Value(QByteArray(reinterpret_cast<const char*>(m_data + start), qsizetype(count)));
            return true;
        }
        case 0x50:
        case 0x60:
            return decodeString(ref, offset, marker, out);
        case 0x80:
            return fail(QStringLiteral("UID object at offset %1 is not supported (keyed archives are not property lists this program reads)").arg(offset));
        case 0xA0:
        case 0xD0:
            return decodeContainer(ref, offset, marker, depth, out);
        default:
            break;
        }
        return fail(QStringLiteral("object at offset %1 has unknown or unsupported marker 0x%2").arg(offset).arg(marker, 2, 16, QLatin1Char('0')));
    }

    bool decodeContainer(quint64 ref, quint64 offset, uchar marker, int depth, Value* out)
    {
        if (depth >= kPropertyListMaxDepth)
            return fail(QStringLiteral("containers nest deeper than %1 levels").arg(kPropertyListMaxDepth));
        if (m_onPath[size_t(ref)])
            return fail(QStringLiteral("object %1 at offset %2 contains itself").arg(ref).arg(offset));
        const bool isDictionary = (marker & 0xF0) == 0xD0;
        quint64 count = 0, start = 0;
        if (!readCount(offset, marker, &count, &start))
            return false;
        if (!checkExtent(offset, start, count, quint64(m_refSize) * (isDictionary ? 2 : 1)))
            return false;
        if (count > m_budget)
            return fail(QStringLiteral("shared objects expand to too many values"));
        m_onPath[size_t(ref)] = 1;
        bool ok = true;
        if (isDictionary) {
            auto dict = std::make_shared<Dictionary>();
            Dictionary::Map& map = dict->map();
            map.reserve(qsizetype(count));
            const quint64 valuesStart = start + count * quint64(m_refSize);
            for (quint64 i = 0; ok && i < count; ++i) {
                quint64 keyRef = 0, valueRef = 0, keyOffset = 0;
                const QString* key = nullptr;
                Value value;
                ok = readRef(start + i * quint64(m_refSize), &keyRef) && readRef(valuesStart + i * quint64(m_refSize), &valueRef);
                if (!ok)
                    break;
                // A key decoded before is known to be a string.
                const bool known = m_stringSlot[size_t(keyRef)] != 0;
                if (!known && !(ok = objectOffset(keyRef, &keyOffset)))
                    break;
                const uint keyKind = known ? 0x50 : m_data[keyOffset] & 0xF0;
                if (keyKind != 0x50 && keyKind != 0x60) {
                    ok = fail(QStringLiteral("dictionary at offset %1 has a key that is not a string (object %2 at offset %3)")
                                  .arg(offset)
                                  .arg(keyRef)
                                  .arg(keyOffset));
                    break;
                }
                if (m_budget == 0) {
                    ok = fail(QStringLiteral("shared objects expand to too many values"));
                    break;
                }
                --m_budget;
                ok = decodeString(keyRef, keyOffset, m_data[keyOffset], &key) && decode(valueRef, depth + 1, &value);
                if (ok && !value.isNull())
                    map.insert(*key, std::move(value));
            }
            if (ok)
                *out = Value(std::move(dict));
        } else {
            std::vector<Value> values;
            values.reserve(size_t(count));
            for (quint64 i = 0; ok && i < count; ++i) {
                quint64 childRef = 0;
                ok = readRef(start + i * quint64(m_refSize), &childRef);
                if (ok) {
                    values.emplace_back();
                    ok = decode(childRef, depth + 1, &values.back());
                    if (ok && values.back().isNull())
                        values.pop_back();
                }
            }
            if (ok)
                *out = Value(std::make_shared<Array>(std::move(values)));
        }
        m_onPath[size_t(ref)] = 0;
        return ok;
    }

    const uchar* m_data;
    quint64 m_size;
    const uchar* m_offsetTable = nullptr;
    int m_offsetIntSize = 0;
    int m_refSize = 0;
    quint64 m_numObjects = 0;
    quint64 m_topObject = 0;
    quint64 m_objectsEnd = 0;
    quint64 m_budget = 0;
    std::vector<uchar> m_onPath;
    // Strings already decoded, by object (slot number + 1, 0 when not yet decoded):
    // dictionary keys repeat in every record, and sharing one QString per key keeps
    // reading fast and the result small.
    std::vector<quint32> m_stringSlot;
    std::deque<QString> m_strings; // a deque: a string stays where it is while others are added
    QString m_error;
};

// ---------------------------------------------------------------------------
// Writer

// An object of the file: a leaf value (a string, number, date or data) or a
// container whose references lie in `refs` from `refStart` on.
struct WriterObject {
    enum Kind : quint8 { String, Bool, Integer, Real, Date, Data, Array, Dictionary };
    Kind kind;
    bool ascii = false; // a string that is written as ASCII
    const void* item;   // const QString* for strings, else const Value*
    quint32 refStart = 0;
    quint32 count = 0;
};

class BinaryWriter {
public:
    bool flatten(const Value& root)
    {
        return flattenValue(root, 0) != kInvalid;
    }

    QByteArray write()
    {
        const quint64 numObjects = m_objects.size();
        const int refSize = numObjects <= 0xFF ? 1 : numObjects <= 0xFFFF ? 2 : numObjects <= 0xFFFFFFFFull ? 4 : 8;
        m_refSize = refSize;
        // Every object's size is known, so the offset table's place and width are known
        // before the first byte is written, and the file is written in one buffer of
        // exactly its size.
        const quint64 tableOffset = kHeaderSize + m_leafBytes + quint64(m_refs.size()) * quint64(refSize);
        const int offsetSize = tableOffset <= 0xFF ? 1 : tableOffset <= 0xFFFF ? 2 : tableOffset <= 0xFFFFFFFFull ? 4 : 8;
        const quint64 total = tableOffset + quint64(offsetSize) * numObjects + kTrailerSize;
        m_out.resize(qsizetype(total));
        m_p = reinterpret_cast<uchar*>(m_out.data());
        m_pos = 0;
        put("bplist00", 8);
        for (size_t i = 0; i < numObjects; ++i) {
            uchar* entry = m_p + tableOffset + i * quint64(offsetSize);
            quint64 o = m_pos;
            for (int k = offsetSize - 1; k >= 0; --k) {
                entry[k] = uchar(o);
                o >>= 8;
            }
            writeObject(m_objects[i]);
        }
        if (m_pos != tableOffset) {
            error = QStringLiteral("cannot write a binary property list: the objects took %1 bytes instead of %2").arg(m_pos).arg(tableOffset);
            return QByteArray();
        }
        m_pos = tableOffset + quint64(offsetSize) * numObjects;
        uchar trailer[kTrailerSize] = {};
        trailer[6] = uchar(offsetSize);
        trailer[7] = uchar(refSize);
        put(trailer, 8);
        putBigEndian(numObjects, 8);
        putBigEndian(0, 8);
        putBigEndian(tableOffset, 8);
        m_out.truncate(qsizetype(m_pos));
        return std::move(m_out);
    }

    QString error;

private:
    static constexpr quint32 kInvalid = std::numeric_limits<quint32>::max();

    quint32 fail(const QString& message)
    {
        if (error.isEmpty())
            error = QStringLiteral("cannot write a binary property list: ") + message;
        return kInvalid;
    }

    quint32 addObject(WriterObject::Kind kind, const void* item, quint64 bytes, bool ascii = false)
    {
        if (m_objects.size() >= kInvalid - 1)
            return fail(QStringLiteral("too many objects"));
        m_objects.push_back({kind, ascii, item, 0, 0});
        m_leafBytes += bytes;
        return quint32(m_objects.size() - 1);
    }

    static quint64 countBytes(quint64 count) { return count < 15 ? 1 : count <= 0xFF ? 3 : count <= 0xFFFF ? 4 : count <= 0xFFFFFFFFull ? 6 : 10; }

    static bool sameText(const QString& a, const QString& b)
    {
        return a.size() == b.size()
            && (a.constData() == b.constData() || std::memcmp(a.constData(), b.constData(), size_t(a.size()) * sizeof(QChar)) == 0);
    }

    void growStrings()
    {
        std::vector<Slot> slots(std::max<size_t>(1024, m_stringSlots.size() * 2));
        const size_t mask = slots.size() - 1;
        for (const Slot& old : m_stringSlots) {
            if (old.index == 0)
                continue;
            size_t i = old.hash & mask;
            while (slots[i].index != 0)
                i = (i + 1) & mask;
            slots[i] = old;
        }
        m_stringSlots = std::move(slots);
    }

    // Equal strings become one object. The same text stored once (keys repeated in
    // every record) is recognised by its address before it is hashed.
    quint32 flattenString(const QString& s)
    {
        Recent& recent = m_recentStrings[(quintptr(s.constData()) >> 4) & (kRecentStrings - 1)];
        if (recent.data == s.constData() && recent.size == s.size())
            return recent.index;
        if ((m_stringCount + 1) * 10 > m_stringSlots.size() * 7)
            growStrings();
        const size_t h = qHash(s, m_seed);
        const quint32 hash = quint32(h ^ (h >> 32));
        const size_t mask = m_stringSlots.size() - 1;
        for (size_t i = hash & mask;; i = (i + 1) & mask) {
            Slot& slot = m_stringSlots[i];
            if (slot.index == 0) {
                const quint64 n = quint64(s.size());
                const bool ascii = isAscii(s);
                const quint32 index = addObject(WriterObject::String, &s, countBytes(n) + (ascii ? n : 2 * n), ascii);
                if (index == kInvalid)
                    return kInvalid;
                slot = {hash, index + 1};
                ++m_stringCount;
                recent = {s.constData(), s.size(), index};
                return index;
            }
            if (slot.hash == hash && sameText(*static_cast<const QString*>(m_objects[slot.index - 1].item), s)) {
                recent = {s.constData(), s.size(), slot.index - 1};
                return slot.index - 1;
            }
        }
    }

    // Equal numbers and dates become one object through a cache of the values written
    // last: values that repeat often (small integers, ratings, common reals) are always
    // shared, while a rare repeat may be written twice, which costs a few bytes but no
    // correctness. A full table of every timestamp would cost more time than it saves
    // space. `kind` tells integers, large unsigned integers, reals and dates apart.
    quint32 flattenScalar(quint32 kind, quint64 bits, WriterObject::Kind objectKind, const Value* v, quint64 bytes)
    {
        // The cache grows with the file, so a small list costs little and a library of
        // mid-sized numbers (durations, counters) still shares most of them. Its hash has
        // a fixed seed, so the same value gives the same bytes in every run (a cache
        // cannot be made slow by its input, unlike a table).
        if (m_scalarCache.size() < kMaxScalarCache && m_objects.size() > m_scalarCache.size() * 4)
            m_scalarCache.assign(m_scalarCache.size() * 4, ScalarSlot());
        ScalarSlot& slot = m_scalarCache[qHash(bits ^ kind, size_t(0)) & (m_scalarCache.size() - 1)];
        if (slot.index != 0 && slot.bits == bits && slot.kind == kind)
            return slot.index - 1;
        const quint32 index = addObject(objectKind, v, bytes);
        if (index != kInvalid)
            slot = {bits, kind, index + 1};
        return index;
    }

    quint32 flattenValue(const Value& v, int depth)
    {
        switch (v.type()) {
        case Value::Type::Null:
            return fail(QStringLiteral("it holds an empty (null) value"));
        case Value::Type::Object:
            return fail(QStringLiteral("it holds an object that is not a property-list value (%1)").arg(v.object()->description().left(200)));
        case Value::Type::String:
            return flattenString(v.string());
        case Value::Type::Bool: {
            quint32& slot = v.boolean() ? m_true : m_false;
            if (slot == kInvalid)
                slot = addObject(WriterObject::Bool, &v, 1);
            return slot;
        }
        case Value::Type::Integer: {
            if (v.isUnsignedInteger())
                return flattenScalar(1, v.unsignedInteger(), WriterObject::Integer, &v, 17);
            const qint64 i = v.integer();
            const quint64 bytes = i < 0 || i > 0xFFFFFFFFll ? 9 : i > 0xFFFF ? 5 : i > 0xFF ? 3 : 2;
            return flattenScalar(0, quint64(i), WriterObject::Integer, &v, bytes);
        }
        case Value::Type::Real: {
            const double d = v.real();
            quint64 bits;
            std::memcpy(&bits, &d, 8);
            return flattenScalar(2, bits, WriterObject::Real, &v, 9);
        }
        case Value::Type::Date: {
            const double d = v.date().secondsSinceReferenceDate();
            quint64 bits;
            std::memcpy(&bits, &d, 8);
            return flattenScalar(3, bits, WriterObject::Date, &v, 9);
        }
        case Value::Type::Data: {
            auto it = m_dataIndex.constFind(v.data());
            if (it != m_dataIndex.cend())
                return it.value();
            const quint32 index = addObject(WriterObject::Data, &v, countBytes(quint64(v.data().size())) + quint64(v.data().size()));
            if (index != kInvalid)
                m_dataIndex.insert(v.data(), index);
            return index;
        }
        case Value::Type::Array:
        case Value::Type::Dictionary:
            break;
        }
        if (depth >= kPropertyListMaxDepth)
            return fail(QStringLiteral("containers nest deeper than %1 levels (or contain themselves)").arg(kPropertyListMaxDepth));
        const bool isDictionary = v.isDictionary();
        const ObjectPtr object = v.object();
        const auto* dictionary = isDictionary ? static_cast<const Dictionary*>(object.get()) : nullptr;
        const auto* array = isDictionary ? nullptr : static_cast<const Array*>(object.get());
        const quint64 count = quint64(isDictionary ? dictionary->count() : array->count());
        const quint32 index = addObject(isDictionary ? WriterObject::Dictionary : WriterObject::Array, &v, countBytes(count));
        if (index == kInvalid)
            return kInvalid;
        const size_t refStart = m_refs.size();
        const quint64 slots = isDictionary ? 2 * count : count;
        if (refStart + slots >= kInvalid)
            return fail(QStringLiteral("too many objects"));
        m_refs.resize(refStart + size_t(slots));
        m_objects[index].refStart = quint32(refStart);
        m_objects[index].count = quint32(count);
        if (isDictionary) {
            // Keys in the dictionary's own order, which is stable: the same dictionary
            // always gives the same bytes.
            const Dictionary::Map& map = dictionary->map();
            size_t i = 0;
            for (auto it = map.cbegin(); it != map.cend(); ++it, ++i) {
                const quint32 key = flattenString(it.key());
                if (key == kInvalid)
                    return kInvalid;
                m_refs[refStart + i] = key;
                const quint32 child = flattenValue(it.value(), depth + 1);
                if (child == kInvalid)
                    return kInvalid;
                m_refs[refStart + size_t(count) + i] = child;
            }
        } else {
            for (size_t i = 0; i < size_t(count); ++i) {
                const quint32 child = flattenValue(array->at(qsizetype(i)), depth + 1);
                if (child == kInvalid)
                    return kInvalid;
                m_refs[refStart + i] = child;
            }
        }
        return index;
    }

    static bool isAscii(const QString& s)
    {
        const char16_t* p = reinterpret_cast<const char16_t*>(s.constData());
        const qsizetype n = s.size();
        char16_t bits = 0;
        for (qsizetype i = 0; i < n; ++i)
            bits |= p[i];
        return bits < 0x80;
    }

    void reserve(quint64 n)
    {
        if (m_pos + n <= quint64(m_out.size()))
            return;
        m_out.resize(qsizetype(std::max<quint64>(m_pos + n, quint64(m_out.size()) * 2)));
        m_p = reinterpret_cast<uchar*>(m_out.data());
    }
    void put(const void* bytes, quint64 n)
    {
        reserve(n);
        std::memcpy(m_p + m_pos, bytes, size_t(n));
        m_pos += n;
    }
    void putByte(uchar b)
    {
        reserve(1);
        m_p[m_pos++] = b;
    }
    void putBigEndian(quint64 v, int n)
    {
        reserve(quint64(n));
        for (int i = n - 1; i >= 0; --i) {
            m_p[m_pos + quint64(i)] = uchar(v);
            v >>= 8;
        }
        m_pos += quint64(n);
    }
    void putMarker(uchar high, quint64 count)
    {
        if (count < 15) {
            putByte(uchar(high | count));
            return;
        }
        putByte(uchar(high | 0x0F));
        if (count <= 0xFF) {
            putByte(0x10);
            putBigEndian(count, 1);
        } else if (count <= 0xFFFF) {
            putByte(0x11);
            putBigEndian(count, 2);
        } else if (count <= 0xFFFFFFFFull) {
            putByte(0x12);
            putBigEndian(count, 4);
        } else {
            putByte(0x13);
            putBigEndian(count, 8);
        }
    }

    void writeObject(const WriterObject& o)
    {
        switch (o.kind) {
        case WriterObject::String: {
            const QString& s = *static_cast<const QString*>(o.item);
            const quint64 n = quint64(s.size());
            const char16_t* src = reinterpret_cast<const char16_t*>(s.constData());
            if (o.ascii) {
                putMarker(0x50, n);
                reserve(n);
                uchar* d = m_p + m_pos;
                for (quint64 i = 0; i < n; ++i)
                    d[i] = uchar(src[i]);
                m_pos += n;
            } else {
                putMarker(0x60, n);
                reserve(2 * n);
                uchar* d = m_p + m_pos;
                for (quint64 i = 0; i < n; ++i) {
                    d[2 * i] = uchar(src[i] >> 8);
                    d[2 * i + 1] = uchar(src[i]);
                }
                m_pos += 2 * n;
            }
            return;
        }
        case WriterObject::Bool:
            putByte(static_cast<const Value*>(o.item)->boolean() ? 0x09 : 0x08);
            return;
        case WriterObject::Integer: {
            const Value& v = *static_cast<const Value*>(o.item);
            if (v.isUnsignedInteger()) {
                putByte(0x14);
                putBigEndian(0, 8);
                putBigEndian(v.unsignedInteger(), 8);
                return;
            }
            const qint64 i = v.integer();
            if (i < 0 || i > 0xFFFFFFFFll) {
                putByte(0x13);
                putBigEndian(quint64(i), 8);
            } else if (i > 0xFFFF) {
                putByte(0x12);
                putBigEndian(quint64(i), 4);
            } else if (i > 0xFF) {
                putByte(0x11);
                putBigEndian(quint64(i), 2);
            } else {
                putByte(0x10);
                putBigEndian(quint64(i), 1);
            }
            return;
        }
        case WriterObject::Real:
        case WriterObject::Date: {
            const Value& v = *static_cast<const Value*>(o.item);
            const double d = o.kind == WriterObject::Real ? v.real() : v.date().secondsSinceReferenceDate();
            quint64 bits;
            std::memcpy(&bits, &d, 8);
            putByte(o.kind == WriterObject::Real ? 0x23 : 0x33);
            putBigEndian(bits, 8);
            return;
        }
        case WriterObject::Data: {
            const QByteArray& d = static_cast<const Value*>(o.item)->data();
            putMarker(0x40, quint64(d.size()));
            put(d.constData(), quint64(d.size()));
            return;
        }
        case WriterObject::Array:
        case WriterObject::Dictionary: {
            putMarker(o.kind == WriterObject::Array ? 0xA0 : 0xD0, o.count);
            const quint64 slots = o.kind == WriterObject::Dictionary ? 2 * quint64(o.count) : o.count;
            reserve(slots * quint64(m_refSize));
            const quint32* refs = m_refs.data() + o.refStart;
            uchar* d = m_p + m_pos;
            switch (m_refSize) {
            case 1:
                for (quint64 i = 0; i < slots; ++i)
                    d[i] = uchar(refs[i]);
                break;
            case 2:
                for (quint64 i = 0; i < slots; ++i) {
                    d[2 * i] = uchar(refs[i] >> 8);
                    d[2 * i + 1] = uchar(refs[i]);
                }
                break;
            case 4:
                for (quint64 i = 0; i < slots; ++i) {
                    const quint32 be = qToBigEndian(refs[i]);
                    std::memcpy(d + 4 * i, &be, 4);
                }
                break;
            default:
                for (quint64 i = 0; i < slots; ++i) {
                    quint64 r = refs[i];
                    for (int k = m_refSize - 1; k >= 0; --k) {
                        d[i * quint64(m_refSize) + quint64(k)] = uchar(r);
                        r >>= 8;
                    }
                }
                break;
            }
            m_pos += slots * quint64(m_refSize);
            return;
        }
        }
    }

    std::vector<WriterObject> m_objects;
    std::vector<quint32> m_refs;
    struct Slot {
        quint32 hash = 0;
        quint32 index = 0; // object number + 1; 0 for a free slot
    };
    struct ScalarSlot {
        quint64 bits = 0;
        quint32 kind = 0;
        quint32 index = 0; // object number + 1; 0 for a free slot
    };
    struct Recent {
        const QChar* data = nullptr;
        qsizetype size = -1;
        quint32 index = 0;
    };
    static constexpr size_t kRecentStrings = 256;
    // Open-addressing tables of the strings and scalars written so far, seeded per
    // process so that no input can make them degenerate.
    const size_t m_seed = QHashSeed::globalSeed();
    std::vector<Slot> m_stringSlots;
    size_t m_stringCount = 0;
    std::vector<Recent> m_recentStrings = std::vector<Recent>(kRecentStrings);
    static constexpr size_t kMaxScalarCache = 16384;
    std::vector<ScalarSlot> m_scalarCache = std::vector<ScalarSlot>(64);
    QHash<QByteArray, quint32> m_dataIndex;
    quint32 m_true = kInvalid, m_false = kInvalid;
    quint64 m_leafBytes = 0;
    int m_refSize = 1;
    QByteArray m_out;
    uchar* m_p = nullptr;
    quint64 m_pos = 0;
};

} // namespace

Value readBinaryPropertyList(const QByteArray& bytes, QString* error)
{
    BinaryReader reader(bytes);
    return reader.read(error);
}

QByteArray writeBinaryPropertyList(const Value& value, QString* error)
{
    BinaryWriter writer;
    if (!writer.flatten(value)) {
        if (error)
            *error = writer.error;
        return QByteArray();
    }
    QByteArray bytes = writer.write();
    if (error)
        *error = writer.error;
    return bytes;
}

} // namespace platform
