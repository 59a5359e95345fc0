// The preview panel's controller: what it shows (the selection's playable movies), opening
// and closing it, following the selection once per turn of the event loop, and keeping it
// at the size of its screen when asked to.
#include "library/model/PMMainController.h"

#include "library/model/PMMovieRepresentation.h"
#include "platform/Alert.h"
#include "platform/DelayedPerform.h"
#include "platform/Responder.h"
#include "foundation/PMSettingsKeys.h"
#include "platform/UserDefaults.h"
#include "ui/commands/PMQuickLookPanel.h"
#include "ui/kit/NSWindow+PMExtensions.h"
#include "ui/library_window/PMGroupView.h"
#include "ui/library_window/PMLibraryWindowAccess.h"

#include <QtCore/QTimer>
#include <QtGui/QAction>
#include <QtGui/QKeyEvent>
#include <QtGui/QScreen>
#include <QtWidgets/QApplication>

#include <algorithm>

using platform::Array;
using platform::ArrayPtr;
using platform::Value;

namespace {

const QString kZoomQuickLook = QStringLiteral("zoomQuickLook");

bool alwaysZoom()
{
    return prefs::get(prefs::keys::AlwaysZoomQuickLook);
}

// The same movies in the same order (by record).
bool sameItems(const ArrayPtr& a, const ArrayPtr& b)
{
    const qsizetype n = a ? a->count() : 0;
    if (n != (b ? b->count() : 0))
        return false;
    for (qsizetype i = 0; i < n; ++i)
        if (a->at(i).objectPointer() != b->at(i).objectPointer())
            return false;
    return true;
}

// The panel's controller protocol, answered by the main controller.
class QuickLookController final : public PMQuickLookPanelController {
public:
    explicit QuickLookController(PMMainController& controller) : m_controller(controller) {}
    bool acceptsPreviewPanelControl(PMQuickLookPanel* panel) override { return m_controller.acceptsPreviewPanelControl(panel); }
    void beginPreviewPanelControl(PMQuickLookPanel* panel) override { m_controller.beginPreviewPanelControl(panel); }
    void endPreviewPanelControl(PMQuickLookPanel* panel) override { m_controller.endPreviewPanelControl(panel); }
    qsizetype numberOfPreviewItemsInPreviewPanel(PMQuickLookPanel* panel) override { return m_controller.numberOfPreviewItemsInPreviewPanel(panel); }
    Value previewPanel(PMQuickLookPanel* panel, qsizetype index) override { return m_controller.previewPanel(panel, index); }
    bool previewPanel(PMQuickLookPanel* panel, QKeyEvent* event) override { return m_controller.previewPanel(panel, event); }

private:
    PMMainController& m_controller;
};

} // namespace

PMQuickLookPanelController* PMMainController::quickLookPanelController()
{
    if (!_quickLookPanelController)
        _quickLookPanelController = std::make_shared<QuickLookController>(*this);
    return _quickLookPanelController.get();
}

ArrayPtr PMMainController::quickLookMovieRepresentations()
{
    auto playable = Array::make();
    const ArrayPtr movies = cachedInfoMovieRepresentationsSorted(false);
    for (const Value& v : movies ? *movies : Array())
        if (PMMovieRepresentationPrototype* movie = PMMovie(v); movie && movie->canPlay())
            playable->append(v);
    return playable;
}

bool PMMainController::quickLookMovieRepresentationsAreCurrentItems(const ArrayPtr& movies)
{
    const ArrayPtr current = cachedInfoMovieRepresentationsSorted(false);
    if (!current || !movies || current->count() != movies->count())
        return false;
    QSet<const void*> records;
    for (const Value& v : *current)
        records.insert(v.objectPointer());
    return std::all_of(movies->begin(), movies->end(), [&records](const Value& v) { return records.contains(v.objectPointer()); });
}

bool PMMainController::quickLookOffersMovieRepresentations(const ArrayPtr& movies)
{
    if (!movies || movies->isEmpty())
        return false;
    for (const Value& v : *movies) {
        PMMovieRepresentationPrototype* movie = PMMovie(v);
        if (!movie || !movie->canPlay())
            return false;
    }
    if (quickLookMovieRepresentationsAreCurrentItems(movies))
        return true;
    // Other movies are selected first, so they must be where the grid can select them.
    QSet<const void*> shown;
    for (const Value& v : _groupMovieItems ? *_groupMovieItems : Array())
        shown.insert(v.objectPointer());
    return std::all_of(movies->begin(), movies->end(), [&shown](const Value& v) { return shown.contains(v.objectPointer()); });
}

