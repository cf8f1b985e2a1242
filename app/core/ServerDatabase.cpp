// Removing a database file through the database server.
#include "app/ServerDatabase.h"

#include <ibase.h>

#include <exception>

#include "app/Commands.h"
#include "client/IB_Intf.h"
#include "client/ParamBlock.h"
#include "client/SuiteAccount.h"
#include "client/fib.h"

namespace app {

bool DropDatabaseThroughServer(const std::string& serverName, const std::string& path,
                               std::string& reason) {
    reason.clear();
    try {
        fib::IIBClientLibraryPtr library = fib::AcquireClientLibrary(fib::DefaultLibraryName);
        std::string dpb;
        fib::TBlockWriter writer(dpb);
        writer.Byte(isc_dpb_version1);
        if (!writer.Text8(isc_dpb_user_name, fib::SuiteUserName) ||
            !writer.Text8(isc_dpb_password, fib::SuitePassword)) {
            reason = "account does not fit the block";
            return false;
        }
        writer.Byte(isc_dpb_connect_timeout).Byte(4).Number32(ServiceConnectTimeoutSeconds);
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
