#pragma once
// The process's arguments, split from its command line by the system's own rule. Works with every
// toolchain's plain main(), so no program needs a wide-character entry point.
#include <string>
#include <vector>

namespace tlx::win {

// Everything after the program name; empty when the command line cannot be split.
[[nodiscard]] std::vector<std::wstring> processArguments();
// The same split of a given command line (its first item is the program name and is dropped).
[[nodiscard]] std::vector<std::wstring> splitArguments(const wchar_t* commandLine);

}  // namespace tlx::win
