// The program: the Qt application, the maintenance window, its message
// boxes and the watch on requests to end the program, until the window is
// closed.
#pragma once

#include <functional>

namespace app {
class TmainForm;
}

namespace gui {

class TQtHost;

// Runs the program and returns its exit code. `shown`, when given, is
// called once the window is shown, before the event loop starts (a test
// driver acts on the window through it).
int RunMaintenanceWindow(int argc, char* argv[],
                         const std::function<void(app::TmainForm&, TQtHost&)>& shown = {});

} // namespace gui
