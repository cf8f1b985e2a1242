// Times a verbose backup and a restore of one generated database through the
// service components, against gbak and fbsvcmgr doing the same through the
// server's service manager. Runs alternate between the three clients in one
// process run; prints the medians and the ratios ours / peer.
//
//   bench_services [--rows N] [--runs N] [--dir FOLDER] [--keep]
//
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

void CreateDatabase(const std::string& db, int rows) {
    const std::string script = bench::WriteCreateScript(kServer, db, rows);
    if (Run({"isql-fb", "-q", "-b", "-ch", "UTF8", "-i", script}) != 0) {
        std::fprintf(stderr, "isql-fb could not create %s\n", db.c_str());
        std::exit(1);
    }
}

template <typename T> void Configure(T& svc) {
    svc.SetLoginPrompt(false);
    svc.SetServerName(kHost);
    svc.Params().Assign(std::vector<std::string>{"user_name=" + kUser, "password=" + kPassword});
}

// Reads every line, as the tool's commands do.
size_t ReadToEnd(fib::TpFIBControlAndQueryService& svc) {
    size_t lines = 0;
    while (!svc.EndOfOutput()) {
        const std::string line = svc.ReadNextLine();
        lines += line.empty() ? 0 : 1;
    }
    return lines;
}

void OurBackup(const std::string& db, const std::string& file) {
    fib::TpFIBBackupService b;
    Configure(b);
    b.SetDatabaseName(db);
    b.BackupFile().Add(file);
    b.SetOptions({fib::TBackupOption::IgnoreLimbo, fib::TBackupOption::NonTransportable});
    b.SetVerbose(true);
    b.Attach();
    b.ServiceStart();
    ReadToEnd(b);
    b.Detach();
}

void OurRestore(const std::string& file, const std::string& db) {
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
    ReadToEnd(r);
    r.Detach();
}

void Check(int rc, const char* what) {
    if (rc != 0) {
        std::fprintf(stderr, "%s failed with exit code %d\n", what, rc);
        std::exit(1);
    }
}

const std::string kService = kServer.ServiceManager();

void GbakBackup(const std::string& db, const std::string& file) {
    Check(Run(bench::GbakBackupArgs(kServer, db, file, true)), "gbak backup");
}

void FbsvcmgrBackup(const std::string& db, const std::string& file) {
    Check(Run({"fbsvcmgr", kService, "-user", kUser, "-password", kPassword, "action_backup",
               "dbname", db, "bkp_file", file, "bkp_ignore_limbo", "bkp_non_transportable",
               "verbose"}),
          "fbsvcmgr backup");
}

void GbakRestore(const std::string& file, const std::string& db) {
    Check(Run(bench::GbakRestoreArgs(kServer, file, db, false)), "gbak restore");
}

void FbsvcmgrRestore(const std::string& file, const std::string& db) {
    Check(Run({"fbsvcmgr", kService, "-user", kUser, "-password", kPassword, "action_restore",
               "bkp_file", file, "dbname", db, "res_replace", "res_use_all_space", "res_page_size",
               "4096", "res_buffers", "3000", "verbose"}),
          "fbsvcmgr restore");
}

} // namespace

int main(int argc, char** argv) {
    setlocale(LC_ALL, "C.UTF-8");
    unsetenv("ISC_USER");
    unsetenv("ISC_PASSWORD");

    int rows = 1000000;
    int runs = 5;
    std::string dir;
    bool keep = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--rows" && i + 1 < argc) {
            rows = std::atoi(argv[++i]);
        } else if (a == "--runs" && i + 1 < argc) {
            runs = std::max(1, std::atoi(argv[++i]));
        } else if (a == "--dir" && i + 1 < argc) {
            dir = argv[++i];
        } else if (a == "--keep") {
            keep = true;
        } else {
            std::fprintf(stderr, "usage: %s [--rows N] [--runs N] [--dir FOLDER] [--keep]\n",
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
    chmod(dir.c_str(), 0777); // the server writes here as its own user

    const std::string db = dir + "/bench.fdb";
    if (!std::filesystem::exists(db)) {
        std::printf("creating %s with %d rows...\n", db.c_str(), rows);
        std::fflush(stdout);
        CreateDatabase(db, rows);
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
        {"components", [&] { OurBackup(db, dir + "/ours.fbk"); },
         [&] { OurRestore(restoreFrom, dir + "/ours.fdb"); }},
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

    std::printf("\n%d rows, %d runs each, medians:\n", rows, runs);
    for (const char* what : {"backup", "restore"}) {
        auto& times = std::string(what) == "backup" ? backupTimes : restoreTimes;
        const double ours = bench::Median(times["components"]);
        const double gbak = bench::Median(times["gbak -se"]);
        const double svcmgr = bench::Median(times["fbsvcmgr"]);
        std::printf("%-8s components %7.3f s   gbak -se %7.3f s   fbsvcmgr %7.3f s   "
                    "ours/gbak %.3f   ours/fbsvcmgr %.3f\n",
                    what, ours, gbak, svcmgr, ours / gbak, ours / svcmgr);
        // The same ratios taken within each run, which cancels slow drifts of
        // the machine's load between runs.
        std::vector<double> perRunGbak, perRunSvcmgr;
        for (size_t i = 0; i < times["components"].size(); ++i) {
            perRunGbak.push_back(times["components"][i] / times["gbak -se"][i]);
            perRunSvcmgr.push_back(times["components"][i] / times["fbsvcmgr"][i]);
        }
        std::printf("%-8s median of per-run ratios: ours/gbak %.3f   ours/fbsvcmgr %.3f\n", what,
                    bench::Median(perRunGbak), bench::Median(perRunSvcmgr));
    }

    if (!keep && ownDir) {
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }
    return 0;
}
