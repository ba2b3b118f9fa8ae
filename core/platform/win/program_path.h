#pragma once
// The running program's own file, at any length.
#include <string>

namespace tlx::win {

// GetModuleFileNameW of the executable, never cut short; empty when the system gives none.
[[nodiscard]] std::wstring programPath();
// True when the running program's file lies on volume (a volume GUID path, with or without its final
// backslash): its image then keeps that volume in use, and no lock on it can succeed.
[[nodiscard]] bool programRunsFrom(const std::wstring& volume);

}  // namespace tlx::win
