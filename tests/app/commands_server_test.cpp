// The make-server command against the real server, on the headless window,
// with stand-ins of the suite's programs running from the tool's folder.
#include "CommandsTestUtil.h"

#include "app/Commands.h"
#include "app/DatabaseInUse.h"

namespace cmdtest {
namespace {

constexpr const char* BackupName = "SLV_Backup_240619_2217.fbk";
constexpr const char* ConfirmText = "실행 중인 솔바네를 종료합니다";

std::string ExeOf(pid_t pid) {
    char target[4096];
    const ssize_t n =
        ::readlink(("/proc/" + std::to_string(pid) + "/exe").c_str(), target, sizeof target);
    return n > 0 ? std::string(target, static_cast<size_t>(n)) : std::string();
}

// An isql-fb session attached to a database for as long as the object lives.
class TAttachedSession {
public:
    explicit TAttachedSession(const std::string& database) {
        if (::pipe(FInput) != 0) {
            return;
        }
        FChild = std::make_unique<TChild>(
            "/usr/bin/isql-fb",
            std::vector<std::string>{"-q", "-user", slvtest::ServerUser(), "-password",
                                     slvtest::ServerPassword(), slvtest::RemoteDatabase(database)},
            FInput[0]);
        ::close(FInput[0]);
        FInput[0] = -1;
    }
    ~TAttachedSession() {
        if (FInput[1] >= 0) {
            ::close(FInput[1]);
        }
        FChild.reset();
    }
    TAttachedSession(const TAttachedSession&) = delete;
    TAttachedSession& operator=(const TAttachedSession&) = delete;

    void End() { FChild.reset(); }

private:
    int FInput[2] = {-1, -1};
    std::unique_ptr<TChild> FChild;
};

bool ServerHasInUse(const std::string& path) {
    return app::AskServerDatabaseInUse(app::LocalServer, path) == app::TServerAnswer::InUse;
}

class MakeServerTest : public CommandsTest {
protected:
    void SetUp() override {
        CommandsTest::SetUp();
        DataFolder = OpenFolder(Root + "/db");
        BackupFolder = OpenFolder(Root + "/backup");
        Database = DataFolder + "/SOLVANE.FDB";
        Aside = DataFolder + "/SOLVANE~.fdb";
        StandInLog = Root + "/standins.log";
        ::setenv("SLV_STANDIN_LOG", StandInLog.c_str(), 1);
    }

    void TearDown() override {
        // Programs the command started are ended by their ids.
        for (pid_t pid : StartedByCommand()) {
            ::kill(pid, SIGKILL);
        }
        Suite.clear();
        ::unsetenv("SLV_STANDIN_LOG");
        CommandsTest::TearDown();
    }

    // The live database: the demo data with one more table, so that it can
    // be told from the backup's data.
    void MakeLiveDatabase() {
        FreshDatabase(Database);
        std::string output;
        ASSERT_EQ(
            slvtest::RunIsql(Database, "CREATE TABLE LIVE_MARK (N INTEGER);\nCOMMIT;\n", &output),
            0)
            << output;
        LiveFingerprint = slvtest::DatabaseFingerprint(Database);
        ASSERT_NE(LiveFingerprint, Demo().Fingerprint);
    }

    app::TmainForm& Prepare(const std::string& backupName = BackupName) {
        WriteText(Ini(), "[SYSTEM]\nDBSvrIP=127.0.0.1/3050\n[SYSSETUP]\nDBBackPOS=" + BackupFolder +
                             "/\n");
        app::TmainForm& form = CreateForm();
        form.txtDBFN->SetText(Database);
        form.fbBackup->Update();
        if (!backupName.empty()) {
            Choose(backupName);
        }
        return form;
    }

    // Stand-ins of the suite's programs, copied into the tool's folder and
    // started from there.
    void StartSuite() {
        for (const char* name : {"Solvane.exe", "SLVServer.exe"}) {
            fs::copy_file(std::string(STANDIN_DIR) + "/" + name, Tool + name,
                          fs::copy_options::overwrite_existing);
            ::chmod((Tool + name).c_str(), 0755);
            Suite.push_back(std::make_unique<TChild>(Tool + name, std::vector<std::string>{}));
        }
        ASSERT_TRUE(WaitUntil([this] { return StartedFromTool().size() >= 2; }));
        BeforeCommand = StartedFromTool().size();
    }

