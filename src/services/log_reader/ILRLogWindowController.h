// The log window's widgets and their wiring: the builder of the interface "ILRLogWindow",
// the outlets the reader drives, the Options menu, the find bar and the window's events.
// Main thread only.
#pragma once

#include <QtCore/QObject>
#include <QtCore/QPointer>

#include <memory>

class ILRIntegratedLogReader;
class ILRLogTextView;
class QAction;
class QCheckBox;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QToolButton;
class QWidget;

class ILRLogWindowController : public QObject {
    Q_OBJECT
public:
    explicit ILRLogWindowController(std::weak_ptr<ILRIntegratedLogReader> reader);
    ~ILRLogWindowController() override;

    // The builder of the interface "ILRLogWindow": the window with its named outlets.
    static QWidget* buildWindow(QObject* owner);
    // Takes the outlets from a built window; false when one is missing.
    bool connectOutlets(QWidget* window);

    QPointer<QWidget> window;
    QPointer<ILRLogTextView> logView;
    QPointer<QProgressBar> spinner;
    QPointer<QToolButton> findEarlierResultsButton;
    QPointer<QToolButton> clearButton;
    QPointer<QPushButton> saveButton;
    QPointer<QCheckBox> debugLoggingSwitch;
    // The Options pull-down button and its items.
    QPointer<QToolButton> _actionButton;
    QPointer<QAction> messageSenderItem;
    QPointer<QAction> messageCoalescingItem;
    QPointer<QAction> findItem;
    QPointer<QWidget> findBar;
    QPointer<QLineEdit> findField;

    void makeActionButton(bool showSenderItem, const QString& imageSetter);
    // Validation of the Options menu's items, as it opens.
    void validateMenuItems();
    void showFindBar();
    void findNext(bool backwards);
    void saveFrame();
    void restoreFrame(const QString& name);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::weak_ptr<ILRIntegratedLogReader> m_reader;
    QString m_frameName;
};
