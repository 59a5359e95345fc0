#include "services/log_reader/ILRJSONLogStream.h"

#include "foundation/PMLog.h"
#include "platform/JSONSerialization.h"

#include <QtCore/QProcess>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>

struct ILRJSONLogStream::State {
    platform::LogToolFraming framing = platform::LogToolFraming::Array;
    OutputHandler _outputHandler;
    // Output received and not yet handed on. Touched only by the reading thread.
    QByteArray _dataStore;
    // The tool's text in front of the JSON array has not been cut away yet.
    bool _removeHeader = true;
    // After an overlong line was dropped, the rest of it up to the next newline is dropped too.
    bool discardingLine = false;
    bool loggedMalformedEntry = false;
    bool loggedOverflow = false;
    std::atomic<bool> terminated{false};
};

namespace {

// Running stream threads, so that the application can end them as it quits.
std::mutex g_threadsMutex;
std::condition_variable g_threadsDone;
int g_runningThreads = 0;
std::vector<std::weak_ptr<ILRJSONLogStream::State>> g_runningStates;

QString excerpt(const QByteArray& bytes)
{
    QString text = QString::fromUtf8(bytes.left(160)).simplified();
    if (bytes.size() > 160)
        text += QChar(0x2026);
    return text;
}

void noteMalformed(ILRJSONLogStream::State& s, const QByteArray& bytes)
{
    if (s.loggedMalformedEntry)
        return;
    s.loggedMalformedEntry = true;
    PMLog("[ILR] skipping malformed log entry: <%@>", excerpt(bytes));
}

void noteOverflow(ILRJSONLogStream::State& s)
{
    if (s.loggedOverflow)
        return;
    s.loggedOverflow = true;
    PMLog("[ILR] dropping %ld bytes of log output without a complete entry", long(s._dataStore.size()));
}

platform::DictionaryPtr parseObject(const QByteArray& bytes)
{
    QString error;
    const platform::Value v = platform::readJSON(QString::fromUtf8(bytes), &error);
    return v.dictionary();
}

bool deliver(ILRJSONLogStream::State& s, const ILRJSONLogStream::Entries& entries)
{
    if (entries.empty() || s.terminated.load())
        return true;
    const bool goOn = s._outputHandler ? s._outputHandler(entries) : true;
    if (!goOn)
        s.terminated = true;
    return goOn;
}

// The tool writes one JSON array whose top-level objects each end with a line that is only
// "}" (inner objects are indented), so "\n}" ends a complete top-level entry.
bool readArrayFraming(ILRJSONLogStream::State& s)
{
    QByteArray& data = s._dataStore;
    qsizetype end = data.lastIndexOf("\n}");
    if (end < 0) {
        if (data.size() > ILRJSONLogStream::kMaximumBufferSize) {
            noteOverflow(s);
            data.clear();
        }
        return true;
    }
    if (s._removeHeader) {
        const qsizetype h = QByteArrayView(data).first(end).indexOf("\n[{");
        if (h >= 0) {
            data.remove(0, h);
            end -= h;
        }
        s._removeHeader = false;
    }
    const qsizetype start = QByteArrayView(data).first(end).indexOf('{');
    if (start < 0) {
        // A closing line with no entry in front of it: nothing to hand on, and nothing
        // that later output could complete.
        noteMalformed(s, data.first(end + 2));
        data.remove(0, end + 2);
        return true;
    }
    const QByteArray whole = data.mid(start, end + 2 - start);
    ILRJSONLogStream::Entries entries;
    QString error;
    const platform::Value parsed = platform::readJSON(QString::fromUtf8("[" + whole + "]"), &error);
    if (const platform::ArrayPtr array = parsed.array()) {
        entries.reserve(size_t(array->count()));
        for (const platform::Value& v : *array) {
            if (platform::DictionaryPtr d = v.dictionary())
                entries.push_back(std::move(d));
        }
    } else {
        // One bad entry must not hold back the good ones around it: take them one by one,
        // each from its first "{" to its closing line, and skip those that do not parse.
        qsizetype from = 0;
        while (from < whole.size()) {
            qsizetype close = whole.indexOf("\n}", from);
            if (close < 0)
                break;
            const qsizetype open = QByteArrayView(whole).sliced(from, close - from).indexOf('{');
            if (open >= 0) {
                const QByteArray one = whole.mid(from + open, close + 2 - (from + open));
                if (platform::DictionaryPtr d = parseObject(one))
                    entries.push_back(std::move(d));
                else
                    noteMalformed(s, one);
            }
            from = close + 2;
        }
    }
    data.remove(0, end + 2);
    return deliver(s, entries);
}

// One journal record a line.
bool readLineFraming(ILRJSONLogStream::State& s)
{
    QByteArray& data = s._dataStore;
    if (s.discardingLine) {
        const qsizetype nl = data.indexOf('\n');
        if (nl < 0) {
            data.clear();
            return true;
        }
        data.remove(0, nl + 1);
        s.discardingLine = false;
    }
    const qsizetype last = data.lastIndexOf('\n');
    if (last < 0) {
        if (data.size() > ILRJSONLogStream::kMaximumBufferSize) {
            noteOverflow(s);
            data.clear();
            s.discardingLine = true;
        }
        return true;
    }
    ILRJSONLogStream::Entries entries;
    qsizetype from = 0;
    while (from <= last) {
        const qsizetype nl = data.indexOf('\n', from);
        const QByteArray line = data.mid(from, nl - from).trimmed();
        from = nl + 1;
        if (line.isEmpty())
            continue;
        const platform::DictionaryPtr record = parseObject(line);
        if (!record) {
            noteMalformed(s, line);
            continue;
        }
        if (platform::DictionaryPtr entry = platform::logEntryFromJournalRecord(record))
            entries.push_back(std::move(entry));
    }
    data.remove(0, last + 1);
    return deliver(s, entries);
}

bool readStep(ILRJSONLogStream::State& s, const QByteArray& bytes)
{
    if (s.terminated.load())
        return false;
    s._dataStore.append(bytes);
    return s.framing == platform::LogToolFraming::Lines ? readLineFraming(s) : readArrayFraming(s);
}

// Runs the tool and reads it until it exits, the handler says stop or the stream is
// terminated. `started` learns whether the tool could be started.
void runTool(const std::shared_ptr<ILRJSONLogStream::State>& s, const QString& program, const QStringList& arguments,
             std::promise<bool>* started)
{
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start(QIODevice::ReadOnly);
    const bool ok = process.waitForStarted(10000);
    started->set_value(ok);
    if (!ok)
        return;
    while (!s->terminated.load()) {
        if (process.bytesAvailable() == 0 && process.state() == QProcess::Running)
            process.waitForReadyRead(100);
        const QByteArray bytes = process.readAllStandardOutput();
        if (!bytes.isEmpty()) {
            if (!readStep(*s, bytes))
                break;
            continue;
        }
        if (process.state() != QProcess::Running) {
            // Whatever the tool wrote before it exited is still read.
            const QByteArray rest = process.readAllStandardOutput();
            if (!rest.isEmpty())
                readStep(*s, rest);
            break;
        }
    }
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(2000);
    }
}

} // namespace

