// The context menus of the library: tiles of the grid, rows of the file list, rows of the
// sidebar and the current movie. One builder looks at the clicked items and assembles the
// sections that apply, in a fixed order. Every item carries what it acts on, so a menu
// acts on the items it was made for even when the selection changes while it is open.
#include "library/model/PMMainController.h"
#include "ui/commands/PMMenuController.h"

#include "foundation/NSDate+PMExtensions.h"
#include "ui/images/PMDragSourceImageView.h"
#include "images/PMIndexImageWrapper.h"
#include "library/model/PMLibraryContainer.h"
#include "library/model/PMLibraryItemArrays.h"
#include "library/model/PMMovieRepresentation.h"
#include "library/model/PMSortLibraryItems.h"
#include "foundation/NSString+PMHelpManagerFileNames.h"
#include "foundation/NSString+PMHelpManagerLibraryFiles.h"
#include "foundation/PMLog.h"
#include "platform/Alert.h"
#include "platform/Applications.h"
#include "platform/FileOperations.h"
#include "platform/FileManager.h"
#include "platform/NotificationCenter.h"
#include "platform/Paths.h"
#include "platform/SavePanel.h"
#include "library/model/PMMovie.h"
#include "platform/Queues.h"
#include "platform/Responder.h"
#include "foundation/PMSettingsKeys.h"
#include "platform/UserDefaults.h"
#include "ui/commands/PMMenuItemSwitch.h"
#include "ui/commands/PMQuickLookPanel.h"
#include "ui/commands/PMSaveConvertedMovie.h"
#include "ui/commands/PMTagValueSwitch.h"
#include "ui/kit/NSMenu+PMExtensions.h"
#include "ui/library_window/PMGroupView.h"
#include "ui/library_window/PMMovieOutlineView.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QFileInfo>
#include <QtCore/QDir>
#include <QtCore/QRandomGenerator>
#include <QtCore/QPointer>
#include <QtCore/QUrl>
#include <QtGui/QAction>
#include <QtGui/QClipboard>
#include <QtGui/QDesktopServices>
#include <QtGui/QGuiApplication>
#include <QtWidgets/QMenu>
#include <QtWidgets/QWidgetAction>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>

using platform::Array;
using platform::ArrayPtr;
using platform::Value;

namespace {

QString localized(const char* text)
{
    return QCoreApplication::translate("PMMainController", text);
}

platform::UserDefaults& defaults()
{
    return platform::UserDefaults::standard();
}

// An item sending the action along the responder chain with what it stands for.
QAction* addActionItem(QMenu* menu, const QString& title, const char* action, qint64 tag = 0, const Value& represented = Value())
{
    QAction* item = menu->addAction(title);
    platform::setMenuItemAction(item, QString::fromLatin1(action));
    platform::setMenuItemTag(item, tag);
    if (!represented.isNull())
        platform::setMenuItemRepresentedObject(item, represented);
    return item;
}

QAction* addHandlerItem(QMenu* menu, const QString& title, std::function<void(QAction*)> handler)
{
    QAction* item = menu->addAction(title);
    platform::setMenuItemHandler(item, std::move(handler));
    return item;
}

// A small disabled line of text built from data (an address, a path).
QAction* addSmallLine(QMenu* menu, const QString& text)
{
    QAction* line = menu->addAction(platform::escapedMenuTitle(text));
    QFont font = line->font();
    font.setPointSizeF(std::max(7.0, QGuiApplication::font().pointSizeF() - 2));
    line->setFont(font);
    platform::setMenuItemTargetsNothing(line);
    line->setEnabled(false);
    return line;
}

// A separator only when something stands before it that is not one.
void addSeparatorIfNeeded(QMenu* menu)
{
    const QList<QAction*> items = menu->actions();
    if (!items.isEmpty() && !items.constLast()->isSeparator())
        menu->addSeparator();
}

void trimSeparators(QMenu* menu)
{
    while (!menu->actions().isEmpty() && menu->actions().constLast()->isSeparator())
        menu->removeAction(menu->actions().constLast());
    while (!menu->actions().isEmpty() && menu->actions().constFirst()->isSeparator())
        menu->removeAction(menu->actions().constFirst());
}

bool isWebAddress(const QUrl& url)
{
    const QString scheme = url.scheme().toLower();
    return scheme == QLatin1String("http") || scheme == QLatin1String("https");
}

qsizetype count(const ArrayPtr& items)
{
    return items ? items->count() : 0;
}

// Setting the movies' date added to their newest, their oldest or the default date, or
// back to the creation date where it lies later; nothing when no choice changes a date.
void addAlignDateSubmenu(PMMainController& controller, QMenu* menu, const ArrayPtr& movies, bool oneClicked, QAction* alternateOf)
{
    std::optional<platform::Date> newest, oldest, newestSeen, oldestSeen;
    bool newestDiffer = false;
    bool oldestDiffer = false;
    bool oldestBeforeAdded = false;
    QList<PMMovieRepresentationPrototype*> resettable;
    auto targets = Array::make();
    for (const Value& v : *movies) {
        PMMovieRepresentationPrototype* m = PMMovie(v);
        if (!m)
            continue;
        const platform::Date n = m->newestDate();
        const platform::Date o = m->oldestDate();
        newestDiffer |= newestSeen && !(*newestSeen == n);
        oldestDiffer |= oldestSeen && !(*oldestSeen == o);
        newestSeen = n;
        oldestSeen = o;
        newest = newest ? std::max(*newest, n) : n;
        oldest = oldest ? std::min(*oldest, o) : o;
        oldestBeforeAdded |= o < m->additionDate();
        if (m->creationDate() < m->additionDate()) {
            resettable.append(m);
            targets->append(v);
        }
    }
    if (!oldest)
        return;
    const Value defaultValue = defaults().objectForKey(prefs::keys::AlignDateDefault);
    std::optional<platform::Date> defaultDate;
    if (defaultValue.isNumber())
        defaultDate = platform::Date{defaultValue.toDouble()};
    else if (defaultValue.type() == Value::Type::Date)
        defaultDate = defaultValue.date();
    const bool offerDefault = defaultDate && *defaultDate < *oldest;
    const bool offerOldest = oldestDiffer || oldestBeforeAdded;
    if (!newestDiffer && !offerOldest && !offerDefault && resettable.isEmpty())
        return;

    const bool fuzzy = defaults().boolForKey(prefs::keys::DetermineFuzzyOldestDate);
    const bool onlyResets = !newestDiffer && !offerOldest && !offerDefault;
    auto* submenu = new QMenu(onlyResets ? localized("Reset Date Added") : fuzzy ? localized("Align Date") : localized("Align Date Added"), menu);
    const auto align = [&controller](const ArrayPtr& targets, std::optional<platform::Date> date) {
        for (const Value& v : *targets)
            if (PMMovieRepresentationPrototype* m = PMMovie(v))
                m->setAdditionDate(date ? *date : m->creationDate());
        controller.updateLibrary();
        controller.saveLibrarySoon();
    };
    const auto describe = [](const platform::Date& date) { return fuzzyDescriptionForEndOfYearOnly(date, true); };
    if (newestDiffer)
        addHandlerItem(submenu, localized("Newest: %1").arg(describe(*newest)), [align, movies, d = *newest](QAction*) { align(movies, d); });
    if (offerOldest)
        addHandlerItem(submenu, localized("Oldest: %1").arg(describe(*oldest)), [align, movies, d = *oldest](QAction*) { align(movies, d); });
    if (offerDefault)
        addHandlerItem(submenu, localized("Default: %1").arg(describe(*defaultDate)), [align, movies, d = *defaultDate](QAction*) { align(movies, d); });
    if (!resettable.isEmpty()) {
        if (!onlyResets)
            submenu->addSeparator();
        const QString title = oneClicked && resettable.size() == 1 ? localized("Reset: %1").arg(describe(resettable.constFirst()->creationDate()))
                              : resettable.size() == 1         ? localized("Reset 1 File")
                                                               : localized("Reset %1 Files").arg(resettable.size());
        addHandlerItem(submenu, title, [align, targets](QAction*) { align(targets, std::nullopt); });
    }
    platform::installMenuConventions(submenu);
    QAction* item = menu->addMenu(submenu);
    if (!fuzzy && alternateOf)
        platform::setAlternateMenuItem(item, alternateOf, Qt::AltModifier);
}

// The application's icon from its desktop entry (a theme name or a file).
QIcon applicationIcon(const QString& desktopEntryPath)
{
    platform::DesktopApplication application;
    if (!platform::readDesktopEntry(desktopEntryPath, QFileInfo(desktopEntryPath).fileName(), &application) || application.icon.isEmpty())
        return {};
    return QFileInfo(application.icon).isAbsolute() ? QIcon(application.icon) : QIcon::fromTheme(application.icon);
}

// The file an image folder keeps an image in (its base path with the extension it was
// stored with); empty when there is none. Pictures are stored only as JPEG or TIFF: the two
// names are looked up, as listing an image folder of a big library at every right-click
// takes far longer than a menu may.
QString storedImageFile(const QString& basePath)
{
    if (basePath.isEmpty())
        return {};
    for (const QString& extension : {QStringLiteral(".jpg"), QStringLiteral(".tiff")}) {
        const QString path = basePath + extension;
        if (QFileInfo(path).isFile())
            return path;
    }
    return {};
}

} // namespace

