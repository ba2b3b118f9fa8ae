// SHA-256 entry point and its text form.
#include "backup/sha256.h"

#include "backup/sha256_provider.h"

namespace tlx {

namespace {

Sha256Function& currentProvider() {
    static Sha256Function provider = platformSha256;
    return provider;
}

}  // namespace

std::optional<Sha256Digest> sha256(std::span<const std::uint8_t> bytes) {
    return currentProvider()(bytes);
}

Sha256Function replaceSha256ForTesting(Sha256Function replacement) {
    Sha256Function previous = currentProvider();
    currentProvider() = replacement ? replacement : platformSha256;
    return previous;
}

std::string digestHex(const Sha256Digest& digest) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(digest.size() * 2);
    for (const std::uint8_t byte : digest) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0x0F];
    }
    return text;
}

std::optional<Sha256Digest> parseDigestHex(std::string_view text) {
    if (text.size() != 64) return std::nullopt;
    const auto nibble = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    Sha256Digest digest{};
    for (std::size_t i = 0; i < digest.size(); ++i) {
        const int high = nibble(text[2 * i]), low = nibble(text[2 * i + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        digest[i] = static_cast<std::uint8_t>(high << 4 | low);
    }
    return digest;
}

}  // namespace tlx
