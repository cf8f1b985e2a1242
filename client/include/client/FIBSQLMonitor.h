// Trace hook: reports what the database layer does to an external monitor
// program through named shared objects. Without a registered monitor a trace
// operation only reads the monitor count.
//
// The channel: a 2048-byte shared block (TraceBlock), a mutex with recursive
// ownership and four manual-reset events, all named (see the *ObjectName
// constants). A monitor program registers by raising MonitorCount; the hook
// traces only while that count is above 0. Each traced event becomes one
// message, which a writer thread copies into the block in chunks of at most
// 2002 bytes, with a handshake with the monitors' readers for every chunk:
//
//   writer (holds the mutex for the whole message, once more per chunk)
//     1. wait for ReadEvent (all registered monitors are ready), in steps of
//        1000 ms; after each step that times out, count one monitor out
//        (MonitorCount - 1) and give up waiting once the readers that are
//        ready are as many as the monitors left, or none is left;
//     2. reset WriteFinishedEvent and ReadFinishedEvent, set WriteEvent;
//     3. wait for ReadFinishedEvent in steps of 1000 ms; after each step that
//        times out, count one reader out (ReaderCount - 1) and give up
//        waiting when none is left;
//     4. reset WriteEvent, set WriteFinishedEvent.
//
// The reader side that matches it is implemented by the fbtracemon tool.
//
// The block is written by other processes, so nothing in it may steer the
// process that traces: the thread that calls the trace operations never
// waits for the writer thread; every wait of the writer is cut into short
// slices that look at StopRequested; process exit waits for the writer only
// briefly and then leaves it behind; counts outside 0..TraceMaxCount are
// taken as a corrupt block and turn tracing off for good. The objects are
// private to the account (see platform/NamedObjects.h), so only processes
// of the same account can write the block at all.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "rtl/Rtl.h"

namespace platform {
class SharedMemoryBlock;
class NamedMutex;
class NamedEvent;
} // namespace platform

namespace fib {

enum TraceCategory : uint8_t {
    tcPrepare = 0,
    tcExecute = 1,
    tcFetch = 2,
    tcConnect = 3,
    tcTransaction = 4,
    tcService = 5,
};

// The English name of a category ("Prepare", ..., "Service"); "Unknown"
// outside the range.
const char* TraceCategoryName(int32_t category);

// ---------------------------------------------------------------------------
// The shared block

inline constexpr size_t TraceBlockSize = 2048;
inline constexpr size_t TraceChunkSize = 2002;

// Layout of the shared block. Integers are 32-bit signed in the machine's
// (little-endian) order; TimeStamp is an IEEE 754 double stored bytewise
// because its offset is not 8-aligned. Every 32-bit field is 4-aligned, so
// the counts can be changed with atomic operations (see SharedLoad etc.).
struct TraceBlock {
    char TextChunk[TraceChunkSize]; // current chunk, no terminating zero
    uint8_t Reserved;               // never written
    uint8_t ChunkFlag;              // 1 with every chunk written
    unsigned char TimeStamp[8];     // double: days since 1899-12-30, local time
    int32_t TransactionFlag;        // > 0: the monitor wants transaction events
    int32_t ConnectFlag;            // > 0: ... connect and disconnect events
    int32_t FetchFlag;              // > 0: ... fetch events
    int32_t ExecuteFlag;            // > 0: ... execute events
    int32_t PrepareFlag;            // > 0: ... prepare events
    int32_t ChunkLength;            // valid bytes in TextChunk, 1..2002
    int32_t Category;               // TraceCategory of the chunk's message
    int32_t ReaderCount;            // readers taking part in the current cycle
    int32_t MonitorCount;           // monitor programs registered
};
static_assert(sizeof(TraceBlock) == TraceBlockSize);

// The most monitors (and readers) a sound block counts; a count above it, or
// below 0, is a corrupt block.
inline constexpr int32_t TraceMaxCount = 64;

double TraceBlockTimeStamp(const TraceBlock& block);
void SetTraceBlockTimeStamp(TraceBlock& block, double value);

// Access to the 32-bit fields that other processes change concurrently.
int32_t SharedLoad(const int32_t& field);
void SharedStore(int32_t& field, int32_t value);
// Adds atomically and returns the new value.
int32_t SharedAdd(int32_t& field, int32_t delta);
// Lowers the field by one if it is above 0, atomically; returns the value it
// has afterwards.
int32_t SharedDecrementIfPositive(int32_t& field);

// ---------------------------------------------------------------------------
// Object names

inline constexpr const char* MutexObjectName = "FIB.SQL.MONITOR.Mutex";
inline constexpr const char* SharedMemObjectName = "FIB.SQL.MONITOR.SharedMem";
inline constexpr const char* WriteEventObjectName = "FIB.SQL.MONITOR.WriteEvent";
inline constexpr const char* WriteFinishedEventObjectName = "FIB.SQL.MONITOR.WriteFinishedEvent";
inline constexpr const char* ReadEventObjectName = "FIB.SQL.MONITOR.ReadEvent";
inline constexpr const char* ReadFinishedEventObjectName = "FIB.SQL.MONITOR.ReadFinishedEvent";

// The text put before every object name by the process's hook: the value of
// the environment variable SLV_TRACE_PREFIX, empty when it is not set.
// Tests use a prefix of their own so they never meet a user's monitor.
std::string TraceObjectPrefix();

// ---------------------------------------------------------------------------
// The channel: the six named objects, created or opened together.

class TTraceChannel {
public:
    // Creates the shared block, or opens it when it already exists. A block
    // this process creates starts with zero counts, chunk length and flags;
    // an existing one is left as it is, except that negative counts are
    // raised to 0. The mutex and the four events are opened, or created
    // (not owned; WriteFinishedEvent set, the others not) where missing.
    // Raises EFIBClientError ceCannotCreateSharedResource with the system's
    // error code (errno) when an object cannot be created, opened or mapped
    // (EEXIST, EACCES, ELOOP: a name is taken by an object that is not this
    // account's own), and with EPROTO when a count is above TraceMaxCount.
    explicit TTraceChannel(const std::string& namePrefix);
    // Unmaps the block, then closes WriteEvent, WriteFinishedEvent,
    // ReadEvent, ReadFinishedEvent and the mutex.
    ~TTraceChannel();
    TTraceChannel(const TTraceChannel&) = delete;
    TTraceChannel& operator=(const TTraceChannel&) = delete;

