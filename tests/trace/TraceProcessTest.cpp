// The process's own hook (MonitorHook) and the process-exit order. These
// change process-wide state, so they live in an executable of their own and
// each case that ends the hook runs in a child process.
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>

#include "TraceTestUtil.h"

using fib::SharedLoad;
using fib::SharedStore;
using slvtest::UniquePrefix;
using slvtest::WaitFor;

namespace {

// Runs `body` in a forked child and returns its exit code, or -1 when it did
// not end within the limit (it is killed then) or ended by a signal.
int RunInChild(const std::function<int()>& body, std::chrono::seconds limit) {
    const pid_t child = fork();
    if (child == 0) {
        // exit(), not _exit(): the exit order of the hook is what is tested.
        std::exit(body());
    }
    if (child < 0) {
        return -1;
    }
    int status = 0;
    const bool ended = WaitFor([&] { return waitpid(child, &status, WNOHANG) == child; },
                               std::chrono::duration_cast<std::chrono::milliseconds>(limit));
    if (!ended) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

TEST(MonitorHookProcess, CreatedOnceOnFirstUseAndNullAfterFinalization) {
    UniquePrefix prefix;
    const int code = RunInChild(
        [&] {
            setenv("SLV_TRACE_PREFIX", prefix.str().c_str(), 1);
            const int threadsBefore = tracetest::ThreadCount();
            std::vector<fib::TFIBSQLMonitorHook*> seen(4, nullptr);
            std::vector<std::thread> threads;
            for (size_t i = 0; i < seen.size(); ++i) {
                threads.emplace_back([&, i] { seen[i] = fib::MonitorHook(); });
            }
            for (auto& t : threads) {
                t.join();
            }
            for (auto* hook : seen) {
                if (hook == nullptr || hook != seen[0]) {
                    return 10;
                }
            }
            fib::TFIBSQLMonitorHook* hook = fib::MonitorHook();
            if (hook != seen[0] || !hook->SharedObjectsReady() || !hook->TracingActive()) {
                return 11;
            }
            if (access(slvtest::ObjectFile(prefix.Name(fib::SharedMemObjectName)).c_str(), F_OK) !=
                0) {
                return 12;
            }
            rtl::TComponent service;
            service.SetName("pFIBBackupService1");
            hook->TraceServiceAttach(&service);
            if (hook->WriterRunning() || tracetest::ThreadCount() != threadsBefore) {
                return 13;
            }
            fib::FinalizeMonitorHook();
            if (!fib::MonitorHookFinalizing() || fib::MonitorHook() != nullptr) {
                return 14;
            }
            return 0;
        },
        std::chrono::seconds(30));
    EXPECT_EQ(code, 0);
}

TEST(MonitorHookProcess, ExitLeavesTheHandshakeOfTheFirstMessageAndDiscardsTheRest) {
    UniquePrefix prefix;
    fib::TTraceChannel channel(prefix.str());
    // A registered monitor that never answers: the writer waits in the
    // handshake of the first message when the process exits; exit does not
    // wait for the handshake, and the rest must be dropped.
    SharedStore(channel.Block().MonitorCount, 1);
    const int code = RunInChild(
        [&] {
            setenv("SLV_TRACE_PREFIX", prefix.str().c_str(), 1);
            fib::TFIBSQLMonitorHook* hook = fib::MonitorHook();
            if (hook == nullptr || hook->MonitorCount() != 1) {
                return 20;
            }
            for (int i = 0; i < 5; ++i) {
                hook->WriteTrace("message " + std::to_string(i), fib::tcService);
            }
            if (!hook->WriterRunning()) {
                return 21;
            }
            // Let the writer start on the first message.
            WaitFor([&] { return channel.Block().ChunkFlag == 1; });
            return 0; // exit() runs the hook's exit order
        },
        std::chrono::seconds(30));
    EXPECT_EQ(code, 0);
    EXPECT_EQ(channel.Block().ChunkFlag, 1) << "the first message was being written";
    const std::string text(channel.Block().TextChunk,
                           static_cast<size_t>(SharedLoad(channel.Block().ChunkLength)));
    EXPECT_NE(text.find("message 0"), std::string::npos) << text;
    // The cycle was closed and the mutex given back (or, had the writer been
    // left behind at exit, freed by the system as its owner ended).
    EXPECT_TRUE(channel.WriteFinishedEvent().IsSet());
    EXPECT_FALSE(channel.WriteEvent().IsSet());
    EXPECT_NE(channel.Mutex().Lock(0), platform::NamedMutex::LockResult::Timeout);
    EXPECT_TRUE(channel.Mutex().Unlock());
}
