// The Qt front end of the maintenance window.
#include "gui/QtViews.h"

#include <algorithm>

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QEvent>
#include <QFileDialog>
#include <QFont>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QStyle>
#include <QTextBlock>
#include <QTextCursor>
#include <QThread>
#include <QToolButton>
#include <QWindow>

#include "app/RKSysUtils.h"

namespace gui {

namespace {

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

std::string S(const QString& text) {
    return text.toStdString();
}

// Captions keep their "\r\n" line breaks; Qt shows "\n".
QString DisplayText(const std::string& caption) {
    QString text = Q(caption);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return text;
}

QColor ToQColor(app::TColor color) {
    return QColor(color.Red, color.Green, color.Blue);
}

void ApplyDef(QWidget* widget, const app::TControlDef& def) {
    widget->setObjectName(Q(def.Name));
    widget->setGeometry(def.Bounds.Left, def.Bounds.Top, def.Bounds.Width, def.Bounds.Height);
    if (def.HasFontColor) {
        QPalette palette = widget->palette();
        const QColor color = ToQColor(def.FontColor);
        palette.setColor(QPalette::WindowText, color);
        palette.setColor(QPalette::ButtonText, color);
        palette.setColor(QPalette::Text, color);
        widget->setPalette(palette);
    }
    widget->setVisible(def.Visible);
}

// What every adapter knows: its interface name and its Qt widget. The
// adapters are QObjects themselves so that their signal connections end with
// them.
class TQtWidgetBase : public QObject {
public:
    explicit TQtWidgetBase(std::string name) : FName(std::move(name)) {}
    virtual QWidget* Widget() const = 0;

protected:
    std::string FName;
};

template <typename Interface, typename QtWidget>
class TQtAdapter : public Interface, public TQtWidgetBase {
public:
    TQtAdapter(QtWidget* widget, const app::TControlDef& def)
        : TQtWidgetBase(def.Name), FWidget(widget) {
        ApplyDef(widget, def);
        // The widget may go before its adapter (with its window).
        connect(widget, &QObject::destroyed, this, [this] { FWidget = nullptr; });
    }
    const std::string& Name() const override { return FName; }
    bool Visible() const override { return FWidget != nullptr && !FWidget->isHidden(); }
    void SetVisible(bool value) override {
        if (FWidget != nullptr) {
            FWidget->setVisible(value);
        }
    }
    void Repaint() override {
        if (FWidget != nullptr) {
            FWidget->repaint();
        }
    }
    QWidget* Widget() const override { return FWidget; }
    QtWidget* W() const { return FWidget; }

protected:
    QtWidget* FWidget = nullptr;
};

QWidget* ParentWidget(app::IWidget* parent) {
    return TQtHost::QtWidget(parent);
}

// --- the window ----------------------------------------------------------------

// The top-level window: the user's close and Esc go to the window's logic,
// which may keep the window open (a command runs).
class TMainWindow : public QWidget {
public:
    using QWidget::QWidget;

    std::function<bool()> OnCloseQuery;
    std::function<void()> OnEscape;

