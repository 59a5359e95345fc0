#include "ui/library_window/PMQuibScopeBar.h"

#include "platform/Responder.h"
#include "ui/kit/NSFont+PMBackwardsCompatibleSystemFont.h"
#include "ui/kit/PMAppearance.h"

#include <QtGui/QFontInfo>
#include <QtGui/QLinearGradient>
#include <QtGui/QMouseEvent>
#include <QtGui/QPainter>
#include <QtGui/QPainterPath>
#include <QtWidgets/QLabel>
#include <QtWidgets/QMenu>

#include <algorithm>
#include <cmath>

namespace {

constexpr double kSpacing = 6.0;         // between controls, and after a label
constexpr double kSeparatorWidth = 15.0; // the room a separator takes
constexpr double kSeparatorOffset = 4.0; // its line, after the previous content
constexpr double kPopUpExtra = 25.0;     // a pop-up is as wide as its widest button plus this
constexpr double kMinimumPopUpWidth = 60.0;
constexpr int kButtonHeight = 19;
constexpr int kPopUpHeight = 20;
constexpr double kButtonPadding = 8.0;
constexpr double kImageSize = 14.0;
constexpr double kImageGap = 3.0;

PMQuibScopeBar* barOf(const QWidget* control)
{
    for (QWidget* w = control ? control->parentWidget() : nullptr; w; w = w->parentWidget())
        if (auto* bar = qobject_cast<PMQuibScopeBar*>(w))
            return bar;
    return nullptr;
}

bool drawsDark(const QWidget* control)
{
    if (PMQuibScopeBar* bar = barOf(control))
        return bar->assumesDarkMode();
    return isInFullyInvertedDarkMode(control);
}

QColor titleColorFor(bool dark, bool on, bool enabled)
{
    QColor color = dark ? QColor(255, 255, 255) : QColor(0, 0, 0);
    color.setAlphaF(!enabled ? 0.3 : on ? 0.88 : 0.72);
    return color;
}

void setControlState(QObject* control, bool on)
{
    if (auto* button = qobject_cast<QAbstractButton*>(control))
        button->setChecked(on);
    else if (auto* item = qobject_cast<QAction*>(control))
        item->setChecked(on);
}

QString controlTitle(QObject* control)
{
    if (auto* button = qobject_cast<QAbstractButton*>(control))
        return button->text();
    if (auto* item = qobject_cast<QAction*>(control))
        return item->text();
    return {};
}

QIcon controlImage(QObject* control)
{
    if (auto* button = qobject_cast<QAbstractButton*>(control))
        return button->icon();
    if (auto* item = qobject_cast<QAction*>(control))
        return item->icon();
    return {};
}

bool controlEnabled(QObject* control)
{
    if (auto* button = qobject_cast<QAbstractButton*>(control))
        return button->isEnabled();
    if (auto* item = qobject_cast<QAction*>(control))
        return item->isEnabled();
    return true;
}

// Takes a control out of the bar now; it is deleted once the event that may have come
// from it is over.
void discard(QObject* object)
{
    if (!object)
        return;
    if (auto* widget = qobject_cast<QWidget*>(object))
        widget->hide();
    object->deleteLater();
}

void drawTitle(QPainter& painter, const QRectF& area, const QString& title, const QIcon& image, const QFont& font, const QColor& color,
               Qt::Alignment alignment)
{
    QRectF text = area;
    const QFontMetricsF metrics(font);
    const QString elided = metrics.elidedText(title, Qt::ElideRight, std::max(0.0, text.width() - (image.isNull() ? 0 : kImageSize + kImageGap)));
    double contentWidth = metrics.horizontalAdvance(elided) + (image.isNull() ? 0 : kImageSize + kImageGap);
    double x = alignment & Qt::AlignHCenter ? area.left() + std::floor((area.width() - contentWidth) / 2) : area.left();
    if (!image.isNull()) {
        const QRectF imageRect(x, area.top() + std::floor((area.height() - kImageSize) / 2), kImageSize, kImageSize);
        image.paint(&painter, imageRect.toRect());
        x += kImageSize + kImageGap;
    }
    painter.setFont(font);
    painter.setPen(color);
    painter.drawText(QRectF(x, area.top(), area.right() - x, area.height()), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, elided);
}

void drawDownArrow(QPainter& painter, const QRectF& area, const QColor& color)
{
    const QPointF centre(area.right() - 10, area.center().y() + 0.5);
    QPainterPath path;
    path.moveTo(centre + QPointF(-3, -1.5));
    path.lineTo(centre + QPointF(0, 1.5));
    path.lineTo(centre + QPointF(3, -1.5));
    painter.setPen(QPen(color, 1.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(path);
}

} // namespace

// ---- The delegate's optional operations --------------------------------------------

QuibScopeBarDelegate::~QuibScopeBarDelegate() = default;
std::optional<bool> QuibScopeBarDelegate::isMenuScopeBar(PMQuibScopeBar*) { return std::nullopt; }
std::optional<bool> QuibScopeBarDelegate::assumeDarkModeForScopeBar(PMQuibScopeBar*) { return std::nullopt; }
std::optional<bool> QuibScopeBarDelegate::scopeBarShowSeparatorBeforeGroup(PMQuibScopeBar*, long long) { return std::nullopt; }
std::optional<bool> QuibScopeBarDelegate::scopeBarEnableItemInGroup(PMQuibScopeBar*, const QString&, long long) { return std::nullopt; }
std::optional<PMScopeBarTextAttributes> QuibScopeBarDelegate::scopeBarTitleAttributesForItemInGroup(PMQuibScopeBar*, const QString&, long long)
{
    return std::nullopt;
}
std::optional<QIcon> QuibScopeBarDelegate::scopeBarImageForItemInGroup(PMQuibScopeBar*, const QString&, long long) { return std::nullopt; }
QWidget* QuibScopeBarDelegate::accessoryViewForScopeBar(PMQuibScopeBar*) { return nullptr; }
bool QuibScopeBarDelegate::scopeBarSelectedStateChangedForItemInGroup(PMQuibScopeBar*, bool, const QString&, long long) { return false; }

// ---- Buttons -----------------------------------------------------------------------

PMQuibScopeBarButton::PMQuibScopeBarButton(QWidget* parent) : QAbstractButton(parent)
{
    setCheckable(true); // push on, push off
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_Hover);
    resize(50, 20);
}

void PMQuibScopeBarButton::setShowsBorderOnlyWhileMouseInside(bool flag)
{
    _borderOnlyWhileMouseInside = flag;
    update();
}

QSize PMQuibScopeBarButton::sizeHint() const
{
    const QFontMetricsF metrics(font());
    double width = std::ceil(metrics.horizontalAdvance(text())) + 2 * kButtonPadding;
    if (!icon().isNull())
        width += kImageSize + (text().isEmpty() ? 0 : kImageGap);
    return QSize(int(width), kButtonHeight);
}

void PMQuibScopeBarButton::sizeToFit()
{
    resize(sizeHint());
}

void PMQuibScopeBarButton::drawRecessedBezel(QPainter& painter, const QRectF& frame, bool on, bool hovered, bool pressed, bool bordered,
                                             bool dark, bool enabled)
{
    const QRectF rect = frame.adjusted(0.5, 0.5, -0.5, -0.5);
    const double radius = 4.5;
    const QColor ink = dark ? QColor(255, 255, 255) : QColor(0, 0, 0);
    double fill = 0;
    if (on)
        fill = dark ? 0.17 : 0.13;
    if (pressed && enabled)
        fill += dark ? 0.10 : 0.08;
    else if (hovered && enabled && !on)
        fill = dark ? 0.06 : 0.04;
    painter.setRenderHint(QPainter::Antialiasing);
    if (fill > 0) {
        QColor color = ink;
        color.setAlphaF(fill);
        painter.setPen(Qt::NoPen);
        painter.setBrush(color);
        painter.drawRoundedRect(rect, radius, radius);
    }
    if (bordered) {
        QColor color = ink;
        color.setAlphaF(on ? (dark ? 0.22 : 0.16) : (dark ? 0.28 : 0.2));
        painter.setPen(QPen(color, 1));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(rect, radius, radius);
    }
    // The sunken look: a faint shade along the top edge inside a pressed-in button.
    if (on) {
        QColor shade = QColor(0, 0, 0);
        shade.setAlphaF(dark ? 0.25 : 0.08);
        painter.setPen(QPen(shade, 1));
        painter.drawLine(QPointF(rect.left() + radius, rect.top() + 1), QPointF(rect.right() - radius, rect.top() + 1));
    }
}

void PMQuibScopeBarButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const bool dark = drawsDark(this);
    const bool bordered = !_borderOnlyWhileMouseInside || (_hovered && isEnabled());
    drawRecessedBezel(painter, rect(), isChecked(), _hovered, isDown(), bordered, dark, isEnabled());
    const QColor color = _titleColor.isValid() && isEnabled() ? _titleColor : titleColorFor(dark, isChecked(), isEnabled());
    drawTitle(painter, QRectF(rect()).adjusted(kButtonPadding - 1, 0, -(kButtonPadding - 1), 0), text(), icon(), font(), color,
              Qt::AlignHCenter);
}

