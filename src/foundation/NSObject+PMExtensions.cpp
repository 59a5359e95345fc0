#include "foundation/NSObject+PMExtensions.h"

#include "platform/DelayedPerform.h"

#include <QtCore/QMutex>
#include <QtCore/QObject>
#include <QtCore/QVariant>

namespace {

// The addresses of these two are the keys of the attached values.
const char kMovieRepresentationsKey = 0;
const char kIdentifiersKey = 0;

constexpr const char* kMovieRepresentationsProperty = "com.tolvane.associatedMovieRepresentations";
constexpr const char* kIdentifiersProperty = "com.tolvane.associatedIdentifiers";

QMutex g_propertyMutex;

void setProperty(QObject* object, const char* name, const platform::ArrayPtr& value)
{
    if (!object)
        return;
    QMutexLocker lock(&g_propertyMutex);
    object->setProperty(name, value ? QVariant::fromValue(value) : QVariant());
}

platform::ArrayPtr property(const QObject* object, const char* name)
{
    if (!object)
        return nullptr;
    QMutexLocker lock(&g_propertyMutex);
    return object->property(name).value<platform::ArrayPtr>();
}

} // namespace

void setAssociatedMovieRepresentations(platform::Object& object, const platform::ArrayPtr& movieRepresentations)
{
    object.setAssociatedValue(&kMovieRepresentationsKey, platform::Value(movieRepresentations));
}

platform::ArrayPtr associatedMovieRepresentations(const platform::Object& object)
{
    return object.associatedValue(&kMovieRepresentationsKey).array();
}

void setAssociatedIdentifiers(platform::Object& object, const platform::ArrayPtr& identifiers)
{
    object.setAssociatedValue(&kIdentifiersKey, platform::Value(identifiers));
}

platform::ArrayPtr associatedIdentifiers(const platform::Object& object)
{
    return object.associatedValue(&kIdentifiersKey).array();
}

void setAssociatedMovieRepresentations(QObject* object, const platform::ArrayPtr& movieRepresentations)
{
    setProperty(object, kMovieRepresentationsProperty, movieRepresentations);
}

platform::ArrayPtr associatedMovieRepresentations(const QObject* object)
{
    return property(object, kMovieRepresentationsProperty);
}

void setAssociatedIdentifiers(QObject* object, const platform::ArrayPtr& identifiers)
{
    setProperty(object, kIdentifiersProperty, identifiers);
}

platform::ArrayPtr associatedIdentifiers(const QObject* object)
{
    return property(object, kIdentifiersProperty);
}

void performSelector(const void* target, const QString& selector, const platform::Value& withObject, double inCommonModesAfterDelay,
                     std::function<void()> perform)
{
    platform::performAfterDelay(target, selector, withObject, inCommonModesAfterDelay, std::move(perform));
}
