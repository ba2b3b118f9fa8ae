#pragma once
// The usage and version texts.
#include <string>
#include <vector>

#include "catalog/wording.h"

namespace tlx {

inline constexpr const wchar_t* kVersionLine = L"Plinthos 3.0.2";
inline constexpr const char* kAppVersion = "3.0.2";
inline constexpr const wchar_t* kProductPage = L"https://plinthos.org";

// The 21 usage lines, plus the graphical-version line when isError is false.
[[nodiscard]] std::vector<std::wstring> usageLines(bool isError);
// The same in the given platform's words: Linux names its drives, root and its backups folder.
[[nodiscard]] std::vector<std::wstring> usageLines(bool isError, Wording wording);
// Writes usageLines to standard output (also for errors); returns 2 when isError, else 0.
int printUsage(bool isError);

}  // namespace tlx
