#include "ui/commands/PMMetaReferenceTokenField.h"

#include "foundation/NSString+PMHelpManager.h"
#include "foundation/PMCSVParser.h"
#include "library/model/PMMainController.h"
#include "library/model/PMSortLibraryItems.h"
#include "platform/EventClock.h"
#include "platform/Responder.h"
#include "platform/UserDefaults.h"
#include "ui/kit/PMAppearance.h"
#include "ui/library_window/PMTableCells.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QMimeData>
#include <QtCore/QSet>
#include <QtGui/QClipboard>
#include <QtGui/QContextMenuEvent>
#include <QtGui/QDropEvent>
#include <QtGui/QGuiApplication>
#include <QtGui/QMouseEvent>
#include <QtGui/QKeyEvent>
#include <QtGui/QPainter>
#include <QtGui/QPainterPath>
#include <QtWidgets/QMenu>
#include <QtWidgets/QStyle>
#include <QtWidgets/QStyleOptionFrame>

#include <memory>

namespace {

// The plain texts a pasteboard or drag holds (one here: Qt keeps one text per drag).
QStringList plainStrings(const QMimeData& pasteboard)
{
    QStringList strings;
    if (pasteboard.hasText())
        strings << pasteboard.text();
    return strings;
}

QString localized(const char* text)
{
    return QCoreApplication::translate("PMMetaReferenceTokenField", text);
}

QString metaReference(const QString& name)
{
    return QStringLiteral("<?meta:%1?>").arg(name);
}

} // namespace

// ---- The reference menu ------------------------------------------------------------------

QMenu* populateMetaReferenceMenu(QMenu* menu, QWidget* forWindow, const QString& excludedTag,
                                 const std::function<void(const QString& reference)>& insert)
{
    if (!menu)
        menu = new QMenu(localized("Meta"));
    menu->clear();
    // The controller's menu of references, its items inserting here instead of sending
    // an action; the notes are no reference a field takes.
    PMMainController::mainController().populateMetaReferenceMenu(menu, forWindow, QString(), nullptr, platform::Value(excludedTag));
    for (QAction* item : menu->actions()) {
        const QString reference = platform::menuItemRepresentedObject(item).string();
        if (reference.isEmpty())
            continue;
        if (reference.compare(metaReference(QStringLiteral("notes")), Qt::CaseInsensitive) == 0) {
            menu->removeAction(item);
            item->deleteLater();
            continue;
        }
        if (insert)
            platform::setMenuItemHandler(item, [insert, reference](QAction*) { insert(reference); });
    }
    while (!menu->actions().isEmpty() && menu->actions().constFirst()->isSeparator())
        menu->removeAction(menu->actions().constFirst());
    return menu;
}

// ---- The caret kept after a click --------------------------------------------------------

void PMSelectionMemory::remember(int location, int length, double now)
{
    _previousSelectedRange = {location, length};
    _previousSelectedRangeTimestamp = now;
}

std::optional<std::pair<int, int>> PMSelectionMemory::rangeToRestore(bool editing, bool wholeTextSelected, int textLength, double now)
{
    std::optional<std::pair<int, int>> range;
    const auto [location, length] = _previousSelectedRange;
    if (editing && location >= 0 && now - _previousSelectedRangeTimestamp < 1.0 && wholeTextSelected && location + length <= textLength)
        range = _previousSelectedRange;
    _previousSelectedRange = {-1, 0};
    return range;
}

QString emptyTokenizingCharacterSet()
{
    static const QString empty;
    return empty;
}

// ---- Values -------------------------------------------------------------------------------

PMMetaReferenceAwareTokenField::PMMetaReferenceAwareTokenField(QWidget* parent) : QLineEdit(parent) {}

bool PMMetaReferenceAwareTokenField::writeRepresentedObjects(const QStringList& tokens, QMimeData& toPasteboard)
{
    const QString text = PMCSVStringWithFields(tokens, QString(), true);
    if (text.isEmpty())
        return false;
    toPasteboard.setText(text);
    return true;
}

