#include "TraceReader.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "platform/NamedObjects.h"

namespace fbtracemon {

namespace {

using Clock = std::chrono::steady_clock;
using platform::NamedMutex;

// Longest single wait, so stop requests and deadlines are noticed quickly.
constexpr int WaitStepMs = 100;
// How long WriteFinishedEvent may stay reset before the reader checks
// whether the writer is still there.
constexpr auto AbandonCheck = std::chrono::seconds(1);
const std::string MessageStart = "\r\n[Application: ";

int32_t fib::TraceBlock::*const FlagFields[] = {
    &fib::TraceBlock::PrepareFlag, &fib::TraceBlock::ExecuteFlag,     &fib::TraceBlock::FetchFlag,
    &fib::TraceBlock::ConnectFlag, &fib::TraceBlock::TransactionFlag,
};

int StepUntil(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, WaitStepMs));
}

bool Stopped(const std::atomic<bool>* stop) {
    return stop != nullptr && stop->load();
}

} // namespace

TTraceReader::~TTraceReader() {
    Unregister();
}

void TTraceReader::Register(unsigned flags, int lockTimeoutMs) {
    if (FRegistered) {
        return;
    }
    fib::TraceBlock& block = FChannel.Block();
    bool locked = false;
    try {
        locked = FChannel.Mutex().Lock(lockTimeoutMs) != NamedMutex::LockResult::Timeout;
    } catch (const platform::NamedObjectError&) {
        locked = false;
    }
    for (size_t i = 0; i < std::size(FlagFields); ++i) {
        if ((flags & (1u << i)) != 0) {
            fib::SharedAdd(block.*FlagFields[i], 1);
        }
    }
    const int32_t monitors = fib::SharedAdd(block.MonitorCount, 1);
    if (locked) {
        // No message is being written: ReadEvent must say whether all
        // monitors (this one included) are ready, and this one is not yet.
        if (fib::SharedLoad(block.ReaderCount) < monitors) {
            FChannel.ReadEvent().Reset();
        }
        FChannel.Mutex().Unlock();
    }
    FFlags = flags;
    FRegistered = true;
}

void TTraceReader::Unregister() {
    if (!FRegistered) {
        return;
    }
    fib::TraceBlock& block = FChannel.Block();
    const int32_t monitors = fib::SharedDecrementIfPositive(block.MonitorCount);
    if (FCounted) {
        FCounted = false;
        const int32_t readers = fib::SharedDecrementIfPositive(block.ReaderCount);
        if (FChannel.WriteEvent().IsSet()) {
            // Leaving in the middle of a cycle: finish it if this was the
            // last reader the writer waits for.
            if (readers <= 0) {
                FChannel.ReadEvent().Reset();
                FChannel.ReadFinishedEvent().Set();
            }
        } else if (monitors > 0 && readers >= monitors) {
            // The others are all ready; the writer need not wait for this one.
            FChannel.ReadEvent().Set();
        }
    }
    for (size_t i = 0; i < std::size(FlagFields); ++i) {
        if ((FFlags & (1u << i)) != 0) {
            fib::SharedDecrementIfPositive(block.*FlagFields[i]);
        }
    }
    FRegistered = false;
}

bool TTraceReader::ReRegisterIfCountedOut() {
    if (!FRegistered || FChannel.MonitorCount() > 0 || FChannel.WriteEvent().IsSet()) {
        return false;
    }
    fib::TraceBlock& block = FChannel.Block();
    const int32_t monitors = fib::SharedAdd(block.MonitorCount, 1);
    if (FCounted && fib::SharedLoad(block.ReaderCount) >= monitors) {
        FChannel.ReadEvent().Set();
    }
    return true;
}

void TTraceReader::CloseAbandonedCycle() {
    // The writer holds the mutex for a whole message; if the mutex is free
    // while WriteFinishedEvent is still reset, the writer is gone.
    NamedMutex::LockResult result;
    try {
        result = FChannel.Mutex().Lock(0);
    } catch (const platform::NamedObjectError&) {
        return;
    }
    if (result == NamedMutex::LockResult::Timeout) {
        return;
    }
    if (!FChannel.WriteFinishedEvent().IsSet()) {
        FChannel.WriteEvent().Reset();
        FChannel.WriteFinishedEvent().Set();
    }
    FChannel.Mutex().Unlock();
}

