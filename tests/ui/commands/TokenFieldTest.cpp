// The tag side of the meta-reference token fields: tokens to and from the clipboard in
// both conventions, a single value pasted over a selection, the widgets' own paste, copy
// and drop going through those rules, and the delegate's answers for meta-reference fields
// and plain ones.
#include "ui/commands/PMMetaReferenceTokenField.h"

#include "common/TestSupport.h"

#include <gtest/gtest.h>

#include <QtCore/QMimeData>
#include <QtCore/QSet>
#include <QtWidgets/QApplication>
#include <QtWidgets/QLineEdit>

namespace {

const QString kGenre = QStringLiteral("<?meta:Genre?>");

} // namespace

TEST(TokenFields, ValuesGoToTheClipboardAsOneCSVTextAndComeBackWithoutRepeats)
{
    QMimeData out;
    EXPECT_FALSE(PMMetaReferenceAwareTokenField::writeRepresentedObjects({}, out));
    ASSERT_TRUE(PMMetaReferenceAwareTokenField::writeRepresentedObjects({QStringLiteral(" Drama "), QStringLiteral("Rock, Pop")}, out));
    EXPECT_EQ(out.text(), QStringLiteral("Drama, \"Rock, Pop\""));

    QMimeData in;
    in.setText(QStringLiteral("Drama, \"Rock, Pop\", Drama, ") + kGenre);
    EXPECT_EQ(PMMetaReferenceAwareTokenField::readFromPasteboard(in, nullptr),
              QStringList({QStringLiteral("Drama"), QStringLiteral("Rock, Pop"), kGenre}));
    EXPECT_EQ(PMMetaReferenceAwareTokenField::shouldAddObjects({QStringLiteral("a")}), QStringList({QStringLiteral("a")}));

    // Text with references: the pieces.
    QMimeData pieces;
    in.setText(QStringLiteral("Best of ") + kGenre + QStringLiteral(" 2024"));
    EXPECT_EQ(PMMetaReferenceTokenField::readFromPasteboard(in, nullptr),
              QStringList({QStringLiteral("Best of "), kGenre, QStringLiteral(" 2024")}));
    ASSERT_TRUE(PMMetaReferenceTokenField::writeRepresentedObjects({QStringLiteral("Best of "), kGenre}, pieces));
    EXPECT_EQ(pieces.text(), QStringLiteral("Best of ") + kGenre);
    EXPECT_FALSE(PMMetaReferenceTokenField::writeRepresentedObjects({QString()}, pieces));
}

TEST(TokenFields, OneValuePastedOverASelectionGoesIntoTheEditedText)
{
    PMMetaReferenceAwareTokenField field;
    field.setText(QStringLiteral("Drama, Comdy"));
    field.show();
    QApplication::setActiveWindow(&field);
    field.setFocus();
    ASSERT_TRUE(testsupport::waitUntil([&] { return field.hasFocus(); }));
    field.setSelection(7, 5);
    QMimeData in;
    in.setText(QStringLiteral("Comedy"));
    const QStringList read = PMMetaReferenceAwareTokenField::readFromPasteboard(in, &field);
    EXPECT_EQ(read, QStringList({QStringLiteral("Comedy"), QString()}));
    EXPECT_EQ(field.text(), QStringLiteral("Drama, Comedy"));
    EXPECT_EQ(field.cursorPosition(), 13);
    // The text is in already: nothing more is added.
    EXPECT_TRUE(PMMetaReferenceAwareTokenField::shouldAddObjects(read).isEmpty());
    EXPECT_EQ(field.objectValue(), QStringList({QStringLiteral("Drama"), QStringLiteral("Comedy")}));
    // Two values are added as tokens.
    in.setText(QStringLiteral("Horror, Music"));
    EXPECT_EQ(PMMetaReferenceAwareTokenField::readFromPasteboard(in, &field).size(), 2);
}

