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
// Whether this user may write the volume at all: elevation, or on POSIX an image file the user
// may write (a disk image needs no administrator to change).
[[nodiscard]] bool mayWriteVolume(const std::wstring& volume);
// The system's text for a Windows error code, trailing blanks and line breaks removed;
// "Error N." when there is none.
[[nodiscard]] std::wstring errorText(std::uint32_t code);

}  // namespace tlx
