// The Win32 front end of the maintenance window.
//
// Every control is a child of the window itself; a group box is only a frame
// drawn beneath the controls it holds, which are placed relative to it. Each
// control keeps its adapter in its GWLP_USERDATA, so the window procedure
// hands notifications, colours and drawing to the adapter of the control
// that sent them.
#include "win32gui/Win32Views.h"

#include <commctrl.h>
#include <commdlg.h>
#include <shlobj.h>

#include <algorithm>
#include <vector>

#include "app/RKSysUtils.h"
#include "platform/win32/Text.h"

namespace win32gui {

using platform::win32::Narrow;
using platform::win32::Widen;

namespace {

constexpr wchar_t WindowClassName[] = L"SolvaneDBMaintWindow";

COLORREF ToColorRef(app::TColor color) {
    return RGB(color.Red, color.Green, color.Blue);
}

// The window text of a control, in UTF-8.
std::string WindowText(HWND window) {
    const int length = GetWindowTextLengthW(window);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    const int copied = GetWindowTextW(window, text.data(), length + 1);
    text.resize(static_cast<size_t>(std::max(copied, 0)));
    return Narrow(text);
}

// Captions keep the "\r\n" of their two lines, as Windows controls show them.
std::vector<std::wstring> CaptionLines(const std::string& caption) {
    std::vector<std::wstring> lines;
    for (const std::string& line : app::IMemo::SplitLines(caption)) {
        lines.push_back(Widen(line));
    }
    return lines;
}

int CALLBACK FaceFound(const LOGFONTW* /*font*/, const TEXTMETRICW* /*metrics*/, DWORD /*type*/,
                       LPARAM data) {
    *reinterpret_cast<bool*>(data) = true;
    return 0;
}

bool FaceInstalled(HDC dc, const wchar_t* face) {
    LOGFONTW wanted{};
    wanted.lfCharSet = DEFAULT_CHARSET;
    lstrcpynW(wanted.lfFaceName, face, LF_FACESIZE);
    bool found = false;
    EnumFontFamiliesExW(dc, &wanted, FaceFound, reinterpret_cast<LPARAM>(&found), 0);
    return found;
}

struct TWindowFont {
    HFONT Font = nullptr;
    std::wstring Face;
};

const TWindowFont& TheWindowFont() {
    static const TWindowFont font = [] {
        TWindowFont chosen;
        HDC dc = GetDC(nullptr);
        for (const wchar_t* face :
             {L"맑은 고딕", L"Malgun Gothic", L"Gulim", L"굴림", L"NanumGothic", L"나눔고딕"}) {
            if (FaceInstalled(dc, face)) {
                chosen.Face = face;
                break;
            }
        }
        ReleaseDC(nullptr, dc);
        if (chosen.Face.empty()) {
            chosen.Face = L"Tahoma";
        }
        chosen.Font = CreateFontW(-12, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                  OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                                  DEFAULT_PITCH | FF_DONTCARE, chosen.Face.c_str());
        return chosen;
    }();
    return font;
}

// --- adapters ------------------------------------------------------------------

// What the window procedure needs of every control's adapter.
class TWin32Control {
public:
    TWin32Control() = default;
    virtual ~TWin32Control() = default;
    TWin32Control(const TWin32Control&) = delete;
    TWin32Control& operator=(const TWin32Control&) = delete;

