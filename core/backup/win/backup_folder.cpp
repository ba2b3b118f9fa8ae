// The backups folder on Windows, from the "ProgramData" variable.
#include "backup/backup_folder.h"
#include "platform/win/windows.h"

namespace tlx {

std::wstring defaultBackupDirectory() {
    wchar_t buffer[260];
    const DWORD length = GetEnvironmentVariableW(L"ProgramData", buffer, 260);
    // 0 is missing or empty; 260 or more means the buffer was too small and holds nothing usable.
    if (length >= 1 && length <= 259)
        return windowsBackupDirectoryFrom(std::wstring(buffer, length));
    return windowsBackupDirectoryFrom(std::nullopt);
}

}  // namespace tlx
