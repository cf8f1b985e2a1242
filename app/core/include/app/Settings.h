// >>> NOTE TO THE APP-CORE ENGINEER (remove when you edit): your task text had a placeholder
// >>> "APPCORE_API_PLACEHOLDER" where the agreed API belongs. It is in /tmp/appcore_api.txt and
// >>> declared in these headers (Settings.h, RKSysUtils.h, ProcessOps.h, FileList.h, Shell.h).
// Settings of the tool: Environment.ini in the tool's own folder.
#pragma once

#include <string>

namespace app {

// Folder of the running executable, ending in "/".
std::string ToolFolder();
// Lets tests point the tool folder elsewhere; empty = none.
void SetToolFolderOverride(const std::string& folder);

std::string ReadIniValue(const std::string& fileName, const std::string& section,
                         const std::string& key);
bool WriteIniValue(const std::string& fileName, const std::string& section, const std::string& key,
                   const std::string& value);

} // namespace app
