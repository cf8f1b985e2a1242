#include "client/FIBSQLMonitor.h"

#include <unistd.h>

#include <bit>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>

#include "client/fib.h"
#include "platform/NamedObjects.h"
#include "platform/Processes.h"

namespace fib {

static_assert(offsetof(TraceBlock, TextChunk) == 0);
static_assert(offsetof(TraceBlock, Reserved) == 2002);
static_assert(offsetof(TraceBlock, ChunkFlag) == 2003);
static_assert(offsetof(TraceBlock, TimeStamp) == 2004);
static_assert(offsetof(TraceBlock, TransactionFlag) == 2012);
static_assert(offsetof(TraceBlock, ConnectFlag) == 2016);
static_assert(offsetof(TraceBlock, FetchFlag) == 2020);
static_assert(offsetof(TraceBlock, ExecuteFlag) == 2024);
static_assert(offsetof(TraceBlock, PrepareFlag) == 2028);
static_assert(offsetof(TraceBlock, ChunkLength) == 2032);
static_assert(offsetof(TraceBlock, Category) == 2036);
static_assert(offsetof(TraceBlock, ReaderCount) == 2040);
static_assert(offsetof(TraceBlock, MonitorCount) == 2044);
// The block is shared with monitor programs that read it as little-endian.
static_assert(std::endian::native == std::endian::little);

namespace {

using Clock = std::chrono::steady_clock;

// The writer counts one monitor (or reader) out for every step it waits.
constexpr auto HandshakeStep = std::chrono::milliseconds(1000);
// The longest single wait of the writer: it looks at StopRequested and at
// the counts between slices, so a stop request ends any wait at once.
constexpr int WaitSliceMs = 20;
constexpr auto IdlePoll = std::chrono::milliseconds(50);
constexpr const char* CRLF = "\r\n";

} // namespace

const char* TraceCategoryName(int32_t category) {
    switch (category) {
    case tcPrepare:
        return "Prepare";
    case tcExecute:
        return "Execute";
    case tcFetch:
        return "Fetch";
    case tcConnect:
        return "Connect";
    case tcTransaction:
        return "Transaction";
    case tcService:
        return "Service";
    default:
        return "Unknown";
    }
}

// ---------------------------------------------------------------------------
// Shared fields

double TraceBlockTimeStamp(const TraceBlock& block) {
    double value;
    std::memcpy(&value, block.TimeStamp, sizeof value);
    return value;
}

void SetTraceBlockTimeStamp(TraceBlock& block, double value) {
    std::memcpy(block.TimeStamp, &value, sizeof value);
}

int32_t SharedLoad(const int32_t& field) {
    return std::atomic_ref<int32_t>(const_cast<int32_t&>(field)).load();
}

void SharedStore(int32_t& field, int32_t value) {
    std::atomic_ref<int32_t>(field).store(value);
}

int32_t SharedAdd(int32_t& field, int32_t delta) {
    return std::atomic_ref<int32_t>(field).fetch_add(delta) + delta;
}

int32_t SharedDecrementIfPositive(int32_t& field) {
    std::atomic_ref<int32_t> ref(field);
    int32_t value = ref.load();
    while (value > 0 && !ref.compare_exchange_weak(value, value - 1)) {
    }
    return value > 0 ? value - 1 : value;
}

namespace {

// Raises a negative count to 0, leaving any other value alone.
void RaiseNegativeToZero(int32_t& field) {
    std::atomic_ref<int32_t> ref(field);
    int32_t value = ref.load();
    while (value < 0 && !ref.compare_exchange_weak(value, 0)) {
    }
}

} // namespace

std::string TraceObjectPrefix() {
    const char* prefix = std::getenv("SLV_TRACE_PREFIX");
    return prefix != nullptr ? std::string(prefix) : std::string();
}

// ---------------------------------------------------------------------------
// TTraceChannel

TTraceChannel::TTraceChannel(const std::string& namePrefix) : FPrefix(namePrefix) {
    using platform::NamedEvent;
    using platform::NamedMutex;
    try {
        bool existed = false;
        FMapping = platform::SharedMemoryBlock::Create(FPrefix + SharedMemObjectName,
                                                       TraceBlockSize, &existed);
        FBlock = static_cast<TraceBlock*>(FMapping->Data());
        FCreated = !existed;
        // A block this process created starts with its counts, chunk length
        // and flags at zero: the system zero-fills a new shared memory
        // object when it is sized. Writing the zeros again here would open a
        // window in which a monitor that has just opened the block and
        // registered is wiped out.
        // Created, or opened when another process made them. On Windows the
        // objects vanish with the last process that has them; here they
        // outlive it, so one that is missing (a process died half-way through
        // creating the set) is created again instead of failing for good.
        FMutex = NamedMutex::Create(FPrefix + MutexObjectName);
        FWriteEvent = NamedEvent::Create(FPrefix + WriteEventObjectName, false);
        FWriteFinishedEvent = NamedEvent::Create(FPrefix + WriteFinishedEventObjectName, true);
        FReadEvent = NamedEvent::Create(FPrefix + ReadEventObjectName, false);
        FReadFinishedEvent = NamedEvent::Create(FPrefix + ReadFinishedEventObjectName, false);
        RaiseNegativeToZero(FBlock->MonitorCount);
        RaiseNegativeToZero(FBlock->ReaderCount);
    } catch (const platform::NamedObjectError& e) {
        RaiseClientError(ceCannotCreateSharedResource, {static_cast<long long>(e.Code())});
    } catch (const std::bad_alloc&) {
        RaiseClientError(ceCannotCreateSharedResource, {static_cast<long long>(ENOMEM)});
    }
    if (!CountsSane()) {
        RaiseClientError(ceCannotCreateSharedResource, {static_cast<long long>(EPROTO)});
    }
}

namespace {

bool CountInRange(int32_t count) {
    return count >= 0 && count <= TraceMaxCount;
}

} // namespace

bool TTraceChannel::CountsSane() const {
    if (!CountInRange(SharedLoad(FBlock->MonitorCount)) ||
        !CountInRange(SharedLoad(FBlock->ReaderCount))) {
        FCorrupt.store(true);
    }
    return !FCorrupt.load();
}

bool TTraceChannel::MonitorCountSane(int32_t monitors) const {
    // Without a monitor the reader count does not matter yet, and a trace
    // operation then costs this one read of the block.
    if (monitors == 0) {
        return !FCorrupt.load();
    }
    if (!CountInRange(monitors)) {
        FCorrupt.store(true);
    }
    return CountsSane();
}

TTraceChannel::~TTraceChannel() {
    FBlock = nullptr;
    FMapping.reset();
    FWriteEvent.reset();
    FWriteFinishedEvent.reset();
    FReadEvent.reset();
    FReadFinishedEvent.reset();
    FMutex.reset();
}

void TTraceChannel::RemoveObjects(const std::string& namePrefix) {
    for (const char* name :
         {MutexObjectName, SharedMemObjectName, WriteEventObjectName, WriteFinishedEventObjectName,
          ReadEventObjectName, ReadFinishedEventObjectName}) {
        // False only when no object had the name: nothing left to remove.
        static_cast<void>(platform::RemoveNamedObject(namePrefix + name));
    }
}

// ---------------------------------------------------------------------------
// Texts

std::string EscapeTraceText(const std::string& text) {
    static const char Hex[] = "0123456789ABCDEF";
    std::string result;
    result.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 32 && byte != 9 && byte != 10 && byte != 13) {
            result += "#$";
            result += Hex[byte >> 4];
            result += Hex[byte & 0x0F];
        } else {
            result += c;
        }
    }
    return result;
}

