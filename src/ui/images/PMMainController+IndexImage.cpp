// The main controller's share of the index image window: opening it for a record.
#include "foundation/PMLog.h"
#include "ui/images/PMIndexImageView.h"
#include "library/model/PMLibraryContainer.h"
#include "library/model/PMMainController.h"
#include "library/model/PMMovieRepresentation.h"
#include "platform/Alert.h"
#include "platform/InterfaceFiles.h"
#include "platform/Responder.h"
#include "ui/kit/NSWindow+PMExtensions.h"

#include <QtCore/QCoreApplication>
#include <QtGui/QAction>

void PMMainController::generateIndexImage(QObject* sender)
{
    if (!indexImageWell) {
        static bool registered = false;
        if (!registered) {
            registered = true;
            platform::registerInterfaceBuilder(QStringLiteral("IndexImage"), &PMIndexImageView::buildWindow);
        }
        if (!vintageStyleLoadNibNamed(QStringLiteral("IndexImage"), this) || !indexImageWell) {
            PMLog("cannot load <IndexImage.nib>");
            platform::beep();
            return;
        }
    }
    // The menu item's record, else the only one selected; another sender (the window's own
    // commands) means the record shown.
    platform::Value record;
    bool chosen = false;
    if (auto* item = qobject_cast<QAction*>(sender)) {
        record = platform::menuItemRepresentedObject(item);
        if (record.isNull()) {
            const platform::ArrayPtr selected = cachedInfoMovieRepresentationsSorted(false);
            if (selected && selected->count() == 1)
                record = selected->at(0);
        }
        chosen = true;
    } else if (PMMovieRepresentationPrototype* shown = indexImageWell->movieRepresentation()) {
        record = platform::Value(shown->sharedRecord());
    }
    PMMovieRepresentationPrototype* movie = PMMovie(record);
    if (!movie || !movie->canShowIndexImage()) {
        PMLog("cannot generate index image: %@", movie ? movie->description() : QStringLiteral("(none)"));
        platform::beep();
        return;
    }
    const QString name = movie->displayNameWithExtension(false);
    QWidget* window = indexImageWell->window();
    window->setWindowTitle(QCoreApplication::translate("PMMainController", "Index Image: %1").arg(name));
    indexImageWell->setMovieRepresentation(movie);
    if (chosen) {
        const PMLibraryContainerPtr parent = parentOfLibraryItem(record);
        indexImageWell->setContainerID(parent ? parent->uniqueLibraryID() : QString());
    }
    indexImageWell->setFilename(QCoreApplication::translate("PMMainController", "%1 (Index)").arg(name));
    window->show();
    window->raise();
    window->activateWindow();
}
