// Signals that end a process are held while a change is half written and delivered after its report.
#include "change_window.h"

#include <csignal>

namespace tlx {

namespace {

// Every signal another process or the terminal can send, not just the usual three: Ctrl+\ (SIGQUIT),
// SIGUSR1, SIGALRM and most others also end a process by default. Signals raised by a fault of the
// program itself stay unblocked, since blocking them only hides the fault. SIGIO stays unblocked as
// well: an image's lease raises it while ignored, and held it would outlive that and end the program.
sigset_t heldSignals() {
    sigset_t set;
    sigfillset(&set);
    for (const int own : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS, SIGABRT, SIGIO})
        sigdelset(&set, own);
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
