// Private-profile files through the Windows API itself, so that the suite's
// own programs read exactly what the tool writes. The W functions keep a
// file they create, or one without a UTF-16 byte-order mark, in the ANSI
// code page (CP949 on a Korean Windows), as the suite's ANSI programs read
// it; the text of the layers above stays UTF-8.
#include "platform/PrivateProfile.h"

#include <windows.h>
// windows.h names an old call WriteProfileString; the seam's own is meant.
#undef WriteProfileString

#include <vector>

#include "platform/Files.h"
#include "platform/win32/Text.h"

namespace platform {

using win32::Narrow;
using win32::Widen;

namespace {

// Large enough for any value a line of the file can hold.
constexpr DWORD ReadBufferChars = 32767;

bool HasLineBreak(const std::string& text) {
    return text.find_first_of("\r\n") != std::string::npos;
}

} // namespace

std::string CutToBuffer(const std::string& text, std::size_t bufferSize) {
    if (bufferSize == 0) {
        return std::string();
    }
    if (text.size() <= bufferSize - 1) {
        return text;
    }
    std::size_t end = bufferSize - 1;
    // Step back over the continuation bytes of a character that would be
    // cut, and over its lead byte.
    std::size_t start = end;
    while (start > 0 && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80) {
        --start;
    }
    if (start < end || (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
        end = start;
    }
    return text.substr(0, end);
}

std::string ReadProfileString(const std::string& section, const std::string& key,
                              const std::string& defaultValue, std::size_t bufferSize,
                              const std::string& fileName) {
    std::vector<wchar_t> buffer(ReadBufferChars, L'\0');
    const std::wstring defaultText = Widen(defaultValue);
    const DWORD length =
        GetPrivateProfileStringW(Widen(section).c_str(), Widen(key).c_str(), defaultText.c_str(),
                                 buffer.data(), ReadBufferChars, Widen(fileName).c_str());
    return CutToBuffer(Narrow(buffer.data(), length), bufferSize);
}

bool WriteProfileString(const std::string& section, const std::string& key,
                        const std::string& value, const std::string& fileName) {
    // What the file cannot hold is refused before the file is touched.
    if (section.empty() || key.empty() || HasLineBreak(section) || HasLineBreak(key) ||
        HasLineBreak(value) || section.find(']') != std::string::npos ||
        key.find('=') != std::string::npos) {
        return false;
    }
    return WritePrivateProfileStringW(Widen(section).c_str(), Widen(key).c_str(),
                                      Widen(value).c_str(), Widen(fileName).c_str()) != 0;
}

bool CanWriteProfile(const std::string& fileName, std::string& reason) {
    reason.clear();
    if (fileName.empty()) {
        reason = win32::ErrorText(ERROR_FILE_NOT_FOUND);
        return false;
    }
    // Windows writes the file in place: an existing one must take writing,
    // a new one needs a folder that takes a new file.
    const TPathProbe probe = ProbePath(fileName);
    switch (probe.Kind) {
    case TPathKind::Missing:
        break;
    case TPathKind::Unknown:
        reason = probe.Reason;
        return false;
    case TPathKind::Folder:
    case TPathKind::Other:
        reason = "not a plain file";
        return false;
    case TPathKind::File: {
        if (IsReadOnlyFile(fileName)) {
            reason = "read-only file";
            return false;
        }
        // Opening for writing changes nothing; the suite's programs may hold
        // the file open for reading meanwhile.
        const HANDLE file =
            CreateFileW(Widen(fileName).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            reason = win32::ErrorText(GetLastError());
            return false;
        }
        CloseHandle(file);
        return true;
    }
    }
    const std::string folder = FolderOf(fileName);
    if (!CanChangeFolder(folder, reason)) {
        reason = folder + ": " + reason;
        return false;
    }
    return true;
}

} // namespace platform
