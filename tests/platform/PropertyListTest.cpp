#include "platform/PropertyList.h"

#include <gtest/gtest.h>

#include "common/TestSupport.h"

#include <QtCore/QRandomGenerator>

#include <cmath>
#include <cstring>
#include <limits>

using namespace platform;
using testsupport::runProcess;

namespace {

// A strict text form of a value that python prints the same way: type letters, the
// bits of reals, UTF-16 of strings in hex, dates in microseconds, keys in UTF-16 order.
std::string canonical(const Value& v)
{
    char buffer[64];
    switch (v.type()) {
    case Value::Type::Bool:
        return v.boolean() ? "T" : "F";
    case Value::Type::Integer:
        return v.isUnsignedInteger() ? "i" + std::to_string(v.unsignedInteger()) : "i" + std::to_string(v.integer());
    case Value::Type::Real: {
        const double d = v.real();
        quint64 bits;
        std::memcpy(&bits, &d, 8);
        std::snprintf(buffer, sizeof buffer, "r%016llx", (unsigned long long)bits);
        return buffer;
    }
    case Value::Type::String: {
        std::string out = "s";
        for (QChar c : v.string()) {
            std::snprintf(buffer, sizeof buffer, "%04x", uint(c.unicode()));
            out += buffer;
        }
        return out;
    }
    case Value::Type::Data:
        return "b" + v.data().toHex().toStdString();
    case Value::Type::Date:
        return "d" + std::to_string(std::llround(v.date().secondsSince1970 * 1e6));
    case Value::Type::Array: {
        std::string out = "[";
        for (qsizetype i = 0; i < v.array()->count(); ++i)
            out += (i ? "," : "") + canonical(v.array()->at(i));
        return out + "]";
    }
    case Value::Type::Dictionary: {
        std::string out = "{";
        bool first = true;
        for (const QString& k : v.dictionary()->sortedKeys()) {
            out += (first ? "" : ",") + canonical(Value(k)) + ":" + canonical(v.dictionary()->value(k));
            first = false;
        }
        return out + "}";
    }
    default:
        return "?";
    }
}

const char* kPythonScript = R"PY(
import sys, plistlib, struct, datetime
EPOCH = datetime.datetime(1970, 1, 1)
def u16(s): return s.encode('utf-16-be', 'surrogatepass')
def c(v):
    if isinstance(v, bool): return 'T' if v else 'F'
    if isinstance(v, int): return 'i%d' % v
    if isinstance(v, float): return 'r%016x' % struct.unpack('>Q', struct.pack('>d', v))[0]
    if isinstance(v, str): return 's' + u16(v).hex()
    if isinstance(v, bytes): return 'b' + v.hex()
    if isinstance(v, datetime.datetime): return 'd%d' % ((v - EPOCH) // datetime.timedelta(microseconds=1))
    if isinstance(v, list): return '[' + ','.join(c(x) for x in v) + ']'
    if isinstance(v, dict): return '{' + ','.join(c(k) + ':' + c(v[k]) for k in sorted(v, key=u16)) + '}'
    raise TypeError(type(v))
with open(sys.argv[2], 'rb') as f:
    value = plistlib.load(f)
if sys.argv[1] == 'dump':
    sys.stdout.write(c(value))
else:
    fmt = plistlib.FMT_BINARY if sys.argv[1] == 'binary' else plistlib.FMT_XML
    with open(sys.argv[3], 'wb') as f:
        plistlib.dump(value, f, fmt=fmt, sort_keys=False)
)PY";

// Every kind of value, with edge cases of each; XML holds dates in whole seconds only.
Value everyKind(bool forXml)
{
    QByteArray bytes;
    for (int i = 0; i < 300; ++i)
        bytes.append(char(i * 7));
    DictionaryPtr d = Dictionary::make({
        {"string", "plain ascii"},
        {"unicode", QString::fromUtf8("Grüße, 日本語, emoji \xF0\x9F\x98\x80 and \xF0\x90\x8D\x88")},
        {"empty string", ""},
        {"markup", "a & b < c > d \" ' \t tab\nline"},
        {"zero", 0},
        {"one byte", 255},
        {"two bytes", 256},
        {"four bytes", 70000},
        {"eight bytes", 1LL << 40},
        {"minus one", -1},
        {"int64 min", std::numeric_limits<qint64>::min()},
        {"int64 max", std::numeric_limits<qint64>::max()},
        {"uint64 max", std::numeric_limits<quint64>::max()},
        {"2^63", 1ULL << 63},
        {"tenth", 0.1},
        {"huge", 1e300},
        {"negative real", -2.5},
        {"whole real", 100.0},
        {"denormal", 5e-324},
        {"yes", true},
        {"no", false},
        {"date", Date{1700000000.0}},
        {"old date", Date{-1000000000.0}},
        {"data", QByteArray("\x00\x01\xff", 3)},
        {"empty data", QByteArray()},
        {"long data", bytes},
        {"array", Array::make({1, "two", Array::make({3.5, Dictionary::make({{"deep", true}})})})},
        {"empty array", Array::make()},
        {"empty dictionary", Dictionary::make()},
        {QString::fromUtf8("key \xF0\x9F\x98\x80"), "non-BMP key"},
    });
    if (!forXml)
        d->setValue("fractional date", Date{1700000000.5});
    return Value(d);
}

QString tempPath(const QString& name)
{
    static const QString dir = testsupport::makeTempDir(QStringLiteral("plist"));
    return dir + u'/' + name;
}

std::string pythonDump(const QString& path)
{
    const auto r = runProcess(QStringLiteral("python3"), {QStringLiteral("-c"), QString::fromUtf8(kPythonScript), QStringLiteral("dump"), path});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    return r.out.toStdString();
}

// A binary property list put together object by object, for files our writer would
// never produce.
struct RawBinary {
    std::vector<QByteArray> objects;
    int offsetSize = 1;
    int refSize = 1;
    quint64 top = 0;

