// The backups list of the selected volume, restoring from it, and opening the backups folder.
#include "backups_panel.h"

#include <commctrl.h>
#include <shellapi.h>

#include <utility>

#include "backups_list.h"
#include "catalog/resolve.h"
#include "flow_texts.h"
#include "flows.h"
#include "list_view.h"
#include "resources/resource.h"
#include "task_message.h"
#include "win/local_time.h"

namespace tlx::win {

void fillBackupList(WindowState& state) {
    ListView_DeleteAllItems(state.backupList);
    OfferedBackups offered;
    if (const VolumeInfo* volume = selectedVolumeInfo(state))
        offered = offeredBackups(listVolumeBackups(state.backupsFolder, volume->volume));
    state.backups = std::move(offered.entries);
    SetDlgItemTextW(state.mainWindow, IDC_SKIPPED_BACKUPS, offered.skippedLine.c_str());
    for (std::size_t i = 0; i < state.backups.size(); ++i) {
        const BackupRowTexts row = backupRowTexts(state.backups[i].path, state.backups[i].backup, toLocalTime);
        const int index = static_cast<int>(i);
        insertRow(state.backupList, index, row.created);
        setCell(state.backupList, index, 1, row.change);
        setCell(state.backupList, index, 2, row.file);
    }
    if (!state.backups.empty())
        ListView_SetItemState(state.backupList, 0, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    EnableWindow(GetDlgItem(state.mainWindow, IDC_RESTORE), !state.backups.empty());
    fitLastColumn(state.backupList);
}

void restoreSelectedBackup(WindowState& state) {
    const int row = ListView_GetNextItem(state.backupList, -1, LVNI_SELECTED);
    if (row < 0 || static_cast<std::size_t>(row) >= state.backups.size()) return;
    // A copy: the flow refreshes the window, which rebuilds the list it came from.
    const BackupListEntry entry = state.backups[static_cast<std::size_t>(row)];
    if (entry.fileDigest) restoreFlow(state, entry.backup, entry.path, *entry.fileDigest, false, false);
}

void openBackupFolder(const WindowState& state, bool ofSelectedVolume) {
    std::wstring folder = state.backupsFolder;
    if (ofSelectedVolume)
        if (const VolumeInfo* volume = selectedVolumeInfo(state))
            if (const std::optional<std::wstring> name = volumeNameFor(volume->volume))
                folder = volumeBackupFolder(state.backupsFolder, *name);
    if (!isFolder(folder)) folder = state.backupsFolder;
    if (isFolder(folder)) {
        ShellExecuteW(state.mainWindow, L"open", folder.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
        return;
    }
    TaskMessage message;
    message.icon = TaskIcon::Information;
    message.mainInstruction = L"No backups yet";
    message.content = noBackupsContent(state.backupsFolder);
    showTaskMessage(state.mainWindow, message);
}

}  // namespace tlx::win
