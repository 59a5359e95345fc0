#include "ui/kit/PMAppearance.h"

#include <algorithm>
#include <cmath>

#include "platform/Appearance.h"
#include "platform/PlatformProfile.h"
#include "foundation/PMSettingsKeys.h"
#include "platform/UserDefaults.h"
#include "ui/kit/NSFont+PMBackwardsCompatibleSystemFont.h"

#include <QtGui/QAction>
#include <QtGui/QGuiApplication>
#include <QtGui/QIcon>
#include <QtGui/QPalette>
#include <QtWidgets/QAbstractButton>
#include <QtWidgets/QComboBox>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QStyle>
#include <QtWidgets/QStyleOptionButton>
#include <QtWidgets/QStyleOptionComboBox>
#include <QtWidgets/QTabWidget>
#include <QtWidgets/QWidget>

#include <optional>

using platform::AppearanceSource;

bool PMShouldReduceTransparency()
{
    return AppearanceSource::shared().reducesTransparency();
}

bool PMShouldIncreaseContrast()
{
    return AppearanceSource::shared().increasesContrast();
}

bool PMIsDarkInterfaceStyle()
{
    return AppearanceSource::shared().isDark();
}

bool PMIsDarkMode()
{
    return platform::profile::supportsDarkMode && PMIsDarkInterfaceStyle();
}

bool PMIsMenuBarTransparent()
{
    return platform::profile::hasTransparentMenuBar && !PMShouldReduceTransparency() && !PMShouldIncreaseContrast();
}

namespace {
std::optional<int> g_menuActionImagesMode;
}

int PMMenuActionImagesMode()
{
    if (g_menuActionImagesMode)
        return *g_menuActionImagesMode;
    int mode = 0;
    if (platform::profile::supportsMenuItemImages) {
        const platform::UserDefaults& defaults = platform::UserDefaults::standard();
        const platform::Value chosen = defaults.objectForKey(prefs::keys::PMEnableMenuActionImages);
        const platform::Value system = defaults.objectForKey(prefs::keys::NSMenuEnableActionImages);
        if (chosen.isBool())
            mode = chosen.boolean() ? 2 : 0;
        else if (system.isBool() && !system.boolean())
            mode = 0;
        else
            mode = platform::profile::defaultMenuActionImagesMode;
    }
    g_menuActionImagesMode = mode;
    return mode;
}

bool PMShouldSetMenuActionImages()
{
    return PMMenuActionImagesMode() == 2;
}

void PMResetMenuActionImagesModeForTesting()
{
    g_menuActionImagesMode.reset();
}

bool isOnRetinaDisplay(const QWidget* window)
{
    return window && window->devicePixelRatioF() > platform::profile::retinaScaleThreshold;
}

bool isInFullyInvertedDarkModeWithDefault(const QWidget* view, bool defaultValue)
{
    if (!platform::profile::supportsDarkMode)
        return defaultValue;
    // A view (or a parent) given a palette of its own draws in that palette.
    for (const QWidget* w = view; w; w = w->isWindow() ? nullptr : w->parentWidget()) {
        if (w->testAttribute(Qt::WA_SetPalette)) {
            const QPalette& palette = w->palette();
            return palette.color(QPalette::Window).lightness() < palette.color(QPalette::WindowText).lightness();
        }
    }
    return PMIsDarkMode();
}

bool isInFullyInvertedDarkMode(const QWidget* view)
{
    return isInFullyInvertedDarkModeWithDefault(view, false);
}

bool setMacOS26ImageWithSystemSymbolName(QAction* item, const QString& symbolName, bool ornamental, bool replaceExistingImage)
{
    const int mode = PMMenuActionImagesMode();
    if (!item || mode <= (ornamental ? 1 : 0) || symbolName.isEmpty())
        return false;
    if (!item->icon().isNull() && !replaceExistingImage)
        return false;
    const QIcon icon = QIcon::fromTheme(symbolName);
    if (icon.isNull())
        return false;
    item->setIcon(icon);
    item->setIconVisibleInMenu(true);
    return true;
}

QColor backwardsCompatibleControlAccentColor()
{
    return QGuiApplication::palette().color(QPalette::Highlight);
}

