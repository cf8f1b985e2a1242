// Small runtime shared by every layer above the platform: the base exception
// classes, string helpers with the tool's trimming and conversion rules, the
// file-name helpers, the component base (owner, name, loading state) and the
// text-line list with change notices.
#pragma once

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace rtl {

// Base of every error the tool raises. Holds the message text and a help
// context number (always 0 here).
class Exception : public std::exception {
public:
    explicit Exception(std::string message, int helpContext = 0);
    ~Exception() override;
    Exception(const Exception&) = default;
    Exception& operator=(const Exception&) = default;

    const std::string& Message() const noexcept { return FMessage; }
    int HelpContext() const noexcept { return FHelpContext; }
    const char* what() const noexcept override { return FMessage.c_str(); }

protected:
    void SetMessage(std::string message) { FMessage = std::move(message); }

private:
    std::string FMessage;
    int FHelpContext = 0;
};

// An operating-system call failed. Message: "System Error.  Code: %d.\r\n%s",
// or "A call to an OS function failed" when the code is 0.
class EOSError : public Exception {
public:
    EOSError(int errorCode, const std::string& systemText);
    int ErrorCode() const noexcept { return FErrorCode; }

private:
    int FErrorCode;
};

// A text that should have been a number was not.
class EConvertError : public Exception {
public:
    using Exception::Exception;
};

// Parses a signed 32-bit decimal (optional sign, optional "$"/"0x" hex) the
// way the runtime does; raises EConvertError "'<text>' is not a valid
// integer value" otherwise.
int32_t StrToInt(const std::string& text);
bool TryStrToInt(const std::string& text, int32_t& value);

// Cuts every byte with a code of 32 or below from both ends.
std::string Trim(const std::string& text);
// Changes only the ASCII letters a-z / A-Z.
std::string UpperCaseAscii(std::string text);
std::string LowerCaseAscii(std::string text);

// The characters that end a folder in a path on this platform, and the one
// this platform writes.
#if defined(_WIN32)
inline constexpr const char* PathDelimiters = "\\/:";
inline constexpr char PathDelimiter = '\\';
#else
inline constexpr const char* PathDelimiters = "/";
inline constexpr char PathDelimiter = '/';
#endif

// The folder part of a path, up to and including its last delimiter (empty
// when it has none), and the file name after it (the whole path then).
std::string ExtractFilePath(const std::string& path, const char* delimiters = PathDelimiters);
std::string ExtractFileName(const std::string& path, const char* delimiters = PathDelimiters);

// The line break that list texts and memo texts use on this platform.
#if defined(_WIN32)
inline constexpr const char* LineBreak = "\r\n";
#else
inline constexpr const char* LineBreak = "\n";
#endif

// Component base: an owner, a name and a loading state. An owner destroys the
// components it owns when it is destroyed (in reverse order of creation).
class TComponent {
public:
    explicit TComponent(TComponent* owner = nullptr);
    virtual ~TComponent();
    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;

    TComponent* Owner() const noexcept { return FOwner; }
    const std::string& Name() const noexcept { return FName; }
    void SetName(std::string name) { FName = std::move(name); }

    // Stored settings are being applied between BeginLoading and EndLoading;
    // EndLoading runs the end-of-loading step Loaded().
    bool Loading() const noexcept { return FLoading; }
    bool Designing() const noexcept { return FDesigning; }
    void SetDesigning(bool value) noexcept { FDesigning = value; }
    void BeginLoading() noexcept { FLoading = true; }
    void EndLoading();

    const std::vector<TComponent*>& Components() const noexcept { return FComponents; }

protected:
    virtual void Loaded() {}

private:
    TComponent* FOwner = nullptr;
    std::string FName;
    bool FLoading = false;
    bool FDesigning = false;
    std::vector<TComponent*> FComponents;
};

// Ordered list of text lines, read as name=value where the name is the text
// before the first "=". OnChanging runs before every change and may refuse it
// by throwing (the list then stays as it was); OnChange runs after it.
class TStringList {
public:
    TStringList() = default;
    TStringList(std::initializer_list<std::string> lines) : FLines(lines) {}
    // Copying copies the lines only, never the notifications.
    TStringList(const TStringList& other) : FLines(other.FLines) {}
    TStringList& operator=(const TStringList& other);

    std::function<void()> OnChanging;
    std::function<void()> OnChange;

    int Count() const noexcept { return static_cast<int>(FLines.size()); }
    bool Empty() const noexcept { return FLines.empty(); }
    const std::string& operator[](int index) const { return FLines.at(static_cast<size_t>(index)); }
    const std::vector<std::string>& Lines() const noexcept { return FLines; }

    int Add(const std::string& line);
    void Insert(int index, const std::string& line);
    void Delete(int index);
    void Set(int index, const std::string& line);
    void Clear();
    void Assign(const TStringList& other);
    void Assign(const std::vector<std::string>& lines);

    // Every line followed by LineBreak.
    std::string Text() const;
    // Text before the first "=" of a line (the whole line when it has none
    // is not a name: returns the empty text).
    std::string Names(int index) const;
    // Text after the first "=" of a line (empty when it has none).
    std::string ValueFromIndex(int index) const;

private:
    void Changing();
    void Changed();
    std::vector<std::string> FLines;
};

} // namespace rtl
