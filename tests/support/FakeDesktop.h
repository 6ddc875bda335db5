// Scriptable stand-ins for the desktop's three parts and the windows' message boxes and help: a
// window stack with captions, owners and an active window, a key sender that records what it
// would have typed, a clipboard, message boxes that answer from a script, and a help that only
// counts. Each is a fake of one interface; FakeDesktop puts them together over one record of
// what happened, so that a test scripts and reads them in one place and hands them on.
#pragma once

#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "core/FillCommand.h"
#include "platform/Desktop.h"
#include "ui/Shell.h"

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

// Everything that happened, in order: "activate 2", "type 2 {TAB}", "msgbox 65 Penrika ...",
// "clipboard save", "clipboard clear", "clipboard restore", "help 2 11", "help close".
class Record {
  public:
    const std::vector<std::string>& log() const { return record_; }

  protected:
    std::vector<std::string> record_;
};

class FakeWindowStack : public platform::WindowStack {
  public:
    explicit FakeWindowStack(std::vector<std::string>& log) : log_(log) {}

    // Adds a window at the bottom of the stack (call from top to bottom); returns its id.
    WindowId AddWindow(const Window& w);
    Window& Get(WindowId w) { return windows_.at(w); }
    // Restacks: `order` lists every window, topmost first.
    void SetStack(std::vector<WindowId> order) { stack_ = std::move(order); }
    void SetActive(WindowId w) { active_ = w; }

    const std::vector<TopmostCall>& topmostCalls() const { return topmostCalls_; }
    const std::vector<WindowId>& activationRequests() const { return activationRequests_; }

    std::vector<WindowId> WindowsBelow(WindowId w) override;
    std::vector<WindowId> TopLevelWindows() override { return stack_; }
    bool IsVisible(WindowId w) override;
    std::string Caption(WindowId w) override;
    WindowId Owner(WindowId w) override;
    bool IsOwnWindow(WindowId w) override;
    void SetTopmost(WindowId w, bool above, bool show) override;
    void RequestActivate(WindowId w) override;
    WindowId ActiveWindow() override { return active_; }
    bool WaitActive(WindowId w, int timeoutMs) override { return active_ == w; }
    void WaitHandedBack(WindowId w) override { log_.push_back("handed back " + std::to_string(w)); }
    void RunEventsFor(int) override {}
    bool IsMinimized(WindowId w) override;
    void Restore(WindowId w) override;

    // The window, or nullptr when there is none of that id.
    Window* Find(WindowId w);

  private:
    std::vector<std::string>& log_;
    std::map<WindowId, Window> windows_;
    std::vector<WindowId> stack_;
    WindowId nextId_ = 0x100;
    WindowId active_ = 0;
    std::vector<TopmostCall> topmostCalls_;
    std::vector<WindowId> activationRequests_;
};

class FakeClipboard : public platform::Clipboard {
  public:
    explicit FakeClipboard(std::vector<std::string>& log) : log_(log) {}

    void SetClipboard(std::optional<std::string> text) { clipboard_ = std::move(text); }
    const std::optional<std::string>& Clipboard() const { return clipboard_; }

    std::string Text() override { return clipboard_.value_or(""); }
    void Clear() override;
    bool WaitText(int timeoutMs) override { return clipboard_.has_value(); }
    std::unique_ptr<platform::ClipboardContents> Take() override;
    void PutBack(std::unique_ptr<platform::ClipboardContents> saved) override;

  private:
    std::vector<std::string>& log_;
    std::optional<std::string> clipboard_;
};

// Types into the stack's active window only; a Ctrl+C puts the window's selection on the
// clipboard, as a browser copies it.
class FakeKeyboard : public platform::Keyboard {
  public:
    FakeKeyboard(std::vector<std::string>& log, FakeWindowStack& windows, FakeClipboard& clipboard)
        : log_(log), windows_(windows), clipboard_(clipboard) {}

