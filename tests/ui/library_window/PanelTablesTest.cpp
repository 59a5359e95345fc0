// The panels' tables and the auto-completing table under them: completion per
// keystroke (cancelled by the next, never for deleting or pasting), Return and Tab ending
// an edit and Tab continuing where the data source says, the rename preview that scrolls
// to changed names instead of selecting, renaming a shared tag in the selected files or in
// all of them, the smart criteria's value pop-up, and the cells' hit test and fade.
#include "library/model/ModelFixture.h"

#include "platform/Alert.h"
#include "ui/library_window/PMAutoCompleteTableView.h"
#include "ui/library_window/PMMovieOutlineView.h"
#include "ui/library_window/PMTableCells.h"

#include <QtGui/QClipboard>
#include <QtGui/QImage>
#include <QtGui/QPainter>
#include <QtTest/QTest>
#include <QtWidgets/QApplication>
#include <QtWidgets/QLabel>
#include "foundation/PMRange.h"
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QListWidget>
#include <QtWidgets/QScrollBar>

using platform::Array;
using platform::ArrayPtr;
using platform::Dictionary;
using platform::DictionaryPtr;
using platform::Value;

namespace {

PMMainController& c()
{
    return mainController();
}

PMTableColumn column(const QString& identifier, PMTableColumn::Cell cell = PMTableColumn::Cell::Text, bool editable = true)
{
    PMTableColumn col;
    col.identifier = identifier;
    col.header = identifier;
    col.cell = cell;
    col.editable = editable;
    col.width = 120;
    return col;
}

DictionaryPtr entry(std::initializer_list<std::pair<QString, Value>> values)
{
    return Dictionary::make(values);
}

class PanelTablesTest : public ModelTest {
protected:
    void SetUp() override
    {
        ModelTest::SetUp();
        table = std::make_unique<PMAutoCompleteTableView>();
        table->resize(500, 200);
    }
    void TearDown() override
    {
        platform::setAlertHandler(nullptr);
        table.reset();
        c()._currentlyEditedSmartPlaylistTags = Array::make();
        c()._filteredInfoTags = Array::make();
        c()._infoTags = Array::make();
        c()._infoMovieRepresentations = nullptr;
        c()._infoBatchRenameNewNames.clear();
        c()._infoGloballyRenamedTagNames = nullptr;
        ModelTest::TearDown();
    }
    // A library whose movies carry Genre and Mood values.
    void tagLibrary()
    {
        auto m1 = movie(QStringLiteral("m1"));
        m1->setValue(QStringLiteral("Drama, Comedy"), QStringLiteral("Genre"));
        auto m2 = movie(QStringLiteral("m2"));
        m2->setValue(QStringLiteral("Documentary"), QStringLiteral("Genre"));
        m2->setValue(QStringLiteral("calm"), QStringLiteral("Mood"));
        library({Value(folder(QStringLiteral("F"), {Value(m1), Value(m2)}))});
        c().invalidateTagTypes();
        movies = {m1, m2};
    }
    void showSmartCriteria(std::initializer_list<Value> criteria)
    {
        c()._currentlyEditedSmartPlaylistTags = Array::make(criteria);
        table->setTableColumns({column(QStringLiteral("Enabled"), PMTableColumn::Cell::Check), column(QStringLiteral("Tag")),
                                column(QStringLiteral("Action"), PMTableColumn::Cell::PopUp), column(QStringLiteral("ChooseTag"), PMTableColumn::Cell::PopUp),
                                column(QStringLiteral("Value")), column(QStringLiteral("ChooseValue"), PMTableColumn::Cell::PopUp)});
        c().smartPlaylistTagList = table.get();
        table->reloadData();
        show();
    }
    // The property list of the info panel for the movies; entry 0 is the tag list's.
    void showPropertyList(const QList<DictionaryPtr>& entries, const QList<Value>& editedMovies)
    {
        c()._infoMovieRepresentations = Array::make();
        for (const Value& m : editedMovies)
            c()._infoMovieRepresentations->append(m);
        c()._infoTags = Array::make();
        c()._filteredInfoTags = Array::make();
        for (const DictionaryPtr& e : entries) {
            c()._infoTags->append(Value(e));
            c()._filteredInfoTags->append(Value(e));
        }
        table->setTableColumns({column(QStringLiteral("Tag")), column(QStringLiteral("Value"), PMTableColumn::Cell::Token),
                                column(QStringLiteral("ChooseValue"), PMTableColumn::Cell::PopUp)});
        c().infoTagPropertyList = table.get();
        table->reloadData();
        show();
    }
    void show()
    {
        table->show();
        QApplication::setActiveWindow(table.get());
        table->setFocus();
        QApplication::processEvents();
    }

