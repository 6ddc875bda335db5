// Start-up of the program.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "core/AppState.h"
#include "ui/Shell.h"

class MainToolbar;
class QWidget;

// Starts the program: hands over to a running copy, or loads and shows the main toolbar and
// returns it. Returns nullptr when this copy is to end at once. With `fill` (`penrika --fill`)
// the running copy, or this one once it runs, fills into the window active now.
MainToolbar* Main(AppState& state, const Shell& shell, bool fill = false);
// Answers --help and --version (printing the answer) and returns the exit code; nullopt when the
// command line asks for neither and the program is to start.
std::optional<int> AnswerCommandLine(int argc, char** argv);
// Whether the command line asks for a fill (--fill).
bool FillRequested(int argc, char** argv);
// Brings an already running copy forward (or, with `fill`, asks it to fill) and ends this one;
// returns only when none runs. The copy that runs then names its window to later ones: the
// modal dialog or the active window the user works in, else `toolbar()` when there is one; and
// fills through `toolbar()` for each later copy that asks.
void ActivatePrevInstance(const Shell& shell, std::function<MainToolbar*()> toolbar,
                          bool fill = false);
// Qt's own words (the text boxes' context menus, standard buttons) in Japanese like the rest of
// the program, whatever the user's locale is. False when Qt's translations are not installed.
bool InstallQtTranslations();
