// A stand-in for one of the suite's programs. It waits until it is ended.
//
// When the environment variable SLV_STANDIN_LOG names a file, one line is
// appended to it at start: the process id, the executable's path, the
// current folder and the arguments, separated by tabs.
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>

int main(int argc, char** argv) {
    if (const char* log = std::getenv("SLV_STANDIN_LOG"); log != nullptr && *log != '\0') {
        std::string line = std::to_string(::getpid());
        char buffer[PATH_MAX];
        const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer);
        line += '\t';
        line += n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
        line += '\t';
        line += ::getcwd(buffer, sizeof buffer) != nullptr ? buffer : "";
        for (int i = 0; i < argc; ++i) {
            line += '\t';
            line += argv[i];
        }
        line += '\n';
        const int fd = ::open(log, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (fd >= 0) {
            (void)!::write(fd, line.data(), line.size());
            ::close(fd);
        }
    }
    for (;;)
        ::pause();
}
