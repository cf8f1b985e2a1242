// Helpers for the tests that talk to the real Firebird server.
#include "testsupport/FbTestEnv.h"

#include "testsupport/Process.h"
#include "client/SuiteAccount.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace slvtest {

namespace {

constexpr int kToolTimeoutSeconds = 600;
constexpr int kProbeTimeoutSeconds = 15;

std::string EnvOr(const char* name, const char* fallback) {
    const char* v = std::getenv(name);
    return (v != nullptr && *v != '\0') ? std::string(v) : std::string(fallback);
}

std::string Trim(const std::string& s) {
    const auto first = s.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) {
        return {};
    }
    const auto last = s.find_last_not_of(" \t\r\n");
    return s.substr(first, last - first + 1);
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        out.push_back(Trim(line));
    }
    return out;
}

// 'text' as an SQL string literal.
std::string SqlString(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        out += c;
        if (c == '\'') {
            out += '\'';
        }
    }
    return out + "'";
}

// 'name' as a quoted SQL identifier.
std::string SqlName(const std::string& name) {
    std::string out = "\"";
    for (char c : name) {
        out += c;
        if (c == '"') {
            out += '"';
        }
    }
    return out + "\"";
}

// A path on the server without a host part (for the service manager).
std::string ServerSidePath(const std::string& databasePath) {
    if (!databasePath.empty() && databasePath[0] == '/') {
        return databasePath;
    }
    const auto colon = databasePath.find(":/");
    return colon == std::string::npos ? databasePath : databasePath.substr(colon + 1);
}

// Makes one folder; true when it exists afterwards as a folder.
bool MakeFolder(const std::string& path, mode_t mode, bool* created) {
    if (mkdir(path.c_str(), mode) == 0) {
        *created = true;
        return chmod(path.c_str(), mode) == 0;
    }
    *created = false;
    struct stat st {};
    return errno == EEXIST && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Makes a folder and its missing parents; the new ones get the given mode.
void MakeFolders(const std::string& path, mode_t mode) {
    std::string prefix;
    std::size_t pos = 0;
    while (pos != std::string::npos) {
        pos = path.find('/', pos + 1);
        prefix = path.substr(0, pos);
        if (prefix.empty()) {
            continue;
        }
        bool created = false;
        if (!MakeFolder(prefix, mode, &created)) {
            throw std::runtime_error("cannot create the folder " + prefix + ": " +
                                     std::strerror(errno));
        }
    }
}

// Writes a script into a private temporary file and removes it again.
class ScriptFile {
public:
    explicit ScriptFile(const std::string& text) {
        std::string pattern = "/tmp/slv-isql-XXXXXX.sql";
        const int fd = mkstemps(pattern.data(), 4);
        if (fd < 0) {
            throw std::runtime_error(std::string("cannot create a script file: ") +
                                     std::strerror(errno));
        }
        path_ = pattern;
        std::size_t done = 0;
        while (done < text.size()) {
            const ssize_t n = write(fd, text.data() + done, text.size() - done);
            if (n <= 0) {
                close(fd);
                throw std::runtime_error("cannot write the script file " + path_);
            }
            done += static_cast<std::size_t>(n);
        }
        close(fd);
    }
    ~ScriptFile() { unlink(path_.c_str()); }
    ScriptFile(const ScriptFile&) = delete;
    ScriptFile& operator=(const ScriptFile&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

} // namespace

// ---- where the server is ----------------------------------------------------

const std::string& ServerHost() {
    static const std::string host = EnvOr("SLV_FB_HOST", "127.0.0.1");
    return host;
}

const std::string& ServerUser() {
    static const std::string user = fib::SuiteUserName;
    return user;
}

const std::string& ServerPassword() {
    static const std::string password = fib::SuitePassword;
    return password;
}

std::string ServiceManagerAddress() {
    return ServerHost() + ":service_mgr";
}

std::string RemoteDatabase(const std::string& databasePath) {
    if (!databasePath.empty() && databasePath[0] == '/') {
        return ServerHost() + ":" + databasePath;
    }
    return databasePath;
}

bool ServerAvailable() {
    static const bool available = [] {
        const ProcessResult r =
            RunProcess({"fbsvcmgr", ServiceManagerAddress(), "-user", ServerUser(), "-password",
                        ServerPassword(), "info_server_version"},
                       kProbeTimeoutSeconds);
        return r.exitCode == 0 && r.output.find("Server version") != std::string::npos;
    }();
    return available;
}

bool ServerRequired() {
    return EnvOr("SLV_REQUIRE_SERVER", "0") == "1";
}

// ---- folders ----------------------------------------------------------------

std::string TestDataRoot() {
    return EnvOr("SLV_TEST_DATA", "/var/tmp/slv-test");
}

std::string MakeTempDir(const std::string& prefix) {
    std::string root = TestDataRoot();
    while (root.size() > 1 && root.back() == '/') {
        root.pop_back();
    }
    // The root is shared by every test and user, like /tmp.
    MakeFolders(root, 01777);

    std::string name = prefix.empty() ? std::string("t") : prefix;
    std::replace(name.begin(), name.end(), '/', '_');
    std::string pattern = root + "/" + name + "-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot create a folder under " + root + ": " +
                                 std::strerror(errno));
    }
    // The server runs as another user and writes its files here; no sticky
    // bit, so that the tests may rename and delete the server's files.
    if (chmod(pattern.c_str(), 0777) != 0) {
        throw std::runtime_error("cannot open the folder " + pattern + ": " + std::strerror(errno));
    }
    return pattern;
}

