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
    buildMatchMode(layout);
    buildCriteria(layout);
    buildTagCriteria(layout);
    buildSubdivider(layout);
    buildOptionsAndButtons(layout);
    connectControls();
    nameOutlets();
}

void PMSmartPlaylistPanel::buildMatchMode(QVBoxLayout* layout)
{
    matchModeRow = new QWidget(this);
    auto* matchLayout = new QHBoxLayout(matchModeRow);
    matchLayout->setContentsMargins(0, 0, 0, 0);
    matchLayout->addWidget(new QLabel(tr("Match"), matchModeRow));
    smartPlaylistMatchModeSelector = popUp(matchModeRow, {{"all", 0}, {"any", 1}});
    matchLayout->addWidget(smartPlaylistMatchModeSelector);
    matchLayout->addWidget(new QLabel(tr("of the following criteria:"), matchModeRow));
    matchLayout->addStretch();
    layout->addWidget(matchModeRow);
}

void PMSmartPlaylistPanel::buildCriteria(QVBoxLayout* layout)
{
    auto* criteriaBox = new QGroupBox(tr("Criteria"), this);
    auto* grid = new QGridLayout(criteriaBox);
    int row = 0;
    smartPlaylistNameSwitch = new QCheckBox(tr("Name"), criteriaBox);
    smartPlaylistNameAction = textActions(criteriaBox);
    smartPlaylistNameField = new QLineEdit(criteriaBox);
    grid->addWidget(smartPlaylistNameSwitch, row, 0);
    grid->addWidget(smartPlaylistNameAction, row, 1);
    grid->addWidget(smartPlaylistNameField, row++, 2, 1, 2);

    smartPlaylistRatingSwitch = new QCheckBox(tr("Rating"), criteriaBox);
    smartPlaylistRatingAction = popUp(criteriaBox, {{"is", 0}, {"is not", 1}, {"is lower than", 2}, {"is higher than", 3}});
    smartPlaylistRatingNumber = new PMRatingView(criteriaBox);
    smartPlaylistRatingNumber->setOnStateSwitch(smartPlaylistRatingSwitch);
    grid->addWidget(smartPlaylistRatingSwitch, row, 0);
    grid->addWidget(smartPlaylistRatingAction, row, 1);
    grid->addWidget(smartPlaylistRatingNumber, row++, 2, 1, 2, Qt::AlignLeft);

    smartPlaylistTimeSwitch = new QCheckBox(tr("Time"), criteriaBox);
    smartPlaylistTimeAction = popUp(criteriaBox, {{"is at most", 4}, {"is longer than", 5}});
    smartPlaylistTimeField = numberField(criteriaBox, 0);
    smartPlaylistTimeUnit = popUp(criteriaBox, {{"seconds", 0}, {"minutes", 1}, {"hours", 2}});
    grid->addWidget(smartPlaylistTimeSwitch, row, 0);
    grid->addWidget(smartPlaylistTimeAction, row, 1);
    grid->addWidget(smartPlaylistTimeField, row, 2);
    grid->addWidget(smartPlaylistTimeUnit, row++, 3);

    smartPlaylistDateSwitch = new QCheckBox(tr("Date Added"), criteriaBox);
    smartPlaylistDateAction = withinActions(criteriaBox);
    smartPlaylistDateField = numberField(criteriaBox, 1);
    smartPlaylistDateUnit = dateUnits(criteriaBox);
    grid->addWidget(smartPlaylistDateSwitch, row, 0);
    grid->addWidget(smartPlaylistDateAction, row, 1);
    grid->addWidget(smartPlaylistDateField, row, 2);
    grid->addWidget(smartPlaylistDateUnit, row++, 3);

    smartPlaylistPlaybackDateSwitch = new QCheckBox(tr("Last Played"), criteriaBox);
    smartPlaylistPlaybackDateAction = withinActions(criteriaBox);
    smartPlaylistPlaybackDateField = numberField(criteriaBox, 1);
    smartPlaylistPlaybackDateUnit = dateUnits(criteriaBox);
    grid->addWidget(smartPlaylistPlaybackDateSwitch, row, 0);
    grid->addWidget(smartPlaylistPlaybackDateAction, row, 1);
    grid->addWidget(smartPlaylistPlaybackDateField, row, 2);
    grid->addWidget(smartPlaylistPlaybackDateUnit, row++, 3);
    grid->setColumnStretch(2, 1);
    layout->addWidget(criteriaBox);
}

