#pragma once
// Move-only owners for Windows handles; each traits type knows its own invalid value.
#include <utility>

#include "platform/win/windows.h"

namespace tlx::win {

template <typename Traits>
class UniqueHandle {
public:
    using Value = typename Traits::Value;

    UniqueHandle() noexcept = default;
    explicit UniqueHandle(Value value) noexcept : value_(value) {}
    ~UniqueHandle() { reset(); }
    UniqueHandle(UniqueHandle&& other) noexcept : value_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;

    [[nodiscard]] Value get() const noexcept { return value_; }
    [[nodiscard]] bool valid() const noexcept { return Traits::valid(value_); }
    explicit operator bool() const noexcept { return valid(); }

    // Closing keeps the thread's last error, so a failure being reported is not clobbered.
    void reset(Value value = Traits::invalid()) noexcept {
        if (Traits::valid(value_)) {
            const DWORD error = GetLastError();
            Traits::close(value_);
            SetLastError(error);
        }
        value_ = value;
    }
    [[nodiscard]] Value release() noexcept { return std::exchange(value_, Traits::invalid()); }

private:
    Value value_ = Traits::invalid();
};

// CreateFileW results: INVALID_HANDLE_VALUE on failure; null is never a usable handle either.
struct FileHandleTraits {
    using Value = HANDLE;
    static Value invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static bool valid(Value value) noexcept { return value != INVALID_HANDLE_VALUE && value != nullptr; }
    static void close(Value value) noexcept { CloseHandle(value); }
};
using FileHandle = UniqueHandle<FileHandleTraits>;

// Tokens, processes, events: null on failure.
struct KernelHandleTraits {
    using Value = HANDLE;
    static Value invalid() noexcept { return nullptr; }
    static bool valid(Value value) noexcept { return value != nullptr; }
    static void close(Value value) noexcept { CloseHandle(value); }
};
using KernelHandle = UniqueHandle<KernelHandleTraits>;

struct FindVolumeTraits {
    using Value = HANDLE;
    static Value invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static bool valid(Value value) noexcept { return value != INVALID_HANDLE_VALUE; }
    static void close(Value value) noexcept { FindVolumeClose(value); }
};
using FindVolumeHandle = UniqueHandle<FindVolumeTraits>;

}  // namespace tlx::win
