// The list of running processes, ending a process, the running program's
// own file, and the processes that hold a file open.
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

// Whether this process has the right to end another one (POSIX: a signal
// may be sent; Windows: the process opens with the right to terminate).
enum class TEndRight { Allowed, Denied, Gone };
[[nodiscard]] TEndRight CanEndProcess(std::uint32_t processId);

// Whether the process still runs (a process that has ended but was not
// reaped yet does not).
[[nodiscard]] bool ProcessRunning(std::uint32_t processId);

// The user a process runs as: its effective user and group, its further
// groups and the user's name (empty when unknown). On Windows Uid is 0 for
// the system's account and for administrators, else the relative id of the
// account; the name is "DOMAIN\user".
struct TProcessUser {
    std::uint32_t Uid = 0;
    std::uint32_t Gid = 0;
    std::vector<std::uint32_t> Groups;
    std::string Name;
};
[[nodiscard]] bool ProcessUser(std::uint32_t processId, TProcessUser& user);

enum class TAccess { Allowed, Denied, Unknown };
// Whether `user` may create files in `folder`, judged by the permission bits
// of the folder (write and search) and of the folders above it (search). An
// administrator (uid 0) may. Unknown when this process cannot look at one
// of the folders; `reason` then says why, or which folder denies it. On
// Windows only an administrator is judged (Allowed); another account's
// rights follow from access lists applied to its own token: Unknown.
[[nodiscard]] TAccess UserMayWriteFolder(const TProcessUser& user, const std::string& folder,
                                         std::string& reason);

// The full path of the running program's executable file; empty when the
// system does not tell.
[[nodiscard]] std::string ExecutableFile();

// The processes holding the file open, by their ids; none for a missing file.
// On POSIX these are the processes this one may look into (on Linux through
// /proc/<pid>/fd) with an open file that is the same file as `path` (the same
// device and inode, so a holder is found under any of the file's names). On
// Windows, which does not tell another process's open files, a file that
// someone holds open refuses an open that shares nothing: the list then has
// the one id 0 (holder unknown).
[[nodiscard]] std::vector<std::uint32_t> ProcessesHoldingFile(const std::string& path);

} // namespace platform
