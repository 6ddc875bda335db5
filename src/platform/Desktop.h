// The one small interface through which the program reaches the desktop: the window stack,
// the topmost band, activation, keystrokes, the clipboard, message boxes and help.
// X11Desktop implements it; tests put a fake in its place.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/KeyStroke.h"
#include "platform/WindowId.h"

namespace platform {

// Message box styles and answers as the program uses them.
enum MsgStyle : int { MsgOk = 0, MsgOkCancelInfo = 65, MsgInfo = 64, MsgYesNoQuestion = 36 };
enum MsgAnswer : int { MsgAnswerOk = 1, MsgAnswerCancel = 2, MsgAnswerYes = 6, MsgAnswerNo = 7 };

// Everything the clipboard held at one moment, in all its formats, kept to be put back. What it
// holds is the business of the desktop that took it.
class ClipboardContents {
  public:
    virtual ~ClipboardContents() = default;
};

// The program's help window, which a desktop opens and closes for the program (the window
// itself is the program's own; the composition root hands it over).
struct HelpHooks {
    std::function<void(WindowId owner, int context)> show;
    std::function<void()> close;
};

class Desktop {
  public:
    virtual ~Desktop() = default;

    // --- The stack of top-level windows, as the window manager stacks them.
    // Managed top-level windows below `w`, nearest first; empty when `w` is not in the stack.
    virtual std::vector<WindowId> WindowsBelow(WindowId w) = 0;
    // All managed top-level windows, topmost first.
    virtual std::vector<WindowId> TopLevelWindows() = 0;
    // Mapped and not hidden (minimised) by the window manager.
    virtual bool IsVisible(WindowId w) = 0;
    // The window's title (UTF-8), "" when it has none.
    virtual std::string Caption(WindowId w) = 0;
    // The window that owns it (a dialog's parent), 0 when none.
    virtual WindowId Owner(WindowId w) = 0;
    // One of this program's own windows.
    virtual bool IsOwnWindow(WindowId w) = 0;

    // --- The topmost band. Never activates, moves or resizes the window. With `show`, a
    // hidden window is also made visible (without being activated).
    virtual void SetTopmost(WindowId w, bool above, bool show) = 0;
    virtual bool IsTopmost(WindowId w) = 0;

    // --- Activation.
    virtual void RequestActivate(WindowId w) = 0;
    virtual WindowId ActiveWindow() = 0;
    // Waits (running the event loop) until `w` is the active window; false on timeout.
    virtual bool WaitActive(WindowId w, int timeoutMs) = 0;
    // Lets the desktop's events run for `ms` milliseconds (a pause that keeps the program
    // answering).
    virtual void RunEventsFor(int ms) = 0;
    virtual bool IsMinimized(WindowId w) = 0;
    virtual void Restore(WindowId w) = 0;

    // --- Keystrokes into the focused window.
    // Waits until the user has let go of Shift, Ctrl, Alt and Super; false on timeout.
    virtual bool WaitModifiersReleased(int timeoutMs) = 0;
    // Types the strokes and returns once the target has had them. They come as the key notation
    // leaves them for this keyboard (StrokesToSend): named keys with their modifiers, characters
    // on their own, and shortcuts, pressed on the keyboard's key for the character; what each
    // means as a key is decided before. Before each stroke it checks that `target` is still the
    // active window and stops if not. Returns how many strokes went out. Never leaves a key or
    // modifier pressed.
    virtual std::size_t Type(const std::vector<KeyStroke>& strokes, WindowId target) = 0;
    // What this keyboard types with Shift on the key that types `c` alone, 0 when it has no
    // such key: what StrokesToSend makes of Shift with a character.
    virtual char32_t ShiftedChar(char32_t c) = 0;

    // --- The clipboard (plain text).
    virtual bool ClipboardHasText() = 0;
    virtual std::string ClipboardText() = 0;
    virtual void ClipboardClear() = 0;
    // Waits (running the event loop) until the clipboard holds text; false on timeout.
    virtual bool WaitClipboardText(int timeoutMs) = 0;
    // Takes what the clipboard holds now, every format read in full (its owner may be gone by
    // the time it is put back).
    virtual std::unique_ptr<ClipboardContents> ClipboardSave() = 0;
    // Puts back what ClipboardSave took on this desktop (an empty clipboard when it held
    // nothing); the program then offers it to others itself.
    virtual void ClipboardRestore(std::unique_ptr<ClipboardContents> saved) = 0;

    // --- A modal message box; returns MsgAnswerOk or MsgAnswerCancel (also for Escape), or for
    // MsgYesNoQuestion MsgAnswerYes or MsgAnswerNo (also for Escape).
    // Message boxes stay above the topmost band while the program keeps its windows there.
    virtual void SetMessagesOnTop(bool on) = 0;
    virtual int MsgBox(const std::string& prompt, int style, const std::string& title) = 0;

    // --- Help: opens topic `context` of the program's help and brings it forward.
    virtual void ShowHelp(WindowId owner, int context) = 0;
    // Closes the help window if the program opened one.
    virtual void CloseHelp() = 0;
};

// The desktop in use. SetDesktop does not take ownership.
Desktop& TheDesktop();
void SetDesktop(Desktop* desktop);

}  // namespace platform
