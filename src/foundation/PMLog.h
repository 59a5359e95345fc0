// The application's log function. Every subsystem writes its lines through PMLog: no
// levels, a line begins in lower case and ends without a full stop, paths and objects
// stand in angle brackets, diagnostic lines begin with "[Debug] " and are written only
// where the caller finds the default "PMDebugLog" set.
#pragma once

#include "platform/Format.h"

#include <QtCore/QString>

#include <initializer_list>

class PMLogReader;

// Formats the line (printf conversions plus "%@") and hands it to the log reader when
// there is one, else to the system log. Safe from any thread; never fails.
void PMLogArgs(QStringView format, std::initializer_list<platform::FormatArg> args);

template <class... Args>
void PMLog(const char* format, const Args&... args)
{
    PMLogArgs(QString::fromUtf8(format), {platform::FormatArg(args)...});
}
template <class... Args>
void PMLog(const QString& format, const Args&... args)
{
    PMLogArgs(format, {platform::FormatArg(args)...});
}

// The one-time set-up; runs under a once-flag from the first call of any of these.
void PMLogReaderSetUp();
bool PMLogReaderExists();
// Shows the reader's log window; NO when there is no reader.
bool PMLogReaderDisplay(QObject* sender);
// Makes the object the reader's delegate; NO when there is no reader.
bool PMLogReaderSetDelegate(QObject* delegate);

// True when the user default "PMDebugLog" is set: diagnostic lines are wanted.
bool PMDebugLogEnabled();
