#include "catalog/report.h"

#include "bootsector/serial.h"
#include "catalog/wording.h"
#include "platform/system.h"

namespace tlx {

namespace {

std::wstring bitLockerLockedText(const std::wstring& drive) {
    return drive + L" is locked by BitLocker, so its serial can't be read or changed. Unlock the drive first (open it in Explorer and enter its password or recovery key), then try again.";
}

std::wstring unsupportedText(const std::wstring& drive) {
    return L"The file system on " + drive +
           L" isn't supported. This tool works with FAT, FAT32, exFAT and NTFS volumes.";
}

const wchar_t* const kNotChanged = L"The serial couldn't be changed. No changes were written. Your drive is unchanged.";

OutcomeReport report(std::int32_t exitCode, std::wstring message) {
    OutcomeReport out;
    out.exitCode = exitCode;
    out.message = std::move(message);
    return out;
}

const wchar_t* noteLine(PlanNote note) {
    switch (note) {
    case PlanNote::Fat32NoBackup:
        return L"This FAT32 volume has no backup boot sector, so only the main one was updated.";
    case PlanNote::Fat32BackupNotCopy:
        return L"The FAT32 backup boot sector doesn't hold a copy of the boot sector, so it was left as is.";
    case PlanNote::ExFatBackupInconsistent:
        return L"The exFAT backup boot region was already inconsistent, so it was left as is.";
    case PlanNote::NtfsBackupUnreachable:
        return L"The NTFS backup boot sector couldn't be reached, so only the main one was updated.";
    case PlanNote::NtfsBackupNotCopy:
        return L"The NTFS backup boot sector doesn't hold a copy of the boot sector, so it was left as is.";
    }
    return nullptr;
}

OutcomeReport successReport(const ChangeResult& result, const std::wstring& drive, const std::wstring& backupPath,
                            Wording wording) {
    const ChangePlan& plan = result.plan;
    const std::uint32_t width = plan.serialWidth;
    const bool showFull = width == 8 && (plan.oldSerial >> 32) != (plan.newSerial >> 32);
    OutcomeReport out = report(0, L"Volume Serial Number of " + drive + L" changed from " +
                                      formatSerialDisplay(plan.oldSerial, width, showFull) + L" to " +
                                      formatSerialDisplay(plan.newSerial, width, showFull) + L".");
    if (!backupPath.empty()) out.lines.push_back(L"A boot-sector backup was saved to " + backupPath);
    if (result.restartRequired)
        out.lines.push_back(inPlaceLine(drive, wording));
    for (PlanNote note : plan.notes)
        if (const wchar_t* line = noteLine(note)) out.lines.emplace_back(line);
    return out;
}

OutcomeReport applyReport(const ChangeResult& result, const std::wstring& drive, const std::wstring& backupPath,
                          const std::wstring& backupFolder, std::uint32_t backupError,
                          const std::wstring& recoverHint) {
    const std::wstring suffix = errorSuffix(result.applySystemError);
    switch (result.applyOutcome) {
    case ApplyOutcome::NothingWritten:
        if (result.applyFailure == ApplyStep::BackupFailed)
            return report(1, L"The boot-sector backup couldn't be saved to " + backupFolder + errorSuffix(backupError) +
                                 L", so nothing was written. Your drive is unchanged.");
        if (result.applyFailure == ApplyStep::Changed)
            return report(1, drive + L" changed while the serial was being prepared, so nothing was written. Please try again.");
        return report(1, L"The serial couldn't be changed" + suffix +
                             L". No changes were written. Your drive is unchanged.");
    case ApplyOutcome::RolledBack:
        return report(7, L"The serial couldn't be changed" + suffix +
                             L". The original boot sector was restored. Your drive is unchanged.");
    case ApplyOutcome::RollbackFailed: {
        OutcomeReport out = report(8, L"Something went wrong and the original boot sector couldn't be restored automatically" +
                                          suffix + L". Don't format the drive.");
        if (!backupPath.empty()) {
            out.lines.push_back(L"The backup is at " + backupPath);
            if (!recoverHint.empty()) out.lines.push_back(recoverHint);
        }
        out.lines.push_back(std::wstring(L"If that doesn't help, contact ") + kSupportAddress + L".");
        return out;
    }
    case ApplyOutcome::Success: break;
    }
    return report(1, kNotChanged);
}

}  // namespace

std::wstring errorSuffix(std::uint32_t code) {
    if (code == 0) return {};
    // Most system texts end in a period; the sentence around them has its own.
    std::wstring text = errorText(code);
    if (text.ends_with(L'.')) text.pop_back();
    return L" (" + text + L")";
}

OutcomeReport planErrorReport(const ChangeResult& result, const std::wstring& drive) {
    return planErrorReport(result, drive, platformWording());
}

OutcomeReport planErrorReport(const ChangeResult& result, const std::wstring& drive, Wording wording) {
    switch (result.planError) {
    case PlanError::ReadFailed:
        return report(1, L"The boot sector of " + drive + L" couldn't be read" + errorSuffix(result.systemError) +
                             L". Nothing was written.");
    case PlanError::NotRecognised:
        if (result.detect == DetectStatus::BitLocker) return report(5, bitLockerLockedText(drive));
        return report(6, unsupportedText(drive));
    case PlanError::SectorSizeMismatch: return report(6, unsupportedText(drive));
    case PlanError::SerialTooWide:
        return report(2, L"This volume has a 32-bit serial. Use the XXXX-XXXX form (8 hex digits).");
    case PlanError::SameSerial: return report(0, drive + L" already has this serial. Nothing was changed.");
    case PlanError::ChecksumDamaged:
        return report(1, L"The boot region of " + drive +
                             L" is already damaged (its checksum doesn't match), so it wasn't touched. Run \"" +
                             repairCommand(drive, result.plan.fsType, wording) + L"\" first.");
    case PlanError::NothingToRestore:
        return report(0, drive + L" already holds the backup's boot sectors. Nothing was changed.");
    case PlanError::None: break;
    }
    return report(1, kNotChanged);
}

OutcomeReport buildReport(const ChangeResult& result, const std::wstring& drive, const std::wstring& backupPath,
                          const std::wstring& backupFolder, std::uint32_t backupError,
                          const std::wstring& recoverHint) {
    return buildReport(result, drive, backupPath, backupFolder, backupError, recoverHint, platformWording());
}

OutcomeReport buildReport(const ChangeResult& result, const std::wstring& drive, const std::wstring& backupPath,
                          const std::wstring& backupFolder, std::uint32_t backupError,
                          const std::wstring& recoverHint, Wording wording) {
    switch (result.error) {
    case ApplyFailure::None: return successReport(result, drive, backupPath, wording);
    case ApplyFailure::OpenFailed:
        if (result.systemError == 5)
            return report(3, wording == Wording::Windows ? L"Changing a serial requires administrator rights."
                                                         : L"Changing a serial requires root rights.");
        return report(1, L"Couldn't open " + drive + errorSuffix(result.systemError) + L".");
    case ApplyFailure::Plan: return planErrorReport(result, drive, wording);
    case ApplyFailure::VolumeInUse:
    case ApplyFailure::DismountFailed:
        return report(4, drive + L" is in use and couldn't be locked. Close any programs or windows using the drive and try again.");
    case ApplyFailure::Apply:
        return applyReport(result, drive, backupPath, backupFolder, backupError, recoverHint);
    case ApplyFailure::BackupMismatch:
        return report(9, L"This backup doesn't match " + drive +
                             L", so its saved boot sectors can't be written back. You can still restore just the serial.");
    case ApplyFailure::BitLockerLocked: return report(5, bitLockerLockedText(drive));
    }
    // A value outside the enumeration must never read as success.
    return report(1, kNotChanged);
}

std::wstring confirmationText(const std::wstring& drive, const std::wstring& fileSystem, const std::wstring& oldText,
                              const std::wstring& newText) {
    return L"This will change the Volume Serial Number of " + drive + L" (" + fileSystem + L") from " + oldText +
           L" to " + newText +
           L". A backup of the boot sector will be saved first so you can revert. Make sure no other program is using this drive.";
}

std::wstring windowsDriveWarning(const std::wstring& drive) {
    return systemDriveWarning(drive, platformWording());
}

std::wstring efiPartitionWarning(const std::wstring& drive) {
    return drive + L" is the EFI system partition, which your computer starts from. Windows doesn't use its serial, but another operating system on this computer (Linux, for example) may find it by its serial and fail to start until the old serial is restored.";
}

std::wstring bitLockerWarning(const std::wstring& drive) {
    return drive + L" is protected by BitLocker. The serial is written through BitLocker. Your encryption is not affected.";
}

std::wstring skippedBackupText(const std::wstring& path) {
    return L"Skipped " + path + L": a less privileged user could have written it.";
}

}  // namespace tlx
