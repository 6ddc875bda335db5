// The Windows build end to end, under Wine: the real penrika.exe, started from a copy in a
// folder of its own with its entries written beforehand, fills the boxes of TestForm.exe the
// way a user drives it: select a label, click 記入 on the toolbar, and the label's box gets the
// entry's text. Only Win32 calls: mouse and keys go through SendInput.
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "support/WinTest.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using namespace wintest;

std::string Bytes(std::wstring_view text, UINT codePage) {
    if (text.empty()) return {};
    if (codePage == CP_UTF8) return ToUtf8(text);
    BOOL lossy = FALSE;
    BOOL* check = codePage == CP_UTF8 ? nullptr : &lossy;
    int n =
        WideCharToMultiByte(codePage, 0, text.data(), int(text.size()), nullptr, 0, nullptr, check);
    std::string bytes(n, '\0');
    WideCharToMultiByte(codePage, 0, text.data(), int(text.size()), bytes.data(), n, nullptr,
                        check);
    EXPECT_FALSE(lossy) << "not in code page " << codePage << ": " << Bytes(text, CP_UTF8);
    return bytes;
}

std::wstring ClipboardText() {
    std::wstring text;
    if (!OpenClipboard(nullptr)) return L"<clipboard busy>";
    if (HANDLE h = GetClipboardData(CF_UNICODETEXT)) {
        if (auto* p = static_cast<const wchar_t*>(GlobalLock(h))) {
            text = p;
            GlobalUnlock(h);
        }
    }
    CloseClipboard();
    return text;
}

// Presses the keys in order and lets them go in reverse (a chord such as Ctrl+C).
void Press(std::initializer_list<WORD> keys) {
    std::vector<INPUT> in;
    for (bool up : {false, true}) {
        for (std::size_t i = 0; i < keys.size(); ++i) {
            WORD vk = up ? keys.begin()[keys.size() - 1 - i] : keys.begin()[i];
            INPUT k{};
            k.type = INPUT_KEYBOARD;
            k.ki.wVk = vk;
            k.ki.wScan = WORD(MapVirtualKeyW(vk, MAPVK_VK_TO_VSC));
            bool extended = vk == VK_LEFT || vk == VK_RIGHT || vk == VK_UP || vk == VK_DOWN;
            k.ki.dwFlags = (up ? KEYEVENTF_KEYUP : 0) | (extended ? KEYEVENTF_EXTENDEDKEY : 0);
            in.push_back(k);
        }
    }
    SendInput(UINT(in.size()), in.data(), sizeof(INPUT));
}

void Type(std::wstring_view text) {
    std::vector<INPUT> in;
    for (wchar_t c : text) {
        for (DWORD up : {DWORD(0), DWORD(KEYEVENTF_KEYUP)}) {
            INPUT k{};
            k.type = INPUT_KEYBOARD;
            k.ki.wScan = c;
            k.ki.dwFlags = KEYEVENTF_UNICODE | up;
            in.push_back(k);
        }
    }
    SendInput(UINT(in.size()), in.data(), sizeof(INPUT));
}

// A program started with `args`, as a desktop's key binding starts it: its exit code, or
// STILL_ACTIVE when it has not ended within `timeout`.
DWORD RunToEnd(const fs::path& exe, const std::wstring& args, std::chrono::milliseconds timeout) {
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    std::wstring cmd = L"\"" + exe.wstring() + L"\" " + args;
    if (!CreateProcessW(exe.c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        exe.parent_path().c_str(), &si, &pi)) {
        ADD_FAILURE() << "cannot start " << exe << ": error " << GetLastError();
        return STILL_ACTIVE;
    }
    DWORD code = STILL_ACTIVE;
    if (WaitForSingleObject(pi.hProcess, DWORD(timeout.count())) == WAIT_OBJECT_0)
        GetExitCodeProcess(pi.hProcess, &code);
    else
        TerminateProcess(pi.hProcess, 99);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    return code;
}

// Why another program cannot register the combination as its hot key; 0 when it can.
DWORD HotKeyRefusal(UINT modifiers, UINT vk) {
    if (!RegisterHotKey(nullptr, 1, modifiers, vk)) return GetLastError();
    UnregisterHotKey(nullptr, 1);
    return 0;
}

