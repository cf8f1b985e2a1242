// The ground of the command tests, on the headless window and on the Qt one:
// a window on headless widgets (or on any other front end), its tool folder
// and settings file, the message boxes answered by the test, a demo database
// on the real server copied fresh for each test, child processes ended by
// their id, and for make-server the stand-ins of the suite's programs
// running from the tool's folder.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <clocale>
#include <csignal>
#include <cstdlib>
#include <deque>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <set>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "app/Commands.h"
#include "app/DatabaseInUse.h"
#include "app/MainForm.h"
#include "app/RKSysUtils.h"
#include "app/Settings.h"
#include "testsupport/ChildProcess.h"
#include "testsupport/FbTestEnv.h"
#include "testsupport/Files.h"
#include "testsupport/HeadlessWidgets.h"
#include "testsupport/WindowTest.h"

extern char** environ;

namespace cmdtest {

namespace fs = std::filesystem;

using slvtest::TShownBox;

using slvtest::ReadFile;
using slvtest::WaitFor;
using slvtest::WriteFile;

// File names in the process's locale (UTF-8), for paths in Korean.
inline void UseUtf8Locale() {
    ::setenv("LC_ALL", "C.UTF-8", 1);
    std::setlocale(LC_ALL, "");
}

// A folder the server's own user may read and write.
inline std::string OpenFolder(const std::string& path) {
    fs::create_directories(path);
    ::chmod(path.c_str(), 0777);
    return path;
}

inline void CopyForServer(const std::string& from, const std::string& to) {
    fs::copy_file(from, to, fs::copy_options::overwrite_existing);
    ::chmod(to.c_str(), 0666);
}

// The lines of a memo that contain a text.
inline bool AnyLineContains(const std::vector<std::string>& lines, const std::string& text) {
    for (const auto& line : lines) {
        if (line.find(text) != std::string::npos) {
            return true;
        }
    }
    return false;
}

// A pristine demo database and its fingerprint, made once per test program.
struct TDemo {
    std::string Folder;
    std::string Database;
    std::string Backup; // a verbose backup of Database
    std::string Fingerprint;
};

inline const TDemo& Demo(int rows = 3000) {
    static TDemo demo;
    if (demo.Database.empty()) {
        demo.Folder = slvtest::MakeTempDir("commands-demo");
        demo.Database = demo.Folder + "/demo.fdb";
        slvtest::CreateDemoDatabase(demo.Database, rows);
        demo.Fingerprint = slvtest::DatabaseFingerprint(demo.Database);
        demo.Backup = demo.Folder + "/demo.fbk";
        std::string output;
        if (slvtest::BackupDatabase(demo.Database, demo.Backup, &output) != 0) {
            ADD_FAILURE() << "cannot back the demo database up:\n" << output;
        }
        std::atexit([] {
            std::error_code ignored;
            fs::remove_all(Demo().Folder, ignored);
        });
    }
    return demo;
}

// The demo database with `tables` more small tables, an index each, and
// its verbose backup, made once per test program: each table adds about 21
// lines to a verbose backup and to its restore, so that their output comes
// in several batches and the server is still at work after the first.
inline const TDemo& ManyTablesDemo(int tables = 200) {
    static TDemo demo;
    if (demo.Database.empty()) {
        demo.Folder = slvtest::MakeTempDir("commands-many");
        demo.Database = demo.Folder + "/many.fdb";
        CopyForServer(Demo().Database, demo.Database);
        std::string script;
        for (int i = 0; i < tables; ++i) {
            const std::string name = "MANY_" + std::to_string(i);
            script += "CREATE TABLE " + name +
                      " (ID INTEGER NOT NULL, NAME VARCHAR(40), AMOUNT NUMERIC(12,2), "
                      "CREATED DATE);\nCREATE INDEX " +
                      name + "_ID ON " + name + " (ID);\n";
        }
        std::string output;
        if (slvtest::RunIsql(demo.Database, script + "COMMIT;\n", &output) != 0) {
            ADD_FAILURE() << "cannot add the tables:\n" << output;
        }
        demo.Fingerprint = slvtest::DatabaseFingerprint(demo.Database);
        demo.Backup = demo.Folder + "/many.fbk";
        if (slvtest::BackupDatabase(demo.Database, demo.Backup, &output) != 0) {
            ADD_FAILURE() << "cannot back the database up:\n" << output;
        }
        ::chmod(demo.Backup.c_str(), 0666);
        std::atexit([] {
            std::error_code ignored;
            fs::remove_all(ManyTablesDemo().Folder, ignored);
        });
    }
    return demo;
}

// The number of attachments to a database other than the server's own and
// the caller's: programs', and those the server makes for a backup. -1 when
// the server could not be asked.
inline int UserAttachments(const std::string& database) {
    std::string output;
    if (slvtest::RunIsql(database,
                         "SELECT 'count=' || COUNT(*) FROM MON$ATTACHMENTS WHERE "
                         "MON$SYSTEM_FLAG = 0 AND MON$ATTACHMENT_ID <> CURRENT_CONNECTION;\n",
                         &output) != 0) {
        return -1;
    }
    const size_t at = output.find("count=");
    return at == std::string::npos ? -1 : std::atoi(output.c_str() + at + 6);
}

// The names in a folder that end in ".part": work files left behind.
inline std::vector<std::string> WorkFilesIn(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        if (entry.path().extension() == ".part") {
            names.push_back(entry.path().filename().string());
        }
    }
    return names;
}

