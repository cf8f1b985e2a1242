// Child processes for tests: started from a program file, their output read,
// always ended and reaped; code run as an unprivileged user in a forked
// child; and bounded waiting.
#pragma once

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "testsupport/Files.h"

extern char** environ;

namespace slvtest {

// Runs `body` in a forked child, as the user "nobody" when the tests run as
// root (so that permissions apply), and returns its result (or -1 when the
// child did not end normally). `body` must not use gtest assertions.
inline int RunUnprivileged(const std::function<int()>& body) {
    const pid_t pid = ::fork();
    if (pid < 0)
        return -1;
    if (pid == 0) {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
            ::_exit(99);
        int result = 98;
        try {
            result = body();
        } catch (...) {
        }
        ::_exit(result);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Polls `condition` until it holds or the limit has passed.
inline bool WaitFor(const std::function<bool()>& condition,
                    std::chrono::milliseconds limit = std::chrono::seconds(15)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// The state letter of a process ('Z' for a zombie), or 0 when it is gone.
inline char ProcessState(pid_t pid) {
    const std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
    const size_t close = stat.rfind(')');
    if (close == std::string::npos || close + 2 >= stat.size())
        return 0;
    return stat[close + 2];
}

// A child process: args[0] started with the other arguments, this process's
// environment and the extra "NAME=value" lines, its standard output on a
// pipe the test reads. Ended (SIGKILL) and reaped when the object goes away,
// whatever the test did.
class Child {
public:
    explicit Child(const std::vector<std::string>& args,
                   const std::vector<std::string>& extraEnvironment = {}) {
        int fds[2];
        if (::pipe(fds) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        posix_spawn_file_actions_addclose(&actions, fds[1]);
        std::vector<char*> argv;
        for (const auto& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        std::vector<std::string> lines(extraEnvironment);
        for (char** e = environ; *e != nullptr; ++e)
            lines.emplace_back(*e);
        std::vector<char*> envp;
        for (auto& line : lines)
            envp.push_back(line.data());
        envp.push_back(nullptr);
        if (::posix_spawn(&FPid, args[0].c_str(), &actions, nullptr, argv.data(), envp.data()) != 0)
            FPid = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
        FOutput = fds[0];
    }
    ~Child() {
        if (FPid > 0 && !FReaped) {
            ::kill(FPid, SIGKILL);
            int status = 0;
            while (::waitpid(FPid, &status, 0) < 0 && errno == EINTR) {
            }
        }
        if (FOutput >= 0)
            ::close(FOutput);
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
            if (std::chrono::steady_clock::now() >= deadline)
                return false;
            Drain(20);
        }
        return true;
    }

    // Collects output until the child ends and reaps it; false when it did
    // not end in time. *exitCode gets its exit code (-1 when a signal ended
    // it).
    bool Wait(std::chrono::milliseconds limit, int* exitCode) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (!FReaped) {
            Drain(50);
            int status = 0;
            if (FPid > 0 && ::waitpid(FPid, &status, WNOHANG) == FPid) {
                FReaped = true;
                Drain(0);
                FExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
                FSignal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
            } else if (std::chrono::steady_clock::now() >= deadline) {
                return false;
            }
        }
        *exitCode = FExitCode;
        return true;
    }
    const std::string& Output() const { return FText; }

    // Waits (bounded) until the child has ended and reaps it. Returns the
    // signal that ended it, or 0 when it did not end in time or ended
    // normally.
    int WaitEnded() {
        int exitCode = 0;
        return Wait(std::chrono::seconds(10), &exitCode) ? FSignal : 0;
    }

    // Still running (ended but not reaped counts as ended).
    bool Running() const {
        if (FPid <= 0 || FReaped)
            return false;
        const char state = ProcessState(FPid);
        return state != 0 && state != 'Z' && state != 'X';
    }

private:
    void Drain(int timeoutMs) {
        pollfd p{FOutput, POLLIN, 0};
        while (FOutput >= 0 && ::poll(&p, 1, timeoutMs) > 0) {
            char buffer[4096];
            const ssize_t n = ::read(FOutput, buffer, sizeof buffer);
            if (n <= 0)
                break;
            FText.append(buffer, static_cast<size_t>(n));
            timeoutMs = 0;
        }
    }

    pid_t FPid = -1;
    int FOutput = -1;
    bool FReaped = false;
    int FExitCode = -1;
    int FSignal = 0;
    std::string FText;
};

} // namespace slvtest
