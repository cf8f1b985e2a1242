// Names and texts of the window's commands.
#include "app/Commands.h"

#include <atomic>
#include <cstdio>
#include <string_view>
#include <unistd.h>

#include "rtl/Rtl.h"

namespace app {

namespace {

// What a verbose restore writes last, once the new database is closed.
constexpr const char* RestoreClosingText = "gbak:finishing, closing, and going home";
// What it writes right after it has created the database file.
constexpr const char* DatabaseCreatedText = "gbak:created database ";

bool IsContinuation(unsigned char byte) {
    return (byte & 0xC0) == 0x80;
}

// Length of the UTF-8 sequence a lead byte starts (0: not a lead byte).
size_t SequenceLength(unsigned char lead) {
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF)
        return 2;
    if (lead >= 0xE0 && lead <= 0xEF)
        return 3;
    if (lead >= 0xF0 && lead <= 0xF4)
        return 4;
    return 0;
}

// Where the last character of text[0, end) begins.
size_t LastCharStart(const std::string& text, size_t end) {
    size_t start = end - 1;
    // Back over at most three continuation bytes to a lead byte whose
    // sequence ends exactly at `end`.
    for (size_t back = 1; back <= 4 && back <= end; ++back) {
        const size_t at = end - back;
        const auto byte = static_cast<unsigned char>(text[at]);
        if (!IsContinuation(byte)) {
            if (SequenceLength(byte) == back)
                start = at;
            break;
        }
    }
    return start;
}

// The folder part (up to and including the last separator of this
// platform) and the file-name part of a path.
void SplitPath(const std::string& path, std::string& folder, std::string& name) {
    folder = rtl::ExtractFilePath(path);
    name = rtl::ExtractFileName(path);
}

} // namespace

std::string DropLastChars(const std::string& text, size_t count) {
    size_t end = text.size();
    for (size_t i = 0; i < count && end > 0; ++i)
        end = LastCharStart(text, end);
    return text.substr(0, end);
}

void AddServiceAccount(rtl::TStringList& params) {
    params.Add(ServiceUserLine);
    params.Add(ServicePasswordLine);
    params.Add(ServiceConnectTimeoutLine);
}

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
    std::string folder;
    std::string name;
    SplitPath(databasePath, folder, name);
    return folder + DropLastChars(name, 4) + "복원.fdb";
}

std::string AsideDatabasePath(const std::string& databasePath) {
    std::string folder;
    std::string name;
    SplitPath(databasePath, folder, name);
    return folder + DropLastChars(name, 4) + "~.fdb";
}

std::string WorkInProgressPath(const std::string& finalPath) {
    static std::atomic<unsigned> counter{0};
    return finalPath + "." + std::to_string(::getpid()) + "-" + std::to_string(counter++) + ".part";
}

std::string ServerHost(const std::string& serverAddress) {
    std::string host = serverAddress;
    if (!host.empty() && host.front() == '[') {
        const size_t close = host.find(']');
        return close == std::string::npos ? host.substr(1) : host.substr(1, close - 1);
    }
    const size_t slash = host.find('/');
    if (slash != std::string::npos)
        host.resize(slash);
    return host;
}

bool IsRestoreClosingLine(const std::string& line) {
    return line.find(RestoreClosingText) != std::string::npos;
}

bool IsDatabaseCreatedLine(const std::string& line) {
    return line.find(DatabaseCreatedText) != std::string::npos;
}

} // namespace app
