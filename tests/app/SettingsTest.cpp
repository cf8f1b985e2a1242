// Environment.ini: reading and writing single keys.
#include "app/Settings.h"
#include "platform/Processes.h"
#include "testsupport/ChildProcess.h"
#include "testsupport/Files.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using slvtest::ModeOf;
using slvtest::ReadFile;
using slvtest::TempDir;
using slvtest::WriteFile;

namespace {

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override { app::SetToolFolderOverride(FDir.Slash()); }
    void TearDown() override { app::SetToolFolderOverride(""); }

    std::string Ini() const { return FDir / "Environment.ini"; }

    TempDir FDir;
};

// ---------------------------------------------------------------- reading

struct ReadCase {
    const char* Name;
    std::string Contents;
    const char* Section;
    const char* Key;
    std::string Expected;
};

class ReadIniValueCases : public SettingsTest, public ::testing::WithParamInterface<ReadCase> {};

TEST_P(ReadIniValueCases, ReadsTheCleanedValue) {
    const ReadCase& c = GetParam();
    WriteFile(Ini(), c.Contents);
    EXPECT_EQ(app::ReadIniValue("Environment.ini", c.Section, c.Key), c.Expected);
}

const std::string Long300 = std::string(300, 'x');

INSTANTIATE_TEST_SUITE_P(
    Values, ReadIniValueCases,
    ::testing::Values(
        ReadCase{"NullIsEmpty", "[SYSTEM]\nDBSvrIP=Null\n", "SYSTEM", "DBSvrIP", ""},
        ReadCase{"NothingAfterEquals", "[SYSTEM]\nDBSvrIP=\n", "SYSTEM", "DBSvrIP", ""},
        ReadCase{"LowerCaseNullIsAValue", "[SYSTEM]\nDBSvrIP=null\n", "SYSTEM", "DBSvrIP", "null"},
        ReadCase{"UpperCaseNullIsAValue", "[SYSTEM]\nDBSvrIP=NULL\n", "SYSTEM", "DBSvrIP", "NULL"},
        ReadCase{"NullWithBlanksIsEmpty", "[SYSTEM]\nDBSvrIP=  Null \t\n", "SYSTEM", "DBSvrIP", ""},
        ReadCase{"BlanksAroundValue", "[SYSSETUP]\nDBBackPOS=  /backup/  \n", "SYSSETUP",
                 "DBBackPOS", "/backup/"},
        ReadCase{"CrLfAndTabs", "[SYSTEM]\r\nDBSvrIP=\t10.1.2.3\t\r\n", "SYSTEM", "DBSvrIP",
                 "10.1.2.3"},
        ReadCase{"SectionAndKeyCaseIgnored", "[system]\ndbsvrip=10.0.0.7\n", "SYSTEM", "DBSvrIP",
                 "10.0.0.7"},
        ReadCase{"BlanksAroundNames", "  [ SYSTEM ]  \n  DBSvrIP   =  10.0.0.8\n", "SYSTEM",
                 "DBSvrIP", "10.0.0.8"},
        ReadCase{"ValueAfterFirstEquals", "[SYSTEM]\nDBPathDB=/db/a=b.fdb\n", "SYSTEM", "DBPathDB",
                 "/db/a=b.fdb"},
        ReadCase{"QuotesDropped", "[SYSTEM]\nDBSvrIP=\"10.0.0.9\"\n", "SYSTEM", "DBSvrIP",
                 "10.0.0.9"},
        ReadCase{"UnpairedQuoteKept", "[SYSTEM]\nDBSvrIP=\"10.0.0.9\n", "SYSTEM", "DBSvrIP",
                 "\"10.0.0.9"},
        ReadCase{"KeyInOtherSectionOnly", "[SYSSETUP]\nDBSvrIP=1.1.1.1\n[SYSTEM]\nX=1\n", "SYSTEM",
                 "DBSvrIP", ""},
        ReadCase{"KeyBeforeAnySection", "DBSvrIP=1.1.1.1\n[SYSTEM]\n", "SYSTEM", "DBSvrIP", ""},
        ReadCase{"CommentedKey", "[SYSTEM]\n;DBSvrIP=1.1.1.1\n", "SYSTEM", "DBSvrIP", ""},
        ReadCase{"FirstKeyCounts", "[SYSTEM]\nDBSvrIP=first\nDBSvrIP=second\n", "SYSTEM", "DBSvrIP",
                 "first"},
        ReadCase{"FirstSectionCounts", "[SYSTEM]\nA=1\n[SYSTEM]\nDBSvrIP=second\n", "SYSTEM",
                 "DBSvrIP", ""},
        ReadCase{"KeyPrefixDoesNotMatch", "[SYSTEM]\nDBSvrIPX=1\n", "SYSTEM", "DBSvrIP", ""},
        ReadCase{"LineWithoutEquals", "[SYSTEM]\nDBSvrIP\n", "SYSTEM", "DBSvrIP", ""},
        ReadCase{"ByteOrderMark", "\xEF\xBB\xBF[SYSTEM]\r\nDBSvrIP=10.0.0.10\r\n", "SYSTEM",
                 "DBSvrIP", "10.0.0.10"},
        ReadCase{"KoreanValue", "[SYSTEM]\nDBPathDB=/데이터/솔바네.fdb\n", "SYSTEM", "DBPathDB",
                 "/데이터/솔바네.fdb"},
        ReadCase{"LastLineWithoutBreak", "[SYSTEM]\nDBSvrIP=10.0.0.11", "SYSTEM", "DBSvrIP",
                 "10.0.0.11"},
        ReadCase{"LongValueCutTo254", "[SYSTEM]\nDBPathDB=" + Long300 + "\n", "SYSTEM", "DBPathDB",
                 std::string(254, 'x')},
        ReadCase{"CutNeverSplitsACharacter",
                 "[SYSTEM]\nDBPathDB=" + std::string(253, 'a') + "가나\n", "SYSTEM", "DBPathDB",
                 std::string(253, 'a')},
        ReadCase{"CutAfterWholeCharacter", "[SYSTEM]\nDBPathDB=" + std::string(251, 'a') + "가나\n",
                 "SYSTEM", "DBPathDB", std::string(251, 'a') + "가"},
        ReadCase{"EmptyFile", "", "SYSTEM", "DBSvrIP", ""}),
    [](const ::testing::TestParamInfo<ReadCase>& p) { return std::string(p.param.Name); });

