#include "platform/Paths.h"

#include <QtCore/QDir>
#include <QtCore/QFileInfo>
#include <QtCore/QStandardPaths>

#include <algorithm>

namespace platform {

QString stringByAbbreviatingWithTildeInPath(const QString& path)
{
    const QString home = QDir::homePath();
    if (path.isEmpty() || home.isEmpty() || home == QLatin1String("/"))
        return path;
    if (path == home)
        return QStringLiteral("~");
    if (path.startsWith(home) && path.size() > home.size() && path.at(home.size()) == u'/')
        return u'~' + path.mid(home.size());
    return path;
}

QString stringByExpandingTildeInPath(const QString& path)
{
    if (path == QLatin1String("~"))
        return QDir::homePath();
    if (path.startsWith(QLatin1String("~/")))
        return QDir::homePath() + path.mid(1);
    return path;
}

bool isCleanAbsolutePath(QStringView path)
{
    const qsizetype n = path.size();
    if (n == 0 || path[0] != u'/')
        return false;
    if (n == 1)
        return true;
    if (path[n - 1] == u'/')
        return false;
    // Each component starts after a "/": it must not be empty, "." or "..". The last
    // character is no "/", so every "/" has a character after it. (One plain pass: every
    // path of a library comes here while it loads.)
    const char16_t* const end = path.utf16() + n;
    for (const char16_t* c = path.utf16(); c < end; ++c) {
        if (*c != u'/')
            continue;
        const char16_t a = c[1];
        if (a == u'/')
            return false;
        if (a == u'.') {
            const char16_t* b = c + 2;
            if (b == end || *b == u'/' || (*b == u'.' && (b + 1 == end || b[1] == u'/')))
                return false;
        }
    }
    return true;
}

namespace {

bool isEscapedByte(char16_t c)
{
    return c >= 0xDC80 && c <= 0xDCFF;
}

// The length of the valid UTF-8 sequence at `i`, or 0 when the byte there begins none.
int validSequenceAt(const unsigned char* b, qsizetype size, qsizetype i)
{
    const unsigned char lead = b[i];
    int n = 0;
    unsigned char lo = 0x80, hi = 0xBF; // the allowed range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        n = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        n = 3;
        if (lead == 0xE0)
            lo = 0xA0; // no overlong forms
        if (lead == 0xED)
            hi = 0x9F; // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        n = 4;
        if (lead == 0xF0)
            lo = 0x90;
        if (lead == 0xF4)
            hi = 0x8F; // nothing above U+10FFFF
    } else {
        return 0;
    }
    if (i + n > size || b[i + 1] < lo || b[i + 1] > hi)
        return 0;
    for (int k = 2; k < n; ++k)
        if (b[i + k] < 0x80 || b[i + k] > 0xBF)
            return 0;
    return n;
}

// Decodes the bytes, escaping invalid ones; with `surrogatesAsEscapes`, the three-byte form
// of U+DC80..U+DCFF (what a UTF-16 to UTF-8 conversion makes of an escaped byte) becomes
// that escape again.
QString decodeBytes(const QByteArray& bytes, bool surrogatesAsEscapes)
{
    const auto* b = reinterpret_cast<const unsigned char*>(bytes.constData());
    const qsizetype size = bytes.size();
    QString text;
    text.reserve(size);
    for (qsizetype i = 0; i < size;) {
        if (b[i] < 0x80) {
            text += QChar(char16_t(b[i]));
            ++i;
            continue;
        }
        if (surrogatesAsEscapes && b[i] == 0xED && i + 2 < size && (b[i + 1] == 0xB2 || b[i + 1] == 0xB3) && b[i + 2] >= 0x80 && b[i + 2] <= 0xBF) {
            text += QChar(char16_t(0xD000 | ((b[i + 1] & 0x3F) << 6) | (b[i + 2] & 0x3F)));
            i += 3;
            continue;
        }
        if (const int n = validSequenceAt(b, size, i)) {
            text += QString::fromUtf8(bytes.constData() + i, n);
            i += n;
            continue;
        }
        text += QChar(char16_t(0xDC00 + b[i]));
        ++i;
    }
    return text;
}

} // namespace

QString decodeFileName(const QByteArray& bytes)
{
    QString text = QString::fromUtf8(bytes);
    if (!text.contains(QChar::ReplacementCharacter))
        return text;
    return decodeBytes(bytes, false);
}

QByteArray encodeFileName(const QString& path)
{
    const auto escaped = [](QChar c) { return isEscapedByte(c.unicode()); };
    if (std::none_of(path.cbegin(), path.cend(), escaped))
        return path.toUtf8();
    QByteArray bytes;
    bytes.reserve(path.size() + 8);
    qsizetype start = 0;
    for (qsizetype i = 0; i < path.size(); ++i) {
        const char16_t c = path.at(i).unicode();
        // A low surrogate that follows a high one is half of a character, not an escape.
        if (!isEscapedByte(c) || (i > 0 && path.at(i - 1).isHighSurrogate()))
            continue;
        bytes += QStringView(path).mid(start, i - start).toUtf8();
        bytes += char(c - 0xDC00);
        start = i + 1;
    }
    bytes += QStringView(path).mid(start).toUtf8();
    return bytes;
}

QString pathFromFileURL(const QUrl& url)
{
    if (!url.isLocalFile())
        return {};
    const QString encoded = url.path(QUrl::FullyEncoded);
    if (!encoded.contains(u'%'))
        return url.toLocalFile();
    const QByteArray bytes = QByteArray::fromPercentEncoding(encoded.toLatin1());
    // Valid UTF-8 throughout: what Qt gives.
    if (!QString::fromUtf8(bytes).contains(QChar::ReplacementCharacter))
        return url.toLocalFile();
    return decodeBytes(bytes, true);
}

QString privateCacheFolder(const QString& name, bool create)
{
    // The user's own cache folder, not a shared temporary one: such files can be large
    // (so not the memory-backed runtime folder), and nobody else may read them.
    QString base = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
    if (base.isEmpty())
        base = QDir::homePath() + QStringLiteral("/.cache/Pellis");
    const QString path = base + u'/' + name;
    if (!create)
        return path;
    if (!QDir().mkpath(path))
        return {};
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    const QFileInfo info(path);
    if (!info.isDir() || !info.isWritable())
        return {};
    return path;
}

} // namespace platform