    // Ids of the stand-ins that wrote their start line and were started from
    // the tool's folder.
    std::vector<pid_t> StartedFromTool() const {
        std::vector<pid_t> pids;
        std::istringstream log(ReadText(StandInLog));
        std::string line;
        while (std::getline(log, line)) {
            const size_t tab = line.find('\t');
            const size_t tab2 = line.find('\t', tab + 1);
            const std::string exe = line.substr(tab + 1, tab2 - tab - 1);
            if (exe == Tool + "Solvane.exe" || exe == Tool + "SLVServer.exe") {
                pids.push_back(static_cast<pid_t>(std::stoi(line.substr(0, tab))));
            }
        }
        return pids;
    }

    std::vector<pid_t> StartedByCommand() const {
        const auto all = StartedFromTool();
        return all.size() > BeforeCommand
                   ? std::vector<pid_t>(all.begin() + static_cast<long>(BeforeCommand), all.end())
                   : std::vector<pid_t>{};
    }

    bool SuiteRunning() const {
        return Suite.size() == 2 && Suite[0]->Running() && Suite[1]->Running();
    }
    bool SuiteStopped() const {
        return std::none_of(Suite.begin(), Suite.end(), [](const auto& c) { return c->Running(); });
    }

    // The suite's database is still there with its own data.
    void ExpectDatabaseIntact() {
        ASSERT_TRUE(fs::exists(Database));
        EXPECT_EQ(slvtest::DatabaseFingerprint(Database), LiveFingerprint);
        EXPECT_EQ(app::ReadIniValue("Environment.ini", "SYSTEM", "SvrIP"), "")
            << "no settings are written";
        EXPECT_EQ(app::ReadIniValue("Environment.ini", "SYSTEM", "DBSvrIP"), "127.0.0.1/3050");
        EXPECT_TRUE(StartedByCommand().empty()) << "no program is started";
    }

    std::string DataFolder;
    std::string BackupFolder;
    std::string Database;
    std::string Aside;
    std::string StandInLog;
    std::string LiveFingerprint;
    std::vector<std::unique_ptr<TChild>> Suite;
    size_t BeforeCommand = 0;
};

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
    EXPECT_TRUE(WaitUntil([this] { return SuiteStopped(); }));

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

    // Two waits, each after handling pending messages.
    EXPECT_EQ(Headless.ProcessMessagesCount, 2);
    ASSERT_GE(Headless.Sleeps.size(), 2u);
    EXPECT_EQ(Headless.Sleeps[0], 1000);
    EXPECT_EQ(Headless.Sleeps[1], 1000);

    // Both programs run again, started from the tool's folder.
    ASSERT_TRUE(WaitUntil([this] { return StartedByCommand().size() >= 2; }));
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
    const std::string bytesBefore = ReadText(Database);
    Answers = {app::IDNO};

    form.btnChangeServer->Click();

    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].Text, ConfirmText);
    EXPECT_TRUE(SuiteRunning());
    EXPECT_EQ(ReadText(Database), bytesBefore);
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
    const std::string iniBefore = IniText();

    ASSERT_NO_FATAL_FAILURE(
        ExpectChosenBackupIsChecked(*form.btnChangeServer, BackupFolder, BackupName));

    EXPECT_TRUE(SuiteRunning()) << "nothing is stopped";
    EXPECT_FALSE(fs::exists(Aside));
    EXPECT_EQ(IniText(), iniBefore);
    ExpectDatabaseIntact();
}

TEST_F(MakeServerTest, LeftOverAsideFileStopsBeforeAnything) {
    SLV_REQUIRE_SERVER();
    PlaceBackup(BackupFolder, BackupName);
    MakeLiveDatabase();
    WriteText(Aside, "an older copy");
    app::TmainForm& form = Prepare();
    StartSuite();

    form.btnChangeServer->Click();

    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].Text, Aside + " 파일이 이미 있습니다");
    EXPECT_EQ(Boxes[0].Caption, "변경실패");
    EXPECT_EQ(Boxes[0].Flags, 16);
    EXPECT_TRUE(SuiteRunning()) << "nothing is stopped";
    EXPECT_EQ(ReadText(Aside), "an older copy");
    ExpectDatabaseIntact();
}

