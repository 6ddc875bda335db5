// What the windows reach beyond themselves, handed down from main.cpp through the toolbar: the
// desktop's three parts and its fill shortcut, the program's message boxes and its help. No window
// finds any of them on its own, so tests hand fakes in their place.
#pragma once

#include <string>

#include "core/FillCommand.h"
#include "platform/Desktop.h"
#include "platform/GlobalShortcut.h"

// Message box styles and answers as the program uses them.
enum MsgStyle : int { MsgOk = 0, MsgOkCancelInfo = 65, MsgInfo = 64, MsgYesNoQuestion = 36 };
enum MsgAnswer : int { MsgAnswerOk = 1, MsgAnswerCancel = 2, MsgAnswerYes = 6, MsgAnswerNo = 7 };

class Messages {
  public:
    virtual ~Messages() = default;
    // A modal message box; returns MsgAnswerOk or MsgAnswerCancel (also for Escape), or for
    // MsgYesNoQuestion MsgAnswerYes or MsgAnswerNo (also for Escape).
    virtual int Box(const std::string& prompt, int style, const std::string& title) = 0;
    // Message boxes stay above the topmost band while the program keeps its windows there.
    virtual void SetOnTop(bool on) = 0;

    // The fill road's reports: a notice with OK, and a question that only OK answers yes.
    void Tell(const std::string& text, const std::string& title) { Box(text, MsgOk, title); }
    bool Confirm(const std::string& question, const std::string& title) {
        return Box(question, MsgOkCancelInfo, title) == MsgAnswerOk;
    }
};

class Help {
  public:
    virtual ~Help() = default;
    // Opens topic `context` of the program's help and brings it forward.
    virtual void Open(platform::WindowId owner, int context) = 0;
    // Closes the help window if it is open.
    virtual void Close() = 0;
};

// The fill road's toolbar `window` as far as messages go: it tells and asks through `messages`.
inline FillCommand::Toolbar RoadToolbar(Messages& messages, platform::WindowId window = 0) {
    FillCommand::Toolbar t;
    t.window = window;
    t.tell = [&messages](const std::string& text, const std::string& title) {
        messages.Tell(text, title);
    };
    t.confirm = [&messages](const std::string& question, const std::string& title) {
        return messages.Confirm(question, title);
    };
    return t;
}

struct Shell {
    platform::WindowStack& windows;
    platform::Keyboard& keyboard;
    platform::Clipboard& clipboard;
    Messages& messages;
    Help& help;
    platform::GlobalShortcut& shortcut;
    // The toolbar never takes the keyboard (no frame, no focus): where the program cannot give
    // it back to the browser after a click.
    bool toolbarTakesNoFocus = false;

    platform::Desktop desktop() const { return {windows, keyboard, clipboard}; }
};
