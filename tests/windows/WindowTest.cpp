// The Win32 window over the window logic: the controls that the layout
// makes, their places, captions and states, and the user's actions reaching
// the logic through the window procedure. Runs under Wine without a display.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include <string>
#include <vector>

#include "WinTestUtil.h"
#include "app/MainForm.h"
#include "app/RKSysUtils.h"
#include "app/Settings.h"
#include "platform/win32/Text.h"
#include "win32gui/Win32Views.h"

namespace {

using platform::win32::Narrow;
using platform::win32::Widen;

struct TShownBox {
    std::string Text;
    std::string Caption;
    int Flags = 0;
};

std::string TextOf(HWND window) {
    wchar_t text[1024] = {};
    GetWindowTextW(window, text, 1024);
    return Narrow(text);
}

RECT ClientRectOf(HWND control) {
    RECT r{};
    GetWindowRect(control, &r);
    MapWindowPoints(HWND_DESKTOP, GetParent(control), reinterpret_cast<POINT*>(&r), 2);
    return r;
}

class Win32WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        Root = wintest::MakeScratchFolder("slv-window");
        Tool = Root + "\\tool\\";
        Backup = Root + "\\백업\\";
        CreateDirectoryW(Widen(Tool).c_str(), nullptr);
        CreateDirectoryW(Widen(Backup).c_str(), nullptr);
        for (const char* name : {"SLV_Backup_240619_2217.fbk", "SLV_Backup_240612_1805.fbk",
                                 "SOLVANE복원.fdb", "readme.txt"}) {
            wintest::WriteBytes(Backup + name, "x");
        }
        wintest::WriteBytes(Tool + "Environment.ini",
                            wintest::ToCodePage("[SYSTEM]\r\nDBPathDB=D:\\자료\\SOLVANE.FDB\r\n"
                                                "[SYSSETUP]\r\nDBBackPOS=" +
                                                    Backup + "\r\n",
                                                949));
        app::SetToolFolderOverride(Tool);
        app::SetMessageBoxPresenter(
            [this](const std::string& text, const std::string& caption, int flags) {
                Boxes.push_back({text, caption, flags});
                return IDOK;
            });
        Application = new rtl::TComponent(nullptr);
        Form = new app::TmainForm(Application, Host.Host());
        Window = Host.Window();
    }
    void TearDown() override {
        delete Application;
        app::SetMessageBoxPresenter(nullptr);
        app::SetToolFolderOverride("");
        SetCurrentDirectoryW(L"C:\\");
        wintest::RemoveTree(Root);
    }

    HWND Control(app::IWidget* widget) { return win32gui::TWin32Host::WindowOf(widget); }

    // What a click or a change of the selection sends the window.
    void Notify(HWND control, WORD code) {
        SendMessageW(Window, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(control), code),
                     reinterpret_cast<LPARAM>(control));
    }

    // The "..." button inside an edit box.
    HWND EllipsisOf(app::IWidget* edit) {
        const RECT box = ClientRectOf(Control(edit));
        for (HWND child = GetWindow(Window, GW_CHILD); child != nullptr;
             child = GetWindow(child, GW_HWNDNEXT)) {
            const RECT r = ClientRectOf(child);
            if (child != Control(edit) && TextOf(child) == "..." && r.left >= box.left &&
                r.right <= box.right && r.top >= box.top && r.bottom <= box.bottom) {
                return child;
            }
        }
        return nullptr;
    }

    std::vector<std::string> ListItems(HWND list) {
        std::vector<std::string> items;
        const auto count = SendMessageW(list, LB_GETCOUNT, 0, 0);
        for (LRESULT i = 0; i < count; ++i) {
            wchar_t text[MAX_PATH] = {};
            SendMessageW(list, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
            items.push_back(Narrow(text));
        }
        return items;
    }

    std::string Root, Tool, Backup;
    win32gui::TWin32Host Host;
    rtl::TComponent* Application = nullptr;
    app::TmainForm* Form = nullptr;
    HWND Window = nullptr;
    std::vector<TShownBox> Boxes;
};