void PMSaveConvertedMovie(const QString& converted, const QString& name)
{
    platform::SavePanel panel;
    panel.title = localized("Save as Movie");
    panel.proposedName = cleanFilename(name);
    if (panel.proposedName.isEmpty())
        panel.proposedName = localized("Untitled");
    panel.allowedExtension = QFileInfo(converted).suffix();
    const QString destination = platform::runSavePanel(panel);
    if (destination.isEmpty())
        return;
    QString error;
    if (!QFileInfo(converted).isFile()) {
        error = localized("The converted movie is gone.");
    } else if (!QFileInfo::exists(destination)) {
        // The copy is made under a hidden name and renamed to the destination only when
        // complete, without replacing a file that appeared meanwhile.
        platform::copyItem(converted, destination, platform::NameConflict::Fail, nullptr, &error);
    } else {
        // The user agreed to replace the file: the complete copy takes its place in one step.
        const QFileInfo target(destination);
        const QString temporary = target.absolutePath() + QStringLiteral("/.") + target.fileName()
            + QStringLiteral(".saving-%1").arg(QRandomGenerator::global()->generate64() & 0xffffffffffffULL, 12, 16, QLatin1Char('0'));
        if (platform::copyItem(converted, temporary, platform::NameConflict::Fail, nullptr, &error)) {
            if (::rename(platform::encodeFileName(temporary).constData(), platform::encodeFileName(destination).constData()) != 0) {
                error = QString::fromLocal8Bit(std::strerror(errno));
                QFile::remove(temporary);
            }
        }
    }
    if (error.isEmpty())
        return;
    PMLog(QStringLiteral("cannot save asset: %@"), Value(error));
    platform::Alert alert;
    alert.messageText = localized("The movie could not be saved.");
    alert.informativeText = localized("%1 could not be written: %2").arg(QDir::toNativeSeparators(destination), error);
    alert.buttons = {localized("OK")};
    platform::runAlert(alert);
}

void PMMainController::populateOpenWithMenu(QMenu* menu, const ArrayPtr& movies, const platform::DictionaryPtr& applications, const QString& common,
                                            bool everyMoviePresent, bool always)
{
    const ArrayPtr hiddenList = defaults().arrayForKey(prefs::keys::OpenWithHiddenApplications);
    QStringList hidden;
    for (const Value& v : hiddenList ? *hiddenList : Array())
        hidden.append(v.string());
    QStringList names = applications ? applications->keys() : QStringList();
    std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) { return PMCompareNamesBySortString(a, b) < 0; });
    for (const QString& name : std::as_const(names)) {
        const QString path = applications->value(name).string();
        const bool isDefault = !common.isEmpty() && path == common;
        if (hidden.contains(name) && !isDefault)
            continue;
        // "Player - Beta" shows as "Player" with the rest dimmer.
        QString title = name;
        QString suffix;
        for (const QString& dash : {QStringLiteral(" - "), QStringLiteral(" \u2013 "), QStringLiteral(" \u2014 ")})
            if (const qsizetype at = name.indexOf(dash); at > 0) {
                title = name.left(at);
                suffix = name.mid(at);
                break;
            }
        auto record = platform::Dictionary::make(); // `PMOpenWithRecord`
        record->setValue(QStringLiteral("Movies"), Value(movies));
        record->setValue(QStringLiteral("Application"), Value(path));
        const QIcon icon = applicationIcon(path);
        // With every movie present, "Open with" opens once and "Always Open with" (its
        // alternate beside it) changes the default viewer; each lists the applications once.
        if (everyMoviePresent && !always) {
            QAction* open = addActionItem(menu, platform::escapedMenuTitle(title), "openWithApplicationFromMenuItem", 0, Value(record));
            open->setIcon(icon);
            if (!suffix.isEmpty() || isDefault)
                setTitleSuffix(open, suffix + (isDefault ? localized(" (Default)") : QString()), -1);
            continue;
        }
        QAction* alwaysItem = addActionItem(menu, platform::escapedMenuTitle(title), "alwaysOpenWithApplicationFromMenuItem", 0, Value(record));
        alwaysItem->setIcon(icon);
        if (!suffix.isEmpty())
            setTitleSuffix(alwaysItem, suffix, -1);
        alwaysItem->setCheckable(isDefault);
        alwaysItem->setChecked(isDefault);
    }
    menu->addSeparator();
    auto own = platform::Dictionary::make();
    own->setValue(QStringLiteral("Movies"), Value(movies));
    QAction* pellis = nullptr;
    if (!everyMoviePresent || always) {
        pellis = addActionItem(menu, QStringLiteral("Pellis"), "alwaysOpenWithApplicationFromMenuItem", 0, Value(own));
        pellis->setIcon(QGuiApplication::windowIcon());
        pellis->setCheckable(common.isEmpty());
        pellis->setChecked(common.isEmpty());
    }
    // Which applications the menu offers: one switch each, the default one always shown.
    auto* filter = new QMenu(localized("Open With: Hide"), menu);
    for (const QString& name : std::as_const(names)) {
        if (!common.isEmpty() && applications->value(name).string() == common)
            continue;
        PMMenuItemSwitch* control = PMMenuItemSwitch::menuItemSwitchWithTitle(name, nullptr, filter, nullptr);
        control->enclosingMenuItem()->setProperty("PMApplicationTitle", name);
        control->setTarget(this);
        control->setAction(QStringLiteral("filterOpenWithApplicationFromMenuItemSwitch"));
        control->setSwitchState(hidden.contains(name) ? 0 : 1);
    }
    QAction* filterItem = menu->addMenu(filter);
    filterItem->setText(localized("Filter"));
    if (pellis)
        platform::setAlternateMenuItem(filterItem, pellis, Qt::ControlModifier);
    platform::installMenuConventions(menu);
}

