// The make-server command against the real server, on the headless window,
// with stand-ins of the suite's programs running from the tool's folder.
#include "testsupport/CommandTest.h"

namespace cmdtest {
namespace {

TEST_F(MakeServerTest, YesStopsMovesAsideRestoresWritesSettingsAndStartsTheSuite) {
    SLV_REQUIRE_SERVER();
    PlaceBackup(BackupFolder, BackupName);
    MakeLiveDatabase();
    app::TmainForm& form = Prepare();
    StartSuite();
    Answers = {app::IDYES};

    form.btnChangeServer->Click();

    ASSERT_GE(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].Text, ConfirmText);
    EXPECT_EQ(Boxes[0].Caption, "종료확인");
    EXPECT_EQ(Boxes[0].Flags, 36);
    ASSERT_EQ(Boxes.size(), 2u);
    ASSERT_NO_FATAL_FAILURE(ExpectSuccessBox("변경완료", Database));
    EXPECT_NE(Boxes[1].Text.find(Aside), std::string::npos) << Boxes[1].Text;
    EXPECT_TRUE(WaitFor([this] { return SuiteStopped(); }));

    // The old database is aside, the backup's data at the database path.
    ASSERT_TRUE(fs::exists(Aside));
    EXPECT_EQ(slvtest::DatabaseFingerprint(Aside), LiveFingerprint);
    EXPECT_EQ(slvtest::DatabaseFingerprint(Database), Demo().Fingerprint);
    EXPECT_TRUE(AnyLineContains(form.Memo2->Lines(), "====== 복원 완료 ======"));
    EXPECT_EQ(form.Memo2->Lines().back(), "복원된 파일이름: " + Database);

    // The settings, SvrIP before DBPathDB in a section that had neither.
    EXPECT_EQ(app::ReadIniValue("Environment.ini", "SYSTEM", "SvrIP"), "127.0.0.1");
    EXPECT_EQ(app::ReadIniValue("Environment.ini", "SYSTEM", "DBSvrIP"), "127.0.0.1");
    EXPECT_EQ(app::ReadIniValue("Environment.ini", "SYSTEM", "DBPathDB"), Database);
    EXPECT_EQ(app::ReadIniValue("Environment.ini", "SYSSETUP", "DBBackPOS"), BackupFolder + "/");
    const std::string ini = IniText();
    EXPECT_LT(ini.find("DBSvrIP="), ini.find("SvrIP=127"));
    EXPECT_LT(ini.find("SvrIP=127"), ini.find("DBPathDB="));
    // The window keeps the address it read at start for its backups.
    EXPECT_EQ(form.DBSvrIP(), "127.0.0.1/3050");

    // Two waits, each after handling pending messages (which the restore
    // handles too, between batches of its output).
    EXPECT_GE(Headless.ProcessMessagesCount, 2);
    ASSERT_GE(Headless.Sleeps.size(), 2u);
    EXPECT_EQ(Headless.Sleeps[0], 1000);
    EXPECT_EQ(Headless.Sleeps[1], 1000);

    // Both programs run again, started from the tool's folder.
    ASSERT_TRUE(WaitFor([this] { return StartedByCommand().size() >= 2; }));
    std::set<std::string> exes;
    for (pid_t pid : StartedByCommand()) {
        exes.insert(ExeOf(pid));
    }
    EXPECT_EQ(exes, (std::set<std::string>{Tool + "SLVServer.exe", Tool + "Solvane.exe"}));
    EXPECT_TRUE(form.btnRestoreDB->Enabled());
    EXPECT_TRUE(form.fbBackup->Visible());
}

TEST_F(MakeServerTest, NoLeavesEverythingAsItWas) {
    SLV_REQUIRE_SERVER();
    PlaceBackup(BackupFolder, BackupName);
    MakeLiveDatabase();
    app::TmainForm& form = Prepare();
    StartSuite();
    const std::string iniBefore = IniText();
    const std::string bytesBefore = ReadFile(Database);
    Answers = {app::IDNO};

    form.btnChangeServer->Click();

    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].Text, ConfirmText);
    EXPECT_TRUE(SuiteRunning());
    EXPECT_EQ(ReadFile(Database), bytesBefore);
    EXPECT_FALSE(fs::exists(Aside));
    EXPECT_EQ(IniText(), iniBefore);
    EXPECT_EQ(Headless.ProcessMessagesCount, 0);
    EXPECT_TRUE(Headless.Sleeps.empty());
}

TEST_F(MakeServerTest, MissingOrUnchosenBackupFileStopsBeforeAnything) {
    SLV_REQUIRE_SERVER();
    PlaceBackup(BackupFolder, BackupName);
    MakeLiveDatabase();
    app::TmainForm& form = Prepare("");
    StartSuite();
    WatchEverything();

    ASSERT_NO_FATAL_FAILURE(
        ExpectChosenBackupIsChecked(*form.btnChangeServer, BackupFolder, BackupName));

    EXPECT_TRUE(SuiteRunning()) << "nothing is stopped";
    EXPECT_FALSE(fs::exists(Aside));
    PlaceBackup(BackupFolder, BackupName); // the check removed it on purpose
    ExpectDatabaseIntact();
}

TEST_F(MakeServerTest, WithoutADatabaseFileTheRestoreMakesOne) {
    SLV_REQUIRE_SERVER();
    PlaceBackup(BackupFolder, BackupName);
    app::TmainForm& form = Prepare();

    form.btnChangeServer->Click();

    ASSERT_NO_FATAL_FAILURE(ExpectSuccessBox("변경완료", Database));
    EXPECT_FALSE(fs::exists(Aside));
    EXPECT_EQ(slvtest::DatabaseFingerprint(Database), Demo().Fingerprint);
    EXPECT_EQ(app::ReadIniValue("Environment.ini", "SYSTEM", "DBPathDB"), Database);
}

TEST_F(MakeServerTest, IncompleteRestoreWithoutADatabaseLeavesNothingBehind) {
    SLV_REQUIRE_SERVER();
    PlaceCutBackup(BackupFolder, "cut.fbk", fs::file_size(Demo().Backup) * 3 / 4);
    app::TmainForm& form = Prepare("cut.fbk");

    form.btnChangeServer->Click();

    const auto boxes = BoxesBesidesQuestion();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_FALSE(AnyLineContains(form.Memo2->Lines(), "복원 완료"));
    EXPECT_FALSE(fs::exists(Database)) << "what the failed restore wrote is removed";
    EXPECT_FALSE(fs::exists(Aside));
    EXPECT_EQ(app::ReadIniValue("Environment.ini", "SYSTEM", "SvrIP"), "");
}

} // namespace
} // namespace cmdtest
