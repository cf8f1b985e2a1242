// Environment.ini in the tool's own folder.
#include "app/Settings.h"

#include "rtl/Rtl.h"
#include "platform/Files.h"
#include "platform/PrivateProfile.h"

#include <mutex>

namespace app {

namespace {

// The buffer the values are read into: at most 254 bytes of a value come
// back.
constexpr std::size_t ValueBufferSize = 255;

std::mutex& OverrideLock() {
    static std::mutex lock;
    return lock;
}

std::string& OverrideFolder() {
    static std::string folder;
    return folder;
}

} // namespace

std::string ToolFolder() {
    {
        std::lock_guard<std::mutex> guard(OverrideLock());
        const std::string& folder = OverrideFolder();
        if (!folder.empty())
            return folder.back() == rtl::PathDelimiter ? folder : folder + rtl::PathDelimiter;
    }
    return platform::ExecutableFolder();
}

void SetToolFolderOverride(const std::string& folder) {
    std::lock_guard<std::mutex> guard(OverrideLock());
    OverrideFolder() = folder;
}

std::string ReadIniValue(const std::string& fileName, const std::string& section,
                         const std::string& key) {
    const std::string value = rtl::Trim(
        platform::ReadProfileString(section, key, "", ValueBufferSize, ToolFolder() + fileName));
    // "Null" (in exactly this spelling) stands for an empty value.
    return value == "Null" ? std::string() : value;
}

bool WriteIniValue(const std::string& fileName, const std::string& section, const std::string& key,
                   const std::string& value) {
    return platform::WriteProfileString(section, key, value, ToolFolder() + fileName);
}

bool CanWriteIniFile(const std::string& fileName, std::string& reason) {
    return platform::CanWriteProfile(ToolFolder() + fileName, reason);
}

} // namespace app
