// What the Windows tests share: text between UTF-8 and UTF-16 (as the program converts it), the
// build's Linux paths as Wine shows them, and a few window reads and clicks through Win32 alone.
#pragma once

#include "platform/win32/Win32Support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <string_view>

#include "support/Wait.h"

namespace wintest {

using platform::win32::ToUtf8;
using platform::win32::ToWide;

// The Linux paths the build passes in, as Wine shows them (drive Z: is the root).
inline std::wstring WinePath(std::string_view linuxPath) {
    std::wstring path = L"Z:" + ToWide(linuxPath);
    for (wchar_t& c : path)
        if (c == L'/') c = L'\\';
    return path;
}

// A window's text, asked of it (a hung program gives up after two seconds).
inline std::wstring TextOf(HWND w) {
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(w, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 2000, &length))
        return L"<no answer>";
    std::wstring text(length + 1, L'\0');
    DWORD_PTR got = 0;
    SendMessageTimeoutW(w, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                        SMTO_ABORTIFHUNG, 2000, &got);
    text.resize(got);
    return text;
}

inline void ClickAt(POINT screen) {
    SetCursorPos(screen.x, screen.y);
    INPUT in[2]{};
    in[0].type = in[1].type = INPUT_MOUSE;
    in[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    in[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    SendInput(2, in, sizeof(INPUT));
}

inline void ClickMiddle(HWND w) {
    RECT r{};
    GetWindowRect(w, &r);
    ClickAt({(r.left + r.right) / 2, (r.top + r.bottom) / 2});
}

// The control that has the keyboard focus in the thread of `window`.
inline HWND FocusOf(HWND window) {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info);
    return info.hwndFocus;
}

// A program started for a test; ended, if it still runs, with the test.
class Process {
  public:
    Process(const std::wstring& exe, const std::wstring& dir) {
        STARTUPINFOW si{};
        si.cb = sizeof si;
        std::wstring cmd = L"\"" + exe + L"\"";
        if (!CreateProcessW(exe.c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr,
                            dir.empty() ? nullptr : dir.c_str(), &si, &pi_))
            ADD_FAILURE() << "cannot start " << ToUtf8(exe) << ": error " << GetLastError();
    }
    ~Process() {
        if (Running()) {
            TerminateProcess(pi_.hProcess, 99);
            WaitForSingleObject(pi_.hProcess, 10000);
        }
        if (pi_.hProcess) CloseHandle(pi_.hProcess);
        if (pi_.hThread) CloseHandle(pi_.hThread);
    }
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    DWORD Id() const { return pi_.dwProcessId; }
    bool Running() const {
        return pi_.hProcess && WaitForSingleObject(pi_.hProcess, 0) == WAIT_TIMEOUT;
    }
    // The exit code, or STILL_ACTIVE when it has not ended within `timeout`.
    DWORD WaitExit(std::chrono::milliseconds timeout) const {
        DWORD code = STILL_ACTIVE;
        if (WaitForSingleObject(pi_.hProcess, DWORD(timeout.count())) == WAIT_OBJECT_0)
            GetExitCodeProcess(pi_.hProcess, &code);
        return code;
    }
    // A shown top-level window of this process with that caption (any caption when empty)
    // other than `except`; nullptr when there is none.
    HWND ShownWindow(std::wstring_view caption, HWND except = nullptr) const {
        struct Find {
            DWORD pid;
            std::wstring_view caption;
            HWND except, found;
        } find{Id(), caption, except, nullptr};
        EnumWindows(
            [](HWND w, LPARAM lp) -> BOOL {
                auto* f = reinterpret_cast<Find*>(lp);
                DWORD pid = 0;
                GetWindowThreadProcessId(w, &pid);
                if (pid != f->pid || w == f->except || !IsWindowVisible(w)) return TRUE;
                if (!f->caption.empty() && TextOf(w) != f->caption) return TRUE;
                f->found = w;
                return FALSE;
            },
            reinterpret_cast<LPARAM>(&find));
        return find.found;
    }
    HWND ShownWindowOtherThan(HWND except) const { return ShownWindow(L"", except); }
    // The same, once there is one.
    HWND WaitWindow(std::wstring_view caption) const {
        HWND found = nullptr;
        WaitUntil([&] { return (found = ShownWindow(caption)) != nullptr; });
        return found;
    }

  private:
    PROCESS_INFORMATION pi_{};
};

}  // namespace wintest
