// Work on a database done through the database server.
#include "app/ServerDatabase.h"

#include <ibase.h>

#include <exception>
#include <functional>

#include "app/Commands.h"
#include "client/IB_Intf.h"
#include "client/ParamBlock.h"
#include "client/SuiteAccount.h"
#include "client/fib.h"

namespace app {

namespace {

// Raises the error of the last failed call of this thread.
[[noreturn]] void RaiseLast(fib::IIBClientLibrary& library) {
    fib::RaiseStatusError(library, nullptr);
}

// An attachment to a database of the server with the commands' account;
// detached quietly when it goes.
class TServerAttachment {
public:
    TServerAttachment(const std::string& serverName, const std::string& path)
        : FLibrary(fib::AcquireClientLibrary(fib::DefaultLibraryName)) {
        std::string dpb;
        fib::TBlockWriter writer(dpb);
        writer.Byte(isc_dpb_version1);
        if (!writer.Text8(isc_dpb_user_name, fib::SuiteUserName) ||
            !writer.Text8(isc_dpb_password, fib::SuitePassword)) {
            throw rtl::Exception("account does not fit the block");
        }
        writer.Byte(isc_dpb_connect_timeout).Byte(4).Number32(ServiceConnectTimeoutSeconds);
        const std::string name = serverName + ":" + path;
        if (name.size() > 32767) {
            throw rtl::Exception("path too long");
        }
        if (FLibrary->isc_attach_database(fib::ThreadStatusVector(),
                                          static_cast<short>(name.size()), name.c_str(), &FHandle,
                                          static_cast<short>(dpb.size()), dpb.data()) > 0) {
            RaiseLast(*FLibrary);
        }
    }
    ~TServerAttachment() {
        if (FHandle != 0) {
            ISC_STATUS quiet[ISC_STATUS_LENGTH] = {};
            FLibrary->isc_detach_database(quiet, &FHandle);
        }
    }
    TServerAttachment(const TServerAttachment&) = delete;
    TServerAttachment& operator=(const TServerAttachment&) = delete;

    fib::IIBClientLibrary& Library() { return *FLibrary; }
    isc_db_handle* Handle() { return &FHandle; }

    // Runs one statement in a transaction of its own and commits it.
    void Execute(const std::string& statement) {
        ISC_STATUS* status = fib::ThreadStatusVector();
        isc_tr_handle transaction = 0;
        // The client library's transaction element: a database, its
        // parameter block (none: the defaults).
        struct {
            isc_db_handle* Database;
            int TpbLength;
            const char* Tpb;
        } teb{&FHandle, 0, nullptr};
        if (FLibrary->isc_start_multiple(status, &transaction, 1, &teb) > 0) {
            RaiseLast(*FLibrary);
        }
        if (FLibrary->isc_dsql_execute_immediate(status, &FHandle, &transaction,
                                                 static_cast<unsigned short>(statement.size()),
                                                 statement.c_str(), SQL_DIALECT_V6, nullptr) > 0) {
            try {
                RaiseLast(*FLibrary);
            } catch (...) {
                ISC_STATUS quiet[ISC_STATUS_LENGTH] = {};
                FLibrary->isc_rollback_transaction(quiet, &transaction);
                throw;
            }
        }
        if (FLibrary->isc_commit_transaction(status, &transaction) > 0) {
            RaiseLast(*FLibrary);
        }
    }

private:
    fib::IIBClientLibraryPtr FLibrary;
    isc_db_handle FHandle = 0;
};

// Runs `work`; false and the error's text in `reason` when it raised.
bool Attempt(std::string& reason, const std::function<void()>& work) {
    reason.clear();
    try {
        work();
        return true;
    } catch (const std::exception& error) {
        reason = error.what();
    } catch (...) {
        reason = "unknown error";
    }
    return false;
}

} // namespace

bool DropDatabaseThroughServer(const std::string& serverName, const std::string& path,
                               std::string& reason) {
    return Attempt(reason, [&] {
        TServerAttachment attachment(serverName, path);
        if (attachment.Library().isc_drop_database(fib::ThreadStatusVector(), attachment.Handle()) >
            0) {
            // The attachment stays after a refused drop; it is let go with
            // the object.
            RaiseLast(attachment.Library());
        }
    });
}

bool EndServiceAttachments(const std::string& serverName, const std::string& path,
                           const std::vector<std::uint16_t>& ports, std::string& reason) {
    if (ports.empty()) {
        reason = "no connection to look for";
        return false;
    }
    // The server shows a service's attachment with the service connection's
    // address ("host/port"), without a process id; the monitoring tables of
    // an attachment show the attachments of its own database only.
    std::string addresses;
    for (const std::uint16_t port : ports) {
        addresses += (addresses.empty() ? "" : " OR ") +
                     std::string("MON$REMOTE_ADDRESS LIKE '%/") + std::to_string(port) + "'";
    }
    return Attempt(reason, [&] {
        TServerAttachment attachment(serverName, path);
        attachment.Execute("DELETE FROM MON$ATTACHMENTS WHERE MON$SYSTEM_FLAG = 0"
                           " AND MON$ATTACHMENT_ID <> CURRENT_CONNECTION"
                           " AND MON$REMOTE_PID IS NULL AND (" +
                           addresses + ")");
    });
}

} // namespace app
