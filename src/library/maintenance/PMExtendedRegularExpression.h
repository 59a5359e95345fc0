// Replacement templates with case and date conversions: besides the group references and
// backslash escapes of plain templates, "\l" and "\u" change the case of the next character,
// "\L" and "\U" the case of everything up to "\E", and "\D(in)>(out)" reads a date written
// in one format and writes it in another. The batch rename's find-and-replace uses them.
#pragma once

#include "platform/DateFormatting.h"
#include "platform/RegularExpression.h"

#include <QtCore/QList>
#include <QtCore/QString>

#include <memory>

class PMEREConversion {
public:
    enum Type { LowercaseNext = 0, Lowercase = 1, UppercaseNext = 2, Uppercase = 3, Date = 4, End = 5 };

    long type = End;
    std::shared_ptr<platform::DateFormatter> dateFormatter; // only for a date conversion
    QString inputFormat, outputFormat;                      // only for a date conversion
    qsizetype rangeLocation = 0;                            // the escape in the template
    qsizetype rangeLength = 0;

    // The conversions of a template, in order (none for a text shorter than two characters
    // or without a backslash).
    static QList<std::shared_ptr<const PMEREConversion>> conversionsInString(const QString& string);
    // The text read with the input format and written with the output format; unchanged when
    // a format is missing or the text does not parse.
    QString processDateString(const QString& string) const;
};
using PMEREConversionPtr = std::shared_ptr<const PMEREConversion>;

class PMERETemplate;
using PMERETemplatePtr = std::shared_ptr<const PMERETemplate>;

class PMERETemplate {
public:
    // The template with every conversion escape replaced by the placeholder.
    QString stringWithPlaceholders;
    QList<PMEREConversionPtr> conversions; // empty when the template has none

    // The parsed template, from the process-wide cache or made and kept there. Given
    // nothing (a null string), empties the cache and answers nothing. Safe from any thread.
    static PMERETemplatePtr templateWithString(const QString& string);
    // One expanded replacement with the conversions applied and the placeholders removed.
    QString applyConversionsToString(const QString& string) const;

    static const QString& placeholder();
};

// Empties the template cache (the info panel does it when it closes).
void PMERETemplateFlushCache();

// The subject with every match of the expression replaced by the extended template; the
// subject unchanged when it or the template is null. A malformed template replaces each
// match by nothing (logged). When the matching itself fails (a pattern that backtracks
// without end, a text too long), the subject comes back unchanged and `getFailure`, when
// given, receives the reason.
QString stringByReplacingMatchesInString(const platform::RegularExpression& expression, const QString& subject,
                                         const QString& withExtendedTemplate, QString* getFailure = nullptr);
