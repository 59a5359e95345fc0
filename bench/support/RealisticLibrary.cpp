#include "RealisticLibrary.h"

#include "foundation/NSDictionary+PMExtensions.h"
#include "library/model/PMLibraryContainer.h"
#include "library/model/PMMainController.h"
#include "library/model/PMMovieRepresentation.h"
#include "platform/UserDefaults.h"
#include "platform/Value.h"

#include <QtCore/QDir>
#include <QtCore/QFileInfo>
#include <QtCore/QRandomGenerator>
#include <QtCore/QSet>

#include <fcntl.h>
#include <unistd.h>

using platform::Array;
using platform::Date;
using platform::Dictionary;
using platform::DictionaryPtr;
using platform::Value;

namespace benchsupport {

namespace {

// Words of the names: plain English, accented Latin, and CJK, as a collection gathered from
// many places holds them.
const char* const kWords[] = {
    "The", "Long", "Harbour", "Night", "Train", "Paper", "Moons", "Quiet", "Field", "Orbit", "Glass", "Orchard", "Saltwater",
    "Midsummer", "Lights", "Hollow", "Creek", "Blue", "Hour", "Ember", "Northbound", "Lanterns", "Ferry", "Copper", "Sky",
    "Winter", "Garden", "Driftwood", "Holiday", "Birthday", "Beach", "Wedding", "Concert", "Clip", "Trailer", "Interview",
    "Été", "Noël", "Straße", "Café", "Crème", "Brûlée", "Señor", "Jalapeño", "Øresund", "Ærø", "Zoë", "naïve", "Ça", "Göteborg",
    "Žižkov", "Łódź", "São", "Paulo", "Ñandú", "Fête", "Garçon", "Müller", "Søren", "Ísland",
    "東京", "夜", "物語", "さくら", "風", "京都", "海辺", "北京", "上海", "서울", "바다", "花火", "猫", "旅行"};
const char* const kMovieExtensions[] = {"mp4", "mkv", "mov", "avi", "m4v", "webm"};
const char* const kGenres[] = {"Drama", "Comedy", "Action", "Horror", "Documentary", "Family", "Travel", "Music", "Animation", "Science Fiction",
                               "Romance", "Thriller"};
const char* const kFolderWords[] = {"Holidays", "Family", "Films", "Concerts", "Clips", "Series", "Trips", "Archive", "Downloads", "Shorts",
                                    "École", "Ferien", "旅行", "映画", "Été", "Camera"};
// The sort criteria the folders use, a third each.
const char* const kSortCriteria[] = {"GroupListName", "GroupListRating", "GroupListDate"};

QString nameOf(QRandomGenerator& random)
{
    const int words = 1 + int(random.bounded(4));
    QStringList parts;
    for (int w = 0; w < words; ++w)
        parts << QString::fromUtf8(kWords[random.bounded(int(std::size(kWords)))]);
    return parts.join(QLatin1Char(' '));
}

QString notesOf(QRandomGenerator& random, int i)
{
    switch (random.bounded(4)) {
    case 0: return QStringLiteral("Watched with \"Anna\", Ben, and Chloé.\nGood; the ending, though…");
    case 1: return QStringLiteral("Recorded %1, \"first take\"\nsecond line, with a comma\n\nlast line").arg(1990 + i % 35);
    case 2: return QStringLiteral("She said: \"Don't\", then \"do\".");
    default: return QStringLiteral("Notes, \"quoted\", 東京, \nand a tab\there");
    }
}

DictionaryPtr criterion(long long action, const Value& value)
{
    return Dictionary::make({{QStringLiteral("Enabled"), true}, {QStringLiteral("Action"), action}, {QStringLiteral("Value"), value}});
}

DictionaryPtr tagCriterion(const QString& tag, long long action, const QString& value)
{
    return Dictionary::make({{QStringLiteral("Enabled"), true}, {QStringLiteral("Tag"), tag}, {QStringLiteral("Action"), action},
                             {QStringLiteral("Value"), value}});
}

PMLibraryContainerPtr smartGroup(const QString& name, const DictionaryPtr& criteria)
{
    return PMLibraryContainer::make({{QStringLiteral("Name"), name}, {QStringLiteral("Smart"), true}, {QStringLiteral("Criteria"), Value(criteria)}});
}

bool makeEmptyFile(const QString& path)
{
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

} // namespace

QString RealisticLibraryFigures::summary() const
{
    return QStringLiteral("%1 movies in %2 folders, %3 smart groups; %4 rated, %5 played, %6 with genres, %7 with a year, %8 with notes, "
                          "%9 turned, %10 cropped, %11 GIFs; largest folder \"%12\"")
        .arg(movies)
        .arg(folders)
        .arg(smartGroups)
        .arg(rated)
        .arg(played)
        .arg(withGenres)
        .arg(withYear)
        .arg(withNotes)
        .arg(rotated)
        .arg(cropped)
        .arg(gifs)
        .arg(largestFolder);
}

QString absentVolumePath()
{
    return QStringLiteral("/media/pellis-drive-not-plugged-in");
}

QString populateRealisticLibrary(PMMainController& controller, const RealisticLibraryOptions& options, RealisticLibraryFigures* figuresOut)
{
    RealisticLibraryFigures figures;
    QRandomGenerator random(options.seed);
    const int folderCount = std::max(1, options.folders);
    const int movies = std::max(0, options.movies);
    const QString media = options.present ? options.mediaFolder : absentVolumePath() + QStringLiteral("/Movies");
    if (options.present && media.isEmpty())
        return QStringLiteral("present files need a media folder");
    if (!options.present && QFileInfo::exists(absentVolumePath()))
        return QStringLiteral("%1 exists: absent files would not be absent").arg(absentVolumePath());

    PMLibraryContainerPtr section = controller.pellisSourceStorageSection();
    PMLibraryContainerPtr storage = controller.smartGroupStorage();
    if (!section || !storage)
        return QStringLiteral("the library has no movies section or smart group storage");
    section->rawChildren()->removeAll();
    storage->rawChildren()->removeAll();

    const double now = Date::now().secondsSince1970;
    QSet<QString> folderNames;
    int made = 0;
    for (int f = 0; f < folderCount; ++f) {
        // The folders share out the movies evenly (the first ones one more when it does not divide).
        const int inFolder = movies / folderCount + (f < movies % folderCount ? 1 : 0);
        QString folderName = folderCount == 1 ? QStringLiteral("Everything")
                                              : QStringLiteral("%1 %2").arg(QString::fromUtf8(kFolderWords[f % std::size(kFolderWords)])).arg(1980 + f / 16 % 46);
        for (int n = 2; folderNames.contains(folderName); ++n)
            folderName = QStringLiteral("%1 (%2)").arg(folderName.section(QStringLiteral(" ("), 0, 0)).arg(n);
        folderNames.insert(folderName);
        const QString directory = media + QLatin1Char('/') + folderName;
        if (options.present && !QDir().mkpath(directory))
            return QStringLiteral("cannot make %1").arg(directory);
        auto folder = PMLibraryContainer::make({{QStringLiteral("Name"), folderName}});
        folder->setSortCriterion(QString::fromLatin1(kSortCriteria[f % 3]), false, false);
        if (f % 3 != 0)
            folder->setSortsDescending(true, false);
        QSet<QString> fileNames;
        for (int k = 0; k < inFolder; ++k, ++made) {
            const bool gif = made % 7 == 6;
            const QString base = nameOf(random);
            const QString extension = gif ? QStringLiteral("gif") : QString::fromLatin1(kMovieExtensions[random.bounded(int(std::size(kMovieExtensions)))]);
            QString fileName = base + QLatin1Char('.') + extension;
            for (int n = 2; fileNames.contains(fileName.toLower()); ++n)
                fileName = QStringLiteral("%1 %2.%3").arg(base).arg(n).arg(extension);
            fileNames.insert(fileName.toLower());
            const QString path = directory + QLatin1Char('/') + fileName;
            if (options.present && !QFileInfo::exists(path) && !makeEmptyFile(path))
                return QStringLiteral("cannot make %1").arg(path);
            auto m = PMMovieRepresentationOriginal::movieRepresentationWithPath(path);
            if (!m)
                return QStringLiteral("no record for %1").arg(path);
            figures.gifs += gif ? 1 : 0;
            m->setAdditionDate(Date{now - 86400.0 * 365 * 6 + double(made) * 1800.0});
            // Known from reads in earlier sessions: the size of the picture, and (mostly) the length.
            m->setThumbnailSizeDescription(QStringLiteral("{%1, 100}").arg(made % 3 ? 178 : 133));
            if (random.bounded(10) != 0)
                m->setDuration(gif ? 2 + random.bounded(20) : 30 + random.bounded(7200));
            if (random.bounded(2) == 0) {
                m->setRating(double(1 + random.bounded(5)));
                ++figures.rated;
            }
            if (random.bounded(10) < 4) {
                setNumberWithInteger(*m->userSettings(), 1 + random.bounded(30), QStringLiteral("Counter"));
                m->setLastPlaybackDate(Date{now - double(random.bounded(86400 * 900))});
                ++figures.played;
            }
            if (random.bounded(10) < 6) {
                QString genres = QString::fromUtf8(kGenres[random.bounded(int(std::size(kGenres)))]);
                if (random.bounded(2) == 0) {
                    const QString second = QString::fromUtf8(kGenres[random.bounded(int(std::size(kGenres)))]);
                    if (second != genres)
                        genres += QStringLiteral(", ") + second;
                }
                m->setValue(genres, QStringLiteral("Genre"));
                ++figures.withGenres;
            }
            if (random.bounded(10) < 3) {
                m->setValue(QString::number(1930 + random.bounded(96)), QStringLiteral("Year"));
                ++figures.withYear;
            }
            if (random.bounded(10) == 0) {
                m->setValue(notesOf(random, made), QStringLiteral("Notes"));
                ++figures.withNotes;
            }
            const int look = int(random.bounded(20));
            if (look == 0) {
                // As a turn stored by an earlier session (turning one now would redo its
                // pictures, through the image services a benchmark may not have).
                setNumberWithInteger(*m->userSettings(), random.bounded(2) ? 90 : 270, QStringLiteral("Angle"));
                ++figures.rotated;
            } else if (look == 1) {
                m->userSettings()->setValue(QStringLiteral("Visible Area"),
                                            Dictionary::make({{QStringLiteral("x"), 0.1}, {QStringLiteral("y"), 0.05}, {QStringLiteral("w"), 0.8},
                                                              {QStringLiteral("h"), 0.9}}));
                ++figures.cropped;
            }
            folder->rawChildren()->append(Value(m));
        }
        if (figures.largestFolder.isEmpty() || inFolder > movies / folderCount)
            figures.largestFolder = folderName;
        section->rawChildren()->append(Value(folder));
    }

    // Smart groups: every movie, and a few by rating and genre.
    std::vector<PMLibraryContainerPtr> groups;
    groups.push_back(smartGroup(QStringLiteral("All Movies"), Dictionary::make()));
    groups.push_back(smartGroup(QStringLiteral("Five Stars"),
                                Dictionary::make({{QStringLiteral("Rating"), Value(criterion(3, Value(4)))}})));
    groups.push_back(smartGroup(QStringLiteral("Unrated"), Dictionary::make({{QStringLiteral("Rating"), Value(criterion(0, Value(0)))}})));
    groups.push_back(smartGroup(QStringLiteral("Comedies"),
                                Dictionary::make({{QStringLiteral("Tags"), Value(Array::make({Value(tagCriterion(QStringLiteral("Genre"), 6, QStringLiteral("Comedy")))}))}})));
    groups.push_back(smartGroup(QStringLiteral("Good Dramas"),
                                Dictionary::make({{QStringLiteral("Tags"), Value(Array::make({Value(tagCriterion(QStringLiteral("Genre"), 6, QStringLiteral("Drama")))}))},
                                                  {QStringLiteral("Rating"), Value(criterion(3, Value(2)))}})));
    groups.push_back(smartGroup(QStringLiteral("Music or Family"),
                                Dictionary::make({{QStringLiteral("Tags"), Value(Array::make({Value(tagCriterion(QStringLiteral("Genre"), 6, QStringLiteral("Music"))),
                                                                                                Value(tagCriterion(QStringLiteral("Genre"), 6, QStringLiteral("Family")))}))},
                                                  {QStringLiteral("Match Any"), true}})));
    for (const PMLibraryContainerPtr& group : groups)
        storage->rawChildren()->append(Value(group));

    controller.invalidateLibraryDependencies();
    controller.invalidateTagTypes();

    figures.movies = made;
    figures.folders = folderCount;
    figures.smartGroups = int(groups.size());
    if (figuresOut)
        *figuresOut = figures;
    return {};
}

platform::ArrayPtr realisticLibraryMovies(PMMainController& controller)
{
    auto movies = Array::make();
    const PMLibraryContainerPtr section = controller.pellisSourceStorageSection();
    if (!section)
        return movies;
    for (const Value& child : *section->rawChildren()) {
        if (PMLibraryContainer* folder = PMContainer(child)) {
            for (const Value& movie : *folder->rawChildren())
                movies->append(movie);
        } else {
            movies->append(child);
        }
    }
    return movies;
}

bool plainBenchLibraryAsked()
{
    return qEnvironmentVariable("PELLIS_BENCH_LIBRARY") == QLatin1String("plain");
}

QString writeRealisticLibrary(const QString& libraryFolder, RealisticLibraryOptions options, RealisticLibraryFigures* figures)
{
    const QString library = QFileInfo(libraryFolder).absoluteFilePath();
    if (options.mediaFolder.isEmpty())
        options.mediaFolder = QFileInfo(library).absolutePath() + QStringLiteral("/Media");
    if (!QDir().mkpath(library))
        return QStringLiteral("cannot make %1").arg(library);
    PMMainController& controller = mainController();
    controller.registerDefaultSettings();
    controller.setLibraryPath(library);
    // The library as a first start finds it (nothing there yet), then filled and saved by the
    // program's own save, as a user's library is.
    controller.loadLibrary();
    if (!controller._libraryIsLoaded)
        return QStringLiteral("the library at %1 did not load").arg(library);
    if (QString error = populateRealisticLibrary(controller, options, figures); !error.isEmpty())
        return error;
    controller.updateLibrary();
    controller.finishSmartGroupPopulation();
    if (!controller.saveLibrary())
        return QStringLiteral("the library could not be saved: %1").arg(controller._lastSaveError);
    platform::UserDefaults::standard().synchronize();
    return {};
}

} // namespace benchsupport
