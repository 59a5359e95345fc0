// The property-list text editor: edits one property list as text in any of the four
// formats (XML, XML shorthand, JSON, JSON shorthand), keeps the parsed value of its text,
// lets a validator accept, replace or reject it, colours the text, shows the error at its
// line and column, converts the text between the formats from its context menu (undoably),
// folds brackets, tags and indented regions from a gutter of pills, and exchanges property
// lists with the clipboard. The preferences edit the viewer rules with it.
//
// Colours are laid over the text per block (QTextLayout formats) from one pass over the
// whole text, since patterns span lines. Qt hides whole blocks only, so a fold hides the
// lines strictly inside its pair and draws an ellipsis pill after its opening line.
#pragma once

#include "foundation/PMLSONSerialization.h"
#include "platform/NotificationCenter.h"
#include "platform/Value.h"
#include "ui/plist_editor/PMJSONFolding.h"
#include "ui/plist_editor/PMJSONSyntax.h"

#include <QtCore/QFutureWatcher>
#include <QtCore/QPointer>
#include <QtCore/QTimer>
#include <QtGui/QTextLayout>
#include <QtWidgets/QPlainTextEdit>

#include <memory>
#include <optional>

class PMJSONTextView;
class PMJSONGutterView;
class QMenu;

// The owner's optional say over the parsed value. Each operation's default body answers
// that it is not implemented, so the view falls back as if there were no validator.
class PMJSONTextViewValidator {
public:
    virtual ~PMJSONTextViewValidator();
    // The value to use (`result`), or null to reject the text. Answers NO when not implemented.
    virtual bool validateObjectValue(const platform::Value& value, PMJSONTextView* forTextView, platform::Value* result);
    // The text and with it the value changed.
    virtual void didChangeObjectValueForTextView(PMJSONTextView* textView);
    // Colouring has just been applied: formats appended to `textStorage` are laid over it.
    // `withQuotedSubstrings` is null outside JSON. Answers NO when not implemented.
    virtual bool didApplySyntaxHighlightingToTextStorage(std::vector<QTextLayout::FormatRange>& textStorage,
                                                        const std::vector<PMSubstring>* withQuotedSubstrings, PMJSONTextView* forTextView);
};

