// Merging duplicates and sequences, splitting bundles, and the metadata CSV read back by
// a spreadsheet's reader (python's csv module).
#include "library/maintenance/FilesFixture.h"

#include <QtCore/QJsonArray>
#include <QtCore/QJsonDocument>
#include <QtCore/QTimer>
#include <QtWidgets/QAbstractButton>
#include <QtWidgets/QApplication>
#include <QtWidgets/QFileDialog>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QMessageBox>

using platform::Array;
using platform::Value;

namespace {

class MergeTest : public FilesTest {
protected:
    static Value duplicateResult(const PMMovieRepresentationOriginalPtr& m, const QStringList& ids)
    {
        auto proxy = std::static_pointer_cast<PMMovieRepresentationSearchResultProxy>(m->searchResultProxy());
        auto list = Array::make();
        for (const QString& id : ids)
            list->append(Value(id));
        proxy->setDuplicateIDs(list);
        return Value(std::static_pointer_cast<platform::Object>(proxy));
    }
    // The files below the library folder, without the index that merges and splits save.
    QStringList movieFiles() const
    {
        QStringList files = filesBelow(m_library);
        files.removeIf([](const QString& f) { return f.startsWith(QLatin1String("Pellis.library/")); });
        return files;
    }
};

TEST_F(MergeTest, DuplicatesMergeIntoTheRevenantKeepingTheirMetadata)
{
    const auto present = fileMovie(m_library + QStringLiteral("/a.mov"));
    const auto missing = movie(QStringLiteral("a copy"));
    missing->setMissing(true, false);
    present->setAdditionDate(platform::Date{2000});
    missing->setAdditionDate(platform::Date{1000});
    present->setLastPlaybackDate(platform::Date{5000});
    for (int i = 0; i < 3; ++i)
        missing->incrementCounter();
    missing->setLastPlaybackDate(platform::Date{9000});
    present->setRating(2);
    missing->setRating(4);
    missing->setValue(QStringLiteral("Drama, Crime"), QStringLiteral("Genre"));
    const auto movies = library({v(present), v(missing)});
    const QStringList ids = {present->uniqueLibraryID(), missing->uniqueLibraryID()};
    const auto selection = items({duplicateResult(present, ids), duplicateResult(missing, ids)});
    const auto sets = c().mergeableMovieRepresentations(selection);
    ASSERT_TRUE(sets);
    ASSERT_EQ(sets->count(), 1);
    EXPECT_TRUE(c().mergeSequence(Value(sets)));
    EXPECT_EQ(alertTitles(), QStringList{QStringLiteral("Merge duplicate references?")});
    EXPECT_EQ(names(movies->rawChildren()), QStringList{QStringLiteral("a")});
    EXPECT_EQ(present->additionDate().secondsSince1970, 1000);
    EXPECT_EQ(present->lastPlaybackDate().secondsSince1970, 9000);
    EXPECT_EQ(present->counter(), 3u);
    EXPECT_EQ(present->rating(), 4);
    EXPECT_EQ(present->cachedLowercaseValuesForLowercaseTag(QStringLiteral("genre")).size(), 2);
    EXPECT_TRUE(exists(m_library + QStringLiteral("/a.mov")));
}

TEST_F(MergeTest, WhatCanMergeAsASequence)
{
    const auto a = fileMovie(m_library + QStringLiteral("/Trip 1.mov"));
    const auto b = fileMovie(m_library + QStringLiteral("/Trip 2.mov"));
    library({v(a), v(b)});
    const auto same = PMMovieRepresentationOriginal::movieRepresentationWithPath(a->path());
    // A duplicate-search result with a plain record can only be a sequence.
    const auto mixed = c().mergeableMovieRepresentations(items({duplicateResult(a, {a->uniqueLibraryID(), b->uniqueLibraryID()}), v(b)}));
    ASSERT_TRUE(mixed);
    EXPECT_TRUE(PMMovie(mixed->at(0)) && !PMMovie(mixed->at(0))->isSearchResultProxy());
    EXPECT_FALSE(c().mergeableMovieRepresentations(items({v(a), v(same)})));
    EXPECT_FALSE(c().mergeableMovieRepresentations(items({v(a)})));
    // Only a bundle splits, whatever the command is handed.
    const int beeps = platform::beepCount();
    EXPECT_FALSE(c().splittableMovieRepresentation(items({v(a)})));
    EXPECT_FALSE(c().splitSequence(v(a)));
    EXPECT_EQ(platform::beepCount(), beeps + 1);
    EXPECT_EQ(movieFiles(), (QStringList{QStringLiteral("Trip 1.mov"), QStringLiteral("Trip 2.mov")}));
}

TEST_F(MergeTest, SerializedPartsAreNumberedInTheGivenOrderAndTheBundleNameIsFree)
{
    setDefault(QStringLiteral("Serialize"), Value(true));
    QDir().mkpath(m_library + QStringLiteral("/Show.mseq"));
    const auto pc = fileMovie(m_library + QStringLiteral("/Show c.mov"));
    const auto pa = fileMovie(m_library + QStringLiteral("/Show a.mov"));
    const auto pb = fileMovie(m_library + QStringLiteral("/Show b.mov"));
    pa->setRating(3);
    pb->setValue(QStringLiteral("Jo"), QStringLiteral("Cast"));
    const auto movies = library({v(pc), v(pa), v(pb)});
    const auto parts = c().mergeableMovieRepresentations(items({v(pc), v(pa), v(pb)}));
    ASSERT_TRUE(parts);
    const int saves = c()._numberOfLibrarySaves;
    EXPECT_TRUE(c().mergeSequence(Value(parts)));
    // Files moved: the index is saved at once, not after the usual delay.
    EXPECT_EQ(c()._numberOfLibrarySaves, saves + 1);
    EXPECT_EQ(alertTitles(), QStringList{QStringLiteral("Bundle files?")});
    EXPECT_EQ(movieFiles(), (QStringList{QStringLiteral("Show 1.mseq/Show.1.mov"), QStringLiteral("Show 1.mseq/Show.2.mov"),
                                                  QStringLiteral("Show 1.mseq/Show.3.mov")}));
    ASSERT_EQ(movies->rawChildren()->count(), 1);
    PMMovieRepresentationPrototype* bundle = PMMovie(movies->rawChildren()->at(0));
    EXPECT_EQ(bundle->rating(), 3);
    EXPECT_EQ(bundle->cachedLowercaseValueForLowercaseTag(QStringLiteral("cast")), QStringLiteral("jo"));

    // Split again: the parts come out beside the bundle with its metadata; a plain
    // subfolder keeps the bundle (and its record) in place.
    QDir().mkpath(bundle->path() + QStringLiteral("/extras"));
    testsupport::writeFile(bundle->path() + QStringLiteral("/extras/x.txt"), "x");
    m_alerts.clear();
    EXPECT_TRUE(c().splitSequence(movies->rawChildren()->at(0)));
    EXPECT_EQ(c()._numberOfLibrarySaves, saves + 2);
    EXPECT_EQ(alertTitles(), QStringList{QStringLiteral("Unbundle files?")});
    EXPECT_EQ(movieFiles(), (QStringList{QStringLiteral("Show 1.mseq/extras/x.txt"), QStringLiteral("Show.1.mov"),
                                                  QStringLiteral("Show.2.mov"), QStringLiteral("Show.3.mov")}));
    EXPECT_EQ(names(movies->rawChildren()).size(), 4);
    for (qsizetype i = 1; i < 4; ++i)
        EXPECT_EQ(PMMovie(movies->rawChildren()->at(i))->rating(), 3);
}

TEST_F(MergeTest, AFailedMergeLeavesEveryFileWithItsRecord)
{
    const auto a = fileMovie(m_library + QStringLiteral("/Part 1.mov"));
    const auto b = fileMovie(m_library + QStringLiteral("/Part 2.mov"));
    const auto movies = library({v(a), v(b)});
    // Neither file can move (both are gone): no bundle is left, no record goes.
    QFile::rename(a->path(), a->path() + QStringLiteral(".away"));
    QFile::rename(b->path(), b->path() + QStringLiteral(".away"));
    EXPECT_FALSE(c().mergeSequence(Value(items({v(a), v(b)}))));
    EXPECT_EQ(names(movies->rawChildren()), (QStringList{QStringLiteral("Part 1"), QStringLiteral("Part 2")}));
    EXPECT_EQ(movieFiles(), (QStringList{QStringLiteral("Part 1.mov.away"), QStringLiteral("Part 2.mov.away")}));
    QFile::rename(a->path() + QStringLiteral(".away"), a->path());
    QFile::rename(b->path() + QStringLiteral(".away"), b->path());
    // Cancel changes nothing either.
    m_alerts.clear();
    m_answers = {1};
    EXPECT_FALSE(c().mergeSequence(Value(items({v(a), v(b)}))));
    EXPECT_EQ(movieFiles(), (QStringList{QStringLiteral("Part 1.mov"), QStringLiteral("Part 2.mov")}));
    // One part that cannot move stays with its record; the other is in the bundle.
    m_answers = {};
    QFile::rename(b->path(), b->path() + QStringLiteral(".away"));
    EXPECT_TRUE(c().mergeSequence(Value(items({v(a), v(b)}))));
    EXPECT_EQ(movieFiles(), (QStringList{QStringLiteral("Part 2.mov.away"), QStringLiteral("Part.mseq/Part 1.mov")}));
    EXPECT_EQ(names(movies->rawChildren()), (QStringList{QStringLiteral("Part"), QStringLiteral("Part 2")}));
}

class ExportTest : public FilesTest {};

TEST_F(ExportTest, HeaderWithoutTags)
{
    library({});
    EXPECT_EQ(c().metadataCSVForMovieRepresentations(nullptr), QStringLiteral("Name,Location,Rating,Date Created,Date Added,Last Opened,UUID"));
}

TEST_F(ExportTest, TheCSVReadsBackAsTheLibrarysValues)
{
    qputenv("TZ", "UTC");
    tzset();
    const auto odd = fileMovie(m_library + QStringLiteral("/odd.mov"));
    odd->setDisplayName(QStringLiteral("Say \"hi\", then\nleave"));
    odd->setValue(QStringLiteral("Drama, \"Noir\""), QStringLiteral("Genre"));
    odd->setRating(5);
    odd->setAdditionDate(platform::Date{1714572202});
    const auto plain = fileMovie(m_library + QStringLiteral("/plain.mov"));
    plain->setValue(QStringLiteral("Ann"), QStringLiteral("Cast"));
    library({v(odd), v(plain)});
    c().updateLibrary();
    const QString csv = c().metadataCSVForMovieRepresentations(items({v(odd), v(plain)}));
    EXPECT_FALSE(csv.endsWith(QLatin1Char('\n')));
    EXPECT_TRUE(csv.contains(QStringLiteral(",2024-05-01T14:03:22Z,"))) << csv.toStdString();
    const testsupport::ProcessResult read = testsupport::runProcess(
        QStringLiteral("python3"),
        {QStringLiteral("-c"), QStringLiteral("import csv,sys,json; print(json.dumps(list(csv.reader(sys.stdin.read().splitlines(True)))))")},
        csv.toUtf8());
    const QJsonArray rows = QJsonDocument::fromJson(read.out).array();
    ASSERT_EQ(rows.size(), 3) << read.err.toStdString();
    const QJsonArray header = rows[0].toArray(), first = rows[1].toArray(), second = rows[2].toArray();
    EXPECT_EQ(header[3].toString(), QStringLiteral("Cast"));
    EXPECT_EQ(header[4].toString(), QStringLiteral("Genre"));
    EXPECT_EQ(first.size(), header.size());
    EXPECT_EQ(second.size(), header.size());
    EXPECT_EQ(first[0].toString(), odd->displayName());
    EXPECT_EQ(first[1].toString(), odd->locationKey());
    EXPECT_EQ(first[2].toString(), QStringLiteral("5"));
    EXPECT_EQ(first[3].toString(), QString());
    EXPECT_EQ(first[4].toString(), odd->cachedTags()->value(QStringLiteral("genre")).dictionary()->value(QStringLiteral("Value")).string());
    EXPECT_EQ(first[7].toString(), QString()); // never played
    EXPECT_EQ(first[8].toString(), odd->uniqueLibraryID());
    EXPECT_EQ(second[3].toString(), QStringLiteral("Ann"));

    // The command: no movies beeps; a cancelled panel writes nothing; the file is the text.
    const int beeps = platform::beepCount();
    EXPECT_FALSE(c().exportMetadataCSV(Value(Array::make())));
    EXPECT_EQ(platform::beepCount(), beeps + 1);
    const QString target = m_outside + QStringLiteral("/Metadata.csv");
    c()._chooseExportPathOverride = [&](const QString& title, const QString&) { return title == QStringLiteral("Export Metadata CSV") ? target : QString(); };
    EXPECT_TRUE(c().exportMetadataCSV(Value(items({v(odd), v(plain)}))));
    c()._chooseExportPathOverride = nullptr;
    QFile file(target);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(file.readAll()), csv);
    qunsetenv("TZ");
    tzset();
}

