// The maintenance window: layout, start-up reading, path choosers and the
// standard error display. The three commands live in MainFormCommands.cpp.
#include "app/MainForm.h"

#include <cstdio>

#include "app/RKSysUtils.h"
#include "app/Commands.h"
#include "app/Settings.h"

namespace app {

namespace {

constexpr const char* FolderChooserTitle = "폴더를 선택해 주세요";
constexpr const char* DatabaseFilter = "DB파일(*.fdb)|*.fdb|";
constexpr const char* DatabaseDefaultExt = ".fdb";
constexpr const char* NoBackupFileChosen = "복원할 파일이름";
// Caption of the question whether to stop a running command.
constexpr const char* StopQuestionCaption = "중단확인";

// Height of a one-line text box and of a progress bar.
constexpr int EditHeight = 21;
constexpr int ProgressBarHeight = 17;

TControlDef Def(const char* name, TBounds bounds, std::string caption = {}) {
    TControlDef def;
    def.Name = name;
    def.Bounds = bounds;
    def.Caption = std::move(caption);
    return def;
}

TControlDef Hidden(TControlDef def) {
    def.Visible = false;
    return def;
}

TControlDef Red(TControlDef def) {
    def.HasFontColor = true;
    def.FontColor = clRed;
    return def;
}

TControlDef WithPicture(TControlDef def, TButtonPicture picture) {
    def.Picture = picture;
    return def;
}

TControlDef ProgressBar(const char* name, int left, int top, int width) {
    TControlDef def = Def(name, {left, top, width, ProgressBarHeight});
    def.Min = IProgressBar::Min;
    def.Max = IProgressBar::Max;
    return def;
}

} // namespace

// --- standard error display ------------------------------------------------

std::string ErrorDisplayText(const std::string& message) {
    std::string text = message;
    if (!text.empty() &&
        static_cast<unsigned char>(text.back()) > static_cast<unsigned char>('.')) {
        text += '.';
    }
    return text;
}

namespace {

void ShowErrorText(const std::string& message) {
    const std::string text = ErrorDisplayText(message);
    if (RKSys != nullptr && RKSys->DlgUtils != nullptr) {
        RKSys->DlgUtils->MsgBox(text, ApplicationTitle, MB_OK_ERROR);
    } else {
        std::fprintf(stderr, "%s: %s\n", ApplicationTitle, text.c_str());
    }
}

} // namespace

void ShowException(const std::exception& error) {
    ShowErrorText(error.what());
}

void ShowUnknownException() {
    ShowErrorText("An error of unknown kind occurred");
}

namespace {
// Handlers run by RunEvent that have not ended (nested ones count too); the
// window's logic runs on one thread.
int gRunningEvents = 0;
} // namespace

void TmainForm::RunEvent(const std::function<void()>& handler) {
    struct TRunning {
        TRunning() { ++gRunningEvents; }
        ~TRunning() { --gRunningEvents; }
    } running;
    try {
        handler();
    } catch (const std::exception& error) {
        ShowException(error);
    } catch (...) {
        ShowUnknownException();
    }
}

bool TmainForm::EventRunning() noexcept {
    return gRunningEvents > 0;
}

bool TmainForm::RequestClose() {
    FCloseRequested = true;
    if (EventRunning()) {
        return false;
    }
    FForm->Close();
    return true;
}

bool TmainForm::CloseQuery() {
    if (!EventRunning()) {
        return true;
    }
    EscapePressed();
    return false;
}

void TmainForm::EscapePressed() {
    if (Busy()) {
        FStopAsked = true;
    }
}

bool TmainForm::StopWanted(const std::string& question) {
    if (FCloseRequested) {
        return true;
    }
    if (!FStopAsked) {
        return false;
    }
    FStopAsked = false;
    const bool yes =
        RKSys->DlgUtils->ConfirmMsg(question, StopQuestionCaption, MB_YESNO_QUESTION) == IDYES;
    // A request to end the program may come while the question is shown.
    return yes || FCloseRequested;
}

// --- file-open dialog --------------------------------------------------------

std::vector<TFileFilter> TOpenDialog::ParseFilter(const std::string& filter) {
    std::vector<std::string> parts;
    std::string part;
    for (char c : filter) {
        if (c == '|') {
            parts.push_back(part);
            part.clear();
        } else {
            part.push_back(c);
        }
    }
    if (!part.empty()) {
        parts.push_back(part);
    }
    std::vector<TFileFilter> filters;
    for (size_t i = 0; i + 1 < parts.size(); i += 2) {
        filters.push_back({parts[i], parts[i + 1]});
    }
    return filters;
}

bool TOpenDialog::Execute(IChoosers& choosers, IWidget* owner) {
    TOpenDialogRequest request;
    request.Owner = owner;
    request.Title = Title;
    request.InitialDir = InitialDir;
    request.Filters = ParseFilter(Filter);
    request.DefaultExt = DefaultExt;
    request.FileMustExist = FileMustExist;
    request.HideReadOnly = HideReadOnly;
    request.EnableSizing = EnableSizing;
    std::string chosen;
    if (!choosers.ExecuteOpenDialog(request, chosen) || chosen.empty()) {
        return false;
    }
    // A name typed without an extension takes the default one.
    if (!DefaultExt.empty() && rtl::ExtractFileName(chosen).find('.') == std::string::npos) {
        chosen += DefaultExt;
    }
    FileName = chosen;
    return true;
}

// --- the window ---------------------------------------------------------------

TmainForm::TmainForm(rtl::TComponent* owner, const TFormHost& host)
    : rtl::TComponent(owner), FHost(host) {
    SetName("mainForm");
    TControlDef window = Def("mainForm", {524, 166, 572, 427}, ApplicationTitle);
    FForm = FHost.Widgets->CreateForm(window);
    CreateControls();

    pFIBBackupService1 = new fib::TpFIBBackupService(this);
    pFIBBackupService1->SetName("pFIBBackupService1");
    pFIBBackupService1->SetProtocol(fib::TProtocol::TCP);
    pFIBBackupService1->SetBlockingFactor(0);
    pFIBBackupService1->SetOptions({});

    OpenDialog1.DefaultExt = DatabaseDefaultExt;

    WireEvents();
    RunEvent([this] { FormCreate(FForm.get()); });
}

TmainForm::~TmainForm() = default;

void TmainForm::CreateControls() {
    IWidgetFactory& f = *FHost.Widgets;

    gbMCDGSUP = f.CreateGroupBox(nullptr, Def("gbMCDGSUP", {9, 4, 555, 170}, "처리방법"));
    IWidget* gb1 = gbMCDGSUP.get();
    Label133 = f.CreateLabel(gb1, Def("Label133", {17, 21, 146, 17}, "DB파일"));
    Label1 = f.CreateLabel(gb1, Def("Label1", {17, 46, 146, 17}, "백업위치 "));
    txtDBFN = f.CreateButtonEdit(gb1, Def("txtDBFN", {70, 19, 377, EditHeight}));
    txtBackupPath = f.CreateButtonEdit(gb1, Def("txtBackupPath", {70, 44, 377, EditHeight}));
    btnBackupDB = f.CreateButton(
        gb1, WithPicture(Def("btnBackupDB", {464, 18, 74, 68}, "DB백업"), TButtonPicture::Backup));
    Memo1 = f.CreateMemo(gb1, Def("Memo1", {18, 71, 428, 65}));
    PBar = f.CreateProgressBar(gb1, Hidden(ProgressBar("PBar", 17, 142, 430)));

    cxGroupBox1 =
        f.CreateGroupBox(nullptr, Def("cxGroupBox1", {9, 180, 555, 239}, "백업위치의 파일들"));
    IWidget* gb2 = cxGroupBox1.get();
    TControlDef label4 = Def("Label4", {17, 21, 332, 28},
                             "[DB복원]을 클릭하면 선택한 백업파일로 \r\n"
                             "기존 DB파일 위치에 복원파일을 만듭니다. (DB파일 이름 + '복원'.fdb)");
    // Its second line needs more than 332 pixels in most Korean fonts; it may
    // take the width of the label below it.
    label4.MaxAutoWidth = 432;
    Label4 = f.CreateLabel(gb2, label4);
    Label5 = f.CreateLabel(gb2, Red(Def("Label5", {17, 54, 432, 36},
                                        "[서버로만들기]를 클릭하면 선택한 파일을 복원하여 \r\n"
                                        "DB 파일로 사용하고 이 PC를 서버로 만듭니다")));
    lbBackupFN = f.CreateLabel(gb2, Def("lbBackupFN", {18, 85, 432, 17}, NoBackupFileChosen));
    TControlDef list = Def("fbBackup", {18, 104, 429, 127});
    list.ItemHeight = 14;
    fbBackup = f.CreateFileList(gb2, list);
    btnRestoreDB = f.CreateButton(gb2, WithPicture(Def("btnRestoreDB", {464, 18, 74, 68}, "DB복원"),
                                                   TButtonPicture::Restore));
    TControlDef server = Red(Def("btnChangeServer", {464, 86, 74, 68}, "서버로\r\n만들기"));
    server.WordWrap = true;
    server.Flat = true;
    btnChangeServer = f.CreateButton(gb2, server);
    Memo2 = f.CreateMemo(gb2, Hidden(Def("Memo2", {18, 105, 428, 101})));
    PBar2 = f.CreateProgressBar(gb2, Hidden(ProgressBar("PBar2", 17, 210, 430)));

    FForm->SetTabOrder({txtDBFN.get(), txtBackupPath.get(), btnBackupDB.get(), Memo1.get(),
                        fbBackup.get(), btnRestoreDB.get(), btnChangeServer.get(), Memo2.get()});
}

void TmainForm::RunUserEvent(const std::function<void()>& handler) {
    if (Busy()) {
        return; // input meant for a window that is busy goes nowhere
    }
    RunEvent(handler);
}

void TmainForm::WireEvents() {
    txtDBFN->OnButtonClick = [this](int index) {
        RunUserEvent([this, index] { txtDBFNPropertiesButtonClick(txtDBFN.get(), index); });
    };
    txtBackupPath->OnButtonClick = [this](int index) {
        RunUserEvent(
            [this, index] { txtBackupPathPropertiesButtonClick(txtBackupPath.get(), index); });
    };
    btnBackupDB->OnClick = [this] {
        RunUserEvent([this] { btnBackupDBClick(btnBackupDB.get()); });
    };
    btnRestoreDB->OnClick = [this] {
        RunUserEvent([this] { btnRestoreDBClick(btnRestoreDB.get()); });
    };
    btnChangeServer->OnClick = [this] {
        RunUserEvent([this] { btnChangeServerClick(btnChangeServer.get()); });
    };
    fbBackup->OnClick = [this] { RunUserEvent([this] { fbBackupClick(fbBackup.get()); }); };
    FForm->OnCloseQuery = [this] { return CloseQuery(); };
    FForm->OnEscape = [this] { EscapePressed(); };
}

void TmainForm::SetControlsEnabled(bool enabled) {
    btnBackupDB->SetEnabled(enabled);
    btnRestoreDB->SetEnabled(enabled);
    btnChangeServer->SetEnabled(enabled);
    txtDBFN->SetButtonEnabled(enabled);
    txtBackupPath->SetButtonEnabled(enabled);
    fbBackup->SetEnabled(enabled);
}

TmainForm::TCommandScope::TCommandScope(TmainForm& form) : FForm(form) {
    if (FForm.FCommandDepth++ == 0) {
        FForm.FStopAsked = false;
        FForm.SetControlsEnabled(false);
        FForm.Events().SetInputBlocked(true);
    }
}

TmainForm::TCommandScope::~TCommandScope() {
    if (FForm.FCommandDepth == 1) {
        // Clicks that waited while the thread was busy are dropped while the
        // window is still busy and its controls disabled; only then may
        // they take input again.
        try {
            FForm.Events().DiscardPendingInput();
        } catch (...) {
        }
        FForm.Events().SetInputBlocked(false);
        FForm.FStopAsked = false;
        FForm.SetControlsEnabled(true);
    }
    --FForm.FCommandDepth;
}

void TmainForm::FormCreate(IWidget* /*Sender*/) {
    FDBSvrIP = ReadIniValue(SettingsFile, SystemSection, DBSvrIPKey);
    if (FDBSvrIP.empty()) {
        FDBSvrIP = LocalServer;
    }

    const std::string dbPath = ReadIniValue(SettingsFile, SystemSection, DBPathDBKey);
    if (!dbPath.empty()) {
        txtDBFN->SetText(dbPath);
    }

    FBackupPath = ReadIniValue(SettingsFile, SetupSection, DBBackPOSKey);
    if (!FBackupPath.empty()) {
        fbBackup->ApplyFilePath(FBackupPath);
        txtBackupPath->SetText(FBackupPath);
    } else {
        const std::string toolFolder = ToolFolder();
        fbBackup->ApplyFilePath(toolFolder);
        txtBackupPath->SetText(toolFolder);
    }

    lbBackupFN->SetCaption("");
}

// --- path selection ------------------------------------------------------------

bool TmainForm::SelectFolder(std::string& Folder, IWidget* OwnerWindow, const std::string& Title,
                             const std::string& InitialFolder) {
    Folder.clear();
    TFolderBrowseRequest request;
    request.Owner = OwnerWindow;
    request.Title = Title;
    request.InitialFolder = InitialFolder;
    std::string chosen;
    if (!FHost.Choosers->BrowseForFolder(request, chosen) || chosen.empty()) {
        return false;
    }
    if (chosen.back() != rtl::PathDelimiter) {
        chosen += rtl::PathDelimiter;
    }
    Folder = chosen;
    return true;
}

void TmainForm::txtBackupPathPropertiesButtonClick(IWidget* /*Sender*/, int /*AButtonIndex*/) {
    std::string folder;
    if (SelectFolder(folder, FForm.get(), FolderChooserTitle, txtBackupPath->Text())) {
        txtBackupPath->SetText(folder);
        fbBackup->ApplyFilePath(txtBackupPath->Text());
    }
}

void TmainForm::txtDBFNPropertiesButtonClick(IWidget* /*Sender*/, int /*AButtonIndex*/) {
    OpenDialog1.InitialDir = rtl::ExtractFilePath(txtDBFN->Text());
    OpenDialog1.Filter = DatabaseFilter;
    if (OpenDialog1.Execute(*FHost.Choosers, FForm.get())) {
        txtDBFN->SetText(OpenDialog1.FileName);
    }
}

void TmainForm::fbBackupClick(IWidget* /*Sender*/) {
    for (int i = 0; i < fbBackup->Count(); ++i) {
        if (fbBackup->Selected(i)) {
            lbBackupFN->SetCaption(fbBackup->Items()[static_cast<size_t>(i)]);
            break;
        }
    }
}

} // namespace app
