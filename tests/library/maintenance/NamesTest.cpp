// Meta references, replacement templates and the batch rename: tables of texts and what
// they become for a movie, the bounds of decoding, numbering, conflicts and the status.
#include "library/maintenance/FilesFixture.h"

#include "library/maintenance/PMExtendedRegularExpression.h"
#include "library/model/PMCachedSettings.h"
#include "platform/Locale.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QElapsedTimer>
#include <QtCore/QThread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using platform::Array;
using platform::Value;

namespace {

class NamesTest : public FilesTest {
protected:
    void SetUp() override
    {
        FilesTest::SetUp();
        PMERETemplateFlushCache();
        c()._infoDecodedMetaReferenceCache.clear();
        c()._infoBatchRenameFields = PMMainController::BatchRenameFields();
        c()._infoBatchRenameHasUpdated = false;
        c()._infoTags = Array::make();
        PMCachedSettings::determineNamesAutomatically = false;
    }
    QString decode(const QString& text, const PMMovieRepresentationOriginalPtr& m, qsizetype index = 0)
    {
        return c().decodeMetaReferencesInString(text, m.get(), QString(), false, false, index, nullptr);
    }
    // Panel movies named as given; answers the new names.
    QStringList renameNames(const QStringList& panelNames, QList<PMMovieRepresentationOriginalPtr>* getMovies = nullptr)
    {
        auto panel = Array::make();
        QList<PMMovieRepresentationOriginalPtr> made;
        for (const QString& name : panelNames) {
            made << movie(name);
            panel->append(Value(made.last()));
        }
        c()._infoMovieRepresentations = panel;
        c().updateBatchRenameNamesAndPerformRenaming(false, nullptr);
        if (getMovies)
            *getMovies = made;
        return c()._infoBatchRenameNewNames;
    }
};

QString meta(const QString& content)
{
    return QStringLiteral("<?meta:") + content + QStringLiteral("?>");
}

TEST_F(NamesTest, MetaReferencesDecodeForAMovie)
{
    const auto m = movie(QStringLiteral("Kind of Blue"));
    m->setValue(QStringLiteral("Miles"), QStringLiteral("Artist"));
    m->setValue(QStringLiteral("So What"), QStringLiteral("Title"));
    const auto indexed = movie(QStringLiteral("Other"));
    indexed->setValue(QStringLiteral("7"), QStringLiteral("index"));
    struct Case {
        QString text;
        QString expected;
        PMMovieRepresentationOriginalPtr movie;
    } cases[] = {
        {meta(QStringLiteral("Year|Artist")), QStringLiteral("Miles"), m},
        {meta(QStringLiteral("Artist+\"(\"+Year+\")\"")), QString(), m},
        {meta(QStringLiteral("Artist")) + QStringLiteral(" ") + meta(QStringLiteral("artist")), QStringLiteral("Miles "), m},
        {meta(QStringLiteral("Artist")) + meta(QStringLiteral("artist|\"x\"")), QStringLiteral("Milesx"), m},
        {meta(QStringLiteral("+\" - \"+Title")), QStringLiteral("So What"), m},
        {QStringLiteral("A") + meta(QStringLiteral("+\" - \"+Title")), QStringLiteral("A - So What"), m},
        {meta(QStringLiteral("index")), QStringLiteral("3"), m},
        {meta(QStringLiteral("index")), QStringLiteral("7"), indexed},
        {QStringLiteral("a ") + meta(QStringLiteral("Year")) + QStringLiteral(" b"), QStringLiteral("a b"), m},
        {meta(QStringLiteral("name")), QStringLiteral("Kind of Blue"), m},
        // "+" joins parts: inside an expression it is written "++".
        {meta(QStringLiteral("name: (\\w++) of")), QStringLiteral("Kind"), m},
        {meta(QStringLiteral("\"a||b++c\"")), QStringLiteral("a|b+c"), m},
        {QStringLiteral("x") + meta(QStringLiteral("|Artist")), QStringLiteral("x"), m},
        {meta(QStringLiteral("|Artist")), QStringLiteral("Miles"), m},
        {meta(QStringLiteral("nothing")), QString(), m},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.text.toStdString());
        EXPECT_EQ(decode(k.text, k.movie, 2), k.expected);
    }
}