QMenu* PMMainController::addRatingSubmenuForMovieRepresentations(const ArrayPtr& movies, QMenu* toMenu)
{
    if (!toMenu || count(movies) == 0)
        return nullptr;
    std::vector<double> ratings;
    const long long common = movies ? commonRatingAmongRatings(*movies, &ratings) : -1;
    auto* submenu = new QMenu(localized("Rating"), toMenu);
    if (_mainMenu.ratingMenu) {
        for (QAction* original : _mainMenu.ratingMenu->actions()) {
            if (original->isSeparator()) {
                submenu->addSeparator();
                continue;
            }
            QAction* item = submenu->addAction(original->text());
            platform::setMenuItemAction(item, platform::menuItemAction(original));
            const qint64 tag = platform::menuItemTag(original);
            platform::setMenuItemTag(item, tag);
            platform::setMenuItemRepresentedObject(item, Value(movies));
            item->setCheckable(true);
            const bool among = std::find(ratings.begin(), ratings.end(), double(tag)) != ratings.end();
            item->setChecked(tag == common || among);
            platform::setMenuItemMixedState(item, tag != common && among);
        }
    }
    platform::installMenuConventions(submenu);
    toMenu->addMenu(submenu);
    return submenu;
}

void PMMainController::setWatchedFromMenuItem(QObject* sender)
{
    auto* item = qobject_cast<QAction*>(sender);
    const ArrayPtr movies = item ? infoMovieRepresentationsForMenuItem(item) : cachedInfoMovieRepresentationsSorted(true);
    if (count(movies) == 0)
        return;
    const bool opened = platform::menuItemTag(item) == 1;
    QSet<QString> ids;
    for (const Value& v : *movies) {
        PMMovieRepresentationPrototype* movie = PMMovie(v);
        if (!movie || movie->isOnlineItem())
            continue;
        if (opened) {
            movie->incrementCounterOnlyIfNecessary(true);
        } else {
            movie->invalidateCounter();
            ids.insert(movie->uniqueLibraryID());
        }
    }
    if (!ids.isEmpty()) {
        // Forgetting the plays also forgets them in the history of the last watched.
        const ArrayPtr lastWatched = defaults().objectForKey(prefs::keys::LastWatched).array();
        if (lastWatched) {
            auto kept = Array::make();
            for (const Value& entry : *lastWatched) {
                const platform::DictionaryPtr record = entry.dictionary();
                if (record && ids.contains(record->value(QStringLiteral("Movie")).string()))
                    continue;
                kept->append(entry);
            }
            if (kept->count() != lastWatched->count())
                defaults().setObject(Value(kept), prefs::keys::LastWatched);
        }
    }
    updateLibrary();
    saveLibrarySoon();
}

void PMMainController::addTagValueSwitchesToContextMenu(QMenu* menu, const ArrayPtr& movies, QMenu** getMetadataMenu)
{
    const std::uint64_t threshold = std::uint64_t(std::max<std::int64_t>(0, defaults().hasPersistentValueForKey(prefs::keys::SubmenuThreshold)
                                                                                 ? defaults().integerForKey(prefs::keys::SubmenuThreshold)
                                                                                 : 5));
    const bool includeNotes = defaults().boolForKey(prefs::keys::ToggleTagValuesViaContextMenuIncludeNotes);

    // The tags line first: its values, made at once.
    QList<QAction*> tagsItems;
    if (_tagTypes.contains(QStringLiteral("tags"))) {
        auto* generator = PMTagValueSwitchGenerator::generatorForTag(QStringLiteral("Tags"), movies, this, QStringLiteral("didTogglePropertyValue"),
                                                                      nullptr, menu);
        tagsItems = generator->populateMenu(nullptr, threshold, qsizetype(threshold), QString());
    }
    QStringList entries;
    for (auto it = _tagTypes.cbegin(); it != _tagTypes.cend(); ++it) {
        if (it.key() == QLatin1String("tags") || it.value().values.isEmpty())
            continue;
        if (it.key() == QLatin1String("notes") && !includeNotes)
            continue;
        entries.append(it.value().tag.isEmpty() ? it.key() : it.value().tag);
    }
    if (tagsItems.isEmpty() && entries.isEmpty())
        return;
    std::sort(entries.begin(), entries.end(), [](const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) < 0; });

    QMenu* target = menu;
    if (std::uint64_t(entries.size() + (tagsItems.isEmpty() ? 0 : 1)) > threshold) {
        target = new QMenu(localized("Metadata"), menu);
        QAction* metadata = menu->addMenu(target);
        platform::setMenuItemAction(metadata, QStringLiteral("showMovieInfo"));
        platform::setMenuItemRepresentedObject(metadata, Value(PMInfoScopeRecord(movies, nullptr)));
        platform::installMenuConventions(target);
        *getMetadataMenu = target;
    }
    if (!tagsItems.isEmpty()) {
        if (std::uint64_t(tagsItems.size()) > threshold) {
            auto* tagsMenu = new QMenu(localized("Tags"), target);
            tagsMenu->addActions(tagsItems);
            target->addMenu(tagsMenu);
        } else {
            target->addActions(tagsItems);
            target->addSeparator();
        }
    }
    for (const QString& tag : entries)
        PMTagValueSwitchGenerator::generatorForTag(tag, movies, this, QStringLiteral("didTogglePropertyValue"), target);
}

void PMMainController::addIndexImageSubmenu(QMenu* menu, const Value& movieValue, const PMGroupViewTile& tile)
{
    // Only while the tile shows one of the movie's hover frames: the submenu acts on that frame.
    PMMovieRepresentationPrototype* movie = PMMovie(movieValue);
    const std::int64_t index = tile.hover.indexImageIndex();
    if (!movie || index < 0)
        return;
    const auto frames = movie->cachedStandardIndexImageWrappers();
    if (!frames || std::size_t(index) >= frames->size() || !(*frames)[std::size_t(index)] || !(*frames)[std::size_t(index)]->image())
        return;
    const PMIndexImageWrapperPtr frame = (*frames)[std::size_t(index)];
    const platform::ImagePtr image = frame->image();
    auto* submenu = new QMenu(localized("Index Image"), menu);
    addHandlerItem(submenu, localized("Use as Preview"), [this, movieValue, image](QAction*) {
        if (PMMovieRepresentationPrototype* m = PMMovie(movieValue)) {
            m->setPosterImage(image);
            updatePreviewForMovieRepresentation(movieValue);
        }
    });
    submenu->addSeparator();
    const double timestamp = frame->timestamp();
    QString suggestedName;
    if (timestamp >= 0) {
        suggestedName = savedFrameFilename(movie->displayNameWithExtension(true), timestamp);
    } else {
        suggestedName = QStringLiteral("%1 (%2)").arg(movie->displayNameWithExtension(true)).arg(index + 1);
    }
    QAction* save = addHandlerItem(submenu, localized("Save..."), [this, image, suggestedName](QAction*) {
        if (_itemCommands.saveImage)
            _itemCommands.saveImage(image, suggestedName, mainWindow());
    });
    save->setEnabled(bool(_itemCommands.saveImage));
    addHandlerItem(submenu, localized("Copy"), [image](QAction*) {
        if (image && image->isValid())
            QGuiApplication::clipboard()->setImage(image->pixels());
    });
    if (const QString source = image->associatedSourcePath; !source.isEmpty() && QFileInfo::exists(source)) {
        submenu->addSeparator();
        addActionItem(submenu, localized("Show in File Manager"), "showInFinder", 0, Value(source));
    }
    if (timestamp >= 0)
        movie->addGoToTimestampMenuItemsToMenu(submenu, timestamp, frame->timestampDescription(), nullptr, false, true);
    platform::installMenuConventions(submenu);
    menu->addMenu(submenu);
}

QMenu* PMMainController::populateContextMenu(QMenu* menu, const ArrayPtr& items, const ArrayPtr& infoPool, const PMGroupViewTile* previewView,
                                             bool addAspectRatioMenu, bool addSortAndRearrangeMenus)
{
    return menuController().populateContextMenu(menu, items, infoPool, previewView, addAspectRatioMenu, addSortAndRearrangeMenus);
}