    // True when this process created the block.
    bool Created() const noexcept { return FCreated; }
    const std::string& NamePrefix() const noexcept { return FPrefix; }

    TraceBlock& Block() const noexcept { return *FBlock; }
    int32_t MonitorCount() const { return SharedLoad(FBlock->MonitorCount); }
    // False once either count was seen outside 0..TraceMaxCount; it stays
    // false for the channel's lifetime, so a count flipped back and forth
    // cannot turn it on again.
    bool CountsSane() const;
    // CountsSane() for a MonitorCount already read.
    bool MonitorCountSane(int32_t monitors) const;

    platform::NamedMutex& Mutex() const noexcept { return *FMutex; }
    platform::NamedEvent& WriteEvent() const noexcept { return *FWriteEvent; }
    platform::NamedEvent& WriteFinishedEvent() const noexcept { return *FWriteFinishedEvent; }
    platform::NamedEvent& ReadEvent() const noexcept { return *FReadEvent; }
    platform::NamedEvent& ReadFinishedEvent() const noexcept { return *FReadFinishedEvent; }

    // Removes the six names from the system (processes that have the objects
    // open keep them). Used by tests and by "fbtracemon --remove".
    static void RemoveObjects(const std::string& namePrefix);

private:
    std::string FPrefix;
    bool FCreated = false;
    mutable std::atomic<bool> FCorrupt{false};
    std::unique_ptr<platform::SharedMemoryBlock> FMapping;
    TraceBlock* FBlock = nullptr;
    std::unique_ptr<platform::NamedMutex> FMutex;
    std::unique_ptr<platform::NamedEvent> FWriteEvent;
    std::unique_ptr<platform::NamedEvent> FWriteFinishedEvent;
    std::unique_ptr<platform::NamedEvent> FReadEvent;
    std::unique_ptr<platform::NamedEvent> FReadFinishedEvent;
};

// ---------------------------------------------------------------------------
// Message texts

// Every byte below 32 other than tab, line feed and carriage return becomes
// "#$" and two upper-case hex digits; every other byte is copied.
std::string EscapeTraceText(const std::string& text);
// Consecutive pieces of TraceChunkSize bytes, the last one shorter.
std::vector<std::string> SplitTraceChunks(const std::string& text);
// Local time as days since 1899-12-30 with the time of day as the fraction.
double TraceTimeStampNow();
// The file name of the running executable, without its folder.
std::string ApplicationFileName();

// ---------------------------------------------------------------------------
// Queue and writer

// One queued message.
class TFIBTraceObject {
public:
    TFIBTraceObject(TraceCategory category, std::string text, double timeStamp)
        : Category(category), Text(std::move(text)), TimeStamp(timeStamp) {}
    TraceCategory Category;
    std::string Text;
    double TimeStamp;
};

// Copies queued messages into the shared block, one after the other, with
// the handshake described at the top of this file. The thread keeps the
// writer object and the channel alive while it runs, so its owner may leave
// it behind (Finish) without waiting for it.
class TMonitorWriterThread : public std::enable_shared_from_this<TMonitorWriterThread> {
public:
    explicit TMonitorWriterThread(std::shared_ptr<TTraceChannel> channel);
    // Never waits: the owner ends the thread first (Finish).
    ~TMonitorWriterThread();
    TMonitorWriterThread(const TMonitorWriterThread&) = delete;
    TMonitorWriterThread& operator=(const TMonitorWriterThread&) = delete;

