// The Windows desktop layer against real windows: a Win32 form in another process, below a
// window of ours, found, brought forward and typed into.
#include <windows.h>

#include <gtest/gtest.h>

#include <QApplication>
#include <QWidget>
#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <initializer_list>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/FillCommand.h"
#include "core/KeyNotation.h"
#include "platform/SingleInstance.h"
#include "platform/win32/Win32Desktop.h"
#include "platform/win32/Win32Keyboard.h"
#include "support/WinTest.h"

namespace {

using platform::WindowId;

std::string TextOf(HWND h) {
    return wintest::ToUtf8(wintest::TextOf(h));
}

// Waits with our event loop running: the desktop layer and the single instance answer there.
bool Soon(const std::function<bool()>& done, int timeoutMs = 10000) {
    return WaitUntil(done, std::chrono::milliseconds(timeoutMs),
                     [] { QApplication::processEvents(QEventLoop::AllEvents, 10); });
}

// The keys each stroke presses, counted down (+1) and up (-1) per virtual key.
std::map<WORD, int> Balance(const std::vector<INPUT>& inputs) {
    std::map<WORD, int> held;
    for (const INPUT& in : inputs) {
        if (in.ki.dwFlags & KEYEVENTF_UNICODE) continue;
        held[in.ki.wVk] += (in.ki.dwFlags & KEYEVENTF_KEYUP) ? -1 : 1;
    }
    return held;
}

// Sends the keys down (or up) in the order given.
void Send(std::initializer_list<WORD> keys, bool up) {
    std::vector<INPUT> in;
    for (WORD vk : keys) {
        INPUT k{};
        k.type = INPUT_KEYBOARD;
        k.ki.wVk = vk;
        k.ki.wScan = WORD(MapVirtualKeyW(vk, MAPVK_VK_TO_VSC));
        k.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
        in.push_back(k);
    }
    SendInput(UINT(in.size()), in.data(), sizeof(INPUT));
}

void CtrlAltK() {
    Send({VK_CONTROL, VK_MENU, 'K'}, false);
    Send({'K', VK_MENU, VK_CONTROL}, true);
}

// Another program's hot key, registered from a thread of its own and held until this goes;
// `error` is why the registration failed, 0 when it did not.
struct OtherHotKey {
    OtherHotKey(UINT modifiers, UINT vk) {
        std::promise<DWORD> registered;
        thread = std::thread([&, modifiers, vk] {
            const bool ok = RegisterHotKey(nullptr, 1, modifiers, vk);
            registered.set_value(ok ? 0 : GetLastError());
            WaitForSingleObject(done, INFINITE);
            if (ok) UnregisterHotKey(nullptr, 1);
        });
        error = registered.get_future().get();
    }
    ~OtherHotKey() {
        SetEvent(done);
        thread.join();
        CloseHandle(done);
    }
    HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::thread thread;
    DWORD error = 0;
};

TEST(Win32Keyboard, EveryStrokeLetsGoOfWhatItPressesAndCharactersGoAsThemselves) {
    auto keyOf = [](char32_t c) { return VkKeyScanW(static_cast<wchar_t>(c)); };
    KeyParseResult parsed = ParseKeys("a😀^c+{TAB}%{F4}{DIVIDE}^+{END}");
    ASSERT_TRUE(parsed.ok());
    for (const KeyStroke& s : parsed.strokes) {
        std::vector<INPUT> inputs = platform::InputsOf(s, keyOf);
        ASSERT_FALSE(inputs.empty());
        for (const auto& [vk, n] : Balance(inputs)) EXPECT_EQ(n, 0) << "key " << vk;
        // Modifiers go down before and up after the key they hold.
        if (s.ctrl) {
            EXPECT_EQ(inputs.front().ki.wVk, VK_CONTROL);
            EXPECT_EQ(inputs.back().ki.wVk, VK_CONTROL);
            EXPECT_TRUE(inputs.back().ki.dwFlags & KEYEVENTF_KEYUP);
        }
    }
    // An emoji is a surrogate pair, each half pressed and released as a Unicode packet.
    std::vector<INPUT> emoji = platform::InputsOf({.ch = U'😀'}, keyOf);
    ASSERT_EQ(emoji.size(), 4u);
    const WORD units[] = {0xD83D, 0xD83D, 0xDE00, 0xDE00};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(emoji[i].ki.wScan, units[i]);
        EXPECT_TRUE(emoji[i].ki.dwFlags & KEYEVENTF_UNICODE);
        EXPECT_EQ(bool(emoji[i].ki.dwFlags & KEYEVENTF_KEYUP), i % 2 == 1);
    }
    // A shortcut presses the layout's key for the letter, not a Unicode packet.
    std::vector<INPUT> copy = platform::InputsOf({.ch = U'c', .ctrl = true}, keyOf);
    ASSERT_EQ(copy.size(), 4u);
    EXPECT_EQ(copy[1].ki.wVk, 'C');
    EXPECT_FALSE(copy[1].ki.dwFlags & KEYEVENTF_UNICODE);
    // The arrows and the editing block say they are extended keys; the main Enter does not.
    EXPECT_TRUE(platform::VirtualKeyOf(NamedKey::End).extended);
    EXPECT_TRUE(platform::VirtualKeyOf(NamedKey::KeypadDivide).extended);
    EXPECT_FALSE(platform::VirtualKeyOf(NamedKey::Enter).extended);
}