    QByteArray build() const
    {
        QByteArray out("bplist00");
        std::vector<quint64> offsets;
        for (const QByteArray& o : objects) {
            offsets.push_back(quint64(out.size()));
            out.append(o);
        }
        const quint64 table = quint64(out.size());
        for (quint64 o : offsets)
            appendBigEndian(out, o, offsetSize);
        out.append(QByteArray(6, '\0'));
        out.append(char(offsetSize));
        out.append(char(refSize));
        appendBigEndian(out, offsets.size(), 8);
        appendBigEndian(out, top, 8);
        appendBigEndian(out, table, 8);
        return out;
    }

    static void appendBigEndian(QByteArray& out, quint64 v, int n)
    {
        for (int i = n - 1; i >= 0; --i)
            out.append(char(v >> (8 * i)));
    }
};

QByteArray bytes(std::initializer_list<int> list)
{
    QByteArray out;
    for (int b : list)
        out.append(char(b));
    return out;
}

// Patches a trailer field of a built file: offset within the 32-byte trailer.
QByteArray patchTrailer(QByteArray file, int at, quint64 value, int n)
{
    const qsizetype base = file.size() - 32 + at;
    for (int i = n - 1; i >= 0; --i) {
        file[base + i] = char(value);
        value >>= 8;
    }
    return file;
}

QByteArray smallBinary()
{
    RawBinary b;
    b.objects = {bytes({0xA2, 1, 2}), bytes({0x51, 'a'}), bytes({0x10, 7})};
    return b.build();
}

} // namespace

TEST(PropertyList, OurFilesReadByPythonAndPythonFilesReadByUs)
{
    for (const bool xml : {false, true}) {
        SCOPED_TRACE(xml ? "XML" : "binary");
        const Value value = everyKind(xml);
        QString error;
        const QByteArray file = xml ? writeXMLPropertyList(value, &error) : writeBinaryPropertyList(value, &error);
        ASSERT_FALSE(file.isEmpty()) << error.toStdString();
        const QString path = tempPath(xml ? "ours.xml.plist" : "ours.binary.plist");
        testsupport::writeFile(path, file);
        EXPECT_EQ(pythonDump(path), canonical(value));

        const QString pythonPath = tempPath(xml ? "python.xml.plist" : "python.binary.plist");
        const auto r = runProcess(QStringLiteral("python3"),
                                  {QStringLiteral("-c"), QString::fromUtf8(kPythonScript), xml ? QStringLiteral("xml") : QStringLiteral("binary"), path, pythonPath});
        ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
        const PropertyListReadResult read = readPropertyListFile(pythonPath);
        ASSERT_TRUE(read.ok()) << read.error.toStdString();
        EXPECT_EQ(read.format, xml ? PropertyListFormat::XML : PropertyListFormat::Binary);
        EXPECT_EQ(canonical(read.value), canonical(value));
        EXPECT_EQ(read.value, value);
    }
}

TEST(PropertyList, WritersRoundTripThroughOurReaders)
{
    for (const PropertyListFormat format : {PropertyListFormat::Binary, PropertyListFormat::XML}) {
        const Value value = everyKind(format == PropertyListFormat::XML);
        value.dictionary()->setValue("carriage return", "a\r\nb\rc");
        value.dictionary()->setValue("leading U+FEFF", QString(QChar(0xFEFF)) + QStringLiteral("text"));
        value.dictionary()->setValue("control in binary only", format == PropertyListFormat::Binary ? "\x01\x1f" : "-");
        value.dictionary()->setValue("infinity", std::numeric_limits<double>::infinity());
        value.dictionary()->setValue("minus infinity", -std::numeric_limits<double>::infinity());
        value.dictionary()->setValue("minus zero", -0.0);
        value.dictionary()->setValue("max double", std::numeric_limits<double>::max());
        value.dictionary()->setValue("ancient date", Date{-62135596800.0}); // 0001-01-01
        QString error;
        const QByteArray file = writePropertyList(value, format, &error);
        ASSERT_FALSE(file.isEmpty()) << error.toStdString();
        const PropertyListReadResult read = readPropertyList(file);
        ASSERT_TRUE(read.ok()) << read.error.toStdString();
        EXPECT_EQ(read.format, format);
        EXPECT_EQ(canonical(read.value), canonical(value));
        // Writing is deterministic: dictionary keys are ordered.
        EXPECT_EQ(writePropertyList(read.value, format), file);
    }
}