TEST_F(MakeServerTest, DatabaseHeldByAnAttachmentIsNotMoved) {
    SLV_REQUIRE_SERVER();
    PlaceBackup(BackupFolder, BackupName);
    MakeLiveDatabase();
    app::TmainForm& form = Prepare();
    StartSuite();
    TAttachedSession session(Database);
    ASSERT_TRUE(WaitUntil([this] { return ServerHasInUse(Database); }));
    Answers = {app::IDYES};

    form.btnChangeServer->Click();

    ASSERT_EQ(Boxes.size(), 2u);
    EXPECT_EQ(Boxes[0].Text, ConfirmText);
    EXPECT_EQ(Boxes[1].Text, Database + " 파일이 사용 중입니다");
    EXPECT_EQ(Boxes[1].Caption, "변경실패");
    EXPECT_EQ(Boxes[1].Flags, 16);
    EXPECT_FALSE(fs::exists(Aside));
    EXPECT_TRUE(WaitUntil([this] { return SuiteStopped(); })) << "what was stopped stays stopped";
    EXPECT_TRUE(form.Memo2->Lines().empty()) << "nothing restored";
    session.End();
    ASSERT_TRUE(WaitUntil([this] { return !ServerHasInUse(Database); }));
    ExpectDatabaseIntact();
}

TEST_F(MakeServerTest, FailedRestorePutsTheDatabaseBack) {
    SLV_REQUIRE_SERVER();
    WriteText(BackupFolder + "/junk.fbk", std::string(20000, 'x'));
    ::chmod((BackupFolder + "/junk.fbk").c_str(), 0666);
    MakeLiveDatabase();
    app::TmainForm& form = Prepare("junk.fbk");

    form.btnChangeServer->Click();

    // One box, after the put-back: what failed, that the database is back,
    // that the programs stay stopped.
    const auto boxes = BoxesBesidesQuestion();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].Caption, "변경실패");
    EXPECT_EQ(boxes[0].Flags, 16);
    EXPECT_NE(boxes[0].Text.find("Expected backup description record"), std::string::npos)
        << boxes[0].Text;
    EXPECT_NE(boxes[0].Text.find("이전 DB파일을 원래 자리(" + Database + ")에 되돌려 놓았습니다."),
              std::string::npos)
        << boxes[0].Text;
    EXPECT_NE(boxes[0].Text.find("솔바네와 SLVServer는 멈춘 채로 있습니다."), std::string::npos);
    EXPECT_FALSE(fs::exists(Aside));
    EXPECT_TRUE(form.btnRestoreDB->Enabled());
    EXPECT_TRUE(form.fbBackup->Visible());
    ExpectDatabaseIntact();
}

TEST_F(MakeServerTest, IncompleteRestorePutsTheDatabaseBack) {
    SLV_REQUIRE_SERVER();
    PlaceCutBackup(BackupFolder, "cut.fbk", fs::file_size(Demo().Backup) * 3 / 4);
    MakeLiveDatabase();
    app::TmainForm& form = Prepare("cut.fbk");
    StartSuite();
    Answers = {app::IDYES};

    form.btnChangeServer->Click();

    ASSERT_EQ(Boxes.size(), 2u);
    EXPECT_EQ(Boxes[0].Text, ConfirmText);
    // The server may report the cut or just stop; either way no success.
    EXPECT_EQ(Boxes[1].Caption, "변경실패");
    EXPECT_EQ(Boxes[1].Flags, 16);
    EXPECT_NE(Boxes[1].Text.find("에 되돌려 놓았습니다."), std::string::npos) << Boxes[1].Text;
    EXPECT_FALSE(AnyLineContains(form.Memo2->Lines(), "복원 완료"));
    EXPECT_FALSE(fs::exists(Aside));
    EXPECT_TRUE(WaitUntil([this] { return SuiteStopped(); })) << "the suite stays stopped";
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