TEST_F(Win32WindowTest, TheControlsStandWhereTheLayoutPutsThemWithTheirKoreanTexts) {
    ASSERT_NE(Window, nullptr);
    EXPECT_EQ(TextOf(Window), "Solvane Database Maintenance");
    RECT client{};
    GetClientRect(Window, &client);
    EXPECT_EQ(client.right, 572);
    EXPECT_EQ(client.bottom, 427);
    const auto style = GetWindowLongPtrW(Window, GWL_STYLE);
    EXPECT_TRUE((style & WS_MINIMIZEBOX) != 0 && (style & WS_SYSMENU) != 0);
    EXPECT_TRUE((style & WS_MAXIMIZEBOX) == 0 && (style & WS_THICKFRAME) == 0);

    struct TPlace {
        app::IWidget* Widget;
        RECT Rect; // in the window's client area
        const char* Text;
        bool Visible;
    };
    const app::TmainForm& f = *Form;
    const std::vector<TPlace> places = {
        {f.gbMCDGSUP.get(), {9, 4, 564, 174}, "처리방법", true},
        {f.Label133.get(), {26, 25, 172, 42}, "DB파일", true},
        {f.txtDBFN.get(), {79, 23, 456, 44}, "D:\\자료\\SOLVANE.FDB", true},
        {f.txtBackupPath.get(), {79, 48, 456, 69}, nullptr, true},
        {f.btnBackupDB.get(), {473, 22, 547, 90}, "DB백업", true},
        {f.Memo1.get(), {27, 75, 455, 140}, "", true},
        {f.PBar.get(), {26, 146, 456, 163}, nullptr, false},
        {f.cxGroupBox1.get(), {9, 180, 564, 419}, "백업위치의 파일들", true},
        {f.Label5.get(),
         {26, 234, 458, 270},
         "[서버로만들기]를 클릭하면 선택한 파일을 복원하여 \r\nDB 파일로 사용하고 이 PC를 "
         "서버로 만듭니다",
         true},
        {f.lbBackupFN.get(), {27, 265, 459, 282}, "", true},
        {f.fbBackup.get(), {27, 284, 456, 411}, nullptr, true},
        {f.btnRestoreDB.get(), {473, 198, 547, 266}, "DB복원", true},
        {f.btnChangeServer.get(), {473, 266, 547, 334}, "서버로\r\n만들기", true},
        {f.Memo2.get(), {27, 285, 455, 386}, "", false},
        {f.PBar2.get(), {26, 390, 456, 407}, nullptr, false},
    };
    for (const TPlace& place : places) {
        SCOPED_TRACE(place.Widget->Name());
        const HWND control = Control(place.Widget);
        ASSERT_NE(control, nullptr);
        const RECT r = ClientRectOf(control);
        EXPECT_EQ(r.left, place.Rect.left);
        EXPECT_EQ(r.top, place.Rect.top);
        EXPECT_EQ(r.right, place.Rect.right);
        EXPECT_EQ(r.bottom, place.Rect.bottom);
        if (place.Text != nullptr) {
            EXPECT_EQ(TextOf(control), place.Text);
        }
        EXPECT_EQ((GetWindowLongPtrW(control, GWL_STYLE) & WS_VISIBLE) != 0, place.Visible);
    }

    // The list shows the backup folder's files, sorted, and the folder box
    // the folder.
    EXPECT_EQ(ListItems(Control(f.fbBackup.get())),
              (std::vector<std::string>{"SLV_Backup_240612_1805.fbk", "SLV_Backup_240619_2217.fbk",
                                        "SOLVANE복원.fdb"}));
    EXPECT_EQ(TextOf(Control(f.txtBackupPath.get())), Backup);
    const std::string face = win32gui::WindowFontFace();
    EXPECT_TRUE(face == "맑은 고딕" || face == "Malgun Gothic" || face == "Gulim" ||
                face == "굴림" || face == "NanumGothic" || face == "나눔고딕")
        << face;
    EXPECT_TRUE(Boxes.empty());
}

