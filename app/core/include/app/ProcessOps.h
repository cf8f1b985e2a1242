// Finding and ending running programs by their program file name.
#pragma once

#include <string>

namespace app {

bool IsProgramRunning(const std::string& exeName);
bool TerminateProgram(const std::string& exeName);

} // namespace app
