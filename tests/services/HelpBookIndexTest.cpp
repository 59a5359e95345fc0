// The help book's index and search on small books made for each test, and the rule that
// finds the book and its language folder.
#include "services/help/NSFileManager+PMHelpManagerHelpBook.h"
#include "services/help/NSString+PMHelpManagerHelpBook.h"
#include "services/help/PMHelpManager.h"
#include "services/help/PMHelpPageIndex.h"

#include "common/TestSupport.h"

#include <QtCore/QDir>
#include <QtCore/QStandardPaths>

#include <gtest/gtest.h>

using testsupport::makeTempDir;
using testsupport::writeFile;

namespace {

QByteArray page(const char* title, const char* index, const char* body, const char* extraHead = "")
{
    QByteArray html = "<html><head><title>";
    html += title;
    html += "</title>";
    if (*index) {
        html += "<!--com.tolvane.help.index[";
        html += index;
        html += "]-->";
    }
    html += extraHead;
    html += "</head><body><div id=\"main\">";
    html += body;
    html += "</div></body></html>";
    return html;
}

QStringList paths(const QList<PMHelpPageRepresentation>& pages)
{
    QStringList out;
    for (const PMHelpPageRepresentation& p : pages)
        out << p.path;
    return out;
}

QStringList titles(const QList<PMHelpSearchItem>& items)
{
    QStringList out;
    for (const PMHelpSearchItem& i : items)
        out << i.title;
    return out;
}

} // namespace

TEST(HelpBookIndex, PagesSortByTheirMarkersNumericallyAndUnindexedOnesLastByPath)
{
    const QString book = makeTempDir(QStringLiteral("book"));
    writeFile(book + "/ten.html", page("Ten", "10", "<p>tenth page</p>"));
    writeFile(book + "/two.html", page("Two", "2", "<p>second page</p>"));
    writeFile(book + "/sub/two-one.html", page("Two point one", "2.1", "<p>nested page</p>"));
    writeFile(book + "/zeta.html", page("Zeta", "", "<p>no marker here</p>"));
    writeFile(book + "/alpha.html", page("Alpha", "", "<p>no marker either</p>"));
    writeFile(book + "/old.html", "<html><head><title>Old</title><!-- RGindex: 5 --></head><body><div id=\"main\">older marker form</div></body></html>");
    // Not pages: another extension, an upper-case one, a hidden file, a hidden folder.
    writeFile(book + "/notes.htm", page("Htm", "1", "<p>htm</p>"));
    writeFile(book + "/CAPS.HTML", page("Caps", "1", "<p>caps</p>"));
    writeFile(book + "/.hidden.html", page("Hidden", "1", "<p>hidden</p>"));
    writeFile(book + "/.git/inside.html", page("Inside", "1", "<p>inside</p>"));

    PMHelpManager manager(book);
    EXPECT_EQ(paths(manager.pageRepresentations()),
              (QStringList{"two.html", "sub/two-one.html", "old.html", "ten.html", "alpha.html", "zeta.html"}));
    EXPECT_EQ(manager.pageURLsByRelativePath().size(), 6);
}

TEST(HelpBookIndex, APageWithoutMainDivisionIsListedButHasNoWordsTitleOrAnchors)
{
    const QString book = makeTempDir(QStringLiteral("book"));
    writeFile(book + "/plain.html", "<html><head><title>Plain</title><!--com.tolvane.help.index[1]--></head>"
                                    "<body><p>words outside <a name=\"[Basics]Lost\">main</a></p></body></html>");
    writeFile(book + "/empty.html", "");
    writeFile(book + "/real.html", page("Real", "3", "<p>words inside</p>"));
    PMHelpManager manager(book);
    const QList<PMHelpPageRepresentation> pages = manager.pageRepresentations();
    ASSERT_EQ(pages.size(), 3);
    EXPECT_EQ(pages[0].path, QStringLiteral("real.html"));
    // Without words the markers are not read: the page sorts last, under its path.
    EXPECT_EQ(pages[1].path, QStringLiteral("empty.html"));
    EXPECT_EQ(pages[2].path, QStringLiteral("plain.html"));
    EXPECT_EQ(pages[2].title, QStringLiteral("plain.html"));
    EXPECT_TRUE(pages[2].words.isEmpty());
    EXPECT_TRUE(pages[2].anchors.isEmpty());
    EXPECT_TRUE(manager.itemsWithSearchString(QStringLiteral("words"), 0, true, QString()).size() == 1);
    EXPECT_TRUE(manager.itemsWithSearchString(QStringLiteral("outside"), 0, true, QString()).isEmpty());
}

