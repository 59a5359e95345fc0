#include "foundation/NSArray+PMExtensions.h"

#include "foundation/NSString+PMHelpManagerMatching.h"
#include "foundation/PMCaseFolding.h"
#include "platform/RegularExpression.h"

#include "platform/ConcurrentApply.h"
#include <QtCore/QRandomGenerator>
#include <QtCore/QThread>

#include <algorithm>
#include <mutex>

namespace {

std::mutex g_orderingLock;
PMNameOrdering g_ordering;

int defaultCompareNames(const QString& a, const QString& b)
{
    const int folded = a.compare(b, Qt::CaseInsensitive);
    return folded != 0 ? folded : a.compare(b);
}

PMNameOrdering currentOrdering()
{
    std::lock_guard guard(g_orderingLock);
    PMNameOrdering ordering = g_ordering;
    if (!ordering.compareNames)
        ordering.compareNames = defaultCompareNames;
    if (!ordering.sortString)
        ordering.sortString = [](const QString& name) { return name; };
    return ordering;
}

bool isSameValueObject(const platform::Value& a, const platform::Value& b)
{
    if (a.type() != b.type())
        return false;
    switch (a.type()) {
    case platform::Value::Type::Array:
    case platform::Value::Type::Dictionary:
    case platform::Value::Type::Object:
        return a.object() == b.object();
    case platform::Value::Type::String:
        return a.string().constData() == b.string().constData() && a.string().size() == b.string().size();
    case platform::Value::Type::Data:
        return a.data().constData() == b.data().constData() && a.data().size() == b.data().size();
    default:
        return a == b; // plain numbers, dates and null have no identity apart from their value
    }
}

template <class List>
void shuffleList(List& list)
{
    const qsizetype n = list.size();
    if (n < 2)
        return;
    // Fisher-Yates: every order equally likely.
    for (qsizetype left = n; left > 1; --left) {
        const qsizetype pick = qsizetype(QRandomGenerator::global()->bounded(quint64(left)));
        std::swap(list[left - 1], list[pick]);
    }
}

QString commonPrefixOfTwo(const QString& a, const QString& b)
{
    const qsizetype n = std::min(a.size(), b.size());
    qsizetype i = 0;
    while (i < n && (a.at(i) == b.at(i) || a.at(i).toCaseFolded() == b.at(i).toCaseFolded()))
        ++i;
    if (i > 0 && i < a.size() && a.at(i - 1).isHighSurrogate())
        --i; // never end inside a surrogate pair
    return a.left(i);
}

} // namespace

void PMSetNameOrdering(PMNameOrdering ordering)
{
    std::lock_guard guard(g_orderingLock);
    g_ordering = std::move(ordering);
}

qsizetype indexOfStringWithSameLowercaseStringAsString(const QStringList& strings, const QString& string)
{
    const QString lower = string.toLower();
    for (qsizetype i = 0; i < strings.size(); ++i)
        if (strings.at(i).toLower() == lower)
            return i;
    return -1;
}

bool containsStringWithSameLowercaseStringAsString(const QStringList& strings, const QString& string)
{
    return indexOfStringWithSameLowercaseStringAsString(strings, string) >= 0;
}

bool removeStringWithSameLowercaseStringAsString(QStringList& strings, const QString& string)
{
    const qsizetype index = indexOfStringWithSameLowercaseStringAsString(strings, string);
    if (index < 0)
        return false;
    strings.removeAt(index);
    return true;
}

bool isIdenticalToArray(const platform::ArrayPtr& array, const platform::ArrayPtr& other)
{
    if (array == other)
        return true;
    if (!array || !other || array->count() != other->count())
        return false;
    for (qsizetype i = 0; i < array->count(); ++i)
        if (!isSameValueObject(array->at(i), other->at(i)))
            return false;
    return true;
}

platform::ArrayPtr objectsForIndexSet(const platform::ArrayPtr& array, std::vector<qsizetype> indexes)
{
    if (!array || indexes.empty())
        return nullptr;
    std::sort(indexes.begin(), indexes.end());
    indexes.erase(std::unique(indexes.begin(), indexes.end()), indexes.end());
    auto result = platform::Array::make();
    for (qsizetype index : indexes) {
        if (index < 0)
            continue;
        if (index >= array->count())
            break;
        result->append(array->at(index));
    }
    return result->isEmpty() ? nullptr : result;
}

QStringList stringsByTrimmingCharactersInSet(const QStringList& strings, const QString& characters)
{
    QStringList result;
    for (const QString& s : strings) {
        if (s.isEmpty())
            continue;
        qsizetype start = 0, end = s.size();
        while (start < end && characters.contains(s.at(start)))
            ++start;
        while (end > start && characters.contains(s.at(end - 1)))
            --end;
        if (end > start)
            result.append(s.mid(start, end - start));
    }
    return result;
}

QStringList trimmedStrings(const QStringList& strings)
{
    QStringList result;
    for (const QString& s : strings) {
        const QString t = s.trimmed();
        if (!t.isEmpty())
            result.append(t);
    }
    return result;
}

