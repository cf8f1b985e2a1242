// Loading the client library with the Windows loader. The codes are the
// system's own (GetLastError), the texts its messages for them.
#include "platform/ModuleLoader.h"

#include <windows.h>
// windows.h names an old call FreeModule; the seam's own comes first here.
#undef FreeModule

#include "platform/win32/Text.h"

namespace platform {

const int ProcNotFoundCode = ERROR_PROC_NOT_FOUND;

namespace {

thread_local int tLastCode = 0;
thread_local std::string tLastText;

void RememberLastError() {
    tLastCode = static_cast<int>(GetLastError());
    tLastText = SystemErrorText(tLastCode);
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
        tLastCode = ProcNotFoundCode;
        tLastText = SystemErrorText(ProcNotFoundCode);
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

int LastModuleErrorCode() {
    return tLastCode;
}

std::string LastModuleErrorText() {
    return tLastText;
}

std::string SystemErrorText(int code) {
    return win32::ErrorText(static_cast<unsigned long>(code));
}

} // namespace platform
