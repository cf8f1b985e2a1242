// The maintenance window's logic on the headless widgets: start-up reading,
// the path choosers, the file list's click and the standard error display.
#include "app/MainForm.h"
#include "app/OutputPane.h"
#include "app/RKSysUtils.h"
#include "app/Settings.h"
#include "testsupport/Files.h"
#include "testsupport/HeadlessWidgets.h"
#include "testsupport/WindowTest.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace {

using slvtest::ReadFile;
using slvtest::WriteFile;

class MainFormTest : public slvtest::TWindowTest<app::THeadlessHost> {
protected:
    MainFormTest() : TWindowTest("/tmp/slv-mainform-XXXXXX") {}

    app::TmainForm& CreateForm() { return OpenWindow(); }

    fs::path Ini() const { return FTool / "Environment.ini"; }
    void WriteIni(const std::string& content) { WriteFile(Ini(), content); }

    fs::path MakeFolder(const std::string& name) {
        const fs::path folder = FRoot / name;
        fs::create_directories(folder);
        return folder;
    }

    app::THeadlessLabel& Label(const std::string& name) {
        return dynamic_cast<app::THeadlessLabel&>(*Host.Find(name));
    }
};

// --- start-up -------------------------------------------------------------

TEST_F(MainFormTest, WithoutSettingsFileShowsTheToolFolder) {
    WriteFile(FTool / "a.fdb", "");
    WriteFile(FTool / "b.fbk", "");
    WriteFile(FTool / "notes.txt", "");
    app::TmainForm& form = CreateForm();

    EXPECT_EQ(form.txtDBFN->Text(), "");
    EXPECT_EQ(form.txtBackupPath->Text(), app::ToolFolder());
    EXPECT_EQ(form.txtBackupPath->Text(), FTool.string() + "/");
    EXPECT_EQ(form.DBSvrIP(), "127.0.0.1");
    EXPECT_EQ(form.BackupPath(), "");
    EXPECT_EQ(form.fbBackup->Items(), (std::vector<std::string>{"a.fdb", "b.fbk"}));
    EXPECT_EQ(form.lbBackupFN->Caption(), "");
    EXPECT_TRUE(Boxes.empty());
    EXPECT_FALSE(fs::exists(Ini())) << "start-up never writes the settings";
    EXPECT_EQ(fs::current_path(), FTool);
}

TEST_F(MainFormTest, ReadsTheThreeSettings) {
    const fs::path backup = MakeFolder("backup");
    WriteFile(backup / "SLV_Backup_240619_2217.fbk", "");
    WriteIni("[SYSTEM]\nDBSvrIP=10.1.2.3\nDBPathDB=  /data/SOLVANE.FDB  \n[SYSSETUP]\nDBBackPOS=" +
             backup.string() + "/\n");
    const std::string before = ReadFile(Ini());
    app::TmainForm& form = CreateForm();

    EXPECT_EQ(form.DBSvrIP(), "10.1.2.3");
    EXPECT_EQ(form.txtDBFN->Text(), "/data/SOLVANE.FDB");
    EXPECT_EQ(form.BackupPath(), backup.string() + "/");
    EXPECT_EQ(form.txtBackupPath->Text(), backup.string() + "/");
    EXPECT_EQ(form.fbBackup->Items(), (std::vector<std::string>{"SLV_Backup_240619_2217.fbk"}));
    EXPECT_EQ(form.lbBackupFN->Caption(), "");
    EXPECT_TRUE(Boxes.empty());
    EXPECT_EQ(ReadFile(Ini()), before);
}

