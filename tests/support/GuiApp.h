// The one QApplication of a GUI test program, made on first use.
#pragma once

#include <QApplication>

inline QApplication& GuiApp() {
    static int argc = 1;
    static char name[] = "penrika-test";
    static char* argv[] = {name, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}
