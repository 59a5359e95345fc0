#include "ui/kit/NSView+PMExtensions.h"

#include "foundation/PMLog.h"
#include "platform/PlatformProfile.h"
#include "ui/kit/PMSizeAdjustingTextField.h"

#include <QtCore/QPointer>
#include <QtCore/QTimer>
#include <QtGui/QCursor>
#include <QtGui/QPainter>
#include <QtGui/QGuiApplication>
#include <QtGui/QIcon>
#include <QtGui/QPainter>
#include <QtWidgets/QAbstractButton>
#include <QtWidgets/QAbstractSlider>
#include <QtWidgets/QApplication>
#include <QtWidgets/QComboBox>
#include <QtWidgets/QLabel>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QSpinBox>
#include <QtWidgets/QTableView>

#include <cmath>

namespace {

bool isEmptyReadOnlyTextField(const QWidget* view)
{
    if (const auto* label = qobject_cast<const QLabel*>(view))
        return label->text().isEmpty();
    if (const auto* field = qobject_cast<const QLineEdit*>(view))
        return field->isReadOnly() && field->text().isEmpty();
    return false;
}

void collectLowestEdge(const QWidget* view, const QWidget* reference, bool checkSubviews, double& lowest)
{
    for (const QWidget* subview : view->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        if (subview->isWindow() || subview->isHidden() || isEmptyReadOnlyTextField(subview))
            continue;
        if (checkSubviews && subview->metaObject() == &QWidget::staticMetaObject) {
            collectLowestEdge(subview, reference, checkSubviews, lowest);
            continue;
        }
        const double bottom = subview->mapTo(reference, QPoint(0, subview->height())).y();
        lowest = std::max(lowest, bottom);
    }
}

QPixmap tinted(const QPixmap& pixmap, const QColor& color)
{
    QPixmap result = pixmap;
    QPainter painter(&result);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(result.rect(), color);
    return result;
}

QColor emphasisColor(int emphasis)
{
    const QColor highlight = QGuiApplication::palette().color(QPalette::Highlight);
    if (emphasis == 0)
        return Qt::white;
    return emphasis == 1 ? highlight : highlight.darker(130);
}

} // namespace

double minimumYCoordinateComparedToHeightOfView(const QWidget* view, const QWidget* comparedToHeightOfView, bool checkSubviews)
{
    if (!view)
        return 0;
    const QWidget* reference = comparedToHeightOfView ? comparedToHeightOfView : view;
    double lowest = view->mapTo(reference, QPoint(0, 0)).y();
    collectLowestEdge(view, reference, checkSubviews, lowest);
    return lowest;
}

double heightDifferenceNecessaryToFitSubviewsWithBottomMargin(const QWidget* view, double bottomMargin,
                                                              const QWidget* comparedToHeightOfView, bool checkSubviews)
{
    if (!view)
        return 0;
    const QWidget* reference = comparedToHeightOfView ? comparedToHeightOfView : view;
    return reference->height() - minimumYCoordinateComparedToHeightOfView(view, reference, checkSubviews) - bottomMargin;
}

void centerHorizontallyRelativeToSuperview(QWidget* view)
{
    if (view && view->parentWidget())
        view->move(int(std::floor((view->parentWidget()->width() - view->width()) / 2.0)), view->y());
}

bool setVisible(QWidget* view, bool visible, double moveSiblingBelowByDelta)
{
    if (!view || view->isHidden() == !visible)
        return false;
    moveSiblingsBelowUpByDelta(view, visible ? -moveSiblingBelowByDelta : moveSiblingBelowByDelta);
    view->setHidden(!visible);
    return true;
}

void setNeedsDisplayRecursively(QWidget* view)
{
    if (!view)
        return;
    view->update();
    for (QWidget* subview : view->findChildren<QWidget*>())
        subview->update();
}

bool isBelowMouseOutsideOfEventStream(const QWidget* view)
{
    return view && view->window() && view->rect().contains(view->mapFromGlobal(QCursor::pos()));
}