TEST_F(ExportTest, DatesInTheSystemsTimeZone)
{
    const auto m = movie(QStringLiteral("m"));
    library({v(m)});
    const QByteArray savedZone = qgetenv("TZ");
    // Zones as POSIX rules, which need no time-zone database.
    struct Case {
        const char* zone;
        double seconds;
        QString expected;
    } cases[] = {
        {"UTC0", 1714572202, QStringLiteral("2024-05-01T14:03:22Z")},
        {"CET-1CEST,M3.5.0,M10.5.0/3", 1714572202, QStringLiteral("2024-05-01T16:03:22+02:00")},
        {"CET-1CEST,M3.5.0,M10.5.0/3", 1704067200, QStringLiteral("2024-01-01T01:00:00+01:00")},
        {"IST-5:30", 1714572202, QStringLiteral("2024-05-01T19:33:22+05:30")},
        {"EST5EDT,M3.2.0,M11.1.0", 1714572202, QStringLiteral("2024-05-01T10:03:22-04:00")},
        // The night the clocks go forward: both sides of the change on one day.
        {"CET-1CEST,M3.5.0,M10.5.0/3", 1711846799, QStringLiteral("2024-03-31T01:59:59+01:00")},
        {"CET-1CEST,M3.5.0,M10.5.0/3", 1711846800, QStringLiteral("2024-03-31T03:00:00+02:00")},
        {"UTC0", -31536000.5, QStringLiteral("1968-12-31T23:59:59Z")},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.zone);
        qputenv("TZ", k.zone);
        tzset();
        m->setAdditionDate(platform::Date{k.seconds});
        const QStringList lines = c().metadataCSVForMovieRepresentations(items({v(m)})).split(QLatin1Char('\n'));
        ASSERT_EQ(lines.size(), 2);
        EXPECT_EQ(lines[1].split(QLatin1Char(','))[4], k.expected);
    }
    if (savedZone.isNull())
        qunsetenv("TZ");
    else
        qputenv("TZ", savedZone);
    tzset();
}

