// Conveniences on any object: two attached values (the movie records, or the unique
// library IDs, that a menu item or a tag value stands for), and delayed performs that
// also fire while a modal panel runs or the user tracks a menu or slider.
#pragma once

#include "platform/Value.h"

#include <QtCore/QString>

#include <functional>

class QObject;

// Setting nothing detaches. The object holds the array strongly until it goes.
void setAssociatedMovieRepresentations(platform::Object& object, const platform::ArrayPtr& movieRepresentations);
platform::ArrayPtr associatedMovieRepresentations(const platform::Object& object);
void setAssociatedIdentifiers(platform::Object& object, const platform::ArrayPtr& identifiers);
platform::ArrayPtr associatedIdentifiers(const platform::Object& object);

// The same for interface objects (menu items, buttons).
void setAssociatedMovieRepresentations(QObject* object, const platform::ArrayPtr& movieRepresentations);
platform::ArrayPtr associatedMovieRepresentations(const QObject* object);
void setAssociatedIdentifiers(QObject* object, const platform::ArrayPtr& identifiers);
platform::ArrayPtr associatedIdentifiers(const QObject* object);

// Performs the operation of the target with the one argument after the delay, on the
// main thread's event loop. A pending request with the same target, operation and
// argument is replaced; cancel with platform::cancelPreviousPerformRequests.
void performSelector(const void* target, const QString& selector, const platform::Value& withObject, double inCommonModesAfterDelay,
                     std::function<void()> perform);
