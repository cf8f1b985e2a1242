// The real maintenance window on Qt widgets: layout, captions, states, focus,
// the choosers and message boxes answered by the test, the file list.
#include "app/MainForm.h"
#include "app/RKSysUtils.h"
#include "app/Settings.h"
#include "gui/QtViews.h"
#include "testsupport/Files.h"
#include "testsupport/WindowTest.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QFontDatabase>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>

namespace fs = std::filesystem;

namespace {

using slvtest::WriteFile;

class MainWindowTest : public slvtest::TWindowTest<gui::TQtHost> {
protected:
    MainWindowTest() : TWindowTest("/tmp/slv-window-XXXXXX") {}

    app::TmainForm& Open(bool show = true) {
        OpenWindow();
        if (show) {
            Form->Show();
        }
        return *Form;
    }

    void Close() { CloseWindow(); }

    QWidget* Window() const { return Host.Window(); }
    template <typename T = QWidget> T* Child(const char* name) const {
        T* child = Window()->findChild<T*>(QString::fromUtf8(name));
        EXPECT_NE(child, nullptr) << name;
        return child;
    }
};

// --- layout ----------------------------------------------------------------

enum class TKind { GroupBox, Label, ButtonEdit, Button, Memo, ProgressBar, FileList };

struct TControlRow {
    const char* Name;
    const char* Parent;
    TKind Kind;
    int Left, Top, Width, Height;
    const char* Caption; // as shown: "\n" between two lines
};

const TControlRow Controls[] = {
    {"gbMCDGSUP", "mainForm", TKind::GroupBox, 9, 4, 555, 170, "처리방법"},
    {"Label133", "gbMCDGSUP", TKind::Label, 17, 21, 146, 17, "DB파일"},
    {"Label1", "gbMCDGSUP", TKind::Label, 17, 46, 146, 17, "백업위치 "},
    {"txtDBFN", "gbMCDGSUP", TKind::ButtonEdit, 70, 19, 377, 21, ""},
    {"txtBackupPath", "gbMCDGSUP", TKind::ButtonEdit, 70, 44, 377, 21, nullptr},
    {"btnBackupDB", "gbMCDGSUP", TKind::Button, 464, 18, 74, 68, "DB백업"},
    {"Memo1", "gbMCDGSUP", TKind::Memo, 18, 71, 428, 65, ""},
    {"PBar", "gbMCDGSUP", TKind::ProgressBar, 17, 142, 430, 17, nullptr},
    {"cxGroupBox1", "mainForm", TKind::GroupBox, 9, 180, 555, 239, "백업위치의 파일들"},
    {"Label4", "cxGroupBox1", TKind::Label, 17, 21, 332, 28,
     "[DB복원]을 클릭하면 선택한 백업파일로 \n기존 DB파일 위치에 복원파일을 만듭니다. (DB파일 "
     "이름 + '복원'.fdb)"},
    {"Label5", "cxGroupBox1", TKind::Label, 17, 54, 432, 36,
     "[서버로만들기]를 클릭하면 선택한 파일을 복원하여 \nDB 파일로 사용하고 이 PC를 서버로 "
     "만듭니다"},
    {"lbBackupFN", "cxGroupBox1", TKind::Label, 18, 85, 432, 17, ""},
    {"fbBackup", "cxGroupBox1", TKind::FileList, 18, 104, 429, 127, nullptr},
    {"btnRestoreDB", "cxGroupBox1", TKind::Button, 464, 18, 74, 68, "DB복원"},
    {"btnChangeServer", "cxGroupBox1", TKind::Button, 464, 86, 74, 68, "서버로\n만들기"},
    {"Memo2", "cxGroupBox1", TKind::Memo, 18, 105, 428, 101, ""},
    {"PBar2", "cxGroupBox1", TKind::ProgressBar, 17, 210, 430, 17, nullptr},
};

QString ShownText(QWidget* w, TKind kind) {
    switch (kind) {
    case TKind::GroupBox:
        return qobject_cast<QGroupBox*>(w)->title();
    case TKind::Label:
        return qobject_cast<QLabel*>(w)->text();
    case TKind::ButtonEdit:
        return qobject_cast<QLineEdit*>(w)->text();
    case TKind::Button:
        return qobject_cast<QPushButton*>(w)->text();
    case TKind::Memo:
        return qobject_cast<QPlainTextEdit*>(w)->toPlainText();
    case TKind::ProgressBar:
    case TKind::FileList:
        break;
    }
    return {};
}

bool IsKind(QWidget* w, TKind kind) {
    switch (kind) {
    case TKind::GroupBox:
        return qobject_cast<QGroupBox*>(w) != nullptr;
    case TKind::Label:
        return qobject_cast<QLabel*>(w) != nullptr;
    case TKind::ButtonEdit:
        return qobject_cast<QLineEdit*>(w) != nullptr && w->findChild<QToolButton*>() != nullptr;
    case TKind::Button:
        return qobject_cast<QPushButton*>(w) != nullptr;
    case TKind::Memo:
        return qobject_cast<QPlainTextEdit*>(w) != nullptr;
    case TKind::ProgressBar:
        return qobject_cast<QProgressBar*>(w) != nullptr;
    case TKind::FileList:
        return qobject_cast<QListWidget*>(w) != nullptr;
    }
    return false;
}

TEST_F(MainWindowTest, ControlsSitWhereTheLayoutPutsThem) {
    Open();
    for (const TControlRow& row : Controls) {
        SCOPED_TRACE(row.Name);
        QWidget* w = Child(row.Name);
        ASSERT_NE(w, nullptr);
        EXPECT_TRUE(IsKind(w, row.Kind));
        ASSERT_NE(w->parentWidget(), nullptr);
        EXPECT_EQ(w->parentWidget()->objectName(), QString::fromUtf8(row.Parent));
        EXPECT_EQ(w->x(), row.Left);
        EXPECT_EQ(w->y(), row.Top);
        EXPECT_EQ(w->height(), row.Height);
        if (std::string(row.Name) == "Label4") {
            // Widens to fit its text, up to the width of Label5.
            EXPECT_GE(w->width(), row.Width);
            EXPECT_LE(w->width(), 432);
            EXPECT_GE(w->width(), qobject_cast<QLabel*>(w)->sizeHint().width() > 432
                                      ? 432
                                      : qobject_cast<QLabel*>(w)->sizeHint().width());
        } else {
            EXPECT_EQ(w->width(), row.Width);
        }
        if (row.Caption != nullptr) {
            EXPECT_EQ(ShownText(w, row.Kind), QString::fromUtf8(row.Caption));
        }
    }
    // The interface keeps the caption with its "\r\n".
    EXPECT_EQ(Form->btnChangeServer->Caption(), "서버로\r\n만들기");
    EXPECT_EQ(Form->Label5->Caption().find("\r\n"), Form->Label5->Caption().find('\r'));
}

TEST_F(MainWindowTest, RedTextsAndPictures) {
    Open();
    const QColor red(255, 0, 0);
    EXPECT_EQ(Child("Label5")->palette().color(QPalette::WindowText), red);
    EXPECT_EQ(Child("btnChangeServer")->palette().color(QPalette::ButtonText), red);
    EXPECT_NE(Child("Label4")->palette().color(QPalette::WindowText), red);
    EXPECT_NE(Child("btnRestoreDB")->palette().color(QPalette::ButtonText), red);
    EXPECT_FALSE(Child<QPushButton>("btnBackupDB")->icon().isNull());
    EXPECT_EQ(Child<QPushButton>("btnBackupDB")->iconSize(), QSize(16, 16));
    EXPECT_FALSE(Child<QPushButton>("btnRestoreDB")->icon().isNull());
    EXPECT_TRUE(Child<QPushButton>("btnChangeServer")->icon().isNull());
}

TEST_F(MainWindowTest, WindowIsFixedAndTitled) {
    Open();
    QWidget* w = Window();
    EXPECT_EQ(w->objectName(), "mainForm");
    EXPECT_EQ(w->windowTitle(), "Solvane Database Maintenance");
    EXPECT_TRUE(w->isWindow());
    EXPECT_EQ(w->size(), QSize(572, 427));
    EXPECT_EQ(w->minimumSize(), QSize(572, 427));
    EXPECT_EQ(w->maximumSize(), QSize(572, 427));
    const Qt::WindowFlags flags = w->windowFlags();
    EXPECT_FALSE(flags.testFlag(Qt::WindowMaximizeButtonHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowSystemMenuHint));
    EXPECT_EQ(w->font().pixelSize(), 12);
    // Tahoma first, then the Korean fallbacks, as far as they are installed.
    QStringList expected;
    for (const char* family : {"Tahoma", "NanumGothic", "NanumBarunGothic"}) {
        if (QFontDatabase::hasFamily(family)) {
            expected << family;
        }
    }
    ASSERT_FALSE(expected.isEmpty()) << "no Tahoma and no Nanum font installed";
    EXPECT_EQ(w->font().families(), expected);
}

TEST_F(MainWindowTest, FirstPositionOnTheScreen) {
    Open(false);
    EXPECT_EQ(Window()->pos(), QPoint(524, 166));
    EXPECT_FALSE(Window()->isVisible());
}

TEST_F(MainWindowTest, InitialVisibilityAndStates) {
    Open();
    EXPECT_TRUE(Window()->isVisible());
    for (const char* hidden : {"PBar", "PBar2", "Memo2"}) {
        EXPECT_TRUE(Child(hidden)->isHidden()) << hidden;
    }
    for (const char* shown :
         {"gbMCDGSUP", "cxGroupBox1", "txtDBFN", "txtBackupPath", "Memo1", "fbBackup",
          "btnBackupDB", "btnRestoreDB", "btnChangeServer", "Label4", "Label5", "lbBackupFN"}) {
        EXPECT_TRUE(Child(shown)->isVisible()) << shown;
    }
    EXPECT_EQ(Child<QLabel>("lbBackupFN")->text(), "");
    EXPECT_EQ(Child<QLineEdit>("txtBackupPath")->text(),
              QString::fromStdString(FTool.string() + "/"));
    for (const char* bar : {"PBar", "PBar2"}) {
        auto* p = Child<QProgressBar>(bar);
        EXPECT_FALSE(p->isTextVisible());
        EXPECT_EQ(p->minimum(), 0);
        EXPECT_EQ(p->maximum(), 2500);
    }
    EXPECT_EQ(Child<QListWidget>("fbBackup")->selectionMode(), QAbstractItemView::SingleSelection);
}

TEST_F(MainWindowTest, FailedStartShowsTheDesignTextOfTheLabel) {
    WriteFile(FTool / "Environment.ini", "[SYSSETUP]\nDBBackPOS=/no/such/folder/\n");
    Open();
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Child<QLabel>("lbBackupFN")->text(), "복원할 파일이름");
    EXPECT_EQ(Child<QLineEdit>("txtBackupPath")->text(), "");
    EXPECT_TRUE(Window()->isVisible());
}