void PMQuibScopeBarButton::enterEvent(QEnterEvent* event)
{
    _hovered = true;
    update();
    QAbstractButton::enterEvent(event);
}

void PMQuibScopeBarButton::leaveEvent(QEvent* event)
{
    _hovered = false;
    update();
    QAbstractButton::leaveEvent(event);
}

// ---- The recessed pop-up look ------------------------------------------------------------

QuibRecessedPopUpButtonCell::QuibRecessedPopUpButtonCell() : _button(std::make_unique<PMQuibScopeBarButton>())
{
    _button->resize(30, 20);
    _button->setText(QString());
    _button->setShowsBorderOnlyWhileMouseInside(false);
    _button->setChecked(true);
    _button->hide();
}

QuibRecessedPopUpButtonCell::~QuibRecessedPopUpButtonCell() = default;

void QuibRecessedPopUpButtonCell::drawBezelWithFrame(QPainter& painter, const QRectF& frame, QWidget* inView, bool bordered, bool hovered,
                                                     bool pressed)
{
    _button->setGeometry(frame.toRect());
    // Without a selection the pop-up has no border and reads as a button that is off.
    PMQuibScopeBarButton::drawRecessedBezel(painter, frame, bordered && _button->isChecked(), hovered, pressed, bordered, drawsDark(inView),
                                            inView->isEnabled());
}

