#include "ui/commands/PMSmartPlaylistPanel.h"

#include "foundation/NSDictionary+PMExtensions.h"
#include "foundation/PMCSVParser.h"
#include "library/model/PMMainController.h"
#include "ui/commands/PMMetaReferenceTokenField.h"
#include "ui/kit/PMRatingView.h"
#include "ui/library_window/PMAutoCompleteTableView.h"

#include <QtCore/QCoreApplication>
#include <QtWidgets/QCheckBox>
#include <QtWidgets/QComboBox>
#include <QtWidgets/QDialogButtonBox>
#include <QtWidgets/QGridLayout>
#include <QtWidgets/QGroupBox>
#include <QtWidgets/QHBoxLayout>
#include <QtWidgets/QLabel>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QSizePolicy>
#include <QtWidgets/QSpinBox>
#include <QtWidgets/QVBoxLayout>

using platform::Array;
using platform::ArrayPtr;
using platform::Dictionary;
using platform::DictionaryPtr;
using platform::Value;

namespace {

QString tr(const char* text)
{
    return QCoreApplication::translate("PMSmartPlaylistPanel", text);
}

QComboBox* popUp(QWidget* parent, std::initializer_list<std::pair<const char*, long long>> items)
{
    auto* box = new QComboBox(parent);
    for (const auto& [title, tag] : items)
        box->addItem(tr(title), QVariant::fromValue(tag));
    return box;
}

const char* const kTextActions[] = {"is", "is not", "begins with", "does not begin with", "ends with", "does not end with", "contains",
                                    "does not contain"};

QComboBox* textActions(QWidget* parent)
{
    auto* box = new QComboBox(parent);
    for (long long i = 0; i < 8; ++i)
        box->addItem(tr(kTextActions[i]), QVariant::fromValue(i));
    return box;
}

QComboBox* dateUnits(QWidget* parent)
{
    // In the order of the unit step: days, weeks, months, years.
    return popUp(parent, {{"days", 0}, {"weeks", 3}, {"months", 1}, {"years", 2}});
}

QComboBox* withinActions(QWidget* parent)
{
    return popUp(parent, {{"is within the last", 4}, {"is not within the last", 5}});
}

QSpinBox* numberField(QWidget* parent, int minimum)
{
    auto* field = new QSpinBox(parent);
    field->setRange(minimum, 1000000);
    return field;
}

DictionaryPtr entryOf(const DictionaryPtr& criteria, const char* key)
{
    if (!criteria)
        return nullptr;
    const Value v = criteria->value(QString::fromLatin1(key));
    return v.isDictionary() ? v.dictionary() : nullptr;
}

} // namespace

