#include "ui/commands/PMPreferencesWindow.h"

#include "platform/Alert.h"
#include "platform/UserDefaults.h"
#include "platform/Value.h"
#include "ui/kit/NSWindow+PMExtensions.h"

#include <QtGui/QCloseEvent>
#include <QtGui/QGuiApplication>
#include <QtGui/QIcon>
#include <QtGui/QKeyEvent>
#include <QtGui/QPainter>
#include <QtGui/QScreen>
#include <QtGui/QAction>
#include <QtGui/QActionGroup>
#include <QtWidgets/QApplication>
#include <QtWidgets/QStackedWidget>
#include <QtWidgets/QToolBar>
#include <QtWidgets/QVBoxLayout>

#include <cmath>

namespace {

platform::UserDefaults& defaults()
{
    return platform::UserDefaults::standard();
}

// A plain icon for desktops without an icon theme: the glyph in a rounded square.
QIcon fallbackIcon(QChar glyph, const QPalette& palette)
{
    QPixmap pixmap(64, 64);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(palette.color(QPalette::WindowText), 3));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(QRectF(4, 4, 56, 56), 12, 12);
    QFont font = painter.font();
    font.setPixelSize(34);
    font.setBold(true);
    painter.setFont(font);
    painter.drawText(QRectF(4, 4, 56, 56), Qt::AlignCenter, QString(glyph));
    return QIcon(pixmap);
}

} // namespace

PMPreferencesWindow::PMPreferencesWindow(QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("Preferences"));
    setWindowTitle(tr("Preferences"));
    setSizeGripEnabled(false);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    m_toolbar = new QToolBar(this);
    m_toolbar->setObjectName(QStringLiteral("Preferences Toolbar 4013"));
    m_toolbar->setMovable(false);
    m_toolbar->setFloatable(false);
    m_toolbar->setContextMenuPolicy(Qt::PreventContextMenu);
    m_toolbar->toggleViewAction()->setEnabled(false);
    m_toolbar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    m_toolbar->setIconSize(QSize(32, 32));
    layout->addWidget(m_toolbar);
    m_group = new QActionGroup(this);
    m_group->setExclusive(true);
    m_tabView = new QStackedWidget(this);
    layout->addWidget(m_tabView, 1);
}

void PMPreferencesWindow::addPane(const QString& identifier, const QString& label, const QString& themeIcon, QChar fallbackGlyph, QWidget* pane)
{
    // The desktop's icon theme first; else the program's own drawing of the pane; the
    // glyph only where neither can be drawn (no SVG support).
    QIcon fallback(QStringLiteral(":/icons/%1.svg").arg(themeIcon));
    if (fallback.pixmap(m_toolbar->iconSize()).isNull())
        fallback = fallbackIcon(fallbackGlyph, palette());
    QAction* item = m_toolbar->addAction(QIcon::fromTheme(themeIcon, fallback), label);
    item->setObjectName(identifier);
    item->setToolTip(label);
    item->setCheckable(true);
    item->setData(identifier);
    m_group->addAction(item);
    pane->setObjectName(identifier);
    m_tabView->addWidget(pane);
    connect(item, &QAction::triggered, this, [this, identifier] {
        selectPane(identifier);
        Q_EMIT paneChosen(identifier);
    });
}

QAction* PMPreferencesWindow::toolbarItem(const QString& identifier) const
{
    for (QAction* item : m_group->actions())
        if (item->data().toString() == identifier)
            return item;
    return nullptr;
}

QStringList PMPreferencesWindow::identifiers() const
{
    QStringList list;
    for (QAction* item : m_group->actions())
        list.append(item->data().toString());
    return list;
}

bool PMPreferencesWindow::selectPane(const QString& identifier)
{
    QAction* item = toolbarItem(identifier);
    QWidget* pane = m_tabView->findChild<QWidget*>(identifier, Qt::FindDirectChildrenOnly);
    if (!item || !pane)
        return false;
    item->setChecked(true);
    // Only the shown pane counts for the window's size: the others are ignored, so that the
    // window fits each pane rather than the largest one.
    for (int i = 0; i < m_tabView->count(); ++i) {
        QWidget* page = m_tabView->widget(i);
        page->setSizePolicy(page == pane ? QSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred)
                                         : QSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored));
    }
    m_tabView->setCurrentWidget(pane);
    m_tabView->updateGeometry();
    if (!m_restoring)
        defaults().setObject(platform::Value(identifier), paneKey());
    return true;
}

