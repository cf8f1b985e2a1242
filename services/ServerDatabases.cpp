// The server's databases in use, and work on a database done through the
// server: dropping it, running a statement in it.
#include "services/ServerDatabases.h"

#include <ibase.h>

#include <string_view>

#include "client/FIBParams.h"
#include "client/IB_Intf.h"
#include "client/ParamBlock.h"
#include "client/fib.h"

namespace fib {

namespace {

// Longest database name the attach call takes: its length travels as a
// signed 16-bit number.
constexpr size_t MaxDatabaseNameLength = 32767;

} // namespace

bool ParseServerDatabases(const char* reply, size_t replySize, TServerDatabases& result) {
    result = TServerDatabases();
    TBlockReader reader(reply, replySize);
    uint8_t item = 0;
    if (!reader.Byte(item) || item != isc_info_svc_svr_db_info) {
        return false;
    }
    for (;;) {
        if (!reader.Byte(item)) {
            return false;
        }
        switch (item) {
        case isc_spb_num_att:
        case isc_spb_num_db: {
            uint32_t value = 0;
            if (!reader.Number32(value)) {
                return false;
            }
            (item == isc_spb_num_att ? result.Attachments : result.Databases) =
                static_cast<int32_t>(value);
            break;
        }
        case isc_spb_dbname: {
            std::string_view name;
            if (!reader.Text16(name)) {
                return false;
            }
            result.Names.emplace_back(name);
            break;
        }
        case isc_info_flag_end:
            // After the block only the reply's end may follow.
            return reader.Byte(item) && item == isc_info_end;
        default: // isc_info_truncated, isc_info_end too early, or unknown
            return false;
        }
    }
}

TpFIBServerDatabasesService::TpFIBServerDatabasesService(rtl::TComponent* owner)
    : TpFIBCustomService(owner) {
    // The largest reply a query can take.
    SetBufferSizeValue(static_cast<int32_t>(MaxBlockLength));
}

TServerDatabases TpFIBServerDatabasesService::Fetch() {
    QueryItems().assign(1, static_cast<char>(isc_info_svc_svr_db_info));
    QueryService();
    TServerDatabases result;
    if (!ParseServerDatabases(ReplyBuffer(), ReplyLength(), result)) {
        RaiseClientError(ceUnexpectedOutput);
    }
    return result;
}

namespace {

// An attachment to a database of a server over TCP, let go quietly when it
// goes (a call that failed keeps its own status vector's error).
class TAttachment {
public:
    TAttachment(const std::string& serverName, const std::string& path, rtl::TStringList& params)
        : FLibrary(AcquireClientLibrary(DefaultLibraryName)) {
        const std::string name = serverName + ":" + path;
        if (name.size() > MaxDatabaseNameLength) {
            RaiseClientErrorFmt("Database name is longer than %d bytes",
                                {static_cast<long long>(MaxDatabaseNameLength)});
        }
        std::string dpb;
        uint16_t dpbLength = 0;
        BuildDatabaseParamBlock(params, dpb, dpbLength, true);
        if (FLibrary->isc_attach_database(ThreadStatusVector(), static_cast<short>(name.size()),
                                          name.c_str(), &FHandle, static_cast<short>(dpbLength),
                                          dpb.data()) > 0) {
            RaiseStatusError(*FLibrary, nullptr);
        }
    }
    ~TAttachment() {
        if (FHandle != 0) {
            ISC_STATUS_ARRAY quiet = {};
            FLibrary->isc_detach_database(quiet, &FHandle);
        }
    }
    TAttachment(const TAttachment&) = delete;
    TAttachment& operator=(const TAttachment&) = delete;

    IIBClientLibrary& Library() { return *FLibrary; }
    isc_db_handle* Handle() { return &FHandle; }

private:
    IIBClientLibraryPtr FLibrary;
    isc_db_handle FHandle = 0;
};

} // namespace

void DropDatabase(const std::string& serverName, const std::string& path,
                  rtl::TStringList& params) {
    TAttachment attachment(serverName, path, params);
    if (attachment.Library().isc_drop_database(ThreadStatusVector(), attachment.Handle()) > 0) {
        // The attachment stays after a refused drop; it is let go with the
        // object, on a status vector of its own, so the error stays the
        // drop's.
        RaiseStatusError(attachment.Library(), nullptr);
    }
}

void ExecuteStatement(const std::string& serverName, const std::string& path,
                      rtl::TStringList& params, const std::string& statement) {
    if (statement.size() > 65535) {
        RaiseClientErrorFmt("Statement is longer than %d bytes", {65535LL});
    }
    TAttachment attachment(serverName, path, params);
    IIBClientLibrary& library = attachment.Library();
    ISC_STATUS* status = ThreadStatusVector();
    isc_tr_handle transaction = 0;
    // The client library's transaction element: a database and its
    // parameter block (none: the defaults).
    struct {
        isc_db_handle* Database;
        int TpbLength;
        const char* Tpb;
    } teb{attachment.Handle(), 0, nullptr};
    if (library.isc_start_multiple(status, &transaction, 1, &teb) > 0) {
        RaiseStatusError(library, nullptr);
    }
    if (library.isc_dsql_execute_immediate(status, attachment.Handle(), &transaction,
                                           static_cast<unsigned short>(statement.size()),
                                           statement.c_str(), SQL_DIALECT_V6, nullptr) > 0) {
        EFIBInterBaseError error = MakeStatusError(library, nullptr);
        ISC_STATUS_ARRAY quiet = {};
        library.isc_rollback_transaction(quiet, &transaction);
        throw error;
    }
    if (library.isc_commit_transaction(status, &transaction) > 0) {
        RaiseStatusError(library, nullptr);
    }
}

} // namespace fib