    void Start();
    // Appends a message, stamped with the current local time. Called on the
    // thread that traces. False (the message is dropped) once MaxQueued
    // messages wait.
    bool Enqueue(const std::string& text, TraceCategory category);
    // Asks the thread to stop; it ends once its queue is empty, or after the
    // message it is writing when StopRequested is set as well.
    void Terminate();
    // StopRequested and Terminate: the thread drops its queue and ends within
    // one wait slice, leaving a handshake it is in.
    void RequestStop();
    // RequestStop, then waits at most `limit` for the thread to end. True
    // when it ended (and was joined); otherwise the thread is left to end on
    // its own. Called once, by the owner.
    bool Finish(std::chrono::milliseconds limit);
    // True once the thread has ended (or never started).
    bool Ended() const;
    // True once Terminate or RequestStop was called.
    bool Stopping() const noexcept { return FTerminated.load(); }

    size_t QueueCount() const;

    std::atomic<bool> StopRequested{false};

    // Messages waiting beyond this are dropped: a writer held up by the
    // channel must not let the tracing thread fill the memory.
    static constexpr size_t MaxQueued = 1000;

private:
    void Execute();
    void WriteMessage(const TFIBTraceObject& message);
    // True once the thread should give up what it is doing: a stop request
    // or a corrupt block.
    bool Abandoned() const;
    // The handshake after a chunk; false when it was given up (Abandoned).
    bool EndWrite();
    // Waits for the event; after every HandshakeStep without it, runs onStep
    // (which may set it). False when it was given up (Abandoned).
    bool HandshakeWait(platform::NamedEvent& event, void (TMonitorWriterThread::*onStep)());
    void CountMonitorOut();
    void CountReaderOut();
    void Pause();

    std::shared_ptr<TTraceChannel> FChannel;
    mutable std::mutex FQueueLock;
    std::deque<std::unique_ptr<TFIBTraceObject>> FQueue;
    mutable std::mutex FStateLock;
    std::condition_variable FStateChanged;
    std::atomic<bool> FTerminated{false};
    bool FEnded = true;
    std::thread FThread;
};

// ---------------------------------------------------------------------------
// The hook

class TFIBSQLMonitorHook {
public:
    // The process's hook uses the names with TraceObjectPrefix() before them;
    // a hook of its own (tests) may be given another prefix. Construction
    // opens the shared objects; when that fails, tracing is off for good.
    TFIBSQLMonitorHook();
    explicit TFIBSQLMonitorHook(std::string objectPrefix);
    virtual ~TFIBSQLMonitorHook();
    TFIBSQLMonitorHook(const TFIBSQLMonitorHook&) = delete;
    TFIBSQLMonitorHook& operator=(const TFIBSQLMonitorHook&) = delete;

