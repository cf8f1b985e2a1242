#include "WinTestUtil.h"

#include <algorithm>
#include <filesystem>
#include <stdexcept>

#include "platform/win32/Text.h"

namespace wintest {

using platform::win32::Narrow;
using platform::win32::Widen;

std::string WinPath(const std::string& unixPath) {
    if (unixPath.empty() || unixPath[0] != '/') {
        return unixPath;
    }
    std::string path = "Z:" + unixPath;
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

std::string MakeScratchFolder(const std::string& prefix) {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    for (unsigned attempt = 0;; ++attempt) {
        const std::wstring folder = std::wstring(temp) + Widen(prefix) + L"-" +
                                    std::to_wstring(GetCurrentProcessId()) + L"-" +
                                    std::to_wstring(GetTickCount64() + attempt);
        if (CreateDirectoryW(folder.c_str(), nullptr)) {
            return Narrow(folder);
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS || attempt > 100) {
            throw std::runtime_error("cannot make a scratch folder");
        }
    }
}

void RemoveTree(const std::string& folder) {
    std::error_code ignored;
    std::filesystem::remove_all(std::filesystem::path(Widen(folder)), ignored);
}

std::string ReadBytes(const std::string& path) {
    std::string bytes;
    const HANDLE file = CreateFileW(Widen(path).c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return bytes;
    }
    char buffer[65536];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0) {
        bytes.append(buffer, read);
    }
    CloseHandle(file);
    return bytes;
}

void WriteBytes(const std::string& path, const std::string& bytes) {
    const HANDLE file = CreateFileW(Widen(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        throw std::runtime_error("cannot write " + path);
    }
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
}

bool CopyFileTo(const std::string& from, const std::string& to) {
    return CopyFileW(Widen(from).c_str(), Widen(to).c_str(), FALSE) != 0;
}

std::string ToCodePage(const std::string& utf8, unsigned codePage) {
    const std::wstring wide = Widen(utf8);
    const int size = static_cast<int>(wide.size());
    const int needed =
        WideCharToMultiByte(codePage, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(needed), '\0');
    WideCharToMultiByte(codePage, 0, wide.data(), size, bytes.data(), needed, nullptr, nullptr);
    return bytes;
}

std::string FromCodePage(const std::string& bytes, unsigned codePage) {
    const int size = static_cast<int>(bytes.size());
    const int needed = MultiByteToWideChar(codePage, 0, bytes.data(), size, nullptr, 0);
    std::wstring wide(static_cast<size_t>(needed), L'\0');
    MultiByteToWideChar(codePage, 0, bytes.data(), size, wide.data(), needed);
    return Narrow(wide);
}

namespace {

std::wstring Quoted(const std::string& argument) {
    std::wstring text = Widen(argument);
    if (!text.empty() && text.find_first_of(L" \t\"") == std::wstring::npos) {
        return text;
    }
    std::wstring quoted = L"\"";
    for (const wchar_t c : text) {
        if (c == L'"') {
            quoted += L'\\';
        }
        quoted += c;
    }
    return quoted + L"\"";
}

} // namespace

TChild::TChild(const std::string& program, const std::vector<std::string>& arguments,
               const std::string& outputFile) {
    std::wstring commandLine = Quoted(program);
    for (const std::string& argument : arguments) {
        commandLine += L" " + Quoted(argument);
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    HANDLE output = INVALID_HANDLE_VALUE;
    if (!outputFile.empty()) {
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        output = CreateFileW(Widen(outputFile).c_str(), GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        startup.hStdOutput = output;
        startup.hStdError = output;
    }
    PROCESS_INFORMATION info{};
    if (CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr,
                       output != INVALID_HANDLE_VALUE, 0, nullptr, nullptr, &startup, &info)) {
        CloseHandle(info.hThread);
        FProcess = info.hProcess;
        FId = info.dwProcessId;
    }
    if (output != INVALID_HANDLE_VALUE) {
        CloseHandle(output);
    }
}

TChild::~TChild() {
    Kill();
    if (FProcess != nullptr) {
        CloseHandle(FProcess);
    }
}

bool TChild::Running() const {
    return FProcess != nullptr && WaitForSingleObject(FProcess, 0) == WAIT_TIMEOUT;
}

int TChild::Wait(unsigned milliseconds) {
    if (FProcess == nullptr || WaitForSingleObject(FProcess, milliseconds) != WAIT_OBJECT_0) {
        return -1;
    }
    DWORD code = 0;
    GetExitCodeProcess(FProcess, &code);
    return static_cast<int>(code);
}

void TChild::Kill() {
    if (Running()) {
        TerminateProcess(FProcess, 1);
        WaitForSingleObject(FProcess, 5000);
    }
}

} // namespace wintest
