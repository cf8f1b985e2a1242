// Names and texts of the window's commands.
#include "app/Commands.h"

#include <cstdio>

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
    size_t end = folder.size();
    while (end > 0 && folder[end - 1] == '/') {
        --end;
    }
    return folder.substr(0, end) + "/" + fileName;
}

std::string RestoreTargetPath(const std::string& databasePath) {
    const size_t slash = databasePath.find_last_of('/');
    const std::string folder =
        slash == std::string::npos ? std::string() : databasePath.substr(0, slash + 1);
    const std::string name =
        slash == std::string::npos ? databasePath : databasePath.substr(slash + 1);
    return folder + DropLastBytes(name, 4) + "복원.fdb";
}

std::string AsideDatabasePath(const std::string& databasePath) {
    return DropLastBytes(databasePath, 4) + "~.fdb";
}

bool IsRestoreClosingLine(const std::string& line) {
    return line.find(RestoreClosingText) != std::string::npos;
}

} // namespace app
