// The metadata of movies as CSV that spreadsheets read: one line per movie with its name,
// location, rating, one column for every tag name of the library, its dates and its ID.
#include "library/model/PMMainController.h"

#include "foundation/NSDate+PMExtensions.h"
#include "foundation/PMCSVParser.h"
#include "foundation/PMLog.h"
#include "library/maintenance/PMMaintenanceShared.h"
#include "library/model/PMMovieRepresentation.h"
#include "library/model/PMSortLibraryItems.h"
#include "platform/Alert.h"
#include "platform/SaveFile.h"

#include <QtWidgets/QApplication>
#include <QtWidgets/QFileDialog>

#include <algorithm>
#include <cmath>
#include <climits>
#include <ctime>

#include <QtCore/QHash>

using namespace pmmaintenance;
using platform::ArrayPtr;
using platform::Value;

namespace {

const QString kSeparator = QStringLiteral(",");

// Dates as "yyyy-MM-dd'T'HH:mm:ssZZZZZ" in the system's time zone ("Z" for UTC, else
// "+02:00"). Written by hand: a formatter costs microseconds a date, and a large library
// has hundreds of thousands. The zone's offset is looked up once per day of time: when the
// day begins and ends with one offset it holds all day (zones change their offset months
// apart); a day with a change asks the system for each date.
class DateWriter {
public:
    void append(QString& line, const platform::Date& date)
    {
        if (isNeverDate(date) || !std::isfinite(date.secondsSince1970) || std::fabs(date.secondsSince1970) > 253402300799.0)
            return;
        const long long seconds = (long long)std::floor(date.secondsSince1970);
        long offset = 0;
        if (!offsetAt(seconds, &offset))
            return;
        const long long local = seconds + offset;
        long long days = floorDiv(local, 86400);
        const long long inDay = local - days * 86400;
        // Days since 1970-01-01 to the civil date (proleptic Gregorian).
        days += 719468;
        const long long era = floorDiv(days, 146097);
        const long long dayOfEra = days - era * 146097;
        const long long yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
        const long long dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
        const long long mp = (5 * dayOfYear + 2) / 153;
        const int day = int(dayOfYear - (153 * mp + 2) / 5 + 1);
        const int month = int(mp < 10 ? mp + 3 : mp - 9);
        const long long year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
        if (year < 0 || year > 9999)
            return;
        char16_t text[32];
        int n = 0;
        auto digits = [&](long long value, int width) {
            for (int i = width - 1; i >= 0; --i, value /= 10)
                text[n + i] = char16_t(u'0' + value % 10);
            n += width;
        };
        digits(year, 4);
        text[n++] = u'-';
        digits(month, 2);
        text[n++] = u'-';
        digits(day, 2);
        text[n++] = u'T';
        digits(inDay / 3600, 2);
        text[n++] = u':';
        digits(inDay / 60 % 60, 2);
        text[n++] = u':';
        digits(inDay % 60, 2);
        if (offset == 0) {
            text[n++] = u'Z';
        } else {
            text[n++] = offset < 0 ? u'-' : u'+';
            const long magnitude = std::labs(offset);
            digits(magnitude / 3600, 2);
            text[n++] = u':';
            digits(magnitude / 60 % 60, 2);
        }
        line.append(QStringView(text, n));
    }

private:
    static long long floorDiv(long long a, long long b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }
    static bool systemOffset(long long seconds, long* getOffset)
    {
        const time_t t = time_t(seconds);
        struct tm local {};
        if (!localtime_r(&t, &local))
            return false;
        *getOffset = local.tm_gmtoff;
        return true;
    }
    bool offsetAt(long long seconds, long* getOffset)
    {
        const long long bucket = floorDiv(seconds, kSpan);
        long offset = kMixed;
        if (bucket == m_lastBucket) {
            offset = m_lastOffset;
        } else if (const auto it = m_offsets.constFind(bucket); it != m_offsets.cend()) {
            offset = *it;
        } else {
            long first = 0, last = 0;
            if (systemOffset(bucket * kSpan, &first) && systemOffset(bucket * kSpan + kSpan - 1, &last) && first == last)
                offset = first;
            m_offsets.insert(bucket, offset);
        }
        m_lastBucket = bucket;
        m_lastOffset = offset;
        if (offset == kMixed)
            return systemOffset(seconds, getOffset);
        *getOffset = offset;
        return true;
    }
    static constexpr long long kSpan = 86400;
    long long m_lastBucket = LLONG_MIN;
    long m_lastOffset = 0;
    static constexpr long kMixed = LONG_MIN;
    QHash<long long, long> m_offsets;
};

// A text cell. Spreadsheets take a cell that begins with "=", "+", "-" or "@" (or a tab
// or carriage return before one) for a formula and run it; names and tags come from files
// and the web, so such a cell gets a leading apostrophe, which spreadsheets read as "show
// as text" and do not display.
QString quotedCell(const QString& text)
{
    if (!text.isEmpty()) {
        const char16_t first = text.front().unicode();
        if (first == u'=' || first == u'+' || first == u'-' || first == u'@' || first == u'\t' || first == u'\r')
            return PMCSVQuotedFieldWithSeparator(u'\'' + text, kSeparator);
    }
    return PMCSVQuotedFieldWithSeparator(text, kSeparator);
}

void appendCell(QString& line, const QString& text)
{
    line += kSeparator;
    line += quotedCell(text);
}

} // namespace

