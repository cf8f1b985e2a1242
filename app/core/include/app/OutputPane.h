// A command's output as it streams in: read from the server on a thread of
// its own, so that the server never waits for the window; added to a memo
// in batches and painted with a progress bar that steps once per line, the
// two at a bounded rate however fast the lines come, plus once at the end.
// Free of any widget toolkit: it talks to the widget interfaces only.
#pragma once

#include <chrono>
#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/Widgets.h"
#include "services/IB_Services.h"

namespace app {

// Reads a started action's output in bulk on a thread of its own until the
// output ends or the reading fails. The server holds only about a kilobyte
// of output: an action whose output is not read waits, its transaction open,
// so the reading must never wait for the window. While the reader runs, the
// service is the reader's: nobody else calls it until Stop (or the end).
class TOutputReader {
public:
    // Starts reading; the action must have been started.
    explicit TOutputReader(fib::TpFIBControlAndQueryService& service);
    // Stops the reading (see Stop).
    ~TOutputReader();
    TOutputReader(const TOutputReader&) = delete;
    TOutputReader& operator=(const TOutputReader&) = delete;

    // Waits at most `wait` for lines, then appends the lines read since the
    // last call (in order, the end's empty line included). False once the
    // output has ended and every line was taken. An error of the reading is
    // raised here, once the lines read before it were taken.
    bool Take(std::vector<std::string>& lines, std::chrono::milliseconds wait);

    // While paused no new read starts (a read under way ends, within a
    // second): the server then waits with the rest of its output.
    void SetPaused(bool paused);

    // Ends the reading after the read under way and waits for the thread;
    // the service may then be used (or detached) again.
    void Stop();

private:
    void Run();

    fib::TpFIBControlAndQueryService& FService;
    std::mutex FLock;
    std::condition_variable FChanged;
    std::vector<std::string> FLines;
    std::exception_ptr FError;
    bool FEnded = false;
    bool FPaused = false;
    bool FStopping = false;
    std::thread FThread;
};

// Lets a repaint through at most once per interval.
class TRepaintThrottle {
public:
    using TTime = std::chrono::steady_clock::time_point;
    using TClock = std::function<TTime()>;

    // About 40 repaints a second: smooth to the eye, and a few per cent of
    // the time a command's output takes to show.
    static constexpr std::chrono::milliseconds DefaultInterval{25};

    explicit TRepaintThrottle(std::chrono::milliseconds interval = DefaultInterval,
                              TClock clock = &std::chrono::steady_clock::now);

    // True when a repaint is due: on the first call, then once the interval
    // has passed since the last call that said true.
    bool Due();

private:
    std::chrono::milliseconds FInterval;
    TClock FClock;
    bool FStarted = false;
    TTime FLast{};
};

class TOutputPane {
public:
    TOutputPane(IMemo& memo, IProgressBar& bar, TRepaintThrottle throttle = TRepaintThrottle());

    // Takes the lines; when the throttle lets it, appends every line taken
    // so far to the memo at once, steps the bar by their number and repaints
    // both. Lines that come in between wait for that turn: each insertion
    // into the box costs a fixed share of processor time besides its lines
    // (the box lays out and scrolls to its end), and while the output
    // streams the reader and the server (on this computer) need the
    // processor more than the window. True when it showed lines: the moment
    // to let the window handle its pending events too.
    bool Add(std::vector<std::string> lines);
    // Shows the lines that wait (at the end of the output, so the last
    // lines show); nothing when all are shown.
    void Flush();

private:
    void Show();

    IMemo& FMemo;
    IProgressBar& FBar;
    TRepaintThrottle FThrottle;
    std::vector<std::string> FWaiting;
};

} // namespace app
