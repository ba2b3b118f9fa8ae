#pragma once
// The usage and version texts.
#include <string>
#include <vector>

namespace tlx {

inline constexpr const wchar_t* kVersionLine = L"Plinthos 3.0.2";
inline constexpr const char* kAppVersion = "3.0.2";
inline constexpr const wchar_t* kProductPage = L"https://plinthos.org";

// The 21 usage lines, plus the graphical-version line when isError is false.
[[nodiscard]] std::vector<std::wstring> usageLines(bool isError);
// Writes usageLines to standard output (also for errors); returns 2 when isError, else 0.
int printUsage(bool isError);

}  // namespace tlx
