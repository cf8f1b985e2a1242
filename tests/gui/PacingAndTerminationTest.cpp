// The real window under a stream of output and under requests to end the
// program: batches of lines painted at a bounded rate, a progress bar that
// paints only what the eye can see, and SIGTERM/SIGINT closing the window
// from the event loop, also once the client library has taken the signals.
#include "app/OutputPane.h"
#include "gui/QtViews.h"
#include "gui/TerminationWatch.h"
#include "testsupport/FbTestEnv.h"
#include "testsupport/WindowTest.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QProgressBar>

#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>

extern char** environ;

namespace {

using namespace std::chrono_literals;

// Counts the paint events a widget receives.
class TPaintCounter : public QObject {
public:
    explicit TPaintCounter(QWidget* widget) { widget->installEventFilter(this); }
    int Count = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        Count += event->type() == QEvent::Paint ? 1 : 0;
        return false;
    }
};

// Handles events until the condition holds or the time is up.
bool ProcessUntil(const std::function<bool()>& condition, int milliseconds = 5000) {
    QElapsedTimer timer;
    timer.start();
    while (!condition() && timer.elapsed() < milliseconds) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return condition();
}

class PacingTest : public slvtest::TWindowTest<gui::TQtHost> {
protected:
    PacingTest() : TWindowTest("/tmp/slv-pacing-XXXXXX") {}
    void SetUp() override {
        TWindowTest::SetUp();
        OpenWindow();
        Form->Show();
        QApplication::processEvents();
    }
    template <typename T> T* Qt(app::IWidget& widget) {
        return qobject_cast<T*>(gui::TQtHost::QtWidget(&widget));
    }
};

TEST_F(PacingTest, OutputIsAppendedInBatchesAndPaintedAtABoundedRate) {
    auto* memo = Qt<QPlainTextEdit>(*Form->Memo1);
    Form->PBar->Show();
    QApplication::processEvents();
    TPaintCounter text(memo->viewport());
    TPaintCounter bar(Qt<QProgressBar>(*Form->PBar));

    // 10,000 lines in batches of 50, one every simulated millisecond.
    auto now = std::chrono::steady_clock::time_point{};
    app::TOutputPane pane(*Form->Memo1, *Form->PBar,
                          app::TRepaintThrottle(25ms, [&now] { return now; }));
    int repaints = 0;
    for (int batch = 0; batch < 200; ++batch) {
        std::vector<std::string> lines;
        for (int i = 0; i < 50; ++i) {
            lines.push_back("gbak:    writing index MANY_" + std::to_string(batch * 50 + i) + " ");
        }
        repaints += pane.Add(lines) ? 1 : 0;
        now += 1ms;
    }
    pane.Flush();
    ++repaints;
    EXPECT_LE(repaints, 10); // 200 ms at most one per 25 ms, and the last
    // One paint of the text per repaint: the box's repaint takes its
    // viewport along, and nothing paints it in between.
    EXPECT_EQ(text.Count, repaints);
    EXPECT_LE(bar.Count, repaints);
    const std::vector<std::string> lines = Form->Memo1->Lines();
    ASSERT_EQ(lines.size(), 10000u);
    EXPECT_EQ(lines.back(), "gbak:    writing index MANY_9999 ");
    EXPECT_EQ(Form->PBar->Position(), app::IProgressBar::Max);
    EXPECT_EQ(Qt<QProgressBar>(*Form->PBar)->value(), app::IProgressBar::Max);
}

TEST_F(PacingTest, ProgressBarPaintsOnlyWhenItsFilledWidthChanges) {
    auto* qbar = Qt<QProgressBar>(*Form->PBar);
    Form->PBar->Show();
    QApplication::processEvents();
    TPaintCounter paints(qbar);
    Form->PBar->Repaint(); // shown and not painted yet: it paints
    ASSERT_EQ(paints.Count, 1);
    const auto paintsOf = [&](const std::function<void()>& step) {
        const int before = paints.Count;
        step();
        return paints.Count - before;
    };
    // 428 pixels for 2500 steps: one step never shows, 100 steps do.
    EXPECT_EQ(paintsOf([&] { Form->PBar->StepBy(1); }), 0); // no paint from stepping
    EXPECT_EQ(paintsOf([&] { Form->PBar->Repaint(); }), 0);
    EXPECT_EQ(paintsOf([&] { Form->PBar->StepBy(99); }), 0);
    EXPECT_EQ(qbar->value(), 100);
    EXPECT_EQ(paintsOf([&] { Form->PBar->Repaint(); }), 1);
    EXPECT_EQ(paintsOf([&] { Form->PBar->Repaint(); }), 0);
    for (int i = 0; i < 3; ++i) {
        Form->PBar->StepBy(1);
        EXPECT_EQ(paintsOf([&] { Form->PBar->Repaint(); }), 0);
    }
    Form->PBar->SetPosition(3000);
    EXPECT_EQ(paintsOf([&] { Form->PBar->Repaint(); }), 1);
    EXPECT_EQ(qbar->value(), 2500);
    // Hidden, it paints nothing.
    Form->PBar->Hide();
    Form->PBar->SetPosition(0);
    EXPECT_EQ(paintsOf([&] { Form->PBar->Repaint(); }), 0);
}

