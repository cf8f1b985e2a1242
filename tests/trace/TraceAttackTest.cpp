// A process that backs up through the service components (the victim) while
// another process does what it can to the trace channel: as another account
// (run as "nobody"; needs root) and as the same account. Whatever the other
// process does, the victim's backup and exit finish, nothing it traces
// reaches another account, and its monitor prints no raw control bytes.
//
// The victim is this program itself, running only TraceVictim.DISABLED_*;
// the other account's side is TraceAttacker.DISABLED_*. Each run prints the
// victim's times ("backup" inside the victim, "exit" from the end of the
// backup until the process has ended); the limits the tests assert are far
// above them and only catch a hang.
#include <fcntl.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "TraceTestUtil.h"
#include "TraceBackup.h"
#include "client/fib.h"
#include "platform/Processes.h"
#include "testsupport/Process.h"

using fib::SharedStore;
using fib::TraceBlock;
using fib::TTraceChannel;
using slvtest::Child;
using slvtest::ObjectFile;
using slvtest::UniquePrefix;
using slvtest::WaitFor;

namespace {

using Clock = std::chrono::steady_clock;

// Far above anything a sound run takes here; reaching one is a hang.
constexpr auto BackupLimit = std::chrono::seconds(60);
constexpr auto ExitLimit = std::chrono::seconds(5);

const char* const ObjectNames[] = {
    fib::MutexObjectName,      fib::SharedMemObjectName,
    fib::WriteEventObjectName, fib::WriteFinishedEventObjectName,
    fib::ReadEventObjectName,  fib::ReadFinishedEventObjectName,
};

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::stringstream in(text);
    for (std::string part; std::getline(in, part, separator);) {
        parts.push_back(part);
    }
    return parts;
}

// The files of this account's channel objects under the prefix, ':'-joined.
std::string ChannelFiles(const std::string& prefix) {
    std::string files;
    for (const char* name : ObjectNames) {
        files += (files.empty() ? "" : ":") + ObjectFile(prefix + name);
    }
    return files;
}

std::string SelfPath() {
    return platform::ExecutableFile();
}

// Bytes a terminal would act on: below 32 except tab and line feed, 127,
// and the C1 controls in UTF-8.
size_t RawControlBytes(const std::string& text) {
    size_t count = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        const auto next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
        if ((byte < 32 && byte != '\t' && byte != '\n') || byte == 0x7F ||
            (byte == 0xC2 && next >= 0x80 && next <= 0x9F)) {
            ++count;
        }
    }
    return count;
}

// A shared database for the victims of one test program run.
const std::string& VictimFolder() {
    static const std::string folder = [] {
        const std::string dir = slvtest::MakeTempDir("trace-attack");
        slvtest::CreateDemoDatabase(dir + "/victim.fdb", 200);
        return dir;
    }();
    return folder;
}

struct VictimRun {
    bool backedUp = false; // printed its result line within BackupLimit
    bool ended = false;    // ended within ExitLimit after that
    int exitCode = -1;     // -1: killed, or ended by a signal
    bool tracing = false;  // its hook was still tracing at the end
    double backupSeconds = 0;
    double exitSeconds = 0;
    std::string output;
};

// Runs the victim with the trace objects under `prefix`.
VictimRun RunVictim(const std::string& prefix) {
    static int counter = 0;
    const std::string backup = VictimFolder() + "/SLV_Backup_" + std::to_string(counter++) + ".fbk";
    Child victim({SelfPath(), "--gtest_also_run_disabled_tests",
                  "--gtest_filter=TraceVictim.DISABLED_BacksUpAndExits"},
                 {"SLV_TRACE_PREFIX=" + prefix,
                  "SLV_VICTIM_DATABASE=" + VictimFolder() + "/victim.fdb",
                  "SLV_VICTIM_BACKUP=" + backup});
    VictimRun run;
    if (!victim.Started()) {
        return run;
    }
    run.backedUp = victim.WaitForOutput("victim: tracing ", BackupLimit);
    const auto backedUp = Clock::now();
    if (run.backedUp) {
        run.ended = victim.Wait(ExitLimit, &run.exitCode);
    }
    run.exitSeconds = std::chrono::duration<double>(Clock::now() - backedUp).count();
    run.output = victim.Output();
    int tracing = 0;
    const size_t at = run.output.find("victim: tracing ");
    if (at != std::string::npos &&
        std::sscanf(run.output.c_str() + at, "victim: tracing %d, backup %lf s", &tracing,
                    &run.backupSeconds) == 2) {
        run.tracing = tracing != 0;
    }
    struct stat st {};
    run.backedUp = run.backedUp && stat(backup.c_str(), &st) == 0 && st.st_size > 0;
    std::filesystem::remove(backup);
    return run;
}