TEST_F(ExportTest, CellsThatSpreadsheetsWouldRunAsFormulasAreShownAsText)
{
    const auto m = fileMovie(m_library + QStringLiteral("/m.mov"));
    m->setDisplayName(QStringLiteral("=HYPERLINK(\"http://x\",\"y\")"));
    m->setValue(QStringLiteral("@SUM(A1)"), QStringLiteral("Genre"));
    m->setValue(QStringLiteral("-2+3"), QStringLiteral("Cast"));
    m->setValue(QStringLiteral("\t=1"), QStringLiteral("Director"));
    m->setUniqueLibraryID(QStringLiteral("+id,\"x\""));
    const auto plain = fileMovie(m_library + QStringLiteral("/plain.mov"));
    plain->setValue(QStringLiteral("a=b"), QStringLiteral("Genre"));
    library({v(m), v(plain)});
    c().updateLibrary();
    const QString csv = c().metadataCSVForMovieRepresentations(items({v(m), v(plain)}));
    const testsupport::ProcessResult read = testsupport::runProcess(
        QStringLiteral("python3"),
        {QStringLiteral("-c"), QStringLiteral("import csv,sys,json; print(json.dumps(list(csv.reader(sys.stdin.read().splitlines(True)))))")},
        csv.toUtf8());
    const QJsonArray rows = QJsonDocument::fromJson(read.out).array();
    ASSERT_EQ(rows.size(), 3) << read.err.toStdString() << csv.toStdString();
    const QJsonArray header = rows[0].toArray(), first = rows[1].toArray(), second = rows[2].toArray();
    ASSERT_EQ(first.size(), header.size()) << csv.toStdString();
    QHash<QString, QString> cells, plainCells;
    for (qsizetype i = 0; i < header.size(); ++i) {
        cells.insert(header[i].toString(), first[i].toString());
        plainCells.insert(header[i].toString(), second[i].toString());
    }
    EXPECT_EQ(cells.value(QStringLiteral("Name")), QStringLiteral("'=HYPERLINK(\"http://x\",\"y\")"));
    EXPECT_EQ(cells.value(QStringLiteral("Genre")), QStringLiteral("'@SUM(A1)"));
    EXPECT_EQ(cells.value(QStringLiteral("Cast")), QStringLiteral("'-2+3"));
    EXPECT_EQ(cells.value(QStringLiteral("Director")), QStringLiteral("'\t=1"));
    // The ID is one cell, quoted like the others.
    EXPECT_EQ(cells.value(QStringLiteral("UUID")), QStringLiteral("'+id,\"x\""));
    EXPECT_EQ(plainCells.value(QStringLiteral("Genre")), QStringLiteral("a=b")) << "only a leading sign counts";
    EXPECT_EQ(plainCells.value(QStringLiteral("Rating")), QStringLiteral("0"));
}