void QuibRecessedPopUpButtonCell::drawTitleWithFrame(QPainter& painter, const QRectF& frame, QWidget* inView, const QString& title,
                                                     const QIcon& image)
{
    const auto* popUp = qobject_cast<PMQuibScopeBarPopUpButton*>(inView);
    const bool on = popUp ? popUp->isBordered() : true;
    // The title sits where the buttons' titles sit (Qt centres it already; no baseline
    // correction is needed).
    drawTitle(painter, frame, title, image, inView->font(), titleColorFor(drawsDark(inView), on, inView->isEnabled()),
              Qt::AlignLeft);
}

// ---- Pop-ups -----------------------------------------------------------------------

PMQuibScopeBarPopUpButton::PMQuibScopeBarPopUpButton(long long selectionMode, QWidget* parent)
    : QAbstractButton(parent), _selectionMode(selectionMode), _menu(new QMenu(this))
{
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_Hover);
    if (selectionMode == 1)
        _cell = std::make_unique<QuibRecessedPopUpButtonCell>();
}

PMQuibScopeBarPopUpButton::~PMQuibScopeBarPopUpButton() = default;

void PMQuibScopeBarPopUpButton::setBordered(bool flag)
{
    _bordered = flag;
    update();
}

void PMQuibScopeBarPopUpButton::setImage(const QIcon& image)
{
    _image = image;
    update();
}

QSize PMQuibScopeBarPopUpButton::sizeHint() const
{
    const QFontMetricsF metrics(font());
    double widest = metrics.horizontalAdvance(text());
    for (QAction* item : _menu->actions())
        widest = std::max(widest, metrics.horizontalAdvance(item->text()) + (item->icon().isNull() ? 0 : kImageSize + kImageGap));
    // The widest item's button, and room for the arrow.
    return QSize(int(std::ceil(widest) + 2 * kButtonPadding + kPopUpExtra), kPopUpHeight);
}

void PMQuibScopeBarPopUpButton::sizeToFit()
{
    resize(sizeHint());
}

void PMQuibScopeBarPopUpButton::showMenu()
{
    if (!isEnabled())
        return;
    setDown(true);
    _menu->setFont(font());
    // A choice may rebuild the bar, and this pop-up with it.
    const QPointer<PMQuibScopeBarPopUpButton> self(this);
    _menu->exec(mapToGlobal(QPoint(0, height())));
    if (!self)
        return;
    setDown(false);
    _hovered = rect().contains(mapFromGlobal(QCursor::pos()));
    update();
}

void PMQuibScopeBarPopUpButton::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        showMenu();
    else
        QAbstractButton::mousePressEvent(event);
}

void PMQuibScopeBarPopUpButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const bool dark = drawsDark(this);
    const QRectF frame = rect();
    const QRectF titleArea = frame.adjusted(kButtonPadding, 0, -(kButtonPadding + 12), 0);
    if (_cell) {
        _cell->drawBezelWithFrame(painter, frame, this, _bordered, _hovered, isDown());
        _cell->drawTitleWithFrame(painter, titleArea, this, text(), _image);
    } else {
        // A radio group always has its item: the pop-up reads as that item's button, on.
        PMQuibScopeBarButton::drawRecessedBezel(painter, frame, true, _hovered, isDown(), true, dark, isEnabled());
        drawTitle(painter, titleArea, text(), _image, font(), titleColorFor(dark, true, isEnabled()), Qt::AlignLeft);
    }
    drawDownArrow(painter, frame, titleColorFor(dark, true, isEnabled()));
}

void PMQuibScopeBarPopUpButton::enterEvent(QEnterEvent* event)
{
    _hovered = true;
    update();
    QAbstractButton::enterEvent(event);
}

void PMQuibScopeBarPopUpButton::leaveEvent(QEvent* event)
{
    _hovered = false;
    update();
    QAbstractButton::leaveEvent(event);
}

// ---- The bar -----------------------------------------------------------------------

PMQuibScopeBar::PMQuibScopeBar(QWidget* parent) : QWidget(parent)
{
    _smartResizeEnabled = true;
    setCanReloadData(true);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    QWidget::setFont(barFont());
    resize(width(), int(barHeight));
}

PMQuibScopeBar::~PMQuibScopeBar()
{
    // The accessory view belongs to the delegate.
    if (_accessoryView && _accessoryView->parentWidget() == this)
        _accessoryView->setParent(nullptr);
}