QString PMPreferencesWindow::selectedPane() const
{
    QWidget* pane = m_tabView->currentWidget();
    return pane ? pane->objectName() : QString();
}

bool PMPreferencesWindow::respondsToToggleToolbarShown() const
{
    return !m_toolbar->isVisibleTo(const_cast<PMPreferencesWindow*>(this));
}

void PMPreferencesWindow::toggleToolbarShown()
{
    if (!respondsToToggleToolbarShown()) {
        platform::beep();
        return;
    }
    m_toolbar->setVisible(!m_toolbar->isVisible());
}

void PMPreferencesWindow::makeKeyAndOrderFront()
{
    // Where the user left it, else in the middle of the screen.
    if (!isVisible() && !restoreFrame())
        center(this);
    show();
    raise();
    activateWindow();
}

void PMPreferencesWindow::saveFrame() const
{
    if (!isVisible() || m_restoring)
        return;
    const QRect g = geometry();
    const QString text = QStringLiteral("%1 %2 %3 %4").arg(g.x()).arg(g.y()).arg(g.width()).arg(g.height());
    if (defaults().stringForKey(frameKey()) != text)
        defaults().setObject(platform::Value(text), frameKey());
}

bool PMPreferencesWindow::restoreFrame()
{
    const QStringList parts = defaults().stringForKey(frameKey()).split(u' ', Qt::SkipEmptyParts);
    if (parts.size() != 4)
        return false;
    int numbers[4];
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        numbers[i] = parts[i].toInt(&ok);
        if (!ok)
            return false;
    }
    const QRect frame(numbers[0], numbers[1], numbers[2], numbers[3]);
    if (frame.width() < 100 || frame.height() < 100)
        return false;
    // A frame left on a screen that is gone is not restored: the window would be out of reach.
    bool onScreen = false;
    for (QScreen* screen : QGuiApplication::screens())
        onScreen = onScreen || screen->availableGeometry().intersects(frame);
    if (!onScreen)
        return false;
    m_restoring = true;
    setGeometry(frame);
    m_restoring = false;
    return true;
}

bool PMPreferencesWindow::event(QEvent* event)
{
    // Ctrl+. is taken before any text field of the window can read it as a character.
    if (event->type() == QEvent::ShortcutOverride) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Period && (key->modifiers() & Qt::ControlModifier)) {
            event->accept();
            return true;
        }
    }
    return QDialog::event(event);
}

void PMPreferencesWindow::keyPressEvent(QKeyEvent* event)
{
    const bool escape = event->key() == Qt::Key_Escape && !(event->modifiers() & ~Qt::KeypadModifier);
    const bool commandPeriod = event->key() == Qt::Key_Period && (event->modifiers() & Qt::ControlModifier);
    if (escape || commandPeriod) {
        performClose();
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void PMPreferencesWindow::closeEvent(QCloseEvent* event)
{
    saveFrame();
    QDialog::closeEvent(event);
}

void PMPreferencesWindow::moveEvent(QMoveEvent* event)
{
    QDialog::moveEvent(event);
    saveFrame();
}

void PMPreferencesWindow::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    saveFrame();
}

bool PMStaticMainPreferencesWindow::validateMenuItem(QAction* item) const
{
    if (!item)
        return false;
    item->setCheckable(true);
    item->setChecked(isVisible() && isActiveWindow());
    item->setEnabled(true);
    return true;
}

PMPreferenceSlider::PMPreferenceSlider(double minimum, double maximum, double resolution, QWidget* parent)
    : QSlider(Qt::Horizontal, parent)
    , m_minimum(minimum)
    , m_maximum(maximum)
    , m_resolution(resolution)
{
    setRange(0, int(std::lround((maximum - minimum) * resolution)));
    setSingleStep(1);
    setPageStep(std::max(1, int(std::lround((maximum - minimum) * resolution / 10))));
}

double PMPreferenceSlider::doubleValue() const
{
    return m_minimum + value() / m_resolution;
}

void PMPreferenceSlider::setDoubleValue(double value)
{
    if (!std::isfinite(value))
        value = m_minimum;
    setValue(int(std::lround((std::clamp(value, m_minimum, m_maximum) - m_minimum) * m_resolution)));
}
