// The restore routine against the real server, on the headless window.
#include "testsupport/CommandTest.h"

#include "app/Commands.h"
#include "app/OutputPane.h"

namespace cmdtest {
namespace {

class RestoreCommandTest : public CommandsTest {
protected:
    void SetUp() override {
        CommandsTest::SetUp();
        Target = DataFolder + "/SOLVANE복원.fdb";
    }

    app::TmainForm& Prepare(const std::string& server = "127.0.0.1") {
        WriteIni(server, Database, BackupFolder + "/");
        app::TmainForm& form = CreateForm();
        ComponentsBefore = form.Components().size();
        return form;
    }

    // After every run: the list is back, the restore output hidden, the
    // button enabled, the pointer normal and the run's component freed.
    void ExpectTidyWindow(app::TmainForm& form) {
        EXPECT_TRUE(form.fbBackup->Visible());
        EXPECT_FALSE(form.Memo2->Visible());
        EXPECT_FALSE(form.PBar2->Visible());
        EXPECT_TRUE(form.btnRestoreDB->Enabled());
        EXPECT_EQ(Headless.Cursor(), app::TCursor::Default);
        EXPECT_EQ(form.Components().size(), ComponentsBefore);
    }

    std::string Target;
    size_t ComponentsBefore = 0;
};

TEST_F(RestoreCommandTest, ClickRestoresTheChosenFileBesideTheDatabase) {
    SLV_REQUIRE_SERVER();
    PlaceBackup(BackupFolder, BackupName);
    app::TmainForm& form = Prepare();
    Choose(BackupName);
    EXPECT_EQ(form.lbBackupFN->Caption(), BackupName);
    auto& memo = dynamic_cast<app::THeadlessMemo&>(*form.Memo2);
    auto& bar = dynamic_cast<app::THeadlessProgressBar&>(*form.PBar2);
    auto& window = dynamic_cast<app::THeadlessForm&>(form.Form());

    const auto started = std::chrono::steady_clock::now();
    form.btnRestoreDB->Click();
    const auto elapsed = std::chrono::steady_clock::now() - started;

    ASSERT_NO_FATAL_FAILURE(ExpectSuccessBox("복원완료", Target));
    ASSERT_TRUE(fs::exists(Target));
    EXPECT_EQ(slvtest::DatabaseFingerprint(Target), Demo().Fingerprint);

    const std::vector<std::string> lines = form.Memo2->Lines();
    ASSERT_GE(lines.size(), 10u);
    EXPECT_EQ(lines[0], "====== 복원 시작 ======");
    EXPECT_EQ(lines[1], " ");
    EXPECT_EQ(lines[2], std::string("복원할 파일이름: ") + BackupName);
    EXPECT_EQ(lines[3], " ");
    const size_t n = lines.size();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(), app::IsRestoreClosingLine), 1);
    EXPECT_NE(lines[n - 4], "");
    EXPECT_EQ(lines[n - 3], "");
    EXPECT_EQ(lines[n - 2], "====== 복원 완료 ======");
    EXPECT_EQ(lines[n - 1], "복원된 파일이름: " + Target);

    // The box and the bar painted at a bounded rate and once at the end
    // (the bar also while the server finishes); the window once.
    const int outputLines = static_cast<int>(n) - 4 - 2;
    EXPECT_GE(memo.RepaintCount(), 1);
    EXPECT_LE(memo.RepaintCount(), 2 + elapsed / app::TRepaintThrottle::DefaultInterval);
    EXPECT_GE(bar.RepaintCount(), memo.RepaintCount());
    EXPECT_EQ(bar.Position(), std::min(outputLines, app::IProgressBar::Max));
    EXPECT_EQ(window.RepaintCount(), 1);
    EXPECT_EQ(Headless.CursorHistory,
              (std::vector<app::TCursor>{app::TCursor::HourGlass, app::TCursor::Default}));
    ExpectTidyWindow(form);
    // Nothing is written to the settings by a restore.
    EXPECT_EQ(app::ReadIniValue("Environment.ini", "SYSTEM", "SvrIP"), "");
}

TEST_F(RestoreCommandTest, RoutineReportsACompleteRestore) {
    SLV_REQUIRE_SERVER();
    PlaceBackup(BackupFolder, BackupName);
    app::TmainForm& form = Prepare();
    Choose(BackupName);
    EXPECT_TRUE(form.RestoreDB(false));
    EXPECT_TRUE(fs::exists(Target));
}

TEST_F(RestoreCommandTest, BackupFolderTypedWithoutItsSeparator) {
    SLV_REQUIRE_SERVER();
    PlaceBackup(BackupFolder, BackupName);
    app::TmainForm& form = Prepare();
    form.txtBackupPath->SetText(BackupFolder);
    Choose(BackupName);

    form.btnRestoreDB->Click();

    ASSERT_NO_FATAL_FAILURE(ExpectSuccessBox("복원완료", Target));
    EXPECT_EQ(slvtest::DatabaseFingerprint(Target), Demo().Fingerprint);
}