QString PMMainController::metadataCSVForMovieRepresentations(const ArrayPtr& movies)
{
    QStringList tagKeys = _tagTypes.keys();
    std::sort(tagKeys.begin(), tagKeys.end(), [](const QString& a, const QString& b) { return PMCompareNamesBySortString(a, b) < 0; });
    QString text = QStringLiteral("Name,Location,Rating");
    for (const QString& key : std::as_const(tagKeys))
        appendCell(text, _tagTypes.value(key).tag);
    text += QStringLiteral(",Date Created,Date Added,Last Opened,UUID");
    if (!movies)
        return text;
    text.reserve(text.size() + movies->count() * (160 + 8 * tagKeys.size()));
    DateWriter dates;
    QHash<QString, qsizetype> columnOfKey;
    for (qsizetype i = 0; i < tagKeys.size(); ++i)
        columnOfKey.insert(tagKeys[i], i);
    std::vector<const QString*> cells(size_t(tagKeys.size()), nullptr);
    const QString valueKey = QStringLiteral("Value");
    for (const Value& v : *movies) {
        PMMovieRepresentationPrototype* movie = PMMovie(v);
        if (!movie)
            continue;
        text += QLatin1Char('\n');
        text += quotedCell(movie->displayName());
        appendCell(text, movie->locationKey());
        text += kSeparator;
        text += QString::number(qulonglong(std::max(0.0, movie->rating())));
        // The movie's few tags, each put in its column, rather than a look-up per column.
        std::fill(cells.begin(), cells.end(), nullptr);
        const platform::DictionaryPtr tags = movie->cachedTags();
        if (tags)
            for (auto it = tags->begin(); it != tags->end(); ++it)
                if (it.value().isDictionary()) {
                    const auto column = columnOfKey.constFind(it.key());
                    if (column == columnOfKey.cend())
                        continue;
                    // The tags stay alive (held by `tags`) while the line is written.
                    const auto* tag = static_cast<const platform::Dictionary*>(it.value().objectPointer());
                    if (const Value* value = tag->find(valueKey))
                        cells[size_t(*column)] = &value->string();
                }
        for (const QString* cell : cells) {
            text += kSeparator;
            if (cell)
                text += quotedCell(*cell);
        }
        text += kSeparator;
        dates.append(text, movie->creationDate());
        text += kSeparator;
        dates.append(text, movie->additionDate());
        text += kSeparator;
        dates.append(text, movie->lastPlaybackDate());
        text += kSeparator;
        text += quotedCell(movie->uniqueLibraryID());
    }
    return text;
}

bool PMMainController::exportMetadataCSV(const Value& representedObject)
{
    ArrayPtr movies = representedObject.array();
    if (!movies)
        movies = cachedInfoMovieRepresentationsSorted(true);
    if (!movies || movies->isEmpty()) {
        platform::beep();
        return false;
    }
    const QString title = localized("Export Metadata CSV");
    const QString proposed = localized("Metadata");
    QString path;
    if (_chooseExportPathOverride) {
        path = _chooseExportPathOverride(title, proposed);
    } else if (qobject_cast<QApplication*>(QCoreApplication::instance())) {
        // The dialog adds the suffix itself, before it asks whether to replace a file of
        // that name: one added afterwards would replace an existing file unasked.
        QFileDialog dialog(mainWindow(), title, QString(), QStringLiteral("CSV (*.csv)"));
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setDefaultSuffix(QStringLiteral("csv"));
        dialog.selectFile(proposed + QStringLiteral(".csv"));
        if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
            path = dialog.selectedFiles().constFirst();
    }
    if (path.isEmpty())
        return false;
    const QString error = platform::saveFile(path, metadataCSVForMovieRepresentations(movies).toUtf8());
    if (!error.isEmpty()) {
        PMLog("cannot export metadata: %@", error);
        platform::beep();
        return false;
    }
    return true;
}
