#include "ui/WindowUtil.h"

#include <QCursor>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QIcon>
#include <QKeyEvent>
#include <QPushButton>
#include <QScreen>
#include <cmath>

#include "core/Placement.h"
#include "ui/Resources.h"

namespace {
double Dpi(bool x) {
    const QScreen* s = QGuiApplication::primaryScreen();
    if (!s) return 96.0;
    double dpi = x ? s->logicalDotsPerInchX() : s->logicalDotsPerInchY();
    return dpi > 0 ? dpi : 96.0;
}

QFont JapaneseFont(const QStringList& families, double pointSize, bool bold, bool italic) {
    QFont f;
    f.setFamilies(families);
    f.setPointSizeF(pointSize);
    f.setBold(bold);
    f.setItalic(italic);
    f.setStyleHint(QFont::SansSerif);
    return f;
}

// What the window manager's frame adds around a top-level window's client area.
QMargins FrameOf(const QWidget* w) {
    const QRect f = w->frameGeometry(), g = w->geometry();
    return {g.left() - f.left(), g.top() - f.top(), f.right() - g.right(), f.bottom() - g.bottom()};
}

// Watches a window for the Enter a focused button left unhandled: a button that is not the
// default passes Enter on to its window.
class EnterPresser : public QObject {
  public:
    using QObject::QObject;

  protected:
    bool eventFilter(QObject* watched, QEvent* e) override {
        if (e->type() != QEvent::KeyPress) return false;
        const auto* k = static_cast<QKeyEvent*>(e);
        if (k->key() != Qt::Key_Return && k->key() != Qt::Key_Enter) return false;
        if ((k->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier) return false;
        auto* button = qobject_cast<QPushButton*>(static_cast<QWidget*>(watched)->focusWidget());
        if (!button) return false;
        // A held key presses once, so that holding Enter on 追加 does not add the entry twice.
        if (!k->isAutoRepeat()) button->click();
        return true;
    }
};

// Takes the Escape that a dialog would close itself on.
class EscapeEater : public QObject {
  public:
    using QObject::QObject;

  protected:
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() != QEvent::KeyPress || static_cast<QKeyEvent*>(e)->key() != Qt::Key_Escape)
            return false;
        e->accept();
        return true;
    }
};
}  // namespace

double TwipsPerPixelX() {
    return 1440.0 / Dpi(true);
}
double TwipsPerPixelY() {
    return 1440.0 / Dpi(false);
}
int TwipsToPxX(double twips) {
    return static_cast<int>(std::lround(twips / TwipsPerPixelX()));
}
int TwipsToPxY(double twips) {
    return static_cast<int>(std::lround(twips / TwipsPerPixelY()));
}
double PxToTwipsX(double px) {
    return px * TwipsPerPixelX();
}
double PxToTwipsY(double px) {
    return px * TwipsPerPixelY();
}

void SetGeometryTwips(QWidget* w, int left, int top, int width, int height) {
    w->setGeometry(TwipsToPxX(left), TwipsToPxY(top), TwipsToPxX(width), TwipsToPxY(height));
}

void SetFixedClientTwips(QWidget* window, int width, int height) {
    window->setFixedSize(TwipsToPxX(width), TwipsToPxY(height));
}

QFont PGothic(double pointSize, bool bold, bool italic) {
    // Linux's free faces first, then Windows' own.
    return JapaneseFont({"IPAPGothic", "IPAexGothic", "Noto Sans CJK JP", "VL PGothic",
                         "MS PGothic", "Meiryo UI", "Yu Gothic UI", "Sans"},
                        pointSize, bold, italic);
}

QFont Gothic(double pointSize, bool bold, bool italic) {
    return JapaneseFont({"IPAGothic", "Noto Sans Mono CJK JP", "VL Gothic", "MS Gothic",
                         "BIZ UDGothic", "Monospace"},
                        pointSize, bold, italic);
}

platform::WindowId IdOf(QWidget* window) {
    return static_cast<platform::WindowId>(window->window()->winId());
}

void PlaceAtTopLeftOf(QWidget* window, const QWidget* anchor) {
    const QWidget* a = anchor->window();
    const QPoint corner = a->frameGeometry().topLeft();
    // A window not shown yet has no frame; the window manager will give it one like the
    // anchor's, so the anchor's stands in for it.
    QMargins frame = FrameOf(window);
    if (frame.isNull()) frame = FrameOf(a);
    const QSize outer = window->size().grownBy(frame);
    const QScreen* screen = a->screen();
    if (!screen) {
        window->move(corner);
        return;
    }
    const QRect area = screen->availableGeometry();
    const ScreenRect placed = KeepWithin({corner.x(), corner.y(), outer.width(), outer.height()},
                                         {area.x(), area.y(), area.width(), area.height()});
    window->move(placed.left, placed.top);
}

void PlaceInMiddleOf(QWidget* window, platform::WindowStack& windows, platform::WindowId over) {
    QRect target;
    int x = 0, y = 0, w = 0, h = 0;
    if (over && windows.Place(over, x, y, w, h)) target = QRect(x, y, w, h);
    const QScreen* screen =
        QGuiApplication::screenAt(target.isValid() ? target.center() : QCursor::pos());
    if (!screen) screen = QGuiApplication::primaryScreen();
    if (!screen) return;
    const QRect area = screen->availableGeometry();
    if (!target.isValid()) target = area;
    const QSize outer = window->size().grownBy(FrameOf(window));
    const ScreenRect placed =
        KeepWithin({target.center().x() - outer.width() / 2,
                    target.center().y() - outer.height() / 2, outer.width(), outer.height()},
                   {area.x(), area.y(), area.width(), area.height()});
    window->move(placed.left, placed.top);
}

void EnterPressesFocusedButton(QWidget* window) {
    window->installEventFilter(new EnterPresser(window));
}

void EscapeClosesNothing(QWidget* window) {
    window->installEventFilter(new EscapeEater(window));
}

void SetUpFixedWindow(QWidget* window, const char* objectName, const char* title, const QFont& font,
                      int widthTwips, int heightTwips) {
    InitResources();
    window->setObjectName(objectName);
    window->setWindowTitle(QString::fromUtf8(title));
    window->setWindowIcon(QIcon(ImagePath("penrika")));
    window->setFont(font);
    SetFixedClientTwips(window, widthTwips, heightTwips);
}

long RoundHalfEven(double v) {
    return std::lrint(std::nearbyint(v));
}

QPushButton* PlainButton(QWidget* parent, const char* objectName, const char* caption) {
    auto* b = new QPushButton(QString::fromUtf8(caption), parent);
    b->setObjectName(objectName);
    b->setAutoDefault(false);
    b->setDefault(false);
    return b;
}
