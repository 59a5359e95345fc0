#include "platform/Value.h"

#include <QtCore/QDateTime>
#include <QtCore/QLocale>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <mutex>

namespace platform {

struct Object::Associations {
    std::vector<std::pair<const void*, Value>> values;
};

namespace {
// Attached values are rare; one lock for all of them is enough.
std::mutex g_associationsMutex;
} // namespace

Object::Object() = default;

Object::Object(const Object&)
    : std::enable_shared_from_this<Object>()
{
}

Object& Object::operator=(const Object&)
{
    return *this;
}

Object::~Object()
{
    // Nobody else can reach an object while it is destroyed, so the common case (nothing
    // attached) needs no lock.
    if (!m_associations)
        return;
    std::unique_ptr<Associations> doomed;
    {
        std::lock_guard lock(g_associationsMutex);
        doomed = std::move(m_associations);
    }
}

void Object::setAssociatedValue(const void* key, const Value& value)
{
    Value old;
    std::lock_guard lock(g_associationsMutex);
    if (!m_associations)
        m_associations = std::make_unique<Associations>();
    auto& values = m_associations->values;
    for (auto it = values.begin(); it != values.end(); ++it) {
        if (it->first == key) {
            old = std::move(it->second);
            if (value.isNull())
                values.erase(it);
            else
                it->second = value;
            return;
        }
    }
    if (!value.isNull())
        values.emplace_back(key, value);
}

Value Object::associatedValue(const void* key) const
{
    std::lock_guard lock(g_associationsMutex);
    if (!m_associations)
        return {};
    for (const auto& [k, v] : m_associations->values)
        if (k == key)
            return v;
    return {};
}

QString Object::description() const
{
    return QStringLiteral("<Object %1>").arg(quintptr(this), 0, 16);
}

Date Date::now()
{
    return Date{double(QDateTime::currentMSecsSinceEpoch()) / 1000.0};
}

// ---------------------------------------------------------------------------
// Value

Value::Value(ObjectPtr o)
{
    if (!o)
        return;
    switch (o->objectClass()) {
    case ObjectClass::Array: m_type = Type::Array; break;
    case ObjectClass::Dictionary: m_type = Type::Dictionary; break;
    case ObjectClass::Other: m_type = Type::Object; break;
    }
    new (&m_v.object) ObjectPtr(std::move(o));
}

void Value::setUnsigned(std::uint64_t u)
{
    m_type = Type::Integer;
    m_v.integer = std::int64_t(u);
    m_unsigned = u > std::uint64_t(std::numeric_limits<std::int64_t>::max());
}

const QString& Value::emptyString()
{
    static const QString empty;
    return empty;
}

const QByteArray& Value::emptyData()
{
    static const QByteArray empty;
    return empty;
}

bool Value::isPropertyList() const
{
    switch (m_type) {
    case Type::Null:
    case Type::Object:
        return false;
    case Type::Array:
        for (const Value& v : *array())
            if (!v.isPropertyList())
                return false;
        return true;
    case Type::Dictionary:
        for (const Value& v : *dictionary())
            if (!v.isPropertyList())
                return false;
        return true;
    default:
        return true;
    }
}

namespace {

// The leading numeric text of a string as a double, the way strings answer
// doubleValue: leading blanks are skipped, then an optional sign, digits, a fraction
// and an exponent; 0 when no number begins the text.
double leadingDouble(const QString& s)
{
    QByteArray text;
    qsizetype i = 0;
    const qsizetype n = s.size();
    while (i < n && s.at(i).isSpace())
        ++i;
    auto digit = [&](qsizetype k) { return k < n && s.at(k) >= u'0' && s.at(k) <= u'9'; };
    if (i < n && (s.at(i) == u'+' || s.at(i) == u'-'))
        text.append(char(s.at(i++).unicode()));
    bool any = false;
    while (digit(i)) {
        text.append(char(s.at(i++).unicode()));
        any = true;
    }
    if (i < n && s.at(i) == u'.') {
        text.append('.');
        ++i;
        while (digit(i)) {
            text.append(char(s.at(i++).unicode()));
            any = true;
        }
    }
    if (!any)
        return 0.0;
    if (i < n && (s.at(i) == u'e' || s.at(i) == u'E')) {
        qsizetype k = i + 1;
        QByteArray exp("e");
        if (k < n && (s.at(k) == u'+' || s.at(k) == u'-'))
            exp.append(char(s.at(k++).unicode()));
        if (digit(k)) {
            while (digit(k))
                exp.append(char(s.at(k++).unicode()));
            text.append(exp);
        }
    }
    return std::strtod(text.constData(), nullptr);
}

// The leading integer text of a string, the way strings answer longLongValue:
// leading blanks, an optional sign, digits; saturating at the limits.
std::int64_t leadingInteger(const QString& s)
{
    qsizetype i = 0;
    const qsizetype n = s.size();
    while (i < n && s.at(i).isSpace())
        ++i;
    bool negative = false;
    if (i < n && (s.at(i) == u'+' || s.at(i) == u'-'))
        negative = s.at(i++) == u'-';
    std::uint64_t magnitude = 0;
    bool overflow = false;
    while (i < n && s.at(i) >= u'0' && s.at(i) <= u'9') {
        const unsigned d = unsigned(s.at(i++).unicode() - u'0');
        if (magnitude > (std::numeric_limits<std::uint64_t>::max() - d) / 10)
            overflow = true;
        else
            magnitude = magnitude * 10 + d;
    }
    constexpr auto maxPos = std::uint64_t(std::numeric_limits<std::int64_t>::max());
    if (negative) {
        if (overflow || magnitude > maxPos + 1)
            return std::numeric_limits<std::int64_t>::min();
        return magnitude == maxPos + 1 ? std::numeric_limits<std::int64_t>::min() : -std::int64_t(magnitude);
    }
    if (overflow || magnitude > maxPos)
        return std::numeric_limits<std::int64_t>::max();
    return std::int64_t(magnitude);
}

std::int64_t saturatingTruncate(double d)
{
    if (std::isnan(d))
        return 0;
    if (d >= 9223372036854775807.0)
        return std::numeric_limits<std::int64_t>::max();
    if (d <= -9223372036854775808.0)
        return std::numeric_limits<std::int64_t>::min();
    return std::int64_t(d);
}

} // namespace

double Value::toDouble() const
{
    switch (m_type) {
    case Type::Bool:
        return m_v.boolean ? 1.0 : 0.0;
    case Type::Integer:
        return m_unsigned ? double(unsignedInteger()) : double(m_v.integer);
    case Type::Real:
        return m_v.real;
    case Type::String:
        return leadingDouble(m_v.string);
    default:
        return 0.0;
    }
}

std::int64_t Value::toLongLong() const
{
    switch (m_type) {
    case Type::Bool:
        return m_v.boolean ? 1 : 0;
    case Type::Integer:
        if (m_unsigned)
            return std::numeric_limits<std::int64_t>::max();
        return m_v.integer;
    case Type::Real:
        return saturatingTruncate(m_v.real);
    case Type::String:
        return leadingInteger(m_v.string);
    default:
        return 0;
    }
}

bool Value::toBool() const
{
    switch (m_type) {
    case Type::Bool:
        return m_v.boolean;
    case Type::Integer:
        return m_v.integer != 0;
    case Type::Real:
        return m_v.real != 0.0;
    case Type::String: {
        const QString& s = m_v.string;
        qsizetype i = 0;
        const qsizetype n = s.size();
        while (i < n && s.at(i).isSpace())
            ++i;
        if (i < n && (s.at(i) == u'+' || s.at(i) == u'-'))
            ++i;
        while (i < n && s.at(i) == u'0')
            ++i;
        if (i >= n)
            return false;
        const QChar c = s.at(i);
        return c == u'Y' || c == u'y' || c == u'T' || c == u't' || (c >= u'1' && c <= u'9');
    }
    default:
        return false;
    }
}

QString Value::description() const
{
    return describe(*this);
}

bool Value::operator==(const Value& other) const
{
    if (isNumber() && other.isNumber()) {
        if (m_type == Type::Real || other.m_type == Type::Real)
            return toDouble() == other.toDouble();
        if (m_unsigned || other.m_unsigned)
            return m_unsigned == other.m_unsigned && unsignedInteger() == other.unsignedInteger();
        return toLongLong() == other.toLongLong();
    }
    if (m_type != other.m_type)
        return false;
    switch (m_type) {
    case Type::Null:
        return true;
    case Type::String:
        return m_v.string == other.m_v.string;
    case Type::Date:
        return m_v.date == other.m_v.date;
    case Type::Data:
        return m_v.data == other.m_v.data;
    case Type::Array:
    case Type::Dictionary:
    case Type::Object: {
        const Object* a = m_v.object.get();
        const Object* b = other.m_v.object.get();
        return a == b || a->isEqual(*b);
    }
    default:
        return false;
    }
}

// ---------------------------------------------------------------------------
// Array

qsizetype Array::indexOf(const Value& v) const
{
    for (size_t i = 0; i < m_values.size(); ++i)
        if (m_values[i] == v)
            return qsizetype(i);
    return -1;
}

qsizetype Array::indexOfIdentical(const Object* o) const
{
    for (size_t i = 0; i < m_values.size(); ++i)
        if (m_values[i].objectPointer() == o)
            return qsizetype(i);
    return -1;
}

QString Array::description() const
{
    return describe(Value(std::const_pointer_cast<Array>(std::static_pointer_cast<const Array>(shared_from_this()))));
}

bool Array::isEqual(const Object& other) const
{
    const auto* o = dynamic_cast<const Array*>(&other);
    if (!o || o->m_values.size() != m_values.size())
        return false;
    for (size_t i = 0; i < m_values.size(); ++i)
        if (m_values[i] != o->m_values[i])
            return false;
    return true;
}

// ---------------------------------------------------------------------------
// DictionaryMap

namespace {
// Up to this many entries a linear scan beats hashing the key.
constexpr size_t kLinearScanLimit = 16;

// Keys read from a file share their text, so identical storage settles most checks.
inline bool sameKey(const QString& a, const QString& b)
{
    const qsizetype n = a.size();
    if (n != b.size())
        return false;
    const QChar* p = a.constData();
    const QChar* q = b.constData();
    return p == q || n == 0 || (p[0] == q[0] && p[n - 1] == q[n - 1] && std::memcmp(p, q, size_t(n) * sizeof(QChar)) == 0);
}
} // namespace

DictionaryMap::DictionaryMap(const DictionaryMap& other)
    : m_entries(other.m_entries)
    , m_index(other.m_index ? std::make_unique<SlotTable>(*other.m_index) : nullptr)
{
}

DictionaryMap& DictionaryMap::operator=(const DictionaryMap& other)
{
    if (this != &other) {
        m_entries = other.m_entries;
        m_index = other.m_index ? std::make_unique<SlotTable>(*other.m_index) : nullptr;
    }
    return *this;
}

qsizetype DictionaryMap::indexOf(const QString& key) const
{
    if (!m_index) {
        for (size_t i = 0; i < m_entries.size(); ++i)
            if (sameKey(m_entries[i].key, key))
                return qsizetype(i);
        return -1;
    }
    const std::vector<quint32>& slots = m_index->slots;
    const size_t mask = slots.size() - 1;
    for (size_t s = qHash(key, m_index->seed) & mask;; s = (s + 1) & mask) {
        const quint32 slot = slots[s];
        if (slot == 0)
            return -1;
        if (sameKey(m_entries[slot - 1].key, key))
            return qsizetype(slot - 1);
    }
}

// The slot that holds the entry (which must be indexed).
size_t DictionaryMap::slotOf(qsizetype entry) const
{
    const std::vector<quint32>& slots = m_index->slots;
    const size_t mask = slots.size() - 1;
    size_t s = qHash(m_entries[size_t(entry)].key, m_index->seed) & mask;
    while (slots[s] != quint32(entry + 1))
        s = (s + 1) & mask;
    return s;
}

void DictionaryMap::rebuildIndex()
{
    if (m_entries.size() <= kLinearScanLimit) {
        m_index.reset();
        return;
    }
    size_t capacity = 64;
    while (capacity < m_entries.size() * 2)
        capacity *= 2;
    if (!m_index) {
        m_index = std::make_unique<SlotTable>();
        m_index->seed = QHashSeed::globalSeed();
    }
    std::vector<quint32>& slots = m_index->slots;
    slots.assign(capacity, 0);
    const size_t mask = capacity - 1;
    for (size_t i = 0; i < m_entries.size(); ++i) {
        size_t s = qHash(m_entries[i].key, m_index->seed) & mask;
        while (slots[s] != 0)
            s = (s + 1) & mask;
        slots[s] = quint32(i + 1);
    }
}

Value DictionaryMap::value(const QString& key) const
{
    const qsizetype i = indexOf(key);
    return i < 0 ? Value() : m_entries[size_t(i)].value;
}

DictionaryMap::const_iterator DictionaryMap::constFind(const QString& key) const
{
    const qsizetype i = indexOf(key);
    return i < 0 ? end() : const_iterator(m_entries.data() + i);
}

DictionaryMap::iterator DictionaryMap::find(const QString& key)
{
    const qsizetype i = indexOf(key);
    return i < 0 ? end() : iterator(m_entries.data() + i);
}

DictionaryMap::iterator DictionaryMap::insert(const QString& key, Value value)
{
    const qsizetype i = indexOf(key);
    if (i >= 0) {
        m_entries[size_t(i)].value = std::move(value);
        return iterator(m_entries.data() + i);
    }
    m_entries.push_back(Entry{key, std::move(value)});
    const size_t n = m_entries.size();
    if (n > kLinearScanLimit) {
        if (!m_index || n * 2 > m_index->slots.size()) {
            rebuildIndex();
        } else {
            std::vector<quint32>& slots = m_index->slots;
            const size_t mask = slots.size() - 1;
            size_t s = qHash(key, m_index->seed) & mask;
            while (slots[s] != 0)
                s = (s + 1) & mask;
            slots[s] = quint32(n);
        }
    }
    return iterator(m_entries.data() + n - 1);
}

bool DictionaryMap::remove(const QString& key)
{
    const qsizetype i = indexOf(key);
    if (i < 0)
        return false;
    const size_t last = m_entries.size() - 1;
    if (m_index) {
        // Take the entry's slot out, shifting back later slots of its probe run.
        std::vector<quint32>& slots = m_index->slots;
        const size_t seed = m_index->seed;
        const size_t mask = slots.size() - 1;
        size_t hole = slotOf(i);
        slots[hole] = 0;
        for (size_t s = (hole + 1) & mask; slots[s] != 0; s = (s + 1) & mask) {
            const size_t home = qHash(m_entries[slots[s] - 1].key, seed) & mask;
            // Move the slot into the hole unless its home lies cyclically in (hole, s].
            const bool homeAfterHole = hole <= s ? (home > hole && home <= s) : (home > hole || home <= s);
            if (!homeAfterHole) {
                slots[hole] = slots[s];
                slots[s] = 0;
                hole = s;
            }
        }
        // The last entry moves into the freed place.
        if (size_t(i) != last)
            slots[slotOf(qsizetype(last))] = quint32(i + 1);
    }
    if (size_t(i) != last)
        m_entries[size_t(i)] = std::move(m_entries[last]);
    m_entries.pop_back();
    if (m_index && m_entries.size() <= kLinearScanLimit)
        rebuildIndex();
    return true;
}

void DictionaryMap::clear()
{
    m_entries.clear();
    m_index.reset();
}

void DictionaryMap::reserve(qsizetype n)
{
    if (n > 0)
        m_entries.reserve(size_t(n));
}

QList<QString> DictionaryMap::keys() const
{
    QList<QString> keys;
    keys.reserve(qsizetype(m_entries.size()));
    for (const Entry& e : m_entries)
        keys.append(e.key);
    return keys;
}

// ---------------------------------------------------------------------------
// Dictionary

Dictionary::Dictionary(std::initializer_list<std::pair<QString, Value>> entries)
{
    m_map.reserve(qsizetype(entries.size()));
    for (const auto& [k, v] : entries)
        if (!v.isNull())
            m_map.insert(k, v);
}

Dictionary::~Dictionary() = default;

const Value* Dictionary::find(const QString& key) const
{
    auto it = m_map.constFind(key);
    return it == m_map.cend() ? nullptr : &it.value();
}

void Dictionary::setValue(const QString& key, Value v)
{
    // Dictionaries hold no empty values: storing nothing removes the key.
    if (v.isNull())
        m_map.remove(key);
    else
        m_map.insert(key, std::move(v));
}

QList<QString> Dictionary::sortedKeys() const
{
    QList<QString> keys = m_map.keys();
    std::sort(keys.begin(), keys.end());
    return keys;
}

QString Dictionary::description() const
{
    return describe(Value(std::const_pointer_cast<Dictionary>(std::static_pointer_cast<const Dictionary>(shared_from_this()))));
}

bool Dictionary::isEqual(const Object& other) const
{
    const auto* o = dynamic_cast<const Dictionary*>(&other);
    if (!o || o->m_map.size() != m_map.size())
        return false;
    for (auto it = m_map.cbegin(); it != m_map.cend(); ++it) {
        auto jt = o->m_map.constFind(it.key());
        if (jt == o->m_map.cend() || jt.value() != it.value())
            return false;
    }
    return true;
}

// ---------------------------------------------------------------------------
// Descriptions

namespace {

bool needsQuotes(const QString& s)
{
    if (s.isEmpty())
        return true;
    for (QChar c : s) {
        const ushort u = c.unicode();
        const bool plain = (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9')
            || u == '_' || u == '$' || u == ':' || u == '.' || u == '/';
        if (!plain)
            return true;
    }
    return false;
}

QString quoted(const QString& s)
{
    if (!needsQuotes(s))
        return s;
    QString out;
    out.reserve(s.size() + 2);
    out += u'"';
    for (QChar c : s) {
        if (c == u'"' || c == u'\\')
            out += u'\\';
        if (c == u'\n') {
            out += QLatin1String("\\n");
            continue;
        }
        out += c;
    }
    out += u'"';
    return out;
}

QString formatReal(double d)
{
    if (std::isnan(d))
        return QStringLiteral("nan");
    if (std::isinf(d))
        return d < 0 ? QStringLiteral("-inf") : QStringLiteral("inf");
    return QString::number(d, 'g', QLocale::FloatingPointShortest);
}

void describeInto(QString& out, const Value& v, int indent, int depth)
{
    const QString pad(indent * 4, u' ');
    const QString inner((indent + 1) * 4, u' ');
    if (depth > 64) {
        out += QLatin1String("...");
        return;
    }
    switch (v.type()) {
    case Value::Type::Null:
        out += QLatin1String("(null)");
        break;
    case Value::Type::Bool:
        out += v.boolean() ? u'1' : u'0';
        break;
    case Value::Type::Integer:
        out += v.isUnsignedInteger() ? QString::number(v.unsignedInteger()) : QString::number(v.integer());
        break;
    case Value::Type::Real:
        out += formatReal(v.real());
        break;
    case Value::Type::String:
        out += indent > 0 || depth > 0 ? quoted(v.string()) : v.string();
        break;
    case Value::Type::Date:
        out += QDateTime::fromMSecsSinceEpoch(qint64(std::floor(v.date().secondsSince1970 * 1000.0)), Qt::UTC)
                   .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss '+0000'"));
        break;
    case Value::Type::Data:
        out += u'<' + QString::fromLatin1(v.data().toHex()) + u'>';
        break;
    case Value::Type::Array: {
        const ArrayPtr a = v.array();
        out += QLatin1String("(\n");
        for (qsizetype i = 0; i < a->count(); ++i) {
            out += inner;
            describeInto(out, a->at(i), indent + 1, depth + 1);
            out += i + 1 < a->count() ? QLatin1String(",\n") : QLatin1String("\n");
        }
        out += pad + u')';
        break;
    }
    case Value::Type::Dictionary: {
        const DictionaryPtr d = v.dictionary();
        out += QLatin1String("{\n");
        for (const QString& k : d->sortedKeys()) {
            out += inner + quoted(k) + QLatin1String(" = ");
            describeInto(out, d->value(k), indent + 1, depth + 1);
            out += QLatin1String(";\n");
        }
        out += pad + u'}';
        break;
    }
    case Value::Type::Object:
        out += v.object()->description();
        break;
    }
}

} // namespace

QString describe(const Value& v)
{
    QString out;
    describeInto(out, v, 0, 0);
    return out;
}

} // namespace platform
