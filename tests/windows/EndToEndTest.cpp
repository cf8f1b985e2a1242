// Backup, restore and make-server through the Win32 window of the Windows
// build against the real Firebird server, with database and backup files in
// a folder with a Korean name. The client library is the test bridge
// gds32.dll beside this program. end_to_end.sh made the databases before
// and compares the restored ones (and the database make-server set aside)
// with the originals afterwards. The server writes under work names that
// take the final names once a run is complete: none may be left over.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <ibase.h>

#include "WinTestUtil.h"
#include "app/MainForm.h"
#include "app/ProcessOps.h"
#include "app/RKSysUtils.h"
#include "app/Settings.h"
#include "client/IB_Intf.h"
#include "client/SuiteAccount.h"
#include "client/fib.h"
#include "platform/Files.h"
#include "platform/win32/Text.h"
#include "win32gui/Win32Views.h"

namespace {

using wintest::WinPath;

struct TShownBox {
    std::string Text;
    std::string Caption;
    int Flags = 0;
};

std::string DataRoot() {
    const char* root = std::getenv("SLV_TEST_DATA");
    return std::string(root != nullptr && *root != '\0' ? root : "/var/tmp/slv-test") +
           "/windows-e2e";
}

bool Contains(const std::string& haystack, const std::string& needle) {
    return haystack.find(needle) != std::string::npos;
}

// The plain files of a folder, as the file list would see them (work names
// included).
std::vector<std::string> FilesIn(const std::string& folder) {
    std::vector<std::string> names;
    EXPECT_TRUE(platform::ListPlainFiles(folder, names)) << folder;
    return names;
}

bool NoWorkFileIn(const std::string& folder) {
    for (const std::string& name : FilesIn(folder)) {
        if (name.find(".part") != std::string::npos) {
            ADD_FAILURE() << "work file left over: " << folder << name;
            return false;
        }
    }
    return true;
}

bool ServerRequired() {
    const char* required = std::getenv("SLV_REQUIRE_SERVER");
    return required != nullptr && std::string(required) == "1";
}

class EndToEndTest : public ::testing::Test {
protected:
    void SetUp() override {
        Data = WinPath(DataRoot()) + "\\한글 자료\\";
        Tool = WinPath(DataRoot()) + "\\tool\\";
        if (!platform::FileExists(Data + "원본.fdb")) {
            if (ServerRequired()) {
                FAIL() << "end_to_end.sh prepare has not made " << Data << "원본.fdb";
            }
            GTEST_SKIP() << "no prepared database (run through ctest)";
        }
        for (const char* program : {"Solvane.exe", "SLVServer.exe"}) {
            ASSERT_TRUE(wintest::CopyFileTo(WinPath(STANDIN_DIR "/") + program, Tool + program));
        }
        app::SetToolFolderOverride(Tool);
        app::SetMessageBoxPresenter(
            [this](const std::string& text, const std::string& caption, int flags) {
                Boxes.push_back({text, caption, flags});
                // "Yes" to the question whether Solvane may be closed.
                return flags == app::MB_YESNO_QUESTION ? IDYES : IDOK;
            });
        Application = new rtl::TComponent(nullptr);
        Form = new app::TmainForm(Application, Host.Host());
    }
    void TearDown() override {
        delete Application;
        app::TerminateProgram("Solvane.exe");
        app::TerminateProgram("SLVServer.exe");
        app::SetMessageBoxPresenter(nullptr);
        app::SetToolFolderOverride("");
        SetCurrentDirectoryW(L"C:\\");
    }

    void Click(app::IWidget* button) {
        const HWND control = win32gui::TWin32Host::WindowOf(button);
        SendMessageW(Host.Window(), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(control), BN_CLICKED),
                     reinterpret_cast<LPARAM>(control));
    }

    // Backs the original up into the backup folder through the window and
    // returns the backup file's name.
    std::string Backup(const std::string& folder) {
        Form->txtDBFN->SetText(Data + "원본.fdb");
        // The folder as the folder button takes it: into the box and the list.
        Host.OnBrowseForFolder = [folder](const app::TFolderBrowseRequest&, std::string& chosen) {
            chosen = folder;
            return true;
        };
        Form->txtBackupPathPropertiesButtonClick(Form->txtBackupPath.get(), 0);
        EXPECT_EQ(Form->txtBackupPath->Text(), folder);
        Click(Form->btnBackupDB.get());
        const std::vector<std::string> lines = Form->Memo1->Lines();
        EXPECT_GE(lines.size(), 9u);
        // A backup that worked says so in the box, not in a message.
        EXPECT_TRUE(Boxes.empty()) << (Boxes.empty() ? "" : Boxes[0].Text);
        EXPECT_TRUE(NoWorkFileIn(folder));
        for (const std::string& name : Form->fbBackup->Items()) {
            if (name.rfind("SLV_Backup_", 0) == 0) {
                return name;
            }
        }
        ADD_FAILURE() << "no backup file listed in " << folder;
        return {};
    }

