// The preview panel: a window of our own that shows the chosen movies one at a time, a
// movie playing muted through the player engine, a picture as it is, each with its name
// and facts. It asks its controller for the items (count, then each by index), steps
// through them with the arrow keys or its buttons, and hands every other key to the
// controller, so that the library window keeps moving its selection while it is open.
#pragma once

#include "platform/Value.h"

#include <QtCore/QPointer>
#include <QtGui/QImage>
#include <QtWidgets/QWidget>

#include <memory>

class QLabel;
class QToolButton;
class PMQuickLookPanel;
class PMQuickLookPicture;

namespace platform::media {
class Player;
}

// What the panel asks of whoever controls it.
class PMQuickLookPanelController {
public:
    virtual ~PMQuickLookPanelController() = default;
    virtual bool acceptsPreviewPanelControl(PMQuickLookPanel* panel) = 0;
    virtual void beginPreviewPanelControl(PMQuickLookPanel* panel) = 0;
    virtual void endPreviewPanelControl(PMQuickLookPanel* panel) = 0;
    virtual qsizetype numberOfPreviewItemsInPreviewPanel(PMQuickLookPanel* panel) = 0;
    // A movie record; null past the end.
    virtual platform::Value previewPanel(PMQuickLookPanel* panel, qsizetype previewItemAtIndex) = 0;
    // A key the panel does not take itself; true when handled.
    virtual bool previewPanel(PMQuickLookPanel* panel, QKeyEvent* handleEvent) = 0;
};

class PMQuickLookPanel : public QWidget {
    Q_OBJECT
public:
    // The one panel of the program, made on first request when asked to.
    static PMQuickLookPanel* sharedPreviewPanel(bool create);

    PMQuickLookPanelController* currentController() const { return m_controller; }
    // Takes the controller when it accepts control (ending the previous one's).
    void updateController(PMQuickLookPanelController* controller);
    // Asks the controller for the items again, keeping the shown one when it is still there.
    void reloadData();
    qsizetype currentPreviewItemIndex() const { return m_index; }
    void setCurrentPreviewItemIndex(qsizetype index);
    platform::Value currentPreviewItem() const { return m_item; }
    qsizetype numberOfItems() const { return m_count; }
    // What the panel shows now: the name and the facts lines.
    QString titleText() const;
    // What the picture area says instead of a picture (a file that cannot be read).
    QString messageText() const;
    // The player of a shown movie (null for a picture or nothing).
    platform::media::Player* player() const { return m_player.get(); }
    // How often the items were asked for.
    int reloadCount() const { return m_reloadCount; }

Q_SIGNALS:
    void didReload();
    void didShowItem();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    explicit PMQuickLookPanel(QWidget* parent);
    ~PMQuickLookPanel() override;
    void showItem();
    void stopPlaying();
    void step(int delta);

    PMQuickLookPanelController* m_controller = nullptr;
    platform::Value m_item;
    qsizetype m_index = 0;
    qsizetype m_count = 0;
    int m_reloadCount = 0;
    std::shared_ptr<platform::media::Player> m_player;
    PMQuickLookPicture* m_picture = nullptr;
    QLabel* m_title = nullptr;
    QLabel* m_facts = nullptr;
    QLabel* m_position = nullptr;
    QToolButton* m_previous = nullptr;
    QToolButton* m_next = nullptr;
};
