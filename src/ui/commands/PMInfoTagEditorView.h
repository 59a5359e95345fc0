// The tag editor of the info panel as one widget the panel places: the one-row tag list
// (plain tags), the property list (one row per other tag), the add button with its menu of
// hidden and importable tags, the delete button (Ctrl or Alt: clear every shown tag), the filter
// button, and the notes field with its switch. It shows and edits the records that
// `PMInfoTagEditor` builds, through the main controller's table code, and applies them
// when the panel's edits are applied. Main thread only.
#pragma once

#include "library/model/PMInfoTagEditor.h"
#include "platform/Responder.h"
#include "platform/Value.h"
#include "ui/kit/PMOptionalMenuButton.h"

#include <QtWidgets/QWidget>

#include <memory>
#include <optional>

class QCheckBox;
class QMenu;
class QToolButton;
class QVBoxLayout;
class QWidget;
class PMMainController;
class PMMetaReferenceTextView;
class PMTagEditorTableView;

class PMInfoTagEditorView : public QWidget, public PMOptionalMenuButtonDelegate, public platform::Responder {
    Q_OBJECT
public:
    // Becomes the controller's tag list, property list and delete button.
    explicit PMInfoTagEditorView(QWidget* parent = nullptr);
    ~PMInfoTagEditorView() override;

    PMInfoTagEditor& editor() { return *m_editor; }
    PMMainController& controller() const;

    // Fills the editor for the movies (`prepareInfoTagEditorIncludingRating:`). The rating
    // controls belong to the panel: it reads `editor().ratingState()` afterwards.
    void prepareInfoTagEditorIncludingRating(const platform::ArrayPtr& movies, bool includingRating);
    // The tag part of `absorbInfo`: commits an edit in either table and writes the tags,
    // the notes and the rating (nothing: left as it was) into the edited movies. The records
    // stay until `releaseInfoTagEditorState` (a batch rename that follows still reads them).
    void absorbInfo(const std::optional<long long>& rating);
    // The end of applying: the records, renames and names are released, the tables emptied.
    void releaseInfoTagEditorState();
    // Cancel: commits an edit in either table, then forgets every edit of the editor (tag
    // renames, deletions and additions included).
    void infoCancel();
    // Ends an edit in progress in either table or in the notes, keeping it.
    void cleanUpCurrentEditor();
    // Keyboard focus to the property list (chapter 0 of the panel).
    void focusPropertyList();

    // The controls (outlets `infoTagTagList`, `infoTagPropertyList`, `infoTagAddButton`,
    // `infoTagDeleteButton`, `infoTagFilterButton`, `infoTagNotesField`,
    // `infoTagNotesSwitch`).
    PMTagEditorTableView* tagList() const { return m_tagList; }
    PMTagEditorTableView* propertyList() const { return m_propertyList; }
    PMOptionalMenuButton* addButton() const { return m_addButton; }
    QToolButton* deleteButton() const { return m_deleteButton; }
    QToolButton* filterButton() const { return m_filterButton; }
    PMMetaReferenceTextView* notesField() const { return m_notesField; }
    QCheckBox* notesSwitch() const { return m_notesSwitch; }

    // Actions of the buttons and menus.
    void infoAddTag(const QString& tagName);
    void infoDeleteTag(bool clearAll);
    void infoClearTags();
    void filterInfoTags(bool toggle);
    void updateInfoTagButtonsAvailability();
    // The filter button's picture, in the accent colour while the filter is on.
    void updateInfoTagFilterButtonImage(bool on);
    // Whether the selected record (tag list first, then property list) may be deleted.
    bool canDeleteSelectedInfoTagListItem() const;
    void updateInfoTagNotesFieldAndFixAttributes(bool fixAttributes);
    // The add button's menu (`infoTagAddButton`).
    QMenu* menuForOptionalMenuButton(PMOptionalMenuButton* button) override;
    std::optional<bool> waitForMenuForOptionalMenuButton(PMOptionalMenuButton* button) override;
    // "infoAddTag" (a menu item's represented object names the tag), "infoDeleteTag" (with
    // Ctrl or Alt: "infoClearTags"), "infoClearTags", "filterInfoTags".
    bool respondsToAction(const QString& action) const override;
    void performAction(const QString& action, QObject* sender) override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void reloadTables();
    void showStateColumn(bool show);
    void selectRecord(const platform::DictionaryPtr& record, bool edit, bool newProperty);

    std::unique_ptr<PMInfoTagEditor> m_editor;
    PMTagEditorTableView* m_tagList = nullptr;
    PMTagEditorTableView* m_propertyList = nullptr;
    PMOptionalMenuButton* m_addButton = nullptr;
    QToolButton* m_deleteButton = nullptr;
    QToolButton* m_filterButton = nullptr;
    PMMetaReferenceTextView* m_notesField = nullptr;
    QCheckBox* m_notesSwitch = nullptr;
    QWidget* m_notesLabel = nullptr;
    QWidget* m_notesContainer = nullptr;
    QWidget* m_propertiesContainer = nullptr;
    QMenu* m_addMenu = nullptr;
    bool m_preparing = false;
};
