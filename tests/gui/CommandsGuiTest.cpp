// The three commands on the real Qt window (offscreen) against the real
// server: clicks on the push buttons, the choice in the list widget.
#include "CommandsGuiTestUtil.h"

#include "app/Commands.h"
#include "gui/QtViews.h"

#include <QApplication>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

namespace cmdtest {
namespace {

TEST_F(CommandsGuiTest, BackupByClick) {
    SLV_REQUIRE_SERVER();
    FreshDatabase(Database);
    app::TmainForm& form = Open();

    Click(form.btnBackupDB.get());

    ASSERT_TRUE(Boxes.empty()) << Boxes[0].Text;
    const auto items = form.fbBackup->Items();
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].rfind("SLV_Backup_", 0), 0u);
    const std::string file = BackupFolder + "/" + items[0];
    EXPECT_GT(fs::file_size(file), 0u);

    const QString shown = Widget<QPlainTextEdit>(form.Memo1.get())->toPlainText();
    const QString expectedEnd =
        QString::fromStdString("\n\n====== 백업 완료 ======\n백업 원본파일: " + Database +
                               "\n \n백업파일: " + file + "\n\n ");
    EXPECT_TRUE(shown.startsWith(QStringLiteral("====== 백업 시작 ======\n")));
    EXPECT_TRUE(shown.endsWith(expectedEnd)) << shown.right(300).toStdString();
    EXPECT_TRUE(Widget<QProgressBar>(form.PBar.get())->isHidden());
    EXPECT_TRUE(Widget<QPushButton>(form.btnBackupDB.get())->isEnabled());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(CommandsGuiTest, RestoreByClickAfterChoosingInTheList) {
    SLV_REQUIRE_SERVER();
    PlaceBackup(BackupFolder, "SLV_Backup_240619_2217.fbk");
    app::TmainForm& form = Open();
    ChooseInList(form, "SLV_Backup_240619_2217.fbk");

    Click(form.btnRestoreDB.get());

    const std::string target = DataFolder + "/SOLVANE복원.fdb";
    ASSERT_NO_FATAL_FAILURE(ExpectSuccessBox("복원완료", target));
    EXPECT_EQ(slvtest::DatabaseFingerprint(target), Demo().Fingerprint);
    const auto lines = form.Memo2->Lines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], "====== 복원 완료 ======");
    EXPECT_EQ(lines.back(), "복원된 파일이름: " + target);
    EXPECT_FALSE(Widget<QListWidget>(form.fbBackup.get())->isHidden());
    EXPECT_TRUE(Widget<QPlainTextEdit>(form.Memo2.get())->isHidden());
    EXPECT_TRUE(Widget<QProgressBar>(form.PBar2.get())->isHidden());
    EXPECT_TRUE(Widget<QPushButton>(form.btnRestoreDB.get())->isEnabled());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(CommandsGuiTest, MakeServerByClick) {
    SLV_REQUIRE_SERVER();
    PlaceBackup(BackupFolder, "SLV_Backup_240619_2217.fbk");
    ASSERT_NO_FATAL_FAILURE(MakeMarkedDatabase(Database));
    const std::string live = slvtest::DatabaseFingerprint(Database);
    app::TmainForm& form = Open();
    ChooseInList(form, "SLV_Backup_240619_2217.fbk");

    Click(form.btnChangeServer.get());

    ASSERT_NO_FATAL_FAILURE(ExpectSuccessBox("변경완료", Database));
    EXPECT_EQ(slvtest::DatabaseFingerprint(DataFolder + "/SOLVANE~.fdb"), live);
    EXPECT_EQ(slvtest::DatabaseFingerprint(Database), Demo().Fingerprint);
    EXPECT_EQ(app::ReadIniValue("Environment.ini", "SYSTEM", "SvrIP"), "127.0.0.1");
    EXPECT_EQ(app::ReadIniValue("Environment.ini", "SYSTEM", "DBPathDB"), Database);
    EXPECT_TRUE(Widget<QPushButton>(form.btnChangeServer.get())->isEnabled());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

} // namespace
} // namespace cmdtest
