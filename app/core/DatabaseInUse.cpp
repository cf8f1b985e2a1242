// Finding out whether a database file is held open: by a process this one can
// look into, or by the local database server.
#include "app/DatabaseInUse.h"

#include <ibase.h>
#if defined(_WIN32)
#include <windows.h>
#else
#include <dirent.h>
#include <sys/stat.h>
#endif

#include <exception>

#include "app/Commands.h"
#include "rtl/Rtl.h"
#include "services/IB_Services.h"
#if defined(_WIN32)
#include "platform/win32/Text.h"
#endif

namespace app {

namespace {

// The largest reply the query can take: the reply length travels in 16 bits.
constexpr int32_t ServerDatabasesBufferSize = 65535;

uint32_t ReadLittleEndian(const unsigned char* bytes, size_t count) {
    uint32_t value = 0;
    for (size_t i = count; i > 0; --i) {
        value = (value << 8) | bytes[i - 1];
    }
    return value;
}

// Which file a path names on its device; equal identities are one file
// under any of its names.
struct TFileIdentity {
    uint64_t Device = 0;
    uint64_t Index = 0;
    friend bool operator==(const TFileIdentity&, const TFileIdentity&) = default;
};

#if defined(_WIN32)
std::optional<TFileIdentity> FileIdentity(const std::string& path) {
    const HANDLE file = CreateFileW(platform::win32::Widen(path).c_str(), FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (path.empty() || file == INVALID_HANDLE_VALUE) {
        return std::nullopt;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    const bool known = GetFileInformationByHandle(file, &info) != 0;
    CloseHandle(file);
    if (!known) {
        return std::nullopt;
    }
    return TFileIdentity{info.dwVolumeSerialNumber,
                         (uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow};
}
#else
std::optional<TFileIdentity> FileIdentity(const std::string& path) {
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0) {
        return std::nullopt;
    }
    return TFileIdentity{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
}

bool IsNumber(const char* name) {
    if (*name == '\0') {
        return false;
    }
    for (; *name != '\0'; ++name) {
        if (*name < '0' || *name > '9') {
            return false;
        }
    }
    return true;
}
#endif

// The service component that asks the server which databases it has in use.
class TServerDatabasesQuery : public fib::TpFIBCustomService {
public:
    explicit TServerDatabasesQuery(const std::string& serverName) {
        SetLoginPrompt(false);
        SetProtocol(fib::TProtocol::TCP);
        SetServerName(serverName);
        Params().Add(ServiceUserLine);
        Params().Add(ServicePasswordLine);
        Params().Add(ServiceConnectTimeoutLine);
        SetBufferSizeValue(ServerDatabasesBufferSize);
    }

    // Raises when the server's answer cannot be read.
    TServerDatabases Ask() {
        QueryItems() = std::string(1, static_cast<char>(isc_info_svc_svr_db_info));
        QueryService();
        TServerDatabases result;
        if (!ParseServerDatabases(ReplyBuffer(), ReplyLength(), result)) {
            throw rtl::Exception("Unexpected Output buffer value");
        }
        return result;
    }
};

} // namespace

bool ParseServerDatabases(const char* reply, size_t replySize, TServerDatabases& result) {
    result = TServerDatabases();
    const auto* bytes = reinterpret_cast<const unsigned char*>(reply);
    if (bytes == nullptr || replySize < 1 || bytes[0] != isc_info_svc_svr_db_info) {
        return false;
    }
    size_t at = 1;
    bool blockEnded = false;
    while (!blockEnded) {
        if (at >= replySize) {
            return false;
        }
        const unsigned char item = bytes[at++];
        switch (item) {
        case isc_spb_num_att:
        case isc_spb_num_db: {
            if (replySize - at < 4) {
                return false;
            }
            const auto value = static_cast<int32_t>(ReadLittleEndian(bytes + at, 4));
            at += 4;
            (item == isc_spb_num_att ? result.Attachments : result.Databases) = value;
            break;
        }
        case isc_spb_dbname: {
            if (replySize - at < 2) {
                return false;
            }
            const size_t length = ReadLittleEndian(bytes + at, 2);
            at += 2;
            if (replySize - at < length) {
                return false;
            }
            result.Names.emplace_back(reply + at, length);
            at += length;
            break;
        }
        case isc_info_flag_end:
            blockEnded = true;
            break;
        default: // isc_info_truncated, isc_info_end too early, or unknown
            return false;
        }
    }
    // After the block only the reply's end may follow.
    return at < replySize && bytes[at] == isc_info_end;
}

#if defined(_WIN32)
std::vector<int> ProcessesHoldingFile(const std::string& path) {
    // Windows does not tell another process's open files, but it refuses a
    // file that anyone holds open to an opener that shares nothing. The
    // holder's id stays unknown (0).
    const HANDLE file = CreateFileW(platform::win32::Widen(path).c_str(), GENERIC_READ, 0, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
        return {};
    }
    return GetLastError() == ERROR_SHARING_VIOLATION ? std::vector<int>{0} : std::vector<int>{};
}
#else
std::vector<int> ProcessesHoldingFile(const std::string& path) {
    std::vector<int> holders;
    const std::optional<TFileIdentity> wanted = FileIdentity(path);
    if (!wanted) {
        return holders;
    }
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr) {
        return holders;
    }
    while (const dirent* process = ::readdir(proc)) {
        if (!IsNumber(process->d_name)) {
            continue;
        }
        const std::string fdFolder = std::string("/proc/") + process->d_name + "/fd";
        DIR* fds = ::opendir(fdFolder.c_str());
        if (fds == nullptr) {
            continue; // gone, or another user's process
        }
        while (const dirent* fd = ::readdir(fds)) {
            if (!IsNumber(fd->d_name)) {
                continue;
            }
            if (FileIdentity(fdFolder + "/" + fd->d_name) == wanted) {
                holders.push_back(std::stoi(process->d_name));
                break;
            }
        }
        ::closedir(fds);
    }
    ::closedir(proc);
    return holders;
}
#endif

std::optional<TServerDatabases> QueryServerDatabases(const std::string& serverName) {
    TServerDatabasesQuery query(serverName);
    try {
        query.Attach();
    } catch (const std::exception&) {
        return std::nullopt;
    }
    TServerDatabases answer = query.Ask();
    query.Detach();
    return answer;
}

TServerAnswer AskServerDatabaseInUse(const std::string& serverName, const std::string& path,
                                     const std::string& formerName) {
    std::optional<TServerDatabases> answer;
    try {
        answer = QueryServerDatabases(serverName);
    } catch (const std::exception&) {
        return TServerAnswer::Unreadable;
    }
    if (!answer) {
        return TServerAnswer::NoAnswer;
    }
    const std::optional<TFileIdentity> wanted = FileIdentity(path);
    for (const std::string& name : answer->Names) {
        if (name == path || (!formerName.empty() && name == formerName)) {
            return TServerAnswer::InUse;
        }
        if (wanted && FileIdentity(name) == wanted) {
            return TServerAnswer::InUse;
        }
    }
    return TServerAnswer::NotInUse;
}

TFileUse DatabaseFileUse(const std::string& path, const std::string& formerName) {
    if (!ProcessesHoldingFile(path).empty()) {
        return TFileUse::HeldByProcess;
    }
    switch (AskServerDatabaseInUse(LocalServer, path, formerName)) {
    case TServerAnswer::NotInUse:
    case TServerAnswer::NoAnswer:
        return TFileUse::Free;
    case TServerAnswer::InUse:
        return TFileUse::HeldByServer;
    case TServerAnswer::Unreadable:
        break;
    }
    return TFileUse::ServerAnswerUnreadable;
}

bool DatabaseFileInUse(const std::string& path, const std::string& formerName) {
    return DatabaseFileUse(path, formerName) != TFileUse::Free;
}

} // namespace app
