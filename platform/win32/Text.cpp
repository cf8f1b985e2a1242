#include "platform/win32/Text.h"

#include <windows.h>

#include <cerrno>

namespace platform::win32 {

std::wstring Widen(const std::string& utf8) {
    if (utf8.empty()) {
        return {};
    }
    const int size = static_cast<int>(utf8.size());
    const int needed = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
    std::wstring result(static_cast<std::size_t>(needed), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, result.data(), needed);
    return result;
}

std::string Narrow(const wchar_t* utf16, std::size_t length) {
    if (length == 0) {
        return {};
    }
    const int size = static_cast<int>(length);
    const int needed = WideCharToMultiByte(CP_UTF8, 0, utf16, size, nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<std::size_t>(needed), '\0');
    WideCharToMultiByte(CP_UTF8, 0, utf16, size, result.data(), needed, nullptr, nullptr);
    return result;
}

std::string Narrow(const std::wstring& utf16) {
    return Narrow(utf16.data(), utf16.size());
}

std::optional<std::string> ToAnsiCodePage(const std::string& utf8) {
    const std::wstring wide = Widen(utf8);
    if (wide.empty()) {
        return std::string();
    }
    const int size = static_cast<int>(wide.size());
    BOOL lost = FALSE;
    const int needed = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), size, nullptr,
                                           0, nullptr, &lost);
    std::string result(static_cast<std::size_t>(needed), '\0');
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), size, result.data(), needed,
                        nullptr, &lost);
    if (lost || needed == 0) {
        return std::nullopt;
    }
    return result;
}

std::string FromSystemText(const std::string& bytes) {
    if (bytes.empty() || MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(),
                                             static_cast<int>(bytes.size()), nullptr, 0) > 0) {
        return bytes;
    }
    const int size = static_cast<int>(bytes.size());
    const int needed = MultiByteToWideChar(CP_ACP, 0, bytes.data(), size, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(needed), L'\0');
    MultiByteToWideChar(CP_ACP, 0, bytes.data(), size, wide.data(), needed);
    return Narrow(wide);
}

std::string ErrorText(unsigned long code) {
    wchar_t* buffer = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::string text;
    if (length > 0 && buffer != nullptr) {
        text = Narrow(buffer, length);
    }
    if (buffer != nullptr) {
        LocalFree(buffer);
    }
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
        text.pop_back();
    }
    return text;
}

namespace {

int ErrnoOf(unsigned long code) {
    switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
        return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
    case ERROR_CURRENT_DIRECTORY:
    case ERROR_PRIVILEGE_NOT_HELD:
        return EACCES;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return EEXIST;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return ENOSPC;
    case ERROR_NOT_SAME_DEVICE:
        return EXDEV;
    case ERROR_DIR_NOT_EMPTY:
        return ENOTEMPTY;
    case ERROR_DIRECTORY:
        return ENOTDIR;
    case ERROR_FILENAME_EXCED_RANGE:
        return ENAMETOOLONG;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
        return ENOMEM;
    case ERROR_INVALID_PARAMETER:
    case ERROR_INVALID_NAME:
    default:
        return EINVAL;
    }
}

struct TKeptError {
    int Errno = 0;
    unsigned long Code = 0;
};
thread_local TKeptError gKept;

} // namespace

int SetErrnoFrom(unsigned long code) {
    const int error = ErrnoOf(code);
    gKept = {error, code};
    errno = error;
    return error;
}

int SetErrnoFromLastError() {
    return SetErrnoFrom(GetLastError());
}

unsigned long KeptErrorFor(int error) {
    return error != 0 && gKept.Errno == error ? gKept.Code : 0;
}

} // namespace platform::win32
