// File icons: the icon theme's icon by file type (and the generic document without a
// theme), a picture's own image, an application entry's icon, kept per path and extension.
#include "common/TestSupport.h"
#include "foundation/NSString+PMHelpManagerIcons.h"

#include <gtest/gtest.h>

#include <QtCore/QDir>
#include <QtGui/QIcon>
#include <QtGui/QImage>

namespace {

// A theme named "fixture" with 16-point icons of one colour each.
QString makeFixtureTheme(const QList<QPair<QString, QColor>>& icons)
{
    const QString base = testsupport::makeTempDir(QStringLiteral("icons"));
    const QString theme = base + QStringLiteral("/fixture");
    testsupport::writeFile(theme + QStringLiteral("/index.theme"),
                           "[Icon Theme]\nName=fixture\nDirectories=16x16/mimetypes\n\n[16x16/mimetypes]\nSize=16\nType=Fixed\n");
    for (const auto& [name, colour] : icons) {
        QImage image(16, 16, QImage::Format_ARGB32);
        image.fill(colour);
        QDir().mkpath(theme + QStringLiteral("/16x16/mimetypes"));
        EXPECT_TRUE(image.save(theme + QStringLiteral("/16x16/mimetypes/") + name + QStringLiteral(".png")));
    }
    return base;
}

QColor centre(const platform::ImagePtr& image)
{
    const QImage& pixels = image->pixels();
    return pixels.pixelColor(pixels.width() / 2, pixels.height() / 2);
}

class FileIcons : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_paths = QIcon::themeSearchPaths();
        m_theme = QIcon::themeName();
        PMResetCachedIcons();
    }
    void TearDown() override
    {
        QIcon::setThemeSearchPaths(m_paths);
        QIcon::setThemeName(m_theme);
        PMResetCachedIcons();
    }
    QStringList m_paths;
    QString m_theme;
};

} // namespace

TEST_F(FileIcons, ExtensionsGetTheThemesIconOfTheirType)
{
    QIcon::setThemeSearchPaths({makeFixtureTheme({{QStringLiteral("video-x-generic"), Qt::red},
                                                  {QStringLiteral("image-png"), Qt::green},
                                                  {QStringLiteral("text-x-generic"), Qt::blue}})});
    QIcon::setThemeName(QStringLiteral("fixture"));
    struct Case {
        QString extension;
        QColor expected;
    };
    // mp4 and MKV have no icon of their own here: their type's generic one; png its own;
    // a text file and a name without (or with an unknown) extension the generic document.
    for (const Case& c : {Case{QStringLiteral("mp4"), Qt::red}, Case{QStringLiteral("MKV"), Qt::red}, Case{QStringLiteral("png"), Qt::green},
                          Case{QStringLiteral("txt"), Qt::blue}, Case{QString(), Qt::blue}, Case{QStringLiteral("zzqq"), Qt::blue}}) {
        const platform::ImagePtr icon = cachedIconFromExtension(c.extension);
        ASSERT_TRUE(icon) << c.extension.toStdString();
        EXPECT_EQ(icon->size(), QSizeF(16, 16));
        EXPECT_EQ(centre(icon), c.expected) << c.extension.toStdString();
    }
    // Kept per extension, ignoring case.
    EXPECT_EQ(cachedIconFromExtension(QStringLiteral("mkv")), cachedIconFromExtension(QStringLiteral("MKV")));
}

TEST_F(FileIcons, WithoutAThemeTheGenericDocumentIsDrawn)
{
    QIcon::setThemeSearchPaths({testsupport::makeTempDir(QStringLiteral("empty"))});
    QIcon::setThemeName(QStringLiteral("nothing-here"));
    const platform::ImagePtr icon = cachedIconFromExtension(QStringLiteral("mp4"));
    ASSERT_TRUE(icon);
    EXPECT_EQ(icon->size(), QSizeF(16, 16));
    // A light sheet in the middle, nothing at the corners.
    EXPECT_GT(centre(icon).lightness(), 200);
    EXPECT_EQ(centre(icon).alpha(), 255);
    EXPECT_EQ(icon->pixels().pixelColor(0, 0).alpha(), 0);
}

TEST_F(FileIcons, PathsPicturesAndApplications)
{
    QIcon::setThemeSearchPaths({makeFixtureTheme({{QStringLiteral("video-x-generic"), Qt::red}})});
    QIcon::setThemeName(QStringLiteral("fixture"));
    const QString dir = testsupport::makeTempDir(QStringLiteral("files"));

    EXPECT_FALSE(iconFromPath(dir + QStringLiteral("/missing.mp4")));
    EXPECT_FALSE(cachedIconFromPath(dir + QStringLiteral("/missing.mp4")));

    // A movie file: its type's icon.
    testsupport::writeFile(dir + QStringLiteral("/movie.mp4"), QByteArray(64, '\0'));
    EXPECT_EQ(centre(iconFromPath(dir + QStringLiteral("/movie.mp4"))), QColor(Qt::red));

    // A picture shows itself, fitted proportionally and centred into exactly the size.
    QImage wide(40, 20, QImage::Format_RGB32);
    wide.fill(Qt::magenta);
    ASSERT_TRUE(wide.save(dir + QStringLiteral("/wide.png")));
    const platform::ImagePtr picture = iconFromPathWithSize(dir + QStringLiteral("/wide.png"), QSizeF(32, 32));
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->size(), QSizeF(32, 32));
    EXPECT_EQ(centre(picture), QColor(Qt::magenta));
    EXPECT_EQ(picture->pixels().pixelColor(picture->pixels().width() / 2, 1).alpha(), 0);

    // An application's entry shows the icon it names.
    QImage logo(16, 16, QImage::Format_RGB32);
    logo.fill(Qt::yellow);
    ASSERT_TRUE(logo.save(dir + QStringLiteral("/logo.png")));
    testsupport::writeFile(dir + QStringLiteral("/player.desktop"),
                           ("[Desktop Entry]\nType=Application\nName=Player\nExec=true %f\nIcon=" + dir + "/logo.png\n").toUtf8());
    const platform::ImagePtr application = cachedIconFromPath(dir + QStringLiteral("/player.desktop"));
    ASSERT_TRUE(application);
    EXPECT_EQ(centre(application), QColor(Qt::yellow));
    EXPECT_EQ(cachedIconFromPath(dir + QStringLiteral("/player.desktop")), application);

    EXPECT_TRUE(fileTypeFromPath(dir + QStringLiteral("/movie.mp4")).isEmpty());
    EXPECT_TRUE(fileCreatorFromPath(dir + QStringLiteral("/movie.mp4")).isEmpty());
}