// Every context menu is made of these sections, in this order; each adds what applies to
// the clicked items. Online items have a section of their own and nothing else.
QMenu* PMMenuController::populateContextMenu(QMenu* menu, const ArrayPtr& items, const ArrayPtr& infoPool, const PMGroupViewTile* previewView,
                                             bool addAspectRatioMenu, bool addSortAndRearrangeMenus)
{
    if (!menu)
        menu = new QMenu(localized("Context"));
    platform::installMenuConventions(menu);
    ContextMenuScope s;
    s.items = items;
    s.infoPool = infoPool;
    s.previewView = previewView;
    s.addAspectRatioMenu = addAspectRatioMenu;
    s.addSortAndRearrangeMenus = addSortAndRearrangeMenus;
    s.itemCount = count(items);
    s.clicked = s.itemCount == 1 ? items->at(0) : Value();
    s.container = PMContainer(s.clicked);
    s.movies = s.itemCount ? c.uniqueMovieRepresentationsFromItems(items, {}, true, false, true) : Array::make();
    s.movieCount = count(s.movies);
    s.movie = s.movieCount == 1 ? PMMovie(s.movies->at(0)) : nullptr;

    addPresentationModeItems(menu, s);
    addContainerItems(menu, s);
    if (addOnlineItems(menu, s))
        return menu;
    addMovieInfoItems(menu, s);
    addSeriesAndFilterItems(menu, s);
    addTurnAndCropItems(menu, s);
    addPreviewCropItems(menu, s);
    addOriginalAddressAndChapterItems(menu, s);
    addOpenWithItems(menu, s);
    addOpenedStateItems(menu, s);
    addQuickLookItem(menu, s);
    addPlayAsMovieItem(menu, s);
    addRevealItems(menu, s);
    addConvertedMovieItems(menu, s);
    addMoveAndDeleteItems(menu, s);
    addSortItems(menu, s);

    trimSeparators(menu);
    indentToAlignWithMenuItemSwitches(menu);
    return menu;
}

// Presentation mode: leave it, or switch how it presents.
void PMMenuController::addPresentationModeItems(QMenu* menu, ContextMenuScope& s)
{
    const qsizetype itemCount = s.itemCount;
    PMLibraryContainer* container = s.container;
    if (itemCount == 1 && !container && c._mainMenu.presentationModeMenu && c._isPresenting) {
        QAction* exit = addActionItem(menu, localized("Exit Full Screen"), "togglePresentation");
        exit->setShortcut(QKeySequence(Qt::Key_Escape));
        menu->addSeparator();
        const qint64 mode = defaults().integerForKey(prefs::keys::PresentationMode);
        for (QAction* original : c._mainMenu.presentationModeMenu->actions()) {
            if (original->isSeparator()) {
                menu->addSeparator();
                continue;
            }
            QAction* copy = addActionItem(menu, original->text(), "setPresentationModeFromMenuItem", platform::menuItemTag(original));
            copy->setCheckable(true);
            copy->setChecked(platform::menuItemTag(original) == mode);
        }
        menu->addSeparator();
    }
}

// A smart group: edit, duplicate, emancipate.
void PMMenuController::addContainerItems(QMenu* menu, ContextMenuScope& s)
{
    const Value& clicked = s.clicked;
    PMLibraryContainer* container = s.container;
    QString& deleteTitle = s.deleteTitle;
    if (container && container->isSmartGroup()) {
        if (!container->isSmartGroupSubdivision()) {
            addActionItem(menu, localized("Edit Smart Playlist"), "editSmartPlaylist", 0, clicked);
            addActionItem(menu, localized("Duplicate Smart Playlist"), "duplicateSmartPlaylist", 0, clicked);
            if (defaults().boolForKey(prefs::keys::EnableSmartPlaylistEmancipation)) {
                const auto group = std::static_pointer_cast<PMLibraryContainer>(clicked.object());
                const auto toggle = [this, group](const QString& key) {
                    if (group->value(key).toBool())
                        group->remove(key);
                    else
                        group->setValue(key, Value(true));
                    c.updateLibrary();
                };
                QAction* emancipate = addHandlerItem(menu, localized("Emancipate"), [toggle](QAction*) { toggle(QStringLiteral("Emancipate")); });
                emancipate->setCheckable(true);
                emancipate->setChecked(group->value(QStringLiteral("Emancipate")).toBool());
                if (!emancipate->isChecked() && !defaults().boolForKey(prefs::keys::HideItemCounts)) {
                    QAction* counts = addHandlerItem(menu, localized("Show Item Count"), [toggle](QAction*) { toggle(QStringLiteral("Hide Item Count")); });
                    counts->setCheckable(true);
                    counts->setChecked(!group->value(QStringLiteral("Hide Item Count")).toBool());
                    platform::setAlternateMenuItem(counts, emancipate, Qt::AltModifier);
                }
            }
            menu->addSeparator();
        }
        deleteTitle = localized("Delete Smart Playlist");
    } else if (container && !container->isOnlineItem()) {
        // A folder or playlist: a new child inside it.
        const bool smartPlaylistsFolder = container->value(QStringLiteral("Smart Playlists Folder")).toBool();
        addActionItem(menu, smartPlaylistsFolder ? localized("New Child Playlist") : localized("New Subfolder"), "addContainer", 0, clicked);
        if (smartPlaylistsFolder)
            deleteTitle = localized("Delete Playlist");
        menu->addSeparator();
    }
}

// Online items: their addresses, opened or copied; nothing else applies to them.
// An online item's address: a record's own URL, else what the item is called.
bool PMMenuController::addOnlineItems(QMenu* menu, ContextMenuScope& s)
{
    const ArrayPtr& items = s.items;
    const qsizetype itemCount = s.itemCount;
    const ArrayPtr& movies = s.movies;
    const qsizetype movieCount = s.movieCount;
    struct OnlineItem {
        Value item;
        QString address;
    };
    QList<OnlineItem> online;
    const auto addOnline = [&online](const Value& v) {
        if (PMMovieRepresentationPrototype* m = PMMovie(v); m && m->isOnlineItem())
            online.append({v, m->URL().toString()});
        else if (PMLibraryContainer* c = PMContainer(v); c && c->isOnlineItem())
            online.append({v, c->displayName()});
    };
    for (qsizetype i = 0; i < itemCount; ++i)
        addOnline(items->at(i));
    if (online.isEmpty())
        for (qsizetype i = 0; i < movieCount; ++i)
            addOnline(movies->at(i));
    if (!online.isEmpty()) {
        addSeparatorIfNeeded(menu);
        const qsizetype shown = online.size() > 10 ? 9 : online.size();
        QStringList addresses;
        for (const OnlineItem& o : online)
            addresses.append(o.address);
        for (qsizetype i = 0; i < shown; ++i)
            addSmallLine(menu, addresses.at(i));
        if (shown < online.size())
            addSmallLine(menu, localized("(%1 more)").arg(online.size() - shown));
        if (online.size() == 1) {
            // Only web addresses open from here; any other scheme can only be copied.
            if (isWebAddress(QUrl(addresses.constFirst())))
                addHandlerItem(menu, localized("Open URL"), [url = QUrl(addresses.constFirst())](QAction*) { QDesktopServices::openUrl(url); });
            addHandlerItem(menu, localized("Copy URL"), [address = addresses.constFirst()](QAction*) {
                QGuiApplication::clipboard()->setText(address);
            });
        } else {
            menu->addSeparator();
            addHandlerItem(menu, localized("Copy URLs"), [joined = addresses.join(QLatin1Char('\n'))](QAction*) {
                QGuiApplication::clipboard()->setText(joined);
            });
        }
        trimSeparators(menu);
        return true;
    }

    return false;
}

