// The info panel's tag records without their widgets: built from three movies with the
// library's tag types, filtered, added, deleted or cleared, and written back into the
// movies (single movie, mixed values, unchecked values, notes, renames, import names).
#include "library/model/ModelFixture.h"

#include "foundation/PMCSVParser.h"
#include "library/model/PMInfoTagEditor.h"
#include "library/model/PMTagType.h"

#include <QtCore/QCoreApplication>

using platform::Array;
using platform::ArrayPtr;
using platform::Dictionary;
using platform::DictionaryPtr;
using platform::Value;
namespace R = PMInfoTagRecord;

namespace {

QString tagValue(const PMMovieRepresentationOriginalPtr& m, const QString& key)
{
    const DictionaryPtr tags = m->cachedTags();
    const DictionaryPtr entry = tags ? tags->value(key).dictionary() : nullptr;
    return entry ? entry->value(QStringLiteral("Value")).string() : QString();
}

QStringList recordNames(const ArrayPtr& records)
{
    QStringList names;
    if (records)
        for (const Value& v : *records)
            names << R::tag(v.dictionary());
    return names;
}

} // namespace

class InfoTagEditorTest : public ModelTest {
protected:
    void SetUp() override
    {
        ModelTest::SetUp();
        for (const char* key : {"Filter Tag Editor", "Persistent Tags", "Import Metadata: Names", "Show All Tag Editor Checkboxes"})
            platform::UserDefaults::standard().removeObjectForKey(QString::fromLatin1(key));
        // Three movies: the first two are edited, the third stays outside the panel.
        m1 = movie(QStringLiteral("m1"), -1, 3);
        m1->setValue(QStringLiteral("Drama, Comedy"), QStringLiteral("Genre"));
        m1->setValue(QStringLiteral("2001"), QStringLiteral("Year"));
        m1->setValue(QStringLiteral("first note"), QStringLiteral("Notes"));
        m1->setValue(QStringLiteral("keeper"), QStringLiteral("Tags"));
        m2 = movie(QStringLiteral("m2"), -1, 3);
        m2->setValue(QStringLiteral("Drama, Comedy, Thriller"), QStringLiteral("Genre"));
        m2->setValue(QStringLiteral("calm"), QStringLiteral("Mood"));
        m2->setValue(QStringLiteral("second note"), QStringLiteral("Notes"));
        m3 = movie(QStringLiteral("m3"));
        m3->setValue(QStringLiteral("Horror"), QStringLiteral("Genre"));
        m3->setValue(QStringLiteral("1999"), QStringLiteral("Year"));
        library({Value(folder(QStringLiteral("F"), {Value(m1), Value(m2), Value(m3)}))});
        c().invalidateTagTypes();
    }
    void TearDown() override
    {
        editor.forgetInfoTagEditorState(false);
        c()._infoMovieRepresentations = nullptr;
        PMMovieRepresentationServices::shared().importTagNames = nullptr;
        for (const char* key : {"Filter Tag Editor", "Persistent Tags", "Import Metadata: Names", "Import Metadata: Internal"})
            platform::UserDefaults::standard().removeObjectForKey(QString::fromLatin1(key));
        ModelTest::TearDown();
    }
    static PMMainController& c() { return mainController(); }
    void prepare(std::initializer_list<Value> movies) { editor.prepareInfoTagEditorIncludingRating(Array::make(movies), true); }
    DictionaryPtr record(const QString& name)
    {
        for (const Value& v : *c()._infoTags)
            if (R::tag(v.dictionary()).compare(name, Qt::CaseInsensitive) == 0)
                return v.dictionary();
        return nullptr;
    }
    // Applies with the notes left alone and the rating untouched.
    void absorb(const std::optional<QString>& notes = std::nullopt) { editor.absorbInfoTags(notes, std::nullopt); }

    PMMovieRepresentationOriginalPtr m1, m2, m3;
    PMInfoTagEditor editor{mainController()};
};

