// The info panel's tag editor without its widgets: the editable records of the tags of the
// movies being edited (one record per tag name, plus the plain tags, the notes and the
// tags that every library movie may get), which of them are shown, adding, renaming,
// clearing and deleting them, and writing them back into the movies when the panel's edits
// are applied. The records live in the main controller (`_infoTags`, `_filteredInfoTags`),
// whose table code shows and edits them; this class builds and applies them.
// Main thread only.
#pragma once

#include "platform/Value.h"

#include <QtCore/QString>
#include <QtCore/QStringList>

#include <optional>
#include <vector>

class PMMainController;

// `PMInfoTagRecord`: one editable record, a mutable dictionary with these keys.
namespace PMInfoTagRecord {
inline const QString kTag = QStringLiteral("Tag");
inline const QString kValue = QStringLiteral("Value");
// 1: the value replaces every movie's value; 0: every movie keeps its own; -1: values are
// merged per movie through the checked and unchecked lists.
inline const QString kState = QStringLiteral("State");
// 1 or absent: the state cannot differ between the movies.
inline const QString kImmutable = QStringLiteral("State: Immutable");
// How many edited movies carry the tag; kSharedCounter when movies outside the edit carry it
// too, or when no edited movie does.
inline const QString kCounter = QStringLiteral("Counter");
// The lower-case name under which the movies hold a tag renamed in the editor.
inline const QString kOriginal = QStringLiteral("Tag: Original");
inline const QString kChecked = QStringLiteral("Checked Separate Values");
inline const QString kUnchecked = QStringLiteral("Unchecked Separate Values");
constexpr long long kSharedCounter = 2147483647;

// A record with the name, the value, state 1 and immutable.
platform::DictionaryPtr make(const QString& tag, const QString& value = QString());
QString tag(const platform::DictionaryPtr& record);
QString value(const platform::DictionaryPtr& record);
bool isImmutable(const platform::DictionaryPtr& record);
long long counter(const platform::DictionaryPtr& record);
} // namespace PMInfoTagRecord

// What the rating controls show after preparing.
struct PMInfoRatingState {
    long long rating = 0;       // the common rating, 5 when the movies' ratings differ
    bool switchOn = true;       // on: the rating will be written
    bool switchEnabled = false; // the user may switch it (the ratings differ)
    bool switchHidden = true;
};

// An item of the add button's menu.
struct PMInfoAddMenuEntry {
    QString title;
    QString tagName;        // the represented object: the tag to add; empty for "New..."
    bool separator = false; // a separator line (title and name empty)
};

class PMInfoTagEditor {
public:
    explicit PMInfoTagEditor(PMMainController& controller);
    PMMainController& controller() const { return m_controller; }

    // ---- Building the records
    // Makes the movies the edited ones (`_infoMovieRepresentations`) and builds the records
    // from their tags, the library's tag types, "Persistent Tags", the plain tags and the
    // notes; then applies the filter. With the flag the rating state is worked out too.
    void prepareInfoTagEditorIncludingRating(const platform::ArrayPtr& movies, bool includingRating);
    const PMInfoRatingState& ratingState() const { return m_rating; }
    qsizetype numberOfMovies() const;

    // ---- Notes (their record is not among the tables' records)
    platform::DictionaryPtr notesRecord() const { return m_notes; }
    // The notes field's first text: the notes' values split as CSV, joined by a blank line.
    QString notesText() const;
    // The notes switch is hidden when the notes are the same for every movie (or only one
    // movie is edited); otherwise it shows whether the notes will be written (off: every
    // movie keeps its own).
    bool notesSwitchHidden() const;
    bool notesSwitchOn() const;

    // ---- Filtering ("Filter Tag Editor")
    // The records shown when the filter is on: record 0 and every record that is not
    // immutable or has a value; nothing when that drops no record (the button is hidden).
    platform::ArrayPtr updateInfoTagFilterButtonVisibility() const;
    bool filterButtonVisible() const { return updateInfoTagFilterButtonVisibility() != nullptr; }
    static bool filterIsOn();
    // With `toggle`, switches the filter and stores it; always rebuilds the shown list.
    void filterInfoTags(bool toggle);
    // Whether some record is hidden by the filter.
    bool hidesRecords() const;

    // ---- Adding (`infoAddTag:`)
    // Without a name a new record "New Property" (made unique); with a name a hidden record
    // of that name is shown again (the filter switched off when it was the only hidden one),
    // else a new record of that name whose value refers to the movies' own metadata of that
    // name. Answers the record (in the shown list) and whether it is a new nameless property.
    platform::DictionaryPtr infoAddTag(const QString& tagName, bool* getIsNewProperty = nullptr);
    // The add button's menu: hidden records and the importable metadata names that
    // are not persistent yet; empty when there is nothing to offer.
    std::vector<PMInfoAddMenuEntry> addMenuEntries() const;
    // The add button shows its menu only after being held unless a record is hidden.
    bool waitForAddMenu() const { return !hidesRecords(); }

    // ---- Deleting and clearing
    bool canDeleteInfoTag(const platform::DictionaryPtr& record) const;
    // Deletes the record when only the edited movies carry it (and it is not the plain tags),
    // else clears its value for the edited movies.
    void deleteInfoTag(const platform::DictionaryPtr& record, bool clearValueOnly);
    // Deletes every shown record (`infoClearTags:`).
    void clearShownInfoTags();
    // The names of metadata imported as tags after a deletion, when the user deleted one.
    const std::optional<QStringList>& replacementImportTagNames() const { return m_replacementImportTagNames; }

    // ---- Writing back (the tag part of `absorbInfo`)
    // `notes`: the notes field's text, or nothing to leave every movie's notes alone (the
    // switch is shown and off). `rating`: the rating to write, or nothing to leave it.
    void absorbInfoTags(const std::optional<QString>& notes, const std::optional<long long>& rating);
    // Forgets the records, renames, persistent names and import names (after applying or on
    // Cancel). With `forgetEdits` (Cancel) the tag types are rebuilt from the library, so
    // that names and values added in the editor are forgotten too.
    void forgetInfoTagEditorState(bool forgetEdits);

private:
    void storePersistentTagNames();
    void applyGlobalRenames();
    platform::DictionaryPtr rebuiltTags(const platform::Value& movie, qsizetype index, const std::optional<QString>& notes);

    PMMainController& m_controller;
    PMInfoRatingState m_rating;
    platform::DictionaryPtr m_notes;
    std::optional<QStringList> m_replacementImportTagNames;
};