TEST(TokenFields, DelegateAnswersByTheFieldsKind)
{
    using namespace PMTokenFieldDelegate;
    PMMetaReferenceAwareTokenField values;
    PMMetaReferenceTokenField text;
    QLineEdit plain;
    EXPECT_EQ(tokenFieldDisplayStringForRepresentedObject(&values, kGenre), QStringLiteral("→ Genre"));
    EXPECT_EQ(tokenFieldDisplayStringForRepresentedObject(&text, kGenre), QStringLiteral("Genre"));
    EXPECT_EQ(tokenFieldDisplayStringForRepresentedObject(&plain, kGenre), kGenre);
    EXPECT_EQ(tokenFieldStyleForRepresentedObject(&text, QStringLiteral("plain")), TokenStyle::PlainText);
    EXPECT_EQ(tokenFieldStyleForRepresentedObject(&text, kGenre), TokenStyle::Token);
    EXPECT_EQ(tokenFieldStyleForRepresentedObject(&values, QStringLiteral("plain")), TokenStyle::Token);
    QMimeData out;
    EXPECT_FALSE(tokenFieldWriteRepresentedObjects(&plain, {QStringLiteral("a")}, out));
    QMimeData in;
    in.setText(QStringLiteral(" a , b,,c "));
    EXPECT_EQ(tokenFieldReadFromPasteboard(&plain, in), QStringList({QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")}));
    EXPECT_EQ(tokenFieldShouldAddObjects(&plain, {QStringLiteral("x"), QString()}), QStringList({QStringLiteral("x"), QString()}));
    EXPECT_TRUE(tokenFieldShouldAddObjects(&values, {QStringLiteral("x"), QString()}).isEmpty());
    EXPECT_TRUE(text.tokenizingCharacterSet().isEmpty());
    text.setText(QStringLiteral("Best of ") + kGenre);
    EXPECT_EQ(text.objectValue().size(), 2);
    int selected = 0;
    EXPECT_TRUE(tokenFieldCompletionsForSubstring(&values, QStringLiteral("Dr"), &selected).isEmpty());
}

// ---- The fields' editing: hostile pastes, insertions, the reference menu, the caret ----

#include "platform/EventClock.h"
#include "ui/commands/PMTagEditorTableView.h"

#include <QtCore/QTimer>
#include <QtGui/QClipboard>
#include <QtGui/QDropEvent>
#include <QtTest/QTest>
#include <QtWidgets/QMenu>

#include <memory>

namespace {

// Closes every pop-up menu as soon as it opens and counts them, noting what the field said
// while its menu was open.
struct PopUpCloser {
    explicit PopUpCloser(const PMMetaReferenceTokenField* field = nullptr)
    {
        QObject::connect(&timer, &QTimer::timeout, [this, field] {
            if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
                ++opened;
                items = menu->actions().size();
                if (field)
                    showedMenu = showedMenu || field->showsMetaReferenceMenu();
                menu->close();
            }
        });
        timer.start(5);
    }
    QTimer timer;
    int opened = 0;
    qsizetype items = 0;
    bool showedMenu = false;
};

// Activated through the window system, not only in the toolkit's books: a window that an
// earlier test activated would otherwise still be the system's active window, and take the
// activation back when a menu opens, closing the menu at once.
bool focus(QWidget& widget)
{
    widget.show();
    widget.activateWindow();
    widget.setFocus();
    return testsupport::waitUntil([&] { return widget.hasFocus(); });
}

} // namespace

TEST(TokenFields, HostileTextsAreReadWithoutLossOrRepeats)
{
    const QString big = QString(100000, QLatin1Char('x')) + QStringLiteral(", ") + kGenre;
    const QString texts[] = {QStringLiteral("\"unterminated, quote"),
                             QStringLiteral("<?meta:Genre"),
                             QStringLiteral("<?meta:?> and <?meta: ?>"),
                             QStringLiteral("<?meta:<?meta:Genre?>?>"),
                             QStringLiteral("a\nb\r\nc, a"),
                             QStringLiteral(",,, ,"),
                             QString::fromUtf16(u"nul\u0000inside, \U0001F600, caf\u00E9"),
                             QStringLiteral("?>?><?meta:Year?><?meta:Year?>"),
                             big};
    for (const QString& text : texts) {
        QMimeData in;
        in.setText(text);
        // Text with references: the pieces put together are the text, and go back out as it.
        const QStringList pieces = PMMetaReferenceTokenField::readFromPasteboard(in, nullptr);
        EXPECT_EQ(pieces.join(QString()), text) << text.left(40).toStdString();
        QMimeData out;
        if (!text.isEmpty()) {
            ASSERT_TRUE(PMMetaReferenceTokenField::writeRepresentedObjects(pieces, out));
            EXPECT_EQ(out.text(), text);
        }
        // Values: each once, and what is written reads back the same.
        const QStringList values = PMMetaReferenceAwareTokenField::readFromPasteboard(in, nullptr);
        EXPECT_EQ(QSet<QString>(values.begin(), values.end()).size(), values.size()) << text.left(40).toStdString();
        QMimeData again;
        if (PMMetaReferenceAwareTokenField::writeRepresentedObjects(values, again)) {
            const QStringList reread = PMMetaReferenceAwareTokenField::readFromPasteboard(again, nullptr);
            EXPECT_EQ(reread.size(), values.size()) << text.left(40).toStdString();
        }
    }
}

TEST(TokenFields, AReferenceGoesInAtTheCaretAsOneUndoableStepWithoutTheClipboard)
{
    QApplication::clipboard()->setText(QStringLiteral("the user's own"));
    PMMetaReferenceTokenField field;
    field.setStringValue(QStringLiteral("Best of  2024"));
    ASSERT_TRUE(focus(field));
    field.setCursorPosition(8);
    int changes = 0;
    QObject::connect(&field, &PMMetaReferenceTokenField::controlTextDidChange, [&] { ++changes; });
    field.insertMetaReferenceText(kGenre);
    EXPECT_EQ(field.stringValue(), QStringLiteral("Best of ") + kGenre + QStringLiteral(" 2024"));
    EXPECT_EQ(field.cursorPosition(), 8 + kGenre.size());
    EXPECT_EQ(field.objectValue().size(), 3);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("the user's own"));
    field.undo();
    EXPECT_EQ(field.stringValue(), QStringLiteral("Best of  2024"));
    field.insertMetaReferenceText(QString()); // nothing to insert
    EXPECT_EQ(changes, 1);

    // Not being edited: the reference becomes the last token, the caret at the end.
    PMMetaReferenceTokenField other;
    other.setStringValue(QStringLiteral("Year: "));
    other.insertMetaReferenceText(QStringLiteral("<?meta:Year?>"));
    EXPECT_EQ(other.objectValue(), QStringList({QStringLiteral("Year: "), QStringLiteral("<?meta:Year?>")}));
    EXPECT_EQ(other.cursorPosition(), other.text().size());
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("the user's own"));

    // The table's cell editor inserts the same way.
    PMTagEditorTableView table;
    EXPECT_FALSE(table.insertTokenEditingString(kGenre)); // nothing is edited
}