// Tag-value switches and the metadata.
void PMMenuController::addMovieInfoItems(QMenu* menu, ContextMenuScope& s)
{
    const ArrayPtr& infoPool = s.infoPool;
    const PMGroupViewTile* previewView = s.previewView;
    const ArrayPtr& movies = s.movies;
    const qsizetype movieCount = s.movieCount;
    PMMovieRepresentationPrototype* movie = s.movie;
    bool switchesSection = false;
    QMenu* metadataMenu = nullptr;
    const bool toggleTagValues =
        defaults().objectForKey(prefs::keys::ToggleTagValuesViaContextMenu).isNull() || defaults().boolForKey(prefs::keys::ToggleTagValuesViaContextMenu);
    if (movieCount > 0 && toggleTagValues && !c._tagTypes.isEmpty()) {
        addSeparatorIfNeeded(menu);
        const qsizetype before = menu->actions().size();
        c.addTagValueSwitchesToContextMenu(menu, movies, &metadataMenu);
        switchesSection = menu->actions().size() > before;
    }
    if (movieCount > 0) {
        if (switchesSection) {
            c.addRatingSubmenuForMovieRepresentations(movies, menu);
            menu->addSeparator();
        }
        QMenu* into = metadataMenu ? metadataMenu : menu;
        if (metadataMenu)
            metadataMenu->addSeparator();
        const Value scope = Value(c.PMInfoScopeRecord(movies, infoPool));
        QAction* edit = addActionItem(into, localized("Edit Metadata"), "showMovieInfo", 0, scope);
        QAction* csv = addActionItem(into, localized("Export Metadata CSV..."), "exportMetadataCSV", 0, Value(movies));
        platform::setAlternateMenuItem(csv, edit, Qt::AltModifier);
    }
    const bool namesAutomatically = defaults().boolForKey(prefs::keys::DetermineNamesAutomatically);
    if (movieCount > 1) {
        if (!switchesSection) {
            c.addRatingSubmenuForMovieRepresentations(movies, menu);
            menu->addSeparator();
        } else if (metadataMenu) {
            menu->addSeparator();
        }
        if (!namesAutomatically)
            addActionItem(menu, localized("Batch Rename..."), "showMovieInfo", 1, Value(c.PMInfoScopeRecord(movies, infoPool)));
        if (const ArrayPtr mergeable = c.mergeableMovieRepresentations(movies); count(mergeable) > 0)
            addActionItem(menu, localized("<< Merge >>"), "mergeSequence", 0, Value(mergeable));
    } else if (movie) {
        addSeparatorIfNeeded(menu);
        const Value scope = Value(c.PMInfoScopeRecord(movies, infoPool));
        QAction* info = addActionItem(menu, localized("Show Info"), "showMovieInfo", 1, scope);
        if (!namesAutomatically) {
            QAction* rename = addActionItem(menu, localized("Rename..."), "showMovieInfo", 11, scope);
            if (!defaults().boolForKey(prefs::keys::BatchRenameResumePrefixGroupSequences))
                platform::setAlternateMenuItem(rename, info, Qt::AltModifier);
        }
        if (movie->canShowIndexImage())
            addActionItem(menu, localized("Show Index Image"), "generateIndexImage", 0, movies->at(0));
        if (previewView)
            c.addIndexImageSubmenu(menu, movies->at(0), *previewView);
        if (!previewView && c._currentMovieHasVideo && c._mainMenu.currentFrameMenu && PMMovie(c._currentMovieRepresentation)
            && &PMMovie(c._currentMovieRepresentation)->original() == &movie->original()) {
            auto* frame = new QMenu(localized("Current Frame"), menu);
            for (QAction* original : c._mainMenu.currentFrameMenu->actions()) {
                if (original->isSeparator()) {
                    frame->addSeparator();
                    continue;
                }
                QAction* copy = frame->addAction(original->text());
                platform::setMenuItemAction(copy, platform::menuItemAction(original));
                platform::setMenuItemTag(copy, platform::menuItemTag(original));
            }
            frame->addSeparator();
            addActionItem(frame, localized("Copy"), "copy");
            addActionItem(frame, localized("Copy Selection..."), "copySelection");
            platform::installMenuConventions(frame);
            menu->addMenu(frame);
        }
        if (!switchesSection)
            c.addRatingSubmenuForMovieRepresentations(movies, menu);
        menu->addSeparator();
        // The browsers, filled when they open: other containers of the movie, similar movies.
        menu->addMenu(c.tagBrowserMenuWithTitle(localized("Other Contexts"), c.PMTagBrowserPopulator(movies->at(0), true), menu));
        if (const QStringList tagNames = c.similarTagNamesOfMovieRepresentation(*movie); !tagNames.isEmpty()) {
            const platform::DictionaryPtr populator = c.PMTagBrowserPopulator(movies->at(0), false);
            if (tagNames.size() == 1) {
                const platform::DictionaryPtr entry = movie->cachedTags()->value(tagNames.constFirst()).dictionary();
                QString typed = entry ? entry->value(QStringLiteral("Tag")).string() : QString();
                if (typed.isEmpty())
                    typed = tagNames.constFirst();
                populator->setValue(QStringLiteral("Tag"), Value(typed));
                populator->setValue(QStringLiteral("Header"), Value(typed));
            } else {
                auto names = Array::make();
                for (const QString& name : tagNames)
                    names->append(Value(name));
                populator->setValue(QStringLiteral("Lowercase Tag Names"), Value(names));
            }
            menu->addMenu(c.tagBrowserMenuWithTitle(localized("Similar"), populator, menu));
        }
        if (const Value splittable = c.splittableMovieRepresentation(movies); !splittable.isNull()) {
            addSeparatorIfNeeded(menu);
            addActionItem(menu, localized("<< Split >>"), "splitSequence", 0, splittable);
        }
    }
}

// Series, filtering and date alignment belong to the views that sort.
void PMMenuController::addSeriesAndFilterItems(QMenu* menu, ContextMenuScope& s)
{
    const qsizetype itemCount = s.itemCount;
    const ArrayPtr& movies = s.movies;
    const qsizetype movieCount = s.movieCount;
    const bool addSortAndRearrangeMenus = s.addSortAndRearrangeMenus;
    if (addSortAndRearrangeMenus && movieCount > 0) {
        addSeparatorIfNeeded(menu);
        QMap<QString, qsizetype> seriesCounts;
        for (const Value& v : *movies)
            if (PMMovieRepresentationPrototype* m = PMMovie(v); m && !m->seriesIDPrefix().isEmpty())
                seriesCounts[m->seriesIDPrefix()] += 1;
        QMenu* sequenceMenu = nullptr;
        if (!seriesCounts.isEmpty()) {
            sequenceMenu = new QMenu(localized("Sequence"), menu);
            for (auto it = seriesCounts.cbegin(); it != seriesCounts.cend(); ++it) {
                // The series' own size, however many of it were clicked.
                const platform::DictionaryPtr series = c._nonProxyRawMovieRepresentationSeriesByIDPrefix.value(it.key());
                const ArrayPtr members = series ? series->value(QStringLiteral("Items")).array() : nullptr;
                const qsizetype size = members && !members->isEmpty() ? members->count() : it.value();
                const QString suffix = size == 1 ? localized("1 file") : localized("%1 files").arg(size);
                const QString seriesName = c.displayNameForSeriesIDPrefix(it.key());
                const QString title = seriesName.isEmpty() ? localized("Show Series")
                                                           : localized("Show \"%1\"").arg(platform::escapedMenuTitle(seriesName));
                addActionItem(sequenceMenu, title + QStringLiteral(" — ") + suffix, "filter", 0, Value(QStringLiteral("==") + it.key()));
            }
            if (seriesCounts.size() > 1) {
                QStringList prefixes;
                for (auto it = seriesCounts.cbegin(); it != seriesCounts.cend(); ++it)
                    prefixes.append(QStringLiteral("==") + it.key());
                addActionItem(sequenceMenu, localized("Show All"), "filter", 0, Value(prefixes.join(QLatin1Char('|'))));
            }
            sequenceMenu->addSeparator();
            platform::installMenuConventions(sequenceMenu);
        }
        const auto finishSeries = [this] {
            c.updateLibrary();
            c.saveLibrarySoon();
        };
        if (movieCount > 1 && defaults().boolForKey(prefs::keys::Serialize)) {
            addHandlerItem(sequenceMenu ? sequenceMenu : menu, localized("Sequence"), [movies, finishSeries](QAction*) {
                PMMovieRepresentationPrototype* first = PMMovie(movies->at(0));
                const QString id = first ? first->uniqueLibraryID() : QString();
                std::uint64_t index = 1;
                for (const Value& v : *movies)
                    if (PMMovieRepresentationPrototype* m = PMMovie(v))
                        m->setSeriesID(id, index++);
                finishSeries();
            });
        }
        if (sequenceMenu) {
            addHandlerItem(sequenceMenu, seriesCounts.size() == 1 ? localized("Remove from Sequence") : localized("Remove from Sequences"),
                           [movies, finishSeries](QAction*) {
                               for (const Value& v : *movies)
                                   if (PMMovieRepresentationPrototype* m = PMMovie(v))
                                       m->setSeriesID(QString(), 0);
                               finishSeries();
                           });
            menu->addMenu(sequenceMenu);
        }
        QAction* filterItem = addActionItem(menu, localized("Filter"), "filter", 0, Value(movies));
        addAlignDateSubmenu(c, menu, movies, itemCount == 1, filterItem);
    }
}

