// Frame wrappers, saved hover frames, the index image window's settings and a record's
// working settings.
#include "images/PMIndexImageWrapper.h"
#include "images/NSImage+PMImageFiles.h"
#include "images/PMIndexImage.h"

#include "foundation/NSDictionary+PMExtensions.h"
#include "foundation/PMFunctions.h"
#include "library/model/PMMovieRepresentation.h"
#include "platform/Collation.h"
#include "platform/Queues.h"
#include "platform/UserDefaults.h"

#include <QtCore/QDir>
#include <QtCore/QFileInfo>

#include <algorithm>
#include <cmath>

using platform::Dictionary;
using platform::DictionaryPtr;
using platform::Value;

QString PMIndexImageWrapper::timestampDescriptionIncludingMilliseconds(bool includingMilliseconds) const
{
    const double seconds = timestamp();
    if (!(seconds >= 0) || !std::isfinite(seconds))
        return {};
    return PMDurationString(seconds, false, false, includingMilliseconds);
}

double PMSavedIndexImageWrapper::timestampOfFileName(const QString& fileName)
{
    const qsizetype open = fileName.indexOf(QLatin1Char('('));
    if (open < 0)
        return -1;
    const qsizetype close = fileName.indexOf(QLatin1Char(')'), open + 1);
    if (close < 0)
        return -1;
    // Written in the C locale ("2.50"), whatever the user's locale.
    bool ok = false;
    const double value = QStringView(fileName).mid(open + 1, close - open - 1).trimmed().toDouble(&ok);
    return ok && std::isfinite(value) ? value : -1;
}

bool PMSavedIndexImageWrapper::indexImageWrappers(PMIndexImageWrappers* wrappers, const QString& path)
{
    if (path.isEmpty())
        return false;
    const QFileInfo info(path);
    if (!info.exists() || !info.isDir())
        return false;
    QStringList names = QDir(path).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::NoSort);
    std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) { return platform::localizedStandardCompare(a, b) < 0; });
    PMIndexImageWrappers found;
    // Frames are made with an area of the side squared: anything far larger in the folder
    // is read reduced, and no more frames than are ever made, so that what someone put
    // there cannot fill the memory.
    const int side = PMStandardIndexImageSide();
    const QSize largest(4 * side, 4 * side);
    int read = 0;
    for (const QString& name : names) {
        if (!name.toLower().endsWith(QLatin1String(".jpg")))
            continue;
        if (!wrappers)
            return true;
        if (++read > kPMMaximumStandardIndexImageCount)
            break;
        const QString filePath = QDir(path).filePath(name);
        platform::ImagePtr image = PMImageWithContentsOfFile(filePath, largest);
        if (!image)
            continue; // an unreadable file is skipped
        image->associatedSourcePath = filePath;
        auto wrapper = std::make_shared<PMSavedIndexImageWrapper>();
        wrapper->setImage(std::move(image));
        wrapper->setTimestamp(timestampOfFileName(name));
        found.push_back(std::move(wrapper));
    }
    if (!wrappers)
        return false;
    const bool any = !found.empty();
    *wrappers = std::move(found);
    return any;
}

std::optional<PMIndexImageWrappers> PMSavedIndexImageWrapper::indexImageWrappersAtPath(const QString& path)
{
    const QFileInfo info(path);
    if (path.isEmpty() || !info.isDir())
        return std::nullopt;
    PMIndexImageWrappers wrappers;
    indexImageWrappers(&wrappers, path);
    return wrappers;
}

void PMSortIndexImageWrappersByTime(PMIndexImageWrappers& wrappers)
{
    std::stable_sort(wrappers.begin(), wrappers.end(), [](const PMIndexImageWrapperPtr& a, const PMIndexImageWrapperPtr& b) {
        auto* ga = dynamic_cast<PMGeneratedIndexImageWrapper*>(a.get());
        auto* gb = dynamic_cast<PMGeneratedIndexImageWrapper*>(b.get());
        if (ga && gb && ga->CMTimestamp().isNumeric() && gb->CMTimestamp().isNumeric())
            return ga->compare(*gb) < 0;
        return a->timestamp() < b->timestamp();
    });
}

// ---- Settings

namespace {

DictionaryPtr& processIndexImageSettings()
{
    static DictionaryPtr settings;
    return settings;
}

struct Range {
    const QString* key;
    long long low, high, fallback;
};

} // namespace

