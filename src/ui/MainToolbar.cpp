#include "ui/MainToolbar.h"

#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QIcon>
#include <QToolButton>

#include "core/AppState.h"
#include "core/EntryFile.h"
#include "core/FillCommand.h"
#include "platform/Desktop.h"
#include "ui/EntryEditor.h"
#include "ui/OptionsDialog.h"
#include "ui/Resources.h"
#include "ui/WindowUtil.h"

namespace {
MainToolbar* g_instance = nullptr;

const char* const kTooltips[6] = {"記入", "データー編集", "設定", "ヘルプ", "最小化", "終了"};
const char* const kIcons[6] = {":/icons/write.svg", ":/icons/grid.svg", ":/icons/option.svg",
                               ":/icons/help.svg",  ":/icons/min.svg",  ":/icons/exit.svg"};
}  // namespace

MainToolbar::MainToolbar() : QWidget(nullptr, Qt::Window | Qt::MSWindowsFixedSizeDialogHint) {
    g_instance = this;
    setObjectName("MainToolbar");
    setWindowTitle("Penrika");
    setWindowIcon(QIcon(":/icons/penrika.svg"));
    // Client area 2070 x 390 twips, filled by the toolbar.
    SetFixedClientTwips(this, 2070, 390);
    // The buttons carry only images, and the browser, not this window, is active while the user
    // works: their names must show on hover all the same.
    setAttribute(Qt::WA_AlwaysShowToolTips);
    BuildToolbar();
}

MainToolbar::~MainToolbar() {
    if (g_instance == this) g_instance = nullptr;
}

MainToolbar* MainToolbar::Instance() {
    return g_instance;
}

void MainToolbar::BuildToolbar() {
    InitResources();
    Toolbar1_ = new QWidget(this);
    Toolbar1_->setObjectName("Toolbar1");
    auto* row = new QHBoxLayout(Toolbar1_);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    for (int i = 0; i < 6; ++i) {
        auto* b = new QToolButton(Toolbar1_);
        const QString key = kKeys[i];
        b->setObjectName(key);
        b->setToolTip(QString::fromUtf8(kTooltips[i]));
        b->setIcon(QIcon(kIcons[i]));
        // 16 x 16 images on 23 x 22 buttons at 15 twips per pixel; scaled at other resolutions.
        b->setIconSize(QSize(TwipsToPxX(240), TwipsToPxY(240)));
        b->setAutoRaise(true);
        // Six buttons share the client width exactly, whatever the rounding at this resolution.
        b->setFixedSize(TwipsToPxX(2070) / 6, TwipsToPxY(330));
        b->setFocusPolicy(Qt::NoFocus);
        connect(b, &QToolButton::clicked, this, [this, key] { Toolbar1_ButtonClick(key); });
        row->addWidget(b);
    }
    row->addStretch(1);
    Toolbar1_->setGeometry(0, 0, width(), height());
}

QToolButton* MainToolbar::Button(const QString& key) const {
    return Toolbar1_ ? Toolbar1_->findChild<QToolButton*>(key) : nullptr;
}

void MainToolbar::Form_Load() {
    loading_ = true;
    LoadEntries();
    LoadOptions();
    MainHwnd = IdOf(this);
    PlaceMainWindow();
    loading_ = false;
}

void MainToolbar::PlaceMainWindow() {
    MainHwnd = IdOf(this);
    // While loading, the window stays hidden; afterwards the call also shows it.
    platform::TheDesktop().SetTopmost(MainHwnd, Options[AlwaysOnTop], !loading_);
}

void MainToolbar::Form_Activate() {
    PlaceMainWindow();
}

bool MainToolbar::event(QEvent* e) {
    if (e->type() == QEvent::WindowActivate) Form_Activate();
    return QWidget::event(e);
}

void MainToolbar::changeEvent(QEvent* e) {
    QWidget::changeEvent(e);
}

bool MainToolbar::Form_QueryUnload() {
    platform::Desktop& d = platform::TheDesktop();
    d.CloseHelp();
    try {
        SaveEntries();
    } catch (const EntryFileError& err) {
        d.MsgBox(std::string(err.what()) +
                     "\r\n登録内容はメモリーに残っています。保存できるようにしてから、"
                     "もう一度終了してください。",
                 platform::MsgOk, ErrorTitle);
        return false;
    }
    return true;
}

void MainToolbar::closeEvent(QCloseEvent* e) {
    if (closing_) {
        e->accept();
        return;
    }
    if (!Form_QueryUnload()) {
        // Nothing is lost: the window stays and the entries stay in memory.
        e->ignore();
        return;
    }
    closing_ = true;
    e->accept();
    QApplication::quit();
}

void MainToolbar::CloseForShutdown() {
    close();
}

void MainToolbar::Toolbar1_ButtonClick(const QString& key) {
    if (key == "Write") {
        WriteCommand();
    } else if (key == "Grid") {
        EntryEditor::ShowModal(this);
        DropTopmost(MainHwnd);
    } else if (key == "Option") {
        OptionsDialog::ShowModal(this);
        DropTopmost(MainHwnd);
    } else if (key == "Help") {
        ShowHelp(IdOf(this), 1);
    } else if (key == "Min") {
        showMinimized();
    } else if (key == "Exit") {
        close();
    }
}
