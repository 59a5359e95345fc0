#include "foundation/PMLSONSerialization.h"

#include "platform/JSONSerialization.h"
#include "platform/PropertyList.h"
#include "platform/RegularExpression.h"
#include "foundation/PMSettingsKeys.h"
#include "platform/UserDefaults.h"

#include <QtCore/QStringDecoder>

namespace {

using platform::RegularExpression;

constexpr int kCaseInsensitive = RegularExpression::CaseInsensitive;

bool isJSONSpace(QChar c)
{
    return c.isSpace();
}

bool isLineBreak(QChar c)
{
    return c == QLatin1Char('\n') || c == QLatin1Char('\r');
}

bool matches(const QString& text, const QString& pattern, int options = 0)
{
    const platform::RegularExpressionPtr expression = RegularExpression::cached(pattern, options);
    return expression && expression->firstMatch(text, nullptr);
}

// The index of the last non-blank character before `i`, or -1.
qsizetype previousSignificant(const QString& text, qsizetype i)
{
    while (i > 0 && isJSONSpace(text.at(i - 1)))
        --i;
    return i - 1;
}

// The index of the first non-blank character at or after `i`, or the text's length.
qsizetype nextSignificant(const QString& text, qsizetype i)
{
    while (i < text.size() && isJSONSpace(text.at(i)))
        ++i;
    return i;
}

bool endsNoElement(QChar c)
{
    return c == QLatin1Char(',') || c == QLatin1Char(':') || c == QLatin1Char('[') || c == QLatin1Char('{');
}

bool closesContainer(QChar c)
{
    return c == QLatin1Char(']') || c == QLatin1Char('}');
}

// Tabs for the leading indentation units of every line, from the first indented line on.
QString reindentWithTabs(const QString& text)
{
    QStringList lines = text.split(QLatin1Char('\n'));
    if (lines.size() < 2)
        return text;
    QString unit;
    for (QString& line : lines) {
        if (unit.isEmpty()) {
            qsizetype n = 0;
            while (n < line.size() && line.at(n).isSpace())
                ++n;
            if (n == 0)
                continue;
            unit = line.left(n);
        }
        qsizetype units = 0;
        while (line.mid(units * unit.size(), unit.size()) == unit)
            ++units;
        if (units > 0)
            line = QString(units, QLatin1Char('\t')) + line.mid(units * unit.size());
    }
    return lines.join(QLatin1Char('\n'));
}

// Errors of the shorthand reader name places in the user's text, not in the wrapper.
QString shiftErrorColumn(const QString& error, int columns)
{
    const platform::RegularExpressionPtr place = RegularExpression::cached(QStringLiteral("line 1, column (\\d+)"));
    RegularExpression::Match match;
    if (!place || !place->firstMatch(error, &match))
        return error;
    const int column = std::max(1, match.captured(error, 1).toInt() - columns);
    QString shifted = error;
    shifted.replace(match.range(1).start, match.range(1).length, QString::number(column));
    return shifted;
}

// Takes one tab off every indented line of XML text written by the property-list writer,
// leaving alone the line breaks and tabs that belong to the text of a key or a value.
QString removeOneXMLIndentationLevel(const QString& xml)
{
    QString result;
    result.reserve(xml.size());
    bool inText = false;
    const qsizetype n = xml.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = xml.at(i);
        if (c == QLatin1Char('<')) {
            const qsizetype close = xml.indexOf(QLatin1Char('>'), i);
            if (close > i) {
                const QStringView tag = QStringView(xml).mid(i + 1, close - i - 1);
                if (tag.startsWith(QLatin1Char('/')))
                    inText = false;
                else if (!tag.endsWith(QLatin1Char('/')) && !tag.startsWith(QLatin1String("dict")) && !tag.startsWith(QLatin1String("array")))
                    inText = true;
            }
        }
        result += c;
        if (c == QLatin1Char('\n') && !inText && i + 1 < n && xml.at(i + 1) == QLatin1Char('\t'))
            ++i;
    }
    return result;
}

