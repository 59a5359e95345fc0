#include "platform/NotificationCenter.h"
#include "platform/PropertyList.h"
#include "platform/UserDefaults.h"

#include "common/TestSupport.h"

#include <QtCore/QDir>
#include <QtCore/QFileInfo>

#include <gtest/gtest.h>

#include <thread>

using namespace platform;

TEST(UserDefaults, PersistentValuesOverRegisteredOnesAndSurviveARestart)
{
    const QString path = testsupport::makeTempDir() + QStringLiteral("/Pellis/com.tolvane.Pellis.plist");
    {
        UserDefaults defaults(path);
        defaults.registerDefaults(Dictionary::make({{"Library Path", "~/Movies/Pellis Library"}, {"Resume: Timestamp Limit", 30}}));
        EXPECT_EQ(defaults.stringForKey(QStringLiteral("Library Path")), QStringLiteral("~/Movies/Pellis Library"));
        defaults.setObject(Value("/media/me/Disk/Movies"), QStringLiteral("Library Path"));
        defaults.setObject(Value(Dictionary::make({{"/a", "~/a"}})), QStringLiteral("Secondary Library Paths"));
        defaults.setBool(true, QStringLiteral("Continue: Mode"));
        EXPECT_EQ(defaults.synchronize(), QString());
    }
    // The file is a binary property list that any reader can read.
    EXPECT_TRUE(testsupport::readFile(path).startsWith("bplist00"));
    UserDefaults again(path);
    EXPECT_EQ(again.stringForKey(QStringLiteral("Library Path")), QStringLiteral("/media/me/Disk/Movies"));
    EXPECT_TRUE(again.boolForKey(QStringLiteral("Continue: Mode")));
    EXPECT_EQ(again.dictionaryForKey(QStringLiteral("Secondary Library Paths"))->value(QStringLiteral("/a")), Value("~/a"));
    // The registered domain is not stored.
    EXPECT_EQ(again.integerForKey(QStringLiteral("Resume: Timestamp Limit")), 0);
}

TEST(UserDefaults, ReturnedContainersAreCopies)
{
    UserDefaults defaults(QString{});
    defaults.setObject(Value(Array::make({1, 2})), QStringLiteral("List"));
    defaults.arrayForKey(QStringLiteral("List"))->append(3);
    EXPECT_EQ(defaults.arrayForKey(QStringLiteral("List"))->count(), 2);
}

TEST(UserDefaults, TypedGettersConvertLikeTheRestOfTheProgram)
{
    UserDefaults defaults(QString{});
    defaults.setObject(Value("YES"), QStringLiteral("a"));
    defaults.setObject(Value("true"), QStringLiteral("b"));
    defaults.setObject(Value("0"), QStringLiteral("c"));
    defaults.setObject(Value("42 seconds"), QStringLiteral("d"));
    defaults.setObject(Value(2.5), QStringLiteral("e"));
    EXPECT_TRUE(defaults.boolForKey(QStringLiteral("a")));
    EXPECT_TRUE(defaults.boolForKey(QStringLiteral("b")));
    EXPECT_FALSE(defaults.boolForKey(QStringLiteral("c")));
    EXPECT_EQ(defaults.integerForKey(QStringLiteral("d")), 42);
    EXPECT_EQ(defaults.stringForKey(QStringLiteral("e")), QStringLiteral("2.5"));
    EXPECT_EQ(defaults.arrayForKey(QStringLiteral("a")), nullptr);
}

TEST(UserDefaults, ChangesNotifyObserversAndTheCentre)
{
    UserDefaults defaults(QString{});
    QStringList keys;
    int posts = 0;
    const auto id = defaults.addObserver(QStringLiteral("Preview Layout"), [&](const QString& key) { keys << key; });
    NotificationCenter::defaultCenter().addObserver(&posts, QStringLiteral("NSUserDefaultsDidChangeNotification"), &defaults,
                                                    [&](const Notification&) { ++posts; });
    defaults.setInteger(1, QStringLiteral("Preview Layout"));
    defaults.setInteger(1, QStringLiteral("Other"));
    defaults.removeObjectForKey(QStringLiteral("Preview Layout"));
    defaults.removeObjectForKey(QStringLiteral("Never Set"));
    defaults.removeObserver(id);
    defaults.setInteger(2, QStringLiteral("Preview Layout"));
    NotificationCenter::defaultCenter().removeObserver(&posts);
    EXPECT_EQ(keys, (QStringList{QStringLiteral("Preview Layout"), QStringLiteral("Preview Layout")}));
    EXPECT_EQ(posts, 4);
}

TEST(UserDefaults, AnUnreadableFileIsKeptAsideNotOverwritten)
{
    const QString dir = testsupport::makeTempDir();
    const QString path = dir + QStringLiteral("/settings.plist");
    testsupport::writeFile(path, "bplist00 this is not a property list");
    {
        UserDefaults defaults(path);
        EXPECT_EQ(defaults.objectForKey(QStringLiteral("anything")), Value());
        defaults.setBool(true, QStringLiteral("PMDebugLog"));
        EXPECT_EQ(defaults.synchronize(), QString());
    }
    const QStringList aside = QDir(dir).entryList({QStringLiteral("settings.plist.damaged-*")});
    ASSERT_EQ(aside.size(), 1);
    EXPECT_EQ(testsupport::readFile(dir + u'/' + aside[0]), "bplist00 this is not a property list");
}

TEST(UserDefaults, SafeFromManyThreadsAtOnce)
{
    const QString path = testsupport::makeTempDir() + QStringLiteral("/settings.plist");
    UserDefaults defaults(path);
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&defaults, t] {
            for (int i = 0; i < 500; ++i) {
                defaults.setInteger(i, QStringLiteral("Key %1").arg(t));
                (void)defaults.integerForKey(QStringLiteral("Key %1").arg((t + 1) % 8));
                if (i % 100 == 0)
                    defaults.synchronize();
            }
        });
    }
    for (std::thread& t : threads)
        t.join();
    EXPECT_EQ(defaults.synchronize(), QString());
    UserDefaults again(path);
    for (int t = 0; t < 8; ++t)
        EXPECT_EQ(again.integerForKey(QStringLiteral("Key %1").arg(t)), 499);
}

TEST(UserDefaults, WritesSoonAfterAChangeWithoutBeingAsked)
{
    const QString path = testsupport::makeTempDir() + QStringLiteral("/settings.plist");
    UserDefaults defaults(path);
    defaults.setObject(Value("x"), QStringLiteral("Viewer Rules"));
    ASSERT_TRUE(testsupport::waitUntil([&] { return QFileInfo::exists(path); }, 5000));
    EXPECT_EQ(UserDefaults(path).stringForKey(QStringLiteral("Viewer Rules")), QStringLiteral("x"));
    // The save is written away from the main thread; changes made meanwhile are written
    // by the next one, none is dropped between the two.
    for (int i = 0; i < 50; ++i)
        defaults.setInteger(i, QStringLiteral("Counter"));
    defaults.setObject(Value("y"), QStringLiteral("Viewer Rules"));
    ASSERT_TRUE(testsupport::waitUntil([&] { return UserDefaults(path).stringForKey(QStringLiteral("Viewer Rules")) == QStringLiteral("y"); }, 10000));
    EXPECT_EQ(UserDefaults(path).integerForKey(QStringLiteral("Counter")), 49);
}
