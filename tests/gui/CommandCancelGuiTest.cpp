// Stopping a command on the real Qt window (offscreen) against the real
// server: the user's close and Esc reach the window's logic while its input
// is blocked, and a request to end the program (SIGTERM) stops a backup and
// ends the program cleanly.
#include "CommandsGuiTestUtil.h"

#include "testsupport/Process.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QWindow>

#include <sstream>

namespace cmdtest {
namespace {

class CommandsGuiCancelTest : public CommandsGuiTest {
protected:
    void SetUp() override {
        CommandsGuiTest::SetUp();
        CopyForServer(ManyTablesDemo().Database, Database);
    }
};

// During a backup the user closes the window, then (in the next backup)
// presses Esc: each time the window asks, stays open, and the backup stops
// with nothing left of it. A click queued meanwhile is not replayed.
TEST_F(CommandsGuiCancelTest, CloseAndEscDuringABackupAskAndStopIt) {
    SLV_REQUIRE_SERVER();
    app::TmainForm& form = Open();
    QWidget* window = Qt.Window();
    const std::vector<std::function<void()>> requests = {
        [&] { QCoreApplication::postEvent(window->windowHandle(), new QCloseEvent()); },
        [&] {
            QCoreApplication::postEvent(
                QApplication::focusWidget() != nullptr ? QApplication::focusWidget() : window,
                new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier));
        },
    };
    for (size_t i = 0; i < requests.size(); ++i) {
        SCOPED_TRACE(i == 0 ? "close" : "Esc");
        Boxes.clear();
        Answers = {app::IDYES};
        // Queued once the backup makes its file name, before the server is
        // asked: the window sees them between the first batches.
        Qt.OnNow = [&] {
            requests[i]();
            QCoreApplication::postEvent(
                gui::TQtHost::QtWidget(form.btnRestoreDB.get()),
                new QKeyEvent(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier));
        };

        Click(form.btnBackupDB.get());
        Qt.OnNow = nullptr;
        QApplication::processEvents();

        ASSERT_EQ(Boxes.size(), 1u) << Boxes.back().Text;
        EXPECT_EQ(Boxes[0].Text, "백업을 중단할까요?");
        EXPECT_EQ(Boxes[0].Caption, "중단확인");
        EXPECT_EQ(Boxes[0].Flags, 36);
        EXPECT_TRUE(window->isVisible()) << "the window stays";
        const auto lines = form.Memo1->Lines();
        EXPECT_EQ(lines.back(), "====== 백업 취소 ======");
        EXPECT_FALSE(AnyLineContains(lines, "백업 완료"));
        EXPECT_TRUE(fs::is_empty(BackupFolder));
        EXPECT_TRUE(form.Memo2->Lines().empty()) << "no restore ran";
        EXPECT_TRUE(Widget<QPushButton>(form.btnBackupDB.get())->isEnabled());
        EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    }
    EXPECT_EQ(UserAttachments(Database), 0);
}

// The program itself, driven: a backup started by a click, then SIGTERM
// (as a desktop logout sends it) while the backup runs. The program stops
// the backup without asking, removes its file and ends with exit code 0;
// the settings the backup wrote are whole.
TEST_F(CommandsGuiCancelTest, RequestToEndDuringABackupStopsItAndEndsTheProgram) {
    SLV_REQUIRE_SERVER();
    WriteIni("127.0.0.1", Database, BackupFolder + "/");
    const std::string settings = IniText();
    const std::string program = Tool + "SolvaneDBMaint";
    fs::copy_file(BACKUP_THEN_END_DRIVER, program, fs::copy_options::overwrite_existing);
    ::chmod(program.c_str(), 0755);

    const slvtest::ProcessResult result = slvtest::RunProcess({program}, 120);

    ASSERT_FALSE(result.timedOut) << result.output;
    EXPECT_EQ(result.exitCode, 0) << result.output;
    std::vector<std::string> lines;
    std::istringstream shown(result.output);
    for (std::string line; std::getline(shown, line);) {
        if (line.rfind("memo: ", 0) == 0) {
            lines.push_back(line.substr(6));
        }
    }
    ASSERT_GT(lines.size(), 3u) << result.output;
    EXPECT_EQ(lines.front(), "====== 백업 시작 ======");
    EXPECT_EQ(lines.back(), "====== 백업 취소 ======");
    EXPECT_FALSE(AnyLineContains(lines, "closing file, committing, and finishing"));
    EXPECT_TRUE(fs::is_empty(BackupFolder)) << "the backup's work file is removed";
    EXPECT_EQ(UserAttachments(Database), 0) << "the server's backup has ended";
    EXPECT_EQ(IniText(), settings) << "the settings the backup rewrote are whole";
}

} // namespace
} // namespace cmdtest