    void Choose(const std::string& name) {
        const auto& items = Form->fbBackup->Items();
        for (size_t i = 0; i < items.size(); ++i) {
            if (items[i] == name) {
                Form->fbBackup->UserSelected(static_cast<int>(i));
            }
        }
        ASSERT_EQ(Form->lbBackupFN->Caption(), name);
    }

    std::string Data, Tool;
    win32gui::TWin32Host Host;
    rtl::TComponent* Application = nullptr;
    app::TmainForm* Form = nullptr;
    std::vector<TShownBox> Boxes;
};

TEST_F(EndToEndTest, ABackupOfADatabaseInAKoreanFolder) {
    const std::string folder = Data + "백업1\\";
    const std::string name = Backup(folder);
    ASSERT_FALSE(name.empty());
    EXPECT_GT(wintest::ReadBytes(folder + name).size(), 10000u);

    const std::vector<std::string> lines = Form->Memo1->Lines();
    EXPECT_EQ(lines.front(), "====== 백업 시작 ======");
    EXPECT_EQ(lines[1], "서버에 연결하는 중입니다: 127.0.0.1");
    EXPECT_TRUE(Contains(lines[2], "gbak:")) << lines[2];
    const std::vector<std::string> end(lines.end() - 7, lines.end());
    EXPECT_EQ(end, (std::vector<std::string>{
                       "", "====== 백업 완료 ======", "백업 원본파일: " + Data + "원본.fdb", " ",
                       "백업파일: " + folder + name, "", " "}));
    EXPECT_FALSE(Form->PBar->Visible());
    EXPECT_TRUE(Form->btnBackupDB->Enabled());

    // The settings, in the ANSI code page for the suite's programs.
    const std::string ini = wintest::ReadBytes(Tool + "Environment.ini");
    EXPECT_TRUE(Contains(ini, "DBPathDB=" + wintest::ToCodePage(Data + "원본.fdb", 949) + "\r\n"))
        << ini;
    EXPECT_TRUE(Contains(ini, "DBBackPOS=" + wintest::ToCodePage(folder, 949) + "\r\n")) << ini;
}

TEST_F(EndToEndTest, ARestoreBesideTheDatabase) {
    const std::string name = Backup(Data + "백업2\\");
    ASSERT_FALSE(name.empty());
    Choose(name);
    Click(Form->btnRestoreDB.get());

    // Only the box that says it is done.
    const std::string target = Data + "원본복원.fdb";
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].Text, "복원이 완료되었습니다.\n새 DB파일: " + target);
    EXPECT_EQ(Boxes[0].Caption, "복원완료");
    EXPECT_EQ(Boxes[0].Flags, MB_OK | MB_ICONINFORMATION);
    EXPECT_TRUE(platform::FileExists(target));
    EXPECT_TRUE(NoWorkFileIn(Data));
    const std::vector<std::string> lines = Form->Memo2->Lines();
    ASSERT_GE(lines.size(), 6u);
    EXPECT_EQ(lines[0], "====== 복원 시작 ======");
    EXPECT_EQ(lines[2], "복원할 파일이름: " + name);
    EXPECT_EQ(lines[lines.size() - 2], "====== 복원 완료 ======");
    EXPECT_EQ(lines.back(), "복원된 파일이름: " + target);
    EXPECT_TRUE(Form->fbBackup->Visible());
    EXPECT_FALSE(Form->Memo2->Visible());
    EXPECT_TRUE(Form->btnRestoreDB->Enabled());
}