// With PENRIKA_WINE_SHOT set, with-wine.sh takes a picture of the display: the request is a
// file it removes once the picture is written.
void Screenshot(const std::string& name) {
    wchar_t dir[MAX_PATH];
    if (!GetEnvironmentVariableW(L"PENRIKA_WINE_SHOT", dir, MAX_PATH)) return;
    std::wstring request = WinePath(ToUtf8(dir)) + L"\\" + ToWide(name) + L".shot";
    std::ofstream(fs::path(request)).put('\n');
    EXPECT_TRUE(WaitUntil([&] { return !fs::exists(fs::path(request)); }))
        << "no screenshot " << name;
}

// TestForm.exe: each label box and, next to it, the box the label asks for.
class TestForm {
  public:
    TestForm() : process_(WinePath(PENRIKA_TEST_FORM), L"") {
        window_ = process_.WaitWindow(L"記入テスト");
    }
    HWND Window() const { return window_; }
    HWND Label(std::wstring_view label) const {
        for (HWND w = GetWindow(window_, GW_CHILD); w; w = GetWindow(w, GW_HWNDNEXT))
            if ((GetWindowLongW(w, GWL_STYLE) & ES_READONLY) && TextOf(w) == label) return w;
        ADD_FAILURE() << "no label " << ToUtf8(label);
        return nullptr;
    }
    HWND Input(std::wstring_view label) const { return GetWindow(Label(label), GW_HWNDNEXT); }
    // As a user does before 記入: the form in front, a click into the label, all of it selected.
    void SelectLabel(std::wstring_view label) const {
        // Asked again while another window takes the foreground (the window manager's late
        // focus change for a toolbar still coming up), and clicked again until the box has it.
        HWND box = Label(label);
        int polls = 0;
        ASSERT_TRUE(WaitUntil([&] {
            if (GetForegroundWindow() != window_) {
                SetForegroundWindow(window_);
                return false;
            }
            if (FocusOf(window_) == box) return true;
            if (polls++ % 10 == 0) ClickMiddle(box);
            return false;
        })) << "in front: \""
            << ToUtf8(TextOf(GetForegroundWindow())) << "\", focus elsewhere";
        SendMessageW(box, EM_SETSEL, 0, -1);
    }
    // Polls the box of `label` until it shows `expected`; says what it shows otherwise.
    ::testing::AssertionResult Shows(std::wstring_view label, std::wstring_view expected) const {
        HWND box = Input(label);
        if (WaitUntil([&] { return TextOf(box) == expected; }))
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << ToUtf8(label) << " shows \"" << ToUtf8(TextOf(box))
                                             << "\", not \"" << ToUtf8(expected) << "\"";
    }

  private:
    Process process_;
    HWND window_ = nullptr;
};

TEST(WinForm, SelectedLabelCopiesAndTabGoesFromInputToInput) {
    TestForm form;
    ASSERT_TRUE(form.Window()) << "no form window";
    ASSERT_NO_FATAL_FAILURE(form.SelectLabel(L"郵便番号"));
    Press({VK_CONTROL, 'C'});
    EXPECT_TRUE(WaitUntil([] { return ClipboardText() == L"郵便番号"; }))
        << ToUtf8(ClipboardText());

    // From the label's selection, Right and Tab reach its box; from there Tab skips the next
    // label, as a browser does.
    Press({VK_RIGHT});
    Press({VK_TAB});
    EXPECT_TRUE(WaitUntil([&] { return FocusOf(form.Window()) == form.Input(L"郵便番号"); }));
    Type(L"123");
    Press({VK_TAB});
    EXPECT_TRUE(WaitUntil([&] { return FocusOf(form.Window()) == form.Input(L"住所"); }));
    Type(L"東京都");
    EXPECT_TRUE(form.Shows(L"郵便番号", L"123"));
    EXPECT_TRUE(form.Shows(L"住所", L"東京都"));
    Screenshot("form");
}

struct Entry {
    std::wstring label, text, memo;
};

// penrika.exe copied into a folder of its own, with these entries in its data file beside it
// and its count and options in the registry, as a user's earlier run would have left them.
class WinWrite : public ::testing::Test {
  protected:
    enum class Encoding { Cp932, Utf8WithBom };