// Turning, mirroring and cropping.
void PMMenuController::addTurnAndCropItems(QMenu* menu, ContextMenuScope& s)
{
    const ArrayPtr& movies = s.movies;
    const qsizetype movieCount = s.movieCount;
    PMMovieRepresentationPrototype* movie = s.movie;
    const bool addAspectRatioMenu = s.addAspectRatioMenu;
    if (movieCount > 0 && c.canFlipOrRotateMovieRepresentations(movies, nullptr)) {
        addSeparatorIfNeeded(menu);
        addActionItem(menu, localized("<< Rotate >>"), "rotate", 0, Value(movies));
        addActionItem(menu, localized("<< Rotate the Other Way >>"), "rotate", 1, Value(movies));
        addActionItem(menu, localized("Mirror"), "flip", 0, Value(movies));
    }
    const bool isCurrent = movie && PMMovie(c._currentMovieRepresentation) && &PMMovie(c._currentMovieRepresentation)->original() == &movie->original();
    if (isCurrent && c._currentMovieHasVideo) {
        addSeparatorIfNeeded(menu);
        addActionItem(menu, localized("<< Crop >>"), "cropMovie");
        if (addAspectRatioMenu) {
            QMenu* aspect = c.populateAspectRatioMenu(nullptr);
            aspect->setTitle(localized("Aspect Ratio"));
            aspect->setParent(menu, aspect->windowFlags());
            menu->addMenu(aspect);
        }
    }
}

// A clicked tile in a cropping layout: whether the movies' previews are cropped.
void PMMenuController::addPreviewCropItems(QMenu* menu, ContextMenuScope& s)
{
    const PMGroupViewTile* previewView = s.previewView;
    const ArrayPtr& movies = s.movies;
    const qsizetype movieCount = s.movieCount;
    if (previewView && movieCount > 0 && (PMGroupView::currentLayout() & (1 | 8)) == 0
        && defaults().boolForKey(prefs::keys::ScalePreviewsToFitIndividually)) {
        const QString key = QStringLiteral("Scale Preview To Fit");
        qsizetype on = 0, off = 0;
        for (const Value& v : *movies)
            if (PMMovieRepresentationPrototype* m = PMMovie(v); m && m->userSettings()->contains(key))
                (m->userSettings()->value(key).toBool() ? on : off) += 1;
        const auto refresh = [this, movies, previewView] {
            // A layout that places tiles by their pictures lays out anew; others redraw.
            if (PMGroupView::currentLayout() & 8)
                platform::NotificationCenter::defaultCenter().postNotificationName(
                    QStringLiteral("com.tolvane.PMPreviewViewLayoutUpdateNotification"), static_cast<const void*>(c._groupView.data()));
            else
                for (const Value& v : *movies)
                    c.updatePreviewForMovieRepresentation(v);
            (void)previewView;
        };
        addSeparatorIfNeeded(menu);
        if (on == movieCount) {
            addHandlerItem(menu, localized("Crop Preview Automatically"), [movies, key, refresh](QAction*) {
                for (const Value& v : *movies)
                    if (PMMovieRepresentationPrototype* m = PMMovie(v))
                        m->userSettings()->remove(key);
                refresh();
            });
        } else {
            QAction* crop = addHandlerItem(menu, localized("Crop Preview"), [movies, key, refresh](QAction*) {
                bool someUnset = false;
                for (const Value& v : *movies)
                    if (PMMovieRepresentationPrototype* m = PMMovie(v); m && !m->userSettings()->contains(key))
                        someUnset = true;
                for (const Value& v : *movies)
                    if (PMMovieRepresentationPrototype* m = PMMovie(v))
                        m->userSettings()->setValue(key, Value(!someUnset));
                refresh();
            });
            crop->setCheckable(true);
            crop->setChecked(off > 0);
            platform::setMenuItemMixedState(crop, off > 0 && on > 0);
        }
    }
}

// The address the file came from.
void PMMenuController::addOriginalAddressAndChapterItems(QMenu* menu, ContextMenuScope& s)
{
    const ArrayPtr& movies = s.movies;
    PMMovieRepresentationPrototype* movie = s.movie;
    if (movie) {
        const QString original = movie->userSettings() ? movie->userSettings()->value(QStringLiteral("Original URL")).string() : QString();
        if (!original.isEmpty()) {
            addSeparatorIfNeeded(menu);
            addSmallLine(menu, original);
            const Value item = movies->at(0);
            if (isWebAddress(QUrl(original)))
                addHandlerItem(menu, localized("Open Original URL"), [item](QAction*) {
                    if (PMMovieRepresentationPrototype* m = PMMovie(item))
                        m->openOriginalURL();
                });
            addHandlerItem(menu, localized("Copy Original URL"), [original](QAction*) { QGuiApplication::clipboard()->setText(original); });
        }
        bool hasChapters = false;
        auto* chapters = new QMenu(menu);
        c.populateChaptersMenu(chapters, movies->at(0), &hasChapters);
        if (!chapters->actions().isEmpty()) {
            chapters->setTitle(hasChapters ? localized("Chapters") : localized("Markers"));
            addSeparatorIfNeeded(menu);
            menu->addMenu(chapters);
        } else {
            delete chapters;
        }
    }
}

// Open With: the applications that open every movie.
void PMMenuController::addOpenWithItems(QMenu* menu, ContextMenuScope& s)
{
    const ArrayPtr& movies = s.movies;
    const qsizetype movieCount = s.movieCount;
    if (movieCount > 0) {
        QString common;
        const platform::DictionaryPtr applications = c.applicationsForMovieRepresentations(movies, false, &common);
        if (applications && !applications->isEmpty()) {
            bool everyMoviePresent = true;
            for (const Value& v : *movies)
                if (PMMovieRepresentationPrototype* m = PMMovie(v); m && m->isMissing())
                    everyMoviePresent = false;
            addSeparatorIfNeeded(menu);
            auto* openWith = new QMenu(localized("Open With"), menu);
            c.populateOpenWithMenu(openWith, movies, applications, common, everyMoviePresent);
            if (everyMoviePresent) {
                QAction* open = menu->addMenu(openWith);
                open->setText(localized("Open with"));
                auto* copy = new QMenu(localized("Open With"), menu);
                c.populateOpenWithMenu(copy, movies, applications, common, everyMoviePresent, true);
                QAction* always = menu->addMenu(copy);
                always->setText(localized("Always Open with"));
                platform::setAlternateMenuItem(always, open, Qt::AltModifier);
            } else {
                menu->addMenu(openWith)->setText(localized("Always Open with"));
            }
        }
    }
}

