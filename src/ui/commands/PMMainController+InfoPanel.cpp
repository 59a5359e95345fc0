// The movies that the info panel's commands act on, gathered from a selection of library
// items: each movie once (as its original), containers entered in the order they show.
#include "library/model/PMMainController.h"

#include "library/model/PMLibraryContainer.h"
#include "library/model/PMMovieRepresentation.h"

#include <QtCore/QFileInfo>
#include <QtCore/QSet>

#include <algorithm>
#include <functional>

using platform::Array;
using platform::ArrayPtr;
using platform::Value;

namespace {

// Deeper trees than this are not walked (a damaged or hostile library).
constexpr int kMaximumDepth = 256;

} // namespace

ArrayPtr PMMainController::uniqueMovieRepresentationsFromItems(const ArrayPtr& items, const QStringList& restrictToPaths, bool sort,
                                                               bool orIncludeHiddenMovieRepresentations, bool includeProxies)
{
    auto result = Array::make();
    QSet<const platform::Object*> seen;
    std::function<void(const ArrayPtr&, bool, int)> walk = [&](const ArrayPtr& children, bool enterContainers, int depth) {
        if (!children || depth > kMaximumDepth)
            return;
        for (const Value& v : *children) {
            if (PMMovieRepresentationPrototype* movie = PMMovie(v)) {
                if (movie->isProxy() && !includeProxies)
                    continue;
                if (!restrictToPaths.isEmpty()) {
                    const QString path = movie->path();
                    const bool below = std::any_of(restrictToPaths.begin(), restrictToPaths.end(), [&](const QString& p) {
                        return !path.isEmpty() && (path == p || path.startsWith(p.endsWith(u'/') ? p : p + u'/'));
                    });
                    if (!below || !QFileInfo::exists(path))
                        continue;
                }
                const Value original = movie->nonProxySelf();
                if (!seen.contains(original.objectPointer())) {
                    seen.insert(original.objectPointer());
                    result->append(v);
                }
            } else if (PMLibraryContainer* container = PMContainer(v)) {
                if (!enterContainers || (container->isSmartGroup() && !includeProxies))
                    continue;
                const ArrayPtr inner = sort ? container->sortedChildren()
                                            : (orIncludeHiddenMovieRepresentations ? container->rawChildren() : container->filteredChildren());
                const bool flattened = container->value(QStringLiteral("Flattened")).toBool()
                                       || container->value(QStringLiteral("Flattened Non-Others")).toBool();
                walk(inner, !flattened, depth + 1);
            }
        }
    };
    walk(items, true, 0);
    return result;
}