// The marker row the live databases of the tests carry.
inline constexpr int LiveMarker = 4711;

// A copy of the demo database (or of `from`) at `path` with a table
// LIVE_MARK holding one marker row, so that it can be told from any restore
// of the demo backup.
inline void MakeMarkedDatabase(const std::string& path, const std::string& from = {}) {
    CopyForServer(from.empty() ? Demo().Database : from, path);
    std::string output;
    ASSERT_EQ(slvtest::RunIsql(path,
                               "CREATE TABLE LIVE_MARK (N INTEGER);\nCOMMIT;\n"
                               "INSERT INTO LIVE_MARK VALUES (" +
                                   std::to_string(LiveMarker) + ");\nCOMMIT;\n",
                               &output),
              0)
        << output;
}

// What a fault must never cost, checked after it by one checker: the live
// database by content through the server (its marker row and the row counts
// and checksum of every table), every backup file that was in the backup
// folder before (byte for byte), and the settings file byte for byte.
class TNothingLost {
public:
    void Watch(const std::string& database, const std::string& backupFolder,
               const std::string& settingsFile) {
        FDatabase = database;
        FSettings = settingsFile;
        FHadSettings = fs::exists(settingsFile);
        FSettingsText = ReadFile(settingsFile);
        FFingerprint = fs::exists(database) ? slvtest::DatabaseFingerprint(database) : "";
        FBackups.clear();
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(backupFolder, ec)) {
            if (entry.path().extension() == ".fbk") {
                FBackups[entry.path().string()] = ReadFile(entry.path().string());
            }
        }
        FWatching = true;
    }

    // Checks everything; call it once the fault is over.
    void Check() const {
        ASSERT_TRUE(FWatching) << "nothing was watched";
        if (!FFingerprint.empty()) {
            EXPECT_TRUE(fs::exists(FDatabase)) << FDatabase << " is gone";
            std::string output;
            EXPECT_EQ(slvtest::RunIsql(FDatabase, "SELECT 'mark=' || N FROM LIVE_MARK;\n", &output),
                      0)
                << output;
            EXPECT_NE(output.find("mark=" + std::to_string(LiveMarker)), std::string::npos)
                << "the marker row is gone:\n"
                << output;
            EXPECT_EQ(slvtest::DatabaseFingerprint(FDatabase), FFingerprint)
                << "the live database changed";
        }
        for (const auto& [path, bytes] : FBackups) {
            EXPECT_TRUE(fs::exists(path)) << path << " is gone";
            EXPECT_TRUE(ReadFile(path) == bytes) << path << " changed";
        }
        EXPECT_EQ(fs::exists(FSettings), FHadSettings);
        EXPECT_EQ(ReadFile(FSettings), FSettingsText) << "the settings changed";
    }

    size_t BackupCount() const { return FBackups.size(); }

private:
    bool FWatching = false;
    std::string FDatabase;
    std::string FFingerprint;
    std::string FSettings;
    bool FHadSettings = false;
    std::string FSettingsText;
    std::map<std::string, std::string> FBackups;
};

