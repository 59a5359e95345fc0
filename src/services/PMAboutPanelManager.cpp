#include "services/PMAboutPanelManager.h"

#include "foundation/PMLog.h"
#include "platform/AboutPanel.h"
#include "platform/Alert.h"
#include "platform/Collation.h"
#include "platform/FileManager.h"
#include "platform/RegularFile.h"
#include "services/PMApplicationIcon.h"
#include "ui/kit/NSWindow+PMExtensions.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QStandardPaths>
#include <QtCore/QUrl>
#include <QtGui/QIcon>
#include <QtGui/QPixmap>
#include <QtGui/QTextBlockFormat>
#include <QtGui/QTextDocument>
#include <QtGui/QTextImageFormat>
#include <QtWidgets/QApplication>
#include <QtWidgets/QDialog>
#include <QtWidgets/QTextBrowser>

#include <algorithm>

namespace {

const QString kMakerSite = QStringLiteral("https://www.tolvane.com/");
const QString kLicenceAgreement = QStringLiteral("https://www.tolvane.com/eula");
const QString kCopyright = QStringLiteral("© 2026 Tolvane");
// The credits are text: a file much larger than this is not a credits file.
constexpr qint64 kMaximumCreditsBytes = 1024 * 1024;

QString& resourceFolderOverride()
{
    static QString folder;
    return folder;
}

QString localized(const char* text)
{
    return QCoreApplication::translate("PMAboutPanelManager", text);
}

// The about panels open now: fixed-size panels with a close button.
QList<QWidget*> aboutPanelCandidates()
{
    QList<QWidget*> candidates;
    for (QWidget* window : QApplication::topLevelWidgets()) {
        auto* dialog = qobject_cast<QDialog*>(window);
        if (dialog && dialog->isVisible() && dialog->objectName() == QLatin1String("PMStandardAboutPanel")
            && (dialog->windowFlags() & Qt::WindowCloseButtonHint))
            candidates.append(dialog);
    }
    return candidates;
}

} // namespace

PMTextRange appendImage(QTextCursor& cursor, const QImage& image, double offset, bool useAttachmentCell, const QVariant& context)
{
    if (image.isNull() || !cursor.document())
        return {};
    static int serial = 0;
    const QString name = QStringLiteral("pm-attachment-%1").arg(++serial);
    cursor.document()->addResource(QTextDocument::ImageResource, QUrl(name), image);
    QTextImageFormat format;
    format.setName(name);
    format.setWidth(image.width() / std::max(1.0, image.devicePixelRatio()));
    format.setHeight(image.height() / std::max(1.0, image.devicePixelRatio()));
    if (std::abs(offset) > 0.1)
        format.setVerticalAlignment(offset > 0 ? QTextCharFormat::AlignSuperScript : QTextCharFormat::AlignSubScript);
    if (useAttachmentCell && context.canConvert<QString>() && !context.toString().isEmpty()) {
        format.setAnchor(true);
        format.setAnchorHref(context.toString());
        format.setToolTip(context.toString());
    }
    const int start = cursor.position();
    cursor.insertImage(format);
    return {start, cursor.position() - start};
}

bool appendImage(QTextCursor& cursor, const QImage& image, double offset)
{
    return appendImage(cursor, image, offset, false, QVariant()).location >= 0;
}

bool appendString(QTextCursor& cursor, const QString& text)
{
    if (text.isEmpty())
        return false;
    cursor.insertText(text);
    return true;
}

PMAboutPanelManager& PMAboutPanelManager::aboutPanelManager()
{
    static PMAboutPanelManager* manager = new PMAboutPanelManager; // lives for the process
    return *manager;
}

PMAboutPanelManager::Credits PMAboutPanelManager::readCredits(const QString& text)
{
    Credits credits;
    for (const QString& line : text.split(u'\n')) {
        QString l = line;
        if (l.endsWith(u'\r'))
            l.chop(1);
        if (l.isEmpty())
            continue;
        if (l.startsWith(QLatin1String("=> ")))
            credits.copyrightAddition = l.mid(3);
        else
            credits.lines.append(l);
    }
    std::sort(credits.lines.begin(), credits.lines.end(),
              [](const QString& a, const QString& b) { return platform::localizedStandardCompare(a, b) < 0; });
    return credits;
}

QString PMAboutPanelManager::creditsText(const QStringList& lines)
{
    if (lines.isEmpty())
        return QStringLiteral("\n");
    return lines.join(u'\n') + QStringLiteral("\n\n\n");
}

