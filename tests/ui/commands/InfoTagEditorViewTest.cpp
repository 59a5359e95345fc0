// The info panel's tag editor as the user drives it: the tag list and the property list
// clear each other's selection, a quick click on the last column offers the row's values,
// the reference menu of an edited cell, adding from the add button's menu, deleting from
// the delete button, renames in the selected movies only, and Cancel forgetting renames.
#include "library/model/ModelFixture.h"

#include "foundation/NSDictionary+PMExtensions.h"
#include "library/model/PMInfoTagEditor.h"
#include "platform/Alert.h"
#include "platform/EventClock.h"
#include "platform/Responder.h"
#include "ui/commands/PMInfoPanel.h"
#include "ui/commands/PMInfoTagEditorView.h"
#include "ui/commands/PMMetaReferenceTokenField.h"
#include "ui/commands/PMTagEditorTableView.h"
#include "ui/commands/PMTagValueSwitch.h"

#include <QtCore/QTimer>
#include <QtGui/QAction>
#include <QtGui/QClipboard>
#include <QtTest/QTest>
#include <QtWidgets/QApplication>
#include <QtWidgets/QCheckBox>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QMenu>
#include <QtWidgets/QToolButton>

using platform::Array;
using platform::Dictionary;
using platform::DictionaryPtr;
using platform::Value;
namespace R = PMInfoTagRecord;

namespace {

PMMainController& c()
{
    return mainController();
}

QString tagValue(const PMMovieRepresentationOriginalPtr& m, const QString& key)
{
    const DictionaryPtr tags = m->cachedTags();
    const DictionaryPtr entry = tags ? tags->value(key).dictionary() : nullptr;
    return entry ? entry->value(QStringLiteral("Value")).string() : QString();
}

// Closes every pop-up menu as soon as it opens, and counts them.
struct PopUpCloser {
    PopUpCloser()
    {
        QObject::connect(&timer, &QTimer::timeout, [this] {
            if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
                ++opened;
                menu->close();
            }
        });
        timer.start(5);
    }
    QTimer timer;
    int opened = 0;
};

} // namespace

class InfoTagEditorViewTest : public ModelTest {
protected:
    void SetUp() override
    {
        ModelTest::SetUp();
        for (const char* key : {"Filter Tag Editor", "Persistent Tags", "Import Metadata: Names", "Pop Up Property Values After Delay"})
            platform::UserDefaults::standard().removeObjectForKey(QString::fromLatin1(key));
        m1 = movie(QStringLiteral("m1"));
        m1->setValue(QStringLiteral("Drama, Comedy"), QStringLiteral("Genre"));
        m1->setValue(QStringLiteral("calm"), QStringLiteral("Mood"));
        m2 = movie(QStringLiteral("m2"));
        m2->setValue(QStringLiteral("Drama, Thriller"), QStringLiteral("Genre"));
        m3 = movie(QStringLiteral("m3"));
        m3->setValue(QStringLiteral("Horror"), QStringLiteral("Genre"));
        m3->setValue(QStringLiteral("tense"), QStringLiteral("Mood"));
        library({Value(folder(QStringLiteral("F"), {Value(m1), Value(m2), Value(m3)}))});
        c().invalidateTagTypes();
        // This view stands in for the info panel's own: a panel an earlier test of the
        // process loaded goes, so that none is left whose tables the controller no longer names.
        delete c()._infoPanel.data();
        view = std::make_unique<PMInfoTagEditorView>();
        view->resize(520, 420);
    }
    void TearDown() override
    {
        platform::setAlertHandler(nullptr);
        if (c().infoNewTagPanel)
            c().infoNewTagPanel->hide();
        view->releaseInfoTagEditorState();
        view.reset();
        c()._infoMovieRepresentations = nullptr;
        for (const char* key : {"Filter Tag Editor", "Persistent Tags", "Import Metadata: Names", "Pop Up Property Values After Delay"})
            platform::UserDefaults::standard().removeObjectForKey(QString::fromLatin1(key));
        ModelTest::TearDown();
    }
    void prepare(std::initializer_list<Value> movies)
    {
        view->prepareInfoTagEditorIncludingRating(Array::make(movies), true);
        view->show();
        QApplication::setActiveWindow(view.get());
        QApplication::processEvents();
    }
    // The property-list row of a record (record r + 1 shows in row r).
    int rowOf(const QString& tag) const
    {
        for (qsizetype i = 1; i < c()._filteredInfoTags->count(); ++i)
            if (R::tag(c()._filteredInfoTags->at(i).dictionary()) == tag)
                return int(i - 1);
        return -1;
    }
    QPoint cellCenter(PMTagEditorTableView* table, const QString& identifier, int row) const
    {
        return table->visualRect(table->tableModel()->index(row, table->columnWithIdentifier(identifier))).center();
    }
    bool selected(PMTagEditorTableView* table) const { return table->selectionModel()->hasSelection(); }

