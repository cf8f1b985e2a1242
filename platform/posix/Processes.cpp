// The process list from /proc, ending processes with SIGKILL, the running
// program's file, and the processes holding a file (their /proc/<pid>/fd).
#include "platform/Processes.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <cstring>
#include <pwd.h>
#include <sstream>
#include <string_view>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

namespace platform {

namespace {

std::string ReadSmallFile(const std::string& path) {
    std::string contents;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return contents;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        contents.append(buffer, static_cast<size_t>(n));
        if (contents.size() > 65536)
            break;
    }
    ::close(fd);
    return contents;
}

std::string FileNamePart(std::string_view path) {
    const size_t slash = path.rfind('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

// The state letter of /proc/<pid>/stat: the first field after the command
// name in parentheses (which may itself hold blanks and parentheses).
char ProcessState(const std::string& procDir) {
    const std::string stat = ReadSmallFile(procDir + "/stat");
    const size_t close = stat.rfind(')');
    if (close == std::string::npos || close + 2 >= stat.size())
        return '?';
    return stat[close + 2];
}

std::string ProgramFileName(const std::string& procDir) {
    char target[4096];
    const ssize_t n = ::readlink((procDir + "/exe").c_str(), target, sizeof target);
    if (n > 0) {
        std::string path(target, static_cast<size_t>(n));
        constexpr std::string_view deleted = " (deleted)";
        if (path.size() > deleted.size() &&
            path.compare(path.size() - deleted.size(), deleted.size(), deleted) == 0) {
            path.resize(path.size() - deleted.size());
        }
        return FileNamePart(path);
    }
    const std::string cmdline = ReadSmallFile(procDir + "/cmdline");
    const std::string first = cmdline.substr(0, cmdline.find('\0'));
    if (!first.empty())
        return FileNamePart(first);
    std::string comm = ReadSmallFile(procDir + "/comm");
    while (!comm.empty() && comm.back() == '\n')
        comm.pop_back();
    return comm;
}

// Hands `visit` the number of every entry of `folder` whose name is a
// number (the processes of /proc, the descriptors of /proc/<pid>/fd), in the
// system's order, until `visit` returns false. False when the folder cannot
// be read (a process gone, or another user's).
template <typename Visit> bool ForEachNumberedEntry(const std::string& folder, Visit visit) {
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr)
        return false;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name = entry->d_name;
        if (name.empty() || name.find_first_not_of("0123456789") != std::string_view::npos)
            continue;
        const unsigned long number = std::strtoul(entry->d_name, nullptr, 10);
        if (number > 0xFFFFFFFFUL)
            continue;
        if (!visit(static_cast<std::uint32_t>(number)))
            break;
    }
    ::closedir(dir);
    return true;
}

std::string ProcessFolder(std::uint32_t processId) {
    return "/proc/" + std::to_string(processId);
}

} // namespace

bool ListProcesses(std::vector<ProcessEntry>& entries) {
    entries.clear();
    return ForEachNumberedEntry("/proc", [&entries](std::uint32_t pid) {
        const std::string dir = ProcessFolder(pid);
        const char state = ProcessState(dir);
        // Left out when gone, or ended and waiting to be reaped.
        if (state != '?' && state != 'Z' && state != 'X')
            entries.push_back({pid, ProgramFileName(dir)});
        return true;
    });
}

std::vector<std::uint32_t> ProcessesHoldingFile(const std::string& path) {
    std::vector<std::uint32_t> holders;
    struct stat wanted {};
    if (path.empty() || ::stat(path.c_str(), &wanted) != 0)
        return holders;
    const auto isWanted = [&wanted](const std::string& descriptor) {
        struct stat st {};
        return ::stat(descriptor.c_str(), &st) == 0 && st.st_dev == wanted.st_dev &&
               st.st_ino == wanted.st_ino;
    };
    // A process whose descriptors cannot be read is gone or another user's.
    (void)ForEachNumberedEntry("/proc", [&](std::uint32_t pid) {
        const std::string fds = ProcessFolder(pid) + "/fd/";
        (void)ForEachNumberedEntry(fds, [&](std::uint32_t fd) {
            if (!isWanted(fds + std::to_string(fd)))
                return true;
            holders.push_back(pid);
            return false;
        });
        return true;
    });
    return holders;
}

