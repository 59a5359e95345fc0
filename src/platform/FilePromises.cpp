#include "platform/FilePromises.h"

#include <QtCore/QMimeData>

namespace platform {

namespace {
PromisedFilesReceiver& receiver()
{
    static PromisedFilesReceiver r;
    return r;
}
} // namespace

QString filesPromisePasteboardType()
{
    return QStringLiteral("application/x-file-promise");
}

QStringList namesOfPromisedFilesDroppedAtDestination(const QMimeData& pasteboard, const QString& destinationFolder)
{
    if (!receiver() || !pasteboard.hasFormat(filesPromisePasteboardType()))
        return {};
    return receiver()(pasteboard, destinationFolder);
}

void setPromisedFilesReceiver(PromisedFilesReceiver r)
{
    receiver() = std::move(r);
}

} // namespace platform
