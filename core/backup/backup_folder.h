#pragma once
// Where the backups folder lies by default.
#include <optional>
#include <string>

namespace tlx {

// The platform's default (Windows: %ProgramData%\Morvane\Plinthos\Backups).
[[nodiscard]] std::wstring defaultBackupDirectory();
// Windows rule from the value of "ProgramData" (absent when unset); pure, for tests everywhere.
[[nodiscard]] std::wstring windowsBackupDirectoryFrom(const std::optional<std::wstring>& programData);
// POSIX rule: /var/lib/plinthos/backups for root, else ${XDG_STATE_HOME:-$HOME/.local/state}/plinthos/backups.
// A relative or empty XDG_STATE_HOME is ignored; pure, for tests.
[[nodiscard]] std::wstring posixBackupDirectoryFrom(bool root, const std::optional<std::wstring>& stateHome,
                                                    const std::optional<std::wstring>& home);

}  // namespace tlx
