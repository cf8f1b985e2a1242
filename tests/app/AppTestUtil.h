// Helpers of the app-core tests: temporary folders, file contents, running a
// piece of code as an unprivileged user, and child processes that are always
// ended and reaped.
#pragma once

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace apptest {

// A fresh folder under the system's temporary folder, removed at the end.
class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "slvapp.XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("mkdtemp failed");
        FPath = pattern;
    }
    ~TempDir() {
        std::error_code ec;
        // Give write permission back where a test took it away.
        for (auto it = std::filesystem::recursive_directory_iterator(FPath, ec);
             !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
            if (it->is_directory(ec) && !it->is_symlink(ec))
                ::chmod(it->path().c_str(), 0700);
        }
        ::chmod(FPath.c_str(), 0700);
        std::filesystem::remove_all(FPath, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return FPath; }
    // The folder with a trailing "/".
    std::string Slash() const { return FPath + "/"; }
    std::string operator/(const std::string& name) const { return FPath + "/" + name; }

    // The names in the folder (hidden ones included), sorted.
    std::set<std::string> Names() const {
        std::set<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(FPath))
            names.insert(entry.path().filename().string());
        return names;
    }

private:
    std::string FPath;
};

inline void WriteFile(const std::string& path, const std::string& contents) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << contents;
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

inline std::string ReadRest(std::istream& in) {
    std::string contents;
    char buffer[4096];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0)
        contents.append(buffer, static_cast<size_t>(in.gcount()));
    return contents;
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return ReadRest(in);
}

inline mode_t ModeOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return 0;
    return st.st_mode & 07777;
}

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

// Polls `condition` until it holds or about ten seconds have passed.
inline bool WaitFor(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
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

} // namespace apptest
