// Ends the program in order when it is asked to end (SIGTERM from a desktop
// logout, SIGINT from a terminal): the request is noticed in the event loop,
// never inside what the program was doing, and the window's logic is asked
// to close. While one of the window's handlers runs, the logic keeps the
// request and the watch asks again until the window has closed.
#pragma once

#include <QObject>

class QSocketNotifier;
class QTimer;

namespace app {
class TmainForm;
}

namespace gui {

class TTerminationWatch : public QObject {
public:
    // Starts watching (installs the process's handlers once).
    explicit TTerminationWatch(app::TmainForm& form);
    ~TTerminationWatch() override;
    TTerminationWatch(const TTerminationWatch&) = delete;
    TTerminationWatch& operator=(const TTerminationWatch&) = delete;

    // False when the requests cannot be watched (the process then ends on
    // them as it would without the watch).
    bool Watching() const { return FNotifier != nullptr; }
    // The number of the last signal taken, 0 before any.
    int LastSignal() const { return FLastSignal; }

    // How often a kept request is asked again.
    static constexpr int RetryMilliseconds = 100;

private:
    void Requested();
    void AskToClose();

    app::TmainForm& FForm;
    QSocketNotifier* FNotifier = nullptr;
    QTimer* FRetry = nullptr;
    int FLastSignal = 0;
};

} // namespace gui
