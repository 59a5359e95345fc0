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

    // Selects the item carrying the tag (the tag a pop-up item stands for).
    static void selectTag(QComboBox* popUp, long long tag);
    static long long selectedTag(const QComboBox* popUp);

    QComboBox* matchModeSelector = nullptr;
    QWidget* matchModeRow = nullptr;
    QCheckBox* nameSwitch = nullptr;
    QComboBox* nameAction = nullptr;
    QLineEdit* nameField = nullptr;
    QCheckBox* ratingSwitch = nullptr;
    QComboBox* ratingAction = nullptr;
    PMRatingView* ratingNumber = nullptr;
    QCheckBox* timeSwitch = nullptr;
    QComboBox* timeAction = nullptr;
    QSpinBox* timeField = nullptr;
    QComboBox* timeUnit = nullptr;
    QCheckBox* dateSwitch = nullptr;
    QComboBox* dateAction = nullptr;
    QSpinBox* dateField = nullptr;
    QComboBox* dateUnit = nullptr;
    QCheckBox* playbackDateSwitch = nullptr;
    QComboBox* playbackDateAction = nullptr;
    QSpinBox* playbackDateField = nullptr;
    QComboBox* playbackDateUnit = nullptr;
    PMAutoCompleteTableView* tagList = nullptr;
    QPushButton* tagAddButton = nullptr;
    QPushButton* tagDeleteButton = nullptr;
    QLabel* tagExplanationField = nullptr;
    QComboBox* dividerModeSelector = nullptr;
    QWidget* dividerTagRow = nullptr;
    PMMetaReferenceAwareTokenField* dividerTagTokenField = nullptr;
    QComboBox* dividerTagOtherBehaviorSelector = nullptr;
    QComboBox* dividerTagThresholdSelector = nullptr;
    QComboBox* dividerBypassLevelSelector = nullptr;
    QWidget* flattenRow = nullptr;
    QCheckBox* flattenSwitch = nullptr;
    QCheckBox* continueSwitch = nullptr;
    QLabel* continueSwitchExplanationField = nullptr;
    QPushButton* okButton = nullptr;
    QPushButton* cancelButton = nullptr;

protected:
    void reject() override;
    void accept() override;

private:
    PMMainController& m_controller;
};
