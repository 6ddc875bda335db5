// A key combination taken for the whole desktop: pressed over any program's window, it runs
// the program's fill. Each desktop family takes it its own way (a key grab on X11, a hot key on
// Windows, a portal on Wayland); where none can, the user binds `penrika --fill` instead.
#pragma once

#include <functional>
#include <string>

namespace platform {

class GlobalShortcut {
  public:
    enum class Outcome {
        Taken,        // the combination is the program's until Take is called again
        Released,     // asked for none: none is held
        Held,         // another program holds it; nothing is taken
        Unsupported,  // this desktop lets no program take one
        Invalid,      // not a combination a desktop can take (no key, or a key this keyboard lacks)
    };

    virtual ~GlobalShortcut() = default;

    // Takes `sequence` (one combination in Qt's portable text, "Ctrl+Alt+K"), giving up the one
    // taken before; "" gives it up only. Either every part of the new combination is taken (and
    // the one before given up), or nothing changes.
    virtual Outcome Take(const std::string& sequence) = 0;
    // Runs once for each press, after the combination's key has come up again (so that what the
    // fill types does not meet the key still held).
    void OnPressed(std::function<void()> pressed) { pressed_ = std::move(pressed); }

  protected:
    void Pressed() {
        if (pressed_) pressed_();
    }

  private:
    std::function<void()> pressed_;
};

// Takes nothing: a desktop that lets no program take a combination.
class NoGlobalShortcut : public GlobalShortcut {
  public:
    Outcome Take(const std::string& sequence) override {
        return sequence.empty() ? Outcome::Released : Outcome::Unsupported;
    }
};

}  // namespace platform
