// The monitor's side of the trace channel: registration, the reader half of
// the per-chunk handshake, and the reassembly of chunks into messages.
//
// Reader cycle, matching the writer (see client/FIBSQLMonitor.h):
//
//   A. wait until WriteFinishedEvent is set (no write cycle in progress);
//   B. count in: ReaderCount += 1; when ReaderCount has reached
//      MonitorCount, every registered monitor is ready: set ReadEvent
//      (the writer waits for it before it publishes a chunk);
//   C. wait for WriteEvent (a chunk is published);
//   D. read Category, TimeStamp, ChunkLength and TextChunk;
//   E. count out: ReaderCount -= 1; the last reader (ReaderCount 0) resets
//      ReadEvent and then sets ReadFinishedEvent (the writer waits for it,
//      then resets WriteEvent and sets WriteFinishedEvent, which is step A
//      of the next cycle).
//
// Registration takes the channel mutex (so no message is being written),
// raises MonitorCount and the wanted category flags, and resets ReadEvent
// when fewer readers are ready than monitors are registered. Leaving lowers
// MonitorCount, leaves a cycle the reader has counted itself into, and lowers
// the flags it raised. The counts are only ever lowered while above 0: the
// writer may have counted a slow reader out already.
//
// A writer that dies in the middle of a cycle holds no mutex any more; a
// reader that waits for WriteFinishedEvent notices that (it can take the
// mutex) and closes the cycle itself.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "client/FIBSQLMonitor.h"

namespace fbtracemon {

// Category flags a monitor can ask for; service events need none.
enum FlagBits : unsigned {
    WantPrepare = 1u << 0,
    WantExecute = 1u << 1,
    WantFetch = 1u << 2,
    WantConnect = 1u << 3,
    WantTransaction = 1u << 4,
    WantAll = 0x1Fu,
};

struct TraceChunk {
    uint8_t ChunkFlag = 0;
    int32_t Category = 0;
    double TimeStamp = 0;
    std::string Text;
};

struct TraceMessage {
    int32_t Category = 0;
    double TimeStamp = 0;
    std::string Text;
    // True when the text was cut at TMessageAssembler::MaxMessageBytes.
    bool Cut = false;
};

class TTraceReader {
public:
    explicit TTraceReader(fib::TTraceChannel& channel) : FChannel(channel) {}
    ~TTraceReader();
    TTraceReader(const TTraceReader&) = delete;
    TTraceReader& operator=(const TTraceReader&) = delete;

    // Registers as a monitor wanting the given flags. Waits at most
    // lockTimeoutMs for the mutex; registers without it after that.
    void Register(unsigned flags, int lockTimeoutMs = 5000);
    // Unregisters (idempotent).
    void Unregister();
    bool Registered() const noexcept { return FRegistered; }

    // Runs the reader cycle until one chunk has been read, the timeout has
    // passed or *stop is set. A reader that stopped waiting stays counted in
    // and goes on from there at the next call.
    std::optional<TraceChunk> ReadChunk(int timeoutMs, const std::atomic<bool>* stop = nullptr);

    // Raises MonitorCount again when the writer has counted every monitor
    // out while this one is still alive. True when it did.
    bool ReRegisterIfCountedOut();

private:
    bool WaitWriteFinished(std::chrono::steady_clock::time_point deadline,
                           const std::atomic<bool>* stop);
    void CloseAbandonedCycle();

    fib::TTraceChannel& FChannel;
    unsigned FFlags = 0;
    bool FRegistered = false;
    bool FCounted = false;
};

// Puts chunks back together. The channel marks no message boundary, so a
// message ends with a chunk shorter than a full one, or before a chunk of
// another category or time stamp or one that starts a new message
// (CR LF "[Application: "), or when no chunk followed a full one for a
// while (FlushIfIdle). A message that grows beyond MaxMessageBytes is given
// out at once, cut, and the rest of it is skipped: a writer that never ends
// a message cannot fill the monitor's memory.
class TMessageAssembler {
public:
    static constexpr size_t MaxMessageBytes = 64 * 1024;

    std::vector<TraceMessage> Add(const TraceChunk& chunk);
    std::optional<TraceMessage> FlushIfIdle(std::chrono::milliseconds idle);
    std::optional<TraceMessage> Flush();

private:
    std::optional<TraceMessage> FPending;
    // Category and time stamp of a cut message whose remaining chunks are
    // being skipped.
    std::optional<std::pair<int32_t, double>> FSkipping;
    std::chrono::steady_clock::time_point FLastChunk{};
};

// "yyyy-mm-dd hh:nn:ss.zzz" from days since 1899-12-30; "(invalid time)"
// for a value outside the years 1 to 9999.
std::string FormatTimeStamp(double timeStamp);

// The text as it may go to a terminal: CR LF becomes LF; every other control
// byte (below 32 except tab and line feed, a carriage return on its own, and
// 127) and the UTF-8 form of the C1 controls (U+0080..U+009F) are written as
// "#$" and two upper-case hex digits per byte, as the writer escapes them.
std::string PrintableText(const std::string& text);

// One message as fbtracemon prints it: "--- " time " [" category "]", then
// the text (without its leading line break), each on its own line.
std::string FormatMessage(const TraceMessage& message);

} // namespace fbtracemon
