#include "ui/commands/PMSlowMenuDelegate.h"

#include "foundation/NSString+PMHelpManagerIcons.h"
#include "foundation/NSString+PMHelpManagerLibraryFiles.h"
#include "library/model/PMLibraryContainer.h"
#include "library/model/PMMainController.h"
#include "library/model/PMSortLibraryItems.h"
#include "platform/ExtendedAttributes.h"
#include "platform/FileManager.h"
#include "platform/Image.h"
#include "platform/Responder.h"
#include "platform/UserDefaults.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QFileInfo>
#include <QtCore/QMimeDatabase>
#include <QtCore/QUrl>
#include <QtDBus/QDBusConnection>
#include <QtDBus/QDBusConnectionInterface>
#include <QtGui/QAction>
#include <QtGui/QDesktopServices>
#include <QtGui/QIcon>
#include <QtGui/QPixmap>
#include <QtWidgets/QApplication>
#include <QtWidgets/QMenu>
#include <QtWidgets/QProxyStyle>
#include <QtWidgets/QStyleFactory>

#include <algorithm>

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

} // namespace

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
    const bool extensions = platform::UserDefaults::standard().boolForKey(QStringLiteral("Show File Extensions"));
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
    for (qsizetype i = 0; i < n; ++i) {
        auto* item = new QAction(menu);
        menu->addAction(item);
        if (!updateItem(menu, item, i))
            break;
    }
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
    const qint64 threshold = defaults.integerForKey(QStringLiteral("Submenu Threshold"));
    const bool emancipation = defaults.boolForKey(QStringLiteral("Enable Smart Playlist Emancipation")) && threshold >= 1;
    const bool includeFiles = defaults.boolForKey(QStringLiteral("Enable Smart Playlist Emancipation: Menu: Include Files"));
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
