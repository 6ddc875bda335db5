// The clipboard, as plain text for the label the browser copies, and whole for what the user
// had copied, which is taken before a fill and put back after it.
#pragma once

#include <memory>
#include <string>

namespace platform {

// Everything the clipboard held at one moment, in all its formats, kept to be put back. What it
// holds is the business of the clipboard that took it.
class ClipboardContents {
  public:
    virtual ~ClipboardContents() = default;
};

class Clipboard {
  public:
    virtual ~Clipboard() = default;

    // The text it holds (UTF-8), "" when it holds none.
    virtual std::string Text() = 0;
    // Empties it: no text for anyone.
    virtual void Clear() = 0;
    // Waits (running the event loop) until it holds text; false on timeout.
    virtual bool WaitText(int timeoutMs) = 0;
    // Takes what it holds now, every format read in full (its owner may be gone by the time it
    // is put back).
    virtual std::unique_ptr<ClipboardContents> Take() = 0;
    // Puts back what Take took on this clipboard (an empty clipboard when it held nothing); the
    // program then offers it to others itself.
    virtual void PutBack(std::unique_ptr<ClipboardContents> saved) = 0;
};

}  // namespace platform
