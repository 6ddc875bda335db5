// The version information window, shown from the options dialog.
#pragma once

#include <QDialog>

#include "core/AppState.h"
#include "ui/Shell.h"

class QPushButton;

class AboutDialog : public QDialog {
    Q_OBJECT
  public:
    // Shows the window modally over `owner` (the options dialog) and returns when it has closed.
    static void ShowModal(QWidget* owner, const Options& options, const Shell& shell);
    AboutDialog(QWidget* owner, const Shell& shell);

    // Places the window on its owner's (the options dialog's) corner and applies the band.
    void Load(const Options& options);

  public slots:
    // Escape and the close box press OK.
    void reject() override;

  protected:
    void paintEvent(QPaintEvent* e) override;

  private:
    void onOk();

    QPushButton* okButton_ = nullptr;
    const Shell shell_;
};
