// Work on a database done through the database server: the server's own
// user made its files, and this program may not be able to see or change
// them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace app {

// Attaches to `path` on the server at `serverName` with the commands'
// account and drops the database. False when that failed; `reason` then
// holds the server's or the client library's text.
[[nodiscard]] bool DropDatabaseThroughServer(const std::string& serverName, const std::string& path,
                                             std::string& reason);

// Ends, through the server at `serverName`, the attachments to the database
// at `path` that the server made for a service action (a backup) asked for
// over one of this program's connections from `ports`: the server knows
// such an attachment by the address of the service connection and gives it
// no process of its own. The action then fails at once ("connection
// shutdown"). False when the server could not be asked; `reason` then holds
// its text. Nothing else is touched.
[[nodiscard]] bool EndServiceAttachments(const std::string& serverName, const std::string& path,
                                         const std::vector<std::uint16_t>& ports,
                                         std::string& reason);

} // namespace app
