// The old non-keyed archive format in which libraries of earlier versions stored a few
// values (calendar dates, colours). Reading is needed only to migrate such values.
#pragma once

#include "platform/Value.h"

#include <QtCore/QByteArray>
#include <QtCore/QString>

namespace platform {

struct LegacyArchiveFailure {
    QString name;   // the kind of failure, as in "NSArchiverArchiveInconsistency"
    QString reason; // what was wrong
};

// The root object of the archive; null with `failure` filled when the data cannot be
// read. This build reads no archived classes yet, so every archive fails with a reason
// that says so; callers treat the value as missing.
Value unarchiveLegacyObject(const QByteArray& data, LegacyArchiveFailure* failure);

// The value archived in the old format; empty when the value cannot be archived (this
// build writes none), in which case callers keep what they had.
QByteArray archiveLegacyObject(const Value& value);

} // namespace platform
