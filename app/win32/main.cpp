// Solvane Database Maintenance on Windows: start-up of the process.
#include "app/MainForm.h"
#include "app/RKSysUtils.h"
#include "win32gui/Win32Views.h"

int main() {
    win32gui::InstallWin32MessageBoxPresenter();
    int result = 0;
    {
        win32gui::TWin32Host host;
        // The window belongs to an application component, as its service
        // component belongs to the window.
        rtl::TComponent owner(nullptr);
        auto* mainForm = new app::TmainForm(&owner, host.Host());
        mainForm->Show();
        result = host.Run();
    } // the window and its components go here
    app::SetMessageBoxPresenter(nullptr);
    return result;
}
