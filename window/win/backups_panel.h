#pragma once
// The backups list of the selected volume, restoring from it, and opening the backups folder.
#include "window_state.h"

namespace tlx::win {

// At the end of updatePanel: the selected volume's backups, newest first, the first one selected; files
// a less privileged user could have written are left out and named under the list.
void fillBackupList(WindowState& state);
// Command 1015 and a double click in list 1014.
void restoreSelectedBackup(WindowState& state);
// Commands 1016 (the selected volume's folder) and 40005 (the backups folder).
void openBackupFolder(const WindowState& state, bool ofSelectedVolume);

}  // namespace tlx::win