std::vector<std::string> SplitTraceChunks(const std::string& text) {
    std::vector<std::string> chunks;
    for (size_t pos = 0; pos < text.size(); pos += TraceChunkSize) {
        chunks.push_back(text.substr(pos, TraceChunkSize));
    }
    return chunks;
}

double TraceTimeStampNow() {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const time_t seconds = system_clock::to_time_t(now);
    tm local{};
    localtime_r(&seconds, &local);
    auto millis = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
    if (millis < 0) {
        millis += 1000;
    }
    const sys_days date{year{local.tm_year + 1900} /
                        month{static_cast<unsigned>(local.tm_mon + 1)} /
                        day{static_cast<unsigned>(local.tm_mday)}};
    const sys_days epoch{year{1899} / December / day{30}};
    const double msOfDay = ((local.tm_hour * 60.0 + local.tm_min) * 60.0 + local.tm_sec) * 1000.0 +
                           static_cast<double>(millis);
    return static_cast<double>((date - epoch).count()) + msOfDay / 86400000.0;
}

std::string ApplicationFileName() {
    static const std::string name = rtl::ExtractFileName(platform::ExecutableFile());
    return name;
}

// ---------------------------------------------------------------------------
// Process-wide state

namespace {

struct HookGlobals {
#if defined(_WIN32)
    HookGlobals() noexcept {}
#else
    constexpr HookGlobals() noexcept {}
#endif
    ~HookGlobals() {
        FinalizeMonitorHook();
    }
    HookGlobals(const HookGlobals&) = delete;
    HookGlobals& operator=(const HookGlobals&) = delete;