// Opened state.
void PMMenuController::addOpenedStateItems(QMenu* menu, ContextMenuScope& s)
{
    const ArrayPtr& movies = s.movies;
    const qsizetype movieCount = s.movieCount;
    if (movieCount > 0) {
        bool someNeverPlayed = false;
        for (const Value& v : *movies)
            if (PMMovieRepresentationPrototype* m = PMMovie(v); m && m->counter() == 0)
                someNeverPlayed = true;
        addSeparatorIfNeeded(menu);
        if (someNeverPlayed)
            addActionItem(menu, localized("Mark as Opened"), "setWatchedFromMenuItem", 1, Value(movies));
        else
            addActionItem(menu, localized("Mark as Unopened"), "setWatchedFromMenuItem", 0, Value(movies));
    }
}

// The preview panel, for movies that can play and that it would show.
void PMMenuController::addQuickLookItem(QMenu* menu, ContextMenuScope& s)
{
    const ArrayPtr& movies = s.movies;
    const qsizetype movieCount = s.movieCount;
    if (movieCount > 0 && c.quickLookOffersMovieRepresentations(movies)) {
        addSeparatorIfNeeded(menu);
        QAction* look = addActionItem(menu, localized("Quick Look"), "toggleQuickLook");
        if (!c.quickLookMovieRepresentationsAreCurrentItems(movies))
            platform::setMenuItemRepresentedObject(look, Value(movies));
    }
}

// Still images played one after another as a movie.
void PMMenuController::addPlayAsMovieItem(QMenu* menu, ContextMenuScope& s)
{
    const ArrayPtr& movies = s.movies;
    const qsizetype movieCount = s.movieCount;
    const qint64 framesPerSecond = defaults().integerForKey(prefs::keys::ImageSelectionMovieFramesPerSecond);
    if (movieCount > 1 && framesPerSecond > 0) {
        PMMovieRepresentationPrototype* current = PMMovie(c._currentMovieRepresentation);
        if (!current && c._isMonitoringExternalViewer)
            current = PMMovie(c._externalViewerMovieRepresentation);
        bool allStill = true;
        for (const Value& v : *movies) {
            PMMovieRepresentationPrototype* m = PMMovie(v);
            if (!m || !m->isConsideredStillImage() || m->duration() > 0 || (current && &current->original() == &m->original())) {
                allStill = false;
                break;
            }
        }
        if (allStill) {
            addSeparatorIfNeeded(menu);
            addHandlerItem(menu, localized("Play as Movie"), [this, movies](QAction*) {
                PMMovieRepresentationPrototype* first = PMMovie(movies->at(0));
                if (!first)
                    return;
                auto frames = std::make_shared<PMMovieRepresentationPrototype::FrameImageMovieRepresentations>();
                for (const Value& v : *movies)
                    if (PMMovieRepresentationPrototype* m = PMMovie(v))
                        frames->push_back({m->URL(), m->uniqueLibraryID()});
                first->original().setFrameImageMovieRepresentations(frames);
                c.chooseMovieRepresentation(movies->at(0), false, false, true, false);
            });
        }
    }
}

// Revealing the file, and the pictures shown for it.
void PMMenuController::addRevealItems(QMenu* menu, ContextMenuScope& s)
{
    PMMovieRepresentationPrototype* movie = s.movie;
    if (movie) {
        QAction* reveal = nullptr;
        if (!movie->path().isEmpty() && !movie->isMissing()) {
            addSeparatorIfNeeded(menu);
            const std::optional<QStringList> parts = sequencePaths(movie->path());
            if (parts && !parts->isEmpty()) {
                // A sequence bundle: the bundle itself first, then each of its parts.
                auto* partsMenu = new QMenu(localized("Show in File Manager"), menu);
                addActionItem(partsMenu, platform::escapedMenuTitle(QFileInfo(movie->path()).fileName()), "showInFinder", 0, Value(movie->path()));
                partsMenu->addSeparator();
                for (const QString& part : *parts)
                    addActionItem(partsMenu, platform::escapedMenuTitle(QFileInfo(part).fileName()), "showInFinder", 0, Value(part));
                platform::installMenuConventions(partsMenu);
                reveal = menu->addMenu(partsMenu);
            } else {
                reveal = addActionItem(menu, localized("Show in File Manager"), "showInFinder", 0, Value(movie->path()));
            }
        }
        const auto differs = [movie](const QString& file) { return !file.isEmpty() && file != movie->path(); };
        const QString preview = storedImageFile(movie->posterImageBasePath());
        const QString cover = storedImageFile(movie->coverImageBasePath());
        QAction* previewItem = nullptr;
        if (differs(preview)) {
            previewItem = addActionItem(menu, localized("Show Preview in File Manager"), "showInFinder", 0, Value(preview));
            if (reveal)
                platform::setAlternateMenuItem(previewItem, reveal, Qt::AltModifier);
        }
        if (differs(cover)) {
            QAction* coverItem = addActionItem(menu, localized("Show Cover in File Manager"), "showInFinder", 0, Value(cover));
            if (reveal)
                platform::setAlternateMenuItem(coverItem, reveal, previewItem ? Qt::AltModifier | Qt::ShiftModifier : Qt::AltModifier);
        }
    }
}


void PMMenuController::addConvertedMovieItems(QMenu* menu, ContextMenuScope& s)
{
    PMMovieRepresentationPrototype* movie = s.movie;
    const auto isCurrentMovie = [this](PMMovieRepresentationPrototype* m) {
        PMMovieRepresentationPrototype* current = PMMovie(c._currentMovieRepresentation);
        return m && current && &current->original() == &m->original();
    };

    // An animated image that plays as the movie made of it: that movie can be kept.
    if (isCurrentMovie(movie) && defaults().boolForKey(prefs::keys::PlayGIFsAsMoviesExport) && PMIsAnimatedImageURL(movie->URL())) {
        const QString converted = PMAutoConvertedAssetPath(movie->uniqueLibraryID());
        if (!converted.isEmpty()) {
            addSeparatorIfNeeded(menu);
            const QString name = movie->displayName();
            QAction* save = addHandlerItem(menu, localized("Save as Movie..."), [converted, name](QAction*) { PMSaveConvertedMovie(converted, name); });
            QAction* show = addHandlerItem(menu, localized("Show Auto-Converted Movie in File Manager"),
                                           [converted](QAction*) { platform::revealInFileManager({converted}); });
            platform::setAlternateMenuItem(show, save, Qt::AltModifier);
        }
    }
}

// Moving into the library folder, and deleting.
void PMMenuController::addMoveAndDeleteItems(QMenu* menu, ContextMenuScope& s)
{
    const ArrayPtr& items = s.items;
    const qsizetype itemCount = s.itemCount;
    const ArrayPtr& movies = s.movies;
    const qsizetype movieCount = s.movieCount;
    QString& deleteTitle = s.deleteTitle;
    if (movieCount > 0) {
        addSeparatorIfNeeded(menu);
        c.addMoveToLibraryFolderSubmenuForMovieRepresentations(movies, menu);
    }
    bool byRemoving = false;
    bool blacklisting = false;
    if (itemCount > 0 && c.canDragOrDeleteItems(items, &byRemoving, &blacklisting)) {
        std::function<bool()> diskCheck;
        if (deleteTitle.isEmpty()) {
            if (byRemoving) {
                // What needs the disk (the files a deletion would offer to trash) is
                // looked at off the main thread; the title follows when it answers.
                bool confirmationRequired = false;
                diskCheck = c.deleteItemsDryRunDeferringDiskWork(items, &confirmationRequired);
                deleteTitle = confirmationRequired ? localized("Delete from Library...") : localized("Delete from Library");
            } else {
                deleteTitle = blacklisting ? localized("Ignore") : localized("Remove from Playlist");
            }
        }
        addSeparatorIfNeeded(menu);
        QAction* deleteItem = addActionItem(menu, deleteTitle, "deleteItemsFromMenuItem", 0, Value(items));
        if (diskCheck) {
            QPointer<QAction> guarded(deleteItem);
            platform::dispatchAsyncGlobal([diskCheck, guarded] {
                if (!diskCheck())
                    return;
                platform::dispatchAsyncMain([guarded] {
                    if (guarded)
                        guarded->setText(localized("Delete from Library..."));
                });
            });
        }
    }
}

