// A stand-in for one of the suite's programs. It waits until it is ended.
//
// When the environment variable SLV_STANDIN_LOG names a file, one line is
// appended to it at start: the process id, the executable's path, the
// current folder and the arguments, separated by tabs.
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>

#include "platform/Files.h"
#include "platform/Processes.h"

int main(int argc, char** argv) {
    if (const char* log = std::getenv("SLV_STANDIN_LOG"); log != nullptr && *log != '\0') {
        std::string line = std::to_string(::getpid());
        line += '\t';
        line += platform::ExecutableFile();
        line += '\t';
        line += platform::CurrentFolder();
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
