// Loading shared modules (the client library) at run time: load by file
// name, look up an exported symbol, release, and the reason of the last
// failure on the calling thread.
//
// Only a null handle is a load failure.
//
// Error codes on Windows are the system's own (GetLastError: 126 for a
// missing module, 127, ERROR_PROC_NOT_FOUND, for a missing entry), with the
// system's texts. Error codes on POSIX: the loader reports failures as text (dlerror), so a
// failed load carries the errno-like code whose standard text the loader's
// message contains (ENOENT for a missing file, EACCES, ENOTDIR, EISDIR,
// ENOMEM, ELOOP, ENAMETOOLONG), and ENOEXEC for a file that exists but is not
// a loadable module ("invalid ELF header", "file too short", wrong class...).
// The text of a failed load is the loader's own message, which names the file
// and the reason. A missing exported symbol carries ProcNotFoundCode (ENOSYS,
// the counterpart of Windows' ERROR_PROC_NOT_FOUND) with the system's text for
// that code; the text does not name the symbol.
#pragma once

// windows.h defines FreeModule as a macro for an old call of the same name.
#if defined(_WIN32) && defined(FreeModule)
#undef FreeModule
#endif

#include <string>

namespace platform {

// Opaque module handle; null means no module.
using ModuleHandle = void*;

// The code a missing exported symbol reports.
extern const int ProcNotFoundCode;

// Loads the module by file name (a bare name is searched the system's way),
// resolving all its symbols at once and keeping them local to it. Returns null
// on failure; LastModuleErrorCode/Text then tell why.
[[nodiscard]] ModuleHandle LoadModule(const std::string& fileName);

// The address of an exported symbol, or null (with ProcNotFoundCode as the
// last error) when the module does not export it.
[[nodiscard]] void* ModuleSymbol(ModuleHandle module, const char* name);

// Releases a module loaded by LoadModule. Returns false on failure.
[[nodiscard]] bool FreeModule(ModuleHandle module);

// Code and text of the last failed module operation on the calling thread
// (0 and "" when none failed yet).
int LastModuleErrorCode();
std::string LastModuleErrorText();

// The system's text for an error code.
std::string SystemErrorText(int code);

} // namespace platform
