// The smart-group editor: criteria to controls and back, the defaults of absent criteria,
// OK and Cancel, tag criteria, the unit step of relative dates, and duplicating a group.
#include "library/model/ModelFixture.h"

#include "platform/Responder.h"
#include "ui/commands/PMMetaReferenceTokenField.h"
#include "ui/commands/PMSmartPlaylistPanel.h"
#include "ui/kit/PMRatingView.h"
#include "ui/library_window/PMAutoCompleteTableView.h"

#include <QtGui/QAction>
#include <QtTest/QTest>
#include <QtWidgets/QCheckBox>
#include <QtWidgets/QComboBox>
#include <QtWidgets/QLayout>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QSpinBox>

using platform::Array;
using platform::Dictionary;
using platform::DictionaryPtr;
using platform::Value;

namespace {

DictionaryPtr dict(std::initializer_list<std::pair<QString, Value>> entries)
{
    return Dictionary::make(entries);
}

DictionaryPtr entry(bool enabled, long long action, const Value& value, std::optional<long long> unit = std::nullopt)
{
    auto d = dict({{QStringLiteral("Enabled"), enabled}, {QStringLiteral("Action"), action}, {QStringLiteral("Value"), value}});
    if (unit)
        d->setValue(QStringLiteral("Unit"), *unit);
    return d;
}

class SmartPlaylistEditorTest : public ModelTest {
protected:
    void TearDown() override
    {
        PMMainController& c = mainController();
        if (c.smartPlaylistPanel)
            c.smartPlaylistCancel(nullptr);
        ModelTest::TearDown();
    }
    PMLibraryContainerPtr group(const DictionaryPtr& criteria)
    {
        auto g = PMLibraryContainer::make({{QStringLiteral("Name"), QStringLiteral("Edited")}, {QStringLiteral("Smart"), true}});
        if (criteria)
            g->setValue(QStringLiteral("Criteria"), Value(criteria));
        mainController().smartGroupStorage()->rawChildren()->append(Value(g));
        return g;
    }
};

TEST_F(SmartPlaylistEditorTest, CriteriaGoIntoTheControlsAndComeBackUnchanged)
{
    PMMainController& c = mainController();
    library({});
    const auto tags = Array::make({Value(dict({{QStringLiteral("Enabled"), true}, {QStringLiteral("Tag"), "Genre"}, {QStringLiteral("Action"), 6LL},
                                               {QStringLiteral("Value"), "drama"}}))});
    const DictionaryPtr criteria = dict({{QStringLiteral("Match Any"), true},
                                         {QStringLiteral("Tags"), Value(tags)},
                                         {QStringLiteral("Name"), Value(entry(true, 2, "The"))},
                                         {QStringLiteral("Rating"), Value(entry(false, 3, 4LL))},
                                         {QStringLiteral("Time"), Value(entry(true, 5, 90LL, 1))},
                                         {QStringLiteral("Relative Date"), Value(entry(true, 4, 30LL, 0))},
                                         {QStringLiteral("Relative Playback Date"), Value(entry(false, 5, 2LL, 3))},
                                         {QStringLiteral("Subdivider Tag"), "Genre, Year <= 5"},
                                         {QStringLiteral("Subdivider Others Behavior"), 1LL},
                                         {QStringLiteral("Subdivider Threshold"), 2LL},
                                         {QStringLiteral("Subdivider Bypass Level"), -1LL}});
    PMLibraryContainerPtr g = group(criteria);
    g->setValue(QStringLiteral("Continue"), false);
    bool handled = false;
    c.editSmartGroup(g, [&] { handled = true; });
    ASSERT_TRUE(c.smartPlaylistPanel);
    PMSmartPlaylistPanel& panel = *c.smartPlaylistPanel;
    EXPECT_TRUE(panel.isVisible());
    EXPECT_EQ(panel.windowTitle(), QStringLiteral("Edited"));
    EXPECT_EQ(panel.subdividerKind(), 3);
    EXPECT_TRUE(panel.dividerTagRow->isVisibleTo(&panel));
    EXPECT_EQ(panel.smartPlaylistContinueSwitch->checkState(), Qt::Unchecked);
    EXPECT_EQ(c._currentlyEditedSmartPlaylistTags->count(), 1);
    c.smartPlaylistOK(nullptr);
    EXPECT_TRUE(handled);
    EXPECT_FALSE(panel.isVisible());
    const DictionaryPtr saved = g->value(QStringLiteral("Criteria")).dictionary();
    for (const char* key : {"Match Any", "Tags", "Name", "Rating", "Time", "Relative Date", "Relative Playback Date", "Subdivider Tag",
                            "Subdivider Others Behavior", "Subdivider Threshold", "Subdivider Bypass Level"}) {
        SCOPED_TRACE(key);
        EXPECT_EQ(saved->value(QString::fromLatin1(key)), criteria->value(QString::fromLatin1(key)));
    }
    EXPECT_EQ(g->value(QStringLiteral("Continue")), Value(false));
}

TEST_F(SmartPlaylistEditorTest, AbsentCriteriaTakeTheirDefaultsAndValuesAreRaisedToTheirMinimum)
{
    PMMainController& c = mainController();
    library({});
    PMLibraryContainerPtr g = group(nullptr);
    c.editSmartGroup(g, nullptr);
    PMSmartPlaylistPanel& panel = *c.smartPlaylistPanel;
    EXPECT_FALSE(panel.matchModeRow->isVisibleTo(&panel)); // fewer than two criteria on
    EXPECT_EQ(PMSmartPlaylistPanel::selectedTag(panel.smartPlaylistNameAction), 6);
    EXPECT_EQ(panel.smartPlaylistRatingNumber->rating().toLongLong(), 5);
    EXPECT_EQ(PMSmartPlaylistPanel::selectedTag(panel.smartPlaylistTimeUnit), 2);
    EXPECT_EQ(panel.smartPlaylistTimeField->value(), 1);
    EXPECT_EQ(PMSmartPlaylistPanel::selectedTag(panel.smartPlaylistDateAction), 4);
    EXPECT_EQ(PMSmartPlaylistPanel::selectedTag(panel.smartPlaylistDateUnit), 0);
    EXPECT_EQ(panel.smartPlaylistContinueSwitch->checkState(), Qt::PartiallyChecked);
    EXPECT_TRUE(panel.smartPlaylistContinueSwitchExplanationField->isVisibleTo(&panel));
    EXPECT_EQ(panel.subdividerKind(), 0);
    EXPECT_FALSE(panel.flattenRow->isVisibleTo(&panel));

    // Two criteria on: the match mode shows. Kind 3 without levels stores an empty list.
    panel.smartPlaylistDateSwitch->setChecked(true);
    panel.smartPlaylistRatingSwitch->setChecked(true);
    EXPECT_TRUE(panel.matchModeRow->isVisibleTo(&panel));
    PMSmartPlaylistPanel::selectTag(panel.smartPlaylistDividerModeSelector, 3);
    c.smartPlaylistOK(nullptr);
    const DictionaryPtr saved = g->value(QStringLiteral("Criteria")).dictionary();
    EXPECT_EQ(saved->value(QStringLiteral("Subdivider Tag")), Value(QString()));
    EXPECT_EQ(saved->value(QStringLiteral("Relative Date")).dictionary()->value(QStringLiteral("Value")).toLongLong(), 1);
    EXPECT_FALSE(saved->contains(QStringLiteral("Match Any")));
    EXPECT_FALSE(saved->contains(QStringLiteral("Tags")));
    EXPECT_FALSE(g->contains(QStringLiteral("Continue")));

    // Cancel changes nothing.
    const Value before = g->value(QStringLiteral("Criteria"));
    c.editSmartGroup(g, [] { FAIL() << "the handler runs only after OK"; });
    c.smartPlaylistPanel->smartPlaylistNameSwitch->setChecked(true);
    c.smartPlaylistCancel(nullptr);
    EXPECT_EQ(g->value(QStringLiteral("Criteria")).dictionary().get(), before.dictionary().get());
}

TEST_F(SmartPlaylistEditorTest, StoredValuesThePopUpsDoNotOfferSurviveOK)
{
    PMMainController& c = mainController();
    library({});
    // Values of an older version or of the settings file, which no item of the pop-ups has.
    const DictionaryPtr criteria = dict({{QStringLiteral("Name"), Value(entry(true, 9, "x"))},
                                         {QStringLiteral("Subdivide By Rating"), true},
                                         {QStringLiteral("Subdivider Others Behavior"), 7LL},
                                         {QStringLiteral("Subdivider Threshold"), 4LL},
                                         {QStringLiteral("Subdivider Bypass Level"), 3LL}});
    PMLibraryContainerPtr g = group(criteria);
    c.editSmartGroup(g, nullptr);
    PMSmartPlaylistPanel& panel = *c.smartPlaylistPanel;
    EXPECT_EQ(panel.smartPlaylistDividerTagThresholdSelector->currentText(), QStringLiteral("4 or fewer"));
    c.smartPlaylistOK(nullptr);
    const DictionaryPtr saved = g->value(QStringLiteral("Criteria")).dictionary();
    for (const char* key : {"Subdivider Others Behavior", "Subdivider Threshold", "Subdivider Bypass Level"}) {
        SCOPED_TRACE(key);
        EXPECT_EQ(saved->value(QString::fromLatin1(key)), criteria->value(QString::fromLatin1(key)));
    }
    EXPECT_EQ(saved->value(QStringLiteral("Name")).dictionary()->value(QStringLiteral("Action")), Value(9LL));

    // The items made for them go with the next group.
    const int thresholds = panel.smartPlaylistDividerTagThresholdSelector->count();
    c.editSmartGroup(group(nullptr), nullptr);
    EXPECT_EQ(panel.smartPlaylistDividerTagThresholdSelector->count(), thresholds - 1);
    EXPECT_EQ(panel.smartPlaylistNameAction->findData(QVariant::fromValue(9LL)), -1);
}

TEST_F(SmartPlaylistEditorTest, RowsStayWhereTheyAreWhileCriteriaAreTicked)
{
    PMMainController& c = mainController();
    library({});
    c.editSmartGroup(group(nullptr), nullptr);
    PMSmartPlaylistPanel& panel = *c.smartPlaylistPanel;
    panel.resize(panel.sizeHint());
    const QList<QWidget*> rows = {panel.smartPlaylistNameSwitch, panel.smartPlaylistRatingSwitch, panel.smartPlaylistTimeSwitch,
                                  panel.smartPlaylistDateSwitch, panel.smartPlaylistPlaybackDateSwitch, panel.smartPlaylistTagList,
                                  panel.smartPlaylistDividerModeSelector, panel.smartPlaylistContinueSwitch};
    const auto positions = [&] {
        panel.layout()->activate();
        QList<QPoint> points;
        for (QWidget* row : rows)
            points << row->mapTo(&panel, QPoint(0, 0));
        return points;
    };
    const QList<QPoint> before = positions();
    // The second criterion shows the match mode, the continue switch's explanation goes:
    // neither moves a row under the pointer.
    for (QCheckBox* box : {panel.smartPlaylistDateSwitch, panel.smartPlaylistTimeSwitch}) {
        QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(6, box->height() / 2));
        ASSERT_TRUE(box->isChecked());
    }
    EXPECT_TRUE(panel.matchModeRow->isVisibleTo(&panel));
    panel.smartPlaylistContinueSwitch->setCheckState(Qt::Checked);
    EXPECT_EQ(positions(), before);
}

