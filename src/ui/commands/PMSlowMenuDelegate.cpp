#include "ui/commands/PMSlowMenuDelegate.h"

#include "ui/kit/NSMenu+PMExtensions.h"

#include "foundation/NSString+PMHelpManagerIcons.h"
#include "foundation/NSString+PMHelpManagerLibraryFiles.h"
#include "library/model/PMLibraryContainer.h"
#include "library/model/PMMainController.h"
#include "library/model/PMSortLibraryItems.h"
#include "platform/ExtendedAttributes.h"
#include "platform/FileManager.h"
#include "platform/Image.h"
#include "platform/Responder.h"
#include "foundation/PMSettingsKeys.h"
#include "platform/UserDefaults.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QFileInfo>
#include <QtCore/QMimeDatabase>
#include <QtCore/QPointer>
#include <QtCore/QUrl>
#include <QtCore/QEvent>
#include <QtDBus/QDBusConnection>
#include <QtDBus/QDBusConnectionInterface>
#include <QtGui/QAction>
#include <QtGui/QDesktopServices>
#include <QtGui/QKeyEvent>
#include <QtGui/QMouseEvent>
#include <QtGui/QScreen>
#include <QtGui/QIcon>
#include <QtGui/QPixmap>
#include <QtWidgets/QApplication>
#include <QtWidgets/QMenu>
#include <QtWidgets/QProxyStyle>
#include <QtWidgets/QStyleFactory>

#include <algorithm>
#include <memory>

using platform::Array;
using platform::ArrayPtr;
using platform::Dictionary;
using platform::Value;

namespace {

QString localized(const char* text)
{
    return QCoreApplication::translate("PMMainController", text);
}

// Whether the companion program is running: it owns its name on the session bus.
bool companionIsRunning()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface())
        return false;
    return bus.interface()->isServiceRegistered(QString::fromLatin1(kPMCompanionBundleIdentifier)).value();
}

QIcon iconOfPath(const QString& path)
{
    const platform::ImagePtr image = cachedIconFromPath(path);
    return image ? QIcon(QPixmap::fromImage(image->currentFrameImage())) : QIcon();
}

void appendSeparated(Array& into, const Array& group)
{
    if (group.isEmpty())
        return;
    if (!into.isEmpty())
        into.append(Value());
    for (const Value& v : group)
        into.append(v);
}

// Long lists scroll in one column, as a folder of hundreds of movies would otherwise
// spread over the screen in columns.
class ScrollingMenuStyle : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget, QStyleHintReturn* returnData) const override
    {
        if (hint == QStyle::SH_Menu_Scrollable)
            return 1;
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

const char* const kRevealItemProperty = "PMMenuListRevealItem";

QString moreTitle(qsizetype remaining)
{
    return localized("(%1 more)").arg(remaining);
}

// The part of the screen a menu may cover, where the menu is.
QRect menuScreenArea(const QMenu* menu)
{
    QScreen* screen = menu->screen();
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect();
}

// Choosing the "(N more)" item reveals instead of closing the menus: its click and its
// keys are taken before the menu would run the item and close.
class RevealItemFilter : public QObject {
public:
    explicit RevealItemFilter(QMenu* menu) : QObject(menu), m_menu(menu) { setObjectName(QStringLiteral("PMMenuListRevealFilter")); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched != m_menu)
            return false;
        QAction* item = nullptr;
        switch (event->type()) {
        case QEvent::MouseButtonRelease:
            item = m_menu->actionAt(static_cast<QMouseEvent*>(event)->position().toPoint());
            break;
        case QEvent::KeyPress: {
            const int key = static_cast<QKeyEvent*>(event)->key();
            if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space || key == Qt::Key_Select)
                item = m_menu->activeAction();
            break;
        }
        default:
            break;
        }
        if (!isMenuListRevealItem(item))
            return false;
        platform::performMenuItemHandler(item);
        return true;
    }

private:
    QMenu* m_menu;
};

struct MenuList {
    qsizetype count = 0;
    qsizetype shown = 0;
    PMMenuListFiller fill;
};

