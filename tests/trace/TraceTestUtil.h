// Helpers shared by the trace tests: an in-test monitor running the reader
// side on a thread, the threads of this process, and child processes whose
// output is read. (Object names of their own and bounded waiting:
// testsupport.)
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "TraceReader.h"
#include "client/FIBSQLMonitor.h"
#include "platform/NamedObjects.h"
#include "testsupport/ChildProcess.h"
#include "testsupport/SharedObjects.h"

extern char** environ;

namespace tracetest {

// A monitor inside the test process: its own mapping of the channel, a
// registered reader on a thread, and everything it read.
class InTestMonitor {
public:
    explicit InTestMonitor(const std::string& prefix, unsigned flags = fbtracemon::WantAll)
        : FChannel(prefix), FReader(FChannel) {
        FReader.Register(flags);
        FThread = std::thread([this] { Run(); });
    }
    ~InTestMonitor() { Stop(); }
    InTestMonitor(const InTestMonitor&) = delete;
    InTestMonitor& operator=(const InTestMonitor&) = delete;

    void Stop() {
        FStop.store(true);
        if (FThread.joinable()) {
            FThread.join();
        }
        FReader.Unregister();
    }

    std::vector<fbtracemon::TraceChunk> Chunks() const {
        std::lock_guard<std::mutex> lock(FLock);
        return FChunks;
    }
    std::vector<fbtracemon::TraceMessage> Messages() const {
        std::lock_guard<std::mutex> lock(FLock);
        return FMessages;
    }
    bool WaitForMessages(size_t count,
                         std::chrono::milliseconds limit = std::chrono::seconds(15)) const {
        return slvtest::WaitFor([&] { return Messages().size() >= count; }, limit);
    }
    fib::TTraceChannel& Channel() { return FChannel; }

private:
    void Run() {
        while (!FStop.load()) {
            if (auto chunk = FReader.ReadChunk(50, &FStop)) {
                std::lock_guard<std::mutex> lock(FLock);
                FChunks.push_back(*chunk);
                for (auto& message : FAssembler.Add(*chunk)) {
                    FMessages.push_back(std::move(message));
                }
            } else if (auto message = FAssembler.FlushIfIdle(std::chrono::milliseconds(300))) {
                std::lock_guard<std::mutex> lock(FLock);
                FMessages.push_back(std::move(*message));
            }
        }
    }

    fib::TTraceChannel FChannel;
    fbtracemon::TTraceReader FReader;
    fbtracemon::TMessageAssembler FAssembler;
    std::atomic<bool> FStop{false};
    mutable std::mutex FLock;
    std::vector<fbtracemon::TraceChunk> FChunks;
    std::vector<fbtracemon::TraceMessage> FMessages;
    std::thread FThread;
};

// The threads of this process.
inline int ThreadCount() {
    int count = 0;
    if (auto* dir = opendir("/proc/self/task")) {
        while (auto* entry = readdir(dir)) {
            if (entry->d_name[0] != '.') {
                ++count;
            }
        }
        closedir(dir);
    }
    return count;
}

// A child process with its standard output on a pipe, with this process's
// environment and the extra "NAME=value" lines. The destructor kills a child
// that is still running.
class Child {
public:
    explicit Child(const std::vector<std::string>& args,
                   const std::vector<std::string>& extraEnvironment = {}) {
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
        std::vector<std::string> lines(extraEnvironment);
        for (char** e = environ; *e != nullptr; ++e) {
            lines.emplace_back(*e);
        }
        std::vector<char*> envp;
        for (auto& line : lines) {
            envp.push_back(line.data());
        }
        envp.push_back(nullptr);
        if (posix_spawn(&FPid, args[0].c_str(), &actions, nullptr, argv.data(), envp.data()) != 0) {
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

    // Reads what the child has written so far.
    const std::string& Poll() {
        Drain(0);
        return FText;
    }

    // Collects output until it contains `text`; false when it did not within
    // the limit. Returns as soon as the text arrives.
    bool WaitForOutput(const std::string& text, std::chrono::milliseconds limit) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (FText.find(text) == std::string::npos) {
            if (std::chrono::steady_clock::now() >= deadline) {
                return false;
            }
            Drain(20);
        }
        return true;
    }

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

} // namespace tracetest
