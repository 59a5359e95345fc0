#include "ui/kit/NSFont+PMBackwardsCompatibleSystemFont.h"

#include "platform/PlatformProfile.h"

#include <QtGui/QFontDatabase>
#include <QtGui/QGuiApplication>
#include <QtGui/QScreen>

namespace {

// Qt's point sizes scale with the screen's DPI; the program's points are pixels.
double typographicPointsPerPixel()
{
    static const double factor = [] {
        const QScreen* screen = QGuiApplication::primaryScreen();
        const double dpi = screen ? screen->logicalDotsPerInchY() : 96.0;
        return 72.0 / (dpi > 1.0 ? dpi : 96.0);
    }();
    return factor;
}

} // namespace

void PMSetFontSize(QFont& font, double size)
{
    font.setPointSizeF(std::max(size, 1.0) * typographicPointsPerPixel());
}

QFont PMSystemFontOfSize(double size)
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    PMSetFontSize(font, size);
    return font;
}

QFont backwardsCompatibleSystemFontOfSize(double size, std::int64_t weight, std::int64_t* getFamily)
{
    static_assert(platform::profile::hasWeightedSystemFont);
    QFont font = PMSystemFontOfSize(size);
    font.setWeight(weight == 0 ? QFont::Light : weight == 2 ? QFont::Medium : QFont::Normal);
    if (getFamily)
        *getFamily = 2;
    return font;
}

double PMFontSize(const QFont& font)
{
    if (font.pixelSize() > 0)
        return font.pixelSize();
    return font.pointSizeF() / typographicPointsPerPixel();
}