    virtual HWND Handle() const = 0;
    // Where the control's own children go, in the window's coordinates.
    virtual POINT Origin() const = 0;
    // A WM_COMMAND notification from `source` (the control or a part of it).
    virtual void Command(HWND /*source*/, WORD /*code*/) {}
    // The brush of a WM_CTLCOLOR* message; nullptr: the system's default.
    virtual HBRUSH Colors(HDC /*dc*/) { return nullptr; }
    virtual void Draw(const DRAWITEMSTRUCT& /*item*/) {}
};

TWin32Control* ControlOf(HWND window) {
    return window == nullptr
               ? nullptr
               : reinterpret_cast<TWin32Control*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

POINT OriginOf(app::IWidget* parent) {
    auto* control = dynamic_cast<TWin32Control*>(parent);
    return control == nullptr ? POINT{0, 0} : control->Origin();
}

int gNextControlId = 1000;

// Makes a child control of the window at `bounds`, relative to `origin`.
HWND MakeControl(HWND window, const wchar_t* className, const std::wstring& text, DWORD style,
                 DWORD exStyle, const app::TControlDef& def, POINT origin) {
    const HWND control = CreateWindowExW(
        exStyle, className, text.c_str(), WS_CHILD | style, origin.x + def.Bounds.Left,
        origin.y + def.Bounds.Top, def.Bounds.Width, def.Bounds.Height, window,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(gNextControlId++)), GetModuleHandleW(nullptr),
        nullptr);
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(WindowFont()), FALSE);
    return control;
}

template <typename Interface> class TWin32Adapter : public Interface, public TWin32Control {
public:
    TWin32Adapter(HWND handle, const app::TControlDef& def, POINT origin)
        : FName(def.Name),
          FHandle(handle), FOrigin{origin.x + def.Bounds.Left, origin.y + def.Bounds.Top},
          FDef(def) {
        SetWindowLongPtrW(FHandle, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(static_cast<TWin32Control*>(this)));
        ShowWindow(FHandle, def.Visible ? SW_SHOWNA : SW_HIDE);
    }
    ~TWin32Adapter() override { Destroy(FHandle); }

    const std::string& Name() const override { return FName; }
    bool Visible() const override {
        return (GetWindowLongPtrW(FHandle, GWL_STYLE) & WS_VISIBLE) != 0;
    }
    void SetVisible(bool value) override { ShowWindow(FHandle, value ? SW_SHOWNA : SW_HIDE); }
    void Repaint() override {
        RedrawWindow(FHandle, nullptr, nullptr,
                     RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_UPDATENOW | RDW_ALLCHILDREN);
    }
    HWND Handle() const override { return FHandle; }
    POINT Origin() const override { return FOrigin; }

protected:
    // Takes the control away from this adapter first, so that nothing it
    // sends while it goes reaches a half-destroyed adapter.
    static void Destroy(HWND control) {
        if (control != nullptr && IsWindow(control)) {
            SetWindowLongPtrW(control, GWLP_USERDATA, 0);
            DestroyWindow(control);
        }
    }
    HBRUSH TextColors(HDC dc) {
        SetBkMode(dc, TRANSPARENT);
        if (FDef.HasFontColor) {
            SetTextColor(dc, ToColorRef(FDef.FontColor));
        }
        return GetSysColorBrush(COLOR_BTNFACE);
    }

    std::string FName;
    HWND FHandle;
    POINT FOrigin;
    app::TControlDef FDef;
};

// --- the window ------------------------------------------------------------------

class TWin32Form : public TWin32Adapter<app::IFormView> {
public:
    TWin32Form(HWND window, const app::TControlDef& def)
        : TWin32Adapter(window, Hidden(def), {0, 0}), FCaption(def.Caption) {}
    POINT Origin() const override { return {0, 0}; }
    std::string Caption() const override { return WindowText(FHandle); }
    // The window goes with its logic, after the message loop has ended.
    void Close() override {
        ShowWindow(FHandle, SW_HIDE);
        PostQuitMessage(0);
    }
    void SetVisible(bool value) override {
        ShowWindow(FHandle, value ? SW_SHOW : SW_HIDE);
        if (value) {
            UpdateWindow(FHandle);
        }
    }
    void SetTabOrder(const std::vector<app::IWidget*>& order) override {
        // The focus goes round the controls in their z-order.
        HWND previous = HWND_TOP;
        for (app::IWidget* item : order) {
            const HWND control = TWin32Host::WindowOf(item);
            if (control == nullptr) {
                continue;
            }
            SetWindowLongPtrW(control, GWL_STYLE,
                              GetWindowLongPtrW(control, GWL_STYLE) | WS_TABSTOP);
            SetWindowPos(control, previous, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
            previous = control;
        }
        // Labels lie beneath the boxes they may reach into, and the frames
        // beneath everything.
        SendToBottom([](const wchar_t* className, LONG_PTR) {
            return lstrcmpiW(className, WC_STATICW) == 0;
        });
        SendToBottom([](const wchar_t* className, LONG_PTR style) {
            return lstrcmpiW(className, WC_BUTTONW) == 0 && (style & 0x0F) == BS_GROUPBOX;
        });
    }

private:
    static app::TControlDef Hidden(app::TControlDef def) {
        def.Visible = false; // shown by TmainForm::Show
        return def;
    }
    template <typename Predicate> void SendToBottom(Predicate wanted) {
        std::vector<HWND> chosen;
        for (HWND child = GetWindow(FHandle, GW_CHILD); child != nullptr;
             child = GetWindow(child, GW_HWNDNEXT)) {
            wchar_t className[32] = {};
            GetClassNameW(child, className, 32);
            if (wanted(className, GetWindowLongPtrW(child, GWL_STYLE))) {
                chosen.push_back(child);
            }
        }
        for (HWND child : chosen) {
            SetWindowPos(child, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        }
    }
    std::string FCaption;
};

// --- group box, label ------------------------------------------------------------

class TWin32GroupBox : public TWin32Adapter<app::IGroupBox> {
public:
    TWin32GroupBox(HWND window, POINT origin, const app::TControlDef& def)
        : TWin32Adapter(MakeControl(window, WC_BUTTONW, Widen(def.Caption),
                                    BS_GROUPBOX | WS_CLIPSIBLINGS, 0, def, origin),
                        def, origin),
          FCaption(def.Caption) {}
    const std::string& Caption() const override { return FCaption; }
    HBRUSH Colors(HDC dc) override { return TextColors(dc); }

private:
    std::string FCaption;
};

class TWin32Label : public TWin32Adapter<app::ILabel> {
public:
    TWin32Label(HWND window, POINT origin, const app::TControlDef& def)
        : TWin32Adapter(MakeControl(window, WC_STATICW, Widen(def.Caption),
                                    SS_LEFT | SS_NOPREFIX | WS_CLIPSIBLINGS, 0, def, origin),
                        def, origin),
          FCaption(def.Caption) {
        Fit();
    }
    const std::string& Caption() const override { return FCaption; }
    void SetCaption(const std::string& value) override {
        FCaption = value;
        SetWindowTextW(FHandle, Widen(value).c_str());
        Fit();
    }
    HBRUSH Colors(HDC dc) override { return TextColors(dc); }

private:
    // Widens the label, within its limit, when its text needs more room.
    void Fit() {
        if (FDef.MaxAutoWidth <= FDef.Bounds.Width) {
            return;
        }
        HDC dc = GetDC(FHandle);
        const HGDIOBJ previous = SelectObject(dc, WindowFont());
        int needed = 0;
        for (const std::wstring& line : CaptionLines(FCaption)) {
            SIZE size{};
            GetTextExtentPoint32W(dc, line.c_str(), static_cast<int>(line.size()), &size);
            needed = std::max(needed, static_cast<int>(size.cx));
        }
        SelectObject(dc, previous);
        ReleaseDC(FHandle, dc);
        const int width = std::clamp(needed, FDef.Bounds.Width, FDef.MaxAutoWidth);
        SetWindowPos(FHandle, nullptr, 0, 0, width, FDef.Bounds.Height,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    std::string FCaption;
};

// --- text box with ellipsis button ---------------------------------------------------

class TWin32ButtonEdit : public TWin32Adapter<app::IButtonEdit> {
public:
    TWin32ButtonEdit(HWND window, POINT origin, const app::TControlDef& def)
        : TWin32Adapter(MakeControl(window, WC_EDITW, Widen(def.Caption),
                                    ES_AUTOHSCROLL | WS_CLIPSIBLINGS, WS_EX_CLIENTEDGE, def,
                                    origin),
                        def, origin) {
        // The button sits inside the box's right end, above it; the text
        // stops short of it.
        const int side = def.Bounds.Height - 4;
        const int width = side + 2;
        app::TControlDef button = def;
        button.Name = def.Name + "Button";
        button.Bounds = {def.Bounds.Left + def.Bounds.Width - width - 2, def.Bounds.Top + 2, width,
                         side};
        FButton = MakeControl(window, WC_BUTTONW, L"...", BS_PUSHBUTTON, 0, button, origin);
        SetWindowLongPtrW(FButton, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(static_cast<TWin32Control*>(this)));
        ShowWindow(FButton, def.Visible ? SW_SHOWNA : SW_HIDE);
        SendMessageW(FHandle, EM_SETMARGINS, EC_RIGHTMARGIN, MAKELPARAM(0, width + 2));
    }
    ~TWin32ButtonEdit() override { Destroy(FButton); }

    std::string Text() const override { return WindowText(FHandle); }
    void SetText(const std::string& value) override {
        SetWindowTextW(FHandle, Widen(value).c_str());
    }
    bool ButtonEnabled() const override { return IsWindowEnabled(FButton) != 0; }
    void SetButtonEnabled(bool value) override { EnableWindow(FButton, value ? TRUE : FALSE); }
    void SetVisible(bool value) override {
        TWin32Adapter::SetVisible(value);
        ShowWindow(FButton, value ? SW_SHOWNA : SW_HIDE);
    }
    HWND EllipsisButton() const { return FButton; }

    void Command(HWND source, WORD code) override {
        if (source == FButton && code == BN_CLICKED) {
            ClickButton(0);
        } else if (source == FHandle && (code == EN_SETFOCUS || code == EN_KILLFOCUS)) {
            // The focused box takes the light yellow background.
            InvalidateRect(FHandle, nullptr, TRUE);
        }
    }
    HBRUSH Colors(HDC dc) override {
        if (GetFocus() != FHandle) {
            return nullptr;
        }
        static const HBRUSH focused = CreateSolidBrush(ToColorRef(app::FocusedEditColor));
        SetBkColor(dc, ToColorRef(app::FocusedEditColor));
        return focused;
    }

private:
    HWND FButton = nullptr;
};

// --- push button ------------------------------------------------------------------------

// The 16 x 16 pictures: a database drum with an arrow into it (backup) or
// out of it (restore), drawn in plain GDI.
void DrawDrum(HDC dc, RECT r, COLORREF body) {
    const int cap = (r.bottom - r.top) / 4;
    const HPEN pen =
        CreatePen(PS_SOLID, 1,
                  RGB(GetRValue(body) * 3 / 5, GetGValue(body) * 3 / 5, GetBValue(body) * 3 / 5));
    const HBRUSH fill = CreateSolidBrush(body);
    const HBRUSH top = CreateSolidBrush(RGB(std::min(255, GetRValue(body) * 13 / 10),
                                            std::min(255, GetGValue(body) * 13 / 10),
                                            std::min(255, GetBValue(body) * 13 / 10)));
    const HGDIOBJ oldPen = SelectObject(dc, pen);
    const HGDIOBJ oldBrush = SelectObject(dc, fill);
    Rectangle(dc, r.left, r.top + cap / 2, r.right, r.bottom - cap / 2);
    Ellipse(dc, r.left, r.bottom - cap, r.right, r.bottom);
    SelectObject(dc, top);
    Ellipse(dc, r.left, r.top, r.right, r.top + cap);
    SelectObject(dc, oldBrush);
    SelectObject(dc, oldPen);
    DeleteObject(top);
    DeleteObject(fill);
    DeleteObject(pen);
}

void DrawArrow(HDC dc, int x, int top, int bottom, bool down, COLORREF color) {
    const HPEN pen = CreatePen(PS_SOLID, 2, color);
    const HGDIOBJ old = SelectObject(dc, pen);
    MoveToEx(dc, x, top, nullptr);
    LineTo(dc, x, bottom);
    const int tip = down ? bottom : top;
    const int back = down ? tip - 3 : tip + 3;
    MoveToEx(dc, x - 3, back, nullptr);
    LineTo(dc, x, tip);
    LineTo(dc, x + 4, back - (down ? 1 : -1));
    SelectObject(dc, old);
    DeleteObject(pen);
}

void DrawPicture(HDC dc, int x, int y, app::TButtonPicture picture) {
    const bool down = picture == app::TButtonPicture::Backup;
    DrawDrum(dc, RECT{x, y + 4, x + 10, y + 16}, RGB(70, 130, 200));
    DrawArrow(dc, x + 13, y + 1, y + 12, down, down ? RGB(30, 140, 60) : RGB(200, 120, 20));
}

class TWin32Button : public TWin32Adapter<app::IButton> {
public:
    TWin32Button(HWND window, POINT origin, const app::TControlDef& def)
        : TWin32Adapter(
              MakeControl(window, WC_BUTTONW, Widen(def.Caption), BS_OWNERDRAW, 0, def, origin),
              def, origin),
          FCaption(def.Caption) {}
    const std::string& Caption() const override { return FCaption; }
    void SetCaption(const std::string& value) override {
        FCaption = value;
        SetWindowTextW(FHandle, Widen(value).c_str());
        InvalidateRect(FHandle, nullptr, TRUE);
    }
    bool Enabled() const override { return IsWindowEnabled(FHandle) != 0; }
    void SetEnabled(bool value) override { EnableWindow(FHandle, value ? TRUE : FALSE); }

    void Command(HWND /*source*/, WORD code) override {
        if (code == BN_CLICKED) {
            Click();
        }
    }

    // Drawn here, so that a button can have a red caption and a picture.
    void Draw(const DRAWITEMSTRUCT& item) override {
        HDC dc = item.hDC;
        RECT r = item.rcItem;
        const bool pressed = (item.itemState & ODS_SELECTED) != 0;
        const bool disabled = (item.itemState & ODS_DISABLED) != 0;
        if (FDef.Flat) {
            FillRect(dc, &r, GetSysColorBrush(COLOR_BTNFACE));
            DrawEdge(dc, &r, pressed ? BDR_SUNKENOUTER : BDR_RAISEDINNER, BF_RECT);
        } else {
            DrawFrameControl(dc, &r, DFC_BUTTON, DFCS_BUTTONPUSH | (pressed ? DFCS_PUSHED : 0));
        }
        const HGDIOBJ oldFont = SelectObject(dc, WindowFont());
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, disabled            ? GetSysColor(COLOR_GRAYTEXT)
                         : FDef.HasFontColor ? ToColorRef(FDef.FontColor)
                                             : GetSysColor(COLOR_BTNTEXT));
        const int shift = pressed ? 1 : 0;
        const std::vector<std::wstring> lines = CaptionLines(FCaption);
        TEXTMETRICW metrics{};
        GetTextMetricsW(dc, &metrics);
        const int lineHeight = metrics.tmHeight;
        const int pictureWidth = FDef.Picture != app::TButtonPicture::None ? 18 : 0;
        int top = (r.top + r.bottom - lineHeight * static_cast<int>(lines.size())) / 2 + shift;
        for (const std::wstring& line : lines) {
            SIZE size{};
            GetTextExtentPoint32W(dc, line.c_str(), static_cast<int>(line.size()), &size);
            const int left = (r.left + r.right - pictureWidth - size.cx) / 2 + shift;
            if (pictureWidth > 0) {
                DrawPicture(dc, left, top + (lineHeight - 16) / 2, FDef.Picture);
            }
            TextOutW(dc, left + pictureWidth, top, line.c_str(), static_cast<int>(line.size()));
            top += lineHeight;
        }
        SelectObject(dc, oldFont);
        if ((item.itemState & ODS_FOCUS) != 0) {
            RECT focus = r;
            InflateRect(&focus, -4, -4);
            DrawFocusRect(dc, &focus);
        }
    }

private:
    std::string FCaption;
};

// --- multi-line text box -------------------------------------------------------------

class TWin32Memo : public TWin32Adapter<app::IMemo> {
public:
    TWin32Memo(HWND window, POINT origin, const app::TControlDef& def)
        : TWin32Adapter(
              MakeControl(window, WC_EDITW, L"",
                          ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN | WS_VSCROLL | WS_BORDER, 0,
                          def, origin),
              def, origin) {
        // No limit of its own: a backup's output can be long.
        SendMessageW(FHandle, EM_SETLIMITTEXT, 0, 0);
    }
    // Paints what the appended lines changed, nothing more: the box
    // invalidates that part itself.
    void Repaint() override { UpdateWindow(FHandle); }
    void Clear() override {
        SetWindowTextW(FHandle, L"");
        FHasLines = false;
    }
    std::vector<std::string> Lines() const override {
        const std::string text = WindowText(FHandle);
        if (text.empty() && !FHasLines) {
            return {};
        }
        return SplitLines(text);
    }

protected:
    void AppendLines(const std::vector<std::string>& lines) override {
        std::string text;
        for (const std::string& line : lines) {
            // The first line of an empty box starts it.
            if (FHasLines || !text.empty() || GetWindowTextLengthW(FHandle) > 0) {
                text += "\r\n";
            }
            text += line;
            FHasLines = true;
        }
        const LPARAM end = GetWindowTextLengthW(FHandle);
        SendMessageW(FHandle, EM_SETSEL, static_cast<WPARAM>(end), end);
        SendMessageW(FHandle, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(Widen(text).c_str()));
        SendMessageW(FHandle, EM_SCROLLCARET, 0, 0);
    }

private:
    bool FHasLines = false;
};

// --- progress bar ----------------------------------------------------------------------

class TWin32ProgressBar : public TWin32Adapter<app::IProgressBar> {
public:
    TWin32ProgressBar(HWND window, POINT origin, const app::TControlDef& def)
        : TWin32Adapter(
              MakeControl(window, PROGRESS_CLASSW, L"", PBS_SMOOTH, 0, WithHeight(def), origin),
              WithHeight(def), origin) {
        SendMessageW(FHandle, PBM_SETRANGE32, app::IProgressBar::Min, app::IProgressBar::Max);
        PositionChanged();
    }
    // Paints a change of the bar's filled part, if there is one.
    void Repaint() override { UpdateWindow(FHandle); }

protected:
    // A command steps the bar thousands of times for a few hundred pixels:
    // the control hears of a new position (and marks itself for painting)
    // only when its filled width changes.
    void PositionChanged() override {
        RECT inside{};
        GetClientRect(FHandle, &inside);
        const long long width = std::max<long long>(inside.right - inside.left, 1);
        const long long filled = (Position() - app::IProgressBar::Min) * width /
                                 (app::IProgressBar::Max - app::IProgressBar::Min);
        if (filled != FFilled || Position() == app::IProgressBar::Min ||
            Position() == app::IProgressBar::Max) {
            FFilled = filled;
            SendMessageW(FHandle, PBM_SETPOS, static_cast<WPARAM>(Position()), 0);
        }
    }

private:
    static app::TControlDef WithHeight(app::TControlDef def) {
        if (def.Bounds.Height <= 0) {
            def.Bounds.Height = 17;
        }
        return def;
    }
    long long FFilled = -1;
};

// --- file list -------------------------------------------------------------------------

class TWin32FileList : public TWin32Adapter<app::IFileList> {
public:
    TWin32FileList(HWND window, POINT origin, const app::TControlDef& def)
        : TWin32Adapter(MakeControl(window, WC_LISTBOXW, L"",
                                    LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | WS_VSCROLL | WS_BORDER, 0,
                                    def, origin),
                        def, origin) {
        if (def.ItemHeight > 0) {
            SendMessageW(FHandle, LB_SETITEMHEIGHT, 0, def.ItemHeight);
        }
        ItemsChanged();
    }

    bool Enabled() const override { return IsWindowEnabled(FHandle) != 0; }
    void SetEnabled(bool value) override { EnableWindow(FHandle, value ? TRUE : FALSE); }

    void Command(HWND /*source*/, WORD code) override {
        if (code == LBN_SELCHANGE) {
            UserSelected(static_cast<int>(SendMessageW(FHandle, LB_GETCURSEL, 0, 0)));
        }
    }

protected:
    void ItemsChanged() override {
        SendMessageW(FHandle, WM_SETREDRAW, FALSE, 0);
        SendMessageW(FHandle, LB_RESETCONTENT, 0, 0);
        for (const std::string& name : Items()) {
            SendMessageW(FHandle, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Widen(name).c_str()));
        }
        SendMessageW(FHandle, WM_SETREDRAW, TRUE, 0);
        SelectionShown();
        InvalidateRect(FHandle, nullptr, TRUE);
    }
    void SelectionShown() override {
        SendMessageW(FHandle, LB_SETCURSEL, static_cast<WPARAM>(ItemIndex()), 0);
    }
};

// --- the window procedure ------------------------------------------------------------------

TWin32Host* gHost = nullptr;

// The timer that makes a close request again while a command runs.
constexpr UINT_PTR CloseRetryTimer = 1;

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND:
        if (TWin32Control* control = ControlOf(reinterpret_cast<HWND>(lParam))) {
            control->Command(reinterpret_cast<HWND>(lParam), HIWORD(wParam));
            return 0;
        }
        break;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORBTN:
        if (TWin32Control* control = ControlOf(reinterpret_cast<HWND>(lParam))) {
            if (HBRUSH brush = control->Colors(reinterpret_cast<HDC>(wParam))) {
                return reinterpret_cast<LRESULT>(brush);
            }
        }
        break;
    case WM_DRAWITEM: {
        const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
        if (TWin32Control* control = ControlOf(item->hwndItem)) {
            control->Draw(*item);
            return TRUE;
        }
        break;
    }
    case WM_SETCURSOR:
        if (gHost != nullptr && gHost->Cursor() == app::TCursor::HourGlass) {
            ::SetCursor(LoadCursorW(nullptr, IDC_WAIT));
            return TRUE;
        }
        break;
    case WM_SYSCOMMAND:
        // The close box, Alt+F4 and the system menu's Close: the user's own
        // close, which the window's logic may turn into a question.
        if ((wParam & 0xFFF0) == SC_CLOSE && gHost != nullptr) {
            gHost->UserClose();
            return 0;
        }
        break;
    case WM_CLOSE:
        if (gHost != nullptr) {
            gHost->CloseRequested();
        } else {
            ShowWindow(window, SW_HIDE);
            PostQuitMessage(0);
        }
        return 0;
    case WM_TIMER:
        if (wParam == CloseRetryTimer && gHost != nullptr) {
            gHost->CloseRequested();
            return 0;
        }
        break;
    case WM_QUERYENDSESSION:
        return gHost == nullptr || gHost->QueryEndSession() ? TRUE : FALSE;
    case WM_ENDSESSION:
        // The session ends once this returns; the window closes unless a
        // command holds it (which the query has said).
        if (wParam != FALSE && gHost != nullptr) {
            gHost->CloseRequested();
        }
        return 0;
    default:
        break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

void RegisterWindowClass() {
    static const bool registered = [] {
        INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
        InitCommonControlsEx(&controls);
        WNDCLASSEXW windowClass{};
        windowClass.cbSize = sizeof windowClass;
        windowClass.lpfnWndProc = WindowProc;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        windowClass.hIcon = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(1));
        if (windowClass.hIcon == nullptr) {
            windowClass.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
        }
        windowClass.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
        windowClass.lpszClassName = WindowClassName;
        return RegisterClassExW(&windowClass) != 0;
    }();
    (void)registered;
}

// A message box or dialog of this thread that waits for the user (there is
// at most one: they are modal) is answered as its close box would answer
// it: Cancel where it has one, else No, else OK.
BOOL CALLBACK AnswerBox(HWND box, LPARAM /*data*/) {
    wchar_t className[16] = {};
    GetClassNameW(box, className, 16);
    if (lstrcmpW(className, L"#32770") != 0 || !IsWindowVisible(box) || !IsWindowEnabled(box)) {
        return TRUE;
    }
    for (const int answer : {IDCANCEL, IDNO, IDOK}) {
        if (const HWND button = GetDlgItem(box, answer)) {
            PostMessageW(box, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED),
                         reinterpret_cast<LPARAM>(button));
            return FALSE;
        }
    }
    return TRUE;
}

void AnswerOpenBox() {
    EnumThreadWindows(GetCurrentThreadId(), AnswerBox, 0);
}

// Handles one message the way the window's loop does (Tab and the arrow
// keys move between the controls).
void Dispatch(HWND window, MSG& message) {
    if (window != nullptr && IsDialogMessageW(window, &message)) {
        return;
    }
    TranslateMessage(&message);
    DispatchMessageW(&message);
}

} // namespace

