// The info panel ("Meta"): the name, place, size, pictures, opening application and rating
// of one movie, or the batch rename of several; the tag editor beside them. The panel only
// holds the controls: the controller fills them (`prepareInfo`), reads them back
// (`absorbInfo`) and answers their actions. It is shown application-modal, so that no other
// window (the preferences, the player) changes what OK is about to apply, and never runs a
// nested event loop. Its keys go to the controller's property-editor handler first.
#pragma once

#include "ui/images/PMDragSourceImageView.h"
#include "ui/kit/PMSmallControls.h"

#include <QtWidgets/QDialog>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QStackedWidget;
class QTabBar;
class PMAutoCompleteTableView;
class PMInfoTagEditorView;
class PMMainController;
class PMMetaReferenceTokenField;
class PMRatingView;

// An image well: takes pictures dropped on it or pasted into it (Ctrl+V), empties on
// Delete or Backspace, and hands its picture out like every image view. Its change mark
// says what the user did since the panel was prepared: 0 nothing, 1 a new picture,
// 2 emptied.
class PMInfoImageWell : public PMDragSourceImageView {
    Q_OBJECT
public:
    explicit PMInfoImageWell(QWidget* parent = nullptr);
    QString className() const override { return QStringLiteral("PMInfoImageWell"); }

    int changeMark() const { return m_changeMark; }
    void setChangeMark(int mark) { m_changeMark = mark; }
    // Takes the picture of pasted or dropped data: the program's own picture, a picture
    // file, or bare image data. Answers whether the well now shows a new picture.
    bool takeImageFromMimeData(const QMimeData& data);
    void paste();
    // Empties the well as the user does.
    void clear();

Q_SIGNALS:
    // The user put in a picture or emptied the well.
    void imageChangedByUser();

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    std::unique_ptr<QMenu> menuForEvent(QPoint position) override;

private:
    int m_changeMark = 0;
};

class PMInfoPanel : public PMPropertyEditorPanel {
    Q_OBJECT
public:
    explicit PMInfoPanel(PMMainController& controller, QWidget* parent = nullptr);

    // Chapters: 0 the tags, 1 the information (one movie) or the renaming.
    QTabBar* infoChapterSelector = nullptr;
    QWidget* infoChapterSelectorContainer = nullptr;
    QStackedWidget* chapterView = nullptr;
    // Tab 0 for one movie, tab 1 for several or for renaming.
    QStackedWidget* infoSingleMultipleTabView = nullptr;

    QLineEdit* infoNameField = nullptr;
    // The name as the panel showed it: a field still holding it was not edited.
    QString shownName;
    QWidget* infoNameRow = nullptr;
    QLabel* infoLocationField = nullptr;
    QLabel* infoSizeField = nullptr;
    QLabel* infoMultipleItemsSizeField = nullptr;
    PMInfoImageWell* infoCoverImageWell = nullptr;
    PMInfoImageWell* infoPreviewImageWell = nullptr;
    QComboBox* infoApplicationSelector = nullptr;
    int applicationSelectorChangeMark = 0;

    PMRatingView* infoRatingSelector = nullptr;
    QCheckBox* infoRatingSwitch = nullptr;

    // The tag editor: the tag list, the property list with its buttons, and the notes.
    PMInfoTagEditorView* infoTagEditor = nullptr;

    // The batch rename. Every field but the one to find takes meta references.
    QCheckBox* infoBatchRenameSwitch = nullptr;
    QComboBox* infoBatchRenameActionSelector = nullptr;
    QStackedWidget* infoBatchRenameOptionsTabView = nullptr;
    PMMetaReferenceTokenField* infoBatchRenameAPrefixField = nullptr;
    PMMetaReferenceTokenField* infoBatchRenameASuffixField = nullptr;
    QLineEdit* infoBatchRenameFFindField = nullptr;
    PMMetaReferenceTokenField* infoBatchRenameFReplaceField = nullptr;
    QCheckBox* infoBatchRenameFIgnoreCaseSwitch = nullptr;
    QCheckBox* infoBatchRenameFRegExSwitch = nullptr;
    PMMetaReferenceTokenField* infoBatchRenameNIdentifierField = nullptr;
    QComboBox* infoBatchRenameNDigitsSelector = nullptr;
    QComboBox* infoBatchRenameNIncrementSelector = nullptr;
    PMMetaReferenceTokenField* infoBatchRenameNPrefixField = nullptr;
    QComboBox* infoBatchRenameNStartSelector = nullptr;
    PMMetaReferenceTokenField* infoBatchRenameNSuffixField = nullptr;
    PMMetaReferenceTokenField* infoBatchRenameCComposeField = nullptr;
    PMAutoCompleteTableView* infoBatchRenameList = nullptr;
    QLabel* infoBatchRenameStatusField = nullptr;

    QPushButton* infoPreviousButton = nullptr;
    QPushButton* infoNextButton = nullptr;
    QPushButton* okButton = nullptr;
    QPushButton* cancelButton = nullptr;

    // Whether the panel was centred once already.
    bool centred = false;


protected:
    void reject() override;
    void accept() override;

private:
    QWidget* buildSingleMovieTab();
    QWidget* buildRenamingTab();
    QWidget* buildTagsChapter();
    PMMainController& m_controller;
};
