#pragma once
// Where the backups folder lies by default.
#include <optional>
#include <string>

namespace tlx {

// The platform's default (Windows: %ProgramData%\Morvane\Plinthos\Backups).
[[nodiscard]] std::wstring defaultBackupDirectory();
// Windows rule from the value of "ProgramData" (absent when unset); pure, for tests everywhere.
[[nodiscard]] std::wstring windowsBackupDirectoryFrom(const std::optional<std::wstring>& programData);

}  // namespace tlx
