#include "app/OutputPane.h"

#include <algorithm>
#include <utility>

namespace app {

TRepaintThrottle::TRepaintThrottle(std::chrono::milliseconds interval, TClock clock)
    : FInterval(interval), FClock(std::move(clock)) {}

bool TRepaintThrottle::Due() {
    const TTime now = FClock();
    if (FStarted && now - FLast < FInterval) {
        return false;
    }
    FStarted = true;
    FLast = now;
    return true;
}

TOutputPane::TOutputPane(IMemo& memo, IProgressBar& bar, TRepaintThrottle throttle)
    : FMemo(memo), FBar(bar), FThrottle(std::move(throttle)) {}

bool TOutputPane::Add(const std::vector<std::string>& lines) {
    if (!lines.empty()) {
        FMemo.AppendBatch(lines);
        FBar.StepBy(static_cast<int>(std::min<size_t>(lines.size(), IProgressBar::Max)));
        FUnpainted = true;
    }
    if (!FUnpainted || !FThrottle.Due()) {
        return false;
    }
    Repaint();
    return true;
}

void TOutputPane::Flush() {
    if (FUnpainted) {
        Repaint();
    }
}

void TOutputPane::Repaint() {
    FMemo.Repaint();
    FBar.Repaint();
    FUnpainted = false;
}

} // namespace app
