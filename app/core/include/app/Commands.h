// Names and texts the window's three commands work out: the backup file's
// time stamp, joining a folder and a file name, the restore target, the aside
// name of the database file, and how a finished restore shows in its output.
#pragma once

#include <string>
#include <vector>

#include "app/Widgets.h"
#include "client/SuiteAccount.h"

namespace app {

// The account the commands use on the service manager.
inline const std::string ServiceUserLine = std::string("user_name=") + fib::SuiteUserName;
inline const std::string ServicePasswordLine = std::string("password=") + fib::SuitePassword;
// The server the make-server command restores on.
inline constexpr const char* LocalServer = "127.0.0.1";

// "yymmdd_hhmm" of a local date and time.
std::string BackupTimeStamp(const TDateTime& now);

// "SLV_Backup_" + yymmdd_hhmm + ".fbk".
std::string BackupFileName(const TDateTime& now);

// The folder and the file name joined by exactly one "/": trailing "/" of
// the folder are not doubled. An empty folder leaves the bare file name.
std::string JoinFolder(const std::string& folder, const std::string& fileName);

// The restore target beside the database file: its folder part (up to and
// including the last "/"), its file-name part less the last four bytes, then
// "복원.fdb". /db/SOLVANE.FDB gives /db/SOLVANE복원.fdb.
std::string RestoreTargetPath(const std::string& databasePath);

// Where the make-server command moves the database file aside: the path less
// its last four bytes, then "~.fdb". /db/SOLVANE.FDB gives /db/SOLVANE~.fdb.
std::string AsideDatabasePath(const std::string& databasePath);

// The line a verbose restore writes when it has closed the new database: its
// output is complete only when such a line came. A restore from a cut backup
// may end its output without any error, just without this line.
bool IsRestoreClosingLine(const std::string& line);

} // namespace app
