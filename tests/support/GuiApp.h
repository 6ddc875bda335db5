// The one QApplication of a GUI test program, made on first use, and waits that count as
// test failures when they run out (Qt's QTRY_ macros only print outside a Qt test run).
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>

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
        QTest::qWaitFor([&] { return (actual) == (expected); }, 5000); \
        EXPECT_EQ(actual, expected);                                   \
    } while (0)
