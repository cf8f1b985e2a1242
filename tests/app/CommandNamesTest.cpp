// The names, texts and checks the commands work out, without a server.
#include "app/Commands.h"
#include "platform/Processes.h"
#include "services/ServerDatabases.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>

namespace {

using namespace std::string_literals;

using fib::TServerDatabases;

TEST(CommandNames, TimeStampIsYearMonthDayHourMinuteWithLeadingZeros) {
    EXPECT_EQ(app::BackupTimeStamp({2024, 6, 19, 22, 17, 59, 999}), "240619_2217");
    EXPECT_EQ(app::BackupTimeStamp({2009, 1, 2, 3, 4, 5, 0}), "090102_0304");
    EXPECT_EQ(app::BackupTimeStamp({2100, 12, 31, 0, 0, 0, 0}), "001231_0000");
    EXPECT_EQ(app::BackupFileName({2024, 6, 19, 22, 17, 0, 0}), "SLV_Backup_240619_2217.fbk");
}

TEST(CommandNames, JoinPutsExactlyOneSeparatorBetween) {
    EXPECT_EQ(app::JoinFolder("/data/backup/", "a.fbk"), "/data/backup/a.fbk");
    EXPECT_EQ(app::JoinFolder("/data/backup", "a.fbk"), "/data/backup/a.fbk");
    EXPECT_EQ(app::JoinFolder("/data/backup//", "a.fbk"), "/data/backup/a.fbk");
    EXPECT_EQ(app::JoinFolder("/", "a.fbk"), "/a.fbk");
    EXPECT_EQ(app::JoinFolder("백업", "a.fbk"), "백업/a.fbk");
    EXPECT_EQ(app::JoinFolder("", "a.fbk"), "a.fbk");
}

TEST(CommandNames, RestoreTargetSitsBesideTheDatabase) {
    EXPECT_EQ(app::RestoreTargetPath("/db/SOLVANE.FDB"), "/db/SOLVANE복원.fdb");
    EXPECT_EQ(app::RestoreTargetPath("/db/abc"), "/db/복원.fdb");
    EXPECT_EQ(app::RestoreTargetPath("/db/abcd"), "/db/복원.fdb");
    EXPECT_EQ(app::RestoreTargetPath("/db/솔바네.fdb"), "/db/솔바네복원.fdb");
    EXPECT_EQ(app::RestoreTargetPath("x.fdb"), "x복원.fdb");
    // The file-name part is cut, never the folder part.
    EXPECT_EQ(app::RestoreTargetPath("/db.old/ab"), "/db.old/복원.fdb");
}

TEST(CommandNames, AsideNameReplacesTheLastFourCharacters) {
    EXPECT_EQ(app::AsideDatabasePath("/db/SOLVANE.FDB"), "/db/SOLVANE~.fdb");
    EXPECT_EQ(app::AsideDatabasePath("/db/솔바네.fdb"), "/db/솔바네~.fdb");
    EXPECT_EQ(app::AsideDatabasePath("abc"), "~.fdb");
    // The folder part is never cut into.
    EXPECT_EQ(app::AsideDatabasePath("/db.old/ab"), "/db.old/~.fdb");
}

// Names without a four-character extension are cut by characters, never
// inside a UTF-8 sequence; each broken byte counts as one character.
TEST(CommandNames, CutsCountCharactersNotBytes) {
    struct TCase {
        std::string Database, Restore, Aside;
    };
    const TCase cases[] = {
        {"/data/가나", "/data/복원.fdb", "/data/~.fdb"},
        {"/data/가나다라마", "/data/가복원.fdb", "/data/가~.fdb"},
        {"/data/솔바네DB1", "/data/솔바복원.fdb", "/data/솔바~.fdb"},
        {"/data/x\xFF\xFE"
         "yz.",
         "/data/x\xFF"
         "복원.fdb",
         "/data/x\xFF~.fdb"},
        {"/data/\xEA\xB0"
         "abcd",
         "/data/\xEA\xB0"
         "복원.fdb",
         "/data/\xEA\xB0~.fdb"},
    };
    for (const TCase& c : cases) {
        EXPECT_EQ(app::RestoreTargetPath(c.Database), c.Restore) << c.Database;
        EXPECT_EQ(app::AsideDatabasePath(c.Database), c.Aside) << c.Database;
    }
    EXPECT_EQ(app::DropLastChars("😀ab", 2), "😀");
    EXPECT_EQ(app::DropLastChars("😀ab", 3), "");
    EXPECT_EQ(app::DropLastChars("", 4), "");
}

TEST(CommandNames, WorkNamesAreUniqueAndMatchNoListMask) {
    const std::string final = "/b/SLV_Backup_240619_2217.fbk";
    const std::string a = app::WorkInProgressPath(final);
    const std::string b = app::WorkInProgressPath(final);
    EXPECT_NE(a, b);
    for (const std::string& work : {a, b}) {
        EXPECT_EQ(work.rfind(final + ".", 0), 0u) << work;
        // Its extension is neither .fbk nor .fdb, nor starts with either.
        const std::string extension = work.substr(work.rfind('.') + 1);
        EXPECT_EQ(extension, "part");
    }
}

TEST(CommandNames, ServerHostLeavesOutThePort) {
    EXPECT_EQ(app::ServerHost("127.0.0.1"), "127.0.0.1");
    EXPECT_EQ(app::ServerHost("127.0.0.1/3050"), "127.0.0.1");
    EXPECT_EQ(app::ServerHost("[::1]/3050"), "::1");
    EXPECT_EQ(app::ServerHost("srv"), "srv");
}

TEST(CommandNames, RestoreIsCompleteOnlyWithItsClosingLine) {
    EXPECT_TRUE(app::IsRestoreClosingLine("gbak:finishing, closing, and going home"));
    EXPECT_TRUE(app::IsRestoreClosingLine("gbak:finishing, closing, and going home "));
    EXPECT_FALSE(app::IsRestoreClosingLine("gbak:   40000 records restored"));
    EXPECT_FALSE(app::IsRestoreClosingLine(""));
}

// --- the server's list of databases in use ---------------------------------

std::string Number(char item, uint32_t value) {
    std::string out(1, item);
    for (int i = 0; i < 4; ++i) {
        out += static_cast<char>((value >> (8 * i)) & 0xFF);
    }
    return out;
}

std::string Name(const std::string& name) {
    std::string out(1, '\x6A');
    out += static_cast<char>(name.size() & 0xFF);
    out += static_cast<char>((name.size() >> 8) & 0xFF);
    return out + name;
}

TEST(ServerDatabases, ReadsCountsAndNames) {
    const std::string reply = "\x32"s + Number(5, 3) + Number(6, 2) + Name("/var/tmp/a.fdb") +
                              Name("/data/솔바네.fdb") + "\x7F\x01";
    TServerDatabases result;
    ASSERT_TRUE(fib::ParseServerDatabases(reply.data(), reply.size(), result));
    EXPECT_EQ(result.Attachments, 3);
    EXPECT_EQ(result.Databases, 2);
    EXPECT_EQ(result.Names, (std::vector<std::string>{"/var/tmp/a.fdb", "/data/솔바네.fdb"}));
}

TEST(ServerDatabases, NoDatabasesAndTrailingBufferBytes) {
    std::string reply = "\x32"s + Number(5, 0) + Number(6, 0) + "\x7F\x01";
    reply.append(100, '\0');
    TServerDatabases result;
    ASSERT_TRUE(fib::ParseServerDatabases(reply.data(), reply.size(), result));
    EXPECT_EQ(result.Attachments, 0);
    EXPECT_TRUE(result.Names.empty());
}

TEST(ServerDatabases, RefusesWhatItCannotBeSureOf) {
    TServerDatabases result;
    const std::vector<std::string> bad = {
        "",
        "\x43"s + Number(5, 0) + "\x7F\x01",              // another item
        "\x32"s + Number(5, 1) + "\x02",                  // truncated
        "\x32"s + Number(5, 1) + "\x01",                  // ended inside the block
        "\x32"s + Number(5, 1) + "\x6A\x10\x00/short",    // name past the reply
        "\x32\x05\x01\x00",                               // number past the reply
        "\x32"s + Number(5, 1) + Name("/a.fdb") + "\x09", // unknown item
        "\x32"s + Number(5, 1) + "\x7F",                  // no reply end
        "\x32"s + Number(5, 1) + "\x7F\x02",              // truncated after the block
    };
    for (const std::string& reply : bad) {
        EXPECT_FALSE(fib::ParseServerDatabases(reply.data(), reply.size(), result))
            << testing::PrintToString(reply);
    }
    EXPECT_FALSE(fib::ParseServerDatabases(nullptr, 10, result));
}

// --- processes holding a file ------------------------------------------------

TEST(ProcessesHoldingFile, FindsThisProcessWhileItHoldsTheFile) {
    char pattern[] = "/tmp/slv-inuse-XXXXXX";
    const int fd = ::mkstemp(pattern);
    ASSERT_GE(fd, 0);
    const std::string path = pattern;
    auto holders = platform::ProcessesHoldingFile(path);
    EXPECT_NE(std::find(holders.begin(), holders.end(), ::getpid()), holders.end());
    // Under another name the same file is still the one held.
    const std::string renamed = path + ".moved";
    ASSERT_EQ(::rename(path.c_str(), renamed.c_str()), 0);
    holders = platform::ProcessesHoldingFile(renamed);
    EXPECT_NE(std::find(holders.begin(), holders.end(), ::getpid()), holders.end());
    ::close(fd);
    holders = platform::ProcessesHoldingFile(renamed);
    EXPECT_EQ(std::find(holders.begin(), holders.end(), ::getpid()), holders.end());
    ::unlink(renamed.c_str());
    EXPECT_TRUE(platform::ProcessesHoldingFile(renamed).empty())
        << "a missing file is held by none";
}

} // namespace
