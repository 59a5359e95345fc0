// Property-list values: the one variant type that records, settings and library
// indexes are made of. Arrays and dictionaries are shared reference objects that are
// mutated in place, because the program caches into its records and invalidates those
// caches in place; everything else is a plain value.
#pragma once

#include <QtCore/QByteArray>
#include <QtCore/QHash>
#include <QtCore/QList>
#include <QtCore/QString>

#include <cstdint>
#include <cstring>
#include <cstddef>
#include <initializer_list>
#include <iterator>
#include <memory>
#include <utility>
#include <new>
#include <vector>

namespace platform {

class Array;
class Dictionary;
class Value;

using ArrayPtr = std::shared_ptr<Array>;
using DictionaryPtr = std::shared_ptr<Dictionary>;

// What kind of property-list container an object is, answered without a dynamic cast.
enum class ObjectClass { Other, Array, Dictionary };

// The base of every object that a value can refer to: arrays, dictionaries and the
// program's own objects (movie records, for example), so that one array can hold
// containers and movie records side by side.
class Object : public std::enable_shared_from_this<Object> {
public:
    Object();
    Object(const Object& other);            // attached values are not copied
    Object& operator=(const Object& other); // nor assigned
    virtual ~Object();
    // The text "%@" shows for the object.
    virtual QString description() const;
    // Equality as the program's collections compare their members; identity by default.
    virtual bool isEqual(const Object& other) const { return this == &other; }
    virtual ObjectClass objectClass() const { return ObjectClass::Other; }
    // A tag a subclass answers so that code knowing the subclass can recognise its objects
    // without a dynamic cast in hot loops; 0 for everything else.
    virtual int objectKind() const { return 0; }

    // Values attached to the object under a key of the caller's (the address of a static),
    // held strongly until replaced or until the object goes. Safe from any thread.
    void setAssociatedValue(const void* key, const Value& value);
    Value associatedValue(const void* key) const;

private:
    struct Associations;
    std::unique_ptr<Associations> m_associations;
};
using ObjectPtr = std::shared_ptr<Object>;

// A point in time as seconds since 1970-01-01 00:00:00 UTC.
struct Date {
    double secondsSince1970 = 0.0;
    // Seconds between 1970 and the reference date of 2001-01-01 that binary and XML
    // property lists count from.
    static constexpr double kReferenceDateOffset = 978307200.0;
    static Date now();
    static Date fromReferenceDate(double seconds) { return Date{seconds + kReferenceDateOffset}; }
    double secondsSinceReferenceDate() const { return secondsSince1970 - kReferenceDateOffset; }
    // The "never" date used where a date does not exist: far in the past.
    static Date distantPast() { return Date{-62135769600.0}; }
    static Date distantFuture() { return Date{64092211200.0}; }
    bool operator==(const Date& o) const { return secondsSince1970 == o.secondsSince1970; }
    auto operator<=>(const Date& o) const { return secondsSince1970 <=> o.secondsSince1970; }
};

class Value {
public:
    enum class Type : quint8 { Null, Bool, Integer, Real, String, Date, Data, Array, Dictionary, Object };

    Value() = default;
    Value(std::nullptr_t) {}
    Value(bool b) : m_type(Type::Bool) { m_v.boolean = b; }
    Value(int i) : m_type(Type::Integer) { m_v.integer = i; }
    Value(long i) : m_type(Type::Integer) { m_v.integer = i; }
    Value(long long i) : m_type(Type::Integer) { m_v.integer = i; }
    Value(unsigned int i) : m_type(Type::Integer) { m_v.integer = i; }
    Value(unsigned long i) { setUnsigned(std::uint64_t(i)); }
    Value(unsigned long long i) { setUnsigned(std::uint64_t(i)); }
    Value(double d) : m_type(Type::Real) { m_v.real = d; }
    Value(const QString& s) : m_type(Type::String) { new (&m_v.string) QString(s); }
    Value(QString&& s) : m_type(Type::String) { new (&m_v.string) QString(std::move(s)); }
    Value(const char* s) : Value(QString::fromUtf8(s)) {}
    Value(const char16_t* s) : Value(QString::fromUtf16(s)) {}
    Value(QLatin1StringView s) : Value(QString(s)) {}
    Value(platform::Date d) : m_type(Type::Date) { m_v.date = d; }
    Value(const QByteArray& d) : m_type(Type::Data) { new (&m_v.data) QByteArray(d); }
    Value(QByteArray&& d) : m_type(Type::Data) { new (&m_v.data) QByteArray(std::move(d)); }
    Value(const Value& other) : m_type(other.m_type), m_unsigned(other.m_unsigned) { copyFrom(other); }
    Value(Value&& other) noexcept : m_type(other.m_type), m_unsigned(other.m_unsigned) { takeFrom(other); }
    // (A value may be assigned one that it holds itself, inside an array or dictionary:
    // the new contents are taken before the old are let go of.)
    Value& operator=(const Value& other)
    {
        if (this != &other) {
            Value copy(other);
            *this = std::move(copy);
        }
        return *this;
    }
    Value& operator=(Value&& other) noexcept
    {
        if (this != &other) {
            Value taken(std::move(other));
            destroy();
            m_type = taken.m_type;
            m_unsigned = taken.m_unsigned;
            takeFrom(taken);
        }
        return *this;
    }
    ~Value() { destroy(); }
    Value(ObjectPtr o);
    template <class T, class = std::enable_if_t<std::is_base_of_v<Object, T>>>
    Value(std::shared_ptr<T> o) : Value(ObjectPtr(std::move(o))) {}

