#include "foundation/NSString+PMHelpManagerMarks.h"

#include <QtCore/QHash>

#include <mutex>
#include <shared_mutex>

namespace {

struct Marks {
    QString holder; // keeps the text alive, so its address cannot be reused by another text
    bool seriesIDPrefix = false;
    bool sortLast = false;
};

struct Registry {
    std::shared_mutex lock;
    QHash<const void*, Marks> marks;
    qsizetype sweepAt = 1024;
};

Registry& registry()
{
    static Registry r;
    return r;
}

// Marks of texts that nobody but the registry holds any more can never be asked for again.
void sweep(Registry& r)
{
    for (auto it = r.marks.begin(); it != r.marks.end();) {
        if (it->holder.isDetached())
            it = r.marks.erase(it);
        else
            ++it;
    }
    r.sweepAt = std::max<qsizetype>(1024, r.marks.size() * 2);
}

void setMark(const QString& string, bool Marks::*which, bool flag)
{
    if (string.isEmpty())
        return;
    Registry& r = registry();
    std::unique_lock guard(r.lock);
    const void* key = string.constData();
    auto it = r.marks.find(key);
    if (it == r.marks.end()) {
        if (!flag)
            return;
        if (r.marks.size() >= r.sweepAt)
            sweep(r);
        it = r.marks.insert(key, Marks{string});
    }
    (*it).*which = flag;
    if (!it->seriesIDPrefix && !it->sortLast)
        r.marks.erase(it);
}

bool mark(const QString& string, bool Marks::*which)
{
    if (string.isEmpty())
        return false;
    Registry& r = registry();
    std::shared_lock guard(r.lock);
    const auto it = r.marks.constFind(string.constData());
    return it != r.marks.cend() && it->holder.size() == string.size() && (*it).*which;
}

} // namespace

void setAssociatedSeriesIDPrefixFlag(const QString& string, bool flag)
{
    setMark(string, &Marks::seriesIDPrefix, flag);
}

bool associatedSeriesIDPrefixFlag(const QString& string)
{
    return mark(string, &Marks::seriesIDPrefix);
}

void setAssociatedSortLastFlag(const QString& string, bool flag)
{
    setMark(string, &Marks::sortLast, flag);
}

bool associatedSortLastFlag(const QString& string)
{
    return mark(string, &Marks::sortLast);
}
