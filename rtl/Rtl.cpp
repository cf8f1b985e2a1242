#include "rtl/Rtl.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>

namespace rtl {

Exception::Exception(std::string message, int helpContext)
    : FMessage(std::move(message)), FHelpContext(helpContext) {}

Exception::~Exception() = default;

static std::string OSErrorText(int code, const std::string& systemText) {
    if (code == 0) {
        return "A call to an OS function failed";
    }
    return "System Error.  Code: " + std::to_string(code) + ".\r\n" + systemText;
}

EOSError::EOSError(int errorCode, const std::string& systemText)
    : Exception(OSErrorText(errorCode, systemText)), FErrorCode(errorCode) {}

bool TryStrToInt(const std::string& text, int32_t& value) {
    // Leading blanks are allowed, trailing ones are not; a "$" or "0x" prefix
    // after the sign reads hexadecimal.
    size_t i = 0;
    while (i < text.size() && text[i] == ' ') {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        negative = text[i] == '-';
        ++i;
    }
    int base = 10;
    if (i < text.size() && text[i] == '$') {
        base = 16;
        ++i;
    } else if (i + 1 < text.size() && text[i] == '0' &&
               (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i >= text.size()) {
        return false;
    }
    uint64_t acc = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        int digit;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (base == 16 && c >= 'a' && c <= 'f') {
            digit = c - 'a' + 10;
        } else if (base == 16 && c >= 'A' && c <= 'F') {
            digit = c - 'A' + 10;
        } else {
            return false;
        }
        acc = acc * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
        if (acc > 0xFFFFFFFFull) {
            return false;
        }
    }
    if (base == 16) {
        // Hexadecimal texts may spell the full 32-bit pattern.
        uint32_t bits = static_cast<uint32_t>(acc);
        int32_t v = static_cast<int32_t>(bits);
        value = negative ? -v : v;
        return true;
    }
    if (negative) {
        if (acc > static_cast<uint64_t>(INT32_MAX) + 1) {
            return false;
        }
        value = static_cast<int32_t>(-static_cast<int64_t>(acc));
    } else {
        if (acc > static_cast<uint64_t>(INT32_MAX)) {
            return false;
        }
        value = static_cast<int32_t>(acc);
    }
    return true;
}

int32_t StrToInt(const std::string& text) {
    int32_t value = 0;
    if (!TryStrToInt(text, value)) {
        throw EConvertError("'" + text + "' is not a valid integer value");
    }
    return value;
}

std::string Trim(const std::string& text) {
    size_t first = 0;
    size_t last = text.size();
    while (first < last && static_cast<unsigned char>(text[first]) <= 32) {
        ++first;
    }
    while (last > first && static_cast<unsigned char>(text[last - 1]) <= 32) {
        --last;
    }
    return text.substr(first, last - first);
}

std::string UpperCaseAscii(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return text;
}

std::string LowerCaseAscii(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

std::string ExtractFilePath(const std::string& path, const char* delimiters) {
    const size_t cut = path.find_last_of(delimiters);
    return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

std::string ExtractFileName(const std::string& path, const char* delimiters) {
    const size_t cut = path.find_last_of(delimiters);
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

TComponent::TComponent(TComponent* owner) : FOwner(owner) {
    if (FOwner != nullptr) {
        FOwner->FComponents.push_back(this);
    }
}

TComponent::~TComponent() {
    // Destroy owned components, newest first; each removes itself.
    while (!FComponents.empty()) {
        delete FComponents.back();
    }
    if (FOwner != nullptr) {
        auto& siblings = FOwner->FComponents;
        siblings.erase(std::remove(siblings.begin(), siblings.end(), this), siblings.end());
    }
}

void TComponent::EndLoading() {
    FLoading = false;
    Loaded();
}

TStringList& TStringList::operator=(const TStringList& other) {
    if (this != &other) {
        Assign(other);
    }
    return *this;
}

void TStringList::Changing() {
    if (OnChanging) {
        OnChanging();
    }
}

void TStringList::Changed() {
    if (OnChange) {
        OnChange();
    }
}

int TStringList::Add(const std::string& line) {
    Changing();
    FLines.push_back(line);
    Changed();
    return Count() - 1;
}

void TStringList::Insert(int index, const std::string& line) {
    if (index < 0 || index > Count()) {
        throw Exception("List index out of bounds (" + std::to_string(index) + ")");
    }
    Changing();
    FLines.insert(FLines.begin() + index, line);
    Changed();
}

void TStringList::Delete(int index) {
    if (index < 0 || index >= Count()) {
        throw Exception("List index out of bounds (" + std::to_string(index) + ")");
    }
    Changing();
    FLines.erase(FLines.begin() + index);
    Changed();
}

void TStringList::Set(int index, const std::string& line) {
    if (index < 0 || index >= Count()) {
        throw Exception("List index out of bounds (" + std::to_string(index) + ")");
    }
    Changing();
    FLines[static_cast<size_t>(index)] = line;
    Changed();
}

void TStringList::Clear() {
    if (FLines.empty()) {
        return;
    }
    Changing();
    FLines.clear();
    Changed();
}

void TStringList::Assign(const TStringList& other) {
    Assign(other.FLines);
}

void TStringList::Assign(const std::vector<std::string>& lines) {
    Changing();
    FLines = lines;
    Changed();
}

std::string TStringList::Text() const {
    std::string text;
    for (const auto& line : FLines) {
        text += line;
        text += LineBreak;
    }
    return text;
}

std::string TStringList::Names(int index) const {
    const std::string& line = (*this)[index];
    const size_t eq = line.find('=');
    return eq == std::string::npos ? std::string() : line.substr(0, eq);
}

std::string TStringList::ValueFromIndex(int index) const {
    const std::string& line = (*this)[index];
    const size_t eq = line.find('=');
    return eq == std::string::npos ? std::string() : line.substr(eq + 1);
}

} // namespace rtl
