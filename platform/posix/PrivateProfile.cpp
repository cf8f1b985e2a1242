// Private-profile files on POSIX: a small INI reader and a byte-preserving,
// atomic writer.
#include "platform/PrivateProfile.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace platform {

namespace {

constexpr std::string_view Bom = "\xEF\xBB\xBF";

// One line of the file: its text and the line break that followed it
// ("\r\n", "\n" or nothing for a last line without one).
struct Line {
    std::string Text;
    std::string Eol;
};

struct Parsed {
    std::string Bom;
    std::vector<Line> Lines;
    std::string DefaultEol = "\r\n";
};

Parsed Split(const std::string& contents) {
    Parsed result;
    std::string_view rest(contents);
    if (rest.substr(0, Bom.size()) == Bom) {
        result.Bom = std::string(Bom);
        rest.remove_prefix(Bom.size());
    }
    bool eolChosen = false;
    while (!rest.empty()) {
        const size_t nl = rest.find('\n');
        if (nl == std::string_view::npos) {
            result.Lines.push_back({std::string(rest), ""});
            break;
        }
        const bool crlf = nl > 0 && rest[nl - 1] == '\r';
        const size_t textLen = crlf ? nl - 1 : nl;
        result.Lines.push_back(
            {std::string(rest.substr(0, textLen)), crlf ? std::string("\r\n") : std::string("\n")});
        if (!eolChosen) {
            result.DefaultEol = result.Lines.back().Eol;
            eolChosen = true;
        }
        rest.remove_prefix(nl + 1);
    }
    return result;
}

std::string Join(const Parsed& parsed) {
    std::string out = parsed.Bom;
    for (const auto& line : parsed.Lines) {
        out += line.Text;
        out += line.Eol;
    }
    return out;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view TrimBlanks(std::string_view s) {
    while (!s.empty() && IsBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i]))
            return false;
    }
    return true;
}

enum class Kind { Other, Blank, Comment, Section, Key };

struct Classified {
    Kind LineKind = Kind::Other;
    std::string_view Name;  // section or key name, trimmed
    std::string_view Value; // key value, trimmed (without quotes)
};

Classified Classify(const std::string& text) {
    Classified c;
    const std::string_view t = TrimBlanks(text);
    if (t.empty()) {
        c.LineKind = Kind::Blank;
        return c;
    }
    if (t.front() == ';') {
        c.LineKind = Kind::Comment;
        return c;
    }
    if (t.front() == '[') {
        c.LineKind = Kind::Section;
        std::string_view name = t.substr(1);
        const size_t close = name.find(']');
        if (close != std::string_view::npos)
            name = name.substr(0, close);
        c.Name = TrimBlanks(name);
        return c;
    }
    const size_t eq = t.find('=');
    if (eq == std::string_view::npos)
        return c;
    c.LineKind = Kind::Key;
    c.Name = TrimBlanks(t.substr(0, eq));
    std::string_view value = TrimBlanks(t.substr(eq + 1));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        value = value.substr(1, value.size() - 2);
    }
    c.Value = value;
    return c;
}

// Index range [first, last) of the lines of the first section named so;
// first is the header line itself. Returns false when there is none.
bool FindSection(const Parsed& parsed, std::string_view section, size_t& header, size_t& end) {
    const size_t count = parsed.Lines.size();
    for (size_t i = 0; i < count; ++i) {
        const Classified c = Classify(parsed.Lines[i].Text);
        if (c.LineKind != Kind::Section || !SameName(c.Name, section))
            continue;
        header = i;
        end = i + 1;
        while (end < count && Classify(parsed.Lines[end].Text).LineKind != Kind::Section)
            ++end;
        return true;
    }
    return false;
}

bool HasLineBreak(std::string_view s) {
    return s.find_first_of("\r\n") != std::string_view::npos;
}

bool ReadWholeFile(const std::string& path, std::string& contents) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    contents.clear();
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            ::close(fd);
            return false;
        }
        if (n == 0)
            break;
        contents.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    return true;
}

