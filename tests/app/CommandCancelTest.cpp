// Stopping a running command, on the headless window against the real
// server: the user's close or Esc asks first; Yes stops the server's work
// where it can be stopped and leaves nothing of the command behind.
#include "testsupport/CommandTest.h"

#include "app/ServerDatabase.h"
#include "platform/Host.h"

namespace cmdtest {
namespace {

using namespace std::chrono_literals;

constexpr const char* StopBackup = "백업을 중단할까요?";

class CancelTest : public MakeServerTest {
protected:
    // A live database whose backup and restore print enough to come in
    // several batches.
    void MakeBigLiveDatabase() {
        ASSERT_NO_FATAL_FAILURE(MakeMarkedDatabase(Database, ManyTablesDemo().Database));
    }

    // Each question to stop, as shown.
    void ExpectStopQuestions(size_t count, const std::string& text) {
        size_t asked = 0;
        for (const auto& box : Boxes) {
            if (box.Caption == "중단확인") {
                ++asked;
                EXPECT_EQ(box.Text, text);
                EXPECT_EQ(box.Flags, 36);
            }
        }
        EXPECT_EQ(asked, count);
    }
};

// What stopping a backup rests on, measured on the server: closing the
// service connection would leave the server's backup running to its end;
// ending the attachment the server made for it (found by the service
// connection's port) stops it at once: the next read reports it, and the
// server has removed its file.
TEST(ServerBackupEnd, EndingItsAttachmentStopsTheServersBackupAtOnce) {
    SLV_REQUIRE_SERVER();
    const std::string folder = slvtest::MakeTempDir("backup-end");
    const std::string database = folder + "/many.fdb";
    const std::string file = folder + "/many.fbk";
    CopyForServer(ManyTablesDemo().Database, database);
    fib::TpFIBBackupService service;
    service.SetLoginPrompt(false);
    service.SetServerName(app::LocalServer);
    service.Params().Assign(
        std::vector<std::string>{app::ServiceUserLine, app::ServicePasswordLine});
    service.SetDatabaseName(database);
    service.BackupFile().Add(file);
    service.SetVerbose(true);
    const auto before = platform::OwnTcpConnectionPorts();
    service.Attach();
    std::vector<std::uint16_t> ports;
    for (const std::uint16_t port : platform::OwnTcpConnectionPorts()) {
        if (std::find(before.begin(), before.end(), port) == before.end()) {
            ports.push_back(port);
        }
    }
    ASSERT_EQ(ports.size(), 1u);
    service.ServiceStart();
    std::vector<std::string> lines;
    service.ReadAvailableLines(lines);
    ASSERT_FALSE(service.EndOfOutput()) << "the backup is still under way";
    ASSERT_EQ(UserAttachments(database), 1);

    std::string reason;
    ASSERT_TRUE(app::EndServiceAttachments(app::LocalServer, database, ports, reason)) << reason;

    std::string error;
    try {
        while (!service.EndOfOutput()) {
            service.ReadAvailableLines(lines);
        }
    } catch (const std::exception& e) {
        error = e.what();
    }
    EXPECT_NE(error.find("Connection shutdown"), std::string::npos) << error;
    EXPECT_FALSE(AnyLineContains(lines, "closing file, committing, and finishing"));
    EXPECT_FALSE(service.Active());
    EXPECT_EQ(UserAttachments(database), 0);
    EXPECT_FALSE(fs::exists(file));
    std::error_code ignored;
    fs::remove_all(folder, ignored);
}

// The user closes the window during a backup and answers No: the backup
// goes on and the window stays; then Esc, and Yes: the server's backup ends
// at once, mid-way, and leaves no file and no attachment.
TEST_F(CancelTest, BackupStoppedMidWayLeavesNoFileAndNoAttachment) {
    SLV_REQUIRE_SERVER();
    ASSERT_NO_FATAL_FAILURE(MakeBigLiveDatabase());
    WriteIni("127.0.0.1", Database, BackupFolder + "/");
    app::TmainForm& form = CreateForm();
    // The backup rewrites the two settings it always writes, with the same
    // values; nothing else may change.
    WatchEverything();

    int requests = 0;
    bool keptOpen = false;
    Headless.OnProcessMessages = [&] {
        if (requests == 0) {
            keptOpen = !form.Form().QueryClose();
        } else if (requests == 1) {
            form.Form().PressEscape();
        }
        ++requests;
    };
    std::vector<int> attachedWhenAsked;
    std::vector<size_t> workFilesWhenAsked;
    OnBox = [&](const TShownBox& box) {
        if (box.Text == StopBackup) {
            attachedWhenAsked.push_back(UserAttachments(Database));
            workFilesWhenAsked.push_back(WorkFilesIn(BackupFolder).size());
            // The user takes a moment: the next batch is painted (and the
            // window's events handled) on arrival.
            std::this_thread::sleep_for(50ms);
        }
    };
    Answers = {app::IDNO, app::IDYES};

    form.btnBackupDB->Click();
    Headless.OnProcessMessages = nullptr;

    EXPECT_TRUE(keptOpen) << "the window does not close under a running command";
    ASSERT_NO_FATAL_FAILURE(ExpectStopQuestions(2, StopBackup));
    EXPECT_EQ(Boxes.size(), 2u) << Boxes.back().Text;
    // Asked twice while the server's backup was under way.
    EXPECT_EQ(attachedWhenAsked, (std::vector<int>{1, 1}));
    EXPECT_EQ(workFilesWhenAsked, (std::vector<size_t>{1, 1}));

    const auto lines = form.Memo1->Lines();
    ASSERT_GT(lines.size(), 3u);
    EXPECT_EQ(lines.front(), "====== 백업 시작 ======");
    EXPECT_EQ(lines.back(), "====== 백업 취소 ======");
    EXPECT_FALSE(AnyLineContains(lines, "백업 완료"));
    EXPECT_FALSE(AnyLineContains(lines, "closing file, committing, and finishing"))
        << "stopped before the end";

    EXPECT_TRUE(fs::is_empty(BackupFolder)) << "no backup file, no work file";
    EXPECT_EQ(UserAttachments(Database), 0) << "the server's backup has ended";
    EXPECT_FALSE(form.pFIBBackupService1->Active());
    EXPECT_FALSE(form.PBar->Visible());
    EXPECT_TRUE(form.btnBackupDB->Enabled());
    EXPECT_TRUE(form.btnChangeServer->Enabled());
    EXPECT_EQ(Headless.Cursor(), app::TCursor::Default);
    EXPECT_TRUE(form.Form().QueryClose()) << "with nothing running the window may close";
    Guard.Check();

    // The next backup runs to its end.
    Boxes.clear();
    form.btnBackupDB->Click();
    EXPECT_TRUE(Boxes.empty());
    EXPECT_TRUE(AnyLineContains(form.Memo1->Lines(), "====== 백업 완료 ======"));
}

// Esc during a restore beside the database, Yes: the half-made file goes at
// once, and none comes back when the server has finished on its own.
TEST_F(CancelTest, RestoreBesideStoppedLeavesNoHalfMadeFile) {
    SLV_REQUIRE_SERVER();
    ASSERT_NO_FATAL_FAILURE(MakeLiveDatabase());
    CopyForServer(ManyTablesDemo().Backup, BackupFolder + "/" + BackupName);
    WriteIni("127.0.0.1", Database, BackupFolder + "/");
    app::TmainForm& form = CreateForm();
    Choose(BackupName);
    WatchEverything();
    const std::string target = DataFolder + "/SOLVANE복원.fdb";

    bool pressed = false;
    Headless.OnProcessMessages = [&] {
        if (!pressed && AnyLineContains(form.Memo2->Lines(), "====== 복원 시작 ======")) {
            pressed = true;
            form.Form().PressEscape();
        }
    };
    std::vector<std::string> workFiles;
    OnBox = [&](const TShownBox& box) {
        if (box.Caption == "중단확인") {
            workFiles = WorkFilesIn(DataFolder);
        }
    };
    Answers = {app::IDYES};

    form.btnRestoreDB->Click();
    Headless.OnProcessMessages = nullptr;

    ASSERT_NO_FATAL_FAILURE(
        ExpectStopQuestions(1, "복원을 중단할까요?\n만들던 DB파일은 지웁니다."));
    ASSERT_EQ(workFiles.size(), 1u) << "asked while the server was restoring";
    ASSERT_EQ(Boxes.size(), 2u);
    EXPECT_EQ(Boxes[1].Text, "복원을 중단했습니다. 만들던 DB파일은 지웠습니다.");
    EXPECT_EQ(Boxes[1].Caption, "복원취소");
    EXPECT_EQ(Boxes[1].Flags, 64);
    EXPECT_TRUE(AnyLineContains(form.Memo2->Lines(), "====== 복원 취소 ======"));
    EXPECT_FALSE(AnyLineContains(form.Memo2->Lines(), "복원 완료"));
    EXPECT_TRUE(WorkFilesIn(DataFolder).empty());
    EXPECT_FALSE(fs::exists(target));
    EXPECT_TRUE(form.fbBackup->Visible());
    EXPECT_FALSE(form.Memo2->Visible());
    EXPECT_TRUE(form.btnRestoreDB->Enabled());
    EXPECT_EQ(Headless.Cursor(), app::TCursor::Default);

    // The server goes on with the restore it started; once it has let the
    // name go, still nothing is there.
    const std::string work = DataFolder + "/" + workFiles[0];
    EXPECT_TRUE(WaitFor(
        [&] {
            return app::AskServerDatabaseInUse(app::LocalServer, work) ==
                   app::TServerAnswer::NotInUse;
        },
        120s));
    EXPECT_FALSE(fs::exists(work));
    EXPECT_TRUE(WorkFilesIn(DataFolder).empty());
    EXPECT_FALSE(fs::exists(target));
    Guard.Check();
}

// Esc during make-server's restore, Yes: the server cannot be stopped in
// the middle of a restore, so the command waits for it, removes what it
// made and puts the database back exactly as a failed make-server does:
// the original file at its path byte for byte, the programs stopped.
TEST_F(CancelTest, MakeServerStoppedPutsTheDatabaseBackByteForByte) {
    SLV_REQUIRE_SERVER();
    ASSERT_NO_FATAL_FAILURE(MakeLiveDatabase());
    CopyForServer(ManyTablesDemo().Backup, BackupFolder + "/" + BackupName);
    app::TmainForm& form = Prepare();
    StartSuite();
    WatchEverything();
    const std::string bytes = ReadFile(Database);

    bool pressed = false;
    Headless.OnProcessMessages = [&] {
        if (!pressed && AnyLineContains(form.Memo2->Lines(), "====== 복원 시작 ======")) {
            pressed = true;
            form.Form().PressEscape();
        }
    };
    Answers = {app::IDYES, app::IDYES};

    form.btnChangeServer->Click();
    Headless.OnProcessMessages = nullptr;

    ASSERT_TRUE(pressed);
    ASSERT_EQ(Boxes.size(), 3u);
    EXPECT_EQ(Boxes[0].Text, ConfirmText);
    ASSERT_NO_FATAL_FAILURE(ExpectStopQuestions(
        1, "서버로 만들기를 중단할까요?\n이전 DB파일을 원래 자리에 되돌려 놓습니다."));
    EXPECT_EQ(Boxes[2].Caption, "변경취소");
    EXPECT_EQ(Boxes[2].Flags, 64);
    EXPECT_EQ(Boxes[2].Text,
              "서버로 만들기를 중단했습니다.\n\n이전 DB파일을 원래 자리(" + Database +
                  ")에 되돌려 놓았습니다.\n솔바네와 SLVServer는 멈춘 채로 있습니다.");
    const auto lines = form.Memo2->Lines();
    EXPECT_TRUE(AnyLineContains(lines, "====== 복원 취소 ======"));
    EXPECT_FALSE(AnyLineContains(lines, "복원 완료"));

    EXPECT_TRUE(ReadFile(Database) == bytes) << "the original database, byte for byte";
    EXPECT_FALSE(fs::exists(Aside));
    EXPECT_TRUE(WaitFor([this] { return SuiteStopped(); }));
    ExpectDatabaseIntact(); // settings untouched, no program started
    EXPECT_TRUE(form.btnChangeServer->Enabled());
    EXPECT_TRUE(form.fbBackup->Visible());
}

} // namespace
} // namespace cmdtest
