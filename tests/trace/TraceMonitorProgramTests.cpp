// The fbtracemon program, run as a child process.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "TraceTestUtil.h"

using fib::SharedLoad;
using fib::TFIBSQLMonitorHook;
using tracetest::Child;
using tracetest::UniquePrefix;
using tracetest::WaitUntil;

namespace {

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
    ASSERT_EQ(access(tracetest::ObjectFile(prefix.Name(fib::SharedMemObjectName)).c_str(), F_OK),
              0);
    Child remover({FBTRACEMON_PATH, "--prefix", prefix.str(), "--remove"});
    int exitCode = -1;
    ASSERT_TRUE(remover.Wait(std::chrono::seconds(10), &exitCode));
    EXPECT_EQ(exitCode, 0);
    EXPECT_NE(access(tracetest::ObjectFile(prefix.Name(fib::SharedMemObjectName)).c_str(), F_OK),
              0);
    EXPECT_NE(access(tracetest::ObjectFile(prefix.Name(fib::MutexObjectName)).c_str(), F_OK), 0);
}
