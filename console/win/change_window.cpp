// Console control events are answered while a change is half written; qorin leaves the volume's folders.
#include "platform/win/windows.h"

#include <atomic>
#include <string>

#include "change_window.h"
#include "platform/win/program_path.h"
#include "platform/win/shutdown_block.h"

namespace tlx {

namespace {

std::atomic<bool> windowEntered = false;
HANDLE windowLeft = nullptr;  // manual-reset event, set once every region is verified or rolled back
// qorin loads user32 (through shell32), so Windows sends it no logoff or shutdown console events.
win::ShutdownBlock shutdownBlock;

// Runs on a thread of its own that Windows starts for each event.
BOOL WINAPI onConsoleControl(DWORD event) {
    // Before the first write the default handling ends the process with nothing written.
    if (!windowEntered) return FALSE;
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        return TRUE;  // the change finishes and reports as usual
    default:
        // Closing the console, logging off, shutting down: Windows ends the process when this
        // returns, so return only once the volume is whole again (Windows allows a few seconds).
        if (windowLeft != nullptr) WaitForSingleObject(windowLeft, INFINITE);
        return TRUE;
    }
}

}  // namespace

ConsoleChangeWindow::ConsoleChangeWindow() {
    // A current folder on the target volume is an open handle that keeps its lock from succeeding.
    wchar_t system[MAX_PATH] = {};
    const UINT length = GetSystemDirectoryW(system, MAX_PATH);
    if (length != 0 && length < MAX_PATH) SetCurrentDirectoryW(system);
    if (windowLeft == nullptr) windowLeft = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(onConsoleControl, TRUE);
}

ConsoleChangeWindow::~ConsoleChangeWindow() {
    SetConsoleCtrlHandler(onConsoleControl, FALSE);
    // A Ctrl+C held since the first write has been answered; the program ends right after this.
}

void ConsoleChangeWindow::enter() {
    entered_ = true;
    windowEntered = true;
    shutdownBlock.hold();
}

void ConsoleChangeWindow::leave() {
    // Ctrl+C stays answered until the report is out; a closing console may go now.
    if (windowLeft != nullptr) SetEvent(windowLeft);
    shutdownBlock.release();
}

std::wstring runningFromVolumeLine(const VolumeInfo& info, const std::wstring& drive) {
    if (!win::programRunsFrom(info.volume)) return {};
    return L"qorin itself runs from " + drive + L" (" + win::programPath() +
           L"), which keeps the drive in use. Copy qorin to another drive and run it from there.";
}

}  // namespace tlx
