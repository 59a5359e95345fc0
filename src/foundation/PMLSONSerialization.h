// Property lists as text in four formats, and back, with the format of a given text
// detected: XML (a whole XML property-list document), XML shorthand (the inside of the
// top-level dictionary, or the array element itself), JSON (pretty-printed, keys sorted,
// tab-indented) and JSON shorthand, "LSON": JSON whose commas at line ends are optional,
// a top-level dictionary written without its braces. Stored settings such as the viewer
// rules are read through `objectValueFromString`.
#pragma once

#include "platform/Value.h"

#include <QtCore/QByteArray>
#include <QtCore/QString>

#include <optional>

enum PMJSONTextViewFormat {
    PMJSONTextViewFormatNone = 0,
    PMJSONTextViewFormatXML = 1,
    PMJSONTextViewFormatXMLShorthand = 2,
    PMJSONTextViewFormatJSON = 3,
    PMJSONTextViewFormatJSONShorthand = 4,
};

class PMLSONSerialization {
public:
    // Removes the commas at line ends (before a line that does not close a container).
    static QString LSONStringFromJSONString(const QString& string);
    // Puts them back: a comma after every line that ends a value when the next line does not
    // close a container (blank lines are stepped over).
    static QString JSONStringFromLSONString(const QString& string);

    // Format 3 (both flags off) or 4 (both on); nothing for a value JSON cannot hold (dates,
    // data) or no value.
    static std::optional<QString> JSONStringWithObject(const platform::Value& object, bool unwrap, bool useLSON);
    // Format 1 (unwrap off) or 2 (on); nothing when the value is no property list.
    static std::optional<QString> XMLStringWithObject(const platform::Value& object, bool unwrap);

    // Reads JSON or LSON (a text beginning with a double quote is a shorthand dictionary).
    // `data` receives the UTF-8 text that was tried.
    static platform::Value objectWithJSONString(const QString& string, QByteArray* data, PMJSONTextViewFormat* format, QString* error);
    // Reads XML shorthand (a text whose first tag is a key) from the string, or else the data
    // as a property list (XML, or the old text form).
    static platform::Value objectWithData(const QByteArray& data, const QString& fromXMLString, PMJSONTextViewFormat* format, QString* error);
    // The one reader callers use: JSON and LSON first, then XML shorthand and XML. Null with
    // no error for a blank text; with the more telling reader's error when nothing reads.
    static platform::Value objectWithString(const QString& string, PMJSONTextViewFormat* format, QString* error);
};

// The value of property-list text in any of the four formats, or null; `format` (may be
// null) receives the detected format.
platform::Value objectValueFromString(const QString& string, PMJSONTextViewFormat* format);