    PMMovieRepresentationOriginalPtr m1, m2, m3;
    std::unique_ptr<PMInfoTagEditorView> view;
};

TEST_F(InfoTagEditorViewTest, TheTwoTablesClearEachOthersSelection)
{
    prepare({Value(m1), Value(m2)});
    PMTagEditorTableView* tags = view->tagList();
    PMTagEditorTableView* properties = view->propertyList();
    ASSERT_EQ(tags->siblingEditorTableView(), properties);
    EXPECT_GE(properties->columnWithIdentifier(QStringLiteral("State")), 0); // several movies

    QTest::mouseClick(properties->viewport(), Qt::LeftButton, {}, cellCenter(properties, QStringLiteral("Tag"), rowOf(QStringLiteral("Genre"))));
    EXPECT_TRUE(selected(properties));
    QTest::mouseClick(tags->viewport(), Qt::LeftButton, {}, cellCenter(tags, QStringLiteral("Tag"), 0));
    EXPECT_TRUE(selected(tags));
    EXPECT_FALSE(selected(properties));
    QTest::mouseClick(properties->viewport(), Qt::LeftButton, {}, cellCenter(properties, QStringLiteral("Tag"), rowOf(QStringLiteral("Mood"))));
    EXPECT_FALSE(selected(tags));
    EXPECT_TRUE(view->deleteButton()->isEnabled());
    // Below the last row: nothing stays selected anywhere.
    QTest::mouseClick(properties->viewport(), Qt::LeftButton, {}, QPoint(20, properties->viewport()->height() - 3));
    EXPECT_FALSE(selected(properties));
    EXPECT_FALSE(selected(tags));

    // One movie: no state column.
    prepare({Value(m1)});
    EXPECT_LT(properties->columnWithIdentifier(QStringLiteral("State")), 0);
}

TEST_F(InfoTagEditorViewTest, TheStateColumnKeepsItsWidthAfterOneMovie)
{
    // The state column takes the place where the values stretched for one movie: it must
    // come back as narrow as its check box, whatever was shown before.
    for (bool oneFirst : {false, true}) {
        if (oneFirst)
            prepare({Value(m1)});
        prepare({Value(m1), Value(m2)});
        for (PMTagEditorTableView* table : {view->tagList(), view->propertyList()}) {
            const int state = table->columnWithIdentifier(QStringLiteral("State"));
            ASSERT_GE(state, 0);
            EXPECT_LE(table->columnWidth(state), 30) << "after one movie: " << oneFirst;
            EXPECT_GT(table->columnWidth(table->columnWithIdentifier(QStringLiteral("Value"))), 150);
        }
    }
}