    // Esc pressed somewhere in the window while its input is blocked.
    void Escape() {
        if (OnEscape) {
            OnEscape();
        }
    }
    // Closes without asking: the logic decided.
    void CloseFromProgram() {
        FFromProgram = true;
        close();
        FFromProgram = false;
    }

protected:
    void closeEvent(QCloseEvent* event) override {
        if (!FFromProgram && OnCloseQuery && !OnCloseQuery()) {
            event->ignore();
            return;
        }
        event->accept();
    }

private:
    bool FFromProgram = false;
};

class TQtForm : public TQtAdapter<app::IFormView, QWidget> {
public:
    TQtForm(std::unique_ptr<TMainWindow> window, const app::TControlDef& def)
        : TQtAdapter(window.get(), Hidden(def)), FOwned(std::move(window)) {
        TMainWindow* w = FOwned.get();
        w->OnCloseQuery = [this] { return QueryClose(); };
        w->OnEscape = [this] { PressEscape(); };
        w->setWindowTitle(Q(def.Caption));
        // Bounds.Left/Top place the window's frame on the screen; the size is
        // the client area, fixed.
        w->setGeometry(0, 0, def.Bounds.Width, def.Bounds.Height);
        w->setFixedSize(def.Bounds.Width, def.Bounds.Height);
        w->move(def.Bounds.Left, def.Bounds.Top);
    }
    ~TQtForm() override {
        // The window goes with its controls; the adapters of the controls
        // are gone already.
        FOwned.reset();
    }
    std::string Caption() const override { return S(FOwned->windowTitle()); }
    void Close() override { FOwned->CloseFromProgram(); }
    void SetTabOrder(const std::vector<app::IWidget*>& order) override {
        QWidget* previous = nullptr;
        for (app::IWidget* item : order) {
            QWidget* current = TQtHost::QtWidget(item);
            if (current == nullptr) {
                continue;
            }
            if (previous != nullptr) {
                QWidget::setTabOrder(previous, current);
            }
            previous = current;
        }
    }

private:
    static app::TControlDef Hidden(app::TControlDef def) {
        def.Visible = false; // shown by TmainForm::Show
        return def;
    }
    std::unique_ptr<TMainWindow> FOwned;
};

// --- group box, label -----------------------------------------------------------------

// A group box drawn plainly: an etched frame with the caption set into its
// top line. (The style's own frame is a picture that costs the image plugins
// at the first paint.)
class TGroupFrame : public QGroupBox {
public:
    using QGroupBox::QGroupBox;

protected:
    void paintEvent(QPaintEvent* /*event*/) override {
        QPainter p(this);
        const QFontMetrics metrics(font());
        const int lineY = metrics.height() / 2;
        const QRect frame = rect().adjusted(0, lineY, -2, -2);
        p.setPen(palette().color(QPalette::Mid));
        p.drawRect(frame);
        p.setPen(palette().color(QPalette::Light));
        p.drawRect(frame.translated(1, 1));
        const QString caption = title();
        if (!caption.isEmpty()) {
            const QRect text(8, 0, metrics.horizontalAdvance(caption) + 4, metrics.height());
            p.fillRect(text, palette().brush(backgroundRole()));
            p.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled,
                                     QPalette::WindowText));
            p.drawText(text, Qt::AlignCenter, caption);
        }
    }
};

class TQtGroupBox : public TQtAdapter<app::IGroupBox, QGroupBox> {
public:
    TQtGroupBox(QWidget* parent, const app::TControlDef& def)
        : TQtAdapter(new TGroupFrame(DisplayText(def.Caption), parent), def),
          FCaption(def.Caption) {}
    const std::string& Caption() const override { return FCaption; }

private:
    std::string FCaption;
};

class TQtLabel : public TQtAdapter<app::ILabel, QLabel> {
public:
    TQtLabel(QWidget* parent, const app::TControlDef& def)
        : TQtAdapter(new QLabel(parent), def), FCaption(def.Caption), FWidth(def.Bounds.Width),
          FMaxAutoWidth(def.MaxAutoWidth) {
        W()->setTextFormat(Qt::PlainText);
        W()->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        W()->setWordWrap(def.WordWrap);
        W()->setText(DisplayText(FCaption));
        Fit();
    }
    const std::string& Caption() const override { return FCaption; }
    void SetCaption(const std::string& value) override {
        FCaption = value;
        if (FWidget != nullptr) {
            W()->setText(DisplayText(value));
            Fit();
        }
    }

private:
    // Widens the label, within its limit, when its text needs more room.
    void Fit() {
        if (FMaxAutoWidth <= FWidth) {
            return;
        }
        const int needed = W()->sizeHint().width();
        W()->resize(std::clamp(needed, FWidth, FMaxAutoWidth), W()->height());
    }
    std::string FCaption;
    int FWidth = 0;
    int FMaxAutoWidth = 0;
};

// --- text box with ellipsis button -----------------------------------------------------