TEST_F(EndToEndTest, MakeServerStopsTheSuiteRestoresOverTheDatabaseAndStartsItAgain) {
    const std::string name = Backup(Data + "백업3\\");
    ASSERT_FALSE(name.empty());
    Choose(name);
    const std::string database = Data + "서버.fdb";
    Form->txtDBFN->SetText(database);
    wintest::TChild solvane(Tool + "Solvane.exe", {});
    wintest::TChild server(Tool + "SLVServer.exe", {});
    ASSERT_TRUE(wintest::WaitUntil(
        [] {
            return app::IsProgramRunning("Solvane.exe") && app::IsProgramRunning("SLVServer.exe");
        },
        10000));

    Click(Form->btnChangeServer.get());

    // The question whether Solvane may be closed, then the word that it is
    // done.
    ASSERT_EQ(Boxes.size(), 2u) << Boxes.back().Text;
    EXPECT_EQ(Boxes[0].Text, "실행 중인 솔바네를 종료합니다");
    EXPECT_EQ(Boxes[0].Caption, "종료확인");
    EXPECT_EQ(Boxes[0].Flags, MB_YESNO | MB_ICONQUESTION);
    EXPECT_EQ(Boxes[1].Text, "이 PC를 서버로 만들었습니다.\n새 DB파일: " + database +
                                 "\n이전 DB파일: " + Data + "서버~.fdb");
    EXPECT_EQ(Boxes[1].Caption, "변경완료");
    EXPECT_EQ(Boxes[1].Flags, MB_OK | MB_ICONINFORMATION);
    EXPECT_EQ(solvane.Wait(10000), 0);
    EXPECT_EQ(server.Wait(10000), 0);

    // end_to_end.sh compares both databases' contents.
    EXPECT_TRUE(platform::FileExists(Data + "서버~.fdb"));
    EXPECT_TRUE(platform::FileExists(database));
    EXPECT_TRUE(NoWorkFileIn(Data));
    EXPECT_EQ(Form->Memo2->Lines().back(), "복원된 파일이름: " + database);
    EXPECT_EQ(app::ReadIniValue("Environment.ini", "SYSTEM", "DBSvrIP"), "127.0.0.1");
    EXPECT_EQ(app::ReadIniValue("Environment.ini", "SYSTEM", "SvrIP"), "127.0.0.1");
    EXPECT_EQ(app::ReadIniValue("Environment.ini", "SYSTEM", "DBPathDB"), database);
    EXPECT_EQ(app::ReadIniValue("Environment.ini", "SYSSETUP", "DBBackPOS"), Data + "백업3\\");
    EXPECT_TRUE(Contains(wintest::ReadBytes(Tool + "Environment.ini"),
                         "DBPathDB=" + wintest::ToCodePage(database, 949) + "\r\n"));
    // The suite's programs run again, started from the tool's folder.
    EXPECT_TRUE(wintest::WaitUntil(
        [] {
            return app::IsProgramRunning("Solvane.exe") && app::IsProgramRunning("SLVServer.exe");
        },
        10000));
}

// --- what the client library and the server make of Korean file names -----------

// One backup through the client library's own calls, with the start block
// handed to the Linux client unchanged (the bridge's raw entry); the last
// output line or the error's text.
struct TStartOutcome {
    bool Done = false;
    std::string Text;
};

struct TNameCase {
    bool Utf8Names = true;
    bool TagInAttach = false;
    bool TagInStart = false;
};

std::string Item(int code, const std::string& text, bool longLength) {
    std::string item(1, static_cast<char>(code));
    if (longLength) {
        item += static_cast<char>(text.size() & 0xFF);
        item += static_cast<char>(text.size() >> 8);
    } else {
        item += static_cast<char>(text.size());
    }
    return item + text;
}

