// The headless front end.
#include "testsupport/HeadlessWidgets.h"

#include <chrono>
#include <thread>

namespace app {

THeadlessHost::THeadlessHost() = default;
THeadlessHost::~THeadlessHost() = default;

TFormHost THeadlessHost::Host() {
    return FormHostOf(*this);
}

template <typename T>
std::unique_ptr<T> THeadlessHost::Register(std::unique_ptr<T> widget, IWidget* parent,
                                           const TControlDef& def) {
    FWidgets[def.Name] = TEntry{widget.get(), def, parent};
    FOrder.push_back(def.Name);
    return widget;
}

std::unique_ptr<IFormView> THeadlessHost::CreateForm(const TControlDef& def) {
    return Register<IFormView>(std::make_unique<THeadlessForm>(nullptr, def), nullptr, def);
}

std::unique_ptr<IGroupBox> THeadlessHost::CreateGroupBox(IWidget* parent, const TControlDef& def) {
    return Register<IGroupBox>(std::make_unique<THeadlessGroupBox>(parent, def), parent, def);
}

std::unique_ptr<ILabel> THeadlessHost::CreateLabel(IWidget* parent, const TControlDef& def) {
    return Register<ILabel>(std::make_unique<THeadlessLabel>(parent, def), parent, def);
}

std::unique_ptr<IButtonEdit> THeadlessHost::CreateButtonEdit(IWidget* parent,
                                                             const TControlDef& def) {
    return Register<IButtonEdit>(std::make_unique<THeadlessButtonEdit>(parent, def), parent, def);
}

std::unique_ptr<IButton> THeadlessHost::CreateButton(IWidget* parent, const TControlDef& def) {
    return Register<IButton>(std::make_unique<THeadlessButton>(parent, def), parent, def);
}

std::unique_ptr<IMemo> THeadlessHost::CreateMemo(IWidget* parent, const TControlDef& def) {
    return Register<IMemo>(std::make_unique<THeadlessMemo>(parent, def), parent, def);
}

std::unique_ptr<IProgressBar> THeadlessHost::CreateProgressBar(IWidget* parent,
                                                               const TControlDef& def) {
    return Register<IProgressBar>(std::make_unique<THeadlessProgressBar>(parent, def), parent, def);
}

std::unique_ptr<IFileList> THeadlessHost::CreateFileList(IWidget* parent, const TControlDef& def) {
    return Register<IFileList>(std::make_unique<THeadlessFileList>(parent, def), parent, def);
}

IWidget* THeadlessHost::Find(const std::string& name) const {
    const auto it = FWidgets.find(name);
    return it == FWidgets.end() ? nullptr : it->second.Widget;
}

const TControlDef* THeadlessHost::DefOf(const std::string& name) const {
    const auto it = FWidgets.find(name);
    return it == FWidgets.end() ? nullptr : &it->second.Def;
}

IWidget* THeadlessHost::ParentOf(const std::string& name) const {
    const auto it = FWidgets.find(name);
    return it == FWidgets.end() ? nullptr : it->second.Parent;
}

bool THeadlessHost::BrowseForFolder(const TFolderBrowseRequest& request, std::string& folder) {
    FolderRequests.push_back(request);
    folder.clear();
    return OnBrowseForFolder ? OnBrowseForFolder(request, folder) : false;
}

bool THeadlessHost::ExecuteOpenDialog(const TOpenDialogRequest& request, std::string& fileName) {
    OpenRequests.push_back(request);
    fileName.clear();
    return OnOpenDialog ? OnOpenDialog(request, fileName) : false;
}

void THeadlessHost::SetCursor(TCursor value) {
    FCursor = value;
    CursorHistory.push_back(value);
}

void THeadlessHost::ProcessMessages() {
    ++ProcessMessagesCount;
    if (OnProcessMessages) {
        OnProcessMessages();
    }
}

void THeadlessHost::DiscardPendingInput() {
    ++DiscardCount;
    if (OnDiscardPendingInput) {
        OnDiscardPendingInput();
    }
}

void THeadlessHost::Sleep(int milliseconds) {
    Sleeps.push_back(milliseconds);
    if (OnSleep) {
        OnSleep(milliseconds);
    }
    if (RealSleep && milliseconds > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    }
}

TDateTime THeadlessHost::Now() const {
    return UseFixedNow ? FixedNow : SystemNow();
}

} // namespace app