class TQtButtonEdit : public TQtAdapter<app::IButtonEdit, QLineEdit> {
public:
    TQtButtonEdit(QWidget* parent, const app::TControlDef& def)
        : TQtAdapter(new QLineEdit(parent), def) {
        QLineEdit* edit = W();
        edit->setText(Q(def.Caption));
        auto* button = new QToolButton(edit);
        FButton = button;
        button->setObjectName(Q(def.Name + "Button"));
        button->setText(QStringLiteral("..."));
        button->setFocusPolicy(Qt::NoFocus);
        button->setCursor(Qt::ArrowCursor);
        const int side = def.Bounds.Height - 4;
        const int width = side + 2;
        button->setGeometry(def.Bounds.Width - width - 2, 2, width, side);
        edit->setTextMargins(0, 0, width + 2, 0);
        connect(button, &QToolButton::clicked, this, [this] { ClickButton(0); });
        // The focused box takes the light yellow background.
        FNormal = edit->palette();
        FFocused = FNormal;
        FFocused.setColor(QPalette::Base, ToQColor(app::FocusedEditColor));
        edit->installEventFilter(this);
    }
    std::string Text() const override { return FWidget ? S(W()->text()) : std::string(); }
    // The button goes with the box; while the box lives, so does it.
    bool ButtonEnabled() const override {
        return FWidget != nullptr && !FButton->testAttribute(Qt::WA_Disabled);
    }
    void SetButtonEnabled(bool value) override {
        if (FWidget != nullptr) {
            FButton->setEnabled(value);
        }
    }
    void SetText(const std::string& value) override {
        if (FWidget != nullptr) {
            W()->setText(Q(value));
        }
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == FWidget) {
            if (event->type() == QEvent::FocusIn) {
                W()->setPalette(FFocused);
            } else if (event->type() == QEvent::FocusOut) {
                W()->setPalette(FNormal);
            }
        }
        return false;
    }

private:
    QPalette FNormal;
    QPalette FFocused;
    QToolButton* FButton = nullptr;
};

// --- push button -----------------------------------------------------------------------

// The pictures are drawn here, small and plain: a database drum with an
// arrow into it (backup) or out of it (restore). Drawing them saves the icon
// theme look-up and the image plugins at start.
void DrawDrum(QPainter& p, const QRectF& r, const QColor& body) {
    const qreal cap = r.height() / 4;
    p.setPen(QPen(body.darker(170), 1));
    p.setBrush(body);
    p.drawRect(QRectF(r.left(), r.top() + cap / 2, r.width(), r.height() - cap));
    p.drawEllipse(QRectF(r.left(), r.bottom() - cap, r.width(), cap));
    p.setBrush(body.lighter(130));
    p.drawEllipse(QRectF(r.left(), r.top(), r.width(), cap));
}

