// The smart-group engine: its settings and what its stages share.
#include "library/maintenance/PMSmartGroups.h"
#include "library/maintenance/PMSmartGroupsShared.h"

#include "foundation/NSDate+PMExtensions.h"
#include "foundation/NSDictionary+PMExtensions.h"
#include "foundation/NSString+PMHelpManager.h"
#include "foundation/NSString+PMHelpManagerPaths.h"
#include "foundation/PMCSVParser.h"
#include "foundation/PMFunctions.h"
#include "foundation/PMLog.h"
#include "library/maintenance/PMMaintenanceShared.h"
#include "library/model/PMCachedSettings.h"
#include "library/model/PMLibraryItemArrays.h"
#include "library/model/PMMovieRepresentation.h"
#include "library/model/PMSortLibraryItems.h"
#include "platform/CallStack.h"
#include "platform/ConcurrentApply.h"
#include "foundation/PMSettingsKeys.h"

#include <QtCore/QDateTime>
#include <QtCore/QLocale>
#include <QtCore/QMap>

#include <algorithm>
#include <cmath>
#include <limits>

using platform::Array;
using platform::ArrayPtr;
using platform::Date;
using platform::Dictionary;
using platform::DictionaryPtr;
using platform::Value;

using namespace pmsmartgroups;

namespace pmsmartgroups {

// The leading number of the text ("12.5 GB" -> 12.5), 0 when there is none.
double leadingNumber(const QString& text)
{
    qsizetype i = 0;
    while (i < text.size() && text.at(i).isSpace())
        ++i;
    const qsizetype start = i;
    if (i < text.size() && (text.at(i) == u'-' || text.at(i) == u'+'))
        ++i;
    bool digits = false, dot = false;
    for (; i < text.size(); ++i) {
        const QChar ch = text.at(i);
        if (ch.isDigit() && ch.unicode() < 128)
            digits = true;
        else if (ch == u'.' && !dot)
            dot = true;
        else
            break;
    }
    if (!digits)
        return 0;
    return QStringView(text).mid(start, i - start).toDouble();
}

} // namespace pmsmartgroups

// ---- Settings ---------------------------------------------------------------------------

PMSmartGroupSettings PMSmartGroupSettings::fromDefaults()
{
    platform::UserDefaults& d = platform::UserDefaults::standard();
    PMSmartGroupSettings s;
    s.fuzzyDates = PMCachedSettings::determineFuzzyOldestDate;
    s.pathIndicatorPrefix = d.stringForKey(prefs::keys::SmartPlaylistNameCriterionPathIndicatorPrefix);
    s.emulateOtherSubdivisionTypes = d.boolForKey(prefs::keys::SubdivideByTagEmulateOtherSubdivisionTypes);
    s.fastTrack = d.boolForKey(prefs::keys::SubdivideByTagFastTrack);
    s.limitsDisabled = d.boolForKey(prefs::keys::SubdivisionLimitsDisable);
    s.stripWhitespace = !s.limitsDisabled && d.boolForKey(prefs::keys::SubdivisionLimitsStripWhitespace);
    s.groupByVolumeName = d.boolForKey(prefs::keys::SubdivideByLibraryFolderGroupByVolumeName);
    s.indicateAvailability = d.boolForKey(prefs::keys::SubdivideByLibraryFolderIndicateAvailability);
    s.acknowledgeValueCase = d.boolForKey(prefs::keys::SubdivideByTagAcknowledgeValueCase);
    s.useAlternates = d.boolForKey(prefs::keys::SubdivideByBooleanTagUseAlternates);
    s.skipPreviouslyUsedAlternates = s.useAlternates && d.boolForKey(prefs::keys::SubdivideByBooleanTagUseAlternatesSkipPreviouslyUsedAlternates);
    s.keepAllSubdivisions = d.boolForKey(prefs::keys::PseudoIndexKeepAllSubdivisions);
    s.includeNotes = d.boolForKey(prefs::keys::SubdivideByBooleanTagIncludeNotes);
    s.subdivideByValues = d.boolForKey(prefs::keys::SubdivideByBooleanTagSubdivideByValues);
    s.showCombinedNames = d.boolForKey(prefs::keys::SubdivideByBooleanTagSubdivideByValuesShowCombinedNames);
    s.raiseLateSeparateOthers = d.boolForKey(prefs::keys::SubdivideByBooleanTagUseAlternatesRaiseLateSeparateOthers);
    s.fanOutFineTuning = d.boolForKey(prefs::keys::EnableFanOutFineTuning);
    s.cleaningZeal = d.integerForKey(prefs::keys::SubgroupSettingsCleaningZeal);
    s.checkPseudoAncestors = d.boolForKey(prefs::keys::SubgroupSettingsCheckPseudoAncestors);
    s.otherName = pmmaintenance::localized("Other");
    s.neverName = pmmaintenance::localized("Never");
    s.noRatingName = pmmaintenance::localized("No Rating");
    s.nameSeparator = pmmaintenance::localized(": ");
    return s;
}

DictionaryPtr PMRekeyedSubgroupSettings(const DictionaryPtr& settings, const QString& oldID, const QString& newID)
{
    if (!settings)
        return nullptr;
    auto result = Dictionary::make();
    for (auto it = settings->begin(); it != settings->end(); ++it) {
        const QString key = it.key();
        const Value value = it.value().isDictionary() ? Value(deeplyMutableCopy(it.value().dictionary())) : it.value();
        result->setValue(!oldID.isEmpty() && key.startsWith(oldID) ? newID + key.mid(oldID.size()) : key, value);
    }
    return result;
}