// --- focus --------------------------------------------------------------------

TEST_F(MainWindowTest, TabOrder) {
    Open();
    QApplication::setActiveWindow(Window());
    Child("txtDBFN")->setFocus();
    ASSERT_EQ(QApplication::focusWidget(), Child("txtDBFN"));
    QStringList order{QApplication::focusWidget()->objectName()};
    for (int i = 0; i < 7; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        order << QApplication::focusWidget()->objectName();
    }
    // Memo2 is hidden at rest, so the chain goes round.
    EXPECT_EQ(order, (QStringList{"txtDBFN", "txtBackupPath", "btnBackupDB", "Memo1", "fbBackup",
                                  "btnRestoreDB", "btnChangeServer", "txtDBFN"}));

    // While shown, Memo2 follows btnChangeServer.
    Form->Memo2->Show();
    Child("btnChangeServer")->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget()->objectName(), "Memo2");
}

TEST_F(MainWindowTest, FocusedTextBoxTurnsLightYellow) {
    Open();
    QApplication::setActiveWindow(Window());
    const QColor yellow(245, 249, 176);
    auto* db = Child<QLineEdit>("txtDBFN");
    auto* folder = Child<QLineEdit>("txtBackupPath");
    const QColor normal = folder->palette().color(QPalette::Base);
    ASSERT_NE(normal, yellow);
    db->setFocus();
    EXPECT_EQ(db->palette().color(QPalette::Base), yellow);
    EXPECT_EQ(folder->palette().color(QPalette::Base), normal);
    folder->setFocus();
    EXPECT_EQ(folder->palette().color(QPalette::Base), yellow);
    EXPECT_EQ(db->palette().color(QPalette::Base), normal);
}

