#pragma once
// The console's side of a change: what it holds off while the volume is half written, and what it
// says when qorin itself keeps the volume in use.
#include <string>

#include "catalog/volume_info.h"
#include "engine/change_window.h"

namespace tlx {

// Created right before an operation that writes and kept until its report is printed. Ctrl+C,
// closing the console (Windows) and the signals that end a process (POSIX) that arrive between
// the first write and the last verification or rollback wait until the report is out; earlier
// ones still stop the program with nothing written. On Windows the current folder becomes the system folder,
// so qorin's own current folder never keeps the volume in use.
class ConsoleChangeWindow final : public ChangeWindow {
public:
    ConsoleChangeWindow();
    ~ConsoleChangeWindow() override;
    ConsoleChangeWindow(const ConsoleChangeWindow&) = delete;
    ConsoleChangeWindow& operator=(const ConsoleChangeWindow&) = delete;

    void enter() override;
    void leave() override;

private:
    bool entered_ = false;
};

// The extra line of an in-use report when qorin's own program file lies on that volume; empty
// when it does not (always on POSIX, where a running program does not keep a volume locked).
[[nodiscard]] std::wstring runningFromVolumeLine(const VolumeInfo& info, const std::wstring& drive);

}  // namespace tlx
