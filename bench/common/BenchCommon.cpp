#include "bench/BenchCommon.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

extern char** environ;

namespace bench {

int Run(const std::vector<std::string>& args, TStderr errors) {
    std::vector<char*> argv;
    for (const std::string& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    if (errors == TStderr::Discard) {
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    }
    pid_t pid = 0;
    const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        std::fprintf(stderr, "cannot start %s: %s\n", argv[0], std::strerror(rc));
        return -1;
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string WriteCreateScript(const TServer& server, const std::string& db, int rows) {
    const std::string script = std::filesystem::path(db).parent_path() / "create.sql";
    std::ofstream out(script);
    out << "SET SQL DIALECT 3;\n"
        << "CREATE DATABASE '" << server.Host << ":" << db << "' USER '" << server.User
        << "' PASSWORD '" << server.Password << "' PAGE_SIZE 4096 DEFAULT CHARACTER SET UTF8;\n"
        << "CREATE TABLE CUSTOMER (ID INTEGER NOT NULL PRIMARY KEY, NAME VARCHAR(60),"
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
    return script;
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

} // namespace bench