TEST_F(MainFormTest, NullValuesCountAsEmpty) {
    WriteFile(FTool / "x.fbk", "");
    WriteIni("[SYSTEM]\nDBSvrIP=Null\nDBPathDB=Null\n[SYSSETUP]\nDBBackPOS=Null\n");
    app::TmainForm& form = CreateForm();

    EXPECT_EQ(form.DBSvrIP(), "127.0.0.1");
    EXPECT_EQ(form.txtDBFN->Text(), "");
    EXPECT_EQ(form.BackupPath(), "");
    EXPECT_EQ(form.txtBackupPath->Text(), FTool.string() + "/");
    EXPECT_EQ(form.fbBackup->Items(), (std::vector<std::string>{"x.fbk"}));
    EXPECT_TRUE(Boxes.empty());
}

TEST_F(MainFormTest, EmptyServerValueAndLowerCaseNull) {
    WriteIni("[SYSTEM]\nDBSvrIP=\n");
    EXPECT_EQ(CreateForm().DBSvrIP(), "127.0.0.1");
    TearDown();
    SetUp();
    WriteIni("[SYSTEM]\nDBSvrIP=null\n");
    EXPECT_EQ(CreateForm().DBSvrIP(), "null");
}

TEST_F(MainFormTest, MissingBackupFolderShowsOneErrorAndTheWindowStillOpens) {
    const fs::path start = MakeFolder("start");
    WriteFile(start / "here.fdb", "");
    fs::current_path(start);
    const std::string missing = (FRoot / "gone").string() + "/";
    WriteIni("[SYSTEM]\nDBSvrIP=10.0.0.9\nDBPathDB=/data/S.FDB\n[SYSSETUP]\nDBBackPOS=" + missing +
             "\n");
    app::TmainForm& form = CreateForm();

    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].Caption, "Solvane Database Maintenance");
    EXPECT_EQ(Boxes[0].Flags, 16);
    EXPECT_FALSE(Boxes[0].Text.empty());
    EXPECT_NE(Boxes[0].Text.find("gone"), std::string::npos) << Boxes[0].Text;
    // The steps before the failing one took effect, the later ones not.
    EXPECT_EQ(form.DBSvrIP(), "10.0.0.9");
    EXPECT_EQ(form.txtDBFN->Text(), "/data/S.FDB");
    EXPECT_EQ(form.txtBackupPath->Text(), "");
    EXPECT_EQ(form.lbBackupFN->Caption(), "복원할 파일이름");
    // The list shows the folder that was current when the window was made.
    EXPECT_EQ(form.fbBackup->Items(), (std::vector<std::string>{"here.fdb"}));
}

TEST_F(MainFormTest, ListingIsSortedIgnoringCaseWithoutFoldersOrHiddenFiles) {
    const fs::path folder = MakeFolder("list");
    WriteFile(folder / "b.FBK", "");
    WriteFile(folder / "a.fdb", "");
    WriteFile(folder / "C.fbk", "");
    WriteFile(folder / ".y.fbk", "");
    fs::create_directories(folder / "x.fbk");
    WriteIni("[SYSSETUP]\nDBBackPOS=" + folder.string() + "\n");
    app::TmainForm& form = CreateForm();

    EXPECT_EQ(form.fbBackup->Items(), (std::vector<std::string>{"a.fdb", "b.FBK", "C.fbk"}));
    EXPECT_TRUE(Boxes.empty());
}

TEST_F(MainFormTest, OwnsTheBackupServiceComponent) {
    app::TmainForm& form = CreateForm();
    fib::TpFIBBackupService* service = form.pFIBBackupService1;
    ASSERT_NE(service, nullptr);
    EXPECT_EQ(service->Name(), "pFIBBackupService1");
    EXPECT_EQ(service->Owner(), &form);
    EXPECT_EQ(form.Name(), "mainForm");
    ASSERT_NE(form.Owner(), nullptr);
    EXPECT_EQ(form.Owner()->Name(), "");
    EXPECT_EQ(service->Protocol(), fib::TProtocol::TCP);
    EXPECT_EQ(service->BlockingFactor(), 0);
    EXPECT_TRUE(service->Options().Empty());
    EXPECT_FALSE(service->Active());
    EXPECT_EQ(form.OpenDialog1.DefaultExt, ".fdb");
}