// ---- tools ------------------------------------------------------------------

int RunIsql(const std::string& databasePath, const std::string& script, std::string* output) {
    const ScriptFile file(script);
    std::vector<std::string> args = {"isql-fb",        "-q",    "-b",         "-ch",
                                     "UTF8",           "-user", ServerUser(), "-password",
                                     ServerPassword(), "-i",    file.path()};
    if (!databasePath.empty()) {
        args.push_back(RemoteDatabase(databasePath));
    }
    const ProcessResult r = RunProcess(args, kToolTimeoutSeconds);
    if (output != nullptr) {
        *output = r.output;
    }
    return r.exitCode;
}

int RunFbsvcmgr(const std::vector<std::string>& args, std::string* output) {
    std::vector<std::string> argv = {"fbsvcmgr",  ServiceManagerAddress(), "-user", ServerUser(),
                                     "-password", ServerPassword()};
    argv.insert(argv.end(), args.begin(), args.end());
    const ProcessResult r = RunProcess(argv, kToolTimeoutSeconds);
    if (output != nullptr) {
        *output = r.output;
    }
    return r.exitCode;
}

int BackupDatabase(const std::string& databasePath, const std::string& backupFile,
                   std::string* output) {
    return RunFbsvcmgr(
        {"action_backup", "dbname", ServerSidePath(databasePath), "bkp_file", backupFile}, output);
}

int RestoreDatabase(const std::string& backupFile, const std::string& databasePath,
                    std::string* output) {
    return RunFbsvcmgr({"action_restore", "bkp_file", backupFile, "dbname",
                        ServerSidePath(databasePath), "res_create"},
                       output);
}

// ---- the demo database ------------------------------------------------------