// --- widgets through their interfaces ---------------------------------------------

TEST_F(MainWindowTest, MemoAndProgressBarThroughTheirInterfaces) {
    Open();
    auto* memo = Child<QPlainTextEdit>("Memo1");
    Form->Memo1->Append("");
    Form->Memo1->Append("첫 줄");
    Form->Memo1->Append("a\r\nb\n");
    Form->Memo1->Repaint();
    EXPECT_EQ(Form->Memo1->Lines(), (std::vector<std::string>{"", "첫 줄", "a", "b", ""}));
    EXPECT_EQ(memo->toPlainText(), QString::fromUtf8("\n첫 줄\na\nb\n"));
    Form->Memo1->Clear();
    EXPECT_TRUE(Form->Memo1->Lines().empty());
    // What the user typed is read back.
    memo->setPlainText("typed");
    EXPECT_EQ(Form->Memo1->Lines(), (std::vector<std::string>{"typed"}));

    auto* bar = Child<QProgressBar>("PBar");
    Form->PBar->Show();
    Form->PBar->SetPosition(2600);
    Form->PBar->Repaint();
    EXPECT_EQ(bar->value(), 2500);
    EXPECT_EQ(Form->PBar->Position(), 2500);
    Form->PBar->SetPosition(7);
    EXPECT_EQ(bar->value(), 7);
    Form->PBar->Hide();
    EXPECT_TRUE(bar->isHidden());
    EXPECT_FALSE(Form->PBar->Visible());
}

