// The server's databases in use and dropping a database through the server.
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

void DropDatabase(const std::string& serverName, const std::string& path,
                  rtl::TStringList& params) {
    const std::string name = serverName + ":" + path;
    if (name.size() > MaxDatabaseNameLength) {
        RaiseClientErrorFmt("Database name is longer than %d bytes",
                            {static_cast<long long>(MaxDatabaseNameLength)});
    }
    std::string dpb;
    uint16_t dpbLength = 0;
    BuildDatabaseParamBlock(params, dpb, dpbLength, true);
    IIBClientLibraryPtr library = AcquireClientLibrary(DefaultLibraryName);
    ISC_STATUS* status = ThreadStatusVector();
    isc_db_handle db = 0;
    if (library->isc_attach_database(status, static_cast<short>(name.size()), name.c_str(), &db,
                                     static_cast<short>(dpbLength), dpb.data()) > 0) {
        RaiseStatusError(*library, nullptr);
    }
    if (library->isc_drop_database(status, &db) > 0) {
        // The attachment stays after a refused drop: let it go on a status
        // vector of its own, so the error stays the drop's.
        EFIBInterBaseError error = MakeStatusError(*library, nullptr);
        ISC_STATUS_ARRAY quiet = {};
        library->isc_detach_database(quiet, &db);
        throw error;
    }
}

} // namespace fib
