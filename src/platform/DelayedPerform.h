// Delayed performs on the main thread's event loop, coalesced: a new request for the same
// target, operation and argument replaces the pending one, so repeated requests for
// deferred work collapse into one that runs after the last request's delay. They fire
// during modal sessions and menu tracking too, since those run the same event loop.
#pragma once

#include "platform/Value.h"

#include <QtCore/QString>

#include <functional>

namespace platform {

void performAfterDelay(const void* target, const QString& operation, const Value& argument, double delaySeconds, std::function<void()> job);
// Cancels the pending request with equal target, operation and argument, if any.
void cancelPreviousPerformRequests(const void* target, const QString& operation, const Value& argument);
// Cancels every pending request of the target.
void cancelPreviousPerformRequests(const void* target);
bool hasPendingPerformRequest(const void* target, const QString& operation, const Value& argument);

} // namespace platform
