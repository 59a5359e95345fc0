#include "ui/plist_editor/PMJSONTextView.h"

#include "foundation/PMLog.h"
#include "platform/Alert.h"
#include "platform/Appearance.h"
#include "platform/PropertyList.h"
#include "platform/UserDefaults.h"
#include "ui/kit/PMAppearance.h"
#include "ui/plist_editor/PMJSONGutterView.h"

#include <QtConcurrent/QtConcurrentRun>
#include <QtCore/QMimeData>
#include <QtGui/QFontDatabase>
#include <QtGui/QKeyEvent>
#include <QtGui/QPainter>
#include <QtGui/QPainterPath>
#include <QtGui/QTextBlock>
#include <QtGui/QTextDocument>
#include <QtGui/QClipboard>
#include <QtWidgets/QApplication>
#include <QtWidgets/QMenu>
#include <QtWidgets/QScrollBar>

#include <array>
#include <cmath>
#include <mutex>

namespace {

const QString kShowsGutter = QStringLiteral("PMJSONTextViewShowsGutter");
const QString kGutterAutoFoldsData = QStringLiteral("PMJSONTextViewGutterAutoFoldsData");
const QString kIndentationPriority = QStringLiteral("PMJSONTextViewIndentationPriority");
const QString kPrefersJSON = QStringLiteral("PMJSONTextViewPrefersJSON");
const QString kPrefersShorthand = QStringLiteral("PMJSONTextViewPrefersShorthand");
const QString kTightLayout = QStringLiteral("PMJSONTextViewTightLayout");
const QString kFontSize = QStringLiteral("PMJSONTextViewFontSize");
const QString kFontName = QStringLiteral("PMJSONTextViewFontName");

platform::UserDefaults& defaults()
{
    return platform::UserDefaults::standard();
}

// Class-wide values: the editor font, the gutter width and pill inset, the fold ellipsis.
struct ClassValues {
    std::optional<QFont> font;
    int gutterWidth = 10;
    int pillInset = 1;
    int ellipsisWidth = 24;
};
ClassValues& classValues()
{
    static ClassValues values;
    return values;
}

constexpr std::uint8_t kEmphasisBit = 0x80;
constexpr std::uint8_t kErrorBit = 0x40;
constexpr std::uint8_t kRoleMask = 0x0F;

bool sameFamily(PMJSONTextViewFormat a, PMJSONTextViewFormat b)
{
    auto family = [](PMJSONTextViewFormat f) { return f == PMJSONTextViewFormatJSON || f == PMJSONTextViewFormatJSONShorthand ? 2 : int(f); };
    return family(a) == family(b);
}

// What the pass needs to know besides the text.
struct PassFacts {
    platform::Value objectValue;
    platform::Value validatedObjectValue;
    PMJSONTextViewFormat detectedFormat = PMJSONTextViewFormatNone;
    QString error;
    bool lenient = false;
    bool showsGutter = true;
    bool autoFoldsData = true;
    int indentationPriority = 3;
    std::optional<QString> prefix;
};

PMJSONSyntaxInput makeSyntaxInput(const QString& text, const PassFacts& facts)
{
    PMJSONSyntaxInput input;
    input.text = text;
    input.format = facts.detectedFormat;
    input.colored = !facts.validatedObjectValue.isNull();
    input.markupMode = input.colored && facts.lenient && facts.objectValue.isNull() && text.contains(QLatin1String("</"));
    input.showsGutter = facts.showsGutter;
    input.autoFoldsData = facts.autoFoldsData;
    input.indentationPriority = facts.indentationPriority;
    input.recordPrefix = facts.detectedFormat != PMJSONTextViewFormatNone && facts.error.isEmpty() && !facts.objectValue.isString();
    input.errorDescription = facts.error;
    input.markErrorPosition = !facts.lenient || (facts.prefix && text.startsWith(*facts.prefix));
    return input;
}

} // namespace

// ---- validator defaults ----

PMJSONTextViewValidator::~PMJSONTextViewValidator() = default;

bool PMJSONTextViewValidator::validateObjectValue(const platform::Value&, PMJSONTextView*, platform::Value*)
{
    return false;
}

void PMJSONTextViewValidator::didChangeObjectValueForTextView(PMJSONTextView*) {}

bool PMJSONTextViewValidator::didApplySyntaxHighlightingToTextStorage(std::vector<QTextLayout::FormatRange>&, const std::vector<PMSubstring>*,
                                                                     PMJSONTextView*)
{
    return false;
}

// ---- the deferred pass ----

struct PMJSONTextView::PassJob {
    QString text;
    quint64 revision = 0;
    PassFacts facts;
};

struct PMJSONTextView::PassOutcome {
    quint64 revision = 0;
    platform::Value objectValue;
    PMJSONTextViewFormat format = PMJSONTextViewFormatNone;
    bool parsed = false;
    QString error;
    PMJSONSyntaxInput input;
    PMJSONSyntaxResult result;
};

const char* const PMJSONTextView::kPasteboardType = "com.tolvane.PasteboardType.NSPropertyListXMLFormat_v1_0";
const char* const PMJSONTextView::kForeignKeyPasteboardType = "com.apple.xcode.plist.key";
const char* const PMJSONTextView::kUpdateGutterNotification = "com.tolvane.UpdateGutterNotification";

// ---- class operations ----

void PMJSONTextView::registerDefaults()
{
    static std::once_flag once;
    std::call_once(once, [] {
        defaults().registerDefaults(platform::Dictionary::make({
            {kShowsGutter, true},
            {kGutterAutoFoldsData, true},
            {kIndentationPriority, 3},
        }));
    });
}

std::optional<QString> PMJSONTextView::stringWithSerializedPropertyList(const platform::Value& propertyList, PMJSONTextViewFormat format)
{
    switch (format) {
    case PMJSONTextViewFormatXML: return PMLSONSerialization::XMLStringWithObject(propertyList, false);
    case PMJSONTextViewFormatXMLShorthand: return PMLSONSerialization::XMLStringWithObject(propertyList, true);
    case PMJSONTextViewFormatJSON: return PMLSONSerialization::JSONStringWithObject(propertyList, false, false);
    case PMJSONTextViewFormatJSONShorthand: return PMLSONSerialization::JSONStringWithObject(propertyList, true, true);
    default: return std::nullopt;
    }
}

std::optional<QString> PMJSONTextView::stringWithSerializedPropertyList(const platform::Value& propertyList)
{
    registerDefaults();
    const bool shorthand = defaults().boolForKey(kPrefersShorthand);
    if (defaults().boolForKey(kPrefersJSON)) {
        if (std::optional<QString> json = PMLSONSerialization::JSONStringWithObject(propertyList, shorthand, shorthand))
            return json;
    }
    return PMLSONSerialization::XMLStringWithObject(propertyList, shorthand);
}

platform::Value PMJSONTextView::objectValueFromString(const QString& string, PMJSONTextViewFormat* format)
{
    return PMLSONSerialization::objectWithString(string, format, nullptr);
}

double PMJSONTextView::fontSize()
{
    const double size = defaults().doubleForKey(kFontSize);
    if (!(size > 0))
        return 12;
    return std::clamp(size, 8.0, 50.0);
}

void PMJSONTextView::setClassFontSize(double size)
{
    defaults().setDouble(size, kFontSize);
    classValues().font.reset();
}