TEST_F(NamesTest, PanelValuesBeingAppliedWinAndTagValueListsAreMerged)
{
    const auto m = movie(QStringLiteral("m"));
    m->setValue(QStringLiteral("Old"), QStringLiteral("Studio"));
    c()._infoTags = Array::make({Value(platform::Dictionary::make(
        {{QStringLiteral("Tag"), Value(QStringLiteral("Studio"))}, {QStringLiteral("Value"), Value(QStringLiteral("New"))}, {QStringLiteral("State"), Value(1)}}))});
    c()._infoMovieRepresentations = items({v(m)});
    c()._infoBatchRenameFields.mode = 6;
    c()._infoBatchRenameFields.composeText = meta(QStringLiteral("Studio"));
    c().updateBatchRenameNamesAndPerformRenaming(false, nullptr);
    EXPECT_EQ(c()._infoBatchRenameNewNames, QStringList{QStringLiteral("New")});
    EXPECT_EQ(decode(meta(QStringLiteral("Studio")), m), QStringLiteral("Old")); // only while names are computed

    m->setValue(QStringLiteral("b, A"), QStringLiteral("Cast"));
    EXPECT_EQ(c().decodeMetaReferencesInStrings({meta(QStringLiteral("Cast")), QStringLiteral("a"), QStringLiteral("c")}, m.get(), QString(), 0),
              (QStringList{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")}));
}

TEST_F(NamesTest, DecodingIsBoundedAndNeverRescansNamesOrFileText)
{
    // A file named after a reference to its own name, and tags that name each other.
    const auto self = movie(QStringLiteral("a<?meta:name?>"));
    EXPECT_EQ(decode(meta(QStringLiteral("name")), self), QStringLiteral("a<?meta:name?>"));
    const auto loop = movie(QStringLiteral("loop"));
    loop->setValue(meta(QStringLiteral("B")), QStringLiteral("A"));
    loop->setValue(meta(QStringLiteral("A")), QStringLiteral("B"));
    EXPECT_EQ(decode(meta(QStringLiteral("A")), loop), QString());
    // A tag value that holds references is decoded in turn.
    loop->setValue(QStringLiteral("Kim"), QStringLiteral("C"));
    loop->setValue(QStringLiteral("by ") + meta(QStringLiteral("C")), QStringLiteral("D"));
    EXPECT_EQ(decode(meta(QStringLiteral("D")), loop), QStringLiteral("by Kim"));
    // With automatic names a name made from a pattern that asks for the name does not go
    // round: the name the reference reads is made with its name references yielding nothing.
    PMCachedSettings::determineNamesAutomatically = true;
    setDefault(QStringLiteral("Determine Names Automatically: Pattern"), Value(QStringLiteral("x ") + meta(QStringLiteral("name|Title"))));
    const auto named = movie(QStringLiteral("named"));
    named->setValue(QStringLiteral("T"), QStringLiteral("Title"));
    named->invalidateDisplayNameRecursively();
    EXPECT_EQ(named->displayName(), QStringLiteral("x x T"));
    EXPECT_EQ(decode(meta(QStringLiteral("name")), named), QStringLiteral("x x T"));
    PMCachedSettings::determineNamesAutomatically = false;
    // Many references still end, and the text stays bounded.
    QString many;
    for (int i = 0; i < 3000; ++i)
        many += meta(QStringLiteral("index"));
    const QString decoded = decode(many, loop);
    EXPECT_LE(decoded.size(), 64 * 1024);
    EXPECT_FALSE(decoded.contains(QStringLiteral("<?meta:")));
}

TEST_F(NamesTest, TextReferencesReadFilesInTheBackgroundOnlyWhenAllowed)
{
    const QString path = m_outside + QStringLiteral("/notes.txt");
    const auto m = fileMovie(path, "Episode 42: <?meta:name?>\n");
    const QString text = meta(QStringLiteral("text: Episode (\\d++)"));
    EXPECT_EQ(decode(text, m), QString()); // not allowed
    setDefault(QStringLiteral("Enable Meta Reference Text Access"), Value(true));
    int loads = 0;
    c()._metaReferenceTextDidLoad = [&] { ++loads; };
    EXPECT_EQ(decode(text, m), QString()); // the read has only begun
    QElapsedTimer timer;
    timer.start();
    while (loads == 0 && timer.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_EQ(decode(text, m), QStringLiteral("42"));
    EXPECT_EQ(decode(meta(QStringLiteral("text:(<.*>)")), m), QStringLiteral("<?meta:name?>"));
    const auto binary = fileMovie(m_outside + QStringLiteral("/clip.mov"), QByteArray("\x00\x01\x02moov\x00", 8));
    loads = 0;
    decode(text, binary);
    timer.restart();
    while (loads == 0 && timer.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_EQ(decode(meta(QStringLiteral("text:(moov)")), binary), QString());

    // The panel's names follow once the text is there.
    const auto later = fileMovie(m_outside + QStringLiteral("/later.txt"), "Episode 7");
    c()._infoMovieRepresentations = items({v(later)});
    c()._infoBatchRenameFields.mode = 6;
    c()._infoBatchRenameFields.composeText = text;
    c().updateBatchRenameStatus();
    EXPECT_EQ(c()._infoBatchRenameNewNames, QStringList{QString()});
    timer.restart();
    while ((c()._infoBatchRenameNewNames != QStringList{QStringLiteral("7")}) && timer.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_EQ(c()._infoBatchRenameNewNames, QStringList{QStringLiteral("7")});
    c()._metaReferenceTextDidLoad = nullptr;
}

TEST_F(NamesTest, ATextReferenceToANamedPipeYieldsNothingAndBlocksNoThread)
{
    const QString pipe = m_outside + QStringLiteral("/episode.mov");
    ASSERT_EQ(mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    const auto m = PMMovieRepresentationOriginal::movieRepresentationWithPath(pipe);
    setDefault(QStringLiteral("Enable Meta Reference Text Access"), Value(true));
    int loads = 0;
    c()._metaReferenceTextDidLoad = [&] { ++loads; };
    const QString text = meta(QStringLiteral("text:(.+)"));
    EXPECT_EQ(decode(text, m), QString());
    QElapsedTimer timer;
    timer.start();
    while (loads == 0 && timer.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    const bool answered = loads > 0;
    // A reader stuck in open() waits for a writer: give it one, so a failing run can exit.
    const int writer = ::open(QFile::encodeName(pipe).constData(), O_WRONLY | O_NONBLOCK);
    if (writer >= 0)
        ::close(writer);
    EXPECT_TRUE(answered) << "the read of the pipe never ended";
    EXPECT_EQ(decode(text, m), QString());
    c()._metaReferenceTextDidLoad = nullptr;
}

TEST_F(NamesTest, ReplacementTemplates)
{
    platform::setUserLocale(QStringLiteral("en_US"));
    struct Case {
        QString pattern, templ, subject, expected;
    } cases[] = {
        {QStringLiteral("(\\w+) (\\w+)"), QStringLiteral("\\u$1 \\U$2\\E!"), QStringLiteral("john smith"), QStringLiteral("John SMITH!")},
        {QStringLiteral(".+"), QStringLiteral("\\L$0"), QStringLiteral("ABC def"), QStringLiteral("abc def")},
        {QStringLiteral("(\\d+)"), QStringLiteral("\\D(yyyyMMdd)>(d MMMM yyyy)$1\\E (x)"), QStringLiteral("20240131"),
         QStringLiteral("31 January 2024 (x)")},
        {QStringLiteral("(\\d+)"), QStringLiteral("\\D(yyyyMMdd)>(d MMMM yyyy)$1"), QStringLiteral("2024x"), QStringLiteral("2024x")},
        {QStringLiteral("(\\d+)-(\\d+)"), QStringLiteral("\\D(yyyy)>(yy)$1\\E \\D(M)>(MMM)$2"), QStringLiteral("2024-3"), QStringLiteral("24 Mar")},
        {QStringLiteral("(\\w+)"), QStringLiteral("\\\\u$1"), QStringLiteral("abc"), QStringLiteral("\\uabc")},
        {QStringLiteral("(\\w+)"), QStringLiteral("\\u\\L$1"), QStringLiteral("abc"), QStringLiteral("Labc")},
        {QStringLiteral("(\\w+)"), QStringLiteral("[$1]"), QStringLiteral("abc"), QStringLiteral("[abc]")},
        {QStringLiteral("b"), QStringLiteral("$9"), QStringLiteral("abc"), QStringLiteral("ac")},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE((k.templ + QStringLiteral(" on ") + k.subject).toStdString());
        const auto expression = platform::RegularExpression::make(k.pattern);
        ASSERT_TRUE(expression);
        EXPECT_EQ(stringByReplacingMatchesInString(*expression, k.subject, k.templ), k.expected);
    }
    // Cached under itself, and built anew after a flush.
    const auto plain = PMERETemplate::templateWithString(QStringLiteral("[$1]"));
    EXPECT_EQ(plain->stringWithPlaceholders, QStringLiteral("[$1]"));
    EXPECT_EQ(PMERETemplate::templateWithString(QStringLiteral("[$1]")), plain);
    PMERETemplateFlushCache();
    EXPECT_NE(PMERETemplate::templateWithString(QStringLiteral("[$1]")), plain);
}

TEST_F(NamesTest, NumberingWidthGroupsAndSingleItemGroups)
{
    auto& f = c()._infoBatchRenameFields;
    f.mode = 7;
    f.numberingPrefix = QStringLiteral("Part ");
    f.groupIdentifierShowsPlaceholder = false;
    QStringList twelve;
    for (int i = 0; i < 12; ++i)
        twelve << QStringLiteral("m%1").arg(i);
    const QStringList numbered = renameNames(twelve);
    EXPECT_EQ(numbered.first(), QStringLiteral("Part 01"));
    EXPECT_EQ(numbered.last(), QStringLiteral("Part 12"));
    EXPECT_EQ(renameNames({QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")}),
              (QStringList{QStringLiteral("Part 1"), QStringLiteral("Part 2"), QStringLiteral("Part 3")}));
    // Groups by the decoded prefix; a group of one without a number when asked.
    setDefault(QStringLiteral("Batch Rename: Suppress Single-Item Sequences"), Value(true));
    f.numberingPrefix = meta(QStringLiteral("Show")) + QStringLiteral(" ");
    f.groupIdentifierShowsPlaceholder = true;
    auto panel = Array::make();
    const QStringList shows = {QStringLiteral("Ash"), QStringLiteral("Ash"), QStringLiteral("Elm")};
    for (qsizetype i = 0; i < shows.size(); ++i) {
        auto m = movie(QStringLiteral("x%1").arg(i));
        m->setValue(shows[i], QStringLiteral("Show"));
        panel->append(Value(m));
    }
    c()._infoMovieRepresentations = panel;
    c().updateBatchRenameNamesAndPerformRenaming(false, nullptr);
    EXPECT_EQ(c()._infoBatchRenameNewNames, (QStringList{QStringLiteral("Ash 1"), QStringLiteral("Ash 2"), QStringLiteral("Elm")}));
}

TEST_F(NamesTest, SeriesAndLoneMoviesSharingAPrefixAreNumberedAsSequences)
{
    setDefault(QStringLiteral("Batch Rename: Sequences Prefer Series Prefix"), Value(true));
    auto& f = c()._infoBatchRenameFields;
    f.mode = 7;
    f.numberingPrefix = meta(QStringLiteral("Show")) + QStringLiteral(" ");
    const auto a1 = movie(QStringLiteral("a1"));
    const auto a2 = movie(QStringLiteral("a2"));
    const auto lone = movie(QStringLiteral("lone"));
    const auto other = movie(QStringLiteral("other"));
    for (const auto& m : {a1, a2, lone})
        m->setValue(QStringLiteral("Ash"), QStringLiteral("Show"));
    other->setValue(QStringLiteral("Elm"), QStringLiteral("Show"));
    a1->setAdditionDate(platform::Date{100});
    a2->setAdditionDate(platform::Date{200});
    lone->setAdditionDate(platform::Date{300});
    library({v(a1), v(a2), v(lone), v(other)});
    a1->setSeriesID(QStringLiteral("S"), 1);
    a2->setSeriesID(QStringLiteral("S"), 2);
    c()._nonProxyRawMovieRepresentationSeriesByIDPrefix.insert(QStringLiteral("S:"),
                                                               platform::Dictionary::make({{QStringLiteral("Items"), Value(items({v(a1), v(a2)}))}}));
    c()._infoMovieRepresentations = items({v(lone), v(a2), v(a1), v(other)});
    c().updateBatchRenameNamesAndPerformRenaming(false, nullptr);
    // The series came first, so it is sequence 1 of "Ash"; a prefix that only one record
    // has ("Elm") is used as it is.
    EXPECT_EQ(c()._infoBatchRenameNewNames,
              (QStringList{QStringLiteral("Ash 2.1"), QStringLiteral("Ash 1.1"), QStringLiteral("Ash 1.2"), QStringLiteral("Elm 1")}));
}

TEST_F(NamesTest, ResumeContinuesAfterTheHighestNumberOutsideThePanel)
{
    auto& f = c()._infoBatchRenameFields;
    f.mode = 7;
    f.numberingPrefix = QStringLiteral("Trip ");
    f.digitsIndex = 2;
    setDefault(QStringLiteral("Batch Rename: Resume Prefix Group Sequences"), Value(true));
    const auto old1 = movie(QStringLiteral("Trip 03"));
    const auto old2 = movie(QStringLiteral("Trip 07"));
    const auto other = movie(QStringLiteral("Walk 09"));
    const auto n1 = movie(QStringLiteral("new a"));
    const auto n2 = movie(QStringLiteral("new b"));
    library({v(old1), v(old2), v(other), v(n1), v(n2)});
    c().updateLibrary();
    c()._infoMovieRepresentations = items({v(n1), v(n2)});
    c().updateBatchRenameNamesAndPerformRenaming(false, nullptr);
    EXPECT_EQ(c()._infoBatchRenameNewNames, (QStringList{QStringLiteral("Trip 08"), QStringLiteral("Trip 09")}));
}

TEST_F(NamesTest, ModesConflictsRenamingAndStatus)
{
    auto& f = c()._infoBatchRenameFields;
    QList<PMMovieRepresentationOriginalPtr> movies;
    f.mode = 1;
    f.findText = QStringLiteral("(\\w+) (\\w+)");
    f.replacementText = QStringLiteral("\\u$2 $1");
    f.regularExpression = true;
    EXPECT_EQ(renameNames({QStringLiteral("smith john"), QStringLiteral("one")}), (QStringList{QStringLiteral("John smith"), QStringLiteral("one")}));
    EXPECT_EQ(c()._infoBatchRenameFindFieldStatus, 1);
    f.findText = QStringLiteral("(");
    renameNames({QStringLiteral("a")});
    EXPECT_EQ(c()._infoBatchRenameFindFieldStatus, -1);
    // A pattern that backtracks without end gives up and leaves the name, with a log line.
    {
        testsupport::LogCapture log;
        f.findText = QStringLiteral("(a+)+$");
        const QString stuck = QString(40, QLatin1Char('a')) + QStringLiteral("!");
        EXPECT_EQ(renameNames({stuck}), QStringList{stuck});
        EXPECT_TRUE(log.lines().join(u'\n').contains(QStringLiteral("ignoring regular expression exception")));
    }
    // After one time-out the pattern has failed for the whole computation: the names after it
    // are not matched again (each would cost the whole time limit), even one it would change.
    {
        testsupport::LogCapture log;
        f.findText = QStringLiteral("(a+)+$");
        f.replacementText = QStringLiteral("Z");
        const QString stuck = QString(40, QLatin1Char('a')) + QStringLiteral("!");
        EXPECT_EQ(renameNames({stuck, stuck, QStringLiteral("xa")}), (QStringList{stuck, stuck, QStringLiteral("xa")}));
        EXPECT_EQ(log.lines().join(u'\n').count(QStringLiteral("ignoring regular expression exception")), 1);
        EXPECT_EQ(c()._infoBatchRenameFindFieldStatus, -1);
        EXPECT_EQ(renameNames({QStringLiteral("xa")}), QStringList{QStringLiteral("xZ")});
        f.replacementText = QStringLiteral("\\u$2 $1");
    }
    f.mode = 5;
    EXPECT_EQ(renameNames({QStringLiteral("the DARK knight")}), QStringList{QStringLiteral("The Dark Knight")});
    f.mode = 2;
    f.prefix = meta(QStringLiteral("index")) + QStringLiteral(". ");
    f.suffix = QStringLiteral(" ");
    EXPECT_EQ(renameNames({QStringLiteral("a"), QStringLiteral("b")}), (QStringList{QStringLiteral("1. a"), QStringLiteral("2. b")}));

    // A new name that is another panel movie's name in other letter case is a conflict; a
    // movie's own name is no change.
    f.mode = 6;
    f.composeText = QStringLiteral("alpha");
    renameNames({QStringLiteral("Alpha"), QStringLiteral("beta"), QStringLiteral("alpha")}, &movies);
    auto conflicts = Array::make();
    EXPECT_EQ(c().updateBatchRenameNamesAndPerformRenaming(false, conflicts), 2);
    EXPECT_EQ(names(conflicts), (QStringList{QStringLiteral("Alpha"), QStringLiteral("beta")}));
    m_answers = {1};
    EXPECT_EQ(c().performBatchRename(), -1);
    EXPECT_EQ(movies[1]->displayName(), QStringLiteral("beta"));
    m_answers = {0};
    EXPECT_EQ(c().performBatchRename(), 2);
    EXPECT_EQ(movies[1]->displayName(), QStringLiteral("alpha"));

    c().updateBatchRenameStatus();
    EXPECT_EQ(c()._infoBatchRenameStatus, QStringLiteral("No effect"));
    f.composeText = QStringLiteral("z");
    c().updateBatchRenameStatus();
    EXPECT_EQ(c()._infoBatchRenameStatus, QStringLiteral("3 of 3 names affected"));
    f.enabled = false;
    c().updateBatchRenameStatus();
    EXPECT_EQ(c()._infoBatchRenameStatus, QStringLiteral("Batch renaming not checked"));
}

TEST_F(NamesTest, StatusUpdatesAtMostTenTimesASecondWhileTyping)
{
    renameNames({QStringLiteral("a")});
    c().updateBatchRenameStatusAfterDelay(); // the first one at once
    EXPECT_FALSE(c()._infoBatchRenameStatusIsScheduled);
    c()._infoBatchRenameFields.mode = 3;
    c().updateBatchRenameStatusAfterDelay();
    c().updateBatchRenameStatusAfterDelay();
    EXPECT_TRUE(c()._infoBatchRenameStatusIsScheduled);
    EXPECT_EQ(c()._infoBatchRenameStatus, QStringLiteral("No effect"));
    QElapsedTimer timer;
    timer.start();
    while (c()._infoBatchRenameStatusIsScheduled && timer.elapsed() < 2000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_EQ(c()._infoBatchRenameStatus, QStringLiteral("1 of 1 names affected"));
}

} // namespace
