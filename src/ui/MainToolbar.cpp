#include "ui/MainToolbar.h"

#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QIcon>
#include <QMouseEvent>
#include <QWindow>
#include <QPointer>
#include <QToolButton>

#include "core/EntryFile.h"
#include "core/FillCommand.h"
#include "core/Placement.h"
#include "core/Settings.h"
#include "core/Titles.h"
#include "ui/CandidateList.h"
#include "ui/EntryEditor.h"
#include "ui/OptionsDialog.h"
#include "ui/Resources.h"
#include "ui/WindowUtil.h"

namespace {
const char* const kTooltips[6] = {"記入", "データー編集", "設定", "ヘルプ", "最小化", "終了"};
const char* const kImages[6] = {"write", "grid", "option", "help", "min", "exit"};
}  // namespace

MainToolbar::MainToolbar(AppState& state, const Shell& shell)
    : QWidget(nullptr, Qt::Window | Qt::MSWindowsFixedSizeDialogHint),
      state_(state),
      shell_(shell) {
    setObjectName("MainToolbar");
    setWindowTitle("Penrika");
    setWindowIcon(QIcon(ImagePath("penrika")));
    // Client area 2070 x 390 twips, filled by the toolbar.
    SetFixedClientTwips(this, 2070, 390);
    // The buttons carry only images, and the browser, not this window, is active while the user
    // works: their names must show on hover all the same.
    setAttribute(Qt::WA_AlwaysShowToolTips);
    // Where the program cannot give the keyboard back to the browser, a click on the toolbar
    // must leave it there: no frame (a window manager focuses a frame when it is clicked) and no
    // focus asked for. The toolbar is moved by a drag on its buttons then.
    if (shell_.toolbarTakesNoFocus)
        setWindowFlags(windowFlags() | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus);
    BuildToolbar();
    // The press goes to the toolbar while there is one.
    shell_.shortcut.OnPressed([self = QPointer<MainToolbar>(this)] {
        if (self) self->FillFromShortcut(self->shell_.windows.ActiveWindow());
    });
}

MainToolbar::~MainToolbar() = default;

void MainToolbar::BuildToolbar() {
    InitResources();
    toolbar_ = new QWidget(this);
    toolbar_->setObjectName("Toolbar1");
    auto* row = new QHBoxLayout(toolbar_);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    for (int i = 0; i < 6; ++i) {
        auto* b = new QToolButton(toolbar_);
        const QString key = kKeys[i];
        b->setObjectName(key);
        b->setToolTip(QString::fromUtf8(kTooltips[i]));
        b->setIcon(QIcon(ImagePath(kImages[i])));
        // 16 x 16 images on 23 x 22 buttons at 15 twips per pixel; scaled at other resolutions.
        b->setIconSize(QSize(TwipsToPxX(240), TwipsToPxY(240)));
        b->setAutoRaise(true);
        // Six buttons share the client width exactly, whatever the rounding at this resolution.
        b->setFixedSize(TwipsToPxX(2070) / 6, TwipsToPxY(330));
        b->setFocusPolicy(Qt::NoFocus);
        if (shell_.toolbarTakesNoFocus) b->installEventFilter(this);
        const auto command = static_cast<ToolbarCommand>(i);
        connect(b, &QToolButton::clicked, this, [this, command] { RunCommand(command); });
        row->addWidget(b);
    }
    row->addStretch(1);
    toolbar_->setGeometry(0, 0, width(), height());
}

bool MainToolbar::eventFilter(QObject* watched, QEvent* e) {
    auto* button = qobject_cast<QToolButton*>(watched);
    if (!button) return QWidget::eventFilter(watched, e);
    if (e->type() == QEvent::MouseButtonPress) {
        dragFrom_ = static_cast<QMouseEvent*>(e)->globalPosition().toPoint();
    } else if (e->type() == QEvent::MouseMove &&
               (static_cast<QMouseEvent*>(e)->buttons() & Qt::LeftButton) &&
               (static_cast<QMouseEvent*>(e)->globalPosition().toPoint() - dragFrom_)
                       .manhattanLength() >= QApplication::startDragDistance()) {
        // A move, not a press: the button lets go without running its command.
        button->setDown(false);
        if (windowHandle()) windowHandle()->startSystemMove();
        return true;
    }
    return QWidget::eventFilter(watched, e);
}

QToolButton* MainToolbar::Button(const QString& key) const {
    return toolbar_ ? toolbar_->findChild<QToolButton*>(key) : nullptr;
}

