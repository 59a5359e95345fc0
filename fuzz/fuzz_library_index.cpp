// Reads the input as a library index and builds the library from it, then saves it back
// into a property list: whatever an index holds, loading must not crash or nest without
// bound, and what it builds must always be writable again.
#include "LibraryFuzzing.h"
#include "library/model/PMMainController.h"
#include "platform/PropertyList.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    libraryfuzz::useThrowAwayHomeOnce();
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    const platform::PropertyListReadResult read = platform::readPropertyList(bytes);
    platform::ArrayPtr saved;
    if (read.value.isArray())
        saved = read.value.array();
    else if (read.value.isDictionary() && read.value.dictionary()->value(QStringLiteral("Library")).isArray())
        saved = read.value.dictionary()->value(QStringLiteral("Library")).array();
    if (!saved)
        return 0;
    PMMainController& controller = mainController();
    controller.resetForTesting();
    platform::Array loaded;
    controller.populateLibraryArray(loaded, saved, false, true, nullptr);
    controller._library = std::make_shared<platform::Array>(loaded.values());
    controller.invalidateLibraryDependencies();
    platform::Array again;
    controller.populateSaveArray(again, controller._library, nullptr);
    QString error;
    platform::writeBinaryPropertyList(platform::Value(std::make_shared<platform::Array>(again.values())), &error);
    if (!error.isEmpty()) {
        std::fprintf(stderr, "a loaded library cannot be saved: %s\n", qPrintable(error));
        std::abort();
    }
    controller.resetForTesting();
    return 0;
}
