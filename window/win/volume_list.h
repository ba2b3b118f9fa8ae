#pragma once
// The volume list: refresh, sorting, filling with the selection kept, context menu and clipboard.
#include "window_state.h"

#include <commctrl.h>

namespace tlx::win {

void refreshVolumes(WindowState& state);
void updateSortArrows(const WindowState& state);
void onColumnClick(WindowState& state, int column);
void onVolumeItemChanged(WindowState& state, const NMLISTVIEW& change);
void onVolumeKeyDown(WindowState& state, const NMLVKEYDOWN& key);
void showVolumeContextMenu(WindowState& state, int screenX, int screenY);
void copySerial(const WindowState& state, bool all64);
void openInExplorer(const WindowState& state);

}  // namespace tlx::win
