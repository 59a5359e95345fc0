// The three scripting commands (open a URL, report the current focus, restore a focus),
// reachable on the session bus as the object "/com/tolvane/Pellis" with the interface
// "com.tolvane.Pellis" of the service "com.tolvane.Pellis", and from the command line of
// the program, which hands them to the running copy.
#pragma once

#include <QtCore/QObject>
#include <QtCore/QString>
#include <QtCore/QStringList>

inline constexpr char PMScriptingServiceName[] = "com.tolvane.Pellis";
inline constexpr char PMScriptingObjectPath[] = "/com/tolvane/Pellis";
inline constexpr char PMScriptingInterfaceName[] = "com.tolvane.Pellis";

// Each command's work, done by the one controller.
class PMURLHandlerCommand {
public:
    static void performDefaultImplementation(const QString& directParameter);
};

class PMCurrentFocusCommand {
public:
    static QString performDefaultImplementation();
};

class PMRestoreFocusCommand {
public:
    static void performDefaultImplementation(const QString& directParameter);
};

// The bus object. Requests that may ask the user something are answered at once and
// executed on the next turn of the event loop, so the caller never waits for a person.
class PMScriptingInterface : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.tolvane.Pellis")
public:
    using QObject::QObject;

public Q_SLOTS:
    Q_SCRIPTABLE void OpenURL(const QString& url);
    Q_SCRIPTABLE QString CurrentFocus();
    Q_SCRIPTABLE void RestoreFocus(const QString& focus);
    // Files and URLs that a second copy of the program was asked to open.
    Q_SCRIPTABLE void Open(const QStringList& filesAndURLs);
};

// The command line: "--open-url URL", "--current-focus", "--restore-focus FOCUS"; other
// arguments are files and URLs to open. A scripting command is sent to the running copy
// and answers true with the exit code; without a running copy a URL to open joins the
// open requests, and the other two fail. Open requests are collected for the caller.
bool PMRunScriptCommandFromCommandLine(const QStringList& arguments, QStringList* getOpenRequests, int* getExitCode);