HFONT WindowFont() {
    return TheWindowFont().Font;
}

std::string WindowFontFace() {
    return Narrow(TheWindowFont().Face);
}

// --- the host ---------------------------------------------------------------------------

TWin32Host::TWin32Host() {
    gHost = this;
}

TWin32Host::~TWin32Host() {
    if (gHost == this) {
        gHost = nullptr;
    }
}

app::TFormHost TWin32Host::Host() {
    return app::FormHostOf(*this);
}

HWND TWin32Host::WindowOf(app::IWidget* widget) {
    auto* control = dynamic_cast<TWin32Control*>(widget);
    return control == nullptr ? nullptr : control->Handle();
}

std::unique_ptr<app::IFormView> TWin32Host::CreateForm(const app::TControlDef& def) {
    RegisterWindowClass();
    constexpr DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    // Bounds.Left/Top place the frame on the screen; the size is the
    // client area's.
    RECT frame{0, 0, def.Bounds.Width, def.Bounds.Height};
    AdjustWindowRectEx(&frame, style, FALSE, WS_EX_CONTROLPARENT);
    FWindow = CreateWindowExW(WS_EX_CONTROLPARENT, WindowClassName, Widen(def.Caption).c_str(),
                              style, def.Bounds.Left, def.Bounds.Top, frame.right - frame.left,
                              frame.bottom - frame.top, nullptr, nullptr, GetModuleHandleW(nullptr),
                              nullptr);
    SendMessageW(FWindow, WM_SETFONT, reinterpret_cast<WPARAM>(WindowFont()), FALSE);
    return std::make_unique<TWin32Form>(FWindow, def);
}