class Win32DesktopTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        static int argc = 1;
        static char name[] = "Win32Desktop_wintest";
        static char* argv[] = {name, nullptr};
        app_ = new QApplication(argc, argv);
    }

    void SetUp() override {
        form_ = std::make_unique<wintest::Process>(wintest::WinePath(PENRIKA_TEST_FORM), L"");
        formWindow_ = form_->WaitWindow(L"記入テスト");
        ASSERT_TRUE(formWindow_);
        // The input boxes: every second child, after its label.
        HWND child = GetWindow(formWindow_, GW_CHILD);
        for (int i = 0; child; ++i, child = GetWindow(child, GW_HWNDNEXT)) {
            if (i % 2 == 1) inputs_.push_back(child);
        }
        ASSERT_GE(inputs_.size(), 2u);
        desktop_ = std::make_unique<platform::Win32Desktop>();
    }

    static QApplication* app_;
    std::unique_ptr<wintest::Process> form_;
    HWND formWindow_ = nullptr;
    std::vector<HWND> inputs_;
    std::unique_ptr<platform::Win32Desktop> desktop_;
};
QApplication* Win32DesktopTest::app_ = nullptr;

TEST_F(Win32DesktopTest, FindsTheWindowBelowOursBringsItForwardAndTypesIntoItOnly) {
    platform::Win32WindowStack& d = desktop_->windows();
    platform::Win32Keyboard& keyboard = desktop_->keyboard();
    const WindowId form = reinterpret_cast<WindowId>(formWindow_);
    QWidget toolbar;
    toolbar.setWindowTitle("Penrika");
    // Clear of the form, so that clicks on the form land there. In front, as the toolbar is
    // when the user has just clicked it.
    toolbar.setGeometry(700, 500, 140, 30);
    toolbar.show();
    const WindowId own = toolbar.winId();
    ASSERT_TRUE(Soon([&] { return d.ActiveWindow() == own; }));

    // The band: in and out, without taking the focus.
    d.SetTopmost(own, true, false);
    EXPECT_TRUE(d.IsTopmost(own));
    d.SetTopmost(own, false, true);
    EXPECT_FALSE(d.IsTopmost(own));
    EXPECT_TRUE(d.IsOwnWindow(own));
    EXPECT_FALSE(d.IsOwnWindow(form));

    // Just below our window: the form, by its Japanese caption.
    BrowserTarget target = FindBrowser(d, own);
    EXPECT_EQ(target.window, form);
    EXPECT_EQ(target.caption, "記入テスト");
    EXPECT_FALSE(target.isDialog);
    EXPECT_EQ(d.Owner(form), 0u);

    // Japanese, an emoji, blanks, Tab to the next box, a shifted letter.
    KeyParseResult keys = ParseKeys("山田　太郎😀 ok{TAB}x+a");
    ASSERT_TRUE(keys.ok());
    // Under Wine the window manager's own focus change for our window may land after the
    // hand-over, even mid-typing. The keyboard must then stop at once; the test hands over
    // again and types the whole text anew.
    std::size_t sent = 0;
    for (int attempt = 0; attempt < 3 && sent != keys.strokes.size(); ++attempt) {
        for (HWND input : inputs_) SetWindowTextW(input, L"");
        d.RequestActivate(form);
        ASSERT_TRUE(d.WaitActive(form, 5000));
        HWND focus = nullptr;
        ASSERT_TRUE(Soon([&] {
            if (d.ActiveWindow() != form) {
                d.RequestActivate(form);
                return false;
            }
            focus = wintest::FocusOf(formWindow_);
            if (focus != inputs_[0]) wintest::ClickMiddle(inputs_[0]);
            return focus == inputs_[0];
        })) << "focus on " << focus << ", in front " << GetForegroundWindow();
        ASSERT_TRUE(keyboard.WaitModifiersReleased(1000));
        sent = TypeStrokes(keyboard, keys.strokes, form);
        if (sent != keys.strokes.size()) {
            EXPECT_NE(GetForegroundWindow(), formWindow_);
        }
    }
    EXPECT_EQ(sent, keys.strokes.size());
    EXPECT_TRUE(Soon([&] { return TextOf(inputs_[0]) == "山田　太郎😀 ok"; }))
        << TextOf(inputs_[0]);
    EXPECT_TRUE(Soon([&] { return TextOf(inputs_[1]) == "xA"; })) << TextOf(inputs_[1]);

    // Keys for a window that is not in front go nowhere.
    KeyParseResult more = ParseKeys("zzz");
    EXPECT_EQ(TypeStrokes(keyboard, more.strokes, own), 0u);
    app_->processEvents();
    EXPECT_EQ(TextOf(inputs_[1]), "xA");
}

