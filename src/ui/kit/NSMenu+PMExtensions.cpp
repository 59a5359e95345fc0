#include "ui/kit/NSMenu+PMExtensions.h"

#include "platform/PlatformProfile.h"
#include "platform/Responder.h"
#include "foundation/PMSettingsKeys.h"
#include "platform/UserDefaults.h"
#include "ui/kit/NSFont+PMBackwardsCompatibleSystemFont.h"

#include <QtCore/QPointer>
#include <QtGui/QAction>
#include <QtWidgets/QAbstractButton>
#include <QtWidgets/QMenu>
#include <QtWidgets/QMenuBar>
#include <QtWidgets/QWidgetAction>

using namespace platform;

namespace {

const char* const kTitleSuffixProperty = "PMTitleSuffix";
const char* const kPlainTitleProperty = "PMPlainTitle";

QAction* newItem(const QString& title, QObject* parent)
{
    auto* item = new QAction(escapedMenuTitle(title), parent);
    item->setProperty(kPlainTitleProperty, title);
    return item;
}

QString plainTitle(const QAction* item)
{
    const QVariant plain = item->property(kPlainTitleProperty);
    if (plain.isValid())
        return plain.toString();
    QString title = item->text();
    title.replace(QLatin1String("&&"), QLatin1String("&"));
    return title;
}

void setPlainTitle(QAction* item, const QString& title)
{
    item->setProperty(kPlainTitleProperty, title);
    item->setText(escapedMenuTitle(title));
}

} // namespace

const QFont& PMMenuHeaderFont()
{
    static const QFont font = backwardsCompatibleSystemFontOfSize(11.5, 2);
    return font;
}

const QFont& PMMenuSmallTitleFont()
{
    static const QFont font = PMSystemFontOfSize(11.5);
    return font;
}

bool PMDrawsMenuHeadersAtNormalSize()
{
    return prefs::get(prefs::keys::DrawMenuHeadersAtNormalSize);
}

void addItems(QMenu* menu, const QList<QAction*>& items)
{
    for (QAction* item : items)
        menu->addAction(item);
}

QAction* addItemWithTitle(QMenu* menu, const QString& title, PMMenuItemHandler associateHandler)
{
    QAction* item = menuItemWithTitle(title, std::move(associateHandler), menu);
    menu->addAction(item);
    return item;
}

QAction* addItemWithTitle(QMenu* menu, const QString& title, const std::optional<QFont>& attributes, const QString& action)
{
    QAction* item = newItem(title, menu);
    if (attributes)
        item->setFont(*attributes);
    if (!action.isEmpty())
        setMenuItemAction(item, action);
    menu->addAction(item);
    return item;
}

QAction* addNonActionItemWithTitle(QMenu* menu, const QString& title)
{
    return addItemWithTitle(menu, title, std::nullopt, QString());
}

QAction* addNonActionItemWithSmallTitle(QMenu* menu, const QString& title)
{
    return addItemWithTitle(menu, title, PMMenuSmallTitleFont(), QString());
}

QAction* addHeaderWithTitle(QMenu* menu, const QString& title)
{
    if (PMDrawsMenuHeadersAtNormalSize())
        return addNonActionItemWithTitle(menu, title);
    if (platform::profile::usesSystemMenuSectionHeaders) {
        QAction* section = menu->addSection(escapedMenuTitle(title));
        section->setProperty(kPlainTitleProperty, title);
        return section;
    }
    return addItemWithTitle(menu, title, PMMenuHeaderFont(), QString());
}

QAction* addSeparator(QMenu* menu)
{
    return menu->addSeparator();
}

QAction* addSeparatorIfNecessary(QMenu* menu)
{
    const QList<QAction*> items = menu->actions();
    if (items.isEmpty() || items.constLast()->isSeparator())
        return nullptr;
    return menu->addSeparator();
}

QAction* addPseudoSeparatorWithHeight(QMenu* menu, double height)
{
    auto* item = new QWidgetAction(menu);
    auto* view = new QWidget;
    view->setFixedSize(1, std::max(0, int(std::lround(height))));
    item->setDefaultWidget(view);
    setMenuItemTargetsNothing(item);
    item->setEnabled(false);
    menu->addAction(item);
    return item;
}

QAction* addPseudoSeparator(QMenu* menu)
{
    return addPseudoSeparatorWithHeight(menu, 4.0);
}

void removeItemsSparingAtTop(QMenu* menu, int top, int andBottom)
{
    top = std::max(top, 0);
    andBottom = std::max(andBottom, 0);
    while (menu->actions().size() > top + andBottom) {
        QAction* item = menu->actions().at(top);
        menu->removeAction(item);
        if (item->parent() == menu)
            delete item;
    }
}