    std::mutex CreationLock;
    std::atomic<TFIBSQLMonitorHook*> Hook{nullptr};
    std::atomic<bool> Finalizing{false};
};

// Constant-initialised, so it is ready before any other module's
// initialisation runs; its destructor runs the process-exit order. (MinGW's
// mutex cannot be made at compile time; there it is made with this module,
// before main, and nothing traces earlier.)
#if defined(_WIN32)
HookGlobals gHookGlobals;
#else
constinit HookGlobals gHookGlobals;
#endif

} // namespace

TFIBSQLMonitorHook* MonitorHook() {
    TFIBSQLMonitorHook* hook = gHookGlobals.Hook.load(std::memory_order_acquire);
    if (hook != nullptr || gHookGlobals.Finalizing.load()) {
        return hook;
    }
    std::lock_guard<std::mutex> lock(gHookGlobals.CreationLock);
    hook = gHookGlobals.Hook.load();
    if (hook == nullptr && !gHookGlobals.Finalizing.load()) {
        try {
            hook = new TFIBSQLMonitorHook();
        } catch (...) {
            return nullptr;
        }
        gHookGlobals.Hook.store(hook, std::memory_order_release);
    }
    return hook;
}

bool MonitorHookFinalizing() {
    return gHookGlobals.Finalizing.load();
}

void FinalizeMonitorHook() {
    gHookGlobals.Finalizing.store(true);
    TFIBSQLMonitorHook* hook;
    {
        std::lock_guard<std::mutex> lock(gHookGlobals.CreationLock);
        hook = gHookGlobals.Hook.exchange(nullptr);
    }
    // The destructor waits for the writer at most ExitWaitLimit.
    delete hook;
}

// ---------------------------------------------------------------------------
// TMonitorWriterThread

TMonitorWriterThread::TMonitorWriterThread(std::shared_ptr<TTraceChannel> channel)
    : FChannel(std::move(channel)) {}

TMonitorWriterThread::~TMonitorWriterThread() {
    // The owner has joined the thread (Finish), or left it behind: then the
    // thread holds the last reference and this runs on it as it ends.
    if (FThread.joinable()) {
        if (FThread.get_id() == std::this_thread::get_id()) {
            FThread.detach();
        } else {
            FThread.join();
        }
    }
}

void TMonitorWriterThread::Start() {
    {
        std::lock_guard<std::mutex> lock(FStateLock);
        FEnded = false;
    }
    try {
        FThread = std::thread([self = shared_from_this()] {
            self->Execute();
            {
                std::lock_guard<std::mutex> lock(self->FStateLock);
                self->FEnded = true;
            }
            self->FStateChanged.notify_all();
        });
    } catch (...) {
        std::lock_guard<std::mutex> lock(FStateLock);
        FEnded = true;
        throw;
    }
}

bool TMonitorWriterThread::Enqueue(const std::string& text, TraceCategory category) {
    auto message = std::make_unique<TFIBTraceObject>(category, text, TraceTimeStampNow());
    std::lock_guard<std::mutex> lock(FQueueLock);
    if (FQueue.size() >= MaxQueued) {
        return false;
    }
    FQueue.push_back(std::move(message));
    return true;
}

void TMonitorWriterThread::Terminate() {
    {
        std::lock_guard<std::mutex> lock(FStateLock);
        FTerminated.store(true);
    }
    FStateChanged.notify_all();
}

void TMonitorWriterThread::RequestStop() {
    StopRequested.store(true);
    Terminate();
}

bool TMonitorWriterThread::Finish(std::chrono::milliseconds limit) {
    RequestStop();
    std::unique_lock<std::mutex> lock(FStateLock);
    const bool ended = FStateChanged.wait_for(lock, limit, [this] { return FEnded; });
    lock.unlock();
    if (FThread.joinable() && FThread.get_id() != std::this_thread::get_id()) {
        if (ended) {
            FThread.join();
        } else {
            // It holds this object and the channel until it sees the stop
            // request; nothing waits for it any more.
            FThread.detach();
        }
    }
    return ended;
}

