// The fbsvcversion program against the test server.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>

#include "testsupport/FbTestEnv.h"

namespace {

struct ToolRun {
    int ExitCode = -1;
    std::string Output;
};

// Runs the program with its output and errors together.
ToolRun RunTool(const std::string& arguments) {
    ToolRun run;
    const std::string command = std::string("'") + SLV_FBSVCVERSION + "' " + arguments + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        ADD_FAILURE() << "cannot start " << command;
        return run;
    }
    char chunk[512];
    size_t n = 0;
    while ((n = fread(chunk, 1, sizeof chunk, pipe)) > 0) {
        run.Output.append(chunk, n);
    }
    const int status = pclose(pipe);
    run.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

std::string Quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

TEST(FbSvcVersion, PrintsTheServerVersion) {
    SLV_REQUIRE_SERVER();
    const ToolRun run = RunTool(Quote(slvtest::ServerHost()) + " " + Quote(slvtest::ServerUser()) +
                            " " + Quote(slvtest::ServerPassword()));
    EXPECT_EQ(run.ExitCode, 0) << run.Output;
    EXPECT_EQ(run.Output.rfind("Server version: ", 0), 0u) << run.Output;
    EXPECT_NE(run.Output.find("Firebird"), std::string::npos) << run.Output;
}

TEST(FbSvcVersion, WrongPasswordEndsWithTheLoginTextAndCodeOne) {
    SLV_REQUIRE_SERVER();
    const ToolRun run = RunTool(Quote(slvtest::ServerHost()) + " SYSDBA not-the-password");
    EXPECT_EQ(run.ExitCode, 1);
    EXPECT_NE(run.Output.find("Your user name and password are not defined. Ask your database "
                              "administrator to set up a Firebird login.\n"),
              std::string::npos)
        << run.Output;
    EXPECT_EQ(run.Output.find('\r'), std::string::npos) << "terminal lines end in LF";
}

TEST(FbSvcVersion, NoServerListening) {
    const ToolRun run = RunTool("127.0.0.1/3099");
    EXPECT_EQ(run.ExitCode, 1);
    EXPECT_NE(run.Output.find("Unable to complete network request to host \"127.0.0.1\"."),
              std::string::npos)
        << run.Output;
}

} // namespace