void DrawArrow(QPainter& p, qreal x, qreal top, qreal bottom, bool down, const QColor& color) {
    p.setPen(QPen(color, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawLine(QPointF(x, top), QPointF(x, bottom));
    const qreal tip = down ? bottom : top;
    const qreal back = down ? tip - 3 : tip + 3;
    p.drawLine(QPointF(x - 3, back), QPointF(x, tip));
    p.drawLine(QPointF(x + 3, back), QPointF(x, tip));
}

QPixmap DrumPicture(int size, bool arrowDown, bool withArrow) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal u = size / 16.0;
    const QRectF drum =
        withArrow ? QRectF(0.5 * u, 4 * u, 9 * u, 11.5 * u) : QRectF(2 * u, 1 * u, 12 * u, 14 * u);
    DrawDrum(p, drum, QColor(70, 130, 200));
    if (withArrow) {
        DrawArrow(p, 12.5 * u, 1 * u, 12 * u, arrowDown,
                  arrowDown ? QColor(30, 140, 60) : QColor(200, 120, 20));
    }
    return pixmap;
}

QIcon Picture(app::TButtonPicture picture) {
    switch (picture) {
    case app::TButtonPicture::Backup:
        return QIcon(DrumPicture(16, true, true));
    case app::TButtonPicture::Restore:
        return QIcon(DrumPicture(16, false, true));
    case app::TButtonPicture::None:
        break;
    }
    return {};
}

class TQtButton : public TQtAdapter<app::IButton, QPushButton> {
public:
    TQtButton(QWidget* parent, const app::TControlDef& def)
        : TQtAdapter(new QPushButton(parent), def), FCaption(def.Caption) {
        QPushButton* button = W();
        button->setText(DisplayText(def.Caption));
        button->setAutoDefault(false);
        if (def.Picture != app::TButtonPicture::None) {
            button->setIcon(Picture(def.Picture));
            button->setIconSize(QSize(16, 16));
        }
        connect(button, &QPushButton::clicked, this, [this] { Click(); });
    }
    const std::string& Caption() const override { return FCaption; }
    void SetCaption(const std::string& value) override {
        FCaption = value;
        if (FWidget != nullptr) {
            W()->setText(DisplayText(value));
        }
    }
    bool Enabled() const override { return FWidget != nullptr && W()->isEnabled(); }
    void SetEnabled(bool value) override {
        if (FWidget != nullptr) {
            W()->setEnabled(value);
        }
    }

private:
    std::string FCaption;
};

// --- multi-line text box ---------------------------------------------------------------

class TQtMemo : public TQtAdapter<app::IMemo, QPlainTextEdit> {
public:
    TQtMemo(QWidget* parent, const app::TControlDef& def)
        : TQtAdapter(new QPlainTextEdit(parent), def) {
        QPlainTextEdit* edit = W();
        edit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        edit->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
        edit->setLineWrapMode(QPlainTextEdit::WidgetWidth);
        edit->setFrameStyle(QFrame::Box | QFrame::Plain); // flat, no bevel
        edit->setLineWidth(1);
        edit->setTabChangesFocus(true);
        // The box shows output: an undo step per appended line would only
        // let Ctrl+Z take the server's lines away, and costs memory for
        // tens of thousands of them.
        edit->setUndoRedoEnabled(false);
    }
    void Clear() override {
        if (FWidget != nullptr) {
            W()->clear();
        }
        FHasLines = false;
    }
    std::vector<std::string> Lines() const override {
        std::vector<std::string> lines;
        if (FWidget == nullptr || (!FHasLines && W()->document()->isEmpty())) {
            return lines;
        }
        for (QTextBlock block = W()->document()->begin(); block.isValid(); block = block.next()) {
            lines.push_back(S(block.text()));
        }
        return lines;
    }
    // The box's repaint takes its viewport (the text) with it.
    void Repaint() override {
        if (FWidget != nullptr) {
            W()->repaint();
        }
    }

protected:
    void AppendLines(const std::vector<std::string>& lines) override {
        if (FWidget == nullptr) {
            return;
        }
        if (lines.empty()) {
            return;
        }
        // One insertion for the whole batch, a line break before each line
        // (the first line of an empty box goes into its one empty block):
        // the document makes a block of each line in one go.
        std::string text;
        size_t size = 0;
        for (const std::string& line : lines) {
            size += line.size() + 1;
        }
        text.reserve(size);
        for (const std::string& line : lines) {
            if (FHasLines || !W()->document()->isEmpty()) {
                text += '\n';
            }
            text += line;
            FHasLines = true;
        }
        QTextCursor cursor(W()->document());
        cursor.movePosition(QTextCursor::End);
        cursor.insertText(Q(text));
        W()->setTextCursor(cursor);
        W()->ensureCursorVisible();
    }

private:
    bool FHasLines = false;
};

// --- progress bar ---------------------------------------------------------------------

// A progress bar drawn plainly: a flat frame and the filled part in the
// highlight colour. (The style's own bar, antialiased and striped, cost more
// than everything else of a line of output.) It paints only when asked to
// and, when asked, only if its filled width in pixels has changed: a command
// steps it thousands of times for a few hundred pixels.
class TPlainProgressBar : public QProgressBar {
public:
    using QProgressBar::QProgressBar;

    // Takes the value without painting; the bar is marked for painting only
    // when the value changes its filled width.
    void SetValueUnpainted(int value) {
        // QProgressBar paints at once from setValue when it thinks the
        // change shows; that would paint every dirty widget of the window
        // with it.
        const bool disabled = testAttribute(Qt::WA_UpdatesDisabled);
        setAttribute(Qt::WA_UpdatesDisabled, true);
        setValue(value);
        setAttribute(Qt::WA_UpdatesDisabled, disabled);
        if (FilledWidth() != FPaintedWidth) {
            update();
        }
    }
    bool PaintDue() const { return FilledWidth() != FPaintedWidth; }
    int PaintCount() const { return FPaintCount; }

    int FilledWidth() const {
        const qint64 span = qint64(maximum()) - minimum();
        if (span <= 0) {
            return 0;
        }
        const qint64 done = std::clamp<qint64>(qint64(value()) - minimum(), 0, span);
        return static_cast<int>(done * Inner().width() / span);
    }

protected:
    void paintEvent(QPaintEvent* /*event*/) override {
        QPainter p(this);
        p.setPen(palette().color(QPalette::Mid));
        p.drawRect(rect().adjusted(0, 0, -1, -1));
        const QRect inner = Inner();
        p.fillRect(inner, palette().brush(QPalette::Base));
        FPaintedWidth = FilledWidth();
        p.fillRect(QRect(inner.left(), inner.top(), FPaintedWidth, inner.height()),
                   palette().brush(isEnabled() ? QPalette::Active : QPalette::Disabled,
                                   QPalette::Highlight));
        ++FPaintCount;
    }
    void showEvent(QShowEvent* event) override {
        FPaintedWidth = -1; // not painted since it was shown
        QProgressBar::showEvent(event);
    }

private:
    QRect Inner() const { return rect().adjusted(1, 1, -1, -1); }

    int FPaintedWidth = -1;
    int FPaintCount = 0;
};

class TQtProgressBar : public TQtAdapter<app::IProgressBar, TPlainProgressBar> {
public:
    TQtProgressBar(QWidget* parent, const app::TControlDef& def)
        : TQtAdapter(new TPlainProgressBar(parent), def) {
        W()->setRange(app::IProgressBar::Min, app::IProgressBar::Max);
        W()->setTextVisible(false);
        W()->SetValueUnpainted(Position());
    }
    // Paints now, but only a change the eye can see.
    void Repaint() override {
        if (FWidget != nullptr && W()->isVisible() && W()->PaintDue()) {
            W()->repaint();
        }
    }

protected:
    void PositionChanged() override {
        if (FWidget != nullptr) {
            W()->SetValueUnpainted(Position());
        }
    }
};

// --- file list ------------------------------------------------------------------------

class TQtFileList : public TQtAdapter<app::IFileList, QListWidget> {
public:
    TQtFileList(QWidget* parent, const app::TControlDef& def)
        : TQtAdapter(new QListWidget(parent), def), FItemHeight(def.ItemHeight) {
        QListWidget* list = W();
        list->setSelectionMode(QAbstractItemView::SingleSelection);
        list->setUniformItemSizes(true);
        list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        connect(list, &QListWidget::itemSelectionChanged, this, [this] {
            const QList<QListWidgetItem*> selected = W()->selectedItems();
            UserSelected(selected.isEmpty() ? -1 : W()->row(selected.first()));
        });
        ItemsChanged();
    }
    bool Enabled() const override { return FWidget != nullptr && W()->isEnabled(); }
    void SetEnabled(bool value) override {
        if (FWidget != nullptr) {
            W()->setEnabled(value);
        }
    }

protected:
    void ItemsChanged() override {
        if (FWidget == nullptr) {
            return;
        }
        QListWidget* list = W();
        const QSignalBlocker blocker(list);
        list->clear();
        for (const std::string& name : Items()) {
            auto* item = new QListWidgetItem(Q(name), list);
            if (FItemHeight > 0) {
                item->setSizeHint(QSize(0, FItemHeight));
            }
        }
        ShowSelection(list);
    }
    void SelectionShown() override {
        if (FWidget != nullptr) {
            const QSignalBlocker blocker(W());
            ShowSelection(W());
        }
    }

private:
    void ShowSelection(QListWidget* list) {
        const int index = ItemIndex();
        if (index >= 0) {
            list->setCurrentRow(index);
        } else {
            list->clearSelection();
            list->setCurrentRow(-1);
        }
    }
    int FItemHeight = 0;
};

// The top-level window: button-face background, fixed border with system
// menu and minimise box.
std::unique_ptr<TMainWindow> MakeWindow(const app::TControlDef& def) {
    auto window = std::make_unique<TMainWindow>(
        nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                     Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                     Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    window->setObjectName(Q(def.Name));
    window->setFont(WindowFont());
    window->setBackgroundRole(QPalette::Button);
    window->setAutoFillBackground(true);
    QIcon icon;
    icon.addPixmap(DrumPicture(16, false, false));
    icon.addPixmap(DrumPicture(32, false, false));
    window->setWindowIcon(icon);
    return window;
}

} // namespace

QFont WindowFont() {
    // Only families that are installed: looking for a missing one sends Qt
    // through the font configuration's substitutes, which costs start-up time.
    // The installed families are read once and compared by name.
    static const QStringList families = [] {
        const QStringList installed = QFontDatabase::families();
        QStringList chosen;
        for (const QString& family : {QStringLiteral("Tahoma"), QStringLiteral("NanumGothic"),
                                      QStringLiteral("NanumBarunGothic")}) {
            if (installed.contains(family, Qt::CaseInsensitive)) {
                chosen << family;
            }
        }
        return chosen;
    }();
    QFont font;
    if (!families.isEmpty()) {
        font.setFamilies(families);
    }
    font.setPixelSize(12);
    // The form is laid out in whole pixels for a fully hinted font. Full
    // hinting also loads each new glyph faster than the light auto-hinting
    // most desktops ask for, which shows in the time to the first paint: the
    // window draws a few hundred different Korean glyphs before it appears.
    font.setHintingPreference(QFont::PreferFullHinting);
    return font;
}

// --- the host -----------------------------------------------------------------------------

TQtHost::TQtHost() : ExecDialog([](QFileDialog& dialog) { return dialog.exec(); }) {}

TQtHost::~TQtHost() {
    SetInputBlocked(false);
    while (FCursor != app::TCursor::Default) {
        SetCursor(app::TCursor::Default);
    }
}

app::TFormHost TQtHost::Host() {
    return app::FormHostOf(*this);
}

QWidget* TQtHost::QtWidget(app::IWidget* widget) {
    auto* adapter = dynamic_cast<TQtWidgetBase*>(widget);
    return adapter == nullptr ? nullptr : adapter->Widget();
}

std::unique_ptr<app::IFormView> TQtHost::CreateForm(const app::TControlDef& def) {
    std::unique_ptr<TMainWindow> window = MakeWindow(def);
    FWindow = window.get();
    return std::make_unique<TQtForm>(std::move(window), def);
}

namespace {
QWidget* ParentOrWindow(app::IWidget* parent, QWidget* window) {
    QWidget* widget = ParentWidget(parent);
    return widget != nullptr ? widget : window;
}
} // namespace

std::unique_ptr<app::IGroupBox> TQtHost::CreateGroupBox(app::IWidget* parent,
                                                        const app::TControlDef& def) {
    return std::make_unique<TQtGroupBox>(ParentOrWindow(parent, FWindow), def);
}

std::unique_ptr<app::ILabel> TQtHost::CreateLabel(app::IWidget* parent,
                                                  const app::TControlDef& def) {
    return std::make_unique<TQtLabel>(ParentOrWindow(parent, FWindow), def);
}

std::unique_ptr<app::IButtonEdit> TQtHost::CreateButtonEdit(app::IWidget* parent,
                                                            const app::TControlDef& def) {
    return std::make_unique<TQtButtonEdit>(ParentOrWindow(parent, FWindow), def);
}

std::unique_ptr<app::IButton> TQtHost::CreateButton(app::IWidget* parent,
                                                    const app::TControlDef& def) {
    return std::make_unique<TQtButton>(ParentOrWindow(parent, FWindow), def);
}

std::unique_ptr<app::IMemo> TQtHost::CreateMemo(app::IWidget* parent, const app::TControlDef& def) {
    return std::make_unique<TQtMemo>(ParentOrWindow(parent, FWindow), def);
}

std::unique_ptr<app::IProgressBar> TQtHost::CreateProgressBar(app::IWidget* parent,
                                                              const app::TControlDef& def) {
    return std::make_unique<TQtProgressBar>(ParentOrWindow(parent, FWindow), def);
}

std::unique_ptr<app::IFileList> TQtHost::CreateFileList(app::IWidget* parent,
                                                        const app::TControlDef& def) {
    return std::make_unique<TQtFileList>(ParentOrWindow(parent, FWindow), def);
}

// --- choosers ------------------------------------------------------------------------------

namespace {

QWidget* DialogOwner(app::IWidget* owner, QWidget* window) {
    QWidget* widget = TQtHost::QtWidget(owner);
    return widget != nullptr ? widget->window() : window;
}

// "Description (pattern)" the way Qt reads a name filter; a description that
// already ends in its pattern is shown as it is.
QString NameFilter(const app::TFileFilter& filter) {
    QString pattern = Q(filter.Pattern);
    pattern.replace(QLatin1Char(';'), QLatin1Char(' '));
    const QString description = Q(filter.Description);
    if (description.endsWith(QLatin1Char('(') + pattern + QLatin1Char(')'))) {
        return description;
    }
    return description + QStringLiteral(" (") + pattern + QLatin1Char(')');
}

} // namespace

bool TQtHost::BrowseForFolder(const app::TFolderBrowseRequest& request, std::string& folder) {
    folder.clear();
    QFileDialog dialog(DialogOwner(request.Owner, FWindow), Q(request.Title));
    dialog.setObjectName(QStringLiteral("FolderBrowser"));
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setOption(QFileDialog::ShowDirsOnly, true);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setWindowModality(Qt::ApplicationModal);
    // Without a folder in the box the browser starts at the top of the file
    // system, nothing chosen.
    dialog.setDirectory(request.InitialFolder.empty() ? QDir::rootPath()
                                                      : Q(request.InitialFolder));
    if (ExecDialog(dialog) != QDialog::Accepted) {
        return false;
    }
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty()) {
        return false;
    }
    folder = S(chosen.first());
    return true;
}