QStringList PMMetaReferenceAwareTokenField::readFromPasteboard(const QMimeData& pasteboard, QWidget* controlView)
{
    QStringList fields;
    QSet<QString> seen;
    for (const QString& string : plainStrings(pasteboard))
        for (const QString& field : cachedCSVFields(string))
            if (!seen.contains(field)) {
                seen.insert(field);
                fields << field;
            }
    // One plain value pasted over a selection goes into the text being edited.
    auto* editor = qobject_cast<QLineEdit*>(controlView);
    if (fields.size() == 1 && editor && editor->hasFocus() && editor->hasSelectedText() && !firstMetaReferenceWithRange(fields.first())
        && cachedCSVFields(fields.first()).size() == 1) {
        editor->insert(fields.first());
        return {fields.first(), insertedTextMarker()};
    }
    return fields;
}

QStringList PMMetaReferenceAwareTokenField::shouldAddObjects(const QStringList& tokens)
{
    if (!tokens.isEmpty() && tokens.last().isEmpty())
        return {};
    return tokens;
}

QStringList PMMetaReferenceAwareTokenField::tokensOfText(const QString& value) const
{
    return value.trimmed().isEmpty() ? QStringList() : cachedCSVFields(value);
}

QString PMMetaReferenceAwareTokenField::textForInsertedTokens(const QStringList& tokens) const
{
    QString inserted = PMCSVStringWithFields(tokens, QString(), true);
    // A value typed before the caret stays a value of its own.
    const QString before = text().left(hasSelectedText() ? selectionStart() : cursorPosition()).trimmed();
    if (!inserted.isEmpty() && !before.isEmpty() && !before.endsWith(u','))
        inserted.prepend(QStringLiteral(", "));
    return inserted;
}

bool PMMetaReferenceAwareTokenField::pasteTokensFromMimeData(const QMimeData& data)
{
    if (isReadOnly())
        return false;
    const QStringList tokens = PMTokenFieldDelegate::tokenFieldShouldAddObjects(this, PMTokenFieldDelegate::tokenFieldReadFromPasteboard(this, data));
    if (tokens.isEmpty())
        return false; // nothing, or already put in by the reading
    QString inserted = textForInsertedTokens(tokens);
    // One line: a pasted line break would end up in a name.
    for (QChar& ch : inserted)
        if (ch == u'\n' || ch == u'\r' || ch == u'\t')
            ch = u' ';
    if (inserted.isEmpty())
        return false;
    insert(inserted);
    return true;
}

bool PMMetaReferenceAwareTokenField::copySelectedTokens()
{
    if (!hasSelectedText() || echoMode() != QLineEdit::Normal)
        return false;
    auto data = std::make_unique<QMimeData>();
    if (!PMTokenFieldDelegate::tokenFieldWriteRepresentedObjects(this, tokensOfText(selectedText()), *data))
        return false;
    QGuiApplication::clipboard()->setMimeData(data.release());
    return true;
}

void PMMetaReferenceAwareTokenField::pasteTokens()
{
    if (const QMimeData* data = QGuiApplication::clipboard()->mimeData())
        pasteTokensFromMimeData(*data);
}

void PMMetaReferenceAwareTokenField::cutTokens()
{
    if (!isReadOnly() && copySelectedTokens())
        del();
}

void PMMetaReferenceAwareTokenField::keyPressEvent(QKeyEvent* event)
{
    if (event->matches(QKeySequence::Paste)) {
        pasteTokens();
        event->accept();
        return;
    }
    if (event->matches(QKeySequence::Copy)) {
        copySelectedTokens();
        event->accept();
        return;
    }
    if (event->matches(QKeySequence::Cut)) {
        cutTokens();
        event->accept();
        return;
    }
    QLineEdit::keyPressEvent(event);
}

