// The token fields that take meta references ("<?meta:Genre?>"), their tag side: how their
// tokens are written to and read from the clipboard and drags, which tokens a paste adds,
// and the answers the controller gives every token field as its delegate. Two conventions:
// - values (`PMMetaReferenceAwareTokenField`): each token is one value, several form a CSV
//   text; a value may hold meta references and reads "→ Genre";
// - text with references (`PMMetaReferenceTokenField`): the tokens are the pieces of one
//   text, plain pieces and references, joined without separator.
// The field itself (editing tokens, the insert menu, drawing the pills with the list's pill
// painter) belongs with the info panel. Main thread only.
#pragma once

#include <QtCore/QString>
#include <QtCore/QStringList>
#include <QtWidgets/QLineEdit>

class QMimeData;

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
    virtual QStringList objectValue() const;
    virtual void setObjectValue(const QStringList& tokens);
    // The characters that end a token as it is typed.
    virtual QString tokenizingCharacterSet() const { return QStringLiteral(","); }
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

    QStringList objectValue() const override;
    void setObjectValue(const QStringList& tokens) override;
    QString tokenizingCharacterSet() const override { return emptyTokenizingCharacterSet(); }
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
