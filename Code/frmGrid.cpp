#include "frmGrid.h"
void frmGrid::ShowModal(QWidget*) {}
