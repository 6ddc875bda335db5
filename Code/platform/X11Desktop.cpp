// PLACEHOLDER: the X11 desktop layer.
#include "platform/X11Desktop.h"

#include <QMessageBox>

namespace platform {
namespace {
class StubDesktop : public Desktop {
public:
    std::vector<WindowId> WindowsBelow(WindowId) override { return {}; }
    std::vector<WindowId> TopLevelWindows() override { return {}; }
    bool IsVisible(WindowId) override { return false; }
    std::string Caption(WindowId) override { return {}; }
    WindowId Owner(WindowId) override { return 0; }
    bool IsOwnWindow(WindowId) override { return false; }
    void SetTopmost(WindowId, bool, bool) override {}
    bool IsTopmost(WindowId) override { return false; }
    void RequestActivate(WindowId) override {}
    WindowId ActiveWindow() override { return 0; }
    bool WaitActive(WindowId, int) override { return false; }
    bool IsMinimized(WindowId) override { return false; }
    void Restore(WindowId) override {}
    bool WaitModifiersReleased(int) override { return true; }
    std::size_t Type(const std::vector<KeyStroke>&, WindowId) override { return 0; }
    bool ClipboardHasText() override { return false; }
    std::string ClipboardText() override { return {}; }
    void ClipboardClear() override {}
    bool WaitClipboardText(int) override { return false; }
    int MsgBox(const std::string& prompt, int, const std::string& title) override {
        QMessageBox::information(nullptr, QString::fromStdString(title),
                                 QString::fromStdString(prompt));
        return MsgAnswerOk;
    }
    void ShowHelp(WindowId, int) override {}
    void CloseHelp() override {}
};
}  // namespace
std::unique_ptr<Desktop> CreateX11Desktop() { return std::make_unique<StubDesktop>(); }
}  // namespace platform
