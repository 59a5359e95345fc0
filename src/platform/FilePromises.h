// Files promised by a drag from another program: the drag names the files, and they are
// written into a folder of the receiver's choosing when the drop is accepted. The Linux
// desktops offer no such drag; the receiving side is kept so that a source can plug in
// (and tests feed it).
#pragma once

#include <QtCore/QString>
#include <QtCore/QStringList>

#include <functional>

class QMimeData;

namespace platform {

// The pasteboard type of a file promise; its data is the promise's text form.
QString filesPromisePasteboardType();

// Writes the promised files of the pasteboard into the folder and answers their names as
// the promising program gives them (unchecked). Empty without a receiver.
QStringList namesOfPromisedFilesDroppedAtDestination(const QMimeData& pasteboard, const QString& destinationFolder);

using PromisedFilesReceiver = std::function<QStringList(const QMimeData& pasteboard, const QString& destinationFolder)>;
void setPromisedFilesReceiver(PromisedFilesReceiver receiver);

} // namespace platform
