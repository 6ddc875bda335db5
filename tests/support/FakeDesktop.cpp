#include "support/FakeDesktop.h"

#include <algorithm>

#include "core/Utf8.h"

namespace fake {

namespace {
struct SavedClipboard : platform::ClipboardContents {
    std::optional<std::string> text;
};

// Fakes made inside a test that already has one hand the desktop back when they go.
std::vector<FakeDesktop*>& Installed() {
    static std::vector<FakeDesktop*> stack;
    return stack;
}
}  // namespace

FakeDesktop::FakeDesktop() {
    Installed().push_back(this);
    platform::SetDesktop(this);
}

FakeDesktop::~FakeDesktop() {
    auto& stack = Installed();
    stack.erase(std::remove(stack.begin(), stack.end(), this), stack.end());
    platform::SetDesktop(stack.empty() ? nullptr : stack.back());
}

WindowId FakeDesktop::AddWindow(const Window& w) {
    WindowId id = nextId_++;
    windows_[id] = w;
    stack_.push_back(id);
    return id;
}

Window* FakeDesktop::Find(WindowId w) {
    auto it = windows_.find(w);
    return it == windows_.end() ? nullptr : &it->second;
}

std::string FakeDesktop::Show(const KeyStroke& k) {
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

std::vector<std::string> FakeDesktop::Typed(WindowId w) const {
    std::vector<std::string> out;
    for (const TypeCall& c : typeCalls_) {
        if (w && c.target != w) continue;
        for (std::size_t i = 0; i < c.sent; ++i) out.push_back(Show(c.requested[i]));
    }
    return out;
}

std::string FakeDesktop::TypedText(WindowId w) const {
    std::string s;
    for (const std::string& k : Typed(w)) s += k;
    return s;
}

std::vector<WindowId> FakeDesktop::WindowsBelow(WindowId w) {
    auto it = std::find(stack_.begin(), stack_.end(), w);
    if (it == stack_.end()) return {};
    return {it + 1, stack_.end()};
}

bool FakeDesktop::IsVisible(WindowId w) {
    Window* win = Find(w);
    return win && win->visible && !win->minimized;
}

std::string FakeDesktop::Caption(WindowId w) {
    Window* win = Find(w);
    return win ? win->caption : std::string();
}

WindowId FakeDesktop::Owner(WindowId w) {
    Window* win = Find(w);
    return win ? win->owner : 0;
}

bool FakeDesktop::IsOwnWindow(WindowId w) {
    Window* win = Find(w);
    return win && win->own;
}

void FakeDesktop::SetTopmost(WindowId w, bool above, bool show) {
    topmostCalls_.push_back({w, above, show});
    log_.push_back(std::string("topmost ") + std::to_string(w) + (above ? " above" : " normal") +
                   (show ? " show" : ""));
    if (Window* win = Find(w)) {
        win->topmost = above;
        if (show) win->visible = true;
    }
}

bool FakeDesktop::IsTopmost(WindowId w) {
    Window* win = Find(w);
    return win && win->topmost;
}

void FakeDesktop::RequestActivate(WindowId w) {
    activationRequests_.push_back(w);
    log_.push_back("activate " + std::to_string(w));
    Window* win = Find(w);
    if (!win || win->refusesFocus) return;
    active_ = win->focusGoesTo ? win->focusGoesTo : w;
}

bool FakeDesktop::WaitActive(WindowId w, int) {
    return active_ == w;
}

bool FakeDesktop::IsMinimized(WindowId w) {
    Window* win = Find(w);
    return win && win->minimized;
}

void FakeDesktop::Restore(WindowId w) {
    log_.push_back("restore " + std::to_string(w));
    if (Window* win = Find(w)) win->minimized = false;
}

bool FakeDesktop::WaitModifiersReleased(int) {
    return modifiersReleased_;
}

std::size_t FakeDesktop::Type(const std::vector<KeyStroke>& strokes, WindowId target) {
    TypeCall call{target, strokes, 0};
    for (const KeyStroke& k : strokes) {
        if (active_ != target) break;
        if (focusLossIn_) {
            if (*focusLossIn_ == 0) {
                active_ = focusLossTo_;
                focusLossIn_.reset();
                break;
            }
            --*focusLossIn_;
        }
        ++call.sent;
        // A browser copies its selection on Ctrl+C.
        if (k.ctrl && !k.alt && (k.ch == U'c' || k.ch == U'C')) {
            Window* win = Find(target);
            if (win && win->selection) clipboard_ = win->selection;
        }
    }
    std::string shown;
    for (std::size_t i = 0; i < call.sent; ++i) shown += Show(strokes[i]);
    log_.push_back("type " + std::to_string(target) + " " + shown);
    typeCalls_.push_back(std::move(call));
    return typeCalls_.back().sent;
}

void FakeDesktop::ClipboardClear() {
    log_.push_back("clipboard clear");
    clipboard_.reset();
}

std::unique_ptr<platform::ClipboardContents> FakeDesktop::ClipboardSave() {
    log_.push_back("clipboard save");
    auto saved = std::make_unique<SavedClipboard>();
    saved->text = clipboard_;
    return saved;
}

void FakeDesktop::ClipboardRestore(std::unique_ptr<platform::ClipboardContents> saved) {
    log_.push_back("clipboard restore");
    auto* s = dynamic_cast<SavedClipboard*>(saved.get());
    clipboard_ = s ? s->text : std::nullopt;
}

int FakeDesktop::MsgBox(const std::string& prompt, int style, const std::string& title) {
    msgBoxes_.push_back({prompt, style, title});
    log_.push_back("msgbox " + std::to_string(style) + " " + title + " " + prompt);
    if (answers_.empty()) return platform::MsgAnswerOk;
    int a = answers_.front();
    answers_.pop_front();
    return a;
}

void FakeDesktop::ShowHelp(WindowId owner, int context) {
    ++helpShown_;
    log_.push_back("help " + std::to_string(owner) + " " + std::to_string(context));
}

void FakeDesktop::CloseHelp() {
    ++helpClosed_;
    log_.push_back("help close");
}

}  // namespace fake
