#include "platform/ModuleLoader.h"

#include <dlfcn.h>

#include <cerrno>
#include <cstring>

#include "ModuleError.h"

namespace platform {

const int ProcNotFoundCode = ENOSYS;

namespace {

// dlopen reports only text; find the errno whose standard text it carries.
int CodeFromLoaderText(const std::string& text) {
    static const int candidates[] = {ENOENT, EACCES, ENOTDIR, EISDIR, ENOMEM, ELOOP, ENAMETOOLONG};
    for (int code : candidates) {
        if (text.find(SystemErrorText(code)) != std::string::npos) {
            return code;
        }
    }
    return ENOEXEC;
}

} // namespace

ModuleHandle LoadModule(const std::string& fileName) {
    if (fileName.empty()) {
        // dlopen would hand back the main program: never a client library.
        RememberModuleError(ENOENT, SystemErrorText(ENOENT));
        return nullptr;
    }
    dlerror();
    void* handle = dlopen(fileName.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* reason = dlerror();
        const std::string text = reason != nullptr ? reason : SystemErrorText(ENOENT);
        RememberModuleError(CodeFromLoaderText(text), text);
    }
    return handle;
}

void* ModuleSymbol(ModuleHandle module, const char* name) {
    void* address = nullptr;
    if (module != nullptr && name != nullptr) {
        dlerror();
        address = dlsym(module, name);
    }
    if (address == nullptr) {
        RememberModuleError(ProcNotFoundCode, SystemErrorText(ProcNotFoundCode));
    }
    return address;
}

bool FreeModule(ModuleHandle module) {
    if (module == nullptr) {
        return false;
    }
    if (dlclose(module) != 0) {
        const char* reason = dlerror();
        RememberModuleError(EINVAL, reason != nullptr ? reason : SystemErrorText(EINVAL));
        return false;
    }
    return true;
}

std::string SystemErrorText(int code) {
    char buffer[256] = {};
    // GNU strerror_r returns the text, which may or may not be the buffer.
    const char* text = strerror_r(code, buffer, sizeof buffer);
    return text != nullptr ? std::string(text) : std::string();
}

} // namespace platform
