#include "backup/backup_folder.h"

namespace tlx {

std::wstring windowsBackupDirectoryFrom(const std::optional<std::wstring>& programData) {
    // The system reads the variable into 260 characters; a longer value is not used.
    const bool usable = programData && !programData->empty() && programData->size() <= 259;
    return (usable ? *programData : std::wstring(L"C:\\ProgramData")) + L"\\Morvane\\Plinthos\\Backups";
}

}  // namespace tlx
