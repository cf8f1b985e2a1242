// Files and folders through the W functions of the Windows API. "Plain
// files" are files that are neither folders nor hidden nor system files;
// "read-only" is the read-only attribute.
#include "platform/Files.h"

#include <windows.h>

#include "platform/Processes.h"
#include "platform/win32/Text.h"

namespace platform {

using win32::Narrow;
using win32::Widen;

namespace {

DWORD Attributes(const std::string& path) {
    return path.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(Widen(path).c_str());
}

} // namespace

bool FileExists(const std::string& path) {
    const DWORD attributes = Attributes(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool DirectoryExists(const std::string& path) {
    const DWORD attributes = Attributes(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
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
    return !path.empty() && DeleteFileW(Widen(path).c_str()) != 0;
}

bool RenameFile(const std::string& oldPath, const std::string& newPath) {
    // Without MOVEFILE_REPLACE_EXISTING the move fails when the new name
    // exists.
    return !oldPath.empty() && !newPath.empty() &&
           MoveFileExW(Widen(oldPath).c_str(), Widen(newPath).c_str(), 0) != 0;
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
