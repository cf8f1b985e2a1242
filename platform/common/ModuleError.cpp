// The calling thread's last loader failure, the same on every system.
#include "ModuleError.h"

#include <utility>

#include "platform/ModuleLoader.h"

namespace platform {

namespace {

thread_local int tLastCode = 0;
thread_local std::string tLastText;

} // namespace

void RememberModuleError(int code, std::string text) {
    tLastCode = code;
    tLastText = std::move(text);
}

int LastModuleErrorCode() {
    return tLastCode;
}

std::string LastModuleErrorText() {
    return tLastText;
}

} // namespace platform
