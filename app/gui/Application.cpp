// Start-up of the process.
#include "gui/Application.h"

#include <QApplication>
#include <QFont>
#include <QLibraryInfo>
#include <QTranslator>
#include <QWidget>

#include <clocale>
#include <cstdio>
#include <cstdlib>

#include "app/MainForm.h"
#include "app/RKSysUtils.h"
#include "gui/FirstPaintProbe.h"
#include "gui/QtViews.h"
#include "gui/TerminationWatch.h"

namespace gui {

namespace {

bool HasEnv(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
}

} // namespace

int RunMaintenanceWindow(int argc, char* argv[],
                         const std::function<void(app::TmainForm&, TQtHost&)>& shown) {
    // File names with non-ASCII characters reach the client library in the
    // user's locale.
    std::setlocale(LC_ALL, "");

    if (!HasEnv("DISPLAY") && !HasEnv("WAYLAND_DISPLAY") && !HasEnv("QT_QPA_PLATFORM")) {
        std::fprintf(stderr,
                     "No display found: neither DISPLAY nor WAYLAND_DISPLAY is set. Start the "
                     "tool in a desktop session, or set QT_QPA_PLATFORM (for example "
                     "QT_QPA_PLATFORM=offscreen).\n");
        return 2;
    }

    QApplication application(argc, argv);
    QApplication::setApplicationName(QString::fromUtf8(app::ApplicationTitle));
    QApplication::setFont(WindowFont());

    // Korean texts in Qt's own dialogs and message boxes.
    QTranslator translator;
    if (translator.load(QStringLiteral("qtbase_ko"),
                        QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QApplication::installTranslator(&translator);
    }

    InstallQtMessageBoxPresenter();
    int result = 0;
    {
        TQtHost host;
        // The window belongs to an application component, as its service
        // component belongs to the window.
        rtl::TComponent owner(nullptr);
        auto* mainForm = new app::TmainForm(&owner, host.Host());

        // A request to end the program (a desktop logout sends SIGTERM)
        // closes the window from the event loop; a command in flight stops
        // first.
        TTerminationWatch termination(*mainForm);

        // With SLV_BENCH_FIRST_PAINT set, the window reports its first paint
        // on stdout and the process ends: the start-up benchmark reads it.
        TFirstPaintProbe probe;
        if (TFirstPaintProbe::Requested()) {
            host.Window()->installEventFilter(&probe);
        }
        mainForm->Show();
        if (shown) {
            shown(*mainForm, host);
        }
        result = QApplication::exec();
    } // the window and its components go here
    app::SetMessageBoxPresenter(nullptr);
    return result;
}

} // namespace gui
