// The preferences window: a toolbar of panes over a stack of pages. The toolbar is one
// exclusive group of actions and cannot be hidden; Escape and Ctrl+. close the window; its
// frame and the pane shown are remembered. The controls and what they do belong to the
// main controller (PMMainController+Preferences.cpp). Main thread only.
#pragma once

#include <QtCore/QPointer>
#include <QtWidgets/QDialog>
#include <QtWidgets/QSlider>

class QAction;
class QActionGroup;
class QStackedWidget;
class QToolBar;

class PMPreferencesWindow : public QDialog {
    Q_OBJECT
public:
    explicit PMPreferencesWindow(QWidget* parent = nullptr);

    QToolBar* toolbar() const { return m_toolbar; }
    QStackedWidget* tabView() const { return m_tabView; }
    // Adds a pane and its toolbar item (label and tool tip `label`, icon from the desktop's
    // theme by `themeIcon`, else drawn from `fallbackGlyph`).
    void addPane(const QString& identifier, const QString& label, const QString& themeIcon, QChar fallbackGlyph, QWidget* pane);
    QAction* toolbarItem(const QString& identifier) const;
    QStringList identifiers() const;
    // Shows the pane (its toolbar item checked); NO for an unknown identifier.
    bool selectPane(const QString& identifier);
    QString selectedPane() const;

    // The toolbar cannot be hidden while it shows: the hide command is not offered and beeps.
    bool respondsToToggleToolbarShown() const;
    void toggleToolbarShown();
    // Puts a hidden window where it was left (else in the middle of the screen), then brings
    // it to the front.
    void makeKeyAndOrderFront();
    void performClose() { close(); }
    // The frame and pane are written to the settings and read back from them.
    void saveFrame() const;
    // NO when no usable frame is remembered (none, or on a screen that is gone).
    bool restoreFrame();

    static QString frameKey() { return QStringLiteral("Preferences Window Frame"); }
    static QString paneKey() { return QStringLiteral("Preferences Window Pane"); }

Q_SIGNALS:
    void paneChosen(const QString& identifier);

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QToolBar* m_toolbar = nullptr;
    QActionGroup* m_group = nullptr;
    QStackedWidget* m_tabView = nullptr;
    bool m_restoring = false;
};

// The main preferences window answers its menu item: on while it is visible and active.
class PMStaticMainPreferencesWindow : public PMPreferencesWindow {
    Q_OBJECT
public:
    using PMPreferencesWindow::PMPreferencesWindow;
    bool validateMenuItem(QAction* item) const;
};

class PMMainPreferencesWindow : public PMStaticMainPreferencesWindow {
    Q_OBJECT
public:
    using PMStaticMainPreferencesWindow::PMStaticMainPreferencesWindow;
};

// A slider over a range of real numbers (Qt's sliders count whole steps): the steps are
// `1 / resolution` apart.
class PMPreferenceSlider : public QSlider {
    Q_OBJECT
public:
    PMPreferenceSlider(double minimum, double maximum, double resolution, QWidget* parent = nullptr);
    double doubleValue() const;
    void setDoubleValue(double value);
    double minimumValue() const { return m_minimum; }
    double maximumValue() const { return m_maximum; }

private:
    double m_minimum;
    double m_maximum;
    double m_resolution;
};