TEST(PropertyList, BinaryWriterSharesEqualValuesAndUsesSmallestSizes)
{
    // A library-like list: every record repeats the same keys and many values.
    ArrayPtr records = Array::make();
    for (int i = 0; i < 2000; ++i)
        records->append(Dictionary::make({{"Unique Library ID", QStringLiteral("ID-%1").arg(i)},
                                          {"A Rather Long Key That Repeats In Every Record", "shared value"},
                                          {"Rating", i % 5},
                                          {"Added", Date{1e9}},
                                          {"Name", QString::fromUtf8("Caf\xC3\xA9 %1").arg(i % 10)}}));
    const QByteArray file = writeBinaryPropertyList(Value(records));
    EXPECT_EQ(file.count("A Rather Long Key That Repeats In Every Record"), 1);
    EXPECT_EQ(file.count("shared value"), 1);
    // 2000 records of 5 keys share 5 key strings, 5 ratings, one date, 10 names.
    EXPECT_LT(file.size(), 80000); // each record alone would take over 100 bytes of strings
    const uchar* trailer = reinterpret_cast<const uchar*>(file.constData()) + file.size() - 32;
    EXPECT_EQ(trailer[7], 2); // references: a few thousand objects
    EXPECT_EQ(trailer[6], 2); // offsets: the objects end below 64 KiB
    // Non-ASCII strings are UTF-16 (marker 0x6n), others ASCII (0x5n).
    EXPECT_TRUE(file.contains(QByteArray("\x66\x00\x43\x00\x61\x00\x66\x00\xe9", 9)));
    EXPECT_TRUE(file.contains(QByteArray("\x5c" "shared value")));

    const QByteArray tiny = writeBinaryPropertyList(Value(Array::make({"a", 1})));
    EXPECT_EQ(tiny.at(tiny.size() - 26), 1);
    EXPECT_EQ(tiny.at(tiny.size() - 25), 1);
    EXPECT_EQ(readBinaryPropertyList(tiny, nullptr), Value(Array::make({"a", 1})));
}

