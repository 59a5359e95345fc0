// Two view bases: PMFlippedView, whose origin is its top left corner (the base of the
// grid and its tiles), and PMKeyWindowReflectingView, which redraws whenever its window
// (or, on request, its parent window) becomes or stops being the active window (the
// base of the playback control bar and the main window's background views).
#pragma once

#include <QtCore/QMetaObject>
#include <QtCore/QPointer>
#include <QtCore/QList>
#include <QtWidgets/QWidget>

class PMFlippedView : public QWidget {
    Q_OBJECT
public:
    using QWidget::QWidget;
    // Qt's views all run top-down; the answer tells code that asks.
    virtual bool isFlipped() const { return true; }
};

class PMKeyWindowReflectingView : public QWidget {
    Q_OBJECT
public:
    explicit PMKeyWindowReflectingView(QWidget* parent = nullptr);
    ~PMKeyWindowReflectingView() override;

    // The view moves to another window (nothing: out of every window).
    virtual void viewWillMoveToWindow(QWidget* newWindow);
    // Starts observing the key changes of the window (nothing: stops observing). Called
    // whenever the view moves to another window.
    void setReflectsKeyWindowStatusChangeForWindow(QWidget* window);
    // Subclasses living in child windows answer true: they follow their parent window.
    virtual bool reflectsKeyWindowStatusChangeForParentWindow() const { return false; }
    // A window became or stopped being the key window.
    void windowDidBecomeKey(QWidget* window);
    void windowDidResignKey(QWidget* window);
    void reflectKeyWindowStatusChange(QWidget* notifiedWindow);
    // Marks the view for redisplay; subclasses do more.
    virtual void reflectKeyWindowStatusChange();

    // The window observed now (tests).
    QWidget* observedWindow() const { return m_observed; }

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The view or one of its ancestors moved: the window observed follows.
    void windowMayHaveChanged();
    QList<QPointer<QWidget>> m_ancestors;
    QPointer<QWidget> m_observed;
    QMetaObject::Connection m_becameKey;
    QMetaObject::Connection m_resignedKey;
};

// Announces every window that becomes or stops being the active (key) window.
class PMKeyWindowNotifier : public QObject {
    Q_OBJECT
public:
    static PMKeyWindowNotifier& shared();
Q_SIGNALS:
    void windowDidBecomeKey(QWidget* window);
    void windowDidResignKey(QWidget* window);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    PMKeyWindowNotifier();
};
