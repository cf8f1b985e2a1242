// The utility aggregate RKSys: message boxes and file deletion.
#pragma once

#include <functional>
#include <string>

namespace app {

inline constexpr int MB_OK_ERROR = 16;       // OK button, error icon
inline constexpr int MB_YESNO_QUESTION = 36; // Yes and No buttons, question icon
inline constexpr int MB_OK_INFORMATION = 64; // OK button, information icon
// (windows.h defines the two answers as macros of the same values.)
#ifndef IDYES
inline constexpr int IDYES = 6;
#endif
#ifndef IDNO
inline constexpr int IDNO = 7;
#endif

// Shows a message box and returns the code of the button pressed. Installed
// by the front end (the GUI) or by tests; without one MsgBox returns 0.
using MessageBoxPresenter =
    std::function<int(const std::string& text, const std::string& caption, int flags)>;
void SetMessageBoxPresenter(MessageBoxPresenter presenter);

class TRKStrUtils {};
class TRKDlgUtils {
public:
    int MsgBox(const std::string& text, const std::string& caption, int flags);
    int ErrorMsg(const std::string& text, const std::string& caption, int flags);
    int ConfirmMsg(const std::string& text, const std::string& caption, int flags);
};
class TRKGraphicsUtils {};
class TRKFileUtils {
public:
    bool DeleteFileIfExists(const std::string& fileName);
};
class TRKDataBaseUtils {};

class TRKSysUtils {
public:
    TRKSysUtils();
    ~TRKSysUtils();
    TRKSysUtils(const TRKSysUtils&) = delete;
    TRKSysUtils& operator=(const TRKSysUtils&) = delete;

    TRKStrUtils* StrUtils = nullptr;
    TRKDlgUtils* DlgUtils = nullptr;
    TRKGraphicsUtils* GraphicsUtils = nullptr;
    TRKFileUtils* FileUtils = nullptr;
    TRKDataBaseUtils* DataBaseUtils = nullptr;
};

extern TRKSysUtils* RKSys;

} // namespace app