// The victim must have backed up and ended on its own, normally.
void ExpectVictimUnharmed(const VictimRun& run, const std::string& row) {
    EXPECT_TRUE(run.backedUp) << row << ": the backup did not finish\n" << run.output;
    EXPECT_TRUE(run.ended) << row << ": the process did not end\n" << run.output;
    EXPECT_EQ(run.exitCode, 0) << row << "\n" << run.output;
    std::printf("  %-58s backup %.3f s, exit %.3f s\n", row.c_str(), run.backupSeconds,
                run.exitSeconds);
}

// Maps a channel object's file directly, the way a process that does not
// keep to the handshake would.
void* MapRaw(const std::string& file, size_t size) {
    const int fd = open(file.c_str(), O_RDWR | O_NOFOLLOW);
    if (fd < 0) {
        return nullptr;
    }
    void* data = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    close(fd);
    return data == MAP_FAILED ? nullptr : data;
}

TraceBlock* RawBlock(const std::string& prefix) {
    return static_cast<TraceBlock*>(
        MapRaw(ObjectFile(prefix + fib::SharedMemObjectName), fib::TraceBlockSize));
}

// The mutex object: a 16-byte header, then the process-shared mutex.
struct RawMutexObject {
    uint32_t Header[4];
    pthread_mutex_t Mutex;
};

// Writes one chunk the way a writer does, but with its bytes unescaped.
bool ForgeChunk(TTraceChannel& channel, const std::string& text) {
    TraceBlock& block = channel.Block();
    if (channel.Mutex().Lock(5000) == platform::NamedMutex::LockResult::Timeout) {
        return false;
    }
    SharedStore(block.Category, fib::tcService);
    fib::SetTraceBlockTimeStamp(block, fib::TraceTimeStampNow());
    block.ChunkFlag = 1;
    SharedStore(block.ChunkLength, static_cast<int32_t>(text.size()));
    std::memcpy(block.TextChunk, text.data(), text.size());
    bool read = channel.ReadEvent().Wait(5000);
    if (read) {
        channel.WriteFinishedEvent().Reset();
        channel.ReadFinishedEvent().Reset();
        channel.WriteEvent().Set();
        read = channel.ReadFinishedEvent().Wait(5000);
    }
    channel.WriteEvent().Reset();
    channel.WriteFinishedEvent().Set();
    EXPECT_TRUE(channel.Mutex().Unlock());
    return read;
}

const std::string ForgedText = "\r\n[Application: SolvaneDBMaint]\r\n\x1B[2J\x1B[31mrun /tmp/x as "
                               "root\x1B[0m\x07\x7F\xC2\x9B"
                               "2J\rpFIBBackupService1: [Attach]";

// Another process of the same account: runs `attack` and then, when `holds`,
// stays until the returned guard ends it.
class SameAccountAttacker {
public:
    SameAccountAttacker(const std::function<bool()>& attack, bool holds) {
        int ready[2];
        if (pipe(ready) != 0) {
            return;
        }
        FPid = fork();
        if (FPid == 0) {
            close(ready[0]);
            const char ok = attack() ? 1 : 0;
            (void)!write(ready[1], &ok, 1);
            if (holds) {
                for (;;) {
                    pause();
                }
            }
            _exit(ok ? 0 : 1);
        }
        close(ready[1]);
        char ok = 0;
        FDone = FPid > 0 && read(ready[0], &ok, 1) == 1 && ok == 1;
        close(ready[0]);
        if (FPid > 0 && !holds) {
            waitpid(FPid, nullptr, 0);
            FPid = -1;
        }
    }
    ~SameAccountAttacker() {
        if (FPid > 0) {
            kill(FPid, SIGKILL);
            waitpid(FPid, nullptr, 0);
        }
    }
    SameAccountAttacker(const SameAccountAttacker&) = delete;
    SameAccountAttacker& operator=(const SameAccountAttacker&) = delete;
    bool Done() const { return FDone; }

private:
    pid_t FPid = -1;
    bool FDone = false;
};

