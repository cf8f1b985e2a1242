// Helpers of the Windows build's tests under Wine: Windows paths of the
// build tree, scratch folders, raw file contents, child processes.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace wintest {

// The Windows path of a path of the Linux file system (drive Z: is its root
// under Wine); a path that is one already comes back unchanged.
std::string WinPath(const std::string& unixPath);

// A new, empty folder under the Windows temporary folder; removed with all
// it holds by RemoveTree.
std::string MakeScratchFolder(const std::string& prefix);
void RemoveTree(const std::string& folder);

// Whole files, byte for byte.
std::string ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const std::string& bytes);
bool CopyFileTo(const std::string& from, const std::string& to);

// UTF-8 text in a code page (949: the Korean ANSI code page) and back.
std::string ToCodePage(const std::string& utf8, unsigned codePage);
std::string FromCodePage(const std::string& bytes, unsigned codePage);

// A child process; ended (if still running) when the object goes.
class TChild {
public:
    // Starts `program` with the arguments (quoted as needed), its output and
    // errors into `outputFile` when one is given.
    TChild(const std::string& program, const std::vector<std::string>& arguments,
           const std::string& outputFile = {});
    ~TChild();
    TChild(const TChild&) = delete;
    TChild& operator=(const TChild&) = delete;

    bool Started() const { return FProcess != nullptr; }
    uint32_t Id() const { return FId; }
    bool Running() const;
    // Waits at most `milliseconds`; the exit code, or -1 when still running.
    int Wait(unsigned milliseconds);
    void Kill();

private:
    HANDLE FProcess = nullptr;
    uint32_t FId = 0;
};

// Waits (at most `milliseconds`, polling) until the condition holds.
template <typename Condition> bool WaitUntil(Condition condition, unsigned milliseconds) {
    const ULONGLONG end = GetTickCount64() + milliseconds;
    for (;;) {
        if (condition()) {
            return true;
        }
        if (GetTickCount64() >= end) {
            return false;
        }
        Sleep(20);
    }
}

} // namespace wintest
