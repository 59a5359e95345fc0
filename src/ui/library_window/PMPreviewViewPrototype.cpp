#include "ui/library_window/PMPreviewViewPrototype.h"
#include "ui/library_window/PMGridSettings.h"

#include "foundation/PMFunctions.h"
#include "library/model/PMLibraryContainer.h"
#include "library/model/PMMainController.h"
#include "library/model/PMMovieRepresentation.h"
#include "foundation/PMSettingsKeys.h"
#include "platform/UserDefaults.h"
#include "ui/kit/PMAppearance.h"

#include <QtGui/QFontMetricsF>
#include <QtGui/QStaticText>
#include <QtGui/QGlyphRun>
#include <QtGui/QTextLayout>
#include <QtCore/QHash>
#include <QtGui/QGuiApplication>
#include <QtGui/QPainter>
#include <QtGui/QPainterPath>

#include <QtCore/QElapsedTimer>

#include <algorithm>
#include <cmath>

namespace {

using PMGridSettings::defaults;

} // namespace

PMPreviewClickPlan PMPreviewClickPlanFor(bool command, bool shift, int clickCount, std::int64_t behavior)
{
    PMPreviewClickPlan plan;
    if (command || shift) {
        // The selection changes and nothing else, even on a double click.
        plan.selection = command ? PMPreviewClickPlan::Selection::Toggle : PMPreviewClickPlan::Selection::Extend;
        plan.keepInitialSelection = true;
        plan.move = false;
        return plan;
    }
    const bool single = clickCount <= 1;
    plan.keepInitialSelection = single && behavior >= 2;
    plan.move = true;
    if (single && behavior >= 2)
        plan.selection = PMPreviewClickPlan::Selection::ToggleKeep;
    plan.performAction = !(single && behavior >= 1);
    return plan;
}

std::int64_t PMPreviewSingleClickBehavior(bool groupTile)
{
    if (groupTile && !defaults().boolForKey(prefs::keys::PreviewSingleClickBehaviorApplyToSubgroups))
        return 0;
    return defaults().integerForKey(prefs::keys::PreviewSingleClickBehavior);
}

double PMPreviewLabelInset()
{
    return 5.0;
}

QFont PMPreviewLabelFont(bool selected, bool largeFont)
{
    QFont font = QGuiApplication::font();
    font.setPointSizeF(largeFont ? 13 : 11);
    font.setWeight(!selected && !PMIsDarkMode() ? QFont::Normal : QFont::Medium);
    return font;
}

namespace {

// A name laid out as a label: its glyphs, shortened with an ellipsis when it is wider than
// the label, positioned from the top left of the text.
struct LaidOutLabel {
    QList<QGlyphRun> runs;
    QStaticText text; // instead of the runs, for names the runs cannot show
    bool useRuns = false;
    QSizeF size;
};

// Names in Latin letters (with accents, digits, punctuation, symbols) can be shortened from
// one shaping of the whole name: the glyphs before the cut, then the ellipsis as the label's
// font draws it. Others (right to left, joined scripts, and those whose ellipsis comes from
// the script's own fallback font, such as CJK) go through the fonts' own shortening.
bool cutsCleanly(const QString& name)
{
    for (qsizetype i = 0; i < name.size(); ++i) {
        char32_t c = name[i].unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < name.size() && name[i + 1].isLowSurrogate()) {
            c = QChar::surrogateToUcs4(name[i], name[i + 1]);
            ++i;
        }
        switch (QChar::direction(c)) {
        case QChar::DirR: case QChar::DirAL: case QChar::DirAN: case QChar::DirRLE: case QChar::DirRLO: case QChar::DirRLI: case QChar::DirFSI:
            return false;
        default:
            break;
        }
        switch (QChar::script(c)) {
        case QChar::Script_Common: case QChar::Script_Inherited: case QChar::Script_Latin:
            break;
        default:
            return false;
        }
    }
    return true;
}

// The ellipsis as the fonts' own shortening draws it, laid out once per font.
struct Ellipsis {
    QList<QGlyphRun> runs;
    double width = 0;
};

