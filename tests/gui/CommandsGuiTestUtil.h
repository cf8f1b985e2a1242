// The commands' tests on the real Qt window (offscreen) against the real
// server: the window on a Qt host the test can act through, clicks on the
// push buttons, the choice in the list widget.
#pragma once

#include "testsupport/CommandTest.h"

#include "gui/QtViews.h"

#include <QApplication>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

namespace cmdtest {

// The Qt front end, with a way to act while a command runs: the clock is
// read when a backup makes its file name, the pointer is reset when a
// restore tidies up.
class TActingHost : public gui::TQtHost {
public:
    std::function<void()> OnNow;
    std::function<void(app::TCursor)> OnSetCursor;
    app::TDateTime Now() const override {
        if (OnNow) {
            OnNow();
        }
        return app::SystemNow();
    }
    void SetCursor(app::TCursor value) override {
        gui::TQtHost::SetCursor(value);
        if (OnSetCursor) {
            OnSetCursor(value);
        }
    }
};

class CommandsGuiTest : public CommandsTest {
protected:
    app::TmainForm& Open() {
        WriteIni("127.0.0.1", Database, BackupFolder + "/");
        const app::TFormHost host = Qt.Host();
        app::TmainForm& form = CreateForm(&host);
        form.Show();
        QApplication::processEvents();
        return form;
    }

    template <typename T> static T* Widget(app::IWidget* widget) {
        T* w = qobject_cast<T*>(gui::TQtHost::QtWidget(widget));
        EXPECT_NE(w, nullptr);
        return w;
    }

    void Click(app::IWidget* button) {
        QTest::mouseClick(Widget<QPushButton>(button), Qt::LeftButton);
    }

    void ChooseInList(app::TmainForm& form, const std::string& name) {
        auto* list = Widget<QListWidget>(form.fbBackup.get());
        const auto found = list->findItems(QString::fromStdString(name), Qt::MatchExactly);
        ASSERT_EQ(found.size(), 1);
        list->setCurrentItem(found.first());
        ASSERT_EQ(form.lbBackupFN->Caption(), name);
    }

    TActingHost Qt;
};

} // namespace cmdtest