void PMAboutPanelManager::setResourceFolderForTesting(const QString& folder)
{
    resourceFolderOverride() = folder;
}

QString PMAboutPanelManager::resourceFolder()
{
    if (!resourceFolderOverride().isEmpty())
        return resourceFolderOverride();
    QStringList bases{QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/../share/Pellis"))};
    for (const QString& folder : QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation))
        bases.append(folder + QStringLiteral("/Pellis"));
    for (const QString& base : std::as_const(bases)) {
        const QString folder = base + QStringLiteral("/about");
        if (QFile::exists(folder + QStringLiteral("/Credits.txt")))
            return folder;
    }
    return {};
}

void PMAboutPanelManager::orderFrontStandardAboutPanel(QObject*)
{
    const QList<QWidget*> before = aboutPanelCandidates();

    platform::AboutPanelOptions options;
    // The plain icon, not the launcher's with its badge of the moment.
    options.icon = QIcon(QPixmap::fromImage(PMApplicationIconImage()));
    const QString folder = resourceFolder();
    Credits credits;
    if (const QString path = folder + QStringLiteral("/Credits.txt"); !folder.isEmpty() && platform::checkRegularFile(path)) {
        QFile file(path);
        if (file.size() <= kMaximumCreditsBytes && file.open(QIODevice::ReadOnly))
            credits = readCredits(QString::fromUtf8(file.readAll()));
    }
    if (!credits.copyrightAddition.isNull())
        options.copyright = QStringLiteral("%1 — %2").arg(kCopyright, credits.copyrightAddition);
    else
        options.copyright = kCopyright;

    QImage picture;
    if (const QString path = folder + QStringLiteral("/PMRetinaRunningBird.png"); !folder.isEmpty() && platform::checkRegularFile(path))
        picture.load(path);

    QTextDocument document;
    if (!credits.lines.isEmpty() || !picture.isNull()) {
        QTextCursor cursor(&document);
        QTextCharFormat text;
        QFont font = QApplication::font();
        font.setPointSizeF(10);
        text.setFont(font);
        text.setForeground(QApplication::palette().color(QPalette::WindowText));
        cursor.setCharFormat(text);
        appendString(cursor, creditsText(credits.lines));
        const PMTextRange range = appendImage(cursor, picture, 0, true, kMakerSite);
        if (range.location >= 0)
            appendString(cursor, QStringLiteral("\n"));
        QTextCursor all(&document);
        all.select(QTextCursor::Document);
        QTextBlockFormat centred;
        centred.setAlignment(Qt::AlignHCenter);
        all.mergeBlockFormat(centred);
        options.credits = &document;
    }

    QDialog* shown = platform::orderFrontStandardAboutPanel(options);
    QList<QWidget*> added;
    for (QWidget* candidate : aboutPanelCandidates())
        if (!before.contains(candidate))
            added.append(candidate);
    if (added.size() != 1 || added.first() != shown)
        return; // shown before: already set up
    _panel = shown;

    // The credits view: the first text view of the panel.
    const QList<QTextBrowser*> views = shown->findChildren<QTextBrowser*>();
    if (!views.isEmpty()) {
        for (qsizetype i = 1; i < views.size(); ++i)
            PMLog("unexpected bonus text view: %@", views.first()->toPlainText());
        QObject::connect(views.first(), &QTextBrowser::anchorClicked, this, [this](const QUrl& url) { textViewClickedOnCell(url); });
    }
    addTitlebarButtonWithTitle(shown, localized("EULA"), QStringLiteral("openEULA"), this);
}

void PMAboutPanelManager::textViewClickedOnCell(const QUrl& url)
{
    if (url.isValid() && !url.isEmpty())
        platform::openURLWithDefaultHandler(url);
}

void PMAboutPanelManager::openEULA(QObject*)
{
    if (!platform::openURLWithDefaultHandler(QUrl(kLicenceAgreement)))
        platform::beep();
}

bool PMAboutPanelManager::respondsToAction(const QString& action) const
{
    return action == QLatin1String("openEULA") || action == QLatin1String("orderFrontStandardAboutPanel");
}

void PMAboutPanelManager::performAction(const QString& action, QObject* sender)
{
    if (action == QLatin1String("openEULA"))
        openEULA(sender);
    else if (action == QLatin1String("orderFrontStandardAboutPanel"))
        orderFrontStandardAboutPanel(sender);
}