TEST_F(MainFormTest, InitialStatesAndTabOrder) {
    app::TmainForm& form = CreateForm();
    EXPECT_FALSE(form.PBar->Visible());
    EXPECT_FALSE(form.PBar2->Visible());
    EXPECT_FALSE(form.Memo2->Visible());
    EXPECT_TRUE(form.Memo1->Visible());
    EXPECT_TRUE(form.fbBackup->Visible());
    EXPECT_TRUE(form.btnBackupDB->Enabled());
    EXPECT_TRUE(form.btnRestoreDB->Enabled());
    EXPECT_TRUE(form.btnChangeServer->Enabled());
    EXPECT_EQ(form.Form().Caption(), "Solvane Database Maintenance");

    const auto& view = dynamic_cast<app::THeadlessForm&>(form.Form());
    std::vector<std::string> names;
    for (app::IWidget* w : view.TabOrder()) {
        names.push_back(w->Name());
    }
    EXPECT_EQ(names,
              (std::vector<std::string>{"txtDBFN", "txtBackupPath", "btnBackupDB", "Memo1",
                                        "fbBackup", "btnRestoreDB", "btnChangeServer", "Memo2"}));
}

// The layout handed to the front end: parent, bounds and caption of each
// control.
struct TLayoutRow {
    const char* Name;
    const char* Parent; // "" = the window
    int Left, Top, Width, Height;
    const char* Caption;
};

TEST_F(MainFormTest, LayoutHandedToTheFrontEnd) {
    const TLayoutRow rows[] = {
        {"gbMCDGSUP", "", 9, 4, 555, 170, "처리방법"},
        {"Label133", "gbMCDGSUP", 17, 21, 146, 17, "DB파일"},
        {"Label1", "gbMCDGSUP", 17, 46, 146, 17, "백업위치 "},
        {"txtDBFN", "gbMCDGSUP", 70, 19, 377, 21, ""},
        {"txtBackupPath", "gbMCDGSUP", 70, 44, 377, 21, ""},
        {"btnBackupDB", "gbMCDGSUP", 464, 18, 74, 68, "DB백업"},
        {"Memo1", "gbMCDGSUP", 18, 71, 428, 65, ""},
        {"PBar", "gbMCDGSUP", 17, 142, 430, 17, ""},
        {"cxGroupBox1", "", 9, 180, 555, 239, "백업위치의 파일들"},
        {"Label4", "cxGroupBox1", 17, 21, 332, 28,
         "[DB복원]을 클릭하면 선택한 백업파일로 \r\n기존 DB파일 위치에 복원파일을 만듭니다. "
         "(DB파일 "
         "이름 + '복원'.fdb)"},
        {"Label5", "cxGroupBox1", 17, 54, 432, 36,
         "[서버로만들기]를 클릭하면 선택한 파일을 복원하여 \r\nDB 파일로 사용하고 이 PC를 서버로 "
         "만듭니다"},
        {"lbBackupFN", "cxGroupBox1", 18, 85, 432, 17, "복원할 파일이름"},
        {"fbBackup", "cxGroupBox1", 18, 104, 429, 127, ""},
        {"btnRestoreDB", "cxGroupBox1", 464, 18, 74, 68, "DB복원"},
        {"btnChangeServer", "cxGroupBox1", 464, 86, 74, 68, "서버로\r\n만들기"},
        {"Memo2", "cxGroupBox1", 18, 105, 428, 101, ""},
        {"PBar2", "cxGroupBox1", 17, 210, 430, 17, ""},
    };
    CreateForm();
    for (const TLayoutRow& row : rows) {
        SCOPED_TRACE(row.Name);
        const app::TControlDef* def = Host.DefOf(row.Name);
        ASSERT_NE(def, nullptr);
        EXPECT_EQ(def->Bounds.Left, row.Left);
        EXPECT_EQ(def->Bounds.Top, row.Top);
        EXPECT_EQ(def->Bounds.Width, row.Width);
        EXPECT_EQ(def->Bounds.Height, row.Height);
        EXPECT_EQ(def->Caption, row.Caption);
        app::IWidget* parent = Host.ParentOf(row.Name);
        EXPECT_EQ(parent == nullptr ? std::string() : parent->Name(), row.Parent);
    }
    const app::TControlDef* window = Host.DefOf("mainForm");
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->Bounds.Left, 524);
    EXPECT_EQ(window->Bounds.Top, 166);
    EXPECT_EQ(window->Bounds.Width, 572);
    EXPECT_EQ(window->Bounds.Height, 427);
    EXPECT_TRUE(Host.DefOf("Label5")->HasFontColor);
    EXPECT_EQ(Host.DefOf("Label5")->FontColor, app::clRed);
    EXPECT_TRUE(Host.DefOf("btnChangeServer")->HasFontColor);
    EXPECT_TRUE(Host.DefOf("btnChangeServer")->WordWrap);
    EXPECT_FALSE(Host.DefOf("Label4")->HasFontColor);
    EXPECT_EQ(Host.DefOf("fbBackup")->ItemHeight, 14);
    EXPECT_EQ(Host.DefOf("PBar")->Max, 2500);
    EXPECT_EQ(Host.DefOf("PBar2")->Min, 0);
    EXPECT_EQ(Host.DefOf("btnBackupDB")->Picture, app::TButtonPicture::Backup);
    EXPECT_EQ(Host.DefOf("btnRestoreDB")->Picture, app::TButtonPicture::Restore);
}