    void TearDown() override {
        penrika_.reset();
        RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Tamsel");
        std::error_code ignored;
        if (!dir_.empty()) fs::remove_all(dir_, ignored);
    }

    void StartPenrika(const std::vector<Entry>& entries, Encoding encoding = Encoding::Cp932) {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        dir_ = fs::path(temp) /
               ("penrika-" +
                std::string(testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        fs::copy_file(fs::path(WinePath(PENRIKA_BINARY)), dir_ / "penrika.exe");

        const UINT codePage = encoding == Encoding::Cp932 ? 932 : CP_UTF8;
        dataFile_ = encoding == Encoding::Cp932 ? "" : "\xEF\xBB\xBF";
        for (const Entry& e : entries)
            dataFile_ += Bytes(L"\"" + e.label + L"\",\"" + e.text + L"\",\"" + e.memo + L"\"\r\n",
                               codePage);
        std::ofstream(dir_ / "Penrika.dat", std::ios::binary) << dataFile_;
        count_ = std::to_wstring(entries.size());
        SetValue(L"Setting", L"Set_6", count_);
        SetValue(L"Option", L"Op_1", L"True");   // always on top
        SetValue(L"Option", L"Op_2", L"False");  // no confirmation before closing

        penrika_ = std::make_unique<Process>((dir_ / "penrika.exe").wstring(), dir_.wstring());
        toolbar_ = penrika_->WaitWindow(L"Penrika");
        ASSERT_TRUE(toolbar_) << "no toolbar";
        ASSERT_TRUE(form_.Window()) << "no form";
    }

    // The toolbar's buttons, 23 pixels wide side by side: 0 is 記入, 5 is 終了.
    void ClickButton(int index) {
        POINT p{11 + 23 * index, 11};
        ClientToScreen(toolbar_, &p);
        ClickAt(p);
    }

    // Removes what Penrika read at the start, closes it with 終了 and checks that it wrote back
    // the data file byte for byte and the entry count.
    void CloseAndCheckSaved() {
        fs::remove(dir_ / "Penrika.dat");
        RegDeleteKeyValueW(HKEY_CURRENT_USER, L"Software\\Tamsel\\Penrika\\Setting", L"Set_6");
        // With keep-on-top turned off the form may cover the toolbar: bring it up as a user
        // would before clicking.
        ASSERT_TRUE(WaitUntil([&] {
            SetForegroundWindow(toolbar_);
            return GetForegroundWindow() == toolbar_;
        })) << "the toolbar does not come in front";
        ClickButton(5);
        EXPECT_EQ(penrika_->WaitExit(10s), 0u) << "penrika.exe did not end by itself";
        std::ifstream in(dir_ / "Penrika.dat", std::ios::binary);
        std::string saved{std::istreambuf_iterator<char>(in), {}};
        EXPECT_EQ(saved, dataFile_);
        EXPECT_EQ(ToUtf8(Value(L"Setting", L"Set_6")), ToUtf8(count_));
    }

    static void SetValue(const wchar_t* key, const wchar_t* name, const std::wstring& value) {
        std::wstring path = std::wstring(L"Software\\Tamsel\\Penrika\\") + key;
        ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, path.c_str(), name, REG_SZ, value.c_str(),
                                  DWORD((value.size() + 1) * sizeof(wchar_t))),
                  ERROR_SUCCESS);
    }
    static std::wstring Value(const wchar_t* key, const wchar_t* name) {
        std::wstring path = std::wstring(L"Software\\Tamsel\\Penrika\\") + key;
        wchar_t value[64] = L"<none>";
        DWORD size = sizeof value;
        RegGetValueW(HKEY_CURRENT_USER, path.c_str(), name, RRF_RT_REG_SZ, nullptr, value, &size);
        return value;
    }

    TestForm form_;
    std::unique_ptr<Process> penrika_;
    HWND toolbar_ = nullptr;
    fs::path dir_;
    std::string dataFile_;
    std::wstring count_;
};

