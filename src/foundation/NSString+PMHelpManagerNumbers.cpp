#include "foundation/NSString+PMHelpManagerNumbers.h"

#include "platform/Locale.h"
#include "platform/NumberFormatter.h"
#include "foundation/PMSettingsKeys.h"
#include "platform/UserDefaults.h"

#include <QtCore/QCoreApplication>

#include <memory>
#include <mutex>

namespace {

std::mutex g_formatterLock;
std::unique_ptr<platform::NumberFormatter> g_formatter;

platform::NumberFormatter& sharedFormatter()
{
    if (!g_formatter || g_formatter->localeName() != platform::userLocaleName()) {
        const bool grouping = !prefs::get(prefs::keys::NumbersDisableGroupingSeparator);
        const bool unlocalized = prefs::get(prefs::keys::NumbersLeaveUnlocalized);
        g_formatter = std::make_unique<platform::NumberFormatter>(QString(), grouping, unlocalized);
    }
    return *g_formatter;
}

int automaticFractionDigits(double v)
{
    const platform::Value setting = prefs::get(prefs::keys::NumbersFractionDigits);
    if (setting.isNumber() && setting.toLongLong() >= 0)
        return int(std::min<std::int64_t>(setting.toLongLong(), 20));
    if (v < 0.000001)
        return 8;
    if (v < 0.00001)
        return 7;
    if (v < 0.0001)
        return 6;
    if (v < 0.001)
        return 5;
    if (v < 0.01)
        return 4;
    if (v < 0.1)
        return 3;
    if (v < 10)
        return 2;
    return 1;
}

QString format(const platform::Value& number, int minimumIntegerDigits, int fractionDigits, bool trim)
{
    if (!number.isNumber())
        return QString();
    const double v = number.toDouble();
    if (fractionDigits < 0)
        fractionDigits = automaticFractionDigits(v);
    fractionDigits = std::min(fractionDigits, 20);
    std::lock_guard guard(g_formatterLock);
    platform::NumberFormatter& formatter = sharedFormatter();
    formatter.setMinimumIntegerDigits(std::clamp(minimumIntegerDigits, 0, 100));
    formatter.setMaximumFractionDigits(fractionDigits);
    formatter.setMinimumFractionDigits(trim ? 0 : fractionDigits);
    if (number.isInteger())
        return number.isUnsignedInteger() ? formatter.stringFromUnsignedInteger(number.unsignedInteger())
                                          : formatter.stringFromInteger(number.integer());
    if (number.isBool())
        return formatter.stringFromInteger(number.boolean() ? 1 : 0);
    return formatter.stringFromDouble(v);
}

int unitIndex(std::uint64_t bytes)
{
    int k = 0;
    std::uint64_t unit = 1;
    while (k < 6 && bytes / unit >= 1000) {
        unit *= 1000;
        ++k;
    }
    return k;
}

QString unitName(int index)
{
    static const char* const units[] = {" Bytes", " KB", " MB", " GB", " TB", " PB", " EB", " ZB", " YB"};
    return QCoreApplication::translate("PMHelpManager", units[std::clamp(index, 0, 8)]);
}

} // namespace

QString stringWithNumber(const platform::Value& number, int minimumNumberOfIntegerDigits, int numberOfFractionDigits, bool trim)
{
    return format(number, minimumNumberOfIntegerDigits, numberOfFractionDigits, trim);
}

QString stringWithNumber(const platform::Value& number, int numberOfFractionDigits, bool trim)
{
    return format(number, 1, numberOfFractionDigits, trim);
}

QString stringWithDouble(double value, int numberOfFractionDigits, bool trim)
{
    return format(platform::Value(value), 1, numberOfFractionDigits, trim);
}

QString stringWithInteger(std::int64_t value)
{
    return format(platform::Value(static_cast<long long>(value)), 1, 0, true);
}

QString stringWithUnsignedInteger(std::uint64_t value)
{
    return format(platform::Value(static_cast<unsigned long long>(value)), 1, 0, true);
}

QString partialFileSizeDescriptionWithBytesCount(std::uint64_t bytesCount, std::uint64_t overallBytesCount)
{
    if (bytesCount == 0)
        return QStringLiteral("-");
    const int k = unitIndex(bytesCount);
    std::uint64_t unit = 1;
    for (int i = 0; i < k; ++i)
        unit *= 1000;
    const double value = double(bytesCount) / double(unit);
    const int fractionDigits = k <= 2 ? 1 : k - 1;
    const QString number = k == 0 ? stringWithNumber(platform::Value(static_cast<unsigned long long>(bytesCount)), 1, true)
                                  : stringWithDouble(value, fractionDigits, true);
    if (overallBytesCount != 0 && unitIndex(overallBytesCount) == k)
        return number;
    return number + unitName(k);
}

QString fileSizeDescriptionWithBytesCount(std::uint64_t bytesCount)
{
    return partialFileSizeDescriptionWithBytesCount(bytesCount, 0);
}

void resetSharedNumberFormatter()
{
    std::lock_guard guard(g_formatterLock);
    g_formatter.reset();
}
