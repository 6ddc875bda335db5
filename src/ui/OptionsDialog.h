// The options dialog: keep the windows on top; confirm before typing into a form.
#pragma once

#include <QDialog>

#include "core/AppState.h"
#include "ui/Shell.h"

class QCheckBox;
class QPushButton;

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

    QPushButton* versionButton_ = nullptr;
    QPushButton* okButton_ = nullptr;
    QCheckBox* onTopBox_ = nullptr;
    QCheckBox* confirmBox_ = nullptr;
    QPushButton* helpButton_ = nullptr;
    AppState& state_;
    const Shell shell_;
};
