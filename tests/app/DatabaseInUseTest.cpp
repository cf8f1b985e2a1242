// The in-use check against the real server: the server's list of databases
// in use, and an ordinary user who cannot see the server's files.
#include "testsupport/CommandTest.h"

#include "app/Commands.h"
#include "app/DatabaseInUse.h"
#include "platform/Processes.h"
#include "testsupport/Process.h"

namespace cmdtest {
namespace {

class DatabaseInUseTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { UseUtf8Locale(); }
    void SetUp() override { Folder = slvtest::MakeTempDir("commands-inuse"); }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(Folder, ignored);
    }
    std::string Folder;
};

app::TServerAnswer Ask(const std::string& path, const std::string& formerName = {}) {
    return app::AskServerDatabaseInUse(app::LocalServer, path, formerName);
}

TEST_F(DatabaseInUseTest, ServerReportsADatabaseWhileItHasAnAttachment) {
    SLV_REQUIRE_SERVER();
    const std::string database = Folder + "/솔바네.fdb";
    CopyForServer(Demo().Database, database);
    EXPECT_EQ(Ask(database), app::TServerAnswer::NotInUse);

    TAttachedSession session(database);
    ASSERT_TRUE(WaitFor([&] { return Ask(database) == app::TServerAnswer::InUse; }));
    const auto answer = app::QueryServerDatabases(app::LocalServer);
    ASSERT_TRUE(answer.has_value());
    EXPECT_GE(answer->Attachments, 1);
    EXPECT_GE(answer->Databases, 1);
    EXPECT_NE(std::find(answer->Names.begin(), answer->Names.end(), database), answer->Names.end());
    EXPECT_TRUE(app::DatabaseFileInUse(database));
    // The same file under a name the server does not report.
    const std::string link = Folder + "/link.fdb";
    ASSERT_EQ(::symlink(database.c_str(), link.c_str()), 0);
    EXPECT_EQ(Ask(link), app::TServerAnswer::InUse);

    // Moved while attached: the same file under its new name, or the former
    // name the server still reports, is in use.
    const std::string moved = Folder + "/moved.fdb";
    ASSERT_EQ(::rename(database.c_str(), moved.c_str()), 0);
    EXPECT_EQ(Ask(moved, database), app::TServerAnswer::InUse);
    EXPECT_TRUE(app::DatabaseFileInUse(moved, database));
    ASSERT_EQ(::rename(moved.c_str(), database.c_str()), 0);

    session.End();
    EXPECT_TRUE(WaitFor([&] { return Ask(database) == app::TServerAnswer::NotInUse; }));
    EXPECT_FALSE(app::DatabaseFileInUse(database));
}

TEST_F(DatabaseInUseTest, ServerThatCannotBeReachedGivesNoAnswer) {
    EXPECT_EQ(app::AskServerDatabaseInUse("127.0.0.1/3099", Folder + "/x.fdb"),
              app::TServerAnswer::NoAnswer);
    EXPECT_FALSE(app::QueryServerDatabases("127.0.0.1/3099").has_value());
}

// Run as an ordinary user by the test below, in a fresh process: the
// server's files are out of sight, the server's answer is not.
TEST(DatabaseInUseChild, DISABLED_AsOrdinaryUser) {
    const char* path = std::getenv("SLV_INUSE_PATH");
    ASSERT_NE(path, nullptr);
    EXPECT_TRUE(platform::ProcessesHoldingFile(path).empty());
    EXPECT_TRUE(app::DatabaseFileInUse(path));
}

TEST_F(DatabaseInUseTest, OrdinaryUserLearnsItFromTheServer) {
    SLV_REQUIRE_SERVER();
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs to start a process as another user";
    }
    const std::string database = Folder + "/held.fdb";
    CopyForServer(Demo().Database, database);
    TAttachedSession session(database);
    ASSERT_TRUE(WaitFor([&] { return Ask(database) == app::TServerAnswer::InUse; }));

    EXPECT_EQ(slvtest::RunTestAsNobody("DatabaseInUseChild.DISABLED_AsOrdinaryUser",
                                       {"SLV_INUSE_PATH=" + database}),
              0);
}

} // namespace
} // namespace cmdtest
