// backups and restore: listing a volume's backups and bringing a volume back from one.
#include "backup/backup_key.h"
#include "backup/backup_match.h"
#include "catalog/report.h"
#include "catalog/resolve.h"
#include "change_window.h"
#include "commands.h"
#include "device/volume_access.h"
#include "engine/restore.h"
#include "output.h"
#include "platform/files.h"
#include "platform/system.h"
#include "platform/text.h"
#include "usage.h"

namespace tlx {

namespace {

const wchar_t* fileSystemName(FsType type) {
    switch (type) {
    case FsType::FAT12: return L"FAT12";
    case FsType::FAT16: return L"FAT16";
    case FsType::FAT32: return L"FAT32";
    case FsType::exFAT: return L"exFAT";
    case FsType::NTFS: return L"NTFS";
    case FsType::BitLocker: return L"BitLocker";
    case FsType::Unknown: break;
    }
    return L"Unknown";
}

std::wstring shortSerial(VolumeSerial value) {
    return formatSerial32(static_cast<std::uint32_t>(value));
}

std::wstring noBackupsText(const std::wstring& drive, const std::wstring& backupDir) {
    return L"No backups for " + drive + L" in " + backupDir + L".";
}

std::wstring anyoneCouldPlaceText(const std::wstring& folder, const std::wstring& path) {
    return L"Warning: anyone with access to " + folder + L" could have placed " + path + L" there.";
}

std::wstring untrustedBackupText(const std::wstring& path) {
    return L"Warning: a less privileged user could have changed " + path + L".";
}

std::wstring untrustedFolderText(const std::wstring& folder, std::uint32_t error) {
    return L"The backups in " + folder + L" can't be trusted: " + errorText(error) + L" Nothing was restored.";
}

std::int32_t matchVolume(const std::wstring& volume, const BootSectorBackup& backup) {
    std::uint32_t error = 0;
    std::unique_ptr<LockableDevice> device = systemVolumes().open(volume, DeviceAccess::Read, error);
    if (!device) return static_cast<std::int32_t>(BackupMatch::Undetermined);
    return static_cast<std::int32_t>(matchBackup(backup, *device));
}

}  // namespace

std::wstring backupJson(const BackupListEntry& entry) {
    const BootSectorBackup& backup = entry.backup;
    return L"{\"file\":" + jsonString(entry.path) + L",\"created\":" + jsonString(fromUtf8(backup.created)) +
           L",\"fileSystem\":" + jsonString(fileSystemName(backup.fsType)) + L",\"oldSerial\":" +
           jsonString(shortSerial(backup.oldSerial)) + L",\"newSerial\":" + jsonString(shortSerial(backup.newSerial)) +
           L"}";
}

std::wstring backupsJson(const std::vector<BackupListEntry>& entries) {
    std::wstring out = L"[";
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (i != 0) out += L',';
        out += backupJson(entries[i]);
    }
    return out + L"]";
}

std::vector<std::wstring> backupsLines(const std::vector<BackupListEntry>& entries, const std::wstring& argument,
                                       const std::wstring& backupDir, const std::wstring& key) {
    if (entries.empty()) return {noBackupsText(argument, backupDir)};
    std::vector<std::wstring> lines;
    std::wstring file = L"File";
    if (!key.empty()) file += L" (backups of " + key + L")";
    lines.push_back(padColumn(L"Created (UTC)", 20) + padColumn(L"Change", 22) + file);
    for (const BackupListEntry& entry : entries) {
        const BootSectorBackup& backup = entry.backup;
        const std::wstring change = formatSerialDisplay(backup.oldSerial, backup.serialBytes, false) + L" -> " +
                                    formatSerialDisplay(backup.newSerial, backup.serialBytes, false);
        lines.push_back(padColumn(fromUtf8(backup.created), 20) + padColumn(change, 22) + entry.path);
    }
    return lines;
}

std::vector<std::wstring> restoreQuestion(const std::wstring& drive, const std::wstring& path,
                                          const BootSectorBackup& backup, bool raw, bool force, std::int32_t match,
                                          bool bitLocker) {
    std::vector<std::wstring> lines;
    if (raw) {
        lines.push_back(L"This writes the boot sectors saved in " + path + L" back to " + drive +
                        L" exactly as they were (recovery). A backup of the current sectors is saved first.");
        if (match == static_cast<std::int32_t>(BackupMatch::Undetermined)) {
            std::wstring unknown = L"The current boot sector of " + drive +
                                   L" can't be recognized, so the backup can't be checked against it.";
            if (!force) unknown += L" Add --force to write it anyway.";
            lines.push_back(unknown);
        }
    } else {
        if (match == static_cast<std::int32_t>(BackupMatch::Different))
            lines.push_back(L"This backup was made on a different volume, or " + drive +
                            L" was reformatted since. Restoring sets its serial to " +
                            formatSerialDisplay(backup.oldSerial, backup.serialBytes, false) +
                            L" and changes nothing else.");
        lines.push_back(L"This sets the serial of " + drive + L" to " +
                        formatSerialDisplay(backup.oldSerial, backup.serialBytes, backup.serialBytes == 8) +
                        L" (from the backup made " + fromUtf8(backup.created) +
                        L"). A backup of the current boot sector is saved first.");
    }
    if (bitLocker) lines.push_back(bitLockerWarning(drive));
    return lines;
}

