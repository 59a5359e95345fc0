// Movie assets on FFmpeg: a file asset opens one movie file and answers its duration,
// tracks (natural size, display matrix, nominal frame rate), metadata under the
// identifiers the program reads, chapters and its attached cover picture. A composition
// is an asset made of segments of other assets, edited by inserting and removing time
// ranges. Files are untrusted: a broken, truncated or foreign file gives an error, and
// opening one is bounded in time; only regular files are opened (a named pipe, device or
// socket fails at once). Times count from the start of the container.
#pragma once

#include "platform/media/MediaTime.h"

#include <QtCore/QSizeF>
#include <QtCore/QString>
#include <QtCore/QStringList>
#include <QtCore/QUrl>
#include <QtGui/QImage>
#include <QtGui/QTransform>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace platform::media {

class Asset;
class Composition;
using AssetPtr = std::shared_ptr<Asset>;
using CompositionPtr = std::shared_ptr<Composition>;

enum class MediaType { Video, Audio, Subtitle, Other };

// A track's preferred transform: a point (x, y) of the decoded picture shows at
// (a·x + c·y + tx, b·x + d·y + ty), y pointing down.
struct AffineTransform {
    double a = 1, b = 0, c = 0, d = 1, tx = 0, ty = 0;
    bool isIdentity() const { return a == 1 && b == 0 && c == 0 && d == 1 && tx == 0 && ty == 0; }
    QTransform toQTransform() const { return QTransform(a, b, c, d, tx, ty); }
    bool operator==(const AffineTransform&) const = default;
};

struct Track {
    int trackID = 0;
    MediaType mediaType = MediaType::Other;
    QSizeF naturalSize;                 // the coded size with the pixel aspect applied; 0 x 0 when unknown
    AffineTransform preferredTransform;
    float nominalFrameRate = 0;         // frames per second, 0 when unknown
    TimeRange timeRange;
    QString codecName;
    bool hasVisualCharacteristic() const { return mediaType == MediaType::Video; }
    bool hasAudibleCharacteristic() const { return mediaType == MediaType::Audio; }
};

// One metadata item: `identifier` is "keyspace/key" with characters outside printable
// ASCII and "%" written as %XX (so "©alb" of the iTunes key space is "itsk/%A9alb").
struct MetadataItem {
    QString identifier;
    QString key;              // FFmpeg's name for it
    QString stringValue;
    std::optional<double> numberValue;
};

struct Chapter {
    TimeRange timeRange;
    QString title;
};

struct AssetOptions {
    // Durations and timing read with care (FFmpeg's stream probing is always exact
    // enough for that; kept so callers can say what they ask for).
    bool preferPreciseDurationAndTiming = false;
};

// The identifier of one of FFmpeg's metadata tags: the mapping onto the key spaces that
// the program reads (see Asset.cpp). Nothing for tags that only describe the container.
std::optional<MetadataItem> metadataItemFromTag(const QString& key, const QString& value);
// "%XX" escaping of an identifier's key part.
QString escapedIdentifierKey(const QByteArray& utf8Key);

enum class LoadStatus { Unknown, Loading, Loaded, Failed };

class Asset : public std::enable_shared_from_this<Asset> {
public:
    virtual ~Asset();
    // A file asset for a local file URL; nothing for other URLs. The file is opened on
    // first need (or by loadValuesAsynchronously).
    static AssetPtr assetWithURL(const QUrl& url, AssetOptions options = {});

    virtual bool isComposition() const { return false; }
    QUrl URL() const { return m_url; }

    // The values; each opens and probes the file on first need, on the calling thread.
    virtual MediaTime duration() const;
    // Where asset time 0 lies on the file's own clock: the container's start time, which
    // is 0 for most files but not for MPEG transport streams and many camera files.
    virtual MediaTime startTime() const;
    virtual std::vector<Track> tracks() const;
    std::vector<Track> tracksWithMediaType(MediaType type) const;
    std::optional<Track> trackWithTrackID(int trackID) const;
    virtual std::vector<MetadataItem> metadata() const;
    virtual std::vector<Chapter> chapters() const;
    // The attached cover picture ("artwork"), a null image without one.
    virtual QImage coverImage() const;
    // Whether the file opened and holds at least one audio track or video track of known size.
    virtual bool isPlayable() const;
    // The error of a failed open ("" when fine or not opened yet).
    virtual QString error() const;

    // The state of a value ("duration", "tracks", "metadata", "chapters"): Unknown until
    // loaded, then Loaded or Failed.
    virtual LoadStatus statusOfValueForKey(const QString& key, QString* error = nullptr) const;
    // Loads the values in the background; the completion runs once on the main thread.
    void loadValuesAsynchronouslyForKeys(const QStringList& keys, std::function<void()> completion);

    // The asset a composition was made from (cleared when its timeline changes).
    void setAssociatedOriginalAsset(AssetPtr asset);
    AssetPtr associatedOriginalAsset() const;
    AssetPtr originalAsset();

    // Internal: the opened file of a file asset (shared by its generators).
    struct File;
    std::shared_ptr<File> file() const { return m_file; }

    // How long opening a file may take before it counts as failed.
    static constexpr int kOpenTimeoutMs = 10000;

protected:
    Asset() = default;
    QUrl m_url;
    std::shared_ptr<File> m_file;
    mutable std::mutex m_associationMutex;
    AssetPtr m_associatedOriginalAsset;
};

// An asset made of segments of other assets: each track is a list of segments in
// composition time; all times are in MediaTime::kDefaultTimescale.
class Composition final : public Asset {
public:
    static CompositionPtr composition();
    bool isComposition() const override { return true; }

    struct Segment {
        TimeRange target;      // where the segment lies in the composition
        AssetPtr source;
        int sourceTrackID = 0;
        MediaTime sourceStart; // the source time shown at target.start
    };

    // A new empty track; answers its track ID.
    int addMutableTrack(MediaType type);
    // Inserts the source track's range at the time, moving what follows; the composition
    // track's media type must match the source track's.
    bool insertTimeRange(const TimeRange& sourceRange, const AssetPtr& asset, int sourceTrackID, int compositionTrackID, const MediaTime& at, QString* error = nullptr);
    // Inserts the range of every audio and video track of the asset at the time, into
    // composition tracks of the same kind and order (made on first need).
    bool insertTimeRange(const TimeRange& sourceRange, const AssetPtr& asset, const MediaTime& at, QString* error = nullptr);
    // Removes the range from every track; later segments move up.
    void removeTimeRange(const TimeRange& range);
    void setPreferredTransform(int trackID, const AffineTransform& transform);

    std::vector<Segment> segmentsForTrack(int trackID) const;
    // The segment shown at composition time t on the track, and the source time there.
    bool getSegmentForTime(int trackID, const MediaTime& t, Segment* segment, MediaTime* sourceTime) const;

    MediaTime duration() const override;
    MediaTime startTime() const override { return MediaTime::zero(); }
    std::vector<Track> tracks() const override;
    std::vector<MetadataItem> metadata() const override { return {}; }
    std::vector<Chapter> chapters() const override { return {}; }
    QImage coverImage() const override { return {}; }
    bool isPlayable() const override;
    QString error() const override { return {}; }
    LoadStatus statusOfValueForKey(const QString& key, QString* error = nullptr) const override;

    Composition();

private:
    struct CompositionTrack {
        Track track;
        std::vector<Segment> segments;
    };
    mutable std::mutex m_mutex;
    std::vector<CompositionTrack> m_tracks;
    int m_nextTrackID = 1;
};

} // namespace platform::media
