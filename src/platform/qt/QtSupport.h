// What the desktops share through Qt: waits that keep the event loop running, and the widget
// behind one of the program's own windows.
#pragma once

#include <QKeyCombination>

#include <functional>
#include <optional>
#include <string>

#include "platform/WindowId.h"

class QWidget;

namespace platform {

// Runs the Qt event loop until `done` holds or `timeoutMs` has passed; true when it held.
// `done` is asked at the start, after every wake-up and at least every `pollMs`. A connection
// of the desktop's own may join in: `wakeFd` (-1 for none) ends a wake-up when it has something
// to read, and `drain` reads what it has, saying whether anything came (then `done` is asked
// again at once). Without `userInput`, mouse and key events for this program wait until later,
// so that a click on one of its windows cannot start a second action in the middle of typing.
bool RunEventsUntil(const std::function<bool()>& done, int timeoutMs, int pollMs,
                    bool userInput = true, int wakeFd = -1,
                    const std::function<bool()>& drain = {});
// Runs the event loop for `ms` (pacing, not synchronisation).
void RunEventsFor(int ms, bool userInput = true);

// The top-level widget whose native window is `w`, or nullptr when `w` is none of ours (or not
// created yet).
QWidget* OwnWidget(WindowId w);

// The keysym (X11's and xkbcommon's numbering) of a key as Qt names it (Qt::Key), for the keys
// a shortcut may end in: printable ASCII (letters in their small form), F1 to F35 and the named
// keys of a keyboard's main block. 0 for any other.
unsigned QtKeyToKeysym(int key);

// The one key combination a stored shortcut names (its portable text form, "Ctrl+Alt+K");
// nothing when the text names none or more than one.
std::optional<QKeyCombination> ShortcutCombination(const std::string& text);

}  // namespace platform
