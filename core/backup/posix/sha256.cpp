// SHA-256 through libcrypto's EVP interface.
#include <memory>

#include <openssl/evp.h>

#include "backup/sha256_provider.h"

namespace tlx {

namespace {

struct DigestContextFree {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
using DigestContext = std::unique_ptr<EVP_MD_CTX, DigestContextFree>;

}  // namespace

std::optional<Sha256Digest> platformSha256(std::span<const std::uint8_t> bytes) {
    DigestContext context(EVP_MD_CTX_new());
    if (!context)
        return std::nullopt;
    Sha256Digest digest{};
    unsigned int length = 0;
    if (EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1 ||
        EVP_DigestUpdate(context.get(), bytes.data(), bytes.size()) != 1 ||
        EVP_DigestFinal_ex(context.get(), digest.data(), &length) != 1 || length != digest.size())
        return std::nullopt;
    return digest;
}

}  // namespace tlx