bool TMonitorWriterThread::Ended() const {
    std::lock_guard<std::mutex> lock(FStateLock);
    return FEnded;
}

size_t TMonitorWriterThread::QueueCount() const {
    std::lock_guard<std::mutex> lock(FQueueLock);
    return FQueue.size();
}

void TMonitorWriterThread::Pause() {
    std::unique_lock<std::mutex> lock(FStateLock);
    FStateChanged.wait_for(lock, IdlePoll,
                           [this] { return FTerminated.load() || StopRequested.load(); });
}

bool TMonitorWriterThread::Abandoned() const {
    return StopRequested.load() || !FChannel->CountsSane();
}

void TMonitorWriterThread::Execute() {
    while (((!FTerminated.load() && !MonitorHookFinalizing()) || QueueCount() > 0) &&
           !Abandoned()) {
        if (FChannel->MonitorCount() <= 0) {
            {
                std::lock_guard<std::mutex> lock(FQueueLock);
                FQueue.clear();
            }
            Pause();
            continue;
        }
        TFIBTraceObject* message = nullptr;
        {
            std::lock_guard<std::mutex> lock(FQueueLock);
            if (!FQueue.empty()) {
                message = FQueue.front().get();
            }
        }
        if (message == nullptr) {
            Pause();
            continue;
        }
        // Only this thread removes messages, so the first one stays put
        // while it is written.
        try {
            WriteMessage(*message);
        } catch (...) {
            // An unusable mutex: the message is dropped like any other that
            // cannot be delivered.
        }
        std::lock_guard<std::mutex> lock(FQueueLock);
        if (!FQueue.empty()) {
            FQueue.pop_front();
        }
    }
    std::lock_guard<std::mutex> lock(FQueueLock);
    FQueue.clear();
}

namespace {

// Gives back one hold of the channel mutex when it goes out of scope.
class TMutexHold {
public:
    explicit TMutexHold(platform::NamedMutex& mutex) : FMutex(mutex) {}
    // The hold is this thread's, so giving it back cannot be refused.
    ~TMutexHold() { static_cast<void>(FMutex.Unlock()); }
    TMutexHold(const TMutexHold&) = delete;
    TMutexHold& operator=(const TMutexHold&) = delete;

private:
    platform::NamedMutex& FMutex;
};

} // namespace

void TMonitorWriterThread::WriteMessage(const TFIBTraceObject& message) {
    // As long as it takes another writer to finish its message, but a stop
    // request or a corrupt block ends the wait (the message is then
    // discarded with the rest of the queue).
    platform::NamedMutex& mutex = FChannel->Mutex();
    platform::NamedMutex::LockResult locked;
    while ((locked = mutex.Lock(WaitSliceMs)) == platform::NamedMutex::LockResult::Timeout) {
        if (Abandoned()) {
            return;
        }
    }
    const TMutexHold hold(mutex);
    if (locked == platform::NamedMutex::LockResult::OwnerDied) {
        // The previous writer ended in the middle of a cycle: put the events
        // back into their state between cycles so the readers take part again.
        FChannel->WriteEvent().Reset();
        FChannel->WriteFinishedEvent().Set();
    }
    if (FChannel->MonitorCount() <= 0) {
        return;
    }
    TraceBlock& block = FChannel->Block();
    for (const std::string& chunk : SplitTraceChunks(EscapeTraceText(message.Text))) {
        // BeginWrite: the thread owns the mutex already; this only adds to
        // the hold count, which EndWrite gives back.
        if (Abandoned() || mutex.Lock(0) == platform::NamedMutex::LockResult::Timeout) {
            return;
        }
        SharedStore(block.Category, message.Category);
        SetTraceBlockTimeStamp(block, message.TimeStamp);
        block.ChunkFlag = 1;
        SharedStore(block.ChunkLength, static_cast<int32_t>(chunk.size()));
        std::memcpy(block.TextChunk, chunk.data(), chunk.size());
        if (!EndWrite()) {
            return;
        }
    }
}

