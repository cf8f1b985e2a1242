// The fbtracemon program, run as a child process.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "TraceTestUtil.h"

extern char** environ;

using fib::SharedLoad;
using fib::TFIBSQLMonitorHook;
using tracetest::UniquePrefix;
using tracetest::WaitUntil;

namespace {

// A child process with its standard output on a pipe. The destructor kills
// a child that is still running.
class Child {
public:
    explicit Child(const std::vector<std::string>& args) {
        int fds[2];
        if (pipe(fds) != 0) {
            return;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        posix_spawn_file_actions_addclose(&actions, fds[1]);
        std::vector<char*> argv;
        for (const auto& a : args) {
            argv.push_back(const_cast<char*>(a.c_str()));
        }
        argv.push_back(nullptr);
        if (posix_spawn(&FPid, args[0].c_str(), &actions, nullptr, argv.data(), environ) != 0) {
            FPid = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        FOutput = fds[0];
    }
    ~Child() {
        if (FPid > 0 && !FExited) {
            kill(FPid, SIGKILL);
            waitpid(FPid, nullptr, 0);
        }
        if (FOutput >= 0) {
            close(FOutput);
        }
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    bool Started() const { return FPid > 0; }
    pid_t Pid() const { return FPid; }

    // Collects output until the child ends; false when it did not end in
    // time. *exitCode gets its exit code (-1 when it was killed by a signal).
    bool Wait(std::chrono::seconds limit, int* exitCode) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        for (;;) {
            Drain(50);
            int status = 0;
            const pid_t done = waitpid(FPid, &status, WNOHANG);
            if (done == FPid) {
                FExited = true;
                Drain(0);
                *exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
                return true;
            }
            if (std::chrono::steady_clock::now() >= deadline) {
                return false;
            }
        }
    }
    const std::string& Output() const { return FText; }

private:
    void Drain(int timeoutMs) {
        pollfd p{FOutput, POLLIN, 0};
        while (poll(&p, 1, timeoutMs) > 0) {
            char buffer[4096];
            const ssize_t n = read(FOutput, buffer, sizeof buffer);
            if (n <= 0) {
                break;
            }
            FText.append(buffer, static_cast<size_t>(n));
            timeoutMs = 0;
        }
    }

    pid_t FPid = -1;
    int FOutput = -1;
    bool FExited = false;
    std::string FText;
};

std::unique_ptr<rtl::TComponent> Component(const std::string& name) {
    auto component = std::make_unique<rtl::TComponent>();
    component->SetName(name);
    return component;
}

} // namespace

TEST(TraceMonitorProgram, PrintsServiceEventsItReceives) {
    UniquePrefix prefix;
    Child monitor({FBTRACEMON_PATH, "--prefix", prefix.str(), "--count", "2", "--timeout", "30"});
    ASSERT_TRUE(monitor.Started());
    TFIBSQLMonitorHook hook(prefix.str());
    ASSERT_TRUE(hook.SharedObjectsReady());
    ASSERT_TRUE(WaitUntil([&] { return hook.MonitorCount() == 1; }))
        << "fbtracemon did not register";

    auto unnamed = Component("");
    auto named = Component("svc1");
    hook.TraceServiceAttach(unnamed.get());
    hook.TraceServiceStart(named.get());

    int exitCode = -1;
    ASSERT_TRUE(monitor.Wait(std::chrono::seconds(30), &exitCode)) << monitor.Output();
    EXPECT_EQ(exitCode, 0) << monitor.Output();
    const std::string& out = monitor.Output();
    EXPECT_NE(out.find("[Service]\n[Application: trace_tests]\n: [Attach]\n"), std::string::npos)
        << out;
    EXPECT_NE(out.find("[Application: trace_tests]\nsvc1: [Start]\n"), std::string::npos) << out;
    EXPECT_EQ(out.rfind("--- ", 0), 0u) << out;
    EXPECT_EQ(hook.MonitorCount(), 0) << "fbtracemon unregistered";
}

TEST(TraceMonitorProgram, TerminationSignalUnregistersAndExitsCleanly) {
    UniquePrefix prefix;
    fib::TTraceChannel channel(prefix.str());
    Child monitor({FBTRACEMON_PATH, "--prefix", prefix.str(), "--categories", "connect,fetch",
                   "--timeout", "60"});
    ASSERT_TRUE(monitor.Started());
    ASSERT_TRUE(WaitUntil([&] { return channel.MonitorCount() == 1; }));
    EXPECT_EQ(SharedLoad(channel.Block().ConnectFlag), 1);
    EXPECT_EQ(SharedLoad(channel.Block().FetchFlag), 1);
    EXPECT_EQ(SharedLoad(channel.Block().PrepareFlag), 0);
    ASSERT_TRUE(WaitUntil([&] { return SharedLoad(channel.Block().ReaderCount) == 1; }))
        << "fbtracemon did not get ready to read";
    EXPECT_TRUE(channel.ReadEvent().IsSet());

    kill(monitor.Pid(), SIGTERM);
    int exitCode = -1;
    ASSERT_TRUE(monitor.Wait(std::chrono::seconds(15), &exitCode));
    EXPECT_EQ(exitCode, 0);
    EXPECT_EQ(channel.MonitorCount(), 0);
    EXPECT_EQ(SharedLoad(channel.Block().ReaderCount), 0);
    EXPECT_EQ(SharedLoad(channel.Block().ConnectFlag), 0);
    EXPECT_EQ(SharedLoad(channel.Block().FetchFlag), 0);
}

TEST(TraceMonitorProgram, TimeoutBeforeTheCountEndsWithCode2) {
    UniquePrefix prefix;
    Child monitor({FBTRACEMON_PATH, "--prefix", prefix.str(), "--count", "1", "--timeout", "1"});
    ASSERT_TRUE(monitor.Started());
    int exitCode = -1;
    ASSERT_TRUE(monitor.Wait(std::chrono::seconds(20), &exitCode));
    EXPECT_EQ(exitCode, 2);
}

TEST(TraceMonitorProgram, HelpDescribesTheHandshakeAndBadOptionsAreRefused) {
    {
        Child help({FBTRACEMON_PATH, "--help"});
        int exitCode = -1;
        ASSERT_TRUE(help.Wait(std::chrono::seconds(10), &exitCode));
        EXPECT_EQ(exitCode, 0);
        EXPECT_NE(help.Output().find("ReaderCount"), std::string::npos);
        EXPECT_NE(help.Output().find("--prefix"), std::string::npos);
    }
    {
        Child bad({FBTRACEMON_PATH, "--categories", "everything"});
        int exitCode = -1;
        ASSERT_TRUE(bad.Wait(std::chrono::seconds(10), &exitCode));
        EXPECT_EQ(exitCode, 64);
    }
}

TEST(TraceMonitorProgram, RemoveDeletesTheObjects) {
    UniquePrefix prefix;
    { fib::TTraceChannel channel(prefix.str()); }
    ASSERT_EQ(access(("/dev/shm/" + prefix.Name(fib::SharedMemObjectName)).c_str(), F_OK), 0);
    Child remover({FBTRACEMON_PATH, "--prefix", prefix.str(), "--remove"});
    int exitCode = -1;
    ASSERT_TRUE(remover.Wait(std::chrono::seconds(10), &exitCode));
    EXPECT_EQ(exitCode, 0);
    EXPECT_NE(access(("/dev/shm/" + prefix.Name(fib::SharedMemObjectName)).c_str(), F_OK), 0);
    EXPECT_NE(access(("/dev/shm/" + prefix.Name(fib::MutexObjectName)).c_str(), F_OK), 0);
}