bool TQtHost::ExecuteOpenDialog(const app::TOpenDialogRequest& request, std::string& fileName) {
    fileName.clear();
    QFileDialog dialog(DialogOwner(request.Owner, FWindow), Q(request.Title));
    dialog.setObjectName(QStringLiteral("OpenDialog"));
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    // A typed name that does not exist is taken as well, unless asked.
    dialog.setFileMode(request.FileMustExist ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    dialog.setWindowModality(Qt::ApplicationModal);
    dialog.setSizeGripEnabled(request.EnableSizing);
    QStringList filters;
    for (const app::TFileFilter& filter : request.Filters) {
        filters << NameFilter(filter);
    }
    if (!filters.isEmpty()) {
        dialog.setNameFilters(filters);
    }
    QString suffix = Q(request.DefaultExt);
    if (suffix.startsWith(QLatin1Char('.'))) {
        suffix.remove(0, 1);
    }
    dialog.setDefaultSuffix(suffix);
    if (!request.InitialDir.empty()) {
        dialog.setDirectory(Q(request.InitialDir));
    }
    if (ExecDialog(dialog) != QDialog::Accepted) {
        return false;
    }
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty()) {
        return false;
    }
    fileName = S(chosen.first());
    return true;
}

// --- busy pointer, event loop ------------------------------------------------------------------

