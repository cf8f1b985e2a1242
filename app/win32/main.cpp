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
        // Requests to end the program (another program's WM_CLOSE, the end
        // of the session) go through the window's logic, which stops a
        // running command first; the user's own close and Esc reach it
        // through the form's close query and Esc handling.
        host.OnCloseRequest = [mainForm] { return mainForm->RequestClose(); };
        mainForm->Show();
        result = host.Run();
    } // the window and its components go here
    app::SetMessageBoxPresenter(nullptr);
    return result;
}
