// The tag side of the meta-reference token fields: tokens to and from the clipboard in
// both conventions, a single value pasted over a selection, and the delegate's answers for
// meta-reference fields and plain ones.
#include "ui/commands/PMMetaReferenceTokenField.h"

#include "common/TestSupport.h"

#include <gtest/gtest.h>

#include <QtCore/QMimeData>
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
