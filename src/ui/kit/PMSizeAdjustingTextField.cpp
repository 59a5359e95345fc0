#include "ui/kit/PMSizeAdjustingTextField.h"

#include "ui/kit/PMAppearance.h"

#include <QtCore/QHash>
#include <QtCore/QPointer>
#include <QtGui/QFontMetricsF>
#include <QtGui/QTextDocument>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QPlainTextEdit>
#include <QtWidgets/QTextEdit>

#include <cmath>

PMSizeAdjustingTextFieldDelegate::~PMSizeAdjustingTextFieldDelegate() = default;

std::optional<double> PMSizeAdjustingTextFieldDelegate::minimumHeightForTextField(QWidget*)
{
    return std::nullopt;
}

std::optional<double> PMSizeAdjustingTextFieldDelegate::maximumHeightForTextField(QWidget*)
{
    return std::nullopt;
}

bool PMSizeAdjustingTextFieldDelegate::textFieldDidResizeAndMoveSiblingsByDelta(QWidget*, double)
{
    return false;
}

namespace {

QHash<const QWidget*, PMSizeAdjustingTextFieldDelegate*>& delegates()
{
    static QHash<const QWidget*, PMSizeAdjustingTextFieldDelegate*> table;
    return table;
}

} // namespace

void setTextFieldDelegate(QWidget* textField, PMSizeAdjustingTextFieldDelegate* delegate)
{
    if (!textField)
        return;
    if (!delegate) {
        delegates().remove(textField);
        return;
    }
    if (!delegates().contains(textField))
        QObject::connect(textField, &QObject::destroyed, [textField] { delegates().remove(textField); });
    delegates().insert(textField, delegate);
}

PMSizeAdjustingTextFieldDelegate* textFieldDelegate(const QWidget* textField)
{
    return delegates().value(textField, nullptr);
}

PMSizeAdjustingTextField::PMSizeAdjustingTextField(QWidget* parent) : QLabel(parent)
{
    setWordWrap(true);
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setTextInteractionFlags(Qt::TextSelectableByMouse);
}

double PMSizeAdjustingTextField::defaultMinimumHeight(const QWidget* textField)
{
    return controlSize(textField) == PMControlSize::Regular ? 22.0 : 19.0;
}

double PMSizeAdjustingTextField::defaultMaximumHeight(const QWidget* textField)
{
    return controlSize(textField) == PMControlSize::Regular ? 85.0 : 75.0;
}

QSizeF PMSizeAdjustingTextField::textFieldCellSizeForBounds(const QRectF& bounds) const
{
    const QSizeF margins(width() - contentsRect().width() + 2 * margin(), height() - contentsRect().height() + 2 * margin());
    const QFontMetricsF metrics(font());
    const int flags = Qt::TextWordWrap | int(alignment());
    const QRectF text = metrics.boundingRect(QRectF(0, 0, std::max(1.0, bounds.width() - 2 * margin()), 1e6), flags,
                                             textFormat() == Qt::RichText ? QString() : this->text());
    return QSizeF(std::ceil(text.width()) + margins.width(), std::ceil(text.height()) + margins.height());
}

QSizeF PMSizeAdjustingTextField::cellSizeForBounds(const QWidget* textField, const QRectF& bounds)
{
    if (const auto* field = qobject_cast<const PMSizeAdjustingTextField*>(textField))
        return field->textFieldCellSizeForBounds(bounds);
    const QSizeF frame(textField->width() - bounds.width(), textField->height() - textField->contentsRect().height());
    if (const auto* label = qobject_cast<const QLabel*>(textField)) {
        const QFontMetricsF metrics(label->font());
        const int flags = (label->wordWrap() ? Qt::TextWordWrap : 0) | int(label->alignment());
        const QRectF text = metrics.boundingRect(QRectF(0, 0, std::max(1.0, bounds.width() - 2 * label->margin()), 1e6), flags, label->text());
        return QSizeF(std::ceil(text.width()) + 2 * label->margin() + frame.width(), std::ceil(text.height()) + 2 * label->margin() + frame.height());
    }
    if (const auto* line = qobject_cast<const QLineEdit*>(textField)) {
        const QFontMetricsF metrics(line->font());
        return QSizeF(std::ceil(metrics.horizontalAdvance(line->text())) + frame.width() + 8, line->sizeHint().height());
    }
    QTextDocument* document = nullptr;
    if (const auto* plain = qobject_cast<const QPlainTextEdit*>(textField))
        document = plain->document();
    else if (const auto* rich = qobject_cast<const QTextEdit*>(textField))
        document = rich->document();
    if (document) {
        QTextDocument measured;
        measured.setDefaultFont(document->defaultFont());
        measured.setDocumentMargin(document->documentMargin());
        measured.setPlainText(document->toPlainText());
        measured.setTextWidth(bounds.width());
        return QSizeF(std::ceil(measured.idealWidth()) + frame.width(), std::ceil(measured.size().height()) + frame.height());
    }
    return textField->sizeHint();
}

