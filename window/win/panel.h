#pragma once
// The selected-volume panel: description, current serial, the new-serial entry and its width.
#include <optional>

#include "window_state.h"

namespace tlx::win {

struct NewSerial {
    std::uint64_t value = 0;
    bool full64 = false;
};

void updatePanel(WindowState& state);
void updateHints(WindowState& state);
// Command 1010 (click only).
void onFull64Clicked(WindowState& state);
// Command 1009.
void randomSerial(WindowState& state);
// The entry parsed for a change; a bad entry shows a balloon tip on the entry and gives nothing.
[[nodiscard]] std::optional<NewSerial> readNewSerial(WindowState& state);

}  // namespace tlx::win
