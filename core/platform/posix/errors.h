#pragma once
// errno to Windows error codes, translated once, at the system call.
#include <cstdint>

namespace tlx::posix {

[[nodiscard]] std::uint32_t windowsError(int errnoValue);
// windowsError(errno), for the line right after a failing call.
[[nodiscard]] std::uint32_t lastWindowsError();

}  // namespace tlx::posix