TEST_F(InfoTagEditorTest, RecordsOfOneMovieAreImmutableAndWrittenAsEdited)
{
    prepare({Value(m1)});
    // The plain tags first, then the rest by name; notes apart; every library tag present.
    EXPECT_EQ(recordNames(c()._infoTags), (QStringList{QStringLiteral("Tags"), QStringLiteral("Genre"), QStringLiteral("Mood"), QStringLiteral("Year")}));
    for (const Value& v : *c()._infoTags)
        EXPECT_TRUE(R::isImmutable(v.dictionary())) << R::tag(v.dictionary()).toStdString();
    EXPECT_EQ(R::counter(record(QStringLiteral("Genre"))), R::kSharedCounter); // m2 and m3 carry it too
    EXPECT_EQ(R::counter(record(QStringLiteral("Tags"))), 1);
    EXPECT_TRUE(editor.notesSwitchHidden());
    EXPECT_EQ(editor.notesText(), QStringLiteral("first note"));
    EXPECT_TRUE(editor.ratingState().switchHidden);
    EXPECT_EQ(editor.ratingState().rating, 3);

    record(QStringLiteral("Genre"))->setValue(R::kValue, QStringLiteral("Western"));
    record(QStringLiteral("Year"))->setValue(R::kValue, QString()); // an emptied value removes the tag
    absorb(QStringLiteral("changed note"));
    EXPECT_EQ(tagValue(m1, QStringLiteral("genre")), QStringLiteral("Western"));
    EXPECT_FALSE(m1->cachedTags()->contains(QStringLiteral("year")));
    EXPECT_EQ(tagValue(m1, QStringLiteral("notes")), QStringLiteral("changed note"));
    EXPECT_EQ(tagValue(m1, QStringLiteral("tags")), QStringLiteral("keeper"));
    EXPECT_EQ(tagValue(m3, QStringLiteral("genre")), QStringLiteral("Horror"));
}

TEST_F(InfoTagEditorTest, MixedValuesAreKeptAndUncheckedValuesLeaveEveryMovie)
{
    prepare({Value(m1), Value(m2)});
    const DictionaryPtr genre = record(QStringLiteral("Genre"));
    ASSERT_TRUE(genre);
    EXPECT_FALSE(R::isImmutable(genre));
    EXPECT_EQ(genre->value(R::kState).toLongLong(), 0);
    EXPECT_FALSE(editor.ratingState().switchEnabled); // both rated 3

    // Untouched: each movie keeps its own values.
    absorb();
    EXPECT_EQ(tagValue(m1, QStringLiteral("genre")), QStringLiteral("Drama, Comedy"));
    EXPECT_EQ(tagValue(m2, QStringLiteral("genre")), QStringLiteral("Drama, Comedy, Thriller"));

    // Comedy switched off for both: it leaves both, the rest stays as each movie has it.
    prepare({Value(m1), Value(m2)});
    c().toggleInfoTagValue(QStringLiteral("Genre"), QStringLiteral("Comedy"), 0);
    EXPECT_EQ(record(QStringLiteral("Genre"))->value(R::kState).toLongLong(), -1);
    absorb();
    EXPECT_EQ(tagValue(m1, QStringLiteral("genre")), QStringLiteral("Drama"));
    EXPECT_EQ(cachedCSVFields(tagValue(m2, QStringLiteral("genre"))), (QStringList{QStringLiteral("Drama"), QStringLiteral("Thriller")}));
    EXPECT_EQ(tagValue(m3, QStringLiteral("genre")), QStringLiteral("Horror"));

    // A value switched on for both reaches the one without it.
    prepare({Value(m1), Value(m2)});
    c().toggleInfoTagValue(QStringLiteral("Genre"), QStringLiteral("Thriller"), 1);
    absorb();
    EXPECT_EQ(cachedCSVFields(tagValue(m1, QStringLiteral("genre"))), (QStringList{QStringLiteral("Drama"), QStringLiteral("Thriller")}));
}