TEST(PropertyList, WritersAndDeepCopyRefuseWhatIsNotAPropertyList)
{
    struct Foreign : Object {};
    ArrayPtr cycle = Array::make({1});
    cycle->append(Value(cycle));
    auto nested = [](int levels) {
        Value v(Array::make());
        for (int i = 1; i < levels; ++i)
            v = Value(Array::make({v}));
        return v;
    };
    struct Case {
        const char* name;
        Value value;
        const char* error;
    };
    const Case cases[] = {
        {"null", Value(), "null"},
        {"null in an array", Value(Array::make({1, Value()})), "null"},
        {"foreign object", Value(Dictionary::make({{"x", Value(std::make_shared<Foreign>())}})), "not a property-list value"},
        {"too deep", nested(kPropertyListMaxDepth + 1), "deeper than 512"},
        {"cycle", Value(cycle), "contain themselves"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QString error;
        EXPECT_TRUE(writeBinaryPropertyList(c.value, &error).isEmpty());
        EXPECT_TRUE(error.contains(QLatin1String(c.error))) << error.toStdString();
        error.clear();
        EXPECT_TRUE(writeXMLPropertyList(c.value, &error).isEmpty());
        EXPECT_TRUE(error.contains(QLatin1String(c.error))) << error.toStdString();
        error.clear();
        EXPECT_TRUE(deepCopyPropertyList(c.value, &error).isNull());
        EXPECT_TRUE(error.contains(QLatin1String(c.error))) << error.toStdString();
    }
    cycle->removeAll(); // break the cycle so the array can be freed

    // The deepest nesting the readers accept is written and read back.
    const Value deepest = nested(kPropertyListMaxDepth);
    for (const PropertyListFormat format : {PropertyListFormat::Binary, PropertyListFormat::XML}) {
        const PropertyListReadResult read = readPropertyList(writePropertyList(deepest, format));
        EXPECT_TRUE(read.ok()) << read.error.toStdString();
        EXPECT_EQ(read.value, deepest);
    }

    // What XML cannot hold is refused, never written changed.
    const struct {
        Value value;
        const char* error;
    } xmlCases[] = {
        {Value("bell \x07"), "control character U+0007"},
        {Value(QString(QChar(0xD800))), "unpaired surrogate"},
        {Value(Date{1e300}), "outside the years"},
    };
    for (const auto& c : xmlCases) {
        QString error;
        EXPECT_TRUE(writeXMLPropertyList(c.value, &error).isEmpty());
        EXPECT_TRUE(error.contains(QLatin1String(c.error))) << error.toStdString();
        EXPECT_FALSE(writeBinaryPropertyList(c.value).isEmpty());
    }
    QString error;
    EXPECT_TRUE(writePropertyList(Value(1), PropertyListFormat::OpenStep, &error).isEmpty());
    EXPECT_FALSE(error.isEmpty());
}

TEST(PropertyList, DeepCopySharesNothing)
{
    const Value source = everyKind(false);
    QString error = QStringLiteral("stale");
    const Value copy = deepCopyPropertyList(source, &error);
    EXPECT_TRUE(error.isEmpty());
    ASSERT_EQ(canonical(copy), canonical(source));
    EXPECT_NE(copy.dictionary(), source.dictionary());
    const ArrayPtr sourceArray = source.dictionary()->value("array").array();
    const ArrayPtr copyArray = copy.dictionary()->value("array").array();
    EXPECT_NE(copyArray, sourceArray);
    EXPECT_NE(copyArray->at(2).array(), sourceArray->at(2).array());
    copyArray->at(2).array()->at(1).dictionary()->setValue("deep", false);
    copyArray->append(Value(5));
    EXPECT_EQ(sourceArray->count(), 3);
    EXPECT_EQ(sourceArray->at(2).array()->at(1).dictionary()->value("deep"), Value(true));
}

TEST(PropertyList, BinaryReaderRefusesHostileFiles)
{
    const QByteArray valid = smallBinary();
    ASSERT_EQ(readBinaryPropertyList(valid, nullptr), Value(Array::make({"a", 7})));
    const quint64 size = quint64(valid.size());

    RawBinary cycle;
    cycle.objects = {bytes({0xA1, 0})};
    RawBinary indirectCycle;
    indirectCycle.objects = {bytes({0xA1, 1}), bytes({0xD1, 2, 0}), bytes({0x51, 'k'})};
    RawBinary hugeArray;
    hugeArray.objects = {bytes({0xAF, 0x13, 0x10, 0, 0, 0, 0, 0, 0, 0, 0})};
    RawBinary hugeString;
    hugeString.objects = {bytes({0x5F, 0x13, 0x10, 0, 0, 0, 0, 0, 0, 0, 'a'})};
    RawBinary hugeDictionary;
    hugeDictionary.objects = {bytes({0xDF, 0x13, 0x08, 0, 0, 0, 0, 0, 0, 0, 0})};
    RawBinary deep; // 100000 arrays, each holding the next
    deep.offsetSize = 4;
    deep.refSize = 4;
    for (quint32 i = 0; i < 100000; ++i)
        deep.objects.push_back(i + 1 < 100000 ? bytes({0xA1, int(i + 1) >> 24, (int(i + 1) >> 16) & 0xFF, (int(i + 1) >> 8) & 0xFF, int(i + 1) & 0xFF})
                                               : bytes({0xA0}));
    RawBinary exponential; // each level refers twice to the next: 2^60 values
    for (int i = 0; i < 60; ++i)
        exponential.objects.push_back(bytes({0xA2, i + 1, i + 1}));
    exponential.objects.push_back(bytes({0x10, 1}));
    RawBinary badRef;
    badRef.objects = {bytes({0xA1, 9})};
    RawBinary intKey;
    intKey.objects = {bytes({0xD1, 1, 1}), bytes({0x10, 1})};
    RawBinary bigInteger;
    bigInteger.objects = {bytes({0x14, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0})};
    RawBinary wideInteger;
    wideInteger.objects = {bytes({0x15, 0, 0})};
    RawBinary uid;
    uid.objects = {bytes({0x80, 1})};
    RawBinary set;
    set.objects = {bytes({0xC0})};
    RawBinary countNotInteger;
    countNotInteger.objects = {bytes({0x5F, 0x23, 0, 0, 0, 0, 0, 0, 0, 0})};
    RawBinary truncatedReal;
    truncatedReal.objects = {bytes({0x23, 0, 0})};
    RawBinary oddUtf16;
    oddUtf16.objects = {bytes({0x62, 0, 'a', 0})};

    struct Case {
        const char* name;
        QByteArray file;
        const char* error;
    };
    const Case cases[] = {
        {"empty", QByteArray(), "too short"},
        {"not a property list", QByteArray("hello world, this is text and not a property list"), "does not begin"},
        {"other version", QByteArray("bplist01") + valid.mid(8), "unsupported version"},
        {"header only", QByteArray("bplist00"), "too short"},
        {"offset size 0", patchTrailer(valid, 6, 0, 1), "offset size 0"},
        {"offset size 9", patchTrailer(valid, 6, 9, 1), "offset size 9"},
        {"reference size 0", patchTrailer(valid, 7, 0, 1), "reference size 0"},
        {"no objects", patchTrailer(valid, 8, 0, 8), "no objects"},
        {"2^60 objects", patchTrailer(patchTrailer(valid, 8, 1ULL << 60, 8), 7, 8, 1), "runs past the trailer"},
        {"more objects than references address", patchTrailer(valid, 8, 300, 8), "cannot be told apart"},
        {"top object out of range", patchTrailer(valid, 16, 3, 8), "top object 3"},
        {"table inside the trailer", patchTrailer(valid, 24, size - 20, 8), "offset table offset"},
        {"table inside the header", patchTrailer(valid, 24, 3, 8), "offset table offset"},
        {"table offset 2^64-1", patchTrailer(valid, 24, ~0ULL, 8), "offset table offset"},
        {"object offset past the end", [&] { QByteArray f = valid; f[f.size() - 32 - 3] = char(0xF0); return f; }(), "offset 240 outside the object area"},
        {"object offset in the offset table", [&] { QByteArray f = valid; f[f.size() - 32 - 2] = char(size - 34); return f; }(), "outside the object area"},
        {"reference cycle", cycle.build(), "contains itself"},
        {"indirect reference cycle", indirectCycle.build(), "contains itself"},
        {"array of 2^60", hugeArray.build(), "runs past the end of the object area"},
        {"string of 2^60", hugeString.build(), "runs past the end of the object area"},
        {"dictionary of 2^59", hugeDictionary.build(), "runs past the end of the object area"},
        {"nesting 100000 deep", deep.build(), "deeper than 512"},
        {"exponential sharing", exponential.build(), "too many values"},
        {"reference out of range", badRef.build(), "reference 9"},
        {"integer key", intKey.build(), "not a string"},
        {"integer above 64 bits", bigInteger.build(), "does not fit in 64 bits"},
        {"integer of 32 bytes", wideInteger.build(), "unsupported size"},
        {"UID", uid.build(), "UID"},
        {"set", set.build(), "unsupported marker 0xc0"},
        {"count of wrong type", countNotInteger.build(), "not an integer"},
        {"truncated real", truncatedReal.build(), "runs past"},
        {"odd UTF-16", oddUtf16.build(), "runs past"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QString error;
        const Value v = readBinaryPropertyList(c.file, &error);
        EXPECT_TRUE(v.isNull());
        EXPECT_TRUE(error.startsWith(QLatin1String("binary property list: "))) << error.toStdString();
        EXPECT_TRUE(error.contains(QLatin1String(c.error))) << error.toStdString();
    }
}

TEST(PropertyList, BinaryReaderAcceptsWhatOtherWritersProduce)
{
    RawBinary shared; // one array referred to twice, one string key shared
    shared.objects = {bytes({0xD2, 3, 4, 1, 1}), bytes({0xA1, 2}), bytes({0x10, 5}), bytes({0x51, 'a'}), bytes({0x51, 'b'})};
    RawBinary misc;
    misc.objects = {bytes({0xA6, 1, 2, 3, 4, 5, 6}),
                    bytes({0x22, 0x3F, 0xC0, 0, 0}),                                  // 1.5 as a 4-byte real
                    bytes({0x53, 'c', 0xE9, 'z'}),                                    // 8-bit "ASCII" read as Latin-1
                    bytes({0x62, 0xD8, 0x3D, 0xDE, 0x00}),                             // a surrogate pair
                    bytes({0x14, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE}), // -2
                    bytes({0x12, 0xFF, 0xFF, 0xFF, 0xFF}),                            // 4 bytes are unsigned
                    bytes({0x4F, 0x10, 0x02, 0xAB, 0xCD})};                           // data with a separate count
    struct Case {
        const char* name;
        QByteArray file;
        Value expected;
    };
    const Case cases[] = {
        {"shared objects", shared.build(), Value(Dictionary::make({{"a", Array::make({5})}, {"b", Array::make({5})}}))},
        {"other encodings", misc.build(),
         Value(Array::make({1.5, QString::fromUtf8("c\xC3\xA9z"), QString::fromUtf8("\xF0\x9F\x98\x80"), -2, 4294967295LL, QByteArray("\xAB\xCD")}))},
        {"bare integer", [] { RawBinary b; b.objects = {bytes({0x10, 42})}; return b.build(); }(), Value(42)},
        // The null object is an absent value: its dictionary entry and array element go.
        {"null objects", [] {
             RawBinary b;
             b.objects = {bytes({0xD2, 1, 2, 3, 4}), bytes({0x51, 'a'}), bytes({0x51, 'b'}), bytes({0x00}), bytes({0xA3, 5, 3, 5}), bytes({0x10, 7})};
             return b.build();
         }(),
         Value(Dictionary::make({{"b", Array::make({7, 7})}}))},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QString error;
        const Value v = readBinaryPropertyList(c.file, &error);
        EXPECT_TRUE(error.isEmpty()) << error.toStdString();
        EXPECT_EQ(canonical(v), canonical(c.expected));
    }
    // A shared container becomes two separate containers: changing one leaves the other.
    const Value v = readBinaryPropertyList(shared.build(), nullptr);
    EXPECT_NE(v.dictionary()->value("a").array(), v.dictionary()->value("b").array());
}

TEST(PropertyList, DamagedFilesGiveErrorsNotCrashes)
{
    DictionaryPtr d = Dictionary::make({{"name", "Movie"}, {"rating", 3}, {"added", Date{1.5e9}}, {"size", 1e10},
                                        {"tags", Array::make({"a", QString::fromUtf8("\xC3\xA9t\xC3\xA9"), true})},
                                        {"blob", QByteArray("\x01\x02\x03")}, {"big", 1ULL << 63}});
    for (const PropertyListFormat format : {PropertyListFormat::Binary, PropertyListFormat::XML}) {
        SCOPED_TRACE(format == PropertyListFormat::Binary ? "binary" : "XML");
        const QByteArray file = writePropertyList(Value(d), format);
        ASSERT_FALSE(file.isEmpty());
        const qsizetype closing = file.lastIndexOf("</plist>");
        for (qsizetype n = 0; n < file.size(); ++n) {
            // Short prefixes of "bplist00" are valid text property lists: read each
            // with its own reader.
            QString error;
            const Value v = format == PropertyListFormat::Binary ? readBinaryPropertyList(file.left(n), &error)
                                                                 : readXMLPropertyList(file.left(n), &error);
            if (format == PropertyListFormat::Binary || n < closing + 8) {
                EXPECT_FALSE(error.isEmpty()) << "prefix of " << n << " bytes";
            }
            EXPECT_EQ(v.isNull(), !error.isEmpty());
        }
        // Every single bit flipped: whatever reads must also write and read back.
        int accepted = 0;
        for (qsizetype bit = 0; bit < file.size() * 8; ++bit) {
            QByteArray damaged = file;
            damaged[bit / 8] = char(damaged[bit / 8] ^ (1 << (bit % 8)));
            const PropertyListReadResult r = readPropertyList(damaged);
            if (!r.ok())
                continue;
            ++accepted;
            QString error;
            const QByteArray again = writeBinaryPropertyList(r.value, &error);
            ASSERT_FALSE(again.isEmpty()) << error.toStdString();
            const Value back = readBinaryPropertyList(again, &error);
            EXPECT_EQ(canonical(back), canonical(r.value));
        }
        EXPECT_GT(accepted, 0);
    }
    // Random damage with a fixed seed, several bytes at a time.
    const QByteArray file = writeBinaryPropertyList(Value(d));
    QRandomGenerator random(20261209);
    for (int round = 0; round < 20000; ++round) {
        QByteArray damaged = file;
        for (int k = 0; k < 4; ++k)
            damaged[random.bounded(int(damaged.size()))] = char(random.bounded(256));
        QString error;
        const Value v = readBinaryPropertyList(damaged, &error);
        EXPECT_EQ(v.isNull(), !error.isEmpty());
    }
}

TEST(PropertyList, XMLReaderRefusesHostileDocuments)
{
    const QByteArray head = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n";
    const QByteArray billionLaughs = "<?xml version=\"1.0\"?>\n"
                                     "<!DOCTYPE lolz [\n"
                                     " <!ENTITY lol \"lol\">\n"
                                     " <!ENTITY lol2 \"&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;\">\n"
                                     " <!ENTITY lol3 \"&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;\">\n"
                                     " <!ENTITY lol4 \"&lol3;&lol3;&lol3;&lol3;&lol3;&lol3;&lol3;&lol3;&lol3;&lol3;\">\n"
                                     " <!ENTITY lol9 \"&lol4;&lol4;&lol4;&lol4;&lol4;&lol4;&lol4;&lol4;&lol4;&lol4;\">\n"
                                     "]>\n"
                                     "<plist version=\"1.0\"><string>&lol9;</string></plist>\n";
    const QByteArray externalEntity = "<?xml version=\"1.0\"?>\n<!DOCTYPE plist [<!ENTITY xxe SYSTEM \"file:///etc/passwd\">]>\n"
                                      "<plist><string>&xxe;</string></plist>";
    QByteArray deep = head;
    for (int i = 0; i < 100000; ++i)
        deep += "<array>";
    struct Case {
        const char* name;
        QByteArray document;
        const char* error;
    };
    const Case cases[] = {
        {"billion laughs", billionLaughs, "line 9, column 30: unknown entity &lol9;"},
        {"external entity", externalEntity, "unknown entity &xxe;"},
        {"100000 deep", deep, "line 3, column 3585: containers nest deeper than 512 levels"},
        {"unclosed string", head + "<string>abc", "line 3, column 1: <string> is not closed"},
        {"unclosed dictionary", head + "<dict><key>a</key><string>b</string>", "unexpected end of the document"},
        {"mismatched end tag", head + "<array></dict></plist>", "<array> is closed by </dict>"},
        {"wrong end of string", head + "<string>a</key></plist>", "<string> is closed by </key>"},
        {"integer with letters", head + "<integer>12x</integer></plist>", "\"12x\" is not an integer"},
        {"empty integer", head + "<integer></integer></plist>", "is not an integer"},
        {"integer above 2^64", head + "<integer>18446744073709551616</integer></plist>", "does not fit in 64 bits"},
        {"integer below -2^63", head + "<integer>-9223372036854775809</integer></plist>", "does not fit in 64 bits"},
        {"fraction as integer", head + "<integer>1.5</integer></plist>", "is not an integer"},
        {"bad real", head + "<real>1.2.3</real></plist>", "is not a real number"},
        {"bad date", head + "<date>2020-13-01T00:00:00Z</date></plist>", "is not a date"},
        {"date without zone", head + "<date>2020-01-01T00:00:00</date></plist>", "is not a date"},
        {"bad base64", head + "<data>@@@@</data></plist>", "base64"},
        {"key without value", head + "<dict><key>a</key></dict></plist>", "key \"a\" has no value"},
        {"value without key", head + "<dict><string>a</string></dict></plist>", "without a <key>"},
        {"text in a dictionary", head + "<dict>oops<key>a</key><true/></dict></plist>", "unexpected text inside <dict>"},
        {"two values", head + "<true/><false/></plist>", "more than one value"},
        {"content after the end", head + "<true/></plist><true/>", "unexpected content after the property list"},
        {"unknown element", head + "<foo/></plist>", "unknown element <foo>"},
        {"key outside a dictionary", head + "<key>a</key></plist>", "<key> outside a dictionary"},
        {"element inside a string", head + "<string>a<b/></string></plist>", "unexpected element <b> inside <string>"},
        {"text in true", head + "<true>yes</true></plist>", "<true> holds text"},
        {"bare ampersand", head + "<string>a & b</string></plist>", "'&' that does not begin"},
        {"character reference 0", head + "<string>&#0;</string></plist>", "invalid character reference"},
        {"surrogate reference", head + "<string>&#xD800;</string></plist>", "invalid character reference"},
        {"invalid UTF-8", head + "<string>\xC3\x28</string></plist>", "line 3, column 9: the text is not valid UTF-8"},
        {"other encoding", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><plist><true/></plist>", "unsupported encoding"},
        {"unterminated comment", head + "<!-- <true/></plist>", "unterminated comment"},
        {"empty plist", head + "</plist>", "holds no value"},
        {"no elements", "<?xml version=\"1.0\"?>\n", "holds no property list"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QString error;
        const Value v = readXMLPropertyList(c.document, &error);
        EXPECT_TRUE(v.isNull());
        EXPECT_TRUE(error.startsWith(QLatin1String("XML property list, line "))) << error.toStdString();
        EXPECT_TRUE(error.contains(QLatin1String(c.error))) << error.toStdString();
    }
}

TEST(PropertyList, XMLReaderReadsTheWholeFormat)
{
    const QByteArray head = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n";
    struct Case {
        const char* name;
        QByteArray document;
        Value expected;
    };
    const Case cases[] = {
        {"references", head + "<string>&amp;&lt;&gt;&quot;&apos;&#65;&#x1F600;&#x000000000041;</string></plist>", Value(QString::fromUtf8("&<>\"'A\xF0\x9F\x98\x80" "A"))},
        {"CDATA and comments", head + "<string>a<![CDATA[<b>&amp;]]>c<!-- x -->d</string></plist>", Value("a<b>&amp;cd")},
        {"line ends", head + "<string>a\r\nb\rc&#13;</string></plist>", Value("a\nb\nc\r")},
        {"whitespace kept in strings", head + "<string>  two  words \n</string></plist>", Value("  two  words \n")},
        {"integers", head + "<array><integer>0x1F</integer><integer> 42 </integer><integer>-9223372036854775808</integer>"
                            "<integer>18446744073709551615</integer><integer>+7</integer></array></plist>",
         Value(Array::make({31, 42, std::numeric_limits<qint64>::min(), std::numeric_limits<quint64>::max(), 7}))},
        {"reals", head + "<array><real>1e300</real><real> 2.5 </real><real>-0.0</real><real>+infinity</real><real>-inf</real><real>7</real></array></plist>",
         Value(Array::make({1e300, 2.5, -0.0, std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(), 7.0}))},
        {"booleans", head + "<array><true/><false/><true></true></array></plist>", Value(Array::make({true, false, true}))},
        {"dates", head + "<array><date>2001-01-01T00:00:00Z</date><date>1969-12-31T23:59:59Z</date><date>2004-02-29Z</date></array></plist>",
         Value(Array::make({Date::fromReferenceDate(0), Date{-1}, Date{1078012800}}))},
        {"data", head + "<data>\n\tAAEC\n\t/w==\n</data></plist>", Value(QByteArray("\x00\x01\x02\xff", 4))},
        {"empty elements", head + "<array><string/><data/><dict/><array/><string></string></array></plist>",
         Value(Array::make({"", QByteArray(), Dictionary::make(), Array::make(), ""}))},
        {"duplicate keys: the last wins", head + "<dict><key>a</key><integer>1</integer><key>a</key><integer>2</integer></dict></plist>",
         Value(Dictionary::make({{"a", 2}}))},
        {"no plist element", "<dict><key>a</key><integer>1</integer></dict>", Value(Dictionary::make({{"a", 1}}))},
        {"BOM, comments and attributes", "\xEF\xBB\xBF \n<?xml version='1.0'?><!-- c --><!DOCTYPE plist SYSTEM \"http://127.0.0.1:1/x.dtd\">"
                                          "<plist version=\"1.0\" note='a>b'><!-- c --><true/><!-- c --></plist><!-- c -->\n",
         Value(true)},
        {"parameter entities are never loaded", "<?xml version=\"1.0\"?><!DOCTYPE x [<!ENTITY % p SYSTEM \"file:///etc/passwd\"> %p; <!-- ] -->]>"
                                                  "<plist><string>ok</string></plist>",
         Value("ok")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QString error;
        const Value v = readXMLPropertyList(c.document, &error);
        EXPECT_TRUE(error.isEmpty()) << error.toStdString();
        EXPECT_EQ(canonical(v), canonical(c.expected));
    }
    QString error;
    EXPECT_TRUE(std::isnan(readXMLPropertyList(head + "<real>nan</real></plist>", &error).real()));
}

TEST(PropertyList, XMLWriterOutputLooksLikeThePlatforms)
{
    const Value v(Dictionary::make({{"b", Array::make({1, "x&y<z>"})},
                                    {"a", Dictionary::make()},
                                    {"c", Array::make()},
                                    {"d", QByteArray("\x00\x01\x02", 3)},
                                    {"e", true},
                                    {"f", 1.5},
                                    {"g", Date::fromReferenceDate(0)},
                                    {QString::fromUtf8("\xC3\xA9"), -3}}));
    const QByteArray expected = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
                                "<plist version=\"1.0\">\n"
                                "<dict>\n"
                                "\t<key>a</key>\n"
                                "\t<dict/>\n"
                                "\t<key>b</key>\n"
                                "\t<array>\n"
                                "\t\t<integer>1</integer>\n"
                                "\t\t<string>x&amp;y&lt;z&gt;</string>\n"
                                "\t</array>\n"
                                "\t<key>c</key>\n"
                                "\t<array/>\n"
                                "\t<key>d</key>\n"
                                "\t<data>\n"
                                "\tAAEC\n"
                                "\t</data>\n"
                                "\t<key>e</key>\n"
                                "\t<true/>\n"
                                "\t<key>f</key>\n"
                                "\t<real>1.5</real>\n"
                                "\t<key>g</key>\n"
                                "\t<date>2001-01-01T00:00:00Z</date>\n"
                                "\t<key>\xC3\xA9</key>\n"
                                "\t<integer>-3</integer>\n"
                                "</dict>\n"
                                "</plist>\n";
    EXPECT_EQ(writeXMLPropertyList(v).toStdString(), expected.toStdString());
}

TEST(PropertyList, OpenStepReader)
{
    struct Case {
        const char* name;
        QByteArray text;
        Value expected;
    };
    const Case cases[] = {
        {"dictionary", "{ key = value; \"quoted key\" = \"a\\nb\\t\\\"c\\\"\\\\\"; list = (a, \"b\", <0102 ff>); nested = { x = ( ); }; }",
         Value(Dictionary::make({{"key", "value"},
                                 {"quoted key", "a\nb\t\"c\"\\"},
                                 {"list", Array::make({"a", "b", QByteArray("\x01\x02\xff", 3)})},
                                 {"nested", Dictionary::make({{"x", Array::make()}})}}))},
        {"trailing comma", "( a, b, )", Value(Array::make({"a", "b"}))},
        {"comments", "// leading\n{ /* inside */ a = b; // after\n}", Value(Dictionary::make({{"a", "b"}}))},
        {"escapes", "\"\\U00e9\\u263A \\101\\351 \\' \\q\"", Value(QString::fromUtf8("\xC3\xA9\xE2\x98\xBA A\xC3\x98 ' q"))},
        {"numbers stay text", "( 1.5, -2, /usr/bin:x, $a_b )", Value(Array::make({"1.5", "-2", "/usr/bin:x", "$a_b"}))},
        {"single quotes", "'it\"s'", Value("it\"s")},
        {"quoted newline", "\"two\nlines\"", Value("two\nlines")},
        {"BOM", "\xEF\xBB\xBF{}", Value(Dictionary::make())},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QString error;
        const Value v = readOpenStepPropertyList(c.text, &error);
        if (c.expected.isNull()) {
            EXPECT_FALSE(error.isEmpty());
            continue;
        }
        EXPECT_TRUE(error.isEmpty()) << error.toStdString();
        EXPECT_EQ(canonical(v), canonical(c.expected));
    }

    const struct {
        const char* name;
        QByteArray text;
        const char* error;
    } bad[] = {
        {"missing semicolon", "{ a = b }", "line 1: unexpected '}'; expected ';' after the value of \"a\""},
        {"unterminated dictionary", "{\n a = b;\n", "line 1: unterminated dictionary"},
        {"missing comma", "( a b )", "expected ',' or ')'"},
        {"bad hex", "<0g>", "'g' in data is not a hexadecimal digit"},
        {"odd hex", "<012>", "odd number"},
        {"unterminated string", "(\n\"abc)", "line 2: unterminated quoted string"},
        {"deep", QByteArray(100000, '('), "deeper than 512"},
        {"container key", "{ (a) = b; }", "key is not a string"},
        {"empty", "  // nothing\n", "holds no property list"},
        {"trailing text", "a b", "unexpected text after"},
        {"unterminated comment", "/* x", "unterminated comment"},
        {"error on line 3", "{\n a = b;\n c = ;\n}", "line 3: unexpected ';'"},
        {"invalid UTF-8", "\"\xFF\"", "not valid UTF-8"},
        {"bad octal", "\"\\777\"", "above \\377"},
    };
    for (const auto& c : bad) {
        SCOPED_TRACE(c.name);
        QString error;
        EXPECT_TRUE(readOpenStepPropertyList(c.text, &error).isNull());
        EXPECT_TRUE(error.contains(QLatin1String(c.error))) << error.toStdString();
    }
}

TEST(PropertyList, FormatDetectionAndFiles)
{
    const Value v(Dictionary::make({{"a", 1}}));
    const struct {
        QByteArray bytes;
        PropertyListFormat format;
    } cases[] = {
        {writeBinaryPropertyList(v), PropertyListFormat::Binary},
        {writeXMLPropertyList(v), PropertyListFormat::XML},
        {"\xEF\xBB\xBF\n  <plist><dict><key>a</key><integer>1</integer></dict></plist>", PropertyListFormat::XML},
        {"<!DOCTYPE plist><plist><dict><key>a</key><integer>1</integer></dict></plist>", PropertyListFormat::XML},
        {"{ a = 1; }", PropertyListFormat::OpenStep},
    };
    for (const auto& c : cases) {
        const PropertyListReadResult r = readPropertyList(c.bytes);
        EXPECT_TRUE(r.ok()) << r.error.toStdString();
        EXPECT_EQ(r.format, c.format);
        if (c.format != PropertyListFormat::OpenStep) {
            EXPECT_EQ(r.value, v);
        }
    }
    EXPECT_FALSE(readPropertyList(QByteArray()).ok());

    const QString path = tempPath("file.plist");
    testsupport::writeFile(path, writeBinaryPropertyList(v));
    PropertyListReadResult r = readPropertyListFile(path);
    EXPECT_TRUE(r.ok());
    EXPECT_EQ(r.value, v);

    r = readPropertyListFile(tempPath("missing.plist"));
    EXPECT_TRUE(r.value.isNull());
    EXPECT_TRUE(r.error.startsWith(QStringLiteral("cannot read <%1>").arg(tempPath("missing.plist")))) << r.error.toStdString();

    testsupport::writeFile(tempPath("bad.plist"), "bplist00 broken");
    r = readPropertyListFile(tempPath("bad.plist"));
    EXPECT_FALSE(r.ok());
    EXPECT_TRUE(r.error.contains(QLatin1String("binary property list"))) << r.error.toStdString();

    r = readPropertyListFile(testsupport::testHome());
    EXPECT_FALSE(r.ok());

    // A file above 2 GiB is refused before anything is read (a sparse file costs no disk).
    QFile huge(tempPath("huge.plist"));
    ASSERT_TRUE(huge.open(QIODevice::WriteOnly));
    if (huge.resize(qint64(2) * 1024 * 1024 * 1024 + 1)) {
        huge.close();
        r = readPropertyListFile(huge.fileName());
        EXPECT_FALSE(r.ok());
        EXPECT_TRUE(r.error.contains(QLatin1String("too large"))) << r.error.toStdString();
    }
    huge.remove();
}
