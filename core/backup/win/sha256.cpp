// SHA-256 through the system's BCrypt provider.
#include <limits>

#include "backup/sha256_provider.h"
#include "platform/win/system_library.h"
#include "platform/win/unique_handle.h"
#include "platform/win/windows.h"

#include <bcrypt.h>

namespace tlx {

namespace {

// bcrypt.dll is no KnownDLL: taken from System32, never from beside the program.
#define TLX_BCRYPT(function) win::systemFunction<decltype(function)>(L"bcrypt.dll", #function)

struct BCrypt {
    decltype(BCryptOpenAlgorithmProvider)* open = TLX_BCRYPT(BCryptOpenAlgorithmProvider);
    decltype(BCryptCloseAlgorithmProvider)* close = TLX_BCRYPT(BCryptCloseAlgorithmProvider);
    decltype(BCryptCreateHash)* createHash = TLX_BCRYPT(BCryptCreateHash);
    decltype(BCryptDestroyHash)* destroyHash = TLX_BCRYPT(BCryptDestroyHash);
    decltype(BCryptHashData)* hashData = TLX_BCRYPT(BCryptHashData);
    decltype(BCryptFinishHash)* finishHash = TLX_BCRYPT(BCryptFinishHash);

    bool complete() const { return open && close && createHash && destroyHash && hashData && finishHash; }
};
#undef TLX_BCRYPT

const BCrypt& api() {
    static const BCrypt loaded;
    return loaded;
}

struct AlgorithmTraits {
    using Value = BCRYPT_ALG_HANDLE;
    static Value invalid() noexcept { return nullptr; }
    static bool valid(Value value) noexcept { return value != nullptr; }
    static void close(Value value) noexcept { api().close(value, 0); }
};
using AlgorithmHandle = win::UniqueHandle<AlgorithmTraits>;

struct HashTraits {
    using Value = BCRYPT_HASH_HANDLE;
    static Value invalid() noexcept { return nullptr; }
    static bool valid(Value value) noexcept { return value != nullptr; }
    static void close(Value value) noexcept { api().destroyHash(value); }
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
    const BCrypt& bcrypt = api();
    if (!bcrypt.complete())
        return std::nullopt;
    BCRYPT_ALG_HANDLE rawAlgorithm = nullptr;
    if (!succeeded(bcrypt.open(&rawAlgorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0)))
        return std::nullopt;
    const AlgorithmHandle algorithm(rawAlgorithm);
    BCRYPT_HASH_HANDLE rawHash = nullptr;
    if (!succeeded(bcrypt.createHash(algorithm.get(), &rawHash, nullptr, 0, nullptr, 0, 0)))
        return std::nullopt;
    const HashHandle hash(rawHash);
    // BCryptHashData does not write through its input pointer; the cast only satisfies its signature.
    auto* input = const_cast<PUCHAR>(reinterpret_cast<const UCHAR*>(bytes.data()));
    if (!succeeded(bcrypt.hashData(hash.get(), input, static_cast<ULONG>(bytes.size()), 0)))
        return std::nullopt;
    Sha256Digest digest{};
    if (!succeeded(bcrypt.finishHash(hash.get(), digest.data(), static_cast<ULONG>(digest.size()), 0)))
        return std::nullopt;
    return digest;
}

}  // namespace tlx