bool TTraceReader::WaitWriteFinished(Clock::time_point deadline, const std::atomic<bool>* stop) {
    auto nextCheck = Clock::now() + AbandonCheck;
    while (!FChannel.WriteFinishedEvent().Wait(StepUntil(deadline))) {
        if (Stopped(stop) || Clock::now() >= deadline) {
            return false;
        }
        if (Clock::now() >= nextCheck) {
            CloseAbandonedCycle();
            nextCheck = Clock::now() + AbandonCheck;
        }
    }
    return true;
}

std::optional<TraceChunk> TTraceReader::ReadChunk(int timeoutMs, const std::atomic<bool>* stop) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    fib::TraceBlock& block = FChannel.Block();
    if (!FCounted) {
        // A. No write cycle in progress.
        if (!WaitWriteFinished(deadline, stop)) {
            return std::nullopt;
        }
        // B. Count in; the last monitor to get ready lets the writer go.
        const int32_t readers = fib::SharedAdd(block.ReaderCount, 1);
        FCounted = true;
        if (readers >= FChannel.MonitorCount()) {
            FChannel.ReadEvent().Set();
        }
    }
    // C. Wait for a chunk.
    while (!FChannel.WriteEvent().Wait(StepUntil(deadline))) {
        if (Stopped(stop) || Clock::now() >= deadline) {
            return std::nullopt;
        }
    }
    // D. Read it.
    TraceChunk chunk;
    chunk.ChunkFlag = block.ChunkFlag;
    chunk.Category = fib::SharedLoad(block.Category);
    chunk.TimeStamp = fib::TraceBlockTimeStamp(block);
    const int32_t length = std::clamp<int32_t>(fib::SharedLoad(block.ChunkLength), 0,
                                               static_cast<int32_t>(fib::TraceChunkSize));
    chunk.Text.assign(block.TextChunk, static_cast<size_t>(length));
    // E. Count out; the last reader tells the writer the chunk is read.
    FCounted = false;
    if (fib::SharedDecrementIfPositive(block.ReaderCount) <= 0) {
        FChannel.ReadEvent().Reset();
        FChannel.ReadFinishedEvent().Set();
    }
    return chunk;
}

// ---------------------------------------------------------------------------

std::vector<TraceMessage> TMessageAssembler::Add(const TraceChunk& chunk) {
    std::vector<TraceMessage> done;
    FLastChunk = Clock::now();
    bool appended = false;
    if (FPending) {
        const bool continues = FPending->Category == chunk.Category &&
                               FPending->TimeStamp == chunk.TimeStamp &&
                               chunk.Text.compare(0, MessageStart.size(), MessageStart) != 0;
        if (continues) {
            FPending->Text += chunk.Text;
            appended = true;
        } else {
            done.push_back(std::move(*FPending));
            FPending.reset();
        }
    }
    if (!appended) {
        FPending = TraceMessage{chunk.Category, chunk.TimeStamp, chunk.Text};
    }
    if (chunk.Text.size() < fib::TraceChunkSize) {
        done.push_back(std::move(*FPending));
        FPending.reset();
    }
    return done;
}

std::optional<TraceMessage> TMessageAssembler::FlushIfIdle(std::chrono::milliseconds idle) {
    if (FPending && Clock::now() - FLastChunk >= idle) {
        return Flush();
    }
    return std::nullopt;
}

std::optional<TraceMessage> TMessageAssembler::Flush() {
    std::optional<TraceMessage> message = std::move(FPending);
    FPending.reset();
    return message;
}

std::string FormatTimeStamp(double timeStamp) {
    using namespace std::chrono;
    constexpr long long MsPerDay = 86400000;
    const long long total = std::llround(timeStamp * static_cast<double>(MsPerDay));
    long long days = total / MsPerDay;
    long long ms = total % MsPerDay;
    if (ms < 0) {
        ms += MsPerDay;
        --days;
    }
    const year_month_day date{sys_days{year{1899} / December / day{30}} + std::chrono::days{days}};
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02u-%02u %02lld:%02lld:%02lld.%03lld",
                  static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                  static_cast<unsigned>(date.day()), ms / 3600000, ms / 60000 % 60, ms / 1000 % 60,
                  ms % 1000);
    return text;
}

} // namespace fbtracemon
