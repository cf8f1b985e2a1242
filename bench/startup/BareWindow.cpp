// The yardstick of the start-up benchmark: a bare Qt window of the
// maintenance window's size, reporting its first paint the same way.
#include <QApplication>
#include <QEvent>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {

class TFirstPaintProbe : public QObject {
public:
    using QObject::QObject;

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

} // namespace

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("Solvane Database Maintenance"));
    window.setFixedSize(572, 427);
    window.move(524, 166);
    TFirstPaintProbe probe;
    const char* bench = std::getenv("SLV_BENCH_FIRST_PAINT");
    if (bench != nullptr && *bench != '\0') {
        window.installEventFilter(&probe);
    }
    window.show();
    return QApplication::exec();
}