void PMQuibScopeBar::setDelegate(QuibScopeBarDelegate* delegate)
{
    if (delegate == _delegate)
        return;
    _delegate = delegate;
    reloadData();
}

QFont PMQuibScopeBar::barFont() const
{
    return backwardsCompatibleSystemFontOfSize(fontSize(), 2);
}

QColor PMQuibScopeBar::labelColor() const
{
    QColor color = assumesDarkMode() ? QColor(255, 255, 255) : QColor(0, 0, 0);
    color.setAlphaF(assumesDarkMode() ? 0.55 : 0.5);
    return color;
}

QColor PMQuibScopeBar::gradientTopColor() const
{
    return _isInDarkMode ? QColor::fromRgbF(0.25, 0.25, 0.25) : QColor::fromRgbF(1.0, 1.0, 1.0);
}

QColor PMQuibScopeBar::gradientBottomColor() const
{
    return _isInDarkMode ? QColor::fromRgbF(0.24, 0.24, 0.24) : QColor::fromRgbF(0.99, 0.99, 0.99);
}

QColor PMQuibScopeBar::borderColor() const
{
    return QColor::fromRgbF(0, 0, 0, _isInDarkMode ? 0.7 : 0.2);
}

QColor PMQuibScopeBar::separatorColor() const
{
    return QColor::fromRgbF(0, 0, 0, _isInDarkMode ? 0.3 : 0.2);
}

bool PMQuibScopeBar::assumesDarkMode() const
{
    if (_delegate)
        if (const std::optional<bool> dark = _delegate->assumeDarkModeForScopeBar(const_cast<PMQuibScopeBar*>(this)))
            return *dark;
    return isInFullyInvertedDarkMode(this);
}

bool PMQuibScopeBar::smartResizeEnabled() const
{
    if (_delegate && _delegate->isMenuScopeBar(const_cast<PMQuibScopeBar*>(this)).value_or(false))
        return false;
    return _smartResizeEnabled;
}

void PMQuibScopeBar::setSmartResizeEnabled(bool flag)
{
    if (flag == _smartResizeEnabled)
        return;
    _smartResizeEnabled = flag;
    reloadData();
}

void PMQuibScopeBar::sizeToFit()
{
    if (height() != int(barHeight))
        resize(width(), int(barHeight)); // the top edge stays where it is
}

QSize PMQuibScopeBar::sizeHint() const
{
    double width = _totalGroupsWidth + 2 * horizontalInset();
    if (_accessoryView)
        width += _accessoryView->width() + kSpacing;
    return QSize(int(std::ceil(std::max(width, minimumWidth()))), int(barHeight));
}

QSize PMQuibScopeBar::minimumSizeHint() const
{
    return QSize(int(std::ceil(minimumWidth())), int(barHeight));
}

double PMQuibScopeBar::minimumWidth() const
{
    if (smartResizeEnabled())
        return 0;
    int right = 0;
    for (QObject* child : children())
        if (auto* widget = qobject_cast<QWidget*>(child); widget && !widget->isHidden())
            right = std::max(right, widget->geometry().x() + widget->width());
    return horizontalInset() + right;
}

void PMQuibScopeBar::clearContent()
{
    if (_accessoryView && _accessoryView->parentWidget() == this) {
        _accessoryView->hide();
        _accessoryView->setParent(nullptr);
    }
    _accessoryView = nullptr;
    for (Group& group : _groups) {
        discard(group.labelField);
        discard(group.popupButton);
        if (!group.menuMode)
            for (const QPointer<QObject>& control : group.buttons)
                discard(control);
    }
    _groups.clear();
    _identifiers.clear();
    _selectedItems.clear();
    _separatorPositions.clear();
    _firstCollapsedGroup = -1;
    _lastWidth = kNoWidth;
    _totalGroupsWidth = 0;
    _totalGroupsWidthForPopups = 0;
}

