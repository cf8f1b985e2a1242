// The yardstick of the start-up benchmark: a bare Qt window of the
// maintenance window's size, reporting its first paint the same way.
#include <QApplication>
#include <QWidget>

#include "gui/FirstPaintProbe.h"

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("Solvane Database Maintenance"));
    window.setFixedSize(572, 427);
    window.move(524, 166);
    gui::TFirstPaintProbe probe;
    if (gui::TFirstPaintProbe::Requested()) {
        window.installEventFilter(&probe);
    }
    window.show();
    return QApplication::exec();
}