bool WriteAll(int fd, const std::string& data) {
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

void SyncFolder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

// Writes `contents` to a new file beside `path` and renames it over `path`.
// `existing` holds the original's status when there is one.
bool ReplaceFile(const std::string& path, const std::string& contents,
                 const struct stat* existing) {
    const size_t slash = path.rfind('/');
    const std::string prefix =
        slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);

    static std::atomic<unsigned> counter{0};
    std::string tempPath;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        tempPath = prefix + "." + base + "." + std::to_string(::getpid()) + "." +
                   std::to_string(counter++) + ".tmp";
        // 0666 less the umask, as for a file created directly.
        fd = ::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            return false;
    }
    if (fd < 0)
        return false;

    bool ok = WriteAll(fd, contents);
    if (ok && existing != nullptr) {
        ok = ::fchmod(fd, existing->st_mode & 07777) == 0;
        if (ok && (existing->st_uid != ::geteuid() || existing->st_gid != ::getegid())) {
            // Only a privileged process can hand the file back to its owner;
            // otherwise the new file belongs to the writer, as any new file.
            (void)::fchown(fd, existing->st_uid, existing->st_gid);
        }
    }
    ok = ok && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    ok = ok && ::rename(tempPath.c_str(), path.c_str()) == 0;
    if (!ok) {
        ::unlink(tempPath.c_str());
        return false;
    }
    SyncFolder(prefix.empty() ? std::string(".") : prefix);
    return true;
}

} // namespace