TEST_F(InfoTagEditorTest, DeletingRemovesATagOnlyTheEditedMoviesHaveAndClearsOneOthersHave)
{
    platform::UserDefaults::standard().setObject(Value(Dictionary::make({{QStringLiteral("mood"), QStringLiteral("Mood")}})),
                                                 QStringLiteral("Persistent Tags"));
    prepare({Value(m1), Value(m2)});
    const DictionaryPtr mood = record(QStringLiteral("Mood"));
    const DictionaryPtr genre = record(QStringLiteral("Genre"));
    const DictionaryPtr tags = record(QStringLiteral("Tags"));
    ASSERT_TRUE(mood && genre && tags);

    struct Case {
        DictionaryPtr record;
        bool removed;
    } cases[] = {{mood, true}, {genre, false}, {tags, false}};
    for (const Case& k : cases) {
        ASSERT_TRUE(editor.canDeleteInfoTag(k.record));
        editor.deleteInfoTag(k.record, false);
        EXPECT_EQ(c()._infoTags->indexOfIdentical(k.record.get()) < 0, k.removed) << R::tag(k.record).toStdString();
        if (!k.removed) {
            EXPECT_EQ(R::value(k.record), QString());
            EXPECT_EQ(k.record->value(R::kState).toLongLong(), 1);
        }
    }
    absorb();
    for (const auto& m : {m1, m2}) {
        EXPECT_FALSE(m->cachedTags()->contains(QStringLiteral("mood")));
        EXPECT_FALSE(m->cachedTags()->contains(QStringLiteral("genre")));
        EXPECT_FALSE(m->cachedTags()->contains(QStringLiteral("tags")));
    }
    EXPECT_EQ(tagValue(m3, QStringLiteral("genre")), QStringLiteral("Horror"));
    const DictionaryPtr persistent = platform::UserDefaults::standard().dictionaryForKey(QStringLiteral("Persistent Tags"));
    ASSERT_TRUE(persistent);
    EXPECT_FALSE(persistent->contains(QStringLiteral("mood")));
    EXPECT_TRUE(persistent->contains(QStringLiteral("genre")));
}

TEST_F(InfoTagEditorTest, DeletingGenreStopsItsImportButNotesAndTagsStay)
{
    // Genre only on the edited movie, so that deleting it is a real deletion.
    m3->setValue(QString(), QStringLiteral("Genre"));
    c().invalidateTagTypes();
    prepare({Value(m1), Value(m2)});
    editor.deleteInfoTag(record(QStringLiteral("Genre")), false);
    editor.deleteInfoTag(record(QStringLiteral("Tags")), false);
    ASSERT_TRUE(editor.replacementImportTagNames());
    absorb();
    QStringList names = PMImportMetadataTagNames();
    EXPECT_FALSE(names.contains(QStringLiteral("Genre")));
    for (const char* kept : {"Notes", "Tags", "Year", "Cast"})
        EXPECT_TRUE(names.contains(QString::fromLatin1(kept))) << kept;

    // Clearing only (the delete button with Alt on a row) never touches the import names.
    prepare({Value(m1)});
    editor.deleteInfoTag(record(QStringLiteral("Year")), true);
    EXPECT_FALSE(editor.replacementImportTagNames());
}

TEST_F(InfoTagEditorTest, AddingANamedPropertyRefersToEachMoviesOwnMetadata)
{
    // The movies carry a year only in their files' metadata; "Year" is no tag of the library.
    for (const auto& m : {m1, m3})
        m->setValue(QString(), QStringLiteral("Year"));
    platform::UserDefaults::standard().setObject(Value(Array::make({Value(QStringLiteral("Genre"))})), QStringLiteral("Import Metadata: Names"));
    platform::UserDefaults::standard().setBool(true, QStringLiteral("Import Metadata: Internal"));
    PMMovieRepresentationServices::shared().importTagNames = [] { return QStringList(mainController()._importTagNames.values()); };
    int year = 1990;
    for (const auto& m : {m1, m2}) {
        m->setMissing(true, false); // no file to read: the metadata below is all there is
        m->userSettings()->setValue(QStringLiteral("Tags: Imported"),
                                    Dictionary::make({{QStringLiteral("itsk/%A9day"), QStringLiteral("%1-01-01").arg(year++)}}));
        m->invalidateCachedTags();
    }
    c().invalidateTagTypes();
    prepare({Value(m1), Value(m2)});
    ASSERT_FALSE(record(QStringLiteral("Year")));

    bool isNew = true;
    const DictionaryPtr added = editor.infoAddTag(QStringLiteral("Year"), &isNew);
    ASSERT_TRUE(added);
    EXPECT_FALSE(isNew);
    EXPECT_EQ(R::value(added), QStringLiteral("<?meta:Year?>"));
    EXPECT_TRUE(c()._filteredInfoTags->indexOfIdentical(added.get()) >= 0);
    absorb();
    EXPECT_EQ(tagValue(m1, QStringLiteral("year")), QStringLiteral("1990"));
    EXPECT_EQ(tagValue(m2, QStringLiteral("year")), QStringLiteral("1991"));

    // Without a name: a new, uniquely named property.
    prepare({Value(m1)});
    const DictionaryPtr first = editor.infoAddTag(QString(), &isNew);
    const DictionaryPtr second = editor.infoAddTag(QString(), &isNew);
    EXPECT_TRUE(isNew);
    EXPECT_EQ(R::tag(first), QStringLiteral("New Property"));
    EXPECT_EQ(R::tag(second), QStringLiteral("New Property 1"));
    EXPECT_EQ(R::value(second), QString());
}

