// Loading the client library with the Windows loader. The codes are the
// system's own (GetLastError), the texts its messages for them.
#include "platform/ModuleLoader.h"

#include <windows.h>
// windows.h names an old call FreeModule; the seam's own comes first here.
#undef FreeModule

#include "ModuleError.h"
#include "platform/win32/Text.h"

namespace platform {

const int ProcNotFoundCode = ERROR_PROC_NOT_FOUND;

namespace {

void RememberLastError() {
    const int code = static_cast<int>(GetLastError());
    RememberModuleError(code, SystemErrorText(code));
}

} // namespace

ModuleHandle LoadModule(const std::string& fileName) {
    if (fileName.empty()) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        RememberLastError();
        return nullptr;
    }
    // No "cannot find the library" box from the system: the caller reports.
    const UINT previous = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    HMODULE module = LoadLibraryW(win32::Widen(fileName).c_str());
    if (module == nullptr) {
        RememberLastError();
    }
    SetErrorMode(previous);
    return reinterpret_cast<ModuleHandle>(module);
}

void* ModuleSymbol(ModuleHandle module, const char* name) {
    FARPROC address = nullptr;
    if (module != nullptr && name != nullptr) {
        address = GetProcAddress(static_cast<HMODULE>(module), name);
    }
    if (address == nullptr) {
        RememberModuleError(ProcNotFoundCode, SystemErrorText(ProcNotFoundCode));
        return nullptr;
    }
    return reinterpret_cast<void*>(address);
}

bool FreeModule(ModuleHandle module) {
    if (module == nullptr) {
        return false;
    }
    if (FreeLibrary(static_cast<HMODULE>(module)) == 0) {
        RememberLastError();
        return false;
    }
    return true;
}

std::string SystemErrorText(int code) {
    return win32::ErrorText(static_cast<unsigned long>(code));
}

} // namespace platform
