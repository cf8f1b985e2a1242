// The program as it runs for a user, driven: once the window is shown it
// clicks "DB백업", and as soon as the first lines of the backup's output are
// in the box it asks the program to end (SIGTERM to itself, as a desktop
// logout would send it). When the program ends it prints the lines of the
// backup's box, each after "memo: ", for the test that started it.
#include <QApplication>
#include <QPlainTextEdit>
#include <QTimer>

#include <csignal>
#include <cstdio>

#include "app/MainForm.h"
#include "gui/Application.h"
#include "gui/QtViews.h"

int main(int argc, char* argv[]) {
    return gui::RunMaintenanceWindow(argc, argv, [](app::TmainForm& form, gui::TQtHost&) {
        auto* memo = qobject_cast<QPlainTextEdit*>(gui::TQtHost::QtWidget(form.Memo1.get()));
        // The two lines of the start, then the server's first batch.
        QObject::connect(memo, &QPlainTextEdit::blockCountChanged, memo, [](int blocks) {
            static bool sent = false;
            if (blocks > 2 && !sent) {
                sent = true;
                std::raise(SIGTERM);
            }
        });
        QObject::connect(qApp, &QCoreApplication::aboutToQuit, memo, [&form] {
            for (const std::string& line : form.Memo1->Lines()) {
                std::printf("memo: %s\n", line.c_str());
            }
            std::fflush(stdout);
        });
        QTimer::singleShot(0, memo, [&form] { form.btnBackupDB->Click(); });
    });
}