std::unique_ptr<app::IGroupBox> TWin32Host::CreateGroupBox(app::IWidget* parent,
                                                           const app::TControlDef& def) {
    return std::make_unique<TWin32GroupBox>(FWindow, OriginOf(parent), def);
}

std::unique_ptr<app::ILabel> TWin32Host::CreateLabel(app::IWidget* parent,
                                                     const app::TControlDef& def) {
    return std::make_unique<TWin32Label>(FWindow, OriginOf(parent), def);
}

std::unique_ptr<app::IButtonEdit> TWin32Host::CreateButtonEdit(app::IWidget* parent,
                                                               const app::TControlDef& def) {
    return std::make_unique<TWin32ButtonEdit>(FWindow, OriginOf(parent), def);
}

std::unique_ptr<app::IButton> TWin32Host::CreateButton(app::IWidget* parent,
                                                       const app::TControlDef& def) {
    return std::make_unique<TWin32Button>(FWindow, OriginOf(parent), def);
}

std::unique_ptr<app::IMemo> TWin32Host::CreateMemo(app::IWidget* parent,
                                                   const app::TControlDef& def) {
    return std::make_unique<TWin32Memo>(FWindow, OriginOf(parent), def);
}

std::unique_ptr<app::IProgressBar> TWin32Host::CreateProgressBar(app::IWidget* parent,
                                                                 const app::TControlDef& def) {
    return std::make_unique<TWin32ProgressBar>(FWindow, OriginOf(parent), def);
}