    // After `n` more strokes have been typed, the focus moves to `to` (0: no window).
    void LoseFocusAfter(std::size_t n, WindowId to = 0) { focusLossIn_ = n, focusLossTo_ = to; }
    // Whether the user lets go of the modifier keys in time.
    void SetModifiersReleased(bool released) { modifiersReleased_ = released; }
    // What the keyboard types with Shift on the key for each character (none by default).
    void SetShifted(std::map<char32_t, char32_t> shifted) { shifted_ = std::move(shifted); }

    const std::vector<TypeCall>& typeCalls() const { return typeCalls_; }
    // Every stroke that reached a window, written as notation ("a", "^c", "{TAB}"), one entry
    // per stroke; with `w` only those that reached that window.
    std::vector<std::string> Typed(WindowId w = 0) const;
    // The same joined into one string: "{TAB}ab^c".
    std::string TypedText(WindowId w = 0) const;
    // A stroke written as notation, as Typed() shows it.
    static std::string Show(const KeyStroke& k);

    bool WaitModifiersReleased(int timeoutMs) override { return modifiersReleased_; }
    // The keyboard's shifted characters as SetShifted gave them; 0 for any other.
    char32_t ShiftedChar(char32_t c) override {
        auto it = shifted_.find(c);
        return it == shifted_.end() ? 0 : it->second;
    }
    std::size_t Type(const std::vector<KeyStroke>& strokes, WindowId target) override;

  private:
    std::vector<std::string>& log_;
    FakeWindowStack& windows_;
    FakeClipboard& clipboard_;
    std::optional<std::size_t> focusLossIn_;
    WindowId focusLossTo_ = 0;
    bool modifiersReleased_ = true;
    std::map<char32_t, char32_t> shifted_;
    std::vector<TypeCall> typeCalls_;
};

class FakeMessages : public Messages {
  public:
    explicit FakeMessages(std::vector<std::string>& log) : log_(log) {}

    // Answers for the next message boxes, in order; OK once they run out.
    void AnswerMsgBoxes(std::deque<int> answers) { answers_ = std::move(answers); }
    const std::vector<MsgBoxCall>& msgBoxes() const { return msgBoxes_; }

    int Box(const std::string& prompt, int style, const std::string& title) override;
    void SetOnTop(bool) override {}

  private:
    std::vector<std::string>& log_;
    std::deque<int> answers_;
    std::vector<MsgBoxCall> msgBoxes_;
};

class FakeHelp : public Help {
  public:
    explicit FakeHelp(std::vector<std::string>& log) : log_(log) {}

    int helpShown() const { return helpShown_; }
    int helpClosed() const { return helpClosed_; }

    void Open(WindowId owner, int context) override;
    void Close() override;

  private:
    std::vector<std::string>& log_;
    int helpShown_ = 0, helpClosed_ = 0;
};

// Takes any combination but the ones another program is said to hold, and presses on demand.
class FakeShortcut : public platform::GlobalShortcut {
  public:
    std::vector<std::string> heldElsewhere;
    std::string taken;  // what the program holds now
    Outcome Take(const std::string& sequence) override {
        if (sequence.empty()) {
            taken.clear();
            return Outcome::Released;
        }
        for (const std::string& h : heldElsewhere)
            if (h == sequence) return Outcome::Held;
        taken = sequence;
        return Outcome::Taken;
    }
    void Press() { Pressed(); }
};

class FakeDesktop : public Record,
                    public FakeWindowStack,
                    public FakeClipboard,
                    public FakeKeyboard,
                    public FakeMessages,
                    public FakeHelp {
  public:
    FakeDesktop()
        : FakeWindowStack(record_),
          FakeClipboard(record_),
          FakeKeyboard(record_, *this, *this),
          FakeMessages(record_),
          FakeHelp(record_) {}
    FakeDesktop(const FakeDesktop&) = delete;
    FakeDesktop& operator=(const FakeDesktop&) = delete;

    platform::Desktop Parts() { return {*this, *this, *this}; }
    Shell shell() { return {*this, *this, *this, *this, *this, shortcut}; }
    FakeShortcut shortcut;
    // The fill road's toolbar for the window `toolbar`: it tells and asks through these message
    // boxes as the real toolbar does through its own.
    FillCommand::Toolbar RoadToolbar(WindowId toolbar) { return ::RoadToolbar(*this, toolbar); }
};

}  // namespace fake
