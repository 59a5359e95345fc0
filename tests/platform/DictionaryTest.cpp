#include "platform/Value.h"

#include <gtest/gtest.h>

#include "common/TestSupport.h"

#include <QtCore/QRandomGenerator>

#include <map>

using namespace platform;

// Dictionaries scan few entries and index many; random inserts, replacements and
// removals across that boundary must always agree with a plain ordered map.
TEST(Dictionary, AgreesWithAnOrderedMapUnderRandomChanges)
{
    QRandomGenerator random(7);
    for (const int keySpace : {5, 20, 40, 3000}) {
        SCOPED_TRACE(keySpace);
        Dictionary d;
        std::map<QString, int> reference;
        for (int step = 0; step < 20000; ++step) {
            const QString key = QStringLiteral("k%1").arg(random.bounded(keySpace));
            const int action = int(random.bounded(10));
            if (action < 6) {
                d.setValue(key, step);
                reference[key] = step;
            } else {
                d.remove(key);
                reference.erase(key);
            }
            if (step % 97 == 0 || keySpace < 50) {
                ASSERT_EQ(d.count(), qsizetype(reference.size()));
                for (const auto& [k, v] : reference)
                    ASSERT_EQ(d.value(k), Value(v)) << k.toStdString();
                qsizetype seen = 0;
                for (auto it = d.begin(); it != d.end(); ++it) {
                    ASSERT_EQ(reference.at(it.key()), it.value().integer());
                    ++seen;
                }
                ASSERT_EQ(seen, d.count());
            }
        }
        EXPECT_FALSE(d.contains(QStringLiteral("absent")));
        EXPECT_TRUE(d.map().find(QStringLiteral("absent")) == d.map().cend());
        EXPECT_TRUE(d.map().cend() == d.map().find(QStringLiteral("absent")));
        EXPECT_TRUE(d.value(QStringLiteral("absent")).isNull());
        d.removeAll();
        EXPECT_TRUE(d.isEmpty());
    }
}

// A copy of an indexed dictionary has an index of its own: changing either one leaves
// the other answering for all its keys.
TEST(Dictionary, CopiesOfAnIndexedDictionaryAreIndependent)
{
    DictionaryMap original;
    for (int i = 0; i < 100; ++i)
        original.insert(QStringLiteral("key %1").arg(i), i);
    DictionaryMap copied(original);
    DictionaryMap assigned;
    assigned.insert(QStringLiteral("replaced"), 1);
    assigned = original;
    for (int i = 0; i < 100; i += 2)
        original.remove(QStringLiteral("key %1").arg(i));
    copied.insert(QStringLiteral("only in the copy"), -1);
    for (int i = 0; i < 100; ++i) {
        const QString key = QStringLiteral("key %1").arg(i);
        EXPECT_EQ(copied.value(key), Value(i)) << i;
        EXPECT_EQ(assigned.value(key), Value(i)) << i;
        EXPECT_EQ(original.contains(key), i % 2 == 1) << i;
    }
    EXPECT_FALSE(assigned.contains(QStringLiteral("replaced")));
    EXPECT_FALSE(original.contains(QStringLiteral("only in the copy")));
    EXPECT_EQ(copied.size(), 101);
    EXPECT_EQ(original.size(), 50);
}
