// The shell's "open" of a program file.
#include "platform/Shell.h"

#include <windows.h>

#include <shellapi.h>

#include "platform/win32/Text.h"

namespace platform {

bool StartDetached(const std::string& programPath) {
    if (programPath.empty()) {
        return false;
    }
    // No parameters, no working folder (the caller's current one), no owner
    // window; a result above 32 is success.
    const HINSTANCE result = ShellExecuteW(nullptr, L"open", win32::Widen(programPath).c_str(),
                                           nullptr, nullptr, SW_SHOW);
    return reinterpret_cast<INT_PTR>(result) > 32;
}

} // namespace platform
