// Start-up of the program.
#pragma once

#include <optional>
#include <string>

#include "core/AppState.h"
#include "ui/Shell.h"

// Starts the program: hands over to a running copy, or loads and shows the main toolbar.
// Returns false when this copy is to end at once.
bool Main(AppState& state, const Shell& shell);
// Answers --help and --version (printing the answer) and returns the exit code; nullopt when the
// command line asks for neither and the program is to start.
std::optional<int> AnswerCommandLine(int argc, char** argv);
// Brings an already running copy forward and ends this one; returns only when none runs.
void ActivatePrevInstance(const Shell& shell);
// Qt's own words (the text boxes' context menus, standard buttons) in Japanese like the rest of
// the program, whatever the user's locale is. False when Qt's translations are not installed.
bool InstallQtTranslations();