TEST_F(InfoTagEditorTest, FilterHidesUntouchedRowsAndAddingByNameShowsThemAgain)
{
    platform::UserDefaults::standard().setObject(
        Value(Dictionary::make({{QStringLiteral("studio"), QStringLiteral("Studio")}, {QStringLiteral("cast"), QStringLiteral("Cast")}})),
        QStringLiteral("Persistent Tags"));
    platform::UserDefaults::standard().setBool(true, QStringLiteral("Filter Tag Editor"));
    prepare({Value(m2)});
    // Mood and Genre have values; Year (m1, m3 only), Studio and Cast are empty and untouched.
    EXPECT_EQ(recordNames(c()._filteredInfoTags), (QStringList{QStringLiteral("Tags"), QStringLiteral("Genre"), QStringLiteral("Mood")}));
    EXPECT_TRUE(editor.filterButtonVisible());
    EXPECT_FALSE(editor.waitForAddMenu());
    QStringList offered;
    for (const PMInfoAddMenuEntry& e : editor.addMenuEntries())
        offered << (e.separator ? QStringLiteral("-") : e.title);
    EXPECT_EQ(offered.mid(0, 5), (QStringList{QStringLiteral("New..."), QStringLiteral("-"), QStringLiteral("Cast"), QStringLiteral("Studio"),
                                              QStringLiteral("Year")}));
    EXPECT_FALSE(offered.mid(5).contains(QStringLiteral("Cast"))); // persistent: not offered twice
    EXPECT_FALSE(offered.contains(QStringLiteral("Genre")));     // shown already
    EXPECT_TRUE(offered.contains(QStringLiteral("Album")));

    // One hidden row shown; the filter stays on while others are hidden.
    const DictionaryPtr studio = editor.infoAddTag(QStringLiteral("studio"));
    EXPECT_EQ(R::tag(studio), QStringLiteral("Studio"));
    EXPECT_TRUE(recordNames(c()._filteredInfoTags).contains(QStringLiteral("Studio")));
    EXPECT_TRUE(PMInfoTagEditor::filterIsOn());
    editor.infoAddTag(QStringLiteral("Cast"));
    // The last hidden one: the filter goes off and everything shows.
    editor.infoAddTag(QStringLiteral("Year"));
    EXPECT_FALSE(PMInfoTagEditor::filterIsOn());
    EXPECT_EQ(c()._filteredInfoTags->count(), c()._infoTags->count());

    // Toggling it back on hides the untouched ones again.
    editor.filterInfoTags(true);
    EXPECT_TRUE(PMInfoTagEditor::filterIsOn());
    EXPECT_FALSE(recordNames(c()._filteredInfoTags).contains(QStringLiteral("Studio")));
}

