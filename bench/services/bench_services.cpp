// Times a verbose backup and a restore of one generated database through the
// service components, read line by line as the tool's commands do today and
// in bulk, against gbak and fbsvcmgr doing the same through the server's
// service manager. Runs alternate between the clients in one process run;
// prints the medians and, last, the ratios of the components to the fastest
// peer of the same run.
//
//   bench_services [--rows N] [--tables N] [--runs N] [--dir FOLDER] [--keep]
//
// --tables adds N small tables with an index each (a real suite's database
// has thousands; each adds about 21 lines to a verbose backup).
// The server (SLV_FB_HOST, default 127.0.0.1) must be able to read and write
// the folder; a fresh one under /var/tmp is made when none is given.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "bench/BenchCommon.h"
#include "client/SuiteAccount.h"
#include "client/fib.h"
#include "services/IB_Services.h"

namespace {

std::string Env(const char* name, const char* fallback) {
    const char* v = std::getenv(name);
    return v != nullptr && *v != '\0' ? v : fallback;
}

const std::string kHost = Env("SLV_FB_HOST", "127.0.0.1");
const std::string kUser = fib::SuiteUserName;
const std::string kPassword = Env("SLV_FB_PASSWORD", fib::SuitePassword);

const bench::TServer kServer{kHost, kUser, kPassword};

// Runs a program with all its output thrown away; returns its exit code.
int Run(const std::vector<std::string>& args) {
    return bench::Run(args, bench::TStderr::Discard);
}

template <typename T> void Configure(T& svc) {
    svc.SetLoginPrompt(false);
    svc.SetServerName(kHost);
    svc.Params().Assign(std::vector<std::string>{"user_name=" + kUser, "password=" + kPassword});
}

// How the components read the output: line by line, as the tool's
// commands do today, or in bulk.
enum class TReading { LineByLine, Bulk };

// Reads every line; returns their number (the empty end line included).
size_t ReadToEnd(fib::TpFIBControlAndQueryService& svc, TReading reading) {
    size_t lines = 0;
    std::vector<std::string> batch;
    while (!svc.EndOfOutput()) {
        if (reading == TReading::Bulk) {
            batch.clear();
            lines += svc.ReadAvailableLines(batch);
        } else {
            svc.ReadNextLine();
            ++lines;
        }
    }
    return lines;
}

size_t gLastLines = 0; // lines of the last action read by the components

void OurBackup(const std::string& db, const std::string& file, TReading reading) {
    fib::TpFIBBackupService b;
    Configure(b);
    b.SetDatabaseName(db);
    b.BackupFile().Add(file);
    b.SetOptions({fib::TBackupOption::IgnoreLimbo, fib::TBackupOption::NonTransportable});
    b.SetVerbose(true);
    b.Attach();
    b.ServiceStart();
    gLastLines = ReadToEnd(b, reading);
    b.Detach();
}

void OurRestore(const std::string& file, const std::string& db, TReading reading) {
    fib::TpFIBRestoreService r;
    Configure(r);
    r.SetOptions({fib::TRestoreOption::Replace, fib::TRestoreOption::UseAllSpace});
    r.SetPageSize(4096);
    r.SetPageBuffers(3000);
    r.SetVerbose(true);
    r.BackupFile().Add(file);
    r.DatabaseName().Add(db);
    r.Attach();
    r.ServiceStart();
    gLastLines = ReadToEnd(r, reading);
    r.Detach();
}

void Check(int rc, const char* what) {
    if (rc != 0) {
        std::fprintf(stderr, "%s failed with exit code %d\n", what, rc);
        std::exit(1);
    }
}

void GbakBackup(const std::string& db, const std::string& file) {
    Check(Run(bench::GbakBackupArgs(kServer, db, file, true)), "gbak backup");
}

void FbsvcmgrBackup(const std::string& db, const std::string& file) {
    Check(Run(bench::FbsvcmgrBackupArgs(kServer, db, file)), "fbsvcmgr backup");
}

void GbakRestore(const std::string& file, const std::string& db) {
    Check(Run(bench::GbakRestoreArgs(kServer, file, db, false)), "gbak restore");
}

void FbsvcmgrRestore(const std::string& file, const std::string& db) {
    Check(Run(bench::FbsvcmgrRestoreArgs(kServer, file, db)), "fbsvcmgr restore");
}

} // namespace