TEST(TokenFields, CtrlPlusAndTheWidgetOpenTheReferenceMenu)
{
    PMMetaReferenceTokenField field;
    field.resize(240, 24);
    ASSERT_TRUE(focus(field));
    {
        PopUpCloser closer(&field);
        QTest::keyClick(&field, Qt::Key_Plus, Qt::ControlModifier);
        EXPECT_EQ(closer.opened, 1);
        EXPECT_TRUE(closer.showedMenu);
        EXPECT_GE(closer.items, 4); // Name, its prefix, its expression, Index
        EXPECT_FALSE(field.showsMetaReferenceMenu());
        // With the Meta key too it is no menu command.
        QTest::keyClick(&field, Qt::Key_Plus, Qt::ControlModifier | Qt::MetaModifier);
        EXPECT_EQ(closer.opened, 1);
    }
    const QRectF widget = field.metaReferenceMenuWidgetFrame();
    EXPECT_EQ(widget, QRectF(field.width() - 22 + 1, 1, 20, field.height() - 2));
    {
        PopUpCloser closer(&field);
        QTest::mouseClick(&field, Qt::LeftButton, {}, widget.center().toPoint());
        EXPECT_EQ(closer.opened, 1);
        // A disabled field handles the click as any field.
        field.setEnabled(false);
        QTest::mouseClick(&field, Qt::LeftButton, {}, widget.center().toPoint());
        EXPECT_EQ(closer.opened, 1);
    }
}

