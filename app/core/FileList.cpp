// The backup file list's behaviour.
#include "app/FileList.h"

#include "rtl/Rtl.h"
#include "platform/Files.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>
#include <unordered_set>

namespace app {

namespace {

char UpperAscii(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// Length of the UTF-8 character starting at `pos` (1 for a stray byte).
size_t CharLength(std::string_view s, size_t pos) {
    size_t n = 1;
    while (pos + n < s.size() && (static_cast<unsigned char>(s[pos + n]) & 0xC0) == 0x80 && n < 4 &&
           static_cast<unsigned char>(s[pos]) >= 0xC0)
        ++n;
    return n;
}

bool Match(std::string_view name, std::string_view mask) {
    size_t n = 0;
    size_t m = 0;
    size_t starMask = std::string_view::npos;
    size_t starName = 0;
    while (n < name.size()) {
        if (m < mask.size() && mask[m] == '*') {
            starMask = m++;
            starName = n;
        } else if (m < mask.size() && mask[m] == '?') {
            ++m;
            n += CharLength(name, n);
        } else if (m < mask.size() && UpperAscii(mask[m]) == UpperAscii(name[n])) {
            ++m;
            ++n;
        } else if (starMask != std::string_view::npos) {
            // Let the last "*" take one more character and try again.
            m = starMask + 1;
            starName += CharLength(name, starName);
            n = starName;
        } else {
            return false;
        }
    }
    while (m < mask.size() && mask[m] == '*')
        ++m;
    return m == mask.size();
}

bool LessIgnoringCase(const std::string& a, const std::string& b) {
    // Folded to lower case, so that "_" and the like sort before letters.
    const std::string ua = rtl::LowerCaseAscii(a);
    const std::string ub = rtl::LowerCaseAscii(b);
    return ua != ub ? ua < ub : a < b;
}

std::vector<std::string> SplitMasks(const std::string& masks) {
    std::vector<std::string> result;
    size_t start = 0;
    for (;;) {
        const size_t semi = masks.find(';', start);
        std::string part = rtl::Trim(masks.substr(start, semi - start));
        if (!part.empty())
            result.push_back(std::move(part));
        if (semi == std::string::npos)
            break;
        start = semi + 1;
    }
    return result;
}

// `root` followed by the components of `rest` (separated by `separator`)
// without "." and ".." components or doubled separators; the root alone
// when none is left.
std::string JoinNormalized(const std::string& root, std::string_view rest, char separator) {
    std::vector<std::string_view> parts;
    while (!rest.empty()) {
        const size_t slash = rest.find(separator);
        const std::string_view part = rest.substr(0, slash);
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        if (slash == std::string_view::npos)
            break;
        rest.remove_prefix(slash + 1);
    }
    std::string result = root;
    for (const auto part : parts) {
        result += separator;
        result += part;
    }
    return parts.empty() ? root + separator : result;
}

#if defined(_WIN32)
// An absolute form of `folder` ("D:\..." or "\\server\share\...") without "."
// and ".." components, doubled separators or a trailing "\" (a root keeps
// its "\"). "/" counts as "\".
std::string FullFolderName(const std::string& folder) {
    std::string path = folder;
    std::replace(path.begin(), path.end(), '/', '\\');
    const bool unc = path.rfind("\\\\", 0) == 0;
    const bool drive = path.size() >= 3 && path[1] == ':' && path[2] == '\\';
    if (!unc && !drive) {
        const std::string current = platform::CurrentFolder();
        // "\x" is x on the current drive; anything else is relative.
        path =
            !path.empty() && path[0] == '\\' ? current.substr(0, 2) + path : current + "\\" + path;
    }
    size_t rootEnd = 2;               // "D:"
    if (path.rfind("\\\\", 0) == 0) { // "\\server\share", maybe the current folder's
        const size_t server = path.find('\\', 2);
        rootEnd = server == std::string::npos ? path.size() : path.find('\\', server + 1);
        rootEnd = rootEnd == std::string::npos ? path.size() : rootEnd;
    }
    return JoinNormalized(path.substr(0, rootEnd), std::string_view(path).substr(rootEnd), '\\');
}
#else
// An absolute form of `folder` without "." and ".." components, doubled
// separators or a trailing "/" (the root stays "/").
std::string FullFolderName(const std::string& folder) {
    std::string path = folder;
    if (path.empty() || path[0] != '/')
        path = platform::CurrentFolder() + "/" + path;
    return JoinNormalized("", path, '/');
}
#endif

} // namespace

bool MatchesFileMask(const std::string& name, const std::string& mask) {
    if (mask == "*.*")
        return true;
    return Match(name, mask);
}

TFileListLogic::TFileListLogic() : FDirectory(platform::CurrentFolder()), FMask("*.fbk;*.fdb") {
    std::vector<std::string> files;
    if (platform::ListPlainFiles(FDirectory, files))
        Read(files);
}

std::string TFileListLogic::Directory() const {
    return FDirectory;
}

const std::string& TFileListLogic::Mask() const {
    return FMask;
}

void TFileListLogic::SetMask(const std::string& mask) {
    FMask = mask;
    Update();
}

void TFileListLogic::ApplyFilePath(const std::string& folder) {
    const std::string full = FullFolderName(folder);
    if (!platform::DirectoryExists(full))
        throw rtl::Exception("Folder \"" + folder + "\" does not exist");
    std::vector<std::string> files;
    if (!platform::ListPlainFiles(full, files)) {
        throw rtl::Exception("Folder \"" + folder + "\" cannot be read: " + std::strerror(errno));
    }
    if (!platform::ChangeCurrentFolder(full)) {
        throw rtl::Exception("Folder \"" + folder + "\" cannot be opened: " + std::strerror(errno));
    }
    FDirectory = full;
    Read(files);
}

void TFileListLogic::Update() {
    std::vector<std::string> files;
    // Names are listed only where bare names then refer to them: in a folder
    // that could be read and made the current folder.
    if (!platform::ListPlainFiles(FDirectory, files) || !platform::ChangeCurrentFolder(FDirectory))
        files.clear();
    Read(files);
}

const std::vector<std::string>& TFileListLogic::Items() const {
    return FItems;
}

int TFileListLogic::ItemIndex() const {
    return FItemIndex;
}

void TFileListLogic::SetItemIndex(int index) {
    FItemIndex = (index >= 0 && static_cast<size_t>(index) < FItems.size()) ? index : -1;
}

void TFileListLogic::Read(const std::vector<std::string>& files) {
    std::vector<std::string> items;
    std::unordered_set<std::string> listed;
    for (const auto& mask : SplitMasks(FMask)) {
        for (const auto& name : files) {
            if (MatchesFileMask(name, mask) && listed.insert(name).second)
                items.push_back(name);
        }
    }
    std::sort(items.begin(), items.end(), LessIgnoringCase);
    FItems = std::move(items);
    FItemIndex = -1;
}

} // namespace app
