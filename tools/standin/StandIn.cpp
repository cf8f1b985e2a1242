// A stand-in for one of the suite's programs. It waits until it is ended.
//
// When the environment variable SLV_STANDIN_LOG names a file, one line is
// appended to it at start: the process id, the executable's path, the
// current folder and the arguments, separated by tabs.
#include <cstdio>
#include <cstdlib>
#include <string>
#if defined(_WIN32)
#include <process.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

#include "platform/Files.h"
#include "platform/Processes.h"

int main(int argc, char** argv) {
    if (const char* log = std::getenv("SLV_STANDIN_LOG"); log != nullptr && *log != '\0') {
#if defined(_WIN32)
        std::string line = std::to_string(::_getpid());
#else
        std::string line = std::to_string(::getpid());
#endif
        line += '\t';
        line += platform::ExecutableFile();
        line += '\t';
        line += platform::CurrentFolder();
        for (int i = 0; i < argc; ++i) {
            line += '\t';
            line += argv[i];
        }
        line += '\n';
#if defined(_WIN32)
        if (std::FILE* file = std::fopen(log, "ab")) {
            std::fwrite(line.data(), 1, line.size(), file);
            std::fclose(file);
        }
    }
    for (;;)
        ::Sleep(INFINITE);
#else
        const int fd = ::open(log, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (fd >= 0) {
            (void)!::write(fd, line.data(), line.size());
            ::close(fd);
        }
    }
    for (;;)
        ::pause();
#endif
}
