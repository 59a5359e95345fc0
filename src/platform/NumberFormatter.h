// Decimal number texts in the user's locale (or with "." and "," when asked to stay
// unlocalised), rounding half up, with or without grouping. Backed by ICU.
#pragma once

#include <QtCore/QString>

#include <cstdint>
#include <memory>

namespace platform {

class NumberFormatter {
public:
    // `localeName` empty: the user's locale at creation.
    NumberFormatter(const QString& localeName, bool useGrouping, bool leaveUnlocalized);
    ~NumberFormatter();
    NumberFormatter(const NumberFormatter&) = delete;
    NumberFormatter& operator=(const NumberFormatter&) = delete;

    bool isValid() const;
    const QString& localeName() const { return m_localeName; }

    void setMinimumIntegerDigits(int digits);
    void setMinimumFractionDigits(int digits);
    void setMaximumFractionDigits(int digits);

    QString stringFromDouble(double value) const;
    QString stringFromInteger(std::int64_t value) const;
    QString stringFromUnsignedInteger(std::uint64_t value) const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
    QString m_localeName;
};

} // namespace platform
