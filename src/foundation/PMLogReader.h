// What the log function needs of a log reader, and how a reader class makes itself
// known: it registers a PMLogReaderClass under its class name, and the log function
// looks that name up at run time, so this layer does not depend on the reader's.
#pragma once

#include "platform/Format.h"

#include <QtCore/QString>

#include <functional>
#include <initializer_list>
#include <memory>

class QObject;

class PMLogReaderInterface {
public:
    virtual ~PMLogReaderInterface();
    // Formats the line, always writes it to the system log, and keeps a copy when the
    // reader keeps messages. Never fails.
    virtual void logFormat(QStringView format, std::initializer_list<platform::FormatArg> arguments) = 0;
    virtual void displayLog(QObject* sender) = 0;
    virtual void setDelegate(QObject* delegate) = 0;
    // The operation (by name) that the reader sends its menu items with a system-symbol name.
    virtual void setMenuItemActionImageSetter(const QString& operation) = 0;
    virtual void setDebugLoggingUserDefaultName(const QString& name) = 0;
};

struct PMLogReaderClass {
    std::function<bool()> canDisplayLog;
    std::function<std::shared_ptr<PMLogReaderInterface>()> create;
};

// The class name the log function looks up.
inline constexpr const char* kPMLogReaderClassName = "ILRIntegratedLogReader";

// Forgets the reader that the first log call looked up, so that the next call looks again
// (a test process that runs many tests starts each with no reader).
void PMLogReaderForgetForTesting();
