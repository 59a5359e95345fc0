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
#include <ctime>

using namespace pmmaintenance;
using platform::ArrayPtr;
using platform::Value;

namespace {

const QString kSeparator = QStringLiteral(",");

// "yyyy-MM-dd'T'HH:mm:ssZZZZZ" in the system's time zone ("Z" for UTC, else "+02:00");
// empty for the never date and for a date that cannot be written. Written by hand: ICU's
// formatter costs microseconds a date, and a large library has hundreds of thousands.
void appendDate(QString& line, const platform::Date& date)
{
    if (isNeverDate(date) || !std::isfinite(date.secondsSince1970) || std::fabs(date.secondsSince1970) > 253402300799.0)
        return;
    const time_t seconds = time_t(std::floor(date.secondsSince1970));
    struct tm local {};
    if (!localtime_r(&seconds, &local))
        return;
    char text[40];
    const long offset = local.tm_gmtoff;
    int n;
    if (offset == 0)
        n = std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                          local.tm_hour, local.tm_min, local.tm_sec);
    else
        n = std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d%c%02ld:%02ld", local.tm_year + 1900, local.tm_mon + 1,
                          local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, offset < 0 ? '-' : '+', std::labs(offset) / 3600,
                          (std::labs(offset) % 3600) / 60);
    if (n > 0)
        line += QLatin1String(text, std::min(n, int(sizeof text) - 1));
}

void appendCell(QString& line, const QString& text)
{
    line += kSeparator;
    line += PMCSVQuotedFieldWithSeparator(text, kSeparator);
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
    for (const Value& v : *movies) {
        PMMovieRepresentationPrototype* movie = PMMovie(v);
        if (!movie)
            continue;
        text += QLatin1Char('\n');
        text += PMCSVQuotedFieldWithSeparator(movie->displayName(), kSeparator);
        appendCell(text, movie->locationKey());
        text += kSeparator;
        text += QString::number(qulonglong(std::max(0.0, movie->rating())));
        const platform::DictionaryPtr tags = movie->cachedTags();
        for (const QString& key : std::as_const(tagKeys)) {
            QString value;
            if (tags)
                if (const platform::DictionaryPtr tag = tags->value(key).dictionary())
                    value = tag->value(QStringLiteral("Value")).string();
            appendCell(text, value);
        }
        text += kSeparator;
        appendDate(text, movie->creationDate());
        text += kSeparator;
        appendDate(text, movie->additionDate());
        text += kSeparator;
        appendDate(text, movie->lastPlaybackDate());
        text += kSeparator;
        text += movie->uniqueLibraryID();
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
        path = QFileDialog::getSaveFileName(mainWindow(), title, proposed + QStringLiteral(".csv"), QStringLiteral("CSV (*.csv)"));
        if (!path.isEmpty() && !path.endsWith(QLatin1String(".csv"), Qt::CaseInsensitive))
            path += QStringLiteral(".csv");
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
