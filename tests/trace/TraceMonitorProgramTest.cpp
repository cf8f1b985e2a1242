// The fbtracemon program, run as a child process.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cmath>

#include "TraceTestUtil.h"

using fib::SharedLoad;
using fib::TFIBSQLMonitorHook;
using slvtest::Child;
using slvtest::UniquePrefix;
using slvtest::WaitFor;
using tracetest::Component;

TEST(TraceMonitorProgram, PrintsServiceEventsItReceives) {
    UniquePrefix prefix;
    Child monitor({FBTRACEMON_PATH, "--prefix", prefix.str(), "--count", "2", "--timeout", "30"});
    ASSERT_TRUE(monitor.Started());
    TFIBSQLMonitorHook hook(prefix.str());
    ASSERT_TRUE(hook.SharedObjectsReady());
    ASSERT_TRUE(WaitFor([&] { return hook.MonitorCount() == 1; })) << "fbtracemon did not register";

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
    ASSERT_TRUE(WaitFor([&] { return channel.MonitorCount() == 1; }));
    EXPECT_EQ(SharedLoad(channel.Block().ConnectFlag), 1);
    EXPECT_EQ(SharedLoad(channel.Block().FetchFlag), 1);
    EXPECT_EQ(SharedLoad(channel.Block().PrepareFlag), 0);
    ASSERT_TRUE(WaitFor([&] { return SharedLoad(channel.Block().ReaderCount) == 1; }))
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
    ASSERT_EQ(access(slvtest::ObjectFile(prefix.Name(fib::SharedMemObjectName)).c_str(), F_OK), 0);
    Child remover({FBTRACEMON_PATH, "--prefix", prefix.str(), "--remove"});
    int exitCode = -1;
    ASSERT_TRUE(remover.Wait(std::chrono::seconds(10), &exitCode));
    EXPECT_EQ(exitCode, 0);
    EXPECT_NE(access(slvtest::ObjectFile(prefix.Name(fib::SharedMemObjectName)).c_str(), F_OK), 0);
    EXPECT_NE(access(slvtest::ObjectFile(prefix.Name(fib::MutexObjectName)).c_str(), F_OK), 0);
}

// ---------------------------------------------------------------------------
// What fbtracemon prints. Anything that can write the block (a process of
// the same account) chooses the bytes; only safe text reaches the terminal.

TEST(TraceMonitorText, ControlBytesNeverReachTheTerminal) {
    struct Case {
        const char* what;
        std::string text;
        std::string printed;
    };
    const std::vector<Case> cases = {
        {"escape sequences", "\x1B[2J\x1B[31mrun this as root", "#$1B[2J#$1B[31mrun this as root"},
        {"delete and zero",
         std::string("a\x7F"
                     "b\0c",
                     5),
         "a#$7Fb#$00c"},
        {"bell and backspace", "\x07\x08x", "#$07#$08x"},
        {"a carriage return on its own", "shown\rhidden", "shown#$0Dhidden"},
        {"CR LF line breaks", "a\r\nb\r\n", "a\nb\n"},
        {"tab and line feed", "a\tb\nc", "a\tb\nc"},
        {"a C1 control in UTF-8",
         "\xC2\x9B"
         "2J \xC2\x85",
         "#$C2#$9B2J #$C2#$85"},
        {"other UTF-8 text", "\xEB\xB0\xB1\xEC\x97\x85 \xC2\xA9",
         "\xEB\xB0\xB1\xEC\x97\x85 \xC2\xA9"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(fbtracemon::PrintableText(c.text), c.printed) << c.what;
    }

    fbtracemon::TraceMessage message{fib::tcService, 45000.5,
                                     "\r\n[Application: x]\r\n\x1B]0;t\x07"};
    EXPECT_EQ(fbtracemon::FormatMessage(message),
              "--- 2023-03-15 12:00:00.000 [Service]\n[Application: x]\n#$1B]0;t#$07\n");
    message.Category = 12345;
    EXPECT_EQ(
        fbtracemon::FormatMessage(message).rfind("--- 2023-03-15 12:00:00.000 [Unknown]\n", 0), 0u);
    for (const double stamp : {std::nan(""), HUGE_VAL, -HUGE_VAL, 1e300, -1e9, 3e6}) {
        EXPECT_EQ(fbtracemon::FormatTimeStamp(stamp), "(invalid time)") << stamp;
    }
}

TEST(TraceMonitorText, AMessageThatNeverEndsIsCutAndTheRestSkipped) {
    fbtracemon::TMessageAssembler assembler;
    const fbtracemon::TraceChunk full{1, fib::tcExecute, 45000.25,
                                      std::string(fib::TraceChunkSize, 'x')};
    std::vector<fbtracemon::TraceMessage> out;
    for (int i = 0; i < 200; ++i) {
        for (auto& m : assembler.Add(full)) {
            out.push_back(std::move(m));
        }
    }
    ASSERT_EQ(out.size(), 1u) << "given out once, as soon as it was too long";
    EXPECT_TRUE(out[0].Cut);
    EXPECT_EQ(out[0].Text.size(), fbtracemon::TMessageAssembler::MaxMessageBytes);
    EXPECT_NE(fbtracemon::FormatMessage(out[0]).find("[message cut at 65536 bytes]\n"),
              std::string::npos);

    // Its last (short) chunk is skipped too; the next message is whole.
    EXPECT_TRUE(assembler.Add({1, fib::tcExecute, 45000.25, "end"}).empty());
    const auto next = assembler.Add({1, fib::tcService, 45000.5, "\r\n[Application: y]\r\nz"});
    ASSERT_EQ(next.size(), 1u);
    EXPECT_EQ(next[0].Text, "\r\n[Application: y]\r\nz");
    EXPECT_FALSE(next[0].Cut);
}
