// The main toolbar window: six image buttons, the program's only way in to its functions.
#pragma once

#include <QString>
#include <QPoint>
#include <QWidget>
#include <optional>
#include <string>

#include "core/AppState.h"
#include "ui/Shell.h"

class QToolButton;

// The toolbar's commands, left to right.
enum class ToolbarCommand { Write, Grid, Option, Help, Min, Exit };

class MainToolbar : public QWidget {
    Q_OBJECT
  public:
    // The buttons' keys (their object names), left to right.
    static constexpr const char* kKeys[6] = {"Write", "Grid", "Option", "Help", "Min", "Exit"};
    // The command a key names, exactly and case-sensitively; nullopt for any other text.
    static std::optional<ToolbarCommand> CommandNamed(const QString& key);

    // The toolbar hands `shell` on to every window it opens.
    MainToolbar(AppState& state, const Shell& shell);
    ~MainToolbar() override;

    // Runs once after construction, with the window still hidden: loads the entries and the
    // options, and puts the window in its band. Returns what the load found that the user is
    // to be told (empty when nothing). Throws EntryFileError.
    std::string Load();
    void RunCommand(ToolbarCommand command);
    // Runs the command a key names; any other key runs nothing.
    void RunCommandNamed(const QString& key);
    // The toolbar button with that key (for tests and screenshots), or nullptr.
    QToolButton* Button(const QString& key) const;

    // Closes the window for a reason other than the user's close (signal, session end): the
    // entries are saved exactly as for Exit.
    void CloseForShutdown();
    // One fill from the shortcut or `penrika --fill` into `active`, the window that was active
    // at the press. Nothing while a fill runs or one of the program's dialogs is open.
    void FillFromShortcut(platform::WindowId active);
    // Takes the stored shortcut for the desktop; what the user is to be told when it cannot be
    // had (empty when nothing).
    std::string TakeShortcut();

    AppState& State() { return state_; }

  protected:
    bool event(QEvent* e) override;
    // Where the toolbar has no frame, a drag that starts on a button moves it.
    bool eventFilter(QObject* watched, QEvent* e) override;
    void closeEvent(QCloseEvent* e) override;

  private:
    // Returns false when the entries could not be saved (the window then stays open).
    bool SaveBeforeClose();
    void PlaceMainWindow();
    // One press of 記入: the fill road, with the candidate list as its chooser.
    void onWrite();

    void BuildToolbar();

    AppState& state_;
    const Shell shell_;
    bool loading_ = false;
    bool closing_ = false;
    bool filling_ = false;
    QWidget* toolbar_ = nullptr;
    QPoint dragFrom_;  // where a press on a button began
};
