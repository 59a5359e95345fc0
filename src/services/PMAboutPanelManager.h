// The about panel: the program's name, version and icon, the credits read from the
// "Credits.txt" beside the program (one credit a line; a line beginning with "=> " adds to
// the copyright line), a picture that opens the maker's web site, and a title-bar button
// for the licence agreement.
#pragma once

#include "platform/Responder.h"

#include <QtCore/QObject>
#include <QtCore/QPointer>
#include <QtCore/QStringList>
#include <QtCore/QVariant>
#include <QtGui/QImage>
#include <QtGui/QTextCursor>
#include <QtWidgets/QDialog>

class QDialog;
class QTextBrowser;
class QUrl;

// An image in a text that tells a click handler what it stands for (here the address to
// open). In a text document it is an image inside a link whose target is the context.
struct PMContextTextAttachmentCell {
    QImage image;
    QVariant textAttachmentContext;
};

// Appends the image at the cursor, lifted by the offset (points) when it exceeds 0.1; with a
// context the image becomes a link to it. Answers the appended range (start -1: nothing).
struct PMTextRange {
    int location = -1;
    int length = 0;
};
PMTextRange appendImage(QTextCursor& cursor, const QImage& image, double offset, bool useAttachmentCell, const QVariant& context);
bool appendImage(QTextCursor& cursor, const QImage& image, double offset);
bool appendString(QTextCursor& cursor, const QString& text);

class PMAboutPanelManager final : public QObject, public platform::Responder {
public:
    static PMAboutPanelManager& aboutPanelManager();

    // Splits the credits file into credits and the copyright addition; sorts the credits in
    // the user's order (numbers by value) and makes the credits text.
    struct Credits {
        QStringList lines;
        QString copyrightAddition; // the text after the last "=> ", null without one
    };
    static Credits readCredits(const QString& text);
    static QString creditsText(const QStringList& lines);
    // The folder holding "Credits.txt" and the picture; empty when none is found.
    static QString resourceFolder();
    static void setResourceFolderForTesting(const QString& folder);

    void orderFrontStandardAboutPanel(QObject* sender);
    // A click on the picture (or any link of the credits).
    void textViewClickedOnCell(const QUrl& url);
    void openEULA(QObject* sender);

    bool respondsToAction(const QString& action) const override;
    void performAction(const QString& action, QObject* sender) override;

    QDialog* panel() const { return _panel; }

private:
    PMAboutPanelManager() = default;
    QPointer<QDialog> _panel;
};