void PMMetaReferenceAwareTokenField::contextMenuEvent(QContextMenuEvent* event)
{
    std::unique_ptr<QMenu> menu(createStandardContextMenu());
    // The menu's Cut, Copy and Paste follow the token rules as the keys do.
    for (QAction* item : menu->actions()) {
        if (disconnect(item, &QAction::triggered, this, &QLineEdit::paste))
            connect(item, &QAction::triggered, this, &PMMetaReferenceAwareTokenField::pasteTokens);
        else if (disconnect(item, &QAction::triggered, this, &QLineEdit::copy))
            connect(item, &QAction::triggered, this, [this] { copySelectedTokens(); });
        else if (disconnect(item, &QAction::triggered, this, &QLineEdit::cut))
            connect(item, &QAction::triggered, this, &PMMetaReferenceAwareTokenField::cutTokens);
    }
    menu->exec(event->globalPos());
}

void PMMetaReferenceAwareTokenField::mouseReleaseEvent(QMouseEvent* event)
{
    // The middle button pastes the primary selection, through the same rules.
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (event->button() == Qt::MiddleButton && clipboard->supportsSelection() && !isReadOnly()) {
        if (const QMimeData* data = clipboard->mimeData(QClipboard::Selection)) {
            deselect();
            setCursorPosition(cursorPositionAt(event->position().toPoint()));
            pasteTokensFromMimeData(*data);
        }
        event->accept();
        return;
    }
    QLineEdit::mouseReleaseEvent(event);
}

void PMMetaReferenceAwareTokenField::dropEvent(QDropEvent* event)
{
    // Text moved within the field stays the field's own business.
    if (event->source() == this || isReadOnly() || !event->mimeData()->hasText()) {
        QLineEdit::dropEvent(event);
        return;
    }
    deselect();
    setCursorPosition(cursorPositionAt(event->position().toPoint()));
    if (pasteTokensFromMimeData(*event->mimeData())) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
        setFocus(Qt::MouseFocusReason);
    } else {
        event->ignore();
    }
}

void PMMetaReferenceAwareTokenField::setObjectValue(const QStringList& tokens)
{
    setText(PMCSVStringWithFields(tokens, QString(), true));
}

QString PMMetaReferenceAwareTokenField::displayStringForToken(const QString& token) const
{
    return stringByMakingMetaReferencesReadableWithMetaPrefix(token, true);
}

void PMMetaReferenceAwareTokenField::paintEvent(QPaintEvent* event)
{
    // Edited, empty, or without a single token: the text as it is.
    const QStringList tokens = hasFocus() || text().isEmpty() ? QStringList() : objectValue();
    if (tokens.isEmpty()) {
        QLineEdit::paintEvent(event);
        return;
    }
    QPainter painter(this);
    QStyleOptionFrame frame;
    initStyleOption(&frame);
    style()->drawPrimitive(QStyle::PE_PanelLineEdit, &frame, &painter, this);
    QRectF area = style()->subElementRect(QStyle::SE_LineEditContents, &frame, this);
    area.adjust(2, 0, -trailingWidgetWidth() - 2, 0);
    painter.setClipRect(area);
    const bool dark = PMIsDarkMode();
    double x = area.left();
    for (const QString& token : tokens) {
        const QString shown = displayStringForToken(token);
        if (shown.isEmpty()) {
            // A plain piece of a text with references.
            const double width = fontMetrics().horizontalAdvance(token);
            painter.setPen(palette().color(isEnabled() ? QPalette::Text : QPalette::PlaceholderText));
            painter.drawText(QRectF(x, area.top(), width + 1, area.height()), Qt::AlignVCenter | Qt::AlignLeft | Qt::TextDontClip, token);
            x += width;
            continue;
        }
        const double width = PMTokenPillPainter::tokenWidth(shown, font());
        PMTokenPillPainter::drawTokens(painter, QRectF(x, area.top(), width, area.height()), {shown}, font(), dark, false);
        x += width + PMTokenPillPainter::kTokenSpacing;
        if (x > area.right())
            break;
    }
}