PMSmartPlaylistPanel::PMSmartPlaylistPanel(PMMainController& controller, QWidget* parent) : QDialog(parent), m_controller(controller)
{
    setObjectName(QStringLiteral("Smart"));
    setWindowModality(Qt::WindowModal);
    auto* layout = new QVBoxLayout(this);

    // Match mode
    matchModeRow = new QWidget(this);
    auto* matchLayout = new QHBoxLayout(matchModeRow);
    matchLayout->setContentsMargins(0, 0, 0, 0);
    matchLayout->addWidget(new QLabel(tr("Match"), matchModeRow));
    matchModeSelector = popUp(matchModeRow, {{"all", 0}, {"any", 1}});
    matchLayout->addWidget(matchModeSelector);
    matchLayout->addWidget(new QLabel(tr("of the following criteria:"), matchModeRow));
    matchLayout->addStretch();
    layout->addWidget(matchModeRow);

    auto* criteriaBox = new QGroupBox(tr("Criteria"), this);
    auto* grid = new QGridLayout(criteriaBox);
    int row = 0;
    nameSwitch = new QCheckBox(tr("Name"), criteriaBox);
    nameAction = textActions(criteriaBox);
    nameField = new QLineEdit(criteriaBox);
    grid->addWidget(nameSwitch, row, 0);
    grid->addWidget(nameAction, row, 1);
    grid->addWidget(nameField, row++, 2, 1, 2);

    ratingSwitch = new QCheckBox(tr("Rating"), criteriaBox);
    ratingAction = popUp(criteriaBox, {{"is", 0}, {"is not", 1}, {"is lower than", 2}, {"is higher than", 3}});
    ratingNumber = new PMRatingView(criteriaBox);
    ratingNumber->setOnStateSwitch(ratingSwitch);
    grid->addWidget(ratingSwitch, row, 0);
    grid->addWidget(ratingAction, row, 1);
    grid->addWidget(ratingNumber, row++, 2, 1, 2, Qt::AlignLeft);

    timeSwitch = new QCheckBox(tr("Time"), criteriaBox);
    timeAction = popUp(criteriaBox, {{"is at most", 4}, {"is longer than", 5}});
    timeField = numberField(criteriaBox, 0);
    timeUnit = popUp(criteriaBox, {{"seconds", 0}, {"minutes", 1}, {"hours", 2}});
    grid->addWidget(timeSwitch, row, 0);
    grid->addWidget(timeAction, row, 1);
    grid->addWidget(timeField, row, 2);
    grid->addWidget(timeUnit, row++, 3);

    dateSwitch = new QCheckBox(tr("Date Added"), criteriaBox);
    dateAction = withinActions(criteriaBox);
    dateField = numberField(criteriaBox, 1);
    dateUnit = dateUnits(criteriaBox);
    grid->addWidget(dateSwitch, row, 0);
    grid->addWidget(dateAction, row, 1);
    grid->addWidget(dateField, row, 2);
    grid->addWidget(dateUnit, row++, 3);

    playbackDateSwitch = new QCheckBox(tr("Last Played"), criteriaBox);
    playbackDateAction = withinActions(criteriaBox);
    playbackDateField = numberField(criteriaBox, 1);
    playbackDateUnit = dateUnits(criteriaBox);
    grid->addWidget(playbackDateSwitch, row, 0);
    grid->addWidget(playbackDateAction, row, 1);
    grid->addWidget(playbackDateField, row, 2);
    grid->addWidget(playbackDateUnit, row++, 3);
    grid->setColumnStretch(2, 1);
    layout->addWidget(criteriaBox);

    // Tag criteria
    auto* tagsBox = new QGroupBox(tr("Properties"), this);
    auto* tagsLayout = new QVBoxLayout(tagsBox);
    tagList = new PMAutoCompleteTableView(tagsBox);
    const auto column = [](const char* identifier, const QString& header, PMTableColumn::Cell cell, double width, bool editable) {
        return PMTableColumn::make(QString::fromLatin1(identifier), header, cell, width, editable);
    };
    tagList->setTableColumns({column("Enabled", QString(), PMTableColumn::Cell::Check, 24, true),
                              column("Tag", tr("Property"), PMTableColumn::Cell::Text, 130, true),
                              column("ChooseTag", QString(), PMTableColumn::Cell::PopUp, 20, true),
                              column("Action", QString(), PMTableColumn::Cell::Choice, 150, true),
                              column("Value", tr("Value"), PMTableColumn::Cell::Text, 160, true),
                              column("ChooseValue", QString(), PMTableColumn::Cell::PopUp, 20, true)});
    tagList->setMinimumHeight(110);
    tagsLayout->addWidget(tagList);
    auto* tagButtons = new QHBoxLayout;
    tagAddButton = new QPushButton(QIcon::fromTheme(QStringLiteral("list-add")), QString(), tagsBox);
    tagAddButton->setToolTip(tr("Add a property criterion"));
    tagDeleteButton = new QPushButton(QIcon::fromTheme(QStringLiteral("list-remove")), QString(), tagsBox);
    tagDeleteButton->setToolTip(tr("Remove the selected criterion"));
    // Without those icons in the desktop's theme the buttons say what they do.
    if (tagAddButton->icon().isNull())
        tagAddButton->setText(QStringLiteral("+"));
    if (tagDeleteButton->icon().isNull())
        tagDeleteButton->setText(QStringLiteral("\u2212"));
    for (QPushButton* button : {tagAddButton, tagDeleteButton})
        button->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    tagDeleteButton->setEnabled(false);
    tagExplanationField = new QLabel(tr("Several values are separated by commas."), tagsBox);
    tagExplanationField->setVisible(false);
    tagButtons->addWidget(tagAddButton);
    tagButtons->addWidget(tagDeleteButton);
    tagButtons->addWidget(tagExplanationField, 1);
    tagsLayout->addLayout(tagButtons);
    layout->addWidget(tagsBox);

    // Subdivider
    auto* dividerBox = new QGroupBox(tr("Subgroups"), this);
    auto* dividerLayout = new QGridLayout(dividerBox);
    dividerModeSelector = popUp(dividerBox, {{"None", 0},
                                             {"Rating", 1},
                                             {"Date Added", 2},
                                             {"Properties", 3},
                                             {"First Letter", 4},
                                             {"Tags", 5},
                                             {"Last Played", 6},
                                             {"Library Folder", 7},
                                             {"Time", 8},
                                             {"File Size", 9}});
    dividerLayout->addWidget(new QLabel(tr("Subdivide by:"), dividerBox), 0, 0);
    dividerLayout->addWidget(dividerModeSelector, 0, 1, 1, 3);
    dividerTagRow = new QWidget(dividerBox);
    auto* tagRowLayout = new QHBoxLayout(dividerTagRow);
    tagRowLayout->setContentsMargins(0, 0, 0, 0);
    tagRowLayout->addWidget(new QLabel(tr("Levels:"), dividerTagRow));
    dividerTagTokenField = new PMMetaReferenceAwareTokenField(dividerTagRow);
    dividerTagTokenField->setPlaceholderText(tr("one property per level, separated by commas"));
    tagRowLayout->addWidget(dividerTagTokenField, 1);
    dividerLayout->addWidget(dividerTagRow, 1, 0, 1, 4);
    dividerTagOtherBehaviorSelector = popUp(dividerBox, {{"Others in their own group", 0}, {"Others one level up", 1}, {"Leave others out", 2}});
    dividerTagThresholdSelector = popUp(dividerBox, {{"No threshold", 0}, {"1 or fewer", 1}, {"2 or fewer", 2}, {"3 or fewer", 3}, {"5 or fewer", 5}, {"10 or fewer", 10}});
    dividerBypassLevelSelector = popUp(dividerBox, {{"Skip levels with only others", 0}, {"Skip single subgroups", -1}, {"Keep every level", 1}});
    dividerLayout->addWidget(dividerTagOtherBehaviorSelector, 2, 0, 1, 2);
    dividerLayout->addWidget(dividerTagThresholdSelector, 2, 2);
    dividerLayout->addWidget(dividerBypassLevelSelector, 2, 3);
    flattenRow = new QWidget(dividerBox);
    auto* flattenLayout = new QHBoxLayout(flattenRow);
    flattenLayout->setContentsMargins(0, 0, 0, 0);
    flattenSwitch = new QCheckBox(tr("Flatten"), flattenRow);
    flattenLayout->addWidget(flattenSwitch);
    flattenLayout->addStretch();
    dividerLayout->addWidget(flattenRow, 3, 0, 1, 4);
    layout->addWidget(dividerBox);

    // Options
    auto* optionsLayout = new QHBoxLayout;
    continueSwitch = new QCheckBox(tr("Continue"), this);
    continueSwitch->setTristate(true);
    continueSwitchExplanationField = new QLabel(tr("(as set in the preferences)"), this);
    optionsLayout->addWidget(continueSwitch);
    optionsLayout->addWidget(continueSwitchExplanationField);
    optionsLayout->addStretch();
    layout->addLayout(optionsLayout);

    auto* buttons = new QDialogButtonBox(this);
    okButton = buttons->addButton(QDialogButtonBox::Ok);
    cancelButton = buttons->addButton(QDialogButtonBox::Cancel);
    layout->addWidget(buttons);
    connect(okButton, &QPushButton::clicked, this, [this] { m_controller.smartPlaylistOK(okButton); });
    connect(cancelButton, &QPushButton::clicked, this, [this] { m_controller.smartPlaylistCancel(cancelButton); });
    connect(tagAddButton, &QPushButton::clicked, this, [this] { m_controller.smartPlaylistTagAdd(tagAddButton); });
    connect(tagDeleteButton, &QPushButton::clicked, this, [this] { m_controller.smartPlaylistTagDelete(tagDeleteButton); });
    connect(dividerModeSelector, &QComboBox::currentIndexChanged, this, [this] { m_controller.smartPlaylistUpdateSubdividerSettings(dividerModeSelector); });
    connect(continueSwitch, &QCheckBox::stateChanged, this, [this] { m_controller.smartPlaylistUpdateContinueSwitchExplanation(continueSwitch); });
    for (QCheckBox* box : {nameSwitch, ratingSwitch, timeSwitch, dateSwitch, playbackDateSwitch})
        connect(box, &QCheckBox::toggled, this, [this] { m_controller.updateSmartPlaylistMatchModeSelectorVisibility(); });
    // Touching a criterion's controls switches it on.
    const auto switchOn = [this](QWidget* control, QCheckBox* box) {
        if (auto* combo = qobject_cast<QComboBox*>(control))
            connect(combo, &QComboBox::activated, box, [box] { box->setChecked(true); });
        else if (auto* spin = qobject_cast<QSpinBox*>(control))
            connect(spin, &QSpinBox::valueChanged, box, [box, spin] { if (spin->hasFocus()) box->setChecked(true); });
        else if (auto* line = qobject_cast<QLineEdit*>(control))
            connect(line, &QLineEdit::textEdited, box, [box] { box->setChecked(true); });
    };
    switchOn(nameAction, nameSwitch);
    switchOn(nameField, nameSwitch);
    switchOn(ratingAction, ratingSwitch);
    switchOn(timeAction, timeSwitch);
    switchOn(timeField, timeSwitch);
    switchOn(timeUnit, timeSwitch);
    switchOn(dateAction, dateSwitch);
    switchOn(dateField, dateSwitch);
    switchOn(dateUnit, dateSwitch);
    switchOn(playbackDateAction, playbackDateSwitch);
    switchOn(playbackDateField, playbackDateSwitch);
    switchOn(playbackDateUnit, playbackDateSwitch);
}

