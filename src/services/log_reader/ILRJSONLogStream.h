// One run of the log tool: a child process whose standard output is JSON log entries,
// read on a thread of its own (or on the calling thread while waiting for the tool to
// exit), cut into complete entries and handed on in batches.
#pragma once

#include "platform/SystemJournal.h"
#include "platform/Value.h"

#include <QtCore/QByteArray>
#include <QtCore/QStringList>

#include <functional>
#include <memory>
#include <vector>

class ILRJSONLogStream {
public:
    using Entries = std::vector<platform::DictionaryPtr>;
    // Receives each batch of complete entries; answers whether to go on.
    using OutputHandler = std::function<bool(const Entries& entries)>;

    // Output that holds no complete entry is kept up to this size; beyond it, it is dropped.
    static constexpr qsizetype kMaximumBufferSize = 4 * 1024 * 1024;

    // Starts the tool with the arguments. Without waiting, it is read on a thread of the
    // stream's own until it exits or the stream is terminated; with waiting, on the
    // calling thread until the tool exits. Nothing when the tool cannot be started.
    static std::shared_ptr<ILRJSONLogStream> initWithArguments(const platform::LogTool& tool, const QStringList& arguments,
                                                               OutputHandler outputHandler, bool waitUntilExit);
    // A waiting stream, terminated afterwards. False when the tool could not be started.
    static bool waitForStreamWithArguments(const platform::LogTool& tool, const QStringList& arguments, OutputHandler outputHandler);

    // A stream that runs nothing: the reading step alone, fed by `readData` (tests).
    ILRJSONLogStream(platform::LogToolFraming framing, OutputHandler outputHandler);
    ~ILRJSONLogStream();
    ILRJSONLogStream(const ILRJSONLogStream&) = delete;
    ILRJSONLogStream& operator=(const ILRJSONLogStream&) = delete;

    // Ends the tool when it still runs; no batch is handed on afterwards. Never waits, so
    // it may be called while holding a lock that the output handler takes.
    void terminate();

    // The reading step: appends the output and hands on the complete entries it now holds.
    // Answers what the handler answered (true when it was not called).
    bool readData(const QByteArray& data);
    // What is buffered and not yet handed on (tests).
    qsizetype bufferedSize() const;

    struct State;

private:
    std::shared_ptr<State> m_state;
};

// Every stream thread still running is told to end and waited for (a few seconds at
// most); called as the application quits.
void ILRTerminateAllLogStreams();
