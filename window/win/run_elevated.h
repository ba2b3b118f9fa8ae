#pragma once
// The window's side of an operation: in process when already elevated, else through an elevated
// instance of this program that reports back through a result file.
#include "elevated_request.h"
#include "platform/win/windows.h"

namespace tlx::win {

// Called on the UI thread. owner is disabled while a second instance runs; messages keep flowing.
[[nodiscard]] ElevatedResult runElevated(HWND owner, const ElevatedRequest& request);

// The second-instance path of runElevated, whatever this process's own rights; owner may be null.
[[nodiscard]] ElevatedResult launchElevated(HWND owner, const ElevatedRequest& request);

}  // namespace tlx::win