ILRJSONLogStream::ILRJSONLogStream(platform::LogToolFraming framing, OutputHandler outputHandler)
    : m_state(std::make_shared<State>())
{
    m_state->framing = framing;
    m_state->_outputHandler = std::move(outputHandler);
}

ILRJSONLogStream::~ILRJSONLogStream()
{
    terminate();
}

std::shared_ptr<ILRJSONLogStream> ILRJSONLogStream::initWithArguments(const platform::LogTool& tool, const QStringList& arguments,
                                                                      OutputHandler outputHandler, bool waitUntilExit)
{
    if (tool.program.isEmpty())
        return nullptr;
    auto stream = std::make_shared<ILRJSONLogStream>(tool.framing, std::move(outputHandler));
    const std::shared_ptr<State> state = stream->m_state;
    if (waitUntilExit) {
        std::promise<bool> started;
        std::future<bool> result = started.get_future();
        runTool(state, tool.program, arguments, &started);
        return result.get() ? stream : nullptr;
    }
    auto started = std::make_shared<std::promise<bool>>();
    std::future<bool> result = started->get_future();
    {
        std::lock_guard lock(g_threadsMutex);
        ++g_runningThreads;
        std::erase_if(g_runningStates, [](const auto& weak) { return weak.expired(); });
        g_runningStates.push_back(state);
    }
    std::thread([state, program = tool.program, arguments, started] {
        runTool(state, program, arguments, started.get());
        std::lock_guard lock(g_threadsMutex);
        --g_runningThreads;
        g_threadsDone.notify_all();
    }).detach();
    return result.get() ? stream : nullptr;
}

bool ILRJSONLogStream::waitForStreamWithArguments(const platform::LogTool& tool, const QStringList& arguments, OutputHandler outputHandler)
{
    std::shared_ptr<ILRJSONLogStream> stream = initWithArguments(tool, arguments, std::move(outputHandler), true);
    if (!stream)
        return false;
    stream->terminate();
    return true;
}

void ILRJSONLogStream::terminate()
{
    m_state->terminated = true;
}

bool ILRJSONLogStream::readData(const QByteArray& data)
{
    return readStep(*m_state, data);
}

qsizetype ILRJSONLogStream::bufferedSize() const
{
    return m_state->_dataStore.size();
}

void ILRTerminateAllLogStreams()
{
    std::unique_lock lock(g_threadsMutex);
    for (const auto& weak : g_runningStates) {
        if (auto s = weak.lock())
            s->terminated = true;
    }
    g_runningStates.clear();
    g_threadsDone.wait_for(lock, std::chrono::seconds(3), [] { return g_runningThreads == 0; });
}