// --- folder chooser -----------------------------------------------------------

TEST_F(MainFormTest, FolderChooserCancelChangesNothing) {
    WriteFile(FTool / "a.fbk", "");
    app::TmainForm& form = CreateForm();
    form.lbBackupFN->SetCaption("a.fbk");
    const auto shown = dynamic_cast<app::THeadlessFileList&>(*form.fbBackup).ItemsShownCount();

    form.txtBackupPath->ClickButton(0);

    ASSERT_EQ(Host.FolderRequests.size(), 1u);
    EXPECT_EQ(Host.FolderRequests[0].Title, "폴더를 선택해 주세요");
    EXPECT_EQ(Host.FolderRequests[0].InitialFolder, FTool.string() + "/");
    EXPECT_EQ(Host.FolderRequests[0].Owner, &form.Form());
    EXPECT_EQ(form.txtBackupPath->Text(), FTool.string() + "/");
    EXPECT_EQ(form.lbBackupFN->Caption(), "a.fbk");
    EXPECT_EQ(dynamic_cast<app::THeadlessFileList&>(*form.fbBackup).ItemsShownCount(), shown);
    EXPECT_TRUE(Boxes.empty());
}

TEST_F(MainFormTest, ChosenFolderGetsATrailingSlashAndIsListed) {
    const fs::path backup = MakeFolder("backup");
    WriteFile(backup / "n.fbk", "");
    WriteIni("[SYSTEM]\nDBSvrIP=1.2.3.4\n");
    const std::string before = ReadFile(Ini());
    app::TmainForm& form = CreateForm();
    form.lbBackupFN->SetCaption("earlier.fbk");
    Host.OnBrowseForFolder = [&](const app::TFolderBrowseRequest&, std::string& folder) {
        folder = backup.string(); // no trailing slash
        return true;
    };

    form.txtBackupPath->ClickButton(0);

    EXPECT_EQ(form.txtBackupPath->Text(), backup.string() + "/");
    EXPECT_EQ(form.fbBackup->Items(), (std::vector<std::string>{"n.fbk"}));
    EXPECT_EQ(fs::current_path(), backup);
    EXPECT_EQ(form.lbBackupFN->Caption(), "earlier.fbk");
    EXPECT_EQ(form.BackupPath(), "") << "FBackupPath only changes at a backup";
    EXPECT_EQ(ReadFile(Ini()), before);
    EXPECT_TRUE(Boxes.empty());
}

