// Whether a database file is in use, on a system that lets a file be renamed
// or deleted while others hold it open.
//
// Two kinds of holder are looked for: any process holding the database file
// open (platform::ProcessesHoldingFile: the processes this one may look
// into), and the local database server, which holds a database open while it
// has attachments and whose files an ordinary user cannot see. The server is
// asked through its service manager which databases it has in use.
#pragma once

#include <optional>
#include <string>

#include "services/ServerDatabases.h"

namespace app {

enum class TServerAnswer {
    NotInUse,   // the server answered; the file is none of its databases
    InUse,      // the server has the file among its databases in use
    NoAnswer,   // no connection to the service manager could be made
    Unreadable, // the server was reached but its answer could not be read
};

// Asks the server's service manager (over TCP at `serverName`, with the
// commands' account) whether one of its databases in use is `path` (by name,
// or as the same file under another name) or was opened under `formerName`.
TServerAnswer AskServerDatabaseInUse(const std::string& serverName, const std::string& path,
                                     const std::string& formerName = {});

// The server's answer alone: its list of databases in use, or nullopt when it
// could not be asked; an unreadable answer raises.
std::optional<fib::TServerDatabases> QueryServerDatabases(const std::string& serverName);

// A database file counts as in use when any visible process holds it open or
// the local server reports it (or its former name) in use, or when the
// server was reached but its answer could not be read. A server that cannot
// be reached at all is no holder: it cannot have the file open, and a restore
// on it fails before anything is written.
bool DatabaseFileInUse(const std::string& path, const std::string& formerName = {});

// The same, telling which holder was found.
enum class TFileUse { Free, HeldByProcess, HeldByServer, ServerAnswerUnreadable };
TFileUse DatabaseFileUse(const std::string& path, const std::string& formerName = {});

} // namespace app