TEST_F(WinWrite, FillsJapaneseAsciiAndTabSeparatedTextsThenSavesOnClose) {
    ASSERT_NO_FATAL_FAILURE(StartPenrika({{L"お名前", L"山田　太郎", L"氏名"},
                                          {L"メールアドレス", L"yamada@example.jp", L""},
                                          {L"郵便番号", L"123{TAB}東京都", L"郵便番号と住所"}}));

    ASSERT_NO_FATAL_FAILURE(form_.SelectLabel(L"お名前"));
    ClickButton(0);
    EXPECT_TRUE(form_.Shows(L"お名前", L"山田　太郎"));

    ASSERT_NO_FATAL_FAILURE(form_.SelectLabel(L"メールアドレス"));
    ClickButton(0);
    EXPECT_TRUE(form_.Shows(L"メールアドレス", L"yamada@example.jp"));

    ASSERT_NO_FATAL_FAILURE(form_.SelectLabel(L"郵便番号"));
    ClickButton(0);
    EXPECT_TRUE(form_.Shows(L"郵便番号", L"123"));
    EXPECT_TRUE(form_.Shows(L"住所", L"東京都"));
    Screenshot("filled");

    CloseAndCheckSaved();
}

TEST_F(WinWrite, SeveralMatchingEntriesOpenAListAndTheKeyboardPicks) {
    // Both labels hold the copied お名前; the list shows them in table order.
    ASSERT_NO_FATAL_FAILURE(StartPenrika({{L"お名前", L"山田　太郎", L"漢字"},
                                          {L"お名前（カナ）", L"ヤマダ　タロウ", L"カナ"},
                                          {L"郵便番号", L"1234567", L""}}));
    ASSERT_NO_FATAL_FAILURE(form_.SelectLabel(L"お名前"));
    ClickButton(0);
    HWND list = nullptr;
    ASSERT_TRUE(WaitUntil([&] {
        HWND front = GetForegroundWindow();
        DWORD pid = 0;
        GetWindowThreadProcessId(front, &pid);
        list = front;
        return pid == penrika_->Id() && front != toolbar_ && IsWindowVisible(front);
    })) << "no list in front";
    Screenshot("list");
    Press({VK_DOWN});
    Press({VK_RETURN});
    EXPECT_TRUE(form_.Shows(L"お名前", L"ヤマダ　タロウ"));
    EXPECT_TRUE(WaitUntil([&] { return !IsWindowVisible(list); })) << "the list stayed";
}

TEST_F(WinWrite, TextOutsideCodePage932IsTypedAndKeptInUtf8) {
    ASSERT_NO_FATAL_FAILURE(
        StartPenrika({{L"ふりがな", L"やまだ\U0001F600たろう", L"絵文字"}}, Encoding::Utf8WithBom));
    ASSERT_NO_FATAL_FAILURE(form_.SelectLabel(L"ふりがな"));
    ClickButton(0);
    EXPECT_TRUE(form_.Shows(L"ふりがな", L"やまだ\U0001F600たろう"));
    CloseAndCheckSaved();
}

TEST_F(WinWrite, TheOptionsDialogWorksFromTheKeyboardAndStoresTheOptionsAsText) {
    ASSERT_NO_FATAL_FAILURE(StartPenrika({{L"お名前", L"山田", L""}}));
    // Once the new toolbar has settled (the form brought back in front), as before 記入.
    ASSERT_NO_FATAL_FAILURE(form_.SelectLabel(L"お名前"));
    ClickButton(2);
    HWND dialog = nullptr;
    ASSERT_TRUE(WaitUntil([&] { return (dialog = penrika_->ShownWindowOtherThan(toolbar_)); }))
        << "no options dialog";
    ASSERT_TRUE(WaitUntil([&] {
        SetForegroundWindow(dialog);
        return GetForegroundWindow() == dialog;
    })) << "the options dialog is not in front";
    // The focus starts on ﾊﾞｰｼﾞｮﾝ情報; Tab goes on to OK, then the two boxes. Turn keep-on-top
    // off and the confirmation on, go back to OK and press it with Space.
    for (WORD key : {VK_TAB, VK_TAB, VK_SPACE, VK_TAB, VK_SPACE}) Press({key});
    Press({VK_SHIFT, VK_TAB});
    Press({VK_SHIFT, VK_TAB});
    Press({VK_SPACE});
    EXPECT_TRUE(WaitUntil([&] { return !IsWindowVisible(dialog); })) << "the dialog stayed";
    EXPECT_TRUE(WaitUntil([&] { return Value(L"Option", L"Op_1") == L"False"; }))
        << ToUtf8(Value(L"Option", L"Op_1"));
    EXPECT_EQ(Value(L"Option", L"Op_2"), L"True");
    CloseAndCheckSaved();
}