// --- requests to end the program ----------------------------------------------------------

class TerminationTest : public PacingTest {
protected:
    void SetUp() override {
        PacingTest::SetUp();
        QApplication::setQuitOnLastWindowClosed(false);
        watch = std::make_unique<gui::TTerminationWatch>(*Form);
        ASSERT_TRUE(watch->Watching());
    }
    void TearDown() override {
        watch.reset();
        QApplication::setQuitOnLastWindowClosed(true);
        PacingTest::TearDown();
    }
    bool WindowOpen() { return Host.Window()->isVisible(); }
    std::unique_ptr<gui::TTerminationWatch> watch;
};

TEST_F(TerminationTest, RequestClosesTheIdleWindowAndWaitsForARunningHandler) {
    ASSERT_EQ(raise(SIGTERM), 0);
    EXPECT_TRUE(ProcessUntil([&] { return !WindowOpen(); }));
    EXPECT_EQ(watch->LastSignal(), SIGTERM);
    EXPECT_TRUE(Form->CloseRequested());

    // Again, with a handler running when the request comes: the window stays
    // until the handler has ended, the logic knowing of the request.
    Form->Show();
    watch = std::make_unique<gui::TTerminationWatch>(*Form);
    bool openWhileRunning = false;
    app::TmainForm::RunEvent([&] {
        ASSERT_EQ(raise(SIGINT), 0);
        ProcessUntil([] { return false; }, 400);
        openWhileRunning = WindowOpen();
    });
    EXPECT_TRUE(openWhileRunning);
    EXPECT_TRUE(ProcessUntil([&] { return !WindowOpen(); }));
    EXPECT_EQ(watch->LastSignal(), SIGINT);
}

// A request that comes while a box waits for the user (the question whether
// to stop a command, say) answers it as its close box would: No.
TEST_F(TerminationTest, RequestAnswersAnOpenBoxAsItsCloseBoxWould) {
    int answer = -1;
    app::TmainForm::RunEvent([&] {
        ASSERT_EQ(raise(SIGTERM), 0);
        answer = gui::ShowQtMessageBox("백업을 중단할까요?", "중단확인", 36);
    });
    EXPECT_EQ(answer, 7);
    EXPECT_TRUE(ProcessUntil([&] { return !WindowOpen(); }));
}

TEST_F(TerminationTest, RequestAfterTheClientLibraryAttachedLeavesItsConnectionAlone) {
    SLV_REQUIRE_SERVER();
    fib::TpFIBBackupService& service = *Form->pFIBBackupService1;
    service.SetLoginPrompt(false);
    service.SetServerName(slvtest::ServerHost());
    service.Params().Assign(std::vector<std::string>{"user_name=" + slvtest::ServerUser(),
                                                     "password=" + slvtest::ServerPassword()});
    service.Attach();
    ASSERT_EQ(raise(SIGTERM), 0);
    EXPECT_TRUE(ProcessUntil([&] { return !WindowOpen(); }));
    // The library's own handler would have shut the connection down.
    EXPECT_TRUE(service.Active());
    EXPECT_NO_THROW(service.Detach());
}

// The program itself: idle, it ends with exit code 0 on SIGTERM and SIGINT.
TEST(Program, EndsCleanlyOnARequestToEnd) {
    for (const int signalNumber : {SIGTERM, SIGINT}) {
        char folder[] = "/tmp/slv-program-XXXXXX";
        ASSERT_NE(mkdtemp(folder), nullptr);
        const std::string program = std::string(folder) + "/SolvaneDBMaint";
        {
            std::ifstream in(SLV_PROGRAM, std::ios::binary);
            std::ofstream out(program, std::ios::binary);
            out << in.rdbuf();
        }
        ASSERT_EQ(chmod(program.c_str(), 0755), 0);
        char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
        pid_t pid = 0;
        ASSERT_EQ(posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv, environ), 0);
        // Ready once the program catches the signal.
        const auto caught = [pid, signalNumber] {
            std::ifstream status("/proc/" + std::to_string(pid) + "/status");
            std::string line;
            while (std::getline(status, line)) {
                if (line.rfind("SigCgt:", 0) == 0) {
                    return (std::stoull(line.substr(7), nullptr, 16) >> (signalNumber - 1) & 1) !=
                           0;
                }
            }
            return false;
        };
        for (int i = 0; i < 200 && !caught(); ++i) {
            std::this_thread::sleep_for(50ms);
        }
        EXPECT_TRUE(caught());
        ASSERT_EQ(kill(pid, signalNumber), 0);
        int status = -1;
        for (int i = 0; i < 200 && waitpid(pid, &status, WNOHANG) == 0; ++i) {
            std::this_thread::sleep_for(50ms);
        }
        if (waitpid(pid, &status, WNOHANG) == 0) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            ADD_FAILURE() << "the program did not end on signal " << signalNumber;
        }
        EXPECT_TRUE(WIFEXITED(status)) << signalNumber;
        EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 0) << signalNumber;
        std::filesystem::remove_all(folder);
    }
}

} // namespace
