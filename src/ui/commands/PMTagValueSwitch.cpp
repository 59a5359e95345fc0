#include "ui/commands/PMTagValueSwitch.h"

#include "library/model/PMMainController.h"
#include "library/model/PMMovieRepresentation.h"
#include "platform/Alert.h"
#include "platform/DelayedPerform.h"
#include "foundation/PMSettingsKeys.h"
#include "platform/UserDefaults.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QTimer>
#include <QtWidgets/QApplication>
#include <QtWidgets/QMenu>
#include <QtWidgets/QWidgetAction>

#include <algorithm>

using platform::ArrayPtr;
using platform::Value;

namespace {

const QString kDisableAlert = QStringLiteral("PMTagValueSwitch: Immediate Toggle: Disable Alert");

QString localized(const char* text)
{
    return QCoreApplication::translate("PMTagValueSwitch", text);
}

QString originalID(const Value& movie)
{
    PMMovieRepresentationPrototype* record = PMMovie(movie);
    PMMovieRepresentationPrototype* original = record ? PMMovie(record->nonProxySelf()) : nullptr;
    return original ? original->uniqueLibraryID() : QString();
}

// Closes the menu the widget sits in, and every menu above it.
void closeMenusAbove(QWidget* widget)
{
    QMenu* top = nullptr;
    for (QWidget* w = widget; w; w = w->parentWidget()) {
        if (auto* menu = qobject_cast<QMenu*>(w))
            top = menu;
    }
    for (QWidget* w = widget; w; w = w->parentWidget()) {
        if (auto* menu = qobject_cast<QMenu*>(w))
            menu->hide();
    }
    // A submenu's parent is the menu it opened from; closing the top one closes the rest.
    if (top)
        top->close();
}

} // namespace

PMTagValueSwitch* PMTagValueSwitch::make(const QString& title, const QFont* font, QMenu* addToMenu, QList<QAction*>* addToMenuItems)
{
    auto* s = new PMTagValueSwitch;
    place(s, title, font, addToMenu, addToMenuItems);
    return s;
}

PMTagValueSwitchGenerator* PMTagValueSwitchGenerator::generatorForTag(const QString& tag, const ArrayPtr& movieRepresentations, QObject* target,
                                                                      const QString& action, QMenu* parentMenu, QObject* owner)
{
    auto* generator = new PMTagValueSwitchGenerator(owner);
    generator->tagName = tag;
    generator->movieRepresentations = movieRepresentations ? movieRepresentations : platform::Array::make();
    generator->target = target;
    generator->action = action;
    if (parentMenu) {
        auto* submenu = new QMenu(tag, parentMenu);
        QAction* item = parentMenu->addMenu(submenu);
        generator->setParent(item);
        QObject::connect(submenu, &QMenu::aboutToShow, generator, [generator, submenu] { generator->menuNeedsUpdate(submenu); });
    }
    return generator;
}

void PMTagValueSwitchGenerator::menuNeedsUpdate(QMenu* menu)
{
    if (menu && menu->actions().isEmpty())
        populateMenu(menu, 0, 0, localized("Empty"));
}