TEST_F(SettingsTest, MissingFileReadsEmpty) {
    EXPECT_EQ(app::ReadIniValue("Environment.ini", "SYSTEM", "DBSvrIP"), "");
}

TEST_F(SettingsTest, UnreadableFileReadsEmpty) {
    WriteFile(Ini(), "[SYSTEM]\nDBSvrIP=10.0.0.1\n");
    ::chmod(Ini().c_str(), 0);
    ::chmod(FDir.Path().c_str(), 0755);
    EXPECT_EQ(slvtest::RunUnprivileged([&] {
                  return app::ReadIniValue("Environment.ini", "SYSTEM", "DBSvrIP").empty() ? 0 : 1;
              }),
              0);
}

TEST_F(SettingsTest, ValueComesFromTheToolFolder) {
    TempDir other;
    WriteFile(other / "Environment.ini", "[SYSTEM]\nDBSvrIP=elsewhere\n");
    WriteFile(Ini(), "[SYSTEM]\nDBSvrIP=here\n");
    EXPECT_EQ(app::ReadIniValue("Environment.ini", "SYSTEM", "DBSvrIP"), "here");
    app::SetToolFolderOverride(other.Path()); // without trailing "/"
    EXPECT_EQ(app::ToolFolder(), other.Slash());
    EXPECT_EQ(app::ReadIniValue("Environment.ini", "SYSTEM", "DBSvrIP"), "elsewhere");
}

TEST(ToolFolder, IsTheExecutablesFolder) {
    app::SetToolFolderOverride("");
    const std::string exe = platform::ExecutableFile();
    ASSERT_FALSE(exe.empty());
    EXPECT_EQ(app::ToolFolder(), exe.substr(0, exe.rfind('/') + 1));
}

// ---------------------------------------------------------------- writing

struct StoreCase {
    const char* Name;
    std::string Before;
    const char* Section;
    const char* Key;
    const char* Value;
    std::string After;
};

class ProfileStoreCases : public SettingsTest, public ::testing::WithParamInterface<StoreCase> {};

TEST_P(ProfileStoreCases, ChangesOnlyWhatItMust) {
    const StoreCase& c = GetParam();
    WriteFile(Ini(), c.Before);
    ASSERT_TRUE(app::WriteIniValue("Environment.ini", c.Section, c.Key, c.Value));
    EXPECT_EQ(ReadFile(Ini()), c.After);
    EXPECT_EQ(app::ReadIniValue("Environment.ini", c.Section, c.Key), c.Value);
    // Nothing but the file itself is left in the folder.
    EXPECT_EQ(FDir.Names(), std::set<std::string>{"Environment.ini"});
}