TEST_F(MainFormTest, RootFolderIsReturnedUnchanged) {
    app::TmainForm& form = CreateForm();
    Host.OnBrowseForFolder = [](const app::TFolderBrowseRequest&, std::string& folder) {
        folder = "/";
        return true;
    };
    std::string folder = "stale";
    EXPECT_TRUE(form.SelectFolder(folder, &form.Form(), "t", ""));
    EXPECT_EQ(folder, "/");
}

TEST_F(MainFormTest, SelectFolderCancelReturnsFalseAndEmptyFolder) {
    app::TmainForm& form = CreateForm();
    std::string folder = "stale";
    EXPECT_FALSE(form.SelectFolder(folder, &form.Form(), "t", "/tmp"));
    EXPECT_EQ(folder, "");
    ASSERT_EQ(Host.FolderRequests.size(), 1u);
    EXPECT_EQ(Host.FolderRequests[0].Title, "t");
    EXPECT_EQ(Host.FolderRequests[0].InitialFolder, "/tmp");
}

TEST_F(MainFormTest, EmptyBackupFolderBoxOpensWithoutPreselection) {
    app::TmainForm& form = CreateForm();
    form.txtBackupPath->SetText("");
    form.txtBackupPath->ClickButton(0);
    ASSERT_EQ(Host.FolderRequests.size(), 1u);
    EXPECT_EQ(Host.FolderRequests[0].InitialFolder, "");
}

TEST_F(MainFormTest, ChosenFolderThatVanishedEndsAtTheErrorDisplay) {
    app::TmainForm& form = CreateForm();
    const std::string gone = (FRoot / "vanished").string();
    Host.OnBrowseForFolder = [&](const app::TFolderBrowseRequest&, std::string& folder) {
        folder = gone;
        return true;
    };
    form.txtBackupPath->ClickButton(0);
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].Flags, 16);
    EXPECT_EQ(form.txtBackupPath->Text(), gone + "/");
}

// --- database file chooser ------------------------------------------------------

TEST_F(MainFormTest, FileDialogSettings) {
    app::TmainForm& form = CreateForm();
    form.txtDBFN->SetText("/data/db/SOLVANE.FDB");
    form.txtDBFN->ClickButton(0);

    ASSERT_EQ(Host.OpenRequests.size(), 1u);
    const app::TOpenDialogRequest& r = Host.OpenRequests[0];
    EXPECT_EQ(r.InitialDir, "/data/db/");
    ASSERT_EQ(r.Filters.size(), 1u);
    EXPECT_EQ(r.Filters[0].Description, "DB파일(*.fdb)");
    EXPECT_EQ(r.Filters[0].Pattern, "*.fdb");
    EXPECT_EQ(r.DefaultExt, ".fdb");
    EXPECT_FALSE(r.FileMustExist);
    EXPECT_TRUE(r.HideReadOnly);
    EXPECT_EQ(r.Owner, &form.Form());
    EXPECT_EQ(form.OpenDialog1.Filter, "DB파일(*.fdb)|*.fdb|");
    // Cancelled: the box keeps its text.
    EXPECT_EQ(form.txtDBFN->Text(), "/data/db/SOLVANE.FDB");
}

TEST_F(MainFormTest, FileDialogWithoutFolderInTheBox) {
    app::TmainForm& form = CreateForm();
    form.txtDBFN->SetText("SOLVANE.FDB");
    form.txtDBFN->ClickButton(0);
    form.txtDBFN->SetText("");
    form.txtDBFN->ClickButton(0);
    ASSERT_EQ(Host.OpenRequests.size(), 2u);
    EXPECT_EQ(Host.OpenRequests[0].InitialDir, "");
    EXPECT_EQ(Host.OpenRequests[1].InitialDir, "");
}

