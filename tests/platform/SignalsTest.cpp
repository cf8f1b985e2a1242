// Requests to end the program: the handlers the platform installs for SIGINT
// and SIGTERM, and taking them back from whoever replaced them.
#include "platform/Signals.h"

#include <gtest/gtest.h>
#include <signal.h>

namespace {

extern "C" void ForeignHandler(int) {}

TEST(TerminationSignals, ReclaimPutsOnlyReplacedHandlersBack) {
    ASSERT_GE(platform::WatchTerminationRequests(), 0);
    EXPECT_EQ(platform::WatchTerminationRequests(), platform::WatchTerminationRequests());
    struct sigaction foreign = {};
    foreign.sa_handler = ForeignHandler;
    ASSERT_EQ(sigaction(SIGINT, &foreign, nullptr), 0);
    EXPECT_FALSE(platform::TerminationHandlerInstalled(SIGINT));
    EXPECT_TRUE(platform::TerminationHandlerInstalled(SIGTERM));
    platform::ReclaimTerminationSignals();
    EXPECT_TRUE(platform::TerminationHandlerInstalled(SIGINT));
    ASSERT_EQ(raise(SIGINT), 0);
    ASSERT_EQ(raise(SIGTERM), 0);
    EXPECT_EQ(platform::TakeTerminationRequest(), SIGTERM); // the last one counts
}

} // namespace