TEST_F(InfoTagEditorTest, NotesOfSeveralMoviesAreJoinedAndLeftAloneUnlessSwitchedOn)
{
    prepare({Value(m1), Value(m2)});
    EXPECT_EQ(editor.notesText(), QStringLiteral("first note\n\nsecond note"));
    EXPECT_FALSE(editor.notesSwitchHidden());
    EXPECT_FALSE(editor.notesSwitchOn());
    absorb(std::nullopt); // switch off
    EXPECT_EQ(tagValue(m1, QStringLiteral("notes")), QStringLiteral("first note"));
    EXPECT_EQ(tagValue(m2, QStringLiteral("notes")), QStringLiteral("second note"));

    // Switched on: the typed text for both, references decoded per movie; white space is none.
    prepare({Value(m1), Value(m2)});
    absorb(QStringLiteral("shared, with <?meta:Mood?>"));
    EXPECT_TRUE(tagValue(m1, QStringLiteral("notes")).startsWith(QStringLiteral("shared, with")));
    EXPECT_EQ(tagValue(m2, QStringLiteral("notes")), QStringLiteral("shared, with calm"));
    prepare({Value(m1), Value(m2)});
    absorb(QStringLiteral("  \n "));
    EXPECT_FALSE(m1->cachedTags()->contains(QStringLiteral("notes")));

    // Notes with commas, quotes and line breaks come through whole.
    const QString awkward = QStringLiteral("one, \"two\"\nthree");
    m1->setValue(awkward, QStringLiteral("Notes"));
    m2->setValue(QStringLiteral("plain"), QStringLiteral("Notes"));
    c().invalidateTagTypes();
    prepare({Value(m1)});
    EXPECT_EQ(editor.notesText(), awkward);
    prepare({Value(m1), Value(m2)});
    EXPECT_EQ(editor.notesText(), awkward + QStringLiteral("\n\nplain"));
}

TEST_F(InfoTagEditorTest, RatingIsWrittenOnlyWhenTaken)
{
    m2->setRating(5);
    prepare({Value(m1), Value(m2)});
    EXPECT_EQ(editor.ratingState().rating, 5);
    EXPECT_FALSE(editor.ratingState().switchOn);
    EXPECT_TRUE(editor.ratingState().switchEnabled);
    EXPECT_FALSE(editor.ratingState().switchHidden);
    absorb();
    EXPECT_EQ(m1->rating(), 3);
    EXPECT_EQ(m2->rating(), 5);
    prepare({Value(m1), Value(m2)});
    editor.absorbInfoTags(std::nullopt, 0LL); // changed to none: written as none
    EXPECT_EQ(m1->rating(), 0);
    EXPECT_EQ(m2->rating(), 0);
}

TEST_F(InfoTagEditorTest, RenamesMergeIntoANameAMovieAlreadyHasAndCancelForgetsThem)
{
    // Cancel: the rename recorded in the editor reaches nobody.
    prepare({Value(m1), Value(m2)});
    DictionaryPtr mood = record(QStringLiteral("Mood"));
    mood->setValue(R::kTag, QStringLiteral("Feeling"));
    mood->setValue(R::kOriginal, QStringLiteral("mood"));
    c()._infoGloballyRenamedTagNames = Dictionary::make({{QStringLiteral("year"), QStringLiteral("Era")}});
    editor.forgetInfoTagEditorState(true);
    EXPECT_EQ(tagValue(m2, QStringLiteral("mood")), QStringLiteral("calm"));
    EXPECT_EQ(tagValue(m3, QStringLiteral("year")), QStringLiteral("1999"));
    EXPECT_FALSE(c()._tagTypes.contains(QStringLiteral("era")));
    EXPECT_FALSE(c()._tagTypes.contains(QStringLiteral("feeling")));

    // A rename onto a name a movie already carries keeps the values of both.
    m3->setValue(QStringLiteral("1999, classic"), QStringLiteral("Era"));
    m3->setValue(QStringLiteral("Classic"), QStringLiteral("Year"));
    c().invalidateTagTypes();
    prepare({Value(m1)});
    c()._infoGloballyRenamedTagNames = Dictionary::make({{QStringLiteral("year"), QStringLiteral("Era")}});
    absorb();
    EXPECT_EQ(tagValue(m3, QStringLiteral("era")), QStringLiteral("1999, classic"));
    EXPECT_FALSE(m3->cachedTags()->contains(QStringLiteral("year")));

    // Renamed in the edited movies only: each keeps its own values under the new name.
    prepare({Value(m1), Value(m2)});
    mood = record(QStringLiteral("Mood"));
    mood->setValue(R::kTag, QStringLiteral("Feeling"));
    mood->setValue(R::kOriginal, QStringLiteral("mood"));
    absorb();
    EXPECT_EQ(tagValue(m2, QStringLiteral("feeling")), QStringLiteral("calm"));
    EXPECT_FALSE(m2->cachedTags()->contains(QStringLiteral("mood")));
}
