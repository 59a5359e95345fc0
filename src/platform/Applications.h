// Applications that open a file, and the types of files. Applications are the desktop's
// entries (*.desktop in $XDG_DATA_HOME/applications and $XDG_DATA_DIRS/applications) with
// the types they declare; the user's choices come from the mimeapps.list files of the XDG
// config and data folders ([Default Applications], [Added Associations], [Removed
// Associations]). File types are MIME types from the shared MIME database; the program's
// own type names ("public.movie", "com.compuserve.gif", ...) are mapped onto them.
#pragma once

#include <QtCore/QString>
#include <QtCore/QStringList>

#include <vector>

namespace platform {

struct DesktopApplication {
    QString id;           // the desktop file ID, "org.videolan.VLC.desktop"
    QString path;         // where its entry lies
    QString name;         // Name= in the user's language where the entry has it
    QString exec;         // the Exec= command line, field codes included
    QStringList mimeTypes;
    QString icon;         // Icon=: a name of the icon theme, or an absolute path
    bool isValid() const { return !id.isEmpty(); }
};

// The MIME type of a file, by its name and, where that is ambiguous, its content;
// "inode/directory" for a folder. Empty for an empty path.
QString mimeTypeForFile(const QString& path);
// The MIME type (or "major/*" family, or "*" for any) that a type name stands for; a name
// that already is a MIME type is answered as it is; an unknown name answers empty.
QString mimeTypeForTypeIdentifier(const QString& typeIdentifier);
// Whether a MIME type is, or inherits from, the type a type name or MIME type stands for.
bool mimeTypeConformsToType(const QString& mimeType, const QString& typeIdentifierOrMimeType);
bool fileConformsToType(const QString& path, const QString& typeIdentifierOrMimeType);

// The application a double click in the file manager would use; false when there is none.
bool getDefaultApplicationForFile(const QString& path, DesktopApplication* getApplication);
bool getDefaultApplicationForMimeType(const QString& mimeType, DesktopApplication* getApplication);
// Every application that opens the file, the default first; each once.
std::vector<DesktopApplication> applicationsForFile(const QString& path);
std::vector<DesktopApplication> applicationsForMimeType(const QString& mimeType);
// The installed application with this desktop file ID.
bool getDesktopApplication(const QString& id, DesktopApplication* getApplication);
// Whether the entry starts this very program (its desktop file name or its executable).
bool isOwnApplication(const DesktopApplication& application);

// The command lines that open the files with the application, its field codes replaced:
// one line for all of them when the entry takes a list (%F, %U), else one line per file.
// The lines are run directly, never through a shell.
std::vector<QStringList> commandLinesForFiles(const DesktopApplication& application, const QStringList& paths);

// Reads a desktop entry; false for a file that is unreadable, too large, not an
// application, hidden, or whose TryExec program is missing.
bool readDesktopEntry(const QString& path, const QString& id, DesktopApplication* getApplication);
// The same over the entry's bytes (`path` is only recorded).
bool parseDesktopEntry(const QByteArray& bytes, const QString& path, const QString& id, DesktopApplication* getApplication);

// The command lines (program first) that start the entry for the files, field codes of its
// Exec= line expanded: %f and %u take one file each, so an entry that has them and no %F or
// %U gets one command line per file; %F and %U take all; %i, %c and %k give the icon, the
// name and the entry's path; %% is a percent sign. Every file is one argument, made
// absolute so that a name starting with a dash never reads as an option. Nothing for an
// entry without a command. The program is started directly, never through a shell.
std::vector<QStringList> commandLinesForFiles(const DesktopApplication& application, const QStringList& paths);
// Whether the file could run: programs, scripts and desktop entries, by name or by content,
// and anything with an execute bit that is not a movie, a sound or a picture (every file of
// a FAT, exFAT or NTFS drive has the bit). Such files are never handed to another application.
bool isRunnableFile(const QString& path);
// Every installed application, each once.
std::vector<DesktopApplication> allApplications();

} // namespace platform
