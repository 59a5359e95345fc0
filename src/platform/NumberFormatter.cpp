#include "platform/NumberFormatter.h"

#include "platform/Locale.h"

#include <unicode/dcfmtsym.h>
#include <unicode/decimfmt.h>
#include <unicode/numfmt.h>

#include <cmath>
#include <string>

namespace platform {

struct NumberFormatter::Impl {
    std::unique_ptr<icu::DecimalFormat> format;
};

namespace {

QString toQString(const icu::UnicodeString& s)
{
    return QString(reinterpret_cast<const QChar*>(s.getBuffer()), s.length());
}

} // namespace

NumberFormatter::NumberFormatter(const QString& localeName, bool useGrouping, bool leaveUnlocalized)
    : d(std::make_unique<Impl>()), m_localeName(localeName.isEmpty() ? userLocaleName() : localeName)
{
    UErrorCode status = U_ZERO_ERROR;
    const icu::Locale locale(m_localeName.toLatin1().constData());
    std::unique_ptr<icu::NumberFormat> created(icu::NumberFormat::createInstance(locale, UNUM_DECIMAL, status));
    auto* decimal = dynamic_cast<icu::DecimalFormat*>(created.get());
    if (U_FAILURE(status) || !decimal)
        return;
    created.release();
    d->format.reset(decimal);
    d->format->setRoundingMode(icu::DecimalFormat::kRoundHalfUp);
    d->format->setGroupingUsed(useGrouping);
    if (leaveUnlocalized) {
        icu::DecimalFormatSymbols symbols(*d->format->getDecimalFormatSymbols());
        symbols.setSymbol(icu::DecimalFormatSymbols::kDecimalSeparatorSymbol, u".");
        symbols.setSymbol(icu::DecimalFormatSymbols::kGroupingSeparatorSymbol, u",");
        d->format->setDecimalFormatSymbols(symbols);
    }
}

NumberFormatter::~NumberFormatter() = default;

bool NumberFormatter::isValid() const
{
    return d->format != nullptr;
}

void NumberFormatter::setMinimumIntegerDigits(int digits)
{
    if (d->format)
        d->format->setMinimumIntegerDigits(std::max(0, digits));
}

void NumberFormatter::setMinimumFractionDigits(int digits)
{
    if (d->format)
        d->format->setMinimumFractionDigits(std::max(0, digits));
}

void NumberFormatter::setMaximumFractionDigits(int digits)
{
    if (d->format)
        d->format->setMaximumFractionDigits(std::max(0, digits));
}

QString NumberFormatter::stringFromDouble(double value) const
{
    if (!d->format)
        return QString::number(value);
    icu::UnicodeString out;
    d->format->format(value, out);
    return toQString(out);
}

QString NumberFormatter::stringFromInteger(std::int64_t value) const
{
    if (!d->format)
        return QString::number(value);
    icu::UnicodeString out;
    d->format->format(static_cast<int64_t>(value), out);
    return toQString(out);
}

QString NumberFormatter::stringFromUnsignedInteger(std::uint64_t value) const
{
    if (!d->format)
        return QString::number(value);
    const std::string digits = std::to_string(value);
    icu::UnicodeString out;
    UErrorCode status = U_ZERO_ERROR;
    d->format->format(icu::StringPiece(digits.data(), int32_t(digits.size())), out, nullptr, status);
    if (U_FAILURE(status))
        return QString::number(value);
    return toQString(out);
}

} // namespace platform
