// The list of running processes, ending a process, and the running
// program's own file.
//
// Each entry names the program file of a process: the file name (without
// folder) of its executable. On Linux that comes from /proc/<pid>/exe; when
// the link cannot be read (another user's process) the file-name part of the
// first command-line element is used, then the kernel's short command name.
// Processes that have already ended but not been reaped yet (zombies) are not
// running any more and are left out. On Windows the list is the Toolhelp
// snapshot's and ending a process is TerminateProcess with exit code 0.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

struct ProcessEntry {
    std::uint32_t ProcessId = 0;
    std::string ExeFile;
};

// Fills `entries` with the running processes in the system's order. False
// when no list can be taken (`entries` is then empty).
[[nodiscard]] bool ListProcesses(std::vector<ProcessEntry>& entries);

// Ends the process at once, without giving it a chance to clean up (SIGKILL
// on POSIX, the counterpart of a forced termination). True when the system
// accepted the request.
[[nodiscard]] bool KillProcess(std::uint32_t processId);

// The full path of the running program's executable file; empty when the
// system does not tell.
[[nodiscard]] std::string ExecutableFile();

} // namespace platform
