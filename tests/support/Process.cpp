// Runs the server's command-line tools for the tests: a child with a clean,
// UTF-8 environment, its output captured, and a time limit.
#include "testsupport/Process.h"

#include "testsupport/FbTestEnv.h"

#include "platform/Processes.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace slvtest {

namespace {

bool DropFromChildEnvironment(const char* entry) {
    static const char* const kDropped[] = {
        "ISC_USER=", "ISC_PASSWORD=", "LANG=", "LC_ALL=", "LANGUAGE="};
    for (const char* prefix : kDropped) {
        if (std::strncmp(entry, prefix, std::strlen(prefix)) == 0) {
            return true;
        }
    }
    return false;
}

} // namespace

ProcessResult RunProcess(const std::vector<std::string>& argv, int timeoutSeconds) {
    ProcessResult result;
    if (argv.empty()) {
        result.output = "no program given";
        return result;
    }

    // The child's environment: ours without the ISC_* account variables and
    // with a UTF-8 locale.
    std::vector<std::string> envStrings;
    for (char** e = environ; e != nullptr && *e != nullptr; ++e) {
        if (!DropFromChildEnvironment(*e)) {
            envStrings.emplace_back(*e);
        }
    }
    envStrings.emplace_back("LANG=C.UTF-8");
    envStrings.emplace_back("LC_ALL=C.UTF-8");
    std::vector<char*> envp;
    envp.reserve(envStrings.size() + 1);
    for (std::string& s : envStrings) {
        envp.push_back(s.data());
    }
    envp.push_back(nullptr);

    std::vector<std::string> argStrings(argv);
    std::vector<char*> args;
    args.reserve(argStrings.size() + 1);
    for (std::string& s : argStrings) {
        args.push_back(s.data());
    }
    args.push_back(nullptr);

    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        result.output = std::string("pipe: ") + std::strerror(errno);
        return result;
    }

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 2);

    pid_t pid = -1;
    const int spawnError = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (spawnError != 0) {
        close(fds[0]);
        result.output = "cannot start " + argv[0] + ": " + std::strerror(spawnError);
        return result;
    }

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    char buffer[4096];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) {
            result.timedOut = true;
            kill(pid, SIGKILL);
            break;
        }
        pollfd p{fds[0], POLLIN, 0};
        const int ready = poll(&p, 1, static_cast<int>(left < 1000 ? left : 1000));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0) {
            continue;
        }
        const ssize_t n = read(fds[0], buffer, sizeof buffer);
        if (n > 0) {
            result.output.append(buffer, static_cast<std::size_t>(n));
        } else if (n == 0 || errno != EINTR) {
            break;
        }
    }
    close(fds[0]);

    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (result.timedOut) {
        result.exitCode = -1;
        result.output += "\n(killed after " + std::to_string(timeoutSeconds) + " s)";
    } else if (WIFEXITED(status)) {
        result.exitCode = WEXITSTATUS(status);
    } else {
        result.exitCode = -1;
    }
    return result;
}

} // namespace slvtest

namespace slvtest {

int RunTestAsNobody(const std::string& gtestFilter, const std::vector<std::string>& environment) {
    const std::string self = platform::ExecutableFile();
    if (self.empty()) {
        return -1;
    }
    const std::string folder = MakeTempDir("as-nobody");
    const std::string copy = folder + "/test-program";
    {
        std::ifstream in(self, std::ios::binary);
        std::ofstream out(copy, std::ios::binary);
        out << in.rdbuf();
        if (!in || !out) {
            return -1;
        }
    }
    if (::chmod(copy.c_str(), 0755) != 0) {
        return -1;
    }
    const std::string filterArg = "--gtest_filter=" + gtestFilter;

    const pid_t child = ::fork();
    if (child < 0) {
        return -1;
    }
    if (child == 0) {
        for (const std::string& line : environment) {
            const auto eq = line.find('=');
            if (eq != std::string::npos) {
                ::setenv(line.substr(0, eq).c_str(), line.substr(eq + 1).c_str(), 1);
            }
        }
        const int devNull = ::open("/dev/null", O_WRONLY);
        if (devNull >= 0) {
            ::dup2(devNull, 1);
        }
        if (::chdir(folder.c_str()) != 0 || ::setgroups(0, nullptr) != 0 ||
            ::setgid(NobodyId) != 0 || ::setuid(NobodyId) != 0) {
            ::_exit(90);
        }
        ::execl(copy.c_str(), copy.c_str(), "--gtest_also_run_disabled_tests", filterArg.c_str(),
                static_cast<char*>(nullptr));
        ::_exit(91);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    ::unlink(copy.c_str());
    ::rmdir(folder.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace slvtest