std::wstring unusableBackupText(const std::wstring& path, const BackupReadResult& read) {
    std::wstring text = L"The backup file " + path + L" can't be used: " + widen(backupParseErrorName(read.parseError));
    text += errorSuffix(read.systemError);
    return text + L".";
}

int backupsCommand(const CommandLine& line) {
    if (line.arguments.size() != 1) return argumentsError(line.command);
    const std::wstring& argument = line.arguments[0];
    // As typed, not looked up: a volume that is gone still lists its backups.
    const std::vector<BackupListEntry> entries = listVolumeBackups(line.backupDir, argument);
    if (line.json) {
        printLine(backupsJson(entries));
        return 0;
    }
    const std::wstring volume = volumeNameFor(argument).value_or(argument);
    const std::wstring key = backupKeyFor(volume);
    for (const std::wstring& text : backupsLines(entries, argument, line.backupDir, key != volume ? key : std::wstring()))
        printLine(text);
    return 0;
}

int restoreCommand(const CommandLine& line) {
    if (line.arguments.empty() || line.arguments.size() > 2) return argumentsError(line.command);
    const std::optional<VolumeInfo> info = findDrive(line.arguments[0]);
    if (!info) return 2;
    const std::wstring drive = displayDrive(*info);
    if (const int refused = refusalBeforeWriting(*info); refused != 0) return refused;
    std::wstring path;
    if (line.arguments.size() == 2) {
        path = line.arguments[1];
    } else {
        // "The latest" means something only in folders no less privileged user could have planted or swapped.
        for (const std::wstring& folder : volumeBackupFolders(line.backupDir, volumeNameOf(*info))) {
            if (const auto refusal = untrustedBackupFolder(line.backupDir, folder)) {
                printErrorLine(untrustedFolderText(refusal->folder, refusal->error));
                return 9;
            }
        }
        // The latest file only an administrator could have written; planted ones are named and passed over.
        // A folder the user named on a file system without owners tells no file from another: the latest
        // is taken, and said to be anyone's.
        const bool anyonesFolder = line.backupDirNamed && !keepsOwners(line.backupDir);
        for (const BackupListEntry& entry : listVolumeBackups(line.backupDir, volumeNameOf(*info))) {
            if (!entry.untrusted || anyonesFolder) {
                path = entry.path;
                break;
            }
            printErrorLine(skippedBackupText(entry.path));
        }
        if (path.empty()) {
            printErrorLine(noBackupsText(drive, line.backupDir));
            return 9;
        }
        if (anyonesFolder) printErrorLine(anyoneCouldPlaceText(line.backupDir, path));
    }
    const BackupReadResult read = readBackupFile(path);
    if (read.parseError != BackupParseError::None) {
        printErrorLine(unusableBackupText(path, read));
        return 9;
    }
    if (line.arguments.size() == 2 && lessPrivilegedCouldWrite(path)) printErrorLine(untrustedBackupText(path));
    const BootSectorBackup& backup = read.backup;
    const std::int32_t match = matchVolume(info->volume, backup);
    if (!line.yes) {
        const bool bitLocker = systemVolumes().probe(info->volume) == DiskEncryption::BitLocker;
        for (const std::wstring& question : restoreQuestion(drive, path, backup, line.raw, line.force, match, bitLocker))
            printLine(question);
        if (!confirm(L"Restore?")) return 1;
    }
    FileBackupSink sink = backupSinkFor(line, *info);
    ConsoleChangeWindow window;
    const ChangeResult result = line.raw ? recoverRaw(info->volume, backup, sink, line.force, window)
                                         : restoreSerial(info->volume, backup, sink, window);
    const std::wstring& backupPath = sink.lastPath();
    OutcomeReport report =
        buildReport(result, drive, backupPath, savedToFolder(line, sink), sink.lastError(), recoverHint(drive, backupPath));
    if (result.error == ApplyFailure::BackupMismatch &&
        result.match == static_cast<std::int32_t>(BackupMatch::Undetermined))
        report.message = L"The current boot sector of " + drive +
                         L" can't be recognized, so the backup can't be checked against it. Add --force to write it anyway.";
    addInUseLine(report, result, *info, drive);
    return printOutcome(line, drive, result, report, backupPath);
}

}  // namespace tlx