TEST(HelpBookIndex, VisibleTextLeavesOutTagsCommentsAndReadsEntities)
{
    const PMHelpPageRepresentation p = helpManagerRepresentationOfPage(
        QStringLiteral("p.html"),
        QString::fromUtf8(page("T &amp; U", "1", "<h1>Caf&eacute;&nbsp;Fish &amp; Chips</h1><!-- secret words --><p>Ends<!-- unterminated")));
    EXPECT_EQ(p.title, QStringLiteral("T & U"));
    EXPECT_TRUE(p.text.contains(QStringLiteral("Fish & Chips")));
    EXPECT_FALSE(p.text.contains(QStringLiteral("secret")));
    EXPECT_FALSE(p.text.contains(QStringLiteral("unterminated")));
    EXPECT_TRUE(p.words.contains(QStringLiteral("ends")));
    EXPECT_FALSE(p.words.contains(QStringLiteral("amp")));
    EXPECT_FALSE(p.words.contains(QStringLiteral("nbsp")));
}

TEST(HelpBookIndex, AnchorsGiveCategoriesAndDisplayNames)
{
    const char* body = "<a name=\"[Basics]Using_=L=the_Menu\"></a>"
                       "<a NAME=\"Mac=U=book\"></a>"
                       "<a name=\"[Library]Hidden_Thing_NoIndex\"></a>"
                       "<a name=\"\"></a>"
                       "<a name=\"see[Playback]re-encode,_quickly\"></a><p>text</p>";
    const PMHelpPageRepresentation p = helpManagerRepresentationOfPage(
        QStringLiteral("a.html"), QString::fromUtf8(page("A", "1", body, "<!--com.tolvane.help.quickaccess[Basics|Library]-->")));
    ASSERT_EQ(p.anchors.size(), 3);
    EXPECT_EQ(p.anchors[0].category, QStringLiteral("Basics"));
    EXPECT_EQ(p.anchors[0].name, QStringLiteral("Using the Menu"));
    EXPECT_EQ(p.anchors[0].fragment, QStringLiteral("[Basics]Using_=L=the_Menu"));
    EXPECT_EQ(p.anchors[1].category, QString());
    EXPECT_EQ(p.anchors[1].name, QStringLiteral("MacBook"));
    EXPECT_EQ(p.anchors[2].category, QStringLiteral("Playback"));
    EXPECT_EQ(p.anchors[2].name, QStringLiteral("Re-Encode, Quickly"));
    EXPECT_EQ(p.anchors[2].sortString, QStringLiteral("Re Encode Quickly"));
    EXPECT_EQ(p.quickAccess, (QStringList{"Basics", "Library"}));
}

TEST(HelpBookIndex, MarkerHelpers)
{
    EXPECT_EQ(helpManagerContentBetweenPrefix(QStringLiteral("a<TITLE>x</Title>b"), QStringLiteral("<title>"), QStringLiteral("</title>")),
              QStringLiteral("x"));
    EXPECT_EQ(helpManagerContentBetweenPrefix(QStringLiteral("abc"), QString(), QStringLiteral("c")), QStringLiteral("ab"));
    EXPECT_EQ(helpManagerContentBetweenPrefix(QStringLiteral("abc"), QStringLiteral("a"), QString()), QStringLiteral("bc"));
    EXPECT_FALSE(helpManagerContentBetweenPrefix(QStringLiteral("abc"), QStringLiteral("x"), QString()).has_value());
    EXPECT_FALSE(helpManagerContentBetweenPrefix(QStringLiteral("abc"), QStringLiteral("a"), QStringLiteral("x")).has_value());
    EXPECT_EQ(helpManagerDescriptionOrValue(platform::Value()), QStringLiteral("(No Value)"));
    EXPECT_EQ(helpManagerDescriptionOrValue(platform::Value(true)), QStringLiteral("Yes"));
    EXPECT_EQ(helpManagerDescriptionOrValue(platform::Value(qint64(5))), QStringLiteral("5"));
    EXPECT_LT(helpManagerCompareNumerically(u"2", u"10"), 0);
    EXPECT_LT(helpManagerCompareNumerically(u"10", u"9223372036854775807.a.html"), 0);
    EXPECT_LT(helpManagerCompareNumerically(u"2.9", u"2.10"), 0);
}

