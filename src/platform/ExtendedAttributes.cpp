#include "platform/ExtendedAttributes.h"

#include "platform/Paths.h"

#include <QtCore/QFile>

#include <cerrno>
#include <cstring>
#include <sys/xattr.h>

namespace platform {

namespace {

bool isUnsupported(int err)
{
    return err == ENOTSUP || err == EOPNOTSUPP;
}

void setError(QString* error, const QString& text)
{
    if (error)
        *error = text;
}

QString errnoText(int err)
{
    return QString::fromLocal8Bit(std::strerror(err));
}

} // namespace

bool getExtendedAttribute(const QString& path, const QByteArray& name, QByteArray* getData, QString* error)
{
    if (getData)
        getData->clear();
    setError(error, {});
    if (path.isEmpty() || name.isEmpty())
        return false;
    const QByteArray file = platform::encodeFileName(path);
    // The value may change between asking for its size and reading it: try a few times.
    for (int attempt = 0; attempt < 4; ++attempt) {
        const ssize_t size = lgetxattr(file.constData(), name.constData(), nullptr, 0);
        if (size < 0) {
            const int err = errno;
            if (err != ENODATA && err != ENOENT && err != ENOTDIR && !isUnsupported(err))
                setError(error, errnoText(err));
            return false;
        }
        if (size == 0)
            return false;
        if (size > kMaximumAttributeSize) {
            setError(error, QStringLiteral("attribute larger than %1 bytes").arg(kMaximumAttributeSize));
            return false;
        }
        QByteArray buffer(qsizetype(size), Qt::Uninitialized);
        const ssize_t got = lgetxattr(file.constData(), name.constData(), buffer.data(), size_t(buffer.size()));
        if (got < 0) {
            if (errno == ERANGE)
                continue;
            const int err = errno;
            if (err != ENODATA && !isUnsupported(err))
                setError(error, errnoText(err));
            return false;
        }
        if (got == 0)
            return false;
        buffer.truncate(qsizetype(got));
        if (getData)
            *getData = std::move(buffer);
        return true;
    }
    setError(error, QStringLiteral("attribute keeps changing"));
    return false;
}

bool setExtendedAttribute(const QString& path, const QByteArray& name, const QByteArray& data, QString* error)
{
    setError(error, {});
    if (path.isEmpty() || name.isEmpty()) {
        setError(error, QStringLiteral("no path or attribute name"));
        return false;
    }
    if (data.size() > kMaximumAttributeSize) {
        setError(error, QStringLiteral("attribute larger than %1 bytes").arg(kMaximumAttributeSize));
        return false;
    }
    const QByteArray file = platform::encodeFileName(path);
    if (lsetxattr(file.constData(), name.constData(), data.constData(), size_t(data.size()), 0) != 0) {
        setError(error, errnoText(errno));
        return false;
    }
    return true;
}

bool removeExtendedAttribute(const QString& path, const QByteArray& name, QString* error)
{
    setError(error, {});
    if (path.isEmpty() || name.isEmpty())
        return false;
    const QByteArray file = platform::encodeFileName(path);
    if (lremovexattr(file.constData(), name.constData()) != 0) {
        const int err = errno;
        if (err == ENODATA)
            return true;
        setError(error, errnoText(err));
        return false;
    }
    return true;
}

QList<QByteArray> extendedAttributeNames(const QString& path)
{
    QList<QByteArray> names;
    if (path.isEmpty())
        return names;
    const QByteArray file = platform::encodeFileName(path);
    for (int attempt = 0; attempt < 4; ++attempt) {
        const ssize_t size = llistxattr(file.constData(), nullptr, 0);
        if (size <= 0)
            return names;
        QByteArray buffer(qsizetype(size), Qt::Uninitialized);
        const ssize_t got = llistxattr(file.constData(), buffer.data(), size_t(buffer.size()));
        if (got < 0) {
            if (errno == ERANGE)
                continue;
            return names;
        }
        buffer.truncate(qsizetype(got));
        for (const QByteArray& n : buffer.split('\0'))
            if (!n.isEmpty())
                names.append(n);
        return names;
    }
    return names;
}

bool extendedAttributesSupported(const QString& path)
{
    static const QByteArray probe = QByteArrayLiteral("user.pellis.probe");
    if (!setExtendedAttribute(path, probe, QByteArrayLiteral("1")))
        return false;
    removeExtendedAttribute(path, probe);
    return true;
}

QString fileComment(const QString& path)
{
    QByteArray data;
    if (!getExtendedAttribute(path, kCommentAttribute, &data))
        return {};
    while (data.endsWith('\0'))
        data.chop(1);
    return QString::fromUtf8(data);
}

bool setFileComment(const QString& path, const QString& comment, QString* error)
{
    if (comment.isEmpty())
        return removeExtendedAttribute(path, kCommentAttribute, error);
    return setExtendedAttribute(path, kCommentAttribute, comment.toUtf8(), error);
}

QStringList fileTags(const QString& path)
{
    QByteArray data;
    if (!getExtendedAttribute(path, kTagsAttribute, &data))
        return {};
    while (data.endsWith('\0'))
        data.chop(1);
    QStringList tags;
    for (const QString& part : QString::fromUtf8(data).split(u',')) {
        const QString tag = part.trimmed();
        if (!tag.isEmpty())
            tags.append(tag);
    }
    return tags;
}

bool setFileTags(const QString& path, const QStringList& tags, QString* error)
{
    QStringList clean;
    for (const QString& tag : tags) {
        if (tag.contains(u',')) {
            setError(error, QStringLiteral("a tag cannot hold a comma: %1").arg(tag));
            return false;
        }
        const QString t = tag.trimmed();
        if (!t.isEmpty())
            clean.append(t);
    }
    if (clean.isEmpty())
        return removeExtendedAttribute(path, kTagsAttribute, error);
    return setExtendedAttribute(path, kTagsAttribute, clean.join(u',').toUtf8(), error);
}

QString fileOriginURL(const QString& path)
{
    QByteArray data;
    if (!getExtendedAttribute(path, kOriginURLAttribute, &data))
        return {};
    while (data.endsWith('\0'))
        data.chop(1);
    return QString::fromUtf8(data).trimmed();
}

bool setFileOriginURL(const QString& path, const QString& url, QString* error)
{
    if (url.isEmpty())
        return removeExtendedAttribute(path, kOriginURLAttribute, error);
    return setExtendedAttribute(path, kOriginURLAttribute, url.toUtf8(), error);
}

} // namespace platform