bool PMQuibScopeBar::reloadData()
{
    if (!_canReloadData)
        return false;
    sizeToFit();
    clearContent();
    if (!_delegate) {
        update();
        updateGeometry();
        return true;
    }

    const long long count = std::max(0LL, _delegate->numberOfGroupsInScopeBar(this));
    double x = std::floor(horizontalInset());
    for (long long g = 0; g < count; ++g) {
        Group group;
        group.hasSeparator = _delegate->scopeBarShowSeparatorBeforeGroup(this, g).value_or(g > 0);
        if (group.hasSeparator) {
            _separatorPositions.push_back(int(x + kSeparatorOffset));
            x += kSeparatorWidth;
            _totalGroupsWidth += kSeparatorWidth;
            _totalGroupsWidthForPopups += kSeparatorWidth;
        } else {
            _separatorPositions.push_back(std::nullopt);
        }
        const QString label = _delegate->scopeBarLabelForGroup(this, g);
        if (!label.isEmpty()) {
            QLabel* field = labelFieldWithFrame(QRect());
            field->setText(label);
            field->adjustSize();
            field->move(int(x), int(barHeight) - 6 - field->height());
            field->show();
            x += field->width() + kSpacing;
            _totalGroupsWidth += field->width() + kSpacing;
            _totalGroupsWidthForPopups += field->width() + kSpacing;
            group.hasLabel = true;
            group.labelField = field;
        }
        group.selectionMode = _delegate->scopeBarSelectionModeForGroup(this, g) == 1 ? 1 : 0;
        _groups.push_back(group);
        _selectedItems.emplace_back();

        Group& added = _groups.back();
        double total = 0;
        double widest = 0;
        for (const QString& identifier : _delegate->scopeBarItemIdentifiersForGroup(this, g)) {
            if (identifier.isEmpty() || added.identifiers.contains(identifier))
                continue;
            added.identifiers.append(identifier);
            const QString title = _delegate->scopeBarTitleOfItemInGroup(this, identifier, g);
            const QIcon image = _delegate->scopeBarImageForItemInGroup(this, identifier, g).value_or(QIcon());
            const std::optional<PMScopeBarTextAttributes> attributes = _delegate->scopeBarTitleAttributesForItemInGroup(this, identifier, g);
            PMQuibScopeBarButton* button = buttonForItem(identifier, g, title, attributes, image);
            if (const std::optional<bool> enabled = _delegate->scopeBarEnableItemInGroup(this, identifier, g))
                button->setEnabled(*enabled);
            button->move(int(x), button->y());
            button->show();
            x += std::floor(button->width() + kSpacing);
            total += button->width() + (added.buttons.empty() ? 0 : kSpacing);
            widest = std::max(widest, double(button->width()));
            added.buttons.emplace_back(button);
        }
        added.totalButtonsWidth = total;
        added.widestButtonWidth = widest;
        _totalGroupsWidth += total;
        _totalGroupsWidthForPopups += widest + kPopUpExtra;
        added.cumulativeWidth = _totalGroupsWidth + kSpacing * double(g);
        if (added.selectionMode == 0 && !added.identifiers.isEmpty())
            setSelected(true, added.identifiers.first(), g, false);
    }
    if (count > 0) {
        _totalGroupsWidth += kSpacing * double(count - 1);
        _totalGroupsWidthForPopups += kSpacing * double(count - 1);
    }

    if (QWidget* accessory = _delegate->accessoryViewForScopeBar(this)) {
        _accessoryView = accessory;
        if (accessory->parentWidget() != this)
            accessory->setParent(this);
        placeAccessoryView();
        accessory->show();
        accessory->raise();
    }
    adjustSubviews();
    updateGeometry();
    update();
    return true;
}

void PMQuibScopeBar::placeAccessoryView()
{
    if (!_accessoryView)
        return;
    _accessoryView->move(int(std::round(width() - (_accessoryView->width() + horizontalInset()))),
                         int(std::round((barHeight - _accessoryView->height()) / 2)));
}

PMQuibScopeBarButton* PMQuibScopeBar::buttonForItem(const QString& identifier, long long inGroup, const QString& withTitle,
                                                    const std::optional<PMScopeBarTextAttributes>& attributes, const QIcon& image)
{
    auto* button = new PMQuibScopeBarButton(this);
    button->setText(withTitle);
    button->setRepresentedObject(identifier);
    button->setTag(inGroup);
    const QFont font = attributes && attributes->font ? *attributes->font : barFont();
    if (QFontInfo(font).pixelSize() < 11.5) // the bar's own 11 points are small
        setControlSize(button, PMControlSize::Small);
    button->setFont(font);
    if (attributes && attributes->color)
        button->setTitleColor(*attributes->color);
    button->setIcon(image);
    button->setIconSize(QSize(int(kImageSize), int(kImageSize)));
    button->sizeToFit();
    button->move(button->x(), int(std::floor((barHeight - button->height()) / 2)));
    if (_accessoryView)
        button->stackUnder(_accessoryView);
    connect(button, &QAbstractButton::clicked, this, [this, button] { scopeButtonClicked(button); });
    setControl(button, identifier, inGroup);
    return button;
}

QAction* PMQuibScopeBar::menuItemForItem(const QString& identifier, long long inGroup, const QString& withTitle, const QIcon& image)
{
    auto* item = new QAction(withTitle, this);
    item->setCheckable(true);
    item->setIcon(image);
    item->setIconVisibleInMenu(!image.isNull());
    platform::setMenuItemRepresentedObject(item, platform::Value(identifier));
    platform::setMenuItemTag(item, inGroup);
    connect(item, &QAction::triggered, this, [this, item] { scopeButtonClicked(item); });
    setControl(item, identifier, inGroup);
    return item;
}