std::unique_ptr<app::IFileList> TWin32Host::CreateFileList(app::IWidget* parent,
                                                           const app::TControlDef& def) {
    return std::make_unique<TWin32FileList>(FWindow, OriginOf(parent), def);
}

// --- choosers ------------------------------------------------------------------------------

namespace {

HWND DialogOwner(app::IWidget* owner, HWND window) {
    const HWND control = TWin32Host::WindowOf(owner);
    return control != nullptr ? GetAncestor(control, GA_ROOT) : window;
}

// Opens the browser on the folder already in the box.
int CALLBACK BrowseCallback(HWND browser, UINT message, LPARAM /*param*/, LPARAM data) {
    if (message == BFFM_INITIALIZED && data != 0) {
        SendMessageW(browser, BFFM_SETSELECTIONW, TRUE, data);
    }
    return 0;
}

} // namespace

bool TWin32Host::BrowseForFolder(const app::TFolderBrowseRequest& request, std::string& folder) {
    folder.clear();
    if (OnBrowseForFolder) {
        return OnBrowseForFolder(request, folder);
    }
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const std::wstring title = Widen(request.Title);
    const std::wstring initial = Widen(request.InitialFolder);
    wchar_t displayName[MAX_PATH] = {};
    BROWSEINFOW info{};
    info.hwndOwner = DialogOwner(request.Owner, FWindow);
    info.pszDisplayName = displayName;
    info.lpszTitle = title.c_str();
    info.ulFlags = BIF_RETURNONLYFSDIRS;
    info.lpfn = BrowseCallback;
    info.lParam = initial.empty() ? 0 : reinterpret_cast<LPARAM>(initial.c_str());
    bool chosen = false;
    if (PIDLIST_ABSOLUTE item = SHBrowseForFolderW(&info)) {
        wchar_t path[MAX_PATH] = {};
        if (SHGetPathFromIDListW(item, path)) {
            folder = Narrow(path);
            chosen = !folder.empty();
        }
        CoTaskMemFree(item);
    }
    if (SUCCEEDED(com)) {
        CoUninitialize();
    }
    return chosen;
}

