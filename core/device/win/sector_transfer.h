#pragma once
// What every Windows sector device does per transfer: one synchronous positioned ReadFile or
// WriteFile through a page-aligned buffer, as unbuffered handles require.
#include <cstdint>
#include <limits>

#include "platform/win/page_buffer.h"
#include "platform/win/windows.h"

namespace tlx::win {

// A transfer buffer that grows to the largest transfer and is reused otherwise.
class TransferBuffer {
public:
    // False with the system's error when the memory cannot be had.
    [[nodiscard]] bool reserve(std::uint64_t bytes, std::uint32_t& error) {
        if (size_ >= bytes) return true;
        pages_.reset();
        size_ = 0;
        pages_ = allocatePages(static_cast<std::size_t>(bytes));
        if (!pages_) {
            error = GetLastError();
            return false;
        }
        size_ = bytes;
        return true;
    }
    [[nodiscard]] void* get() const { return pages_.get(); }

private:
    PageBuffer pages_;
    std::uint64_t size_ = 0;
};

// first * sectorSize as a Windows file offset (signed 64-bit); 87 where a wrapped product would
// silently address another sector.
[[nodiscard]] inline bool sectorOffset(std::uint64_t first, std::uint32_t sectorSize, std::uint64_t& offset,
                                       std::uint32_t& error) {
    if (first > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) / sectorSize) {
        error = 87;  // ERROR_INVALID_PARAMETER
        return false;
    }
    offset = first * sectorSize;
    return true;
}

// One call at offset; a failure gives the system's error, fewer bytes than asked 38 (ERROR_HANDLE_EOF).
[[nodiscard]] inline bool transferAt(HANDLE handle, bool write, void* buffer, std::uint32_t bytes, std::uint64_t offset,
                                     std::uint32_t& error) {
    OVERLAPPED position{};
    position.Offset = static_cast<DWORD>(offset);
    position.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD done = 0;
    const BOOL ok = write ? WriteFile(handle, buffer, bytes, &done, &position)
                          : ReadFile(handle, buffer, bytes, &done, &position);
    if (!ok) {
        error = GetLastError();
        return false;
    }
    if (done < bytes) {
        error = 38;
        return false;
    }
    return true;
}

}  // namespace tlx::win
