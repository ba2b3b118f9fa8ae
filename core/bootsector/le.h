#pragma once
// Little-endian fields read from and stored at byte offsets; callers keep offsets inside the buffer.
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <span>

namespace tlx {

[[nodiscard]] inline std::uint64_t readLe(std::span<const std::uint8_t> bytes, std::size_t offset, unsigned width) {
    assert(offset + width <= bytes.size());
    std::uint64_t value = 0;
    for (unsigned i = width; i-- > 0;) value = (value << 8) | bytes[offset + i];
    return value;
}

[[nodiscard]] inline std::uint16_t readLe16(std::span<const std::uint8_t> bytes, std::size_t offset) {
    return static_cast<std::uint16_t>(readLe(bytes, offset, 2));
}
[[nodiscard]] inline std::uint32_t readLe32(std::span<const std::uint8_t> bytes, std::size_t offset) {
    return static_cast<std::uint32_t>(readLe(bytes, offset, 4));
}
[[nodiscard]] inline std::uint64_t readLe64(std::span<const std::uint8_t> bytes, std::size_t offset) {
    return readLe(bytes, offset, 8);
}

inline void writeLe(std::span<std::uint8_t> bytes, std::size_t offset, unsigned width, std::uint64_t value) {
    assert(offset + width <= bytes.size());
    for (unsigned i = 0; i < width; ++i) bytes[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

}  // namespace tlx
