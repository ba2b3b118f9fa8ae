#pragma once
// The explanation, About, the command-line tool dialog, and restarting as administrator.
#include "window_state.h"

namespace tlx::win {

void showWhatIs(const WindowState& state);
void showAbout(const WindowState& state);
void showCommandLineTool(const WindowState& state);
void restartAsAdministrator(WindowState& state);

}  // namespace tlx::win