QList<QAction*> PMTagValueSwitchGenerator::populateMenu(QMenu* menu, std::uint64_t separationThreshold, qsizetype smallFontThreshold,
                                                        const QString& placeholder)
{
    QList<QAction*> items;
    QHash<QString, ArrayPtr> carriers;
    const QStringList values = mainController().valuesForTag(tagName, QString(), movieRepresentations, separationThreshold, &carriers);
    if (values.isEmpty()) {
        if (!placeholder.isEmpty()) {
            auto* item = new QAction(placeholder, menu);
            item->setEnabled(false);
            if (menu)
                menu->addAction(item);
            items.append(item);
        }
        return items;
    }
    const qsizetype threshold =
        std::max<qsizetype>(prefs::get(prefs::keys::PMTagValueSwitchGeneratorDefaultSmallFontThreshold),
                            smallFontThreshold);
    QFont font = menu ? menu->font() : QApplication::font("QMenu");
    // Many values: the small font.
    if (values.size() > threshold && font.pointSizeF() > 0)
        font.setPointSizeF(std::max(8.0, font.pointSizeF() - 2));

    QSet<QString> movieIDs;
    for (const Value& v : *movieRepresentations)
        movieIDs.insert(originalID(v));
    movieIDs.remove(QString());

    for (const QString& value : values) {
        if (value.isEmpty()) {
            auto* separator = new QAction(menu);
            separator->setSeparator(true);
            if (menu)
                menu->addAction(separator);
            items.append(separator);
            continue;
        }
        PMTagValueSwitch* s = PMTagValueSwitch::make(value, &font, menu, &items);
        s->tagName = tagName;
        s->tagValue = value;
        s->generator = this;
        s->setTarget(this);
        s->setAction(QStringLiteral("toggleTagValue"));
        for (const Value& v : carriers.value(value) ? *carriers.value(value) : platform::Array())
            s->carriersAtOpening.insert(originalID(v));
        s->carriersAtOpening.remove(QString());
        const qsizetype carried = std::count_if(movieIDs.begin(), movieIDs.end(), [&](const QString& id) { return s->carriersAtOpening.contains(id); });
        const bool mixed = carried > 0 && carried < movieIDs.size();
        s->setAllowsMixedState(mixed);
        s->setSwitchState(mixed ? -1 : (carried > 0 ? 1 : 0));
    }
    return items;
}

void PMTagValueSwitchGenerator::performAction(const QString& name, QObject* sender)
{
    if (name == QLatin1String("toggleTagValue"))
        toggleTagValue(qobject_cast<PMTagValueSwitch*>(sender));
}

bool PMTagValueSwitchGenerator::alertShowHelp()
{
    PMMainController::mainController().openHelpPage(QStringLiteral("menuitems"), QStringLiteral("#Contextual_Menus"), true);
    return true;
}

void PMTagValueSwitchGenerator::toggleTagValue(PMTagValueSwitch* sender)
{
    if (!sender)
        return;
    platform::UserDefaults& defaults = platform::UserDefaults::standard();
    if (!defaults.boolForKey(kDisableAlert)) {
        // The first click explains and changes nothing: the switch shows what it showed.
        const int now = sender->switchState();
        sender->setSwitchState(now == 1 ? (sender->isTristate() ? -1 : 0) : (now == 0 ? 1 : 0));
        closeMenusAbove(sender);
        QTimer::singleShot(0, qApp, [] {
            platform::Alert alert;
            alert.messageText = localized("Congratulations, you found a power user feature!");
            alert.informativeText = localized("Interacting with context menu checkboxes directly affects the relevant files' tags and property "
                                              "values. If you're unclear on the ramifications, consider checking Pellis Help before proceeding.");
            alert.buttons = {localized("Understood"), localized("Show Alert Again Next Time"), localized("Help")};
            alert.style = platform::AlertStyle::Informational;
            alert.unattendedButton = 1;
            const int answer = platform::runAlert(alert).button;
            if (answer == 0)
                platform::UserDefaults::standard().setBool(true, kDisableAlert);
            else if (answer == 2)
                alertShowHelp();
        });
        return;
    }

    const int state = sender->switchState();
    for (const Value& v : *movieRepresentations) {
        PMMovieRepresentationPrototype* movie = PMMovie(v);
        if (!movie)
            continue;
        const bool carries = state > 0 || (state < 0 && sender->carriersAtOpening.contains(originalID(v)));
        if (carries)
            movie->addValue(sender->tagValue, sender->tagName);
        else
            movie->subtractValue(sender->tagValue, sender->tagName);
    }
    // A run of toggles in one open menu ends in one update.
    auto* responder = dynamic_cast<platform::Responder*>(target.data());
    if (!action.isEmpty() && responder && responder->respondsToAction(action)) {
        QObject* to = target;
        const QString name = action;
        platform::cancelPreviousPerformRequests(to, name, Value());
        platform::performAfterDelay(to, name, Value(), 0, [to = QPointer<QObject>(to), name] {
            if (auto* r = dynamic_cast<platform::Responder*>(to.data()))
                r->performAction(name, nullptr);
        });
    }
}