PMQuibScopeBarPopUpButton* PMQuibScopeBar::popupButtonForGroup(long long group)
{
    if (group < 0 || group >= groupCount())
        return nullptr;
    Group& record = _groups[size_t(group)];
    auto* popUp = new PMQuibScopeBarPopUpButton(record.selectionMode, this);
    popUp->setFont(barFont());
    popUp->resize(int(std::floor(record.widestButtonWidth + kPopUpExtra)), kPopUpHeight);
    for (qsizetype i = 0; i < qsizetype(record.buttons.size()); ++i) {
        QObject* button = record.buttons[size_t(i)];
        const QString identifier = i < record.identifiers.size() ? record.identifiers[i] : QString();
        if (!button || identifier.isEmpty())
            continue;
        QAction* item = menuItemForItem(identifier, group, controlTitle(button), controlImage(button));
        item->setParent(popUp->menu());
        item->setChecked(_selectedItems[size_t(group)].contains(identifier));
        item->setEnabled(controlEnabled(button));
        popUp->menu()->addAction(item);
        record.buttons[size_t(i)] = item;
    }
    if (record.selectionMode == 0)
        popUp->sizeToFit();
    popUp->move(popUp->x(), int(std::ceil((barHeight - popUp->height()) / 2)));
    return popUp;
}

QLabel* PMQuibScopeBar::labelFieldWithFrame(const QRect& frame)
{
    auto* field = new QLabel(this);
    field->setGeometry(frame);
    field->setFont(barFont());
    field->setAutoFillBackground(false);
    field->setFrameShape(QFrame::NoFrame);
    field->setTextInteractionFlags(Qt::NoTextInteraction);
    QPalette palette = field->palette();
    palette.setColor(QPalette::WindowText, labelColor());
    field->setPalette(palette);
    return field;
}

void PMQuibScopeBar::setControl(QObject* control, const QString& forIdentifier, long long inGroup)
{
    if (inGroup < 0)
        return;
    std::vector<QPointer<QObject>>& controls = _identifiers[forIdentifier];
    if (controls.size() <= size_t(inGroup))
        controls.resize(size_t(inGroup) + 1); // gaps hold nothing
    controls[size_t(inGroup)] = control;
}

QObject* PMQuibScopeBar::getButtonForItem(const QString& identifier, long long inGroup) const
{
    const auto it = _identifiers.constFind(identifier);
    if (it == _identifiers.constEnd() || inGroup < 0 || size_t(inGroup) >= it->size())
        return nullptr;
    return (*it)[size_t(inGroup)];
}

void PMQuibScopeBar::updateMenuTitleForGroupAtIndex(long long group)
{
    if (group < 0 || group >= groupCount())
        return;
    PMQuibScopeBarPopUpButton* popUp = _groups[size_t(group)].popupButton;
    if (!popUp)
        return;
    const QStringList& selected = _selectedItems[size_t(group)];
    if (selected.size() == 1) {
        QObject* control = getButtonForItem(selected.first(), group);
        popUp->setText(controlTitle(control));
        popUp->setImage(controlImage(control));
    } else {
        popUp->setText(selected.isEmpty() ? QStringLiteral("(None)") : QStringLiteral("(Multiple)"));
        popUp->setImage(QIcon());
    }
    if (!selected.isEmpty())
        popUp->setBordered(true);
    else if (popUp->isBordered())
        popUp->setBordered(false);
    popUp->update();
}

void PMQuibScopeBar::setSelected(bool selected, const QString& forItem, long long inGroup, bool informDelegate)
{
    if (forItem.isEmpty() || inGroup < 0 || inGroup >= groupCount())
        return;
    const Group& group = _groups[size_t(inGroup)];
    if (!group.identifiers.contains(forItem))
        return;
    if (group.selectionMode == 0) {
        if (selected) {
            const QStringList others = _selectedItems[size_t(inGroup)];
            for (const QString& other : others)
                if (other != forItem)
                    updateSelectedState(false, other, inGroup, false);
        } else if (_selectedItems[size_t(inGroup)].contains(forItem)) {
            // A radio group keeps its item: a click that turned the button off is undone.
            setControlState(getButtonForItem(forItem, inGroup), true);
            return;
        }
    }
    updateSelectedState(selected, forItem, inGroup, informDelegate);
    if (_groups[size_t(inGroup)].menuMode)
        updateMenuTitleForGroupAtIndex(inGroup);
}

void PMQuibScopeBar::updateSelectedState(bool selected, const QString& forItem, long long inGroup, bool informDelegate)
{
    if (inGroup < 0 || inGroup >= groupCount())
        return;
    setControlState(getButtonForItem(forItem, inGroup), selected);
    QStringList& list = _selectedItems[size_t(inGroup)];
    if (selected) {
        if (!list.contains(forItem))
            list.append(forItem);
    } else {
        list.removeAll(forItem);
    }
    if (informDelegate && _delegate)
        _delegate->scopeBarSelectedStateChangedForItemInGroup(this, selected, forItem, inGroup);
}

