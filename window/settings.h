#pragma once
// The window settings as the registry stores them, and the rules for values of the wrong type or size.
#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace tlx {

// A value as read from the registry: its type (REG_BINARY 3, REG_DWORD 4, ...) and its bytes.
struct StoredValue {
    std::uint32_t type = 0;
    std::vector<std::uint8_t> bytes;
};
inline constexpr std::uint32_t kRegBinary = 3;
inline constexpr std::uint32_t kRegDword = 4;

// "SortColumn": a signed number, values above 6 lowered to 6; missing or not a 4-byte DWORD gives 0.
[[nodiscard]] int decodeSortColumn(const std::optional<StoredValue>& value);
// "SortDescending", "ShowHidden": not 0; missing or mistyped gives false.
[[nodiscard]] bool decodeFlag(const std::optional<StoredValue>& value);
[[nodiscard]] std::array<std::uint8_t, 4> encodeDword(std::uint32_t value);

// "Window": the normal rectangle and whether the window was maximized.
struct SavedWindow {
    std::int32_t left = 0, top = 0, right = 0, bottom = 0;
    bool maximized = false;
};
// Only a REG_BINARY of exactly 20 bytes is a saved window.
[[nodiscard]] std::optional<SavedWindow> decodeWindow(const std::optional<StoredValue>& value);
[[nodiscard]] std::array<std::uint8_t, 20> encodeWindow(const SavedWindow& window);
// A saved rectangle smaller than the window's minimum size is not restored.
[[nodiscard]] bool meetsMinimumSize(const SavedWindow& window, int minWidth, int minHeight);

}  // namespace tlx
