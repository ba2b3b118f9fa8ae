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

}  // namespace tlx
