// The native Win32 front end of the maintenance window: each widget
// interface of app/Widgets.h implemented thinly by a standard Windows control
// (the window's logic stays in TmainForm), the shell's folder browser and the
// common file-open dialog, the busy pointer, the message loop and the
// Windows message box behind RKSys.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>

#include "app/Widgets.h"

namespace win32gui {

// The window's font: 12 pixels high, the first Korean face installed of
// "맑은 고딕", "Gulim" and NanumGothic, else Tahoma. Made once.
HFONT WindowFont();
// The face WindowFont() chose, in UTF-8.
std::string WindowFontFace();

class TWin32Host : public app::IWidgetFactory,
                   public app::IChoosers,
                   public app::IScreen,
                   public app::IEventLoop,
                   public app::IClock {
public:
    TWin32Host();
    ~TWin32Host() override;
    TWin32Host(const TWin32Host&) = delete;
    TWin32Host& operator=(const TWin32Host&) = delete;

    app::TFormHost Host();

    // The window (after CreateForm).
    HWND Window() const { return FWindow; }
    // The control behind an interface this factory made (nullptr: none).
    static HWND WindowOf(app::IWidget* widget);

    // --- IWidgetFactory ---
    std::unique_ptr<app::IFormView> CreateForm(const app::TControlDef& def) override;
    std::unique_ptr<app::IGroupBox> CreateGroupBox(app::IWidget* parent,
                                                   const app::TControlDef& def) override;
    std::unique_ptr<app::ILabel> CreateLabel(app::IWidget* parent,
                                             const app::TControlDef& def) override;
    std::unique_ptr<app::IButtonEdit> CreateButtonEdit(app::IWidget* parent,
                                                       const app::TControlDef& def) override;
    std::unique_ptr<app::IButton> CreateButton(app::IWidget* parent,
                                               const app::TControlDef& def) override;
    std::unique_ptr<app::IMemo> CreateMemo(app::IWidget* parent,
                                           const app::TControlDef& def) override;
    std::unique_ptr<app::IProgressBar> CreateProgressBar(app::IWidget* parent,
                                                         const app::TControlDef& def) override;
    std::unique_ptr<app::IFileList> CreateFileList(app::IWidget* parent,
                                                   const app::TControlDef& def) override;

    // --- IChoosers: the shell's folder browser and the common file-open
    // dialog. Tests replace them through these hooks (nullptr: the real
    // dialogs). ---
    std::function<bool(const app::TFolderBrowseRequest&, std::string&)> OnBrowseForFolder;
    std::function<bool(const app::TOpenDialogRequest&, std::string&)> OnOpenDialog;
    bool BrowseForFolder(const app::TFolderBrowseRequest& request, std::string& folder) override;
    bool ExecuteOpenDialog(const app::TOpenDialogRequest& request, std::string& fileName) override;

    // --- IScreen: the pointer over the window while it is busy ---
    app::TCursor Cursor() const override { return FCursor; }
    void SetCursor(app::TCursor value) override;

    // --- IEventLoop ---
    void ProcessMessages() override;
    void Sleep(int milliseconds) override;

    // --- IClock ---
    app::TDateTime Now() const override { return app::SystemNow(); }

    // Runs the message loop until the window is closed; returns the exit
    // code of the quit message.
    int Run();

private:
    HWND FWindow = nullptr;
    app::TCursor FCursor = app::TCursor::Default;
};

// The Windows message box behind RKSys->DlgUtils: application-modal, owned by
// the active window, with the caption, buttons and icon of the flags; returns
// the code of the button pressed (0 when no box could be shown). The window
// that was active and the focus are restored afterwards.
int ShowWin32MessageBox(const std::string& text, const std::string& caption, int flags);
void InstallWin32MessageBoxPresenter();

} // namespace win32gui