TEST_F(InfoTagEditorViewTest, AQuickClickOnTheLastColumnOffersTheRowsValues)
{
    prepare({Value(m1), Value(m2)});
    PMTagEditorTableView* properties = view->propertyList();
    const int row = rowOf(QStringLiteral("Genre"));
    const QPoint last = cellCenter(properties, QStringLiteral("ChooseValue"), row);
    ASSERT_EQ(properties->columnWithIdentifier(QStringLiteral("ChooseValue")), int(properties->tableColumns().size()) - 1);

    struct Case {
        bool popUpAfterDelay;
        Qt::KeyboardModifiers modifiers;
        bool heldLonger;
        bool offersValues;
    } cases[] = {
        {true, {}, false, true},                // released at once
        {false, Qt::AltModifier, false, true},  // Alt turns the setting round
        {false, Qt::ControlModifier, false, true}, // so does Ctrl (Alt+click rarely gets past X11 window managers)
        {false, {}, false, false},              // the pop-up opens at once
        {true, Qt::AltModifier, false, false},  // ... also with the setting and Alt
        {true, Qt::ControlModifier, false, false},
        {true, {}, true, false},                // held: the table handles the press
    };
    platform::steerEventClockForTesting(true);
    for (const Case& k : cases) {
        platform::UserDefaults::standard().setBool(k.popUpAfterDelay, QStringLiteral("Pop Up Property Values After Delay"));
        if (c().infoNewTagPanel)
            c().infoNewTagPanel->hide();
        PopUpCloser closer;
        QTest::mousePress(properties->viewport(), Qt::LeftButton, k.modifiers, last);
        if (k.heldLonger) {
            EXPECT_TRUE(properties->isWaitingForQuickClick());
            platform::advanceEventClockForTesting(PMTagEditorTableView::kQuickClickInterval + 0.05);
            EXPECT_FALSE(properties->isWaitingForQuickClick());
        }
        QTest::mouseRelease(properties->viewport(), Qt::LeftButton, k.modifiers, last);
        const bool offered = c().infoNewTagPanel && c().infoNewTagPanel->isVisible();
        EXPECT_EQ(offered, k.offersValues) << k.popUpAfterDelay << " " << int(k.modifiers) << " " << k.heldLonger;
        EXPECT_EQ(closer.opened, k.offersValues ? 0 : 1) << k.popUpAfterDelay << " " << int(k.modifiers) << " " << k.heldLonger;
    }
    platform::steerEventClockForTesting(false);
}

TEST_F(InfoTagEditorViewTest, AnEditedCellTakesReferencesFromItsMenu)
{
    QApplication::clipboard()->setText(QStringLiteral("clip"));
    prepare({Value(m1)});
    PMTagEditorTableView* properties = view->propertyList();
    QAction item(QStringLiteral("Insert Reference"));
    platform::setMenuItemAction(&item, QStringLiteral("insertMetaReference"));
    QMenu submenu;
    item.setMenu(&submenu);
    EXPECT_FALSE(properties->validateMenuItem(&item)); // no cell is edited

    const int row = rowOf(QStringLiteral("Mood"));
    properties->setFocus();
    ASSERT_TRUE(properties->editColumn(properties->columnWithIdentifier(QStringLiteral("Value")), row, true));
    ASSERT_TRUE(properties->fieldEditor());
    EXPECT_TRUE(properties->validateMenuItem(&item));
    QStringList titles;
    for (QAction* a : submenu.actions())
        if (!a->isSeparator())
            titles << a->text();
    EXPECT_TRUE(titles.contains(QStringLiteral("Genre")));
    EXPECT_FALSE(titles.contains(QStringLiteral("Mood"))); // the edited tag itself
    EXPECT_TRUE(titles.contains(QStringLiteral("Name")));
    EXPECT_EQ(properties->fieldEditor()->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignLeading);

    QAction genre(QStringLiteral("Genre"));
    platform::setMenuItemRepresentedObject(&genre, Value(QStringLiteral("<?meta:Genre?>")));
    properties->fieldEditor()->setText(QStringLiteral("calm, "));
    properties->insertMetaReference(&genre);
    EXPECT_EQ(properties->fieldEditor()->text(), QStringLiteral("calm, <?meta:Genre?>"));
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("clip"));
    properties->fieldEditor()->undo();
    EXPECT_EQ(properties->fieldEditor()->text(), QStringLiteral("calm, "));
    properties->commitEditing();
}

