#include "platform/win32/Win32Shortcut.h"

#include <QTimer>

#include "platform/qt/QtSupport.h"

namespace platform {
namespace {

constexpr wchar_t kClassName[] = L"PenrikaShortcut";
// The press counts once its key is up; held longer than this, it is not a press but a key the
// user leans on (or one whose release the system never told), and it is dropped.
constexpr int kReleasePollMs = 10;
constexpr int kMaxHoldMs = 5000;

// The virtual key of a Qt key, and the shift state the layout needs for it (VkKeyScan's high
// byte: 1 Shift, 2 Ctrl, 4 Alt); vk 0 for a key this keyboard lacks.
struct Key {
    UINT vk = 0;
    int shiftState = 0;
};

Key KeyOf(int key, bool keypad) {
    if ((key >= 'A' && key <= 'Z') || (key >= '0' && key <= '9')) {
        if (keypad && key >= '0' && key <= '9') return {UINT(VK_NUMPAD0 + (key - '0'))};
        return {UINT(key)};
    }
    if (key >= Qt::Key_F1 && key <= Qt::Key_F24) return {UINT(VK_F1 + (key - Qt::Key_F1))};
    switch (key) {
        case Qt::Key_Escape:
            return {VK_ESCAPE};
        case Qt::Key_Tab:
            return {VK_TAB};
        case Qt::Key_Backspace:
            return {VK_BACK};
        case Qt::Key_Return:
        case Qt::Key_Enter:
            return {VK_RETURN};
        case Qt::Key_Space:
            return {VK_SPACE};
        case Qt::Key_Insert:
            return {VK_INSERT};
        case Qt::Key_Delete:
            return {VK_DELETE};
        case Qt::Key_Pause:
            return {VK_PAUSE};
        case Qt::Key_Print:
            return {VK_SNAPSHOT};
        case Qt::Key_Home:
            return {VK_HOME};
        case Qt::Key_End:
            return {VK_END};
        case Qt::Key_Left:
            return {VK_LEFT};
        case Qt::Key_Up:
            return {VK_UP};
        case Qt::Key_Right:
            return {VK_RIGHT};
        case Qt::Key_Down:
            return {VK_DOWN};
        case Qt::Key_PageUp:
            return {VK_PRIOR};
        case Qt::Key_PageDown:
            return {VK_NEXT};
        default:
            break;
    }
    // Other characters (punctuation, a layout's own letters): the layout's key for them. Qt
    // names letters by their capital, the layout by the small one it types unshifted.
    if (key > 0x20 && key < 0xffff && !(key >= 0xd800 && key <= 0xdfff)) {
        const wchar_t small = static_cast<wchar_t>(QChar(key).toLower().unicode());
        const SHORT scan = VkKeyScanW(small);
        if (scan != -1 && LOBYTE(scan) != 0) return {LOBYTE(scan), HIBYTE(scan)};
    }
    return {};
}

}  // namespace

Win32Shortcut::Win32Shortcut() {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW cls{};
    cls.cbSize = sizeof cls;
    cls.lpfnWndProc = &Win32Shortcut::WindowProc;
    cls.hInstance = instance;
    cls.lpszClassName = kClassName;
    // Already there when another instance made it first: the same class serves both.
    RegisterClassExW(&cls);
    window_ = CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance,
                              nullptr);
    if (window_) SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    release_ = std::make_unique<QTimer>();
    release_->setInterval(kReleasePollMs);
    QObject::connect(release_.get(), &QTimer::timeout, [this] { CheckReleased(); });
}

Win32Shortcut::~Win32Shortcut() {
    release_.reset();
    if (!window_) return;
    if (taken_) UnregisterHotKey(window_, id_);
    SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
    DestroyWindow(window_);
}

LRESULT CALLBACK Win32Shortcut::WindowProc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_HOTKEY) {
        if (auto* self = reinterpret_cast<Win32Shortcut*>(GetWindowLongPtrW(w, GWLP_USERDATA)))
            self->HotKey(static_cast<int>(wp));
        return 0;
    }
    return DefWindowProcW(w, msg, wp, lp);
}

GlobalShortcut::Outcome Win32Shortcut::Take(const std::string& sequence) {
    if (!window_) return sequence.empty() ? Outcome::Released : Outcome::Unsupported;
    if (sequence.empty()) {
        if (taken_) UnregisterHotKey(window_, id_);
        taken_ = false;
        release_->stop();
        return Outcome::Released;
    }
    const std::optional<QKeyCombination> parsed = ShortcutCombination(sequence);
    if (!parsed) return Outcome::Invalid;
    const QKeyCombination combo = *parsed;
    const Qt::KeyboardModifiers m = combo.keyboardModifiers();
    const Key key = KeyOf(combo.key(), m & Qt::KeypadModifier);
    if (!key.vk) return Outcome::Invalid;
    Combo c;
    c.vk = key.vk;
    if ((m & Qt::ControlModifier) || (key.shiftState & 2)) c.modifiers |= MOD_CONTROL;
    if ((m & Qt::ShiftModifier) || (key.shiftState & 1)) c.modifiers |= MOD_SHIFT;
    if ((m & Qt::AltModifier) || (key.shiftState & 4)) c.modifiers |= MOD_ALT;
    if (m & Qt::MetaModifier) c.modifiers |= MOD_WIN;
    if (taken_ && c.vk == current_.vk && c.modifiers == current_.modifiers) return Outcome::Taken;
    // The new one under the other id first: refused, the old one stays as it was.
    const int id = id_ == 1 ? 2 : 1;
    if (!RegisterHotKey(window_, id, c.modifiers | MOD_NOREPEAT, c.vk))
        return GetLastError() == ERROR_HOTKEY_ALREADY_REGISTERED ? Outcome::Held : Outcome::Invalid;
    if (taken_) UnregisterHotKey(window_, id_);
    release_->stop();
    id_ = id;
    current_ = c;
    taken_ = true;
    return Outcome::Taken;
}

void Win32Shortcut::HotKey(int id) {
    // A press still waiting for its key to come up takes no second one.
    if (!taken_ || id != id_ || release_->isActive()) return;
    releasePolls_ = 0;
    // Looked at from the event loop, never here: the fill runs event loops of its own.
    release_->start();
}

void Win32Shortcut::CheckReleased() {
    if (GetAsyncKeyState(static_cast<int>(current_.vk)) & 0x8000) {
        if (++releasePolls_ * kReleasePollMs >= kMaxHoldMs) release_->stop();
        return;
    }
    release_->stop();
    Pressed();
}

}  // namespace platform
