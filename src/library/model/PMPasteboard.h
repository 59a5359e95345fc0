// Library items on the pasteboard. Items are dragged inside the program as live objects:
// the pasteboard carries a marker of the program's own type (naming this process and
// the drag) and, for other programs, the movies' files as a URL list; the items wait in
// a process-wide cache until the drag is over.
#pragma once

#include "platform/Value.h"

#include <QtCore/QString>

class QMimeData;

QString internalLibraryIndexPasteboardType();
// Writes a drag (or copy) of library items; the source is, for example, the view the
// drag started from.
void setLibraryItems(QMimeData& pasteboard, const platform::ArrayPtr& items, const platform::Value& source);
// The cached items when the pasteboard carries this process's current drag; else nothing.
platform::ArrayPtr libraryItems(const QMimeData& pasteboard);
platform::Value lastDraggedLibraryItemsSource();
platform::ArrayPtr cachedDraggedLibraryItems();
void invalidateDraggedLibraryItemsCache();