void TQtHost::SetCursor(app::TCursor value) {
    if (value == FCursor) {
        return;
    }
    if (value == app::TCursor::HourGlass) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
    } else {
        QApplication::restoreOverrideCursor();
    }
    FCursor = value;
}

void TQtHost::ProcessMessages() {
    QCoreApplication::processEvents();
}

namespace {

bool IsUserInput(QEvent::Type type) {
    switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::ContextMenu:
    case QEvent::InputMethod:
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
        return true;
    default:
        return false;
    }
}

} // namespace

// Drops the user's input to one window; other windows (message boxes,
// dialogs) keep theirs. Esc goes to the window's logic instead (a request
// to stop), never to a control; the close box is no input and passes.
class TInputBlocker : public QObject {
public:
    explicit TInputBlocker(QWidget* window) : FWindow(window) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (!IsUserInput(event->type()) || FWindow == nullptr) {
            return false;
        }
        auto* widget = qobject_cast<QWidget*>(watched);
        const bool ours = watched == FWindow.data() ||
                          watched == static_cast<QObject*>(FWindow->windowHandle()) ||
                          (widget != nullptr && widget->window() == FWindow.data());
        if (ours && event->type() == QEvent::KeyPress) {
            const auto* key = static_cast<QKeyEvent*>(event);
            auto* window = dynamic_cast<TMainWindow*>(FWindow.data());
            if (key->key() == Qt::Key_Escape && !key->isAutoRepeat() && window != nullptr) {
                window->Escape();
            }
        }
        return ours;
    }

