// The Qt front end of the maintenance window: each widget interface of
// app/Widgets.h implemented thinly by a Qt widget, the Qt choosers, the busy
// pointer, the event loop and the Qt message box behind RKSys.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "app/Widgets.h"

class QFileDialog;
class QFont;
class QMessageBox;
class QWidget;

namespace gui {

class TInputBlocker;

// The window's font: Tahoma, 12 pixels high, with Korean fallbacks.
QFont WindowFont();

class TQtHost : public app::IWidgetFactory,
                public app::IChoosers,
                public app::IScreen,
                public app::IEventLoop,
                public app::IClock {
public:
    TQtHost();
    ~TQtHost() override;
    TQtHost(const TQtHost&) = delete;
    TQtHost& operator=(const TQtHost&) = delete;

    app::TFormHost Host();

    // The window's Qt widget (after CreateForm), for the tests and main().
    QWidget* Window() const { return FWindow; }
    // The Qt widget behind an interface this factory made.
    static QWidget* QtWidget(app::IWidget* widget);

    // --- IWidgetFactory ---
    std::unique_ptr<app::IFormView> CreateForm(const app::TControlDef& def) override;
    std::unique_ptr<app::IGroupBox> CreateGroupBox(app::IWidget* parent,
                                                   const app::TControlDef& def) override;
    std::unique_ptr<app::ILabel> CreateLabel(app::IWidget* parent,
                                             const app::TControlDef& def) override;
    std::unique_ptr<app::IButtonEdit> CreateButtonEdit(app::IWidget* parent,
                                                       const app::TControlDef& def) override;
    std::unique_ptr<app::IButton> CreateButton(app::IWidget* parent,
                                               const app::TControlDef& def) override;
    std::unique_ptr<app::IMemo> CreateMemo(app::IWidget* parent,
                                           const app::TControlDef& def) override;
    std::unique_ptr<app::IProgressBar> CreateProgressBar(app::IWidget* parent,
                                                         const app::TControlDef& def) override;
    std::unique_ptr<app::IFileList> CreateFileList(app::IWidget* parent,
                                                   const app::TControlDef& def) override;

    // --- IChoosers: Qt's own file dialog, shown modally through ExecDialog
    // (tests replace it to look at the prepared dialog and answer it) ---
    std::function<int(QFileDialog&)> ExecDialog;
    bool BrowseForFolder(const app::TFolderBrowseRequest& request, std::string& folder) override;
    bool ExecuteOpenDialog(const app::TOpenDialogRequest& request, std::string& fileName) override;

    // --- IScreen: the application's override cursor ---
    app::TCursor Cursor() const override { return FCursor; }
    void SetCursor(app::TCursor value) override;

    // --- IEventLoop ---
    void ProcessMessages() override;
    void Sleep(int milliseconds) override;
    void SetInputBlocked(bool blocked) override;
    void DiscardPendingInput() override;

    // --- IClock ---
    app::TDateTime Now() const override { return app::SystemNow(); }

private:
    QWidget* FWindow = nullptr;
    app::TCursor FCursor = app::TCursor::Default;
    std::unique_ptr<TInputBlocker> FBlocker;
};

// The Qt message box behind RKSys->DlgUtils: an application-modal box with
// the caption, the buttons and the icon that the flags name; returns the
// code of the button pressed (1 OK, 2 Cancel, 6 Yes, 7 No, ...). The window
// that was active and the focus are restored afterwards.
int ShowQtMessageBox(const std::string& text, const std::string& caption, int flags);
void InstallQtMessageBoxPresenter();

} // namespace gui
