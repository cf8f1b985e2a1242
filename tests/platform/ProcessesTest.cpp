// The list of running processes and ending one, with a real process: a copy
// of the Solvane.exe stand-in under a name no other test uses.
#include "platform/Processes.h"
#include "testsupport/ChildProcess.h"
#include "testsupport/ProgramCopy.h"

#include <gtest/gtest.h>

#ifndef STANDIN_DIR
#error "STANDIN_DIR must name the folder of the stand-in programs"
#endif

using slvtest::Child;

namespace {

class ProcessTest : public slvtest::ProgramCopyTest {
protected:
    ProcessTest() : ProgramCopyTest(std::string(STANDIN_DIR) + "/Solvane.exe") {}
};

TEST_F(ProcessTest, ListNamesTheProgramFile) {
    Child child({FProgram});
    ASSERT_GT(child.Pid(), 0);
    const auto pids = PidsNamed(FName);
    ASSERT_EQ(pids.size(), 1u);
    EXPECT_EQ(pids[0], static_cast<std::uint32_t>(child.Pid()));
}

TEST(KillProcess, RefusesProcessGroupIds) {
    EXPECT_FALSE(platform::KillProcess(0));
    EXPECT_FALSE(platform::KillProcess(0xFFFFFFFFu)); // would be kill(-1): every process
}

} // namespace
