#pragma once
// The main window: dialog 200 with its message, command and notification dispatch, layout and DPI.
#include "window_state.h"

namespace tlx::win {

// Creates the main dialog, hidden; null when it cannot be created. `state` must outlive the window.
[[nodiscard]] HWND createMainDialog(HINSTANCE instance, WindowState& state);

}  // namespace tlx::win