const std::string OtherProgramsFile = "; Solvane settings\r\n"
                                      "[SYSTEM]\r\n"
                                      "SvrIP=192.168.0.10\r\n"
                                      "DBSvrIP = 192.168.0.10 \r\n"
                                      "DBPathDB=D:/DB/SOLVANE.FDB\r\n"
                                      "\r\n"
                                      "; printing\r\n"
                                      "[PRINT]\r\n"
                                      "Port=LPT1\r\n"
                                      "[SYSSETUP]\r\n"
                                      "DBBackPOS=/backup/\r\n"
                                      "Lang=ko";

INSTANTIATE_TEST_SUITE_P(
    Values, ProfileStoreCases,
    ::testing::Values(
        StoreCase{"ReplaceInForeignCrLfFile", OtherProgramsFile, "SYSTEM", "DBSvrIP", "127.0.0.1",
                  "; Solvane settings\r\n"
                  "[SYSTEM]\r\n"
                  "SvrIP=192.168.0.10\r\n"
                  "DBSvrIP = 127.0.0.1 \r\n"
                  "DBPathDB=D:/DB/SOLVANE.FDB\r\n"
                  "\r\n"
                  "; printing\r\n"
                  "[PRINT]\r\n"
                  "Port=LPT1\r\n"
                  "[SYSSETUP]\r\n"
                  "DBBackPOS=/backup/\r\n"
                  "Lang=ko"},
        StoreCase{"ReplaceOnLastLineWithoutBreak", OtherProgramsFile, "syssetup", "LANG", "en",
                  OtherProgramsFile.substr(0, OtherProgramsFile.size() - 2) + "en"},
        StoreCase{"AddKeyToExistingSection", OtherProgramsFile, "SYSTEM", "Extra", "1",
                  "; Solvane settings\r\n"
                  "[SYSTEM]\r\n"
                  "SvrIP=192.168.0.10\r\n"
                  "DBSvrIP = 192.168.0.10 \r\n"
                  "DBPathDB=D:/DB/SOLVANE.FDB\r\n"
                  "Extra=1\r\n"
                  "\r\n"
                  "; printing\r\n"
                  "[PRINT]\r\n"
                  "Port=LPT1\r\n"
                  "[SYSSETUP]\r\n"
                  "DBBackPOS=/backup/\r\n"
                  "Lang=ko"},
        StoreCase{"AddKeyToLastSectionWithoutFinalBreak", OtherProgramsFile, "SYSSETUP", "New", "v",
                  OtherProgramsFile + "\r\nNew=v"},
        StoreCase{"AddSectionToFileWithoutFinalBreak", OtherProgramsFile, "NEWSECTION", "K", "v",
                  OtherProgramsFile + "\r\n[NEWSECTION]\r\nK=v"},
        StoreCase{"AddSectionToLfFile", "[SYSTEM]\nSvrIP=1\n", "SYSSETUP", "DBBackPOS", "/b/",
                  "[SYSTEM]\nSvrIP=1\n[SYSSETUP]\nDBBackPOS=/b/\n"},
        StoreCase{"AddKeyToEmptySection", "[SYSTEM]\n[SYSSETUP]\nA=1\n", "SYSTEM", "DBSvrIP",
                  "127.0.0.1", "[SYSTEM]\nDBSvrIP=127.0.0.1\n[SYSSETUP]\nA=1\n"},
        StoreCase{"AddKeyAfterKeysNotAfterComments",
                  "[SYSTEM]\nA=1\n\n; about the next section\n[NEXT]\n", "SYSTEM", "B", "2",
                  "[SYSTEM]\nA=1\nB=2\n\n; about the next section\n[NEXT]\n"},
        StoreCase{"KeyCaseKeptAsInFile", "[system]\ndbsvrip=1.2.3.4\n", "SYSTEM", "DBSvrIP",
                  "127.0.0.1", "[system]\ndbsvrip=127.0.0.1\n"},
        StoreCase{"CommentedKeyNotTouched", "[SYSTEM]\n;DBSvrIP=old\n", "SYSTEM", "DBSvrIP", "new",
                  "[SYSTEM]\n;DBSvrIP=old\nDBSvrIP=new\n"},
        StoreCase{"ByteOrderMarkKept", "\xEF\xBB\xBF[SYSTEM]\r\nA=1\r\n", "SYSTEM", "A", "2",
                  "\xEF\xBB\xBF[SYSTEM]\r\nA=2\r\n"},
        StoreCase{"EmptyValue", "[SYSTEM]\nA = 1 \n", "SYSTEM", "A", "", "[SYSTEM]\nA =  \n"},
        StoreCase{"IntoEmptyValue", "[SYSTEM]\nA=  \n", "SYSTEM", "A", "v", "[SYSTEM]\nA=v\n"},
        StoreCase{"QuotedValueReplacedWhole", "[SYSTEM]\nA=\"x\"\n", "SYSTEM", "A", "y",
                  "[SYSTEM]\nA=y\n"},
        StoreCase{"CommentAboveNextSectionStays", "[A]\nk=1\n;next one\n[B]\n", "A", "n", "2",
                  "[A]\nk=1\nn=2\n;next one\n[B]\n"},
        StoreCase{"OnlyCommentsInSection", "[A]\n;c1\n;c2\n[B]\n", "A", "n", "2",
                  "[A]\nn=2\n;c1\n;c2\n[B]\n"},
        StoreCase{"KoreanValue", "[SYSSETUP]\nDBBackPOS=/b/\n", "SYSSETUP", "DBBackPOS", "/백업/",
                  "[SYSSETUP]\nDBBackPOS=/백업/\n"},
        StoreCase{"EmptyFileGetsCrLf", "", "SYSTEM", "SvrIP", "127.0.0.1",
                  "[SYSTEM]\r\nSvrIP=127.0.0.1\r\n"},
        StoreCase{"SameValueLeavesFileAsItIs", "[SYSTEM]\nA = 1\n", "SYSTEM", "A", "1",
                  "[SYSTEM]\nA = 1\n"}),
    [](const ::testing::TestParamInfo<StoreCase>& p) { return std::string(p.param.Name); });

