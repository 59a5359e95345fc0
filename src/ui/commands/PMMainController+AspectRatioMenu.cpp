// The aspect ratio menu of the current movie: locking the ratio the player shows, or
// defining the one of the player's area; the common ratios with the one in use ticked;
// resetting a defined ratio and clearing a stored one.
#include "library/model/PMMainController.h"

#include "library/model/PMMovieRepresentation.h"
#include "platform/Image.h"
#include "platform/Responder.h"
#include "library/model/PMMovie.h"
#include "playback/PMPlayback.h"
#include "ui/kit/NSMenu+PMExtensions.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QLocale>
#include <QtGui/QAction>
#include <QtWidgets/QMenu>
#include <QtWidgets/QWidget>

#include <cmath>

using platform::Value;

namespace {

QString localized(const char* text)
{
    return QCoreApplication::translate("PMMainController", text);
}

// At most two fraction digits, with trailing zeros (and a bare point) dropped.
QString ratioText(double value)
{
    QString text = QLocale::c().toString(value, 'f', 2);
    while (text.contains(u'.') && (text.endsWith(u'0') || text.endsWith(u'.')))
        text.chop(1);
    return text;
}

const char* const kLockItemProperty = "PMAspectRatioLockItem";

} // namespace

QMenu* PMMainController::populateAspectRatioMenu(QMenu* menu)
{
    if (!menu)
        menu = new QMenu(localized("Aspect Ratio"));
    const bool inMainMenu = menu == _mainMenu.aspectRatioMenu;

    // The picture's shape and the area it is shown in.
    PMMovieRepresentationPrototype* current = PMMovie(_currentMovieRepresentation);
    PMPlayerViewContent& content = playerViewContent();
    QSizeF natural;
    if (content.movieReplacingImage)
        natural = content.movieReplacingImage->size();
    else if (const PMPlaybackMoviePtr movie = current ? PMExistingMovieOfRecord(current) : nullptr)
        natural = movie->naturalSize();
    const QWidget* area = playerView ? playerView->parentWidget() : nullptr;
    const double w = area ? area->width() : 0;
    const double h = area ? area->height() : 0;
    if (!current || natural.isEmpty() || w < 1 || h < 1) {
        // Disabled by itself: a context menu's copy is not validated like the main menu's.
        QAction* placeholder = addNonActionItemWithTitle(menu, QStringLiteral("-"));
        platform::setMenuItemTargetsNothing(placeholder);
        placeholder->setEnabled(false);
        return menu;
    }
    const platform::DictionaryPtr settings = current->userSettings();
    const Value stored = settings ? settings->value(QStringLiteral("Aspect Ratio")) : Value();
    const bool hasStoredRatio = stored.isNumber();
    const double r = hasStoredRatio ? stored.toDouble() : std::max(1.0, natural.height()) / std::max(1.0, natural.width());
    const double deviation = std::fabs(w * r - h);
    const bool locked = _menuValidation.isAspectRatioLocked && _menuValidation.isAspectRatioLocked();
    const bool defineMode = !locked && deviation >= 1;

    QAction* first = menu->addAction(locked ? localized("Unlock Aspect Ratio")
                                            : (deviation < 1 ? localized("Lock Aspect Ratio") : localized("Define Aspect Ratio")));
    platform::setMenuItemAction(first, QStringLiteral("changeAspectRatio"));
    platform::setMenuItemTag(first, defineMode ? 1 : 0);
    if (inMainMenu) {
        first->setProperty(kLockItemProperty, true);
        first->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_L));
        first->setShortcutContext(Qt::ApplicationShortcut);
    }
    menu->addSeparator();

    static const int presets[][2] = {{21, 9}, {16, 9}, {16, 10}, {11, 8}, {4, 3}};
    bool ticked = false;
    for (const auto& preset : presets) {
        const int a = preset[0];
        const int b = preset[1];
        QAction* item = menu->addAction(QStringLiteral("%1:%2").arg(a).arg(b));
        platform::setMenuItemAction(item, QStringLiteral("changeAspectRatio"));
        platform::setMenuItemTag(item, 1);
        const float q = float(b) / float(a);
        platform::setMenuItemRepresentedObject(item, Value(double(q)));
        setTitleSuffix(item, QStringLiteral(" (%1:1)").arg(ratioText(double(a) / b)), -1);
        item->setCheckable(true);
        if (!defineMode && std::fabs((q - r) * w) < 1) {
            item->setChecked(true);
            ticked = true;
        }
    }
    if (!ticked)
        setTitleSuffix(first, QStringLiteral(" (%1)").arg(QStringLiteral("%1:1").arg(ratioText(w / h))), -1);
    if (defineMode || hasStoredRatio) {
        menu->addSeparator();
        if (defineMode) {
            QAction* reset = menu->addAction(localized("Reset Aspect Ratio"));
            platform::setMenuItemAction(reset, QStringLiteral("changeAspectRatio"));
            platform::setMenuItemTag(reset, 0);
        }
        if (hasStoredRatio) {
            QAction* clear = menu->addAction(localized("Clear Custom Aspect Ratio"));
            platform::setMenuItemAction(clear, QStringLiteral("changeAspectRatio"));
            platform::setMenuItemTag(clear, -1);
        }
    }
    return menu;
}