TEST_F(Win32DesktopTest, TheFillShortcutRunsOncePerPressOnceItsKeyIsUp) {
    platform::GlobalShortcut& shortcut = desktop_->shortcut();
    int pressed = 0;
    bool keyUp = true;
    shortcut.OnPressed([&] {
        ++pressed;
        keyUp = keyUp && !(GetAsyncKeyState('K') & 0x8000);
    });
    ASSERT_EQ(shortcut.Take("Ctrl+Alt+K"), platform::GlobalShortcut::Outcome::Taken);

    CtrlAltK();
    EXPECT_TRUE(Soon([&] { return pressed == 1; }));
    // Held until it repeats, the press counts once, when the key comes up.
    Send({VK_CONTROL, VK_MENU, 'K', 'K', 'K', 'K'}, false);
    EXPECT_FALSE(Soon([&] { return pressed > 1; }, 500)) << "ran while the key was held";
    Send({'K', VK_MENU, VK_CONTROL}, true);
    EXPECT_TRUE(Soon([&] { return pressed == 2; }));
    CtrlAltK();
    EXPECT_TRUE(Soon([&] { return pressed == 3; }));
    EXPECT_TRUE(keyUp);

    // Given up, its presses are the desktop's again.
    EXPECT_EQ(shortcut.Take(""), platform::GlobalShortcut::Outcome::Released);
    EXPECT_EQ(OtherHotKey(MOD_CONTROL | MOD_ALT, 'K').error, 0u);
    EXPECT_EQ(pressed, 3);
}

TEST_F(Win32DesktopTest, TheFillShortcutIsTakenWhollyOrNothingChanges) {
    using Outcome = platform::GlobalShortcut::Outcome;
    platform::GlobalShortcut& shortcut = desktop_->shortcut();
    int pressed = 0;
    shortcut.OnPressed([&] { ++pressed; });
    ASSERT_EQ(shortcut.Take("Ctrl+Alt+K"), Outcome::Taken);
    EXPECT_EQ(OtherHotKey(MOD_CONTROL | MOD_ALT, 'K').error,
              DWORD(ERROR_HOTKEY_ALREADY_REGISTERED));

    // Another program's combination is refused, and ours stays ours and pressed.
    {
        OtherHotKey other(MOD_CONTROL | MOD_ALT, 'J');
        ASSERT_EQ(other.error, 0u);
        EXPECT_EQ(shortcut.Take("Ctrl+Alt+J"), Outcome::Held);
        EXPECT_EQ(OtherHotKey(MOD_CONTROL | MOD_ALT, 'K').error,
                  DWORD(ERROR_HOTKEY_ALREADY_REGISTERED));
        CtrlAltK();
        EXPECT_TRUE(Soon([&] { return pressed == 1; }));
    }
    // Neither are what no key makes, nor a sequence of two.
    for (const char* invalid : {"Ctrl+Alt", "Ctrl+Alt+K, Ctrl+J", "Ctrl+Nonsense"})
        EXPECT_EQ(shortcut.Take(invalid), Outcome::Invalid) << invalid;
    EXPECT_EQ(OtherHotKey(MOD_CONTROL | MOD_ALT, 'K').error,
              DWORD(ERROR_HOTKEY_ALREADY_REGISTERED));

    // A new one goes in place of the old: punctuation on the key that types it, shift and all,
    // and a function key alone.
    EXPECT_EQ(shortcut.Take("Ctrl+Shift+!"), Outcome::Taken);
    EXPECT_EQ(OtherHotKey(MOD_CONTROL | MOD_SHIFT, '1').error,
              DWORD(ERROR_HOTKEY_ALREADY_REGISTERED));
    EXPECT_EQ(OtherHotKey(MOD_CONTROL | MOD_ALT, 'K').error, 0u);
    EXPECT_EQ(shortcut.Take("F9"), Outcome::Taken);
    EXPECT_EQ(OtherHotKey(0, VK_F9).error, DWORD(ERROR_HOTKEY_ALREADY_REGISTERED));
    EXPECT_EQ(OtherHotKey(MOD_CONTROL | MOD_SHIFT, '1').error, 0u);
    Send({VK_F9}, false);
    Send({VK_F9}, true);
    EXPECT_TRUE(Soon([&] { return pressed == 2; }));
    // The program's end gives it up.
    desktop_.reset();
    EXPECT_EQ(OtherHotKey(0, VK_F9).error, 0u);
}

