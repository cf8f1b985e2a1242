// The yardsticks of the start-up benchmark: a bare Qt window of the
// maintenance window's size, reporting its first paint the same way. Built a
// second time with SLV_BENCH_ONE_LABEL, it shows one Korean label as well: the
// least a window that shows any text pays for the font system (font
// configuration, font database, the Korean font's glyphs).
#include <QApplication>
#include <QLabel>
#include <QWidget>

#include "gui/FirstPaintProbe.h"

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("Solvane Database Maintenance"));
    window.setFixedSize(572, 427);
    window.move(524, 166);
#ifdef SLV_BENCH_ONE_LABEL
    auto* label = new QLabel(QString::fromUtf8("백업위치의 파일들"), &window);
    label->move(17, 10);
#endif
    gui::TFirstPaintProbe probe;
    if (gui::TFirstPaintProbe::Requested()) {
        window.installEventFilter(&probe);
    }
    window.show();
    return QApplication::exec();
}
