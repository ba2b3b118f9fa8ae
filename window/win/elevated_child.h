#pragma once
// The --elevated-op role of the program: run one request and report it through the result file.
#include <string>
#include <vector>

namespace tlx::win {

// argv as split by CommandLineToArgvW, argv[1] being "--elevated-op". Returns the process exit code:
// 0 result file written, 2 arguments rejected, 3 result file not opened or not completely written.
// Nothing is run unless the parent's result file opens first.
[[nodiscard]] int runElevatedChild(const std::vector<std::wstring>& arguments);
[[nodiscard]] int runElevatedChild(int argc, wchar_t** argv);

}  // namespace tlx::win
