#include "ui/Startup.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <QWidget>
#include <cstdlib>

#include "core/EntryFile.h"
#include "core/FillCommand.h"
#include "platform/Desktop.h"
#include "platform/SingleInstance.h"
#include "ui/MainToolbar.h"
#include "ui/WindowUtil.h"

namespace {
// Held for the whole run by the copy that runs.
std::unique_ptr<platform::SingleInstance> g_instance;

platform::WindowId LastActiveWindow() {
    // A modal dialog, when one is open, is the window the user was working in.
    if (QWidget* modal = QApplication::activeModalWidget()) return IdOf(modal);
    if (QWidget* active = QApplication::activeWindow()) return IdOf(active);
    if (MainToolbar* main = MainToolbar::Instance()) return IdOf(main);
    return 0;
}
}  // namespace

void ActivatePrevInstance() {
    g_instance = platform::SingleInstance::Claim();
    if (const std::string failure = g_instance->Failure(); !failure.empty()) {
        platform::TheDesktop().MsgBox(failure + "\r\nPenrika を終了します。", platform::MsgOk,
                                      ErrorTitle);
        std::exit(1);
    }
    if (g_instance->IsPrimary()) {
        g_instance->Serve(LastActiveWindow);
        return;
    }
    platform::Desktop& d = platform::TheDesktop();
    platform::WindowId w = g_instance->RunningCopyWindow(2000);
    if (w != 0) {
        if (d.IsMinimized(w)) d.Restore(w);
        for (int attempt = 1; attempt <= 10; ++attempt) {
            d.RequestActivate(w);
            QApplication::processEvents();
            if (d.WaitActive(w, 100)) break;
        }
    }
    std::exit(0);
}

bool InstallQtTranslations() {
    auto* translator = new QTranslator(QCoreApplication::instance());
    if (!translator->load(QLocale(QLocale::Japanese, QLocale::Japan), "qtbase", "_",
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}

bool Main(AppState& state) {
    ActivatePrevInstance();
    auto* main = new MainToolbar(state);
    try {
        main->Load();
    } catch (const EntryFileError& err) {
        platform::TheDesktop().MsgBox(std::string(err.what()) + "\r\nPenrika を終了します。",
                                      platform::MsgOk, ErrorTitle);
        delete main;
        return false;
    }
    main->show();
    return true;
}
