#pragma once
// The commands of qorin, each returning its exit code, and the texts and JSON they print.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "backup/backup_store.h"
#include "bootsector/serial.h"
#include "catalog/report.h"
#include "catalog/volume_info.h"
#include "command_line.h"
#include "engine/change_result.h"

namespace tlx {

int listCommand(const CommandLine& line);
int getCommand(const CommandLine& line);
int setCommand(const CommandLine& line);
int randomCommand(const CommandLine& line);
int backupsCommand(const CommandLine& line);
int restoreCommand(const CommandLine& line);

// The volume a drive argument names, or nothing after its line on standard error (exit code 2): the
// not-found line, or for a whole disk the partitions it holds.
[[nodiscard]] std::optional<VolumeInfo> findDrive(const std::wstring& argument);
// Before a change or restore asks anything: the root line (3), a read-only volume (1), a path a backup
// can't record (1); 0 when the command may go on.
[[nodiscard]] int refusalBeforeWriting(const VolumeInfo& info);
// get on Linux without read access to the device.
[[nodiscard]] std::wstring readingNeedsRootText(const std::wstring& drive);
// Confirms (unless --yes), changes with a file backup, reports; the common part of set and random.
int changeFlow(const CommandLine& line, const VolumeInfo& info, VolumeSerial newSerial);
// Shared by the commands that write: the administrator line, the backup sink, printing the outcome.
[[nodiscard]] std::wstring administratorText();  // in the platform's words
[[nodiscard]] std::wstring administratorText(Wording wording);
// A volume whose path or first mount point holds a line feed can't be recorded in a backup file,
// so the commands that write refuse it before asking anything.
[[nodiscard]] bool pathsRecordable(const VolumeInfo& info);
[[nodiscard]] std::wstring lineBreakInPathText();
[[nodiscard]] FileBackupSink backupSinkFor(const CommandLine& line, const VolumeInfo& info);
// The folder a failed save names: the one refused as untrusted, else the backups folder.
[[nodiscard]] std::wstring savedToFolder(const CommandLine& line, const FileBackupSink& sink);
// An in-use report gets one more line when qorin itself runs from that volume.
void addInUseLine(OutcomeReport& report, const ChangeResult& result, const VolumeInfo& info,
                  const std::wstring& drive);
// Text lines (standard error unless the exit code is 0) or the JSON object; returns the exit code.
int printOutcome(const CommandLine& line, const std::wstring& drive, const ChangeResult& result,
                 const OutcomeReport& report, const std::wstring& backupPath);
// "To recover, run:  qorin restore D \"B\" --raw".
[[nodiscard]] std::wstring recoverHint(const std::wstring& drive, const std::wstring& backupPath);

// Pure builders, so the exact texts can be checked without devices.
[[nodiscard]] std::wstring volumeJson(const VolumeInfo& info);
// The volume object extended by "fullSerial" and "encryption" (null when empty); "sameSerialAs" stays last.
[[nodiscard]] std::wstring getJson(const VolumeInfo& info, const std::wstring& fullSerial,
                                   const std::wstring& encryption);
// In the platform's words and layout, or in the given ones.
[[nodiscard]] std::vector<std::wstring> listLines(const std::vector<VolumeInfo>& volumes);
[[nodiscard]] std::vector<std::wstring> listLines(const std::vector<VolumeInfo>& volumes, Wording wording);
[[nodiscard]] std::vector<std::wstring> getLines(const VolumeInfo& info, const std::wstring& fullSerial,
                                                 const std::wstring& encryption);
[[nodiscard]] std::vector<std::wstring> getLines(const VolumeInfo& info, const std::wstring& fullSerial,
                                                 const std::wstring& encryption, Wording wording);
[[nodiscard]] std::wstring changeResultJson(const std::wstring& drive, const ChangeResult& result,
                                            const OutcomeReport& report, const std::wstring& backupPath);
[[nodiscard]] std::wstring backupJson(const BackupListEntry& entry);
[[nodiscard]] std::wstring backupsJson(const std::vector<BackupListEntry>& entries);
// key: the name the backups are kept under when it is not the volume typed (a loop device's image).
[[nodiscard]] std::vector<std::wstring> backupsLines(const std::vector<BackupListEntry>& entries,
                                                     const std::wstring& argument, const std::wstring& backupDir,
                                                     const std::wstring& key = {});
// The lines before "Change the serial?": the confirmation and the warnings that apply, in their order.
// Lines, not one text: a terminal shows a line break inside a label or path as "?".
[[nodiscard]] std::vector<std::wstring> changeQuestion(const VolumeInfo& info, VolumeSerial newSerial, bool full64, bool bitLocker);
// The lines of the question before a restore; match is the BackupMatch of the volume against the backup.
[[nodiscard]] std::vector<std::wstring> restoreQuestion(const std::wstring& drive, const std::wstring& path,
                                                        const BootSectorBackup& backup, bool raw, bool force, std::int32_t match,
                                                        bool bitLocker);
// "The backup file P can't be used: Name[ (system text)]."
[[nodiscard]] std::wstring unusableBackupText(const std::wstring& path, const BackupReadResult& read);
// The serial-syntax line of set.
[[nodiscard]] std::wstring notASerialText(const std::wstring& argument, bool full64);

}  // namespace tlx
