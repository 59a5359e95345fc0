// Switch rows that add or remove one value of a tag on a set of movies, straight from a
// context menu: on adds it to every movie, off removes it from every movie, mixed gives it
// back to exactly the movies that had it when the menu was made. The first click only
// explains the feature until the user acknowledges it.
#pragma once

#include "platform/Responder.h"
#include "platform/Value.h"
#include "ui/commands/PMMenuItemSwitch.h"

#include <QtCore/QObject>
#include <QtCore/QPointer>
#include <QtCore/QSet>
#include <QtCore/QString>

class QMenu;
class QAction;

class PMTagValueSwitchGenerator;

class PMTagValueSwitch : public PMMenuItemSwitch {
    Q_OBJECT
public:
    static PMTagValueSwitch* make(const QString& title, const QFont* font, QMenu* addToMenu, QList<QAction*>* addToMenuItems);
    QString tagName;
    QString tagValue;
    // The originals (by library ID) that carried the value when the switch was made: what
    // a mixed click restores. Each switch keeps its own.
    QSet<QString> carriersAtOpening;
    QPointer<PMTagValueSwitchGenerator> generator;

private:
    PMTagValueSwitch() = default;
};

class PMTagValueSwitchGenerator : public QObject, public platform::Responder {
    Q_OBJECT
public:
    // With a parent menu: a submenu titled with the tag, filled when it first opens, added
    // to the parent menu in an item that owns the generator. Without: a generator for the
    // caller to use at once (owned by the caller, or by `owner`).
    static PMTagValueSwitchGenerator* generatorForTag(const QString& tag, const platform::ArrayPtr& movieRepresentations, QObject* target,
                                                      const QString& action, QMenu* parentMenu, QObject* owner = nullptr);

    // Makes the value switches (and separators between groups), adds them to the menu
    // when given and answers them. Without values: the placeholder as a disabled item.
    QList<QAction*> populateMenu(QMenu* menu, std::uint64_t separationThreshold, qsizetype smallFontThreshold, const QString& placeholder);
    // The submenu opens: filled once.
    void menuNeedsUpdate(QMenu* menu);
    // The switches' action.
    void toggleTagValue(PMTagValueSwitch* sender);
    // The help button of the first-use alert: the help page on context menus.
    static bool alertShowHelp();

    QString tagName;
    platform::ArrayPtr movieRepresentations;
    QPointer<QObject> target;
    QString action;

    bool respondsToAction(const QString& name) const override { return name == QLatin1String("toggleTagValue"); }
    void performAction(const QString& name, QObject* sender) override;

private:
    using QObject::QObject;
};
