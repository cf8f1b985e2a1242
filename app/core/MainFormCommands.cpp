// The window's three commands: backup, restore and make-server.
//
// Every command cleans up however it ends (buttons enabled again, bars and
// the restore output hidden, the pointer reset, nothing left attached). An
// error from the server ends the command at the standard error display with
// the server's own text; nothing is reported as complete unless it is.
//
// Nothing is lost: the server writes backups and restores under a name of
// their own, and the finished file takes its final name only once it is
// complete, so a failed run never replaces an earlier file. Make-server
// checks everything it needs before it stops or moves anything, never lets
// the server overwrite a database, and puts the old database back before it
// says that something failed.
//
// The server's output is read in batches and painted at a bounded rate; the
// window handles its events between batches (it can be moved and redrawn,
// and the user may ask to stop), its controls disabled and other input
// dropped. A command stops where stopping leaves the user's database as it
// was: a backup at once (the server's backup is ended, its file removed), a
// restore beside the database by removing its half-made file, make-server
// by letting the server end its restore (the server does not stop a restore
// it has begun), removing what it made and putting the database back.
#include "app/MainForm.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <exception>
#include <functional>
#include <memory>
#include <utility>

#include "app/Commands.h"
#include "app/DatabaseInUse.h"
#include "app/OutputPane.h"
#include "app/ProcessOps.h"
#include "app/RKSysUtils.h"
#include "app/ServerDatabase.h"
#include "app/Settings.h"
#include "app/Shell.h"
#include "platform/Files.h"
#include "platform/Host.h"