const Ellipsis& ellipsisFor(const QFont& font, const QString& fontKey)
{
    static QHash<QString, Ellipsis> ellipses;
    auto found = ellipses.constFind(fontKey);
    if (found != ellipses.constEnd())
        return *found;
    const QString text = QFontMetricsF(font).inFontUcs4(0x2026) ? QString(QChar(0x2026)) : QStringLiteral("...");
    QTextLayout layout(text, font);
    layout.setCacheEnabled(true);
    layout.beginLayout();
    QTextLine line = layout.createLine();
    line.setPosition(QPointF(0, 0));
    layout.endLayout();
    return *ellipses.insert(fontKey, Ellipsis{line.glyphRuns(), line.naturalTextWidth()});
}

LaidOutLabel layOutLabel(const QString& name, const QFont& font, const QString& fontKey, double width)
{
    LaidOutLabel label;
    if (cutsCleanly(name)) {
        QTextLayout layout(name, font);
        QTextOption option;
        option.setWrapMode(QTextOption::NoWrap);
        layout.setTextOption(option);
        layout.setCacheEnabled(true);
        layout.beginLayout();
        QTextLine line = layout.createLine();
        line.setPosition(QPointF(0, 0));
        layout.endLayout();
        const double natural = line.naturalTextWidth();
        label.useRuns = true;
        if (natural <= width) {
            label.runs = line.glyphRuns();
            label.size = QSizeF(natural, line.height());
            return label;
        }
        // Cut where the name and the ellipsis fit, between whole characters.
        const Ellipsis& ellipsis = ellipsisFor(font, fontKey);
        int cut = line.xToCursor(std::max(0.0, width - ellipsis.width), QTextLine::CursorBetweenCharacters);
        double x = line.cursorToX(cut);
        while (cut > 0 && x + ellipsis.width > width) {
            cut = layout.previousCursorPosition(cut);
            x = line.cursorToX(cut);
        }
        if (cut > 0)
            label.runs = line.glyphRuns(0, cut);
        for (QGlyphRun run : ellipsis.runs) {
            QList<QPointF> positions = run.positions();
            for (QPointF& p : positions)
                p.rx() += x;
            run.setPositions(positions);
            label.runs.append(run);
        }
        label.size = QSizeF(x + ellipsis.width, line.height());
        return label;
    }
    label.text = QStaticText(QFontMetricsF(font).elidedText(name, Qt::ElideRight, width));
    label.text.setTextFormat(Qt::PlainText);
    label.text.setPerformanceHint(QStaticText::AggressiveCaching);
    label.text.prepare(QTransform(), font);
    label.size = label.text.size();
    return label;
}

} // namespace

void PMPreviewDrawLabel(QPainter& painter, const QString& name, const QRectF& rect, bool center, bool selected, const QColor& color, bool largeFont)
{
    QRectF r = largeFont ? rect.adjusted(1, 0, -1, 0) : rect;
    if (r.width() <= 0)
        return;
    painter.save();
    const QFont font = PMPreviewLabelFont(selected, largeFont);
    painter.setFont(font);
    painter.setPen(color);
    // The name laid out once per name, width and font: tiles of a size are drawn again and
    // again (scrolling, hovering, new frames) and shaping the text anew each time is most of
    // a label's cost. A new name is shaped once, shortened or not.
    // A font's key is itself costly to make: the few label fonts keep theirs.
    static std::vector<std::pair<QFont, QString>> fontKeys;
    auto knownKey = std::find_if(fontKeys.begin(), fontKeys.end(), [&](const auto& known) { return known.first == font; });
    if (knownKey == fontKeys.end()) {
        if (fontKeys.size() >= 16)
            fontKeys.clear();
        knownKey = fontKeys.insert(fontKeys.end(), {font, font.key()});
    }
    const QString& fontKey = knownKey->second;
    static QHash<QString, LaidOutLabel> layouts;
    const QString key = fontKey + QChar(0x1f) + QString::number(std::lround(r.width() * 4)) + QChar(0x1f) + name;
    auto found = layouts.constFind(key);
    if (found == layouts.constEnd()) {
        if (layouts.size() > 8192)
            layouts.clear();
        found = layouts.insert(key, layOutLabel(name, font, fontKey, r.width()));
    }
    const QSizeF size = found->size;
    const QPointF origin(center ? r.center().x() - size.width() / 2 : r.left(), r.center().y() - size.height() / 2);
    if (found->useRuns) {
        for (const QGlyphRun& run : found->runs)
            painter.drawGlyphRun(origin, run);
    } else {
        painter.drawStaticText(origin, found->text);
    }
    painter.restore();
}