TStartOutcome RawBackup(const std::string& database, const std::string& backupFile,
                        const TNameCase& how) {
    fib::IIBClientLibraryPtr lib = fib::AcquireClientLibrary(fib::DefaultLibraryName);
    using RawStart = ISC_STATUS(__stdcall*)(ISC_STATUS*, isc_svc_handle*, isc_resv_handle*,
                                            unsigned short, const ISC_SCHAR*);
    const FARPROC address =
        GetProcAddress(GetModuleHandleW(L"gds32.dll"), "slv_raw_isc_service_start");
    RawStart rawStart = nullptr;
    std::memcpy(&rawStart, &address, sizeof rawStart);
    if (rawStart == nullptr) {
        return {false, "the bridge has no raw start"};
    }
    ISC_STATUS_ARRAY status{};
    const auto errorText = [&] {
        char buffer[512];
        const ISC_STATUS* vector = status;
        std::string text;
        while (lib->fb_interpret(buffer, sizeof buffer, &vector) > 0) {
            text += std::string(buffer) + " ";
        }
        return text;
    };
    std::string spb;
    spb += static_cast<char>(isc_spb_version);
    spb += static_cast<char>(isc_spb_current_version);
    spb += Item(isc_spb_user_name, fib::SuiteUserName, false);
    spb += Item(isc_spb_password, fib::SuitePassword, false);
    if (how.TagInAttach) {
        spb += static_cast<char>(isc_spb_utf8_filename);
        spb += '\0';
    }
    const std::string service = "127.0.0.1:service_mgr";
    isc_svc_handle handle = 0;
    if (lib->isc_service_attach(status, static_cast<unsigned short>(service.size()), service.data(),
                                &handle, static_cast<unsigned short>(spb.size()), spb.data()) > 0) {
        return {false, "attach: " + errorText()};
    }
    std::string start(1, static_cast<char>(isc_action_svc_backup));
    start += Item(isc_spb_dbname, database, true);
    start += Item(isc_spb_bkp_file, backupFile, true);
    start += static_cast<char>(isc_spb_verbose);
    if (how.TagInStart) {
        start += static_cast<char>(isc_spb_utf8_filename);
    }
    TStartOutcome outcome;
    if (rawStart(status, &handle, nullptr, static_cast<unsigned short>(start.size()),
                 start.data()) > 0) {
        outcome.Text = errorText();
    } else {
        // The output to its end; a failure shows as an error of the query
        // after it.
        outcome.Done = true;
        for (;;) {
            char reply[4096] = {};
            const char item = static_cast<char>(isc_info_svc_line);
            if (lib->isc_service_query(status, &handle, nullptr, 0, nullptr, 1, &item, sizeof reply,
                                       reply) > 0) {
                outcome = {false, errorText()};
                break;
            }
            const int length = lib->isc_vax_integer(reply + 1, 2);
            if (length == 0) {
                break;
            }
            outcome.Text = std::string(reply + 3, static_cast<size_t>(length));
        }
    }
    lib->isc_service_detach(status, &handle);
    return outcome;
}

// The measurement behind sending the ANSI code page: the client library
// converts the start block's texts from its system's character set unless
// the attach block says the connection's texts are UTF-8 (on Windows that
// character set is the ANSI code page), and the tag is refused inside a
// start block. Printed for the record; the outcomes the choice rests on are
// checked.
TEST_F(EndToEndTest, WhatTheClientLibraryExpectsOfKoreanFileNames) {
    const std::string root = DataRoot() + "/한글 자료/";
    const struct {
        const char* Name;
        TNameCase How;
    } cases[] = {
        {"UTF-8 names, no tag", {true, false, false}},
        {"UTF-8 names, isc_spb_utf8_filename in the attach block", {true, true, false}},
        {"UTF-8 names, isc_spb_utf8_filename in the start block", {true, false, true}},
        {"CP949 names, no tag", {false, false, false}},
    };
    std::vector<TStartOutcome> outcomes;
    int number = 0;
    for (const auto& c : cases) {
        const std::string backup = root + "백업1/측정" + std::to_string(++number) + ".fbk";
        const std::string database = root + "원본.fdb";
        outcomes.push_back(c.How.Utf8Names ? RawBackup(database, backup, c.How)
                                           : RawBackup(wintest::ToCodePage(database, 949),
                                                       wintest::ToCodePage(backup, 949), c.How));
        std::printf("%-58s %s: %s\n", c.Name, outcomes.back().Done ? "backup made" : "refused",
                    outcomes.back().Text.c_str());
        RecordProperty(c.Name, outcomes.back().Done ? "backup made" : outcomes.back().Text);
    }
    // The Linux client's system character set is UTF-8 (the locale).
    EXPECT_TRUE(outcomes[0].Done) << outcomes[0].Text;
    EXPECT_TRUE(outcomes[1].Done) << outcomes[1].Text;
    EXPECT_FALSE(outcomes[2].Done);
    EXPECT_TRUE(Contains(outcomes[2].Text, "unknown parameter for backup/restore"))
        << outcomes[2].Text;
    // Bytes that are not in the client's character set are refused, not
    // passed on.
    EXPECT_FALSE(outcomes[3].Done);
    EXPECT_TRUE(Contains(outcomes[3].Text, "Bad international character")) << outcomes[3].Text;
}

} // namespace