    std::unique_ptr<PMAutoCompleteTableView> table;
    QList<PMMovieRepresentationOriginalPtr> movies;
};

} // namespace

TEST_F(PanelTablesTest, CompletionIsAskedPerKeystrokeCancelledByTheNextAndNeverForDeletingOrPasting)
{
    tagLibrary();
    showSmartCriteria({Value(entry({{QStringLiteral("Enabled"), Value(true)}, {QStringLiteral("Tag"), Value(QString())}}))});
    const int tag = table->columnWithIdentifier(QStringLiteral("Tag"));
    ASSERT_TRUE(table->editColumn(tag, 0, true));
    QLineEdit* editor = table->fieldEditor();
    ASSERT_NE(editor, nullptr);

    // Two quick keystrokes: the second replaces the first request; one list opens.
    QTest::keyClick(editor, Qt::Key_G);
    EXPECT_TRUE(table->hasPendingAutoComplete());
    QTest::keyClick(editor, Qt::Key_E);
    EXPECT_TRUE(table->hasPendingAutoComplete());
    ASSERT_TRUE(testsupport::waitUntil([&] { return table->isShowingCompletions(); }));
    EXPECT_EQ(table->numberOfCompletionRequests(), 1);
    EXPECT_EQ(table->completionList()->item(0)->text(), QStringLiteral("Genre"));
    // Nothing is chosen in advance.
    EXPECT_EQ(table->completionList()->currentRow(), -1);

    // Deleting cancels the pending request and asks for none.
    QTest::keyClick(editor, Qt::Key_N);
    QTest::keyClick(editor, Qt::Key_Backspace);
    EXPECT_FALSE(table->hasPendingAutoComplete());
    QApplication::processEvents();
    EXPECT_EQ(table->numberOfCompletionRequests(), 1);
    QTest::keyClick(editor, Qt::Key_Delete);
    EXPECT_FALSE(table->hasPendingAutoComplete());

    // A paste changes the text without a typed key: no request.
    QApplication::clipboard()->setText(QStringLiteral("r"));
    editor->paste();
    EXPECT_EQ(editor->text(), QStringLiteral("ger"));
    EXPECT_FALSE(table->hasPendingAutoComplete());

    // Escape closes the list and stays in the cell; a lone completion equal to what was
    // typed is not offered.
    QTest::keyClick(editor, Qt::Key_Backspace);
    QTest::keyClick(editor, Qt::Key_N);
    ASSERT_TRUE(testsupport::waitUntil([&] { return table->isShowingCompletions(); }));
    QTest::keyClick(editor, Qt::Key_Escape);
    EXPECT_FALSE(table->isShowingCompletions());
    EXPECT_TRUE(table->isEditing());
    int selected = 0;
    EXPECT_TRUE(c().controlCompletionsForPrefix(table.get(), QStringLiteral("Genre"), &selected).isEmpty());
    // Without a delegate that completes (a table no outlet names), nothing is offered.
    PMAutoCompleteTableView other;
    EXPECT_TRUE(c().controlCompletionsForPrefix(&other, QStringLiteral("G"), &selected).isEmpty());
}

TEST_F(PanelTablesTest, ReturnEndsEditingInPlaceAndTabContinuesInTheNextRowsValue)
{
    tagLibrary();
    const auto tags = entry({{QStringLiteral("Tag"), Value(QStringLiteral("Tags"))}, {QStringLiteral("Value"), Value(QString())}});
    const auto genre = entry({{QStringLiteral("Tag"), Value(QStringLiteral("Genre"))}, {QStringLiteral("Value"), Value(QStringLiteral("Drama"))}});
    const auto mood = entry({{QStringLiteral("Tag"), Value(QStringLiteral("Mood"))}, {QStringLiteral("Value"), Value(QString())}});
    const auto year = entry({{QStringLiteral("Tag"), Value(QStringLiteral("Year"))}, {QStringLiteral("Value"), Value(QStringLiteral("2001"))}});
    showPropertyList({tags, genre, mood, year}, {Value(movies[0])});
    ASSERT_EQ(table->numberOfRows(), 3);
    const int value = table->columnWithIdentifier(QStringLiteral("Value"));

    table->selectRow(0);
    ASSERT_TRUE(table->editColumn(value, 0, true));
    QTest::keyClicks(table->fieldEditor(), QStringLiteral("Comedy"));
    QTest::keyClick(table->fieldEditor(), Qt::Key_Tab);
    EXPECT_EQ(genre->value(QStringLiteral("Value")).string(), QStringLiteral("Comedy"));
    // The next row's value cell is edited on the next turn of the event loop.
    ASSERT_TRUE(testsupport::waitUntil([&] { return table->isEditing(); }));
    EXPECT_EQ(table->editedIndex().row(), 1);
    EXPECT_EQ(table->editedIndex().column(), value);

    QTest::keyClicks(table->fieldEditor(), QStringLiteral("calm"));
    QTest::keyClick(table->fieldEditor(), Qt::Key_Return);
    ASSERT_TRUE(testsupport::waitUntil([&] { return !table->isEditing(); }));
    QApplication::processEvents();
    QApplication::processEvents();
    EXPECT_FALSE(table->isEditing());
    EXPECT_EQ(table->currentIndex().row(), 1);
    EXPECT_TRUE(testsupport::waitUntil([&] { return table->hasFocus(); }));
}

