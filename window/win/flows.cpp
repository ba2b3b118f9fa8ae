// The change, restore and recover flows: confirm, run through the elevated instance, show the result.
#include "flows.h"

#include <commctrl.h>
#include <commdlg.h>

#include "bootsector/serial.h"
#include "catalog/report.h"
#include "flow_steps.h"
#include "flow_texts.h"
#include "panel.h"
#include "platform/win/program_path.h"
#include "platform/win/unique_handle.h"
#include "task_message.h"
#include "volume_list.h"
#include "volume_rows.h"
#include "win/local_time.h"
#include "win/run_elevated.h"

namespace tlx::win {

namespace {

constexpr int kConfirmButton = 100;

// Granted only by the button itself: a dialog that cannot be shown answers IDCANCEL.
bool confirm(const WindowState& state, const std::wstring& mainInstruction, const std::wstring& content,
             const std::wstring& button) {
    TaskMessage message;
    message.icon = TaskIcon::Warning;
    message.mainInstruction = mainInstruction;
    message.content = content;
    message.buttons = {{kConfirmButton, button}};
    message.commonButtons = TDCBF_CANCEL_BUTTON;
    message.defaultButton = kConfirmButton;
    message.shieldButton = state.elevated ? 0 : kConfirmButton;
    return showTaskMessage(state.mainWindow, message) == kConfirmButton;
}

void inform(const WindowState& state, TaskIcon icon, const std::wstring& mainInstruction, const std::wstring& content) {
    TaskMessage message;
    message.icon = icon;
    message.mainInstruction = mainInstruction;
    message.content = content;
    showTaskMessage(state.mainWindow, message);
}

TaskIcon taskIcon(DialogIcon icon) {
    switch (icon) {
    case DialogIcon::Information: return TaskIcon::Information;
    case DialogIcon::Warning: return TaskIcon::Warning;
    case DialogIcon::Error: break;
    }
    return TaskIcon::Error;
}

// The shutdown privilege is asked for, but ExitWindowsEx alone says whether Windows restarts.
bool restartWindows() {
    HANDLE token = nullptr;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) {
        const KernelHandle owned(token);
        TOKEN_PRIVILEGES privileges{};
        privileges.PrivilegeCount = 1;
        if (LookupPrivilegeValueW(nullptr, SE_SHUTDOWN_NAME, &privileges.Privileges[0].Luid)) {
            privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
            AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
        }
    }
    return ExitWindowsEx(EWX_REBOOT, SHTDN_REASON_FLAG_PLANNED | SHTDN_REASON_MAJOR_APPLICATION |
                                         SHTDN_REASON_MINOR_RECONFIG) != FALSE;
}

// Marks the operation as running for the commands the window is still sent while it waits.
ElevatedResult runMarked(WindowState& state, const ElevatedRequest& request) {
    state.operationRunning = true;
    ElevatedResult result = runElevated(state.mainWindow, request);
    state.operationRunning = false;
    return result;
}

}  // namespace

void changeFlow(WindowState& state) {
    const VolumeInfo* selected = selectedVolumeInfo(state);
    if (!selected) return;
    const VolumeInfo volume = *selected;
    const std::optional<NewSerial> entered = readNewSerial(state);
    if (!entered) return;

    const std::wstring drive = listDriveText(volume);
    const std::wstring newText =
        entered->full64 ? formatSerial64(entered->value) : formatSerial32(static_cast<std::uint32_t>(entered->value));
    const std::wstring oldText = entered->full64 && volume.fullSerial ? formatSerial64(*volume.fullSerial)
                                                                      : formatSerial32(volume.serial);
    if (!confirm(state, L"Change the Volume Serial Number?",
                 confirmationText(drive, volume.fileSystem, oldText, newText) + confirmationWarnings(volume, drive),
                 L"Change"))
        return;

    ElevatedRequest request;
    request.volume = volume.volume;
    request.serial = entered->value;
    request.full64 = entered->full64;
    presentResult(state, runMarked(state, request), volume);
}

