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

// Its sections and keys (the suite's other programs read the same file).
inline constexpr const char* SystemSection = "SYSTEM";
inline constexpr const char* SetupSection = "SYSSETUP";
// SYSTEM: address of the database server the backup and restore talk to.
inline constexpr const char* DBSvrIPKey = "DBSvrIP";
// SYSTEM: the database file as the database server sees it.
inline constexpr const char* DBPathDBKey = "DBPathDB";
// SYSTEM: the suite's server address; the tool only writes it.
inline constexpr const char* SvrIPKey = "SvrIP";
// SYSSETUP: the backup folder.
inline constexpr const char* DBBackPOSKey = "DBBackPOS";

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
