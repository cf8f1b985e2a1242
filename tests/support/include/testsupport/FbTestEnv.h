// Helpers for tests that talk to the real Firebird server started by the
// test scripts: where it is, folders it can reach, demo databases and
// comparisons through isql-fb.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace slvtest {

// Host, user and password of the test server (SLV_FB_HOST, default
// "127.0.0.1"; SYSDBA with the suite's password). The tests never read
// ISC_USER / ISC_PASSWORD.
const std::string& ServerHost();
const std::string& ServerUser();
const std::string& ServerPassword();

// True when the server's service manager answers.
bool ServerAvailable();
// True when SLV_REQUIRE_SERVER=1: a missing server then fails the test
// instead of skipping it (CI sets it).
bool ServerRequired();

// A fresh folder under the test data root (SLV_TEST_DATA, default
// /var/tmp/slv-test) that the server's own user can read and write.
std::string MakeTempDir(const std::string& prefix);

// Runs isql-fb on a database of the test server (host:path) with the given
// script; returns isql's exit code and puts its output into *output.
// isql-fb runs with connection character set UTF8 and stops at the first
// failing statement. With an empty databasePath the script must connect or
// create a database itself.
int RunIsql(const std::string& databasePath, const std::string& script, std::string* output);

// Creates a database at databasePath on the test server holding several
// tables (one with `rows` rows), an index, a view, a procedure, a generator
// and non-ASCII text. Fails the calling test on error.
void CreateDemoDatabase(const std::string& databasePath, int rows);

// Row counts of every table and a checksum over their contents, as one text;
// equal texts mean equal data.
std::string DatabaseFingerprint(const std::string& databasePath);

// ---- further helpers ------------------------------------------------------

// The folder under which MakeTempDir creates its folders.
std::string TestDataRoot();

// "<host>:service_mgr" of the test server.
std::string ServiceManagerAddress();

// "<host>:<path>" for a path on the test server; a text that already names a
// host (anything not starting with "/") is returned unchanged.
std::string RemoteDatabase(const std::string& databasePath);

// Runs fbsvcmgr on the test server's service manager with the test account
// and the given further arguments (for example {"action_db_stats", "dbname",
// path, "sts_hdr_pages"}); returns its exit code and puts its output into
// *output (may be null).
int RunFbsvcmgr(const std::vector<std::string>& args, std::string* output);

// Backs a database of the test server up into backupFile (a path on the
// server), or restores backupFile into a new databasePath, through the
// service manager. Return the exit code; the output goes into *output.
int BackupDatabase(const std::string& databasePath, const std::string& backupFile,
                   std::string* output);
int RestoreDatabase(const std::string& backupFile, const std::string& databasePath,
                    std::string* output);

} // namespace slvtest

// Skips the test when no server answers, or fails it when the server is
// required.
#define SLV_REQUIRE_SERVER()                                                                       \
    do {                                                                                           \
        if (!::slvtest::ServerAvailable()) {                                                       \
            if (::slvtest::ServerRequired()) {                                                     \
                FAIL() << "the Firebird test server does not answer";                              \
            }                                                                                      \
            GTEST_SKIP() << "the Firebird test server does not answer";                            \
        }                                                                                          \
    } while (0)