QFont PMJSONTextView::font()
{
    ClassValues& values = classValues();
    if (!values.font) {
        const double size = fontSize();
        const QString name = defaults().stringForKey(kFontName);
        QFont f;
        if (!name.isEmpty() && QFontDatabase::hasFamily(name))
            f = QFont(name);
        else
            f = QFontDatabase::systemFont(QFontDatabase::FixedFont);
        f.setPointSizeF(size);
        values.font = f;
    }
    return *values.font;
}

QIcon PMJSONTextView::formatMenuItemImageRepresentingJSON(bool json)
{
    // "{ }" for JSON; "<", a four-per-em space, "/", a four-per-em space and ">" for XML.
    const QString text = json ? QStringLiteral("{ }") : QStringLiteral("<\u2005/\u2005>");
    QFont f;
    f.setPointSizeF(11);
    f.setWeight(QFont::Medium);
    const QFontMetricsF metrics(f);
    QSizeF size(metrics.horizontalAdvance(text), metrics.height());
    const double width = json ? size.width() : std::round(0.7 * size.width());
    QImage image(QSize(int(std::ceil(width)) * 2, int(std::ceil(size.height())) * 2), QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(2);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setFont(f);
    painter.setPen(Qt::black);
    painter.drawText(QRectF(0, 0, width, size.height()), Qt::AlignCenter, text);
    painter.end();
    QIcon icon(QPixmap::fromImage(image));
    icon.setIsMask(true); // a template image, tinted like the menu's text
    return icon;
}

void PMJSONTextView::gutterMetricsForFontSize(double size, int* gutterWidth, int* pillInset)
{
    int g = std::max(10, int(std::lround(0.8 * size)));
    int i = int(std::lround(0.1 * g));
    if (i >= 1)
        g += 2 * i - 2;
    else
        i = 1;
    *gutterWidth = g;
    *pillInset = i;
}

int PMJSONTextView::gutterWidth()
{
    return classValues().gutterWidth;
}

int PMJSONTextView::pillInset()
{
    return classValues().pillInset;
}

int PMJSONTextView::ellipsisWidth()
{
    return classValues().ellipsisWidth;
}

// ---- life ----

PMJSONTextView::PMJSONTextView(QWidget* parent) : QPlainTextEdit(parent)
{
    registerDefaults();
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    viewport()->setMouseTracking(true);
    m_deferredPassTimer.setSingleShot(true);
    m_deferredPassTimer.setInterval(150);
    connect(&m_deferredPassTimer, &QTimer::timeout, this, &PMJSONTextView::startDeferredPass);
    connect(document(), &QTextDocument::contentsChange, this, &PMJSONTextView::contentsDidChange);
    connect(this, &QPlainTextEdit::textChanged, this, &PMJSONTextView::textDidChange);
    connect(this, &QPlainTextEdit::cursorPositionChanged, this, &PMJSONTextView::updateCursorWrapperHighlightWithSelectedRanges);
    connect(this, &QPlainTextEdit::selectionChanged, this, &PMJSONTextView::updateCursorWrapperHighlightWithSelectedRanges);
    connect(this, &QPlainTextEdit::updateRequest, this, [this](const QRect&, int) {
        if (m_gutterView)
            m_gutterView->update();
    });
    connect(&platform::AppearanceSource::shared(), &platform::AppearanceSource::appearanceChanged, this, &PMJSONTextView::themeDidChange);
    m_notificationObserver = platform::NotificationCenter::defaultCenter().addObserver(
        this, QString::fromLatin1(kUpdateGutterNotification), nullptr, [this](const platform::Notification& note) { updateGutter(note); });
    updateTextContainerInset();
    updateFontAndGutterView(false);
}

void PMJSONTextView::updateGutter(const platform::Notification& notification)
{
    // Another editor turned its gutter on or off: follow the setting it stored.
    if (notification.object == this)
        return;
    const bool shows = defaults().boolForKey(kShowsGutter);
    QMetaObject::invokeMethod(this, [this, shows] { setShowsGutter(shows); }, Qt::QueuedConnection);
}

void PMJSONTextView::removeAllUndoActions()
{
    document()->clearUndoRedoStacks();
}

PMJSONTextView::~PMJSONTextView()
{
    platform::NotificationCenter::defaultCenter().removeObserver(this);
    if (m_watcher)
        m_watcher->waitForFinished();
}

// ---- text and value ----

void PMJSONTextView::alertTextTooLarge()
{
    platform::Alert alert;
    alert.messageText = tr("The text is too large to paste.");
    alert.informativeText = tr("The editor takes at most %1 MB at once.").arg(kMaximumPasteSize / (1024 * 1024));
    alert.window = window();
    platform::runAlert(alert);
}

bool PMJSONTextView::setString(const QString& text)
{
    // Laying out a text of tens of megabytes holds the window for most of a minute and
    // takes gigabytes: such a text is refused as a paste of it would be, and the view
    // keeps what it shows.
    if (text.size() > kMaximumPasteSize) {
        PMLog("refusing a text of %lu characters in the property-list editor", (unsigned long)text.size());
        alertTextTooLarge();
        return false;
    }
    m_preserveFoldingStateViaAttribute = false;
    m_applying = true;
    setPlainText(text);
    m_applying = false;
    removeAllUndoActions();
    destroyObjectValueAndParse();
    return true;
}

bool PMJSONTextView::setString(const QString& text, bool undoable, const std::optional<QString>& restoreFoldingState, bool notifyDelegate)
{
    if (text == toPlainText())
        return true;
    if (!undoable) {
        m_cachedFoldingState = restoreFoldingState;
        return setString(text);
    }
    if (text.size() > kMaximumPasteSize) {
        alertTextTooLarge();
        return false;
    }
    m_cachedFoldingState = restoreFoldingState;
    m_preserveFoldingStateViaAttribute = false;
    QTextCursor cursor(document());
    cursor.beginEditBlock();
    cursor.select(QTextCursor::Document);
    m_applying = true;
    cursor.insertText(text);
    m_applying = false;
    cursor.endEditBlock();
    QTextCursor end(document());
    end.movePosition(QTextCursor::End);
    setTextCursor(end);
    if (notifyDelegate)
        didChangeTextAndObjectValue();
    else
        destroyObjectValueAndParse();
    return true;
}

bool PMJSONTextView::setStringBySerializingPropertyList(const platform::Value& propertyList, bool undoable,
                                                        const std::optional<QString>& restoreFoldingState)
{
    const std::optional<QString> text = stringWithSerializedPropertyList(propertyList);
    if (!text)
        return false;
    return setString(*text, undoable, restoreFoldingState, false);
}

QString PMJSONTextView::tooLargeError()
{
    return tr("The text is too large to read as a property list (at most %1 MB).").arg(kMaximumPasteSize / (1024 * 1024));
}

namespace {

platform::Value readText(const QString& text, PMJSONTextViewFormat* format, QString* error)
{
    if (text.size() > PMJSONTextView::kMaximumPasteSize) {
        *error = PMJSONTextView::tooLargeError();
        return platform::Value();
    }
    return PMLSONSerialization::objectWithString(text, format, error);
}

} // namespace

void PMJSONTextView::computeObjectValue()
{
    m_error.clear();
    PMJSONTextViewFormat format = PMJSONTextViewFormatNone;
    QString error;
    platform::Value value = readText(toPlainText(), &format, &error);
    if (!value.isNull())
        m_detectedFormat = format;
    else
        m_error = error;
    m_objectValue = value;
}

platform::Value PMJSONTextView::objectValue()
{
    if (!m_objectValue)
        computeObjectValue();
    return *m_objectValue;
}

platform::Value PMJSONTextView::validatedObjectValue()
{
    if (!m_validatedObjectValue) {
        const platform::Value value = objectValue();
        platform::Value validated = value;
        if (m_validator) {
            platform::Value answer;
            if (m_validator->validateObjectValue(value, this, &answer))
                validated = answer;
        }
        m_validatedObjectValue = validated;
    }
    return *m_validatedObjectValue;
}

bool PMJSONTextView::presentSyntaxError()
{
    if (m_error.isEmpty())
        return false;
    platform::Alert alert;
    alert.messageText = m_error;
    alert.style = platform::AlertStyle::Warning;
    alert.window = window();
    platform::runAlert(alert);
    return true;
}

void PMJSONTextView::destroyObjectValue()
{
    m_objectValue.reset();
    m_validatedObjectValue.reset();
}

void PMJSONTextView::destroyObjectValueAndParse()
{
    destroyObjectValue();
    m_asyncPending = false;
    m_deferredPassTimer.stop();
    ++m_revision;
    parse();
    updateFontAndGutterView(false);
}

void PMJSONTextView::didChangeText()
{
    destroyObjectValue();
    didChangeObjectValue();
}

void PMJSONTextView::didChangeObjectValue()
{
    destroyObjectValue();
    ++m_revision;
    if (document()->characterCount() > kDeferredPassSize) {
        // A large text passes after a pause in typing, off the main thread.
        m_asyncPending = true;
        m_deferredPassTimer.start();
    } else {
        m_asyncPending = false;
        parse();
    }
    if (m_validator)
        m_validator->didChangeObjectValueForTextView(this);
}

void PMJSONTextView::didChangeTextAndObjectValue()
{
    didChangeText();
}

void PMJSONTextView::textDidChange()
{
    if (m_applying)
        return;
    didChangeText();
}

void PMJSONTextView::contentsDidChange(int position, int removed, int added)
{
    if (m_applying && removed == added)
        return; // our own re-layout requests
    m_foldMarks.textChanged(position, removed, added);
}

void PMJSONTextView::parse()
{
    m_asyncPending = false;
    runPass(std::nullopt);
}

void PMJSONTextView::startDeferredPass()
{
    if (m_watcher && m_watcher->isRunning())
        return; // its result is stale when it arrives, and it starts the next one
    auto job = std::make_shared<PassJob>();
    job->text = toPlainText();
    job->revision = m_revision;
    job->facts.lenient = m_lenient;
    job->facts.showsGutter = m_showsGutter;
    job->facts.autoFoldsData = defaults().boolForKey(kGutterAutoFoldsData);
    job->facts.indentationPriority = int(defaults().integerForKey(kIndentationPriority));
    job->facts.prefix = m_mostRecentPrefixWithDetectedFormat;
    job->facts.detectedFormat = m_detectedFormat;
    m_watcher = std::make_unique<QFutureWatcher<std::shared_ptr<PassOutcome>>>();
    connect(m_watcher.get(), &QFutureWatcher<std::shared_ptr<PassOutcome>>::finished, this, &PMJSONTextView::deferredPassFinished);
    m_watcher->setFuture(QtConcurrent::run([job]() {
        auto outcome = std::make_shared<PassOutcome>();
        outcome->revision = job->revision;
        PMJSONTextViewFormat format = PMJSONTextViewFormatNone;
        outcome->objectValue = readText(job->text, &format, &outcome->error);
        outcome->parsed = !outcome->objectValue.isNull();
        outcome->format = outcome->parsed ? format : job->facts.detectedFormat;
        PassFacts facts = job->facts;
        facts.objectValue = outcome->objectValue;
        facts.validatedObjectValue = outcome->objectValue; // as if the validator agrees
        facts.error = outcome->error;
        facts.detectedFormat = (!facts.error.isEmpty() && facts.lenient) ? PMJSONTextViewFormatNone : outcome->format;
        outcome->input = makeSyntaxInput(job->text, facts);
        outcome->result = PMJSONComputeSyntax(outcome->input);
        return outcome;
    }));
}

void PMJSONTextView::deferredPassFinished()
{
    const std::shared_ptr<PassOutcome> outcome = m_watcher->result();
    if (outcome->revision != m_revision) {
        if (m_asyncPending && !m_deferredPassTimer.isActive())
            startDeferredPass();
        return;
    }
    m_asyncPending = false;
    m_objectValue = outcome->objectValue;
    m_validatedObjectValue.reset();
    m_error = outcome->error;
    if (outcome->parsed)
        m_detectedFormat = outcome->format;
    runPass(outcome->result);
}

PMJSONSyntaxInput PMJSONTextView::syntaxInput(const QString& text)
{
    PassFacts facts;
    facts.objectValue = objectValue();
    facts.validatedObjectValue = validatedObjectValue();
    facts.error = m_error;
    facts.lenient = m_lenient;
    facts.showsGutter = m_showsGutter;
    facts.autoFoldsData = defaults().boolForKey(kGutterAutoFoldsData);
    facts.indentationPriority = int(defaults().integerForKey(kIndentationPriority));
    facts.prefix = m_mostRecentPrefixWithDetectedFormat;
    facts.detectedFormat = m_detectedFormat;
    return makeSyntaxInput(text, facts);
}

void PMJSONTextView::runPass(std::optional<PMJSONSyntaxResult> precomputed)
{
    validatedObjectValue();
    if (!m_error.isEmpty() && m_lenient)
        m_detectedFormat = PMJSONTextViewFormatNone;
    const QString text = toPlainText();
    const PMJSONSyntaxInput input = syntaxInput(text);
    if (precomputed && m_watcher) {
        // The deferred pass assumed that the validator takes the value as it is.
        const PMJSONSyntaxInput& assumed = m_watcher->result()->input;
        if (assumed.colored != input.colored || assumed.markupMode != input.markupMode || assumed.format != input.format
            || assumed.recordPrefix != input.recordPrefix || assumed.markErrorPosition != input.markErrorPosition)
            precomputed.reset();
    }
    PMJSONSyntaxResult result = precomputed ? std::move(*precomputed) : PMJSONComputeSyntax(input);

    m_isPlainText = result.isPlainText;
    m_emphasizeNonIndentedLines = result.emphasizeNonIndentedLines;
    m_lineSubstrings = std::move(result.lineSubstrings);
    if (result.prefix)
        m_mostRecentPrefixWithDetectedFormat = result.prefix;
    m_cursorWrappedSubstring = nullptr;
    m_cursorWrappedSubstringCandidates = result.allWrappedSubstrings;
    m_errorRange = result.errorRange;
    applyColors(result);
    applyFolding(result);
    Q_EMIT passFinished();
}

QColor PMJSONTextView::tagColorInDarkMode(bool dark)
{
    return dark ? QColor::fromRgbF(0.7f, 0.5f, 0.9f) : QColor::fromRgbF(0.5f, 0.3f, 0.7f);
}

QColor PMJSONTextView::keyColorInDarkMode(bool) const
{
    return QApplication::palette(this).color(QPalette::Text); // the control text colour
}

QColor PMJSONTextView::valueColorInDarkMode(bool dark)
{
    return dark ? QColor::fromRgbF(0.2f, 0.5f, 1.0f) : QColor::fromRgbF(0.0f, 0.4f, 0.8f);
}

QColor PMJSONTextView::trueBooleanColorInDarkMode(bool dark)
{
    return dark ? QColor::fromRgbF(0.3f, 0.8f, 0.3f) : QColor::fromRgbF(0.0f, 0.55f, 0.0f);
}

QColor PMJSONTextView::falseBooleanColorInDarkMode(bool dark)
{
    return dark ? QColor::fromRgbF(1.0f, 0.3f, 0.3f) : QColor::fromRgbF(0.8f, 0.0f, 0.0f);
}

QColor PMJSONTextView::otherCodeColorInDarkMode(bool dark)
{
    return dark ? QColor::fromRgbF(1, 1, 1, 0.5f) : QColor::fromRgbF(0, 0, 0, 0.5f);
}

QColor PMJSONTextView::invalidCodeColorInDarkMode(bool dark)
{
    return otherCodeColorInDarkMode(dark);
}

QColor PMJSONTextView::colorForRole(PMJSONColorRole role, bool dark) const
{
    switch (role) {
    case PMJSONColorRole::Tag: return tagColorInDarkMode(dark);
    case PMJSONColorRole::Key: return keyColorInDarkMode(dark);
    case PMJSONColorRole::Value: return valueColorInDarkMode(dark);
    case PMJSONColorRole::True: return trueBooleanColorInDarkMode(dark);
    case PMJSONColorRole::False: return falseBooleanColorInDarkMode(dark);
    case PMJSONColorRole::OtherCode: return otherCodeColorInDarkMode(dark);
    case PMJSONColorRole::Invalid: return invalidCodeColorInDarkMode(dark);
    }
    return keyColorInDarkMode(dark);
}

void PMJSONTextView::applyColors(const PMJSONSyntaxResult& result)
{
    const qsizetype n = document()->characterCount(); // the text and one final separator
    const bool dark = isInFullyInvertedDarkMode(this);
    std::vector<std::uint8_t> roles(size_t(std::max<qsizetype>(n, 1)), std::uint8_t(result.baseRole));
    for (const PMJSONColorSpan& span : result.spans) {
        const qsizetype start = std::clamp<qsizetype>(span.start, 0, n);
        const qsizetype end = std::clamp<qsizetype>(span.start + span.length, 0, n);
        for (qsizetype k = start; k < end; ++k)
            roles[size_t(k)] = (roles[size_t(k)] & ~kRoleMask) | std::uint8_t(span.role);
    }
    for (const PMRange& line : result.emphasizedLines) {
        const qsizetype end = std::min(line.end(), n);
        for (qsizetype k = std::max<qsizetype>(line.location, 0); k < end; ++k)
            roles[size_t(k)] |= kEmphasisBit;
    }
    if (result.errorRange) {
        const qsizetype end = std::min(result.errorRange->end(), n);
        for (qsizetype k = result.errorRange->location; k < end; ++k)
            roles[size_t(k)] |= kErrorBit;
    }
    std::array<std::optional<QTextCharFormat>, 256> formats;
    auto formatFor = [&](std::uint8_t code) -> const QTextCharFormat& {
        std::optional<QTextCharFormat>& f = formats[code];
        if (!f) {
            f.emplace();
            f->setForeground(colorForRole(PMJSONColorRole(code & kRoleMask), dark));
            if (code & kErrorBit)
                f->setBackground(dark ? QColor::fromRgbF(0.29f, 0.26f, 0.18f, 0.8f) : QColor::fromRgbF(1.0f, 0.95f, 0.8f, 0.8f));
            if (code & kEmphasisBit) {
                QFont emphasized = font();
                emphasized.setPointSizeF(fontSize() + 2);
                f->setFont(emphasized);
            }
        }
        return *f;
    };

    // The owner may lay formats of its own over the colours.
    std::vector<QTextLayout::FormatRange> extra;
    if (m_validator) {
        const std::vector<PMSubstring>* quoted = result.reportsQuotedSubstrings ? &result.quotedSubstrings : nullptr;
        if (!m_validator->didApplySyntaxHighlightingToTextStorage(extra, quoted, this))
            extra.clear();
        std::stable_sort(extra.begin(), extra.end(), [](const auto& a, const auto& b) { return a.start < b.start; });
    }

    // The base colour is the text colour: only the other runs need formats.
    m_applying = true;
    const QColor baseColor = colorForRole(result.baseRole, dark);
    if (palette().color(QPalette::Text) != baseColor) {
        QPalette textPalette = palette();
        textPalette.setColor(QPalette::Text, baseColor);
        setPalette(textPalette);
    }
    const std::uint8_t baseCode = std::uint8_t(result.baseRole);
    size_t nextExtra = 0;
    qsizetype start = 0;
    for (QTextBlock block = document()->begin(); block.isValid(); block = block.next()) {
        const qsizetype blockLength = block.length();
        const qsizetype length = std::max<qsizetype>(0, blockLength - 1);
        QList<QTextLayout::FormatRange> ranges;
        qsizetype k = 0;
        while (k < length) {
            const std::uint8_t code = roles[size_t(start + k)];
            qsizetype e = k + 1;
            while (e < length && roles[size_t(start + e)] == code)
                ++e;
            if (code == baseCode) {
                k = e;
                continue;
            }
            QTextLayout::FormatRange range;
            range.start = int(k);
            range.length = int(e - k);
            range.format = formatFor(code);
            ranges.append(range);
            k = e;
        }
        while (nextExtra < extra.size() && extra[nextExtra].start < start + length) {
            QTextLayout::FormatRange range = extra[nextExtra++];
            const qsizetype from = std::max<qsizetype>(range.start, start);
            const qsizetype to = std::min<qsizetype>(range.start + range.length, start + length);
            if (to > from) {
                range.start = int(from - start);
                range.length = int(to - from);
                ranges.append(range);
            }
        }
        block.layout()->setFormats(ranges);
        start += blockLength;
    }
    document()->markContentsDirty(0, document()->characterCount());
    m_applying = false;
    viewport()->update();
}

std::vector<QTextLayout::FormatRange> PMJSONTextView::formatsInRange(qsizetype start, qsizetype length) const
{
    std::vector<QTextLayout::FormatRange> found;
    for (QTextBlock block = document()->findBlock(int(start)); block.isValid() && block.position() < start + length; block = block.next()) {
        for (QTextLayout::FormatRange range : block.layout()->formats()) {
            range.start += block.position();
            if (range.start + range.length > start && range.start < start + length)
                found.push_back(range);
        }
    }
    return found;
}

void PMJSONTextView::applyFolding(const PMJSONSyntaxResult& result)
{
    PMRange highlightedRange;
    if (m_gutterView && m_gutterView->highlightedPillLayer())
        highlightedRange = m_gutterView->highlightedPillLayer()->wrappingRange;
    m_foldableWrappedSubstrings = result.foldableWrappedSubstrings;
    m_numberOfHierarchyLevels = result.numberOfHierarchyLevels;
    m_cachedEllipsisWrappedSubstrings.clear();
    if (m_foldableWrappedSubstrings.empty()) {
        m_foldMarks.removeAll();
        m_foldedWrappedSubstrings.clear();
        delete m_gutterView;
        m_gutterView = nullptr;
    } else {
        PMJSONFoldingOptions options;
        options.cachedFoldingState = m_cachedFoldingState;
        options.preserveFoldingStateViaAttribute = m_preserveFoldingStateViaAttribute;
        m_foldedWrappedSubstrings = PMJSONApplyFolding(m_foldableWrappedSubstrings, m_foldMarks, options);
        if (!m_foldedWrappedSubstrings.empty())
            classValues().ellipsisWidth = int(std::lround(2 * fontSize()));
        if (!m_gutterView) {
            m_gutterView = new PMJSONGutterView(this);
            m_gutterView->show();
        }
        m_gutterView->foldableWrappedSubstrings.clear();
        PMWrappedSubstring* highlighted = nullptr;
        for (const PMWrappedSubstringPtr& pair : m_foldableWrappedSubstrings) {
            m_gutterView->foldableWrappedSubstrings.push_back(pair.get());
            if (highlightedRange.found() && pair->wrappingRange == highlightedRange)
                highlighted = pair.get();
        }
        m_gutterView->foldedWrappedSubstrings = m_foldedWrappedSubstrings;
        m_gutterView->numberOfHierarchyLevels = m_numberOfHierarchyLevels;
        m_gutterView->setHighlightedPillLayer(highlighted);
        placeGutter();
        m_gutterView->updateLayer();
    }
    m_cachedFoldingState.reset();
    m_preserveFoldingStateViaAttribute = true;
    applyBlockVisibility();
    updateCursorWrapperHighlightWithSelectedRanges();
    viewport()->update();
}

void PMJSONTextView::applyBlockVisibility()
{
    QTextDocument* doc = document();
    const int blocks = doc->blockCount();
    // +1 where a hidden stretch begins, -1 after it ends.
    std::vector<int> delta(size_t(blocks) + 1, 0);
    for (const PMWrappedSubstring* pair : m_foldedWrappedSubstrings) {
        const int first = doc->findBlock(int(pair->wrappingRange.location)).blockNumber() + 1;
        const int last = doc->findBlock(int(pair->range.end())).blockNumber() - 1;
        if (first <= last && first >= 0) {
            delta[size_t(first)] += 1;
            delta[size_t(last) + 1] -= 1;
        }
    }
    int hiddenDepth = 0;
    int changedFrom = -1, changedTo = -1;
    int number = 0;
    for (QTextBlock block = doc->begin(); block.isValid(); block = block.next(), ++number) {
        hiddenDepth += delta[size_t(number)];
        const bool visible = hiddenDepth == 0;
        if (block.isVisible() != visible) {
            block.setVisible(visible);
            if (changedFrom < 0)
                changedFrom = block.position();
            changedTo = block.position() + block.length();
        }
    }
    if (changedFrom >= 0) {
        m_applying = true;
        doc->markContentsDirty(changedFrom, changedTo - changedFrom);
        m_applying = false;
        // The insertion point never stays in a hidden line.
        QTextCursor cursor = textCursor();
        if (!cursor.block().isVisible()) {
            QTextBlock block = cursor.block();
            while (block.isValid() && !block.isVisible())
                block = block.previous();
            if (block.isValid()) {
                cursor.setPosition(block.position() + block.length() - 1);
                setTextCursor(cursor);
            }
        }
        viewport()->update();
    }
}

void PMJSONTextView::themeDidChange()
{
    QMetaObject::invokeMethod(this, [this] { parse(); }, Qt::QueuedConnection);
}

void PMJSONTextView::changeEvent(QEvent* event)
{
    QPlainTextEdit::changeEvent(event);
    if (event->type() == QEvent::PaletteChange && !m_applying)
        themeDidChange();
}

// ---- fonts and layout ----

void PMJSONTextView::setFontSize(double size)
{
    setClassFontSize(size);
    updateTextContainerInset(); // the gutter's size follows the font even before it shows
    updateFontAndGutterView(m_gutterView != nullptr);
}

void PMJSONTextView::setFontName(const std::optional<QString>& name)
{
    const QString stored = defaults().hasPersistentValueForKey(kFontName) ? defaults().stringForKey(kFontName) : QStringLiteral("\n(none)");
    const QString given = name ? *name : QStringLiteral("\n(none)");
    if (stored != given) {
        if (name)
            defaults().setObject(platform::Value(*name), kFontName);
        else
            defaults().removeObjectForKey(kFontName);
    }
    classValues().font.reset();
    updateTextContainerInset();
    updateFontAndGutterView(m_gutterView != nullptr);
}

void PMJSONTextView::updateFontAndGutterView(bool withGutterView)
{
    const QFont f = font();
    m_applying = true;
    QPlainTextEdit::setFont(f);
    document()->setDefaultFont(f);
    m_applying = false;
    m_tabWidth = 4 * QFontMetricsF(f).horizontalAdvance(QLatin1Char(' '));
    setTabStopDistance(m_tabWidth);
    if (withGutterView) {
        updateTextContainerInset();
        parse();
    }
}

void PMJSONTextView::updateTextContainerInset()
{
    double horizontal = 2;
    m_showsGutter = defaults().boolForKey(kShowsGutter);
    if (m_showsGutter) {
        int g = 10, i = 1;
        gutterMetricsForFontSize(fontSize(), &g, &i);
        classValues().gutterWidth = g;
        classValues().pillInset = i;
        horizontal += std::round(0.5 * g);
    }
    document()->setDocumentMargin(horizontal);
    setViewportMargins(m_showsGutter ? gutterWidth() + 1 : 0, 0, 0, 0);
    placeGutter();
}

void PMJSONTextView::placeGutter()
{
    if (!m_gutterView)
        return;
    const QRect area = contentsRect();
    m_gutterView->setGeometry(area.left(), area.top(), gutterWidth() + 1, area.height());
    m_gutterView->setVisible(m_showsGutter);
}

void PMJSONTextView::resizeEvent(QResizeEvent* event)
{
    QPlainTextEdit::resizeEvent(event);
    placeGutter();
}

// ---- folding ----

void PMJSONTextView::foldAll()
{
    for (const PMWrappedSubstringPtr& pair : m_foldableWrappedSubstrings)
        m_foldMarks.addFolded(*pair);
    parse();
}

void PMJSONTextView::unfoldAll()
{
    m_foldMarks.removeAll();
    parse();
}

void PMJSONTextView::restoreDefaultFolding()
{
    m_preserveFoldingStateViaAttribute = false;
    parse();
}

void PMJSONTextView::toggleGutter()
{
    setShowsGutter(!m_showsGutter);
}

void PMJSONTextView::setShowsGutter(bool showsGutter)
{
    if (showsGutter == m_showsGutter)
        return;
    defaults().setBool(showsGutter, kShowsGutter);
    updateTextContainerInset();
    parse();
    platform::NotificationCenter::defaultCenter().postNotificationName(QString::fromLatin1(kUpdateGutterNotification), this);
}

std::optional<QString> PMJSONTextView::foldingState() const
{
    return PMJSONFoldingState(m_foldableWrappedSubstrings);
}

bool PMJSONTextView::canFold(bool* canFoldOut, bool* canUnfold, bool* canRestoreDefault) const
{
    if (isParsing() || !m_gutterView || m_foldableWrappedSubstrings.empty())
        return false;
    const PMJSONFoldingAbilities abilities = PMJSONFoldingAbilitiesOf(m_foldableWrappedSubstrings);
    if (canFoldOut)
        *canFoldOut = abilities.canFold;
    if (canUnfold)
        *canUnfold = abilities.canUnfold;
    if (canRestoreDefault)
        *canRestoreDefault = abilities.canRestoreDefault;
    return true;
}

void PMJSONTextView::toggleFoldingOfWrappedSubstring(PMWrappedSubstring* pair)
{
    if (!pair)
        return;
    if (isParsing()) {
        PMLog("busy parsing");
        return;
    }
    if (pair->folded)
        m_foldMarks.removeFolded(pair->wrappingRange);
    else
        m_foldMarks.addFolded(*pair);
    parse();
}

PMWrappedSubstring* PMJSONTextView::wrappedSubstringWithEllipsisRectRelevantToEvent(const QPoint& position) const
{
    if (isParsing())
        return nullptr;
    for (PMWrappedSubstring* pair : m_cachedEllipsisWrappedSubstrings) {
        if (!pair->foldedEllipsisRect.isEmpty() && pair->foldedEllipsisRect.contains(position))
            return pair;
    }
    return nullptr;
}

void PMJSONTextView::updateCursorWrapperHighlightWithSelectedRanges()
{
    PMWrappedSubstring* found = nullptr;
    const QTextCursor cursor = textCursor();
    if (!isParsing() && !cursor.hasSelection() && cursor.position() > 0) {
        const qsizetype before = cursor.position() - 1;
        for (const PMWrappedSubstringPtr& pair : m_cursorWrappedSubstringCandidates) {
            const PMRange opening = pair->openingWrapperRange();
            const PMRange closing = pair->closingWrapperRange();
            if ((before >= opening.location && before < opening.end()) || (before >= closing.location && before < closing.end())) {
                found = pair.get();
                break;
            }
        }
    }
    if (found != m_cursorWrappedSubstring) {
        m_cursorWrappedSubstring = found;
        viewport()->update();
    }
}

// ---- geometry and drawing ----

QRectF PMJSONTextView::glyphBoxOfRange(PMRange range) const
{
    QTextDocument* doc = document();
    const QTextBlock first = doc->findBlock(int(range.location));
    QTextBlock last = doc->findBlock(int(std::max(range.location, range.end() - 1)));
    if (!first.isValid() || !first.isVisible() || !last.isValid())
        return QRectF();
    while (last.isValid() && !last.isVisible())
        last = last.previous();
    const QRectF firstRect = blockBoundingGeometry(first).translated(contentOffset());
    const QRectF lastRect = blockBoundingGeometry(last).translated(contentOffset());
    QTextLayout* firstLayout = first.layout();
    QTextLayout* lastLayout = last.layout();
    if (!firstLayout || !lastLayout || firstLayout->lineCount() == 0 || lastLayout->lineCount() == 0)
        return QRectF();
    const int startInBlock = int(range.location - first.position());
    const QTextLine startLine = firstLayout->lineForTextPosition(startInBlock);
    const int endInBlock = int(std::min<qsizetype>(range.end() - last.position(), last.length() - 1));
    QTextLine endLine = lastLayout->lineForTextPosition(std::max(0, endInBlock));
    if (!endLine.isValid())
        endLine = lastLayout->lineAt(lastLayout->lineCount() - 1);
    if (!startLine.isValid())
        return QRectF();
    const double top = firstRect.top() + startLine.y();
    const double bottom = lastRect.top() + endLine.y() + endLine.height();
    double left, right;
    if (first == last && startLine.lineNumber() == endLine.lineNumber()) {
        left = firstRect.left() + startLine.cursorToX(startInBlock);
        right = firstRect.left() + startLine.cursorToX(endInBlock);
    } else {
        left = firstRect.left() + startLine.x();
        right = left + std::max(startLine.naturalTextWidth(), endLine.naturalTextWidth());
    }
    return QRectF(QPointF(std::min(left, right), top), QPointF(std::max(left, right), bottom));
}

void PMJSONTextView::paintEvent(QPaintEvent* event)
{
    QPlainTextEdit::paintEvent(event);
    QPainter painter(viewport());
    painter.setRenderHint(QPainter::Antialiasing);
    drawPairHighlight(painter);
    drawEllipses(painter);
}

void PMJSONTextView::drawEllipses(QPainter& painter)
{
    if (isParsing())
        return;
    m_cachedEllipsisWrappedSubstrings.clear();
    const double e = ellipsisWidth();
    const double h = std::round(0.4 * e + 2);
    const bool dark = isInFullyInvertedDarkMode(this);
    const bool contrast = PMShouldIncreaseContrast();
    const double pillAlpha = contrast ? 1.0 : (dark ? 0.6 : 0.4);
    const QColor pill = dark ? QColor::fromRgbF(1, 1, 1, float(pillAlpha)) : QColor::fromRgbF(0, 0, 0, float(pillAlpha));
    const QColor dots = dark ? Qt::black : Qt::white;
    const PMWrappedSubstring* highlighted = m_gutterView ? m_gutterView->highlightedPillLayer() : nullptr;
    const int height = viewport()->height();
    for (PMWrappedSubstring* pair : m_foldedWrappedSubstrings) {
        pair->foldedEllipsisRect = QRectF();
        const QTextBlock block = document()->findBlock(int(pair->wrappingRange.location));
        if (!block.isValid() || !block.isVisible() || !block.layout() || block.layout()->lineCount() == 0)
            continue;
        const QRectF geometry = blockBoundingGeometry(block).translated(contentOffset());
        if (geometry.bottom() < 0 || geometry.top() > height)
            continue;
        const QTextLine line = block.layout()->lineAt(block.layout()->lineCount() - 1);
        const double x = geometry.left() + line.x() + line.naturalTextWidth() + 0.5 * m_tabWidth / 4;
        const double y = geometry.top() + line.y() + std::round(0.4 * (line.height() - h));
        pair->foldedEllipsisRect = QRectF(x, y, e, h);
        m_cachedEllipsisWrappedSubstrings.push_back(pair);
        const QRectF capsule = pair->foldedEllipsisRect.adjusted(1, 1, -1, -1);
        painter.setPen(Qt::NoPen);
        painter.setBrush(pair == highlighted ? backwardsCompatibleControlAccentColor() : pill);
        painter.drawRoundedRect(capsule, capsule.height() / 2, capsule.height() / 2);
        const double inset = std::round(0.3 * capsule.height());
        const QRectF inner = capsule.adjusted(inset, inset, -inset, -inset);
        const double d = inner.height();
        painter.setBrush(dots);
        for (const double cx : {inner.left() + d / 2, inner.center().x(), inner.right() - d / 2})
            painter.drawEllipse(QPointF(cx, inner.center().y()), d / 2, d / 2);
    }
}

void PMJSONTextView::drawPairHighlight(QPainter& painter)
{
    if (isParsing())
        return;
    const bool dark = isInFullyInvertedDarkMode(this);
    PMWrappedSubstring* pair = nullptr;
    QColor color;
    PMWrappedSubstring* gutterPair = m_gutterView ? m_gutterView->highlightedPillLayer() : nullptr;
    if (gutterPair && !gutterPair->folded) {
        pair = gutterPair;
        color = palette().color(QPalette::Highlight);
        color.setAlphaF(0.35f);
    } else if (m_cursorWrappedSubstring && !m_cursorWrappedSubstring->implicitlyHidden) {
        pair = m_cursorWrappedSubstring;
        const double alpha = dark ? 0.2 : (pair->openingWrapperRange().length == 1 ? 0.08 : 0.05);
        color = dark ? QColor::fromRgbF(1, 1, 1, float(alpha)) : QColor::fromRgbF(0, 0, 0, float(alpha));
    }
    if (!pair)
        return;
    const QRectF opening = glyphBoxOfRange(pair->openingWrapperRange());
    const QRectF closing = glyphBoxOfRange(pair->closingWrapperRange());
    if (opening.isEmpty() || closing.isEmpty())
        return;
    auto box = [](const QRectF& r) { return QRectF(r.x() - 1, r.y() - 1, r.width() + 2, r.height() + 1); };
    painter.setPen(Qt::NoPen);
    painter.setBrush(color);
    if (std::abs(opening.y() - closing.y()) < 5) {
        painter.drawRoundedRect(box(opening.united(closing)), 3, 3);
    } else {
        painter.drawRoundedRect(box(opening), 3, 3);
        painter.drawRoundedRect(box(closing), 3, 3);
    }
}

// ---- pointer ----

void PMJSONTextView::mouseMoveEvent(QMouseEvent* event)
{
    PMWrappedSubstring* pair = wrappedSubstringWithEllipsisRectRelevantToEvent(event->position().toPoint());
    if (pair && m_gutterView) {
        m_gutterView->highlightPillLayerForWrappedSubstring(pair);
        viewport()->setCursor(Qt::ArrowCursor);
        return;
    }
    if (m_gutterView && m_gutterView->highlightedPillLayer() && m_gutterView->highlightedPillLayer()->folded
        && !m_gutterView->hoversHighlightedPillLayer())
        m_gutterView->setHighlightedPillLayer(nullptr);
    viewport()->setCursor(Qt::IBeamCursor);
    QPlainTextEdit::mouseMoveEvent(event);
}

void PMJSONTextView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) {
        if (PMWrappedSubstring* pair = wrappedSubstringWithEllipsisRectRelevantToEvent(event->position().toPoint())) {
            m_foldMarks.removeFolded(pair->wrappingRange);
            parse();
            return;
        }
    }
    QPlainTextEdit::mousePressEvent(event);
}

