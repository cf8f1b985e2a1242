// The shared test helpers, against the real server: account, folders, isql,
// the demo database (with a Korean file name) and its fingerprint.
#include "testsupport/FbTestEnv.h"
#include "testsupport/Process.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

// Removes a test folder with the server's files in it.
struct FolderGuard {
    std::string path;
    ~FolderGuard() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
};

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        return 0;
    }
    return st.st_mode & 07777;
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

} // namespace

TEST(TestSupport, AccountIsTheSuitesAndIgnoresIscVariables) {
    setenv("ISC_USER", "someone", 1);
    setenv("ISC_PASSWORD", "secret", 1);
    EXPECT_EQ(slvtest::ServerUser(), "SYSDBA");
    EXPECT_EQ(slvtest::ServerPassword(), "jwx+[]");
    EXPECT_FALSE(slvtest::ServerHost().empty());
    const slvtest::ProcessResult r = slvtest::RunProcess(
        {"sh", "-c", "echo \"[${ISC_USER-}][${ISC_PASSWORD-}][$LANG][$LC_ALL]\""}, 30);
    unsetenv("ISC_USER");
    unsetenv("ISC_PASSWORD");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.output, "[][][C.UTF-8][C.UTF-8]\n");
}

TEST(TestSupport, RunProcessStopsAtItsTimeLimit) {
    const auto start = std::chrono::steady_clock::now();
    const slvtest::ProcessResult r = slvtest::RunProcess({"sleep", "30"}, 1);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_TRUE(r.timedOut);
    EXPECT_EQ(r.exitCode, -1);
    EXPECT_LT(took, std::chrono::seconds(10));
}

TEST(TestSupport, RunProcessReportsAMissingProgram) {
    const slvtest::ProcessResult r = slvtest::RunProcess({"slv-no-such-program"}, 10);
    EXPECT_NE(r.exitCode, 0);
}

TEST(TestSupport, TempDirsAreFreshAndOpenToEveryone) {
    const std::string a = slvtest::MakeTempDir("selftest");
    const std::string b = slvtest::MakeTempDir("selftest");
    const std::string c = slvtest::MakeTempDir("자료/묶음");
    FolderGuard ga{a}, gb{b}, gc{c};
    EXPECT_NE(a, b);
    EXPECT_EQ(a.rfind(slvtest::TestDataRoot(), 0), 0u) << a;
    EXPECT_TRUE(fs::is_directory(a));
    EXPECT_TRUE(fs::is_directory(c));
    EXPECT_EQ(fs::path(c).parent_path(), fs::path(a).parent_path());
    EXPECT_EQ(ModeOf(a), 0777u);
    EXPECT_EQ(ModeOf(c), 0777u);
    const mode_t root = ModeOf(fs::path(a).parent_path().string());
    EXPECT_EQ(root & 0777, 0777u);
}

TEST(TestSupport, ServerAnswers) {
    SLV_REQUIRE_SERVER();
    std::string out;
    ASSERT_EQ(slvtest::RunFbsvcmgr({"info_server_version"}, &out), 0) << out;
    EXPECT_TRUE(Contains(out, "Firebird")) << out;
}

// The make-server command points the suite at 127.0.0.1, and the scripts and
// most tests connect there too; the local server must answer on that address
// even where "localhost" names ::1 first (Debian's stock /etc/hosts).
TEST(TestSupport, LocalServerAnswersOnTheIPv4Loopback) {
    SLV_REQUIRE_SERVER();
    const std::string& host = slvtest::ServerHost();
    if (host != "127.0.0.1" && host != "localhost" && host != "::1" && host != "[::1]") {
        GTEST_SKIP() << "the test server is not on this computer (" << host << ")";
    }
    const slvtest::ProcessResult r =
        slvtest::RunProcess({"fbsvcmgr", "127.0.0.1:service_mgr", "-user", slvtest::ServerUser(),
                             "-password", slvtest::ServerPassword(), "info_server_version"},
                            30);
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_TRUE(Contains(r.output, "Server version"))
        << "the local server does not answer on 127.0.0.1:3050 (is it bound to ::1 only?): "
        << r.output;
}

