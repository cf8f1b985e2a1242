// What the maintenance window needs of each kind of widget, and of the screen
// around it, kept free of any widget toolkit. A front end (the Qt views, or
// the headless set used by tests) implements these interfaces thinly; the
// window's logic (TmainForm) talks only to them.
//
// Events travel from the view to the logic through the OnXxx callbacks: a
// view calls Click()/ClickButton()/SelectionChanged() when the user acts, and
// the window has wired those callbacks to its handlers.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/FileList.h"

namespace app {

// Position and size relative to the parent, in pixels.
struct TBounds {
    int Left = 0;
    int Top = 0;
    int Width = 0;
    int Height = 0;
};

struct TColor {
    uint8_t Red = 0;
    uint8_t Green = 0;
    uint8_t Blue = 0;
    friend bool operator==(const TColor&, const TColor&) = default;
};

inline constexpr TColor clRed{255, 0, 0};
// Background of the text box that has the focus.
inline constexpr TColor FocusedEditColor{245, 249, 176};

// The 16 x 16 pictures of the push buttons.
enum class TButtonPicture { None, Backup, Restore };

// Everything the layout fixes about one control; each front end applies what
// its kind of widget has.
struct TControlDef {
    std::string Name;
    TBounds Bounds;
    std::string Caption; // two lines are separated by "\r\n"
    bool Visible = true;
    bool HasFontColor = false; // else the window's text colour
    TColor FontColor;
    bool WordWrap = false;
    bool Flat = false;
    TButtonPicture Picture = TButtonPicture::None;
    // Label: widen up to this width when the text needs more room in the
    // front end's font (0: keep the width).
    int MaxAutoWidth = 0;
    int ItemHeight = 0; // file list
    int Min = 0;        // progress bar
    int Max = 0;        // progress bar
};

// --- widget interfaces ----------------------------------------------------

class IWidget {
public:
    IWidget() = default;
    virtual ~IWidget() = default;
    IWidget(const IWidget&) = delete;
    IWidget& operator=(const IWidget&) = delete;

    virtual const std::string& Name() const = 0;
    virtual bool Visible() const = 0;
    virtual void SetVisible(bool value) = 0;
    // Paints the widget now, without handling any other pending event.
    virtual void Repaint() = 0;

    void Show() { SetVisible(true); }
    void Hide() { SetVisible(false); }
};

// Text box with one ellipsis button.
class IButtonEdit : public IWidget {
public:
    virtual std::string Text() const = 0;
    virtual void SetText(const std::string& value) = 0;

    // The ellipsis button; a disabled one takes no clicks.
    virtual bool ButtonEnabled() const = 0;
    virtual void SetButtonEnabled(bool value) = 0;

    // Raised with the button's index (always 0) when the ellipsis is clicked.
    std::function<void(int buttonIndex)> OnButtonClick;
    void ClickButton(int buttonIndex = 0) {
        if (ButtonEnabled() && OnButtonClick) {
            OnButtonClick(buttonIndex);
        }
    }
};

class IButton : public IWidget {
public:
    virtual const std::string& Caption() const = 0;
    virtual void SetCaption(const std::string& value) = 0;
    virtual bool Enabled() const = 0;
    virtual void SetEnabled(bool value) = 0;

    std::function<void()> OnClick;
    // A disabled button takes no clicks.
    void Click() {
        if (Enabled() && OnClick) {
            OnClick();
        }
    }
};

class ILabel : public IWidget {
public:
    virtual const std::string& Caption() const = 0;
    virtual void SetCaption(const std::string& value) = 0;
};

class IGroupBox : public IWidget {
public:
    virtual const std::string& Caption() const = 0;
};

// Multi-line text box. The user may type into it; the tool only clears it and
// appends lines.
class IMemo : public IWidget {
public:
    virtual void Clear() = 0;
    // The lines as they stand now (typing included).
    virtual std::vector<std::string> Lines() const = 0;

    // Adds the text at the end as a new line; a text holding line breaks
    // ("\n" or "\r\n") adds one line for each part, so a text ending in a
    // line break leaves an empty line after it.
    void Append(const std::string& text) { AppendLines(SplitLines(text)); }
    // Adds each text as Append would, all in one go: a command's output
    // arrives in batches of thousands of lines.
    void AppendBatch(const std::vector<std::string>& texts);

