// Finding, ending and starting programs with real processes: the stand-ins
// of the suite's programs, and private copies of them under names no other
// test uses.
#include "app/ProcessOps.h"
#include "app/Shell.h"
#include "testsupport/ChildProcess.h"
#include "testsupport/ProgramCopy.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <sstream>

#ifndef STANDIN_DIR
#error "STANDIN_DIR must name the folder of the stand-in programs"
#endif

using slvtest::Child;

namespace {

using namespace std::string_literals;

const std::string StandInDir = STANDIN_DIR;

// A copy of the Solvane.exe stand-in under a name of its own, so that these
// tests find and end only their own processes.
class ProcessTest : public slvtest::ProgramCopyTest {
protected:
    ProcessTest() : ProgramCopyTest(StandInDir + "/Solvane.exe") {}
};

std::string Lower(std::string s) {
    for (char& c : s)
        c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    return s;
}

std::string SwapCaseOfExtension(std::string s) {
    s.replace(s.size() - 4, 4, ".EXE");
    return s;
}

TEST_F(ProcessTest, LongNamesAreNotCutToTheKernelsShortName) {
    const std::string longName = "SolvaneLongProgramName" + FName;
    std::filesystem::rename(FProgram, FDir / longName);
    Child child({FDir / longName});
    ASSERT_GT(child.Pid(), 0);
    EXPECT_TRUE(app::IsProgramRunning(longName));
    EXPECT_FALSE(app::IsProgramRunning(longName.substr(0, 15)));
}

struct RunningCase {
    const char* Name;
    std::string (*Argument)(const std::string& fileName);
    bool Expected;
};

class IsProgramRunningCases : public ProcessTest,
                              public ::testing::WithParamInterface<RunningCase> {};

TEST_P(IsProgramRunningCases, MatchesTheFileNamePart) {
    Child child({FProgram});
    ASSERT_GT(child.Pid(), 0);
    EXPECT_EQ(app::IsProgramRunning(GetParam().Argument(FName)), GetParam().Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, IsProgramRunningCases,
    ::testing::Values(
        RunningCase{"ExactName", [](const std::string& n) { return n; }, true},
        RunningCase{"OtherLetterCase",
                    [](const std::string& n) { return SwapCaseOfExtension(Lower(n)); }, true},
        RunningCase{"PathInOtherFolder", [](const std::string& n) { return "/other/dir/" + n; },
                    true},
        RunningCase{"WindowsPath", [](const std::string& n) { return "C:\\Other\\" + n; }, true},
        RunningCase{"DriveOnly", [](const std::string& n) { return "C:" + n; }, true},
        RunningCase{"WithoutExtension",
                    [](const std::string& n) { return n.substr(0, n.size() - 4); }, false},
        RunningCase{"TrailingBlank", [](const std::string& n) { return n + " "; }, false},
        RunningCase{"Prefix", [](const std::string& n) { return n.substr(1); }, false},
        RunningCase{"FolderOnly", [](const std::string& n) { return n + "/"; }, false},
        RunningCase{"Empty", [](const std::string&) { return std::string(); }, false}),
    [](const ::testing::TestParamInfo<RunningCase>& p) { return std::string(p.param.Name); });

TEST_F(ProcessTest, NothingRunningGivesFalse) {
    EXPECT_FALSE(app::IsProgramRunning(FName));
    EXPECT_FALSE(app::TerminateProgram(FName));
}

TEST_F(ProcessTest, TerminateEndsEveryInstance) {
    Child first({FProgram});
    Child second({FProgram});
    ASSERT_GT(first.Pid(), 0);
    ASSERT_GT(second.Pid(), 0);
    EXPECT_TRUE(app::TerminateProgram(Lower(FName)));
    EXPECT_EQ(first.WaitEnded(), SIGKILL);
    EXPECT_EQ(second.WaitEnded(), SIGKILL);
    EXPECT_FALSE(app::IsProgramRunning(FName));
}

TEST_F(ProcessTest, TerminateWithPathEndsNothing) {
    Child child({FProgram});
    ASSERT_GT(child.Pid(), 0);
    EXPECT_FALSE(app::TerminateProgram(FProgram));
    EXPECT_FALSE(app::TerminateProgram("/some/path/" + FName));
    EXPECT_TRUE(child.Running());
    // ... while the same path finds it running.
    EXPECT_TRUE(app::IsProgramRunning("/some/path/" + FName));
}

TEST_F(ProcessTest, EndedButNotReapedIsNotRunning) {
    // A short name, which the kernel's short command name of the zombie
    // still holds in full.
    const std::string shortName = "z"s + std::to_string(::getpid() % 1000000) + ".exe";
    std::filesystem::rename(FProgram, FDir / shortName);
    Child child({FDir / shortName});
    ASSERT_GT(child.Pid(), 0);
    EXPECT_TRUE(app::IsProgramRunning(shortName));
    ASSERT_EQ(::kill(child.Pid(), SIGKILL), 0);
    ASSERT_TRUE(slvtest::WaitFor([&] { return slvtest::ProcessState(child.Pid()) == 'Z'; }));
    EXPECT_FALSE(app::IsProgramRunning(shortName));
    EXPECT_FALSE(app::TerminateProgram(shortName));
}

TEST_F(ProcessTest, DeletedProgramFileStillCounts) {
    Child child({FProgram});
    ASSERT_GT(child.Pid(), 0);
    std::filesystem::remove(FProgram);
    EXPECT_TRUE(app::IsProgramRunning(FName));
    EXPECT_TRUE(app::TerminateProgram(FName));
    EXPECT_EQ(child.WaitEnded(), SIGKILL);
}

// The stand-ins themselves, under the suite's real names. These end every
// Solvane.exe on the machine, as the tool does.
TEST(StandIns, FoundAndEndedByTheSuitesNames) {
    Child first({StandInDir + "/Solvane.exe"});
    Child second({StandInDir + "/Solvane.exe"});
    Child server({StandInDir + "/SLVServer.exe"});
    ASSERT_GT(first.Pid(), 0);
    ASSERT_GT(second.Pid(), 0);
    ASSERT_GT(server.Pid(), 0);
    EXPECT_TRUE(app::IsProgramRunning("solvane.EXE"));
    EXPECT_TRUE(app::IsProgramRunning("/other/dir/Solvane.exe"));
    EXPECT_TRUE(app::IsProgramRunning("C:\\Other\\Solvane.exe"));
    EXPECT_FALSE(app::TerminateProgram("/some/path/Solvane.exe"));
    EXPECT_TRUE(first.Running());
    EXPECT_TRUE(app::TerminateProgram("Solvane.exe"));
    EXPECT_EQ(first.WaitEnded(), SIGKILL);
    EXPECT_EQ(second.WaitEnded(), SIGKILL);
    EXPECT_TRUE(server.Running());
    EXPECT_TRUE(app::IsProgramRunning("SLVServer.exe"));
    EXPECT_TRUE(app::TerminateProgram("SLVSERVER.EXE"));
    EXPECT_EQ(server.WaitEnded(), SIGKILL);
}

// ------------------------------------------------------------ shell open

TEST_F(ProcessTest, ShellOpenStartsTheProgramDetached) {
    const std::string log = FDir / "started.log";
    ::setenv("SLV_STANDIN_LOG", log.c_str(), 1);
    const bool started = app::ShellOpen(FProgram);
    ::unsetenv("SLV_STANDIN_LOG");
    ASSERT_TRUE(started);

    const auto pids = PidsNamed(FName);
    ASSERT_EQ(pids.size(), 1u);
    const pid_t pid = static_cast<pid_t>(pids[0]);
    EXPECT_TRUE(app::IsProgramRunning(FName));
    // Not our child: nothing for us to reap.
    EXPECT_EQ(::waitpid(pid, nullptr, WNOHANG), -1);

    // The stand-in reports its program file and that it got no parameters.
    std::string line;
    EXPECT_TRUE(slvtest::WaitFor([&] {
        line = slvtest::ReadFile(log);
        return !line.empty() && line.back() == '\n';
    }));
    std::istringstream fields(line);
    std::string pidText, exe, cwd, arg0, extra;
    std::getline(fields, pidText, '\t');
    std::getline(fields, exe, '\t');
    std::getline(fields, cwd, '\t');
    std::getline(fields, arg0, '\n');
    EXPECT_EQ(pidText, std::to_string(pid));
    EXPECT_EQ(exe, FProgram);
    EXPECT_EQ(arg0, FProgram); // and nothing after it
    EXPECT_EQ(cwd, std::filesystem::current_path().string());

    ASSERT_EQ(::kill(pid, SIGKILL), 0);
    EXPECT_TRUE(slvtest::WaitFor([&] {
        const char state = slvtest::ProcessState(pid);
        return state == 0 || state == 'Z' || state == 'X';
    }));
    EXPECT_FALSE(app::IsProgramRunning(FName));
}

TEST_F(ProcessTest, ShellOpenOfMissingOrNonProgramFileFails) {
    EXPECT_FALSE(app::ShellOpen(FDir / "missing.exe"));
    slvtest::WriteFile(FDir / "text.exe", "not a program");
    ::chmod((FDir / "text.exe").c_str(), 0644);
    EXPECT_FALSE(app::ShellOpen(FDir / "text.exe"));
    EXPECT_FALSE(app::ShellOpen(""));
    EXPECT_TRUE(PidsNamed("text.exe").empty());
}

} // namespace
