// The process list from the Toolhelp snapshot, ending a process with
// TerminateProcess, the account a process runs as, the running program's
// own file, and whether anyone holds a file open. The snapshot functions are
// looked up by name in kernel32.dll on first use; without them no list can
// be taken.
#include "platform/Processes.h"

#include <windows.h>

#include <tlhelp32.h>

#include <vector>

#include "platform/Files.h"
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

TEndRight CanEndProcess(std::uint32_t processId) {
    if (processId == 0) {
        return TEndRight::Denied;
    }
    const HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, processId);
    if (process != nullptr) {
        CloseHandle(process);
        return TEndRight::Allowed;
    }
    // An id that names no process is an invalid parameter.
    return GetLastError() == ERROR_INVALID_PARAMETER ? TEndRight::Gone : TEndRight::Denied;
}

bool ProcessRunning(std::uint32_t processId) {
    if (processId == 0) {
        return false;
    }
    const HANDLE process =
        OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
    if (process == nullptr) {
        // Another user's process that this one may not look at still runs.
        return GetLastError() == ERROR_ACCESS_DENIED;
    }
    // An ended process is signalled, though its id lives on while handles
    // to it are open.
    const bool running = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    CloseHandle(process);
    return running;
}

namespace {

// The token's information of one class, in a buffer of the size it needs.
std::vector<unsigned char> TokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS kind) {
    DWORD size = 0;
    GetTokenInformation(token, kind, nullptr, 0, &size);
    std::vector<unsigned char> buffer(size);
    if (size == 0 || !GetTokenInformation(token, kind, buffer.data(), size, &size)) {
        buffer.clear();
    }
    return buffer;
}

// The last part of a user's or group's id (its relative id), 0 when none.
std::uint32_t RelativeId(PSID sid) {
    if (sid == nullptr || !IsValidSid(sid) || *GetSidSubAuthorityCount(sid) == 0) {
        return 0;
    }
    return *GetSidSubAuthority(sid, *GetSidSubAuthorityCount(sid) - 1u);
}

bool IsWellKnown(PSID sid, WELL_KNOWN_SID_TYPE type) {
    return sid != nullptr && IsWellKnownSid(sid, type);
}

std::string AccountName(PSID sid) {
    wchar_t name[256] = {};
    wchar_t domain[256] = {};
    DWORD nameLength = 256;
    DWORD domainLength = 256;
    SID_NAME_USE use{};
    if (!LookupAccountSidW(nullptr, sid, name, &nameLength, domain, &domainLength, &use)) {
        return std::string();
    }
    const std::string user = win32::Narrow(name);
    return domainLength > 0 ? win32::Narrow(domain) + "\\" + user : user;
}

} // namespace

bool ProcessUser(std::uint32_t processId, TProcessUser& user) {
    // Windows accounts are security ids, not numbers: Uid is 0 for the
    // system's own account and for a member of the Administrators group (who
    // may write anywhere), else the relative id of the user's account; Gid
    // that of its primary group.
    user = TProcessUser();
    const HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
    if (process == nullptr) {
        return false;
    }
    HANDLE token = nullptr;
    const bool opened = OpenProcessToken(process, TOKEN_QUERY, &token) != 0;
    CloseHandle(process);
    if (!opened) {
        return false;
    }
    const std::vector<unsigned char> owner = TokenInformation(token, TokenUser);
    const std::vector<unsigned char> primary = TokenInformation(token, TokenPrimaryGroup);
    const std::vector<unsigned char> groups = TokenInformation(token, TokenGroups);
    CloseHandle(token);
    if (owner.empty()) {
        return false;
    }
    const PSID sid = reinterpret_cast<const TOKEN_USER*>(owner.data())->User.Sid;
    bool administrator = IsWellKnown(sid, WinLocalSystemSid);
    if (!groups.empty()) {
        const auto* list = reinterpret_cast<const TOKEN_GROUPS*>(groups.data());
        for (DWORD i = 0; i < list->GroupCount; ++i) {
            const SID_AND_ATTRIBUTES& group = list->Groups[i];
            if ((group.Attributes & SE_GROUP_ENABLED) != 0 &&
                (group.Attributes & SE_GROUP_USE_FOR_DENY_ONLY) == 0) {
                administrator =
                    administrator || IsWellKnown(group.Sid, WinBuiltinAdministratorsSid);
                user.Groups.push_back(RelativeId(group.Sid));
            }
        }
    }
    user.Uid = administrator ? 0 : RelativeId(sid);
    if (!administrator && user.Uid == 0) {
        user.Uid = 0xFFFFFFFFu; // never taken for an administrator
    }
    if (!primary.empty()) {
        user.Gid =
            RelativeId(reinterpret_cast<const TOKEN_PRIMARY_GROUP*>(primary.data())->PrimaryGroup);
    }
    user.Name = AccountName(sid);
    return true;
}

TAccess UserMayWriteFolder(const TProcessUser& user, const std::string& folder,
                           std::string& reason) {
    reason.clear();
    const TPathProbe probe = ProbePath(folder);
    if (probe.Kind != TPathKind::Folder) {
        reason = folder + ": " + (probe.Reason.empty() ? "not a folder" : probe.Reason);
        return TAccess::Unknown;
    }
    if (user.Uid == 0) {
        return TAccess::Allowed;
    }
    // Another account's rights follow from the folder's access list applied
    // to that account's token, which only the account's own processes hold:
    // the server finds out itself.
    reason = "the access list of " + folder + " is not judged for another account";
    return TAccess::Unknown;
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

std::vector<std::uint32_t> ProcessesHoldingFile(const std::string& path) {
    // Windows does not tell another process's open files, but it refuses a
    // file that anyone holds open to an opener that shares nothing. The
    // holder's id stays unknown (0).
    const HANDLE file = CreateFileW(win32::Widen(path).c_str(), GENERIC_READ, 0, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
        return {};
    }
    if (GetLastError() == ERROR_SHARING_VIOLATION) {
        return {0};
    }
    return {};
}

} // namespace platform
