#include "bench/BenchCommon.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>

extern char** environ;

namespace bench {

namespace {

// Starts a program with its input from /dev/null, its output into `output`
// (a file, made anew) and its error output kept or thrown away; its process
// id, 0 when it cannot be started.
pid_t Start(const std::vector<std::string>& args, const char* output, TStderr errors) {
    std::vector<char*> argv;
    for (const std::string& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, output, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (errors == TStderr::Discard) {
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    }
    pid_t pid = 0;
    const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        std::fprintf(stderr, "cannot start %s: %s\n", argv[0], std::strerror(rc));
        return 0;
    }
    return pid;
}

// Waits for a started program; its exit code, -1 when it did not exit
// normally.
int Wait(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

int Run(const std::vector<std::string>& args, TStderr errors) {
    const pid_t pid = Start(args, "/dev/null", errors);
    return pid == 0 ? -1 : Wait(pid);
}

namespace {

bool Step(const std::vector<std::string>& args, const std::string& what) {
    if (Run(args, TStderr::Keep) == 0) {
        return true;
    }
    std::fprintf(stderr, "%s failed\n", what.c_str());
    return false;
}

// fbsvcmgr on the server's service manager with the login, then the action.
std::vector<std::string> Fbsvcmgr(const TServer& server, std::vector<std::string> action) {
    std::vector<std::string> args{"fbsvcmgr",  server.ServiceManager(), "-user", server.User,
                                  "-password", server.Password};
    args.insert(args.end(), action.begin(), action.end());
    return args;
}

// isql-fb running a script, on a database when one is named.
std::vector<std::string> Isql(const TServer& server, const std::string& script,
                              const std::string& db = std::string()) {
    std::vector<std::string> args{"isql-fb",       "-q",    "-b",        "-ch",
                                  "UTF8",          "-user", server.User, "-password",
                                  server.Password, "-i",    script};
    if (!db.empty()) {
        args.push_back(server.Host + ":" + db);
    }
    return args;
}

} // namespace

bool CreateDatabase(const TServer& server, const std::string& db, int rows, int tables) {
    const std::filesystem::path folder = std::filesystem::path(db).parent_path();
    const std::string create = folder / "create.sql";
    {
        std::ofstream out(create);
        out << "SET SQL DIALECT 3;\n"
            << "CREATE DATABASE '" << server.Host << ":" << db << "' USER '" << server.User
            << "' PASSWORD '" << server.Password << "' PAGE_SIZE 4096 DEFAULT CHARACTER SET UTF8;\n"
            << "COMMIT;\n";
    }
    const std::string fill = folder / "fill.sql";
    {
        std::ofstream out(fill);
        out << "CREATE TABLE CUSTOMER (ID INTEGER NOT NULL PRIMARY KEY, NAME VARCHAR(60),"
               " CITY VARCHAR(40), PHONE VARCHAR(20));\n"
            << "CREATE TABLE ORDERS (ID INTEGER NOT NULL PRIMARY KEY, CUSTOMER_ID INTEGER,"
               " AMOUNT NUMERIC(12,2), NOTE VARCHAR(100), CREATED TIMESTAMP);\n"
            << "CREATE INDEX ORDERS_CUSTOMER ON ORDERS (CUSTOMER_ID);\n"
            << "COMMIT;\n"
            << "SET TERM ^;\n"
            << "EXECUTE BLOCK AS DECLARE I INTEGER = 0; BEGIN\n"
            << "  WHILE (I < 1000) DO BEGIN\n"
            << "    INSERT INTO CUSTOMER VALUES (:I, '고객 ' || :I, '서울', '02-' || :I);\n"
            << "    I = I + 1; END\n"
            << "  I = 0;\n"
            << "  WHILE (I < " << rows << ") DO BEGIN\n"
            << "    INSERT INTO ORDERS VALUES (:I, MOD(:I, 1000), :I * 0.01,"
               " '주문 메모 ' || :I, DATEADD(:I SECOND TO TIMESTAMP '2024-01-01 00:00:00'));\n"
            << "    I = I + 1; END\n"
            << "END^\n"
            << "SET TERM ;^\n"
            << "COMMIT;\n";
        // The many small tables of a real suite's database.
        for (int i = 0; i < tables; ++i) {
            out << "CREATE TABLE T" << i << " (ID INTEGER NOT NULL, NAME VARCHAR(40),"
                << " AMOUNT NUMERIC(12,2), CREATED DATE);\n"
                << "CREATE INDEX T" << i << "_ID ON T" << i << " (ID);\n";
            if (i % 100 == 99) {
                out << "COMMIT;\n";
            }
        }
        out << "COMMIT;\n";
    }
    const auto forcedWrites = [&](bool on) {
        return Step(Fbsvcmgr(server, {"action_properties", "dbname", db, "prp_write_mode",
                                      on ? "prp_wm_sync" : "prp_wm_async"}),
                    "switching forced writes of " + db);
    };
    return Step(Isql(server, create), "creating " + db) && forcedWrites(false) &&
           Step(Isql(server, fill, db), "filling " + db) && forcedWrites(true);
}

std::vector<std::string> GbakBackupArgs(const TServer& server, const std::string& db,
                                        const std::string& file, bool verbose) {
    std::vector<std::string> args{"gbak", "-b"};
    if (verbose) {
        args.push_back("-v");
    }
    args.insert(args.end(), {"-l", "-nt", "-se", server.ServiceManager(), db, file, "-user",
                             server.User, "-password", server.Password});
    return args;
}

std::vector<std::string> GbakRestoreArgs(const TServer& server, const std::string& file,
                                         const std::string& db, bool create) {
    std::vector<std::string> args{"gbak"};
    if (create) {
        args.push_back("-c");
    }
    args.insert(args.end(), {"-rep", "-v", "-page_size", "4096", "-buffers", "3000",
                             "-use_all_space", "-se", server.ServiceManager(), file, db, "-user",
                             server.User, "-password", server.Password});
    return args;
}

std::vector<std::string> FbsvcmgrBackupArgs(const TServer& server, const std::string& db,
                                            const std::string& file) {
    return Fbsvcmgr(server, {"action_backup", "dbname", db, "bkp_file", file, "bkp_ignore_limbo",
                             "bkp_non_transportable", "verbose"});
}

std::vector<std::string> FbsvcmgrRestoreArgs(const TServer& server, const std::string& file,
                                             const std::string& db) {
    return Fbsvcmgr(server, {"action_restore", "bkp_file", file, "dbname", db, "res_replace",
                             "res_use_all_space", "res_page_size", "4096", "res_buffers", "3000",
                             "verbose"});
}

namespace {

// A "Vm...:  123 kB" line of /proc/self/status.
long StatusKiB(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string key = std::string(field) + ":";
    while (std::getline(status, line)) {
        if (line.rfind(key, 0) == 0) {
            return std::atol(line.c_str() + key.size());
        }
    }
    return 0;
}

} // namespace

long ResidentKiB() {
    return StatusKiB("VmRSS");
}

long PeakResidentKiB() {
    return StatusKiB("VmHWM");
}

void ResetPeakResident() {
    // 5: reset the peak resident size to the present one.
    std::ofstream("/proc/self/clear_refs") << "5";
}

double Seconds(const std::function<void()>& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n == 0 ? 0 : (n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2);
}

double ProcessorSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

double Now() {
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}

namespace {

// "2024-06-19T22:17:05.1234", local time, as seconds of the system clock;
// 0 when the text is not such a time.
double TraceTime(const std::string& text) {
    std::tm tm{};
    int fraction = 0;
    char digits[8] = {};
    if (std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d.%7[0-9]", &tm.tm_year, &tm.tm_mon,
                    &tm.tm_mday, &tm.tm_hour, &tm.tm_min, &tm.tm_sec, digits) != 7) {
        return 0;
    }
    tm.tm_year -= 1900;
    tm.tm_mon -= 1;
    tm.tm_isdst = -1;
    fraction = std::atoi(digits);
    double scale = 1;
    for (size_t i = 0; i < std::strlen(digits); ++i) {
        scale *= 10;
    }
    return static_cast<double>(std::mktime(&tm)) + fraction / scale;
}

} // namespace

namespace {
// The sessions still running: a benchmark that gives up calls exit(), and
// a session must not outlive it on the server.
std::vector<TTransactionTrace*>& RunningTraces() {
    static std::vector<TTransactionTrace*> traces;
    return traces;
}
} // namespace

TTransactionTrace::TTransactionTrace(const TServer& server, const std::string& database,
                                     const std::string& folder)
    : FServer(server), FLog(folder + "/trace.log") {
    const std::string config = folder + "/trace.conf";
    {
        std::ofstream out(config);
        // The name as a pattern of the server's: every character that means
        // something there is put between brackets.
        std::string pattern;
        for (const char c : database) {
            if (std::strchr("%_[]()|*+?{}^-\\", c) != nullptr) {
                pattern += std::string("[") + c + "]";
            } else {
                pattern += c;
            }
        }
        out << "database = " << pattern << "\n{\n\tenabled = true\n"
            << "\tlog_transactions = true\n}\n";
    }
    const pid_t pid =
        Start({"fbtracemgr", "-se", server.ServiceManager(), "-user", server.User, "-password",
               server.Password, "-start", "-name", "bench-transactions", "-config", config},
              FLog.c_str(), TStderr::Keep);
    if (pid == 0) {
        return;
    }
    FPid = pid;
    static const bool stopAtExit = [] {
        return std::atexit([] {
                   for (TTransactionTrace* trace : std::vector(RunningTraces())) {
                       trace->Stop();
                   }
               }) == 0;
    }();
    static_cast<void>(stopAtExit);
    RunningTraces().push_back(this);
    // The session's number comes first in its log.
    for (int i = 0; i < 500 && FSession == 0; ++i) {
        std::ifstream in(FLog);
        std::string line;
        while (std::getline(in, line)) {
            if (std::sscanf(line.c_str(), "Trace session ID %d started", &FSession) == 1) {
                break;
            }
        }
        if (FSession == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    if (FSession == 0) {
        std::fprintf(stderr, "the trace session did not start\n");
    }
}

TTransactionTrace::~TTransactionTrace() {
    Stop();
}

std::vector<TTransactionTrace::TSpan> TTransactionTrace::Stop() {
    std::vector<TSpan> spans;
    if (FPid <= 0) {
        return spans;
    }
    std::erase(RunningTraces(), this);
    if (FSession > 0) {
        Run({"fbtracemgr", "-se", FServer.ServiceManager(), "-user", FServer.User, "-password",
             FServer.Password, "-stop", "-id", std::to_string(FSession)},
            TStderr::Discard);
    } else {
        kill(FPid, SIGTERM);
    }
    Wait(FPid);
    FPid = 0;
    FSession = 0;
    // An event is a time stamp line with its name, then the database, then
    // the transaction ("(TRA_n, ...)").
    std::ifstream in(FLog);
    std::string line;
    std::string event;
    double at = 0;
    std::map<std::string, double> begun;
    while (std::getline(in, line)) {
        const double time = TraceTime(line);
        if (time > 0) {
            at = time;
            const size_t space = line.rfind(' ');
            event = space == std::string::npos ? std::string() : line.substr(space + 1);
            continue;
        }
        const size_t tra = line.find("(TRA_");
        if (tra == std::string::npos) {
            continue;
        }
        const std::string id = line.substr(tra + 1, line.find_first_of(",)", tra) - tra - 1);
        if (event == "START_TRANSACTION") {
            begun[id] = at;
        } else if ((event == "COMMIT_TRANSACTION" || event == "ROLLBACK_TRANSACTION") &&
                   begun.count(id) != 0) {
            spans.push_back({begun[id], at});
            begun.erase(id);
        }
    }
    return spans;
}

} // namespace bench