void PMQuibScopeBar::scopeButtonClicked(QObject* sender)
{
    QString identifier;
    long long group = -1;
    bool selected = false;
    if (auto* item = qobject_cast<QAction*>(sender)) {
        identifier = platform::menuItemRepresentedObject(item).string();
        group = platform::menuItemTag(item);
        selected = !(group >= 0 && group < groupCount() && _selectedItems[size_t(group)].contains(identifier));
    } else if (auto* button = qobject_cast<PMQuibScopeBarButton*>(sender)) {
        identifier = button->representedObject();
        group = button->tag();
        selected = button->isChecked();
    } else {
        return;
    }
    setSelected(selected, identifier, group, true);
}

// ---- Smart resize ------------------------------------------------------------------

double PMQuibScopeBar::groupLeftEdge(long long group) const
{
    const Group& record = _groups[size_t(group)];
    if (record.menuMode && record.popupButton)
        return record.popupButton->x();
    for (const QPointer<QObject>& control : record.buttons)
        if (auto* widget = qobject_cast<QWidget*>(control.data()))
            return widget->x();
    return record.labelField ? record.labelField->x() + record.labelField->width() + kSpacing : horizontalInset();
}

double PMQuibScopeBar::groupRightEdge(long long group) const
{
    const Group& record = _groups[size_t(group)];
    if (record.menuMode && record.popupButton)
        return record.popupButton->x() + record.popupButton->width();
    for (auto it = record.buttons.rbegin(); it != record.buttons.rend(); ++it)
        if (auto* widget = qobject_cast<QWidget*>(it->data()))
            return widget->x() + widget->width();
    if (record.labelField)
        return record.labelField->x() + record.labelField->width();
    return group > 0 ? groupRightEdge(group - 1) + (record.hasSeparator ? kSeparatorWidth : 0) : horizontalInset();
}

double PMQuibScopeBar::layOutGroup(long long group, double x)
{
    Group& record = _groups[size_t(group)];
    if (record.hasSeparator) {
        // Where a reload puts it too, so that the line does not jump as the bar resizes.
        _separatorPositions[size_t(group)] = int(x + kSeparatorOffset);
        x += kSeparatorWidth;
    }
    if (record.labelField) {
        record.labelField->move(int(x), record.labelField->y());
        x += record.labelField->width() + kSpacing;
    }
    if (record.menuMode && record.popupButton) {
        record.popupButton->move(int(x), record.popupButton->y());
        x += record.popupButton->width() + kSpacing;
    } else {
        for (const QPointer<QObject>& control : record.buttons)
            if (auto* widget = qobject_cast<QWidget*>(control.data())) {
                widget->move(int(x), widget->y());
                x += std::floor(widget->width() + kSpacing);
            }
    }
    return x - kSpacing;
}

void PMQuibScopeBar::collapseGroup(long long group)
{
    Group& record = _groups[size_t(group)];
    std::vector<QPointer<QObject>> buttons = record.buttons;
    PMQuibScopeBarPopUpButton* popUp = popupButtonForGroup(group);
    for (const QPointer<QObject>& button : buttons)
        discard(button);
    record.popupButton = popUp;
    record.menuMode = true;
    if (_accessoryView)
        popUp->stackUnder(_accessoryView);
    popUp->show();
    updateMenuTitleForGroupAtIndex(group);
}

void PMQuibScopeBar::expandGroup(long long group)
{
    Group& record = _groups[size_t(group)];
    const QStringList& selected = _selectedItems[size_t(group)];
    for (qsizetype i = 0; i < qsizetype(record.buttons.size()); ++i) {
        QObject* item = record.buttons[size_t(i)];
        const QString identifier = i < record.identifiers.size() ? record.identifiers[i] : QString();
        if (!item || identifier.isEmpty())
            continue;
        PMQuibScopeBarButton* button = buttonForItem(identifier, group, controlTitle(item), controlImage(item));
        button->setEnabled(controlEnabled(item));
        button->setChecked(selected.contains(identifier));
        button->show();
        record.buttons[size_t(i)] = button;
    }
    discard(record.popupButton);
    record.popupButton = nullptr;
    record.menuMode = false;
}

int PMQuibScopeBar::naturalPopUpWidth(const Group& record)
{
    if (record.selectionMode == 0 && record.popupButton)
        return record.popupButton->sizeHint().width();
    return int(std::floor(record.widestButtonWidth + kPopUpExtra));
}