void revealMore(QMenu* menu, QAction* more, const std::shared_ptr<MenuList>& list)
{
    if (!menu || !more || list->shown >= list->count)
        return;
    const bool visible = menu->isVisible();
    const QRect area = menuScreenArea(menu);
    // Never taller than the screen: a window far taller than the screen cannot even be drawn.
    if (visible && area.isValid())
        menu->setMaximumHeight(area.height());
    const QList<QAction*> before = menu->actions();
    const qsizetype from = list->shown;
    const qsizetype to = std::min(list->count, from + kPMMenuListLimit);
    // An open menu measures all its items again at every item added (hundreds of times
    // over hundreds of items): it is measured once, after the last.
    if (visible)
        menu->setAttribute(Qt::WA_WState_Visible, false);
    list->fill(from, to, more);
    if (visible)
        menu->setAttribute(Qt::WA_WState_Visible, true);
    list->shown = to;
    QAction* firstNew = nullptr;
    for (QAction* item : menu->actions())
        if (!before.contains(item) && !item->isSeparator()) {
            firstNew = item;
            break;
        }
    if (list->shown >= list->count) {
        menu->removeAction(more);
        more->deleteLater();
        more = nullptr;
    } else {
        more->setText(moreTitle(list->count - list->shown));
    }
    if (!visible)
        return;
    // The new items get their states as at an opening.
    platform::validateMenu(menu);
    QSize size = menu->sizeHint();
    QRect geometry(menu->pos(), size);
    if (area.isValid()) {
        geometry.setHeight(std::min(size.height(), area.height()));
        if (geometry.bottom() > area.bottom())
            geometry.moveBottom(area.bottom());
        if (geometry.top() < area.top())
            geometry.moveTop(area.top());
    }
    menu->setGeometry(geometry);
    // The first new item is highlighted and scrolled to, where the user's eyes are.
    if (QAction* target = firstNew ? firstNew : more)
        menu->setActiveAction(target);
    menu->update();
}

} // namespace

bool isMenuListRevealItem(const QAction* item)
{
    return item && item->property(kRevealItemProperty).toBool();
}

void addMenuListWithLimit(QMenu* menu, qsizetype count, const PMMenuListFiller& fill)
{
    if (!menu || count <= 0)
        return;
    auto list = std::make_shared<MenuList>();
    list->count = count;
    list->shown = std::min(count, kPMMenuListLimit);
    list->fill = fill;
    fill(0, list->shown, nullptr);
    if (list->shown >= count)
        return;
    if (!menu->findChild<RevealItemFilter*>(QStringLiteral("PMMenuListRevealFilter"), Qt::FindDirectChildrenOnly)) {
        menu->installEventFilter(new RevealItemFilter(menu));
        // The next opening measures the screen afresh.
        QObject::connect(menu, &QMenu::aboutToHide, menu, [menu] { menu->setMaximumHeight(QWIDGETSIZE_MAX); });
    }
    QAction* more = addNonActionItemWithSmallTitle(menu, moreTitle(count - list->shown));
    more->setProperty(kRevealItemProperty, true);
    QPointer<QMenu> guarded(menu);
    platform::setMenuItemHandler(more, [guarded, list](QAction* chosen) { revealMore(guarded, chosen, list); });
}

void makeMenuScroll(QMenu* menu)
{
    static QPointer<QStyle> style;
    if (!style) {
        QStyle* base = QStyleFactory::create(QApplication::style()->name());
        style = new ScrollingMenuStyle(base);
        style->setParent(qApp);
    }
    if (menu)
        menu->setStyle(style);
}

PMSlowMenuDelegate* PMSlowMenuDelegate::slowMenuDelegateForContainerOrPath(const Value& containerOrPath, QObject* parent)
{
    auto* delegate = new PMSlowMenuDelegate;
    delegate->setParent(parent);
    delegate->_representedContainerOrPath = containerOrPath;
    delegate->_representsContainer = PMContainer(containerOrPath) != nullptr;
    return delegate;
}

ArrayPtr PMSlowMenuDelegate::folderSourceItems(const QString& path)
{
    auto items = Array::make();
    QDir folder(path);
    if (path.isEmpty() || !folder.exists())
        return items;
    QStringList names = folder.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::NoSort);
    names.removeIf([](const QString& name) { return isNegligibleFilename(name); });
    std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) { return PMCompareNamesBySortString(a, b) < 0; });
    const bool extensions = prefs::get(prefs::keys::ShowFileExtensions);
    Array tagged, folders, plain;
    for (const QString& name : std::as_const(names)) {
        const QString full = folder.filePath(name);
        const QFileInfo info(full);
        const bool isFolder = info.isDir();
        auto record = Dictionary::make();
        record->setValue(QStringLiteral("Name"), Value(extensions || isFolder || info.suffix().isEmpty() ? name : info.completeBaseName()));
        record->setValue(QStringLiteral("Path"), Value(full));
        record->setValue(QStringLiteral("Folder"), Value(isFolder));
        if (isFolder)
            folders.append(Value(record));
        else if (!platform::fileTags(full).isEmpty())
            tagged.append(Value(record));
        else
            plain.append(Value(record));
    }
    appendSeparated(*items, tagged);
    appendSeparated(*items, folders);
    appendSeparated(*items, plain);
    return items;
}