platform::Value readPropertyListText(const QByteArray& data, QString* error)
{
    QByteArrayView view(data);
    if (view.startsWith("\xEF\xBB\xBF"))
        view = view.sliced(3);
    qsizetype i = 0;
    while (i < view.size() && (view[i] == ' ' || view[i] == '\t' || view[i] == '\n' || view[i] == '\r'))
        ++i;
    if (i < view.size() && view[i] == '<')
        return platform::readXMLPropertyList(data, error);
    return platform::readOpenStepPropertyList(data, error);
}

} // namespace

QString PMLSONSerialization::LSONStringFromJSONString(const QString& string)
{
    // A comma right before a line break goes when an element stands before it and the next
    // element does not close its container. Commas are looked at one by one, so each line of
    // a run of one-character lines loses its comma.
    QString result;
    result.reserve(string.size());
    qsizetype copied = 0;
    for (qsizetype i = 0; i < string.size(); ++i) {
        if (string.at(i) != QLatin1Char(','))
            continue;
        if (i + 1 >= string.size() || !isLineBreak(string.at(i + 1)))
            continue;
        const qsizetype before = previousSignificant(string, i);
        if (before < 0 || endsNoElement(string.at(before)))
            continue;
        const qsizetype after = nextSignificant(string, i + 1);
        if (after >= string.size() || closesContainer(string.at(after)))
            continue;
        result += QStringView(string).mid(copied, i - copied);
        copied = i + 1;
    }
    result += QStringView(string).mid(copied);
    return result;
}

QString PMLSONSerialization::JSONStringFromLSONString(const QString& string)
{
    // Between an element that ends a line and the next element on a later line (blank lines
    // stepped over) a comma is due, unless the next one closes its container.
    QString result;
    result.reserve(string.size() + string.size() / 16);
    qsizetype copied = 0;
    qsizetype i = 0;
    const qsizetype n = string.size();
    while (i < n) {
        if (!isLineBreak(string.at(i))) {
            ++i;
            continue;
        }
        const qsizetype before = previousSignificant(string, i);
        const qsizetype after = nextSignificant(string, i);
        if (before >= 0 && after < n && !endsNoElement(string.at(before)) && !closesContainer(string.at(after))) {
            result += QStringView(string).mid(copied, before + 1 - copied);
            result += QLatin1Char(',');
            copied = before + 1;
        }
        i = after; // the whole gap is one gap, however many lines it spans
    }
    result += QStringView(string).mid(copied);
    return result;
}

std::optional<QString> PMLSONSerialization::JSONStringWithObject(const platform::Value& object, bool unwrap, bool useLSON)
{
    if (!object.isArray() && !object.isDictionary())
        return std::nullopt;
    platform::JSONWriteOptions options;
    options.escapeSlashes = prefs::get(prefs::keys::PMJSONTextViewEscapesJSONSlashes);
    QString text;
    if (!platform::writeJSON(object, options, &text))
        return std::nullopt;
    text = reindentWithTabs(text);
    if (unwrap) {
        const QString unwrapped = RegularExpression::replace(text, QStringLiteral("(?s)^\\s*\\{\\s*(.*)\\s*\\}\\s*$"), QStringLiteral("$1"));
        if (unwrapped != text)
            text = QString(unwrapped).replace(QStringLiteral("\n\t"), QStringLiteral("\n"));
    }
    if (useLSON)
        text = LSONStringFromJSONString(text);
    return text;
}

std::optional<QString> PMLSONSerialization::XMLStringWithObject(const platform::Value& object, bool unwrap)
{
    if (object.isNull())
        return std::nullopt;
    QString error;
    const QByteArray bytes = platform::writeXMLPropertyList(object, &error);
    if (bytes.isEmpty() || !error.isEmpty())
        return std::nullopt;
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString document = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    if (!unwrap)
        return document;
    QString unwrapped;
    if (object.isArray()) {
        unwrapped = RegularExpression::replace(document, QStringLiteral("(?s)^.*?(<\\s*array\\s*>[^<]*.*<\\s*/\\s*array\\s*>).*$"),
                                               QStringLiteral("$1"), kCaseInsensitive);
    } else {
        unwrapped = RegularExpression::replace(document, QStringLiteral("(?s)^.*?<\\s*dict\\s*>[^<]*(.*)<\\s*/\\s*dict\\s*>.*$"),
                                               QStringLiteral("$1"), kCaseInsensitive);
    }
    if (unwrapped != document) {
        // A line break and a tab inside the text of a value are that value's own.
        if (object.isDictionary())
            unwrapped = removeOneXMLIndentationLevel(unwrapped);
        return unwrapped;
    }
    const QString inner = RegularExpression::replace(
        document, QStringLiteral("(?s)^.*?<\\s*plist(?:\\s*|\\s[^<]+)>[^<]*(.*)<\\s*/\\s*plist\\s*>.*$"), QStringLiteral("$1"), kCaseInsensitive);
    return inner;
}

