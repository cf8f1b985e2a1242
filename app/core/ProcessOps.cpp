// Finding and ending running programs by their program file name.
#include "app/ProcessOps.h"

#include "rtl/Rtl.h"
#include "platform/Processes.h"

#include <chrono>
#include <thread>
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
    return !RunningProgramIds(exeName).empty();
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

std::vector<std::uint32_t> RunningProgramIds(const std::string& exeName) {
    std::vector<std::uint32_t> ids;
    std::vector<platform::ProcessEntry> entries;
    if (!platform::ListProcesses(entries))
        return ids;
    const std::string wanted = rtl::UpperCaseAscii(FileNamePart(exeName));
    for (const auto& entry : entries) {
        if (entry.ProcessId != 0 && rtl::UpperCaseAscii(entry.ExeFile) == wanted)
            ids.push_back(entry.ProcessId);
    }
    return ids;
}

std::vector<std::uint32_t> ProgramsBeyondReach(const std::string& exeName) {
    std::vector<std::uint32_t> denied;
    for (std::uint32_t id : RunningProgramIds(exeName)) {
        if (platform::CanEndProcess(id) == platform::TEndRight::Denied)
            denied.push_back(id);
    }
    return denied;
}

bool WaitUntilProgramEnded(const std::string& exeName, int limitMilliseconds,
                           int stepMilliseconds) {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMilliseconds);
    for (;;) {
        bool running = false;
        for (std::uint32_t id : RunningProgramIds(exeName))
            running = running || platform::ProcessRunning(id);
        if (!running)
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(stepMilliseconds));
    }
}

bool FindDatabaseServerUser(platform::TProcessUser& user) {
    // The program file names of the Firebird server (the guardian, fbguard,
    // runs as the same user but is not the one that opens the files).
    static const char* const names[] = {"FIREBIRD",          "FIREBIRD.EXE",  "FBSERVER",
                                        "FBSERVER.EXE",      "FB_SMP_SERVER", "FB_INET_SERVER",
                                        "FB_INET_SERVER.EXE"};
    std::vector<platform::ProcessEntry> entries;
    if (!platform::ListProcesses(entries))
        return false;
    for (const auto& entry : entries) {
        const std::string name = rtl::UpperCaseAscii(entry.ExeFile);
        for (const char* wanted : names) {
            if (name == wanted && platform::ProcessUser(entry.ProcessId, user))
                return true;
        }
    }
    return false;
}

} // namespace app
