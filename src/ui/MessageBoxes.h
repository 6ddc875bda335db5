// The program's message boxes, as Qt draws them on every system.
#pragma once

#include "ui/Shell.h"

class MessageBoxes : public Messages {
  public:
    int Box(const std::string& prompt, int style, const std::string& title) override;
    void SetOnTop(bool on) override { onTop_ = on; }

  private:
    bool onTop_ = false;
};