TEST_F(MainFormTest, TypedNameWithoutExtensionIsTakenWithDotFdb) {
    const fs::path db = MakeFolder("db");
    WriteIni("[SYSTEM]\nDBPathDB=" + (db / "OLD.FDB").string() + "\n");
    const std::string before = ReadFile(Ini());
    app::TmainForm& form = CreateForm();
    Host.OnOpenDialog = [&](const app::TOpenDialogRequest&, std::string& name) {
        name = (db / "newdb").string(); // does not exist
        return true;
    };
    form.txtDBFN->ClickButton(0);
    EXPECT_EQ(form.txtDBFN->Text(), (db / "newdb.fdb").string());
    EXPECT_FALSE(fs::exists(db / "newdb.fdb"));
    EXPECT_EQ(ReadFile(Ini()), before);
    EXPECT_TRUE(Boxes.empty());
}

TEST_F(MainFormTest, ChosenFileWithExtensionIsTakenAsItIs) {
    app::TmainForm& form = CreateForm();
    Host.OnOpenDialog = [](const app::TOpenDialogRequest&, std::string& name) {
        name = "/srv/fire.bird/SOLVANE.FDB";
        return true;
    };
    form.txtDBFN->ClickButton(0);
    EXPECT_EQ(form.txtDBFN->Text(), "/srv/fire.bird/SOLVANE.FDB");

    // A dot in a folder name is no extension of the file.
    Host.OnOpenDialog = [](const app::TOpenDialogRequest&, std::string& name) {
        name = "/srv/fire.bird/data";
        return true;
    };
    form.txtDBFN->ClickButton(0);
    EXPECT_EQ(form.txtDBFN->Text(), "/srv/fire.bird/data.fdb");
}

TEST(OpenDialogFilter, ParsesDescriptionPatternPairs) {
    auto f = app::TOpenDialog::ParseFilter("DB파일(*.fdb)|*.fdb|");
    ASSERT_EQ(f.size(), 1u);
    EXPECT_EQ(f[0].Description, "DB파일(*.fdb)");
    EXPECT_EQ(f[0].Pattern, "*.fdb");
    f = app::TOpenDialog::ParseFilter("A|*.a|B|*.b");
    ASSERT_EQ(f.size(), 2u);
    EXPECT_EQ(f[1].Description, "B");
    EXPECT_EQ(f[1].Pattern, "*.b");
    EXPECT_TRUE(app::TOpenDialog::ParseFilter("").empty());
}

// --- file list ------------------------------------------------------------------

TEST_F(MainFormTest, ClickInAnEmptyListLeavesTheLabel) {
    app::TmainForm& form = CreateForm();
    ASSERT_EQ(form.fbBackup->Count(), 0);
    form.lbBackupFN->SetCaption("kept.fbk");
    form.fbBackup->UserSelected(-1);
    EXPECT_EQ(form.lbBackupFN->Caption(), "kept.fbk");
    form.fbBackup->UserSelected(0); // no such entry: nothing selected
    EXPECT_EQ(form.lbBackupFN->Caption(), "kept.fbk");
}

TEST_F(MainFormTest, SelectingAnEntryTakesItsName) {
    WriteFile(FTool / "a.fdb", "");
    WriteFile(FTool / "b.fbk", "");
    app::TmainForm& form = CreateForm();
    form.fbBackup->UserSelected(1);
    EXPECT_EQ(form.lbBackupFN->Caption(), "b.fbk");
    form.fbBackup->UserSelected(0);
    EXPECT_EQ(form.lbBackupFN->Caption(), "a.fdb");
    // Selection from the program raises no event.
    form.fbBackup->SetItemIndex(1);
    EXPECT_EQ(form.lbBackupFN->Caption(), "a.fdb");
    form.fbBackupClick(form.fbBackup.get());
    EXPECT_EQ(form.lbBackupFN->Caption(), "b.fbk");
}

// --- standard error display -----------------------------------------------------------

struct TFullStopRow {
    const char* Message;
    const char* Shown;
};

