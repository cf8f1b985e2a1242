// Requests to end the program on Windows. A windowed program gets no signals
// and no console events: the requests are messages to its window
// (WM_CLOSE, WM_QUERYENDSESSION and WM_ENDSESSION when the user logs off or
// the system shuts down), which the window's own message handling passes to
// the window's logic. There is nothing to watch here, and the client
// library installs no handler that would have to be taken back.
#include "platform/Signals.h"

namespace platform {

int WatchTerminationRequests() {
    return -1;
}

int TakeTerminationRequest() {
    return 0;
}

void ReclaimTerminationSignals() {}

bool TerminationHandlerInstalled(int /*signalNumber*/) {
    return false;
}

} // namespace platform
