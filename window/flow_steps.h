#pragma once
// The order of a restore: the operation, then the second questions that may run it again.
#include <functional>
#include <optional>

#include "elevated_request.h"

namespace tlx {

enum class RestoreQuestion : std::int32_t {
    DifferentVolume = 0,         // the backup belongs to another volume: restore the serial anyway?
    UnrecognizedBootSector = 1,  // raw: the boot sector cannot be checked against the backup: write anyway?
};

using RunRequest = std::function<ElevatedResult(const ElevatedRequest&)>;
using AskQuestion = std::function<bool(RestoreQuestion)>;

// Runs request (a restore; force is taken from preconfirmed). A backup of another volume is run again with
// the volume check skipped once the user agrees; a raw recovery whose boot sector cannot be compared is run
// again with force once the user agrees, unless it was preconfirmed. Absent when a question was declined:
// then nothing is to be shown.
[[nodiscard]] std::optional<ElevatedResult> runRestore(ElevatedRequest request, bool preconfirmed,
                                                       const RunRequest& run, const AskQuestion& ask);

// True when path names an entry below folder (a Windows path, compared ignoring case) without "." or ".."
// steps, forward slashes or stream names that could lead out of it.
[[nodiscard]] bool liesInFolder(const std::wstring& path, const std::wstring& folder);
// "Recover Now" writes, without asking, the backup a failed change reports: only one inside the backups
// folder, and only while the file there (onDisk) is the very file the elevated instance wrote (reported).
[[nodiscard]] bool usableForRecoverNow(const ElevatedResult& result, const std::wstring& backupsFolder,
                                       const std::optional<Sha256Digest>& onDisk);

}  // namespace tlx
