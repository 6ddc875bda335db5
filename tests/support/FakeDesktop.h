// A scriptable stand-in for the desktop: a window stack with captions, owners and an active
// window, a clipboard, message boxes that answer from a script, and a key sender that records
// what it would have typed. Constructing one installs it as platform::TheDesktop(); destroying
// it puts back the fake that was installed before it (or none).
#pragma once

#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/KeyNotation.h"
#include "platform/Desktop.h"

namespace fake {

using platform::WindowId;

struct Window {
    std::string caption;
    WindowId owner = 0;
    bool visible = true;
    bool own = false;  // one of Penrika's own windows
    bool topmost = false;
    bool minimized = false;
    // Activating this window makes that one active instead (a modal child taking the focus);
    // 0: the window itself.
    WindowId focusGoesTo = 0;
    // Never becomes active however it is asked.
    bool refusesFocus = false;
    // What a Ctrl+C typed into the window puts on the clipboard; nothing when unset.
    std::optional<std::string> selection = std::nullopt;
};

struct TopmostCall {
    WindowId w;
    bool above;
    bool show;
    bool operator==(const TopmostCall&) const = default;
};

struct MsgBoxCall {
    std::string prompt;
    int style;
    std::string title;
};

struct TypeCall {
    WindowId target;
    std::vector<KeyStroke> requested;
    std::size_t sent;  // how many of them reached the target
};

class FakeDesktop : public platform::Desktop {
  public:
    FakeDesktop();
    ~FakeDesktop() override;
    FakeDesktop(const FakeDesktop&) = delete;
    FakeDesktop& operator=(const FakeDesktop&) = delete;

    // --- Scripting.
    // Adds a window at the bottom of the stack (call from top to bottom); returns its id.
    WindowId AddWindow(const Window& w);
    Window& Get(WindowId w) { return windows_.at(w); }
    // Restacks: `order` lists every window, topmost first.
    void SetStack(std::vector<WindowId> order) { stack_ = std::move(order); }
    void SetActive(WindowId w) { active_ = w; }
    void SetClipboard(std::optional<std::string> text) { clipboard_ = std::move(text); }
    const std::optional<std::string>& Clipboard() const { return clipboard_; }
    // Answers for the next message boxes, in order; OK once they run out.
    void AnswerMsgBoxes(std::deque<int> answers) { answers_ = std::move(answers); }
    // After `n` more strokes have been typed, the focus moves to `to` (0: no window).
    void LoseFocusAfter(std::size_t n, WindowId to = 0) { focusLossIn_ = n, focusLossTo_ = to; }
    // Whether the user lets go of the modifier keys in time.
    void SetModifiersReleased(bool released) { modifiersReleased_ = released; }
    // What the keyboard types with Shift on the key for each character (none by default).
    void SetShifted(std::map<char32_t, char32_t> shifted) { shifted_ = std::move(shifted); }

    // --- What happened.
    const std::vector<TopmostCall>& topmostCalls() const { return topmostCalls_; }
    const std::vector<WindowId>& activationRequests() const { return activationRequests_; }
    const std::vector<MsgBoxCall>& msgBoxes() const { return msgBoxes_; }
    const std::vector<TypeCall>& typeCalls() const { return typeCalls_; }
    // Every stroke that reached a window, written as notation ("a", "+b", "{TAB}"), one entry
    // per stroke; with `w` only those that reached that window.
    std::vector<std::string> Typed(WindowId w = 0) const;
    // The same joined into one string: "{TAB}ab+c".
    std::string TypedText(WindowId w = 0) const;
    // Everything that happened, in order: "activate 2", "type 2 {TAB}", "msgbox 65 Penrika ...",
    // "clipboard save", "clipboard clear", "clipboard restore".
    const std::vector<std::string>& log() const { return log_; }
    int helpShown() const { return helpShown_; }
    int helpClosed() const { return helpClosed_; }

    // --- platform::Desktop
    std::vector<WindowId> WindowsBelow(WindowId w) override;
    std::vector<WindowId> TopLevelWindows() override { return stack_; }
    bool IsVisible(WindowId w) override;
    std::string Caption(WindowId w) override;
    WindowId Owner(WindowId w) override;
    bool IsOwnWindow(WindowId w) override;
    void SetTopmost(WindowId w, bool above, bool show) override;
    bool IsTopmost(WindowId w) override;
    void RequestActivate(WindowId w) override;
    WindowId ActiveWindow() override { return active_; }
    bool WaitActive(WindowId w, int timeoutMs) override;
    void RunEventsFor(int) override {}
    void SetMessagesOnTop(bool) override {}
    bool IsMinimized(WindowId w) override;
    void Restore(WindowId w) override;
    bool WaitModifiersReleased(int timeoutMs) override;
    std::size_t Type(const std::vector<KeyStroke>& strokes, WindowId target) override;
    // The keyboard's shifted characters as SetShifted gave them; 0 for any other.
    char32_t ShiftedChar(char32_t c) override {
        auto it = shifted_.find(c);
        return it == shifted_.end() ? 0 : it->second;
    }
    bool ClipboardHasText() override { return clipboard_.has_value(); }
    std::string ClipboardText() override { return clipboard_.value_or(""); }
    void ClipboardClear() override;
    bool WaitClipboardText(int timeoutMs) override { return clipboard_.has_value(); }
    std::unique_ptr<platform::ClipboardContents> ClipboardSave() override;
    void ClipboardRestore(std::unique_ptr<platform::ClipboardContents> saved) override;
    int MsgBox(const std::string& prompt, int style, const std::string& title) override;
    void ShowHelp(WindowId owner, int context) override;
    void CloseHelp() override;

    // A stroke written as notation, as Typed() shows it.
    static std::string Show(const KeyStroke& k);

  private:
    Window* Find(WindowId w);

    std::map<WindowId, Window> windows_;
    std::vector<WindowId> stack_;
    WindowId nextId_ = 0x100;
    WindowId active_ = 0;
    std::optional<std::string> clipboard_;
    std::deque<int> answers_;
    std::optional<std::size_t> focusLossIn_;
    WindowId focusLossTo_ = 0;
    bool modifiersReleased_ = true;
    std::map<char32_t, char32_t> shifted_;

    std::vector<TopmostCall> topmostCalls_;
    std::vector<WindowId> activationRequests_;
    std::vector<MsgBoxCall> msgBoxes_;
    std::vector<TypeCall> typeCalls_;
    std::vector<std::string> log_;
    int helpShown_ = 0, helpClosed_ = 0;
};

}  // namespace fake