// ---- keys ----

void PMJSONTextView::writeSelectionToPasteboard(bool cut)
{
    if (!textCursor().hasSelection())
        return;
    QApplication::clipboard()->setMimeData(createMimeDataFromSelection());
    if (cut && !isReadOnly())
        textCursor().removeSelectedText();
}

void PMJSONTextView::keyPressEvent(QKeyEvent* event)
{
    // The text control copies without asking the view, which adds the property list.
    if (event == QKeySequence::Copy || event == QKeySequence::Cut) {
        writeSelectionToPasteboard(event == QKeySequence::Cut);
        return;
    }
    const bool newline = (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)
        && !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier));
    if (newline && !isReadOnly()) {
        QTextCursor cursor = textCursor();
        QString indentation;
        if (cursor.selectionStart() > 0) {
            const QTextBlock block = document()->findBlock(cursor.selectionStart());
            const QString before = block.text().left(cursor.selectionStart() - block.position());
            qsizetype k = 0;
            while (k < before.size() && before.at(k).isSpace())
                ++k;
            indentation = before.left(k);
        }
        cursor.beginEditBlock();
        cursor.insertText(QStringLiteral("\n") + indentation);
        cursor.endEditBlock();
        setTextCursor(cursor);
        ensureCursorVisible();
        return;
    }
    QPlainTextEdit::keyPressEvent(event);
}