TEST(HelpSearch, WordsLimitsAndTheCurrentPage)
{
    const QString book = makeTempDir(QStringLiteral("book"));
    writeFile(book + "/a.html", page("Encoding", "1", "<p>How to re-encode a movie in 1 step.</p>"));
    writeFile(book + "/b.html", page("Separate", "2", "<p>The words re and encode apart.</p>"));
    writeFile(book + "/c.html", page("Café", "3", "<p>A Café with a movie list.</p>"));
    writeFile(book + "/d.html", page("Smart groups", "4", "<p>A smart group fills itself; movie groups are smart.</p>"));
    writeFile(book + "/e.html", page("Fifth", "5", "<p>Another movie page.</p>"));
    PMHelpManager manager(book);

    // Single letters and digits are no words.
    EXPECT_TRUE(manager.itemsWithSearchString(QStringLiteral("a 1"), 0, true, QString()).isEmpty());
    // A hyphen joins: "re-encode" is one word, not "re" and "encode".
    EXPECT_EQ(titles(manager.itemsWithSearchString(QStringLiteral("re-encode"), 0, true, QString())), QStringList{"Encoding"});
    // Every word must occur, as part of a word, ignoring case and accents.
    EXPECT_EQ(titles(manager.itemsWithSearchString(QStringLiteral("CAFE LIS"), 0, true, QString())), QStringList{"Café"});
    EXPECT_EQ(titles(manager.itemsWithSearchString(QStringLiteral("smart group"), 0, true, QString())), QStringList{"Smart groups"});
    // The limit keeps the first pages in index order; 0 or less means no limit.
    EXPECT_EQ(titles(manager.itemsWithSearchString(QStringLiteral("movie"), 3, true, QString())), (QStringList{"Encoding", "Café", "Smart groups"}));
    EXPECT_EQ(manager.itemsWithSearchString(QStringLiteral("movie"), -1, true, QString()).size(), 4);
    // Wrapped items carry the path and the words searched for.
    const QList<PMHelpSearchItem> wrapped = manager.itemsWithSearchString(QStringLiteral("Smart, group!"), 0, true, QString());
    ASSERT_EQ(wrapped.size(), 1);
    EXPECT_EQ(wrapped[0].path, QStringLiteral("d.html"));
    EXPECT_EQ(wrapped[0].words, (QStringList{"smart", "group"}));
    // The page shown already holds the whole text: no suggestions at all.
    EXPECT_TRUE(manager.itemsWithSearchString(QStringLiteral("smart group"), 0, false, QStringLiteral("d.html")).isEmpty());
    // It holds the words, but not the text as typed: suggestions as usual.
    EXPECT_EQ(manager.itemsWithSearchString(QStringLiteral("group smart"), 0, false, QStringLiteral("d.html")).size(), 1);
    // Another page shown: no effect.
    EXPECT_EQ(manager.itemsWithSearchString(QStringLiteral("smart group"), 0, false, QStringLiteral("a.html")).size(), 1);

    int calls = 0;
    manager.searchForItemsWithSearchString(QStringLiteral("movie"), 2, [&](const QList<PMHelpSearchItem>& items) {
        ++calls;
        EXPECT_EQ(items.size(), 2);
        EXPECT_FALSE(items[0].path.isEmpty());
    });
    EXPECT_EQ(calls, 1);
}

TEST(HelpBookLookup, UserFolderFirstThenInstalledThenBesideTheProgramInTheUsersLanguage)
{
    const QString root = makeTempDir(QStringLiteral("lookup"));
    const QString user = root + "/user/Pellis";
    const QString system = root + "/usr/share/Pellis";
    const QString local = root + "/usr/local/share/Pellis";
    const QString beside = root + "/build/share/Pellis";
    writeFile(system + "/help/de/overview.html", "x");
    writeFile(system + "/help/en/overview.html", "x");
    writeFile(beside + "/help/en/overview.html", "x");
    const QStringList german = helpManagerLanguageFolderCandidates({QStringLiteral("de-CH")});
    EXPECT_EQ(german, (QStringList{"de-CH", "de_CH", "de", "German", "en", "English", ""}));
    const QStringList french = helpManagerLanguageFolderCandidates({QStringLiteral("fr-FR")});

    const auto canonical = [](const QString& p) { return QFileInfo(p).canonicalFilePath(); };
    EXPECT_EQ(PMHelpManager::helpBookFolder(user, {local, system}, beside, german), canonical(system + "/help/de"));
    EXPECT_EQ(PMHelpManager::helpBookFolder(user, {local, system}, beside, french), canonical(system + "/help/en"));
    // Beside the program (the build tree) when nothing is installed.
    EXPECT_EQ(PMHelpManager::helpBookFolder(user, {local}, beside, german), canonical(beside + "/help/en"));
    // The user's own book, even without a language folder, comes first.
    writeFile(user + "/help/overview.html", "x");
    EXPECT_EQ(PMHelpManager::helpBookFolder(user, {local, system}, beside, german), canonical(user + "/help"));
    EXPECT_EQ(PMHelpManager::helpBookFolder(QString(), {}, QString(), german), QString());
    // Names from the locale never leave the book folder.
    EXPECT_FALSE(helpManagerLanguageFolderCandidates({QStringLiteral("../x")}).contains(QStringLiteral("../x")));
}

TEST(HelpBookLookup, TheProgramFindsTheBookInTheUsersDataFolder)
{
    // The test home's XDG_DATA_HOME stands for ~/.local/share.
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    writeFile(data + "/Pellis/help/en/overview.html", page("Overview", "1", "<p>hello</p>"));
    EXPECT_EQ(PMHelpManager::helpBookFolder(), QFileInfo(data + "/Pellis/help/en").canonicalFilePath());
    QDir(data + "/Pellis").removeRecursively();
}
