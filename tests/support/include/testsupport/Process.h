// Runs a command-line program for a test and captures what it prints.
#pragma once

#include <string>
#include <vector>

namespace slvtest {

struct ProcessResult {
    // The program's exit code; -1 when it could not start, was killed or
    // ended by a signal.
    int exitCode = -1;
    // Standard output and standard error, interleaved as written.
    std::string output;
    bool timedOut = false;
};

// Runs argv[0] (searched in PATH) with the given arguments, standard input
// from /dev/null, LANG and LC_ALL set to C.UTF-8 and without ISC_USER and
// ISC_PASSWORD. Kills it after timeoutSeconds.
ProcessResult RunProcess(const std::vector<std::string>& argv, int timeoutSeconds);

// The user id and group id of "nobody", the ordinary user the tests run
// children as.
inline constexpr unsigned NobodyId = 65534;

// Runs one (usually disabled) test of the running test program in a child
// process as the user "nobody", with the given extra environment lines
// ("NAME=value"), and returns the child's exit code (0 when the test
// passed; -1 when it did not end normally). The program is copied first
// into a folder made by MakeTempDir, so that the child can run it wherever
// the build tree is (a clone in a 0700 home folder is out of its reach).
// Needs root; standard output goes to /dev/null, standard error stays.
int RunTestAsNobody(const std::string& gtestFilter, const std::vector<std::string>& environment);

} // namespace slvtest