// ---- menus ----

QList<QAction*> PMJSONTextView::formatMenuItems(QObject* parent)
{
    QList<QAction*> items;
    const platform::Value value = objectValue();
    if (value.isNull())
        return items;
    struct Candidate {
        const char* title;
        PMJSONTextViewFormat format;
        std::optional<QString> text;
    };
    std::vector<Candidate> candidates;
    const std::optional<QString> xml = PMLSONSerialization::XMLStringWithObject(value, false);
    const std::optional<QString> xmlShort = PMLSONSerialization::XMLStringWithObject(value, true);
    const std::optional<QString> json = PMLSONSerialization::JSONStringWithObject(value, false, false);
    const std::optional<QString> jsonShort = PMLSONSerialization::JSONStringWithObject(value, true, true);
    if (xml)
        candidates.push_back({"XML", PMJSONTextViewFormatXML, xml});
    if (xmlShort && xmlShort != xml)
        candidates.push_back({"XML Shorthand", PMJSONTextViewFormatXMLShorthand, xmlShort});
    const bool jsonItems = json.has_value();
    if (jsonItems) {
        candidates.push_back({"JSON", PMJSONTextViewFormatJSON, json});
        if (jsonShort && jsonShort != json)
            candidates.push_back({"JSON Shorthand", PMJSONTextViewFormatJSONShorthand, jsonShort});
    }
    const QString current = toPlainText();
    const bool images = PMShouldSetMenuActionImages();
    for (const Candidate& candidate : candidates) {
        if (candidate.format == PMJSONTextViewFormatJSON && !items.isEmpty()) {
            auto* separator = new QAction(parent);
            separator->setSeparator(true);
            items.append(separator);
        }
        auto* item = new QAction(tr(candidate.title), parent);
        item->setProperty("PMJSONTextViewFormat", int(candidate.format));
        item->setCheckable(true);
        if (*candidate.text == current) {
            item->setChecked(true);
        } else {
            item->setData(*candidate.text);
            // The detected format whose text differs from the canonical one: "mixed".
            item->setProperty("PMMixedState", m_detectedFormat == candidate.format);
        }
        if (images) {
            if (candidate.format == PMJSONTextViewFormatXML || candidate.format == PMJSONTextViewFormatJSON)
                item->setIcon(formatMenuItemImageRepresentingJSON(candidate.format == PMJSONTextViewFormatJSON));
            else
                setMacOS26ImageWithSystemSymbolName(item, QStringLiteral("rectangle.compress.vertical"));
        }
        if (item->property("PMMixedState").toBool() && item->icon().isNull())
            item->setText(item->text() + QStringLiteral(" \u2013")); // a dash marks the mixed state
        connect(item, &QAction::triggered, this, [this, item] { changeFormatViaMenuItem(item); });
        items.append(item);
    }
    return items;
}