namespace app {

namespace {

constexpr const char* ErrorCaption = "에러";
constexpr const char* ChangeFailedCaption = "변경실패";
constexpr const char* ConfirmCloseCaption = "종료확인";
constexpr const char* RestoreDoneCaption = "복원완료";
constexpr const char* ChangeDoneCaption = "변경완료";
constexpr const char* RestoreCancelledCaption = "복원취소";
constexpr const char* ChangeCancelledCaption = "변경취소";

constexpr const char* NoBackupFolderText = "백업할 폴더를 먼저 정하세요";
constexpr const char* NoBackupFileText = "복원할 백업파일을 먼저 선택하세요";
constexpr const char* BadFileNameText = "파일이름이 올바르지 않습니다";
constexpr const char* IncompleteRestoreText = "복원이 완료되지 않았습니다. 백업파일을 확인하세요";
constexpr const char* CloseSolvaneText = "실행 중인 솔바네를 종료합니다";
constexpr const char* InUseSuffix = " 파일이 사용 중입니다";
constexpr const char* AsideExistsSuffix = " 파일이 이미 있습니다";
constexpr const char* NothingChangedText = "아무것도 바꾸지 않았습니다.";
constexpr const char* StillStoppedText = "솔바네와 SLVServer는 멈춘 채로 있습니다.";

// Stopping a running command: the questions, and what is said afterwards.
constexpr const char* StopBackupText = "백업을 중단할까요?";
constexpr const char* StopRestoreText = "복원을 중단할까요?\n만들던 DB파일은 지웁니다.";
constexpr const char* StopMakeServerText =
    "서버로 만들기를 중단할까요?\n이전 DB파일을 원래 자리에 되돌려 놓습니다.";
constexpr const char* ServerFinishesRestoreLine =
    "DB서버는 시작한 복원을 중간에 멈추지 않습니다. 복원이 끝나면 만든 파일을 지웁니다...";
constexpr const char* RestoreCancelledText = "복원을 중단했습니다.";
constexpr const char* WorkRemovedText = " 만들던 DB파일은 지웠습니다.";
constexpr const char* ChangeCancelledText = "서버로 만들기를 중단했습니다.";

constexpr const char* SolvaneExe = "Solvane.exe";
constexpr const char* SLVServerExe = "SLVServer.exe";

// Pause of the make-server command while stopped programs let go of files.
constexpr int SettleMilliseconds = 1000;
// How long ended programs may take to go away.
constexpr int ProgramEndMilliseconds = 5000;
// How often a restore asks whether the server's action still runs once its
// output has ended: the server is usually done at once or within a moment,
// and each question is one short round trip.
constexpr int RunningPollMilliseconds = 25;

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

void ShowInformation(const std::string& text, const std::string& caption) {
    RKSys->DlgUtils->MsgBox(text, caption, MB_OK_INFORMATION);
}

std::string ConnectingLine(const std::string& server) {
    return "서버에 연결하는 중입니다: " + server;
}

template <typename Service> void SetAccount(Service& service) {
    service.Params().Clear();
    AddServiceAccount(service.Params());
}

// Closes a service connection that is still open, without letting a failing
// close hide the error that ended the command.
void DetachQuietly(fib::TpFIBCustomService& service) noexcept {
    try {
        service.SetActive(false);
    } catch (...) {
    }
}

// Rereads a file list after a command; a folder that cannot be read now
// must not hide how the command ended.
void UpdateQuietly(IFileList& list) noexcept {
    try {
        list.Update();
    } catch (...) {
    }
}

std::string ErrorTextOf(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
    }
    return "An error of unknown kind occurred";
}

// Removes a file the server made for a run that failed. The tool deletes it
// when it can; a database the tool cannot see or may not delete is dropped
// through the server that made it. True when nothing is left.
bool RemoveServersFile(const std::string& server, const std::string& path, bool isDatabase,
                       std::string& reason) {
    reason.clear();
    const platform::TPathProbe probe = platform::ProbePath(path);
    if (probe.Kind == platform::TPathKind::Missing) {
        return true;
    }
    if (probe.Kind == platform::TPathKind::File) {
        if (platform::RemoveFile(path)) {
            return true;
        }
        reason = platform::ErrorText(errno);
    } else {
        reason = probe.Kind == platform::TPathKind::Unknown ? probe.Reason : "not a plain file";
    }
    if (isDatabase) {
        std::string why;
        if (DropDatabaseThroughServer(server, path, why)) {
            return true;
        }
        reason += "; " + why;
    }
    return false;
}

std::string NotRemovedText(const std::string& path, const std::string& reason) {
    return path + " 파일(실패한 작업이 남긴 파일)을 지우지 못했습니다 (" + reason + ").";
}

// The ports in `after` that are not in `before`.
std::vector<std::uint16_t> NewPorts(std::vector<std::uint16_t> after,
                                    const std::vector<std::uint16_t>& before) {
    std::erase_if(after, [&](std::uint16_t port) {
        return std::find(before.begin(), before.end(), port) != before.end();
    });
    return after;
}

} // namespace

// --- a started action's output ------------------------------------------------

namespace {
// How long the window waits for lines before it handles its events again.
constexpr std::chrono::milliseconds TakeWait = TRepaintThrottle::DefaultInterval;
} // namespace

bool TmainForm::StopRequested() const noexcept {
    return FCloseRequested || FStopAsked;
}

bool TmainForm::FollowOutput(TOutputReader& reader, TOutputPane* pane, const char* question,
                             const TLinesSeen& seen) {
    std::vector<std::string> batch;
    bool ended = false;
    while (!ended) {
        batch.clear();
        ended = !reader.Take(batch, TakeWait);
        if (seen) {
            seen(batch);
        }
        if (pane != nullptr) {
            pane->Add(std::move(batch));
        }
        if (ended) {
            break;
        }
        Events().ProcessMessages();
        if (question != nullptr && StopRequested()) {
            // The server waits while the user makes up their mind.
            reader.SetPaused(true);
            const bool stop = StopWanted(question);
            reader.SetPaused(false);
            if (stop) {
                break;
            }
        }
    }
    if (pane != nullptr) {
        pane->Flush();
    }
    return ended;
}

