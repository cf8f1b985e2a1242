// Settings of the tool: Environment.ini in the tool's own folder.
//
// ReadIniValue returns the key's value (at most 254 bytes of it) with every
// byte of code 32 or below cut from both ends; the stored text "Null" (in
// exactly this spelling) reads as empty, and so do a missing file, section
// or key. WriteIniValue stores the value, adding the file, the section or the
// key when missing and keeping the rest of the file as it is; it returns
// false when the file could not be written (read-only file or folder).
#pragma once

#include <string>

namespace app {

// The settings file that every caller names, in the tool's own folder.
inline constexpr const char* SettingsFile = "Environment.ini";

// Folder of the running executable, ending in "/".
std::string ToolFolder();
// Lets tests point the tool folder elsewhere; empty = none.
void SetToolFolderOverride(const std::string& folder);

std::string ReadIniValue(const std::string& fileName, const std::string& section,
                         const std::string& key);
bool WriteIniValue(const std::string& fileName, const std::string& section, const std::string& key,
                   const std::string& value);
// Whether WriteIniValue could store values in the file now; on false,
// `reason` says what is in the way.
[[nodiscard]] bool CanWriteIniFile(const std::string& fileName, std::string& reason);

} // namespace app