    Type type() const { return m_type; }
    bool isNull() const { return m_type == Type::Null; }
    bool isBool() const { return m_type == Type::Bool; }
    bool isInteger() const { return m_type == Type::Integer; }
    bool isReal() const { return m_type == Type::Real; }
    bool isNumber() const { return m_type == Type::Bool || m_type == Type::Integer || m_type == Type::Real; }
    bool isString() const { return m_type == Type::String; }
    bool isDate() const { return m_type == Type::Date; }
    bool isData() const { return m_type == Type::Data; }
    bool isArray() const { return m_type == Type::Array; }
    bool isDictionary() const { return m_type == Type::Dictionary; }
    // Any object reference, arrays and dictionaries included.
    bool isObject() const { return m_type == Type::Array || m_type == Type::Dictionary || m_type == Type::Object; }
    // A value that can be written to a property list: every kind but null and foreign objects,
    // checked through nested arrays and dictionaries.
    bool isPropertyList() const;
    explicit operator bool() const { return !isNull(); }

    // Exact accessors: the stored value when it is of that kind, else the empty value.
    bool boolean() const { return m_type == Type::Bool && m_v.boolean; }
    // Integer (an unsigned value above 2^63-1 wraps)
    std::int64_t integer() const { return m_type == Type::Integer ? m_v.integer : 0; }
    bool isUnsignedInteger() const { return m_type == Type::Integer && m_unsigned; }
    std::uint64_t unsignedInteger() const { return m_type == Type::Integer ? std::uint64_t(m_v.integer) : 0; }
    double real() const { return m_type == Type::Real ? m_v.real : 0.0; }
    const QString& string() const { return m_type == Type::String ? m_v.string : emptyString(); }
    platform::Date date() const { return m_type == Type::Date ? m_v.date : platform::Date{}; }
    const QByteArray& data() const { return m_type == Type::Data ? m_v.data : emptyData(); }
    inline ArrayPtr array() const;
    inline DictionaryPtr dictionary() const;
    ObjectPtr object() const { return isObject() ? m_v.object : nullptr; }
    // The object without taking a reference: for identity tests and casts in hot loops.
    Object* objectPointer() const { return isObject() ? m_v.object.get() : nullptr; }
    template <class T> std::shared_ptr<T> objectAs() const { return std::dynamic_pointer_cast<T>(object()); }

    // Conversions as numbers and strings answer them: a number converts, and so does a
    // string by its leading numeric text (0 when there is none). Everything else gives
    // 0 or false. `hasNumericValue` tells whether the value answers the conversion at all.
    bool hasNumericValue() const { return isNumber() || isString(); }
    double toDouble() const;
    std::int64_t toLongLong() const;
    // A string is true when, after leading blanks, it begins with Y, y, T, t or a non-zero digit.
    bool toBool() const;

    // The text "%@" shows for the value.
    QString description() const;

