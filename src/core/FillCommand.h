// The fill road, the one thing Penrika exists for: a 記入 press finds the browser below the
// toolbar, copies its highlighted label, looks it up among the entries and types the chosen
// entry's text after a Tab. No windows of its own: the toolbar hands in what only it can do
// (place itself, show the candidate list, tell and ask the user), so the road runs against any
// desktop's parts.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "core/AppState.h"
#include "core/KeyNotation.h"
#include "core/Matching.h"
#include "core/Titles.h"
#include "platform/Desktop.h"

// Texts the fill road shows.
inline constexpr const char* MsgBrowserNotRecognised = "プラウザが認識できません。";
// Added when the walk finds no browser in a Wayland session the program sees through XWayland,
// where a browser that runs as a Wayland program is out of its sight.
inline constexpr const char* MsgWaylandHint =
    "Wayland のデスクトップでは、ブラウザーを X11 で動かしてください（Firefox は "
    "MOZ_ENABLE_WAYLAND=0、Chromium は --ozone-platform=x11 を付けて起動）。X11 のセッションに"
    "ログインしても使えます。詳しくはヘルプの「ツールバーと記入」をご覧ください。";

// The window taken for the browser.
struct BrowserTarget {
    platform::WindowId window = 0;  // 0 when the stack below the toolbar held no candidate
    std::string caption;            // its title up to any NUL
    bool isDialog = false;          // it belongs to another window: a dialog, never a browser
    // A window titled "False" is refused as a dialog is: the program has always answered so,
    // and a form's users may know it.
    bool Recognised() const {
        return window != 0 && !isDialog && !caption.empty() && caption != "False";
    }
};

// The first visible window below `toolbar` that is not one of the program's own.
BrowserTarget FindBrowser(platform::WindowStack& windows, platform::WindowId toolbar);
// The window a shortcut fills: `active`, unless it is one of the program's own or hidden (then
// no window).
BrowserTarget ActiveBrowser(platform::WindowStack& windows, platform::WindowId active);

// Types strokes as ParseKeys gives them into `target`: what they mean as keys is decided here,
// for this keyboard (StrokesToSend), and the keyboard presses only that. Returns how many of the
// given strokes were dealt with (KeysToSend::Handled).
std::size_t TypeStrokes(platform::Keyboard& keyboard, const std::vector<KeyStroke>& strokes,
                        platform::WindowId target);

enum class SendResult { Sent, BadNotation, FocusLost, ModifiersHeld };
struct SendOutcome {
    SendResult result = SendResult::Sent;
    std::string error;  // the parser's message for BadNotation
};

class FillCommand {
  public:
    // Shows the candidates and calls `fill` with the text of the one the user picks (not at
    // all when the list is cancelled); returns when the list has closed.
    using ChooseCandidate =
        std::function<void(const std::vector<Candidate>& candidates,
                           const std::function<void(const std::string&)>& fill)>;
    struct Toolbar {
        platform::WindowId window = 0;
        std::function<void()> place;  // puts the toolbar back in its band and shows it
        ChooseCandidate choose;
        // Tells the user something (a notice with OK) under a title.
        std::function<void(const std::string& text, const std::string& title)> tell;
        // Asks whether to go on; true only for a clear yes. Without it nothing that asks goes on.
        std::function<bool(const std::string& question, const std::string& title)> confirm;
    };

    FillCommand(platform::Desktop desktop, const AppState& state, Toolbar toolbar);

    // One press of 記入.
    void Write();
    // One press of the fill shortcut (or `penrika --fill`): the same road into `active`, the
    // window that was active at the press, with the toolbar left where and as it is.
    void WriteActive(platform::WindowId active);
    // Looks the copied label up: none, one (typed at once) or several (the toolbar's list).
    void MatchItem(const std::string& copied);
    // Types an entry's text into the field after the highlighted label: confirmation when the
    // option asks for it, activation of the browser, Tab, then the text. `afterOwnWindow`: a
    // window of ours (the candidate list) had the keyboard just before.
    void FillForm(const std::string& text, bool afterOwnWindow = false);

    // Brings the window titled `title` to the front (the recognised browser while its title
    // still begins with it, else an equal title, else one that begins with it) and waits,
    // bounded, until it is active. Returns that window, or 0 when none became active.
    platform::WindowId AppActivate(const std::string& title);
    // Parses `keys` completely, then types them into `target`, which must stay the active
    // window. Returns only after the target has had them.
    SendOutcome SendKeys(const std::string& keys, platform::WindowId target);

    const BrowserTarget& Browser() const { return browser_; }
    // The browser a fill types into (a test starts the road from here).
    void SetBrowser(BrowserTarget browser) { browser_ = std::move(browser); }

  private:
    // Copies the label in the recognised browser and looks it up.
    void CopyAndMatch();
    bool SendCopy(platform::WindowId target);
    void Tell(const std::string& text, const std::string& title);

    platform::Desktop d_;
    const AppState& state_;
    Toolbar toolbar_;
    BrowserTarget browser_;
};
