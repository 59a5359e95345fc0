// The menu items that open a movie at a time, used by the index image's frame menu and the
// chapter menus.
#include "library/model/PMMovieRepresentation.h"

#include "platform/Responder.h"
#include "foundation/PMSettingsKeys.h"
#include "platform/UserDefaults.h"
#include "ui/kit/NSMenu+PMExtensions.h"

#include <QtCore/QCoreApplication>
#include <QtWidgets/QMenu>

namespace {

QString localized(const char* text)
{
    return QCoreApplication::translate("PMMovieRepresentation", text);
}

} // namespace

bool PMMovieRepresentationPrototype::addGoToTimestampMenuItemsToMenu(QMenu* menu, double timestamp, const QString& description,
                                                                     const platform::DictionaryPtr& marker, bool includeDisplayName,
                                                                     bool insertSeparator)
{
    if (!menu || !(timestamp >= 0) || !(timestamp < double(durationIfCached(true))) || !canPlay())
        return false;
    QString markerTitle;
    if (marker && marker->value(QStringLiteral("Title")).isString()) {
        markerTitle = marker->value(QStringLiteral("Title")).string();
        if (markerTitle.isEmpty())
            markerTitle = localized("Untitled");
    }
    const QString playTitle = includeDisplayName ? localized("Play %1 from %2").arg(displayName(), description)
                                                 : localized("Play from %1").arg(description);
    const QString goTitle = localized("Go to %1").arg(description);
    if (insertSeparator)
        menu->addSeparator();

    const bool goesFirst = prefs::get(prefs::keys::DoNotPlayOnOpen);
    std::shared_ptr<PMMovieRepresentationPrototype> self = sharedRecord();
    std::weak_ptr<PMMovieRepresentationPrototype> weak = self;
    const auto add = [&](bool play) {
        const QString title = play ? playTitle : goTitle;
        QAction* item = addItemWithTitle(menu, markerTitle.isEmpty() ? platform::escapedMenuTitle(title) : platform::escapedMenuTitle(markerTitle), [weak, timestamp, play](QAction*) {
            if (std::shared_ptr<PMMovieRepresentationPrototype> record = weak.lock())
                record->goToTimestamp(timestamp, play);
        });
        if (!markerTitle.isEmpty())
            setTitleSuffix(item, localized(" - %1").arg(title), -1);
        return item;
    };
    QAction* first = add(!goesFirst);
    QAction* second = add(goesFirst);
    platform::setAlternateMenuItem(second, first, Qt::AltModifier);
    return true;
}
