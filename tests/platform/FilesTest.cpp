// File operations on a real folder: the read-only state, renaming without
// replacing, and what counts as a file or a folder.
#include "platform/Files.h"
#include "testsupport/Files.h"

#include <gtest/gtest.h>

#include <filesystem>

using slvtest::ModeOf;
using slvtest::TempDir;
using slvtest::WriteFile;

namespace {

class FilesTest : public ::testing::Test {
protected:
    TempDir FDir;
};

TEST_F(FilesTest, ClearingReadOnlyKeepsOtherBits) {
    WriteFile(FDir / "f", "x");
    ::chmod((FDir / "f").c_str(), 0454);
    EXPECT_TRUE(platform::IsReadOnlyFile(FDir / "f"));
    EXPECT_TRUE(platform::ClearReadOnly(FDir / "f"));
    EXPECT_EQ(ModeOf(FDir / "f"), 0654u);
    EXPECT_FALSE(platform::IsReadOnlyFile(FDir / "f"));
}

TEST_F(FilesTest, RenameRefusesAnExistingName) {
    WriteFile(FDir / "SOLVANE.FDB", "new");
    WriteFile(FDir / "SOLVANE~.fdb", "old");
    EXPECT_FALSE(platform::RenameFile(FDir / "SOLVANE.FDB", FDir / "SOLVANE~.fdb"));
    EXPECT_EQ(slvtest::ReadFile(FDir / "SOLVANE~.fdb"), "old");
    EXPECT_EQ(slvtest::ReadFile(FDir / "SOLVANE.FDB"), "new");
    std::filesystem::remove(FDir / "SOLVANE~.fdb");
    EXPECT_TRUE(platform::RenameFile(FDir / "SOLVANE.FDB", FDir / "SOLVANE~.fdb"));
    EXPECT_EQ(slvtest::ReadFile(FDir / "SOLVANE~.fdb"), "new");
    EXPECT_FALSE(platform::FileExists(FDir / "SOLVANE.FDB"));
    EXPECT_FALSE(platform::RenameFile(FDir / "missing", FDir / "other"));
}

TEST_F(FilesTest, ExistenceTests) {
    WriteFile(FDir / "f", "");
    std::filesystem::create_directory(FDir / "d");
    EXPECT_TRUE(platform::FileExists(FDir / "f"));
    EXPECT_FALSE(platform::FileExists(FDir / "d"));
    EXPECT_FALSE(platform::FileExists(FDir / "none"));
    EXPECT_FALSE(platform::FileExists(""));
    EXPECT_TRUE(platform::DirectoryExists(FDir / "d"));
    EXPECT_FALSE(platform::DirectoryExists(FDir / "f"));
}

} // namespace
