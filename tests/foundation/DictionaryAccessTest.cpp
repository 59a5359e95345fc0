#include "foundation/NSDictionary+PMExtensions.h"
#include "foundation/NSObject+PMExtensions.h"
#include "platform/SystemLog.h"
#include "platform/UserDefaults.h"

#include "common/TestSupport.h"

#include <gtest/gtest.h>

#include <mutex>

using namespace platform;

TEST(DictionaryAccess, GettersNeverFail)
{
    DictionaryPtr d = Dictionary::make({{"text", "12abc"},
                                        {"array", Array::make({1})},
                                        {"yes", "YES"},
                                        {"no", "no"},
                                        {"real", 2.5},
                                        {"flag", true},
                                        {"date", Date{10}}});
    struct Case {
        const char* key;
        double asDouble;
        long long asInteger;
        bool asBool;
    };
    const Case cases[] = {
        {"text", 12, 12, true},  {"array", 0, 0, false}, {"missing", 0, 0, false}, {"yes", 0, 0, true},
        {"no", 0, 0, false},     {"real", 2.5, 2, true}, {"flag", 1, 1, true},     {"date", 0, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key);
        EXPECT_DOUBLE_EQ(doubleValueOfObjectForKey(d, QString::fromLatin1(c.key)), c.asDouble);
        EXPECT_EQ(longLongValueOfObjectForKey(d, QString::fromLatin1(c.key)), c.asInteger);
        EXPECT_EQ(integerValueOfObjectForKey(d, QString::fromLatin1(c.key)), c.asInteger);
        EXPECT_EQ(boolValueOfObjectForKey(d, QString::fromLatin1(c.key)), c.asBool);
    }
    const DictionaryPtr none;
    EXPECT_EQ(integerValueOfObjectForKey(none, QStringLiteral("x")), 0);
    EXPECT_FALSE(boolValueOfObjectForKey(none, QStringLiteral("x")));
}

TEST(DictionaryAccess, SettersRemoveOrKeepButNeverStoreNothing)
{
    Dictionary d;
    d.setValue(QStringLiteral("a"), 1);
    d.setValue(QStringLiteral("b"), 2);
    setOrRemoveObject(d, Value(), QStringLiteral("a"));
    tryToSetObject(d, Value(), QStringLiteral("b"));
    tryToSetObject(d, Value(3), QString());
    EXPECT_FALSE(d.contains(QStringLiteral("a")));
    EXPECT_EQ(d.value(QStringLiteral("b")), Value(2));
    EXPECT_EQ(d.count(), 1);

    setDate(d, std::nullopt, QStringLiteral("Added Timestamp"));
    EXPECT_EQ(d.value(QStringLiteral("Added Timestamp")), Value(0.0));
    EXPECT_EQ(dateForKey(d, QStringLiteral("Added Timestamp")), Date{0});
    setDate(d, Date{1234.5}, QStringLiteral("Added Timestamp"));
    EXPECT_EQ(dateForKey(d, QStringLiteral("Added Timestamp")), Date{1234.5});
    d.setValue(QStringLiteral("Text Date"), "99");
    EXPECT_EQ(dateForKey(d, QStringLiteral("Text Date")), Date{99});
    d.setValue(QStringLiteral("Object Date"), Date{5});
    EXPECT_EQ(dateForKey(d, QStringLiteral("Object Date")), std::nullopt);
}

TEST(DictionaryAccess, AnUnreadableLegacyDateIsLoggedOnceAndRemoved)
{
    testsupport::LogCapture log;
    Dictionary record;
    record.setValue(QStringLiteral("Last Playback"), QByteArray("\x01\x02garbage", 9));
    EXPECT_EQ(dateForKey(record, QStringLiteral("Last Playback Timestamp"), QStringLiteral("Last Playback")), std::nullopt);
    EXPECT_FALSE(record.contains(QStringLiteral("Last Playback")));
    EXPECT_FALSE(record.contains(QStringLiteral("Last Playback Timestamp")));
    EXPECT_EQ(dateForKey(record, QStringLiteral("Last Playback Timestamp"), QStringLiteral("Last Playback")), std::nullopt);
    const QStringList lines = log.lines();
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(lines[0].startsWith(QStringLiteral("ignoring legacy date unarchiving exception: NSArchiverArchiveInconsistency (reason: ")))
        << lines[0].toStdString();
    EXPECT_TRUE(lines[0].contains(QStringLiteral(") <= ("))) << lines[0].toStdString();
}

