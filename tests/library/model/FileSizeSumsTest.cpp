// The sums the status line shows for the shown or selected movies: read from the records,
// never from the disk on the main thread; the files are measured in the background and the
// sums follow.
#include "library/model/ModelFixture.h"

#include "common/TestSupport.h"
#include "foundation/NSFileManager+PMHelpManager.h"
#include "foundation/NSString+PMHelpManagerNumbers.h"
#include "library/model/PMLibraryItemArrays.h"

using platform::Value;

TEST_F(ModelTest, StatusSumsMakeNoFileSystemCallOnTheMainThread)
{
    const QString dir = testsupport::makeTempDir(QStringLiteral("sizes"));
    auto items = platform::Array::make();
    std::vector<PMMovieRepresentationOriginalPtr> records;
    std::uint64_t real = 0;
    for (int i = 0; i < 40; ++i) {
        const QString path = dir + QStringLiteral("/Movie %1.mp4").arg(i);
        testsupport::writeFile(path, QByteArray(1000 + 100 * i, 'x'));
        real += std::uint64_t(1000 + 100 * i);
        auto record = PMMovieRepresentationOriginal::movieRepresentationWithPath(path);
        // Half of them have a stored size from an earlier session (out of date), half none.
        if (i % 2 == 0)
            record->userSettings()->setValue(QStringLiteral("Size"), 10);
        records.push_back(record);
        items->append(Value(record));
    }
    const std::uint64_t measuredBefore = PMMainThreadFileSizeMeasurementCount();
    // At first the stored sizes: 20 times 10 bytes.
    EXPECT_EQ(durationAndMovieFileSizeDescription(*items), fileSizeDescriptionWithBytesCount(200));
    EXPECT_EQ(PMMainThreadFileSizeMeasurementCount(), measuredBefore);
    // Then the real ones, measured away from the main thread and kept with the records.
    EXPECT_TRUE(testsupport::waitUntil([&] {
        return durationAndMovieFileSizeDescription(*items) == fileSizeDescriptionWithBytesCount(real);
    }, 10000));
    EXPECT_EQ(records[1]->userSettings()->value(QStringLiteral("Size")).toLongLong(), 1100);
    EXPECT_EQ(PMMainThreadFileSizeMeasurementCount(), measuredBefore);
}
