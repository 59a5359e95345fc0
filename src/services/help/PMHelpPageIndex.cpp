#include "services/help/PMHelpPageIndex.h"

#include "foundation/NSString+PMHelpManagerMatching.h"
#include "foundation/PMLog.h"
#include "services/help/NSString+PMHelpManagerHelpBook.h"

#include <QtCore/QDir>
#include <QtCore/QDirIterator>
#include <QtCore/QFile>
#include <QtCore/QFileInfo>
#include <QtCore/QHash>
#include <QtCore/QStringConverter>
#include <QtCore/QStringDecoder>

#include <algorithm>
#include <limits>

namespace {

const QString kMainMarker = QStringLiteral("<div id=\"main\"");
const QString kCommentStart = QStringLiteral("<!--");
const QString kCommentEnd = QStringLiteral("-->");
const QString kLowercaseMarker = QStringLiteral("==Lowercase");

// The page from `<div id="main"` on, without its comments; an unterminated comment ends
// it. Empty when the page has no such division.
QString visiblePart(const QString& text)
{
    qsizetype i = text.indexOf(kMainMarker, 0, Qt::CaseInsensitive);
    if (i < 0)
        return {};
    QString part;
    part.reserve(text.size() - i);
    while (i < text.size()) {
        const qsizetype comment = text.indexOf(kCommentStart, i);
        if (comment < 0) {
            part.append(QStringView(text).mid(i));
            break;
        }
        part.append(QStringView(text).mid(i, comment - i));
        const qsizetype end = text.indexOf(kCommentEnd, comment + kCommentStart.size());
        if (end < 0)
            break;
        i = end + kCommentEnd.size();
    }
    return part;
}

// The character an entity stands for ("&amp;", "&#233;", "&#x2026;"), so that a page's
// words are what its reader sees.
QString decodeEntities(QStringView run)
{
    if (!run.contains(QLatin1Char('&')))
        return run.toString();
    static const QHash<QString, QString> named = {
        {QStringLiteral("amp"), QStringLiteral("&")},     {QStringLiteral("lt"), QStringLiteral("<")},
        {QStringLiteral("gt"), QStringLiteral(">")},      {QStringLiteral("quot"), QStringLiteral("\"")},
        {QStringLiteral("apos"), QStringLiteral("'")},    {QStringLiteral("nbsp"), QStringLiteral(" ")},
        {QStringLiteral("hellip"), QStringLiteral("…")},  {QStringLiteral("mdash"), QStringLiteral("—")},
        {QStringLiteral("ndash"), QStringLiteral("–")},   {QStringLiteral("rarr"), QStringLiteral("→")},
        {QStringLiteral("larr"), QStringLiteral("←")},    {QStringLiteral("uarr"), QStringLiteral("↑")},
        {QStringLiteral("darr"), QStringLiteral("↓")},    {QStringLiteral("rsquo"), QStringLiteral("’")},
        {QStringLiteral("lsquo"), QStringLiteral("‘")},   {QStringLiteral("rdquo"), QStringLiteral("”")},
        {QStringLiteral("ldquo"), QStringLiteral("“")},   {QStringLiteral("times"), QStringLiteral("×")},
        {QStringLiteral("copy"), QStringLiteral("©")},
    };
    QString out;
    out.reserve(run.size());
    qsizetype i = 0;
    while (i < run.size()) {
        const QChar c = run.at(i);
        if (c == QLatin1Char('&')) {
            const qsizetype semicolon = run.indexOf(QLatin1Char(';'), i + 1);
            if (semicolon > i + 1 && semicolon - i <= 10) {
                const QString name = run.mid(i + 1, semicolon - i - 1).toString();
                QString replacement;
                if (name.startsWith(QLatin1Char('#'))) {
                    bool ok = false;
                    const uint code = name.startsWith(QLatin1String("#x"), Qt::CaseInsensitive) ? name.mid(2).toUInt(&ok, 16)
                                                                                                  : name.mid(1).toUInt(&ok, 10);
                    if (ok && code > 0 && code <= 0x10FFFF && !QChar::isSurrogate(code))
                        replacement = QString::fromUcs4(reinterpret_cast<const char32_t*>(&code), 1);
                } else {
                    replacement = named.value(name);
                }
                if (!replacement.isEmpty()) {
                    out.append(replacement);
                    i = semicolon + 1;
                    continue;
                }
            }
        }
        out.append(c);
        ++i;
    }
    return out;
}

// The runs of characters outside tags, each after a single blank.
QString visibleText(const QString& part)
{
    QString text;
    qsizetype i = 0;
    while (i < part.size()) {
        const qsizetype tag = part.indexOf(QLatin1Char('<'), i);
        const qsizetype runEnd = tag < 0 ? part.size() : tag;
        if (runEnd > i) {
            const QString run = decodeEntities(QStringView(part).mid(i, runEnd - i)).simplified();
            if (!run.isEmpty()) {
                text.append(QLatin1Char(' '));
                text.append(run);
            }
        }
        if (tag < 0)
            break;
        const qsizetype close = part.indexOf(QLatin1Char('>'), tag + 1);
        if (close < 0)
            break;
        i = close + 1;
    }
    return text;
}

QString capitalizedWords(const QString& text)
{
    QString out = text;
    bool inWord = false;
    for (qsizetype i = 0; i < out.size(); ++i) {
        const QChar c = out.at(i);
        if (c.isLetter()) {
            out[i] = inWord ? c.toLower() : c.toUpper();
            inWord = true;
        } else {
            inWord = false;
        }
    }
    return out;
}

QList<PMHelpAnchor> anchorsOfPart(const QString& part, const QString& relativePath)
{
    static const QString opening = QStringLiteral("<a name=\"");
    QList<PMHelpAnchor> anchors;
    qsizetype i = 0;
    while ((i = part.indexOf(opening, i, Qt::CaseInsensitive)) >= 0) {
        const qsizetype start = i + opening.size();
        const qsizetype end = part.indexOf(QLatin1Char('"'), start);
        if (end < 0)
            break;
        i = end + 1;
        const QString fragment = part.mid(start, end - start);
        if (fragment.isEmpty() || fragment.toLower().endsWith(QLatin1String("_noindex")))
            continue;
        PMHelpAnchor anchor;
        anchor.path = relativePath;
        anchor.fragment = fragment;
        QString displayText = fragment;
        const qsizetype bracket = fragment.indexOf(QLatin1Char(']'));
        if (bracket >= 0) {
            QString category = fragment.left(bracket);
            const qsizetype open = category.indexOf(QLatin1Char('['));
            if (open >= 0)
                category = category.mid(open + 1);
            anchor.category = category;
            displayText = fragment.mid(bracket + 1);
        }
        anchor.name = helpManagerAnchorDisplayName(displayText);
        anchor.sortString = helpManagerAnchorSortStringByIgnoringCharactersFromSet(anchor.name, [](QChar c) { return c.isPunct(); });
        anchors.append(anchor);
    }
    return anchors;
}

// Compares two runs of digits by value: leading zeros do not count, then the longer run
// is larger, then the digits decide.
int compareDigitRuns(QStringView a, QStringView b)
{
    while (a.size() > 1 && a.front() == QLatin1Char('0'))
        a = a.mid(1);
    while (b.size() > 1 && b.front() == QLatin1Char('0'))
        b = b.mid(1);
    if (a.size() != b.size())
        return a.size() < b.size() ? -1 : 1;
    const int c = a.compare(b);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

bool isAsciiDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

} // namespace

int helpManagerCompareNumerically(QStringView a, QStringView b)
{
    qsizetype i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (isAsciiDigit(a.at(i)) && isAsciiDigit(b.at(j))) {
            qsizetype ie = i, je = j;
            while (ie < a.size() && isAsciiDigit(a.at(ie)))
                ++ie;
            while (je < b.size() && isAsciiDigit(b.at(je)))
                ++je;
            if (const int c = compareDigitRuns(a.mid(i, ie - i), b.mid(j, je - j)))
                return c;
            i = ie;
            j = je;
            continue;
        }
        if (a.at(i) != b.at(j))
            return a.at(i) < b.at(j) ? -1 : 1;
        ++i;
        ++j;
    }
    if (i < a.size())
        return 1;
    if (j < b.size())
        return -1;
    return 0;
}

