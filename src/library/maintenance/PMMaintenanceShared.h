// What the library's upkeep (deleting, organising, moving and finding files, locations)
// shares: its texts, translated in the controller's context, and the user defaults.
#pragma once

#include "platform/UserDefaults.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QString>

namespace pmmaintenance {

inline QString localized(const char* text)
{
    return QCoreApplication::translate("PMMainController", text);
}

inline platform::UserDefaults& defaults()
{
    return platform::UserDefaults::standard();
}

} // namespace pmmaintenance
