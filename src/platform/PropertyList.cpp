// Format detection, files and deep copies of property lists; the readers and writers
// of each format live in BinaryPropertyList.cpp, XMLPropertyList.cpp and
// OpenStepPropertyList.cpp.
#include "platform/PropertyList.h"

#include <QtCore/QFile>
#include <QtCore/QFileInfo>

#include <cstring>

namespace platform {

namespace {

// Files above this size are refused before they are read.
constexpr qint64 kMaxPropertyListFileSize = qint64(2) * 1024 * 1024 * 1024;

bool startsWith(const char* p, qsizetype n, const char* prefix)
{
    const qsizetype k = qsizetype(std::strlen(prefix));
    return n >= k && std::memcmp(p, prefix, size_t(k)) == 0;
}

PropertyListFormat detectFormat(const QByteArray& bytes)
{
    const char* p = bytes.constData();
    qsizetype n = bytes.size();
    if (startsWith(p, n, "bplist"))
        return PropertyListFormat::Binary;
    if (startsWith(p, n, "\xEF\xBB\xBF")) {
        p += 3;
        n -= 3;
    }
    while (n > 0 && (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r')) {
        ++p;
        --n;
    }
    if (startsWith(p, n, "<?xml") || startsWith(p, n, "<plist") || startsWith(p, n, "<!DOCTYPE") || startsWith(p, n, "<!--"))
        return PropertyListFormat::XML;
    return PropertyListFormat::OpenStep;
}

bool deepCopyInto(const Value& v, int depth, Value* out, QString* error)
{
    switch (v.type()) {
    case Value::Type::Null:
        *error = QStringLiteral("cannot copy a property list: it holds an empty (null) value");
        return false;
    case Value::Type::Object:
        *error = QStringLiteral("cannot copy a property list: it holds an object that is not a property-list value (%1)")
                     .arg(v.object()->description().left(200));
        return false;
    case Value::Type::Array:
    case Value::Type::Dictionary:
        break;
    default:
        // Leaves are values; their text and bytes are copied on write.
        *out = v;
        return true;
    }
    if (depth >= kPropertyListMaxDepth) {
        *error = QStringLiteral("cannot copy a property list: containers nest deeper than %1 levels (or contain themselves)")
                     .arg(kPropertyListMaxDepth);
        return false;
    }
    if (v.isArray()) {
        const ArrayPtr source = v.array();
        std::vector<Value> values(size_t(source->count()));
        for (qsizetype i = 0; i < source->count(); ++i)
            if (!deepCopyInto(source->at(i), depth + 1, &values[size_t(i)], error))
                return false;
        *out = Value(std::make_shared<Array>(std::move(values)));
        return true;
    }
    const DictionaryPtr source = v.dictionary();
    auto copy = std::make_shared<Dictionary>();
    copy->reserve(source->count());
    for (auto it = source->begin(); it != source->end(); ++it) {
        Value child;
        if (!deepCopyInto(it.value(), depth + 1, &child, error))
            return false;
        copy->map().insert(it.key(), std::move(child));
    }
    *out = Value(std::move(copy));
    return true;
}

} // namespace

PropertyListReadResult readPropertyList(const QByteArray& bytes)
{
    PropertyListReadResult result;
    if (bytes.isEmpty()) {
        result.error = QStringLiteral("the property list is empty");
        return result;
    }
    result.format = detectFormat(bytes);
    switch (result.format) {
    case PropertyListFormat::Binary:
        result.value = readBinaryPropertyList(bytes, &result.error);
        break;
    case PropertyListFormat::XML:
        result.value = readXMLPropertyList(bytes, &result.error);
        break;
    case PropertyListFormat::OpenStep:
        result.value = readOpenStepPropertyList(bytes, &result.error);
        break;
    }
    if (!result.ok())
        result.value = Value();
    return result;
}

PropertyListReadResult readPropertyListFile(const QString& path)
{
    PropertyListReadResult result;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        result.error = QStringLiteral("cannot read <%1>: %2").arg(path, file.errorString());
        return result;
    }
    if (QFileInfo(file).isDir()) {
        result.error = QStringLiteral("cannot read <%1>: it is a folder").arg(path);
        return result;
    }
    const qint64 size = file.size();
    if (size > kMaxPropertyListFileSize) {
        result.error = QStringLiteral("cannot read <%1>: the file is too large for a property list (%2 bytes)").arg(path).arg(size);
        return result;
    }
    QByteArray bytes = file.read(kMaxPropertyListFileSize + 1);
    if (file.error() != QFileDevice::NoError) {
        result.error = QStringLiteral("cannot read <%1>: %2").arg(path, file.errorString());
        return result;
    }
    if (bytes.size() > kMaxPropertyListFileSize) {
        result.error = QStringLiteral("cannot read <%1>: the file is too large for a property list").arg(path);
        return result;
    }
    result = readPropertyList(bytes);
    if (!result.ok())
        result.error = QStringLiteral("cannot read <%1>: %2").arg(path, result.error);
    return result;
}

QByteArray writePropertyList(const Value& value, PropertyListFormat format, QString* error)
{
    switch (format) {
    case PropertyListFormat::Binary:
        return writeBinaryPropertyList(value, error);
    case PropertyListFormat::XML:
        return writeXMLPropertyList(value, error);
    case PropertyListFormat::OpenStep:
        break;
    }
    if (error)
        *error = QStringLiteral("cannot write a property list in the old text form: only binary and XML are written");
    return QByteArray();
}

Value deepCopyPropertyList(const Value& value, QString* error)
{
    Value copy;
    QString message;
    if (!deepCopyInto(value, 0, &copy, &message)) {
        if (error)
            *error = message;
        return Value();
    }
    if (error)
        error->clear();
    return copy;
}

} // namespace platform