bool TMonitorWriterThread::HandshakeWait(platform::NamedEvent& event,
                                         void (TMonitorWriterThread::*onStep)()) {
    auto stepEnd = Clock::now() + HandshakeStep;
    while (!event.Wait(WaitSliceMs)) {
        if (Abandoned()) {
            return false;
        }
        if (Clock::now() >= stepEnd) {
            (this->*onStep)();
            stepEnd = Clock::now() + HandshakeStep;
        }
    }
    return true;
}

void TMonitorWriterThread::CountMonitorOut() {
    TraceBlock& block = FChannel->Block();
    const int32_t monitors = SharedDecrementIfPositive(block.MonitorCount);
    if (monitors <= 0 || SharedLoad(block.ReaderCount) >= monitors) {
        FChannel->ReadEvent().Set();
    }
}

void TMonitorWriterThread::CountReaderOut() {
    TraceBlock& block = FChannel->Block();
    if (SharedLoad(block.ReaderCount) <= 0 || SharedDecrementIfPositive(block.ReaderCount) <= 0) {
        FChannel->ReadFinishedEvent().Set();
    }
}

bool TMonitorWriterThread::EndWrite() {
    // 1. Wait until every registered monitor is ready to read; each second
    //    without that counts one monitor out.
    bool completed = HandshakeWait(FChannel->ReadEvent(), &TMonitorWriterThread::CountMonitorOut);
    if (completed) {
        // 2. Publish the chunk.
        FChannel->WriteFinishedEvent().Reset();
        FChannel->ReadFinishedEvent().Reset();
        FChannel->WriteEvent().Set();
        // 3. Wait until every reader has read it; each second without that
        //    counts one reader out.
        completed =
            HandshakeWait(FChannel->ReadFinishedEvent(), &TMonitorWriterThread::CountReaderOut);
    }
    // 4. Close the cycle, also one given up: the readers wait for
    //    WriteFinishedEvent before they count themselves in again.
    FChannel->WriteEvent().Reset();
    FChannel->WriteFinishedEvent().Set();
    // 5. Give back the hold that BeginWrite took on this thread (so it
    //    cannot be refused).
    static_cast<void>(FChannel->Mutex().Unlock());
    return completed;
}

// ---------------------------------------------------------------------------
// TFIBSQLMonitorHook

TFIBSQLMonitorHook::TFIBSQLMonitorHook() : TFIBSQLMonitorHook(TraceObjectPrefix()) {}

TFIBSQLMonitorHook::TFIBSQLMonitorHook(std::string objectPrefix)
    : FObjectPrefix(std::move(objectPrefix)) {
    FTracingActive.store(true);
    FSharedObjectsReady.store(false);
    try {
        OpenSharedObjects();
    } catch (...) {
        SetActive(false);
    }
}

TFIBSQLMonitorHook::~TFIBSQLMonitorHook() {
    EndWriter(ExitWaitLimit);
    FSharedObjectsReady.store(false);
    // A writer left behind keeps its own reference to the channel.
    FChannel.reset();
}

void TFIBSQLMonitorHook::OpenSharedObjects() {
    std::lock_guard<std::mutex> lock(FOpenLock);
    if (FSharedObjectsReady.load()) {
        return;
    }
    FChannel = std::make_shared<TTraceChannel>(FObjectPrefix);
    FSharedObjectsReady.store(true, std::memory_order_release);
}

TTraceChannel* TFIBSQLMonitorHook::Channel() const noexcept {
    return FSharedObjectsReady.load(std::memory_order_acquire) ? FChannel.get() : nullptr;
}

int32_t TFIBSQLMonitorHook::MonitorCount() const {
    const TTraceChannel* channel = Channel();
    if (channel == nullptr) {
        return 0;
    }
    const int32_t monitors = channel->MonitorCount();
    return channel->MonitorCountSane(monitors) ? monitors : 0;
}

bool TFIBSQLMonitorHook::Tracing() {
    const TTraceChannel* channel = Channel();
    if (!FTracingActive.load() || channel == nullptr) {
        return false;
    }
    const int32_t monitors = channel->MonitorCount();
    if (!channel->MonitorCountSane(monitors)) {
        SetActive(false);
        return false;
    }
    return monitors > 0;
}

int32_t TFIBSQLMonitorHook::Flag(int32_t TraceBlock::*field) const {
    const TTraceChannel* channel = Channel();
    return channel != nullptr ? SharedLoad(channel->Block().*field) : 0;
}

