// The options dialog: keep the windows on top; confirm before typing into a form; the fill
// shortcut.
#pragma once

#include <QDialog>
#include <QKeyCombination>
#include <QLineEdit>
#include <string>

#include "core/AppState.h"
#include "ui/Shell.h"

class QCheckBox;
class QLabel;
class QPushButton;

// What to tell the user when the shortcut `combo` came out of GlobalShortcut::Take as `outcome`;
// empty when it was taken or given up.
std::string ShortcutRefusal(platform::GlobalShortcut::Outcome outcome, const std::string& combo);

// A field that takes one key combination as the user presses it. Plain Tab and Shift+Tab still
// move on, and plain Backspace or Delete empties it; a key alone (but a function key) is no
// combination for the whole desktop and is not taken.
class ShortcutEdit : public QLineEdit {
    Q_OBJECT
  public:
    explicit ShortcutEdit(QWidget* parent);
    // The combination in Qt's portable text ("Ctrl+Alt+K"), "" for none.
    std::string Portable() const { return portable_; }
    void SetPortable(const std::string& text);

  protected:
    bool event(QEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;

  private:
    std::string portable_;
};

class OptionsDialog : public QDialog {
    Q_OBJECT
  public:
    // Shows the dialog modally over `owner` and returns when it has closed.
    static void ShowModal(QWidget* owner, AppState& state, const Shell& shell);
    OptionsDialog(QWidget* owner, AppState& state, const Shell& shell);

    // Places the dialog on its owner's (the toolbar's) corner, sets the boxes from the options,
    // applies the band.
    void Load();

  private:
    void onOk();
    void onVersion();
    void onHelp();
    void SaveOptions();
    // Takes the combination in the field for the desktop; false (having told the user why)
    // when it cannot be had.
    bool TakeShortcut();

    QPushButton* versionButton_ = nullptr;
    QPushButton* okButton_ = nullptr;
    QCheckBox* onTopBox_ = nullptr;
    QCheckBox* confirmBox_ = nullptr;
    QPushButton* helpButton_ = nullptr;
    QLabel* shortcutLabel_ = nullptr;
    ShortcutEdit* shortcutEdit_ = nullptr;
    AppState& state_;
    const Shell shell_;
};
