// The maintenance window: its controls, its start-up reading of
// Environment.ini, the path choosers and the three commands. The window talks
// to its widgets only through the interfaces of app/Widgets.h, so the same
// logic runs under the Qt views and under the headless set of the tests.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/Widgets.h"
#include "rtl/Rtl.h"
#include "services/IB_Services.h"

namespace app {

class TOutputPane;
class TOutputReader;

// The application's title: the caption of the standard error display.
inline constexpr const char* ApplicationTitle = "Solvane Database Maintenance";

// The text the standard error display shows for a message: a full stop is
// appended when the last byte sorts after "." (so a text ending in a letter
// or in a Korean syllable gets one).
std::string ErrorDisplayText(const std::string& message);
// The standard error display: an error-icon box with one OK button (flags
// 16 through RKSys), titled ApplicationTitle.
void ShowException(const std::exception& error);
// The same for an error of unknown kind.
void ShowUnknownException();

// The file-open dialog of the window. Filter holds description|pattern pairs
// separated by "|".
class TOpenDialog {
public:
    std::string InitialDir;
    std::string Filter;
    std::string DefaultExt;
    std::string FileName;
    std::string Title;
    bool HideReadOnly = true;
    bool EnableSizing = true;
    bool FileMustExist = false;

    // Shows the dialog through the chooser; true and FileName set (with
    // DefaultExt added to a name typed without extension) when confirmed.
    bool Execute(IChoosers& choosers, IWidget* owner);

    static std::vector<TFileFilter> ParseFilter(const std::string& filter);
};

class TmainForm : public rtl::TComponent {
public:
    // Creates the window and its controls through the host's factory, the
    // backup service component, then runs FormCreate; an error in
    // FormCreate goes to the standard error display and the window is made
    // all the same.
    TmainForm(rtl::TComponent* owner, const TFormHost& host);
    ~TmainForm() override;

    // --- events -----------------------------------------------------------
    void FormCreate(IWidget* Sender);
    void btnBackupDBClick(IWidget* Sender);
    void btnRestoreDBClick(IWidget* Sender);
    void btnChangeServerClick(IWidget* Sender);
    void fbBackupClick(IWidget* Sender);
    void txtBackupPathPropertiesButtonClick(IWidget* Sender, int AButtonIndex);
    void txtDBFNPropertiesButtonClick(IWidget* Sender, int AButtonIndex);

    // --- operations -------------------------------------------------------
    // Restores the backup file chosen in lbBackupFN: beside the database file
    // (AsServer false) or over it on the local server (AsServer true).
    // True when the backup was restored completely; false when the routine
    // stopped at one of its messages (shown already). Server errors raise.
    bool RestoreDB(bool AsServer);
    // The folder chooser. true and Folder (ending in "/") when the user
    // confirmed a folder; false and an empty Folder otherwise.
    bool SelectFolder(std::string& Folder, IWidget* OwnerWindow, const std::string& Title,
                      const std::string& InitialFolder);

    // Shows the window.
    void Show() { FForm->Show(); }
    // Paints the whole window now, without handling other events.
    void Repaint() { FForm->Repaint(); }
    IFormView& Form() { return *FForm; }

    // Runs an event handler: an error it does not handle ends at the
    // standard error display and the window stays usable.
    static void RunEvent(const std::function<void()>& handler);
    // True while a handler run by RunEvent has not ended (a command, a
    // chooser, an error box).
    static bool EventRunning() noexcept;

    // Asks the window to close, as a request to end the program does. With
    // no event handler running the window closes now (true). Otherwise the
    // request is kept (CloseRequested) for the running command to see, and
    // false tells the caller to ask again once the handler has ended: the
    // window never closes under a handler's feet.
    bool RequestClose();
    bool CloseRequested() const noexcept { return FCloseRequested; }

    // The user closes the window or presses Esc. With nothing running the
    // window may close (true; Esc does nothing). During a command the window
    // stays (false) and the command is asked to stop: it asks the user
    // whether to stop where stopping is safe, and stops without asking when
    // the program is to end (RequestClose).
    bool CloseQuery();
    void EscapePressed();

    // One command at a time. While a command runs (Busy), every button, both
    // choosers and the file list are disabled and the user's input to the
    // window is dropped as it arrives; when it ends, input that waited is
    // dropped too before the controls take clicks again. An event that
    // reaches the window meanwhile does not start anything.
    class TCommandScope {
    public:
        explicit TCommandScope(TmainForm& form);
        ~TCommandScope();
        TCommandScope(const TCommandScope&) = delete;
        TCommandScope& operator=(const TCommandScope&) = delete;