// ---- The reference menu widget -------------------------------------------------------

QRectF PMMetaReferenceTokenFieldCell::metaReferenceMenuWidgetFrameForCellFrame(const QRectF& cellFrame)
{
    if (cellFrame.width() < kWidgetWidth)
        return {};
    return QRectF(cellFrame.right() - kWidgetWidth, cellFrame.top(), kWidgetWidth, cellFrame.height()).adjusted(1, 1, -1, -1);
}

QRectF PMMetaReferenceTokenFieldCell::textFrameForCellFrame(const QRectF& cellFrame)
{
    return QRectF(cellFrame.left(), cellFrame.top(), std::max(0.0, cellFrame.width() - kWidgetWidth), cellFrame.height());
}

void PMMetaReferenceTokenFieldCell::drawInteriorWithFrame(QPainter& painter, const QRectF& cellFrame, bool showsMenu, bool windowIsKey,
                                                          bool dark, double devicePixelRatio)
{
    const QRectF widget = metaReferenceMenuWidgetFrameForCellFrame(cellFrame);
    if (widget.isEmpty())
        return;
    painter.save();
    const QColor base = dark ? Qt::white : Qt::black;
    const double separatorWidth = devicePixelRatio > 1.5 ? 0.5 : 1.0;
    auto withAlpha = [&](double alpha) {
        QColor c = base;
        c.setAlphaF(float(alpha));
        return c;
    };
    if (showsMenu)
        painter.fillRect(widget, withAlpha(0.1));
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter.fillRect(QRectF(widget.left() - separatorWidth, widget.top(), separatorWidth, widget.height()), withAlpha(showsMenu ? 0.2 : 0.1));
    // The "+" sign, 8 by 8 points at the centre.
    const QPointF origin(std::floor(widget.center().x() - 4), std::floor(widget.center().y() - 4));
    const QColor tint = withAlpha(showsMenu ? 1.0 : (windowIsKey ? 0.8 : 0.6));
    painter.fillRect(QRectF(origin.x() + 3.25, origin.y(), 1.5, 8), tint);
    painter.fillRect(QRectF(origin.x(), origin.y() + 3.25, 8, 1.5), tint);
    painter.restore();
}

// ---- Text with references -------------------------------------------------------------

PMMetaReferenceTokenField::PMMetaReferenceTokenField(QWidget* parent) : PMMetaReferenceAwareTokenField(parent)
{
    setTextMargins(0, 0, int(PMMetaReferenceTokenFieldCell::kWidgetWidth), 0);
}

QStringList PMMetaReferenceTokenField::metaReferenceComponentsOf(const QString& text)
{
    return metaReferenceComponents(text);
}

QString PMMetaReferenceTokenField::displayStringForToken(const QString& token) const
{
    return firstMetaReferenceWithRange(token) ? stringByMakingMetaReferencesReadableWithMetaPrefix(token, false) : QString();
}

QRectF PMMetaReferenceTokenField::metaReferenceMenuWidgetFrame() const
{
    return PMMetaReferenceTokenFieldCell::metaReferenceMenuWidgetFrameForCellFrame(QRectF(rect()));
}

void PMMetaReferenceTokenField::setShowsMetaReferenceMenu(bool shows)
{
    _showsMetaReferenceMenu = shows;
    repaint();
}

void PMMetaReferenceTokenField::paintEvent(QPaintEvent* event)
{
    PMMetaReferenceAwareTokenField::paintEvent(event);
    QPainter painter(this);
    PMMetaReferenceTokenFieldCell::drawInteriorWithFrame(painter, QRectF(rect()), _showsMetaReferenceMenu, isActiveWindow(),
                                                        isInFullyInvertedDarkMode(this), devicePixelRatioF());
}