    // Equality as property-list values compare: numbers by value (a boolean equals 0 or 1),
    // strings and data by content, arrays and dictionaries member by member, other objects
    // through their `isEqual`.
    bool operator==(const Value& other) const;
    bool operator!=(const Value& other) const { return !(*this == other); }

private:
    static const QString& emptyString();
    static const QByteArray& emptyData();
    void setUnsigned(std::uint64_t u);
    // The contents by kind; the kind says which member is alive (none for Null). A library
    // holds millions of values: this takes the room of the largest member and the kind.
    union Storage {
        Storage() noexcept : integer(0) {}
        ~Storage() {}
        bool boolean;
        std::int64_t integer;
        double real;
        platform::Date date;
        QString string;
        QByteArray data;
        ObjectPtr object; // Array, Dictionary and Object
    };
    void copyFrom(const Value& other)
    {
        switch (m_type) {
        case Type::String: new (&m_v.string) QString(other.m_v.string); break;
        case Type::Data: new (&m_v.data) QByteArray(other.m_v.data); break;
        case Type::Array:
        case Type::Dictionary:
        case Type::Object: new (&m_v.object) ObjectPtr(other.m_v.object); break;
        case Type::Date: m_v.date = other.m_v.date; break;
        default: m_v.integer = other.m_v.integer; break; // Null, Bool, Integer, Real: the same eight bytes
        }
    }
    // Takes the contents of `other` (of the kind already set here), leaving it Null. The
    // members are moved as bytes: strings, byte arrays and shared pointers hold no pointer
    // into themselves, so their bytes moved elsewhere are the same object (Qt's containers
    // move strings the same way).
    void takeFrom(Value& other) noexcept
    {
        std::memcpy(static_cast<void*>(&m_v), static_cast<const void*>(&other.m_v), sizeof(Storage));
        other.m_type = Type::Null;
        other.m_unsigned = false;
    }
    void destroy() noexcept
    {
        switch (m_type) {
        case Type::String: m_v.string.~QString(); break;
        case Type::Data: m_v.data.~QByteArray(); break;
        case Type::Array:
        case Type::Dictionary:
        case Type::Object: m_v.object.~ObjectPtr(); break;
        default: break;
        }
    }
    Storage m_v;
    Type m_type = Type::Null;
    bool m_unsigned = false; // an Integer stored as the bits of an unsigned 64-bit number
};

// An array of values, shared by reference.
class Array final : public Object {
public:
    Array() = default;
    Array(std::initializer_list<Value> values) : m_values(values) {}
    explicit Array(std::vector<Value> values) : m_values(std::move(values)) {}
    static ArrayPtr make() { return std::make_shared<Array>(); }
    static ArrayPtr make(std::initializer_list<Value> values) { return std::make_shared<Array>(values); }

    qsizetype count() const { return qsizetype(m_values.size()); }
    bool isEmpty() const { return m_values.empty(); }
    const Value& at(qsizetype i) const { return m_values[size_t(i)]; }
    // The value at the index, or the empty value past either end.
    Value value(qsizetype i) const { return i >= 0 && i < count() ? m_values[size_t(i)] : Value(); }
    Value& operator[](qsizetype i) { return m_values[size_t(i)]; }
    const Value& operator[](qsizetype i) const { return m_values[size_t(i)]; }
    void append(Value v) { m_values.push_back(std::move(v)); }
    void insert(qsizetype i, Value v) { m_values.insert(m_values.begin() + i, std::move(v)); }
    void removeAt(qsizetype i) { m_values.erase(m_values.begin() + i); }
    void removeAll() { m_values.clear(); }
    void reserve(qsizetype n) { m_values.reserve(size_t(n)); }
    qsizetype indexOf(const Value& v) const;
    bool contains(const Value& v) const { return indexOf(v) >= 0; }
    // Identity search for object references (the program's "indexOfObjectIdenticalTo").
    qsizetype indexOfIdentical(const Object* o) const;

    std::vector<Value>& values() { return m_values; }
    const std::vector<Value>& values() const { return m_values; }
    auto begin() { return m_values.begin(); }
    auto end() { return m_values.end(); }
    auto begin() const { return m_values.begin(); }
    auto end() const { return m_values.end(); }

    QString description() const override;
    bool isEqual(const Object& other) const override;
    ObjectClass objectClass() const override { return ObjectClass::Array; }

private:
    std::vector<Value> m_values;
};

// The storage of a dictionary: its entries in one flat array, found by a linear
// scan while there are few and through an open-addressing index of the same array
// beyond that. QHash of Qt 6 allocates room for 48 entries for the first one, so a
// library of 100,000 records of a few small dictionaries each would take a gigabyte;
// this takes a little more than its entries. The interface is the part of QHash's
// that dictionaries need: iterators answer key() and value(), and * gives the value.
class DictionaryMap {
public:
    struct Entry {
        QString key;
        Value value;
    };

    class const_iterator {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = Value;
        using difference_type = std::ptrdiff_t;
        using pointer = const Value*;
        using reference = const Value&;
        const_iterator() = default;
        explicit const_iterator(const Entry* e) : m_e(e) {}
        const QString& key() const { return m_e->key; }
        const Value& value() const { return m_e->value; }
        const Value& operator*() const { return m_e->value; }
        const Value* operator->() const { return &m_e->value; }
        const_iterator& operator++() { ++m_e; return *this; }
        const_iterator operator++(int) { const_iterator old = *this; ++m_e; return old; }
        bool operator==(const const_iterator& o) const { return m_e == o.m_e; }
        bool operator!=(const const_iterator& o) const { return m_e != o.m_e; }
    private:
        const Entry* m_e = nullptr;
    };