std::string CutToBuffer(const std::string& text, std::size_t bufferSize) {
    if (bufferSize == 0)
        return std::string();
    size_t keep = bufferSize - 1;
    if (text.size() <= keep)
        return text;
    auto continuation = [&](size_t i) {
        return (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80;
    };
    if (continuation(keep)) {
        // The first byte cut off continues a character: drop that character's
        // bytes in front of the cut as well.
        size_t lead = keep;
        while (lead > 0 && keep - lead < 4 && continuation(lead - 1))
            --lead;
        if (lead > 0 && static_cast<unsigned char>(text[lead - 1]) >= 0xC0)
            keep = lead - 1;
    }
    return text.substr(0, keep);
}

std::optional<std::string> ProfileLookup(const std::string& contents, const std::string& section,
                                         const std::string& key) {
    const Parsed parsed = Split(contents);
    size_t header = 0;
    size_t end = 0;
    if (!FindSection(parsed, TrimBlanks(section), header, end))
        return std::nullopt;
    const std::string_view wanted = TrimBlanks(key);
    for (size_t i = header + 1; i < end; ++i) {
        const Classified c = Classify(parsed.Lines[i].Text);
        if (c.LineKind == Kind::Key && SameName(c.Name, wanted))
            return std::string(c.Value);
    }
    return std::nullopt;
}

std::optional<std::string> ProfileStore(const std::string& contents, const std::string& section,
                                        const std::string& key, const std::string& value) {
    const std::string_view sectionName = TrimBlanks(section);
    const std::string_view keyName = TrimBlanks(key);
    if (sectionName.empty() || keyName.empty() || HasLineBreak(section) || HasLineBreak(key) ||
        HasLineBreak(value) || sectionName.find(']') != std::string_view::npos ||
        keyName.find('=') != std::string_view::npos || keyName.front() == '[' ||
        keyName.front() == ';') {
        return std::nullopt;
    }

    Parsed parsed = Split(contents);
    const std::string eol = parsed.DefaultEol;
    const std::string newKeyLine = std::string(keyName) + "=" + value;

    // Puts a new line right after line `after`; the new line takes over the
    // line break of that line, which gets the file's usual one, so a last
    // line without a line break stays without one.
    auto insertAfter = [&](size_t after, std::string text) {
        Line line{std::move(text), parsed.Lines[after].Eol};
        parsed.Lines[after].Eol = eol;
        parsed.Lines.insert(parsed.Lines.begin() + static_cast<std::ptrdiff_t>(after) + 1,
                            std::move(line));
    };

    size_t header = 0;
    size_t end = 0;
    if (FindSection(parsed, sectionName, header, end)) {
        for (size_t i = header + 1; i < end; ++i) {
            Line& line = parsed.Lines[i];
            const Classified c = Classify(line.Text);
            if (c.LineKind != Kind::Key || !SameName(c.Name, keyName))
                continue;
            // Only the value's own bytes change; the name, the "=" and the
            // blanks around the value stay as they are.
            const size_t eq = line.Text.find('=');
            size_t first = eq + 1;
            size_t last = line.Text.size();
            while (last > first && IsBlank(line.Text[last - 1]))
                --last;
            while (first < last && IsBlank(line.Text[first]))
                ++first;
            if (first == last) {
                first = eq + 1;
                last = line.Text.size();
            }
            line.Text.replace(first, last - first, value);
            return Join(parsed);
        }
        // A new key goes behind the section's last line, leaving the blank
        // lines before the next section, and the comments right above its
        // header, where they are.
        size_t after = end;
        if (end < parsed.Lines.size()) {
            while (after - 1 > header &&
                   Classify(parsed.Lines[after - 1].Text).LineKind == Kind::Comment)
                --after;
        }
        while (after - 1 > header && Classify(parsed.Lines[after - 1].Text).LineKind == Kind::Blank)
            --after;
        insertAfter(after - 1, newKeyLine);
        return Join(parsed);
    }

    const std::string headerLine = "[" + std::string(sectionName) + "]";
    if (parsed.Lines.empty()) {
        parsed.Lines.push_back({headerLine, eol});
        parsed.Lines.push_back({newKeyLine, eol});
    } else {
        insertAfter(parsed.Lines.size() - 1, headerLine);
        insertAfter(parsed.Lines.size() - 1, newKeyLine);
    }
    return Join(parsed);
}

std::string ReadProfileString(const std::string& section, const std::string& key,
                              const std::string& defaultValue, std::size_t bufferSize,
                              const std::string& fileName) {
    std::string contents;
    std::optional<std::string> value;
    if (ReadWholeFile(fileName, contents))
        value = ProfileLookup(contents, section, key);
    if (!value) {
        // As the counterpart does, trailing blanks of the default are dropped.
        std::string fallback = defaultValue;
        while (!fallback.empty() && (fallback.back() == ' ' || fallback.back() == '\t'))
            fallback.pop_back();
        value = std::move(fallback);
    }
    return CutToBuffer(*value, bufferSize);
}

bool WriteProfileString(const std::string& section, const std::string& key,
                        const std::string& value, const std::string& fileName) {
    if (fileName.empty())
        return false;
    // Through a link the file it points to is changed, and the link stays.
    std::string path = fileName;
    struct stat st {};
    const bool exists = ::stat(fileName.c_str(), &st) == 0;
    if (exists) {
        if (!S_ISREG(st.st_mode))
            return false;
        char resolved[PATH_MAX];
        if (::realpath(fileName.c_str(), resolved) == nullptr)
            return false;
        path = resolved;
        if ((st.st_mode & 0222) == 0 || ::access(path.c_str(), W_OK) != 0)
            return false; // read-only
    } else if (errno != ENOENT) {
        return false;
    }

    std::string contents;
    if (exists && !ReadWholeFile(path, contents))
        return false;
    const std::optional<std::string> updated = ProfileStore(contents, section, key, value);
    if (!updated)
        return false;
    if (exists && *updated == contents)
        return true;
    return ReplaceFile(path, *updated, exists ? &st : nullptr);
}

} // namespace platform

namespace platform {

bool CanWriteProfile(const std::string& fileName, std::string& reason) {
    reason.clear();
    if (fileName.empty()) {
        reason = std::strerror(ENOENT);
        return false;
    }
    std::string path = fileName;
    struct stat st {};
    if (::stat(fileName.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode)) {
            reason = "not a plain file";
            return false;
        }
        char resolved[PATH_MAX];
        if (::realpath(fileName.c_str(), resolved) == nullptr) {
            reason = std::strerror(errno);
            return false;
        }
        path = resolved;
        if ((st.st_mode & 0222) == 0) {
            reason = "read-only file";
            return false;
        }
        if (::access(path.c_str(), W_OK) != 0) {
            reason = std::strerror(errno);
            return false;
        }
    } else if (errno != ENOENT) {
        reason = std::strerror(errno);
        return false;
    }
    // The new contents go to a temporary file in the same folder first.
    const size_t slash = path.rfind('/');
    const std::string folder =
        slash == std::string::npos ? std::string(".") : (slash == 0 ? "/" : path.substr(0, slash));
    if (::access(folder.c_str(), W_OK | X_OK) != 0) {
        reason = folder + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

} // namespace platform