TEST_F(Win32WindowTest, TheUsersActionsReachTheWindowLogic) {
    app::TmainForm& f = *Form;
    // A choice in the list names the backup file.
    const HWND list = Control(f.fbBackup.get());
    SendMessageW(list, LB_SETCURSEL, 2, 0);
    Notify(list, LBN_SELCHANGE);
    EXPECT_EQ(f.lbBackupFN->Caption(), "SOLVANE복원.fdb");
    EXPECT_EQ(TextOf(Control(f.lbBackupFN.get())), "SOLVANE복원.fdb");

    // The folder button asks with the box's folder and takes the answer
    // with a final backslash.
    const std::string other = Root + "\\다른 폴더";
    CreateDirectoryW(Widen(other).c_str(), nullptr);
    wintest::WriteBytes(other + "\\new.fbk", "x");
    std::vector<app::TFolderBrowseRequest> asked;
    Host.OnBrowseForFolder = [&](const app::TFolderBrowseRequest& request, std::string& folder) {
        asked.push_back(request);
        folder = other;
        return true;
    };
    const HWND ellipsis = EllipsisOf(f.txtBackupPath.get());
    ASSERT_NE(ellipsis, nullptr);
    Notify(ellipsis, BN_CLICKED);
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].Title, "폴더를 선택해 주세요");
    EXPECT_EQ(asked[0].InitialFolder, Backup);
    EXPECT_EQ(TextOf(Control(f.txtBackupPath.get())), other + "\\");
    EXPECT_EQ(ListItems(list), (std::vector<std::string>{"new.fbk"}));
    EXPECT_EQ(f.lbBackupFN->Caption(), "SOLVANE복원.fdb");

    // The database button offers *.fdb files in the database's folder.
    std::vector<app::TOpenDialogRequest> opened;
    Host.OnOpenDialog = [&](const app::TOpenDialogRequest& request, std::string& file) {
        opened.push_back(request);
        file = "E:\\새 자료\\SOLVANE";
        return true;
    };
    Notify(EllipsisOf(f.txtDBFN.get()), BN_CLICKED);
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].InitialDir, "D:\\자료\\");
    ASSERT_EQ(opened[0].Filters.size(), 1u);
    EXPECT_EQ(opened[0].Filters[0].Description, "DB파일(*.fdb)");
    EXPECT_EQ(TextOf(Control(f.txtDBFN.get())), "E:\\새 자료\\SOLVANE.fdb");

    // The commands' own messages, and a disabled button takes no click.
    SetWindowTextW(Control(f.txtBackupPath.get()), L"   ");
    Notify(Control(f.btnBackupDB.get()), BN_CLICKED);
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].Text, "백업할 폴더를 먼저 정하세요");
    EXPECT_EQ(Boxes[0].Caption, "에러");
    EXPECT_EQ(Boxes[0].Flags, MB_OK | MB_ICONERROR);
    f.btnBackupDB->SetEnabled(false);
    EXPECT_FALSE(IsWindowEnabled(Control(f.btnBackupDB.get())));
    Notify(Control(f.btnBackupDB.get()), BN_CLICKED);
    EXPECT_EQ(Boxes.size(), 1u);

    // The text box and the bar show what the logic gives them.
    f.Memo1->Append("가\r\n나");
    f.Memo1->Append("");
    EXPECT_EQ(TextOf(Control(f.Memo1.get())), "가\r\n나\r\n");
    EXPECT_EQ(f.Memo1->Lines(), (std::vector<std::string>{"가", "나", ""}));
    f.PBar->SetPosition(3000);
    EXPECT_EQ(SendMessageW(Control(f.PBar.get()), PBM_GETPOS, 0, 0), 2500);
    // A step too small to show leaves the control (and its painting) alone.
    f.PBar->SetPosition(0);
    f.PBar->StepBy(1);
    EXPECT_EQ(SendMessageW(Control(f.PBar.get()), PBM_GETPOS, 0, 0), 0);
}