// Sorting the shown container: the library's own top-level sections keep their order
// unless they may be rearranged, as in the main menu.
void PMMenuController::addSortItems(QMenu* menu, ContextMenuScope& s)
{
    const ArrayPtr& movies = s.movies;
    PMMovieRepresentationPrototype* movie = s.movie;
    const bool addSortAndRearrangeMenus = s.addSortAndRearrangeMenus;
    const PMLibraryContainerPtr shown = addSortAndRearrangeMenus ? c.selectedContainer() : nullptr;
    const bool canRearrange = shown && shown->rearrangeChildrenAsPreflightCheck(true);
    if (shown && (shown->topLevelRole().isEmpty() || canRearrange)) {
        const QString name = shown->displayName();
        const Value sortMovie = movie ? movies->at(0) : Value();
        addSeparatorIfNeeded(menu);
        const QString sortTitle = name.isEmpty() ? localized("Sort by") : localized("Sort \"%1\" by").arg(platform::escapedMenuTitle(name));
        const QString rearrangeTitle = name.isEmpty() ? localized("Rearrange by") : localized("Rearrange \"%1\" by").arg(platform::escapedMenuTitle(name));
        if (menu->actions().isEmpty()) {
            // Header lines: styles draw a section without its text.
            const auto addHeader = [menu](const QString& title) {
                QAction* header = menu->addAction(title);
                platform::setMenuItemTargetsNothing(header);
                header->setEnabled(false);
            };
            addHeader(sortTitle);
            c.populateSortMenu(menu, false, sortMovie);
            if (canRearrange) {
                menu->addSeparator();
                addHeader(rearrangeTitle);
                c.populateRearrangeMenu(menu, sortMovie);
            }
        } else {
            auto* sort = new QMenu(sortTitle, menu);
            sort->setObjectName(QStringLiteral("ContextSortBy"));
            c.populateSortMenu(sort, false, sortMovie);
            platform::installMenuConventions(sort);
            menu->addMenu(sort);
            if (canRearrange) {
                auto* rearrange = new QMenu(rearrangeTitle, menu);
                rearrange->setObjectName(QStringLiteral("ContextRearrangeBy"));
                c.populateRearrangeMenu(rearrange, sortMovie);
                if (!rearrange->actions().isEmpty()) {
                    platform::installMenuConventions(rearrange);
                    menu->addMenu(rearrange);
                } else {
                    delete rearrange;
                }
            }
        }
    }
}


QMenu* PMMainController::contextMenuForCurrentMovie()
{
    return menuController().contextMenuForCurrentMovie();
}

QMenu* PMMainController::contextMenuForGroupViewItems(const ArrayPtr& items, const PMGroupViewTile* previewView)
{
    return menuController().contextMenuForGroupViewItems(items, previewView);
}

// ---- One builder per menu ---------------------------------------------------------------

QMenu* PMMenuController::contextMenuForCurrentMovie()
{
    if (c._currentMovieRepresentation.isNull())
        return nullptr;
    auto items = Array::make();
    items->append(c._currentMovieRepresentation);
    return populateContextMenu(nullptr, items, nullptr, nullptr, true, false);
}

QMenu* PMMenuController::contextMenuForGroupViewItems(const ArrayPtr& items, const PMGroupViewTile* previewView)
{
    return populateContextMenu(nullptr, items, c._groupMovieItems, previewView, false, true);
}

QMenu* PMMenuController::contextMenuForGroupListRows(const QList<qsizetype>& rows)
{
    return contextMenuForGroupViewItems(c.groupListItemsForIndexSet(rows), nullptr);
}

QMenu* PMMenuController::contextMenuForLibraryListRows(const QList<qsizetype>* rows)
{
    auto items = Array::make();
    if (rows && c.libraryListView)
        for (qsizetype row : *rows)
            if (Value item = c.libraryListView->itemAtRow(row); !item.isNull())
                items->append(item);
    ArrayPtr pool;
    if (items->count() == 1 && PMMovie(items->at(0)))
        pool = c.sortedSiblingsOfLibraryItem(items->at(0));
    QMenu* menu = items->isEmpty() ? nullptr : populateContextMenu(nullptr, items, pool, nullptr, false, false);
    if (menu && !menu->actions().isEmpty())
        return menu;
    // Empty space, or nothing that applies: the sidebar's own options.
    if (!menu)
        menu = new QMenu;
    menu->setTitle(localized("Library List Options"));
    platform::installMenuConventions(menu);
    addActionItem(menu, localized("New Folder"), "addContainer", 0);
    addActionItem(menu, localized("New Playlist"), "addContainer", 1);
    addActionItem(menu, localized("New Smart Playlist..."), "addSmartPlaylist");
    if (!defaults().objectForKey(prefs::keys::AutomaticallyHideAndShowSidebar).isNull()) {
        menu->addSeparator();
        QAction* toggle = addActionItem(menu, localized("Automatically Hide and Show Sidebar"), "toggleBooleanPreferenceViaMenuItem", 0,
                                        Value(QStringLiteral("Automatically Hide And Show Sidebar")));
        toggle->setCheckable(true);
        toggle->setChecked(defaults().boolForKey(prefs::keys::AutomaticallyHideAndShowSidebar));
    }
    return menu;
}

void PMMainController::installContextMenus()
{
    // Once: the menu of the grid (and of the list, below) for the items it asks about.
    QObject::disconnect(this, &PMMainController::groupViewContextMenuRequested, this, nullptr);
    QObject::connect(this, &PMMainController::groupViewContextMenuRequested, this,
                     [this](const ArrayPtr& items, const PMGroupViewTile* previewView, QMenu** menu) {
                         if (!*menu)
                             *menu = contextMenuForGroupViewItems(items, previewView);
                     });
    if (!_contextMenuForGroupListRowIndexes)
        _contextMenuForGroupListRowIndexes = [this](const QList<qsizetype>& rows) { return menuController().contextMenuForGroupListRows(rows); };
    _contextMenuForLibraryListRowIndexes = [this](const QList<qsizetype>* rows) { return menuController().contextMenuForLibraryListRows(rows); };
    _actions.insert(QStringLiteral("setWatchedFromMenuItem"), [this](QObject* s) { setWatchedFromMenuItem(s); });
    if (!_actions.contains(QStringLiteral("toggleQuickLook")))
        _actions.insert(QStringLiteral("toggleQuickLook"), [this](QObject* s) { toggleQuickLook(s); });
    if (!_menuValidation.isQuickLookPanelVisible)
        _menuValidation.isQuickLookPanelVisible = [this] {
            PMQuickLookPanel* panel = PMQuickLookPanel::sharedPreviewPanel(false);
            return panel && panel->isVisible() && panel->currentController() == quickLookPanelController();
        };
    installContextBrowserCommands();
    // A saved frame goes where the user chooses, under a free name.
    if (!_itemCommands.saveImage)
        _itemCommands.saveImage = [](const platform::ImagePtr& image, const QString& suggestedFilename, QWidget* referenceWindow) {
            const QString className = QStringLiteral("PMDragSourceImageView");
            PMDragSourceImageView::saveImage(image, PMDragSourceImageView::JPEGCompressionFactor(className), QString(), suggestedFilename, nullptr,
                                             referenceWindow, className);
        };
}
