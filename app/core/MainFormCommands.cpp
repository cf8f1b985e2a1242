// The window's three commands: backup, restore and make-server.
//
// Every command cleans up however it ends (buttons enabled again, bars and
// the restore output hidden, the pointer reset, nothing left attached). An
// error from the server ends the command at the standard error display with
// the server's own text; nothing is reported as complete unless it is.
#include "app/MainForm.h"

#include <exception>
#include <functional>
#include <memory>
#include <utility>

#include "app/Commands.h"
#include "app/DatabaseInUse.h"
#include "app/RKSysUtils.h"
#include "app/Settings.h"
#include "app/ProcessOps.h"
#include "app/Shell.h"
#include "platform/Files.h"

namespace app {

namespace {

constexpr const char* ErrorCaption = "에러";
constexpr const char* ChangeFailedCaption = "변경실패";
constexpr const char* ConfirmCloseCaption = "종료확인";

constexpr const char* NoBackupFolderText = "백업할 폴더를 먼저 정하세요";
constexpr const char* NoBackupFileText = "복원할 백업파일을 먼저 선택하세요";
constexpr const char* BadFileNameText = "파일이름이 올바르지 않습니다";
constexpr const char* IncompleteRestoreText = "복원이 완료되지 않았습니다. 백업파일을 확인하세요";
constexpr const char* CloseSolvaneText = "실행 중인 솔바네를 종료합니다";
constexpr const char* InUseSuffix = " 파일이 사용 중입니다";
constexpr const char* AsideExistsSuffix = " 파일이 이미 있습니다";

constexpr const char* SolvaneExe = "Solvane.exe";
constexpr const char* SLVServerExe = "SLVServer.exe";

// Pause of the make-server command while stopped programs let go of files.
constexpr int SettleMilliseconds = 1000;
// How often a restore asks whether the server's action still runs.
constexpr int RunningPollMilliseconds = 300;

// Runs a clean-up step when the scope is left, unless it was run already.
// Whatever the step raises while an error is on its way out is dropped, so
// the first error stays the one the user sees.
class TCleanup {
public:
    explicit TCleanup(std::function<void()> step) : FStep(std::move(step)) {}
    ~TCleanup() {
        if (FStep) {
            try {
                FStep();
            } catch (...) {
            }
        }
    }
    TCleanup(const TCleanup&) = delete;
    TCleanup& operator=(const TCleanup&) = delete;

