// Finding and ending running programs by their program file name.
#include "app/ProcessOps.h"

#include "rtl/Rtl.h"
#include "platform/Processes.h"

#include <vector>

namespace app {

namespace {

// What follows the last folder separator: "/", and also "\" or ":" so that a
// name written the Windows way still finds the program.
std::string FileNamePart(const std::string& path) {
    return rtl::ExtractFileName(path, "/\\:");
}

} // namespace

bool IsProgramRunning(const std::string& exeName) {
    std::vector<platform::ProcessEntry> entries;
    if (!platform::ListProcesses(entries))
        return false;
    const std::string wanted = rtl::UpperCaseAscii(FileNamePart(exeName));
    for (const auto& entry : entries) {
        if (entry.ProcessId != 0 && rtl::UpperCaseAscii(entry.ExeFile) == wanted)
            return true;
    }
    return false;
}

bool TerminateProgram(const std::string& exeName) {
    std::vector<platform::ProcessEntry> entries;
    if (!platform::ListProcesses(entries))
        return false;
    // The argument is compared in full: a path with folders matches only an
    // entry whose whole program file name is that path, which never happens
    // since entries hold bare file names.
    const std::string wanted = rtl::UpperCaseAscii(exeName);
    bool lastOutcome = false;
    for (const auto& entry : entries) {
        const std::string name = rtl::UpperCaseAscii(entry.ExeFile);
        if (FileNamePart(name) == wanted || name == wanted)
            lastOutcome = platform::KillProcess(entry.ProcessId);
    }
    return lastOutcome;
}

} // namespace app
