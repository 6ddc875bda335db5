// The desktop on Windows: z-order walks with GetWindow, the topmost band with SetWindowPos,
// activation with SetForegroundWindow, keys with SendInput; the clipboard and message boxes as
// every Qt desktop has them.
#include "platform/win32/Win32Desktop.h"

#include <dwmapi.h>
#include <windows.h>

#include <QApplication>
#include <QWidget>
#include <vector>

#include "platform/qt/QtDesktop.h"
#include "platform/win32/Win32Keyboard.h"
#include "platform/win32/Win32Support.h"

namespace platform {
namespace {

HWND Hwnd(WindowId w) {
    return reinterpret_cast<HWND>(w);
}
WindowId Id(HWND h) {
    return reinterpret_cast<WindowId>(h);
}

// Shown on the screen as far as the user can tell: visible, and not a window that the
// window manager keeps hidden (cloaked: suspended store apps, windows of other virtual desktops).
bool Shown(HWND h) {
    if (!IsWindowVisible(h)) return false;
    BOOL cloaked = FALSE;
    if (SUCCEEDED(DwmGetWindowAttribute(h, DWMWA_CLOAKED, &cloaked, sizeof cloaked)) && cloaked)
        return false;
    return true;
}

// The integrity level of a process's token (low, medium, high, system), or -1 when it cannot
// be read, as for a process running as administrator when this one does not.
long IntegrityOf(HANDLE process) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(process, TOKEN_QUERY, &token)) return -1;
    long level = -1;
    DWORD size = 0;
    GetTokenInformation(token, TokenIntegrityLevel, nullptr, 0, &size);
    std::vector<BYTE> buf(size);
    if (size && GetTokenInformation(token, TokenIntegrityLevel, buf.data(), size, &size)) {
        PSID sid = reinterpret_cast<TOKEN_MANDATORY_LABEL*>(buf.data())->Label.Sid;
        level = static_cast<long>(
            *GetSidSubAuthority(sid, *GetSidSubAuthorityCount(sid) - 1));
    }
    CloseHandle(token);
    return level;
}

// Windows drops keys sent to a window of a process above ours in integrity (one run as
// administrator) without saying so: such a window is not typed into at all.
bool RefusesOurKeys(HWND target) {
    DWORD pid = 0;
    GetWindowThreadProcessId(target, &pid);
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (!process) return true;
    const long theirs = IntegrityOf(process);
    CloseHandle(process);
    const long ours = IntegrityOf(GetCurrentProcess());
    return theirs < 0 ? ours >= 0 && ours < SECURITY_MANDATORY_HIGH_RID : theirs > ours;
}

QWidget* OwnWidget(WindowId w) {
    for (QWidget* t : QApplication::topLevelWidgets()) {
        if (t->testAttribute(Qt::WA_WState_Created) && t->internalWinId() == w) return t;
    }
    return nullptr;
}

class Win32Desktop : public QtDesktop {
  public:
    explicit Win32Desktop(HelpHooks help) : help_(std::move(help)) {}

    std::vector<WindowId> WindowsBelow(WindowId w) override {
        std::vector<WindowId> below;
        if (!w || !IsWindow(Hwnd(w))) return below;
        for (HWND h = GetWindow(Hwnd(w), GW_HWNDNEXT); h; h = GetWindow(h, GW_HWNDNEXT)) {
            if (Shown(h)) below.push_back(Id(h));
        }
        return below;
    }

    std::vector<WindowId> TopLevelWindows() override {
        std::vector<WindowId> all;
        EnumWindows(
            [](HWND h, LPARAM p) -> BOOL {
                if (Shown(h)) reinterpret_cast<std::vector<WindowId>*>(p)->push_back(Id(h));
                return TRUE;
            },
            reinterpret_cast<LPARAM>(&all));
        return all;
    }

    bool IsVisible(WindowId w) override {
        return w && Shown(Hwnd(w)) && !IsIconic(Hwnd(w));
    }

    std::string Caption(WindowId w) override {
        if (!w) return {};
        // Read from the window's own record: asking the window (WM_GETTEXT) would wait on a
        // program that hangs.
        std::wstring text(512, L'\0');
        int n = InternalGetWindowText(Hwnd(w), text.data(), static_cast<int>(text.size()));
        text.resize(static_cast<std::size_t>(n > 0 ? n : 0));
        return win32::ToUtf8(text);
    }

