#include "services/help/NSString+PMHelpManagerHelpBook.h"

#include <QtCore/QCoreApplication>

std::optional<QString> helpManagerContentBetweenPrefix(const QString& string, const QString& prefix, const QString& andSuffix)
{
    qsizetype start = 0;
    if (!prefix.isEmpty()) {
        const qsizetype found = string.indexOf(prefix, 0, Qt::CaseInsensitive);
        if (found < 0)
            return std::nullopt;
        start = found + prefix.size();
    }
    qsizetype end = string.size();
    if (!andSuffix.isEmpty()) {
        const qsizetype found = string.indexOf(andSuffix, start, Qt::CaseInsensitive);
        if (found < 0)
            return std::nullopt;
        end = found;
    }
    return string.mid(start, end - start);
}

QString helpManagerAnchorSortStringByIgnoringCharactersFromSet(const QString& string, const std::function<bool(QChar)>& set)
{
    bool any = false;
    for (QChar c : string) {
        if (set(c)) {
            any = true;
            break;
        }
    }
    if (!any)
        return string;
    QStringList pieces;
    QString piece;
    const auto flush = [&] {
        const QString trimmed = piece.trimmed();
        if (!trimmed.isEmpty())
            pieces.append(trimmed);
        piece.clear();
    };
    for (QChar c : string) {
        if (set(c))
            flush();
        else
            piece.append(c);
    }
    flush();
    return pieces.join(QLatin1Char(' '));
}

QString helpManagerDescriptionOrValue(const platform::Value& value)
{
    if (value.isNull())
        return QCoreApplication::translate("PMHelpManager", "(No Value)");
    if (value.isBool())
        return value.boolean() ? QCoreApplication::translate("PMHelpManager", "Yes") : QCoreApplication::translate("PMHelpManager", "No");
    if (value.isString())
        return value.string();
    return value.description();
}

QString helpManagerInsensitiveSearchKey(const QString& string)
{
    bool plain = true;
    for (QChar c : string) {
        if (c.unicode() >= 0x80) {
            plain = false;
            break;
        }
    }
    if (plain)
        return string.toLower();
    // Compatibility decomposition takes accents off their letters and full-width forms
    // to their narrow ones; the marks themselves are then dropped.
    const QString decomposed = string.normalized(QString::NormalizationForm_KD);
    QString key;
    key.reserve(decomposed.size());
    for (QChar c : decomposed) {
        const QChar::Category category = c.category();
        if (category == QChar::Mark_NonSpacing || category == QChar::Mark_Enclosing || category == QChar::Mark_SpacingCombining)
            continue;
        key.append(c);
    }
    return key.toCaseFolded();
}