private:
    QPointer<QWidget> FWindow;
};

void TQtHost::SetInputBlocked(bool blocked) {
    if (blocked && FBlocker == nullptr && FWindow != nullptr) {
        FBlocker = std::make_unique<TInputBlocker>(FWindow);
        QCoreApplication::instance()->installEventFilter(FBlocker.get());
    } else if (!blocked && FBlocker != nullptr) {
        QCoreApplication::instance()->removeEventFilter(FBlocker.get());
        FBlocker.reset();
    }
}

void TQtHost::DiscardPendingInput() {
    // What the window system queued while the window's thread was busy is
    // delivered now, to the blocker; posted events go the same way.
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
}

void TQtHost::Sleep(int milliseconds) {
    if (milliseconds > 0) {
        QThread::msleep(static_cast<unsigned long>(milliseconds));
    }
}

// --- message box --------------------------------------------------------------------------------

int ShowQtMessageBox(const std::string& text, const std::string& caption, int flags) {
    const QPointer<QWidget> active = QApplication::activeWindow();
    const QPointer<QWidget> focus = QApplication::focusWidget();

    QMessageBox box;
    box.setObjectName(QStringLiteral("MessageBox"));
    box.setWindowTitle(Q(caption));
    box.setText(Q(text));
    box.setTextFormat(Qt::PlainText);
    box.setWindowModality(Qt::ApplicationModal);
    switch (flags & 0xF0) {
    case 0x10:
        box.setIcon(QMessageBox::Critical);
        break;
    case 0x20:
        box.setIcon(QMessageBox::Question);
        break;
    case 0x30:
        box.setIcon(QMessageBox::Warning);
        break;
    case 0x40:
        box.setIcon(QMessageBox::Information);
        break;
    default:
        break;
    }
    struct TButtonCode {
        QMessageBox::StandardButton Button;
        int Code;
    };
    std::vector<TButtonCode> buttons;
    switch (flags & 0x0F) {
    case 1:
        buttons = {{QMessageBox::Ok, 1}, {QMessageBox::Cancel, 2}};
        break;
    case 2:
        buttons = {{QMessageBox::Abort, 3}, {QMessageBox::Retry, 4}, {QMessageBox::Ignore, 5}};
        break;
    case 3:
        buttons = {{QMessageBox::Yes, 6}, {QMessageBox::No, 7}, {QMessageBox::Cancel, 2}};
        break;
    case 4:
        buttons = {{QMessageBox::Yes, 6}, {QMessageBox::No, 7}};
        break;
    case 5:
        buttons = {{QMessageBox::Retry, 4}, {QMessageBox::Cancel, 2}};
        break;
    default:
        buttons = {{QMessageBox::Ok, 1}};
        break;
    }
    QMessageBox::StandardButtons standard;
    for (const TButtonCode& b : buttons) {
        standard |= b.Button;
    }
    box.setStandardButtons(standard);
    box.setDefaultButton(buttons.front().Button);

    box.exec();
    int code = 0;
    const QAbstractButton* clicked = box.clickedButton();
    for (const TButtonCode& b : buttons) {
        if (clicked != nullptr && clicked == box.button(b.Button)) {
            code = b.Code;
        }
    }

    if (active != nullptr) {
        active->activateWindow();
    }
    if (focus != nullptr) {
        focus->setFocus();
    }
    return code;
}

void InstallQtMessageBoxPresenter() {
    app::SetMessageBoxPresenter(&ShowQtMessageBox);
}

} // namespace gui
