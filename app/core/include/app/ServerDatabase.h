// Removing a database file through the database server: the server's own
// user made it, and this program may not be able to see or delete it.
#pragma once

#include <string>

namespace app {

// Attaches to `path` on the server at `serverName` with the commands'
// account and drops the database. False when that failed; `reason` then
// holds the server's or the client library's text.
[[nodiscard]] bool DropDatabaseThroughServer(const std::string& serverName, const std::string& path,
                                             std::string& reason);

} // namespace app
