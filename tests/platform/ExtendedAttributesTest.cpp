#include "platform/ExtendedAttributes.h"

#include <gtest/gtest.h>

#include "common/TestSupport.h"

#include <QtCore/QFile>

using namespace platform;
using namespace testsupport;

namespace {

// A file in the test home, or a skip when its file system keeps no user attributes.
QString attributeFile(const char* name)
{
    const QString path = makeTempDir(QStringLiteral("xattr")) + u'/' + QString::fromUtf8(name);
    writeFile(path, "movie");
    return path;
}

#define SKIP_WITHOUT_XATTRS(path)                                                                  \
    if (!extendedAttributesSupported(path))                                                        \
        GTEST_SKIP() << "the test file system keeps no user extended attributes";

} // namespace

TEST(ExtendedAttributes, NamedAttributesRoundTrip)
{
    const QString path = attributeFile("Clip.mov");
    SKIP_WITHOUT_XATTRS(path);

    EXPECT_TRUE(setFileComment(path, QStringLiteral("Saw it \"twice\" – ½ good")));
    EXPECT_EQ(fileComment(path), QStringLiteral("Saw it \"twice\" – ½ good"));

    EXPECT_TRUE(setFileTags(path, {QStringLiteral(" Holiday "), QString(), QStringLiteral("Family")}));
    EXPECT_EQ(fileTags(path), (QStringList{QStringLiteral("Holiday"), QStringLiteral("Family")}));
    QByteArray raw;
    ASSERT_TRUE(getExtendedAttribute(path, kTagsAttribute, &raw));
    EXPECT_EQ(raw, "Holiday,Family");

    EXPECT_TRUE(setFileOriginURL(path, QStringLiteral("https://example.org/a b.mov")));
    EXPECT_EQ(fileOriginURL(path), QStringLiteral("https://example.org/a b.mov"));
    EXPECT_TRUE(extendedAttributeNames(path).contains(QByteArray(kOriginURLAttribute)));

    // Empty values remove the attributes.
    EXPECT_TRUE(setFileComment(path, QString()));
    EXPECT_TRUE(setFileTags(path, {}));
    EXPECT_EQ(fileComment(path), QString());
    EXPECT_TRUE(fileTags(path).isEmpty());
    EXPECT_FALSE(extendedAttributeNames(path).contains(QByteArray(kCommentAttribute)));
}

TEST(ExtendedAttributes, RawDataAndForeignWriters)
{
    const QString path = attributeFile("Raw.mov");
    SKIP_WITHOUT_XATTRS(path);

    const QByteArray binary("\x00\x01\xff\x00zz", 6);
    ASSERT_TRUE(setExtendedAttribute(path, "user.pellis.raw", binary));
    QByteArray back;
    ASSERT_TRUE(getExtendedAttribute(path, "user.pellis.raw", &back));
    EXPECT_EQ(back, binary);

    // Another writer's trailing NUL and separators with blanks are tolerated.
    ASSERT_TRUE(setExtendedAttribute(path, kCommentAttribute, QByteArray("note\0", 5)));
    EXPECT_EQ(fileComment(path), QStringLiteral("note"));
    ASSERT_TRUE(setExtendedAttribute(path, kTagsAttribute, "a, b ,,c"));
    EXPECT_EQ(fileTags(path), (QStringList{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")}));
    // Invalid UTF-8 decodes leniently instead of failing.
    ASSERT_TRUE(setExtendedAttribute(path, kCommentAttribute, "ok\xff"));
    EXPECT_TRUE(fileComment(path).startsWith(QStringLiteral("ok")));
}

TEST(ExtendedAttributes, AbsentAndRefusedAnswerNothing)
{
    const QString path = attributeFile("None.mov");
    QString error = QStringLiteral("stale");
    QByteArray data = "stale";
    // Absent attribute, missing file, empty name: nothing, and no error text for the ordinary case.
    EXPECT_FALSE(getExtendedAttribute(path, "user.pellis.none", &data, &error));
    EXPECT_TRUE(data.isEmpty());
    EXPECT_TRUE(error.isEmpty());
    EXPECT_FALSE(getExtendedAttribute(path + QStringLiteral(".gone"), kCommentAttribute, &data, &error));
    EXPECT_TRUE(error.isEmpty());
    EXPECT_EQ(fileComment(path + QStringLiteral(".gone")), QString());
    EXPECT_FALSE(getExtendedAttribute(path, QByteArray(), &data));
    EXPECT_FALSE(setExtendedAttribute(QString(), kCommentAttribute, "x"));
    EXPECT_FALSE(setFileComment(path + QStringLiteral(".gone"), QStringLiteral("x"), &error));
    EXPECT_FALSE(error.isEmpty());

    SKIP_WITHOUT_XATTRS(path);
    // Over the kernel's limit, and a tag that the comma-separated form cannot hold.
    EXPECT_FALSE(setExtendedAttribute(path, "user.pellis.big", QByteArray(kMaximumAttributeSize + 1, 'x'), &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(setFileTags(path, {QStringLiteral("a,b")}, &error));
    EXPECT_TRUE(fileTags(path).isEmpty());
}

TEST(ExtendedAttributes, SymbolicLinkIsNotFollowed)
{
    const QString target = attributeFile("Target.mov");
    SKIP_WITHOUT_XATTRS(target);
    const QString link = target + QStringLiteral(".link");
    ASSERT_TRUE(QFile::link(target, link));
    ASSERT_TRUE(setFileComment(target, QStringLiteral("on the target")));
    // Read through the link: the link itself has no comment.
    EXPECT_EQ(fileComment(link), QString());
    // Linux keeps no user attributes on symbolic links: the write is refused, the target untouched.
    EXPECT_FALSE(setFileComment(link, QStringLiteral("on the link")));
    EXPECT_EQ(fileComment(target), QStringLiteral("on the target"));
}
