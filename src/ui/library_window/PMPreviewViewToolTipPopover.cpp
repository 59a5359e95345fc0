#include "ui/library_window/PMPreviewViewToolTipPopover.h"
#include "ui/library_window/PMGridSettings.h"
#include "ui/kit/PMAppearance.h"

#include <QtCore/QPropertyAnimation>

#include "library/model/PMLibraryContainer.h"
#include "library/model/PMMovieRepresentation.h"
#include "library/model/PMSortLibraryItems.h"
#include "platform/UserDefaults.h"
#include "ui/kit/NSString+PMHelpManagerDrawing.h"
#include "ui/library_window/PMPreviewViewPrototype.h"

#include <QtGui/QFontMetricsF>
#include <QtGui/QGuiApplication>
#include <QtGui/QScreen>
#include <QtWidgets/QApplication>
#include <QtWidgets/QFrame>
#include <QtWidgets/QLabel>
#include <QtWidgets/QStyle>
#include <QtWidgets/QVBoxLayout>

#include <algorithm>
#include <cmath>


QString PMToolTipText(const platform::Value& item, double tileWidth, bool largeFont)
{
    PMLibraryContainer* container = PMContainer(item);
    if (!container) {
        PMMovieRepresentationPrototype* movie = PMMovie(item);
        return movie ? movie->toolTip() : QString();
    }
    const QString name = container->displayName();
    // The tag values that a smart group's subdivision has fixed, seen through a search's copy.
    using platform::Value;
    const Value proxyValue = container->value(QStringLiteral("Search Proxy"));
    const PMLibraryContainer* proxy = PMContainer(proxyValue) ? PMContainer(proxyValue) : container;
    const Value branchValue = proxy->value(QStringLiteral("Subdivision Branch"));
    const platform::DictionaryPtr branch = branchValue.isDictionary() ? branchValue.dictionary() : nullptr;
    const bool hasBranch = branch && !branch->isEmpty();
    if (tileWidth >= 0 && !name.isEmpty() && !hasBranch) {
        // The tile shows the whole name already: nothing to add.
        const QString count = PMItemCountString(*container);
        const double available = count.isEmpty() ? tileWidth - 2 * PMPreviewLabelInset()
                                                 : tileWidth - (badgeWidthUsingLargeFont(count, largeFont, false) + PMPreviewLabelInset() + 8);
        const double width = QFontMetricsF(PMPreviewLabelFont(false, largeFont)).horizontalAdvance(name);
        if (width < 1.05 * available + std::ldexp(1.0, -23))
            return QString();
    }
    QString text = name.trimmed();
    const qsizetype files = container->allNonProxyMovieChildren()->count();
    if (files > 0) {
        if (!text.isEmpty())
            text += QLatin1Char('\n');
        text += files == 1 ? QStringLiteral("1 file") : QStringLiteral("%1 files").arg(files);
    }
    if (hasBranch) {
        QStringList keys = branch->keys();
        std::sort(keys.begin(), keys.end(), [](const QString& a, const QString& b) { return PMCompareNamesBySortString(a, b) < 0; });
        for (const QString& key : keys) {
            const Value entry = branch->value(key);
            const Value values = entry.isDictionary() ? entry.dictionary()->value(QStringLiteral("Values")) : Value();
            if (!values.isArray())
                continue;
            QStringList shown;
            for (const Value& v : *values.array())
                shown << (v.isString() ? v.string() : v.description());
            if (!text.isEmpty())
                text += QLatin1Char('\n');
            text += QStringLiteral("•") + entry.dictionary()->value(QStringLiteral("Tag")).string() + QStringLiteral(": ") + shown.join(QStringLiteral(", "));
        }
    }
    return text;
}

PMPreviewViewToolTipPopover& PMPreviewViewToolTipPopover::shared()
{
    static PMPreviewViewToolTipPopover* popover = new PMPreviewViewToolTipPopover;
    return *popover;
}

PMPreviewViewToolTipPopover::PMPreviewViewToolTipPopover()
{
    m_delayTimer.setSingleShot(true);
    QObject::connect(&m_delayTimer, &QTimer::timeout, [this] {
        // Only a tile still waiting gets the popover.
        if (m_delayed && m_pending.grid)
            showNow();
    });
}

int PMPreviewViewToolTipPopover::delayMilliseconds()
{
    const int ms = QApplication::style() ? QApplication::style()->styleHint(QStyle::SH_ToolTip_WakeUpDelay) : 700;
    return ms < 1 ? 1000 : ms;
}

QString PMPreviewViewToolTipPopover::text() const
{
    return m_label ? m_label->text() : QString();
}

QWidget* PMPreviewViewToolTipPopover::window() const
{
    return m_frame;
}

bool PMPreviewViewToolTipPopover::isVisibleOrRecentlyHidden() const
{
    return m_previewView || (m_sinceHide.isValid() && m_sinceHide.elapsed() < 200);
}