std::string MainToolbar::Load() {
    loading_ = true;
    std::string notice = LoadEntries(state_.entries);
    state_.loaded = true;
    state_.options = LoadOptions();
    shell_.messages.SetOnTop(state_.options.alwaysOnTop);
    PlaceMainWindow();
    loading_ = false;
    const std::string shortcut = TakeShortcut();
    if (!shortcut.empty()) notice += (notice.empty() ? "" : "\r\n") + shortcut;
    return notice;
}

std::string MainToolbar::TakeShortcut() {
    const std::string& combo = state_.options.fillShortcut;
    return ShortcutRefusal(shell_.shortcut.Take(combo), combo);
}

void MainToolbar::PlaceMainWindow() {
    // While loading, the window stays hidden; afterwards the call also shows it.
    shell_.windows.SetTopmost(IdOf(this), state_.options.alwaysOnTop, !loading_);
}

bool MainToolbar::event(QEvent* e) {
    // Every activation puts the toolbar back in its band (the options may have changed).
    if (e->type() == QEvent::WindowActivate) PlaceMainWindow();
    return QWidget::event(e);
}

bool MainToolbar::SaveBeforeClose() {
    shell_.help.Close();
    // A start that could not read the entries has nothing of the user's to save.
    if (!state_.loaded) return true;
    try {
        SaveEntries(state_.entries);
    } catch (const EntryFileError& err) {
        shell_.messages.Box(std::string(err.what()) +
                                "\r\n登録内容はメモリーに残っています。保存できるようにしてから、"
                                "もう一度終了してください。",
                            MsgOk, ErrorTitle);
        return false;
    }
    return true;
}

void MainToolbar::closeEvent(QCloseEvent* e) {
    if (closing_) {
        e->accept();
        return;
    }
    if (!SaveBeforeClose()) {
        // Nothing is lost: the window stays and the entries stay in memory.
        e->ignore();
        return;
    }
    closing_ = true;
    // The combination is the desktop's again once the program ends.
    shell_.shortcut.Take("");
    e->accept();
    QApplication::quit();
}

void MainToolbar::CloseForShutdown() {
    close();
}

std::optional<ToolbarCommand> MainToolbar::CommandNamed(const QString& key) {
    for (int i = 0; i < 6; ++i) {
        if (key == QLatin1String(kKeys[i])) return static_cast<ToolbarCommand>(i);
    }
    return std::nullopt;
}

void MainToolbar::RunCommandNamed(const QString& key) {
    if (std::optional<ToolbarCommand> command = CommandNamed(key)) RunCommand(*command);
}

void MainToolbar::RunCommand(ToolbarCommand command) {
    const platform::WindowId self = IdOf(this);
    switch (command) {
        case ToolbarCommand::Write:
            onWrite();
            break;
        case ToolbarCommand::Grid:
            EntryEditor::ShowModal(this, state_, shell_);
            DropTopmost(shell_.windows, state_.options, self);
            break;
        case ToolbarCommand::Option:
            OptionsDialog::ShowModal(this, state_, shell_);
            DropTopmost(shell_.windows, state_.options, self);
            break;
        case ToolbarCommand::Help:
            shell_.help.Open(self, 1);
            break;
        case ToolbarCommand::Min:
            showMinimized();
            break;
        case ToolbarCommand::Exit:
            close();
            break;
    }
}

void MainToolbar::FillFromShortcut(platform::WindowId active) {
    if (filling_ || closing_ || !state_.loaded || QApplication::activeModalWidget()) return;
    filling_ = true;
    FillCommand::Toolbar toolbar = RoadToolbar(shell_.messages, IdOf(this));
    toolbar.choose = [this, active](const std::vector<Candidate>& candidates,
                                    const std::function<void(const std::string&)>& fill) {
        CandidateList::ShowModal(shell_, nullptr, state_.options, candidates, fill, active);
    };
    FillCommand(shell_.desktop(), state_, std::move(toolbar)).WriteActive(active);
    // The list takes the toolbar out of its band on the way; a toolbar the user minimised stays
    // so.
    if (!isMinimized()) PlaceMainWindow();
    filling_ = false;
}

void MainToolbar::onWrite() {
    if (filling_) return;
    filling_ = true;
    FillCommand::Toolbar toolbar = RoadToolbar(shell_.messages, IdOf(this));
    toolbar.place = [this] { PlaceMainWindow(); };
    toolbar.choose = [this](const std::vector<Candidate>& candidates,
                            const std::function<void(const std::string&)>& fill) {
        CandidateList::ShowModal(shell_, this, state_.options, candidates, fill);
    };
    FillCommand(shell_.desktop(), state_, std::move(toolbar)).Write();
    // The press leaves the toolbar out of its band on some roads (the list's fill activates the
    // browser over it), and a show() on a visible window restacks nothing: put it back,
    // however the press ended.
    PlaceMainWindow();
    filling_ = false;
}