TEST_F(PanelTablesTest, RenamePreviewNeverSelectsAndScrollsToTheChangedNames)
{
    QList<Value> records;
    for (int i = 0; i < 40; ++i)
        records << Value(movie(QStringLiteral("clip %1").arg(i, 2, 10, QLatin1Char('0'))));
    c()._infoMovieRepresentations = Array::make();
    for (const Value& r : records)
        c()._infoMovieRepresentations->append(r);
    for (int i = 0; i < 40; ++i)
        c()._infoBatchRenameNewNames << (i == 30 ? QStringLiteral("renamed") : PMMovie(records[i])->displayNameWithExtension(false));
    table->setTableColumns({column(QStringLiteral("Old"), PMTableColumn::Cell::Text, false), column(QStringLiteral("Arrow"), PMTableColumn::Cell::Text, false),
                            column(QStringLiteral("New"), PMTableColumn::Cell::Text, false)});
    c().infoBatchRenameList = table.get();
    table->reloadData();
    show();
    EXPECT_EQ(table->objectValue(2, 30).string(), QStringLiteral("renamed"));
    EXPECT_EQ(table->objectValue(1, 30).string(), QStringLiteral("→"));
    ASSERT_EQ(table->verticalScrollBar()->value(), 0);

    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, QPoint(20, 10));
    EXPECT_FALSE(table->selectionModel()->hasSelection());
    const QRect row30 = table->visualRect(table->tableModel()->index(30, 0));
    EXPECT_TRUE(table->viewport()->rect().contains(row30)) << "row 30 was scrolled into view";

    // The changed name is bold; a row without a new name is red while renaming is on.
    PMTableCellAppearance changed;
    c().tableViewWillDisplayCell(table.get(), changed, QStringLiteral("New"), 30);
    EXPECT_TRUE(changed.bold);
    c()._infoBatchRenameNewNames[5].clear();
    PMTableCellAppearance missing;
    c().tableViewWillDisplayCell(table.get(), missing, QStringLiteral("New"), 5);
    ASSERT_TRUE(missing.textColor.has_value());
    EXPECT_GT(missing.textColor->redF(), missing.textColor->greenF() + 0.3);
}