// A child process ended by its id and reaped, whatever the test did.
class TChild {
public:
    TChild(const std::string& program, const std::vector<std::string>& args, int stdinFd = -1) {
        std::vector<std::string> text{program};
        text.insert(text.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : text) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        if (stdinFd >= 0) {
            posix_spawn_file_actions_adddup2(&actions, stdinFd, 0);
        }
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        if (::posix_spawn(&FPid, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) {
            FPid = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
    }
    ~TChild() { End(); }
    TChild(const TChild&) = delete;
    TChild& operator=(const TChild&) = delete;

    pid_t Pid() const { return FPid; }
    bool Running() const {
        if (FPid <= 0 || FReaped) {
            return false;
        }
        const char state = slvtest::ProcessState(FPid);
        return state != 0 && state != 'Z';
    }
    void End() {
        if (FPid > 0 && !FReaped) {
            ::kill(FPid, SIGKILL);
            int status = 0;
            ::waitpid(FPid, &status, 0);
            FReaped = true;
        }
    }

private:
    pid_t FPid = -1;
    bool FReaped = false;
};

// The window and everything around it for one test. The front end is the
// headless one unless a test hands its own host in.
class CommandsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { UseUtf8Locale(); }

    void SetUp() override {
        Root = slvtest::MakeTempDir("commands");
        Tool = OpenFolder(Root + "/tool") + "/";
        DataFolder = OpenFolder(Root + "/db");
        BackupFolder = OpenFolder(Root + "/backup");
        Database = DataFolder + "/SOLVANE.FDB";
        app::SetToolFolderOverride(Tool);
        StartFolder = fs::current_path().string();
        app::SetMessageBoxPresenter(
            [this](const std::string& text, const std::string& caption, int flags) {
                Boxes.push_back({text, caption, flags});
                if (OnBox) {
                    OnBox(Boxes.back());
                }
                if (!Answers.empty()) {
                    const int answer = Answers.front();
                    Answers.pop_front();
                    return answer;
                }
                return 1;
            });
        Headless.UseFixedNow = true;
        Headless.FixedNow = {2024, 6, 19, 22, 17, 5, 0};
    }

    // Frees the window (a test may open a new one).
    void CloseForm() {
        delete Application; // frees the window it owns
        Application = nullptr;
        Form = nullptr;
    }

    void TearDown() override {
        CloseForm();
        app::SetMessageBoxPresenter(nullptr);
        app::SetToolFolderOverride("");
        fs::current_path(StartFolder);
        std::error_code ignored;
        fs::remove_all(Root, ignored);
    }

    std::string Ini() const { return Tool + "Environment.ini"; }
    std::string IniText() const { return ReadFile(Ini()); }

    void WriteIni(const std::string& server, const std::string& database,
                  const std::string& backupFolder) {
        WriteFile(Ini(), "[SYSTEM]\nDBSvrIP=" + server + "\nDBPathDB=" + database +
                             "\n[SYSSETUP]\nDBBackPOS=" + backupFolder + "\n");
    }

    // The window, owned by an unnamed application component as at run time.
    app::TmainForm& CreateForm(const app::TFormHost* host = nullptr) {
        Application = new rtl::TComponent(nullptr);
        Form = new app::TmainForm(Application, host != nullptr ? *host : Headless.Host());
        return *Form;
    }

    // A fresh copy of the demo database at `path`.
    std::string FreshDatabase(const std::string& path) {
        CopyForServer(Demo().Database, path);
        return path;
    }

    // A copy of the demo backup in `folder` under `name`.
    std::string PlaceBackup(const std::string& folder, const std::string& name) {
        CopyForServer(Demo().Backup, folder + "/" + name);
        return folder + "/" + name;
    }

    // The first `bytes` bytes of the demo backup in `folder` under `name`.
    std::string PlaceCutBackup(const std::string& folder, const std::string& name, size_t bytes) {
        const std::string whole = ReadFile(Demo().Backup);
        WriteFile(folder + "/" + name, whole.substr(0, std::min(bytes, whole.size())));
        ::chmod((folder + "/" + name).c_str(), 0666);
        return folder + "/" + name;
    }

    // Picks an entry of the backup list as the user would.
    void Choose(const std::string& name) {
        const auto& items = Form->fbBackup->Items();
        for (size_t i = 0; i < items.size(); ++i) {
            if (items[i] == name) {
                Form->fbBackup->UserSelected(static_cast<int>(i));
                return;
            }
        }
        ADD_FAILURE() << name << " is not in the list";
    }

    // The check the restore and make-server commands make of the backup file
    // before anything else: clicked with no file chosen, and then with a
    // chosen `name` gone from `backupFolder`, `button` shows one error box
    // each time. Call it with ASSERT_NO_FATAL_FAILURE.
    void ExpectChosenBackupIsChecked(app::IButton& button, const std::string& backupFolder,
                                     const std::string& name) {
        button.Click();
        ASSERT_EQ(Boxes.size(), 1u);
        EXPECT_EQ(Boxes[0].Text, "복원할 백업파일을 먼저 선택하세요");
        EXPECT_EQ(Boxes[0].Caption, "에러");
        EXPECT_EQ(Boxes[0].Flags, 16);

        Choose(name);
        fs::remove(backupFolder + "/" + name);
        button.Click();
        ASSERT_EQ(Boxes.size(), 2u);
        EXPECT_EQ(Boxes[1].Text, "파일이름이 올바르지 않습니다");
        EXPECT_EQ(Boxes[1].Caption, "에러");
        EXPECT_EQ(Boxes[1].Flags, 16);
    }

    // The boxes shown, less the question about a running Solvane.exe: tests
    // that start no stand-ins may still meet one that another program runs.
    std::vector<TShownBox> BoxesBesidesQuestion() const {
        std::vector<TShownBox> boxes;
        for (const auto& box : Boxes) {
            if (box.Text != "실행 중인 솔바네를 종료합니다") {
                boxes.push_back(box);
            }
        }
        return boxes;
    }

    // The command ended well: the one box shown (besides the question about
    // a running Solvane.exe) is an information box of that caption naming
    // `file`. Call it with ASSERT_NO_FATAL_FAILURE.
    void ExpectSuccessBox(const std::string& caption, const std::string& file) {
        const auto boxes = BoxesBesidesQuestion();
        ASSERT_EQ(boxes.size(), 1u) << (boxes.empty() ? "" : boxes[0].Text);
        EXPECT_EQ(boxes[0].Caption, caption);
        EXPECT_EQ(boxes[0].Flags, 64);
        EXPECT_NE(boxes[0].Text.find(file), std::string::npos) << boxes[0].Text;
    }

    std::string Root;
    std::string Tool;
    // A database folder and a backup folder, both open to the server, and
    // the database's path.
    std::string DataFolder;
    std::string BackupFolder;
    std::string Database;
    std::string StartFolder;
    app::THeadlessHost Headless;
    app::TmainForm* Form = nullptr;
    std::vector<TShownBox> Boxes;
    std::deque<int> Answers;
    std::function<void(const TShownBox&)> OnBox;

private:
    rtl::TComponent* Application = nullptr;
};

// ---- make-server: stand-ins of the suite's programs ---------------------

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
        WriteFile(Ini(), "[SYSTEM]\nDBSvrIP=127.0.0.1/3050\n[SYSSETUP]\nDBBackPOS=" + BackupFolder +
                             "/\n");
        app::TmainForm& form = CreateForm();
        form.txtDBFN->SetText(Database);
        form.fbBackup->Update();
        if (!backupName.empty()) {
            Choose(backupName);
        }
        return form;
    }

    static constexpr const char* SuitePrograms[] = {"Solvane.exe", "SLVServer.exe"};

    // A stand-in of one of the suite's programs, copied into the tool's
    // folder under that program's name; returns its path.
    std::string PlaceStandIn(const std::string& name) const {
        fs::copy_file(std::string(STANDIN_DIR) + "/" + name, Tool + name,
                      fs::copy_options::overwrite_existing);
        ::chmod((Tool + name).c_str(), 0755);
        return Tool + name;
    }

    // Stand-ins of the suite's programs, copied into the tool's folder and
    // started from there.
    void StartSuite() {
        for (const char* name : SuitePrograms) {
            Suite.push_back(
                std::make_unique<TChild>(PlaceStandIn(name), std::vector<std::string>{}));
        }
        ASSERT_TRUE(WaitFor([this] { return StartedFromTool().size() >= 2; }));
        BeforeCommand = StartedFromTool().size();
    }

    // Ids of the stand-ins that wrote their start line and were started from
    // the tool's folder.
    std::vector<pid_t> StartedFromTool() const {
        std::vector<pid_t> pids;
        std::istringstream log(ReadFile(StandInLog));
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
