#pragma once
// Keeps the system's "insert a disk" and open-file dialogs away while volumes are queried.
#include "platform/win/windows.h"

namespace tlx::win {

class ScopedErrorMode {
public:
    explicit ScopedErrorMode(DWORD mode = SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX) noexcept
        : changed_(SetThreadErrorMode(mode, &previous_) != FALSE) {}
    ~ScopedErrorMode() {
        if (changed_) SetThreadErrorMode(previous_, nullptr);
    }
    ScopedErrorMode(const ScopedErrorMode&) = delete;
    ScopedErrorMode& operator=(const ScopedErrorMode&) = delete;

private:
    DWORD previous_ = 0;
    bool changed_;
};

}  // namespace tlx::win
