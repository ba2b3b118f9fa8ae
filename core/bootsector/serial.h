#pragma once
// Volume serial numbers: the in-memory value, its text forms and the typed-serial parser.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tlx {

// A 32-bit serial is held zero-extended; the field width travels beside the value.
using VolumeSerial = std::uint64_t;

// Accepts any grouping of hex digits with blanks and hyphens, one leading 0x; more than
// maxDigits digits is refused, never truncated.
[[nodiscard]] std::optional<VolumeSerial> parseHexSerial(std::wstring_view text, unsigned maxDigits);

[[nodiscard]] std::wstring formatSerial32(std::uint32_t value32);   // "XXXX-XXXX"
[[nodiscard]] std::wstring formatSerial64(VolumeSerial value);      // "XXXX-XXXX-XXXX-XXXX"
// 16 digits when width is 8, else 8 digits of the low half; no separators.
[[nodiscard]] std::string formatSerialHex(VolumeSerial value, std::uint32_t width);
// Short form of the low half; with width 8 and showFull, followed by " (full XXXX-...)".
[[nodiscard]] std::wstring formatSerialDisplay(VolumeSerial value, std::uint32_t width, bool showFull);

// The value written when only the low 32 bits of a 64-bit field are to change.
[[nodiscard]] constexpr VolumeSerial withLowHalf(VolumeSerial current, VolumeSerial requested) {
    return (current & 0xFFFFFFFF00000000ull) | (requested & 0xFFFFFFFFull);
}

}  // namespace tlx