TEST(StandardErrorDisplay, FullStopRule) {
    const TFullStopRow rows[] = {
        {"", ""},
        {"Connection refused", "Connection refused."},
        {"Done.", "Done."},
        {"Really?", "Really?."}, // "?" sorts after "."
        {"Stop!", "Stop!"},      // "!" sorts before "."
        {"a-", "a-"},
        {"a,", "a,"},
        {"path/", "path/."},
        {"code 0", "code 0."},
        {"trailing blank ", "trailing blank "},
        {"line\n", "line\n"},
        {"파일이 사용 중입니다", "파일이 사용 중입니다."},
        {"(x)", "(x)"},
        {"[x]", "[x]."},
    };
    for (const TFullStopRow& row : rows) {
        EXPECT_EQ(app::ErrorDisplayText(row.Message), row.Shown) << '"' << row.Message << '"';
    }
}

TEST_F(MainFormTest, CloseRequestWaitsForARunningHandler) {
    CreateForm();
    auto& form = dynamic_cast<app::THeadlessForm&>(Form->Form());
    bool closedInside = true;
    bool keptInside = false;
    app::TmainForm::RunEvent([&] {
        EXPECT_TRUE(app::TmainForm::EventRunning());
        closedInside = Form->RequestClose();
        keptInside = Form->CloseRequested();
    });
    EXPECT_FALSE(closedInside);
    EXPECT_TRUE(keptInside);
    EXPECT_EQ(form.CloseCount(), 0);
    EXPECT_FALSE(app::TmainForm::EventRunning());
    EXPECT_TRUE(Form->RequestClose());
    EXPECT_EQ(form.CloseCount(), 1);
    EXPECT_FALSE(form.Visible());
}

TEST_F(MainFormTest, UnhandledErrorOfAnEventGoesToTheErrorDisplay) {
    app::TmainForm::RunEvent([] { throw rtl::Exception("Cannot attach"); });
    app::TmainForm::RunEvent([] { throw std::runtime_error("boom."); });
    app::TmainForm::RunEvent([] { throw 42; });
    ASSERT_EQ(Boxes.size(), 3u);
    EXPECT_EQ(Boxes[0].Text, "Cannot attach.");
    EXPECT_EQ(Boxes[0].Caption, "Solvane Database Maintenance");
    EXPECT_EQ(Boxes[0].Flags, 16);
    EXPECT_EQ(Boxes[1].Text, "boom.");
    EXPECT_EQ(Boxes[2].Caption, "Solvane Database Maintenance");
    EXPECT_FALSE(Boxes[2].Text.empty());
}

// --- widget interfaces -----------------------------------------------------------------

TEST(WidgetInterfaces, MemoAppendSplitsLines) {
    app::THeadlessMemo memo(nullptr, app::TControlDef{});
    memo.Append("one");
    memo.Append("two\r\nthree");
    memo.Append("four\n");
    memo.Append("");
    EXPECT_EQ(memo.Lines(), (std::vector<std::string>{"one", "two", "three", "four", "", ""}));
    memo.Clear();
    EXPECT_TRUE(memo.Lines().empty());
}

TEST(WidgetInterfaces, MemoAppendsABatchAsAppendWouldLineByLine) {
    const std::vector<std::string> batch = {"gbak:one ", "", "two\r\nthree", "four\n"};
    app::THeadlessMemo byLine(nullptr, app::TControlDef{});
    app::THeadlessMemo inBulk(nullptr, app::TControlDef{});
    for (const std::string& text : batch) {
        byLine.Append(text);
    }
    inBulk.AppendBatch(batch);
    inBulk.AppendBatch({"gbak:five ", ""});
    byLine.Append("gbak:five ");
    byLine.Append("");
    EXPECT_EQ(inBulk.Lines(), byLine.Lines());
    inBulk.AppendBatch({});
    EXPECT_EQ(inBulk.Lines().size(), 8u);
}