QString PMItemCountString(PMLibraryContainer& container)
{
    const std::uint64_t n = container.numberOfChildrenToDisplay();
    if (n == 0) {
        if (defaults().integerForKey(prefs::keys::ItemCountMode) == 1 || !defaults().boolForKey(prefs::keys::ShowZeroItemCounts))
            return QString();
        return QStringLiteral("0");
    }
    return QString::number(n);
}

bool PMShapesDifferMarkedly(double r, double t)
{
    if (!(std::isfinite(r) && std::isfinite(t)))
        return false;
    if (t > 1.1)
        return r < 0.9 || (t > 1.3 && r < 1.1);
    if (t < 0.9)
        return r > 1.1 || (t < 0.7 && r > 0.9);
    return false;
}

bool PMGroupTileBadgeFits(double labelWidth, double badgeTextWidth)
{
    return labelWidth - (badgeTextWidth + PMGroupTileBadgeExtra) > 30.0;
}

QColor PMMovieTileMissingFileColor()
{
    return QColor::fromRgbF(0.87, 0.2, 0.16);
}

int PMMovieTileRatingTint(bool onColour, bool dark, bool missing, bool labelsBelow, double rating)
{
    if (onColour)
        return 0;
    if (!dark)
        return 1;
    if (missing)
        return labelsBelow ? 1 : 0;
    const std::int64_t priority = defaults().integerForKey(prefs::keys::GoldStarPriority);
    if (priority > 0)
        return 2;
    if (priority == 0)
        return rating > 4 ? 2 : 0;
    return 0;
}

void PMDrawMovieTileHoverGlyph(QPainter& painter, const QRectF& rect, double scale, bool play)
{
    // Drawn in a 600-point square, scaled to the shorter side of the rectangle.
    const double side = std::min(rect.width(), rect.height()) * scale;
    if (side <= 1)
        return;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setOpacity(painter.opacity() * 0.8);
    painter.translate(rect.center().x() - side / 2, rect.center().y() - side / 2);
    painter.scale(side / 600.0, side / 600.0);
    painter.setPen(QPen(Qt::white, 26));
    painter.setBrush(QColor::fromRgbF(0.3, 0.3, 0.3, 0.3));
    painter.drawEllipse(QRectF(30, 30, 540, 540));
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::white);
    if (play) {
        const QPointF triangle[] = {{200, 170}, {200, 430}, {470, 300}};
        painter.drawPolygon(triangle, 3);
    } else {
        // An eye: a look at the file without playing it.
        QPainterPath eye;
        eye.moveTo(150, 300);
        eye.quadTo(300, 140, 450, 300);
        eye.quadTo(300, 460, 150, 300);
        painter.drawPath(eye);
        painter.setBrush(QColor::fromRgbF(0.3, 0.3, 0.3));
        painter.drawEllipse(QPointF(300, 300), 60, 60);
    }
    painter.restore();
}

PMTileCornerRadii PMTileCornerRadiiForFrame(const QRectF& frame, const QRectF& gridBounds, double windowRadius, double thumbnailRadius)
{
    PMTileCornerRadii radii{thumbnailRadius, thumbnailRadius, thumbnailRadius, thumbnailRadius};
    const double bottomGap = gridBounds.bottom() - frame.bottom();
    const double rightGap = gridBounds.right() - frame.right();
    if (bottomGap < windowRadius) {
        const double corner = windowRadius - std::max(rightGap, bottomGap);
        if (corner > thumbnailRadius)
            radii.bottomRight = corner;
    }
    return radii;
}

QPainterPath PMRoundedRectPathWithRadii(const QRectF& rect, const PMTileCornerRadii& radii)
{
    const double limit = std::min(rect.width(), rect.height()) / 2;
    const double tl = std::clamp(radii.topLeft, 0.0, limit), tr = std::clamp(radii.topRight, 0.0, limit);
    const double br = std::clamp(radii.bottomRight, 0.0, limit), bl = std::clamp(radii.bottomLeft, 0.0, limit);
    QPainterPath path;
    path.moveTo(rect.left() + tl, rect.top());
    path.lineTo(rect.right() - tr, rect.top());
    path.arcTo(QRectF(rect.right() - 2 * tr, rect.top(), 2 * tr, 2 * tr), 90, -90);
    path.lineTo(rect.right(), rect.bottom() - br);
    path.arcTo(QRectF(rect.right() - 2 * br, rect.bottom() - 2 * br, 2 * br, 2 * br), 0, -90);
    path.lineTo(rect.left() + bl, rect.bottom());
    path.arcTo(QRectF(rect.left(), rect.bottom() - 2 * bl, 2 * bl, 2 * bl), 270, -90);
    path.lineTo(rect.left(), rect.top() + tl);
    path.arcTo(QRectF(rect.left(), rect.top(), 2 * tl, 2 * tl), 180, -90);
    path.closeSubpath();
    return path;
}