void removeTrailingSeparators(QMenu* menu)
{
    while (!menu->actions().isEmpty() && menu->actions().constLast()->isSeparator()) {
        QAction* item = menu->actions().constLast();
        menu->removeAction(item);
        if (item->parent() == menu)
            delete item;
    }
}

void popUpWithEvent(QMenu* menu, QWidget* forView, const QPoint& atLocation, PMControlSize withSystemFontForControlSize)
{
    if (!menu || !forView)
        return;
    if (withSystemFontForControlSize != PMControlSize::Regular) {
        const double size = withSystemFontForControlSize == PMControlSize::Small ? platform::profile::smallControlFontSize
                                                                                 : platform::profile::miniControlFontSize;
        menu->setFont(PMSystemFontOfSize(size));
    }
    installMenuConventions(menu);
    menu->exec(forView->mapToGlobal(atLocation));
}

void popUpWithEvent(QMenu* menu, QWidget* forView, const QPoint& atLocation)
{
    popUpWithEvent(menu, forView, atLocation, PMControlSize::Regular);
}

bool isPopUpMenu(const QMenu* menu)
{
    // Parent menus are followed through the items that open them.
    QList<const QMenu*> visited;
    QList<const QMenu*> pending{menu};
    while (!pending.isEmpty()) {
        const QMenu* current = pending.takeFirst();
        if (!current || visited.contains(current))
            continue;
        visited.append(current);
        for (QObject* holder : current->menuAction()->associatedObjects()) {
            if (qobject_cast<QMenuBar*>(holder))
                return false;
            if (auto* parentMenu = qobject_cast<QMenu*>(holder); parentMenu && parentMenu != current)
                pending.append(parentMenu);
        }
    }
    return true;
}

void performAssociatedMenuItemHandler(QAction* item)
{
    performMenuItemHandler(item);
}

QAction* menuItemWithTitle(const QString& title, PMMenuItemHandler associateHandler, QObject* parent)
{
    QAction* item = newItem(title, parent);
    if (associateHandler)
        setMenuItemHandler(item, std::move(associateHandler));
    return item;
}

QAction* headerMenuItemWithTitle(const QString& title, QObject* parent)
{
    QAction* item = newItem(title, parent);
    if (!PMDrawsMenuHeadersAtNormalSize())
        item->setFont(PMMenuHeaderFont());
    return item;
}

QColor PMMenuTitleSuffixColor(bool highlighted, bool dark)
{
    if (!platform::profile::usesDynamicMenuSuffixColor)
        return QColor::fromRgbF(0.5f, 0.5f, 0.5f, 0.9f);
    if (highlighted)
        return QColor::fromRgbF(1, 1, 1, 0.7f);
    return dark ? QColor::fromRgbF(1, 1, 1, 0.4f) : QColor::fromRgbF(0, 0, 0, 0.4f);
}

void setTitle(QAction* item, const std::optional<QString>& title, const QString& withSuffix, double ofSize)
{
    if (!item)
        return;
    QString base = title ? *title : plainTitle(item);
    // The current title may still carry the previous suffix: it goes, also when no new
    // one comes (else the suffixes would pile up, one after the other).
    const QString previous = titleSuffix(item);
    if (!title && !previous.isEmpty() && base.endsWith(previous))
        base.chop(previous.size());
    if (withSuffix.isEmpty()) {
        item->setProperty(kTitleSuffixProperty, QVariant());
        if (title || !previous.isEmpty())
            setPlainTitle(item, base);
        return;
    }
    QFont font = item->font();
    PMSetFontSize(font, ofSize < 0 ? platform::profile::defaultMenuFontSize : ofSize);
    item->setFont(font);
    item->setProperty(kTitleSuffixProperty, withSuffix);
    item->setProperty(kPlainTitleProperty, base + withSuffix);
    item->setText(escapedMenuTitle(base + withSuffix));
}

void setTitleSuffix(QAction* item, const QString& suffix, double ofSize)
{
    setTitle(item, std::nullopt, suffix, ofSize);
}

QString titleSuffix(const QAction* item)
{
    return item ? item->property(kTitleSuffixProperty).toString() : QString();
}

void setHeaderTitle(QAction* item, const QString& title)
{
    setPlainTitle(item, title);
    item->setFont(PMDrawsMenuHeadersAtNormalSize() ? QFont() : PMMenuHeaderFont());
}

void setTargetControl(QAction* item, QAbstractButton* control)
{
    QPointer<QAbstractButton> target(control);
    setMenuItemHandler(item, [target](QAction*) {
        if (target)
            target->click();
    });
}

bool isPopUpMenuItem(const QAction* item)
{
    if (!item)
        return true;
    for (QObject* holder : item->associatedObjects()) {
        if (auto* menu = qobject_cast<QMenu*>(holder))
            return isPopUpMenu(menu);
        if (qobject_cast<QMenuBar*>(holder))
            return false;
    }
    return true;
}
