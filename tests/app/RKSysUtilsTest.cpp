// The utility aggregate RKSys: its members, message boxes and file deletion.
#include "app/RKSysUtils.h"
#include "platform/Files.h"
#include "testsupport/ChildProcess.h"
#include "testsupport/Files.h"

#include <gtest/gtest.h>

#include <stdexcept>

using slvtest::ModeOf;
using slvtest::TempDir;
using slvtest::WriteFile;

namespace {

TEST(RKSys, ExistsBeforeMainWithAllMembers) {
    ASSERT_NE(app::RKSys, nullptr);
    EXPECT_NE(app::RKSys->StrUtils, nullptr);
    EXPECT_NE(app::RKSys->DlgUtils, nullptr);
    EXPECT_NE(app::RKSys->GraphicsUtils, nullptr);
    EXPECT_NE(app::RKSys->FileUtils, nullptr);
    EXPECT_NE(app::RKSys->DataBaseUtils, nullptr);
}

TEST(RKSys, OwnAggregateFreesItsMembers) {
    auto* utils = new app::TRKSysUtils();
    EXPECT_NE(utils->DlgUtils, app::RKSys->DlgUtils);
    delete utils; // leak checkers see the members go with it
}

TEST(RKSys, FlagAndAnswerValues) {
    EXPECT_EQ(app::MB_OK_ERROR, 16);
    EXPECT_EQ(app::MB_YESNO_QUESTION, 36);
    EXPECT_EQ(app::IDYES, 6);
    EXPECT_EQ(app::IDNO, 7);
}

class MessageBoxTest : public ::testing::Test {
protected:
    void TearDown() override { app::SetMessageBoxPresenter(nullptr); }
};

TEST_F(MessageBoxTest, WithoutPresenterTheAnswerIsZero) {
    app::SetMessageBoxPresenter(nullptr);
    EXPECT_EQ(app::RKSys->DlgUtils->MsgBox("t", "c", 16), 0);
    EXPECT_EQ(app::RKSys->DlgUtils->ErrorMsg("t", "c", 16), 0);
    EXPECT_EQ(app::RKSys->DlgUtils->ConfirmMsg("t", "c", 36), 0);
}

struct Shown {
    std::string Text;
    std::string Caption;
    int Flags;
};

TEST_F(MessageBoxTest, AllThreeShowThroughThePresenter) {
    std::vector<Shown> shown;
    app::SetMessageBoxPresenter(
        [&](const std::string& text, const std::string& caption, int flags) {
            shown.push_back({text, caption, flags});
            return flags == 36 ? app::IDNO : 1;
        });
    app::TRKDlgUtils& dlg = *app::RKSys->DlgUtils;
    EXPECT_EQ(dlg.ErrorMsg("복원할 백업파일을 먼저 선택하세요", "에러", 16), 1);
    EXPECT_EQ(dlg.ConfirmMsg("실행 중인 솔바네를 종료합니다", "종료확인", 36), 7);
    EXPECT_EQ(dlg.MsgBox("text", "caption", 0), 1);
    ASSERT_EQ(shown.size(), 3u);
    EXPECT_EQ(shown[0].Text, "복원할 백업파일을 먼저 선택하세요");
    EXPECT_EQ(shown[0].Caption, "에러");
    EXPECT_EQ(shown[0].Flags, 16);
    EXPECT_EQ(shown[1].Caption, "종료확인");
    EXPECT_EQ(shown[1].Flags, 36);
    EXPECT_EQ(shown[2].Flags, 0);
}

TEST_F(MessageBoxTest, PresenterFailureCountsAsNoBox) {
    app::SetMessageBoxPresenter(
        [](const std::string&, const std::string&, int) -> int { throw std::runtime_error("x"); });
    EXPECT_EQ(app::RKSys->DlgUtils->ConfirmMsg("t", "c", 36), 0);
}

// ---------------------------------------------------------- file deletion

class DeleteFileTest : public ::testing::Test {
protected:
    bool Delete(const std::string& path) { return app::RKSys->FileUtils->DeleteFileIfExists(path); }
    TempDir FDir;
};

TEST_F(DeleteFileTest, PlainFileIsDeleted) {
    WriteFile(FDir / "a.fdb", "x");
    EXPECT_TRUE(Delete(FDir / "a.fdb"));
    EXPECT_FALSE(std::filesystem::exists(FDir / "a.fdb"));
}

TEST_F(DeleteFileTest, ReadOnlyFileIsDeleted) {
    WriteFile(FDir / "SOLVANE.FDB", "x");
    ::chmod((FDir / "SOLVANE.FDB").c_str(), 0444);
    EXPECT_TRUE(platform::IsReadOnlyFile(FDir / "SOLVANE.FDB"));
    EXPECT_TRUE(Delete(FDir / "SOLVANE.FDB"));
    EXPECT_FALSE(std::filesystem::exists(FDir / "SOLVANE.FDB"));
}

TEST_F(DeleteFileTest, MissingFileAndFolderGiveFalse) {
    EXPECT_FALSE(Delete(FDir / "missing.fdb"));
    EXPECT_FALSE(Delete(""));
    std::filesystem::create_directory(FDir / "folder.fdb");
    EXPECT_FALSE(Delete(FDir / "folder.fdb"));
    EXPECT_TRUE(std::filesystem::is_directory(FDir / "folder.fdb"));
}

TEST_F(DeleteFileTest, LinkToFolderIsNotAFile) {
    std::filesystem::create_directory(FDir / "folder");
    std::filesystem::create_directory_symlink(FDir / "folder", FDir / "link");
    EXPECT_FALSE(Delete(FDir / "link"));
    EXPECT_TRUE(std::filesystem::exists(FDir / "link"));
}

TEST_F(DeleteFileTest, FileInReadOnlyFolderIsKept) {
    WriteFile(FDir / "a.fdb", "x");
    ::chmod((FDir / "a.fdb").c_str(), 0666);
    ::chmod(FDir.Path().c_str(), 0555);
    const std::string path = FDir / "a.fdb";
    const int result = slvtest::RunUnprivileged(
        [&] { return app::RKSys->FileUtils->DeleteFileIfExists(path) ? 1 : 0; });
    ::chmod(FDir.Path().c_str(), 0700);
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(std::filesystem::exists(path));
}

TEST_F(DeleteFileTest, ReadOnlyFileOfAnotherUserIsNotDeleted) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs a second user: run as root";
    // The folder lets anyone delete, but the read-only state cannot be
    // cleared by someone who does not own the file: nothing is deleted.
    WriteFile(FDir / "a.fdb", "x");
    ::chmod((FDir / "a.fdb").c_str(), 0444);
    ::chmod(FDir.Path().c_str(), 0777);
    const std::string path = FDir / "a.fdb";
    const int result = slvtest::RunUnprivileged(
        [&] { return app::RKSys->FileUtils->DeleteFileIfExists(path) ? 1 : 0; });
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(std::filesystem::exists(path));
    EXPECT_EQ(ModeOf(path), 0444u);
}

} // namespace