void TmainForm::EndBackupOnServer(fib::TpFIBBackupService& service, TOutputReader& reader,
                                  const std::vector<std::uint16_t>& servicePorts) {
    // Closing the service connection would not stop the server's backup: it
    // goes on to its end, its attachment and transaction with it. Ending
    // that attachment stops it at once; the server then removes its file
    // and reports the end ("connection shutdown") to the reader. Should the
    // attachment not be found, the backup is read to its end instead, so
    // that nothing writes the file any more once it is removed.
    std::string reason;
    static_cast<void>(
        EndServiceAttachments(service.ServerName(), service.DatabaseName(), servicePorts, reason));
    try {
        FollowOutput(reader, nullptr, nullptr, nullptr);
    } catch (...) {
        // The server's word that the backup ended early.
    }
    reader.Stop();
    DetachQuietly(service);
}

// --- backup ----------------------------------------------------------------

void TmainForm::btnBackupDBClick(IWidget* /*Sender*/) {
    const std::string folder = rtl::Trim(txtBackupPath->Text());
    if (folder.empty()) {
        ShowError(NoBackupFolderText, ErrorCaption);
        return;
    }

    TCommandScope scope(*this);
    TCleanup pointer([this] { Screen().SetCursor(TCursor::Default); });

    fib::TpFIBBackupService& service = *pFIBBackupService1;
    service.SetLoginPrompt(false);
    service.SetProtocol(fib::TProtocol::TCP);
    service.SetServerName(FDBSvrIP);

    service.SetDatabaseName(rtl::Trim(txtDBFN->Text()));
    WriteIniValue(SettingsFile, SystemSection, DBPathDBKey, service.DatabaseName());

    SetAccount(service);

    const TDateTime now = Clock().Now();

    FBackupPath = folder;
    WriteIniValue(SettingsFile, SetupSection, DBBackPOSKey, FBackupPath);

    // Where the server is this computer, a folder it cannot use is named
    // here instead of the server's "Cannot open backup file".
    if (platform::NamesThisComputer(ServerHost(FDBSvrIP))) {
        const platform::TPathProbe probe = platform::ProbePath(FBackupPath);
        if (!platform::DirectoryExists(FBackupPath) && probe.Kind != platform::TPathKind::Unknown) {
            ShowError(FBackupPath + " 폴더가 없습니다. 백업위치를 확인하세요", ErrorCaption);
            return;
        }
        platform::TProcessUser serverUser;
        std::string where;
        if (FindDatabaseServerUser(serverUser) &&
            platform::UserMayWriteFolder(serverUser, FBackupPath, where) ==
                platform::TAccess::Denied) {
            const std::string who =
                serverUser.Name.empty() ? "uid " + std::to_string(serverUser.Uid) : serverUser.Name;
            ShowError("DB서버(사용자 " + who + ")가 " + FBackupPath +
                          " 폴더에 백업파일을 쓸 수 없습니다 (" + where +
                          "). 폴더의 권한을 확인하세요",
                      ErrorCaption);
            return;
        }
    }

    // The server writes a file of its own; only a complete backup takes the
    // final name, so a failed one never replaces an earlier backup. That
    // needs a folder where this program may rename: a folder that only the
    // server can use (on another computer, or closed to this program's
    // user) gets the final name at once, as nothing here could rename it.
    const std::string finalName = JoinFolder(FBackupPath, BackupFileName(now));
    std::string notChangeable;
    const bool mayRename = platform::CanChangeFolder(FBackupPath, notChangeable);
    const std::string workName = mayRename ? WorkInProgressPath(finalName) : finalName;
    service.BackupFile().Clear();
    service.BackupFile().Add(workName);

    service.SetOptions({fib::TBackupOption::IgnoreLimbo, fib::TBackupOption::NonTransportable});
    service.SetVerbose(true);

    Memo1->Clear();
    Memo1->Append("====== 백업 시작 ======");
    Memo1->Append(ConnectingLine(FDBSvrIP));
    PBar->SetPosition(0);
    PBar->Show();
    Screen().SetCursor(TCursor::HourGlass);
    Repaint();

    // A refused connection leaves the command here with the server's text;
    // nothing was written then. The connection's port is kept: the server
    // names the backup's attachment after it, which is how a cancel finds it.
    const std::vector<std::uint16_t> portsBefore = platform::OwnTcpConnectionPorts();
    service.Attach();
    const std::vector<std::uint16_t> servicePorts =
        NewPorts(platform::OwnTcpConnectionPorts(), portsBefore);

    TOutputPane pane(*Memo1, *PBar);
    bool cancelled = false;
    try {
        service.ServiceStart();
        TOutputReader reader(service);
        cancelled = !FollowOutput(reader, &pane, StopBackupText, nullptr);
        if (cancelled) {
            EndBackupOnServer(service, reader, servicePorts);
        } else {
            reader.Stop();
            service.Detach();
        }
    } catch (...) {
        // The backup failed: no end lines, the server's error goes on to
        // the standard error display once the window is tidy again, with
        // word of a file the tool could not clear away.
        const std::exception_ptr error = std::current_exception();
        pane.Flush();
        PBar->Hide();
        DetachQuietly(service);
        Screen().SetCursor(TCursor::Default);
        std::string reason;
        const bool removed = RemoveServersFile(FDBSvrIP, workName, false, reason);
        UpdateQuietly(*fbBackup);
        if (removed) {
            std::rethrow_exception(error);
        }
        throw rtl::Exception(ErrorTextOf(error) + "\n" + NotRemovedText(workName, reason));
    }

    PBar->Hide();
    service.SetActive(false);
    Screen().SetCursor(TCursor::Default);

    if (cancelled) {
        // Stopped by the user or by a request to end the program: nothing
        // of it stays.
        std::string reason;
        const bool removed = RemoveServersFile(FDBSvrIP, workName, false, reason);
        Memo1->Append("====== 백업 취소 ======");
        UpdateQuietly(*fbBackup);
        if (!removed) {
            ShowError(NotRemovedText(workName, reason), ErrorCaption);
        }
        return;
    }

    std::string savedAs = finalName;
    std::string renameFailure;
    if (workName != finalName && !platform::ReplaceFileByRename(workName, finalName)) {
        renameFailure = platform::ErrorText(errno);
        savedAs = workName;
    }

    Memo1->Append("====== 백업 완료 ======");
    Memo1->Append("백업 원본파일: " + service.DatabaseName());
    Memo1->Append(" ");
    Memo1->Append("백업파일: " + savedAs + "\n");
    Memo1->Append(" ");

    UpdateQuietly(*fbBackup);
    if (!renameFailure.empty()) {
        ShowError("백업은 끝났지만 " + workName + " 파일의 이름을 " + finalName +
                      "(으)로 바꾸지 못했습니다 (" + renameFailure + "). 백업은 " + workName +
                      " 파일에 있습니다",
                  ErrorCaption);
    }
}

