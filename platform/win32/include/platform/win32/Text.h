// The text of the layers above is UTF-8; the Windows W functions take
// UTF-16. These two convert at that edge (an invalid UTF-8 sequence becomes
// U+FFFD, never a cut text).
#pragma once

#include <optional>
#include <string>

namespace platform::win32 {

std::wstring Widen(const std::string& utf8);
std::string Narrow(const std::wstring& utf16);
std::string Narrow(const wchar_t* utf16, std::size_t length);

// UTF-8 text in the ANSI code page (CP949 on a Korean Windows); nullopt
// when a character has no exact form there.
std::optional<std::string> ToAnsiCodePage(const std::string& utf8);
// Text that a Windows library hands back: kept when it is valid UTF-8 (plain
// ASCII is), else read in the ANSI code page.
std::string FromSystemText(const std::string& bytes);

// The system's text for a Windows error code, without the trailing line
// break, in UTF-8.
std::string ErrorText(unsigned long code);

// Sets errno to the counterpart of a Windows error code (EEXIST for
// ERROR_ALREADY_EXISTS, ...) and keeps the code for this thread, so that
// platform::ErrorText(errno) right after gives the system's own text of the
// failure; returns the errno value. The code defaults to GetLastError().
int SetErrnoFrom(unsigned long code);
int SetErrnoFromLastError();
// The Windows error code that SetErrnoFrom last kept on this thread, when it
// gave `error`; 0 otherwise.
unsigned long KeptErrorFor(int error);

} // namespace platform::win32
