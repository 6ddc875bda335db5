// The program's help: an in-program window showing the Japanese help pages, one page per
// context number (1 toolbar, 11 entry editor, 12 options, 19 candidate list).
#pragma once

#include "platform/WindowId.h"
#include "ui/Shell.h"

class QWidget;

// Opens topic `context` (the contents page for a number without a page of its own) and brings
// the help window forward. The window is created once and reused; `owner` is the asking window.
void ShowHelpWindow(platform::WindowId owner, int context);
// Closes the help window if it is open.
void CloseHelpWindow();
// The context number of the page the help window shows; 0 when it is closed or shows a page
// without a number (the contents, the key notation).
int CurrentHelpTopic();

// The help window while it exists, else nullptr (for tests and screenshots).
QWidget* HelpWindow();

// The help the windows open: this window.
class HelpViewer : public Help {
  public:
    void Open(platform::WindowId owner, int context) override { ShowHelpWindow(owner, context); }
    void Close() override { CloseHelpWindow(); }
};