void TFIBSQLMonitorHook::SetActive(bool value) {
    FTracingActive.store(value);
    if (!value) {
        StopWriter();
    }
}

void TFIBSQLMonitorHook::ReapWriter() {
    if (FWriter != nullptr && FWriter->Ended()) {
        FWriter->Finish(std::chrono::milliseconds(0));
        FWriter.reset();
    }
}

bool TFIBSQLMonitorHook::WriterRunning() {
    std::lock_guard<std::mutex> lock(FWriterLock);
    ReapWriter();
    return FWriter != nullptr;
}

void TFIBSQLMonitorHook::StopWriter() {
    std::lock_guard<std::mutex> lock(FWriterLock);
    if (FWriter != nullptr) {
        FWriter->RequestStop();
    }
}

void TFIBSQLMonitorHook::EndWriter(std::chrono::milliseconds limit) {
    std::shared_ptr<TMonitorWriterThread> writer;
    {
        std::lock_guard<std::mutex> lock(FWriterLock);
        writer = std::move(FWriter);
    }
    if (writer != nullptr) {
        writer->Finish(limit);
    }
}

void TFIBSQLMonitorHook::WriteTrace(const std::string& text, TraceCategory category) {
    try {
        if (!FSharedObjectsReady.load()) {
            try {
                OpenSharedObjects();
            } catch (...) {
                SetActive(false);
                return;
            }
        }
        const bool tracing = Tracing();
        const std::string message =
            std::string(CRLF) + "[Application: " + ApplicationFileName() + "]" + CRLF + text;
        // Nothing here waits for the writer thread: a writer held up by the
        // channel is asked to stop and left to end on its own.
        std::lock_guard<std::mutex> lock(FWriterLock);
        ReapWriter();
        if (!tracing) {
            if (FWriter != nullptr) {
                FWriter->RequestStop();
            }
            return;
        }
        if (FWriter != nullptr && FWriter->Stopping()) {
            // The previous writer is still ending; the message is dropped.
            return;
        }
        if (FWriter == nullptr) {
            auto writer = std::make_shared<TMonitorWriterThread>(FChannel);
            writer->Start();
            FWriter = std::move(writer);
        }
        FWriter->Enqueue(message, category);
    } catch (...) {
        // Tracing never disturbs the caller; the message is lost.
    }
}

namespace {

std::string NameOf(const rtl::TComponent* component) {
    return component != nullptr ? component->Name() : std::string();
}

} // namespace

void TFIBSQLMonitorHook::TracePrepare(const rtl::TComponent* query, const std::string& sql,
                                      const std::optional<std::string>& plan) {
    if (!Tracing() || Flag(&TraceBlock::PrepareFlag) <= 0) {
        return;
    }
    try {
        std::string text = NameOf(query) + ": [Prepare] " + sql + CRLF;
        text += plan ? "  Plan: " + *plan : std::string("  Plan: Can't retrieve plan ");
        WriteTrace(text, tcPrepare);
    } catch (...) {
    }
}

void TFIBSQLMonitorHook::TraceExecute(
    const rtl::TComponent* query, const std::string& sql,
    const std::vector<std::pair<std::string, std::string>>& params,
    std::optional<int64_t> rowsAffected, const std::string& extraText, uint64_t tickCount) {
    if (!Tracing() || Flag(&TraceBlock::ExecuteFlag) <= 0) {
        return;
    }
    try {
        std::string text = NameOf(query) + ": [Execute] " + sql;
        for (const auto& [name, value] : params) {
            text += std::string(CRLF) + "  " + name + " = " + value;
        }
        if (rowsAffected) {
            text += std::string(CRLF) + "Rows Affected:  " + std::to_string(*rowsAffected);
        }
        if (!extraText.empty()) {
            text += CRLF + extraText;
        }
        text += std::string(CRLF) + "Execute tick count " + std::to_string(tickCount);
        WriteTrace(text, tcExecute);
    } catch (...) {
    }
}

void TFIBSQLMonitorHook::TraceFetch(const rtl::TComponent* query, const std::string& sql,
                                    const std::vector<std::pair<std::string, std::string>>& fields,
                                    bool endOfFile) {
    if (!Tracing() || Flag(&TraceBlock::FetchFlag) <= 0) {
        return;
    }
    try {
        std::string text = NameOf(query) + ": [Fetch] " + sql + CRLF;
        for (const auto& [name, value] : fields) {
            text += name + " = " + value + CRLF;
        }
        if (endOfFile) {
            text += std::string(CRLF) + "  End of file reached";
        }
        WriteTrace(text, tcFetch);
    } catch (...) {
    }
}

