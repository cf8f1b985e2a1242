// Private-profile (INI) files: read one key's value, store one key's value.
//
// On Windows both are the system's own private-profile functions, so that
// the suite's programs read exactly what the tool writes; the file keeps the
// ANSI code page (CP949 on a Korean Windows), and the rules below about
// layout and atomic replacement are the POSIX implementation's.
//
// Layout understood: "[Section]" header lines, "Key=Value" lines, ";" comment
// lines and blank lines. Section and key names are found regardless of the
// case of their ASCII letters; blanks and tabs around names and values do not
// count, and a value enclosed in a matching pair of double or single quotes
// comes back without them. When a section or a key appears twice, the first
// one counts. A UTF-8 byte-order mark at the start of the file is skipped.
//
// Writing keeps every other byte of the file as it was: comments, blank lines,
// order, other keys, the line endings the file uses (CRLF or LF), a missing
// final line break and a byte-order mark. A new file uses CRLF line endings,
// as the suite's other programs write it. The file is replaced atomically (a
// temporary file in the same folder is written, flushed to disk and renamed
// over the original, whose permission bits it takes), so a failed or
// interrupted write never leaves a damaged file behind.
#pragma once

// windows.h defines WriteProfileString as a macro for an old call of the same name.
#if defined(_WIN32) && defined(WriteProfileString)
#undef WriteProfileString
#endif

#include <cstddef>
#include <optional>
#include <string>

namespace platform {

// The value of `key` in `section` of the file `fileName`, or `defaultValue`
// when the file, the section or the key is missing (an unreadable file counts
// as missing). The result is cut to fit a buffer of `bufferSize` bytes
// including the terminating zero, so at most bufferSize - 1 bytes come back;
// a cut never splits a UTF-8 sequence (the incomplete character is dropped).
std::string ReadProfileString(const std::string& section, const std::string& key,
                              const std::string& defaultValue, std::size_t bufferSize,
                              const std::string& fileName);

// Stores `value` as the value of `key` in `section`, adding the section and
// the key when missing and creating the file when it does not exist (its
// folder must). Returns false when the file could not be written: the folder
// or the file is read-only (a file without any write permission bit counts as
// read-only), the path is not a plain file, or a name or the value holds a
// line break (the section name also may not hold "]", the key name not "=").
// A false result leaves the existing file untouched.
[[nodiscard]] bool WriteProfileString(const std::string& section, const std::string& key,
                                      const std::string& value, const std::string& fileName);

// Whether WriteProfileString could store a value in `fileName` now: the file
// (if it exists) is a plain file with a write bit that this process may
// write, and its folder takes the temporary file and the rename (write and
// search rights; on Windows, which writes the file in place, only a new
// file needs the folder). On false, `reason` says what is in the way.
[[nodiscard]] bool CanWriteProfile(const std::string& fileName, std::string& reason);

// The text-only halves of the two operations above, used by them and by the
// tests: look a key up in the file's contents, and the contents after storing
// a value (nullopt when the names or the value are not storable).
[[nodiscard]] std::optional<std::string>
ProfileLookup(const std::string& contents, const std::string& section, const std::string& key);
[[nodiscard]] std::optional<std::string> ProfileStore(const std::string& contents,
                                                      const std::string& section,
                                                      const std::string& key,
                                                      const std::string& value);

// Cuts `text` to fit a buffer of `bufferSize` bytes including the terminating
// zero, without leaving a split UTF-8 sequence at the end.
std::string CutToBuffer(const std::string& text, std::size_t bufferSize);

} // namespace platform
