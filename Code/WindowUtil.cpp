#include "WindowUtil.h"

#include <QFontDatabase>
#include <QGuiApplication>
#include <QScreen>
#include <cmath>

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
    return JapaneseFont({"IPAPGothic", "IPAexGothic", "Noto Sans CJK JP", "VL PGothic", "Sans"},
                        pointSize, bold, italic);
}

QFont Gothic(double pointSize, bool bold, bool italic) {
    return JapaneseFont({"IPAGothic", "Noto Sans Mono CJK JP", "VL Gothic", "Monospace"}, pointSize,
                        bold, italic);
}

platform::WindowId IdOf(QWidget* window) {
    return static_cast<platform::WindowId>(window->window()->winId());
}

void PlaceAtTopLeftOf(QWidget* window, const QWidget* anchor) {
    window->move(anchor->window()->frameGeometry().topLeft());
}

long RoundHalfEven(double v) {
    return std::lrint(std::nearbyint(v));
}
