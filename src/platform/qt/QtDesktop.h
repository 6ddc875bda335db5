// What every desktop does the same way through Qt: the clipboard and message boxes.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/Desktop.h"

namespace platform {

// A desktop derives from this rather than holding a helper it forwards to: these are Desktop's
// own calls, so a desktop gets them with no forwarding of its own, and the saved clipboard's
// type stays known only to the code that makes and reads it. The rest (the window stack,
// activation, keys, help) is each desktop's own.
class QtDesktop : public Desktop {
  public:
    void RunEventsFor(int ms) override;
    bool ClipboardHasText() override;
    std::string ClipboardText() override;
    void ClipboardClear() override;
    bool WaitClipboardText(int timeoutMs) override;
    std::unique_ptr<ClipboardContents> ClipboardSave() override;
    void ClipboardRestore(std::unique_ptr<ClipboardContents> saved) override;

    void SetMessagesOnTop(bool on) override { messagesOnTop_ = on; }
    int MsgBox(const std::string& prompt, int style, const std::string& title) override;

  protected:
    // Runs the Qt event loop until `done` holds or the time is up, checking `done` after every
    // wake-up and at least every `pollMs`.
    static bool RunEventsUntil(const std::function<bool()>& done, int timeoutMs, int pollMs);

  private:
    bool messagesOnTop_ = false;
};

}  // namespace platform