TEST_F(InfoTagEditorViewTest, TheAddMenuShowsHiddenRowsAndTheDeleteButtonRemovesOrClears)
{
    platform::UserDefaults::standard().setObject(Value(Dictionary::make({{QStringLiteral("studio"), QStringLiteral("Studio")}})),
                                                 QStringLiteral("Persistent Tags"));
    platform::UserDefaults::standard().setBool(true, QStringLiteral("Filter Tag Editor"));
    prepare({Value(m2)});
    EXPECT_EQ(rowOf(QStringLiteral("Studio")), -1);
    EXPECT_EQ(rowOf(QStringLiteral("Mood")), -1); // m2 has none
    EXPECT_FALSE(view->filterButton()->isHidden());
    EXPECT_EQ(view->waitForMenuForOptionalMenuButton(view->addButton()), std::optional<bool>(false));

    QMenu* menu = view->menuForOptionalMenuButton(view->addButton());
    ASSERT_TRUE(menu);
    QAction* studio = nullptr;
    for (QAction* a : menu->actions())
        if (a->text() == QStringLiteral("Studio"))
            studio = a;
    ASSERT_TRUE(studio);
    EXPECT_EQ(menu->actions().first()->text(), QStringLiteral("New..."));
    studio->trigger();
    const int row = rowOf(QStringLiteral("Studio"));
    ASSERT_GE(row, 0);
    EXPECT_TRUE(view->propertyList()->selectionModel()->isRowSelected(row, QModelIndex()));

    // Genre: m1 and m3 carry it too, so the button clears it here only.
    view->propertyList()->selectRow(rowOf(QStringLiteral("Genre")));
    QTest::mouseClick(view->deleteButton(), Qt::LeftButton);
    ASSERT_GE(rowOf(QStringLiteral("Genre")), 0);
    // Studio (no movie has it): deleted.
    view->propertyList()->selectRow(rowOf(QStringLiteral("Studio")));
    QTest::mouseClick(view->deleteButton(), Qt::LeftButton);
    EXPECT_EQ(rowOf(QStringLiteral("Studio")), -1);
    view->absorbInfo(std::nullopt);
    EXPECT_FALSE(m2->cachedTags()->contains(QStringLiteral("genre")));
    EXPECT_EQ(tagValue(m1, QStringLiteral("genre")), QStringLiteral("Drama, Comedy"));
    const DictionaryPtr persistent = platform::UserDefaults::standard().dictionaryForKey(QStringLiteral("Persistent Tags"));
    ASSERT_TRUE(persistent);
    EXPECT_FALSE(persistent->contains(QStringLiteral("studio")));
}