TEST_F(Win32DesktopTest, ALaterCopyLearnsTheRunningCopysWindowAndOnlyOneCopyRuns) {
    std::unique_ptr<platform::SingleInstance> running = platform::SingleInstance::Claim();
    ASSERT_TRUE(running->Failure().empty()) << running->Failure();
    ASSERT_TRUE(running->IsPrimary());
    running->Serve([] { return WindowId{0x1234}; }, [] {});
    // Later copies, from another thread (a mutex's owner thread could take it again): they do
    // not run, and each hears of the window, one after the other.
    std::vector<WindowId> heard;
    std::atomic<int> asked = 0;
    bool laterPrimary = true;
    std::thread later([&] {
        for (int i = 0; i < 3; ++i) {
            std::unique_ptr<platform::SingleInstance> copy = platform::SingleInstance::Claim();
            laterPrimary = laterPrimary && copy->IsPrimary();
            heard.push_back(copy->RunningCopyWindow(5000));
            ++asked;
        }
    });
    // The running copy answers from its event loop.
    EXPECT_TRUE(Soon([&] { return asked == 3; }, 20000));
    later.join();
    EXPECT_FALSE(laterPrimary);
    EXPECT_EQ(heard, (std::vector<WindowId>{0x1234, 0x1234, 0x1234}));
    // Once the running copy has gone, the next one runs.
    running.reset();
    std::thread next([&] { laterPrimary = platform::SingleInstance::Claim()->IsPrimary(); });
    next.join();
    EXPECT_TRUE(laterPrimary);
}

TEST_F(Win32DesktopTest, ALaterCopysFillIsTakenAndRunByTheRunningCopy) {
    std::unique_ptr<platform::SingleInstance> running = platform::SingleInstance::Claim();
    ASSERT_TRUE(running->IsPrimary());
    std::atomic<int> answered = 0;
    int fills = 0;
    running->Serve([] { return WindowId{0x1234}; }, [&] { ++fills; });
    // Fills and a window asked for in turn, each answered.
    std::atomic<int> taken = 0;
    WindowId heard = 0;
    std::thread later([&] {
        std::unique_ptr<platform::SingleInstance> copy = platform::SingleInstance::Claim();
        taken += copy->AskToFill(5000);
        ++answered;
        heard = copy->RunningCopyWindow(5000);
        taken += copy->AskToFill(5000);
        ++answered;
    });
    EXPECT_TRUE(Soon([&] { return answered == 2 && fills == 2; }, 20000));
    later.join();
    EXPECT_EQ(taken, 2);
    EXPECT_EQ(heard, WindowId{0x1234});
    EXPECT_EQ(fills, 2);

    // A running copy that does not serve takes no fill: the asking copy hears no answer.
    running.reset();
    std::unique_ptr<platform::SingleInstance> silent = platform::SingleInstance::Claim();
    ASSERT_TRUE(silent->IsPrimary());
    bool unanswered = false;
    std::thread asking([&] { unanswered = !platform::SingleInstance::Claim()->AskToFill(500); });
    asking.join();
    EXPECT_TRUE(unanswered);
    EXPECT_EQ(fills, 2);
}

}  // namespace