TEST(WidgetInterfaces, OutputPaneRepaintsAtMostOncePerIntervalAndAtTheEnd) {
    using namespace std::chrono_literals;
    app::THeadlessMemo memo(nullptr, app::TControlDef{});
    app::THeadlessProgressBar bar(nullptr, app::TControlDef{});
    auto now = std::chrono::steady_clock::time_point{};
    app::TOutputPane pane(memo, bar, app::TRepaintThrottle(25ms, [&now] { return now; }));
    // One second of output: a batch of 60 lines every 2 ms, and pauses
    // (empty batches) that repaint only what waits to be painted. Lines
    // reach the memo only with a repaint.
    int repaints = 0;
    size_t shown = 0;
    for (int i = 0; i < 500; ++i) {
        if (pane.Add(std::vector<std::string>(60, "line "))) {
            ++repaints;
            shown = 60u * static_cast<size_t>(i + 1);
        }
        if (i % 50 == 0) {
            EXPECT_EQ(memo.Lines().size(), shown) << i;
        }
        now += 2ms;
    }
    EXPECT_LE(repaints, 40);
    EXPECT_GE(repaints, 35);
    EXPECT_EQ(memo.RepaintCount(), repaints);
    EXPECT_EQ(bar.RepaintCount(), repaints);
    now += 1s;
    EXPECT_TRUE(pane.Add({})); // the last batch waited: painted now
    EXPECT_FALSE(pane.Add({}));
    now += 1s;
    EXPECT_FALSE(pane.Add({})); // nothing new, nothing painted
    pane.Add({"last ", ""});
    pane.Flush(); // the end is painted at once
    EXPECT_EQ(memo.RepaintCount(), repaints + 2);
    pane.Flush();
    EXPECT_EQ(memo.RepaintCount(), repaints + 2);
    EXPECT_EQ(memo.Lines().size(), 30002u);
    EXPECT_EQ(memo.Lines()[30000], "last ");
    EXPECT_EQ(bar.Position(), app::IProgressBar::Max);
}

TEST(WidgetInterfaces, ProgressBarClampsToItsRange) {
    app::THeadlessProgressBar bar(nullptr, app::TControlDef{});
    EXPECT_EQ(bar.Position(), 0);
    bar.SetPosition(2499);
    bar.StepBy(1);
    EXPECT_EQ(bar.Position(), 2500);
    bar.StepBy(1);
    EXPECT_EQ(bar.Position(), 2500);
    bar.SetPosition(-3);
    EXPECT_EQ(bar.Position(), 0);
    bar.SetPosition(100000);
    EXPECT_EQ(bar.Position(), 2500);
}

TEST(WidgetInterfaces, DisabledButtonTakesNoClicks) {
    app::THeadlessButton button(nullptr, app::TControlDef{});
    int clicks = 0;
    button.OnClick = [&] { ++clicks; };
    button.Click();
    button.SetEnabled(false);
    button.Click();
    EXPECT_EQ(clicks, 1);
}

TEST(WidgetInterfaces, HeadlessHostRecordsTheScreenSeams) {
    app::THeadlessHost host;
    host.SetCursor(app::TCursor::HourGlass);
    host.SetCursor(app::TCursor::Default);
    host.ProcessMessages();
    host.Sleep(300);
    host.UseFixedNow = true;
    host.FixedNow.Year = 2024;
    EXPECT_EQ(host.CursorHistory,
              (std::vector<app::TCursor>{app::TCursor::HourGlass, app::TCursor::Default}));
    EXPECT_EQ(host.Cursor(), app::TCursor::Default);
    EXPECT_EQ(host.ProcessMessagesCount, 1);
    EXPECT_EQ(host.Sleeps, (std::vector<int>{300}));
    EXPECT_EQ(host.Now().Year, 2024);
    host.UseFixedNow = false;
    EXPECT_GE(host.Now().Year, 2024);
}

} // namespace
