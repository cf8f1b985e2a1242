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

} // namespace slvtest