void PMSmartPlaylistPanel::reject()
{
    m_controller.smartPlaylistCancel(cancelButton);
}

void PMSmartPlaylistPanel::accept()
{
    m_controller.smartPlaylistOK(okButton);
}

void PMSmartPlaylistPanel::selectTag(QComboBox* box, long long tag)
{
    const int index = box->findData(QVariant::fromValue(tag));
    box->setCurrentIndex(index >= 0 ? index : 0);
}

long long PMSmartPlaylistPanel::selectedTag(const QComboBox* box)
{
    return box->currentData().toLongLong();
}

int PMSmartPlaylistPanel::subdividerKind() const
{
    return int(selectedTag(dividerModeSelector));
}

void PMSmartPlaylistPanel::setCriteria(const DictionaryPtr& criteria)
{
    matchModeSelector->setCurrentIndex(criteria && boolValueOfObjectForKey(criteria, QStringLiteral("Match Any")) ? 1 : 0);
    const auto fill = [&](const char* key, QCheckBox* box, QComboBox* action, long long defaultAction, const std::function<void(const DictionaryPtr&)>& value) {
        const DictionaryPtr entry = entryOf(criteria, key);
        box->setChecked(entry && boolValueOfObjectForKey(entry, QStringLiteral("Enabled")));
        selectTag(action, entry ? longLongValueOfObjectForKey(entry, QStringLiteral("Action")) : defaultAction);
        value(entry);
    };
    fill("Name", nameSwitch, nameAction, 6, [&](const DictionaryPtr& e) { nameField->setText(e ? e->value(QStringLiteral("Value")).string() : QString()); });
    fill("Rating", ratingSwitch, ratingAction, 0, [&](const DictionaryPtr& e) {
        ratingNumber->setRating(Value(e ? longLongValueOfObjectForKey(e, QStringLiteral("Value")) : 5LL));
        ratingSwitch->setChecked(e && boolValueOfObjectForKey(e, QStringLiteral("Enabled")));
    });
    const auto numberAndUnit = [](QSpinBox* field, QComboBox* unit, long long defaultValue, long long defaultUnit) {
        return [=](const DictionaryPtr& e) {
            field->setValue(int(e ? longLongValueOfObjectForKey(e, QStringLiteral("Value")) : defaultValue));
            selectTag(unit, e ? longLongValueOfObjectForKey(e, QStringLiteral("Unit")) : defaultUnit);
        };
    };
    fill("Time", timeSwitch, timeAction, 4, numberAndUnit(timeField, timeUnit, 1, 2));
    fill("Relative Date", dateSwitch, dateAction, 4, numberAndUnit(dateField, dateUnit, 1, 0));
    fill("Relative Playback Date", playbackDateSwitch, playbackDateAction, 4, numberAndUnit(playbackDateField, playbackDateUnit, 1, 0));

    const Value subdividerTag = criteria ? criteria->value(QStringLiteral("Subdivider Tag")) : Value();
    int kind = 0;
    if (subdividerTag.isString()) {
        dividerTagTokenField->setObjectValue(cachedCSVFields(subdividerTag.string()));
        kind = 3;
    } else {
        dividerTagTokenField->setObjectValue({});
        const std::pair<const char*, int> flags[] = {{"Subdivide By Rating", 1},       {"Subdivide By Date Added", 2},
                                                     {"Subdivide By First Letter", 4}, {"Subdivide By Boolean Tag", 5},
                                                     {"Subdivide By Last Playback Date", 6}, {"Subdivide By Library Folder", 7},
                                                     {"Subdivide By Time", 8},         {"Subdivide By File Size", 9}};
        for (const auto& [key, tag] : flags)
            if (criteria && boolValueOfObjectForKey(criteria, QString::fromLatin1(key))) {
                kind = tag;
                break;
            }
    }
    selectTag(dividerModeSelector, kind);
    selectTag(dividerTagOtherBehaviorSelector, criteria ? longLongValueOfObjectForKey(criteria, QStringLiteral("Subdivider Others Behavior")) : 0);
    selectTag(dividerTagThresholdSelector, criteria ? longLongValueOfObjectForKey(criteria, QStringLiteral("Subdivider Threshold")) : 0);
    selectTag(dividerBypassLevelSelector, criteria ? longLongValueOfObjectForKey(criteria, QStringLiteral("Subdivider Bypass Level")) : 0);
}

