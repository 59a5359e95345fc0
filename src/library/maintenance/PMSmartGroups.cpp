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
    s.pathIndicatorPrefix = d.stringForKey(QStringLiteral("Smart Playlist Name Criterion: Path Indicator Prefix"));
    s.emulateOtherSubdivisionTypes = d.boolForKey(QStringLiteral("Subdivide By Tag: Emulate Other Subdivision Types"));
    s.fastTrack = d.boolForKey(QStringLiteral("Subdivide By Tag: Fast Track"));
    s.limitsDisabled = d.boolForKey(QStringLiteral("Subdivision Limits: Disable"));
    s.stripWhitespace = !s.limitsDisabled && d.boolForKey(QStringLiteral("Subdivision Limits: Strip Whitespace"));
    s.groupByVolumeName = d.boolForKey(QStringLiteral("Subdivide By Library Folder: Group By Volume Name"));
    s.indicateAvailability = d.boolForKey(QStringLiteral("Subdivide By Library Folder: Indicate Availability"));
    s.acknowledgeValueCase = d.boolForKey(QStringLiteral("Subdivide By Tag: Acknowledge Value Case"));
    s.useAlternates = d.boolForKey(QStringLiteral("Subdivide By Boolean Tag: Use Alternates"));
    s.skipPreviouslyUsedAlternates = s.useAlternates && d.boolForKey(QStringLiteral("Subdivide By Boolean Tag: Use Alternates: Skip Previously Used Alternates"));
    s.keepAllSubdivisions = d.boolForKey(QStringLiteral("Pseudo-Index: Keep All Subdivisions"));
    s.includeNotes = d.boolForKey(QStringLiteral("Subdivide By Boolean Tag: Include Notes"));
    s.subdivideByValues = d.boolForKey(QStringLiteral("Subdivide By Boolean Tag: Subdivide By Values"));
    s.showCombinedNames = d.boolForKey(QStringLiteral("Subdivide By Boolean Tag: Subdivide By Values: Show Combined Names"));
    s.raiseLateSeparateOthers = d.boolForKey(QStringLiteral("Subdivide By Boolean Tag: Use Alternates: Raise Late: Separate Others"));
    s.fanOutFineTuning = d.boolForKey(QStringLiteral("Enable Fan-Out Fine Tuning"));
    s.cleaningZeal = d.integerForKey(QStringLiteral("Subgroup Settings: Cleaning Zeal"));
    s.checkPseudoAncestors = d.boolForKey(QStringLiteral("Subgroup Settings: Check Pseudo-Ancestors"));
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