TEST_F(PanelTablesTest, SharedTagRenamedInSelectedFilesOrInAll)
{
    tagLibrary();
    QStringList asked;
    int answer = 0;
    platform::setAlertHandler([&](const platform::Alert& alert) {
        asked << alert.messageText;
        return platform::AlertResponse{answer, false};
    });
    const auto tags = entry({{QStringLiteral("Tag"), Value(QStringLiteral("Tags"))}});
    auto genre = entry({{QStringLiteral("Tag"), Value(QStringLiteral("Genre"))},
                        {QStringLiteral("Value"), Value(QStringLiteral("Drama"))},
                        {QStringLiteral("State"), Value(0LL)},
                        {QStringLiteral("Counter"), Value(2147483647LL)}});
    showPropertyList({tags, genre}, {Value(movies[0]), Value(movies[1])});

    // Only the letter case: nothing is asked.
    c().tableViewSetObjectValue(table.get(), Value(QStringLiteral("GENRE")), QStringLiteral("Tag"), 0);
    EXPECT_TRUE(asked.isEmpty());
    EXPECT_EQ(genre->value(QStringLiteral("Tag")).string(), QStringLiteral("GENRE"));

    // In the selected files: a copy carries the new name, the old tag stays for the others.
    answer = 0;
    c().tableViewSetObjectValue(table.get(), Value(QStringLiteral("Kind")), QStringLiteral("Tag"), 0);
    ASSERT_EQ(asked.size(), 1);
    EXPECT_EQ(asked.first(), QStringLiteral("Renaming Property"));
    ASSERT_EQ(c()._infoTags->count(), 3);
    EXPECT_EQ(genre->value(QStringLiteral("Tag")).string(), QStringLiteral("GENRE"));
    EXPECT_TRUE(genre->contains(QStringLiteral("State: Immutable")));
    EXPECT_EQ(genre->value(QStringLiteral("Value")).string(), QString());
    EXPECT_EQ(genre->value(QStringLiteral("State")).toLongLong(), 1);
    const DictionaryPtr copy = c()._infoTags->at(2).dictionary();
    EXPECT_EQ(copy->value(QStringLiteral("Tag")).string(), QStringLiteral("Kind"));
    EXPECT_EQ(copy->value(QStringLiteral("Counter")).toLongLong(), 2);

    // In all files: the rename is remembered, and giving the old name back forgets it.
    auto mood = entry({{QStringLiteral("Tag"), Value(QStringLiteral("Mood"))}, {QStringLiteral("Counter"), Value(2147483647LL)}});
    showPropertyList({tags, mood}, {Value(movies[0]), Value(movies[1])});
    answer = 2;
    c().tableViewSetObjectValue(table.get(), Value(QStringLiteral("Feeling")), QStringLiteral("Tag"), 0);
    EXPECT_EQ(mood->value(QStringLiteral("Tag")).string(), QStringLiteral("Feeling"));
    EXPECT_EQ(mood->value(QStringLiteral("Tag: Original (All)")).string(), QStringLiteral("mood"));
    ASSERT_TRUE(c()._infoGloballyRenamedTagNames);
    EXPECT_EQ(c()._infoGloballyRenamedTagNames->value(QStringLiteral("mood")).string(), QStringLiteral("Feeling"));
    asked.clear();
    c().tableViewSetObjectValue(table.get(), Value(QStringLiteral("Mood")), QStringLiteral("Tag"), 0);
    EXPECT_TRUE(asked.isEmpty());
    EXPECT_FALSE(c()._infoGloballyRenamedTagNames->contains(QStringLiteral("mood")));

    // Cancel keeps the name.
    answer = 1;
    c().tableViewSetObjectValue(table.get(), Value(QStringLiteral("Other")), QStringLiteral("Tag"), 0);
    EXPECT_EQ(mood->value(QStringLiteral("Tag")).string(), QStringLiteral("Mood"));
}

TEST_F(PanelTablesTest, SmartCriterionValuePopUpOffersTheTagsValuesAndNoValue)
{
    tagLibrary();
    const auto criterion = entry({{QStringLiteral("Enabled"), Value(true)}, {QStringLiteral("Tag"), Value(QStringLiteral("Genre"))},
                                  {QStringLiteral("Value"), Value(QStringLiteral("Drama"))}, {QStringLiteral("State"), Value(0LL)}});
    showSmartCriteria({Value(criterion)});
    std::vector<PMTableCellMenuItem> items;
    c().tableViewPopUpItems(table.get(), QStringLiteral("ChooseValue"), 0, &items);
    QStringList titles;
    for (const PMTableCellMenuItem& item : items)
        titles << (item.separator ? QStringLiteral("-") : item.title);
    EXPECT_EQ(titles, QStringList({QString(), QStringLiteral("Comedy"), QStringLiteral("Documentary"), QStringLiteral("Drama"), QStringLiteral("-"),
                                   QStringLiteral("no value")}));
    EXPECT_TRUE(items[3].checked);

    c().tableViewSetObjectValue(table.get(), Value(qint64(titles.size() - 1)), QStringLiteral("ChooseValue"), 0);
    EXPECT_EQ(criterion->value(QStringLiteral("Value")).string(), QString());
    EXPECT_EQ(criterion->value(QStringLiteral("State")).toLongLong(), 1);
    c().tableViewSetObjectValue(table.get(), Value(2LL), QStringLiteral("ChooseValue"), 0);
    EXPECT_EQ(criterion->value(QStringLiteral("Value")).string(), QStringLiteral("Documentary"));
}

