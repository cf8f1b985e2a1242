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

    // --- IEventLoop: while input is blocked, the keys and mouse clicks
    // meant for the window or its controls are taken from the queue and
    // dropped; the window's frame (moving it, its close button) and every
    // other window (message boxes, dialogs) keep theirs. ---
    void ProcessMessages() override;
    void Sleep(int milliseconds) override;
    void SetInputBlocked(bool blocked) override { FInputBlocked = blocked; }
    bool InputBlocked() const { return FInputBlocked; }
    void DiscardPendingInput() override;

    // A request to end the program (WM_CLOSE from another program, the end
    // of the user's session) goes to the window's logic through this hook:
    // true when the window closed, false when it must wait for a running
    // command (which stops without asking), in which case a box the command
    // shows is answered as its close box would answer it (Cancel, No, OK)
    // and the request is made again every CloseRetryMilliseconds until it
    // is granted. Without the hook the window closes at once.
    std::function<bool()> OnCloseRequest;
    static constexpr UINT CloseRetryMilliseconds = 100;
    // The window's answer to a request to end the program (called by its
    // window procedure).
    void CloseRequested();
    // The user's own close (the close box, Alt+F4, the system menu): the
    // form's close query decides first (during a command the window stays
    // and the command is asked to stop); granted, the window closes as on
    // CloseRequested. Also while the window takes no other input.
    void UserClose();
    // Esc pressed in the window while it takes no other input (a command
    // runs): to the form's Esc handling, to no control.
    void EscapePressed();
    // The user's session is about to end: true when it may end now. While
    // a command runs, false, and the command is stopped as on a request to
    // end the program; the window closes once it has ended.
    bool QueryEndSession();

    // --- IClock ---
    app::TDateTime Now() const override { return app::SystemNow(); }

    // Runs the message loop until the window is closed; returns the exit
    // code of the quit message.
    int Run();

private:
    // Takes one message and hands it on unless it is input to drop; false
    // when the queue is empty (or a quit message was put back for the
    // outer loop).
    bool PumpOne(bool dropInput);
    bool IsInputForWindow(const MSG& message) const;
    // Esc and Alt+F4 among the input dropped while a command runs: handed
    // to the form's logic.
    void StopKey(const MSG& message);
    // The window's form view (after CreateForm).
    app::IFormView* Form() const;

    HWND FWindow = nullptr;
    app::TCursor FCursor = app::TCursor::Default;
    bool FInputBlocked = false;
};

// The Windows message box behind RKSys->DlgUtils: application-modal, owned by
// the active window, with the caption, buttons and icon of the flags; returns
// the code of the button pressed (0 when no box could be shown). The window
// that was active and the focus are restored afterwards.
int ShowWin32MessageBox(const std::string& text, const std::string& caption, int flags);
void InstallWin32MessageBoxPresenter();

} // namespace win32gui