    WindowId Owner(WindowId w) override {
        return w ? Id(GetWindow(Hwnd(w), GW_OWNER)) : 0;
    }

    bool IsOwnWindow(WindowId w) override {
        DWORD pid = 0;
        return w && GetWindowThreadProcessId(Hwnd(w), &pid) && pid == GetCurrentProcessId();
    }

    void SetTopmost(WindowId w, bool above, bool show) override {
        if (!w) return;
        if (show) {
            if (QWidget* widget = OwnWidget(w); widget && !widget->isVisible()) {
                // Through Qt, which must know the window is shown.
                widget->setAttribute(Qt::WA_ShowWithoutActivating);
                widget->show();
            }
        }
        UINT flags = SWP_NOACTIVATE | SWP_NOMOVE | SWP_NOSIZE | (show ? SWP_SHOWWINDOW : 0);
        SetWindowPos(Hwnd(w), above ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0, flags);
    }

    bool IsTopmost(WindowId w) override {
        return w && (GetWindowLongPtrW(Hwnd(w), GWL_EXSTYLE) & WS_EX_TOPMOST);
    }

    void RequestActivate(WindowId w) override {
        HWND h = Hwnd(w);
        if (!w || !IsWindow(h)) return;
        if (GetForegroundWindow() == h) return;
        // The user has just clicked the toolbar, so this process may hand the foreground on.
        if (SetForegroundWindow(h) && GetForegroundWindow() == h) return;
        // Refused (the lock moved on, say after a message box): join the input of the thread
        // that holds the foreground, which lets the request through, and part again at once.
        const DWORD me = GetCurrentThreadId();
        const DWORD front = GetWindowThreadProcessId(GetForegroundWindow(), nullptr);
        const bool attached = front && front != me && AttachThreadInput(me, front, TRUE);
        BringWindowToTop(h);
        SetForegroundWindow(h);
        if (attached) AttachThreadInput(me, front, FALSE);
    }

    WindowId ActiveWindow() override { return Id(GetForegroundWindow()); }

    bool WaitActive(WindowId w, int timeoutMs) override {
        if (!w) return false;
        return RunEventsUntil([&] { return GetForegroundWindow() == Hwnd(w); }, timeoutMs, 5);
    }

    bool IsMinimized(WindowId w) override { return w && IsIconic(Hwnd(w)); }

    void Restore(WindowId w) override {
        // Asynchronous: the window may belong to a program that does not answer.
        if (w) ShowWindowAsync(Hwnd(w), SW_RESTORE);
    }

    bool WaitModifiersReleased(int timeoutMs) override {
        return RunEventsUntil([&] { return !keyboard_.ModifiersHeld(); }, timeoutMs, 5);
    }

    std::size_t Type(const std::vector<KeyStroke>& strokes, WindowId target) override {
        if (!target || (!IsOwnWindow(target) && RefusesOurKeys(Hwnd(target)))) return 0;
        const std::size_t sent = keyboard_.Type(
            strokes, [&] { return target && GetForegroundWindow() == Hwnd(target); },
            [&](int ms) { RunEventsFor(ms); });
        if (sent && !IsOwnWindow(target)) Settle(Hwnd(target));
        return sent;
    }

    char32_t ShiftedChar(char32_t c) override { return keyboard_.ShiftedChar(c); }

    void ShowHelp(WindowId owner, int context) override {
        if (help_.show) help_.show(owner, context);
    }
    void CloseHelp() override {
        if (help_.close) help_.close();
    }

  private:
    // Lets the target's thread take in the keys: it answers a message only from its message
    // loop, and a second answer comes only after it has gone back for the input queued before
    // the first. A program that does not answer within a second is not waited for.
    void Settle(HWND target) {
        for (int i = 0; i < 2; ++i) {
            DWORD_PTR result = 0;
            SendMessageTimeoutW(target, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 1000, &result);
        }
    }

    Win32Keyboard keyboard_;
    HelpHooks help_;
};

}  // namespace

std::unique_ptr<Desktop> CreateWin32Desktop(HelpHooks help) {
    return std::make_unique<Win32Desktop>(std::move(help));
}

}  // namespace platform
