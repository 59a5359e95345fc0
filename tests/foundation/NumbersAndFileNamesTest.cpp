#include "foundation/NSFileManager+PMHelpManager.h"
#include "foundation/NSString+PMHelpManagerFileNames.h"
#include "foundation/NSString+PMHelpManagerNumbers.h"
#include "platform/Locale.h"
#include "platform/UserDefaults.h"

#include <gtest/gtest.h>

#include "common/TestSupport.h"

#include <QtCore/QDir>

namespace {

QString q(const char* s) { return QString::fromUtf8(s); }

class Numbers : public testing::Test {
protected:
    void TearDown() override
    {
        for (const char* key : {"Numbers: Fraction Digits", "Numbers: Disable Grouping Separator", "Numbers: Leave Unlocalized"})
            platform::UserDefaults::standard().setObject(platform::Value(), q(key));
        use("en_US");
    }
    void use(const char* locale)
    {
        platform::setUserLocale(q(locale));
        resetSharedNumberFormatter();
    }
};

TEST_F(Numbers, SameValuesInEnglishAndGerman)
{
    struct Case { double value; int digits; bool trim; const char* english; const char* german; };
    const Case cases[] = {
        {2.5, 1, true, "2.5", "2,5"},
        {2.0, 1, true, "2", "2"},
        {2.0, 1, false, "2.0", "2,0"},
        {2.25, 1, true, "2.3", "2,3"},     // half up
        {-2.25, 1, true, "-2.3", "-2,3"},  // half away from zero
        {1234567.891, 2, false, "1,234,567.89", "1.234.567,89"},
        {0.05, -1, false, "0.050", "0,050"},   // automatic: 3 digits
        {5, -1, false, "5.00", "5,00"},        // 2 digits
        {12, -1, false, "12.0", "12,0"},       // 1 digit
        {0.0000001, -1, false, "0.00000010", "0,00000010"}, // 8 digits
        {-3, -1, false, "-3.00000000", "-3,00000000"},       // negative: 8 digits
    };
    for (const char* locale : {"en_US", "de_DE"}) {
        use(locale);
        const bool german = QString::fromLatin1(locale) == q("de_DE");
        for (const Case& c : cases)
            EXPECT_EQ(stringWithDouble(c.value, c.digits, c.trim), q(german ? c.german : c.english)) << locale << " " << c.value;
        EXPECT_EQ(stringWithInteger(1234), q(german ? "1.234" : "1,234"));
        EXPECT_EQ(stringWithUnsignedInteger(18446744073709551615ULL), q(german ? "18.446.744.073.709.551.615" : "18,446,744,073,709,551,615"));
    }
    EXPECT_EQ(stringWithNumber(platform::Value(), 2, true), QString());
    EXPECT_EQ(stringWithNumber(platform::Value(q("12")), 2, true), QString());
    EXPECT_EQ(stringWithNumber(platform::Value(7), 3, 0, true), q("007"));
}

TEST_F(Numbers, SettingsOfTheSharedFormatter)
{
    use("en_US");
    platform::UserDefaults::standard().setObject(platform::Value(0), q("Numbers: Fraction Digits"));
    EXPECT_EQ(stringWithDouble(2.5, -1, false), q("3"));
    EXPECT_EQ(stringWithDouble(1234, -1, false), q("1,234"));
    EXPECT_EQ(stringWithDouble(2.5, 1, false), q("2.5")); // explicit digits win
    platform::UserDefaults::standard().setObject(platform::Value(-1), q("Numbers: Fraction Digits"));
    EXPECT_EQ(stringWithDouble(2.5, -1, false), q("2.50"));

    platform::UserDefaults::standard().setObject(platform::Value(true), q("Numbers: Disable Grouping Separator"));
    use("de_DE");
    EXPECT_EQ(stringWithDouble(1234.5, 1, false), q("1234,5"));
    platform::UserDefaults::standard().setObject(platform::Value(), q("Numbers: Disable Grouping Separator"));
    platform::UserDefaults::standard().setObject(platform::Value(true), q("Numbers: Leave Unlocalized"));
    resetSharedNumberFormatter();
    EXPECT_EQ(stringWithDouble(1234.5, 1, false), q("1,234.5"));
}

TEST_F(Numbers, FileSizes)
{
    struct Case { unsigned long long bytes; unsigned long long overall; const char* english; const char* german; };
    const Case cases[] = {
        {0, 0, "-", "-"},
        {999, 0, "999 Bytes", "999 Bytes"},
        {1000, 0, "1 KB", "1 KB"},
        {1536000, 0, "1.5 MB", "1,5 MB"},
        {2345678901ULL, 0, "2.35 GB", "2,35 GB"},
        {2000000000ULL, 0, "2 GB", "2 GB"},
        {1234567890123ULL, 0, "1.235 TB", "1,235 TB"},
        {1200000, 3400000, "1.2", "1,2"},
        {1200000, 3400000000ULL, "1.2 MB", "1,2 MB"},
        {18446744073709551615ULL, 0, "18.44674 EB", "18,44674 EB"},
    };
    for (const char* locale : {"en_US", "de_DE"}) {
        use(locale);
        const bool german = QString::fromLatin1(locale) == q("de_DE");
        for (const Case& c : cases)
            EXPECT_EQ(partialFileSizeDescriptionWithBytesCount(c.bytes, c.overall), q(german ? c.german : c.english)) << c.bytes;
    }
    EXPECT_EQ(fileSizeDescriptionWithBytesCount(1000), q("1 KB"));
}

TEST(FileNames, CleanFilename)
{
    struct Case { QString in; QString out; };
    const Case cases[] = {
        {q("..Movie:\tPart/2*.."), q("Movie Part|2")},
        {q("  a \n\r b  "), q("a b")},
        {q("..."), q("")},
        {QString::fromUtf8("a\0b", 3), q("ab")},
        {q("Zoë: the movie.mov"), q("Zoë the movie.mov")},
    };
    for (const Case& c : cases)
        EXPECT_EQ(cleanFilename(c.in), c.out) << c.in.toStdString();

    // Linux limits a name to 255 bytes: long names are cut at a character boundary and
    // keep their extension.
    const QString longName = QString(200, QChar(0x00E9)) + q(".mov"); // 400 bytes of "é"
    const QString cut = cleanFilename(longName);
    EXPECT_LE(cut.toUtf8().size(), 255);
    EXPECT_TRUE(cut.endsWith(q(".mov")));
    EXPECT_EQ(cut, QString(125, QChar(0x00E9)) + q(".mov"));
    const QString emoji = QString(100, QChar(0x0061)) + QString::fromUtf8("😀").repeated(60);
    const QString cutEmoji = cleanFilename(emoji);
    EXPECT_LE(cutEmoji.toUtf8().size(), 255);
    EXPECT_FALSE(cutEmoji.back().isHighSurrogate());
}

TEST(FileNames, AvailablePathAndTotalSize)
{
    const QString dir = testsupport::makeTempDir(q("free"));
    testsupport::writeFile(dir + q("/Movie.mov"), "12345");
    testsupport::writeFile(dir + q("/Movie 1.mov"), "x");
    QDir(dir).mkpath(q("Extras/.hidden"));
    testsupport::writeFile(dir + q("/Extras/.hidden/a"), QByteArray(100, 'a'));
    testsupport::writeFile(dir + q("/Extras/b"), QByteArray(20, 'b'));

    bool match = true;
    EXPECT_EQ(availablePathWithCurrentPath(dir + q("/New.mov"), QString(), &match), dir + q("/New.mov"));
    EXPECT_FALSE(match);
    EXPECT_EQ(availablePath(dir + q("/Movie.mov")), dir + q("/Movie 2.mov"));
    EXPECT_EQ(availablePath(dir + q("/Extras")), dir + q("/Extras 1"));
    EXPECT_EQ(availablePathWithCurrentPath(dir + q("/Movie.mov"), dir + q("/Movie.mov"), &match), dir + q("/Movie.mov"));
    EXPECT_TRUE(match);
    EXPECT_EQ(availablePathWithCurrentPath(dir + q("/Movie.mov"), dir + q("/Movie 1.mov"), &match), dir + q("/Movie 1.mov"));
    EXPECT_TRUE(match);
    // Linux names are case-sensitive: another case is another file.
    EXPECT_EQ(availablePathWithCurrentPath(dir + q("/Movie.mov"), dir + q("/movie.mov"), &match), dir + q("/Movie 2.mov"));
    EXPECT_FALSE(match);

    // A name at the length limit (255 bytes): the numbered name shortens the name, at a
    // character boundary, never past the limit, and is a name the file system takes.
    const QString longName = QString(120, QChar(0x00E9)) + q("abcdefghijk.mov"); // 240 + 11 + 4 bytes
    ASSERT_EQ(longName.toUtf8().size(), 255);
    testsupport::writeFile(dir + u'/' + longName, "taken");
    for (int i = 1; i <= 2; ++i) {
        const QString free = availablePath(dir + u'/' + longName);
        const QString name = free.mid(dir.size() + 1);
        EXPECT_LE(name.toUtf8().size(), 255) << name.toStdString();
        EXPECT_TRUE(name.endsWith(QStringLiteral(" %1.mov").arg(i))) << name.toStdString();
        EXPECT_TRUE(name.startsWith(QString(100, QChar(0x00E9))));
        EXPECT_TRUE(QString::fromUtf8(name.toUtf8()) == name) << "cut inside a character";
        QFile file(free);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << file.errorString().toStdString();
    }

    EXPECT_EQ(totalFileSizeAtPath(dir + q("/Movie.mov")), 5u);
    EXPECT_EQ(totalFileSizeAtPath(dir + q("/Extras")), 120u);
    EXPECT_EQ(totalFileSizeAtPath(dir + q("/missing")), std::nullopt);
    EXPECT_EQ(totalFileSizeAtPath(QString()), std::nullopt);
    QDir(dir).mkdir(q("Empty"));
    EXPECT_EQ(totalFileSizeAtPath(dir + q("/Empty")), 0u);
}

} // namespace
