// The names, texts and checks the commands work out, without a server.
#include "app/Commands.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace std::string_literals;

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

} // namespace