TEST(TestSupport, DemoDatabaseWithAKoreanFileName) {
    SLV_REQUIRE_SERVER();
    const std::string dir = slvtest::MakeTempDir("demo");
    FolderGuard guard{dir};
    const std::string db = dir + "/솔바네 데모.fdb";
    ASSERT_NO_FATAL_FAILURE(slvtest::CreateDemoDatabase(db, 1000));
    EXPECT_TRUE(fs::is_regular_file(db)) << "the server did not create " << db;

    std::string out;
    ASSERT_EQ(slvtest::RunIsql(db, R"SQL(
SET LIST ON;
SELECT NAME, CITY FROM CUSTOMER WHERE ID = 1;
SELECT VAL FROM SETTING WHERE NAME = '회사명';
SELECT COUNT(*) AS ORDER_ROWS FROM ORDERS;
SELECT TOTAL AS CUSTOMER_TWO_TOTAL FROM CUSTOMER_TOTAL WHERE CUSTOMER_ID = 2;
SELECT COUNT(*) AS PROCEDURES FROM RDB$PROCEDURES WHERE RDB$PROCEDURE_NAME = 'ADD_ORDER';
SELECT COUNT(*) AS INDICES FROM RDB$INDICES WHERE RDB$INDEX_NAME = 'IDX_ORDERS_DATE';
EXECUTE PROCEDURE ADD_ORDER(3, 12.5, '새 주문');
ROLLBACK;
)SQL",
                               &out),
              0)
        << out;
    EXPECT_TRUE(Contains(out, "김민준")) << out;
    EXPECT_TRUE(Contains(out, "서울")) << out;
    EXPECT_TRUE(Contains(out, "솔바네 주식회사")) << out;
    EXPECT_TRUE(Contains(out, "ORDER_ROWS                      1000")) << out;
    EXPECT_TRUE(Contains(out, "PROCEDURES                      1")) << out;
    EXPECT_TRUE(Contains(out, "INDICES                         1")) << out;
    EXPECT_TRUE(Contains(out, "NEW_ID                          1001")) << out;

    const std::string fp = slvtest::DatabaseFingerprint(db);
    EXPECT_TRUE(Contains(fp, "CUSTOMER|5|")) << fp;
    EXPECT_TRUE(Contains(fp, "ORDERS|1000|")) << fp;
    EXPECT_TRUE(Contains(fp, "SETTING|3|")) << fp;
    EXPECT_TRUE(Contains(fp, "MEMO|2|")) << fp;
    EXPECT_TRUE(Contains(fp, "generator GEN_ORDER_ID|1001")) << fp;
    EXPECT_EQ(slvtest::DatabaseFingerprint(db), fp);
}

TEST(TestSupport, RunIsqlReportsAFailingStatement) {
    SLV_REQUIRE_SERVER();
    const std::string dir = slvtest::MakeTempDir("isql");
    FolderGuard guard{dir};
    const std::string db = dir + "/small.fdb";
    ASSERT_NO_FATAL_FAILURE(slvtest::CreateDemoDatabase(db, 0));
    std::string out;
    EXPECT_NE(slvtest::RunIsql(db, "SELECT NO_SUCH_COLUMN FROM CUSTOMER;\n", &out), 0);
    EXPECT_TRUE(Contains(out, "NO_SUCH_COLUMN")) << out;
    EXPECT_NE(slvtest::RunIsql(dir + "/missing.fdb", "SELECT 1 FROM RDB$DATABASE;\n", &out), 0);
}

TEST(TestSupport, FingerprintSurvivesBackupAndRestoreAndSeesChanges) {
    SLV_REQUIRE_SERVER();
    const std::string dir = slvtest::MakeTempDir("fingerprint");
    FolderGuard guard{dir};
    const std::string db = dir + "/원본.fdb";
    const std::string fbk = dir + "/SLV_Backup_240301_1830.fbk";
    const std::string restored = dir + "/원본복원.fdb";
    ASSERT_NO_FATAL_FAILURE(slvtest::CreateDemoDatabase(db, 5000));
    const std::string before = slvtest::DatabaseFingerprint(db);

    std::string out;
    ASSERT_EQ(slvtest::BackupDatabase(db, fbk, &out), 0) << out;
    ASSERT_TRUE(fs::is_regular_file(fbk));
    ASSERT_EQ(slvtest::RestoreDatabase(fbk, restored, &out), 0) << out;
    EXPECT_EQ(slvtest::DatabaseFingerprint(restored), before);

    ASSERT_EQ(
        slvtest::RunIsql(restored, "UPDATE MEMO SET TITLE = '백업 안내!' WHERE ID = 1;\n", &out), 0)
        << out;
    const std::string changed = slvtest::DatabaseFingerprint(restored);
    EXPECT_NE(changed, before);

    ASSERT_EQ(slvtest::RunIsql(restored,
                               "UPDATE MEMO SET TITLE = '백업 안내' WHERE ID = 1;\n"
                               "UPDATE ORDERS SET NOTE = NULL WHERE ID = 4321;\n",
                               &out),
              0)
        << out;
    EXPECT_NE(slvtest::DatabaseFingerprint(restored), before);
}

TEST(TestSupport, AMillionRowsLoadInSeconds) {
    SLV_REQUIRE_SERVER();
    const std::string dir = slvtest::MakeTempDir("million");
    FolderGuard guard{dir};
    const std::string db = dir + "/large.fdb";
    const auto start = std::chrono::steady_clock::now();
    ASSERT_NO_FATAL_FAILURE(slvtest::CreateDemoDatabase(db, 1000000));
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took, std::chrono::seconds(90));
    EXPECT_TRUE(Contains(slvtest::DatabaseFingerprint(db), "ORDERS|1000000|"));
}