QRectF PMMovieTileLabelFrame(const QRectF& bounds, bool labelsOverlaid, double bandHeight)
{
    if (labelsOverlaid)
        return QRectF(bounds.left(), bounds.top(), bounds.width(), bandHeight);
    return QRectF(bounds.left(), bounds.bottom() - bandHeight, bounds.width(), bandHeight);
}

QRectF PMMovieTilePictureFrame(const QRectF& bounds, bool staticLabels, bool labelsOverlaid, double bandHeight)
{
    if (!staticLabels)
        return bounds;
    const double h = std::max(0.0, bounds.height() - bandHeight);
    return QRectF(bounds.left(), labelsOverlaid ? bounds.bottom() - h : bounds.top(), bounds.width(), h);
}

QRectF PMMovieTileContextMenuButtonFrame(const QRectF& band, bool bandHoveredOrMenuOpen, bool tracksRating, bool fullyInteractive)
{
    if (!bandHoveredOrMenuOpen || tracksRating || !fullyInteractive)
        return {};
    return QRectF(band.left() + 2, band.top() + std::floor((band.height() - 18) / 2), 18, 18);
}

QRectF PMMovieTileRatingFrame(const QRectF& band, const PMMovieTileRatingState& s)
{
    if (!s.hasRatingControl)
        return {};
    const bool editing = (s.bandHovered || s.tracksRating) && !s.menuOpen && band.width() > 91;
    const bool shown = editing || ((s.labelsOverlaid || s.hovering || s.selected) && s.rating >= 1 && band.width() > 138);
    if (!shown)
        return {};
    const double x = band.right() - 68 + ((s.labelsOverlaid || s.selected) ? -2 : 3);
    return QRectF(x, band.top() + 1, 68, band.height() - 1);
}

QColor PMMovieTileLabelColor(bool missing, bool missingVolume, bool selected, bool dark, bool bandHoveredOrMenuOpen, double emphasis)
{
    if (missing)
        return missingVolume && !selected ? QColor::fromRgbF(0.5, 0.4, 0.3) : QColor(Qt::white);
    if (!dark && bandHoveredOrMenuOpen && !selected)
        return backwardsCompatibleControlAccentColor();
    QColor color = (!dark && !selected) ? QColor(Qt::black) : QColor(Qt::white);
    color.setAlphaF(float(0.8 + 0.2 * std::clamp(emphasis, 0.0, 1.0)));
    return color;
}

QColor PMMovieTileBandColor(bool dark)
{
    return dark ? QColor::fromRgbF(0.1, 0.1, 0.1, 0.4) : QColor::fromRgbF(1, 1, 1, 0.8);
}

void PMDrawMovieTileMenuGlyph(QPainter& painter, const QRectF& rect, const QColor& color)
{
    const double side = std::min(rect.width(), rect.height());
    if (side <= 2)
        return;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    const QRectF circle(rect.center().x() - side / 2 + 0.5, rect.center().y() - side / 2 + 0.5, side - 1, side - 1);
    painter.setPen(QPen(color, 1.0));
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(circle);
    painter.setPen(Qt::NoPen);
    painter.setBrush(color);
    const double dot = std::max(1.0, side / 12.0);
    for (int i = -1; i <= 1; ++i)
        painter.drawEllipse(QPointF(circle.center().x() + i * side * 0.25, circle.center().y()), dot, dot);
    painter.restore();
}

