#include "settings.h"

#include "bootsector/le.h"

namespace tlx {
namespace {

std::optional<std::uint32_t> dwordOf(const std::optional<StoredValue>& value) {
    if (!value || value->type != kRegDword || value->bytes.size() != 4) return std::nullopt;
    return readLe32(value->bytes, 0);
}

}  // namespace

int decodeSortColumn(const std::optional<StoredValue>& value) {
    const std::optional<std::uint32_t> stored = dwordOf(value);
    if (!stored) return 0;
    const auto column = static_cast<std::int32_t>(*stored);
    return column > 6 ? 6 : column;
}

bool decodeFlag(const std::optional<StoredValue>& value) {
    const std::optional<std::uint32_t> stored = dwordOf(value);
    return stored && *stored != 0;
}

std::array<std::uint8_t, 4> encodeDword(std::uint32_t value) {
    std::array<std::uint8_t, 4> bytes{};
    writeLe(bytes, 0, 4, value);
    return bytes;
}

std::optional<SavedWindow> decodeWindow(const std::optional<StoredValue>& value) {
    if (!value || value->type != kRegBinary || value->bytes.size() != 20) return std::nullopt;
    const std::span<const std::uint8_t> p = value->bytes;
    SavedWindow window;
    window.left = static_cast<std::int32_t>(readLe32(p, 0));
    window.top = static_cast<std::int32_t>(readLe32(p, 4));
    window.right = static_cast<std::int32_t>(readLe32(p, 8));
    window.bottom = static_cast<std::int32_t>(readLe32(p, 12));
    window.maximized = readLe32(p, 16) != 0;
    return window;
}

std::array<std::uint8_t, 20> encodeWindow(const SavedWindow& window) {
    std::array<std::uint8_t, 20> bytes{};
    writeLe(bytes, 0, 4, static_cast<std::uint32_t>(window.left));
    writeLe(bytes, 4, 4, static_cast<std::uint32_t>(window.top));
    writeLe(bytes, 8, 4, static_cast<std::uint32_t>(window.right));
    writeLe(bytes, 12, 4, static_cast<std::uint32_t>(window.bottom));
    writeLe(bytes, 16, 4, window.maximized ? 1u : 0u);
    return bytes;
}

bool meetsMinimumSize(const SavedWindow& window, int minWidth, int minHeight) {
    // 64-bit differences: a hostile rectangle must not overflow into "large enough".
    const std::int64_t width = std::int64_t{window.right} - window.left;
    const std::int64_t height = std::int64_t{window.bottom} - window.top;
    return width >= minWidth && height >= minHeight;
}

}  // namespace tlx
