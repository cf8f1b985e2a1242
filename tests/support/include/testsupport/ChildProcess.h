// Child processes for tests: started from a program file and always ended
// and reaped, code run as an unprivileged user in a forked child, and
// bounded waiting.
#pragma once

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

// A child process started from a program file; ended by its pid and reaped
// when the object goes away, whatever the test did.
class Child {
public:
    explicit Child(const std::string& program, const std::vector<std::string>& args = {}) {
        std::vector<std::string> argvText{program};
        argvText.insert(argvText.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : argvText)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        if (::posix_spawn(&FPid, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0)
            FPid = -1;
    }
    ~Child() {
        if (FPid > 0 && !FReaped) {
            ::kill(FPid, SIGKILL);
            Reap();
        }
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    pid_t Pid() const { return FPid; }

    // Waits (bounded) until the child has ended and reaps it. Returns the
    // signal that ended it, or 0 when it did not end in time or ended
    // normally.
    int WaitEnded() {
        if (FPid <= 0 || FReaped)
            return FSignal;
        int status = 0;
        const bool ended = WaitFor([&] {
            const pid_t r = ::waitpid(FPid, &status, WNOHANG);
            return r == FPid;
        });
        if (!ended)
            return 0;
        FReaped = true;
        FSignal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
        return FSignal;
    }

    // Still running (not ended, or ended but not reaped counts as ended).
    bool Running() const {
        if (FPid <= 0 || FReaped)
            return false;
        const char state = ProcessState(FPid);
        return state != 0 && state != 'Z' && state != 'X';
    }

private:
    void Reap() {
        int status = 0;
        while (::waitpid(FPid, &status, 0) < 0 && errno == EINTR) {
        }
        FReaped = true;
    }

    pid_t FPid = -1;
    bool FReaped = false;
    int FSignal = 0;
};

} // namespace slvtest
