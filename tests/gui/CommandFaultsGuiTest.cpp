// Clicks given while a command runs, on the real Qt window (offscreen)
// against the real server. The window's thread is busy in the command, so
// the clicks wait in Qt's queue; they must be dropped, never replayed on the
// buttons once they are enabled again, and never start a command inside
// another.
#include "CommandsGuiTestUtil.h"

#include "gui/QtViews.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPushButton>
#include <QTest>

namespace cmdtest {
namespace {

// A click as the window system queues it: press and release, posted.
void QueueClick(app::IWidget* button) {
    QWidget* widget = gui::TQtHost::QtWidget(button);
    const QPointF at(widget->width() / 2.0, widget->height() / 2.0);
    const QPointF global = widget->mapToGlobal(at);
    for (const QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
        QCoreApplication::postEvent(widget, new QMouseEvent(type, at, global, Qt::LeftButton,
                                                            Qt::LeftButton, Qt::NoModifier));
    }
}

class CommandsGuiFaultTest : public CommandsGuiTest {
protected:
    // What the window does with the queue once the command has ended.
    static void LetTheQueueRun() {
        for (int i = 0; i < 5; ++i) {
            QCoreApplication::sendPostedEvents();
            QApplication::processEvents();
        }
    }
};

TEST_F(CommandsGuiFaultTest, ClicksDuringABackupAreNotReplayedAfterIt) {
    SLV_REQUIRE_SERVER();
    ASSERT_NO_FATAL_FAILURE(MakeMarkedDatabase(Database));
    PlaceBackup(BackupFolder, "SLV_Backup_240619_2217.fbk");
    app::TmainForm& form = Open();
    form.fbBackup->UserSelected(0);
    ASSERT_EQ(form.lbBackupFN->Caption(), "SLV_Backup_240619_2217.fbk");
    TNothingLost guard;
    guard.Watch(Database, BackupFolder, Ini());
    int queued = 0;
    Qt.OnNow = [&] {
        if (queued++ == 0) {
            QueueClick(form.btnChangeServer.get());
            QueueClick(form.btnBackupDB.get());
            QueueClick(form.btnRestoreDB.get());
        }
    };

    Click(form.btnBackupDB.get());
    LetTheQueueRun();
    Qt.OnNow = nullptr;

    EXPECT_EQ(queued, 1) << "one backup, no second one";
    EXPECT_TRUE(Boxes.empty()) << Boxes[0].Text;
    EXPECT_TRUE(AnyLineContains(form.Memo1->Lines(), "====== 백업 완료 ======"));
    EXPECT_TRUE(form.Memo2->Lines().empty()) << "no restore ran";
    EXPECT_FALSE(fs::exists(DataFolder + "/SOLVANE~.fdb")) << "no make-server ran";
    EXPECT_TRUE(form.btnChangeServer->Enabled());
    guard.Check(); // the settings too: make-server wrote nothing
}

TEST_F(CommandsGuiFaultTest, ASecondClickOnMakeServerDoesNotRunItAgain) {
    SLV_REQUIRE_SERVER();
    ASSERT_NO_FATAL_FAILURE(MakeMarkedDatabase(Database));
    const std::string live = slvtest::DatabaseFingerprint(Database);
    PlaceBackup(BackupFolder, "SLV_Backup_240619_2217.fbk");
    app::TmainForm& form = Open();
    form.fbBackup->UserSelected(0);
    bool queued = false;
    Qt.OnSetCursor = [&](app::TCursor cursor) {
        if (cursor == app::TCursor::Default && !queued) {
            queued = true; // the restore is tidying up: the user clicks again
            QueueClick(form.btnChangeServer.get());
        }
    };

    Click(form.btnChangeServer.get());
    LetTheQueueRun();
    Qt.OnSetCursor = nullptr;

    ASSERT_TRUE(queued);
    ASSERT_NO_FATAL_FAILURE(ExpectSuccessBox("변경완료", Database));
    EXPECT_EQ(slvtest::DatabaseFingerprint(DataFolder + "/SOLVANE~.fdb"), live);
    EXPECT_EQ(slvtest::DatabaseFingerprint(Database), Demo().Fingerprint);
}

} // namespace
} // namespace cmdtest
