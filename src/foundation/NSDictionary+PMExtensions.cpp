#include "foundation/NSDictionary+PMExtensions.h"

#include "foundation/PMLog.h"
#include "platform/CallStack.h"
#include "platform/LegacyArchive.h"
#include "platform/PropertyList.h"
#include "platform/UserDefaults.h"

using platform::Dictionary;
using platform::Value;

namespace {

const Value* lookUp(const Dictionary* dictionary, const QString& key)
{
    return dictionary ? dictionary->find(key) : nullptr;
}

} // namespace

double doubleValueOfObjectForKey(const Dictionary* dictionary, const QString& key)
{
    const Value* v = lookUp(dictionary, key);
    return v ? v->toDouble() : 0.0;
}

long long longLongValueOfObjectForKey(const Dictionary* dictionary, const QString& key)
{
    const Value* v = lookUp(dictionary, key);
    return v ? v->toLongLong() : 0;
}

long integerValueOfObjectForKey(const Dictionary* dictionary, const QString& key)
{
    return long(longLongValueOfObjectForKey(dictionary, key));
}

bool boolValueOfObjectForKey(const Dictionary* dictionary, const QString& key)
{
    const Value* v = lookUp(dictionary, key);
    return v ? v->toBool() : false;
}

Value unarchivedObjectForKey(const Dictionary* dictionary, const QString& key)
{
    const Value* v = lookUp(dictionary, key);
    if (!v || !v->isData())
        return {};
    return platform::unarchiveLegacyObject(v->data(), nullptr);
}

QString precomposedStringWithCanonicalMapping(const QString& string)
{
    // Text without combining marks or characters that compose (nearly every path) is
    // already in composed form; normalising it would only cost time. (Latin-1 text, told
    // by the library's vectorised test, has neither.)
    if (QtPrivate::isLatin1(QStringView(string)))
        return string;
    for (QChar c : string)
        if (c.unicode() >= 0x0300)
            return string.normalized(QString::NormalizationForm_C);
    return string;
}

Value objectForKeyPrecomposedWithCanonicalMapping(const Dictionary* dictionary, const QString& key)
{
    if (!dictionary || key.isNull())
        return {};
    return dictionary->value(precomposedStringWithCanonicalMapping(key));
}

platform::DictionaryPtr deeplyMutableCopy(const Dictionary* dictionary)
{
    if (!dictionary)
        return nullptr;
    // Copy the entries, not the object: a container with behaviour copies as a plain record.
    auto shallow = std::make_shared<Dictionary>();
    shallow->map() = dictionary->map();
    return platform::deepCopyPropertyList(Value(shallow)).dictionary();
}

platform::ArrayPtr deeplyMutableCopy(const platform::Array* array)
{
    if (!array)
        return nullptr;
    auto shallow = std::make_shared<platform::Array>(array->values());
    return platform::deepCopyPropertyList(Value(shallow)).array();
}

void setUserDefaults(const Dictionary* dictionary)
{
    if (!dictionary)
        return;
    platform::UserDefaults& defaults = platform::UserDefaults::standard();
    for (auto it = dictionary->begin(); it != dictionary->end(); ++it)
        defaults.setObject(it.value(), it.key());
}

void setNumberWithDouble(Dictionary& dictionary, double value, const QString& key)
{
    dictionary.setValue(key, Value(value));
}

void setNumberWithInteger(Dictionary& dictionary, long long value, const QString& key)
{
    dictionary.setValue(key, Value(value));
}

void setNumberWithBool(Dictionary& dictionary, bool value, const QString& key)
{
    dictionary.setValue(key, Value(value));
}

void setOrRemoveObject(Dictionary& dictionary, const Value& object, const QString& key)
{
    if (object.isNull())
        dictionary.remove(key);
    else
        dictionary.setValue(key, object);
}

void tryToSetObject(Dictionary& dictionary, const Value& object, const QString& key)
{
    if (!object.isNull() && !key.isNull())
        dictionary.setValue(key, object);
}

void setDate(Dictionary& dictionary, std::optional<platform::Date> date, const QString& key)
{
    setNumberWithDouble(dictionary, date ? date->secondsSince1970 : 0.0, key);
}

std::optional<platform::Date> dateForKey(Dictionary& dictionary, const QString& key, const QString& archivedCalendarDateFallbackKey)
{
    if (const Value* v = dictionary.find(key); v && v->hasNumericValue())
        return platform::Date{v->toDouble()};
    if (archivedCalendarDateFallbackKey.isEmpty())
        return std::nullopt;
    const Value* legacy = dictionary.find(archivedCalendarDateFallbackKey);
    if (!legacy)
        return std::nullopt;

    std::optional<platform::Date> date;
    platform::LegacyArchiveFailure failure;
    const Value unarchived = legacy->isData() ? platform::unarchiveLegacyObject(legacy->data(), &failure) : Value();
    if (!legacy->isData()) {
        failure.name = QStringLiteral("NSInvalidArgumentException");
        failure.reason = QStringLiteral("the legacy date is not archive data");
    }
    if (unarchived.isDate()) {
        date = unarchived.date();
        setDate(dictionary, date, key);
    } else if (unarchived.isNull()) {
        PMLog("ignoring legacy date unarchiving exception: %@ (reason: %@) <= %@", failure.name, failure.reason, platform::callStackDescription());
    }
    // Attempted at most once per record, whatever came of it.
    dictionary.remove(archivedCalendarDateFallbackKey);
    return date;
}

void archiveObject(Dictionary& dictionary, const Value& object, const QString& key)
{
    if (object.isNull()) {
        dictionary.remove(key);
        return;
    }
    const QByteArray archived = platform::archiveLegacyObject(object);
    if (!archived.isEmpty())
        tryToSetObject(dictionary, Value(archived), key);
}

void setObjectForKeyPrecomposedWithCanonicalMapping(Dictionary& dictionary, const Value& object, const QString& key)
{
    if (object.isNull() || key.isNull())
        return;
    dictionary.setValue(precomposedStringWithCanonicalMapping(key), object);
}

void removeObjectForKeyPrecomposedWithCanonicalMapping(Dictionary& dictionary, const QString& key)
{
    if (key.isNull())
        return;
    dictionary.remove(precomposedStringWithCanonicalMapping(key));
}

platform::DictionaryPtr deeplyMutableDictionaryWithContentsOfFile(const QString& path)
{
    if (path.isEmpty())
        return nullptr;
    platform::PropertyListReadResult r = platform::readPropertyListFile(path);
    // A fresh parse shares nothing with anyone: it is already deeply mutable.
    return r.ok() ? r.value.dictionary() : nullptr;
}

void setOrRemoveObject(platform::UserDefaults& defaults, const Value& object, const QString& key)
{
    if (object.isNull())
        defaults.removeObjectForKey(key);
    else
        defaults.setObject(object, key);
}

void tryToSetObject(platform::UserDefaults& defaults, const Value& object, const QString& key)
{
    if (!object.isNull() && !key.isNull())
        defaults.setObject(object, key);
}
