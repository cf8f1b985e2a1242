// Names and texts of the window's commands.
#include "app/Commands.h"

#include <cstdio>
#include <string_view>

#include "rtl/Rtl.h"

namespace app {

namespace {

// What a verbose restore writes last, once the new database is closed.
constexpr const char* RestoreClosingText = "gbak:finishing, closing, and going home";

std::string DropLastBytes(const std::string& text, size_t count) {
    return text.size() > count ? text.substr(0, text.size() - count) : std::string();
}

} // namespace

std::string BackupTimeStamp(const TDateTime& now) {
    char text[32];
    std::snprintf(text, sizeof text, "%02d%02d%02d_%02d%02d", ((now.Year % 100) + 100) % 100,
                  now.Month, now.Day, now.Hour, now.Minute);
    return text;
}

std::string BackupFileName(const TDateTime& now) {
    return "SLV_Backup_" + BackupTimeStamp(now) + ".fbk";
}

std::string JoinFolder(const std::string& folder, const std::string& fileName) {
    if (folder.empty()) {
        return fileName;
    }
#if defined(_WIN32)
    // A folder that ends in a separator (or is a drive, "D:") takes the name
    // right behind it, whichever separator the user wrote.
    if (std::string_view(rtl::PathDelimiters).find(folder.back()) != std::string_view::npos) {
        return folder + fileName;
    }
    return folder + rtl::PathDelimiter + fileName;
#else
    size_t end = folder.size();
    while (end > 0 && folder[end - 1] == '/') {
        --end;
    }
    return folder.substr(0, end) + "/" + fileName;
#endif
}

std::string RestoreTargetPath(const std::string& databasePath) {
    const std::string folder = rtl::ExtractFilePath(databasePath);
    const std::string name = rtl::ExtractFileName(databasePath);
    return folder + DropLastBytes(name, 4) + "복원.fdb";
}

std::string AsideDatabasePath(const std::string& databasePath) {
    return DropLastBytes(databasePath, 4) + "~.fdb";
}

bool IsRestoreClosingLine(const std::string& line) {
    return line.find(RestoreClosingText) != std::string::npos;
}

} // namespace app
