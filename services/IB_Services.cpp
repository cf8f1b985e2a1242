// Service component base: connection properties, the attach parameter block,
// the login step, attach/detach and the query primitive.
#include "services/IB_Services.h"

#include <algorithm>
#include <utility>

#include "client/FIBSQLMonitor.h"
#include "client/ParamBlock.h"
#include "client/fib.h"

namespace fib {

const std::array<TServiceParamName, ServiceParamNameCount> ServiceParamNames = {{
    {"user_name", isc_spb_user_name},                         // 1: 28
    {"sys_user_name", isc_spb_sys_user_name},                 // 2: 19
    {"sys_user_name_enc", isc_spb_sys_user_name_enc},         // 3: 31
    {"password", isc_spb_password},                           // 4: 29
    {"password_enc", isc_spb_password_enc},                   // 5: 30
    {"command_line", isc_spb_command_line},                   // 6: 105
    {"db_name", isc_spb_dbname},                              // 7: 106
    {"verbose", isc_spb_verbose},                             // 8: 107
    {"options", isc_spb_options},                             // 9: 108
    {"connect_timeout", isc_spb_connect_timeout},             // 10: 57
    {"dummy_packet_interval", isc_spb_dummy_packet_interval}, // 11: 58
    {"sql_role_name", isc_spb_sql_role_name},                 // 12: 60
    {"instance_name", 75},                                    // 13
}};

namespace {

constexpr int PosUserName = 1;
constexpr int PosPassword = 4;
constexpr int PosCommandLine = 6;
constexpr int PosConnectTimeout = 10;
constexpr int PosDummyPacketInterval = 11;
constexpr int PosSqlRoleName = 12;

void Trace(void (TFIBSQLMonitorHook::*op)(const rtl::TComponent*), const rtl::TComponent* who) {
    if (TFIBSQLMonitorHook* hook = MonitorHook()) {
        (hook->*op)(who);
    }
}

} // namespace

uint32_t BackupOptionsWord(TBackupOptions options) {
    // The members are in the order of their bits 0x01 .. 0x40.
    return options.Bits() & 0x7Fu;
}

uint32_t RestoreOptionsWord(TRestoreOptions options) {
    static constexpr std::array<uint32_t, 11> Bits = {isc_spb_res_deactivate_idx,
                                                      isc_spb_res_no_shadow,
                                                      isc_spb_res_no_validity,
                                                      isc_spb_res_one_at_a_time,
                                                      isc_spb_res_replace,
                                                      isc_spb_res_create,
                                                      isc_spb_res_use_all_space,
                                                      0x8000,
                                                      isc_spb_res_metadata_only,
                                                      0,
                                                      0};
    uint32_t word = 0;
    for (size_t i = 0; i < Bits.size(); ++i) {
        if (options.Contains(static_cast<TRestoreOption>(i))) {
            word |= Bits[i];
        }
    }
    return word;
}

int ServiceParamPosition(const std::string& name) {
    std::string key = rtl::LowerCaseAscii(name);
    static const std::string Prefix = "isc_spb_";
    if (key.compare(0, Prefix.size(), Prefix) == 0) {
        key.erase(0, Prefix.size());
    }
    for (int i = 0; i < ServiceParamNameCount; ++i) {
        if (key == ServiceParamNames[static_cast<size_t>(i)].Name) {
            return i + 1;
        }
    }
    return 0;
}

std::string BuildServiceAttachBlock(const rtl::TStringList& params) {
    std::string block;
    TBlockWriter writer(block);
    writer.Byte(isc_spb_version).Byte(isc_spb_current_version);
    for (const std::string& line : params.Lines()) {
        const size_t eq = line.find('=');
        const std::string name = eq == std::string::npos ? std::string() : line.substr(0, eq);
        if (rtl::Trim(name).empty()) {
            continue;
        }
        const std::string value = line.substr(eq + 1);
        const int pos = ServiceParamPosition(name);
        if (pos == 0) {
            RaiseClientError(ceSPBConstantUnknown, {name});
        }
        const TServiceParamName& entry = ServiceParamNames[static_cast<size_t>(pos - 1)];
        switch (pos) {
        case PosUserName:
        case PosPassword:
        case PosCommandLine:
        case PosSqlRoleName:
            // The length travels in one byte.
            if (!writer.Text8(entry.Code, value)) {
                RaiseClientErrorFmt("Value of service parameter %s is longer than 255 bytes",
                                    {std::string(entry.Name)});
            }
            break;
        case PosConnectTimeout:
        case PosDummyPacketInterval: {
            const uint32_t v = static_cast<uint32_t>(rtl::StrToInt(value));
            writer.Byte(entry.Code).Byte(4).Number32(v);
            break;
        }
        default:
            RaiseClientError(ceSPBConstantNotSupported, {std::string(entry.Name)});
        }
    }
    if (!writer.Fits()) {
        RaiseClientErrorFmt("Service parameter block is longer than 65535 bytes");
    }
    return block;
}

TLoginDialogProc& LoginDialogHook() {
    static TLoginDialogProc hook;
    return hook;
}

// --- TpFIBCustomService ---------------------------------------------------

TpFIBCustomService::TpFIBCustomService(rtl::TComponent* owner)
    : rtl::TComponent(owner), FLibraryName(DefaultLibraryName) {
    FParams.OnChanging = [this] { ParamsChanging(); };
    FParams.OnChange = [this] { ParamsChanged(); };
}

TpFIBCustomService::~TpFIBCustomService() {
    if (FClientLibrary && FServiceHandle != 0) {
        try {
            Detach();
        } catch (...) {
            // Nothing can report a failed detach from here; the handle is
            // already forgotten.
        }
    }
    FParams.OnChanging = nullptr;
    FParams.OnChange = nullptr;
}

void TpFIBCustomService::ParamsChanging() {
    if (FServiceHandle != 0) {
        RaiseClientError(ceServiceAttached);
    }
}

void TpFIBCustomService::SetActive(bool value) {
    if (Loading()) {
        FPendingActive = value;
        return;
    }
    if (value != Active()) {
        if (value) {
            Attach();
        } else {
            Detach();
        }
    }
}

void TpFIBCustomService::SetServerName(const std::string& value) {
    if (value == FServerName) {
        return;
    }
    EnsureDetached();
    FServerName = value;
    if (FProtocol == TProtocol::Local && !FServerName.empty()) {
        FProtocol = TProtocol::TCP;
    } else if (FProtocol != TProtocol::Local && FServerName.empty()) {
        FProtocol = TProtocol::Local;
    }
}

void TpFIBCustomService::SetProtocol(TProtocol value) {
    if (value == FProtocol) {
        return;
    }
    EnsureDetached();
    FProtocol = value;
    if (FProtocol == TProtocol::Local) {
        FServerName.clear();
    }
}

void TpFIBCustomService::SetLibraryName(const std::string& value) {
    EnsureDetached();
    if (value != FLibraryName) {
        FLibraryName = value;
        FClientLibrary.reset();
    }
}

void TpFIBCustomService::SetParams(const rtl::TStringList& value) {
    FParams.Assign(value);
}

std::string TpFIBCustomService::ConnectString() const {
    switch (FProtocol) {
    case TProtocol::TCP:
        return FServerName + ":service_mgr";
    case TProtocol::SPX:
        return FServerName + "@service_mgr";
    case TProtocol::NamedPipe:
        return "\\\\" + FServerName + "\\service_mgr";
    case TProtocol::Local:
        break;
    }
    return "service_mgr";
}

void TpFIBCustomService::Attach() {
    EnsureDetached();
    if (FServerName.empty() && FProtocol != TProtocol::Local) {
        RaiseClientError(ceServerNameMissing);
    }
    if (FLoginPrompt && !RequestLogin()) {
        RaiseClientError(ceOperationCancelled);
    }
    if (FParamsDirty) {
        FAttachBlock = BuildServiceAttachBlock(FParams);
        FParamsDirty = false;
    }
    const std::string connect = ConnectString();
    if (connect.size() > MaxBlockLength) {
        RaiseClientErrorFmt("Service name is longer than 65535 bytes");
    }
    EnsureLibrary();
    if (FClientLibrary->isc_service_attach(
            ThreadStatusVector(), static_cast<unsigned short>(connect.size()), connect.data(),
            &FServiceHandle, static_cast<unsigned short>(FAttachBlock.size()),
            FAttachBlock.data()) > 0) {
        FServiceHandle = 0;
        RaiseStatusError(*FClientLibrary, this);
    }
    if (OnAttach) {
        OnAttach(this);
    }
    Trace(&TFIBSQLMonitorHook::TraceServiceAttach, this);
}

void TpFIBCustomService::Detach() {
    EnsureAttached();
    EnsureLibrary();
    const ISC_STATUS result =
        FClientLibrary->isc_service_detach(ThreadStatusVector(), &FServiceHandle);
    FServiceHandle = 0;
    if (result > 0) {
        RaiseStatusError(*FClientLibrary, this);
    }
    Trace(&TFIBSQLMonitorHook::TraceServiceDetach, this);
}

int TpFIBCustomService::FindParamLine(const std::string& name) const {
    for (int i = 0; i < FParams.Count(); ++i) {
        const size_t at = FParams[i].find(name);
        if (at == 0 || at == 8) {
            return i;
        }
    }
    return -1;
}

bool TpFIBCustomService::RequestLogin() {
    if (OnLogin) {
        rtl::TStringList loginParams(FParams);
        OnLogin(this, loginParams);
        FParams.Assign(loginParams);
        return true;
    }
    const int userIndex = FindParamLine("user_name");
    int passwordIndex = FindParamLine("password");
    const int roleIndex = FindParamLine("sql_role_name");
    std::string userName = userIndex >= 0 ? FParams.ValueFromIndex(userIndex) : std::string();
    std::string password =
        passwordIndex >= 0 ? FParams.ValueFromIndex(passwordIndex) : std::string();
    std::string role = roleIndex >= 0 ? FParams.ValueFromIndex(roleIndex) : std::string();

    const TLoginDialogProc& dialog = LoginDialogHook();
    if (!dialog) {
        return false;
    }
    if (!dialog(FServerName, userName, password, role)) {
        return false;
    }
    passwordIndex = FindParamLine("password");
    const auto put = [this](int index, const std::string& line) {
        if (index >= 0) {
            FParams.Set(index, line);
        } else {
            FParams.Add(line);
        }
    };
    put(userIndex, "user_name=" + userName);
    put(passwordIndex, "password=" + password);
    put(roleIndex, "sql_role_name=" + role);
    return true;
}

void TpFIBCustomService::Loaded() {
    rtl::TComponent::Loaded();
    if (FPendingActive && !Active()) {
        try {
            Attach();
        } catch (...) {
            if (!Designing()) {
                throw;
            }
        }
    }
}

void TpFIBCustomService::EnsureAttached() {
    if (FPendingActive && !Active()) {
        Loaded();
    }
    if (FServiceHandle == 0) {
        RaiseClientError(ceServiceNotAttached);
    }
}

void TpFIBCustomService::EnsureDetached() const {
    if (FServiceHandle != 0) {
        RaiseClientError(ceServiceAttached);
    }
}

void TpFIBCustomService::EnsureLibrary() {
    if (!FClientLibrary) {
        FClientLibrary = AcquireClientLibrary(FLibraryName);
    }
}

size_t TpFIBCustomService::ReplyLength() const noexcept {
    // The reply length travels as an unsigned 16-bit number. The buffer holds
    // at least one byte so the client library never gets a null address.
    if (FReplyBuffer.empty()) {
        return 0;
    }
    return std::min<size_t>(static_cast<size_t>(std::max(FBufferSize, 0)), MaxBlockLength);
}

void TpFIBCustomService::AllocateReplyBuffer() {
    FReplyBuffer.assign(static_cast<size_t>(std::max(FBufferSize, 1)), '\0');
}

void TpFIBCustomService::SetBufferSizeValue(int32_t value) {
    if (value == FBufferSize) {
        return;
    }
    FBufferSize = value;
    if (!FReplyBuffer.empty()) {
        AllocateReplyBuffer();
    }
}

void TpFIBCustomService::QueryService() {
    if (FReplyBuffer.empty() && !FQueryItems.empty()) {
        AllocateReplyBuffer();
    }
    Query(std::string(), ReplyBuffer(), ReplyLength());
}

void TpFIBCustomService::QueryService(const std::string& sendItems, std::string& reply) {
    Query(sendItems, reply.data(), std::min(reply.size(), MaxBlockLength));
}

void TpFIBCustomService::Query(const std::string& sendItems, char* reply, size_t replyLength) {
    if (FQueryItems.empty()) {
        RaiseClientError(ceQueryParamsError);
    }
    if (FQueryItems.size() > MaxBlockLength || sendItems.size() > MaxBlockLength) {
        FQueryItems.clear();
        RaiseClientErrorFmt("Query parameter block is longer than 65535 bytes");
    }
    // The request block is handed over as a copy; QueryItems is empty again
    // whatever the call does.
    const std::string queryBlock = std::exchange(FQueryItems, std::string());
    EnsureLibrary();
    if (FClientLibrary->isc_service_query(ThreadStatusVector(), &FServiceHandle, nullptr,
                                          static_cast<unsigned short>(sendItems.size()),
                                          sendItems.empty() ? nullptr : sendItems.data(),
                                          static_cast<unsigned short>(queryBlock.size()),
                                          queryBlock.data(),
                                          static_cast<unsigned short>(replyLength), reply) > 0) {
        RaiseAndDrop();
    }
    Trace(&TFIBSQLMonitorHook::TraceServiceQuery, this);
}

int32_t TpFIBCustomService::ReadBufferInteger(int& offset) {
    uint32_t value = 0;
    if (offset < 0 || static_cast<size_t>(offset) > ReplyLength() ||
        !TBlockReader(ReplyBuffer() + offset, ReplyLength() - static_cast<size_t>(offset))
             .Number32(value)) {
        RaiseClientError(ceUnexpectedOutput);
    }
    offset += 4;
    return static_cast<int32_t>(value);
}

void TpFIBCustomService::RaiseAndDrop() {
    EFIBInterBaseError error = MakeStatusError(*FClientLibrary, this);
    // A failed start or query leaves the server's attachment (and its
    // connection) open; release it on a status vector of its own so the
    // error above stays what the caller sees.
    if (FServiceHandle != 0) {
        ISC_STATUS_ARRAY quiet = {};
        FClientLibrary->isc_service_detach(quiet, &FServiceHandle);
    }
    FServiceHandle = 0;
    throw error;
}

} // namespace fib