TEST_F(RestoreCommandTest, KoreanDatabaseName) {
    SLV_REQUIRE_SERVER();
    PlaceBackup(BackupFolder, "백업.fbk");
    Database = DataFolder + "/솔바네.fdb";
    app::TmainForm& form = Prepare();
    Choose("백업.fbk");

    form.btnRestoreDB->Click();

    ASSERT_NO_FATAL_FAILURE(ExpectSuccessBox("복원완료", DataFolder + "/솔바네복원.fdb"));
    EXPECT_EQ(form.Memo2->Lines().back(), "복원된 파일이름: " + DataFolder + "/솔바네복원.fdb");
    EXPECT_EQ(slvtest::DatabaseFingerprint(DataFolder + "/솔바네복원.fdb"), Demo().Fingerprint);
}

TEST_F(RestoreCommandTest, AsksForAFileFirstAndRefusesAMissingOne) {
    PlaceBackup(BackupFolder, BackupName);
    app::TmainForm& form = Prepare();

    ASSERT_NO_FATAL_FAILURE(
        ExpectChosenBackupIsChecked(*form.btnRestoreDB, BackupFolder, BackupName));
    EXPECT_FALSE(form.RestoreDB(false));

    EXPECT_TRUE(Headless.CursorHistory.empty()) << "the window is not touched";
    EXPECT_EQ(dynamic_cast<app::THeadlessForm&>(form.Form()).RepaintCount(), 0);
    ExpectTidyWindow(form);
}

TEST_F(RestoreCommandTest, ServerDownShowsTheClientLayersText) {
    SLV_REQUIRE_SERVER();
    PlaceBackup(BackupFolder, BackupName);
    app::TmainForm& form = Prepare("127.0.0.1/3099");
    Choose(BackupName);

    form.btnRestoreDB->Click();

    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].Caption, app::ApplicationTitle);
    EXPECT_NE(Boxes[0].Text.find("Unable to complete network request to host"), std::string::npos)
        << Boxes[0].Text;
    EXPECT_FALSE(fs::exists(Target));
    ExpectTidyWindow(form);
}

TEST_F(RestoreCommandTest, ServerRefusingTheFileShowsItsOwnError) {
    SLV_REQUIRE_SERVER();
    WriteFile(BackupFolder + "/junk.fbk", std::string(20000, 'x'));
    ::chmod((BackupFolder + "/junk.fbk").c_str(), 0666);
    app::TmainForm& form = Prepare();
    Choose("junk.fbk");

    form.btnRestoreDB->Click();

    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].Caption, app::ApplicationTitle);
    EXPECT_EQ(Boxes[0].Text.find("service is not attached"), std::string::npos) << Boxes[0].Text;
    EXPECT_FALSE(Boxes[0].Text.empty());
    EXPECT_FALSE(AnyLineContains(form.Memo2->Lines(), "====== 복원 완료 ======"));
    ExpectTidyWindow(form);
    std::cout << "[ server's text ] " << Boxes[0].Text << "\n";
}

// A cut backup either makes the server report an error or ends the output
// early without one; neither may be reported as a complete restore.
TEST_F(RestoreCommandTest, CutBackupIsNeverReportedComplete) {
    SLV_REQUIRE_SERVER();
    const size_t size = fs::file_size(Demo().Backup);
    app::TmainForm& form = Prepare();
    int silent = 0;
    int errors = 0;
    for (int percent : {30, 55, 75, 90, 97}) {
        const std::string name = "cut" + std::to_string(percent) + ".fbk";
        PlaceCutBackup(BackupFolder, name, size * static_cast<size_t>(percent) / 100);
        form.fbBackup->Update();
        Choose(name);
        Boxes.clear();

        form.btnRestoreDB->Click();

        ASSERT_EQ(Boxes.size(), 1u) << name;
        EXPECT_FALSE(AnyLineContains(form.Memo2->Lines(), "복원 완료")) << name;
        EXPECT_FALSE(AnyLineContains(form.Memo2->Lines(), "복원된 파일이름")) << name;
        if (Boxes[0].Text == "복원이 완료되지 않았습니다. 백업파일을 확인하세요") {
            EXPECT_EQ(Boxes[0].Caption, "에러");
            EXPECT_EQ(Boxes[0].Flags, 16);
            ++silent;
        } else {
            EXPECT_EQ(Boxes[0].Caption, app::ApplicationTitle) << Boxes[0].Text;
            EXPECT_EQ(Boxes[0].Text.find("service is not attached"), std::string::npos);
            ++errors;
        }
        std::cout << "[ " << name << " ] " << Boxes[0].Text << "\n";
        ExpectTidyWindow(form);
    }
    std::cout << "[ cut backups ] " << silent << " ended silently, " << errors
              << " with an error\n";
    // Measured: the server ends these without reporting anything, so the
    // check of the closing line is what catches them.
    EXPECT_GT(silent, 0);
}

} // namespace
} // namespace cmdtest