void selectAndRevealRow(QTableView* table, int row)
{
    if (!table || row < 0 || !table->model() || row >= table->model()->rowCount(table->rootIndex()))
        return;
    table->clearSelection();
    table->selectRow(row);
    table->scrollTo(table->model()->index(row, 0, table->rootIndex()));
}

bool drawsActiveWindowContent(const QWidget* table)
{
    if (!table || QGuiApplication::applicationState() != Qt::ApplicationActive)
        return false;
    return table->window() == QApplication::activeWindow();
}

int indexOfItemWithRepresentedDictionaryWithString(const QComboBox* popUp, const QString& string, const QString& forKey)
{
    if (!popUp || string.isNull() || forKey.isNull())
        return -1;
    for (int i = 0; i < popUp->count(); ++i) {
        const QVariant data = popUp->itemData(i);
        const QVariant value = data.typeId() == QMetaType::QVariantMap    ? data.toMap().value(forKey)
                               : data.typeId() == QMetaType::QVariantHash ? data.toHash().value(forKey)
                                                                          : QVariant();
        if (value.typeId() == QMetaType::QString && value.toString() == string)
            return i;
    }
    return -1;
}

void setImageWithSystemSymbolName(QAbstractButton* button, const QString& symbolName, const QString& fallbackName, int emphasis)
{
    if (!button)
        return;
    const QSize size(18, 18);
    const QIcon symbol = symbolName.isEmpty() ? QIcon() : QIcon::fromTheme(symbolName);
    if (!symbol.isNull()) {
        button->setIcon(QIcon(tinted(symbol.pixmap(size, button->devicePixelRatioF()), emphasisColor(emphasis))));
        button->setIconSize(size);
        return;
    }
    if (fallbackName.isEmpty())
        return;
    const QIcon fallback = QIcon::fromTheme(fallbackName);
    if (fallback.isNull())
        return;
    const QPixmap pixmap = fallback.pixmap(size, button->devicePixelRatioF());
    button->setIcon(emphasis >= 1 ? QIcon(tinted(pixmap, emphasisColor(emphasis))) : fallback);
    button->setIconSize(size);
}

void setHiddenAndDisabled(QWidget* control, bool flag)
{
    if (!control)
        return;
    control->setEnabled(!flag);
    control->setHidden(flag);
}

qint64 numberValueWithIntegerMinimum(const QWidget* control, qint64 minimum)
{
    qint64 value = minimum;
    if (const auto* spin = qobject_cast<const QSpinBox*>(control))
        value = spin->value();
    else if (const auto* slider = qobject_cast<const QAbstractSlider*>(control))
        value = slider->value();
    else if (const auto* field = qobject_cast<const QLineEdit*>(control))
        value = field->text().trimmed().toLongLong();
    if (value <= minimum)
        return minimum;
    return std::min<qint64>(value, 2147483647);
}

void stopLoadingAndReleaseWhenDone(QWidget* webView)
{
    if (!webView)
        return;
    webView->close();
    struct Attempt {
        static void run(QPointer<QWidget> view, int remaining)
        {
            if (!view)
                return;
            if (!view->property("loading").toBool()) {
                view->deleteLater();
                return;
            }
            if (remaining <= 0) {
                PMLog("giving up waiting for web view %@ to stop loading", view->objectName());
                view->deleteLater();
                return;
            }
            QMetaObject::invokeMethod(view, "stop");
            QTimer::singleShot(int(platform::profile::webViewReleaseRetryInterval * 1000), view,
                               [view, remaining] { run(view, remaining - 1); });
        }
    };
    Attempt::run(webView, platform::profile::webViewReleaseAttempts);
}

QPixmap fadedDragPixmap(QWidget* widget, const QRect& bounds)
{
    const QPixmap pixmap = widget->grab(bounds);
    QPixmap faded(pixmap.size());
    faded.setDevicePixelRatio(pixmap.devicePixelRatio());
    faded.fill(Qt::transparent);
    QPainter p(&faded);
    p.setOpacity(0.7);
    p.drawPixmap(0, 0, pixmap);
    p.end();
    return faded;
}