bool PMMetaReferenceTokenField::popUpMenu()
{
    QMenu menu(this);
    populateMetaReferenceMenu(&menu, window(), QString(), [this](const QString& reference) { insertMetaReferenceText(reference); });
    if (menu.isEmpty())
        return false;
    QFont menuFont = menu.font();
    menuFont.setPointSizeF(font().pointSizeF());
    menu.setFont(menuFont);
    setShowsMetaReferenceMenu(true);
    menu.exec(mapToGlobal(QPoint(width() - 27, height() + 2)));
    setShowsMetaReferenceMenu(false);
    return true;
}

void PMMetaReferenceTokenField::mousePressEvent(QMouseEvent* event)
{
    if (isEnabled() && event->button() == Qt::LeftButton && metaReferenceMenuWidgetFrame().contains(event->position()) && popUpMenu())
        return;
    // A click into the field being edited: the caret it places is kept from a select-all.
    if (hasFocus() && !_showsMetaReferenceMenu)
        m_selectionMemory.remember(hasSelectedText() ? selectionStart() : cursorPosition(), int(selectedText().size()),
                                   platform::eventClockNow());
    PMMetaReferenceAwareTokenField::mousePressEvent(event);
    if (hasFocus() && !_showsMetaReferenceMenu)
        m_selectionMemory.remember(hasSelectedText() ? selectionStart() : cursorPosition(), int(selectedText().size()),
                                   platform::eventClockNow());
}

void PMMetaReferenceTokenField::keyPressEvent(QKeyEvent* event)
{
    const Qt::KeyboardModifiers modifiers = event->modifiers();
    if (hasFocus() && event->key() == Qt::Key_Plus && (modifiers & Qt::ControlModifier) && !(modifiers & Qt::MetaModifier)) {
        if (popUpMenu()) {
            event->accept();
            return;
        }
    }
    PMMetaReferenceAwareTokenField::keyPressEvent(event);
}

void PMMetaReferenceTokenField::focusInEvent(QFocusEvent* event)
{
    PMMetaReferenceAwareTokenField::focusInEvent(event);
    // Keys given by the program (a committed edit taking them back) select all, as tabbing
    // in does; a fresh click keeps its caret, and so does the window becoming active again.
    if (event->reason() == Qt::OtherFocusReason)
        selectText();
}

void PMMetaReferenceTokenField::selectText()
{
    selectAll();
    const auto range = m_selectionMemory.rangeToRestore(hasFocus(), selectedText().size() == text().size(), int(text().size()),
                                                        platform::eventClockNow());
    if (range)
        setSelection(range->first, range->second);
}

void PMMetaReferenceTokenField::insertMetaReference(QAction* item)
{
    if (item)
        insertMetaReferenceText(platform::menuItemRepresentedObject(item).string());
}

void PMMetaReferenceTokenField::insertMetaReferenceText(const QString& text)
{
    if (text.isEmpty())
        return;
    if (hasFocus()) {
        // As a paste would: one undoable step at the caret; the clipboard is left alone.
        insert(text);
    } else {
        QStringList tokens = objectValue();
        tokens << text;
        setObjectValue(tokens);
        end(false);
    }
    Q_EMIT controlTextDidChange();
}

bool PMMetaReferenceTokenField::writeRepresentedObjects(const QStringList& tokens, QMimeData& toPasteboard)
{
    const QString text = tokens.join(QString());
    if (text.isEmpty())
        return false;
    toPasteboard.setText(text);
    return true;
}

QStringList PMMetaReferenceTokenField::readFromPasteboard(const QMimeData& pasteboard, QWidget*)
{
    return metaReferenceComponents(plainStrings(pasteboard).join(QString()));
}

void PMMetaReferenceTokenField::setObjectValue(const QStringList& tokens)
{
    setText(tokens.join(QString()));
}

// ---- The notes view -----------------------------------------------------------------

PMMetaReferenceTextView::PMMetaReferenceTextView(QWidget* parent) : QPlainTextEdit(parent) {}