ArrayPtr PMSlowMenuDelegate::sourceItems()
{
    if (_sourceItems)
        return _sourceItems;
    if (_representsContainer) {
        PMLibraryContainer* container = PMContainer(_representedContainerOrPath);
        _sourceItems = container ? slowMenuSourceItems(container->sortedChildren()) : Array::make();
    } else {
        _sourceItems = folderSourceItems(_representedContainerOrPath.string());
    }
    if (!_sourceItems)
        _sourceItems = Array::make();
    return _sourceItems;
}

qsizetype PMSlowMenuDelegate::numberOfItemsInMenu(QMenu*)
{
    // A container's contents are made only for a menu that really opens on screen.
    if (_representsContainer && !_opening && !PMMainController::mainController().populateSlowMenusProperly() && !companionIsRunning())
        return 0;
    return std::max<qsizetype>(1, sourceItems()->count());
}

bool PMSlowMenuDelegate::updateItem(QMenu* menu, QAction* item, qsizetype index)
{
    if (!menu || !item)
        return false;
    const ArrayPtr list = sourceItems();
    if (index >= list->count()) {
        item->setText(localized("Empty"));
        platform::setMenuItemTargetsNothing(item);
        item->setEnabled(false);
        return true;
    }
    const Value entry = list->at(index);
    if (entry.isNull()) {
        item->setSeparator(true);
        return true;
    }
    item->setSeparator(false);
    if (_representsContainer) {
        PMMainController::mainController().updateLibraryMenuItem(item, menu, entry, index, false, list);
        return true;
    }
    const platform::DictionaryPtr record = entry.dictionary();
    if (!record)
        return true;
    const QString path = record->value(QStringLiteral("Path")).string();
    item->setText(platform::escapedMenuTitle(record->value(QStringLiteral("Name")).string()));
    item->setIcon(iconOfPath(path));
    platform::setMenuItemRepresentedObject(item, entry);
    if (record->value(QStringLiteral("Folder")).toBool()) {
        QMenu* submenu = slowMenuWithTitle(path, Value(path), menu);
        submenu->setTitle(item->text());
        item->setMenu(submenu);
    } else {
        platform::setMenuItemHandler(item, [this](QAction* chosen) { openFileFromRepresentedObject(chosen); });
    }
    return true;
}

void PMSlowMenuDelegate::menuDidClose(QMenu*)
{
    _sourceItems.reset();
}

bool PMSlowMenuDelegate::isSafeToOpen(const QString& path)
{
    const QFileInfo info(path);
    const QFileInfo target(info.isSymLink() ? info.symLinkTarget() : path);
    if (!target.exists() || !target.isFile())
        return false;
    if (target.isExecutable())
        return false;
    const QString suffix = target.suffix().toLower();
    static const QStringList kRunnable = {QStringLiteral("desktop"), QStringLiteral("sh"),   QStringLiteral("bash"), QStringLiteral("zsh"),
                                          QStringLiteral("csh"),     QStringLiteral("py"),   QStringLiteral("pl"),   QStringLiteral("rb"),
                                          QStringLiteral("run"),     QStringLiteral("bin"),  QStringLiteral("appimage"), QStringLiteral("jar"),
                                          QStringLiteral("exe"),     QStringLiteral("msi"),  QStringLiteral("bat"),  QStringLiteral("cmd"),
                                          QStringLiteral("com"),     QStringLiteral("command"), QStringLiteral("js"), QStringLiteral("ps1")};
    if (kRunnable.contains(suffix))
        return false;
    static const QStringList kRunnableTypes = {QStringLiteral("application/x-desktop"), QStringLiteral("application/x-executable"),
                                               QStringLiteral("application/x-sharedlib"), QStringLiteral("application/x-shellscript"),
                                               QStringLiteral("application/x-pie-executable"), QStringLiteral("text/x-script")};
    const QMimeType type = QMimeDatabase().mimeTypeForFile(target.absoluteFilePath());
    for (const QString& runnable : kRunnableTypes)
        if (type.inherits(runnable))
            return false;
    return true;
}