int main(int argc, char** argv) {
    setlocale(LC_ALL, "C.UTF-8");
    unsetenv("ISC_USER");
    unsetenv("ISC_PASSWORD");

    int rows = 1000000;
    int tables = 0;
    int runs = 5;
    std::string dir;
    bool keep = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--rows" && i + 1 < argc) {
            rows = std::atoi(argv[++i]);
        } else if (a == "--tables" && i + 1 < argc) {
            tables = std::max(0, std::atoi(argv[++i]));
        } else if (a == "--runs" && i + 1 < argc) {
            runs = std::max(1, std::atoi(argv[++i]));
        } else if (a == "--dir" && i + 1 < argc) {
            dir = argv[++i];
        } else if (a == "--keep") {
            keep = true;
        } else {
            std::fprintf(stderr,
                         "usage: %s [--rows N] [--tables N] [--runs N] [--dir FOLDER] [--keep]\n",
                         argv[0]);
            return 2;
        }
    }
    const bool ownDir = dir.empty();
    if (ownDir) {
        std::string pattern = "/var/tmp/slv-bench-services-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) {
            std::perror("mkdtemp");
            return 1;
        }
        dir = pattern;
    }
    std::filesystem::create_directories(dir);
    chmod(dir.c_str(), 0777); // the server writes here as its own user

    const std::string db = dir + "/bench.fdb";
    if (!std::filesystem::exists(db)) {
        std::printf("creating %s with %d rows and %d more tables...\n", db.c_str(), rows, tables);
        std::fflush(stdout);
        if (!bench::CreateDatabase(kServer, db, rows, tables)) {
            return 1;
        }
    }

    // One backup file per client, so that every restore reads the same kind
    // of input; the restores read the backup made by gbak.
    struct Client {
        const char* name;
        std::function<void()> backup;
        std::function<void()> restore;
    };
    const std::string restoreFrom = dir + "/source.fbk";
    GbakBackup(db, restoreFrom);
    const std::vector<Client> clients = {
        {"components", [&] { OurBackup(db, dir + "/ours.fbk", TReading::LineByLine); },
         [&] { OurRestore(restoreFrom, dir + "/ours.fdb", TReading::LineByLine); }},
        {"bulk", [&] { OurBackup(db, dir + "/bulk.fbk", TReading::Bulk); },
         [&] { OurRestore(restoreFrom, dir + "/bulk.fdb", TReading::Bulk); }},
        {"gbak -se", [&] { GbakBackup(db, dir + "/gbak.fbk"); },
         [&] { GbakRestore(restoreFrom, dir + "/gbak.fdb"); }},
        {"fbsvcmgr", [&] { FbsvcmgrBackup(db, dir + "/fbsvcmgr.fbk"); },
         [&] { FbsvcmgrRestore(restoreFrom, dir + "/fbsvcmgr.fdb"); }},
    };

    std::map<std::string, std::vector<double>> backupTimes, restoreTimes;
    for (int run = 0; run < runs; ++run) {
        // Rotate the order so that no client always follows the same one.
        for (size_t k = 0; k < clients.size(); ++k) {
            const Client& c = clients[(k + static_cast<size_t>(run)) % clients.size()];
            const double t = bench::Seconds(c.backup);
            backupTimes[c.name].push_back(t);
            std::printf("run %d  backup   %-10s %7.3f s\n", run + 1, c.name, t);
            std::fflush(stdout);
        }
        for (size_t k = 0; k < clients.size(); ++k) {
            const Client& c = clients[(k + static_cast<size_t>(run)) % clients.size()];
            const double t = bench::Seconds(c.restore);
            restoreTimes[c.name].push_back(t);
            std::printf("run %d  restore  %-10s %7.3f s\n", run + 1, c.name, t);
            std::fflush(stdout);
        }
    }

    std::printf("\n%d rows, %d more tables, %d runs each, medians (%zu lines in the last "
                "restore):\n",
                rows, tables, runs, gLastLines);
    std::map<std::string, std::pair<double, double>> ratios; // line by line, bulk
    for (const char* what : {"backup", "restore"}) {
        auto& times = std::string(what) == "backup" ? backupTimes : restoreTimes;
        const double lineByLine = bench::Median(times["components"]);
        const double bulk = bench::Median(times["bulk"]);
        const double gbak = bench::Median(times["gbak -se"]);
        const double svcmgr = bench::Median(times["fbsvcmgr"]);
        const double fastest = std::min(gbak, svcmgr);
        std::printf("%-8s components line by line %7.3f s   bulk %7.3f s   gbak -se %7.3f s   "
                    "fbsvcmgr %7.3f s   fastest peer: %s\n",
                    what, lineByLine, bulk, gbak, svcmgr, gbak <= svcmgr ? "gbak -se" : "fbsvcmgr");
        // The same ratios taken within each run, which cancels slow drifts of
        // the machine's load between runs.
        std::vector<double> perRunLine, perRunBulk;
        for (size_t i = 0; i < times["components"].size(); ++i) {
            const double peer = std::min(times["gbak -se"][i], times["fbsvcmgr"][i]);
            perRunLine.push_back(times["components"][i] / peer);
            perRunBulk.push_back(times["bulk"][i] / peer);
        }
        std::printf("%-8s median of per-run ratios to the fastest peer: line by line %.3f   bulk "
                    "%.3f\n",
                    what, bench::Median(perRunLine), bench::Median(perRunBulk));
        ratios[what] = {lineByLine / fastest, bulk / fastest};
    }
    for (const char* what : {"backup", "restore"}) {
        std::printf("ratio %s component line by line/fastest-peer %.3f\n", what,
                    ratios[what].first);
    }
    // Last: the components as they read from now on, in bulk.
    for (const char* what : {"backup", "restore"}) {
        std::printf("ratio %s component/fastest-peer %.3f\n", what, ratios[what].second);
    }

    if (!keep && ownDir) {
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }
    return 0;
}