DictionaryPtr PMSmartPlaylistPanel::criteria(const ArrayPtr& tags) const
{
    auto result = Dictionary::make();
    if (matchModeSelector->currentIndex() >= 1)
        result->setValue(QStringLiteral("Match Any"), true);
    if (tags && !tags->isEmpty())
        result->setValue(QStringLiteral("Tags"), Value(tags));
    result->setValue(QStringLiteral("Name"), Value(Dictionary::make({{QStringLiteral("Enabled"), nameSwitch->isChecked()},
                                                                     {QStringLiteral("Action"), selectedTag(nameAction)},
                                                                     {QStringLiteral("Value"), nameField->text()}})));
    result->setValue(QStringLiteral("Rating"), Value(Dictionary::make({{QStringLiteral("Enabled"), ratingSwitch->isChecked()},
                                                                       {QStringLiteral("Action"), selectedTag(ratingAction)},
                                                                       {QStringLiteral("Value"), ratingNumber->rating().toLongLong()}})));
    const auto withUnit = [](bool on, long long action, long long value, long long unit) {
        return Value(Dictionary::make({{QStringLiteral("Enabled"), on}, {QStringLiteral("Action"), action}, {QStringLiteral("Value"), value},
                                       {QStringLiteral("Unit"), unit}}));
    };
    // Below the minimum a value is raised: a duration of at least 0, dates of at least 1.
    result->setValue(QStringLiteral("Time"), withUnit(timeSwitch->isChecked(), selectedTag(timeAction), std::max(0, timeField->value()), selectedTag(timeUnit)));
    result->setValue(QStringLiteral("Relative Date"),
                     withUnit(dateSwitch->isChecked(), selectedTag(dateAction), std::max(1, dateField->value()), selectedTag(dateUnit)));
    result->setValue(QStringLiteral("Relative Playback Date"), withUnit(playbackDateSwitch->isChecked(), selectedTag(playbackDateAction),
                                                                        std::max(1, playbackDateField->value()), selectedTag(playbackDateUnit)));
    static const char* const kinds[] = {nullptr, "Subdivide By Rating", "Subdivide By Date Added", nullptr, "Subdivide By First Letter",
                                        "Subdivide By Boolean Tag", "Subdivide By Last Playback Date", "Subdivide By Library Folder",
                                        "Subdivide By Time", "Subdivide By File Size"};
    const int kind = subdividerKind();
    if (kind == 3)
        result->setValue(QStringLiteral("Subdivider Tag"), PMCSVStringWithFields(dividerTagTokenField->objectValue(), QString(), true));
    else if (kind > 0 && kind < 10 && kinds[kind])
        result->setValue(QString::fromLatin1(kinds[kind]), true);
    result->setValue(QStringLiteral("Subdivider Others Behavior"), selectedTag(dividerTagOtherBehaviorSelector));
    result->setValue(QStringLiteral("Subdivider Threshold"), selectedTag(dividerTagThresholdSelector));
    result->setValue(QStringLiteral("Subdivider Bypass Level"), selectedTag(dividerBypassLevelSelector));
    return result;
}
