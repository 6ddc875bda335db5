// PLACEHOLDER: the Write command.
#include "frmMain.h"
void frmMain::WriteCommand() {}
void frmMain::FindBrowser(unsigned long) {}
void frmMain::MatchItem(const std::string&) {}
