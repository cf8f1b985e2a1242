// End to end: a real backup through the service components while fbtracemon
// listens on a channel of the test's own.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "TraceTestUtil.h"
#include "TraceBackup.h"

using slvtest::Child;
using slvtest::UniquePrefix;
using slvtest::WaitFor;

namespace {

size_t Find(const std::string& text, const std::string& what, size_t from = 0) {
    return text.find(what, from);
}

} // namespace

TEST(TraceBackup, MonitorHearsAttachStartQueryAndDetachOfARealBackup) {
    SLV_REQUIRE_SERVER();
    UniquePrefix prefix;
    // The process's hook is created at the first successful attach and takes
    // its object names from here.
    setenv("SLV_TRACE_PREFIX", prefix.str().c_str(), 1);

    Child monitor({FBTRACEMON_PATH, "--prefix", prefix.str(), "--timeout", "300"});
    ASSERT_TRUE(monitor.Started());
    {
        fib::TTraceChannel channel(prefix.str());
        ASSERT_TRUE(WaitFor([&] { return channel.MonitorCount() == 1; }))
            << "fbtracemon did not register";
    }

    const std::string dir = slvtest::MakeTempDir("trace-backup");
    const std::string database = dir + "/traced.fdb";
    const std::string backupFile = dir + "/SLV_Backup_traced.fbk";
    slvtest::CreateDemoDatabase(database, 50);

    const int lines = tracetest::RunTracedBackup(database, backupFile);
    EXPECT_GT(lines, 10);
    struct stat st {};
    EXPECT_EQ(stat(backupFile.c_str(), &st), 0) << backupFile;

    ASSERT_TRUE(WaitFor(
        [&] { return monitor.Poll().find("pFIBBackupService1: [Detach]") != std::string::npos; },
        std::chrono::seconds(120)))
        << monitor.Poll();
    kill(monitor.Pid(), SIGTERM);
    int exitCode = -1;
    ASSERT_TRUE(monitor.Wait(std::chrono::seconds(30), &exitCode));
    EXPECT_EQ(exitCode, 0);

    const std::string& out = monitor.Output();
    const std::string app = "[Application: " + fib::ApplicationFileName() + "]\n";
    EXPECT_EQ(fib::ApplicationFileName(), "trace_backup_tests");
    const size_t attach = Find(out, app + "pFIBBackupService1: [Attach]\n");
    const size_t start = Find(out, app + "pFIBBackupService1: [Start]\n");
    const size_t query = Find(out, app + "pFIBBackupService1: [Query]\n");
    const size_t detach = Find(out, app + "pFIBBackupService1: [Detach]\n");
    ASSERT_NE(attach, std::string::npos) << out;
    ASSERT_NE(start, std::string::npos) << out;
    ASSERT_NE(query, std::string::npos) << out;
    ASSERT_NE(detach, std::string::npos) << out;
    EXPECT_LT(attach, start);
    EXPECT_LT(start, query);
    EXPECT_LT(query, detach);
    EXPECT_NE(Find(out, "[Service]\n" + app), std::string::npos) << out;

    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
}
