// The start-up benchmark's probe, shared by the maintenance window and the
// bare window it is measured against: installed as an event filter on the
// window, it reports the moment the first paint is done (CLOCK_MONOTONIC,
// nanoseconds) on stdout as "first-paint-ns N" and ends the application.
#pragma once

#include <QApplication>
#include <QEvent>
#include <QObject>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace gui {

class TFirstPaintProbe : public QObject {
public:
    using QObject::QObject;

    // Whether the benchmark asked for the probe (SLV_BENCH_FIRST_PAINT set).
    static bool Requested() {
        const char* value = std::getenv("SLV_BENCH_FIRST_PAINT");
        return value != nullptr && *value != '\0';
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && !FSeen) {
            FSeen = true;
            QTimer::singleShot(0, qApp, [] {
                timespec now{};
                clock_gettime(CLOCK_MONOTONIC, &now);
                std::printf("first-paint-ns %lld\n",
                            static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec);
                std::fflush(stdout);
                QApplication::quit();
            });
        }
        return QObject::eventFilter(watched, event);
    }

private:
    bool FSeen = false;
};

} // namespace gui
