// The remote control's buttons: playback from a distance, or, while the on-screen list is
// shown, walking the library in it.
#include "library/model/PMMainController.h"

#include "library/model/PMLibraryContainer.h"
#include "library/model/PMMovieRepresentation.h"
#include "platform/Alert.h"
#include "platform/Cursor.h"
#include "platform/DelayedPerform.h"
#include "foundation/PMSettingsKeys.h"
#include "platform/UserDefaults.h"
#include "playback/PMPlaybackController.h"
#include "playback/PMRemoteControl.h"
#include "playback/PMRemoteInterfaceWindow.h"
#include "ui/kit/PMOptionalMenuButton.h"

#include <QtGui/QGuiApplication>
#include <QtGui/QScreen>
#include <QtWidgets/QApplication>
#include <QtWidgets/QMenu>
#include <QtWidgets/QWidget>

using platform::Array;
using platform::ArrayPtr;
using platform::Value;

namespace {

platform::UserDefaults& settings()
{
    return platform::UserDefaults::standard();
}

bool listShown()
{
    return PMRemoteInterfaceWindow::isVisible();
}

// The remote's device and filter, kept together for the controller.
struct RemoteStack {
    MultiClickRemoteBehavior behavior;
    std::unique_ptr<RemoteControl> device;
};

} // namespace

void PMMainController::installRemoteControl()
{
    auto stack = std::make_shared<RemoteStack>();
    stack->behavior.setDelegate([this](int code, bool pressed, unsigned clicks) { remoteButton(code, pressed, clicks); });
    auto* device = new PMEvdevRemoteControl(&stack->behavior);
    device->setOpenInExclusiveMode(true);
    stack->device.reset(device);
    _remoteControl = stack;
    _remoteControlListeningHook = [this](bool listening) {
        if (auto stack = std::static_pointer_cast<RemoteStack>(_remoteControl))
            stack->device->setListeningToRemote(listening && !settings().boolForKey(prefs::keys::DoNotListenToRemoteControl));
        // No release arrives once listening stops: a held plus would repeat for ever.
        if (!listening)
            cancelRemoteInterfaceRepeats();
    };
    _menuValidation.isRemoteControlInterfaceVisible = [] { return listShown(); };
}

void PMMainController::remoteButton(int code, bool pressedDown, unsigned)
{
    const auto cancel = [this](const char* operation) { platform::cancelPreviousPerformRequests(this, QString::fromLatin1(operation), Value()); };
    switch (code) {
    case PMRemoteButtonPlus:
        pressedDown ? remoteInterfacePlus(this) : cancel("remoteInterfacePlus");
        break;
    case PMRemoteButtonMinus:
        pressedDown ? remoteInterfaceMinus(this) : cancel("remoteInterfaceMinus");
        break;
    case PMRemoteButtonRight:
        pressedDown ? remoteInterfaceRight(this) : cancel("remoteInterfaceRight");
        break;
    case PMRemoteButtonLeft:
        pressedDown ? remoteInterfaceLeft(this) : cancel("remoteInterfaceLeft");
        break;
    case PMRemoteButtonMenu:
        if (!pressedDown)
            break;
        if (listShown())
            remoteInterfaceEscape();
        else
            showRemoteInterface();
        break;
    case PMRemoteButtonPlay:
        if (!pressedDown)
            break;
        if (listShown()) {
            remoteInterfaceEnter();
        } else {
            showPlaybackControlsByFadingIn(false);
            playPause();
        }
        break;
    case PMRemoteButtonMenuHold:
        if (!pressedDown)
            break;
        PMRemoteInterfaceWindow::fadeOutAndClose();
        platform::unhideCursorHiddenUntilMouseMoves();
        if (_isPresenting)
            togglePresentation();
        if (!_currentMovieRepresentation.isNull())
            chooseNoMovie();
        else if (QWidget* window = QApplication::activeWindow())
            window->showMinimized();
        break;
    case PMRemoteButtonPlayHold:
        if (pressedDown)
            togglePresentation();
        break;
    case PMRemoteButtonRightHold:
    case PMRemoteButtonLeftHold:
        if (pressedDown && !listShown())
            walkPlaylistWithSortedIndexDelta(code == PMRemoteButtonRightHold ? 1 : -1);
        break;
    default:
        break;
    }
}

namespace {

// One step now, the next after 0.1 s (called by the button) or 0.4 s.
void repeatStep(PMMainController& c, QObject* object, const char* operation, void (PMMainController::*step)(QObject*))
{
    platform::performAfterDelay(&c, QString::fromLatin1(operation), Value(), object ? 0.1 : 0.4, [&c, step] { (c.*step)(&c); });
}

} // namespace

void PMMainController::cancelRemoteInterfaceRepeats()
{
    for (const char* operation : {"remoteInterfacePlus", "remoteInterfaceMinus", "remoteInterfaceRight", "remoteInterfaceLeft"})
        platform::cancelPreviousPerformRequests(this, QString::fromLatin1(operation), Value());
}

void PMMainController::closeInterfaceForLibraryUpdate()
{
    if (listShown()) {
        PMRemoteInterfaceWindow::fadeOutAndClose();
        platform::unhideCursorHiddenUntilMouseMoves();
    }
    // Open menus that list chapters or items of the library would offer what may be gone.
    if (_chaptersButtonMenu && _chaptersButtonMenu->isVisible())
        _chaptersButtonMenu->close();
    if (QMenu* chapters = _mainMenu.chaptersMenuItem ? _mainMenu.chaptersMenuItem->menu() : nullptr; chapters && chapters->isVisible())
        chapters->close();
    PMOptionalMenuButton::closeOpenMenu();
}

