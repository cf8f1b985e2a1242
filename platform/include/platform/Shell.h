// Starting programs the way the desktop shell's "open" does.
#pragma once

#include <string>

namespace platform {

// Starts the program file `programPath` without parameters, detached from
// the calling process (its own session; nothing to wait for or reap), in the
// calling process's current folder and environment, with standard input
// from /dev/null. True when the program was started (its file could be
// executed).
[[nodiscard]] bool StartDetached(const std::string& programPath);

} // namespace platform