TEST_F(Win32WindowTest, WhileACommandRunsTheWindowTakesNoInputAndACloseWaitsForIt) {
    app::TmainForm& f = *Form;
    f.Show();
    const HWND list = Control(f.fbBackup.get());
    const HWND folderButton = EllipsisOf(f.txtBackupPath.get());
    SendMessageW(list, LB_SETCURSEL, 0, 0);

    // Keys for the window are dropped as they come and when the waiting
    // input is discarded; other messages go on.
    Host.SetInputBlocked(true);
    PostMessageW(list, WM_KEYDOWN, VK_DOWN, 0);
    Host.ProcessMessages();
    PostMessageW(list, WM_KEYDOWN, VK_DOWN, 0);
    PostMessageW(list, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 30));
    PostMessageW(list, LB_SETCURSEL, 2, 0);
    Host.DiscardPendingInput();
    EXPECT_EQ(SendMessageW(list, LB_GETCURSEL, 0, 0), 2);
    EXPECT_EQ(f.lbBackupFN->Caption(), "");
    Host.SetInputBlocked(false);
    PostMessageW(list, WM_KEYDOWN, VK_UP, 0);
    Host.ProcessMessages();
    EXPECT_EQ(f.lbBackupFN->Caption(), "SLV_Backup_240619_2217.fbk");

    // A command's scope disables the controls and blocks the input; the
    // session may not end under it.
    int asked = 0;
    Host.OnBrowseForFolder = [&](const app::TFolderBrowseRequest&, std::string& folder) {
        ++asked;
        folder = Root;
        return true;
    };
    {
        app::TmainForm::TCommandScope scope(f);
        EXPECT_TRUE(Host.InputBlocked());
        for (HWND control :
             {Control(f.btnBackupDB.get()), Control(f.btnRestoreDB.get()),
              Control(f.btnChangeServer.get()), folderButton, EllipsisOf(f.txtDBFN.get()), list}) {
            EXPECT_FALSE(IsWindowEnabled(control)) << TextOf(control);
        }
        Notify(folderButton, BN_CLICKED);
        EXPECT_EQ(asked, 0);
    }
    EXPECT_FALSE(Host.InputBlocked());
    EXPECT_TRUE(IsWindowEnabled(list) && IsWindowEnabled(folderButton));
    EXPECT_EQ(SendMessageW(Window, WM_QUERYENDSESSION, 0, 0), TRUE);
    Notify(folderButton, BN_CLICKED);
    EXPECT_EQ(asked, 1);

    // A close request while a handler runs is kept; the window closes once
    // the handler has ended, and the message loop is told to end.
    Host.OnCloseRequest = [&f] { return f.RequestClose(); };
    app::TmainForm::RunEvent([&] {
        SendMessageW(Window, WM_CLOSE, 0, 0);
        Host.ProcessMessages();
        EXPECT_TRUE(IsWindowVisible(Window));
        EXPECT_TRUE(f.CloseRequested());
    });
    EXPECT_TRUE(wintest::WaitUntil(
        [&] {
            Host.ProcessMessages();
            return !IsWindowVisible(Window);
        },
        5000));
    MSG quit{};
    EXPECT_TRUE(PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
}

// During a command the user's close and Esc go to the logic and leave the
// window open; the end of the session stops the command, answers the box it
// shows, and closes the window once the command has ended.
TEST_F(Win32WindowTest, DuringACommandTheUsersStopGoesToTheLogicAndTheSessionsEndStopsIt) {
    app::TmainForm& f = *Form;
    f.Show();
    int escapes = 0;
    int queries = 0;
    const auto escape = f.Form().OnEscape;
    const auto query = f.Form().OnCloseQuery;
    f.Form().OnEscape = [&] {
        ++escapes;
        escape();
    };
    f.Form().OnCloseQuery = [&] {
        ++queries;
        return query();
    };
    Host.OnCloseRequest = [&f] { return f.RequestClose(); };
    const HWND list = Control(f.fbBackup.get());
    app::TmainForm::RunEvent([&] {
        app::TmainForm::TCommandScope scope(f);
        PostMessageW(list, WM_KEYDOWN, VK_ESCAPE, 0);
        PostMessageW(list, WM_SYSKEYDOWN, VK_F4, LPARAM{1} << 29); // Alt+F4
        Host.ProcessMessages();
        SendMessageW(Window, WM_SYSCOMMAND, SC_CLOSE, 0); // the close box
        EXPECT_EQ(escapes, 1);
        EXPECT_EQ(queries, 2);
        EXPECT_TRUE(IsWindowVisible(Window));
        EXPECT_FALSE(f.CloseRequested());

        EXPECT_EQ(SendMessageW(Window, WM_QUERYENDSESSION, 0, 0), FALSE);
        EXPECT_TRUE(f.CloseRequested());
        // The question the stopping command may show meets the next retry.
        EXPECT_EQ(MessageBoxW(Window, L"백업을 중단할까요?", L"중단확인", MB_YESNO), IDNO);
        EXPECT_TRUE(IsWindowVisible(Window));
    });
    EXPECT_TRUE(wintest::WaitUntil(
        [&] {
            Host.ProcessMessages();
            return !IsWindowVisible(Window);
        },
        5000));
}

// Without a command the close box closes the window.
TEST_F(Win32WindowTest, TheCloseBoxClosesAnIdleWindow) {
    Form->Show();
    Host.OnCloseRequest = [this] { return Form->RequestClose(); };
    SendMessageW(Window, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_FALSE(IsWindowVisible(Window));
    MSG quit{};
    EXPECT_TRUE(PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
}

} // namespace
