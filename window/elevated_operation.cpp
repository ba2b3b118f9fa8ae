// Running a change or restore request in this process.
#include "elevated_operation.h"

#include <memory>

#include "backup/backup_folder.h"
#include "backup/backup_match.h"
#include "backup/backup_store.h"
#include "device/volume_access.h"
#include "engine/change.h"
#include "engine/restore.h"

namespace tlx {

namespace {

// The version the window writes into its backups; the console writes its own.
constexpr const char* kWindowApp = "3.0.1";

bool belongsElsewhere(VolumeAccess& volumes, const std::wstring& volume, const BootSectorBackup& backup) {
    std::uint32_t error = 0;
    std::unique_ptr<LockableDevice> device = volumes.open(volume, DeviceAccess::Read, error);
    // A volume that cannot be read is not judged here; the operation reports why it cannot open it.
    if (!device) return false;
    return matchBackup(backup, *device) == BackupMatch::Different;
}

}  // namespace

std::optional<BackupReadResult> readRequestedBackup(const ElevatedRequest& request) {
    if (request.operation != ElevatedOperation::Restore) return BackupReadResult{};
    BackupReadResult read = readBackupFile(request.backupFile);
    if (!read.fileDigest || *read.fileDigest != request.backupDigest) return std::nullopt;
    return read;
}

ElevatedResult runOperation(VolumeAccess& volumes, const ElevatedRequest& request, const BackupReadResult& read,
                            const std::wstring& backupDirectory, ChangeWindow& window) {
    ElevatedResult result;
    result.ran = true;
    FileBackupSink sink(backupDirectory, request.volume, kWindowApp);
    if (request.operation == ElevatedOperation::Change) {
        result.change = changeSerial(volumes, request.volume, request.serial, !request.full64, sink, window);
    } else {
        if (read.parseError != BackupParseError::None) {
            result.parseError = read.parseError;
            return result;
        }
        if (!request.raw && !request.skipVolumeCheck && belongsElsewhere(volumes, request.volume, read.backup)) {
            result.differentVolume = true;
            return result;
        }
        result.change = request.raw ? recoverRaw(volumes, request.volume, read.backup, sink, request.force, window)
                                    : restoreSerial(volumes, request.volume, read.backup, sink, window);
    }
    result.backupPath = sink.lastPath();
    result.backupDigest = sink.lastDigest();
    result.backupError = sink.lastError();
    return result;
}

ElevatedResult runOperation(VolumeAccess& volumes, const ElevatedRequest& request,
                            const std::wstring& backupDirectory, ChangeWindow& window) {
    const std::optional<BackupReadResult> read = readRequestedBackup(request);
    if (!read) {
        ElevatedResult refused;
        refused.ran = true;
        refused.parseError = BackupParseError::ChecksumMismatch;
        return refused;
    }
    return runOperation(volumes, request, *read, backupDirectory, window);
}

ElevatedResult runOperation(const ElevatedRequest& request, ChangeWindow& window) {
    return runOperation(systemVolumes(), request, defaultBackupDirectory(), window);
}

}  // namespace tlx