class PMJSONTextView : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit PMJSONTextView(QWidget* parent = nullptr);
    ~PMJSONTextView() override;

    // ---- class operations ----
    static void registerDefaults();
    static std::optional<QString> stringWithSerializedPropertyList(const platform::Value& propertyList, PMJSONTextViewFormat format);
    static std::optional<QString> stringWithSerializedPropertyList(const platform::Value& propertyList);
    static platform::Value objectValueFromString(const QString& string, PMJSONTextViewFormat* format);
    // "PMJSONTextViewFontSize" clamped: unset, zero or negative 12; at least 8, at most 50.
    static double fontSize();
    static void setClassFontSize(double size);
    static QFont font();
    static QIcon formatMenuItemImageRepresentingJSON(bool json);
    // The gutter width and pill inset for a font size (the gutter shown).
    static void gutterMetricsForFontSize(double fontSize, int* gutterWidth, int* pillInset);
    static int gutterWidth();
    static int pillInset();
    static int ellipsisWidth();

    // ---- text and value ----
    // Replaces the text, not undoably; the folding starts afresh. A text above
    // kMaximumPasteSize is refused with an alert (false), and the view keeps its text.
    bool setString(const QString& text);
    bool setString(const QString& text, bool undoable, const std::optional<QString>& restoreFoldingState, bool notifyDelegate);
    bool setStringBySerializingPropertyList(const platform::Value& propertyList, bool undoable,
                                            const std::optional<QString>& restoreFoldingState);
    QString string() const { return toPlainText(); }
    platform::Value objectValue();
    platform::Value validatedObjectValue();
    PMJSONTextViewFormat detectedFormat() const { return m_detectedFormat; }
    QString error() const { return m_error; }
    bool isParsing() const { return !m_objectValue.has_value() || m_asyncPending; }
    bool presentSyntaxError();
    void removeAllUndoActions();
    void updateGutter(const platform::Notification& notification);
    void didChangeText();
    void didChangeObjectValue();
    void didChangeTextAndObjectValue();
    void destroyObjectValue();
    void destroyObjectValueAndParse();
    // The colouring and structure pass (runs at once; large texts pass after a pause in
    // typing, off the main thread).
    void parse();

    bool lenient() const { return m_lenient; }
    void setLenient(bool lenient) { m_lenient = lenient; }
    bool preserveFoldingStateViaAttribute() const { return m_preserveFoldingStateViaAttribute; }
    void setPreserveFoldingStateViaAttribute(bool on) { m_preserveFoldingStateViaAttribute = on; }
    PMJSONTextViewValidator* validator() const { return m_validator; }
    void setValidator(PMJSONTextViewValidator* validator) { m_validator = validator; }
    bool isPlainText() const { return m_isPlainText; }
    bool emphasizeNonIndentedLines() const { return m_emphasizeNonIndentedLines; }
    const std::vector<PMLineSubstring>& lineSubstrings() const { return m_lineSubstrings; }
    const std::optional<QString>& mostRecentPrefixWithDetectedFormat() const { return m_mostRecentPrefixWithDetectedFormat; }
    double tabWidth() const { return m_tabWidth; }
    // The colour runs of the last pass over [start, start + length) of the text (tests).
    std::vector<QTextLayout::FormatRange> formatsInRange(qsizetype start, qsizetype length) const;
    std::optional<PMRange> errorRange() const { return m_errorRange; }

    // ---- format menu and context menu ----
    QList<QAction*> formatMenuItems(QObject* parent);
    void changeFormatViaMenuItem(QAction* item);
    QMenu* menuForEvent(const QPoint& position);
    // Enables and checks the folding items of a menu made by `menuForEvent`.
    void validateMenuItem(QAction* item);

    // ---- fonts and layout ----
    void setFontSize(double size);
    void setFontName(const std::optional<QString>& name);
    void updateFontAndGutterView(bool withGutterView);
    void updateTextContainerInset();

    // ---- folding ----
    void foldAll();
    void unfoldAll();
    void restoreDefaultFolding();
    void toggleGutter();
    void setShowsGutter(bool showsGutter);
    bool showsGutter() const { return m_showsGutter; }
    std::optional<QString> foldingState() const;
    void cacheFoldingState(const std::optional<QString>& state) { m_cachedFoldingState = state; }
    bool canFold(bool* canFold, bool* canUnfold, bool* canRestoreDefault) const;
    const std::vector<PMWrappedSubstringPtr>& foldableWrappedSubstrings() const { return m_foldableWrappedSubstrings; }
    const std::vector<PMWrappedSubstringPtr>& cursorWrappedSubstringCandidates() const { return m_cursorWrappedSubstringCandidates; }
    PMWrappedSubstring* cursorWrappedSubstring() const { return m_cursorWrappedSubstring; }
    unsigned numberOfHierarchyLevels() const { return m_numberOfHierarchyLevels; }
    // Folds or unfolds one pair (what a click on its pill does), then parses.
    void toggleFoldingOfWrappedSubstring(PMWrappedSubstring* pair);
    PMWrappedSubstring* wrappedSubstringWithEllipsisRectRelevantToEvent(const QPoint& viewportPosition) const;
    PMJSONGutterView* gutterView() const { return m_gutterView; }
    void updateCursorWrapperHighlightWithSelectedRanges();

    // ---- clipboard ----
    std::optional<platform::Value> selectedPropertyList() const;
    // Copies (or cuts) the selection: its text, and the property list it is, when it is one.
    void writeSelectionToPasteboard(bool cut);
    bool readSelectionFromPasteboardPropertyListData(const QByteArray& data, const std::optional<QString>& key);

    // The colours of the text's parts in the light or the dark appearance.
    static QColor tagColorInDarkMode(bool dark);
    QColor keyColorInDarkMode(bool dark) const;
    static QColor valueColorInDarkMode(bool dark);
    static QColor trueBooleanColorInDarkMode(bool dark);
    static QColor falseBooleanColorInDarkMode(bool dark);
    static QColor otherCodeColorInDarkMode(bool dark);
    static QColor invalidCodeColorInDarkMode(bool dark);

    // Geometry of text ranges in viewport coordinates (the gutter draws with them).
    QRectF glyphBoxOfRange(PMRange range) const;

    static const char* const kPasteboardType;         // "com.tolvane.PasteboardType.NSPropertyListXMLFormat_v1_0"
    static const char* const kForeignKeyPasteboardType; // "com.apple.xcode.plist.key"
    static const char* const kUpdateGutterNotification; // "com.tolvane.UpdateGutterNotification"
    // Texts above this size (UTF-16 units) pass after a pause in typing, off the main thread.
    static constexpr qsizetype kDeferredPassSize = 128 * 1024;
    // Texts above this size (UTF-16 units) are not read as property lists, and pastes above
    // it are refused.
    static constexpr qsizetype kMaximumPasteSize = 32 * 1024 * 1024;
    static QString tooLargeError();
    // The alert of a text refused for its size.
    void alertTextTooLarge();