bool TWin32Host::ExecuteOpenDialog(const app::TOpenDialogRequest& request, std::string& fileName) {
    fileName.clear();
    if (OnOpenDialog) {
        return OnOpenDialog(request, fileName);
    }
    // "description\0pattern\0...\0\0"
    std::wstring filter;
    for (const app::TFileFilter& entry : request.Filters) {
        filter += Widen(entry.Description);
        filter += L'\0';
        filter += Widen(entry.Pattern);
        filter += L'\0';
    }
    filter += L'\0';
    std::wstring defaultExt = Widen(request.DefaultExt);
    if (!defaultExt.empty() && defaultExt.front() == L'.') {
        defaultExt.erase(0, 1);
    }
    const std::wstring initialDir = Widen(request.InitialDir);
    const std::wstring title = Widen(request.Title);
    std::vector<wchar_t> buffer(32768, L'\0');
    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = DialogOwner(request.Owner, FWindow);
    dialog.lpstrFilter = request.Filters.empty() ? nullptr : filter.c_str();
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = buffer.data();
    dialog.nMaxFile = static_cast<DWORD>(buffer.size());
    dialog.lpstrInitialDir = initialDir.empty() ? nullptr : initialDir.c_str();
    dialog.lpstrTitle = title.empty() ? nullptr : title.c_str();
    dialog.lpstrDefExt = defaultExt.empty() ? nullptr : defaultExt.c_str();
    dialog.Flags = OFN_EXPLORER | (request.HideReadOnly ? OFN_HIDEREADONLY : 0) |
                   (request.EnableSizing ? OFN_ENABLESIZING : 0) |
                   (request.FileMustExist ? OFN_FILEMUSTEXIST : 0);
    if (!GetOpenFileNameW(&dialog)) {
        return false;
    }
    fileName = Narrow(buffer.data());
    return !fileName.empty();
}

