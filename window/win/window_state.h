#pragma once
// All state of the window role, owned by the entry for the whole run and handed to every handler.
#include <array>
#include <string>
#include <vector>

#include "backup/backup_store.h"
#include "catalog/volume_info.h"
#include "layout.h"
#include "platform/win/windows.h"
#include "volume_rows.h"

namespace tlx::win {

// Client size and control rectangles (client coordinates) at the last capture, in anchor-table order.
struct CapturedLayout {
    bool valid = false;
    int clientWidth = 0, clientHeight = 0;
    std::array<ControlRect, kAnchorTable.size()> controls{};
};

struct WindowState {
    HWND mainWindow = nullptr;
    HWND volumeList = nullptr;
    HWND backupList = nullptr;
    int dpi = 96;
    SIZE minTrackSize{0, 0};
    CapturedLayout layout;
    bool elevated = false;
    std::vector<VolumeInfo> volumes;  // in display order: row i shows volumes[i]
    std::wstring selectedVolume;      // the `volume` path of the selected row; empty when none
    int sortColumn = 0;
    bool sortDescending = false;
    bool showHidden = false;
    bool startMaximized = false;
    bool operationRunning = false;  // a change, restore or recovery is under way: no command starts another
    PendingRestarts pendingRestarts;
    std::vector<BackupListEntry> backups;
    std::wstring backupsFolder;
};

// The record of the selected volume, or null; compared code unit for code unit.
[[nodiscard]] inline const VolumeInfo* selectedVolumeInfo(const WindowState& state) {
    if (state.selectedVolume.empty()) return nullptr;
    for (const VolumeInfo& info : state.volumes)
        if (info.volume == state.selectedVolume) return &info;
    return nullptr;
}

}  // namespace tlx::win
