// What the benchmarks share: the server they talk to, starting programs with
// their output thrown away, the generated database, gbak's command lines and
// the timing helpers.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace bench {

// The server and the login the benchmarks use.
struct TServer {
    std::string Host;
    std::string User;
    std::string Password;

    // The service manager's name for `-se` and fbsvcmgr.
    std::string ServiceManager() const { return Host + ":service_mgr"; }
};

enum class TStderr { Keep, Discard };

// Runs a program with its input from /dev/null and its output thrown away
// (and its error output too, with TStderr::Discard); returns its exit code,
// -1 when it cannot be started or does not exit normally.
int Run(const std::vector<std::string>& args, TStderr errors);

// Creates the benchmark database `db` on the server with isql-fb: a small
// customer table, an order table with `rows` rows and an index, and `tables`
// small tables with an index each (a verbose backup prints about 21 lines
// per such table). The scripts are written next to `db`. Forced writes are
// off while it is filled and on again at the end, as in a real database.
// False (with the reason on stderr) when a step failed.
bool CreateDatabase(const TServer& server, const std::string& db, int rows, int tables);

// gbak's backup of `db` to `file` through the service manager, without
// garbage collection and in the non-transportable format.
std::vector<std::string> GbakBackupArgs(const TServer& server, const std::string& db,
                                        const std::string& file, bool verbose);

// gbak's verbose restore of `file` over `db` through the service manager
// (page size 4096, 3000 buffers, all space used); `create` adds -c.
std::vector<std::string> GbakRestoreArgs(const TServer& server, const std::string& file,
                                         const std::string& db, bool create);

// fbsvcmgr's verbose backup and restore with the same options as gbak's
// above.
std::vector<std::string> FbsvcmgrBackupArgs(const TServer& server, const std::string& db,
                                            const std::string& file);
std::vector<std::string> FbsvcmgrRestoreArgs(const TServer& server, const std::string& file,
                                             const std::string& db);

// The server's own record of when the transactions on one database began
// and ended: a trace session (fbtracemgr) on the server, filtered to the
// database at the path `database` (as the server names it), its log kept in
// `folder`.
class TTransactionTrace {
public:
    // One transaction, begin and end in seconds of the system clock.
    struct TSpan {
        double Start = 0;
        double End = 0;
    };

    TTransactionTrace(const TServer& server, const std::string& database,
                      const std::string& folder);
    ~TTransactionTrace();
    TTransactionTrace(const TTransactionTrace&) = delete;
    TTransactionTrace& operator=(const TTransactionTrace&) = delete;

    // False when the session could not be started.
    bool Started() const { return FSession > 0; }
    // Ends the session; the transactions that ended while it ran.
    std::vector<TSpan> Stop();

private:
    TServer FServer;
    std::string FLog;
    int FSession = 0;
    int FPid = 0;
};

// Now, in seconds of the system clock (as TTransactionTrace's spans).
double Now();
// The processor time this process has used so far (all its threads, user
// and system), in seconds.
double ProcessorSeconds();

// This process's resident memory now and at its peak, in KiB (0 when
// unknown), and starting the peak afresh from now.
long ResidentKiB();
long PeakResidentKiB();
void ResetPeakResident();

// How long `work` takes, in seconds.
double Seconds(const std::function<void()>& work);

// The median; 0 for no values.
double Median(std::vector<double> v);

} // namespace bench
