// The utility aggregate RKSys and its members.
#include "app/RKSysUtils.h"

#include "platform/Files.h"

#include <mutex>
#include <utility>

namespace app {

TRKSysUtils* RKSys = nullptr;

namespace {

std::mutex& PresenterLock() {
    static std::mutex lock;
    return lock;
}

MessageBoxPresenter& Presenter() {
    static MessageBoxPresenter presenter;
    return presenter;
}

// Creates RKSys while the program's modules are initialised, before main
// runs, and frees it when they are finalised.
struct RKSysLifetime {
    RKSysLifetime() { RKSys = new TRKSysUtils(); }
    ~RKSysLifetime() {
        delete RKSys;
        RKSys = nullptr;
    }
    RKSysLifetime(const RKSysLifetime&) = delete;
    RKSysLifetime& operator=(const RKSysLifetime&) = delete;
};

const RKSysLifetime rkSysLifetime;

} // namespace

void SetMessageBoxPresenter(MessageBoxPresenter presenter) {
    std::lock_guard<std::mutex> guard(PresenterLock());
    Presenter() = std::move(presenter);
}

int TRKDlgUtils::MsgBox(const std::string& text, const std::string& caption, int flags) {
    MessageBoxPresenter presenter;
    {
        std::lock_guard<std::mutex> guard(PresenterLock());
        presenter = Presenter();
    }
    if (!presenter)
        return 0; // no box can be shown: the platform's failure code
    try {
        return presenter(text, caption, flags);
    } catch (...) {
        return 0;
    }
}

int TRKDlgUtils::ErrorMsg(const std::string& text, const std::string& caption, int flags) {
    return MsgBox(text, caption, flags);
}

int TRKDlgUtils::ConfirmMsg(const std::string& text, const std::string& caption, int flags) {
    return MsgBox(text, caption, flags);
}

bool TRKFileUtils::DeleteFileIfExists(const std::string& fileName) {
    if (!platform::FileExists(fileName))
        return false;
    if (platform::IsReadOnlyFile(fileName) && !platform::ClearReadOnly(fileName))
        return false;
    return platform::RemoveFile(fileName);
}

TRKSysUtils::TRKSysUtils() {
    StrUtils = new TRKStrUtils();
    DlgUtils = new TRKDlgUtils();
    GraphicsUtils = new TRKGraphicsUtils();
    FileUtils = new TRKFileUtils();
    DataBaseUtils = new TRKDataBaseUtils();
}

TRKSysUtils::~TRKSysUtils() {
    delete StrUtils;
    StrUtils = nullptr;
    delete DlgUtils;
    DlgUtils = nullptr;
    delete GraphicsUtils;
    GraphicsUtils = nullptr;
    delete FileUtils;
    FileUtils = nullptr;
    delete DataBaseUtils;
    DataBaseUtils = nullptr;
}

} // namespace app
