// Removing a database file through the database server.
#include "app/ServerDatabase.h"

#include <ibase.h>

#include <cstring>
#include <exception>

#include "app/Commands.h"
#include "client/IB_Intf.h"
#include "client/fib.h"

namespace app {

namespace {

void AddText(std::string& block, char item, const std::string& value) {
    block += item;
    block += static_cast<char>(value.size());
    block += value;
}

std::string ValueOf(const char* line) {
    const char* eq = std::strchr(line, '=');
    return eq == nullptr ? std::string() : std::string(eq + 1);
}

} // namespace

bool DropDatabaseThroughServer(const std::string& serverName, const std::string& path,
                               std::string& reason) {
    reason.clear();
    try {
        fib::IIBClientLibraryPtr library = fib::AcquireClientLibrary(fib::DefaultLibraryName);
        std::string dpb(1, static_cast<char>(isc_dpb_version1));
        AddText(dpb, isc_dpb_user_name, ValueOf(ServiceUserLine));
        AddText(dpb, isc_dpb_password, ValueOf(ServicePasswordLine));
        dpb += static_cast<char>(isc_dpb_connect_timeout);
        dpb += static_cast<char>(4);
        const int32_t timeout = ServiceConnectTimeoutSeconds;
        for (int i = 0; i < 4; ++i) {
            dpb += static_cast<char>((timeout >> (8 * i)) & 0xFF);
        }
        const std::string name = serverName + ":" + path;
        if (name.size() > 32767) {
            reason = "path too long";
            return false;
        }
        ISC_STATUS* status = fib::ThreadStatusVector();
        isc_db_handle db = 0;
        if (library->isc_attach_database(status, static_cast<short>(name.size()), name.c_str(), &db,
                                         static_cast<short>(dpb.size()), dpb.data()) > 0) {
            fib::RaiseStatusError(*library, nullptr);
        }
        if (library->isc_drop_database(status, &db) > 0) {
            try {
                fib::RaiseStatusError(*library, nullptr);
            } catch (...) {
                // The attachment stays after a refused drop: let it go.
                ISC_STATUS quiet[ISC_STATUS_LENGTH] = {};
                library->isc_detach_database(quiet, &db);
                throw;
            }
        }
        return true;
    } catch (const std::exception& error) {
        reason = error.what();
    } catch (...) {
        reason = "unknown error";
    }
    return false;
}

} // namespace app
