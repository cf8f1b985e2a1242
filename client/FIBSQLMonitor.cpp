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

constexpr int HandshakeStepMs = 1000;
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
        platform::RemoveNamedObject(namePrefix + name);
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
    constexpr HookGlobals() noexcept {}
    ~HookGlobals() { FinalizeMonitorHook(); }
    HookGlobals(const HookGlobals&) = delete;
    HookGlobals& operator=(const HookGlobals&) = delete;

    std::mutex CreationLock;
    std::atomic<TFIBSQLMonitorHook*> Hook{nullptr};
    std::atomic<bool> Finalizing{false};
};

// Constant-initialised, so it is ready before any other module's
// initialisation runs; its destructor runs the process-exit order.
constinit HookGlobals gHookGlobals;

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
    if (hook != nullptr) {
        hook->StopWriter();
        delete hook;
    }
}

// ---------------------------------------------------------------------------
// TMonitorWriterThread

TMonitorWriterThread::TMonitorWriterThread(TTraceChannel& channel) : FChannel(channel) {}

TMonitorWriterThread::~TMonitorWriterThread() {
    StopRequested.store(true);
    Terminate();
    WaitFor();
    std::lock_guard<std::mutex> lock(FQueueLock);
    FQueue.clear();
}

void TMonitorWriterThread::Start() {
    FThread = std::thread([this] { Execute(); });
}

void TMonitorWriterThread::Enqueue(const std::string& text, TraceCategory category) {
    auto message = std::make_unique<TFIBTraceObject>(category, text, TraceTimeStampNow());
    std::lock_guard<std::mutex> lock(FQueueLock);
    FQueue.push_back(std::move(message));
}

void TMonitorWriterThread::Terminate() {
    {
        std::lock_guard<std::mutex> lock(FSleepLock);
        FTerminated.store(true);
    }
    FWake.notify_all();
}

void TMonitorWriterThread::WaitFor() {
    if (FThread.joinable() && FThread.get_id() != std::this_thread::get_id()) {
        FThread.join();
    }
}

size_t TMonitorWriterThread::QueueCount() const {
    std::lock_guard<std::mutex> lock(FQueueLock);
    return FQueue.size();
}

void TMonitorWriterThread::Pause() {
    std::unique_lock<std::mutex> lock(FSleepLock);
    FWake.wait_for(lock, IdlePoll, [this] { return FTerminated.load() || StopRequested.load(); });
}

