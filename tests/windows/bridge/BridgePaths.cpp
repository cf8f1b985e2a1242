// The Windows side of the test bridge. A Windows client library reads the
// texts of a service start block in the system's ANSI code page and hands
// them to the server in UTF-8; the file names that a Windows program puts
// there are Windows paths ("Z:\..." is the Linux root under Wine), and the
// Linux server needs the Linux ones.
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <vector>

// (No std::wstring here: Wine's WCHAR is 16 bits, the C++ library's
// wchar_t 32.)

// The Linux path (UTF-8, to be released with free) of a Windows drive path
// of `length` bytes, or nullptr when it is none or has no Linux name.
extern "C" char* bridge_unix_path(const char* text, int length, int utf8) {
    if (length < 3 || text[1] != ':' || (text[2] != '\\' && text[2] != '/')) {
        return nullptr;
    }
    const UINT codePage = utf8 != 0 ? CP_UTF8 : CP_ACP;
    const int count = MultiByteToWideChar(codePage, 0, text, length, nullptr, 0);
    std::vector<WCHAR> wide(static_cast<size_t>(count) + 1, 0);
    MultiByteToWideChar(codePage, 0, text, length, wide.data(), count);
    char* unixName = wine_get_unix_file_name(wide.data());
    if (unixName == nullptr) {
        return nullptr;
    }
    char* result = strdup(unixName);
    HeapFree(GetProcessHeap(), 0, unixName);
    return result;
}

// The UTF-8 form (to be released with free) of text in the ANSI code page.
extern "C" char* bridge_ansi_to_utf8(const char* text, int length) {
    const int count = MultiByteToWideChar(CP_ACP, 0, text, length, nullptr, 0);
    std::vector<WCHAR> wide(static_cast<size_t>(count) + 1, 0);
    MultiByteToWideChar(CP_ACP, 0, text, length, wide.data(), count);
    const int bytes =
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), count, nullptr, 0, nullptr, nullptr);
    char* result = static_cast<char*>(std::calloc(static_cast<size_t>(bytes) + 1, 1));
    if (result != nullptr) {
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), count, result, bytes, nullptr, nullptr);
    }
    return result;
}