pid_t DeadThreadId() {
    const pid_t child = fork();
    if (child == 0) {
        _exit(0);
    }
    waitpid(child, nullptr, 0);
    return child;
}

} // namespace

// ---------------------------------------------------------------------------
// The victim and the other account's side, run by the tests below.

TEST(TraceVictim, DISABLED_BacksUpAndExits) {
    const auto started = Clock::now();
    tracetest::RunTracedBackup(Env("SLV_VICTIM_DATABASE"), Env("SLV_VICTIM_BACKUP"));
    const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
    fib::TFIBSQLMonitorHook* hook = fib::MonitorHook();
    std::printf("victim: tracing %d, backup %.3f s\n",
                hook != nullptr && hook->TracingActive() ? 1 : 0, seconds);
    std::fflush(stdout);
}

// Everything another account might try on the victim's objects, while a
// monitor of its own listens on the same names until told to stop.
TEST(TraceAttacker, DISABLED_FromAnotherAccount) {
    ASSERT_NE(geteuid(), 0u);
    for (const std::string& file : Split(Env("SLV_ATTACK_FILES"), ':')) {
        for (const int flags : {O_RDONLY, O_RDWR}) {
            errno = 0;
            const int fd = open(file.c_str(), flags | O_NOFOLLOW | O_NONBLOCK);
            EXPECT_LT(fd, 0) << file << " opened with flags " << flags;
            EXPECT_EQ(errno, EACCES) << file;
            if (fd >= 0) {
                close(fd);
            }
        }
        EXPECT_NE(unlink(file.c_str()), 0) << file << " was removed";
    }
    tracetest::InTestMonitor monitor(Env("SLV_TRACE_PREFIX"));
    const std::string folder = Env("SLV_ATTACK_DIR");
    std::ofstream(folder + "/ready").put('1');
    EXPECT_TRUE(WaitFor([&] { return access((folder + "/stop").c_str(), F_OK) == 0; },
                        std::chrono::seconds(120)));
    monitor.Stop();
    EXPECT_TRUE(monitor.Messages().empty()) << monitor.Messages().front().Text;
}

// Takes the victim's names before it uses them.
TEST(TraceAttacker, DISABLED_Squat) {
    ASSERT_NE(geteuid(), 0u);
    const std::string kind = Env("SLV_SQUAT_KIND");
    const std::string prefix = Env("SLV_TRACE_PREFIX");
    const std::vector<std::string> files = Split(Env("SLV_ATTACK_FILES"), ':');
    ASSERT_EQ(files.size(), std::size(ObjectNames));
    if (kind != "empty" && kind != "fifo") {
        // A whole, sound channel of this account, ready to be lent out.
        TTraceChannel own(prefix);
    }
    for (size_t i = 0; i < files.size(); ++i) {
        const std::string own = ObjectFile(prefix + ObjectNames[i]);
        const char* file = files[i].c_str();
        if (kind == "empty") {
            const int fd = open(file, O_RDWR | O_CREAT | O_EXCL, 0644);
            ASSERT_GE(fd, 0) << file;
            close(fd);
        } else if (kind == "fifo") {
            ASSERT_EQ(mkfifo(file, 0666), 0) << file;
        } else if (kind == "symlink") {
            ASSERT_EQ(symlink(own.c_str(), file), 0) << file;
        } else {
            ASSERT_EQ(rename(own.c_str(), file), 0) << file;
            ASSERT_EQ(chmod(file, kind == "own0666" ? 0666 : 0600), 0) << file;
        }
    }
}

// ---------------------------------------------------------------------------

