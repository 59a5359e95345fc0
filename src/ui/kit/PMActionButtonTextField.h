// Status fields with a line of text followed by a small round button drawn inside the
// field (an arrow, a plus or a cross): a click on the button, or on the text when the
// click area is extended, performs the field's action; text and button light up in the
// accent colour while the pointer is over the button. The field can keep centred text on
// the window's centre line, offers the button's tool tip only over the button, and tells
// where its content was last drawn. Also the link field (a web or mail address, or a file
// to reveal) and the label that stands for its check box. Main thread only.
#pragma once

#include "platform/Responder.h"
#include "ui/kit/PMControlSupport.h"
#include "ui/kit/PMSizeToFitControls.h"

#include <QtCore/QPointer>
#include <QtCore/QUrl>
#include <QtCore/QVariant>
#include <QtGui/QImage>
#include <QtGui/QPainterPath>
#include <QtWidgets/QCheckBox>
#include <QtWidgets/QLabel>

#include <functional>

class PMActionButtonTextField;

// The drawing and measuring of the field: where the text and the button go, and whether
// the button shows hovered or pressed.
class PMActionButtonTextFieldCell {
public:
    explicit PMActionButtonTextFieldCell(PMActionButtonTextField* field) : m_field(field) {}

    PMActionButtonTextField* actionButtonTextField() const { return m_field; }
    // The text's rectangle within the cell frame; the padding around the text is
    // answered through the out-parameter when one is given.
    QRectF textFrameForCellFrame(const QRectF& cellFrame, double* getPadding = nullptr) const;
    // The button's rectangle; empty without a button image.
    QRectF actionButtonFrameForCellFrame(const QRectF& cellFrame) const;
    void drawWithFrame(QPainter& painter, const QRectF& cellFrame);

    bool hovered() const { return _hovered; }
    void setHovered(bool hovered) { _hovered = hovered; }
    bool clicked() const { return _clicked; }
    void setClicked(bool clicked) { _clicked = clicked; }

    // The space a text field cell keeps on each side of its text.
    static constexpr double kTextInset = 2;

private:
    PMActionButtonTextField* m_field;
    bool _hovered = false;
    bool _clicked = false;
};

class PMActionButtonTextField : public QLabel, public PMSizeToFitLink {
    Q_OBJECT
public:
    explicit PMActionButtonTextField(QWidget* parent = nullptr);
    ~PMActionButtonTextField() override;

    void awakeFromNib();
    PMActionButtonTextFieldCell* actionButtonTextFieldCell() { return m_cell.get(); }
    virtual bool canChangePathLinkDisplayMode() const { return false; }

    // A button image (black on transparent, tinted when drawn) of the field's font size
    // class: the configurator fills the symbol path (its flag says "small").
    QImage actionButtonImageWithSymbolPathConfigurator(const std::function<void(bool small, QPainterPath& path)>& configurator) const;
    QImage rightPointingArrowActionButtonImage() const;
    QImage downPointingArrowActionButtonImage() const;
    QImage addActionButtonImage() const;
    QImage stopActionButtonImage() const;

    // Where a click counts: the button (with the text when the area is extended), grown by
    // 3 points on every side; empty without a cell or a button.
    QRectF actionButtonTrackingFrameForCell(const PMActionButtonTextFieldCell* cell) const;
    // Rebuilds the click area for the window (nothing: none) and ends the hover.
    void updateTrackingAreaForWindow(QWidget* window);
    QRectF trackingArea() const { return m_trackingArea; }

    void sizeToFit() override;
    void setStringValue(const QString& string, const QString& action, QObject* target, const QString& toolTip,
                        const QImage& image, bool updateTrackingArea);
    void setStringValue(const QString& string);
    // The button's tool tip; the field itself shows none.
    void setToolTip(const QString& toolTip);
    QString stringForToolTip() const { return _actionButtonToolTip; }
    // Whether a press may move the window: only in a window moved by its background
    // ("PMMovableByWindowBackground"), when no view on the way refuses
    // ("PMMouseDownCanMoveWindow" false).
    bool canMoveWindow(const QWidget* window) const;

