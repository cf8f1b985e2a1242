// Backup and restore through the real server's service manager: a full round
// trip into a database with a Korean file name, the raw replies the server
// gives, and failures at every stage with the component left detached and
// usable.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "client/fib.h"
#include "services/IB_Services.h"
#include "testsupport/FbTestEnv.h"

using namespace fib;

namespace {

std::string gDemoDir; // folder of the shared demo database

// The process runs under a UTF-8 locale for the Korean file names, and never
// takes a user or password from the environment.
class ProcessSetup : public ::testing::Environment {
public:
    void SetUp() override {
        setlocale(LC_ALL, "C.UTF-8");
        unsetenv("ISC_USER");
        unsetenv("ISC_PASSWORD");
    }
    void TearDown() override {
        if (!gDemoDir.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(gDemoDir, ignored);
        }
    }
};
const auto* const kSetup = ::testing::AddGlobalTestEnvironment(new ProcessSetup);

constexpr int kDemoRows = 20000;

template <typename T> void Configure(T& svc, const std::string& password) {
    svc.SetLoginPrompt(false);
    svc.SetServerName(slvtest::ServerHost());
    svc.Params().Assign(
        std::vector<std::string>{"user_name=" + slvtest::ServerUser(), "password=" + password});
}
template <typename T> void Configure(T& svc) {
    Configure(svc, slvtest::ServerPassword());
}

// Polls the running state until the server reports the action finished;
// false when it still runs after a minute.
bool WaitUntilFinished(TpFIBControlService& svc) {
    for (int i = 0; i < 1200; ++i) {
        if (!svc.IsRunning()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

// Reads every line of the action's output; the empty end line is left out.
std::vector<std::string> ReadAll(TpFIBControlAndQueryService& svc) {
    std::vector<std::string> lines;
    while (!svc.EndOfOutput()) {
        std::string line = svc.ReadNextLine();
        if (!svc.EndOfOutput()) {
            lines.push_back(std::move(line));
        }
    }
    return lines;
}

// The same, read in bulk; the empty end line is left out too.
std::vector<std::string> ReadAllInBulk(TpFIBControlAndQueryService& svc) {
    std::vector<std::string> lines;
    while (!svc.EndOfOutput()) {
        svc.ReadAvailableLines(lines);
    }
    EXPECT_FALSE(lines.empty());
    if (!lines.empty()) {
        EXPECT_EQ(lines.back(), "");
        lines.pop_back();
    }
    return lines;
}

// One demo database shared by the tests of this program, removed at the end.

const std::string& DemoDatabase() {
    static const std::string path = [] {
        gDemoDir = slvtest::MakeTempDir("svc-demo");
        const std::string db = gDemoDir + "/demo.fdb";
        slvtest::CreateDemoDatabase(db, kDemoRows);
        return db;
    }();
    return path;
}

// The demo database with many small tables, an index each, added: a verbose
// backup or restore of it prints thousands of lines.
constexpr int kManyTables = 250;
const std::string& ManyTablesDatabase() {
    static const std::string path = [] {
        const std::string db = DemoDatabase();
        const std::string many = gDemoDir + "/many.fdb";
        std::string out;
        EXPECT_EQ(slvtest::BackupDatabase(db, gDemoDir + "/many-source.fbk", &out), 0) << out;
        EXPECT_EQ(slvtest::RestoreDatabase(gDemoDir + "/many-source.fbk", many, &out), 0) << out;
        EXPECT_EQ(
            slvtest::RunFbsvcmgr(
                {"action_properties", "dbname", many, "prp_write_mode", "prp_wm_async"}, &out),
            0)
            << out;
        std::ostringstream script;
        for (int i = 0; i < kManyTables; ++i) {
            script << "CREATE TABLE MANY_" << i << " (ID INTEGER NOT NULL, NAME VARCHAR(40));\n"
                   << "CREATE INDEX MANY_" << i << "_ID ON MANY_" << i << " (ID);\n";
            if (i % 50 == 49) {
                script << "COMMIT;\n";
            }
        }
        script << "COMMIT;\n";
        EXPECT_EQ(slvtest::RunIsql(many, script.str(), &out), 0) << out;
        return many;
    }();
    return path;
}

// Socket inodes of this process's TCP connections to the server's port.
int ServerConnections() {
    std::set<std::string> inodes;
    for (const char* table : {"/proc/self/net/tcp", "/proc/self/net/tcp6"}) {
        std::ifstream in(table);
        std::string line;
        std::getline(in, line); // header
        while (std::getline(in, line)) {
            std::istringstream fields(line);
            std::string slot, local, remote, state, queues, timer, retr, uid, timeout, inode;
            fields >> slot >> local >> remote >> state >> queues >> timer >> retr >> uid >>
                timeout >> inode;
            // Remote port 3050 (0x0BEA); established or closing, not yet gone.
            if (remote.size() > 5 && remote.substr(remote.size() - 5) == ":0BEA" && state != "0A" &&
                state != "07") {
                inodes.insert(inode);
            }
        }
    }
    int count = 0;
    if (DIR* fds = opendir("/proc/self/fd")) {
        while (dirent* e = readdir(fds)) {
            char target[256] = {};
            const std::string link = std::string("/proc/self/fd/") + e->d_name;
            const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
            if (n <= 0) {
                continue;
            }
            const std::string t(target, static_cast<size_t>(n));
            if (t.rfind("socket:[", 0) == 0 && inodes.count(t.substr(8, t.size() - 9)) != 0) {
                ++count;
            }
        }
        closedir(fds);
    }
    return count;
}

struct Failure {
    bool raised = false;
    bool serverError = false; // EFIBInterBaseError
    std::string text;
    std::string stage;
};

// Runs the component's action to its end, reading its output line by line
// or in bulk, and reports the error it raised.
Failure RunExpectingFailure(TpFIBControlAndQueryService& svc, bool bulk = false) {
    Failure f;
    f.stage = "attach";
    try {
        svc.Attach();
        f.stage = "start";
        svc.ServiceStart();
        f.stage = "lines";
        bulk ? ReadAllInBulk(svc) : ReadAll(svc);
        f.stage = "running";
        WaitUntilFinished(svc);
        f.stage = "detach";
        svc.Detach();
    } catch (const EFIBInterBaseError& e) {
        f.raised = true;
        f.serverError = true;
        f.text = e.what();
    } catch (const EFIBError& e) {
        f.raised = true;
        f.text = e.what();
    }
    return f;
}

// After a failure the component is detached and attaches again.
void ExpectUsableAfterwards(TpFIBCustomService& svc) {
    EXPECT_FALSE(svc.Active());
    EXPECT_EQ(svc.ServiceHandle(), 0u);
    svc.Attach();
    EXPECT_TRUE(svc.Active());
    svc.Detach();
}

class ServerServices : public ::testing::Test {
protected:
    void SetUp() override {
        SLV_REQUIRE_SERVER();
        dir = slvtest::MakeTempDir("svc");
    }
    void TearDown() override {
        if (!dir.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(dir, ignored);
        }
    }
    std::string dir;
};

// Opens the reply buffer up for the tests that look at the raw bytes.
class RawBackup : public TpFIBBackupService {
public:
    using TpFIBBackupService::QueryItems;
    using TpFIBBackupService::QueryService;
    using TpFIBBackupService::TpFIBBackupService;
    // The first n bytes of the last reply.
    std::string Reply(size_t n) {
        const char* p = ReplyBuffer();
        return p == nullptr ? std::string() : std::string(p, n);
    }
};

// --- round trip ------------------------------------------------------------------

TEST_F(ServerServices, BackupAndRestoreRoundTripIntoKoreanFileName) {
    const std::string db = DemoDatabase();
    const std::string backupFile = dir + "/SLV_Backup_240131_0930.fbk";
    const std::string restored = dir + "/데모복원.fdb";

    TpFIBBackupService backup;
    Configure(backup);
    backup.SetDatabaseName(db);
    backup.BackupFile().Add(backupFile);
    backup.SetOptions({TBackupOption::IgnoreLimbo, TBackupOption::NonTransportable});
    backup.SetVerbose(true);
    backup.Attach();
    backup.ServiceStart();
    const std::vector<std::string> backupLines = ReadAll(backup);
    EXPECT_TRUE(backup.EndOfOutput());
    EXPECT_TRUE(WaitUntilFinished(backup));
    backup.Detach();
    ASSERT_GT(backupLines.size(), 10u);
    EXPECT_EQ(backupLines.front().rfind("gbak:", 0), 0u) << backupLines.front();
    for (const std::string& line : backupLines) {
        EXPECT_FALSE(line.empty());
    }
    struct stat st = {};
    ASSERT_EQ(stat(backupFile.c_str(), &st), 0);
    EXPECT_GT(st.st_size, 100000);

    TpFIBRestoreService restore;
    Configure(restore);
    restore.SetOptions({TRestoreOption::Replace, TRestoreOption::UseAllSpace});
    restore.SetPageSize(4096);
    restore.SetPageBuffers(3000);
    restore.SetVerbose(true);
    restore.BackupFile().Add(backupFile);
    restore.DatabaseName().Add(restored);
    restore.Attach();
    restore.ServiceStart();
    const std::vector<std::string> restoreLines = ReadAll(restore);
    EXPECT_TRUE(WaitUntilFinished(restore));
    restore.Detach();
    EXPECT_GT(restoreLines.size(), 10u);

    ASSERT_EQ(stat(restored.c_str(), &st), 0) << restored;
    EXPECT_EQ(slvtest::DatabaseFingerprint(restored), slvtest::DatabaseFingerprint(db));
    std::string out;
    ASSERT_EQ(slvtest::RunIsql(restored, "select mon$page_size from mon$database;\n", &out), 0)
        << out;
    EXPECT_NE(out.find("4096"), std::string::npos) << out;
}

TEST_F(ServerServices, TextNotifyReceivesEveryLineThenTheEmptyString) {
    TpFIBBackupService backup;
    Configure(backup);
    backup.SetDatabaseName(DemoDatabase());
    backup.BackupFile().Add(dir + "/notify.fbk");
    backup.SetVerbose(true);
    std::vector<std::string> lines;
    backup.OnTextNotify = [&](rtl::TComponent* sender, const std::string& line) {
        EXPECT_EQ(sender, &backup);
        lines.push_back(line);
    };
    backup.Attach();
    backup.ServiceStart(); // returns once the output has ended
    EXPECT_TRUE(backup.EndOfOutput());
    ASSERT_GT(lines.size(), 10u);
    EXPECT_EQ(lines.back(), "");
    for (size_t i = 0; i + 1 < lines.size(); ++i) {
        EXPECT_FALSE(lines[i].empty()) << i;
    }
    EXPECT_TRUE(WaitUntilFinished(backup));
    backup.Detach();
}

TEST_F(ServerServices, TwoBackupsInARowWithOneComponent) {
    TpFIBBackupService backup;
    Configure(backup);
    backup.SetDatabaseName(DemoDatabase());
    backup.SetVerbose(true);
    for (const char* name : {"/first.fbk", "/second.fbk"}) {
        backup.BackupFile().Clear();
        backup.BackupFile().Add(dir + name);
        backup.Attach();
        backup.ServiceStart();
        EXPECT_FALSE(backup.EndOfOutput()) << name; // the start clears the old end
        EXPECT_GT(ReadAll(backup).size(), 10u) << name;
        EXPECT_TRUE(WaitUntilFinished(backup));
        backup.Detach();
        struct stat st = {};
        EXPECT_EQ(stat((dir + name).c_str(), &st), 0) << name;
    }
}

TEST_F(ServerServices, SecondActionOnTheSameAttachment) {
    // The server takes a second action on one attachment once the first has
    // ended.
    TpFIBBackupService backup;
    Configure(backup);
    backup.SetDatabaseName(DemoDatabase());
    backup.Attach();
    for (const char* name : {"/one.fbk", "/two.fbk"}) {
        backup.BackupFile().Clear();
        backup.BackupFile().Add(dir + name);
        backup.ServiceStart();
        ReadAll(backup);
        EXPECT_TRUE(WaitUntilFinished(backup));
        struct stat st = {};
        EXPECT_EQ(stat((dir + name).c_str(), &st), 0) << name;
    }
    backup.Detach();
}

TEST_F(ServerServices, BulkReadingGivesTheLinesOfTheLineQuery) {
    // Each action runs twice onto the same file, once read line by line and
    // once in bulk, so the two outputs can be compared line for line.
    const auto run = [](TpFIBBackupRestoreService& svc, bool bulk) {
        Configure(svc);
        svc.SetVerbose(true);
        svc.Attach();
        svc.ServiceStart();
        std::vector<std::string> lines = bulk ? ReadAllInBulk(svc) : ReadAll(svc);
        EXPECT_TRUE(WaitUntilFinished(svc));
        svc.Detach();
        return lines;
    };
    const std::string backupFile = dir + "/many.fbk";
    const auto backupLines = [&](bool bulk) {
        TpFIBBackupService backup;
        backup.SetDatabaseName(ManyTablesDatabase());
        backup.BackupFile().Add(backupFile);
        backup.SetOptions({TBackupOption::IgnoreLimbo, TBackupOption::NonTransportable});
        return run(backup, bulk);
    };
    const std::vector<std::string> byLine = backupLines(false);
    EXPECT_GT(byLine.size(), static_cast<size_t>(kManyTables) * 5);
    EXPECT_EQ(backupLines(true), byLine);

    const auto restoreLines = [&](bool bulk) {
        TpFIBRestoreService restore;
        restore.SetOptions({TRestoreOption::Replace, TRestoreOption::UseAllSpace});
        restore.SetPageBuffers(3000);
        restore.BackupFile().Add(backupFile);
        restore.DatabaseName().Add(dir + "/many복원.fdb");
        return run(restore, bulk);
    };
    const std::vector<std::string> restoredByLine = restoreLines(false);
    EXPECT_GT(restoredByLine.size(), static_cast<size_t>(kManyTables) * 5);
    EXPECT_EQ(restoreLines(true), restoredByLine);
    EXPECT_EQ(slvtest::DatabaseFingerprint(dir + "/many복원.fdb"),
              slvtest::DatabaseFingerprint(ManyTablesDatabase()));
}

// --- the server's replies ----------------------------------------------------------

TEST_F(ServerServices, RawRepliesOfLineAndRunningQueries) {
    RawBackup backup;
    Configure(backup);
    backup.SetDatabaseName(DemoDatabase());
    backup.BackupFile().Add(dir + "/raw.fbk");
    backup.SetVerbose(true);
    backup.Attach();
    backup.ServiceStart();

    // Running right after the start: 43, then 1 in four bytes.
    backup.QueryItems() = std::string(1, '\x43');
    backup.QueryService();
    EXPECT_EQ(backup.Reply(5), std::string("\x43\x01\x00\x00\x00", 5));

    // First line: 3E, length, the text, then isc_info_end.
    backup.QueryItems() = std::string(1, '\x3E');
    backup.QueryService();
    std::string head = backup.Reply(3);
    ASSERT_EQ(head.size(), 3u);
    EXPECT_EQ(head[0], '\x3E');
    const size_t length = static_cast<size_t>(static_cast<unsigned char>(head[1])) |
                          (static_cast<size_t>(static_cast<unsigned char>(head[2])) << 8);
    ASSERT_GT(length, 5u);
    const std::string reply = backup.Reply(4 + length);
    const std::string first = reply.substr(3, length);
    EXPECT_EQ(first.rfind("gbak:readied database ", 0), 0u) << first;
    EXPECT_EQ(first.back(), ' '); // the server's lines keep a trailing blank
    EXPECT_EQ(reply[3 + length], '\x01');

    // The rest, up to the empty line that ends the output.
    std::string last;
    for (int i = 0; i < 100000; ++i) {
        backup.QueryItems() = std::string(1, '\x3E');
        backup.QueryService();
        head = backup.Reply(4);
        if (head[1] == 0 && head[2] == 0) {
            last = head;
            break;
        }
    }
    EXPECT_EQ(last, std::string("\x3E\x00\x00\x01", 4));

    // Finished: 43 00 00 00 00.
    ASSERT_TRUE(WaitUntilFinished(backup));
    EXPECT_EQ(backup.Reply(5), std::string("\x43\0\0\0\0", 5));
    backup.Detach();
}

// --- failures ------------------------------------------------------------------------

TEST_F(ServerServices, WrongPasswordFailsAtAttach) {
    TpFIBBackupService backup;
    Configure(backup, "not-the-password");
    try {
        backup.Attach();
        FAIL() << "attached with a wrong password";
    } catch (const EFIBInterBaseError& e) {
        EXPECT_NE(std::string(e.what()).find("password"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(backup.Active());
    backup.Params().Set(1, "password=" + slvtest::ServerPassword());
    ExpectUsableAfterwards(backup);
}

TEST_F(ServerServices, ServerNotListening) {
    TpFIBBackupService backup;
    Configure(backup);
    backup.SetServerName("127.0.0.1/3099");
    EXPECT_EQ(backup.ConnectString(), "127.0.0.1/3099:service_mgr");
    try {
        backup.Attach();
        FAIL() << "attached to a port where nothing listens";
    } catch (const EFIBInterBaseError& e) {
        const std::string text = e.what();
        EXPECT_NE(text.find("Unable to complete network request to host \"127.0.0.1\""),
                  std::string::npos)
            << text;
        EXPECT_NE(text.find("Failed to establish a connection."), std::string::npos) << text;
    }
    backup.SetServerName(slvtest::ServerHost());
    ExpectUsableAfterwards(backup);
}

struct FailureCase {
    const char* title;
    // Sets the component up against the test's folder.
    std::function<void(TpFIBBackupService*, TpFIBRestoreService*, const std::string& dir)> setup;
    const char* textPart; // a part of the server's message
};

class ServerFailures : public ServerServices, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(ServerFailures, ErrorLeavesTheComponentDetachedAndUsable) {
    const FailureCase& c = GetParam();
    // The server's own message, whichever way the output is read.
    for (const bool bulk : {false, true}) {
        TpFIBBackupService backup;
        TpFIBRestoreService restore;
        Configure(backup);
        Configure(restore);
        c.setup(&backup, &restore, dir);
        TpFIBControlAndQueryService& svc = backup.DatabaseName().empty()
                                               ? static_cast<TpFIBControlAndQueryService&>(restore)
                                               : backup;
        const Failure f = RunExpectingFailure(svc, bulk);
        const std::string how = bulk ? " (bulk)" : " (line by line)";
        ASSERT_TRUE(f.raised) << c.title << how << ": no error";
        EXPECT_TRUE(f.serverError) << c.title << how << ": " << f.text;
        EXPECT_NE(f.text.find(c.textPart), std::string::npos)
            << c.title << how << " at " << f.stage << ": " << f.text;
        ExpectUsableAfterwards(svc);
    }
}

void MakeNotABackup(const std::string& path) {
    std::ofstream out(path, std::ios::binary);
    for (int i = 0; i < 4096; ++i) {
        out << "this is not a backup file ";
    }
    out.close();
    chmod(path.c_str(), 0644);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ServerFailures,
    ::testing::Values(
        FailureCase{"missing database",
                    [](TpFIBBackupService* b, TpFIBRestoreService*, const std::string& d) {
                        b->SetDatabaseName(d + "/no-such.fdb");
                        b->BackupFile().Add(d + "/x.fbk");
                        b->SetVerbose(true);
                    },
                    "I/O error during \"open\" operation for file"},
        FailureCase{"backup folder missing",
                    [](TpFIBBackupService* b, TpFIBRestoreService*, const std::string& d) {
                        b->SetDatabaseName(DemoDatabase());
                        b->BackupFile().Add(d + "/missing/x.fbk");
                        b->SetVerbose(true);
                    },
                    "Cannot open backup file"},
        FailureCase{"backup folder not writable",
                    [](TpFIBBackupService* b, TpFIBRestoreService*, const std::string& d) {
                        const std::string ro = d + "/readonly";
                        mkdir(ro.c_str(), 0555);
                        chmod(ro.c_str(), 0555);
                        b->SetDatabaseName(DemoDatabase());
                        b->BackupFile().Add(ro + "/x.fbk");
                        b->SetVerbose(true);
                    },
                    "Cannot open backup file"},
        FailureCase{"restore of a missing file",
                    [](TpFIBBackupService*, TpFIBRestoreService* r, const std::string& d) {
                        r->BackupFile().Add(d + "/no-such.fbk");
                        r->DatabaseName().Add(d + "/out.fdb");
                        r->SetVerbose(true);
                    },
                    "Cannot open backup file"},
        FailureCase{"restore of a file that is not a backup",
                    [](TpFIBBackupService*, TpFIBRestoreService* r, const std::string& d) {
                        MakeNotABackup(d + "/junk.fbk");
                        r->BackupFile().Add(d + "/junk.fbk");
                        r->DatabaseName().Add(d + "/out.fdb");
                        r->SetVerbose(true);
                    },
                    "Expected backup description record."}));

TEST_F(ServerServices, FailedBackupsLeaveNoConnectionOpen) {
    const int before = ServerConnections();
    for (int i = 0; i < 5; ++i) {
        TpFIBBackupService backup;
        Configure(backup);
        backup.SetDatabaseName(dir + "/no-such.fdb");
        backup.BackupFile().Add(dir + "/x.fbk");
        backup.SetVerbose(true);
        const Failure f = RunExpectingFailure(backup);
        ASSERT_TRUE(f.raised);
        EXPECT_FALSE(backup.Active());
    }
    EXPECT_EQ(ServerConnections(), before);
    // The count sees the component's own connection while it is attached.
    TpFIBBackupService probe;
    Configure(probe);
    probe.Attach();
    EXPECT_EQ(ServerConnections(), before + 1);
    probe.Detach();
    EXPECT_EQ(ServerConnections(), before);
}

} // namespace