namespace {

double relativeLuminance(const QColor& colour)
{
    const auto linear = [](double c) { return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4); };
    const QColor rgb = colour.toRgb();
    return 0.2126 * linear(rgb.redF()) + 0.7152 * linear(rgb.greenF()) + 0.0722 * linear(rgb.blueF());
}

// The colour seen when a translucent colour lies over an opaque one.
QColor flattened(const QColor& colour, const QColor& under)
{
    const double a = colour.alphaF();
    return QColor::fromRgbF(float(colour.redF() * a + under.redF() * (1 - a)), float(colour.greenF() * a + under.greenF() * (1 - a)),
                            float(colour.blueF() * a + under.blueF() * (1 - a)));
}

} // namespace

double PMContrastRatio(const QColor& a, const QColor& b)
{
    const double la = relativeLuminance(a);
    const double lb = relativeLuminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor PMReadableTextColor(const QColor& text, const QColor& background, double minimumRatio)
{
    const QColor base = flattened(background, Qt::white);
    const QColor start = flattened(text, base);
    if (PMContrastRatio(start, base) >= minimumRatio)
        return start;
    const QColor pole = PMContrastRatio(Qt::black, base) >= PMContrastRatio(Qt::white, base) ? QColor(Qt::black) : QColor(Qt::white);
    const auto mix = [&](double t) {
        return QColor::fromRgbF(float(start.redF() + (pole.redF() - start.redF()) * t), float(start.greenF() + (pole.greenF() - start.greenF()) * t),
                                float(start.blueF() + (pole.blueF() - start.blueF()) * t));
    };
    // The least move that reaches the ratio (the ratio grows steadily towards the pole).
    double low = 0, high = 1;
    for (int i = 0; i < 20; ++i) {
        const double mid = (low + high) / 2;
        (PMContrastRatio(mix(mid), base) >= minimumRatio ? high : low) = mid;
    }
    // On whole 8-bit steps, as it will be drawn, still at or above the ratio.
    const auto on8Bits = [](const QColor& colour) { return QColor(colour.red(), colour.green(), colour.blue()); };
    QColor result = on8Bits(mix(high));
    for (int step = 0; step < 8 && PMContrastRatio(result, base) < minimumRatio; ++step) {
        high = std::min(1.0, high + 1.0 / 255.0);
        result = on8Bits(mix(high));
    }
    return result;
}

PMControlSize controlSize(const QWidget* control)
{
    const int value = control ? control->property("PMControlSize").toInt() : 0;
    return value == 1 ? PMControlSize::Small : value == 2 ? PMControlSize::Mini : PMControlSize::Regular;
}

void setControlSize(QWidget* control, PMControlSize size)
{
    if (!control)
        return;
    control->setProperty("PMControlSize", int(size));
    QFont font = control->font();
    const double points = size == PMControlSize::Small  ? platform::profile::smallControlFontSize
                          : size == PMControlSize::Mini ? platform::profile::miniControlFontSize
                                                        : platform::profile::regularControlFontSize;
    PMSetFontSize(font, points);
    control->setFont(font);
}

double PMTitleRectY(const QWidget* button)
{
    if (const auto* combo = qobject_cast<const QComboBox*>(button)) {
        QStyleOptionComboBox option;
        option.initFrom(combo);
        option.editable = combo->isEditable();
        return combo->style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, combo).y();
    }
    if (const auto* push = qobject_cast<const QPushButton*>(button)) {
        QStyleOptionButton option;
        option.initFrom(push);
        option.text = push->text();
        return push->style()->subElementRect(QStyle::SE_PushButtonContents, &option, push).y();
    }
    if (const auto* other = qobject_cast<const QAbstractButton*>(button)) {
        QStyleOptionButton option;
        option.initFrom(other);
        option.text = other->text();
        return other->style()->subElementRect(QStyle::SE_CheckBoxContents, &option, other).y();
    }
    return 0.0;
}

