// The server's databases: which of them it has in use, as its service
// manager reports them, and work on one done through the server (whose own user
// made the file, so that this program may not be able to see or delete it).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "rtl/Rtl.h"
#include "services/IB_Services.h"

namespace fib {

// What a server reported about its databases in use.
struct TServerDatabases {
    int32_t Attachments = 0;
    int32_t Databases = 0;
    std::vector<std::string> Names;
};

// Reads the reply to the server-databases query: the item block (50), then
// the number of attachments (5) and of databases (6) as 32-bit numbers, a
// name item (106, 16-bit length, bytes) per database, its end flag (127),
// and the reply's end (1). Any other byte, a number or a name running past
// the reply, or a truncated reply: false.
bool ParseServerDatabases(const char* reply, size_t replySize, TServerDatabases& result);

// The service component that asks the attached server which databases it
// has in use.
class TpFIBServerDatabasesService : public TpFIBCustomService {
public:
    explicit TpFIBServerDatabasesService(rtl::TComponent* owner = nullptr);

    // The server's answer. Raises the server's error, or the client error
    // ceUnexpectedOutput when the answer cannot be read.
    TServerDatabases Fetch();
};

// Attaches to the database `path` on the server `serverName` (over TCP) with
// the database parameters of `params` (name=value lines: user_name,
// password, connect_timeout, ...) and drops the database. Raises the
// server's or the client library's error; an attachment whose drop the
// server refused is let go first.
void DropDatabase(const std::string& serverName, const std::string& path, rtl::TStringList& params);

// Attaches as DropDatabase does and runs the statement `statement` in a
// transaction of its own, committed when the statement succeeded and rolled
// back when it failed. Raises the server's or the client library's error.
void ExecuteStatement(const std::string& serverName, const std::string& path,
                      rtl::TStringList& params, const std::string& statement);

} // namespace fib