TEST(DictionaryAccess, PrecomposedKeysFindDecomposedPaths)
{
    const QString composed = QStringLiteral("/Movies/Caf\u00e9.mov");
    const QString decomposed = QStringLiteral("/Movies/Cafe\u0301.mov");
    Dictionary d;
    setObjectForKeyPrecomposedWithCanonicalMapping(d, Value(1), decomposed);
    EXPECT_TRUE(d.contains(composed));
    EXPECT_EQ(objectForKeyPrecomposedWithCanonicalMapping(&d, decomposed), Value(1));
    EXPECT_EQ(objectForKeyPrecomposedWithCanonicalMapping(&d, QString()), Value());
    setObjectForKeyPrecomposedWithCanonicalMapping(d, Value(), composed);
    EXPECT_EQ(d.value(composed), Value(1));
    removeObjectForKeyPrecomposedWithCanonicalMapping(d, decomposed);
    EXPECT_TRUE(d.isEmpty());
}

TEST(DictionaryAccess, DeepCopiesShareNothingAndRefuseForeignObjects)
{
    DictionaryPtr inner = Dictionary::make({{"x", 1}});
    DictionaryPtr source = Dictionary::make({{"inner", inner}, {"list", Array::make({inner, "s"})}});
    DictionaryPtr copy = deeplyMutableCopy(source);
    ASSERT_TRUE(copy);
    EXPECT_EQ(Value(copy), Value(source));
    copy->value(QStringLiteral("inner")).dictionary()->setValue(QStringLiteral("x"), 2);
    copy->value(QStringLiteral("list")).array()->append(3);
    EXPECT_EQ(inner->value(QStringLiteral("x")), Value(1));
    EXPECT_EQ(source->value(QStringLiteral("list")).array()->count(), 2);

    struct Foreign : Object {};
    source->setValue(QStringLiteral("foreign"), std::make_shared<Foreign>());
    EXPECT_EQ(deeplyMutableCopy(source), nullptr);
    EXPECT_EQ(deeplyMutableCopy(Array::make({Value(std::make_shared<Foreign>())})), nullptr);
}

TEST(DictionaryAccess, UserDefaultsSettersShowTheRegisteredValueAgain)
{
    UserDefaults defaults(QString{});
    defaults.registerDefaults(Dictionary::make({{"Preview Layout", 2}}));
    tryToSetObject(defaults, Value(5), QStringLiteral("Preview Layout"));
    EXPECT_EQ(defaults.integerForKey(QStringLiteral("Preview Layout")), 5);
    tryToSetObject(defaults, Value(), QStringLiteral("Preview Layout"));
    EXPECT_EQ(defaults.integerForKey(QStringLiteral("Preview Layout")), 5);
    setOrRemoveObject(defaults, Value(), QStringLiteral("Preview Layout"));
    EXPECT_EQ(defaults.integerForKey(QStringLiteral("Preview Layout")), 2);
}

TEST(DictionaryAccess, AttachedValuesLiveWithTheirObject)
{
    struct Item : Object {};
    auto item = std::make_shared<Item>();
    ArrayPtr ids = Array::make({"A", "B"});
    std::weak_ptr<Array> weakIds = ids;
    setAssociatedIdentifiers(*item, ids);
    ids.reset();
    EXPECT_EQ(associatedIdentifiers(*item)->count(), 2);
    EXPECT_EQ(associatedMovieRepresentations(*item), nullptr);
    item.reset();
    EXPECT_TRUE(weakIds.expired());

    QObject menuItem;
    setAssociatedMovieRepresentations(&menuItem, Array::make({1}));
    EXPECT_EQ(associatedMovieRepresentations(&menuItem)->count(), 1);
    setAssociatedMovieRepresentations(&menuItem, nullptr);
    EXPECT_EQ(associatedMovieRepresentations(&menuItem), nullptr);
}
