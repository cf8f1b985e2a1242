// The backup command against the real server, on the headless window.
#include "testsupport/CommandTest.h"

#include "app/Commands.h"
#include "app/OutputPane.h"

namespace cmdtest {
namespace {

class BackupCommandTest : public CommandsTest {
protected:
    void SetUp() override {
        CommandsTest::SetUp();
        BackupFolder += "/";
    }

    // A window whose settings name a fresh database and the backup folder.
    app::TmainForm& Prepare(const std::string& server = "127.0.0.1") {
        Database = FreshDatabase(DataFolder + "/SOLVANE.FDB");
        WriteIni(server, Database, BackupFolder);
        return CreateForm();
    }
};

TEST_F(BackupCommandTest, ClickBacksUpListsTheFileAndWritesTheEndLines) {
    SLV_REQUIRE_SERVER();
    app::TmainForm& form = Prepare();
    auto& bar = dynamic_cast<app::THeadlessProgressBar&>(*form.PBar);
    auto& memo = dynamic_cast<app::THeadlessMemo&>(*form.Memo1);
    const std::string file = BackupFolder + "SLV_Backup_240619_2217.fbk";

    const auto started = std::chrono::steady_clock::now();
    form.btnBackupDB->Click();
    const auto elapsed = std::chrono::steady_clock::now() - started;

    ASSERT_TRUE(Boxes.empty()) << Boxes[0].Text;
    EXPECT_TRUE(fs::exists(file));
    EXPECT_GT(fs::file_size(file), 0u);
    EXPECT_EQ(form.fbBackup->Items(), std::vector<std::string>{"SLV_Backup_240619_2217.fbk"});

    const std::vector<std::string> lines = form.Memo1->Lines();
    ASSERT_GE(lines.size(), 10u);
    EXPECT_EQ(lines.front(), "====== 백업 시작 ======");
    const std::vector<std::string> end(lines.end() - 8, lines.end());
    EXPECT_NE(end[0].find("gbak:closing file, committing, and finishing"), std::string::npos)
        << end[0];
    EXPECT_EQ(end[1], "");
    EXPECT_EQ(end[2], "====== 백업 완료 ======");
    EXPECT_EQ(end[3], "백업 원본파일: " + Database);
    EXPECT_EQ(end[4], " ");
    EXPECT_EQ(end[5], "백업파일: " + file);
    EXPECT_EQ(end[6], "");
    EXPECT_EQ(end[7], " ");

    EXPECT_EQ(lines[1], "서버에 연결하는 중입니다: 127.0.0.1");
    // One step per output line, the final empty read too; the box and the
    // bar painted together at a bounded rate, and once at the end.
    const int outputLines = static_cast<int>(lines.size()) - 2 - 6;
    EXPECT_EQ(bar.Position(), std::min(outputLines, app::IProgressBar::Max));
    EXPECT_GE(memo.RepaintCount(), 1);
    EXPECT_LE(memo.RepaintCount(), 2 + elapsed / app::TRepaintThrottle::DefaultInterval);
    EXPECT_EQ(bar.RepaintCount(), memo.RepaintCount());
    EXPECT_FALSE(bar.Visible());
    EXPECT_TRUE(form.btnBackupDB->Enabled());
    EXPECT_FALSE(form.pFIBBackupService1->Active());
    EXPECT_EQ(Headless.Cursor(), app::TCursor::Default);

    EXPECT_EQ(app::ReadIniValue("Environment.ini", "SYSTEM", "DBPathDB"), Database);
    EXPECT_EQ(app::ReadIniValue("Environment.ini", "SYSSETUP", "DBBackPOS"), BackupFolder);
    EXPECT_EQ(form.BackupPath(), BackupFolder);

    // The backup is a real one: restored, it holds the same data.
    const std::string check = DataFolder + "/check.fdb";
    std::string output;
    ASSERT_EQ(slvtest::RestoreDatabase(file, check, &output), 0) << output;
    EXPECT_EQ(slvtest::DatabaseFingerprint(check), Demo().Fingerprint);
}

TEST_F(BackupCommandTest, SecondBackupInTheSameRunGetsItsOwnFile) {
    SLV_REQUIRE_SERVER();
    app::TmainForm& form = Prepare();
    form.btnBackupDB->Click();
    Headless.FixedNow.Minute = 18;
    form.btnBackupDB->Click();

    ASSERT_TRUE(Boxes.empty()) << Boxes[0].Text;
    EXPECT_EQ(form.fbBackup->Items(), (std::vector<std::string>{"SLV_Backup_240619_2217.fbk",
                                                                "SLV_Backup_240619_2218.fbk"}));
    const auto lines = form.Memo1->Lines();
    EXPECT_EQ(lines.front(), "====== 백업 시작 ======");
    EXPECT_EQ(lines[lines.size() - 3], "백업파일: " + BackupFolder + "SLV_Backup_240619_2218.fbk");
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "====== 백업 시작 ======"), 1)
        << "the second backup clears the first one's output";
}

