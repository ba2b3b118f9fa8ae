// What the change, restore and recover flows say, and how a result is shown.
#include "flow_texts.h"

#include <cstdio>

#include "backup/backup_store.h"
#include "bootsector/serial.h"
#include "catalog/report.h"
#include "platform/text.h"

namespace tlx {

namespace {

constexpr const wchar_t* kRecoverHint =
    L"To recover, choose \"Recover Now\" below. You can also do it later with \"Recover Boot Sectors from Backup\" on "
    L"the Tools menu.";

std::wstring low32(VolumeSerial value) { return formatSerial32(static_cast<std::uint32_t>(value)); }

ResultPresentation dialog(DialogIcon icon, std::wstring mainInstruction, std::wstring content) {
    ResultPresentation shown;
    shown.show = true;
    shown.icon = icon;
    shown.mainInstruction = std::move(mainInstruction);
    shown.content = std::move(content);
    return shown;
}

}  // namespace

std::wstring createdText(const std::string& created, const LocalTimeConversion& toLocal) {
    // Exactly the form the backup store writes; any other text came from whoever made the file, and is
    // not shown in dialogs word for word.
    constexpr std::string_view kForm = "0000-00-00T00:00:00Z";
    bool wellFormed = created.size() == kForm.size();
    for (std::size_t i = 0; wellFormed && i < kForm.size(); ++i)
        wellFormed = kForm[i] == '0' ? created[i] >= '0' && created[i] <= '9' : created[i] == kForm[i];
    UtcTime time;
    if (!wellFormed || std::sscanf(created.c_str(), "%4u-%2u-%2uT%2u:%2u:%2u", &time.year, &time.month, &time.day,
                                   &time.hour, &time.minute, &time.second) != 6)
        return L"unknown time";
    UtcTime local = time;
    if (toLocal && toLocal(local)) time = local;
    char text[64];
    std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u", time.year, time.month, time.day, time.hour,
                  time.minute);
    return widen(text);
}

std::wstring confirmationWarnings(const VolumeInfo& volume, const std::wstring& drive) {
    std::wstring text;
    if (volume.windowsDrive) text += L"\n\n" + windowsDriveWarning(drive);
    if (volume.bitLockerHint) text += L"\n\n" + bitLockerWarning(drive);
    if (volume.partitionRole == PartitionRole::EfiSystem) text += L"\n\n" + efiPartitionWarning(drive);
    return text;
}

std::wstring unusableBackupContent(const std::wstring& path, BackupParseError error) {
    return path + L"\n\nIt is damaged or not a backup file (" + widen(backupParseErrorName(error)) + L").";
}

std::wstring restoreQuestionContent(const std::wstring& drive, const std::wstring& path,
                                    const BootSectorBackup& backup, bool raw, const LocalTimeConversion& toLocal) {
    if (raw)
        return L"This writes the boot sectors saved in " + path + L" back to " + drive +
               L" exactly as they were. Use it only to recover a drive after a failed change. A backup of the current "
               L"sectors is saved first.";
    return L"This sets the serial of " + drive + L" to " +
           formatSerialDisplay(backup.oldSerial, backup.serialBytes, backup.serialBytes == 8) +
           L" (from the backup made " + createdText(backup.created, toLocal) +
           L"). A backup of the current boot sector is saved first.";
}

std::wstring differentVolumeContent(const std::wstring& drive, const BootSectorBackup& backup) {
    return L"This backup was made on a different volume, or " + drive + L" was reformatted since. Restoring sets its "
           L"serial to " + low32(backup.oldSerial) + L" and changes nothing else.";
}

std::wstring unrecognizedBootSectorContent(const std::wstring& drive) {
    return L"The current boot sector of " + drive +
           L" is damaged or unreadable, so the backup can't be checked against it. Write the saved sectors anyway?";
}

ResultPresentation presentation(const ElevatedResult& result, const std::wstring& drive,
                                const std::wstring& backupsFolder) {
    if (result.cancelled) return {};
    if (!result.ran)
        return dialog(DialogIcon::Error, L"The change couldn't be started",
                      L"The administrator helper couldn't be started" + errorSuffix(result.launchError) + L".");
    if (result.parseError != BackupParseError::None)
        return dialog(DialogIcon::Error, L"This backup file can't be used", L"It is damaged or not a backup file.");

    const ChangeResult& change = result.change;
    const OutcomeReport report =
        buildReport(change, drive, result.backupPath, backupsFolder, result.backupError, kRecoverHint);
    std::wstring content = report.message;
    for (const std::wstring& line : report.lines) content += L"\n\n" + line;

    ResultPresentation shown;
    switch (report.exitCode) {
    case 0:
        if (change.restartRequired) {
            shown = dialog(DialogIcon::Information, L"Restart to finish changing the serial", content);
            shown.buttons = {{kRestartNowButton, L"Restart Now"}, {kRestartLaterButton, L"Later"}};
            shown.defaultButton = kRestartLaterButton;
            shown.pending = PendingRestartChange::Set;
            shown.pendingSerial = change.plan.newSerial;
        } else {
            shown = dialog(DialogIcon::Information,
                           change.error == ApplyFailure::None ? L"Serial changed" : L"Nothing to change", content);
            shown.pending = PendingRestartChange::Remove;
        }
        break;
    case 8:
        shown = dialog(DialogIcon::Error, L"The change failed and couldn't be undone automatically", content);
        if (!result.backupPath.empty()) {
            shown.buttons = {{kRecoverNowButton, L"Recover Now"}, {kRecoverLaterButton, L"Later"}};
            shown.defaultButton = kRecoverNowButton;
        }
        break;
    case 7: shown = dialog(DialogIcon::Error, L"The serial couldn't be changed", content); break;
    case 4:
    case 5: shown = dialog(DialogIcon::Warning, L"Nothing was changed", content); break;
    default: shown = dialog(DialogIcon::Error, L"Nothing was changed", content); break;
    }
    shown.refresh = true;
    return shown;
}

std::wstring volumeBackupFolder(const std::wstring& backupsFolder, const std::wstring& volumeName) {
    const std::size_t at = volumeName.find(L"Volume{");
    if (volumeName.size() <= 6 || at == std::wstring::npos) return backupsFolder;
    return joinPath(backupsFolder, std::wstring_view(volumeName).substr(at));
}

std::wstring noBackupsContent(const std::wstring& backupsFolder) {
    return L"Backups are saved to " + backupsFolder + L" the first time you change a serial.";
}

BackupRowTexts backupRowTexts(const std::wstring& path, const BootSectorBackup& backup,
                              const LocalTimeConversion& toLocal) {
    const std::size_t slash = path.find_last_of(L"\\/");
    return {createdText(backup.created, toLocal), low32(backup.oldSerial) + L" to " + low32(backup.newSerial),
            slash == std::wstring::npos ? path : path.substr(slash + 1)};
}

std::wstring runningFromVolumeText(const std::wstring& drive, const std::wstring& program) {
    return L"Dravik itself runs from " + drive + L" (" + program +
           L"), which keeps the drive in use. Copy Dravik to another drive and run it from there.";
}

}  // namespace tlx
