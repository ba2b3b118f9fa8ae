#pragma once
// What the window asks its elevated instance to do, and what comes back.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "backup/backup_file.h"
#include "backup/sha256.h"
#include "engine/change_result.h"

namespace tlx {

enum class ElevatedOperation : std::int32_t { Change = 0, Restore = 1 };

struct ElevatedRequest {
    ElevatedOperation operation = ElevatedOperation::Change;
    std::wstring volume;  // volume GUID path with its trailing backslash
    // change
    VolumeSerial serial = 0;
    bool full64 = false;  // otherwise an 8-byte serial keeps its upper half
    // restore
    std::wstring backupFile;
    Sha256Digest backupDigest{};  // of the file the user confirmed; any other bytes are refused
    bool raw = false;              // write the saved sectors back exactly
    bool force = false;            // raw: also when the current boot sector cannot be compared
    bool skipVolumeCheck = false;  // not raw: do not refuse a backup of another volume
};

struct ElevatedResult {
    bool ran = false;
    bool cancelled = false;         // parent only: the user declined the elevation prompt
    std::uint32_t launchError = 0;  // parent only: the child did not start or its result was unreadable
    bool differentVolume = false;
    BackupParseError parseError = BackupParseError::None;
    ChangeResult change;
    std::wstring backupPath;
    std::optional<Sha256Digest> backupDigest;  // of the file at backupPath
    std::uint32_t backupError = 0;
};

inline constexpr std::wstring_view kElevatedOption = L"--elevated-op";
inline constexpr std::wstring_view kResultExtension = L".tlxresult";

// "Dravik-<pid>-<ms>.tlxresult": unique per parent process and millisecond.
[[nodiscard]] std::wstring resultFileName(std::uint32_t processId, std::uint64_t milliseconds);

// The parameters after the executable's path: "--elevated-op" "result" change|restore ...; a restore
// carries the backup file's SHA-256 in hex after its path.
[[nodiscard]] std::wstring childParameters(const std::wstring& resultFile, const ElevatedRequest& request);

struct ChildArguments {
    std::wstring resultFile;
    ElevatedRequest request;
};

// argv as split by the system, argv[1] being "--elevated-op". Absent when anything is off, before any
// file is touched. A serial must be 1 to 16 hexadecimal digits: a stray text never becomes serial 0; a
// backup digest exactly 64.
[[nodiscard]] std::optional<ChildArguments> parseChildArguments(const std::vector<std::wstring>& argv);

// What the child may write to: a volume GUID path ("\\?\Volume{GUID}\") or a drive root ("E:\"), or else a
// disk-image file, only when it already holds a boot sector detectBootSector recognises and never with
// force: another program's file is not a drive.
[[nodiscard]] bool namesVolumeOrDriveRoot(std::wstring_view volume);
[[nodiscard]] bool childMayWriteImage(const ElevatedRequest& request, bool holdsRecognisedBootSector);

}  // namespace tlx
