#pragma once
// Runs the one command of a parsed command line and returns the process exit code (0 to 9).
#include "command_line.h"

namespace tlx {

[[nodiscard]] int dispatch(const CommandLine& line);

}  // namespace tlx