class TraceAttack : public ::testing::Test {
protected:
    void SetUp() override {
        SLV_REQUIRE_SERVER();
        VictimFolder();
    }
};

#define REQUIRE_ROOT()                                                                             \
    if (geteuid() != 0) {                                                                          \
        GTEST_SKIP() << "needs root, to run the other account's side as nobody";                   \
    }

// Rows "hold the mutex", "dead owner", "MonitorCount = INT_MAX", "ReaderCount
// = INT_MAX and flipped", "read the mutex", "overwrite its list pointers",
// "run fbtracemon", "write forged messages": another account reaches none of
// the victim's objects, and its own monitor hears nothing of the victim.
TEST_F(TraceAttack, AnotherAccountCanNeitherReachNorOverhearTheChannel) {
    REQUIRE_ROOT();
    UniquePrefix prefix;
    Child monitor({FBTRACEMON_PATH, "--prefix", prefix.str(), "--timeout", "300"});
    {
        TTraceChannel channel(prefix.str());
        ASSERT_TRUE(WaitFor([&] { return channel.MonitorCount() == 1; }));
    }
    const std::string folder = slvtest::MakeTempDir("trace-attacker");
    int attacker = -1;
    std::thread other([&] {
        attacker = slvtest::RunTestAsNobody("TraceAttacker.DISABLED_FromAnotherAccount",
                                            {"SLV_TRACE_PREFIX=" + prefix.str(),
                                             "SLV_ATTACK_FILES=" + ChannelFiles(prefix.str()),
                                             "SLV_ATTACK_DIR=" + folder});
    });
    const bool listening = WaitFor([&] { return access((folder + "/ready").c_str(), F_OK) == 0; },
                                   std::chrono::seconds(60));
    const VictimRun run = listening ? RunVictim(prefix.str()) : VictimRun{};
    std::ofstream(folder + "/stop").put('1');
    other.join();
    ASSERT_TRUE(listening) << "the other account's side did not start";
    EXPECT_EQ(attacker, 0) << "the other account reached the channel or heard the victim";

    ExpectVictimUnharmed(run, "another account tries every row");
    EXPECT_TRUE(run.tracing);
    ASSERT_TRUE(monitor.WaitForOutput("pFIBBackupService1: [Detach]", std::chrono::seconds(30)))
        << "the victim's own monitor did not hear it\n"
        << monitor.Output();
    EXPECT_EQ(RawControlBytes(monitor.Output()), 0u) << monitor.Output();
    std::filesystem::remove_all(folder);
}

// Row "pre-create the names": whatever another account puts under the
// victim's names is refused at once; the victim backs up untraced.
TEST_F(TraceAttack, NamesTakenByAnotherAccountTurnTracingOffAtOnce) {
    REQUIRE_ROOT();
    struct Squat {
        const char* kind;
        const char* what;
        int code; // what opening the channel reports
    };
    const Squat squats[] = {
        {"empty", "size-0 files", EACCES},
        {"fifo", "FIFOs", EEXIST},
        {"own0600", "the other account's sound channel (0600)", EACCES},
        {"own0666", "the other account's sound channel (0666)", EACCES},
        {"symlink", "symbolic links to the other account's channel", ELOOP},
    };
    for (const Squat& squat : squats) {
        SCOPED_TRACE(squat.what);
        UniquePrefix prefix;
        ASSERT_EQ(slvtest::RunTestAsNobody("TraceAttacker.DISABLED_Squat",
                                           {"SLV_SQUAT_KIND=" + std::string(squat.kind),
                                            "SLV_TRACE_PREFIX=" + prefix.str(),
                                            "SLV_ATTACK_FILES=" + ChannelFiles(prefix.str())}),
                  0);
        try {
            TTraceChannel channel(prefix.str());
            ADD_FAILURE() << "the channel opened over " << squat.what;
        } catch (const fib::EFIBClientError& e) {
            EXPECT_EQ(e.Message(), "Cannot create shared resource. (Windows error " +
                                       std::to_string(squat.code) + ")");
        }
        const VictimRun run = RunVictim(prefix.str());
        ExpectVictimUnharmed(run, std::string("names taken: ") + squat.what);
        EXPECT_FALSE(run.tracing);
    }
}