QString helpManagerAnchorDisplayName(const QString& displayText)
{
    QString name = displayText;
    name.replace(QLatin1Char('_'), QLatin1Char(' '));
    name.replace(QLatin1String("=L="), kLowercaseMarker);
    name = capitalizedWords(name.trimmed());
    name.remove(kLowercaseMarker);
    name.remove(QLatin1String("=U="));
    return name;
}

PMHelpPageRepresentation helpManagerRepresentationOfPage(const QString& relativePath, const QString& fileText)
{
    PMHelpPageRepresentation page;
    page.path = relativePath;
    const QString part = visiblePart(fileText);
    page.text = visibleText(part);
    page.words = wordsFromString(page.text);
    if (!page.words.isEmpty()) {
        page.title = helpManagerContentBetweenPrefix(fileText, QStringLiteral("<title>"), QStringLiteral("</title>"))
                         .value_or(QString())
                         .simplified();
        page.title = decodeEntities(page.title);
        std::optional<QString> index =
            helpManagerContentBetweenPrefix(fileText, QStringLiteral("<!--com.tolvane.help.index["), QStringLiteral("]-->"));
        if (!index)
            index = helpManagerContentBetweenPrefix(fileText, QStringLiteral("<!-- RGindex: "), QStringLiteral(" -->"));
        if (index)
            page.index = *index;
        if (const std::optional<QString> quick =
                helpManagerContentBetweenPrefix(fileText, QStringLiteral("<!--com.tolvane.help.quickaccess["), QStringLiteral("]-->"))) {
            page.hasQuickAccess = true;
            page.quickAccess = quick->split(QLatin1Char('|'));
        }
        page.anchors = anchorsOfPart(part, relativePath);
    }
    if (page.title.isEmpty())
        page.title = relativePath;
    if (page.index.isEmpty())
        page.index = QStringLiteral("%1.%2").arg(std::numeric_limits<qint64>::max()).arg(relativePath);
    page.searchableWords = helpManagerInsensitiveSearchKey(page.words.join(QLatin1Char('\n')));
    page.searchableText = helpManagerInsensitiveSearchKey(page.text);
    return page;
}

