// The token fields that take meta references ("<?meta:Genre?>"), their tag side: how their
// tokens are written to and read from the clipboard and drags, which tokens a paste adds,
// and the answers the controller gives every token field as its delegate. Two conventions:
// - values (`PMMetaReferenceAwareTokenField`): each token is one value, several form a CSV
//   text; a value may hold meta references and reads "→ Genre";
// - text with references (`PMMetaReferenceTokenField`): the tokens are the pieces of one
//   text, plain pieces and references, joined without separator.
// The fields edit their tokens as text; while not being edited they show every reference
// (and every value of a values field) as a pill drawn by the list's pill painter. The
// text-with-references field has a 22-point "+" widget at its right edge, and Ctrl++ while
// editing, that open the menu of references to insert; a reference goes in at the caret
// as an undoable insertion (never through the clipboard). Main thread only.
#pragma once

#include <QtCore/QRectF>
#include <QtCore/QString>
#include <QtCore/QStringList>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QPlainTextEdit>

#include <functional>
#include <optional>

class QAction;
class QMenu;
class QMimeData;
class QPainter;

// Fills the menu (a new one titled "Meta" when none is given) with the meta references a
// user may insert in the window: the tags (the info panel's shown rows in the info panel,
// else every tag of the library) but the excluded one, then "Name", "Name: Common Prefix",
// "Name: Regular Expression", "Text: Regular Expression" (with "Enable Meta Reference Text
// Access") and "Index". Every item carries its reference as represented object and runs
// `insert` with it.
QMenu* populateMetaReferenceMenu(QMenu* menu, QWidget* forWindow, const QString& excludedTag,
                                 const std::function<void(const QString& reference)>& insert);

// Remembers where the caret was when the user clicked into a field that was already being
// edited, so that a select-all that follows within a second (a field that lost and regained
// the keys to commit an edit) puts the caret back instead. "None" is location -1.
class PMSelectionMemory {
public:
    void remember(int location, int length, double now);
    // The range to select instead of the whole text, if any; forgets the remembered range in
    // every case.
    std::optional<std::pair<int, int>> rangeToRestore(bool editing, bool wholeTextSelected, int textLength, double now);
    int location() const { return _previousSelectedRange.first; }

private:
    std::pair<int, int> _previousSelectedRange{-1, 0}; // location, length
    double _previousSelectedRangeTimestamp = 0;
};

// The tokenizing characters of a field that no typed character (a comma included) ends a
// token in: none at all.
QString emptyTokenizingCharacterSet();

class PMMetaReferenceAwareTokenField : public QLineEdit {
    Q_OBJECT
public:
    explicit PMMetaReferenceAwareTokenField(QWidget* parent = nullptr);

    // The marker that ends a list of tokens whose text a paste already put into the editor.
    static QString insertedTextMarker() { return QString(); }
    // Values: the tokens as one CSV text (trimmed) in the plain-text format; NO when empty.
    static bool writeRepresentedObjects(const QStringList& tokens, QMimeData& toPasteboard);
    // Values: every plain text of the pasteboard split as CSV, without repeats, in order.
    // One plain value pasted over a selection of the editing field replaces the selection
    // (the caret after it) and comes back followed by the marker.
    static QStringList readFromPasteboard(const QMimeData& pasteboard, QWidget* controlView);
    // Nothing when the last token is the marker (the text is in already), else the tokens.
    static QStringList shouldAddObjects(const QStringList& tokens);

    // The tokens of the field and back, in the field's convention.
    QStringList objectValue() const { return tokensOfText(text()); }
    virtual void setObjectValue(const QStringList& tokens);
    // The tokens a text of the field stands for.
    virtual QStringList tokensOfText(const QString& text) const;
    // The characters that end a token as it is typed.
    virtual QString tokenizingCharacterSet() const { return QStringLiteral(","); }

    // What the user pastes, drops or copies goes through the field's token rules: the
    // tokens read from the data (`readFromPasteboard`), those the field adds
    // (`shouldAddObjects`) go in at the caret; a copy writes the selected tokens
    // (`writeRepresentedObjects`). Answers whether anything went in (was written).
    bool pasteTokensFromMimeData(const QMimeData& data);
    bool copySelectedTokens();
    void pasteTokens();
    void cutTokens();

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    // The text that the tokens a paste adds become at the caret.
    virtual QString textForInsertedTokens(const QStringList& tokens) const;
    // The text shown for a token while the field is not edited; empty: shown as plain text.
    virtual QString displayStringForToken(const QString& token) const;
    // The room kept free at the right edge.
    virtual double trailingWidgetWidth() const { return 0; }
};

