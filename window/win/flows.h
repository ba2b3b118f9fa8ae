#pragma once
// The change, restore and recover flows: confirm, run through the elevated instance, show the result.
#include <string>

#include "backup/backup_file.h"
#include "elevated_request.h"
#include "window_state.h"

namespace tlx::win {

// Command 1012.
void changeFlow(WindowState& state);
// Commands 40003 (raw false) and 40004 (raw true).
void restoreFromFileFlow(WindowState& state, bool raw);
// Restore or recover the selected volume from an already read backup, digest being the SHA-256 of the
// file as read (the elevated instance refuses any other bytes); preconfirmed skips both questions and
// forces a raw recovery ("Recover Now").
void restoreFlow(WindowState& state, const BootSectorBackup& backup, const std::wstring& path,
                 const Sha256Digest& digest, bool raw, bool preconfirmed);
void presentResult(WindowState& state, const ElevatedResult& result, const VolumeInfo& volume);

}  // namespace tlx::win
