// The clipboard through Qt, which speaks to each system's clipboard for the program.
#pragma once

#include <memory>
#include <string>

#include "platform/Clipboard.h"

namespace platform {

class QtClipboard : public Clipboard {
  public:
    std::string Text() override;
    void Clear() override;
    bool WaitText(int timeoutMs) override;
    std::unique_ptr<ClipboardContents> Take() override;
    void PutBack(std::unique_ptr<ClipboardContents> saved) override;

    // Whether it holds text now.
    bool HasText();
};

}  // namespace platform