DictionaryPtr PMIndexImageViewSettings::defaultIndexImageSettings()
{
    using namespace PMIndexImageSettingsKeys;
    auto settings = Dictionary::make();
    settings->setValue(numberOfImages, Value((long long)(30)));
    settings->setValue(maximumNumberOfColumns, Value((long long)(6)));
    settings->setValue(singleImageWidth, Value((long long)(200)));
    settings->setValue(spacing, Value((long long)(10)));
    settings->setValue(border, Value((long long)(2)));
    settings->setValue(dropShadows, Value(true));
    settings->setValue(timestamps, Value(true));
    return settings;
}

DictionaryPtr PMIndexImageViewSettings::clampedIndexImageSettings(const DictionaryPtr& settings)
{
    using namespace PMIndexImageSettingsKeys;
    auto result = settings ? deeplyMutableCopy(settings) : Dictionary::make();
    if (!result)
        result = Dictionary::make();
    const Range ranges[] = {
        {&numberOfImages, 1, 1000, 30}, {&maximumNumberOfColumns, -10000, 1000, 6}, {&singleImageWidth, 70, 1000, 200},
        {&spacing, 0, 1000, 10},        {&border, 0, 1000, 2},
    };
    for (const Range& range : ranges) {
        const Value value = result->value(*range.key);
        if (value.isNull())
            continue;
        bool ok = value.isNumber();
        double number = ok ? value.toDouble() : double(range.fallback);
        if (value.isString()) {
            number = value.string().trimmed().toDouble(&ok);
            if (!ok)
                number = double(range.fallback);
        }
        long long clamped = std::isfinite(number) ? std::llround(std::clamp(number, double(range.low), double(range.high))) : range.fallback;
        if (range.key == &maximumNumberOfColumns && clamped == 0)
            clamped = 1;
        result->setValue(*range.key, Value((long long)(clamped)));
    }
    return result;
}

DictionaryPtr PMIndexImageViewSettings::indexImageSettings()
{
    DictionaryPtr& settings = processIndexImageSettings();
    if (!settings) {
        const Value stored = platform::UserDefaults::standard().objectForKey(PMIndexImageSettingsKeys::defaultsKey);
        settings = stored.isDictionary() ? clampedIndexImageSettings(stored.dictionary()) : defaultIndexImageSettings();
    }
    return settings;
}

void PMIndexImageViewSettings::resetIndexImageSettings()
{
    processIndexImageSettings().reset();
}

// ---- Working settings

namespace {
const char kWorkingSettingsKey = 0; // its address names the record's associated value
}

void PMReleaseIndexImageFrameGenerator(std::shared_ptr<PMIndexImageFrameGenerator> generator)
{
    if (!generator)
        return;
    generator->cancelAllImageGeneration();
    // Ending a generator waits for the frame it decodes: never on the main thread.
    platform::dispatchAsyncGlobal([last = std::move(generator)]() mutable { last.reset(); });
}

PMIndexImageWorkingSettings::~PMIndexImageWorkingSettings()
{
    PMReleaseIndexImageFrameGenerator(std::move(generator));
}

PMIndexImageWorkingSettingsPtr indexImageSettings(PMMovieRepresentationPrototype& movie)
{
    return movie.associatedValue(&kWorkingSettingsKey).objectAs<PMIndexImageWorkingSettings>();
}

void setIndexImageSettings(PMMovieRepresentationPrototype& movie, PMIndexImageWorkingSettingsPtr settings)
{
    PMIndexImageWorkingSettingsPtr old = indexImageSettings(movie);
    if (old && old != settings) {
        old->currentIndex.reset();
        if (old->generator)
            old->generator->cancelAllImageGeneration();
    }
    movie.setAssociatedValue(&kWorkingSettingsKey, settings ? Value(settings) : Value());
}

long long currentIndexImageGenerationIndex(PMMovieRepresentationPrototype& movie)
{
    PMIndexImageWorkingSettingsPtr working = indexImageSettings(movie);
    return working && working->currentIndex ? *working->currentIndex : kPMNotFound;
}

void stopIndexImageGeneration(PMMovieRepresentationPrototype& movie)
{
    PMIndexImageWorkingSettingsPtr working = indexImageSettings(movie);
    if (!working)
        return;
    if (working->generator)
        working->generator->cancelAllImageGeneration();
    working->currentIndex.reset();
}
