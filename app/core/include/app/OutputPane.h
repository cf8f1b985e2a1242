// A command's output shown as it streams in: the lines go into a memo in
// batches, a progress bar steps once per line, and the two are repainted at
// a bounded rate however fast the lines come, plus once at the end. Free of
// any widget toolkit: it talks to the widget interfaces only.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "app/Widgets.h"

namespace app {

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

    // Appends the lines to the memo at once and steps the bar by their
    // number; repaints both when the throttle lets it. True when it
    // repainted: the moment to let the window handle its pending events too.
    bool Add(const std::vector<std::string>& lines);
    // Repaints what was added since the last repaint (at the end of the
    // output, so the last lines show); nothing when all is painted.
    void Flush();

private:
    void Repaint();

    IMemo& FMemo;
    IProgressBar& FBar;
    TRepaintThrottle FThrottle;
    bool FUnpainted = false;
};

} // namespace app
