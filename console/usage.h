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

inline constexpr const wchar_t* kTryHelp = L"Try 'qorin help'.";
// A command line qorin can't run; returns 2. Windows: the line, when there is one, on standard error,
// then the usage on standard output. Linux: the line and kTryHelp on standard error, no usage.
int usageError(const std::wstring& line);
int usageError(const std::wstring& line, Wording wording);
// A command given the wrong number of arguments: the usage (Windows), or on Linux "Usage: " and the
// command's own usage line, as usageError.
int argumentsError(const std::wstring& command);
// The line of the usage text that shows how the command is typed, without its indent; empty when none.
[[nodiscard]] std::wstring synopsisOf(const std::wstring& command, Wording wording);

}  // namespace tlx
