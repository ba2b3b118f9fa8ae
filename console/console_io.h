#pragma once
// The platform side of asking a question: is there a console on standard input, and its answer.
#include <optional>
#include <string>

namespace tlx {

// False when standard input is missing or redirected.
[[nodiscard]] bool inputIsConsole();
// At most 63 characters typed on the console; absent when nothing could be read.
[[nodiscard]] std::optional<std::wstring> readConsoleAnswer();

}  // namespace tlx
