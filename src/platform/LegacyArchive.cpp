#include "platform/LegacyArchive.h"

namespace platform {

Value unarchiveLegacyObject(const QByteArray& data, LegacyArchiveFailure* failure)
{
    LegacyArchiveFailure f;
    f.name = QStringLiteral("NSArchiverArchiveInconsistency");
    if (!data.startsWith("\x04\x0bstreamtyped"))
        f.reason = QStringLiteral("not an archive (%1 bytes)").arg(data.size());
    else
        f.reason = QStringLiteral("archived objects of this kind cannot be read on this system");
    if (failure)
        *failure = f;
    return {};
}

QByteArray archiveLegacyObject(const Value&)
{
    return {};
}

} // namespace platform