void PMJSONTextView::changeFormatViaMenuItem(QAction* item)
{
    const QVariant text = item->data();
    if (text.isValid()) {
        if (!setString(text.toString(), true, foldingState(), true))
            platform::beep();
        return;
    }
    // Choosing the item in force changes nothing; it stays on. Any other item without
    // text has nothing to change to.
    if (item->property("PMMixedState").toBool() || !item->isCheckable())
        platform::beep();
    item->setChecked(true);
}

QMenu* PMJSONTextView::menuForEvent(const QPoint& position)
{
    QMenu* menu = createStandardContextMenu(position);
    for (QAction* item : menu->actions()) {
        if (item->objectName() == QLatin1String("edit-copy") || item->objectName() == QLatin1String("edit-cut")) {
            const bool cut = item->objectName() == QLatin1String("edit-cut");
            disconnect(item, &QAction::triggered, nullptr, nullptr);
            connect(item, &QAction::triggered, this, [this, cut] { writeSelectionToPasteboard(cut); });
        }
    }
    menu->addSeparator();
    QMenu* folding = menu->addMenu(tr("Folding"));
    setMacOS26ImageWithSystemSymbolName(folding->menuAction(), QStringLiteral("arrow.up.and.down.text.horizontal"));
    auto add = [&](const char* title, const char* name, const char* symbol, auto action) {
        QAction* item = folding->addAction(tr(title));
        item->setObjectName(QLatin1String(name));
        setMacOS26ImageWithSystemSymbolName(item, QLatin1String(symbol));
        connect(item, &QAction::triggered, this, action);
        validateMenuItem(item);
        return item;
    };
    add("Show Folding Gutter", "toggleGutter", "arrow.up.and.down.text.horizontal", [this] { toggleGutter(); });
    folding->addSeparator();
    add("Fold All", "foldAll", "arrow.down.and.line.horizontal.and.arrow.up", [this] { foldAll(); });
    add("Unfold All", "unfoldAll", "arrow.up.and.line.horizontal.and.arrow.down", [this] { unfoldAll(); });
    folding->addSeparator();
    add("Restore Default", "restoreDefaultFolding", "arrow.uturn.backward", [this] { restoreDefaultFolding(); });

    const QList<QAction*> formats = formatMenuItems(menu);
    const int realItems = int(std::count_if(formats.begin(), formats.end(), [](QAction* a) { return !a->isSeparator(); }));
    if (realItems == 0)
        return menu;
    if (!menu->isEmpty())
        menu->addSeparator();
    if (realItems >= 2) {
        QMenu* format = menu->addMenu(tr("Format"));
        setMacOS26ImageWithSystemSymbolName(format->menuAction(), QStringLiteral("textformat"));
        format->addActions(formats);
    } else {
        menu->addActions(formats);
        menu->addSeparator();
    }
    return menu;
}