    private:
        TmainForm& FForm;
    };
    bool Busy() const noexcept { return FCommandDepth > 0; }

    const std::string& DBSvrIP() const noexcept { return FDBSvrIP; }
    const std::string& BackupPath() const noexcept { return FBackupPath; }

    // --- the screen around the window -------------------------------------
    IScreen& Screen() { return *FHost.Screen; }
    IEventLoop& Events() { return *FHost.Events; }
    IClock& Clock() { return *FHost.Clock; }
    IChoosers& Choosers() { return *FHost.Choosers; }

private:
    TFormHost FHost;
    // The window is made first and goes last: it holds the toolkit's widgets.
    std::unique_ptr<IFormView> FForm;

public:
    // --- controls, in the order of the layout ------------------------------
    // The names are the suite's own; each one's role:
    std::unique_ptr<IGroupBox> gbMCDGSUP;       // upper group: database, backup folder, backup
    std::unique_ptr<ILabel> Label133;           // caption of txtDBFN
    std::unique_ptr<ILabel> Label1;             // caption of txtBackupPath
    std::unique_ptr<IButtonEdit> txtDBFN;       // the database file; its button picks one
    std::unique_ptr<IButtonEdit> txtBackupPath; // the backup folder; its button picks one
    std::unique_ptr<IButton> btnBackupDB;       // the backup command
    std::unique_ptr<IMemo> Memo1;               // the backup's output
    std::unique_ptr<IProgressBar> PBar;         // the backup's progress, shown while it runs
    std::unique_ptr<IGroupBox> cxGroupBox1;     // lower group: backup files, restore, make-server
    std::unique_ptr<ILabel> Label4;             // what the restore command does
    std::unique_ptr<ILabel> Label5;             // what the make-server command does (in red)
    std::unique_ptr<ILabel> lbBackupFN;         // the backup file chosen in fbBackup
    std::unique_ptr<IFileList> fbBackup;        // the files of the backup folder
    std::unique_ptr<IButton> btnRestoreDB;      // the restore command (beside the database)
    std::unique_ptr<IButton> btnChangeServer;   // the make-server command
    std::unique_ptr<IMemo> Memo2;               // the restore's output, over fbBackup while it runs
    std::unique_ptr<IProgressBar> PBar2;        // the restore's progress, shown while it runs
    // Owned by the window as a component; lives as long as the window.
    fib::TpFIBBackupService* pFIBBackupService1 = nullptr;
    // The file-open dialog of txtDBFN's button.
    TOpenDialog OpenDialog1;

private:
    void CreateControls();
    void WireEvents();
    // Runs the handler of a user's event, unless a command is running.
    void RunUserEvent(const std::function<void()>& handler);
    void SetControlsEnabled(bool enabled);
    // Between two steps of a command, after the window handled its events:
    // true when the command is to stop now. A request to end the program
    // stops it at once; the user's Esc or close asks `question` first
    // (Yes/No).
    bool StopWanted(const std::string& question);

    // Follows a started action's output as the reader brings it, the window
    // handling its events between batches (every few hundredths of a
    // second): shown in `pane` (when given), every line seen by `seen`
    // (when given). With a `question`, the user may stop it (StopWanted;
    // the reading paused while the user is asked). True once the output
    // has ended; false when the command is to stop, the rest not followed.
    using TLinesSeen = std::function<void(const std::vector<std::string>&)>;
    bool FollowOutput(TOutputReader& reader, TOutputPane* pane, const char* question,
                      const TLinesSeen& seen);
    // Stops the server's backup of the running command, ends the reading
    // and closes the connection; `servicePorts`: the connection's ports.
    void EndBackupOnServer(fib::TpFIBBackupService& service, TOutputReader& reader,
                           const std::vector<std::uint16_t>& servicePorts);
    // The user or a request to end the program asked to stop.
    bool StopRequested() const noexcept;

    // The restore routine's work; see MainFormCommands.cpp.
    struct TRestoreRun;
    TRestoreRun RunRestore(bool AsServer);
    void MakeServer();

    int FCommandDepth = 0;

    std::string FDBSvrIP;
    std::string FBackupPath;
    bool FCloseRequested = false;
    // The user asked to stop the running command (Esc, or a close).
    bool FStopAsked = false;
};

} // namespace app
