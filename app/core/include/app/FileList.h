// The backup file list's behaviour, shared by every front end.
#pragma once

#include <string>
#include <vector>

namespace app {

class TFileListLogic {
public:
    TFileListLogic(); // folder: the process's current folder; mask "*.fbk;*.fdb"

    std::string Directory() const;
    const std::string& Mask() const;
    void SetMask(const std::string& mask);
    // Makes the folder (with or without trailing "/") the list's folder and
    // reads it; raises rtl::Exception for a missing folder.
    void ApplyFilePath(const std::string& folder);
    // Reads the current folder again.
    void Update();
    const std::vector<std::string>& Items() const;
    int ItemIndex() const;
    void SetItemIndex(int index);
};

} // namespace app
