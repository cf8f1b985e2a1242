// Finding and ending running programs by their program file name.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/Processes.h"

namespace app {

bool IsProgramRunning(const std::string& exeName);
bool TerminateProgram(const std::string& exeName);

// Ids of the running processes of that program (matched as
// IsProgramRunning matches).
std::vector<std::uint32_t> RunningProgramIds(const std::string& exeName);

// Ids of the running processes of that program that this user has no right
// to end (empty when all of them can be ended, or none runs).
std::vector<std::uint32_t> ProgramsBeyondReach(const std::string& exeName);

// Waits until no process of that program runs any more, looking every
// `stepMilliseconds` for at most `limitMilliseconds`; false when some still
// runs then.
bool WaitUntilProgramEnded(const std::string& exeName, int limitMilliseconds,
                           int stepMilliseconds = 50);

// The user the local database server runs as, from its running process
// ("firebird" and the other names of the Firebird server program). False
// when no such process is visible.
bool FindDatabaseServerUser(platform::TProcessUser& user);

} // namespace app
