// Work on a database done through the database server.
#include "app/ServerDatabase.h"

#include <exception>
#include <functional>

#include "app/Commands.h"
#include "services/ServerDatabases.h"

namespace app {

namespace {

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
        rtl::TStringList params;
        AddServiceAccount(params);
        fib::DropDatabase(serverName, path, params);
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
        rtl::TStringList params;
        AddServiceAccount(params);
        fib::ExecuteStatement(serverName, path, params,
                              "DELETE FROM MON$ATTACHMENTS WHERE MON$SYSTEM_FLAG = 0"
                              " AND MON$ATTACHMENT_ID <> CURRENT_CONNECTION"
                              " AND MON$REMOTE_PID IS NULL AND (" +
                                  addresses + ")");
    });
}

} // namespace app
