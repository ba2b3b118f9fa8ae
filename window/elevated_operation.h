#pragma once
// Running a request in this process: what the elevated instance does, and an elevated window.
#include <optional>
#include <string>

#include "elevated_request.h"
#include "engine/change_window.h"

namespace tlx {

class VolumeAccess;

// A restore's backup file, read once; absent when its bytes are not the ones the user confirmed
// (request.backupDigest), so nothing may run. A change needs no file: an empty read.
[[nodiscard]] std::optional<BackupReadResult> readRequestedBackup(const ElevatedRequest& request);

// ran is set before anything else, so even a refusal reports that the operation ran. A restore uses
// backup, the file as read by readRequestedBackup. Backups go to backupDirectory, through the core's
// crash-safe backup sink; window is held from the first write to the last verification or rollback.
[[nodiscard]] ElevatedResult runOperation(VolumeAccess& volumes, const ElevatedRequest& request,
                                          const BackupReadResult& backup, const std::wstring& backupDirectory,
                                          ChangeWindow& window = noChangeWindow());
// The same after readRequestedBackup; a backup file that changed since it was confirmed is reported
// as a parse error (ChecksumMismatch) and nothing runs.
[[nodiscard]] ElevatedResult runOperation(VolumeAccess& volumes, const ElevatedRequest& request,
                                          const std::wstring& backupDirectory,
                                          ChangeWindow& window = noChangeWindow());
// This computer's volumes and the default backups folder.
[[nodiscard]] ElevatedResult runOperation(const ElevatedRequest& request, ChangeWindow& window);

}  // namespace tlx
