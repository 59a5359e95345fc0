// Text helpers of the help window: cutting a page's markers out of its text, the sort
// form of an anchor's name, and the words an alert uses for a setting's value.
#pragma once

#include "platform/Value.h"

#include <QtCore/QString>

#include <functional>
#include <optional>

// The text after the first occurrence of the prefix up to the first following occurrence
// of the suffix, both found ignoring case. An empty prefix means from the start, an empty
// suffix to the end; nothing when a given prefix or suffix is not there.
std::optional<QString> helpManagerContentBetweenPrefix(const QString& string, const QString& prefix, const QString& andSuffix);

// The text itself when it has no character of the set; otherwise the pieces between such
// characters, each trimmed, empty ones dropped, joined by single blanks.
QString helpManagerAnchorSortStringByIgnoringCharactersFromSet(const QString& string, const std::function<bool(QChar)>& set);

// "(No Value)" for nothing, "Yes" and "No" for booleans, else the value's own text.
QString helpManagerDescriptionOrValue(const platform::Value& value);

// The key under which help search compares texts: case, accents and character widths
// ignored (full-width letters fold to their narrow forms).
QString helpManagerInsensitiveSearchKey(const QString& string);
