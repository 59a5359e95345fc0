// The user's locale for texts shown to people. Qt's default locale and ICU's default
// locale are kept together, so numbers, dates and sorting agree. Stored values never
// follow it: they are written and read in the C locale.
#pragma once

#include <QtCore/QString>

namespace platform {

// Makes the named locale ("de_DE", "en_US") the user's locale for Qt and ICU alike.
void setUserLocale(const QString& name);
// The name of the user's locale as ICU knows it ("de_DE").
QString userLocaleName();

} // namespace platform
