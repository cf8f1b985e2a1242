// The fixture the maintenance window's tests share, on the headless widgets
// and on Qt: a fresh folder with the tool's folder in it, the message boxes
// recorded instead of shown, and the window owned by an unnamed application
// component as at run time. Everything is put back after each test.
#pragma once

#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "app/MainForm.h"
#include "app/RKSysUtils.h"
#include "app/Settings.h"

namespace slvtest {

struct TShownBox {
    std::string Text;
    std::string Caption;
    int Flags = 0;
};

// THost gives the window's host with Host(): app::THeadlessHost or
// gui::TQtHost.
template <typename THost> class TWindowTest : public ::testing::Test {
protected:
    // `folderPattern` is mkdtemp's pattern of the test's folder.
    explicit TWindowTest(std::string folderPattern) : FPattern(std::move(folderPattern)) {}

    void SetUp() override {
        std::string folder = FPattern; // a test may set up again
        ASSERT_NE(mkdtemp(folder.data()), nullptr);
        FRoot = folder;
        FTool = FRoot / "tool";
        std::filesystem::create_directories(FTool);
        app::SetToolFolderOverride(FTool.string() + "/");
        FStartFolder = std::filesystem::current_path();
        RecordBoxes();
    }

    void TearDown() override {
        CloseWindow();
        app::SetMessageBoxPresenter(nullptr);
        app::SetToolFolderOverride("");
        std::filesystem::current_path(FStartFolder);
        std::error_code ignored;
        std::filesystem::remove_all(FRoot, ignored);
    }

    void RecordBoxes() {
        app::SetMessageBoxPresenter(
            [this](const std::string& text, const std::string& caption, int flags) {
                Boxes.push_back({text, caption, flags});
                return 1;
            });
    }

    // The window, owned by an unnamed application component; not shown.
    app::TmainForm& OpenWindow() {
        FApplication = new rtl::TComponent(nullptr);
        Form = new app::TmainForm(FApplication, Host.Host());
        return *Form;
    }

    void CloseWindow() {
        delete FApplication; // frees the window it owns
        FApplication = nullptr;
        Form = nullptr;
    }

    THost Host;
    app::TmainForm* Form = nullptr; // owned by the application component
    std::vector<TShownBox> Boxes;
    std::filesystem::path FRoot;
    std::filesystem::path FTool;

private:
    std::string FPattern;
    rtl::TComponent* FApplication = nullptr;
    std::filesystem::path FStartFolder;
};

} // namespace slvtest
