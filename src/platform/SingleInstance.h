// One running copy per user and display.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/WindowId.h"

namespace platform {

class SingleInstance {
  public:
    virtual ~SingleInstance() = default;

    // Becomes the running copy for this user and display, or learns that another copy runs.
    // Safe against two launches in the same instant and against what a crashed copy left.
    static std::unique_ptr<SingleInstance> Claim();

    // True when this copy is the one that runs; false when another copy already does, or when
    // that cannot be told (then Failure says why).
    virtual bool IsPrimary() const = 0;
    // Why this copy can neither run nor hand over, in words for the user (the file or folder
    // and the system's reason); empty when the claim was decided.
    virtual std::string Failure() const = 0;
    // In a second copy: the running copy's most recently active window, 0 when it cannot tell.
    virtual WindowId RunningCopyWindow(int timeoutMs) = 0;
    // In a second copy: asks the running copy to fill into the window active now (what
    // `penrika --fill` does); true once it has taken the request, false when none answered.
    virtual bool AskToFill(int timeoutMs) = 0;
    // In the running copy: answers later copies with the window `lastActive` returns, and runs
    // `fill` (after answering) for each copy that asks for a fill.
    virtual void Serve(std::function<WindowId()> lastActive, std::function<void()> fill) = 0;
};

}  // namespace platform
