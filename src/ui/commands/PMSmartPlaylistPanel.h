// The smart-group editor ("Smart"): rows of switches, pop-ups and fields for the fixed
// criteria, the table of tag criteria, the subdivider and the group's options. It opens
// window-modal on the main window (or on its own) and never runs a nested event loop; the
// controller reads it back on OK.
#pragma once

#include "platform/Value.h"

#include <QtWidgets/QDialog>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QWidget;
class PMAutoCompleteTableView;
class PMMainController;
class QVBoxLayout;
class PMMetaReferenceAwareTokenField;
class PMRatingView;

class PMSmartPlaylistPanel : public QDialog {
    Q_OBJECT
public:
    explicit PMSmartPlaylistPanel(PMMainController& controller, QWidget* parent = nullptr);

    // The controls from the criteria (absent ones take their defaults); the tag criteria
    // live in the controller's edited copy.
    void setCriteria(const platform::DictionaryPtr& criteria);
    // The criteria the controls show, with the edited tag criteria.
    platform::DictionaryPtr criteria(const platform::ArrayPtr& tags) const;
    // The subdivider kind's pop-up: 0 none, 1 rating, 2 date added, 3 tags, 4 first letter,
    // 5 boolean tag, 6 last playback date, 7 library folder, 8 time, 9 file size.
    int subdividerKind() const;

    // Selects the item carrying the tag (the tag a pop-up item stands for); a tag that no
    // item carries gets an item of its own, titled with the number unless a title is given.
    static void selectTag(QComboBox* popUp, long long tag, const QString& titleForUnlistedTag = QString());
    static long long selectedTag(const QComboBox* popUp);

    QComboBox* smartPlaylistMatchModeSelector = nullptr;
    QWidget* matchModeRow = nullptr;
    QCheckBox* smartPlaylistNameSwitch = nullptr;
    QComboBox* smartPlaylistNameAction = nullptr;
    QLineEdit* smartPlaylistNameField = nullptr;
    QCheckBox* smartPlaylistRatingSwitch = nullptr;
    QComboBox* smartPlaylistRatingAction = nullptr;
    PMRatingView* smartPlaylistRatingNumber = nullptr;
    QCheckBox* smartPlaylistTimeSwitch = nullptr;
    QComboBox* smartPlaylistTimeAction = nullptr;
    QSpinBox* smartPlaylistTimeField = nullptr;
    QComboBox* smartPlaylistTimeUnit = nullptr;
    QCheckBox* smartPlaylistDateSwitch = nullptr;
    QComboBox* smartPlaylistDateAction = nullptr;
    QSpinBox* smartPlaylistDateField = nullptr;
    QComboBox* smartPlaylistDateUnit = nullptr;
    QCheckBox* smartPlaylistPlaybackDateSwitch = nullptr;
    QComboBox* smartPlaylistPlaybackDateAction = nullptr;
    QSpinBox* smartPlaylistPlaybackDateField = nullptr;
    QComboBox* smartPlaylistPlaybackDateUnit = nullptr;
    PMAutoCompleteTableView* smartPlaylistTagList = nullptr;
    QPushButton* smartPlaylistTagAddButton = nullptr;
    QPushButton* smartPlaylistTagDeleteButton = nullptr;
    QLabel* smartPlaylistTagExplanationField = nullptr;
    QComboBox* smartPlaylistDividerModeSelector = nullptr;
    QWidget* dividerTagRow = nullptr;
    PMMetaReferenceAwareTokenField* smartPlaylistDividerTagTokenField = nullptr;
    QComboBox* smartPlaylistDividerTagOtherBehaviorSelector = nullptr;
    QComboBox* smartPlaylistDividerTagThresholdSelector = nullptr;
    QComboBox* smartPlaylistDividerBypassLevelSelector = nullptr;
    QWidget* flattenRow = nullptr;
    QCheckBox* smartPlaylistFlattenSwitch = nullptr;
    QCheckBox* smartPlaylistContinueSwitch = nullptr;
    QLabel* smartPlaylistContinueSwitchExplanationField = nullptr;
    QPushButton* okButton = nullptr;
    QPushButton* cancelButton = nullptr;

protected:
    void reject() override;
    void accept() override;

private:
    // The panel's parts, top to bottom, and what ties their controls together.
    void buildMatchMode(QVBoxLayout* layout);
    void buildCriteria(QVBoxLayout* layout);
    void buildTagCriteria(QVBoxLayout* layout);
    void buildSubdivider(QVBoxLayout* layout);
    void buildOptionsAndButtons(QVBoxLayout* layout);
    void connectControls();
    void nameOutlets();

    PMMainController& m_controller;
};
