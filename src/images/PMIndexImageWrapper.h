// Frames of a movie: one frame of an index image (a frame sheet) or of a movie's hover
// frames, the reading of saved hover frames, the settings of the index image window and the
// working settings in which a record keeps its grabbed frames while a sheet is composed.
#pragma once

#include "platform/Image.h"
#include "platform/Value.h"
#include "platform/media/MediaTime.h"

#include <QtCore/QRectF>
#include <QtCore/QString>

#include <climits>
#include <memory>
#include <optional>
#include <vector>

class PMMovieRepresentationPrototype;
class PMIndexImageFrameGenerator;

class PMIndexImageWrapper {
public:
    virtual ~PMIndexImageWrapper() = default;
    const platform::ImagePtr& image() const { return m_image; }
    void setImage(platform::ImagePtr image) { m_image = std::move(image); }
    // The frame's cell in the composed sheet (origin at the lower left); empty until composed.
    QRectF frame() const { return m_frame; }
    void setFrame(QRectF frame) { m_frame = frame; }
    // Seconds into the movie; -1: no time.
    virtual double timestamp() const { return -1; }
    // "1:15", "1:02:05", "2 days"; with milliseconds "1:15.250"; nothing without a time.
    QString timestampDescriptionIncludingMilliseconds(bool includingMilliseconds) const;
    QString timestampDescription() const { return timestampDescriptionIncludingMilliseconds(false); }

private:
    platform::ImagePtr m_image;
    QRectF m_frame;
};
using PMIndexImageWrapperPtr = std::shared_ptr<PMIndexImageWrapper>;
using PMIndexImageWrappers = std::vector<PMIndexImageWrapperPtr>;

// A frame grabbed from the movie.
class PMGeneratedIndexImageWrapper final : public PMIndexImageWrapper {
public:
    PMGeneratedIndexImageWrapper(platform::ImagePtr image, platform::media::MediaTime time) : m_time(time) { setImage(std::move(image)); }
    platform::media::MediaTime CMTimestamp() const { return m_time; }
    void setCMTimestamp(platform::media::MediaTime time) { m_time = time; }
    double timestamp() const override { return m_time.isNumeric() ? m_time.seconds() : -1; }
    // Ascending by time.
    int compare(const PMGeneratedIndexImageWrapper& other) const { return m_time.compare(other.m_time); }

private:
    platform::media::MediaTime m_time;
};

// A frame read from a saved hover-frame file.
class PMSavedIndexImageWrapper final : public PMIndexImageWrapper {
public:
    double timestamp() const override { return m_timestamp; }
    void setTimestamp(double timestamp) { m_timestamp = timestamp; }

    // Whether the folder holds a frame. With `wrappers`, every readable ".jpg" of the folder
    // in natural name order ("2 (…)" before "10 (…)") is stored there (maybe none): the
    // answer is then YES when at least one frame was read. NO, and nothing stored, for a
    // missing folder.
    static bool indexImageWrappers(PMIndexImageWrappers* wrappers, const QString& existAtPath);
    // The saved frames of the folder; nothing when it does not exist.
    static std::optional<PMIndexImageWrappers> indexImageWrappersAtPath(const QString& path);
    // The time in a saved frame's name: the number between the first "(" and the next ")",
    // -1 without one.
    static double timestampOfFileName(const QString& fileName);

private:
    double m_timestamp = -1;
};

// Sorts frames by time (frames without a time first, in their order).
void PMSortIndexImageWrappersByTime(PMIndexImageWrappers& wrappers);

// ---- The index image window's settings ("Index Image: Settings (4480)")

namespace PMIndexImageSettingsKeys {
inline const QString numberOfImages = QStringLiteral("Number of Images");
inline const QString maximumNumberOfColumns = QStringLiteral("Maximum Number of Columns");
inline const QString singleImageWidth = QStringLiteral("Single Image Width");
inline const QString spacing = QStringLiteral("Spacing");
inline const QString border = QStringLiteral("Border");
inline const QString borderColor = QStringLiteral("Border Color");
inline const QString dropShadows = QStringLiteral("Drop Shadows");
inline const QString timestamps = QStringLiteral("Timestamps");
inline const QString defaultsKey = QStringLiteral("Index Image: Settings (4480)");
} // namespace PMIndexImageSettingsKeys

// The settings of the index image window: one dictionary of the keys above.
using PMIndexImageSettings = platform::Dictionary;

class PMIndexImageViewSettings {
public:
    // The process's one settings dictionary: a copy of the stored defaults (their numbers
    // clamped to the fields' ranges) or the defaults, made on first call.
    static platform::DictionaryPtr indexImageSettings();
    // The defaults, and a copy of any settings with numbers brought into range.
    static platform::DictionaryPtr defaultIndexImageSettings();
    static platform::DictionaryPtr clampedIndexImageSettings(const platform::DictionaryPtr& settings);
    // Forgets the process's settings (tests).
    static void resetIndexImageSettings();
};

// ---- A record's working settings while its sheet is composed or shown

class PMIndexImageWorkingSettings final : public platform::Object {
public:
    ~PMIndexImageWorkingSettings() override;
    // The public settings copied in by the last composition.
    platform::DictionaryPtr settings = platform::Dictionary::make();
    // The frames of the current generation (identity tells a generation from a later one).
    std::shared_ptr<PMIndexImageWrappers> wrappers;
    std::shared_ptr<PMIndexImageFrameGenerator> generator;
    // Frames received so far; only while a generation runs.
    std::optional<long long> currentIndex;
    QSizeF naturalSingleImageSize;
    // Rises with every request that grabs anew: an answer to an older one is dropped.
    quint64 requestSerial = 0;
};
// Ends a generator that is no longer used: its requests are cancelled at once, and it is
// destroyed on a background thread (destroying it waits for the frame it decodes).
void PMReleaseIndexImageFrameGenerator(std::shared_ptr<PMIndexImageFrameGenerator> generator);
using PMIndexImageWorkingSettingsPtr = std::shared_ptr<PMIndexImageWorkingSettings>;

// The record's working settings, or nothing. Replacing or removing them stops a running
// generation. Main thread.
PMIndexImageWorkingSettingsPtr indexImageSettings(PMMovieRepresentationPrototype& movie);
void setIndexImageSettings(PMMovieRepresentationPrototype& movie, PMIndexImageWorkingSettingsPtr settings);
// Frames received by the running generation, or NSNotFound.
inline constexpr long long kPMNotFound = LLONG_MAX;
long long currentIndexImageGenerationIndex(PMMovieRepresentationPrototype& movie);
// Cancels the pending frame requests; the frames received so far stay.
void stopIndexImageGeneration(PMMovieRepresentationPrototype& movie);