PMMovieTileOverlay PMMovieTileOverlayFor(const PMMovieTileOverlayInput& in)
{
    const bool faint = in.alpha < std::ldexp(1.0, -23);
    const bool hasMain = in.hasPoster || in.hasCover;
    if (!hasMain)
        return PMMovieTileOverlay::None;
    const double areaRatio = in.area.width() / std::max(1e-9, in.area.height());
    const bool areaEmpty = in.area.isEmpty();
    if (in.scaleToFit) {
        if (faint)
            return PMMovieTileOverlay::None;
        if (in.hasPoster && in.hasCover)
            return PMMovieTileOverlay::Cover;
        if (in.looksActive && !areaEmpty && PMShapesDifferMarkedly(in.mainRatio, areaRatio))
            return PMMovieTileOverlay::Main;
        return PMMovieTileOverlay::None;
    }
    if (in.coverMode)
        return faint || in.waterfall ? PMMovieTileOverlay::None : PMMovieTileOverlay::Main;
    if (in.hasCover && in.hasPoster)
        return faint || (in.waterfall && !in.hasPoster) ? PMMovieTileOverlay::None : PMMovieTileOverlay::Cover;
    if (faint || in.waterfall || areaEmpty)
        return PMMovieTileOverlay::None;
    if (in.scaleIndividually)
        return PMMovieTileOverlay::Main;
    return PMShapesDifferMarkedly(in.mainRatio, areaRatio) ? PMMovieTileOverlay::Main : PMMovieTileOverlay::None;
}

QRectF PMMovieTileOverlayFrame(const QRectF& area, double r, const PMMovieTileOverlayGeometry& g)
{
    const double tiny = std::ldexp(1.0, -23);
    if (!(area.height() > tiny) || !(r > tiny) || !std::isfinite(r))
        return area;
    const double t = area.width() / area.height();
    auto fitRatio = [&](double ratio) { return PMRectFittingAspectRatioInRect(area, ratio); };
    auto fillsHeight = [&](const QRectF& rect) { return rect.height() >= area.height() - 1e-6; };
    if (g.scaleIndividually) {
        QRectF fitted = fitRatio(r);
        if (fillsHeight(fitted))
            fitted.moveLeft(area.left() + (area.width() - fitted.width()) / 2);
        return fitted;
    }
    if (g.overlayIsMain && std::abs(r - t) < 0.1)
        return area;
    double target = t;
    if (r <= 0.95) {
        const bool coverArea = g.coverMode && !g.scaleToFit;
        if (!coverArea || t > 1.0)
            target = 1.0 / std::max(tiny, g.coverAspectRatio);
    } else if (r >= 1.05) {
        target = (g.coverMode || (g.overlayIsMain && t < 1.0)) ? g.previewAspectRatio : 1.0;
    } else {
        target = 1.0;
    }
    if (std::abs(target - t) < 0.1)
        return area;
    QRectF fitted = fitRatio(target);
    if (fillsHeight(fitted)) {
        const double free = area.width() - fitted.width();
        double x;
        if (g.cycling)
            x = free / 2;
        else if (g.position < 0.01)
            x = 0;
        else if (g.position > 0.99)
            x = free;
        else
            x = std::floor(free * g.position);
        fitted.moveLeft(area.left() + x);
    }
    return fitted;
}

bool PMMovieTileScalesIndividually(const platform::Value& stored, double pictureRatio, double areaRatio)
{
    if (stored.isBool())
        return stored.toBool();
    return (pictureRatio > 1.0) != (areaRatio > 1.0);
}

PMMovieTileAction PMMovieTileActionFor(const platform::Value& item, const platform::Value& equivalentContainer, bool canHover,
                                       bool fullyInteractive)
{
    if (!canHover || !fullyInteractive)
        return PMMovieTileAction::None;
    if (PMContainer(equivalentContainer))
        return PMMovieTileAction::OpenContainer;
    PMMovieRepresentationPrototype* movie = PMMovie(item);
    if (!movie)
        return PMMovieTileAction::None;
    if (movie->isMissing())
        return movie->isMissingVolume() ? PMMovieTileAction::None : PMMovieTileAction::PromptForFile;
    if (movie->isOnlineItem() || movie->canPlay() || !movie->applicationPath().isEmpty())
        return PMMovieTileAction::Play;
    return PMMovieTileAction::None;
}

