#pragma once
// Page-aligned memory from VirtualAlloc, as unbuffered device transfers need.
#include <cstddef>
#include <memory>

#include "platform/win/windows.h"

namespace tlx::win {

struct VirtualFreeDeleter {
    void operator()(void* pages) const noexcept {
        const DWORD error = GetLastError();
        VirtualFree(pages, 0, MEM_RELEASE);
        SetLastError(error);
    }
};
using PageBuffer = std::unique_ptr<void, VirtualFreeDeleter>;

// Reserved and committed read/write pages; null on failure with GetLastError set.
[[nodiscard]] inline PageBuffer allocatePages(std::size_t bytes) {
    return PageBuffer(VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
}

}  // namespace tlx::win
