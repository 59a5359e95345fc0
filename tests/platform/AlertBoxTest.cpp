// What an alert shows: its texts as written, an "&" in a button included.
#include "platform/AlertBox.h"

#include <gtest/gtest.h>

#include <QtWidgets/QAbstractButton>
#include <QtWidgets/QCheckBox>
#include <QtWidgets/QMessageBox>
#include <QtWidgets/QPushButton>

using namespace platform;

namespace {

// The text a button shows: the toolkit draws "&&" as "&" and a lone "&x" as an underlined x.
QString shownText(const QAbstractButton* button)
{
    QString shown;
    const QString text = button->text();
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'&' && i + 1 < text.size())
            ++i;
        shown.append(text[i]);
    }
    return shown;
}

} // namespace

TEST(AlertBox, ButtonsAndTheCheckBoxShowTheirTitlesAsWritten)
{
    const struct {
        QStringList buttons;
        QString suppression;
    } cases[] = {
        {{QStringLiteral("Move & Merge"), QStringLiteral("Cancel")}, QString()},
        {{QStringLiteral("Merge & Eliminate"), QStringLiteral("Cancel")}, QStringLiteral("Ask & tell")},
        {{QStringLiteral("Delete"), QStringLiteral("Cancel"), QStringLiteral("Delete && Stop")}, QStringLiteral("Plain")},
    };
    for (const auto& testCase : cases) {
        Alert alert;
        alert.messageText = QStringLiteral("Merge?");
        alert.buttons = testCase.buttons;
        alert.showsSuppressionButton = !testCase.suppression.isEmpty();
        alert.suppressionButtonTitle = testCase.suppression;
        QMessageBox box;
        QList<QAbstractButton*> buttons;
        QCheckBox* suppression = nullptr;
        buildAlertBox(box, alert, &buttons, &suppression);
        ASSERT_EQ(buttons.size(), testCase.buttons.size());
        for (qsizetype i = 0; i < buttons.size(); ++i) {
            EXPECT_EQ(shownText(buttons[i]), testCase.buttons[i]);
            EXPECT_TRUE(QKeySequence::mnemonic(buttons[i]->text()).isEmpty()) << testCase.buttons[i].toStdString();
        }
        EXPECT_EQ(box.defaultButton(), qobject_cast<QPushButton*>(buttons.first()));
        ASSERT_EQ(suppression != nullptr, !testCase.suppression.isEmpty());
        if (suppression) {
            EXPECT_EQ(shownText(suppression), testCase.suppression);
        }
    }
}