bool PMSizeAdjustingTextField::adjustHeightOfTextField(QWidget* textField, bool minimizeWidth, double maximumHeight)
{
    if (!textField)
        return false;
    const double bw = textField->width();
    const double bh = textField->height();
    // The area the text is laid out in.
    const QRectF r = textField->contentsRect();
    PMSizeAdjustingTextFieldDelegate* delegate = textFieldDelegate(textField);
    double minimum = defaultMinimumHeight(textField);
    if (delegate) {
        if (const std::optional<double> answer = delegate->minimumHeightForTextField(textField); answer && *answer >= 0)
            minimum = *answer;
    }
    maximumHeight = std::max(maximumHeight, minimum);
    const QSizeF size = cellSizeForBounds(textField, QRectF(r.x(), r.y(), r.width(), r.height() + maximumHeight - bh));
    const double height = std::clamp(size.height(), minimum, maximumHeight);
    const double dw = bw - size.width();
    if (std::abs(bh - height) <= 0.1 && !(minimizeWidth && std::abs(dw) > 0.1))
        return false;
    const double delta = bh - height;
    moveSiblingsBelowUpByDelta(textField, delta);
    // The top edge stays; the field loses (or gains) the difference at the bottom.
    QRect frame = textField->geometry();
    frame.setHeight(int(std::lround(bh - delta)));
    if (minimizeWidth)
        frame.setWidth(int(std::lround(bw - dw)));
    textField->setGeometry(frame);
    if (delegate)
        delegate->textFieldDidResizeAndMoveSiblingsByDelta(textField, delta);
    return true;
}

bool PMSizeAdjustingTextField::adjustHeightOfTextField(QWidget* textField, bool minimizeWidth)
{
    double maximum = defaultMaximumHeight(textField);
    if (PMSizeAdjustingTextFieldDelegate* delegate = textFieldDelegate(textField)) {
        if (const std::optional<double> answer = delegate->maximumHeightForTextField(textField); answer && *answer >= 0)
            maximum = *answer;
    }
    return adjustHeightOfTextField(textField, minimizeWidth, maximum);
}

bool PMSizeAdjustingTextField::adjustHeightOfTextField(QWidget* textField)
{
    return adjustHeightOfTextField(textField, false);
}

bool PMSizeAdjustingTextField::adjustTextFieldHeight()
{
    return adjustHeightOfTextField(this);
}

void PMSizeAdjustingTextField::setStringValue(const QString& string)
{
    setText(string);
    adjustTextFieldHeight();
}

bool adjustTextFieldHeightsOfSuitableSubviews(QWidget* view)
{
    if (!view)
        return false;
    bool changed = false;
    for (QWidget* subview : view->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        if (auto* field = qobject_cast<PMSizeAdjustingTextField*>(subview))
            changed = field->adjustTextFieldHeight() || changed;
        else
            changed = adjustTextFieldHeightsOfSuitableSubviews(subview) || changed;
    }
    return changed;
}

void moveSiblingsBelowUpByDelta(QWidget* view, double delta)
{
    QWidget* parent = view ? view->parentWidget() : nullptr;
    if (!parent)
        return;
    const QList<QWidget*> siblings = parent->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
    if (siblings.size() < 2)
        return;
    // Qt's y grows downwards: "below" is a larger y, and moving up subtracts.
    const bool hidden = view->isHidden();
    const double reference = hidden ? view->y() : view->y() + view->height();
    const int shift = int(std::lround(delta));
    for (QWidget* sibling : siblings) {
        if (sibling == view || sibling->isWindow())
            continue;
        const double edge = hidden ? sibling->y() : sibling->y() + sibling->height();
        if (edge > reference)
            sibling->move(sibling->x(), sibling->y() - shift);
    }
}
