// The one QApplication of a GUI test program, made on first use, and waits that count as
// test failures when they run out (Qt's QTRY_ macros only print outside a Qt test run).
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QRect>
#include <QTest>
#include <QWidget>
#include <vector>

inline QApplication& GuiApp() {
    static int argc = 1;
    static char name[] = "penrika-test";
    static char* argv[] = {name, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

// Runs the event loop until `cond` holds, at most `ms` milliseconds; a failure if it never does.
#define EXPECT_SOON_WITHIN(cond, ms)                                          \
    EXPECT_TRUE(QTest::qWaitFor([&] { return static_cast<bool>(cond); }, ms)) \
        << "never held: " #cond
#define EXPECT_SOON(cond) EXPECT_SOON_WITHIN(cond, 5000)
// The same for an equality, printing both sides when it never holds.
#define EXPECT_SOON_EQ(actual, expected)                               \
    do {                                                               \
        (void)QTest::qWaitFor([&] { return (actual) == (expected); }, 5000); \
        EXPECT_EQ(actual, expected);                                   \
    } while (0)

// The outer rectangle a window not shown yet asks the window manager for: where it was moved, as
// large as its client area in a frame like that of `framed`, a window already shown. (Some
// window managers pull a window back onto the screen themselves, others place it as asked.)
inline QRect AskedFrame(const QWidget* w, const QWidget* framed) {
    const QRect f = framed->frameGeometry(), g = framed->geometry();
    return {w->pos(), w->size() + QSize(f.width() - g.width(), f.height() - g.height())};
}

// Where a window of outer size `outer` lies flush with each corner of `area` and with the middle
// of each of its edges: the places a toolbar may be dragged to.
struct ScreenPlace {
    const char* name;
    QPoint at;
};
inline std::vector<ScreenPlace> CornersAndEdges(QSize outer, const QRect& area) {
    const int left = area.left(), top = area.top();
    const int right = area.left() + area.width() - outer.width();
    const int bottom = area.top() + area.height() - outer.height();
    const int midX = (left + right) / 2, midY = (top + bottom) / 2;
    return {{"top left", {left, top}},         {"top", {midX, top}},
            {"top right", {right, top}},       {"right", {right, midY}},
            {"bottom right", {right, bottom}}, {"bottom", {midX, bottom}},
            {"bottom left", {left, bottom}},   {"left", {left, midY}}};
}
