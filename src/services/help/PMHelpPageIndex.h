// The index of the help book: what each page holds for the help window (its title, its
// place in the contents, its words for search, its named anchors and quick-access
// categories), read from the pages' marker comments. No widgets; safe from any thread.
//
// A page is an ".html" file below the book folder. Only the part from `<div id="main"`
// on is the page's visible text; a page without it is listed under its path but never
// found. Markers (all found ignoring case):
//   <!--com.tolvane.help.index[3.1]-->          the page's place (digit runs compare by value)
//   <!-- RGindex: 3.1 -->                        the older form of the same
//   <!--com.tolvane.help.quickaccess[A|B]-->    its quick-access categories
//   <a name="[Category]Display_=L=text">         a named anchor; "_" is a blank, "=L=" keeps
//                                                the next word in lower case, "=U=" capitalises
//                                                the letter after it; "..._NoIndex" is not listed
#pragma once

#include <QtCore/QList>
#include <QtCore/QMap>
#include <QtCore/QString>
#include <QtCore/QStringList>
#include <QtCore/QUrl>

struct PMHelpAnchor {
    QString path;       // relative path of its page
    QString fragment;   // the anchor name as written
    QString name;       // display name
    QString sortString; // display name for sorting
    QString category;   // quick-access category; empty when none
};

struct PMHelpPageRepresentation {
    QString index; // sort key
    QString path;  // relative path, "/" between folders
    QString title;
    QString text;  // visible text
    QStringList words;
    QList<PMHelpAnchor> anchors;
    QStringList quickAccess;
    bool hasQuickAccess = false;
    // What search compares: the words, and the text, folded (case, accents, widths).
    QString searchableWords; // one per line
    QString searchableText;
};

// -1, 0 or 1; digit runs compare by their value ("2" before "10"), the rest unit by unit.
int helpManagerCompareNumerically(QStringView a, QStringView b);

// The display name of an anchor's display text ("Using_=L=the_Menu" gives "Using the
// Menu", "Mac=U=book" gives "MacBook").
QString helpManagerAnchorDisplayName(const QString& displayText);

// The representation of one page from its file's text.
PMHelpPageRepresentation helpManagerRepresentationOfPage(const QString& relativePath, const QString& fileText);

// The page's file read with its encoding detected (byte-order mark, else a charset named
// in the page, else UTF-8); empty when it cannot be read.
QString helpManagerReadPage(const QString& filePath);

// Every ".html" page below the folder (hidden files skipped), by relative path.
QMap<QString, QUrl> helpManagerPagesInFolder(const QString& folder);

// The representations of the pages, sorted by their index.
QList<PMHelpPageRepresentation> helpManagerRepresentationsOfPages(const QMap<QString, QUrl>& pages);
