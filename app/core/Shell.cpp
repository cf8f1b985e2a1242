// The shell's "open" of a program file.
#include "app/Shell.h"

#include "platform/Shell.h"

namespace app {

bool ShellOpen(const std::string& programPath) {
    return platform::StartDetached(programPath);
}

} // namespace app