void PMMainController::toggleQuickLook(QObject* sender)
{
    const ArrayPtr items = platform::menuItemRepresentedObject(qobject_cast<QAction*>(sender)).array();
    PMQuickLookPanel* existing = PMQuickLookPanel::sharedPreviewPanel(false);
    if (items && !items->isEmpty()) {
        QStringList ids;
        for (const Value& v : *items)
            if (PMLibraryItem* item = PMItem(v))
                ids << item->uniqueLibraryID();
        selectGroupItemsWithIDs(ids);
        // When the view now shows exactly those as its selection, it gets the keys.
        const bool grid = _groupView && _groupView->isVisible();
        const ArrayPtr selected = grid ? _groupView->selectedItems() : selectedGroupListItems();
        if (sameItems(uniqueMovieRepresentationsFromItems(selected ? selected : Array::make(), {}, false, false, true), items)) {
            if (grid)
                _groupView->setFocus(Qt::OtherFocusReason);
            else
                groupListAccess().makeFirstResponder();
            if (QWidget* window = mainWindow()) {
                window->raise();
                window->activateWindow();
            }
        }
        _cachedInfoMovieRepresentations = nullptr;
    } else if (existing && existing->isVisible()) {
        existing->hide();
        return;
    } else if (quickLookMovieRepresentations()->isEmpty()) {
        platform::beep();
        return;
    }
    PMQuickLookPanel* panel = PMQuickLookPanel::sharedPreviewPanel(true);
    const bool wasVisible = panel->isVisible();
    panel->updateController(quickLookPanelController());
    panel->reloadData();
    if (!wasVisible) {
        if (const QScreen* screen = (mainWindow() ? mainWindow()->screen() : QGuiApplication::primaryScreen())) {
            QRect frame = panel->frameGeometry();
            frame.moveCenter(screen->availableGeometry().center());
            panel->move(frame.topLeft());
        }
    }
    panel->show();
    panel->raise();
    panel->activateWindow();
    if (alwaysZoom())
        zoomQuickLook();
}

bool PMMainController::acceptsPreviewPanelControl(PMQuickLookPanel*)
{
    return true;
}

void PMMainController::beginPreviewPanelControl(PMQuickLookPanel*)
{
    if (alwaysZoom())
        platform::performAfterDelay(this, kZoomQuickLook, Value(), 0.1, [this] { zoomQuickLook(); });
}

void PMMainController::endPreviewPanelControl(PMQuickLookPanel*)
{
    platform::cancelPreviousPerformRequests(this, kZoomQuickLook, Value());
}

void PMMainController::zoomQuickLook()
{
    PMQuickLookPanel* panel = PMQuickLookPanel::sharedPreviewPanel(false);
    if (!panel || !panel->isVisible() || !panel->screen())
        return;
    const QRect visible = visibleFrameWithExtraDockSpacing(panel->screen());
    if (alwaysZoom() && visible.isValid() && panel->frameGeometry() != visible) {
        // The frame includes the window manager's title bar: the inside is what is set.
        const QMargins decoration(panel->geometry().left() - panel->frameGeometry().left(), panel->geometry().top() - panel->frameGeometry().top(),
                                  panel->frameGeometry().right() - panel->geometry().right(),
                                  panel->frameGeometry().bottom() - panel->geometry().bottom());
        panel->setGeometry(visible.marginsRemoved(decoration));
    }
    platform::performAfterDelay(this, kZoomQuickLook, Value(), 0.1, [this] { zoomQuickLook(); });
}

qsizetype PMMainController::numberOfPreviewItemsInPreviewPanel(PMQuickLookPanel*)
{
    _quickLookMovieRepresentations = quickLookMovieRepresentations();
    return _quickLookMovieRepresentations->count();
}

Value PMMainController::previewPanel(PMQuickLookPanel*, qsizetype previewItemAtIndex)
{
    if (!_quickLookMovieRepresentations || previewItemAtIndex < 0 || previewItemAtIndex >= _quickLookMovieRepresentations->count())
        return Value();
    return _quickLookMovieRepresentations->at(previewItemAtIndex);
}

bool PMMainController::previewPanel(PMQuickLookPanel* panel, QKeyEvent* handleEvent)
{
    if (!handleEvent || handleEvent->type() != QEvent::KeyPress)
        return false;
    // Space closes the panel as it opened it.
    if (handleEvent->key() == Qt::Key_Space && !(handleEvent->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))) {
        panel->hide();
        return true;
    }
    // Every other key goes to the library window, whose keys move its selection.
    QWidget* main = mainWindow();
    if (!main || main == panel || !main->isVisible())
        return false;
    QWidget* target = main->focusWidget() ? main->focusWidget() : main;
    QKeyEvent copy(handleEvent->type(), handleEvent->key(), handleEvent->modifiers(), handleEvent->text(), handleEvent->isAutoRepeat(),
                   ushort(handleEvent->count()));
    QCoreApplication::sendEvent(target, &copy);
    return true;
}

void PMMainController::updateQuickLook()
{
    PMQuickLookPanel* panel = PMQuickLookPanel::sharedPreviewPanel(false);
    if (!panel || !panel->isVisible() || panel->currentController() != _quickLookPanelController.get() || _quickLookUpdateScheduled)
        return;
    _quickLookUpdateScheduled = true;
    // Many selection changes within one turn give one reload.
    QTimer::singleShot(0, this, [this] {
        _quickLookUpdateScheduled = false;
        PMQuickLookPanel* panel = PMQuickLookPanel::sharedPreviewPanel(false);
        if (!panel || !panel->isVisible() || panel->currentController() != _quickLookPanelController.get())
            return;
        // The selection as it is now, not as it was cached earlier in the turn.
        _cachedInfoMovieRepresentations = nullptr;
        if (!sameItems(quickLookMovieRepresentations(), _quickLookMovieRepresentations))
            panel->reloadData();
    });
}
