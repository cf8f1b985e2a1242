// Files and folders through the W functions of the Windows API. "Plain
// files" are files that are neither folders nor hidden nor system files;
// "read-only" is the read-only attribute. Failures set errno to the
// counterpart of the Windows error and keep the error itself for ErrorText.
#include "platform/Files.h"

#include <windows.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <string_view>

#include "platform/Processes.h"
#include "platform/win32/Text.h"

namespace platform {

using win32::Narrow;
using win32::Widen;

namespace {

DWORD Attributes(const std::string& path) {
    return path.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(Widen(path).c_str());
}

bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

// A file the system holds open without sharing (the paging file) tells its
// attributes only to a folder listing; so does a reparse point its tag.
bool FindEntry(const std::wstring& path, WIN32_FIND_DATAW& data) {
    if (path.find_first_of(L"*?") != std::wstring::npos) {
        return false;
    }
    const HANDLE find = FindFirstFileW(path.c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) {
        return false;
    }
    FindClose(find);
    return true;
}

// A file renamed or replaced a moment after it was closed may still be held
// by a scanner of the system (an anti-virus program, the search indexer):
// such a refusal is tried again for a while.
constexpr int HeldRetries = 20;
constexpr DWORD HeldRetryMilliseconds = 100;

// The outcome of a call of the file system: on failure errno tells why.
bool Succeeded(BOOL result) {
    if (result == 0) {
        win32::SetErrnoFromLastError();
        return false;
    }
    return true;
}

bool NoSuchFile() {
    win32::SetErrnoFrom(ERROR_FILE_NOT_FOUND);
    return false;
}

bool HeldForAMoment(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

// The volume and the index of the file under `path`, which name it under
// any of its names. Opening for its attributes alone is never refused for
// sharing.
bool FileIdentity(const std::string& path, BY_HANDLE_FILE_INFORMATION& info) {
    if (path.empty()) {
        return false;
    }
    const HANDLE file = CreateFileW(Widen(path).c_str(), FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    const bool known = GetFileInformationByHandle(file, &info) != 0;
    CloseHandle(file);
    return known;
}

} // namespace

TPathProbe ProbePath(const std::string& path) {
    TPathProbe probe;
    if (path.empty()) {
        probe.Kind = TPathKind::Missing;
        probe.Error = ENOENT;
        probe.Reason = ErrorText(ENOENT);
        return probe;
    }
    const std::wstring wide = Widen(path);
    WIN32_FILE_ATTRIBUTE_DATA info{};
    DWORD attributes = INVALID_FILE_ATTRIBUTES;
    if (GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &info)) {
        attributes = info.dwFileAttributes;
    }
    const DWORD error = attributes == INVALID_FILE_ATTRIBUTES ? GetLastError() : 0;
    WIN32_FIND_DATAW entry{};
    bool listed = false;
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        listed = FindEntry(wide, entry);
        if (listed) {
            attributes = entry.dwFileAttributes;
        }
    }
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        probe.Error = win32::SetErrnoFrom(error);
        probe.Reason = ErrorText(probe.Error);
        // Only "no such file" and "no such path" say that nothing is there.
        probe.Kind = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
                         ? TPathKind::Missing
                         : TPathKind::Unknown;
        return probe;
    }
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        // Links and junctions (name surrogates) are not followed; other
        // reparse points (files kept in the cloud, deduplicated files) are
        // what they say they are. A tag that cannot be read (none, or 0 as
        // Wine gives for a link of the host system) counts as a link.
        if (!listed || entry.dwReserved0 == 0 || IsReparseTagNameSurrogate(entry.dwReserved0)) {
            probe.Kind = TPathKind::Other;
            return probe;
        }
    }
    if ((attributes & FILE_ATTRIBUTE_DEVICE) != 0) {
        probe.Kind = TPathKind::Other;
    } else {
        probe.Kind =
            (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? TPathKind::Folder : TPathKind::File;
    }
    return probe;
}

std::string ErrorText(int error) {
    if (const unsigned long code = win32::KeptErrorFor(error)) {
        const std::string text = win32::ErrorText(code);
        if (!text.empty()) {
            return text;
        }
    }
    const char* text = std::strerror(error);
    return text != nullptr ? std::string(text) : "error " + std::to_string(error);
}

std::string FolderOf(const std::string& path) {
    size_t cut = path.size();
    while (cut > 0 && !IsSeparator(path[cut - 1])) {
        --cut;
    }
    if (cut == 0) {
        // "D:name" lies in the current folder of drive D:.
        return path.size() >= 2 && path[1] == ':' ? path.substr(0, 2) : std::string(".");
    }
    const size_t slash = cut - 1;
    // The root keeps its separator: "\", "D:\".
    if (slash == 0 || (slash == 2 && path[1] == ':')) {
        return path.substr(0, slash + 1);
    }
    return path.substr(0, slash);
}