Q_SIGNALS:
    void passFinished();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool canInsertFromMimeData(const QMimeData* source) const override;
    void insertFromMimeData(const QMimeData* source) override;
    QMimeData* createMimeDataFromSelection() const override;
    void dropEvent(QDropEvent* event) override;

private:
    struct PassJob;
    struct PassOutcome;
    void contentsDidChange(int position, int removed, int added);
    void textDidChange();
    void computeObjectValue();
    PMJSONSyntaxInput syntaxInput(const QString& text);
    void runPass(std::optional<PMJSONSyntaxResult> precomputed);
    void startDeferredPass();
    void deferredPassFinished();
    void applyColors(const PMJSONSyntaxResult& result);
    void applyFolding(const PMJSONSyntaxResult& result);
    void applyBlockVisibility();
    void placeGutter();
    void themeDidChange();
    QColor colorForRole(PMJSONColorRole role, bool dark) const;
    void drawEllipses(QPainter& painter);
    void drawPairHighlight(QPainter& painter);
    bool readSelectionFromPasteboard(const QMimeData* source);
    QStringList readablePasteboardTypes(const QMimeData* source) const;

    std::optional<platform::Value> m_objectValue;          // nullopt: not parsed since the last change
    std::optional<platform::Value> m_validatedObjectValue; // nullopt: not asked
    PMJSONTextViewFormat m_detectedFormat = PMJSONTextViewFormatNone;
    QString m_error;
    std::optional<QString> m_mostRecentPrefixWithDetectedFormat;
    bool m_isPlainText = false;
    double m_tabWidth = 28;
    bool m_emphasizeNonIndentedLines = false;
    std::vector<PMLineSubstring> m_lineSubstrings;
    bool m_showsGutter = true;
    PMJSONGutterView* m_gutterView = nullptr;
    std::vector<PMWrappedSubstring*> m_cachedEllipsisWrappedSubstrings;
    std::vector<PMWrappedSubstringPtr> m_cursorWrappedSubstringCandidates;
    PMWrappedSubstring* m_cursorWrappedSubstring = nullptr;
    std::optional<QString> m_cachedFoldingState;
    bool m_lenient = false;
    bool m_preserveFoldingStateViaAttribute = false;
    PMJSONTextViewValidator* m_validator = nullptr;

    std::vector<PMWrappedSubstringPtr> m_foldableWrappedSubstrings;
    std::vector<PMWrappedSubstring*> m_foldedWrappedSubstrings;
    unsigned m_numberOfHierarchyLevels = 1;
    PMJSONFoldMarks m_foldMarks;
    std::optional<PMRange> m_errorRange;
    std::vector<QTextLayout::FormatRange> m_formats; // of the last pass, in text order
    bool m_applying = false;  // our own format and visibility changes are no edits
    bool m_dropping = false;  // a drop takes plain text only
    bool m_asyncPending = false;
    quint64 m_revision = 0;
    QTimer m_deferredPassTimer;
    std::unique_ptr<QFutureWatcher<std::shared_ptr<PassOutcome>>> m_watcher;
    quint64 m_watchedRevision = 0;
    std::uint64_t m_notificationObserver = 0;
};
