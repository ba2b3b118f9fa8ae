#pragma once
// The result file the elevated instance writes for its parent: "key=value" lines, 8-bit text.
#include <cstdint>
#include <string>
#include <string_view>

#include "elevated_request.h"

namespace tlx {

// A real result is a few hundred bytes; anything past this is not ours and is not read at all.
inline constexpr std::size_t kMaxResultFileBytes = 64 * 1024;

// Every line in fixed order, each ended by "\n"; cancelled and launchError are never written.
[[nodiscard]] std::string writeResultFile(const ElevatedResult& result);

// False, leaving result untouched, when there is no "ran" line, when a value of a known key is
// not an unsigned decimal that fits 64 bits, or when the text is longer than kMaxResultFileBytes.
[[nodiscard]] bool readResultFile(std::string_view bytes, ElevatedResult& result);

// The parent's reading of what its child left: trusted only after exit code 0 and with the file's last key
// present. Otherwise result becomes a fresh record whose launchError is the exit code, or 13 when that is 0.
[[nodiscard]] bool readChildResult(std::uint32_t exitCode, std::string_view bytes, ElevatedResult& result);

}  // namespace tlx
