#include "frmOption.h"
void frmOption::ShowModal(QWidget*) {}
