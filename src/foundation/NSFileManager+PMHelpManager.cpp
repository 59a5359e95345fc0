#include "foundation/NSFileManager+PMHelpManager.h"

#include "platform/Paths.h"
#include "platform/Queues.h"

#include <QtCore/QFile>

#include <atomic>
#include <filesystem>
#include <system_error>

#include <sys/stat.h>

namespace {
std::atomic<std::uint64_t> gMainThreadMeasurements{0};
}

std::uint64_t PMMainThreadFileSizeMeasurementCount()
{
    return gMainThreadMeasurements.load();
}

std::optional<std::uint64_t> totalFileSizeAtPath(const QString& path)
{
    if (path.isEmpty())
        return std::nullopt;
    if (platform::isMainThread())
        ++gMainThreadMeasurements;
    const QByteArray native = platform::encodeFileName(path);
    struct stat st;
    if (::lstat(native.constData(), &st) != 0)
        return std::nullopt;
    if (!S_ISDIR(st.st_mode))
        return std::uint64_t(st.st_size);
    std::uint64_t total = 0;
    std::error_code ec;
    namespace fs = std::filesystem;
    fs::recursive_directory_iterator it(fs::path(native.constData()), fs::directory_options::skip_permission_denied, ec);
    const fs::recursive_directory_iterator end;
    while (!ec && it != end) {
        struct stat entry;
        if (::lstat(it->path().c_str(), &entry) == 0 && !S_ISDIR(entry.st_mode))
            total += std::uint64_t(entry.st_size);
        // An entry that vanished or cannot be read counts 0; an error the walk cannot step
        // over ends it rather than risk going round in circles.
        it.increment(ec);
    }
    return total;
}