    // Runs the step now; what it raises goes to the caller.
    void Run() {
        auto step = std::exchange(FStep, nullptr);
        if (step) {
            step();
        }
    }

private:
    std::function<void()> FStep;
};

void ShowError(const std::string& text, const std::string& caption) {
    RKSys->DlgUtils->ErrorMsg(text, caption, MB_OK_ERROR);
}

template <typename Service> void SetAccount(Service& service) {
    service.Params().Clear();
    service.Params().Add(ServiceUserLine);
    service.Params().Add(ServicePasswordLine);
}

// Closes a service connection that is still open, without letting a failing
// close hide the error that ended the command.
void DetachQuietly(fib::TpFIBCustomService& service) noexcept {
    try {
        service.SetActive(false);
    } catch (...) {
    }
}

} // namespace

// --- backup ----------------------------------------------------------------

void TmainForm::btnBackupDBClick(IWidget* /*Sender*/) {
    const std::string folder = rtl::Trim(txtBackupPath->Text());
    if (folder.empty()) {
        ShowError(NoBackupFolderText, ErrorCaption);
        return;
    }

    btnBackupDB->SetEnabled(false);
    TCleanup enableButton([this] { btnBackupDB->SetEnabled(true); });

    fib::TpFIBBackupService& service = *pFIBBackupService1;
    service.SetLoginPrompt(false);
    service.SetProtocol(fib::TProtocol::TCP);
    service.SetServerName(FDBSvrIP);

    service.SetDatabaseName(rtl::Trim(txtDBFN->Text()));
    WriteIniValue(SettingsFile, "SYSTEM", "DBPathDB", service.DatabaseName());

    SetAccount(service);

    const TDateTime now = Clock().Now();

    FBackupPath = folder;
    WriteIniValue(SettingsFile, "SYSSETUP", "DBBackPOS", FBackupPath);

    service.BackupFile().Clear();
    service.BackupFile().Add(JoinFolder(FBackupPath, BackupFileName(now)));

    service.SetOptions({fib::TBackupOption::IgnoreLimbo, fib::TBackupOption::NonTransportable});
    service.SetVerbose(true);

    Memo1->Clear();
    Memo1->Append("====== 백업 시작 ======");
    PBar->SetPosition(0);
    PBar->Show();

    // A refused connection leaves the command here with the server's text.
    service.Attach();

    try {
        service.ServiceStart();
        while (!service.EndOfOutput()) {
            Memo1->Append(service.ReadNextLine());
            PBar->StepBy(1);
            PBar->Repaint();
        }
        service.Detach();
    } catch (...) {
        // The backup failed: no end lines, the server's error goes on to
        // the standard error display once the window is tidy again.
        PBar->Hide();
        DetachQuietly(service);
        Screen().SetCursor(TCursor::Default);
        try {
            fbBackup->Update();
        } catch (...) {
        }
        throw;
    }

    PBar->Hide();
    service.SetActive(false);
    Screen().SetCursor(TCursor::Default);

    Memo1->Append("====== 백업 완료 ======");
    Memo1->Append("백업 원본파일: " + service.DatabaseName());
    Memo1->Append(" ");
    Memo1->Append("백업파일: " + service.BackupFile().Text());
    Memo1->Append(" ");

    fbBackup->Update();
    enableButton.Run();
}

// --- restore ---------------------------------------------------------------

bool TmainForm::RestoreDB(bool AsServer) {
    if (rtl::Trim(lbBackupFN->Caption()).empty()) {
        ShowError(NoBackupFileText, ErrorCaption);
        return false;
    }
    // A bare file name: looked up in the current folder, the list's folder.
    if (!platform::FileExists(lbBackupFN->Caption())) {
        ShowError(BadFileNameText, ErrorCaption);
        return false;
    }

    btnRestoreDB->SetEnabled(false);
    Screen().SetCursor(TCursor::HourGlass);
    fbBackup->Hide();
    Memo2->Show();
    PBar2->Show();
    Repaint();

    // One component per run, owned by the window and freed at the end.
    auto* service = new fib::TpFIBRestoreService(this);
    TCleanup cleanup([this, service] {
        delete service;
        fbBackup->Show();
        Memo2->Hide();
        PBar2->Hide();
        btnRestoreDB->SetEnabled(true);
        Screen().SetCursor(TCursor::Default);
    });

    std::string server = LocalServer;
    if (!AsServer) {
        server = ReadIniValue(SettingsFile, "SYSTEM", "DBSvrIP");
        if (server.empty()) {
            server = LocalServer;
        }
    }
    service->SetProtocol(fib::TProtocol::TCP);
    service->SetServerName(server);
    service->SetLoginPrompt(false);
    SetAccount(*service);
    service->SetVerbose(true);
    service->SetOptions({fib::TRestoreOption::Replace, fib::TRestoreOption::UseAllSpace});

    service->BackupFile().Clear();
    service->BackupFile().Add(JoinFolder(txtBackupPath->Text(), lbBackupFN->Caption()));

    const std::string target =
        AsServer ? rtl::Trim(txtDBFN->Text()) : RestoreTargetPath(txtDBFN->Text());
    service->DatabaseName().Add(target);

    PBar2->SetPosition(0);
    PBar2->Show();

    service->Attach();
    // However the restore ends, an open connection is closed before the
    // clean-up; a failed start or query has closed it already.
    TCleanup detach([service] {
        if (service->Active()) {
            service->Detach();
        }
    });

    service->SetPageBuffers(3000);
    service->SetPageSize(4096);
    service->ServiceStart();

    Memo2->Clear();
    Memo2->Append("====== 복원 시작 ======");
    Memo2->Append(" ");
    Memo2->Append("복원할 파일이름: " + rtl::Trim(lbBackupFN->Caption()));
    Memo2->Append(" ");

    bool finished = false;
    while (!service->EndOfOutput()) {
        const std::string line = service->ReadNextLine();
        finished = finished || IsRestoreClosingLine(line);
        Memo2->Append(line);
        Memo2->Repaint();
        PBar2->StepBy(1);
        PBar2->Repaint();
    }

    if (finished) {
        Memo2->Append("====== 복원 완료 ======");
        Memo2->Append("복원된 파일이름: " + target);
    }

    while (service->IsRunning()) {
        PBar2->Repaint();
        Events().Sleep(RunningPollMilliseconds);
    }

    detach.Run();
    cleanup.Run();

    if (!finished) {
        ShowError(IncompleteRestoreText, ErrorCaption);
        return false;
    }
    return true;
}

void TmainForm::btnRestoreDBClick(IWidget* /*Sender*/) {
    RestoreDB(false);
}

// --- make-server -------------------------------------------------------------

void TmainForm::btnChangeServerClick(IWidget* /*Sender*/) {
    // Everything that can be checked is checked before anything is stopped
    // or moved.
    const std::string chosen = lbBackupFN->Caption();
    if (rtl::Trim(chosen).empty()) {
        ShowError(NoBackupFileText, ErrorCaption);
        return;
    }
    if (!platform::FileExists(chosen)) {
        ShowError(BadFileNameText, ErrorCaption);
        return;
    }
    // The database path as the restore will write it.
    const std::string database = rtl::Trim(txtDBFN->Text());
    const std::string aside = AsideDatabasePath(database);
    if (platform::FileExists(aside)) {
        ShowError(aside + AsideExistsSuffix, ChangeFailedCaption);
        return;
    }

    if (IsProgramRunning(SolvaneExe)) {
        if (RKSys->DlgUtils->ConfirmMsg(CloseSolvaneText, ConfirmCloseCaption, MB_YESNO_QUESTION) ==
            IDNO) {
            return;
        }
        TerminateProgram(SolvaneExe);
    }
    if (IsProgramRunning(SLVServerExe)) {
        TerminateProgram(SLVServerExe);
    }

    Events().ProcessMessages();
    Events().Sleep(SettleMilliseconds);

    // Move the database aside, but only when nobody holds it open: a file
    // in use stays where it is and nothing is deleted.
    const std::string inUseText = txtDBFN->Text() + InUseSuffix;
    bool movedAside = false;
    if (platform::FileExists(database)) {
        if (DatabaseFileInUse(database) || !platform::RenameFile(database, aside)) {
            ShowError(inUseText, ChangeFailedCaption);
            return;
        }
        movedAside = true;
        // Opened in the moment before the move: put it back.
        if (DatabaseFileInUse(aside, database)) {
            platform::RenameFile(aside, database);
            ShowError(inUseText, ChangeFailedCaption);
            return;
        }
    }

    Events().ProcessMessages();
    Events().Sleep(SettleMilliseconds);

    if (platform::FileExists(database)) {
        // Something made a new file at the database path meanwhile; the
        // aside copy stays for the user.
        ShowError(inUseText, ChangeFailedCaption);
        return;
    }

    // A failed restore leaves the suite's database as it was: what the
    // restore wrote is removed and the aside copy moved back.
    const auto putBack = [&] {
        RKSys->FileUtils->DeleteFileIfExists(database);
        if (movedAside) {
            platform::RenameFile(aside, database);
        }
    };
    bool restored = false;
    try {
        restored = RestoreDB(true);
    } catch (...) {
        putBack();
        throw;
    }
    if (!restored) {
        putBack();
        return;
    }

    WriteIniValue(SettingsFile, "SYSTEM", "SvrIP", LocalServer);
    WriteIniValue(SettingsFile, "SYSTEM", "DBSvrIP", LocalServer);
    WriteIniValue(SettingsFile, "SYSTEM", "DBPathDB", database);
    WriteIniValue(SettingsFile, "SYSSETUP", "DBBackPOS", rtl::Trim(txtBackupPath->Text()));

    ShellOpen(ToolFolder() + SLVServerExe);
    ShellOpen(ToolFolder() + SolvaneExe);
}

} // namespace app
