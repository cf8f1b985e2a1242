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
        // The hold is this thread's (taken above), so it cannot be refused.
        static_cast<void>(FChannel.Mutex().Unlock());
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
    // The hold is this thread's (taken above), so it cannot be refused.
    static_cast<void>(FChannel.Mutex().Unlock());
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
    const bool full = chunk.Text.size() >= fib::TraceChunkSize;
    const bool startsMessage = chunk.Text.compare(0, MessageStart.size(), MessageStart) == 0;
    const auto continues = [&](int32_t category, double timeStamp) {
        return category == chunk.Category && timeStamp == chunk.TimeStamp && !startsMessage;
    };
    if (FSkipping) {
        const bool skipped = continues(FSkipping->first, FSkipping->second);
        if (!skipped || !full) {
            FSkipping.reset();
        }
        if (skipped) {
            return done;
        }
    }
    if (FPending && continues(FPending->Category, FPending->TimeStamp)) {
        FPending->Text += chunk.Text;
    } else {
        if (FPending) {
            done.push_back(std::move(*FPending));
        }
        FPending = TraceMessage{chunk.Category, chunk.TimeStamp, chunk.Text};
    }
    if (FPending->Text.size() > MaxMessageBytes) {
        FPending->Text.resize(MaxMessageBytes);
        FPending->Cut = true;
        if (full) {
            FSkipping.emplace(chunk.Category, chunk.TimeStamp);
        }
    }
    if (!full || FPending->Cut) {
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
    // 0001-01-01 and 9999-12-31 in days since 1899-12-30.
    if (!std::isfinite(timeStamp) || timeStamp < -693593.0 || timeStamp >= 2958466.0) {
        return "(invalid time)";
    }
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

std::string PrintableText(const std::string& text) {
    static const char Hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    const auto escape = [&](unsigned char byte) {
        out += "#$";
        out += Hex[byte >> 4];
        out += Hex[byte & 0x0F];
    };
    for (size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        const auto next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
        if (byte == '\r' && next == '\n') {
            continue;
        }
        if (byte == '\t' || byte == '\n') {
            out += static_cast<char>(byte);
        } else if (byte < 32 || byte == 0x7F) {
            escape(byte);
        } else if (byte == 0xC2 && next >= 0x80 && next <= 0x9F) {
            escape(byte);
            escape(next);
            ++i;
        } else {
            out += static_cast<char>(byte);
        }
    }
    return out;
}

std::string FormatMessage(const TraceMessage& message) {
    // The text travels with CR LF line breaks and starts with one.
    std::string lines = PrintableText(message.Text);
    if (!lines.empty() && lines.front() == '\n') {
        lines.erase(0, 1);
    }
    std::string out = "--- " + FormatTimeStamp(message.TimeStamp) + " [" +
                      fib::TraceCategoryName(message.Category) + "]\n" + lines + "\n";
    if (message.Cut) {
        out +=
            "[message cut at " + std::to_string(TMessageAssembler::MaxMessageBytes) + " bytes]\n";
    }
    return out;
}

} // namespace fbtracemon
