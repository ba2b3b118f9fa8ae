#pragma once
// The platform hashing behind sha256(), and a seam so tests can make it fail.
#include <optional>
#include <span>

#include "backup/sha256.h"

namespace tlx {

using Sha256Function = std::optional<Sha256Digest> (*)(std::span<const std::uint8_t> bytes);

// BCrypt on Windows, Nettle elsewhere; absent when the provider fails.
[[nodiscard]] std::optional<Sha256Digest> platformSha256(std::span<const std::uint8_t> bytes);

// Routes sha256() through replacement (nullptr restores the platform's); returns the previous one.
Sha256Function replaceSha256ForTesting(Sha256Function replacement);

}  // namespace tlx
