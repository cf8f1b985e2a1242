// Termination requests on POSIX: a handler that writes the signal's number
// into a pipe (the only thing it does, as only few calls are safe in a
// handler); the event loop watches the pipe's read end.
#include "platform/Signals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

namespace platform {

namespace {

constexpr int WatchedSignals[] = {SIGTERM, SIGINT};

int gPipe[2] = {-1, -1};

extern "C" void OnTerminationSignal(int signalNumber) {
    const int saved = errno;
    const char number = static_cast<char>(signalNumber);
    // A full pipe already holds a request; nothing is lost by dropping this.
    [[maybe_unused]] const ssize_t ignored = write(gPipe[1], &number, 1);
    errno = saved;
}

struct sigaction OurAction() {
    struct sigaction action = {};
    action.sa_handler = OnTerminationSignal;
    sigemptyset(&action.sa_mask);
    for (int s : WatchedSignals) {
        sigaddset(&action.sa_mask, s);
    }
    // Calls the window's thread is in when a signal comes go on.
    action.sa_flags = SA_RESTART;
    return action;
}

bool IsOurs(const struct sigaction& action) {
    return (action.sa_flags & SA_SIGINFO) == 0 && action.sa_handler == OnTerminationSignal;
}

} // namespace

int WatchTerminationRequests() {
    if (gPipe[0] >= 0) {
        return gPipe[0];
    }
    int fds[2] = {-1, -1};
    if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
        return -1;
    }
    gPipe[0] = fds[0];
    gPipe[1] = fds[1];
    const struct sigaction action = OurAction();
    for (int s : WatchedSignals) {
        sigaction(s, &action, nullptr);
    }
    return gPipe[0];
}

int TakeTerminationRequest() {
    if (gPipe[0] < 0) {
        return 0;
    }
    int last = 0;
    char numbers[64];
    ssize_t n = 0;
    while ((n = read(gPipe[0], numbers, sizeof numbers)) > 0 || (n < 0 && errno == EINTR)) {
        if (n > 0) {
            last = static_cast<unsigned char>(numbers[n - 1]);
        }
    }
    return last;
}

void ReclaimTerminationSignals() {
    if (gPipe[0] < 0) {
        return;
    }
    for (int s : WatchedSignals) {
        if (!TerminationHandlerInstalled(s)) {
            const struct sigaction action = OurAction();
            sigaction(s, &action, nullptr);
        }
    }
}

bool TerminationHandlerInstalled(int signalNumber) {
    struct sigaction current = {};
    return sigaction(signalNumber, nullptr, &current) == 0 && IsOurs(current);
}

} // namespace platform
