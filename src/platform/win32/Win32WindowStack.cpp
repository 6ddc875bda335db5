// The z-order walks with GetWindow, the topmost band with SetWindowPos, activation with
// SetForegroundWindow.
#include "platform/win32/Win32WindowStack.h"

#include <dwmapi.h>
#include <windows.h>

#include <QWidget>

#include "platform/qt/QtSupport.h"
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

}  // namespace

std::vector<WindowId> Win32WindowStack::WindowsBelow(WindowId w) {
    std::vector<WindowId> below;
    if (!w || !IsWindow(Hwnd(w))) return below;
    for (HWND h = GetWindow(Hwnd(w), GW_HWNDNEXT); h; h = GetWindow(h, GW_HWNDNEXT)) {
        if (Shown(h)) below.push_back(Id(h));
    }
    return below;
}

std::vector<WindowId> Win32WindowStack::TopLevelWindows() {
    std::vector<WindowId> all;
    EnumWindows(
        [](HWND h, LPARAM p) -> BOOL {
            if (Shown(h)) reinterpret_cast<std::vector<WindowId>*>(p)->push_back(Id(h));
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&all));
    return all;
}

bool Win32WindowStack::IsVisible(WindowId w) {
    return w && Shown(Hwnd(w)) && !IsIconic(Hwnd(w));
}

std::string Win32WindowStack::Caption(WindowId w) {
    if (!w) return {};
    // Read from the window's own record: asking the window (WM_GETTEXT) would wait on a
    // program that hangs.
    std::wstring text(512, L'\0');
    int n = InternalGetWindowText(Hwnd(w), text.data(), static_cast<int>(text.size()));
    text.resize(static_cast<std::size_t>(n > 0 ? n : 0));
    return win32::ToUtf8(text);
}

WindowId Win32WindowStack::Owner(WindowId w) {
    return w ? Id(GetWindow(Hwnd(w), GW_OWNER)) : 0;
}

bool Win32WindowStack::IsOwnWindow(WindowId w) {
    DWORD pid = 0;
    return w && GetWindowThreadProcessId(Hwnd(w), &pid) && pid == GetCurrentProcessId();
}

void Win32WindowStack::SetTopmost(WindowId w, bool above, bool show) {
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

bool Win32WindowStack::IsTopmost(WindowId w) {
    return w && (GetWindowLongPtrW(Hwnd(w), GWL_EXSTYLE) & WS_EX_TOPMOST);
}

void Win32WindowStack::RequestActivate(WindowId w) {
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

WindowId Win32WindowStack::ActiveWindow() {
    return Id(GetForegroundWindow());
}

bool Win32WindowStack::WaitActive(WindowId w, int timeoutMs) {
    if (!w) return false;
    return RunEventsUntil([&] { return GetForegroundWindow() == Hwnd(w); }, timeoutMs, 5);
}

void Win32WindowStack::RunEventsFor(int ms) {
    platform::RunEventsFor(ms);
}

bool Win32WindowStack::IsMinimized(WindowId w) {
    return w && IsIconic(Hwnd(w));
}

bool Win32WindowStack::Place(WindowId w, int& x, int& y, int& width, int& height) {
    RECT r;
    POINT corner{0, 0};
    if (!w || !GetClientRect(Hwnd(w), &r) || !ClientToScreen(Hwnd(w), &corner)) return false;
    x = corner.x, y = corner.y, width = r.right - r.left, height = r.bottom - r.top;
    return true;
}

void Win32WindowStack::Restore(WindowId w) {
    // Asynchronous: the window may belong to a program that does not answer.
    if (w) ShowWindowAsync(Hwnd(w), SW_RESTORE);
}

}  // namespace platform