void PMSmartPlaylistPanel::buildTagCriteria(QVBoxLayout* layout)
{
    auto* tagsBox = new QGroupBox(tr("Properties"), this);
    auto* tagsLayout = new QVBoxLayout(tagsBox);
    smartPlaylistTagList = new PMAutoCompleteTableView(tagsBox);
    const auto column = [](const char* identifier, const QString& header, PMTableColumn::Cell cell, double width, bool editable) {
        return PMTableColumn::make(QString::fromLatin1(identifier), header, cell, width, editable);
    };
    smartPlaylistTagList->setTableColumns({column("Enabled", QString(), PMTableColumn::Cell::Check, 24, true),
                              column("Tag", tr("Property"), PMTableColumn::Cell::Text, 130, true),
                              column("ChooseTag", QString(), PMTableColumn::Cell::PopUp, 20, true),
                              column("Action", QString(), PMTableColumn::Cell::Choice, 150, true),
                              column("Value", tr("Value"), PMTableColumn::Cell::Text, 160, true),
                              column("ChooseValue", QString(), PMTableColumn::Cell::PopUp, 20, true)});
    smartPlaylistTagList->setMinimumHeight(110);
    tagsLayout->addWidget(smartPlaylistTagList);
    auto* tagButtons = new QHBoxLayout;
    smartPlaylistTagAddButton = new QPushButton(QIcon::fromTheme(QStringLiteral("list-add")), QString(), tagsBox);
    smartPlaylistTagAddButton->setToolTip(tr("Add a property criterion"));
    smartPlaylistTagDeleteButton = new QPushButton(QIcon::fromTheme(QStringLiteral("list-remove")), QString(), tagsBox);
    smartPlaylistTagDeleteButton->setToolTip(tr("Remove the selected criterion"));
    // Without those icons in the desktop's theme the buttons say what they do.
    if (smartPlaylistTagAddButton->icon().isNull())
        smartPlaylistTagAddButton->setText(QStringLiteral("+"));
    if (smartPlaylistTagDeleteButton->icon().isNull())
        smartPlaylistTagDeleteButton->setText(QStringLiteral("\u2212"));
    for (QPushButton* button : {smartPlaylistTagAddButton, smartPlaylistTagDeleteButton})
        button->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    smartPlaylistTagDeleteButton->setEnabled(false);
    smartPlaylistTagExplanationField = new QLabel(tr("Several values are separated by commas."), tagsBox);
    smartPlaylistTagExplanationField->setVisible(false);
    tagButtons->addWidget(smartPlaylistTagAddButton);
    tagButtons->addWidget(smartPlaylistTagDeleteButton);
    tagButtons->addWidget(smartPlaylistTagExplanationField, 1);
    tagsLayout->addLayout(tagButtons);
    layout->addWidget(tagsBox);
}

