// Restoring a backup's serial, or writing its saved boot sectors back exactly.
#include "engine/restore.h"

#include <memory>

#include "backup/backup_file.h"
#include "backup/backup_match.h"
#include "bootsector/detect.h"
#include "bootsector/plan.h"
#include "device/volume_access.h"
#include "engine/apply.h"
#include "engine/change.h"

namespace tlx {

namespace {

void recoverOnDevice(LockableDevice& device, const BootSectorBackup& backup, BackupSink& sink, bool force,
                     ChangeWindow& window, ChangeResult& result) {
    const BootSectorRead first = readBootSector(device);
    // An unreadable or unrecognised boot sector is what raw recovery repairs; only BitLocker stops it.
    if (first.detectStatus == DetectStatus::BitLocker ||
        (first.readStatus == ReadStatus::ReadFailed &&
         result.encryption == static_cast<std::int32_t>(DiskEncryption::BitLocker))) {
        result.error = ApplyFailure::BitLockerLocked;
        return;
    }
    if (!prepareForWriting(device, first.info.fsType, false, result))
        return;

    // Saved bytes are only ever written where and as what their own boot sector says they belong on
    // this device; a file that contradicts itself, that lacks a copy the volume soundly holds (the
    // change would have saved it), or that would put a copy where the volume holds none, is refused
    // even with force.
    BackupMatch match = BackupMatch::Different;
    if (device.sectorSize() == backup.deviceSector && regionsWhereTheyBelong(backup) &&
        !soundCopyLeftOut(backup, device) && copiesOnlyOverCopies(backup, device))
        match = matchBackup(backup, device);
    result.match = static_cast<std::int32_t>(match);
    if (match == BackupMatch::Different || (match == BackupMatch::Undetermined && !force)) {
        result.error = ApplyFailure::BackupMismatch;
        return;
    }
    applyPlan(device, planRawRecovery(device, backup), sink, result, window);
}

}  // namespace

ChangeResult restoreSerial(VolumeAccess& volumes, const std::wstring& driveSpec, const BootSectorBackup& backup,
                           BackupSink& sink, ChangeWindow& window) {
    return changeToSavedSerial(volumes, driveSpec, backup.oldSerial, backup.serialBytes, sink, window);
}

ChangeResult restoreSerial(const std::wstring& driveSpec, const BootSectorBackup& backup, BackupSink& sink,
                           ChangeWindow& window) {
    return restoreSerial(systemVolumes(), driveSpec, backup, sink, window);
}

ChangeResult recoverRaw(VolumeAccess& volumes, const std::wstring& driveSpec, const BootSectorBackup& backup,
                        BackupSink& sink, bool force, ChangeWindow& window) {
    ChangeResult result;
    std::unique_ptr<LockableDevice> device = openForChange(volumes, driveSpec, result);
    if (!device)
        return result;
    recoverOnDevice(*device, backup, sink, force, window, result);
    device.reset();  // unlocks the volume and lets the file system mount again
    return result;
}

ChangeResult recoverRaw(const std::wstring& driveSpec, const BootSectorBackup& backup, BackupSink& sink,
                        bool force, ChangeWindow& window) {
    return recoverRaw(systemVolumes(), driveSpec, backup, sink, force, window);
}

}  // namespace tlx
