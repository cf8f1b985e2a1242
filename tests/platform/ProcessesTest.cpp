// The list of running processes and ending one, with a real process: a copy
// of the Solvane.exe stand-in under a name no other test uses; and the
// processes that hold a file open.
#include "platform/Processes.h"
#include "testsupport/ChildProcess.h"
#include "testsupport/ProgramCopy.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

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

TEST(ProcessesHoldingFile, FindsThisProcessWhileItHoldsTheFile) {
    char pattern[] = "/tmp/slv-inuse-XXXXXX";
    const int fd = ::mkstemp(pattern);
    ASSERT_GE(fd, 0);
    const std::string path = pattern;
    auto holders = platform::ProcessesHoldingFile(path);
    EXPECT_NE(std::find(holders.begin(), holders.end(), ::getpid()), holders.end());
    // Under another name the same file is still the one held.
    const std::string renamed = path + ".moved";
    ASSERT_EQ(::rename(path.c_str(), renamed.c_str()), 0);
    holders = platform::ProcessesHoldingFile(renamed);
    EXPECT_NE(std::find(holders.begin(), holders.end(), ::getpid()), holders.end());
    ::close(fd);
    holders = platform::ProcessesHoldingFile(renamed);
    EXPECT_EQ(std::find(holders.begin(), holders.end(), ::getpid()), holders.end());
    ::unlink(renamed.c_str());
    EXPECT_TRUE(platform::ProcessesHoldingFile(renamed).empty())
        << "a missing file is held by none";
}

} // namespace
