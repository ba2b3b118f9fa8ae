// Termination signals are held while a change is half written and delivered after its report.
#include "change_window.h"

#include <csignal>

namespace tlx {

namespace {

sigset_t heldSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    return set;
}

sigset_t previousMask;

}  // namespace

ConsoleChangeWindow::ConsoleChangeWindow() = default;

ConsoleChangeWindow::~ConsoleChangeWindow() {
    // The report is out: a signal held since the first write now takes its usual effect.
    if (entered_) sigprocmask(SIG_SETMASK, &previousMask, nullptr);
}

void ConsoleChangeWindow::enter() {
    if (entered_) return;
    const sigset_t held = heldSignals();
    entered_ = sigprocmask(SIG_BLOCK, &held, &previousMask) == 0;
}

// Still held: ending the process before the report would leave the user without the outcome.
void ConsoleChangeWindow::leave() {}

std::wstring runningFromVolumeLine(const VolumeInfo&, const std::wstring&) {
    return {};
}

}  // namespace tlx
