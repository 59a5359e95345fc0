// Frames of animated images that Qt's readers show as still pictures (animated PNG),
// decoded with FFmpeg.
#pragma once

#include "platform/Image.h"

#include <QtCore/QString>

#include <vector>

namespace platform::media {

// Whether the file is a PNG that announces an animation (an "acTL" chunk before the
// first image data).
bool isAnimatedPNGFile(const QString& path);

// Decodes every frame with its delay in seconds (as stored; the delay rule is the
// caller's), within the limits. False and the error's text when nothing could be read or a
// limit was passed.
bool decodeAnimationFrames(const QString& path, int maximumFrameCount, qint64 maximumDecodedBytes, std::vector<AnimationFrameRecord>* frames, QString* error);

} // namespace platform::media
