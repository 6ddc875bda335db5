// The options dialog: keep the windows on top; confirm before typing into a form.
#pragma once

#include <QDialog>

class QCheckBox;
class QPushButton;

class OptionsDialog : public QDialog {
    Q_OBJECT
  public:
    // Shows the dialog modally over `owner` and returns when it has closed.
    static void ShowModal(QWidget* owner);
    // The dialog while it is open, else nullptr.
    static OptionsDialog* Current();

    explicit OptionsDialog(QWidget* owner);
    ~OptionsDialog() override;

    // Places the dialog on the toolbar's corner, sets the boxes from Options, applies the band.
    void Form_Load();

  protected:
    void keyPressEvent(QKeyEvent* e) override;

  private:
    void cmdOK_Click();
    void cmdVersion_Click();
    void cmdHelp_Click();
    void SaveOptions();

    QPushButton* cmdVersion_ = nullptr;
    QPushButton* cmdOK_ = nullptr;
    QCheckBox* chkOption1_ = nullptr;
    QCheckBox* chkOption2_ = nullptr;
    QPushButton* cmdHelp_ = nullptr;
};