void PMSmartPlaylistPanel::buildSubdivider(QVBoxLayout* layout)
{
    auto* dividerBox = new QGroupBox(tr("Subgroups"), this);
    auto* dividerLayout = new QGridLayout(dividerBox);
    smartPlaylistDividerModeSelector = popUp(dividerBox, {{"None", 0},
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
    dividerLayout->addWidget(smartPlaylistDividerModeSelector, 0, 1, 1, 3);
    dividerTagRow = new QWidget(dividerBox);
    auto* tagRowLayout = new QHBoxLayout(dividerTagRow);
    tagRowLayout->setContentsMargins(0, 0, 0, 0);
    tagRowLayout->addWidget(new QLabel(tr("Levels:"), dividerTagRow));
    smartPlaylistDividerTagTokenField = new PMMetaReferenceAwareTokenField(dividerTagRow);
    smartPlaylistDividerTagTokenField->setPlaceholderText(tr("one property per level, separated by commas"));
    tagRowLayout->addWidget(smartPlaylistDividerTagTokenField, 1);
    dividerLayout->addWidget(dividerTagRow, 1, 0, 1, 4);
    smartPlaylistDividerTagOtherBehaviorSelector = popUp(dividerBox, {{"Others in their own group", 0}, {"Others one level up", 1}, {"Leave others out", 2}});
    smartPlaylistDividerTagThresholdSelector = popUp(dividerBox, {{"No threshold", 0}, {"1 or fewer", 1}, {"2 or fewer", 2}, {"3 or fewer", 3}, {"5 or fewer", 5}, {"10 or fewer", 10}});
    smartPlaylistDividerBypassLevelSelector = popUp(dividerBox, {{"Skip levels with only others", 0}, {"Skip single subgroups", -1}, {"Keep every level", 1}});
    dividerLayout->addWidget(smartPlaylistDividerTagOtherBehaviorSelector, 2, 0, 1, 2);
    dividerLayout->addWidget(smartPlaylistDividerTagThresholdSelector, 2, 2);
    dividerLayout->addWidget(smartPlaylistDividerBypassLevelSelector, 2, 3);
    flattenRow = new QWidget(dividerBox);
    auto* flattenLayout = new QHBoxLayout(flattenRow);
    flattenLayout->setContentsMargins(0, 0, 0, 0);
    smartPlaylistFlattenSwitch = new QCheckBox(tr("Flatten"), flattenRow);
    flattenLayout->addWidget(smartPlaylistFlattenSwitch);
    flattenLayout->addStretch();
    dividerLayout->addWidget(flattenRow, 3, 0, 1, 4);
    layout->addWidget(dividerBox);
}

void PMSmartPlaylistPanel::buildOptionsAndButtons(QVBoxLayout* layout)
{
    auto* optionsLayout = new QHBoxLayout;
    smartPlaylistContinueSwitch = new QCheckBox(tr("Continue"), this);
    smartPlaylistContinueSwitch->setTristate(true);
    smartPlaylistContinueSwitchExplanationField = new QLabel(tr("(as set in the preferences)"), this);
    optionsLayout->addWidget(smartPlaylistContinueSwitch);
    optionsLayout->addWidget(smartPlaylistContinueSwitchExplanationField);
    optionsLayout->addStretch();
    layout->addLayout(optionsLayout);

    auto* buttons = new QDialogButtonBox(this);
    okButton = buttons->addButton(QDialogButtonBox::Ok);
    cancelButton = buttons->addButton(QDialogButtonBox::Cancel);
    layout->addWidget(buttons);
}

void PMSmartPlaylistPanel::connectControls()
{
    connect(okButton, &QPushButton::clicked, this, [this] { m_controller.smartPlaylistOK(okButton); });
    connect(cancelButton, &QPushButton::clicked, this, [this] { m_controller.smartPlaylistCancel(cancelButton); });
    connect(smartPlaylistTagAddButton, &QPushButton::clicked, this, [this] { m_controller.smartPlaylistTagAdd(smartPlaylistTagAddButton); });
    connect(smartPlaylistTagDeleteButton, &QPushButton::clicked, this, [this] { m_controller.smartPlaylistTagDelete(smartPlaylistTagDeleteButton); });
    connect(smartPlaylistDividerModeSelector, &QComboBox::currentIndexChanged, this, [this] { m_controller.smartPlaylistUpdateSubdividerSettings(smartPlaylistDividerModeSelector); });
    connect(smartPlaylistContinueSwitch, &QCheckBox::stateChanged, this, [this] { m_controller.smartPlaylistUpdateContinueSwitchExplanation(smartPlaylistContinueSwitch); });
    for (QCheckBox* box : {smartPlaylistNameSwitch, smartPlaylistRatingSwitch, smartPlaylistTimeSwitch, smartPlaylistDateSwitch, smartPlaylistPlaybackDateSwitch})
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
    switchOn(smartPlaylistNameAction, smartPlaylistNameSwitch);
    switchOn(smartPlaylistNameField, smartPlaylistNameSwitch);
    switchOn(smartPlaylistRatingAction, smartPlaylistRatingSwitch);
    switchOn(smartPlaylistTimeAction, smartPlaylistTimeSwitch);
    switchOn(smartPlaylistTimeField, smartPlaylistTimeSwitch);
    switchOn(smartPlaylistTimeUnit, smartPlaylistTimeSwitch);
    switchOn(smartPlaylistDateAction, smartPlaylistDateSwitch);
    switchOn(smartPlaylistDateField, smartPlaylistDateSwitch);
    switchOn(smartPlaylistDateUnit, smartPlaylistDateSwitch);
    switchOn(smartPlaylistPlaybackDateAction, smartPlaylistPlaybackDateSwitch);
    switchOn(smartPlaylistPlaybackDateField, smartPlaylistPlaybackDateSwitch);
    switchOn(smartPlaylistPlaybackDateUnit, smartPlaylistPlaybackDateSwitch);

    // What shows and hides as criteria are ticked keeps its room, so that nothing moves
    // under the pointer between two clicks.
    for (QWidget* w : {matchModeRow, static_cast<QWidget*>(smartPlaylistTagExplanationField),
                       static_cast<QWidget*>(smartPlaylistContinueSwitchExplanationField)}) {
        QSizePolicy policy = w->sizePolicy();
        policy.setRetainSizeWhenHidden(true);
        w->setSizePolicy(policy);
    }
}

// The controls carry the names the controller and the tests find them by.
void PMSmartPlaylistPanel::nameOutlets()
{
    const std::pair<QObject*, const char*> outlets[] = {
        {smartPlaylistMatchModeSelector, "smartPlaylistMatchModeSelector"},
        {smartPlaylistNameSwitch, "smartPlaylistNameSwitch"},
        {smartPlaylistNameAction, "smartPlaylistNameAction"},
        {smartPlaylistNameField, "smartPlaylistNameField"},
        {smartPlaylistRatingSwitch, "smartPlaylistRatingSwitch"},
        {smartPlaylistRatingAction, "smartPlaylistRatingAction"},
        {smartPlaylistRatingNumber, "smartPlaylistRatingNumber"},
        {smartPlaylistTimeSwitch, "smartPlaylistTimeSwitch"},
        {smartPlaylistTimeAction, "smartPlaylistTimeAction"},
        {smartPlaylistTimeField, "smartPlaylistTimeField"},
        {smartPlaylistTimeUnit, "smartPlaylistTimeUnit"},
        {smartPlaylistDateSwitch, "smartPlaylistDateSwitch"},
        {smartPlaylistDateAction, "smartPlaylistDateAction"},
        {smartPlaylistDateField, "smartPlaylistDateField"},
        {smartPlaylistDateUnit, "smartPlaylistDateUnit"},
        {smartPlaylistPlaybackDateSwitch, "smartPlaylistPlaybackDateSwitch"},
        {smartPlaylistPlaybackDateAction, "smartPlaylistPlaybackDateAction"},
        {smartPlaylistPlaybackDateField, "smartPlaylistPlaybackDateField"},
        {smartPlaylistPlaybackDateUnit, "smartPlaylistPlaybackDateUnit"},
        {smartPlaylistTagList, "smartPlaylistTagList"},
        {smartPlaylistTagAddButton, "smartPlaylistTagAddButton"},
        {smartPlaylistTagDeleteButton, "smartPlaylistTagDeleteButton"},
        {smartPlaylistTagExplanationField, "smartPlaylistTagExplanationField"},
        {smartPlaylistDividerModeSelector, "smartPlaylistDividerModeSelector"},
        {smartPlaylistDividerTagTokenField, "smartPlaylistDividerTagTokenField"},
        {smartPlaylistDividerTagOtherBehaviorSelector, "smartPlaylistDividerTagOtherBehaviorSelector"},
        {smartPlaylistDividerTagThresholdSelector, "smartPlaylistDividerTagThresholdSelector"},
        {smartPlaylistDividerBypassLevelSelector, "smartPlaylistDividerBypassLevelSelector"},
        {smartPlaylistFlattenSwitch, "smartPlaylistFlattenSwitch"},
        {smartPlaylistContinueSwitch, "smartPlaylistContinueSwitch"},
        {smartPlaylistContinueSwitchExplanationField, "smartPlaylistContinueSwitchExplanationField"},
    };
    for (const auto& [control, name] : outlets)
        control->setObjectName(QString::fromLatin1(name));
}

void PMSmartPlaylistPanel::reject()
{
    m_controller.smartPlaylistCancel(cancelButton);
}

void PMSmartPlaylistPanel::accept()
{
    m_controller.smartPlaylistOK(okButton);
}

void PMSmartPlaylistPanel::selectTag(QComboBox* box, long long tag, const QString& titleForUnlistedTag)
{
    // An item added for a stored value that the list does not offer goes when another
    // value is shown.
    constexpr int kAddedRole = Qt::UserRole + 1;
    for (int i = box->count() - 1; i >= 0; --i)
        if (box->itemData(i, kAddedRole).toBool() && box->itemData(i).toLongLong() != tag)
            box->removeItem(i);
    int index = box->findData(QVariant::fromValue(tag));
    if (index < 0) {
        // A value set elsewhere (an older version, the settings file) stays what it is
        // through OK, rather than becoming the first item.
        box->addItem(titleForUnlistedTag.isEmpty() ? QString::number(tag) : titleForUnlistedTag, QVariant::fromValue(tag));
        index = box->count() - 1;
        box->setItemData(index, true, kAddedRole);
    }
    box->setCurrentIndex(index);
}

long long PMSmartPlaylistPanel::selectedTag(const QComboBox* box)
{
    return box->currentData().toLongLong();
}

int PMSmartPlaylistPanel::subdividerKind() const
{
    return int(selectedTag(smartPlaylistDividerModeSelector));
}

void PMSmartPlaylistPanel::setCriteria(const DictionaryPtr& criteria)
{
    smartPlaylistMatchModeSelector->setCurrentIndex(criteria && boolValueOfObjectForKey(criteria, QStringLiteral("Match Any")) ? 1 : 0);
    const auto fill = [&](const char* key, QCheckBox* box, QComboBox* action, long long defaultAction, const std::function<void(const DictionaryPtr&)>& value) {
        const DictionaryPtr entry = entryOf(criteria, key);
        box->setChecked(entry && boolValueOfObjectForKey(entry, QStringLiteral("Enabled")));
        selectTag(action, entry ? longLongValueOfObjectForKey(entry, QStringLiteral("Action")) : defaultAction);
        value(entry);
    };
    fill("Name", smartPlaylistNameSwitch, smartPlaylistNameAction, 6, [&](const DictionaryPtr& e) { smartPlaylistNameField->setText(e ? e->value(QStringLiteral("Value")).string() : QString()); });
    fill("Rating", smartPlaylistRatingSwitch, smartPlaylistRatingAction, 0, [&](const DictionaryPtr& e) {
        smartPlaylistRatingNumber->setRating(Value(e ? longLongValueOfObjectForKey(e, QStringLiteral("Value")) : 5LL));
        smartPlaylistRatingSwitch->setChecked(e && boolValueOfObjectForKey(e, QStringLiteral("Enabled")));
    });
    const auto numberAndUnit = [](QSpinBox* field, QComboBox* unit, long long defaultValue, long long defaultUnit) {
        return [=](const DictionaryPtr& e) {
            field->setValue(int(e ? longLongValueOfObjectForKey(e, QStringLiteral("Value")) : defaultValue));
            selectTag(unit, e ? longLongValueOfObjectForKey(e, QStringLiteral("Unit")) : defaultUnit);
        };
    };
    fill("Time", smartPlaylistTimeSwitch, smartPlaylistTimeAction, 4, numberAndUnit(smartPlaylistTimeField, smartPlaylistTimeUnit, 1, 2));
    fill("Relative Date", smartPlaylistDateSwitch, smartPlaylistDateAction, 4, numberAndUnit(smartPlaylistDateField, smartPlaylistDateUnit, 1, 0));
    fill("Relative Playback Date", smartPlaylistPlaybackDateSwitch, smartPlaylistPlaybackDateAction, 4, numberAndUnit(smartPlaylistPlaybackDateField, smartPlaylistPlaybackDateUnit, 1, 0));

    const Value subdividerTag = criteria ? criteria->value(QStringLiteral("Subdivider Tag")) : Value();
    int kind = 0;
    if (subdividerTag.isString()) {
        smartPlaylistDividerTagTokenField->setObjectValue(cachedCSVFields(subdividerTag.string()));
        kind = 3;
    } else {
        smartPlaylistDividerTagTokenField->setObjectValue({});
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
    selectTag(smartPlaylistDividerModeSelector, kind);
    selectTag(smartPlaylistDividerTagOtherBehaviorSelector, criteria ? longLongValueOfObjectForKey(criteria, QStringLiteral("Subdivider Others Behavior")) : 0);
    const long long threshold = criteria ? longLongValueOfObjectForKey(criteria, QStringLiteral("Subdivider Threshold")) : 0;
    selectTag(smartPlaylistDividerTagThresholdSelector, threshold, tr("%1 or fewer").arg(threshold));
    const long long bypassLevel = criteria ? longLongValueOfObjectForKey(criteria, QStringLiteral("Subdivider Bypass Level")) : 0;
    selectTag(smartPlaylistDividerBypassLevelSelector, bypassLevel, bypassLevel > 0 ? tr("Keep every level (%1)").arg(bypassLevel) : tr("Skip single subgroups (%1)").arg(bypassLevel));
}

DictionaryPtr PMSmartPlaylistPanel::criteria(const ArrayPtr& tags) const
{
    auto result = Dictionary::make();
    if (smartPlaylistMatchModeSelector->currentIndex() >= 1)
        result->setValue(QStringLiteral("Match Any"), true);
    if (tags && !tags->isEmpty())
        result->setValue(QStringLiteral("Tags"), Value(tags));
    result->setValue(QStringLiteral("Name"), Value(Dictionary::make({{QStringLiteral("Enabled"), smartPlaylistNameSwitch->isChecked()},
                                                                     {QStringLiteral("Action"), selectedTag(smartPlaylistNameAction)},
                                                                     {QStringLiteral("Value"), smartPlaylistNameField->text()}})));
    result->setValue(QStringLiteral("Rating"), Value(Dictionary::make({{QStringLiteral("Enabled"), smartPlaylistRatingSwitch->isChecked()},
                                                                       {QStringLiteral("Action"), selectedTag(smartPlaylistRatingAction)},
                                                                       {QStringLiteral("Value"), smartPlaylistRatingNumber->rating().toLongLong()}})));
    const auto withUnit = [](bool on, long long action, long long value, long long unit) {
        return Value(Dictionary::make({{QStringLiteral("Enabled"), on}, {QStringLiteral("Action"), action}, {QStringLiteral("Value"), value},
                                       {QStringLiteral("Unit"), unit}}));
    };
    // Below the minimum a value is raised: a duration of at least 0, dates of at least 1.
    result->setValue(QStringLiteral("Time"), withUnit(smartPlaylistTimeSwitch->isChecked(), selectedTag(smartPlaylistTimeAction), std::max(0, smartPlaylistTimeField->value()), selectedTag(smartPlaylistTimeUnit)));
    result->setValue(QStringLiteral("Relative Date"),
                     withUnit(smartPlaylistDateSwitch->isChecked(), selectedTag(smartPlaylistDateAction), std::max(1, smartPlaylistDateField->value()), selectedTag(smartPlaylistDateUnit)));
    result->setValue(QStringLiteral("Relative Playback Date"), withUnit(smartPlaylistPlaybackDateSwitch->isChecked(), selectedTag(smartPlaylistPlaybackDateAction),
                                                                        std::max(1, smartPlaylistPlaybackDateField->value()), selectedTag(smartPlaylistPlaybackDateUnit)));
    static const char* const kinds[] = {nullptr, "Subdivide By Rating", "Subdivide By Date Added", nullptr, "Subdivide By First Letter",
                                        "Subdivide By Boolean Tag", "Subdivide By Last Playback Date", "Subdivide By Library Folder",
                                        "Subdivide By Time", "Subdivide By File Size"};
    const int kind = subdividerKind();
    if (kind == 3)
        result->setValue(QStringLiteral("Subdivider Tag"), PMCSVStringWithFields(smartPlaylistDividerTagTokenField->objectValue(), QString(), true));
    else if (kind > 0 && kind < 10 && kinds[kind])
        result->setValue(QString::fromLatin1(kinds[kind]), true);
    result->setValue(QStringLiteral("Subdivider Others Behavior"), selectedTag(smartPlaylistDividerTagOtherBehaviorSelector));
    result->setValue(QStringLiteral("Subdivider Threshold"), selectedTag(smartPlaylistDividerTagThresholdSelector));
    result->setValue(QStringLiteral("Subdivider Bypass Level"), selectedTag(smartPlaylistDividerBypassLevelSelector));
    return result;
}