    static std::vector<std::string> SplitLines(const std::string& text);

protected:
    virtual void AppendLines(const std::vector<std::string>& lines) = 0;
};

// Progress bar with the range 0 to 2500 and no text. Positions outside the
// range are clamped, so a position past 2500 shows a full bar.
class IProgressBar : public IWidget {
public:
    static constexpr int Min = 0;
    static constexpr int Max = 2500;

    int Position() const { return FPosition; }
    void SetPosition(int value) {
        FPosition = value < Min ? Min : (value > Max ? Max : value);
        PositionChanged();
    }
    // position := position + delta, clamped.
    void StepBy(int delta) { SetPosition(FPosition + delta); }

protected:
    virtual void PositionChanged() = 0;

private:
    int FPosition = Min;
};

// The backup file list: TFileListLogic decides what is listed and which entry
// is selected; the view shows it. One entry at a time can be selected and
// every change of the selection, by mouse or keyboard, raises OnClick.
class IFileList : public IWidget {
public:
    TFileListLogic& Logic() { return FLogic; }
    const TFileListLogic& Logic() const { return FLogic; }

    // Makes the folder the list's folder and reads it; a folder that does not
    // exist raises rtl::Exception and leaves the list as it was.
    void ApplyFilePath(const std::string& folder) {
        FLogic.ApplyFilePath(folder);
        ItemsChanged();
    }
    // Reads the current folder again.
    void Update() {
        FLogic.Update();
        ItemsChanged();
    }
    const std::vector<std::string>& Items() const { return FLogic.Items(); }
    int Count() const { return static_cast<int>(FLogic.Items().size()); }
    int ItemIndex() const { return FLogic.ItemIndex(); }
    bool Selected(int index) const { return index >= 0 && index == FLogic.ItemIndex(); }
    // Selects from the program; raises no event.
    void SetItemIndex(int index) {
        FLogic.SetItemIndex(index);
        SelectionShown();
    }

    // A disabled list takes no selection from the user.
    virtual bool Enabled() const = 0;
    virtual void SetEnabled(bool value) = 0;

    std::function<void()> OnClick;
    // Called by the view when the user changed the selection (-1: none).
    void UserSelected(int index) {
        if (!Enabled()) {
            return;
        }
        FLogic.SetItemIndex(index);
        if (OnClick) {
            OnClick();
        }
    }

protected:
    // The entries (or the selection) changed: show them.
    virtual void ItemsChanged() = 0;
    virtual void SelectionShown() = 0;

private:
    TFileListLogic FLogic;
};

// The window itself.
class IFormView : public IWidget {
public:
    virtual std::string Caption() const = 0;
    // Sets the focus order of the focusable controls, first to last.
    virtual void SetTabOrder(const std::vector<IWidget*>& order) = 0;
    // Closes the window as the user's close would; once the last window is
    // closed the front end's event loop ends. Asks nobody.
    virtual void Close() = 0;