void PMSlowMenuDelegate::openFileFromRepresentedObject(QAction* item)
{
    const platform::DictionaryPtr record = item ? platform::menuItemRepresentedObject(item).dictionary() : nullptr;
    const QString path = record ? record->value(QStringLiteral("Path")).string() : QString();
    if (path.isEmpty())
        return;
    // A program, a script or a desktop entry is shown in the file manager instead of run.
    if (!isSafeToOpen(path)) {
        platform::revealInFileManager({path});
        return;
    }
    QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

void PMSlowMenuDelegate::fillMenu(QMenu* menu)
{
    if (!menu)
        return;
    // The submenus of the last opening go with their items.
    for (QAction* item : menu->actions())
        if (QMenu* submenu = item->menu(); submenu && submenu->parent() == menu)
            submenu->deleteLater();
    menu->clear();
    _sourceItems.reset();
    _opening = true;
    const qsizetype n = numberOfItemsInMenu(menu);
    _opening = false;
    // The list is read again at a reveal: the one of this opening, kept while the menu is open.
    const ArrayPtr shownList = n > 0 ? sourceItems() : ArrayPtr();
    QPointer<QMenu> guarded(menu);
    addMenuListWithLimit(menu, n, [this, guarded, shownList](qsizetype from, qsizetype to, QAction* before) {
        QMenu* m = guarded;
        if (!m)
            return;
        if (shownList && !_sourceItems)
            _sourceItems = shownList;
        for (qsizetype i = from; i < to; ++i) {
            auto* item = new QAction(m);
            m->insertAction(before, item);
            if (!updateItem(m, item, i))
                break;
        }
    });
}

QMenu* slowMenuWithTitle(const QString& title, const Value& containerOrPath, QWidget* parent)
{
    auto* menu = new QMenu(platform::escapedMenuTitle(title), parent);
    makeMenuScroll(menu);
    if (containerOrPath.isNull())
        return menu;
    PMSlowMenuDelegate* delegate = PMSlowMenuDelegate::slowMenuDelegateForContainerOrPath(containerOrPath, menu);
    delegate->setObjectName(QStringLiteral("PMSlowMenuDelegate"));
    QObject::connect(menu, &QMenu::aboutToShow, delegate, [delegate, menu] { delegate->fillMenu(menu); });
    QObject::connect(menu, &QMenu::aboutToHide, delegate, [delegate, menu] { delegate->menuDidClose(menu); });
    platform::installMenuConventions(menu);
    return menu;
}

PMSlowMenuDelegate* slowMenuDelegate(const QMenu* menu)
{
    return menu ? menu->findChild<PMSlowMenuDelegate*>(QStringLiteral("PMSlowMenuDelegate"), Qt::FindDirectChildrenOnly) : nullptr;
}

ArrayPtr slowMenuSourceItems(const ArrayPtr& children)
{
    if (!children || children->isEmpty())
        return children ? children : Array::make();
    platform::UserDefaults& defaults = platform::UserDefaults::standard();
    const qint64 threshold = defaults.integerForKey(prefs::keys::SubmenuThreshold);
    const bool emancipation = defaults.boolForKey(prefs::keys::EnableSmartPlaylistEmancipation) && threshold >= 1;
    const bool includeFiles = defaults.boolForKey(prefs::keys::EnableSmartPlaylistEmancipationMenuIncludeFiles);
    if (!emancipation && !PMContainer(children->at(0)))
        return children;
    const QString mark = QStringLiteral("Emancipate: Menu");
    ArrayPtr out; // a copy made at the first insertion; the caller's list stays as it was
    const auto ensureCopy = [&](qsizetype upTo) {
        if (out)
            return;
        out = Array::make();
        for (qsizetype k = 0; k < upTo; ++k)
            out->append(children->at(k));
    };
    bool leadingContainers = true;
    bool sawContainer = false;
    for (qsizetype i = 0; i < children->count(); ++i) {
        const Value child = children->at(i);
        PMLibraryContainer* container = PMContainer(child);
        if (!container) {
            if (leadingContainers && sawContainer) {
                ensureCopy(i);
                out->append(Value());
            }
            leadingContainers = false;
            if (out)
                out->append(child);
            continue;
        }
        sawContainer = true;
        if (emancipation && container->emancipatesChildrenIfEnabled()) {
            ensureCopy(i);
            if (!out->isEmpty() && !out->at(out->count() - 1).isNull())
                out->append(Value());
            const ArrayPtr inner = slowMenuSourceItems(includeFiles ? container->sortedChildren() : container->sortedGroupChildren());
            out->append(child);
            if (inner && inner->count() <= threshold) {
                container->setValue(mark, Value(true));
                for (const Value& v : *inner)
                    out->append(v);
            } else {
                container->remove(mark);
            }
            continue;
        }
        container->remove(mark);
        if (out)
            out->append(child);
    }
    return out ? out : children;
}
