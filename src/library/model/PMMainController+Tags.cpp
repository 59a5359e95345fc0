// The main controller's share of the tag model.
#include "library/model/PMMainController.h"

#include "library/model/PMLibraryItem.h"

bool PMMainController::isRelevantTag(const QString& lowercaseTag) const
{
    if (lowercaseTag.isEmpty())
        return false;
    for (const platform::Value& v : *_nonProxyFilteredMovieRepresentations)
        if (PMLibraryItem* item = PMItem(v); item && !item->cachedLowercaseValueForLowercaseTag(lowercaseTag).isEmpty())
            return true;
    return false;
}
