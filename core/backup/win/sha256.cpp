// SHA-256 through the system's BCrypt provider.
#include <limits>

#include "backup/sha256_provider.h"
#include "platform/win/unique_handle.h"
#include "platform/win/windows.h"

#include <bcrypt.h>

namespace tlx {

namespace {

struct AlgorithmTraits {
    using Value = BCRYPT_ALG_HANDLE;
    static Value invalid() noexcept { return nullptr; }
    static bool valid(Value value) noexcept { return value != nullptr; }
    static void close(Value value) noexcept { BCryptCloseAlgorithmProvider(value, 0); }
};
using AlgorithmHandle = win::UniqueHandle<AlgorithmTraits>;

struct HashTraits {
    using Value = BCRYPT_HASH_HANDLE;
    static Value invalid() noexcept { return nullptr; }
    static bool valid(Value value) noexcept { return value != nullptr; }
    static void close(Value value) noexcept { BCryptDestroyHash(value); }
};
using HashHandle = win::UniqueHandle<HashTraits>;

bool succeeded(NTSTATUS status) {
    return status >= 0;
}

}  // namespace

std::optional<Sha256Digest> platformSha256(std::span<const std::uint8_t> bytes) {
    // BCryptHashData takes a 32-bit length; backups are far smaller, but never hash a prefix silently.
    if (bytes.size() > std::numeric_limits<ULONG>::max())
        return std::nullopt;
    BCRYPT_ALG_HANDLE rawAlgorithm = nullptr;
    if (!succeeded(BCryptOpenAlgorithmProvider(&rawAlgorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0)))
        return std::nullopt;
    const AlgorithmHandle algorithm(rawAlgorithm);
    BCRYPT_HASH_HANDLE rawHash = nullptr;
    if (!succeeded(BCryptCreateHash(algorithm.get(), &rawHash, nullptr, 0, nullptr, 0, 0)))
        return std::nullopt;
    const HashHandle hash(rawHash);
    // BCryptHashData does not write through its input pointer; the cast only satisfies its signature.
    auto* input = const_cast<PUCHAR>(reinterpret_cast<const UCHAR*>(bytes.data()));
    if (!succeeded(BCryptHashData(hash.get(), input, static_cast<ULONG>(bytes.size()), 0)))
        return std::nullopt;
    Sha256Digest digest{};
    if (!succeeded(BCryptFinishHash(hash.get(), digest.data(), static_cast<ULONG>(digest.size()), 0)))
        return std::nullopt;
    return digest;
}

}  // namespace tlx