TEST_F(MainWindowTest, ButtonsRaiseTheirEventsOnlyWhenEnabled) {
    Open();
    int clicks = 0;
    Form->btnRestoreDB->OnClick = [&] { ++clicks; };
    auto* button = Child<QPushButton>("btnRestoreDB");
    QTest::mouseClick(button, Qt::LeftButton);
    Form->btnRestoreDB->SetEnabled(false);
    EXPECT_FALSE(button->isEnabled());
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(clicks, 1);
}

TEST_F(MainWindowTest, BusyPointer) {
    Open();
    Form->Screen().SetCursor(app::TCursor::HourGlass);
    ASSERT_NE(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    Form->Screen().SetCursor(app::TCursor::Default);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

// --- the file list ------------------------------------------------------------------

TEST_F(MainWindowTest, SelectingInTheListTakesTheFileName) {
    WriteFile(FTool / "b.FBK", "");
    WriteFile(FTool / "a.fdb", "");
    WriteFile(FTool / "C.fbk", "");
    Open();
    auto* list = Child<QListWidget>("fbBackup");
    ASSERT_EQ(list->count(), 3);
    EXPECT_EQ(list->item(0)->text(), "a.fdb");
    EXPECT_EQ(list->item(1)->text(), "b.FBK");
    EXPECT_EQ(list->item(2)->text(), "C.fbk");
    EXPECT_EQ(list->item(0)->sizeHint().height(), 14);
    EXPECT_EQ(list->visualItemRect(list->item(1)).height(), 14);

    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualItemRect(list->item(1)).center());
    EXPECT_EQ(Child<QLabel>("lbBackupFN")->text(), "b.FBK");
    EXPECT_EQ(Form->lbBackupFN->Caption(), "b.FBK");

    list->setFocus();
    QTest::keyClick(list, Qt::Key_Down);
    EXPECT_EQ(Form->lbBackupFN->Caption(), "C.fbk");
    QTest::keyClick(list, Qt::Key_Home);
    EXPECT_EQ(Form->lbBackupFN->Caption(), "a.fdb");
    EXPECT_TRUE(Boxes.empty());
}

TEST_F(MainWindowTest, RereadingTheListRaisesNoClick) {
    WriteFile(FTool / "a.fbk", "");
    Open();
    auto* list = Child<QListWidget>("fbBackup");
    list->setCurrentRow(0);
    ASSERT_EQ(Form->lbBackupFN->Caption(), "a.fbk");
    Form->lbBackupFN->SetCaption("kept");
    WriteFile(FTool / "b.fbk", "");
    Form->fbBackup->Update();
    EXPECT_EQ(list->count(), 2);
    EXPECT_EQ(Form->lbBackupFN->Caption(), "kept");
    EXPECT_TRUE(list->selectedItems().isEmpty());
}

// --- choosers answered through the seam ------------------------------------------------

TEST_F(MainWindowTest, FolderChooserIsPreparedAndAnswered) {
    const fs::path backup = FRoot / "backup";
    fs::create_directories(backup);
    WriteFile(backup / "n.fbk", "");
    Open();
    Form->lbBackupFN->SetCaption("old.fbk");
    int shown = 0;
    Host.ExecDialog = [&](QFileDialog& dialog) {
        ++shown;
        EXPECT_EQ(dialog.windowTitle(), "폴더를 선택해 주세요");
        EXPECT_EQ(dialog.fileMode(), QFileDialog::Directory);
        EXPECT_TRUE(dialog.testOption(QFileDialog::ShowDirsOnly));
        EXPECT_EQ(dialog.windowModality(), Qt::ApplicationModal);
        EXPECT_EQ(dialog.directory().absolutePath(), QString::fromStdString(FTool.string()));
        EXPECT_EQ(dialog.parentWidget(), Window());
        // The user goes to the folder and confirms it.
        dialog.setDirectory(QString::fromStdString(backup.string()));
        return int(QDialog::Accepted);
    };
    QTest::mouseClick(Child("txtBackupPath")->findChild<QToolButton*>(), Qt::LeftButton);
    EXPECT_EQ(shown, 1);
    EXPECT_EQ(Form->txtBackupPath->Text(), backup.string() + "/");
    EXPECT_EQ(Child<QListWidget>("fbBackup")->count(), 1);
    EXPECT_EQ(Form->lbBackupFN->Caption(), "old.fbk");
    EXPECT_FALSE(fs::exists(FTool / "Environment.ini"));
}

TEST_F(MainWindowTest, FolderChooserCancelled) {
    Open();
    Host.ExecDialog = [](QFileDialog&) { return int(QDialog::Rejected); };
    const std::string before = Form->txtBackupPath->Text();
    QTest::mouseClick(Child("txtBackupPath")->findChild<QToolButton*>(), Qt::LeftButton);
    EXPECT_EQ(Form->txtBackupPath->Text(), before);
}

TEST_F(MainWindowTest, FileDialogIsPreparedAndTakesATypedName) {
    const fs::path db = FRoot / "db";
    fs::create_directories(db);
    Open();
    Form->txtDBFN->SetText(db.string() + "/SOLVANE.FDB");
    int shown = 0;
    Host.ExecDialog = [&](QFileDialog& dialog) {
        ++shown;
        EXPECT_EQ(dialog.acceptMode(), QFileDialog::AcceptOpen);
        EXPECT_EQ(dialog.fileMode(), QFileDialog::AnyFile);
        EXPECT_EQ(dialog.nameFilters(), QStringList{"DB파일(*.fdb)"});
        EXPECT_EQ(dialog.defaultSuffix(), "fdb");
        EXPECT_EQ(dialog.directory().absolutePath(), QString::fromStdString(db.string()));
        auto* types = dialog.findChild<QComboBox*>("fileTypeCombo");
        if (types != nullptr) {
            EXPECT_EQ(types->currentText(), "DB파일(*.fdb)");
        }
        dialog.selectFile(QString::fromStdString((db / "newdb").string()));
        return int(QDialog::Accepted);
    };
    QTest::mouseClick(Child("txtDBFN")->findChild<QToolButton*>(), Qt::LeftButton);
    EXPECT_EQ(shown, 1);
    EXPECT_EQ(Form->txtDBFN->Text(), (db / "newdb.fdb").string());
    EXPECT_TRUE(Boxes.empty());
}

// --- message boxes answered by the test ------------------------------------------------

// Answers the next modal message box with the given button and records it.
struct TBoxAnswer {
    explicit TBoxAnswer(QMessageBox::StandardButton button) : Button(button) {}
    QMessageBox::StandardButton Button;
    QString Title;
    QString Text;
    QMessageBox::Icon Icon = QMessageBox::NoIcon;
    QStringList ButtonTexts;
    int Seen = 0;

    void Arm() {
        auto* timer = new QTimer;
        timer->setInterval(5);
        QObject::connect(timer, &QTimer::timeout, timer, [this, timer] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr) {
                return;
            }
            timer->stop();
            timer->deleteLater();
            ++Seen;
            Title = box->windowTitle();
            Text = box->text();
            Icon = box->icon();
            for (QAbstractButton* b : box->buttons()) {
                ButtonTexts << b->text().remove(QLatin1Char('&'));
            }
            box->button(Button)->click();
        });
        timer->start();
    }
};