// --- restore ---------------------------------------------------------------

struct TmainForm::TRestoreRun {
    enum TEnd {
        Complete,   // restored, under its final name
        Stopped,    // stopped at a message that was shown already
        Incomplete, // the server's output ended early, without an error
        Failed,     // an error; Error holds it
        Cancelled,  // stopped on request; what it made is removed
    };
    TEnd End = Stopped;
    std::exception_ptr Error;
    std::string Target;
    // What the user must know beside the error: a file that could not be
    // cleared away, or why the server refused to write (empty: nothing).
    std::string Note;
};

TmainForm::TRestoreRun TmainForm::RunRestore(bool AsServer) {
    TRestoreRun run;
    if (rtl::Trim(lbBackupFN->Caption()).empty()) {
        ShowError(NoBackupFileText, ErrorCaption);
        return run;
    }
    // A bare file name: looked up in the current folder, the list's folder.
    if (!platform::FileExists(lbBackupFN->Caption())) {
        ShowError(BadFileNameText, ErrorCaption);
        return run;
    }

    std::string server = LocalServer;
    if (!AsServer) {
        server = ReadIniValue(SettingsFile, SystemSection, DBSvrIPKey);
        if (server.empty()) {
            server = LocalServer;
        }
    }
    const std::string target =
        AsServer ? rtl::Trim(txtDBFN->Text()) : RestoreTargetPath(txtDBFN->Text());
    run.Target = target;

    // Where the server writes. Beside the database, a name of its own that
    // takes the target's place once the restore is complete, when this
    // program may rename there; otherwise the target itself, which the
    // server then creates and never overwrites. Make-server's restore goes
    // onto the database path, which must be free by then: the server is
    // told to create, never to replace.
    std::string writeTo = target;
    fib::TRestoreOptions options{fib::TRestoreOption::CreateNewDB,
                                 fib::TRestoreOption::UseAllSpace};
    bool workFile = false;
    if (!AsServer) {
        const platform::TPathProbe probe = platform::ProbePath(target);
        if (probe.Kind == platform::TPathKind::Folder || probe.Kind == platform::TPathKind::Other) {
            ShowError(target + " 자리에 파일이 아닌 것(폴더나 링크)이 있어 복원할 수 없습니다",
                      ErrorCaption);
            return run;
        }
        const std::string folder = platform::FolderOf(target);
        std::string why;
        if (platform::DirectoryExists(folder) && platform::CanChangeFolder(folder, why)) {
            writeTo = WorkInProgressPath(target);
            workFile = true;
            options = {fib::TRestoreOption::Replace, fib::TRestoreOption::UseAllSpace};
        }
    }

    TCommandScope scope(*this);
    Screen().SetCursor(TCursor::HourGlass);
    fbBackup->Hide();
    Memo2->Clear();
    Memo2->Append(ConnectingLine(server));
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
        Screen().SetCursor(TCursor::Default);
    });

    service->SetProtocol(fib::TProtocol::TCP);
    service->SetServerName(server);
    service->SetLoginPrompt(false);
    SetAccount(*service);
    service->SetVerbose(true);
    service->SetOptions(options);

    service->BackupFile().Clear();
    service->BackupFile().Add(JoinFolder(txtBackupPath->Text(), lbBackupFN->Caption()));
    service->DatabaseName().Add(writeTo);

    PBar2->SetPosition(0);
    PBar2->Show();

    bool created = false;
    bool finished = false;
    // Stopped by the user or by a request to end the program; the half-made
    // file removed at once (the server finishes its restore on its own).
    bool cancelled = false;
    bool removedAtOnce = false;
    const auto look = [&](const std::vector<std::string>& lines) {
        for (const std::string& line : lines) {
            created = created || IsDatabaseCreatedLine(line);
            finished = finished || IsRestoreClosingLine(line);
        }
    };
    try {
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

        TOutputPane pane(*Memo2, *PBar2);
        TOutputReader reader(*service);
        cancelled =
            !FollowOutput(reader, &pane, AsServer ? StopMakeServerText : StopRestoreText, look);
        if (cancelled) {
            // A restore goes on to its end on the server, whatever the
            // client does. Where the half-made file is this run's own work
            // file and the system lets it go while the server writes, it
            // goes now and the server's work with it; otherwise (the
            // database path of make-server, or a file only the server can
            // remove) the server is let finish first.
            Memo2->Append("====== 복원 취소 ======");
            removedAtOnce = workFile && platform::RemoveFile(writeTo);
            if (!removedAtOnce) {
                Memo2->Append(ServerFinishesRestoreLine);
                Memo2->Repaint();
                FollowOutput(reader, nullptr, nullptr, look);
            }
        } else if (finished) {
            Memo2->Append("====== 복원 완료 ======");
            Memo2->Append("복원된 파일이름: " + target);
        }
        reader.Stop();

        while (!removedAtOnce && service->IsRunning()) {
            PBar2->Repaint();
            Events().ProcessMessages();
            Events().Sleep(RunningPollMilliseconds);
        }
        detach.Run();
    } catch (...) {
        run.Error = std::current_exception();
    }
    cleanup.Run();

    if (removedAtOnce) {
        run.End = TRestoreRun::Cancelled;
        return run;
    }
    if (!run.Error && finished && !cancelled) {
        if (workFile && !platform::ReplaceFileByRename(writeTo, target)) {
            ShowError("복원은 끝났지만 " + writeTo + " 파일의 이름을 " + target +
                          "(으)로 바꾸지 못했습니다 (" + platform::ErrorText(errno) +
                          "). 복원된 DB는 " + writeTo + " 파일에 있습니다",
                      ErrorCaption);
            run.End = TRestoreRun::Stopped;
            return run;
        }
        run.End = TRestoreRun::Complete;
        return run;
    }

    // Failed or incomplete: what this run made goes, and only that: its own
    // work name, or the file the server says it created. Anything else at
    // the target stays (a put-back then names both paths).
    if (workFile || created) {
        std::string reason;
        if (!RemoveServersFile(server, writeTo, true, reason)) {
            run.Note = NotRemovedText(writeTo, reason);
        }
    }
    if (!AsServer && !workFile && run.Error && !cancelled && !created && run.Note.empty()) {
        run.Note = "이 프로그램은 " + platform::FolderOf(target) +
                   " 폴더에서 파일 이름을 바꿀 수 없어 " + target +
                   " 에 바로 복원하려 했습니다. 그 이름의 파일이 이미 있으면 DB서버는 그 파일을 "
                   "덮어쓰지 않습니다.";
    }
    run.End = cancelled   ? TRestoreRun::Cancelled
              : run.Error ? TRestoreRun::Failed
                          : TRestoreRun::Incomplete;
    return run;
}