void PMJSONTextView::validateMenuItem(QAction* item)
{
    const QString name = item->objectName();
    if (name == QLatin1String("toggleGutter")) {
        item->setEnabled(true);
        item->setCheckable(true);
        item->setChecked(m_showsGutter);
        return;
    }
    bool fold = false, unfold = false, restore = false;
    const bool any = canFold(&fold, &unfold, &restore);
    if (name == QLatin1String("foldAll"))
        item->setEnabled(any && fold);
    else if (name == QLatin1String("unfoldAll"))
        item->setEnabled(any && unfold);
    else if (name == QLatin1String("restoreDefaultFolding"))
        item->setEnabled(any && restore);
}

void PMJSONTextView::contextMenuEvent(QContextMenuEvent* event)
{
    QMenu* menu = menuForEvent(event->pos());
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
}

// ---- clipboard ----

std::optional<platform::Value> PMJSONTextView::selectedPropertyList() const
{
    const QString selected = textCursor().selectedText().replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    if (selected.isEmpty())
        return std::nullopt;
    const platform::Value value = PMLSONSerialization::objectWithString(selected, nullptr, nullptr);
    if (value.isNull() || value.isString())
        return std::nullopt;
    QString error;
    platform::writeXMLPropertyList(value, &error);
    if (!error.isEmpty())
        return std::nullopt;
    return value;
}

