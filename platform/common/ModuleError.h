// For the loaders of platform/posix and platform/win32: keeps the reason of
// the calling thread's last failed module operation, which
// LastModuleErrorCode and LastModuleErrorText hand out.
#pragma once

#include <string>

namespace platform {

void RememberModuleError(int code, std::string text);

} // namespace platform
