// The system asking the program to end (a kill, a hang-up, Ctrl+C in its terminal).
#pragma once

#include <functional>

class QObject;

namespace platform {

// Runs `handler` on `context`'s thread, from its event loop, each time the system asks the
// program to end; the handler lives as long as `context`. Set once, at start-up.
void OnTerminationRequest(QObject* context, std::function<void()> handler);

// Ends the program at once, as the request would have had no handler been set: for a request
// that comes before anything of the user's was read, when there is nothing to save.
[[noreturn]] void EndAsTerminated();

}  // namespace platform
