#include "gui/TerminationWatch.h"

#include <QApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <QWidget>

#include "app/MainForm.h"
#include "platform/Signals.h"

namespace gui {

TTerminationWatch::TTerminationWatch(app::TmainForm& form) : FForm(form) {
    const int handle = platform::WatchTerminationRequests();
    if (handle < 0) {
        return;
    }
    FNotifier = new QSocketNotifier(handle, QSocketNotifier::Read, this);
    connect(FNotifier, &QSocketNotifier::activated, this, [this] { Requested(); });
    FRetry = new QTimer(this);
    FRetry->setInterval(RetryMilliseconds);
    connect(FRetry, &QTimer::timeout, this, [this] { AskToClose(); });
}

TTerminationWatch::~TTerminationWatch() = default;

void TTerminationWatch::Requested() {
    const int signalNumber = platform::TakeTerminationRequest();
    if (signalNumber == 0) {
        return;
    }
    FLastSignal = signalNumber;
    AskToClose();
}

void TTerminationWatch::AskToClose() {
    if (FForm.RequestClose()) {
        FRetry->stop();
        return;
    }
    // A box or dialog waiting for the user is answered as its close box
    // would answer it (No, Cancel, OK), so that the handler under it can
    // end: the running command then sees the request and stops.
    if (QWidget* modal = QApplication::activeModalWidget()) {
        modal->close();
    }
    if (!FRetry->isActive()) {
        FRetry->start();
    }
}

} // namespace gui