    class iterator {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = Value;
        using difference_type = std::ptrdiff_t;
        using pointer = Value*;
        using reference = Value&;
        iterator() = default;
        explicit iterator(Entry* e) : m_e(e) {}
        const QString& key() const { return m_e->key; }
        Value& value() const { return m_e->value; }
        Value& operator*() const { return m_e->value; }
        Value* operator->() const { return &m_e->value; }
        iterator& operator++() { ++m_e; return *this; }
        iterator operator++(int) { iterator old = *this; ++m_e; return old; }
        bool operator==(const iterator& o) const { return m_e == o.m_e; }
        bool operator!=(const iterator& o) const { return m_e != o.m_e; }
        bool operator==(const const_iterator& o) const { return const_iterator(m_e) == o; }
        bool operator!=(const const_iterator& o) const { return const_iterator(m_e) != o; }
        operator const_iterator() const { return const_iterator(m_e); }
    private:
        Entry* m_e = nullptr;
    };

    DictionaryMap() = default;
    DictionaryMap(const DictionaryMap& other);
    DictionaryMap& operator=(const DictionaryMap& other);
    DictionaryMap(DictionaryMap&&) noexcept = default;
    DictionaryMap& operator=(DictionaryMap&&) noexcept = default;
    ~DictionaryMap() = default;

    qsizetype size() const { return qsizetype(m_entries.size()); }
    qsizetype count() const { return size(); }
    bool isEmpty() const { return m_entries.empty(); }
    bool contains(const QString& key) const { return indexOf(key) >= 0; }
    // The value under the key, or the empty value.
    Value value(const QString& key) const;
    const_iterator constFind(const QString& key) const;
    const_iterator find(const QString& key) const { return constFind(key); }
    iterator find(const QString& key);
    // Sets the value under the key, adding the key when it is new.
    iterator insert(const QString& key, Value value);
    iterator emplace(const QString& key, Value value) { return insert(key, std::move(value)); }
    bool remove(const QString& key);
    void clear();
    void reserve(qsizetype n);
    QList<QString> keys() const;

    const_iterator begin() const { return const_iterator(m_entries.data()); }
    const_iterator end() const { return const_iterator(m_entries.data() + m_entries.size()); }
    const_iterator cbegin() const { return begin(); }
    const_iterator cend() const { return end(); }
    iterator begin() { return iterator(m_entries.data()); }
    iterator end() { return iterator(m_entries.data() + m_entries.size()); }

private:
    qsizetype indexOf(const QString& key) const;
    void rebuildIndex();
    size_t slotOf(qsizetype entry) const;

    std::vector<Entry> m_entries;
    // Open addressing with linear probing: entry number + 1, 0 for a free slot. Made only
    // once the entries are too many to scan, and kept apart: most dictionaries are small,
    // and a library holds several per movie.
    struct SlotTable {
        size_t seed = 0;
        std::vector<quint32> slots;
    };
    std::unique_ptr<SlotTable> m_index;
};

// A dictionary from strings to values, shared by reference. Not final: the program's
// containers are dictionaries with behaviour. Iteration order is unspecified; writers
// that need a stable order use `sortedKeys`.
class Dictionary : public Object {
public:
    Dictionary() = default;
    Dictionary(std::initializer_list<std::pair<QString, Value>> entries);
    ~Dictionary() override;
    static DictionaryPtr make() { return std::make_shared<Dictionary>(); }
    static DictionaryPtr make(std::initializer_list<std::pair<QString, Value>> entries) { return std::make_shared<Dictionary>(entries); }

    qsizetype count() const { return m_map.size(); }
    bool isEmpty() const { return m_map.isEmpty(); }
    bool contains(const QString& key) const { return m_map.contains(key); }
    // The value under the key, or the empty value.
    Value value(const QString& key) const { return m_map.value(key); }
    const Value* find(const QString& key) const;
    void setValue(const QString& key, Value v);
    void remove(const QString& key) { m_map.remove(key); }
    void removeAll() { m_map.clear(); }
    void reserve(qsizetype n) { m_map.reserve(n); }
    QList<QString> keys() const { return m_map.keys(); }
    QList<QString> sortedKeys() const;

    using Map = DictionaryMap;
    const Map& map() const { return m_map; }
    Map& map() { return m_map; }
    Map::const_iterator begin() const { return m_map.cbegin(); }
    Map::const_iterator end() const { return m_map.cend(); }

    QString description() const override;
    bool isEqual(const Object& other) const override;
    ObjectClass objectClass() const override { return ObjectClass::Dictionary; }

private:
    Map m_map;
};

inline ArrayPtr Value::array() const
{
    return m_type == Type::Array ? std::static_pointer_cast<Array>(m_v.object) : nullptr;
}

inline DictionaryPtr Value::dictionary() const
{
    return m_type == Type::Dictionary ? std::static_pointer_cast<Dictionary>(m_v.object) : nullptr;
}

// Description of a value as the program's "%@" writes it: strings as they are, numbers
// in the C locale, containers in the old text form.
QString describe(const Value& v);

} // namespace platform