TEST_F(MainWindowTest, QtMessageBoxAnswersWithTheButtonCode) {
    Open();
    TBoxAnswer no{QMessageBox::No};
    no.Arm();
    EXPECT_EQ(gui::ShowQtMessageBox("실행 중인 솔바네를 종료합니다", "종료확인", 36), 7);
    EXPECT_EQ(no.Seen, 1);
    EXPECT_EQ(no.Title, "종료확인");
    EXPECT_EQ(no.Text, "실행 중인 솔바네를 종료합니다");
    EXPECT_EQ(no.Icon, QMessageBox::Question);
    EXPECT_EQ(no.ButtonTexts.size(), 2);

    TBoxAnswer yes{QMessageBox::Yes};
    yes.Arm();
    EXPECT_EQ(gui::ShowQtMessageBox("q", "c", 36), 6);

    TBoxAnswer ok{QMessageBox::Ok};
    ok.Arm();
    EXPECT_EQ(gui::ShowQtMessageBox("백업할 폴더를 먼저 정하세요", "에러", 16), 1);
    EXPECT_EQ(ok.Icon, QMessageBox::Critical);
    ASSERT_EQ(ok.ButtonTexts.size(), 1);
    EXPECT_EQ(ok.ButtonTexts.first(), "확인") << "Qt's Korean texts are loaded";
}

