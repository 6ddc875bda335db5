#include "platform/win32/Win32Keyboard.h"

#include <array>

#include "platform/qt/QtSupport.h"

namespace platform {
namespace {

// Per named key, in the order of NamedKey.
struct NamedVirtualKey {
    NamedKey key;
    VirtualKey vk;
};
constexpr std::array kNamedKeys = {
    NamedVirtualKey{NamedKey::Backspace, {VK_BACK, false}},
    NamedVirtualKey{NamedKey::Break, {VK_CANCEL, true}},
    NamedVirtualKey{NamedKey::CapsLock, {VK_CAPITAL, false}},
    NamedVirtualKey{NamedKey::Delete, {VK_DELETE, true}},
    NamedVirtualKey{NamedKey::Down, {VK_DOWN, true}},
    NamedVirtualKey{NamedKey::End, {VK_END, true}},
    NamedVirtualKey{NamedKey::Enter, {VK_RETURN, false}},
    NamedVirtualKey{NamedKey::Escape, {VK_ESCAPE, false}},
    NamedVirtualKey{NamedKey::Help, {VK_HELP, false}},
    NamedVirtualKey{NamedKey::Home, {VK_HOME, true}},
    NamedVirtualKey{NamedKey::Insert, {VK_INSERT, true}},
    NamedVirtualKey{NamedKey::Left, {VK_LEFT, true}},
    NamedVirtualKey{NamedKey::NumLock, {VK_NUMLOCK, true}},
    NamedVirtualKey{NamedKey::PageDown, {VK_NEXT, true}},
    NamedVirtualKey{NamedKey::PageUp, {VK_PRIOR, true}},
    NamedVirtualKey{NamedKey::PrintScreen, {VK_SNAPSHOT, true}},
    NamedVirtualKey{NamedKey::Right, {VK_RIGHT, true}},
    NamedVirtualKey{NamedKey::ScrollLock, {VK_SCROLL, false}},
    NamedVirtualKey{NamedKey::Tab, {VK_TAB, false}},
    NamedVirtualKey{NamedKey::Up, {VK_UP, true}},
    NamedVirtualKey{NamedKey::F1, {VK_F1, false}},
    NamedVirtualKey{NamedKey::F2, {VK_F2, false}},
    NamedVirtualKey{NamedKey::F3, {VK_F3, false}},
    NamedVirtualKey{NamedKey::F4, {VK_F4, false}},
    NamedVirtualKey{NamedKey::F5, {VK_F5, false}},
    NamedVirtualKey{NamedKey::F6, {VK_F6, false}},
    NamedVirtualKey{NamedKey::F7, {VK_F7, false}},
    NamedVirtualKey{NamedKey::F8, {VK_F8, false}},
    NamedVirtualKey{NamedKey::F9, {VK_F9, false}},
    NamedVirtualKey{NamedKey::F10, {VK_F10, false}},
    NamedVirtualKey{NamedKey::F11, {VK_F11, false}},
    NamedVirtualKey{NamedKey::F12, {VK_F12, false}},
    NamedVirtualKey{NamedKey::F13, {VK_F13, false}},
    NamedVirtualKey{NamedKey::F14, {VK_F14, false}},
    NamedVirtualKey{NamedKey::F15, {VK_F15, false}},
    NamedVirtualKey{NamedKey::F16, {VK_F16, false}},
    NamedVirtualKey{NamedKey::KeypadAdd, {VK_ADD, false}},
    NamedVirtualKey{NamedKey::KeypadSubtract, {VK_SUBTRACT, false}},
    NamedVirtualKey{NamedKey::KeypadMultiply, {VK_MULTIPLY, false}},
    NamedVirtualKey{NamedKey::KeypadDivide, {VK_DIVIDE, true}},
};
static_assert([] {
    for (std::size_t i = 0; i < kNamedKeys.size(); ++i)
        if (static_cast<std::size_t>(kNamedKeys[i].key) != i + 1) return false;
    return true;
}(), "one entry per named key, in order");

INPUT KeyInput(WORD vk, bool up, bool extended) {
    INPUT in{};
    in.type = INPUT_KEYBOARD;
    in.ki.wVk = vk;
    in.ki.wScan = static_cast<WORD>(MapVirtualKeyW(vk, MAPVK_VK_TO_VSC));
    in.ki.dwFlags = (up ? KEYEVENTF_KEYUP : 0) | (extended ? KEYEVENTF_EXTENDEDKEY : 0);
    return in;
}

void AppendUnicode(std::vector<INPUT>& out, char32_t c) {
    // Outside the basic plane: a surrogate pair, each half pressed and released in turn, which
    // the system joins into one character.
    wchar_t units[2];
    int n = 1;
    if (c >= 0x10000) {
        units[0] = static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10));
        units[1] = static_cast<wchar_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        n = 2;
    } else {
        units[0] = static_cast<wchar_t>(c);
    }
    for (int i = 0; i < n; ++i) {
        for (bool up : {false, true}) {
            INPUT in{};
            in.type = INPUT_KEYBOARD;
            in.ki.wScan = units[i];
            in.ki.dwFlags = KEYEVENTF_UNICODE | (up ? KEYEVENTF_KEYUP : 0);
            out.push_back(in);
        }
    }
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
        level = static_cast<long>(*GetSidSubAuthority(sid, *GetSidSubAuthorityCount(sid) - 1));
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

// Lets the target's thread take in the keys: it answers a message only from its message loop,
// and a second answer comes only after it has gone back for the input queued before the first.
// A program that does not answer within a second is not waited for.
void Settle(HWND target) {
    for (int i = 0; i < 2; ++i) {
        DWORD_PTR result = 0;
        SendMessageTimeoutW(target, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 1000, &result);
    }
}

}  // namespace