bool TmainForm::RestoreDB(bool AsServer) {
    const TRestoreRun run = RunRestore(AsServer);
    switch (run.End) {
    case TRestoreRun::Complete:
        if (!AsServer) {
            ShowInformation("복원이 완료되었습니다.\n새 DB파일: " + run.Target, RestoreDoneCaption);
        }
        return true;
    case TRestoreRun::Stopped:
        return false;
    case TRestoreRun::Incomplete:
        ShowError(run.Note.empty() ? std::string(IncompleteRestoreText)
                                   : IncompleteRestoreText + std::string("\n") + run.Note,
                  ErrorCaption);
        return false;
    case TRestoreRun::Cancelled:
        if (!CloseRequested()) {
            if (run.Note.empty()) {
                ShowInformation(RestoreCancelledText + std::string(WorkRemovedText),
                                RestoreCancelledCaption);
            } else {
                ShowError(RestoreCancelledText + std::string("\n") + run.Note,
                          RestoreCancelledCaption);
            }
        }
        return false;
    case TRestoreRun::Failed:
        break;
    }
    if (run.Note.empty()) {
        std::rethrow_exception(run.Error);
    }
    throw rtl::Exception(ErrorTextOf(run.Error) + "\n" + run.Note);
}

void TmainForm::btnRestoreDBClick(IWidget* /*Sender*/) {
    RestoreDB(false);
}

