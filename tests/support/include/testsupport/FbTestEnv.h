// Helpers for tests that talk to the real Firebird server started by the
// test scripts: where it is, folders it can reach, demo databases and
// comparisons through isql-fb.
#pragma once

#include <gtest/gtest.h>

#include <string>

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
int RunIsql(const std::string& databasePath, const std::string& script, std::string* output);

// Creates a database at databasePath on the test server holding several
// tables (one with `rows` rows), an index, a view, a procedure, a generator
// and non-ASCII text. Fails the calling test on error.
void CreateDemoDatabase(const std::string& databasePath, int rows);

// Row counts of every table and a checksum over their contents, as one text;
// equal texts mean equal data.
std::string DatabaseFingerprint(const std::string& databasePath);

} // namespace slvtest

// Skips the test when no server answers, or fails it when the server is
// required.
#define SLV_REQUIRE_SERVER()                                                     \
    do {                                                                         \
        if (!::slvtest::ServerAvailable()) {                                     \
            if (::slvtest::ServerRequired()) {                                   \
                FAIL() << "the Firebird test server does not answer";            \
            }                                                                    \
            GTEST_SKIP() << "the Firebird test server does not answer";          \
        }                                                                        \
    } while (0)
