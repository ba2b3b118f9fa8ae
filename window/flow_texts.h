#pragma once
// What the change, restore and recover flows say: confirmations, their questions, and how a result is shown.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "backup/backup_file.h"
#include "catalog/volume_info.h"
#include "elevated_request.h"
#include "platform/system.h"

namespace tlx {

// Turns a UTC time into local time in place; false leaves it as it was.
using LocalTimeConversion = std::function<bool(UtcTime&)>;

// A backup's created value as local "YYYY-MM-DD HH:MM", or the stored text when it cannot be read.
[[nodiscard]] std::wstring createdText(const std::string& created, const LocalTimeConversion& toLocal);

// The warnings after a confirmation's first sentence, each after a blank line: Windows drive,
// BitLocker, EFI system partition.
[[nodiscard]] std::wstring confirmationWarnings(const VolumeInfo& volume, const std::wstring& drive);

// The content of the "This backup file can't be used" dialog of the file flow.
[[nodiscard]] std::wstring unusableBackupContent(const std::wstring& path, BackupParseError error);

// restoreFlow's first question, warnings not included.
[[nodiscard]] std::wstring restoreQuestionContent(const std::wstring& drive, const std::wstring& path,
                                                  const BootSectorBackup& backup, bool raw,
                                                  const LocalTimeConversion& toLocal);
[[nodiscard]] std::wstring differentVolumeContent(const std::wstring& drive, const BootSectorBackup& backup);
[[nodiscard]] std::wstring unrecognizedBootSectorContent(const std::wstring& drive);

enum class DialogIcon : std::int32_t { Information = 0, Warning = 1, Error = 2 };

inline constexpr int kRestartNowButton = 110;
inline constexpr int kRestartLaterButton = 111;
inline constexpr int kRecoverNowButton = 120;
inline constexpr int kRecoverLaterButton = 121;

struct DialogButton {
    int id = 0;
    std::wstring text;
};

enum class PendingRestartChange : std::int32_t { Keep = 0, Set = 1, Remove = 2 };

// How presentResult shows a result and what it changes around the dialog.
struct ResultPresentation {
    bool show = false;     // false only for a declined elevation prompt
    bool refresh = false;  // refresh the volumes before the dialog, so the window shows the new state
    DialogIcon icon = DialogIcon::Error;
    std::wstring mainInstruction;
    std::wstring content;
    std::vector<DialogButton> buttons;  // empty: the common OK button
    int defaultButton = 0;              // 0: the dialog's own default
    PendingRestartChange pending = PendingRestartChange::Keep;
    std::uint64_t pendingSerial = 0;  // with Set: the serial written in place
};

[[nodiscard]] ResultPresentation presentation(const ElevatedResult& result, const std::wstring& drive,
                                              const std::wstring& backupsFolder);

// The per-volume folder Explorer opens: backupsFolder plus the "Volume{...}" part of the volume name;
// backupsFolder itself when the name has none.
[[nodiscard]] std::wstring volumeBackupFolder(const std::wstring& backupsFolder, const std::wstring& volumeName);
[[nodiscard]] std::wstring noBackupsContent(const std::wstring& backupsFolder);

// The three columns of the backups list: Created, Change, File.
struct BackupRowTexts {
    std::wstring created;
    std::wstring change;
    std::wstring file;
};
[[nodiscard]] BackupRowTexts backupRowTexts(const std::wstring& path, const BootSectorBackup& backup,
                                            const LocalTimeConversion& toLocal);

// The extra paragraph of a volume-in-use result when Dravik's own program file lies on that drive.
[[nodiscard]] std::wstring runningFromVolumeText(const std::wstring& drive, const std::wstring& program);

}  // namespace tlx