QString helpManagerReadPage(const QString& filePath)
{
    QFile file(filePath);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.readAll();
    std::optional<QStringConverter::Encoding> encoding = QStringConverter::encodingForHtml(bytes);
    QStringDecoder decoder(encoding.value_or(QStringConverter::Utf8));
    return decoder.decode(bytes);
}

QMap<QString, QUrl> helpManagerPagesInFolder(const QString& folder)
{
    QMap<QString, QUrl> pages;
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        return pages;
    const QDir root(folder);
    // Hidden files and folders are skipped (QDir::Hidden is not asked for); links to
    // folders are not followed, so a loop of links cannot make the walk endless.
    QDirIterator it(folder, QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        const QFileInfo info = it.fileInfo();
        if (!info.isFile() || info.suffix() != QLatin1String("html"))
            continue;
        const QString relative = root.relativeFilePath(info.filePath());
        if (relative.startsWith(QLatin1String("..")) || QDir::isAbsolutePath(relative))
            continue;
        pages.insert(relative, QUrl::fromLocalFile(info.absoluteFilePath()));
    }
    return pages;
}

QList<PMHelpPageRepresentation> helpManagerRepresentationsOfPages(const QMap<QString, QUrl>& pages)
{
    QList<PMHelpPageRepresentation> representations;
    representations.reserve(pages.size());
    for (auto it = pages.cbegin(); it != pages.cend(); ++it)
        representations.append(helpManagerRepresentationOfPage(it.key(), helpManagerReadPage(it.value().toLocalFile())));
    if (representations.size() >= 2)
        std::stable_sort(representations.begin(), representations.end(), [](const PMHelpPageRepresentation& a, const PMHelpPageRepresentation& b) {
            return helpManagerCompareNumerically(a.index, b.index) < 0;
        });
    return representations;
}