void correctBaselineForLegacyPositionPopUpButtonSubviewsWithReferenceTitleRectY(QWidget* view, double popUpReference,
                                                                                double buttonReference)
{
    if (!view)
        return;
    QList<QWidget*> subviews;
    if (auto* tabs = qobject_cast<QTabWidget*>(view)) {
        for (int i = 0; i < tabs->count(); ++i)
            subviews.append(tabs->widget(i));
    } else {
        subviews = view->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
    }
    for (QWidget* subview : subviews) {
        const bool isPopUp = qobject_cast<QComboBox*>(subview);
        const bool isButton = isPopUp || qobject_cast<QAbstractButton*>(subview);
        if (!isButton || controlSize(subview) != PMControlSize::Regular) {
            correctBaselineForLegacyPositionPopUpButtonSubviewsWithReferenceTitleRectY(subview, popUpReference, buttonReference);
            continue;
        }
        if (!isPopUp && buttonReference <= -0.1)
            continue;
        const double reference = isPopUp ? popUpReference : buttonReference;
        const double difference = reference - PMTitleRectY(subview);
        // Qt's coordinates run top-down, as in a flipped view: the difference is added.
        if (std::abs(difference) > 0.1)
            subview->move(subview->x(), subview->y() + int(std::lround(difference)));
    }
}

void correctBaselineForLegacyPositionPopUpButtonSubviewsWithReferenceTitleRectY(QWidget* view, double popUpReference)
{
    correctBaselineForLegacyPositionPopUpButtonSubviewsWithReferenceTitleRectY(view, popUpReference, -1.0);
}

QPalette PMDarkPalette()
{
    QPalette palette;
    const QColor window(45, 45, 48), base(30, 30, 32), text(232, 232, 232), disabled(128, 128, 128);
    const QColor highlight = QGuiApplication::palette().color(QPalette::Highlight);
    palette.setColor(QPalette::Window, window);
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::Base, base);
    palette.setColor(QPalette::AlternateBase, QColor(38, 38, 40));
    palette.setColor(QPalette::ToolTipBase, window);
    palette.setColor(QPalette::ToolTipText, text);
    palette.setColor(QPalette::PlaceholderText, disabled);
    palette.setColor(QPalette::Text, text);
    palette.setColor(QPalette::Button, QColor(58, 58, 62));
    palette.setColor(QPalette::ButtonText, text);
    palette.setColor(QPalette::BrightText, Qt::white);
    palette.setColor(QPalette::Light, QColor(75, 75, 80));
    palette.setColor(QPalette::Midlight, QColor(62, 62, 66));
    palette.setColor(QPalette::Mid, QColor(40, 40, 42));
    palette.setColor(QPalette::Dark, QColor(25, 25, 27));
    palette.setColor(QPalette::Shadow, Qt::black);
    palette.setColor(QPalette::Highlight, highlight.isValid() ? highlight : QColor(42, 130, 218));
    palette.setColor(QPalette::HighlightedText, Qt::white);
    palette.setColor(QPalette::Link, QColor(90, 160, 240));
    for (const QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText, QPalette::HighlightedText})
        palette.setColor(QPalette::Disabled, role, disabled);
    // Disabled text is drawn flat: no light "engraved" copy under it.
    palette.setColor(QPalette::Disabled, QPalette::Light, window);
    return palette;
}

namespace {

struct FollowedAppearance {
    bool applied = false;
    QPalette original;
};

FollowedAppearance& followed()
{
    static FollowedAppearance state;
    return state;
}

void applyDesktopAppearance()
{
    FollowedAppearance& state = followed();
    AppearanceSource& source = AppearanceSource::shared();
    const QPalette current = QGuiApplication::palette();
    const bool paletteDark = current.color(QPalette::Window).lightness() < current.color(QPalette::WindowText).lightness();
    if (!state.applied) {
        if (source.prefersDark() && !paletteDark) {
            state.original = current;
            state.applied = true;
            QGuiApplication::setPalette(PMDarkPalette());
        }
        return;
    }
    // Ours is in place: only the desktop's explicit preference keeps it.
    if (!source.prefersDark()) {
        state.applied = false;
        QGuiApplication::setPalette(state.original);
    }
}

} // namespace

void PMFollowDesktopAppearance()
{
    static bool following = false;
    if (!following) {
        following = true;
        QObject::connect(&AppearanceSource::shared(), &AppearanceSource::appearanceChanged, qApp, [] { applyDesktopAppearance(); });
    }
    applyDesktopAppearance();
}
