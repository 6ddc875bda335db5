// The Write command: find the browser below the toolbar, copy its highlighted label, look it
// up among the entries and type the matching entry's text.
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>
#include <memory>
#include <string>

#include "core/AppState.h"
#include "core/FillCommand.h"
#include "core/Matching.h"
#include "platform/Desktop.h"
#include "ui/CandidateList.h"
#include "ui/MainToolbar.h"
#include "ui/WindowUtil.h"

namespace {
// How long the browser may take to put the copied label on the clipboard.
constexpr int kClipboardTimeoutMs = 1000;

// How long the focus may take to settle on the browser after the click on the toolbar.
constexpr int kFocusSettleMs = 500;

// What the user had copied stays theirs: taken before the clipboard is cleared for the copy
// and put back when the Write command ends, however it ends (a fill, a message, the list
// cancelled), so the copied label never stays behind either.
class KeepClipboard {
  public:
    explicit KeepClipboard(platform::Desktop& d) : d_(d), saved_(d.ClipboardSave()) {}
    ~KeepClipboard() { d_.ClipboardRestore(std::move(saved_)); }
    KeepClipboard(const KeepClipboard&) = delete;
    KeepClipboard& operator=(const KeepClipboard&) = delete;

  private:
    platform::Desktop& d_;
    std::unique_ptr<platform::ClipboardContents> saved_;
};

const char* const kMsgItemNotRecognised = "項目が認識できません。";
const char* const kMsgItemNotRegistered = "項目は登録されていません。";

// Sends Ctrl+C to the browser. Just after the click on the toolbar the focus is still settling:
// the window manager may name the browser active a moment before the keyboard focus reaches it,
// or drop the active window for a moment. The key sender then refuses the key without typing
// it; ask again for a short while (the key still goes to the browser alone).
bool SendCopy(platform::WindowId target) {
    platform::Desktop& d = platform::TheDesktop();
    QDeadlineTimer deadline(kFocusSettleMs);
    SendOutcome copy = SendKeys("^c", target);
    while (copy.result == SendResult::FocusLost && !deadline.hasExpired()) {
        if (d.ActiveWindow() != target) {
            d.RequestActivate(target);
            if (!d.WaitActive(target, static_cast<int>(deadline.remainingTime()))) break;
        } else {
            QEventLoop pause;
            QTimer::singleShot(10, &pause, &QEventLoop::quit);
            pause.exec();
        }
        copy = SendKeys("^c", target);
    }
    return copy.result == SendResult::Sent;
}
}  // namespace

void MainToolbar::WriteCommand() {
    platform::Desktop& d = platform::TheDesktop();
    const platform::WindowId self = IdOf(this);
    DropTopmost(self);
    FindBrowser(self);
    PlaceMainWindow();
    if (BrowserCaption.empty() || BrowserCaption == "False") {
        d.MsgBox(MsgBrowserNotRecognised, platform::MsgOk, ErrorTitle);
        return;
    }
    // Whatever the clipboard held before must never be taken for the label and typed into a
    // form: only what this copy puts there counts.
    KeepClipboard keep(d);
    d.ClipboardClear();
    const platform::WindowId target = AppActivate(BrowserCaption);
    if (!target) {
        // The browser went away (or would not come forward) since it was recognised.
        d.MsgBox(MsgBrowserNotRecognised, platform::MsgOk, ErrorTitle);
        return;
    }
    const bool copySent = SendCopy(target);
    if (copySent) SendKeys("{RIGHT}", target);
    if (!copySent || !d.WaitClipboardText(kClipboardTimeoutMs)) {
        d.MsgBox(kMsgItemNotRecognised, platform::MsgOk, ErrorTitle);
        return;
    }
    const std::string copied = d.ClipboardText();
    MatchItem(copied);
}

void MainToolbar::FindBrowser(unsigned long hwnd) {
    platform::Desktop& d = platform::TheDesktop();
    BrowserCaption.clear();
    BrowserWindow = 0;
    // The first visible window below the toolbar that is not one of ours. A stack without one
    // leaves the caption empty, which the Write command reports as not recognised.
    for (platform::WindowId w : d.WindowsBelow(static_cast<platform::WindowId>(hwnd))) {
        if (d.IsOwnWindow(w) || !d.IsVisible(w)) continue;
        if (d.Owner(w)) {
            BrowserCaption = "False";
        } else {
            std::string caption = d.Caption(w);
            BrowserCaption = caption.substr(0, caption.find('\0'));
            BrowserWindow = w;
        }
        return;
    }
}

void MainToolbar::MatchItem(const std::string& copied) {
    const MatchOutcome found = MatchEntries(copied);
    if (found.count == 0) {
        platform::TheDesktop().MsgBox(kMsgItemNotRegistered, platform::MsgOk, AppTitle);
    } else if (found.count == 1) {
        FillForm(found.firstFillText);
    } else {
        if (Options[AlwaysOnTop]) DropTopmost(MainHwnd);
        CandidateList::ShowModal(this);
    }
}