TEST(TokenFields, ACaretPlacedByAClickSurvivesASelectAllWithinASecond)
{
    struct Case {
        bool editing;
        bool wholeTextSelected;
        int location, length, textLength;
        double elapsed;
        bool restored;
    } cases[] = {
        {true, true, 3, 0, 10, 0.5, true},  {true, true, 3, 2, 10, 0.99, true}, {true, true, 3, 0, 10, 1.0, false},
        {false, true, 3, 0, 10, 0.1, false}, {true, false, 3, 0, 10, 0.1, false}, {true, true, 9, 2, 10, 0.1, false},
    };
    for (const Case& k : cases) {
        PMSelectionMemory memory;
        memory.remember(k.location, k.length, 100.0);
        const auto range = memory.rangeToRestore(k.editing, k.wholeTextSelected, k.textLength, 100.0 + k.elapsed);
        EXPECT_EQ(range.has_value(), k.restored) << k.location << " after " << k.elapsed;
        if (range) {
            EXPECT_EQ(*range, std::make_pair(k.location, k.length));
        }
        // Forgotten in every case.
        EXPECT_FALSE(memory.rangeToRestore(true, true, k.textLength, 100.0 + k.elapsed));
    }

    // In the field: a click into the edited text, then a select-all soon after.
    platform::steerEventClockForTesting(true);
    PMMetaReferenceTokenField field;
    field.resize(300, 24);
    field.setStringValue(QStringLiteral("Drama and comedy"));
    ASSERT_TRUE(focus(field));
    const QPoint inText(field.fontMetrics().horizontalAdvance(QStringLiteral("Drama ")) + 4, 12);
    QTest::mouseClick(&field, Qt::LeftButton, {}, inText);
    const int caret = field.cursorPosition();
    ASSERT_GT(caret, 0);
    platform::advanceEventClockForTesting(0.5);
    field.selectText();
    EXPECT_FALSE(field.hasSelectedText());
    EXPECT_EQ(field.cursorPosition(), caret);
    QTest::mouseClick(&field, Qt::LeftButton, {}, inText);
    platform::advanceEventClockForTesting(1.5);
    field.selectText();
    EXPECT_EQ(field.selectedText(), field.text());
    platform::steerEventClockForTesting(false);
}

TEST(TokenFields, TheWidgetsPasteCopyAndDropThroughTheTokenRules)
{
    enum Kind { Values, Text };
    enum Gesture { Paste, Copy, Drop };
    struct Case {
        const char* name;
        Kind kind;
        Gesture gesture;
        QString before;   // the field's text, the caret at its end (Copy: all selected)
        QString data;     // the clipboard's or the drag's text
        QString expected; // the field's text after, or what the clipboard holds (Copy)
    };
    const Case cases[] = {
        {"values: each once, as values of their own", Values, Paste, QStringLiteral("Drama"), QStringLiteral("Comedy, Horror, Comedy"),
         QStringLiteral("Drama, Comedy, Horror")},
        {"values: after a comma", Values, Paste, QStringLiteral("Drama, "), QStringLiteral("Comedy"), QStringLiteral("Drama, Comedy")},
        {"values: dropped", Values, Drop, QStringLiteral("Drama"), QStringLiteral("Comedy, Comedy"), QStringLiteral("Drama, Comedy")},
        {"values: copied as trimmed CSV", Values, Copy, QStringLiteral(" Drama ,  Rock  "), QString(), QStringLiteral("Drama, Rock")},
        {"text: one line", Text, Paste, QStringLiteral("Best of "), QStringLiteral("the\nyear ") + kGenre, QStringLiteral("Best of the year ") + kGenre},
        {"text: dropped", Text, Drop, QStringLiteral("Year "), kGenre, QStringLiteral("Year ") + kGenre},
        {"text: copied whole", Text, Copy, QStringLiteral("Best of ") + kGenre, QString(), QStringLiteral("Best of ") + kGenre},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        std::unique_ptr<PMMetaReferenceAwareTokenField> field;
        if (k.kind == Values)
            field = std::make_unique<PMMetaReferenceAwareTokenField>();
        else
            field = std::make_unique<PMMetaReferenceTokenField>();
        field->resize(400, 24);
        field->setText(k.before);
        ASSERT_TRUE(focus(*field));
        field->end(false);
        switch (k.gesture) {
        case Paste:
            QApplication::clipboard()->setText(k.data);
            QTest::keyClick(field.get(), Qt::Key_V, Qt::ControlModifier);
            EXPECT_EQ(field->text(), k.expected);
            break;
        case Copy:
            QApplication::clipboard()->setText(QStringLiteral("old"));
            field->selectAll();
            QTest::keyClick(field.get(), Qt::Key_C, Qt::ControlModifier);
            EXPECT_EQ(QApplication::clipboard()->text(), k.expected);
            break;
        case Drop: {
            QMimeData dragged;
            dragged.setText(k.data);
            const QPoint end(field->width() - 30, field->height() / 2);
            QDragEnterEvent enter(end, Qt::CopyAction, &dragged, Qt::LeftButton, {});
            QApplication::sendEvent(field.get(), &enter);
            ASSERT_TRUE(enter.isAccepted());
            QDropEvent drop(end, Qt::CopyAction, &dragged, Qt::LeftButton, {});
            QApplication::sendEvent(field.get(), &drop);
            EXPECT_TRUE(drop.isAccepted());
            EXPECT_EQ(field->text(), k.expected);
            break;
        }
        }
    }
}