// --- make-server -------------------------------------------------------------

void TmainForm::btnChangeServerClick(IWidget* /*Sender*/) {
    TCommandScope scope(*this);
    MakeServer();
}

void TmainForm::MakeServer() {
    const auto refuse = [](const std::string& text) {
        ShowError(text + "\n" + NothingChangedText, ChangeFailedCaption);
    };

    // Everything the command needs is checked before anything is stopped
    // or moved. A path this program cannot look at is never taken for a
    // missing one.
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
    const std::string folder = platform::FolderOf(database);

    const platform::TPathProbe databaseProbe = platform::ProbePath(database);
    switch (databaseProbe.Kind) {
    case platform::TPathKind::Unknown:
        refuse(database + " 파일을 확인할 수 없습니다 (" + databaseProbe.Reason + ").");
        return;
    case platform::TPathKind::Folder:
    case platform::TPathKind::Other:
        refuse(database + " 자리에 DB파일이 아닌 것(폴더나 링크)이 있습니다.");
        return;
    case platform::TPathKind::Missing:
    case platform::TPathKind::File:
        break;
    }
    const bool haveDatabase = databaseProbe.Kind == platform::TPathKind::File;

    const platform::TPathProbe asideProbe = platform::ProbePath(aside);
    switch (asideProbe.Kind) {
    case platform::TPathKind::Missing:
        break;
    case platform::TPathKind::File:
        ShowError(aside + AsideExistsSuffix, ChangeFailedCaption);
        return;
    case platform::TPathKind::Folder:
    case platform::TPathKind::Other:
        refuse(aside + " 자리에 폴더나 링크가 있어 DB파일을 그 이름으로 옮길 수 없습니다. 그것을 "
                       "옮기거나 지운 뒤 다시 하세요.");
        return;
    case platform::TPathKind::Unknown:
        refuse(aside + " 파일을 확인할 수 없습니다 (" + asideProbe.Reason + ").");
        return;
    }

    std::string reason;
    if (haveDatabase && !platform::CanChangeFolder(folder, reason)) {
        refuse(database + " 파일을 옮길 권한이 없습니다 (" + folder + ": " + reason + ").");
        return;
    }
    if (!CanWriteIniFile(SettingsFile, reason)) {
        refuse(ToolFolder() + SettingsFile + " 파일에 쓸 수 없습니다 (" + reason + ").");
        return;
    }
    for (const char* program : {SolvaneExe, SLVServerExe}) {
        if (!ProgramsBeyondReach(program).empty()) {
            refuse(std::string("실행 중인 ") + program +
                   "을(를) 종료할 권한이 없습니다. 직접 종료한 뒤 다시 하세요.");
            return;
        }
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
    // Second copies are never started beside programs that did not end.
    for (const char* program : {SolvaneExe, SLVServerExe}) {
        if (!WaitUntilProgramEnded(program, ProgramEndMilliseconds)) {
            ShowError(std::string(program) +
                          "이(가) 끝나지 않았습니다. DB파일은 옮기지 않았습니다.\n" +
                          StillStoppedText,
                      ChangeFailedCaption);
            return;
        }
    }

    Events().ProcessMessages();
    Events().Sleep(SettleMilliseconds);

    // Move the database aside, but only when nobody holds it open: a file
    // in use stays where it is and nothing is deleted.
    const std::string inUseText = txtDBFN->Text() + InUseSuffix;
    const auto useText = [&](TFileUse use) {
        return use == TFileUse::ServerAnswerUnreadable
                   ? database +
                         " 파일을 쓰고 있는 곳이 있는지 DB서버에 물었지만 그 답을 읽을 수 "
                         "없었습니다. DB파일은 옮기지 않았습니다.\n" +
                         StillStoppedText
                   : inUseText;
    };
    bool movedAside = false;
    if (haveDatabase) {
        const TFileUse use = DatabaseFileUse(database);
        if (use != TFileUse::Free) {
            ShowError(useText(use), ChangeFailedCaption);
            return;
        }
        if (!platform::RenameFile(database, aside)) {
            const int error = errno;
            ShowError(error == EEXIST
                          ? aside + AsideExistsSuffix
                          : database + " 파일을 " + aside + "(으)로 옮기지 못했습니다 (" +
                                platform::ErrorText(error) + "). DB파일은 그대로 있습니다.\n" +
                                StillStoppedText,
                      ChangeFailedCaption);
            return;
        }
        movedAside = true;
        // Opened in the moment before the move: put it back.
        const TFileUse late = DatabaseFileUse(aside, database);
        if (late != TFileUse::Free) {
            if (!platform::RenameFile(aside, database)) {
                ShowError(useText(late) + "\n" + database + " 파일을 " + aside +
                              "에서 원래 자리로 되돌려 놓지 못했습니다 (" +
                              platform::ErrorText(errno) + ").",
                          ChangeFailedCaption);
                return;
            }
            ShowError(useText(late), ChangeFailedCaption);
            return;
        }
    }

    Events().ProcessMessages();
    Events().Sleep(SettleMilliseconds);

    if (platform::ProbePath(database).Kind != platform::TPathKind::Missing) {
        // Something made a new file at the database path meanwhile; the
        // aside copy stays for the user.
        ShowError(movedAside ? inUseText + "\n이전 DB파일은 " + aside + " 에 있습니다." : inUseText,
                  ChangeFailedCaption);
        return;
    }

    // The database goes back first; then one message says it all: what
    // happened (`text`), where the database is, and that the programs stay
    // stopped.
    const auto putBackAndTell = [&](std::string text, const char* caption, bool asError) {
        text += "\n\n";
        if (movedAside) {
            if (platform::RenameFile(aside, database)) {
                text += "이전 DB파일을 원래 자리(" + database + ")에 되돌려 놓았습니다.";
            } else {
                asError = true;
                text += "이전 DB파일을 원래 자리로 되돌려 놓지 못했습니다 (" +
                        platform::ErrorText(errno) + "). 이전 DB파일은 " + aside +
                        " 에 있습니다. 그 파일을 " + database + " (으)로 옮겨 주세요.";
            }
        } else {
            text += "DB파일은 처음부터 없었으므로 되돌릴 것이 없습니다.";
        }
        text += "\n";
        text += StillStoppedText;
        if (asError) {
            ShowError(text, caption);
        } else if (!CloseRequested()) {
            ShowInformation(text, caption);
        }
    };

    // The last moment to stop before the server is asked to restore.
    Events().ProcessMessages();
    if (StopWanted(StopMakeServerText)) {
        putBackAndTell(ChangeCancelledText, ChangeCancelledCaption, false);
        return;
    }

    const TRestoreRun run = RunRestore(true);
    if (run.End == TRestoreRun::Stopped) {
        // Stopped at one of its own messages, before the server was asked.
        if (movedAside && !platform::RenameFile(aside, database)) {
            ShowError(database + " 파일을 " + aside + "에서 원래 자리로 되돌려 놓지 못했습니다 (" +
                          platform::ErrorText(errno) + ").",
                      ChangeFailedCaption);
        }
        return;
    }
    if (run.End == TRestoreRun::Cancelled) {
        std::string text = ChangeCancelledText;
        if (!run.Note.empty()) {
            text += "\n" + run.Note;
        }
        putBackAndTell(text, ChangeCancelledCaption, !run.Note.empty());
        return;
    }
    if (run.End != TRestoreRun::Complete) {
        std::string text = run.End == TRestoreRun::Failed ? ErrorDisplayText(ErrorTextOf(run.Error))
                                                          : std::string(IncompleteRestoreText);
        if (!run.Note.empty()) {
            text += "\n" + run.Note;
        }
        putBackAndTell(text, ChangeFailedCaption, true);
        return;
    }

    struct TSetting {
        const char* Section;
        const char* Key;
        std::string Value;
    };
    const TSetting settings[] = {
        {SystemSection, SvrIPKey, LocalServer},
        {SystemSection, DBSvrIPKey, LocalServer},
        {SystemSection, DBPathDBKey, database},
        {SetupSection, DBBackPOSKey, rtl::Trim(txtBackupPath->Text())},
    };
    std::string written;
    std::string notWritten;
    for (const TSetting& setting : settings) {
        std::string& list = WriteIniValue(SettingsFile, setting.Section, setting.Key, setting.Value)
                                ? written
                                : notWritten;
        list += (list.empty() ? "" : ", ") + std::string(setting.Key);
    }
    const std::string asideNote = movedAside ? "\n이전 DB파일: " + aside : std::string();
    if (!notWritten.empty()) {
        // The programs would still look for the old server: they stay
        // stopped, and the user learns exactly where things stand.
        ShowError("새 DB를 " + database + " 에 복원했지만 " + ToolFolder() + SettingsFile +
                      " 파일에 쓰지 못했습니다.\n쓰지 못한 값: " + notWritten +
                      (written.empty() ? std::string() : "\n쓴 값: " + written) + asideNote +
                      "\n솔바네와 SLVServer는 시작하지 않았습니다.",
                  ChangeFailedCaption);
        return;
    }

    ShellOpen(ToolFolder() + SLVServerExe);
    ShellOpen(ToolFolder() + SolvaneExe);

    ShowInformation("이 PC를 서버로 만들었습니다.\n새 DB파일: " + database + asideNote,
                    ChangeDoneCaption);
}

} // namespace app
