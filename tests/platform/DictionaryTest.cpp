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
