#include "support/FakeDesktop.h"

#include <algorithm>

#include "core/Utf8.h"

namespace fake {

namespace {
struct SavedClipboard : platform::ClipboardContents {
    std::optional<std::string> text;
};
}  // namespace

// --- The window stack.

WindowId FakeWindowStack::AddWindow(const Window& w) {
    WindowId id = nextId_++;
    windows_[id] = w;
    stack_.push_back(id);
    return id;
}

Window* FakeWindowStack::Find(WindowId w) {
    auto it = windows_.find(w);
    return it == windows_.end() ? nullptr : &it->second;
}

std::vector<WindowId> FakeWindowStack::WindowsBelow(WindowId w) {
    auto it = std::find(stack_.begin(), stack_.end(), w);
    if (it == stack_.end()) return {};
    return {it + 1, stack_.end()};
}

bool FakeWindowStack::IsVisible(WindowId w) {
    Window* win = Find(w);
    return win && win->visible && !win->minimized;
}

std::string FakeWindowStack::Caption(WindowId w) {
    Window* win = Find(w);
    return win ? win->caption : std::string();
}

WindowId FakeWindowStack::Owner(WindowId w) {
    Window* win = Find(w);
    return win ? win->owner : 0;
}

bool FakeWindowStack::IsOwnWindow(WindowId w) {
    Window* win = Find(w);
    return win && win->own;
}

void FakeWindowStack::SetTopmost(WindowId w, bool above, bool show) {
    topmostCalls_.push_back({w, above, show});
    log_.push_back(std::string("topmost ") + std::to_string(w) + (above ? " above" : " normal") +
                   (show ? " show" : ""));
    if (Window* win = Find(w)) {
        win->topmost = above;
        if (show) win->visible = true;
    }
}

void FakeWindowStack::RequestActivate(WindowId w) {
    activationRequests_.push_back(w);
    log_.push_back("activate " + std::to_string(w));
    Window* win = Find(w);
    if (!win || win->refusesFocus) return;
    active_ = win->focusGoesTo ? win->focusGoesTo : w;
}

bool FakeWindowStack::IsMinimized(WindowId w) {
    Window* win = Find(w);
    return win && win->minimized;
}

void FakeWindowStack::Restore(WindowId w) {
    log_.push_back("restore " + std::to_string(w));
    if (Window* win = Find(w)) win->minimized = false;
}

// --- The clipboard.

void FakeClipboard::Clear() {
    log_.push_back("clipboard clear");
    clipboard_.reset();
}

std::unique_ptr<platform::ClipboardContents> FakeClipboard::Take() {
    log_.push_back("clipboard save");
    auto saved = std::make_unique<SavedClipboard>();
    saved->text = clipboard_;
    return saved;
}

void FakeClipboard::PutBack(std::unique_ptr<platform::ClipboardContents> saved) {
    log_.push_back("clipboard restore");
    auto* s = dynamic_cast<SavedClipboard*>(saved.get());
    clipboard_ = s ? s->text : std::nullopt;
}

// --- The keyboard.

std::string FakeKeyboard::Show(const KeyStroke& k) {
    std::string s;
    if (k.shift) s += '+';
    if (k.ctrl) s += '^';
    if (k.alt) s += '%';
    if (k.key != NamedKey::None)
        s += std::string("{") + NamedKeyName(k.key) + "}";
    else
        AppendUtf8(s, k.ch);
    return s;
}

std::vector<std::string> FakeKeyboard::Typed(WindowId w) const {
    std::vector<std::string> out;
    for (const TypeCall& c : typeCalls_) {
        if (w && c.target != w) continue;
        for (std::size_t i = 0; i < c.sent; ++i) out.push_back(Show(c.requested[i]));
    }
    return out;
}

std::string FakeKeyboard::TypedText(WindowId w) const {
    std::string s;
    for (const std::string& k : Typed(w)) s += k;
    return s;
}

std::size_t FakeKeyboard::Type(const std::vector<KeyStroke>& strokes, WindowId target) {
    TypeCall call{target, strokes, 0};
    for (const KeyStroke& k : strokes) {
        if (windows_.ActiveWindow() != target) break;
        if (focusLossIn_) {
            if (*focusLossIn_ == 0) {
                windows_.SetActive(focusLossTo_);
                focusLossIn_.reset();
                break;
            }
            --*focusLossIn_;
        }
        ++call.sent;
        // A browser copies its selection on Ctrl+C.
        if (k.ctrl && !k.alt && (k.ch == U'c' || k.ch == U'C')) {
            Window* win = windows_.Find(target);
            if (win && win->selection) clipboard_.SetClipboard(win->selection);
        }
    }
    std::string shown;
    for (std::size_t i = 0; i < call.sent; ++i) shown += Show(strokes[i]);
    log_.push_back("type " + std::to_string(target) + " " + shown);
    typeCalls_.push_back(std::move(call));
    return typeCalls_.back().sent;
}

// --- Message boxes and help.

int FakeMessages::Box(const std::string& prompt, int style, const std::string& title) {
    msgBoxes_.push_back({prompt, style, title});
    log_.push_back("msgbox " + std::to_string(style) + " " + title + " " + prompt);
    if (answers_.empty()) return MsgAnswerOk;
    int a = answers_.front();
    answers_.pop_front();
    return a;
}

void FakeHelp::Open(WindowId owner, int context) {
    ++helpShown_;
    log_.push_back("help " + std::to_string(owner) + " " + std::to_string(context));
}

void FakeHelp::Close() {
    ++helpClosed_;
    log_.push_back("help close");
}

}  // namespace fake