void PMQuibScopeBar::adjustSubviews()
{
    if (!smartResizeEnabled() || _groups.empty())
        return;
    const double w = width();
    if (w == _lastWidth)
        return;
    const bool narrowing = _lastWidth == kNoWidth || w < _lastWidth;
    double available = w - 2 * horizontalInset();
    if (_accessoryView)
        available -= _accessoryView->width() + kSpacing;
    const long long count = groupCount();
    const long long oldFirst = _firstCollapsedGroup;
    const bool hasCandidates = narrowing ? oldFirst != 0 : oldFirst >= 0;

    double used = groupRightEdge(count - 1) - groupLeftEdge(0);
    if (_groups.front().labelField)
        used += _groups.front().labelField->width() + kSpacing;
    const bool popUpsShrunk = std::any_of(_groups.begin(), _groups.end(), [](const Group& g) {
        return g.menuMode && g.popupButton && g.popupButton->width() < naturalPopUpWidth(g);
    });
    // Pop-ups that are squeezed, or that no longer fit, are sized again below even when no
    // group changes form.
    const bool mustResizePopUps = oldFirst >= 0 && (popUpsShrunk || available < _totalGroupsWidthForPopups);
    if ((narrowing && used <= available) || (!hasCandidates && !mustResizePopUps)) {
        _lastWidth = w;
        return;
    }

    // The walk below counts pop-ups at their own width; squeezed ones grow back first.
    for (const Group& record : _groups)
        if (record.menuMode && record.popupButton)
            used += naturalPopUpWidth(record) - record.popupButton->width();
    long long first = oldFirst;
    if (hasCandidates) {
        if (narrowing) {
            for (long long g = (first < 0 ? count : first) - 1; g >= 0; --g) {
                const Group& record = _groups[size_t(g)];
                used = used - record.totalButtonsWidth + (record.widestButtonWidth + kPopUpExtra);
                first = g;
                if (used <= available)
                    break;
            }
        } else {
            for (long long g = first; g < count; ++g) {
                const Group& record = _groups[size_t(g)];
                const double expanded = used - (record.widestButtonWidth + kPopUpExtra) + record.totalButtonsWidth;
                if (expanded > available)
                    break;
                used = expanded;
                first = g + 1;
            }
        }
    }

    // Groups change form left to right.
    const long long oldEnd = oldFirst < 0 ? count : oldFirst;
    const long long newEnd = first < 0 ? count : first;
    for (long long g = newEnd; g < oldEnd; ++g)
        collapseGroup(g);
    for (long long g = oldEnd; g < newEnd; ++g)
        expandGroup(g);
    _firstCollapsedGroup = first >= count ? -1 : first;

    // Pop-ups at their own width while they all fit; when even they do not, each gives up
    // an equal share of the excess, down to a minimum.
    const double excess = _totalGroupsWidthForPopups - available;
    for (Group& record : _groups) {
        if (!record.menuMode || !record.popupButton)
            continue;
        const double natural = naturalPopUpWidth(record);
        const double target = excess > 0 ? std::min(natural, std::max(kMinimumPopUpWidth, std::floor(natural - excess / double(count)))) : natural;
        record.popupButton->resize(int(target), record.popupButton->height());
    }

    double x = std::floor(horizontalInset());
    for (long long g = 0; g < count; ++g)
        x = layOutGroup(g, x) + kSpacing;
    _lastWidth = w;
    update();
}

void PMQuibScopeBar::resizeSubviewsWithOldSize(QSize)
{
    placeAccessoryView();
    adjustSubviews();
}

// ---- State -------------------------------------------------------------------------

QStringList PMQuibScopeBar::identifiersOfGroup(long long group) const
{
    return group >= 0 && group < groupCount() ? _groups[size_t(group)].identifiers : QStringList();
}

bool PMQuibScopeBar::groupIsInMenuMode(long long group) const
{
    return group >= 0 && group < groupCount() && _groups[size_t(group)].menuMode;
}

PMQuibScopeBarPopUpButton* PMQuibScopeBar::popupButtonOfGroup(long long group) const
{
    return group >= 0 && group < groupCount() ? _groups[size_t(group)].popupButton.data() : nullptr;
}

QLabel* PMQuibScopeBar::labelFieldOfGroup(long long group) const
{
    return group >= 0 && group < groupCount() ? _groups[size_t(group)].labelField.data() : nullptr;
}

long long PMQuibScopeBar::selectionModeOfGroup(long long group) const
{
    return group >= 0 && group < groupCount() ? _groups[size_t(group)].selectionMode : 0;
}

// ---- Drawing -----------------------------------------------------------------------

void PMQuibScopeBar::paintEvent(QPaintEvent*)
{
    _isInDarkMode = assumesDarkMode();
    QPainter painter(this);
    const QRectF bounds = rect();
    QLinearGradient gradient(bounds.bottomLeft(), bounds.topLeft());
    gradient.setColorAt(0, gradientBottomColor());
    gradient.setColorAt(1, gradientTopColor());
    painter.fillRect(bounds, gradient);
    const double lineHeight = isOnRetinaDisplay(window()) ? 0.5 : 1.0;
    painter.fillRect(QRectF(bounds.left(), bounds.bottom() - lineHeight, bounds.width(), lineHeight), borderColor());
    for (const std::optional<int>& position : _separatorPositions)
        if (position)
            painter.fillRect(QRectF(*position, std::floor((bounds.height() - 16) / 2), 1, 16), separatorColor());
}

void PMQuibScopeBar::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    resizeSubviewsWithOldSize(event->oldSize());
}

void PMQuibScopeBar::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::StyleChange) {
        for (const Group& group : _groups)
            if (group.labelField) {
                QPalette palette = group.labelField->palette();
                palette.setColor(QPalette::WindowText, labelColor());
                group.labelField->setPalette(palette);
            }
        update();
    }
}
