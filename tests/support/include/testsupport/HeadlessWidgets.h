// A front end without a screen, for the tests that drive the window's logic:
// every widget keeps its state in memory, the choosers answer through
// callbacks, the event loop and the busy pointer only record what was asked
// of them. The classes implement the window's widget interfaces, so they
// stay in the window's namespace.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/Widgets.h"

namespace app {

// State common to the headless widgets.
struct THeadlessState {
    TControlDef Def;
    IWidget* Parent = nullptr;
    bool Visible = true;
    int RepaintCount = 0;
};

template <typename Base> class THeadlessWidget : public Base {
public:
    THeadlessWidget(IWidget* parent, const TControlDef& def) {
        FState.Def = def;
        FState.Parent = parent;
        FState.Visible = def.Visible;
    }
    const std::string& Name() const override { return FState.Def.Name; }
    bool Visible() const override { return FState.Visible; }
    void SetVisible(bool value) override { FState.Visible = value; }
    void Repaint() override { ++FState.RepaintCount; }

    const TControlDef& Def() const { return FState.Def; }
    IWidget* Parent() const { return FState.Parent; }
    int RepaintCount() const { return FState.RepaintCount; }

protected:
    THeadlessState FState;
};

class THeadlessForm : public THeadlessWidget<IFormView> {
public:
    using THeadlessWidget::THeadlessWidget;
    std::string Caption() const override { return Def().Caption; }
    void SetTabOrder(const std::vector<IWidget*>& order) override { FTabOrder = order; }
    const std::vector<IWidget*>& TabOrder() const { return FTabOrder; }
    void Close() override {
        ++FCloseCount;
        SetVisible(false);
    }
    int CloseCount() const { return FCloseCount; }

private:
    std::vector<IWidget*> FTabOrder;
    int FCloseCount = 0;
};

class THeadlessGroupBox : public THeadlessWidget<IGroupBox> {
public:
    using THeadlessWidget::THeadlessWidget;
    const std::string& Caption() const override { return Def().Caption; }
};

class THeadlessLabel : public THeadlessWidget<ILabel> {
public:
    THeadlessLabel(IWidget* parent, const TControlDef& def)
        : THeadlessWidget(parent, def), FCaption(def.Caption) {}
    const std::string& Caption() const override { return FCaption; }
    void SetCaption(const std::string& value) override { FCaption = value; }

private:
    std::string FCaption;
};

class THeadlessButtonEdit : public THeadlessWidget<IButtonEdit> {
public:
    THeadlessButtonEdit(IWidget* parent, const TControlDef& def)
        : THeadlessWidget(parent, def), FText(def.Caption) {}
    std::string Text() const override { return FText; }
    void SetText(const std::string& value) override { FText = value; }
    bool ButtonEnabled() const override { return FButtonEnabled; }
    void SetButtonEnabled(bool value) override { FButtonEnabled = value; }

private:
    std::string FText;
    bool FButtonEnabled = true;
};

class THeadlessButton : public THeadlessWidget<IButton> {
public:
    THeadlessButton(IWidget* parent, const TControlDef& def)
        : THeadlessWidget(parent, def), FCaption(def.Caption) {}
    const std::string& Caption() const override { return FCaption; }
    void SetCaption(const std::string& value) override { FCaption = value; }
    bool Enabled() const override { return FEnabled; }
    void SetEnabled(bool value) override { FEnabled = value; }

private:
    std::string FCaption;
    bool FEnabled = true;
};

class THeadlessMemo : public THeadlessWidget<IMemo> {
public:
    using THeadlessWidget::THeadlessWidget;
    void Clear() override { FLines.clear(); }
    std::vector<std::string> Lines() const override { return FLines; }
    // What the user typed.
    void SetLines(std::vector<std::string> lines) { FLines = std::move(lines); }

protected:
    void AppendLines(const std::vector<std::string>& lines) override {
        FLines.insert(FLines.end(), lines.begin(), lines.end());
    }

private:
    std::vector<std::string> FLines;
};

class THeadlessProgressBar : public THeadlessWidget<IProgressBar> {
public:
    using THeadlessWidget::THeadlessWidget;

protected:
    void PositionChanged() override {}
};

class THeadlessFileList : public THeadlessWidget<IFileList> {
public:
    using THeadlessWidget::THeadlessWidget;
    // How often the entries were shown anew.
    int ItemsShownCount() const { return FItemsShown; }
    bool Enabled() const override { return FEnabled; }
    void SetEnabled(bool value) override { FEnabled = value; }

protected:
    void ItemsChanged() override { ++FItemsShown; }
    void SelectionShown() override {}

private:
    int FItemsShown = 0;
    bool FEnabled = true;
};

// The headless front end: factory, choosers, busy pointer, event loop and
// clock in one. Widgets it made can be found by name.
class THeadlessHost : public IWidgetFactory,
                      public IChoosers,
                      public IScreen,
                      public IEventLoop,
                      public IClock {
public:
    THeadlessHost();
    ~THeadlessHost() override;

    TFormHost Host();

    // --- IWidgetFactory ---
    std::unique_ptr<IFormView> CreateForm(const TControlDef& def) override;
    std::unique_ptr<IGroupBox> CreateGroupBox(IWidget* parent, const TControlDef& def) override;
    std::unique_ptr<ILabel> CreateLabel(IWidget* parent, const TControlDef& def) override;
    std::unique_ptr<IButtonEdit> CreateButtonEdit(IWidget* parent, const TControlDef& def) override;
    std::unique_ptr<IButton> CreateButton(IWidget* parent, const TControlDef& def) override;
    std::unique_ptr<IMemo> CreateMemo(IWidget* parent, const TControlDef& def) override;
    std::unique_ptr<IProgressBar> CreateProgressBar(IWidget* parent,
                                                    const TControlDef& def) override;
    std::unique_ptr<IFileList> CreateFileList(IWidget* parent, const TControlDef& def) override;

    // The widget of that name made by this factory (nullptr when none). Only
    // valid while the window that owns it lives.
    IWidget* Find(const std::string& name) const;
    const TControlDef* DefOf(const std::string& name) const;
    IWidget* ParentOf(const std::string& name) const;
    // Names in the order the widgets were made.
    const std::vector<std::string>& CreationOrder() const { return FOrder; }

    // --- IChoosers: answered by these callbacks; without one, cancel ---
    std::function<bool(const TFolderBrowseRequest&, std::string&)> OnBrowseForFolder;
    std::function<bool(const TOpenDialogRequest&, std::string&)> OnOpenDialog;
    std::vector<TFolderBrowseRequest> FolderRequests;
    std::vector<TOpenDialogRequest> OpenRequests;
    bool BrowseForFolder(const TFolderBrowseRequest& request, std::string& folder) override;
    bool ExecuteOpenDialog(const TOpenDialogRequest& request, std::string& fileName) override;

    // --- IScreen: the shapes set, in order ---
    std::vector<TCursor> CursorHistory;
    TCursor Cursor() const override { return FCursor; }
    void SetCursor(TCursor value) override;

    // --- IEventLoop: counted and recorded; OnProcessMessages/OnSleep may act
    // (a test can click a button "meanwhile"); RealSleep really waits ---
    int ProcessMessagesCount = 0;
    std::vector<int> Sleeps;
    bool RealSleep = false;
    std::function<void()> OnProcessMessages;
    std::function<void(int)> OnSleep;
    void ProcessMessages() override;
    void Sleep(int milliseconds) override;
    // Input blocking is recorded; OnDiscardPendingInput may act (a test can
    // click "meanwhile" there, as queued clicks would arrive).
    bool InputBlocked = false;
    int DiscardCount = 0;
    std::function<void()> OnDiscardPendingInput;
    void SetInputBlocked(bool blocked) override { InputBlocked = blocked; }
    void DiscardPendingInput() override;

    // --- IClock: the system's clock unless FixedNow is set ---
    bool UseFixedNow = false;
    TDateTime FixedNow;
    TDateTime Now() const override;

private:
    struct TEntry {
        IWidget* Widget = nullptr;
        TControlDef Def;
        IWidget* Parent = nullptr;
    };
    template <typename T>
    std::unique_ptr<T> Register(std::unique_ptr<T> widget, IWidget* parent, const TControlDef& def);
    std::map<std::string, TEntry> FWidgets;
    std::vector<std::string> FOrder;
    TCursor FCursor = TCursor::Default;
};

} // namespace app