bool KillProcess(std::uint32_t processId) {
    if (processId == 0 || processId > static_cast<std::uint32_t>(INT32_MAX))
        return false; // 0 and "negative" ids would address process groups
    return ::kill(static_cast<pid_t>(processId), SIGKILL) == 0;
}

std::string ExecutableFile() {
    std::string buffer(PATH_MAX, '\0');
    const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n <= 0)
        return std::string();
    buffer.resize(static_cast<size_t>(n));
    return buffer;
}

} // namespace platform

namespace platform {

TEndRight CanEndProcess(std::uint32_t processId) {
    if (processId == 0 || processId > static_cast<std::uint32_t>(INT32_MAX))
        return TEndRight::Denied;
    if (::kill(static_cast<pid_t>(processId), 0) == 0)
        return TEndRight::Allowed;
    return errno == ESRCH ? TEndRight::Gone : TEndRight::Denied;
}

bool ProcessRunning(std::uint32_t processId) {
    const char state = ProcessState(ProcessFolder(processId));
    return state != '?' && state != 'Z' && state != 'X';
}

bool ProcessUser(std::uint32_t processId, TProcessUser& user) {
    user = TProcessUser();
    const std::string status = ReadSmallFile(ProcessFolder(processId) + "/status");
    std::istringstream lines(status);
    std::string line;
    bool haveUid = false;
    bool haveGid = false;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string name;
        fields >> name;
        // "Uid:" and "Gid:" list real, effective, saved and file-system ids.
        if (name == "Uid:" || name == "Gid:") {
            std::uint32_t real = 0;
            std::uint32_t effective = 0;
            if (fields >> real >> effective) {
                (name == "Uid:" ? user.Uid : user.Gid) = effective;
                (name == "Uid:" ? haveUid : haveGid) = true;
            }
        } else if (name == "Groups:") {
            std::uint32_t group = 0;
            while (fields >> group)
                user.Groups.push_back(group);
        }
    }
    if (!haveUid || !haveGid)
        return false;
    struct passwd entry {};
    struct passwd* found = nullptr;
    char buffer[4096];
    if (::getpwuid_r(user.Uid, &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr)
        user.Name = found->pw_name;
    return true;
}

namespace {

bool InGroup(const TProcessUser& user, std::uint32_t gid) {
    if (user.Gid == gid)
        return true;
    for (std::uint32_t g : user.Groups)
        if (g == gid)
            return true;
    return false;
}

// The permission bits (r=4, w=2, x=1) that apply to `user` on `st`.
unsigned Rights(const TProcessUser& user, const struct stat& st) {
    if (st.st_uid == user.Uid)
        return (st.st_mode >> 6) & 7;
    if (InGroup(user, st.st_gid))
        return (st.st_mode >> 3) & 7;
    return st.st_mode & 7;
}

} // namespace

TAccess UserMayWriteFolder(const TProcessUser& user, const std::string& folder,
                           std::string& reason) {
    reason.clear();
    if (folder.empty() || folder[0] != '/') {
        reason = "not an absolute path";
        return TAccess::Unknown;
    }
    // The folder itself needs write and search; every folder above it search.
    std::string path = folder;
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    bool first = true;
    for (;;) {
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0) {
            reason = path + ": " + std::strerror(errno);
            return TAccess::Unknown;
        }
        if (user.Uid != 0) {
            const unsigned needed = first ? 3u : 1u;
            if ((Rights(user, st) & needed) != needed) {
                reason = path;
                return TAccess::Denied;
            }
        }
        if (path == "/")
            break;
        const size_t slash = path.find_last_of('/');
        path = slash == 0 ? std::string("/") : path.substr(0, slash);
        first = false;
    }
    return TAccess::Allowed;
}

} // namespace platform