bool CanChangeFolder(const std::string& folder, std::string& reason) {
    // What a folder's access list allows depends on the file's owner, the
    // inherited entries and more that only the file system decides, and a
    // read-only medium refuses whatever the list says: a trial tells for
    // sure. A hidden, empty file is made, renamed and removed.
    reason.clear();
    static std::atomic<unsigned> counter{0};
    std::string base = folder.empty() ? std::string(".") : folder;
    if (!IsSeparator(base.back()) && base.back() != ':') {
        base += '\\';
    }
    const std::string stem = base + ".slv-access-" + std::to_string(GetCurrentProcessId()) + "-" +
                             std::to_string(counter++);
    const std::wstring made = Widen(stem + ".tmp");
    const std::wstring renamed = Widen(stem + ".renamed.tmp");
    const auto fail = [&reason] {
        reason = win32::ErrorText(GetLastError());
        return false;
    };
    const HANDLE file = CreateFileW(made.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_TEMPORARY, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return fail();
    }
    CloseHandle(file);
    if (!MoveFileExW(made.c_str(), renamed.c_str(), 0)) {
        const bool failed = fail();
        DeleteFileW(made.c_str());
        return failed;
    }
    if (!DeleteFileW(renamed.c_str())) {
        return fail();
    }
    return true;
}

bool FileExists(const std::string& path) {
    const DWORD attributes = Attributes(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool DirectoryExists(const std::string& path) {
    const DWORD attributes = Attributes(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool SameFile(const std::string& path, const std::string& other) {
    BY_HANDLE_FILE_INFORMATION first{};
    BY_HANDLE_FILE_INFORMATION second{};
    return FileIdentity(path, first) && FileIdentity(other, second) &&
           first.dwVolumeSerialNumber == second.dwVolumeSerialNumber &&
           first.nFileIndexHigh == second.nFileIndexHigh &&
           first.nFileIndexLow == second.nFileIndexLow;
}

bool IsReadOnlyFile(const std::string& path) {
    const DWORD attributes = Attributes(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
}

bool ClearReadOnly(const std::string& path) {
    const DWORD attributes = Attributes(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return false;
    }
    return SetFileAttributesW(Widen(path).c_str(), attributes & ~DWORD{FILE_ATTRIBUTE_READONLY}) !=
           0;
}

bool RemoveFile(const std::string& path) {
    return path.empty() ? NoSuchFile() : Succeeded(DeleteFileW(Widen(path).c_str()));
}

bool RenameFile(const std::string& oldPath, const std::string& newPath) {
    // Without MOVEFILE_REPLACE_EXISTING the move fails when the new name
    // exists (EEXIST).
    return oldPath.empty() || newPath.empty()
               ? NoSuchFile()
               : Succeeded(MoveFileExW(Widen(oldPath).c_str(), Widen(newPath).c_str(), 0));
}

bool ReplaceFileByRename(const std::string& oldPath, const std::string& newPath) {
    if (oldPath.empty() || newPath.empty()) {
        return NoSuchFile();
    }
    if (DirectoryExists(newPath)) {
        errno = EISDIR;
        return false;
    }
    const std::wstring from = Widen(oldPath);
    const std::wstring to = Widen(newPath);
    for (int attempt = 0;; ++attempt) {
        if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0) {
            return true;
        }
        const DWORD error = GetLastError();
        if (!HeldForAMoment(error) || attempt == HeldRetries) {
            win32::SetErrnoFrom(error);
            return false;
        }
        Sleep(HeldRetryMilliseconds);
    }
}

bool ListPlainFiles(const std::string& folder, std::vector<std::string>& names) {
    names.clear();
    std::wstring pattern = Widen(folder);
    if (!pattern.empty() && pattern.back() != L'\\' && pattern.back() != L'/') {
        pattern += L'\\';
    }
    pattern += L'*';
    WIN32_FIND_DATAW data{};
    const HANDLE find = FindFirstFileW(pattern.c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) {
        // An empty folder still has "." and ".."; only a drive's root can
        // have no entry at all.
        return GetLastError() == ERROR_FILE_NOT_FOUND;
    }
    constexpr DWORD NotPlain =
        FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    do {
        if ((data.dwFileAttributes & NotPlain) == 0) {
            names.push_back(Narrow(data.cFileName));
        }
    } while (FindNextFileW(find, &data) != 0);
    FindClose(find);
    return true;
}

std::string CurrentFolder() {
    const DWORD needed = GetCurrentDirectoryW(0, nullptr);
    if (needed == 0) {
        return std::string();
    }
    std::wstring buffer(needed, L'\0');
    const DWORD length = GetCurrentDirectoryW(needed, buffer.data());
    buffer.resize(length);
    return Narrow(buffer);
}

bool ChangeCurrentFolder(const std::string& folder) {
    return !folder.empty() && SetCurrentDirectoryW(Widen(folder).c_str()) != 0;
}

std::string ExecutableFolder() {
    const std::string file = ExecutableFile();
    if (file.empty()) {
        std::string current = CurrentFolder();
        return current.empty() || current.back() == '\\' ? current : current + "\\";
    }
    return file.substr(0, file.find_last_of("\\/:") + 1);
}

} // namespace platform
