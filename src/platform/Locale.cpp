#include "platform/Locale.h"

#include <QtCore/QLocale>

#include <unicode/locid.h>

namespace platform {

void setUserLocale(const QString& name)
{
    QLocale::setDefault(QLocale(name));
    UErrorCode status = U_ZERO_ERROR;
    icu::Locale::setDefault(icu::Locale(name.toLatin1().constData()), status);
}

QString userLocaleName()
{
    return QString::fromLatin1(icu::Locale::getDefault().getName());
}

} // namespace platform
