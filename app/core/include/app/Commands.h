// Names and texts the window's three commands work out: the backup file's
// time stamp, joining a folder and a file name, the restore target, the aside
// name of the database file, and how a finished restore shows in its output.
#pragma once

#include <string>
#include <vector>

#include "app/Widgets.h"
#include "client/SuiteAccount.h"
#include "rtl/Rtl.h"

namespace app {

// The account the commands use on the service manager and on databases.
inline const std::string ServiceUserLine = std::string("user_name=") + fib::SuiteUserName;
inline const std::string ServicePasswordLine = std::string("password=") + fib::SuitePassword;
// How long an attach waits for the server's first answer, in seconds: a
// server that takes the connection and never answers would otherwise keep
// the window waiting for minutes.
inline constexpr const char* ServiceConnectTimeoutLine = "connect_timeout=10";

// Adds the three lines above to the parameter lines of a service component or
// of a database attach.
void AddServiceAccount(rtl::TStringList& params);
// The server the make-server command restores on.
inline constexpr const char* LocalServer = "127.0.0.1";

// "yymmdd_hhmm" of a local date and time.
std::string BackupTimeStamp(const TDateTime& now);

// "SLV_Backup_" + yymmdd_hhmm + ".fbk".
std::string BackupFileName(const TDateTime& now);

// The folder and the file name joined by exactly one "/": trailing "/" of
// the folder are not doubled. An empty folder leaves the bare file name.
std::string JoinFolder(const std::string& folder, const std::string& fileName);

// The text less its last `count` characters. A UTF-8 sequence counts as one
// character and is never split; a byte that belongs to no valid sequence
// counts as one character of its own.
std::string DropLastChars(const std::string& text, size_t count);

// The restore target beside the database file: its folder part (up to and
// including the last "/"), its file-name part less the last four
// characters, then "복원.fdb". /db/SOLVANE.FDB gives /db/SOLVANE복원.fdb.
std::string RestoreTargetPath(const std::string& databasePath);

// Where the make-server command moves the database file aside: in the same
// folder, the file-name part less its last four characters, then "~.fdb".
// /db/SOLVANE.FDB gives /db/SOLVANE~.fdb.
std::string AsideDatabasePath(const std::string& databasePath);

// A name for work in progress beside `finalPath`, unique for this run: the
// final name, then "." + a token + ".part". No file-list mask of the window
// ("*.fbk;*.fdb") matches it, on POSIX or on Windows (whose masks also match
// longer extensions that start with the mask's).
std::string WorkInProgressPath(const std::string& finalPath);

// The host part of a server address as the window keeps it ("host",
// "host/port", "[v6]" or "[v6]/port").
std::string ServerHost(const std::string& serverAddress);

// The line a verbose restore writes when it has closed the new database: its
// output is complete only when such a line came. A restore from a cut backup
// may end its output without any error, just without this line.
bool IsRestoreClosingLine(const std::string& line);

// The line a verbose restore writes once it has created the new database
// file: from then on a failed restore leaves a partial file behind.
bool IsDatabaseCreatedLine(const std::string& line);

} // namespace app