// The rows again, done by another process of the same account, which can
// open the objects: it can spoil tracing for its own account, but never
// hold up, hang or crash the backup, nor make its monitor print raw control
// bytes. The first row is the yardstick: no attack at all.
TEST_F(TraceAttack, ScribblesOfTheSameAccountNeverHoldUpABackup) {
    struct Row {
        const char* what;
        bool holds; // the attacker stays until the victim has ended
        std::function<bool(const std::string& prefix)> attack;
        int tracing; // the victim's hook still traces at the end (-1: either)
    };
    const std::vector<Row> rows = {
        {"no attack (yardstick)", false, [](auto&) { return true; }, 1},
        {"holds the mutex, MonitorCount = 1", true,
         [](const std::string& p) {
             TTraceChannel channel(p);
             SharedStore(channel.Block().MonitorCount, 1);
             return channel.Mutex().Lock(1000) != platform::NamedMutex::LockResult::Timeout;
         },
         1},
        {"one write makes a dead thread the mutex owner", false,
         [](const std::string& p) {
             auto* object = static_cast<RawMutexObject*>(
                 MapRaw(ObjectFile(p + fib::MutexObjectName), sizeof(RawMutexObject)));
             TraceBlock* block = RawBlock(p);
             if (object == nullptr || block == nullptr) {
                 return false;
             }
             const pid_t dead = DeadThreadId();
             object->Mutex.__data.__lock = dead;
             object->Mutex.__data.__owner = dead;
             object->Mutex.__data.__count = 1;
             SharedStore(block->MonitorCount, 1);
             return true;
         },
         1},
        {"one write MonitorCount = INT_MAX", false,
         [](const std::string& p) {
             TraceBlock* block = RawBlock(p);
             return block != nullptr && (SharedStore(block->MonitorCount, INT_MAX), true);
         },
         0},
        {"ReaderCount = INT_MAX, MonitorCount flipped 1/0", true,
         [](const std::string& p) {
             TraceBlock* block = RawBlock(p);
             if (block == nullptr) {
                 return false;
             }
             SharedStore(block->ReaderCount, INT_MAX);
             std::thread([block] {
                 for (int32_t on = 1;; on = 1 - on) {
                     SharedStore(block->MonitorCount, on);
                     std::this_thread::sleep_for(std::chrono::milliseconds(1));
                 }
             }).detach();
             return true;
         },
         -1},
        {"forged message with terminal controls, to a monitor", false,
         [](const std::string& p) {
             TTraceChannel channel(p);
             return ForgeChunk(channel, ForgedText);
         },
         1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        UniquePrefix prefix;
        { TTraceChannel create(prefix.str()); }
        std::unique_ptr<Child> monitor;
        if (std::string(row.what).find("monitor") != std::string::npos) {
            monitor = std::make_unique<Child>(std::vector<std::string>{
                FBTRACEMON_PATH, "--prefix", prefix.str(), "--timeout", "300"});
            TTraceChannel channel(prefix.str());
            ASSERT_TRUE(WaitFor([&] { return channel.MonitorCount() == 1; }));
        }
        std::optional<VictimRun> run;
        {
            SameAccountAttacker attacker([&] { return row.attack(prefix.str()); }, row.holds);
            ASSERT_TRUE(attacker.Done()) << "the attack itself failed";
            run = RunVictim(prefix.str());
        }
        ExpectVictimUnharmed(*run, row.what);
        if (row.tracing >= 0) {
            EXPECT_EQ(run->tracing, row.tracing == 1);
        }
        if (monitor) {
            ASSERT_TRUE(
                monitor->WaitForOutput("pFIBBackupService1: [Detach]", std::chrono::seconds(30)))
                << monitor->Output();
            EXPECT_EQ(RawControlBytes(monitor->Output()), 0u) << monitor->Output();
            EXPECT_NE(monitor->Output().find("#$1B[2J#$1B[31mrun /tmp/x as root"),
                      std::string::npos)
                << monitor->Output();
        }
    }
}