void PMMetaReferenceTextView::insertMetaReference(QAction* item)
{
    if (item)
        insertMetaReferenceText(platform::menuItemRepresentedObject(item).string());
}

void PMMetaReferenceTextView::insertMetaReferenceText(const QString& text)
{
    if (!text.isEmpty())
        textCursor().insertText(text);
}

void PMMetaReferenceTextView::contextMenuEvent(QContextMenuEvent* event)
{
    std::unique_ptr<QMenu> menu(createStandardContextMenu(event->pos()));
    menu->addSeparator();
    QMenu* references = menu->addMenu(localized("Insert Reference"));
    populateMetaReferenceMenu(references, window(), QStringLiteral("notes"), [this](const QString& reference) { insertMetaReferenceText(reference); });
    menu->exec(event->globalPos());
}

// ---- The delegate ------------------------------------------------------------------------

namespace PMTokenFieldDelegate {

QString tokenFieldCellDisplayStringForRepresentedObject(const QString& object)
{
    return stringByMakingMetaReferencesReadableWithMetaPrefix(object, true);
}

QString tokenFieldDisplayStringForRepresentedObject(const QWidget* field, const QString& object)
{
    if (qobject_cast<const PMMetaReferenceTokenField*>(field))
        return stringByMakingMetaReferencesReadableWithMetaPrefix(object, false);
    if (qobject_cast<const PMMetaReferenceAwareTokenField*>(field))
        return stringByMakingMetaReferencesReadableWithMetaPrefix(object, true);
    return object;
}

bool tokenFieldWriteRepresentedObjects(const QWidget* field, const QStringList& objects, QMimeData& toPasteboard)
{
    if (qobject_cast<const PMMetaReferenceTokenField*>(field))
        return PMMetaReferenceTokenField::writeRepresentedObjects(objects, toPasteboard);
    if (qobject_cast<const PMMetaReferenceAwareTokenField*>(field))
        return PMMetaReferenceAwareTokenField::writeRepresentedObjects(objects, toPasteboard);
    return false;
}

QStringList tokenFieldReadFromPasteboard(QWidget* field, const QMimeData& pasteboard)
{
    if (qobject_cast<PMMetaReferenceTokenField*>(field))
        return PMMetaReferenceTokenField::readFromPasteboard(pasteboard, field);
    if (qobject_cast<PMMetaReferenceAwareTokenField*>(field))
        return PMMetaReferenceAwareTokenField::readFromPasteboard(pasteboard, field);
    // A plain field: each text split where the field ends tokens, trimmed.
    QStringList tokens;
    for (const QString& string : plainStrings(pasteboard)) {
        const QStringList parts = string.split(QLatin1Char(','));
        for (const QString& part : parts)
            if (!part.trimmed().isEmpty())
                tokens << part.trimmed();
    }
    return tokens;
}

QStringList tokenFieldShouldAddObjects(const QWidget* field, const QStringList& objects)
{
    if (qobject_cast<const PMMetaReferenceTokenField*>(field))
        return PMMetaReferenceTokenField::shouldAddObjects(objects);
    if (qobject_cast<const PMMetaReferenceAwareTokenField*>(field))
        return PMMetaReferenceAwareTokenField::shouldAddObjects(objects);
    return objects;
}

TokenStyle tokenFieldStyleForRepresentedObject(const QWidget* field, const QString& object)
{
    if (qobject_cast<const PMMetaReferenceTokenField*>(field))
        return firstMetaReferenceWithRange(object) ? TokenStyle::Token : TokenStyle::PlainText;
    return TokenStyle::Token;
}

QStringList tokenFieldCompletionsForSubstring(QWidget* field, const QString& substring, int* indexOfSelectedItem)
{
    if (qobject_cast<PMMetaReferenceAwareTokenField*>(field))
        return {};
    return PMMainController::mainController().controlCompletionsForPrefix(field, substring, indexOfSelectedItem);
}

} // namespace PMTokenFieldDelegate