TEST_F(MainWindowTest, StartUpErrorThroughTheRealMessageBox) {
    WriteFile(FTool / "Environment.ini", "[SYSSETUP]\nDBBackPOS=/no/such/folder/\n");
    gui::InstallQtMessageBoxPresenter();
    TBoxAnswer ok{QMessageBox::Ok};
    ok.Arm();
    Open();
    EXPECT_EQ(ok.Seen, 1);
    EXPECT_EQ(ok.Title, "Solvane Database Maintenance");
    EXPECT_EQ(ok.Icon, QMessageBox::Critical);
    EXPECT_TRUE(ok.Text.endsWith('.')) << ok.Text.toStdString();
    EXPECT_TRUE(Window()->isVisible());
}

TEST_F(MainWindowTest, FocusComesBackAfterAMessageBox) {
    Open();
    QApplication::setActiveWindow(Window());
    Child("txtBackupPath")->setFocus();
    gui::InstallQtMessageBoxPresenter();
    TBoxAnswer ok{QMessageBox::Ok};
    ok.Arm();
    app::RKSys->DlgUtils->ErrorMsg("x", "에러", 16);
    EXPECT_EQ(ok.Seen, 1);
    // Activation reaches the window through the event queue.
    QWidget* target = Child("txtBackupPath");
    EXPECT_TRUE(QTest::qWaitFor([&] { return QApplication::focusWidget() == target; }));
    EXPECT_EQ(Window()->focusWidget(), target);
}

} // namespace