TEST_F(InfoTagEditorViewTest, RenamesInTheSelectedMoviesKeepTheirValuesAndCancelForgetsRenames)
{
    int answer = 0;
    platform::setAlertHandler([&](const platform::Alert&) { return platform::AlertResponse{answer, false}; });
    PMTagEditorTableView* properties = view->propertyList();

    // "Rename All" of a tag other movies have too, then Cancel: nothing changes anywhere.
    prepare({Value(m1), Value(m2)});
    answer = 2;
    c().tableViewSetObjectValue(properties, Value(QStringLiteral("Feeling")), QStringLiteral("Tag"), rowOf(QStringLiteral("Mood")));
    ASSERT_GE(rowOf(QStringLiteral("Feeling")), 0);
    view->infoCancel();
    EXPECT_EQ(tagValue(m1, QStringLiteral("mood")), QStringLiteral("calm"));
    EXPECT_EQ(tagValue(m3, QStringLiteral("mood")), QStringLiteral("tense"));
    EXPECT_FALSE(c()._tagTypes.contains(QStringLiteral("feeling")));
    prepare({Value(m1), Value(m2)});
    EXPECT_GE(rowOf(QStringLiteral("Mood")), 0);
    EXPECT_EQ(rowOf(QStringLiteral("Feeling")), -1);

    // In the selected files only: each edited movie keeps its own genres under the new name.
    answer = 0;
    c().tableViewSetObjectValue(properties, Value(QStringLiteral("Kind")), QStringLiteral("Tag"), rowOf(QStringLiteral("Genre")));
    view->absorbInfo(std::nullopt);
    EXPECT_EQ(tagValue(m1, QStringLiteral("kind")), QStringLiteral("Drama, Comedy"));
    EXPECT_EQ(tagValue(m2, QStringLiteral("kind")), QStringLiteral("Drama, Thriller"));
    EXPECT_FALSE(m1->cachedTags()->contains(QStringLiteral("genre")));
    EXPECT_EQ(tagValue(m3, QStringLiteral("genre")), QStringLiteral("Horror"));
}

TEST_F(InfoTagEditorViewTest, ARenameInTheSelectedFilesGetsValuesOfItsOwn)
{
    platform::setAlertHandler([&](const platform::Alert&) { return platform::AlertResponse{0, false}; });
    PMTagEditorTableView* properties = view->propertyList();
    prepare({Value(m1), Value(m2)});
    // Values chosen on the row first, so that it has checked and unchecked values.
    c().tableViewSetObjectValue(properties, Value(Array::make({Value(QStringLiteral("Drama"))})), QStringLiteral("Value"), rowOf(QStringLiteral("Genre")));
    const DictionaryPtr genre = c()._filteredInfoTags->at(rowOf(QStringLiteral("Genre")) + 1).dictionary();
    ASSERT_TRUE(genre->value(QStringLiteral("Checked Separate Values")).array());
    ASSERT_TRUE(genre->value(QStringLiteral("Unchecked Separate Values")).array());
    const Value checkedBefore = Value(deeplyMutableCopy(genre->value(QStringLiteral("Checked Separate Values")).array()));
    const Value uncheckedBefore = Value(deeplyMutableCopy(genre->value(QStringLiteral("Unchecked Separate Values")).array()));

    c().tableViewSetObjectValue(properties, Value(QStringLiteral("Kind")), QStringLiteral("Tag"), rowOf(QStringLiteral("Genre")));
    ASSERT_GE(rowOf(QStringLiteral("Kind")), 0);
    // The renamed row is the chosen one: values added there stay there.
    c().addInfoTagValues({QStringLiteral("Western"), QStringLiteral("Comedy")});
    const DictionaryPtr kind = c()._filteredInfoTags->at(rowOf(QStringLiteral("Kind")) + 1).dictionary();
    EXPECT_TRUE(kind->value(QStringLiteral("Checked Separate Values")).array()->count() > checkedBefore.array()->count());
    EXPECT_EQ(genre->value(QStringLiteral("Checked Separate Values")), checkedBefore);
    EXPECT_EQ(genre->value(QStringLiteral("Unchecked Separate Values")), uncheckedBefore);
}

TEST_F(InfoTagEditorViewTest, TypedNotesAreMeantForEveryMovie)
{
    m1->setValue(QStringLiteral("one"), QStringLiteral("Notes"));
    m2->setValue(QStringLiteral("two"), QStringLiteral("Notes"));
    c().invalidateTagTypes();
    prepare({Value(m1), Value(m2)});
    EXPECT_EQ(view->notesField()->toPlainText(), QStringLiteral("one\n\ntwo"));
    ASSERT_FALSE(view->notesSwitch()->isHidden());
    EXPECT_FALSE(view->notesSwitch()->isChecked());
    view->notesField()->setFocus();
    view->notesField()->selectAll();
    QTest::keyClicks(view->notesField(), QStringLiteral("both"));
    EXPECT_TRUE(view->notesSwitch()->isChecked());
    view->absorbInfo(std::nullopt);
    EXPECT_EQ(tagValue(m1, QStringLiteral("notes")), QStringLiteral("both"));
    EXPECT_EQ(tagValue(m2, QStringLiteral("notes")), QStringLiteral("both"));
}