platform::Value PMLSONSerialization::objectWithJSONString(const QString& string, QByteArray* data, PMJSONTextViewFormat* format, QString* error)
{
    const bool shorthand = matches(string, QStringLiteral("^\\s*\""));
    const QString text = shorthand ? QLatin1Char('{') + string + QLatin1Char('}') : string;
    if (data)
        *data = text.toUtf8();
    QString readError;
    platform::Value value = platform::readJSON(text, &readError);
    if (!value.isNull()) {
        if (format)
            *format = shorthand ? PMJSONTextViewFormatJSONShorthand : PMJSONTextViewFormatJSON;
        return value;
    }
    // The brace put before a shorthand text is not the user's: errors on its line name
    // the user's columns.
    if (error)
        *error = shorthand ? shiftErrorColumn(readError, 1) : readError;
    const QString converted = JSONStringFromLSONString(text);
    if (converted == text)
        return platform::Value();
    value = platform::readJSON(converted, &readError);
    if (value.isNull()) {
        if (error)
            *error = shorthand ? shiftErrorColumn(readError, 1) : readError;
        return value;
    }
    if (format)
        *format = PMJSONTextViewFormatJSONShorthand;
    return value;
}

platform::Value PMLSONSerialization::objectWithData(const QByteArray& data, const QString& fromXMLString, PMJSONTextViewFormat* format,
                                                    QString* error)
{
    QString readError;
    platform::Value value;
    PMJSONTextViewFormat detected = PMJSONTextViewFormatXML;
    if (matches(fromXMLString, QStringLiteral("^[^<]*<\\s*key\\s*>"), kCaseInsensitive)) {
        // The members of a dictionary without their wrappers.
        const bool isArray = matches(fromXMLString, QStringLiteral("^[^<]*<\\s*array\\s*>"), kCaseInsensitive);
        const QString opening = isArray ? QString() : QStringLiteral("<dict>");
        const QString wrapped = isArray ? fromXMLString : opening + fromXMLString + QStringLiteral("</dict>");
        value = platform::readXMLPropertyList(wrapped.toUtf8(), &readError);
        if (!readError.isEmpty())
            readError = shiftErrorColumn(readError, int(opening.size()));
        detected = PMJSONTextViewFormatXMLShorthand;
    } else {
        value = readPropertyListText(data, &readError);
    }
    if (value.isNull()) {
        if (error)
            *error = readError.isEmpty() ? QStringLiteral("the text is not a property list") : readError;
        return value;
    }
    if (format)
        *format = detected;
    return value;
}

platform::Value PMLSONSerialization::objectWithString(const QString& string, PMJSONTextViewFormat* format, QString* error)
{
    if (error)
        error->clear();
    if (string.trimmed().isEmpty())
        return platform::Value();
    QByteArray data;
    QString jsonError;
    PMJSONTextViewFormat detected = PMJSONTextViewFormatNone;
    platform::Value value = objectWithJSONString(string, &data, &detected, &jsonError);
    if (value.isNull()) {
        QString xmlError;
        value = objectWithData(data, string, &detected, &xmlError);
        if (value.isNull()) {
            if (error) {
                const bool looksLikeXML = matches(string, QStringLiteral("<\\s*key\\s*>"), kCaseInsensitive);
                if (looksLikeXML)
                    *error = !xmlError.isEmpty() ? xmlError : jsonError;
                else
                    *error = !jsonError.isEmpty() ? jsonError : xmlError;
            }
            return value;
        }
    }
    if (format)
        *format = detected;
    return value;
}

platform::Value objectValueFromString(const QString& string, PMJSONTextViewFormat* format)
{
    return PMLSONSerialization::objectWithString(string, format, nullptr);
}
