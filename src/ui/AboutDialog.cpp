#include "ui/AboutDialog.h"

#include <QIcon>
#include <QLabel>
#include <QPainter>
#include <QPushButton>

#include "core/Placement.h"
#include "ui/Resources.h"
#include "ui/WindowUtil.h"

namespace {
// A label at its designed place, grown where the font would otherwise cut its text off.
QLabel* FixedLabel(QWidget* parent, const char* name, const char* text, const QFont& font, int left,
                   int top, int width, int height) {
    auto* l = new QLabel(QString::fromUtf8(text), parent);
    l->setObjectName(name);
    l->setFont(font);
    l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    SetGeometryTwips(l, left, top, width, height);
    const QSize need = l->sizeHint();
    l->resize(std::max(l->width(), need.width()), std::max(l->height(), need.height()));
    return l;
}
}  // namespace

AboutDialog::AboutDialog(QWidget* owner, const Shell& shell)
    : QDialog(owner, kFixedDialogFlags), shell_(shell) {
    // The options dialog is disabled while this window is open; this window is not.
    setEnabled(true);
    SetUpFixedWindow(this, "AboutDialog", "Penrika  for IE- ﾊﾞｰｼﾞｮﾝ情報", Gothic(9), 4650, 2745);

    okButton_ = new QPushButton("OK", this);
    okButton_->setObjectName("cmdOK");
    okButton_->setFont(PGothic(9));
    SetGeometryTwips(okButton_, 2570, 2160, 1310, 345);
    okButton_->setAutoDefault(true);
    okButton_->setDefault(true);
    connect(okButton_, &QPushButton::clicked, this, &AboutDialog::onOk);

    auto* picIcon = new QLabel(this);
    picIcon->setObjectName("picIcon");
    SetGeometryTwips(picIcon, 240, 240, 480, 480);
    picIcon->setPixmap(QIcon(ImagePath("penrika")).pixmap(picIcon->size()));

    FixedLabel(this, "lblTitle", "Penrika", PGothic(15.75, true), 1800, 120, 1365, 315);
    FixedLabel(this, "Label3", "for Internet Explorer", Gothic(9.75, false, true), 1320, 480, 2205,
               195);
    FixedLabel(this, "Label1", "Version 1.1", PGothic(11.25, true), 1830, 720, 1305, 225);
}

void AboutDialog::ShowModal(QWidget* owner, const Options& options, const Shell& shell) {
    AboutDialog window(owner, shell);
    window.Load(options);
    window.exec();
}

void AboutDialog::Load(const Options& options) {
    if (parentWidget()) PlaceAtTopLeftOf(this, parentWidget());
    okButton_->setFocus();
    ApplyTopmost(shell_.windows, options, IdOf(this));
}

void AboutDialog::reject() {
    onOk();
}

void AboutDialog::onOk() {
    hide();
    done(Accepted);
}

void AboutDialog::paintEvent(QPaintEvent* e) {
    QDialog::paintEvent(e);
    // Line1: grey, from (120, 1920) to (4512, 1920) twips.
    QPainter p(this);
    p.setPen(QPen(QColor(128, 128, 128), 1));
    const int y = TwipsToPxY(1920);
    p.drawLine(TwipsToPxX(120), y, TwipsToPxX(4512), y);
}
