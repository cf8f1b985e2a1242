// The backup file list's behaviour, shared by every front end.
#pragma once

#include <string>
#include <vector>

namespace app {

// Whether a file name matches one mask: "*" stands for any run of characters,
// "?" for exactly one character, everything else for itself with the case of
// ASCII letters ignored. "*.*" matches every name, as on the desktop shell.
bool MatchesFileMask(const std::string& name, const std::string& mask);

// The files of one folder that match a mask list, sorted by name. The list
// holds the names (without folder) of the plain files (no folders, no hidden
// files) matching any of the masks, which are separated by ";" and searched
// one after the other; a name matching several masks is listed once. The
// order is ascending with the case of ASCII letters ignored.
//
// Taking a folder or reading it again makes it the process's current folder,
// so bare file names then refer to the list's folder.
class TFileListLogic {
public:
    // The folder is the process's current folder, the mask "*.fbk;*.fdb";
    // the list is read at once.
    TFileListLogic();

    // The list's folder: absolute, without a trailing "/" (except the root).
    std::string Directory() const;
    const std::string& Mask() const;
    // Takes a new mask list and reads the folder again.
    void SetMask(const std::string& mask);
    // Makes the folder (with or without trailing "/"; a relative one counts
    // from the current folder) the list's folder and reads it. A folder that
    // does not exist or cannot be read raises rtl::Exception and changes
    // nothing (folder, items, selection and current folder stay).
    void ApplyFilePath(const std::string& folder);
    // Reads the list's folder again. A folder that has gone away leaves the
    // list empty; this never raises.
    void Update();
    const std::vector<std::string>& Items() const;
    // The selected item, -1 for none. Reading the folder clears the
    // selection; an index outside the list selects nothing.
    int ItemIndex() const;
    void SetItemIndex(int index);

private:
    void Read(const std::vector<std::string>& files);

    std::string FDirectory;
    std::string FMask;
    std::vector<std::string> FItems;
    int FItemIndex = -1;
};

} // namespace app
