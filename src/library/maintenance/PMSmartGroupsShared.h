// What the files of the smart-group engine share: the keys of the containers and
// records it reads and writes, and the helpers that more than one of its stages uses.
#pragma once

#include "platform/Value.h"

#include <QtCore/QSet>
#include <QtCore/QString>

#include <vector>

namespace pmsmartgroups {

inline const QString kCriteria = QStringLiteral("Criteria");
inline const QString kChildren = QStringLiteral("Children");
inline const QString kSubdivision = QStringLiteral("Subdivision");
inline const QString kSubdivisionOthers = QStringLiteral("Subdivision Others");
inline const QString kSubdivisionIntermediate = QStringLiteral("Subdivision Intermediate");
inline const QString kSubdivisionBranch = QStringLiteral("Subdivision Branch");
inline const QString kSubdivisionStop = QStringLiteral("Subdivision Stop");
inline const QString kSubdivisionStopNow = QStringLiteral("Subdivision Stop: Now");
inline const QString kSubdividingTag = QStringLiteral("Subdividing Tag");
inline const QString kSubdividingTagRaised = QStringLiteral("Subdividing Tag: Raised");
inline const QString kPseudoIndex = QStringLiteral("Pseudo-Index");
inline const QString kPseudoParent = QStringLiteral("Pseudo-Parent");
inline const QString kUniqueID = QStringLiteral("Unique ID");
inline const QString kFlattened = QStringLiteral("Flattened");
inline const QString kFlattenedNonOthers = QStringLiteral("Flattened Non-Others");
inline const QString kDidSubdivideBasedOnPlayback = QStringLiteral("Did Subdivide Based On Playback");
inline const QString kSubgroupSettings = QStringLiteral("Subgroup Settings");
inline const QString kSubdividerTag = QStringLiteral("Subdivider Tag");

// The leading number of the text ("12.5 GB" -> 12.5), 0 when there is none.
double leadingNumber(const QString& text);
// A movie's record (a proxy's original), unless it was added before.
void addRecordOnce(const platform::Value& v, std::vector<platform::Value>& into, QSet<const void*>& seen);

} // namespace pmsmartgroups
