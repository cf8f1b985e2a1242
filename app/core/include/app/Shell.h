// Starting a program the way the shell's "open" does.
#pragma once

#include <string>

namespace app {

// Starts the program detached; true when it could be started.
bool ShellOpen(const std::string& programPath);

} // namespace app
