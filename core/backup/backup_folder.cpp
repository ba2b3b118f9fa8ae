#include "backup/backup_folder.h"

namespace tlx {

std::wstring windowsBackupDirectoryFrom(const std::optional<std::wstring>& programData) {
    // The system reads the variable into 260 characters; a longer value is not used.
    const bool usable = programData && !programData->empty() && programData->size() <= 259;
    return (usable ? *programData : std::wstring(L"C:\\ProgramData")) + L"\\Morvane\\Plinthos\\Backups";
}

std::wstring posixBackupDirectoryFrom(bool root, const std::optional<std::wstring>& stateHome,
                                      const std::optional<std::wstring>& home) {
    if (root)
        return L"/var/lib/plinthos/backups";
    std::wstring base;
    if (stateHome && !stateHome->empty() && stateHome->front() == L'/')
        base = *stateHome;
    else
        base = (home ? *home : std::wstring()) + L"/.local/state";
    while (base.size() > 1 && base.back() == L'/')
        base.pop_back();
    if (base == L"/")
        base.clear();
    return base + L"/plinthos/backups";
}

}  // namespace tlx
