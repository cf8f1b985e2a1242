#include "app/OutputPane.h"

#include <algorithm>
#include <iterator>
#include <utility>

namespace app {

TOutputReader::TOutputReader(fib::TpFIBControlAndQueryService& service) : FService(service) {
    FThread = std::thread([this] { Run(); });
}

TOutputReader::~TOutputReader() {
    Stop();
}

void TOutputReader::Run() {
    std::vector<std::string> batch;
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(FLock);
            FChanged.wait(lock, [this] { return FStopping || !FPaused; });
            if (FStopping) {
                return;
            }
        }
        batch.clear();
        std::exception_ptr error;
        try {
            FService.ReadAvailableLines(batch);
        } catch (...) {
            error = std::current_exception();
        }
        const bool ended = error != nullptr || FService.EndOfOutput();
        {
            std::lock_guard<std::mutex> lock(FLock);
            FLines.insert(FLines.end(), std::make_move_iterator(batch.begin()),
                          std::make_move_iterator(batch.end()));
            FError = error;
            FEnded = ended;
        }
        FChanged.notify_all();
        if (ended) {
            return;
        }
    }
}

bool TOutputReader::Take(std::vector<std::string>& lines, std::chrono::milliseconds wait) {
    std::unique_lock<std::mutex> lock(FLock);
    FChanged.wait_for(lock, wait, [this] { return !FLines.empty() || FEnded; });
    if (!FLines.empty()) {
        lines.insert(lines.end(), std::make_move_iterator(FLines.begin()),
                     std::make_move_iterator(FLines.end()));
        FLines.clear();
        return true;
    }
    if (FError) {
        std::rethrow_exception(std::exchange(FError, nullptr));
    }
    return !FEnded;
}

void TOutputReader::SetPaused(bool paused) {
    {
        std::lock_guard<std::mutex> lock(FLock);
        FPaused = paused;
    }
    FChanged.notify_all();
}

void TOutputReader::Stop() {
    {
        std::lock_guard<std::mutex> lock(FLock);
        FStopping = true;
    }
    FChanged.notify_all();
    if (FThread.joinable()) {
        FThread.join();
    }
}

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

bool TOutputPane::Add(std::vector<std::string> lines) {
    if (FWaiting.empty()) {
        FWaiting = std::move(lines);
    } else {
        FWaiting.insert(FWaiting.end(), std::make_move_iterator(lines.begin()),
                        std::make_move_iterator(lines.end()));
    }
    if (FWaiting.empty() || !FThrottle.Due()) {
        return false;
    }
    Show();
    return true;
}

void TOutputPane::Flush() {
    if (!FWaiting.empty()) {
        Show();
    }
}

void TOutputPane::Show() {
    FMemo.AppendBatch(FWaiting);
    FBar.StepBy(static_cast<int>(std::min<size_t>(FWaiting.size(), IProgressBar::Max)));
    FWaiting.clear();
    FMemo.Repaint();
    FBar.Repaint();
}

} // namespace app