void CreateDemoDatabase(const std::string& databasePath, int rows) {
    if (rows < 0) {
        rows = 0;
    }
    const std::string target = RemoteDatabase(databasePath);

    std::ostringstream schema;
    schema << "SET SQL DIALECT 3;\n"
           << "CREATE DATABASE " << SqlString(target) << " USER " << SqlString(ServerUser())
           << " PASSWORD " << SqlString(ServerPassword())
           << " PAGE_SIZE 4096 DEFAULT CHARACTER SET UTF8;\n"
           << "COMMIT;\n";
    std::string out;
    int rc = RunIsql("", schema.str(), &out);
    if (rc != 0) {
        GTEST_FAIL() << "cannot create the demo database " << target << " (isql-fb exit " << rc
                     << "):\n"
                     << out;
    }

    // Creating the tables and loading them is many times faster without
    // forced writes; they are switched back on at the end.
    rc = RunFbsvcmgr({"action_properties", "dbname", ServerSidePath(databasePath), "prp_write_mode",
                      "prp_wm_async"},
                     &out);
    if (rc != 0) {
        GTEST_FAIL() << "cannot switch off forced writes on " << target << ":\n" << out;
    }

    std::ostringstream load;
    load << R"SQL(
CREATE GENERATOR GEN_ORDER_ID;
CREATE TABLE CUSTOMER (
  ID INTEGER NOT NULL PRIMARY KEY,
  NAME VARCHAR(60) NOT NULL,
  CITY VARCHAR(40),
  PHONE VARCHAR(20));
CREATE TABLE ORDERS (
  ID INTEGER NOT NULL,
  CUSTOMER_ID INTEGER NOT NULL,
  ORDERED_ON DATE NOT NULL,
  AMOUNT NUMERIC(12,2) NOT NULL,
  NOTE VARCHAR(100));
CREATE TABLE SETTING (
  NAME VARCHAR(40) NOT NULL PRIMARY KEY,
  VAL VARCHAR(200));
CREATE TABLE MEMO (
  ID INTEGER NOT NULL PRIMARY KEY,
  TITLE VARCHAR(80),
  BODY BLOB SUB_TYPE TEXT,
  RAW_DATA BLOB SUB_TYPE BINARY,
  WRITTEN_AT TIMESTAMP,
  RATE DOUBLE PRECISION);
CREATE VIEW CUSTOMER_TOTAL (CUSTOMER_ID, NAME, ORDER_COUNT, TOTAL) AS
  SELECT C.ID, C.NAME, COUNT(O.ID), COALESCE(SUM(O.AMOUNT), 0)
  FROM CUSTOMER C LEFT JOIN ORDERS O ON O.CUSTOMER_ID = C.ID
  GROUP BY C.ID, C.NAME;
SET TERM ^ ;
CREATE PROCEDURE ADD_ORDER (CUSTOMER_ID INTEGER, AMOUNT NUMERIC(12,2), NOTE VARCHAR(100))
RETURNS (NEW_ID INTEGER) AS
BEGIN
  NEW_ID = NEXT VALUE FOR GEN_ORDER_ID;
  INSERT INTO ORDERS (ID, CUSTOMER_ID, ORDERED_ON, AMOUNT, NOTE)
    VALUES (:NEW_ID, :CUSTOMER_ID, CURRENT_DATE, :AMOUNT, :NOTE);
END^
SET TERM ; ^
INSERT INTO CUSTOMER VALUES (1, '김민준', '서울', '02-123-4567');
INSERT INTO CUSTOMER VALUES (2, '이서연', '부산', '051-987-6543');
INSERT INTO CUSTOMER VALUES (3, '박지훈', '대구', NULL);
INSERT INTO CUSTOMER VALUES (4, '최수아', '인천', '032-555-0101');
INSERT INTO CUSTOMER VALUES (5, 'Solvane Ltd.', 'Seoul', '+82-2-000-0000');
INSERT INTO SETTING VALUES ('회사명', '솔바네 주식회사');
INSERT INTO SETTING VALUES ('VERSION', '1.0');
INSERT INTO SETTING VALUES ('백업주기', '매일 18:00');
INSERT INTO MEMO VALUES (1, '백업 안내', '매일 저녁 데이터베이스를 백업하세요.', x'00FF7F80', TIMESTAMP '2024-03-01 18:30:00', 0.125);
INSERT INTO MEMO VALUES (2, 'empty', NULL, NULL, NULL, NULL);
COMMIT;
)SQL";
    load << "SET TERM ^ ;\n"
         << "EXECUTE BLOCK AS\n"
         << "  DECLARE I INTEGER = 1;\n"
         << "BEGIN\n"
         << "  WHILE (I <= " << rows << ") DO\n"
         << "  BEGIN\n"
         << "    INSERT INTO ORDERS (ID, CUSTOMER_ID, ORDERED_ON, AMOUNT, NOTE) VALUES (\n"
         << "      :I, MOD(:I, 5) + 1, DATEADD(MOD(:I, 3650) DAY TO DATE '2015-01-01'),\n"
         << "      MOD(:I, 100000) * 0.01, '주문 ' || :I);\n"
         << "    I = I + 1;\n"
         << "  END\n"
         << "END^\n"
         << "SET TERM ; ^\n"
         << "COMMIT;\n"
         << "ALTER TABLE ORDERS ADD CONSTRAINT PK_ORDERS PRIMARY KEY (ID);\n"
         << "ALTER TABLE ORDERS ADD CONSTRAINT FK_ORDERS_CUSTOMER FOREIGN KEY (CUSTOMER_ID)\n"
         << "  REFERENCES CUSTOMER (ID);\n"
         << "CREATE INDEX IDX_ORDERS_DATE ON ORDERS (ORDERED_ON);\n"
         << "SET GENERATOR GEN_ORDER_ID TO " << rows << ";\n"
         << "COMMIT;\n";
    rc = RunIsql(databasePath, load.str(), &out);
    if (rc != 0) {
        GTEST_FAIL() << "cannot fill the demo database " << target << " (isql-fb exit " << rc
                     << "):\n"
                     << out;
    }

    rc = RunFbsvcmgr({"action_properties", "dbname", ServerSidePath(databasePath), "prp_write_mode",
                      "prp_wm_sync"},
                     &out);
    if (rc != 0) {
        GTEST_FAIL() << "cannot switch forced writes back on for " << target << ":\n" << out;
    }
}

