// Files for tests: a temporary folder removed at the end, and whole-file
// writes and reads.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <stdexcept>
#include <string>

namespace slvtest {

// A fresh folder under the system's temporary folder, removed at the end.
class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "slvapp.XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("mkdtemp failed");
        FPath = pattern;
    }
    ~TempDir() {
        std::error_code ec;
        // Give write permission back where a test took it away.
        for (auto it = std::filesystem::recursive_directory_iterator(FPath, ec);
             !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
            if (it->is_directory(ec) && !it->is_symlink(ec))
                ::chmod(it->path().c_str(), 0700);
        }
        ::chmod(FPath.c_str(), 0700);
        std::filesystem::remove_all(FPath, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return FPath; }
    // The folder with a trailing "/".
    std::string Slash() const { return FPath + "/"; }
    std::string operator/(const std::string& name) const { return FPath + "/" + name; }

    // The names in the folder (hidden ones included), sorted.
    std::set<std::string> Names() const {
        std::set<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(FPath))
            names.insert(entry.path().filename().string());
        return names;
    }

private:
    std::string FPath;
};

inline void WriteFile(const std::filesystem::path& path, const std::string& contents) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << contents;
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
}

inline std::string ReadRest(std::istream& in) {
    std::string contents;
    char buffer[4096];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0)
        contents.append(buffer, static_cast<size_t>(in.gcount()));
    return contents;
}

inline std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return ReadRest(in);
}

inline mode_t ModeOf(const std::filesystem::path& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return 0;
    return st.st_mode & 07777;
}

} // namespace slvtest
