#include "library/model/PMPasteboard.h"

#include "library/model/PMLibraryContainer.h"
#include "library/model/PMLibraryItem.h"
#include "library/model/PMMovieRepresentation.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QMimeData>
#include <QtCore/QUrl>

#include <atomic>

namespace {

// Main thread only, like the drags themselves.
platform::ArrayPtr g_items;
platform::Value g_source;
quint64 g_serial = 0;

QByteArray marker(quint64 serial)
{
    return QByteArray::number(QCoreApplication::applicationPid()) + ':' + QByteArray::number(serial);
}

void collectPaths(const platform::Array& items, QList<QUrl>& urls, int depth)
{
    if (depth > 256)
        return;
    for (const platform::Value& v : items) {
        if (PMMovieRepresentationPrototype* movie = PMMovie(v)) {
            const QString path = movie->path();
            if (!path.isEmpty())
                urls << QUrl::fromLocalFile(path);
        } else if (PMLibraryContainer* container = PMContainer(v)) {
            collectPaths(*container->rawChildren(), urls, depth + 1);
        }
    }
}

} // namespace

QString internalLibraryIndexPasteboardType()
{
    return QStringLiteral("com.tolvane.Pellis.InternalPasteboardType");
}

void setLibraryItems(QMimeData& pasteboard, const platform::ArrayPtr& items, const platform::Value& source)
{
    QList<QUrl> urls;
    if (items)
        collectPaths(*items, urls, 0);
    g_source = source;
    g_items = items;
    ++g_serial;
    pasteboard.clear();
    if (!urls.isEmpty())
        pasteboard.setUrls(urls);
    pasteboard.setData(internalLibraryIndexPasteboardType(), marker(g_serial));
}

platform::ArrayPtr libraryItems(const QMimeData& pasteboard)
{
    if (!pasteboard.hasFormat(internalLibraryIndexPasteboardType()))
        return nullptr;
    // Another process (or an older drag of ours) may carry the type: only the marker of
    // this process's current drag hands out the cached items.
    if (pasteboard.data(internalLibraryIndexPasteboardType()) != marker(g_serial))
        return nullptr;
    return g_items;
}

platform::Value lastDraggedLibraryItemsSource()
{
    return g_source;
}

platform::ArrayPtr cachedDraggedLibraryItems()
{
    return g_items;
}

void invalidateDraggedLibraryItemsCache()
{
    g_items = nullptr;
}
