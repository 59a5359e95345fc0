// What the external-viewer watch needs apart from the controller: the viewer rules' text and
// its check, the pickup of a preview image saved from the viewer, and asking a player over
// MPRIS what it shows.
#pragma once

#include "platform/Image.h"
#include "platform/Value.h"

#include <QtCore/QObject>
#include <QtCore/QPointer>
#include <QtCore/QSet>
#include <QtCore/QString>
#include <QtCore/QTimer>

// The rules used while "Viewer Rules" holds no text (lenient JSON, one key per line).
QString PMBuiltInViewerRules();
// The rules of the text: a non-empty array of dictionaries of exactly two keys, "Match" (a
// regular expression) or "Extensions" (names separated by spaces) and a non-empty "Open"
// (a desktop entry's ID or name, or the path of an entry). Null with the reason otherwise.
platform::ArrayPtr PMParseViewerRules(const QString& text, QString* error);

// The newest image in the folder whose name matches the pattern (case-insensitive) and that
// was made at or after `sinceMSecs`, read as an image, with the moment it was made. The
// file itself is left alone.
platform::ImagePtr PMPickUpExternalViewerPreview(const QString& directory, const QString& pattern, qint64 sinceMSecs,
                                                 qint64* madeMSecs = nullptr);

// A player's answer. Durations that are not finite or below 1 s count as unknown (0).
struct PMMprisState {
    bool answered = false;
    QString path;
    double position = 0;
    double duration = 0;
    bool isPlaying = false;
};
// Asks the MPRIS players on the session bus (or the bus of that name, for tests): the one
// showing `watchedPath` first, else one whose desktop entry is `desktopId`, else none.
PMMprisState PMQueryMprisPlayer(const QString& busName, const QString& desktopId, const QString& watchedPath);

// Asks a viewer that was just given a file to play it, over MPRIS: the player of that
// desktop entry, as soon as it is on the session bus (or the bus of that name, for tests);
// a viewer that was running already is asked at once. Gives up after `timeoutMSecs`.
// Deletes itself when done; `finished` says whether a player was asked.
class PMMprisPushStart : public QObject {
    Q_OBJECT
public:
    static PMMprisPushStart* start(const QString& busName, const QString& desktopId, int timeoutMSecs, QObject* parent);

Q_SIGNALS:
    void finished(bool asked);

private Q_SLOTS:
    void nameOwnerChanged(const QString& name, const QString& oldOwner, const QString& newOwner);

private:
    PMMprisPushStart(const QString& busName, const QString& desktopId, QObject* parent);
    void consider(const QString& name);
    void finish(bool asked);

    QString m_busName;
    QString m_entry; // the desktop entry's name without ".desktop", as MPRIS gives it
    QSet<QString> m_asked;
    QTimer m_timeout;
    bool m_done = false;
};