VirtualKey VirtualKeyOf(NamedKey key) {
    const auto i = static_cast<std::size_t>(key);
    if (i == 0 || i > kNamedKeys.size()) return {};
    return kNamedKeys[i - 1].vk;
}

std::vector<INPUT> InputsOf(const KeyStroke& s, const std::function<SHORT(char32_t)>& keyOf) {
    std::vector<INPUT> out;
    if (s.key == NamedKey::None && !s.ctrl && !s.alt) {
        AppendUnicode(out, s.ch);
        return out;
    }
    bool shift = s.shift, ctrl = s.ctrl, alt = s.alt;
    VirtualKey vk;
    if (s.key != NamedKey::None) {
        vk = VirtualKeyOf(s.key);
    } else if (SHORT k = keyOf(s.ch); k != -1) {
        // A shortcut goes on the layout's key for the character, with the shift states that
        // key needs for it.
        vk.vk = LOBYTE(k);
        shift = shift || (HIBYTE(k) & 1);
        ctrl = ctrl || (HIBYTE(k) & 2);
        alt = alt || (HIBYTE(k) & 4);
    }
    std::vector<WORD> mods;
    if (ctrl) mods.push_back(VK_CONTROL);
    if (alt) mods.push_back(VK_MENU);
    if (shift) mods.push_back(VK_SHIFT);
    for (WORD m : mods) out.push_back(KeyInput(m, false, false));
    if (vk.vk) {
        out.push_back(KeyInput(vk.vk, false, vk.extended));
        out.push_back(KeyInput(vk.vk, true, vk.extended));
    } else if (s.ch) {
        // No key on this layout types it: the character itself, with the modifiers held.
        AppendUnicode(out, s.ch);
    }
    for (auto it = mods.rbegin(); it != mods.rend(); ++it) out.push_back(KeyInput(*it, true, false));
    return out;
}

HKL Win32Keyboard::Layout() const {
    // The layout of the window the keys go to: each thread may have its own.
    return GetKeyboardLayout(GetWindowThreadProcessId(GetForegroundWindow(), nullptr));
}

SHORT Win32Keyboard::KeyOf(char32_t c) const {
    if (c > 0xFFFF) return -1;
    return VkKeyScanExW(static_cast<wchar_t>(c), Layout());
}

char32_t Win32Keyboard::ShiftedChar(char32_t c) {
    const SHORT k = KeyOf(c);
    if (k == -1 || HIBYTE(k) != 0) return 0;
    BYTE state[256] = {};
    state[VK_SHIFT] = 0x80;
    wchar_t out[4] = {};
    const UINT vk = LOBYTE(k);
    // Flag 4: leave the keyboard's dead-key state alone.
    const int n = ToUnicodeEx(vk, MapVirtualKeyW(vk, MAPVK_VK_TO_VSC), state, out, 4, 4, Layout());
    return n == 1 ? static_cast<char32_t>(out[0]) : 0;
}

bool Win32Keyboard::ModifiersHeld() const {
    for (int vk : {VK_SHIFT, VK_CONTROL, VK_MENU, VK_LWIN, VK_RWIN}) {
        if (GetAsyncKeyState(vk) & 0x8000) return true;
    }
    return false;
}

bool Win32Keyboard::WaitModifiersReleased(int timeoutMs) {
    return RunEventsUntil([&] { return !ModifiersHeld(); }, timeoutMs, 5);
}

std::size_t Win32Keyboard::Type(const std::vector<KeyStroke>& strokes, WindowId target) {
    HWND h = reinterpret_cast<HWND>(target);
    const bool own = windows_.IsOwnWindow(target);
    if (!target || (!own && RefusesOurKeys(h))) return 0;
    const std::size_t sent = TypeWhileInFront(strokes, h);
    if (sent && !own) Settle(h);
    return sent;
}

std::size_t Win32Keyboard::TypeWhileInFront(const std::vector<KeyStroke>& strokes, HWND target) {
    // Between strokes the target's thread takes the keys in; the pause keeps our own windows
    // answering too, which read keys meant for them only from our event loop.
    constexpr int kKeyGapMs = 2;
    constexpr int kFinishMs = 20;
    std::size_t sent = 0;
    for (const KeyStroke& s : strokes) {
        if (GetForegroundWindow() != target) break;
        std::vector<INPUT> inputs = InputsOf(s, [this](char32_t c) { return KeyOf(c); });
        const UINT n = static_cast<UINT>(inputs.size());
        if (n && SendInput(n, inputs.data(), sizeof(INPUT)) != n) {
            // Refused in part (the window in front runs at a higher integrity level): let go of
            // whatever may have gone down.
            std::vector<INPUT> ups;
            for (const INPUT& in : inputs) {
                if (!(in.ki.dwFlags & (KEYEVENTF_KEYUP | KEYEVENTF_UNICODE))) {
                    INPUT up = in;
                    up.ki.dwFlags |= KEYEVENTF_KEYUP;
                    ups.push_back(up);
                }
            }
            if (!ups.empty()) SendInput(static_cast<UINT>(ups.size()), ups.data(), sizeof(INPUT));
            break;
        }
        ++sent;
        RunEventsFor(kKeyGapMs);
    }
    if (sent) RunEventsFor(kFinishMs);
    return sent;
}

}  // namespace platform