    QString action() const { return m_targetAction.action; }
    QObject* target() const { return m_targetAction.target; }
    // The delegate that is asked to "updateStatusFields" (a responder; not owned).
    QObject* delegate() const { return m_delegate; }
    void setDelegate(QObject* delegate) { m_delegate = delegate; }
    bool delegateAnswersUpdateStatusFields() const;

    QImage actionButtonImage() const { return _actionButtonImage; }
    void setActionButtonImage(const QImage& image) { _actionButtonImage = image; }
    QString actionButtonToolTip() const { return _actionButtonToolTip; }
    void setActionButtonToolTip(const QString& toolTip) { _actionButtonToolTip = toolTip; }
    bool extendsActionButtonClickArea() const { return _extendsActionButtonClickArea; }
    void setExtendsActionButtonClickArea(bool extends) { _extendsActionButtonClickArea = extends; }
    bool centeredInWindow() const { return _centeredInWindow; }
    void setCenteredInWindow(bool centered) { _centeredInWindow = centered; }
    QRectF drawnContentFrame() const { return _drawnContentFrame; }
    void setDrawnContentFrame(const QRectF& frame) { _drawnContentFrame = frame; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return {0, sizeHint().height()}; }

    // Draws the (possibly shortened) text in the colour; fields with styled parts of their
    // text draw it themselves.
    virtual void drawText(QPainter& painter, const QRectF& textArea, const QString& shown, const QColor& color) const;
    // The width of the text as `drawText` draws it on one line, so that the action button
    // follows its end.
    virtual double drawnTextWidth(const QString& text) const;

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    void mouseEntered();
    void mouseExited();
    void trackPointer(QPointF point);
    void endPressTracking();

    std::unique_ptr<PMActionButtonTextFieldCell> m_cell;
    QRectF m_trackingArea;
    bool m_pointerInTrackingArea = false;
    bool _extendsActionButtonClickArea = false;
    bool _centeredInWindow = false;
    QImage _actionButtonImage;
    QString _actionButtonToolTip;
    QRectF _drawnContentFrame;
    PMTargetAction m_targetAction;
    QPointer<QObject> m_delegate;

    // The press in progress.
    struct Press {
        bool active = false, canMove = false, track = false, mode = false, inside = false;
        bool wasInside = false, cursorPushed = false;
        QRectF area;
    } m_press;
};

// A field that shows a text and, given a link (a web or mail address, or an absolute
// path), an arrow button that opens the address or reveals the file.
class PMLinkTextField : public PMActionButtonTextField, public platform::Responder {
    Q_OBJECT
public:
    using PMActionButtonTextField::PMActionButtonTextField;

    // The field is the target of its own button ("goToLinkURL").
    bool respondsToAction(const QString& action) const override;
    void performAction(const QString& action, QObject* sender) override;

    // The link: a string (a web or mail address with one of the five schemes, or an
    // absolute path), a URL, or anything else for no link.
    void setStringValue(const QString& string, const QVariant& link, const QString& toolTip, bool updateTrackingArea);
    void setStringValue(const QString& string, const QVariant& link, const QString& toolTip);
    void setStringValue(const QString& string, const QVariant& link);
    void setStringValue(const QString& string);
    // The button's action: reveals a file, opens an address.
    void goToLinkURL(QObject* sender);
    bool canChangePathLinkDisplayMode() const override;

    QUrl linkURL() const { return _linkURL; }
    void setLinkURL(const QUrl& url) { _linkURL = url; }

    // The URL a link stands for; an invalid URL when it is none.
    static QUrl linkURLFromLink(const QVariant& link);

private:
    QUrl _linkURL;
};

// A label that presses the check box or radio button it belongs to.
class PMClickButtonTextField : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;
    QAbstractButton* clickButton() const { return m_clickButton; }
    void setClickButton(QAbstractButton* button) { m_clickButton = button; }

protected:
    void mousePressEvent(QMouseEvent* event) override;

private:
    QPointer<QAbstractButton> m_clickButton;
};

// The check box of such a label: its label greys out with it.
class PMClickButtonTextFieldButton : public QCheckBox {
    Q_OBJECT
public:
    using QCheckBox::QCheckBox;
    QLabel* textField() const { return m_textField; }
    void setTextField(QLabel* field);

protected:
    void changeEvent(QEvent* event) override;

private:
    void updateTextFieldColor();
    QPointer<QLabel> m_textField;
};
