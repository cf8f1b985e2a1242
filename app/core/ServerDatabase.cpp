// Removing a database file through the database server.
#include "app/ServerDatabase.h"

#include <exception>

#include "app/Commands.h"
#include "services/ServerDatabases.h"

namespace app {

bool DropDatabaseThroughServer(const std::string& serverName, const std::string& path,
                               std::string& reason) {
    reason.clear();
    try {
        rtl::TStringList params;
        AddServiceAccount(params);
        fib::DropDatabase(serverName, path, params);
        return true;
    } catch (const std::exception& error) {
        reason = error.what();
    } catch (...) {
        reason = "unknown error";
    }
    return false;
}

} // namespace app
