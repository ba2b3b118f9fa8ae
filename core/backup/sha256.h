#pragma once
// SHA-256 from the platform's cryptographic provider (BCrypt on Windows, libcrypto elsewhere).
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace tlx {

using Sha256Digest = std::array<std::uint8_t, 32>;

// Absent when the provider fails: callers must treat that as a failure, never as a digest.
[[nodiscard]] std::optional<Sha256Digest> sha256(std::span<const std::uint8_t> bytes);
// 64 lower-case hex digits, high nibble first.
[[nodiscard]] std::string digestHex(const Sha256Digest& digest);
// The reverse: exactly 64 hex digits, either case; absent on anything else.
[[nodiscard]] std::optional<Sha256Digest> parseDigestHex(std::string_view text);

}  // namespace tlx
