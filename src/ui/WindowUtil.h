// Small helpers every window uses: twips, the Japanese fonts, window handles, placement.
#pragma once

#include <QFont>
#include <QString>
#include <QWidget>

class QPushButton;
#include <string>

#include "platform/WindowId.h"
#include "platform/WindowStack.h"

// Screen twips per horizontal pixel (15 at 96 dpi).
double TwipsPerPixelX();
double TwipsPerPixelY();
// Twips to whole pixels on this screen.
int TwipsToPxX(double twips);
int TwipsToPxY(double twips);
// Pixels to twips.
double PxToTwipsX(double px);
double PxToTwipsY(double px);

// Sets a widget's geometry from twips, relative to its parent's client area.
void SetGeometryTwips(QWidget* w, int left, int top, int width, int height);
// Gives a top-level window a fixed client area in twips.
void SetFixedClientTwips(QWidget* window, int width, int height);

// The Windows Japanese fonts' stand-ins: ＭＳ Ｐゴシック (proportional) and ＭＳ ゴシック.
QFont PGothic(double pointSize, bool bold = false, bool italic = false);
QFont Gothic(double pointSize, bool bold = false, bool italic = false);

// The window's handle as the platform layer knows it (creates the native window if needed).
platform::WindowId IdOf(QWidget* window);

// Puts `window`'s outer top-left corner on `anchor`'s outer top-left corner, moved as little as
// it takes for the window to lie wholly on the usable area of the anchor's screen. Call it once
// the window has its size.
void PlaceAtTopLeftOf(QWidget* window, const QWidget* anchor);
// Puts `window` over the middle of another program's window `over`, wholly on the usable area
// of its screen. Where `windows` does not tell its place (Wayland), or `over` is 0, in the middle
// of the screen the pointer is on (the primary screen where it cannot tell).
void PlaceInMiddleOf(QWidget* window, platform::WindowStack& windows, platform::WindowId over);

// A push button that never becomes the window's default: Enter presses only the focused one.
QPushButton* PlainButton(QWidget* parent, const char* objectName, const char* caption);

// In `window`, Enter presses the push button that has the keyboard focus, as Space already
// does, without making any button the window's default.
void EnterPressesFocusedButton(QWidget* window);
// In `window` (a dialog), Escape closes nothing: only its own buttons and close box do.
void EscapeClosesNothing(QWidget* window);

// The window flags of the program's fixed-size dialogs: a title bar with a close box only.
inline constexpr Qt::WindowFlags kFixedDialogFlags = Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint |
                                                     Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                                     Qt::WindowCloseButtonHint;
// What a fixed-size window of the program is given first: its name, title, the program's icon,
// its font and its client area in twips.
void SetUpFixedWindow(QWidget* window, const char* objectName, const char* title, const QFont& font,
                      int widthTwips, int heightTwips);

// Text conversions at the boundary between the logic (UTF-8 std::string) and Qt.
inline QString Q(const std::string& s) {
    return QString::fromStdString(s);
}
inline std::string S(const QString& s) {
    return s.toStdString();
}

// Rounds to the nearest integer, a tie to the even one.
long RoundHalfEven(double v);