QMimeData* PMJSONTextView::createMimeDataFromSelection() const
{
    // Plain text, not the text control's rich forms (whose list of formats is fixed).
    auto* data = new QMimeData;
    data->setText(textCursor().selectedText().replace(QChar::ParagraphSeparator, QLatin1Char('\n')));
    if (std::optional<platform::Value> list = selectedPropertyList()) {
        const QByteArray xml = platform::writeXMLPropertyList(*list);
        if (!xml.isEmpty())
            data->setData(QString::fromLatin1(kPasteboardType), xml);
    }
    return data;
}

// The program's property-list type and the foreign key type come before the text.
QStringList PMJSONTextView::readablePasteboardTypes(const QMimeData* source) const
{
    QStringList types;
    for (const QString& type : {QString::fromLatin1(kPasteboardType), QString::fromLatin1(kForeignKeyPasteboardType)}) {
        if (source->hasFormat(type))
            types << type;
    }
    if (source->hasText())
        types << QStringLiteral("text/plain");
    return types;
}

bool PMJSONTextView::canInsertFromMimeData(const QMimeData* source) const
{
    return !readablePasteboardTypes(source).isEmpty() || QPlainTextEdit::canInsertFromMimeData(source);
}

void PMJSONTextView::dropEvent(QDropEvent* event)
{
    // Drops take plain text only.
    m_dropping = true;
    QPlainTextEdit::dropEvent(event);
    m_dropping = false;
}

