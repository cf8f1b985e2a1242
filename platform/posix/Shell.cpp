// Starting a program detached: fork twice so that the program belongs to
// init and never becomes our zombie, with a close-on-exec pipe that tells
// whether the program file could be executed.
#include "platform/Shell.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace platform {

bool StartDetached(const std::string& programPath) {
    if (programPath.empty())
        return false;
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0)
        return false;

    const pid_t middle = ::fork();
    if (middle < 0) {
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        return false;
    }
    if (middle == 0) {
        // Only async-signal-safe calls from here on.
        ::close(pipeFds[0]);
        ::setsid();
        const pid_t program = ::fork();
        if (program < 0) {
            const int error = errno;
            (void)!::write(pipeFds[1], &error, sizeof error);
            ::_exit(1);
        }
        if (program > 0)
            ::_exit(0);
        sigset_t none;
        ::sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        for (int sig = 1; sig < NSIG; ++sig) {
            if (sig != SIGKILL && sig != SIGSTOP)
                ::signal(sig, SIG_DFL);
        }
        const int nullFd = ::open("/dev/null", O_RDONLY);
        if (nullFd >= 0 && nullFd != STDIN_FILENO) {
            ::dup2(nullFd, STDIN_FILENO);
            ::close(nullFd);
        }
        char* const argv[] = {const_cast<char*>(programPath.c_str()), nullptr};
        ::execve(programPath.c_str(), argv, environ);
        const int error = errno;
        (void)!::write(pipeFds[1], &error, sizeof error);
        ::_exit(127);
    }

    ::close(pipeFds[1]);
    int status = 0;
    while (::waitpid(middle, &status, 0) < 0 && errno == EINTR) {
    }
    int error = 0;
    ssize_t n;
    do {
        n = ::read(pipeFds[0], &error, sizeof error);
    } while (n < 0 && errno == EINTR);
    ::close(pipeFds[0]);
    // Nothing read: the pipe closed at the successful exec.
    return n == 0;
}

} // namespace platform