TEST_F(BackupCommandTest, KoreanDatabasePathAndBackupFolder) {
    SLV_REQUIRE_SERVER();
    const std::string folder = OpenFolder(Root + "/데이터");
    const std::string backup = OpenFolder(Root + "/백업 폴더") + "/";
    Database = FreshDatabase(folder + "/솔바네.fdb");
    WriteIni("127.0.0.1", Database, backup);
    app::TmainForm& form = CreateForm();

    form.btnBackupDB->Click();

    ASSERT_TRUE(Boxes.empty()) << Boxes[0].Text;
    EXPECT_TRUE(fs::exists(backup + "SLV_Backup_240619_2217.fbk"));
    EXPECT_EQ(form.Memo1->Lines()[form.Memo1->Lines().size() - 5], "백업 원본파일: " + Database);
    EXPECT_EQ(app::ReadIniValue("Environment.ini", "SYSTEM", "DBPathDB"), Database);
    EXPECT_EQ(app::ReadIniValue("Environment.ini", "SYSSETUP", "DBBackPOS"), backup);
}

TEST_F(BackupCommandTest, FolderTypedWithoutItsSeparatorStillGetsTheFileInside) {
    SLV_REQUIRE_SERVER();
    app::TmainForm& form = Prepare();
    const std::string typed = "  " + Root + "/backup  ";
    form.txtBackupPath->SetText(typed);

    form.btnBackupDB->Click();

    ASSERT_TRUE(Boxes.empty()) << Boxes[0].Text;
    EXPECT_TRUE(fs::exists(BackupFolder + "SLV_Backup_240619_2217.fbk"));
    EXPECT_FALSE(fs::exists(Root + "/backupSLV_Backup_240619_2217.fbk"));
    // The setting keeps the folder as typed (trimmed).
    EXPECT_EQ(app::ReadIniValue("Environment.ini", "SYSSETUP", "DBBackPOS"), Root + "/backup");
    EXPECT_EQ(form.BackupPath(), Root + "/backup");
}

TEST_F(BackupCommandTest, EmptyFolderAsksForOneAndTouchesNothing) {
    WriteFile(Ini(), "[SYSTEM]\nDBPathDB=/nowhere/x.fdb\n");
    app::TmainForm& form = CreateForm();
    form.txtBackupPath->SetText("   ");
    const std::string before = IniText();

    form.btnBackupDB->Click();

    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].Text, "백업할 폴더를 먼저 정하세요");
    EXPECT_EQ(Boxes[0].Caption, "에러");
    EXPECT_EQ(Boxes[0].Flags, 16);
    EXPECT_EQ(IniText(), before);
    EXPECT_TRUE(form.Memo1->Lines().empty());
    EXPECT_TRUE(form.btnBackupDB->Enabled());
}

TEST_F(BackupCommandTest, ServerDownShowsTheClientLayersTextAndCompletesNothing) {
    SLV_REQUIRE_SERVER(); // for the demo database only
    app::TmainForm& form = Prepare("127.0.0.1/3099");

    form.btnBackupDB->Click();

    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].Caption, app::ApplicationTitle);
    EXPECT_EQ(Boxes[0].Flags, 16);
    EXPECT_NE(Boxes[0].Text.find("Unable to complete network request to host"), std::string::npos)
        << Boxes[0].Text;
    EXPECT_TRUE(form.btnBackupDB->Enabled());
    EXPECT_EQ(form.Memo1->Lines(),
              (std::vector<std::string>{"====== 백업 시작 ======",
                                        "서버에 연결하는 중입니다: 127.0.0.1/3099"}));
    EXPECT_FALSE(AnyLineContains(form.Memo1->Lines(), "완료"));
    EXPECT_FALSE(form.pFIBBackupService1->Active());
    // The settings were written before the service was asked.
    EXPECT_EQ(app::ReadIniValue("Environment.ini", "SYSTEM", "DBPathDB"), Database);
    EXPECT_EQ(app::ReadIniValue("Environment.ini", "SYSSETUP", "DBBackPOS"), BackupFolder);
}

TEST_F(BackupCommandTest, FailureDuringTheBackupShowsTheServersErrorNotADetachError) {
    SLV_REQUIRE_SERVER();
    app::TmainForm& form = Prepare();
    // No database at the path: the server starts, then reports the failure.
    form.txtDBFN->SetText(DataFolder + "/missing.fdb");
    auto& bar = dynamic_cast<app::THeadlessProgressBar&>(*form.PBar);
    const int listShown = dynamic_cast<app::THeadlessFileList&>(*form.fbBackup).ItemsShownCount();

    form.btnBackupDB->Click();

    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].Caption, app::ApplicationTitle);
    EXPECT_EQ(Boxes[0].Text.find("service is not attached"), std::string::npos) << Boxes[0].Text;
    EXPECT_NE(Boxes[0].Text.find("missing.fdb"), std::string::npos) << Boxes[0].Text;
    EXPECT_FALSE(AnyLineContains(form.Memo1->Lines(), "====== 백업 완료 ======"));
    EXPECT_FALSE(AnyLineContains(form.Memo1->Lines(), "백업파일: "));
    EXPECT_FALSE(bar.Visible());
    EXPECT_TRUE(form.btnBackupDB->Enabled());
    EXPECT_FALSE(form.pFIBBackupService1->Active());
    EXPECT_EQ(Headless.Cursor(), app::TCursor::Default);
    EXPECT_GT(dynamic_cast<app::THeadlessFileList&>(*form.fbBackup).ItemsShownCount(), listShown)
        << "the list is read again";

    // The window is usable again: the next backup works.
    Boxes.clear();
    form.txtDBFN->SetText(Database);
    form.btnBackupDB->Click();
    EXPECT_TRUE(Boxes.empty());
    EXPECT_EQ(form.Memo1->Lines()[form.Memo1->Lines().size() - 6], "====== 백업 완료 ======");
}

} // namespace
} // namespace cmdtest
