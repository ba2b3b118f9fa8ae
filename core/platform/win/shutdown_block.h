#pragma once
// Holds Windows shutdown and sign-out off while a volume is half written. A process that has loaded
// user32 is never sent the console's logoff and shutdown events, so a hidden top-level window answers
// WM_QUERYENDSESSION with FALSE and names the reason Windows shows.
#include "platform/win/windows.h"

namespace tlx::win {

class ShutdownBlock {
public:
    ShutdownBlock() = default;
    ~ShutdownBlock() { release(); }
    ShutdownBlock(const ShutdownBlock&) = delete;
    ShutdownBlock& operator=(const ShutdownBlock&) = delete;

    // Creates the window and registers the reason; nothing happens when it is already held.
    void hold();
    // Withdraws the reason and destroys the window.
    void release();
    [[nodiscard]] HWND window() const { return window_; }

private:
    HWND window_ = nullptr;
};

// The text Windows shows beside the program while shutdown is held off.
inline constexpr const wchar_t* kShutdownBlockReason =
    L"Writing a volume's boot sectors. Shutting down now could leave the volume unreadable.";

}  // namespace tlx::win