QStringList fuzzyMatchesForQuery(const QStringList& strings, const QString& query)
{
    const auto evaluator = newMatchingQualityEvaluatorAllowingFuzzyMatching(query, true);
    if (!evaluator)
        return {};
    PMNameOrdering ordering;
    {
        std::lock_guard guard(g_orderingLock);
        ordering = g_ordering;
    }
    struct Hit {
        std::uint64_t quality;
        qsizetype index;
    };
    const auto before = [&](const Hit& a, const Hit& b) {
        if (a.quality != b.quality)
            return a.quality < b.quality;
        if (ordering.compareNames)
            return ordering.compareNames(strings.at(a.index), strings.at(b.index)) < 0;
        const int byFolded = PMCompareIgnoringCase(strings.at(a.index), strings.at(b.index));
        if (byFolded != 0)
            return byFolded < 0;
        const int exact = QString::compare(strings.at(a.index), strings.at(b.index), Qt::CaseSensitive);
        return exact != 0 ? exact < 0 : a.index < b.index;
    };

    // The list is cut into runs that are matched and sorted concurrently, then merged.
    const qsizetype n = strings.size();
    const int threads = std::max(1, QThread::idealThreadCount());
    const qsizetype runCount = std::clamp<qsizetype>(n / 4096, 1, threads);
    std::vector<std::vector<Hit>> runs(static_cast<size_t>(runCount));
    std::vector<int> runIndexes(static_cast<size_t>(runCount));
    for (qsizetype r = 0; r < runCount; ++r)
        runIndexes[size_t(r)] = int(r);
    const auto work = [&](int r) {
        const qsizetype from = n * r / runCount;
        const qsizetype to = n * (r + 1) / runCount;
        std::vector<Hit>& run = runs[size_t(r)];
        for (qsizetype i = from; i < to; ++i) {
            const std::uint64_t quality = (*evaluator)(strings.at(i));
            if (quality != PMNotFound)
                run.push_back({quality, i});
        }
        std::sort(run.begin(), run.end(), before);
    };
    if (runCount == 1)
        work(0);
    else
        platform::concurrentApply(runIndexes.size(), [&](std::size_t r) { work(runIndexes[r]); });

    // Merge the sorted runs pairwise, the pairs of one round side by side.
    while (runs.size() > 1) {
        std::vector<std::vector<Hit>> next((runs.size() + 1) / 2);
        std::vector<int> pairs(next.size());
        for (size_t k = 0; k < pairs.size(); ++k)
            pairs[k] = int(k);
        platform::concurrentApply(pairs.size(), [&](std::size_t index) {
            const int k = pairs[index];
            const size_t a = size_t(k) * 2;
            if (a + 1 >= runs.size()) {
                next[size_t(k)] = std::move(runs[a]);
                return;
            }
            std::vector<Hit>& out = next[size_t(k)];
            out.reserve(runs[a].size() + runs[a + 1].size());
            std::merge(std::make_move_iterator(runs[a].begin()), std::make_move_iterator(runs[a].end()),
                       std::make_move_iterator(runs[a + 1].begin()), std::make_move_iterator(runs[a + 1].end()),
                       std::back_inserter(out), before);
        });
        runs = std::move(next);
    }
    const std::vector<Hit>& merged = runs[0];
    QStringList result;
    result.reserve(qsizetype(merged.size()));
    for (const Hit& hit : merged)
        result.append(strings.at(hit.index));
    return result;
}

QString commonPrefixByTrimmingIrrelevantCharacters(const QStringList& names, bool trimIrrelevantCharacters, bool aggressively)
{
    if (names.isEmpty())
        return QString();
    const PMNameOrdering ordering = currentOrdering();
    static const platform::RegularExpressionPtr leadingNumber =
        platform::RegularExpression::make(QStringLiteral("^\\s*(\\d+\\s*([:punct:]*\\s+|[:punct:]+))?"));
    QString prefix;
    for (qsizetype i = 0; i < names.size(); ++i) {
        QString name = names.at(i);
        if (trimIrrelevantCharacters) {
            if (leadingNumber)
                name = leadingNumber->stringByReplacingMatches(name, QString());
            if (aggressively)
                name = ordering.sortString(name);
        }
        if (name.isEmpty())
            return QString();
        prefix = i == 0 ? name : commonPrefixOfTwo(prefix, name);
        if (prefix.isEmpty()) {
            if (!trimIrrelevantCharacters || aggressively)
                return QString();
            return commonPrefixByTrimmingIrrelevantCharacters(names, true, true);
        }
    }
    if (!trimIrrelevantCharacters)
        return prefix.trimmed();
    static const platform::RegularExpressionPtr trailing = platform::RegularExpression::make(
        QStringLiteral("(\\s+|[\\[\\-\\:_.,;({<#0]+)(p(ar)?t|ch(apter)?)?$"), platform::RegularExpression::CaseInsensitive);
    while (trailing && !prefix.isEmpty()) {
        const QString shorter = trailing->stringByReplacingMatches(prefix, QString());
        if (shorter == prefix)
            break;
        prefix = shorter;
    }
    return prefix;
}

QString commonPrefix(const QStringList& names)
{
    return commonPrefixByTrimmingIrrelevantCharacters(names, true, false);
}

void shuffle(platform::Array& array)
{
    shuffleList(array.values());
}

void shuffle(QStringList& strings)
{
    shuffleList(strings);
}

void invert(platform::Array& array)
{
    std::reverse(array.values().begin(), array.values().end());
}

void invert(QStringList& strings)
{
    std::reverse(strings.begin(), strings.end());
}