void PMPreviewViewToolTipPopover::showForPreviewView(QWidget* grid, quint64 tile, const platform::Value& item, const QRectF& rect,
                                                     double labelWidth, bool fromPointer)
{
    if (!PMGridSettings::boolValue(QStringLiteral("Show Thumbnail Popover"), true) ||
        (!fromPointer && PMGridSettings::boolValue(QStringLiteral("Show Thumbnail Popover: Suppress While Scrolling"), false))) {
        hideForPreviewView(0);
        return;
    }
    if (m_previewView == tile && tile)
        return;
    m_delayTimer.stop();
    m_delayed = 0;
    m_pending = {grid, item, rect, labelWidth};
    if (!isVisibleOrRecentlyHidden()) {
        hideForPreviewView(0);
        m_delayed = tile;
        m_delayTimer.start(delayMilliseconds());
    } else {
        m_delayed = tile;
        showNow();
    }
}

void PMPreviewViewToolTipPopover::showNow()
{
    const quint64 tile = m_delayed;
    m_delayed = 0;
    QWidget* grid = m_pending.grid;
    if (!grid || !grid->isVisible()) {
        hideForPreviewView(0);
        return;
    }
    const QString text = PMToolTipText(m_pending.item, m_pending.labelWidth);
    if (text.isEmpty()) {
        hideForPreviewView(0);
        return;
    }
    if (!m_frame) {
        m_frame = new QFrame(nullptr, Qt::ToolTip | Qt::FramelessWindowHint);
        m_frame->setAttribute(Qt::WA_TransparentForMouseEvents);
        m_frame->setAttribute(Qt::WA_ShowWithoutActivating);
        m_frame->setFrameShape(QFrame::StyledPanel);
        auto* layout = new QVBoxLayout(m_frame);
        layout->setContentsMargins(8, 8, 8, 8);
        m_label = new QLabel(m_frame);
        m_label->setWordWrap(true);
        m_label->setTextFormat(Qt::PlainText);
        layout->addWidget(m_label);
    }
    // Fades in when it appears; a popover already shown moves to the new tile at full opacity.
    const bool appearing = !m_frame->isVisible();
    m_previewView = tile;
    QFont font = QGuiApplication::font();
    font.setPointSizeF(11);
    m_label->setFont(font);
    // A secondary text colour, but one that reads: at least 4.5:1 on the popover in the
    // light and the dark look alike.
    QPalette palette = QGuiApplication::palette();
    const QColor background = palette.color(QPalette::Window);
    palette.setColor(QPalette::WindowText, PMReadableTextColor(palette.color(QPalette::PlaceholderText), background));
    m_frame->setPalette(palette);
    m_frame->setAutoFillBackground(true);
    m_label->setForegroundRole(QPalette::WindowText);
    m_label->setText(text);
    // At most 0.3 of the screen's width and height.
    QScreen* screen = grid->screen();
    const QRect visible = screen ? screen->availableGeometry() : QRect(0, 0, 1600, 1000);
    const int maxWidth = int(std::floor(visible.width() * 0.3));
    const int maxHeight = int(std::floor(visible.height() * 0.3));
    m_label->setMaximumWidth(maxWidth);
    const QSize natural = QFontMetrics(font).boundingRect(QRect(0, 0, maxWidth, 10000), Qt::TextWordWrap, text).size();
    m_label->setFixedSize(std::min(natural.width() + 2, maxWidth), std::min(natural.height() + 2, maxHeight));
    m_frame->adjustSize();
    // Below the tile, centred on it, kept on the screen.
    const QRectF inset = m_pending.rect.adjusted(4, 4, -4, -4);
    QPoint at = grid->mapToGlobal(QPoint(int(inset.center().x() - m_frame->width() / 2.0), int(inset.bottom())));
    at.setX(std::clamp(at.x(), visible.left(), std::max(visible.left(), visible.right() - m_frame->width())));
    if (at.y() + m_frame->height() > visible.bottom())
        at.setY(grid->mapToGlobal(QPoint(0, int(inset.top()))).y() - m_frame->height());
    m_frame->move(at);
    if (appearing) {
        if (m_fade)
            m_fade->stop();
        m_frame->setWindowOpacity(0.0);
        m_frame->show();
        fadeTo(1.0);
    } else {
        if (m_fade)
            m_fade->stop();
        m_frame->setWindowOpacity(1.0);
        m_frame->show();
    }
    m_frame->raise();
}

void PMPreviewViewToolTipPopover::fadeTo(double opacity)
{
    if (!m_frame)
        return;
    if (!m_fade) {
        m_fade = new QPropertyAnimation(m_frame, "windowOpacity", m_frame);
        m_fade->setDuration(200);
        QObject::connect(m_fade, &QPropertyAnimation::finished, m_frame, [this] {
            // Faded out and not asked for again meanwhile: closed.
            if (m_frame->windowOpacity() <= 0.0 && !m_previewView)
                m_frame->hide();
        });
    }
    m_fade->stop();
    m_fade->setStartValue(m_frame->windowOpacity());
    m_fade->setEndValue(opacity);
    m_fade->start();
}

void PMPreviewViewToolTipPopover::hideForPreviewView(quint64 tile)
{
    if (m_previewView && (!tile || tile == m_previewView)) {
        m_sinceHide.start();
        m_previewView = 0;
        if (m_frame && m_frame->isVisible())
            fadeTo(0.0);
        else if (m_frame)
            m_frame->hide();
    }
    if (m_delayed && (!tile || tile == m_delayed)) {
        m_delayed = 0;
        m_delayTimer.stop();
    }
}
