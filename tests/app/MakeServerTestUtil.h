// The make-server command's ground: the headless window with a database
// folder, a backup folder and stand-ins of the suite's programs running from
// the tool's folder.
#pragma once

#include "CommandsTestUtil.h"

#include "app/Commands.h"
#include "app/DatabaseInUse.h"

namespace cmdtest {

inline constexpr const char* BackupName = "SLV_Backup_240619_2217.fbk";
inline constexpr const char* ConfirmText = "실행 중인 솔바네를 종료합니다";

inline std::string ExeOf(pid_t pid) {
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

inline bool ServerHasInUse(const std::string& path) {
    return app::AskServerDatabaseInUse(app::LocalServer, path) == app::TServerAnswer::InUse;
}

class MakeServerTest : public CommandsTest {
protected:
    void SetUp() override {
        CommandsTest::SetUp();
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

    // The live database: the demo data with a marker row, so that it can
    // be told from the backup's data.
    void MakeLiveDatabase() {
        ASSERT_NO_FATAL_FAILURE(MakeMarkedDatabase(Database));
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

    // What must survive: taken before the command runs.
    void WatchEverything() { Guard.Watch(Database, BackupFolder, Ini()); }

    // The suite's database is still there with its own data, every backup
    // and the settings as they were, and no program was started.
    void ExpectDatabaseIntact() {
        Guard.Check();
        EXPECT_TRUE(StartedByCommand().empty()) << "no program is started";
    }

    std::string Aside;
    std::string StandInLog;
    std::string LiveFingerprint;
    std::vector<std::unique_ptr<TChild>> Suite;
    size_t BeforeCommand = 0;
    TNothingLost Guard;
};

} // namespace cmdtest