TEST_F(ExportTest, TheSaveDialogAsksBeforeReplacingAFileNamedWithoutItsSuffix)
{
    const auto m = fileMovie(m_library + QStringLiteral("/m.mov"));
    library({v(m)});
    const QString existing = m_outside + QStringLiteral("/Metadata.csv");
    testsupport::writeFile(existing, "keep me");
    // The user types the name without ".csv": the dialog must add the suffix before its
    // question about replacing, and the answer No keeps the file.
    QString suffix;
    bool asked = false;
    int step = 0;
    QTimer driver;
    QObject::connect(&driver, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            asked = true;
            box->button(QMessageBox::No) ? box->button(QMessageBox::No)->click() : box->reject();
            return;
        }
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        if (!dialog)
            return;
        if (step == 0) {
            suffix = dialog->defaultSuffix();
            dialog->setDirectory(m_outside);
            if (auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
                edit->setText(QStringLiteral("Metadata"));
            step = 1;
            QMetaObject::invokeMethod(dialog, "accept", Qt::QueuedConnection);
        } else if (asked || step++ > 40) {
            dialog->reject();
        }
    });
    driver.start(50);
    EXPECT_FALSE(c().exportMetadataCSV(Value(items({v(m)}))));
    driver.stop();
    EXPECT_EQ(suffix, QStringLiteral("csv"));
    EXPECT_TRUE(asked) << "no question before replacing Metadata.csv";
    EXPECT_EQ(testsupport::readFile(existing), QByteArray("keep me"));
}

} // namespace