TEST_F(SettingsTest, WriteCreatesMissingFileWithCrLf) {
    ASSERT_TRUE(app::WriteIniValue("Environment.ini", "SYSTEM", "SvrIP", "127.0.0.1"));
    ASSERT_TRUE(app::WriteIniValue("Environment.ini", "SYSTEM", "DBSvrIP", "127.0.0.1"));
    ASSERT_TRUE(app::WriteIniValue("Environment.ini", "SYSTEM", "DBPathDB", "/db/SOLVANE.FDB"));
    ASSERT_TRUE(app::WriteIniValue("Environment.ini", "SYSSETUP", "DBBackPOS", "/backup/"));
    EXPECT_EQ(ReadFile(Ini()), "[SYSTEM]\r\nSvrIP=127.0.0.1\r\nDBSvrIP=127.0.0.1\r\n"
                               "DBPathDB=/db/SOLVANE.FDB\r\n[SYSSETUP]\r\nDBBackPOS=/backup/\r\n");
    EXPECT_EQ(app::ReadIniValue("Environment.ini", "SYSSETUP", "DBBackPOS"), "/backup/");
}

TEST_F(SettingsTest, NewFileTakesTheUsualPermissions) {
    const mode_t old = ::umask(022);
    const bool written = app::WriteIniValue("Environment.ini", "SYSTEM", "A", "1");
    ::umask(old);
    ASSERT_TRUE(written);
    EXPECT_EQ(ModeOf(Ini()), 0644u);
}

TEST_F(SettingsTest, WriteKeepsPermissionBits) {
    WriteFile(Ini(), "[SYSTEM]\nA=1\n");
    ::chmod(Ini().c_str(), 0640);
    ASSERT_TRUE(app::WriteIniValue("Environment.ini", "SYSTEM", "A", "2"));
    EXPECT_EQ(ModeOf(Ini()), 0640u);
    EXPECT_EQ(ReadFile(Ini()), "[SYSTEM]\nA=2\n");
}

TEST_F(SettingsTest, WriteOntoReadOnlyFileFailsAndKeepsIt) {
    const std::string before = "[SYSTEM]\r\nDBSvrIP=10.0.0.1\r\n";
    WriteFile(Ini(), before);
    ::chmod(Ini().c_str(), 0444);
    EXPECT_FALSE(app::WriteIniValue("Environment.ini", "SYSTEM", "DBSvrIP", "127.0.0.1"));
    EXPECT_EQ(ReadFile(Ini()), before);
    EXPECT_EQ(ModeOf(Ini()), 0444u);
    EXPECT_EQ(FDir.Names(), std::set<std::string>{"Environment.ini"});
}