void PMJSONTextView::insertFromMimeData(const QMimeData* source)
{
    if (!m_dropping && readSelectionFromPasteboard(source))
        return;
    const QString text = source->text();
    if (text.size() > kMaximumPasteSize) {
        alertTextTooLarge();
        return;
    }
    QPlainTextEdit::insertFromMimeData(source);
}

bool PMJSONTextView::readSelectionFromPasteboard(const QMimeData* source)
{
    const QString keyType = QString::fromLatin1(kForeignKeyPasteboardType);
    const QString ownType = QString::fromLatin1(kPasteboardType);
    if (source->hasFormat(ownType)) {
        const QString plain = source->text();
        if (!plain.isEmpty()) {
            PMJSONTextViewFormat format = PMJSONTextViewFormatNone;
            const bool parses = plain.size() <= kMaximumPasteSize && !objectValueFromString(plain, &format).isNull();
            if (m_detectedFormat == PMJSONTextViewFormatNone || !parses || sameFamily(format, m_detectedFormat))
                return false; // the plain text serves as it is
        }
        return readSelectionFromPasteboardPropertyListData(source->data(ownType), std::nullopt);
    }
    if (source->hasFormat(keyType)) {
        const QString key = QString::fromUtf8(source->data(keyType));
        if (key.isEmpty())
            return true; // nothing to paste
        return readSelectionFromPasteboardPropertyListData(source->text().toUtf8(), key);
    }
    return false;
}

bool PMJSONTextView::readSelectionFromPasteboardPropertyListData(const QByteArray& data, const std::optional<QString>& key)
{
    if (data.isEmpty() || isReadOnly())
        return false;
    if (data.size() > kMaximumPasteSize) {
        platform::Alert alert;
        alert.messageText = tr("The property list is too large to paste.");
        alert.informativeText = tr("The editor takes at most %1 MB at once.").arg(kMaximumPasteSize / (1024 * 1024));
        alert.window = window();
        platform::runAlert(alert);
        return true;
    }
    platform::PropertyListReadResult read = platform::readPropertyList(data);
    if (!read.ok() || read.value.isNull())
        return false;
    platform::Value value = read.value;
    if (key)
        value = platform::Value(platform::Dictionary::make({{*key, value}}));
    std::optional<QString> text;
    const bool prefersJSON = defaults().boolForKey(kPrefersJSON);
    if (m_detectedFormat == PMJSONTextViewFormatJSON || m_detectedFormat == PMJSONTextViewFormatJSONShorthand
        || (m_detectedFormat == PMJSONTextViewFormatNone && prefersJSON)) {
        const bool lson = m_detectedFormat == PMJSONTextViewFormatJSONShorthand
            || (m_detectedFormat != PMJSONTextViewFormatJSON && defaults().boolForKey(kPrefersShorthand));
        text = PMLSONSerialization::JSONStringWithObject(value, true, lson);
    }
    if (!text)
        text = PMLSONSerialization::XMLStringWithObject(value, true);
    if (!text)
        return false;
    const QString trimmed = text->trimmed();
    if (trimmed.isEmpty())
        return false;
    QTextCursor cursor = textCursor();
    cursor.insertText(trimmed);
    setTextCursor(cursor);
    return true;
}