TEST(TableCells, OffsetGapStillEditsAndOverflowingTokensFade)
{
    PMGroupTableViewTokenFieldCell cell;
    // 3 points with the large list font, else 4.
    const double offset = PMUsesLargeListFont() ? 3 : 4;
    EXPECT_EQ(cell.verticalOffset(), offset);
    EXPECT_EQ(cell.verticallyOffsetRect(QRectF(0, 10, 100, 20)), QRectF(0, 10 + offset, 100, 20 - offset));
    // A click in the 4-point gap above the text.
    cell.setEditable(true);
    EXPECT_EQ(cell.hitTestForEvent(QPointF(50, 11), QRectF(0, 10, 100, 20)), PMTableViewTextFieldCell::HitEditableTextArea);
    cell.setEditable(false);
    EXPECT_EQ(cell.hitTestForEvent(QPointF(50, 11), QRectF(0, 10, 100, 20)), PMTableViewTextFieldCell::HitNone);
    PMTableViewTextFieldCell text;
    EXPECT_EQ(text.verticallyOffsetRect(QRectF(0, 10, 100, 20)), QRectF(0, 10, 100, 20));

    // Tokens wider than the cell: solid at the start, clear just before the ellipsis.
    PMTableViewTokenFieldCell tokens;
    PMTableCellAppearance a;
    a.font.setPointSizeF(11);
    tokens.setAppearance(a);
    tokens.setObjectValue({QStringLiteral("Documentary"), QStringLiteral("Drama"), QStringLiteral("Comedy")});
    ASSERT_GT(tokens.naturalWidth(), 160);
    QImage image(160, 24, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    {
        QPainter p(&image);
        tokens.drawInteriorWithFrame(p, QRectF(0, 0, 160, 24), nullptr);
    }
    const double ellipsis = QFontMetricsF(a.font).horizontalAdvance(PMTokenPillPainter::ellipsisText(false));
    const QColor plate = image.pixelColor(3, 12);
    EXPECT_NE(plate, QColor(Qt::white));
    const QColor faded = image.pixelColor(int(160 - ellipsis) - 1, 12);
    EXPECT_GE(faded.red(), 245);
    EXPECT_GE(faded.green(), 245);
    // Tokens that fit are drawn whole and without the ellipsis.
    tokens.setObjectValue({QStringLiteral("Drama")});
    QImage fits(160, 24, QImage::Format_ARGB32_Premultiplied);
    fits.fill(Qt::white);
    {
        QPainter p(&fits);
        tokens.drawInteriorWithFrame(p, QRectF(0, 0, 160, 24), nullptr);
    }
    for (int x = 120; x < 160; ++x)
        EXPECT_EQ(fits.pixelColor(x, 12), QColor(Qt::white));
}

TEST_F(PanelTablesTest, NewValuesSheetAddsCheckedValuesToTheRowsTag)
{
    tagLibrary();
    const auto tags = entry({{QStringLiteral("Tag"), Value(QStringLiteral("Tags"))}});
    auto genre = entry({{QStringLiteral("Tag"), Value(QStringLiteral("Genre"))}, {QStringLiteral("Value"), Value(QStringLiteral("Drama"))}});
    showPropertyList({tags, genre}, {Value(movies[0])});
    table->selectRow(0);
    // "New..." (the pop-up's second item) opens the sheet for the row's tag.
    c().tableViewSetObjectValue(table.get(), Value(1LL), QStringLiteral("ChooseValue"), 0);
    ASSERT_TRUE(c().infoNewTagPanel);
    EXPECT_TRUE(c().infoNewTagPanel->isVisible());
    auto* title = qobject_cast<QLabel*>(c().infoNewTagTitleField.data());
    ASSERT_TRUE(title);
    EXPECT_EQ(title->text(), QStringLiteral("New \"Genre\" Values"));
    EXPECT_FALSE(c().infoNewTagOKButton->isEnabled());
    auto* field = qobject_cast<QLineEdit*>(c().infoNewTagTokenField.data());
    ASSERT_TRUE(field);
    field->setText(QStringLiteral("Noir, Horror, noir"));
    EXPECT_TRUE(c().infoNewTagOKButton->isEnabled());
    c().newTagValueOK(nullptr);
    EXPECT_FALSE(c().infoNewTagPanel->isVisible());
    QStringList checked;
    for (const Value& v : *genre->value(QStringLiteral("Checked Separate Values")).array())
        checked << v.string();
    EXPECT_EQ(checked, QStringList({QStringLiteral("Noir"), QStringLiteral("Horror")}));
    EXPECT_TRUE(genre->value(QStringLiteral("Value")).string().contains(QStringLiteral("Noir")));
    // The new values are known for completion from now on.
    EXPECT_TRUE(c().valuesForTag(QStringLiteral("Genre"), QString(), nullptr, PMNotFound).contains(QStringLiteral("Horror")));
    delete c().infoNewTagPanel.data();
}
