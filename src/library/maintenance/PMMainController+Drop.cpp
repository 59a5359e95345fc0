// Files and library items entering or moving inside the library tree: drops on the
// three views, the import they lead to, and the placing of new movie records.
#include "library/model/PMMainController.h"

#include "library/model/PMMovieRepresentation.h"

#include <QtCore/QUrl>

using platform::Array;
using platform::ArrayPtr;
using platform::Value;

bool PMMainController::addLibraryItems(const ArrayPtr& libraryItems, const QList<QUrl>& withURLs, const ArrayPtr& defaultSiblings,
                                       qsizetype atIndex, Array* collectMovieRepresentations)
{
    Array ownCollection;
    Array& collection = collectMovieRepresentations ? *collectMovieRepresentations : ownCollection;
    qsizetype index = atIndex;

    // A file that is placed somewhere leaves the temporary storage (every occurrence).
    if (const PMLibraryContainerPtr temporary = temporaryStorage()) {
        for (const QUrl& url : withURLs) {
            const QString urlString = url.toString();
            for (;;) {
                qsizetype found = -1;
                const ArrayPtr siblings = nonSmartPlaylistSiblingsOfLibraryItemWithURL(urlString, temporary->rawChildren(), nullptr, &found,
                                                                                       nullptr, nullptr);
                if (!siblings || found < 0 || found >= siblings->count())
                    break;
                siblings->removeAt(found);
                if (siblings == defaultSiblings && index >= 0 && found < index)
                    --index;
            }
        }
    }

    auto place = [&](Value item) {
        if (!defaultSiblings)
            return;
        if (index >= 0 && index <= defaultSiblings->count())
            defaultSiblings->insert(index++, std::move(item));
        else
            defaultSiblings->append(std::move(item));
    };

    if (!libraryItems || libraryItems->isEmpty()) {
        const PMLibraryContainerPtr section = pellisSourceStorageSection();
        for (const QUrl& url : withURLs) {
            Value existing;
            if (section && nonSmartPlaylistSiblingsOfLibraryItemWithURL(url.toString(), section->rawChildren(), &existing, nullptr, nullptr, nullptr)
                && !existing.isNull()) {
                collection.append(existing);
                continue;
            }
            const PMMovieRepresentationOriginalPtr record = PMMovieRepresentationOriginal::movieRepresentationWithURL(url);
            if (!record)
                continue;
            collection.append(Value(record));
            place(Value(record));
        }
    } else {
        for (const Value& item : *libraryItems) {
            if (PMLibraryContainer* container = PMContainer(item)) {
                for (const Value& movie : *container->allNonProxyMovieChildren())
                    collection.append(movie);
            } else {
                collection.append(item);
            }
            place(item);
        }
    }
    return !collection.isEmpty();
}