// Filled from outside the toolbar, the label's box gets the entry as from 記入, and the form
// stays in front.
TEST_F(WinWrite, PenrikaFillFromAnotherProcessFillsAsTheButtonDoes) {
    ASSERT_NO_FATAL_FAILURE(StartPenrika({{L"お名前", L"山田　太郎", L""},
                                          {L"郵便番号", L"123{TAB}東京都", L""}}));
    ASSERT_NO_FATAL_FAILURE(form_.SelectLabel(L"郵便番号"));
    EXPECT_EQ(RunToEnd(dir_ / "penrika.exe", L"--fill", 10s), 0u) << "penrika --fill";
    EXPECT_TRUE(form_.Shows(L"郵便番号", L"123"));
    EXPECT_TRUE(form_.Shows(L"住所", L"東京都"));
    EXPECT_EQ(GetForegroundWindow(), form_.Window());

    ASSERT_NO_FATAL_FAILURE(form_.SelectLabel(L"お名前"));
    EXPECT_EQ(RunToEnd(dir_ / "penrika.exe", L"--fill", 10s), 0u) << "penrika --fill";
    EXPECT_TRUE(form_.Shows(L"お名前", L"山田　太郎"));
    EXPECT_TRUE(penrika_->Running());
    CloseAndCheckSaved();
}

TEST_F(WinWrite, TheStoredFillShortcutPressedOverTheFormFillsAsTheButtonDoes) {
    SetValue(L"Option", L"FillShortcut", L"Ctrl+Alt+K");
    ASSERT_NO_FATAL_FAILURE(StartPenrika({{L"お名前", L"山田　太郎", L""},
                                          {L"郵便番号", L"123{TAB}東京都", L""}}));
    // Taken for the whole desktop as the toolbar came up.
    EXPECT_EQ(HotKeyRefusal(MOD_CONTROL | MOD_ALT, 'K'), DWORD(ERROR_HOTKEY_ALREADY_REGISTERED));
    ASSERT_NO_FATAL_FAILURE(form_.SelectLabel(L"郵便番号"));
    Press({VK_CONTROL, VK_MENU, 'K'});
    EXPECT_TRUE(form_.Shows(L"郵便番号", L"123"));
    EXPECT_TRUE(form_.Shows(L"住所", L"東京都"));
    EXPECT_EQ(GetForegroundWindow(), form_.Window());

    ASSERT_NO_FATAL_FAILURE(form_.SelectLabel(L"お名前"));
    Press({VK_CONTROL, VK_MENU, 'K'});
    EXPECT_TRUE(form_.Shows(L"お名前", L"山田　太郎"));
    CloseAndCheckSaved();
    // The desktop's again once Penrika has ended.
    EXPECT_EQ(HotKeyRefusal(MOD_CONTROL | MOD_ALT, 'K'), 0u);
}

TEST_F(WinWrite, AStartWhileACopyRunsBringsItsToolbarForwardAndEnds) {
    ASSERT_NO_FATAL_FAILURE(StartPenrika({{L"お名前", L"山田", L""}}));
    ASSERT_NO_FATAL_FAILURE(form_.SelectLabel(L"お名前"));  // the form in front
    Process second((dir_ / "penrika.exe").wstring(), dir_.wstring());
    EXPECT_EQ(second.WaitExit(10s), 0u) << "the second copy did not end";
    EXPECT_TRUE(WaitUntil([&] { return GetForegroundWindow() == toolbar_; }))
        << "in front: \"" << ToUtf8(TextOf(GetForegroundWindow())) << "\"";
    EXPECT_TRUE(penrika_->Running());
    CloseAndCheckSaved();
}

}  // namespace
