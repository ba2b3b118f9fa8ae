// A hidden window that keeps Windows from ending the session while boot sectors are written.
#include "platform/win/shutdown_block.h"

namespace tlx::win {

namespace {

constexpr wchar_t kClassName[] = L"PlinthosShutdownBlock";

LRESULT CALLBACK blockProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_QUERYENDSESSION) return FALSE;
    return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

void ShutdownBlock::hold() {
    if (window_) return;
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = blockProcedure;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = kClassName;
    RegisterClassW(&windowClass);  // fails harmlessly once registered
    // Top-level and never shown: only top-level windows are asked whether the session may end.
    window_ = CreateWindowExW(0, kClassName, L"Plinthos", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, instance, nullptr);
    if (window_) ShutdownBlockReasonCreate(window_, kShutdownBlockReason);
}

void ShutdownBlock::release() {
    if (!window_) return;
    ShutdownBlockReasonDestroy(window_);
    DestroyWindow(window_);
    window_ = nullptr;
}

}  // namespace tlx::win