TEST_F(SmartPlaylistEditorTest, TagCriteriaAreAddedUnusedFirstAndDeleted)
{
    PMMainController& c = mainController();
    auto m = movie(QStringLiteral("M"));
    m->setValue(QStringLiteral("x"), QStringLiteral("Genre"));
    m->setValue(QStringLiteral("y"), QStringLiteral("Year"));
    library({Value(m)});
    c.editSmartGroup(group(nullptr), nullptr);
    QStringList added;
    for (int i = 0; i < 3; ++i) {
        c.smartPlaylistTagAdd(nullptr);
        added.clear();
        for (const Value& v : *c._currentlyEditedSmartPlaylistTags)
            added << v.dictionary()->value(QStringLiteral("Tag")).string();
    }
    // Every known tag is used by the third: the first known one again.
    EXPECT_EQ(added.size(), 3);
    EXPECT_EQ(added.count(QStringLiteral("Genre")), 2);
    EXPECT_EQ(added.count(QStringLiteral("Year")), 1);
    PMAutoCompleteTableView* table = c.smartPlaylistPanel->smartPlaylistTagList;
    table->selectionModel()->select(table->model()->index(0, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    EXPECT_TRUE(c.smartPlaylistPanel->smartPlaylistTagDeleteButton->isEnabled());
    c.smartPlaylistTagDelete(nullptr);
    EXPECT_EQ(c._currentlyEditedSmartPlaylistTags->count(), 2);
}

TEST_F(SmartPlaylistEditorTest, RelativeDateUnitsStepAlongTheLadder)
{
    PMMainController& c = mainController();
    library({});
    PMLibraryContainerPtr g = group(dict({{QStringLiteral("Relative Date"), Value(entry(true, 4, 2LL, 0))},
                                          {QStringLiteral("Relative Playback Date"), Value(entry(true, 4, 2LL, 0))}}));
    const auto unit = [&] { return g->value(QStringLiteral("Criteria")).dictionary()->value(QStringLiteral("Relative Date")).dictionary()->value(QStringLiteral("Unit")).toLongLong(); };
    QString description;
    EXPECT_FALSE(c.changeRelativeDateCriteriaForSmartGroup(g, false, &description)); // below days
    ASSERT_TRUE(c.changeRelativeDateCriteriaForSmartGroup(g, true, &description));
    EXPECT_EQ(description, QStringLiteral("2 weeks"));
    EXPECT_EQ(unit(), 0); // only told
    const long long ladder[] = {3, 1, 2};
    for (long long expected : ladder) {
        ASSERT_TRUE(c.changeRelativeDateCriteriaForSmartGroup(g, true, nullptr));
        EXPECT_EQ(unit(), expected);
    }
    EXPECT_FALSE(c.changeRelativeDateCriteriaForSmartGroup(g, true, nullptr)); // beyond years
    ASSERT_TRUE(c.changeRelativeDateCriteriaForSmartGroup(g, false, nullptr));
    EXPECT_EQ(unit(), 1);

    // Units that differ: nothing happens.
    g->setValue(QStringLiteral("Criteria"), Value(dict({{QStringLiteral("Relative Date"), Value(entry(true, 4, 1LL, 3))},
                                                        {QStringLiteral("Relative Playback Date"), Value(entry(true, 4, 1LL, 0))}})));
    EXPECT_FALSE(c.changeRelativeDateCriteriaForSmartGroup(g, true, nullptr));
    EXPECT_FALSE(c.changeRelativeDateCriteriaForSmartGroup(g, true, &description));
}

TEST_F(SmartPlaylistEditorTest, DuplicatingAGroupRekeysItsSubgroupSettings)
{
    PMMainController& c = mainController();
    library({});
    PMLibraryContainerPtr g = group(dict({{QStringLiteral("Subdivide By Rating"), true}}));
    const QString id = g->uniqueLibraryID();
    g->setValue(QStringLiteral("Subgroup Settings"), Value(dict({{id + QStringLiteral("::a"), Value(dict({{QStringLiteral("Group Content Display Mode"), 2}}))},
                                                                 {QStringLiteral("OTHER::b"), Value(dict({}))}})));
    QAction item;
    platform::setMenuItemRepresentedObject(&item, Value(g));
    c.duplicateSmartPlaylist(&item);
    const auto children = c.smartGroupStorage()->rawChildren();
    ASSERT_EQ(children->count(), 2);
    PMLibraryContainer* copy = PMContainer(children->at(0)) == g.get() ? PMContainer(children->at(1)) : PMContainer(children->at(0));
    ASSERT_NE(copy->uniqueLibraryID(), id);
    const DictionaryPtr settings = copy->value(QStringLiteral("Subgroup Settings")).dictionary();
    ASSERT_TRUE(settings);
    EXPECT_TRUE(settings->contains(copy->uniqueLibraryID() + QStringLiteral("::a")));
    EXPECT_TRUE(settings->contains(QStringLiteral("OTHER::b")));
    EXPECT_EQ(copy->value(QStringLiteral("Criteria")), g->value(QStringLiteral("Criteria")));
    EXPECT_NE(copy->value(QStringLiteral("Criteria")).dictionary().get(), g->value(QStringLiteral("Criteria")).dictionary().get());
}

} // namespace