void restoreFromFileFlow(WindowState& state, bool raw) {
    if (!selectedVolumeInfo(state)) {
        inform(state, TaskIcon::Information, L"Select a volume first",
               L"Choose the volume to restore in the list, then try again.");
        return;
    }
    std::wstring file(32768, L'\0');  // the longest path Windows has
    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = state.mainWindow;
    dialog.lpstrFilter = L"Boot-sector backups (*.tlxbak)\0*.tlxbak\0All files (*.*)\0*.*\0";
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = file.data();
    dialog.nMaxFile = static_cast<DWORD>(file.size());
    dialog.lpstrTitle = raw ? L"Recover boot sectors from a backup" : L"Restore a serial from a backup";
    dialog.lpstrInitialDir = isFolder(state.backupsFolder) ? state.backupsFolder.c_str() : nullptr;
    // The current folder stays where it is: on the chosen file's drive it would keep that drive in use.
    dialog.Flags = OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST | OFN_NOCHANGEDIR;
    if (!GetOpenFileNameW(&dialog)) return;

    const std::wstring path = file.c_str();
    const BackupReadResult read = readBackupFile(path);
    if (read.parseError != BackupParseError::None || !read.fileDigest) {
        const BackupParseError error = read.fileDigest ? read.parseError : BackupParseError::ChecksumMismatch;
        inform(state, TaskIcon::Error, L"This backup file can't be used", unusableBackupContent(path, error));
        return;
    }
    restoreFlow(state, read.backup, path, *read.fileDigest, raw, false);
}

void restoreFlow(WindowState& state, const BootSectorBackup& backup, const std::wstring& path,
                 const Sha256Digest& digest, bool raw, bool preconfirmed) {
    const VolumeInfo* selected = selectedVolumeInfo(state);
    if (!selected) return;
    const VolumeInfo volume = *selected;
    const std::wstring drive = listDriveText(volume);
    if (!preconfirmed) {
        const std::wstring content =
            restoreQuestionContent(drive, path, backup, raw, toLocalTime) + confirmationWarnings(volume, drive);
        if (!confirm(state, raw ? L"Recover the boot sectors?" : L"Restore the serial?", content,
                     raw ? L"Recover" : L"Restore"))
            return;
    }

    ElevatedRequest request;
    request.volume = volume.volume;
    request.backupFile = path;
    request.backupDigest = digest;
    request.raw = raw;
    const std::optional<ElevatedResult> result = runRestore(
        request, preconfirmed, [&](const ElevatedRequest& r) { return runMarked(state, r); },
        [&](RestoreQuestion question) {
            if (question == RestoreQuestion::DifferentVolume)
                return confirm(state, L"This backup is from a different volume", differentVolumeContent(drive, backup),
                               L"Restore Serial");
            return confirm(state, L"The drive's boot sector can't be recognized", unrecognizedBootSectorContent(drive),
                           L"Write Anyway");
        });
    if (result) presentResult(state, *result, volume);
}

void presentResult(WindowState& state, const ElevatedResult& result, const VolumeInfo& volume) {
    ResultPresentation shown = presentation(result, listDriveText(volume), state.backupsFolder);
    // The elevated instance is this same file: run from the drive it changes, it keeps that drive in use.
    if (result.ran && result.change.error == ApplyFailure::VolumeInUse && programRunsFrom(volume.volume))
        shown.content += L"\n\n" + runningFromVolumeText(listDriveText(volume), programPath());
    if (!shown.show) return;
    if (shown.pending == PendingRestartChange::Set) state.pendingRestarts[volume.volume] = shown.pendingSerial;
    if (shown.pending == PendingRestartChange::Remove) state.pendingRestarts.erase(volume.volume);
    if (shown.refresh) refreshVolumes(state);

    TaskMessage message;
    message.icon = taskIcon(shown.icon);
    message.mainInstruction = shown.mainInstruction;
    message.content = shown.content;
    for (const DialogButton& button : shown.buttons) message.buttons.push_back({button.id, button.text});
    message.defaultButton = shown.defaultButton;
    const int pressed = showTaskMessage(state.mainWindow, message);

    if (pressed == kRestartNowButton) {
        if (!restartWindows())
            inform(state, TaskIcon::Warning, L"Windows didn't restart", L"Please restart your computer yourself to finish.");
    } else if (pressed == kRecoverNowButton) {
        // Written moments ago by the elevated instance; anything else in its place is not written unasked.
        const BackupReadResult read = readBackupFile(result.backupPath);
        if (read.parseError == BackupParseError::None && usableForRecoverNow(result, state.backupsFolder, read.fileDigest))
            restoreFlow(state, read.backup, result.backupPath, *read.fileDigest, true, true);
    }
}

}  // namespace tlx::win
