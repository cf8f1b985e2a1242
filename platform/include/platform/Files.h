// Files and folders: existence, whether two names are one file, the
// read-only state, deletion, renaming, folder listing and the process's
// current folder.
//
// On POSIX a file is "read-only" when none of its write permission bits is
// set, the counterpart of the read-only attribute; clearing that state adds
// the owner's write bit and keeps the other bits. "Plain files" are regular
// files (a link counts as what it points to) whose names do not start with
// "." (hidden); there are no system files. On Windows "read-only" is the
// read-only attribute, and files with the hidden or system attribute are not
// plain; paths use backslashes (ExecutableFolder ends in one).
#pragma once

#include <string>
#include <vector>

namespace platform {

// What stands under a path, as far as this process can tell. A link is not
// followed: a link (dangling or not), a device, a pipe or a socket is
// "Other". "Unknown" means the system refused to say (no right to search a
// folder on the way, an I/O error, ...): it never means "missing".
enum class TPathKind { Missing, File, Folder, Other, Unknown };

struct TPathProbe {
    TPathKind Kind = TPathKind::Unknown;
    int Error = 0;      // errno of the failed look-up (Missing and Unknown)
    std::string Reason; // the system's text for Error; empty otherwise
};

// Looks at `path` without following a final link. (On Windows links and
// junctions are reparse points; other reparse points, such as files kept in
// the cloud, count as what they hold.)
[[nodiscard]] TPathProbe ProbePath(const std::string& path);

// The system's text for an errno value. (On Windows, for the errno that a
// failed call of this layer set, the text of the Windows error behind it.)
[[nodiscard]] std::string ErrorText(int error);

// The folder part of a path: up to, not including, its last "/" ("/" for a
// file in the root, "." for a bare name). On Windows "\" counts as "/" and
// a drive's root keeps its separator ("D:\").
[[nodiscard]] std::string FolderOf(const std::string& path);

// Whether this process may create, rename and remove entries in `folder`
// (write and search rights). On false, `reason` holds the system's text.
// On Windows, where the access lists decide, a hidden empty file is made,
// renamed and removed there to find out.
[[nodiscard]] bool CanChangeFolder(const std::string& folder, std::string& reason);

// A regular file exists under `path` (a folder does not count).
[[nodiscard]] bool FileExists(const std::string& path);
// A folder exists under `path`.
[[nodiscard]] bool DirectoryExists(const std::string& path);

// Both paths name one existing file, perhaps under two names: the same
// device and inode on POSIX (a link counts as what it points to), the same
// volume and file index on Windows. False when either cannot be looked at.
[[nodiscard]] bool SameFile(const std::string& path, const std::string& other);

// The file has no write permission bit at all.
[[nodiscard]] bool IsReadOnlyFile(const std::string& path);
// Adds the owner's write bit, keeping the other bits. False on failure.
[[nodiscard]] bool ClearReadOnly(const std::string& path);

// Deletes a file (not a folder). False on failure, with errno set.
[[nodiscard]] bool RemoveFile(const std::string& path);

// Renames a file or folder; fails (false) when `newPath` already exists.
// errno tells why on failure.
[[nodiscard]] bool RenameFile(const std::string& oldPath, const std::string& newPath);

// Renames a file, replacing a file of the new name in one step (never a
// folder). False on failure, with errno set; the old file then stays.
[[nodiscard]] bool ReplaceFileByRename(const std::string& oldPath, const std::string& newPath);

// The names (without folder) of the plain files in `folder`, in the order the
// system lists them. False when the folder cannot be read.
[[nodiscard]] bool ListPlainFiles(const std::string& folder, std::vector<std::string>& names);

// The process's current folder (absolute, without a trailing "/" except for
// the root), and changing it. ChangeCurrentFolder returns false on failure.
[[nodiscard]] std::string CurrentFolder();
[[nodiscard]] bool ChangeCurrentFolder(const std::string& folder);

// The folder holding the running executable, ending in "/".
[[nodiscard]] std::string ExecutableFolder();

} // namespace platform