// --- busy pointer, message loop --------------------------------------------------------------

void TWin32Host::SetCursor(app::TCursor value) {
    FCursor = value;
    ::SetCursor(LoadCursorW(nullptr, value == app::TCursor::HourGlass ? IDC_WAIT : IDC_ARROW));
}

bool TWin32Host::IsInputForWindow(const MSG& message) const {
    const bool input = (message.message >= WM_KEYFIRST && message.message <= WM_KEYLAST) ||
                       (message.message >= WM_MOUSEFIRST && message.message <= WM_MOUSELAST);
    return input && FWindow != nullptr && message.hwnd != nullptr &&
           (message.hwnd == FWindow || IsChild(FWindow, message.hwnd));
}

app::IFormView* TWin32Host::Form() const {
    return dynamic_cast<app::IFormView*>(ControlOf(FWindow));
}

void TWin32Host::StopKey(const MSG& message) {
    // Bit 30 of a key message: the key was down before (a repeat).
    const bool repeat = (message.lParam & (LPARAM{1} << 30)) != 0;
    if (message.message == WM_KEYDOWN && message.wParam == VK_ESCAPE && !repeat) {
        EscapePressed();
    } else if (message.message == WM_SYSKEYDOWN && message.wParam == VK_F4 && !repeat) {
        UserClose();
    }
}

