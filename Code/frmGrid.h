#pragma once
class QWidget;
// PLACEHOLDER: the entry editor.
class frmGrid {
public:
    static void ShowModal(QWidget* owner);
};
