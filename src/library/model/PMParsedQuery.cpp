#include "library/model/PMParsedQuery.h"

#include "foundation/NSString+PMHelpManager.h"
#include "library/model/PMMainController.h"

#include <QtCore/QStringDecoder>

namespace {

const QString kMultipleSelectionPrefix = QStringLiteral("&=");
const QString kFilterPrefix = QStringLiteral("==");
const QString kDuplicatePrefix = QStringLiteral("?=");

int hexDigit(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    return -1;
}

// Standard URL percent-decoding, strict: a "%" not followed by two hexadecimal digits, or
// escapes that do not spell UTF-8, make it fail. "+" stays a plus sign.
bool getPercentDecoded(const QString& text, QString* decoded)
{
    QByteArray bytes;
    bytes.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c != u'%') {
            if (c.isSurrogate()) {
                if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
                    bytes += QStringView(text).mid(i, 2).toUtf8();
                    ++i;
                    continue;
                }
                return false;
            }
            bytes += QString(c).toUtf8();
            continue;
        }
        if (i + 2 >= text.size())
            return false;
        const int high = hexDigit(text.at(i + 1));
        const int low = hexDigit(text.at(i + 2));
        if (high < 0 || low < 0)
            return false;
        bytes += char(high * 16 + low);
        i += 2;
    }
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString result = decoder.decode(bytes);
    if (decoder.hasError())
        return false;
    *decoded = result;
    return true;
}

} // namespace

PMParsedQueryAlternative PMParsedQueryAlternative::queryAlternativeWithString(const QString& string)
{
    PMParsedQueryAlternative alternative;
    alternative.string = string;
    if (string.size() < 2)
        return alternative; // "-" alone looks for a hyphen
    if (string.startsWith(u'-')) {
        alternative.negate = true;
        alternative.string = string.mid(1);
    }
    const QString& s = alternative.string;
    if (s.size() >= 3 && s.startsWith(u'"') && s.endsWith(u'"'))
        alternative.string = s.mid(1, s.size() - 2);
    return alternative;
}

long long PMParsedQuery::criterionForDuplicateQueryComponent(const QString& key)
{
    if (key == QLatin1String("name"))
        return DuplicateName;
    if (key == QLatin1String("location"))
        return DuplicateLocation;
    if (key.startsWith(QLatin1String("dhash")) || key == QLatin1String("hash") || key == QLatin1String("raster")
        || key == QLatin1String("signature"))
        return DuplicateImageHash;
    if (key == QLatin1String("size") || key == QLatin1String("filesize"))
        return DuplicateFileSize;
    if (key == QLatin1String("time") || key == QLatin1String("duration"))
        return DuplicateDuration;
    if (!key.isEmpty() && mainController().isRelevantTag(key))
        return DuplicateTag;
    return DuplicateUnknown;
}

long long PMParsedQuery::imageHashResolutionForDuplicateQueryComponent(const QString& key)
{
    if (key.startsWith(QLatin1String("dhash"))) {
        bool ok = false;
        const long long n = key.mid(5).toLongLong(&ok);
        if (ok && n >= 1)
            return n;
    }
    return 7;
}

PMParsedQueryPtr PMParsedQuery::parsedQuery(const QString& query)
{
    if (query.isEmpty())
        return nullptr;
    auto parsed = std::make_shared<PMParsedQuery>();
    bool hasImageHashKey = false;
    for (const QString& token : componentsSeparatedByWhitespaceAndNewlines(query)) {
        if (token.isEmpty())
            continue;
        if (token.startsWith(kMultipleSelectionPrefix)) {
            QString identifier;
            if (token.size() < 3 || !getPercentDecoded(token.mid(2), &identifier) || identifier.isEmpty())
                return nullptr;
            parsed->multipleSelectionIdentifierComponents << identifier;
        } else if (token.startsWith(kFilterPrefix)) {
            if (token.size() < 3)
                return nullptr;
            const QStringList pieces = token.mid(2).split(u'|', Qt::SkipEmptyParts);
            if (pieces.isEmpty())
                return nullptr;
            parsed->filterIdentifierComponents << pieces;
        } else if (token.startsWith(kDuplicatePrefix)) {
            if (token.size() < 3)
                return nullptr;
            const QString key = token.mid(2).toLower();
            const long long criterion = criterionForDuplicateQueryComponent(key);
            if (criterion == DuplicateUnknown)
                return nullptr;
            if (criterion == DuplicateImageHash) {
                if (hasImageHashKey)
                    return nullptr; // one resolution per search
                hasImageHashKey = true;
            }
            parsed->duplicateComponents << key;
        } else {
            QList<PMParsedQueryAlternative> alternatives;
            for (const QString& piece : token.split(QStringLiteral("||"), Qt::SkipEmptyParts))
                alternatives << PMParsedQueryAlternative::queryAlternativeWithString(piece);
            if (!alternatives.isEmpty())
                parsed->regularComponentAlternativeCollections << alternatives;
        }
    }
    if (parsed->multipleSelectionIdentifierComponents.isEmpty() && parsed->filterIdentifierComponents.isEmpty()
        && parsed->duplicateComponents.isEmpty() && parsed->regularComponentAlternativeCollections.isEmpty())
        return nullptr;
    return parsed;
}