    // The user's requests to stop, which a view hands to the logic even
    // while the window takes no other input (a command runs), and then to
    // no control:
    // - closing the window (its close box, Alt+F4, the system menu): the
    //   view asks OnCloseQuery and closes only on true;
    // - Esc pressed anywhere in the window: OnEscape.
    std::function<bool()> OnCloseQuery;
    std::function<void()> OnEscape;
    // Called by the view: true when the window may close now.
    bool QueryClose() { return !OnCloseQuery || OnCloseQuery(); }
    void PressEscape() {
        if (OnEscape) {
            OnEscape();
        }
    }
};

// --- the screen around the widgets ----------------------------------------

// Creates the window and its controls. Parents are widgets this factory made
// (nullptr: the window).
class IWidgetFactory {
public:
    virtual ~IWidgetFactory() = default;
    // The window: Bounds.Left/Top are its first screen position,
    // Width/Height its client size; it cannot be resized or maximised.
    virtual std::unique_ptr<IFormView> CreateForm(const TControlDef& def) = 0;
    virtual std::unique_ptr<IGroupBox> CreateGroupBox(IWidget* parent, const TControlDef& def) = 0;
    virtual std::unique_ptr<ILabel> CreateLabel(IWidget* parent, const TControlDef& def) = 0;
    virtual std::unique_ptr<IButtonEdit> CreateButtonEdit(IWidget* parent,
                                                          const TControlDef& def) = 0;
    virtual std::unique_ptr<IButton> CreateButton(IWidget* parent, const TControlDef& def) = 0;
    virtual std::unique_ptr<IMemo> CreateMemo(IWidget* parent, const TControlDef& def) = 0;
    virtual std::unique_ptr<IProgressBar> CreateProgressBar(IWidget* parent,
                                                            const TControlDef& def) = 0;
    virtual std::unique_ptr<IFileList> CreateFileList(IWidget* parent, const TControlDef& def) = 0;
};

// The mouse pointer's shape for the whole application.
enum class TCursor { Default, HourGlass };

class IScreen {
public:
    virtual ~IScreen() = default;
    virtual TCursor Cursor() const = 0;
    virtual void SetCursor(TCursor value) = 0;
};

// Handling pending window events, and waiting.
class IEventLoop {
public:
    virtual ~IEventLoop() = default;
    // Handles the events that are waiting now (input included), then returns.
    virtual void ProcessMessages() = 0;
    // Blocks the window's thread for the given milliseconds.
    virtual void Sleep(int milliseconds) = 0;
    // While blocked, the user's input to the window (clicks, keys, the
    // wheel) is dropped as it arrives, never kept for later; message boxes
    // and dialogs shown meanwhile still take theirs. Repaints go on.
    virtual void SetInputBlocked(bool blocked) = 0;
    // Handles what is waiting now, input dropped: clicks made while the
    // window was busy go nowhere. Called before the controls are enabled
    // again.
    virtual void DiscardPendingInput() = 0;
};

// Local date and time.
struct TDateTime {
    int Year = 0;
    int Month = 0;
    int Day = 0;
    int Hour = 0;
    int Minute = 0;
    int Second = 0;
    int Millisecond = 0;
};

class IClock {
public:
    virtual ~IClock() = default;
    virtual TDateTime Now() const = 0;
};

// The clock of the system, local time.
TDateTime SystemNow();

// A modal folder chooser: only folders can be confirmed.
struct TFolderBrowseRequest {
    IWidget* Owner = nullptr;
    std::string Title;
    std::string InitialFolder; // empty: no preselection
};

// One entry of a file dialog's filter.
struct TFileFilter {
    std::string Description; // shown to the user
    std::string Pattern;     // e.g. "*.fdb"
};

// A modal file-open dialog.
struct TOpenDialogRequest {
    IWidget* Owner = nullptr;
    std::string Title;      // empty: the toolkit's own
    std::string InitialDir; // empty: the toolkit's choice
    std::vector<TFileFilter> Filters;
    std::string DefaultExt; // with its dot, e.g. ".fdb"
    bool FileMustExist = false;
    bool HideReadOnly = true;
    bool EnableSizing = true;
};

class IChoosers {
public:
    virtual ~IChoosers() = default;
    // true and the chosen folder's path (as the chooser gives it) when the
    // user confirmed one.
    virtual bool BrowseForFolder(const TFolderBrowseRequest& request, std::string& folder) = 0;
    // true and the chosen file's full path when the user confirmed one.
    virtual bool ExecuteOpenDialog(const TOpenDialogRequest& request, std::string& fileName) = 0;
};

// All a window needs from its front end.
struct TFormHost {
    IWidgetFactory* Widgets = nullptr;
    IChoosers* Choosers = nullptr;
    IScreen* Screen = nullptr;
    IEventLoop* Events = nullptr;
    IClock* Clock = nullptr;
};

// The host of a front end that is factory, choosers, screen, event loop and
// clock in one.
template <typename TFrontEnd> TFormHost FormHostOf(TFrontEnd& frontEnd) {
    TFormHost host;
    host.Widgets = &frontEnd;
    host.Choosers = &frontEnd;
    host.Screen = &frontEnd;
    host.Events = &frontEnd;
    host.Clock = &frontEnd;
    return host;
}

} // namespace app
