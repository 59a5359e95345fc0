// The program's own help book: every page is reachable from the contents, every link
// inside the book leads to a page (and anchor) that exists, and the shortcuts page lists
// every shortcut of the main menu.
#include "services/help/PMHelpManager.h"
#include "services/help/PMHelpPageIndex.h"
#include "ui/commands/PMMainMenu.h"

#include "common/TestSupport.h"

#include <QtCore/QDir>
#include <QtCore/QFileInfo>
#include <QtCore/QRegularExpression>
#include <QtCore/QSet>

#include <gtest/gtest.h>

namespace {

QString bookFolder()
{
    return QFileInfo(QStringLiteral(PELLIS_SOURCE_DIR "/resources/help/en")).canonicalFilePath();
}

// The links of a page's visible part, as written.
QStringList linksOfPage(const QString& path)
{
    const QString text = helpManagerReadPage(path);
    const qsizetype main = text.indexOf(QStringLiteral("<div id=\"main\""), 0, Qt::CaseInsensitive);
    QStringList links;
    static const QRegularExpression href(QStringLiteral("<a\\s+[^>]*href=\"([^\"]*)\""), QRegularExpression::CaseInsensitiveOption);
    for (const QRegularExpressionMatch& m : href.globalMatch(text.mid(std::max<qsizetype>(main, 0))))
        links << m.captured(1);
    return links;
}

bool pageHasAnchor(const QString& path, const QString& fragment)
{
    return helpManagerReadPage(path).contains(QStringLiteral("name=\"%1\"").arg(fragment));
}

} // namespace

TEST(HelpBookPages, EveryPageIsIndexedTitledAndSearchable)
{
    PMHelpManager manager(bookFolder());
    const QList<PMHelpPageRepresentation> pages = manager.pageRepresentations();
    ASSERT_GE(pages.size(), 10);
    EXPECT_EQ(pages.constFirst().path, QStringLiteral("overview.html"));
    QSet<QString> indexes;
    for (const PMHelpPageRepresentation& page : pages) {
        EXPECT_FALSE(page.index.startsWith(QStringLiteral("9223372036854775807"))) << qPrintable(page.path) << " has no order marker";
        EXPECT_NE(page.title, page.path) << qPrintable(page.path) << " has no title";
        EXPECT_GT(page.words.size(), 20) << qPrintable(page.path);
        EXPECT_FALSE(indexes.contains(page.index)) << qPrintable(page.path) << " shares its order marker";
        indexes.insert(page.index);
    }
    // The help window's own search finds the pages about smart groups.
    const QList<PMHelpSearchItem> found = manager.itemsWithSearchString(QStringLiteral("smart group"), 0, true, QString());
    QStringList foundPaths;
    for (const PMHelpSearchItem& item : found)
        foundPaths << item.path;
    EXPECT_TRUE(foundPaths.contains(QStringLiteral("organising.html")));
    // The page the context-menu help buttons open.
    EXPECT_TRUE(pageHasAnchor(bookFolder() + "/menuitems.html", QStringLiteral("Contextual_Menus")));
}

TEST(HelpBookPages, EveryPageIsReachableFromTheContentsAndEveryLinkResolves)
{
    const QString book = bookFolder();
    const QMap<QString, QUrl> pages = helpManagerPagesInFolder(book);
    QSet<QString> reached{QStringLiteral("overview.html")};
    QStringList queue{QStringLiteral("overview.html")};
    while (!queue.isEmpty()) {
        const QString relative = queue.takeFirst();
        const QUrl pageURL = pages.value(relative);
        for (const QString& link : linksOfPage(pageURL.toLocalFile())) {
            const QUrl target = pageURL.resolved(QUrl(link));
            if (target.scheme() == QLatin1String("http") || target.scheme() == QLatin1String("https") || target.scheme() == QLatin1String("mailto"))
                continue;
            ASSERT_TRUE(target.isLocalFile()) << qPrintable(relative) << ": " << qPrintable(link);
            const QString file = QFileInfo(target.toLocalFile()).canonicalFilePath();
            ASSERT_FALSE(file.isEmpty()) << qPrintable(relative) << " links to a missing page: " << qPrintable(link);
            ASSERT_TRUE(file.startsWith(book + '/')) << qPrintable(relative) << " links out of the book: " << qPrintable(link);
            if (target.hasFragment()) {
                EXPECT_TRUE(pageHasAnchor(file, target.fragment())) << qPrintable(relative) << ": no anchor " << qPrintable(link);
            }
            const QString targetRelative = QDir(book).relativeFilePath(file);
            ASSERT_TRUE(pages.contains(targetRelative)) << qPrintable(relative) << ": " << qPrintable(link);
            if (!reached.contains(targetRelative)) {
                reached.insert(targetRelative);
                queue << targetRelative;
            }
        }
    }
    for (auto it = pages.cbegin(); it != pages.cend(); ++it)
        EXPECT_TRUE(reached.contains(it.key())) << qPrintable(it.key()) << " cannot be reached from the contents";
}

TEST(HelpBookPages, TheShortcutsPageListsEveryShortcutOfTheMainMenu)
{
    // The shortcuts as the page shows them, one per cell or separated by commas.
    QSet<QString> listed;
    static const QRegularExpression cell(QStringLiteral("<td class=\"key\">([^<]*)</td>"));
    for (const QRegularExpressionMatch& m : cell.globalMatch(helpManagerReadPage(bookFolder() + "/shortcuts.html")))
        for (const QString& key : m.captured(1).split(QStringLiteral(", ")))
            listed.insert(key.trimmed());
    for (const PMMainMenu::Entry& entry : PMMainMenu::entries()) {
        if (!entry.shortcut)
            continue;
        const QString shortcut = QString::fromUtf8(entry.shortcut);
        EXPECT_TRUE(listed.contains(shortcut)) << entry.menu << " ▸ " << entry.title << ": " << entry.shortcut << " is not on the shortcuts page";
    }
}
