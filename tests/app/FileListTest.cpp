// The backup file list: masks, plain files only, order, current folder.
#include "app/FileList.h"
#include "platform/Files.h"
#include "rtl/Rtl.h"
#include "testsupport/ChildProcess.h"
#include "testsupport/Files.h"

#include <gtest/gtest.h>

#include <unistd.h>

using slvtest::TempDir;
using slvtest::WriteFile;
using Names = std::vector<std::string>;

namespace {

class FileListTest : public ::testing::Test {
protected:
    void SetUp() override { FStartFolder = std::filesystem::current_path(); }
    void TearDown() override { std::filesystem::current_path(FStartFolder); }

    std::string Cwd() const { return std::filesystem::current_path().string(); }

    std::filesystem::path FStartFolder;
    TempDir FDir;
};

TEST_F(FileListTest, ListsMatchingPlainFilesSortedIgnoringCase) {
    WriteFile(FDir / "b.FBK", "");
    WriteFile(FDir / "a.fdb", "");
    WriteFile(FDir / "C.fbk", "");
    WriteFile(FDir / ".y.fbk", "");    // hidden
    WriteFile(FDir / "notes.txt", ""); // other mask
    WriteFile(FDir / "z.fbk.bak", ""); // extension does not end the name
    WriteFile(FDir / "fbk", "");       // no extension at all
    std::filesystem::create_directory(FDir / "x.fbk");
    std::filesystem::create_symlink(FDir / "a.fdb", FDir / "link.fbk");
    std::filesystem::create_symlink(FDir / "gone", FDir / "dead.fbk");
    std::filesystem::create_directory_symlink(FDir / "x.fbk", FDir / "dirlink.fbk");
    ::mkfifo((FDir / "pipe.fbk").c_str(), 0600);

    app::TFileListLogic list;
    list.ApplyFilePath(FDir.Path());
    EXPECT_EQ(list.Items(), (Names{"a.fdb", "b.FBK", "C.fbk", "link.fbk"}));
    EXPECT_EQ(list.ItemIndex(), -1);
}

TEST_F(FileListTest, StartsInTheCurrentFolderWithTheBackupMasks) {
    WriteFile(FDir / "one.fbk", "");
    std::filesystem::current_path(FDir.Path());
    app::TFileListLogic list;
    EXPECT_EQ(list.Directory(), FDir.Path());
    EXPECT_EQ(list.Mask(), "*.fbk;*.fdb");
    EXPECT_EQ(list.Items(), Names{"one.fbk"});
}

TEST_F(FileListTest, TakingAFolderMakesItTheCurrentFolder) {
    app::TFileListLogic list;
    list.ApplyFilePath(FDir.Slash());
    EXPECT_EQ(list.Directory(), FDir.Path());
    EXPECT_EQ(Cwd(), FDir.Path());

    std::filesystem::current_path("/");
    list.Update();
    EXPECT_EQ(Cwd(), FDir.Path());
}

TEST_F(FileListTest, MissingFolderRaisesAndChangesNothing) {
    WriteFile(FDir / "keep.fbk", "");
    app::TFileListLogic list;
    list.ApplyFilePath(FDir.Path());
    list.SetItemIndex(0);
    std::filesystem::current_path("/");

    const std::string missing = FDir / "missing/";
    try {
        list.ApplyFilePath(missing);
        FAIL() << "no error";
    } catch (const rtl::Exception& e) {
        EXPECT_NE(e.Message().find(missing), std::string::npos) << e.Message();
        EXPECT_NE(e.Message().find("does not exist"), std::string::npos) << e.Message();
    }
    EXPECT_EQ(list.Directory(), FDir.Path());
    EXPECT_EQ(list.Items(), Names{"keep.fbk"});
    EXPECT_EQ(list.ItemIndex(), 0);
    EXPECT_EQ(Cwd(), "/");
}

TEST_F(FileListTest, AFileIsNotAFolder) {
    WriteFile(FDir / "a.fbk", "");
    app::TFileListLogic list;
    EXPECT_THROW(list.ApplyFilePath(FDir / "a.fbk"), rtl::Exception);
}

TEST_F(FileListTest, UnreadableFolderRaisesAndChangesNothing) {
    std::filesystem::create_directory(FDir / "closed");
    ::chmod((FDir / "closed").c_str(), 0);
    ::chmod(FDir.Path().c_str(), 0755);
    const std::string closed = FDir / "closed";
    const int result = slvtest::RunUnprivileged([&] {
        ::chdir("/");
        app::TFileListLogic list;
        try {
            list.ApplyFilePath(closed);
            return 1;
        } catch (const rtl::Exception&) {
        }
        return (list.Directory() == "/" && platform::CurrentFolder() == "/") ? 0 : 2;
    });
    EXPECT_EQ(result, 0);
}

TEST_F(FileListTest, UpdateReadsTheFolderAgain) {
    app::TFileListLogic list;
    list.ApplyFilePath(FDir.Path());
    EXPECT_TRUE(list.Items().empty());
    WriteFile(FDir / "SLV_Backup_250101_0930.fbk", "");
    list.Update();
    EXPECT_EQ(list.Items(), Names{"SLV_Backup_250101_0930.fbk"});
}

TEST_F(FileListTest, UpdateOfVanishedFolderEmptiesTheList) {
    std::filesystem::create_directory(FDir / "sub");
    WriteFile(FDir / "sub/a.fbk", "");
    app::TFileListLogic list;
    list.ApplyFilePath(FDir / "sub");
    EXPECT_EQ(list.Items(), Names{"a.fbk"});
    std::filesystem::current_path(FDir.Path());
    std::filesystem::remove_all(FDir / "sub");
    EXPECT_NO_THROW(list.Update());
    EXPECT_TRUE(list.Items().empty());
    EXPECT_EQ(list.Directory(), FDir / "sub");
}

TEST_F(FileListTest, RelativeFoldersAreResolved) {
    std::filesystem::create_directories(FDir / "a/b");
    WriteFile(FDir / "a/x.fdb", "");
    std::filesystem::current_path(FDir.Path());
    app::TFileListLogic list;
    list.ApplyFilePath("a/b/..//./");
    EXPECT_EQ(list.Directory(), FDir / "a");
    EXPECT_EQ(list.Items(), Names{"x.fdb"});
    EXPECT_EQ(Cwd(), FDir / "a");
    list.ApplyFilePath("/");
    EXPECT_EQ(list.Directory(), "/");
}

TEST_F(FileListTest, SelectionStaysInsideTheList) {
    WriteFile(FDir / "a.fbk", "");
    WriteFile(FDir / "b.fbk", "");
    app::TFileListLogic list;
    list.ApplyFilePath(FDir.Path());
    list.SetItemIndex(1);
    EXPECT_EQ(list.ItemIndex(), 1);
    list.SetItemIndex(2);
    EXPECT_EQ(list.ItemIndex(), -1);
    list.SetItemIndex(0);
    list.SetItemIndex(-5);
    EXPECT_EQ(list.ItemIndex(), -1);
    list.SetItemIndex(0);
    list.Update();
    EXPECT_EQ(list.ItemIndex(), -1);
}

TEST_F(FileListTest, MaskChangeReadsAgainAndListsEachNameOnce) {
    WriteFile(FDir / "a.fbk", "");
    WriteFile(FDir / "b.txt", "");
    app::TFileListLogic list;
    list.ApplyFilePath(FDir.Path());
    list.SetMask("*.txt");
    EXPECT_EQ(list.Items(), Names{"b.txt"});
    list.SetMask(" *.fbk ; *.FBK;;a.*");
    EXPECT_EQ(list.Items(), Names{"a.fbk"});
    list.SetMask("");
    EXPECT_TRUE(list.Items().empty());
}

TEST_F(FileListTest, OrderIgnoresLetterCaseOnly) {
    for (const char* name : {"b.fbk", "A.fbk", "a.fbk", "_.fbk", "0.fbk", "백업.fbk", "Z.fdb"})
        WriteFile(FDir / name, "");
    app::TFileListLogic list;
    list.ApplyFilePath(FDir.Path());
    EXPECT_EQ(list.Items(),
              (Names{"0.fbk", "_.fbk", "A.fbk", "a.fbk", "b.fbk", "Z.fdb", "백업.fbk"}));
}

struct MaskCase {
    const char* Name;
    const char* Mask;
    bool Expected;
};

class MaskCases : public ::testing::TestWithParam<MaskCase> {};

TEST_P(MaskCases, Match) {
    EXPECT_EQ(app::MatchesFileMask(GetParam().Name, GetParam().Mask), GetParam().Expected)
        << GetParam().Name << " ~ " << GetParam().Mask;
}

INSTANTIATE_TEST_SUITE_P(
    Masks, MaskCases,
    ::testing::Values(MaskCase{"a.fbk", "*.fbk", true}, MaskCase{"A.FBK", "*.fbk", true},
                      MaskCase{"a.fbk", "*.FBK", true}, MaskCase{".fbk", "*.fbk", true},
                      MaskCase{"a.fbk.bak", "*.fbk", false}, MaskCase{"afbk", "*.fbk", false},
                      MaskCase{"a.b.fbk", "*.fbk", true}, MaskCase{"a.fbkk", "*.fbk", false},
                      MaskCase{"ab.fdb", "?b.fdb", true}, MaskCase{"b.fdb", "?b.fdb", false},
                      MaskCase{"백.fdb", "?.fdb", true}, MaskCase{"백업.fdb", "?.fdb", false},
                      MaskCase{"SLV_Backup_250101_0930.fbk", "SLV_Backup_*_*.fbk", true},
                      MaskCase{"x", "*", true}, MaskCase{"noext", "*.*", true},
                      MaskCase{"a.b", "*.*", true}, MaskCase{"aXbXc", "*X*X*", true},
                      MaskCase{"aXbc", "*X*X*", false}, MaskCase{"abc", "abc", true},
                      MaskCase{"abc", "ab", false}, MaskCase{"", "*", true},
                      MaskCase{"a", "", false}));

} // namespace