bool PMMovieTileTriggerAction(const platform::Value& item, const platform::Value& equivalentContainer, bool canHover, bool fullyInteractive)
{
    switch (PMMovieTileActionFor(item, equivalentContainer, canHover, fullyInteractive)) {
    case PMMovieTileAction::None:
        return false;
    case PMMovieTileAction::OpenContainer:
        PMMainController::mainController().chooseGroup(PMContainerPtr(equivalentContainer));
        return true;
    case PMMovieTileAction::PromptForFile:
        PMMovie(item)->promptForURL();
        return true;
    case PMMovieTileAction::Play:
        PMMainController::mainController().chooseMovieRepresentation(item, false, true, !defaults().boolForKey(prefs::keys::DoNotPlayOnOpen),
                                                                     false);
        return true;
    }
    return false;
}

std::size_t PMMovieTileScrubIndex(double x, double width, std::size_t n)
{
    if (n == 0)
        return 0;
    const double span = width - 20.0;
    const double f = span > 0 ? (x - 10.0) / span : 0.0;
    if (!(f > 0))
        return 0;
    return std::min(static_cast<std::size_t>(std::floor(f * double(n))), n - 1);
}

// ---- Hover frames

PMMovieTileHover::PMMovieTileHover(bool neverCycles)
    : m_state(neverCycles ? NeverCycles : Ready)
{
}

double PMMovieTileHover::delay()
{
    return std::max(0.1, PMGridSettings::doubleValue(QStringLiteral("Cycle Through Index Image On Hover: Delay"), 2.0));
}

double PMMovieTileHover::interval()
{
    return std::max(0.01, PMGridSettings::doubleValue(QStringLiteral("Cycle Through Index Image On Hover: Interval"), 1.0));
}

double PMMovieTileHover::now() const
{
    if (clock)
        return clock();
    static QElapsedTimer timer = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return double(timer.nsecsElapsed()) / 1e9;
}

void PMMovieTileHover::schedule(double after)
{
    m_due = now() + after;
}

void PMMovieTileHover::setPointer(bool mayHover, bool hovering, bool onLabel)
{
    if (m_mayHover == mayHover && m_hovering == hovering && m_onLabel == onLabel)
        return;
    m_mayHover = mayHover;
    m_hovering = hovering;
    m_onLabel = onLabel;
    resetStandardIndexImageAnimation();
}

void PMMovieTileHover::resetStandardIndexImageAnimation()
{
    m_due = -1;
    const bool wasCycling = m_state >= 0;
    if (wasCycling) {
        m_state = Ready;
        if (changed)
            changed();
    }
    if (m_state == NeverCycles || m_state == Fetching)
        return;
    if (m_mayHover && m_hovering && !m_onLabel && PMGridSettings::boolValue(QStringLiteral("Cycle Through Index Image On Hover"), true))
        schedule(delay());
}

void PMMovieTileHover::pointerMoved()
{
    if (m_state == Ready && m_mayHover && m_hovering && !m_onLabel)
        resetStandardIndexImageAnimation();
}

bool PMMovieTileHover::advance()
{
    if (m_due < 0 || now() < m_due)
        return false;
    m_due = -1;
    performStandardIndexImageAnimation();
    return true;
}

void PMMovieTileHover::performStandardIndexImageAnimation()
{
    if (!(m_mayHover && m_hovering && !m_onLabel))
        return;
    const std::size_t n = cachedFrameCount ? cachedFrameCount() : 0;
    if (n > 0) {
        m_state = (m_state < 0 || std::size_t(m_state) + 1 >= n) ? 0 : m_state + 1;
        if (changed)
            changed();
        schedule(interval());
        return;
    }
    if (m_state != Ready || (itemIsMoving && itemIsMoving()) || !fetchFrames)
        return;
    m_state = Fetching;
    std::weak_ptr<int> alive = m_alive;
    fetchFrames([this, alive](std::size_t count) {
        if (alive.expired() || m_state != Fetching)
            return;
        if (count == 0) {
            m_state = NeverCycles; // a movie without frames is not asked again
            return;
        }
        if (m_mayHover && m_hovering && !m_onLabel) {
            m_state = 0;
            if (changed)
                changed();
            schedule(interval());
        } else {
            m_state = Ready;
        }
    });
}

bool PMMovieTileHover::scrub(double x, double width)
{
    if (m_state < 0)
        return false;
    const std::size_t n = cachedFrameCount ? cachedFrameCount() : 0;
    if (n == 0)
        return false;
    m_due = -1; // the pointer leads now, until the next reset
    const auto index = std::int64_t(PMMovieTileScrubIndex(x, width, n));
    if (index == m_state)
        return false;
    m_state = index;
    if (changed)
        changed();
    return true;
}
