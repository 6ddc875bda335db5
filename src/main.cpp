#include <QApplication>
#include <QPointer>
#include <memory>
#include <vector>

#include "core/EntryFile.h"
#include "platform/Signals.h"
#ifdef _WIN32
#include "platform/win32/Win32Desktop.h"
#else
#include "core/Titles.h"
#include "platform/wayland/GnomeDesktop.h"
#include "platform/wayland/WaylandDesktop.h"
#include "platform/x11/X11Desktop.h"
#endif
#include "ui/HelpViewer.h"
#include "ui/MainToolbar.h"
#include "ui/MessageBoxes.h"
#include "ui/Startup.h"

int main(int argc, char** argv) {
    if (std::optional<int> answered = AnswerCommandLine(argc, argv)) return *answered;
#ifndef _WIN32
    // Wayland natively where the compositor lets the program see and type into other programs'
    // windows; X11 otherwise (through XWayland in a Wayland session).
    const bool wayland = platform::ChooseWayland();
#endif
    QApplication app(argc, argv);
    QApplication::setApplicationName("Penrika");
    // The name the desktop knows the program by: its windows' app id on Wayland, which the
    // desktop file and KWin's grant of its interfaces go by.
    QGuiApplication::setDesktopFileName("jp.tamsel.Penrika");
    QApplication::setQuitOnLastWindowClosed(false);
    InstallQtTranslations();
    // The parts of the desktop this program runs on, and the program's own message boxes and
    // help, for every window.
#ifdef _WIN32
    platform::Win32Desktop win32;
    const platform::Desktop desktop = win32.Parts();
#else
    std::unique_ptr<platform::WaylandDesktop> native;
    std::unique_ptr<platform::GnomeDesktop> gnome;
    std::unique_ptr<platform::X11Desktop> x11;
    if (wayland)
        native = std::make_unique<platform::WaylandDesktop>(
            QGuiApplication::desktopFileName().toStdString());
    else if (!(gnome = platform::GnomeDesktop::InSession(QGuiApplication::desktopFileName())))
        x11 = std::make_unique<platform::X11Desktop>();
    const platform::Desktop desktop =
        native ? native->Parts() : gnome ? gnome->Parts() : x11->Parts();
#endif
    MessageBoxes messages;
    HelpViewer help;
#ifdef _WIN32
    platform::GlobalShortcut& shortcut = win32.shortcut();
    const bool toolbarTakesNoFocus = false;
#else
    platform::GlobalShortcut& shortcut =
        native ? native->shortcut() : gnome ? gnome->shortcut() : x11->shortcut();
    const bool toolbarTakesNoFocus = gnome != nullptr;
    if (gnome) {
        gnome->SetMessages(
            [&messages](const std::string& text) {
                return messages.Box(text, MsgOkCancelInfo, AppTitle) == MsgAnswerOk;
            },
            [&messages](const std::string& text) { messages.Box(text, MsgOk, ErrorTitle); });
    }
#endif
    const Shell shell{desktop.windows, desktop.keyboard, desktop.clipboard, messages, help,
                      shortcut, toolbarTakesNoFocus};
    // The entries and options, for the whole run.
    AppState state;
    // A kill, hang-up or Ctrl+C closes the toolbar as a close request would, saving the entries.
    // Before the entries are read (a start-up message is open, say) there is nothing to save
    // and no event loop to quit yet: the program ends there and then.
    QPointer<MainToolbar> toolbar;
    platform::OnTerminationRequest(&app, [&state, &toolbar] {
        if (!toolbar || !state.loaded) platform::EndAsTerminated();
        toolbar->CloseForShutdown();
    });
    // The end of the desktop session saves as a close does.
    QObject::connect(&app, &QGuiApplication::commitDataRequest, [&state](QSessionManager&) {
        if (!state.loaded) return;
        try {
            SaveEntries(state.entries);
        } catch (const EntryFileError&) {
            // Reported when the window closes.
        }
    });
    toolbar = Main(state, shell, FillRequested(argc, argv));
    if (!toolbar) return 1;
    int rc = app.exec();
    // Windows go before the desktop layer that watches them.
    // (Guarded: deleting a window also deletes the dialogs it owns.)
    std::vector<QPointer<QWidget>> windows;
    for (QWidget* w : QApplication::topLevelWidgets()) windows.emplace_back(w);
    for (QPointer<QWidget>& w : windows) delete w.data();
    return rc;
}