TEST_F(SettingsTest, WriteIntoReadOnlyFolderFailsAndKeepsFile) {
    const std::string before = "[SYSTEM]\nDBSvrIP=10.0.0.1\n";
    WriteFile(Ini(), before);
    ::chmod(Ini().c_str(), 0666); // the file itself may be written
    ::chmod(FDir.Path().c_str(), 0555);
    const int result = slvtest::RunUnprivileged([] {
        const bool existing = app::WriteIniValue("Environment.ini", "SYSTEM", "DBSvrIP", "x");
        const bool fresh = app::WriteIniValue("Other.ini", "SYSTEM", "DBSvrIP", "x");
        return (existing ? 1 : 0) + (fresh ? 2 : 0);
    });
    ::chmod(FDir.Path().c_str(), 0700);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(ReadFile(Ini()), before);
    EXPECT_EQ(FDir.Names(), std::set<std::string>{"Environment.ini"});
}

TEST_F(SettingsTest, WriteIntoMissingFolderFails) {
    app::SetToolFolderOverride(FDir / "missing/");
    EXPECT_FALSE(app::WriteIniValue("Environment.ini", "SYSTEM", "A", "1"));
    EXPECT_FALSE(std::filesystem::exists(FDir / "missing"));
}

TEST_F(SettingsTest, WriteOntoFolderFails) {
    std::filesystem::create_directory(Ini());
    EXPECT_FALSE(app::WriteIniValue("Environment.ini", "SYSTEM", "A", "1"));
    EXPECT_TRUE(std::filesystem::is_directory(Ini()));
}

TEST_F(SettingsTest, LineBreaksAndBadNamesAreRefused) {
    const std::string before = "[SYSTEM]\nA=1\n";
    WriteFile(Ini(), before);
    EXPECT_FALSE(app::WriteIniValue("Environment.ini", "SYSTEM", "A", "1\n[EVIL]\nB=2"));
    EXPECT_FALSE(app::WriteIniValue("Environment.ini", "SYSTEM", "A", "1\r2"));
    EXPECT_FALSE(app::WriteIniValue("Environment.ini", "SYS]TEM", "A", "1"));
    EXPECT_FALSE(app::WriteIniValue("Environment.ini", "SYSTEM", "A=B", "1"));
    EXPECT_FALSE(app::WriteIniValue("Environment.ini", "", "A", "1"));
    EXPECT_FALSE(app::WriteIniValue("Environment.ini", "SYSTEM", " ", "1"));
    EXPECT_FALSE(app::WriteIniValue("Environment.ini", "SYSTEM", ";A", "1"));
    EXPECT_EQ(ReadFile(Ini()), before);
}

TEST_F(SettingsTest, WriteThroughLinkChangesTheTarget) {
    TempDir real;
    WriteFile(real / "Environment.ini", "[SYSTEM]\nA=1\n");
    std::filesystem::create_symlink(real / "Environment.ini", Ini());
    ASSERT_TRUE(app::WriteIniValue("Environment.ini", "SYSTEM", "A", "2"));
    EXPECT_TRUE(std::filesystem::is_symlink(Ini()));
    EXPECT_EQ(ReadFile(real / "Environment.ini"), "[SYSTEM]\nA=2\n");
    EXPECT_EQ(real.Names(), std::set<std::string>{"Environment.ini"});
}

TEST_F(SettingsTest, ReaderSeesOldOrNewFileNeverAMixture) {
    // The file is replaced by a rename: a reader that opened the old file
    // keeps reading the old contents whole.
    WriteFile(Ini(), "[SYSTEM]\nA=" + std::string(1000, 'o') + "\n");
    std::ifstream oldReader(Ini(), std::ios::binary);
    ASSERT_TRUE(app::WriteIniValue("Environment.ini", "SYSTEM", "A", std::string(1000, 'n')));
    const std::string seen = slvtest::ReadRest(oldReader);
    EXPECT_EQ(seen, "[SYSTEM]\nA=" + std::string(1000, 'o') + "\n");
    EXPECT_EQ(app::ReadIniValue("Environment.ini", "SYSTEM", "A"), std::string(254, 'n'));
}

} // namespace
