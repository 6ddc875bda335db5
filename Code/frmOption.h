#pragma once
class QWidget;
// PLACEHOLDER: the options dialog.
class frmOption {
public:
    static void ShowModal(QWidget* owner);
};