    // Data-access events. The data the components would supply is passed as
    // plain values. None of these raises.
    virtual void TracePrepare(const rtl::TComponent* query, const std::string& sql,
                              const std::optional<std::string>& plan);
    virtual void TraceExecute(const rtl::TComponent* query, const std::string& sql,
                              const std::vector<std::pair<std::string, std::string>>& params,
                              std::optional<int64_t> rowsAffected, const std::string& extraText,
                              uint64_t tickCount);
    virtual void TraceFetch(const rtl::TComponent* query, const std::string& sql,
                            const std::vector<std::pair<std::string, std::string>>& fields,
                            bool endOfFile);
    virtual void TraceConnect(const rtl::TComponent* database);
    virtual void TraceDisconnect(const rtl::TComponent* database);
    virtual void TraceStartTransaction(const rtl::TComponent* transaction, bool hasDatabase,
                                       int64_t number);
    virtual void TraceCommit(const rtl::TComponent* transaction, bool hasDatabase, int64_t number);
    // kind: 0 set, 1 roll back to, 2 release.
    virtual void TraceSavepoint(const rtl::TComponent* transaction, bool hasDatabase,
                                int64_t number, const std::string& savepointName, int kind);
    virtual void TraceCommitRetaining(const rtl::TComponent* transaction, bool hasDatabase,
                                      int64_t number);
    virtual void TraceRollback(const rtl::TComponent* transaction, bool hasDatabase,
                               int64_t number);
    virtual void TraceRollbackRetaining(const rtl::TComponent* transaction, bool hasDatabase,
                                        int64_t number);

    // Service events: only the component's own name (possibly empty) is used.
    virtual void TraceServiceAttach(const rtl::TComponent* service);
    virtual void TraceServiceDetach(const rtl::TComponent* service);
    virtual void TraceServiceQuery(const rtl::TComponent* service);
    virtual void TraceServiceStart(const rtl::TComponent* service);

    // Queues one message (the text behind the application line) for the
    // writer thread, starting it when none runs. Never raises.
    void WriteTrace(const std::string& text, TraceCategory category);
    // MonitorCount of the block, 0 when it is not mapped or not sane.
    int32_t MonitorCount() const;
    // Turning tracing off also asks a running writer thread to stop (without
    // waiting for it).
    void SetActive(bool value);

    bool TracingActive() const noexcept { return FTracingActive.load(); }
    bool SharedObjectsReady() const noexcept { return FSharedObjectsReady.load(); }
    // True while a writer thread exists that has not ended.
    bool WriterRunning();
    // Asks a running writer to stop: StopRequested, its queue discarded.
    // Does not wait for it.
    void StopWriter();
    // Stops the writer and waits at most `limit` for it to end; a writer that
    // does not end in time is left behind. Used at exit and by the
    // destructor.
    void EndWriter(std::chrono::milliseconds limit);
    // The open channel, null when the objects are not open.
    TTraceChannel* Channel() const noexcept;

    // How long process exit (and the hook's destructor) waits for the writer.
    static constexpr std::chrono::milliseconds ExitWaitLimit{100};

protected:
    // Creates or opens the six named objects; raises EFIBClientError
    // ceCannotCreateSharedResource on failure.
    void OpenSharedObjects();

private:
    // TracingActive with a monitor registered; a corrupt count turns
    // tracing off.
    bool Tracing();
    int32_t Flag(int32_t TraceBlock::*field) const;
    // The component's name and the text as one message; a message that
    // cannot be made or queued is dropped, so tracing never disturbs the
    // traced work.
    void TraceEvent(const rtl::TComponent* component, std::string_view text,
                    TraceCategory category);
    void TraceConnection(const rtl::TComponent* database, const char* label);
    bool TransactionTraced(bool hasDatabase);
    // A transaction event with its number: label + "(" + number + ")".
    void TraceNumbered(const rtl::TComponent* transaction, bool hasDatabase, const char* label,
                       int64_t number);
    void TraceService(const rtl::TComponent* service, const char* label);
    // Forgets a writer whose thread has ended. Needs FWriterLock.
    void ReapWriter();

    std::string FObjectPrefix;
    std::atomic<bool> FTracingActive{true};
    std::atomic<bool> FSharedObjectsReady{false};
    std::mutex FOpenLock;
    std::shared_ptr<TTraceChannel> FChannel;
    std::mutex FWriterLock;
    std::shared_ptr<TMonitorWriterThread> FWriter;
};

// The process's hook, created on first use; null once process exit began.
TFIBSQLMonitorHook* MonitorHook();

// True once process exit has begun (then MonitorHook() creates nothing).
bool MonitorHookFinalizing();

// The process-exit order, run by a static object's destructor at exit:
// Finalizing, stop the writer and wait for it at most ExitWaitLimit (then
// leave it behind), discard the queue, destroy the hook (closing the shared
// objects the writer does not hold any more). Safe to call more than once.
void FinalizeMonitorHook();

} // namespace fib
