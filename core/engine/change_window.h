#pragma once
// What a program must not do while a change is half written: stop on a signal or console event.
namespace tlx {

// The engine enters the window right before its first device write and leaves it once every region
// is verified or rolled back. The program decides what it holds off in between; an event that
// arrives before the first write is not held and may still stop the program with nothing written.
class ChangeWindow {
public:
    virtual ~ChangeWindow() = default;
    virtual void enter() = 0;
    virtual void leave() = 0;
};

// Holds nothing: for callers that cannot be interrupted (tests, a process without signals).
[[nodiscard]] ChangeWindow& noChangeWindow();

}  // namespace tlx