void TFIBSQLMonitorHook::TraceEvent(const rtl::TComponent* component, std::string_view text,
                                    TraceCategory category) {
    try {
        WriteTrace(NameOf(component).append(text), category);
    } catch (...) {
    }
}

void TFIBSQLMonitorHook::TraceConnection(const rtl::TComponent* database, const char* label) {
    if (Tracing() && Flag(&TraceBlock::ConnectFlag) > 0) {
        TraceEvent(database, label, tcConnect);
    }
}

void TFIBSQLMonitorHook::TraceConnect(const rtl::TComponent* database) {
    TraceConnection(database, ": [Connect]");
}

void TFIBSQLMonitorHook::TraceDisconnect(const rtl::TComponent* database) {
    TraceConnection(database, ": [Disconnect]");
}

bool TFIBSQLMonitorHook::TransactionTraced(bool hasDatabase) {
    return hasDatabase && Tracing() && Flag(&TraceBlock::TransactionFlag) > 0;
}

void TFIBSQLMonitorHook::TraceNumbered(const rtl::TComponent* transaction, bool hasDatabase,
                                       const char* label, int64_t number) {
    if (!TransactionTraced(hasDatabase)) {
        return;
    }
    try {
        TraceEvent(transaction, std::string(label) + "(" + std::to_string(number) + ")",
                   tcTransaction);
    } catch (...) {
    }
}

void TFIBSQLMonitorHook::TraceStartTransaction(const rtl::TComponent* transaction, bool hasDatabase,
                                               int64_t number) {
    TraceNumbered(transaction, hasDatabase, ": [Start transaction]", number);
}

void TFIBSQLMonitorHook::TraceCommit(const rtl::TComponent* transaction, bool hasDatabase,
                                     int64_t number) {
    TraceNumbered(transaction, hasDatabase, ": [Commit (Hard commit)]", number);
}

void TFIBSQLMonitorHook::TraceSavepoint(const rtl::TComponent* transaction, bool hasDatabase,
                                        int64_t number, const std::string& savepointName,
                                        int kind) {
    if (!TransactionTraced(hasDatabase)) {
        return;
    }
    static const char* const Labels[] = {"SetSavePoint", "RollBackToSavePoint", "ReleaseSavePoint"};
    try {
        std::string text = ": Transaction(" + std::to_string(number) + ") -";
        if (kind >= 0 && kind <= 2) {
            text += std::string(" [") + Labels[kind] + "](\"" + savepointName + "\")";
        }
        TraceEvent(transaction, text, tcTransaction);
    } catch (...) {
    }
}

void TFIBSQLMonitorHook::TraceCommitRetaining(const rtl::TComponent* transaction, bool hasDatabase,
                                              int64_t number) {
    TraceNumbered(transaction, hasDatabase, ": [Commit retaining (Soft commit)]", number);
}

void TFIBSQLMonitorHook::TraceRollback(const rtl::TComponent* transaction, bool hasDatabase,
                                       int64_t number) {
    TraceNumbered(transaction, hasDatabase, ": [Rollback]", number);
}

void TFIBSQLMonitorHook::TraceRollbackRetaining(const rtl::TComponent* transaction,
                                                bool hasDatabase, int64_t number) {
    TraceNumbered(transaction, hasDatabase, ": [Rollback retaining (Soft rollback)]", number);
}

void TFIBSQLMonitorHook::TraceService(const rtl::TComponent* service, const char* label) {
    // Without a monitor this is the only cost: one read of the count.
    if (Tracing()) {
        TraceEvent(service, label, tcService);
    }
}

void TFIBSQLMonitorHook::TraceServiceAttach(const rtl::TComponent* service) {
    TraceService(service, ": [Attach]");
}

void TFIBSQLMonitorHook::TraceServiceDetach(const rtl::TComponent* service) {
    TraceService(service, ": [Detach]");
}

void TFIBSQLMonitorHook::TraceServiceQuery(const rtl::TComponent* service) {
    TraceService(service, ": [Query]");
}

void TFIBSQLMonitorHook::TraceServiceStart(const rtl::TComponent* service) {
    TraceService(service, ": [Start]");
}

} // namespace fib
