// The controller's share of the responder chain: after the focus widget, its parents and
// its window, an action reaches the controller.
#include "library/model/PMMainController.h"

bool PMMainController::respondsToAction(const QString& action) const
{
    return _actions.contains(action);
}

void PMMainController::performAction(const QString& action, QObject* sender)
{
    // A copy: the action may change the table.
    const std::function<void(QObject*)> run = _actions.value(action);
    if (run)
        run(sender);
}

bool PMMainController::validateMenuItem(QAction* item)
{
    // Tests may put a validator of their own in place of the commands' validation.
    return _menuItemValidator ? _menuItemValidator(item) : validateMainMenuItem(item);
}