// The geometry and look of the reference menu widget at the right edge of a field.
class PMMetaReferenceTokenFieldCell {
public:
    static constexpr double kWidgetWidth = 22;
    // The rightmost 22 points of the cell frame, inset by 1 point on every side.
    static QRectF metaReferenceMenuWidgetFrameForCellFrame(const QRectF& cellFrame);
    // The frame made 22 points narrower.
    static QRectF textFrameForCellFrame(const QRectF& cellFrame);
    static QSizeF cellSize(const QSizeF& superSize) { return {superSize.width() + kWidgetWidth, superSize.height()}; }
    // The separator left of the widget and the "+" at its centre; highlighted while the menu
    // is open, dimmed in a window that is not active.
    static void drawInteriorWithFrame(QPainter& painter, const QRectF& cellFrame, bool showsMenu, bool windowIsKey, bool dark,
                                      double devicePixelRatio);
};

class PMMetaReferenceTokenField : public PMMetaReferenceAwareTokenField {
    Q_OBJECT
public:
    explicit PMMetaReferenceTokenField(QWidget* parent = nullptr);

    // Text with references: the pieces joined without separator; NO when empty.
    static bool writeRepresentedObjects(const QStringList& tokens, QMimeData& toPasteboard);
    // The plain texts of the pasteboard joined, cut into pieces.
    static QStringList readFromPasteboard(const QMimeData& pasteboard, QWidget* controlView);
    static QStringList shouldAddObjects(const QStringList& tokens) { return tokens; }

    QStringList tokensOfText(const QString& text) const override { return metaReferenceComponentsOf(text); }
    void setObjectValue(const QStringList& tokens) override;
    QString tokenizingCharacterSet() const override { return emptyTokenizingCharacterSet(); }
    void setStringValue(const QString& text) { setObjectValue(metaReferenceComponentsOf(text)); }
    QString stringValue() const { return objectValue().join(QString()); }

    // Inserts the reference the menu item carries: at the caret while editing (undoable, as a
    // paste would, the clipboard untouched), else as a last token with the caret at the end.
    void insertMetaReference(QAction* item);
    void insertMetaReferenceText(const QString& text);
    // Selects the whole text, unless the user clicked into the field while it was being
    // edited less than a second ago: then the caret stays where the click put it.
    void selectText();
    // Opens the reference menu below the widget; answers whether one was shown.
    bool popUpMenu();
    bool showsMetaReferenceMenu() const { return _showsMetaReferenceMenu; }
    void setShowsMetaReferenceMenu(bool shows);
    // The widget's frame in the field's coordinates.
    QRectF metaReferenceMenuWidgetFrame() const;

Q_SIGNALS:
    // The text changed by an insertion (the field's text delegate hears of it).
    void controlTextDidChange();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    QString displayStringForToken(const QString& token) const override;
    double trailingWidgetWidth() const override { return PMMetaReferenceTokenFieldCell::kWidgetWidth; }
    QString textForInsertedTokens(const QStringList& tokens) const override { return tokens.join(QString()); }

private:
    static QStringList metaReferenceComponentsOf(const QString& text);
    PMSelectionMemory m_selectionMemory;
    bool _showsMetaReferenceMenu = false;
};

// The notes view: a plain text view that inserts references at its selection.
class PMMetaReferenceTextView : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit PMMetaReferenceTextView(QWidget* parent = nullptr);
    // Inserts the item's reference at the selection (undoable; no notification).
    void insertMetaReference(QAction* item);
    void insertMetaReferenceText(const QString& text);

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
};

// The controller's answers as the delegate of token fields and token cells: meta-reference
// fields forward to their class, any other field is a plain list of texts.
namespace PMTokenFieldDelegate {
enum class TokenStyle { Token = 0, PlainText = 1 };
QString tokenFieldCellDisplayStringForRepresentedObject(const QString& object);
QString tokenFieldDisplayStringForRepresentedObject(const QWidget* field, const QString& object);
bool tokenFieldWriteRepresentedObjects(const QWidget* field, const QStringList& objects, QMimeData& toPasteboard);
QStringList tokenFieldReadFromPasteboard(QWidget* field, const QMimeData& pasteboard);
QStringList tokenFieldShouldAddObjects(const QWidget* field, const QStringList& objects);
TokenStyle tokenFieldStyleForRepresentedObject(const QWidget* field, const QString& object);
// Completions of the word typed in a plain field; none in a meta-reference field.
QStringList tokenFieldCompletionsForSubstring(QWidget* field, const QString& substring, int* indexOfSelectedItem);
} // namespace PMTokenFieldDelegate
