#pragma once
// The shell's "System.Volume.BitLockerProtection" value of a mount point; no rights or disk access needed.
#include <cstdint>
#include <optional>
#include <string>

namespace tlx::win {

// Absent when the shell has no such property, cannot parse the name, or reports another value type.
[[nodiscard]] std::optional<std::int32_t> queryBitLockerProtection(const std::wstring& parsingName);

}  // namespace tlx::win
