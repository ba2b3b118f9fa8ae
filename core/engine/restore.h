#pragma once
// Bringing a volume back from a backup: its old serial, or its saved boot sectors exactly.
#include <string>

#include "engine/change_result.h"
#include "engine/change_window.h"

namespace tlx {

class BackupSink;
class VolumeAccess;
struct BootSectorBackup;

[[nodiscard]] ChangeResult restoreSerial(VolumeAccess& volumes, const std::wstring& driveSpec,
                                         const BootSectorBackup& backup, BackupSink& sink,
                                         ChangeWindow& window = noChangeWindow());
[[nodiscard]] ChangeResult restoreSerial(const std::wstring& driveSpec, const BootSectorBackup& backup,
                                         BackupSink& sink, ChangeWindow& window = noChangeWindow());

// force permits a backup that cannot be checked, never one that belongs to another volume.
[[nodiscard]] ChangeResult recoverRaw(VolumeAccess& volumes, const std::wstring& driveSpec,
                                      const BootSectorBackup& backup, BackupSink& sink, bool force,
                                      ChangeWindow& window = noChangeWindow());
[[nodiscard]] ChangeResult recoverRaw(const std::wstring& driveSpec, const BootSectorBackup& backup, BackupSink& sink,
                                      bool force, ChangeWindow& window = noChangeWindow());

}  // namespace tlx
