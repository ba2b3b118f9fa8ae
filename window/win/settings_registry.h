#pragma once
// The window settings in HKEY_CURRENT_USER\Software\Morvane\Plinthos: read at start, written at exit.
#include "window_state.h"

namespace tlx::win {

// sortColumn, sortDescending, showHidden; defaults for anything missing or mistyped.
void loadListSettings(WindowState& state);
// The saved rectangle, when it is large enough and on a monitor; sets startMaximized. The window stays hidden.
void restorePlacement(WindowState& state);
// All four values; write errors are ignored.
void saveSettings(const WindowState& state);

}  // namespace tlx::win
