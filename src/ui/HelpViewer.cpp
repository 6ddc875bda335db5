#include "ui/HelpViewer.h"

#include <QApplication>
#include <QEvent>
#include <QHBoxLayout>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTextBrowser>
#include <QVBoxLayout>
#include <QWindow>

#include "ui/Resources.h"
#include "ui/WindowUtil.h"

namespace {

constexpr int kNumberedTopics[] = {1, 11, 12, 19};

QUrl TopicUrl(int context) {
    for (int n : kNumberedTopics) {
        if (n == context) return QUrl(QString("qrc:/help/topic%1.html").arg(n));
    }
    return QUrl("qrc:/help/index.html");
}

int TopicOfUrl(const QUrl& url) {
    const QString file = url.fileName();
    for (int n : kNumberedTopics) {
        if (file == QString("topic%1.html").arg(n)) return n;
    }
    return 0;
}

class HelpWindowImpl : public QWidget {
  public:
    HelpWindowImpl() : QWidget(nullptr, Qt::Window) {
        setObjectName("HelpWindow");
        setAttribute(Qt::WA_QuitOnClose, false);
        setWindowIcon(QIcon(ImagePath("penrika")));
        auto* column = new QVBoxLayout(this);
        column->setContentsMargins(4, 4, 4, 4);
        column->setSpacing(4);
        auto* row = new QHBoxLayout;
        row->setSpacing(4);
        auto* contents = new QPushButton(QString::fromUtf8("目次"), this);
        auto* back = new QPushButton(QString::fromUtf8("戻る"), this);
        auto* forward = new QPushButton(QString::fromUtf8("進む"), this);
        for (QPushButton* b : {contents, back, forward}) {
            b->setFont(PGothic(9));
            b->setAutoDefault(false);
            b->setFocusPolicy(Qt::TabFocus);
            row->addWidget(b);
        }
        row->addStretch(1);
        column->addLayout(row);
        browser_ = new QTextBrowser(this);
        browser_->setObjectName("HelpBrowser");
        browser_->setFont(PGothic(10.5));
        browser_->setOpenLinks(true);
        browser_->setOpenExternalLinks(false);
        column->addWidget(browser_, 1);
        back->setEnabled(false);
        forward->setEnabled(false);
        connect(contents, &QPushButton::clicked, this,
                [this] { browser_->setSource(QUrl("qrc:/help/index.html")); });
        connect(back, &QPushButton::clicked, browser_, &QTextBrowser::backward);
        connect(forward, &QPushButton::clicked, browser_, &QTextBrowser::forward);
        connect(browser_, &QTextBrowser::backwardAvailable, back, &QPushButton::setEnabled);
        connect(browser_, &QTextBrowser::forwardAvailable, forward, &QPushButton::setEnabled);
        connect(browser_, &QTextBrowser::sourceChanged, this, [this](const QUrl& url) {
            topic_ = TopicOfUrl(url);
            const QString title = browser_->documentTitle();
            setWindowTitle(QString::fromUtf8("Penrika ヘルプ") +
                           (title.isEmpty() ? QString() : " - " + title));
        });
        resize(620, 520);
    }

    void Open(int context) {
        const QUrl url = TopicUrl(context);
        // The same topic again starts from its top, as a fresh open would.
        if (browser_->source() == url)
            browser_->reload();
        else
            browser_->setSource(url);
        browser_->verticalScrollBar()->setValue(0);
        topic_ = TopicOfUrl(url);
    }

    int topic() const { return topic_; }

  protected:
    bool event(QEvent* e) override {
        // Help is read beside the window that asked for it, and the asking window is often a
        // modal dialog. Hang the help window off the blocking dialog so that it stays usable,
        // as a help viewer of its own would be.
        if (e->type() == QEvent::WindowBlocked) UnblockFromModal();
        return QWidget::event(e);
    }

  public:
    void UnblockFromModal() {
        QWindow* modal = QGuiApplication::modalWindow();
        QWindow* mine = windowHandle();
        if (!modal || !mine || modal == mine ||
            modal->isAncestorOf(mine, QWindow::IncludeTransients))
            return;
        mine->setTransientParent(modal);
    }

  private:
    QTextBrowser* browser_ = nullptr;
    int topic_ = 0;
};

QPointer<HelpWindowImpl> g_help;

}  // namespace

void ShowHelpWindow(platform::WindowId owner, int context) {
    InitResources();
    if (!g_help) {
        g_help = new HelpWindowImpl;
        // First opening: beside the asking window when there is room, else where the window
        // manager puts it.
        if (QWidget* asking = QWidget::find(static_cast<WId>(owner))) {
            const QRect a = asking->window()->frameGeometry();
            const QScreen* screen = asking->screen();
            const QRect room = screen ? screen->availableGeometry() : QRect();
            const QPoint at(a.left(), a.bottom() + 8);
            if (room.contains(QRect(at, g_help->frameSize()))) g_help->move(at);
        }
    }
    g_help->Open(context);
    g_help->winId();
    g_help->UnblockFromModal();
    if (g_help->isMinimized())
        g_help->showNormal();
    else
        g_help->show();
    g_help->raise();
    g_help->activateWindow();
}

void CloseHelpWindow() {
    if (!g_help) return;
    g_help->hide();
    delete g_help.data();
}

int CurrentHelpTopic() {
    return g_help && g_help->isVisible() ? g_help->topic() : 0;
}

QWidget* HelpWindow() {
    return g_help.data();
}
