// Requests to end the program (on POSIX: SIGTERM, which a desktop logout
// sends, and SIGINT) turned into a notification that the program's event
// loop waits for, so the program ends through its own orderly close and
// never in the middle of what it was doing (a settings file half written, a
// backup left running on the server).
//
// On Windows these requests are messages to the program's window (WM_CLOSE,
// WM_QUERYENDSESSION, WM_ENDSESSION) that the window handles itself: there
// WatchTerminationRequests returns -1 and the other calls do nothing.
#pragma once

namespace platform {

// Installs the handlers once; later calls only return the descriptor. The
// descriptor becomes readable when a request has come; -1 when no
// notification can be made (the handlers are then left as they were).
int WatchTerminationRequests();

// Takes the requests that came since the last call: the number of the last
// signal, 0 when none came.
int TakeTerminationRequest();

// Puts this program's handlers back where something else in the process
// replaced them. The Firebird client library installs handlers of its own at
// the first attach of the process; they shut its connections down and keep
// the program running, so a request to end it would only break the work in
// progress. Does nothing before WatchTerminationRequests or while the
// handlers are still this program's; cheap enough to call after every
// attach.
void ReclaimTerminationSignals();

// True while this program's handler is the one installed for the signal.
bool TerminationHandlerInstalled(int signalNumber);

} // namespace platform