void TMonitorWriterThread::Execute() {
    while (((!FTerminated.load() && !MonitorHookFinalizing()) || QueueCount() > 0) &&
           !StopRequested.load()) {
        if (FChannel.MonitorCount() <= 0) {
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
}

void TMonitorWriterThread::WriteMessage(const TFIBTraceObject& message) {
    // Without a time limit, but a stop request ends the wait (the message is
    // then discarded with the rest of the queue).
    platform::NamedMutex::LockResult locked;
    while ((locked = FChannel.Mutex().Lock(HandshakeStepMs)) ==
           platform::NamedMutex::LockResult::Timeout) {
        if (StopRequested.load()) {
            return;
        }
    }
    if (locked == platform::NamedMutex::LockResult::OwnerDied) {
        // The previous writer ended in the middle of a cycle: put the events
        // back into their state between cycles so the readers take part again.
        FChannel.WriteEvent().Reset();
        FChannel.WriteFinishedEvent().Set();
    }
    if (FChannel.MonitorCount() > 0) {
        const std::vector<std::string> chunks = SplitTraceChunks(EscapeTraceText(message.Text));
        TraceBlock& block = FChannel.Block();
        for (const std::string& chunk : chunks) {
            BeginWrite();
            SharedStore(block.Category, message.Category);
            SetTraceBlockTimeStamp(block, message.TimeStamp);
            block.ChunkFlag = 1;
            SharedStore(block.ChunkLength, static_cast<int32_t>(chunk.size()));
            std::memcpy(block.TextChunk, chunk.data(), chunk.size());
            EndWrite();
        }
    }
    FChannel.Mutex().Unlock();
}

void TMonitorWriterThread::BeginWrite() {
    // The thread owns the mutex already; this only adds to the hold count.
    FChannel.Mutex().Lock();
}

void TMonitorWriterThread::EndWrite() {
    TraceBlock& block = FChannel.Block();
    platform::NamedEvent& readEvent = FChannel.ReadEvent();
    platform::NamedEvent& readFinished = FChannel.ReadFinishedEvent();

    // 1. Wait until every registered monitor is ready to read; each second
    //    without that counts one monitor out.
    while (!readEvent.Wait(HandshakeStepMs)) {
        const int32_t monitors = SharedDecrementIfPositive(block.MonitorCount);
        if (monitors <= 0 || SharedLoad(block.ReaderCount) >= monitors) {
            readEvent.Set();
        }
    }
    // 2. Publish the chunk.
    FChannel.WriteFinishedEvent().Reset();
    readFinished.Reset();
    FChannel.WriteEvent().Set();
    // 3. Wait until every reader has read it; each second without that
    //    counts one reader out.
    while (!readFinished.Wait(HandshakeStepMs)) {
        if (SharedLoad(block.ReaderCount) <= 0) {
            readFinished.Set();
        } else if (SharedDecrementIfPositive(block.ReaderCount) <= 0) {
            readFinished.Set();
        }
    }
    // 4. Close the cycle.
    FChannel.WriteEvent().Reset();
    FChannel.WriteFinishedEvent().Set();
    // 5. Give back the hold taken by BeginWrite.
    FChannel.Mutex().Unlock();
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
    StopWriter();
    FSharedObjectsReady.store(false);
    FChannel.reset();
}

void TFIBSQLMonitorHook::OpenSharedObjects() {
    std::lock_guard<std::mutex> lock(FOpenLock);
    if (FSharedObjectsReady.load()) {
        return;
    }
    FChannel = std::make_unique<TTraceChannel>(FObjectPrefix);
    FSharedObjectsReady.store(true, std::memory_order_release);
}

TTraceChannel* TFIBSQLMonitorHook::Channel() const noexcept {
    return FSharedObjectsReady.load(std::memory_order_acquire) ? FChannel.get() : nullptr;
}

int32_t TFIBSQLMonitorHook::MonitorCount() const {
    const TTraceChannel* channel = Channel();
    return channel != nullptr ? channel->MonitorCount() : 0;
}

bool TFIBSQLMonitorHook::Tracing() const {
    return FTracingActive.load() && MonitorCount() > 0;
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

bool TFIBSQLMonitorHook::WriterRunning() const {
    std::lock_guard<std::mutex> lock(FWriterLock);
    return FWriter != nullptr;
}

void TFIBSQLMonitorHook::StopWriter() {
    std::lock_guard<std::mutex> lock(FWriterLock);
    // The writer's destructor sets StopRequested, waits for the thread and
    // discards what is still queued.
    FWriter.reset();
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
        const std::string message =
            std::string(CRLF) + "[Application: " + ApplicationFileName() + "]" + CRLF + text;
        std::lock_guard<std::mutex> lock(FWriterLock);
        if (FWriter == nullptr) {
            auto writer = std::make_unique<TMonitorWriterThread>(*FChannel);
            writer->Start();
            FWriter = std::move(writer);
        }
        if (MonitorCount() <= 0) {
            FWriter.reset();
            return;
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

void TFIBSQLMonitorHook::TraceConnect(const rtl::TComponent* database) {
    if (!Tracing() || Flag(&TraceBlock::ConnectFlag) <= 0) {
        return;
    }
    try {
        WriteTrace(NameOf(database) + ": [Connect]", tcConnect);
    } catch (...) {
    }
}

void TFIBSQLMonitorHook::TraceDisconnect(const rtl::TComponent* database) {
    if (!Tracing() || Flag(&TraceBlock::ConnectFlag) <= 0) {
        return;
    }
    try {
        WriteTrace(NameOf(database) + ": [Disconnect]", tcConnect);
    } catch (...) {
    }
}

bool TFIBSQLMonitorHook::TransactionTraced(bool hasDatabase) const {
    return hasDatabase && Tracing() && Flag(&TraceBlock::TransactionFlag) > 0;
}

void TFIBSQLMonitorHook::TraceTransaction(const rtl::TComponent* transaction,
                                          const std::string& text) {
    try {
        WriteTrace(NameOf(transaction) + text, tcTransaction);
    } catch (...) {
    }
}

namespace {

std::string Numbered(const char* label, int64_t number) {
    return std::string(label) + "(" + std::to_string(number) + ")";
}

} // namespace

void TFIBSQLMonitorHook::TraceStartTransaction(const rtl::TComponent* transaction, bool hasDatabase,
                                               int64_t number) {
    if (!TransactionTraced(hasDatabase)) {
        return;
    }
    TraceTransaction(transaction, Numbered(": [Start transaction]", number));
}

void TFIBSQLMonitorHook::TraceCommit(const rtl::TComponent* transaction, bool hasDatabase,
                                     int64_t number) {
    if (!TransactionTraced(hasDatabase)) {
        return;
    }
    TraceTransaction(transaction, Numbered(": [Commit (Hard commit)]", number));
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
        TraceTransaction(transaction, text);
    } catch (...) {
    }
}

void TFIBSQLMonitorHook::TraceCommitRetaining(const rtl::TComponent* transaction, bool hasDatabase,
                                              int64_t number) {
    if (!TransactionTraced(hasDatabase)) {
        return;
    }
    TraceTransaction(transaction, Numbered(": [Commit retaining (Soft commit)]", number));
}

void TFIBSQLMonitorHook::TraceRollback(const rtl::TComponent* transaction, bool hasDatabase,
                                       int64_t number) {
    if (!TransactionTraced(hasDatabase)) {
        return;
    }
    TraceTransaction(transaction, Numbered(": [Rollback]", number));
}

void TFIBSQLMonitorHook::TraceRollbackRetaining(const rtl::TComponent* transaction,
                                                bool hasDatabase, int64_t number) {
    if (!TransactionTraced(hasDatabase)) {
        return;
    }
    TraceTransaction(transaction, Numbered(": [Rollback retaining (Soft rollback)]", number));
}

namespace {

void TraceService(TFIBSQLMonitorHook& hook, const rtl::TComponent* service, const char* label) {
    // Without a monitor this is the only cost: one read of the count.
    if (!hook.TracingActive() || hook.MonitorCount() <= 0) {
        return;
    }
    try {
        hook.WriteTrace(NameOf(service) + label, tcService);
    } catch (...) {
    }
}

} // namespace

void TFIBSQLMonitorHook::TraceServiceAttach(const rtl::TComponent* service) {
    TraceService(*this, service, ": [Attach]");
}

void TFIBSQLMonitorHook::TraceServiceDetach(const rtl::TComponent* service) {
    TraceService(*this, service, ": [Detach]");
}

void TFIBSQLMonitorHook::TraceServiceQuery(const rtl::TComponent* service) {
    TraceService(*this, service, ": [Query]");
}

void TFIBSQLMonitorHook::TraceServiceStart(const rtl::TComponent* service) {
    TraceService(*this, service, ": [Start]");
}

} // namespace fib
