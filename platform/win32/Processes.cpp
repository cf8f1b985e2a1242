// The process list from the Toolhelp snapshot, ending a process with
// TerminateProcess, and the running program's own file. The snapshot
// functions are looked up by name in kernel32.dll on first use; without them
// no list can be taken.
#include "platform/Processes.h"

#include <windows.h>

#include <tlhelp32.h>

#include "platform/win32/Text.h"

namespace platform {

namespace {

using CreateSnapshotFn = HANDLE(WINAPI*)(DWORD, DWORD);
using ProcessWalkFn = BOOL(WINAPI*)(HANDLE, PROCESSENTRY32W*);

struct SnapshotFunctions {
    CreateSnapshotFn Create = nullptr;
    ProcessWalkFn First = nullptr;
    ProcessWalkFn Next = nullptr;
};

template <typename Fn> Fn Lookup(HMODULE module, const char* name) {
    FARPROC address = GetProcAddress(module, name);
    Fn function = nullptr;
    static_assert(sizeof function == sizeof address);
    __builtin_memcpy(&function, &address, sizeof function);
    return function;
}

const SnapshotFunctions& Snapshot() {
    static const SnapshotFunctions functions = [] {
        SnapshotFunctions f;
        if (HMODULE kernel = GetModuleHandleW(L"kernel32.dll")) {
            f.Create = Lookup<CreateSnapshotFn>(kernel, "CreateToolhelp32Snapshot");
            f.First = Lookup<ProcessWalkFn>(kernel, "Process32FirstW");
            f.Next = Lookup<ProcessWalkFn>(kernel, "Process32NextW");
        }
        return f;
    }();
    return functions;
}

} // namespace

bool ListProcesses(std::vector<ProcessEntry>& entries) {
    entries.clear();
    const SnapshotFunctions& f = Snapshot();
    if (f.Create == nullptr || f.First == nullptr || f.Next == nullptr) {
        return false;
    }
    const HANDLE snapshot = f.Create(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return false;
    }
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = f.First(snapshot, &entry); more; more = f.Next(snapshot, &entry)) {
        entries.push_back({entry.th32ProcessID, win32::Narrow(entry.szExeFile)});
        entry.dwSize = sizeof entry;
    }
    CloseHandle(snapshot);
    return true;
}

bool KillProcess(std::uint32_t processId) {
    const HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, processId);
    if (process == nullptr) {
        return false;
    }
    const bool ended = TerminateProcess(process, 0) != 0;
    CloseHandle(process);
    return ended;
}

std::string ExecutableFile() {
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) {
            return std::string();
        }
        if (length < buffer.size()) {
            buffer.resize(length);
            return win32::Narrow(buffer);
        }
        buffer.resize(buffer.size() * 2);
    }
}

} // namespace platform
