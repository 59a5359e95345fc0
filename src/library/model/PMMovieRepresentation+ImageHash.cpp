// A record's image hash for duplicate searches: kept in its settings once computed, under
// "Image Hash N" (a still image) or in the "Movie Hash" dictionary (a movie, from its
// standard index images). Computing one is the image services' work.
#include "library/model/PMMovieRepresentation.h"

#include "platform/Format.h"

#include <algorithm>

QString PMMovieRepresentationPrototype::imageHashWithResolution(long long resolution)
{
    const long long n = std::clamp(resolution, 2LL, 100LL);
    const QString key = platform::format("Image Hash %ld", n);
    const platform::DictionaryPtr settings = userSettings();
    const platform::Value stored = isConsideredStillImage() ? settings->value(key) : [&] {
        const platform::DictionaryPtr hashes = settings->value(QStringLiteral("Movie Hash")).dictionary();
        return hashes ? hashes->value(key) : platform::Value();
    }();
    if (stored.isString())
        return stored.string();
    if (auto& compute = PMMovieRepresentationServices::shared().computeImageHash)
        return compute(*this, n);
    return {};
}
