// Files and folders on POSIX.
#include "platform/Files.h"
#include "platform/Processes.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

TPathProbe ProbePath(const std::string& path) {
    TPathProbe probe;
    struct stat st {};
    // An empty path names nothing: ENOENT.
    if (::lstat(path.c_str(), &st) != 0) {
        probe.Error = errno;
        probe.Reason = ErrorText(probe.Error);
        // Only "no such entry" says that nothing is there. ENOTDIR (a part
        // of the path is a file) also means the path names nothing.
        probe.Kind = (probe.Error == ENOENT || probe.Error == ENOTDIR) ? TPathKind::Missing
                                                                       : TPathKind::Unknown;
        return probe;
    }
    probe.Kind = S_ISREG(st.st_mode)   ? TPathKind::File
                 : S_ISDIR(st.st_mode) ? TPathKind::Folder
                                       : TPathKind::Other;
    return probe;
}

std::string ErrorText(int error) {
    char buffer[256];
    // The GNU variant returns the text, which may not be in the buffer.
    const char* text = ::strerror_r(error, buffer, sizeof buffer);
    return text != nullptr ? std::string(text) : std::string("error ") + std::to_string(error);
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

bool CanChangeFolder(const std::string& folder, std::string& reason) {
    reason.clear();
    if (::access(folder.c_str(), W_OK | X_OK) == 0)
        return true;
    reason = ErrorText(errno);
    return false;
}

bool FileExists(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool SameFile(const std::string& path, const std::string& other) {
    struct stat first {};
    struct stat second {};
    return !path.empty() && !other.empty() && ::stat(path.c_str(), &first) == 0 &&
           ::stat(other.c_str(), &second) == 0 && first.st_dev == second.st_dev &&
           first.st_ino == second.st_ino;
}

bool IsReadOnlyFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && (st.st_mode & 0222) == 0;
}

bool ClearReadOnly(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return false;
    return ::chmod(path.c_str(), (st.st_mode & 07777) | S_IWUSR) == 0;
}

bool RemoveFile(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode))
        return false;
    return ::unlink(path.c_str()) == 0;
}

bool RenameFile(const std::string& oldPath, const std::string& newPath) {
    if (oldPath.empty() || newPath.empty())
        return false;
    if (::renameat2(AT_FDCWD, oldPath.c_str(), AT_FDCWD, newPath.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    // The file system cannot refuse to replace by itself: a hard link fails
    // when the new name exists; folders and links across file systems are
    // renamed after a check.
    if (::link(oldPath.c_str(), newPath.c_str()) == 0)
        return ::unlink(oldPath.c_str()) == 0;
    if (errno == EEXIST)
        return false;
    struct stat st {};
    if (::lstat(newPath.c_str(), &st) == 0 || errno != ENOENT)
        return false;
    return ::rename(oldPath.c_str(), newPath.c_str()) == 0;
}

bool ReplaceFileByRename(const std::string& oldPath, const std::string& newPath) {
    if (oldPath.empty() || newPath.empty()) {
        errno = ENOENT;
        return false;
    }
    struct stat st {};
    if (::lstat(newPath.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        errno = EISDIR;
        return false;
    }
    return ::rename(oldPath.c_str(), newPath.c_str()) == 0;
}

bool ListPlainFiles(const std::string& folder, std::vector<std::string>& names) {
    names.clear();
    const int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0)
        return false;
    DIR* dir = ::fdopendir(dirFd);
    if (dir == nullptr) {
        ::close(dirFd);
        return false;
    }
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.empty() || name[0] == '.')
            continue; // hidden, "." and ".."
        struct stat st {};
        if (::fstatat(dirFd, entry->d_name, &st, 0) != 0 || !S_ISREG(st.st_mode))
            continue;
        names.push_back(name);
    }
    ::closedir(dir);
    return true;
}

std::string CurrentFolder() {
    std::string buffer(PATH_MAX, '\0');
    for (;;) {
        if (::getcwd(buffer.data(), buffer.size()) != nullptr) {
            buffer.resize(std::char_traits<char>::length(buffer.c_str()));
            return buffer;
        }
        if (errno != ERANGE)
            return std::string();
        buffer.resize(buffer.size() * 2);
    }
}

bool ChangeCurrentFolder(const std::string& folder) {
    return !folder.empty() && ::chdir(folder.c_str()) == 0;
}

std::string ExecutableFolder() {
    const std::string file = ExecutableFile();
    if (file.empty())
        return CurrentFolder() + "/";
    const size_t slash = file.rfind('/');
    return slash == std::string::npos ? std::string("./") : file.substr(0, slash + 1);
}

} // namespace platform