void PMMainController::remoteInterfacePlus(QObject* object)
{
    if (listShown())
        PMRemoteInterfaceWindow::remoteInterfaceWindow()->step(-1);
    else
        increaseVolume();
    repeatStep(*this, object, "remoteInterfacePlus", &PMMainController::remoteInterfacePlus);
}

void PMMainController::remoteInterfaceMinus(QObject* object)
{
    if (listShown())
        PMRemoteInterfaceWindow::remoteInterfaceWindow()->step(1);
    else
        decreaseVolume();
    repeatStep(*this, object, "remoteInterfaceMinus", &PMMainController::remoteInterfaceMinus);
}

void PMMainController::remoteInterfaceRight(QObject* object)
{
    if (listShown())
        remoteInterfaceSelectChild();
    else
        windForward(true, false, false);
    repeatStep(*this, object, "remoteInterfaceRight", &PMMainController::remoteInterfaceRight);
}

void PMMainController::remoteInterfaceLeft(QObject* object)
{
    if (listShown())
        remoteInterfaceSelectParent();
    else
        windForward(false, false, false);
    repeatStep(*this, object, "remoteInterfaceLeft", &PMMainController::remoteInterfaceLeft);
}

ArrayPtr PMMainController::remoteInterfaceItems(const ArrayPtr& siblings, const Value& forParent)
{
    const ArrayPtr result = Array::make();
    if (PMLibraryContainer* parent = PMContainer(forParent)) {
        const ArrayPtr children = parent->sortedChildren();
        for (const Value& child : children ? *children : Array()) {
            if (PMMovieRepresentationPrototype* movie = PMMovie(child)) {
                if (movie->canPlay())
                    result->append(child);
            } else if (PMLibraryItem* item = PMItem(child); item && !item->isOnlineItem()) {
                result->append(child);
            }
        }
        return result;
    }
    if (siblings && siblings != _library)
        return siblings;
    const ArrayPtr top = playbackController().visibleTopLevelLibraryItems();
    const PMLibraryContainerPtr temporary = temporaryStorage();
    for (const Value& item : top ? *top : Array()) {
        // The downloads and the conversions are no place to browse from the sofa.
        if (PMLibraryContainer* container = PMContainer(item); container && !container->topLevelRole().isEmpty()
            && (container == temporary.get() || container->topLevelRole().contains(QLatin1String("Download"))))
            continue;
        result->append(item);
    }
    return result;
}

void PMMainController::showRemoteInterface()
{
    ArrayPtr siblings;
    Value parent;
    if (!_currentMovieRepresentation.isNull()) {
        ArrayPtr ancestors;
        siblings = siblingsOfLibraryItem(_currentMovieRepresentation, _library, nullptr, nullptr, &ancestors);
        if (ancestors && !ancestors->isEmpty())
            parent = ancestors->at(0);
    }
    PMRemoteInterfaceWindow* window = PMRemoteInterfaceWindow::remoteInterfaceWindow();
    window->setDisplayedItems(remoteInterfaceItems(siblings, parent), parent, _currentMovieRepresentation);
    QWidget* playerWindow = playerView ? playerView->window() : nullptr;
    window->showOnScreen(playerWindow && playerWindow->screen() ? playerWindow->screen() : QGuiApplication::primaryScreen());
    platform::hideCursorUntilMouseMoves();
}

void PMMainController::toggleRemoteControlInterface(QObject*)
{
    if (listShown()) {
        PMRemoteInterfaceWindow::fadeOutAndClose();
        platform::unhideCursorHiddenUntilMouseMoves();
    } else {
        showRemoteInterface();
    }
}

bool PMMainController::remoteInterfaceSelectChild()
{
    PMRemoteInterfaceWindow* window = PMRemoteInterfaceWindow::remoteInterfaceWindow();
    const Value selected = window->selectedItem();
    if (!PMContainer(selected))
        return false;
    window->setDisplayedItems(remoteInterfaceItems(nullptr, selected), selected, Value());
    return true;
}

bool PMMainController::remoteInterfaceSelectParent()
{
    PMRemoteInterfaceWindow* window = PMRemoteInterfaceWindow::remoteInterfaceWindow();
    const Value parent = window->displayedItemsParent();
    if (parent.isNull())
        return false;
    ArrayPtr ancestors;
    const ArrayPtr siblings = siblingsOfLibraryItem(parent, _library, nullptr, nullptr, &ancestors);
    if (!siblings)
        return false;
    const Value grandparent = ancestors && !ancestors->isEmpty() ? ancestors->at(0) : Value();
    window->setDisplayedItems(remoteInterfaceItems(siblings, grandparent), grandparent, parent);
    return true;
}

void PMMainController::remoteInterfaceEscape()
{
    if (!remoteInterfaceSelectParent())
        toggleRemoteControlInterface(nullptr);
}

void PMMainController::remoteInterfaceEnter()
{
    PMRemoteInterfaceWindow* window = PMRemoteInterfaceWindow::remoteInterfaceWindow();
    const Value selected = window->selectedItem();
    if (selected.isNull()) {
        platform::beep();
        return;
    }
    if (PMContainer(selected)) {
        remoteInterfaceSelectChild();
        return;
    }
    if (!chooseMovieRepresentation(selected, false, true, true, false)) {
        platform::beep();
        return;
    }
    toggleRemoteControlInterface(nullptr);
    _startPresentingWhenReady = !_isPresenting && !settings().boolForKey(prefs::keys::RemoteDoesNotTriggerPresentation);
}
