// The backups folder on Windows, under the ProgramData known folder.
#include "backup/backup_folder.h"
#include "platform/win/windows.h"

#include <knownfolders.h>
#include <shlobj.h>

namespace tlx {

std::wstring defaultBackupDirectory() {
    // The known folder, not the "ProgramData" variable: whoever starts the program sets its environment.
    PWSTR path = nullptr;
    std::optional<std::wstring> programData;
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_ProgramData, KF_FLAG_DEFAULT, nullptr, &path)) && path)
        programData = std::wstring(path);
    CoTaskMemFree(path);
    return windowsBackupDirectoryFrom(programData);
}

}  // namespace tlx