bool TWin32Host::PumpOne(bool dropInput) {
    MSG message;
    if (!PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        return false;
    }
    if (message.message == WM_QUIT) {
        // For the loop that runs the window.
        PostQuitMessage(static_cast<int>(message.wParam));
        return false;
    }
    if (!(dropInput && IsInputForWindow(message))) {
        Dispatch(FWindow, message);
    } else {
        StopKey(message);
    }
    return true;
}

void TWin32Host::ProcessMessages() {
    while (PumpOne(FInputBlocked)) {
    }
}

void TWin32Host::DiscardPendingInput() {
    // Peeking also takes what the user did while the thread was busy from
    // the system's input queue.
    while (PumpOne(true)) {
    }
}

void TWin32Host::CloseRequested() {
    if (!OnCloseRequest) {
        ShowWindow(FWindow, SW_HIDE);
        PostQuitMessage(0);
        return;
    }
    if (OnCloseRequest()) {
        KillTimer(FWindow, CloseRetryTimer);
    } else {
        AnswerOpenBox();
        SetTimer(FWindow, CloseRetryTimer, CloseRetryMilliseconds, nullptr);
    }
}

void TWin32Host::UserClose() {
    app::IFormView* form = Form();
    if (form != nullptr && !form->QueryClose()) {
        return;
    }
    CloseRequested();
}

void TWin32Host::EscapePressed() {
    if (app::IFormView* form = Form()) {
        form->PressEscape();
    }
}

bool TWin32Host::QueryEndSession() {
    if (!FInputBlocked) {
        return true;
    }
    CloseRequested();
    return false;
}

void TWin32Host::Sleep(int milliseconds) {
    if (milliseconds > 0) {
        ::Sleep(static_cast<DWORD>(milliseconds));
    }
}

int TWin32Host::Run() {
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (!(FInputBlocked && IsInputForWindow(message))) {
            Dispatch(FWindow, message);
        } else {
            StopKey(message);
        }
    }
    return static_cast<int>(message.wParam);
}

// --- message box ------------------------------------------------------------------------------

int ShowWin32MessageBox(const std::string& text, const std::string& caption, int flags) {
    const HWND active = GetActiveWindow();
    const HWND focus = GetFocus();
    const int code = MessageBoxW(active, Widen(text).c_str(), Widen(caption).c_str(),
                                 static_cast<UINT>(flags) | MB_APPLMODAL);
    if (active != nullptr && IsWindow(active)) {
        SetActiveWindow(active);
    }
    if (focus != nullptr && IsWindow(focus)) {
        SetFocus(focus);
    }
    return code;
}

void InstallWin32MessageBoxPresenter() {
    app::SetMessageBoxPresenter(&ShowWin32MessageBox);
}

} // namespace win32gui