// ---- comparing databases ----------------------------------------------------

std::string DatabaseFingerprint(const std::string& databasePath) {
    // 1. The user tables with their columns, and the generators.
    const std::string catalogue = R"SQL(
SET HEADING OFF;
SELECT 'COL|' || TRIM(RF.RDB$RELATION_NAME) || '|' || TRIM(RF.RDB$FIELD_NAME)
  FROM RDB$RELATION_FIELDS RF
  JOIN RDB$RELATIONS R ON R.RDB$RELATION_NAME = RF.RDB$RELATION_NAME
  WHERE COALESCE(R.RDB$SYSTEM_FLAG, 0) = 0 AND R.RDB$VIEW_BLR IS NULL
    AND R.RDB$EXTERNAL_FILE IS NULL
  ORDER BY RF.RDB$RELATION_NAME, RF.RDB$FIELD_POSITION, RF.RDB$FIELD_NAME;
SELECT 'GEN|' || TRIM(RDB$GENERATOR_NAME) FROM RDB$GENERATORS
  WHERE COALESCE(RDB$SYSTEM_FLAG, 0) = 0 ORDER BY RDB$GENERATOR_NAME;
)SQL";
    std::string out;
    int rc = RunIsql(databasePath, catalogue, &out);
    if (rc != 0) {
        throw std::runtime_error("cannot read the tables of " + RemoteDatabase(databasePath) +
                                 ":\n" + out);
    }
    std::map<std::string, std::vector<std::string>> tables;
    std::vector<std::string> generators;
    for (const std::string& line : Lines(out)) {
        if (line.rfind("COL|", 0) == 0) {
            const auto bar = line.find('|', 4);
            if (bar != std::string::npos) {
                tables[line.substr(4, bar - 4)].push_back(line.substr(bar + 1));
            }
        } else if (line.rfind("GEN|", 0) == 0) {
            generators.push_back(line.substr(4));
        }
    }

    // 2. Per table: the row count and the sum of a hash of every row (the
    //    hash of each column's hash, so that long values cannot overflow a
    //    text). Sums do not depend on the order of the rows.
    std::ostringstream query;
    query << "SET HEADING OFF;\n";
    for (const auto& [table, columns] : tables) {
        std::string row;
        for (const std::string& column : columns) {
            if (!row.empty()) {
                row += " || ',' || ";
            }
            row += "COALESCE(CAST(HASH(" + SqlName(column) + ") AS VARCHAR(24)), 'N')";
        }
        query << "SELECT " << SqlString("FP|" + table + "|") << " || COUNT(*) || '|' || "
              << "COALESCE(SUM(MOD(HASH(" << row << "), 4294967291)), 0) FROM " << SqlName(table)
              << ";\n";
    }
    for (const std::string& generator : generators) {
        query << "SELECT " << SqlString("FP|generator " + generator + "|") << " || GEN_ID("
              << SqlName(generator) << ", 0) FROM RDB$DATABASE;\n";
    }
    rc = RunIsql(databasePath, query.str(), &out);
    if (rc != 0) {
        throw std::runtime_error("cannot read the contents of " + RemoteDatabase(databasePath) +
                                 ":\n" + out);
    }
    std::string fingerprint;
    for (const std::string& line : Lines(out)) {
        if (line.rfind("FP|", 0) == 0) {
            fingerprint += line.substr(3);
            fingerprint += '\n';
        }
    }
    return fingerprint;
}

} // namespace slvtest