// The value pop-up of a row opens with the row's values as switches (on for every edited
// movie, mixed for some), "Import" with the references of the other rows, and the row's
// "Clear" at the end; the switches and the references change that row.
TEST_F(InfoTagEditorViewTest, TheValuePopUpSwitchesAndImportsValuesOfItsRow)
{
    platform::UserDefaults::standard().setBool(false, QStringLiteral("Pop Up Property Values After Delay"));
    c().installMenuCommands();
    prepare({Value(m1), Value(m2)});
    c().infoWindow = view.get();
    PMTagEditorTableView* properties = view->propertyList();
    const int row = rowOf(QStringLiteral("Genre"));
    const DictionaryPtr genre = c()._filteredInfoTags->at(row + 1).dictionary();

    QStringList titles;
    QStringList states; // "value=state"
    QStringList references;
    bool inspected = false;
    QTimer inspector;
    QObject::connect(&inspector, &QTimer::timeout, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu || inspected)
            return;
        inspected = true;
        for (QAction* a : menu->actions())
            titles << (a->isSeparator() ? QStringLiteral("-") : a->text());
        for (PMTagValueSwitch* valueSwitch : menu->findChildren<PMTagValueSwitch*>())
            states << QStringLiteral("%1=%2").arg(valueSwitch->tagValue).arg(valueSwitch->switchState());
        // Drama, on for both movies, is switched off.
        for (PMTagValueSwitch* valueSwitch : menu->findChildren<PMTagValueSwitch*>())
            if (valueSwitch->tagValue == QLatin1String("Drama"))
                valueSwitch->click();
        // A reference to the mood goes into the row.
        for (QAction* a : menu->actions())
            if (a->menu() && a->text() == QLatin1String("Import"))
                for (QAction* reference : a->menu()->actions())
                    if ((references << reference->text()).constLast() == QLatin1String("Mood"))
                        platform::performMenuItem(reference);
        menu->close();
    });
    inspector.start(5);
    QTest::mouseClick(properties->viewport(), Qt::LeftButton, {}, cellCenter(properties, QStringLiteral("ChooseValue"), row));
    ASSERT_TRUE(testsupport::waitUntil([&] { return inspected; }));
    c().infoWindow = nullptr;

    // The title, "New...", "Import", the values carried by the edited movies, "Clear".
    ASSERT_GE(titles.size(), 5);
    EXPECT_EQ(titles.mid(1, 3), (QStringList{"New...", "Import", "-"}));
    EXPECT_EQ(titles.constLast(), QStringLiteral("Clear"));
    EXPECT_EQ(titles.at(titles.size() - 2), QStringLiteral("-"));
    EXPECT_EQ(states.join(u' ').toStdString(), "Comedy=-1 Drama=1 Horror=0 Thriller=-1");
    EXPECT_TRUE(references.contains(QStringLiteral("Mood"))) << references.join(u'|').toStdString();
    const auto listed = [&](const char* key) {
        QStringList values;
        if (const platform::ArrayPtr list = genre->value(QString::fromLatin1(key)).array())
            for (const Value& v : *list)
                values << v.string();
        return values;
    };
    EXPECT_TRUE(listed("Unchecked Separate Values").contains(QStringLiteral("Drama")));
    EXPECT_TRUE(listed("Checked Separate Values").contains(QStringLiteral("<?meta:Mood?>")));
}
