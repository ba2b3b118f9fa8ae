#pragma once
// Small platform services: clock, random bits, elevation, error texts.
#include <cstdint>
#include <optional>
#include <string>

namespace tlx {

struct UtcTime {
    unsigned year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

[[nodiscard]] UtcTime utcNow();
// 8 bytes from the system's preferred generator, little-endian; absent when it fails.
[[nodiscard]] std::optional<std::uint64_t> randomBits64();
// Windows: elevated token. POSIX: root.
[[nodiscard]] bool isElevated();
// The system's text for a Windows error code, trailing blanks and line breaks removed;
// "Error N." when there is none.
[[nodiscard]] std::wstring errorText(std::uint32_t code);

}  // namespace tlx
