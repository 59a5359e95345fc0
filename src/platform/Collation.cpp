#include "platform/Collation.h"

#include <unicode/coll.h>
#include <unicode/locid.h>

#include <cstring>
#include <memory>

namespace platform {

namespace {

// One collator for the process, made on first use in the locale in force then. ICU's
// collators may be used from several threads at once as long as nobody changes them.
const icu::Collator* collator()
{
    static const std::unique_ptr<icu::Collator> instance = [] {
        UErrorCode status = U_ZERO_ERROR;
        // The C and POSIX locales sort by code point (all capitals first); people get the
        // root order instead.
        icu::Locale locale = icu::Locale::getDefault();
        const QByteArray language = QByteArray(locale.getLanguage()).toLower();
        if (language.isEmpty() || language == "c" || language == "posix" || QByteArray(locale.getVariant()).toUpper() == "POSIX")
            locale = icu::Locale::getRoot();
        std::unique_ptr<icu::Collator> c(icu::Collator::createInstance(locale, status));
        if (U_FAILURE(status) || !c) {
            status = U_ZERO_ERROR;
            c.reset(icu::Collator::createInstance(icu::Locale::getRoot(), status));
        }
        if (c) {
            status = U_ZERO_ERROR;
            c->setAttribute(UCOL_NUMERIC_COLLATION, UCOL_ON, status);
        }
        return c;
    }();
    return instance.get();
}

int sign(int value)
{
    return value < 0 ? -1 : (value > 0 ? 1 : 0);
}

} // namespace

int localizedStandardCompare(QStringView a, QStringView b)
{
    const icu::Collator* c = collator();
    if (!c)
        return sign(a.compare(b, Qt::CaseInsensitive));
    UErrorCode status = U_ZERO_ERROR;
    const UCollationResult result = c->compare(a.utf16(), int32_t(a.size()), b.utf16(), int32_t(b.size()), status);
    if (U_FAILURE(status))
        return sign(a.compare(b));
    return result == UCOL_LESS ? -1 : (result == UCOL_GREATER ? 1 : 0);
}

QByteArray localizedStandardCollationKey(QStringView text)
{
    const icu::Collator* c = collator();
    if (!c)
        return text.toString().toCaseFolded().toUtf8();
    uint8_t buffer[128];
    const int32_t needed = c->getSortKey(text.utf16(), int32_t(text.size()), buffer, int32_t(sizeof buffer));
    if (needed <= 0)
        return {};
    if (size_t(needed) <= sizeof buffer)
        return QByteArray(reinterpret_cast<const char*>(buffer), needed - 1); // without the terminating zero
    QByteArray key(needed, Qt::Uninitialized);
    c->getSortKey(text.utf16(), int32_t(text.size()), reinterpret_cast<uint8_t*>(key.data()), needed);
    key.chop(1);
    return key;
}

int compareCollationKeys(const QByteArray& a, const QByteArray& b)
{
    const qsizetype n = std::min(a.size(), b.size());
    const int c = n > 0 ? std::memcmp(a.constData(), b.constData(), size_t(n)) : 0;
    if (c != 0)
        return c < 0 ? -1 : 1;
    return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

} // namespace platform
