// What the Windows tests share: text between UTF-8 and UTF-16, the build's Linux paths as Wine
// shows them, waiting on a condition, and a few window reads and clicks through Win32 alone.
#pragma once

#include <windows.h>

#include <chrono>
#include <functional>
#include <string>
#include <string_view>

namespace wintest {

inline std::wstring Widen(std::string_view utf8) {
    std::wstring w(utf8.size(), L'\0');
    w.resize(static_cast<std::size_t>(MultiByteToWideChar(
        CP_UTF8, 0, utf8.data(), int(utf8.size()), w.data(), int(w.size()))));
    return w;
}

inline std::string Utf8(std::wstring_view text) {
    const int n =
        WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

// The Linux paths the build passes in, as Wine shows them (drive Z: is the root).
inline std::wstring WinePath(std::string_view linuxPath) {
    std::wstring path = L"Z:" + Widen(linuxPath);
    for (wchar_t& c : path)
        if (c == L'/') c = L'\\';
    return path;
}

// Polls `done` until it holds or `timeout` passes; `pause` runs between polls (a test with an
// event loop of its own keeps it running there).
inline bool WaitUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds timeout = std::chrono::seconds(10),
                      const std::function<void()>& pause = [] { Sleep(20); }) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        pause();
    }
    return true;
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

}  // namespace wintest
